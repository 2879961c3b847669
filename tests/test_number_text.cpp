#include "base/WholeNumber.hpp"
#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"

#include <QtTest>

#include <clocale>
#include <cmath>
#include <limits>

using namespace spirell;
using namespace spirell::boxes;

namespace {
constexpr double kLargest = std::numeric_limits<double>::max();
} // namespace

class NumberTextTest : public QObject {
    Q_OBJECT
private slots:
    void readsBoxText_data();
    void readsBoxText();
    void overflowIsAnError_data();
    void overflowIsAnError();
    void writesNumbers_data();
    void writesNumbers();
    void writtenTextReadsBack_data();
    void writtenTextReadsBack();
    void readsWholeNumbers_data();
    void readsWholeNumbers();
    void regionalSettingsAreInForce();
};

void NumberTextTest::readsBoxText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "150" << 150.0;
    QTest::newRow("trailing letters") << "12abc" << 12.0;
    QTest::newRow("blanks between digits") << "3 0 0" << 300.0;
    QTest::newRow("tabs and line feeds") << "\t1\n5" << 15.0;
    QTest::newRow("exponent") << "1e2" << 100.0;
    QTest::newRow("exponent with D") << "1D2" << 100.0;
    QTest::newRow("lower-case d, negative exponent") << "25d-1" << 2.5;
    QTest::newRow("exponent without digits") << "4E" << 4.0;
    QTest::newRow("ampersand hex") << "&H10" << 16.0;
    QTest::newRow("ampersand hex lower case") << "&hff" << 255.0;
    QTest::newRow("ampersand octal") << "&O17" << 15.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("leading point") << "-.5" << -0.5;
    QTest::newRow("trailing point") << "7." << 7.0;
    QTest::newRow("plus sign") << "+3" << 3.0;
    QTest::newRow("sign then blank") << "- 25" << -25.0;
    QTest::newRow("letter first") << "x1" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("point only") << "." << 0.0;
    QTest::newRow("comma is not a decimal point") << "1,5" << 1.0;
    QTest::newRow("second point ends it") << "1.2.3" << 1.2;
    QTest::newRow("largest double")
        << "1.7976931348623157e308" << std::numeric_limits<double>::max();
    QTest::newRow("underflow reads as tiny or zero") << "1e-400" << 0.0;
    QTest::newRow("underflow with digits before the point") << "123e-330" << 0.0;
    QTest::newRow("negative underflow") << "-0.00001e-320" << -0.0;
    QTest::newRow("huge negative exponent") << "1e-99999999999999999999" << 0.0;
    QTest::newRow("in range through the fraction") << "0.0001e312" << 1e308;
    QTest::newRow("smallest subnormal") << "4.9406564584124654e-324" << 4.9406564584124654e-324;
}

void NumberTextTest::readsBoxText() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(readNumber(text.toStdString()), value);
}

void NumberTextTest::overflowIsAnError_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("exponent") << "1e309";
    QTest::newRow("exponent with D, negative") << "-2D400";
    QTest::newRow("long hex") << "&H" + QString(300, 'F');
    QTest::newRow("beyond the range through the fraction") << "0.001e312";
    QTest::newRow("huge exponent") << "1e99999999999999999999";
    QTest::newRow("many digits") << QString(400, '9');
}

void NumberTextTest::overflowIsAnError() {
    QFETCH(QString, text);
    try {
        readNumber(text.toStdString());
        QFAIL("no error for a number beyond the double range");
    } catch (const RuntimeError& error) {
        QCOMPARE(error.number(), 6);
        QCOMPARE(QString(error.what()), QString("Overflow"));
    }
}

void NumberTextTest::writesNumbers_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("integer") << 300.0 << "300";
    QTest::newRow("negative integer") << -250.0 << "-250";
    QTest::newRow("fraction below 1") << 0.2 << "0.2";
    QTest::newRow("preset zoom") << 0.15 << "0.15";
    QTest::newRow("halved twice") << 0.075 << "0.075";
    QTest::newRow("negative fraction") << -0.5 << "-0.5";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("a third, 15 digits") << 1.0 / 3 << "0.333333333333333";
    QTest::newRow("large") << 1e20 << "1E+20";
    QTest::newRow("small") << 1.5e-7 << "1.5E-07";
    QTest::newRow("sixteen digits round to fifteen")
        << 1125899906842624.0 << "1.12589990684262E+15";
    // Rounded to 15 digits the largest doubles would lie beyond the range.
    QTest::newRow("largest double") << kLargest << "1.79769313486231E+308";
    QTest::newRow("largest negative double") << -kLargest << "-1.79769313486231E+308";
    QTest::newRow("largest 15-digit value") << 1.79769313486231e308 << "1.79769313486231E+308";
}

