#include "boxes/NumberText.hpp"
#include "drawing/Colours.hpp"
#include "formulas/PixelFunction.hpp"
#include "support/RecordingSurface.hpp"
#include "support/TestPrinting.hpp"

#include <QtTest>

#include <set>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::formulas;
using namespace spirell::drawing;
using namespace spirell::testing;

namespace {

// Start-up boxes with another zoom and brightness.
BoxTexts zoomAndBrightness(const char* zoom, const char* brightness = "150") {
    return boxTexts("1", "1", "150", zoom, brightness);
}

RecordingSurface draw(const QString& routine, const BoxTexts& texts) {
    return drawFromBoxes(formulaNamed(routine.toLatin1().constData()), texts);
}

std::set<std::uint32_t> coloursIn(const RecordingSurface& surface) {
    std::set<std::uint32_t> colours;
    for (const auto& pixel : surface.pixels)
        colours.insert(colourValue(pixel.colour));
    return colours;
}

// Positions are the image's own: column and row from 0. With the start-up
// boxes the centred formulas draw world X = -73 .. 76 at columns 0 .. 149, so
// the world origin lies at (73, 73).
constexpr int kEverywhere = -1;

} // namespace

// All nineteen patterns, drawn through the frame from box texts: the colours
// they are known by, and what zoom 0 and brightness 0 do to each.
class FormulasTest : public QObject {
    Q_OBJECT
private slots:
    void colours_data();
    void colours();
    void zoomZero_data();
    void zoomZero();
    void brightnessZero_data();
    void brightnessZero();
    void placement_data();
    void placement();
    void ariesOffsetKeepsEveryLevelAtLeast50();
    void eeeeAtSize768IsWideAndStartsAtAFractionalX();
    void funDrawsAnInfiniteReciprocalBlack();
    void numbVanishingDivisorSpoilsOnlyItsRow();
};

void FormulasTest::colours_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<BoxTexts>("texts");
    QTest::addColumn<int>("x"); // kEverywhere: every pixel of the image
    QTest::addColumn<int>("y");
    QTest::addColumn<Colour>("colour");
    const auto row = [](const char* name, const char* routine, BoxTexts texts, int x, int y,
                        Colour colour) {
        QTest::newRow(name) << QString(routine) << texts << x << y << colour;
    };
    const BoxTexts startUp;
    const int first = 0, origin = 73;

    row("aries zoom 0", "aries", zoomAndBrightness("0"), kEverywhere, 0, {62, 59, 54});
    row("aries world (1, 1)", "aries", startUp, 74, 74, {64, 60, 55});

    row("blood zoom 0", "blood", zoomAndBrightness("0"), kEverywhere, 0, {196, 232, 179});
    row("blood (66, -44)", "blood", startUp, 139, 29, {70, 106, 82});
    row("blood world origin", "blood", startUp, origin, origin, {196, 232, 179});

    row("celt zoom 0", "celt", zoomAndBrightness("0"), kEverywhere, 0, {11, 15, 13});
    row("celt (66, -44)", "celt", startUp, 139, 29, {107, 95, 16});
    row("celt world origin", "celt", startUp, origin, origin, {11, 15, 13});
    row("celt brightness -150", "celt", zoomAndBrightness("1", "-150"), kEverywhere, 0, {0, 0, 0});

    row("dune zoom 0", "dune", zoomAndBrightness("0"), kEverywhere, 0, {117, 58, 53});
    row("dune (-54, -64)", "dune", startUp, 19, 9, {121, 44, 17});
    row("dune world origin", "dune", startUp, origin, origin, {117, 58, 53});

    row("eeee zoom 0", "eeee", zoomAndBrightness("0"), kEverywhere, 0, {49, 36, 28});
    row("eeee (-29, 11)", "eeee", startUp, 19, 9, {50, 40, 11});

    row("fun zoom 0", "fun", zoomAndBrightness("0"), kEverywhere, 0, {50, 20, 56});
    row("fun (-34, -24)", "fun", startUp, 39, 49, {106, 29, 43});
    row("fun world origin", "fun", startUp, origin, origin, {50, 20, 56});

    row("grin zoom 0", "grin", zoomAndBrightness("0"), kEverywhere, 0, {27, 41, 32});
    row("grin (-54, -64)", "grin", startUp, 19, 9, {103, 126, 59});
    row("grin world origin", "grin", startUp, origin, origin, {27, 41, 32});

    row("hix first pixel", "hix", startUp, first, first, {1, 3, 8});
    row("hix world origin", "hix", startUp, origin, origin, {0, 0, 0});

    row("ice (-73, -49)", "ice", startUp, 0, 24, {45, 230, 55});
    row("ice first pixel", "ice", startUp, first, first, {0, 0, 0});
    row("ice world origin", "ice", startUp, origin, origin, {0, 0, 0});
    row("ice zoom 0, brightness -150", "ice", zoomAndBrightness("0", "-150"), kEverywhere, 0,
        {6, 1, 177});

    row("joke first pixel", "joke", startUp, first, first, {207, 130, 55});
    row("joke zoom 0", "joke", zoomAndBrightness("0"), kEverywhere, 0, {32, 27, 40});

    row("kraken first pixel", "kraken", startUp, first, first, {119, 110, 164});
    // kraken's column X = 0 is the same at every row and zoom.
    row("kraken X=0 top", "kraken", startUp, origin, 0, {119, 120, 195});
    row("kraken X=0 bottom", "kraken", startUp, origin, 149, {119, 120, 195});
    row("kraken X=0 zoom 3", "kraken", zoomAndBrightness("3"), origin, 79, {119, 120, 195});
    row("kraken zoom 0", "kraken", zoomAndBrightness("0"), 149, 149, {119, 120, 195});

    row("limbo first pixel", "limbo", startUp, first, first, {87, 31, 6});
    row("numb first pixel, red clamped", "numb", startUp, first, first, {0, 8, 155});

    row("ooh first pixel", "ooh", startUp, first, first, {8, 23, 46});
    row("ooh zoom 0", "ooh", zoomAndBrightness("0"), 89, 39, {8, 24, 47});

    row("Punk first pixel", "Punk", startUp, first, first, {27, 22, 68});
    row("Punk zoom 0", "Punk", zoomAndBrightness("0"), 89, 39, {71, 76, 255});

    row("qwin first pixel", "qwin", startUp, first, first, {6, 15, 13});
    row("qwin world origin", "qwin", startUp, origin, origin, {16, 45, 41});

    row("rave first pixel", "rave", startUp, first, first, {28, 39, 46});
    row("rave zoom 0", "rave", zoomAndBrightness("0"), 89, 39, {29, 40, 47});
    row("rave world origin", "rave", boxTexts("-10", "-10", "150"), 9, 9, {29, 40, 47});

    row("sizZle first pixel", "sizZle", startUp, first, first, {8, 22, 36});
    row("sizZle zoom 0", "sizZle", zoomAndBrightness("0"), 89, 39, {14, 37, 61});
    row("sizZle world origin", "sizZle", startUp, origin, origin, {14, 37, 61});

    row("Tame first pixel", "Tame", startUp, first, first, {42, 9, 6});
    row("Tame zoom 0", "Tame", zoomAndBrightness("0"), 89, 39, {71, 26, 29});
    row("Tame world origin", "Tame", startUp, origin, origin, {71, 26, 29});
}

