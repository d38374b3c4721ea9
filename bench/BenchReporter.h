// Keeps each benchmark's times (one per repetition) so that a program can print its
// ratios against the comparison library from the medians at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kvbench {

// The median of some times, 0 for none.
inline double Median(std::vector<double> V)
{
    if (V.empty())
        return 0;
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
}

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
        return It == Times.end() ? 0 : kvbench::Median(It->second);
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

// Runs the benchmarks named on the command line through one TRatioReporter, then hands
// it to PrintRatios so that the program prints its ratios from the medians.
// By default each benchmark runs Repetitions times and the repetitions of all of them
// take turns in random order: on a busy machine a slow spell then costs ours and the
// reference alike instead of whichever side happened to run through it. Programs whose
// benchmarks take well under a second each ask for more, since a shorter sample is more
// easily caught whole by one spell. Flags on the command line come later and win.
inline int RunBenchmarks(int argc, char** argv, const std::function<void(const TRatioReporter&)>& PrintRatios,
                         int Repetitions = 3)
{
    std::string RepetitionsFlag = "--benchmark_repetitions=" + std::to_string(Repetitions);
    static char Interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> Args(argv, argv + argc);
    Args.insert(Args.begin() + (argc > 0 ? 1 : 0), {RepetitionsFlag.data(), Interleave});
    Args.push_back(nullptr);
    argc = int(Args.size()) - 1;
    argv = Args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRatioReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    PrintRatios(Reporter);
    benchmark::Shutdown();
    return 0;
}

// The application object that fonts, canvases and windows need, on the offscreen
// platform; benchmark flags stay out of Qt's argument list.
class TOffscreenApplication {
public:
    explicit TOffscreenApplication(char* Argv0) : FArgv{Argv0, nullptr}, FApp(OffscreenArgc(FArgc), FArgv) {}

private:
    static int& OffscreenArgc(int& Argc)
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return Argc;
    }
    int FArgc = 1;
    char* FArgv[2];
    QApplication FApp;
};

} // namespace kvbench
