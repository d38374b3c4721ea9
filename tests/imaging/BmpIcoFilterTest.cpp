#include "imaging/BmpFilter.h"
#include "imaging/IEBitmaps.h"
#include "imaging/IcoFilter.h"
#include "imaging/ImagingIO.h"
#include "imaging/PngFilter.h"
#include "imaging/imgdefs.h"

#include "imaging/FilterTestUtil.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace kv;
using namespace kv::test;

namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) { v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)}); }
void Put32(std::vector<uint8_t>& v, uint32_t x)
{
    v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
}
void Set32(std::vector<uint8_t>& v, size_t At, uint32_t x)
{
    for (size_t i = 0; i < 4; ++i)
        v.at(At + i) = uint8_t(x >> (8 * i));
}

// A 40-byte info header and its palette; Height may be negative (top-down).
void InfoHeader(std::vector<uint8_t>& b, int32_t W, int32_t H, int Bits, uint32_t Compression,
                const std::vector<TRGB>& Palette)
{
    Put32(b, 40);
    Put32(b, uint32_t(W));
    Put32(b, uint32_t(H));
    Put16(b, 1);
    Put16(b, uint16_t(Bits));
    Put32(b, Compression);
    Put32(b, 0);    // image size
    Put32(b, 3780); // pixels per metre
    Put32(b, 3780);
    Put32(b, uint32_t(Palette.size())); // colours used
    Put32(b, 0);
    for (TRGB c : Palette)
        b.insert(b.end(), {c.b, c.g, c.r, 0});
}

std::vector<uint8_t> MakeBmp(int32_t W, int32_t H, int Bits, uint32_t Compression, const std::vector<TRGB>& Palette,
                             const std::vector<uint8_t>& Data, const std::vector<uint32_t>& Masks = {})
{
    std::vector<uint8_t> b = {'B', 'M'};
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0); // data offset 0: right after the palette
    InfoHeader(b, W, H, Bits, Compression, Palette);
    for (uint32_t m : Masks)
        Put32(b, m);
    b.insert(b.end(), Data.begin(), Data.end());
    return b;
}

struct TLoad {
    TBitmap Bitmap;
    TIOParamsVals Params{nullptr};
    TProgressFixture P;
};

void LoadBmp(TLoad& L, const std::vector<uint8_t>& File, bool ParamsOnly = false)
{
    TReadOnlyMemoryStream s(File.data(), int64_t(File.size()));
    LoadBmpFromStream(s, L.Bitmap, 0, L.Params, L.P.Progress, ParamsOnly);
}

std::vector<uint8_t> SaveBmp(TBitmap& Bitmap, TIOParamsVals& Params, bool* Aborting = nullptr)
{
    TMemoryStream s;
    TProgressFixture p;
    SaveBmpToStream(s, Bitmap, Params, p.Progress);
    if (Aborting)
        *Aborting = p.Aborting;
    return s.Bytes();
}

const TRGB Red = CreateRGB(255, 0, 0), Green = CreateRGB(0, 255, 0), Blue = CreateRGB(0, 0, 255),
           White = CreateRGB(255, 255, 255), Black = CreateRGB(0, 0, 0);

} // namespace

