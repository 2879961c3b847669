#pragma once

#include "lanes/Batch.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace spirell::lanes {

// The instruction-set widths the per-pixel functions are built for: one
// double at a time, or 2, 4 or 8 lanes. Every width gives the same bits.
enum class Width { Scalar, Sse2, Avx, Avx512 };

// "scalar", "sse2", "avx", "avx512".
const char* nameOf(Width width);
std::optional<Width> widthNamed(std::string_view name);

// Whether this build has the width and this processor (and its operating
// system) can run it.
bool isAvailable(Width width);
std::vector<Width> availableWidths();
Width widestAvailable();

// The batch functions of an available width.
const WidthKernels& kernelsFor(Width width);

} // namespace spirell::lanes
