#include "ProgramInfo.hpp"
#include "app/AnimationDialog.hpp"
#include "app/MainWindow.hpp"
#include "app/PosterDialog.hpp"
#include "app/RememberedFolders.hpp"
#include "app/StartupOptions.hpp"
#include "support/MessageBoxWatcher.hpp"
#include "support/RecordingSurface.hpp"
#include "support/RendererRuns.hpp"
#include "support/TestPrinting.hpp"

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define SPIRELL_SANITIZED_ALLOCATIONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SPIRELL_SANITIZED_ALLOCATIONS 1
#endif
#endif

namespace {

// Running out of memory on purpose: the next allocation through operator new
// of exactly this many bytes throws std::bad_alloc, once. Sanitizers bring
// their own operator new, so there the tests that need this are skipped.
std::atomic<std::size_t> failingAllocationSize{0};

#ifdef SPIRELL_SANITIZED_ALLOCATIONS
constexpr bool kCanFailAllocations = false;
#else
constexpr bool kCanFailAllocations = true;
#endif

} // namespace

#ifndef SPIRELL_SANITIZED_ALLOCATIONS
// The standard library's operator delete frees with free(), so this only
// needs to allocate as the standard one does.
void* operator new(std::size_t size) {
    std::size_t armed = size;
    if (size != 0 && failingAllocationSize.compare_exchange_strong(armed, 0))
        throw std::bad_alloc();
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}
#endif

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::formulas;
using namespace spirell::drawing;
using namespace spirell::image;
using namespace spirell::app;
using namespace spirell::testing;

namespace {

const QRgb kBackground = qRgb(64, 64, 64);

template <typename T = QWidget> T* child(const MainWindow& window, const QString& name) {
    T* widget = window.findChild<T*>(name);
    if (!widget)
        qFatal("no control named %s", qPrintable(name));
    return widget;
}

QColor buttonColour(const QWidget* button) {
    return button->palette().color(QPalette::Button);
}
QColor textColour(const QWidget* label) {
    return label->palette().color(QPalette::WindowText);
}

// Runs a click during the next yield of a drawing.
void duringTheDrawing(std::function<void()> action) {
    QTimer::singleShot(0, std::move(action));
}

void setBoxes(MainWindow& window, const BoxTexts& texts) {
    window.boxes().write(texts);
}

// Compares the window's image area with what the frame draws for the same boxes.
void compareWithFrame(const MainWindow& window, const BoxTexts& texts) {
    const Formula& aries = *findFormula("aries");
    const testing::RecordingSurface expected = testing::drawFromBoxes(aries, texts);
    QVERIFY(!expected.pixels.empty());
    const QImage image = window.canvas()->image();
    for (const auto& [position, colour] : expected.latest) {
        const int x = kPictureLeft + position.first;
        const int y = kPictureTop + position.second;
        if (x >= image.width() || y >= image.height())
            continue;
        if (image.pixel(x, y) != qRgb(colour.red, colour.green, colour.blue))
            QFAIL(qPrintable(QString("pixel (%1, %2) differs").arg(x).arg(y)));
    }
}

int columnsWithDrawing(const QImage& image) {
    int columns = 0;
    for (int x = kPictureLeft; x < image.width(); ++x)
        columns += image.pixel(x, kPictureTop) != kBackground;
    return columns;
}

} // namespace

using Steps = QStringList;

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowIsFramelessAtItsSize();
    void controls_data();
    void controls();
    void tabOrderFollowsTheForm();
    void buttonsEditTheBoxes_data();
    void buttonsEditTheBoxes();
    void sizeIsCheckedWhenTheBoxLosesFocus_data();
    void sizeIsCheckedWhenTheBoxLosesFocus();
    void rippleDrawsWhatTheFrameComputes_data();
    void rippleDrawsWhatTheFrameComputes();
    void formulaClickHighlightsItsButton();
    void stoppingADrawing_data();
    void stoppingADrawing();
    void thousandsOfQueuedClicksNestOnlySoDeep();
    void imageSurvivesARepaint();
    void exitColoursAfterActivationTimerAndHover();
    void switchingBackDoesNotRepeatTheStartUpSteps();
    void endingLabelDuringADrawing();
    void endingTheProgramDuringADrawingExitsWithStatusZero_data();
    void endingTheProgramDuringADrawingExitsWithStatusZero();
    void keysAndPictureActions();
    void saveAndCopyMatchTheLatestPicture_data();
    void saveAndCopyMatchTheLatestPicture();
    void posters_data();
    void posters();
    void lateCancel_data();
    void lateCancel();
    void savesToAWaitingFifoCanBeCancelled_data();
    void savesToAWaitingFifoCanBeCancelled();
    void pictureFileJobRunsOnlyOnceStarted();
    void fileDialogsRememberTheirFolder_data();
    void fileDialogsRememberTheirFolder();
    void finishedTasksOutliveTheirSignal_data();
    void finishedTasksOutliveTheirSignal();
    void posterThatFailsAtOnceIsHeard_data();
    void posterThatFailsAtOnceIsHeard();
    void failuresInSlotsShowOneMessage_data();
    void failuresInSlotsShowOneMessage();
    void pressesOnTheBackgroundGoToTheWindow_data();
    void pressesOnTheBackgroundGoToTheWindow();
    void webLink_data();
    void webLink();
    void unusableComputingChoiceRefusesToStart_data();
    void unusableComputingChoiceRefusesToStart();
    void drawingsComputeAsTheWindowWasTold_data();
    void drawingsComputeAsTheWindowWasTold();
    void windowProgramCleansUpAfterSignals_data();
    void windowProgramCleansUpAfterSignals();
    void settingsLiveUnderTheProgramsName();

private:
    std::unique_ptr<MainWindow> window_;
};

void WindowTest::initTestCase() {
    // The suite runs once more under a decimal-comma locale, which Qt puts in
    // force from the environment; make sure it really is.
    if (qEnvironmentVariableIsSet("SPIRELL_EXPECT_DECIMAL_COMMA"))
        QCOMPARE(QString(std::localeconv()->decimal_point), QString(","));
}

