#include "drawing/ViewParams.hpp"

#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"

namespace spirell::drawing {

ViewParams readView(const formulas::Formula& formula, const boxes::BoxTexts& texts) {
    const double positionX = boxes::readNumber(texts.xPosition);
    const double positionY = boxes::readNumber(texts.yPosition);
    ViewParams view;
    view.imageSize = boxes::readNumber(texts.size);
    // Asking for 768 gives a 1024-wide image of 768 rows.
    view.imageWidth = view.imageSize == 768 ? 1024 : view.imageSize;
    view.imageHeight = view.imageSize;

    // The sizes pass through their text form before they are divided.
    const double width = boxes::throughText(view.imageWidth);
    const double size = boxes::throughText(view.imageSize);
    switch (formula.origin) {
    case formulas::OriginRule::Centred:
        view.originX = positionX - width / 2;
        view.originY = positionY - size / 2;
        break;
    case formulas::OriginRule::ThirdWidth:
        view.originX = positionX - width / 3;
        view.originY = positionY;
        break;
    case formulas::OriginRule::Corner:
        view.originX = positionX;
        view.originY = positionY;
        break;
    case formulas::OriginRule::Offset150:
        view.originX = positionX + 150;
        view.originY = positionY - 150;
        break;
    }
    view.zoom = boxes::checkedResult(formula.zoomMultiplier * boxes::readNumber(texts.zoom));
    view.brightness =
        boxes::checkedResult(boxes::readNumber(texts.brightness) * formula.brightnessMultiplier);
    boxes::checkedResult(view.originX);
    boxes::checkedResult(view.originY);
    return view;
}

} // namespace spirell::drawing
