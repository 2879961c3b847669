#include "boxes/BoxEdits.hpp"

#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"

namespace spirell {

namespace {

constexpr double kShiftStep = 250;

std::string written(double value) {
    return writeNumber(checkedResult(value));
}

} // namespace

void applyPreset(Preset preset, BoxTexts& boxes) {
    switch (preset) {
    case Preset::Small:
        boxes.TextThree = written(300);
        break;
    case Preset::Medium:
        boxes.TextFour = written(0.2);
        boxes.TextThree = written(500);
        boxes.TextOne = written(-250);
        boxes.TextTwo = written(-250);
        break;
    case Preset::Large:
        boxes.TextThree = written(768);
        boxes.TextFour = written(0.15);
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
        size = Val(boxes.TextThree);
    } catch (const RuntimeError&) {
        size = -1;
    }
    if (size < 1 || size > 1024) {
        boxes.TextThree = "100";
        return true;
    }
    return false;
}

void shiftView(ShiftButton button, BoxTexts& boxes) {
    switch (button) {
    case ShiftButton::Right:
        boxes.TextOne = written(Val(boxes.TextOne) + kShiftStep);
        break;
    case ShiftButton::Left:
        boxes.TextOne = written(Val(boxes.TextOne) - kShiftStep);
        break;
    case ShiftButton::Down:
        boxes.TextTwo = written(Val(boxes.TextTwo) + kShiftStep);
        break;
    case ShiftButton::Up:
        boxes.TextTwo = written(Val(boxes.TextTwo) - kShiftStep);
        break;
    }
}

void scalePosition(ScaleButton button, BoxTexts& boxes) {
    switch (button) {
    case ScaleButton::DoubleY:
        boxes.TextTwo = written(2 * Val(boxes.TextTwo));
        break;
    case ScaleButton::HalveY:
        boxes.TextTwo = written(Val(boxes.TextTwo) / 2);
        break;
    case ScaleButton::DoubleX:
        boxes.TextOne = written(2 * Val(boxes.TextOne));
        break;
    case ScaleButton::HalveX:
        boxes.TextOne = written(Val(boxes.TextOne) / 2);
        break;
    }
}

void zoomView(ZoomButton button, BoxTexts& boxes) {
    switch (button) {
    case ZoomButton::Double:
        boxes.TextFour = written(2 * Val(boxes.TextFour));
        break;
    case ZoomButton::Halve:
        boxes.TextFour = written(Val(boxes.TextFour) / 2);
        break;
    case ZoomButton::HalveAndCentre: {
        const std::string zoom = written(Val(boxes.TextFour) / 2);
        const std::string position = written(Val(boxes.TextThree) / 2);
        boxes.TextFour = zoom;
        boxes.TextOne = position;
        boxes.TextTwo = position;
        break;
    }
    case ZoomButton::DoubleAndCentre: {
        const std::string zoom = written(2 * Val(boxes.TextFour));
        const std::string position = written(2 * Val(boxes.TextThree));
        boxes.TextFour = zoom;
        boxes.TextOne = position;
        boxes.TextTwo = position;
        break;
    }
    }
}

} // namespace spirell
