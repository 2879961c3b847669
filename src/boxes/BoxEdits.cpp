#include "boxes/BoxEdits.hpp"

#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"

namespace spirell::boxes {

namespace {

constexpr double kShiftStep = 250;

std::string written(double value) {
    return writeNumber(checkedResult(value));
}

} // namespace

void applyPreset(Preset preset, BoxTexts& boxes) {
    switch (preset) {
    case Preset::Small:
        boxes.size = written(300);
        break;
    case Preset::Medium:
        boxes.zoom = written(0.2);
        boxes.size = written(500);
        boxes.xPosition = written(-250);
        boxes.yPosition = written(-250);
        break;
    case Preset::Large:
        boxes.size = written(768);
        boxes.zoom = written(0.15);
        break;
    }
}

void resetBoxes(BoxTexts& boxes) {
    boxes = BoxTexts{"1", "1", "100", "1", "150"};
}

bool checkSize(BoxTexts& boxes) {
    // A number too large for a double is out of range like any other.
    double size = 0;
    try {
        size = readNumber(boxes.size);
    } catch (const RuntimeError&) {
        size = -1;
    }
    if (size < 1 || size > 1024) {
        boxes.size = "100";
        return true;
    }
    return false;
}

void shiftView(ShiftButton button, BoxTexts& boxes) {
    switch (button) {
    case ShiftButton::Right:
        boxes.xPosition = written(readNumber(boxes.xPosition) + kShiftStep);
        break;
    case ShiftButton::Left:
        boxes.xPosition = written(readNumber(boxes.xPosition) - kShiftStep);
        break;
    case ShiftButton::Down:
        boxes.yPosition = written(readNumber(boxes.yPosition) + kShiftStep);
        break;
    case ShiftButton::Up:
        boxes.yPosition = written(readNumber(boxes.yPosition) - kShiftStep);
        break;
    }
}

void scalePosition(ScaleButton button, BoxTexts& boxes) {
    switch (button) {
    case ScaleButton::DoubleY:
        boxes.yPosition = written(2 * readNumber(boxes.yPosition));
        break;
    case ScaleButton::HalveY:
        boxes.yPosition = written(readNumber(boxes.yPosition) / 2);
        break;
    case ScaleButton::DoubleX:
        boxes.xPosition = written(2 * readNumber(boxes.xPosition));
        break;
    case ScaleButton::HalveX:
        boxes.xPosition = written(readNumber(boxes.xPosition) / 2);
        break;
    }
}

void zoomView(ZoomButton button, BoxTexts& boxes) {
    switch (button) {
    case ZoomButton::Double:
        boxes.zoom = written(2 * readNumber(boxes.zoom));
        break;
    case ZoomButton::Halve:
        boxes.zoom = written(readNumber(boxes.zoom) / 2);
        break;
    case ZoomButton::HalveAndMoveToHalfSize: {
        const std::string zoom = written(readNumber(boxes.zoom) / 2);
        const std::string position = written(readNumber(boxes.size) / 2);
        boxes.zoom = zoom;
        boxes.xPosition = position;
        boxes.yPosition = position;
        break;
    }
    case ZoomButton::DoubleAndMoveToTwiceSize: {
        const std::string zoom = written(2 * readNumber(boxes.zoom));
        const std::string position = written(2 * readNumber(boxes.size));
        boxes.zoom = zoom;
        boxes.xPosition = position;
        boxes.yPosition = position;
        break;
    }
    }
}

void zoomAround(double factor, double worldX, double worldY, BoxTexts& boxes) {
    // Every column's world coordinate is the horizontal position plus a
    // constant of the formula and the size, so moving the point from worldX
    // to worldX / factor moves the position by as much.
    const std::string zoom = written(readNumber(boxes.zoom) * factor);
    const std::string x =
        written(readNumber(boxes.xPosition) + (checkedResult(worldX / factor) - worldX));
    const std::string y =
        written(readNumber(boxes.yPosition) + (checkedResult(worldY / factor) - worldY));
    boxes.zoom = zoom;
    boxes.xPosition = x;
    boxes.yPosition = y;
}

void scaleZoom(double factor, BoxTexts& boxes) {
    boxes.zoom = written(readNumber(boxes.zoom) * factor);
}

void panByPixels(double columns, double rows, BoxTexts& boxes) {
    const std::string x = written(readNumber(boxes.xPosition) - columns);
    const std::string y = written(readNumber(boxes.yPosition) - rows);
    boxes.xPosition = x;
    boxes.yPosition = y;
}

void scaleBrightness(double factor, BoxTexts& boxes) {
    boxes.brightness = written(readNumber(boxes.brightness) * factor);
}

} // namespace spirell::boxes
