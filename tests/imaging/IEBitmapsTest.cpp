#include "imaging/IEBitmaps.h"
#include "imaging/ImagingProc.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace kv;

TEST(IEBitmap, RowLenAndBitsOfFormats)
{
    EXPECT_EQ(IERowLen(3, 24), 12);
    EXPECT_EQ(IERowLen(33, 1), 8);
    EXPECT_EQ(IERowLen(1, 8), 4);
    EXPECT_EQ(IERowLen(65535, 32), 262140); // no 32-bit overflow path
    EXPECT_EQ(IEPixelFormatBits(pf15bit), 15);
    EXPECT_EQ(IEPixelFormatBits(pfDevice), 0);
}

TEST(IEBitmap, MemoryRowsAreBottomUpAndFileRowsTopDown)
{
    TIEBitmap mem;
    mem.SetLocation(ieLocationMemory);
    mem.Allocate(4, 3, ie24RGB);
    ASSERT_EQ(mem.Location(), ieLocationMemory);
    EXPECT_EQ(mem.RowLen(), 12);
    EXPECT_EQ(mem.ScanLine(0) - mem.ScanLine(2), 24); // row 0 is the block's last
    ASSERT_NE(mem.AlphaChannel(), nullptr);
    EXPECT_EQ(mem.AlphaChannel()->PixelFormat(), ie8g);

    TIEBitmap file;
    file.Allocate(4, 3, ie24RGB);
    ASSERT_EQ(file.Location(), ieLocationFile);
    uint8_t* r0 = file.ScanLine(0);
    uint8_t* r2 = file.ScanLine(2);
    EXPECT_EQ(r2 - r0, 24);
    // Both rows stay valid together: the whole file is mapped.
    std::memset(r0, 7, 12);
    std::memset(r2, 9, 12);
    EXPECT_EQ(file.ScanLine(0)[11], 7);
    EXPECT_EQ(r2[0], 9);
}

TEST(IEBitmap, NothingAllocatedForEmptySides)
{
    TIEBitmap b;
    b.Allocate(0, 10, ie24RGB);
    EXPECT_EQ(b.RowLen(), 0);
    EXPECT_EQ(b.AlphaChannel(), nullptr);
}

TEST(IEBitmap, NoTempFolderFallsBackToMemory)
{
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", "/nonexistent/kelvane-no-such-dir", 1);
    TIEBitmap b;
    b.Allocate(8, 8, ie8g);
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_EQ(b.Location(), ieLocationMemory);
    ASSERT_NE(b.ScanLine(0), nullptr);
}

TEST(IEBitmap, SetLocationKeepsPixelsAndPalette)
{
    TIEBitmap b;
    b.Allocate(5, 4, ie8p);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            b.ScanLine(y)[x] = uint8_t(y * 10 + x);
    b.Palette()[3] = TRGB{1, 2, 3};
    for (uint8_t loc : {ieLocationMemory, ieLocationTBitmap, ieLocationFile}) {
        b.SetLocation(loc);
        ASSERT_EQ(b.Location(), loc);
        EXPECT_EQ(b.ScanLine(3)[4], 34);
        EXPECT_EQ(b.ScanLine(0)[1], 1);
        EXPECT_EQ(b.Palette()[3], (TRGB{1, 2, 3}));
    }
    b.SetLocation(ieLocationTBitmap);
    EXPECT_EQ(b.VclBitmap()->PaletteEntries()[3], (TPaletteEntry{3, 2, 1, 0}));
}

TEST(IEBitmap, SixteenBitGreyInPlatformBitmapBecomesEightBit)
{
    TIEBitmap b;
    b.SetLocation(ieLocationTBitmap);
    b.Allocate(4, 2, ie16g);
    EXPECT_EQ(b.PixelFormat(), ie8g);
    EXPECT_EQ(b.BitCount(), 8);
    EXPECT_EQ(b.RowLen(), 4);
}

TEST(IEBitmap, CopyFromPlatformFormats)
{
    TBitmap src;
    src.SetPixelFormat(pf15bit);
    src.SetSize(2, 1);
    PutU16LE(src.ScanLine(0), 0x7FFF);
    TIEBitmap b;
    b.CopyFromTBitmap(&src);
    ASSERT_EQ(b.PixelFormat(), ie24RGB);
    EXPECT_EQ(b.ScanLine(0)[0], 248);
    EXPECT_EQ(b.ScanLine(0)[1], 248);
    EXPECT_EQ(b.ScanLine(0)[2], 248);

    src.SetPixelFormat(pf16bit);
    PutU16LE(src.ScanLine(0), 0xFFFF);
    b.CopyFromTBitmap(&src);
    EXPECT_EQ(b.ScanLine(0)[0], 248); // blue
    EXPECT_EQ(b.ScanLine(0)[1], 252); // green keeps 6 bits
    EXPECT_EQ(b.ScanLine(0)[2], 248);

    TBitmap out;
    b.CopyToTBitmap(&out);
    EXPECT_EQ(out.PixelFormat(), pf24bit);
    EXPECT_EQ(out.ScanLine(0)[1], 252);
}

