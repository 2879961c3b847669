#include "drawing/Computing.hpp"

#include "base/Limits.hpp"
#include "base/WholeNumber.hpp"

#include <algorithm>
#include <cstdlib>
#include <sched.h>
#include <thread>

namespace spirell::drawing {

namespace {

std::string setList(const std::vector<lanes::InstructionSet>& sets) {
    std::string list;
    for (const lanes::InstructionSet set : sets)
        list += (list.empty() ? "" : ", ") + std::string(lanes::nameOf(set));
    return list;
}

} // namespace

unsigned usableCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 0)
        return static_cast<unsigned>(CPU_COUNT(&cores));
    return std::max(std::thread::hardware_concurrency(), 1u);
}

unsigned threadsFor(unsigned wanted, std::uint64_t units) {
    const std::uint64_t cap = std::uint64_t{kThreadsPerCore} * usableCores();
    return static_cast<unsigned>(
        std::max<std::uint64_t>(std::min({std::uint64_t{wanted}, cap, units}), 1));
}

unsigned threadCount(const std::string& text, const std::string& origin) {
    const std::optional<long long> count = base::readWholeNumber(text, 1, base::kMaxThreads);
    if (!count)
        throw ComputingChoiceError(origin + " needs a whole number from 1 to " +
                                   std::to_string(base::kMaxThreads) + ", not \"" + text + "\"");
    return static_cast<unsigned>(*count);
}

Computing computingFromEnvironment(std::optional<unsigned> threads) {
    Computing computing;
    computing.instructionSet = lanes::widestAvailable();
    if (const char* name = std::getenv("SPIRELL_SIMD")) {
        const auto set = lanes::instructionSetNamed(name);
        if (!set)
            throw ComputingChoiceError(std::string("SPIRELL_SIMD=") + name +
                                       " is not a width: use scalar, sse2, avx or avx512");
        if (!lanes::isAvailable(*set))
            throw ComputingChoiceError(std::string("SPIRELL_SIMD=") + name +
                                       ": this processor offers only " +
                                       setList(lanes::availableInstructionSets()));
        computing.instructionSet = *set;
    }
    computing.threads = usableCores();
    if (threads)
        computing.threads = *threads;
    else if (const char* text = std::getenv("SPIRELL_THREADS"))
        computing.threads = threadCount(text, "SPIRELL_THREADS");
    return computing;
}

} // namespace spirell::drawing
