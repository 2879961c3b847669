// The per-pixel functions four lanes at a time with AVX. Built with -mavx and
// called only where the processor has it.

#include <sleef.h>

#include "lanes/BatchKernels.hpp"
#include "lanes/WidthTables.hpp"

namespace spirell::lanes::avx {

namespace {

struct Target {
    static constexpr int size = 4;
    using Raw = __m256d;

    static Raw sin(Raw x) { return Sleef_cinz_sind4_u10avx(x); }
    static Raw cos(Raw x) { return Sleef_cinz_cosd4_u10avx(x); }
    static Raw tan(Raw x) { return Sleef_cinz_tand4_u10avx(x); }
    static Raw pow(Raw x, Raw y) { return Sleef_cinz_powd4_u10avx(x, y); }
};

constexpr WidthKernels kKernels = makeKernels<Target>("avx");

} // namespace

const WidthKernels& kernels() {
    return kKernels;
}

} // namespace spirell::lanes::avx
