// The shared ground of the effect and adjustment benchmarks: the pictures (a 12-megapixel
// grain picture drawn here and a plasma ImageMagick draws, the same bytes for every
// side), timing loops that give every iteration a fresh copy outside the clock in the
// memory state of its line, and the ratio lines (theirs / ours from medians, with the
// threads of each side) that name the library compared with.
//
// Every library runs on one thread, as our effects do: ImageMagick's thread resource is
// set to 1 and OpenCV's thread count to 1, so the ratios compare work, not core counts.
#pragma once

#include "bench/BenchReporter.h"
#include "bench/MagickInputs.h"
#include "platform/Graphics.h"
#include "raster/Raster32.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
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

// ---- The comparison lines ----------------------------------------------------------
// Each comparison runs on every input below and in both memory states of
// bench/BenchReporter.h, one line each: "<Job>_<input>_<state>", ours under
// ".../Kelvane" and theirs under ".../ImageMagick" or ".../OpenCV".
//   first     ours: the picture loaded untimed, then every held freed block and the heap
//             given back, so each block the effect takes is fresh pages; ImageMagick: the
//             picture read into a new wand of its own (its pixels written), then the same
//             giving back; OpenCV: the destination a block mapped in the timed part.
//   repeated  ours: the effect run once untimed, so that the cache holds its blocks, the
//             picture reloaded untimed into the same bitmap each time; ImageMagick: a new
//             wand read untimed each time from a heap that kept the previous run's freed
//             blocks; OpenCV: one destination held and written by an untimed run.
// ImageMagick's operations that make a new image take it from its own pixel cache: at
// these sizes fresh pages every time, in either state. Each side's result is kept
// untimed until the next iteration's set-up and no side checks more than the other
// (ImageMagick's status is read after each run, as ours returns nothing to check).
struct TEffectInput {
    std::string Name;
    int32_t W, H;
    bool Magick; // drawn by ImageMagick (bench/MagickInputs.h)
    std::vector<uint8_t> Bgr;
};

// The grain picture above at 12 megapixels, and ImageMagick's plasma at 1920 x 1080.
inline std::vector<TEffectInput>& EffectInputs()
{
    static std::vector<TEffectInput> Inputs = [] {
        std::vector<TEffectInput> V;
        V.push_back({"grain_4000x3000", EffectWidth, EffectHeight, false, {}});
#ifdef KV_HAVE_IMAGEMAGICK
        V.push_back({"magick_plasma_1920x1080", 1920, 1080, true, {}});
#endif
        return V;
    }();
    return Inputs;
}

inline const std::vector<uint8_t>& InputBgr(TEffectInput& In)
{
    if (In.Bgr.empty()) {
#ifdef KV_HAVE_IMAGEMAGICK
        if (In.Magick)
            In.Bgr = MagickPlasmaBgr(In.W, In.H);
#endif
        if (!In.Magick)
            In.Bgr = EffectPictureBgr();
        if (In.Bgr.empty()) {
            std::fprintf(stderr, "%s: no picture\n", In.Name.c_str());
            std::exit(1);
        }
    }
    return In.Bgr;
}

inline void LoadInput(TEffectInput& In, kv::TBitmap& Bitmap)
{
    const uint8_t* Src = InputBgr(In).data();
    if (Bitmap.Width() != In.W || Bitmap.Height() != In.H || Bitmap.PixelFormat() != kv::pf24bit) {
        Bitmap.SetPixelFormat(kv::pf24bit);
        Bitmap.SetSize(In.W, In.H);
    }
    for (int32_t Y = 0; Y < In.H; ++Y)
        std::memcpy(Bitmap.ScanLine(Y), Src + size_t(Y) * In.W * 3, size_t(In.W) * 3);
}

inline void LoadInput(TEffectInput& In, kv::TBitmap32& Bitmap)
{
    const uint8_t* Src = InputBgr(In).data();
    if (Bitmap.Width() != In.W || Bitmap.Height() != In.H)
        Bitmap.SetSizeForOverwrite(In.W, In.H);
    kv::TColor32* Dst = Bitmap.Bits();
    for (size_t I = 0; I < size_t(In.W) * In.H; ++I, Src += 3)
        Dst[I] = 0xFF000000u | (kv::TColor32(Src[2]) << 16) | (kv::TColor32(Src[1]) << 8) | Src[0];
}

inline std::string EffectLine(const std::string& Job, const TEffectInput& In, TMemoryState Mem)
{
    return Job + "_" + In.Name + "_" + StateName(Mem);
}

// Registers one side of a comparison on every input and state: Time(State, Input, Mem).
template <typename TTime> void RegisterEffectSide(const std::string& Key, const std::string& Side, TTime Time)
{
    for (TMemoryState Mem : {TMemoryState::First, TMemoryState::Repeated})
        for (TEffectInput& In : EffectInputs())
            benchmark::RegisterBenchmark((EffectLine(Key, In, Mem) + "/" + Side).c_str(),
                                         [&In, Mem, Time](benchmark::State& S) { Time(S, In, Mem); })
                ->Iterations(2)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
}

