// spirell-render --animate, run as a user would: every frame is the exact
// picture of its own view, on every instruction set and thread count; videos
// decode to the right frames; a stopped render of PNG frames goes on where it
// stopped.
#include "cli/ProgressLine.hpp"
#include "lanes/InstructionSets.hpp"
#include "support/PngChunks.hpp"
#include "support/RendererRuns.hpp"
#include "support/VideoDecoding.hpp"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <signal.h>
#include <sys/stat.h>

using namespace spirell;
using namespace spirell::testing;

namespace {

// A picture's pixels as RGB bytes, rows top to bottom.
Rgb rgbOf(const QString& path) {
    const QImage image = QImage(path).convertToFormat(QImage::Format_RGB888);
    Rgb rgb;
    for (int y = 0; y < image.height(); ++y)
        rgb.insert(rgb.end(), image.constScanLine(y), image.constScanLine(y) + 3 * image.width());
    return rgb;
}

// The frame files in a folder, in order, and nothing else there.
QStringList framesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QString frameName(int frame) {
    return QString("frame-%1.png").arg(frame, 5, 10, QChar('0'));
}

void succeeds(const RendererRun& run) {
    if (run.status != 0 || run.crashed)
        qFatal("spirell-render failed: %s", qPrintable(run.errors));
}

} // namespace

class AnimationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void framesAreTheirViews();
    void framesTakeTheirSize_data();
    void framesTakeTheirSize();
    void framesInPartsAreTheOneRunsFrames_data();
    void framesInPartsAreTheOneRunsFrames();
    void framesAreTheSameEverywhere_data();
    void framesAreTheSameEverywhere();
    void videosHoldTheFrames_data();
    void videosHoldTheFrames();
    void oddFramesGrowForHalvedColour();
    void stoppedRenderGoesOn();
    void killedFramesLeaveNothingHidden();
    void interruptedVideoLeavesNothing_data();
    void interruptedVideoLeavesNothing();
    void progressCountsFrames_data();
    void progressCountsFrames();

private:
    QString key(const char* name) const { return keys_.filePath(name); }
    QTemporaryDir keys_;
};

// Keyframes as the renderer saves them: a zoom in toward a point off the
// centre, a pan with a change of size and brightness, and two of an odd size.
void AnimationTest::initTestCase() {
    QVERIFY(keys_.isValid());
    const QList<QStringList> keyframes{
        {"ripple", "--x", "0.25", "--y", "-3", "--size", "24", "-o", key("a.png")},
        {"ripple", "--x", "20", "--y", "7", "--size", "30", "--zoom", "4", "--brightness", "90",
         "-o", key("b.png")},
        {"ripple", "--x", "-10", "--y", "1", "--size", "20", "--zoom", "0.5", "-o", key("c.png")},
        {"ripple", "--size", "21", "-o", key("odd1.png")},
        {"ripple", "--size", "21", "--x", "9", "--zoom", "3", "-o", key("odd2.png")},
        {"ripple", "--size", "24", "--frame", "30x20", "-o", key("framed.png")},
    };
    for (const QStringList& arguments : keyframes)
        succeeds(runRenderer(arguments + QStringList{"--quiet"}));
}

