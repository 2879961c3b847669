#include "formulas/Catalogue.hpp"
#include "lanes/InstructionSets.hpp"

#include <QProcess>
#include <QtTest>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

using namespace spirell;
using namespace spirell::formulas;

namespace {

// Bits of doubles, hashed. Every NaN counts the same: its sign and payload
// carry no meaning and may differ between instruction sets, and every NaN level is
// drawn as 0.
class Hash {
public:
    void add(double value) {
        if (std::isnan(value))
            value = std::numeric_limits<double>::quiet_NaN();
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        hash_ = (hash_ ^ bits) * 1099511628211ull;
    }
    QByteArray text() const { return QByteArray::number(hash_, 16); }

private:
    std::uint64_t hash_ = 1469598103934665603ull;
};

// Batches of 1 to 17 values in turn, so that every instruction set meets every tail.
template <typename Call> void inOddBatches(std::size_t count, Call&& call) {
    for (std::size_t first = 0, size = 1; first < count; first += size, size = size % 17 + 1)
        call(first, std::min(size, count - first));
}

// Arguments the elementary functions meet: a dense stretch where last-bit
// differences between implementations show up once in a few thousand values
// (once in about a hundred thousand for tan), and the awkward ones.
std::vector<double> arguments() {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values{0.0,
                               -0.0,
                               inf,
                               -inf,
                               std::numeric_limits<double>::quiet_NaN(),
                               1e-310,
                               1e15,
                               -1e22,
                               1e300,
                               3.141592653589793,
                               1.5707963267948966};
    for (int i = 0; i < 1000000; ++i)
        values.push_back(-20 + i * 0.00004000003);
    return values;
}

// A digest of one instruction set's elementary functions and of every formula's raw
// channel mixtures, bit for bit, over a spread of world points and zooms
// including zero divisors, huge coordinates and the world origin.
QByteArray digest(const lanes::KernelTable& kernels) {
    QByteArray digest;
    const std::vector<double> x = arguments();
    std::vector<double> exponent(x.size()), result(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        exponent[i] =
            i % 9 == 8 ? 3.0 : 0.7 + double(i % 7) * 0.1; // 3: a negative base keeps its sign
    Hash functions;
    using enum lanes::Elementary;
    for (const lanes::Elementary function : {Sin, Cos, Tan, Pow, Sqrt, Exp, Log, Atan2}) {
        inOddBatches(x.size(), [&](std::size_t first, std::size_t count) {
            kernels.elementary(function, &x[first], &exponent[first], count, &result[first]);
        });
        for (const double value : result)
            functions.add(value);
    }
    digest += "functions " + functions.text() + '\n';

    std::vector<double> X, Y;
    for (int i = 0; i < 4000; ++i) {
        X.push_back(-900.25 + i * 0.4375);
        Y.push_back(450.5 - (i * 7919 % 4000) * 0.3125);
    }
    for (const double far : {0.0, 1e15, -1e300})
        for (const double other : {0.0, -1.0, 1.0}) {
            X.push_back(far);
            Y.push_back(other);
            X.push_back(other);
            Y.push_back(far);
        }
    std::vector<lanes::RawTerms> terms(X.size());
    for (const Formula& formula : formulaCatalogue()) {
        Hash hash;
        // 0.0031818181818181819 puts an angle on -0.0001 at -1: a zero divisor.
        for (double zoom : {0.0, 0.15, 1.0, 2.5, 17.0, 0.0031818181818181819}) {
            inOddBatches(X.size(), [&](std::size_t first, std::size_t count) {
                const lanes::PixelBatch pixels{&X[first], 1, &Y[first], 1, count};
                kernels.terms[formula.index](zoom * formula.zoomMultiplier, pixels, &terms[first]);
            });
            for (const lanes::RawTerms& t : terms) {
                hash.add(t.red);
                hash.add(t.green);
                hash.add(t.blue);
            }
        }
        digest += QByteArray(formula.routine) + ' ' + hash.text() + '\n';
    }
    return digest;
}

// One digest block per instruction set this processor runs, each headed by its name.
QByteArray allDigests() {
    QByteArray text;
    for (const lanes::InstructionSet set : lanes::availableInstructionSets())
        text += QByteArray("set ") + lanes::nameOf(set) + "\n" + digest(lanes::kernelsFor(set));
    return text;
}

QByteArray digestsInChild(const QString& tunables) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SPIRELL_PRINT_DIGEST", "1");
    if (!tunables.isEmpty())
        environment.insert("GLIBC_TUNABLES", tunables);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    child.waitForFinished(120000);
    return child.readAllStandardOutput();
}

} // namespace

class SameColoursEverywhereTest : public QObject {
    Q_OBJECT
private slots:
    // Every vector instruction set computes exactly the bits of one double at a time.
    void everyInstructionSetGivesTheScalarBits() {
        const QByteArray scalar = digest(lanes::kernelsFor(lanes::InstructionSet::Scalar));
        QCOMPARE(scalar.count('\n'), qsizetype(kFormulaCount + 1));
        for (const lanes::InstructionSet set : lanes::availableInstructionSets()) {
            if (set == lanes::InstructionSet::Scalar)
                continue;
            const QByteArray vector = digest(lanes::kernelsFor(set));
            QVERIFY2(vector == scalar, lanes::nameOf(set));
        }
    }

    // The C library picks its sin, cos, tan and pow by what the processor
    // offers, and its versions with and without fused multiply-add disagree in
    // the last bit. Hiding those instructions from it must change nothing.
    void resultsDoNotDependOnTheProcessor() {
        const QByteArray usual = digestsInChild({});
        QCOMPARE(usual.count("set "), qsizetype(lanes::availableInstructionSets().size()));
        QCOMPARE(usual.count('\n'), qsizetype(usual.count("set ") * (kFormulaCount + 2)));
        QCOMPARE(digestsInChild("glibc.cpu.hwcaps=-AVX2,-FMA"), usual);
        QCOMPARE(digestsInChild("glibc.cpu.hwcaps=-AVX2,-FMA,-AVX"), usual);
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsSet("SPIRELL_PRINT_DIGEST")) {
        std::fputs(allDigests().constData(), stdout);
        return 0;
    }
    QCoreApplication app(argc, argv);
    SameColoursEverywhereTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_same_colours_everywhere.moc"
