#include "assembler.h"

#include "opcodes.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace safe_eval_asm {

using safe_eval::Op;

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && is_space(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != b[i]) {
            return false;
        }
    }
    return true;
}

void put_u32(std::vector<std::uint8_t> &out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void put_u64(std::vector<std::uint8_t> &out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

std::optional<std::uint64_t> parse_hex_u64(std::string_view s) {
    if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X') || s.size() > 18) {
        return std::nullopt;
    }
    std::uint64_t v = 0;
    for (char c : s.substr(2)) {
        const int d = hex_value(c);
        if (d < 0) {
            return std::nullopt;
        }
        v = v << 4 | static_cast<std::uint64_t>(d);
    }
    return v;
}

std::optional<std::uint64_t> parse_int_operand(std::string_view s) {
    if (auto bits = parse_hex_u64(s)) {
        return bits;
    }
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
    }
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(v);
}

std::optional<std::uint64_t> parse_float_operand(std::string_view s) {
    if (s.size() == 18) {
        if (auto bits = parse_hex_u64(s)) {
            return bits;
        }
    }
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    double v = 0;
    if (iequals(s, "NAN")) {
        v = std::numeric_limits<double>::quiet_NaN();
    } else if (iequals(s, "INF")) {
        v = std::numeric_limits<double>::infinity();
    } else {
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
            return std::nullopt;
        }
    }
    std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    if (negative) {
        bits ^= std::uint64_t{1} << 63;
    }
    return bits;
}

// A double-quoted text with escapes; the whole operand must be the quoted text.
std::optional<std::string> parse_quoted(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') {
        return std::nullopt;
    }
    s = s.substr(1, s.size() - 2);
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            return std::nullopt;
        }
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i == s.size()) {
            return std::nullopt;
        }
        switch (s[i]) {
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case '0':
            out.push_back('\0');
            break;
        case '"':
        case '\\':
            out.push_back(s[i]);
            break;
        case 'x': {
            const int hi = i + 1 < s.size() ? hex_value(s[i + 1]) : -1;
            const int lo = i + 2 < s.size() ? hex_value(s[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                return std::nullopt;
            }
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

void put_quoted(std::string &out, std::string_view text) {
    out.push_back('"');
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out.push_back(ch);
            } else {
                out += "\\x";
                out.push_back(kHexDigits[c >> 4]);
                out.push_back(kHexDigits[c & 0xF]);
            }
        }
    }
    out.push_back('"');
}

bool is_bare_name(std::string_view s) {
    if (s.empty() || (s[0] >= '0' && s[0] <= '9')) {
        return false;
    }
    for (char c : s) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

// Splits the source into statements: at line ends and at ';' outside quotes, dropping '#'
// comments. Each statement keeps its 1-based line number.
struct Statement {
    std::size_t line;
    std::string_view text;
};

std::vector<Statement> split_statements(std::string_view source) {
    std::vector<Statement> out;
    std::size_t line = 1;
    std::size_t start = 0;
    bool in_quotes = false;
    bool in_comment = false;
    std::size_t end = std::string_view::npos; // where a comment cut the statement
    for (std::size_t i = 0; i <= source.size(); ++i) {
        const char c = i < source.size() ? source[i] : '\n';
        if (in_quotes && c != '\n') {
            if (c == '\\' && i + 1 < source.size() && source[i + 1] != '\n') {
                ++i; // an escaped character, possibly a quote
            } else if (c == '"') {
                in_quotes = false;
            }
            continue;
        }
        in_quotes = false; // a text left open at the line end; the operand parser reports it
        if (c == '\n' || (c == ';' && !in_comment)) {
            const std::size_t stop = end != std::string_view::npos ? end : i;
            out.push_back({line, source.substr(start, stop - start)});
            start = i + 1;
            end = std::string_view::npos;
            if (c == '\n') {
                ++line;
                in_comment = false;
            }
        } else if (!in_comment && c == '#') {
            in_comment = true;
            end = i;
        } else if (!in_comment && c == '"') {
            in_quotes = true;
        }
    }
    return out;
}

} // namespace

std::variant<std::vector<std::uint8_t>, AsmError> assemble(std::string_view source) {
    std::vector<std::uint8_t> out;
    for (const Statement &st : split_statements(source)) {
        const std::string_view text = trim(st.text);
        if (text.empty()) {
            continue;
        }
        std::size_t split = 0;
        while (split < text.size() && !is_space(text[split])) {
            ++split;
        }
        const std::string_view mnemonic = text.substr(0, split);
        const std::string_view operand = trim(text.substr(split));
        auto fail = [&](std::string message) {
            return AsmError{st.line, std::move(message) + ": " + std::string(text)};
        };
        if (iequals(mnemonic, "BYTES")) {
            if (!parse_hex(operand, out)) {
                return fail("bad hex bytes");
            }
            continue;
        }
        std::optional<safe_eval::OpInfo> info;
        for (const auto &entry : safe_eval::kOpTable) {
            if (iequals(mnemonic, entry.name)) {
                info = entry;
            }
        }
        if (!info) {
            return fail("unknown mnemonic");
        }
        const Op op = info->op;
        const bool takes_operand = op == Op::PUSH_INT || op == Op::PUSH_FLOAT ||
                                   op == Op::PUSH_STR || op == Op::PUSH_BOOL || op == Op::LOAD_VAR;
        if (takes_operand == operand.empty()) {
            return fail(takes_operand ? "missing operand" : "unexpected operand");
        }
        out.push_back(static_cast<std::uint8_t>(op));
        switch (op) {
        case Op::PUSH_INT: {
            const auto v = parse_int_operand(operand);
            if (!v) {
                return fail("bad integer");
            }
            put_u64(out, *v);
            break;
        }
        case Op::PUSH_FLOAT: {
            const auto v = parse_float_operand(operand);
            if (!v) {
                return fail("bad float");
            }
            put_u64(out, *v);
            break;
        }
        case Op::PUSH_BOOL: {
            unsigned v = 0;
            if (iequals(operand, "TRUE")) {
                v = 1;
            } else if (!iequals(operand, "FALSE")) {
                const auto [end, ec] =
                    std::from_chars(operand.data(), operand.data() + operand.size(), v);
                if (ec != std::errc() || end != operand.data() + operand.size() || v > 255) {
                    return fail("bad boolean");
                }
            }
            out.push_back(static_cast<std::uint8_t>(v));
            break;
        }
        case Op::PUSH_STR:
        case Op::LOAD_VAR: {
            std::optional<std::string> s;
            if (op == Op::LOAD_VAR && operand.front() != '"') {
                if (operand.find_first_of(" \t") != std::string_view::npos) {
                    return fail("bad name");
                }
                s = std::string(operand);
            } else {
                s = parse_quoted(operand);
            }
            if (!s) {
                return fail("bad quoted text");
            }
            put_u32(out, static_cast<std::uint32_t>(s->size()));
            out.insert(out.end(), s->begin(), s->end());
            break;
        }
        default:
            break;
        }
    }
    return out;
}

