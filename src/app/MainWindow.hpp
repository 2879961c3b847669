#pragma once

#include "app/AnimationExport.hpp"
#include "app/Canvas.hpp"
#include "app/ClickableLabel.hpp"
#include "app/ColourButton.hpp"
#include "app/DrawnPicture.hpp"
#include "app/Explorer.hpp"
#include "app/FormulaEditor.hpp"
#include "app/Messages.hpp"
#include "app/ParameterBoxes.hpp"
#include "app/PictureExport.hpp"
#include "app/ViewActions.hpp"
#include "app/ViewHistory.hpp"
#include "app/WebLink.hpp"
#include "app/WindowControls.hpp"
#include "drawing/Computing.hpp"
#include "drawing/HaltFlag.hpp"
#include "formulas/Catalogue.hpp"

#include <QAction>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

namespace spirell::app {

inline constexpr int kClientWidth = 1272;
inline constexpr int kClientHeight = 1016;

// How deep formula clicks during a drawing may nest. Each nested drawing runs
// inside the yield of the one before, a few kilobytes of stack each; clicks
// beyond this depth are ignored, so that no number of queued clicks can
// exhaust the stack.
inline constexpr int kMaxNestedDrawings = 64;

// The program's one window: a frameless form whose client area holds the
// canvas the formulas paint on and every control above it. The controls are
// described in WindowControls.cpp, each with what it does as data; each keeps
// its name on the classic form as its object name ("qTac" for the window
// itself), so the inventory can be checked name by name. What the picture can
// do outside the window (save, copy, posters) is PictureExport's.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // Drawings and posters are computed as computing says. displayScale
    // shrinks the whole window for a small screen; pictures keep their size.
    explicit MainWindow(const drawing::Computing& computing, double displayScale = 1,
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    // How the program ends; replaceable so that tests can watch it.
    void setProgramEnder(std::function<void()> ender) { endProgram_ = std::move(ender); }

    // The browser the web-link button opens; replaceable for tests.
    void setWebLink(WebLink link) { webLink_ = std::move(link); }

    Canvas* canvas() const { return canvas_; }
    const ParameterBoxes& boxes() const { return boxes_; }
    ParameterBoxes& boxes() { return boxes_; }
    const drawing::HaltFlag& haltFlag() const { return haltFlag_; }
    ColourButton* formulaButton(int index) const { return formulaButtons_[index]; }
    // How many drawings are running, each nested inside the one before.
    int drawingDepth() const { return drawingDepth_; }
    // The latest picture, empty when nothing has been drawn since start-up or
    // the last reset.
    const DrawnPicture& picture() const { return picture_; }
    // Save image, Copy image and Save poster.
    PictureExport& pictureExport() const { return *pictureExport_; }
    // The wheel, drags and keys on the picture.
    Explorer& explorer() const { return *explorer_; }
    // The views settled on: at each formula click and at the end of each
    // gesture on the picture.
    const ViewHistory& history() const { return *history_; }
    // Back, Forward, Copy view and Open picture.
    ViewActions& viewActions() const { return *viewActions_; }
    // Save animation, through the views kept.
    AnimationExport& animationExport() const { return *animationExport_; }
    // The editor of formulas of your own, made when first asked for.
    FormulaEditor& formulaEditor();
    ColourButton* ownFormulaButton() const { return ownFormulaButton_; }
    // Draws a formula written as text with the view in the boxes, as a
    // formula click does; a text that does not compile is marked in the
    // editor instead.
    void drawFormulaText(const QString& text);

    // Does what a control does: an action of the window (for DrawFormula, of
    // the catalogue's formula index) or an edit of the boxes. It runs as a
    // slot: whatever fails is shown in a message box and goes no further.
    void perform(const ControlAction& action, int formula = -1);
    // Every drawing stops after its current column and the program ends.
    void endTheProgram();
    // The exit labels' colours at every tick of the timer.
    void restoreExitColours();

signals:
    // A new picture shows on the canvas (drawn or explored), or a reset cleared it.
    void pictureChanged(const spirell::app::DrawnPicture& picture);

protected:
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void createControls();
    void connectControl(QWidget* control, const ControlDescription& description);
    void createActions();
    template <typename Control> Control* control(const char* name) const;
    void act(WindowAction action, int formula);
    // Draws the formula (a built-in's index or a text's) with the view in the boxes.
    void startFormula(int index);
    // The editor follows the picture to a formula written as text.
    void followPicture(const DrawnPicture& picture);
    // Marks the formula's button as the one drawn.
    void highlightFormula(int index);
    // Applies an edit to the boxes; an overflow leaves them untouched.
    void editBoxes(BoxEdit edit);
    void halt();
    void reset();
    void showPictureMenu(const QPoint& globalPosition);
    void setPicture(const DrawnPicture& picture);
    void rememberLatestView();

    double displayScale_ = 1;
    QWidget* client_ = nullptr;
    Canvas* canvas_ = nullptr;
    ParameterBoxes boxes_;
    std::array<ColourButton*, formulas::kFormulaCount> formulaButtons_{};
    ColourButton* ownFormulaButton_ = nullptr; // "your own..."
    FormulaEditor* formulaEditor_ = nullptr;
    int followedFormula_ = -1;            // the formula of the picture the editor last followed
    ClickableLabel* exitLabel_ = nullptr; // "x"
    ClickableLabel* exitArrowLabel_ = nullptr; // "<"
    ClickableLabel* zoomLabel_ = nullptr;      // "X": its colour marks the chosen formula
    QTimer* exitColourTimer_ = nullptr;
    PictureExport* pictureExport_ = nullptr;
    Explorer* explorer_ = nullptr;
    ViewHistory* history_ = nullptr;
    ViewActions* viewActions_ = nullptr;
    AnimationExport* animationExport_ = nullptr;
    DrawnPicture picture_;
    int drawingsStarted_ = 0; // tells whether another drawing painted over one

    drawing::Computing computing_;
    drawing::HaltFlag haltFlag_;
    QColor savedExitColour_;
    bool ending_ = false;
    bool activatedBefore_ = false;
    int drawingDepth_ = 0;
    std::function<void()> endProgram_;
    WebLink webLink_;
};

} // namespace spirell::app
