#pragma once

#include <QFont>

namespace spirell::app {

// The font families of the classic form, each with the installed families that
// stand in where it is missing.
enum class Face { Form, Verdana, MsSansSerif, CourierNew };

struct Typeface {
    Face face = Face::Form;
    double points = 8.25;
    bool bold = true;
};

// The window's own font, for controls that name none.
inline constexpr Typeface kFormFont{Face::MsSansSerif, 8.25, true};

// The font of a typeface at 96 dots per inch, sized in pixels so that the
// layout holds on any screen.
QFont fontFor(Typeface type);

} // namespace spirell::app
