// What a hostile host can hand the shared layer: text no code page holds, arrays of the wrong
// shape or locked, and paths that name FIFOs, devices, folders and symbolic links.
#include "kestrun/interop/codepage_seam.h"
#include "kestrun/interop/frame.h"
#include "kestrun/interop/regular_file_seam.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace kestrun::interop;
using kestrun::platform::FileHandle;

// iconv asked about one character at a time: the reference the conversion tables must agree
// with. Empty when iconv cannot convert it.
std::string IconvOne(const char *to, const char *from, std::string_view in) {
    iconv_t cd = iconv_open(to, from);
    char out[16];
    char *src = const_cast<char *>(in.data());
    size_t inLeft = in.size();
    char *dst = out;
    size_t outLeft = sizeof out;
    const size_t rc = iconv(cd, &src, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) {
        return {};
    }
    return std::string(out, sizeof out - outLeft);
}

TEST(CodePageTables, EveryCharacterConvertsAsIconvConvertsIt) {
    // Every two-byte sequence with a lead byte, and every single high byte.
    for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
        const std::string single(1, static_cast<char>(lead));
        const std::string one = IconvOne("UTF-16LE", "CP936", single);
        std::u16string expected =
            one.size() == 2
                ? std::u16string(1, static_cast<char16_t>((one[1] & 0xFF) << 8 | (one[0] & 0xFF)))
                : u"?";
        ASSERT_EQ(AnsiToWide(single), expected) << lead;
        if (one.size() == 2) {
            continue;
        }
        for (unsigned trail = 0x40; trail <= 0xFF; ++trail) {
            const std::string pair = single + static_cast<char>(trail);
            const std::string ref = IconvOne("UTF-16LE", "CP936", pair);
            std::u16string want;
            if (ref.size() == 2) {
                want = std::u16string(
                    1, static_cast<char16_t>((ref[1] & 0xFF) << 8 | (ref[0] & 0xFF)));
            } else {
                // Not a character: "?" for the lead byte, then the trail byte read afresh.
                want = u"?" + AnsiToWide(std::string(1, static_cast<char>(trail)));
            }
            ASSERT_EQ(AnsiToWide(pair), want) << lead << " " << trail;
        }
    }
    // Every character of the Basic Multilingual Plane but the surrogates.
    for (unsigned u = 0x80; u <= 0xFFFF; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) {
            continue;
        }
        const char16_t unit = static_cast<char16_t>(u);
        const std::string ref = IconvOne(
            "CP936", "UTF-16LE", std::string_view(reinterpret_cast<const char *>(&unit), 2));
        ASSERT_EQ(WideToAnsi(std::u16string(1, unit)), ref.empty() ? "?" : ref) << u;
    }
}

TEST(CodePageTables, BadTextInLongRuns) {
    // Long runs of what the converter cannot take, mixed with what it can: one "?" each, and
    // nothing around them lost.
    std::string invalid;
    std::u16string unmappable;
    for (int i = 0; i < 100000; ++i) {
        invalid += "\x81\x7F\xFF\xC4\xE3";
        unmappable += u"\u0E01\xD800x\U0001F600\u4F60";
    }
    const std::u16string wide = AnsiToWide(invalid);
    ASSERT_EQ(wide.size(), 400000u);
    EXPECT_EQ(wide.substr(0, 8), u"?\x7F?\u4F60?\x7F?\u4F60");
    const std::string gbk = WideToAnsi(unmappable);
    ASSERT_EQ(gbk.size(), 600000u);
    EXPECT_EQ(gbk.substr(0, 12), "??x?\xC4\xE3??x?\xC4\xE3");
    EXPECT_EQ(Utf8ToAnsi(std::string(100000, '\xFF')), std::string(100000, '?'));
    // A lead byte at the very end.
    EXPECT_EQ(AnsiToWide("a\x81"), u"a?");
}

TEST(CallerArrays, ElementAccessFollowsTheArraysShapeAndType) {
    SAFEARRAYBOUND two[2] = {{2, 0}, {3, 0}};
    UniqueSafeArray variants(SafeArrayCreate(VT_VARIANT, 2, two));
    UniqueSafeArray strings(SafeArrayCreate(VT_BSTR, 2, two));
    SAFEARRAYBOUND three[3] = {{2, 0}, {2, 0}, {2, 0}};
    UniqueSafeArray cube(SafeArrayCreate(VT_BSTR, 3, three));
    EXPECT_TRUE(HasShape(strings.get(), 2, VT_BSTR));
    EXPECT_FALSE(HasShape(strings.get(), 1, VT_BSTR));
    EXPECT_FALSE(HasShape(variants.get(), 2, VT_BSTR));
    EXPECT_FALSE(HasShape(nullptr, 2, VT_BSTR));

    // A string is never written into (or read from) a VARIANT slot, nor with too few subscripts.
    EXPECT_FALSE(PutArrayString(variants.get(), {0, 0}, "x"));
    EXPECT_FALSE(GetArrayString(variants.get(), {0, 0}).has_value());
    EXPECT_FALSE(PutArrayString(cube.get(), {0, 0}, "x"));
    EXPECT_TRUE(PutArrayString(strings.get(), {1, 2}, "\xC4\xE3"));
    EXPECT_EQ(GetArrayString(strings.get(), {1, 2}), "\xC4\xE3");

    // VARIANT reads: a String() element arrives as its UTF-16 text; writes only into VARIANTs.
    UniqueVariant v;
    EXPECT_TRUE(GetArrayVariant(strings.get(), {1, 2}, v.get()));
    ASSERT_EQ(V_VT(v.get()), VT_BSTR);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(V_BSTR(v.get()))), u"\u4F60");
    EXPECT_FALSE(PutArrayVariant(strings.get(), {0, 0}, v.get()));
    EXPECT_TRUE(PutArrayVariant(variants.get(), {0, 0}, v.get()));
    EXPECT_FALSE(PutArrayVariant(variants.get(), {0}, v.get()));
    EXPECT_FALSE(GetArrayVariant(cube.get(), {0, 0}, v.get()));
    EXPECT_EQ(V_VT(v.get()), VT_EMPTY);
    EXPECT_TRUE(GetArrayVariant(variants.get(), {0, 0}, v.get()));
    EXPECT_EQ(V_VT(v.get()), VT_BSTR);
    EXPECT_FALSE(GetArrayVariant(variants.get(), {2, 0}, v.get())); // out of bounds
}

