// spirell-render, run as a user would and checked against the window's
// drawing frame: its options, its files, its errors, its threads and --from.
#include "files/OutputFile.hpp"
#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"
#include "image/PosterParts.hpp"
#include "lanes/InstructionSets.hpp"
#include "support/PngChunks.hpp"
#include "support/RecordingSurface.hpp"
#include "support/RendererRuns.hpp"
#include "support/TestPrinting.hpp"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <map>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/vfs.h>
#include <thread>
#include <unistd.h>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::formulas;
using namespace spirell::drawing;
using namespace spirell::testing;
using namespace spirell::files;
using namespace spirell::image;

namespace {

// A formula of one's own, with a setting and a comment.
const QString kMyFormula = "# mine\nred = sin(X * zoom / 30)\ngreen = cos(Y / 20) * 0.5\n"
                           "blue = 0.3\norigin: corner\n";

// Runs the renderer under GNU time, which forks it afresh and so measures
// the renderer alone, and gives its exit status and peak resident memory in KiB.
std::pair<int, long> runMeasured(const QStringList& arguments, const QString& folder) {
    const QString report = folder + "/peak.txt";
    QProcess process;
    // AddressSanitizer keeps up to 256 MiB of freed memory by default, which
    // would count as the program's own.
    process.setProcessEnvironment(environmentWith({withSanitizerOptions("quarantine_size_mb=4")}));
    process.start("/usr/bin/time",
                  QStringList{"-f", "%M", "-o", report, SPIRELL_RENDER_BINARY} + arguments);
    if (!process.waitForFinished(120000))
        qFatal("spirell-render did not finish");
    const long peak = QString::fromLatin1(fileBytes(report)).trimmed().toLong();
    QFile::remove(report);
    return {process.exitCode(), peak};
}

QStringList boxArguments(const BoxTexts& boxes) {
    QStringList arguments;
    for (const BoxDescription& box : kBoxTable)
        arguments << box.option << QString::fromStdString(boxes.*box.member);
    return arguments;
}

// The image as the window's drawing frame makes it.
QImage frameImage(const Formula& formula, const BoxTexts& boxes, int width, int height) {
    const RecordingSurface surface = drawFromBoxes(formula, boxes);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (const auto& pixel : surface.pixels) {
        const int c = pixel.x;
        const int r = pixel.y;
        if (c < 0 || r < 0 || c >= width || r >= height)
            qFatal("the frame drew outside the expected image");
        image.setPixel(c, r, qRgb(pixel.colour.red, pixel.colour.green, pixel.colour.blue));
    }
    if (surface.pixels.size() != std::size_t(width) * height ||
        surface.latest.size() != surface.pixels.size())
        qFatal("the frame did not draw every pixel exactly once");
    return image;
}

// The first pixel at which two images of one size differ, for a readable failure.
QString firstDifference(const QImage& actual, const QImage& expected) {
    for (int r = 0; r < actual.height(); ++r)
        for (int c = 0; c < actual.width(); ++c)
            if (actual.pixel(c, r) != expected.pixel(c, r))
                return QString("pixel (%1, %2) is %3, expected %4")
                    .arg(c)
                    .arg(r)
                    .arg(actual.pixel(c, r) & 0xffffff, 6, 16, QChar('0'))
                    .arg(expected.pixel(c, r) & 0xffffff, 6, 16, QChar('0'));
    return {};
}

// A PNG with the settings of "aries --x 0.5 --size 12" in text chunks of one
// kind, but for the chunks given in place of some keys' texts, and more chunks
// after them.
QByteArray settingsPng(const QString& kind, const QMap<QByteArray, QByteArray>& replaced = {},
                       const QList<QByteArray>& more = {}) {
    ImageSettings settings;
    settings.boxes = boxTexts("0.5", "1", "12");
    QList<QByteArray> chunks;
    for (const auto& [key, text] : storedTexts("aries", settings)) {
        const QByteArray name = QByteArray::fromStdString(key);
        if (name.startsWith("spirell:"))
            chunks.append(
                replaced.value(name, textChunk(kind, name, QByteArray::fromStdString(text))));
    }
    return pngWith(chunks + more);
}

// What a writer sends through a FIFO, read through a descriptor opened
// without waiting before the writer started, until the writer has ended and
// the FIFO is empty.
QByteArray readFifoToTheEnd(int descriptor, QProcess& writer) {
    QByteArray bytes;
    bool ended = false;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        pollfd ready = {descriptor, POLLIN, 0};
        ::poll(&ready, 1, 10);
        char buffer[65536];
        const ssize_t length = ::read(descriptor, buffer, sizeof buffer);
        if (length > 0) {
            bytes.append(buffer, length);
            continue;
        }
        // Nothing yet, or nothing more: the writer has not opened the FIFO,
        // is busy, or has ended.
        if (length == 0 && ended)
            break;
        ended = ended || writer.waitForFinished(0) || writer.state() == QProcess::NotRunning;
    }
    return bytes;
}
} // namespace

class RenderToolTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void imageIsTheWindowDrawing_data();
    void imageIsTheWindowDrawing();
    void scaleTwoSamplesBetweenThePlainPixels();
    void badInputFailsAndLeavesNothing_data();
    void badInputFailsAndLeavesNothing();
    void signalLeavesNothingBehind_data();
    void signalLeavesNothingBehind();
    void outputTargets_data();
    void outputTargets();
    void newFileGetsTheUmask_data();
    void newFileGetsTheUmask();
    void limitsLeaveTheImageWholeOrRefused_data();
    void limitsLeaveTheImageWholeOrRefused();
    void memoryEstimateHoldsThePeak_data();
    void memoryEstimateHoldsThePeak();
    void fullDiskIsAFailure_data();
    void fullDiskIsAFailure();
    void threadsStayWithinTheCores();
    void fromReadsOnlyItsOwnTexts_data();
    void fromReadsOnlyItsOwnTexts();
    void formulaTextsPaintAgainFromTheirPicture_data();
    void formulaTextsPaintAgainFromTheirPicture();
    void renderingFromAnImageGivesTheSameFile_data();
    void renderingFromAnImageGivesTheSameFile();
    void environmentChoosesWidthAndThreads_data();
    void environmentChoosesWidthAndThreads();
    void partsJoinIntoTheOneMachineFile_data();
    void partsJoinIntoTheOneMachineFile();

private:
    QTemporaryDir inputs_;
};

