#include "raster/Raster32_Types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kv;

TEST(Raster32Types, ColourConversions)
{
    EXPECT_EQ(WinColorToColor32(0x000000FF), 0xFFFF0000u);
    EXPECT_EQ(WinColorToColor32(clBlue), 0xFF0000FFu);
    EXPECT_EQ(uint32_t(Color32ToWinColor(0x80123456)), 0x00563412u);
    EXPECT_EQ(MakeColor32(300, -1, 0, 256), 0x002CFF00u);
    EXPECT_EQ(MakeColor32(1, 2, 3), 0xFF010203u);
    EXPECT_EQ(MakeGray32(0x1AB, 0x180), 0x80ABABABu);
    EXPECT_EQ(Color32WithAlpha(0x12345678, 300), 0xFF345678u);
    EXPECT_EQ(Color32WithAlpha(0x12345678, -5), 0x00345678u);
    EXPECT_EQ(Color32WithAlpha(0x12345678, 0x9A), 0x9A345678u);
}

TEST(Raster32Types, SystemColourGoesThroughThePlatform)
{
    // The classic table: highlight 0x00800000 (navy), tooltip background 0x00E1FFFF.
    EXPECT_EQ(WinColorToColor32(clHighlight), 0xFF000080u);
    EXPECT_EQ(WinColorToColor32(clInfoBk), 0xFFFFFFE1u);
    // An RGB value with stray top bits below the system flag keeps only its colour.
    EXPECT_EQ(WinColorToColor32(0x12345678), 0xFF785634u);
}

TEST(Raster32Types, Channels)
{
    TColor32 C = 0x80ABCDEF;
    EXPECT_EQ(Color32Alpha(C), 0x80);
    EXPECT_EQ(Color32Red(C), 0xAB);
    EXPECT_EQ(Color32Green(C), 0xCD);
    EXPECT_EQ(Color32Blue(C), 0xEF);
}

TEST(Raster32Types, Intensity)
{
    EXPECT_EQ(Color32Intensity(clWhite32), 255);
    EXPECT_EQ(Color32Intensity(clRed32), 60);
    EXPECT_EQ(Color32Intensity(clGreen32), 173);
    EXPECT_EQ(Color32Intensity(clBlue32), 20);
    EXPECT_EQ(Color32Intensity(0xFF808080), 128);
    EXPECT_EQ(Color32Intensity(0x00808080), 128); // alpha plays no part
}

TEST(Raster32Types, ToFixedRoundsTiesToEven)
{
    EXPECT_EQ(ToFixed(1.5f), 98304);
    EXPECT_EQ(ToFixed(2.5f / 65536), 2);
    EXPECT_EQ(ToFixed(3.5f / 65536), 4);
    EXPECT_EQ(ToFixed(-2.5f / 65536), -2);
    EXPECT_EQ(ToFixed(-1.0f), -65536);
}

TEST(Raster32Types, ToFixedSaturates)
{
    const int32_t Max = std::numeric_limits<int32_t>::max(), Min = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(ToFixed(32767.99f), 2147483008); // 32767.99 as a float is 32767.990234375
    EXPECT_EQ(ToFixed(32768.0f), Max);
    EXPECT_EQ(ToFixed(-32768.0f), Min); // exactly representable
    EXPECT_EQ(ToFixed(-40000.0f), Min);
    EXPECT_EQ(ToFixed(1e30f), Max);
    EXPECT_EQ(ToFixed(std::numeric_limits<float>::infinity()), Max);
    EXPECT_EQ(ToFixed(-std::numeric_limits<float>::infinity()), Min);
    EXPECT_EQ(ToFixed(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(Raster32Types, SingleRectToRect)
{
    TSingleRect Half = MakeSingleRect(0.5f, 0.5f, 2.5f, 2.5f);
    EXPECT_EQ(SingleRectToRect(Half, rrClosest), MakeIntRect(0, 0, 2, 2));
    EXPECT_EQ(SingleRectToRect(Half, rrOutside), MakeIntRect(0, 0, 3, 3));
    EXPECT_EQ(SingleRectToRect(Half, rrInside), MakeIntRect(1, 1, 2, 2));
    EXPECT_EQ(SingleRectToRect(MakeSingleRect(1.2f, 1.2f, 1.8f, 1.8f), rrInside), MakeIntRect(2, 2, 2, 2));
    EXPECT_EQ(SingleRectToRect(MakeSingleRect(-1.5f, -0.2f, 1.5f, 3.7f), rrOutside), MakeIntRect(-2, -1, 2, 4));
    EXPECT_EQ(SingleRectToRect(MakeSingleRect(-1.5f, -0.5f, 1.5f, 3.5f)), MakeIntRect(-2, 0, 2, 4));
}

TEST(Raster32Types, SingleRectToRectSaturates)
{
    const float NaN = std::numeric_limits<float>::quiet_NaN(), Inf = std::numeric_limits<float>::infinity();
    const int32_t Max = std::numeric_limits<int32_t>::max(), Min = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(SingleRectToRect(MakeSingleRect(-1e20f, NaN, 3e9f, Inf), rrClosest), MakeIntRect(Min, 0, Max, Max));
    EXPECT_EQ(SingleRectToRect(MakeSingleRect(-Inf, -3e9f, NaN, 1e10f), rrOutside), MakeIntRect(Min, Min, 0, Max));
    // Inner: a Right that saturated below Left is still raised to Left.
    EXPECT_EQ(SingleRectToRect(MakeSingleRect(5.0f, 5.0f, -Inf, NaN), rrInside), MakeIntRect(5, 5, 5, 5));
}

TEST(Raster32Types, IntersectRects)
{
    TRect Dst{9, 9, 9, 9};
    EXPECT_TRUE(IntersectRects(Dst, MakeIntRect(0, 0, 5, 5), MakeIntRect(5, 5, 9, 9)));
    EXPECT_EQ(Dst, MakeIntRect(5, 5, 5, 5));
    Dst = TRect{9, 9, 9, 9};
    EXPECT_FALSE(IntersectRects(Dst, MakeIntRect(0, 0, 2, 2), MakeIntRect(3, 3, 4, 4)));
    EXPECT_EQ(Dst, MakeIntRect(0, 0, 0, 0));
    // Dst may be one of the inputs.
    TRect A = MakeIntRect(0, 0, 10, 10);
    EXPECT_TRUE(IntersectRects(A, A, MakeIntRect(2, -3, 12, 7)));
    EXPECT_EQ(A, MakeIntRect(2, 0, 10, 7));
}

TEST(Raster32Types, RectHelpers)
{
    TRect R = MakeIntRect(1, 2, 3, 4);
    GrowRect(R, 1, 2);
    EXPECT_EQ(R, MakeIntRect(0, 0, 4, 6));
    OffsetIntRect(R, -1, 3);
    EXPECT_EQ(R, MakeIntRect(-1, 3, 3, 9));
    EXPECT_TRUE(RectIsEmpty(MakeIntRect(0, 0, 0, 5)));
    EXPECT_FALSE(RectIsEmpty(MakeIntRect(0, 0, 1, 1)));
    EXPECT_TRUE(SingleRectIsEmpty(MakeSingleRect(0, 0, 1, -1)));
    EXPECT_TRUE(PointInIntRect(MakeIntRect(0, 0, 2, 2), MakePoint(1, 0)));
    EXPECT_FALSE(PointInIntRect(MakeIntRect(0, 0, 2, 2), MakePoint(2, 1)));
    EXPECT_EQ(PointToSinglePoint(MakePoint(-3, 4)), (TSinglePoint{-3.0f, 4.0f}));
}