TEST(CallerArrays, ALockedArrayIsNeverReplaced) {
    SAFEARRAY *held = SafeArrayCreateVector(VT_BSTR, 0, 3);
    ASSERT_NE(held, nullptr);
    ASSERT_TRUE(PutArrayString(held, {1}, "keep"));
    SAFEARRAY *variable = held;
    ASSERT_EQ(SafeArrayLock(held), S_OK);
    EXPECT_EQ(ReplaceOutArray(&variable, {SAFEARRAYBOUND{5, 0}}), nullptr);
    EXPECT_EQ(variable, held); // the caller's array, untouched
    EXPECT_EQ(GetArrayString(held, {1}), "keep");
    ASSERT_EQ(SafeArrayUnlock(held), S_OK);
    // Unlocked, it is replaced as before.
    SAFEARRAY *fresh = ReplaceOutArray(&variable, {SAFEARRAYBOUND{5, 0}});
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(variable, fresh);
    EXPECT_EQ(DimensionCount(fresh, 0), 5u);
    SafeArrayDestroy(fresh);
}

class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "kestrun-files-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

TEST(CallerFiles, OnlyRegularFilesOpenAndNothingWaits) {
    alarm(60); // a FIFO that blocked would end the test here rather than hang the run
    Scratch dir;
    std::ofstream(dir / "plain") << "content";
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "plain", dir / "link");

    using kestrun::platform::OpenRegularForReading;
    using kestrun::platform::OpenRegularForWriting;
    EXPECT_TRUE(OpenRegularForReading(dir / "plain"));
    EXPECT_TRUE(OpenRegularForReading(dir / "link"));
    for (const std::string &bad :
         {dir / "fifo", dir / "folder", std::string("/dev/zero"), dir / "missing", std::string()}) {
        EXPECT_FALSE(OpenRegularForReading(bad)) << bad;
    }
    for (const std::string &bad :
         {dir / "fifo", dir / "folder", std::string("/dev/null"), std::string()}) {
        EXPECT_FALSE(OpenRegularForWriting(bad, true)) << bad;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));

    // Writing in place empties an existing file only when asked, through links too.
    FileHandle kept = OpenRegularForWriting(dir / "link", false);
    ASSERT_TRUE(kept);
    kept.Close();
    EXPECT_EQ(fs::file_size(dir / "plain"), 7u);
    EXPECT_TRUE(OpenRegularForWriting(dir / "link", true));
    EXPECT_EQ(fs::file_size(dir / "plain"), 0u);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_TRUE(OpenRegularForWriting(dir / "new", true));
    EXPECT_TRUE(fs::is_regular_file(dir / "new"));
    alarm(0);
}

TEST(CallerFiles, ReplacementGoesToTheEndOfTheLinks) {
    using kestrun::platform::ReplacementTarget;
    Scratch dir;
    std::ofstream(dir / "plain") << "content";
    fs::create_directory(dir / "sub");
    fs::create_symlink(dir / "plain", dir / "sub/absolute");
    fs::create_symlink("absolute", dir / "sub/relative"); // relative to its own folder
    fs::create_symlink("../missing", dir / "sub/dangling");
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    fs::create_symlink("/dev/null", dir / "device");

    EXPECT_EQ(ReplacementTarget(dir / "plain"), dir / "plain");
    EXPECT_EQ(ReplacementTarget(dir / "new"), dir / "new");
    EXPECT_EQ(ReplacementTarget(dir / "sub/absolute"), dir / "plain");
    EXPECT_EQ(ReplacementTarget(dir / "sub/relative"), dir / "plain");
    EXPECT_EQ(ReplacementTarget(dir / "sub/dangling"), dir / "sub/../missing");
    EXPECT_EQ(ReplacementTarget(dir / "loop1"), std::nullopt);
    EXPECT_EQ(ReplacementTarget(dir / "device"), std::nullopt);
    EXPECT_EQ(ReplacementTarget("/dev/null"), std::nullopt);
    EXPECT_EQ(ReplacementTarget(dir / "sub"), std::nullopt);
    EXPECT_TRUE(kestrun::platform::IsMissingOrRegularFile(dir / "sub/relative"));
    EXPECT_FALSE(kestrun::platform::IsMissingOrRegularFile(dir / "device"));
}

TEST(Strings, FindBytesFindsTheFirstOccurrence) {
    const std::string text = std::string(100000, 'a') + "b" + std::string(10, 'a') + "b";
    const std::string nearMiss = std::string(5000, 'a') + "b";
    EXPECT_EQ(FindBytes(text, nearMiss), 100000u - 5000u);
    EXPECT_EQ(FindBytes(text, nearMiss, 95001), std::string::npos);
    EXPECT_EQ(FindBytes(text, "ab", 100000), 100010u);
    EXPECT_EQ(FindBytes(text, "", 7), 7u);
    EXPECT_EQ(FindBytes(text, "a", text.size() + 1), std::string::npos);
    EXPECT_EQ(FindBytes("", ""), 0u);
}

} // namespace
