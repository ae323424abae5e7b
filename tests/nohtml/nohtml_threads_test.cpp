// NoHTML and the text utilities share compiled patterns between threads: calls made at the
// same time must not disturb each other.
#include "kestrun/codecs/nohtml.h"
#include "kestrun/textutil/text_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

TEST(NoHtmlThreads, ConcurrentCallsGiveTheSameResults) {
    std::string page;
    for (int i = 0; i < 50; ++i) {
        page += "<style>p{}</style><p>row " + std::to_string(i) + " &amp; <b>x</b></p>\r\n";
    }
    const std::string expected = kestrun::codecs::NoHtml(page, 15);
    const std::string replaced = kestrun::textutil::ReplaceMatches(page, "<(/?)b>", "[$1B]");
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < failures.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                failures[t] += kestrun::codecs::NoHtml(page, 15) != expected ? 1 : 0;
                failures[t] +=
                    kestrun::textutil::ReplaceMatches(page, "<(/?)b>", "[$1B]") != replaced ? 1 : 0;
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}
