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

// One pass of the blur read straight off its description, pixel by pixel, channel by
// channel, in levels with Bits fraction bits, from the picture as it was.
void ReferencePass(std::vector<int32_t>& V, int32_t W, int32_t H, int32_t D)
{
    const std::vector<int32_t> Old = V;
    const auto C = [&](int32_t X, int32_t Y, int32_t Ch) { return Old[(size_t(Y) * W + X) * 3 + Ch]; };
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X) {
            const int32_t Up = Y - D >= 0 ? Y - D : Y, Down = Y + D < H ? Y + D : Y;
            const int32_t Left = X - D >= 0 ? X - D : X, Right = X + D < W ? X + D : X;
            for (int32_t Ch = 0; Ch < 3; ++Ch)
                V[(size_t(Y) * W + X) * 3 + Ch] =
                    (C(Left, Up, Ch) + C(Left, Down, Ch) + C(Right, Up, Ch) + C(Right, Down, Ch) + 2) >> 2;
        }
}

// Passes of the reference on a bitmap: bytes shifted up by 6 fraction bits, blurred,
// rounded back to bytes.
void ReferenceBlur(TBitmap& B, int32_t D, int32_t Passes = 1)
{
    const int32_t W = B.Width(), H = B.Height();
    std::vector<int32_t> V;
    for (uint8_t Byte : Bytes(B))
        V.push_back(Byte << 6);
    for (int32_t I = 0; I < Passes; ++I)
        ReferencePass(V, W, H, D);
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t I = 0; I < W * 3; ++I)
            B.ScanLine(Y)[I] = uint8_t((V[size_t(Y) * W * 3 + I] + 32) >> 6);
}

// The mean of every channel byte.
double Mean(TBitmap& B)
{
    double Sum = 0;
    const std::vector<uint8_t> V = Bytes(B);
    for (uint8_t Byte : V)
        Sum += Byte;
    return Sum / double(V.size());
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
    // d = 1 on 4 x 4, one white corner: the corner is read once by each of (2..3, 2..3)
    // (their right column and lower row, or their own where that would leave the
    // bitmap), which take (255 + 2) shr 2 = 64; nothing else reads it.
    TBitmap B;
    Fill24(B, 4, 4, [](int32_t X, int32_t Y, int32_t) { return X == 3 && Y == 3 ? 255 : 0; });
    DiagonalBlur(B, 1);
    for (int32_t Y = 0; Y < 4; ++Y)
        for (int32_t X = 0; X < 4; ++X) {
            const int32_t Want = X >= 2 && Y >= 2 ? 64 : 0;
            EXPECT_EQ(At(B, X, Y, 0), Want) << X << "," << Y;
        }
    // d = 1 on 3 x 2 with blue 0 40 80 / 120 160 200, green half of it, red 255 minus it.
    // Both rows read row 0 above and row 1 below; column 0 reads columns 0 and 1, column
    // 1 columns 0 and 2, column 2 columns 1 and 2. Blue: (0 + 120 + 40 + 160 + 2) shr 2 =
    // 80, (0 + 120 + 80 + 200 + 2) shr 2 = 100, (40 + 160 + 80 + 200 + 2) shr 2 = 120;
    // green (160 + 2, 200 + 2, 240 + 2) shr 2 = 40, 50, 60; red (1020 - 320 + 2,
    // 1020 - 400 + 2, 1020 - 480 + 2) shr 2 = 175, 155, 135. The mean stays 100.
    TBitmap Small;
    Fill24(Small, 3, 2, [](int32_t X, int32_t Y, int32_t Ch) {
        const int32_t V = (Y * 3 + X) * 40;
        return Ch == 0 ? V : Ch == 1 ? V / 2 : 255 - V;
    });
    DiagonalBlur(Small, 1);
    EXPECT_EQ(Bytes(Small),
              (std::vector<uint8_t>{80, 40, 175, 100, 50, 155, 120, 60, 135, 80, 40, 175, 100, 50, 155, 120, 60, 135}));
    // One pass of RepeatBlur is DiagonalBlur at distance 3.
    TBitmap P, Q;
    Fill24(P, 9, 8, [](int32_t X, int32_t Y, int32_t Ch) { return (X * 37 + Y * 91 + Ch * 13) & 0xFF; });
    Fill24(Q, 9, 8, [](int32_t X, int32_t Y, int32_t Ch) { return (X * 37 + Y * 91 + Ch * 13) & 0xFF; });
    RepeatBlur(P, 0);
    DiagonalBlur(Q, 3);
    EXPECT_EQ(Bytes(P), Bytes(Q));
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
    // RepeatBlur is Count + 1 passes at distance 3, each from the one before, whatever
    // the size: heights around the distance, widths down to one pixel, and pass counts
    // that fill several groups of passes run together.
    struct TRepeat {
        int32_t W, H, Count;
    } const Repeats[] = {{40, 30, 2}, {40, 30, 0},  {5, 7, 9},    {5, 8, 9},   {9, 9, 20},    {1, 64, 17},
                         {13, 1, 5},  {17, 23, 16}, {31, 50, 41}, {8, 12, -1}, {7, 200, 100}, {3, 3, 7}};
    for (const TRepeat& R : Repeats) {
        TBitmap A, B;
        Fill24(A, R.W, R.H, [&](int32_t, int32_t, int32_t) { return int32_t(Rng() & 0xFF); });
        Fill24(B, R.W, R.H, [&](int32_t X, int32_t Y, int32_t Ch) { return At(A, X, Y, Ch); });
        RepeatBlur(A, R.Count);
        ReferenceBlur(B, 3, R.Count + 1);
        ASSERT_EQ(Bytes(A), Bytes(B)) << R.W << "x" << R.H << " count " << R.Count;
    }
}

// Softness at any strength keeps the picture's brightness: a photo-like picture with
// a bright band along the top (what the folding carried down the picture) and a noise
// picture keep their mean within a level at slider 1, 50 and 100, both in the repeated
// blur and in the single one ("Soft Focus"), and a flat picture stays exactly flat.
TEST(ToneFilters, SoftnessKeepsTheMeanAtEveryStrength)
{
    std::mt19937 Rng(77);
    const auto Photo = [](int32_t X, int32_t Y, int32_t Ch) {
        return Y < 12 ? 230 - Ch * 10 : (X * (Ch + 1) / 3 + Y * 2 + ((X * 7 + Y * 13) & 15)) & 0xFF;
    };
    const auto Noise = [&Rng](int32_t, int32_t, int32_t) { return int32_t(Rng() & 0xFF); };
    for (int32_t Value : {1, 50, 100})
        for (bool Focus : {false, true})
            for (int32_t Kind = 0; Kind < 2; ++Kind) {
                TBitmap B;
                if (Kind == 0)
                    Fill24(B, 160, 120, Photo);
                else
                    Fill24(B, 160, 120, Noise);
                const double Before = Mean(B);
                if (Focus)
                    DiagonalBlur(B, Value);
                else
                    RepeatBlur(B, Value);
                EXPECT_NEAR(Mean(B), Before, 1.0)
                    << (Kind ? "noise" : "photo") << " value " << Value << (Focus ? " soft focus" : "");
            }
    TBitmap Flat;
    Fill24(Flat, 50, 40, [](int32_t, int32_t, int32_t Ch) { return 100 + Ch; });
    RepeatBlur(Flat, 100);
    for (int32_t Y = 0; Y < 40; ++Y)
        for (int32_t X = 0; X < 50; ++X)
            ASSERT_EQ(At(Flat, X, Y, 2), 102) << X << "," << Y;
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