// The first frame is the first keyframe's picture, the last the last one's
// in the same frame, and every frame is what --from paints from it, byte for
// byte: each frame is a view of its own.
void AnimationTest::framesAreTheirViews() {
    QTemporaryDir folder;
    const QString frames = folder.filePath("frames/");
    succeeds(runRenderer({"--animate", key("a.png"), key("b.png"), key("c.png"), "--seconds", "0.4",
                          "--fps", "10", "--scale", "2", "--quiet", "-o", frames}));
    const QStringList names = framesIn(frames);
    QCOMPARE(names.size(), 9); // four frames a move, and the last keyframe
    QCOMPARE(names.first(), frameName(0));
    QCOMPARE(names.last(), frameName(8));

    succeeds(runRenderer(
        {"--from", key("a.png"), "--scale", "2", "--quiet", "-o", folder.filePath("first.png")}));
    succeeds(runRenderer({"--from", key("c.png"), "--scale", "2", "--frame", "48x48", "--quiet",
                          "-o", folder.filePath("last.png")}));
    QCOMPARE(QImage(frames + names.first()).size(), QSize(48, 48));
    QVERIFY(rgbOf(frames + names.first()) == rgbOf(folder.filePath("first.png")));
    QVERIFY(rgbOf(frames + names.last()) == rgbOf(folder.filePath("last.png")));

    for (const QString& name : names) {
        const QString again = folder.filePath("again.png");
        succeeds(runRenderer({"--from", frames + name, "--quiet", "-o", again}));
        QVERIFY2(fileBytes(again) == fileBytes(frames + name), qPrintable(name));
    }
    // The frames between move: no two neighbours are the same picture.
    for (int i = 1; i < names.size(); ++i)
        QVERIFY(rgbOf(frames + names[i]) != rgbOf(frames + names[i - 1]));
}

void AnimationTest::framesTakeTheirSize_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QSize>("size");
    QTest::newRow("the first keyframe's picture")
        << QStringList{key("a.png"), key("b.png")} << QSize(24, 24);
    QTest::newRow("its picture at the flight's scale")
        << QStringList{key("a.png"), key("b.png"), "--scale", "3"} << QSize(72, 72);
    QTest::newRow("the first keyframe's frame")
        << QStringList{key("framed.png"), key("b.png")} << QSize(30, 20);
    QTest::newRow("the frame asked for")
        << QStringList{key("framed.png"), key("b.png"), "--frame", "9x31"} << QSize(9, 31);
}

void AnimationTest::framesTakeTheirSize() {
    QFETCH(QStringList, options);
    QFETCH(QSize, size);
    QTemporaryDir folder;
    succeeds(runRenderer(QStringList{"--animate", "--seconds", "0.1", "--fps", "10", "--quiet",
                                     "-o", folder.filePath("f%d.png")} +
                         options));
    QCOMPARE(framesIn(folder.path()), (QStringList{"f0.png", "f1.png"}));
    QCOMPARE(QImage(folder.filePath("f0.png")).size(), size);
    QCOMPARE(QImage(folder.filePath("f1.png")).size(), size);
}

// A flight painted in parts, each part a run of its own, leaves the very
// files one run leaves; a part run again changes nothing.
void AnimationTest::framesInPartsAreTheOneRunsFrames_data() {
    QTest::addColumn<int>("parts");
    QTest::newRow("one") << 1;
    QTest::newRow("two") << 2;
    QTest::newRow("as many as frames") << 6;
}

void AnimationTest::framesInPartsAreTheOneRunsFrames() {
    QFETCH(int, parts);
    QTemporaryDir folder;
    const QStringList flight{"--animate", key("a.png"), key("b.png"), "--seconds", "0.5",
                             "--fps",     "10",         "--quiet",    "-o"};
    const QString whole = folder.filePath("whole/");
    const QString shared = folder.filePath("parts/");
    succeeds(runRenderer(flight + QStringList{whole}));
    for (int part = parts - 1; part >= 0; --part)
        succeeds(runRenderer(flight +
                             QStringList{shared, "--part", QString("%1/%2").arg(part).arg(parts)}));
    const QStringList names = framesIn(whole);
    QCOMPARE(names.size(), 6);
    QCOMPARE(framesIn(shared), names);
    for (const QString& name : names)
        QVERIFY2(fileBytes(shared + name) == fileBytes(whole + name), qPrintable(name));
    const QDateTime before = QFileInfo(shared + names.front()).lastModified();
    succeeds(runRenderer(flight + QStringList{shared, "--part", QString("0/%1").arg(parts)}));
    QCOMPARE(QFileInfo(shared + names.front()).lastModified(), before); // kept, not painted again
}

