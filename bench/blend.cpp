// BlendRun and BlendRunMaster over a full-HD frame against pixman's OVER on the same
// pixels, printing pixman's time divided by ours (above 1: we are faster).
//
// Why the comparison is fair: both libraries make one pass over the same 1920 x 1080
// source and destination pixels (identical random colours and alphas), read every source
// pixel and read-modify-write every destination pixel, single-threaded, with the same
// shortcut opportunities (source alpha 0 or 255; pixman skips or copies those too).
// pixman only composites premultiplied pixels, so its copies of the two frames are
// premultiplied once before timing: a program built on pixman keeps its layers in that
// form, just as ours keeps them non-premultiplied. The destination changes with every
// iteration for both sides, which alters neither side's work per pixel. Every side
// writes into a destination it holds (the "repeated" state: no fresh page is timed) on
// one thread. The same jobs run again on a 4000 x 3000 picture ("_12MP"), whose frames
// are far larger than the processor's caches, beside a memcpy of that size.
#include "raster/Raster32_Blend.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
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

constexpr int HdWidth = 1920, HdHeight = 1080, BigWidth = 4000, BigHeight = 3000;
constexpr uint32_t MasterAlpha = 200;

struct TFrames {
    int Width, Height;
    std::vector<TColor32> Src, Dst;
    TFrames(int W, int H) : Width(W), Height(H), Src(size_t(W) * H), Dst(size_t(W) * H)
    {
        std::mt19937 Rng(20240601);
        for (auto& P : Src)
            P = Rng(); // random colour and random alpha, not premultiplied
        for (auto& P : Dst)
            P = Rng();
    }
};

thread_local bool Big = false; // set by the _12MP runs around the shared bodies

const TFrames& Frames()
{
    static const TFrames Hd(HdWidth, HdHeight), Large(BigWidth, BigHeight);
    return Big ? Large : Hd;
}

void RunRows(benchmark::State& State, const TBlendRoutines& R, bool Master)
{
    const TFrames& F = Frames();
    const int Width = F.Width, Height = F.Height;
    std::vector<TColor32> Dst = F.Dst;
    for (auto _ : State) {
        for (int Y = 0; Y < Height; ++Y) {
            const TColor32* S = F.Src.data() + size_t(Y) * Width;
            TColor32* D = Dst.data() + size_t(Y) * Width;
            if (Master)
                R.BlendRunMaster(S, D, Width, MasterAlpha);
            else
                R.BlendRun(S, D, Width);
        }
        benchmark::DoNotOptimize(Dst.data());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(Width) * Height);
}

void BM_BlendRun_Kelvane(benchmark::State& S) { RunRows(S, BlendRoutines(), false); }
void BM_BlendRunMaster_Kelvane(benchmark::State& S) { RunRows(S, BlendRoutines(), true); }
void BM_BlendRun_Scalar(benchmark::State& S) { RunRows(S, ScalarBlendRoutines(), false); }
void BM_BlendRunMaster_Scalar(benchmark::State& S) { RunRows(S, ScalarBlendRoutines(), true); }
void BM_BlendRun_Sse2(benchmark::State& S)
{
    if (Sse2BlendRoutines())
        RunRows(S, *Sse2BlendRoutines(), false);
    else
        S.SkipWithError("no SSE2");
}
void BM_BlendRunMaster_Sse2(benchmark::State& S)
{
    if (Sse2BlendRoutines())
        RunRows(S, *Sse2BlendRoutines(), true);
    else
        S.SkipWithError("no SSE2");
}

// The floor no blend can pass: the same frame's rows copied, reading and writing as many
// bytes as BlendRun does.
void BM_Memcpy(benchmark::State& State)
{
    const TFrames& F = Frames();
    const int Width = F.Width, Height = F.Height;
    std::vector<TColor32> Dst = F.Dst;
    for (auto _ : State) {
        for (int Y = 0; Y < Height; ++Y)
            std::memcpy(Dst.data() + size_t(Y) * Width, F.Src.data() + size_t(Y) * Width, size_t(Width) * 4);
        benchmark::DoNotOptimize(Dst.data());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(Width) * Height);
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendRun_Kelvane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendRunMaster_Kelvane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendRun_Sse2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendRunMaster_Sse2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendRun_Scalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendRunMaster_Scalar)->Unit(benchmark::kMillisecond);

void BM_Memcpy_12MP(benchmark::State& S)
{
    Big = true;
    BM_Memcpy(S);
    Big = false;
}
void BM_BlendRun_12MP_Kelvane(benchmark::State& S)
{
    Big = true;
    RunRows(S, BlendRoutines(), false);
    Big = false;
}
void BM_BlendRunMaster_12MP_Kelvane(benchmark::State& S)
{
    Big = true;
    RunRows(S, BlendRoutines(), true);
    Big = false;
}
BENCHMARK(BM_Memcpy_12MP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendRun_12MP_Kelvane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendRunMaster_12MP_Kelvane)->Unit(benchmark::kMillisecond);