TEST(BmpFilter, OnePixelTrueColourHeaderHasTheWorkedLayout)
{
    IESetScreenDpi(72, 72);
    TBitmap b;
    FillPicture(b, 1, 1, {Red});
    TIOParamsVals p(nullptr);
    p.DpiX = p.DpiY = 96;
    const auto f = SaveBmp(b, p);
    ASSERT_EQ(f.size(), 58u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(GetU32LE(&f[2]), 58u);
    EXPECT_EQ(GetU32LE(&f[10]), 54u);
    EXPECT_EQ(GetU32LE(&f[14]), 40u);
    EXPECT_EQ(GetU16LE(&f[26]), 1);
    EXPECT_EQ(GetU16LE(&f[28]), 24);
    EXPECT_EQ(GetU32LE(&f[30]), 0u);
    EXPECT_EQ(GetU32LE(&f[34]), 4u);
    EXPECT_EQ(GetU32LE(&f[38]), 3780u);
    EXPECT_EQ(GetU32LE(&f[42]), 3780u);
    EXPECT_EQ(GetU32LE(&f[46]), 0u);
    EXPECT_EQ(GetU32LE(&f[50]), 16777216u);
    TLoad L;
    LoadBmp(L, f);
    EXPECT_FALSE(L.P.Aborting);
    EXPECT_EQ(L.Params.DpiX, 96);
    EXPECT_EQ(PixelAt(L.Bitmap, 0, 0), Red);
}

TEST(BmpFilter, RunLengthCodersGiveTheWorkedCodes)
{
    const uint8_t a = 7, b = 9, c = 3;
    struct {
        std::vector<uint8_t> Row;
        bool Rle4;
        std::vector<uint8_t> Code;
    } cases[] = {
        {{a, b, c}, false, {0, 3, a, b, c, 0, 0, 0}},
        {{a, b}, false, {1, a, 1, b, 0, 0}},
        {{a, a, a, b}, false, {3, a, 1, b, 0, 0}},
        {{a, b, c}, true, {0, 3, uint8_t(a << 4 | b), uint8_t(c << 4), 0, 0}},
        {{a, b}, true, {2, uint8_t(a << 4 | b), 0, 0}},
        {{a}, true, {1, uint8_t(a << 4), 0, 0}},
        {std::vector<uint8_t>(300, a), false, {255, a, 45, a, 0, 0}},
    };
    for (const auto& t : cases) {
        std::vector<uint8_t> out;
        (t.Rle4 ? BmpEncodeRle4Row : BmpEncodeRle8Row)(t.Row.data(), int32_t(t.Row.size()), out);
        EXPECT_EQ(out, t.Code);
    }
}

TEST(BmpFilter, OneColourRle8FileHasTheWorkedRowsAndReadsBack)
{
    TBitmap b;
    FillPicture(b, 300, 2, {Green});
    TIOParamsVals p(nullptr);
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BmpCompression = 1;
    const auto f = SaveBmp(b, p);
    const size_t data = GetU32LE(&f[10]);
    ASSERT_EQ(f.size(), data + 14);
    const uint8_t v = f[data + 1];
    const std::vector<uint8_t> row = {0xFF, v, 0x2D, v, 0, 0};
    EXPECT_TRUE(std::equal(row.begin(), row.end(), f.begin() + long(data)));
    EXPECT_TRUE(std::equal(row.begin(), row.end(), f.begin() + long(data) + 6));
    EXPECT_EQ(f[f.size() - 2], 0);
    EXPECT_EQ(f.back(), 1);
    EXPECT_EQ(GetU32LE(&f[30]), 1u);
    TLoad L;
    LoadBmp(L, f);
    EXPECT_FALSE(L.P.Aborting);
    EXPECT_EQ(L.Params.BmpCompression, 1);
    EXPECT_EQ(PixelAt(L.Bitmap, 299, 1), Green);
}

TEST(BmpFilter, SixteenBitMasksScaleEachField)
{
    // 0x7FFF with the default 5-5-5 masks, then 0xFFFF with 5-6-5 bit fields.
    TLoad a;
    LoadBmp(a, MakeBmp(1, 1, 16, 0, {}, {0xFF, 0x7F, 0, 0}));
    EXPECT_EQ(PixelAt(a.Bitmap, 0, 0), CreateRGB(248, 248, 248));
    EXPECT_EQ(a.Params.BitsPerSample, 5);
    TLoad b;
    LoadBmp(b, MakeBmp(1, 1, 16, 3, {}, {0xFF, 0xFF, 0, 0}, {0xF800, 0x7E0, 0x1F}));
    EXPECT_EQ(PixelAt(b.Bitmap, 0, 0), CreateRGB(248, 252, 248));
    EXPECT_EQ(BmpMaskedChannel(0xFFFFFFFF, 0), 0);
    EXPECT_EQ(BmpMaskedChannel(0x3FF00000, 0x3FF00000), 255); // 10-bit field lands on bit 7
    EXPECT_EQ(BmpMaskedChannel(0x8, 0x8), 128);               // 1-bit field
}

TEST(BmpFilter, WriterToReaderAtEveryDepthAndHeader)
{
    const std::vector<TRGB> four = {Red, Green, Blue, White};
    struct {
        int Bps, Spp, Version, Rle;
        std::vector<TRGB> Colors;
    } cases[] = {
        {8, 3, 1, 0, {}},          {8, 3, 2, 0, {}},          {8, 3, 3, 0, {}},   {8, 1, 1, 0, four},
        {8, 1, 1, 1, four},        {4, 1, 1, 0, four},        {4, 1, 1, 1, four}, {4, 1, 2, 0, four},
        {1, 1, 1, 0, {Red, Blue}}, {1, 1, 2, 0, {Red, Blue}},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.Bps << "/" << t.Spp << " v" << t.Version << " rle" << t.Rle);
        TBitmap b;
        FillPicture(b, 13, 5, t.Colors);
        TIOParamsVals p(nullptr);
        p.BitsPerSample = t.Bps;
        p.SamplesPerPixel = t.Spp;
        p.BmpVersion = uint8_t(t.Version);
        p.BmpCompression = uint8_t(t.Rle);
        bool aborted = true;
        const auto f = SaveBmp(b, p, &aborted);
        EXPECT_FALSE(aborted);
        TLoad L;
        LoadBmp(L, f);
        ASSERT_FALSE(L.P.Aborting);
        EXPECT_EQ(L.Params.BmpVersion, t.Version == 3 ? 3 : t.Version);
        EXPECT_EQ(L.Params.BitsPerSample, t.Bps);
        ASSERT_EQ(L.Bitmap.Width(), 13);
        ASSERT_EQ(L.Bitmap.Height(), 5);
        if (t.Bps == 1) {
            // Two colours keep their palette; the bits say which.
            EXPECT_EQ(L.Params.ColorMapCount, 2);
            continue;
        }
        // The quantizers keep 5 to 8 bits a channel; true colour is exact.
        const int tolerance = t.Spp == 1 ? 24 : 0;
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 13; ++x) {
                const TRGB got = PixelAt(L.Bitmap, x, y), want = PixelAt(b, x, y);
                ASSERT_LE(std::abs(got.r - want.r) + std::abs(got.g - want.g) + std::abs(got.b - want.b), tolerance)
                    << x << "," << y;
            }
    }
}

