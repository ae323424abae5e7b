// kestrun_docgen: writes the documents that must say what the code says.
//
//   kestrun_docgen reference HEADER VB32 VB64 OUT [--check]
//       docs/reference.md: every export of the table built into the command-line host (the
//       table of kestrun/exports.list), with its prototype from kestrun.h, its Declare lines from
//       the two Visual Basic modules, its arguments, result, an example and the command line.
//   kestrun_docgen man kestrun|safe-eval VERSION OUT [--check]
//       the manual page of a command-line host, from the usage text the host prints (and, for
//       kestrun, the same export table its help reads).
//
// With --check nothing is written: the exit status is 1 when OUT differs from what would be
// written (a stale committed file).
#include "cli_usage.h"
#include "export_table.h"
#include "safe_eval_usage.h"
#include "session.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kestrun_cli::ArgumentInfo;
using kestrun_cli::Direction;
using kestrun_cli::ExportInfo;
using kestrun_cli::Kind;
using kestrun_cli::ResultKind;

std::optional<std::string> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string Collapse(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (blank) {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        } else {
            if (c == ')' && !out.empty() && out.back() == ' ') {
                out.pop_back();
            }
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    std::string fixed;
    for (size_t i = 0; i < out.size(); ++i) {
        fixed += out[i];
        if (out[i] == '(' && i + 1 < out.size() && out[i + 1] == ' ') {
            ++i;
        }
    }
    return fixed;
}

struct Prototype {
    std::string group;
    std::string text;
};

// kestrun.h's prototypes by export name, with the family comment above each group.
std::map<std::string, Prototype> ReadPrototypes(const std::string &header) {
    std::map<std::string, Prototype> result;
    bool inside = false;
    std::string group;
    std::string pending;
    static const std::regex groupComment(R"(^/\* (.*) \*/$)");
    static const std::regex name(R"(([A-Za-z_][A-Za-z0-9_]*)\()");
    for (const std::string &line : Lines(header)) {
        if (!inside) {
            inside = line.rfind("extern \"C\" {", 0) == 0;
            continue;
        }
        if (line.rfind('}', 0) == 0) {
            break;
        }
        std::smatch m;
        if (pending.empty() && std::regex_match(line, m, groupComment)) {
            group = m[1];
            continue;
        }
        if (pending.empty() && (line.empty() || line[0] == '#' || line.rfind("/*", 0) == 0)) {
            continue;
        }
        pending += line + "\n";
        if (line.find(';') == std::string::npos) {
            continue;
        }
        const std::string text = Collapse(pending);
        pending.clear();
        if (std::regex_search(text, m, name)) {
            result[m[1]] = Prototype{group, text};
        }
    }
    return result;
}

// The Declare line of each export in a Visual Basic module.
std::map<std::string, std::string> ReadDeclares(const std::string &module) {
    std::map<std::string, std::string> result;
    static const std::regex declare(
        R"(^Public Declare (PtrSafe )?(Function|Sub) ([A-Za-z0-9_]+) )");
    for (const std::string &line : Lines(module)) {
        std::smatch m;
        if (std::regex_search(line, m, declare)) {
            result[m[3]] = line;
        }
    }
    return result;
}

// --- Markdown -------------------------------------------------------------------------------

// Text for a table cell or a paragraph: no markup, no HTML.
std::string MdText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '|':
            out += "\\|";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '*':
        case '_':
        case '`':
        case '[':
        case ']':
            out += '\\';
            out += c;
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Anchor(std::string_view name) {
    std::string out;
    for (const char c : name) {
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
            out += c;
        } else if (c == ' ') {
            out += '-';
        }
    }
    return out;
}

// --- Visual Basic example ---------------------------------------------------------------------

std::string VbString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const char *name = c == '\n' ? "vbLf" : c == '\r' ? "vbCr" : c == '\t' ? "vbTab" : nullptr;
        if (name != nullptr) {
            out += std::string("\" & ") + name + " & \"";
        } else if (c == '"') {
            out += "\"\"";
        } else {
            out += c;
        }
    }
    out += "\"";
    // Drop the empty pieces that an escape at either end leaves.
    for (const std::string empty : {"\"\" & ", " & \"\""}) {
        if (out.size() > empty.size() + 2) {
            if (out.rfind(empty, 0) == 0) {
                out.erase(0, empty.size());
            }
            if (out.size() >= empty.size() &&
                out.compare(out.size() - empty.size(), empty.size(), empty) == 0) {
                out.erase(out.size() - empty.size());
            }
        }
    }
    return out;
}

