#include "kestrun/automation/http/xmlhttp.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/errors.h"

#include <algorithm>

namespace kestrun::http {
namespace {

using interop::AnsiToWide;
using interop::WideToAnsi;

constexpr size_t kMinUrlLength = 10;
constexpr size_t kMaxSchemeLength = 10;

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

std::string RequestFailure(const RequestObject &object) {
    return "ERROR:" + WideToAnsi(object.ErrorDescription());
}

// The body read through the stream: its size from a seek to the end, then one read from the
// start, cut at the first zero byte.
std::string ReadStream(ResponseStream &stream) {
    uint64_t end = 0;
    if (FAILED(stream.Seek(0, SeekOrigin::End, &end))) {
        return {};
    }
    const auto size = static_cast<ULONG>(end & 0xFFFFFFFFu);
    stream.Seek(0, SeekOrigin::Begin, nullptr);
    if (size == 0) {
        return {};
    }
    std::string bytes(size, '\0');
    ULONG read = 0;
    if (FAILED(stream.Read(bytes.data(), size, &read))) {
        return {};
    }
    bytes.resize(std::min<size_t>(read, size));
    bytes.resize(interop::UpToZero(bytes).size());
    return bytes;
}

// The bytes ReadStream would give for a body: its size taken to 32 bits, cut at the first zero.
void CutStreamBytes(interop::GrowingResult &bytes) {
    bytes.Truncate(static_cast<size_t>(static_cast<uint64_t>(bytes.size()) & 0xFFFFFFFFu));
    bytes.Truncate(interop::UpToZero(bytes.View()).size());
}

interop::GrowingResult Text(std::string_view text) {
    interop::GrowingResult result;
    result.Assign(text);
    return result;
}

HttpResult Steps(Verb verb, std::string_view url, std::string &requestHeaders,
                 std::string_view body, int32_t asText, int32_t objectKind,
                 const RequestObjectFactory &factory) {
    Apartment apartment;
    if (auto message = CheckUrl(url)) {
        return {Text(*message), {}};
    }
    const std::string_view kindName = ObjectKindName(objectKind);
    if (kindName.empty()) {
        return {Text(kObjectKindMessage), {}};
    }
    std::unique_ptr<RequestObject> object = factory(static_cast<ObjectKind>(objectKind));
    if (!object) {
        return {Text(std::string(kindName) + kCreationFailedMessage), {}};
    }

    object->open(verb == Verb::Get ? u"GET" : u"POST", AnsiToWide(url), false);
    const auto headers = SplitRequestHeaders(requestHeaders);
    for (const auto &[name, value] : headers) {
        object->setRequestHeader(AnsiToWide(name), AnsiToWide(value));
    }
    if (headers.empty()) {
        object->setRequestHeader(u"User-Agent", AnsiToWide(kDefaultUserAgent));
    }
    if (verb == Verb::Get) {
        object->send(std::nullopt);
    } else {
        object->send(AnsiToWide(body));
    }

    HttpResult outcome;
    std::optional<std::u16string> headerText;
    object->getAllResponseHeaders(&headerText);
    if (headerText) {
        outcome.responseHeaders = WideToAnsi(*headerText);
    }
    if (auto body = object->TakeBody(asText != 0)) {
        outcome.result = std::move(*body);
        if (asText == 0) {
            CutStreamBytes(outcome.result);
        }
    } else if (asText != 0) {
        std::optional<std::u16string> text;
        object->responseText(&text);
        outcome.result.Assign(text ? WideToAnsi(*text) : RequestFailure(*object));
    } else {
        std::unique_ptr<ResponseStream> stream;
        object->responseStream(&stream);
        outcome.result.Assign(stream ? ReadStream(*stream) : RequestFailure(*object));
    }
    return outcome;
}

} // namespace

std::string_view ObjectKindName(int32_t kind) {
    switch (kind) {
    case 0:
        return "Microsoft.XMLHTTP";
    case 1:
        return "MSXML2.ServerXMLHTTP";
    case 2:
        return "Msxml2.XMLHTTP.6.0";
    default:
        return {};
    }
}

std::optional<std::string> CheckUrl(std::string_view url) {
    if (url.size() < kMinUrlLength) {
        return kUrlLengthMessage;
    }
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos) {
        return kUrlUnrecognisedMessage;
    }
    const std::string_view scheme = url.substr(0, colon);
    if (scheme.size() > kMaxSchemeLength) {
        return std::string(kSchemeUnrecognisedMessage) + std::string(scheme) + "!";
    }
    std::string lower(scheme);
    for (char &c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    if (lower != "https" && lower != "http") {
        return std::string(kSchemeUnsupportedMessage) + lower + "!";
    }
    if (url.substr(colon + 1, 2) != "//") {
        return kUrlFormatMessage;
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> SplitRequestHeaders(std::string &text) {
    std::vector<std::pair<std::string, std::string>> headers;
    const size_t length = interop::UpToZero(text).size();
    size_t pos = 0;
    while (pos < length) {
        while (pos < length && IsLineBreak(text[pos])) {
            ++pos;
        }
        if (pos == length) {
            break;
        }
        size_t end = pos;
        while (end < length && !IsLineBreak(text[end])) {
            ++end;
        }
        const std::string_view line(text.data() + pos, end - pos);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos) {
            headers.emplace_back(line.substr(0, colon), line.substr(colon + 1));
        }
        if (end < length) {
            text[end] = '\0';
            ++end;
        }
        pos = end;
    }
    return headers;
}

HttpResult PerformXmlHttpResult(Verb verb, std::string_view url, std::string &requestHeaders,
                                std::string_view body, int32_t asText, int32_t objectKind,
                                const RequestObjectFactory &factory) {
    try {
        return Steps(verb, url, requestHeaders, body, asText, objectKind, factory);
    } catch (...) {
        std::string message;
        interop::ExceptionMessage(message);
        return {Text(message), {}};
    }
}

HttpOutcome PerformXmlHttp(Verb verb, std::string_view url, std::string &requestHeaders,
                           std::string_view body, int32_t asText, int32_t objectKind,
                           const RequestObjectFactory &factory) {
    HttpResult done =
        PerformXmlHttpResult(verb, url, requestHeaders, body, asText, objectKind, factory);
    return {std::string(done.result.View()), std::move(done.responseHeaders)};
}

} // namespace kestrun::http
