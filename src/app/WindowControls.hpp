#pragma once

#include "app/Typeface.hpp"

#include <QRect>

#include <vector>

namespace spirell::app {

class MainWindow;

enum class ControlKind {
    Button, // a ColourButton
    Box,    // a QLineEdit
    Label,  // a ClickableLabel; without handlers it is part of the background
};

// A colour of the control table; a negative red means "the style's own".
struct TableColour {
    int red = -1;
    int green = 0;
    int blue = 0;

    bool isSet() const { return red >= 0; }
};

using Handler = void (MainWindow::*)();

// One control of the window, as designed on the classic form.
struct ControlDescription {
    const char* name; // its name on the form, kept as its object name
    ControlKind kind;
    const char* caption; // none for a box: its first text is its default, from boxes::BoxTexts
    QRect place;         // in the client area
    TableColour background;
    TableColour text;
    Typeface font;
    const char* tooltip = "";
    Handler onClick = nullptr;
    Handler onHover = nullptr;
    bool hidden = false;
};

// Every control but the formula buttons, in the order they are made: later
// ones lie on top of earlier ones, so the backdrop panels come first.
const std::vector<ControlDescription>& windowControls();

// The formula button of the catalogue's formula index.
ControlDescription formulaButtonControl(int index, const char* caption);

// The keyboard's tab order, by name; labels take no focus and are left out.
const std::vector<const char*>& tabOrder();

} // namespace spirell::app
