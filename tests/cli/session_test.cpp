// The command-line host as a user drives it: session lines and their words, variables flowing
// from one call to the next, errors with line numbers, exit status, help and version.
#include "command.h"
#include "session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kestrun_cli::IsVariable;
using kestrun_cli::SplitLine;
using kestrun_cli::Word;
using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::ScratchFolder;
using testsupport::ShellQuote;
using testsupport::WriteFile;

std::vector<std::string> Texts(std::string_view line) {
    std::string error;
    const auto words = SplitLine(line, error);
    std::vector<std::string> texts;
    if (!words) {
        texts.push_back("error: " + error);
        return texts;
    }
    for (const auto &w : *words) {
        texts.push_back((w.plain ? "" : "q:") + w.text);
    }
    return texts;
}

using Texts_t = std::vector<std::string>;

TEST(SessionLine, WordsQuotesEscapesAndComments) {
    EXPECT_EQ(Texts("  Base64Encode_GB   abc  "), (Texts_t{"Base64Encode_GB", "abc"}));
    EXPECT_EQ(Texts("# only a comment"), Texts_t{});
    EXPECT_EQ(Texts(""), Texts_t{});
    EXPECT_EQ(Texts("A b # c d"), (Texts_t{"A", "b"}));
    EXPECT_EQ(Texts("A b#c"), (Texts_t{"A", "b#c"}));
    EXPECT_EQ(Texts("A \"# not a comment\""), (Texts_t{"A", "q:# not a comment"}));
    EXPECT_EQ(Texts(R"(A "x\"y\\z\n\t" '\d+ $1')"), (Texts_t{"A", "q:x\"y\\z\n\t", "q:\\d+ $1"}));
    // An unknown escape keeps its backslash, so patterns read naturally in double quotes.
    EXPECT_EQ(Texts(R"(A "\d+\w")"), (Texts_t{"A", "q:\\d+\\w"}));
    EXPECT_EQ(Texts("A pre\"mid dle\"'post'"), (Texts_t{"A", "q:premid dlepost"}));
    EXPECT_EQ(Texts("A \"\" ''"), (Texts_t{"A", "q:", "q:"}));
    EXPECT_EQ(Texts("A 'open"), (Texts_t{"error: a ' quote is not closed"}));
    EXPECT_EQ(Texts("A \"open\\\""), (Texts_t{"error: a \" quote is not closed"}));
    EXPECT_EQ(Texts("A b\r"), (Texts_t{"A", "b"}));
}

TEST(SessionLine, NumbersAreDecimalOrHexadecimal) {
    using kestrun_cli::ParseNumber;
    EXPECT_EQ(ParseNumber("42"), 42);
    EXPECT_EQ(ParseNumber("-1"), -1);
    EXPECT_EQ(ParseNumber("+7"), 7);
    EXPECT_EQ(ParseNumber("010"), 10); // not octal
    EXPECT_EQ(ParseNumber("0x1F"), 31);
    EXPECT_EQ(ParseNumber("-0x10"), -16);
    EXPECT_EQ(ParseNumber(""), 0);
    EXPECT_EQ(ParseNumber("9223372036854775807"), INT64_MAX);
    for (const char *bad : {"1O", "abc", "0x", "-", "1 ", " 1", "9223372036854775808", "1.5"}) {
        EXPECT_FALSE(ParseNumber(bad)) << bad;
    }
}

TEST(SessionLine, VariablesAreOnlyPlainDollarNames) {
    EXPECT_TRUE(IsVariable(Word{"$db", true}));
    EXPECT_TRUE(IsVariable(Word{"$_x9", true}));
    EXPECT_FALSE(IsVariable(Word{"$db", false}));
    EXPECT_FALSE(IsVariable(Word{"$", true}));
    EXPECT_FALSE(IsVariable(Word{"$1", true}));
    EXPECT_FALSE(IsVariable(Word{"$a-b", true}));
    EXPECT_FALSE(IsVariable(Word{"db", true}));
}

std::string Kestrun() {
    return ShellQuote(KESTRUN_CLI);
}

