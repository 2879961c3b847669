// Measures, per formula and view, the pure computation of a 1024 x 1024 image
// and the window's drawing of the same image (the real canvas, the real
// per-column yield and repaint, from the button click to the routine's
// return), and prints their ratio side by side; then the command-line
// renderer's speed-up with all cores over one thread on the same image.

#include "app/MainWindow.hpp"
#include "formulas/Catalogue.hpp"
#include "render/DrawingFrame.hpp"
#include "render/ViewParams.hpp"
#include "renderer/BandRenderer.hpp"
#include "renderer/ImagePlan.hpp"

#include <QApplication>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>

using namespace spirell;

namespace {

constexpr double kPixels = 1024.0 * 1024.0;

struct NamedView {
    const char* name;
    BoxTexts boxes;
};

const NamedView kViews[] = {
    {"start-up", {"1", "1", "1024", "1", "150"}},
    {"zoom 0.15", {"1", "1", "1024", "0.15", "150"}},
};

qTac* theWindow = nullptr;

void computeImage(benchmark::State& state, const Formula* formula, const BoxTexts* boxes) {
    const ViewParams view = readView(*formula, *boxes);
    for (auto _ : state) {
        std::uint32_t sink = 0;
        columnRange(view).forEach([&](std::int64_t, double X) {
            rowRange(view).forEach([&](std::int64_t, double Y) {
                sink += pixelColour(*formula, view, X, Y).value();
                return true;
            });
            return true;
        });
        benchmark::DoNotOptimize(sink);
    }
    state.counters["ns/pixel"] = benchmark::Counter(
        kPixels * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void drawInWindow(benchmark::State& state, const Formula* formula, const BoxTexts* boxes) {
    theWindow->boxes().write(*boxes);
    QPushButton* button = theWindow->formulaButton(formula->index);
    for (auto _ : state)
        button->click();
    state.counters["ns/pixel"] = benchmark::Counter(
        kPixels * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The renderer's rows, computed in bands on the given number of threads and
// handed over in order, as when writing a file; only the PNG encoding is left out.
void renderWithThreads(benchmark::State& state, const Formula* formula) {
    tool::RenderSettings settings;
    settings.formula = formula->routine;
    settings.boxes = kViews[0].boxes;
    const tool::ImagePlan plan = tool::planImage(settings);
    tool::BandOptions options;
    options.threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        std::uint32_t sink = 0;
        tool::renderRows(plan, options, [&](const std::uint8_t* rgb) { sink += rgb[0]; });
        benchmark::DoNotOptimize(sink);
    }
    state.counters["ns/pixel"] = benchmark::Counter(
        kPixels * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Keeps each run's time per pixel and prints the window-to-computation ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            nsPerPixel_[run.run_name.function_name +
                        (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] =
                run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit) /
                kPixels;
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n| formula | view | computation ns/pixel | window ns/pixel | ratio |\n");
        std::printf("|---|---|---:|---:|---:|\n");
        double worst = 0;
        for (const Formula& formula : formulaCatalogue()) {
            for (const NamedView& view : kViews) {
                const std::string suffix = std::string(formula.routine) + "/" + view.name;
                const auto compute = nsPerPixel_.find("compute/" + suffix);
                const auto window = nsPerPixel_.find("window/" + suffix);
                if (compute == nsPerPixel_.end() || window == nsPerPixel_.end())
                    continue;
                const double ratio = window->second / compute->second;
                worst = std::max(worst, ratio);
                std::printf("| %s (\"%s\") | %s | %.1f | %.1f | %.3f |\n", formula.routine,
                            formula.caption, view.name, compute->second, window->second, ratio);
            }
        }
        std::printf("\nLargest window-to-computation ratio: %.3f\n", worst);

        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        std::printf("\n| formula | 1 thread ns/pixel | %u threads ns/pixel | speed-up | "
                    "speed-up / threads |\n|---|---:|---:|---:|---:|\n",
                    cores);
        for (const Formula& formula : formulaCatalogue()) {
            const std::string name = std::string("renderer/") + formula.routine;
            const auto one = nsPerPixel_.find(name + "/1");
            const auto all = nsPerPixel_.find(name + "/" + std::to_string(cores));
            if (one == nsPerPixel_.end() || all == nsPerPixel_.end())
                continue;
            const double speedUp = one->second / all->second;
            std::printf("| %s | %.1f | %.1f | %.2f | %.2f |\n", formula.routine, one->second,
                        all->second, speedUp, speedUp / cores);
        }
    }

private:
    std::map<std::string, double> nsPerPixel_;
};

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    qTac window;
    window.show();
    theWindow = &window;

    // Each formula's two measurements run one after the other, so that they see
    // the same machine state.
    for (const Formula& formula : formulaCatalogue()) {
        if (!formula.isAvailable())
            continue;
        for (const NamedView& view : kViews) {
            const std::string suffix = std::string(formula.routine) + "/" + view.name;
            benchmark::RegisterBenchmark(("compute/" + suffix).c_str(), computeImage, &formula,
                                         &view.boxes)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MinTime(1.0);
            benchmark::RegisterBenchmark(("window/" + suffix).c_str(), drawInWindow, &formula,
                                         &view.boxes)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MinTime(1.0);
        }
    }
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (const Formula& formula : formulaCatalogue()) {
        if (!formula.isAvailable())
            continue;
        benchmark::RegisterBenchmark((std::string("renderer/") + formula.routine).c_str(),
                                     renderWithThreads, &formula)
            ->Arg(1)
            ->Arg(cores)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(1.0);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
