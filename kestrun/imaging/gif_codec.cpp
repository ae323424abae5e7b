// GIF decoding through giflib: the first frame, read record by record (not slurped, so that a
// file with many or huge frames costs no more than its first one).
#include "kestrun/imaging/image_codecs.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace kestrun::imaging {
namespace {

struct MemoryInput {
    const uint8_t *data;
    size_t size;
    size_t pos;
};

int ReadFromMemory(GifFileType *gif, GifByteType *buffer, int length) {
    auto *input = static_cast<MemoryInput *>(gif->UserData);
    if (length <= 0) {
        return 0;
    }
    const size_t n = std::min(static_cast<size_t>(length), input->size - input->pos);
    std::memcpy(buffer, input->data + input->pos, n);
    input->pos += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType *gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

// Skips the sub-blocks of an extension; false on a read error.
bool SkipExtensionRest(GifFileType *gif, GifByteType *block) {
    while (block != nullptr) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<Raster> DecodeGif(std::string_view file, uint64_t maxPixels) {
    MemoryInput input{reinterpret_cast<const uint8_t *>(file.data()), file.size(), 0};
    int openError = 0;
    const GifHandle gif(DGifOpen(&input, ReadFromMemory, &openError));
    if (gif == nullptr) {
        return std::nullopt;
    }
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
            return std::nullopt;
        }
        if (record == TERMINATE_RECORD_TYPE) {
            return std::nullopt; // no image at all
        }
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType *block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) {
                return std::nullopt;
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
                GraphicsControlBlock gcb{};
                if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) {
                    transparent = gcb.TransparentColor;
                }
            }
            if (!SkipExtensionRest(gif.get(), block)) {
                return std::nullopt;
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) {
            return std::nullopt;
        }
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            return std::nullopt;
        }
        const GifImageDesc &frame = gif->Image;
        const ColorMapObject *map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
        if (map == nullptr || map->Colors == nullptr || frame.Width <= 0 || frame.Height <= 0 ||
            !DimensionsAllowed(uint64_t(frame.Width), uint64_t(frame.Height), maxPixels)) {
            return std::nullopt;
        }
        // The canvas is the logical screen; without one, the frame itself.
        const bool screen = gif->SWidth > 0 && gif->SHeight > 0;
        const int64_t canvasWidth = screen ? gif->SWidth : frame.Width;
        const int64_t canvasHeight = screen ? gif->SHeight : frame.Height;
        const int64_t left = screen ? frame.Left : 0;
        const int64_t top = screen ? frame.Top : 0;
        if (!DimensionsAllowed(uint64_t(canvasWidth), uint64_t(canvasHeight), maxPixels)) {
            return std::nullopt;
        }
        Raster out;
        out.width = static_cast<uint32_t>(canvasWidth);
        out.height = static_cast<uint32_t>(canvasHeight);
        out.components = 4;
        out.rgba.assign(uint64_t{out.width} * out.height * 4, 0);
        std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
        // Interlaced frames store every 8th row from 0, every 8th from 4, every 4th from 2,
        // then every 2nd from 1.
        static constexpr int kStart[] = {0, 4, 2, 1};
        static constexpr int kStep[] = {8, 8, 4, 2};
        const int passes = frame.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const int start = frame.Interlace ? kStart[pass] : 0;
            const int step = frame.Interlace ? kStep[pass] : 1;
            for (int y = start; y < frame.Height; y += step) {
                if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                    return std::nullopt;
                }
                const int64_t cy = top + y;
                if (cy < 0 || cy >= canvasHeight) {
                    continue;
                }
                for (int x = 0; x < frame.Width; ++x) {
                    const int64_t cx = left + x;
                    const int index = line[static_cast<size_t>(x)];
                    if (cx < 0 || cx >= canvasWidth || index == transparent) {
                        continue;
                    }
                    uint8_t *p = out.rgba.data() + (uint64_t(cy) * out.width + uint64_t(cx)) * 4;
                    if (index < map->ColorCount) {
                        p[0] = map->Colors[index].Red;
                        p[1] = map->Colors[index].Green;
                        p[2] = map->Colors[index].Blue;
                    } else {
                        p[0] = p[1] = p[2] = 0; // an index past the colour table
                    }
                    p[3] = 255;
                }
            }
        }
        return out;
    }
}

} // namespace kestrun::imaging
