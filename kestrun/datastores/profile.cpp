// The profile functions over the platform's profile files (profile_file.h): look-ups in one
// reading of a file, and writes as one update of it.
#include "kestrun/datastores/profile.h"

#include "kestrun/datastores/profile_file.h"
#include "kestrun/interop/codepage.h"

namespace kestrun::platform {
namespace {

using datastores::IniDocument;

uint32_t ParseProfileInt(std::u16string_view text) {
    text = datastores::TrimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    uint64_t magnitude = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') {
            break;
        }
        magnitude = magnitude * 10 + static_cast<uint64_t>(c - u'0');
        if (magnitude > 0xFFFFFFFFu) {
            magnitude = 0xFFFFFFFFu;
            break;
        }
    }
    const auto value = static_cast<uint32_t>(magnitude);
    return negative ? static_cast<uint32_t>(0u - value) : value;
}

std::u16string_view WithoutTrailingBlanks(std::u16string_view text) {
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

ProfileSnapshot::ProfileSnapshot(std::u16string_view file) : document_(LoadProfileDocument(file)) {}

uint32_t ProfileSnapshot::GetInt(std::u16string_view section, std::u16string_view key,
                                 int32_t defaultValue) const {
    std::optional<std::u16string> value;
    if (document_) {
        value = document_->Find(section, key);
    }
    if (!value || value->empty()) {
        return static_cast<uint32_t>(defaultValue);
    }
    return ParseProfileInt(*value);
}

std::u16string ProfileSnapshot::GetString(std::u16string_view section, std::u16string_view key,
                                          std::u16string_view defaultValue, uint64_t size) const {
    std::optional<std::u16string> value;
    if (document_) {
        value = document_->Find(section, key);
    }
    if (size == 0) {
        return {};
    }
    std::u16string text =
        value ? std::move(*value)
              : std::u16string(WithoutTrailingBlanks(interop::UpToZero(defaultValue)));
    if (text.size() > size - 1) {
        text.resize(static_cast<size_t>(size - 1));
    }
    return text;
}

uint32_t GetPrivateProfileIntW(std::u16string_view section, std::u16string_view key,
                               int32_t defaultValue, std::u16string_view file) {
    return ProfileSnapshot(file).GetInt(section, key, defaultValue);
}

std::u16string GetPrivateProfileStringW(std::u16string_view section, std::u16string_view key,
                                        std::u16string_view defaultValue, uint64_t size,
                                        std::u16string_view file) {
    return ProfileSnapshot(file).GetString(section, key, defaultValue, size);
}

bool WritePrivateProfileStringW(std::u16string_view section, std::u16string_view key,
                                std::u16string_view value, std::u16string_view file) {
    const ProfileEntry entry{key, value};
    return WritePrivateProfileEntriesW(section, std::span<const ProfileEntry>(&entry, 1), file);
}

bool WritePrivateProfileEntriesW(std::u16string_view section, std::span<const ProfileEntry> entries,
                                 std::u16string_view file) {
    for (const auto &[key, value] : entries) {
        if (!IniDocument::Storable(section, key, value)) {
            return false; // refused before the file is touched
        }
    }
    return UpdateProfileDocument(file, [&](IniDocument &document) {
        for (const auto &[key, value] : entries) {
            if (!document.Set(section, key, value)) {
                return false;
            }
        }
        return true;
    });
}

} // namespace kestrun::platform