void FormulasTest::colours() {
    QFETCH(QString, routine);
    QFETCH(BoxTexts, texts);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(Colour, colour);
    const RecordingSurface surface = draw(routine, texts);
    QCOMPARE(surface.pixels.size(), std::size_t(150 * 150));
    if (x != kEverywhere) {
        QCOMPARE(surface.at(x, y), colour);
        return;
    }
    for (const auto& pixel : surface.pixels)
        QCOMPARE(pixel.colour, colour);
}

// Zoom 0 flattens the angles; only the terms on the bare world coordinates
// (limbo's wave, numb's and qwin's ratios) still draw a pattern.
void FormulasTest::zoomZero_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<bool>("uniform");
    for (const Formula& formula : formulaCatalogue()) {
        const QString name(formula.routine);
        QTest::newRow(formula.routine)
            << name << !(name == "limbo" || name == "numb" || name == "qwin");
    }
}

void FormulasTest::zoomZero() {
    QFETCH(QString, routine);
    QFETCH(bool, uniform);
    const std::size_t colours = coloursIn(draw(routine, zoomAndBrightness("0"))).size();
    if (uniform)
        QCOMPARE(colours, std::size_t(1));
    else
        QVERIFY2(colours > 10, qPrintable(QString::number(colours)));
}

// Brightness 0 leaves each level at its offset: 50 for ripple, 0, 50 and 50
// for ember, 100 for saffron, and black for the rest.
void FormulasTest::brightnessZero_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<Colour>("colour");
    const std::map<QString, Colour> offsets{
        {"aries", {50, 50, 50}}, {"blood", {0, 50, 50}}, {"limbo", {100, 100, 100}}};
    for (const Formula& formula : formulaCatalogue()) {
        const auto offset = offsets.find(formula.routine);
        QTest::newRow(formula.routine)
            << QString(formula.routine) << (offset == offsets.end() ? Colour{} : offset->second);
    }
}

void FormulasTest::brightnessZero() {
    QFETCH(QString, routine);
    QFETCH(Colour, colour);
    const RecordingSurface surface = draw(routine, zoomAndBrightness("1", "0"));
    QCOMPARE(coloursIn(surface), std::set<std::uint32_t>{colourValue(colour)});
}

