// Exploring the picture in the real window, offscreen: the wheel, drags and
// keys, the view history, opening and sharing views.
#include "app/AnimationDialog.hpp"
#include "app/MainWindow.hpp"
#include "app/StartupOptions.hpp"
#include "image/ImageSettings.hpp"
#include "image/PngFile.hpp"
#include "image/ViewCommand.hpp"
#include "support/FolderEntries.hpp"
#include "support/MessageBoxWatcher.hpp"
#include "support/PngChunks.hpp"
#include "support/RendererRuns.hpp"
#include "support/TestPrinting.hpp"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QNativeGestureEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace spirell;
using namespace spirell::app;
using namespace spirell::boxes;
using namespace spirell::drawing;
using namespace spirell::testing;

namespace {

// One input on the picture, at a point of it (relative to its top left).
struct Input {
    enum Kind { Wheel, CtrlWheel, Drag, Key, Pinch } kind;
    int amount = 0; // angleDelta, pixels dragged along both sides, a key, a pinch in percent
    QPoint at{0, 0};
};
using Gesture = QList<Input>;

} // namespace

Q_DECLARE_METATYPE(Input)
Q_DECLARE_METATYPE(Computing)

namespace {

void send(QWidget* canvas, const Input& input) {
    const QPoint at = QPoint(kPictureLeft, kPictureTop) + input.at;
    const QPointF global = canvas->mapToGlobal(QPointF(at));
    switch (input.kind) {
    case Input::Wheel:
    case Input::CtrlWheel: {
        QWheelEvent wheel(at, global, {}, QPoint(0, input.amount), Qt::NoButton,
                          input.kind == Input::CtrlWheel ? Qt::ControlModifier : Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas, &wheel);
        break;
    }
    case Input::Drag: {
        const auto mouse = [&](QEvent::Type type, QPoint where, Qt::MouseButtons held) {
            QMouseEvent event(type, where, canvas->mapToGlobal(where), Qt::LeftButton, held,
                              Qt::NoModifier);
            QApplication::sendEvent(canvas, &event);
        };
        mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
        // A few moves, as a real drag delivers them.
        const QPoint step(input.amount / 3, input.amount / 4);
        for (int i = 1; i <= 3; ++i)
            mouse(QEvent::MouseMove, at + i * step, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, at + 3 * step, Qt::NoButton);
        break;
    }
    case Input::Key:
        QTest::keyClick(canvas, Qt::Key(input.amount));
        break;
    case Input::Pinch: {
        QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(),
                                  2, at, at, global, input.amount / 100.0, {}, 0);
        QApplication::sendEvent(canvas, &pinch);
        break;
    }
    }
}

// Shows the window and draws the formula with these boxes.
void draw(MainWindow& window, const BoxTexts& boxes, int formula = 0) {
    window.show();
    window.boxes().write(boxes);
    window.formulaButton(formula)->click();
}

// Waits for the exploring render to show its exact picture.
bool renderedExactly(MainWindow& window) {
    return QTest::qWaitFor([&] { return !window.explorer().isRendering(); }, 60000);
}

QImage shownPicture(const MainWindow& window) {
    return window.canvas()->image().copy(window.picture().area);
}

// Runs a Copy view line in a folder as the shell given would, with this
// build's renderer for "spirell-render"; its exit status.
int runPastedLine(const QString& shellName, const QString& line, const QString& folder) {
    QProcess shell;
    shell.setWorkingDirectory(folder);
    shell.start(shellName, {"-c", QString("\"$0\" %1").arg(line.mid(line.indexOf(' ') + 1)),
                            SPIRELL_RENDER_BINARY});
    return shell.waitForFinished(60000) ? shell.exitCode() : -1;
}

// The picture a click on the formula's button draws with the boxes as they
// read, in a window of its own.
QImage clickedPicture(const MainWindow& explored, const Computing& computing) {
    MainWindow reference(computing);
    reference.boxes().write(explored.boxes().texts());
    reference.formulaButton(explored.picture().formula->index)->click();
    return shownPicture(reference);
}

} // namespace

class ExploringWindowTest : public QObject {
    Q_OBJECT
private slots:
    void aFormulaOfYourOwnIsDrawnAsABuiltIn();
    void exactAtRest_data();
    void exactAtRest();
    void inputsEditTheBoxes_data();
    void inputsEditTheBoxes();
    void aStormOfWheelTurnsEndsExact();
    void whatEndsAnExploringRender_data();
    void whatEndsAnExploringRender();
    void rangeOverflowShowsOneMessageAGesture();
    void historyStepsBackAndForward();
    void historyKeepsTheLastThousandViews();
    void openRestoresTheView_data();
    void openRestoresTheView();
    void openShowsWhatTheBoxesCannot_data();
    void openShowsWhatTheBoxesCannot();
    void copyViewPaintsTheSamePicture();
    void copyViewIsSafeToPaste_data();
    void copyViewIsSafeToPaste();
    void copyViewSaysWhatTheRendererRefuses();
    void fittingScale_data();
    void fittingScale();
    void aScaledWindowKeepsItsPicturesFullSize();
    void saveAnimationFliesThroughTheViewsKept_data();
    void saveAnimationFliesThroughTheViewsKept();
};

