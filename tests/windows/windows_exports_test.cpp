// Kestrun.dll as a Windows program loads it: the system's OLE Automation, the ANSI code page 936,
// wide-character paths, file identity from the volume and file index, profile files, SQLite,
// the module folder, the script host and PDF files.
#include "vbhost.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace {

namespace fs = std::filesystem;
using vbhost::Gbk;
using vbhost::String;
using vbhost::Take;
using vbhost::TakeText;

fs::path Utf8Path(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// A private folder whose name has Chinese characters, removed afterwards.
class Folder {
public:
    Folder() {
        path_ = fs::temp_directory_path() /
                Utf8Path("kestrun-中文-" + std::to_string(std::random_device{}()));
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;
    // The path of `utf8Name` inside the folder, as code page 936 bytes.
    std::string Ansi(std::string_view utf8Name) const {
        const fs::path p = path_ / Utf8Path(utf8Name);
        const std::u8string u8 = p.u8string();
        return Gbk(std::string(u8.begin(), u8.end()));
    }
    fs::path Path(std::string_view utf8Name) const { return path_ / Utf8Path(utf8Name); }

private:
    fs::path path_;
};

std::string ReadAll(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path &path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(WindowsFrame, SystemAutomationTypes) {
    EXPECT_EQ(GetACP(), 936u) << "run with LANG=zh_CN.UTF-8 (locale-gen zh_CN.UTF-8)";
    // A String result is a system BSTR over the bytes, with the byte count before the data.
    BSTR b = Base64Decode_GB("5Lit");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringByteLen(b), 3u);
    EXPECT_EQ(reinterpret_cast<const uint32_t *>(b)[-1], 3u);
    SysFreeString(b);

    // Arrays come from oleaut32 and are destroyed by it.
    String text(Gbk("甲1乙22丙333"));
    String pattern("\\d+");
    vbhost::Array matches;
    EXPECT_EQ(Regex_Search(text.ref(), pattern.ref(), matches.ref(), 10), 1);
    ASSERT_NE(matches.get(), nullptr);
    EXPECT_EQ(matches.count(0), 4u);
    EXPECT_EQ(matches.at({3}), "333");
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(matches.get(), &vt), S_OK);
    EXPECT_EQ(vt, VT_BSTR);
}

TEST(WindowsCodePage, RoundTripsThroughCodePage936) {
    const std::string chinese = Gbk("中文，测试！");
    EXPECT_EQ(TakeText(Base64Encode_UTF8(Gbk("中文").c_str())), "5Lit5paH");
    EXPECT_EQ(TakeText(Base64Decode_UTF8("5Lit5paH")), Gbk("中文"));
    EXPECT_EQ(TakeText(Base64Decode_GB(TakeText(Base64Encode_GB(chinese.c_str())).c_str())),
              chinese);
    EXPECT_EQ(TakeText(UrlDecode_UTF8(TakeText(UrlEncode_UTF8(chinese.c_str())).c_str())), chinese);
    // A character code page 936 lacks becomes one "?", also when it takes a surrogate pair.
    EXPECT_EQ(TakeText(UrlDecode_UTF8("a%F0%9F%98%80b")), "a?b");
    EXPECT_EQ(TakeText(UrlDecode_UTF8("%ED%95%9C")), "?"); // a Hangul syllable
    // A byte that is not code page 936 becomes "?" (in UTF-8: 3F).
    EXPECT_EQ(TakeText(Base64Encode_UTF8("\x81")), "Pw==");
    // Byte FF stands alone for U+F8F5 (in UTF-8: EF A3 B5), as on Linux.
    EXPECT_EQ(TakeText(Base64Encode_UTF8("a\xFF"
                                         "b")),
              "Ye+jtWI=");
}

TEST(WindowsFiles, CipherFilesUseWidePathsAndFileIdentity) {
    Folder dir;
    WriteAll(dir.Path("明文.txt"), "hello");
    const std::string source = dir.Ansi("明文.txt");
    const std::string target = dir.Ansi("密文.bin");
    EXPECT_EQ(TakeText(AESEncryptTxtFile_GB(source.c_str(), target.c_str(), "k", "i", 1)), "OK");
    EXPECT_EQ(fs::file_size(dir.Path("密文.bin")), 16u);

    // The same file under another spelling or a hard link is refused and left alone.
    ASSERT_TRUE(
        CreateHardLinkW(dir.Path("硬链接.txt").c_str(), dir.Path("明文.txt").c_str(), nullptr));
    const std::string refused = Gbk("待加密文件打开失败！");
    for (const std::string &other :
         {source, dir.Ansi("硬链接.txt"), dir.Ansi("./明文.txt"), dir.Ansi("明文.TXT")}) {
        EXPECT_EQ(TakeText(AESEncryptTxtFile_GB(source.c_str(), other.c_str(), "k", "i", 1)),
                  refused)
            << other;
    }
    EXPECT_EQ(ReadAll(dir.Path("明文.txt")), "hello");
}

TEST(WindowsProfiles, IniValuesWithWidePathsAndBesideTheLibrary) {
    Folder dir;
    String section(Gbk("设置"));
    String key(Gbk("名字"));
    String value(Gbk("张三"));
    String file(dir.Ansi("配置.ini"));
    String none("");
    EXPECT_NE(WriteINIValue(section.ref(), key.ref(), value.ref(), file.ref()), 0);
    EXPECT_EQ(TakeText(ReadINIValue(section.ref(), key.ref(), none.ref(), file.ref())),
              Gbk("张三"));
    String other("x");
    String second("y");
    EXPECT_NE(WriteINIValue(section.ref(), other.ref(), second.ref(), file.ref()), 0);
    EXPECT_EQ(TakeText(ReadINIValue(section.ref(), key.ref(), none.ref(), file.ref())),
              Gbk("张三"));
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path("")), fs::directory_iterator()), 1);

    // A bare file name is the file beside Kestrun.dll.
    wchar_t module[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(GetModuleHandleW(L"Kestrun.dll"), module, MAX_PATH), 0u);
    const fs::path beside = fs::path(module).parent_path() /
                            ("kestrun-" + std::to_string(GetCurrentProcessId()) + ".ini");
    String bare(beside.filename().string());
    EXPECT_NE(WriteINIValue(section.ref(), key.ref(), value.ref(), bare.ref()), 0);
    EXPECT_TRUE(fs::exists(beside));
    fs::remove(beside);
}