CommandResult RunSession(const ScratchFolder &scratch, const std::string &script,
                         const std::string &options = "") {
    const std::string file = scratch / "session.txt";
    WriteFile(file, script);
    return RunCommand(Kestrun() + " " + options + " -f " + ShellQuote(file) + " 2>&1");
}

TEST(SessionRun, HandlesArraysAndOutValuesFlowBetweenCalls) {
    ScratchFolder scratch("kestrun-session");
    const std::string db = scratch / "demo.db";
    const CommandResult r = RunSession(
        scratch,
        "# a table of GBK rows, written in one transaction and read back\n"
        "SQLite_Open $db " +
            ShellQuote(db) +
            " $message\n"
            "SQLite_Execute $db \"create table 城市(名称 text, 人口 integer);"
            " insert into 城市 values('北京', 21);"
            " insert into 城市 values('上海', 24)\" $message\n"
            "SQLite_ReadData $db 'select 名称, 人口 from 城市 order by 人口' $rows $message\n"
            "\n"
            "$n = StrToHex_GB $message 1\n"
            "Base64Encode_UTF8 $message   # the empty message from the last call\n"
            "Regex_Search \"a1b22\" \"\\d+\" $found -1\n"
            "RunVBFunction \"Function Twice(n) : Twice = 2 * n : End Function\" Twice 21 $v $e\n"
            "Base64Encode_GB $v\n"
            "SQLite_Close $db\n"
            "SQLite_Close $db\n");
    EXPECT_EQ(r.status, 1) << r.output; // the second close reports 0
    for (const char *expected :
         {"  [1] (null) | 北京 | 21\n", "  [2] (null) | 上海 | 24\n", "  [2] 22\n", "arg 4: 42\n",
          "NDI=\n", "line 12: SQLite_Close reported"}) {
        EXPECT_NE(r.output.find(expected), std::string::npos) << expected << "\n" << r.output;
    }
    EXPECT_EQ(r.output.find("操作发生失败"), std::string::npos) << r.output;
}

TEST(SessionRun, ErrorsNameTheLineAndTheStatusSaysWhetherAllSucceeded) {
    ScratchFolder scratch("kestrun-session");
    const CommandResult good = RunSession(scratch, "Base64Encode_UTF8 你好\n"
                                                   "$x = MD532_GB abc\n"
                                                   "ExplodeData $x 9001 3cd\n"
                                                   "help Permutation\n");
    EXPECT_EQ(good.status, 0) << good.output;
    EXPECT_NE(good.output.find("5L2g5aW9\n900150983cd24fb0d6963f7d28e17f72\n4\n"),
              std::string::npos)
        << good.output;
    EXPECT_NE(good.output.find("ref-long       out    receives the number"), std::string::npos)
        << good.output;

    const CommandResult bad = RunSession(scratch, "NoSuchExport 1\n"
                                                  "Base64Encode_GB a b\n"
                                                  "SQLite_Execute $never \"select 1\" $m\n"
                                                  "Base64Encode_GB 'unclosed\n"
                                                  "NoHTML <b>x</b> 1O\n"
                                                  "Base64Encode_GB fine\n");
    EXPECT_EQ(bad.status, 1);
    for (const char *expected :
         {"line 1: no export named NoSuchExport",
          "line 2: Base64Encode_GB takes 1 argument, 2 given", "line 3: unknown variable $never",
          "line 4: a ' quote is not closed",
          "line 5: argument 2 of NoHTML (options) is not a number: 1O", "ZmluZQ==\n"}) {
        EXPECT_NE(bad.output.find(expected), std::string::npos) << expected << "\n" << bad.output;
    }

    // Standard input is a session too, and -e shows each line before its output.
    const CommandResult piped =
        RunCommand("printf 'Base64Encode_GB abc\\n' | " + Kestrun() + " -e 2>&1");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.output, "> Base64Encode_GB abc\nYWJj\n");
}