void ExploringWindowTest::exactAtRest_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<Computing>("computing");
    const Gesture gesture{{Input::Wheel, 120, {450, 100}}, {Input::Wheel, 50, {20, 400}},
                          {Input::Drag, 90, {300, 300}},   {Input::Key, Qt::Key_Left},
                          {Input::Key, Qt::Key_Minus},     {Input::CtrlWheel, -240, {5, 5}},
                          {Input::Pinch, 30, {250, 250}}};
    // Every input with the widest set; a wheel turn and a drag with each of
    // the others.
    for (const char* routine : {"ripple", "thistle", "quest"})
        for (const lanes::InstructionSet set : lanes::availableInstructionSets())
            QTest::addRow("%s, %s", routine, lanes::nameOf(set))
                << routine << (set == lanes::widestAvailable() ? gesture : gesture.mid(1, 2))
                << Computing{set, 3};
}

// Whatever the gesture, the picture at rest is the one a click on the
// formula's button draws with the boxes the gesture left.
void ExploringWindowTest::exactAtRest() {
    QFETCH(QString, routine);
    QFETCH(Gesture, gesture);
    QFETCH(Computing, computing);
    MainWindow window(computing);
    const int index = formulas::findFormula(routine.toStdString())->index;
    // Tenths add up with rounding: the frame's loops and the render's grid
    // must agree on every column's value.
    draw(window, boxTexts("0.3", "-7.1", "500", "0.2"), index);
    window.canvas()->setFocus();
    for (const Input& input : gesture) {
        send(window.canvas(), input);
        QVERIFY(renderedExactly(window));
        QCOMPARE(window.picture().boxes, window.boxes().texts());
        QVERIFY(shownPicture(window) == clickedPicture(window, computing));
    }
}

void ExploringWindowTest::inputsEditTheBoxes_data() {
    QTest::addColumn<BoxTexts>("before");
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<BoxTexts>("after");
    // From 1, 1, 300: the picture's columns are world 1 - 150 + 1 on.
    const BoxTexts start = boxTexts("1", "1", "300", "1");
    QTest::newRow("drag") << start << Gesture{{Input::Drag, 30, {10, 10}}}
                          << boxTexts("-29", "-20", "300", "1");
    QTest::newRow("arrow left pans a tenth of the width")
        << start << Gesture{{Input::Key, Qt::Key_Left}} << boxTexts("-29", "1", "300", "1");
    QTest::newRow("arrow down") << start << Gesture{{Input::Key, Qt::Key_Down}}
                                << boxTexts("1", "31", "300", "1");
    // The pointer at 148 points at world -0.5, where column 148 begins.
    QTest::newRow("four notches up magnify twice around the pointer")
        << start << Gesture{{Input::Wheel, 480, {148, 148}}}
        << boxTexts("0.5", "0.5", "300", "0.5");
    QTest::newRow("four notches down shrink around it")
        << start << Gesture{{Input::Wheel, -480, {148, 148}}}
        << boxTexts("1.25", "1.25", "300", "2");
    // A gesture's zoom and brightness are worked out once from the texts it
    // started with, and so are the positions while the pointer rests; a pan
    // in between moves the point the positions are worked out from.
    const Input notch{Input::Wheel, 120, {148, 148}};
    QTest::newRow("four notches one by one from 0.15")
        << boxTexts("1", "1", "300", "0.15") << Gesture(4, notch)
        << boxTexts("0.5", "0.5", "300", "0.075");
    QTest::newRow("eight notches one by one")
        << start << Gesture(8, notch) << boxTexts("-0.5", "-0.5", "300", "0.25");
    QTest::newRow("four + keys zoom around the middle")
        << boxTexts("1", "1", "300", "0.15") << Gesture(4, {Input::Key, Qt::Key_Plus})
        << boxTexts("2.5", "2.5", "300", "0.075");
    QTest::newRow("+, an arrow and + again")
        << start
        << Gesture{{Input::Key, Qt::Key_Plus},
                   {Input::Key, Qt::Key_Left},
                   {Input::Key, Qt::Key_Plus}}
        << boxTexts("-34.054893106522", "1.62132034355964", "300", "0.707106781186548");
    QTest::newRow("ctrl brightens") << start << Gesture{{Input::CtrlWheel, 960, {0, 0}}}
                                    << boxTexts("1", "1", "300", "1", "300");
    QTest::newRow("ctrl notches one by one from 0.15")
        << boxTexts("1", "1", "300", "1", "0.15") << Gesture(8, {Input::CtrlWheel, -120, {0, 0}})
        << boxTexts("1", "1", "300", "1", "0.075");
    QTest::newRow("a wheel beside the picture does nothing")
        << start << Gesture{{Input::Wheel, 120, {310, 10}}} << start;
    QTest::newRow("keys the picture does not use")
        << start << Gesture{{Input::Key, Qt::Key_A}} << start;
}

