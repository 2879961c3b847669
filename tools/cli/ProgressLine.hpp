#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace spirell::cli {

// What a progress line counts: the pixels of an image, or the frames of an
// animation.
enum class ProgressUnit { Pixels, Frames };

// One line of progress, rewritten in place: how much is done, the speed and
// the time left.
class ProgressLine {
public:
    // A disabled line prints nothing at all.
    ProgressLine(std::FILE* out, std::uint64_t total, bool enabled,
                 ProgressUnit unit = ProgressUnit::Pixels);

    // Redraws the line at most a few times a second. Of what is done, kept
    // was there before this run (frames of an earlier one), so it does not
    // count toward the speed.
    void update(std::uint64_t done, std::uint64_t kept = 0);
    // Clears the line.
    void finish();

private:
    using Clock = std::chrono::steady_clock;

    std::FILE* out_;
    std::uint64_t total_;
    bool enabled_;
    ProgressUnit unit_;
    bool shown_ = false;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastShown_{};
};

// "  42%  12.3 Mpx/s  1:05 left" for pixels, "42/300 frames  9.8 frames/s  0:27
// left" for frames, for the given progress and elapsed seconds; kept of the
// done ones were done before.
std::string progressText(std::uint64_t done, std::uint64_t total, double seconds,
                         ProgressUnit unit = ProgressUnit::Pixels, std::uint64_t kept = 0);

} // namespace spirell::cli
