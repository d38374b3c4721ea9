// The tone adjustments and the sharpen, soften and grayscale filters beside ImageMagick's
// nearest equivalents and, for the two 3 x 3 filters, beside OpenCV's filter2D; each
// ratio is their median time divided by ours (above 1: we are faster). Built into
// bench_effects, which prints these ratios after its own.
//
// Why the comparison is fair: every side works on the same colours (the effects'
// inputs and memory states, bench/BenchEffects.h), one thread each (ImageMagick's thread
// limit and OpenCV's thread count are set to 1, as our routines run on the user-interface
// thread), and only the operation is timed. ImageMagick's jobs are -brightness-contrast
// 20x30, -sharpen 1x1 (a 3 x 3 kernel), -blur 1x1 and -colorspace Gray; ours are
// AdjustBrightness then AdjustContrast on the 32-bit picture, and Convolve3x3 (Alpha 5,
// into a destination bitmap it keeps, dropped before a "first" run), DiagonalBlur
// (distance 1, what Soften runs) and GrayScale on the 24-bit one. OpenCV's filter2D takes
// the sharpen's and the soften's own 3 x 3 kernels on the same 24-bit rows.
#pragma once

#include "fx/Adjustments.h"
#include "fx/ToneFilters.h"
#include "raster/Raster32.h"

#include "bench/BenchEffects.h"
#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

using namespace kv;

// Kept apart from the effects' own helpers, which share some of these names.
namespace kvadjust {

using kvbench::TEffectInput;
using kvbench::TMemoryState;

namespace {

// A photo-like picture: smooth gradients with a little deterministic texture, so that
// no side meets only flat areas.
uint8_t Channel(int X, int Y, int Ch)
{
    const uint32_t Hash = (uint32_t(X) * 73856093u) ^ (uint32_t(Y) * 19349663u) ^ (uint32_t(Ch) * 83492791u);
    return uint8_t((X * (Ch + 1) / 31 + Y * (3 - Ch) / 23 + (Hash >> 27)) & 0xFF);
}

// Softness at its strongest (slider 100: 101 passes at distance 3) on a 6000 x 4000
// picture, the largest the reviewers tried; alone, as no library runs this blur.
void BM_Softness100_6000x4000_Kelvane(benchmark::State& S)
{
    constexpr int BigW = 6000, BigH = 4000;
    TBitmap B;
    for (auto _ : S) {
        S.PauseTiming();
        B.SetPixelFormat(pf24bit);
        B.SetSize(BigW, BigH);
        for (int Y = 0; Y < BigH; ++Y) {
            uint8_t* Row = B.ScanLine(Y);
            for (int X = 0; X < BigW; ++X)
                for (int Ch = 0; Ch < 3; ++Ch)
                    Row[X * 3 + Ch] = Channel(X, Y, Ch);
        }
        S.ResumeTiming();
        RepeatBlur(B, 100);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Softness100_6000x4000_Kelvane)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

inline void RegisterAdjustments()
{
    using kvbench::RegisterEffectSide;
    using kvbench::TimeOursOn;
    RegisterEffectSide("BrightnessContrast", "Kelvane", [](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
        TimeOursOn<TBitmap32>(S, In, Mem, [](TBitmap32& B) {
            AdjustBrightness(B, 20);
            AdjustContrast(B, 30);
        });
    });
    RegisterEffectSide("Sharpen", "Kelvane", [](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
        auto Dst = std::make_shared<std::unique_ptr<TBitmap>>(std::make_unique<TBitmap>());
        TimeOursOn<TBitmap>(
            S, In, Mem, [Dst](TBitmap& B) { Convolve3x3(B, **Dst, 5.0f); },
            [Dst] { *Dst = std::make_unique<TBitmap>(); });
    });
    RegisterEffectSide("Soften", "Kelvane", [](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
        TimeOursOn<TBitmap>(S, In, Mem, [](TBitmap& B) { DiagonalBlur(B, 1); });
    });
    RegisterEffectSide("Grayscale", "Kelvane", [](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
        TimeOursOn<TBitmap>(S, In, Mem, [](TBitmap& B) { GrayScale(B); });
    });
#ifdef KV_HAVE_IMAGEMAGICK
    auto Magick = [](const char* Key, MagickBooleanType (*Run)(MagickWand*)) {
        RegisterEffectSide(Key, "ImageMagick", [Run](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
            kvbench::TimeMagickOn(S, In, Mem, [Run](MagickWand* W) { return Run(W) == MagickTrue; });
        });
    };
    Magick("BrightnessContrast", [](MagickWand* W) { return MagickBrightnessContrastImage(W, 20, 30); });
    Magick("Sharpen", [](MagickWand* W) { return MagickSharpenImage(W, 1, 1); });
    Magick("Soften", [](MagickWand* W) { return MagickBlurImage(W, 1, 1); });
    Magick("Grayscale", [](MagickWand* W) { return MagickTransformImageColorspace(W, GRAYColorspace); });
#endif
#ifdef KV_HAVE_OPENCV
    // The sharpen's kernel at Alpha 5 (F = 0.8) and the soften's four diagonal quarters.
    auto Filter = [](const char* Key, const cv::Mat& Kernel) {
        RegisterEffectSide(Key, "OpenCV", [Kernel](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
            kvbench::TimeOpenCvOn(S, In, Mem,
                                  [&Kernel](const cv::Mat& Src, cv::Mat& Dst) { cv::filter2D(Src, Dst, -1, Kernel); });
        });
    };
    const float F = 0.8f;
    Filter("Sharpen", (cv::Mat_<float>(3, 3) << 0, -F, 0, -F, 5 - F, -F, 0, -F, 0));
    Filter("Soften", (cv::Mat_<float>(3, 3) << 0.25f, 0, 0.25f, 0, 0, 0, 0.25f, 0, 0.25f));
#endif
}

// The adjustments' ratios, for the effects benchmark to print after its own.
inline void PrintAdjustmentRatios(const kvbench::TRatioReporter& Reporter)
{
#ifdef KV_HAVE_IMAGEMAGICK
    for (const char* Job : {"BrightnessContrast", "Sharpen", "Soften", "Grayscale"})
        kvbench::PrintEffectComparison(Reporter, Job, "ImageMagick", Job, Job);
#endif
#ifdef KV_HAVE_OPENCV
    for (const char* Job : {"Sharpen", "Soften"})
        kvbench::PrintEffectComparison(Reporter, Job, "OpenCV", Job, Job);
#endif
    (void)Reporter;
}

} // namespace kvadjust
