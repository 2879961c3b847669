#include "formulas/FormulaText.hpp"
#include "formulas/TextFormulas.hpp"
#include "lanes/InstructionSets.hpp"

#include <QtTest>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

using namespace spirell;
using namespace spirell::formulas;

namespace {

// A text that defines the three channels after the lines given.
std::string withChannels(const std::string& lines, const std::string& value = "X") {
    return lines + "\nred = " + value + "\ngreen = " + value + "\nblue = " + value + "\n";
}

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// The red mixture of a text at one pixel, by every instruction set; fails the
// test unless all agree bit for bit.
double redAt(const std::string& text, double X, double Y, double zoom = 1) {
    const Formula& formula = formulaOfText(text);
    std::uint64_t scalar = 0;
    for (const lanes::InstructionSet set : lanes::availableInstructionSets()) {
        // A batch longer than one vector, the pixel last, so that spare lanes
        // and whole vectors are both used.
        std::vector<double> xs(21, 0.5), ys(21, -0.5);
        xs.back() = X;
        ys.back() = Y;
        std::vector<lanes::RawTerms> terms(xs.size());
        lanes::kernelsFor(set).programTerms(*formula.program, zoom,
                                            {xs.data(), 1, ys.data(), 1, xs.size()}, terms.data());
        const auto bits = std::bit_cast<std::uint64_t>(terms.back().red);
        if (set == lanes::InstructionSet::Scalar)
            scalar = bits;
        else if (bits != scalar)
            qFatal("%s differs from scalar for %s", lanes::nameOf(set), text.c_str());
    }
    return std::bit_cast<double>(scalar);
}

} // namespace

class FormulaLanguageTest : public QObject {
    Q_OBJECT
private slots:
    void faultsNameTheirPlace_data();
    void faultsNameTheirPlace();
    void settingsAndDefaults();
    void compiledProgramsStayLean_data();
    void compiledProgramsStayLean();
    void operationsAreTheIeeeOnes_data();
    void operationsAreTheIeeeOnes();
    void sameTextSameFormula();
};

void FormulaLanguageTest::faultsNameTheirPlace_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* name, const std::string& text, int line, int column,
                        const char* message) {
        QTest::newRow(name) << QByteArray::fromStdString(text) << line << column
                            << QString(message);
    };
    row("no channels", "# nothing\n", 2, 1, "the text defines no red mixture");
    row("no blue", "red = X\ngreen = Y", 2, 10, "no blue mixture");
    row("unknown name", withChannels("a = b + 1"), 1, 5, "unknown name \"b\"");
    row("lower-case input", withChannels("a = x"), 1, 5, "the inputs are X, Y and zoom");
    row("used before defined", withChannels("a = c\nc = 1"), 1, 5, "unknown name \"c\"");
    row("defined twice", withChannels("a = 1\na = 2"), 2, 1, "\"a\" is defined twice");
    row("channel twice", withChannels("red = 1"), 2, 1, "\"red\" is defined twice");
    row("an input defined", withChannels("X = 1"), 1, 1, "\"X\" is an input");
    row("a function defined", withChannels("sin = 1"), 1, 1, "\"sin\" is a function");
    row("unknown function", withChannels("a = sinh(X)"), 1, 5, "unknown name \"sinh\"");
    row("one argument too many", withChannels("a = sin(X, Y)"), 1, 5, "sin takes one argument");
    row("one argument too few", withChannels("a = pow(X)"), 1, 10,
        "pow takes two arguments; expected \",\"");
    row("a function without parentheses", withChannels("a = cos X"), 1, 9,
        "expected \"(\" after the function cos");
    row("parenthesis left open", withChannels("a = (X + 1"), 2, 1, "expected \")\"");
    row("parenthesis never opened", withChannels("a = X + 1)"), 1, 10,
        "expected the end of the line, found \")\"");
    row("two values side by side", withChannels("a = X Y"), 1, 7, "expected the end of the line");
    row("no equals sign", withChannels("a X"), 1, 3, "expected \"=\" after \"a\"");
    row("an operator at a line's end continues it", withChannels("a = X *"), 2, 1,
        "unknown name \"red\"");
    row("a stray character", withChannels("a = X $ 2"), 1, 7, "found \"$\"");
    row("a control character", withChannels(std::string("a = X\x01")), 1, 6, "a control character");
    row("non-ASCII outside a comment", withChannels("a = X × 2"), 1, 7, "not part of the language");
    row("a number running into a name", withChannels("a = 2X"), 1, 6, "a number followed by");
    row("an exponent without digits", withChannels("a = 1e+"), 1, 8, "digits of an exponent");
    row("a lone point", withChannels("a = ."), 1, 5, "expected digits in a number");
    row("a number beyond a double", withChannels("a = 1e999"), 1, 5, "beyond the range");
    row("unknown setting", withChannels("colour: 3"), 1, 1, "unknown setting \"colour\"");
    row("unknown origin", withChannels("origin: middle"), 1, 9, "the origin is centred");
    row("setting twice", withChannels("level-scale: 1\nlevel-scale: 2"), 2, 1, "given twice");
    row("setting without a number", withChannels("zoom-multiplier: X"), 1, 18, "expected a number");
    row("offsets too few", withChannels("level-offsets: 1 2"), 1, 19, "expected a number");
    // The limits: the text, the nesting, the operations, the names, the registers.
    row("text too long", withChannels("# " + std::string(kMaxFormulaBytes, 'x')), 1, 1,
        "longer than 16384 bytes");
    row("nested too deep", withChannels("a = " + repeated("(", 65) + "X" + repeated(")", 65)), 1,
        69, "nested more than 64 deep");
    row("unary minus nested too deep", withChannels("a = " + repeated("-", 65) + "X"), 1, 69,
        "nested more than 64 deep");
    row("too many operations", withChannels("a = X" + repeated(" + sin(X)", 1100)), 1,
        6 + 9 * 1024 + 9, // after the 1025th sine, the 2049th operation
        "more than 2048 operations");
    row("too many names",
        withChannels(repeated("n = 1\n", 1) +
                     [] {
                         std::string names;
                         for (int i = 0; i < 300; ++i)
                             names += "n" + std::to_string(i) + " = 1\n";
                         return names;
                     }()),
        257, 1, "more than 256 names");
    row(
        "too many values at once",
        [] {
            std::string text, sum = "red = v0";
            for (int i = 0; i < 70; ++i) {
                text += "v" + std::to_string(i) + " = sin(X + " + std::to_string(i) + ")\n";
                if (i > 0)
                    sum += " + v" + std::to_string(i);
            }
            return text + sum + "\ngreen = 0\nblue = 0\n";
        }(),
        63, 1, "more than 62 values are needed at once");
}

