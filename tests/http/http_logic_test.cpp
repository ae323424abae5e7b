// The request logic without the export layer: address checks, header text, the order of the
// request object's calls, injected failures, and the rows of a request batch.
#include "kestrun/automation/http/net_mt.h"
#include "kestrun/automation/http/xmlhttp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <system_error>

using namespace kestrun::http;

namespace {

// A request object that records its calls and answers from a script.
struct Script {
    std::vector<std::string> calls;
    std::optional<std::u16string> headers = u"A: 1\r\n";
    std::optional<std::u16string> text = u"text";
    std::optional<std::string> streamBytes = std::string("bytes");
    bool seekFails = false;
    bool throwOnSend = false;
};

std::string Narrow(std::u16string_view w) {
    return std::string(w.begin(), w.end());
}

class FakeStream : public ResponseStream {
public:
    FakeStream(Script &script, std::string bytes) : script_(script), bytes_(std::move(bytes)) {}
    HRESULT Seek(int64_t offset, SeekOrigin origin, uint64_t *pos) override {
        script_.calls.push_back("Seek");
        if (script_.seekFails) {
            return E_FAIL;
        }
        pos_ = static_cast<uint64_t>(origin == SeekOrigin::End ? bytes_.size() + offset : offset);
        if (pos != nullptr) {
            *pos = pos_;
        }
        return S_OK;
    }
    HRESULT Read(void *buffer, ULONG size, ULONG *read) override {
        script_.calls.push_back("Read " + std::to_string(size));
        std::memcpy(buffer, bytes_.data() + pos_, size);
        *read = size;
        return S_OK;
    }

private:
    Script &script_;
    std::string bytes_;
    uint64_t pos_ = 0;
};

class FakeObject : public RequestObject {
public:
    explicit FakeObject(Script &script) : script_(script) {}
    HRESULT open(std::u16string_view method, std::u16string_view url, bool async) override {
        script_.calls.push_back("open " + Narrow(method) + " " + Narrow(url) +
                                (async ? " async" : " sync"));
        return S_OK;
    }
    HRESULT setRequestHeader(std::u16string_view name, std::u16string_view value) override {
        script_.calls.push_back("header [" + Narrow(name) + "][" + Narrow(value) + "]");
        return S_OK;
    }
    HRESULT getAllResponseHeaders(std::optional<std::u16string> *headers) override {
        script_.calls.push_back("getAllResponseHeaders");
        *headers = script_.headers;
        return S_OK;
    }
    HRESULT send(const std::optional<std::u16string> &body) override {
        script_.calls.push_back(body ? "send [" + Narrow(*body) + "]" : "send none");
        if (script_.throwOnSend) {
            throw std::runtime_error("wire cut");
        }
        return S_OK;
    }
    HRESULT responseText(std::optional<std::u16string> *text) override {
        script_.calls.push_back("responseText");
        *text = script_.text;
        return S_OK;
    }
    HRESULT responseStream(std::unique_ptr<ResponseStream> *stream) override {
        script_.calls.push_back("responseStream");
        if (script_.streamBytes) {
            *stream = std::make_unique<FakeStream>(script_, *script_.streamBytes);
        }
        return S_OK;
    }
    std::u16string ErrorDescription() const override { return u"no response"; }

private:
    Script &script_;
};

// A scripted object with a script of its own, for objects made on several threads at once.
struct ScriptHolder {
    Script script;
};
class OwningFake : private ScriptHolder, public FakeObject {
public:
    explicit OwningFake(std::u16string text) : FakeObject(script) { script.text = std::move(text); }
};

RequestObjectFactory FakeFactory(Script &script, std::vector<ObjectKind> *kinds = nullptr) {
    return [&script, kinds](ObjectKind kind) -> std::unique_ptr<RequestObject> {
        if (kinds != nullptr) {
            kinds->push_back(kind);
        }
        return std::make_unique<FakeObject>(script);
    };
}

HttpOutcome Get(const std::string &url, std::string headers, int32_t asText, int32_t kind,
                const RequestObjectFactory &factory) {
    return PerformXmlHttp(Verb::Get, url, headers, {}, asText, kind, factory);
}

} // namespace

