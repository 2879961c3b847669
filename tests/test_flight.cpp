#include "animation/Flight.hpp"
#include "animation/FlightRender.hpp"
#include "animation/FlightTarget.hpp"
#include "base/Errors.hpp"
#include "boxes/NumberText.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"
#include "support/FolderEntries.hpp"
#include "support/ProcessState.hpp"
#include "support/TestPrinting.hpp"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace spirell;
using namespace spirell::animation;
using namespace spirell::testing;
using namespace spirell::video;
using namespace spirell::boxes;
using namespace spirell::drawing;
using namespace spirell::formulas;

Q_DECLARE_METATYPE(spirell::video::OutputKind)

namespace {

// The world point at the middle of a view's picture.
double centreX(const ViewParams& view) {
    return view.originX + (view.imageWidth + 1) / 2;
}
double centreY(const ViewParams& view) {
    return view.originY + (view.imageHeight + 1) / 2;
}

} // namespace

class FlightTest : public QObject {
    Q_OBJECT
private slots:
    void valuesBetweenKeyframes_data();
    void valuesBetweenKeyframes();
    void theSharedPointKeepsItsPlaceAndAngle_data();
    void theSharedPointKeepsItsPlaceAndAngle();
    void movesEaseInAndOut();
    void framesOfAFlight();
    void outputNames_data();
    void outputNames();
    void theChosenKindDecides_data();
    void theChosenKindDecides();
    void cancellingStopsAFlight_data();
    void cancellingStopsAFlight();
};

void FlightTest::valuesBetweenKeyframes_data() {
    QTest::addColumn<BoxTexts>("from");
    QTest::addColumn<BoxTexts>("to");
    QTest::addColumn<double>("s");
    QTest::addColumn<BoxTexts>("expected");
    QTest::newRow("start keeps the texts as typed")
        << boxTexts(" 1", "1", "768", "1e0") << boxTexts("9", "9", "768", "4") << 0.0
        << boxTexts(" 1", "1", "768", "1e0");
    QTest::newRow("end keeps the texts as typed")
        << boxTexts("1", "1", "768") << boxTexts("&H10", "9", "300", "4") << 1.0
        << boxTexts("&H10", "9", "300", "4");
    QTest::newRow("geometric zoom, same centre")
        << boxTexts("1", "1", "300", "1") << boxTexts("1", "1", "300", "16") << 0.5
        << boxTexts("1", "1", "300", "4");
    QTest::newRow("negative zooms and brightnesses move geometrically too")
        << boxTexts("1", "1", "300", "-2", "-10") << boxTexts("1", "1", "300", "-8", "-1000") << 0.5
        << boxTexts("1", "1", "300", "-4", "-100");
    QTest::newRow("a zoom changing sign moves linearly")
        << boxTexts("1", "1", "300", "-1") << boxTexts("1", "1", "300", "3") << 0.5
        << boxTexts("1", "1", "300", "1");
    QTest::newRow("a zoom from 0 moves linearly, and so does its centre")
        << boxTexts("0", "10", "300", "0") << boxTexts("100", "30", "300", "2") << 0.25
        << boxTexts("25", "15", "300", "0.5");
    QTest::newRow("a pan moves the centre linearly")
        << boxTexts("0", "0", "300", "0.5") << boxTexts("100", "-50", "300", "0.5") << 0.5
        << boxTexts("50", "-25", "300", "0.5");
    QTest::newRow("whole sizes stay whole; the centre stays put")
        << boxTexts("1", "1", "300") << boxTexts("1", "1", "301") << 0.5
        << boxTexts("1", "1", "301");
}

void FlightTest::valuesBetweenKeyframes() {
    QFETCH(BoxTexts, from);
    QFETCH(BoxTexts, to);
    QFETCH(double, s);
    QFETCH(BoxTexts, expected);
    QCOMPARE(between(*findFormula("aries"), from, to, s), expected);
}

void FlightTest::theSharedPointKeepsItsPlaceAndAngle_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<BoxTexts>("from");
    QTest::addColumn<BoxTexts>("to");
    // Each rule of placing the picture, zooming in toward a point off the
    // centre, and out.
    for (const char* routine : {"aries", "eeee", "limbo", "numb"}) {
        QTest::addRow("%s, in", routine) << routine << boxTexts("1", "1", "768", "0.15")
                                         << boxTexts("-120.5", "40", "768", "2.4");
        QTest::addRow("%s, out", routine)
            << routine << boxTexts("300", "-20", "500", "8") << boxTexts("10", "5", "500", "0.5");
    }
}

