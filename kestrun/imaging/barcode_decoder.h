// The barcode decoder (zxing-cpp) over a luminance image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrun::imaging::barcode {

// Decodes the first barcode found in `luminance` (width * height bytes, rows from the top), with
// the local-average (hybrid) binarizer when `hybrid`, otherwise the global-histogram one; every
// supported format, try-harder and rotation off. Returns the symbol's content bytes as stored,
// without character-set conversion. Throws ReaderException with "No code detected" when nothing
// decodes, or with the decoder's description when a symbol was found but is damaged or
// malformed; Exception for a symbol the decoder does not support.
std::string DecodeLuminance(const std::vector<uint8_t> &luminance, int width, int height,
                            bool hybrid);

} // namespace kestrun::imaging::barcode
