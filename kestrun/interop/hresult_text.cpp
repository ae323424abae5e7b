// Message texts for the HRESULTs that the library's platform layers raise.
#include "hresult_text.h"

namespace kestrun::platform {

std::u16string SystemMessageFor(HRESULT hr) {
    struct Entry {
        uint32_t code;
        const char16_t *text;
    };
    static constexpr Entry kTexts[] = {
        {0x80004001u, u"Not implemented"},
        {0x80004002u, u"No such interface supported"},
        {0x80004003u, u"Invalid pointer"},
        {0x80004004u, u"Operation aborted"},
        {0x80004005u, u"Unspecified error"},
        {0x8000FFFFu, u"Catastrophic failure"},
        {0x80070002u, u"The system cannot find the file specified."},
        {0x80070003u, u"The system cannot find the path specified."},
        {0x80070005u, u"Access is denied."},
        {0x80070006u, u"The handle is invalid."},
        {0x8007000Eu, u"Not enough storage is available to complete this operation."},
        {0x80070057u, u"The parameter is incorrect."},
        {0x80020003u, u"Member not found."},
        {0x80020005u, u"Type mismatch."},
        {0x80020006u, u"Unknown name."},
        {0x80020008u, u"Bad variable type."},
        {0x80020009u, u"Exception occurred."},
        {0x8002000Au, u"Out of present range."},
        {0x8002000Bu, u"Invalid index."},
        {0x8002000Du, u"Memory is locked."},
        {0x8002000Eu, u"Invalid number of parameters."},
        {0x8002000Fu, u"Parameter not optional."},
        {0x800401F3u, u"Invalid class string"},
        {0x80040154u, u"Class not registered"},
    };
    for (const Entry &e : kTexts) {
        if (e.code == static_cast<uint32_t>(hr)) {
            return e.text;
        }
    }
    return {};
}

} // namespace kestrun::platform
