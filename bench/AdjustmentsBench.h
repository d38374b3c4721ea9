// The tone adjustments and the sharpen, soften and grayscale filters on a 12-megapixel
// picture, beside ImageMagick's nearest equivalents and, for the two 3 x 3 filters,
// beside OpenCV's filter2D; each ratio is their median time divided by ours (above 1:
// we are faster). Built into bench_effects, which prints these ratios after its own.
//
// Why the comparison is fair: every side works on the same 4000 x 3000 colours, one
// thread each (ImageMagick's thread limit and OpenCV's thread count are set to 1, as our
// routines run on the user-interface thread), and only the operation is timed: the copy
// that gives each iteration fresh pixels is made with the timer paused, for us as for
// ImageMagick's wand clone. ImageMagick's jobs are -brightness-contrast 20x30, -sharpen
// 1x1 (a 3 x 3 kernel), -blur 1x1 and -colorspace Gray; ours are AdjustBrightness then
// AdjustContrast on the 32-bit picture, and Convolve3x3 (Alpha 5), DiagonalBlur (distance
// 1, what Soften runs) and GrayScale on the 24-bit one. OpenCV's filter2D takes the
// sharpen's and the soften's own 3 x 3 kernels on the same 24-bit rows.
#pragma once

#include "fx/Adjustments.h"
#include "fx/ToneFilters.h"
#include "raster/Raster32.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#ifdef KV_HAVE_IMAGEMAGICK
#include <wand/MagickWand.h>
#endif
#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace kv;

using kvbench::TRatioReporter;

