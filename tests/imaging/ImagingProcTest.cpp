#include "imaging/ImagingProc.h"
#include "imaging/ImagingIO.h"
#include "imaging/ImagingProcComponent.h"
#include "platform/KvExtCtrls.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <string>
#include <vector>

using namespace kv;

namespace {

// Grey rows of a 24-bit picture, one vector a row.
void SetGrey(TBitmap& b, const std::vector<std::vector<uint8_t>>& rows)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(int32_t(rows[0].size()), int32_t(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x)
            std::memset(b.ScanLine(int32_t(y)) + 3 * x, rows[y][x], 3);
}

std::vector<uint8_t> GreyRow(const TBitmap& b, int32_t y)
{
    std::vector<uint8_t> v;
    for (int32_t x = 0; x < b.Width(); ++x) {
        const uint8_t* p = b.ScanLine(y) + 3 * x;
        EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "pixel " << x << " is not grey";
        v.push_back(p[0]);
    }
    return v;
}

// 1-bit rows written as "1001...".
void SetBits(TBitmap& b, const std::vector<std::string>& rows)
{
    b.SetPixelFormat(pf1bit);
    b.SetSize(int32_t(rows[0].size()), int32_t(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x)
            SetBit(b.ScanLine(int32_t(y)), int32_t(x), rows[y][x] == '1');
}

std::string BitRow(const TBitmap& b, int32_t y)
{
    std::string s;
    for (int32_t x = 0; x < b.Width(); ++x)
        s += GetBit(b.ScanLine(y), x) ? '1' : '0';
    return s;
}

// Pixel (x, y) of a 24-bit picture as 0xRRGGBB.
uint32_t Rgb(const TBitmap& b, int32_t x, int32_t y)
{
    const uint8_t* p = b.ScanLine(y) + 3 * x;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// Every pixel a different colour: 0xYYXX00 + 0x010101.
void Numbered(TBitmap& b, int32_t w, int32_t h)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = 1, p[1] = uint8_t(x + 1), p[2] = uint8_t(y + 1);
        }
}

uint32_t NumberOf(int32_t x, int32_t y) { return uint32_t(y + 1) << 16 | uint32_t(x + 1) << 8 | 1; }

} // namespace

TEST(ProcHelpers, CeilFloorSwapAndColour)
{
    EXPECT_EQ(IECeil(1.2), 2);
    EXPECT_EQ(IECeil(-1.2), -1);
    EXPECT_EQ(IECeil(3.0), 3);
    EXPECT_EQ(IEFloor(-0.5), -1);
    EXPECT_EQ(IEFloor(0.5), 0);
    EXPECT_EQ(IEFloor(-2.0), -2);
    EXPECT_EQ(IESwapRB(0x11223344u), 0x11443322u);
    EXPECT_EQ(ColorToTRGB(RGB(10, 20, 30)), CreateRGB(10, 20, 30));
    EXPECT_EQ(IEAngleText(30), "30");
    EXPECT_EQ(IEAngleText(-22.5), "-22.5");
    EXPECT_EQ(IEAngleText(1e20), "1E20");
}

TEST(Resample, TriangleKernelValuesFromTheirContributors)
{
    TBitmap src, dst;
    SetGrey(src, {{0, 100, 200, 255}});
    // Column 0: sources 1, 0, 1 (-1 mirrored) weighted .25, .5, .25; column 1:
    // 1, 2, 3 gives 188.75, truncated.
    IEResampleFiltered(src, dst, 2, 1, 1, nullptr);
    EXPECT_EQ(GreyRow(dst, 0), (std::vector<uint8_t>{50, 188}));
    SetGrey(src, {{0, 200}});
    IEResampleFiltered(src, dst, 4, 1, 1, nullptr); // index 2 mirrors to 1
    EXPECT_EQ(GreyRow(dst, 0), (std::vector<uint8_t>{0, 100, 200, 200}));
    // The vertical pass uses the same contributors.
    SetGrey(src, {{0}, {100}, {200}, {255}});
    IEResampleFiltered(src, dst, 1, 2, 1, nullptr);
    EXPECT_EQ(GreyRow(dst, 0)[0], 50);
    EXPECT_EQ(GreyRow(dst, 1)[0], 188);
}