void ExploringWindowTest::inputsEditTheBoxes() {
    QFETCH(BoxTexts, before);
    QFETCH(Gesture, gesture);
    QFETCH(BoxTexts, after);
    MainWindow window(computingFromEnvironment());
    draw(window, before);
    window.canvas()->setFocus();
    for (const Input& input : gesture)
        send(window.canvas(), input);
    QCOMPARE(window.boxes().texts(), after);
    QVERIFY(renderedExactly(window));
}

void ExploringWindowTest::aStormOfWheelTurnsEndsExact() {
    MainWindow window(computingFromEnvironment());
    draw(window, boxTexts("1", "1", "768", "0.15"));
    // Queued as a wheel would deliver them in one go, then handled at once.
    for (int i = 0; i < 1000; ++i)
        QApplication::postEvent(
            window.canvas(),
            new QWheelEvent(QPointF(kPictureLeft + 100 + i % 700, kPictureTop + 300), {}, {},
                            QPoint(0, i % 3 == 0 ? -120 : 120), Qt::NoButton, Qt::NoModifier,
                            Qt::NoScrollPhase, false));
    QCoreApplication::processEvents();
    QVERIFY(renderedExactly(window));
    QVERIFY(shownPicture(window) == clickedPicture(window, computingFromEnvironment()));
}

void ExploringWindowTest::whatEndsAnExploringRender_data() {
    QTest::addColumn<QString>("control");
    QTest::newRow("a formula click") << "CMD15";
    QTest::newRow("halt !") << "cmdstop";
    QTest::newRow("reset") << "Command3";
}

// An exploring render under way ends at once: nothing of it shows afterwards.
void ExploringWindowTest::whatEndsAnExploringRender() {
    QFETCH(QString, control);
    MainWindow window(Computing{lanes::InstructionSet::Scalar, 1});
    draw(window, boxTexts("1", "1", "1024", "0.15"), 15); // quest: slow enough to catch
    send(window.canvas(), {Input::Wheel, 120, {500, 500}});
    QVERIFY(window.explorer().isRendering());
    QTest::mouseClick(window.findChild<QWidget*>(control), Qt::LeftButton);
    QVERIFY(!window.explorer().isRendering());
    const QImage after = window.canvas()->image();
    QTest::qWait(1500); // the render's pieces would have arrived by now
    QVERIFY(window.canvas()->image() == after);
}

// Wheel turns beyond the number range show their message once a gesture,
// not once a turn, and change nothing.
void ExploringWindowTest::rangeOverflowShowsOneMessageAGesture() {
    MainWindow window(computingFromEnvironment());
    window.show();
    window.formulaButton(0)->click();
    window.boxes().write(boxTexts("1", "1", "150", "5e307"));
    MessageBoxWatcher messages;
    for (int turn = 0; turn < 5; ++turn)
        send(window.canvas(), {Input::Wheel, -480, {50, 50}});
    QCOMPARE(messages.boxes.size(), std::size_t(1));
    QCOMPARE(window.boxes().texts(), boxTexts("1", "1", "150", "5e307"));
}

// Back and Forward step through the views kept, and are enabled only where
// there is a view to step to.
void ExploringWindowTest::historyStepsBackAndForward() {
    MainWindow window(computingFromEnvironment());
    auto* backAction = window.findChild<QAction*>("backAction");
    auto* forwardAction = window.findChild<QAction*>("forwardAction");
    const auto enabled = [&](bool back, bool forward) {
        return backAction->isEnabled() == back && forwardAction->isEnabled() == forward;
    };
    QVERIFY(enabled(false, false));
    draw(window, boxTexts("1", "1", "300"));
    QVERIFY(enabled(false, false)); // one view: nowhere to step
    const QImage first = shownPicture(window);
    send(window.canvas(), {Input::Drag, 60, {10, 10}}); // settles at the release
    QVERIFY(renderedExactly(window));
    QVERIFY(enabled(true, false));
    const BoxTexts dragged = window.boxes().texts();
    window.formulaButton(4)->click(); // thistle, remembered at the click
    const QImage third = shownPicture(window);

    window.viewActions().back();
    QVERIFY(renderedExactly(window));
    QCOMPARE(window.boxes().texts(), dragged);
    QCOMPARE(window.picture().formula->index, 0);
    QVERIFY(enabled(true, true));
    window.viewActions().back();
    QVERIFY(renderedExactly(window));
    QCOMPARE(window.picture().formula->index, 0);
    QCOMPARE(window.boxes().texts(), boxTexts("1", "1", "300"));
    QVERIFY(shownPicture(window) == first);
    QVERIFY(enabled(false, true));
    window.viewActions().back(); // nothing further back: nothing changes
    QCOMPARE(window.boxes().texts(), boxTexts("1", "1", "300"));
    window.viewActions().forward();
    window.viewActions().forward();
    QVERIFY(renderedExactly(window));
    QCOMPARE(window.picture().formula->index, 4);
    QVERIFY(shownPicture(window) == third);
    QVERIFY(enabled(true, false));

    // A step asked for while a drawing runs is ignored: the history stays put.
    QTimer::singleShot(0, &window.viewActions(), &ViewActions::back);
    window.formulaButton(4)->click(); // the same view: remembered once
    window.viewActions().back();
    QVERIFY(renderedExactly(window));
    QCOMPARE(window.boxes().texts(), dragged);

    // A wheel turn still waiting for its pause is kept before Back steps, so
    // Back returns to the view before it.
    send(window.canvas(), {Input::Wheel, 120, {30, 70}});
    QVERIFY(renderedExactly(window));
    window.viewActions().back();
    QVERIFY(renderedExactly(window));
    QCOMPARE(window.boxes().texts(), dragged);
    QVERIFY(enabled(true, true));
    window.viewActions().forward();
    QVERIFY(renderedExactly(window));

    // A view remembered after a step back leaves nothing ahead; a reset leaves
    // no picture to step from.
    window.formulaButton(2)->click();
    QVERIFY(enabled(true, false));
    QTest::mouseClick(window.findChild<QWidget*>("Command3"), Qt::LeftButton);
    QVERIFY(enabled(false, false));
}

