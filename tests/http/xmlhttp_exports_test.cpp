// XMLHTTP_Get and XMLHTTP_Post called as a Visual Basic host calls them, against a server on
// 127.0.0.1.
#include "loopback_server.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <algorithm>

using vbhost::Gbk;
using vbhost::String;
using vbhost::TakeText;

namespace {

constexpr char kDefaultUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/73.0.3683.86 Safari/537.36";

struct Reply {
    std::string body;
    std::string headers;
    bool operator==(const Reply &) const = default;
};

Reply Get(const std::string &url, const std::string &headers = "", int32_t asText = 1,
          int32_t kind = 0) {
    String u(url), h(headers), out("stale");
    Reply r;
    r.body = TakeText(XMLHTTP_Get(u.ref(), h.ref(), out.ref(), asText, kind));
    r.headers = out.bytes();
    return r;
}

Reply Post(const std::string &url, const std::string &body, const std::string &headers = "",
           int32_t asText = 1, int32_t kind = 0) {
    String u(url), b(body), h(headers), out("stale");
    Reply r;
    r.body = TakeText(XMLHTTP_Post(u.ref(), b.ref(), h.ref(), out.ref(), asText, kind));
    r.headers = out.bytes();
    return r;
}

class XmlHttpExports : public ::testing::Test {
protected:
    httptest::LoopbackServer server_{httptest::StandardRoutes};

    httptest::Request LastRequest() const {
        const auto all = server_.Requests();
        return all.empty() ? httptest::Request{} : all.back();
    }
};

} // namespace

TEST_F(XmlHttpExports, GetReturnsBodyAndFinalHeaders) {
    for (int kind = 0; kind < 3; ++kind) {
        const Reply r = Get(server_.Url("/hello"), "", 1, kind);
        EXPECT_EQ(r.body, "hello world");
        EXPECT_TRUE(r.headers.starts_with("Connection: close\r\nContent-Type: text/plain\r\n"))
            << r.headers;
        EXPECT_TRUE(r.headers.ends_with("\r\n"));
        EXPECT_EQ(r.headers.find("HTTP/"), std::string::npos);
    }
    // Error statuses come back like any other body.
    EXPECT_EQ(Get(server_.Url("/status/404")).body, "no such page");
    EXPECT_EQ(Get(server_.Url("/status/500"), "", 0).body, "server broke");
}

TEST_F(XmlHttpExports, DefaultUserAgentOnlyWithoutHeaderLines) {
    Get(server_.Url("/hello"));
    auto request = LastRequest();
    EXPECT_EQ(request.HeaderCount("User-Agent"), 1);
    EXPECT_EQ(request.Header("User-Agent"), kDefaultUserAgent);

    Get(server_.Url("/hello"), "Referer:x");
    request = LastRequest();
    EXPECT_EQ(request.HeaderCount("User-Agent"), 0);
    EXPECT_EQ(request.Header("Referer"), "x");

    // A value keeps the blank after its colon (the line is "name: " and the value); header text
    // without a colon counts as none.
    Get(server_.Url("/hello"), "X-A: 1\r\nX-B:2");
    request = LastRequest();
    EXPECT_NE(std::find(request.headerLines.begin(), request.headerLines.end(), "X-A:  1"),
              request.headerLines.end());
    EXPECT_EQ(request.Header("X-B"), "2");
    Get(server_.Url("/hello"), "no colon");
    EXPECT_EQ(LastRequest().Header("User-Agent"), kDefaultUserAgent);
}

TEST_F(XmlHttpExports, HeaderTextIsSplitInTheCallersVariable) {
    String u(server_.Url("/hello")), h("A: 1\r\nB: 2\n"), out;
    TakeText(XMLHTTP_Get(u.ref(), h.ref(), out.ref(), 1, 0));
    EXPECT_EQ(h.bytes(), std::string("A: 1\0\nB: 2\0", 11));
    // Address failures happen before the split.
    String bad("ftp://127.0.0.1/"), h2("A: 1\r\nB: 2");
    TakeText(XMLHTTP_Get(bad.ref(), h2.ref(), out.ref(), 1, 0));
    EXPECT_EQ(h2.bytes(), "A: 1\r\nB: 2");
}

TEST_F(XmlHttpExports, BodiesAsTextAndAsBytes) {
    const std::string nihao = Gbk("你好，世界");
    EXPECT_EQ(Get(server_.Url("/gbk")).body, nihao);
    EXPECT_EQ(Get(server_.Url("/gb2312")).body, nihao);
    EXPECT_EQ(Get(server_.Url("/utf8")).body, nihao);
    EXPECT_EQ(Get(server_.Url("/plain-utf8")).body, nihao);
    EXPECT_EQ(Get(server_.Url("/latin1")).body, Gbk("café"));
    EXPECT_EQ(Get(server_.Url("/bom16")).body, Gbk("你好"));
    // As bytes: no conversion at all.
    EXPECT_EQ(Get(server_.Url("/gbk"), "", 0).body, nihao);
    EXPECT_EQ(Get(server_.Url("/utf8"), "", 0).body, "你好，世界");
    // A zero byte ends the result either way.
    EXPECT_EQ(Get(server_.Url("/zero"), "", 0).body, "ab");
    EXPECT_EQ(Get(server_.Url("/zero"), "", 1).body, "ab");
    // Chunked and compressed bodies arrive whole and decoded.
    EXPECT_EQ(Get(server_.Url("/chunked"), "", 0).body, "one two three");
    const Reply gz = Get(server_.Url("/gzip"), "", 0);
    EXPECT_EQ(gz.body, "hello compressed world");
    EXPECT_NE(gz.headers.find("Content-Encoding: gzip"), std::string::npos);
}

