#include "support/RecordingSurface.hpp"
#include "support/TestPrinting.hpp"

#include <QtTest>

#include <set>

using namespace spirell;
using namespace spirell::testing;

namespace {

const char* const kRoutines[] = {"kraken", "limbo", "numb",   "ooh", "Punk",
                                 "qwin",   "rave",  "sizZle", "Tame"};

BoxTexts boxes(const char* zoom = "1", const char* brightness = "150", const char* x = "1",
               const char* y = "1", const char* size = "150") {
    return {x, y, size, zoom, brightness};
}

RecordingSurface draw(const QString& routine, const BoxTexts& texts) {
    return drawFromBoxes(formulaNamed(routine.toLatin1().constData()), texts);
}

std::set<std::uint32_t> coloursIn(const RecordingSurface& surface) {
    std::set<std::uint32_t> colours;
    for (const auto& pixel : surface.pixels)
        colours.insert(pixel.colour.value());
    return colours;
}

} // namespace

// The "quartz" to "walnut" patterns, drawn through the frame from box texts.
class FormulasBTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void colours_data();
    void colours();
    void zoomZero_data();
    void zoomZero();
    void brightnessZero_data();
    void brightnessZero();
    void placement_data();
    void placement();
    void vanishingDivisorSpoilsOnlyItsRow();
};

void FormulasBTest::initTestCase() {
    for (const char* routine : kRoutines)
        QVERIFY2(findFormula(routine), routine);
}

void FormulasBTest::colours_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<BoxTexts>("texts");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<Colour>("colour");
    const auto row = [](const char* name, const char* routine, BoxTexts texts, int x, int y,
                        Colour colour) {
        QTest::newRow(name) << QString(routine) << texts << x << y << colour;
    };
    // Start-up boxes: the first pixel drawn.
    row("kraken first", "kraken", boxes(), 161, 51, {119, 110, 164});
    row("limbo first", "limbo", boxes(), 161, 51, {87, 31, 6});
    row("numb first, red clamped", "numb", boxes(), 161, 51, {0, 8, 155});
    row("ooh first", "ooh", boxes(), 161, 51, {8, 23, 46});
    row("Punk first", "Punk", boxes(), 161, 51, {27, 22, 68});
    row("qwin first", "qwin", boxes(), 161, 51, {6, 15, 13});
    row("rave first", "rave", boxes(), 161, 51, {28, 39, 46});
    row("sizZle first", "sizZle", boxes(), 161, 51, {8, 22, 36});
    row("Tame first", "Tame", boxes(), 161, 51, {42, 9, 6});
    // kraken's column X = 0 is the same at every row and zoom.
    row("kraken X=0 top", "kraken", boxes(), 234, 51, {119, 120, 195});
    row("kraken X=0 bottom", "kraken", boxes(), 234, 200, {119, 120, 195});
    row("kraken X=0 zoom 3", "kraken", boxes("3"), 234, 130, {119, 120, 195});
    row("kraken zoom 0", "kraken", boxes("0"), 310, 200, {119, 120, 195});
    // Zoom 0 and the world origin.
    row("ooh zoom 0", "ooh", boxes("0"), 250, 90, {8, 24, 47});
    row("Punk zoom 0", "Punk", boxes("0"), 250, 90, {71, 76, 255});
    row("qwin origin", "qwin", boxes(), 234, 124, {16, 45, 41});
    row("rave zoom 0", "rave", boxes("0"), 250, 90, {29, 40, 47});
    row("rave origin", "rave", boxes("1", "150", "-10", "-10"), 170, 60, {29, 40, 47});
    row("sizZle zoom 0", "sizZle", boxes("0"), 250, 90, {14, 37, 61});
    row("sizZle origin", "sizZle", boxes(), 234, 124, {14, 37, 61});
    row("Tame zoom 0", "Tame", boxes("0"), 250, 90, {71, 26, 29});
    row("Tame origin", "Tame", boxes(), 234, 124, {71, 26, 29});
}

void FormulasBTest::colours() {
    QFETCH(QString, routine);
    QFETCH(BoxTexts, texts);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(Colour, colour);
    const RecordingSurface surface = draw(routine, texts);
    QCOMPARE(surface.pixels.size(), std::size_t(150 * 150));
    QCOMPARE(surface.at(x, y), colour);
}

