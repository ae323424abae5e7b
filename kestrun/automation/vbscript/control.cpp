#include "kestrun/automation/vbscript/control.h"

#include "kestrun/interop/errors.h"

namespace kestrun::vbscript {

namespace {
constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);
constexpr int32_t kUnexpected = static_cast<int32_t>(0x8000FFFF);
} // namespace

int32_t ScriptErrorHResult(int32_t number) {
    // Numbers that already are HRESULTs (Err.Raise vbObjectError + n) pass unchanged.
    if (number < 0)
        return number;
    return static_cast<int32_t>(0x800A0000u | (static_cast<uint32_t>(number) & 0xFFFFu));
}

ScriptControl::ScriptControl()
    : engine_(std::make_shared<Interp>()), error_(std::make_shared<ScriptErrorRecord>()) {}

void ScriptControl::SetLanguage(std::u16string_view language) {
    if (lowerAscii(language) != u"vbscript")
        throw interop::ComError(kInvalidArg, u"Unknown script language");
    languageSet_ = true;
}

void ScriptControl::SetAllowUI(bool allow) {
    engine_->allowUI = allow;
}

void ScriptControl::Ready() const {
    if (!languageSet_)
        throw interop::ComError(kUnexpected, u"The script language has not been set");
}

template <class Body> auto ScriptControl::Guarded(Body &&body) -> decltype(body()) {
    Ready();
    *error_ = ScriptErrorRecord{};
    try {
        return body();
    } catch (const ScriptError &e) {
        error_->number = e.number;
        error_->description = e.description;
        error_->line = e.line;
        throw interop::ComError(ScriptErrorHResult(e.number), e.description);
    }
}

void ScriptControl::AddCode(std::u16string_view code) {
    Guarded([&] { engine_->addCode(code); });
}

void ScriptControl::ExecuteStatement(std::u16string_view code) {
    Guarded([&] { engine_->executeStatement(code); });
}

Value ScriptControl::Run(std::u16string_view name, std::vector<Value> args) {
    return Guarded([&] { return engine_->run(name, std::move(args)); });
}

} // namespace kestrun::vbscript
