#include "raster/Raster32_Transforms.h"

#include "raster/Raster32_Blend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

using namespace kv;

namespace {

constexpr TColor32 W = 0xFFFFFFFF, K = 0xFF000000;

void Fill(TBitmap32& B, int32_t Width, int32_t Height, TColor32 Color)
{
    B.SetSize(Width, Height);
    B.ClearTo(Color);
}

void FillRandom(TBitmap32& B, int32_t Width, int32_t Height, uint32_t Seed)
{
    B.SetSize(Width, Height);
    std::mt19937 rng(Seed);
    for (int64_t i = 0; i < int64_t(Width) * Height; ++i)
        B.Bits()[i] = rng();
}

TSinglePoint Apply(const TFloatMatrix& M, float X, float Y)
{
    return {M[0][0] * X + M[1][0] * Y + M[2][0], M[0][1] * X + M[1][1] * Y + M[2][1]};
}

bool SamePixels(TBitmap32& A, TBitmap32& B) { return TBitmap32::DataEquals(&A, &B); }

std::string Message(const std::function<void()>& F)
{
    try {
        F();
    } catch (const ETransformError& e) {
        return e.Message();
    }
    return "";
}

// The linear stretch pixel by pixel from its formulas: 16.16 positions from the clipped
// start by (SrcSize - 1) / DstSize, right and lower neighbours clamped to SrcRect, each
// finished row landed before the next is read (a bitmap stretched onto itself reads the
// rows already written). SrcRect lies inside Src; opaque or blended.
void ReferenceLinear(TBitmap32& Dst, const TRect& DstRect, TBitmap32& Src, const TRect& SrcRect)
{
    const int64_t left = std::max(DstRect.Left, 0), top = std::max(DstRect.Top, 0);
    const int64_t right = std::min(DstRect.Right, Dst.Width()), bottom = std::min(DstRect.Bottom, Dst.Height());
    if (right <= left || bottom <= top || Src.MasterAlpha() == 0)
        return;
    const int64_t srcW = SrcRect.Width(), srcH = SrcRect.Height(), dstW = DstRect.Width(), dstH = DstRect.Height();
    auto start = [](int64_t Off, int64_t SrcSize, int64_t DstSize) {
        // Off * (SrcSize - 1) * 65535 / DstSize, halves rounded up.
        const int64_t p = Off * (SrcSize - 1) * 65535, q = p / DstSize, r = p % DstSize;
        return 2 * r >= DstSize ? q + 1 : q;
    };
    const int64_t startX = start(left - DstRect.Left, srcW, dstW), startY = start(top - DstRect.Top, srcH, dstH);
    const int64_t stepX = ((srcW - 1) << 16) / dstW, stepY = ((srcH - 1) << 16) / dstH;
    std::vector<TColor32> row(size_t(right - left));
    for (int64_t y = top; y < bottom; ++y) {
        const int64_t py = startY + (y - top) * stepY;
        const int32_t r0 = int32_t(std::clamp<int64_t>(py >> 16, 0, srcH - 1)) + SrcRect.Top;
        const int32_t r1 = r0 == SrcRect.Bottom - 1 ? r0 : r0 + 1;
        const uint32_t wy = 255 - uint32_t((py >> 8) & 255);
        for (int64_t x = left; x < right; ++x) {
            const int64_t px = startX + (x - left) * stepX;
            const int32_t c0 = int32_t(std::clamp<int64_t>(px >> 16, 0, srcW - 1)) + SrcRect.Left;
            const int32_t c1 = c0 == SrcRect.Right - 1 ? c0 : c0 + 1;
            const uint32_t wx = 255 - uint32_t((px >> 8) & 255);
            row[size_t(x - left)] = MixPixel(MixPixel(Src.GetPixelFast(c0, r0), Src.GetPixelFast(c0, r1), wy),
                                             MixPixel(Src.GetPixelFast(c1, r0), Src.GetPixelFast(c1, r1), wy), wx);
        }
        TColor32* d = Dst.PixelAddress(int32_t(left), int32_t(y));
        if (Src.DrawMode() == dmOpaque)
            std::copy(row.begin(), row.end(), d);
        else if (Src.MasterAlpha() == 255)
            BlendRun(row.data(), d, int32_t(row.size()));
        else
            BlendRunMaster(row.data(), d, int32_t(row.size()), Src.MasterAlpha());
    }
}

} // namespace

TEST(Transfer, ChecksInOrder)
{
    TBitmap32 a, empty;
    Fill(a, 2, 2, K);
    EXPECT_EQ(Message([&] { CopyRectBlend(nullptr, 0, 0, nullptr, Rect(0, 0, 1, 1)); }),
              "Destination bitmap is nil or empty");
    EXPECT_EQ(Message([&] { CopyRectBlend(&empty, 0, 0, &a, Rect(0, 0, 1, 1)); }),
              "Destination bitmap is nil or empty");
    EXPECT_EQ(Message([&] { CopyRectBlend(&a, 0, 0, nullptr, Rect(0, 0, 1, 1)); }), "Source bitmap is nil or empty");
    EXPECT_EQ(Message([&] { StretchRectBlend(&a, Rect(0, 0, 2, 2), &a, Rect(0, 0, 3, 1)); }),
              "Source rectangle is invalid");
    EXPECT_EQ(Message([&] { StretchRectBlend(&a, Rect(0, 0, 2, 2), &a, Rect(1, 1, 1, 1)); }), "")
        << "an empty source rectangle draws nothing, silently";
}