// A library file whose GBK name has a byte 0x5C (乗 is 81 5C): its folder must be found at the
// real separator, not inside that character. A second copy of the DLL, loaded under such a name,
// finds its INI file beside itself.
TEST(WindowsProfiles, LibraryFolderWithABackslashTrailByte) {
    Folder dir;
    const fs::path folder = dir.Path("lib");
    fs::create_directories(folder);
    wchar_t module[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(GetModuleHandleW(L"Kestrun.dll"), module, MAX_PATH), 0u);
    const fs::path copy = folder / Utf8Path("乗.dll");
    fs::copy_file(fs::path(module), copy);
    HMODULE library = LoadLibraryW(copy.c_str());
    ASSERT_NE(library, nullptr);
    using WriteIni = int32_t(KESTRUN_CALL *)(BSTR *, BSTR *, BSTR *, BSTR *);
    const auto write = reinterpret_cast<WriteIni>(
        reinterpret_cast<void *>(GetProcAddress(library, "WriteINIValue")));
    ASSERT_NE(write, nullptr);
    String section("s");
    String key("k");
    String value("v");
    String bare("beside.ini");
    EXPECT_NE(write(section.ref(), key.ref(), value.ref(), bare.ref()), 0);
    FreeLibrary(library);
    EXPECT_TRUE(fs::exists(folder / "beside.ini"));
}

