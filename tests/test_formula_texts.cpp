// The built-in formulas written as formula texts (data/formulas): each text,
// run as a formula program, paints its built-in's very bytes through the
// image path, with every instruction set and on one thread or several, and
// carries its built-in's settings.
#include "drawing/Computing.hpp"
#include "formulas/Catalogue.hpp"
#include "formulas/FormulaText.hpp"
#include "formulas/TextFormulas.hpp"
#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"
#include "lanes/InstructionSets.hpp"
#include "support/TestPrinting.hpp"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::drawing;
using namespace spirell::formulas;
using namespace spirell::image;

Q_DECLARE_METATYPE(std::optional<spirell::image::FrameSize>)

namespace {

QString textPath(const char* caption) {
    return QStringLiteral(SPIRELL_FORMULA_TEXTS_DIR "/%1.txt").arg(caption);
}

std::string formulaText(const char* caption) {
    QFile file(textPath(caption));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    return file.readAll().toStdString();
}

struct Rendered {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;
};

// The image's rows as the renderer hands them out, in bands of a few rows so
// that three threads share even a small image.
Rendered render(const ImageSettings& settings, const Computing& computing) {
    const ImagePlan plan = planImage(settings, computing);
    Rendered image{plan.width(), plan.height(), {}};
    renderRows(plan, {plan.threads, 7}, [&](const std::uint8_t* row) {
        image.rgb.insert(image.rgb.end(), row, row + plan.rowBytes());
    });
    return image;
}

// Doubles compared bit for bit, except that every NaN counts the same: the
// colour of a NaN level is 0 whatever its sign and payload.
bool sameBits(double a, double b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// World points where the formulas meet fractional and far coordinates, the
// axes and the origin.
void mixturePoints(std::vector<double>& X, std::vector<double>& Y) {
    for (int i = 0; i < 3000; ++i) {
        X.push_back(-900.25 + i * 0.4375);
        Y.push_back(450.5 - (i * 7919 % 3000) * 0.3125);
    }
    for (const double far : {0.0, 1e15, -1e300, 123456.789})
        for (const double other : {0.0, -1.0, 1.0, -0.0}) {
            X.push_back(far);
            Y.push_back(other);
            X.push_back(other);
            Y.push_back(far);
        }
}

// Calls batch(first, count) over count values in batches of varied sizes, so
// that every vector width meets ragged tails and the program's own chunks.
template <typename Batch> void inVariedBatches(std::size_t total, Batch&& batch) {
    static constexpr std::size_t kSizes[] = {1,  2,  3,  5,  7,  8,  9,   13,
                                             16, 17, 31, 63, 64, 65, 127, 200};
    std::size_t next = 0;
    for (std::size_t first = 0; first < total; next = (next + 1) % std::size(kSizes)) {
        const std::size_t count = std::min(kSizes[next], total - first);
        batch(first, count);
        first += count;
    }
}

// Where two images of the same size first differ, said with both colours;
// empty when they are the same.
QString firstDifference(const Rendered& text, const Rendered& builtIn) {
    if (text.width != builtIn.width || text.height != builtIn.height)
        return QStringLiteral("sizes %1 x %2 and %3 x %4")
            .arg(text.width)
            .arg(text.height)
            .arg(builtIn.width)
            .arg(builtIn.height);
    for (std::size_t i = 0; i < text.rgb.size(); ++i)
        if (text.rgb[i] != builtIn.rgb[i]) {
            const std::size_t pixel = i / 3;
            const auto colour = [&](const Rendered& image) {
                const std::uint8_t* p = &image.rgb[pixel * 3];
                return QStringLiteral("(%1, %2, %3)").arg(p[0]).arg(p[1]).arg(p[2]);
            };
            return QStringLiteral("pixel (%1, %2): text %3, built-in %4")
                .arg(pixel % text.width)
                .arg(pixel / text.width)
                .arg(colour(text), colour(builtIn));
        }
    return {};
}

std::size_t distinctColours(const Rendered& image) {
    std::set<std::uint32_t> colours;
    for (std::size_t i = 0; i + 2 < image.rgb.size(); i += 3)
        colours.insert(image.rgb[i] << 16 | image.rgb[i + 1] << 8 | image.rgb[i + 2]);
    return colours.size();
}

} // namespace

class FormulaTextsTest : public QObject {
    Q_OBJECT
private slots:
    void folderHoldsOneTextPerBuiltIn();
    void textCarriesTheBuiltInsSettings_data();
    void textCarriesTheBuiltInsSettings();
    void textComputesTheBuiltInsMixtures_data();
    void textComputesTheBuiltInsMixtures();
    void textPaintsTheBuiltInsBytes_data();
    void textPaintsTheBuiltInsBytes();
};

// What is installed is the folder: no built-in without its text, no stray file.
void FormulaTextsTest::folderHoldsOneTextPerBuiltIn() {
    QStringList expected;
    for (const Formula& formula : formulaCatalogue())
        expected << QString(formula.caption) + ".txt";
    QStringList found = QDir(SPIRELL_FORMULA_TEXTS_DIR).entryList(QDir::Files | QDir::Hidden);
    expected.sort();
    found.sort();
    QCOMPARE(found, expected);
}

void FormulaTextsTest::textCarriesTheBuiltInsSettings_data() {
    QTest::addColumn<int>("index");
    for (const Formula& formula : formulaCatalogue())
        QTest::newRow(formula.caption) << formula.index;
}

void FormulaTextsTest::textCarriesTheBuiltInsSettings() {
    QFETCH(int, index);
    const Formula& builtIn = formulaCatalogue()[index];
    const std::string text = formulaText(builtIn.caption);
    const CompiledFormula compiled = compileFormula(text);
    // The interned formula is the one an image is painted with.
    const Formula& interned = formulaOfText(text);
    for (const Formula* settings : {&compiled.settings, &interned}) {
        QCOMPARE(settings->origin, builtIn.origin);
        QCOMPARE(settings->zoomMultiplier, builtIn.zoomMultiplier);
        QCOMPARE(settings->brightnessMultiplier, builtIn.brightnessMultiplier);
        QCOMPARE(settings->levelScale, builtIn.levelScale);
        for (int channel = 0; channel < 3; ++channel)
            QCOMPARE(settings->levelOffsets[channel], builtIn.levelOffsets[channel]);
    }
    QVERIFY(interned.program != nullptr);
    QVERIFY(interned.index >= kFormulaCount);
}

void FormulaTextsTest::textComputesTheBuiltInsMixtures_data() {
    textCarriesTheBuiltInsSettings_data();
}

// A colour hides most last-bit differences of its mixtures: the mixtures
// themselves must be the built-in's bits, at zooms that include 0, a negative
// one and one that puts fickle's AngleX on -0.0001 at X = -1.
void FormulaTextsTest::textComputesTheBuiltInsMixtures() {
    QFETCH(int, index);
    const Formula& builtIn = formulaCatalogue()[index];
    const Formula& text = formulaOfText(formulaText(builtIn.caption));
    std::vector<double> X, Y;
    mixturePoints(X, Y);
    std::vector<lanes::RawTerms> expected(X.size()), computed(X.size());
    for (const lanes::InstructionSet set : lanes::availableInstructionSets()) {
        const lanes::KernelTable& kernels = lanes::kernelsFor(set);
        for (const double zoomBox : {0.0, 0.15, 1.0, 2.5, 17.0, -2.6, 0.0031818181818181819}) {
            const double zoom = zoomBox * builtIn.zoomMultiplier;
            inVariedBatches(X.size(), [&](std::size_t first, std::size_t count) {
                const lanes::PixelBatch pixels{&X[first], 1, &Y[first], 1, count};
                kernels.terms[builtIn.index](zoom, pixels, &expected[first]);
                kernels.programTerms(*text.program, zoom, pixels, &computed[first]);
            });
            for (std::size_t i = 0; i < X.size(); ++i) {
                const double want[] = {expected[i].red, expected[i].green, expected[i].blue};
                const double got[] = {computed[i].red, computed[i].green, computed[i].blue};
                for (int channel = 0; channel < 3; ++channel)
                    if (!sameBits(got[channel], want[channel])) {
                        char message[256];
                        std::snprintf(message, sizeof message,
                                      "%s, zoom %.17g, X %.17g, Y %.17g, channel %d: text %a, "
                                      "built-in %a",
                                      lanes::nameOf(set), zoom, X[i], Y[i], channel, got[channel],
                                      want[channel]);
                        QFAIL(message);
                    }
            }
        }
    }
}

// Views that meet odd positions, fractional, negative and vanishing zooms, a
// divisor that reaches exactly zero (fickle's reciprocal at X = -1), far
// coordinates, and a frame at scale 2 that reaches past the picture.
void FormulaTextsTest::textPaintsTheBuiltInsBytes_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<BoxTexts>("view");
    QTest::addColumn<int>("scale");
    QTest::addColumn<std::optional<FrameSize>>("frame");
    QTest::addColumn<bool>("patterned"); // the view shows more than one colour

