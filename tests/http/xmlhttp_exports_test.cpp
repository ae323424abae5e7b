// XMLHTTP_Get and XMLHTTP_Post called as a Visual Basic host calls them, against a server on
// 127.0.0.1: on Linux through the libcurl object, on Windows through the system's MSXML objects.
// Where the two objects differ (what they add to a request, how responseText decodes a body),
// each platform's expectations stand side by side.
#include "loopback_server.h"
#include "vbhost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#ifdef _WIN32
#include <objbase.h>
#endif

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

    // With a header line of the caller's the default is not sent. (The Windows object then adds
    // a User-Agent of its own.)
    Get(server_.Url("/hello"), "Referer:x");
    request = LastRequest();
    EXPECT_NE(request.Header("User-Agent"), kDefaultUserAgent);
#ifndef _WIN32
    EXPECT_EQ(request.HeaderCount("User-Agent"), 0);
#endif
    EXPECT_EQ(request.Header("Referer"), "x");

    // The value handed to the object keeps the blank after its colon (the libcurl object sends
    // the line as "name: " and the value; the Windows object trims it); header text without a
    // colon counts as none.
    Get(server_.Url("/hello"), "X-A: 1\r\nX-B:2");
    request = LastRequest();
    EXPECT_EQ(request.Header("X-A"), "1");
#ifndef _WIN32
    EXPECT_NE(std::find(request.headerLines.begin(), request.headerLines.end(), "X-A:  1"),
              request.headerLines.end());
#endif
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
    EXPECT_EQ(Get(server_.Url("/utf8")).body, nihao);
    EXPECT_EQ(Get(server_.Url("/plain-utf8")).body, nihao);
    EXPECT_TRUE(Get(server_.Url("/bom16")).body.ends_with(Gbk("你好")));
#ifdef _WIN32
    // The Windows object reads a body as UTF-8 unless a byte-order mark says otherwise, whatever
    // charset the page declares: a GBK page comes back intact only as bytes.
    EXPECT_NE(Get(server_.Url("/gbk")).body, nihao);
    EXPECT_NE(Get(server_.Url("/gb2312")).body, nihao);
    EXPECT_EQ(Get(server_.Url("/latin1")).body, "caf?");
#else
    // The libcurl object reads the declared charset, as browsers do.
    EXPECT_EQ(Get(server_.Url("/gbk")).body, nihao);
    EXPECT_EQ(Get(server_.Url("/gb2312")).body, nihao);
    EXPECT_EQ(Get(server_.Url("/latin1")).body, Gbk("café"));
    EXPECT_EQ(Get(server_.Url("/bom16")).body, Gbk("你好"));
#endif
    // As bytes: no conversion at all.
    EXPECT_EQ(Get(server_.Url("/gbk"), "", 0).body, nihao);
    EXPECT_EQ(Get(server_.Url("/utf8"), "", 0).body, "你好，世界");
    // An empty body is an empty result, not a failure.
    const Reply empty = Get(server_.Url("/empty"));
    EXPECT_EQ(empty.body, "");
    EXPECT_NE(empty.headers.find("Content-Type: text/plain"), std::string::npos);
    EXPECT_EQ(Get(server_.Url("/empty"), "", 0).body, "");
    // A zero byte ends the result either way.
    EXPECT_EQ(Get(server_.Url("/zero"), "", 0).body, "ab");
    EXPECT_EQ(Get(server_.Url("/zero"), "", 1).body, "ab");
    // Chunked and compressed bodies arrive whole and decoded.
    EXPECT_EQ(Get(server_.Url("/chunked"), "", 0).body, "one two three");
    const Reply gz = Get(server_.Url("/gzip"), "", 0);
    EXPECT_EQ(gz.body, "hello compressed world");
#ifndef _WIN32
    EXPECT_NE(gz.headers.find("Content-Encoding: gzip"), std::string::npos);
#endif
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

// A request that never gets an answer says why in place of a body, with no response headers.
TEST_F(XmlHttpExports, FailedRequestsSayWhy) {
    const uint16_t port = httptest::UnusedPort();
    const Reply refused = Get("http://127.0.0.1:" + std::to_string(port) + "/");
    EXPECT_TRUE(refused.body.starts_with("ERROR:")) << refused.body;
    EXPECT_EQ(refused.headers, "");
    const Reply posted = Post("http://127.0.0.1:" + std::to_string(port) + "/", "x", "", 0);
    EXPECT_TRUE(posted.body.starts_with("ERROR:")) << posted.body;

#ifndef _WIN32 // no TLS server in the Windows test build
    httptest::TestPki pki;
    httptest::LoopbackServer tls(httptest::StandardRoutes, &pki);
    const Reply untrusted = Get(tls.Url("/hello"));
    EXPECT_TRUE(untrusted.body.starts_with("ERROR:")) << untrusted.body;
    EXPECT_EQ(untrusted.headers, "");
    EXPECT_TRUE(tls.Requests().empty()); // the handshake failed: nothing was sent
#endif
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

TEST_F(XmlHttpExports, HugeArgumentsAreCarriedOrRefused) {
    // A 4 MB body goes out whole.
    const std::string big(4 << 20, 'x');
    const Reply posted = Post(server_.Url("/echo"), big, "", 0);
    EXPECT_TRUE(posted.body.starts_with("method=POST\nbody=" + big + "\n"));
    EXPECT_EQ(LastRequest().body.size(), big.size());

    // Five hundred header lines all reach the server, in their order.
    std::string headers;
    for (int i = 0; i < 500; ++i) {
        headers += "X-N" + std::to_string(i) + ": " + std::to_string(i) + "\r\n";
    }
    Get(server_.Url("/hello"), headers);
    EXPECT_EQ(LastRequest().Header("X-N0"), "0");
    EXPECT_EQ(LastRequest().Header("X-N499"), "499");

    // A 1 MB address is answered (by the server or with the object's refusal), never a crash.
    const Reply longUrl = Get(server_.Url("/" + std::string(1 << 20, 'a')));
    EXPECT_FALSE(longUrl.body.empty());
}

#ifdef _WIN32
// A call makes its own apartment on a thread without COM and undoes it; a thread whose COM is
// already set up (here a multithreaded apartment) keeps it as it was.
TEST_F(XmlHttpExports, TheCallersApartmentIsLeftAsFound) {
    std::thread([this] {
        EXPECT_EQ(Get(server_.Url("/hello")).body, "hello world");
        const HRESULT fresh = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(fresh, S_OK); // nothing was left behind
        if (SUCCEEDED(fresh)) {
            CoUninitialize();
        }
    }).join();
    std::thread([this] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(Get(server_.Url("/hello")).body, "hello world");
        EXPECT_EQ(Post(server_.Url("/echo"), "a", "", 0).body.substr(0, 12), "method=POST\n");
        // Still the same multithreaded apartment, initialised once.
        const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(again, S_FALSE);
        if (SUCCEEDED(again)) {
            CoUninitialize();
        }
        CoUninitialize();
    }).join();
}
#endif
