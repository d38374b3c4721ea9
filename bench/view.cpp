// Repaint of the image view's viewport over a 4000 x 3000 background with five blended
// bitmap layers (two of them with master alpha below 255), at scales 1.0, 0.5 and 4.0
// with bilinear interpolation, in viewports of 1920 x 1080 and 3840 x 2160, against
// pixman compositing the same pictures into the same viewport. Prints pixman's time
// divided by ours (above 1: we are faster).
//
// Why the comparison is fair: both sides start from the same pixels and produce one full
// viewport per iteration: the background resampled into the part of the viewport it covers,
// then each layer resampled and blended over it at its place. Ours runs the view's own
// paint stages (clear background, draw bitmap, draw layers) into its back buffer; pixman
// gets the same source rectangles through its transforms with its bilinear filter and
// OVER with a solid mask for the master alpha. pixman composites premultiplied pixels,
// so its copies of the layers are premultiplied once before timing, as a pixman-based
// program would keep them. Neither side's time includes showing the buffer on screen.
// The pictures are made in memory (the photograph stand-in of bench/OpenInputs.h for the
// background), not read from files: a repaint does not depend on who wrote them.
//
// Like with like (see bench/BenchReporter.h): a "first" line per job, ours with its back
// buffer dropped and every held block given back (the view then takes a new buffer, as
// on its first paint at a new size, with the few pixels of slack it keeps) and pixman
// into a block mapped for that iteration; and a "repeated" line, both into the buffer
// held from the previous repaint. Both sides run on one thread (the view's paint starts
// none), so no one-core line is needed.
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"

#include "bench/BenchReporter.h"
#include "bench/OpenInputs.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
using kvbench::TMemoryState;
using kvbench::TOffscreenApplication;
using kvbench::TRatioReporter;