void ExploringWindowTest::historyKeepsTheLastThousandViews() {
    ViewHistory history;
    for (int i = 0; i <= 1000; ++i) {
        history.remember({0, boxTexts(std::to_string(i).c_str(), "1", "150")});
        history.remember({0, boxTexts(std::to_string(i).c_str(), "1", "150")}); // once
    }
    QCOMPARE(history.size(), std::size_t(1000));
    QCOMPARE(history.upToCurrent().front().boxes.xPosition, std::string("1"));
    // A view remembered after steps back replaces those ahead.
    history.back();
    history.back();
    history.remember({3, boxTexts("x", "1", "150")});
    QCOMPARE(history.size(), std::size_t(999));
    QVERIFY(!history.canGoForward());
}

void ExploringWindowTest::openRestoresTheView_data() {
    QTest::addColumn<QByteArray>("file"); // empty: a picture saved by spirell-render
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QByteArray>("name"); // the file's name, bytes
    QTest::newRow("a picture of ours") << QByteArray() << true << QByteArray("picture.png");
    QTest::newRow("a name that is not UTF-8") << QByteArray() << true << QByteArray("lat\xe9.png");
    // Chunks of our own kind, to be ignored, before the image data.
    QTest::newRow("a picture stuffed with 64 MiB of chunks")
        << QByteArray("stuffed") << true << QByteArray("picture.png");
    QTest::newRow("a PNG without our texts") << pngWith({}) << false << QByteArray("p.png");
    QTest::newRow("a damaged text") << pngWith({textChunk("tEXt", "spirell:formula", "aries"),
                                                textChunk("tEXt", "spirell:scale", "many")})
                                    << false << QByteArray("p.png");
    QTest::newRow("not a PNG") << QByteArray("GIF89a") << false << QByteArray("p.png");
    // Nested past the language's limit: refused, not followed down.
    QTest::newRow("a hostile formula text")
        << pngWith({textChunk("tEXt", "spirell:formula", "text"),
                    textChunk("tEXt", "spirell:formula-text",
                              "red = " + QByteArray(5000, '(') + "X" + QByteArray(5000, ')')),
                    textChunk("tEXt", "spirell:x", "1"), textChunk("tEXt", "spirell:y", "1"),
                    textChunk("tEXt", "spirell:size", "150"),
                    textChunk("tEXt", "spirell:zoom", "1"),
                    textChunk("tEXt", "spirell:brightness", "150"),
                    textChunk("tEXt", "spirell:scale", "1")})
        << false << QByteArray("p.png");
}

void ExploringWindowTest::openRestoresTheView() {
    QFETCH(QByteArray, file);
    QFETCH(bool, opens);
    QFETCH(QByteArray, name);
    QTemporaryDir folder;
    const QString path = folder.filePath("picture.png");
    if (file.isEmpty() || file == "stuffed") {
        QCOMPARE(runRenderer({"thistle", "--x", "7.5", "--y", "-20", "--size", "200", "--zoom",
                              "0.3", "--brightness", "90", "-o", path})
                     .status,
                 0);
        if (file == "stuffed") {
            QByteArray stuffing;
            for (int chunk = 0; chunk < 64; ++chunk)
                stuffing += pngChunk("stUf", QByteArray(1 << 20, 's'));
            writeFile(path, fileBytes(path).insert(8 + 25, stuffing)); // after the header
        }
    } else
        writeFile(path, file);
    const std::string named = (QFile::encodeName(folder.path()) + "/" + name).toStdString();
    // A second name for the same file, as the system gives it.
    QVERIFY(name == "picture.png" ||
            ::link(QFile::encodeName(path).constData(), named.c_str()) == 0);
    MainWindow window(computingFromEnvironment());
    window.show();
    const BoxTexts before = window.boxes().texts();
    MessageBoxWatcher messages;
    window.viewActions().open(named);
    // Read off the window's thread, which goes on meanwhile.
    QCOMPARE(window.boxes().texts(), before);
    QTRY_VERIFY(!window.viewActions().isReading());
    if (!opens) {
        QCOMPARE(messages.boxes.size(), std::size_t(1));
        if (QTest::currentDataTag() == QByteArray("a hostile formula text"))
            QVERIFY2(messages.boxes[0].text.contains("formula text that cannot be drawn: line 1, "
                                                     "column 71: nested more than 64 deep"),
                     qPrintable(messages.boxes[0].text));
        QCOMPARE(window.boxes().texts(), before);
        QVERIFY(window.picture().isEmpty());
        return;
    }
    QCOMPARE(messages.boxes.size(), std::size_t(0));
    QCOMPARE(window.boxes().texts(), boxTexts("7.5", "-20", "200", "0.3", "90"));
    QCOMPARE(window.picture().formula->index, 4);
    // The picture drawn is the saved one, pixel for pixel.
    QCOMPARE(shownPicture(window).convertToFormat(QImage::Format_RGB888),
             QImage(path).convertToFormat(QImage::Format_RGB888));
}

