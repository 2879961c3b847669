// What a formula written as text costs against its built-in: for each of the
// nineteen built-ins, the colours of a 1024 x 768 image computed on one
// thread with each instruction set, once by the built-in's compiled per-pixel
// function and once by its text (data/formulas) run as a formula program,
// 256 pixels a batch along each row as the image path hands them out. Both
// sides paint the same bytes (tests/test_formula_texts.cpp).
//
// The two sides run alternately, the one that goes first changing from round
// to round, and the fastest run of each counts: other work on the machine
// only ever adds time, so the fastest runs are the least disturbed and their
// ratio the fairest. The time is this thread's processor time, which the
// other processes of a shared machine do not add to while they hold the core.
//
// Usage: spirell-bench-formula-texts [Google Benchmark options]

#include "drawing/DrawingFrame.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"
#include "formulas/TextFormulas.hpp"
#include "lanes/InstructionSets.hpp"
#include "lanes/LineColours.hpp"

#include "CountersReporter.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace spirell;
using namespace spirell::formulas;

namespace {

const boxes::BoxTexts kView{"1", "1", "768", "1", "150"}; // 1024 x 768
constexpr int kRounds = 5;

std::string formulaText(const Formula& builtIn) {
    const std::string path = std::string(SPIRELL_FORMULA_TEXTS_DIR "/") + builtIn.caption + ".txt";
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The world X of every column and Y of every row of a formula's view.
struct ViewPixels {
    drawing::ViewParams view;
    std::vector<double> X;
    std::vector<double> Y;
    double count() const { return double(X.size()) * double(Y.size()); }
};

ViewPixels viewPixels(const Formula& formula) {
    ViewPixels pixels{drawing::readView(formula, kView), {}, {}};
    drawing::columnRange(pixels.view).forEach([&](std::int64_t, double value) {
        pixels.X.push_back(value);
        return true;
    });
    drawing::rowRange(pixels.view).forEach([&](std::int64_t, double value) {
        pixels.Y.push_back(value);
        return true;
    });
    return pixels;
}

double threadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Processor seconds for the colours of the whole image, row by row, on this thread.
double computeImage(const Formula& formula, const lanes::KernelTable& kernels,
                    const ViewPixels& pixels, std::vector<Colour>& row) {
    const lanes::ColourBatch batch = lanes::colourBatchFor(kernels, formula);
    const lanes::LevelRule rule = drawing::levelRule(formula, pixels.view);
    const double start = threadSeconds();
    for (const double Y : pixels.Y) {
        lanes::LineColours line(
            batch, rule, lanes::Line::Row, Y,
            [&row](std::size_t column, Colour colour) { row[column] = colour; });
        for (std::size_t column = 0; column < pixels.X.size(); ++column)
            line.add(pixels.X[column], column);
        line.flush();
        benchmark::DoNotOptimize(row.data());
    }
    return threadSeconds() - start;
}

void textAgainstBuiltIn(benchmark::State& state, const Formula* builtIn) {
    const Formula& text = formulaOfText(formulaText(*builtIn));
    // The text's settings are the built-in's, so both see the same view.
    const ViewPixels pixels = viewPixels(*builtIn);
    std::vector<Colour> row(pixels.X.size());
    struct Best {
        double builtIn = std::numeric_limits<double>::infinity();
        double text = std::numeric_limits<double>::infinity();
    };
    std::map<lanes::InstructionSet, Best> best;
    int round = 0;
    for (auto _ : state) {
        double total = 0;
        for (const lanes::InstructionSet set : lanes::availableInstructionSets()) {
            const lanes::KernelTable& kernels = lanes::kernelsFor(set);
            Best& fastest = best[set];
            const auto runBuiltIn = [&] {
                const double seconds = computeImage(*builtIn, kernels, pixels, row);
                fastest.builtIn = std::min(fastest.builtIn, seconds);
                total += seconds;
            };
            const auto runText = [&] {
                const double seconds = computeImage(text, kernels, pixels, row);
                fastest.text = std::min(fastest.text, seconds);
                total += seconds;
            };
            if (round % 2 == 0) {
                runBuiltIn();
                runText();
            } else {
                runText();
                runBuiltIn();
            }
        }
        ++round;
        state.SetIterationTime(total);
    }
    for (const auto& [set, fastest] : best) {
        const std::string name = lanes::nameOf(set);
        state.counters[name + " built-in ns"] = fastest.builtIn * 1e9 / pixels.count();
        state.counters[name + " text ns"] = fastest.text * 1e9 / pixels.count();
        state.counters[name + " ratio"] = fastest.text / fastest.builtIn;
    }
}

// Prints the measurements as Markdown tables: the time of each side per pixel
// and the text's time over the built-in's, with the median and the highest
// ratio of each instruction set.
using spirell::bench::median;

class TableReporter : public spirell::bench::CountersReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        const std::vector<lanes::InstructionSet> sets = lanes::availableInstructionSets();
        std::printf(
            "\n### Formula texts against their built-ins, 1024 x 768 on one thread, fastest "
            "of %d\n\nns per pixel, built-in / text, and the text's time over the "
            "built-in's\n\n| formula |",
            kRounds);
        for (const lanes::InstructionSet set : sets)
            std::printf(" %s ns | %s ratio |", lanes::nameOf(set), lanes::nameOf(set));
        std::printf("\n|---|");
        for (std::size_t i = 0; i < sets.size(); ++i)
            std::printf("---:|---:|");
        std::printf("\n");

        std::map<lanes::InstructionSet, std::vector<double>> ratios;
        for (const Formula& formula : formulaCatalogue()) {
            const auto found = results_.find(std::string("texts/") + formula.caption);
            if (found == results_.end())
                continue;
            auto& counters = found->second;
            std::printf("| %s (%s) |", formula.caption, formula.routine);
            for (const lanes::InstructionSet set : sets) {
                const std::string name = lanes::nameOf(set);
                const double ratio = counters[name + " ratio"];
                ratios[set].push_back(ratio);
                std::printf(" %.1f / %.1f | %.2f |", double(counters[name + " built-in ns"]),
                            double(counters[name + " text ns"]), ratio);
            }
            std::printf("\n");
        }
        if (ratios.empty())
            return;
        const auto summary = [&](const char* what, double (*of)(std::vector<double>)) {
            std::printf("| **%s** |", what);
            for (const lanes::InstructionSet set : sets)
                std::printf(" | **%.2f** |", of(ratios[set]));
            std::printf("\n");
        };
        summary("median", median);
        summary("highest", [](std::vector<double> values) {
            return *std::max_element(values.begin(), values.end());
        });
    }
};

} // namespace

int main(int argc, char* argv[]) {
    for (const Formula& formula : formulaCatalogue())
        benchmark::RegisterBenchmark((std::string("texts/") + formula.caption).c_str(),
                                     textAgainstBuiltIn, &formula)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(kRounds);

    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
