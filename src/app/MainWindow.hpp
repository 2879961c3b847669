#pragma once

#include "app/Canvas.hpp"
#include "app/ClickableLabel.hpp"
#include "app/ColourButton.hpp"
#include "app/ParameterBoxes.hpp"
#include "app/PosterJob.hpp"
#include "app/WebLink.hpp"
#include "boxes/RuntimeError.hpp"
#include "drawing/Computing.hpp"
#include "drawing/HaltFlag.hpp"
#include "formulas/Catalogue.hpp"

#include <QAction>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

namespace spirell::app {

inline constexpr int kClientWidth = 1272;
inline constexpr int kClientHeight = 1016;
inline constexpr const char* kProgramName = "Vortica Spirell";

// How deep formula clicks during a drawing may nest. Each nested drawing runs
// inside the yield of the one before, a few kilobytes of stack each; clicks
// beyond this depth are ignored, so that no number of queued clicks can
// exhaust the stack.
inline constexpr int kMaxNestedDrawings = 64;

// The program's one window: a frameless form whose client area holds the
// canvas the formulas paint on and every control above it. The controls are
// described in WindowControls.cpp; each keeps its name on the classic form as
// its object name ("qTac" for the window itself), so the inventory can be
// checked name by name.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // Drawings and posters are computed as computing says.
    explicit MainWindow(const drawing::Computing& computing, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Asks where to save a file; an empty answer saves nothing. Replaceable
    // so that tests need no file dialog.
    using FileChooser = std::function<QString(const QString& title, const QString& suggestedName)>;
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    // How the program ends; replaceable so that tests can watch it.
    void setProgramEnder(std::function<void()> ender) { endProgram_ = std::move(ender); }

    // The browser the web-link button opens; replaceable for tests.
    void setWebLink(WebLink link) { webLink_ = std::move(link); }

    Canvas* canvas() const { return canvas_; }
    const ParameterBoxes& boxes() const { return boxes_; }
    const drawing::HaltFlag& haltFlag() const { return haltFlag_; }
    ColourButton* formulaButton(int index) const { return formulaButtons_[index]; }
    // How many drawings are running, each nested inside the one before.
    int drawingDepth() const { return drawingDepth_; }

    // What the window shows of its latest drawing: the picture Save image
    // and Copy image take. Null when nothing has been drawn since start-up or
    // the last reset.
    QImage picture() const;
    // The poster being written, if any.
    const PosterJob* poster() const { return poster_.get(); }

    // The formula buttons and "halt !".
    void startFormula(int index);
    void halt();

    // The parameter panel.
    void applySmallPreset();
    void applyMediumPreset();
    void applyLargePreset();
    void reset();
    void checkSizeBox();
    void shiftRight();
    void shiftLeft();
    void shiftDown();
    void shiftUp();
    void doubleYPosition();
    void halveYPosition();
    void doubleXPosition();
    void halveXPosition();
    void doubleZoom();
    void halveZoom();
    void halveZoomAndMoveToHalfSize();
    void doubleZoomAndMoveToTwiceSize();

    // The window's labels, its timer and the web link.
    void firstActivation();
    void endTheProgram();
    void minimise();
    void lightExitLabel();
    void lightArrowLabel();
    void restoreExitColours();
    void openWebLink();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // The latest drawing: its formula, its boxes as it read them and where it
    // lies on the canvas, cut to the canvas.
    struct DrawnPicture {
        const formulas::Formula* formula = nullptr;
        boxes::BoxTexts boxes;
        QRect area;
    };

    void createControls();
    void createActions();
    template <typename Control> Control* control(const char* name) const;
    void showPictureMenu(const QPoint& globalPosition);
    void setPicture(const DrawnPicture& picture);
    void copyImage();
    void saveImage();
    void savePoster();
    void posterFinished(bool cancelled, const QString& error);
    void updatePictureActions();
    QString chooseFileInDialog(const QString& title, const QString& suggestedName);
    void showRuntimeError(const boxes::RuntimeError& error);
    // Applies an edit to the boxes; an overflow leaves them untouched.
    void editBoxes(const std::function<void(boxes::BoxTexts&)>& edit);

    QWidget* client_ = nullptr;
    Canvas* canvas_ = nullptr;
    ParameterBoxes boxes_;
    std::array<ColourButton*, formulas::kFormulaCount> formulaButtons_{};
    ClickableLabel* exitLabel_ = nullptr;      // "x"
    ClickableLabel* exitArrowLabel_ = nullptr; // "<"
    ClickableLabel* zoomLabel_ = nullptr;      // "X": its colour marks the chosen formula
    QTimer* exitColourTimer_ = nullptr;

    QAction* haltAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* saveImageAction_ = nullptr;
    QAction* copyImageAction_ = nullptr;
    QAction* savePosterAction_ = nullptr;
    DrawnPicture picture_;
    FileChooser chooseFile_;
    std::unique_ptr<PosterJob> poster_;
    QProgressDialog* posterProgress_ = nullptr;

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
