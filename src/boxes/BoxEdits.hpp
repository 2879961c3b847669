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

// Exploring: the wheel, a drag and the keys edit the boxes with these. Like
// the buttons, each computes every result before it writes any, so a result
// beyond the double range (RuntimeError) leaves the boxes as they were. None
// of them changes the size box.

// Multiplies the zoom by factor around the world point (worldX, worldY): the
// positions move so that the point keeps its place in the picture, and its
// coordinates times the zoom (the angles the formulas see) keep their values.
void zoomAround(double factor, double worldX, double worldY, BoxTexts& boxes);

// Multiplies the zoom by factor, the positions left as they are.
void scaleZoom(double factor, BoxTexts& boxes);

// Moves the picture right by columns and down by rows: the world point that
// was shown at a pixel is then shown that many pixels further on.
void panByPixels(double columns, double rows, BoxTexts& boxes);

// Multiplies the brightness by factor.
void scaleBrightness(double factor, BoxTexts& boxes);

} // namespace spirell::boxes