// Input files for the tests of bad input, made once.
void RenderToolTest::initTestCase() {
    QVERIFY(inputs_.isValid());
    const auto path = [&](const char* name) { return inputs_.filePath(name); };
    writeFile(path("notes.txt"), "not an image\n");
    writeFile(path("mine.txt"), kMyFormula.toUtf8());
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(path("plain.png")));
    writeFile(path("truncated.png"), fileBytes(path("plain.png")).left(12));
    const auto storedImage = [&](const char* name, const char* formula, bool withScale,
                                 const char* frame = nullptr) {
        QImage stored = image;
        for (const auto& [key, text] : storedTexts(formula, ImageSettings{}))
            if (withScale || key != keys::scale)
                stored.setText(QString::fromStdString(key), QString::fromStdString(text));
        if (frame)
            stored.setText("spirell:frame", frame);
        QVERIFY(stored.save(path(name)));
    };
    storedImage("noscale.png", "aries", false);
    // Keyframes: the stored settings are all an animation reads of them.
    storedImage("key1.png", "aries", true);
    storedImage("key2.png", "0", true);
    storedImage("ember.png", "blood", true);
    storedImage("badframe.png", "aries", true, "12 x 12");
    storedImage("unknown.png", "zebra", true);

    QVERIFY(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600) == 0);
    // A bound socket stays in the folder as a socket file once closed.
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(path("socket"));
    QVERIFY(std::size_t(socketPath.size()) < sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.constData(), std::size_t(socketPath.size()));
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(socket);
    QVERIFY(bound);

    // A few kilobytes that inflate to 8 MiB under one of the program's keys.
    writeFile(path("bomb.png"),
              settingsPng("tEXt", {{"spirell:x",
                                    textChunk("zTXt", "spirell:x", QByteArray(8 << 20, '1'))}}));
    QMap<QByteArray, QByteArray> wordy;
    for (const QByteArray key :
         {"spirell:x", "spirell:y", "spirell:size", "spirell:zoom", "spirell:brightness"})
        wordy[key] = textChunk("zTXt", key, QByteArray(60 << 10, '1'));
    writeFile(path("wordy.png"), settingsPng("tEXt", wordy));
    // Random characters hardly compress: the chunk stays over a mebibyte.
    QByteArray noise(2 << 20, ' ');
    for (char& c : noise)
        c = char(QRandomGenerator::global()->bounded(' ', '~'));
    writeFile(path("huge.png"), settingsPng("tEXt", {}, {textChunk("zTXt", "Comment", noise)}));
    // A compressed stream cut short.
    writeFile(
        path("damaged.png"),
        settingsPng("tEXt", {{"spirell:x", pngChunk("zTXt", QByteArray("spirell:x\0\0", 11) +
                                                                zlibStream("12").chopped(3))}}));
    writeFile(path("critical.png"), settingsPng("tEXt", {}, {pngChunk("RUST", "needed")}));
    // Keyframes of two formula texts.
    for (const auto& [name, text] : {std::pair{"mine.png", "red = X\ngreen = X\nblue = X\n"},
                                     {"yours.png", "red = Y\ngreen = Y\nblue = Y\n"}})
        writeFile(path(name),
                  settingsPng("tEXt", {}, {textChunk("tEXt", "spirell:formula-text", text)}));
    // A poster in three parts, and parts that do not join with them.
    const QStringList poster{"ripple", "--size", "600", "--quiet"};
    QCOMPARE(runRenderer(poster + QStringList{"-o", path("whole.png")}).status, 0);
    for (const QString part : {"0", "1", "2"})
        QCOMPARE(runRenderer(poster + QStringList{"--part", part + "/3", "-o",
                                                  path(qPrintable("part-" + part + ".png"))})
                     .status,
                 0);
    QCOMPARE(
        runRenderer(poster + QStringList{"--zoom", "2", "--part", "1/3", "-o", path("other-1.png")})
            .status,
        0);
    const QByteArray middlePart = fileBytes(path("part-1.png"));
    writeFile(path("cut-1.png"), middlePart.left(middlePart.size() / 2));
    QByteArray flipped = middlePart;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x10);
    writeFile(path("flipped-1.png"), flipped);
    // A formula text that stops short, as a hostile picture may hold one.
    writeFile(path("badformula.png"),
              settingsPng("tEXt", {}, {textChunk("tEXt", "spirell:formula-text", "red = sin(")}));
    writeFile(path("hostile.png"),
              settingsPng("tEXt",
                          {{"spirell:formula", textChunk("tEXt", "spirell:formula",
                                                         "\x9b\xff\x07" + QByteArray(200, 'x'))}}));
}

void RenderToolTest::imageIsTheWindowDrawing_data() {
    QTest::addColumn<QString>("formula");
    QTest::addColumn<BoxTexts>("view");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("aries, start-up view") << "aries" << BoxTexts{} << 150 << 150;
    // 768 is the one size drawn wider than high.
    QTest::newRow("aries, size 768") << "aries" << boxTexts("1", "1", "768") << 1024 << 768;
    QTest::newRow("aries, size 768 by other text")
        << "aries" << boxTexts("-40", "12", " 7.68E2") << 1024 << 768;
    for (const Formula& formula : formulaCatalogue()) {
        const QString name = formula.routine;
        // A quarter position gives fractional world coordinates in both loops.
        QTest::addRow("%s, quarter position", formula.routine)
            << name << boxTexts("0.25", "-3.75", "41") << 41 << 41;
        QTest::addRow("%s, half size, zoom and brightness", formula.routine)
            << name << boxTexts("-7", "300", "20.5", "2.5", "90") << 20 << 20;
        QTest::addRow("%s, far position", formula.routine)
            << name << boxTexts("1234567.125", "-98765.5", "17", "0.3") << 17 << 17;
    }
}