bool IsWholeNumber(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) {
        return false;
    }
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

std::vector<std::string> SplitText(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(separator, start);
        parts.emplace_back(text.substr(start, at - start));
        if (at == std::string_view::npos) {
            return parts;
        }
        start = at + 1;
    }
}

bool IsHandle(const std::string &prototype, const std::string &argument) {
    return prototype.find("intptr_t *" + argument) != std::string::npos ||
           prototype.find("intptr_t " + argument) != std::string::npos;
}

// A variable name that Visual Basic accepts: reserved words get a suffix.
std::string VbName(const std::string &name) {
    static const std::set<std::string> reserved{
        "error", "date", "string", "integer",  "long",  "double", "variant", "end",
        "next",  "type", "open",   "close",    "input", "print",  "get",     "put",
        "name",  "len",  "mid",    "left",     "right", "step",   "to",      "set",
        "let",   "call", "sub",    "function", "dim",   "redim",  "as",      "is"};
    std::string lower;
    for (const char c : name) {
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return reserved.count(lower) != 0 ? name + "Text" : name;
}

// A Visual Basic 6 call of the export with the arguments of the table's example: ByVal values
// written in place, variables for what is passed by reference.
std::string VbExample(const ExportInfo &info, const std::string &prototype) {
    std::string error;
    const auto words = kestrun_cli::SplitLine(info.example, error);
    std::vector<std::string> dims;
    std::vector<std::string> setup;
    std::vector<std::string> callArgs;
    auto declare = [&dims](const std::string &text) {
        for (const auto &d : dims) {
            if (d == text) {
                return;
            }
        }
        dims.push_back(text);
    };
    for (size_t i = 0; i < info.arguments.size(); ++i) {
        const ArgumentInfo &arg = info.arguments[i];
        const bool given = words && i < words->size();
        const kestrun_cli::Word word = given ? (*words)[i] : kestrun_cli::Word{"", true};
        const bool variable = given && kestrun_cli::IsVariable(word);
        const bool null = given && word.plain && word.text == "@null";
        const std::string name = VbName(variable ? word.text.substr(1) : arg.name);
        const bool handle = IsHandle(prototype, arg.name);
        const std::string longType = handle ? "Long  ' LongPtr in 64-bit VBA" : "Long";
        switch (arg.kind) {
        case Kind::InString:
            callArgs.push_back(null || !given ? "vbNullString" : VbString(word.text));
            break;
        case Kind::Long:
        case Kind::Integer:
            callArgs.push_back(given && IsWholeNumber(word.text) ? word.text : "0");
            break;
        case Kind::Flag:
            callArgs.push_back(given && word.text != "0" && !word.text.empty() ? "True" : "False");
            break;
        case Kind::RefString:
        case Kind::OutString:
            declare("Dim " + name + " As String");
            if (!variable && given && !null && arg.direction != Direction::Out) {
                setup.push_back(name + " = " + VbString(word.text));
            }
            callArgs.push_back(name);
            break;
        case Kind::RefLong:
            declare("Dim " + name + " As " + longType);
            if (!variable && given && IsWholeNumber(word.text) && word.text != "0") {
                setup.push_back(name + " = " + word.text);
            }
            callArgs.push_back(name);
            break;
        case Kind::RefVariant:
            declare("Dim " + name + " As Variant");
            callArgs.push_back(name);
            break;
        case Kind::StringArray:
        case Kind::VariantArray: {
            const bool strings = arg.kind == Kind::StringArray;
            declare("Dim " + name + "() As " + (strings ? "String" : "Variant"));
            callArgs.push_back(name);
            if (variable || !given || null || arg.direction == Direction::Out) {
                break;
            }
            std::string layout = word.text;
            const bool table = layout.find('\n') != std::string::npos;
            if (table && layout.back() == '\n') {
                layout.pop_back();
            }
            std::vector<std::vector<std::string>> rows;
            for (const auto &row : table ? SplitText(layout, '\n') : std::vector{layout}) {
                rows.push_back(SplitText(row, '|'));
            }
            size_t columns = 0;
            for (const auto &row : rows) {
                columns = std::max(columns, row.size());
            }
            auto value = [strings](const std::string &cell) {
                return !strings && IsWholeNumber(cell) ? cell : VbString(cell);
            };
            if (table) {
                setup.push_back("ReDim " + name + "(0 To " + std::to_string(rows.size() - 1) +
                                ", 0 To " + std::to_string(columns - 1) + ")");
                for (size_t r = 0; r < rows.size(); ++r) {
                    for (size_t c = 0; c < rows[r].size(); ++c) {
                        if (!rows[r][c].empty()) {
                            setup.push_back(name + "(" + std::to_string(r) + ", " +
                                            std::to_string(c) + ") = " + value(rows[r][c]));
                        }
                    }
                }
            } else {
                setup.push_back("ReDim " + name + "(0 To " + std::to_string(rows[0].size() - 1) +
                                ")");
                for (size_t c = 0; c < rows[0].size(); ++c) {
                    // "-" only gives the array its size.
                    if (rows[0][c] != "-") {
                        setup.push_back(name + "(" + std::to_string(c) +
                                        ") = " + value(rows[0][c]));
                    }
                }
            }
            break;
        }
        }
    }
    std::string args;
    for (const auto &a : callArgs) {
        args += (args.empty() ? "" : ", ") + a;
    }
    std::string call;
    switch (info.result) {
    case ResultKind::None:
        call = info.name + (args.empty() ? "" : " " + args);
        break;
    default: {
        const char *type = info.result == ResultKind::String    ? "String"
                           : info.result == ResultKind::Integer ? "Integer"
                           : info.result == ResultKind::Double  ? "Double"
                                                                : "Long";
        std::string result = info.resultIsStatus ? "status" : "result";
        for (const auto &d : dims) {
            if (d.rfind("Dim " + result + " ", 0) == 0 || d.rfind("Dim " + result + "(", 0) == 0) {
                result += "Value";
            }
        }
        declare("Dim " + result + " As " + type);
        call = result + " = " + info.name + "(" + args + ")";
    }
    }
    std::string text;
    for (const auto &d : dims) {
        text += d + "\n";
    }
    for (const auto &s : setup) {
        text += s + "\n";
    }
    return text + call + "\n";
}

struct KindRow {
    const char *kind;
    const char *c;
    const char *vb;
    const char *meaning;
};

constexpr KindRow kKindRows[] = {
    {"in-string", "`const char *`", "`ByVal x As String`",
     "text read by the export; GBK bytes up to the first zero byte; may be null"},
    {"ref-string", "`BSTR *`", "`ByRef x As String`",
     "the caller's variable, read up to its first zero byte, never freed by the library"},
    {"out-string", "`BSTR *`", "`ByRef x As String`",
     "the library frees what the variable holds and stores a new string"},
    {"long", "`int32_t` (`intptr_t` for window handles)", "`ByVal x As Long` (`LongPtr`)",
     "a number"},
    {"ref-long", "`int32_t *` (`intptr_t *` for handles)", "`ByRef x As Long` (`LongPtr`)",
     "a number in the caller's variable; handles are pointer-sized"},
    {"integer", "`int16_t`", "`ByVal x As Integer`", "a 16-bit number"},
    {"flag", "`int32_t`", "`ByVal x As Boolean`", "true when its low 8 bits are not zero"},
    {"string-array", "`SAFEARRAY **`", "`ByRef x() As String`",
     "an array of strings; a written array replaces (and destroys) what the variable held"},
    {"variant-array", "`SAFEARRAY **`", "`ByRef x() As Variant`", "an array of variants, likewise"},
    {"ref-variant", "`VARIANT *`", "`ByRef x As Variant`", "written by the library"},
};

std::string ResultText(const ExportInfo &info) {
    std::string text = "**Returns** ";
    if (info.result == ResultKind::None) {
        text += "nothing";
    } else {
        text += std::string(kestrun_cli::ResultName(info.result));
        if (info.resultIsStatus) {
            text += ", a status (positive when the call succeeded)";
        }
    }
    if (!info.resultMeaning.empty()) {
        text += ": " + MdText(info.resultMeaning);
    }
    return text + ".";
}

std::optional<std::string> Reference(const std::string &headerPath, const std::string &vb32Path,
                                     const std::string &vb64Path) {
    const auto header = ReadFile(headerPath);
    const auto vb32 = ReadFile(vb32Path);
    const auto vb64 = ReadFile(vb64Path);
    if (!header || !vb32 || !vb64) {
        std::cerr << "kestrun_docgen: cannot read the header or the Visual Basic modules\n";
        return std::nullopt;
    }
    const auto prototypes = ReadPrototypes(*header);
    const auto declares32 = ReadDeclares(*vb32);
    const auto declares64 = ReadDeclares(*vb64);
    const auto &table = kestrun_cli::BuiltInExports();

    std::string out;
    out += "# Kestrun reference\n\n";
    out += "<!-- Written by kestrun_docgen (tools/docgen) from kestrun/exports.list, "
           "include/kestrun.h and vb/*.bas: do not edit. -->\n\n";
    out += "Every export of `libkestrun.so` and `Kestrun.dll` (" + std::to_string(table.size()) +
           " in all), from the same table as `kestrun help` and the Visual Basic modules "
           "(`kestrun/exports.list`). `cmake --build build --target reference` writes this "
           "page again; the test `reference_doc_current` fails when it is out of date.\n\n";
    out += "Strings cross the boundary as code page 936 (GBK) bytes: a Visual Basic `String` "
           "passed to a `Declare` is converted to the ANSI code page and back, so 64-bit VBA "
           "and Visual Basic 6 pass the same bytes. `KESTRUN_CALL` is `__stdcall` in the "
           "32-bit DLL and the platform's own convention elsewhere. Handles that carry "
           "pointers (the SQLite connection, window handles) are `LongPtr` in 64-bit VBA.\n\n";
    out += "## Argument kinds\n\n| Kind | C | Visual Basic | What it is |\n|---|---|---|---|\n";
    for (const auto &row : kKindRows) {
        out += std::string("| ") + row.kind + " | " + row.c + " | " + row.vb + " | " + row.meaning +
               " |\n";
    }
    out += "\nA **status** result is positive when the call succeeded; the command line exits "
           "with 0 then. Directions: *in* is read, *out* is written, *inout* both.\n\n";

    // Index by family, in the header's order.
    out += "## Exports by family\n\n";
    std::vector<std::string> groups;
    for (const auto &info : table) {
        const auto p = prototypes.find(info.name);
        const std::string group = p == prototypes.end() ? "Other" : p->second.group;
        bool known = false;
        for (const auto &g : groups) {
            known = known || g == group;
        }
        if (!known) {
            groups.push_back(group);
        }
    }
    for (const auto &group : groups) {
        out += "- **" + MdText(group) + "**:";
        bool first = true;
        for (const auto &info : table) {
            const auto p = prototypes.find(info.name);
            if ((p == prototypes.end() ? "Other" : p->second.group) != group) {
                continue;
            }
            out += std::string(first ? " " : ", ") + "[`" + info.name + "`](#" + Anchor(info.name) +
                   ")";
            first = false;
        }
        out += "\n";
    }
    out += "\n";

    bool complete = true;
    for (const auto &info : table) {
        const auto p = prototypes.find(info.name);
        const auto d32 = declares32.find(info.name);
        const auto d64 = declares64.find(info.name);
        if (p == prototypes.end() || d32 == declares32.end() || d64 == declares64.end()) {
            std::cerr << "kestrun_docgen: " << info.name
                      << " is missing from kestrun.h or a Visual Basic module\n";
            complete = false;
            continue;
        }
        out += "## " + info.name + "\n\n";
        out += "```c\n" + p->second.text + "\n```\n\n";
        out += "```vb\n' Visual Basic 6, 32-bit VBA (vb/Kestrun.bas)\n" + d32->second +
               "\n' 64-bit VBA (vb/Kestrun64.bas)\n" + d64->second + "\n```\n\n";
        if (!info.arguments.empty()) {
            out += "| Argument | Kind | Direction | Meaning |\n|---|---|---|---|\n";
            for (const auto &arg : info.arguments) {
                out += "| `" + arg.name + "` | " + std::string(kestrun_cli::KindName(arg.kind)) +
                       " | " + std::string(kestrun_cli::DirectionName(arg.direction)) + " | " +
                       MdText(arg.meaning) + " |\n";
            }
            out += "\n";
        } else {
            out += "No arguments.\n\n";
        }
        out += ResultText(info) + "\n\n";
        out += "Example:\n\n```vb\n" + VbExample(info, p->second.text) + "```\n\n";
        out += "Command line" +
               std::string(info.example.find('$') != std::string::npos
                               ? " (in a `kestrun` session, where `$name` variables live)"
                               : "") +
               ":\n\n```sh\nkestrun " + info.name +
               (info.example.empty() ? "" : " " + info.example) + "\n```\n\n";
    }
    if (!complete) {
        return std::nullopt;
    }
    while (out.size() > 1 && out[out.size() - 1] == '\n' && out[out.size() - 2] == '\n') {
        out.pop_back();
    }
    return out;
}

// --- Manual pages ---------------------------------------------------------------------------

// Text for roff: backslashes, minus signs and lines that would read as requests are escaped.
std::string Roff(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) {
        out.insert(0, "\\&");
    }
    return out;
}

