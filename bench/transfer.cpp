// Scaled copies and a rotation against pixman on the same pixels, printing pixman's time
// divided by ours (above 1: we are faster).
//
// Jobs: a 1920 x 1080 picture scaled up 2x and down 0.5x with each stretch filter
// (dmOpaque, so both sides store), and a 2000 x 2000 picture rotated 30 degrees about
// its centre with bilinear sampling into a 2000 x 2000 destination. pixman gets the same
// opaque source pixels and the matching job: OP_SRC through a scale transform with the
// NEAREST or BILINEAR filter, a separable convolution (linear or cubic reconstruction,
// box sampling when shrinking) for the filtered stretches, and an affine rotation with
// BILINEAR. Opaque pixels mean pixman's premultiplied form equals ours.
#include "raster/Raster32_Transforms.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
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

constexpr int Width = 1920, Height = 1080, RotSide = 2000;
constexpr float RotAngle = 30;

void FillOpaque(TBitmap32& B, int W, int H, uint32_t Seed)
{
    B.SetSize(W, H);
    std::mt19937 rng(Seed);
    for (int64_t i = 0; i < int64_t(W) * H; ++i)
        B.Bits()[i] = rng() | 0xFF000000u;
}

TBitmap32& Picture()
{
    static TBitmap32 b;
    if (b.IsEmpty())
        FillOpaque(b, Width, Height, 1);
    return b;
}

TBitmap32& RotPicture()
{
    static TBitmap32 b;
    if (b.IsEmpty())
        FillOpaque(b, RotSide, RotSide, 2);
    return b;
}

void RunStretch(benchmark::State& State, TStretchFilter Filter, double Factor)
{
    TBitmap32& src = Picture();
    src.SetStretchFilter(Filter);
    src.SetDrawMode(dmOpaque);
    const int dw = int(Width * Factor), dh = int(Height * Factor);
    TBitmap32 dst;
    dst.SetSize(dw, dh);
    for (auto _ : State) {
        StretchRectBlend(&dst, Rect(0, 0, dw, dh), &src, Rect(0, 0, Width, Height));
        benchmark::DoNotOptimize(dst.Bits());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(dw) * dh);
}

void RunRotate(benchmark::State& State)
{
    TBitmap32& src = RotPicture();
    src.SetStretchFilter(sfLinear);
    src.SetDrawMode(dmOpaque);
    TBitmap32 dst;
    dst.SetSize(RotSide, RotSide);
    TAffineTransformation t;
    t.SetSourceRect(MakeSingleRect(0, 0, RotSide, RotSide));
    t.Rotate(RotSide / 2.0f, RotSide / 2.0f, RotAngle);
    for (auto _ : State) {
        DrawTransformed(&dst, &src, &t);
        benchmark::DoNotOptimize(dst.Bits());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(RotSide) * RotSide);
}

#ifdef KV_HAVE_PIXMAN

enum TPixmanJob { pjNearest, pjBilinear, pjLinearConv, pjCubicConv };

void RunPixmanScale(benchmark::State& State, TPixmanJob Job, double Factor)
{
    TBitmap32& pic = Picture();
    const int dw = int(Width * Factor), dh = int(Height * Factor);
    std::vector<uint32_t> dstBits(size_t(dw) * dh);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, Width, Height, pic.Bits(), Width * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, dstBits.data(), dw * 4);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(1 / Factor), pixman_double_to_fixed(1 / Factor));
    pixman_image_set_transform(src, &t);
    pixman_image_set_repeat(src, PIXMAN_REPEAT_PAD);
    pixman_fixed_t* params = nullptr;
    if (Job == pjNearest) {
        pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
    } else if (Job == pjBilinear) {
        pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    } else {
        int n = 0;
        pixman_kernel_t reconstruct = Job == pjCubicConv ? PIXMAN_KERNEL_CUBIC : PIXMAN_KERNEL_LINEAR;
        pixman_kernel_t sample = Factor < 1 ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_IMPULSE;
        pixman_fixed_t scale = pixman_double_to_fixed(1 / Factor);
        params = pixman_filter_create_separable_convolution(&n, scale, scale, reconstruct, reconstruct, sample, sample,
                                                            4, 4);
        pixman_image_set_filter(src, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
    }
    for (auto _ : State) {
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, dw, dh);
        benchmark::DoNotOptimize(dstBits.data());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(dw) * dh);
    free(params);
    pixman_image_unref(dst);
    pixman_image_unref(src);
}

