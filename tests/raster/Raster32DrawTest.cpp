#include "raster/Raster32.h"
#include "raster/Raster32_DrawingEx.h"
#include "raster/Raster32_Filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kv;

namespace {

constexpr TColor32 W = 0xFFFFFFFF, K = 0xFF000000;

void Fill(TBitmap32& B, int32_t Width, int32_t Height, TColor32 Color)
{
    B.SetSize(Width, Height);
    B.ClearTo(Color);
}

int CountNot(TBitmap32& B, TColor32 Color)
{
    int n = 0;
    for (int64_t i = 0; i < int64_t(B.Width()) * B.Height(); ++i)
        n += B.Bits()[i] != Color;
    return n;
}

} // namespace

TEST(Bitmap32Pixels, ClippedAccess)
{
    TBitmap32 b;
    Fill(b, 2, 2, K);
    b.SetOuterColor(0x7FFFFFFF);
    EXPECT_EQ(b.GetPixelClipped(-1, 0), 0x7FFFFFFFu);
    EXPECT_EQ(b.GetPixelClipped(1, 1), K);
    b.SetPixelClipped(2, 0, W);
    b.SetPixelClipped(-1, 0, W);
    EXPECT_EQ(CountNot(b, K), 0);
}

TEST(Bitmap32Pixels, SubPixelSplatWeights)
{
    TBitmap32 b;
    Fill(b, 4, 4, K);
    b.SetPixelSubFast(0, 0, W);
    EXPECT_EQ(b.GetPixelFast(0, 0), 0xFFFCFCFCu); // weight 253
    EXPECT_EQ(b.GetPixelFast(1, 0), K);
    EXPECT_EQ(b.GetPixelFast(0, 1), K);
    EXPECT_EQ(b.GetPixelFast(1, 1), K);

    Fill(b, 4, 4, K);
    b.SetPixelSubFast(128, 0, W); // G[127] = G[128] = 157: weight 155 on both
    EXPECT_EQ(b.GetPixelFast(0, 0), 0xFF9A9A9Au);
    EXPECT_EQ(b.GetPixelFast(1, 0), 0xFF9A9A9Au);
    EXPECT_EQ(b.GetPixelFast(0, 1), K);
}

TEST(Bitmap32Pixels, ClippedSplatStaysInside)
{
    TBitmap32 b;
    Fill(b, 2, 2, K);
    b.SetPixelSubClipped(-128, -128, W); // only (0,0) of the four is inside
    EXPECT_NE(b.GetPixelFast(0, 0), K);
    b.SetPixelSubClipped(-257, 0, W);
    b.SetPixelSubClipped(2 << 8, 0, W);
    EXPECT_EQ(CountNot(b, K), 1);
    b.SetPixelSubClipped((1 << 8) + 128, (1 << 8) + 128, W); // lower right corner: only (1,1)
    EXPECT_EQ(CountNot(b, K), 2);
}

TEST(Bitmap32Lines, ClippedLinesOrderAndClampTheirEnds)
{
    TBitmap32 b;
    Fill(b, 5, 3, K);
    b.HorzLineClipped(7, 1, -3, W);
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(b.GetPixelFast(x, 1), W);
    b.HorzLineClipped(0, 3, 4, 0xFF00FF00); // row outside
    b.VertLineClipped(5, 0, 2, 0xFF00FF00); // column outside
    EXPECT_EQ(CountNot(b, K), 5);
    b.VertLineBlendClipped(0, -5, 10, 0x80FFFFFF);
    EXPECT_EQ(b.GetPixelFast(0, 0), 0xC0808080u); // alpha mixed like a colour
    EXPECT_EQ(b.GetPixelFast(0, 1), 0xC0FFFFFFu);
}

TEST(Bitmap32Lines, LongBlendRunMatchesPixelBlend)
{
    TBitmap32 b;
    Fill(b, 700, 1, 0xFF102030);
    b.HorzLineBlend(0, 0, 699, 0x80C0B0A0);
    TColor32 expected = BlendPixel(0x80C0B0A0, 0xFF102030);
    for (int x = 0; x < 700; ++x)
        ASSERT_EQ(b.GetPixelFast(x, 0), expected) << x;
}

