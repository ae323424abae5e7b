// SetFormIcon and LoadPNG on Windows, on windows the test makes itself: icons read back with
// WM_GETICON, painting read back pixel by pixel.
#include "test_images.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>

using imaging_test::ScratchDir;
using imaging_test::WriteFile;
using vbhost::Gbk;

namespace {

// An icon file with one 32 x 32 image of 32 bits per pixel, all of `bgra`.
std::string SolidIcon(uint32_t bgra) {
    std::string out;
    const auto u16 = [&](uint16_t v) { out.append({char(v & 0xFF), char(v >> 8)}); };
    const auto u32 = [&](uint32_t v) {
        u16(uint16_t(v & 0xFFFF));
        u16(uint16_t(v >> 16));
    };
    const uint32_t colourBytes = 32 * 32 * 4;
    const uint32_t maskBytes = 32 * 4;
    u16(0);
    u16(1);
    u16(1);
    out.append({char(32), char(32), char(0), char(0)});
    u16(1);
    u16(32);
    u32(40 + colourBytes + maskBytes);
    u32(22);
    u32(40);
    u32(32);
    u32(64); // colour and mask heights together
    u16(1);
    u16(32);
    for (int i = 0; i < 6; ++i) {
        u32(0);
    }
    for (uint32_t i = 0; i < 32 * 32; ++i) {
        u32(bgra);
    }
    out.append(maskBytes, '\0');
    return out;
}

struct WindowDestroyer {
    void operator()(HWND window) const { DestroyWindow(window); }
};
using WindowOwner = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// A plain top-level window with the given client size and owner, not shown.
WindowOwner MakeWindow(HWND owner, int width, int height) {
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    return WindowOwner(CreateWindowExW(0, L"STATIC", L"kestrun test", WS_OVERLAPPEDWINDOW, 0, 0,
                                       frame.right - frame.left, frame.bottom - frame.top, owner,
                                       nullptr, GetModuleHandleW(nullptr), nullptr));
}

HICON IconOf(HWND window, WPARAM which) {
    return reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0));
}

// The folder Kestrun.dll lies in (where bare skin folder names are looked up), as ANSI text.
std::string LibraryFolder() {
    HMODULE module = GetModuleHandleW(L"Kestrun.dll");
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    std::string folder(path, n);
    return folder.substr(0, folder.rfind('\\') + 1);
}

intptr_t Handle(HWND window) {
    return reinterpret_cast<intptr_t>(window);
}

} // namespace