TEST(Transfer, CopyRectBlendModes)
{
    TBitmap32 src, dst;
    Fill(src, 2, 2, 0x80FFFFFF);
    src.SetPixelFast(1, 1, 0x00123456);
    Fill(dst, 3, 3, K);
    CopyRectBlend(&dst, 1, 1, &src, Rect(0, 0, 5, 5)); // the copy clips to both
    EXPECT_EQ(dst.GetPixelFast(1, 1), 0x80FFFFFFu);
    EXPECT_EQ(dst.GetPixelFast(2, 2), 0x00123456u) << "dmOpaque copies all 32 bits";
    EXPECT_EQ(dst.GetPixelFast(0, 0), K);

    dst.ClearTo(K);
    src.SetDrawMode(dmBlend);
    CopyRectBlend(&dst, -1, -1, &src, Rect(0, 0, 2, 2));
    EXPECT_EQ(dst.GetPixelFast(0, 0), 0xFF000000u) << "alpha 0 leaves the destination";
    src.SetPixelFast(1, 1, 0x80FFFFFF);
    CopyRectBlend(&dst, -1, -1, &src, Rect(0, 0, 2, 2));
    EXPECT_EQ(dst.GetPixelFast(0, 0), BlendPixel(0x80FFFFFF, K));
    EXPECT_EQ(dst.GetPixelFast(1, 0), K);

    dst.ClearTo(K);
    src.SetMasterAlpha(128);
    CopyRectBlend(&dst, 0, 0, &src, Rect(0, 0, 2, 2));
    EXPECT_EQ(dst.GetPixelFast(0, 0), BlendPixelMaster(0x80FFFFFF, K, 128));
    src.SetMasterAlpha(0);
    dst.ClearTo(K);
    CopyRectBlend(&dst, 0, 0, &src, Rect(0, 0, 2, 2));
    EXPECT_EQ(dst.GetPixelFast(0, 0), K);

    src.SetDrawMode(dmCustom);
    int calls = 0;
    src.OnPixelCombine = [&](TColor32 F, TColor32& B, uint32_t M) {
        ++calls;
        B = F ^ M;
    };
    CopyRectBlend(&dst, 0, 0, &src, Rect(0, 0, 2, 2));
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(dst.GetPixelFast(0, 0), 0x80FFFFFFu);
}

TEST(Transfer, OverlappingCopyInOneBitmap)
{
    TBitmap32 b;
    b.SetSize(1, 4);
    for (int y = 0; y < 4; ++y)
        b.SetPixelFast(0, y, TColor32(y + 1));
    CopyRectBlend(&b, 0, 1, &b, Rect(0, 0, 1, 3));
    EXPECT_EQ(b.GetPixelFast(0, 1), 1u);
    EXPECT_EQ(b.GetPixelFast(0, 2), 2u);
    EXPECT_EQ(b.GetPixelFast(0, 3), 3u);
}

TEST(Stretch, NearestRepeatsPixels)
{
    TBitmap32 src, dst;
    src.SetSize(2, 2);
    const TColor32 c[4] = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004};
    for (int i = 0; i < 4; ++i)
        src.Bits()[i] = c[i];
    dst.SetSize(4, 4);
    StretchRectBlend(&dst, Rect(0, 0, 4, 4), &src, Rect(0, 0, 2, 2));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(dst.GetPixelFast(x, y), c[(y / 2) * 2 + x / 2]) << x << "," << y;
}

namespace {

// The nearest stretch pixel by pixel from its formulas: 16.16 positions from the clipped
// start by SrcSize / DstSize, the start scaled by (SrcSize - 1) / (DstSize - 1) when
// storing and by SrcSize / DstSize when blending (equal sizes stored are a copy); a
// stored row that repeats the source row above it is a copy of the row above, and each
// pixel is stored before the next is read.
void ReferenceNearest(TBitmap32& Dst, const TRect& DstRect, TBitmap32& Src, const TRect& SrcRect)
{
    const int64_t left = std::max(DstRect.Left, 0), top = std::max(DstRect.Top, 0);
    const int64_t right = std::min(DstRect.Right, Dst.Width()), bottom = std::min(DstRect.Bottom, Dst.Height());
    const bool opaque = Src.DrawMode() == dmOpaque;
    if (right <= left || bottom <= top || (!opaque && Src.MasterAlpha() == 0))
        return;
    const int64_t srcW = SrcRect.Width(), srcH = SrcRect.Height(), dstW = DstRect.Width(), dstH = DstRect.Height();
    if (opaque && srcW == dstW && srcH == dstH) {
        CopyRectBlend(&Dst, DstRect.Left, DstRect.Top, &Src, SrcRect);
        return;
    }
    auto start = [opaque](int64_t Off, int64_t SrcSize, int64_t DstSize) -> int64_t {
        const int64_t num = opaque ? SrcSize - 1 : SrcSize, den = opaque ? DstSize - 1 : DstSize;
        if (den == 0)
            return 0;
        const int64_t p = Off * num * 65535, q = p / den, r = p % den; // halves rounded up
        return 2 * r >= den ? q + 1 : q;
    };
    const int64_t startX = start(left - DstRect.Left, srcW, dstW), startY = start(top - DstRect.Top, srcH, dstH);
    int64_t lastRow = -1;
    for (int64_t y = top; y < bottom; ++y) {
        const int64_t sy = std::clamp<int64_t>((startY + (y - top) * ((srcH << 16) / dstH)) >> 16, 0, srcH - 1);
        for (int64_t x = left; x < right; ++x) {
            TColor32& d = *Dst.PixelAddress(int32_t(x), int32_t(y));
            if (opaque && sy == lastRow) {
                d = Dst.GetPixelFast(int32_t(x), int32_t(y - 1));
                continue;
            }
            const int64_t sx = std::clamp<int64_t>((startX + (x - left) * ((srcW << 16) / dstW)) >> 16, 0, srcW - 1);
            const TColor32 c = Src.GetPixelFast(int32_t(sx) + SrcRect.Left, int32_t(sy) + SrcRect.Top);
            if (opaque)
                d = c;
            else if (Src.MasterAlpha() < 255)
                BlendPixelMasterInPlace(c, d, Src.MasterAlpha());
            else
                BlendPixelInPlace(c, d);
        }
        lastRow = sy;
    }
}

} // namespace

