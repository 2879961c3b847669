#include "app/MainWindow.hpp"

#include "ProgramInfo.hpp"
#include "app/Palette.hpp"
#include "app/ShortcutActions.hpp"
#include "boxes/BoxEdits.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/RandomFormula.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/FormulaText.hpp"
#include "formulas/TextFormulas.hpp"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFocusEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace spirell::app {

namespace {

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QColor textColour(const QWidget* widget) {
    return widget->palette().color(QPalette::WindowText);
}

// Counts a running drawing for as long as it runs.
struct DepthCount {
    explicit DepthCount(int& depth) : depth_(depth) { ++depth_; }
    ~DepthCount() { --depth_; }
    DepthCount(const DepthCount&) = delete;
    DepthCount& operator=(const DepthCount&) = delete;
    int& depth_;
};

} // namespace

MainWindow::MainWindow(const drawing::Computing& computing, double displayScale, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), displayScale_(displayScale),
      computing_(computing), endProgram_([] { QCoreApplication::exit(0); }) {
    setObjectName("qTac");
    setWindowTitle(QString());
    setWindowIcon(QIcon(kIconResource));
    // A one-pixel border around the client area takes the place of a frame.
    const QSize client =
        scaledPlace(QRect(0, 0, kClientWidth, kClientHeight), displayScale_).size();
    setFixedSize(client + QSize(2, 2));
    client_ = new QWidget(this);
    client_->setGeometry(QRect(QPoint(1, 1), client));
    canvas_ = new Canvas(QSize(kClientWidth, kClientHeight), palette::kFormBackground,
                         displayScale_, client_);
    createControls();
    pictureExport_ = new PictureExport(this, *canvas_, computing_);
    connect(this, &MainWindow::pictureChanged, pictureExport_, &PictureExport::setPicture);
    explorer_ = new Explorer(*canvas_, boxes_, computing_, this);
    explorer_->setBlocked([this] { return ending_ || drawingDepth_ > 0; });
    // What exploring shows becomes the latest drawing, for saving and sharing.
    connect(explorer_, &Explorer::pictureExplored, this, [this](const DrawnPicture& picture) {
        picture_ = picture;
        canvas_->setPictureArea(picture.area);
        emit pictureChanged(picture_);
    });
    connect(explorer_, &Explorer::formulaShown, this, &MainWindow::highlightFormula);
    history_ = new ViewHistory(this);
    connect(explorer_, &Explorer::settled, this, &MainWindow::rememberLatestView);
    viewActions_ = new ViewActions(this, *explorer_, *history_,
                                   [this](int formula, const boxes::BoxTexts& texts) {
                                       boxes_.write(texts);
                                       startFormula(formula);
                                   });
    connect(this, &MainWindow::pictureChanged, viewActions_, &ViewActions::setPicture);
    animationExport_ = new AnimationExport(this, *history_, computing_);
    connect(this, &MainWindow::pictureChanged, animationExport_, &AnimationExport::setPicture);
    connect(this, &MainWindow::pictureChanged, this, &MainWindow::followPicture);
    setAcceptDrops(true);
    createActions();
    boxes_.sizeBox()->setFocus();

    exitColourTimer_ = new QTimer(this);
    exitColourTimer_->setObjectName("Timer1");
    exitColourTimer_->setInterval(1000);
    connect(exitColourTimer_, &QTimer::timeout, this,
            [this] { guardSlot(this, kProgramName, [this] { restoreExitColours(); }); });
    exitColourTimer_->start();
}

// A poster or an animation still being written is cancelled and an
// exploring render ends;
// their workers end while the window is still whole.
MainWindow::~MainWindow() {
    delete animationExport_;
    delete pictureExport_;
    delete explorer_;
}

template <typename Control> Control* MainWindow::control(const char* name) const {
    return client_->findChild<Control*>(name, Qt::FindDirectChildrenOnly);
}

void MainWindow::createControls() {
    std::vector<ControlDescription> controls = windowControls();
    for (const formulas::Formula& formula : formulas::formulaCatalogue())
        controls.push_back(formulaButtonControl(formula.index, formula.caption));
    for (const ControlDescription& description : controls)
        connectControl(makeControl(description, client_, displayScale_), description);
    for (const formulas::Formula& formula : formulas::formulaCatalogue())
        formulaButtons_[formula.index] =
            control<ColourButton>(formulaButtonControl(formula.index, "").name);

    boxes_ = ParameterBoxes(client_);
    boxes_.write(boxes::BoxTexts{});
    for (QLineEdit* box : boxes_.all())
        box->installEventFilter(this);
    exitLabel_ = control<ClickableLabel>("Label1");
    exitArrowLabel_ = control<ClickableLabel>("Label4");
    zoomLabel_ = control<ClickableLabel>("Label17");
    ownFormulaButton_ = control<ColourButton>("CmdOwn");
    savedExitColour_ = textColour(exitLabel_); // until the first activation saves it

    const std::vector<const char*>& order = tabOrder();
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(control<QWidget>(order[i - 1]), control<QWidget>(order[i]));
}

