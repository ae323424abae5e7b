// Helpers for running script snippets: the value of the global `r` after the code ran, or the
// error it raised.
#pragma once

#include "vbscript/interp.h"
#include "vbscript/ops.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>

namespace vbtest {

using namespace kestrun::vbscript;

struct Outcome {
    bool ok = false;
    std::string text;    // r as text (ok)
    std::string type;    // TypeName(r) (ok)
    int number = 0;      // error number (!ok)
    int line = 0;        // error line (!ok)
    std::string message; // error description (!ok)
};

inline Outcome RunCode(std::string_view code) {
    Outcome o;
    Interp in;
    // The corpus's heavy scripts may take longer than the default limit under the sanitizers
    // on a busy machine; the limit itself has tests of its own.
    in.timeLimit = std::chrono::minutes(10);
    try {
        in.addCode(utf8ToU16(code));
        Value r = in.evaluate(u"r");
        o.type = u16ToUtf8(in.evaluate(u"TypeName(r)").s());
        if (r.isArray() || r.isObject())
            o.text = o.type;
        else
            o.text = u16ToUtf8(toStr(in, r, true));
        o.ok = true;
    } catch (const ScriptError &e) {
        o.number = e.number;
        o.line = e.line;
        o.message = u16ToUtf8(e.description);
    }
    return o;
}

struct Case {
    const char *code;
    const char *expected;
};

struct ErrorCase {
    const char *code;
    int number;
    int line;
};

inline void ExpectCases(std::initializer_list<Case> cases) {
    for (const Case &c : cases) {
        Outcome o = RunCode(c.code);
        EXPECT_TRUE(o.ok) << c.code << "\n-> error " << o.number << " line " << o.line << ": "
                          << o.message;
        if (o.ok) {
            EXPECT_EQ(o.text, c.expected) << c.code;
        }
    }
}

inline void ExpectErrors(std::initializer_list<ErrorCase> cases) {
    for (const ErrorCase &c : cases) {
        Outcome o = RunCode(c.code);
        EXPECT_FALSE(o.ok) << c.code << "\n-> " << o.text;
        EXPECT_EQ(o.number, c.number) << c.code << "\n-> " << o.message;
        EXPECT_EQ(o.line, c.line) << c.code;
    }
}

} // namespace vbtest
