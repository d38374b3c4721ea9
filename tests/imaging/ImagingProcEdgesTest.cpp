// The processing unit's tables and small routines read off their descriptions: every
// resampling kernel at a few points with its radius, the two-colour 1-bit conversion's
// choice of black, 1-bit flips, the mask's bounding box and the nearest palette entry.
#include "imaging/IEBitmaps.h"
#include "imaging/ImagingProc.h"
#include "imaging/imgdefs.h"

#include "imaging/FilterTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kv;
using namespace kv::test;

TEST(ResamplingKernels, EachKernelAndRadiusAsTabled)
{
    const double Pi = 3.14159265358979323846;
    auto Sinc = [&](double X) { return X == 0 ? 1.0 : std::sin(Pi * X) / (Pi * X); };
    struct Case {
        uint8_t Filter;
        double X, Want;
    };
    const Case Cases[] = {
        {1, 0.25, 0.75},
        {1, -1.0, 0.0},
        {2, 0.5, 0.5}, // (2 t - 3) t^2 + 1
        {2, 0.25, (0.5 - 3) * 0.0625 + 1},
        {3, 0.25, 0.75 - 0.0625}, // bell, inner piece
        {3, 0.4, 0.75 - 0.16},
        {3, 1.0, 0.5 * 0.25}, // outer piece
        {3, -1.25, 0.5 * 0.0625},
        {3, 1.5, 0.0},
        {4, 0.5, 0.5 * 0.125 - 0.25 + 2.0 / 3.0}, // B-spline
        {4, 1.5, 0.125 / 6},
        {5, 0.5, Sinc(0.5) * Sinc(0.5 / 3)}, // Lanczos3
        {5, 2.5, Sinc(2.5) * Sinc(2.5 / 3)},
        {5, 3.0, 0.0},
        {6, 0.5, (7 * 0.125 - 12 * 0.25 + 16.0 / 3.0) / 6}, // Mitchell
        {6, 1.5, (-7.0 / 3.0 * 3.375 + 12 * 2.25 - 30 + 32.0 / 3.0) / 6},
        {7, 0.5, 1.0}, // box: (-0.5, 0.5]
        {7, -0.5, 0.0},
        {8, -0.25, 0.75},
        {8, 0.25, 0.75},
        {8, 1.0, 0.0},
    };
    for (const Case& C : Cases)
        EXPECT_NEAR(IEFilterKernel(C.Filter, C.X), C.Want, 1e-12) << int(C.Filter) << " at " << C.X;
    const double Radius[9] = {0, 1.0, 1.0, 1.5, 2.0, 3.0, 2.0, 1.0, 1.0};
    for (uint8_t F = 0; F < 9; ++F)
        EXPECT_EQ(IEFilterRadius(F), Radius[F]) << int(F);
    EXPECT_EQ(IEFilterRadius(9), 0.0);
}

TEST(CeilAndFloor, WholeNumbersStayAndFractionsMoveOutward)
{
    struct Case {
        double X;
        int32_t Ceil, Floor;
    };
    for (const Case& C : {Case{3.0, 3, 3}, {-3.0, -3, -3}, {0.0, 0, 0}, {2.25, 3, 2}, {-2.25, -2, -3}, {1e-9, 1, 0}}) {
        EXPECT_EQ(IECeil(C.X), C.Ceil) << C.X;
        EXPECT_EQ(IEFloor(C.X), C.Floor) << C.X;
    }
}

TEST(TwoColoursTo1Bit, TheDarkerColourBecomesZero)
{
    // Red (luma 54) and blue (luma 18) by (21 r + 71 g + 7 b) / 100: blue is the darker,
    // whichever comes first in the picture.
    for (bool RedFirst : {true, false}) {
        SCOPED_TRACE(RedFirst);
        TBitmap B;
        B.SetPixelFormat(pf24bit);
        B.SetSize(3, 1);
        const TRGB Red = CreateRGB(255, 0, 0), Blue = CreateRGB(0, 0, 255);
        SetPixelAt(B, 0, 0, RedFirst ? Red : Blue);
        SetPixelAt(B, 1, 0, RedFirst ? Blue : Red);
        SetPixelAt(B, 2, 0, Red);
        TRGB C0, C1;
        auto One = TryConvertTwoColorsTo1Bit(B, C0, C1);
        ASSERT_TRUE(One);
        EXPECT_EQ(C0, Blue);
        EXPECT_EQ(C1, Red);
        EXPECT_EQ(PixelAt(*One, 0, 0), RedFirst ? CreateRGB(255, 255, 255) : CreateRGB(0, 0, 0));
        EXPECT_EQ(PixelAt(*One, 2, 0), CreateRGB(255, 255, 255));
    }
}

TEST(OneBitFlip, MirrorsWithinTheWidth)
{
    // 10 x 2, 1 bit: row 0 has pixels 0 and 3 set, row 1 pixel 9.
    TBitmap B;
    B.SetPixelFormat(pf1bit);
    B.SetSize(10, 2);
    for (int Y = 0; Y < 2; ++Y)
        std::memset(B.ScanLine(Y), 0, size_t(B.BytesPerScanLine()));
    B.ScanLine(0)[0] = 0x90;
    B.ScanLine(1)[1] = 0x40;
    IEFlip(B, fdHorizontal);
    auto Set = [&](int X, int Y) { return (B.ScanLine(Y)[X >> 3] >> (7 - (X & 7))) & 1; };
    for (int X = 0; X < 10; ++X) {
        EXPECT_EQ(Set(X, 0), X == 9 || X == 6) << X;
        EXPECT_EQ(Set(X, 1), X == 0) << X;
    }
    IEFlip(B, fdVertical);
    EXPECT_EQ(Set(0, 0), 1);
    EXPECT_EQ(Set(9, 1), 1);
}

TEST(MaskBounds, SetPixelsGrowTheBoxOnBothAxes)
{
    TIEMask M;
    M.AllocateBits(20, 10, 8);
    M.SetPixel(3, 7, 200);
    M.SetPixel(15, 2, 1);
    M.SetPixel(5, 9, 0); // clear pixels do not count
    EXPECT_EQ(M.X1, 3);
    EXPECT_EQ(M.Y1, 2);
    EXPECT_EQ(M.X2, 15);
    EXPECT_EQ(M.Y2, 7);
    EXPECT_EQ(M.GetPixel(3, 7), 200);
    EXPECT_EQ(M.GetPixel(5, 9), 0);
}

TEST(NearestPaletteEntry, TheFirstOfEqualDistancesWins)
{
    const TRGB Pal[4] = {CreateRGB(0, 0, 0), CreateRGB(100, 0, 0), CreateRGB(0, 100, 0), CreateRGB(100, 0, 0)};
    EXPECT_EQ(NearestPaletteIndex(Pal, 4, CreateRGB(50, 50, 0)), 0); // 100 from 0, 1 and 2
    EXPECT_EQ(NearestPaletteIndex(Pal, 4, CreateRGB(90, 0, 0)), 1);  // 1 and 3 alike
    EXPECT_EQ(NearestPaletteIndex(Pal, 4, CreateRGB(10, 60, 0)), 2);
    EXPECT_EQ(NearestPaletteIndex(Pal, 4, CreateRGB(0, 0, 0)), 0);
    EXPECT_EQ(NearestPaletteIndex(nullptr, 4, CreateRGB(9, 9, 9)), 0);
}
