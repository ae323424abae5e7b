// Script errors: the language's own numbers and descriptions, with the line where they arose.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace kestrun::vbscript {

namespace err {
// Run-time errors.
inline constexpr int32_t InvalidCall = 5;
inline constexpr int32_t Overflow = 6;
inline constexpr int32_t OutOfMemory = 7;
inline constexpr int32_t Subscript = 9;
inline constexpr int32_t ArrayFixed = 10;
inline constexpr int32_t DivByZero = 11;
inline constexpr int32_t TypeMismatch = 13;
inline constexpr int32_t OutOfStringSpace = 14;
inline constexpr int32_t OutOfStack = 28;
inline constexpr int32_t ProcNotDefined = 35;
inline constexpr int32_t BadFileName = 52;
inline constexpr int32_t FileNotFound = 53;
inline constexpr int32_t BadFileMode = 54;
inline constexpr int32_t DeviceIo = 57;
inline constexpr int32_t FileExists = 58;
inline constexpr int32_t DiskFull = 61;
inline constexpr int32_t PastEndOfFile = 62;
inline constexpr int32_t DeviceUnavailable = 68;
inline constexpr int32_t PermissionDenied = 70;
inline constexpr int32_t PathFileAccess = 75;
inline constexpr int32_t PathNotFound = 76;
inline constexpr int32_t ObjectNotSet = 91;
inline constexpr int32_t InvalidNull = 94;
inline constexpr int32_t ObjectRequired = 424;
inline constexpr int32_t CannotCreate = 429;
inline constexpr int32_t NoMember = 438;
inline constexpr int32_t WrongArgs = 450;
inline constexpr int32_t NotCollection = 451;
inline constexpr int32_t KeyExists = 457;
inline constexpr int32_t UnsupportedType = 458;
inline constexpr int32_t Undefined = 500;
inline constexpr int32_t IllegalAssign = 501;
inline constexpr int32_t ClassNotDefined = 506;
inline constexpr int32_t RegexSyntax = 5017;
inline constexpr int32_t ElementNotFound = 32811;
// The script ran past its time limit (or, in tests, its step budget) and was stopped: the
// HRESULT of an aborted operation.
inline constexpr int32_t Stopped = static_cast<int32_t>(0x80004004);
// Compile errors.
inline constexpr int32_t Syntax = 1002;
inline constexpr int32_t ExpColon = 1003;
inline constexpr int32_t ExpLParen = 1005;
inline constexpr int32_t ExpRParen = 1006;
inline constexpr int32_t ExpIdent = 1010;
inline constexpr int32_t ExpEqual = 1011;
inline constexpr int32_t ExpIf = 1012;
inline constexpr int32_t ExpTo = 1013;
inline constexpr int32_t ExpEnd = 1014;
inline constexpr int32_t ExpFunction = 1015;
inline constexpr int32_t ExpSub = 1016;
inline constexpr int32_t ExpThen = 1017;
inline constexpr int32_t ExpWend = 1018;
inline constexpr int32_t ExpLoop = 1019;
inline constexpr int32_t ExpNext = 1020;
inline constexpr int32_t ExpCase = 1021;
inline constexpr int32_t ExpSelect = 1022;
inline constexpr int32_t ExpExpr = 1023;
inline constexpr int32_t ExpStatement = 1024;
inline constexpr int32_t ExpEndOfStmt = 1025;
inline constexpr int32_t ExpInteger = 1026;
inline constexpr int32_t ExpWhileUntil = 1027;
inline constexpr int32_t ExpWith = 1029;
inline constexpr int32_t InvalidNumber = 1031;
inline constexpr int32_t InvalidChar = 1032;
inline constexpr int32_t UntermString = 1033;
inline constexpr int32_t InvalidMe = 1037;
inline constexpr int32_t LoopWithoutDo = 1038;
inline constexpr int32_t InvalidExit = 1039;
inline constexpr int32_t InvalidForVar = 1040;
inline constexpr int32_t Redefined = 1041;
inline constexpr int32_t ParensOnSub = 1044;
inline constexpr int32_t ExpLiteral = 1045;
inline constexpr int32_t ExpIn = 1046;
inline constexpr int32_t ExpClass = 1047;
inline constexpr int32_t InsideClass = 1048;
inline constexpr int32_t ExpLetSetGet = 1049;
inline constexpr int32_t ExpProperty = 1050;
inline constexpr int32_t MultipleDefault = 1052;
inline constexpr int32_t InitTermArgs = 1053;
inline constexpr int32_t PropertyNeedsArg = 1054;
inline constexpr int32_t UnexpectedNext = 1055;
} // namespace err

// The standard description of an error number ("Unknown runtime error" when it has none).
std::u16string errorDescription(int32_t number);

// A script error on its way to the nearest On Error Resume Next or to the host.
class ScriptError : public std::exception {
public:
    explicit ScriptError(int32_t number) : number(number), description(errorDescription(number)) {}
    ScriptError(int32_t number, std::u16string description, int line = 0)
        : number(number), description(std::move(description)), line(line) {}
    const char *what() const noexcept override { return "script error"; }

    int32_t number;
    std::u16string description;
    int line = 0;          // 1-based line in the added code; 0 until known
    std::u16string source; // Err.Source
    std::u16string helpFile;
    int32_t helpContext = 0;
    bool compile = false;      // raised while compiling
    bool scriptSource = false; // source and description given by the script (Err.Raise)
    bool scriptDescription = false;
    bool fatal = false; // the script is being stopped: On Error Resume Next does not hold it
};

[[noreturn]] void raise(int32_t number);

// The error number Err.Raise reports for `number`: HRESULTs of the language's own facility and
// of well-known system errors become the language's numbers, other HRESULTs stay; 0 and
// numbers above 65535 that are no HRESULT are invalid (error 5).
int32_t raisedNumber(int32_t number);

} // namespace kestrun::vbscript