void AnimationTest::framesAreTheSameEverywhere_data() {
    QTest::addColumn<QStringList>("environment");
    for (const lanes::InstructionSet set : lanes::availableInstructionSets())
        for (const char* threads : {"1", "3"})
            QTest::addRow("%s, %s threads", lanes::nameOf(set), threads)
                << QStringList{QString("SPIRELL_SIMD=") + lanes::nameOf(set),
                               QString("SPIRELL_THREADS=") + threads};
}

void AnimationTest::framesAreTheSameEverywhere() {
    QFETCH(QStringList, environment);
    QTemporaryDir folder;
    const QStringList flight{"--animate", key("a.png"), key("b.png"), "--seconds", "0.5", "--fps",
                             "10",        "--frame",    "37x26",      "--quiet",   "-o"};
    const QString usual = folder.filePath("usual/");
    const QString chosen = folder.filePath("chosen/");
    succeeds(runRenderer(flight + QStringList{usual}, {}, {"SPIRELL_SIMD=scalar"}));
    succeeds(runRenderer(flight + QStringList{chosen}, {}, environment));
    const QStringList names = framesIn(usual);
    QCOMPARE(names.size(), 6);
    QCOMPARE(framesIn(chosen), names);
    for (const QString& name : names)
        QVERIFY2(fileBytes(chosen + name) == fileBytes(usual + name), qPrintable(name));
}

void AnimationTest::videosHoldTheFrames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("H.264 in MP4") << "flight.mp4" << QStringList();
    QTest::newRow("VP9 in WebM") << "flight.webm" << QStringList();
    QTest::newRow("lossless FFV1 in Matroska") << "flight.mkv" << QStringList{"--lossless"};
    // Joined from frames painted elsewhere, one of them missing and one damaged.
    QTest::newRow("lossless, from PNG frames")
        << "flight.mkv" << QStringList{"--lossless", "--frames-from", "{partial}"};
}

// A video has the flight's frames, at its rate, each lasting its time, with
// the flight's recipe; lossless video has the PNG frames' very colours.
void AnimationTest::videosHoldTheFrames() {
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    QTemporaryDir folder;
    const QStringList flight{"--animate", key("a.png"), key("b.png"), key("c.png"), "--seconds",
                             "0.2",       "--fps",      "10",         "--quiet",    "-o"};
    succeeds(runRenderer(flight + QStringList{folder.filePath("frames/")}));
    const QString partial = folder.filePath("partial/");
    if (options.contains("--frames-from")) {
        succeeds(runRenderer(flight + QStringList{partial}));
        QVERIFY(QFile::remove(partial + "frame-00001.png"));
        QFile damaged(partial + "frame-00003.png");
        QVERIFY(damaged.open(QIODevice::ReadWrite) && damaged.seek(damaged.size() - 40));
        damaged.write(QByteArray(20, '\0'));
        damaged.close();
        options.replaceInStrings("{partial}", partial);
    }
    const RendererRun run = runRenderer(flight + QStringList{folder.filePath(name)} + options);
    succeeds(run);
    if (options.contains("--frames-from"))
        QVERIFY2(run.errors.contains("2 of 5 frames computed"), qPrintable(run.errors));
    QCOMPARE(framesIn(folder.path()).size(), 1); // no temporary file left beside the video

    const Decoded video = decode(folder.filePath(name));
    QCOMPARE(video.width, 24);
    QCOMPARE(video.height, 24);
    QCOMPARE(video.framesPerSecond, 10.0);
    QCOMPARE(video.frames.size(), std::size_t{5});
    QVERIFY2(std::abs(video.seconds - 0.5) < 0.0015, qPrintable(QString::number(video.seconds)));
    QCOMPARE(video.metadata.value("spirell_formula"), QString("aries"));
    QCOMPARE(video.metadata.value("spirell_seconds_per_move"), QString("0.2"));
    QCOMPARE(video.metadata.value("spirell_frames_per_second"), QString("10"));
    QCOMPARE(video.metadata.value("spirell_frame"), QString("24x24"));
    QCOMPARE(video.metadata.value("spirell_scale"), QString("1"));
    QCOMPARE(video.metadata.value("spirell_keyframe_2_zoom"), QString("4"));
    QCOMPARE(video.metadata.value("spirell_keyframe_3_x"), QString("-10"));

    std::vector<Rgb> expected;
    for (const QString& frame : framesIn(folder.filePath("frames")))
        expected.push_back(rgbOf(folder.filePath("frames/" + frame)));
    QCOMPARE(expected.size(), video.frames.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (options.contains("--lossless")) {
            QVERIFY2(video.frames[i] == expected[i], qPrintable(QString::number(i)));
            continue;
        }
        // These small frames are all fine detail, which lossy coding blurs;
        // still each is nearer its own frame than the frames beside it.
        const double own = meanDifference(video.frames[i], expected[i]);
        QVERIFY2(own < 16, qPrintable(QString("frame %1 is %2 off").arg(i).arg(own)));
        for (const std::size_t other : {i - 1, i + 1})
            if (other < expected.size())
                QVERIFY(meanDifference(video.frames[i], expected[other]) > own);
    }
}

