#include "app/Explorer.hpp"

#include "app/Canvas.hpp"
#include "app/Messages.hpp"
#include "app/ParameterBoxes.hpp"
#include "boxes/BoxEdits.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/TextFormulas.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QWheelEvent>

namespace spirell::app {

namespace {

// The arrow keys pan by this part of the picture's width or height.
constexpr int kKeyPanParts = 10;
// Wheel turns and keys this far apart belong to one gesture.
constexpr int kSettleMs = 300;

} // namespace

Explorer::Explorer(Canvas& canvas, ParameterBoxes& boxes, const drawing::Computing& computing,
                   QWidget* window)
    : QObject(window), canvas_(canvas), boxes_(boxes), window_(window) {
    // Pieces arrive on the render's thread; they are shown on the window's,
    // and only while they belong to the render asked for last.
    render_ = std::make_unique<drawing::ExploringRender>(
        computing, [this](std::shared_ptr<const drawing::ExploredRows> rows) {
            QMetaObject::invokeMethod(
                this, [this, rows = std::move(rows)] { show(rows); }, Qt::QueuedConnection);
        });
    settleTimer_.setSingleShot(true);
    settleTimer_.setInterval(kSettleMs);
    connect(&settleTimer_, &QTimer::timeout, this, [this] { settle(); });
    canvas_.installEventFilter(this);
    canvas_.setAttribute(Qt::WA_AcceptTouchEvents, false);
}

// The render's thread ends before the object its deliveries point to.
Explorer::~Explorer() {
    render_.reset();
}

void Explorer::setPicture(const DrawnPicture& picture, bool exact) {
    picture_ = picture;
    pictureIsExact_ = exact && !picture.isEmpty();
}

void Explorer::cancel() {
    render_->cancel();
    rendering_ = false;
    dragging_ = false;
}

bool Explorer::acceptsInput() const {
    return !picture_.isEmpty() && !(blocked_ && blocked_());
}

void Explorer::showView(int formula, const boxes::BoxTexts& texts) {
    guardSlot(window_, kProgramName, [&] {
        boxes_.write(texts);
        if (picture_.isEmpty() || formula != picture_.formula->index)
            emit formulaShown(formula);
        const formulas::Formula& shown = formulas::formulaAt(formula);
        render(shown, texts, drawing::readView(shown, texts));
    });
}

bool Explorer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &canvas_)
        return false;
    const bool blocked = !acceptsInput();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        return !blocked && mouseEvent(static_cast<QMouseEvent*>(event));
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPointF at = canvas_.canvasPosition(wheel->position());
        if (blocked || !picture_.area.contains(at.toPoint()))
            return false;
        const int angle = wheel->angleDelta().y();
        if (angle == 0)
            return true;
        if (wheel->modifiers() & Qt::ControlModifier)
            brighten(angle);
        else
            zoomAt(at, angle, 1);
        settleSoon();
        return true;
    }
    case QEvent::NativeGesture: {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (blocked || gesture->gestureType() != Qt::ZoomNativeGesture)
            return false;
        // A pinch outwards magnifies.
        zoomAt(canvas_.canvasPosition(gesture->position()), 0, 1 / (1 + gesture->value()));
        settleSoon();
        return true;
    }
    case QEvent::KeyPress:
        return !blocked && keyEvent(static_cast<QKeyEvent*>(event));
    default:
        return false;
    }
}

bool Explorer::mouseEvent(QMouseEvent* event) {
    const QPoint position = canvas_.canvasPosition(event->position()).toPoint();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (event->button() == Qt::BackButton || event->button() == Qt::ForwardButton) {
            emit stepAsked(event->button() == Qt::BackButton);
            return true;
        }
        if (event->button() != Qt::LeftButton || !picture_.area.contains(position))
            return false;
        canvas_.setFocus(Qt::MouseFocusReason);
        settle(); // a wheel gesture still waiting ends here
        dragging_ = true;
        gestureFailed_ = false;
        dragLast_ = position;
        return true;
    case QEvent::MouseMove: {
        if (!dragging_)
            return false;
        const QPoint moved = position - dragLast_;
        if (moved.isNull())
            return true;
        dragLast_ = position;
        if (explore(
                [&](boxes::BoxTexts& texts) { boxes::panByPixels(moved.x(), moved.y(), texts); }))
            canvas_.shiftArea(picture_.area, moved.x(), moved.y());
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!dragging_ || event->button() != Qt::LeftButton)
            return false;
        dragging_ = false;
        settle();
        return true;
    default:
        return false;
    }
}

