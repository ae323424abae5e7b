// Calls into libkestrun.so by name, one at a time or as a session of lines that share named
// variables, so that handles, arrays and out-values flow from one call to the next.
#pragma once

#include "export_table.h"
#include "invoke.h"
#include "values.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun_cli {

// One word of a session line. `plain` words had no quotes, so only they can name a variable
// ($name), pass a null string (@null) or start a comment (#).
struct Word {
    std::string text;
    bool plain = true;
};

// Splits a line into words: blanks separate words; "double quotes" take \" \\ \n \t and \r as
// escapes and keep any other backslash; 'single quotes' take everything literally; quoted and
// unquoted parts next to each other make one word; a plain word starting with # ends the line.
std::optional<std::vector<Word>> SplitLine(std::string_view line, std::string &error);

// "$name" with a name of letters, digits and underscores not starting with a digit.
bool IsVariable(const Word &word);

// The library, opened on first use: libkestrun.so by its soname, Kestrun.dll on Windows.
class Library {
public:
    Library() = default;
    ~Library();
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    // The export's address, or null with `error` set.
    void *Symbol(const std::string &name, std::string &error);

private:
    void *handle_ = nullptr;
};

class Session {
public:
    // Calls print to `out`; errors go to `err`. `hex` prints texts as hexadecimal bytes.
    Session(std::FILE *out, std::FILE *err, bool hex) : out_(out), err_(err), hex_(hex) {}

    // Print each non-blank session line ("> line") before its output.
    void EchoLines(bool echo) { echo_ = echo; }

    // How the calls are made (32-bit Windows: stack misalignment, x87 control word, junk above
    // 16-bit arguments).
    void SetCallConditions(const CallConditions &conditions) { conditions_ = conditions; }

    // Runs one line of a session; `number` is its line number for messages. False when the
    // line could not be run or its call reported a failure.
    bool RunLine(std::string_view line, int number);

    // Runs one call from command-line words, all taken literally.
    bool RunCommandLine(const std::vector<std::string> &words);

private:
    bool Call(const std::vector<Word> &words, const std::string &resultVariable, int line);
    bool Fail(int line, const std::string &message);

    std::FILE *out_;
    std::FILE *err_;
    bool hex_;
    bool echo_ = false;
    CallConditions conditions_;
    std::map<std::string, Value> variables_;
    Library library_;
};

} // namespace kestrun_cli