void WindowTest::init() {
    window_ = std::make_unique<MainWindow>(computingFromEnvironment());
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void WindowTest::cleanup() {
    window_.reset();
}

void WindowTest::windowIsFramelessAtItsSize() {
    QVERIFY(window_->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window_->size(), QSize(1274, 1018));
    QCOMPARE(window_->canvas()->mapTo(window_.get(), QPoint(0, 0)), QPoint(1, 1));
    QCOMPARE(window_->canvas()->size(), QSize(1272, 1016));
    QVERIFY(window_->windowTitle().isEmpty());
    QVERIFY(!window_->windowIcon().isNull());
}

void WindowTest::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("tooltip");
    QTest::addColumn<bool>("visible");
    // A button's or a box's background, a label's text.
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<double>("points");
    const QStringList captions{"ripple", "ember",   "lantern", "pebble", "thistle",
                               "fickle", "marble",  "cinder",  "nettle", "bramble",
                               "quartz", "saffron", "gravel",  "ooh",    "kestrel",
                               "quest",  "ochre",   "velvet",  "walnut"};
    for (int i = 0; i < 19; ++i)
        QTest::addRow("CMD%d", i) << QString("CMD%1").arg(i) << captions[i]
                                  << QRect(24, 320 + 32 * i, 105, 25) << "" << true
                                  << QColor(128, 128, 128) << 12.0;
    const auto row = [](const char* name, const char* text, QRect place, QColor colour,
                        double points, const char* tip = "", bool visible = true) {
        QTest::newRow(name) << name << text << place << tip << visible << colour << points;
    };
    row("cmdstop", "halt !", {80, 280, 65, 25}, {64, 143, 255}, 9.75);
    row("Command3", "reset", {8, 280, 65, 25}, {64, 96, 192}, 9.75);
    row("cmd1", "S", {16, 94, 24, 22}, {0, 255, 255}, 8.25, "  Small  ");
    row("cmdb", "M", {40, 94, 36, 25}, {128, 255, 255}, 9.75, "  Medium  ");
    row("Command4", "L", {76, 94, 60, 33}, {192, 255, 255}, 18.0, "  Large  ");
    row("cmdXX0", "<", {16, 36, 60, 45}, {144, 192, 255}, 8.25, "Log Xoom");
    row("cmdXX1", ">", {76, 36, 61, 45}, {144, 192, 255}, 8.25, "Log Xoom");
    row("cmdXX2", ">>", {1144, 0, 53, 20}, {0, 192, 192}, 8.25, "Log Xoom", false);
    row("cmdXX3", "<<", {1088, 0, 53, 20}, {0, 192, 192}, 8.25, "Log Xoom", false);
    row("verty1", "^", {88, 150, 49, 26}, {128, 176, 255}, 14.25);
    row("verty0", "V", {88, 176, 49, 26}, {128, 176, 255}, 14.25);
    row("horz1", "<", {88, 202, 25, 36}, {64, 160, 192}, 8.25);
    row("horz0", ">", {112, 202, 25, 36}, {64, 160, 192}, 8.25);
    row("cmdblue0", "x", {16, 160, 36, 20}, {96, 144, 224}, 8.25);
    row("cmdblue1", "/", {52, 160, 36, 20}, {96, 144, 224}, 8.25);
    row("cmdblue2", "x", {16, 218, 36, 20}, {64, 128, 160}, 8.25);
    row("cmdblue3", "/", {52, 218, 36, 20}, {64, 128, 160}, 8.25);
    row("Command1", kHomepageHost, {992, 8, 193, 22}, {96, 160, 255}, 8.25);
    row("CmdOwn", "your own...", {24, 928, 105, 25}, {128, 128, 128}, 9.75,
        "  A formula of your own (Ctrl+E)  ");
    row("TextFour", "1", {76, 5, 273, 24}, {64, 0, 0}, 9.75,
        "  Set the Xoom to a frcation to xoom into the spirell,  ");
    row("TextThree", "150", {16, 120, 59, 19}, {64, 0, 0}, 8.25, "Size of image");
    row("TextTwo", "1", {16, 180, 73, 19}, {64, 0, 0}, 8.25, "Move image up or down");
    row("TextOne", "1", {16, 200, 73, 19}, {64, 0, 0}, 8.25, "Move image left or right");
    row("Textfive", "150", {80, 248, 57, 19}, {64, 0, 0}, 8.25, "Vary the brightness of colour");
    row("Label1", "x", {1256, 0, 25, 33}, {0, 0, 255}, 13.5, "exit"); // blue once activated
    row("Label7", "-", {1240, 0, 17, 25}, {128, 128, 255}, 13.5, "minimize");
    row("Label4", "<", {8, 4, 17, 17}, {255, 0, 0}, 12.0, "  Exit  ");
    row("Label2", "exit", {24, 8, 33, 17}, {192, 0, 0}, 8.25);
    row("Label17", "X", {356, 4, 20, 25}, {255, 128, 128}, 18.0);
    row("Label8", "OOM", {376, 8, 41, 17}, {255, 128, 128}, 11.25);
    row("Label5", "VORTICA SPIRELL", {568, 8, 223, 25}, {128, 128, 128}, 8.25);
    row("Label6", kVersionCaption, {832, 8, 167, 25}, {128, 128, 128}, 8.25);
    row("Label9_1", "side", {96, 126, 41, 17}, {128, 255, 255}, 8.25);
    row("Label9_2", "zero point", {16, 144, 65, 17}, {128, 255, 255}, 8.25);
    row("Label9_0", "brightness", {16, 250, 65, 17}, {255, 255, 255}, 8.25);
    row("Label3", "", {8, 88, 137, 184}, {0, 0, 0}, 8.25);
    row("Label10", "", {8, 312, 137, 773}, {0, 0, 0}, 8.25);
    row("Label13", "Label13", {0, 992, 1273, 33}, {0, 0, 0}, 8.25);
}

void WindowTest::controls() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, place);
    QFETCH(QString, tooltip);
    QFETCH(bool, visible);
    QFETCH(QColor, colour);
    QFETCH(double, points);
    QWidget* control = child(*window_, name);
    QCOMPARE(control->property("text").toString(), text);
    const QPalette::ColorRole role = qobject_cast<QPushButton*>(control) ? QPalette::Button
                                     : qobject_cast<QLineEdit*>(control) ? QPalette::Base
                                                                         : QPalette::WindowText;
    QCOMPARE(control->palette().color(role), colour);
    QCOMPARE(control->font().pixelSize(), qRound(points * 96 / 72));
    QCOMPARE(control->geometry(), place);
    QCOMPARE(control->toolTip(), tooltip);
    QCOMPARE(control->isVisible(), visible);
}

// Tab walks the controls in the form's order, passing over the hidden zoom
// buttons, and comes back round to the size box.
void WindowTest::tabOrderFollowsTheForm() {
    QCOMPARE(QApplication::focusWidget(), child(*window_, "TextThree"));
    QStringList expected{"TextTwo", "TextOne", "Textfive", "Command3"};
    for (int i = 0; i <= 8; ++i)
        expected << QString("CMD%1").arg(i);
    expected << QString("TextFour CMD9 CMD10 cmdstop").split(' ');
    for (int i = 11; i <= 16; ++i)
        expected << QString("CMD%1").arg(i);
    expected << QString("cmd1 cmdb Command4 CMD17 cmdXX0 cmdXX1 verty0 verty1 horz0 horz1 "
                        "cmdblue0 cmdblue1 cmdblue2 cmdblue3 Command1 CMD18 CmdOwn TextThree")
                    .split(' ');
    for (const QString& name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
}

void WindowTest::buttonsEditTheBoxes_data() {
    QTest::addColumn<Steps>("clicks");
    QTest::addColumn<BoxTexts>("after");
    QTest::newRow("S") << Steps{"cmd1"} << boxTexts("1", "1", "300", "1", "150");
    QTest::newRow("M") << Steps{"cmdb"} << boxTexts("-250", "-250", "500", "0.2", "150");
    QTest::newRow("L") << Steps{"Command4"} << boxTexts("1", "1", "768", "0.15", "150");
    QTest::newRow("reset") << Steps{"cmdb", "Command3"} << boxTexts("1", "1", "100", "1", "150");
    QTest::newRow("> then <") << Steps{"horz0", "horz1"} << boxTexts("1", "1", "150", "1", "150");
    QTest::newRow(">") << Steps{"horz0"} << boxTexts("251", "1", "150", "1", "150");
    QTest::newRow("^") << Steps{"verty1"} << boxTexts("1", "-249", "150", "1", "150");
    QTest::newRow("V") << Steps{"verty0"} << boxTexts("1", "251", "150", "1", "150");
    QTest::newRow("upper / and x")
        << Steps{"cmdblue1", "cmdblue1", "cmdblue0"} << boxTexts("1", "0.5", "150", "1", "150");
    QTest::newRow("M then lower x")
        << Steps{"cmdb", "cmdblue2"} << boxTexts("-500", "-250", "500", "0.2", "150");
    QTest::newRow("lower /") << Steps{"cmdblue3"} << boxTexts("0.5", "1", "150", "1", "150");
    QTest::newRow("zoom <") << Steps{"cmdXX0"} << boxTexts("1", "1", "150", "2", "150");
    QTest::newRow("zoom > thrice")
        << Steps{"cmdXX1", "cmdXX1", "cmdXX1"} << boxTexts("1", "1", "150", "0.125", "150");
    QTest::newRow("L then X") << Steps{"Command4", "Label17"}
                              << boxTexts("1", "1", "768", "0.075", "150");
    QTest::newRow("M then OOM") << Steps{"cmdb", "Label8"}
                                << boxTexts("-250", "-250", "500", "0.4", "150");
    QTest::newRow("hidden >>") << Steps{"cmdXX2"} << boxTexts("75", "75", "150", "0.5", "150");
    QTest::newRow("hidden <<") << Steps{"cmdXX3"} << boxTexts("300", "300", "150", "2", "150");
}

void WindowTest::buttonsEditTheBoxes() {
    QFETCH(Steps, clicks);
    QFETCH(BoxTexts, after);
    for (const QString& name : clicks) {
        QWidget* control = child(*window_, name);
        if (auto* button = qobject_cast<QPushButton*>(control))
            button->click(); // also reaches the two hidden buttons
        else
            QTest::mouseClick(control, Qt::LeftButton);
    }
    QCOMPARE(window_->boxes().texts(), after);
}

void WindowTest::sizeIsCheckedWhenTheBoxLosesFocus_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    for (const char* out : {"2000", "0", "0.5", "-3", "abc", ""})
        QTest::newRow(out) << out << "100";
    for (const char* in : {"1024", "1.5"})
        QTest::newRow(in) << in << in;
}

