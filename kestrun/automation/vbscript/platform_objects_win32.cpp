// Windows: COM automation objects. Until the COM bridge is in place only the engine's own
// objects exist and every other name raises error 429.
#include "kestrun/automation/vbscript/platform_objects.h"

#include <string>

namespace kestrun::vbscript {

namespace {

class ComObjects final : public ObjectHost {
public:
    Value createObject(Interp &, std::u16string_view progId, std::u16string_view) override {
        throw ScriptError(err::CannotCreate, errorDescription(err::CannotCreate) + u": '" +
                                                 std::u16string(progId) + u"'");
    }
    Value getObject(Interp &, std::u16string_view, std::u16string_view) override {
        throw ScriptError(err::CannotCreate);
    }
};

} // namespace

std::unique_ptr<ObjectHost> NewPlatformObjects() {
    return std::make_unique<ComObjects>();
}

} // namespace kestrun::vbscript
