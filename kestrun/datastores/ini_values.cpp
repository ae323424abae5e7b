#include "kestrun/datastores/ini_values.h"

#include "kestrun/datastores/profile.h"
#include "kestrun/interop/codepage.h"
#include "kestrun/interop/strings.h"

#include <array>

namespace kestrun::datastores {
namespace {

// Characters a read takes when the value has no companion length.
constexpr int32_t kDefaultLength = 256;

std::u16string ProfilePath(std::string_view file) {
    return interop::AnsiToWide(interop::ResolveLibraryPath(interop::UpToZero(file)));
}

std::u16string Decimal(size_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

} // namespace

std::u16string CompanionKey(std::u16string_view key) {
    std::u16string companion(TrimBlanks(key));
    companion += u"[Len]";
    return companion;
}

std::string ReadIniValue(std::string_view section, std::string_view key,
                         std::string_view defaultValue, std::string_view file) {
    const std::u16string wideSection = interop::AnsiToWide(section);
    const std::u16string wideKey = interop::AnsiToWide(key);
    // Both look-ups read the same contents, so a write in between cannot pair a new length
    // with an old value.
    const platform::ProfileSnapshot profile(ProfilePath(file));
    // The length only limits the copy; nothing is allocated by it, so any number is harmless.
    const uint32_t length = profile.GetInt(wideSection, CompanionKey(wideKey), kDefaultLength);
    return interop::WideToAnsi(profile.GetString(wideSection, wideKey,
                                                 interop::AnsiToWide(defaultValue),
                                                 static_cast<uint64_t>(length) + 1));
}

bool WriteIniValue(std::string_view section, std::string_view key, std::string_view value,
                   std::string_view file) {
    const std::u16string wideKey = interop::AnsiToWide(key);
    const std::u16string companion = CompanionKey(wideKey);
    const std::u16string length = Decimal(interop::UpToZero(value).size());
    const std::u16string wideValue = interop::AnsiToWide(value);
    const std::array<platform::ProfileEntry, 2> entries{platform::ProfileEntry{companion, length},
                                                        platform::ProfileEntry{wideKey, wideValue}};
    return platform::WritePrivateProfileEntriesW(interop::AnsiToWide(section), entries,
                                                 ProfilePath(file));
}

} // namespace kestrun::datastores
