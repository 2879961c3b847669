#include "drawing/RandomFormula.hpp"
#include "formulas/FormulaText.hpp"
#include "fuzz/FormulaChecks.hpp"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>

using namespace spirell;
using namespace spirell::formulas;
using namespace spirell::drawing;
using spirell::testing::parenthesisNesting;

namespace {

// 64-bit FNV-1a of a text's bytes, as hexadecimal.
QByteArray digestOf(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return QByteArray::number(static_cast<qulonglong>(hash), 16);
}

std::string withoutFirstLine(const std::string& text) {
    return text.substr(text.find('\n') + 1);
}

// Which samples a formula of the variety table gives the same colour: each
// model names what a sample's colour depends on, from the formula's text.
enum class SameColour {
    Everywhere,             // a constant
    InAColumn,              // a level of X alone
    InARow,                 // a level of Y alone
    Nowhere,                // levels of X and of Y, each one to one
    BelowForty,             // X and Y raised to at least 40
    YSign,                  // X, and whether Y is negative
    XFromSecondColumnYSign, // X raised to the second sampled column, and whether Y is negative
    AboveSplitAlike,        // one colour above the split row, X and Y from it down
};

// Where the table's texts are cut: SECOND is the second sampled column's X,
// SPLIT a sampled row's Y.
struct Cuts {
    double secondColumn = 0;
    double splitY = 0;
};

std::pair<double, double> colourKey(SameColour model, double X, double Y, const Cuts& cuts) {
    switch (model) {
    case SameColour::Everywhere:
        return {0, 0};
    case SameColour::InAColumn:
        return {X, 0};
    case SameColour::InARow:
        return {0, Y};
    case SameColour::Nowhere:
        return {X, Y};
    case SameColour::BelowForty:
        return {std::max(X, 40.0), std::max(Y, 40.0)};
    case SameColour::YSign:
        return {X, Y < 0};
    case SameColour::XFromSecondColumnYSign:
        return {std::max(X, cuts.secondColumn), Y < 0};
    case SameColour::AboveSplitAlike:
        return Y < cuts.splitY ? std::pair<double, double>{-1000, -1000} : std::pair{X, Y};
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(SameColour)

// Formula texts from seeds: the same text from the same seed everywhere,
// every one compiling, within its limits and not flat.
class RandomFormulaTest : public QObject {
    Q_OBJECT
private slots:
    void pinnedTexts_data();
    void pinnedTexts();
    void shortTextInFull();
    void seedsGiveVariedTextsWithinLimits();
    void extremeChoicesStillCompile_data();
    void extremeChoicesStillCompile();
    void samplesSpanTheStartUpPicture_data();
    void samplesSpanTheStartUpPicture();
    void variety_data();
    void variety();
    void fallbackIsVaried();
};

// The digests pin the texts across compilers, standard libraries and
// processors: a change here changes every seed's picture.
void RandomFormulaTest::pinnedTexts_data() {
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<int>("candidate");
    QTest::addColumn<QByteArray>("digest");
    QTest::newRow("0") << quint64(0) << 1 << QByteArray("73a33ee283bb9a10");
    QTest::newRow("1: one flat candidate") << quint64(1) << 2 << QByteArray("8776cacae6123238");
    QTest::newRow("42") << quint64(42) << 1 << QByteArray("96275fa93c2f9ca8");
    QTest::newRow("55: three flat candidates")
        << quint64(55) << 4 << QByteArray("5c8979ae1c7cf50d");
    QTest::newRow("2^32") << (quint64(1) << 32) << 1 << QByteArray("c33a2790162539c8");
    QTest::newRow("largest") << ~quint64(0) << 1 << QByteArray("69c9f82cd17af790");
}

void RandomFormulaTest::pinnedTexts() {
    QFETCH(quint64, seed);
    QFETCH(int, candidate);
    QFETCH(QByteArray, digest);
    const RandomFormula formula = randomFormula(seed);
    QCOMPARE(digestOf(formula.text), digest);
    QCOMPARE(formula.candidate, candidate);
    QCOMPARE(randomFormulaText(seed), formula.text);
}

void RandomFormulaTest::shortTextInFull() {
    QCOMPARE(QByteArray::fromStdString(randomFormulaText(125)),
             QByteArray("# random formula, seed 125\n"
                        "AngleX = zoom * ((X / 200) * (44 / 7))\n"
                        "AngleY = zoom * ((Y / 200) * (44 / 7))\n"
                        "Flow = sin(AngleX * 2)\n"
                        "Wave = cos(sin(Flow * 7))\n"
                        "red = 0.5 * (AngleY * Flow) - 0.85 * Wave\n"
                        "green = -0.5 * cos(AngleY * 4)\n"
                        "blue = 0.7 * Wave\n"));
}

void RandomFormulaTest::seedsGiveVariedTextsWithinLimits() {
    std::set<std::string> bodies;
    int fallbacks = 0;
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        const RandomFormula formula = randomFormula(seed);
        const std::string& text = formula.text;
        const QByteArray about = "seed " + QByteArray::number(seed) + ":\n" + text.c_str();
        QVERIFY2(formula.malformed == 0, about);
        QVERIFY2(text.starts_with("# random formula, seed " + std::to_string(seed) + "\n"), about);
        QVERIFY2(text.size() <= kRandomFormulaMaxBytes, about);
        QVERIFY2(parenthesisNesting(text) <= kRandomFormulaMaxNesting, about);
        CompiledFormula compiled;
        try {
            compiled = compileFormula(text);
        } catch (const FormulaError& error) {
            QFAIL(about + error.what());
        }
        QVERIFY2(compiled.program.instructions.size() <= kRandomFormulaMaxOperations, about);
        QVERIFY2(colourVariety(compiled).isVaried(), about);
        if (formula.candidate == 0)
            ++fallbacks;
        else
            QVERIFY2(bodies.insert(withoutFirstLine(text)).second, about);
    }
    // The fallback is one picture: few seeds may end there.
    QVERIFY2(fallbacks <= 4, QByteArray::number(fallbacks));
}

// The choices at their extremes, every one the first or the last option:
// mapping a number to a choice must never leave the options, and the text
// must still compile.
void RandomFormulaTest::extremeChoicesStillCompile_data() {
    QTest::addColumn<quint64>("first");
    QTest::addColumn<quint64>("second"); // the numbers alternate
    QTest::newRow("all zero") << quint64(0) << quint64(0);
    QTest::newRow("all largest") << ~quint64(0) << ~quint64(0);
    QTest::newRow("zero, largest") << quint64(0) << ~quint64(0);
    QTest::newRow("largest, zero") << ~quint64(0) << quint64(0);
    QTest::newRow("halves") << (quint64(1) << 63) << (quint64(1) << 63) - 1;
}

void RandomFormulaTest::extremeChoicesStillCompile() {
    QFETCH(quint64, first);
    QFETCH(quint64, second);
    bool odd = false;
    const ChoiceNumbers numbers = [&] {
        odd = !odd;
        return odd ? first : second;
    };
    const std::string text = randomFormulaCandidate(3, numbers);
    const QByteArray about(text.c_str());
    CompiledFormula compiled;
    try {
        compiled = compileFormula(text);
    } catch (const FormulaError& error) {
        QFAIL(about + error.what());
    }
    QVERIFY2(text.size() <= kRandomFormulaMaxBytes, about);
    QVERIFY2(parenthesisNesting(text) <= kRandomFormulaMaxNesting, about);
    QVERIFY2(compiled.program.instructions.size() <= kRandomFormulaMaxOperations, about);
}

// Start-up boxes: position (1, 1), size 150. The first and last world
// coordinates follow from each origin rule by hand.
void RandomFormulaTest::samplesSpanTheStartUpPicture_data() {
    QTest::addColumn<QString>("origin");
    QTest::addColumn<double>("firstX");
    QTest::addColumn<double>("firstY");
    QTest::newRow("centred") << "centred" << -73.0 << -73.0;
    QTest::newRow("third-width") << "third-width" << -48.0 << 2.0;
    QTest::newRow("corner") << "corner" << 2.0 << 2.0;
    QTest::newRow("offset-150") << "offset-150" << 152.0 << -148.0;
}

void RandomFormulaTest::samplesSpanTheStartUpPicture() {
    QFETCH(QString, origin);
    QFETCH(double, firstX);
    QFETCH(double, firstY);
    const CompiledFormula formula =
        compileFormula("origin: " + origin.toStdString() + "\nred = X\ngreen = Y\nblue = 0\n");
    const ViewGrid samples = varietySamples(formula.settings);
    QCOMPARE(samples.width(), kVarietyColumns);
    QCOMPARE(samples.height(), kVarietyRows);
    QCOMPARE(samples.columnX.front(), firstX);
    QCOMPARE(samples.columnX.back(), firstX + 149);
    QCOMPARE(samples.rowY.front(), firstY);
    QCOMPARE(samples.rowY.back(), firstY + 149);
    // Whole pixels, each column and row once.
    for (const std::vector<double>* values : {&samples.columnX, &samples.rowY})
        for (std::size_t i = 1; i < values->size(); ++i) {
            QVERIFY((*values)[i] > (*values)[i - 1]);
            QCOMPARE((*values)[i], std::floor((*values)[i]));
        }
}

// Centred, X and Y run from -73 to 76; a level is mixture x 150 + 50, so a
// mixture of (v + 23) / 150 gives level v + 73, 0 to 149 for any X or Y:
// one to one. floor(Y / 1000) is -1 (level 0) above the origin and 0 (level
// 50) from it down.
void RandomFormulaTest::variety_data() {
    QTest::addColumn<QString>("mixtures");
    QTest::addColumn<SameColour>("model");
    QTest::addColumn<int>("splitRow"); // the sampled row whose Y is SPLIT
    QTest::addColumn<bool>("varied");
    const auto row = [](const char* name, const char* mixtures, SameColour model, bool varied,
                        int splitRow = 0) {
        QTest::newRow(name) << QString(mixtures) << model << splitRow << varied;
    };
    row("constant", "red = 0\ngreen = 0\nblue = 0", SameColour::Everywhere, false);
    // Stripes: no more colours than sampled columns, or rows.
    row("columns", "red = (X + 23) / 150\ngreen = 0\nblue = 0", SameColour::InAColumn, false);
    row("rows", "red = 0\ngreen = (Y + 23) / 150\nblue = 0", SameColour::InARow, false);
    row("every sample", "red = (X + 23) / 150\ngreen = (Y + 23) / 150\nblue = 0",
        SameColour::Nowhere, true);
    // 18 of the 24 columns and 14 of the 18 rows lie at 40 or below: one
    // colour at 252 of the 432 samples, though 181 colours in all.
    row("one colour over most",
        "red = (max(X, 40) + 23) / 150\ngreen = (max(Y, 40) + 23) / 150\nblue = 0",
        SameColour::BelowForty, false);
    // 9 sampled rows above the origin, 9 from it down: 24 x 2 = 48 colours,
    // just varied.
    row("columns, two row bands", "red = (X + 23) / 150\ngreen = floor(Y / 1000)\nblue = 0",
        SameColour::YSign, true);
    // The first two columns alike: 46 colours, just flat.
    row("one column fewer, two row bands",
        "Second = SECOND\nred = (max(X, Second) + 23) / 150\ngreen = floor(Y / 1000)\nblue = 0",
        SameColour::XFromSecondColumnYSign, false);
    // Above is -1 above the split row and 0 from it down, where the levels
    // are X + 73 and Y + 73, at least 73: never the 50 of the rows above.
    const char* split = "Above = floor((Y - SPLIT) / 1000)\n"
                        "red = (X + 23) / 150 * (1 + Above)\n"
                        "green = (Y + 23) / 150 * (1 + Above)\n"
                        "blue = 0";
    // 9 of the 18 rows alike: one colour at 216 of the 432 samples, half:
    // just varied. A row more, 240 samples: just flat.
    row("one colour at half", split, SameColour::AboveSplitAlike, true, 9);
    row("one colour at a row more", split, SameColour::AboveSplitAlike, false, 10);
}

void RandomFormulaTest::variety() {
    QFETCH(QString, mixtures);
    QFETCH(SameColour, model);
    QFETCH(int, splitRow);
    QFETCH(bool, varied);
    const ViewGrid samples = varietySamples(Formula{});
    const Cuts cuts{samples.columnX[1], samples.rowY[splitRow]};
    mixtures.replace("SECOND", QString::number(cuts.secondColumn));
    mixtures.replace("SPLIT", QString::number(cuts.splitY));
    const CompiledFormula formula = compileFormula(mixtures.toStdString());

    std::map<std::pair<double, double>, int> counts;
    for (const double Y : samples.rowY)
        for (const double X : samples.columnX)
            ++counts[colourKey(model, X, Y, cuts)];
    int mostCommon = 0;
    for (const auto& [key, count] : counts)
        mostCommon = std::max(mostCommon, count);

    const ColourVariety variety = colourVariety(formula);
    QCOMPARE(variety.samples, kVarietyColumns * kVarietyRows);
    QCOMPARE(variety.distinctColours, int(counts.size()));
    QCOMPARE(variety.mostCommonColour, mostCommon);
    QCOMPARE(variety.isVaried(), varied);
}

void RandomFormulaTest::fallbackIsVaried() {
    const std::string text = fallbackFormulaText(12345);
    QVERIFY(text.starts_with("# random formula, seed 12345\n"));
    QVERIFY(colourVariety(compileFormula(text)).isVaried());
}

QTEST_APPLESS_MAIN(RandomFormulaTest)
#include "test_random_formula.moc"