TEST(Bitmap32Pattern, WholeStepsAndHalfSteps)
{
    TBitmap32 b;
    b.SetLinePattern({W, W, K, K});
    std::vector<TColor32> got;
    for (int i = 0; i < 5; ++i)
        got.push_back(b.NextPatternColor());
    EXPECT_EQ(got, (std::vector<TColor32>{W, W, K, K, W}));

    b.SetLinePattern({K, K, W, W});
    b.SetLinePatternStep(0.5f);
    got.clear();
    for (int i = 0; i < 9; ++i)
        got.push_back(b.NextPatternColor());
    EXPECT_EQ(got, (std::vector<TColor32>{K, K, K, 0xFF808080, W, W, W, 0xFF7F7F7F, K}));
}

TEST(Bitmap32Pattern, CounterAnywhereIsNormalisedAtOnce)
{
    TBitmap32 b;
    b.SetLinePattern({W, W, K, K});
    b.SetLinePatternCounter(-1048576.0f - 2.0f); // the remainder is 2
    EXPECT_EQ(b.NextPatternColor(), K);
    b.SetLinePatternCounter(3e38f);
    (void)b.NextPatternColor(); // finishes at once
    b.SetLinePatternCounter(std::numeric_limits<float>::infinity());
    EXPECT_EQ(b.NextPatternColor(), W) << "a non-finite counter restarts at 0";
    b.SetLinePatternStep(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(b.LinePatternStep(), 1.0f) << "a NaN step is refused";
    b.SetLinePattern({});
    EXPECT_EQ(b.NextPatternColor(), K);
}

TEST(Bitmap32Pattern, PatternedFrameRunsClockwise)
{
    TBitmap32 b;
    const TColor32 grey = 0xFF808080;
    Fill(b, 8, 8, grey);
    b.SetLinePattern({W, W, K, K});
    b.FrameRectPatterned(0, 0, 6, 4);
    const TColor32 top[5] = {W, W, K, K, W};
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(b.GetPixelFast(x, 0), top[x]) << x;
    const TColor32 right[3] = {W, K, K};
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(b.GetPixelFast(5, y), right[y]) << y;
    const TColor32 bottom[5] = {W, W, K, K, W}; // x = 5 down to 1
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(b.GetPixelFast(5 - i, 3), bottom[i]) << i;
    const TColor32 left[3] = {W, K, K}; // y = 3 down to 1
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(b.GetPixelFast(0, 3 - i), left[i]) << i;
    EXPECT_EQ(CountNot(b, grey), 16);
    EXPECT_EQ(b.LinePatternCounter(), 16.0f);
}

TEST(Bitmap32Pattern, LonePixelOutsideDrawsNothing)
{
    TBitmap32 b;
    Fill(b, 4, 4, K);
    b.SetLinePattern({W});
    b.FrameRectPatterned(9, 9, 10, 10);
    b.FrameRectPatterned(-1, 2, 0, 3);
    EXPECT_EQ(CountNot(b, K), 0);
    EXPECT_EQ(b.LinePatternCounter(), 0.0f);
    b.FrameRectPatterned(1, 1, 2, 2);
    EXPECT_EQ(b.GetPixelFast(1, 1), W);
    b.FrameRectPatterned(-20, -20, 30, 30); // a frame wholly around the bitmap
    EXPECT_EQ(CountNot(b, K), 1);
}

TEST(Bitmap32Rects, FillAndFrame)
{
    TBitmap32 b;
    Fill(b, 4, 4, K);
    b.FillRectClipped(2, 0, 2, 4, W);
    b.FillRectClipped(-5, 0, -1, 4, W);
    EXPECT_EQ(CountNot(b, K), 0);
    b.FillRectClipped(-5, -5, 2, 1, W);
    EXPECT_EQ(CountNot(b, K), 2);

    Fill(b, 4, 4, K);
    b.FrameRectClipped(1, 1, 2, 2, W);
    EXPECT_EQ(CountNot(b, K), 1);
    Fill(b, 4, 4, K);
    b.FrameRectClipped(1, 1, 3, 3, W);
    EXPECT_EQ(CountNot(b, K), 4);
}

TEST(Bitmap32Rects, BevelColoursAndClipping)
{
    TBitmap32 b;
    Fill(b, 4, 4, 0xFF808080);
    b.DrawBevel(0, 0, 4, 4, 50);
    EXPECT_EQ(b.GetPixelFast(0, 0), W); // light white alpha 255 (256 clamped)
    EXPECT_EQ(b.GetPixelFast(0, 1), W);
    EXPECT_EQ(b.GetPixelFast(1, 3), 0xC0414141u); // dark black alpha 127
    EXPECT_EQ(b.GetPixelFast(3, 1), 0xC0414141u);
    EXPECT_EQ(b.GetPixelFast(1, 1), 0xFF808080u);

    Fill(b, 4, 4, 0xFF808080);
    b.DrawBevel(0, 0, 4, 4, -50); // light black alpha 127, dark white alpha 255
    EXPECT_EQ(b.GetPixelFast(0, 0), 0xC0414141u);
    EXPECT_EQ(b.GetPixelFast(3, 3), W);

    Fill(b, 4, 4, K);
    b.DrawBevel(-3, -3, 10, 10, 50); // wholly around: clipped, nothing drawn
    EXPECT_EQ(CountNot(b, K), 0);
    b.DrawBevel(2, 2, 10, 10, 50);
    EXPECT_EQ(b.GetPixelFast(2, 2), W);
}

TEST(Bitmap32LinesAA, ShortAndZeroLength)
{
    TBitmap32 b;
    Fill(b, 10, 10, K);
    b.DrawLineAAFixed(5 << 16, 5 << 16, (5 << 16) + 255, 5 << 16, W, false);
    EXPECT_EQ(CountNot(b, K), 0) << "shorter than 1/256 pixel";
    b.DrawLineAAFixed(5 << 16, 5 << 16, 5 << 16, 5 << 16, W, true);
    EXPECT_EQ(b.GetPixelFast(5, 5), 0xFFFCFCFCu);
    EXPECT_EQ(CountNot(b, K), 1);
}

TEST(Bitmap32LinesAA, HorizontalLineAndClipping)
{
    TBitmap32 b;
    Fill(b, 10, 4, K);
    b.DrawLineAAFixed(2 << 16, 1 << 16, 6 << 16, 1 << 16, W, false);
    for (int x = 2; x < 6; ++x)
        EXPECT_EQ(b.GetPixelFast(x, 1), 0xFFFCFCFCu) << x;
    EXPECT_EQ(CountNot(b, K), 4);

    // A line far outside on both ends draws only inside; one wholly outside draws nothing.
    Fill(b, 10, 4, K);
    b.DrawLineAAFixed(-(1000 << 16), 2 << 16, 1000 << 16, 2 << 16, W, false);
    EXPECT_EQ(b.GetPixelFast(0, 2), 0xFFFCFCFCu);
    EXPECT_EQ(b.GetPixelFast(9, 2), 0xFFFCFCFCu);
    Fill(b, 10, 4, K);
    b.DrawLineAAFixed(-(1000 << 16), 50 << 16, 1000 << 16, 60 << 16, W, true);
    EXPECT_EQ(CountNot(b, K), 0);
    b.DrawLineAAF(-1e30f, 1.0f, 1e30f, 2.0f, W, true); // saturated ends stay safe
}

TEST(Bitmap32LinesAA, ClipSegment)
{
    int32_t x1 = -10, y1 = -10, x2 = 10, y2 = 10;
    EXPECT_TRUE(ClipSegmentToRect(x1, y1, x2, y2, 0, 0, 100, 100));
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(y1, 0);
    x1 = -5, y1 = 3, x2 = 5, y2 = 8;
    EXPECT_TRUE(ClipSegmentToRect(x1, y1, x2, y2, 0, 0, 100, 100));
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(y1, 6);
    x1 = -5, y1 = -5, x2 = -1, y2 = 50;
    EXPECT_FALSE(ClipSegmentToRect(x1, y1, x2, y2, 0, 0, 100, 100));
    // Coordinates whose differences overflow 32 bits.
    x1 = std::numeric_limits<int32_t>::min(), y1 = 0, x2 = std::numeric_limits<int32_t>::max(), y2 = 1 << 20;
    EXPECT_TRUE(ClipSegmentToRect(x1, y1, x2, y2, 0, 0, 1 << 30, 1 << 30));
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(x2, 1 << 30);
    EXPECT_NEAR(y1, 1 << 19, 1);
}

TEST(Bitmap32Filters, PixelRules)
{
    TBitmap32 src, dst;
    Fill(src, 1, 1, 0x80123456);
    GrayFromAlpha(&dst, &src);
    EXPECT_EQ(dst.GetPixelFast(0, 0), 0xFF808080u);
    InvertColors(&dst, &src);
    EXPECT_EQ(dst.GetPixelFast(0, 0), 0x80EDCBA9u);
    src.ClearTo(0xFFFF0000);
    GrayFromColor(&dst, &src);
    EXPECT_EQ(dst.GetPixelFast(0, 0), 0xFF3C3C3Cu);
    dst.ClearTo(0x00ABCDEF);
    src.ClearTo(0xFFFFFFFF);
    AlphaFromIntensity(&dst, &src);
    EXPECT_EQ(dst.GetPixelFast(0, 0), 0xFFABCDEFu);
    try {
        GrayFromAlpha(&dst, nullptr);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "The source is nil");
    }
    try {
        GrayFromAlpha(nullptr, &src);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Destination is nil");
    }
}

