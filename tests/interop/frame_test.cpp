#include "kestrun/interop/frame.h"
#include "kestrun/interop/module_path_seam.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>

namespace {

using namespace kestrun::interop;

TEST(Conversions, GbkUtf8AndUtf16RoundTrips) {
    EXPECT_EQ(AnsiToUtf8("\xC4\xE3"), "\xE4\xBD\xA0"); // 你
    EXPECT_EQ(Utf8ToAnsi("\xE4\xBD\xA0"), "\xC4\xE3");
    EXPECT_EQ(AnsiToWide("\xC4\xE3"
                         "a"),
              u"\u4F60a");
    EXPECT_EQ(WideToAnsi(u"\u4F60a"), "\xC4\xE3"
                                      "a");
    EXPECT_EQ(AnsiToUtf8(""), "");
    EXPECT_EQ(Utf8ToAnsi(""), "");
    EXPECT_EQ(WideToAnsi(u""), "");
    // Input ends at the first zero.
    EXPECT_EQ(AnsiToUtf8(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(Utf8ToAnsi(std::string_view("ab\0cd", 5)), "ab");
    // The euro sign is byte 80 in code page 936.
    EXPECT_EQ(AnsiToUtf8("\x80"), "\xE2\x82\xAC");
    // Bytes 80 and FF, outside GBK's lead bytes, survive a round trip as the system's code page
    // 936 maps them: the euro sign and the private-use U+F8F5.
    EXPECT_EQ(AnsiToWide("\x80\xFF"), u"\u20AC\uF8F5");
    EXPECT_EQ(WideToAnsi(u"\u20AC\uF8F5"), "\x80\xFF");
}

TEST(Conversions, WhatDoesNotFitBecomesOneQuestionMark) {
    EXPECT_EQ(Utf8ToAnsi("\xC3\x28"), "?("); // invalid UTF-8
    EXPECT_EQ(Utf8ToAnsi("a\xE0\xB8\x81"
                         "b"),
              "a?b");                               // U+0E01 Thai, not in GBK
    EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80"), "?"); // outside the BMP: one character
    EXPECT_EQ(Utf8ToAnsi("\xE4\xBD"), "?");         // truncated sequence
    EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"
                         "x"),
              "???x"); // encoded surrogate: invalid bytes
    EXPECT_EQ(WideToAnsi(std::u16string(1, u'\xD800') + u"x"), "?x"); // lone surrogate
    EXPECT_EQ(WideToUtf8(std::u16string(1, u'\xDC00')), "\xEF\xBF\xBD");
    // A GBK lead byte followed by an invalid trail keeps the trail character.
    EXPECT_EQ(AnsiToUtf8("\x81\x20"
                         "z"),
              "? z");
    EXPECT_EQ(AnsiToUtf8("\xC4"), "?");
}

TEST(Strings, ReplaceAllDoesNotOverlapOrRescan) {
    std::string s = "aaa";
    ReplaceAll(s, "aa", "b");
    EXPECT_EQ(s, "ba");
    s = "a-a";
    ReplaceAll(s, "a", "aa");
    EXPECT_EQ(s, "aa-aa");
    s = "none";
    ReplaceAll(s, "x", "y");
    EXPECT_EQ(s, "none");
    ReplaceAll(s, "", "y");
    EXPECT_EQ(s, "none");
}

TEST(Strings, TextBufferFindAndReplace) {
    TextBuffer hello("hello");
    EXPECT_EQ(hello.Find("lo"), 4u);
    EXPECT_EQ(hello.Find("xyz"), 0u);
    EXPECT_EQ(hello.Find(nullptr), 0u);
    EXPECT_EQ(hello.Find(""), 1u);

    TextBuffer a("a");
    a.Replace(TextBuffer("a"), TextBuffer("aa"));
    EXPECT_EQ(a.Text(), "aa");

    TextBuffer many("x<br>y<br>");
    many.Replace(TextBuffer("<br>"), TextBuffer(""));
    EXPECT_EQ(many.Text(), "xy");

    TextBuffer unchanged("abc");
    unchanged.Replace(TextBuffer(""), TextBuffer("z"));
    EXPECT_EQ(unchanged.Text(), "abc");
    TextBuffer empty(static_cast<const char *>(nullptr));
    EXPECT_TRUE(empty.Empty());
}

TEST(Strings, ResolveLibraryPath) {
    const std::string folder = ModuleFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), kestrun::platform::kPathSeparator);
    EXPECT_EQ(ResolveLibraryPath("data.db"), folder + "data.db");
    EXPECT_EQ(ResolveLibraryPath("sub/data.db"), folder + "sub/data.db");
    EXPECT_EQ(ResolveLibraryPath(""), folder);
    EXPECT_EQ(ResolveLibraryPath("C:\\data\\x.db"), "C:\\data\\x.db");
    EXPECT_EQ(ResolveLibraryPath("//server/share/x.db"), "//server/share/x.db");
    EXPECT_EQ(ResolveLibraryPath("a//b"), "a//b");
    EXPECT_EQ(ResolveLibraryPath("/var/x.db"), "/var/x.db");
}

