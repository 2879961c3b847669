#include "app/Canvas.hpp"

#include "app/WindowControls.hpp"
#include "drawing/DrawingFrame.hpp"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace spirell::app {

QRect pictureArea(const drawing::ViewParams& view, drawing::DrawingSurface::Size shown) {
    const drawing::ViewGrid grid = drawing::viewGrid(view, shown);
    return QRect(kPictureLeft, kPictureTop, grid.width(), grid.height());
}

namespace {

// About one screen refresh: repainting more often shows nothing new.
constexpr qint64 kRepaintIntervalMs = 16;

} // namespace

Canvas::Canvas(QSize size, QColor background, double displayScale, QWidget* parent)
    : QWidget(parent), image_(size, QImage::Format_RGB32), background_(background.rgb()),
      displayScale_(displayScale) {
    setFixedSize(scaledPlace(QRect(QPoint(0, 0), size), displayScale).size());
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
    updateArea(QRect(QPoint(dirtyLeft_, dirtyTop_), QPoint(dirtyRight_, dirtyBottom_)));
    forgetDrawnArea();
    sinceRepaint_.restart();
}

void Canvas::yieldToEvents() {
    if (sinceRepaint_.elapsed() >= kRepaintIntervalMs)
        flush();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::vector<std::uint32_t> Canvas::colours(const QRect& area) const {
    std::vector<std::uint32_t> colours;
    colours.reserve(std::size_t(area.width()) * area.height());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb* line = pixels_ + y * pixelsPerLine_ + area.left();
        colours.insert(colours.end(), line, line + area.width());
    }
    return colours;
}

void Canvas::setRows(int firstRow, int width, int rows, const std::uint32_t* colours) {
    const int shownWidth = std::min(width, width_ - kPictureLeft);
    const int shownRows = std::min(rows, height_ - kPictureTop - firstRow);
    if (shownWidth <= 0 || shownRows <= 0 || firstRow < 0)
        return;
    for (int row = 0; row < shownRows; ++row)
        std::memcpy(&pixels_[(kPictureTop + firstRow + row) * pixelsPerLine_ + kPictureLeft],
                    colours + std::size_t(row) * width, sizeof(QRgb) * shownWidth);
    updateArea(QRect(kPictureLeft, kPictureTop + firstRow, shownWidth, shownRows));
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
    updateArea(shown);
}

void Canvas::updateArea(const QRect& area) {
    if (displayScale_ == 1) {
        update(area);
        return;
    }
    // Scaled, a pixel of the picture may touch one more pixel of the widget.
    update(scaledPlace(area, displayScale_).adjusted(-1, -1, 1, 1));
}

void Canvas::clear() {
    image_.fill(background_);
    forgetDrawnArea();
    update();
}

void Canvas::mousePressEvent(QMouseEvent* event) {
    // Outside the picture the press goes on to the window, as on its background.
    if (!pictureArea_.contains(canvasPosition(event->position()).toPoint()))
        event->ignore();
}

void Canvas::contextMenuEvent(QContextMenuEvent* event) {
    emit menuRequested(event->globalPos());
}

void Canvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    if (displayScale_ == 1) {
        painter.drawImage(area.topLeft(), image_, area);
        return;
    }
    // The picture keeps its full size; only the display is scaled, smoothly.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.scale(displayScale_, displayScale_);
    const QRect source =
        QRectF(QPointF(area.topLeft()) / displayScale_, QSizeF(area.size()) / displayScale_)
            .toAlignedRect()
            .adjusted(-1, -1, 1, 1)
            .intersected(image_.rect());
    painter.drawImage(source.topLeft(), image_, source);
}

} // namespace spirell::app
