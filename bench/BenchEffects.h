// The shared ground of the effect and adjustment benchmarks: one 12-megapixel picture
// (24-bit and 32-bit copies of the same pixels, and the same bytes for ImageMagick and
// OpenCV), timing loops that give every iteration a fresh copy outside the clock, and the
// ratio lines (theirs / ours from medians) that name the library compared with.
//
// Every library runs on one thread, as our effects do: ImageMagick's thread resource is
// set to 1 and OpenCV's thread count to 1, so the ratios compare work, not core counts.
#pragma once

#include "bench/BenchReporter.h"
#include "platform/Graphics.h"
#include "raster/Raster32.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#ifdef KV_HAVE_IMAGEMAGICK
#include <wand/MagickWand.h>
#endif
#ifdef KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace kvbench {

constexpr int32_t EffectWidth = 4000, EffectHeight = 3000; // 12 megapixels

// Smooth gradients with a little deterministic grain: photographs are neither flat
// (which would flatter table lookups) nor white noise.
inline const std::vector<uint8_t>& EffectPictureBgr()
{
    static const std::vector<uint8_t> Bytes = [] {
        std::vector<uint8_t> B(size_t(EffectWidth) * EffectHeight * 3);
        std::mt19937 Rng(20261209);
        size_t I = 0;
        for (int32_t Y = 0; Y < EffectHeight; ++Y)
            for (int32_t X = 0; X < EffectWidth; ++X) {
                const uint32_t Grain = Rng();
                B[I++] = uint8_t((X * 255 / EffectWidth + (Grain & 15)) & 0xFF);
                B[I++] = uint8_t((Y * 255 / EffectHeight + ((Grain >> 4) & 15)) & 0xFF);
                B[I++] = uint8_t(((X + Y) * 255 / (EffectWidth + EffectHeight) + ((Grain >> 8) & 15)) & 0xFF);
            }
        return B;
    }();
    return Bytes;
}

// The picture as the effects get it: a 24-bit platform bitmap.
inline void LoadEffectPicture(kv::TBitmap& Bitmap)
{
    Bitmap.SetPixelFormat(kv::pf24bit);
    Bitmap.SetSize(EffectWidth, EffectHeight);
    const uint8_t* Src = EffectPictureBgr().data();
    for (int32_t Y = 0; Y < EffectHeight; ++Y)
        std::memcpy(Bitmap.ScanLine(Y), Src + size_t(Y) * EffectWidth * 3, size_t(EffectWidth) * 3);
}

// The same pixels, opaque, as the adjustments get them.
inline void LoadEffectPicture32(kv::TBitmap32& Bitmap)
{
    Bitmap.SetSize(EffectWidth, EffectHeight);
    const uint8_t* Src = EffectPictureBgr().data();
    kv::TColor32* Dst = Bitmap.Bits();
    for (size_t I = 0; I < size_t(EffectWidth) * EffectHeight; ++I, Src += 3)
        Dst[I] = 0xFF000000u | (kv::TColor32(Src[2]) << 16) | (kv::TColor32(Src[1]) << 8) | Src[0];
}

// Times Run on a fresh copy of the 24-bit picture each iteration; the copy is not timed.
// ImageMagick's clones share their pixels until written, so its in-place operations also
// pay for their copy; a few per cent of its times, which does not move a ratio across 1.
inline void TimeOurs(benchmark::State& State, const std::function<void(kv::TBitmap&)>& Run)
{
    kv::TBitmap Picture;
    for (auto _ : State) {
        State.PauseTiming();
        LoadEffectPicture(Picture);
        State.ResumeTiming();
        Run(Picture);
        benchmark::DoNotOptimize(Picture.ScanLine(0));
    }
}

inline void TimeOurs32(benchmark::State& State, const std::function<void(kv::TBitmap32&)>& Run)
{
    kv::TBitmap32 Picture;
    for (auto _ : State) {
        State.PauseTiming();
        LoadEffectPicture32(Picture);
        State.ResumeTiming();
        Run(Picture);
        benchmark::DoNotOptimize(Picture.Bits());
    }
}

#ifdef KV_HAVE_IMAGEMAGICK
// The picture in a wand, made once; each iteration times the operation on a clone.
inline MagickWand* MagickPicture()
{
    static MagickWand* Wand = [] {
        MagickWandGenesis();
        MagickSetResourceLimit(ThreadResource, 1);
        MagickWand* W = NewMagickWand();
        MagickConstituteImage(W, EffectWidth, EffectHeight, "BGR", CharPixel, EffectPictureBgr().data());
        return W;
    }();
    return Wand;
}

inline void TimeMagick(benchmark::State& State, const std::function<void(MagickWand*)>& Run)
{
    MagickWand* Source = MagickPicture();
    for (auto _ : State) {
        State.PauseTiming();
        MagickWand* Copy = CloneMagickWand(Source);
        State.ResumeTiming();
        Run(Copy);
        State.PauseTiming();
        DestroyMagickWand(Copy);
        State.ResumeTiming();
    }
}
#endif

#ifdef KV_HAVE_OPENCV
inline const cv::Mat& OpenCvPicture()
{
    static const cv::Mat Mat = [] {
        cv::setNumThreads(1);
        cv::Mat M(EffectHeight, EffectWidth, CV_8UC3);
        std::memcpy(M.data, EffectPictureBgr().data(), EffectPictureBgr().size());
        return M;
    }();
    return Mat;
}

// Times Run from the picture into a destination of the same size. One untimed run first:
// it pays OpenCV's one-time set-up and the destination's first-touch page faults, which
// our side pays outside the clock too.
inline void TimeOpenCv(benchmark::State& State, const std::function<void(const cv::Mat&, cv::Mat&)>& Run)
{
    const cv::Mat& Source = OpenCvPicture();
    cv::Mat Dst(Source.size(), Source.type());
    Run(Source, Dst);
    for (auto _ : State) {
        Run(Source, Dst);
        benchmark::DoNotOptimize(Dst.data);
    }
}
#endif

// One line per comparison: "<job> <Library> / Kelvane ratio r (Kelvane a ms, <Library> b ms)".
inline void PrintRatio(const TRatioReporter& Reporter, const std::string& Job, const std::string& Library,
                       const std::string& Ours, const std::string& Theirs)
{
    const double A = Reporter.MedianOf(Ours), B = Reporter.MedianOf(Theirs);
    if (A <= 0 || B <= 0) {
        std::printf("%-12s %s: not run\n", Job.c_str(), Library.c_str());
        return;
    }
    std::printf("%-12s %-11s / Kelvane ratio %6.2f (Kelvane %8.2f ms, %s %8.2f ms)\n", Job.c_str(), Library.c_str(),
                B / A, A / 1e6, Library.c_str(), B / 1e6);
}

} // namespace kvbench
