// The interpreter: owns compiled code, globals and the Err state of one script engine. One
// instance belongs to one thread; nothing is shared between instances.
#pragma once

#include "ast.h"
#include "errors.h"
#include "value.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kestrun::vbscript {

class Instance;

// The object of a `With` block, held by the block's statement while it runs.
struct WithLink {
    Value object;
    WithLink *outer;
};

struct Frame {
    Value **vars = nullptr;
    Instance *me = nullptr;
    Proc *proc = nullptr;
    bool resumeNext = false;
    WithLink *with = nullptr; // the innermost `With` block running in this frame
};

struct Builtin {
    std::u16string_view name;
    Value (*fn)(Interp &, Args);
    int8_t minArgs;
    int8_t maxArgs; // -1: any number
};
const Builtin *findBuiltin(std::u16string_view lname);
bool findConstant(std::u16string_view lname, Value &out);

// Argument that was left out (`f(1, , 3)`).
inline constexpr int32_t kMissing = static_cast<int32_t>(0x80020004);
inline bool isMissing(const Value &v) {
    return v.type() == VType::Error && v.l() == kMissing;
}

// Dialogs shown by MsgBox and InputBox; replaceable so that tests need no display.
struct DialogHost {
    virtual ~DialogHost() = default;
    virtual int messageBox(const std::u16string &prompt, int buttons,
                           const std::u16string &title) = 0;
    // Returns false when the user cancelled.
    virtual bool inputBox(const std::u16string &prompt, const std::u16string &title,
                          std::u16string &text) = 0;
};
std::unique_ptr<DialogHost> makeDesktopDialogs();

// The objects a script reaches by CreateObject and GetObject beyond the engine's own
// (Scripting.Dictionary, VBScript.RegExp): the host's platform objects. Failures throw
// ScriptError with the language's number (429 when the name is unknown).
struct ObjectHost {
    virtual ~ObjectHost() = default;
    // `server` is empty unless the script named a machine.
    virtual Value createObject(Interp &in, std::u16string_view progId,
                               std::u16string_view server) = 0;
    // GetObject(path, progId): either may be empty (a missing argument).
    virtual Value getObject(Interp &in, std::u16string_view path, std::u16string_view progId) = 0;
};

// The button a user picks by pressing Enter in a message box of `buttons` (the button bits of
// MsgBox's second argument): what a dialog answers when it cannot be shown.
inline int defaultMessageBoxAnswer(int buttons) {
    switch (buttons & 7) {
    case 2:
        return 3; // Abort
    case 3:
    case 4:
        return 6; // Yes
    case 5:
        return 4; // Retry
    default:
        return 1; // OK
    }
}

// The wall-clock time in the local time zone, as the platform's time zone rules give it.
struct LocalTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime localNow();

// Shared ownership (enable_shared_from_this) lets the host hand out references to the engine
// from inside it: an object passed to another component keeps its engine alive.
class Interp : public std::enable_shared_from_this<Interp> {
public:
    Interp();
    ~Interp();
    Interp(const Interp &) = delete;
    Interp &operator=(const Interp &) = delete;

    // ---- host interface; failures throw ScriptError with number, description and line ----
    void addCode(std::u16string_view code);
    void executeStatement(std::u16string_view code);
    Value run(std::u16string_view name, std::vector<Value> args);
    Value evaluate(std::u16string_view expression);
    // Member access on one of the engine's objects for the host (a caller holding a reference
    // to it): `obj.name(args)`, `obj.name(args) = v` (Set when isSet) and For Each. `name` is
    // case-insensitive, empty for the default member; arguments are written through as ByRef.
    // Made from outside a running script they are host calls, under the time limit; from inside
    // (a component calling back while the script runs) they are part of the running call.
    Value callMember(const Value &obj, std::u16string_view name, Args args);
    void putMember(const Value &obj, std::u16string_view name, Args args, const Value &v,
                   bool isSet);
    std::vector<Value> enumerateMember(const Value &obj);

    // ---- run-time limit ----
    // Each call from the host (addCode, executeStatement, run, evaluate) may run this long
    // before the script is stopped with error err::Stopped, which On Error Resume Next does not
    // hold.
    std::chrono::milliseconds timeLimit{10000};
    // Tests only: stop the script after about this many loop iterations and procedure calls
    // (0: no budget), whatever the time.
    void setStepBudget(uint64_t steps);
    // The check of the limits, made on every loop back-edge and procedure call: a countdown
    // that reads the clock at most every kStepsPerCheck steps, more often while steps are slow.
    void tick() {
        if (--ticks_ <= 0) [[unlikely]]
            checkLimits();
    }
    static constexpr int32_t kStepsPerCheck = 4096;
    static constexpr int32_t kFirstStride = 8;