TEST(Resample, ByteResamplersRoundHalfToEvenWhereTheColourOneTruncates)
{
    // 2 -> 5 wide: target 1 has centre 0.4, weights .6 and .4: 127.6.
    // 4 -> 2 wide: target 0 is the mean of sources 0 and 1: 127.5 and 126.5.
    struct TCase {
        std::vector<uint8_t> Src;
        int32_t NewWidth;
        size_t At;
        uint8_t Colour, Byte;
    };
    const TCase cases[] = {
        {{128, 127}, 5, 1, 127, 128},
        {{127, 128, 0, 0}, 2, 0, 127, 128},
        {{126, 127, 0, 0}, 2, 0, 126, 126},
    };
    for (const TCase& c : cases) {
        TBitmap src, dst;
        SetGrey(src, {c.Src});
        IEResampleFiltered(src, dst, c.NewWidth, 1, 1, nullptr);
        EXPECT_EQ(GreyRow(dst, 0)[c.At], c.Colour);
        TIEMask mask, out;
        mask.AllocateBits(int32_t(c.Src.size()), 1, 8);
        std::memcpy(mask.ScanLine(0), c.Src.data(), c.Src.size());
        IEResampleMask(mask, out, c.NewWidth, 1, 1);
        ASSERT_EQ(out.Width(), c.NewWidth);
        EXPECT_EQ(out.ScanLine(0)[c.At], c.Byte);
    }
    // 1-bit: sources 0, 1 give 127.5 -> 128; sources 1, 2, 3 give 63.75 -> 64.
    TBitmap bits, grey;
    SetBits(bits, {"0100"});
    IEResample1Bit(bits, grey, 2, 1, 1);
    EXPECT_EQ(GreyRow(grey, 0), (std::vector<uint8_t>{128, 64}));
}

TEST(Resample, OnePixelSourceFillsTheTarget)
{
    TBitmap src, dst;
    src.SetPixelFormat(pf24bit);
    src.SetSize(1, 1);
    src.ScanLine(0)[2] = 255; // red
    for (uint8_t filter = 1; filter <= 9; ++filter) {
        IEResampleFiltered(src, dst, 3, 2, filter, nullptr);
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 3; ++x)
                EXPECT_EQ(Rgb(dst, x, y), 0xFF0000u) << int(filter);
    }
    TIEMask mask, out;
    mask.AllocateBits(1, 1, 8);
    mask.Fill(200);
    IEResampleMask(mask, out, 4, 3, 5);
    EXPECT_EQ(out.GetPixel(3, 2), 200);
    EXPECT_EQ(out.GetPixel(0, 0), 200);
}

TEST(Resample, FastPathsOfOtherDepths)
{
    // An 8-bit source is converted through its palette, not read as 24-bit rows.
    TBitmap src, dst;
    src.SetPixelFormat(pf8bit);
    std::vector<TPaletteEntry> pal(256);
    for (int i = 0; i < 256; ++i)
        pal[size_t(i)] = TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    src.SetPaletteEntries(pal);
    src.SetSize(3, 1);
    src.ScanLine(0)[0] = 10, src.ScanLine(0)[1] = 30, src.ScanLine(0)[2] = 50;
    IEFastLinearResample(src, dst, 2, 1, nullptr); // windows 0..1 and 1..1
    EXPECT_EQ(GreyRow(dst, 0), (std::vector<uint8_t>{20, 30}));

    // 1-bit fast path: a copy, the shrink, or 0/255 interpolated with the next pixel
    // clamped: 255 + ((0 - 255) * 65536 shr 17) = 127.
    TBitmap bits, grey;
    SetBits(bits, {"10"});
    IEResample1Bit(bits, grey, 2, 1, 9);
    EXPECT_EQ(GreyRow(grey, 0), (std::vector<uint8_t>{255, 0}));
    IEResample1Bit(bits, grey, 4, 1, 9);
    EXPECT_EQ(GreyRow(grey, 0), (std::vector<uint8_t>{255, 127, 0, 0}));
    SetBits(bits, {"1100", "1000"});
    IEResample1Bit(bits, grey, 2, 1, 9);
    EXPECT_EQ(GreyRow(grey, 0), (std::vector<uint8_t>{191, 0}));
}

