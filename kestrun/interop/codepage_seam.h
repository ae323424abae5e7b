// The platform's code-page converter: code page 936 (GBK) to and from UTF-16.
// On Windows this is MultiByteToWideChar / WideCharToMultiByte with CP_ACP; here glibc's iconv.
// iconv is asked once per process for the whole code page, and the texts are then converted
// through the tables it gave: glibc's converter restarts its internal buffers at every character
// it cannot convert, which made text full of such characters cost milliseconds per kilobyte.
// Every conversion below is a single pass over its input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun::platform {

// An iconv conversion descriptor, closed with the object. Other converters of the library (a
// response charset, say) open theirs through this class too.
class IconvHandle {
public:
    IconvHandle() = default;
    IconvHandle(const char *to, const char *from) { Open(to, from); }
    ~IconvHandle();
    IconvHandle(const IconvHandle &) = delete;
    IconvHandle &operator=(const IconvHandle &) = delete;

    // Opens (or reopens) the descriptor; false when iconv does not know the pair.
    bool Open(const char *to, const char *from);
    bool ok() const { return handle_ != Invalid(); }
    // The descriptor as iconv's iconv_t (a pointer type).
    void *get() const { return handle_; }

private:
    static void *Invalid() { return reinterpret_cast<void *>(-1); }
    void *handle_ = Invalid();
};

// UTF-16 to GBK for callers that convert many texts in a row. A character GBK lacks, an unpaired
// surrogate or a whole pair included, becomes one "?".
class GbkEncoder {
public:
    // Appends the GBK form of `wide` to `out`.
    void Append(std::string &out, std::u16string_view wide);
};

// The code page 936 code of every UTF-16 unit as the conversions above use it: one byte (below
// 0x100), or lead << 8 | trail; 0 for a unit the code page lacks (and for ASCII, which stays as
// it is). The table is filled once per process; with no converter for the code page every entry
// is 0. Linux only: decoders that go straight from another encoding to GBK look characters up
// here.
const uint16_t *GbkCodeTable();

// GBK bytes to UTF-16. A byte sequence that is not valid GBK becomes one "?" per offending byte.
std::u16string GbkToWide(std::string_view gbk);

// UTF-16 to GBK, as GbkEncoder.
std::string WideToGbk(std::u16string_view wide);

} // namespace kestrun::platform
