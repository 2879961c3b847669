#include "app/Typeface.hpp"

#include <QStringList>

#include <cmath>

namespace spirell::app {

namespace {

// DejaVu Sans descends from the same design as Verdana.
QStringList familiesFor(Face face) {
    switch (face) {
    case Face::Verdana:
        return {"Verdana", "DejaVu Sans"};
    case Face::CourierNew:
        return {"Courier New", "Liberation Mono", "DejaVu Sans Mono"};
    case Face::Form:
    case Face::MsSansSerif:
        break;
    }
    return {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"};
}

} // namespace

QFont fontFor(Typeface type) {
    if (type.face == Face::Form)
        type = kFormFont;
    QFont font;
    font.setFamilies(familiesFor(type.face));
    font.setPixelSize(static_cast<int>(std::lround(type.points * 96 / 72)));
    font.setBold(type.bold);
    return font;
}

} // namespace spirell::app