// Kept apart from the effects' own helpers, which share some of these names.
namespace kvadjust {

namespace {

constexpr int Width = 4000, Height = 3000;

// A photo-like picture: smooth gradients with a little deterministic texture, so that
// no side meets only flat areas.
uint8_t Channel(int X, int Y, int Ch)
{
    const uint32_t Hash = (uint32_t(X) * 73856093u) ^ (uint32_t(Y) * 19349663u) ^ (uint32_t(Ch) * 83492791u);
    return uint8_t((X * (Ch + 1) / 31 + Y * (3 - Ch) / 23 + (Hash >> 27)) & 0xFF);
}

// Top-down B, G, R rows without padding (4000 * 3 is a multiple of 4).
const std::vector<uint8_t>& Rows()
{
    static std::vector<uint8_t> Bytes;
    if (Bytes.empty()) {
        Bytes.resize(size_t(Width) * Height * 3);
        for (int Y = 0; Y < Height; ++Y)
            for (int X = 0; X < Width; ++X)
                for (int Ch = 0; Ch < 3; ++Ch)
                    Bytes[(size_t(Y) * Width + X) * 3 + Ch] = Channel(X, Y, Ch);
    }
    return Bytes;
}

void Load24(TBitmap& B)
{
    if (B.Width() != Width) {
        B.SetPixelFormat(pf24bit);
        B.SetSize(Width, Height);
    }
    const uint8_t* Src = Rows().data();
    for (int Y = 0; Y < Height; ++Y)
        std::memcpy(B.ScanLine(Y), Src + size_t(Y) * Width * 3, size_t(Width) * 3);
}

void Load32(TBitmap32& B)
{
    B.SetSize(Width, Height);
    const uint8_t* Src = Rows().data();
    for (int64_t I = 0; I < int64_t(Width) * Height; ++I)
        B.Bits()[I] = 0xFF000000u | (uint32_t(Src[I * 3 + 2]) << 16) | (uint32_t(Src[I * 3 + 1]) << 8) | Src[I * 3];
}

// Runs Op on a fresh copy of the picture each iteration, timing Op only.
template <typename TPicture>
void Timed(benchmark::State& State, void (*Load)(TPicture&), const std::function<void(TPicture&)>& Op)
{
    TPicture Picture;
    for (auto _ : State) {
        State.PauseTiming();
        Load(Picture);
        State.ResumeTiming();
        Op(Picture);
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(Width) * Height);
}

void BM_BrightnessContrast_Kelvane(benchmark::State& S)
{
    Timed<TBitmap32>(S, &Load32, [](TBitmap32& B) {
        AdjustBrightness(B, 20);
        AdjustContrast(B, 30);
    });
}

void BM_Sharpen_Kelvane(benchmark::State& S)
{
    TBitmap Dst;
    Timed<TBitmap>(S, &Load24, [&Dst](TBitmap& B) { Convolve3x3(B, Dst, 5.0f); });
}

void BM_Soften_Kelvane(benchmark::State& S)
{
    Timed<TBitmap>(S, &Load24, [](TBitmap& B) { DiagonalBlur(B, 1); });
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

void BM_Grayscale_Kelvane(benchmark::State& S)
{
    Timed<TBitmap>(S, &Load24, [](TBitmap& B) { GrayScale(B); });
}

BENCHMARK(BM_BrightnessContrast_Kelvane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sharpen_Kelvane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Soften_Kelvane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grayscale_Kelvane)->Unit(benchmark::kMillisecond);

#ifdef KV_HAVE_IMAGEMAGICK

MagickWand* BaseWand()
{
    static MagickWand* Wand = nullptr;
    if (!Wand) {
        MagickWandGenesis();
        SetMagickResourceLimit(ThreadResource, 1);
        Wand = NewMagickWand();
        MagickConstituteImage(Wand, Width, Height, "BGR", CharPixel, Rows().data());
    }
    return Wand;
}

template <typename TOp> void TimedMagick(benchmark::State& State, TOp Op)
{
    for (auto _ : State) {
        State.PauseTiming();
        MagickWand* Wand = CloneMagickWand(BaseWand());
        State.ResumeTiming();
        Op(Wand);
        State.PauseTiming();
        DestroyMagickWand(Wand);
        State.ResumeTiming();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(Width) * Height);
}

void BM_BrightnessContrast_ImageMagick(benchmark::State& S)
{
    TimedMagick(S, [](MagickWand* W) { MagickBrightnessContrastImage(W, 20, 30); });
}
void BM_Sharpen_ImageMagick(benchmark::State& S)
{
    TimedMagick(S, [](MagickWand* W) { MagickSharpenImage(W, 1, 1); });
}
void BM_Soften_ImageMagick(benchmark::State& S)
{
    TimedMagick(S, [](MagickWand* W) { MagickBlurImage(W, 1, 1); });
}
void BM_Grayscale_ImageMagick(benchmark::State& S)
{
    TimedMagick(S, [](MagickWand* W) { MagickTransformImageColorspace(W, GRAYColorspace); });
}

BENCHMARK(BM_BrightnessContrast_ImageMagick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sharpen_ImageMagick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Soften_ImageMagick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Grayscale_ImageMagick)->Unit(benchmark::kMillisecond);

#endif

#ifdef KV_HAVE_OPENCV

// The sharpen's kernel at Alpha 5 (F = 0.8) and the soften's four diagonal quarters.
void TimedFilter2D(benchmark::State& State, const cv::Mat& Kernel)
{
    cv::setNumThreads(1);
    cv::Mat Src(Height, Width, CV_8UC3, const_cast<uint8_t*>(Rows().data()));
    cv::Mat Dst(Height, Width, CV_8UC3);
    for (auto _ : State) {
        cv::filter2D(Src, Dst, -1, Kernel);
        benchmark::DoNotOptimize(Dst.data);
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(Width) * Height);
}

void BM_Sharpen_OpenCV(benchmark::State& S)
{
    const float F = 0.8f;
    const cv::Mat Kernel = (cv::Mat_<float>(3, 3) << 0, -F, 0, -F, 5 - F, -F, 0, -F, 0);
    TimedFilter2D(S, Kernel);
}

void BM_Soften_OpenCV(benchmark::State& S)
{
    const cv::Mat Kernel = (cv::Mat_<float>(3, 3) << 0.25f, 0, 0.25f, 0, 0, 0, 0.25f, 0, 0.25f);
    TimedFilter2D(S, Kernel);
}

BENCHMARK(BM_Sharpen_OpenCV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Soften_OpenCV)->Unit(benchmark::kMillisecond);

#endif

void PrintRatio(const TRatioReporter& Reporter, const char* Job, const char* Library)
{
    const std::string Prefix = std::string("BM_") + Job + "_";
    const double Ours = Reporter.MedianOf(Prefix + "Kelvane"), Theirs = Reporter.MedianOf(Prefix + Library);
    if (Ours > 0 && Theirs > 0)
        std::printf("%-20s %s / kelvane ratio %6.2f (kelvane %8.2f ms, %s %8.2f ms)\n", Job, Library, Theirs / Ours,
                    Ours, Library, Theirs);
}

} // namespace

// The adjustments' ratios, for the effects benchmark to print after its own.
inline void PrintAdjustmentRatios(const TRatioReporter& Reporter)
{
#ifdef KV_HAVE_IMAGEMAGICK
    for (const char* Job : {"BrightnessContrast", "Sharpen", "Soften", "Grayscale"})
        PrintRatio(Reporter, Job, "ImageMagick");
#endif
#ifdef KV_HAVE_OPENCV
    for (const char* Job : {"Sharpen", "Soften"})
        PrintRatio(Reporter, Job, "OpenCV");
#endif
}

} // namespace kvadjust