TEST(Resample, PlainStretchPicksTheNearestPixel)
{
    TBitmap bits, out;
    SetBits(bits, {"10"});
    IEStretchPlain(bits, out, 4, 2);
    ASSERT_EQ(out.PixelFormat(), pf1bit);
    EXPECT_EQ(BitRow(out, 0), "1100");
    EXPECT_EQ(BitRow(out, 1), "1100");
    TBitmap rgb;
    Numbered(rgb, 2, 2);
    IEStretchPlain(rgb, out, 4, 1);
    ASSERT_EQ(out.PixelFormat(), pf24bit);
    EXPECT_EQ(Rgb(out, 1, 0), NumberOf(0, 0));
    EXPECT_EQ(Rgb(out, 2, 0), NumberOf(1, 0));
}

TEST(Shrink1Bit, BlocksGiveTheShareOfSetBits)
{
    TBitmap bits, grey;
    SetBits(bits, {"0010101111", "0000101011"});
    grey.SetPixelFormat(pf24bit);
    grey.SetSize(5, 1);
    IEShrink1Bit(bits, 0, 0, 9, 1, grey);
    EXPECT_EQ(GreyRow(grey, 0), (std::vector<uint8_t>{0, 63, 127, 191, 255}));

    // A rectangle past the picture is clipped to it; one with nothing left does nothing.
    TBitmap one;
    one.SetPixelFormat(pf24bit);
    one.SetSize(1, 1);
    IEShrink1Bit(bits, 6, 0, 40, 40, one); // columns 6..9, rows 0..1: 7 of 8 set
    EXPECT_EQ(GreyRow(one, 0)[0], 223);
    one.ScanLine(0)[0] = 7;
    IEShrink1Bit(bits, 5, 0, 4, 1, one);
    IEShrink1Bit(bits, 10, 0, 12, 1, one);
    EXPECT_EQ(one.ScanLine(0)[0], 7);

    // The raw form: bottom-up rows padded to 4 bytes, in and out.
    const uint8_t raw[8] = {0x0A, 0xC0, 0, 0, 0x2B, 0xC0, 0, 0}; // row 1, then row 0
    TIEPixelBlock block = IEShrink1Bit(raw, 10, 2, 0, 0, 9, 1, 5, 1);
    ASSERT_TRUE(block);
    const uint8_t want[5] = {0, 63, 127, 191, 255};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(block.get()[3 * c + 1], want[c]);
    EXPECT_FALSE(IEShrink1Bit(raw, 10, 2, 0, 0, 9, 1, 0, 1));
    EXPECT_FALSE(IEShrink1Bit(raw, 10, 2, 9, 0, 3, 1, 2, 1));
}

TEST(Resample, MasksOfBothDepths)
{
    // A 1-bit mask is expanded to 0/255 bytes first.
    TIEMask one, out;
    one.AllocateBits(4, 1, 1);
    one.SetPixel(1, 0, 1);
    IEResampleMask(one, out, 2, 1, 1);
    ASSERT_EQ(out.BitsPerPixel(), 8);
    EXPECT_EQ(out.GetPixel(0, 0), 128);
    EXPECT_EQ(out.GetPixel(1, 0), 64);
    TIEMask empty;
    out.AllocateBits(3, 3, 8);
    IEResampleMask(empty, out, 2, 2, 1);
    EXPECT_EQ(out.Width(), 3);
    for (uint8_t filter : {1, 9}) { // no target side: nothing to do
        IEResampleMask(one, out, 0, 1, filter);
        EXPECT_EQ(out.Width(), 3);
    }
}

