#include "export_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace kestrun_cli {

namespace {

constexpr std::array<std::pair<std::string_view, Kind>, 10> kKinds{{
    {"in-string", Kind::InString},
    {"ref-string", Kind::RefString},
    {"out-string", Kind::OutString},
    {"long", Kind::Long},
    {"ref-long", Kind::RefLong},
    {"integer", Kind::Integer},
    {"flag", Kind::Flag},
    {"string-array", Kind::StringArray},
    {"variant-array", Kind::VariantArray},
    {"ref-variant", Kind::RefVariant},
}};
constexpr std::array<std::pair<std::string_view, Direction>, 3> kDirections{{
    {"in", Direction::In},
    {"out", Direction::Out},
    {"inout", Direction::InOut},
}};
constexpr std::array<std::pair<std::string_view, ResultKind>, 5> kResults{{
    {"String", ResultKind::String},
    {"Long", ResultKind::Long},
    {"Integer", ResultKind::Integer},
    {"Double", ResultKind::Double},
    {"none", ResultKind::None},
}};

template <typename T, size_t N>
std::optional<T> Lookup(const std::array<std::pair<std::string_view, T>, N> &names,
                        std::string_view name) {
    for (const auto &[text, value] : names) {
        if (text == name) {
            return value;
        }
    }
    return std::nullopt;
}

template <typename T, size_t N>
std::string_view NameOf(const std::array<std::pair<std::string_view, T>, N> &names, T value) {
    for (const auto &[text, v] : names) {
        if (v == value) {
            return text;
        }
    }
    return "?";
}

std::vector<std::string_view> SplitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    for (std::string_view w : SplitOn(text, ' ')) {
        if (!w.empty()) {
            words.push_back(w);
        }
    }
    return words;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// Reads an export line: NAME RESULT name:kind:direction ...
bool ParseHead(std::string_view line, ExportInfo &info, std::string &message) {
    const auto words = Words(line);
    if (words.size() < 2) {
        message = "an export line needs a name and a result";
        return false;
    }
    info.name = std::string(words[0]);
    const auto result = Lookup(kResults, words[1]);
    if (!result) {
        message = "unknown result " + std::string(words[1]);
        return false;
    }
    info.result = *result;
    for (size_t i = 2; i < words.size(); ++i) {
        const auto fields = SplitOn(words[i], ':');
        const auto kind = fields.size() == 3 ? Lookup(kKinds, fields[1]) : std::nullopt;
        const auto direction = fields.size() == 3 ? Lookup(kDirections, fields[2]) : std::nullopt;
        if (!kind || !direction || fields[0].empty()) {
            message = "argument " + std::string(words[i]) + " is not name:kind:direction";
            return false;
        }
        info.arguments.push_back({std::string(fields[0]), *kind, *direction, {}});
    }
    return true;
}

// Reads an indented line "label: text" of the export `info`.
bool ParseDetail(std::string_view line, ExportInfo &info, std::string &message) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        message = "expected label: text";
        return false;
    }
    const std::string_view label = Trim(line.substr(0, colon));
    const std::string text(Trim(line.substr(colon + 1)));
    if (label == "returns" || label == "status") {
        info.resultMeaning = text;
        info.resultIsStatus = label == "status";
        return true;
    }
    if (label == "example") {
        info.example = text;
        return true;
    }
    for (auto &argument : info.arguments) {
        if (argument.name == label) {
            argument.meaning = text;
            return true;
        }
    }
    message = info.name + " has no argument named " + std::string(label);
    return false;
}

bool Complete(const ExportInfo &info, std::string &message) {
    for (const auto &argument : info.arguments) {
        if (argument.meaning.empty()) {
            message = info.name + ": argument " + argument.name + " has no meaning line";
            return false;
        }
    }
    if (info.resultMeaning.empty() || info.example.empty()) {
        message = info.name + " needs a returns (or status) line and an example line";
        return false;
    }
    if (info.resultIsStatus && info.result != ResultKind::Long &&
        info.result != ResultKind::Integer) {
        message = info.name + ": only a Long or Integer result can be a status";
        return false;
    }
    return true;
}

} // namespace

std::string_view KindName(Kind kind) {
    return NameOf(kKinds, kind);
}
std::string_view DirectionName(Direction direction) {
    return NameOf(kDirections, direction);
}
std::string_view ResultName(ResultKind result) {
    return NameOf(kResults, result);
}

std::optional<std::vector<ExportInfo>> ParseExportTable(std::string_view text, TableError &error) {
    std::vector<ExportInfo> table;
    int lineNumber = 0;
    int headLine = 0;
    for (std::string_view line : SplitOn(text, '\n')) {
        ++lineNumber;
        const std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        std::string message;
        bool ok = true;
        if (line.front() != ' ' && line.front() != '\t') {
            if (!table.empty() && !Complete(table.back(), message)) {
                error = {headLine, message};
                return std::nullopt;
            }
            table.emplace_back();
            headLine = lineNumber;
            ok = ParseHead(trimmed, table.back(), message);
            if (ok && std::count_if(table.begin(), table.end() - 1, [&](const ExportInfo &e) {
                    return e.name == table.back().name;
                })) {
                ok = false;
                message = table.back().name + " is listed twice";
            }
        } else if (table.empty()) {
            ok = false;
            message = "an indented line before the first export";
        } else {
            ok = ParseDetail(trimmed, table.back(), message);
        }
        if (!ok) {
            error = {lineNumber, message};
            return std::nullopt;
        }
    }
    std::string message;
    if (!table.empty() && !Complete(table.back(), message)) {
        error = {headLine, message};
        return std::nullopt;
    }
    return table;
}

const std::vector<ExportInfo> &BuiltInExports() {
    static const std::vector<ExportInfo> table = [] {
        static constexpr std::string_view kText =
#include "kestrun_exports.inc"
            ;
        TableError error;
        auto parsed = ParseExportTable(kText, error);
        if (!parsed) {
            std::fprintf(stderr, "kestrun: export table line %d: %s\n", error.line,
                         error.message.c_str());
            std::abort();
        }
        return std::move(*parsed);
    }();
    return table;
}

const ExportInfo *FindExport(const std::vector<ExportInfo> &table, std::string_view name) {
    for (const auto &info : table) {
        if (info.name == name) {
            return &info;
        }
    }
    return nullptr;
}

std::string Signature(const ExportInfo &info) {
    std::string text = info.name + "(";
    for (size_t i = 0; i < info.arguments.size(); ++i) {
        text += (i == 0 ? "" : ", ") + info.arguments[i].name;
    }
    text += ") -> " + std::string(ResultName(info.result));
    return text;
}

std::string DescribeExport(const ExportInfo &info) {
    size_t width = 0;
    for (const auto &argument : info.arguments) {
        width = std::max(width, argument.name.size());
    }
    auto pad = [](std::string text, size_t to) {
        text.resize(std::max(text.size(), to), ' ');
        return text;
    };
    std::string text = Signature(info) + "\n\n";
    for (const auto &argument : info.arguments) {
        text += "  " + pad(argument.name, width) + "  " +
                pad(std::string(KindName(argument.kind)), 13) + "  " +
                pad(std::string(DirectionName(argument.direction)), 5) + "  " + argument.meaning +
                "\n";
    }
    text += "\nReturns " + std::string(ResultName(info.result)) +
            (info.resultIsStatus ? " (a status, positive on success)" : "") + ": " +
            info.resultMeaning + "\n";
    text += "\nExample:\n  " + info.name + " " + info.example + "\n";
    return text;
}

} // namespace kestrun_cli