// Copy-out by format: 1 bit with a black and white palette, 8-bit paletted with the
// palette's entries, 8-bit grey with a grey ramp, 16-bit grey as 8 bits of the high byte of
// each little-endian sample, all with the pixel rows unchanged.
TEST(IEBitmap, CopyToPlatformBitmapOfTheIndexedAndGreyFormats)
{
    auto Ramp = [] {
        std::vector<TPaletteEntry> E(256);
        for (int I = 0; I < 256; ++I)
            E[size_t(I)] = TPaletteEntry{uint8_t(I), uint8_t(I), uint8_t(I), 0};
        return E;
    };
    for (uint8_t Location : {ieLocationMemory, ieLocationFile}) {
        TIEBitmap One;
        One.SetLocation(Location);
        One.Allocate(10, 2, ie1g);
        One.ScanLine(0)[0] = 0xA5;
        One.ScanLine(0)[1] = 0x40; // pixel 9 set
        One.ScanLine(1)[0] = 0x0F;
        TBitmap Out;
        One.CopyToTBitmap(&Out);
        EXPECT_EQ(Out.PixelFormat(), pf1bit);
        EXPECT_EQ(Out.Width(), 10);
        EXPECT_EQ(Out.Height(), 2);
        EXPECT_EQ(Out.PaletteEntries(),
                  (std::vector<TPaletteEntry>{TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}}));
        EXPECT_EQ(Out.ScanLine(0)[0], 0xA5);
        EXPECT_EQ(Out.ScanLine(0)[1] & 0xC0, 0x40);
        EXPECT_EQ(Out.ScanLine(1)[0], 0x0F);

        TIEBitmap Paletted;
        Paletted.SetLocation(Location);
        Paletted.Allocate(3, 2, ie8p);
        Paletted.Palette()[7] = TRGB{10, 20, 30}; // B, G, R
        Paletted.Palette()[255] = TRGB{1, 2, 3};
        Paletted.ScanLine(1)[2] = 7;
        Paletted.ScanLine(0)[0] = 255;
        Paletted.CopyToTBitmap(&Out);
        EXPECT_EQ(Out.PixelFormat(), pf8bit);
        ASSERT_EQ(Out.PaletteEntries().size(), 256u);
        EXPECT_EQ(Out.PaletteEntries()[7], (TPaletteEntry{30, 20, 10, 0}));
        EXPECT_EQ(Out.PaletteEntries()[255], (TPaletteEntry{3, 2, 1, 0}));
        EXPECT_EQ(Out.ScanLine(1)[2], 7);
        EXPECT_EQ(Out.ScanLine(0)[0], 255);
        EXPECT_EQ(Out.ScanLine(0)[1], 0);

        TIEBitmap Grey;
        Grey.SetLocation(Location);
        Grey.Allocate(3, 2, ie8g);
        Grey.ScanLine(0)[1] = 200;
        Grey.ScanLine(1)[0] = 9;
        Grey.CopyToTBitmap(&Out);
        EXPECT_EQ(Out.PixelFormat(), pf8bit);
        EXPECT_EQ(Out.PaletteEntries(), Ramp());
        EXPECT_EQ(Out.ScanLine(0)[1], 200);
        EXPECT_EQ(Out.ScanLine(1)[0], 9);

        TIEBitmap Deep;
        Deep.SetLocation(Location);
        Deep.Allocate(3, 2, ie16g);
        ASSERT_EQ(Deep.PixelFormat(), ie16g);
        PutU16LE(Deep.ScanLine(0), 0x1234);
        PutU16LE(Deep.ScanLine(0) + 4, 0xFF01);
        PutU16LE(Deep.ScanLine(1) + 2, 0x00FF);
        Deep.CopyToTBitmap(&Out);
        EXPECT_EQ(Out.PixelFormat(), pf8bit);
        EXPECT_EQ(Out.Width(), 3);
        EXPECT_EQ(Out.Height(), 2);
        EXPECT_EQ(Out.PaletteEntries(), Ramp());
        EXPECT_EQ(Out.ScanLine(0)[0], 0x12);
        EXPECT_EQ(Out.ScanLine(0)[1], 0x00);
        EXPECT_EQ(Out.ScanLine(0)[2], 0xFF);
        EXPECT_EQ(Out.ScanLine(1)[1], 0x00);
    }
}

TEST(IEMask, FullFlag)
{
    TIEMask m;
    m.AllocateBits(10, 5, 8);
    EXPECT_FALSE(m.Full());
    m.Fill(255);
    EXPECT_TRUE(m.Full());
    m.Fill(254);
    EXPECT_FALSE(m.Full());
    m.Fill(255);
    m.SetPixel(3, 2, 200);
    EXPECT_FALSE(m.Full());
    EXPECT_EQ(m.X1, 3);
    EXPECT_EQ(m.Y2, 2);
    EXPECT_EQ(m.ScanLine(2)[3], 200);

    TIEMask one;
    one.AllocateBits(40, 2, 1);
    EXPECT_EQ(one.RowLen(), 8);
    one.Fill(0);
    EXPECT_FALSE(one.Full()); // a cleared 1-bit selection is not fully opaque
    one.Fill(255);
    EXPECT_TRUE(one.Full());
    one.SetPixel(9, 1, 0);
    EXPECT_FALSE(one.Full());
    EXPECT_EQ(one.GetPixel(9, 1), 0);
    EXPECT_EQ(one.GetPixel(8, 1), 255);
    one.SetPixel(100, 100, 1); // outside: ignored
}