// Colour kept for 2 x 2 pixels needs even sides: a 21 x 21 frame is encoded
// as 22 x 22, the frame's grid going on one column right and one row down,
// as a 22 x 22 frame of the same views shows it, rather than black.
void AnimationTest::oddFramesGrowForHalvedColour() {
    QTemporaryDir folder;
    const QStringList flight{"--animate", key("odd1.png"), key("odd2.png"),
                             "--seconds", "0.2",           "--fps",
                             "10",        "--quiet",       "-o"};
    succeeds(runRenderer(flight + QStringList{folder.filePath("flight.mp4")}));
    succeeds(runRenderer(flight + QStringList{folder.filePath("frames/"), "--frame", "22x22"}));
    const Decoded video = decode(folder.filePath("flight.mp4"));
    QCOMPARE(video.width, 22);
    QCOMPARE(video.height, 22);
    const QStringList frames = framesIn(folder.filePath("frames"));
    QCOMPARE(video.frames.size(), std::size_t(frames.size()));
    // The last column and the last row, where cropping or padding would show.
    const auto edge = [](const Rgb& rgb) {
        Rgb pixels;
        for (int i = 0; i < 22; ++i)
            for (const int at : {(i * 22 + 21) * 3, (21 * 22 + i) * 3})
                pixels.insert(pixels.end(), rgb.begin() + at, rgb.begin() + at + 3);
        return pixels;
    };
    for (int i = 0; i < frames.size(); ++i) {
        const Rgb expected = edge(rgbOf(folder.filePath("frames/" + frames[i])));
        QVERIFY(meanDifference(expected, Rgb(expected.size(), 0)) > 40); // far from black
        const double difference = meanDifference(edge(video.frames[i]), expected);
        QVERIFY2(difference < 12, qPrintable(QString("%1 is %2 off").arg(i).arg(difference)));
    }
}

