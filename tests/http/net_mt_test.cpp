// Net_MT with many rows against a server on 127.0.0.1; run under ThreadSanitizer as well.
#include "loopback_server.h"
#include "vbhost.h"

#include <gtest/gtest.h>

using vbhost::Array;
using vbhost::Gbk;

#ifndef _WIN32
// The C library's text converters load and unload their code-page modules through the dynamic
// loader, which guards its own bookkeeping with a lock ThreadSanitizer cannot see. Reports whose
// other side is the loader closing a module are therefore not shown; everything else is checked.
extern "C" __attribute__((visibility("default"))) const char *__tsan_default_suppressions() {
    return "race:_dl_close_worker\n";
}
#endif

namespace {

void SetRow(Array &table, long row, const std::string &url, const std::string &method,
            const std::string &headers, const std::string &body, const std::string &asText) {
    table.set({row, 0}, url);
    table.set({row, 1}, method);
    table.set({row, 2}, headers);
    table.set({row, 3}, body);
    table.set({row, 4}, asText);
}

} // namespace

TEST(NetMt, HundredMixedRowsKeepTheirResults) {
    httptest::LoopbackServer server(httptest::StandardRoutes);
    constexpr long kRows = 100;
    Array table;
    table.CreateStrings({{kRows, 0}, {6, 0}});
    for (long i = 0; i < kRows; ++i) {
        // Later rows answer sooner, so requests finish out of row order.
        const std::string delay = server.Url("/delay?ms=" + std::to_string((kRows - i) % 9 * 15) +
                                             "&id=" + std::to_string(i));
        switch (i % 10) {
        case 0:
            SetRow(table, i, delay, "GET", "", "", "1");
            break;
        case 1:
            SetRow(table, i, delay, "get", "X-Row: " + std::to_string(i), "", " +1x");
            break;
        case 2:
            SetRow(table, i, server.Url("/echo"), "POST", "", "row=" + std::to_string(i), "1");
            break;
        case 3:
            SetRow(table, i, server.Url("/echo"), "Post", "", "bytes", "");
            break;
        case 4:
            SetRow(table, i, delay, "PUT", "", "", "1");
            break;
        case 5:
            SetRow(table, i, "", "GET", "", "", "1");
            break;
        case 6:
            SetRow(table, i, server.Url("/utf8"), "GET", "", "", "abc");
            break;
        case 7:
            SetRow(table, i, server.Url("/utf8"), "GET", "", "", "1");
            break;
        case 8:
            SetRow(table, i, "ftp://127.0.0.1/x", "GET", "", "", "1");
            break;
        default:
            SetRow(table, i, server.Url("/status/404"), "GET", "", "", "0");
            break;
        }
    }
    table.set({7, 5}, "stale result");

    EXPECT_EQ(Net_MT(table.ref()), 1);

    for (long i = 0; i < kRows; ++i) {
        const std::string result = table.at({i, 5}).value_or("<null>");
        const std::string id = "id=" + std::to_string(i);
        switch (i % 10) {
        case 0:
        case 1:
            EXPECT_EQ(result, id) << i;
            break;
        case 2:
            EXPECT_TRUE(result.starts_with("method=POST\nbody=row=" + std::to_string(i) + "\n"))
                << i << ": " << result;
            break;
        case 3:
            EXPECT_TRUE(result.starts_with("method=POST\nbody=bytes\n")) << i << ": " << result;
            break;
        case 4:
            EXPECT_EQ(result, Gbk("请求类型不支持！")) << i;
            break;
        case 5:
            EXPECT_EQ(result, Gbk("未填写网址！")) << i;
            break;
        case 6:
            EXPECT_EQ(result, "你好，世界") << i; // as bytes: the page's own UTF-8
            break;
        case 7:
            EXPECT_EQ(result, Gbk("你好，世界")) << i;
            break;
        case 8:
            EXPECT_EQ(result, Gbk("不支持的协议ftp!")) << i;
            break;
        default:
            EXPECT_EQ(result, "no such page") << i;
            break;
        }
        // The input fields are left as they were.
        EXPECT_EQ(table.at({i, 1}).value_or(""), i % 10 == 1   ? "get"
                                                 : i % 10 == 3 ? "Post"
                                                 : i % 10 == 2 ? "POST"
                                                 : i % 10 == 4 ? "PUT"
                                                               : "GET");
    }
    EXPECT_EQ(table.at({1, 2}).value_or(""), "X-Row: 1");
    // Each row's headers went with its own request.
    int rowHeaders = 0;
    for (const auto &request : server.Requests()) {
        if (!request.Header("X-Row").empty()) {
            EXPECT_EQ(request.target.substr(request.target.find("id=") + 3),
                      request.Header("X-Row"));
            ++rowHeaders;
        }
    }
    EXPECT_EQ(rowHeaders, kRows / 10);
}

TEST(NetMt, TablesOutsideTheModelAreLeftAlone) {
    EXPECT_EQ(Net_MT(nullptr), 1);
    Array none;
    EXPECT_EQ(Net_MT(none.ref()), 1);

    Array empty;
    empty.CreateStrings({{0, 0}, {6, 0}});
    EXPECT_EQ(Net_MT(empty.ref()), 1);

    Array narrow;
    narrow.CreateStrings({{1, 0}, {5, 0}});
    narrow.set({0, 0}, "");
    EXPECT_EQ(Net_MT(narrow.ref()), 1);
    EXPECT_EQ(narrow.at({0, 4}).value_or("<null>"), "<null>");

    Array shifted;
    shifted.CreateStrings({{1, 1}, {6, 0}});
    EXPECT_EQ(Net_MT(shifted.ref()), 1);
    EXPECT_EQ(shifted.at({1, 5}).value_or("<null>"), "<null>");

    Array flat;
    flat.CreateStrings({{6, 0}});
    EXPECT_EQ(Net_MT(flat.ref()), 1);
    EXPECT_EQ(flat.at({5}).value_or("<null>"), "<null>");

    Array variants;
    variants.CreateVariants({{1, 0}, {6, 0}});
    EXPECT_EQ(Net_MT(variants.ref()), 1);

    // Rows whose elements were never set read as empty: no address.
    Array unset;
    unset.CreateStrings({{2, 0}, {6, 0}});
    EXPECT_EQ(Net_MT(unset.ref()), 1);
    EXPECT_EQ(unset.at({1, 5}).value_or("<null>"), Gbk("未填写网址！"));
}
