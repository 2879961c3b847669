// Measures, per formula and view, the pure computation of a 1024 x 1024 image
// against the window's drawing of the same image (the real canvas, the real
// per-column yield and repaint, from the button click to the routine's
// return), and the command-line renderer's rows on one thread against all
// cores. Each pair is measured alternately, several times, and the fastest run
// of each side counts: other work on the machine only ever adds time, so the
// fastest runs are the least disturbed and their ratio the fairest.

#include "app/MainWindow.hpp"
#include "formulas/Catalogue.hpp"
#include "render/DrawingFrame.hpp"
#include "render/ViewParams.hpp"
#include "renderer/BandRenderer.hpp"
#include "renderer/ImagePlan.hpp"

#include <QApplication>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <thread>

using namespace spirell;

namespace {

constexpr double kPixels = 1024.0 * 1024.0;
constexpr int kRounds = 15;

struct NamedView {
    const char* name;
    BoxTexts boxes;
};

const NamedView kViews[] = {
    {"start-up", {"1", "1", "1024", "1", "150"}},
    {"zoom 0.15", {"1", "1", "1024", "0.15", "150"}},
};

qTac* theWindow = nullptr;

double secondsFor(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the two sides alternately and reports the fastest of each in ns per
// pixel, and their ratio (second over first).
void measurePair(benchmark::State& state, const std::function<void()>& first,
                 const std::function<void()>& second, const char* firstName,
                 const char* secondName) {
    double bestFirst = std::numeric_limits<double>::infinity();
    double bestSecond = bestFirst;
    for (auto _ : state) {
        const double a = secondsFor(first);
        const double b = secondsFor(second);
        bestFirst = std::min(bestFirst, a);
        bestSecond = std::min(bestSecond, b);
        state.SetIterationTime(a + b);
    }
    state.counters[firstName] = bestFirst * 1e9 / kPixels;
    state.counters[secondName] = bestSecond * 1e9 / kPixels;
    state.counters["ratio"] = bestSecond / bestFirst;
}

void computeAgainstWindow(benchmark::State& state, const Formula* formula, const BoxTexts* boxes) {
    const ViewParams view = readView(*formula, *boxes);
    theWindow->boxes().write(*boxes);
    QPushButton* button = theWindow->formulaButton(formula->index);
    const auto compute = [&] {
        std::uint32_t sink = 0;
        columnRange(view).forEach([&](std::int64_t, double X) {
            rowRange(view).forEach([&](std::int64_t, double Y) {
                sink += pixelColour(*formula, view, X, Y).value();
                return true;
            });
            return true;
        });
        benchmark::DoNotOptimize(sink);
    };
    measurePair(
        state, compute, [&] { button->click(); }, "compute", "window");
}

// The renderer's rows, computed in bands and handed over in order as when
// writing a file; only the PNG encoding is left out.
void oneThreadAgainstAll(benchmark::State& state, const Formula* formula, unsigned cores) {
    tool::RenderSettings settings;
    settings.formula = formula->routine;
    settings.boxes = kViews[0].boxes;
    const tool::ImagePlan plan = tool::planImage(settings);
    const auto render = [&](unsigned threads) {
        tool::BandOptions options;
        options.threads = threads;
        std::uint32_t sink = 0;
        tool::renderRows(plan, options, [&](const std::uint8_t* rgb) { sink += rgb[0]; });
        benchmark::DoNotOptimize(sink);
    };
    measurePair(
        state, [&] { render(1); }, [&] { render(cores); }, "one thread", "all cores");
}

// Prints the measured pairs as Markdown tables.
class TableReporter : public benchmark::ConsoleReporter {
public:
    explicit TableReporter(unsigned cores) : ConsoleReporter(OO_Tabular), cores_(cores) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            results_[run.run_name.function_name] = run.counters;
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n| formula | view | computation ns/pixel | window ns/pixel | ratio |\n");
        std::printf("|---|---|---:|---:|---:|\n");
        double worst = 0;
        for (const Formula& formula : formulaCatalogue())
            for (const NamedView& view : kViews) {
                const auto found =
                    results_.find(std::string("window/") + formula.routine + "/" + view.name);
                if (found == results_.end())
                    continue;
                auto& counters = found->second;
                worst = std::max(worst, double(counters["ratio"]));
                std::printf("| %s (\"%s\") | %s | %.1f | %.1f | %.3f |\n", formula.routine,
                            formula.caption, view.name, double(counters["compute"]),
                            double(counters["window"]), double(counters["ratio"]));
            }
        std::printf("\nLargest window-to-computation ratio: %.3f\n", worst);

        std::printf("\n| formula | 1 thread ns/pixel | %u threads ns/pixel | speed-up | "
                    "speed-up / threads |\n|---|---:|---:|---:|---:|\n",
                    cores_);
        double lowest = std::numeric_limits<double>::infinity();
        for (const Formula& formula : formulaCatalogue()) {
            const auto found = results_.find(std::string("renderer/") + formula.routine);
            if (found == results_.end())
                continue;
            auto& counters = found->second;
            const double speedUp = 1 / double(counters["ratio"]);
            lowest = std::min(lowest, speedUp / cores_);
            std::printf("| %s | %.1f | %.1f | %.2f | %.2f |\n", formula.routine,
                        double(counters["one thread"]), double(counters["all cores"]), speedUp,
                        speedUp / cores_);
        }
        std::printf("\nLowest speed-up per thread: %.2f\n", lowest);
    }

private:
    unsigned cores_;
    std::map<std::string, benchmark::UserCounters> results_;
};

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qTac window;
    window.show();
    theWindow = &window;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    for (const Formula& formula : formulaCatalogue()) {
        for (const NamedView& view : kViews)
            benchmark::RegisterBenchmark(
                (std::string("window/") + formula.routine + "/" + view.name).c_str(),
                computeAgainstWindow, &formula, &view.boxes)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(kRounds);
    }
    for (const Formula& formula : formulaCatalogue()) {
        benchmark::RegisterBenchmark((std::string("renderer/") + formula.routine).c_str(),
                                     oneThreadAgainstAll, &formula, cores)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(kRounds);
    }
    benchmark::Initialize(&argc, argv);
    TableReporter reporter(cores);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
