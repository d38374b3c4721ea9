#include "platform/BmpWiden.h"
#include "platform/Graphics.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>

using namespace kv;

namespace {

// Little builders for hand-made BMP files.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes& u8(uint8_t v)
    {
        b.push_back(v);
        return *this;
    }
    Bytes& u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
    Bytes& u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
    Bytes& raw(std::initializer_list<uint8_t> v)
    {
        b.insert(b.end(), v);
        return *this;
    }
};

// File header + 40-byte info header.
Bytes Header(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t offBits, uint32_t clrUsed = 0)
{
    Bytes x;
    x.u16(0x4D42).u32(0).u16(0).u16(0).u32(offBits);
    x.u32(40)
        .u32(uint32_t(w))
        .u32(uint32_t(h))
        .u16(1)
        .u16(bits)
        .u32(compression)
        .u32(0)
        .u32(0)
        .u32(0)
        .u32(clrUsed)
        .u32(0);
    return x;
}

void Load(TBitmap& bmp, const std::vector<uint8_t>& bytes)
{
    TReadOnlyMemoryStream s(bytes.data(), int64_t(bytes.size()));
    bmp.LoadFromStream(s);
}

std::vector<uint8_t> Save(TBitmap& bmp)
{
    TMemoryStream s;
    bmp.SaveToStream(s);
    return s.Bytes();
}

} // namespace

TEST(BmpWriter, ThirtyTwoBitLayoutKeepsAlpha)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf32bit);
    bmp.SetSize(2, 1);
    uint8_t* row = bmp.ScanLine(0);
    PutU32LE(row, 0x00123456);
    PutU32LE(row + 4, 0x80ABCDEF);
    auto b = Save(bmp);
    ASSERT_EQ(b.size(), 62u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(GetU32LE(&b[2]), 62u);
    EXPECT_EQ(GetU32LE(&b[10]), 54u);
    EXPECT_EQ(GetU32LE(&b[14]), 40u);
    EXPECT_EQ(GetU32LE(&b[18]), 2u);
    EXPECT_EQ(GetU32LE(&b[22]), 1u);
    EXPECT_EQ(GetU16LE(&b[26]), 1);
    EXPECT_EQ(GetU16LE(&b[28]), 32);
    EXPECT_EQ(GetU32LE(&b[30]), 0u);
    std::vector<uint8_t> px(b.begin() + 54, b.end());
    EXPECT_EQ(px, (std::vector<uint8_t>{0x56, 0x34, 0x12, 0x00, 0xEF, 0xCD, 0xAB, 0x80}));

    TBitmap back;
    Load(back, b);
    EXPECT_EQ(back.PixelFormat(), pf32bit);
    EXPECT_EQ(GetU32LE(back.ScanLine(0)), 0x00123456u);
    EXPECT_EQ(GetU32LE(back.ScanLine(0) + 4), 0x80ABCDEFu);
}

TEST(BmpWriter, EveryPixelFormatRoundTrips)
{
    for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        TBitmap bmp;
        bmp.SetPixelFormat(pf);
        bmp.SetSize(7, 3); // odd width: row padding matters
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < bmp.BytesPerScanLine(); ++x)
                bmp.ScanLine(y)[x] = uint8_t(x * 37 + y * 11 + 5);
        auto bytes = Save(bmp);
        int bits = bmp.BitsPerPixel();
        size_t palette = bits <= 8 ? bmp.PaletteEntries().size() * 4 : 0;
        size_t masks = pf == pf16bit ? 12 : 0;
        EXPECT_EQ(bytes.size(), 54 + masks + palette + size_t(TBitmap::BytesPerScanLine(7, bits)) * 3) << int(pf);
        EXPECT_EQ(GetU16LE(&bytes[28]), bits);
        TBitmap back;
        Load(back, bytes);
        ASSERT_EQ(back.PixelFormat(), pf);
        EXPECT_EQ(back.PaletteEntries(), bmp.PaletteEntries());
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x)
                EXPECT_EQ(back.PixelColor(x, y), bmp.PixelColor(x, y)) << int(pf) << " " << x << "," << y;
    }
}

