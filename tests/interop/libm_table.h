// One table of math calls rendered as text: each line names the function and gives the bits of
// its arguments and result. The Linux C library's table (libm_reference.cpp, run on the build
// machine) and the library's own (libm_test.cpp) must be the same text.
#pragma once

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace libm_table {

struct Functions {
    double (*sin)(double);
    double (*cos)(double);
    double (*tan)(double);
    double (*atan)(double);
    double (*exp)(double);
    double (*log)(double);
    double (*pow)(double, double);
    double (*sqrt)(double);
};

inline uint64_t Bits(double d) {
    uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

// A fixed xorshift sequence: the same arguments in every build.
class Arguments {
public:
    double Uniform(double lo, double hi) { return lo + (hi - lo) * double(Next() >> 11) * 0x1p-53; }
    // Magnitudes spread evenly over the exponents from lo to hi (powers of two), either sign.
    double LogUniform(int lo, int hi, bool negativeToo) {
        double m = std::ldexp(1.0 + double(Next() >> 12) * 0x1p-52, lo + int(Next() % (hi - lo)));
        return negativeToo && (Next() & 1) ? -m : m;
    }

private:
    uint64_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    uint64_t state_ = 0x9E3779B97F4A7C15u;
};

constexpr int kRandomPerFunction = 4000;

inline std::string Render(const Functions &f) {
    std::string out;
    char line[96];
    auto one = [&](const char *name, double x, double r) {
        std::snprintf(line, sizeof line, "%s %016" PRIx64 " %016" PRIx64 "\n", name, Bits(x),
                      Bits(r));
        out += line;
    };
    auto two = [&](double x, double y) {
        std::snprintf(line, sizeof line, "pow %016" PRIx64 " %016" PRIx64 " %016" PRIx64 "\n",
                      Bits(x), Bits(y), Bits(f.pow(x, y)));
        out += line;
    };
    const double inf = std::numeric_limits<double>::infinity();
    // Known differences of x87 routines: huge arguments, a cosine far out, a negative power of
    // ten, the tangent near its pole; then edge values.
    const std::vector<double> fixed = {1e22,
                                       -1e22,
                                       1e10,
                                       1.5,
                                       0.0,
                                       -0.0,
                                       1.0,
                                       -1.0,
                                       0.5,
                                       3.141592653589793,
                                       1e300,
                                       4.9e-324,
                                       2.2250738585072014e-308,
                                       1e-8,
                                       709.78,
                                       -745.1,
                                       710.0,
                                       1e308,
                                       inf,
                                       -inf};
    for (double x : fixed) {
        one("sin", x, f.sin(x));
        one("cos", x, f.cos(x));
        one("tan", x, f.tan(x));
        one("atan", x, f.atan(x));
        one("exp", x, f.exp(x));
        one("log", x, f.log(x));
        one("sqrt", x, f.sqrt(x));
    }
    for (double x : {10.0, 2.0, 0.5, -2.0, -10.0, 1.0000001, 0.0})
        for (double y : {-5.0, -1.0, 0.5, 3.0, 22.0, 23.0, -0.3, 1e10, 0.0, -308.0, 1024.0})
            two(x, y);

    Arguments a;
    // The trigonometric functions over growing ranges: each reduction path of the argument.
    const double ranges[] = {1.0, 10.0, 1e3, 1e6, 1e15, 1e22, 1e300};
    for (int i = 0; i < kRandomPerFunction; ++i) {
        const double r = ranges[i % 7];
        double x = a.Uniform(-r, r);
        one("sin", x, f.sin(x));
        x = a.Uniform(-r, r);
        one("cos", x, f.cos(x));
        x = a.Uniform(-r, r);
        one("tan", x, f.tan(x));
        x = a.LogUniform(-40, 80, true);
        one("atan", x, f.atan(x));
        x = i % 2 ? a.Uniform(-745.2, 709.8) : a.Uniform(-2.0, 2.0);
        one("exp", x, f.exp(x));
        x = i % 2 ? a.LogUniform(-1074, 1023, false) : a.Uniform(0.5, 2.0);
        one("log", x, f.log(x));
        x = a.LogUniform(-1074, 1023, false);
        one("sqrt", x, f.sqrt(x));
        switch (i % 4) {
        case 0: // what scripts mostly raise: positive bases, moderate exponents
            two(a.Uniform(0.0, 100.0), a.Uniform(-50.0, 50.0));
            break;
        case 1: // powers of ten, as Round and decimal scaling use them
            two(10.0, double(int(a.Uniform(-330.0, 310.0))));
            break;
        case 2: // negative bases with whole exponents
            two(-a.Uniform(0.0, 1e3), double(int(a.Uniform(-100.0, 100.0))));
            break;
        default: // the whole range
            two(a.LogUniform(-1074, 1023, false), a.Uniform(-1100.0, 1100.0));
            break;
        }
    }
    return out;
}

} // namespace libm_table
