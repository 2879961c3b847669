#pragma once

#include "formulas/Formula.hpp"
#include "lanes/Batch.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace spirell::lanes {

// The instruction sets the per-pixel functions are built for: one double at
// a time, or 2, 4 or 8 lanes. Every set gives the same bits.
enum class InstructionSet { Scalar, Sse2, Avx, Avx512 };

// "scalar", "sse2", "avx", "avx512".
const char* nameOf(InstructionSet set);
std::optional<InstructionSet> instructionSetNamed(std::string_view name);

// Whether this build has the set and this processor (and its operating
// system) can run it.
bool isAvailable(InstructionSet set);
std::vector<InstructionSet> availableInstructionSets();
InstructionSet widestAvailable();

// The batch functions of an available set.
const KernelTable& kernelsFor(InstructionSet set);

// The colour batch function of a formula: its own, or for a formula written
// as text the one that runs the program its level rule carries.
ColourBatch colourBatchFor(const KernelTable& kernels, const formulas::Formula& formula);

} // namespace spirell::lanes