TEST(WindowsImaging, SetFormIconGivesWindowAndOwnerTheIcon) {
    const WindowOwner owner = MakeWindow(nullptr, 120, 80);
    if (!owner) {
        GTEST_SKIP() << "Wine could not create a window here (error " << GetLastError() << ")";
    }
    const WindowOwner form = MakeWindow(owner.get(), 120, 80);
    ASSERT_TRUE(form);
    ASSERT_EQ(GetWindow(form.get(), GW_OWNER), owner.get());

    ScratchDir dir;
    WriteFile(dir / Gbk("图标.ico"), SolidIcon(0xFF3366CC));
    intptr_t handle = Handle(form.get());
    vbhost::String icon(Gbk("图标.ico"));
    vbhost::String folder(dir.path()); // a path with backslashes: used as it is
    SetFormIcon(&handle, icon.ref(), folder.ref());
    const HICON small = IconOf(form.get(), ICON_SMALL);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(IconOf(form.get(), ICON_BIG), small);
    EXPECT_EQ(IconOf(owner.get(), ICON_SMALL), small);
    EXPECT_EQ(IconOf(owner.get(), ICON_BIG), small);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(small, &info));
    BITMAP colour{};
    GetObjectW(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, 32); // loaded at the file's own size
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);

    // A missing file removes the icons of both windows.
    vbhost::String missing("none.ico");
    SetFormIcon(&handle, missing.ref(), folder.ref());
    EXPECT_EQ(IconOf(form.get(), ICON_SMALL), nullptr);
    EXPECT_EQ(IconOf(form.get(), ICON_BIG), nullptr);
    EXPECT_EQ(IconOf(owner.get(), ICON_BIG), nullptr);

    // A bare folder name is a folder under Skin beside the library.
    const std::string skin = LibraryFolder() + "Skin\\" + Gbk("蓝色");
    ASSERT_TRUE(CreateDirectoryA((LibraryFolder() + "Skin").c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryA(skin.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    WriteFile(skin + "\\app.ico", SolidIcon(0xFF00FF00));
    intptr_t ownerHandle = Handle(owner.get());
    vbhost::String app("app.ico");
    vbhost::String bare(Gbk("蓝色"));
    SetFormIcon(&ownerHandle, app.ref(), bare.ref()); // a window without an owner
    std::error_code ignored;
    std::filesystem::remove_all(LibraryFolder() + "Skin", ignored);
    EXPECT_NE(IconOf(owner.get(), ICON_SMALL), nullptr);
    EXPECT_EQ(IconOf(form.get(), ICON_SMALL), nullptr);

    // Null and stale handles are ignored.
    SetFormIcon(nullptr, app.ref(), bare.ref());
    intptr_t zero = 0;
    SetFormIcon(&zero, nullptr, nullptr);
    intptr_t stale = 0x7FFF1234;
    SetFormIcon(&stale, icon.ref(), folder.ref());
}

TEST(WindowsImaging, LoadPngPaintsTheImageOntoTheWindow) {
    const WindowOwner form = MakeWindow(nullptr, 100, 60);
    if (!form) {
        GTEST_SKIP() << "Wine could not create a window here (error " << GetLastError() << ")";
    }
    ShowWindow(form.get(), SW_SHOWNOACTIVATE);
    UpdateWindow(form.get()); // its own painting is done before the image goes on
    ScratchDir dir;
    WriteFile(dir / Gbk("背景.png"), imaging_test::EncodePng(imaging_test::Quadrants(20, 10)));
    intptr_t handle = Handle(form.get());
    vbhost::String image(Gbk("背景.png"));
    vbhost::String folder(dir.path());
    // Own size at (0, 0), then stretched to 80 wide at (10, 40) with the image's own height.
    LoadPNG(&handle, image.ref(), -1, -1, -1, -1, folder.ref());
    LoadPNG(&handle, image.ref(), 10, 40, 80, -1, folder.ref());

    const HDC dc = GetDC(form.get());
    ASSERT_NE(dc, nullptr);
    const COLORREF probe = GetPixel(dc, 2, 2);
    const auto pixel = [&](int x, int y) { return GetPixel(dc, x, y); };
    const COLORREF values[] = {pixel(2, 2),   pixel(17, 2),  pixel(2, 7),   pixel(17, 7),
                               pixel(30, 42), pixel(80, 42), pixel(30, 48), pixel(80, 48)};
    ReleaseDC(form.get(), dc);
    if (probe == CLR_INVALID) {
        GTEST_SKIP() << "this Wine display cannot read pixels back from a window";
    }
    EXPECT_EQ(values[0], RGB(255, 0, 0));
    EXPECT_EQ(values[1], RGB(0, 255, 0));
    EXPECT_EQ(values[2], RGB(0, 0, 255));
    EXPECT_EQ(values[3], RGB(255, 255, 255));
    EXPECT_EQ(values[4], RGB(255, 0, 0)); // the left half of the stretched copy
    EXPECT_EQ(values[5], RGB(0, 255, 0));
    EXPECT_EQ(values[6], RGB(0, 0, 255));
    EXPECT_EQ(values[7], RGB(255, 255, 255));

    // Missing files, null handles and absurd rectangles draw nothing and do not fail.
    vbhost::String missing("none.png");
    LoadPNG(&handle, missing.ref(), -1, -1, -1, -1, folder.ref());
    LoadPNG(&handle, image.ref(), -5000, 7, -30, 0x7FFFFFFF, folder.ref());
    LoadPNG(nullptr, image.ref(), -1, -1, -1, -1, folder.ref());
    intptr_t zero = 0;
    LoadPNG(&zero, nullptr, -1, -1, -1, -1, nullptr);
}
