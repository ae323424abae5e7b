// The export table against the C header: the same exports, argument names, counts and kinds;
// and the table reader's refusal of malformed entries.
#include "export_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace kestrun_cli;

struct Parameter {
    std::string type;
    std::string name;
};
struct Declaration {
    std::string result;
    std::vector<Parameter> parameters;
};

std::string Squeeze(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\n' || c == '\t') {
            c = ' ';
        }
        if (c == ' ' && (out.empty() || out.back() == ' ')) {
            continue;
        }
        out += c;
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

// Every function declared in kestrun.h, by name.
std::map<std::string, Declaration> HeaderDeclarations() {
    std::ifstream file(KESTRUN_HEADER);
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string text =
        std::regex_replace(buffer.str(), std::regex(R"(/\*[^*]*\*+([^/*][^*]*\*+)*/)"), " ");
    const std::regex declaration(
        R"((BSTR|int32_t|int16_t|double|void)\s+(?:KESTRUN_CALL\s+)?(\w+)\(([^)]*)\);)");
    std::map<std::string, Declaration> found;
    for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it) {
        Declaration d{(*it)[1], {}};
        std::stringstream params((*it)[3].str());
        std::string param;
        while (std::getline(params, param, ',')) {
            param = Squeeze(param);
            if (param == "void" || param.empty()) {
                continue;
            }
            const size_t split = param.find_last_of(" *");
            d.parameters.push_back({Squeeze(param.substr(0, split + 1)), param.substr(split + 1)});
        }
        found[(*it)[2]] = d;
    }
    return found;
}

std::set<std::string> CTypesFor(Kind kind) {
    switch (kind) {
    case Kind::InString:
        return {"const char *"};
    case Kind::RefString:
    case Kind::OutString:
        return {"BSTR *"};
    case Kind::Long:
        return {"int32_t", "intptr_t"};
    case Kind::RefLong:
        return {"int32_t *", "intptr_t *"};
    case Kind::Integer:
        return {"int16_t"};
    case Kind::Flag:
        return {"int32_t"};
    case Kind::StringArray:
    case Kind::VariantArray:
        return {"SAFEARRAY **"};
    case Kind::RefVariant:
        return {"VARIANT *"};
    }
    return {};
}

std::string CResult(ResultKind result) {
    switch (result) {
    case ResultKind::String:
        return "BSTR";
    case ResultKind::Long:
        return "int32_t";
    case ResultKind::Integer:
        return "int16_t";
    case ResultKind::Double:
        return "double";
    case ResultKind::None:
        return "void";
    }
    return "";
}

TEST(ExportTable, MatchesTheHeaderInNamesCountsAndKinds) {
    const auto &table = BuiltInExports();
    const auto header = HeaderDeclarations();
    ASSERT_EQ(table.size(), 57u);
    ASSERT_EQ(header.size(), table.size());
    for (const auto &info : table) {
        SCOPED_TRACE(info.name);
        const auto found = header.find(info.name);
        ASSERT_NE(found, header.end()) << "not declared in kestrun.h";
        const Declaration &d = found->second;
        EXPECT_EQ(d.result, CResult(info.result));
        ASSERT_EQ(d.parameters.size(), info.arguments.size());
        for (size_t i = 0; i < d.parameters.size(); ++i) {
            const ArgumentInfo &argument = info.arguments[i];
            EXPECT_EQ(d.parameters[i].name, argument.name);
            EXPECT_TRUE(CTypesFor(argument.kind).count(d.parameters[i].type))
                << argument.name << " is " << d.parameters[i].type << " in the header but "
                << KindName(argument.kind) << " in the table";
            // Only pointers can carry a value back.
            const bool byValueOrConst =
                argument.kind == Kind::InString || argument.kind == Kind::Long ||
                argument.kind == Kind::Integer || argument.kind == Kind::Flag;
            if (byValueOrConst) {
                EXPECT_EQ(argument.direction, Direction::In) << argument.name;
            }
            if (argument.kind == Kind::OutString || argument.kind == Kind::RefVariant) {
                EXPECT_EQ(argument.direction, Direction::Out) << argument.name;
            }
        }
        EXPECT_FALSE(info.example.empty());
    }
}

TEST(ExportTable, ReaderRefusesMalformedEntriesWithTheirLine) {
    const std::string good = "# comment\n"
                             "Echo Long text:ref-string:in count:ref-long:out\n"
                             "    text: a text\n"
                             "    count: its length\n"
                             "    status: 1 on success\n"
                             "    example: abc $n\n";
    TableError error;
    const auto parsed = ParseExportTable(good, error);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->size(), 1u);
    const ExportInfo &echo = parsed->front();
    EXPECT_EQ(echo.name, "Echo");
    EXPECT_EQ(echo.result, ResultKind::Long);
    EXPECT_TRUE(echo.resultIsStatus);
    ASSERT_EQ(echo.arguments.size(), 2u);
    EXPECT_EQ(echo.arguments[1].kind, Kind::RefLong);
    EXPECT_EQ(echo.arguments[1].direction, Direction::Out);
    EXPECT_EQ(echo.arguments[1].meaning, "its length");
    EXPECT_EQ(echo.example, "abc $n");
    EXPECT_EQ(Signature(echo), "Echo(text, count) -> Long");
    const std::string page = DescribeExport(echo);
    for (const char *part : {"ref-long", "out", "its length", "status", "Echo abc $n"}) {
        EXPECT_NE(page.find(part), std::string::npos) << part << "\n" << page;
    }

    const std::vector<std::pair<std::string, int>> bad = {
        {"Echo Long text:ref-strng:in\n    text: t\n    returns: r\n    example: e\n", 1},
        {"Echo Long text:ref-string\n", 1},
        {"Echo Whole\n", 1},
        {"Echo Long text:ref-string:in\n    returns: r\n    example: e\n", 1},
        {"Echo Long\n    returns: r\n    bogus: x\n", 3},
        {"    text: before any export\n", 1},
        {"Echo String\n    status: r\n    example: e\n", 1},
        {"Echo Long\n    returns: r\n    example: e\nEcho Long\n    returns: r\n    example: e\n",
         4},
        {"Echo Long\n    returns: r\n", 1},
    };
    for (const auto &[text, line] : bad) {
        TableError e;
        EXPECT_FALSE(ParseExportTable(text, e)) << text;
        EXPECT_EQ(e.line, line) << text << e.message;
        EXPECT_FALSE(e.message.empty());
    }
}

} // namespace
