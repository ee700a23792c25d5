#pragma once

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velm {

// Prints the usual table and remembers each benchmark's real time per iteration: the median when
// the runs are repeated, else the single run. Ratios are printed only for benchmarks that ran, so
// a --benchmark_filter that leaves one side out prints nothing for that pair.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!run.error_occurred && (run.run_type == Run::RT_Iteration || median)) {
                seconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }

    std::optional<double> time(const std::string& name) const {
        const auto found = seconds_.find(name);
        if (found == seconds_.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    // Our rate / baseline rate, i.e. baseline time / our time for the same work.
    std::optional<double> rateRatio(const std::string& ours, const std::string& base) const {
        return timeRatio(base, ours);
    }

    // Our time / baseline time.
    std::optional<double> timeRatio(const std::string& ours, const std::string& base) const {
        const auto mine = time(ours);
        const auto baseline = time(base);
        if (!mine || !baseline || *baseline <= 0) {
            return std::nullopt;
        }
        return *mine / *baseline;
    }

    // Prints "<label>: <ratio> (<target>)", without the parentheses when `target` is empty.
    static void printRatio(const std::string& label, std::optional<double> ratio,
                           const std::string& target = {}, int decimals = 2) {
        if (!ratio) {
            return;
        }
        if (target.empty()) {
            std::printf("%s: %.*f\n", label.c_str(), decimals, *ratio);
        } else {
            std::printf("%s: %.*f (%s)\n", label.c_str(), decimals, *ratio, target.c_str());
        }
    }

    // Prints "<ours> / <base> rate: <our rate / baseline rate>".
    void printRateRatio(const std::string& ours, const std::string& base, int decimals = 3) const {
        printRatio(ours + " / " + base + " rate", rateRatio(ours, base), {}, decimals);
    }

private:
    std::map<std::string, double> seconds_;
};

} // namespace velm
