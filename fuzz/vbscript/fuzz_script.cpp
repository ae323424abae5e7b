// Fuzz entry for the VBScript engine. The first byte picks what the rest is:
//   even: a script (UTF-8) that is parsed and run, then `Main` called if it defines one;
//   odd:  a script, a zero byte, then arguments for `Main` as a list of typed values, as the
//         host passes a caller's argument array (numbers, texts, dates, nested arrays).
// A step budget ends generated endless loops; a time limit guards against slow single steps.
#include "byte_reader.h"
#include "vbscript/interp.h"
#include "vbscript/ops.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace kestrun::vbscript;

using Reader = kestrun::fuzz::ByteReader;

Value ReadValue(Reader &r, int depth) {
    switch (r.byte() % 10) {
    case 0:
        return Value();
    case 1:
        return Value::null();
    case 2:
        return Value::integer(r.raw<int16_t>());
    case 3:
        return Value::lng(r.raw<int32_t>());
    case 4:
        return Value::dbl(r.raw<double>());
    case 5:
        return Value::boolean(r.byte() & 1);
    case 6:
        return Value::date(r.raw<double>());
    case 7:
        return Value::currency(r.raw<int64_t>());
    case 8: {
        std::u16string s;
        for (size_t len = r.byte() % 64; len && r.more(); --len)
            s.push_back(static_cast<char16_t>(r.raw<uint16_t>()));
        return Value::str(std::move(s));
    }
    default: {
        auto *a = new ArrayRep;
        Value hold = Value::array(a);
        size_t count = depth < 3 ? r.byte() % 8 : 0;
        a->dims.push_back(static_cast<int32_t>(count));
        for (size_t i = 0; i < count; ++i)
            a->data.push_back(ReadValue(r, depth + 1));
        return hold;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const bool withArgs = data[0] & 1;
    std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);
    std::string_view script = rest;
    std::vector<Value> args;
    if (withArgs) {
        size_t zero = rest.find('\0');
        script = rest.substr(0, zero);
        if (zero != std::string_view::npos) {
            Reader r{data + 1 + zero + 1, rest.size() - zero - 1};
            while (r.more() && args.size() < 16)
                args.push_back(ReadValue(r, 0));
        }
    }
    Interp in;
    in.setStepBudget(20000);
    in.timeLimit = std::chrono::seconds(5);
    try {
        in.addCode(utf8ToU16(script));
        if (withArgs || in.procs.count(u"main"))
            in.run(u"Main", std::move(args));
    } catch (const ScriptError &) {
    }
    return 0;
}
