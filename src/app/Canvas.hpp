#pragma once

#include "drawing/DrawingSurface.hpp"
#include "drawing/ViewParams.hpp"

#include <QElapsedTimer>
#include <QImage>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace spirell::app {

// The window's drawing surface. Pixels go straight into a backing image, so the
// picture survives being covered or minimised; the screen is brought up to date
// with only the part drawn since the last repaint, at most about 60 times a
// second while a drawing runs and once more when it ends.
// Where a drawing's first column and row land on the canvas: right of the
// control column, below the top row of controls.
inline constexpr int kPictureLeft = 161;
inline constexpr int kPictureTop = 51;

// Where the picture of a view lands on the canvas: as many columns and rows
// as the drawing loops give, as far as shown reaches.
QRect pictureArea(const drawing::ViewParams& view, drawing::DrawingSurface::Size shown);

class Canvas : public QWidget, public drawing::DrawingSurface {
    Q_OBJECT
public:
    // size: of the picture the canvas holds; shown scaled by displayScale.
    Canvas(QSize size, QColor background, double displayScale = 1, QWidget* parent = nullptr);

    void setPixel(int x, int y, formulas::Colour colour) override;
    void yieldToEvents() override;
    void clear() override;
    Size shownSize() const override { return {width_ - kPictureLeft, height_ - kPictureTop}; }

    // Shows everything drawn so far; called when a drawing ends.
    void flush();

    // A copy of the backing image: what the window shows once repainted.
    QImage image() const { return image_.copy(); }
    // The colours of area, 0xffRRGGBB row after row, as setRows takes them.
    std::vector<std::uint32_t> colours(const QRect& area) const;

    // Sets a run of the picture's rows at once, as an exploring render
    // delivers them: width colours 0xffRRGGBB a row, row after row, the first
    // at the picture's row firstRow; parts the canvas cannot show are left out.
    void setRows(int firstRow, int width, int rows, const std::uint32_t* colours);

    // Moves what area shows by columns and rows, at once: a dragged picture
    // follows the pointer before its uncovered strips are computed.
    void shiftArea(const QRect& area, int columns, int rows);

    // Where a position on the widget, as mouse events give it, lies on the
    // canvas's own picture.
    QPointF canvasPosition(QPointF widgetPosition) const { return widgetPosition / displayScale_; }

    // Where the latest drawing lies. A press elsewhere on the canvas belongs
    // to the window's background, which drags the window.
    void setPictureArea(const QRect& area) { pictureArea_ = area; }
    QRect pictureArea() const { return pictureArea_; }

signals:
    void menuRequested(const QPoint& globalPosition);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QImage image_;
    // Pixels are written through this pointer: no copy-on-write check and no
    // call into the image per pixel.
    QRgb* pixels_ = nullptr;
    qsizetype pixelsPerLine_ = 0;
    int width_ = 0;
    int height_ = 0;
    QRgb background_;
    // The part drawn since the last repaint; empty while right < left.
    void forgetDrawnArea();
    int dirtyLeft_ = 0, dirtyTop_ = 0, dirtyRight_ = -1, dirtyBottom_ = -1;
    QElapsedTimer sinceRepaint_;
    QRect pictureArea_;
    double displayScale_ = 1;
    // Repaints the widget where a part of the picture changed.
    void updateArea(const QRect& area);
};

} // namespace spirell::app