// Which world point lands on the image's first pixel, and that a larger size
// grows the corner-anchored and offset views to the right and downward only.
void FormulasTest::placement_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<BoxTexts>("texts");
    QTest::addColumn<double>("firstX");
    QTest::addColumn<double>("firstY");
    QTest::newRow("limbo 150") << "limbo" << BoxTexts{} << 2.0 << 2.0;
    QTest::newRow("limbo 300") << "limbo" << boxTexts("1", "1", "300") << 2.0 << 2.0;
    QTest::newRow("Punk moved") << "Punk" << boxTexts("-20", "35", "150") << -19.0 << 36.0;
    QTest::newRow("rave 300") << "rave" << boxTexts("7", "-3", "300") << 8.0 << -2.0;
    QTest::newRow("numb 150") << "numb" << BoxTexts{} << 152.0 << -148.0;
    QTest::newRow("numb 300") << "numb" << boxTexts("1", "1", "300") << 152.0 << -148.0;
    QTest::newRow("ooh moved") << "ooh" << boxTexts("10", "-5", "200") << 161.0 << -154.0;
    QTest::newRow("qwin 300, centred") << "qwin" << boxTexts("1", "1", "300") << -148.0 << -148.0;
    QTest::newRow("eeee, a third to the left") << "eeee" << BoxTexts{} << -48.0 << 2.0;
}

void FormulasTest::placement() {
    QFETCH(QString, routine);
    QFETCH(BoxTexts, texts);
    QFETCH(double, firstX);
    QFETCH(double, firstY);
    const Formula& formula = formulaNamed(routine.toLatin1().constData());
    const ViewParams view = readView(formula, texts);
    const RecordingSurface surface = drawFromBoxes(formula, texts);
    QCOMPARE(surface.pixels.size(), std::size_t(view.imageWidth * view.imageHeight));
    for (const auto& pixel : surface.pixels) {
        const double X = firstX + pixel.x;
        const double Y = firstY + pixel.y;
        if (pixel.colour != pixelColour(formula, view, X, Y))
            QFAIL(qPrintable(
                QString("(%1, %2) is not world (%3, %4)").arg(pixel.x).arg(pixel.y).arg(X).arg(Y)));
    }
}

// ripple adds 50 to every level; its tangent poles still saturate.
void FormulasTest::ariesOffsetKeepsEveryLevelAtLeast50() {
    const RecordingSurface surface =
        drawFromBoxes(formulaNamed("aries"), boxTexts("1", "1", "300"));
    int saturated = 0;
    for (const auto& pixel : surface.pixels) {
        QVERIFY(pixel.colour.red >= 50 && pixel.colour.green >= 50 && pixel.colour.blue >= 50);
        saturated += pixel.colour.red == 255;
    }
    QVERIFY(saturated > 0);
}

// At size 768 the image is 1024 wide, and a third of that width lies left of
// the position, so the world X values carry the fraction of 1024 / 3.
void FormulasTest::eeeeAtSize768IsWideAndStartsAtAFractionalX() {
    const Formula& eeee = formulaNamed("eeee");
    const RecordingSurface surface = drawFromBoxes(eeee, boxTexts("1", "1", "768"));
    QCOMPARE(surface.pixels.size(), std::size_t(1024 * 768));
    QCOMPARE(surface.pixels.back().x, 1023);
    QCOMPARE(surface.pixels.back().y, 767);

    // A 150-pixel image puts 50 columns left of its position; moved left by
    // 1024 / 3 - 50 it starts at the same fractional world X and at the same row.
    const BoxTexts small = boxTexts("-290.33333333333331", "1", "150");
    QCOMPARE(readNumber(small.xPosition) - 50, 1 - 1024.0 / 3);
    const RecordingSurface part = drawFromBoxes(eeee, small);
    QCOMPARE(part.pixels.size(), std::size_t(150 * 150));
    for (const auto& pixel : part.pixels)
        QCOMPARE(surface.at(pixel.x, pixel.y), pixel.colour);
}

// The reciprocal of AngleX + 0.0001 is infinite only where AngleX is -0.0001
// exactly; such a column is drawn black and the drawing goes on.
void FormulasTest::funDrawsAnInfiniteReciprocalBlack() {
    const BoxTexts texts = zoomAndBrightness("0.0031818181818181819"); // AngleX -0.0001 at X = -1
    QCOMPARE(formulas::standardAngle(readNumber(texts.zoom), -1.0), -0.0001);
    const RecordingSurface surface = drawFromBoxes(formulaNamed("fun"), texts);
    QCOMPARE(surface.pixels.size(), std::size_t(150 * 150));
    const int column = -1 - -73; // the first column is X = -73
    for (int y = 0; y < 150; ++y) {
        QCOMPARE(surface.at(column, y), Colour{});
        QVERIFY(surface.at(column - 1, y) != Colour{});
        QVERIFY(surface.at(column + 1, y) != Colour{});
    }
}

// This zoom makes numb's AngleY exactly -0.000123 on the first row (Y = -148),
// so one divisor there is exactly 0. That row draws black; the rest is untouched.
void FormulasTest::numbVanishingDivisorSpoilsOnlyItsRow() {
    const RecordingSurface surface = draw("numb", zoomAndBrightness("1.762899262899263E-05"));
    QCOMPARE(surface.pixels.size(), std::size_t(150 * 150));
    int blackBelow = 0;
    for (const auto& pixel : surface.pixels) {
        if (pixel.y == 0)
            QCOMPARE(pixel.colour, (Colour{0, 0, 0}));
        else
            blackBelow += pixel.colour == Colour{0, 0, 0};
    }
    QCOMPARE(blackBelow, 0);
}

QTEST_APPLESS_MAIN(FormulasTest)
#include "test_formulas.moc"