// Zoom 0 flattens the angles; only the terms on the bare world coordinates
// (limbo's wave, numb's and qwin's ratios) still draw a pattern.
void FormulasBTest::zoomZero_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<bool>("uniform");
    for (const char* routine : kRoutines) {
        const QString name(routine);
        QTest::newRow(routine) << name << !(name == "limbo" || name == "numb" || name == "qwin");
    }
}

void FormulasBTest::zoomZero() {
    QFETCH(QString, routine);
    QFETCH(bool, uniform);
    const std::size_t colours = coloursIn(draw(routine, boxes("0"))).size();
    if (uniform)
        QCOMPARE(colours, std::size_t(1));
    else
        QVERIFY2(colours > 10, qPrintable(QString::number(colours)));
}

void FormulasBTest::brightnessZero_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<Colour>("colour");
    for (const char* routine : kRoutines)
        QTest::newRow(routine) << QString(routine)
                               << (QString(routine) == "limbo" ? Colour{100, 100, 100}
                                                               : Colour{0, 0, 0});
}

void FormulasBTest::brightnessZero() {
    QFETCH(QString, routine);
    QFETCH(Colour, colour);
    const RecordingSurface surface = draw(routine, boxes("1", "0"));
    QCOMPARE(coloursIn(surface), std::set<std::uint32_t>{colour.value()});
}

// Which world point lands on the image's first pixel, and that a larger size
// grows the corner-anchored and offset views to the right and downward only.
void FormulasBTest::placement_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<BoxTexts>("texts");
    QTest::addColumn<double>("firstX");
    QTest::addColumn<double>("firstY");
    QTest::newRow("limbo 150") << "limbo" << boxes() << 2.0 << 2.0;
    QTest::newRow("limbo 300") << "limbo" << boxes("1", "150", "1", "1", "300") << 2.0 << 2.0;
    QTest::newRow("Punk moved") << "Punk" << boxes("1", "150", "-20", "35") << -19.0 << 36.0;
    QTest::newRow("rave 300") << "rave" << boxes("1", "150", "7", "-3", "300") << 8.0 << -2.0;
    QTest::newRow("numb 150") << "numb" << boxes() << 152.0 << -148.0;
    QTest::newRow("numb 300") << "numb" << boxes("1", "150", "1", "1", "300") << 152.0 << -148.0;
    QTest::newRow("ooh moved") << "ooh" << boxes("1", "150", "10", "-5", "200") << 161.0 << -154.0;
    QTest::newRow("qwin 300, centred")
        << "qwin" << boxes("1", "150", "1", "1", "300") << -148.0 << -148.0;
}

void FormulasBTest::placement() {
    QFETCH(QString, routine);
    QFETCH(BoxTexts, texts);
    QFETCH(double, firstX);
    QFETCH(double, firstY);
    const Formula& formula = formulaNamed(routine.toLatin1().constData());
    const ViewParams view = readView(formula, texts);
    const RecordingSurface surface = drawFromBoxes(formula, texts);
    QCOMPARE(surface.pixels.size(), std::size_t(view.ImageWidth * view.ImageHeight));
    for (const auto& pixel : surface.pixels) {
        const double X = firstX + (pixel.x - 161);
        const double Y = firstY + (pixel.y - 51);
        if (pixel.colour != pixelColour(formula, view, X, Y))
            QFAIL(qPrintable(
                QString("(%1, %2) is not world (%3, %4)").arg(pixel.x).arg(pixel.y).arg(X).arg(Y)));
    }
}

// This zoom makes numb's AngleY exactly -0.000123 on the first row (Y = -148), so
// one divisor there is exactly 0. That row draws black; the rest is untouched.
void FormulasBTest::vanishingDivisorSpoilsOnlyItsRow() {
    const RecordingSurface surface = draw("numb", boxes("1.762899262899263E-05"));
    QCOMPARE(surface.pixels.size(), std::size_t(150 * 150));
    int blackBelow = 0;
    for (const auto& pixel : surface.pixels) {
        if (pixel.y == 51)
            QCOMPARE(pixel.colour, (Colour{0, 0, 0}));
        else
            blackBelow += pixel.colour == Colour{0, 0, 0};
    }
    QCOMPARE(blackBelow, 0);
}

QTEST_GUILESS_MAIN(FormulasBTest)
#include "test_formulas_b.moc"
