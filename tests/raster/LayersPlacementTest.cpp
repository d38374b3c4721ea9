// Where layers land and what they show: placements worked out by hand for the cases a
// user meets (a cropped layer hanging off the picture, the edges of a layer under the
// mouse, a zoomed view wider than tall, a translucent magnifier, a shrunk picture).

#include "raster/Raster32.h"
#include "raster/Raster32_Blend.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"
#include "raster/Raster32_Transforms.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kv;

namespace {

// Pixel (x, y) of a small bitmap gets a colour that names it.
TColor32 Named(int X, int Y) { return 0xFF000000u | uint32_t(0x10 * (X + 1)) << 16 | uint32_t(0x10 * (Y + 1)) << 8; }

} // namespace

TEST(BitmapLayerPlacement, ClippedLayerStretchedUnevenlyPastTheTopEdge)
{
    TImage32 Img;
    Img.SetBounds(0, 0, 10, 10);
    Img.Bitmap()->SetSize(10, 10);
    Img.Bitmap()->ClearTo(0xFF000000);
    auto* L = Img.Layers()->Add<TBitmapLayer>();
    L->Bitmap()->SetSize(2, 4);
    for (int Y = 0; Y < 4; ++Y)
        for (int X = 0; X < 2; ++X)
            L->Bitmap()->SetPixelFast(X, Y, Named(X, Y));
    // Twice as wide and three times as tall as its bitmap, its top half above the picture.
    L->SetPlacement({2, -6, 6, 6});
    L->SetClipToImage(true);
    TBitmap32 Buffer;
    Buffer.SetSize(10, 10);
    Buffer.ClearTo(0xFF000000);
    L->Paint(&Buffer);
    // The visible part (2, 0)-(6, 6) shows source rows 2 and 3 only, stretched by the
    // nearest rule: a step of (2 shl 16) div 6 = 21845 a row puts row 3 at buffer rows 4
    // and 5; the two source columns take two buffer columns each.
    const int Row[6] = {2, 2, 2, 2, 3, 3};
    for (int Y = 0; Y < 10; ++Y)
        for (int X = 0; X < 10; ++X) {
            const TColor32 Want = X >= 2 && X < 6 && Y < 6 ? Named((X - 2) / 2, Row[Y]) : 0xFF000000u;
            EXPECT_EQ(Buffer.GetPixelFast(X, Y), Want) << X << "," << Y;
        }

    // Without the crop the whole layer is stretched and the buffer clips it: the start
    // MulDivRound(6 * 3, 65535, 11) = 107240 puts source row 1 at the top.
    L->SetClipToImage(false);
    Buffer.ClearTo(0xFF000000);
    L->Paint(&Buffer);
    EXPECT_EQ(Buffer.GetPixelFast(2, 0), Named(0, 1));
    EXPECT_EQ(Buffer.GetPixelFast(5, 5), Named(1, 3));
}

TEST(BitmapLayerPlacement, HitTestAtTheRightAndBottomEdges)
{
    TLayerCollection C(nullptr);
    auto* L = C.Add<TBitmapLayer>();
    L->SetPlacement({10, 20, 16, 29}); // 6 x 9 on the view for a 2 x 3 bitmap
    L->Bitmap()->SetSize(2, 3);
    L->Bitmap()->ClearTo(0xFF808080);
    struct Case {
        int X, Y;
        bool Hit;
    };
    // The right and bottom edges are outside; the last column and row inside.
    for (const Case& K : std::vector<Case>{
             {10, 20, true}, {15, 28, true}, {16, 28, false}, {15, 29, false}, {9, 20, false}, {10, 19, false}})
        EXPECT_EQ(L->HitTest(K.X, K.Y), K.Hit) << K.X << "," << K.Y;

    // By alpha: the right column and the bottom row of the bitmap are clear. A view pixel
    // hits the source pixel that contains it, as the layer is drawn.
    L->SetHitByAlpha(true);
    for (int Y = 0; Y < 3; ++Y)
        L->Bitmap()->SetPixelFast(1, Y, 0x00808080);
    L->Bitmap()->SetPixelFast(0, 2, 0x00808080);
    for (const Case& K : std::vector<Case>{{10, 20, true},
                                           {12, 20, true},
                                           {13, 20, false}, // source column 1
                                           {15, 20, false},
                                           {10, 25, true},
                                           {10, 26, false}, // source row 2
                                           {10, 28, false},
                                           {16, 20, false}})
        EXPECT_EQ(L->HitTest(K.X, K.Y), K.Hit) << "by alpha " << K.X << "," << K.Y;
    // The layer under the mouse is the one the collection finds.
    EXPECT_EQ(C.FindLayerAtPos(12, 25, LOB_MOUSE_EVENTS), L);
    EXPECT_EQ(C.FindLayerAtPos(15, 25, LOB_MOUSE_EVENTS), nullptr);
}

