// Random layer records stacked on an image, then rendered, hit-tested and dragged with
// the rubber band. Placements come straight from the input's bits, so NaN, infinities,
// huge and inverted rectangles all reach the layer code.
//
// Input: header (background width, height, scale byte, view flags, two offsets), then
// records of 23 bytes (kind, four little-endian floats for the placement, master alpha,
// option bits, bitmap width and height, two spare bytes) while they last, then the bytes
// of the render rectangle and of the drag.
#include "fuzz/FuzzCommon.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_RotLayer.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace kv;

namespace {

using Reader = fuzz::TInputReader;

void Fill(TBitmap32* B, uint8_t Seed)
{
    for (int32_t Y = 0; Y < B->Height(); ++Y)
        for (int32_t X = 0; X < B->Width(); ++X)
            B->SetPixelFast(X, Y, (uint32_t(Seed * 37 + X * 11) << 24) | uint32_t(X * 7919 + Y * 104729 + Seed));
}

void Run(Reader& R)
{
    TImage32 Img;
    Img.SetBounds(0, 0, 64, 48);
    Img.Bitmap()->SetSize(1 + R.Next8() % 64, 1 + R.Next8() % 64);
    Fill(Img.Bitmap(), 1);
    const uint8_t ScaleByte = R.Next8(), ViewFlags = R.Next8();
    Img.SetScaleMode(TScaleMode(ViewFlags % 4));
    Img.SetBitmapAlign(TBitmapAlign((ViewFlags >> 2) % 4));
    Img.SetScale(ScaleByte / 16.0f);
    Img.SetOffsetHorz(float(int8_t(R.Next8())));
    Img.SetOffsetVert(float(int8_t(R.Next8())));
    if (ViewFlags & 0x10)
        Img.Bitmap()->SetDrawMode(dmBlend);
    Img.Bitmap()->SetStretchFilter(TStretchFilter((ViewFlags >> 5) % 4));

    TPositionedLayer* FirstPositioned = nullptr;
    int Count = 0;
    while (R.Left(23) && Count++ < 16) {
        const uint8_t Kind = R.Next8();
        TSingleRect P{R.NextRawFloat(), R.NextRawFloat(), R.NextRawFloat(), R.NextRawFloat()};
        const uint8_t Alpha = R.Next8(), Opt = R.Next8(), BW = R.Next8() % 32, BH = R.Next8() % 32;
        R.Next8();
        R.Next8();
        switch (Kind % 3) {
        case 0: {
            auto* L = Img.Layers()->Add<TBitmapLayer>();
            L->Bitmap()->SetSize(BW, BH);
            Fill(L->Bitmap(), Alpha);
            L->Bitmap()->SetDrawMode(TDrawMode(Opt % 2));
            L->Bitmap()->SetMasterAlpha(Alpha);
            L->Bitmap()->SetStretchFilter(TStretchFilter((Opt >> 1) % 4));
            L->SetPlacement(P);
            L->SetScaleWithView(Opt & 0x08);
            L->SetHitByAlpha(Opt & 0x10);
            L->SetClipToImage(Opt & 0x20);
            if (!FirstPositioned)
                FirstPositioned = L;
            break;
        }
        case 1: {
            auto* L = Img.Layers()->Add<TRubberbandLayer>();
            L->SetPlacement(P);
            L->SetHandleSize(Opt % 8);
            L->SetMinWidth(P.Left);
            L->SetMaxWidth(P.Right);
            break;
        }
        default: {
            auto* L = Img.Layers()->Add<TRotLayer>();
            L->Bitmap()->SetSize(BW, BH);
            Fill(L->Bitmap(), Alpha);
            L->Bitmap()->SetDrawMode(TDrawMode(Opt % 2));
            L->Bitmap()->SetStretchFilter(TStretchFilter((Opt >> 1) % 4));
            L->SetAngle(P.Left);
            L->SetOrigin({P.Top, P.Right});
            L->SetPivot({P.Bottom, float(Alpha)});
            L->SetScaleWithView(Opt & 0x08);
            L->SetHitByAlpha(Opt & 0x10);
            break;
        }
        }
    }

    TBitmap32 Dest;
    Dest.SetSize(48, 40);
    Img.RenderTo(&Dest, TRect{int8_t(R.Next8()), int8_t(R.Next8()), int8_t(R.Next8()), int8_t(R.Next8())});
    Img.RenderTo(&Dest, Img.GetBitmapRect());
    for (int32_t Y = -8; Y < 56; Y += 7)
        for (int32_t X = -8; X < 72; X += 9) {
            Img.Layers()->FindLayerAtPos(X, Y, 0xFFFFFFFF);
            Img.ViewToBitmap({X * 1000, Y * 1000});
        }

    auto* Band = Img.Layers()->Add<TRubberbandLayer>();
    Band->SetTarget(FirstPositioned);
    const int32_t X0 = int8_t(R.Next8()), Y0 = int8_t(R.Next8());
    Img.SimulateMouseDown(mbLeft, ssLeft, X0, Y0);
    for (int I = 0; I < 4; ++I)
        Img.SimulateMouseMove(ssLeft, X0 + int8_t(R.Next8()), Y0 + int8_t(R.Next8()));
    Img.SimulateMouseUp(mbLeft, 0, X0, Y0);
    if (R.Next8() & 1)
        delete FirstPositioned; // the band must forget it
    Img.SimulateMouseDown(mbLeft, ssLeft, X0, Y0);
    Img.SimulateMouseMove(ssLeft, X0 + 5, Y0 + 5);
    Img.SimulateMouseUp(mbLeft, 0, X0 + 5, Y0 + 5);
    Img.RenderTo(&Dest, TRect{0, 0, 48, 40});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    fuzz::EnsureApplication("layers_fuzz");
    Reader R(Data, Size);
    try {
        Run(R);
    } catch (const Exception&) {
        // A refused size or rectangle is a clear error, not a crash.
    }
    return 0;
}
