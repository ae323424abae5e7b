// Fuzz entry for RunVBFunction as a host calls it: a fixed script whose `Main` takes as many
// parameters as the argument array has elements, called with an array built from the input.
// The array holds VARIANTs of every kind a host can pass (numbers, texts of any bytes, dates,
// Null, empty objects, byte arrays, nested arrays of one or two dimensions with odd lower bounds,
// references to other VARIANTs, to themselves and to plain numbers), or is a String() array.
// The script echoes, rewrites (ByRef, so the host's variables change) or inspects its arguments;
// it never creates objects, so no input reaches the file system or starts a program.
//
// Input: byte 0 picks the script and the shape of the array, byte 1 what the result variable
// holds before the call, then the elements.
#include "byte_reader.h"
#include "kestrun.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using Reader = kestrun::fuzz::ByteReader;

BSTR AnsiBstr(const std::string &s) {
    return SysAllocStringByteLen(s.data(), static_cast<UINT>(s.size()));
}

// Values the VARIANTs of the array refer to (VT_BYREF): they live until the call is over.
struct Targets {
    std::deque<VARIANT> variants;
    std::deque<int32_t> longs;
    ~Targets() {
        for (auto &v : variants)
            VariantClear(&v);
    }
};

void ReadVariant(Reader &r, Targets &t, int depth, VARIANT &v);

// A SAFEARRAY of one or two dimensions of `vt` elements with lower bounds from -2 to 5.
SAFEARRAY *ReadArray(Reader &r, Targets &t, int depth, VARTYPE vt) {
    const uint8_t shape = r.byte();
    SAFEARRAYBOUND bounds[2];
    const UINT dims = (shape & 1) ? 2 : 1;
    for (UINT d = 0; d < dims; ++d) {
        bounds[d].cElements = depth < 3 ? (r.byte() % 5) : 0;
        bounds[d].lLbound = static_cast<LONG>(r.byte() % 8) - 2;
    }
    SAFEARRAY *a = SafeArrayCreate(vt, dims, bounds);
    if (!a)
        return nullptr;
    void *data = nullptr;
    if (FAILED(SafeArrayAccessData(a, &data)))
        return a;
    size_t total = bounds[0].cElements * (dims == 2 ? bounds[1].cElements : 1);
    for (size_t i = 0; i < total; ++i) {
        if (vt == VT_VARIANT)
            ReadVariant(r, t, depth + 1, static_cast<VARIANT *>(data)[i]);
        else if (vt == VT_BSTR)
            static_cast<BSTR *>(data)[i] = AnsiBstr(r.bytes(24));
        else
            static_cast<uint8_t *>(data)[i] = r.byte();
    }
    SafeArrayUnaccessData(a);
    return a;
}

void ReadVariant(Reader &r, Targets &t, int depth, VARIANT &v) {
    VariantInit(&v);
    switch (r.byte() % 20) {
    case 0:
        break;
    case 1:
        v.vt = VT_NULL;
        break;
    case 2:
        v.vt = VT_I2;
        v.iVal = r.raw<int16_t>();
        break;
    case 3:
        v.vt = VT_I4;
        v.lVal = r.raw<int32_t>();
        break;
    case 4:
        v.vt = VT_R4;
        v.fltVal = r.raw<float>();
        break;
    case 5:
        v.vt = VT_R8;
        v.dblVal = r.raw<double>();
        break;
    case 6:
        v.vt = VT_CY;
        v.cyVal.int64 = r.raw<int64_t>();
        break;
    case 7:
        v.vt = VT_DATE;
        v.date = r.raw<double>();
        break;
    case 8:
    case 9:
        v.vt = VT_BSTR;
        v.bstrVal = (r.byte() & 7) == 0 ? nullptr : AnsiBstr(r.bytes(48));
        break;
    case 10:
        v.vt = VT_BOOL;
        v.boolVal = (r.byte() & 1) ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case 11:
        v.vt = VT_UI1;
        v.bVal = r.byte();
        break;
    case 12:
        v.vt = VT_ERROR;
        v.scode = r.raw<int32_t>();
        break;
    case 13:
        v.vt = (r.byte() & 1) ? VT_DISPATCH : VT_UNKNOWN; // Nothing
        v.pdispVal = nullptr;
        break;
    case 14:
    case 15:
        v.vt = VT_ARRAY | VT_VARIANT;
        v.parray = ReadArray(r, t, depth, VT_VARIANT);
        if (!v.parray)
            v.vt = VT_EMPTY;
        break;
    case 16:
        v.vt = VT_ARRAY | VT_UI1;
        v.parray = ReadArray(r, t, depth, VT_UI1);
        if (!v.parray)
            v.vt = VT_EMPTY;
        break;
    case 17: {
        // A reference to another VARIANT, to an earlier target, or to the target itself.
        v.vt = VT_BYREF | VT_VARIANT;
        const uint8_t pick = r.byte();
        if (!t.variants.empty() && (pick & 3) == 0) {
            v.pvarVal = &t.variants[pick % t.variants.size()];
        } else {
            VARIANT &target = t.variants.emplace_back();
            if ((pick & 3) == 1 || depth >= 3) {
                VariantInit(&target);
                target.vt = VT_BYREF | VT_VARIANT;
                target.pvarVal = &target;
            } else {
                ReadVariant(r, t, depth + 1, target);
            }
            v.pvarVal = &target;
        }
        break;
    }
    case 18:
        v.vt = VT_BYREF | VT_I4;
        v.plVal = &t.longs.emplace_back(r.raw<int32_t>());
        break;
    default: {
        // Types Visual Basic does not send, and numbers that are no type at all (none of them
        // owns or points to memory).
        static constexpr VARTYPE kOdd[] = {VT_I1,  VT_UI2,  VT_UI4, VT_I8, VT_UI8,
                                           VT_INT, VT_UINT, 15,     0x48,  0x0FFF};
        v.vt = kOdd[r.byte() % (sizeof kOdd / sizeof kOdd[0])];
        v.llVal = r.raw<int64_t>();
        break;
    }
    }
}