TEST(BmpWriter, DefaultPalettesOfNewBitmaps)
{
    TBitmap b1, b4, b8;
    b1.SetPixelFormat(pf1bit);
    b4.SetPixelFormat(pf4bit);
    b8.SetPixelFormat(pf8bit);
    ASSERT_EQ(b1.PaletteEntries().size(), 2u);
    EXPECT_EQ(b1.PaletteEntries()[1], (TPaletteEntry{255, 255, 255, 0}));
    ASSERT_EQ(b4.PaletteEntries().size(), 16u);
    EXPECT_EQ(b4.PaletteEntries()[9], (TPaletteEntry{255, 0, 0, 0}));
    ASSERT_EQ(b8.PaletteEntries().size(), 256u);
    EXPECT_EQ(b8.PaletteEntries()[255], (TPaletteEntry{255, 255, 255, 0}));
}

TEST(BmpReader, EightBitBottomUpWithShortPalette)
{
    // 3 x 2, 8 bits, 2 colours used: rows padded to 4 bytes, bottom row first.
    Bytes f = Header(3, 2, 8, 0, 14 + 40 + 8, 2);
    f.raw({0x00, 0x00, 0xFF, 0x00}); // index 0: red (B, G, R, 0)
    f.raw({0xFF, 0x00, 0x00, 0x00}); // index 1: blue
    f.raw({0, 1, 0, 0});             // bottom row
    f.raw({1, 1, 1, 0});             // top row
    TBitmap bmp;
    Load(bmp, f.b);
    EXPECT_EQ(bmp.PixelFormat(), pf8bit);
    EXPECT_EQ(bmp.PaletteEntries().size(), 2u);
    EXPECT_EQ(bmp.PixelColor(0, 1), clRed);
    EXPECT_EQ(bmp.PixelColor(1, 1), clBlue);
    EXPECT_EQ(bmp.PixelColor(2, 0), clBlue);
}

TEST(BmpReader, TopDown24Bit)
{
    Bytes f = Header(1, -2, 24, 0, 54);
    f.raw({0x00, 0x00, 0xFF, 0}); // first row in the file is the top one
    f.raw({0x00, 0xFF, 0x00, 0});
    TBitmap bmp;
    Load(bmp, f.b);
    EXPECT_EQ(bmp.PixelFormat(), pf24bit);
    EXPECT_EQ(bmp.PixelColor(0, 0), clRed);
    EXPECT_EQ(bmp.PixelColor(0, 1), clLime);
}

// Every widening routine gives the same opaque words for any width and any alignment of
// the destination, through the cache or past it, reading nothing beyond the row (each
// source is exactly its row, for the sanitizer) and writing nothing beside it.
TEST(BmpReader, TwentyFourBitRowsWidenToOpaqueWords)
{
    std::vector<TWidenBgrRow> routines = {&WidenBgrRowPlain, WidenBgrRow()};
    if (Ssse3WidenBgrRow() != nullptr)
        routines.push_back(Ssse3WidenBgrRow());
    const uint32_t untouched = 0x12345678u;
    for (size_t r = 0; r < routines.size(); ++r)
        for (int32_t count = 0; count <= 70; ++count) {
            std::vector<uint8_t> src(size_t(count) * 3);
            for (size_t i = 0; i < src.size(); ++i)
                src[i] = uint8_t(i * 37 + 11);
            for (int32_t shift = 0; shift < 16; ++shift)
                for (TRowStore store : {rsCached, rsStreamed}) {
                    alignas(64) uint32_t out[70 + 18];
                    std::fill(std::begin(out), std::end(out), untouched);
                    routines[r](src.data(), count, out + shift, store);
                    for (int32_t i = 0; i < count + 18; ++i) {
                        const int32_t x = i - shift;
                        const uint32_t want = x < 0 || x >= count ? untouched
                                                                  : 0xFF000000u | uint32_t(src[3 * x + 2]) << 16 |
                                                                        uint32_t(src[3 * x + 1]) << 8 | src[3 * x];
                        ASSERT_EQ(out[size_t(i)], want) << "routine " << r << ", count " << count << ", shift " << shift
                                                        << ", store " << int(store) << ", word " << i;
                    }
                }
        }
}

