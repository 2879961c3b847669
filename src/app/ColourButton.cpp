#include "app/ColourButton.hpp"

#include "app/Palette.hpp"

#include <QPainter>
#include <QStyleOptionFocusRect>

namespace spirell::app {

ColourButton::ColourButton(const QString& caption, QColor background, QWidget* parent)
    : QPushButton(caption, parent) {
    setBackground(background);
}

void ColourButton::setBackground(const QColor& colour) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Button, colour);
    setPalette(palette);
}

void ColourButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, background());

    // Two-pixel bevel: light above and left, dark below and right; swapped when down.
    const bool sunken = isDown() || isChecked();
    const QColor& light = palette::kBevelLight;
    const QColor& shade = palette::kBevelShade;
    const QColor& dark = palette::kBevelDark;
    const QColor& topLeft = sunken ? dark : light;
    const QColor& bottomRight = sunken ? light : dark;
    painter.setPen(topLeft);
    painter.drawLine(area.topLeft(), area.topRight());
    painter.drawLine(area.topLeft(), area.bottomLeft());
    painter.setPen(bottomRight);
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.topRight(), area.bottomRight());
    painter.setPen(sunken ? light : shade);
    painter.drawLine(area.left() + 1, area.bottom() - 1, area.right() - 1, area.bottom() - 1);
    painter.drawLine(area.right() - 1, area.top() + 1, area.right() - 1, area.bottom() - 1);

    painter.setPen(palette().color(QPalette::ButtonText));
    painter.setFont(font());
    const QRect textArea = area.translated(sunken ? 1 : 0, sunken ? 1 : 0);
    painter.drawText(textArea, Qt::AlignCenter, text());

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = area.adjusted(4, 4, -4, -4);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

} // namespace spirell::app
