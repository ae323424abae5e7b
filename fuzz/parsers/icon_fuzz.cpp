// The icon decoder behind SetFormIcon: every image it yields must be within the size limits and
// hold exactly its pixels, no more images than the directory lists, and the images written back
// as a new icon file (32-bit entries with an AND mask) must decode to the same pixels.
#include "fuzz_input.h"

#include "kestrun/imaging/icon_codec.h"
#include "kestrun/imaging/le_bytes.h"

#include <string>
#include <vector>

namespace {

using fuzzing::Fail;
using namespace kestrun::imaging;

constexpr const char *kTarget = "icon";

// An icon file of 32-bit bitmap entries: alpha taken from the image, and the mask marking the
// fully transparent pixels, as icon editors write both.
std::string EncodeIcon(const std::vector<Raster> &images) {
    std::string header;
    le::PutU16(header, 0);
    le::PutU16(header, 1);
    le::PutU16(header, static_cast<uint16_t>(images.size()));
    std::string bodies;
    const size_t directoryEnd = 6 + 16 * images.size();
    for (const Raster &r : images) {
        std::string entry;
        le::PutU32(entry, 40);
        le::PutI32(entry, static_cast<int32_t>(r.width));
        le::PutI32(entry, static_cast<int32_t>(r.height * 2));
        le::PutU16(entry, 1);
        le::PutU16(entry, 32);
        for (int i = 0; i < 6; ++i) {
            le::PutU32(entry, 0);
        }
        for (uint32_t y = r.height; y-- > 0;) {
            for (uint32_t x = 0; x < r.width; ++x) {
                const uint8_t *p = &r.rgba[(uint64_t{y} * r.width + x) * 4];
                entry += static_cast<char>(p[2]);
                entry += static_cast<char>(p[1]);
                entry += static_cast<char>(p[0]);
                entry += static_cast<char>(p[3]);
            }
        }
        const uint64_t maskRow = (uint64_t{r.width} + 31) / 32 * 4;
        for (uint32_t y = r.height; y-- > 0;) {
            std::string row(maskRow, '\0');
            for (uint32_t x = 0; x < r.width; ++x) {
                if (r.rgba[(uint64_t{y} * r.width + x) * 4 + 3] == 0) {
                    row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
                }
            }
            entry += row;
        }
        header += static_cast<char>(r.width >= 256 ? 0 : r.width);
        header += static_cast<char>(r.height >= 256 ? 0 : r.height);
        header += std::string(2, '\0');
        le::PutU16(header, 1);
        le::PutU16(header, 32);
        le::PutU32(header, static_cast<uint32_t>(entry.size()));
        le::PutU32(header, static_cast<uint32_t>(directoryEnd + bodies.size()));
        bodies += entry;
    }
    return header + bodies;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view file(reinterpret_cast<const char *>(data), size);
    const std::vector<Raster> images = DecodeIcon(file);
    if (images.empty()) {
        return 0;
    }
    if (file.size() < 6 || images.size() > le::U16(file, 4)) {
        Fail(kTarget, "more images than the directory lists");
    }
    uint64_t total = 0;
    for (const Raster &r : images) {
        const uint64_t pixels = uint64_t{r.width} * r.height;
        if (r.width == 0 || r.height == 0 || pixels > kMaxIconPixels) {
            Fail(kTarget, "image size outside the limits");
        }
        if (r.rgba.size() != pixels * 4) {
            Fail(kTarget, "pixel buffer does not match the size");
        }
        total += pixels;
    }
    if (total > kMaxIconFilePixels) {
        Fail(kTarget, "more pixels than a file may yield");
    }
    const std::vector<Raster> again = DecodeIcon(EncodeIcon(images));
    if (again.size() != images.size()) {
        Fail(kTarget, "an icon written back lost images");
    }
    for (size_t i = 0; i < images.size(); ++i) {
        if (again[i].width != images[i].width || again[i].height != images[i].height ||
            again[i].rgba != images[i].rgba) {
            Fail(kTarget, "an icon written back changed its pixels");
        }
    }
    return 0;
}
