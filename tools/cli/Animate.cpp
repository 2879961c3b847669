#include "cli/Animate.hpp"

#include "animation/FlightPlan.hpp"
#include "animation/FlightRender.hpp"
#include "animation/FlightTarget.hpp"
#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "cli/ProgressLine.hpp"

#include <cstdio>
#include <unistd.h>

namespace spirell::cli {

void animate(const CommandLine& line, const drawing::Computing& computing) {
    // The output's name is checked before any keyframe is read.
    const animation::FlightTarget target = animation::flightTargetFor(line.output, line.lossless);
    animation::FlightOptions options;
    if (line.part && !target.frames)
        throw base::InputError("--part paints a share of a flight's PNG frames; a video is made "
                               "from them with --frames-from");
    if (!line.framesFrom.empty()) {
        if (target.frames)
            throw base::InputError("--frames-from goes with a video: PNG frames are kept where "
                                   "they are already");
        options.framesFrom = animation::flightTargetFor(line.framesFrom, false).frames;
        if (!options.framesFrom)
            throw base::InputError("--frames-from needs a folder or frame names such as "
                                   "f%05d.png, not " +
                                   base::quoted(line.framesFrom));
    }
    std::vector<animation::Keyframe> keys;
    for (const std::string& path : line.keyframes)
        keys.push_back(animation::readKeyframe(path));
    const animation::FlightPlan plan = animation::planFlight(
        keys, {line.secondsPerMove, line.framesPerSecond, line.scale, line.frame}, computing);

    if (line.part)
        options.range = animation::partOfFlight(plan.frames, line.part->index, line.part->count);
    const std::uint64_t framesHere =
        options.range ? options.range->end - options.range->first : plan.frames;
    ProgressLine progress(stderr, framesHere, !line.quiet && ::isatty(2), ProgressUnit::Frames);
    std::uint64_t framesBeyond = 0;
    std::uint64_t framesTaken = 0;
    options.progress = [&](const animation::FlightProgress& done) {
        progress.update(done.framesDone, done.framesKept);
        framesBeyond = done.framesBeyond;
        framesTaken = done.framesKept;
    };
    try {
        animation::renderFlight(plan, target, computing, options);
    } catch (...) {
        progress.finish(); // the error message gets a line of its own
        throw;
    }
    progress.finish();
    if (options.framesFrom)
        std::fprintf(
            stderr, "spirell-render: %llu of %llu frames computed, the others taken from %s\n",
            static_cast<unsigned long long>(plan.frames - framesTaken),
            static_cast<unsigned long long>(plan.frames), base::shown(line.framesFrom).c_str());
    if (framesBeyond > 0)
        std::fprintf(stderr,
                     "spirell-render: the frames from %s on (%llu) are not this flight's: an "
                     "earlier, longer flight left them\n",
                     base::shown(target.frames->nameOf(plan.frames)).c_str(),
                     static_cast<unsigned long long>(framesBeyond));
}

} // namespace spirell::cli
