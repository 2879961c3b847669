#pragma once

#include "video/OutputKinds.hpp"

#include <QDialog>
#include <QSize>

#include <functional>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;

namespace spirell::app {

// Asks how to fly through the views kept: how many of the latest views, the
// seconds a move, the frames a second, the frame size and the format.
class AnimationDialog : public QDialog {
    Q_OBJECT
public:
    // The size the frames are written at in that format when the flight
    // goes through the latest views and takes the first one's own frame.
    using OwnFrame = std::function<QSize(int views, video::OutputKind format)>;

    // views: the views of the picture's formula there are (at least 2);
    // leftOut: the views of other formulas, which take no part.
    AnimationDialog(int views, int leftOut, OwnFrame ownFrame, QWidget* parent = nullptr);

    int views() const;
    double secondsPerMove() const;
    int framesPerSecond() const;
    // The frame size, or an empty size for the picture's own.
    QSize frame() const;
    // The kind of output chosen, which the flight is written as.
    video::OutputKind format() const;

    // What the dialog shows of the flight: its frames and its length.
    QString flightText() const;

    void setViews(int views);
    void setSecondsPerMove(double seconds);
    void setFramesPerSecond(int frames);
    void setFrame(int choice); // 0: the picture's own, 1: 1280 x 720, 2: 1920 x 1080
    void setFormat(video::OutputKind format);

private:
    void showFlight();
    void showOwnFrame();

    OwnFrame ownFrame_;
    QSpinBox* views_ = nullptr;
    QDoubleSpinBox* seconds_ = nullptr;
    QSpinBox* framesPerSecond_ = nullptr;
    QComboBox* frame_ = nullptr;
    QComboBox* format_ = nullptr;
    QLabel* flight_ = nullptr;
};

} // namespace spirell::app