void WindowTest::sizeIsCheckedWhenTheBoxLosesFocus() {
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    auto* size = child<QLineEdit>(*window_, "TextThree");
    size->setFocus();
    size->selectAll();
    QTest::keyClicks(size, typed);
    if (typed.isEmpty())
        QTest::keyClick(size, Qt::Key_Delete);
    QCOMPARE(size->text(), typed); // writing or typing alone checks nothing
    QTest::mouseClick(child(*window_, "cmdstop"), Qt::LeftButton);
    QCOMPARE(size->text(), kept);
}

void WindowTest::rippleDrawsWhatTheFrameComputes_data() {
    QTest::addColumn<Steps>("clicks");
    QTest::newRow("start-up") << Steps{};
    QTest::newRow("S") << Steps{"cmd1"};
    QTest::newRow("M") << Steps{"cmdb"};
    QTest::newRow("L") << Steps{"Command4"};
    QTest::newRow("reset") << Steps{"Command3"};
    QTest::newRow("pans") << Steps{"horz0", "verty1", "verty1"};
    QTest::newRow("scales") << Steps{"cmdblue0", "cmdblue3"};
    QTest::newRow("zooms") << Steps{"cmdXX0", "cmdXX1", "cmdXX1"};
}

void WindowTest::rippleDrawsWhatTheFrameComputes() {
    QFETCH(Steps, clicks);
    for (const QString& name : clicks)
        child<QPushButton>(*window_, name)->click();
    QTest::mouseClick(window_->formulaButton(0), Qt::LeftButton);
    compareWithFrame(*window_, window_->boxes().texts());
}

void WindowTest::formulaClickHighlightsItsButton() {
    QTest::mouseClick(window_->formulaButton(3), Qt::LeftButton);
    QTest::mouseClick(window_->formulaButton(0), Qt::LeftButton);
    for (int i = 0; i < kFormulaCount; ++i)
        QCOMPARE(buttonColour(window_->formulaButton(i)),
                 i == 0 ? QColor(255, 128, 128) : QColor(128, 128, 128));
}

// Halt and Esc stop a drawing after its first whole column; reset clears
// the picture and the boxes.
void WindowTest::stoppingADrawing_data() {
    QTest::addColumn<QString>("stop"); // a control, or none for Esc
    QTest::addColumn<int>("columns");
    QTest::addColumn<BoxTexts>("after");
    const BoxTexts large = boxTexts("1", "1", "1024");
    QTest::newRow("halt") << "cmdstop" << 1 << large;
    QTest::newRow("Esc") << "" << 1 << large;
    QTest::newRow("reset") << "Command3" << 0 << boxTexts("1", "1", "100");
}

void WindowTest::stoppingADrawing() {
    QFETCH(QString, stop);
    QFETCH(int, columns);
    QFETCH(BoxTexts, after);
    setBoxes(*window_, boxTexts("1", "1", "1024"));
    duringTheDrawing([&] {
        if (stop.isEmpty())
            QTest::keyClick(window_.get(), Qt::Key_Escape);
        else
            QTest::mouseClick(child(*window_, stop), Qt::LeftButton);
    });
    QTest::mouseClick(window_->formulaButton(0), Qt::LeftButton);
    const QImage image = window_->canvas()->image();
    QCOMPARE(columnsWithDrawing(image), columns);
    QCOMPARE(image.pixel(161, 1015) != kBackground, columns == 1); // the whole first column
    QCOMPARE(window_->boxes().texts(), after);
}

// Every click queued during a drawing runs inside a yield of the drawing
// before; thousands of them once overflowed the stack. Beyond the nesting
// limit a click is ignored, and every drawing still ends.
void WindowTest::thousandsOfQueuedClicksNestOnlySoDeep() {
    setBoxes(*window_, {"1", "1", "3", "1", "150"});
    int deepest = 0;
    int clicks = 0;
    for (int i = 0; i < 10000; ++i)
        QTimer::singleShot(0, window_.get(), [&, i] {
            deepest = std::max(deepest, window_->drawingDepth());
            ++clicks;
            window_->formulaButton(i % 2 ? 3 : 0)->click();
        });
    window_->formulaButton(0)->click();
    QTRY_COMPARE(clicks, 10000);
    QCOMPARE(window_->drawingDepth(), 0);
    QCOMPARE(deepest, kMaxNestedDrawings);
    QVERIFY(window_->isVisible());
    QCOMPARE(columnsWithDrawing(window_->canvas()->image()), 3);
}

void WindowTest::imageSurvivesARepaint() {
    QTest::mouseClick(window_->formulaButton(0), Qt::LeftButton);
    window_->hide();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    const QImage onScreen = window_->canvas()->grab().toImage();
    QCOMPARE(QColor(onScreen.pixel(235, 125)), QColor(64, 60, 55));
}

void WindowTest::exitColoursAfterActivationTimerAndHover() {
    auto* exitX = child(*window_, "Label1");
    auto* exitArrow = child(*window_, "Label4");
    // Activated at start-up: blue until the first tick.
    QCOMPARE(textColour(exitX), QColor(0, 0, 255));
    QCOMPARE(textColour(exitArrow), QColor(255, 0, 0));
    QTRY_COMPARE_WITH_TIMEOUT(textColour(exitX), QColor(128, 128, 255), 1500); // the timer ticks
    QCOMPARE(textColour(exitArrow), QColor(192, 192, 192));

    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(exitArrow, &move);
    QApplication::sendEvent(exitX, &move);
    QCOMPARE(textColour(exitArrow), QColor(255, 255, 255));
    QCOMPARE(textColour(exitX), QColor(0, 128, 255));
    window_->restoreExitColours();
    QCOMPARE(textColour(exitArrow), QColor(192, 192, 192));
    QCOMPARE(textColour(exitX), QColor(128, 128, 255));
}