// A label without a click stays part of the background, which drags the window.
void MainWindow::connectControl(QWidget* control, const ControlDescription& description) {
    const ControlAction click = description.onClick;
    const WindowAction hover = description.onHover;
    const int formula = description.formula;
    const auto clicked = [this, click, formula] { perform(click, formula); };
    auto* label = qobject_cast<ClickableLabel*>(control);
    if (!std::holds_alternative<std::monostate>(click)) {
        if (auto* button = qobject_cast<QPushButton*>(control))
            connect(button, &QPushButton::clicked, this, clicked);
        else if (label)
            connect(label, &ClickableLabel::clicked, this, clicked);
    }
    if (label && hover != WindowAction::None)
        connect(label, &ClickableLabel::mouseMoved, this, [this, hover] { perform(hover); });
}

bool MainWindow::event(QEvent* event) {
    // The start-up steps belong to the first activation only: repeated on a
    // switch back from another program, they would save the blue they set as
    // the exit label's own colour.
    if (event->type() == QEvent::WindowActivate && !activatedBefore_) {
        activatedBefore_ = true;
        savedExitColour_ = textColour(exitLabel_);
        setTextColour(exitLabel_, palette::kExitLabelActivated);
    }
    return QWidget::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // In a box, Ctrl+C copies the selected text; with nothing selected it is
    // the window's Copy image. Ctrl+E, which a box would take to move to the
    // end of its line, opens the formula editor.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* box = qobject_cast<QLineEdit*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (box && ((key->matches(QKeySequence::Copy) && !box->hasSelectedText()) ||
                    key->keyCombination() == QKeyCombination(Qt::CTRL, Qt::Key_E)))
            return true;
    }
    // Switching to another program or opening a menu is not leaving the box.
    if (watched == boxes_.sizeBox() && event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            perform(+[](boxes::BoxTexts& texts) { boxes::checkSize(texts); });
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette::kFrame);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

// Closing through the window manager (Alt+F4, the task bar) ends the program
// as the "x" label does: every drawing stops after its current column.
void MainWindow::closeEvent(QCloseEvent* event) {
    endTheProgram();
    event->accept();
}

// A press on the background, wherever no control or picture takes it, moves
// the frameless window.
void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
}

// Esc halts and Ctrl+Q ends the program, from the poster's progress window
// too; the picture's own actions are PictureExport's.
void MainWindow::createActions() {
    auto* haltAction = addShortcutAction(this, this, "haltAction", "Halt", Qt::Key_Escape);
    auto* quitAction = addShortcutAction(this, this, "quitAction", "Quit", Qt::CTRL | Qt::Key_Q,
                                         Qt::ApplicationShortcut);
    connect(haltAction, &QAction::triggered, this, [this] { perform(WindowAction::Halt); });
    connect(quitAction, &QAction::triggered, this, [this] { perform(WindowAction::EndProgram); });
    auto* editAction = addShortcutAction(this, this, "editFormulaAction", "Your own formula...",
                                         Qt::CTRL | Qt::Key_E);
    connect(editAction, &QAction::triggered, this, [this] { perform(WindowAction::EditFormula); });
    connect(canvas_, &Canvas::menuRequested, this, &MainWindow::showPictureMenu);
}

void MainWindow::showPictureMenu(const QPoint& globalPosition) {
    guardSlot(this, kProgramName, [&] {
        QMenu menu(this);
        menu.addActions(pictureExport_->actions());
        menu.addAction(animationExport_->action());
        menu.addSeparator();
        menu.addActions(viewActions_->actions());
        menu.exec(globalPosition);
    });
}

// A picture dropped on the window opens as Open picture opens it.
void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return;
    event->acceptProposedAction();
    const std::string path = QFile::encodeName(urls.front().toLocalFile()).toStdString();
    guardSlot(this, kProgramName, [&] { viewActions_->open(path); });
}

void MainWindow::setPicture(const DrawnPicture& picture) {
    picture_ = picture;
    canvas_->setPictureArea(picture.area);
    explorer_->setPicture(picture, false);
    emit pictureChanged(picture_);
}

void MainWindow::rememberLatestView() {
    if (!picture_.isEmpty())
        history_->remember({picture_.formula->index, picture_.boxes});
}

// --- What the controls do ------------------------------------------------------

void MainWindow::perform(const ControlAction& action, int formula) {
    guardSlot(this, kProgramName, [&] {
        if (const BoxEdit* edit = std::get_if<BoxEdit>(&action))
            editBoxes(*edit);
        else if (const WindowAction* windowAction = std::get_if<WindowAction>(&action))
            act(*windowAction, formula);
    });
}