TEST(BmpFilter, TopDownAndOffsetlessFilesLoad)
{
    // 2 x 2 24-bit, height -2: the first row in the file is the top.
    std::vector<uint8_t> rows = {0, 0, 255, 0, 255, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0};
    TLoad L;
    LoadBmp(L, MakeBmp(2, -2, 24, 0, {}, rows));
    ASSERT_FALSE(L.P.Aborting);
    EXPECT_EQ(L.Params.Height, 2);
    EXPECT_EQ(PixelAt(L.Bitmap, 0, 0), Red);
    EXPECT_EQ(PixelAt(L.Bitmap, 1, 0), Green);
    EXPECT_EQ(PixelAt(L.Bitmap, 0, 1), Red);
    EXPECT_EQ(PixelAt(L.Bitmap, 1, 1), Blue);
}

TEST(BmpFilter, OneBitPaletteWhiteThenBlackIsInverted)
{
    const std::vector<uint8_t> row = {0x80, 0, 0, 0};
    TLoad inv, keep;
    LoadBmp(inv, MakeBmp(2, 1, 1, 0, {White, Black}, row));
    LoadBmp(keep, MakeBmp(2, 1, 1, 0, {Red, Blue}, row));
    EXPECT_EQ(PixelAt(inv.Bitmap, 0, 0), Black);
    EXPECT_EQ(PixelAt(inv.Bitmap, 1, 0), White);
    EXPECT_EQ(keep.Bitmap.PixelFormat(), pf24bit); // a coloured palette keeps its colours
    EXPECT_EQ(PixelAt(keep.Bitmap, 0, 0), Blue);
    EXPECT_EQ(PixelAt(keep.Bitmap, 1, 0), Red);
    EXPECT_EQ(keep.Params.ColorMapCount, 2);
}

TEST(BmpFilter, RunLengthDataIsClippedAndBounded)
{
    const std::vector<TRGB> pal = {Red, Green};
    // A run far past the row, a delta past the picture, and no end escape.
    TLoad a;
    LoadBmp(a, MakeBmp(3, 2, 8, 1, pal, {200, 1, 0, 0, 0, 2, 250, 9, 0, 1}));
    EXPECT_FALSE(a.P.Aborting);
    EXPECT_EQ(PixelAt(a.Bitmap, 2, 1), Green);
    EXPECT_EQ(PixelAt(a.Bitmap, 0, 0), Black);
    // Literal of 5 indexes with only 2 bytes of data left: ends with an error.
    TLoad b;
    LoadBmp(b, MakeBmp(3, 2, 8, 1, pal, {0, 5, 1, 1}));
    EXPECT_TRUE(b.P.Aborting);
    // Indexes past a 2-entry palette read the zeroed table.
    TLoad c;
    LoadBmp(c, MakeBmp(2, 1, 8, 1, pal, {2, 200, 0, 1}));
    EXPECT_FALSE(c.P.Aborting);
    EXPECT_EQ(PixelAt(c.Bitmap, 1, 0), Black);
    // RLE4: a delta moves from the current position.
    TLoad d;
    LoadBmp(d, MakeBmp(4, 1, 4, 2, pal, {1, 0x10, 0, 2, 2, 0, 1, 0x10, 0, 1}));
    EXPECT_EQ(PixelAt(d.Bitmap, 0, 0), Green);
    EXPECT_EQ(PixelAt(d.Bitmap, 1, 0), Black);
    EXPECT_EQ(PixelAt(d.Bitmap, 3, 0), Green);
}