TEST(CommandLine, OneCallHelpVersionAndUsage) {
    CommandResult r = RunCommand(Kestrun() + " Base64Encode_UTF8 你好");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "5L2g5aW9\n");
    r = RunCommand(Kestrun() + " -x Base64Decode_GB QQBC");
    EXPECT_EQ(r.output, "41\n");
    r = RunCommand(Kestrun() + " Regex_Search a1b22 '\\d+' '' -1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "1\narg 3:\n  [0] (null)\n  [1] 1\n  [2] 22\n");
    r = RunCommand(Kestrun() + " SQLite_Close 0 2>&1");
    EXPECT_EQ(r.status, 1) << r.output;

    r = RunCommand(Kestrun() + " --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("usage: kestrun"), std::string::npos);
    EXPECT_NE(r.output.find("SQLite_Open(connection, databasePath, message) -> Long"),
              std::string::npos);
    r = RunCommand(Kestrun() + " help SQLite_Open");
    EXPECT_EQ(r.status, 0);
    for (const char *expected :
         {"connection", "ref-long", "out", "databasePath", "Example:", "SQLite_Open $db"}) {
        EXPECT_NE(r.output.find(expected), std::string::npos) << expected << "\n" << r.output;
    }
    r = RunCommand(Kestrun() + " --version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "kestrun " KESTRUN_VERSION " (libkestrun.so." KESTRUN_VERSION_MAJOR ")\n");

    r = RunCommand(Kestrun() + " --frobnicate 2>&1");
    EXPECT_EQ(r.status, 2);
    r = RunCommand(Kestrun() + " help NoSuchExport 2>&1");
    EXPECT_EQ(r.status, 2);
    r = RunCommand(Kestrun() + " NoSuchExport 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("no export named NoSuchExport"), std::string::npos);
    r = RunCommand(Kestrun() + " -f /nonexistent/session 2>&1");
    EXPECT_EQ(r.status, 2);
}

// On a terminal plain kestrun prompts for calls; script(1) gives it one.
TEST(CommandLine, PromptOnATerminal) {
    if (RunCommand("command -v script >/dev/null").status != 0) {
        GTEST_SKIP() << "script (util-linux) is not installed";
    }
    const CommandResult r = RunCommand("printf 'Base64Encode_GB abc\\nNoSuch\\n' | script -qec " +
                                       ShellQuote(Kestrun()) + " /dev/null");
    EXPECT_EQ(r.status, 1) << r.output; // one line failed
    for (const char *expected :
         {"kestrun> ", "YWJj", "kestrun: no export named NoSuch (kestrun help lists them)"}) {
        EXPECT_NE(r.output.find(expected), std::string::npos) << expected << "\n" << r.output;
    }
}

// The help's examples of the exports that need no files, network or desktop run as written.
TEST(CommandLine, HelpExamplesRun) {
    for (const char *name : {"Base64Encode_GB", "Base64Decode_UTF8", "UrlEncode_UTF8",
                             "UnicodeDecode",   "HTMLEncode",        "NoHTML",
                             "StrToHex_UTF8",   "HexToStr_GB",       "MD532_UTF8",
                             "AESEncrypt_GB",   "AESDecrypt_GB",     "Regex_Search",
                             "Regex_Replace",   "ExplodeData",       "StrCompare",
                             "Permutation",     "Combination",       "RunVBScript",
                             "RunVBFunction",   "RunVBFunction_MT"}) {
        const auto *info = kestrun_cli::FindExport(kestrun_cli::BuiltInExports(), name);
        ASSERT_NE(info, nullptr) << name;
        const CommandResult r =
            RunCommand("printf '%s\\n' " + ShellQuote(info->name + " " + info->example) + " | " +
                       Kestrun() + " 2>&1");
        EXPECT_EQ(r.status, 0) << name << ": " << info->example << "\n" << r.output;
        if (info->name == "RunVBFunction_MT") {
            // A line feed at the end of the text makes its one row a table.
            EXPECT_NE(r.output.find("arg 3:\n  [0] 49\n"), std::string::npos) << r.output;
        }
    }
    // The decryption example takes back what the encryption example made.
    const CommandResult round = RunCommand(
        Kestrun() + " AESDecrypt_GB " +
        ShellQuote(kestrun_cli::FindExport(kestrun_cli::BuiltInExports(), "AESDecrypt_GB")
                       ->example.substr(0, 24)) +
        " 1234567890123456 abcdefghijklmnop 1 1 0");
    EXPECT_EQ(round.output, "你好世界\n");
}

} // namespace
