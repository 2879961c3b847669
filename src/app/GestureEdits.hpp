#pragma once

#include "boxes/BoxTexts.hpp"
#include "formulas/Formula.hpp"

#include <QPointF>

#include <optional>
#include <string>

namespace spirell::app {

// The box edits of one gesture on the picture: wheel turns, keys and pinches
// until a pause or a mouse release. Its zoom and brightness are worked out
// once, from the box texts the gesture started with and the whole of its
// turns, so that the boxes read as one edit would leave them: four notches of
// 2^(1/4) from 0.15 read 0.075, where four edits in a row would each round in
// the last digit. A box that something else changed meanwhile starts its
// count afresh.
class GestureEdits {
public:
    // One notch of a wheel, in angleDelta's units.
    static constexpr int kNotch = 120;

    // The next input starts a new gesture.
    void end() { *this = GestureEdits{}; }

    // Zooms by angle more (a notch, up, magnifies by 2^(1/4)) and a further
    // factor (a pinch's) around the world point under pointer, a position in
    // the picture (0, 0 at its top left corner), which keeps its place.
    void zoom(const formulas::Formula& formula, QPointF pointer, int angle, double factor,
              boxes::BoxTexts& texts);

    // Changes the brightness by angle more (a notch, up, brightens by 2^(1/8)).
    void brighten(int angle, boxes::BoxTexts& texts);

private:
    // How far the gesture has turned one box.
    struct Turns {
        std::string start;   // the box's text when the turns began
        std::string written; // what they last wrote
        int angle = 0;
        double factor = 1;
        bool begun = false;

        // Goes on while the box reads what the turns wrote; begins anew otherwise.
        void follow(const std::string& text);
        // The factor of all the turns, at octaves a notch.
        double total(double octavesPerNotch) const;
    };
    // Where a zoom's positions are worked out from: the boxes when the
    // pointer came to where it rests, and the gesture's zoom factor then.
    struct Anchor {
        boxes::BoxTexts texts;
        QPointF pointer;
        double factor = 1;
        boxes::BoxTexts left; // the boxes as the latest zoom from here left them
    };

    Turns zoom_;
    Turns brightness_;
    std::optional<Anchor> anchor_;
};

} // namespace spirell::app