TEST(QuarterTurns, MapPixelsAsStated)
{
    TBitmap src, dst;
    Numbered(src, 3, 2);
    Rotate90Right(src, dst);
    ASSERT_EQ(dst.Width(), 2);
    ASSERT_EQ(dst.Height(), 3);
    Rotate90Left(src, dst);
    ASSERT_EQ(dst.Width(), 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) {
            TBitmap r, l;
            Rotate90Right(src, r);
            Rotate90Left(src, l);
            EXPECT_EQ(Rgb(r, 2 - 1 - y, x), NumberOf(x, y));
            EXPECT_EQ(Rgb(l, y, 3 - 1 - x), NumberOf(x, y));
        }
    TBitmap bits, turned;
    SetBits(bits, {"100", "011"});
    Rotate90Left(bits, turned);
    EXPECT_EQ(BitRow(turned, 0), "01");
    EXPECT_EQ(BitRow(turned, 1), "01");
    EXPECT_EQ(BitRow(turned, 2), "10");
}

TEST(Rotate, QuarterAnglesTurnWithoutShear)
{
    TImagingProc proc;
    proc.SetUndoLocation(ieLocationMemory);
    TBitmap b;
    proc.SetBitmap(&b);
    Numbered(b, 3, 2);
    proc.Rotate(90, false);
    ASSERT_EQ(b.Width(), 2);
    ASSERT_EQ(b.Height(), 3);
    EXPECT_EQ(Rgb(b, 0, 2), NumberOf(0, 0)); // (x, y) -> (y, W - 1 - x)
    EXPECT_EQ(Rgb(b, 1, 0), NumberOf(2, 1));
    Numbered(b, 3, 2);
    proc.Rotate(-90, true);
    EXPECT_EQ(Rgb(b, 1, 0), NumberOf(0, 0)); // (0, 0) -> (H - 1, 0)
    Numbered(b, 3, 2);
    proc.Rotate(360, true);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(Rgb(b, 2, 1), NumberOf(2, 1));
    EXPECT_EQ(proc.UndoCaptions()[0], "Rotate 360"); // Angle <> 0 still saves a copy
}

TEST(Rotate, ThirtyDegreesByThreeShears)
{
    for (bool antialias : {false, true}) {
        TImagingProc proc;
        proc.SetAutoUndo(false);
        proc.SetBackground(RGB(10, 20, 200));
        TBitmap b;
        SetGrey(b, std::vector<std::vector<uint8_t>>(10, std::vector<uint8_t>(10, 100)));
        proc.SetBitmap(&b);
        proc.Rotate(30, antialias);
        // W1 14, YJunk 2, H2 18, X2Junk 2, H2 14, W3 15.
        ASSERT_EQ(b.Width(), 15);
        ASSERT_EQ(b.Height(), 14);
        // Column 2 moves down 4 and row 0 left 2, both whole: (0, 0) is background.
        EXPECT_EQ(Rgb(b, 0, 0), 0x0A14C8u) << antialias;
        EXPECT_EQ(Rgb(b, 7, 7), 0x646464u) << antialias;
    }
    // A whole shift with antialiasing becomes Round(v + 0.5): odd channels go up by one.
    TImagingProc proc;
    proc.SetAutoUndo(false);
    proc.SetBackground(RGB(11, 255, 0));
    TBitmap b;
    SetGrey(b, std::vector<std::vector<uint8_t>>(10, std::vector<uint8_t>(10, 100)));
    proc.SetBitmap(&b);
    proc.Rotate(30, true);
    EXPECT_EQ(Rgb(b, 0, 0), 0x0CFF00u);
}

