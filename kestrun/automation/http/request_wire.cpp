#include "kestrun/automation/http/request_wire.h"

namespace kestrun::http {
namespace {

bool MustEncode(unsigned char c) {
    return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string EncodeUrlForWire(std::string_view utf8Url) {
    size_t pathStart = 0;
    const size_t scheme = utf8Url.find("://");
    if (scheme != std::string_view::npos) {
        pathStart = utf8Url.find_first_of("/?#", scheme + 3);
        if (pathStart == std::string_view::npos) {
            return std::string(utf8Url);
        }
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(utf8Url.substr(0, pathStart));
    for (unsigned char c : utf8Url.substr(pathStart)) {
        if (MustEncode(c)) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

bool IsHttpToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

std::string HeaderLineFor(std::string_view name, std::string_view value) {
    const bool blank = value.find_first_not_of(" \t") == std::string_view::npos;
    std::string line(name);
    if (blank) {
        line.push_back(';');
    } else {
        line.append(": ");
        line.append(value);
    }
    return line;
}

bool HeaderLineNames(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || (line[name.size()] != ':' && line[name.size()] != ';')) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        if (LowerAscii(line[i]) != LowerAscii(name[i])) {
            return false;
        }
    }
    return true;
}

} // namespace kestrun::http
