#pragma once

#include "app/DrawnPicture.hpp"
#include "app/GestureEdits.hpp"
#include "drawing/Computing.hpp"
#include "drawing/ExploringRender.hpp"

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QTimer>

#include <functional>
#include <memory>

class QEvent;
class QKeyEvent;
class QMouseEvent;
class QWidget;

namespace spirell::app {

class Canvas;
class ParameterBoxes;

// Moving through the picture with the mouse and the keys: the wheel zooms
// around the pointer (with Ctrl it sets the brightness), a drag pans, the
// arrow keys pan and + and - zoom around the middle. Every input edits the
// boxes, so they always say what is shown, and starts an exploring render of
// the new view off the window's thread: coarse at once, exact at rest.
class Explorer : public QObject {
    Q_OBJECT
public:
    // The window owns the canvas and the boxes; window shows the messages.
    Explorer(Canvas& canvas, ParameterBoxes& boxes, const drawing::Computing& computing,
             QWidget* window);
    ~Explorer() override;

    // The picture there is to explore: the window's latest drawing. exact:
    // the canvas shows it, complete, exactly as drawn.
    void setPicture(const DrawnPicture& picture, bool exact);
    // Ends the exploring render under way: nothing of it shows afterwards.
    void cancel();
    // While this says so (a drawing runs, the program ends), inputs are ignored.
    void setBlocked(std::function<bool()> blocked) { blocked_ = std::move(blocked); }
    // Whether there is a picture to explore and inputs are taken.
    bool acceptsInput() const;

    // Writes the boxes and draws the formula's view with the exploring render,
    // as a step through the view history does.
    void showView(int formula, const boxes::BoxTexts& texts);
    // Ends a gesture still waiting for its pause, as a mouse press does, so
    // that its view is kept before anything steps through the history.
    void settlePending();

    // Whether an exploring render is under way.
    bool isRendering() const { return rendering_; }
    // How many inputs asked for a view so far.
    quint64 inputs() const { return inputs_; }

signals:
    // The boxes and the picture now show another view of the formula: the
    // window's latest drawing is this one.
    void pictureExplored(const spirell::app::DrawnPicture& picture);
    // showView showed a view of another formula.
    void formulaShown(int formula);
    // A gesture ended on the view shown: a release of the mouse, a pause
    // after the wheel or the keys.
    void settled();
    // The mouse's back or forward button on the picture.
    void stepAsked(bool back);
    // The render of the picture's view is complete: the canvas shows it exactly.
    void renderedExactly();
    // A piece of the view asked for by input number input shows on the
    // canvas; exact once the picture is complete.
    void pictureShown(quint64 input, bool exact);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // How an input wants the boxes changed; it may throw boxes::RuntimeError.
    using Edit = std::function<void(boxes::BoxTexts&)>;

    bool mouseEvent(QMouseEvent* event);
    bool keyEvent(QKeyEvent* event);
    // Applies an input: edits the boxes and renders the new view; returns
    // whether it did. An input whose view would leave the number range
    // changes nothing, with one message for the whole gesture.
    bool explore(const Edit& edit);
    // Zooms around a position on the canvas by angle (angleDelta's units) and
    // a further factor, as the gesture has it.
    void zoomAt(QPointF position, int angle, double factor);
    void brighten(int angle);
    void render(const formulas::Formula& formula, const boxes::BoxTexts& texts,
                const drawing::ViewParams& view);
    void show(std::shared_ptr<const drawing::ExploredRows> rows);
    void adoptTheCanvas();
    // A gesture of wheel turns or keys ends after a pause.
    void settleSoon();
    void settle();

    Canvas& canvas_;
    ParameterBoxes& boxes_;
    QWidget* window_;
    std::function<bool()> blocked_;
    DrawnPicture picture_;
    bool pictureIsExact_ = false;
    bool rendering_ = false;
    quint64 inputs_ = 0;
    bool gestureFailed_ = false; // a message was shown in this gesture
    GestureEdits gesture_;
    bool dragging_ = false;
    QPoint dragLast_;
    QTimer settleTimer_;
    std::unique_ptr<drawing::ExploringRender> render_;
};

} // namespace spirell::app