void WindowTest::switchingBackDoesNotRepeatTheStartUpSteps() {
    auto* exitX = child(*window_, "Label1");
    QCOMPARE(textColour(exitX), QColor(0, 0, 255));
    // Two switches back from another program within the first second.
    for (int i = 0; i < 2; ++i) {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(window_.get(), &activate);
    }
    window_->restoreExitColours();
    QCOMPARE(textColour(exitX), QColor(128, 128, 255));
}

void WindowTest::endingLabelDuringADrawing() {
    int endings = 0;
    window_->setProgramEnder([&] { ++endings; });
    setBoxes(*window_, {"1", "1", "1024", "1", "150"});
    QImage atTheEnd;
    // Two drawings deep, "x" ends the program a few columns into the inner drawing.
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(0);
    connect(&ticker, &QTimer::timeout, [&] {
        if (++ticks == 1)
            QTimer::singleShot(0, [&] { window_->formulaButton(0)->click(); });
        else if (ticks == 4) {
            QTest::mouseClick(child(*window_, "Label1"), Qt::LeftButton);
            atTheEnd = window_->canvas()->image();
            ticker.stop();
        }
    });
    ticker.start();
    QTest::mouseClick(window_->formulaButton(0), Qt::LeftButton);
    QCOMPARE(endings, 1);
    QVERIFY(!window_->isVisible());
    QCOMPARE(window_->canvas()->image(), atTheEnd); // no further column
    QVERIFY(columnsWithDrawing(atTheEnd) < 10);
}

// The "x" label, Ctrl+Q and a close from the window manager all end the
// program at once, nested drawings and all, with status 0.
// While a file is written the window goes on drawing, and its ending waits
// for no FIFO's reader: a save to a FIFO is let go.
void WindowTest::endingTheProgramDuringADrawingExitsWithStatusZero_data() {
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QString>("target"); // of a save under way
    const auto row = [](const char* name, const char* ending, const char* target = "") {
        QTest::newRow(name) << ending << target;
    };
    row("exit label", "label");
    row("Ctrl+Q", "keys");
    row("window manager close", "close");
    row("Ctrl+Q while a poster is written", "poster", "file");
    row("Ctrl+Q after Save image to a FIFO without a reader", "image", "fifo");
    row("Ctrl+Q after a poster to a FIFO without a reader", "poster", "fifo");
    row("Ctrl+Q while Save image waits for its reader to read", "image",
        "fifo whose reader reads nothing");
    row("Ctrl+Q while a poster waits for its reader to read", "poster",
        "fifo whose reader reads nothing");
    row("Ctrl+Q while Save animation waits for its reader to read", "animation",
        "fifo whose reader reads nothing");
}

void WindowTest::endingTheProgramDuringADrawingExitsWithStatusZero() {
    QFETCH(QString, ending);
    QFETCH(QString, target);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SPIRELL_ENDING_CHILD", ending);
    QTemporaryDir posterFolder;
    QTemporaryDir fifoFolder;
    // An animation's frames go into a folder, the first of them a FIFO.
    const bool frames = ending == "animation";
    const QString fifo = fifoFolder.filePath(frames ? "frame-00000.png" : "picture.fifo");
    int reader = -1;
    if (target.startsWith("fifo")) {
        QCOMPARE(::mkfifo(qPrintable(fifo), 0600), 0);
        if (target.endsWith("reads nothing")) {
            reader = ::open(qPrintable(fifo), O_RDONLY | O_NONBLOCK);
            QVERIFY(reader >= 0);
            ::fcntl(reader, F_SETPIPE_SZ, 4096);
        }
    }
    environment.insert("SPIRELL_SAVE_TARGET", target == "file" ? posterFolder.filePath("poster.png")
                                              : frames         ? fifoFolder.path()
                                                               : fifo);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    const bool ended = child.waitForFinished(30000);
    if (reader >= 0)
        ::close(reader);
    QVERIFY(ended);
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("unchanged"));
    QCOMPARE(entries(posterFolder.path()), QStringList()); // a poster was cancelled
}

// Ctrl+C copies the picture, or a box's selected text; the picture actions
// wait for a drawing and forget it at reset.
void WindowTest::keysAndPictureActions() {
    const auto action = [&](const char* name) { return child<QAction>(*window_, name); };
    for (const char* name : {"saveImageAction", "copyImageAction", "savePosterAction"})
        QVERIFY2(!action(name)->isEnabled(), name);

    setBoxes(*window_, {"1", "1", "37", "1", "150"});
    window_->formulaButton(2)->click();
    QVERIFY(action("copyImageAction")->isEnabled());
    const QImage picture = window_->pictureExport().shownPicture();
    QCOMPARE(picture.size(), QSize(37, 37));
    QCOMPARE(picture, window_->canvas()->image().copy(161, 51, 37, 37));

    // The size box has the focus, with nothing selected: the picture is copied.
    QApplication::clipboard()->clear();
    auto* size = child<QLineEdit>(*window_, "TextThree");
    size->setFocus();
    size->deselect();
    QTest::keyClick(size, Qt::Key_C, Qt::ControlModifier);
    QTRY_COMPARE(QApplication::clipboard()->image().convertToFormat(picture.format()), picture);
    // With text selected, the box copies its text.
    size->selectAll();
    QTest::keyClick(size, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString("37"));

    child<QPushButton>(*window_, "Command3")->click();
    QVERIFY(window_->pictureExport().shownPicture().isNull());
    QVERIFY(!action("copyImageAction")->isEnabled());
}

// Decoded pixels, whatever the file's own format.
QImage rgbImage(const QString& path) {
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// Answers the poster dialog with a scale as soon as it opens.
void choosePosterScale(int scale) {
    QTimer::singleShot(0, [scale] {
        QTRY_VERIFY(qobject_cast<PosterDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<PosterDialog*>(QApplication::activeModalWidget());
        dialog->setScale(scale);
        dialog->accept();
    });
}

// A PNG file's bytes without its "Software" text, which names the program
// that wrote it: the window or spirell-render.
QByteArray withoutSoftwareText(const QByteArray& png) {
    QByteArray kept = png.left(8);
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype size = 12 + qsizetype(qFromBigEndian<quint32>(png.constData() + at));
        const QByteArray chunk = png.mid(at, size);
        if (!chunk.mid(4).startsWith(QByteArray("tEXtSoftware\0", 13)))
            kept += chunk;
        at += size;
    }
    return kept;
}

// Save image and Copy image give the latest drawing complete, with the view it
// was drawn from, whatever the canvas shows of it: spirell-render --from paints
// the saved file again byte for byte, and the copy has the file's pixels.
void WindowTest::saveAndCopyMatchTheLatestPicture_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<BoxTexts>("boxes"); // the latest drawing's
    QTest::addColumn<int>("formula");
    QTest::addColumn<int>("side"); // the complete picture's
    QTest::newRow("finished") << "finished" << boxTexts("0.25", "-7", "37", "1.5", "130") << 15
                              << 37;
    QTest::newRow("halted after a column")
        << "halted" << boxTexts("1", "1", "300", "1", "150") << 0 << 300;
    QTest::newRow("saved and copied while it is drawn")
        << "during" << boxTexts("1", "1", "300", "1", "150") << 4 << 300;
    QTest::newRow("nested, then painted over by the drawing around it")
        << "nested" << boxTexts("3", "2", "60", "0.5", "150") << 3 << 60;
    QTest::newRow("cut by the window's edge")
        << "cut" << boxTexts("1", "1", "1024", "1", "150") << 0 << 1024;
}

