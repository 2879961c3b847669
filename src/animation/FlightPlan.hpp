#pragma once

#include "animation/Flight.hpp"
#include "boxes/BoxTexts.hpp"
#include "drawing/Computing.hpp"
#include "formulas/Formula.hpp"
#include "image/ImageSettings.hpp"
#include "video/VideoWriter.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A flight made ready to render: its keyframes read from their pictures, the
// timing, scale and frame size settled, every frame's view known to be
// sound.
namespace spirell::animation {

// A keyframe: the settings stored in a picture, and the picture's name for
// messages.
struct Keyframe {
    std::string fileName;
    image::ImageSettings settings;
};

// Reads the formula and the five box texts a picture of the window or of
// spirell-render keeps, as --from does. Throws InputError naming the file
// when it is not such a picture.
Keyframe readKeyframe(const std::string& path);

// What the user chose; what is left out comes from the defaults (4 seconds a
// move, 30 frames a second) and from the first keyframe (its scale, and the
// size of its own picture at the flight's scale, or of its frame if it has
// one).
struct FlightChoices {
    std::optional<double> secondsPerMove;
    std::optional<int> framesPerSecond;
    std::optional<int> scale;
    std::optional<image::FrameSize> frame;
};

// The frame rates a flight may have: those a video may have.
inline constexpr int kMinFramesPerSecond = video::kMinFramesPerSecond;
inline constexpr int kMaxFramesPerSecond = video::kMaxFramesPerSecond;

struct FlightPlan {
    const formulas::Formula* formula = nullptr;
    std::vector<boxes::BoxTexts> keys;
    FlightTiming timing;
    int scale = 1;
    image::FrameSize frame; // every frame's size in pixels
    std::uint64_t frames = 0;

    // What frame number frame (from 0) is: its view as box texts written with
    // the program's number writing, the scale and the frame. Painted on its
    // own it gives the very pixels the flight has there.
    image::ImageSettings frameSettings(std::uint64_t frame) const;
};

// Settles a flight. Throws InputError for fewer than two keyframes,
// keyframes whose formulas differ (naming the first file that differs from
// the first), more than kMaxFrames frames, a frame rate or a length a flight
// cannot have, a frame beyond the image limits, or a keyframe or a frame
// between them whose view cannot be painted.
FlightPlan planFlight(const std::vector<Keyframe>& keys, const FlightChoices& choices,
                      const drawing::Computing& computing);

// The frame of a flight that starts at this keyframe when none is chosen: its
// own picture at the scale, or its own frame if it has one. Throws InputError
// naming the file when the keyframe makes no picture.
image::FrameSize ownFrame(const Keyframe& first, int scale, const drawing::Computing& computing);

// The flight's recipe, for a video's metadata: the formula, each keyframe's
// box texts, the seconds a move, the frame rate, the frame size and the scale.
video::VideoMetadata flightMetadata(const FlightPlan& plan);

} // namespace spirell::animation
