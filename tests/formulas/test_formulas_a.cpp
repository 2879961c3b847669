#include "formulas/PixelFunction.hpp"
#include "support/RecordingSurface.hpp"
#include "support/TestPrinting.hpp"
#include "boxes/NumberText.hpp"

#include <QtTest>

using namespace spirell;
using namespace spirell::testing;

namespace {

RecordingSurface draw(const char* routine, const char* zoom, const char* brightness) {
    BoxTexts boxes;
    boxes.TextFour = zoom;
    boxes.Textfive = brightness;
    return drawFromBoxes(formulaNamed(routine), boxes);
}

} // namespace

// The patterns from "ember" to "bramble", checked through the frame at the
// colours they are known by and where their placement or arithmetic is unusual.
class FormulasATest : public QObject {
    Q_OBJECT
private slots:
    void colours_data();
    void colours();
    void eeeeAtSize768IsWideAndStartsAtAFractionalX();
    void funDrawsAnInfiniteReciprocalBlack();
};

void FormulasATest::colours_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<QString>("zoom");
    QTest::addColumn<QString>("brightness");
    QTest::addColumn<int>("x"); // 0 for every pixel of the image
    QTest::addColumn<int>("y");
    QTest::addColumn<Colour>("colour");
    const auto row = [](const char* name, const char* routine, const char* zoom,
                        const char* brightness, int x, int y, Colour colour) {
        QTest::newRow(name) << routine << zoom << brightness << x << y << colour;
    };
    const int everywhere = 0;

    row("blood zoom 0", "blood", "0", "150", everywhere, 0, {196, 232, 179});
    row("blood (66, -44)", "blood", "1", "150", 300, 80, {70, 106, 82});
    row("blood world origin", "blood", "1", "150", 234, 124, {196, 232, 179});
    row("blood brightness 0", "blood", "1", "0", everywhere, 0, {0, 50, 50});

    row("celt zoom 0", "celt", "0", "150", everywhere, 0, {11, 15, 13});
    row("celt (66, -44)", "celt", "1", "150", 300, 80, {107, 95, 16});
    row("celt world origin", "celt", "1", "150", 234, 124, {11, 15, 13});
    row("celt brightness -150", "celt", "1", "-150", everywhere, 0, {0, 0, 0});

    row("dune zoom 0", "dune", "0", "150", everywhere, 0, {117, 58, 53});
    row("dune (-54, -64)", "dune", "1", "150", 180, 60, {121, 44, 17});
    row("dune world origin", "dune", "1", "150", 234, 124, {117, 58, 53});
    row("dune brightness 0", "dune", "1", "0", everywhere, 0, {0, 0, 0});

    row("eeee zoom 0", "eeee", "0", "150", everywhere, 0, {49, 36, 28});
    row("eeee (-29, 11)", "eeee", "1", "150", 180, 60, {50, 40, 11});
    row("eeee brightness 0", "eeee", "1", "0", everywhere, 0, {0, 0, 0});

    row("fun zoom 0", "fun", "0", "150", everywhere, 0, {50, 20, 56});
    row("fun (-34, -24)", "fun", "1", "150", 200, 100, {106, 29, 43});
    row("fun world origin", "fun", "1", "150", 234, 124, {50, 20, 56});

    row("grin zoom 0", "grin", "0", "150", everywhere, 0, {27, 41, 32});
    row("grin (-54, -64)", "grin", "1", "150", 180, 60, {103, 126, 59});
    row("grin world origin", "grin", "1", "150", 234, 124, {27, 41, 32});

    row("hix first pixel", "hix", "1", "150", 161, 51, {1, 3, 8});
    row("hix world origin", "hix", "1", "150", 234, 124, {0, 0, 0});
    row("hix zoom 0", "hix", "0", "150", everywhere, 0, {0, 0, 0});

    row("ice (-73, -49)", "ice", "1", "150", 161, 75, {45, 230, 55});
    row("ice first pixel", "ice", "1", "150", 161, 51, {0, 0, 0});
    row("ice world origin", "ice", "1", "150", 234, 124, {0, 0, 0});
    row("ice zoom 0", "ice", "0", "150", everywhere, 0, {0, 0, 0});
    row("ice zoom 0, brightness -150", "ice", "0", "-150", everywhere, 0, {6, 1, 177});
    row("ice brightness 0", "ice", "1", "0", everywhere, 0, {0, 0, 0});

    row("joke first pixel", "joke", "1", "150", 161, 51, {207, 130, 55});
    row("joke zoom 0", "joke", "0", "150", everywhere, 0, {32, 27, 40});
    row("joke brightness 0", "joke", "1", "0", everywhere, 0, {0, 0, 0});
}

void FormulasATest::colours() {
    QFETCH(QString, routine);
    QFETCH(QString, zoom);
    QFETCH(QString, brightness);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(Colour, colour);
    const RecordingSurface surface =
        draw(routine.toLatin1().constData(), zoom.toLatin1().constData(),
             brightness.toLatin1().constData());
    QCOMPARE(surface.pixels.size(), std::size_t(150 * 150));
    if (x != 0) {
        QCOMPARE(surface.at(x, y), colour);
        return;
    }
    for (const auto& pixel : surface.pixels)
        QCOMPARE(pixel.colour, colour);
}

// At size 768 the image is 1024 wide, and a third of that width lies left of
// the position, so the world X values carry the fraction of 1024 / 3.
void FormulasATest::eeeeAtSize768IsWideAndStartsAtAFractionalX() {
    const Formula& eeee = formulaNamed("eeee");
    BoxTexts wide;
    wide.TextThree = "768";
    const RecordingSurface surface = drawFromBoxes(eeee, wide);
    QCOMPARE(surface.pixels.size(), std::size_t(1024 * 768));
    QCOMPARE(surface.pixels.front().x, 161);
    QCOMPARE(surface.pixels.front().y, 51);
    QCOMPARE(surface.pixels.back().x, 160 + 1024);
    QCOMPARE(surface.pixels.back().y, 50 + 768);

    // A 150-pixel image puts 50 columns left of its position; moved left by
    // 1024 / 3 - 50 it starts at the same fractional world X and at the same row.
    BoxTexts small;
    small.TextOne = "-290.33333333333331";
    QCOMPARE(Val(small.TextOne) - 50, 1 - 1024.0 / 3);
    const RecordingSurface part = drawFromBoxes(eeee, small);
    QCOMPARE(part.pixels.size(), std::size_t(150 * 150));
    for (const auto& pixel : part.pixels)
        QCOMPARE(surface.at(pixel.x, pixel.y), pixel.colour);
}

// The reciprocal of AngleX + 0.0001 is infinite only where AngleX is -0.0001
// exactly; such a column is drawn black and the drawing goes on.
void FormulasATest::funDrawsAnInfiniteReciprocalBlack() {
    BoxTexts boxes;
    boxes.TextFour = "0.0031818181818181819"; // puts AngleX at -0.0001 in the column X = -1
    QCOMPARE(formulas::standardAngle(Val(boxes.TextFour), -1.0), -0.0001);
    const RecordingSurface surface = drawFromBoxes(formulaNamed("fun"), boxes);
    QCOMPARE(surface.pixels.size(), std::size_t(150 * 150));
    const int column = 160 + (-1 - -74);
    for (int y = 51; y <= 200; ++y) {
        QCOMPARE(surface.at(column, y), Colour{});
        QVERIFY(surface.at(column - 1, y) != Colour{});
        QVERIFY(surface.at(column + 1, y) != Colour{});
    }
}

QTEST_APPLESS_MAIN(FormulasATest)
#include "test_formulas_a.moc"
