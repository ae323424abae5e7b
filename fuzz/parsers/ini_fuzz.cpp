// INI documents: any bytes parse and serialize back unchanged; a value written with its companion
// length into a file holding the document reads back (blanks at its ends aside, as the profile
// functions trim them), its "[Len]" entry holds its length in GBK bytes, every other entry of
// every section reads as before, and a refused write leaves the file as it was. A read of the
// untouched document gives at most as many characters as the companion entry allows.
#include "fuzz_input.h"

#include "kestrun/datastores/ini_document.h"
#include "kestrun/datastores/ini_values.h"
#include "kestrun/interop/codepage.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using fuzzing::Fail;
using kestrun::datastores::CompanionKey;
using kestrun::datastores::IniDocument;
using kestrun::datastores::IniEncoding;
using kestrun::datastores::TrimBlanks;
namespace interop = kestrun::interop;

constexpr const char *kTarget = "ini";
constexpr uint32_t kDefaultLength = 256;

// A folder of this process for the file the exports work on: in memory where the system has
// /dev/shm, since every write flushes the file.
class WorkFolder {
public:
    WorkFolder() {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        folder_ = base / ("kestrun-ini-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
    }
    ~WorkFolder() {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;
    std::string File() const { return (folder_ / "values.ini").string(); }

private:
    std::filesystem::path folder_;
};

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    a = TrimBlanks(a);
    b = TrimBlanks(b);
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Names to look up: every "[section]" and every "key=" of the document's lines, read in the
// document's encoding. Only candidates: a look-up of any name must give the same before and
// after an unrelated write.
std::vector<std::pair<std::u16string, std::u16string>> Names(std::string_view bytes) {
    std::u16string text;
    if (bytes.starts_with("\xFF\xFE")) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        text = interop::Utf8ToWide(bytes.substr(3));
    } else {
        text = interop::AnsiToWide(bytes);
    }
    std::vector<std::pair<std::u16string, std::u16string>> names;
    std::u16string section;
    std::u16string_view rest = text;
    while (!rest.empty()) {
        const size_t feed = rest.find(u'\n');
        const std::u16string_view line = TrimBlanks(rest.substr(0, feed));
        rest.remove_prefix(feed == std::u16string_view::npos ? rest.size() : feed + 1);
        if (line.starts_with(u'[')) {
            section = TrimBlanks(line.substr(1, line.find(u']') - 1));
        } else if (!line.empty() && !line.starts_with(u';')) {
            names.emplace_back(section,
                               std::u16string(TrimBlanks(line.substr(0, line.find(u'=')))));
        }
        if (names.size() >= 64) {
            break;
        }
    }
    return names;
}

// What a text reads back as after it is stored in a document of this encoding.
std::u16string Stored(std::u16string_view text, IniEncoding encoding) {
    switch (encoding) {
    case IniEncoding::Ansi:
        return interop::AnsiToWide(interop::WideToAnsi(text));
    case IniEncoding::Utf8:
        return interop::Utf8ToWide(interop::WideToUtf8(text));
    case IniEncoding::Utf16Le:
        break;
    }
    return std::u16string(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const WorkFolder work;
    fuzzing::FuzzInput input(data, size);
    // Texts as the exports receive them: the bytes of a host string, up to its first zero.
    const std::string section(interop::UpToZero(input.Field()));
    const std::string key(interop::UpToZero(input.Field()));
    const std::string value(interop::UpToZero(input.LongField()));
    const std::string_view document = input.Rest();

    const IniDocument before = IniDocument::Parse(document);
    if (before.Serialize() != document) {
        Fail(kTarget, "a document does not serialize back to its bytes");
    }
    const std::u16string wideSection = interop::AnsiToWide(section);
    const std::u16string wideKey = interop::AnsiToWide(key);
    const std::u16string wideValue = interop::AnsiToWide(value);
    const std::u16string companion = CompanionKey(wideKey);

    const std::string path = work.File();
    WriteFile(path, document);

    // A read of the document as it is: the value (or the default) cut to the recorded length.
    const std::string fallback = "default";
    const std::u16string read =
        interop::AnsiToWide(kestrun::datastores::ReadIniValue(section, key, fallback, path));
    const std::optional<std::u16string> recorded = before.Find(wideSection, companion);
    const std::optional<std::u16string> full = before.Find(wideSection, wideKey);
    const std::u16string whole = full ? *full : std::u16string(u"default");
    // (Converting to GBK and back never gives more characters than it was given.)
    if (read.size() > whole.size()) {
        Fail(kTarget, "a read gave more than the stored value");
    }
    if ((!recorded || recorded->empty()) && read.size() > kDefaultLength) {
        Fail(kTarget, "a read without a length record gave more than 256 characters");
    }

    const bool written = kestrun::datastores::WriteIniValue(section, key, value, path);
    const std::string bytesAfter = ReadFile(path);
    if (!written) {
        if (bytesAfter != document) {
            Fail(kTarget, "a refused write changed the file");
        }
        if (IniDocument::Storable(wideSection, wideKey, wideValue) &&
            IniDocument::Storable(wideSection, companion, u"0")) {
            Fail(kTarget, "a storable value was refused");
        }
        return 0;
    }
    const IniDocument after = IniDocument::Parse(bytesAfter);
    const std::u16string expected = Stored(TrimBlanks(wideValue), after.Encoding());
    if (after.Find(wideSection, wideKey) != expected) {
        Fail(kTarget, "the written value is not in the file");
    }
    const std::string length = std::to_string(value.size());
    if (after.Find(wideSection, companion) != std::u16string(length.begin(), length.end())) {
        Fail(kTarget, "the length record does not hold the value's length");
    }
    const std::string back = kestrun::datastores::ReadIniValue(section, key, fallback, path);
    if (interop::AnsiToWide(back) != Stored(expected, IniEncoding::Ansi)) {
        Fail(kTarget, "the written value does not read back");
    }
    for (const auto &[s, k] : Names(document)) {
        if (SameName(s, wideSection) && (SameName(k, wideKey) || SameName(k, companion))) {
            continue;
        }
        if (before.Find(s, k) != after.Find(s, k)) {
            Fail(kTarget, "a write changed another entry");
        }
    }
    return 0;
}
