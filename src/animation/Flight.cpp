#include "animation/Flight.hpp"

#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"
#include "drawing/ViewParams.hpp"

#include <sleef.h>

#include <algorithm>
#include <cmath>

namespace spirell::animation {

namespace {

using boxes::BoxTexts;
using boxes::checkedResult;
using boxes::readNumber;
using boxes::writeNumber;

// SLEEF's portable functions, like the formulas': a frame's view must not
// depend on the machine's C library either.
double power(double base, double exponent) {
    return Sleef_powd1_u10purec(base, exponent);
}

bool movesGeometrically(double from, double to) {
    return from != 0 && to != 0 && (from < 0) == (to < 0);
}

double interpolated(double from, double to, double s) {
    if (movesGeometrically(from, to))
        return from * power(to / from, s);
    return from + s * (to - from);
}

// How far the centre has got when a geometric zoom by ratio has got s of the
// way: the shared point keeps its angle while the zoom goes from 1 to
// ratio^s. 1 - ratio^-s over 1 - 1/ratio, written so that a ratio near 1
// loses no digits and a ratio of 1 is a plain pan.
double centreProgress(double ratio, double s) {
    if (ratio == 1)
        return s;
    const double logRatio = Sleef_logd1_u10purec(ratio);
    return Sleef_expm1d1_u10purec(-s * logRatio) / Sleef_expm1d1_u10purec(-logRatio);
}

struct Centre {
    double x = 0;
    double y = 0;
};

// The world point at the middle of a view's picture, whatever rule places it.
Centre centreOf(const drawing::ViewParams& view) {
    return {view.originX + (view.imageWidth + 1) / 2, view.originY + (view.imageHeight + 1) / 2};
}

bool isWhole(double value) {
    return std::floor(value) == value;
}

} // namespace

std::uint64_t framesPerMove(const FlightTiming& timing) {
    const double frames = std::round(timing.secondsPerMove * timing.framesPerSecond);
    if (!(frames >= 1))
        return 1;
    return frames > double(kMaxFrames) ? kMaxFrames + 1 : static_cast<std::uint64_t>(frames);
}

std::uint64_t frameCount(std::size_t keyCount, const FlightTiming& timing) {
    if (keyCount < 2)
        return keyCount;
    const std::uint64_t moves = keyCount - 1;
    const std::uint64_t perMove = framesPerMove(timing);
    if (moves > kMaxFrames || perMove > kMaxFrames / moves)
        return kMaxFrames + 1;
    return moves * perMove + 1;
}

double eased(double t) {
    return t * t * (3 - 2 * t);
}

BoxTexts between(const formulas::Formula& formula, const BoxTexts& from, const BoxTexts& to,
                 double s) {
    if (s <= 0)
        return from;
    if (s >= 1)
        return to;
    const drawing::ViewParams start = drawing::readView(formula, from);
    const drawing::ViewParams end = drawing::readView(formula, to);

    BoxTexts view;
    const double startSize = readNumber(from.size), endSize = readNumber(to.size);
    double size = startSize + s * (endSize - startSize);
    if (isWhole(startSize) && isWhole(endSize))
        size = std::round(size);
    view.size = writeNumber(checkedResult(size));
    const double startZoom = readNumber(from.zoom), endZoom = readNumber(to.zoom);
    view.zoom = writeNumber(checkedResult(interpolated(startZoom, endZoom, s)));
    view.brightness = writeNumber(
        checkedResult(interpolated(readNumber(from.brightness), readNumber(to.brightness), s)));

    const Centre a = centreOf(start), b = centreOf(end);
    const double progress =
        movesGeometrically(startZoom, endZoom) ? centreProgress(endZoom / startZoom, s) : s;
    const Centre centre{a.x + progress * (b.x - a.x), a.y + progress * (b.y - a.y)};

    // Every rule places the picture at the positions plus a constant of the
    // size, so the positions that put the centre there follow from the view
    // at positions 0.
    // Built whole rather than assigned "0" over copies: GCC 12 at -O3 warns
    // falsely of overlapping copies there (-Wrestrict), which the bench
    // preset's warnings-as-errors turns into a failed build.
    const BoxTexts atZero{"0", "0", view.size, view.zoom, view.brightness};
    const Centre offset = centreOf(drawing::readView(formula, atZero));
    view.xPosition = writeNumber(checkedResult(centre.x - offset.x));
    view.yPosition = writeNumber(checkedResult(centre.y - offset.y));
    return view;
}

BoxTexts frameView(const formulas::Formula& formula, const std::vector<BoxTexts>& keys,
                   const FlightTiming& timing, std::uint64_t frame) {
    const std::uint64_t perMove = framesPerMove(timing);
    const std::uint64_t move = std::min<std::uint64_t>(frame / perMove, keys.size() - 1);
    if (move + 1 >= keys.size())
        return keys.back();
    const double t = double(frame - move * perMove) / double(perMove);
    return between(formula, keys[move], keys[move + 1], eased(t));
}

} // namespace spirell::animation
