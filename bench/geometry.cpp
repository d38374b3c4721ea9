// Image Size and Rotate as the geometry commands run them, against pixman on the same
// pixels, printing pixman's time divided by ours (above 1: we are faster).
//
// Jobs: a 4000 x 3000 (12-megapixel) opaque picture resized to half and to double size
// with each Image Size filter (Nearest, Bilinear, Spline), a fresh destination each
// time, and the same picture rotated by 30 degrees as the Rotate dialog does it (into
// its rotated bounds, bilinear, with the edge alpha). pixman gets the matching job with
// OP_SRC into a destination it allocates itself: a scale transform with the NEAREST
// filter, the BILINEAR filter for bilinear enlarging, a separable convolution for the
// filtered jobs (bilinear shrinking averages every source pixel under the tent, as a
// linear reconstruction with box sampling does; the spline is a cubic reconstruction),
// and an affine rotation with BILINEAR. pixman's 2 x 2 point-sampled BILINEAR shrink,
// which skips source pixels, is printed beside it for reference. Opaque pixels mean
// pixman's premultiplied form equals ours.
#include "fx/GeometryRoutines.h"
#include "raster/Raster32.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
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

constexpr int Width = 4000, Height = 3000;
constexpr double RotAngle = 30;

TBitmap32& Picture()
{
    static TBitmap32 b;
    if (b.IsEmpty()) {
        b.SetSize(Width, Height);
        std::mt19937 rng(1);
        for (int64_t i = 0; i < int64_t(Width) * Height; ++i)
            b.Bits()[i] = rng() | 0xFF000000u;
    }
    return b;
}

enum TPixmanJob { pjNearest, pjBilinear, pjLinearConv, pjCubicConv };

struct TJob {
    std::string Name;
    TStretchFilter Filter;
    double Factor;
    TPixmanJob Pixman;
};

std::vector<TJob> Jobs()
{
    std::vector<TJob> jobs;
    const TStretchFilter filters[3] = {sfNearest, sfLinear2, sfSpline};
    const char* names[3] = {"Nearest", "Bilinear", "Spline"};
    for (double factor : {0.5, 2.0})
        for (int f = 0; f < 3; ++f) {
            const TPixmanJob pixman[3] = {pjNearest, factor > 1 ? pjBilinear : pjLinearConv, pjCubicConv};
            jobs.push_back({std::string("ImageSize_") + names[f] + (factor > 1 ? "_Double" : "_Half"), filters[f],
                            factor, pixman[f]});
        }
    return jobs;
}

void RunResize(benchmark::State& State, const TJob& Job)
{
    TBitmap32& src = Picture();
    const int dw = int(Width * Job.Factor), dh = int(Height * Job.Factor);
    for (auto _ : State) {
        State.PauseTiming();
        TBitmap32 b;
        b.Assign(&src);
        State.ResumeTiming();
        ResizeBitmap(b, dw, dh, Job.Filter);
        benchmark::DoNotOptimize(b.Bits());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(dw) * dh);
}

void RunRotate(benchmark::State& State)
{
    TBitmap32& src = Picture();
    for (auto _ : State) {
        State.PauseTiming();
        TBitmap32 b;
        b.Assign(&src);
        State.ResumeTiming();
        RotateBitmap(b, RotAngle, TResampling::Bilinear);
        benchmark::DoNotOptimize(b.Bits());
        benchmark::ClobberMemory();
    }
}

#ifdef KV_HAVE_PIXMAN