void ExploringWindowTest::openShowsWhatTheBoxesCannot_data() {
    QTest::addColumn<QByteArray>("stored"); // the x text
    QTest::addColumn<QString>("shown");
    QTest::newRow("not UTF-8") << QByteArray("7.5\xe9\xff") << QString("7.5\uFFFD\uFFFD");
    QTest::newRow("terminal controls")
        << QByteArray("7.5\x03touch F\r\x7f") << QString("7.5\u2403touch F\u240D\u2421");
    QTest::newRow("a C1 control") << QByteArray("7.5\xc2\x9b") << QString("7.5\uFFFD");
    // Blanks, tabs and line feeds are part of a number: they stay, and so
    // does every character a box shows.
    QTest::newRow("tab and line feed") << QByteArray("7\t.\n5") << QString("7\t.\n5");
    QTest::newRow("UTF-8") << QByteArray("7.5 \xe2\x82\xac") << QString("7.5 \u20AC");
}

// Stored box texts reach the boxes as far as a box can show them; whatever
// is replaced is said, and the picture is the one the file keeps.
void ExploringWindowTest::openShowsWhatTheBoxesCannot() {
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    QTemporaryDir folder;
    const QString path = folder.filePath("p.png");
    QList<QByteArray> texts{textChunk("tEXt", "spirell:formula", "thistle"),
                            textChunk("tEXt", "spirell:x", stored)};
    for (const auto& [key, text] : {std::pair{"y", "-20"},
                                    {"size", "60"},
                                    {"zoom", "0.3"},
                                    {"brightness", "90"},
                                    {"scale", "1"}})
        texts << textChunk("tEXt", QByteArray("spirell:") + key, text);
    writeFile(path, pngWith(texts));
    MainWindow window(computingFromEnvironment());
    window.show();
    MessageBoxWatcher messages;
    window.viewActions().open(QFile::encodeName(path).toStdString());
    QTRY_VERIFY(!window.viewActions().isReading());
    QCOMPARE(QString::fromStdString(window.boxes().texts().xPosition), shown);
    QCOMPARE(messages.boxes.size(), std::size_t(shown.toUtf8() == stored ? 0 : 1));
    if (!messages.boxes.empty())
        QVERIFY2(messages.boxes[0].text.contains("horizontal position box"),
                 qPrintable(messages.boxes[0].text));
    MainWindow plain(computingFromEnvironment());
    draw(plain, boxTexts("7.5", "-20", "60", "0.3", "90"), 4);
    QVERIFY(renderedExactly(window));
    QCOMPARE(shownPicture(window), shownPicture(plain));
}

