#include "kestrun/windows/unavailable.h"

#include "kestrun/interop/frame.h"

#include <string>

namespace kestrun::windows {
namespace {

std::string Message(const char *name) {
    return std::string(name) + " is not part of this build of Kestrun.dll";
}

} // namespace

BSTR UnavailableString(const char *name, std::initializer_list<BSTR *> outStrings) noexcept {
    return interop::GuardString([&] {
        for (BSTR *out : outStrings) {
            interop::WriteOutString(out, "");
        }
        return interop::StringResult(Message(name));
    });
}

int32_t UnavailableNumber(const char *name, std::initializer_list<BSTR *> outStrings) noexcept {
    return interop::Guard(0, [&] {
        bool first = true;
        for (BSTR *out : outStrings) {
            interop::WriteOutString(out, first ? Message(name) : std::string());
            first = false;
        }
        return 0;
    });
}

} // namespace kestrun::windows
