// One frame of every transition at 1920 x 1080, beside a memcpy of one 1920 x 1080
// 32-bit frame in the same run: the physical floor of showing a frame at all. Prints
// memcpy / ours from the medians; a transition at 0.3 or more costs no more than about
// three frame copies, so playback keeps up with the timer. Both sides run on one thread
// and write into a frame they hold (the transition's frame bitmap, the copy's buffer,
// each written before timing starts), as a playing transition does every tick.
#include "imaging/Transitions.h"
#include "bench/BenchReporter.h"

#include <cstdio>
#include <cstring>

using namespace kv;

using kvbench::RunBenchmarks;
using kvbench::TOffscreenApplication;
using kvbench::TRatioReporter;

namespace {

constexpr int32_t W = 1920, H = 1080;

const char* const Names[TransitionTypeCount] = {
    "None",           "CrossDissolve",  "FadeOut",        "FadeIn",         "FadeOutIn",       "LeftRight1",
    "LeftRight2",     "RightLeft1",     "RightLeft2",     "UpDown1",        "UpDown2",         "DownUp1",
    "DownUp2",        "FromUpLeft",     "FromUpRight",    "FromBottomLeft", "FromBottomRight", "MoveLeftRight1",
    "MoveLeftRight2", "MoveRightLeft1", "MoveRightLeft2", "MoveUpDown1",    "MoveUpDown2",     "MoveDownUp1",
    "MoveDownUp2",    "RandomPoints",   "RandomBoxes",    "Center1",        "Center2",         "CenterZoom1",
    "CenterZoom2"};

struct TPictures {
    TBitmap Source, Target, Frame;
    TPictures()
    {
        uint32_t Seed = 1;
        for (TBitmap* B : {&Source, &Target, &Frame}) {
            B->SetPixelFormat(pf24bit);
            B->SetSize(W, H);
            for (int32_t Y = 0; Y < H; ++Y) {
                uint8_t* P = B->ScanLine(Y);
                for (int32_t I = 0; I < W * 3; ++I)
                    P[I] = uint8_t((Seed = Seed * 1103515245u + 12345u) >> 24);
            }
        }
    }
};

TPictures& Pictures()
{
    static TPictures P;
    return P;
}

// The frame at half way, as a tick of a one-second transition composes it: the random
// effects add only what the last millisecond made due.
void BM_Transition(benchmark::State& State)
{
    const auto Type = TIETransitionType(State.range(0));
    TPictures& P = Pictures();
    TTransitionState S;
    S.Source = &P.Source;
    S.Target = &P.Target;
    S.Frame = &P.Frame;
    S.Random.seed(3);
    ComposeTransitionFrame(Type, 0, S);
    ComposeTransitionFrame(Type, 511, S);
    const int32_t Before = S.RandomCount;
    for (auto _ : State) {
        S.RandomCount = Before;
        ComposeTransitionFrame(Type, 512, S);
        benchmark::DoNotOptimize(P.Frame.ScanLine(0));
    }
}

// The copy's two frames come from the allocator the bitmaps use, so that both sides run
// on pages of one size (it asks for large pages on blocks of a frame's size).
void BM_Memcpy(benchmark::State& State)
{
    const size_t Bytes = size_t(W) * H * 4;
    uint8_t* From = AllocPixelBuffer(W, H, int64_t(W) * 4, "memcpy source", TPixelFill::Overwritten);
    uint8_t* To = AllocPixelBuffer(W, H, int64_t(W) * 4, "memcpy target", TPixelFill::Overwritten);
    std::memset(From, 0x11, Bytes);
    std::memset(To, 0, Bytes);
    for (auto _ : State) {
        std::memcpy(To, From, Bytes);
        benchmark::DoNotOptimize(To);
    }
    FreePixelBuffer(To);
    FreePixelBuffer(From);
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transition)->DenseRange(iettCrossDissolve, TransitionTypeCount - 1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    TOffscreenApplication App(argv[0]);
    return RunBenchmarks(argc, argv, [](const TRatioReporter& R) {
        const double Floor = R.MedianOf("BM_Memcpy");
        double Worst = 1e9;
        for (int32_t T = iettCrossDissolve; T < TransitionTypeCount; ++T) {
            const double Ours = R.Median("BM_Transition/" + std::to_string(T));
            if (Ours <= 0 || Floor <= 0)
                continue;
            Worst = std::min(Worst, Floor / Ours);
            std::printf("%-16s memcpy / ours ratio %6.2f (ours %7.3f ms, memcpy %6.3f ms, one thread each)%s\n",
                        Names[T], Floor / Ours, Ours, Floor, Floor / Ours < 0.3 ? "  BELOW 0.3" : "");
        }
        if (Worst < 1e9)
            std::printf("worst transition: memcpy / ours ratio %.2f (required >= 0.3)\n", Worst);
    });
}
