// The script control: the object through which the script host drives the engine. It keeps the
// Language/AllowUI settings and an error record, and reports every failure of AddCode,
// ExecuteStatement and Run as a ComError (an HRESULT and a description) after filling the
// record with the script error's number, line and description.
#pragma once

#include "vbscript/interp.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::vbscript {

// What the control's Error object reports about the last failure.
struct ScriptErrorRecord {
    int32_t number = 0;
    std::u16string description;
    int32_t line = 0;
};

class ScriptControl {
public:
    ScriptControl();

    // Only "VBScript" (in any case) is known; any other language raises E_INVALIDARG.
    void SetLanguage(std::u16string_view language);
    void SetAllowUI(bool allow);
    std::shared_ptr<const ScriptErrorRecord> Error() const { return error_; }

    void AddCode(std::u16string_view code);
    void ExecuteStatement(std::u16string_view code);
    // Calls a procedure by name; the result may refer to objects of the engine, which the
    // returned shared engine keeps alive.
    Value Run(std::u16string_view name, std::vector<Value> args);

    const std::shared_ptr<Interp> &Engine() const { return engine_; }

private:
    template <class Body> auto Guarded(Body &&body) -> decltype(body());
    void Ready() const;

    std::shared_ptr<Interp> engine_;
    std::shared_ptr<ScriptErrorRecord> error_;
    bool languageSet_ = false;
};

// The HRESULT under which a script error of `number` is reported.
int32_t ScriptErrorHResult(int32_t number);

} // namespace kestrun::vbscript