TEST(THash1, ChainsOnCollidingSlots)
{
    THash1 h(4);
    EXPECT_TRUE(h.Insert(3));
    EXPECT_TRUE(h.Insert(19));
    EXPECT_TRUE(h.Insert(35));
    EXPECT_EQ(h.Count(), 3);
    EXPECT_EQ(h.SlotState(3), 2);
    EXPECT_EQ(h.ChainLength(3), 3);
    EXPECT_FALSE(h.Insert(19));
    EXPECT_FALSE(h.Insert(3));
    EXPECT_EQ(h.Count(), 3);
    EXPECT_TRUE(h.Insert(4));
    EXPECT_EQ(h.SlotState(4), 1);
}

TEST(IEList, DeleteOutsideChangesNothing)
{
    TIEIntegerList l;
    l.Add(5);
    l.Add(6);
    l.Add(7);
    l.Delete(-1);
    l.Delete(3);
    EXPECT_EQ(l.Count(), 3);
    l.Delete(1);
    ASSERT_EQ(l.Count(), 2);
    EXPECT_EQ(l.Items(1), 7);
    // Shrinking keeps the first items; growing again zero-fills the new ones.
    l.SetCount(1);
    l.SetCount(3);
    EXPECT_EQ(l.Items(0), 5);
    EXPECT_EQ(l.Items(1), 0);
    EXPECT_EQ(l.Items(2), 0);
    l.SetCount(-4);
    EXPECT_EQ(l.Count(), 0);
    l.SetCount(2);
    EXPECT_EQ(l.Items(0), 0);
    TIEDoubleList d;
    d.Add(1.5);
    d.RangeMax = 9;
    TIEDoubleList e;
    e.Assign(&d);
    EXPECT_DOUBLE_EQ(e.Items(0), 1.5);
    EXPECT_DOUBLE_EQ(e.RangeMax, 9);
    e.Clear();
    EXPECT_EQ(e.Count(), 0);
    EXPECT_EQ(e.Flags, 0u);
}

TEST(Helpers, Bits)
{
    EXPECT_EQ(ReverseBits(0x01), 0x80);
    EXPECT_EQ(ReverseBits32(0x00000001u), 0x80000000u);
    EXPECT_EQ(IESwapDWord(0x11223344u), 0x44332211u);
    EXPECT_EQ(IEBitRunWidth(0x7C00), 5);
    EXPECT_EQ(IEBitRunWidth(0x07E0), 6);
    EXPECT_EQ(IEIntPower(3, 4), 81);
    TRGB c{10, 200, 30};
    TRGB back = IELab2RGB(IERGB2Lab(c));
    EXPECT_NEAR(back.g, 200, 1);
    EXPECT_NEAR(back.b, 10, 1);
}

// Bits count from the most significant bit of the first byte; the destination's bits
// outside the run keep their values.
TEST(SharedRoutines, CopyBitRun)
{
    struct Case {
        const char* What;
        std::vector<uint8_t> Src, Dest;
        int64_t DestBit, Count, SrcBit;
        std::vector<uint8_t> Expected;
    };
    const Case Cases[] = {
        // src bits 4..11 are all 0; dest 1010 1010 1010 1010 loses bits 2..9.
        {"zeros into alternating bits", {0xF0, 0x0F}, {0xAA, 0xAA}, 2, 8, 4, {0x80, 0x2A}},
        {"nothing to copy", {0xFF}, {0x5A}, 3, 0, 0, {0x5A}},
        {"inside one byte", {0xFF}, {0x00}, 3, 2, 0, {0x18}},
        {"a hole across a byte edge", {0x00}, {0xFF, 0xFF}, 6, 4, 1, {0xFC, 0x3F}},
        {"whole bytes", {0x12, 0x34, 0x56}, {0, 0, 0}, 8, 16, 0, {0x00, 0x12, 0x34}},
        // src 1011 0101 0110 1100, bits 1..12 = 0110 1010 1101, placed at bit 5.
        {"unaligned on both sides", {0xB5, 0x6C}, {0, 0, 0}, 5, 12, 1, {0x03, 0x56, 0x80}},
        {"unaligned over set bits", {0xB5, 0x6C}, {0xFF, 0xFF, 0xFF}, 5, 12, 1, {0xFB, 0x56, 0xFF}},
        // src bits 13..15 of 0000 0101 are 1 0 1.
        {"from the second byte", {0x00, 0x05}, {0x00}, 0, 3, 13, {0xA0}},
    };
    for (const Case& C : Cases) {
        std::vector<uint8_t> Dest = C.Dest;
        CopyBitRun(Dest.data(), C.Src.data(), C.DestBit, C.Count, C.SrcBit);
        EXPECT_EQ(Dest, C.Expected) << C.What;
    }
}

