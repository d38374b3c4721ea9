#include "raster/Raster32_Image.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Blend.h"

#include <QApplication>
#include <QImage>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cstring>

using namespace kv;

namespace {

QImage Grab(QWidget& W)
{
    QImage Img(W.size(), QImage::Format_RGB32);
    Img.fill(Qt::magenta);
    W.render(&Img);
    return Img;
}

uint32_t Rgb(const QImage& I, int X, int Y) { return I.pixel(X, Y) & 0xFFFFFFu; }

} // namespace

TEST(PaintStages, DefaultsAndAdd)
{
    TImage32 Img;
    TPaintStages* S = Img.PaintStages();
    ASSERT_EQ(S->Count(), 5);
    const uint32_t Expected[5][4] = {{1, 1, 3, 0}, {1, 0, 6, 0}, {1, 1, 4, 0}, {1, 0, 7, 0}, {1, 1, 5, 0x80000000u}};
    for (int I = 0; I < 5; ++I) {
        const TPaintStage* E = S->Items(I);
        EXPECT_EQ(E->DsgnTime, Expected[I][0]);
        EXPECT_EQ(E->RTTime, Expected[I][1]);
        EXPECT_EQ(E->Stage, Expected[I][2]);
        EXPECT_EQ(E->Parameter, Expected[I][3]);
    }
    // The entry layout: two Booleans, two bytes of alignment, code, parameter.
    uint8_t Bytes[12];
    std::memcpy(Bytes, S->Items(4), 12);
    EXPECT_EQ(Bytes[0], 1);
    EXPECT_EQ(Bytes[1], 1);
    EXPECT_EQ(Bytes[4], 5);
    EXPECT_EQ(Bytes[11], 0x80);
    const TPaintStage* A = S->Add();
    EXPECT_EQ(A->DsgnTime, 0);
    EXPECT_EQ(A->RTTime, 1);
    EXPECT_EQ(A->Stage, 0u);
    EXPECT_EQ(A->Parameter, 0u);
    EXPECT_THROW(S->Items(6), EListError);
}

TEST(Image32, ViewMappingAtSeveralScalesAndAlignments)
{
    TImage32 Img;
    Img.SetBounds(0, 0, 200, 200);
    // Empty bitmap: empty rectangle and the identity mapping.
    EXPECT_EQ(Img.GetBitmapRect(), (TRect{0, 0, 0, 0}));
    Img.UpdateViewMapping();
    EXPECT_EQ(Img.ViewMapping(), (TViewMapping{65536, 65536, 0, 0, 65536, 65536}));

    Img.Bitmap()->SetSize(50, 50);
    Img.SetBitmapAlign(baCustom);
    Img.SetOffsetHorz(10);
    Img.SetOffsetVert(10);
    Img.SetScaleMode(smScale);
    Img.SetScale(2);
    EXPECT_EQ(Img.GetBitmapRect(), (TRect{10, 10, 110, 110}));
    EXPECT_EQ(Img.ViewToBitmap({30, 30}), (TPoint{10, 10}));
    EXPECT_EQ(Img.ViewToBitmap({11, 11}), (TPoint{0, 0}));
    EXPECT_EQ(Img.ViewToBitmap({9, 9}), (TPoint{0, 0})); // truncation toward zero
    EXPECT_EQ(Img.ViewMapping().ScaleX, 131072);
    EXPECT_EQ(Img.ViewMapping().RevScaleX, 32768);
    EXPECT_EQ(Img.ViewMapping().ShiftY, 10);

    Img.SetScale(0);
    EXPECT_FLOAT_EQ(Img.Scale(), 0.001f);

    Img.SetBounds(0, 0, 100, 100);
    Img.Bitmap()->SetSize(200, 100);
    Img.SetScaleMode(smResize);
    EXPECT_EQ(Img.GetBitmapSize(), (TSize{100, 50}));
    Img.SetBitmapAlign(baCenter);
    EXPECT_EQ(Img.GetBitmapRect(), (TRect{0, 25, 100, 75}));
    Img.SetScaleMode(smStretch);
    EXPECT_EQ(Img.GetBitmapRect(), (TRect{0, 0, 100, 100}));
    Img.SetScaleMode(smNormal);
    EXPECT_EQ(Img.GetBitmapRect(), (TRect{-50, 0, 150, 100}));
    Img.UpdateViewMapping();
    EXPECT_EQ(Img.ViewToBitmap({-50, 0}), (TPoint{0, 0}));
}

