#include "session.h"

#include "invoke.h"

#include <cctype>
#include <cstdint>

namespace kestrun_cli {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Every argument slot of one call; releases whatever the call left in them.
struct Slots {
    explicit Slots(size_t n)
        : inStrings(n), bstrs(n, nullptr), numbers(n, 0), arrays(n, nullptr), variants(n), words{} {
    }
    ~Slots() {
        for (BSTR b : bstrs) {
            SysFreeString(b);
        }
        for (SAFEARRAY *a : arrays) {
            SafeArrayDestroy(a);
        }
    }
    Slots(const Slots &) = delete;
    Slots &operator=(const Slots &) = delete;

    std::vector<std::string> inStrings;
    std::vector<BSTR> bstrs;
    std::vector<intptr_t> numbers;
    std::vector<SAFEARRAY *> arrays;
    std::vector<Variant> variants;
    intptr_t words[kMaxArguments]; // what each parameter passes, one register or stack slot each
};

bool IsNumber(Kind kind) {
    return kind == Kind::Long || kind == Kind::Integer || kind == Kind::Flag ||
           kind == Kind::RefLong;
}

bool IsArray(Kind kind) {
    return kind == Kind::StringArray || kind == Kind::VariantArray;
}

} // namespace

std::optional<std::vector<Word>> SplitLine(std::string_view line, std::string &error) {
    std::vector<Word> words;
    size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i == line.size() || line[i] == '#') {
            return words;
        }
        Word word;
        while (i < line.size() && !IsBlank(line[i])) {
            const char c = line[i++];
            if (c == '\'') {
                const size_t close = line.find('\'', i);
                if (close == std::string_view::npos) {
                    error = "a ' quote is not closed";
                    return std::nullopt;
                }
                word.text.append(line.substr(i, close - i));
                word.plain = false;
                i = close + 1;
            } else if (c == '"') {
                word.plain = false;
                bool closed = false;
                while (i < line.size()) {
                    const char q = line[i++];
                    if (q == '"') {
                        closed = true;
                        break;
                    }
                    if (q == '\\' && i < line.size()) {
                        const char e = line[i];
                        const char *escaped = e == 'n'    ? "\n"
                                              : e == 't'  ? "\t"
                                              : e == 'r'  ? "\r"
                                              : e == '"'  ? "\""
                                              : e == '\\' ? "\\"
                                                          : nullptr;
                        if (escaped != nullptr) {
                            word.text += escaped;
                            ++i;
                            continue;
                        }
                    }
                    word.text.push_back(q);
                }
                if (!closed) {
                    error = "a \" quote is not closed";
                    return std::nullopt;
                }
            } else {
                word.text.push_back(c);
            }
        }
        words.push_back(std::move(word));
    }
}

bool IsVariable(const Word &word) {
    const std::string &t = word.text;
    if (!word.plain || t.size() < 2 || t[0] != '$' ||
        std::isdigit(static_cast<unsigned char>(t[1]))) {
        return false;
    }
    for (size_t i = 1; i < t.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(t[i])) && t[i] != '_') {
            return false;
        }
    }
    return true;
}

bool Session::Fail(int line, const std::string &message) {
    if (line > 0) {
        std::fprintf(err_, "kestrun: line %d: %s\n", line, message.c_str());
    } else {
        std::fprintf(err_, "kestrun: %s\n", message.c_str());
    }
    return false;
}

bool Session::RunLine(std::string_view line, int number) {
    if (echo_ && line.find_first_not_of(" \t\r") != std::string_view::npos) {
        std::fprintf(out_, "> %.*s\n", static_cast<int>(line.size()), line.data());
        std::fflush(out_);
    }
    std::string error;
    const auto words = SplitLine(line, error);
    if (!words) {
        return Fail(number, error);
    }
    if (words->empty()) {
        return true;
    }
    const Word &first = words->front();
    if (first.plain && first.text == "help") {
        if (words->size() == 1) {
            for (const auto &info : BuiltInExports()) {
                std::fprintf(out_, "%s\n", Signature(info).c_str());
            }
            return true;
        }
        const ExportInfo *info = FindExport(BuiltInExports(), (*words)[1].text);
        if (info == nullptr) {
            return Fail(number, "no export named " + (*words)[1].text);
        }
        std::fputs(DescribeExport(*info).c_str(), out_);
        return true;
    }
    if (IsVariable(first) && words->size() >= 2 && (*words)[1].plain && (*words)[1].text == "=") {
        if (words->size() == 2) {
            return Fail(number, "nothing to call after " + first.text + " =");
        }
        return Call(std::vector<Word>(words->begin() + 2, words->end()), first.text.substr(1),
                    number);
    }
    return Call(*words, std::string(), number);
}

