// Many threads calling eval at once on different programs; run under ThreadSanitizer in CI.
#include "host_library.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace safe_eval_test;

TEST(SafeEvalConcurrency, ManyThreadsEvaluateAtOnce) {
    const HostLibrary lib;
    struct Case {
        std::vector<std::uint8_t> program;
        std::string expected;
    };
    std::vector<Case> cases;
    for (int i = 0; i < 16; ++i) {
        const std::string n = std::to_string(i);
        cases.push_back({assemble("PUSH_INT " + n + "; PUSH_INT 3; MUL; PUSH_INT 1; ADD"),
                         ok_value("int", std::to_string(i * 3 + 1))});
        cases.push_back({assemble("PUSH_STR \"s" + n + "\"; PUSH_STR \"!\"; ADD"),
                         ok_value("str", "\"s" + n + "!\"")});
        cases.push_back({assemble("PUSH_INT " + n + "; PUSH_INT 0; DIV"),
                         failure("divzero", "Division by zero")});
        cases.push_back({assemble("LOAD_VAR v" + n), failure("syntax", "Unknown variable: v" + n)});
    }
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const Case &c = cases[static_cast<std::size_t>(t * 7 + round) % cases.size()];
                if (lib.run(c.program) != c.expected) {
                    ++mismatches[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    // A text made on one thread may be released on another.
    std::vector<char *> texts;
    for (const Case &c : cases) {
        texts.push_back(lib.eval_fn()(c.program.data(), c.program.size(), 1000));
    }
    std::thread releaser([&] {
        for (char *text : texts) {
            lib.free_fn()(text);
        }
    });
    releaser.join();
    for (std::thread &thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(mismatches[static_cast<std::size_t>(t)], 0) << "thread " << t;
    }
}
