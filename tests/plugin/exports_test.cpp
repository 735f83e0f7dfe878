// The plug-in's dynamic symbol table: every name the console and administrators' tools know it by
// is exported at global scope, and nothing else is (no internal helper, no namespace).
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

// The defined dynamic symbols of the built plug-in as nm demangles them, one per entry, with the
// address and type columns removed.
std::multiset<std::string> ExportedSymbols() {
    std::multiset<std::string> symbols;
    const std::string command =
        std::string("nm -D -C --defined-only '") + KEL2CIFS_PLUGIN_PATH + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run nm";
        return symbols;
    }
    char line[4096];
    while (std::fgets(line, sizeof(line), pipe) != nullptr) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        // "<address> <type> <name>"
        const auto first = text.find(' ');
        const auto second = first == std::string::npos ? first : text.find(' ', first + 1);
        if (second == std::string::npos) {
            ADD_FAILURE() << "unexpected nm line: " << text;
            continue;
        }
        symbols.insert(text.substr(second + 1));
    }
    EXPECT_EQ(pclose(pipe), 0) << "nm failed";
    return symbols;
}

// An expected entry "Name(" matches a C++ function Name with any parameters; any other entry
// matches a symbol of exactly that name.
bool Matches(const std::string &expected, const std::string &symbol) {
    if (!expected.empty() && expected.back() == '(') {
        return symbol.compare(0, expected.size(), expected) == 0;
    }
    return symbol == expected;
}

TEST(PluginExports, EveryNameAtGlobalScopeAndNothingElse) {
    std::ifstream list(KEL2CIFS_EXPORTED_NAMES);
    ASSERT_TRUE(list.good()) << KEL2CIFS_EXPORTED_NAMES;
    std::set<std::string> expected;
    for (std::string name; std::getline(list, name);) {
        if (!name.empty()) {
            expected.insert(name);
        }
    }
    ASSERT_GT(expected.size(), 100u);

    const std::multiset<std::string> symbols = ExportedSymbols();
    for (const std::string &name : expected) {
        bool found = false;
        for (const std::string &symbol : symbols) {
            found = found || Matches(name, symbol);
        }
        EXPECT_TRUE(found) << "not exported at global scope: " << name;
    }
    for (const std::string &symbol : symbols) {
        bool listed = false;
        for (const std::string &name : expected) {
            listed = listed || Matches(name, symbol);
        }
        EXPECT_TRUE(listed) << "exported but not a name of the plug-in's interface: " << symbol;
    }
}

}  // namespace