// The first formula written as text: what a click on "ripple" draws, drawn
// from the editor, explored, kept in the history, copied, saved and opened
// again; a random one in between, and a text that does not compile.
void ExploringWindowTest::aFormulaOfYourOwnIsDrawnAsABuiltIn() {
    const QString ripple = "# ripple, written out\n"
                           "AngleY = zoom * ((Y / 200) * (44 / 7))\n"
                           "AngleX = zoom * ((X / 200) * (44 / 7))\n"
                           "CosSum = cos(AngleX + AngleY)\n"
                           "CosDifference = cos(AngleX - AngleY)\n"
                           "U3 = sin((AngleX + AngleY) + CosSum)\n"
                           "U1 = tan(U3)\n"
                           "TermA = abs(tan(sin(AngleY * AngleX + CosDifference) - abs(U1)))\n"
                           "U2 = cos((AngleY * AngleX + AngleY) + cos(AngleY - AngleX))\n"
                           "TermB = abs(tan(sin((AngleY - AngleX) + CosDifference) - U2))\n"
                           "TermC = abs(tan(sin(AngleY - AngleX * CosDifference) + U3))\n"
                           "red = 0.0152 * TermA + 0.04 * TermB + 0.0591 * TermC\n"
                           "green = 0.01 * TermA + 0.05131 * TermB + 0.036 * TermC\n"
                           "blue = 0.023131 * TermA + 0.02 * TermB + 0.013 * TermC\n";
    MainWindow builtIn(computingFromEnvironment());
    draw(builtIn, boxTexts("-3.5", "7", "90", "0.7"), 0);
    MainWindow window(computingFromEnvironment());
    window.show();
    window.boxes().write(boxTexts("-3.5", "7", "90", "0.7"));
    // Ctrl+E in a box, which would otherwise move to the box's end.
    QApplication::setActiveWindow(&window);
    QTest::keyClick(window.boxes().sizeBox(), Qt::Key_E, Qt::ControlModifier);
    FormulaEditor& editor = window.formulaEditor();
    QVERIFY(editor.isVisible() && !editor.isModal());

    // A fault is marked, and nothing is drawn.
    editor.setText("red = sin(X\ngreen = 0\nblue = 0\n");
    editor.draw();
    QCOMPARE(editor.shownFault(), QString("line 2, column 1: expected \")\", found \"g\""));
    QVERIFY(window.picture().isEmpty());

    editor.setText(ripple);
    QApplication::setActiveWindow(&editor);
    QTest::keyClick(editor.findChild<QPlainTextEdit*>("formulaText"), Qt::Key_Return,
                    Qt::ControlModifier);
    QVERIFY(editor.shownFault().isEmpty());
    QVERIFY(!window.picture().isEmpty());
    QCOMPARE(QString(window.picture().formula->text), ripple);
    QCOMPARE(shownPicture(window), shownPicture(builtIn));
    // Its button is the one marked as drawn.
    QVERIFY(window.ownFormulaButton()->background() != window.formulaButton(0)->background());

    // Explored, it ends exact, as the built-in's exploring does.
    send(window.canvas(), {Input::Wheel, 120, {30, 40}});
    send(builtIn.canvas(), {Input::Wheel, 120, {30, 40}});
    QVERIFY(renderedExactly(window) && renderedExactly(builtIn));
    QCOMPARE(shownPicture(window), shownPicture(builtIn));
    const QImage explored = shownPicture(window);

    // Copy view's line carries the text and paints the same picture.
    window.viewActions().copyView();
    const QString line = QGuiApplication::clipboard()->text();
    QVERIFY2(line.startsWith("spirell-render $'--formula=# ripple"), qPrintable(line));
    QTemporaryDir folder;
    QCOMPARE(runPastedLine("bash", line, folder.path()), 0); // $'...' needs bash
    const QString copied = folder.filePath("formula.png");
    QCOMPARE(QImage(copied).convertToFormat(QImage::Format_RGB32), explored);
    QCOMPARE(QImage(copied).text("spirell:formula-text"), ripple);

    // A random formula, then Back to the text: the editor follows.
    editor.drawRandom(42);
    QCOMPARE(editor.seed(), std::optional<std::uint64_t>(42));
    QVERIFY(editor.text().startsWith("# random formula, seed 42"));
    QVERIFY(QString(window.picture().formula->text).startsWith("# random formula, seed 42"));
    window.viewActions().back();
    QVERIFY(renderedExactly(window));
    QCOMPARE(editor.text(), ripple);
    QCOMPARE(shownPicture(window), explored);

    // The picture a renderer saved opens as the view it keeps.
    window.formulaButton(3)->click();
    window.viewActions().open(QFile::encodeName(copied).toStdString());
    QTRY_VERIFY(!window.viewActions().isReading());
    QCOMPARE(QString(window.picture().formula->text), ripple);
    QCOMPARE(shownPicture(window), explored);
}

// A view the window draws but no image can hold is copied with a word on
// why the line as it stands paints nothing.
void ExploringWindowTest::copyViewSaysWhatTheRendererRefuses() {
    MainWindow window(computingFromEnvironment());
    MessageBoxWatcher messages;
    for (const char* size : {"120", "100000"}) {
        draw(window, boxTexts("1", "1", size));
        window.viewActions().copyView();
        QVERIFY(QGuiApplication::clipboard()->text().contains(QString("--size=") + size));
    }
    QTRY_COMPARE(messages.boxes.size(), std::size_t(1));
    QVERIFY2(messages.boxes[0].text.contains("more than 2147483648 pixels"),
             qPrintable(messages.boxes[0].text));
}

// Copy view's command line, run as it stands, paints the picture shown.
void ExploringWindowTest::copyViewPaintsTheSamePicture() {
    MainWindow window(computingFromEnvironment());
    draw(window, boxTexts("-40.25", "1e1", "120", "0.5", "it's 99"), 1);
    send(window.canvas(), {Input::Wheel, 60, {30, 70}});
    QVERIFY(renderedExactly(window));
    window.viewActions().copyView();
    const QString line = QGuiApplication::clipboard()->text();
    QVERIFY2(line.startsWith("spirell-render ember "), qPrintable(line));
    QTemporaryDir folder;
    QCOMPARE(runPastedLine("sh", line, folder.path()), 0);
    QCOMPARE(QImage(folder.filePath("ember.png")).convertToFormat(QImage::Format_RGB888),
             shownPicture(window).convertToFormat(QImage::Format_RGB888));
}

