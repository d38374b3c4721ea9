// The sharpen, soften and grayscale filters against values worked out by hand from their
// formulas, and against a plain per-pixel reading of those formulas on random pictures.
#include "fx/ToneFilters.h"

#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace kv;

namespace {

// A 24-bit picture whose channel bytes (B, G, R of pixel x in row y) come from Fn.
template <typename TFn> void Fill24(TBitmap& B, int32_t W, int32_t H, TFn Fn)
{
    B.SetPixelFormat(pf24bit);
    B.SetSize(W, H);
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t I = 0; I < W * 3; ++I)
            B.ScanLine(Y)[I] = uint8_t(Fn(I / 3, Y, I % 3));
}

uint8_t& At(TBitmap& B, int32_t X, int32_t Y, int32_t Ch) { return B.ScanLine(Y)[X * 3 + Ch]; }

std::vector<uint8_t> Bytes(TBitmap& B)
{
    std::vector<uint8_t> V;
    for (int32_t Y = 0; Y < B.Height(); ++Y)
        V.insert(V.end(), B.ScanLine(Y), B.ScanLine(Y) + B.Width() * 3);
    return V;
}

// The blur read straight off its description, pixel by pixel, channel by channel.
void ReferenceBlur(TBitmap& B, int32_t D)
{
    const int32_t W = B.Width(), H = B.Height();
    auto Clamp = [](int32_t I, int32_t N) { return std::min(std::max(I, 0), N - 1); };
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X) {
            const int32_t Up = Y - D >= 0 ? Y - D : Y, Down = Clamp(Y + D < H ? Y + D : H - Y, H);
            const int32_t Left = X - D >= 0 ? X - D : X, Right = Clamp(X + D < W ? X + D : W - X, W);
            for (int32_t Ch = 0; Ch < 3; ++Ch)
                At(B, X, Y, Ch) = uint8_t(
                    (At(B, Left, Up, Ch) + At(B, Left, Down, Ch) + At(B, Right, Up, Ch) + At(B, Right, Down, Ch) + 2) >>
                    2);
        }
}

} // namespace

TEST(ToneFilters, SharpenCentresBorderAndFlatPictures)
{
    // Centre 120 among 100s: Alpha * 120 - Round-ish(F * 520), F16 = 13107, 26214,
    // 39322, 52429.
    const int32_t Centres[] = {136, 152, 168, 184};
    for (int32_t Alpha = 2; Alpha <= 5; ++Alpha) {
        TBitmap Src, Dst;
        Fill24(Src, 3, 3, [](int32_t X, int32_t Y, int32_t) { return X == 1 && Y == 1 ? 120 : 100; });
        Convolve3x3(Src, Dst, float(Alpha));
        ASSERT_EQ(Dst.Width(), 3);
        for (int32_t Y = 0; Y < 3; ++Y)
            for (int32_t X = 0; X < 3; ++X)
                for (int32_t Ch = 0; Ch < 3; ++Ch)
                    EXPECT_EQ(At(Dst, X, Y, Ch), X == 1 && Y == 1 ? Centres[Alpha - 2] : 100) << Alpha;
    }
    // Any flat picture stays as it is at every Alpha.
    for (int32_t Alpha = 2; Alpha <= 5; ++Alpha)
        for (int32_t V = 0; V < 256; ++V) {
            TBitmap Src, Dst;
            Fill24(Src, 4, 3, [V](int32_t, int32_t, int32_t) { return V; });
            Convolve3x3(Src, Dst, float(Alpha));
            EXPECT_EQ(Bytes(Dst), Bytes(Src)) << V << " at " << Alpha;
        }
}

TEST(ToneFilters, SharpenMatchesItsPlainFormulaOnRandomPictures)
{
    // Random pictures differ row by row, so a row read from the wrong place shows; the
    // factors are those the formula gives (A16 = Alpha * 65536).
    const int32_t F16[] = {13107, 26214, 39322, 52429};
    std::mt19937 Rng(99);
    for (int32_t W : {3, 4, 7, 21})
        for (int32_t H : {3, 5, 8})
            for (int32_t Alpha = 2; Alpha <= 5; ++Alpha) {
                TBitmap Src, Dst;
                Fill24(Src, W, H, [&](int32_t, int32_t, int32_t) { return int32_t(Rng() & 0xFF); });
                Convolve3x3(Src, Dst, float(Alpha));
                for (int32_t Y = 0; Y < H; ++Y)
                    for (int32_t X = 0; X < W; ++X)
                        for (int32_t Ch = 0; Ch < 3; ++Ch) {
                            const int32_t C = At(Src, X, Y, Ch);
                            int32_t Want = C;
                            if (X > 0 && Y > 0 && X < W - 1 && Y < H - 1) {
                                const int32_t S = C + At(Src, X - 1, Y, Ch) + At(Src, X + 1, Y, Ch) +
                                                  At(Src, X, Y - 1, Ch) + At(Src, X, Y + 1, Ch);
                                Want = std::clamp(
                                    ((C * Alpha * 65536 + 32767) >> 16) - ((S * F16[Alpha - 2] + 32767) >> 16), 0, 255);
                            }
                            ASSERT_EQ(At(Dst, X, Y, Ch), Want) << W << "x" << H << " at " << X << "," << Y;
                        }
            }
}

