#include "app/ClickableLabel.hpp"

#include <QMouseEvent>

namespace spirell::app {

ClickableLabel::ClickableLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setMouseTracking(true);
}

void ClickableLabel::mousePressEvent(QMouseEvent* event) {
    // A label nobody listens to is part of the window's background.
    if (receivers(SIGNAL(clicked())) == 0) {
        event->ignore();
        return;
    }
    pressed_ = event->button() == Qt::LeftButton;
}

// A click is a press and a release of the left button over the same label.
void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPressed = pressed_;
    pressed_ = false;
    if (wasPressed && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint()))
        emit clicked();
}

void ClickableLabel::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMoved();
    QLabel::mouseMoveEvent(event);
}

} // namespace spirell::app
