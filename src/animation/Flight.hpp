#pragma once

#include "boxes/BoxTexts.hpp"
#include "formulas/Formula.hpp"

#include <cstdint>
#include <vector>

// A flight through views: keyframes (views the user kept) and the views of
// the frames between them. Every frame is a view of its own, written as box
// texts with the program's number writing, so that it can be painted again.
namespace spirell::animation {

// No flight has more frames than this: at 60 frames a second, over 27 minutes.
inline constexpr std::uint64_t kMaxFrames = 100000;

struct FlightTiming {
    double secondsPerMove = 4;
    int framesPerSecond = 30;
};

// The frames of one move from a keyframe to the next, at least 1.
std::uint64_t framesPerMove(const FlightTiming& timing);

// The frames of a flight through keyCount keyframes: each move's frames, and
// the last keyframe once more at the end. Saturates beyond kMaxFrames.
std::uint64_t frameCount(std::size_t keyCount, const FlightTiming& timing);

// How far a move has got at time t (0 to 1): it eases in and out,
// 3t^2 - 2t^3.
double eased(double t);

// The view a fraction s (0 to 1, eased) of the way from one keyframe to the
// next. Zoom and brightness move geometrically where both ends have the same
// sign and neither is 0, linearly otherwise; the size moves linearly, in
// whole numbers between whole sizes. The centre moves so that a geometric
// zoom is a straight flight toward the point both views share: that point
// keeps its place in the picture and its angles all the way. s = 0 and s = 1
// give the keyframes' own texts. Throws boxes::RuntimeError for a view
// beyond the number range.
boxes::BoxTexts between(const formulas::Formula& formula, const boxes::BoxTexts& from,
                        const boxes::BoxTexts& to, double s);

// The view of frame number frame (from 0) of the flight through keys.
boxes::BoxTexts frameView(const formulas::Formula& formula,
                          const std::vector<boxes::BoxTexts>& keys, const FlightTiming& timing,
                          std::uint64_t frame);

} // namespace spirell::animation