// Ours on the 24-bit (TPicture = TBitmap) or 32-bit picture. Forget drops what the
// effect keeps between runs (a destination bitmap) before a first-state run.
template <typename TPicture>
void TimeOursOn(benchmark::State& State, TEffectInput& In, TMemoryState Mem, const std::function<void(TPicture&)>& Run,
                const std::function<void()>& Forget = {})
{
    TPicture Picture;
    if (Mem == TMemoryState::Repeated) {
        LoadInput(In, Picture);
        Run(Picture);
    }
    for (auto _ : State) {
        State.PauseTiming();
        LoadInput(In, Picture);
        if (Mem == TMemoryState::First) {
            if (Forget)
                Forget();
            DropHeldMemory();
        }
        State.ResumeTiming();
        Run(Picture);
        benchmark::ClobberMemory();
    }
}

#ifdef KV_HAVE_IMAGEMAGICK
// The input in a new wand of its own, ImageMagick on one thread.
inline MagickWand* MagickInput(TEffectInput& In)
{
    static const bool Ready = [] {
        MagickWandGenesis();
        MagickSetResourceLimit(ThreadResource, 1);
        return true;
    }();
    (void)Ready;
    MagickWand* W = NewMagickWand();
    MagickConstituteImage(W, size_t(In.W), size_t(In.H), "BGR", CharPixel, InputBgr(In).data());
    return W;
}

inline void TimeMagickOn(benchmark::State& State, TEffectInput& In, TMemoryState Mem,
                         const std::function<bool(MagickWand*)>& Run)
{
    if (Mem == TMemoryState::Repeated) {
        MagickWand* W = MagickInput(In);
        Run(W);
        DestroyMagickWand(W);
    }
    for (auto _ : State) {
        State.PauseTiming();
        MagickWand* W = MagickInput(In);
        if (Mem == TMemoryState::First)
            DropHeldMemory();
        State.ResumeTiming();
        const bool Ok = Run(W);
        State.PauseTiming();
        DestroyMagickWand(W);
        State.ResumeTiming();
        if (!Ok) {
            State.SkipWithError("ImageMagick failed");
            break;
        }
    }
}
#endif

#ifdef KV_HAVE_OPENCV
inline void TimeOpenCvOn(benchmark::State& State, TEffectInput& In, TMemoryState Mem,
                         const std::function<void(const cv::Mat&, cv::Mat&)>& Run)
{
    cv::setNumThreads(1);
    const cv::Mat Source(In.H, In.W, CV_8UC3, const_cast<uint8_t*>(InputBgr(In).data()));
    const size_t Bytes = size_t(In.W) * In.H * 3;
    std::unique_ptr<TReferenceBlock> Held;
    cv::Mat HeldDst;
    if (Mem == TMemoryState::Repeated) {
        Held = std::make_unique<TReferenceBlock>(Bytes);
        HeldDst = cv::Mat(In.H, In.W, CV_8UC3, Held->Data());
        Run(Source, HeldDst); // also pays OpenCV's one-time set-up outside the clock
    }
    for (auto _ : State) {
        if (Held) {
            Run(Source, HeldDst);
            benchmark::DoNotOptimize(HeldDst.data);
            benchmark::ClobberMemory();
            continue;
        }
        State.PauseTiming();
        DropHeldMemory();
        State.ResumeTiming();
        auto Fresh = std::make_unique<TReferenceBlock>(Bytes);
        cv::Mat Dst(In.H, In.W, CV_8UC3, Fresh->Data());
        Run(Source, Dst);
        benchmark::DoNotOptimize(Dst.data);
        benchmark::ClobberMemory();
        State.PauseTiming(); // giving the pages back is not part of the job
        Dst.release();
        Fresh.reset();
        State.ResumeTiming();
    }
}
#endif

// The lines of one comparison: theirs / ours for every input and state, one thread each.
inline void PrintEffectComparison(const TRatioReporter& R, const std::string& Job, const std::string& Library,
                                  const std::string& OursKey, const std::string& TheirsKey)
{
    for (TMemoryState Mem : {TMemoryState::First, TMemoryState::Repeated})
        for (const TEffectInput& In : EffectInputs()) {
            const double Ours = R.MedianOf(EffectLine(OursKey, In, Mem) + "/Kelvane");
            const double Theirs = R.MedianOf(EffectLine(TheirsKey, In, Mem) + "/" + Library);
            PrintComparison(EffectLine(Job, In, Mem) + " " + Library + "/ours", Ours, Theirs, 1, 1);
        }
}

} // namespace kvbench
