// Internal pieces that the exported surface cannot reach deterministically: float text over many
// values, and the null result when memory runs out.
#include "exports.h"
#include "json_text.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace safe_eval;

namespace {

std::string float_string(double v) {
    char text[kFloatTextCapacity];
    return std::string(text, float_text(v, text));
}

void *failing_allocator(std::size_t) {
    return nullptr;
}

std::string string_text(std::string_view text) {
    TextSink counter;
    serde_json_str(text, counter);
    std::string out(counter.size(), '\0');
    TextSink writer(out.data());
    serde_json_str(text, writer);
    EXPECT_EQ(writer.size(), out.size());
    return out;
}

// One character at a time, straight from the escape table.
std::string reference_string_text(const std::vector<std::string> &chars) {
    std::string out = "\"";
    for (const std::string &ch : chars) {
        const auto c = static_cast<unsigned char>(ch[0]);
        const unsigned code = ch.size() == 2 && c == 0xC2 ? static_cast<unsigned char>(ch[1]) : c;
        if (ch == "\t" || ch == "\n" || ch == "\r" || ch == "\"" || ch == "\\") {
            out += ch == "\t" ? "\\t" : ch == "\n" ? "\\n" : ch == "\r" ? "\\r" : "\\" + ch;
        } else if ((ch.size() == 1 && (c < 0x20 || c == 0x7F)) ||
                   (ch.size() == 2 && c == 0xC2 && code <= 0x9F)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", code);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

} // namespace

TEST(SafeEvalInternal, FloatTextReadsBackAndIsPositional) {
    std::mt19937_64 random(12345);
    for (int i = 0; i < 200000; ++i) {
        const double v = std::bit_cast<double>(random());
        const std::string text = float_string(v);
        if (std::isnan(v)) {
            ASSERT_EQ(text, "NaN");
            continue;
        }
        ASSERT_EQ(text.find_first_of("eE+"), std::string::npos) << text;
        ASSERT_LE(text.size(), kFloatTextCapacity);
        const double back = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v)) << text;
    }
    // Among equally short digit strings the nearest one is chosen: 9007199254740993 is not a
    // double, its neighbour 9007199254740992 is written exactly.
    EXPECT_EQ(float_string(9007199254740992.0), "9007199254740992");
    EXPECT_EQ(float_string(std::nextafter(1.0, 2.0)), "1.0000000000000002");
    EXPECT_EQ(float_string(1e22), "1" + std::string(22, '0'));
    EXPECT_EQ(float_string(2.5e-8), "0.000000025");
    EXPECT_EQ(float_string(1e15 + 0.5), "1000000000000000.5");
}

TEST(SafeEvalInternal, StringTextMatchesTheCharacterTable) {
    const std::vector<std::string> palette = {"a",
                                              "/",
                                              "~",
                                              "\t",
                                              "\n",
                                              "\r",
                                              "\"",
                                              "\\",
                                              std::string(1, '\0'),
                                              "\x01",
                                              "\x08",
                                              "\x0c",
                                              "\x1f",
                                              "\x7f",
                                              "\xC2\x80",
                                              "\xC2\x85",
                                              "\xC2\x9F",
                                              "\xC2\xA0",
                                              "\xC3\xA9",
                                              "\xE2\x80\xA8",
                                              "\xF0\x9F\x98\x80"};
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::string> chars;
        std::string text;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) {
            // Mostly plain letters, so that whole plain words and escapes meet at every offset.
            const std::string &ch =
                random() % 3 != 0 ? palette[0] : palette[random() % palette.size()];
            chars.push_back(ch);
            text += ch;
        }
        ASSERT_EQ(string_text(text), reference_string_text(chars)) << "round " << round;
    }
}

TEST(SafeEvalInternal, NullResultWhenTheTextCannotBeAllocated) {
    EXPECT_EQ(render_result(EvalError::syntax("Empty stack"), failing_allocator), nullptr);
    EXPECT_EQ(render_result(Value(std::string(100, 'x')), failing_allocator), nullptr);
    char *text = render_result(Value(std::int64_t{42}), std::malloc);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, R"({"ok":true,"value":{"type":"int","value":42}})");
    std::free(text);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A run that builds a string larger than the memory allowed to the process ends with a null
// result instead of a crash. Runs in a child process with a capped address space.
TEST(SafeEvalInternal, NullResultWhenMemoryRunsOutDuringTheRun) {
    // 2000 literals of 10000 bytes concatenated: a 20 MB string.
    std::vector<std::uint8_t> program;
    const std::string literal(10000, 'm');
    for (int i = 0; i < 2000; ++i) {
        program.insert(program.end(), {0x03, 0x10, 0x27, 0x00, 0x00});
        program.insert(program.end(), literal.begin(), literal.end());
        if (i != 0) {
            program.push_back(0x10);
        }
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        // Current mappings plus 8 MB: far less than the string needs.
        long pages = 0;
        if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) {
                pages = 0;
            }
            std::fclose(statm);
        }
        limit.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                         8 * 1024 * 1024;
        setrlimit(RLIMIT_AS, &limit);
        char *text = eval(program.data(), program.size(), 60000);
        _exit(text == nullptr ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child died with signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "eval produced a text despite the exhausted memory";
}
#endif
