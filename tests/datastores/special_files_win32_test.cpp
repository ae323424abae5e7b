// Data-store exports and what Windows names besides files: devices (NUL, CON), named pipes, and
// writers of one INI file in two processes, who take turns through a named mutex.
#include "host_calls.h"
#include "test_files.h"
#include "vbhost.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using dshost::Database;
using dshost::kOpenFailed;
using dshost::Read;
using dshost::Write;

// Device names, plain and in the device namespace; a bare name is looked for beside the library,
// where Windows still reads it as the device.
const char *const kDevices[] = {"NUL", "CON", "nul.ini", "\\\\.\\NUL", "\\\\.\\CON"};

std::vector<std::string> DevicesAnd(const testfiles::ServedPipe &pipe) {
    std::vector<std::string> paths(std::begin(kDevices), std::end(kDevices));
    paths.push_back(pipe.path());
    return paths;
}

TEST(SQLiteOpenWindows, DevicesAndPipesAreNoDatabases) {
    testfiles::ServedPipe pipe;
    ASSERT_TRUE(pipe.served());
    for (const std::string &path : DevicesAnd(pipe)) {
        Database db(path);
        EXPECT_EQ(db.opened, 0) << path;
        EXPECT_EQ(db.openMessage, "14" + kOpenFailed) << path;
        EXPECT_EQ(db.Execute("create table t(x)"), 0) << path;
    }
}

TEST(IniValuesWindows, DevicesAndPipesAreNeitherWaitedOnNorReplaced) {
    testfiles::ServedPipe pipe;
    ASSERT_TRUE(pipe.served());
    for (const std::string &path : DevicesAnd(pipe)) {
        EXPECT_EQ(Read("S", "K", "fallback", path), "fallback") << path;
        EXPECT_EQ(Write("S", "K", "v", path), 0) << path;
    }
}

TEST(IniValuesWindows, ASpellingInOtherCaseIsTheSameFile) {
    testfiles::TempFolder folder;
    ASSERT_NE(Write("S", "K", "1", folder / "Case.ini"), 0);
    ASSERT_NE(Write("S", "Other", "2", folder / "CASE.INI"), 0);
    EXPECT_EQ(Read("S", "K", "", folder / "case.ini"), "1");
    EXPECT_EQ(Read("S", "Other", "", folder / "Case.ini"), "2");
    EXPECT_EQ(testfiles::Listing(folder.path()).size(), 1u);
}

// The second process of the test below: writes its keys into the file named by the environment.
constexpr const char *kWriterFile = "KESTRUN_TEST_INI_WRITER";
constexpr int kKeys = 25;

bool WriteKeys(const std::string &prefix, const std::string &file) {
    bool allWritten = true;
    for (int i = 0; i < kKeys; ++i) {
        allWritten =
            Write("S", prefix + std::to_string(i), std::to_string(i), file) != 0 && allWritten;
    }
    return allWritten;
}

TEST(IniWriterProcess, WritesItsKeys) {
    const char *file = std::getenv(kWriterFile);
    if (file == nullptr) {
        GTEST_SKIP() << "only run as the second writer process";
    }
    EXPECT_TRUE(WriteKeys("child", file));
}

TEST(IniValuesWindows, WritersInTwoProcessesKeepEachOthersKeys) {
    testfiles::TempFolder folder;
    const std::string file = folder / "p.ini";
    wchar_t program[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    std::wstring command =
        L"\"" + std::wstring(program) + L"\" --gtest_filter=IniWriterProcess.WritesItsKeys";
    const std::wstring wideFile(file.begin(), file.end()); // an ASCII path
    ASSERT_TRUE(SetEnvironmentVariableW(L"KESTRUN_TEST_INI_WRITER", wideFile.c_str()));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    const BOOL started = CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &child);
    SetEnvironmentVariableW(L"KESTRUN_TEST_INI_WRITER", nullptr);
    ASSERT_TRUE(started);
    const bool allWritten = WriteKeys("parent", file);
    EXPECT_EQ(WaitForSingleObject(child.hProcess, 120000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(allWritten);
    for (int i = 0; i < kKeys; ++i) {
        EXPECT_EQ(Read("S", "child" + std::to_string(i), "", file), std::to_string(i)) << i;
        EXPECT_EQ(Read("S", "parent" + std::to_string(i), "", file), std::to_string(i)) << i;
    }
    EXPECT_EQ(testfiles::Listing(folder.path()).size(), 1u); // no temporary file left behind
}

} // namespace
