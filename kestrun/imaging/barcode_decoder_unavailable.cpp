// The barcode decoder of a build made without zxing-cpp (a Windows build whose library prefix
// lacks it): every scan reports that the reader is missing.
#include "kestrun/imaging/barcode_decoder.h"

#include "kestrun/imaging/barcode_errors.h"

namespace kestrun::imaging::barcode {

std::string DecodeLuminance(const std::vector<uint8_t> &, int, int, bool) {
    throw Exception("the barcode reader is not part of this build of Kestrun.dll");
}

} // namespace kestrun::imaging::barcode
