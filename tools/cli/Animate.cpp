#include "cli/Animate.hpp"

#include "animation/FlightPlan.hpp"
#include "animation/FlightRender.hpp"
#include "animation/FlightTarget.hpp"
#include "base/UserText.hpp"
#include "cli/ProgressLine.hpp"

#include <cstdio>
#include <unistd.h>

namespace spirell::cli {

void animate(const CommandLine& line, const drawing::Computing& computing) {
    // The output's name is checked before any keyframe is read.
    const animation::FlightTarget target = animation::flightTargetFor(line.output, line.lossless);
    std::vector<animation::Keyframe> keys;
    for (const std::string& path : line.keyframes)
        keys.push_back(animation::readKeyframe(path));
    const animation::FlightPlan plan = animation::planFlight(
        keys, {line.secondsPerMove, line.framesPerSecond, line.scale, line.frame}, computing);

    ProgressLine progress(stderr, plan.frames, !line.quiet && ::isatty(2), ProgressUnit::Frames);
    animation::FlightOptions options;
    std::uint64_t framesBeyond = 0;
    options.progress = [&](const animation::FlightProgress& done) {
        progress.update(done.framesDone, done.framesKept);
        framesBeyond = done.framesBeyond;
    };
    try {
        animation::renderFlight(plan, target, computing, options);
    } catch (...) {
        progress.finish(); // the error message gets a line of its own
        throw;
    }
    progress.finish();
    if (framesBeyond > 0)
        std::fprintf(stderr,
                     "spirell-render: the frames from %s on (%llu) are not this flight's: an "
                     "earlier, longer flight left them\n",
                     base::shown(target.frames->nameOf(plan.frames)).c_str(),
                     static_cast<unsigned long long>(framesBeyond));
}

} // namespace spirell::cli
