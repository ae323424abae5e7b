// Linux: the C library's libm.
#include "kestrun/interop/libm.h"

#include <cmath>

namespace kestrun::libm {

double Sin(double x) {
    return std::sin(x);
}
double Cos(double x) {
    return std::cos(x);
}
double Tan(double x) {
    return std::tan(x);
}
double Atan(double x) {
    return std::atan(x);
}
double Exp(double x) {
    return std::exp(x);
}
double Log(double x) {
    return std::log(x);
}
double Pow(double x, double y) {
    return std::pow(x, y);
}
double Sqrt(double x) {
    return std::sqrt(x);
}

} // namespace kestrun::libm