TEST(Image32, OnePercentZoomDoesNotWrap)
{
    TImage32 Img;
    Img.SetBounds(0, 0, 500, 100);
    Img.Bitmap()->SetSize(10000, 100);
    Img.SetScaleMode(smScale);
    Img.SetScale(0.01f);
    EXPECT_EQ(Img.GetBitmapRect(), (TRect{0, 0, 100, 1}));
    EXPECT_EQ(Img.ViewToBitmap({400, 0}), (TPoint{40000, 0}));
    EXPECT_EQ(Img.ViewMapping().RevScaleX, 6553600);
    EXPECT_EQ(Img.ViewToBitmap({-400, 0}), (TPoint{-40000, 0}));
}

TEST(Image32, UpdateCountAndNotifications)
{
    TImage32 Img;
    int Changes = 0;
    Img.OnChange = [&](TObject*) { ++Changes; };
    try {
        Img.EndUpdate();
        FAIL();
    } catch (const EAssertionFailed& E) {
        EXPECT_EQ(E.Message(), "Unpaired EndUpdate call");
    }
    EXPECT_EQ(Img.UpdateCount(), 0);
    Img.Changed();
    EXPECT_EQ(Changes, 1); // the count was not left at -1

    Img.BeginUpdate();
    Img.Bitmap()->SetSize(4, 4);
    EXPECT_EQ(Changes, 1);
    Img.EndUpdate();
    EXPECT_EQ(Changes, 1); // EndUpdate calls nothing

    Img.SetBitmapAlign(baTopLeft);
    EXPECT_EQ(Changes, 1); // the same value fires nothing
    Img.SetBitmapAlign(baCenter);
    EXPECT_EQ(Changes, 2);
    Img.Layers()->Add<TPositionedLayer>();
    EXPECT_EQ(Changes, 3);
}

TEST(Image32, RenderToBlendsLayersExactly)
{
    TImage32 Img;
    Img.Bitmap()->SetSize(1, 1);
    Img.Bitmap()->ClearTo(0xFF0000FF);
    auto* L = Img.Layers()->Add<TBitmapLayer>();
    L->Bitmap()->SetSize(1, 1);
    L->Bitmap()->ClearTo(0xFFFF0000);
    L->Bitmap()->SetDrawMode(dmBlend);
    L->Bitmap()->SetMasterAlpha(128);
    L->SetPlacement({0, 0, 1, 1});
    TBitmap32 Dest;
    Dest.SetSize(1, 1);
    Img.RenderTo(&Dest, {0, 0, 1, 1});
    // 127 of red over 128 of blue; alpha as the active blend set mixes it.
    EXPECT_EQ(Dest.GetPixelFast(0, 0) & 0xFFFFFF, 0x7F0080u);
    EXPECT_EQ(Dest.GetPixelFast(0, 0), BlendRoutines().BlendPixelMaster(0xFFFF0000, 0xFF0000FF, 128));
    EXPECT_FALSE(Img.RenderingTo());
    EXPECT_FALSE(Img.CacheValid());

    TImage32 Four;
    Four.Bitmap()->SetSize(2, 2);
    const TColor32 C[4] = {0xFF112233, 0xFF445566, 0xFF778899, 0xFFAABBCC};
    for (int I = 0; I < 4; ++I)
        Four.Bitmap()->SetPixelFast(I % 2, I / 2, C[I]);
    TBitmap32 Big;
    Big.SetSize(4, 4);
    Four.RenderTo(&Big, {0, 0, 4, 4});
    for (int Y = 0; Y < 4; ++Y)
        for (int X = 0; X < 4; ++X)
            EXPECT_EQ(Big.GetPixelFast(X, Y), C[(Y / 2) * 2 + X / 2]) << X << "," << Y;
}