void MainWindow::act(WindowAction action, int formula) {
    switch (action) {
    case WindowAction::None:
        break;
    case WindowAction::EndProgram:
        endTheProgram();
        break;
    case WindowAction::Minimise:
        setWindowState(windowState() | Qt::WindowMinimized);
        break;
    case WindowAction::LightExitLabel:
        setTextColour(exitLabel_, palette::kExitLabelHover);
        break;
    case WindowAction::LightArrowLabel:
        setTextColour(exitArrowLabel_, palette::kExitArrowHover);
        break;
    case WindowAction::Halt:
        halt();
        break;
    case WindowAction::Reset:
        reset();
        break;
    case WindowAction::OpenWebLink:
        webLink_.open(this);
        break;
    case WindowAction::DrawFormula:
        startFormula(formula);
        break;
    case WindowAction::EditFormula:
        formulaEditor().show();
        formulaEditor().raise();
        formulaEditor().activateWindow();
        break;
    }
}

FormulaEditor& MainWindow::formulaEditor() {
    if (!formulaEditor_) {
        formulaEditor_ = new FormulaEditor(
            [](std::uint64_t seed) { return drawing::randomFormulaText(seed); }, this);
        connect(formulaEditor_, &FormulaEditor::drawAsked, this, [this](const QString& text) {
            guardSlot(formulaEditor_, kProgramName, [&] { drawFormulaText(text); });
        });
    }
    return *formulaEditor_;
}

void MainWindow::drawFormulaText(const QString& text) {
    const formulas::Formula* formula = nullptr;
    try {
        formula = &formulas::formulaOfText(text.toStdString());
    } catch (const formulas::FormulaError& fault) {
        formulaEditor().showFault(fault.line(), fault.column(),
                                  QString::fromStdString(fault.message()));
        return;
    }
    formulaEditor().showFault(0, 0, {});
    followedFormula_ = formula->index; // the editor holds it already
    startFormula(formula->index);
}

void MainWindow::followPicture(const DrawnPicture& picture) {
    if (picture.isEmpty() || picture.formula->index == followedFormula_)
        return;
    followedFormula_ = picture.formula->index;
    if (picture.formula->text && formulaEditor_)
        formulaEditor_->setText(QString::fromUtf8(picture.formula->text));
}

void MainWindow::startFormula(int index) {
    if (ending_ || drawingDepth_ >= kMaxNestedDrawings || index < 0)
        return;
    const formulas::Formula* known = nullptr;
    try {
        known = &formulas::formulaAt(index);
    } catch (const std::out_of_range&) {
        return;
    }
    // A gesture still waiting for its pause is kept first, as a step back does.
    explorer_->settlePending();
    haltFlag_.clear();
    explorer_->cancel();
    highlightFormula(index);

    const formulas::Formula& formula = *known;
    const boxes::BoxTexts texts = boxes_.texts();
    const drawing::ViewParams view = drawing::readView(formula, texts); // may overflow
    // The picture a save takes is the latest drawing's, as far as it shows.
    const QRect area = pictureArea(view, canvas_->shownSize());
    if (!area.isEmpty()) {
        setPicture({&formula, texts, area});
        rememberLatestView();
    }
    const int started = ++drawingsStarted_;
    {
        const DepthCount nested(drawingDepth_);
        drawing::drawFormula(formula, view, *canvas_, haltFlag_, computing_);
    }
    canvas_->flush();
    // Complete, and painted over by no other drawing: the canvas shows the
    // picture exactly, and exploring can keep its pixels.
    if (!area.isEmpty() && !haltFlag_.isRequested() && drawingsStarted_ == started)
        explorer_->setPicture(picture_, true);
}

void MainWindow::highlightFormula(int index) {
    std::vector<ColourButton*> buttons(formulaButtons_.begin(), formulaButtons_.end());
    buttons.push_back(ownFormulaButton_);
    for (ColourButton* button : buttons)
        button->setBackground(palette::kFormulaButton);
    // A formula written as text is the own formula button's.
    buttons[std::size_t(std::min(index, formulas::kFormulaCount))]->setBackground(
        textColour(zoomLabel_));
    for (ColourButton* button : buttons)
        button->repaint();
}

void MainWindow::editBoxes(BoxEdit edit) {
    boxes::BoxTexts texts = boxes_.texts();
    edit(texts); // an overflow throws before the boxes change
    boxes_.write(texts);
}

void MainWindow::halt() {
    haltFlag_.request();
    explorer_->cancel();
}

void MainWindow::reset() {
    haltFlag_.request();
    explorer_->cancel();
    editBoxes(boxes::resetBoxes);
    canvas_->clear();
    setPicture({});
}

void MainWindow::restoreExitColours() {
    setTextColour(exitArrowLabel_, palette::kExitArrowRested);
    setTextColour(exitLabel_, savedExitColour_);
}

// Every drawing in progress, however deeply nested, sees the halt right after
// its current yield and returns without another column; then the event loop ends.
void MainWindow::endTheProgram() {
    if (ending_)
        return;
    ending_ = true;
    haltFlag_.request();
    explorer_->cancel();
    pictureExport_->endQuietly();
    animationExport_->endQuietly();
    exitColourTimer_->stop();
    hide();
    endProgram_();
}

} // namespace spirell::app
