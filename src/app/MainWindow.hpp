#pragma once

#include "app/Canvas.hpp"
#include "app/ClickableLabel.hpp"
#include "app/ColourButton.hpp"
#include "app/WebLink.hpp"
#include "formulas/Catalogue.hpp"
#include "render/HaltFlag.hpp"
#include "view/ParameterBoxes.hpp"
#include "view/RuntimeError.hpp"
#include "view/ViewEdits.hpp"

#include <QAction>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

namespace spirell {

inline constexpr int kClientWidth = 1272;
inline constexpr int kClientHeight = 1016;
inline constexpr const char* kProgramName = "Vortica Spirell";

// How deep formula clicks during a drawing may nest. Each nested drawing runs
// inside the yield of the one before, a few kilobytes of stack each; clicks
// beyond this depth are ignored, so that no number of queued clicks can
// exhaust the stack.
inline constexpr int kMaxNestedDrawings = 64;

// The program's one window: a frameless form whose client area holds the
// canvas the formulas paint on and every control above it. Each handler is
// named after its control and event.
class qTac : public QWidget {
    Q_OBJECT
public:
    explicit qTac(QWidget* parent = nullptr);

    // How the program ends; replaceable so that tests can watch it.
    void setProgramEnder(std::function<void()> ender) { endProgram_ = std::move(ender); }

    // The browser the web-link button starts; replaceable for tests.
    void setWebLink(WebLink link) { webLink_ = std::move(link); }

    Canvas* canvas() const { return canvas_; }

    // What the window shows of its latest drawing: the picture Save image
    // and Copy image take. Null when nothing has been drawn since start-up or
    // the last reset.
    QImage picture() const;
    const ParameterBoxes& boxes() const { return boxes_; }
    const HaltFlag& haltFlag() const { return HaltFlag_; }
    // How many drawings are running, each nested inside the one before.
    int drawingDepth() const { return drawingDepth_; }
    ColourButton* formulaButton(int index) const { return CMD[index]; }

    // Formula buttons.
    void CMD_Click(int Index);
    void cmdstop_Click();

    // Parameter panel.
    void cmd1_Click();
    void cmdb_Click();
    void Command4_Click();
    void Command3_Click();
    void TextThree_LostFocus();
    void horz_Click(int Index);
    void verty_Click(int Index);
    void cmdblue_Click(int Index);
    void cmdXX_Click(int Index);
    void Label17_Click();
    void Label8_Click();

    // Window labels, timer and web link.
    void Form_Activate();
    void Label1_Click();
    void Label2_Click();
    void Label4_Click();
    void Label7_Click();
    void Label1_MouseMove();
    void Label4_MouseMove();
    void Timer1_Timer();
    void Command1_Click();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The latest drawing: its formula, its boxes as it read them and where it
    // lies on the canvas, cut to the canvas.
    struct DrawnPicture {
        const Formula* formula = nullptr;
        BoxTexts boxes;
        QRect area;
    };

    void createControls();
    void createActions();
    void showPictureMenu(const QPoint& globalPosition);
    void setPicture(const DrawnPicture& picture);
    void copyImage();
    void setTabOrder();
    void endTheProgram();
    void showRuntimeError(const RuntimeError& error);
    // Applies an edit to the boxes; an overflow leaves them untouched.
    void editBoxes(const std::function<void(BoxTexts&)>& edit);

    QWidget* client_ = nullptr;
    Canvas* canvas_ = nullptr;
    ParameterBoxes boxes_;

    std::array<ColourButton*, kFormulaCount> CMD{};
    ColourButton* cmdstop = nullptr;
    ColourButton* Command3 = nullptr;
    ColourButton* cmd1 = nullptr;
    ColourButton* cmdb = nullptr;
    ColourButton* Command4 = nullptr;
    std::array<ColourButton*, 4> cmdXX{};
    std::array<ColourButton*, 2> verty{};
    std::array<ColourButton*, 2> horz{};
    std::array<ColourButton*, 4> cmdblue{};
    ColourButton* Command1 = nullptr;

    ClickableLabel* Label1 = nullptr;
    ClickableLabel* Label2 = nullptr;
    ClickableLabel* Label4 = nullptr;
    ClickableLabel* Label7 = nullptr;
    ClickableLabel* Label8 = nullptr;
    ClickableLabel* Label17 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    std::array<QLabel*, 3> Label9{};
    QLabel* Label10 = nullptr;
    QLabel* Label13 = nullptr;

    QTimer* Timer1 = nullptr;

    QAction* haltAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* saveImageAction_ = nullptr;
    QAction* copyImageAction_ = nullptr;
    QAction* savePosterAction_ = nullptr;
    DrawnPicture picture_;

    HaltFlag HaltFlag_;
    QColor SavedExitColour;
    bool ending_ = false;
    bool activatedBefore_ = false;
    int drawingDepth_ = 0;
    std::function<void()> endProgram_;
    WebLink webLink_;
};

} // namespace spirell
