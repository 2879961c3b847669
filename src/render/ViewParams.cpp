#include "render/ViewParams.hpp"

#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"

namespace spirell {

ViewParams readView(const Formula& formula, const BoxTexts& boxes) {
    const double positionX = Val(boxes.xPosition);
    const double positionY = Val(boxes.yPosition);
    ViewParams view;
    view.ImageSize = Val(boxes.size);
    // Asking for 768 gives a 1024-wide image of 768 rows.
    view.ImageWidth = view.ImageSize == 768 ? 1024 : view.ImageSize;
    view.ImageHeight = view.ImageSize;

    // The sizes pass through their text form before they are divided.
    const double width = throughText(view.ImageWidth);
    const double size = throughText(view.ImageSize);
    switch (formula.origin) {
    case OriginRule::Centred:
        view.OriginX = positionX - width / 2;
        view.OriginY = positionY - size / 2;
        break;
    case OriginRule::ThirdWidth:
        view.OriginX = positionX - width / 3;
        view.OriginY = positionY;
        break;
    case OriginRule::Corner:
        view.OriginX = positionX;
        view.OriginY = positionY;
        break;
    case OriginRule::Offset150:
        view.OriginX = positionX + 150;
        view.OriginY = positionY - 150;
        break;
    }
    view.zoom = checkedResult(formula.zoomMultiplier * Val(boxes.zoom));
    view.brightness = checkedResult(Val(boxes.brightness) * formula.brightnessMultiplier);
    checkedResult(view.OriginX);
    checkedResult(view.OriginY);
    return view;
}

} // namespace spirell
