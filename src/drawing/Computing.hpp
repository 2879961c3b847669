#pragma once

#include "lanes/InstructionSets.hpp"

#include <optional>
#include <stdexcept>
#include <string>

namespace spirell::drawing {

// More threads than this per core are never started, whatever was asked for.
inline constexpr unsigned kThreadsPerCore = 4;

// The cores this process may run on (its CPU affinity), at least one.
unsigned usableCores();

// How colours are computed: with which instruction set, on how many threads.
// Every choice gives the same colours.
struct Computing {
    lanes::InstructionSet instructionSet = lanes::InstructionSet::Scalar;
    unsigned threads = 1;

    const lanes::KernelTable& kernels() const { return lanes::kernelsFor(instructionSet); }
};

// An unusable SPIRELL_SIMD or SPIRELL_THREADS; what() is a one-line message.
class ComputingChoiceError : public std::runtime_error {
public:
    explicit ComputingChoiceError(const std::string& message) : std::runtime_error(message) {}
};

// SPIRELL_SIMD names the instruction set (scalar, sse2, avx or avx512; by default the
// widest this processor offers) and SPIRELL_THREADS the number of computing
// threads (by default one per usable core), unless threads are given here. Throws
// ComputingChoiceError for a set that is unknown or that this processor
// lacks, and for a thread count that is not a whole number from 1 to
// base::kMaxThreads.
Computing computingFromEnvironment(std::optional<unsigned> threads = std::nullopt);

// The threads to share so many units of work (rows, columns) with: as many
// as wanted, but no more than kThreadsPerCore per usable core, no more than
// there are units, and at least one. More would only cost memory.
unsigned threadsFor(unsigned wanted, std::uint64_t units);

// Reads a thread count as SPIRELL_THREADS gives it. Throws ComputingChoiceError.
unsigned threadCount(const std::string& text, const std::string& origin);

} // namespace spirell::drawing
