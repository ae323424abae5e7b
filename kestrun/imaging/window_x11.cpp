// The window seam on an X11 server through XCB: icons in _NET_WM_ICON, the owner from
// WM_TRANSIENT_FOR, and painting as a RENDER "Over" composite of a 32-bit pixmap. Every error is
// taken per request and dropped: XCB never calls a process-wide handler.
#include "kestrun/imaging/window_seam.h"

#include "kestrun/imaging/window_decor.h"

#include "kestrun/x11/xcb_owned.h"

#include <xcb/render.h>
#include <xcb/xcb_renderutil.h>

#include <algorithm>
#include <vector>

namespace kestrun::imaging::window {
namespace {

using x11::Reply;
using x11::ServerId;
using x11::Succeeded;

// The number of 32-bit values an icon list takes in the property.
uint64_t IconValues(const Raster &image) {
    return 2 + uint64_t(image.width) * image.height;
}

class X11Session final : public Session {
public:
    explicit X11Session(x11::Connection connection) : connection_(std::move(connection)) {}
    ~X11Session() override { xcb_render_util_disconnect(c()); }

    std::optional<WindowId> Owner(WindowId window) override {
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c(), xcb_get_property(c(), 0, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1),
            nullptr));
        if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4) {
            return std::nullopt;
        }
        const auto owner = *static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
        if (owner == XCB_WINDOW_NONE) {
            return std::nullopt;
        }
        return owner;
    }

    void SetIcons(WindowId window, std::span<const Raster> images) override {
        const xcb_atom_t property = x11::InternAtom(c(), "_NET_WM_ICON");
        if (property == XCB_ATOM_NONE) {
            return;
        }
        // The largest images are left out first when the list does not fit one request.
        std::vector<const Raster *> kept;
        for (const Raster &image : images) {
            if (image.width > 0 && image.height > 0 &&
                image.rgba.size() >= uint64_t(image.width) * image.height * 4) {
                kept.push_back(&image);
            }
        }
        const uint64_t room = uint64_t(xcb_get_maximum_request_length(c())) - 16;
        const auto total = [&] {
            uint64_t sum = 0;
            for (const Raster *image : kept) {
                sum += IconValues(*image);
            }
            return sum;
        };
        while (!kept.empty() && total() > room) {
            kept.erase(std::max_element(kept.begin(), kept.end(), [](auto *a, auto *b) {
                return IconValues(*a) < IconValues(*b);
            }));
        }
        if (kept.empty()) {
            Succeeded(c(), xcb_delete_property_checked(c(), window, property));
            return;
        }
        std::vector<uint32_t> values;
        values.reserve(total());
        for (const Raster *image : kept) {
            values.push_back(image->width);
            values.push_back(image->height);
            const uint8_t *p = image->rgba.data();
            for (uint64_t i = 0, n = uint64_t(image->width) * image->height; i < n; ++i, p += 4) {
                values.push_back(uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 |
                                 p[2]);
            }
        }
        Succeeded(c(), xcb_change_property_checked(c(), XCB_PROP_MODE_REPLACE, window, property,
                                                   XCB_ATOM_CARDINAL, 32, uint32_t(values.size()),
                                                   values.data()));
    }

    std::optional<Size> ClientSize(WindowId window) override {
        Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c(), xcb_get_geometry(c(), window), nullptr));
        if (!geometry || geometry->width == 0 || geometry->height == 0) {
            return std::nullopt;
        }
        return Size{geometry->width, geometry->height};
    }

    void Paint(WindowId window, int32_t x, int32_t y, const Raster &premultiplied) override {
        if (premultiplied.width == 0 || premultiplied.height == 0 || premultiplied.width > 0x7FFF ||
            premultiplied.height > 0x7FFF) {
            return;
        }
        const auto *render = xcb_get_extension_data(c(), &xcb_render_id);
        if (render == nullptr || !render->present) {
            return;
        }
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c(), xcb_get_window_attributes(c(), window), nullptr));
        if (!attributes || attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) {
            return;
        }
        const auto *formats = xcb_render_util_query_formats(c());
        if (formats == nullptr) {
            return;
        }
        const auto *windowFormat = xcb_render_util_find_visual_format(formats, attributes->visual);
        const auto *argbFormat =
            xcb_render_util_find_standard_format(formats, XCB_PICT_STANDARD_ARGB_32);
        if (windowFormat == nullptr || argbFormat == nullptr) {
            return;
        }
        const uint16_t width = uint16_t(premultiplied.width);
        const uint16_t height = uint16_t(premultiplied.height);

        ServerId pixmap(c(), xcb_free_pixmap);
        if (!Succeeded(c(),
                       xcb_create_pixmap_checked(c(), 32, pixmap.id(), window, width, height))) {
            return;
        }
        pixmap.Created();
        ServerId gc(c(), xcb_free_gc);
        if (!Succeeded(c(), xcb_create_gc_checked(c(), gc.id(), pixmap.id(), 0, nullptr))) {
            return;
        }
        gc.Created();
        Upload(pixmap.id(), gc.id(), premultiplied);

        ServerId source(c(), xcb_render_free_picture);
        if (!Succeeded(c(), xcb_render_create_picture_checked(c(), source.id(), pixmap.id(),
                                                              argbFormat->id, 0, nullptr))) {
            return;
        }
        source.Created();
        ServerId target(c(), xcb_render_free_picture);
        if (!Succeeded(c(), xcb_render_create_picture_checked(c(), target.id(), window,
                                                              windowFormat->format, 0, nullptr))) {
            return;
        }
        target.Created();
        // The checked composite is answered only after the server has drawn it.
        Succeeded(c(), xcb_render_composite_checked(
                           c(), XCB_RENDER_PICT_OP_OVER, source.id(), XCB_RENDER_PICTURE_NONE,
                           target.id(), 0, 0, 0, 0, int16_t(std::clamp(x, -32768, 32767)),
                           int16_t(std::clamp(y, -32768, 32767)), width, height));
    }

