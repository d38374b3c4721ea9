// Repaint of the image view's 1920 x 1080 viewport over a 4000 x 3000 background with five
// blended bitmap layers (two of them with master alpha below 255), at scales 1.0, 0.5 and
// 4.0 with bilinear interpolation, against pixman compositing the same pictures into the
// same viewport. Prints pixman's time divided by ours (above 1: we are faster).
//
// Why the comparison is fair: both sides start from the same pixels and produce one full
// viewport per iteration: the background resampled into the part of the viewport it covers,
// then each layer resampled and blended over it at its place, single-threaded. Ours runs the
// view's own paint stages (clear background, draw bitmap, draw layers) into its back buffer;
// pixman gets the same source rectangles through its transforms with its bilinear filter
// and OVER with a solid mask for the master alpha. pixman composites premultiplied pixels,
// so its copies of the layers are premultiplied once before timing, as a pixman-based
// program would keep them. Neither side's time includes showing the buffer on screen.
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"

#include "bench/BenchReporter.h"

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
using kvbench::TOffscreenApplication;
using kvbench::TRatioReporter;

namespace {

constexpr int ViewW = 1920, ViewH = 1080, BarSize = 16;
constexpr int BackW = 4000, BackH = 3000;
constexpr int LayerCount = 5;
constexpr uint32_t LayerAlpha[LayerCount] = {255, 255, 255, 200, 128};
const TSingleRect LayerPlace[LayerCount] = {{1300, 900, 2500, 1800},
                                            {1900, 1300, 2900, 2050},
                                            {1500, 1400, 2300, 2000},
                                            {1700, 1000, 2700, 1750},
                                            {1000, 1200, 3000, 2200}};
const float Scales[3] = {1.0f, 0.5f, 4.0f};

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
    std::mt19937 Rng(7);
    for (int Y = 0; Y < B.Height(); ++Y)
        for (int X = 0; X < B.Width(); ++X)
            B.SetPixelFast(X, Y, 0xFF000000u | ((X * 255 / BackW) << 16) | ((Y * 255 / BackH) << 8) | (Rng() & 0xFF));
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
        View->SetBounds(0, 0, ViewW + BarSize, ViewH + BarSize);
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

void BM_View_Kelvane(benchmark::State& State)
{
    TBenchView& V = *Scene().View;
    V.SetScale(Scales[State.range(0)]);
    V.ScrollToCenter(BackW / 2, BackH / 2);
    for (auto _ : State) {
        V.RepaintBuffer();
        benchmark::DoNotOptimize(V.Buffer()->Bits());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(ViewW) * ViewH);
}
BENCHMARK(BM_View_Kelvane)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

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
void Compose(pixman_image_t* Dst, pixman_image_t* Back, std::vector<TPixmanLayer>& Layers, TBenchView& V)
{
    auto Place = [Dst](pixman_image_t* Src, pixman_image_t* Mask, pixman_op_t Op, int SrcW, int SrcH, TRect R) {
        const double Sx = double(SrcW) / (R.Right - R.Left), Sy = double(SrcH) / (R.Bottom - R.Top);
        pixman_transform_t T;
        pixman_transform_init_scale(&T, pixman_double_to_fixed(Sx), pixman_double_to_fixed(Sy));
        pixman_image_set_transform(Src, &T);
        const int X0 = std::max(0, R.Left), Y0 = std::max(0, R.Top);
        const int X1 = std::min(ViewW, R.Right), Y1 = std::min(ViewH, R.Bottom);
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

void BM_View_Pixman(benchmark::State& State)
{
    TBenchView& V = *Scene().View;
    V.SetScale(Scales[State.range(0)]);
    V.ScrollToCenter(BackW / 2, BackH / 2);
    V.UpdateViewMapping();
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
    std::vector<uint32_t> Out(size_t(ViewW) * ViewH);
    pixman_image_t* Dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, ViewW, ViewH, Out.data(), ViewW * 4);
    for (auto _ : State) {
        Compose(Dst, Back, Layers, V);
        benchmark::DoNotOptimize(Out.data());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(ViewW) * ViewH);
    pixman_image_unref(Dst);
    for (auto& L : Layers) {
        if (L.Mask)
            pixman_image_unref(L.Mask);
        pixman_image_unref(L.Image);
    }
    pixman_image_unref(Back);
}
BENCHMARK(BM_View_Pixman)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

#endif

} // namespace

int main(int argc, char** argv)
{
    TOffscreenApplication App(argv[0]);
    const int Result = RunBenchmarks(argc, argv, [](const TRatioReporter& Reporter) {
        double OursTotal = 0, TheirsTotal = 0;
        for (int I = 0; I < 3; ++I) {
            const double Ours = Reporter.Median("BM_View_Kelvane/" + std::to_string(I));
            const double Theirs = Reporter.Median("BM_View_Pixman/" + std::to_string(I));
            if (Ours <= 0 || Theirs <= 0)
                continue;
            OursTotal += Ours;
            TheirsTotal += Theirs;
            std::printf("scale %.1f: pixman / kelvane ratio %.2f (kelvane %.2f ms, pixman %.2f ms per repaint)\n",
                        Scales[I], Theirs / Ours, Ours, Theirs);
        }
        if (OursTotal > 0)
            std::printf("view repaint, all three scales: pixman / kelvane ratio %.2f\n", TheirsTotal / OursTotal);
#ifndef KV_HAVE_PIXMAN
        std::printf("pixman not found at configure time: no ratio\n");
#endif
    });
    Scene().View.reset();
    return Result;
}
