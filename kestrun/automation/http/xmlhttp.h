// One synchronous HTTP request through a request object: the address checks, the header text,
// the order of the object's calls and the messages of XMLHTTP_Get and XMLHTTP_Post.
#pragma once

#include "kestrun/automation/http/request_object.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrun::http {

// Messages, GBK bytes.
// 网址长度不正确!
inline constexpr char kUrlLengthMessage[] =
    "\xCD\xF8\xD6\xB7\xB3\xA4\xB6\xC8\xB2\xBB\xD5\xFD\xC8\xB7!";
// 网址不能识别!
inline constexpr char kUrlUnrecognisedMessage[] =
    "\xCD\xF8\xD6\xB7\xB2\xBB\xC4\xDC\xCA\xB6\xB1\xF0!";
// 不能识别的协议 (followed by the scheme and "!")
inline constexpr char kSchemeUnrecognisedMessage[] =
    "\xB2\xBB\xC4\xDC\xCA\xB6\xB1\xF0\xB5\xC4\xD0\xAD\xD2\xE9";
// 不支持的协议 (followed by the lower-cased scheme and "!")
inline constexpr char kSchemeUnsupportedMessage[] =
    "\xB2\xBB\xD6\xA7\xB3\xD6\xB5\xC4\xD0\xAD\xD2\xE9";
// 网址格式不正确!
inline constexpr char kUrlFormatMessage[] =
    "\xCD\xF8\xD6\xB7\xB8\xF1\xCA\xBD\xB2\xBB\xD5\xFD\xC8\xB7!";
// XML类型参数错误！
inline constexpr char kObjectKindMessage[] =
    "XML\xC0\xE0\xD0\xCD\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3\xA3\xA1";
// 对象创建失败! (after the kind's name)
inline constexpr char kCreationFailedMessage[] =
    "\xB6\xD4\xCF\xF3\xB4\xB4\xBD\xA8\xCA\xA7\xB0\xDC!";

// Sent when the caller's header text holds no header line.
inline constexpr char kDefaultUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/73.0.3683.86 Safari/537.36";

enum class Verb { Get, Post };

// The message of the first address check that fails, or nullopt for an address that passes.
std::optional<std::string> CheckUrl(std::string_view url);

// Splits header text into lines at runs of CR and LF; every line with a ":" is one header (name
// before the first ":", value after it, untrimmed). Like the caller's own copy of the text, the
// first CR or LF after each line in `text` is overwritten with a zero byte.
std::vector<std::pair<std::string, std::string>> SplitRequestHeaders(std::string &text);

struct HttpOutcome {
    std::string result;          // the body, or a message
    std::string responseHeaders; // all response headers; empty on failure
};

// Runs one request. `requestHeaders` is split in place (see SplitRequestHeaders) once the request
// gets that far. `body` is sent for Verb::Post only. Never throws: an exception becomes its
// ExceptionMessage text. A request that does not complete (no connection, time limit, refused
// certificate) gives "ERROR:" followed by the request object's description of the failure.
HttpOutcome PerformXmlHttp(Verb verb, std::string_view url, std::string &requestHeaders,
                           std::string_view body, int32_t asText, int32_t objectKind,
                           const RequestObjectFactory &factory);

// PerformXmlHttp for the exports: the result comes in the buffer whose BSTR the export returns.
// A request object that can (the Linux one) receives the body straight into it, so a large
// body is not copied again after it has arrived.
struct HttpResult {
    interop::GrowingResult result; // the body, or a message
    std::string responseHeaders;
};
HttpResult PerformXmlHttpResult(Verb verb, std::string_view url, std::string &requestHeaders,
                                std::string_view body, int32_t asText, int32_t objectKind,
                                const RequestObjectFactory &factory);

} // namespace kestrun::http