TEST(Image32, DefaultStagesPaintBitmapAndMargins)
{
    TImage32 Img;
    Img.SetBounds(0, 0, 40, 30);
    Img.SetColor(clRed);
    Img.Bitmap()->SetSize(10, 10);
    Img.Bitmap()->ClearTo(0xFF00FF00);
    Img.SetBitmapAlign(baCenter);
    QImage Shot = Grab(Img);
    EXPECT_EQ(Rgb(Shot, 0, 0), 0xFF0000u);
    EXPECT_EQ(Rgb(Shot, 15, 10), 0x00FF00u);
    EXPECT_EQ(Rgb(Shot, 24, 19), 0x00FF00u);
    EXPECT_EQ(Rgb(Shot, 25, 19), 0xFF0000u);
    EXPECT_EQ(Rgb(Shot, 39, 29), 0xFF0000u);

    // A blended bitmap has the whole buffer cleared first: its transparent pixels show the colour.
    Img.Bitmap()->ClearTo(0x00000000);
    Img.Bitmap()->SetDrawMode(dmBlend);
    Shot = Grab(Img);
    EXPECT_EQ(Rgb(Shot, 20, 15), 0xFF0000u);

    // A stage that runs neither at design nor at run time never runs.
    int Custom = 0;
    Img.OnPaintStage = [&](TObject*, TBitmap32*, uint32_t) { ++Custom; };
    TPaintStage* S = Img.PaintStages()->Add();
    S->Stage = PST_CUSTOM;
    S->RTTime = 0;
    Img.Invalidate();
    Grab(Img);
    EXPECT_EQ(Custom, 0);
    S->RTTime = 1;
    Img.Invalidate();
    Grab(Img);
    EXPECT_EQ(Custom, 1);
}

TEST(Image32, MouseRoutingToLayers)
{
    TImage32 Img;
    Img.SetBounds(0, 0, 100, 100);
    auto* L = Img.Layers()->Add<TPositionedLayer>();
    L->SetPlacement({10, 10, 50, 50});
    TCustomLayer* Seen = nullptr;
    Img.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer* Layer) { Seen = Layer; };
    Img.SimulateMouseDown(mbLeft, ssLeft, 20, 20);
    EXPECT_EQ(Seen, L);
    EXPECT_TRUE(Img.MouseCapture());
    EXPECT_EQ(Img.Layers()->MouseListener(), L);
    Img.SimulateMouseUp(mbLeft, 0, 20, 20);
    EXPECT_FALSE(Img.MouseCapture());
    Img.SimulateMouseDown(mbLeft, ssLeft, 80, 80);
    EXPECT_EQ(Seen, nullptr);
    Img.Layers()->SetMouseEvents(false);
    Img.SimulateMouseDown(mbLeft, ssLeft, 20, 20);
    EXPECT_EQ(Seen, nullptr);
}

TEST(Image32, DestroyingFiresNoHandler)
{
    int Calls = 0;
    {
        auto Img = std::make_unique<TImgView32>();
        Img->Bitmap()->SetSize(20, 20);
        Img->Layers()->Add<TBitmapLayer>()->Bitmap()->SetSize(5, 5);
        Img->OnChange = [&](TObject*) { ++Calls; };
        Img->OnBitmapResize = [&](TObject*) { ++Calls; };
        Img->OnScroll = [&](TObject*) { ++Calls; };
    }
    EXPECT_EQ(Calls, 0);
}

TEST(ImgView32, ViewportAndBarLayout)
{
    TImgView32 View;
    View.ScrollBars()->SetSize(16);
    View.SetBounds(0, 0, 316, 216);
    EXPECT_EQ(View.GetViewportRect(), (TRect{0, 0, 300, 200}));
    EXPECT_EQ(View.HScroll()->BoundsRect(), (TRect{0, 200, 300, 216}));
    EXPECT_EQ(View.VScroll()->BoundsRect(), (TRect{300, 0, 316, 200}));
    EXPECT_EQ(View.GripRect(), (TRect{300, 200, 316, 216}));
    EXPECT_EQ(View.VScroll()->Kind(), sbVertical);
    EXPECT_EQ(View.ScaleMode(), smScale);
    EXPECT_EQ(View.BitmapAlign(), baCustom);

    View.Bitmap()->SetSize(100, 100);
    EXPECT_EQ(View.GetBitmapRect(), (TRect{100, 50, 200, 150}));
    EXPECT_EQ(View.ViewToBitmap({150, 100}), (TPoint{50, 50}));
    // Smaller than the viewport: centred whatever the bars say.
    View.HScroll()->SetPosition(30);
    View.UpdateImage();
    EXPECT_EQ(View.GetBitmapRect(), (TRect{100, 50, 200, 150}));

    View.Bitmap()->SetSize(600, 400);
    EXPECT_FLOAT_EQ(View.HScroll()->Range(), 600);
    EXPECT_FLOAT_EQ(View.HScroll()->Position(), 150);
    EXPECT_FLOAT_EQ(View.VScroll()->Range(), 400);
    EXPECT_FLOAT_EQ(View.VScroll()->Position(), 100);
    EXPECT_EQ(View.GetBitmapRect(), (TRect{-150, -100, 450, 300}));
    EXPECT_EQ(View.ViewToBitmap({150, 100}), (TPoint{300, 200}));

    // Zooming a centred view keeps the centre point.
    View.SetScale(2);
    EXPECT_FLOAT_EQ(View.HScroll()->Range(), 1200);
    EXPECT_FLOAT_EQ(View.HScroll()->Position(), 450);
    EXPECT_EQ(View.ViewToBitmap({150, 100}), (TPoint{300, 200}));
}