std::string MessageFor(void (*raise)()) {
    std::string text = "previous";
    try {
        raise();
    } catch (...) {
        ExceptionMessage(text);
    }
    return text;
}

struct Unrelated {};

TEST(Errors, ExceptionMessageCoversEveryCase) {
    EXPECT_EQ(MessageFor([] { throw std::bad_alloc(); }), "ERROR:std::bad_alloc");
    EXPECT_EQ(MessageFor([] { throw std::runtime_error("bad thing"); }), "ERROR:bad thing");
    EXPECT_EQ(MessageFor([] { throw -5; }), "ERROR:(INT) -5");
    EXPECT_EQ(MessageFor([] { throw 7L; }), "ERROR:(LONG) 7");
    EXPECT_EQ(MessageFor([] {
                  static char text[] = "raw";
                  throw static_cast<char *>(text);
              }),
              "ERROR:raw");
#ifdef _WIN32
    // The text is the system's own (FormatMessage), in the system's language.
    EXPECT_EQ(MessageFor([] {
                  throw ComError(static_cast<HRESULT>(0x80004003));
              }).rfind("ERROR:(COM_ERROR)80004003,", 0),
              0u);
#else
    EXPECT_EQ(MessageFor([] { throw ComError(static_cast<HRESULT>(0x80004003)); }),
              "ERROR:(COM_ERROR)80004003,Invalid pointer");
#endif
    EXPECT_EQ(MessageFor([] { throw ComError(static_cast<HRESULT>(0x80040205)); }),
              "ERROR:(COM_ERROR)80040205,IDispatch error #5");
    EXPECT_EQ(MessageFor([] { throw ComError(static_cast<HRESULT>(0x80040200)); }),
              "ERROR:(COM_ERROR)80040200,Unknown error 0x80040200");
    EXPECT_EQ(MessageFor([] { throw ComError(static_cast<HRESULT>(0x0000abcd)); }),
              "ERROR:(COM_ERROR)0000abcd,Unknown error 0xABCD");
    const std::string unknown = MessageFor([] { throw Unrelated{}; });
    EXPECT_EQ(unknown, "ERROR\xA3\xBA\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xA3\xA1");
    EXPECT_EQ(unknown.size(), 17u);

    std::string outside = "x";
    ExceptionMessage(outside); // no exception being handled
    EXPECT_EQ(outside, kUnknownErrorMessage);
}

TEST(Boundary, StringsInAndOut) {
    EXPECT_EQ(InString(nullptr), "");
    EXPECT_EQ(RefString(nullptr), "");
    BSTR none = nullptr;
    EXPECT_EQ(RefString(&none), "");
    UniqueBstr embedded(SysAllocStringByteLen("ab\0cd", 5));
    BSTR raw = embedded.get();
    EXPECT_EQ(RefString(&raw), "ab");

    UniqueBstr cut(StringResult(std::string_view("A\0B", 3)));
    EXPECT_EQ(SysStringByteLen(cut.get()), 1u);

    BSTR out = SysAllocStringByteLen("old", 3);
    WriteOutString(&out, "new text");
    EXPECT_EQ(BstrBytes(out), "new text");
    WriteOutString(&out, "");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(SysStringByteLen(out), 0u);
    SysFreeString(out);
    WriteOutString(nullptr, "ignored");
}

TEST(Boundary, OutArraysReplaceWhatTheVariableHeld) {
    SAFEARRAY *variable = nullptr;
    SAFEARRAY *first = ReplaceOutArray(&variable, {{2, 0}, {3, 0}});
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(DimensionCount(first, 0), 2u);
    EXPECT_EQ(DimensionCount(first, 1), 3u);
    EXPECT_EQ(DimensionCount(first, 2), 0u);
    EXPECT_TRUE(PutArrayString(first, {1, 2}, std::string_view("x\0y", 3)));
    EXPECT_FALSE(PutArrayString(first, {2, 0}, "out of range"));
    EXPECT_FALSE(PutArrayString(first, {0}, "wrong dimension count"));
    EXPECT_EQ(GetArrayString(first, {1, 2}), "x");
    EXPECT_EQ(GetArrayString(first, {0, 0}), "");
    EXPECT_EQ(GetArrayString(first, {5, 0}), std::nullopt);

    SAFEARRAY *second = ReplaceOutArray(&variable, {{1, 0}});
    EXPECT_EQ(variable, second);
    EXPECT_EQ(DimensionCount(second, 0), 1u);
    UniqueSafeArray owner(variable);
    EXPECT_EQ(ReplaceOutArray(nullptr, {{1, 0}}), nullptr);
}

TEST(Boundary, GuardsKeepExceptionsInside) {
    UniqueBstr message(GuardString([]() -> BSTR { throw std::runtime_error("inside"); }));
    EXPECT_EQ(BstrBytes(message.get()), "ERROR:inside");
    EXPECT_EQ(Guard(-1, []() -> int { throw 3; }), -1);
    EXPECT_EQ(Guard(-1, [] { return 4; }), 4);
}

} // namespace