TEST(SharedRoutines, CopyBitmapTo24BitExpandsOnlyTheRowsPixels)
{
    TBitmap one;
    one.SetPixelFormat(pf1bit);
    one.SetSize(11, 2);
    one.ScanLine(0)[0] = 0x81;
    one.ScanLine(0)[1] = 0xE0; // pixels 8, 9, 10 set
    TBitmap out;
    CopyBitmapTo24Bit(one, out, nullptr);
    ASSERT_EQ(out.PixelFormat(), pf24bit);
    ASSERT_EQ(out.Width(), 11);
    EXPECT_EQ(out.ScanLine(0)[0], 255);
    EXPECT_EQ(out.ScanLine(0)[3], 0);
    EXPECT_EQ(out.ScanLine(0)[3 * 7], 255);
    EXPECT_EQ(out.ScanLine(0)[3 * 10 + 2], 255);
    EXPECT_EQ(out.ScanLine(1)[0], 0);
}

TEST(SharedRoutines, CopyBitmapKeepsThePalette)
{
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    std::vector<TPaletteEntry> pal(256);
    pal[5] = TPaletteEntry{9, 8, 7, 0};
    b.SetPaletteEntries(pal);
    b.SetSize(3, 3);
    b.ScanLine(1)[2] = 5;
    auto c = CloneBitmap(b);
    EXPECT_EQ(c->PixelFormat(), pf8bit);
    EXPECT_EQ(c->PaletteEntries()[5], pal[5]);
    EXPECT_EQ(c->ScanLine(1)[2], 5);
}

// One row between depths: bits and nibbles first pixel in the high bits, indexes looked up
// in the palette (B, G, R entries) for 24 bits, 24-bit colours turned into indexes by the
// quantizer's index function, 32 bits to 24 by dropping the fourth byte. The result is
// the output length; nothing is written past it.
TEST(SharedRoutines, ConvertRowBits)
{
    std::vector<TRGB> Pal(256);
    for (int I = 0; I < 256; ++I)
        Pal[size_t(I)] = TRGB{uint8_t(I), uint8_t(255 - I), uint8_t(I * 7)};
    auto P24 = [&](std::initializer_list<int> Indexes) {
        std::vector<uint8_t> Out;
        for (int I : Indexes)
            Out.insert(Out.end(), {Pal[size_t(I)].b, Pal[size_t(I)].g, Pal[size_t(I)].r});
        return Out;
    };
    // The quantizer knows three colours; anything else (a channel-order slip) gives 0.
    const TIEColorIndexFunc Quantizer = [](TRGB C) {
        if (C == TRGB{1, 2, 3})
            return 7;
        if (C == TRGB{40, 50, 60})
            return 12;
        if (C == TRGB{255, 0, 128})
            return 3;
        return 0;
    };
    const std::vector<uint8_t> Bits = {0xB2, 0x40};          // 10 pixels: 1 0 1 1 0 0 1 0 0 1
    const std::vector<uint8_t> Nibbles = {0x3C, 0x0F, 0x70}; // 5 pixels: 3 12 0 15 7
    const std::vector<uint8_t> Bytes = {200, 1, 0, 255, 77};
    const std::vector<uint8_t> Small = {9, 1, 0, 15, 7};
    const std::vector<uint8_t> Rgb = {1, 2, 3, 40, 50, 60, 255, 0, 128}; // B, G, R
    struct Case {
        int32_t SrcBits, DstBits, Width, PaletteHigh;
        std::vector<uint8_t> Src, Expected;
    };
    const Case Cases[] = {
        {1, 24, 10, 1, Bits, P24({1, 0, 1, 1, 0, 0, 1, 0, 0, 1})},
        {1, 8, 10, 1, Bits, {1, 0, 1, 1, 0, 0, 1, 0, 0, 1}},
        {1, 4, 10, 1, Bits, {0x10, 0x11, 0x00, 0x10, 0x01}},
        {1, 1, 10, 1, Bits, {0xB2, 0x40}},
        {4, 24, 5, 15, Nibbles, P24({3, 12, 0, 15, 7})},
        {4, 8, 5, 15, Nibbles, {3, 12, 0, 15, 7}},
        {4, 4, 5, 15, Nibbles, {0x3C, 0x0F, 0x70}},
        {4, 1, 5, 15, {0x10, 0x01, 0x10}, {0x98}},
        {8, 24, 5, 255, Bytes, P24({200, 1, 0, 255, 77})},
        {8, 8, 5, 255, Bytes, Bytes},
        {8, 4, 5, 255, Small, {0x91, 0x0F, 0x70}},
        {8, 1, 5, 255, {1, 0, 0, 1, 1}, {0x98}},
        {24, 24, 3, 0, Rgb, Rgb},
        {24, 8, 3, 0, Rgb, {7, 12, 3}},
        {24, 4, 3, 0, Rgb, {0x7C, 0x30}},
        {32, 24, 2, 0, {1, 2, 3, 99, 4, 5, 6, 88}, {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(std::to_string(C.SrcBits) + " to " + std::to_string(C.DstBits) + " bits");
        std::vector<uint8_t> Out(64, 0xEE);
        const int32_t Len = ConvertRowBits(C.Src.data(), Out.data(), C.SrcBits, C.Width, C.PaletteHigh, Pal.data(),
                                           C.DstBits, Quantizer);
        ASSERT_EQ(Len, int32_t(C.Expected.size()));
        // The bits past the last pixel of a packed row are padding: only the pixels count.
        const int32_t UsedBits = C.Width * C.DstBits % 8;
        if (UsedBits != 0)
            Out[size_t(Len - 1)] &= uint8_t(0xFF << (8 - UsedBits));
        EXPECT_EQ(std::vector<uint8_t>(Out.begin(), Out.begin() + Len), C.Expected);
        EXPECT_EQ(std::count(Out.begin() + Len, Out.end(), 0xEE), 64 - Len);
    }
}

namespace {
void Row24(TBitmap& b, std::initializer_list<int> values)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(int32_t(values.size()), 1);
    int x = 0;
    for (int v : values) {
        std::memset(b.ScanLine(0) + 3 * x, v, 3);
        ++x;
    }
}
} // namespace

TEST(SharedRoutines, FastLinearResample)
{
    TBitmap two;
    Row24(two, {0, 200});
    TBitmap out;
    IEFastLinearResample(two, out, 4, 1, nullptr);
    ASSERT_EQ(out.Width(), 4);
    const uint8_t* r = out.ScanLine(0);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[3], 100);
    EXPECT_EQ(r[6], 200);
    EXPECT_EQ(r[9], 200);

    TBitmap four;
    Row24(four, {0, 100, 200, 50});
    IEFastLinearResample(four, out, 2, 1, nullptr);
    EXPECT_EQ(out.ScanLine(0)[0], 100);
    EXPECT_EQ(out.ScanLine(0)[3], 200);

    IEFastLinearResample(four, out, 4, 1, nullptr);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(out.ScanLine(0)[3 * x], four.ScanLine(0)[3 * x]);

    // A falling edge interpolates downwards (no shift of a negative difference).
    TBitmap fall;
    Row24(fall, {200, 0});
    IEFastLinearResample(fall, out, 4, 1, nullptr);
    EXPECT_EQ(out.ScanLine(0)[3], 100);
}