void WindowTest::saveAndCopyMatchTheLatestPicture() {
    QFETCH(QString, situation);
    QFETCH(BoxTexts, boxes);
    QFETCH(int, formula);
    QFETCH(int, side);
    QTemporaryDir folder;
    const QString saved = folder.filePath("saved.png");
    QStringList suggested;
    window_->pictureExport().setFileChooser([&](const QString&, const QString& name) {
        suggested << name;
        return saved;
    });
    QApplication::clipboard()->clear();
    const auto saveAndCopy = [this] {
        child<QAction>(*window_, "saveImageAction")->trigger();
        child<QAction>(*window_, "copyImageAction")->trigger();
    };
    if (situation == "nested") {
        setBoxes(*window_, {"1", "1", "300", "1", "150"});
        duringTheDrawing([&] {
            setBoxes(*window_, boxes);
            window_->formulaButton(formula)->click();
        });
        window_->formulaButton(0)->click();
    } else {
        setBoxes(*window_, boxes);
        if (situation == "halted")
            duringTheDrawing([this] { window_->perform(WindowAction::Halt); });
        else if (situation == "during")
            duringTheDrawing(saveAndCopy);
        window_->formulaButton(formula)->click();
    }
    // The boxes no longer show the drawing's view.
    setBoxes(*window_, {"5", "5", "5", "5", "5"});
    if (situation != "during")
        saveAndCopy();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->pictureExport().imageSave(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::clipboard()->image().isNull(), 30000);

    const Formula& drawn = formulaCatalogue()[formula];
    QCOMPARE(suggested, QStringList{QString(drawn.caption) + ".png"});
    const QImage image(saved);
    QCOMPARE(image.size(), QSize(side, side));
    BoxTexts stored;
    for (const BoxDescription& box : kBoxTable)
        stored.*box.member = image.text(box.pngKey).toStdString();
    QCOMPARE(stored, boxes);
    QCOMPARE(image.text("spirell:formula"), QString(drawn.routine));

    const QString again = folder.filePath("again.png");
    QCOMPARE(runRenderer({"--from", saved, "--quiet", "-o", again}).status, 0);
    QCOMPARE(withoutSoftwareText(fileBytes(again)), withoutSoftwareText(fileBytes(saved)));
    QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
             rgbImage(saved));
}

// A poster is painted on worker threads while the window goes on drawing; a
// cancelled one leaves nothing behind.
void WindowTest::posters_data() {
    QTest::addColumn<int>("scale");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("scale 2, finished") << 2 << false;
    QTest::newRow("scale 16, finished while the window draws") << 16 << false;
    QTest::newRow("scale 64, cancelled part-way") << 64 << true;
}

void WindowTest::posters() {
    QFETCH(int, scale);
    QFETCH(bool, cancel);
    QTemporaryDir folder;
    const QString poster = folder.filePath("poster.png");
    window_->pictureExport().setFileChooser([&](const QString&, const QString&) { return poster; });
    window_->formulaButton(0)->click(); // the start-up view
    QVERIFY(!window_->pictureExport().poster());

    choosePosterScale(scale);
    child<QAction>(*window_, "savePosterAction")->trigger();
    QVERIFY(window_->pictureExport().poster());
    QVERIFY(!child<QAction>(*window_, "savePosterAction")->isEnabled()); // one at a time
    auto* progress = child<QProgressDialog>(*window_, "posterProgress");
    QVERIFY(progress->isVisible());
    QVERIFY(!progress->isModal());

    // The window draws meanwhile.
    setBoxes(*window_, {"1", "1", "60", "1", "150"});
    window_->formulaButton(3)->click();
    QCOMPARE(columnsWithDrawing(window_->canvas()->image()), 150);
    QCOMPARE(window_->pictureExport().shownPicture().size(), QSize(60, 60));

    if (cancel) {
        QVERIFY(window_->pictureExport().poster());   // too large to be done yet
        progress->findChild<QPushButton*>()->click(); // its Cancel button
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window_->pictureExport().poster(), 120000);
    QVERIFY(child<QAction>(*window_, "savePosterAction")->isEnabled());
    if (cancel) {
        QCOMPARE(entries(folder.path()), QStringList());
        return;
    }
    QCOMPARE(entries(folder.path()), QStringList{"poster.png"});
    const QImage image(poster);
    QCOMPARE(image.size(), QSize(150 * scale, 150 * scale));
    QCOMPARE(image.text("spirell:scale"), QString::number(scale));
    const QString expected = folder.filePath("expected.png");
    QCOMPARE(runRenderer({"ripple", "--size", "150", "--scale", QString::number(scale), "--quiet",
                          "-o", expected})
                 .status,
             0);
    QCOMPARE(rgbImage(poster), rgbImage(expected));
}

// Cancel pressed while the poster's last bytes are written still leaves no
// file; pressed once the file is complete, the window says it was kept.
void WindowTest::lateCancel_data() {
    QTest::addColumn<bool>("complete");
    QTest::newRow("during the last write") << false;
    QTest::newRow("once the poster is complete") << true;
}

void WindowTest::lateCancel() {
    QFETCH(bool, complete);
    QTemporaryDir folder;
    const QString poster = folder.filePath("poster.png");
    window_->pictureExport().setFileChooser([&](const QString&, const QString&) { return poster; });
    const auto pressCancel = [this] {
        child<QProgressDialog>(*window_, "posterProgress")->findChild<QPushButton*>()->click();
    };
    window_->pictureExport().setPosterRenderer([&](const ImagePlan& plan, const TextChunks& texts,
                                                   std::FILE* file, const BandOptions& options,
                                                   const ProgressSink& progress) {
        renderPng(plan, texts, file, options, progress);
        if (!complete)
            QMetaObject::invokeMethod(qApp, pressCancel, Qt::BlockingQueuedConnection);
    });
    window_->formulaButton(0)->click(); // the start-up view
    MessageBoxWatcher watcher;
    choosePosterScale(2);
    child<QAction>(*window_, "savePosterAction")->trigger();
    if (complete) {
        // The file has its name before the window hears that it is complete.
        QDeadlineTimer deadline(30000);
        while (!QFileInfo::exists(poster) && !deadline.hasExpired())
            QThread::msleep(1);
        pressCancel();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window_->pictureExport().poster(), 30000);
    if (!complete) {
        QCOMPARE(entries(folder.path()), QStringList());
        QVERIFY(watcher.boxes.empty());
        return;
    }
    QCOMPARE(entries(folder.path()), QStringList{"poster.png"});
    QTRY_COMPARE(watcher.boxes.size(), std::size_t(1));
    QCOMPARE(watcher.boxes[0].text,
             QString("The poster was already complete when Cancel was pressed: it is saved as %1.")
                 .arg(poster));
}

