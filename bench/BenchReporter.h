// Keeps each benchmark's times (one per repetition) so that a program can print its
// ratios against the comparison library from the medians at the end;
// --benchmark_repetitions steadies them on a busy machine.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace kvbench {

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> Times;
    void ReportRuns(const std::vector<Run>& Runs) override
    {
        for (const Run& R : Runs)
            if (R.run_type == Run::RT_Iteration && !R.error_occurred)
                Times[R.run_name.str()].push_back(R.GetAdjustedRealTime());
        ConsoleReporter::ReportRuns(Runs);
    }
    // The median time of a benchmark by its run name, 0 when it did not run.
    double Median(const std::string& Name) const
    {
        auto It = Times.find(Name);
        if (It == Times.end() || It->second.empty())
            return 0;
        std::vector<double> V = It->second;
        std::sort(V.begin(), V.end());
        return V[V.size() / 2];
    }
    // The same for a benchmark named without the arguments its run name goes on with
    // ("BM_X" for "BM_X/iterations:3").
    double MedianOf(const std::string& Name) const
    {
        for (const auto& [RunName, V] : Times)
            if (RunName == Name || RunName.rfind(Name + "/", 0) == 0)
                return Median(RunName);
        return 0;
    }
};

} // namespace kvbench