void ExploringWindowTest::copyViewIsSafeToPaste_data() {
    QTest::addColumn<QByteArray>("x");
    QTest::addColumn<QByteArray>("y");
    // Pasted through a terminal, ETX and NAK end a quoted word and CR runs
    // the line: a stored text must not be able to run a command.
    QTest::newRow("ETX and CR") << QByteArray("1\x03touch FILE\r")
                                << QByteArray("1\x15touch FILE\r");
    QTest::newRow("escape, line feed, DEL")
        << QByteArray("1\x1b]0;title\x07") << QByteArray("2\n\x7f");
    QTest::newRow("quotes and backslashes with a control byte")
        << QByteArray("it's\\ \x01") << QByteArray("\\x41'$(touch FILE)`id`\t");
    QTest::newRow("plain") << QByteArray("-40.25") << QByteArray("it's 99");
}

// The line holds no control byte, and bash hands the renderer the very texts.
void ExploringWindowTest::copyViewIsSafeToPaste() {
    QFETCH(QByteArray, x);
    QFETCH(QByteArray, y);
    const std::string line = spirell::image::viewCommandLine(
        "ember", {"blood", boxTexts(x.constData(), y.constData(), "120")});
    QVERIFY2(std::none_of(line.begin(), line.end(),
                          [](unsigned char c) { return c < 0x20 || c == 0x7f; }),
             line.c_str());
    QProcess bash;
    bash.start("bash", {"-c", "printf '%s\\0' " + QString::fromStdString(line).section(' ', 1)});
    QVERIFY(bash.waitForFinished());
    QCOMPARE(bash.exitCode(), 0);
    const QList<QByteArray> expected{"ember",      "--x=" + x,  "--y=" + y,
                                     "--size=120", "--zoom=1",  "--brightness=150",
                                     "-o",         "ember.png", ""};
    QCOMPARE(bash.readAllStandardOutput().split('\0'), expected);
}

void ExploringWindowTest::fittingScale_data() {
    QTest::addColumn<QSize>("available");
    QTest::addColumn<double>("scale");
    QTest::newRow("1920 x 1080 holds it") << QSize(1920, 1040) << 1.0;
    QTest::newRow("just holds it") << QSize(1274, 1018) << 1.0;
    QTest::newRow("1366 x 768 with a panel") << QSize(1366, 736) << 736.0 / 1018;
    QTest::newRow("narrow") << QSize(637, 2000) << 0.5;
    QTest::newRow("no screen") << QSize(0, 0) << 1.0;
}

void ExploringWindowTest::fittingScale() {
    QFETCH(QSize, available);
    QFETCH(double, scale);
    QCOMPARE(app::fittingScale(available.width(), available.height(), 1274, 1018), scale);
}

// On a small screen the window shows everything smaller; the pictures, and
// where an input on them lands, keep their full size.
void ExploringWindowTest::aScaledWindowKeepsItsPicturesFullSize() {
    MainWindow window(computingFromEnvironment(), 0.5);
    window.show();
    QCOMPARE(window.size(), QSize(636 + 2, 508 + 2));
    QCOMPARE(window.findChild<QWidget*>("cmdstop")->geometry(), QRect(40, 140, 33, 13));
    window.boxes().write(boxTexts("1", "1", "300"));
    window.formulaButton(0)->click();
    QCOMPARE(window.picture().area.size(), QSize(300, 300));
    QCOMPARE(window.canvas()->image().size(), QSize(1272, 1016));
    // Four notches at the middle of pixel 148 of the picture, as shown halved.
    const QPointF at = QPointF(kPictureLeft + 148, kPictureTop + 148) * 0.5;
    QWheelEvent wheel(at, window.canvas()->mapToGlobal(at), {}, QPoint(0, 480), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window.canvas(), &wheel);
    QCOMPARE(window.boxes().texts(), boxTexts("0.5", "0.5", "300", "0.5"));
    QVERIFY(renderedExactly(window));
}

void ExploringWindowTest::saveAnimationFliesThroughTheViewsKept_data() {
    QTest::addColumn<int>("format"); // AnimationDialog::Format
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("files");        // in the folder afterwards
    QTest::addColumn<QString>("ownFrame"); // as the dialog offers it
    QTest::addColumn<bool>("fifo");        // frame-00000.png a FIFO whose reader reads nothing
    // Three views a second apart at two frames a second: two frames a move,
    // and the last view once more. The first view is smaller than the others
    // and odd, so its own frame is neither the current picture's size nor a
    // video's.
    // The PNG frames go into a folder with a frame of an earlier, longer flight.
    QTest::newRow("PNG frames") << int(spirell::video::OutputKind::PngFrames) << 1.0 << false << 6
                                << "The first view's own, 47 × 47" << false;
    QTest::newRow("MP4, cancelled") << int(spirell::video::OutputKind::Mp4H264) << 120.0 << true
                                    << 0 << "The first view's own, 48 × 48" << false;
    QTest::newRow("PNG frames into a FIFO that is never read, cancelled")
        << int(spirell::video::OutputKind::PngFrames) << 1.0 << true << 1
        << "The first view's own, 47 × 47" << true;
}