// Along a zoom, the point both keyframes show at the same place stays at that
// place, with the same angles (world coordinate times zoom): the flight heads
// straight for it.
void FlightTest::theSharedPointKeepsItsPlaceAndAngle() {
    QFETCH(QString, routine);
    QFETCH(BoxTexts, from);
    QFETCH(BoxTexts, to);
    const Formula& formula = *findFormula(routine.toStdString());
    const ViewParams a = readView(formula, from), b = readView(formula, to);
    // The offset u from the centre where zoom (centre + u) agrees in both.
    const double ux = (b.zoom * centreX(b) - a.zoom * centreX(a)) / (a.zoom - b.zoom);
    const double uy = (b.zoom * centreY(b) - a.zoom * centreY(a)) / (a.zoom - b.zoom);
    for (const double s : {0.1, 0.5, 0.9}) {
        const ViewParams frame = readView(formula, between(formula, from, to, s));
        const double angleX = frame.zoom * (centreX(frame) + ux);
        const double angleY = frame.zoom * (centreY(frame) + uy);
        const double startX = a.zoom * (centreX(a) + ux), startY = a.zoom * (centreY(a) + uy);
        QVERIFY2(std::abs(angleX - startX) < 1e-9 * (1 + std::abs(startX)),
                 qPrintable(QString("at %1: %2 against %3").arg(s).arg(angleX).arg(startX)));
        QVERIFY2(std::abs(angleY - startY) < 1e-9 * (1 + std::abs(startY)),
                 qPrintable(QString("at %1: %2 against %3").arg(s).arg(angleY).arg(startY)));
    }
}

void FlightTest::movesEaseInAndOut() {
    QCOMPARE(eased(0), 0.0);
    QCOMPARE(eased(0.5), 0.5);
    QCOMPARE(eased(1), 1.0);
    // Slow at both ends, fast in the middle, and symmetric.
    QVERIFY(eased(0.01) < 0.001);
    QVERIFY(eased(0.99) > 0.999);
    QCOMPARE(eased(0.3) + eased(0.7), 1.0);
}

void FlightTest::framesOfAFlight() {
    const Formula& aries = *findFormula("aries");
    const std::vector<BoxTexts> keys{boxTexts("1", "1", "300", "1"),
                                     boxTexts("50", "1", "300", "4", "200"),
                                     boxTexts("-50", "7", "300", "0.5")};
    const FlightTiming timing{0.5, 10}; // 5 frames a move
    QCOMPARE(framesPerMove(timing), std::uint64_t(5));
    QCOMPARE(frameCount(keys.size(), timing), std::uint64_t(11));
    QCOMPARE(frameView(aries, keys, timing, 0), keys[0]);
    QCOMPARE(frameView(aries, keys, timing, 5), keys[1]);
    QCOMPARE(frameView(aries, keys, timing, 10), keys[2]);
    QCOMPARE(frameView(aries, keys, timing, 7), between(aries, keys[1], keys[2], eased(2.0 / 5)));
    // Far too many frames saturate instead of wrapping around.
    QVERIFY(frameCount(3, FlightTiming{1e9, 60}) > kMaxFrames);
    QVERIFY(frameCount(200000, FlightTiming{1, 1}) > kMaxFrames);
    QCOMPARE(framesPerMove(FlightTiming{0.001, 1}), std::uint64_t(1));
    // Videos grow odd sides for halved colour, and one-pixel sides alike.
    for (const auto& [kind, written] : {std::pair{OutputKind::Mp4H264, image::FrameSize{2, 4}},
                                        {OutputKind::MkvLossless, {2, 3}},
                                        {OutputKind::PngFrames, {1, 3}}})
        QCOMPARE(writtenFrameSize({1, 3}, kind), written);

    // A video's recipe shows a keyframe's texts without the control bytes
    // that a terminal printing the tags would obey.
    FlightPlan plan;
    plan.formula = &aries;
    plan.keys = {boxTexts("1\x1b]0;pwned\x07", "1\r\n2", "300", "1", "150"), keys[1]};
    for (const auto& [key, text] : flightMetadata(plan))
        QVERIFY2(std::none_of(text.begin(), text.end(),
                              [](unsigned char c) { return c < 0x20 || c == 0x7f; }),
                 key.c_str());
    QCOMPARE(QString::fromStdString(flightMetadata(plan).at(6).second), "1\\x1b]0;pwned\\x07");
}

void FlightTest::outputNames_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("lossless");
    // "frame 7: NAME", "video: KIND" or "refused: PART OF THE MESSAGE"
    QTest::addColumn<QString>("expected");
    QTest::newRow("new folder") << "out/" << false << "frame 7: out/frame-00007.png";
    QTest::newRow("folder that exists") << "/" << false << "frame 7: /frame-00007.png";
    QTest::newRow("%d") << "f%d.png" << false << "frame 7: f7.png";
    QTest::newRow("%05d in a folder") << "a/f%05d.PNG" << false << "frame 7: a/f00007.PNG";
    QTest::newRow("%3d pads with blanks") << "f%3d.png" << false << "frame 7: f  7.png";
    QTest::newRow("%i") << "%i.png" << true << "frame 7: 7.png";
    QTest::newRow("two numbers") << "f%d-%d.png" << false << "refused: after its number";
    QTest::newRow("%s") << "f%s.png" << false << "refused: only \"%d\"";
    QTest::newRow("%% before the number") << "100%%-%d.png" << false << "refused: only \"%d\"";
    QTest::newRow("% at the end") << "f%d.png%" << false << "refused: after its number";
    QTest::newRow("numbered video") << "f%d.mp4" << false << "refused: ends in \".png\"";
    QTest::newRow("mp4, a dot in the folder") << "a.b/flight.MP4" << false << "video: H.264 in MP4";
    QTest::newRow("webm") << "flight.webm" << false << "video: VP9 in WebM";
    QTest::newRow("mkv") << "flight.mkv" << false << "video: lossless FFV1 in Matroska";
    QTest::newRow("lossless mkv") << "flight.mkv" << true << "video: lossless FFV1 in Matroska";
    QTest::newRow("lossless mp4") << "flight.mp4" << true << "refused: \".mkv\"";
    QTest::newRow("unknown kind") << "flight.avi" << false << "refused: cannot tell";
    QTest::newRow("a dot in the folder only")
        << "out.mp4/flight" << false << "refused: cannot tell";
    QTest::newRow("one picture") << "flight.png" << false << "refused: cannot tell";
}