TEST(XmlHttpLogic, AddressChecksInOrder) {
    EXPECT_EQ(CheckUrl("http://a.b"), std::nullopt); // exactly 10 bytes
    EXPECT_EQ(CheckUrl("http://ab"), kUrlLengthMessage);
    EXPECT_EQ(CheckUrl(""), kUrlLengthMessage);
    EXPECT_EQ(CheckUrl("www.example.com"), kUrlUnrecognisedMessage);
    EXPECT_EQ(CheckUrl("abcdefghijk://host/"),
              std::string(kSchemeUnrecognisedMessage) + "abcdefghijk!");
    EXPECT_EQ(CheckUrl("FTP://host/file"), std::string(kSchemeUnsupportedMessage) + "ftp!");
    EXPECT_EQ(CheckUrl("HTTPS://host/file"), std::nullopt);
    EXPECT_EQ(CheckUrl("http:/host/file"), kUrlFormatMessage);
    EXPECT_EQ(CheckUrl("mailto:someone@host"), std::string(kSchemeUnsupportedMessage) + "mailto!");
    // The messages are the GBK bytes of the fixed texts.
    EXPECT_EQ(std::string(kUrlLengthMessage),
              "\xCD\xF8\xD6\xB7\xB3\xA4\xB6\xC8\xB2\xBB\xD5\xFD\xC8\xB7!");
    EXPECT_EQ(std::strlen(kObjectKindMessage), 17u);
}

TEST(XmlHttpLogic, HeaderTextIsSplitInPlace) {
    std::string text = "A: 1\r\n\r\nB:2\nno colon here\rC:x:y";
    const auto headers = SplitRequestHeaders(text);
    ASSERT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers[0], std::make_pair(std::string("A"), std::string(" 1")));
    EXPECT_EQ(headers[1], std::make_pair(std::string("B"), std::string("2")));
    EXPECT_EQ(headers[2], std::make_pair(std::string("C"), std::string("x:y")));
    constexpr char kSplit[] = "A: 1\0\n\r\nB:2\0no colon here\0C:x:y";
    EXPECT_EQ(text, std::string(kSplit, sizeof kSplit - 1));

    std::string none = "\r\n\r\n";
    EXPECT_TRUE(SplitRequestHeaders(none).empty());
    EXPECT_EQ(none, std::string("\r\n\r\n"));
}

TEST(XmlHttpLogic, CallsTheObjectInOrder) {
    Script script;
    std::vector<ObjectKind> kinds;
    auto out = Get("HTTP://127.0.0.1/x", "X-A: 1\nReferer:r", 1, 2, FakeFactory(script, &kinds));
    EXPECT_EQ(out.result, "text");
    EXPECT_EQ(out.responseHeaders, "A: 1\r\n");
    EXPECT_EQ(kinds, std::vector<ObjectKind>{ObjectKind::ClientV6});
    EXPECT_EQ(script.calls,
              (std::vector<std::string>{"open GET HTTP://127.0.0.1/x sync", "header [X-A][ 1]",
                                        "header [Referer][r]", "send none", "getAllResponseHeaders",
                                        "responseText"}));

    // No header line: the default User-Agent and nothing else. A POST sends its body as text.
    Script post;
    std::string headers = "just text";
    auto posted =
        PerformXmlHttp(Verb::Post, "http://127.0.0.1/p", headers, "a=1", 1, 0, FakeFactory(post));
    EXPECT_EQ(post.calls[1], "header [User-Agent][" + std::string(kDefaultUserAgent) + "]");
    EXPECT_EQ(post.calls[2], "send [a=1]");
    EXPECT_EQ(post.calls.size(), 5u);
}

TEST(XmlHttpLogic, StreamBodyIsSizedReadOnceAndCutAtZero) {
    Script script;
    script.streamBytes = std::string("ab\0cd", 5);
    auto out = Get("http://127.0.0.1/s", "", 0, 0, FakeFactory(script));
    EXPECT_EQ(out.result, "ab");
    EXPECT_EQ(std::vector<std::string>(script.calls.end() - 4, script.calls.end()),
              (std::vector<std::string>{"responseStream", "Seek", "Seek", "Read 5"}));

    Script failing;
    failing.seekFails = true;
    EXPECT_EQ(Get("http://127.0.0.1/s", "", 0, 0, FakeFactory(failing)).result, "");

    Script empty;
    empty.streamBytes = "";
    EXPECT_EQ(Get("http://127.0.0.1/s", "", 0, 0, FakeFactory(empty)).result, "");
    EXPECT_EQ(empty.calls.back(), "Seek"); // no read for an empty body
}