// A save whose FIFO has a reader that reads nothing waits, off the window's
// thread; Cancel ends it at once and the action can be used again. The
// writer let go ends as soon as the reader reads.
void WindowTest::savesToAWaitingFifoCanBeCancelled_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("progress");
    QTest::newRow("Save image") << QString("saveImageAction") << QString("pictureProgress");
    QTest::newRow("Save poster") << QString("savePosterAction") << QString("posterProgress");
}

void WindowTest::savesToAWaitingFifoCanBeCancelled() {
    QFETCH(QString, action);
    QFETCH(QString, progress);
    QTemporaryDir folder;
    const QString fifo = folder.filePath("picture.fifo");
    QCOMPARE(::mkfifo(qPrintable(fifo), 0600), 0);
    const int reader = ::open(qPrintable(fifo), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    ::fcntl(reader, F_SETPIPE_SZ, 4096); // the least a pipe holds: the writer soon waits
    window_->pictureExport().setFileChooser([&](const QString&, const QString&) { return fifo; });
    window_->formulaButton(0)->click(); // the start-up view
    MessageBoxWatcher watcher;
    if (action == "savePosterAction")
        choosePosterScale(4);
    child<QAction>(*window_, action)->trigger();
    QTRY_VERIFY(window_->findChild<QProgressDialog*>(progress) &&
                window_->findChild<QProgressDialog*>(progress)->isVisible());
    child<QProgressDialog>(*window_, progress)->findChild<QPushButton*>()->click();
    QTRY_VERIFY(child<QAction>(*window_, action)->isEnabled());
    QVERIFY(!window_->pictureExport().imageSave() && !window_->pictureExport().poster());
    QVERIFY(watcher.boxes.empty());

    ::fcntl(reader, F_SETFL, 0);
    char buffer[65536];
    while (::read(reader, buffer, sizeof buffer) > 0) {
    }
    ::close(reader);
}

// A picture file job does nothing until started, so that whoever listens to it can
// connect first; then even a painting that fails at once is heard.
void WindowTest::pictureFileJobRunsOnlyOnceStarted() {
    QTemporaryDir folder;
    std::atomic<bool> painted{false};
    PictureFileJob job(planImage({"ripple", {"1", "1", "20", "1", "150"}, 1}, Computing{}), {},
                       folder.filePath("poster.png"), [&](auto&&...) {
                           painted = true;
                           throw std::runtime_error("at once");
                       });
    QTest::qWait(100);
    QVERIFY(!painted);
    QStringList errors;
    connect(&job, &PictureFileJob::finished, &job, [&](bool cancelled, const QString& error) {
        errors << (cancelled ? "cancelled" : error);
    });
    job.start();
    QTRY_COMPARE(errors, QStringList{"at once"});
    QVERIFY(painted);
    QCOMPARE(entries(folder.path()), QStringList());
}

// Each file dialog opens where it was last answered: the home folder at
// first, then the folder of the file chosen, or the folder chosen.
void WindowTest::fileDialogsRememberTheirFolder_data() {
    QTest::addColumn<int>("choice");     // a FileChoice
    QTest::addColumn<QString>("chosen"); // in the folder "first"
    QTest::addColumn<QString>("remembered");
    QTest::newRow("saving a file") << int(FileChoice::SaveFile) << "first/new.png"
                                   << "first";
    QTest::newRow("opening a file") << int(FileChoice::OpenFile) << "first/old.png"
                                    << "first";
    QTest::newRow("a folder") << int(FileChoice::Folder) << "first/frames"
                              << "first/frames";
}

void WindowTest::fileDialogsRememberTheirFolder() {
    QFETCH(int, choice);
    QFETCH(QString, chosen);
    QFETCH(QString, remembered);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkpath("first/frames"));
    QVERIFY(QFile(folder.filePath("first/old.png")).open(QIODevice::WriteOnly));

    QStringList openedIn;
    QString answer;
    QTimer dialogs;
    connect(&dialogs, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            openedIn << dialog->directory().absolutePath();
            dialog->selectFile(answer);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own, which checks the answer
        }
    });
    dialogs.start(5);
    const auto choose = [&](const QString& path) {
        answer = path;
        return chooseInRememberedFolder(window_.get(), FileChoice(choice), "folders/test", "Choose",
                                        "PNG images (*.png)", "suggested.png");
    };
    QCOMPARE(choose(folder.filePath(chosen)), folder.filePath(chosen));
    QCOMPARE(choose(folder.filePath(chosen)), folder.filePath(chosen));
    QCOMPARE(openedIn,
             QStringList({QDir::homePath(), QDir(folder.filePath(remembered)).absolutePath()}));
}

// A finished task is deleted, but only once its finished signal is over:
// deleted inside it, the task would leave the slots connected after the
// export's unheard (and the signal without its sender).
void WindowTest::finishedTasksOutliveTheirSignal_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("Save image") << "saveImageAction";
    QTest::newRow("Copy image") << "copyImageAction";
    QTest::newRow("Save poster") << "savePosterAction";
}