    struct View {
        const char* name;
        BoxTexts boxes;
        int scale;
        std::optional<FrameSize> frame;
        bool patterned;
    };
    const View views[] = {
        {"odd position", boxTexts("-37.5", "12.25", "97", "1.37"), 1, {}, true},
        {"fractional zoom", boxTexts("0.3", "-0.7", "130", "0.731", "211.5"), 1, {}, true},
        {"far, negative zoom", boxTexts("-1000.125", "777.75", "97", "-2.6", "90"), 1, {}, true},
        {"zoom 0", boxTexts("5", "-3", "97", "0"), 1, {}, false},
        {"zero divisor", boxTexts("1", "1", "96", "0.0031818181818181819"), 1, {}, false},
        {"frame at scale 2", boxTexts("2.5", "-1.25", "61", "1.9"), 2, FrameSize{131, 97}, true},
    };
    for (const Formula& formula : formulaCatalogue())
        for (const View& view : views)
            QTest::addRow("%s, %s", formula.caption, view.name)
                << formula.index << view.boxes << view.scale << view.frame << view.patterned;
}

void FormulaTextsTest::textPaintsTheBuiltInsBytes() {
    QFETCH(int, index);
    QFETCH(BoxTexts, view);
    QFETCH(int, scale);
    QFETCH(std::optional<FrameSize>, frame);
    QFETCH(bool, patterned);
    const Formula& builtIn = formulaCatalogue()[index];
    const ImageSettings builtInSettings{builtIn.routine, view, scale, frame};
    ImageSettings textSettings = builtInSettings;
    textSettings.formula = kTextFormulaRoutine;
    textSettings.formulaText = formulaText(builtIn.caption);

    for (const lanes::InstructionSet set : lanes::availableInstructionSets())
        for (const unsigned threads : {1u, 3u}) {
            const Computing computing{set, threads};
            const Rendered expected = render(builtInSettings, computing);
            const Rendered painted = render(textSettings, computing);
            QVERIFY(!expected.rgb.empty());
            if (patterned)
                QVERIFY(distinctColours(expected) > 1);
            const QString difference = firstDifference(painted, expected);
            QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("%1, %2 threads: %3")
                                                          .arg(lanes::nameOf(set))
                                                          .arg(threads)
                                                          .arg(difference)));
        }
}

QTEST_APPLESS_MAIN(FormulaTextsTest)
#include "test_formula_texts.moc"
