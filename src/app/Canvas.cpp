#include "app/Canvas.hpp"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>

namespace spirell {

namespace {

// About one screen refresh: repainting more often shows nothing new.
constexpr qint64 kRepaintIntervalMs = 16;

} // namespace

Canvas::Canvas(QSize size, QColor background, QWidget* parent)
    : QWidget(parent), image_(size, QImage::Format_RGB32), background_(background.rgb()) {
    setFixedSize(size);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    image_.fill(background_);
    pixels_ = reinterpret_cast<QRgb*>(image_.bits());
    pixelsPerLine_ = image_.bytesPerLine() / qsizetype(sizeof(QRgb));
    sinceRepaint_.start();
}

void Canvas::setPixel(int x, int y, Colour colour) {
    if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height())
        return;
    pixels_[y * pixelsPerLine_ + x] = qRgb(colour.red, colour.green, colour.blue);
    if (dirtyRight_ < dirtyLeft_) {
        dirtyLeft_ = dirtyRight_ = x;
        dirtyTop_ = dirtyBottom_ = y;
        return;
    }
    dirtyLeft_ = std::min(dirtyLeft_, x);
    dirtyRight_ = std::max(dirtyRight_, x);
    dirtyTop_ = std::min(dirtyTop_, y);
    dirtyBottom_ = std::max(dirtyBottom_, y);
}

void Canvas::flush() {
    if (dirtyRight_ < dirtyLeft_)
        return;
    update(QRect(QPoint(dirtyLeft_, dirtyTop_), QPoint(dirtyRight_, dirtyBottom_)));
    dirtyRight_ = dirtyLeft_ - 1;
    sinceRepaint_.restart();
}

void Canvas::yieldToEvents() {
    if (sinceRepaint_.elapsed() >= kRepaintIntervalMs)
        flush();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Canvas::clear() {
    image_.fill(background_);
    dirtyRight_ = dirtyLeft_ - 1;
    update();
}

void Canvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    painter.drawImage(area.topLeft(), image_, area);
}

} // namespace spirell
