// Text the script objects read from outside. A choice byte picks a character set; the rest is
// decoded whole and by characters (a stream's ReadText(n)), and the counts must stay inside the
// bytes and add up. Encodings that map bytes one to one must give the bytes back. The same input,
// read as header text, is searched for a header named by its first field: a value found holds no
// line end and comes from a line that names that header.
#include "fuzz_input.h"

#include "kestrun/automation/scripting/response_headers.h"
#include "kestrun/automation/scripting/text_codec.h"

#include <string>

namespace {

using fuzzing::Fail;
using namespace kestrun::scripting;

constexpr const char *kTarget = "script_text";

constexpr Charset kSets[] = {Charset::Utf8,  Charset::Utf16Le, Charset::Gbk,
                             Charset::Ascii, Charset::Latin1,  Charset::Windows1252};

std::u16string Widen(std::string_view bytes) {
    return std::u16string(bytes.begin(), bytes.end());
}

void CheckText(Charset set, std::string_view bytes, size_t chars) {
    const std::u16string all = DecodeText(set, bytes);
    if (all.size() > bytes.size() + 1)
        Fail(kTarget, "more characters than bytes");
    // Reading in pieces of `chars` characters uses every byte exactly once.
    size_t at = 0, rounds = 0;
    const size_t step = chars == 0 ? 1 : chars;
    while (at < bytes.size()) {
        const size_t n = BytesOfChars(set, bytes.substr(at), step);
        if (n == 0 || n > bytes.size() - at)
            Fail(kTarget, "a read of characters took no bytes or more than there are");
        at += n;
        if (++rounds > bytes.size())
            Fail(kTarget, "reading by characters did not end");
    }
    if (set == Charset::Latin1 || set == Charset::Windows1252 ||
        (set == Charset::Utf16Le && bytes.size() % 2 == 0)) {
        if (EncodeText(set, all) != bytes)
            Fail(kTarget, "a one-to-one encoding did not give its bytes back");
    }
    if (set == Charset::Utf16Le && DecodeText(set, EncodeText(set, Widen(bytes))) != Widen(bytes))
        Fail(kTarget, "UTF-16 text did not survive encoding");
}

void CheckHeaders(std::string_view name, std::string_view text) {
    const std::u16string headers = Widen(text);
    const std::optional<std::u16string> value = FindResponseHeader(headers, Widen(name));
    if (!value)
        return;
    if (value->find(u'\n') != std::u16string::npos)
        Fail(kTarget, "a header value holds a line end");
    if (value->size() > headers.size() * 2)
        Fail(kTarget, "a header value longer than the text it came from");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzing::FuzzInput input(data, size);
    const Charset set = kSets[input.Byte() % std::size(kSets)];
    const size_t chars = input.Byte();
    const std::string_view name = input.Field();
    const std::string_view rest = input.Rest();
    CheckText(set, rest, chars);
    CheckHeaders(name, rest);
    return 0;
}
