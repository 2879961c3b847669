#pragma once

#include "boxes/BoxTexts.hpp"
#include "formulas/Catalogue.hpp"

#include <QRect>

namespace spirell::app {

// The window's latest picture: its formula, its boxes as the drawing read
// them and where it lies on the canvas, cut to the canvas. The window keeps it
// and hands it to whatever works with the picture (saving, copying, posters,
// exploring, animations).
struct DrawnPicture {
    const formulas::Formula* formula = nullptr;
    boxes::BoxTexts boxes;
    QRect area;

    // Nothing drawn since start-up or the last reset.
    bool isEmpty() const { return !formula || area.isEmpty(); }
};

} // namespace spirell::app
