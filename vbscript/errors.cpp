#include "errors.h"

#include <string_view>

namespace kestrun::vbscript {

namespace {

struct ErrorText {
    int32_t number;
    std::u16string_view text;
};

constexpr ErrorText kErrors[] = {
    {5, u"Invalid procedure call or argument"},
    {6, u"Overflow"},
    {7, u"Out of memory"},
    {9, u"Subscript out of range"},
    {10, u"This array is fixed or temporarily locked"},
    {11, u"Division by zero"},
    {13, u"Type mismatch"},
    {14, u"Out of string space"},
    {28, u"Out of stack space"},
    {35, u"Sub or Function not defined"},
    {48, u"Error in loading DLL"},
    {51, u"Internal error"},
    {52, u"Bad file name or number"},
    {53, u"File not found"},
    {54, u"Bad file mode"},
    {57, u"Device I/O error"},
    {58, u"File already exists"},
    {61, u"Disk full"},
    {62, u"Input past end of file"},
    {68, u"Device unavailable"},
    {70, u"Permission denied"},
    {75, u"Path/File access error"},
    {91, u"Object variable not set"},
    {92, u"For loop not initialized"},
    {94, u"Invalid use of Null"},
    {76, u"Path not found"},
    {424, u"Object required"},
    {429, u"ActiveX component can't create object"},
    {430, u"Class doesn't support Automation"},
    {438, u"Object doesn't support this property or method"},
    {445, u"Object doesn't support this action"},
    {449, u"Argument not optional"},
    {450, u"Wrong number of arguments or invalid property assignment"},
    {451, u"Object not a collection"},
    {457, u"This key is already associated with an element of this collection"},
    {458, u"Variable uses an Automation type not supported in VBScript"},
    {500, u"Variable is undefined"},
    {501, u"Illegal assignment"},
    {505, u"Invalid or unqualified reference"},
    {506, u"Class not defined"},
    {5017, u"Syntax error in regular expression"},
    {5018, u"Unexpected quantifier"},
    {5019, u"Expected ']' in regular expression"},
    {5020, u"Expected ')' in regular expression"},
    {32811, u"Element not found"},
    {1001, u"Out of memory"},
    {1002, u"Syntax error"},
    {1003, u"Expected ':'"},
    {1005, u"Expected '('"},
    {1006, u"Expected ')'"},
    {1007, u"Expected ']'"},
    {1010, u"Expected identifier"},
    {1011, u"Expected '='"},
    {1012, u"Expected 'If'"},
    {1013, u"Expected 'To'"},
    {1014, u"Expected 'End'"},
    {1015, u"Expected 'Function'"},
    {1016, u"Expected 'Sub'"},
    {1017, u"Expected 'Then'"},
    {1018, u"Expected 'Wend'"},
    {1019, u"Expected 'Loop'"},
    {1020, u"Expected 'Next'"},
    {1021, u"Expected 'Case'"},
    {1022, u"Expected 'Select'"},
    {1023, u"Expected expression"},
    {1024, u"Expected statement"},
    {1025, u"Expected end of statement"},
    {1026, u"Expected integer constant"},
    {1027, u"Expected 'While' or 'Until'"},
    {1028, u"Expected 'While', 'Until' or end of statement"},
    {1029, u"Expected 'With'"},
    {1030, u"Identifier too long"},
    {1031, u"Invalid number"},
    {1032, u"Invalid character"},
    {1033, u"Unterminated string constant"},
    {1037, u"Invalid use of 'Me' keyword"},
    {1038, u"'loop' without 'do'"},
    {1039, u"Invalid 'exit' statement"},
    {1040, u"Invalid 'for' loop control variable"},
    {1041, u"Name redefined"},
    {1042, u"Must be first statement on the line"},
    {1044, u"Cannot use parentheses when calling a Sub"},
    {1045, u"Expected literal constant"},
    {1046, u"Expected 'In'"},
    {1047, u"Expected 'Class'"},
    {1048, u"Must be defined inside a Class"},
    {1049, u"Expected Let or Set or Get in property declaration"},
    {1050, u"Expected 'Property'"},
    {1051, u"Number of arguments must be consistent across property definitions"},
    {1052, u"Cannot have multiple default property/method in a Class"},
    {1053, u"Class initialize or terminate do not have arguments"},
    {1054, u"Property set or let must have at least one argument"},
    {1055, u"Unexpected 'Next'"},
};

} // namespace

std::u16string errorDescription(int32_t number) {
    for (const auto &e : kErrors)
        if (e.number == number)
            return std::u16string(e.text);
    return u"Unknown runtime error";
}

int32_t raisedNumber(int32_t number) {
    if (number == 0 || number > 0xFFFF)
        return err::InvalidCall;
    if (number > 0)
        return number;
    const auto hr = static_cast<uint32_t>(number);
    if ((hr & 0xFFFF0000u) == 0x800A0000u) // FACILITY_CONTROL: the language's own numbers
        return (hr & 0xFFFFu) ? static_cast<int32_t>(hr & 0xFFFFu) : number;
    struct Mapped {
        uint32_t hr;
        int32_t number;
    };
    static constexpr Mapped kKnown[] = {
        {0x80004001u, 445}, // E_NOTIMPL
        {0x80004002u, 430}, // E_NOINTERFACE
        {0x80020003u, 438}, // DISP_E_MEMBERNOTFOUND
        {0x80020005u, 13},  // DISP_E_TYPEMISMATCH
        {0x80020006u, 438}, // DISP_E_UNKNOWNNAME
        {0x8002000Au, 6},   // DISP_E_OVERFLOW
        {0x8002000Bu, 9},   // DISP_E_BADINDEX
        {0x8002000Eu, 450}, // DISP_E_BADPARAMCOUNT
        {0x8002000Fu, 449}, // DISP_E_PARAMNOTOPTIONAL
        {0x80020012u, 11},  // DISP_E_DIVBYZERO
        {0x80070002u, 53},  // file not found
        {0x80070003u, 76},  // path not found
        {0x80070005u, 70},  // access denied
        {0x80070006u, 52},  // invalid handle
        {0x80070008u, 7},   // not enough memory
        {0x8007000Eu, 7},   // E_OUTOFMEMORY
        {0x8007000Fu, 68},  // invalid drive
        {0x80070020u, 70},  // sharing violation
        {0x80070050u, 58},  // file exists
        {0x80070057u, 5},   // E_INVALIDARG
        {0x80070070u, 61},  // disk full
    };
    for (const auto &m : kKnown)
        if (m.hr == hr)
            return m.number;
    return number;
}

void raise(int32_t number) {
    throw ScriptError(number);
}

} // namespace kestrun::vbscript
