// libkestrun.so exports exactly the names of its export list, and nothing else.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> ListedExports() {
    std::ifstream list(KESTRUN_EXPORT_LIST);
    std::set<std::string> names;
    std::string line;
    while (std::getline(list, line)) {
        // Export lines start with the name; indented lines describe the export above them.
        if (!line.empty() && std::isalpha(static_cast<unsigned char>(line[0]))) {
            names.insert(line.substr(0, line.find(' ')));
        }
    }
    return names;
}

std::set<std::string> DefinedDynamicSymbols(const std::string &library) {
    const std::string command = "nm -D --defined-only " + library;
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    std::set<std::string> names;
    if (!pipe) {
        return names;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        // Upper-case types are global symbols, the only ones another module can bind to.
        if (fields >> address >> type >> name &&
            std::isupper(static_cast<unsigned char>(type[0]))) {
            names.insert(name);
        }
    }
    return names;
}

TEST(Exports, OnlyListedNamesAreExported) {
    const auto listed = ListedExports();
    ASSERT_EQ(listed.size(), 57u);
    const auto defined = DefinedDynamicSymbols(KESTRUN_LIBRARY);
    ASSERT_FALSE(defined.empty());
    for (const auto &name : defined) {
        EXPECT_TRUE(listed.count(name)) << name << " is exported but not in the export list";
    }
    for (const auto &name : listed) {
        EXPECT_TRUE(defined.count(name)) << name << " is listed but not defined";
    }
}

} // namespace
