#include "boxes/BoxEdits.hpp"
#include "boxes/RuntimeError.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"
#include "support/TestPrinting.hpp"

#include <QtTest>

#include <functional>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::drawing;
using namespace spirell::formulas;

namespace {

using Edit = std::function<void(BoxTexts&)>;

// An edit that calls one of the edit functions with these arguments and the boxes.
template <typename Function, typename... Arguments> Edit on(Function edit, Arguments... arguments) {
    return [=](BoxTexts& texts) { edit(arguments..., texts); };
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class BoxEditsTest : public QObject {
    Q_OBJECT
private slots:
    void editsWriteTheBoxes_data();
    void editsWriteTheBoxes();
    void overflowLeavesEveryBox_data();
    void overflowLeavesEveryBox();
    void sizeCheck_data();
    void sizeCheck();
    void repeatedZoomDoublingEndsInOverflow();
    void zoomAroundKeepsThePointsAngles_data();
    void zoomAroundKeepsThePointsAngles();
};

void BoxEditsTest::editsWriteTheBoxes_data() {
    QTest::addColumn<BoxTexts>("before");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<BoxTexts>("after");
    const BoxTexts start = boxTexts("1", "1", "150", "1");
    const auto shift = [](ShiftButton button) { return on(shiftView, button); };
    const auto scale = [](ScaleButton button) { return on(scalePosition, button); };
    const auto zoom = [](ZoomButton button) { return on(zoomView, button); };
    const auto preset = [](Preset size) { return on(applyPreset, size); };

    QTest::newRow("S") << start << preset(Preset::Small) << boxTexts("1", "1", "300", "1");
    QTest::newRow("M") << boxTexts("1", "1", "150", "1", "77") << preset(Preset::Medium)
                       << boxTexts("-250", "-250", "500", "0.2", "77");
    QTest::newRow("L") << boxTexts("5", "6", "150", "1") << preset(Preset::Large)
                       << boxTexts("5", "6", "768", "0.15");
    QTest::newRow("reset") << boxTexts("9", "8", "300", "0.2", "7") << on(resetBoxes)
                           << boxTexts("1", "1", "100", "1", "150");
    QTest::newRow("pan right") << start << shift(ShiftButton::Right)
                               << boxTexts("251", "1", "150", "1");
    QTest::newRow("pan left") << boxTexts("251", "1", "150", "1") << shift(ShiftButton::Left)
                              << start;
    QTest::newRow("pan up") << start << shift(ShiftButton::Up) << boxTexts("1", "-249", "150", "1");
    QTest::newRow("pan down") << start << shift(ShiftButton::Down)
                              << boxTexts("1", "251", "150", "1");
    QTest::newRow("pan a text box") << boxTexts("abc", "1", "150", "1") << shift(ShiftButton::Right)
                                    << boxTexts("250", "1", "150", "1");
    QTest::newRow("halve y") << start << scale(ScaleButton::HalveY)
                             << boxTexts("1", "0.5", "150", "1");
    QTest::newRow("double y") << boxTexts("1", "-250", "150", "1") << scale(ScaleButton::DoubleY)
                              << boxTexts("1", "-500", "150", "1");
    QTest::newRow("double x") << boxTexts("-250", "1", "150", "1") << scale(ScaleButton::DoubleX)
                              << boxTexts("-500", "1", "150", "1");
    QTest::newRow("halve x") << start << scale(ScaleButton::HalveX)
                             << boxTexts("0.5", "1", "150", "1");
    QTest::newRow("zoom <") << start << zoom(ZoomButton::Double) << boxTexts("1", "1", "150", "2");
    QTest::newRow("zoom >") << start << zoom(ZoomButton::Halve) << boxTexts("1", "1", "150", "0.5");
    QTest::newRow("halve 0.15") << boxTexts("1", "1", "150", "0.15") << zoom(ZoomButton::Halve)
                                << boxTexts("1", "1", "150", "0.075");
    QTest::newRow("double 0.2") << boxTexts("1", "1", "150", "0.2") << zoom(ZoomButton::Double)
                                << boxTexts("1", "1", "150", "0.4");
    QTest::newRow("hidden >>") << boxTexts("7", "7", "150", "1")
                               << zoom(ZoomButton::HalveAndMoveToHalfSize)
                               << boxTexts("75", "75", "150", "0.5");
    QTest::newRow("hidden <<") << boxTexts("7", "7", "150", "1")
                               << zoom(ZoomButton::DoubleAndMoveToTwiceSize)
                               << boxTexts("300", "300", "150", "2");
    QTest::newRow("drag right and up")
        << start << on(panByPixels, 30, -7) << boxTexts("-29", "8", "150", "1");
    QTest::newRow("brighter") << start << on(scaleBrightness, 2)
                              << boxTexts("1", "1", "150", "1", "300");
    QTest::newRow("zoom alone") << boxTexts("5", "-3", "150", "0.15") << on(scaleZoom, 0.5)
                                << boxTexts("5", "-3", "150", "0.075");
    QTest::newRow("zoom in at the point 0, 0")
        << boxTexts("5", "-3", "150", "0.5") << on(zoomAround, 4, 0, 0)
        << boxTexts("5", "-3", "150", "2");
    QTest::newRow("zoom out at a point")
        << boxTexts("1", "1", "150", "1") << on(zoomAround, 0.5, 10, 20)
        << boxTexts("11", "21", "150", "0.5");
}

void BoxEditsTest::editsWriteTheBoxes() {
    QFETCH(BoxTexts, before);
    QFETCH(Edit, edit);
    QFETCH(BoxTexts, after);
    edit(before);
    QCOMPARE(before, after);
}

void BoxEditsTest::overflowLeavesEveryBox_data() {
    QTest::addColumn<BoxTexts>("before");
    QTest::addColumn<Edit>("edit");
    QTest::newRow("double a huge position")
        << boxTexts("1e308", "1", "150", "1") << on(scalePosition, ScaleButton::DoubleX);
    QTest::newRow("pan a box beyond range")
        << boxTexts("1", "1e999", "150", "1") << on(shiftView, ShiftButton::Up);
    // The zoom would be written first; the size doubling overflows afterwards.
    QTest::newRow("hidden << with a huge size")
        << boxTexts("1", "1", "1.5e308", "1") << on(zoomView, ZoomButton::DoubleAndMoveToTwiceSize);
    // The zoom would be written first; the position overflows afterwards.
    QTest::newRow("zoom around a point far out")
        << boxTexts("1.7e308", "1", "150", "1") << on(zoomAround, 0.5, -1.7e308, 0);
    QTest::newRow("zoom beyond range")
        << boxTexts("1", "1", "150", "1e308") << on(zoomAround, 16, 0, 0);
    QTest::newRow("zoom alone beyond range")
        << boxTexts("1", "1", "150", "1e308") << on(scaleZoom, 16);
    QTest::newRow("drag beyond range")
        << boxTexts("1", "-1.79e308", "150", "1") << on(panByPixels, 0, 1e306);
    QTest::newRow("brightness beyond range")
        << boxTexts("1", "1", "150", "1", "1e308") << on(scaleBrightness, 1024);
}

void BoxEditsTest::overflowLeavesEveryBox() {
    QFETCH(BoxTexts, before);
    QFETCH(Edit, edit);
    BoxTexts texts = before;
    QVERIFY_THROWS_EXCEPTION(RuntimeError, edit(texts));
    QCOMPARE(texts, before);
}

void BoxEditsTest::sizeCheck_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    for (const char* out : {"2000", "0", "0.5", "-3", "abc", "", "1025", "1e999"})
        QTest::newRow(out) << out << "100";
    for (const char* in : {"1024", "1.5", "1", "768", " 3 00"})
        QTest::newRow(in) << in << in;
}

void BoxEditsTest::sizeCheck() {
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    BoxTexts texts = boxTexts("1", "1", "", "1");
    texts.size = typed.toStdString();
    QCOMPARE(checkSize(texts), typed != kept);
    QCOMPARE(QString::fromStdString(texts.size), kept);
}

void BoxEditsTest::repeatedZoomDoublingEndsInOverflow() {
    BoxTexts texts = boxTexts("1", "1", "150", "1");
    int doublings = 0;
    try {
        for (; doublings < 2000; ++doublings)
            zoomView(ZoomButton::Double, texts);
    } catch (const RuntimeError& error) {
        QCOMPARE(error.number(), 6);
    }
    // Written values keep 15 digits, so the count is near the double range's 1024.
    QVERIFY(doublings > 1000 && doublings < 1030);
}

// Zooming around a point keeps the angles of that point for every rule that
// places the picture, whatever the factor: the point stays where it was.
void BoxEditsTest::zoomAroundKeepsThePointsAngles_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<BoxTexts>("before");
    QTest::addColumn<double>("factor");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("row");
    // aries centres the picture, eeee a third of the width, limbo names its
    // corner and numb is offset by 150.
    for (const char* routine : {"aries", "eeee", "limbo", "numb"}) {
        QTest::addRow("%s, one notch in", routine)
            << routine << boxTexts("1", "1", "768", "0.15") << 1.189207115002721 << 700 << 100;
        QTest::addRow("%s, out far from the centre", routine)
            << routine << boxTexts("-3456.25", "77", "300", "3") << 0.125 << 0 << 299;
    }
}