// Seeded random pictures and rectangles, shrinking far and a little, enlarging, clipped,
// stored, blended and drawn onto the source itself: the nearest stretch gives the
// formula's pixels whichever way a row's pixels are picked.
TEST(Stretch, NearestMatchesTheFormulaOverRandomRects)
{
    std::mt19937 rng(404);
    auto pick = [&](int32_t Lo, int32_t Hi) { return Lo + int32_t(rng() % uint32_t(Hi - Lo + 1)); };
    for (int round = 0; round < 400; ++round) {
        TBitmap32 src, a, b;
        const int32_t sw = pick(1, 120), sh = pick(1, 30);
        FillRandom(src, sw, sh, rng());
        const int32_t sl = pick(0, sw - 1), st = pick(0, sh - 1);
        const TRect srcRect = Rect(sl, st, pick(sl + 1, sw), pick(st + 1, sh));
        const int32_t dw = pick(1, 130), dh = pick(1, 30);
        const int32_t dl = pick(-30, dw), dt = pick(-10, dh);
        const TRect dstRect = Rect(dl, dt, dl + pick(1, 250), dt + pick(1, 40));
        src.SetStretchFilter(sfNearest);
        src.SetDrawMode(round % 3 == 0 ? dmBlend : dmOpaque);
        src.SetMasterAlpha(round % 6 == 0 ? pick(0, 254) : 255);
        if (round % 5 == 4 && src.DrawMode() == dmOpaque &&
            (dstRect.Width() != srcRect.Width() || dstRect.Height() != srcRect.Height())) {
            a.Assign(&src);
            b.Assign(&src);
            StretchRectBlend(&a, dstRect, &a, srcRect);
            ReferenceNearest(b, dstRect, b, srcRect);
            ASSERT_TRUE(SamePixels(a, b)) << "onto itself " << round;
            continue;
        }
        FillRandom(a, dw, dh, rng());
        b.Assign(&a);
        StretchRectBlend(&a, dstRect, &src, srcRect);
        ReferenceNearest(b, dstRect, src, srcRect);
        ASSERT_TRUE(SamePixels(a, b)) << round;
    }
}

// Stretches whose results are large enough to be stored around the cache (over 4 MiB),
// into rows that start off a 64-byte line, stored and blended: a shrink to exactly half,
// a shrink to about two fifths and an enlargement, whose repeated rows are picked again,
// also onto the source itself, where they must stay copies of the row above.
TEST(Stretch, LargeStretchesMatchTheFormula)
{
    struct TCase {
        int32_t SrcW, SrcH;
        TRect SrcRect;
        int32_t DstW, DstH;
        TRect DstRect;
        bool Onto;
    };
    const TCase cases[] = {
        {2 * 1451 + 6, 2 * 760, Rect(5, 0, 2 * 1451 + 5, 2 * 760), 1455, 762, Rect(3, 1, 1454, 761), false},
        {3605, 2530, Rect(3, 2, 3603, 2527), 1447, 1013, Rect(1, 2, 1443, 1012), false},
        {1001, 703, Rect(1, 0, 1000, 701), 1509, 1053, Rect(5, 1, 1504, 1052), false},
        {1509, 1053, Rect(300, 200, 1300, 901), 1509, 1053, Rect(5, 1, 1504, 1052), true},
    };
    for (const TCase& c : cases) {
        TBitmap32 src;
        FillRandom(src, c.SrcW, c.SrcH, 31);
        src.SetStretchFilter(sfNearest);
        for (TDrawMode mode : {dmOpaque, dmBlend}) {
            if (c.Onto && mode != dmOpaque)
                continue; // a blend onto itself mixes pixels already stored
            TBitmap32 a, b;
            src.SetDrawMode(mode);
            if (c.Onto) {
                a.Assign(&src);
                b.Assign(&src);
                StretchRectBlend(&a, c.DstRect, &a, c.SrcRect);
                ReferenceNearest(b, c.DstRect, b, c.SrcRect);
            } else {
                FillRandom(a, c.DstW, c.DstH, 32);
                b.Assign(&a);
                StretchRectBlend(&a, c.DstRect, &src, c.SrcRect);
                ReferenceNearest(b, c.DstRect, src, c.SrcRect);
            }
            ASSERT_TRUE(SamePixels(a, b)) << c.SrcW << " " << int(mode);
        }
    }
}

TEST(Stretch, OnePixelDestinationStartsAtTheFirstSourcePixel)
{
    TBitmap32 src, dst;
    FillRandom(src, 5, 4, 7);
    Fill(dst, 3, 3, 0);
    StretchNearest(&dst, Rect(1, 1, 2, 2), &src, Rect(2, 1, 5, 4));
    EXPECT_EQ(dst.GetPixelFast(1, 1), src.GetPixelFast(2, 1));
    EXPECT_EQ(dst.GetPixelFast(0, 0), 0u);
}

TEST(Stretch, EqualSizesMatchCopyRectBlend)
{
    for (TStretchFilter f : {sfNearest, sfLinear2, sfSpline}) {
        TBitmap32 src, a, b;
        FillRandom(src, 6, 5, 11);
        src.SetStretchFilter(f);
        Fill(a, 8, 8, K);
        Fill(b, 8, 8, K);
        StretchRectBlend(&a, Rect(1, 2, 5, 5), &src, Rect(1, 1, 5, 4));
        CopyRectBlend(&b, 1, 2, &src, Rect(1, 1, 5, 4));
        EXPECT_TRUE(SamePixels(a, b)) << int(f);
    }
}