struct UsageParts {
    std::vector<std::string> synopsis; // the usage lines, without "usage: "
    std::vector<std::string> body;     // the lines after them
};

UsageParts SplitUsage(const std::string &usage) {
    UsageParts parts;
    bool inSynopsis = true;
    for (std::string line : Lines(usage)) {
        if (inSynopsis && line.empty()) {
            inSynopsis = false;
            continue;
        }
        if (inSynopsis) {
            const size_t start = line.find_first_not_of(' ');
            line = line.substr(start == std::string::npos ? 0 : start);
            if (line.rfind("usage: ", 0) == 0) {
                line = line.substr(7);
            }
            parts.synopsis.push_back(line);
        } else {
            parts.body.push_back(line);
        }
    }
    return parts;
}

// The usage text as the program prints it, line for line (no filling).
void UsageSections(std::string &out, const UsageParts &parts) {
    out += ".SH SYNOPSIS\n.nf\n";
    for (const auto &line : parts.synopsis) {
        out += Roff(line) + "\n";
    }
    out += ".fi\n.SH DESCRIPTION\n.nf\n";
    for (const auto &line : parts.body) {
        out += (line.empty() ? std::string() : Roff(line)) + "\n";
    }
    out += ".fi\n";
}

std::string ManKestrun(const std::string &version) {
    std::string out = ".\\\" Written by kestrun_docgen from the kestrun host's usage text and "
                      "export table.\n";
    out += ".TH KESTRUN 1 \"\" \"Kestrun " + version + "\" \"User Commands\"\n";
    out += ".SH NAME\nkestrun \\- call the exports of libkestrun by name\n";
    UsageSections(out, SplitUsage(kestrun_cli::kUsage));
    out += ".SH EXPORTS\n";
    out += "Each export with its arguments (name, kind, direction, meaning), its result and an "
           "example, as \\fBkestrun help\\fR \\fINAME\\fR prints them.\n";
    for (const auto &info : kestrun_cli::BuiltInExports()) {
        out += ".SS " + Roff(kestrun_cli::Signature(info)) + "\n.nf\n";
        const std::string text = kestrun_cli::DescribeExport(info);
        const auto lines = Lines(text);
        // The first line is the signature, already the heading.
        for (size_t i = 2; i < lines.size(); ++i) {
            out += (lines[i].empty() ? std::string() : Roff(lines[i])) + "\n";
        }
        out += ".fi\n";
    }
    out += ".SH EXIT STATUS\n0 when every call succeeded (a status result is positive), 1 when a "
           "call or a session line failed, 2 for a usage error.\n";
    out += ".SH SEE ALSO\n\\fBsafe\\-eval\\fR(1)\n";
    return out;
}

