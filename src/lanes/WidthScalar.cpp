// The per-pixel functions one double at a time, with SLEEF's portable C
// functions: the path for every processor, and the reference for the others.

#include <sleef.h>

#include "lanes/BatchKernels.hpp"
#include "lanes/WidthTables.hpp"

namespace spirell::lanes::scalar {

namespace {

struct Target {
    static constexpr int size = 1;
    typedef double Raw __attribute__((vector_size(8)));

    static Raw sin(Raw x) { return Raw{Sleef_sind1_u10purec(x[0])}; }
    static Raw cos(Raw x) { return Raw{Sleef_cosd1_u10purec(x[0])}; }
    static Raw tan(Raw x) { return Raw{Sleef_tand1_u10purec(x[0])}; }
    static Raw pow(Raw x, Raw y) { return Raw{Sleef_powd1_u10purec(x[0], y[0])}; }
};

constexpr WidthKernels kKernels = makeKernels<Target>("scalar");

} // namespace

const WidthKernels& kernels() {
    return kKernels;
}

} // namespace spirell::lanes::scalar