TEST(Stretch, LinearIsTheTableMix)
{
    TBitmap32 src, dst;
    FillRandom(src, 3, 3, 5);
    src.SetStretchFilter(sfLinear);
    dst.SetSize(7, 5);
    StretchRectBlend(&dst, Rect(0, 0, 7, 5), &src, Rect(0, 0, 3, 3));
    // By hand from the formulas: 16.16 positions from 0 by (SrcW - 1) / DstW.
    const int32_t stepX = (2 << 16) / 7, stepY = (2 << 16) / 5;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            int32_t px = x * stepX, py = y * stepY;
            int32_t i = px >> 16, r0 = py >> 16, r1 = r0 == 2 ? r0 : r0 + 1;
            uint32_t wy = 255 - ((py >> 8) & 255), wx = 255 - ((px >> 8) & 255);
            TColor32 right = MixPixel(src.GetPixelFast(i + 1, r0), src.GetPixelFast(i + 1, r1), wy);
            TColor32 left = MixPixel(src.GetPixelFast(i, r0), src.GetPixelFast(i, r1), wy);
            ASSERT_EQ(dst.GetPixelFast(x, y), MixPixel(left, right, wx)) << x << "," << y;
        }
}

// Seeded random pictures, source rectangles and destination rectangles reaching outside
// the destination, shrinking and enlarging, opaque and blended: the stretch gives the
// formula's pixels whichever way the rows are computed.
TEST(Stretch, LinearMatchesTheFormulaOverRandomRects)
{
    std::mt19937 rng(2024);
    auto pick = [&](int32_t Lo, int32_t Hi) { return Lo + int32_t(rng() % uint32_t(Hi - Lo + 1)); };
    for (int round = 0; round < 400; ++round) {
        TBitmap32 src, a, b;
        const int32_t sw = pick(1, 90), sh = pick(1, 40);
        FillRandom(src, sw, sh, rng());
        const int32_t sl = pick(0, sw - 1), st = pick(0, sh - 1);
        const TRect srcRect = Rect(sl, st, pick(sl + 1, sw), pick(st + 1, sh));
        const int32_t dw = pick(1, 100), dh = pick(1, 30);
        FillRandom(a, dw, dh, rng());
        b.Assign(&a);
        const int32_t dl = pick(-30, dw), dt = pick(-10, dh);
        const TRect dstRect = Rect(dl, dt, dl + pick(1, 160), dt + pick(1, 50));
        src.SetStretchFilter(sfLinear);
        src.SetDrawMode(round % 3 == 0 ? dmBlend : dmOpaque);
        src.SetMasterAlpha(round % 6 == 0 ? pick(1, 254) : 255);
        StretchRectBlend(&a, dstRect, &src, srcRect);
        ReferenceLinear(b, dstRect, src, srcRect);
        ASSERT_TRUE(SamePixels(a, b)) << round;
    }
}

// Rows wide enough for the stretch to work in several pieces and for every column-table
// shape of the vector kernels: the view's zooms (1, 1/2, 4) and sizes in between, clipped
// on either side.
TEST(Stretch, LinearMatchesTheFormulaOverWideRows)
{
    std::mt19937 rng(77);
    auto pick = [&](int32_t Lo, int32_t Hi) { return Lo + int32_t(rng() % uint32_t(Hi - Lo + 1)); };
    const double zooms[] = {1.0, 0.5, 4.0, 0.3, 0.7, 1.3, 2.5};
    for (int round = 0; round < 60; ++round) {
        TBitmap32 src, a, b;
        const int32_t sw = pick(2, 700), sh = pick(2, 12);
        FillRandom(src, sw, sh, rng());
        const double z = zooms[round % 7];
        const int32_t dw = pick(100, 600), dh = 6;
        FillRandom(a, dw, dh, rng());
        b.Assign(&a);
        const int32_t dl = pick(-300, 50), dt = pick(-3, 2);
        const TRect dstRect = Rect(dl, dt, dl + std::max(1, int32_t(sw * z)), dt + std::max(1, int32_t(sh * z)));
        src.SetStretchFilter(sfLinear);
        src.SetDrawMode(round % 2 ? dmBlend : dmOpaque);
        src.SetMasterAlpha(round % 4 == 1 ? pick(1, 254) : 255);
        StretchRectBlend(&a, dstRect, &src, Rect(0, 0, sw, sh));
        ReferenceLinear(b, dstRect, src, Rect(0, 0, sw, sh));
        ASSERT_TRUE(SamePixels(a, b)) << round;
    }
}

TEST(Stretch, LinearOntoItselfReadsTheRowsWritten)
{
    for (TDrawMode mode : {dmOpaque, dmBlend})
        for (const TRect& dstRect : {Rect(0, 20, 25, 40), Rect(3, 2, 70, 38), Rect(-5, 30, 40, 39)}) {
            TBitmap32 a, b;
            FillRandom(a, 64, 40, 77);
            b.Assign(&a);
            a.SetStretchFilter(sfLinear);
            a.SetDrawMode(mode);
            b.SetDrawMode(mode);
            StretchRectBlend(&a, dstRect, &a, Rect(0, 0, 64, 40));
            ReferenceLinear(b, dstRect, b, Rect(0, 0, 64, 40));
            EXPECT_TRUE(SamePixels(a, b)) << dstRect.Left << "," << dstRect.Top;
        }
}

TEST(Stretch, LinearOneColumnSourceStaysInside)
{
    TBitmap32 src, dst;
    FillRandom(src, 3, 2, 9);
    src.SetStretchFilter(sfLinear);
    dst.SetSize(4, 2);
    StretchRectBlend(&dst, Rect(0, 0, 4, 2), &src, Rect(1, 0, 2, 2));
    // Every column reads only source column 1: the right neighbour is clamped to SrcRect.
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(dst.GetPixelFast(x, 0), MixPixel(MixPixel(src.GetPixelFast(1, 0), src.GetPixelFast(1, 1), 255),
                                                   MixPixel(src.GetPixelFast(1, 0), src.GetPixelFast(1, 1), 255), 255));
}

