#include "app/MainWindow.hpp"

#include "ProgramInfo.hpp"
#include "render/DrawingFrame.hpp"
#include "render/ViewParams.hpp"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <cmath>

namespace spirell {

namespace {

const QColor kFormBackground(64, 64, 64);
const QColor kFrameColour(160, 160, 160);
const QColor kFormulaButtonGrey(128, 128, 128);
const QColor kBoxText(255, 128, 128);
const QColor kBoxBackground(64, 0, 0);
const QColor kExitBlue(0, 0, 255);
const QColor kExitHover(0, 128, 255);
const QColor kLightGrey(192, 192, 192); // palette colour 7
const QColor kWhite(255, 255, 255);     // palette colour 15

enum class Face { Form, Verdana, MsSansSerif, CourierNew };

struct Typeface {
    Face face = Face::Form;
    double points = 8.25;
    bool bold = true;
};

// The window's own font, for controls that name none.
constexpr Typeface kFormFont{Face::MsSansSerif, 8.25, true};

// Where a named family is missing, the closest installed one stands in:
// DejaVu Sans descends from the same design as Verdana.
QStringList familiesFor(Face face) {
    switch (face) {
    case Face::Verdana:
        return {"Verdana", "DejaVu Sans"};
    case Face::CourierNew:
        return {"Courier New", "Liberation Mono", "DejaVu Sans Mono"};
    case Face::Form:
    case Face::MsSansSerif:
        break;
    }
    return {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"};
}

// Sizes are points on a 96 dpi screen, kept in pixels so that the layout holds
// on any screen.
QFont fontFor(Typeface type) {
    if (type.face == Face::Form)
        type = kFormFont;
    QFont font;
    font.setFamilies(familiesFor(type.face));
    font.setPixelSize(static_cast<int>(std::lround(type.points * 96 / 72)));
    font.setBold(type.bold);
    return font;
}

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

qTac::qTac(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      endProgram_([] { QCoreApplication::exit(0); }) {
    setObjectName("qTac");
    setWindowTitle(QString());
    setWindowIcon(QIcon(kIconResource));
    // A one-pixel border around the client area takes the place of a frame.
    setFixedSize(kClientWidth + 2, kClientHeight + 2);
    client_ = new QWidget(this);
    client_->setGeometry(1, 1, kClientWidth, kClientHeight);
    canvas_ = new Canvas(client_->size(), kFormBackground, client_);
    createControls();
    setTabOrder();
    createActions();
    boxes_.TextThree->setFocus();

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &qTac::Timer1_Timer);
    Timer1->start();
}

void qTac::createControls() {
    // Each control is named after its handler's control, so that tests and
    // accessibility tools can find it.
    const auto button = [&](const QString& name, const QString& caption, QColor background,
                            Typeface type, QRect place, const QString& tooltip = {}) {
        auto* b = new ColourButton(caption, background, client_);
        b->setObjectName(name);
        b->setFont(fontFor(type));
        b->setGeometry(place);
        b->setToolTip(tooltip);
        return b;
    };
    const auto label = [&](const QString& name, const QString& caption, QColor text, Typeface type,
                           QRect place, const QString& tooltip = {},
                           QColor background = kFormBackground) {
        auto* l = new ClickableLabel(caption, client_);
        l->setObjectName(name);
        l->setFont(fontFor(type));
        l->setGeometry(place);
        l->setToolTip(tooltip);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setAutoFillBackground(true);
        QPalette palette = l->palette();
        palette.setColor(QPalette::Window, background);
        palette.setColor(QPalette::WindowText, text);
        l->setPalette(palette);
        return l;
    };
    const auto box = [&](const QString& name, const QString& text, Typeface type, QRect place,
                         const QString& tooltip) {
        auto* b = new QLineEdit(text, client_);
        b->setObjectName(name);
        b->setFont(fontFor(type));
        b->setGeometry(place);
        b->setToolTip(tooltip);
        QPalette palette = b->palette();
        palette.setColor(QPalette::Text, kBoxText);
        palette.setColor(QPalette::Base, kBoxBackground);
        b->setPalette(palette);
        return b;
    };
    const Typeface form{};
    const Typeface verdana12{Face::Verdana, 12, true};
    const Typeface verdana975{Face::Verdana, 9.75, true};
    const Typeface verdana825{Face::Verdana, 8.25, true};
    const Typeface sans135{Face::MsSansSerif, 13.5, true};
    const QColor black(0, 0, 0);

    // Backdrops first, so that everything else lies on top of them.
    Label3 = label("Label3", {}, black, form, {8, 88, 137, 184}, {}, black);
    Label10 = label("Label10", {}, black, form, {8, 312, 137, 773}, {}, black);
    Label13 = label("Label13", "Label13", black, {Face::MsSansSerif, 8.25, false},
                    {0, 992, 1273, 33}, {}, black);

    Label1 = label("Label1", "x", QColor(128, 128, 255), sans135, {1256, 0, 25, 33}, "exit");
    SavedExitColour = textColour(Label1); // until the first activation saves it
    Label7 = label("Label7", "-", QColor(128, 128, 255), sans135, {1240, 0, 17, 25}, "minimize");
    Label4 = label("Label4", "<", QColor(255, 0, 0), {Face::MsSansSerif, 12, true}, {8, 4, 17, 17},
                   "  Exit  ");
    Label2 = label("Label2", "exit", QColor(192, 0, 0), form, {24, 8, 33, 17});
    Label17 = label("Label17", "X", kBoxText, {Face::Verdana, 18, true}, {356, 4, 20, 25});
    Label8 = label("Label8", "OOM", kBoxText, {Face::Verdana, 11.25, true}, {376, 8, 41, 17});
    Label5 = label("Label5", "VORTICA SPIRELL", kFormulaButtonGrey, verdana825, {568, 8, 223, 25});
    Label6 = label("Label6", QStringLiteral("VERSION   ") + kVersion, kFormulaButtonGrey,
                   verdana825, {832, 8, 167, 25});
    Label9[1] = label("Label9_1", "side", QColor(128, 255, 255), form, {96, 126, 41, 17});
    Label9[2] = label("Label9_2", "zero point", QColor(128, 255, 255), form, {16, 144, 65, 17});
    Label9[0] = label("Label9_0", "brightness", kWhite, form, {16, 250, 65, 17});

    boxes_.TextFour = box("TextFour", "1", verdana975, {76, 5, 273, 24},
                          "  Set the Xoom to a frcation to xoom into the spirell,  ");
    boxes_.TextThree = box("TextThree", "150", form, {16, 120, 59, 19}, "Size of image");
    boxes_.TextTwo = box("TextTwo", "1", form, {16, 180, 73, 19}, "Move image up or down");
    boxes_.TextOne = box("TextOne", "1", form, {16, 200, 73, 19}, "Move image left or right");
    boxes_.Textfive =
        box("Textfive", "150", form, {80, 248, 57, 19}, "Vary the brightness of colour");
    for (QLineEdit* box :
         {boxes_.TextOne, boxes_.TextTwo, boxes_.TextThree, boxes_.TextFour, boxes_.Textfive})
        box->installEventFilter(this);

    for (const Formula& formula : formulaCatalogue()) {
        const int index = formula.index;
        CMD[index] = button(QString("CMD%1").arg(index), formula.caption, kFormulaButtonGrey,
                            verdana12, {24, 320 + 32 * index, 105, 25});
        connect(CMD[index], &QPushButton::clicked, this, [this, index] { CMD_Click(index); });
    }
    cmdstop = button("cmdstop", "halt !", QColor(64, 143, 255), verdana975, {80, 280, 65, 25});
    Command3 = button("Command3", "reset", QColor(64, 96, 192), verdana975, {8, 280, 65, 25});
    cmd1 = button("cmd1", "S", QColor(0, 255, 255), form, {16, 94, 24, 22}, "  Small  ");
    cmdb = button("cmdb", "M", QColor(128, 255, 255), {Face::MsSansSerif, 9.75, true},
                  {40, 94, 36, 25}, "  Medium  ");
    Command4 = button("Command4", "L", QColor(192, 255, 255), {Face::MsSansSerif, 18, true},
                      {76, 94, 60, 33}, "  Large  ");
    cmdXX[0] = button("cmdXX0", "<", QColor(144, 192, 255), form, {16, 36, 60, 45}, "Log Xoom");
    cmdXX[1] = button("cmdXX1", ">", QColor(144, 192, 255), form, {76, 36, 61, 45}, "Log Xoom");
    cmdXX[2] = button("cmdXX2", ">>", QColor(0, 192, 192), form, {1144, 0, 53, 20}, "Log Xoom");
    cmdXX[3] = button("cmdXX3", "<<", QColor(0, 192, 192), form, {1088, 0, 53, 20}, "Log Xoom");
    verty[1] = button("verty1", "^", QColor(128, 176, 255), {Face::Verdana, 14.25, true},
                      {88, 150, 49, 26});
    verty[0] = button("verty0", "V", QColor(128, 176, 255), {Face::CourierNew, 14.25, true},
                      {88, 176, 49, 26});
    horz[1] = button("horz1", "<", QColor(64, 160, 192), form, {88, 202, 25, 36});
    horz[0] = button("horz0", ">", QColor(64, 160, 192), form, {112, 202, 25, 36});
    cmdblue[0] = button("cmdblue0", "x", QColor(96, 144, 224), form, {16, 160, 36, 20});
    cmdblue[1] = button("cmdblue1", "/", QColor(96, 144, 224), form, {52, 160, 36, 20});
    cmdblue[2] = button("cmdblue2", "x", QColor(64, 128, 160), form, {16, 218, 36, 20});
    cmdblue[3] = button("cmdblue3", "/", QColor(64, 128, 160), form, {52, 218, 36, 20});
    Command1 = button("Command1", kMakerHost, QColor(96, 160, 255), {Face::Verdana, 8.25, false},
                      {992, 8, 193, 22});

    // The two outer zoom buttons are never shown.
    cmdXX[2]->hide();
    cmdXX[3]->hide();

    connect(cmdstop, &QPushButton::clicked, this, &qTac::cmdstop_Click);
    connect(Command3, &QPushButton::clicked, this, &qTac::Command3_Click);
    connect(cmd1, &QPushButton::clicked, this, &qTac::cmd1_Click);
    connect(cmdb, &QPushButton::clicked, this, &qTac::cmdb_Click);
    connect(Command4, &QPushButton::clicked, this, &qTac::Command4_Click);
    connect(Command1, &QPushButton::clicked, this, &qTac::Command1_Click);
    for (int i = 0; i < 4; ++i) {
        connect(cmdXX[i], &QPushButton::clicked, this, [this, i] { cmdXX_Click(i); });
        connect(cmdblue[i], &QPushButton::clicked, this, [this, i] { cmdblue_Click(i); });
    }
    for (int i = 0; i < 2; ++i) {
        connect(verty[i], &QPushButton::clicked, this, [this, i] { verty_Click(i); });
        connect(horz[i], &QPushButton::clicked, this, [this, i] { horz_Click(i); });
    }
    connect(Label1, &ClickableLabel::clicked, this, &qTac::Label1_Click);
    connect(Label2, &ClickableLabel::clicked, this, &qTac::Label2_Click);
    connect(Label4, &ClickableLabel::clicked, this, &qTac::Label4_Click);
    connect(Label7, &ClickableLabel::clicked, this, &qTac::Label7_Click);
    connect(Label17, &ClickableLabel::clicked, this, &qTac::Label17_Click);
    connect(Label8, &ClickableLabel::clicked, this, &qTac::Label8_Click);
    connect(Label1, &ClickableLabel::mouseMoved, this, &qTac::Label1_MouseMove);
    connect(Label4, &ClickableLabel::mouseMoved, this, &qTac::Label4_MouseMove);
}

void qTac::setTabOrder() {
    std::vector<QWidget*> order{boxes_.TextThree, boxes_.TextTwo, boxes_.TextOne, boxes_.Textfive,
                                Command3};
    for (int i = 0; i <= 8; ++i)
        order.push_back(CMD[i]);
    order.insert(order.end(), {boxes_.TextFour, CMD[9], CMD[10], cmdstop});
    for (int i = 11; i <= 16; ++i)
        order.push_back(CMD[i]);
    order.insert(order.end(), {cmd1, cmdb, Command4, CMD[17], cmdXX[0], cmdXX[1], verty[0],
                               verty[1], horz[0], horz[1], cmdXX[2], cmdXX[3]});
    order.insert(order.end(), cmdblue.begin(), cmdblue.end());
    order.insert(order.end(), {Command1, CMD[18]});
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

bool qTac::event(QEvent* event) {
    // The start-up steps belong to the first activation only: repeated on a
    // switch back from another program, they would save the blue they set as
    // the exit label's own colour.
    if (event->type() == QEvent::WindowActivate && !activatedBefore_) {
        activatedBefore_ = true;
        Form_Activate();
    }
    return QWidget::event(event);
}

void qTac::createActions() {
    const auto action = [this](const char* name, const QString& text, const QKeySequence& keys) {
        auto* a = new QAction(text, this);
        a->setObjectName(name);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
        return a;
    };
    haltAction_ = action("haltAction", "Halt", Qt::Key_Escape);
    quitAction_ = action("quitAction", "Quit", Qt::CTRL | Qt::Key_Q);
    saveImageAction_ = action("saveImageAction", "Save image...", Qt::CTRL | Qt::Key_S);
    copyImageAction_ = action("copyImageAction", "Copy image", Qt::CTRL | Qt::Key_C);
    savePosterAction_ =
        action("savePosterAction", "Save poster...", Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    connect(haltAction_, &QAction::triggered, this, &qTac::cmdstop_Click);
    connect(quitAction_, &QAction::triggered, this, &qTac::endTheProgram);
    connect(copyImageAction_, &QAction::triggered, this, &qTac::copyImage);
    connect(canvas_, &Canvas::menuRequested, this, &qTac::showPictureMenu);
    setPicture({});
}

void qTac::showPictureMenu(const QPoint& globalPosition) {
    QMenu menu(this);
    menu.addAction(saveImageAction_);
    menu.addAction(copyImageAction_);
    menu.addAction(savePosterAction_);
    menu.exec(globalPosition);
}

void qTac::setPicture(const DrawnPicture& picture) {
    picture_ = picture;
    canvas_->setPictureArea(picture.area);
    const bool drawn = picture.formula && !picture.area.isEmpty();
    for (QAction* action : {saveImageAction_, copyImageAction_, savePosterAction_})
        action->setEnabled(drawn);
}

QImage qTac::picture() const {
    if (!picture_.formula || picture_.area.isEmpty())
        return {};
    return canvas_->image().copy(picture_.area);
}

void qTac::copyImage() {
    const QImage image = picture();
    if (!image.isNull())
        QGuiApplication::clipboard()->setImage(image);
}

// Closing through the window manager (Alt+F4, the task bar) ends the program
// as the "x" label does: every drawing stops after its current column.
void qTac::closeEvent(QCloseEvent* event) {
    endTheProgram();
    event->accept();
}

// A press on the background, wherever no control or picture takes it, moves
// the frameless window.
void qTac::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
}

bool qTac::eventFilter(QObject* watched, QEvent* event) {
    // In a box, Ctrl+C copies the selected text; with nothing selected it is
    // the window's Copy image.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* box = qobject_cast<QLineEdit*>(watched);
        if (box && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy) &&
            !box->hasSelectedText())
            return true;
    }
    // Switching to another program or opening a menu is not leaving the box.
    if (watched == boxes_.TextThree && event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            TextThree_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

void qTac::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(kFrameColour);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

// --- Drawing -------------------------------------------------------------

void qTac::CMD_Click(int Index) {
    if (ending_ || drawingDepth_ >= kMaxNestedDrawings)
        return;
    HaltFlag_.clear();
    for (ColourButton* button : CMD)
        button->setBackground(kFormulaButtonGrey);
    CMD[Index]->setBackground(textColour(Label17));
    for (ColourButton* button : CMD)
        button->repaint();

    const Formula& formula = formulaCatalogue()[Index];
    const BoxTexts texts = boxes_.texts();
    ViewParams view;
    try {
        view = readView(formula, texts);
    } catch (const RuntimeError& error) {
        showRuntimeError(error);
        return;
    }
    // The picture a save takes is the latest drawing's, as far as it shows.
    const QRect area(kImageLeft + 1, kImageTop + 1,
                     int(columnRange(view).count(canvas_->width() - kImageLeft - 1)),
                     int(rowRange(view).count(canvas_->height() - kImageTop - 1)));
    if (!area.isEmpty())
        setPicture({&formula, texts, area});
    {
        const DepthCount nested(drawingDepth_);
        drawFormula(formula, view, *canvas_, HaltFlag_);
    }
    canvas_->flush();
}

void qTac::cmdstop_Click() {
    HaltFlag_.request();
}

// --- Parameter panel -----------------------------------------------------

void qTac::editBoxes(const std::function<void(BoxTexts&)>& edit) {
    BoxTexts texts = boxes_.texts();
    try {
        edit(texts);
    } catch (const RuntimeError& error) {
        showRuntimeError(error);
        return;
    }
    boxes_.write(texts);
}

void qTac::cmd1_Click() {
    editBoxes([](BoxTexts& b) { applyPreset(Preset::Small, b); });
}
void qTac::cmdb_Click() {
    editBoxes([](BoxTexts& b) { applyPreset(Preset::Medium, b); });
}
void qTac::Command4_Click() {
    editBoxes([](BoxTexts& b) { applyPreset(Preset::Large, b); });
}

void qTac::Command3_Click() {
    HaltFlag_.request();
    editBoxes(resetBoxes);
    canvas_->clear();
    setPicture({});
}

void qTac::TextThree_LostFocus() {
    editBoxes([](BoxTexts& b) { checkSize(b); });
}

void qTac::horz_Click(int Index) {
    editBoxes([Index](BoxTexts& b) {
        shiftView(Index == 0 ? ShiftButton::Right : ShiftButton::Left, b);
    });
}

void qTac::verty_Click(int Index) {
    editBoxes(
        [Index](BoxTexts& b) { shiftView(Index == 0 ? ShiftButton::Down : ShiftButton::Up, b); });
}

void qTac::cmdblue_Click(int Index) {
    editBoxes([Index](BoxTexts& b) { scalePosition(static_cast<ScaleButton>(Index), b); });
}

void qTac::cmdXX_Click(int Index) {
    editBoxes([Index](BoxTexts& b) { zoomView(static_cast<ZoomButton>(Index), b); });
}

void qTac::Label17_Click() {
    editBoxes([](BoxTexts& b) { zoomView(ZoomButton::Halve, b); });
}
void qTac::Label8_Click() {
    editBoxes([](BoxTexts& b) { zoomView(ZoomButton::Double, b); });
}

// --- Window labels, timer and web link -------------------------------------

void qTac::Form_Activate() {
    SavedExitColour = textColour(Label1);
    setTextColour(Label1, kExitBlue);
}

void qTac::Label1_Click() {
    endTheProgram();
}
void qTac::Label2_Click() {
    endTheProgram();
}
void qTac::Label4_Click() {
    endTheProgram();
}

void qTac::Label7_Click() {
    setWindowState(windowState() | Qt::WindowMinimized);
}

void qTac::Label1_MouseMove() {
    setTextColour(Label1, kExitHover);
}
void qTac::Label4_MouseMove() {
    setTextColour(Label4, kWhite);
}

void qTac::Timer1_Timer() {
    setTextColour(Label4, kLightGrey);
    setTextColour(Label1, SavedExitColour);
}

void qTac::Command1_Click() {
    webLink_.open(this);
}

// Every drawing in progress, however deeply nested, sees the halt right after
// its current yield and returns without another column; then the event loop ends.
void qTac::endTheProgram() {
    if (ending_)
        return;
    ending_ = true;
    HaltFlag_.request();
    Timer1->stop();
    hide();
    endProgram_();
}

void qTac::showRuntimeError(const RuntimeError& error) {
    QMessageBox::critical(
        this, kProgramName,
        QString("Run-time error '%1':\n\n%2").arg(error.number()).arg(error.what()));
}

} // namespace spirell
