// The per-pixel functions eight lanes at a time with AVX-512 Foundation, using
// SLEEF's versions without fused multiply-add. Built with -mavx512f and called
// only where the processor has it.

#include <sleef.h>

#include "lanes/BatchKernels.hpp"
#include "lanes/WidthTables.hpp"

namespace spirell::lanes::avx512 {

namespace {

struct Target {
    static constexpr int size = 8;
    using Raw = __m512d;

    static Raw sin(Raw x) { return Sleef_cinz_sind8_u10avx512fnofma(x); }
    static Raw cos(Raw x) { return Sleef_cinz_cosd8_u10avx512fnofma(x); }
    static Raw tan(Raw x) { return Sleef_cinz_tand8_u10avx512fnofma(x); }
    static Raw pow(Raw x, Raw y) { return Sleef_cinz_powd8_u10avx512fnofma(x, y); }
};

constexpr WidthKernels kKernels = makeKernels<Target>("avx512");

} // namespace

const WidthKernels& kernels() {
    return kKernels;
}

} // namespace spirell::lanes::avx512