TEST(ImgViewZoom, CentredZoomInAViewportWiderThanTall)
{
    TImgView32 View;
    View.ScrollBars()->SetSize(16);
    View.SetBounds(0, 0, 316, 216); // a viewport of 300 x 200
    View.Bitmap()->SetSize(600, 400);
    ASSERT_EQ(View.ViewToBitmap({150, 100}), (TPoint{300, 200}));
    View.SetScale(2);
    // The centre of the picture stays in the centre of the viewport, on both axes.
    EXPECT_FLOAT_EQ(View.HScroll()->Position(), 450);
    EXPECT_FLOAT_EQ(View.VScroll()->Position(), 300);
    EXPECT_EQ(View.GetBitmapRect(), (TRect{-450, -300, 750, 500}));
    EXPECT_EQ(View.ViewToBitmap({150, 100}), (TPoint{300, 200}));
    EXPECT_EQ(View.ViewToBitmap({0, 0}), (TPoint{225, 150}));
    View.SetScale(0.25f);
    // Smaller than the viewport: centred on each axis by its own side.
    EXPECT_EQ(View.GetBitmapRect(), (TRect{75, 50, 225, 150}));

    // A picture wider than the viewport but lower than it: scrolled across, centred down.
    View.SetScale(1);
    View.Bitmap()->SetSize(900, 60);
    EXPECT_EQ(View.GetBitmapRect(), (TRect{-300, 70, 600, 130}));
    View.SetScale(2);
    EXPECT_EQ(View.GetBitmapRect(), (TRect{-750, 40, 1050, 160}));
}

TEST(BitmapDrawing, OneToOneWithMasterAlphaBelowOpaque)
{
    // The magnifier's picture drawn at its own size with the opacity the user set.
    TBitmap32 Src, Dst;
    Src.SetSize(3, 2);
    const TColor32 S[6] = {0xFFFF0000, 0x80FF0000, 0x00FF0000, 0xFF00FF00, 0x4000FF00, 0xC0123456};
    for (int I = 0; I < 6; ++I)
        Src.SetPixelFast(I % 3, I / 3, S[I]);
    Src.SetDrawMode(dmBlend);
    Src.SetMasterAlpha(100);
    Dst.SetSize(5, 4);
    Dst.ClearTo(0xFF0000FF);
    Src.DrawOntoAt(&Dst, 1, 1);
    for (int Y = 0; Y < 4; ++Y)
        for (int X = 0; X < 5; ++X) {
            const bool Inside = X >= 1 && X < 4 && Y >= 1 && Y < 3;
            const TColor32 Want =
                Inside ? BlendRoutines().BlendPixelMaster(S[(Y - 1) * 3 + (X - 1)], 0xFF0000FF, 100) : 0xFF0000FFu;
            EXPECT_EQ(Dst.GetPixelFast(X, Y), Want) << X << "," << Y;
        }
    // Opaque red at 100: weight 255 * 100 shr 8 = 99, so red (255 * 99 + 128) shr 8 = 99.
    EXPECT_EQ((Dst.GetPixelFast(1, 1) >> 16) & 0xFF, 99u);
    // A clear source pixel leaves the blue untouched.
    EXPECT_EQ(Dst.GetPixelFast(3, 1), 0xFF0000FFu);

    // The same through a stretch to the same size (how a layer paints) gives the same pixels.
    TBitmap32 Dst2;
    Dst2.SetSize(5, 4);
    Dst2.ClearTo(0xFF0000FF);
    Src.DrawOntoRect(&Dst2, {1, 1, 4, 3});
    for (int Y = 0; Y < 4; ++Y)
        for (int X = 0; X < 5; ++X)
            EXPECT_EQ(Dst2.GetPixelFast(X, Y), Dst.GetPixelFast(X, Y)) << X << "," << Y;
}

TEST(FilteredShrink, WeightsAreNormalisedWhenTheyDoNotSumTo255)
{
    // Six source pixels to four: Scale = 3 / 5, each weight Round(Filter(d * 0.6) * 153),
    // then every list scaled back to 255.
    const TMappingTable T = BuildMappingTable(4, 6, 0, 6, sfLinear2);
    ASSERT_EQ(T.size(), 4u);
    EXPECT_EQ(T[0], (TMappingList{{0, 57}, {0, 142}, {1, 57}})); // 61, 153, 61 of 275
    EXPECT_EQ(T[1], (TMappingList{{1, 96}, {2, 127}, {3, 32}})); // 92, 122, 31 of 245
    EXPECT_EQ(T[2], (TMappingList{{2, 32}, {3, 127}, {4, 96}})); // 31, 122, 92 of 245
    EXPECT_EQ(T[3], (TMappingList{{4, 57}, {5, 142}, {5, 57}})); // 61, 153, 61 of 275

    // A row of six reds shrunk to four: each channel sum is red * wx * 255 (one source
    // row), its bits 16-23 the result.
    TBitmap32 Src, Dst;
    Src.SetSize(6, 1);
    const uint32_t Red[6] = {0, 60, 120, 180, 240, 255};
    for (int X = 0; X < 6; ++X)
        Src.SetPixelFast(X, 0, 0xFF000000u | Red[X] << 16 | 0x40);
    Src.SetStretchFilter(sfLinear2);
    Dst.SetSize(4, 1);
    Dst.ClearTo(0);
    Src.DrawOntoRect(&Dst, {0, 0, 4, 1});
    // Alpha: 255 * (sum of the weights) * 255, so 254 where they sum to 256, else 253.
    const uint32_t WantRed[4] = {13, 104, 193, 250}, WantAlpha[4] = {254, 253, 253, 254};
    for (int X = 0; X < 4; ++X) {
        EXPECT_EQ((Dst.GetPixelFast(X, 0) >> 16) & 0xFF, WantRed[X]) << X;
        EXPECT_EQ(Dst.GetPixelFast(X, 0) >> 24, WantAlpha[X]) << X;
    }
}
