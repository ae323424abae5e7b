// The double-precision functions behind the scripts' Sin, Cos, Tan, Atn, Exp, Log, Sqr and `^`.
// Every build returns the same doubles as the Linux build's C library, bit for bit: on Linux they
// are glibc's libm; on Windows glibc's own implementation compiled into the DLL
// (libm_win32.cpp), whatever the caller's x87 control word.
#pragma once

namespace kestrun::libm {

double Sin(double x);
double Cos(double x);
double Tan(double x);
double Atan(double x);
double Exp(double x);
double Log(double x);
double Pow(double x, double y);
double Sqrt(double x);

// Long double arithmetic at the x87 unit's full 64-bit precision for the guard's lifetime, as a
// Linux process normally has it; a Windows caller may have set 53 bits (Visual Basic 6 does).
class ExtendedPrecision {
public:
    ExtendedPrecision();
    ~ExtendedPrecision();
    ExtendedPrecision(const ExtendedPrecision &) = delete;
    ExtendedPrecision &operator=(const ExtendedPrecision &) = delete;

private:
    unsigned short saved_ = 0x37F;
};

} // namespace kestrun::libm
