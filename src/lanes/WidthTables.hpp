#pragma once

#include "lanes/Batch.hpp"

// The table of batch functions of each width, one per source: WidthScalar.cpp,
// WidthSse2.cpp, WidthAvx.cpp and WidthAvx512.cpp. Only the first is built on
// processors other than x86-64.
namespace spirell::lanes {

namespace scalar {
const WidthKernels& kernels();
}
namespace sse2 {
const WidthKernels& kernels();
}
namespace avx {
const WidthKernels& kernels();
}
namespace avx512 {
const WidthKernels& kernels();
}

} // namespace spirell::lanes
