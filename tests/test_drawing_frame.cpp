#include "drawing/Colours.hpp"
#include "support/RecordingSurface.hpp"
#include "support/TestPrinting.hpp"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::formulas;
using namespace spirell::drawing;
using namespace spirell::testing;

namespace {

const Formula& aries() {
    return formulaNamed("aries");
}

BoxTexts withSize(const char* size, const char* x = "1", const char* y = "1") {
    BoxTexts boxes;
    boxes.xPosition = x;
    boxes.yPosition = y;
    boxes.size = size;
    return boxes;
}

// Distinct window columns drawn, in drawing order.
std::vector<int> columnsDrawn(const RecordingSurface& surface) {
    std::vector<int> columns;
    for (const auto& pixel : surface.pixels)
        if (columns.empty() || columns.back() != pixel.x)
            columns.push_back(pixel.x);
    return columns;
}

// One thread computes each column as it is shown; more compute columns ahead,
// which a halt throws away.
void computingThreads() {
    QTest::addColumn<unsigned>("threads");
    QTest::addColumn<int>("size");
    QTest::newRow("one thread") << 1u << 60;
    QTest::newRow("three threads") << 3u << 150;
}

Computing computingWith(unsigned threads) {
    return threads == 1 ? Computing{lanes::InstructionSet::Scalar, 1}
                        : Computing{lanes::widestAvailable(), threads};
}

} // namespace

class DrawingFrameTest : public QObject {
    Q_OBJECT
private slots:
    void levelsBecomeColours_data();
    void levelsBecomeColours();
    void imageShape_data();
    void imageShape();
    void visitsColumnByColumn();
    void haltStopsAfterTheCurrentColumn_data();
    void haltStopsAfterTheCurrentColumn();
    void nestedDrawingRunsInsideTheYieldAndTheOuterResumes();
    void oneHaltStopsTheWholeChain_data();
    void oneHaltStopsTheWholeChain();
    void hugePositionStillEnds();
    void everyInstructionSetAndThreadCountDrawsTheSame_data();
    void everyInstructionSetAndThreadCountDrawsTheSame();
    void boxesThatCannotBeReadDrawNothing();
};

void DrawingFrameTest::levelsBecomeColours_data() {
    QTest::addColumn<double>("level");
    QTest::addColumn<int>("channel");
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("above range") << 255.5 << 255;
    QTest::newRow("half to even, down") << 254.5 << 254;
    QTest::newRow("half to even, up") << 253.5 << 254;
    QTest::newRow("just below zero") << -0.3 << 0;
    QTest::newRow("exact 255") << 255.0 << 255;
    QTest::newRow("exact 0") << 0.0 << 0;
    QTest::newRow("half below one") << 0.5 << 0;
    QTest::newRow("ordinary") << 62.7 << 63;
    QTest::newRow("infinite") << inf << 255;
    QTest::newRow("minus infinite") << -inf << 0;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0;
}

void DrawingFrameTest::levelsBecomeColours() {
    QFETCH(double, level);
    QFETCH(int, channel);
    // Each channel is converted on its own: the level goes through each in turn.
    QCOMPARE(colourFromLevels({level, 100, 7}), (Colour{std::uint8_t(channel), 100, 7}));
    QCOMPARE(colourFromLevels({100, level, 7}), (Colour{100, std::uint8_t(channel), 7}));
    QCOMPARE(colourFromLevels({100, 7, level}), (Colour{100, 7, std::uint8_t(channel)}));
}

void DrawingFrameTest::imageShape_data() {
    QTest::addColumn<QString>("size");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::newRow("start-up") << "150" << 150 << 150;
    QTest::newRow("768 is drawn 1024 wide") << "768" << 1024 << 768;
    QTest::newRow("1024") << "1024" << 1024 << 1024;
    QTest::newRow("767") << "767" << 767 << 767;
    QTest::newRow("fractional") << "1.5" << 1 << 1;
    QTest::newRow("text 768 with blanks") << "7 68" << 1024 << 768;
    QTest::newRow("zero") << "0" << 0 << 0;
    QTest::newRow("below one") << "0.5" << 0 << 0;
    QTest::newRow("negative") << "-3" << 0 << 0;
    QTest::newRow("not a number") << "abc" << 0 << 0;
}

