#include "lanes/InstructionSets.hpp"

#include "lanes/KernelTables.hpp"

namespace spirell::lanes {

namespace {

using enum InstructionSet;

constexpr InstructionSet kAllSets[] = {Scalar, Sse2, Avx, Avx512};

bool processorOffers(InstructionSet set) {
#if SPIRELL_X86_SETS
    // GCC's checks also ask the operating system whether it saves the wider
    // registers.
    switch (set) {
    case Scalar:
    case Sse2:
        return true;
    case Avx:
        return __builtin_cpu_supports("avx");
    case Avx512:
        return __builtin_cpu_supports("avx512f");
    }
    return false;
#else
    return set == Scalar;
#endif
}

} // namespace

const char* nameOf(InstructionSet set) {
    switch (set) {
    case Scalar:
        return "scalar";
    case Sse2:
        return "sse2";
    case Avx:
        return "avx";
    case Avx512:
        return "avx512";
    }
    return "?";
}

std::optional<InstructionSet> instructionSetNamed(std::string_view name) {
    for (const InstructionSet set : kAllSets)
        if (name == nameOf(set))
            return set;
    return std::nullopt;
}

bool isAvailable(InstructionSet set) {
    return processorOffers(set);
}

std::vector<InstructionSet> availableInstructionSets() {
    std::vector<InstructionSet> sets;
    for (const InstructionSet set : kAllSets)
        if (isAvailable(set))
            sets.push_back(set);
    return sets;
}

InstructionSet widestAvailable() {
    return availableInstructionSets().back();
}

const KernelTable& kernelsFor(InstructionSet set) {
    switch (set) {
#if SPIRELL_X86_SETS
    case Sse2:
        return sse2::kernels();
    case Avx:
        return avx::kernels();
    case Avx512:
        return avx512::kernels();
#endif
    default:
        return scalar::kernels();
    }
}

ColourBatch colourBatchFor(const KernelTable& kernels, const formulas::Formula& formula) {
    return formula.program ? kernels.programColours : kernels.colours[formula.index];
}

} // namespace spirell::lanes