// A 24-bit file read straight into 32-bit words, as File > Open does: a picture large
// enough to be written past the cache, an odd width (padded rows), bottom-up rows turned
// over, and rows enough for several of the reader's batches.
TEST(BmpReader, TwentyFourBitFileIntoWordsTurnsRowsOver)
{
    const int32_t w = 1025, h = 1024, stride = (w * 3 + 3) & ~3;
    Bytes f = Header(w, h, 24, 0, 54);
    f.b.resize(54 + size_t(stride) * h);
    const auto byteAt = [](int32_t x, int32_t y, int32_t c) { return uint8_t(x * 7 + y * 13 + c * 101); };
    for (int32_t y = 0; y < h; ++y) // file row y is picture row h - 1 - y
        for (int32_t x = 0; x < w; ++x)
            for (int32_t c = 0; c < 3; ++c)
                f.b[54 + size_t(y) * stride + size_t(x) * 3 + size_t(c)] = byteAt(x, h - 1 - y, c);
    std::vector<uint32_t> words;
    TBitmap bmp;
    bmp.SetPixels32Target([&words](int32_t W, int32_t H) {
        words.assign(size_t(W) * size_t(H), 0);
        return words.data();
    });
    Load(bmp, f.b);
    ASSERT_EQ(words.size(), size_t(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t want =
                0xFF000000u | uint32_t(byteAt(x, y, 2)) << 16 | uint32_t(byteAt(x, y, 1)) << 8 | byteAt(x, y, 0);
            ASSERT_EQ(words[size_t(y) * w + size_t(x)], want) << x << "," << y;
        }
}

TEST(BmpReader, OneBitCoreHeader)
{
    Bytes f;
    f.u16(0x4D42).u32(0).u16(0).u16(0).u32(14 + 12 + 6);
    f.u32(12).u16(10).u16(1).u16(1).u16(1); // OS/2: width, height, planes, bits
    f.raw({0, 0, 0, 0xFF, 0xFF, 0xFF});     // 3-byte palette entries: black, white
    f.raw({0xA0, 0x40, 0, 0});              // 1010 0000 01..
    TBitmap bmp;
    Load(bmp, f.b);
    EXPECT_EQ(bmp.PixelFormat(), pf1bit);
    EXPECT_EQ(bmp.Width(), 10);
    EXPECT_EQ(bmp.PixelColor(0, 0), clWhite);
    EXPECT_EQ(bmp.PixelColor(1, 0), clBlack);
    EXPECT_EQ(bmp.PixelColor(2, 0), clWhite);
    EXPECT_EQ(bmp.PixelColor(9, 0), clWhite);
}

TEST(BmpReader, Rle8RunsAbsoluteDeltaAndClamping)
{
    Bytes f = Header(4, 2, 8, 1, 14 + 40 + 12, 3);
    f.raw({0, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0}); // black, red, green
    f.raw({9, 1});                                     // run of 9 reds, clamped to the 4-pixel row
    f.raw({0, 0});                                     // end of line
    f.raw({0, 3, 2, 1, 2, 0});                         // absolute: 2 1 2, padded
    f.raw({0, 1});                                     // end of bitmap
    TBitmap bmp;
    Load(bmp, f.b);
    EXPECT_EQ(bmp.PixelColor(3, 1), clRed); // bottom row
    EXPECT_EQ(bmp.PixelColor(0, 0), clLime);
    EXPECT_EQ(bmp.PixelColor(1, 0), clRed);
    EXPECT_EQ(bmp.PixelColor(3, 0), clBlack);
}

TEST(BmpReader, Rle4AndDeltaPastThePicture)
{
    Bytes f = Header(4, 2, 4, 2, 14 + 40 + 8, 2);
    f.raw({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0});
    f.raw({3, 0x10});        // 1 0 1
    f.raw({0, 2, 200, 200}); // delta far outside: nothing more is written
    TBitmap bmp;
    Load(bmp, f.b);
    EXPECT_EQ(bmp.PixelColor(0, 1), clWhite);
    EXPECT_EQ(bmp.PixelColor(1, 1), clBlack);
    EXPECT_EQ(bmp.PixelColor(2, 1), clWhite);
}

TEST(BmpReader, BitFieldsVariants)
{
    // 16 bits 5-6-5 through a 40-byte header plus masks: pf16bit.
    Bytes f = Header(1, 1, 16, 3, 14 + 40 + 12);
    f.u32(0xF800).u32(0x07E0).u32(0x001F);
    f.raw({0xE0, 0x07, 0, 0}); // pure green
    TBitmap b16;
    Load(b16, f.b);
    EXPECT_EQ(b16.PixelFormat(), pf16bit);
    EXPECT_EQ(b16.PixelColor(0, 0), clLime);

    // 16 bits BI_RGB: 5-5-5.
    Bytes g = Header(1, 1, 16, 0, 54);
    g.raw({0x1F, 0x7C, 0, 0}); // 0x7C1F = red 31, blue 31
    TBitmap b15;
    Load(b15, g.b);
    EXPECT_EQ(b15.PixelFormat(), pf15bit);
    EXPECT_EQ(b15.PixelColor(0, 0), clFuchsia);

    // V5 header (124 bytes), 32 bits with masks in unusual places: unpacked.
    Bytes v;
    v.u16(0x4D42).u32(0).u16(0).u16(0).u32(14 + 124);
    v.u32(124).u32(1).u32(1).u16(1).u16(32).u32(3).u32(4).u32(0).u32(0).u32(0).u32(0);
    v.u32(0x000000FF).u32(0x0000FF00).u32(0x00FF0000).u32(0xFF000000); // R G B A masks
    for (int i = 0; i < 124 - 56; ++i)
        v.u8(0);
    v.raw({0x11, 0x22, 0x33, 0x44}); // R=0x11 G=0x22 B=0x33 A=0x44
    TBitmap b32;
    Load(b32, v.b);
    EXPECT_EQ(b32.PixelFormat(), pf32bit);
    EXPECT_EQ(GetU32LE(b32.ScanLine(0)), 0x44112233u);
}

TEST(BmpReader, HostileInputRaisesAndLeavesBitmapAlone)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(2, 2);
    auto expectBad = [&](const std::vector<uint8_t>& bytes) {
        EXPECT_THROW(Load(bmp, bytes), EInvalidGraphic);
        EXPECT_EQ(bmp.Width(), 2);
        EXPECT_EQ(bmp.PixelFormat(), pf24bit);
    };
    Bytes good = Header(2, 2, 24, 0, 54);
    for (int i = 0; i < 16; ++i)
        good.u8(0);
    // Every truncation (the last row's two padding bytes may be missing).
    for (size_t n = 0; n < good.b.size() - 2; ++n)
        expectBad(std::vector<uint8_t>(good.b.begin(), good.b.begin() + n));
    expectBad(Header(100000, 100000, 24, 0, 54).b); // huge
    expectBad(Header(65535, 65535, 8, 1, 54).b);    // RLE with nothing behind it
    expectBad(Header(-3, 2, 24, 0, 54).b);          // negative width
    expectBad(Header(2, INT32_MIN, 24, 0, 54).b);
    expectBad(Header(2, 2, 24, 0, 0x7FFFFFFF).b); // offset past the end
    expectBad(Header(2, 2, 24, 0, 20).b);         // offset inside the header
    expectBad(Header(2, 2, 7, 0, 54).b);          // bit count
    expectBad(Header(2, 2, 24, 1, 54).b);         // RLE8 at 24 bits
    expectBad(Header(2, -2, 8, 1, 54).b);         // top-down RLE
    Bytes rle = Header(4, 2, 8, 1, 54);
    rle.raw({2, 0, 0}); // runs out mid-pair
    expectBad(rle.b);
    Bytes sig = good;
    sig.b[0] = 'X';
    expectBad(sig.b);
}