TEST(XmlHttpLogic, MissingTextsAndExceptionsAreReported) {
    Script script;
    script.headers.reset();
    script.text.reset();
    auto out = Get("http://127.0.0.1/x", "", 1, 0, FakeFactory(script));
    EXPECT_EQ(out.result, "ERROR:no response");
    EXPECT_EQ(out.responseHeaders, "");

    Script noStream;
    noStream.streamBytes.reset();
    EXPECT_EQ(Get("http://127.0.0.1/x", "", 0, 0, FakeFactory(noStream)).result,
              "ERROR:no response");

    Script throwing;
    throwing.throwOnSend = true;
    auto thrown = Get("http://127.0.0.1/x", "", 1, 0, FakeFactory(throwing));
    EXPECT_EQ(thrown.result, "ERROR:wire cut");
    EXPECT_EQ(thrown.responseHeaders, "");
}

TEST(XmlHttpLogic, KindAndCreationFailures) {
    Script script;
    std::vector<ObjectKind> kinds;
    EXPECT_EQ(Get("http://127.0.0.1/x", "", 1, 3, FakeFactory(script, &kinds)).result,
              kObjectKindMessage);
    EXPECT_EQ(Get("http://127.0.0.1/x", "", 1, -1, FakeFactory(script, &kinds)).result,
              kObjectKindMessage);
    // An address failure comes before the kind check.
    EXPECT_EQ(Get("ftp://127.0.0.1/x", "", 1, 3, FakeFactory(script, &kinds)).result,
              std::string(kSchemeUnsupportedMessage) + "ftp!");
    EXPECT_TRUE(kinds.empty());
    EXPECT_TRUE(script.calls.empty());

    const RequestObjectFactory none = [](ObjectKind) { return nullptr; };
    const char *names[] = {"Microsoft.XMLHTTP", "MSXML2.ServerXMLHTTP", "Msxml2.XMLHTTP.6.0"};
    for (int kind = 0; kind < 3; ++kind) {
        std::string headers = "A: 1\r\nB: 2";
        auto out = PerformXmlHttp(Verb::Post, "http://127.0.0.1/x", headers, "b", 1, kind, none);
        EXPECT_EQ(out.result, std::string(names[kind]) + kCreationFailedMessage);
        EXPECT_EQ(out.responseHeaders, "");
        EXPECT_EQ(headers, "A: 1\r\nB: 2"); // untouched: the call never got to the headers
    }
}

TEST(NetMtLogic, RowsAndDecimalFields) {
    EXPECT_EQ(ReadDecimal(" +12abc"), 12);
    EXPECT_EQ(ReadDecimal("-3"), -3);
    EXPECT_EQ(ReadDecimal("abc"), 0);
    EXPECT_EQ(ReadDecimal(""), 0);
    EXPECT_EQ(ReadDecimal("99999999999"), 2147483647);
    EXPECT_EQ(ReadDecimal("-99999999999"), -2147483647 - 1);

    Script script;
    std::vector<ObjectKind> kinds;
    RequestSlot slot;
    slot.url = "http://127.0.0.1/x";
    slot.method = "pOsT";
    slot.body = "b";
    slot.asText = 1;
    RequestThread(slot, FakeFactory(script, &kinds));
    EXPECT_EQ(slot.result, "text");
    EXPECT_EQ(slot.responseHeaders, "A: 1\r\n");
    EXPECT_EQ(script.calls[0], "open POST http://127.0.0.1/x sync");
    EXPECT_EQ(kinds, std::vector<ObjectKind>{ObjectKind::Client});

    slot.method = "PUT";
    RequestThread(slot, FakeFactory(script));
    EXPECT_EQ(slot.result, kUnsupportedMethodMessage);
    slot.url.clear();
    RequestThread(slot, FakeFactory(script));
    EXPECT_EQ(slot.result, kNoUrlMessage);
}

TEST(NetMtLogic, RowsWhoseThreadCannotStart) {
    const RequestObjectFactory factory = [](ObjectKind) {
        return std::make_unique<OwningFake>(u"done");
    };
    std::vector<std::string> results(7);
    size_t next = 0;
    RunRequestBatch(
        results.size(),
        [](size_t row) {
            RequestSlot slot;
            slot.url = "http://127.0.0.1/" + std::to_string(row);
            slot.method = "GET";
            slot.asText = 1;
            return slot;
        },
        [&](size_t row, const std::string &result) { results[row] = result; }, factory,
        [&](std::function<void()> work) {
            if (next++ % 3 == 1) { // every third row finds no thread
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            }
            return OperatingSystemThreads()(std::move(work));
        });
    for (size_t row = 0; row < results.size(); ++row) {
        EXPECT_EQ(results[row], row % 3 == 1 ? kThreadFailedMessage : "done") << row;
    }
}
