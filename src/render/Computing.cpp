#include "render/Computing.hpp"

#include <charconv>
#include <cstdlib>
#include <thread>

namespace spirell {

namespace {

std::string widthList(const std::vector<lanes::Width>& widths) {
    std::string list;
    for (const lanes::Width width : widths)
        list += (list.empty() ? "" : ", ") + std::string(lanes::nameOf(width));
    return list;
}

} // namespace

unsigned threadCount(const std::string& text, const std::string& origin) {
    unsigned count = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, count);
    if (text.empty() || error != std::errc{} || stop != end || count < 1 ||
        count > kMaxComputingThreads)
        throw ComputingChoiceError(origin + " needs a whole number from 1 to " +
                                   std::to_string(kMaxComputingThreads) + ", not \"" + text + "\"");
    return count;
}

Computing computingFromEnvironment() {
    Computing computing;
    computing.width = lanes::widestAvailable();
    if (const char* name = std::getenv("SPIRELL_SIMD")) {
        const auto width = lanes::widthNamed(name);
        if (!width)
            throw ComputingChoiceError(std::string("SPIRELL_SIMD=") + name +
                                       " is not a width: use scalar, sse2, avx or avx512");
        if (!lanes::isAvailable(*width))
            throw ComputingChoiceError(std::string("SPIRELL_SIMD=") + name +
                                       ": this processor offers only " +
                                       widthList(lanes::availableWidths()));
        computing.width = *width;
    }
    computing.threads = std::max(1u, std::thread::hardware_concurrency());
    if (const char* threads = std::getenv("SPIRELL_THREADS"))
        computing.threads = threadCount(threads, "SPIRELL_THREADS");
    return computing;
}

const Computing& defaultComputing() {
    static const Computing computing = computingFromEnvironment();
    return computing;
}

} // namespace spirell
