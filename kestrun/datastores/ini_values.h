// One INI value with a companion length entry: a write records the value's length in GBK bytes
// under the key name followed by "[Len]", and a read takes at most that many characters (256
// when there is no record), so values longer than 256 characters read back whole.
#pragma once

#include <string>
#include <string_view>

namespace kestrun::datastores {

// The companion key of `key`.
std::u16string CompanionKey(std::u16string_view key);

// The value of `key` in `section` of `file` (GBK texts; `file` is resolved against the library
// folder unless absolute), or `defaultValue` when the file, section or key is missing.
std::string ReadIniValue(std::string_view section, std::string_view key,
                         std::string_view defaultValue, std::string_view file);

// Writes the value and its companion length in one replacement of the file. False when nothing
// was written.
bool WriteIniValue(std::string_view section, std::string_view key, std::string_view value,
                   std::string_view file);

} // namespace kestrun::datastores
