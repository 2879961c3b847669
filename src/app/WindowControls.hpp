#pragma once

#include "app/Typeface.hpp"
#include "boxes/BoxTexts.hpp"

#include <QColor>
#include <QRect>

#include <variant>
#include <vector>

class QWidget;

namespace spirell::app {

enum class ControlKind {
    Button, // a ColourButton
    Box,    // a QLineEdit
    Label,  // a ClickableLabel; without a click it is part of the background
};

// An edit of the five boxes, as the pan, scale, zoom and preset buttons make
// it. It computes every new text before it writes any, so an overflow
// (boxes::RuntimeError) leaves the boxes as they were.
using BoxEdit = void (*)(boxes::BoxTexts&);

// What a control does to the window, beyond editing the boxes.
enum class WindowAction {
    None,
    EndProgram,      // "x", "<" and "exit"
    Minimise,        // "-"
    LightExitLabel,  // the mouse over "x"
    LightArrowLabel, // the mouse over "<"
    Halt,            // "halt !"
    Reset,           // "reset": halts, resets the boxes and clears the picture
    OpenWebLink,     // the maker's page
    DrawFormula,     // a formula button: draws the control's formula
    EditFormula,     // "your own...": opens the editor of formulas of your own
};

// What a click does: nothing, an action of the window or an edit of the boxes.
using ControlAction = std::variant<std::monostate, WindowAction, BoxEdit>;

// One control of the window, as designed on the classic form.
struct ControlDescription {
    const char* name; // its name on the form, kept as its object name
    ControlKind kind;
    const char* caption; // none for a box: its first text is its default, from boxes::BoxTexts
    QRect place;         // in the client area
    QColor background;
    QColor text; // invalid: the style's own
    Typeface font;
    const char* tooltip = "";
    ControlAction onClick = {};
    WindowAction onHover = WindowAction::None;
    bool hidden = false;
    int formula = -1; // for DrawFormula: the formula's index in the catalogue
};

// Every control but the formula buttons, in the order they are made: later
// ones lie on top of earlier ones, so the backdrop panels come first.
const std::vector<ControlDescription>& windowControls();

// The formula button of the catalogue's formula index.
ControlDescription formulaButtonControl(int index, const char* caption);

// Makes the control a row describes, with its place, font, colours and
// tooltip, as a child of parent; what it does is left to the window.
// Makes a control of the table on parent, its place and font scaled by scale
// (1: as designed).
QWidget* makeControl(const ControlDescription& description, QWidget* parent, double scale = 1);

// A place of the client area at a display scale.
QRect scaledPlace(const QRect& place, double scale);

// The keyboard's tab order, by name; labels take no focus and are left out.
const std::vector<const char*>& tabOrder();

} // namespace spirell::app