TEST(BmpReader, StreamPositionEndsAfterThePicture)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 2);
    TMemoryStream s;
    bmp.SaveToStream(s);
    int64_t end = s.Position();
    s.WriteU32LE(0xDEADBEEF);
    s.SetPosition(0);
    TBitmap back;
    back.LoadFromStream(s);
    EXPECT_EQ(s.Position(), end);
}

TEST(BitmapFormats, ConversionKeepsColoursAndMapsToNearestPaletteEntry)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 1);
    bmp.SetPixelColor(0, 0, RGB(250, 5, 5));
    bmp.SetPixelColor(1, 0, RGB(10, 10, 10));
    bmp.SetPixelColor(2, 0, RGB(200, 200, 200));
    bmp.SetPixelFormat(pf1bit);
    EXPECT_EQ(bmp.PixelColor(0, 0), clBlack); // 250,5,5 is nearer black than white
    EXPECT_EQ(bmp.PixelColor(1, 0), clBlack);
    EXPECT_EQ(bmp.PixelColor(2, 0), clWhite);

    TBitmap c;
    c.SetPixelFormat(pf24bit);
    c.SetSize(1, 1);
    c.SetPixelColor(0, 0, RGB(250, 5, 5));
    c.SetPixelFormat(pf4bit);
    EXPECT_EQ(c.PixelColor(0, 0), clRed);
    c.SetPixelFormat(pf16bit);
    EXPECT_EQ(c.PixelColor(0, 0), clRed);
    c.SetPixelFormat(pf32bit);
    EXPECT_EQ(GetU32LE(c.ScanLine(0)), 0xFFFF0000u); // converted pixels are opaque
}

