#include "app/Canvas.hpp"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace spirell::app {

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

void Canvas::setPixel(int column, int row, formulas::Colour colour) {
    const int x = kPictureLeft + column;
    const int y = kPictureTop + row;
    if (column < 0 || row < 0 || x >= width_ || y >= height_)
        return;
    pixels_[y * pixelsPerLine_ + x] = qRgb(colour.red, colour.green, colour.blue);
    // The drawn area grows only now and then (a new column, the first rows after
    // a repaint); testing before writing keeps the common case to four compares.
    if (x < dirtyLeft_)
        dirtyLeft_ = x;
    if (x > dirtyRight_)
        dirtyRight_ = x;
    if (y < dirtyTop_)
        dirtyTop_ = y;
    if (y > dirtyBottom_)
        dirtyBottom_ = y;
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

void Canvas::setRows(int firstRow, int width, int rows, const std::uint32_t* colours) {
    const int shownWidth = std::min(width, width_ - kPictureLeft);
    const int shownRows = std::min(rows, height_ - kPictureTop - firstRow);
    if (shownWidth <= 0 || shownRows <= 0 || firstRow < 0)
        return;
    for (int row = 0; row < shownRows; ++row)
        std::memcpy(&pixels_[(kPictureTop + firstRow + row) * pixelsPerLine_ + kPictureLeft],
                    colours + std::size_t(row) * width, sizeof(QRgb) * shownWidth);
    update(QRect(kPictureLeft, kPictureTop + firstRow, shownWidth, shownRows));
}

void Canvas::shiftArea(const QRect& area, int columns, int rows) {
    const QRect shown = area.intersected(rect());
    const QRect target = shown.translated(columns, rows).intersected(shown);
    if (target.isEmpty())
        return;
    const QImage moved = image_.copy(target.translated(-columns, -rows));
    for (int y = 0; y < target.height(); ++y)
        std::memcpy(&pixels_[(target.top() + y) * pixelsPerLine_ + target.left()],
                    moved.constScanLine(y), sizeof(QRgb) * target.width());
    update(shown);
}

void Canvas::clear() {
    image_.fill(background_);
    forgetDrawnArea();
    update();
}

void Canvas::mousePressEvent(QMouseEvent* event) {
    // Outside the picture the press goes on to the window, as on its background.
    if (!pictureArea_.contains(event->position().toPoint()))
        event->ignore();
}

void Canvas::contextMenuEvent(QContextMenuEvent* event) {
    emit menuRequested(event->globalPos());
}

void Canvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    painter.drawImage(area.topLeft(), image_, area);
}

} // namespace spirell::app
