// Icon files (.ico): every image of the file, decoded to RGBA. Bitmap entries of 1, 4, 8, 24 and
// 32 bits per pixel take their transparency from the AND mask (32-bit entries from their alpha
// channel, or from the mask when every alpha byte is zero); PNG entries go through the imaging
// layer's decoder.
#pragma once

#include "kestrun/imaging/raster.h"

#include <string_view>
#include <vector>

namespace kestrun::imaging {

// The largest single icon image accepted (pixels) and the most pixels one file may yield in all.
inline constexpr uint64_t kMaxIconPixels = uint64_t{1} << 20;
inline constexpr uint64_t kMaxIconFilePixels = uint64_t{1} << 22;

// The images of an icon file in directory order; entries that cannot be decoded are skipped. A
// file that is not an icon file, or has no usable entry, gives an empty list.
std::vector<Raster> DecodeIcon(std::string_view file);

} // namespace kestrun::imaging
