#include "animation/Flight.hpp"
#include "boxes/NumberText.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"
#include "support/TestPrinting.hpp"

#include <QtTest>

using namespace spirell;
using namespace spirell::animation;
using namespace spirell::boxes;
using namespace spirell::drawing;
using namespace spirell::formulas;

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
}

QTEST_APPLESS_MAIN(FlightTest)
#include "test_flight.moc"