// The body of Main over parameters p0..pN-1.
std::string Script(uint8_t pick, size_t count) {
    std::string params, list;
    for (size_t i = 0; i < count; ++i) {
        params += (i ? ", p" : "p") + std::to_string(i);
        list += (i ? ", p" : "p") + std::to_string(i);
    }
    std::string s = "Function Main(" + params + ")\r\n";
    switch (pick % 4) {
    case 0: // every argument back, as one array
        s += "Main = Array(" + list + ")\r\n";
        break;
    case 1: // each argument rewritten in place: the host's variables change
        s += "On Error Resume Next\r\n";
        for (size_t i = 0; i < count; ++i) {
            const std::string p = "p" + std::to_string(i);
            s += "If IsArray(" + p + ") Then\r\n ReDim Preserve " + p + "(UBound(" + p +
                 ") + 1)\r\n " + p + "(UBound(" + p + ")) = \"\xc4\xe3\"\r\nElse\r\n " + p + " = " +
                 p + " & \"x\" & " + p + "\r\nEnd If\r\n";
        }
        s += "Main = " + std::to_string(count) + "\r\n";
        break;
    case 2: // each argument inspected
        s += "On Error Resume Next\r\nDim s, e\r\n";
        for (size_t i = 0; i < count; ++i) {
            const std::string p = "p" + std::to_string(i);
            s += "s = s & TypeName(" + p + ") & VarType(" + p + ") & CStr(" + p + ") & Len(" + p +
                 ") & \"|\"\r\nIf IsArray(" + p + ") Then s = s & UBound(" + p + ", 1) & Join(" +
                 p + ", \",\")\r\nFor Each e In " + p + " : s = s & TypeName(e) : Next\r\n";
        }
        s += "Main = s\r\n";
        break;
    default: // the last argument nested in arrays, and back as the result
        s += count ? "Dim x : x = p" + std::to_string(count - 1) +
                         "\r\nMain = Array(x, Array(x))\r\np0 = Main\r\n"
                   : "Main = Empty\r\n";
        break;
    }
    return s + "End Function\r\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader r{data, size};
    const uint8_t pick = r.byte();
    const uint8_t before = r.byte();
    Targets targets;
    SAFEARRAY *args = nullptr;
    size_t count = 0;
    if ((pick & 0x30) == 0x30) {
        // A String() array: the elements are ANSI texts.
        args = ReadArray(r, targets, 2, VT_BSTR);
    } else if ((pick & 0x30) != 0x20) {
        args = ReadArray(r, targets, 0, VT_VARIANT);
    } // else no array at all
    if (args) {
        count = 1;
        for (UINT d = 1; d <= SafeArrayGetDim(args); ++d) {
            LONG lo = 0, hi = -1;
            SafeArrayGetLBound(args, d, &lo);
            SafeArrayGetUBound(args, d, &hi);
            count *= static_cast<size_t>(hi - lo + 1);
        }
    }
    BSTR script = AnsiBstr(Script(pick >> 2, count));
    BSTR name = AnsiBstr((pick & 0x40) ? "main" : "Main");
    VARIANT result;
    VariantInit(&result);
    if (before & 1) { // the caller's variable held a text or an array
        ReadVariant(r, targets, 2, result);
        if (result.vt & VT_BYREF)
            result.vt = VT_EMPTY;
    }
    BSTR error = nullptr;
    RunVBFunction(&script, &name, &args, &result, &error);
    VariantClear(&result);
    SysFreeString(error);
    SysFreeString(name);
    SysFreeString(script);
    if (args)
        SafeArrayDestroy(args);
    return 0;
}
