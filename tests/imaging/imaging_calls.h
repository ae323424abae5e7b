// The four imaging exports called as a Visual Basic host calls them, for the export tests.
#pragma once

#include "test_images.h"
#include "vbhost.h"

#include <string>
#include <string_view>

namespace imaging_test {

inline std::string Make(std::string_view text, const std::string &file, int32_t size, int32_t level,
                        int32_t quality = 90) {
    vbhost::String t(text);
    vbhost::String f(file);
    return vbhost::TakeText(MakeQRCode(t.ref(), f.ref(), size, level, quality));
}

inline std::string ToJpg(const std::string &source, const std::string &target,
                         int32_t quality = 90) {
    vbhost::String s(source);
    vbhost::String t(target);
    return vbhost::TakeText(ImageToJPG(s.ref(), t.ref(), quality));
}

inline std::string ToBmp(const std::string &source, const std::string &target) {
    vbhost::String s(source);
    vbhost::String t(target);
    return vbhost::TakeText(ImageToBMP(s.ref(), t.ref()));
}

struct Scan {
    std::string text;
    std::string error;
};

inline Scan ScanFile(const std::string &file, int32_t hybrid, int32_t utf8) {
    vbhost::String f(file);
    vbhost::String error("left over from before");
    Scan out;
    out.text = vbhost::TakeText(ScanQRImage(f.ref(), hybrid, error.ref(), utf8));
    out.error = error.bytes();
    return out;
}

// True when the library was built without a barcode reader (a Windows build made without
// zxing-cpp): every scan then says so.
inline bool ReaderMissing(const ScratchDir &dir) {
    WriteFile(dir / "reader-probe.png", EncodePng(Quadrants(8, 8)));
    return ScanFile(dir / "reader-probe.png", 1, 0).error.find("not part of this build") !=
           std::string::npos;
}

} // namespace imaging_test
