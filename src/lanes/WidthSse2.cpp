// The per-pixel functions two lanes at a time with SSE2, which every x86-64
// processor has.

#include <sleef.h>

#include "lanes/BatchKernels.hpp"
#include "lanes/WidthTables.hpp"

namespace spirell::lanes::sse2 {

namespace {

struct Target {
    static constexpr int size = 2;
    using Raw = __m128d;

    static Raw sin(Raw x) { return Sleef_cinz_sind2_u10sse2(x); }
    static Raw cos(Raw x) { return Sleef_cinz_cosd2_u10sse2(x); }
    static Raw tan(Raw x) { return Sleef_cinz_tand2_u10sse2(x); }
    static Raw pow(Raw x, Raw y) { return Sleef_cinz_powd2_u10sse2(x, y); }
};

constexpr WidthKernels kKernels = makeKernels<Target>("sse2");

} // namespace

const WidthKernels& kernels() {
    return kKernels;
}

} // namespace spirell::lanes::sse2