bool Session::RunCommandLine(const std::vector<std::string> &words) {
    std::vector<Word> literal;
    for (const auto &w : words) {
        literal.push_back({w, false});
    }
    return Call(literal, std::string(), 0);
}

bool Session::Call(const std::vector<Word> &words, const std::string &resultVariable, int line) {
    const ExportInfo *info = FindExport(BuiltInExports(), words[0].text);
    if (info == nullptr) {
        return Fail(line, "no export named " + words[0].text + " (kestrun help lists them)");
    }
    const size_t n = info->arguments.size();
    if (n > kMaxArguments) {
        return Fail(line, info->name + " has more parameters than this host can pass");
    }
    const size_t given = words.size() - 1;
    if (given > n) {
        return Fail(line, info->name + " takes " + std::to_string(n) + " argument" +
                              (n == 1 ? "" : "s") + ", " + std::to_string(given) + " given");
    }

    // Every variable an argument reads must exist before anything is passed.
    std::vector<Value> inputs(n);
    std::vector<std::string> targets(n); // variables that receive written arguments
    for (size_t i = 0; i < given; ++i) {
        const Word &word = words[i + 1];
        const ArgumentInfo &argument = info->arguments[i];
        if (word.plain && word.text == "@null") {
            continue;
        }
        if (!IsVariable(word)) {
            if (IsNumber(argument.kind) && !ParseNumber(word.text)) {
                return Fail(line, "argument " + std::to_string(i + 1) + " of " + info->name + " (" +
                                      argument.name + ") is not a number: " + word.text);
            }
            inputs[i] = Value::Text(IsArray(argument.kind) ? word.text : ToGbk(word.text));
            continue;
        }
        const std::string name = word.text.substr(1);
        if (argument.direction != Direction::In) {
            targets[i] = name;
        }
        if (argument.direction == Direction::Out) {
            continue;
        }
        const auto found = variables_.find(name);
        if (found == variables_.end()) {
            return Fail(line, "unknown variable " + word.text + " (argument " +
                                  std::to_string(i + 1) + " of " + info->name + ", " +
                                  argument.name + ")");
        }
        inputs[i] = found->second;
    }

    std::string error;
    void *symbol = library_.Symbol(info->name, error);
    if (symbol == nullptr) {
        return Fail(line, error);
    }

    Slots slots(n);
    for (size_t i = 0; i < n; ++i) {
        const Value &value = inputs[i];
        const bool isNull = value.type() == Value::Type::Null;
        const bool isLiteral = i < given && !IsVariable(words[i + 1]);
        switch (info->arguments[i].kind) {
        case Kind::InString:
            if (!isNull) {
                slots.inStrings[i] = value.AsGbk();
                slots.words[i] = reinterpret_cast<intptr_t>(slots.inStrings[i].c_str());
            }
            break;
        case Kind::RefString:
        case Kind::OutString:
            if (!isNull) {
                const std::string gbk = value.AsGbk();
                slots.bstrs[i] = SysAllocStringByteLen(gbk.data(), static_cast<UINT>(gbk.size()));
            }
            slots.words[i] = reinterpret_cast<intptr_t>(&slots.bstrs[i]);
            break;
        case Kind::RefLong:
            slots.numbers[i] = isNull ? 0 : static_cast<intptr_t>(value.AsNumber());
            slots.words[i] = reinterpret_cast<intptr_t>(&slots.numbers[i]);
            break;
        case Kind::Long:
        case Kind::Flag:
            slots.words[i] = isNull ? 0 : static_cast<intptr_t>(value.AsNumber());
            break;
        case Kind::Integer:
            // A 16-bit Integer fills its slot's low half; a caller may leave junk above it.
            slots.words[i] = isNull ? 0 : static_cast<intptr_t>(value.AsNumber());
            if (conditions_.integerJunk) {
                slots.words[i] = static_cast<intptr_t>(
                    (static_cast<uintptr_t>(slots.words[i]) & 0xFFFFu) | 0x5A5A0000u);
            }
            break;
        case Kind::StringArray:
        case Kind::VariantArray: {
            const VARTYPE vt = info->arguments[i].kind == Kind::StringArray ? VT_BSTR : VT_VARIANT;
            // Literal array text is the terminal's UTF-8; variables hold GBK text or arrays.
            ArrayPtr array =
                isLiteral && !isNull ? MakeArray(value.AsGbk(), vt) : value.AsArray(vt);
            slots.arrays[i] = array.release();
            slots.words[i] = reinterpret_cast<intptr_t>(&slots.arrays[i]);
            break;
        }
        case Kind::RefVariant:
            slots.words[i] = reinterpret_cast<intptr_t>(slots.variants[i].get());
            break;
        }
    }

    const CallOutcome outcome =
        Invoke(symbol, slots.words, n, info->result == ResultKind::Double, conditions_);
    if (!outcome.fault.empty()) {
        return Fail(line, info->name + ": " + outcome.fault);
    }
    bool succeeded = true;
    Value result;
    if (info->result == ResultKind::Double) {
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", outcome.real);
        std::fprintf(out_, "%s\n", text);
        result = Value::Text(text);
    } else {
        const intptr_t value = outcome.word;
        long long number = 0;
        if (info->result == ResultKind::String) {
            BstrPtr owned(reinterpret_cast<BSTR>(value));
            std::fprintf(out_, "%s\n", BstrText(owned.get(), hex_).c_str());
            result = owned ? Value::Text(BstrBytes(owned.get())) : Value::Null();
        } else if (info->result == ResultKind::Long) {
            number = static_cast<int32_t>(value);
            std::fprintf(out_, "%lld\n", number);
            result = Value::Number(number);
        } else if (info->result == ResultKind::Integer) {
            number = static_cast<int16_t>(value);
            std::fprintf(out_, "%lld\n", number);
            result = Value::Number(number);
        }
        succeeded = !info->resultIsStatus || number > 0;
    }

    for (size_t i = 0; i < n; ++i) {
        const Kind kind = info->arguments[i].kind;
        const int position = static_cast<int>(i) + 1;
        Value written;
        if (kind == Kind::OutString) {
            std::fprintf(out_, "arg %d: %s\n", position, BstrText(slots.bstrs[i], hex_).c_str());
            written = Value::Text(BstrBytes(slots.bstrs[i]));
        } else if (kind == Kind::RefString) {
            written = Value::Text(BstrBytes(slots.bstrs[i]));
        } else if (kind == Kind::RefLong) {
            std::fprintf(out_, "arg %d: %lld\n", position,
                         static_cast<long long>(slots.numbers[i]));
            written = Value::Number(slots.numbers[i]);
        } else if (IsArray(kind)) {
            if (slots.arrays[i] == nullptr) {
                std::fprintf(out_, "arg %d: (no array)\n", position);
            } else {
                std::fprintf(out_, "arg %d:\n%s", position,
                             ArrayLines(slots.arrays[i], hex_).c_str());
            }
            written = Value::Array(ArrayPtr(slots.arrays[i]));
            slots.arrays[i] = nullptr;
        } else if (kind == Kind::RefVariant) {
            std::fprintf(out_, "arg %d: %s\n", position,
                         VariantText(slots.variants[i].get()).c_str());
            written = Value::FromVariant(slots.variants[i]);
        }
        if (!targets[i].empty()) {
            variables_[targets[i]] = std::move(written);
        }
    }
    if (!resultVariable.empty()) {
        variables_[resultVariable] = std::move(result);
    }
    std::fflush(out_);
    if (!succeeded) {
        return Fail(line, info->name + " reported a failure");
    }
    return true;
}

} // namespace kestrun_cli