// Stopped by a signal, a render of PNG frames leaves the frames it finished
// and no temporary file. Started again it gives the same frames as an
// unbroken run, computing only those that are missing, cut short or of
// another view.
void AnimationTest::stoppedRenderGoesOn() {
    QTemporaryDir folder;
    const QStringList flight =
        QStringList{SPIRELL_RENDER_BINARY, "--animate", key("a.png"), key("b.png")} +
        QStringList{"--seconds", "6", "--fps", "10", "--frame", "160x120", "--quiet", "-o"};
    const QString reference = folder.filePath("reference/");
    const QString frames = folder.filePath("frames/");
    succeeds(runRenderer(flight.mid(1) + QStringList{reference}));
    const QStringList names = framesIn(reference);
    QCOMPARE(names.size(), 61);

    // Slow on purpose, so that the signal comes part-way.
    QProcess process;
    process.setProcessEnvironment(environmentWith({"SPIRELL_SIMD=scalar", "SPIRELL_THREADS=1"}));
    process.start(flight.first(), flight.mid(1) + QStringList{frames});
    QElapsedTimer waited;
    waited.start();
    while (framesIn(frames).filter(QRegularExpression("^frame-")).size() < 6 &&
           waited.elapsed() < 30000)
        QThread::msleep(2);
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    const QStringList stopped = framesIn(frames);
    QVERIFY2(stopped.size() >= 6 && stopped.size() < names.size(),
             qPrintable(QString::number(stopped.size())));
    for (const QString& name : stopped)
        QVERIFY2(fileBytes(frames + name) == fileBytes(reference + name), qPrintable(name));

    // One frame deleted, one cut short, one holding another frame's view.
    QVERIFY(QFile::remove(frames + names[1]));
    QFile cut(frames + names[2]);
    QVERIFY(cut.resize(cut.size() / 2));
    QVERIFY(QFile::remove(frames + names[3]) &&
            QFile::copy(reference + names[9], frames + names[3]));
    const auto inode = [&](const QString& name) {
        struct stat status = {};
        return ::stat(QFile::encodeName(frames + name).constData(), &status) == 0 ? status.st_ino
                                                                                  : ino_t(0);
    };
    // One whose image data is zeros, every CRC right; one with the right
    // texts and black pixels.
    writeFile(frames + names[4],
              rechunked(fileBytes(frames + names[4]), [](const QByteArray& type, QByteArray data) {
                  return type == "IDAT" ? QByteArray(data.size(), '\0') : data;
              }));
    bool first = true;
    writeFile(frames + names[5],
              rechunked(fileBytes(frames + names[5]), [&](const QByteArray& type, QByteArray data) {
                  if (type != "IDAT")
                      return data;
                  const bool wasFirst = std::exchange(first, false);
                  return wasFirst ? zlibStream(QByteArray((1 + 3 * 160) * 120, '\0'))
                                  : QByteArray();
              }));
    const QList<ino_t> untouched{inode(names[0])};

    // And one past the end, from a longer flight: said, and left alone.
    QVERIFY(QFile::copy(reference + names[60], frames + "frame-00061.png"));

    const RendererRun resumed = runRenderer(flight.mid(1) + QStringList{frames});
    succeeds(resumed);
    QVERIFY2(resumed.errors.contains("frame-00061.png on (1) are not this flight's"),
             qPrintable(resumed.errors));
    QVERIFY(QFile::remove(frames + "frame-00061.png"));
    QCOMPARE(framesIn(frames), names);
    for (const QString& name : names)
        QVERIFY2(fileBytes(frames + name) == fileBytes(reference + name), qPrintable(name));
    // Frames that were whole were kept, not painted again.
    QCOMPARE(QList<ino_t>{inode(names[0])}, untouched);
}

// Frames are named as they are completed; SIGKILL at any moment leaves
// complete frames and nothing else, not even a hidden file of a frame that
// was being named.
void AnimationTest::killedFramesLeaveNothingHidden() {
    QTemporaryDir folder;
    const QStringList flight{"--animate", key("a.png"), key("b.png"), "--frame",
                             "8x8",       "--quiet",    "-o",         folder.filePath("f/")};
    // Killed as it names a frame, the worst moment for a name given in two steps.
    QProcess atRename;
    atRename.setProcessEnvironment(environmentWith(
        {"LD_PRELOAD=" SPIRELL_KILL_AT_RENAME, withSanitizerOptions("verify_asan_link_order=0")}));
    atRename.start(SPIRELL_RENDER_BINARY, flight);
    QVERIFY(atRename.waitForFinished());
    QCOMPARE(QDir(folder.filePath("f")).entryList(QStringList{".?*"}, QDir::Files | QDir::Hidden),
             QStringList());
    QDir(folder.filePath("f")).removeRecursively();
    // And at random moments.
    for (int run = 0; run < 200; ++run) {
        QProcess process;
        process.start(SPIRELL_RENDER_BINARY, flight);
        QVERIFY(process.waitForStarted());
        QThread::usleep(QRandomGenerator::global()->bounded(5000, 60000));
        ::kill(pid_t(process.processId()), SIGKILL);
        QVERIFY(process.waitForFinished());
        const QStringList hidden =
            QDir(folder.filePath("f")).entryList(QStringList{".?*"}, QDir::Files | QDir::Hidden);
        QVERIFY2(hidden.isEmpty(),
                 qPrintable(QString("run %1: %2").arg(run).arg(hidden.join(' '))));
        // Each run starts from nothing, so that it writes frames all along.
        QDir(folder.filePath("f")).removeRecursively();
    }
}

