// The request object of the Linux build (libcurl) and the charset and wire helpers behind it:
// time limits, certificates, cookies and redirects against loopback servers.
#include "kestrun/automation/http/charset.h"
#include "kestrun/automation/http/curl_request.h"
#include "kestrun/automation/http/request_wire.h"
#include "kestrun/automation/http/xmlhttp.h"
#include "loopback_server.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace kestrun::http;
using namespace std::chrono_literals;

namespace {

// 你好，世界 in GBK.
const std::string kNihaoGbk = "\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7";

HttpOutcome Get(const std::string &url, std::string headers, int32_t asText, int32_t kind,
                const RequestObjectFactory &factory) {
    return PerformXmlHttp(Verb::Get, url, headers, {}, asText, kind, factory);
}

RequestObjectFactory CurlFactory(RequestOptions options) {
    return [options](ObjectKind kind) { return CreateCurlRequest(kind, options); };
}

} // namespace

TEST(CharsetLogic, LabelsAndDecoding) {
    EXPECT_EQ(CharsetOf("text/html; Charset=\"GB2312\""), "gb2312");
    EXPECT_EQ(CharsetOf("text/html;charset=utf-8;q=1"), "utf-8");
    EXPECT_EQ(CharsetOf("text/html"), "");
    EXPECT_EQ(CharsetOf("text/html; name=charset"), "");
    EXPECT_EQ(ConverterNameFor("GB2312"), "GB18030");
    EXPECT_EQ(ConverterNameFor("koi8-r"), "KOI8-R");
    EXPECT_EQ(ConverterNameFor("../../etc"), "");
    EXPECT_EQ(ConverterNameFor("utf-8//translit"), "");

    EXPECT_EQ(DecodeBody(kNihaoGbk, "gbk"), u"你好，世界");
    EXPECT_EQ(DecodeBody("\xE4\xBD\xA0(", ""), u"你(");
    EXPECT_EQ(DecodeBody("\xC3(", "utf-8"), u"\xFFFD(");
    EXPECT_EQ(DecodeBody("\xE4\xBD", "no-such-charset"), u"\xFFFD\xFFFD");
    EXPECT_EQ(DecodeBody("\xEF\xBB\xBFok", "gbk"), u"ok"); // the mark wins
    EXPECT_EQ(DecodeBody("\xFE\xFF\x4F\x60", ""), u"你");
    EXPECT_EQ(DecodeBody("caf\xE9", "us-ascii"), u"café");
    // A lone surrogate in UTF-16 is one replacement; the units after it keep their alignment.
    EXPECT_EQ(DecodeBody(std::string("a\0\0\xD8"
                                     "b\0",
                                     6),
                         "utf-16le"),
              u"a\xFFFD"
              "b");
    EXPECT_EQ(DecodeBody(std::string("\0a\xDC\0\0b\xD8\0", 8), "utf-16be"), u"a\xFFFD"
                                                                            "b\xFFFD");
    EXPECT_EQ(DecodeBody(std::string("\xFF\xFEx\0\0\xDCy\0z", 9), ""), u"x\xFFFD"
                                                                       "y\xFFFD");

    EXPECT_TRUE(IsValidUtf8("plain \xE4\xBD\xA0"));
    EXPECT_FALSE(IsValidUtf8("\xE4\xBD"));
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));     // overlong
    EXPECT_EQ(DecodeHeaderText("name=" + kNihaoGbk), u"name=你好，世界");
}

TEST(WireLogic, UrlsAndHeaderLines) {
    EXPECT_EQ(EncodeUrlForWire("http://h\xC3\xA9.cn/a b/\xE4\xBD\xA0?q=\"x\"#f"),
              "http://h\xC3\xA9.cn/a%20b/%E4%BD%A0?q=%22x%22#f");
    EXPECT_EQ(EncodeUrlForWire("http://host"), "http://host");
    EXPECT_EQ(HeaderLineFor("X-A", " 1"), "X-A:  1");
    EXPECT_EQ(HeaderLineFor("X-B", "2"), "X-B: 2");
    EXPECT_EQ(HeaderLineFor("X-Empty", "  "), "X-Empty;");
    EXPECT_TRUE(IsHttpToken("X-Custom_1"));
    EXPECT_FALSE(IsHttpToken("Bad Name"));
    EXPECT_FALSE(IsHttpToken(""));
    EXPECT_TRUE(HeaderLineNames("expect:", "Expect"));
    EXPECT_FALSE(HeaderLineNames("Expected: 1", "Expect"));
}

