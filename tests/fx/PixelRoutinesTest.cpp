// Pixel routines at their edges: contrast around the middle grey for amounts far past
// the gauges, and the soften blur where its partners fold back at the right and bottom.
#include "fx/Adjustments.h"
#include "fx/ToneFilters.h"

#include "raster/Raster32.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

using namespace kv;

TEST(ContrastMidValue, LargeAmountsSplitTheGreysAround127)
{
    // d := (|c - 127| x A) div 255 with A cut to +-65536; below 128 c - d, else c + d.
    struct Case {
        int32_t Amount;
        uint8_t Want126, Want127, Want128, Want129;
    };
    const Case Cases[] = {
        {255, 125, 127, 129, 131},  {510, 124, 127, 130, 133},  {65536, 0, 127, 255, 255}, {INT_MAX, 0, 127, 255, 255},
        {-255, 127, 127, 127, 127}, {-510, 128, 127, 126, 125}, {-65536, 255, 127, 0, 0},  {INT_MIN, 255, 127, 0, 0},
    };
    for (const Case& C : Cases) {
        TBitmap32 B;
        B.SetSize(4, 1);
        for (int X = 0; X < 4; ++X)
            B.SetPixelFast(X, 0, 0x40000000u | uint32_t(126 + X) * 0x010101u);
        AdjustContrast(B, C.Amount);
        const uint8_t Want[4] = {C.Want126, C.Want127, C.Want128, C.Want129};
        for (int X = 0; X < 4; ++X)
            EXPECT_EQ(B.GetPixelFast(X, 0), 0x40000000u | uint32_t(Want[X]) * 0x010101u)
                << C.Amount << " on " << 126 + X;
    }
}

namespace {

// One pass read off its description: in place, top to bottom, left to right, each
// partner past the right or bottom side folded back to side - index. Round adds 2
// before the shift; the description's plain shift leaves it out.
void Reference(TBitmap& B, int32_t D, bool Round)
{
    const int32_t W = B.Width(), H = B.Height();
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X) {
            const int32_t Up = Y - D >= 0 ? Y - D : Y, Down = Y + D < H ? Y + D : H - Y;
            const int32_t Left = X - D >= 0 ? X - D : X, Right = X + D < W ? X + D : W - X;
            for (int32_t Ch = 0; Ch < 3; ++Ch) {
                auto C = [&](int32_t Px, int32_t Py) { return int32_t(B.ScanLine(Py)[3 * Px + Ch]); };
                B.ScanLine(Y)[3 * X + Ch] =
                    uint8_t((C(Left, Up) + C(Left, Down) + C(Right, Up) + C(Right, Down) + (Round ? 2 : 0)) >> 2);
            }
        }
}

std::vector<uint8_t> Bytes(TBitmap& B)
{
    std::vector<uint8_t> V;
    for (int32_t Y = 0; Y < B.Height(); ++Y)
        V.insert(V.end(), B.ScanLine(Y), B.ScanLine(Y) + 3 * B.Width());
    return V;
}

} // namespace

TEST(SoftenEdgeFold, PartnersPastTheRightAndBottomFoldBackToSideMinusIndex)
{
    // Distances below half of each side, so every fold stays inside the picture: the
    // right partner of x >= W - d is W - x, the lower one of y >= H - d is H - y.
    struct Case {
        int32_t W, H, D;
    };
    const Case Cases[] = {{6, 6, 2}, {7, 5, 2}, {5, 9, 2}, {8, 8, 3}, {9, 7, 3}, {3, 3, 1}};
    for (const Case& C : Cases) {
        TBitmap B, R1, R2;
        for (TBitmap* P : {&B, &R1, &R2}) {
            P->SetPixelFormat(pf24bit);
            P->SetSize(C.W, C.H);
            for (int32_t Y = 0; Y < C.H; ++Y)
                for (int32_t I = 0; I < 3 * C.W; ++I)
                    P->ScanLine(Y)[I] = uint8_t((I * 37 + Y * 101 + (I * Y) % 7) & 0xFF);
        }
        DiagonalBlur(B, C.D);
        Reference(R1, C.D, true);
        Reference(R2, C.D, false);
        const std::vector<uint8_t> Got = Bytes(B);
        EXPECT_TRUE(Got == Bytes(R1) || Got == Bytes(R2)) << C.W << "x" << C.H << " d " << C.D;
    }
    TBitmap Corner;
    Corner.SetPixelFormat(pf24bit);
    Corner.SetSize(3, 3);
    for (int32_t Y = 0; Y < 3; ++Y)
        for (int32_t I = 0; I < 9; ++I)
            Corner.ScanLine(Y)[I] = 0;
    Corner.ScanLine(1)[3 + 1] = 128; // green of (1, 1)
    DiagonalBlur(Corner, 1);
    // (0, 0) reads (0, 0), (0, 1), (1, 0), (1, 1): 128 / 4 = 32; (1, 0) reads (0, 0), (0, 1),
    // (2, 0), (2, 1): 8; (2, 0) folds right to 3 - 2 = 1 and reads (1, 0) and (1, 1)
    // twice each: (8 + 128) / 2 = 68; (1, 1) reads (0, 0), (0, 2), (2, 0), (2, 2): 25;
    // (2, 2) folds right and down to 1 and reads (1, 1) four times: 25. Every sum is a
    // multiple of 4, whatever the rounding.
    EXPECT_EQ(Corner.ScanLine(0)[1], 32);
    EXPECT_EQ(Corner.ScanLine(0)[4], 8);
    EXPECT_EQ(Corner.ScanLine(0)[7], 68);
    EXPECT_EQ(Corner.ScanLine(1)[4], 25);
    EXPECT_EQ(Corner.ScanLine(2)[7], 25);
}
