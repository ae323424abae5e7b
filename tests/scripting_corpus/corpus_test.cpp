// The script corpus both builds run: each NAME.vbs in the corpus folders defines Main(dir) (file
// scripts) or Main(dir, url) (stream and HTTP scripts), works in a scratch folder of its own and
// against a loopback server, and returns a summary that must equal NAME.expected (UTF-8; line
// ends compared as LF). On Linux the objects are the library's own; in the Windows build the
// same scripts drive the system's objects through COM, so a script uses nothing only one
// platform has. Under Wine, NAME.wine.expected (where present) holds what Wine's objects give:
// some members are stubs there (error 445) and ADODB.Stream has no type library, so a script
// stops early; the file still pins how the COM bridge reports that.
#include "kestrun/automation/vbscript/host.h"
#include "kestrun/automation/vbscript/object_proxy.h"
#include "kestrun/interop/codepage.h"
#include "loopback_server.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kestrun::vbscript::Value;

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Lf(std::string text) {
    std::erase(text, '\r');
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class Scratch {
public:
    Scratch() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = fs::temp_directory_path() /
                ("kestrun-corpus-" + std::to_string(stamp) + "-" + std::to_string(++counter));
        fs::create_directories(path_);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

Value Text(const std::string &utf8) {
    return Value::str(kestrun::interop::Utf8ToWide(utf8));
}

// Calls Main of `script` (UTF-8) through the script host as the exports do; the summary as UTF-8,
// or "ERROR " and the host's message.
std::string CallMain(const std::string &script, std::vector<Value> args) {
    kestrun::vbscript::CallApartment apartment; // COM for the system's objects, as the export has
    kestrun::vbscript::FunctionResult result;
    std::string error;
    if (!kestrun::vbscript::RunFunction(kestrun::interop::Utf8ToAnsi(script), "Main",
                                        std::move(args), result, error, false))
        return "ERROR " + kestrun::interop::AnsiToUtf8(error);
    if (!result.value.isString())
        return "<not a text>";
    return kestrun::interop::WideToUtf8(result.value.s());
}

std::vector<fs::path> Scripts(const fs::path &folder) {
    std::vector<fs::path> scripts;
    for (const auto &entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".vbs")
            scripts.push_back(entry.path());
    std::sort(scripts.begin(), scripts.end());
    return scripts;
}

// Whether this Windows program runs under Wine rather than on Windows itself.
bool UnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

fs::path ExpectedFor(const fs::path &script) {
    if (UnderWine()) {
        fs::path wine = script;
        wine.replace_extension(".wine.expected");
        if (fs::exists(wine) || std::getenv("KESTRUN_WRITE_EXPECTED"))
            return wine;
    }
    fs::path expected = script;
    expected.replace_extension(".expected");
    return expected;
}

void Check(const fs::path &script, const std::string &result) {
    const fs::path expected = ExpectedFor(script);
    // KESTRUN_WRITE_EXPECTED=1 records the results as the new expected output.
    if (std::getenv("KESTRUN_WRITE_EXPECTED"))
        std::ofstream(expected, std::ios::binary) << Lf(result) << "\n";
    EXPECT_EQ(Lf(result), Lf(ReadFile(expected))) << expected.string();
}

TEST(ScriptCorpus, FileScriptsGiveTheirExpectedSummaries) {
    const auto scripts = Scripts(SCRIPTING_FILE_CORPUS);
    ASSERT_GE(scripts.size(), 3u);
    for (const auto &path : scripts) {
        SCOPED_TRACE(path.filename().string());
        Scratch dir;
        Check(path, CallMain(ReadFile(path), {Text(dir.path().string())}));
    }
}

TEST(ScriptCorpus, StreamAndHttpScriptsGiveTheirExpectedSummaries) {
    httptest::LoopbackServer server(httptest::StandardRoutes);
    const auto scripts = Scripts(SCRIPTING_IO_CORPUS);
    ASSERT_GE(scripts.size(), 3u);
    for (const auto &path : scripts) {
        SCOPED_TRACE(path.filename().string());
        Scratch dir;
        Check(path, CallMain(ReadFile(path), {Text(dir.path().string()), Text(server.Url(""))}));
    }
}

} // namespace
