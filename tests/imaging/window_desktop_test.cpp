// SetFormIcon and LoadPNG on real windows of a private X server: the icon property and the
// painted pixels are read back from the server.
#include "desktop_session.h"
#include "test_images.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <vector>

using imaging_test::ScratchDir;
using imaging_test::WriteFile;
using vbhost::String;

namespace {

struct Free {
    void operator()(void *p) const { std::free(p); }
};

// A client of the test's own: windows to decorate and the means to read them back.
class Client {
public:
    Client() : c_(xcb_connect(nullptr, nullptr)) {
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    }
    ~Client() { xcb_disconnect(c_); }
    bool ok() const { return xcb_connection_has_error(c_) == 0; }

    xcb_window_t Window(uint16_t width, uint16_t height, uint32_t background) {
        const xcb_window_t id = xcb_generate_id(c_);
        const uint32_t values[] = {background};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id, screen_->root, 0, 0, width, height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, XCB_CW_BACK_PIXEL,
                          values);
        xcb_map_window(c_, id);
        Sync();
        return id;
    }

    void SetTransientFor(xcb_window_t window, xcb_window_t owner) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_TRANSIENT_FOR,
                            XCB_ATOM_WINDOW, 32, 1, &owner);
        Sync();
    }

    std::vector<uint32_t> Icon(xcb_window_t window) {
        const char name[] = "_NET_WM_ICON";
        std::unique_ptr<xcb_intern_atom_reply_t, Free> atom(
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr));
        std::unique_ptr<xcb_get_property_reply_t, Free> reply(xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 1 << 20),
            nullptr));
        if (!reply || reply->format != 32) {
            return {};
        }
        const auto *values = static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
        return std::vector<uint32_t>(values,
                                     values + xcb_get_property_value_length(reply.get()) / 4);
    }

    // The pixel at (x, y) as 0xRRGGBB.
    uint32_t PixelAt(xcb_window_t window, int16_t x, int16_t y) {
        std::unique_ptr<xcb_get_image_reply_t, Free> image(xcb_get_image_reply(
            c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, x, y, 1, 1, ~0u), nullptr));
        if (!image || xcb_get_image_data_length(image.get()) < 4) {
            return 0xDEAD;
        }
        const uint8_t *p = xcb_get_image_data(image.get());
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }

    void Sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    xcb_connection_t *c_;
    xcb_screen_t *screen_ = nullptr;
};

std::string IconFile() {
    // One 2 x 2 PNG image entry: red, green / blue, half-transparent white.
    imaging_test::Picture picture{
        2, 2, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 128}};
    const std::string png = imaging_test::EncodePng(picture);
    std::string ico("\0\0\1\0\1\0", 6);
    ico += std::string("\2\2\0\0\1\0\x20\0", 8);
    for (uint32_t v : {uint32_t(png.size()), uint32_t(22)}) {
        for (int s = 0; s < 32; s += 8) {
            ico.push_back(char((v >> s) & 0xFF));
        }
    }
    return ico + png;
}

class WindowDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        session_ = desktop_test::Session::Start({}, whyNot);
        if (!session_) {
            GTEST_SKIP() << whyNot;
        }
        client_ = std::make_unique<Client>();
        ASSERT_TRUE(client_->ok());
    }
    void TearDown() override {
        client_.reset();
        session_.reset();
    }

    std::unique_ptr<desktop_test::Session> session_;
    std::unique_ptr<Client> client_;
};

} // namespace

TEST_F(WindowDesktop, IconGoesToTheWindowAndItsOwnerAndAMissingFileRemovesIt) {
    ScratchDir skin;
    WriteFile(skin / "app.ico", IconFile());
    const xcb_window_t owner = client_->Window(50, 50, 0);
    const xcb_window_t form = client_->Window(50, 50, 0);
    client_->SetTransientFor(form, owner);

    intptr_t handle = form;
    String file("app.ico");
    String folder(skin.path());
    SetFormIcon(&handle, file.ref(), folder.ref());
    const std::vector<uint32_t> expected{2, 2, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x80FFFFFF};
    EXPECT_EQ(client_->Icon(form), expected);
    EXPECT_EQ(client_->Icon(owner), expected);

    String missing("missing.ico");
    SetFormIcon(&handle, missing.ref(), folder.ref());
    EXPECT_TRUE(client_->Icon(form).empty());
    EXPECT_TRUE(client_->Icon(owner).empty());

    // Handles that name no window, and null arguments, change nothing and do not fail.
    intptr_t bogus = 0x7FFFFFF;
    SetFormIcon(&bogus, file.ref(), folder.ref());
    SetFormIcon(nullptr, nullptr, nullptr);
    LoadPNG(&bogus, file.ref(), -1, -1, -1, -1, folder.ref());
    LoadPNG(nullptr, nullptr, -1, -1, -1, -1, nullptr);
}

TEST_F(WindowDesktop, PaintsTheImageScaledAndBlended) {
    ScratchDir skin;
    // 4 x 2: left half red, right half transparent.
    imaging_test::Picture picture{4, 2, std::vector<uint8_t>(4 * 2 * 4, 0)};
    for (unsigned y = 0; y < 2; ++y) {
        for (unsigned x = 0; x < 2; ++x) {
            uint8_t *p = &picture.rgba[(y * 4 + x) * 4];
            p[0] = 255;
            p[3] = 255;
        }
    }
    WriteFile(skin / "logo.png", imaging_test::EncodePng(picture));
    const xcb_window_t form = client_->Window(100, 60, 0x0000FF); // blue background
    intptr_t handle = form;
    String file("logo.png");
    String folder(skin.path());

    LoadPNG(&handle, file.ref(), -1, -1, -1, -1, folder.ref());
    EXPECT_EQ(client_->PixelAt(form, 0, 0), 0xFF0000u);
    EXPECT_EQ(client_->PixelAt(form, 1, 1), 0xFF0000u);
    EXPECT_EQ(client_->PixelAt(form, 3, 0), 0x0000FFu); // transparent part shows the window
    EXPECT_EQ(client_->PixelAt(form, 0, 2), 0x0000FFu); // below the image's own height

    // 40 wide at the image's own height, from (10, 20).
    LoadPNG(&handle, file.ref(), 10, 20, 40, -1, folder.ref());
    EXPECT_EQ(client_->PixelAt(form, 10, 20), 0xFF0000u);
    EXPECT_EQ(client_->PixelAt(form, 22, 21), 0xFF0000u);
    EXPECT_EQ(client_->PixelAt(form, 45, 20), 0x0000FFu);
    EXPECT_EQ(client_->PixelAt(form, 10, 22), 0x0000FFu);

    // A file that does not load draws nothing.
    String missing("missing.png");
    LoadPNG(&handle, missing.ref(), 60, 40, 20, 20, folder.ref());
    EXPECT_EQ(client_->PixelAt(form, 65, 45), 0x0000FFu);
}

TEST(WindowNoDisplay, CallsReturnAtOnce) {
    const char *saved = std::getenv("DISPLAY");
    const std::string keep = saved ? saved : "";
    ::setenv("DISPLAY", ":9999", 1);
    intptr_t handle = 1234;
    String file("a.ico");
    String folder("/nonexistent");
    SetFormIcon(&handle, file.ref(), folder.ref());
    LoadPNG(&handle, file.ref(), -1, -1, -1, -1, folder.ref());
    if (saved) {
        ::setenv("DISPLAY", keep.c_str(), 1);
    } else {
        ::unsetenv("DISPLAY");
    }
}
