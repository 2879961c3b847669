#include "formulas/Catalogue.hpp"
#include "render/Maths.hpp"

#include <QProcess>
#include <QtTest>

#include <cstdint>
#include <cstdio>
#include <cstring>

using namespace spirell;

namespace {

// A digest of every formula's raw channel mixtures, bit for bit, over a spread
// of world points and zooms: any last-bit difference shows.
QByteArray mixtureDigest() {
    QByteArray digest;
    // The elementary functions themselves, densely: a last-bit difference
    // between processor versions shows up once in a few thousand arguments
    // for sin, cos and pow, and once in about a hundred thousand for tan.
    std::uint64_t functions = 1469598103934665603ull;
    const auto mixFunction = [&](double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        functions = (functions ^ bits) * 1099511628211ull;
    };
    for (int i = 0; i < 1000000; ++i) {
        const double x = -20 + i * 0.00004000003;
        mixFunction(maths::sin(x));
        mixFunction(maths::cos(x));
        mixFunction(maths::tan(x));
        mixFunction(maths::pow(x < 0 ? -x : x, 0.7 + (i % 7) * 0.1));
    }
    digest += "functions " + QByteArray::number(functions, 16) + '\n';

    for (const Formula& formula : formulaCatalogue()) {
        if (!formula.isAvailable())
            continue;
        std::uint64_t hash = 1469598103934665603ull;
        const auto mix = [&](double value) {
            std::uint64_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            hash = (hash ^ bits) * 1099511628211ull;
        };
        for (double zoom : {0.15, 1.0, 2.5, 17.0})
            for (int i = 0; i < 4000; ++i) {
                const double X = -900.25 + i * 0.4375;
                const double Y = 450.5 - (i * 7919 % 4000) * 0.3125;
                const ChannelTerms terms =
                    formula.pixel(PixelPoint{X, Y, zoom * formula.zoomMultiplier});
                mix(terms.red);
                mix(terms.green);
                mix(terms.blue);
            }
        digest += QByteArray(formula.routine) + ' ' + QByteArray::number(hash, 16) + '\n';
    }
    return digest;
}

QByteArray digestInChild(const QString& tunables) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SPIRELL_PRINT_DIGEST", "1");
    if (!tunables.isEmpty())
        environment.insert("GLIBC_TUNABLES", tunables);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    child.waitForFinished(60000);
    return child.readAllStandardOutput();
}

} // namespace

// The C library picks its sin, cos, tan and pow by what the processor offers,
// and its versions with and without fused multiply-add disagree in the last
// bit. Hiding that instruction from it must not change any formula's result.
class SameColoursEverywhereTest : public QObject {
    Q_OBJECT
private slots:
    void resultsDoNotDependOnTheProcessor() {
        const QByteArray usual = digestInChild({});
        const QByteArray withoutFma = digestInChild("glibc.cpu.hwcaps=-AVX2,-FMA");
        const QByteArray baseline = digestInChild("glibc.cpu.hwcaps=-AVX2,-FMA,-AVX");
        QCOMPARE(usual.count('\n'), qsizetype(kFormulaCount + 1));
        QCOMPARE(withoutFma, usual);
        QCOMPARE(baseline, usual);
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsSet("SPIRELL_PRINT_DIGEST")) {
        std::fputs(mixtureDigest().constData(), stdout);
        return 0;
    }
    QCoreApplication app(argc, argv);
    SameColoursEverywhereTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_same_colours_everywhere.moc"
