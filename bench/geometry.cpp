// Image Size and Rotate as the geometry commands run them, against pixman on the same
// pixels, printing pixman's time divided by ours (above 1: we are faster).
//
// Jobs: an opaque picture resized by 0.33, 0.45, 0.5, 0.75, 1.5, 2.0 and 3.0 with each
// Image Size filter (Nearest, Bilinear, Spline): 4000 x 3000 (12 megapixels) for every
// factor but 3.0, which starts from 2000 x 1500 so that both sides' destinations stay
// within what the program keeps of freed blocks; and the 12-megapixel picture rotated by
// 30 degrees as the Rotate dialog does it (into its rotated bounds, bilinear, with the
// edge alpha). pixman gets the matching job with OP_SRC: a scale transform with the
// NEAREST filter, the BILINEAR filter for bilinear enlarging, a separable convolution for
// the filtered jobs (bilinear shrinking averages every source pixel under the tent, as a
// linear reconstruction with box sampling does; the spline is a cubic reconstruction),
// and an affine rotation with BILINEAR. Opaque pixels mean pixman's premultiplied form
// equals ours. Both sides run on one thread.
//
// Every job has two lines (see bench/BenchReporter.h): "first", both destinations fresh
// pages (ours with the freed-block cache emptied, pixman into a block mapped for that
// iteration), as a user's first resize to a new size; "repeated", both into memory held
// from the previous iteration (ours through the cache, pixman into one destination it
// keeps), as the same command again. In both, each side reads a source rewritten untimed
// before every run (ours its working copy, pixman a copy of the picture), so neither
// finds source rows left in the cache by the run before.
#include "fx/GeometryRoutines.h"
#include "raster/Raster32.h"

#include "bench/BenchReporter.h"
#include "bench/PixmanBench.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#ifdef KV_HAVE_PIXMAN
#include <pixman.h>
#endif

using namespace kv;

using kvbench::RunBenchmarks;
using kvbench::TRatioReporter;

namespace {

using kvbench::DropHeldMemory;
using kvbench::TMemoryState;

constexpr int Width = 4000, Height = 3000;
constexpr double RotAngle = 30;

void MakePicture(TBitmap32& b, int W, int H)
{
    b.SetSize(W, H);
    std::mt19937 rng(1);
    for (int64_t i = 0; i < int64_t(W) * H; ++i)
        b.Bits()[i] = rng() | 0xFF000000u;
}

// The 12-megapixel picture, and the 3-megapixel one the largest enlargement starts from.
TBitmap32& Picture(bool Small = false)
{
    static TBitmap32 big, small;
    if (big.IsEmpty()) {
        MakePicture(big, Width, Height);
        MakePicture(small, Width / 2, Height / 2);
    }
    return Small ? small : big;
}

using kvbench::TPixmanJob;
using enum kvbench::TPixmanJob;

struct TJob {
    std::string Name;
    TStretchFilter Filter;
    double Factor;
    TPixmanJob Pixman;
    bool Small; // from the 3-megapixel picture
    TMemoryState State;
};

const double Factors[] = {0.33, 0.45, 0.5, 0.75, 1.5, 2.0, 3.0};

std::vector<TJob> Jobs()
{
    std::vector<TJob> jobs;
    const TStretchFilter filters[3] = {sfNearest, sfLinear2, sfSpline};
    const char* names[3] = {"Nearest", "Bilinear", "Spline"};
    for (TMemoryState state : {TMemoryState::First, TMemoryState::Repeated})
        for (int f = 0; f < 3; ++f)
            for (double factor : Factors) {
                const TPixmanJob pixman[3] = {pjNearest, factor > 1 ? pjBilinear : pjLinearConv, pjCubicConv};
                char name[64];
                std::snprintf(name, sizeof name, "ImageSize_%s_x%.2f_%s", names[f], factor, StateName(state));
                jobs.push_back({name, filters[f], factor, pixman[f], factor > 2.5, state});
            }
    return jobs;
}

int DestWidth(const TJob& Job) { return int(Picture(Job.Small).Width() * Job.Factor); }
int DestHeight(const TJob& Job) { return int(Picture(Job.Small).Height() * Job.Factor); }

// Ours: the working copy is made untimed (from the cache in the repeated state, as a
// command's copy is); for the first state every held block is then given back, so the
// resize's destination is fresh pages.
template <typename TRun> void RunOurs(benchmark::State& State, TBitmap32& Src, TMemoryState Mem, TRun Run)
{
    TBitmap32 b;
    if (Mem == TMemoryState::Repeated) {
        // Untimed, so that even the first timed run finds its blocks held: other jobs
        // taking turns with this one may have taken or dropped them.
        b.Assign(&Src);
        Run(b);
        b.SetSize(0, 0);
    }
    for (auto _ : State) {
        State.PauseTiming();
        b.Assign(&Src);
        if (Mem == TMemoryState::First)
            DropHeldMemory();
        State.ResumeTiming();
        Run(b);
        benchmark::DoNotOptimize(b.Bits());
        benchmark::ClobberMemory();
        State.PauseTiming();
        b.SetSize(0, 0); // the result goes back to the cache, as the replaced picture does
        State.ResumeTiming();
    }
}

void RunResize(benchmark::State& State, const TJob& Job)
{
    const int dw = DestWidth(Job), dh = DestHeight(Job);
    RunOurs(State, Picture(Job.Small), Job.State, [&](TBitmap32& b) { ResizeBitmap(b, dw, dh, Job.Filter); });
    State.SetItemsProcessed(State.iterations() * int64_t(dw) * dh);
}

void RunRotate(benchmark::State& State, TMemoryState Mem)
{
    RunOurs(State, Picture(), Mem, [](TBitmap32& b) { RotateBitmap(b, RotAngle, TResampling::Bilinear); });
}

#ifdef KV_HAVE_PIXMAN

// pixman reads a copy rewritten before every run, as our side's working copy is: a
// source whose rows stayed in the cache from the previous run would be a head start.
void RefreshCopy(TBitmap32& Copy, const TBitmap32& Pic)
{
    std::memcpy(Copy.Bits(), Pic.Bits(), size_t(Pic.Width()) * Pic.Height() * 4);
}

void RunPixmanResize(benchmark::State& State, const TJob& Job, TPixmanJob Kind)
{
    TBitmap32& pic = Picture(Job.Small);
    const int dw = DestWidth(Job), dh = DestHeight(Job);
    TBitmap32 copy;
    copy.Assign(&pic);
    pixman_image_t* src =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, pic.Width(), pic.Height(), copy.Bits(), pic.Width() * 4);
    pixman_fixed_t* params = kvbench::SetPixmanScale(src, Job.Factor, Kind);
    kvbench::RunPixmanJob(State, src, dw, dh, Job.State, [&] { RefreshCopy(copy, pic); });
    free(params);
    pixman_image_unref(src);
    State.SetItemsProcessed(State.iterations() * int64_t(dw) * dh);
}