void FlightTest::outputNames() {
    QFETCH(QString, output);
    QFETCH(bool, lossless);
    QFETCH(QString, expected);
    QString found;
    try {
        const FlightTarget target = flightTargetFor(output.toStdString(), lossless);
        if (target.frames)
            found = "frame 7: " + QString::fromStdString(target.frames->nameOf(7));
        else
            found = "video: " + QString::fromStdString(
                                    std::string(spirell::video::outputKindRow(target.kind).name));
    } catch (const spirell::base::InputError& error) {
        found = "refused: " + QString(error.what());
    }
    if (expected.startsWith("refused: "))
        QVERIFY2(found.startsWith("refused: ") && found.contains(expected.mid(9)),
                 qPrintable(found));
    else
        QCOMPARE(found, expected);
}

void FlightTest::theChosenKindDecides_data() {
    QTest::addColumn<OutputKind>("kind");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("written");
    QTest::newRow("extension added") << OutputKind::Mp4H264 << "clip"
                                     << "clip.mp4";
    QTest::newRow("another kind's extension") << OutputKind::Mp4H264 << "clip.webm"
                                              << "clip.webm.mp4";
    QTest::newRow("its own, in capitals") << OutputKind::MkvLossless << "CLIP.MKV"
                                          << "CLIP.MKV";
    QTest::newRow("frames in a folder") << OutputKind::PngFrames << "shots.mp4"
                                        << "shots.mp4/frame-00007.png";
}

// The window's dialog chooses the kind; the name the file chooser gave
// cannot change it.
void FlightTest::theChosenKindDecides() {
    QFETCH(OutputKind, kind);
    QFETCH(QString, output);
    QFETCH(QString, written);
    const FlightTarget target = flightTargetAs(kind, output.toStdString());
    QCOMPARE(target.kind, kind);
    QCOMPARE(QString::fromStdString(target.frames ? target.frames->nameOf(7) : target.path),
             written);
}

void FlightTest::cancellingStopsAFlight_data() {
    QTest::addColumn<QString>("output");
    QTest::newRow("PNG frames") << "frames";
    QTest::newRow("video") << "flight.mkv";
}

// The window stops a flight from its own thread: the frames written by then
// stay, an unfinished video goes, and no thread is left behind.
void FlightTest::cancellingStopsAFlight() {
    QFETCH(QString, output);
    const std::vector<Keyframe> keys{{"a.png", {"ripple", boxTexts("1", "1", "40")}},
                                     {"b.png", {"aries", boxTexts("9", "1", "40", "3")}}};
    const FlightPlan plan =
        planFlight(keys, {0.5, 20, std::nullopt, std::nullopt}, computingFromEnvironment());
    QCOMPARE(plan.frames, std::uint64_t(11));
    QTemporaryDir folder;
    std::atomic<bool> cancel{false};
    std::uint64_t reported = 0;
    FlightOptions options;
    options.cancel = &cancel;
    options.progress = [&](const FlightProgress& progress) {
        reported = progress.framesDone;
        cancel = progress.framesDone == 3;
    };
    const qsizetype threadsBefore = threadCount();
    const std::string path = folder.filePath(output).toStdString();
    if (output == "frames")
        QVERIFY_THROWS_EXCEPTION(spirell::base::Cancelled,
                                 renderFrameFiles(plan, *flightTargetFor(path + "/", false).frames,
                                                  true, computingFromEnvironment(), options));
    else
        QVERIFY_THROWS_EXCEPTION(spirell::base::Cancelled,
                                 renderVideoFile(plan, path, OutputKind::MkvLossless,
                                                 computingFromEnvironment(), options));
    QCOMPARE(reported, std::uint64_t(3));
    QCOMPARE(entries(folder.path()), output == "frames" ? QStringList{"frames"} : QStringList{});
    if (output == "frames")
        QCOMPARE(entries(folder.filePath("frames")),
                 (QStringList{"frame-00000.png", "frame-00001.png", "frame-00002.png"}));
    QTRY_COMPARE(threadCount(), threadsBefore); // a joined thread leaves /proc a moment later
}

QTEST_APPLESS_MAIN(FlightTest)
#include "test_flight.moc"
