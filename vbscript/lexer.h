// Tokenizer: case-insensitive names, comments, line continuation, literals.
#pragma once

#include "value.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestrun::vbscript {

enum class Tok : uint8_t {
    Ident,   // a name or keyword; `lname` holds it lower-cased
    Literal, // number, string or date; `value` holds it
    Punct,   // operator or punctuation; `text` holds it
    EndStmt, // line end or ':'
    End,     // end of the code
};

struct Token {
    Tok kind = Tok::End;
    std::u16string text;
    std::u16string lname;
    Value value;
    int line = 1;
    bool spaceBefore = false;
    bool colon = false; // EndStmt made by ':'

    bool is(std::u16string_view p) const { return kind == Tok::Punct && text == p; }
    bool kw(std::u16string_view k) const { return kind == Tok::Ident && lname == k; }
};

// Splits code into tokens; raises compile errors (1032, 1033, ...) as ScriptError with a line.
std::vector<Token> tokenize(std::u16string_view code, int firstLine = 1);

} // namespace kestrun::vbscript
