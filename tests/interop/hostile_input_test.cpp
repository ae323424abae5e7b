// What a hostile host can hand the shared layer: text no code page holds, arrays of the wrong
// shape or locked, and paths that name folders or nothing. The special files of each system are
// tried in hostile_files_posix_test.cpp and hostile_files_win32_test.cpp.
#include "kestrun/interop/frame.h"
#include "kestrun/interop/regular_file_seam.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace kestrun::interop;
using kestrun::platform::FileHandle;

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
    // (Byte FF on its own is the private-use U+F8F5, as in the system's code page 936.)
    EXPECT_EQ(wide.substr(0, 8), u"?\x7F\uF8F5\u4F60?\x7F\uF8F5\u4F60");
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

TEST(CallerFiles, OnlyRegularFilesOpen) {
    using kestrun::platform::OpenRegularForReading;
    using kestrun::platform::OpenRegularForWriting;
    testfiles::TempFolder dir;
    std::ofstream(dir / "plain") << "content";
    fs::create_directory(dir / "folder");
    EXPECT_TRUE(OpenRegularForReading(dir / "plain"));
    for (const std::string &bad : {dir / "folder", dir / "missing", std::string()}) {
        EXPECT_FALSE(OpenRegularForReading(bad)) << bad;
    }
    for (const std::string &bad : {dir / "folder", dir / "no/such/folder", std::string()}) {
        EXPECT_FALSE(OpenRegularForWriting(bad, true)) << bad;
    }
    EXPECT_TRUE(fs::is_directory(dir / "folder"));

    // Writing in place empties an existing file only when asked.
    FileHandle kept = OpenRegularForWriting(dir / "plain", false);
    ASSERT_TRUE(kept);
    kept.Close();
    EXPECT_EQ(fs::file_size(dir / "plain"), 7u);
    EXPECT_TRUE(OpenRegularForWriting(dir / "plain", true));
    EXPECT_EQ(fs::file_size(dir / "plain"), 0u);
    EXPECT_TRUE(OpenRegularForWriting(dir / "new", true));
    EXPECT_TRUE(fs::is_regular_file(dir / "new"));

    using kestrun::platform::IsMissingOrRegularFile;
    using kestrun::platform::ReplacementTarget;
    EXPECT_TRUE(IsMissingOrRegularFile(dir / "plain"));
    EXPECT_TRUE(IsMissingOrRegularFile(dir / "missing"));
    EXPECT_FALSE(IsMissingOrRegularFile(dir / "folder"));
    EXPECT_EQ(ReplacementTarget(dir / "plain"), dir / "plain");
    EXPECT_EQ(ReplacementTarget(dir / "new-name"), dir / "new-name");
    EXPECT_EQ(ReplacementTarget(dir / "folder"), std::nullopt);
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