void RunPixmanResize(benchmark::State& State, const TJob& Job, TPixmanJob Kind)
{
    TBitmap32& pic = Picture();
    const int dw = int(Width * Job.Factor), dh = int(Height * Job.Factor);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, Width, Height, pic.Bits(), Width * 4);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(1 / Job.Factor), pixman_double_to_fixed(1 / Job.Factor));
    pixman_image_set_transform(src, &t);
    pixman_image_set_repeat(src, PIXMAN_REPEAT_PAD);
    pixman_fixed_t* params = nullptr;
    if (Kind == pjNearest) {
        pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
    } else if (Kind == pjBilinear) {
        pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    } else {
        int n = 0;
        const pixman_kernel_t reconstruct = Kind == pjCubicConv ? PIXMAN_KERNEL_CUBIC : PIXMAN_KERNEL_LINEAR;
        const pixman_kernel_t sample = Job.Factor < 1 ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_IMPULSE;
        const pixman_fixed_t scale = pixman_double_to_fixed(1 / Job.Factor);
        params = pixman_filter_create_separable_convolution(&n, scale, scale, reconstruct, reconstruct, sample, sample,
                                                            4, 4);
        pixman_image_set_filter(src, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
    }
    for (auto _ : State) {
        pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, nullptr, 0);
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, dw, dh);
        benchmark::DoNotOptimize(pixman_image_get_data(dst));
        benchmark::ClobberMemory();
        pixman_image_unref(dst);
    }
    free(params);
    pixman_image_unref(src);
    State.SetItemsProcessed(State.iterations() * int64_t(dw) * dh);
}

void RunPixmanRotate(benchmark::State& State)
{
    TBitmap32& pic = Picture();
    const TRotatedSize size = RotatedSize(Width, Height, RotAngle);
    const int dw = RoundHalfEven(size.NW), dh = RoundHalfEven(size.NH);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, Width, Height, pic.Bits(), Width * 4);
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
    for (auto _ : State) {
        pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, nullptr, 0);
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, dw, dh);
        benchmark::DoNotOptimize(pixman_image_get_data(dst));
        benchmark::ClobberMemory();
        pixman_image_unref(dst);
    }
    pixman_image_unref(src);
}

#endif

void PrintRatio(const TRatioReporter& Reporter, const std::string& Job)
{
    const double ours = Reporter.MedianOf(Job + "/Kelvane"), theirs = Reporter.MedianOf(Job + "/Pixman");
    if (ours > 0 && theirs > 0)
        std::printf("%-24s pixman / kelvane ratio %5.2f (kelvane %8.3f ms, pixman %8.3f ms)\n", Job.c_str(),
                    theirs / ours, ours, theirs);
}

// Each side runs for at least this long, so a single cold iteration (the first touch of
// a fresh destination, or a moment of a busy machine) never decides a ratio alone.
constexpr double MinSeconds = 2.0;

void RegisterJobs()
{
    for (const TJob& j : Jobs()) {
        benchmark::RegisterBenchmark((j.Name + "/Kelvane").c_str(), [j](benchmark::State& s) { RunResize(s, j); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(MinSeconds);
#ifdef KV_HAVE_PIXMAN
        benchmark::RegisterBenchmark((j.Name + "/Pixman").c_str(),
                                     [j](benchmark::State& s) { RunPixmanResize(s, j, j.Pixman); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(MinSeconds);
        if (j.Pixman == pjLinearConv)
            benchmark::RegisterBenchmark((j.Name + "/PixmanPointSampled").c_str(),
                                         [j](benchmark::State& s) { RunPixmanResize(s, j, pjBilinear); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MinTime(MinSeconds);
#endif
    }
    benchmark::RegisterBenchmark("Rotate30/Kelvane", RunRotate)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(MinSeconds);
#ifdef KV_HAVE_PIXMAN
    benchmark::RegisterBenchmark("Rotate30/Pixman", RunPixmanRotate)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(MinSeconds);
#endif
}

} // namespace

int main(int argc, char** argv)
{
    RegisterJobs();
    return RunBenchmarks(argc, argv, [](const TRatioReporter& reporter) {
        for (const TJob& j : Jobs())
            PrintRatio(reporter, j.Name);
        PrintRatio(reporter, "Rotate30");
        // For reference only: a different job, 2 x 2 samples a pixel however far apart.
        const double ours = reporter.MedianOf("ImageSize_Bilinear_Half/Kelvane");
        const double point = reporter.MedianOf("ImageSize_Bilinear_Half/PixmanPointSampled");
        if (ours > 0 && point > 0)
            std::printf("(reference) bilinear half, pixman point-sampled BILINEAR / kelvane %5.2f\n", point / ours);
#ifndef KV_HAVE_PIXMAN
        std::printf("pixman not found at configure time: no ratio\n");
#endif
    });
}