void BoxEditsTest::zoomAroundKeepsThePointsAngles() {
    QFETCH(QString, routine);
    QFETCH(BoxTexts, before);
    QFETCH(double, factor);
    QFETCH(int, column);
    QFETCH(int, row);
    const Formula& formula = *findFormula(routine.toStdString());
    const ViewParams old = readView(formula, before);
    BoxTexts after = before;
    zoomAround(factor, old.originX + 1 + column, old.originY + 1 + row, after);
    const ViewParams zoomed = readView(formula, after);
    QCOMPARE(zoomed.zoom, old.zoom * factor);
    // The same column and row, in both views: its angle is kept up to the
    // 15 digits the boxes are written with.
    const auto angle = [](const ViewParams& view, double origin, int offset) {
        return view.zoom * (origin + 1 + offset);
    };
    const double tolerance = 1e-12 * (1 + std::abs(angle(old, old.originX, column)) +
                                      std::abs(angle(old, old.originY, row)));
    QVERIFY(std::abs(angle(zoomed, zoomed.originX, column) - angle(old, old.originX, column)) <
            tolerance);
    QVERIFY(std::abs(angle(zoomed, zoomed.originY, row) - angle(old, old.originY, row)) <
            tolerance);
}

QTEST_APPLESS_MAIN(BoxEditsTest)
#include "test_box_edits.moc"