bool Explorer::keyEvent(QKeyEvent* event) {
    if (event->modifiers() & (Qt::AltModifier | Qt::ControlModifier))
        return false;
    const int stepX = std::max(1, picture_.area.width() / kKeyPanParts);
    const int stepY = std::max(1, picture_.area.height() / kKeyPanParts);
    const auto pan = [&](int columns, int rows) {
        explore([&](boxes::BoxTexts& texts) { boxes::panByPixels(columns, rows, texts); });
    };
    const QPointF middle = QRectF(picture_.area).center();
    switch (event->key()) {
    case Qt::Key_Left:
        pan(stepX, 0);
        break;
    case Qt::Key_Right:
        pan(-stepX, 0);
        break;
    case Qt::Key_Up:
        pan(0, stepY);
        break;
    case Qt::Key_Down:
        pan(0, -stepY);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomAt(middle, GestureEdits::kNotch, 1);
        break;
    case Qt::Key_Minus:
        zoomAt(middle, -GestureEdits::kNotch, 1);
        break;
    default:
        return false;
    }
    settleSoon();
    return true;
}

void Explorer::zoomAt(QPointF position, int angle, double factor) {
    GestureEdits gesture = gesture_;
    if (explore([&](boxes::BoxTexts& texts) {
            gesture.zoom(*picture_.formula, position - picture_.area.topLeft(), angle, factor,
                         texts);
        }))
        gesture_ = gesture;
}

void Explorer::brighten(int angle) {
    GestureEdits gesture = gesture_;
    if (explore([&](boxes::BoxTexts& texts) { gesture.brighten(angle, texts); }))
        gesture_ = gesture;
}

bool Explorer::explore(const Edit& edit) {
    try {
        boxes::BoxTexts texts = boxes_.texts();
        edit(texts);
        // A view that cannot be read changes nothing either.
        const drawing::ViewParams view = drawing::readView(*picture_.formula, texts);
        if (pictureIsExact_)
            adoptTheCanvas();
        boxes_.write(texts);
        render(*picture_.formula, texts, view);
        return true;
    } catch (...) {
        if (!gestureFailed_) {
            gestureFailed_ = true;
            showFailure(window_, kProgramName);
        }
        return false;
    }
}

// The canvas shows the picture exactly: its pixels need no computing where
// the next view keeps their coordinates.
void Explorer::adoptTheCanvas() {
    pictureIsExact_ = false;
    const drawing::ViewParams view = drawing::readView(*picture_.formula, picture_.boxes);
    render_->adopt(*picture_.formula, view, canvas_.shownSize(), canvas_.colours(picture_.area));
}

void Explorer::render(const formulas::Formula& shown, const boxes::BoxTexts& texts,
                      const drawing::ViewParams& view) {
    picture_ = {&shown, texts, pictureArea(view, canvas_.shownSize())};
    pictureIsExact_ = false;
    rendering_ = true;
    ++inputs_;
    render_->request(shown, view, canvas_.shownSize());
    emit pictureExplored(picture_);
}

void Explorer::show(std::shared_ptr<const drawing::ExploredRows> rows) {
    if (rows->generation != render_->currentGeneration())
        return;
    canvas_.setRows(rows->firstRow, rows->width, int(rows->pixels.size() / rows->width),
                    rows->pixels.data());
    // Only the latest request's pieces get this far.
    emit pictureShown(inputs_, rows->complete);
    if (rows->complete) {
        rendering_ = false;
        emit renderedExactly();
    }
}

void Explorer::settlePending() {
    if (settleTimer_.isActive())
        settle();
}

void Explorer::settleSoon() {
    settleTimer_.start();
}

void Explorer::settle() {
    settleTimer_.stop();
    gestureFailed_ = false;
    gesture_.end();
    emit settled();
}

} // namespace spirell::app