TEST(CurlRequest, SilentServerHitsTheStallLimit) {
    httptest::LoopbackServer server(httptest::StandardRoutes);
    RequestOptions options;
    options.limits.stall = 1s;
    const auto start = std::chrono::steady_clock::now();
    auto out = Get(server.Url("/silent"), "", 1, 0, CurlFactory(options));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(out.result.starts_with("ERROR:")) << out.result;
    EXPECT_EQ(out.responseHeaders, "");
    EXPECT_LT(waited, 10s);

    // A slow body that keeps arriving is not cut off.
    out = Get(server.Url("/slow"), "", 1, 0, CurlFactory(options));
    EXPECT_EQ(out.result, "one two three");
}

TEST(CurlRequest, TotalLimitEndsTheRequest) {
    httptest::LoopbackServer server(httptest::StandardRoutes);
    RequestOptions options;
    options.limits.total = 200ms;
    auto out = Get(server.Url("/slow"), "", 1, 1, CurlFactory(options));
    EXPECT_TRUE(out.result.starts_with("ERROR:")) << out.result;
}

TEST(CurlRequest, HttpsTrustsOnlyKnownAuthorities) {
    httptest::TestPki pki;
    httptest::LoopbackServer server(httptest::StandardRoutes, &pki);
    RequestOptions trusting;
    trusting.trustedCertificates = pki.CaFile();
    for (int kind = 0; kind < 3; ++kind) {
        auto out = Get(server.Url("/hello"), "", 1, kind, CurlFactory(trusting));
        EXPECT_EQ(out.result, "hello world");
        EXPECT_NE(out.responseHeaders.find("X-Server-Note: loopback\r\n"), std::string::npos);
    }
    // The system store does not know the test authority: verification stays on and fails.
    auto refused = Get(server.Url("/hello"), "", 1, 0, CurlFactory(RequestOptions{}));
    EXPECT_TRUE(refused.result.starts_with("ERROR:")) << refused.result;
    EXPECT_EQ(refused.responseHeaders, "");
    // An authority file that is not the server's one fails as well.
    RequestOptions wrong;
    httptest::TestPki other;
    wrong.trustedCertificates = other.CaFile();
    EXPECT_TRUE(
        Get(server.Url("/hello"), "", 0, 2, CurlFactory(wrong)).result.starts_with("ERROR:"));
}

TEST(CurlRequest, BrowserKindsCarryCookiesAlongRedirects) {
    httptest::LoopbackServer server(httptest::StandardRoutes);
    const RequestObjectFactory factory = DefaultRequestFactory();
    EXPECT_EQ(Get(server.Url("/login"), "", 1, 0, factory).result, "cookie=session=s3cr3t");
    EXPECT_EQ(Get(server.Url("/login"), "", 1, 2, factory).result, "cookie=session=s3cr3t");
    EXPECT_EQ(Get(server.Url("/login"), "", 1, 1, factory).result, "cookie=");
    // Nothing is kept between calls.
    EXPECT_EQ(Get(server.Url("/whoami"), "", 1, 0, factory).result, "cookie=");
}

TEST(CurlRequest, RedirectedPostsBehaveAsInABrowser) {
    httptest::LoopbackServer server(httptest::StandardRoutes);
    std::string headers = "Content-Type: text/plain";
    auto seeOther = PerformXmlHttp(Verb::Post, server.Url("/see-other"), headers, "payload", 1, 0,
                                   DefaultRequestFactory());
    EXPECT_TRUE(seeOther.result.starts_with("method=GET\nbody=\n")) << seeOther.result;
    headers = "Content-Type: text/plain";
    auto temporary = PerformXmlHttp(Verb::Post, server.Url("/temporary"), headers, "payload", 1, 0,
                                    DefaultRequestFactory());
    EXPECT_TRUE(temporary.result.starts_with("method=POST\nbody=payload\n")) << temporary.result;
}

TEST(CurlRequest, ObjectRulesOutsideTheExports) {
    auto object = CreateCurlRequest(ObjectKind::Client, RequestOptions{});
    ASSERT_TRUE(object);
    std::optional<std::u16string> text = u"stale";
    EXPECT_TRUE(FAILED(object->responseText(&text)));
    EXPECT_FALSE(text.has_value());
    EXPECT_TRUE(FAILED(object->setRequestHeader(u"A", u"b"))); // not open yet
    EXPECT_TRUE(FAILED(object->open(u"GET", u"http://127.0.0.1/", true)));
    EXPECT_TRUE(FAILED(object->open(u"G T", u"http://127.0.0.1/", false)));
    ASSERT_EQ(object->open(u"GET", u"http://127.0.0.1:1/", false), S_OK);
    EXPECT_TRUE(FAILED(object->setRequestHeader(u"Bad Name", u"b")));
    EXPECT_FALSE(object->ErrorDescription().empty());
}