TEST(Stretch, LinearAtZeroMasterAlphaDrawsNothing)
{
    TBitmap32 src, dst;
    Fill(src, 2, 2, W);
    src.SetStretchFilter(sfLinear);
    src.SetMasterAlpha(0);
    Fill(dst, 4, 4, K);
    StretchRectBlend(&dst, Rect(0, 0, 4, 4), &src, Rect(0, 0, 2, 2));
    EXPECT_EQ(dst.GetPixelFast(1, 1), K) << "even in dmOpaque";
}

TEST(MappingTable, ShrinkingLists)
{
    TMappingTable lin = BuildMappingTable(2, 4, 0, 4, sfLinear2);
    ASSERT_EQ(lin.size(), 2u);
    EXPECT_EQ(lin[0], (TMappingList{{0, 28}, {0, 57}, {0, 85}, {1, 57}, {2, 28}}));
    EXPECT_EQ(lin[1], (TMappingList{{1, 28}, {2, 57}, {3, 85}, {3, 57}, {3, 28}}));
    TMappingTable spl = BuildMappingTable(2, 4, 0, 4, sfSpline);
    TMappingList expected;
    const int w[11] = {1, 4, 14, 31, 49, 57, 49, 31, 14, 4, 1};
    const int idx[11] = {0, 0, 0, 0, 0, 0, 1, 2, 3, 3, 3};
    for (int i = 0; i < 11; ++i)
        expected.push_back({idx[i], w[i]});
    EXPECT_EQ(spl[0], expected);
}

TEST(MappingTable, EnlargingLists)
{
    TMappingTable lin = BuildMappingTable(4, 2, 0, 2, sfLinear2);
    ASSERT_EQ(lin.size(), 4u);
    EXPECT_EQ(lin[0], (TMappingList{{0, 256}}));
    EXPECT_EQ(lin[1], (TMappingList{{0, 171}, {1, 85}}));
    EXPECT_EQ(lin[2], (TMappingList{{0, 85}, {1, 171}}));
    EXPECT_EQ(lin[3], (TMappingList{{1, 256}}));
    TMappingTable spl = BuildMappingTable(4, 2, 0, 2, sfSpline);
    EXPECT_EQ(spl[0], (TMappingList{{0, 43}, {0, 171}, {1, 43}}));
}

TEST(MappingTable, NoListIsEverEmpty)
{
    for (TStretchFilter f : {sfLinear2, sfSpline}) {
        for (int dst : {1, 2, 3, 4}) {
            TMappingTable t = BuildMappingTable(dst, 2000, 0, 2000, f);
            ASSERT_EQ(int(t.size()), dst);
            for (const auto& list : t) {
                int sum = 0;
                for (const auto& e : list)
                    sum += e.Weight;
                EXPECT_GT(sum, 0) << dst;
            }
        }
        TMappingTable one = BuildMappingTable(1, 10, 0, 10, f);
        int sum = 0;
        for (const auto& e : one[0])
            sum += e.Weight;
        EXPECT_EQ(sum, 255) << "one destination pixel averages the source";
    }
}

TEST(Stretch, FilteredWhite)
{
    for (TStretchFilter f : {sfLinear2, sfSpline}) {
        TBitmap32 src, dst;
        Fill(src, 4, 4, W);
        src.SetStretchFilter(f);
        dst.SetSize(2, 2);
        StretchRectBlend(&dst, Rect(0, 0, 2, 2), &src, Rect(0, 0, 4, 4));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(dst.Bits()[i], 0xFDFDFDFDu) << int(f);
    }
    TBitmap32 src, dst;
    Fill(src, 2, 2, W);
    src.SetStretchFilter(sfLinear2);
    dst.SetSize(4, 4);
    StretchRectBlend(&dst, Rect(0, 0, 4, 4), &src, Rect(0, 0, 2, 2));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(dst.Bits()[i], W);
    Fill(src, 2, 1, W);
    dst.SetSize(4, 1);
    StretchRectBlend(&dst, Rect(0, 0, 4, 1), &src, Rect(0, 0, 2, 1));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dst.Bits()[i], 0xFEFEFEFEu);
}

// The spline, and the tent enlarging in both directions (pair lists, which the vector
// sets work on horizontally first and keep per source row), clipped on the left.
TEST(Stretch, FilteredEqualsTheTwoDimensionalSum)
{
    struct TCase {
        TStretchFilter Filter;
        TRect DstRect, SrcRect;
        int32_t DstW, DstH;
    };
    const TCase cases[] = {
        {sfSpline, Rect(-3, 2, 18, 6), Rect(1, 1, 8, 6), 20, 20},
        {sfLinear2, Rect(-3, 1, 38, 30), Rect(1, 1, 8, 6), 37, 31},
        {sfLinear2, Rect(0, 0, 29, 9), Rect(0, 0, 9, 7), 29, 9},
    };
    for (const TCase& c : cases) {
        TBitmap32 src, dst;
        FillRandom(src, 9, 7, 3);
        src.SetStretchFilter(c.Filter);
        dst.SetSize(c.DstW, c.DstH);
        StretchRectBlend(&dst, c.DstRect, &src, c.SrcRect);
        const TMappingTable h = BuildMappingTable(c.DstRect.Width(), 9, c.SrcRect.Left, c.SrcRect.Right, c.Filter);
        const TMappingTable v = BuildMappingTable(c.DstRect.Height(), 7, c.SrcRect.Top, c.SrcRect.Bottom, c.Filter);
        for (int y = std::max(c.DstRect.Top, 0); y < std::min(c.DstRect.Bottom, c.DstH); ++y)
            for (int x = std::max(c.DstRect.Left, 0); x < std::min(c.DstRect.Right, c.DstW); ++x) {
                uint32_t sums[4] = {0, 0, 0, 0};
                for (const auto& ve : v[size_t(y - c.DstRect.Top)])
                    for (const auto& he : h[size_t(x - c.DstRect.Left)]) {
                        TColor32 p = src.GetPixelFast(he.Index, ve.Index);
                        for (int ch = 0; ch < 4; ++ch)
                            sums[ch] += ((p >> (8 * ch)) & 255) * uint32_t(he.Weight * ve.Weight);
                    }
                TColor32 expected = 0;
                for (int ch = 0; ch < 4; ++ch)
                    expected |= (std::min(sums[ch], 0xFF0000u) >> 16) << (8 * ch);
                ASSERT_EQ(dst.GetPixelFast(x, y), expected) << int(c.Filter) << " " << x << "," << y;
            }
    }
}