TEST(SharedRoutines, FastMaskResampleOfSameSizeIsACopy)
{
    TIEMask m;
    m.AllocateBits(3, 2, 8);
    m.SetPixel(1, 1, 77);
    TIEMask out;
    out.AllocateBits(3, 2, 8);
    out.Fill(255); // a full mask before: the copy must take the source's flag
    IEFastMaskResample(m, out, 3, 2);
    EXPECT_EQ(out.GetPixel(1, 1), 77);
    EXPECT_EQ(out.GetPixel(0, 0), 0);
    EXPECT_EQ(out.X1, 1);
    EXPECT_EQ(out.Y1, 1);
    EXPECT_EQ(out.X2, 1);
    EXPECT_EQ(out.Y2, 1);
    EXPECT_FALSE(out.Full());

    TIEMask full;
    full.AllocateBits(3, 2, 8);
    full.Fill(255);
    full.SetPixel(2, 0, 255);
    ASSERT_TRUE(full.Full());
    TIEMask copy;
    copy.AllocateBits(3, 2, 8);
    IEFastMaskResample(full, copy, 3, 2);
    EXPECT_TRUE(copy.Full());
    EXPECT_EQ(copy.GetPixel(0, 1), 255);
    EXPECT_EQ(copy.X1, 2);
    EXPECT_EQ(copy.Y2, 0);

    IEFastMaskResample(m, out, 6, 2);
    EXPECT_EQ(out.Width(), 6);
    EXPECT_EQ(out.GetPixel(2, 1), 77);
}

#include "imaging/iewords.h"

TEST(Words, EnglishTableAndFallback)
{
    EXPECT_EQ(IEWord(msEnglish, 0), "Preview");
    EXPECT_EQ(IEWord(msEnglish, 38), "Quality");
    EXPECT_EQ(IEWord(msEnglish, 120), "Apply");
    EXPECT_EQ(IEWord(msRussian, 3), "OK"); // no translation filled: English
    IESetWord(msUser, 4, "Annuler");
    EXPECT_EQ(IEWord(msUser, 4), "Annuler");
    EXPECT_EQ(IEWord(msEnglish, 121), "");
}

// ---- TIEVirtualDIBList ------------------------------------------------------------