TEST(ImgView32, ScrollingFollowsTheBars)
{
    TImgView32 View;
    View.ScrollBars()->SetSize(16);
    View.SetBounds(0, 0, 316, 216);
    View.Bitmap()->SetSize(600, 400);
    int Scrolls = 0;
    View.OnScroll = [&](TObject*) { ++Scrolls; };
    // A wheel turned over a bar moves the picture too.
    View.HScroll()->SimulateMouseWheel(0, -120, {10, 5});
    EXPECT_FLOAT_EQ(View.HScroll()->Position(), 150 - View.HScroll()->Increment());
    EXPECT_EQ(Scrolls, 1);
    EXPECT_EQ(View.GetBitmapRect().Left, -142);

    // Not centred: positions are kept and clamped to the new ranges.
    View.SetCentered(false);
    EXPECT_FLOAT_EQ(View.HScroll()->Position(), 0);
    View.HScroll()->SetPosition(250);
    View.UpdateImage();
    EXPECT_EQ(View.GetBitmapRect().Left, -250);
    View.SetScale(0.5f);
    EXPECT_FLOAT_EQ(View.HScroll()->Range(), 300);
    EXPECT_FLOAT_EQ(View.HScroll()->Position(), 0);
}

TEST(ImgView32, RendersItsViewportAndGrip)
{
    TImgView32 View;
    View.ScrollBars()->SetSize(16);
    View.SetBounds(0, 0, 116, 116);
    View.SetColor(clBlue);
    View.Bitmap()->SetSize(50, 50);
    View.Bitmap()->ClearTo(0xFFFFFF00);
    QImage Shot = Grab(View);
    EXPECT_EQ(Rgb(Shot, 50, 50), 0xFFFF00u);
    EXPECT_EQ(Rgb(Shot, 10, 10), 0x0000FFu);
    EXPECT_FALSE(View.GripVisible());
    View.SetSizeGrip(sgAlways);
    EXPECT_TRUE(View.GripVisible());
}

TEST(ImgView32, RubberBandDragInAZoomedView)
{
    TImgView32 View;
    View.ScrollBars()->SetSize(16);
    View.SetBounds(0, 0, 316, 216);
    View.Bitmap()->SetSize(100, 100);
    View.SetScale(2); // bitmap rect (50, 0, 250, 200)
    auto* L = View.Layers()->Add<TBitmapLayer>();
    L->SetPlacement({10, 10, 30, 30});
    L->SetScaleWithView(true);
    auto* Band = View.Layers()->Add<TRubberbandLayer>();
    Band->SetTarget(L);
    EXPECT_EQ(View.GetBitmapRect(), (TRect{50, 0, 250, 200}));
    // The band's view rectangle is (70, 20, 110, 60); a move by 20 control pixels is 10 bitmap pixels.
    View.SimulateMouseDown(mbLeft, ssLeft, 90, 40);
    View.SimulateMouseMove(ssLeft, 110, 60);
    View.SimulateMouseUp(mbLeft, 0, 110, 60);
    EXPECT_EQ(L->Placement(), (TSingleRect{20, 20, 40, 40}));
    EXPECT_EQ(Band->Placement(), L->Placement());
}
