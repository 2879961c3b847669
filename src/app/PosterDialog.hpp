#pragma once

#include <QDialog>

class QLabel;
class QSpinBox;

namespace spirell::app {

// The largest scale a poster may have.
inline constexpr int kLargestPosterScale = 64;

// Asks for the scale of a poster, 1 to 64 pixels per world unit, showing the
// poster's size in pixels and about how large its file will be.
class PosterDialog : public QDialog {
    Q_OBJECT
public:
    // width x height: the drawing at scale 1; bytesPerPixel: what its PNG takes
    // a pixel; largestScale: the most the image limits allow.
    PosterDialog(int width, int height, double bytesPerPixel, int largestScale,
                 QWidget* parent = nullptr);

    int scale() const;
    void setScale(int scale);
    // What the dialog shows for the scale chosen.
    QString sizeText() const;

private:
    void showSize();

    int width_;
    int height_;
    double bytesPerPixel_;
    QSpinBox* scale_ = nullptr;
    QLabel* size_ = nullptr;
};

// "12.3 MB", "950 kB": a file size in decimal units.
QString fileSizeText(double bytes);

} // namespace spirell::app