TEST(Rotate, OneBitPicturesTurnThroughCutSines)
{
    TImagingProc proc;
    proc.SetUndoLocation(ieLocationMemory);
    TBitmap b;
    SetBits(b, {"100", "011"});
    proc.SetBitmap(&b);
    proc.Rotate(90, false);
    // c = 0, s = -1: target (x, y) takes source (Trunc(2 - y), x).
    ASSERT_EQ(b.Width(), 2);
    ASSERT_EQ(b.Height(), 3);
    EXPECT_EQ(BitRow(b, 0), "01");
    EXPECT_EQ(BitRow(b, 1), "01");
    EXPECT_EQ(BitRow(b, 2), "10");
    // The 1-bit path saves its undo copy like the 24-bit one.
    ASSERT_EQ(proc.UndoCount(), 1);
    EXPECT_EQ(proc.UndoCaptions()[0], "Rotate 90");
    proc.Undo();
    EXPECT_EQ(BitRow(b, 1), "011");

    // 30 degrees of a 6 x 2 picture: c = 0.866, s = -0.5 cut to four places; nw = 6, nh = 4;
    // a target pixel whose source falls outside takes the background's bit, which is
    // set by any background colour but black. B marks those pixels below.
    const char* const turned[] = {"BBB000", "B10001", "11100B", "100BBB"};
    for (const TColor background : {clBlack, clWhite, TColor(RGB(0, 0, 1))}) {
        SetBits(b, {"110000", "000011"});
        proc.SetBackground(background);
        proc.Rotate(30, false);
        ASSERT_EQ(b.Width(), 6);
        ASSERT_EQ(b.Height(), 4);
        for (int32_t y = 0; y < 4; ++y) {
            std::string row = turned[y];
            std::replace(row.begin(), row.end(), 'B', background == clBlack ? '0' : '1');
            EXPECT_EQ(BitRow(b, y), row) << y << " background " << background;
        }
    }
}

TEST(Rotate, NonFiniteAndHugeAngles)
{
    TImagingProc proc;
    proc.SetUndoLocation(ieLocationMemory);
    TBitmap b;
    Numbered(b, 4, 3);
    proc.SetBitmap(&b);
    proc.Rotate(std::numeric_limits<double>::quiet_NaN(), true);
    proc.Rotate(std::numeric_limits<double>::infinity(), false);
    EXPECT_EQ(proc.UndoCount(), 0);
    EXPECT_EQ(b.Width(), 4);
    proc.Rotate(1e300, true);
    EXPECT_GT(b.Width(), 0);
    SetBits(b, {"1010", "0101"});
    proc.Rotate(-1e300, false);
    proc.Rotate(std::numeric_limits<double>::quiet_NaN(), false);
    EXPECT_EQ(b.PixelFormat(), pf1bit);
}

TEST(Flip, MirrorsWithinTheWidthAndReversesRows)
{
    TImagingProc proc;
    proc.SetUndoLocation(ieLocationMemory);
    TBitmap b;
    SetBits(b, {"1000000000", "1100000000"});
    proc.SetBitmap(&b);
    proc.Flip(fdHorizontal);
    EXPECT_EQ(BitRow(b, 0), "0000000001");
    proc.Flip(fdVertical);
    EXPECT_EQ(BitRow(b, 0), "0000000011");
    EXPECT_EQ(proc.UndoCaptions()[0], "Flip");
    Numbered(b, 3, 2);
    proc.Flip(fdHorizontal);
    EXPECT_EQ(Rgb(b, 0, 1), NumberOf(2, 1));
    // Other depths are brought to 24 bits first.
    b.SetPixelFormat(pf8bit);
    proc.Flip(fdVertical);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
}