TEST(BitmapStorage, RowsBottomUpAndScanLineRange)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(5, 3);
    EXPECT_EQ(bmp.BytesPerScanLine(), 16);
    EXPECT_EQ(bmp.ScanLine(0), bmp.Bits() + 2 * 16);
    EXPECT_EQ(bmp.ScanLine(2), bmp.Bits());
    EXPECT_THROW(bmp.ScanLine(3), EInvalidGraphicOperation);
    EXPECT_THROW(bmp.ScanLine(-1), EInvalidGraphicOperation);
    EXPECT_THROW(bmp.SetSize(70000, 1), EOutOfResources);
    // Sizing for overwrite keeps the format and the layout, fires one change, leaves a
    // same-size bitmap's pixels alone and refuses the sizes SetSize refuses.
    int changes = 0;
    bmp.OnChange = [&](TObject*) { ++changes; };
    bmp.ScanLine(1)[4] = 0x5A;
    bmp.SetSizeForOverwrite(5, 3);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(bmp.ScanLine(1)[4], 0x5A);
    bmp.SetSizeForOverwrite(7, 2);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(bmp.PixelFormat(), pf24bit);
    EXPECT_EQ(bmp.Width(), 7);
    EXPECT_EQ(bmp.Height(), 2);
    EXPECT_EQ(bmp.BytesPerScanLine(), 24);
    EXPECT_EQ(bmp.ScanLine(1), bmp.Bits());
    EXPECT_THROW(bmp.SetSizeForOverwrite(-1, 2), EInvalidGraphic);
    EXPECT_THROW(bmp.SetSizeForOverwrite(70000, 1), EOutOfResources);
}

TEST(BitmapStorage, ChangeFiresOnlyOnRealChanges)
{
    TBitmap bmp;
    int changes = 0;
    bmp.OnChange = [&](TObject*) { ++changes; };
    bmp.SetSize(4, 4);
    bmp.SetSize(4, 4);
    EXPECT_EQ(changes, 1);
    bmp.SetPixelFormat(pf24bit);
    EXPECT_EQ(changes, 2);
    bmp.Canvas()->Brush()->SetColor(clRed);
    bmp.Canvas()->FillRect(Rect(0, 0, 2, 2));
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(bmp.PixelColor(1, 1), clRed);
    EXPECT_EQ(bmp.PixelColor(2, 2), clBlack);
}

TEST(BitmapAssign, CopiesEverythingAndDrawsOtherGraphics)
{
    TBitmap a;
    a.SetPixelFormat(pf8bit);
    a.SetSize(3, 2);
    a.SetPixelColor(2, 1, clRed);
    a.SetTransparentColor(clRed);
    TBitmap b;
    b.Assign(&a);
    EXPECT_EQ(b.PixelFormat(), pf8bit);
    EXPECT_EQ(b.PixelColor(2, 1), clRed);
    EXPECT_EQ(b.TransparentColor(), clRed);
    EXPECT_EQ(b.TransparentMode(), tmFixed);
    b.Assign(nullptr);
    EXPECT_TRUE(b.Empty());
    TPen pen;
    EXPECT_THROW(b.Assign(&pen), EConvertError);
}

TEST(BitmapDraw, TransparentColourIsLeftOut)
{
    TBitmap sprite;
    sprite.SetPixelFormat(pf24bit);
    sprite.SetSize(2, 1);
    sprite.SetPixelColor(0, 0, clLime);
    sprite.SetPixelColor(1, 0, clFuchsia);
    sprite.SetTransparent(true);
    sprite.SetTransparentColor(clFuchsia);
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(4, 2);
    target.Canvas()->Brush()->SetColor(clBlue);
    target.Canvas()->FillRect(Rect(0, 0, 4, 2));
    target.Canvas()->StretchDraw(Rect(0, 0, 4, 2), &sprite);
    EXPECT_EQ(target.PixelColor(0, 0), clLime);
    EXPECT_EQ(target.PixelColor(1, 1), clLime);
    EXPECT_EQ(target.PixelColor(2, 0), clBlue);
    EXPECT_EQ(target.PixelColor(3, 1), clBlue);
    sprite.SetTransparent(false);
    target.Canvas()->Draw(1, 1, &sprite);
    EXPECT_EQ(target.PixelColor(2, 1), clFuchsia);
}

