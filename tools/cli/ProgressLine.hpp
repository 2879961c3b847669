#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace spirell::cli {

// One line of progress, rewritten in place: percentage, speed and time left.
class ProgressLine {
public:
    // A disabled line prints nothing at all.
    ProgressLine(std::FILE* out, std::uint64_t totalPixels, bool enabled);

    // Redraws the line at most a few times a second.
    void update(std::uint64_t pixelsDone);
    // Clears the line.
    void finish();

private:
    using Clock = std::chrono::steady_clock;

    std::FILE* out_;
    std::uint64_t total_;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastShown_{};
};

// "  42%  12.3 Mpx/s  1:05 left" for the given progress and elapsed seconds.
std::string progressText(std::uint64_t done, std::uint64_t total, double seconds);

} // namespace spirell::cli