TEST(ImagingProc, ResampleSizesAndCaptions)
{
    struct TCase {
        int32_t W, H, NewW, NewH, WantW, WantH;
        const char* Caption;
    };
    const TCase cases[] = {
        {400, 200, -1, 100, 200, 100, "Resample -1,100"},
        {400, 200, 100, -1, 100, 50, "Resample 100,-1"},
        {400, 200, -1, -1, 400, 200, "Resample -1,-1"}, // undo saved, nothing else
        {1000, 1, 10, -1, 10, 1, "Resample 10,-1"},     // the aspect rule's 0 becomes 1
        {3, 3, 0, 0, 1, 1, "Resample 0,0"},
    };
    for (const TCase& c : cases) {
        TImagingProc proc;
        proc.SetUndoLocation(ieLocationMemory);
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(c.W, c.H);
        proc.SetBitmap(&b);
        proc.Resample(c.NewW, c.NewH, 9);
        EXPECT_EQ(b.Width(), c.WantW) << c.Caption;
        EXPECT_EQ(b.Height(), c.WantH) << c.Caption;
        ASSERT_EQ(proc.UndoCount(), 1);
        EXPECT_EQ(proc.UndoCaptions()[0], c.Caption);
    }
    // An empty picture and no picture at all do nothing.
    TImagingProc proc;
    proc.Resample(10, 10, 1);
    TBitmap empty;
    proc.SetBitmap(&empty);
    proc.Resample(10, 10, 1);
    proc.Rotate(30, true);
    proc.Flip(fdVertical);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(proc.UndoCount(), 0);
}

TEST(ImagingProc, ResampleOfEachDepthAndFilter)
{
    const uint8_t colour[4] = {90, 200, 10, 0}; // blue, green, red
    for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit, pf24bit, pf32bit})
        for (uint8_t filter = 0; filter <= 9; ++filter) {
            TImagingProc proc;
            proc.SetAutoUndo(false);
            TBitmap b;
            b.SetPixelFormat(pf);
            b.SetSize(5, 3);
            const int32_t bpp = pf == pf32bit ? 4 : 3;
            for (int32_t y = 0; y < 3; ++y)
                for (int32_t x = 0; x < 5; ++x)
                    if (pf == pf1bit)
                        SetBit(b.ScanLine(y), x, true);
                    else if (pf == pf24bit || pf == pf32bit)
                        std::memcpy(b.ScanLine(y) + bpp * x, colour, size_t(bpp));
            proc.SetBitmap(&b);
            proc.Resample(7, 2, filter);
            EXPECT_EQ(b.Width(), 7);
            EXPECT_EQ(b.Height(), 2);
            const bool stays1Bit = filter == 0 && pf == pf1bit;
            EXPECT_EQ(b.PixelFormat(), stays1Bit ? pf1bit : pf24bit) << int(pf) << int(filter);
            if (pf != pf1bit && pf != pf24bit && pf != pf32bit)
                continue;
            for (int32_t y = 0; y < 2; ++y)
                for (int32_t x = 0; x < 7; ++x) {
                    if (stays1Bit) {
                        EXPECT_TRUE(GetBit(b.ScanLine(y), x)) << x << "," << y;
                        continue;
                    }
                    // The kernels' weights are not normalised, so only the stretch and the
                    // fast path keep a flat colour; the others keep its channels' order.
                    const uint8_t* p = b.ScanLine(y) + 3 * x;
                    if (pf == pf1bit)
                        EXPECT_TRUE(p[0] == p[1] && p[1] == p[2] && p[0] > 128)
                            << int(filter) << " at " << x << "," << y;
                    else if (filter == 0 || filter == 9)
                        EXPECT_EQ(std::vector<uint8_t>(p, p + 3), std::vector<uint8_t>(colour, colour + 3))
                            << int(pf) << " filter " << int(filter) << " at " << x << "," << y;
                    else
                        EXPECT_TRUE(p[2] < p[0] && p[0] < p[1] && p[2] > 0)
                            << int(pf) << " filter " << int(filter) << " at " << x << "," << y;
                }
        }
    // Grey 0, 203 doubled in width, worked out from the kernels with the sums truncated:
    // column i has its centre at i / 2, and the right edge mirrors index 2 back onto 1.
    const struct {
        uint8_t Filter;
        std::vector<uint8_t> Row;
    } cases[] = {{1, {0, 101, 203, 203}}, {2, {0, 101, 203, 203}}, {7, {0, 0, 203, 203}}};
    for (const auto& c : cases) {
        TImagingProc proc;
        proc.SetAutoUndo(false);
        TBitmap b;
        SetGrey(b, {{0, 203}});
        proc.SetBitmap(&b);
        proc.Resample(4, 1, c.Filter);
        ASSERT_EQ(b.Width(), 4);
        EXPECT_EQ(GreyRow(b, 0), c.Row) << int(c.Filter);
    }
}