void RunPixmanRotate(benchmark::State& State, TMemoryState Mem)
{
    TBitmap32& pic = Picture();
    const TRotatedSize size = RotatedSize(Width, Height, RotAngle);
    const int dw = RoundHalfEven(size.NW), dh = RoundHalfEven(size.NH);
    TBitmap32 copy;
    copy.Assign(&pic);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, Width, Height, copy.Bits(), Width * 4);
    // Destination to source: about the rotated bounds' centre, then back by the angle.
    pixman_f_transform_t f;
    pixman_f_transform_init_translate(&f, -size.NW / 2, -size.NH / 2);
    const double a = -RotAngle * M_PI / 180;
    pixman_f_transform_rotate(&f, nullptr, std::cos(a), std::sin(a));
    pixman_f_transform_translate(&f, nullptr, Width / 2.0, Height / 2.0);
    pixman_transform_t t;
    pixman_transform_from_pixman_f_transform(&t, &f);
    pixman_image_set_transform(src, &t);
    pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    kvbench::RunPixmanJob(State, src, dw, dh, Mem, [&] { RefreshCopy(copy, pic); });
    pixman_image_unref(src);
}

#endif

void PrintRatio(const TRatioReporter& Reporter, const std::string& Job)
{
    const double ours = Reporter.MedianOf(Job + "/Kelvane"), theirs = Reporter.MedianOf(Job + "/Pixman");
    kvbench::PrintComparison(Job + " pixman/ours", ours, theirs, 1, 1, 1.0);
}

// Each side runs for at least this long, so a single cold iteration (a moment of a busy
// machine) never decides a ratio alone.
constexpr double MinSeconds = 0.5;

void Register(const std::string& Name, const std::function<void(benchmark::State&)>& Run)
{
    benchmark::RegisterBenchmark(Name.c_str(), Run)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(MinSeconds);
}

void RegisterJobs()
{
    for (const TJob& j : Jobs()) {
        Register(j.Name + "/Kelvane", [j](benchmark::State& s) { RunResize(s, j); });
#ifdef KV_HAVE_PIXMAN
        Register(j.Name + "/Pixman", [j](benchmark::State& s) { RunPixmanResize(s, j, j.Pixman); });
#endif
    }
    for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
        const std::string name = std::string("Rotate30_") + StateName(mem);
        Register(name + "/Kelvane", [mem](benchmark::State& s) { RunRotate(s, mem); });
#ifdef KV_HAVE_PIXMAN
        Register(name + "/Pixman", [mem](benchmark::State& s) { RunPixmanRotate(s, mem); });
#endif
    }
}

} // namespace

int main(int argc, char** argv)
{
    Picture(); // the pictures are made before any timing
    RegisterJobs();
    // Five samples a side: the nearest shrinks take a few milliseconds, and under a busy
    // machine one of three such samples is often caught by a slow spell on either side.
    return RunBenchmarks(
        argc, argv,
        [](const TRatioReporter& reporter) {
            for (const TJob& j : Jobs())
                PrintRatio(reporter, j.Name);
            PrintRatio(reporter, "Rotate30_first");
            PrintRatio(reporter, "Rotate30_repeated");
#ifndef KV_HAVE_PIXMAN
            std::printf("pixman not found at configure time: no ratio\n");
#endif
        },
        5);
}