// The imaging library's reader and the platform's apply one rule to run-length data
// and to the colour count; each file is spelled out by MakeBmp (file header, 40-byte
// info header whose colours used is the palette's length, the palette, the data).
TEST(BmpReaders, BothRefuseWhatTheirDataCannotHold)
{
    auto platformReads = [](const std::vector<uint8_t>& File, TBitmap& Out) {
        TReadOnlyMemoryStream s(File.data(), int64_t(File.size()));
        try {
            Out.LoadFromStream(s);
            return true;
        } catch (const EInvalidGraphic&) {
            return false;
        }
    };
    // Codes: Code repeated N times, then Tail.
    auto codes = [](std::vector<uint8_t> Code, int N, std::vector<uint8_t> Tail) {
        std::vector<uint8_t> d;
        for (int i = 0; i < N; ++i)
            d.insert(d.end(), Code.begin(), Code.end());
        d.insert(d.end(), Tail.begin(), Tail.end());
        return d;
    };
    const std::vector<uint8_t> endOfBitmap = {0, 1}, endOfLine = {0, 0};
    const std::vector<uint8_t> delta255Rows = {0, 2, 0, 255}; // dx 0, dy 255
    struct {
        const char* What;
        int32_t W, H;
        int Bits;
        uint32_t Compression;
        std::vector<uint8_t> Data;
        bool Read;
    } cases[] = {
        // 14 + 40 + 8 + 2 = 64 bytes claiming 16383 x 16383 (805 MB at 24 bits).
        {"RLE8 of only the end of bitmap", 16383, 16383, 8, 1, endOfBitmap, false},
        {"RLE4 of only the end of bitmap", 16383, 16383, 4, 2, endOfBitmap, false},
        {"deltas that stop short of the last row", 16383, 16383, 8, 1, codes({0, 2, 255, 255}, 3, endOfBitmap), false},
        {"ends of line that stop short", 4000, 2000, 4, 2, codes(endOfLine, 10, endOfBitmap), false},
        // 4000 x 1022 from 34 bytes: a literal block of three indexes (and its pad byte),
        // four deltas and an end of line walk down 1021 rows, then a run of three index-1
        // pixels in the top row. More pixels than two bytes a row could reach, but every
        // row is walked through.
        {"deltas that walk down to the last row", 4000, 1022, 8, 1,
         codes({0, 3, 0, 2, 9, 0}, 1, codes(delta255Rows, 4, codes(endOfLine, 1, {3, 1, 0, 1}))), true},
        // The same in RLE4: the literal block's six indexes take three bytes and a pad.
        {"RLE4 deltas that walk down to the last row", 4000, 1022, 4, 2,
         codes({0, 6, 0x12, 0x34, 0x56, 0}, 1, codes(delta255Rows, 4, codes(endOfLine, 1, {3, 0x11, 0, 1}))), true},
        // A small picture may stop early: its rest is left blank.
        {"a small picture ended early", 100, 100, 8, 1, {3, 1, 0, 1}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const auto file = MakeBmp(c.W, c.H, c.Bits, c.Compression, {Red, Blue}, c.Data);
        TLoad L;
        LoadBmp(L, file);
        EXPECT_EQ(L.P.Aborting, !c.Read);
        TBitmap platform;
        EXPECT_EQ(platformReads(file, platform), c.Read);
        if (!c.Read) {
            EXPECT_LE(int64_t(L.Bitmap.Width()) * L.Bitmap.Height(), 1);
            continue;
        }
        // The run fills the first three pixels of the last row walked (the top one for
        // the deltas, the bottom one for the small picture).
        const int32_t y = c.H == 1022 ? 0 : c.H - 1;
        for (int32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(PixelAt(L.Bitmap, x, y), Blue) << x;
            ASSERT_EQ(platform.PixelFormat(), c.Bits == 8 ? pf8bit : pf4bit);
            const uint8_t* row = platform.ScanLine(y);
            EXPECT_EQ(c.Bits == 8 ? row[x] : (row[x / 2] >> (x % 2 ? 0 : 4)) & 15, 1) << x;
        }
        EXPECT_EQ(PixelAt(L.Bitmap, 3, y), Black); // the imaging picture starts zeroed
    }

    // More colours used than the depth can index (bmptoppm and ImageMagick refuse these
    // too): the offset still points at the pixels behind the two real entries.
    struct {
        int Bits;
        uint32_t ColorsUsed;
        bool Read;
    } colours[] = {{1, 256, false}, {1, 3, false}, {4, 17, false}, {8, 257, false}, {1, 2, true}, {4, 2, true}};
    for (const auto& c : colours) {
        SCOPED_TRACE(std::to_string(c.Bits) + " bits, " + std::to_string(c.ColorsUsed) + " colours");
        auto file = MakeBmp(8, 1, c.Bits, 0, {Red, Blue}, {0x00, 0x00, 0x00, 0x00});
        Set32(file, 10, 14 + 40 + 8); // data offset
        Set32(file, 14 + 32, c.ColorsUsed);
        TLoad L;
        LoadBmp(L, file);
        EXPECT_EQ(L.P.Aborting, !c.Read);
        TBitmap platform;
        EXPECT_EQ(platformReads(file, platform), c.Read);
        if (c.Read) {
            EXPECT_EQ(PixelAt(L.Bitmap, 0, 0), Red);
        }
    }
}

TEST(BmpFilter, TruncatedForgedAndUnsupportedInputEndWithAnError)
{
    TBitmap b;
    FillPicture(b, 9, 7);
    TIOParamsVals p(nullptr);
    const auto good = SaveBmp(b, p);
    for (size_t n : {0, 1, 13, 20, 53, 60, 100}) {
        TLoad L;
        LoadBmp(L, std::vector<uint8_t>(good.begin(), good.begin() + long(n)));
        EXPECT_TRUE(L.P.Aborting) << n;
    }
    const std::vector<uint8_t> px(64, 0);
    struct {
        int32_t W, H;
        int Bits;
        uint32_t Compression;
    } bad[] = {{2, 2, 1, 1},
               {2, 2, 4, 1},
               {2, 2, 8, 2},
               {2, 2, 2, 0},
               {2, 2, 24, 4},
               {2, 2, 24, 5},
               {2, -2, 8, 1},
               {100000, 100000, 24, 0},
               {-3, 2, 24, 0},
               {INT32_MAX, INT32_MAX, 32, 0},
               {INT32_MAX, INT32_MAX, 8, 1}};
    for (const auto& t : bad) {
        TLoad L;
        LoadBmp(L, MakeBmp(t.W, t.H, t.Bits, t.Compression, {Red, Blue}, px));
        EXPECT_TRUE(L.P.Aborting) << t.Bits << " " << t.Compression;
        EXPECT_LE(int64_t(L.Bitmap.Width()) * L.Bitmap.Height(), 4);
    }
    TLoad notBmp;
    LoadBmp(notBmp, {'B', 'X', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0});
    EXPECT_TRUE(notBmp.P.Aborting);
    // Offsets past the end: the pixel data, and the rest of a header said to be longer;
    // both fail in both modes, and the stream never ends up past its end.
    auto dataPast = MakeBmp(1, 1, 24, 0, {}, {1, 2, 3, 0});
    Set32(dataPast, 10, uint32_t(dataPast.size())); // the data would begin at the end
    auto headerPast = MakeBmp(1, 1, 24, 0, {}, {1, 2, 3, 0});
    Set32(headerPast, 14, 0x7FFFFF00);
    for (const auto* file : {&dataPast, &headerPast})
        for (bool paramsOnly : {true, false}) {
            TLoad L;
            TReadOnlyMemoryStream st(file->data(), int64_t(file->size()));
            LoadBmpFromStream(st, L.Bitmap, 0, L.Params, L.P.Progress, paramsOnly);
            EXPECT_TRUE(L.P.Aborting) << (file == &dataPast) << paramsOnly;
            EXPECT_LE(st.Position(), st.Size());
        }
}

TEST(BmpFilter, FilesWrittenByImageMagickReadRight)
{
    for (const char* name : {"bmp24.bmp", "bmp8.bmp", "bmp8rle.bmp", "bmp32a.bmp"}) {
        SCOPED_TRACE(name);
        TLoad L;
        LoadBmp(L, ReadTestFile(name));
        ASSERT_FALSE(L.P.Aborting);
        ASSERT_EQ(L.Bitmap.Width(), 4);
        ASSERT_EQ(L.Bitmap.Height(), 3);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 4; ++x)
                EXPECT_EQ(PixelAt(L.Bitmap, x, y), SourcePixel(x, y)) << x << "," << y;
    }
    TLoad mono;
    LoadBmp(mono, ReadTestFile("bmp1.bmp"));
    ASSERT_FALSE(mono.P.Aborting);
    EXPECT_EQ(mono.Bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(PixelAt(mono.Bitmap, 3, 0), White);
    EXPECT_EQ(PixelAt(mono.Bitmap, 0, 1), Black);
    // A 1-bit file whose palette is red then blue keeps its colours in 24 bits.
    // Made by netpbm: `ppmtobmp -bpp 1` of the 5 x 2 P3 picture
    // R B R R B / B B R B R.
    TLoad colours;
    LoadBmp(colours, ReadTestFile("bmp1_red_blue.bmp"));
    ASSERT_FALSE(colours.P.Aborting);
    EXPECT_EQ(colours.Bitmap.PixelFormat(), pf24bit);
    const bool redAt[2][5] = {{1, 0, 1, 1, 0}, {0, 0, 1, 0, 1}};
    for (int32_t i = 0; i < 10; ++i)
        EXPECT_EQ(PixelAt(colours.Bitmap, i % 5, i / 5),
                  redAt[i / 5][i % 5] ? CreateRGB(255, 0, 0) : CreateRGB(0, 0, 255))
            << i;
}

// ---- Icons and cursors ------------------------------------------------------------------

namespace {

// An icon or cursor file of one image: directory, info header (height doubled),
// palette, XOR rows and AND rows, both bottom row first.
std::vector<uint8_t> MakeIcon(int Type, int W, int H, int Bits, const std::vector<TRGB>& Palette,
                              const std::vector<uint8_t>& Xor, const std::vector<uint8_t>& And, uint16_t Planes = 1,
                              uint16_t BitField = 0, uint8_t ColorCount = 0)
{
    std::vector<uint8_t> f;
    Put16(f, 0);
    Put16(f, uint16_t(Type));
    Put16(f, 1);
    f.insert(f.end(), {uint8_t(W), uint8_t(H), ColorCount, 0});
    Put16(f, Planes);
    Put16(f, BitField ? BitField : uint16_t(Bits));
    Put32(f, uint32_t(40 + Palette.size() * 4 + Xor.size() + And.size()));
    Put32(f, 22);
    InfoHeader(f, W, 2 * H, Bits, 0, Palette);
    f.insert(f.end(), Xor.begin(), Xor.end());
    f.insert(f.end(), And.begin(), And.end());
    return f;
}

struct TIconLoad : TLoad {
    TIEMask Mask;
    bool Filled = false;
};

void LoadIcon(TIconLoad& L, const std::vector<uint8_t>& File, bool WithMask, bool Cursor = false)
{
    TReadOnlyMemoryStream s(File.data(), int64_t(File.size()));
    L.Filled = (Cursor ? LoadCurFromStream : LoadIcoFromStream)(s, L.Bitmap, L.Params, false, L.P.Progress,
                                                                WithMask ? &L.Mask : nullptr);
}

} // namespace

TEST(IcoFilter, AndMaskGivesTransparencyAtEveryDepth)
{
    // 2 x 1 pictures; the AND mask marks the right pixel transparent.
    const std::vector<uint8_t> andRow = {0x40, 0, 0, 0};
    struct {
        int Bits;
        std::vector<TRGB> Palette;
        std::vector<uint8_t> Xor;
        TRGB Left;
    } cases[] = {
        {1, {Black, White}, {0x00, 0, 0, 0}, Black},
        {4, std::vector<TRGB>(16, Blue), {0x00, 0, 0, 0}, Blue},
        {8, {Red, Green, Blue}, {1, 1, 0, 0}, Green},
        {32, {}, {0, 0, 255, 0, 9, 9, 9, 0}, Red}, // alpha all 0: the AND mask decides
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.Bits);
        std::vector<TRGB> pal = t.Palette;
        if (t.Bits == 8)
            pal.resize(256);
        const auto f = MakeIcon(1, 2, 1, t.Bits, pal, t.Xor, andRow);
        TIconLoad m;
        LoadIcon(m, f, true);
        ASSERT_FALSE(m.P.Aborting);
        EXPECT_TRUE(m.Filled);
        EXPECT_EQ(m.Mask.GetPixel(0, 0), 255);
        EXPECT_EQ(m.Mask.GetPixel(1, 0), 0);
        EXPECT_EQ(PixelAt(m.Bitmap, 0, 0), t.Left);
        TIconLoad plain;
        plain.Params.IcoBackground = t.Bits == 1 ? White : Blue;
        LoadIcon(plain, f, false);
        EXPECT_FALSE(plain.Filled);
        EXPECT_EQ(PixelAt(plain.Bitmap, 1, 0), t.Bits == 1 ? White : Blue);
        EXPECT_EQ(m.Bitmap.PixelFormat(), t.Bits == 1 ? pf1bit : pf24bit);
    }
}