void RenderToolTest::imageIsTheWindowDrawing() {
    QFETCH(QString, formula);
    QFETCH(BoxTexts, view);
    QFETCH(int, width);
    QFETCH(int, height);
    QTemporaryDir folder;
    const QString output = folder.filePath("image.png");

    const RendererRun run =
        runRenderer(QStringList{formula, "-o", output, "--quiet"} + boxArguments(view));
    QVERIFY2(run.status == 0 && !run.crashed, qPrintable(run.errors));

    const QImage image(output, "PNG");
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(width, height));
    const QImage expected = frameImage(*findFormula(formula.toStdString()), view, width, height);
    const QString difference =
        firstDifference(image.convertToFormat(QImage::Format_RGB32), expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void RenderToolTest::scaleTwoSamplesBetweenThePlainPixels() {
    QTemporaryDir folder;
    const BoxTexts view = boxTexts("0.25", "-3", "19", "1.5");
    const QStringList common = QStringList{"aries", "--quiet"} + boxArguments(view);
    QCOMPARE(runRenderer(common + QStringList{"-o", folder.filePath("plain.png")}).status, 0);
    QCOMPARE(
        runRenderer(common + QStringList{"-o", folder.filePath("two.png"), "--scale", "2"}).status,
        0);
    const QImage plain(folder.filePath("plain.png"));
    const QImage scaled(folder.filePath("two.png"));
    QCOMPARE(scaled.size(), plain.size() * 2);

    // Sub-pixels in between lie half a world unit on; a stretched plain image
    // would repeat the plain colours there instead.
    const Formula& aries = formulaNamed("aries");
    const ViewParams params = readView(aries, view);
    std::vector<double> xs, ys;
    columnRange(params).forEach([&](std::int64_t, double X) {
        xs.push_back(X);
        return true;
    });
    rowRange(params).forEach([&](std::int64_t, double Y) {
        ys.push_back(Y);
        return true;
    });
    QCOMPARE(int(xs.size()), plain.width());
    int repeated = 0;
    for (int r = 0; r < plain.height(); ++r)
        for (int c = 0; c < plain.width(); ++c) {
            QCOMPARE(scaled.pixel(2 * c, 2 * r), plain.pixel(c, r));
            const Colour between = pixelColour(aries, params, xs[c] + 0.5, ys[r] + 0.5);
            QCOMPARE(scaled.pixel(2 * c + 1, 2 * r + 1),
                     qRgb(between.red, between.green, between.blue));
            repeated += scaled.pixel(2 * c + 1, 2 * r + 1) == plain.pixel(c, r);
        }
    QVERIFY(repeated < plain.width() * plain.height() / 2);
}

void RenderToolTest::badInputFailsAndLeavesNothing_data() {
    // {out} is a file in the empty target folder {folder}, {in} a folder of input
    // files, {keys} "--animate" with two keyframes. Without -o, the row writes to {out}.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* name, QStringList arguments, const char* message) {
        if (!arguments.contains("-o"))
            arguments << "-o"
                      << "{out}";
        QTest::newRow(name) << arguments << QString(message);
    };
    QTest::newRow("missing output") << QStringList{"aries"} << QString("no output file");
    row("unknown formula", {"nonesuch"}, "unknown formula \"nonesuch\"");
    row("index out of range", {"19"}, "unknown formula \"19\"");
    row("unknown option", {"aries", "--colour", "red"}, "unknown option --colour");
    row("missing option value", {"aries", "-o", "{out}", "--size"}, "--size needs a value");
    row("missing formula", {"-o", "{out}"}, "no formula");
    row("second formula", {"aries", "blood"}, "unexpected argument \"blood\"");
    row("position overflows", {"aries", "--x", "1e400"}, "--x \"1e400\"");
    row("hexadecimal brightness overflows", {"aries", "--brightness", "&H" + QString(300, 'F')},
        "--brightness");
    row("zoom overflows once multiplied", {"aries", "--zoom", "1e308"}, "Overflow");
    row("size zero", {"aries", "--size", "0"}, "nothing to draw");
    row("size below one", {"aries", "--size", "0.9"}, "nothing to draw");
    row("size not a number", {"aries", "--size", "big"}, "nothing to draw");
    row("size with a line feed", {"aries", "--size", "0\n.5"}, "\"0\\n.5\"");
    row("more than 2^31 pixels", {"aries", "--size", "46341"}, "2147483648 pixels");
    row("more than 2^31 pixels after scale", {"aries", "--size", "23171", "--scale", "2"},
        "2147483648 pixels");
    row("scale zero", {"aries", "--scale", "0"}, "--scale needs a whole number");
    row("scale fractional", {"aries", "--scale", "1.5"}, "--scale");
    row("threads zero", {"aries", "--threads", "0"}, "--threads");
    row("folder missing", {"aries", "-o", "{folder}/missing/image.png"}, "cannot write");
    row("output is a folder", {"aries", "-o", "."}, "folder");
    row("from a missing file", {"--from", "{in}/absent.png"}, "cannot read");
    row("from a text file", {"--from", "{in}/notes.txt"}, "not a PNG");
    row("from a truncated PNG", {"--from", "{in}/truncated.png"}, "not a readable");
    row("from a PNG without settings", {"--from", "{in}/plain.png"}, "spirell:formula");
    row("from a PNG without a scale", {"--from", "{in}/noscale.png"}, "spirell:scale");
    row("from a PNG with an unknown formula", {"--from", "{in}/unknown.png"},
        "unknown formula \"zebra\"");
    row("from a FIFO", {"--from", "{in}/fifo"}, "not a regular file");
    row("from a folder", {"--from", "{in}"}, "folder");
    row("from a compressed text bomb", {"--from", "{in}/bomb.png"},
        "\"spirell:x\" text longer than 64 KiB");
    row("from a PNG with too much settings text", {"--from", "{in}/wordy.png"},
        "more than 256 KiB");
    row("from a PNG with a huge chunk", {"--from", "{in}/huge.png"}, "chunk longer than 1 MiB");
    row("from a PNG with a damaged text", {"--from", "{in}/damaged.png"}, "damaged \"spirell:x\"");
    row("from a PNG with an unknown critical chunk", {"--from", "{in}/critical.png"},
        "unknown critical chunk");
    row("output is a socket", {"aries", "-o", "{in}/socket"}, "socket");
    // Refused at once rather than waited for.
    row("output is a FIFO without a reader", {"aries", "-o", "{in}/fifo"},
        "no program is reading the FIFO");
    row("frame without a height", {"aries", "--frame", "12"}, "--frame needs WIDTHxHEIGHT");
    row("frame of no columns", {"aries", "--frame", "0x5"}, "not \"0x5\"");
    row("frame side beyond 31 bits", {"aries", "--frame", "2147483648x1"}, "from 1 to 2147483647");
    row("frame of more than 2^31 pixels", {"aries", "--frame", "65536x32769"},
        "--frame 65536x32769 would make an image of more than 2147483648 pixels");
    row("animate one keyframe", {"--animate", "{in}/key1.png", "-o", "{folder}/frames/"},
        "--animate needs at least two keyframes, not 1");
    row("animate a missing keyframe",
        {"--animate", "{in}/key1.png", "{in}/absent.png", "-o", "{folder}/frames/"}, "cannot read");
    row("animate a text file",
        {"--animate", "{in}/key1.png", "{in}/notes.txt", "-o", "{folder}/flight.mp4"},
        "notes.txt is not a PNG");
    row("animate a picture not of ours",
        {"--animate", "{in}/plain.png", "{in}/key1.png", "-o", "{folder}/flight.mkv"},
        "plain.png holds no \"spirell:formula\"");
    row("animate two formulas", {"{keys}", "{in}/ember.png", "-o", "{folder}/f%d.png"},
        "ember.png paints \"ember\", not \"ripple\"");
    row("animate with a formula", {"ripple", "{keys}", "-o", "{folder}/flight.mp4"},
        "--animate takes keyframes, not the formula \"ripple\"");
    row("animate with --from", {"{keys}", "--from", "{in}/key1.png", "-o", "{folder}/flight.mp4"},
        "--animate takes keyframes, not --from");
    row("animate with a box", {"{keys}", "--zoom", "2", "-o", "{folder}/flight.mp4"},
        "--zoom cannot go with --animate");
    row("animate more than 100000 frames",
        {"{keys}", "{in}/key1.png", "--seconds", "250", "--fps", "240", "-o", "{folder}/frames/"},
        "more than 100000 frames");
    row("animate into an unknown kind of file", {"{keys}", "-o", "{folder}/flight.avi"},
        "cannot tell what to write");
    row("animate lossless MP4", {"{keys}", "--lossless", "-o", "{folder}/flight.mp4"}, "\".mkv\"");
    row("animate into frame names with two numbers", {"{keys}", "-o", "{folder}/f%d-%04d.png"},
        "after its number");
    row("animate a video too wide", {"{keys}", "--frame", "16385x2", "-o", "{folder}/flight.mkv"},
        "a video's sides must be 2 to 16384 pixels, not 16385x2");
    row("animate H.264 past its highest level",
        {"{keys}", "--frame", "9216x4096", "-o", "{folder}/flight.mp4"},
        "at most 139264 blocks of 16 x 16 pixels");
    row("animate to standard output", {"{keys}", "-o", "-"}, "cannot tell what to write");
    row("seconds without an animation", {"aries", "--seconds", "2"},
        "--seconds belongs to an animation");
    row("no seconds", {"{keys}", "--seconds", "0", "-o", "{folder}/flight.mp4"},
        "--seconds needs a number of seconds above 0");
    row("frame rate too high", {"{keys}", "--fps", "241", "-o", "{folder}/flight.mp4"},
        "--fps needs a whole number from 1 to 240");
    row("from a PNG with a bad frame", {"--from", "{in}/badframe.png"},
        "holds a bad frame \"12 x 12\"");
    // Escape sequences, C1 controls and bytes that are not UTF-8 would reach the
    // terminal; the text is escaped and cut short.
    row("hostile formula name", {"\x1b[2J\u009b" + QString(300, 'x') + "end"},
        "unknown formula \"\\x1b[2J\\xc2\\x9bxxx");
    row("hostile option", {"aries", "--\u202e" + QString(200, 'o')},
        "unknown option --\\xe2\\x80\\xaeooo");
    row("hostile text in a file", {"--from", "{in}/hostile.png"},
        "unknown formula \"\\x9b\\xff\\x07x");
    row("formula text cut short", {"--formula", "red = (X"},
        "the formula text: line 1, column 9: expected \")\", found the end of the text");
    row("formula text without blue", {"--formula", "red = X\ngreen = Y"},
        "line 2, column 10: the text defines no blue mixture");
    row("formula name and text", {"aries", "--formula", "red = X"},
        "give a formula name or a formula text, not both");
    row("two formula texts", {"--formula", "red = X", "--formula-file", "{in}/notes.txt"},
        "give one formula text");
    row("animate a part into a video", {"{keys}", "--part", "0/2", "-o", "{folder}/f.mkv"},
        "--part paints a share of a flight's PNG frames");
    row("animate in more parts than frames",
        {"{keys}", "--seconds", "0.1", "--fps", "10", "--part", "2/3", "-o", "{folder}/frames/"},
        "a flight of 2 frames cannot be cut into 3 parts");
    row("frames from, into frames", {"{keys}", "--frames-from", "{in}", "-o", "{folder}/frames/"},
        "--frames-from goes with a video");
    row("frames from without an animation", {"aries", "--frames-from", "{in}"},
        "--frames-from belongs to an animation");
    row("random seed not a number", {"--random", "-1"}, "--random needs a seed");
    row("random seed beyond 64 bits", {"--random", "18446744073709551616"},
        "--random needs a seed");
    row("animate two formula texts",
        {"--animate", "{in}/mine.png", "{in}/yours.png", "-o", "{folder}/f.mp4"},
        "yours.png paints another formula text than");
    row("formula file missing", {"--formula-file", "{in}/absent.txt"},
        "cannot read the formula file");
    row("formula file not a formula", {"--formula-file", "{in}/notes.txt"}, "the formula file");
    row("from a PNG with a formula text cut short", {"--from", "{in}/badformula.png"},
        "the formula text: line 1, column 11");
    row("animate with a formula text", {"{keys}", "--formula", "red = X", "-o", "{folder}/f.mp4"},
        "--animate takes keyframes, whose pictures hold the formula");
    row("join a part missing", {"--join", "{in}/part-2.png", "{in}/part-0.png"},
        "part 1/3 is missing");
    row("join a part twice",
        {"--join", "{in}/part-0.png", "{in}/part-1.png", "{in}/part-2.png", "{in}/part-1.png"},
        "part 1/3 is given twice");
    row("join a part of another view",
        {"--join", "{in}/part-0.png", "{in}/other-1.png", "{in}/part-2.png"},
        "other-1.png is not a part of the picture of");
    row("join a part cut short", {"--join", "{in}/part-0.png", "{in}/cut-1.png", "{in}/part-2.png"},
        "cut-1.png is cut short");
    row("join a part with a byte changed",
        {"--join", "{in}/part-0.png", "{in}/flipped-1.png", "{in}/part-2.png"},
        "flipped-1.png is damaged");
    row("join a picture that is no part", {"--join", "{in}/whole.png"},
        "whole.png is not a part of a poster");
    row("join with a view", {"--join", "{in}/part-0.png", "--zoom", "2"},
        "--join takes the parts and -o alone");
    row("join nothing", {"--join"}, "--join needs the parts");
    row("more parts than pieces", {"ripple", "--size", "600", "--part", "0/99"},
        "--part 0/99: an image of 600 x 600 pixels has");
    row("part not below their count", {"aries", "--part", "3/3"}, "--part needs I/N");
    row("part malformed", {"aries", "--part", "1of3"}, "not \"1of3\"");
}