void FormulaLanguageTest::faultsNameTheirPlace() {
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    QFETCH(int, column);
    QFETCH(QString, message);
    try {
        compileFormula(text.toStdString());
        QFAIL("compiled");
    } catch (const FormulaError& fault) {
        QVERIFY2(QString::fromStdString(fault.message()).contains(message), fault.what());
        QCOMPARE(fault.line(), line);
        QCOMPARE(fault.column(), column);
        QVERIFY(QString(fault.what())
                    .startsWith(QString("line %1, column %2: ").arg(line).arg(column)));
    }
}

void FormulaLanguageTest::settingsAndDefaults() {
    const Formula plain = compileFormula(withChannels("")).settings;
    QCOMPARE(plain.origin, OriginRule::Centred);
    QCOMPARE(plain.zoomMultiplier, 2.0);
    QCOMPARE(plain.brightnessMultiplier, 1.0);
    QCOMPARE(plain.levelScale, 1.0);
    QCOMPARE(plain.levelOffsets, (std::array<double, 3>{50, 50, 50}));
    const Formula set = compileFormula(withChannels("origin: offset-150 # the old way\n"
                                                    "zoom-multiplier: 1.5\n"
                                                    "brightness-multiplier:0.5\n"
                                                    "level-scale: 4\n"
                                                    "level-offsets: -100 0 .5"))
                            .settings;
    QCOMPARE(set.origin, OriginRule::Offset150);
    QCOMPARE(set.zoomMultiplier, 1.5);
    QCOMPARE(set.brightnessMultiplier, 0.5);
    QCOMPARE(set.levelScale, 4.0);
    QCOMPARE(set.levelOffsets, (std::array<double, 3>{-100, 0, 0.5}));
    for (const auto& [name, rule] :
         {std::pair{"third-width", OriginRule::ThirdWidth}, {"corner", OriginRule::Corner}})
        QCOMPARE(compileFormula(withChannels(std::string("origin: ") + name)).settings.origin,
                 rule);
}

// Arithmetic on constants is worked out once, values no channel needs are
// never computed, and registers are reused.
void FormulaLanguageTest::compiledProgramsStayLean_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("instructions");
    QTest::addColumn<int>("registers"); // X and Y included
    QTest::newRow("a constant turn")
        << QByteArray("red = zoom * (44 / 7) * X\ngreen = 0\nblue = -(2 * 3)") << 2 << 3;
    QTest::newRow("unused values")
        << QByteArray(withChannels("unused = sin(X)\nalso = unused * 2", "Y").c_str()) << 0 << 2;
    QTest::newRow("a long chain in few registers")
        << QByteArray(("a0 = X\n" +
                       [] {
                           std::string chain;
                           for (int i = 1; i <= 40; ++i)
                               chain += "a" + std::to_string(i) + " = sin(a" +
                                        std::to_string(i - 1) + ") + Y\n";
                           return chain;
                       }() +
                       "red = a40\ngreen = a40\nblue = a40\n")
                          .c_str())
        << 80 << 3;
    QTest::newRow("continued lines")
        << QByteArray("red = (X +\n  Y) *\n 2\ngreen = min(X,\n Y)\nblue = 1") << 3 << 4;
}

