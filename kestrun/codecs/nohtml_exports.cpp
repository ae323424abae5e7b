// NoHTML.
#include "kestrun.h"
#include "kestrun/codecs/nohtml.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;

KESTRUN_EXPORT BSTR KESTRUN_CALL NoHTML(const char *markup, int16_t options) {
    if (markup == nullptr) {
        return StringResult("");
    }
    return GuardString([&] { return StringResult(kestrun::codecs::NoHtml(markup, options)); });
}