void RenderToolTest::badInputFailsAndLeavesNothing() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QTemporaryDir target;
    const QString inputs = inputs_.path();

    QStringList expanded;
    for (const QString& argument : arguments)
        expanded << (argument == "{keys}"
                         ? QStringList{"--animate", "{in}/key1.png", "{in}/key2.png"}
                         : QStringList{argument});
    for (QString& argument : expanded)
        argument.replace("{out}", target.filePath("image.png"))
            .replace("{folder}", target.path())
            .replace("{in}", inputs);
    const RendererRun run = runRenderer(expanded, target.path());

    QCOMPARE(run.status, 2);
    QVERIFY(!run.crashed);
    QVERIFY2(isOneErrorLine(run.errors, message), qPrintable(run.errors));
    QCOMPARE(entries(target.path()), QStringList());

    // Whatever the input, the line is short, valid UTF-8 and free of control characters.
    const QByteArray& line = run.errorBytes;
    QVERIFY2(line.size() <= 400, line.constData());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(line.chopped(1));
    QVERIFY(!utf8.hasError());
    for (const QChar c : decoded)
        QVERIFY2(c.isPrint(), line.constData());
}

void RenderToolTest::signalLeavesNothingBehind_data() {
    QTest::addColumn<int>("signal");
    // How it comes: "kill", "kill, ignored first" (as under nohup, and then
    // SIGTERM ends the program), "CPU time limit" or "reader gone" (the image
    // goes to a FIFO elsewhere, whose reader closes it).
    QTest::addColumn<QString>("cause");
    // Whether the file is made without a name (O_TMPFILE), or as a hidden
    // temporary file, as on a file system that cannot.
    QTest::addColumn<bool>("unnamed");
    QTest::addColumn<QString>("parent"); // where the folder is made, when not in the usual place
    QTest::addColumn<QString>("part");   // --part, run again to the end afterwards
    const auto row = [](const QString& name, int signal, const char* cause, bool unnamed,
                        const char* parent = "", const char* part = "") {
        QTest::newRow(qPrintable(QString(unnamed ? "unnamed, " : "named, ") + name))
            << signal << QString(cause) << unnamed << QString(parent) << QString(part);
    };
    // Without a name nothing is left whatever ends the program, SIGKILL and
    // the out-of-memory kill included.
    row("SIGINT", SIGINT, "kill", true);
    row("SIGKILL", SIGKILL, "kill", true);
    row("SIGKILL on a tmpfs", SIGKILL, "kill", true, "/dev/shm");
    row("SIGHUP under nohup", SIGHUP, "kill, ignored first", true);
    row("SIGKILL in a part", SIGKILL, "kill", true, "", "3/4");
    // Every signal whose default action ends the program removes a hidden file.
    const std::pair<const char*, int> fatal[] = {
        {"Ctrl-C (SIGINT)", SIGINT},    {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP},
        {"Ctrl-\\ (SIGQUIT)", SIGQUIT}, {"SIGXCPU", SIGXCPU}, {"SIGPIPE", SIGPIPE},
        {"SIGUSR1", SIGUSR1},           {"SIGUSR2", SIGUSR2}, {"SIGALRM", SIGALRM},
        {"SIGVTALRM", SIGVTALRM},       {"SIGPROF", SIGPROF}, {"SIGIO", SIGIO},
        {"SIGRTMIN", SIGRTMIN}};
    for (const auto& [name, signal] : fatal)
        row(name, signal, "kill", false);
    row("SIGXCPU from a CPU time limit", SIGXCPU, "CPU time limit", false);
    row("SIGHUP under nohup", SIGHUP, "kill, ignored first", false);
    row("SIGINT in a background job", SIGINT, "kill, ignored first", false);
    // SIGPIPE still ends a program whose reader went away.
    row("SIGPIPE when the FIFO's reader goes", SIGPIPE, "reader gone", true);
}

