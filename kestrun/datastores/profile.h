// The profile functions of the platform (INI files) on a system that has none.
//
// The functions keep the Windows names and meaning; strings are UTF-16, the file name is turned
// into a file-system path as UTF-8. The file layout and its rules are those of IniDocument.
//
// Reads see a complete file: writes never change a file in place. A write takes an exclusive
// lock on the file, reads it, writes the new contents to a temporary file in the same folder,
// flushes it and renames it over the original, so a crash or a full disk leaves the old file
// whole, and writers in other threads or processes never lose each other's entries.
#pragma once

#include "kestrun/datastores/ini_document.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace kestrun::platform {

// The integer stored under the key: leading blanks and an optional sign, then decimal digits
// (a value that is not a number gives 0; a negative one wraps to a large unsigned value, a too
// large one gives 0xFFFFFFFF). `defaultValue` when the file, section or key is missing or the
// value is empty.
uint32_t GetPrivateProfileIntW(std::u16string_view section, std::u16string_view key,
                               int32_t defaultValue, std::u16string_view file);

// The value of the key, or `defaultValue` (without its trailing blanks) when the file, section or
// key is missing, cut to `size` - 1 characters, as if copied into a buffer of `size` characters
// with a terminating zero.
std::u16string GetPrivateProfileStringW(std::u16string_view section, std::u16string_view key,
                                        std::u16string_view defaultValue, uint64_t size,
                                        std::u16string_view file);

// Stores the value under the key, creating the file, the section and the key as needed and
// replacing an existing value. False when nothing was written.
bool WritePrivateProfileStringW(std::u16string_view section, std::u16string_view key,
                                std::u16string_view value, std::u16string_view file);

using ProfileEntry = std::pair<std::u16string_view, std::u16string_view>; // key, value

// As WritePrivateProfileStringW for each entry in turn, but in one replacement of the file: all
// entries are written or none.
bool WritePrivateProfileEntriesW(std::u16string_view section, std::span<const ProfileEntry> entries,
                                 std::u16string_view file);

// One reading of a profile file, for several look-ups that must agree with each other.
class ProfileSnapshot {
public:
    explicit ProfileSnapshot(std::u16string_view file);
    uint32_t GetInt(std::u16string_view section, std::u16string_view key,
                    int32_t defaultValue) const;
    std::u16string GetString(std::u16string_view section, std::u16string_view key,
                             std::u16string_view defaultValue, uint64_t size) const;

private:
    std::optional<datastores::IniDocument> document_; // none when the file cannot be read
};

} // namespace kestrun::platform
