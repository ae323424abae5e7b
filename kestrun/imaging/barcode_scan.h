// Reading the first barcode of a PNG or JPEG file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun::imaging {

struct ScanOutcome {
    std::string text;      // the decoded content, empty on failure
    std::string errorText; // empty on success
};

// Scans `fileName` (ANSI path) with the hybrid binarizer when `hybrid`, else the global-histogram
// one. With `utf8` == 1 the content is taken as UTF-8 and converted to GBK, and a leading "?" is
// dropped. The text ends at its first zero byte.
ScanOutcome ScanQRImage(std::string_view fileName, bool hybrid, int32_t utf8);

} // namespace kestrun::imaging