// 2000 x 3 to n x 1: the three rows average with weights 85 each. One target column
// averages the whole row: 255 of the 2000 columns get weight 1 (the ones where
// 255 * (k + 1) / 2000 steps up). Two to four columns shrink so far that every quantised
// weight rounds to 0, so each takes its nearest source column with weight 255. A channel
// of 255 sums to 255 * 255 * 255 = 0xFD02FF: 253.
TEST(Stretch, HugeShrinkNeverAsserts)
{
    constexpr TColor32 Black = 0xFD000000, White = 0xFDFDFDFD;
    TBitmap32 src, dst;
    src.SetSize(2000, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 2000; ++x)
            src.SetPixelFast(x, y, x < 1100 ? K : W);
    struct Case {
        int n;
        std::vector<TColor32> Expected;
    };
    // One column: 115 of the weighted columns are white (k = Ceil(2000 j / 255) - 1 >= 1100
    // for j = 141 .. 255): 115 * 255 * 255 = 0x721A73, channel 0x72; alpha 253 as above.
    // Centres of the others: 0, 1999 | 0, 999.5, 1999 | 0, 666.3, 1332.7, 1999.
    const Case Cases[] = {
        {1, {0xFD727272}}, {2, {Black, White}}, {3, {Black, Black, White}}, {4, {Black, Black, White, White}}};
    for (TStretchFilter f : {sfLinear2, sfSpline}) {
        src.SetStretchFilter(f);
        for (const Case& c : Cases) {
            Fill(dst, c.n, 1, 0);
            StretchRectBlend(&dst, Rect(0, 0, c.n, 1), &src, Rect(0, 0, 2000, 3));
            for (int x = 0; x < c.n; ++x)
                EXPECT_EQ(dst.GetPixelFast(x, 0), c.Expected[size_t(x)])
                    << "filter " << int(f) << ", " << c.n << " columns, column " << x;
        }
    }
    // All white: every column of every width is 253 in each channel.
    TBitmap32 white;
    Fill(white, 2000, 3, W);
    for (TStretchFilter f : {sfLinear2, sfSpline}) {
        white.SetStretchFilter(f);
        for (int n : {1, 2, 3, 4}) {
            Fill(dst, n, 1, 0);
            StretchRectBlend(&dst, Rect(0, 0, n, 1), &white, Rect(0, 0, 2000, 3));
            for (int x = 0; x < n; ++x)
                EXPECT_EQ(dst.GetPixelFast(x, 0), White) << n << " columns, column " << x;
        }
    }
}

TEST(Affine, RotateTranslateAndPrepare)
{
    TAffineTransformation t;
    t.Rotate(0, 0, 90);
    TSinglePoint p = Apply(t.Matrix(), 1, 0);
    EXPECT_NEAR(p.X, 0, 1e-6);
    EXPECT_NEAR(p.Y, -1, 1e-6);
    p = Apply(t.Matrix(), 0, 1);
    EXPECT_NEAR(p.X, 1, 1e-6);
    EXPECT_NEAR(p.Y, 0, 1e-6);

    for (float cx : {5.0f, 0.0f}) {
        TAffineTransformation r;
        r.Rotate(cx, 50, 90); // centred whenever either coordinate is non-zero
        p = Apply(r.Matrix(), cx, 50);
        EXPECT_NEAR(p.X, cx, 1e-4);
        EXPECT_NEAR(p.Y, 50, 1e-4);
    }

    TAffineTransformation m;
    m.Translate(10.5f, 0);
    m.Prepare();
    EXPECT_EQ(m.A, 4096);
    EXPECT_EQ(m.E, 4096);
    EXPECT_EQ(m.B, 0);
    EXPECT_EQ(m.D, 0);
    EXPECT_EQ(m.F, 0);
    EXPECT_EQ(m.C, -43008);
    int32_t sx = 0, sy = 0;
    ASSERT_TRUE(m.ReverseMapInt(20, 3, sx, sy));
    EXPECT_EQ(sx, 9);
    EXPECT_EQ(sy, 3);
    ASSERT_TRUE(m.ReverseMapFixed(20, 3, sx, sy));
    EXPECT_EQ(sx, 2432);
    m.Scale(2, 2);
    EXPECT_FALSE(m.Prepared()) << "every change clears Prepared";
}

TEST(Affine, DestBoundsRoundHalvesToEven)
{
    TAffineTransformation t;
    t.SetSourceRect(MakeSingleRect(0, 0, 10, 10));
    EXPECT_EQ(t.GetDestBounds(), Rect(0, 0, 10, 10));
}

