// Converts text between the encodings the host shows and passes: "UTF-8", "UTF-16LE" and
// "CP936" (GBK). A character the target cannot hold becomes '?'.
#pragma once

#include <string>
#include <string_view>

namespace kestrun_cli {

std::string Convert(const char *to, const char *from, std::string_view in);

} // namespace kestrun_cli