void WindowTest::finishedTasksOutliveTheirSignal() {
    QFETCH(QString, action);
    QTemporaryDir folder;
    window_->pictureExport().setFileChooser(
        [&](const QString&, const QString&) { return folder.filePath("saved.png"); });
    window_->formulaButton(0)->click(); // the start-up view
    if (action == "savePosterAction")
        choosePosterScale(2);
    child<QAction>(*window_, action)->trigger();
    const PictureExport& exports = window_->pictureExport();
    const BackgroundTask* started = action == "saveImageAction"   ? exports.imageSave()
                                    : action == "copyImageAction" ? exports.copy()
                                                                  : exports.poster();
    QVERIFY(started);
    const QPointer<BackgroundTask> task = const_cast<BackgroundTask*>(started);
    bool heardAfterTheExport = false;
    connect(task, &BackgroundTask::finished, this, [&](bool cancelled, const QString& error) {
        QVERIFY(!cancelled && error.isEmpty());
        heardAfterTheExport = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(!task, 30000);
    QVERIFY(heardAfterTheExport);
}

// A poster whose painting fails at once, before the window could have
// listened had the job started on its own, still ends where the window hears
// it: one message, the progress window gone, Save poster enabled again and no
// file left behind.
void WindowTest::posterThatFailsAtOnceIsHeard_data() {
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("message");
    QTest::newRow("a failure") << QString("failure") << QString("the disk is on fire");
    QTest::newRow("out of memory") << QString("memory") << QString("out of memory");
    QTest::newRow("not a std::exception")
        << QString("unknown") << QString("the poster failed for an unknown reason");
    // The reason comes from the system, in the locale's language.
    QTest::newRow("no thread")
        << "thread"
        << "could not start the poster's thread: " +
               QString::fromStdString(
                   std::make_error_code(std::errc::resource_unavailable_try_again).message());
}

void WindowTest::posterThatFailsAtOnceIsHeard() {
    QFETCH(QString, failure);
    QFETCH(QString, message);
    QTemporaryDir folder;
    window_->pictureExport().setFileChooser(
        [&](const QString&, const QString&) { return folder.filePath("poster.png"); });
    window_->pictureExport().setPosterRenderer([failure](const ImagePlan&, const TextChunks&,
                                                         std::FILE*, const BandOptions&,
                                                         const ProgressSink&) {
        if (failure == "memory")
            throw std::bad_alloc();
        if (failure == "unknown")
            throw 42;
        throw std::runtime_error("the disk is on fire");
    });
    if (failure == "thread")
        window_->pictureExport().setThreadStarter([](std::function<void()>) -> std::thread {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        });
    window_->formulaButton(0)->click(); // the start-up view
    auto* save = child<QAction>(*window_, "savePosterAction");

    MessageBoxWatcher watcher;
    choosePosterScale(2);
    save->trigger();
    const QPointer<QProgressDialog> progress =
        window_->findChild<QProgressDialog*>("posterProgress");
    QVERIFY(progress);
    QTRY_COMPARE(watcher.boxes.size(), std::size_t(1));
    QCOMPARE(watcher.boxes[0].title, QString("Save poster"));
    QCOMPARE(watcher.boxes[0].text, message);
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Warning);
    QVERIFY(!window_->pictureExport().poster());
    QTRY_VERIFY(!progress);
    QVERIFY(save->isEnabled());
    QCOMPARE(entries(folder.path()), QStringList());
    QTest::qWait(50);
    QCOMPARE(watcher.boxes.size(), std::size_t(1));
}

// Whatever a slot throws is shown once and goes no further: Qt forbids
// exceptions to leave a slot, the boxes and the picture stay as they were, and
// the window goes on.
void WindowTest::failuresInSlotsShowOneMessage_data() {
    QTest::addColumn<QString>("failure"); // the control pressed
    QTest::addColumn<BoxTexts>("boxes");  // written before it is
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QString overflow("Run-time error '6':\n\nOverflow");
    QTest::newRow("drawing with a huge zoom")
        << "CMD0" << boxTexts("1", "1", "150", "1e400") << kProgramName << overflow;
    QTest::newRow("doubling a huge zoom")
        << "cmdXX0" << boxTexts("1", "1", "150", "1e308") << kProgramName << overflow;
    QTest::newRow("panning a huge position")
        << "horz0" << boxTexts("1e999", "1", "150") << kProgramName << overflow;
    // Reading the boxes as text copies the brightness into an allocation of
    // its length and one, which is made to fail.
    const BoxTexts longText{"1", "1", "37", "1", std::string(20011, '1')};
    const QString outOfMemory("Run-time error '7':\n\nOut of memory");
    QTest::newRow("formula click out of memory")
        << "CMD0" << longText << kProgramName << outOfMemory;
    QTest::newRow("box edit out of memory") << "horz0" << longText << kProgramName << outOfMemory;
    const QString noDialog("no file dialog");
    const BoxTexts drawn = boxTexts("1", "1", "37");
    QTest::newRow("save image") << "saveImageAction" << drawn << QString("Save image") << noDialog;
    QTest::newRow("save poster") << "savePosterAction" << drawn << QString("Save poster")
                                 << noDialog;
}

void WindowTest::failuresInSlotsShowOneMessage() {
    QFETCH(QString, failure);
    QFETCH(BoxTexts, boxes);
    QFETCH(QString, title);
    QFETCH(QString, text);
    const bool allocation = text.endsWith("Out of memory");
    if (allocation && !kCanFailAllocations)
        QSKIP("a sanitizer's operator new cannot be made to fail");
    setBoxes(*window_, {"1", "1", "37", "1", "150"});
    window_->formulaButton(2)->click();
    const QImage before = window_->canvas()->image();
    window_->pictureExport().setFileChooser([](const QString&, const QString&) -> QString {
        throw std::runtime_error("no file dialog");
    });

    MessageBoxWatcher watcher;
    setBoxes(*window_, boxes);
    if (failure.endsWith("Action")) {
        if (failure == "savePosterAction")
            choosePosterScale(2);
        child<QAction>(*window_, failure)->trigger();
    } else {
        if (allocation)
            failingAllocationSize = boxes.brightness.size() + 1;
        child<QPushButton>(*window_, failure)->click();
        QCOMPARE(failingAllocationSize.load(), std::size_t(0)); // an armed allocation failed
    }
    QCOMPARE(window_->boxes().texts(), boxes);
    QCOMPARE(watcher.boxes.size(), std::size_t(1));
    QCOMPARE(watcher.boxes[0].title, title);
    QCOMPARE(watcher.boxes[0].text, text);
    if (title == kProgramName)
        QCOMPARE(watcher.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(window_->canvas()->image(), before);
    QCOMPARE(window_->drawingDepth(), 0);
    QVERIFY(!window_->pictureExport().poster());
    QVERIFY(child<QAction>(*window_, "savePosterAction")->isEnabled());
    QVERIFY(window_->isVisible()); // the program goes on
}

// A press that no control or picture takes goes on to the window, which starts
// moving itself; controls, the clickable labels and the picture keep theirs.
void WindowTest::pressesOnTheBackgroundGoToTheWindow_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("taken");
    QTest::newRow("title") << "Label5" << QPoint(5, 5) << false;
    QTest::newRow("bottom strip") << "Label13" << QPoint(50, 10) << false;
    QTest::newRow("backdrop panel") << "Label10" << QPoint(2, 2) << false;
    QTest::newRow("canvas beside the picture") << "" << QPoint(1220, 600) << false;
    QTest::newRow("the picture") << "" << QPoint(200, 100) << true;
    QTest::newRow("exit label") << "Label1" << QPoint(5, 5) << true;
    QTest::newRow("zoom label") << "Label17" << QPoint(5, 5) << true;
    QTest::newRow("formula button") << "CMD0" << QPoint(5, 5) << true;
}

void WindowTest::pressesOnTheBackgroundGoToTheWindow() {
    QFETCH(QString, control);
    QFETCH(QPoint, at);
    QFETCH(bool, taken);
    window_->formulaButton(0)->click(); // a picture at (161, 51), 150 x 150
    QWidget* target = control.isEmpty() ? window_->canvas() : child(*window_, control);
    QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    press.setAccepted(true);
    // Sent to the widget alone: whether it takes the press or passes it on.
    static_cast<QObject*>(target)->event(&press);
    QCOMPARE(press.isAccepted(), taken);
}

// Stands in for the desktop's browser: remembers the links it is asked to open.
class LinkOpener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

// The offscreen platform has no browser of its own to open links with.
void WindowTest::webLink_data() {
    QTest::addColumn<bool>("browser");
    QTest::newRow("opened in the browser") << true;
    QTest::newRow("no browser") << false;
}

void WindowTest::webLink() {
    QFETCH(bool, browser);
    LinkOpener opener;
    if (browser)
        QDesktopServices::setUrlHandler("https", &opener, "open");
    MessageBoxWatcher watcher;
    QTest::mouseClick(child(*window_, "Command1"), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(opener.opened, browser ? QList<QUrl>{QUrl(kHomepageAddress)} : QList<QUrl>{});
    QCOMPARE(watcher.boxes.size(), std::size_t(browser ? 0 : 1));
    if (browser)
        return;
    QCOMPARE(watcher.boxes[0].title, QString("Cannot find Browser:"));
    QCOMPARE(watcher.boxes[0].text,
             QString("This function requires internet explorer (iexplore.exe) to be in the "
                     "directory c:\\Program Files\\  "));
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Critical);
}

void WindowTest::unusableComputingChoiceRefusesToStart_data() {
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown width") << "SPIRELL_SIMD=avx9"
                                   << "spirell: SPIRELL_SIMD=avx9 is not a width: use scalar, "
                                      "sse2, avx or avx512\n";
    QTest::newRow("no threads") << "SPIRELL_THREADS=0"
                                << "spirell: SPIRELL_THREADS needs a whole number from 1 to "
                                   "1024, not \"0\"\n";
}

void WindowTest::unusableComputingChoiceRefusesToStart() {
    QFETCH(QString, variable);
    QFETCH(QString, message);
    QProcess program;
    program.setEnvironment(QProcess::systemEnvironment() << variable);
    program.start(SPIRELL_WINDOW_BINARY, {});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 2);
    QCOMPARE(QString::fromUtf8(program.readAllStandardError()), message);
}