TEST(ImagingProc, UndoKeepsTheNewestCopiesUpToTheLimit)
{
    TImagingProc proc;
    EXPECT_EQ(proc.UndoLocation(), ieLocationFile);
    TBitmap b;
    proc.SetBitmap(&b);
    auto save = [&](uint8_t v) {
        SetGrey(b, {{v}});
        proc.SaveUndoCaptioned(std::string(1, char('A' + v)));
    };
    save(0);
    save(1);
    ASSERT_EQ(proc.UndoCount(), 1); // limit 1: the second replaces the first
    EXPECT_EQ(proc.UndoCaptions()[0], "B");
    proc.SetUndoLimit(0); // counts as 1
    save(2);
    EXPECT_EQ(proc.UndoCount(), 1);
    proc.ClearUndo();
    proc.SetUndoLimit(3);
    for (uint8_t v = 0; v < 4; ++v)
        save(v);
    ASSERT_EQ(proc.UndoCount(), 3);
    EXPECT_EQ(proc.UndoCaptions()[0], "B");
    SetGrey(b, {{99}});
    proc.UndoAt(0);
    EXPECT_EQ(GreyRow(b, 0)[0], 3);
    proc.UndoAt(2);
    EXPECT_EQ(GreyRow(b, 0)[0], 1);
    proc.UndoAt(3);
    proc.UndoAt(-1);
    EXPECT_EQ(GreyRow(b, 0)[0], 1);
    proc.Undo();
    proc.Undo(); // the copy stays: the same picture again
    EXPECT_EQ(GreyRow(b, 0)[0], 3);
    EXPECT_EQ(proc.UndoCount(), 3);
}

namespace {

// A view that tells every registered component it is going away when destroyed.
class TGoingAwayView : public TIEView {
public:
    ~TGoingAwayView() override
    {
        auto callbacks = Callbacks;
        for (auto& [handle, callback] : callbacks)
            if (callback)
                callback(ievcGoingAway);
    }
    TBitmap Bmp;
    TIEMask Msk;
    TColor Back = clWhite;
    int32_t Changes = 0, Updates = 0, NextHandle = 1;
    std::map<int32_t, TIEViewCallback> Callbacks;
    TBitmap* IEBitmap() override { return &Bmp; }
    TIEMask* SelectionMask() override { return &Msk; }
    TColor Background() const override { return Back; }
    void SetBackground(TColor Value) override { Back = Value; }
    int32_t XDpi() const override { return 96; }
    int32_t YDpi() const override { return 96; }
    void SetDPI(int32_t, int32_t) override {}
    void ImageChange() override { ++Changes; }
    void Update() override { ++Updates; }
    int32_t RegisterChangeCallback(TIEViewCallback C) override
    {
        Callbacks[NextHandle] = std::move(C);
        return NextHandle++;
    }
    void UnregisterChangeCallback(int32_t Handle) override { Callbacks.erase(Handle); }
};

} // namespace