namespace {

// A folder of its own, removed with everything in it at the end of the test.
struct TScratchFolder {
    std::string Path;
    TScratchFolder()
    {
        std::string t = std::filesystem::temp_directory_path().string() + "/vdibXXXXXX";
        std::vector<char> n(t.begin(), t.end());
        n.push_back('\0');
        Path = mkdtemp(n.data());
    }
    ~TScratchFolder() { std::filesystem::remove_all(Path); }
    int Entries() const
    {
        int n = 0;
        for (auto it = std::filesystem::directory_iterator(Path); it != std::filesystem::directory_iterator(); ++it)
            ++n;
        return n;
    }
};

struct TEnvTmpDir {
    std::string Saved;
    bool Had;
    explicit TEnvTmpDir(const char* Value)
    {
        const char* old = std::getenv("TMPDIR");
        Had = old != nullptr;
        Saved = Had ? old : "";
        setenv("TMPDIR", Value, 1);
    }
    ~TEnvTmpDir()
    {
        if (Had)
            setenv("TMPDIR", Saved.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
};

void FillPattern(TBitmap& B, uint8_t Seed)
{
    for (int32_t y = 0; y < B.Height(); ++y) {
        uint8_t* row = B.ScanLine(y);
        for (int32_t i = 0; i < B.BytesPerScanLine(); ++i)
            row[i] = uint8_t(Seed + y * 31 + i * 7);
    }
}

} // namespace

TEST(IEVirtualDIBList, BlockHeaderAndRowLayout)
{
    TIEVirtualDIBList list;
    EXPECT_EQ(list.FileSize(), 65536);
    EXPECT_EQ(list.AllocatedEnd(), 0);
    const int32_t i = list.AddBlankImage(10, 3, 24);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(list.ImageRowLen(0), 32);
    EXPECT_EQ(list.UsedSize(0), 48 + 96);
    EXPECT_EQ(list.BlockSize(0), 65536);
    const uint8_t* h = list.ImageHeader(0);
    const uint8_t expect[48] = {40, 0, 0, 0, 10, 0, 0, 0, 3, 0, 0, 0, 1, 0, 24, 0, 0,   0,   0,   0, 0, 0, 0, 0,
                                0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 255, 255, 255, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(h, expect, 48), 0);
    // Rows bottom-up after the header: the top row is the last.
    EXPECT_EQ(list.ScanLine(0, 0) - list.PixelBits(0), 2 * 32);
    EXPECT_EQ(list.ScanLine(0, 2), list.PixelBits(0));
    for (int32_t y = 0; y < 3; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(list.ScanLine(0, y)[x], 0);
    EXPECT_EQ(list.ImageWidth(0), 10);
    EXPECT_EQ(list.ImageHeight(0), 3);
    EXPECT_EQ(list.ImageBitCount(0), 24);
    EXPECT_THROW(list.ScanLine(0, 3), ERangeError);
}

TEST(IEVirtualDIBList, GrowthStepAndFirstFitReuse)
{
    TIEVirtualDIBList list;
    list.AddBlankImage(10, 10, 24); // 368 bytes -> one unit at 0; fits the first 65536
    EXPECT_EQ(list.FileSize(), 65536);
    list.AddBlankImage(10, 10, 24); // at 65536: the file grows by the step
    EXPECT_EQ(list.BlockOffset(1), 65536);
    EXPECT_EQ(list.FileSize(), 131072);
    list.AddBlankImage(200, 200, 24); // 48 + 600 * 200 = 120048 -> 131072
    EXPECT_EQ(list.BlockSize(2), 131072);
    EXPECT_EQ(list.GrowthStep(), 65536 + 131072); // previous block + n
    EXPECT_EQ(list.FileSize(), 131072 + 196608);
    EXPECT_EQ(list.BlockOffset(2), 131072);
    EXPECT_EQ(list.AllocatedEnd(), 262144);
    list.AddBlankImage(1, 1, 8); // fits before the file's end: no growth
    EXPECT_EQ(list.BlockOffset(3), 262144);
    EXPECT_EQ(list.FileSize(), 327680);

    list.Delete(1); // the block at 65536 becomes free
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.FreeBlockCount(), 1);
    const int32_t a = list.AddBlankImage(4, 4, 1);
    EXPECT_EQ(list.BlockOffset(a), 65536);
    EXPECT_EQ(list.FreeBlockCount(), 0);
    EXPECT_EQ(list.AllocatedEnd(), 327680);

    // Two neighbouring free blocks merge, so a two-unit image fits where they were.
    list.Delete(a);
    list.Delete(0);
    EXPECT_EQ(list.FreeBlockCount(), 1);
    const int32_t b = list.AddBlankImage(200, 200, 24);
    EXPECT_EQ(list.BlockOffset(b), 0);
    EXPECT_EQ(list.FileSize(), 327680);

    // A reused block is blank again.
    EXPECT_EQ(list.ScanLine(b, 0)[0], 0);

    while (list.Count() > 0)
        list.Delete(0);
    EXPECT_EQ(list.FileSize(), 65536);
    EXPECT_EQ(list.AllocatedEnd(), 0);
    EXPECT_EQ(list.FreeBlockCount(), 0);
    EXPECT_EQ(list.GrowthStep(), 65536);
    EXPECT_EQ(list.AddBlankImage(2, 2, 24), 0);
    EXPECT_EQ(list.BlockOffset(0), 0);
}

TEST(IEVirtualDIBList, ViewsStayBoundedAndPixelsSurviveEviction)
{
    TIEVirtualDIBList list;
    for (int i = 0; i < 12; ++i) {
        list.AddBlankImage(8, 2, 8);
        std::memset(list.PixelBits(i), 0x10 + i, 16);
    }
    EXPECT_EQ(list.MappedCount(), 10);
    EXPECT_FALSE(list.IsMapped(0));
    EXPECT_FALSE(list.IsMapped(1));
    EXPECT_TRUE(list.IsMapped(2));
    // Used again, image 2 moves to the end; the next mapping evicts image 3.
    list.PixelBits(2);
    EXPECT_EQ(list.PixelBits(0)[15], 0x10); // read back through the file
    EXPECT_TRUE(list.IsMapped(2));
    EXPECT_FALSE(list.IsMapped(3));
    EXPECT_EQ(list.MappedCount(), 10);
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(list.PixelBits(i)[7], 0x10 + i) << i;

    // Deleting a mapped image unmaps it and keeps the bookkeeping straight.
    ASSERT_TRUE(list.IsMapped(11));
    list.Delete(11);
    EXPECT_EQ(list.MappedCount(), 9);
    EXPECT_EQ(list.PixelBits(10)[0], 0x1A);

    list.ViewLimit = 1;
    list.PixelBits(0);
    list.PixelBits(1);
    EXPECT_EQ(list.MappedCount(), 1);
    EXPECT_EQ(list.PixelBits(0)[3], 0x10);
}

TEST(IEVirtualDIBList, BitmapsRoundTripWithTheirPalettes)
{
    TIEVirtualDIBList list;
    TBitmap c24;
    c24.SetPixelFormat(pf24bit);
    c24.SetSize(13, 5);
    FillPattern(c24, 3);
    TBitmap p4;
    p4.SetPixelFormat(pf4bit);
    p4.SetSize(7, 3);
    std::vector<TPaletteEntry> pal(16);
    for (int i = 0; i < 16; ++i)
        pal[size_t(i)] = TPaletteEntry{uint8_t(i * 16), uint8_t(255 - i), uint8_t(i), 0};
    p4.SetPaletteEntries(pal);
    FillPattern(p4, 9);
    TBitmap m1;
    m1.SetPixelFormat(pf1bit);
    m1.SetSize(33, 2);
    FillPattern(m1, 200);

    EXPECT_EQ(list.AddBitmap(&c24), 0);
    EXPECT_EQ(list.AddBitmap(&p4), 1);
    EXPECT_EQ(list.AddBitmap(&m1), 2);
    EXPECT_EQ(list.ImageBitCount(1), 4);
    EXPECT_EQ(list.ImageRowLen(2), 8);
    // The stored rows are the bitmap's rows, bottom-up.
    EXPECT_EQ(std::memcmp(list.PixelBits(0), c24.ScanLine(4), 39), 0);

    for (TBitmap* src : {&c24, &p4, &m1}) {
        const int32_t i = src == &c24 ? 0 : src == &p4 ? 1 : 2;
        TBitmap out;
        list.CopyToTBitmap(i, &out);
        ASSERT_EQ(out.PixelFormat(), src->PixelFormat());
        ASSERT_EQ(out.Width(), src->Width());
        ASSERT_EQ(out.Height(), src->Height());
        const int64_t n = list.ImageRowLen(i);
        for (int32_t y = 0; y < src->Height(); ++y)
            ASSERT_EQ(std::memcmp(out.ScanLine(y), src->ScanLine(y), size_t(n)), 0) << i << " row " << y;
        if (src == &p4) {
            ASSERT_EQ(out.PaletteEntries().size(), 16u);
            EXPECT_EQ(out.PaletteEntries()[5].peRed, 80);
            EXPECT_EQ(out.PaletteEntries()[5].peGreen, 250);
        }
    }

    // A blank 8-bit image reads back with a grey ramp, a 1-bit one black and white.
    TBitmap g;
    list.CopyToTBitmap(list.AddBlankImage(2, 2, 8), &g);
    EXPECT_EQ(g.PixelFormat(), pf8bit);
    EXPECT_EQ(g.PaletteEntries()[128].peBlue, 128);
}

TEST(IEVirtualDIBList, CopyFromReallocatesOnlyWhenShapeChanges)
{
    TIEVirtualDIBList list;
    list.AddBlankImage(10, 10, 24);
    list.AddBlankImage(10, 10, 24);
    TBitmap same;
    same.SetPixelFormat(pf24bit);
    same.SetSize(10, 10);
    FillPattern(same, 1);
    list.CopyFromTBitmap(0, &same);
    EXPECT_EQ(list.BlockOffset(0), 0);
    EXPECT_EQ(list.ScanLine(0, 9)[5], same.ScanLine(9)[5]);

    TBitmap bigger;
    bigger.SetPixelFormat(pf8bit);
    bigger.SetSize(300, 300); // 48 + 90000 bytes: two units, taken at the end
    FillPattern(bigger, 2);
    list.CopyFromTBitmap(0, &bigger);
    EXPECT_EQ(list.BlockOffset(0), 131072);
    EXPECT_EQ(list.BlockSize(0), 131072);
    EXPECT_EQ(list.FreeBlockCount(), 1);
    EXPECT_EQ(list.ImageWidth(0), 300);
    EXPECT_EQ(list.ImageBitCount(0), 8);
    EXPECT_EQ(list.ImageHeader(0)[4], 300 & 255);
    EXPECT_EQ(list.ImageHeader(0)[14], 8);
    TBitmap back;
    list.CopyToTBitmap(0, &back);
    EXPECT_EQ(std::memcmp(back.ScanLine(123), bigger.ScanLine(123), 300), 0);
}

TEST(IEVirtualDIBList, CheckedOutBitmapsWriteBack)
{
    TIEVirtualDIBList list;
    list.AddBlankImage(4, 4, 24);
    TBitmap* b = list.GetBitmap(0);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(list.IsCheckedOut(0));
    EXPECT_EQ(list.GetBitmap(0), b); // one copy an image
    b->ScanLine(1)[2] = 77;
    EXPECT_EQ(list.ScanLine(0, 1)[2], 0); // nothing written until released
    list.ReleaseBitmap(0);
    EXPECT_FALSE(list.IsCheckedOut(0));
    EXPECT_EQ(list.ScanLine(0, 1)[2], 77);
    list.ReleaseBitmap(0); // nothing checked out: no change
    EXPECT_EQ(list.ScanLine(0, 1)[2], 77);

    list.GetBitmap(0);
    list.Delete(0); // the checked-out copy goes with its image
    EXPECT_EQ(list.Count(), 0);
}

TEST(IEVirtualDIBList, RefusalsLeaveTheListUnchanged)
{
    TIEVirtualDIBList list;
    list.AddBlankImage(3, 3, 24);
    EXPECT_THROW(list.AddBlankImage(0, 5, 24), EOutOfResources);
    EXPECT_THROW(list.AddBlankImage(5, -1, 24), EOutOfResources);
    EXPECT_THROW(list.AddBlankImage(70000, 1, 8), EOutOfResources);
    EXPECT_THROW(list.AddBlankImage(40000, 40000, 32), EOutOfResources); // past the pixel cap
    EXPECT_THROW(list.AddBlankImage(5, 5, 3), EInvalidGraphic);
    TBitmap dev; // no pixel format
    EXPECT_THROW(list.AddBitmap(&dev), EInvalidGraphic);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.FileSize(), 65536);
    EXPECT_EQ(list.AllocatedEnd(), 65536);
    EXPECT_THROW(list.Delete(1), EListError);
    EXPECT_THROW(list.Delete(-1), EListError);
    EXPECT_THROW(list.PixelBits(5), EListError);
    EXPECT_THROW(list.GetBitmap(1), EListError);

