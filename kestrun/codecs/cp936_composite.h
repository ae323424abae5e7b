// UTF-16 to code page 936 with the composite check: a base character followed by a combining
// mark becomes the precomposed character where code page 936 has one.
#pragma once

#include <string>
#include <string_view>

namespace kestrun::codecs {

// Replaces each base character + combining mark pair whose precomposed form exists in code
// page 936 by that form, repeatedly (u + U+0308 + U+0301 gives U+01D8). Other units stay as
// they are.
std::u16string ComposeForCp936(std::u16string_view wide);

// ComposeForCp936, then the conversion to code page 936 (named explicitly, not the active code
// page). A character the code page lacks, an unpaired surrogate or a mark left uncomposed becomes
// one "?".
std::string WideToCp936Composite(std::u16string_view wide);

} // namespace kestrun::codecs