void RunPixmanRotate(benchmark::State& State)
{
    TBitmap32& pic = RotPicture();
    std::vector<uint32_t> dstBits(size_t(RotSide) * RotSide);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, RotSide, RotSide, pic.Bits(), RotSide * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, RotSide, RotSide, dstBits.data(), RotSide * 4);
    // Destination to source: about the centre by the same angle.
    pixman_f_transform_t f;
    pixman_f_transform_init_translate(&f, -RotSide / 2.0, -RotSide / 2.0);
    const double a = RotAngle * M_PI / 180;
    pixman_f_transform_rotate(&f, nullptr, std::cos(a), -std::sin(a));
    pixman_f_transform_translate(&f, nullptr, RotSide / 2.0, RotSide / 2.0);
    pixman_transform_t t;
    pixman_transform_from_pixman_f_transform(&t, &f);
    pixman_image_set_transform(src, &t);
    pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    for (auto _ : State) {
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, RotSide, RotSide);
        benchmark::DoNotOptimize(dstBits.data());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(RotSide) * RotSide);
    pixman_image_unref(dst);
    pixman_image_unref(src);
}

#endif

struct TJob {
    std::string Name;
    TStretchFilter Filter;
    double Factor;
#ifdef KV_HAVE_PIXMAN
    TPixmanJob Pixman;
#endif
};

std::vector<TJob> Jobs()
{
    std::vector<TJob> jobs;
#ifdef KV_HAVE_PIXMAN
    const TPixmanJob pixman[4] = {pjNearest, pjBilinear, pjLinearConv, pjCubicConv};
#endif
    const char* names[4] = {"Nearest", "Linear", "Linear2", "Spline"};
    for (double factor : {2.0, 0.5})
        for (int f = 0; f < 4; ++f) {
            TJob j;
            j.Name = std::string(names[f]) + (factor > 1 ? "_Up2x" : "_Down0.5x");
            j.Filter = TStretchFilter(f);
            j.Factor = factor;
#ifdef KV_HAVE_PIXMAN
            j.Pixman = pixman[f];
#endif
            jobs.push_back(j);
        }
    return jobs;
}

void PrintRatio(const TRatioReporter& Reporter, const std::string& Job)
{
    double ours = Reporter.Median(Job + "/Kelvane"), theirs = Reporter.Median(Job + "/Pixman");
    if (ours > 0 && theirs > 0)
        std::printf("%-18s pixman / kelvane ratio %5.2f (kelvane %8.3f ms, pixman %8.3f ms)\n", Job.c_str(),
                    theirs / ours, ours, theirs);
}

} // namespace

void RegisterJobs()
{
    for (const TJob& j : Jobs()) {
        benchmark::RegisterBenchmark((j.Name + "/Kelvane").c_str(), [j](benchmark::State& s) {
            RunStretch(s, j.Filter, j.Factor);
        })->Unit(benchmark::kMillisecond);
#ifdef KV_HAVE_PIXMAN
        benchmark::RegisterBenchmark((j.Name + "/Pixman").c_str(), [j](benchmark::State& s) {
            RunPixmanScale(s, j.Pixman, j.Factor);
        })->Unit(benchmark::kMillisecond);
#endif
    }
    benchmark::RegisterBenchmark("Rotate30_Bilinear/Kelvane", RunRotate)->Unit(benchmark::kMillisecond);
#ifdef KV_HAVE_PIXMAN
    benchmark::RegisterBenchmark("Rotate30_Bilinear/Pixman", RunPixmanRotate)->Unit(benchmark::kMillisecond);
#endif
}

int main(int argc, char** argv)
{
    RegisterJobs();
    return RunBenchmarks(argc, argv, [](const TRatioReporter& reporter) {
        for (const TJob& j : Jobs())
            PrintRatio(reporter, j.Name);
        PrintRatio(reporter, "Rotate30_Bilinear");
#ifndef KV_HAVE_PIXMAN
        std::printf("pixman not found at configure time: no ratio\n");
#endif
    });
}
