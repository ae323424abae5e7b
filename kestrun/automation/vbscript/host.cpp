#include "kestrun/automation/vbscript/host.h"

#include "kestrun/automation/vbscript/object_proxy.h"
#include "kestrun/automation/vbscript/platform_objects.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/errors.h"

#include <exception>

namespace kestrun::vbscript {

namespace {

constexpr char kLine[] = "-\xD0\xD0";                                    // "-行"
constexpr char kHappened[] = "\xB7\xA2\xC9\xFA\xB4\xED\xCE\xF3\xA1\xA3"; // "发生错误。"

// A control set up for the script language, with Asc/Chr working in the ANSI code page.
std::unique_ptr<ScriptControl> NewControl() {
    auto control = std::make_unique<ScriptControl>();
    control->Engine()->toAnsi = [](std::u16string_view w) { return interop::WideToAnsi(w); };
    control->Engine()->fromAnsi = [](std::string_view a) { return interop::AnsiToWide(a); };
    control->Engine()->objects = NewPlatformObjects();
    control->SetLanguage(u"vbscript");
    return control;
}

} // namespace

std::string ScriptErrorMessage(const ScriptErrorRecord &record) {
    return std::to_string(record.number) + kLine + std::to_string(record.line) + kHappened +
           interop::WideToAnsi(record.description);
}

int32_t RunScript(std::string_view script, std::string &errorText) {
    errorText.clear();
    if (script.empty()) {
        errorText = kNoCodeMessage;
        return 0;
    }
    CallApartment apartment; // COM for the objects the script creates, outliving the engine
    auto control = NewControl();
    auto error = control->Error();
    try {
        control->ExecuteStatement(interop::AnsiToWide(script));
        return 1;
    } catch (const interop::ComError &) {
        errorText = ScriptErrorMessage(*error);
    } catch (const std::exception &e) {
        errorText = e.what();
    }
    return 0;
}

int32_t RunFunction(std::string_view script, std::string_view functionName, std::vector<Value> args,
                    FunctionResult &result, std::string &errorText, bool allowUI) {
    errorText.clear();
    if (script.empty()) {
        errorText = kNoCodeMessage;
        return 0;
    }
    auto control = NewControl();
    control->SetAllowUI(allowUI);
    auto error = control->Error();
    try {
        control->AddCode(interop::AnsiToWide(script));
        Value value = control->Run(interop::AnsiToWide(functionName), std::move(args));
        result.value = Value();
        result.engine = control->Engine();
        result.value = std::move(value);
        return 1;
    } catch (const interop::ComError &) {
        errorText = ScriptErrorMessage(*error);
    } catch (const std::exception &e) {
        errorText = e.what();
    }
    return 0;
}

} // namespace kestrun::vbscript
