#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace spirell::bench {

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The console's table, and each benchmark's counters kept by its name for
// the Markdown tables a benchmark prints at the end.
class CountersReporter : public benchmark::ConsoleReporter {
public:
    CountersReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            results_[run.run_name.function_name] = run.counters;
    }

protected:
    std::map<std::string, benchmark::UserCounters> results_;
};

} // namespace spirell::bench