namespace {

using namespace kestrun::interop;

std::string Owned(BSTR b) {
    UniqueBstr owner(b);
    return std::string(reinterpret_cast<const char *>(b), SysStringByteLen(b));
}

TEST(ResultBuffer, EndsAtTheUsedLengthAndTheFirstZeroByte) {
    // Exact size: handed over as allocated.
    EXPECT_EQ(Owned(WriteStringResult(3,
                                      [](char *out) {
                                          std::memcpy(out, "abc", 3);
                                          return size_t{3};
                                      })),
              "abc");
    // A loose bound is trimmed, and the text stays terminated by two zero bytes.
    BSTR trimmed = WriteStringResult(10, [](char *out) {
        std::memcpy(out, "xyz", 3);
        return size_t{3};
    });
    EXPECT_EQ(SysStringByteLen(trimmed), 3u);
    EXPECT_EQ(reinterpret_cast<const char *>(trimmed)[3], 0);
    EXPECT_EQ(reinterpret_cast<const char *>(trimmed)[4], 0);
    EXPECT_EQ(Owned(trimmed), "xyz");
    // A result that may hold a zero byte is cut there; one that cannot is not scanned.
    EXPECT_EQ(Owned(WriteStringResult(5,
                                      [](char *out) {
                                          std::memcpy(out, "ab\0cd", 5);
                                          return size_t{5};
                                      })),
              "ab");
    EXPECT_EQ(Owned(WriteStringResult(
                  0, [](char *) { return size_t{0}; }, ZeroBytes::Impossible)),
              "");
    // A used count past the bound is held to the bound.
    EXPECT_EQ(Owned(WriteStringResult(2,
                                      [](char *out) {
                                          std::memcpy(out, "hi", 2);
                                          return size_t{9};
                                      })),
              "hi");
}

// More than any BSTR holds (its length is a 32-bit count), on 32-bit and 64-bit builds alike.
constexpr size_t kTooBig = size_t{0xFFFFFFFFu};

TEST(ResultBuffer, AVeryLooseBoundGivesAnExactStringAndHugeBoundsThrow) {
    const size_t bound = 1 << 20;
    BSTR small = WriteStringResult(bound, [](char *out) {
        std::memcpy(out, "tiny", 4);
        return size_t{4};
    });
    EXPECT_EQ(Owned(small), "tiny");
    EXPECT_THROW(ResultBuffer{kTooBig}, std::bad_alloc);
    // Through GuardString the failure becomes the usual message.
    const std::string text = Owned(
        GuardString([] { return WriteStringResult(kTooBig, [](char *) { return size_t{0}; }); }));
    EXPECT_EQ(text.rfind("ERROR:", 0), 0u);
}

TEST(GrowingResult, GrowsKeepsItsBytesAndEndsAtTheFirstZeroByte) {
    GrowingResult empty;
    EXPECT_EQ(Owned(empty.Finish()), "");

    // Pieces of every size across several doublings, then a reserve that must keep them.
    GrowingResult grown;
    std::string expected;
    for (size_t i = 0; i < 200; ++i) {
        const std::string piece(i * 37 % 1000 + 1, char('a' + i % 26));
        grown.Append(piece);
        expected += piece;
    }
    grown.Reserve(expected.size() * 3);
    grown.Append("tail");
    expected += "tail";
    EXPECT_EQ(grown.View(), expected);
    // Rewritten in place and cut shorter, as a decoder does.
    grown.data()[0] = 'X';
    grown.Truncate(10);
    grown.Truncate(20); // never longer than it is
    BSTR done = grown.Finish();
    EXPECT_EQ(SysStringByteLen(done), 10u);
    EXPECT_EQ(reinterpret_cast<const char *>(done)[10], 0);
    EXPECT_EQ(reinterpret_cast<const char *>(done)[11], 0);
    EXPECT_EQ(Owned(done), "X" + expected.substr(1, 9));

    GrowingResult zero;
    zero.Assign(std::string_view("ab\0cd", 5));
    EXPECT_EQ(Owned(zero.Finish()), "ab");
    GrowingResult huge;
    EXPECT_THROW(huge.Reserve(kTooBig), std::bad_alloc);
}

TEST(InArguments, ReadInPlaceUpToTheFirstZeroByte) {
    EXPECT_EQ(InView(nullptr), "");
    EXPECT_EQ(InView("abc"), "abc");
    BSTR b = SysAllocStringByteLen("ab\0cd", 5);
    EXPECT_EQ(RefView(&b), "ab");
    EXPECT_EQ(RefView(&b).data(), reinterpret_cast<const char *>(b)); // not copied
    SysFreeString(b);
    BSTR none = nullptr;
    EXPECT_EQ(RefView(&none), "");
    EXPECT_EQ(RefView(nullptr), "");
}

} // namespace
