#pragma once

#include "lanes/Batch.hpp"

// The table of batch functions of each instruction set, each defined by its
// own build of Kernels.cpp. Only the scalar one is built on processors other
// than x86-64.
namespace spirell::lanes {

namespace scalar {
const KernelTable& kernels();
}
namespace sse2 {
const KernelTable& kernels();
}
namespace avx {
const KernelTable& kernels();
}
namespace avx512 {
const KernelTable& kernels();
}

} // namespace spirell::lanes
