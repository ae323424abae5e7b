#include "kestrun/automation/scripting/response_headers.h"

namespace kestrun::scripting {

namespace {

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t' || s.back() == u'\r'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<std::u16string> FindResponseHeader(std::u16string_view headers,
                                                 std::u16string_view name) {
    std::optional<std::u16string> found;
    const std::u16string_view wanted = Trim(name);
    if (wanted.empty())
        return found;
    while (!headers.empty()) {
        const size_t end = headers.find(u'\n');
        const std::u16string_view line = headers.substr(0, end);
        headers.remove_prefix(end == std::u16string_view::npos ? headers.size() : end + 1);
        const size_t colon = line.find(u':');
        if (colon == std::u16string_view::npos || !SameName(Trim(line.substr(0, colon)), wanted))
            continue;
        const std::u16string_view value = Trim(line.substr(colon + 1));
        if (found) {
            found->append(u", ");
            found->append(value);
        } else {
            found.emplace(value);
        }
    }
    return found;
}

std::u16string_view StandardReason(int32_t code) {
    switch (code) {
    case 100:
        return u"Continue";
    case 101:
        return u"Switching Protocols";
    case 200:
        return u"OK";
    case 201:
        return u"Created";
    case 202:
        return u"Accepted";
    case 203:
        return u"Non-Authoritative Information";
    case 204:
        return u"No Content";
    case 205:
        return u"Reset Content";
    case 206:
        return u"Partial Content";
    case 300:
        return u"Multiple Choices";
    case 301:
        return u"Moved Permanently";
    case 302:
        return u"Found";
    case 303:
        return u"See Other";
    case 304:
        return u"Not Modified";
    case 307:
        return u"Temporary Redirect";
    case 308:
        return u"Permanent Redirect";
    case 400:
        return u"Bad Request";
    case 401:
        return u"Unauthorized";
    case 403:
        return u"Forbidden";
    case 404:
        return u"Not Found";
    case 405:
        return u"Method Not Allowed";
    case 406:
        return u"Not Acceptable";
    case 408:
        return u"Request Timeout";
    case 409:
        return u"Conflict";
    case 410:
        return u"Gone";
    case 411:
        return u"Length Required";
    case 412:
        return u"Precondition Failed";
    case 413:
        return u"Payload Too Large";
    case 414:
        return u"URI Too Long";
    case 415:
        return u"Unsupported Media Type";
    case 429:
        return u"Too Many Requests";
    case 500:
        return u"Internal Server Error";
    case 501:
        return u"Not Implemented";
    case 502:
        return u"Bad Gateway";
    case 503:
        return u"Service Unavailable";
    case 504:
        return u"Gateway Timeout";
    case 505:
        return u"HTTP Version Not Supported";
    default:
        return {};
    }
}

} // namespace kestrun::scripting