void DrawingFrameTest::imageShape() {
    QFETCH(QString, size);
    QFETCH(int, columns);
    QFETCH(int, rows);
    const RecordingSurface surface = drawFromBoxes(aries(), withSize(qPrintable(size)));
    QCOMPARE(int(surface.pixels.size()), columns * rows);
    QCOMPARE(surface.yields, columns);
    if (columns == 0)
        return;
    QCOMPARE(surface.pixels.front().x, 0);
    QCOMPARE(surface.pixels.front().y, 0);
    QCOMPARE(surface.pixels.back().x, columns - 1);
    QCOMPARE(surface.pixels.back().y, rows - 1);
}

void DrawingFrameTest::visitsColumnByColumn() {
    // A fractional position gives fractional world coordinates, not another placement.
    for (const char* position : {"1", "0.25", "-1000.5"}) {
        const RecordingSurface surface = drawFromBoxes(aries(), withSize("4", position, position));
        QCOMPARE(surface.pixels.size(), std::size_t(16));
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(surface.pixels[i].x, i / 4);
            QCOMPARE(surface.pixels[i].y, i % 4);
        }
    }
}

void DrawingFrameTest::haltStopsAfterTheCurrentColumn_data() {
    computingThreads();
}

void DrawingFrameTest::haltStopsAfterTheCurrentColumn() {
    QFETCH(unsigned, threads);
    QFETCH(int, size);
    const Formula& formula = aries();
    const ViewParams view = readView(formula, withSize(qPrintable(QString::number(size))));
    RecordingSurface surface;
    HaltFlag halt;
    surface.onYield = [&](int yield) {
        if (yield == 3)
            halt.request();
    };
    drawFormula(formula, view, surface, halt, computingWith(threads));
    QCOMPARE(surface.yields, 3);
    QCOMPARE(surface.pixels.size(), std::size_t(3 * size));
    QCOMPARE(columnsDrawn(surface), (std::vector<int>{0, 1, 2}));
    QVERIFY(halt.isRequested()); // a halted drawing leaves the flag set
}

void DrawingFrameTest::nestedDrawingRunsInsideTheYieldAndTheOuterResumes() {
    const Formula& formula = aries();
    const ViewParams outer = readView(formula, withSize("6"));
    BoxTexts innerBoxes = withSize("3");
    innerBoxes.zoom = "0"; // a single colour, to tell the two drawings apart
    const ViewParams inner = readView(formula, innerBoxes);

    const Computing computing = computingFromEnvironment();
    RecordingSurface surface;
    HaltFlag halt;
    bool nested = false;
    surface.onYield = [&](int) {
        if (nested)
            return;
        nested = true;
        halt.clear(); // what every formula click does first
        drawFormula(formula, inner, surface, halt, computing);
    };
    drawFormula(formula, outer, surface, halt, computing);

    // One outer column, the whole inner image, then the outer columns 2..6.
    QCOMPARE(surface.pixels.size(), std::size_t(6 * 6 + 3 * 3));
    QCOMPARE(surface.pixels[6].colour, (Colour{62, 59, 54})); // the inner drawing's first pixel
    QCOMPARE(columnsDrawn(surface), (std::vector<int>{0, 1, 2, 1, 2, 3, 4, 5}));
    QCOMPARE(surface.yields, 6 + 3);
    // The outer drawing painted over the inner one from its second column on;
    // its first column lies under the inner image.
    const RecordingSurface outerAlone = drawFromBoxes(formula, withSize("6"));
    auto expected = outerAlone.latest;
    for (int y = 0; y <= 2; ++y)
        expected[{0, y}] = Colour{62, 59, 54};
    QCOMPARE(surface.latest, expected);
}