void FormulaLanguageTest::compiledProgramsStayLean() {
    QFETCH(QByteArray, text);
    QFETCH(int, instructions);
    QFETCH(int, registers);
    const FormulaProgram program = compileFormula(text.toStdString()).program;
    QCOMPARE(int(program.instructions.size()), instructions);
    QCOMPARE(int(program.registers), registers);
}

// Each operation gives the IEEE result, or the lanes' own function's, at
// every instruction set alike.
void FormulaLanguageTest::operationsAreTheIeeeOnes_data() {
    QTest::addColumn<QByteArray>("expression"); // red, of X and Y
    QTest::addColumn<double>("X");
    QTest::addColumn<double>("Y");
    QTest::addColumn<double>("expected");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto row = [](const char* name, const char* expression, double X, double Y,
                        double expected) {
        QTest::newRow(name) << QByteArray(expression) << X << Y << expected;
    };
    row("left to right", "X + Y - X", 1e16, 1, 0); // (1e16 + 1) - 1e16 rounds to 0
    row("grouped", "X + (Y - X)", 1e16, 1, 1e16 + (1 - 1e16));
    row("unary minus before times", "-X * Y", 3, 0, -0.0);
    row("subtraction from zero is not minus", "0 - X", 0, 0, 0.0);
    row("correctly rounded literal", "X * 0.1", 1, 0, 0.1);
    row("turn", "X * (44 / 7)", 1, 0, 44.0 / 7.0);
    row("floor of a negative", "floor(X)", -0.5, 0, -1);
    row("floor keeps minus zero", "floor(X)", -0.0, 0, -0.0);
    row("floor of a whole number", "floor(X)", -3, 0, -3);
    row("floor beyond 2^52", "floor(X)", 0x1p52 + 1, 0, 0x1p52 + 1);
    row("floor just below a whole", "floor(X)", 0.99999999999999989, 0, 0);
    row("floor of NaN", "floor(X / Y)", 0, 0, nan);
    row("min", "min(X, Y)", 2, -1, -1);
    row("min with NaN second keeps the first", "min(X, Y / Y)", 2, 0, 2);
    row("max with NaN first stays NaN", "max(X / X, Y)", 0, 5, nan);
    row("abs of minus zero", "abs(X)", -0.0, 0, 0.0);
    row("sqrt", "sqrt(X)", 2, 0, std::sqrt(2.0));
    row("sqrt of a negative", "sqrt(X)", -1, 0, nan);
    row("exp", "exp(X)", 0, 0, 1);
    row("log", "log(X)", 1, 0, 0);
    row("atan2 of the y axis", "atan2(X, Y)", 1, 0, std::bit_cast<double>(0x3ff921fb54442d18ULL));
    row("pow", "pow(X, Y)", 2, 10, 1024);
    row("division by zero", "X / Y", -1, 0, -std::numeric_limits<double>::infinity());
}

void FormulaLanguageTest::operationsAreTheIeeeOnes() {
    QFETCH(QByteArray, expression);
    QFETCH(double, X);
    QFETCH(double, Y);
    QFETCH(double, expected);
    const double red = redAt("red = " + expression.toStdString() + "\ngreen = 0\nblue = 0\n", X, Y);
    if (std::isnan(expected))
        QVERIFY2(std::isnan(red), qPrintable(QString::number(red)));
    else
        QCOMPARE(std::bit_cast<std::uint64_t>(red), std::bit_cast<std::uint64_t>(expected));
    // Worked out on constants alone, the same bits.
    if (!std::isnan(X) && !std::isnan(Y)) {
        const auto written = [](double value) {
            return QByteArray("(") + (std::signbit(value) && value == 0 ? "-" : "") +
                   QByteArray::number(value, 'g', 17) + ")";
        };
        QByteArray constant = expression;
        constant.replace("X", written(X)).replace("Y", written(Y));
        const double folded =
            redAt("red = " + constant.toStdString() + "\ngreen = 0\nblue = 0\n", 0, 0);
        if (std::isnan(expected))
            QVERIFY(std::isnan(folded));
        else
            QCOMPARE(std::bit_cast<std::uint64_t>(folded), std::bit_cast<std::uint64_t>(red));
    }
}

void FormulaLanguageTest::sameTextSameFormula() {
    const std::string text = withChannels("# mine", "sin(X)");
    const Formula& first = formulaOfText(text);
    QCOMPARE(&formulaOfText(text), &first);
    QVERIFY(first.index >= kFormulaCount);
    QCOMPARE(&formulaAt(first.index), &first);
    QCOMPARE(std::string(first.text), text);
    QVERIFY(&formulaOfText(text + "\n") != &first);
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, formulaAt(first.index + 1000));
}

QTEST_APPLESS_MAIN(FormulaLanguageTest)
#include "test_formula_language.moc"