    // A refused re-allocation keeps the image as it was.
    list.ScanLine(0, 0)[0] = 9;
    TBitmap none;
    EXPECT_THROW(list.CopyFromTBitmap(0, &none), EInvalidGraphic);
    EXPECT_EQ(list.FreeBlockCount(), 0);
    EXPECT_EQ(list.ImageWidth(0), 3);
    EXPECT_EQ(list.ScanLine(0, 0)[0], 9);
}

TEST(IEVirtualDIBList, FileGrowthRefusedByTheSystemIsAnError)
{
    TIEVirtualDIBList list;
    list.AddBlankImage(10, 10, 24);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        list.AddBlankImage(300, 300, 24);
    } catch (const EOutOfResources&) {
        threw = true;
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.FileSize(), 65536);
    EXPECT_EQ(list.AllocatedEnd(), 65536);
    EXPECT_EQ(list.AddBlankImage(300, 300, 24), 1); // with room again it works
}

TEST(IEVirtualDIBList, TemporaryFileNeverLeftBehind)
{
    TScratchFolder dir;
    {
        TIEVirtualDIBList list(dir.Path);
        EXPECT_EQ(list.Folder(), dir.Path + "/");
        EXPECT_EQ(list.FileName().rfind(dir.Path + "/imaging", 0), 0u);
        for (int i = 0; i < 5; ++i)
            list.AddBlankImage(100, 100, 24);
        EXPECT_EQ(dir.Entries(), 0); // unlinked as soon as made
    }
    EXPECT_EQ(dir.Entries(), 0);

    // An unusable folder falls back to the temp folder; with neither, a clear error.
    {
        TEnvTmpDir env((dir.Path + "/").c_str());
        TIEVirtualDIBList list("/nonexistent/kelvane-no-such-dir");
        EXPECT_EQ(list.Folder(), dir.Path + "/");
        EXPECT_EQ(list.AddBlankImage(2, 2, 24), 0);
    }
    {
        TEnvTmpDir env("/nonexistent/kelvane-no-such-dir");
        EXPECT_THROW(TIEVirtualDIBList("/nonexistent/other"), EFCreateError);
    }
    EXPECT_EQ(dir.Entries(), 0);
}

TEST(IEBitmap, FileTheSystemRefusesFallsBackToMemory)
{
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    TIEBitmap b;
    b.Allocate(200, 200, ie24RGB); // 120000 bytes: the space cannot be reserved
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(b.Location(), ieLocationMemory);
    ASSERT_NE(b.AlphaChannel(), nullptr);
    EXPECT_EQ(b.AlphaChannel()->Location(), ieLocationFile); // 40000 bytes fit
    b.ScanLine(199)[599] = 5;
    EXPECT_EQ(b.ScanLine(199)[599], 5);
}
