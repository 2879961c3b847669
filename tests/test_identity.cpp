// What the programs say about themselves: their version, their homepage, their
// icon and their answers to --help and --version.

#include "ProgramInfo.hpp"
#include "app/MainWindow.hpp"
#include "app/StartupOptions.hpp"
#include "cli/CommandLine.hpp"

#include <QIcon>
#include <QLabel>
#include <QProcess>
#include <QUrl>
#include <QtTest>

#include <memory>

using namespace spirell;
using namespace spirell::app;
using namespace spirell::cli;

namespace {

enum class Answer { Version, Help, NoDisplay };

struct Run {
    int status = -1;
    bool crashed = false;
    QString output;
    QString errors;
};

// Runs a program as if no desktop were there: Qt may only use X11, and no X11
// display is named, so anything that opens a window fails.
Run runWithoutDisplay(const QString& program, const QStringList& arguments,
                      const QStringList& environment) {
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.remove("DISPLAY");
    variables.remove("WAYLAND_DISPLAY");
    variables.insert("QT_QPA_PLATFORM", "xcb");
    for (const QString& entry : environment)
        variables.insert(entry.section('=', 0, 0), entry.section('=', 1));
    QProcess process;
    process.setProcessEnvironment(variables);
    process.start(program, arguments);
    if (!process.waitForFinished(30000))
        qFatal("%s did not finish", qPrintable(program));
    return {process.exitCode(), process.exitStatus() == QProcess::CrashExit,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

std::vector<std::string> toStrings(const QStringList& list) {
    std::vector<std::string> strings;
    for (const QString& item : list)
        strings.push_back(item.toStdString());
    return strings;
}

// Whether some pixel lies within a small distance of the colour in every
// channel, as the middle of an anti-aliased stroke does.
bool hasPixelNear(const QImage& image, QRgb colour) {
    constexpr int kTolerance = 40;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 255 && std::abs(qRed(pixel) - qRed(colour)) <= kTolerance &&
                std::abs(qGreen(pixel) - qGreen(colour)) <= kTolerance &&
                std::abs(qBlue(pixel) - qBlue(colour)) <= kTolerance)
                return true;
        }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(StartupRequest)

class IdentityTest : public QObject {
    Q_OBJECT
private slots:
    void versionIsTheProjectVersion();
    void windowShowsTheVersion();
    void homepageIsTheProjectHomepage();

    void startupRequest_data();
    void startupRequest();
    void windowProgramAnswersWithoutADisplay_data();
    void windowProgramAnswersWithoutADisplay();

    void renderToolCommandLine_data();
    void renderToolCommandLine();
    void renderToolAnswersVersion_data();
    void renderToolAnswersVersion();

    void iconIsTheSpiralOnTheWindowGrey_data();
    void iconIsTheSpiralOnTheWindowGrey();
    void windowShowsTheIcon();
};

void IdentityTest::versionIsTheProjectVersion() {
    QCOMPARE(QString(kVersion), QString(SPIRELL_PROJECT_VERSION));
    QCOMPARE(QString::fromStdString(startupVersionText()),
             QString("spirell %1\n").arg(SPIRELL_PROJECT_VERSION));
}

void IdentityTest::windowShowsTheVersion() {
    const MainWindow window(drawing::computingFromEnvironment());
    const auto* label = window.findChild<QLabel*>("Label6");
    QVERIFY(label);
    // Three spaces between the word and the number, as the window always had.
    QCOMPARE(label->text(), QString("VERSION   %1").arg(SPIRELL_PROJECT_VERSION));
}

void IdentityTest::homepageIsTheProjectHomepage() {
    QCOMPARE(QString(kHomepageAddress), QString(SPIRELL_PROJECT_HOMEPAGE));
    // The caption of the window's link button.
    QCOMPARE(QString(kHomepageHost), QUrl(SPIRELL_PROJECT_HOMEPAGE).host());
}

void IdentityTest::startupRequest_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<StartupRequest>("request");
    QTest::newRow("none") << QStringList{} << StartupRequest::OpenWindow;
    QTest::newRow("Qt's own options")
        << QStringList{"-platform", "offscreen"} << StartupRequest::OpenWindow;
    QTest::newRow("unknown argument") << QStringList{"--versions"} << StartupRequest::OpenWindow;
    QTest::newRow("version") << QStringList{"--version"} << StartupRequest::ShowVersion;
    QTest::newRow("version after Qt's options")
        << QStringList{"-platform", "offscreen", "--version"} << StartupRequest::ShowVersion;
    QTest::newRow("help") << QStringList{"--help"} << StartupRequest::ShowHelp;
    QTest::newRow("short help") << QStringList{"-h"} << StartupRequest::ShowHelp;
    QTest::newRow("help before version")
        << QStringList{"--help", "--version"} << StartupRequest::ShowHelp;
    QTest::newRow("help after version")
        << QStringList{"--version", "--help"} << StartupRequest::ShowHelp;
}

void IdentityTest::startupRequest() {
    QFETCH(QStringList, arguments);
    QFETCH(StartupRequest, request);
    std::vector<std::string> strings = toStrings(arguments);
    strings.insert(strings.begin(), "spirell");
    std::vector<const char*> argv;
    for (const std::string& s : strings)
        argv.push_back(s.c_str());
    argv.push_back(nullptr);
    QCOMPARE(spirell::app::startupRequest(int(strings.size()), argv.data()), request);
}

void IdentityTest::windowProgramAnswersWithoutADisplay_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<Answer>("answer");
    // Without an answer to give, the program tries to open its window and
    // cannot: this shows that the others really run without a display.
    QTest::newRow("no arguments") << QStringList{} << QStringList{} << Answer::NoDisplay;
    QTest::newRow("version") << QStringList{"--version"} << QStringList{} << Answer::Version;
    QTest::newRow("help") << QStringList{"--help"} << QStringList{} << Answer::Help;
    QTest::newRow("short help") << QStringList{"-h"} << QStringList{} << Answer::Help;
    QTest::newRow("version with an unusable width")
        << QStringList{"--version"} << QStringList{"SPIRELL_SIMD=avx9"} << Answer::Version;
    QTest::newRow("help with an unusable thread count")
        << QStringList{"--help"} << QStringList{"SPIRELL_THREADS=0"} << Answer::Help;
}

