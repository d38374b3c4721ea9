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

// One pass: each pixel from the picture as it was before the pass, a partner past any
// side replaced by the pixel's own row or column, the sum rounded (+ 2) before the shift.
void Reference(TBitmap& B, int32_t D)
{
    const int32_t W = B.Width(), H = B.Height();
    std::vector<std::vector<uint8_t>> Src(H);
    for (int32_t Y = 0; Y < H; ++Y)
        Src[Y].assign(B.ScanLine(Y), B.ScanLine(Y) + 3 * W);
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X) {
            const int32_t Up = Y - D >= 0 ? Y - D : Y, Down = Y + D < H ? Y + D : Y;
            const int32_t Left = X - D >= 0 ? X - D : X, Right = X + D < W ? X + D : X;
            for (int32_t Ch = 0; Ch < 3; ++Ch) {
                auto C = [&](int32_t Px, int32_t Py) { return int32_t(Src[Py][3 * Px + Ch]); };
                B.ScanLine(Y)[3 * X + Ch] =
                    uint8_t((C(Left, Up) + C(Left, Down) + C(Right, Up) + C(Right, Down) + 2) >> 2);
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

TEST(SoftenEdgeFold, PartnersPastAnySideTakeThePixelsOwnRowOrColumn)
{
    struct Case {
        int32_t W, H, D;
    };
    const Case Cases[] = {{6, 6, 2}, {7, 5, 2}, {5, 9, 2}, {8, 8, 3}, {9, 7, 3}, {3, 3, 1}, {4, 2, 3}};
    for (const Case& C : Cases) {
        TBitmap B, R;
        for (TBitmap* P : {&B, &R}) {
            P->SetPixelFormat(pf24bit);
            P->SetSize(C.W, C.H);
            for (int32_t Y = 0; Y < C.H; ++Y)
                for (int32_t I = 0; I < 3 * C.W; ++I)
                    P->ScanLine(Y)[I] = uint8_t((I * 37 + Y * 101 + (I * Y) % 7) & 0xFF);
        }
        DiagonalBlur(B, C.D);
        Reference(R, C.D);
        EXPECT_EQ(Bytes(B), Bytes(R)) << C.W << "x" << C.H << " d " << C.D;
    }
    TBitmap Corner;
    Corner.SetPixelFormat(pf24bit);
    Corner.SetSize(3, 3);
    for (int32_t Y = 0; Y < 3; ++Y)
        for (int32_t I = 0; I < 9; ++I)
            Corner.ScanLine(Y)[I] = 0;
    Corner.ScanLine(1)[3 + 1] = 128; // green of (1, 1)
    DiagonalBlur(Corner, 1);
    // Each corner's partners include (1, 1) once: (128 + 2) / 4 = 32. The middle of a side
    // and the centre read only the picture's corners and edge middles of the other axis,
    // all 0: nothing carries over from pixels already blurred.
    EXPECT_EQ(Corner.ScanLine(0)[1], 32);
    EXPECT_EQ(Corner.ScanLine(0)[4], 0);
    EXPECT_EQ(Corner.ScanLine(0)[7], 32);
    EXPECT_EQ(Corner.ScanLine(1)[4], 0);
    EXPECT_EQ(Corner.ScanLine(2)[1], 32);
    EXPECT_EQ(Corner.ScanLine(2)[7], 32);
}