TEST_F(XmlHttpExports, RedirectsAreFollowed) {
    const Reply r = Get(server_.Url("/redirect/3"), "X-Trace: t1");
    EXPECT_EQ(r.body, "redirected home");
    EXPECT_NE(r.headers.find("X-Final: yes"), std::string::npos);
    EXPECT_EQ(r.headers.find("X-Hop"), std::string::npos); // only the final response's lines
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests.back().target, "/redirect/0");
    EXPECT_EQ(requests.back().Header("X-Trace"), "t1");
}

TEST_F(XmlHttpExports, PostSendsTheBodyAsUtf8) {
    const Reply r = Post(server_.Url("/echo"), Gbk("name=张三"), "", 0);
    EXPECT_TRUE(r.body.starts_with("method=POST\nbody=name=张三\n")) << r.body;
    const auto request = LastRequest();
    EXPECT_EQ(request.Header("Content-Length"), "11");
    EXPECT_EQ(request.Header("User-Agent"), kDefaultUserAgent);
    EXPECT_EQ(request.HeaderCount("Expect"), 0);

    Post(server_.Url("/echo"), "{}", "Content-Type: application/json");
    EXPECT_EQ(LastRequest().Header("Content-Type"), "application/json");
    // An empty body is still a POST.
    Post(server_.Url("/echo"), "");
    EXPECT_EQ(LastRequest().method, "POST");
    EXPECT_EQ(LastRequest().Header("Content-Length"), "0");
}

TEST_F(XmlHttpExports, AddressAndKindMessagesEmptyTheHeaders) {
    EXPECT_EQ(Get("http://1:"), (Reply{Gbk("网址长度不正确!"), ""}));
    EXPECT_EQ(Get("no-colon-address").body, Gbk("网址不能识别!"));
    EXPECT_EQ(Get("verylongscheme://x").body, Gbk("不能识别的协议verylongscheme!"));
    EXPECT_EQ(Get("FTP://127.0.0.1/").body, Gbk("不支持的协议ftp!"));
    EXPECT_EQ(Get("http:/127.0.0.1/").body, Gbk("网址格式不正确!"));
    EXPECT_EQ(Post(server_.Url("/echo"), "", "", 1, 3), (Reply{Gbk("XML类型参数错误！"), ""}));
    EXPECT_EQ(Get(server_.Url("/hello"), "", 1, 7).body, Gbk("XML类型参数错误！"));
    // The scheme is accepted in capitals and the address is used as given.
    std::string upper = server_.Url("/hello");
    upper.replace(0, 4, "HTTP");
    EXPECT_EQ(Get(upper).body, "hello world");
    EXPECT_TRUE(server_.Requests().size() == 1u);
}

TEST_F(XmlHttpExports, FailedRequestsSayWhy) {
    const uint16_t port = httptest::UnusedPort();
    const Reply refused = Get("http://127.0.0.1:" + std::to_string(port) + "/");
    EXPECT_TRUE(refused.body.starts_with("ERROR:")) << refused.body;
    EXPECT_EQ(refused.headers, "");
    const Reply posted = Post("http://127.0.0.1:" + std::to_string(port) + "/", "x", "", 0);
    EXPECT_TRUE(posted.body.starts_with("ERROR:")) << posted.body;

    httptest::TestPki pki;
    httptest::LoopbackServer tls(httptest::StandardRoutes, &pki);
    const Reply untrusted = Get(tls.Url("/hello"));
    EXPECT_TRUE(untrusted.body.starts_with("ERROR:")) << untrusted.body;
    EXPECT_EQ(untrusted.headers, "");
    EXPECT_TRUE(tls.Requests().empty()); // the handshake failed: nothing was sent
}

TEST_F(XmlHttpExports, NullArgumentsAreSafe) {
    EXPECT_EQ(TakeText(XMLHTTP_Get(nullptr, nullptr, nullptr, 1, 0)), Gbk("网址长度不正确!"));
    EXPECT_EQ(TakeText(XMLHTTP_Post(nullptr, nullptr, nullptr, nullptr, 0, 0)),
              Gbk("网址长度不正确!"));
    String u(server_.Url("/echo")), unset, out;
    EXPECT_TRUE(TakeText(XMLHTTP_Post(u.ref(), unset.ref(), unset.ref(), nullptr, 1, 0))
                    .starts_with("method=POST\nbody=\n"));
    EXPECT_EQ(LastRequest().Header("User-Agent"), kDefaultUserAgent);
    EXPECT_EQ(TakeText(XMLHTTP_Get(u.ref(), nullptr, out.ref(), 0, 0)).substr(0, 11),
              "method=GET\n");
    EXPECT_FALSE(out.bytes().empty());
}