std::string disassemble(std::span<const std::uint8_t> program) {
    std::string out;
    const std::size_t n = program.size();
    std::size_t pos = 0;
    auto raw_bytes = [&](std::size_t from, std::size_t to, std::string_view note) {
        out += "BYTES";
        for (std::size_t i = from; i < to; ++i) {
            out.push_back(' ');
            out.push_back(kHexDigits[program[i] >> 4]);
            out.push_back(kHexDigits[program[i] & 0xF]);
        }
        out += "  # ";
        out += note;
        out.push_back('\n');
    };
    while (pos < n) {
        const auto info = safe_eval::op_info(program[pos]);
        if (!info) {
            raw_bytes(pos, pos + 1, "not an instruction");
            ++pos;
            continue;
        }
        const std::size_t available = n - pos;
        std::size_t size = 1;
        std::uint32_t length = 0;
        switch (info->op) {
        case Op::PUSH_INT:
        case Op::PUSH_FLOAT:
            size = 9;
            break;
        case Op::PUSH_BOOL:
            size = 2;
            break;
        case Op::PUSH_STR:
        case Op::LOAD_VAR:
            size = 5;
            if (available >= 5) {
                for (int i = 3; i >= 0; --i) {
                    length = length << 8 | program[pos + 1 + static_cast<std::size_t>(i)];
                }
                size = available - 5 >= length ? 5 + std::size_t{length} : available + 1;
            }
            break;
        default:
            break;
        }
        if (size > available) {
            raw_bytes(pos, n, "truncated " + std::string(info->name));
            break;
        }
        out += info->name;
        const std::uint8_t *operand = program.data() + pos + 1;
        std::uint64_t bits = 0;
        if (size == 9) {
            for (int i = 7; i >= 0; --i) {
                bits = bits << 8 | operand[i];
            }
        }
        char number[40];
        switch (info->op) {
        case Op::PUSH_INT: {
            const auto end =
                std::to_chars(number, number + sizeof number, static_cast<std::int64_t>(bits)).ptr;
            out += ' ';
            out.append(number, end);
            break;
        }
        case Op::PUSH_FLOAT: {
            const double v = std::bit_cast<double>(bits);
            out += ' ';
            if (std::isnan(v)) {
                out += "0x";
                for (int shift = 60; shift >= 0; shift -= 4) {
                    out.push_back(kHexDigits[(bits >> shift) & 0xF]);
                }
            } else if (std::isinf(v)) {
                out += v < 0 ? "-inf" : "inf";
            } else {
                out.append(number, std::to_chars(number, number + sizeof number, v).ptr);
            }
            break;
        }
        case Op::PUSH_BOOL:
            out += ' ';
            out += operand[0] == 0   ? "false"
                   : operand[0] == 1 ? "true"
                                     : std::to_string(operand[0]);
            break;
        case Op::PUSH_STR:
        case Op::LOAD_VAR: {
            const std::string_view text(reinterpret_cast<const char *>(operand + 4), length);
            out += ' ';
            if (info->op == Op::LOAD_VAR && is_bare_name(text)) {
                out += text;
            } else {
                put_quoted(out, text);
            }
            break;
        }
        default:
            break;
        }
        out.push_back('\n');
        pos += size;
    }
    return out;
}

bool parse_hex(std::string_view text, std::vector<std::uint8_t> &out) {
    int pending = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (is_space(c) || c == ',') {
            if (pending >= 0) {
                return false;
            }
            continue;
        }
        if (c == '0' && pending < 0 && i + 1 < text.size() &&
            (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            ++i;
            continue;
        }
        const int d = hex_value(c);
        if (d < 0) {
            return false;
        }
        if (pending < 0) {
            pending = d;
        } else {
            out.push_back(static_cast<std::uint8_t>(pending * 16 + d));
            pending = -1;
        }
    }
    return pending < 0;
}

std::string to_hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            out.push_back(' ');
        }
        out.push_back(kHexDigits[bytes[i] >> 4]);
        out.push_back(kHexDigits[bytes[i] & 0xF]);
    }
    return out;
}

} // namespace safe_eval_asm
