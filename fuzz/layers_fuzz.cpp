// Random layer records stacked on an image, then rendered, hit-tested and dragged with
// the rubber band. Placements come straight from the input's bits, so NaN, infinities,
// huge and inverted rectangles all reach the layer code.
//
// Input: header (background width, height, scale byte, view flags, two offsets), then
// records of 23 bytes (kind, four little-endian floats for the placement, master alpha,
// option bits, bitmap width and height, two spare bytes) while they last, then the bytes
// of the render rectangle and of the drag.
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_RotLayer.h"

#include <QApplication>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace kv;

namespace {

class Reader {
public:
    Reader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
    bool Left(size_t N) const { return FSize - FPos >= N; }
    uint8_t Byte() { return Left(1) ? FData[FPos++] : 0; }
    float Single()
    {
        uint32_t Bits = 0;
        for (int I = 0; I < 4; ++I)
            Bits |= uint32_t(Byte()) << (8 * I);
        float F;
        std::memcpy(&F, &Bits, 4);
        return F;
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FPos = 0;
};

// The application object lives for the whole process and is deliberately never
// destroyed: tearing it down from an exit handler, after Qt's own statics, crashes.
void EnsureApplication()
{
    if (QApplication::instance())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int Argc = 1;
    static char Name[] = "layers_fuzz";
    static char* Argv[] = {Name, nullptr};
    static QApplication* App = new QApplication(Argc, Argv);
    (void)App;
}

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
    Img.Bitmap()->SetSize(1 + R.Byte() % 64, 1 + R.Byte() % 64);
    Fill(Img.Bitmap(), 1);
    const uint8_t ScaleByte = R.Byte(), ViewFlags = R.Byte();
    Img.SetScaleMode(TScaleMode(ViewFlags % 4));
    Img.SetBitmapAlign(TBitmapAlign((ViewFlags >> 2) % 4));
    Img.SetScale(ScaleByte / 16.0f);
    Img.SetOffsetHorz(float(int8_t(R.Byte())));
    Img.SetOffsetVert(float(int8_t(R.Byte())));
    if (ViewFlags & 0x10)
        Img.Bitmap()->SetDrawMode(dmBlend);
    Img.Bitmap()->SetStretchFilter(TStretchFilter((ViewFlags >> 5) % 4));

    TPositionedLayer* FirstPositioned = nullptr;
    int Count = 0;
    while (R.Left(23) && Count++ < 16) {
        const uint8_t Kind = R.Byte();
        TSingleRect P{R.Single(), R.Single(), R.Single(), R.Single()};
        const uint8_t Alpha = R.Byte(), Opt = R.Byte(), BW = R.Byte() % 32, BH = R.Byte() % 32;
        R.Byte();
        R.Byte();
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
    Img.RenderTo(&Dest, TRect{int8_t(R.Byte()), int8_t(R.Byte()), int8_t(R.Byte()), int8_t(R.Byte())});
    Img.RenderTo(&Dest, Img.GetBitmapRect());
    for (int32_t Y = -8; Y < 56; Y += 7)
        for (int32_t X = -8; X < 72; X += 9) {
            Img.Layers()->FindLayerAtPos(X, Y, 0xFFFFFFFF);
            Img.ViewToBitmap({X * 1000, Y * 1000});
        }

    auto* Band = Img.Layers()->Add<TRubberbandLayer>();
    Band->SetTarget(FirstPositioned);
    const int32_t X0 = int8_t(R.Byte()), Y0 = int8_t(R.Byte());
    Img.SimulateMouseDown(mbLeft, ssLeft, X0, Y0);
    for (int I = 0; I < 4; ++I)
        Img.SimulateMouseMove(ssLeft, X0 + int8_t(R.Byte()), Y0 + int8_t(R.Byte()));
    Img.SimulateMouseUp(mbLeft, 0, X0, Y0);
    if (R.Byte() & 1)
        delete FirstPositioned; // the band must forget it
    Img.SimulateMouseDown(mbLeft, ssLeft, X0, Y0);
    Img.SimulateMouseMove(ssLeft, X0 + 5, Y0 + 5);
    Img.SimulateMouseUp(mbLeft, 0, X0 + 5, Y0 + 5);
    Img.RenderTo(&Dest, TRect{0, 0, 48, 40});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    EnsureApplication();
    Reader R(Data, Size);
    try {
        Run(R);
    } catch (const Exception&) {
        // A refused size or rectangle is a clear error, not a crash.
    }
    return 0;
}