TEST(Affine, ReverseMapBeyondThirtyTwoBitsMapsNowhere)
{
    TAffineTransformation t;
    t.Scale(0.01f, 0.01f); // inverse scale 100: A = 409600
    t.Prepare();
    EXPECT_EQ(t.A, 409600);
    int32_t sx = 0, sy = 0;
    EXPECT_FALSE(t.ReverseMapInt(1 << 30, 0, sx, sy)) << "the 64-bit sum does not wrap into range";
    EXPECT_FALSE(t.ReverseMapFixed(1 << 30, 0, sx, sy));
    ASSERT_TRUE(t.ReverseMapInt(3, 0, sx, sy));
    EXPECT_EQ(sx, 300);
}

TEST(Projective, IdentityQuadMapsEveryPixelToItself)
{
    TProjectiveTransformation t;
    t.SetSourceRect(MakeSingleRect(0, 0, 7, 5));
    t.SetQuadX1(7);
    t.SetQuadX2(7);
    t.SetQuadY2(5);
    t.SetQuadY3(5);
    t.Prepare();
    ASSERT_TRUE(t.Usable());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            int32_t sx, sy;
            ASSERT_TRUE(t.ReverseMapInt(x, y, sx, sy));
            EXPECT_EQ(sx, x);
            EXPECT_EQ(sy, y);
            ASSERT_TRUE(t.ReverseMapFixed(x, y, sx, sy));
            EXPECT_EQ(sx, x * 256);
        }
    EXPECT_EQ(t.GetDestBounds(), Rect(0, 0, 8, 6)); // Round(7.5) = 8, Round(5.5) = 6
}

TEST(Projective, DegenerateQuadIsUnusable)
{
    TBitmap32 src, dst;
    Fill(src, 4, 4, W);
    Fill(dst, 8, 8, K);
    TProjectiveTransformation t;
    t.SetSourceRect(MakeSingleRect(0, 0, 4, 4));
    // Corners 1 and 2 dragged onto corner 0: collinear.
    t.SetQuadX3(0);
    t.SetQuadY3(6);
    EXPECT_NO_THROW(DrawTransformed(&dst, &src, &t));
    EXPECT_FALSE(t.Usable());
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(dst.Bits()[i], K);
    TProjectiveTransformation empty;
    empty.SetQuadX1(4);
    empty.SetQuadX2(4);
    empty.SetQuadY2(4);
    empty.SetQuadY3(4);
    empty.Prepare();
    EXPECT_FALSE(empty.Usable()) << "an empty source rectangle";
}

TEST(DrawTransformedTest, IdentityNearestCopiesTheSourceRectangle)
{
    TBitmap32 src, dst;
    FillRandom(src, 6, 6, 21);
    Fill(dst, 6, 6, K);
    TAffineTransformation t;
    t.SetSourceRect(MakeSingleRect(1, 1, 4, 4));
    DrawTransformed(&dst, &src, &t);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            bool inside = x >= 1 && x <= 4 && y >= 1 && y <= 4;
            EXPECT_EQ(dst.GetPixelFast(x, y), inside ? src.GetPixelFast(x, y) : K) << x << "," << y;
        }
}

