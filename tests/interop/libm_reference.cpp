// Writes the math table computed by the build machine's C library (Linux glibc) to the file named
// by the first argument; built with the host compiler, also in a cross build.
#include "libm_table.h"

#include <fstream>

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    const libm_table::Functions glibc{[](double x) { return std::sin(x); },
                                      [](double x) { return std::cos(x); },
                                      [](double x) { return std::tan(x); },
                                      [](double x) { return std::atan(x); },
                                      [](double x) { return std::exp(x); },
                                      [](double x) { return std::log(x); },
                                      [](double x, double y) { return std::pow(x, y); },
                                      [](double x) { return std::sqrt(x); }};
    std::ofstream(argv[1], std::ios::binary) << libm_table::Render(glibc);
    return 0;
}
