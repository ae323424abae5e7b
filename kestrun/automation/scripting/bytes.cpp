#include "kestrun/automation/scripting/bytes.h"

#include "vbscript/errors.h"

#include <cstdint>

namespace kestrun::scripting {

using vbscript::ArrayRep;
using vbscript::Value;
using vbscript::VType;

Value MakeByteArray(std::string_view bytes) {
    if (bytes.size() > static_cast<size_t>(INT32_MAX))
        vbscript::raise(vbscript::err::OutOfMemory);
    auto *rep = new ArrayRep;
    Value out = Value::array(rep);
    rep->bytes = true;
    rep->dims.push_back(static_cast<int32_t>(bytes.size()));
    rep->data.reserve(bytes.size());
    for (const char c : bytes)
        rep->data.push_back(Value::byte(static_cast<uint8_t>(c)));
    return out;
}

std::optional<std::string> BytesOf(const Value &v) {
    if (!v.isArray() || v.a()->dims.size() != 1)
        return std::nullopt;
    std::string out;
    out.reserve(v.a()->data.size());
    for (const Value &e : v.a()->data) {
        if (e.type() != VType::Byte)
            return std::nullopt;
        out.push_back(static_cast<char>(e.by()));
    }
    return out;
}

} // namespace kestrun::scripting
