#include "app/GestureEdits.hpp"

#include "boxes/BoxEdits.hpp"
#include "drawing/ViewParams.hpp"

#include <cmath>

namespace spirell::app {

namespace {

// A notch up magnifies the picture by 2^(1/4): the zoom box, the angle per
// pixel, shrinks by as much. It brightens by 2^(1/8).
constexpr double kZoomOctavesPerNotch = -0.25;
constexpr double kBrightnessOctavesPerNotch = 0.125;

} // namespace

void GestureEdits::Turns::follow(const std::string& text) {
    if (begun && text == written)
        return;
    *this = Turns{text, text, 0, 1, true};
}

double GestureEdits::Turns::total(double octavesPerNotch) const {
    // Whole notches count exactly: four of 2^(1/4) are 2.
    return std::exp2(angle / double(kNotch) * octavesPerNotch) * factor;
}

void GestureEdits::zoom(const formulas::Formula& formula, QPointF pointer, int angle, double factor,
                        boxes::BoxTexts& texts) {
    zoom_.follow(texts.zoom);
    // The pointer moved, or another edit (a pan, a typed box) changed the
    // view: the positions are worked out from here on.
    if (!anchor_ || anchor_->pointer != pointer || anchor_->left != texts)
        anchor_ = Anchor{texts, pointer, zoom_.total(kZoomOctavesPerNotch), texts};
    zoom_.angle += angle;
    zoom_.factor *= factor;
    const double total = zoom_.total(kZoomOctavesPerNotch);

    // Column c of the picture lies at world X = originX + 1 + c, its pixel
    // reaching from c to c + 1.
    const drawing::ViewParams view = drawing::readView(formula, anchor_->texts);
    const double worldX = view.originX + 0.5 + pointer.x();
    const double worldY = view.originY + 0.5 + pointer.y();
    boxes::BoxTexts zoomed = anchor_->texts;
    boxes::zoomAround(total / anchor_->factor, worldX, worldY, zoomed);
    zoomed.zoom = zoom_.start;
    boxes::scaleZoom(total, zoomed);
    texts = zoomed;
    zoom_.written = texts.zoom;
    anchor_->left = texts;
}

void GestureEdits::brighten(int angle, boxes::BoxTexts& texts) {
    brightness_.follow(texts.brightness);
    brightness_.angle += angle;
    boxes::BoxTexts brightened = texts;
    brightened.brightness = brightness_.start;
    boxes::scaleBrightness(brightness_.total(kBrightnessOctavesPerNotch), brightened);
    texts.brightness = brightened.brightness;
    brightness_.written = texts.brightness;
}

} // namespace spirell::app