private:
    xcb_connection_t *c() const { return connection_.get(); }

    // Sends the pixels in bands of rows that each fit one request, in the server's byte order.
    void Upload(xcb_pixmap_t pixmap, xcb_gcontext_t gc, const Raster &image) {
        const bool msbFirst = xcb_get_setup(c())->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
        const uint64_t rowBytes = uint64_t(image.width) * 4;
        const uint64_t room = uint64_t(xcb_get_maximum_request_length(c())) * 4 - 64;
        const uint32_t bandRows = uint32_t(std::max<uint64_t>(1, room / rowBytes));
        std::vector<uint8_t> band;
        for (uint32_t y0 = 0; y0 < image.height; y0 += bandRows) {
            const uint32_t rows = std::min(bandRows, image.height - y0);
            band.resize(rowBytes * rows);
            const uint8_t *src = &image.rgba[y0 * rowBytes];
            for (uint64_t i = 0; i < band.size(); i += 4, src += 4) {
                const uint32_t pixel = uint32_t(src[3]) << 24 | uint32_t(src[0]) << 16 |
                                       uint32_t(src[1]) << 8 | src[2];
                for (int b = 0; b < 4; ++b) {
                    const int shift = msbFirst ? 24 - 8 * b : 8 * b;
                    band[i + b] = uint8_t(pixel >> shift);
                }
            }
            Succeeded(c(),
                      xcb_put_image_checked(c(), XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc,
                                            uint16_t(image.width), uint16_t(rows), 0, int16_t(y0),
                                            0, 32, uint32_t(band.size()), band.data()));
        }
    }

    x11::Connection connection_;
};

} // namespace

namespace {

// A window id from the caller's variable: nothing for a null variable, 0, or a value no window id
// can have.
std::optional<WindowId> WindowFrom(const intptr_t *variable) {
    if (variable == nullptr || *variable <= 0 || uint64_t(*variable) > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return WindowId(*variable);
}

} // namespace

std::unique_ptr<Session> OpenSession() {
    auto display = x11::ConnectDisplay();
    if (!display) {
        return nullptr;
    }
    return std::make_unique<X11Session>(std::move(display->connection));
}

void SetFormIconOn(const intptr_t *handle, std::string_view iconFile, std::string_view skinFolder,
                   std::string_view moduleFolder) {
    const auto id = WindowFrom(handle);
    if (!id) {
        return;
    }
    if (auto session = OpenSession()) {
        imaging::SetFormIcon(*session, *id, iconFile, skinFolder, moduleFolder);
    }
}

void LoadPngOn(const intptr_t *handle, std::string_view imageFile, int32_t left, int32_t top,
               int32_t width, int32_t height, std::string_view skinFolder,
               std::string_view moduleFolder) {
    const auto id = WindowFrom(handle);
    if (!id) {
        return;
    }
    if (auto session = OpenSession()) {
        imaging::LoadPng(*session, *id, imageFile, left, top, width, height, skinFolder,
                         moduleFolder);
    }
}

} // namespace kestrun::imaging::window
