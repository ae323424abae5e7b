// The shared corpus: each corpus/NAME.vbs defines Main(dir, url), works in a scratch folder and
// against the loopback server, and returns a summary that must equal corpus/NAME.expected (UTF-8;
// line ends compared as LF). WScript.Shell is left out: the commands it runs differ between the
// platforms. The same scripts run under the Windows build against the system's
// objects, so they use nothing that only one platform has.
#include "loopback_server.h"
#include "script_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string Lf(std::string text) {
    std::erase(text, '\r');
    return text;
}

TEST(ScriptCorpus, EveryScriptGivesItsExpectedSummary) {
    httptest::LoopbackServer server(httptest::StandardRoutes);
    const std::filesystem::path folder = SCRIPTING_IO_CORPUS;
    std::vector<std::filesystem::path> scripts;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".vbs")
            scripts.push_back(entry.path());
    std::sort(scripts.begin(), scripts.end());
    ASSERT_GE(scripts.size(), 3u);
    for (const auto &path : scripts) {
        SCOPED_TRACE(path.filename().string());
        scripttest::Scratch dir;
        const std::string result =
            scripttest::Call(scripttest::ReadFile(path.string()), "Main",
                             {scripttest::Text(dir.path()), scripttest::Text(server.Url(""))});
        std::filesystem::path expected = path;
        expected.replace_extension(".expected");
        // KESTRUN_WRITE_EXPECTED=1 records the results as the new expected output.
        if (std::getenv("KESTRUN_WRITE_EXPECTED"))
            std::ofstream(expected, std::ios::binary) << Lf(result);
        EXPECT_EQ(Lf(result), Lf(scripttest::ReadFile(expected.string())));
    }
}

} // namespace