void IdentityTest::windowProgramAnswersWithoutADisplay() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(Answer, answer);
    const Run run = runWithoutDisplay(SPIRELL_WINDOW_BINARY, arguments, environment);
    if (answer == Answer::NoDisplay) {
        QVERIFY(run.crashed || run.status != 0);
        QVERIFY(run.output.isEmpty());
        return;
    }
    QVERIFY(!run.crashed);
    QCOMPARE(run.status, 0);
    QCOMPARE(run.errors, QString());
    if (answer == Answer::Version) {
        QCOMPARE(run.output, QString("spirell %1\n").arg(SPIRELL_PROJECT_VERSION));
    } else {
        QCOMPARE(run.output, QString::fromStdString(startupHelpText()));
        QVERIFY(run.output.startsWith("Usage: spirell "));
        for (const char* variable : {"SPIRELL_SIMD", "SPIRELL_THREADS"})
            QVERIFY2(run.output.contains(variable), variable);
    }
}

void IdentityTest::renderToolCommandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("version");
    QTest::newRow("version alone") << QStringList{"--version"} << false << true;
    QTest::newRow("version without an output file")
        << QStringList{"ripple", "--version"} << false << true;
    QTest::newRow("version beside an unknown option")
        << QStringList{"--bogus", "--version"} << false << true;
    QTest::newRow("help wins") << QStringList{"--version", "--help"} << true << false;
    QTest::newRow("neither") << QStringList{"ripple", "-o", "a.png"} << false << false;
}

void IdentityTest::renderToolCommandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, help);
    QFETCH(bool, version);
    const cli::CommandLine line = cli::parseCommandLine(toStrings(arguments));
    QCOMPARE(line.help, help);
    QCOMPARE(line.version, version);
}

void IdentityTest::renderToolAnswersVersion_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::newRow("alone") << QStringList{"--version"} << QStringList{};
    QTest::newRow("with a formula and no output")
        << QStringList{"ripple", "--version"} << QStringList{};
    QTest::newRow("with an unusable thread count")
        << QStringList{"--version"} << QStringList{"SPIRELL_THREADS=0"};
}

void IdentityTest::renderToolAnswersVersion() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    const Run run = runWithoutDisplay(SPIRELL_RENDER_BINARY, arguments, environment);
    QVERIFY(!run.crashed);
    QCOMPARE(run.status, 0);
    QCOMPARE(run.errors, QString());
    QCOMPARE(run.output, QString("spirell-render %1\n").arg(SPIRELL_PROJECT_VERSION));
}

void IdentityTest::iconIsTheSpiralOnTheWindowGrey_data() {
    QTest::addColumn<int>("size");
    for (const int size : {24, 32, 64, 256})
        QTest::addRow("%d px", size) << size;
}

void IdentityTest::iconIsTheSpiralOnTheWindowGrey() {
    QFETCH(int, size);
    const QIcon icon(kIconResource);
    QVERIFY2(!icon.isNull(), "the icon resource is missing or Qt cannot read SVG");
    const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
    QCOMPARE(image.size(), QSize(size, size));

    int grey = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            grey += image.pixel(x, y) == qRgb(64, 64, 64);
    QVERIFY2(grey > size * size / 4, qPrintable(QString("%1 grey pixels").arg(grey)));
    for (const QRgb arm :
         {qRgb(255, 0, 0), qRgb(255, 255, 0), qRgb(0, 255, 255), qRgb(128, 128, 255)})
        QVERIFY2(hasPixelNear(image, arm), qPrintable(QString::number(arm & 0xffffff, 16)));
}

void IdentityTest::windowShowsTheIcon() {
    const MainWindow window(drawing::computingFromEnvironment());
    const QImage shown = window.windowIcon().pixmap(QSize(32, 32), 1.0).toImage();
    QVERIFY(!shown.isNull());
    QCOMPARE(shown, QIcon(kIconResource).pixmap(QSize(32, 32), 1.0).toImage());
}

QTEST_MAIN(IdentityTest)
#include "test_identity.moc"