void ExploringWindowTest::saveAnimationFliesThroughTheViewsKept() {
    QFETCH(int, format);
    QFETCH(double, seconds);
    QFETCH(bool, cancel);
    QFETCH(int, files);
    QFETCH(QString, ownFrame);
    QFETCH(bool, fifo);
    MainWindow window(computingFromEnvironment());
    window.show();
    for (const auto& [x, size] : {std::pair{"1", "47"}, {"40", "64"}}) {
        window.boxes().write(boxTexts(x, "1", size));
        window.formulaButton(0)->click();
    }
    window.formulaButton(4)->click(); // another formula's view, left out
    window.boxes().write(boxTexts("90", "1", "64"));
    window.formulaButton(0)->click();
    QTemporaryDir folder;
    const QString target = format == int(spirell::video::OutputKind::PngFrames)
                               ? folder.path()
                               : folder.filePath("flight.mp4");
    int reader = -1;
    // Read to its end, the writer let go ends too.
    const auto drainReader = qScopeGuard([&] {
        if (reader < 0)
            return;
        ::fcntl(reader, F_SETFL, 0);
        char buffer[65536];
        while (::read(reader, buffer, sizeof buffer) > 0) {
        }
        ::close(reader);
    });
    if (fifo) {
        const QByteArray first = QFile::encodeName(folder.filePath("frame-00000.png"));
        QCOMPARE(::mkfifo(first.constData(), 0600), 0);
        reader = ::open(first.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        ::fcntl(reader, F_SETPIPE_SZ, 4096); // the least a pipe holds: the writer soon waits
    }
    const bool stale = format == int(spirell::video::OutputKind::PngFrames) && !fifo;
    if (stale)
        writeFile(folder.filePath("frame-00005.png"), "earlier");
    MessageBoxWatcher messages;
    window.animationExport().setChooser(
        [&](const QString&, const QString&, spirell::video::OutputKind) { return target; });
    QString leftOut;
    QString offered;
    QTimer dialogs;
    QObject::connect(&dialogs, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<AnimationDialog*>(QApplication::activeModalWidget())) {
            if (auto* note = dialog->findChild<QLabel*>("animationLeftOut"))
                leftOut = note->text();
            dialog->setSecondsPerMove(seconds);
            dialog->setFramesPerSecond(2);
            dialog->setFormat(spirell::video::OutputKind(format));
            offered = dialog->findChild<QComboBox*>("animationFrame")->itemText(0);
            dialog->setFrame(cancel ? 1 : 0); // 1280 x 720: long enough to cancel
            dialog->accept();
        }
    });
    dialogs.start(5);
    window.animationExport().action()->trigger();
    QVERIFY(leftOut.startsWith("1 of the views"));
    QCOMPARE(offered, ownFrame);
    QVERIFY(window.animationExport().task());
    // The task is deleted once its finished signal is over, not inside it.
    const QPointer<BackgroundTask> task =
        const_cast<BackgroundTask*>(window.animationExport().task());
    bool heardAfterTheExport = false;
    QObject::connect(task, &BackgroundTask::finished, [&] { heardAfterTheExport = true; });
    if (cancel) {
        auto* progress = window.findChild<QProgressDialog*>("animationProgress");
        QVERIFY(progress);
        // The first frame waits for the FIFO's reader: no frame is ever done.
        if (fifo)
            QTest::qWait(500);
        else
            QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, 30000);
        progress->findChild<QPushButton*>()->click(); // as the user cancels
    }
    // A write that waits on a reader is let go at once.
    QTRY_VERIFY_WITH_TIMEOUT(!window.animationExport().task(), fifo ? 1500 : 60000);
    QVERIFY(window.animationExport().action()->isEnabled());
    QTRY_VERIFY(!task);
    QVERIFY(heardAfterTheExport);
    QCOMPARE(entries(folder.path()).size(), files);
    QTRY_COMPARE(messages.boxes.size(), std::size_t(stale ? 1 : 0));
    if (stale)
        QVERIFY2(messages.boxes[0].text.contains("frame-00005.png on (1) are not this flight's"),
                 qPrintable(messages.boxes[0].text));
    // The last frame is the middle of the current view's 64 x 64 picture,
    // in the first view's frame, whose odd pixel goes to the right and the
    // bottom.
    if (!cancel)
        QCOMPARE(QImage(folder.filePath("frame-00004.png")).convertToFormat(QImage::Format_RGB32),
                 shownPicture(window).copy(8, 8, 47, 47));
}

QTEST_MAIN(ExploringWindowTest)
#include "test_exploring_window.moc"