namespace {

constexpr int BarSize = 16;
constexpr int BackW = 4000, BackH = 3000;
constexpr int LayerCount = 5;
constexpr uint32_t LayerAlpha[LayerCount] = {255, 255, 255, 200, 128};
const TSingleRect LayerPlace[LayerCount] = {{1300, 900, 2500, 1800},
                                            {1900, 1300, 2900, 2050},
                                            {1500, 1400, 2300, 2000},
                                            {1700, 1000, 2700, 1750},
                                            {1000, 1200, 3000, 2200}};
const float Scales[3] = {1.0f, 0.5f, 4.0f};
const TSize Viewports[2] = {{1920, 1080}, {3840, 2160}};

class TBenchView : public TImgView32 {
public:
    void RepaintBuffer()
    {
        Invalidate();
        ResizeBuffer();
        DoPaintBuffer();
    }
};

void FillBackground(TBitmap32& B)
{
    const std::vector<uint8_t> Rgb = kvbench::PhotoPixels(BackW, BackH, 7);
    for (int Y = 0; Y < B.Height(); ++Y)
        for (int X = 0; X < B.Width(); ++X) {
            const uint8_t* P = &Rgb[(size_t(Y) * BackW + size_t(X)) * 3];
            B.SetPixelFast(X, Y, 0xFF000000u | (uint32_t(P[0]) << 16) | (uint32_t(P[1]) << 8) | P[2]);
        }
}

void FillLayer(TBitmap32& B, int Seed)
{
    std::mt19937 Rng(Seed);
    for (int Y = 0; Y < B.Height(); ++Y)
        for (int X = 0; X < B.Width(); ++X) {
            const uint32_t A = ((X + Y) / 8 % 3 == 0) ? 255 : ((X / 16 + Y / 16) % 2 ? 0 : 96 + Rng() % 128);
            B.SetPixelFast(X, Y, (A << 24) | (Rng() & 0xFFFFFF));
        }
}

struct TScene {
    std::unique_ptr<TBenchView> View;
    TScene()
    {
        View = std::make_unique<TBenchView>();
        View->ScrollBars()->SetSize(BarSize);
        View->Bitmap()->SetSize(BackW, BackH);
        FillBackground(*View->Bitmap());
        View->Bitmap()->SetStretchFilter(sfLinear);
        for (int I = 0; I < LayerCount; ++I) {
            auto* L = View->Layers()->Add<TBitmapLayer>();
            const TSingleRect& P = LayerPlace[I];
            L->Bitmap()->SetSize(int(P.Right - P.Left), int(P.Bottom - P.Top));
            FillLayer(*L->Bitmap(), I + 1);
            L->Bitmap()->SetDrawMode(dmBlend);
            L->Bitmap()->SetMasterAlpha(LayerAlpha[I]);
            L->Bitmap()->SetStretchFilter(sfLinear);
            L->SetPlacement(P);
            L->SetScaleWithView(true);
        }
    }
};

TScene& Scene()
{
    static TScene S;
    return S;
}

// The shared view at a job's viewport, scale and scroll position.
TBenchView& PlaceView(TSize Viewport, float Scale)
{
    TBenchView& V = *Scene().View;
    V.SetBounds(0, 0, Viewport.cx + BarSize, Viewport.cy + BarSize);
    V.SetScale(Scale);
    V.ScrollToCenter(BackW / 2, BackH / 2);
    V.UpdateViewMapping();
    return V;
}

void BM_View_Kelvane(benchmark::State& State, TSize Viewport, float Scale, TMemoryState Mem)
{
    TBenchView& V = PlaceView(Viewport, Scale);
    V.RepaintBuffer(); // untimed: the first timed repaint of the repeated line finds its buffer held
    for (auto _ : State) {
        if (Mem == TMemoryState::First) {
            State.PauseTiming();
            V.Buffer()->SetSize(0, 0);
            kvbench::DropHeldMemory();
            State.ResumeTiming();
        }
        V.RepaintBuffer();
        benchmark::DoNotOptimize(V.Buffer()->Bits());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(Viewport.cx) * Viewport.cy);
}

#ifdef KV_HAVE_PIXMAN

uint32_t Premultiply(uint32_t P)
{
    const uint32_t A = P >> 24;
    auto Ch = [A](uint32_t C) { return (C * A + 127) / 255; };
    return (A << 24) | (Ch((P >> 16) & 255) << 16) | (Ch((P >> 8) & 255) << 8) | Ch(P & 255);
}

struct TPixmanLayer {
    std::vector<uint32_t> Pixels;
    pixman_image_t* Image = nullptr;
    pixman_image_t* Mask = nullptr;
    int W = 0, H = 0;
};

// Composites what the view shows at its current scale and scroll position: the same
// rectangles the view's mapping gives, each source scaled onto its rectangle.
void Compose(pixman_image_t* Dst, TSize Viewport, pixman_image_t* Back, std::vector<TPixmanLayer>& Layers,
             TBenchView& V)
{
    auto Place = [Dst, Viewport](pixman_image_t* Src, pixman_image_t* Mask, pixman_op_t Op, int SrcW, int SrcH,
                                 TRect R) {
        const double Sx = double(SrcW) / (R.Right - R.Left), Sy = double(SrcH) / (R.Bottom - R.Top);
        pixman_transform_t T;
        pixman_transform_init_scale(&T, pixman_double_to_fixed(Sx), pixman_double_to_fixed(Sy));
        pixman_image_set_transform(Src, &T);
        const int X0 = std::max(0, R.Left), Y0 = std::max(0, R.Top);
        const int X1 = std::min(Viewport.cx, R.Right), Y1 = std::min(Viewport.cy, R.Bottom);
        if (X1 <= X0 || Y1 <= Y0)
            return;
        pixman_image_composite32(Op, Src, Mask, Dst, X0 - R.Left, Y0 - R.Top, 0, 0, X0, Y0, X1 - X0, Y1 - Y0);
    };
    Place(Back, nullptr, PIXMAN_OP_SRC, BackW, BackH, V.GetBitmapRect());
    for (int I = 0; I < LayerCount; ++I) {
        auto* L = static_cast<TBitmapLayer*>(V.Layers()->Items(I));
        const TSingleRect P = L->GetViewPlacement();
        Place(Layers[I].Image, Layers[I].Mask, PIXMAN_OP_OVER, Layers[I].W, Layers[I].H,
              TRect{int(std::lround(P.Left)), int(std::lround(P.Top)), int(std::lround(P.Right)),
                    int(std::lround(P.Bottom))});
    }
}

void BM_View_Pixman(benchmark::State& State, TSize Viewport, float Scale, TMemoryState Mem)
{
    TBenchView& V = PlaceView(Viewport, Scale);
    TBitmap32* B = V.Bitmap();
    pixman_image_t* Back = pixman_image_create_bits(PIXMAN_a8r8g8b8, BackW, BackH, B->Bits(), BackW * 4);
    pixman_image_set_filter(Back, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    std::vector<TPixmanLayer> Layers(LayerCount);
    for (int I = 0; I < LayerCount; ++I) {
        TBitmap32* LB = static_cast<TBitmapLayer*>(V.Layers()->Items(I))->Bitmap();
        TPixmanLayer& L = Layers[I];
        L.W = LB->Width();
        L.H = LB->Height();
        L.Pixels.assign(LB->Bits(), LB->Bits() + size_t(L.W) * L.H);
        for (auto& P : L.Pixels)
            P = Premultiply(P);
        L.Image = pixman_image_create_bits(PIXMAN_a8r8g8b8, L.W, L.H, L.Pixels.data(), L.W * 4);
        pixman_image_set_filter(L.Image, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        if (LayerAlpha[I] < 255) {
            pixman_color_t C{0, 0, 0, uint16_t(LayerAlpha[I] * 257)};
            L.Mask = pixman_image_create_solid_fill(&C);
        }
    }
    kvbench::TReferenceTarget Target(size_t(Viewport.cx) * size_t(Viewport.cy) * 4, Mem);
    for (auto _ : State) {
        State.PauseTiming();
        uint32_t* Out = reinterpret_cast<uint32_t*>(Target.Next());
        State.ResumeTiming();
        pixman_image_t* Dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, Viewport.cx, Viewport.cy, Out, Viewport.cx * 4);
        Compose(Dst, Viewport, Back, Layers, V);
        benchmark::DoNotOptimize(Out);
        benchmark::ClobberMemory();
        pixman_image_unref(Dst);
    }
    State.SetItemsProcessed(State.iterations() * int64_t(Viewport.cx) * Viewport.cy);
    for (auto& L : Layers) {
        if (L.Mask)
            pixman_image_unref(L.Mask);
        pixman_image_unref(L.Image);
    }
    pixman_image_unref(Back);
}

#endif

std::string LineName(TSize Viewport, float Scale, TMemoryState Mem)
{
    char Name[64];
    std::snprintf(Name, sizeof Name, "View_%dx%d_scale%.1f_%s", Viewport.cx, Viewport.cy, double(Scale),
                  kvbench::StateName(Mem));
    return Name;
}

void Register()
{
    for (TSize Viewport : Viewports)
        for (float Scale : Scales)
            for (TMemoryState Mem : {TMemoryState::First, TMemoryState::Repeated}) {
                const std::string Name = LineName(Viewport, Scale, Mem);
                benchmark::RegisterBenchmark((Name + "/Kelvane").c_str(), [=](benchmark::State& S) {
                    BM_View_Kelvane(S, Viewport, Scale, Mem);
                })->Unit(benchmark::kMillisecond);
#ifdef KV_HAVE_PIXMAN
                benchmark::RegisterBenchmark((Name + "/Pixman").c_str(), [=](benchmark::State& S) {
                    BM_View_Pixman(S, Viewport, Scale, Mem);
                })->Unit(benchmark::kMillisecond);
#endif
            }
}

} // namespace

int main(int argc, char** argv)
{
    TOffscreenApplication App(argv[0]);
    Scene(); // the pictures are made before any timing
    Register();
    const int Result = RunBenchmarks(argc, argv, [](const TRatioReporter& Reporter) {
        for (TSize Viewport : Viewports)
            for (float Scale : Scales)
                for (TMemoryState Mem : {TMemoryState::First, TMemoryState::Repeated}) {
                    const std::string Name = LineName(Viewport, Scale, Mem);
                    kvbench::PrintComparison(Name, Reporter.MedianOf(Name + "/Kelvane"),
                                             Reporter.MedianOf(Name + "/Pixman"), 1, 1);
                }
#ifndef KV_HAVE_PIXMAN
        std::printf("pixman not found at configure time: no ratio\n");
#endif
    });
    Scene().View.reset();
    return Result;
}