std::string ManSafeEval(const std::string &version) {
    std::string out = ".\\\" Written by kestrun_docgen from the safe-eval host's usage text.\n";
    out += ".TH SAFE\\-EVAL 1 \"\" \"Kestrun " + version + "\" \"User Commands\"\n";
    out += ".SH NAME\nsafe\\-eval \\- run a program of the safe evaluator's bytecode\n";
    UsageSections(out, SplitUsage(safe_eval_cli::kUsage));
    out += ".SH EXIT STATUS\n0 for a value, 1 for an error object, 2 for bad arguments.\n";
    out += ".SH SEE ALSO\n\\fBkestrun\\fR(1)\n";
    return out;
}

int Emit(const std::string &text, const std::string &path, bool check) {
    if (check) {
        const auto current = ReadFile(path);
        if (!current || *current != text) {
            std::cerr << path << " is out of date: cmake --build <build> --target reference "
                      << "writes it again\n";
            return 1;
        }
        return 0;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "kestrun_docgen: cannot write " << path << "\n";
        return 1;
    }
    return 0;
}

int Usage() {
    std::cerr << "usage: kestrun_docgen reference HEADER VB32 VB64 OUT [--check]\n"
                 "       kestrun_docgen man kestrun|safe-eval VERSION OUT [--check]\n";
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool check = false;
    if (!args.empty() && args.back() == "--check") {
        check = true;
        args.pop_back();
    }
    if (args.size() == 5 && args[0] == "reference") {
        const auto text = Reference(args[1], args[2], args[3]);
        return text ? Emit(*text, args[4], check) : 1;
    }
    if (args.size() == 4 && args[0] == "man" && (args[1] == "kestrun" || args[1] == "safe-eval")) {
        return Emit(args[1] == "kestrun" ? ManKestrun(args[2]) : ManSafeEval(args[2]), args[3],
                    check);
    }
    return Usage();
}