#ifdef KV_HAVE_PIXMAN

uint32_t Premultiply(uint32_t P)
{
    uint32_t A = P >> 24;
    auto Ch = [A](uint32_t C) { return (C * A + 127) / 255; };
    return (A << 24) | (Ch((P >> 16) & 255) << 16) | (Ch((P >> 8) & 255) << 8) | Ch(P & 255);
}

void RunPixman(benchmark::State& State, bool Master)
{
    const TFrames& F = Frames();
    const int Width = F.Width, Height = F.Height;
    std::vector<uint32_t> Src(F.Src.size()), Dst(F.Dst.size());
    for (size_t I = 0; I < Src.size(); ++I) {
        Src[I] = Premultiply(F.Src[I]);
        Dst[I] = Premultiply(F.Dst[I]);
    }
    pixman_image_t* SrcImage = pixman_image_create_bits(PIXMAN_a8r8g8b8, Width, Height, Src.data(), Width * 4);
    pixman_image_t* DstImage = pixman_image_create_bits(PIXMAN_a8r8g8b8, Width, Height, Dst.data(), Width * 4);
    pixman_image_t* Mask = nullptr;
    if (Master) {
        pixman_color_t C{0, 0, 0, uint16_t(MasterAlpha * 257)};
        Mask = pixman_image_create_solid_fill(&C);
    }
    for (auto _ : State) {
        pixman_image_composite32(PIXMAN_OP_OVER, SrcImage, Mask, DstImage, 0, 0, 0, 0, 0, 0, Width, Height);
        benchmark::DoNotOptimize(Dst.data());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(Width) * Height);
    if (Mask)
        pixman_image_unref(Mask);
    pixman_image_unref(DstImage);
    pixman_image_unref(SrcImage);
}

void BM_BlendRun_Pixman(benchmark::State& S) { RunPixman(S, false); }
void BM_BlendRunMaster_Pixman(benchmark::State& S) { RunPixman(S, true); }
BENCHMARK(BM_BlendRun_Pixman)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendRunMaster_Pixman)->Unit(benchmark::kMillisecond);
void BM_BlendRun_12MP_Pixman(benchmark::State& S)
{
    Big = true;
    RunPixman(S, false);
    Big = false;
}
BENCHMARK(BM_BlendRun_12MP_Pixman)->Unit(benchmark::kMillisecond);

#endif

// The name of the set the processor test chose.
const char* SetName()
{
    if (!MmxActive())
        return "scalar";
    if (&BlendRoutines() == Avx512BlendRoutines())
        return "AVX-512";
    return &BlendRoutines() == Avx2BlendRoutines() ? "AVX2" : "SSE2";
}

void PrintRatio(const TRatioReporter& Reporter, const std::string& Routine)
{
    double Ours = Reporter.Median("BM_" + Routine + "_Kelvane");
    double Theirs = Reporter.Median("BM_" + Routine + "_Pixman");
    if (Ours <= 0 || Theirs <= 0)
        return;
    std::printf("%s: pixman / kelvane throughput ratio %.2f (kelvane %.3f ms, pixman %.3f ms per frame, %s set, "
                "one thread each, both into held memory)\n",
                Routine.c_str(), Theirs / Ours, Ours, Theirs, SetName());
}

} // namespace

int main(int argc, char** argv)
{
    const auto PrintRatios = [](const TRatioReporter& Reporter) {
        PrintRatio(Reporter, "BlendRun");
        PrintRatio(Reporter, "BlendRunMaster");
        PrintRatio(Reporter, "BlendRun_12MP");
        for (const char* Size : {"", "_12MP"}) {
            const double Copy = Reporter.Median(std::string("BM_Memcpy") + Size);
            const double Ours = Reporter.Median(std::string("BM_BlendRun") + Size + "_Kelvane");
            if (Copy > 0 && Ours > 0)
                std::printf("BlendRun%s: pixel rate / memcpy pixel rate %.2f (memcpy %.3f ms per frame, one thread "
                            "each, both into held memory)%s\n",
                            Size, Copy / Ours, Copy, *Size && Copy / Ours < 0.6 ? "  BELOW 0.6" : "");
        }
#ifndef KV_HAVE_PIXMAN
        std::printf("pixman not found at configure time: no ratio\n");
#endif
    };
    return RunBenchmarks(argc, argv, PrintRatios, 9);
}
