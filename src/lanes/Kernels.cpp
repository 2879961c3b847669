// The per-pixel functions for one instruction set. CMake compiles this source
// once per set, each time with the set's own flags and these definitions:
//   SPIRELL_SET           the set's name and namespace (scalar, sse2, ...)
//   SPIRELL_LANES         doubles per vector (1, 2, 4 or 8)
//   SPIRELL_SLEEF_PREFIX  the start of SLEEF's function names: Sleef_ for the
//                         portable C versions, Sleef_cinz_ for the
//                         deterministic vector ones
//   SPIRELL_SLEEF_SUFFIX  their end after the lane count: u10purec, u10sse2,
//                         u10avx, u10avx512fnofma
// Every function SLEEF offers under these names gives the same bits as the
// portable C one, so every set computes the same colours.

#include <sleef.h>

#include "lanes/BatchKernels.hpp"
#include "lanes/KernelTables.hpp"

#define SPIRELL_JOIN(a, b, c, d, e) a##b##c##d##e
#define SPIRELL_JOINED(a, b, c, d, e) SPIRELL_JOIN(a, b, c, d, e)
// SLEEF's double-precision version of function for this set's lanes.
#define SPIRELL_SLEEF(function)                                                                    \
    SPIRELL_JOINED(SPIRELL_SLEEF_PREFIX, function, d, SPIRELL_LANES, SPIRELL_SLEEF_SUFFIX)
// Its correctly rounded version (within half a unit in the last place).
#define SPIRELL_SLEEF_EXACT(function)                                                              \
    SPIRELL_JOINED(SPIRELL_SLEEF_PREFIX, function, d, SPIRELL_LANES, SPIRELL_SLEEF_SUFFIX_EXACT)
#define SPIRELL_STRING(name) #name
#define SPIRELL_NAME(name) SPIRELL_STRING(name)

namespace spirell::lanes::SPIRELL_SET {

namespace {

struct Target {
    static constexpr int size = SPIRELL_LANES;
    typedef double Raw __attribute__((vector_size(8 * SPIRELL_LANES)));

#if SPIRELL_LANES == 1
    static Raw sin(Raw x) {
        return Raw{SPIRELL_SLEEF(sin)(x[0])};
    }
    static Raw cos(Raw x) {
        return Raw{SPIRELL_SLEEF(cos)(x[0])};
    }
    static Raw tan(Raw x) {
        return Raw{SPIRELL_SLEEF(tan)(x[0])};
    }
    static Raw pow(Raw x, Raw y) {
        return Raw{SPIRELL_SLEEF(pow)(x[0], y[0])};
    }
    static Raw sqrt(Raw x) {
        return Raw{SPIRELL_SLEEF_EXACT(sqrt)(x[0])};
    }
    static Raw exp(Raw x) {
        return Raw{SPIRELL_SLEEF(exp)(x[0])};
    }
    static Raw log(Raw x) {
        return Raw{SPIRELL_SLEEF(log)(x[0])};
    }
    static Raw atan2(Raw y, Raw x) {
        return Raw{SPIRELL_SLEEF(atan2)(y[0], x[0])};
    }
#else
    static Raw sin(Raw x) {
        return SPIRELL_SLEEF(sin)(x);
    }
    static Raw cos(Raw x) {
        return SPIRELL_SLEEF(cos)(x);
    }
    static Raw tan(Raw x) {
        return SPIRELL_SLEEF(tan)(x);
    }
    static Raw pow(Raw x, Raw y) {
        return SPIRELL_SLEEF(pow)(x, y);
    }
    static Raw sqrt(Raw x) {
        return SPIRELL_SLEEF_EXACT(sqrt)(x);
    }
    static Raw exp(Raw x) {
        return SPIRELL_SLEEF(exp)(x);
    }
    static Raw log(Raw x) {
        return SPIRELL_SLEEF(log)(x);
    }
    static Raw atan2(Raw y, Raw x) {
        return SPIRELL_SLEEF(atan2)(y, x);
    }
#endif
};

constexpr KernelTable kKernels = makeKernels<Target>(SPIRELL_NAME(SPIRELL_SET));

} // namespace

const KernelTable& kernels() {
    return kKernels;
}

} // namespace spirell::lanes::SPIRELL_SET