TEST(IcoFilter, ThirtyTwoBitAlphaReachesTheMask)
{
    const auto f = MakeIcon(1, 2, 1, 32, {}, {0, 0, 255, 255, 0, 255, 0, 64}, {0, 0, 0, 0});
    TIconLoad L;
    LoadIcon(L, f, true);
    ASSERT_FALSE(L.P.Aborting);
    EXPECT_EQ(PixelAt(L.Bitmap, 0, 0), Red);
    EXPECT_EQ(PixelAt(L.Bitmap, 1, 0), Green);
    EXPECT_EQ(L.Mask.GetPixel(1, 0), 64);
    EXPECT_FALSE(L.Mask.Full());
}

TEST(IcoFilter, EightBitImageSayingTwoColoursStaysTwentyFourBit)
{
    // The entry says 2 colours, the header 8 bits: the format follows the bits.
    const auto f = MakeIcon(1, 2, 1, 8, {Red, Green}, {1, 0, 0, 0}, {0, 0, 0, 0}, 1, 8, 2);
    TIconLoad L;
    LoadIcon(L, f, false);
    ASSERT_FALSE(L.P.Aborting);
    EXPECT_EQ(L.Bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(PixelAt(L.Bitmap, 0, 0), Green);
}

TEST(IcoFilter, CursorsReadTheirHotSpotAndTrueColourImages)
{
    const auto f = MakeIcon(2, 1, 1, 24, {}, {0, 255, 0, 0}, {0, 0, 0, 0}, 5, 7);
    TIconLoad L;
    LoadIcon(L, f, false, true);
    ASSERT_FALSE(L.P.Aborting);
    EXPECT_EQ(L.Params.CurHotX, 5);
    EXPECT_EQ(L.Params.CurHotY, 7);
    EXPECT_EQ(PixelAt(L.Bitmap, 0, 0), Green);
}

// No image at the index asked for leaves no picture: a failure, with the bitmap and the
// parameters unread, in both modes.
TEST(IcoFilter, IndexOutsideTheDirectoryReadsNothingAndFails)
{
    const auto one = MakeIcon(1, 2, 1, 8, {Red, Green}, {1, 1, 0, 0}, {0, 0, 0, 0});
    const auto cursor = MakeIcon(2, 2, 1, 8, {Red, Green}, {1, 1, 0, 0}, {0, 0, 0, 0});
    // Reserved 0, type 1 (icon), count 0: a directory of no images.
    const std::vector<uint8_t> none = {0, 0, 1, 0, 0, 0};
    struct {
        const char* What;
        const std::vector<uint8_t>* File;
        bool Cursor;
        int32_t Index;
    } cases[] = {
        {"index 1 of one icon", &one, false, 1},
        {"index -1", &one, false, -1},
        {"index 3 of one cursor", &cursor, true, 3},
        {"an icon directory of no images", &none, false, 0},
    };
    for (const auto& c : cases)
        for (bool paramsOnly : {false, true}) {
            SCOPED_TRACE(std::string(c.What) + (paramsOnly ? ", parameters only" : ""));
            TIconLoad L;
            (c.Cursor ? L.Params.CurIndex : L.Params.IcoIndex) = c.Index;
            TReadOnlyMemoryStream s(c.File->data(), int64_t(c.File->size()));
            L.Filled = (c.Cursor ? LoadCurFromStream : LoadIcoFromStream)(s, L.Bitmap, L.Params, paramsOnly,
                                                                          L.P.Progress, &L.Mask);
            EXPECT_TRUE(L.P.Aborting);
            EXPECT_FALSE(L.Filled);
            EXPECT_EQ(L.Bitmap.Width(), 0);
            EXPECT_EQ(L.Params.Width, 0);
        }
}

TEST(IcoFilter, PngImageInsideGoesThroughThePngReader)
{
    TBitmap b;
    FillPicture(b, 3, 2, {Red, Blue});
    TIEMask alpha;
    alpha.AllocateBits(3, 2, 8);
    alpha.Fill(255);
    alpha.SetPixel(2, 1, 10);
    TIOParamsVals p(nullptr);
    TMemoryStream png;
    TProgressFixture wp;
    WritePngStream(png, b, p, wp.Progress, &alpha);
    std::vector<uint8_t> f;
    Put16(f, 0);
    Put16(f, 1);
    Put16(f, 1);
    f.insert(f.end(), {3, 2, 0, 0});
    Put16(f, 1);
    Put16(f, 32);
    Put32(f, uint32_t(png.Size()));
    Put32(f, 22);
    f.insert(f.end(), png.Memory(), png.Memory() + png.Size());
    TIconLoad L;
    LoadIcon(L, f, true);
    ASSERT_FALSE(L.P.Aborting);
    EXPECT_TRUE(L.Filled);
    EXPECT_EQ(PixelAt(L.Bitmap, 1, 0), Blue);
    EXPECT_EQ(L.Mask.GetPixel(2, 1), 10);
}

TEST(IcoFilter, ForgedAndTruncatedIconsEndWithAnError)
{
    const auto good =
        MakeIcon(1, 4, 4, 8, std::vector<TRGB>(256, Red), std::vector<uint8_t>(16, 1), std::vector<uint8_t>(16, 0));
    for (size_t n : {3, 10, 30, 70, 1000, 1070}) {
        TIconLoad L;
        LoadIcon(L, std::vector<uint8_t>(good.begin(), good.begin() + long(std::min(n, good.size()))), true);
        EXPECT_TRUE(L.P.Aborting) << n;
    }
    auto offset = good;
    Set32(offset, 18, 0x7FFFFFF0); // image offset far past the end
    TIconLoad a;
    LoadIcon(a, offset, false);
    EXPECT_TRUE(a.P.Aborting);
    // Offsets past the end (the image, an entry beyond the stream, the rest of a longer
    // header) fail in both modes with the stream left inside its bounds.
    auto entryPast = good;
    entryPast.at(4) = 40; // 40 entries in the directory, image 30 asked for
    auto headerPast = good;
    Set32(headerPast, 22, 0x7FFFFF00);
    for (const auto* file : {&offset, &entryPast, &headerPast})
        for (bool paramsOnly : {true, false}) {
            TIconLoad L;
            L.Params.IcoIndex = file == &entryPast ? 30 : 0;
            TReadOnlyMemoryStream st(file->data(), int64_t(file->size()));
            LoadIcoFromStream(st, L.Bitmap, L.Params, paramsOnly, L.P.Progress, nullptr);
            EXPECT_TRUE(L.P.Aborting) << paramsOnly;
            EXPECT_LE(st.Position(), st.Size());
        }
    auto noBits = MakeIcon(1, 2, 1, 0, {}, {}, {}, 1, 0, 0);
    TIconLoad c;
    LoadIcon(c, noBits, false);
    EXPECT_TRUE(c.P.Aborting);
    auto huge = MakeIcon(1, 0, 0, 24, {}, {}, {});
    Set32(huge, 22 + 4, 60000);
    Set32(huge, 22 + 8, 120000);
    TIconLoad d;
    LoadIcon(d, huge, true);
    EXPECT_TRUE(d.P.Aborting);
}

TEST(IcoFilter, IconWrittenByImageMagickReadsWithItsAlpha)
{
    TIconLoad L;
    LoadIcon(L, ReadTestFile("ico.ico"), true);
    ASSERT_FALSE(L.P.Aborting);
    ASSERT_EQ(L.Bitmap.Width(), 4);
    ASSERT_EQ(L.Bitmap.Height(), 3);
    EXPECT_EQ(PixelAt(L.Bitmap, 1, 1), SourcePixel(1, 1));
    EXPECT_EQ(L.Mask.GetPixel(0, 0), 0);
    EXPECT_EQ(L.Mask.GetPixel(2, 0), 127); // half of 65535, scaled down
}

TEST(ImagingIOFilters, IconsLoadThroughTheComponent)
{
    std::vector<TRGB> pal(256, Red);
    pal[1] = Green;
    const auto f = MakeIcon(1, 2, 1, 8, pal, {1, 1, 0, 0}, {0x40, 0, 0, 0});
    TImagingIO io;
    TBitmap b;
    io.SetBitmap(&b);
    TReadOnlyMemoryStream s(f.data(), int64_t(f.size()));
    io.LoadFromStreamIco(s);
    EXPECT_FALSE(io.Aborting());
    EXPECT_EQ(PixelAt(b, 0, 0), Green);
}
