#include "imaging/IEBitmaps.h"
#include "imaging/ImagingProc.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

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
    uint8_t src[2] = {0xF0, 0x0F}, dst[2] = {0xAA, 0xAA};
    CopyBitRun(dst, src, 2, 8, 4); // bits 4..11 of src = 0000 0000
    EXPECT_EQ(dst[0], 0x80);
    EXPECT_EQ(dst[1], 0x2A);
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

TEST(SharedRoutines, ConvertRowBits)
{
    uint8_t src[1] = {0xA0}; // 1 0 1 0
    TRGB pal[2] = {{0, 0, 0}, {10, 20, 30}};
    uint8_t out[12];
    EXPECT_EQ(ConvertRowBits(src, out, 1, 4, 1, pal, 24, nullptr), 12);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[2], 30);
    EXPECT_EQ(out[3], 0);
    uint8_t nib[1] = {0x3C};
    uint8_t idx[2];
    EXPECT_EQ(ConvertRowBits(nib, idx, 4, 2, 15, nullptr, 8, nullptr), 2);
    EXPECT_EQ(idx[0], 3);
    EXPECT_EQ(idx[1], 12);
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
    IEFastMaskResample(m, out, 3, 2);
    EXPECT_EQ(out.GetPixel(1, 1), 77);
    EXPECT_EQ(out.X1, 1);
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