void NumberTextTest::writesNumbers() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(writeNumber(value)), text);
}

// Every written text reads back without an error; a value of at most 15
// significant digits reads back exactly.
void NumberTextTest::writtenTextReadsBack_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("exact");
    for (double v : {0.1, 0.15, -250.0, 341.333333333333, 1e-5, 123456789012345.0, 6.02e23,
                     -4.9e-300, 1.7976931348623e308})
        QTest::newRow(QByteArray::number(v, 'g', 17)) << v << true;
    for (double v : {kLargest, std::nextafter(kLargest, 0.0), -kLargest, 1.0 / 3, 0.1 + 0.2})
        QTest::newRow(QByteArray::number(v, 'g', 17)) << v << false;
}

void NumberTextTest::writtenTextReadsBack() {
    QFETCH(double, value);
    QFETCH(bool, exact);
    const double back = readNumber(writeNumber(value));
    QVERIFY(std::isfinite(back));
    if (exact)
        QCOMPARE(back, value);
    else
        QVERIFY(std::abs(back - value) <= std::abs(value) * 1e-14);
}

// Thread counts, scales and formula indexes: plain decimal digits within a
// range, and nothing else.
void NumberTextTest::readsWholeNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qlonglong>("lowest");
    QTest::addColumn<qlonglong>("highest");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qlonglong>("value"); // when accepted
    QTest::newRow("plain") << "150" << 1ll << 1024ll << true << 150ll;
    QTest::newRow("leading zeros") << "0007" << 1ll << 1024ll << true << 7ll;
    QTest::newRow("lowest") << "1" << 1ll << 1024ll << true << 1ll;
    QTest::newRow("highest") << "1024" << 1ll << 1024ll << true << 1024ll;
    QTest::newRow("below the range") << "0" << 1ll << 1024ll << false << 0ll;
    QTest::newRow("above the range") << "1025" << 1ll << 1024ll << false << 0ll;
    QTest::newRow("beyond 64 bits")
        << "9223372036854775808" << 0ll << std::numeric_limits<qlonglong>::max() << false << 0ll;
    QTest::newRow("empty") << "" << 0ll << 18ll << false << 0ll;
    QTest::newRow("plus sign") << "+3" << 0ll << 18ll << false << 0ll;
    QTest::newRow("negative, though in range") << "-5" << -10ll << 10ll << false << 0ll;
    QTest::newRow("leading blank") << " 5" << 0ll << 18ll << false << 0ll;
    QTest::newRow("decimal point") << "1.5" << 0ll << 18ll << false << 0ll;
    QTest::newRow("exponent") << "1e3" << 0ll << 1024ll << false << 0ll;
    QTest::newRow("hexadecimal") << "0x10" << 0ll << 1024ll << false << 0ll;
}

void NumberTextTest::readsWholeNumbers() {
    QFETCH(QString, text);
    QFETCH(qlonglong, lowest);
    QFETCH(qlonglong, highest);
    QFETCH(bool, accepted);
    QFETCH(qlonglong, value);
    const std::optional<long long> read =
        base::readWholeNumber(text.toStdString(), lowest, highest);
    QCOMPARE(read.has_value(), accepted);
    if (accepted)
        QCOMPARE(qlonglong(*read), value);
}

// The suite also runs under a decimal-comma locale; the number text must not
// notice it.
void NumberTextTest::regionalSettingsAreInForce() {
    if (!qEnvironmentVariableIsSet("SPIRELL_EXPECT_DECIMAL_COMMA"))
        QSKIP("runs under the decimal-comma locale only");
    QCOMPARE(QString(std::localeconv()->decimal_point), QString(","));
}

// Regional settings from the environment, as the window has them.
int main(int argc, char* argv[]) {
    std::setlocale(LC_ALL, "");
    NumberTextTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_number_text.moc"
