// WScript.Shell through scripts: environment, current directory, Run and Exec.
#include "script_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

using scripttest::Call;
using scripttest::ReadFile;
using scripttest::Scratch;
using scripttest::Text;

// No child of this process is left to collect.
bool NoChildrenLeft() {
    errno = 0;
    return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

TEST(WshShell, EnvironmentIsTheScriptsOwnAndReachesItsPrograms) {
    ::setenv("KESTRUN_IO_HOME", "/home/k", 1);
    ::unsetenv("KESTRUN_IO_SET");
    const char *script = R"(
Function Main()
    Dim sh, env, r, e, n
    Set sh = CreateObject("WScript.Shell")
    r = sh.ExpandEnvironmentStrings("%KESTRUN_IO_HOME%\x|%kestrun_io_home%|%NO_SUCH_VAR%|%%|50%|%KESTRUN_IO_HOME")
    Set env = sh.Environment("PROCESS")
    env("KESTRUN_IO_SET") = "a b"
    r = r & "|" & env("KESTRUN_IO_SET") & "|" & env.Item("NO_SUCH_VAR") & "|"
    r = r & CreateObject("WScript.Shell").ExpandEnvironmentStrings("%KESTRUN_IO_SET%")
    r = r & "|" & sh.Run("test ""$KESTRUN_IO_SET"" = 'a b'", 0, True)
    For Each e In env
        If Left(e, 15) = "KESTRUN_IO_SET=" Then n = n + 1
    Next
    r = r & "|" & n & "|" & (env.Count > 2)
    env.Remove "KESTRUN_IO_SET"
    r = r & "|" & sh.Run("test -z ""$KESTRUN_IO_SET""", 0, True) & "|" & env("KESTRUN_IO_SET")
    Main = r
End Function
)";
    EXPECT_EQ(Call(script, "Main"),
              "/home/k\\x|/home/k|%NO_SUCH_VAR%|%%|50%|%KESTRUN_IO_HOME|a b||a b|0|1|True|0|");
    // The host process's own environment is untouched.
    EXPECT_EQ(std::getenv("KESTRUN_IO_SET"), nullptr);
    EXPECT_TRUE(NoChildrenLeft());
}

TEST(WshShell, CurrentDirectoryIsKeptPerScriptAndGivenToPrograms) {
    Scratch dir;
    std::filesystem::create_directory(dir / "sub");
    const std::string before = std::filesystem::current_path().string();
    const char *script = R"(
Function Main(dir)
    Dim sh, r
    Set sh = CreateObject("WScript.Shell")
    sh.CurrentDirectory = dir
    sh.CurrentDirectory = "sub"
    r = (sh.CurrentDirectory = dir & "/sub")
    r = r & "|" & sh.Run("pwd > here.txt", 1, True)
    On Error Resume Next
    sh.CurrentDirectory = dir & "/missing"
    r = r & "|" & Hex(Err.Number) & "|" & Err.Source & "|" & (sh.CurrentDirectory = dir & "/sub")
    Main = r
End Function
)";
    EXPECT_EQ(Call(script, "Main", {Text(dir.path())}),
              "True|0|80070003|WshShell.CurrentDirectory|True");
    EXPECT_EQ(ReadFile(dir / "sub/here.txt"), dir / "sub\n");
    EXPECT_EQ(std::filesystem::current_path().string(), before);
}

TEST(WshShell, RunReturnsExitCodesAndLeavesNoChildBehind) {
    Scratch dir;
    const char *script = R"(
Function Main(dir)
    Dim sh : Set sh = CreateObject("WScript.Shell")
    Main = sh.Run("exit 3", 0, True) & "|" & sh.Run("kill -9 $$", 0, True) & "|" & _
           sh.Run("no-such-command-here 2>/dev/null", 0, True) & "|" & _
           sh.Run("sleep 1; echo done > '" & dir & "/late.txt'", 0, False) & "|" & _
           sh.Run("exit 5")
End Function
)";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Call(script, "Main", {Text(dir.path())}), "3|137|127|0|0");
    // Not waited for: the call came back before the command's pause was over.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(NoChildrenLeft());
    for (int i = 0; i < 200 && ReadFile(dir / "late.txt").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ReadFile(dir / "late.txt"), "done\n");
}

TEST(WshShell, ExecReadsBothOutputsWithoutStalling) {
    // 200 KiB on standard error before anything on standard output: reading standard output
    // first must take the error output in meanwhile.
    const char *script = R"(
Function Main()
    Dim sh, ex, out, err
    Set sh = CreateObject("WScript.Shell")
    Set ex = sh.Exec("head -c 204800 /dev/zero | tr '\0' e >&2; head -c 300000 /dev/zero | tr '\0' o; exit 4")
    out = ex.StdOut.ReadAll
    err = ex.StdErr.ReadAll
    Do While ex.Status = 0 : Loop
    Main = Len(out) & "|" & Len(err) & "|" & Left(out, 2) & Left(err, 2) & "|" & ex.ExitCode & "|" & (ex.ProcessID > 0)
End Function
)";
    EXPECT_EQ(Call(script, "Main"), "300000|204800|ooee|4|True");
    EXPECT_TRUE(NoChildrenLeft());
}

TEST(WshShell, ExecLinesInputTextAndTermination) {
    const char *script = R"(
Function Main()
    Dim sh, ex, r
    Set sh = CreateObject("WScript.Shell")
    Set ex = sh.Exec("printf '中文\r\nb\nlast'")
    Do Until ex.StdOut.AtEndOfStream
        r = r & "[" & ex.StdOut.ReadLine & "]"
    Loop
    Set ex = sh.Exec("tr a-z A-Z")
    ex.StdIn.Write "hello "
    ex.StdIn.WriteLine "world"
    ex.StdIn.Close
    r = r & "|" & ex.StdOut.ReadAll
    Set ex = sh.Exec("sleep 30")
    r = r & "|" & ex.Status
    ex.Terminate
    Do While ex.Status = 0 : Loop
    r = r & "|" & ex.ExitCode
    On Error Resume Next
    x = ex.StdOut.ReadLine
    r = r & "|" & Err.Number
    Main = r
End Function
)";
    EXPECT_EQ(Call(script, "Main"), "[中文][b][last]|HELLO WORLD\r\n|0|143|62");
    EXPECT_TRUE(NoChildrenLeft());
}

} // namespace
