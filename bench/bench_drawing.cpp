// Measures what the SIMD lanes and the computing threads bring, each pair
// alternately, several times, the fastest run of each side counting: other
// work on the machine only ever adds time, so the fastest runs are the least
// disturbed and their ratio the fairest.
//
// - window: the real window's 1024 x 1024 drawing of each formula, from the
//   button click to its return, with the widest instruction set on every core against
//   scalar on one thread;
// - renderer: spirell-render writing the 1024 x 1024 PNG, encoding included,
//   with its defaults against SPIRELL_SIMD=scalar SPIRELL_THREADS=1;
// - sets: the pure computation of the image's colours on one thread, per
//   instruction set, in ns per pixel;
// - elementary: SLEEF's sin, cos, tan and pow with each instruction set, in ns
//   per value.

#include "app/MainWindow.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"
#include "lanes/InstructionSets.hpp"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include "CountersReporter.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::formulas;
using namespace spirell::drawing;
using namespace spirell::image;
using namespace spirell::app;

namespace {

constexpr double kPixels = 1024.0 * 1024.0;
const BoxTexts kView{"1", "1", "1024", "1", "150"};

// The same window twice, each computing its own way.
MainWindow* slowWindow = nullptr; // scalar on one thread
MainWindow* fastWindow = nullptr; // the widest instruction set on every core
QString renderOutput;

double secondsFor(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the two sides alternately and keeps the fastest of each, in ms, and the
// speed-up of the second over the first.
void measurePair(benchmark::State& state, const std::function<void()>& slow,
                 const std::function<void()>& fast) {
    double bestSlow = std::numeric_limits<double>::infinity();
    double bestFast = bestSlow;
    for (auto _ : state) {
        const double a = secondsFor(slow);
        const double b = secondsFor(fast);
        bestSlow = std::min(bestSlow, a);
        bestFast = std::min(bestFast, b);
        state.SetIterationTime(a + b);
    }
    state.counters["slow ms"] = bestSlow * 1e3;
    state.counters["fast ms"] = bestFast * 1e3;
    state.counters["speed-up"] = bestSlow / bestFast;
}

Computing scalarOneThread() {
    return {lanes::InstructionSet::Scalar, 1};
}

Computing everything() {
    return {lanes::widestAvailable(), std::max(1u, std::thread::hardware_concurrency())};
}

void windowDrawing(benchmark::State& state, const Formula* formula) {
    const auto drawIn = [formula](MainWindow* window) {
        window->boxes().write(kView);
        return [button = window->formulaButton(formula->index)] { button->click(); };
    };
    measurePair(state, drawIn(slowWindow), drawIn(fastWindow));
}

void renderToFile(const Formula& formula, const QStringList& environment) {
    QProcess process;
    process.setEnvironment(QProcess::systemEnvironment() + environment);
    process.start(SPIRELL_RENDER_BINARY,
                  {formula.routine, "--size", "1024", "--quiet", "-o", renderOutput});
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        qFatal("spirell-render failed");
}

void rendererFile(benchmark::State& state, const Formula* formula) {
    measurePair(
        state,
        [&] {
            renderToFile(*formula, {"SPIRELL_SIMD=scalar", "SPIRELL_THREADS=1"});
        },
        [&] { renderToFile(*formula, {}); });
}

// The colours of the whole image, row by row, on this thread.
void computeImage(const Formula& formula, lanes::InstructionSet set) {
    const ViewParams view = readView(formula, kView);
    std::vector<double> X;
    columnRange(view).forEach([&](std::int64_t, double value) {
        X.push_back(value);
        return true;
    });
    std::vector<Colour> row(X.size());
    const lanes::ColourBatch batch = lanes::kernelsFor(set).colours[formula.index];
    const lanes::LevelRule rule = levelRule(formula, view);
    rowRange(view).forEach([&](std::int64_t, double Y) {
        batch(rule, lanes::PixelBatch{X.data(), 1, &Y, 0, X.size()}, row.data());
        benchmark::DoNotOptimize(row.data());
        return true;
    });
}

void setComputation(benchmark::State& state, const Formula* formula) {
    std::map<lanes::InstructionSet, double> best;
    for (auto _ : state) {
        double total = 0;
        for (const lanes::InstructionSet set : lanes::availableInstructionSets()) {
            const double seconds = secondsFor([&] { computeImage(*formula, set); });
            total += seconds;
            const auto found = best.find(set);
            if (found == best.end() || seconds < found->second)
                best[set] = seconds;
        }
        state.SetIterationTime(total);
    }
    for (const auto& [set, seconds] : best)
        state.counters[lanes::nameOf(set)] = seconds * 1e9 / kPixels;
}

// SLEEF's functions themselves, per set, on a million arguments.
void elementaryFunctions(benchmark::State& state, const Formula*) {
    std::vector<double> x(1 << 20), y(x.size(), 1.3), results(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = -20 + double(i) * 0.0000381;
    const std::pair<const char*, lanes::Elementary> functions[] = {{"sin", lanes::Elementary::Sin},
                                                                   {"cos", lanes::Elementary::Cos},
                                                                   {"tan", lanes::Elementary::Tan},
                                                                   {"pow", lanes::Elementary::Pow}};
    std::map<std::string, double> best;
    for (auto _ : state) {
        double total = 0;
        for (const lanes::InstructionSet set : lanes::availableInstructionSets())
            for (const auto& [name, function] : functions) {
                const double seconds = secondsFor([&] {
                    lanes::kernelsFor(set).elementary(function, x.data(), y.data(), x.size(),
                                                      results.data());
                });
                total += seconds;
                const std::string key = std::string(lanes::nameOf(set)) + " " + name;
                if (!best.count(key) || seconds < best[key])
                    best[key] = seconds;
            }
        state.SetIterationTime(total);
    }
    for (const auto& [key, seconds] : best)
        state.counters[key] = seconds * 1e9 / double(x.size());
}

// Prints the measurements as Markdown tables.
using spirell::bench::median;

class TableReporter : public spirell::bench::CountersReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        const Computing fast = everything();
        pairTable("window", "Window, 1024 x 1024 drawing", fast);
        pairTable("renderer", "spirell-render, 1024 x 1024 PNG", fast);

        std::printf("\n### Computation on one thread, ns per pixel\n\n| formula |");
        for (const lanes::InstructionSet set : lanes::availableInstructionSets())
            std::printf(" %s |", lanes::nameOf(set));
        std::printf(" widest against scalar |\n|---|");
        for (std::size_t i = 0; i <= lanes::availableInstructionSets().size(); ++i)
            std::printf("---:|");
        std::printf("\n");
        for (const Formula& formula : formulaCatalogue()) {
            const auto found = results_.find(std::string("sets/") + formula.routine);
            if (found == results_.end())
                continue;
            auto& counters = found->second;
            std::printf("| %s |", formula.routine);
            for (const lanes::InstructionSet set : lanes::availableInstructionSets())
                std::printf(" %.1f |", double(counters[lanes::nameOf(set)]));
            std::printf(" %.2f |\n", double(counters["scalar"]) /
                                         double(counters[lanes::nameOf(fast.instructionSet)]));
        }

        const auto elementary = results_.find("elementary");
        if (elementary == results_.end())
            return;
        std::printf("\n### SLEEF's functions on one thread, ns per value\n\n| set | sin | cos | "
                    "tan | pow |\n|---|---:|---:|---:|---:|\n");
        for (const lanes::InstructionSet set : lanes::availableInstructionSets()) {
            std::printf("| %s |", lanes::nameOf(set));
            for (const char* name : {"sin", "cos", "tan", "pow"})
                std::printf(
                    " %.1f |",
                    double(elementary->second[std::string(lanes::nameOf(set)) + " " + name]));
            std::printf("\n");
        }
    }

private:
    void pairTable(const char* prefix, const char* title, const Computing& fast) {
        std::vector<double> speedUps;
        for (const Formula& formula : formulaCatalogue()) {
            const auto found = results_.find(std::string(prefix) + "/" + formula.routine);
            if (found == results_.end())
                continue;
            if (speedUps.empty())
                std::printf("\n### %s\n\n| formula | scalar, 1 thread ms | %s, %u threads ms | "
                            "speed-up |\n|---|---:|---:|---:|\n",
                            title, lanes::nameOf(fast.instructionSet), fast.threads);
            auto& counters = found->second;
            speedUps.push_back(counters["speed-up"]);
            std::printf("| %s (\"%s\") | %.1f | %.1f | %.2f |\n", formula.routine, formula.caption,
                        double(counters["slow ms"]), double(counters["fast ms"]),
                        double(counters["speed-up"]));
        }
        if (!speedUps.empty())
            std::printf("\nLowest speed-up %.2f, median %.2f\n",
                        *std::min_element(speedUps.begin(), speedUps.end()), median(speedUps));
    }
};

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainWindow slow(scalarOneThread());
    MainWindow fast(everything());
    slow.show();
    fast.show();
    slowWindow = &slow;
    fastWindow = &fast;
    QTemporaryDir folder;
    renderOutput = folder.filePath("image.png");

    const auto add = [](const std::string& name, auto function, const Formula* formula,
                        int rounds) {
        benchmark::RegisterBenchmark(name.c_str(), function, formula)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(rounds);
    };
    for (const Formula& formula : formulaCatalogue())
        add(std::string("window/") + formula.routine, windowDrawing, &formula, 5);
    for (const Formula& formula : formulaCatalogue())
        add(std::string("renderer/") + formula.routine, rendererFile, &formula, 5);
    for (const Formula& formula : formulaCatalogue())
        add(std::string("sets/") + formula.routine, setComputation, &formula, 3);
    add("elementary", elementaryFunctions, nullptr, 5);

    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
