#include "cli/ProgressLine.hpp"

#include <algorithm>
#include <cmath>

namespace spirell::cli {

namespace {

std::string duration(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

} // namespace

std::string progressText(std::uint64_t done, std::uint64_t total, double seconds, ProgressUnit unit,
                         std::uint64_t kept) {
    const std::uint64_t doneHere = done - std::min(kept, done);
    const double rate = seconds > 0 ? static_cast<double>(doneHere) / seconds : 0;
    char text[96];
    if (unit == ProgressUnit::Frames) {
        std::snprintf(text, sizeof text, "%llu/%llu frames  %.1f frames/s",
                      static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                      rate);
    } else {
        const double fraction = total ? static_cast<double>(done) / static_cast<double>(total) : 1;
        std::snprintf(text, sizeof text, "%4.0f%%  %.1f Mpx/s", std::floor(fraction * 100),
                      rate / 1e6);
    }
    std::string line = text;
    if (rate > 0 && total >= done)
        line += "  " + duration(static_cast<double>(total - done) / rate) + " left";
    return line;
}

ProgressLine::ProgressLine(std::FILE* out, std::uint64_t total, bool enabled, ProgressUnit unit)
    : out_(out), total_(total), enabled_(enabled), unit_(unit) {}

void ProgressLine::update(std::uint64_t done, std::uint64_t kept) {
    if (!enabled_)
        return;
    const Clock::time_point now = Clock::now();
    if (shown_ && now - lastShown_ < std::chrono::milliseconds(250))
        return;
    lastShown_ = now;
    shown_ = true;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    // Trailing spaces wipe what a longer earlier line left behind.
    std::fprintf(out_, "\r%s    ", progressText(done, total_, seconds, unit_, kept).c_str());
    std::fflush(out_);
}

void ProgressLine::finish() {
    if (enabled_ && shown_) {
        std::fprintf(out_, "\r%*s\r", 60, "");
        std::fflush(out_);
    }
    shown_ = false;
}

} // namespace spirell::cli