TEST(WindowsSqlite, OpenWriteAndReadWithAChinesePath) {
    Folder dir;
    intptr_t handle = 0;
    String path(dir.Ansi("数据.db"));
    String message;
    ASSERT_EQ(SQLite_Open(&handle, path.ref(), message.ref()), 1) << message.bytes();
    EXPECT_NE(handle, 0);
    String sql(Gbk("CREATE TABLE t(a TEXT); INSERT INTO t VALUES('你好');"));
    EXPECT_EQ(SQLite_Execute(&handle, sql.ref(), message.ref()), 1) << message.bytes();
    String query("SELECT a FROM t");
    vbhost::Array rows;
    EXPECT_EQ(SQLite_ReadData(&handle, query.ref(), rows.ref(), message.ref()), 1);
    EXPECT_EQ(rows.at({1, 1}), Gbk("你好"));
    EXPECT_EQ(SQLite_Close(&handle), 1);
    EXPECT_TRUE(fs::exists(dir.Path("数据.db")));
}

TEST(WindowsImages, QrCodeAndConversionWithWidePaths) {
    Folder dir;
    String text(Gbk("二维码"));
    String bmp(dir.Ansi("码.bmp"));
    EXPECT_EQ(TakeText(MakeQRCode(text.ref(), bmp.ref(), 2, 1, 90)), "OK");
    String jpg(dir.Ansi("码.jpg"));
    EXPECT_EQ(TakeText(ImageToJPG(bmp.ref(), jpg.ref(), 80)), "OK");
    EXPECT_EQ(ReadAll(dir.Path("码.jpg")).substr(0, 3), "\xFF\xD8\xFF"); // written by GDI+
    String back(dir.Ansi("回.bmp"));
    EXPECT_EQ(TakeText(ImageToBMP(jpg.ref(), back.ref())), "OK");
    EXPECT_EQ(ReadAll(dir.Path("回.bmp")).substr(0, 2), "BM");
    // The window procedures are part of the build; without a window they do nothing.
    SetFormIcon(nullptr, text.ref(), text.ref());
    LoadPNG(nullptr, back.ref(), -1, -1, -1, -1, text.ref());
    // Without zxing-cpp the reader says that it is missing.
    String error;
    const std::string scanned = TakeText(ScanQRImage(jpg.ref(), 0, error.ref(), 0));
    if (scanned.empty()) {
        EXPECT_NE(error.bytes().find("not part of this build"), std::string::npos) << error.bytes();
    } else {
        EXPECT_EQ(scanned, Gbk("二维码"));
    }
}

TEST(WindowsBuild, ShellExportsArePartOfIt) {
    // tests/shell covers them; here only that the DLL carries them (an empty file list is put on
    // the clipboard, where a missing export would answer 0).
    EXPECT_EQ(Win_CopyFileToClipBoard(nullptr), 0);
    EXPECT_EQ(Win_CopyFileToClipBoard(""), 1);
}

TEST(WindowsBuild, PdfExportsArePartOfIt) {
    // tests/pdf covers them; here only that the DLL carries them: an empty merge writes a PDF
    // without pages under a Chinese name, and a missing file gives the open failure.
    Folder dir;
    vbhost::Array none;
    String output(dir.Ansi("合并.pdf"));
    String error("old");
    EXPECT_EQ(CombinePDF(none.ref(), output.ref(), error.ref()), 1) << error.bytes();
    EXPECT_EQ(error.bytes(), "");
    EXPECT_EQ(ReadAll(dir.Path("合并.pdf")).rfind("%PDF-", 0), 0u);
    vbhost::Array table;
    String missing(dir.Ansi("无.pdf"));
    EXPECT_EQ(GetAnnotationFromPDF(missing.ref(), table.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("002-文件打开失败！"));
}

// The script host runs its own engine on Windows too, with messages in code page 936.
TEST(WindowsScripts, ScriptHostRunsHere) {
    String script("x = 1");
    String error("old");
    EXPECT_EQ(RunVBScript(script.ref(), error.ref()), 1);
    EXPECT_EQ(error.bytes(), "");
    EXPECT_EQ(RunVBScript(nullptr, nullptr), 0);
    String empty("");
    EXPECT_EQ(RunVBScript(empty.ref(), error.ref()), 0);
    EXPECT_EQ(error.bytes(), Gbk("没有要执行的代码！"));
}

} // namespace
