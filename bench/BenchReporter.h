// Keeps each benchmark's times (one per repetition) so that a program can print its
// ratios against the comparison library from the medians at the end.
#pragma once

#include <benchmark/benchmark.h>

#include "platform/SysUtils.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <malloc.h>
#include <sched.h>
#include <sys/mman.h>

namespace kvbench {

// ---- Like with like -------------------------------------------------------------------
// A line compares two sides only when both write into memory in the same state. The
// program keeps a few freed picture blocks for the next picture of about their size
// (platform/SysUtils.cpp), so a command's first run on a new size faults in fresh pages
// while its repeats reuse held ones; a reference library that allocates with calloc or
// new[] meets the same two cases. Lines where that matters come in pairs:
//   first     both sides into fresh memory: ours with the block cache emptied and the
//             heap trimmed, theirs into a block mapped for this iteration alone;
//   repeated  both sides into memory they hold from the previous iteration.
enum class TMemoryState { First, Repeated };

inline const char* StateName(TMemoryState S) { return S == TMemoryState::First ? "first" : "repeated"; }

// Gives back every freed block the program or the C library still holds, so that the
// next allocation of either side takes pages the system has never handed out.
inline void DropHeldMemory()
{
    kv::ReleaseCachedPixelBuffers();
    malloc_trim(0);
}

// A block of Bytes for a reference library: fresh pages for the first-run lines
// (mapped here, each never touched), or one the caller keeps and has already written.
class TReferenceBlock {
public:
    explicit TReferenceBlock(size_t Bytes) : FBytes(Bytes ? Bytes : 1)
    {
        void* P = mmap(nullptr, FBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        FData = P == MAP_FAILED ? nullptr : static_cast<uint8_t*>(P);
    }
    ~TReferenceBlock()
    {
        if (FData)
            munmap(FData, FBytes);
    }
    TReferenceBlock(const TReferenceBlock&) = delete;
    TReferenceBlock& operator=(const TReferenceBlock&) = delete;
    uint8_t* Data() const { return FData; }
    // Touches every page, as a block held from an earlier run is.
    void Warm()
    {
        if (FData)
            std::memset(FData, 0, FBytes);
    }

private:
    size_t FBytes;
    uint8_t* FData = nullptr;
};

// Keeps the calling thread, and every thread it starts meanwhile, on one processor: the
// one-thread line beside a line where ours spreads its work over several. The reference
// of such a line is held the same way, so that both sides meet the same processor's load.
class TOneCore {
public:
    TOneCore()
    {
        FOk = sched_getaffinity(0, sizeof FSaved, &FSaved) == 0;
        if (!FOk)
            return;
        // One processor for every such line of the run, so that ours and the reference meet
        // the same load: the one the first of them ran on (not the first of the set, which
        // takes the system's interrupts).
        static const int Chosen = [this] {
            int Here = sched_getcpu();
            if (Here < 0 || !CPU_ISSET(Here, &FSaved))
                for (Here = 0; Here < CPU_SETSIZE && !CPU_ISSET(Here, &FSaved); ++Here) {
                }
            return Here;
        }();
        const int Here = Chosen;
        cpu_set_t One;
        CPU_ZERO(&One);
        CPU_SET(Here, &One);
        sched_setaffinity(0, sizeof One, &One);
    }
    ~TOneCore()
    {
        if (FOk)
            sched_setaffinity(0, sizeof FSaved, &FSaved);
    }
    TOneCore(const TOneCore&) = delete;
    TOneCore& operator=(const TOneCore&) = delete;

private:
    cpu_set_t FSaved;
    bool FOk = false;
};

// Processors this process may run on: the threads a side that uses every core gets.
inline int UsableCores()
{
    cpu_set_t Set;
    return sched_getaffinity(0, sizeof Set, &Set) == 0 ? CPU_COUNT(&Set) : 1;
}

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

// One line of a comparison: theirs / ours from the medians (above 1: ours is faster),
// with the threads each side used; Required 0 prints no goal.
inline void PrintComparison(const std::string& Line, double OursMs, double TheirsMs, int OursThreads, int TheirsThreads,
                            double Required = 0)
{
    if (OursMs <= 0 || TheirsMs <= 0)
        return;
    std::printf("%-40s ratio %6.2f  (ours %9.3f ms on %d thread%s, theirs %9.3f ms on %d thread%s)", Line.c_str(),
                TheirsMs / OursMs, OursMs, OursThreads, OursThreads == 1 ? "" : "s", TheirsMs, TheirsThreads,
                TheirsThreads == 1 ? "" : "s");
    if (Required > 0)
        std::printf("  %s %.2f", TheirsMs / OursMs >= Required ? "meets" : "BELOW", Required);
    std::printf("\n");
}

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

#include <memory>

namespace kvbench {

// The reference's output block of one iteration in a memory state: for "first" a block
// mapped afresh after every held one was given back (call it with the timing paused),
// for "repeated" the one block kept and already written.
class TReferenceTarget {
public:
    TReferenceTarget(size_t Bytes, TMemoryState Mem) : FBytes(Bytes), FMem(Mem)
    {
        FBlock = std::make_unique<TReferenceBlock>(FBytes);
        if (FMem == TMemoryState::Repeated)
            FBlock->Warm();
    }
    uint8_t* Next()
    {
        if (FMem == TMemoryState::First) {
            FBlock.reset();
            DropHeldMemory();
            FBlock = std::make_unique<TReferenceBlock>(FBytes);
        }
        return FBlock->Data();
    }

private:
    size_t FBytes;
    TMemoryState FMem;
    std::unique_ptr<TReferenceBlock> FBlock;
};

// Our side's picture of one iteration in a memory state, made with the timing paused:
// for "first" a new one with every held block given back, for "repeated" the one from
// the previous iteration (the caller loads once untimed before the loop).
template <typename T> T& NextOurs(std::unique_ptr<T>& Ours, TMemoryState Mem)
{
    if (!Ours || Mem == TMemoryState::First) {
        Ours.reset();
        Ours = std::make_unique<T>();
        if (Mem == TMemoryState::First)
            DropHeldMemory();
    }
    return *Ours;
}

} // namespace kvbench