TEST(DrawTransformedTest, BilinearHalfPixelShift)
{
    TBitmap32 src, dst;
    src.SetSize(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src.SetPixelFast(x, y, x % 2 ? W : K);
    src.SetStretchFilter(sfLinear);
    Fill(dst, 4, 4, 0);
    TAffineTransformation t;
    t.SetSourceRect(MakeSingleRect(0, 0, 4, 4));
    t.Translate(-0.5f, 0);
    DrawTransformed(&dst, &src, &t);
    // (1, 1) maps to 1.5 in 24.8 (384): between columns 1 and 2 with weight 127 on 1.
    TColor32 top = MixPixel(W, K, 127);
    EXPECT_EQ(dst.GetPixelFast(1, 1), MixPixel(top, top, 255));
}

TEST(DrawTransformedTest, EmptyBitmapsDrawNothing)
{
    TBitmap32 src, dst, empty;
    Fill(src, 3, 3, W);
    Fill(dst, 3, 3, K);
    TAffineTransformation t;
    t.SetSourceRect(MakeSingleRect(0, 0, 3, 3));
    EXPECT_NO_THROW(DrawTransformed(&dst, &empty, &t));
    EXPECT_NO_THROW(DrawTransformed(&empty, &src, &t));
    EXPECT_NO_THROW(DrawTransformed(&dst, nullptr, &t));
    EXPECT_EQ(dst.GetPixelFast(1, 1), K);
    // A one-pixel source is a real area.
    TBitmap32 one;
    Fill(one, 1, 1, W);
    TAffineTransformation u;
    u.SetSourceRect(MakeSingleRect(0, 0, 1, 1));
    DrawTransformed(&dst, &one, &u);
    EXPECT_EQ(dst.GetPixelFast(0, 0), W);
}

namespace {

// DrawTransformed pixel by pixel from its formulas: every destination pixel of the
// clipped bounds mapped back on its own, sampled (nearest, or bilinear with the clipped
// reads near the border) and landed by the mode.
void ReferenceTransformed(TBitmap32& Dst, TBitmap32& Src, TTransformation& T)
{
    TRect srcArea, dstArea;
    if (!IntersectRects(srcArea, SingleRectToRect(T.SrcRect(), rrClosest),
                        Rect(0, 0, Src.Width() - 1, Src.Height() - 1)) ||
        !IntersectRects(dstArea, T.GetDestBounds(), Rect(0, 0, Dst.Width() - 1, Dst.Height() - 1)))
        return;
    for (int32_t y = dstArea.Top; y <= dstArea.Bottom; ++y)
        for (int32_t x = dstArea.Left; x <= dstArea.Right; ++x) {
            int32_t sx, sy;
            TColor32 c;
            if (Src.StretchFilter() == sfNearest) {
                if (!T.ReverseMapInt(x, y, sx, sy) || sx < srcArea.Left || sx > srcArea.Right || sy < srcArea.Top ||
                    sy > srcArea.Bottom)
                    continue;
                c = Src.GetPixelFast(sx, sy);
            } else {
                if (!T.ReverseMapFixed(x, y, sx, sy))
                    continue;
                const int32_t X = sx >> 8, Y = sy >> 8;
                if (X < -1 || Y < -1 || X >= srcArea.Right || Y >= srcArea.Bottom)
                    continue;
                const uint32_t wx = 255 - uint32_t(sx & 255), wy = 255 - uint32_t(sy & 255);
                const TColor32 top = MixPixel(Src.GetPixelClipped(X, Y), Src.GetPixelClipped(X + 1, Y), wx);
                const TColor32 bottom = MixPixel(Src.GetPixelClipped(X, Y + 1), Src.GetPixelClipped(X + 1, Y + 1), wx);
                c = MixPixel(top, bottom, wy);
            }
            TColor32& d = *Dst.PixelAddress(x, y);
            if (Src.DrawMode() == dmOpaque)
                d = c;
            else
                BlendPixelMasterInPlace(c, d, Src.MasterAlpha());
        }
}

} // namespace

// Seeded random rotations, scalings and shifts, partly outside either bitmap, with
// source rectangles inside the picture or reaching past it: rows drawn in one piece
// (the columns with a colour and the inner ones found by arithmetic) give the pixels of
// the pixel-by-pixel formulas, also for a picture drawn onto itself.
TEST(DrawTransformedTest, AffineMatchesTheFormulaOverRandomMaps)
{
    std::mt19937 rng(31);
    auto pick = [&](int32_t Lo, int32_t Hi) { return Lo + int32_t(rng() % uint32_t(Hi - Lo + 1)); };
    for (int round = 0; round < 300; ++round) {
        TBitmap32 src, a, b;
        const int32_t sw = pick(1, 70), sh = pick(1, 50);
        FillRandom(src, sw, sh, rng());
        src.SetOuterColor(rng());
        FillRandom(a, pick(1, 90), pick(1, 60), rng());
        b.Assign(&a);
        const int sort = round % 4;
        src.SetStretchFilter(sort == 3 ? sfNearest : sfLinear);
        src.SetDrawMode(sort == 1 ? dmBlend : dmOpaque);
        src.SetMasterAlpha(sort == 1 ? pick(1, 255) : 255);
        TAffineTransformation t;
        t.SetSourceRect(MakeSingleRect(float(pick(-5, sw / 2)), float(pick(-5, sh / 2)), float(pick(sw / 2, sw + 5)),
                                       float(pick(sh / 2, sh + 5))));
        t.Rotate(float(pick(1, sw)), float(pick(1, sh)), float(pick(-360, 360)) + float(rng() % 100) / 100);
        const float scale = round % 5 == 0 ? float(pick(1, 40)) / 8 : 1.0f;
        t.Scale(scale, round % 7 == 0 ? 1 / scale : scale);
        t.Translate(float(pick(-20, 40)) + float(rng() % 64) / 64, float(pick(-20, 30)));
        DrawTransformed(&a, &src, &t);
        ReferenceTransformed(b, src, t);
        ASSERT_TRUE(SamePixels(a, b)) << round;
        if (src.DrawMode() == dmOpaque) {
            // Onto itself: each pixel stored before the next is read, row by row.
            a.Assign(&src);
            b.Assign(&src);
            DrawTransformed(&a, &a, &t);
            ReferenceTransformed(b, b, t);
            ASSERT_TRUE(SamePixels(a, b)) << "onto itself " << round;
        }
    }
}

TEST(ClearBorderAlphaTest, OutlineOnly)
{
    for (TRect r : {Rect(3, 2, 0, 0), Rect(0, 0, 4, 3)}) {
        TBitmap32 b;
        Fill(b, 4, 3, W);
        ClearBorderAlpha(&b, r);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                bool kept = (x == 1 || x == 2) && y == 1;
                EXPECT_EQ(b.GetPixelFast(x, y), kept ? W : 0x00FFFFFFu) << x << "," << y;
            }
    }
    TBitmap32 empty;
    EXPECT_NO_THROW(ClearBorderAlpha(&empty, Rect(0, 0, 4, 4)));
}

TEST(Matrix, InvertAndSingular)
{
    TFloatMatrix m;
    m[0][0] = 2;
    m[1][1] = 4;
    m[2][0] = 6;
    TFloatMatrix inv = Invert(m);
    TFloatMatrix id = Mult(m, inv);
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR(id[c][r], c == r ? 1 : 0, 1e-6);
    TFloatMatrix singular;
    singular[0][0] = 0;
    TFloatMatrix fallback = Invert(singular);
    EXPECT_EQ(fallback[0][0], 1.0f);
    EXPECT_EQ(fallback[1][1], 1.0f);
}

TEST(BitmapWrappers, DrawOntoAndRect)
{
    TBitmap32 src, dst;
    Fill(src, 2, 2, W);
    Fill(dst, 4, 4, K);
    int changes = 0;
    dst.OnChange = [&](TObject*) { ++changes; };
    src.DrawOntoAt(&dst, 1, 1);
    EXPECT_EQ(dst.GetPixelFast(2, 2), W);
    EXPECT_EQ(dst.GetPixelFast(0, 0), K);
    EXPECT_EQ(changes, 1);
    dst.ClearTo(K);
    src.DrawOntoRect(&dst, Rect(0, 0, 4, 4));
    EXPECT_EQ(dst.GetPixelFast(3, 3), W);
    TBitmap32 empty;
    empty.DrawOnto(&dst);
    dst.DrawFrom(0, 0, nullptr);
}
