#include "support/RecordingSurface.hpp"
#include "support/TestPrinting.hpp"

#include <QtTest>

using namespace spirell;
using namespace spirell::testing;

// The "ripple" pattern, checked through the frame at the colours it is known by.
class AriesTest : public QObject {
    Q_OBJECT
private slots:
    void colours_data();
    void colours();
    void offsetKeepsEveryLevelAtLeast50();
};

void AriesTest::colours_data() {
    QTest::addColumn<QString>("zoom");
    QTest::addColumn<QString>("brightness");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<Colour>("colour");
    QTest::newRow("zoom 0, first pixel") << "0"
                                         << "150" << 161 << 51 << Colour{62, 59, 54};
    QTest::newRow("zoom 0, last pixel") << "0"
                                        << "150" << 310 << 200 << Colour{62, 59, 54};
    QTest::newRow("world (1, 1) at start-up") << "1"
                                              << "150" << 235 << 125 << Colour{64, 60, 55};
    QTest::newRow("brightness 0") << "1"
                                  << "0" << 200 << 80 << Colour{50, 50, 50};
}

void AriesTest::colours() {
    QFETCH(QString, zoom);
    QFETCH(QString, brightness);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(Colour, colour);
    BoxTexts boxes;
    boxes.TextFour = zoom.toStdString();
    boxes.Textfive = brightness.toStdString();
    const RecordingSurface surface = drawFromBoxes(formulaNamed("aries"), boxes);
    QCOMPARE(surface.pixels.size(), std::size_t(150 * 150));
    QCOMPARE(surface.at(x, y), colour);
}

void AriesTest::offsetKeepsEveryLevelAtLeast50() {
    BoxTexts boxes;
    boxes.TextThree = "300";
    const RecordingSurface surface = drawFromBoxes(formulaNamed("aries"), boxes);
    int saturated = 0;
    for (const auto& pixel : surface.pixels) {
        QVERIFY(pixel.colour.red >= 50 && pixel.colour.green >= 50 && pixel.colour.blue >= 50);
        saturated += pixel.colour.red == 255;
    }
    QVERIFY(saturated > 0); // the tangent poles draw saturated bands
}

QTEST_APPLESS_MAIN(AriesTest)
#include "test_aries.moc"
