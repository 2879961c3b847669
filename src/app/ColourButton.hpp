#pragma once

#include <QPushButton>

namespace spirell::app {

// A push button drawn in the classic graphical style: its background colour
// (the palette's button colour) fills it flat inside a raised bevel, which
// sinks while it is pressed.
class ColourButton : public QPushButton {
public:
    ColourButton(const QString& caption, QColor background, QWidget* parent);

    QColor background() const { return palette().color(QPalette::Button); }
    void setBackground(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace spirell::app
