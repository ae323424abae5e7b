// One table of calls over every family (call_table.txt), made through the command-line host's
// session, on Linux and in each Windows build. The Linux run writes its results for the Windows
// builds to compare with byte for byte; a Windows run also repeats the table under every calling
// condition of a Visual Basic 6 host (32-bit: the stack at 0, 4, 8 and 12 modulo 16, x87 control
// words 0x37F and 0x27F, junk above 16-bit arguments; each call must leave the stack pointer and
// control word as it found them) and expects the same results every time.
#include "session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using kestrun_cli::CallConditions;
using kestrun_cli::Session;

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the whole table in a fresh working folder (the calls' files are relative paths) and
// returns what the session printed: each call echoed ("> line"), then its results and messages.
// (Paths of this program's own files are read before the working folder changes: under Wine a
// path from the root names the current drive.)
std::string RunTable(const CallConditions &conditions) {
    std::istringstream table(ReadFile(KESTRUN_CALL_TABLE));
    const fs::path start = fs::current_path();
    const std::string name = "kestrun-table-" + std::to_string(std::random_device{}());
    const fs::path folder = fs::temp_directory_path() / name;
    const fs::path printedFile = fs::temp_directory_path() / (name + ".out");
    fs::create_directories(folder);
    fs::current_path(folder);
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(
            std::fopen(printedFile.string().c_str(), "wb"), &std::fclose);
        if (out) {
            Session session(out.get(), out.get(), true);
            session.EchoLines(true);
            session.SetCallConditions(conditions);
            int number = 0;
            for (std::string line; std::getline(table, line);)
                session.RunLine(line, ++number);
        }
    }
    fs::current_path(start);
    const std::string printed = ReadFile(printedFile);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::remove(printedFile, ignored);
    return printed;
}

struct Block {
    std::string call; // the echoed line
    std::string output;
};

std::vector<Block> Blocks(const std::string &printed) {
    std::vector<Block> blocks;
    std::istringstream in(printed);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("> ", 0) == 0)
            blocks.push_back({line, ""});
        else if (!blocks.empty())
            blocks.back().output += line + "\n";
    }
    return blocks;
}

bool NotCompared(const Block &b) {
    return b.call.find("# not compared") != std::string::npos;
}
bool DiffersByDesign(const Block &b) {
    return b.call.find("# differs by design") != std::string::npos;
}

// Compares two runs block by block; `design` also skips the calls that differ by design.
void ExpectSameResults(const std::string &want, const std::string &got, bool design,
                       const std::string &what) {
    const std::vector<Block> a = Blocks(want), b = Blocks(got);
    ASSERT_EQ(a.size(), b.size()) << what << ": the runs made different numbers of calls";
    int compared = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].call, b[i].call) << what;
        if (NotCompared(a[i]) || (design && DiffersByDesign(a[i])))
            continue;
        ++compared;
        EXPECT_EQ(a[i].output, b[i].output) << what << ": " << a[i].call;
    }
    EXPECT_GT(compared, 60) << what;
}

TEST(CallTable, SameResultsAsLinux) {
    const std::string printed = RunTable({});
    std::ofstream(KESTRUN_CALL_TABLE_OUTPUT, std::ios::binary) << printed;
    const std::vector<Block> blocks = Blocks(printed);
    ASSERT_GT(blocks.size(), 60u);
    for (const Block &b : blocks)
        EXPECT_EQ(b.output.find("is not available"), std::string::npos) << b.call;
#ifdef _WIN32
    const fs::path linux = KESTRUN_LINUX_CALL_TABLE;
    ASSERT_TRUE(fs::exists(linux))
        << linux
        << " is missing: the Linux build's call_table_test writes it (tools/build-windows.sh"
        << " runs it before the Windows tests)";
    ExpectSameResults(ReadFile(linux), printed, true, "Linux against this build");
#else
    // Anything that changes from run to run would make the Windows comparison fail.
    ExpectSameResults(printed, RunTable({}), false, "a second run");
#endif
}

#ifdef _WIN32
TEST(CallTable, SameResultsUnderEveryCallingCondition) {
    const std::string reference = RunTable({0, 0x37F, false});
    const unsigned misalignments[] = {0, 4, 8, 12};
    for (unsigned misalignment : misalignments) {
        if (sizeof(void *) == 8 && misalignment != 0)
            continue; // the 64-bit calling convention keeps the stack aligned
        for (unsigned controlWord : {0x37Fu, 0x27Fu}) {
            char what[64];
            std::snprintf(what, sizeof what, "stack at %u modulo 16, control word 0x%X",
                          misalignment, controlWord);
            const std::string printed = RunTable({misalignment, controlWord, misalignment != 0});
            EXPECT_EQ(printed.find("stack pointer moved"), std::string::npos) << what;
            EXPECT_EQ(printed.find("control word came back"), std::string::npos) << what;
            ExpectSameResults(reference, printed, false, what);
        }
    }
}
#endif

} // namespace