// A window computes as the choice it was given says, whatever the
// environment (which asks for three threads here): its drawing starts as
// many workers as that choice's threads, less the window's own.
void WindowTest::drawingsComputeAsTheWindowWasTold_data() {
    QTest::addColumn<unsigned>("threads");
    QTest::newRow("one thread") << 1u;
    QTest::newRow("two threads") << 2u;
}

void WindowTest::drawingsComputeAsTheWindowWasTold() {
    QFETCH(unsigned, threads);
    MainWindow window(Computing{lanes::widestAvailable(), threads});
    window.show();
    setBoxes(window, {"1", "1", "300", "1", "150"});
    const qsizetype before = threadCount();
    qsizetype during = 0;
    duringTheDrawing([&] {
        during = threadCount();
        window.perform(WindowAction::Halt);
    });
    window.formulaButton(0)->click();
    QCOMPARE(during - before, qsizetype(threads - 1));
}

// The window's program installs the clean-up of unfinished files at its
// start, so that a poster being written when the desktop session ends leaves
// nothing. A signal ignored at the start stays ignored, and the program still
// dies of the signal that ends it.
void WindowTest::windowProgramCleansUpAfterSignals_data() {
    QTest::addColumn<bool>("underNohup");
    QTest::newRow("started plainly") << false;
    QTest::newRow("started under nohup") << true;
}

void WindowTest::windowProgramCleansUpAfterSignals() {
    QFETCH(bool, underNohup);
    const auto bit = [](int signal) { return quint64(1) << (signal - 1); };
    QProcess program;
    // The shell ignores SIGHUP, as nohup does, and exec keeps it ignored.
    program.start("/bin/sh", {"-c", QString(underNohup ? "trap '' HUP; " : "") + "exec \"$0\"",
                              SPIRELL_WINDOW_BINARY});
    QVERIFY(program.waitForStarted());
    const quint64 cleanedUp =
        bit(SIGINT) | bit(SIGTERM) | bit(SIGQUIT) | (underNohup ? 0 : bit(SIGHUP));
    QTRY_VERIFY_WITH_TIMEOUT((signalSet(program.processId(), "SigCgt") & cleanedUp) == cleanedUp,
                             10000);
    const quint64 ignored = signalSet(program.processId(), "SigIgn");
    QVERIFY(ignored & bit(SIGXFSZ));
    QVERIFY(ignored & bit(SIGPIPE)); // a FIFO's reader that goes away ends no window
    QCOMPARE(bool(ignored & bit(SIGHUP)), underNohup);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::CrashExit);
    QCOMPARE(program.exitCode(), int(SIGTERM));
}

void WindowTest::settingsLiveUnderTheProgramsName() {
    nameTheApplication();
    const QString settings = QSettings().fileName();
    QVERIFY2(settings.endsWith("/Vortica Spirell/Vortica Spirell.conf"), qPrintable(settings));
}

// The real program's ending, in a process of its own: ended in the middle of a
// drawing nested in another, it must end the event loop with status 0 and draw
// nothing more.
static int runEndingChild(int argc, char* argv[], const QByteArray& ending) {
    QApplication app(argc, argv);
    MainWindow window(computingFromEnvironment());
    window.show();
    window.boxes().write({"1", "1", "1024", "1", "150"});
    QImage atTheEnd;
    if (ending == "poster" || ending == "image" || ending == "animation") {
        // A save under way when the program ends: a large poster of a small
        // drawing, or a file that waits for a FIFO's reader; an animation
        // flies between two views.
        if (ending == "animation") {
            window.boxes().write({"1", "1", "300", "1", "150"}); // frames larger than a pipe holds
            window.formulaButton(0)->click();
        }
        window.boxes().write({"1", "1", "150", "1", "150"});
        window.formulaButton(0)->click();
        const auto target = [] { return qEnvironmentVariable("SPIRELL_SAVE_TARGET"); };
        window.pictureExport().setFileChooser([&](auto&&...) { return target(); });
        window.animationExport().setChooser([&](auto&&...) { return target(); });
        QTimer dialogs;
        QObject::connect(&dialogs, &QTimer::timeout, [] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<PosterDialog*>(modal)) {
                dialog->setScale(64);
                dialog->accept();
            } else if (auto* flight = qobject_cast<AnimationDialog*>(modal)) {
                flight->setFormat(spirell::video::OutputKind::PngFrames);
                flight->accept();
            } else if (auto* message = qobject_cast<QMessageBox*>(modal)) {
                message->done(QMessageBox::Ok); // a FIFO may be refused at once
            }
        });
        dialogs.start(5);
        const char* action = ending == "poster"  ? "savePosterAction"
                             : ending == "image" ? "saveImageAction"
                                                 : "saveAnimationAction";
        window.findChild<QAction*>(action)->trigger();
        bool drew = false;
        // A save refused at once shows a message first; the window goes on
        // once it is closed.
        QTimer later;
        QElapsedTimer since;
        since.start();
        QObject::connect(&later, &QTimer::timeout, [&] {
            if (since.elapsed() < 200 || QApplication::activeModalWidget())
                return;
            later.stop();
            // The window goes on drawing while the file is written.
            const QImage before = window.canvas()->image();
            window.boxes().write({"1", "1", "60", "1", "150"});
            window.formulaButton(3)->click();
            atTheEnd = window.canvas()->image();
            drew = atTheEnd != before;
            // A closed message leaves no window active on the offscreen
            // platform; a desktop gives the window back its activation.
            QApplication::setActiveWindow(&window);
            QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        });
        later.start(10);
        const int status = QApplication::exec();
        std::printf("%s\n",
                    drew && window.canvas()->image() == atTheEnd ? "unchanged" : "drawn on");
        return status;
    }
    QTimer::singleShot(0, [&] { window.formulaButton(0)->click(); });
    QTimer::singleShot(30, [&] { window.formulaButton(15)->click(); });
    QTimer::singleShot(60, [&] {
        if (ending == "label")
            QTest::mouseClick(window.findChild<QWidget*>("Label1"), Qt::LeftButton);
        else if (ending == "keys")
            QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        else
            window.close();
        atTheEnd = window.canvas()->image();
        if (window.drawingDepth() != 2)
            std::printf("not nested: %d\n", window.drawingDepth());
    });
    const int status = QApplication::exec();
    const bool unchanged = !atTheEnd.isNull() && window.canvas()->image() == atTheEnd &&
                           columnsWithDrawing(atTheEnd) < 1024;
    std::printf("%s\n", unchanged ? "unchanged" : "drawn on");
    return status;
}

int main(int argc, char* argv[]) {
    // Under Qt's own event dispatcher a timer fires inside nested event
    // processing, as the user's queued clicks do: so tests can queue clicks
    // that land in the yields of running drawings.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    if (qEnvironmentVariableIsSet("SPIRELL_ENDING_CHILD"))
        return runEndingChild(argc, argv, qgetenv("SPIRELL_ENDING_CHILD"));
    QApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window.moc"