TEST(ToneFilters, SharpenRefusesSmallPicturesAndBadAlpha)
{
    struct TCase {
        int32_t W, H;
        float Alpha;
        const char* Message;
    } const Cases[] = {{2, 2, 5, "Bitmap must be at least 3x3"}, {3, 2, 5, "Bitmap must be at least 3x3"},
                       {0, 0, 5, "Bitmap must be at least 3x3"}, {3, 3, 1, "Alpha must be >1 and <6"},
                       {3, 3, 6, "Alpha must be >1 and <6"},     {3, 3, NAN, "Alpha must be >1 and <6"}};
    for (const TCase& Case : Cases) {
        TBitmap Src, Dst;
        Fill24(Src, Case.W, Case.H, [](int32_t, int32_t, int32_t) { return 9; });
        try {
            Convolve3x3(Src, Dst, Case.Alpha);
            ADD_FAILURE() << "no error for " << Case.W << "x" << Case.H;
        } catch (const EAssertionFailed& E) {
            EXPECT_EQ(std::string(E.what()), Case.Message);
        }
        EXPECT_TRUE(Dst.Empty());
    }
}

TEST(ToneFilters, DiagonalBlurWorkedPictureAndTinyPictures)
{
    // d = 1 on 4 x 4, one white corner: (2, 2) takes a rounded quarter, (255 + 2) shr 2;
    // row 3 folds down to row 1 and reads the new 64 at (2, 2) and (2, 1)'s zero.
    TBitmap B;
    Fill24(B, 4, 4, [](int32_t X, int32_t Y, int32_t) { return X == 3 && Y == 3 ? 255 : 0; });
    DiagonalBlur(B, 1);
    for (int32_t Y = 0; Y < 4; ++Y)
        for (int32_t X = 0; X < 4; ++X) {
            const int32_t Want = X == 2 && Y == 2 ? 64 : (Y == 3 && (X == 1 || X == 3)) ? 16 : 0;
            EXPECT_EQ(At(B, X, Y, 0), Want) << X << "," << Y;
        }
    // A single pixel reads only itself, at any distance; distances 0 and below change
    // nothing.
    for (int32_t D : {-5, 0, 1, 3, 100}) {
        TBitmap One;
        Fill24(One, 1, 1, [](int32_t, int32_t, int32_t Ch) { return 10 + Ch; });
        DiagonalBlur(One, D);
        EXPECT_EQ(Bytes(One), (std::vector<uint8_t>{10, 11, 12})) << D;
    }
}

TEST(ToneFilters, DiagonalBlurMatchesItsPlainFormulaOnRandomPictures)
{
    std::mt19937 Rng(1234);
    for (int32_t W = 1; W <= 12; ++W)
        for (int32_t H = 1; H <= 9; ++H)
            for (int32_t D : {1, 2, 3, 5, 8, 13}) {
                TBitmap A, B;
                Fill24(A, W, H, [&](int32_t, int32_t, int32_t) { return int32_t(Rng() & 0xFF); });
                Fill24(B, W, H, [&](int32_t X, int32_t Y, int32_t Ch) { return At(A, X, Y, Ch); });
                DiagonalBlur(A, D);
                ReferenceBlur(B, D);
                ASSERT_EQ(Bytes(A), Bytes(B)) << W << "x" << H << " d " << D;
            }
    // RepeatBlur is Count + 1 passes at distance 3, one after another, whatever the
    // size: around the heights where the bottom rows fold back to the top ones, widths
    // down to one pixel, and pass counts that fill several groups of passes run together.
    struct TRepeat {
        int32_t W, H, Count;
    } const Repeats[] = {{40, 30, 2}, {40, 30, 0},  {5, 7, 9},    {5, 8, 9},   {9, 9, 20},   {1, 64, 17},
                         {13, 1, 5},  {17, 23, 16}, {31, 50, 41}, {8, 12, -1}, {7, 200, 100}};
    for (const TRepeat& R : Repeats) {
        TBitmap A, B;
        Fill24(A, R.W, R.H, [&](int32_t, int32_t, int32_t) { return int32_t(Rng() & 0xFF); });
        Fill24(B, R.W, R.H, [&](int32_t X, int32_t Y, int32_t Ch) { return At(A, X, Y, Ch); });
        RepeatBlur(A, R.Count);
        for (int32_t I = 0; I <= R.Count; ++I)
            ReferenceBlur(B, 3);
        ASSERT_EQ(Bytes(A), Bytes(B)) << R.W << "x" << R.H << " count " << R.Count;
    }
}

TEST(ToneFilters, GrayScaleRoundsHalvesToEvenInExtendedPrecision)
{
    struct TCase {
        uint8_t R, G, B, Grey;
    } const Cases[] = {{255, 0, 0, 76}, {0, 255, 0, 150}, {0, 0, 255, 28}, {255, 255, 255, 255}, {0, 0, 0, 0}};
    for (const TCase& Case : Cases) {
        TBitmap B;
        Fill24(B, 2, 2, [&](int32_t, int32_t, int32_t Ch) { return Ch == 0 ? Case.B : Ch == 1 ? Case.G : Case.R; });
        GrayScale(B);
        EXPECT_EQ(Bytes(B), std::vector<uint8_t>(12, Case.Grey))
            << int(Case.R) << "," << int(Case.G) << "," << int(Case.B);
    }
}

TEST(ToneFilters, GrayLevelEqualsTheExtendedFormulaForEveryColour)
{
    int32_t Mismatches = 0;
    for (int32_t R = 0; R < 256; ++R)
        for (int32_t G = 0; G < 256; ++G)
            for (int32_t B = 0; B < 256; ++B)
                Mismatches +=
                    GrayLevel(uint8_t(R), uint8_t(G), uint8_t(B)) != GrayLevelExact(uint8_t(R), uint8_t(G), uint8_t(B));
    EXPECT_EQ(Mismatches, 0);
}