TEST(Bitmap32Text, TextOutAndMeasure)
{
    TBitmap32 b;
    Fill(b, 200, 60, K);
    b.Font()->SetName("Arial");
    b.Font()->SetSize(20);
    b.Font()->SetColor(clWhite);
    TSize extent = b.MeasureText("Hello");
    EXPECT_GT(extent.cx, 20);
    EXPECT_GT(extent.cy, 10);
    EXPECT_EQ(b.TextWidth("Hello"), extent.cx);
    TBitmap32 empty;
    empty.Font()->Assign(b.Font());
    EXPECT_EQ(empty.MeasureText("Hello"), extent) << "an empty bitmap measures through the font alone";

    b.TextOut(10, 10, "Hello");
    int touched = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x) {
            TColor32 p = b.GetPixelFast(x, y);
            if (p != K) {
                ++touched;
                EXPECT_EQ(p >> 24, 255u) << "text pixels are opaque";
                EXPECT_TRUE(x >= 10 && x < 10 + extent.cx && y >= 10 && y < 10 + extent.cy) << x << "," << y;
            }
        }
    EXPECT_GT(touched, 20);
}

TEST(Bitmap32Text, AntialiasedTextBlendsItsCoverage)
{
    for (int level : {0, 2}) {
        TBitmap32 b;
        Fill(b, 200, 60, 0xFF000000);
        b.Font()->SetName("Arial");
        b.Font()->SetSize(16);
        b.DrawTextAA(5, 5, "Kelvane", level, 0xFFFF0000);
        TSize extent = b.MeasureText("Kelvane ");
        int red = 0;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 200; ++x) {
                TColor32 p = b.GetPixelFast(x, y);
                if (p != 0xFF000000) {
                    EXPECT_EQ(p & 0xFFFF, 0u) << "only red is added";
                    EXPECT_TRUE(x >= 5 && x < 9 + extent.cx * 6 / 5 && y >= 5 && y < 9 + extent.cy * 6 / 5);
                    red += Color32Red(p) > 128;
                }
            }
        EXPECT_GT(red, 20) << "level " << level;
    }
}