void RenderToolTest::signalLeavesNothingBehind() {
    QFETCH(int, signal);
    QFETCH(QString, cause);
    QFETCH(bool, unnamed);
    QFETCH(QString, parent);
    QFETCH(QString, part);
    struct statfs fileSystem = {};
    if (!parent.isEmpty() &&
        (::statfs(QFile::encodeName(parent), &fileSystem) != 0 || fileSystem.f_type != TMPFS_MAGIC))
        QSKIP("no tmpfs there");
    QTemporaryDir folder(parent.isEmpty() ? QDir::tempPath() + "/test_render_tool-XXXXXX"
                                          : parent + "/test_render_tool-XXXXXX");
    QVERIFY(folder.isValid());
    const bool ignoredFirst = cause == "kill, ignored first";
    const bool cpuLimit = cause == "CPU time limit";
    const bool readerGone = cause == "reader gone";
    QTemporaryDir pipes;
    const QByteArray pipe = QFile::encodeName(pipes.filePath("pipe"));
    const int reader = readerGone && ::mkfifo(pipe.constData(), 0600) == 0
                           ? ::open(pipe.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                           : -1;
    QVERIFY(reader >= 0 || !readerGone);

    QProcess process;
    process.setProcessEnvironment(environmentWith(unnamed ? QStringList() : withoutUnnamedFiles()));
    process.setChildProcessModifier([cpuLimit] {
        const rlimit none = {0, 0}; // SIGQUIT and SIGXCPU would leave a core file
        ::setrlimit(RLIMIT_CORE, &none);
        // As a shell starts it: Qt ignores SIGPIPE, and the ignored stays ignored.
        ::signal(SIGPIPE, SIG_DFL);
        if (cpuLimit) {
            const rlimit second = {1, 60};
            ::setrlimit(RLIMIT_CPU, &second);
        }
    });
    // Big enough to be still at work when the signal comes. The shell ignores
    // the signal, as nohup does, and exec keeps it ignored.
    QStringList render{SPIRELL_RENDER_BINARY,
                       "aries",
                       "--size",
                       cpuLimit ? "20000" : "8000",
                       "--threads",
                       "1",
                       "--quiet",
                       "-o",
                       readerGone ? pipes.filePath("pipe") : folder.filePath("poster.png")};
    if (!part.isEmpty())
        render << "--part" << part;
    if (ignoredFirst)
        process.start("/bin/sh",
                      QStringList{"-c", QString("trap '' %1; exec \"$0\" \"$@\"").arg(signal)} +
                          render);
    else
        process.start(render.first(), render.mid(1));
    QVERIFY(process.waitForStarted());
    const auto pid = pid_t(process.processId());

    if (readerGone) {
        pollfd ready = {reader, POLLIN, 0};
        QCOMPARE(::poll(&ready, 1, 10000), 1); // the image is on its way
        ::close(reader);
    } else {
        // At work on the file: without a name where the file system allows,
        // else under a hidden name beside the image's.
        const auto [descriptor, file] = awaitOpenFile(pid, folder.path());
        if (unnamed)
            QVERIFY2(QRegularExpression("^#\\d+ \\(deleted\\)$").match(file).hasMatch(),
                     qPrintable(file));
        else
            QVERIFY2(file.startsWith(".poster.png.") && entries(folder.path()) == QStringList{file},
                     qPrintable(file));
        if (ignoredFirst) {
            QVERIFY2(signalSet(pid, "SigIgn") & (quint64(1) << (signal - 1)),
                     "the signal is no longer ignored");
            ::kill(pid, signal); // does nothing
        }
        if (!cpuLimit)
            ::kill(pid, ignoredFirst ? SIGTERM : signal);
    }
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(process.exitCode(), ignoredFirst ? SIGTERM : signal); // still dies of the signal
    QCOMPARE(entries(folder.path()), QStringList());

    if (!part.isEmpty()) {
        // Run again, the part is made whole.
        const RendererRun again = runRenderer(render.mid(1));
        QVERIFY2(again.status == 0, qPrintable(again.errors));
        QCOMPARE(entries(folder.path()), QStringList{"poster.png"});
        const std::string made = folder.filePath("poster.png").toStdString();
        QCOMPARE(QString::fromStdString(readPngTexts(made, {keys::part})[keys::part]), part);
        const QByteArray header = fileBytes(folder.filePath("poster.png")).left(24);
        QVERIFY(isCompletePng(made, qFromBigEndian<quint32>(header.constData() + 16),
                              qFromBigEndian<quint32>(header.constData() + 20)));
    }
}

void RenderToolTest::outputTargets_data() {
    // Links made first (name, where to), the -o target, the exit status, where
    // the image ends up ("-": standard output) and the folder afterwards.
    // The folder also holds a FIFO "pipe" and a folder "sub"; "kept.png",
    // where named, exists beforehand with mode 0640.
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QStringList>("after");
    const QStringList none;
    QTest::newRow("standard output") << none << "-" << 0 << "-" << none;
    QTest::newRow("link to standard output")
        << QStringList{"out", "/dev/stdout"} << "out" << 0 << "-" << QStringList{"out"};
    QTest::newRow("FIFO") << none << "pipe" << 0 << "pipe" << none;
    QTest::newRow("link to /dev/null")
        << QStringList{"null", "/dev/null"} << "null" << 0 << "" << QStringList{"null"};
    QTest::newRow("link to /dev/full")
        << QStringList{"full", "/dev/full"} << "full" << 1 << "" << QStringList{"full"};
    QTest::newRow("file keeps its permissions")
        << none << "kept.png" << 0 << "kept.png" << QStringList{"kept.png"};
    QTest::newRow("link to a file") << QStringList{"link.png", "kept.png"} << "link.png" << 0
                                    << "kept.png" << QStringList{"kept.png", "link.png"};
    QTest::newRow("link to nothing yet") << QStringList{"link.png", "made.png"} << "link.png" << 0
                                         << "made.png" << QStringList{"link.png", "made.png"};
    QTest::newRow("link into a folder")
        << QStringList{"link.png", "sub/inner.png"} << "link.png" << 0 << "sub/inner.png"
        << QStringList{"link.png", "sub/inner.png"};
    const QString longName = QString(246, 'n') + ".png";
    QTest::newRow("250-character name")
        << none << longName << 0 << longName << QStringList{longName};
}

void RenderToolTest::outputTargets() {
    QFETCH(QStringList, links);
    QFETCH(QString, target);
    QFETCH(int, status);
    QFETCH(QString, image);
    QFETCH(QStringList, after);
    const QStringList view{"aries", "--size", "20", "--quiet"};
    QTemporaryDir reference, folder;
    QCOMPARE(runRenderer(view + QStringList{"-o", reference.filePath("image.png")}).status, 0);
    const auto local = [&](const QString& name) {
        return QFile::encodeName(folder.filePath(name));
    };

    QVERIFY(QDir(folder.path()).mkdir("sub"));
    for (int i = 0; i < links.size(); i += 2)
        QVERIFY(::symlink(QFile::encodeName(links[i + 1]).constData(), local(links[i])) == 0);
    if (after.contains("kept.png")) {
        writeFile(folder.filePath("kept.png"), "old");
        QVERIFY(::chmod(local("kept.png"), 0640) == 0);
    }
    QVERIFY(::mkfifo(local("pipe"), 0600) == 0);

    // The FIFO has its reader before the renderer opens it, which it does
    // without waiting for one.
    const int reader = ::open(local("pipe"), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0);
    QProcess process;
    process.setWorkingDirectory(folder.path());
    process.start(SPIRELL_RENDER_BINARY, view + QStringList{"-o", target});
    const QByteArray fromPipe = readFifoToTheEnd(reader, process);
    ::close(reader);
    const RendererRun run = finishedRun(process);
    QVERIFY2(!run.crashed && run.status == status, qPrintable(run.errors));
    QVERIFY(status == 0 || run.errors.contains("No space left on device"));
    const QByteArray written = image == "-"      ? process.readAllStandardOutput()
                               : image == "pipe" ? fromPipe
                                                 : fileBytes(folder.filePath(image));
    QVERIFY(written ==
            (image.isEmpty() ? QByteArray() : fileBytes(reference.filePath("image.png"))));

    // Nothing left behind or replaced: links, the FIFO and /dev/null stay what they were.
    QStringList found = entries(folder.path()), expected = after + QStringList{"pipe", "sub"};
    for (const QString& name : entries(folder.filePath("sub")))
        found << "sub/" + name;
    expected.sort();
    QCOMPARE(found, expected);
    for (int i = 0; i < links.size(); i += 2) {
        char link[PATH_MAX] = {};
        QVERIFY(::readlink(local(links[i]), link, sizeof link - 1) > 0);
        QCOMPARE(QFile::decodeName(link), links[i + 1]);
    }
    struct stat info = {};
    QVERIFY(::stat(local("pipe"), &info) == 0 && S_ISFIFO(info.st_mode));
    QVERIFY(::stat("/dev/null", &info) == 0 && S_ISCHR(info.st_mode));
    if (image == "kept.png")
        QVERIFY(::stat(local("kept.png"), &info) == 0 && (info.st_mode & 07777) == 0640);
}

void RenderToolTest::newFileGetsTheUmask_data() {
    QTest::addColumn<int>("mask");
    QTest::addColumn<bool>("unnamed"); // made with O_TMPFILE, or as a hidden temporary file
    for (const bool unnamed : {true, false})
        for (const int mask : {022, 077, 002, 0, 0222})
            QTest::addRow("%s, umask %03o", unnamed ? "unnamed" : "named", mask) << mask << unnamed;
}

// A new image gets the permissions any new file gets: 0666 less the umask.
void RenderToolTest::newFileGetsTheUmask() {
    QFETCH(int, mask);
    QFETCH(bool, unnamed);
    QTemporaryDir folder;
    QProcess process;
    process.setProcessEnvironment(environmentWith(unnamed ? QStringList() : withoutUnnamedFiles()));
    process.setChildProcessModifier([mask] { ::umask(mode_t(mask)); });
    process.start(SPIRELL_RENDER_BINARY,
                  {"aries", "--size", "20", "--quiet", "-o", folder.filePath("new.png")});
    QCOMPARE(finishedRun(process).status, 0);
    struct stat file = {};
    QVERIFY(::stat(QFile::encodeName(folder.filePath("new.png")).constData(), &file) == 0);
    QCOMPARE(file.st_mode & 07777, 0666u & ~unsigned(mask));
}

void RenderToolTest::limitsLeaveTheImageWholeOrRefused_data() {
    QTest::addColumn<QStringList>("limits"); // prlimit's options
    QTest::addColumn<QStringList>("view");
    QTest::addColumn<QString>("error"); // empty: rendered
    QTest::addColumn<bool>("compared"); // with the image made without the limits
    // Each thread reserves its 256 MiB stack out of the address space allowed.
    const QStringList threads{"ripple", "--size", "64", "--threads", "100"};
    QTest::newRow("room for a few threads")
        << QStringList{"--as=1000000000", "--stack=268435456"} << threads << "" << true;
    QTest::newRow("room for no thread")
        << QStringList{"--as=200000000", "--stack=268435456"} << threads
        << "could not start any computing thread: " << false;
    // Far out, the rows stay where they are: one row as wide as the loops go,
    // 2^30 + 1 pixels, which takes about 20 GiB.
    const QStringList widest{"ripple", "--y", "1e300", "--size", "2147483647"};
    const QString noMemory = "not enough memory for an image of 1073741825 x 1 pixels: it needs ";
    QTest::newRow("widest row, address space")
        << QStringList{"--as=1000000000"} << widest << noMemory << false;
    QTest::newRow("widest row, data")
        << QStringList{"--data=1000000000"} << widest << noMemory << false;
    QTest::newRow("a row that fits")
        << QStringList{"--as=1000000000"} << QStringList{"ripple", "--y", "1e300", "--size", "3e6"}
        << "" << false;
}

// With threads that cannot start or memory that is not there, the image is
// made by the threads that started, or refused with a message and status 1
// before it starts, instead of ending in a kill; no temporary file is left.
void RenderToolTest::limitsLeaveTheImageWholeOrRefused() {
    QFETCH(QStringList, limits);
    QFETCH(QStringList, view);
    QFETCH(QString, error);
    QFETCH(bool, compared);
    if (QStandardPaths::findExecutable("prlimit").isEmpty())
        QSKIP("prlimit is not installed");
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's shadow memory needs more address space than the limits leave");
#endif
    QTemporaryDir folder, reference;
    QProcess process;
    process.start("prlimit", limits + QStringList{SPIRELL_RENDER_BINARY} + view +
                                 QStringList{"--quiet", "-o", folder.filePath("image.png")});
    const RendererRun run = finishedRun(process);
    QVERIFY2(!run.crashed && run.status == (error.isEmpty() ? 0 : 1), qPrintable(run.errors));
    QCOMPARE(entries(folder.path()), error.isEmpty() ? QStringList{"image.png"} : QStringList());
    QVERIFY2(error.isEmpty() || isOneErrorLine(run.errors, "spirell-render: " + error),
             qPrintable(run.errors));
    if (compared) {
        const QString expected = reference.filePath("image.png");
        QCOMPARE(runRenderer(view + QStringList{"--quiet", "-o", expected}).status, 0);
        QCOMPARE(fileBytes(folder.filePath("image.png")), fileBytes(expected));
    }
}

void RenderToolTest::memoryEstimateHoldsThePeak_data() {
    QTest::addColumn<QString>("formula");
    QTest::addColumn<BoxTexts>("view");
    QTest::addColumn<int>("scale");
    QTest::addColumn<unsigned>("threads");
    QTest::newRow("one wide row") << "ripple" << boxTexts("1", "1e300", "3e6") << 1 << 1u;
    QTest::newRow("square in bands") << "ripple" << boxTexts("1", "1", "3000") << 1 << 2u;
    QTest::newRow("poster at scale 6") << "ripple" << boxTexts("1", "1", "400") << 6 << 3u;
}

// The estimate the renderer checks the memory with holds its real peak,
// without refusing much that would fit.
void RenderToolTest::memoryEstimateHoldsThePeak() {
    QFETCH(QString, formula);
    QFETCH(BoxTexts, view);
    QFETCH(int, scale);
    QFETCH(unsigned, threads);
    if (!QFileInfo("/usr/bin/time").isExecutable())
        QSKIP("GNU time is not installed");
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer keeps freed memory and its own, which the estimate leaves out");
#endif
    QTemporaryDir folder;
    const QStringList options{
        "--scale", QString::number(scale),      "--threads", QString::number(threads), "--quiet",
        "-o",      folder.filePath("image.png")};
    // What the program takes for a one-pixel image is its own, not the image's.
    const auto [emptyStatus, baseKiB] =
        runMeasured(QStringList{"ripple", "--size", "1"} + options.mid(2), folder.path());
    const auto [status, peakKiB] =
        runMeasured(QStringList{formula} + boxArguments(view) + options, folder.path());
    QCOMPARE(emptyStatus, 0);
    QCOMPARE(status, 0);
    const ImagePlan plan =
        planImage({formula.toStdString(), view, scale}, computingFromEnvironment(threads));
    const qint64 estimate =
        qint64(renderPngMemory(plan.plainColumnX.size(), plan.scale, plan.height(), plan.threads));
    const qint64 used = qint64(peakKiB - baseKiB) * 1024;
    const QString figures = QString("used %1, estimated %2 bytes").arg(used).arg(estimate);
    // Two megabytes for the threads' stacks and the allocator's own.
    QVERIFY2(used <= estimate + (qint64(2) << 20), qPrintable(figures));
    QVERIFY2(estimate <= 2 * used, qPrintable(figures));
}

void RenderToolTest::fullDiskIsAFailure_data() {
    QTest::addColumn<QString>("fileSystem"); // options of a small tmpfs
    QTest::newRow("no room for the temporary file") << "nr_inodes=1";
    QTest::newRow("no room for the image") << "size=16k";
}

void RenderToolTest::fullDiskIsAFailure() {
    // A full disk is no fault of the request: status 1, not 2.
    QFETCH(QString, fileSystem);
    QTemporaryDir folder;
    const auto disk =
        runOnSmallDisk(folder.path(), fileSystem,
                       {"aries", "--size", "300", "--quiet", "-o", folder.filePath("image.png")});
    if (!disk)
        QSKIP("no small file system can be mounted here");
    QVERIFY2(disk->run.status == 1 && !disk->run.crashed, qPrintable(disk->run.errors));
    QVERIFY2(isOneErrorLine(disk->run.errors, "No space left on device"),
             qPrintable(disk->run.errors));
    QCOMPARE(disk->left, QByteArray()); // nothing left behind
}

void RenderToolTest::threadsStayWithinTheCores() {
    // Each thread needs a row of its own in a band, so many threads on a wide
    // image take a lot of memory for nothing.
    QTemporaryDir folder;
    QProcess process;
    process.start(SPIRELL_RENDER_BINARY, {"aries", "--size", "3000", "--threads", "1024", "-o",
                                          folder.filePath("poster.png")});
    QVERIFY(process.waitForStarted());
    // Rows reach the file only once the workers have computed the first band.
    const QByteArray descriptor =
        QFile::encodeName(awaitOpenFile(process.processId(), folder.path()).first);
    QVERIFY(!descriptor.isEmpty());
    const auto written = [&] {
        struct stat file = {};
        return ::stat(descriptor.constData(), &file) == 0 ? file.st_size : 0;
    };
    QElapsedTimer waited;
    waited.start();
    while (written() == 0 && waited.elapsed() < 60000)
        QThread::msleep(10);
    const qsizetype threads = threadCount(QString::number(process.processId()));
    const bool computing = written() > 0 && process.state() == QProcess::Running;
    process.terminate();
    process.waitForFinished();
    QVERIFY(computing);
    const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
    QVERIFY2(threads > 1 && threads <= qsizetype(kThreadsPerCore * cores + 1),
             qPrintable(QString::number(threads)));
}

void RenderToolTest::fromReadsOnlyItsOwnTexts_data() {
    QTest::addColumn<QString>("kind"); // how the settings are stored
    QTest::addColumn<QList<QByteArray>>("others");
    QTest::newRow("plain settings") << "tEXt" << QList<QByteArray>();
    QTest::newRow("compressed settings") << "zTXt" << QList<QByteArray>();
    QTest::newRow("international settings") << "iTXt" << QList<QByteArray>();
    QTest::newRow("compressed international settings") << "iTXt+z" << QList<QByteArray>();
    // Chunks of a few kilobytes, each of which takes 7.5 MiB once inflated:
    // just below the size at which libpng itself would drop a text.
    const QByteArray lots(15 << 19, '7');
    QTest::newRow("compressed texts under another key")
        << "tEXt" << QList<QByteArray>(20, textChunk("zTXt", "Comment", lots));
    QTest::newRow("international texts under another key")
        << "zTXt" << QList<QByteArray>(20, textChunk("iTXt+z", "Description", lots));
    QTest::newRow("a hundred texts under other keys")
        << "iTXt" << QList<QByteArray>(100, textChunk("zTXt", "Comment", QByteArray(1 << 20, '7')));
    // Chunks the reader has no use for are dropped, not kept by libpng.
    QTest::newRow("three hundred chunks of a mebibyte")
        << "tEXt" << QList<QByteArray>(300, pngChunk("ruSt", QByteArray((1 << 20) - 12, '7')));
}

void RenderToolTest::fromReadsOnlyItsOwnTexts() {
    QFETCH(QString, kind);
    QFETCH(QList<QByteArray>, others);
    QTemporaryDir folder;
    writeFile(folder.filePath("stored.png"), settingsPng(kind, {}, others));
    if (!QFileInfo("/usr/bin/time").isExecutable())
        QSKIP("GNU time is not installed");
    const auto [directStatus, directKiB] = runMeasured(
        {"aries", "--x", "0.5", "--size", "12", "--quiet", "-o", folder.filePath("direct.png")},
        folder.path());
    QCOMPARE(directStatus, 0);
    const auto [status, peakKiB] = runMeasured(
        {"--from", folder.filePath("stored.png"), "--quiet", "-o", folder.filePath("again.png")},
        folder.path());
    QCOMPARE(status, 0);
    QCOMPARE(fileBytes(folder.filePath("again.png")), fileBytes(folder.filePath("direct.png")));
    // Inflating the other texts would take 64 MiB more than the render itself
    // (whose own peak includes a sanitizer's memory in the asan build).
    QVERIFY2(
        peakKiB < directKiB + 16 * 1024,
        qPrintable(QString("peak %1 KiB, %2 KiB without the texts").arg(peakKiB).arg(directKiB)));
}

// A formula of one's own, given as text, as a file, from standard input or
// from a seed: the picture keeps its text, and --from paints it again.
void RenderToolTest::formulaTextsPaintAgainFromTheirPicture_data() {
    QTest::addColumn<QStringList>("formula");
    QTest::addColumn<QString>("stored"); // how the text kept starts
    QTest::newRow("--formula") << QStringList{"--formula", kMyFormula} << kMyFormula;
    QTest::newRow("--formula-file") << QStringList{"--formula-file", "{in}/mine.txt"} << kMyFormula;
    QTest::newRow("--formula-file from standard input")
        << QStringList{"--formula-file", "-"} << kMyFormula;
    QTest::newRow("--random") << QStringList{"--random", "42"} << "# random formula, seed 42\n";
}

void RenderToolTest::formulaTextsPaintAgainFromTheirPicture() {
    QFETCH(QStringList, formula);
    QFETCH(QString, stored);
    QTemporaryDir folder;
    const QString first = folder.filePath("first.png");
    const QString again = folder.filePath("again.png");
    formula.replaceInStrings("{in}", inputs_.path());
    const QStringList view{"--size", "40", "--zoom", "0.5", "--x", "3.5", "-o", first};
    if (formula.contains("-")) {
        QProcess shell;
        shell.setStandardInputFile(inputs_.filePath("mine.txt"));
        shell.start(SPIRELL_RENDER_BINARY, formula + view);
        QVERIFY(shell.waitForFinished(30000));
        QCOMPARE(shell.exitCode(), 0);
    } else {
        const RendererRun run = runRenderer(formula + view);
        QVERIFY2(run.status == 0, qPrintable(run.errors));
    }
    const QString kept = QImage(first).text("spirell:formula-text");
    QVERIFY2(kept.startsWith(stored), qPrintable(kept));
    QCOMPARE(QImage(first).text("spirell:formula"), QString("text"));
    QCOMPARE(runRenderer({"--from", first, "-o", again}).status, 0);
    QCOMPARE(fileBytes(again), fileBytes(first));
    // A flight from it to a zoomed view starts with its very pixels.
    const QString zoomed = folder.filePath("zoomed.png");
    QCOMPARE(runRenderer({"--from", first, "--zoom", "0.25", "-o", zoomed}).status, 0);
    const RendererRun flight = runRenderer({"--animate", first, zoomed, "--seconds", "1", "--fps",
                                            "2", "-q", "-o", folder.filePath("frames/")});
    QVERIFY2(flight.status == 0, qPrintable(flight.errors));
    QCOMPARE(QImage(folder.filePath("frames/frame-00000.png")), QImage(first));
    QCOMPARE(QImage(folder.filePath("frames/frame-00002.png")), QImage(zoomed));
    // A name given with --from paints the built-in in the same view.
    QCOMPARE(runRenderer({"--from", first, "ripple", "-o", again}).status, 0);
    QCOMPARE(QImage(again).text("spirell:formula-text"), QString());
}

void RenderToolTest::renderingFromAnImageGivesTheSameFile_data() {
    QTest::addColumn<QStringList>("frame"); // options
    QTest::addColumn<QString>("storedFrame");
    QTest::addColumn<QSize>("size");
    // Options given with --from, and the view they make rendered directly
    // (none: the first file's).
    QTest::addColumn<QStringList>("overrides");
    QTest::addColumn<QStringList>("direct");
    const QStringList threads{"--threads", "3"};
    QTest::newRow("the view's own picture")
        << QStringList() << QString() << QSize(42, 42) << threads << QStringList();
    QTest::newRow("a frame") << QStringList{"--frame", "53x17"} << "53x17" << QSize(53, 17)
                             << threads << QStringList();
    QTest::newRow("the command line overrides the stored settings")
        << QStringList() << QString() << QSize(42, 42)
        << QStringList{"--size", "12", "--scale", "1"}
        << QStringList{"ripple", "--x",    " 0.25", "--y",          "-12", "--size",
                       "12",     "--zoom", "&H3",   "--brightness", "99.5"};
}

void RenderToolTest::renderingFromAnImageGivesTheSameFile() {
    QFETCH(QStringList, frame);
    QFETCH(QString, storedFrame);
    QFETCH(QSize, size);
    QFETCH(QStringList, overrides);
    QFETCH(QStringList, direct);
    QTemporaryDir folder;
    const QString first = folder.filePath("first.png");
    const QString again = folder.filePath("again.png");
    // A caption, a verbatim box text with blanks, a scale and a frame: all must survive.
    const RendererRun run = runRenderer(
        QStringList{"ripple", "--x", " 0.25", "--y", "-12", "--size", "21", "--zoom", "&H3",
                    "--brightness", "99.5", "--scale", "2", "--quiet", "-o", first} +
        frame);
    QVERIFY2(run.status == 0, qPrintable(run.errors));

    const QImage stored(first);
    QCOMPARE(stored.size(), size);
    QCOMPARE(stored.text("spirell:formula"), QString("aries"));
    QCOMPARE(stored.text("spirell:x"), QString(" 0.25"));
    QCOMPARE(stored.text("spirell:zoom"), QString("&H3"));
    QCOMPARE(stored.text("spirell:scale"), QString("2"));
    QCOMPARE(stored.text("spirell:frame"), storedFrame);

    const RendererRun rerun =
        runRenderer(QStringList{"--from", first, "-o", again, "--quiet"} + overrides);
    QVERIFY2(rerun.status == 0, qPrintable(rerun.errors));
    const QString expected = direct.isEmpty() ? first : folder.filePath("direct.png");
    if (!direct.isEmpty())
        QCOMPARE(runRenderer(direct + QStringList{"--quiet", "-o", expected}).status, 0);
    QCOMPARE(fileBytes(again), fileBytes(expected));
}

// SPIRELL_SIMD, SPIRELL_THREADS, --threads and --scale 1 choose how the colours
// are computed, never which: every choice writes the same file. A choice that
// cannot be honoured is bad input.
void RenderToolTest::environmentChoosesWidthAndThreads_data() {
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("error"); // empty: succeeds with the usual file
    for (const lanes::InstructionSet set : lanes::availableInstructionSets())
        for (const char* threads : {"1", "3"})
            QTest::addRow("%s, %s threads", lanes::nameOf(set), threads)
                << QStringList{QString("SPIRELL_SIMD=") + lanes::nameOf(set),
                               QString("SPIRELL_THREADS=") + threads}
                << QStringList{} << QString();
    QTest::newRow("--threads wins over SPIRELL_THREADS")
        << QStringList{"SPIRELL_THREADS=many"} << QStringList{"--threads", "2"} << QString();
    QTest::newRow("more threads than bands")
        << QStringList{} << QStringList{"--threads", "5"} << QString();
    QTest::newRow("scale 1") << QStringList{} << QStringList{"--scale", "1"} << QString();
    QTest::newRow("unknown width")
        << QStringList{"SPIRELL_SIMD=avx9"} << QStringList{} << "SPIRELL_SIMD=avx9 is not a width";
    QTest::newRow("no threads") << QStringList{"SPIRELL_THREADS=0"} << QStringList{}
                                << "SPIRELL_THREADS needs a whole number from 1 to 1024";
    QTest::newRow("threads not a number") << QStringList{"SPIRELL_THREADS=two"} << QStringList{}
                                          << "SPIRELL_THREADS needs a whole number";
}

void RenderToolTest::environmentChoosesWidthAndThreads() {
    QFETCH(QStringList, environment);
    QFETCH(QStringList, options);
    QFETCH(QString, error);
    QTemporaryDir folder;
    const QStringList view{"quest", "--size", "67", "--x", "0.3", "--zoom", "1.7", "--quiet"};
    const QString usual = folder.filePath("usual.png");
    QCOMPARE(runRenderer(view + QStringList{"-o", usual}, {}, {"SPIRELL_SIMD=scalar"}).status, 0);

    const QString output = folder.filePath("chosen.png");
    const RendererRun run =
        runRenderer(view + options + QStringList{"-o", output}, {}, environment);
    if (error.isEmpty()) {
        QVERIFY2(run.status == 0, qPrintable(run.errors));
        QCOMPARE(fileBytes(output), fileBytes(usual));
        return;
    }
    QCOMPARE(run.status, 2);
    QVERIFY2(isOneErrorLine(run.errors, "spirell-render: " + error), qPrintable(run.errors));
    QVERIFY(!QFile::exists(output));
}

// A poster made in parts and joined is the very file one machine writes,
// whatever the parts' count, formula, scale or frame; each part is its band
// of the picture, a picture of its own.
void RenderToolTest::partsJoinIntoTheOneMachineFile_data() {
    QTest::addColumn<QStringList>("view");
    QTest::addColumn<int>("parts"); // 0: a part a piece
    const QStringList ripple{"ripple", "--size", "600"};
    QTest::newRow("one part") << ripple << 1;
    QTest::newRow("two parts") << ripple << 2;
    QTest::newRow("three parts") << ripple << 3;
    QTest::newRow("a part a piece") << ripple << 0;
    QTest::newRow("a formula text")
        << QStringList{"--formula", "red = sin(X)\ngreen = cos(Y)\nblue = 0.5", "--size", "500"}
        << 3;
    QTest::newRow("scale 2") << QStringList{"aries", "--size", "300", "--scale", "2"} << 3;
    QTest::newRow("a frame") << QStringList{"ripple", "--size", "100", "--frame", "700x450"} << 2;
}

void RenderToolTest::partsJoinIntoTheOneMachineFile() {
    QFETCH(QStringList, view);
    QFETCH(int, parts);
    QTemporaryDir folder;
    const QString whole = folder.filePath("whole.png");
    const RendererRun run = runRenderer(view + QStringList{"--quiet", "-o", whole});
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    const QImage picture(whole);
    QVERIFY(!picture.isNull());
    const std::uint64_t pieces =
        pieceCount(std::uint64_t(picture.height()), std::size_t{3} * std::size_t(picture.width()));
    const auto count = parts > 0 ? std::uint64_t(parts) : pieces;
    QVERIFY(count > 1 || parts == 1);
    QVERIFY(count <= pieces);

    const auto partArguments = [&](std::uint64_t index, const QString& name) {
        return view +
               QStringList{"--part", QString("%1/%2").arg(index).arg(count), "--quiet", "-o", name};
    };
    QStringList partFiles;
    int nextRow = 0;
    for (std::uint64_t index = 0; index < count; ++index) {
        const QString name = folder.filePath(QString("part-%1.png").arg(index));
        const RendererRun partRun = runRenderer(partArguments(index, name));
        QVERIFY2(partRun.status == 0, qPrintable(partRun.errors));
        const QImage band(name);
        QVERIFY(!band.isNull());
        QCOMPARE(band.text("spirell:part"), QString("%1/%2").arg(index).arg(count));
        QCOMPARE(band.text("spirell:part-rows"), QString("%1-%2 of %3")
                                                     .arg(nextRow)
                                                     .arg(nextRow + band.height() - 1)
                                                     .arg(picture.height()));
        for (const QString& key : picture.textKeys())
            QCOMPARE(band.text(key), picture.text(key));
        const QString difference =
            firstDifference(band, picture.copy(0, nextRow, picture.width(), band.height()));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        nextRow += band.height();
        partFiles.prepend(name); // the join takes them in any order
    }
    QCOMPARE(nextRow, picture.height());

    // A part made again is the same file.
    const QString again = folder.filePath("again.png");
    QCOMPARE(runRenderer(partArguments(count / 2, again)).status, 0);
    QCOMPARE(fileBytes(again), fileBytes(folder.filePath(QString("part-%1.png").arg(count / 2))));

    const QString joined = folder.filePath("joined.png");
    const RendererRun join =
        runRenderer(QStringList{"--join"} + partFiles + QStringList{"-o", joined});
    QVERIFY2(join.status == 0, qPrintable(join.errors));
    QVERIFY(fileBytes(joined) == fileBytes(whole));
}

QTEST_GUILESS_MAIN(RenderToolTest)
#include "test_render_tool.moc"