void DrawingFrameTest::oneHaltStopsTheWholeChain_data() {
    computingThreads();
}

void DrawingFrameTest::oneHaltStopsTheWholeChain() {
    QFETCH(unsigned, threads);
    QFETCH(int, size);
    const Formula& formula = aries();
    const ViewParams view = readView(formula, withSize(qPrintable(QString::number(size))));
    const Computing computing = computingWith(threads);
    RecordingSurface surface;
    HaltFlag halt;
    int depth = 0;
    surface.onYield = [&](int) {
        if (depth < 2) {
            ++depth; // a click on a formula button starts a nested drawing
            halt.clear();
            drawFormula(formula, view, surface, halt, computing);
        } else {
            halt.request(); // "halt !" inside the innermost drawing
        }
    };
    drawFormula(formula, view, surface, halt, computing);
    // Each of the three drawings finished exactly one column.
    QCOMPARE(surface.yields, 3);
    QCOMPARE(surface.pixels.size(), std::size_t(3 * size));
}

void DrawingFrameTest::hugePositionStillEnds() {
    // Adding 1 to 1e300 gives 1e300: the loop must not run forever.
    for (const char* position : {"1e300", "-1e300"}) {
        const RecordingSurface surface =
            drawFromBoxes(aries(), withSize("150", position, position));
        QVERIFY(surface.yields <= 150);
        QVERIFY(!surface.pixels.empty());
        QCOMPARE(surface.pixels.front().x, 0);
        QCOMPARE(surface.pixels.front().y, 0);
    }
}

// The instruction sets and the computing threads change how the colours are computed,
// never which colours are set where or in what order. The views bring odd
// tails for every lane count, enough pixels for the threads to take part, zero
// divisors, NaN and infinite levels, and coordinates too large for the loop to
// move.
void DrawingFrameTest::everyInstructionSetAndThreadCountDrawsTheSame_data() {
    QTest::addColumn<BoxTexts>("view");
    QTest::newRow("odd tails") << BoxTexts{"0.37", "-12.5", "37", "1", "150"};
    QTest::newRow("threads at work") << BoxTexts{"1", "1", "131", "1", "150"};
    QTest::newRow("zero divisor") << BoxTexts{"1", "1", "41", "0.0031818181818181819", "150"};
    QTest::newRow("huge coordinates") << BoxTexts{"1e15", "-1e300", "23", "0.7", "150"};
    QTest::newRow("zoom 0") << BoxTexts{"1", "1", "19", "0", "150"};
    QTest::newRow("infinite levels") << BoxTexts{"-300", "40", "29", "13", "1e300"};
}

void DrawingFrameTest::everyInstructionSetAndThreadCountDrawsTheSame() {
    QFETCH(BoxTexts, view);
    for (const Formula& formula : formulaCatalogue()) {
        const RecordingSurface reference =
            drawFromBoxes(formula, view, Computing{lanes::InstructionSet::Scalar, 1});
        QVERIFY(!reference.pixels.empty());
        for (const lanes::InstructionSet set : lanes::availableInstructionSets())
            for (const unsigned threads : {1u, 3u}) {
                const RecordingSurface surface =
                    drawFromBoxes(formula, view, Computing{set, threads});
                QVERIFY2(surface.pixels == reference.pixels,
                         qPrintable(QString("%1 at %2 with %3 threads")
                                        .arg(formula.routine, lanes::nameOf(set))
                                        .arg(threads)));
                QCOMPARE(surface.yields, reference.yields);
            }
    }
}

void DrawingFrameTest::boxesThatCannotBeReadDrawNothing() {
    BoxTexts boxes = withSize("150");
    boxes.zoom = "1e400";
    QVERIFY_THROWS_EXCEPTION(RuntimeError, readView(aries(), boxes));
    boxes.zoom = "1e308"; // doubling it leaves the double range
    QVERIFY_THROWS_EXCEPTION(RuntimeError, readView(aries(), boxes));
}

QTEST_APPLESS_MAIN(DrawingFrameTest)
#include "test_drawing_frame.moc"
