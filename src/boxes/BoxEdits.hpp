#pragma once

#include "boxes/BoxTexts.hpp"

namespace spirell::boxes {

// Every button and label beside the boxes reads box texts as numbers and writes
// new texts back. Each edit below computes all of its results before it writes
// any, so an overflow (RuntimeError) leaves every box as it was.

enum class Preset { Small, Medium, Large };
void applyPreset(Preset preset, BoxTexts& boxes);

// The boxes after "reset": 1, 1, 100, 1, 150.
void resetBoxes(BoxTexts& boxes);

// The size box keeps values from 1 to 1024; anything else becomes "100".
// Returns whether the text was replaced.
bool checkSize(BoxTexts& boxes);

// Shift buttons move a position by 250 in either direction.
enum class ShiftButton { Right, Left, Down, Up }; // horz(0), horz(1), verty(0), verty(1)
void shiftView(ShiftButton button, BoxTexts& boxes);

// Scale buttons double or halve one position box.
enum class ScaleButton { DoubleY, HalveY, DoubleX, HalveX }; // cmdblue(0..3)
void scalePosition(ScaleButton button, BoxTexts& boxes);

// Zoom buttons and the two zoom labels double or halve the zoom box; the two
// hidden buttons also move both positions to a multiple of the size.
enum class ZoomButton {
    Double,
    Halve,
    HalveAndMoveToHalfSize,
    DoubleAndMoveToTwiceSize
}; // cmdXX(0..3)
void zoomView(ZoomButton button, BoxTexts& boxes);

} // namespace spirell::boxes