    bool allowUI = false;
    std::unique_ptr<DialogHost> dialogs;
    // Null: only the engine's own objects can be created.
    std::unique_ptr<ObjectHost> objects;
    // Conversion between text and the ANSI code page (Asc/Chr); Latin-1 unless the host sets it.
    std::function<std::string(std::u16string_view)> toAnsi;
    std::function<std::u16string(std::string_view)> fromAnsi;

    // ---- runtime ----
    Value callProc(Proc &p, Instance *me, Args args);
    // Puts a call's arguments into the new frame's variables: `store` holds the procedure's
    // slots (Empty), `ptrs` points each parameter at its variable; a ByRef argument may point
    // it elsewhere. Runs in the caller's frame.
    using ArgFiller = void (*)(const void *ctx, Interp &in, const Proc &p, Value *store,
                               Value **ptrs);
    // callProc for a caller that passes exactly the procedure's parameter count and fills them
    // itself (compiled calls evaluate their arguments straight into the new frame).
    Value callProcFilled(Proc &p, Instance *me, ArgFiller fill, const void *ctx);
    Flow execBlock(const Block &b);
    void setError(const ScriptError &e);
    void clearError();
    int globalSlot(const std::u16string &lname, bool create);
    void execGlobal(std::u16string_view code);       // ExecuteGlobal
    void execLocal(std::u16string_view code);        // Execute
    Value evalLocal(std::u16string_view expression); // Eval
    Value newInstance(const std::u16string &lname);
    Value createObject(const std::u16string &progId, std::u16string_view server = {});
    Value getObject(std::u16string_view path, std::u16string_view progId);
    // Measures the stack of the running thread for the outermost call (depth 0).
    void markStack();
    void track(Object *o);
    void untrack(Object *o);

    Frame *frame;
    Frame globalFrame;
    std::vector<std::unique_ptr<Program>> programs; // declared before the globals: outlives them
    std::deque<Value> globals;
    std::unordered_map<std::u16string, int> globalIndex;
    std::unordered_map<std::u16string, Proc *> procs;
    std::unordered_map<std::u16string, ClassDef *> classes;
    std::unordered_set<Object *> live;
    int curLine = 0;
    int depth = 0;
    uintptr_t stackLimit = 0; // procedure calls below this address raise error 28

    int32_t errNumber = 0;
    std::u16string errDescription, errSource, errHelpFile;
    int32_t errHelpContext = 0;
    // Source and description were set by the script (Err.Raise, assignment) and are kept by a
    // later Err.Raise that leaves them out.
    bool errSourceByScript = false, errDescriptionByScript = false;
    Value errObject;
    Value scriptObject; // `Me` outside a class, made when first used

    uint32_t rndState = 0x50000;

private:
    void install(std::unique_ptr<Program> prog, bool keep);
    // Starts a call from the host: the frame, the clock of the time limit. The limit holds until
    // the returned guard goes away.
    struct HostCall {
        Interp &in;
        ~HostCall() {
            in.running_ = false;
            in.expired_ = false;
        }
    };
    [[nodiscard]] HostCall enter();
    template <class Body> auto hostCall(Body &&body) -> decltype(body());
    template <class Body> auto memberCall(const Value &obj, Body &&body) -> decltype(body());
    [[noreturn]] void stop(std::u16string description);
    void checkLimits();

    int32_t ticks_ = kStepsPerCheck;
    int32_t granted_ = kStepsPerCheck; // steps the countdown started from
    // Steps between two reads of the clock: shortened while steps are slow (see checkLimits).
    int32_t stride_ = kStepsPerCheck;
    std::chrono::steady_clock::time_point lastCheck_;
    std::chrono::steady_clock::time_point deadline_;
    bool expired_ = false;
    std::u16string stopReason_; // why and where the script was first stopped
    int stopLine_ = 0;
    bool running_ = false; // inside a call from the host: the time limit applies
    uint64_t budget_ = 0;  // steps left of the test budget; 0 with hasBudget_ false: none
    bool hasBudget_ = false;
};

// Reads an element or calls the default member: `v(args)`.
Value indexValue(Interp &in, const Value &v, Args args);
// Stores into a variable with Let (default value of objects) or Set (objects only) rules.
void storeVar(Interp &in, Value &var, const Value &v, bool isSet);
// Address of an element of an array value (made unshared first), error 9 when out of range.
Value &arrayElement(Interp &in, Value &arr, Args idx);
// Condition of If/While: Null counts as false.
bool truthy(Interp &in, const Value &v);

} // namespace kestrun::vbscript