TEST(ImagingProc, AttachedViewKeepsItsMaskInStep)
{
    TGoingAwayView view;
    TImagingProc proc;
    proc.SetAutoUndo(false);
    proc.SetAttachedImaging(&view);
    EXPECT_EQ(proc.Background(), clWhite);
    SetGrey(view.Bmp, {{0, 100, 200, 255}});
    view.Msk.AllocateBits(4, 1, 8);
    view.Msk.Fill(255);
    proc.Resample(2, 1, 1);
    EXPECT_EQ(GreyRow(view.Bmp, 0), (std::vector<uint8_t>{50, 188}));
    EXPECT_EQ(view.Msk.Width(), 2);
    EXPECT_TRUE(view.Msk.Full());
    EXPECT_EQ(view.Changes, 1);
    EXPECT_EQ(view.Updates, 1);
    view.Msk.SetPixel(0, 0, 0);
    proc.Resample(4, 1, 0); // filter 0 takes the mask fast path
    EXPECT_EQ(view.Msk.Width(), 4);
    EXPECT_EQ(view.Msk.GetPixel(0, 0), 0);
    EXPECT_EQ(view.Msk.GetPixel(3, 0), 255);
    proc.Rotate(90, false); // the mask stays as it is
    EXPECT_EQ(view.Msk.Width(), 4);
}

TEST(ImagingProc, NilBitmapKeepsTheViewAndItsGoingAwayNotice)
{
    TImagingProc proc;
    TImagingIO io;
    TBitmap own;
    {
        TGoingAwayView view;
        proc.SetAttachedImaging(&view);
        io.SetAttachedImaging(&view);
        proc.SetBitmap(nullptr);
        io.SetBitmap(nullptr);
        EXPECT_EQ(proc.Bitmap(), &view.Bmp);
        EXPECT_EQ(io.Bitmap(), &view.Bmp);
        EXPECT_EQ(view.Callbacks.size(), 2u);
    }
    EXPECT_EQ(proc.AttachedImaging(), nullptr);
    EXPECT_EQ(proc.Bitmap(), nullptr);
    EXPECT_EQ(proc.Mask(), nullptr);
    EXPECT_EQ(io.AttachedImaging(), nullptr);
    EXPECT_EQ(io.Bitmap(), nullptr);
    proc.Resample(4, 4, 1);
    proc.Rotate(30, true);
    proc.Undo();
    io.LoadFromFile("/nonexistent/kv-improc.jpg"); // no bitmap: returns before opening
    // A bitmap of its own detaches and the view can come back.
    TGoingAwayView second;
    proc.SetAttachedImaging(&second);
    proc.SetBitmap(&own);
    EXPECT_EQ(proc.AttachedImaging(), nullptr);
    EXPECT_TRUE(second.Callbacks.empty());
}

TEST(ImagingProc, DestroyedTImageDetaches)
{
    TImagingProc proc;
    TImagingIO io;
    auto* image = new TImage;
    TBitmap* pic = image->Picture()->Bitmap();
    SetBits(*pic, {"1000000000"});
    proc.SetAttachedTImage(image);
    io.SetAttachedTImage(image);
    EXPECT_EQ(proc.Bitmap(), pic);
    EXPECT_EQ(io.Bitmap(), pic);
    proc.SetBitmap(nullptr);
    EXPECT_EQ(proc.AttachedTImage(), image);
    proc.Flip(fdHorizontal);
    EXPECT_EQ(BitRow(*pic, 0), "0000000001");
    {
        TImagingProc shortLived; // gone before the image: its watch must not fire
        shortLived.SetAttachedTImage(image);
    }
    delete image;
    EXPECT_EQ(proc.AttachedTImage(), nullptr);
    EXPECT_EQ(proc.Bitmap(), nullptr);
    EXPECT_EQ(io.AttachedTImage(), nullptr);
    EXPECT_EQ(io.Bitmap(), nullptr);
    proc.Rotate(45, true);
    proc.Undo();
}
