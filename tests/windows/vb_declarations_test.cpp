// Every Declare of the Visual Basic modules against kestrun.h: the same exports in the same
// order, each with the C prototype's argument count, names, passing (ByVal/ByRef) and types, and
// pointer-sized handles as LongPtr in the 64-bit module.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct CParam {
    std::string type; // "const char*", "BSTR*", "int32_t", "intptr_t*", ...
    std::string name;
};
struct CExport {
    std::string result;
    std::string name;
    std::vector<CParam> params;
};

std::vector<CExport> HeaderExports() {
    std::string text = ReadFile(KESTRUN_HEADER);
    text = std::regex_replace(text, std::regex(R"(/\*[\s\S]*?\*/)"), " ");
    text = std::regex_replace(text, std::regex(R"((^|\n)#[^\n]*)"), "\n");
    const std::regex prototype(
        R"((BSTR|int32_t|int16_t|double|void)\s+KESTRUN_CALL\s+(\w+)\s*\(([^)]*)\)\s*;)");
    const std::regex param(R"(^\s*(const\s+)?(\w+)\s*(\**)\s*(\w+)\s*$)");
    std::vector<CExport> out;
    for (std::sregex_iterator it(text.begin(), text.end(), prototype), end; it != end; ++it) {
        CExport e{(*it)[1], (*it)[2], {}};
        std::stringstream list((*it)[3].str());
        std::string part;
        while (std::getline(list, part, ',')) {
            std::smatch m;
            if (std::regex_match(part, m, param)) {
                e.params.push_back(
                    {(m[1].matched ? "const " : "") + m[2].str() + m[3].str(), m[4]});
            } else {
                e.params.push_back({"?" + part, ""});
            }
        }
        out.push_back(std::move(e));
    }
    return out;
}

struct VbParam {
    std::string passing; // ByVal, ByRef
    std::string name;
    bool array;
    std::string type;
};
struct VbDeclare {
    bool ptrSafe;
    bool function;
    std::string name;
    std::string library;
    std::vector<VbParam> params;
    std::string result;
};

std::vector<VbDeclare> ModuleDeclares(const std::string &path) {
    const std::regex declare(
        R"re(^Public Declare (PtrSafe )?(Function|Sub) (\w+) Lib "([^"]+)" \((.*)\)(?: As (\w+))?\r?$)re");
    const std::regex param(R"(^\s*(ByVal|ByRef) (\w+)(\(\))? As (\w+)\s*$)");
    std::vector<VbDeclare> out;
    std::stringstream lines(ReadFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, declare)) {
            EXPECT_EQ(line.find("Declare"), std::string::npos) << "unreadable: " << line;
            continue;
        }
        VbDeclare d{m[1].matched, m[2] == "Function", m[3], m[4], {}, m[6]};
        std::stringstream list(m[5].str());
        std::string part;
        while (std::getline(list, part, ',')) {
            std::smatch p;
            if (std::regex_match(part, p, param)) {
                d.params.push_back({p[1], p[2], p[3].matched, p[4]});
            } else {
                d.params.push_back({"?", part, false, ""});
            }
        }
        out.push_back(std::move(d));
    }
    return out;
}

// The Visual Basic passing and types that fit a C parameter type.
struct Fit {
    std::string passing;
    bool array;
    std::vector<std::string> types;
};

Fit FitFor(const std::string &cType, bool wide) {
    const std::string handle = wide ? "LongPtr" : "Long";
    static const std::map<std::string, Fit> fixed = {
        {"const char*", {"ByVal", false, {"String"}}},
        {"BSTR*", {"ByRef", false, {"String"}}},
        {"int32_t", {"ByVal", false, {"Long", "Boolean"}}},
        {"int32_t*", {"ByRef", false, {"Long"}}},
        {"int16_t", {"ByVal", false, {"Integer"}}},
        {"SAFEARRAY**", {"ByRef", true, {"String", "Variant"}}},
        {"VARIANT*", {"ByRef", false, {"Variant"}}},
    };
    if (cType == "intptr_t") {
        return {"ByVal", false, {handle}};
    }
    if (cType == "intptr_t*") {
        return {"ByRef", false, {handle}};
    }
    const auto it = fixed.find(cType);
    return it == fixed.end() ? Fit{"?", false, {}} : it->second;
}

std::string ResultFor(const std::string &cResult) {
    static const std::map<std::string, std::string> results = {
        {"BSTR", "String"}, {"int32_t", "Long"}, {"int16_t", "Integer"}, {"double", "Double"}};
    const auto it = results.find(cResult);
    return it == results.end() ? "" : it->second;
}

void CheckModule(const std::string &path, bool wide) {
    SCOPED_TRACE(path);
    const std::vector<CExport> header = HeaderExports();
    const std::vector<VbDeclare> module = ModuleDeclares(path);
    ASSERT_EQ(header.size(), 57u);
    ASSERT_EQ(module.size(), header.size());
    for (size_t i = 0; i < header.size(); ++i) {
        const CExport &c = header[i];
        const VbDeclare &vb = module[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vb.name, c.name);
        EXPECT_EQ(vb.library, "Kestrun.dll");
        EXPECT_EQ(vb.ptrSafe, wide);
        EXPECT_EQ(vb.function, c.result != "void");
        EXPECT_EQ(vb.result, ResultFor(c.result));
        ASSERT_EQ(vb.params.size(), c.params.size());
        for (size_t p = 0; p < c.params.size(); ++p) {
            SCOPED_TRACE(c.params[p].name);
            const std::string &cType = c.params[p].type;
            const Fit fit = FitFor(cType, wide);
            EXPECT_EQ(vb.params[p].name, c.params[p].name);
            EXPECT_EQ(vb.params[p].passing, fit.passing);
            EXPECT_EQ(vb.params[p].array, fit.array);
            EXPECT_NE(std::find(fit.types.begin(), fit.types.end(), vb.params[p].type),
                      fit.types.end())
                << vb.params[p].type << " for " << c.params[p].type;
        }
    }
}

TEST(VbDeclarations, Module32MatchesHeader) {
    CheckModule(KESTRUN_VB_MODULE, false);
}

TEST(VbDeclarations, Module64MatchesHeader) {
    CheckModule(KESTRUN_VB_MODULE64, true);
}

TEST(VbDeclarations, SampleUsesDeclaredFunctions) {
    const std::string sample = ReadFile(KESTRUN_VB_SAMPLE);
    ASSERT_FALSE(sample.empty());
    const std::vector<VbDeclare> module = ModuleDeclares(KESTRUN_VB_MODULE);
    size_t used = 0;
    for (const VbDeclare &d : module) {
        used += sample.find(d.name + "(") != std::string::npos ? 1 : 0;
    }
    EXPECT_GE(used, 3u);
}

} // namespace