void AnimationTest::interruptedVideoLeavesNothing_data() {
    QTest::addColumn<QString>("interruption");
    QTest::newRow("SIGTERM") << "SIGTERM";
    QTest::newRow("full disk") << "full disk";
    QTest::newRow("no video module") << "no video module";
}

// A video is complete or not there at all: no temporary file and no part of
// a video stays at the name, whether a signal or a full disk ends the render.
void AnimationTest::interruptedVideoLeavesNothing() {
    QFETCH(QString, interruption);
    QTemporaryDir folder;
    const QStringList flight =
        QStringList{SPIRELL_RENDER_BINARY, "--animate", key("a.png"), key("b.png")} +
        QStringList{"--seconds", "20", "--frame", "320x240", "--quiet", "-o"} +
        QStringList{folder.filePath("flight.mp4")};
    if (interruption == "full disk") {
        const auto disk = runOnSmallDisk(folder.path(), "size=64k", flight.mid(1));
        if (!disk)
            QSKIP("no small file system can be mounted here");
        QCOMPARE(disk->run.status, 1);
        QVERIFY2(isOneErrorLine(disk->run.errors, "No space left on device"),
                 qPrintable(disk->run.errors));
        QCOMPARE(disk->left, QByteArray());
        return;
    }
    if (interruption == "no video module") {
        // The program installed without its module: a video fails at once and
        // says why, while PNG frames need no module.
        QTemporaryDir installed;
        const QString program = installed.filePath("spirell-render");
        QVERIFY(QFile::copy(SPIRELL_RENDER_BINARY, program));
        QProcess process;
        process.start(program, flight.mid(1));
        const RendererRun run = finishedRun(process);
        QCOMPARE(run.status, 1);
        QVERIFY2(isOneErrorLine(run.errors, "the video module cannot be loaded"),
                 qPrintable(run.errors));
        QCOMPARE(entries(folder.path()), QStringList());
        process.start(program, {"--animate", key("a.png"), key("b.png"), "--seconds", "0.2",
                                "--fps", "10", "--quiet", "-o", folder.filePath("f/")});
        succeeds(finishedRun(process));
        QCOMPARE(framesIn(folder.filePath("f")).size(), 3);
        return;
    }
    QProcess process;
    process.start(flight.first(), flight.mid(1));
    // The video is being written once the program has it open, nameless or
    // hidden, in the folder.
    QVERIFY(!awaitOpenFile(process.processId(), folder.path()).first.isEmpty());
    QThread::msleep(200); // well into the frames
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(process.exitCode(), SIGTERM);
    QCOMPARE(entries(folder.path()), QStringList());
}

void AnimationTest::progressCountsFrames_data() {
    QTest::addColumn<qulonglong>("done");
    QTest::addColumn<qulonglong>("kept");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("start") << 0ull << 0ull << 0.5 << "0/300 frames  0.0 frames/s";
    QTest::newRow("under way") << 30ull << 0ull << 2.0 << "30/300 frames  15.0 frames/s  0:18 left";
    // Frames kept from a stopped run took no time now.
    QTest::newRow("after kept frames")
        << 110ull << 100ull << 2.0 << "110/300 frames  5.0 frames/s  0:38 left";
}

void AnimationTest::progressCountsFrames() {
    QFETCH(qulonglong, done);
    QFETCH(qulonglong, kept);
    QFETCH(double, seconds);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(
                 cli::progressText(done, 300, seconds, cli::ProgressUnit::Frames, kept)),
             expected);
}

QTEST_GUILESS_MAIN(AnimationTest)
#include "test_animation.moc"
