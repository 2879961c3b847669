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
    width_ = image_.width();
    height_ = image_.height();
    forgetDrawnArea();
    sinceRepaint_.start();
}

void Canvas::setPixel(int x, int y, Colour colour) {
    if (unsigned(x) >= unsigned(width_) || unsigned(y) >= unsigned(height_))
        return;
    pixels_[y * pixelsPerLine_ + x] = qRgb(colour.red, colour.green, colour.blue);
    // Pixels mostly come column by column: only a new column can widen the area.
    if (x != dirtyRight_) {
        dirtyLeft_ = std::min(dirtyLeft_, x);
        dirtyRight_ = std::max(dirtyRight_, x);
    }
    dirtyTop_ = std::min(dirtyTop_, y);
    dirtyBottom_ = std::max(dirtyBottom_, y);
}

void Canvas::forgetDrawnArea() {
    dirtyLeft_ = width_;
    dirtyTop_ = height_;
    dirtyRight_ = -1;
    dirtyBottom_ = -1;
}

void Canvas::flush() {
    if (dirtyRight_ < dirtyLeft_)
        return;
    update(QRect(QPoint(dirtyLeft_, dirtyTop_), QPoint(dirtyRight_, dirtyBottom_)));
    forgetDrawnArea();
    sinceRepaint_.restart();
}

void Canvas::yieldToEvents() {
    if (sinceRepaint_.elapsed() >= kRepaintIntervalMs)
        flush();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Canvas::clear() {
    image_.fill(background_);
    forgetDrawnArea();
    update();
}

void Canvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    painter.drawImage(area.topLeft(), image_, area);
}

} // namespace spirell
