#include "animation/FlightPlan.hpp"

#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "boxes/BoxTable.hpp"
#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"
#include "formulas/FormulaText.hpp"
#include "image/ImagePlan.hpp"

#include <cmath>
#include <string_view>

namespace spirell::animation {

Keyframe readKeyframe(const std::string& path) {
    return {path, image::readStoredSettings(path)};
}

image::ImageSettings FlightPlan::frameSettings(std::uint64_t number) const {
    return image::settingsOf(*formula, frameView(*formula, keys, timing, number), scale, frame);
}

namespace {

// The formula every keyframe names, or InputError naming the first file that
// names another.
const formulas::Formula& commonFormula(const std::vector<Keyframe>& keys) {
    const formulas::Formula* common = nullptr;
    for (const Keyframe& key : keys) {
        const formulas::Formula* formula = nullptr;
        try {
            formula = image::formulaOf(key.settings);
        } catch (const formulas::FormulaError& error) {
            throw base::InputError(base::shown(key.fileName) +
                                   " holds a formula text that "
                                   "does not compile: " +
                                   error.what());
        }
        if (!formula)
            throw base::InputError(base::shown(key.fileName) + " holds an unknown formula " +
                                   base::quoted(key.settings.formula));
        const auto named = [](const formulas::Formula& shown) {
            return shown.text ? std::string("a formula text of its own")
                              : "\"" + std::string(shown.caption) + "\"";
        };
        if (common && formula != common)
            throw base::InputError(
                base::shown(key.fileName) + " paints " +
                (formula->text && common->text
                     ? "another formula text than " + base::shown(keys.front().fileName)
                     : named(*formula) + ", not " + named(*common) + " as " +
                           base::shown(keys.front().fileName)) +
                " does: a flight keeps one formula");
        common = formula;
    }
    return *common;
}

FlightTiming timingOf(const FlightChoices& choices) {
    FlightTiming timing;
    if (choices.secondsPerMove) {
        const double seconds = *choices.secondsPerMove;
        if (!(seconds > 0) || !std::isfinite(seconds))
            throw base::InputError("a move must last a number of seconds above 0, not " +
                                   boxes::writeNumber(seconds));
        timing.secondsPerMove = seconds;
    }
    if (choices.framesPerSecond) {
        const int rate = *choices.framesPerSecond;
        if (rate < kMinFramesPerSecond || rate > kMaxFramesPerSecond)
            throw base::InputError("a flight has " + std::to_string(kMinFramesPerSecond) + " to " +
                                   std::to_string(kMaxFramesPerSecond) + " frames a second, not " +
                                   std::to_string(rate));
        timing.framesPerSecond = rate;
    }
    return timing;
}

// The keyframe's picture in that frame (its own picture for none).
image::ImagePlan planKeyframe(const Keyframe& key, int scale, std::optional<image::FrameSize> frame,
                              const drawing::Computing& computing) {
    try {
        image::ImageSettings settings = key.settings;
        settings.scale = scale;
        settings.frame = frame;
        return image::planImage(settings, computing);
    } catch (const base::InputError& error) {
        throw base::InputError(base::shown(key.fileName) + ": " + error.what());
    }
}

} // namespace

image::FrameSize ownFrame(const Keyframe& first, int scale, const drawing::Computing& computing) {
    const image::ImagePlan picture = planKeyframe(first, scale, first.settings.frame, computing);
    return {picture.width(), picture.height()};
}

FlightPlan planFlight(const std::vector<Keyframe>& keys, const FlightChoices& choices,
                      const drawing::Computing& computing) {
    if (keys.size() < 2)
        throw base::InputError("a flight needs at least two keyframes, not " +
                               std::to_string(keys.size()));
    FlightPlan plan;
    plan.formula = &commonFormula(keys);
    plan.timing = timingOf(choices);
    plan.frames = frameCount(keys.size(), plan.timing);
    if (plan.frames > kMaxFrames)
        throw base::InputError(
            "the flight would have more than " + std::to_string(kMaxFrames) +
            " frames: fewer keyframes, shorter moves or fewer frames a second make fewer");
    plan.scale = choices.scale.value_or(keys.front().settings.scale);

    // The first keyframe's own frame unless one was chosen; every keyframe
    // must make a picture in that frame.
    plan.frame = choices.frame ? *choices.frame : ownFrame(keys.front(), plan.scale, computing);
    for (const Keyframe& key : keys) {
        planKeyframe(key, plan.scale, plan.frame, computing);
        plan.keys.push_back(key.settings.boxes);
    }

    // The views between the keyframes are computed now, so that a flight
    // that would fail on the way fails before anything is written.
    for (std::uint64_t frame = 0; frame < plan.frames; ++frame) {
        try {
            const boxes::BoxTexts view = frameView(*plan.formula, plan.keys, plan.timing, frame);
            const drawing::ViewParams params = drawing::readView(*plan.formula, view);
            if (drawing::columnRange(params).stepLimit() == 0 ||
                drawing::rowRange(params).stepLimit() == 0)
                throw base::InputError("frame " + std::to_string(frame) + " of the flight, size " +
                                       base::quoted(view.size) + ", draws nothing");
        } catch (const boxes::RuntimeError& error) {
            throw base::InputError("the view of frame " + std::to_string(frame) +
                                   " of the flight cannot be read: run-time error " +
                                   std::to_string(error.number()) + " (" + error.what() + ")");
        }
    }
    return plan;
}

video::VideoMetadata flightMetadata(const FlightPlan& plan) {
    video::VideoMetadata metadata{
        {"spirell_formula", plan.formula->routine},
        {"spirell_seconds_per_move", boxes::writeNumber(plan.timing.secondsPerMove)},
        {"spirell_frames_per_second", std::to_string(plan.timing.framesPerSecond)},
        {"spirell_frame", image::frameSizeText(plan.frame)},
        {"spirell_scale", std::to_string(plan.scale)},
        {"spirell_keyframes", std::to_string(plan.keys.size())},
    };
    if (plan.formula->text)
        metadata.emplace_back("spirell_formula_text", base::escaped(plan.formula->text));
    // "spirell_keyframe_1_x" for the "spirell:x" text of the first keyframe,
    // escaped: tools print the tags on terminals, which obey control bytes.
    for (std::size_t i = 0; i < plan.keys.size(); ++i)
        for (const boxes::BoxDescription& box : boxes::kBoxTable) {
            const std::string_view key = box.pngKey;
            metadata.emplace_back("spirell_keyframe_" + std::to_string(i + 1) + "_" +
                                      std::string(key.substr(key.find(':') + 1)),
                                  base::escaped(plan.keys[i].*box.member));
        }
    return metadata;
}

} // namespace spirell::animation