// Writes the fuzz seeds: one tiny file of each reader variant (kept in the source tree
// so the replay in ctest always has them). Running it again rewrites the same bytes.
TEST(BmpSeeds, EachVariantLoads)
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
    for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        TBitmap bmp;
        bmp.SetPixelFormat(pf);
        bmp.SetSize(3, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < bmp.BytesPerScanLine(); ++x)
                bmp.ScanLine(y)[x] = uint8_t(0x5A ^ (x * 29 + y));
        seeds.push_back(
            {"fmt" + std::to_string(bmp.BitsPerPixel()) + (pf == pf16bit ? "_565" : "") + ".bmp", Save(bmp)});
    }
    Bytes rle8 = Header(4, 2, 8, 1, 14 + 40 + 8, 2);
    rle8.raw({0, 0, 0, 0, 0, 0, 0xFF, 0, 3, 1, 0, 0, 0, 3, 1, 0, 1, 0, 0, 2, 1, 0, 0, 1});
    seeds.push_back({"rle8.bmp", rle8.b});
    Bytes rle4 = Header(5, 2, 4, 2, 14 + 40 + 8, 2);
    rle4.raw({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 5, 0x10, 0, 0, 0, 3, 0x10, 0x10, 0, 1});
    seeds.push_back({"rle4.bmp", rle4.b});
    Bytes core;
    core.u16(0x4D42).u32(0).u16(0).u16(0).u32(14 + 12 + 6);
    core.u32(12).u16(2).u16(2).u16(1).u16(1);
    core.raw({0, 0, 0, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0, 0x40, 0, 0, 0});
    seeds.push_back({"os2core.bmp", core.b});
    Bytes v5;
    v5.u16(0x4D42).u32(0).u16(0).u16(0).u32(14 + 124);
    v5.u32(124).u32(1).u32(uint32_t(-2)).u16(1).u16(32).u32(3).u32(8).u32(0).u32(0).u32(0).u32(0);
    v5.u32(0x000000FF).u32(0x0000FF00).u32(0x00FF0000).u32(0xFF000000);
    for (int i = 0; i < 124 - 56; ++i)
        v5.u8(0);
    v5.raw({1, 2, 3, 4, 5, 6, 7, 8});
    seeds.push_back({"v5_topdown_masks.bmp", v5.b});
    Bytes bf16 = Header(2, 1, 16, 3, 14 + 40 + 12);
    bf16.u32(0x0F00).u32(0x00F0).u32(0x000F).raw({0x21, 0x43, 0x65, 0x87});
    seeds.push_back({"bitfields16_444.bmp", bf16.b});

    std::filesystem::path dir = std::filesystem::path(KV_TEST_DATA) / "bmp";
    std::filesystem::create_directories(dir);
    for (const auto& [name, bytes] : seeds) {
        TBitmap bmp;
        EXPECT_NO_THROW(Load(bmp, bytes)) << name;
        EXPECT_FALSE(bmp.Empty()) << name;
        std::FILE* f = std::fopen((dir / name).string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

// Paletted rows convert through the palette; indices past a short palette are opaque black.
TEST(BitmapToPixels32, PalettedFormats)
{
    const std::vector<TPaletteEntry> pal = {{10, 20, 30, 0}, {200, 100, 50, 0}, {1, 2, 3, 0}};
    struct Case {
        TPixelFormat Format;
        int32_t Width;
        std::vector<uint8_t> Row;
        std::vector<uint32_t> Want;
    };
    const uint32_t c0 = 0xFF0A141Eu, c1 = 0xFFC86432u, c2 = 0xFF010203u, none = 0xFF000000u;
    const Case cases[] = {
        {pf8bit, 5, {2, 0, 1, 7, 255}, {c2, c0, c1, none, none}},
        {pf4bit, 3, {0x21, 0x90}, {c2, c1, none}},
        {pf1bit, 9, {0xA5, 0x80}, {c1, c0, c1, c0, c0, c1, c0, c1, c1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.Format));
        TBitmap b;
        b.SetPixelFormat(c.Format);
        b.SetPaletteEntries(pal);
        b.SetSize(c.Width, 2);
        for (int32_t y = 0; y < 2; ++y)
            std::copy(c.Row.begin(), c.Row.end(), b.ScanLine(y));
        std::vector<uint32_t> got(size_t(c.Width) * 2);
        BitmapToPixels32(b, got.data());
        EXPECT_EQ(std::vector<uint32_t>(got.begin(), got.begin() + c.Width), c.Want);
        EXPECT_EQ(std::vector<uint32_t>(got.begin() + c.Width, got.end()), c.Want);
    }
}
