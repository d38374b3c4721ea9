// The TIFF filter: files written by libtiff's tools, the writer's byte layout, round
// trips under every compression, tiny files spelled out tag by tag, and bad input.
#include "imaging/TiffFilter.h"

#include "imaging/ImagingIO.h"
#include "imaging/ImagingProc.h"
#include "imaging/JpegFilter.h"
#include "imaging/TiffLzw.h"
#include "imaging/TiffTestUtil.h"

#include <gtest/gtest.h>

#include <array>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifdef KV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace kv;
using kv::test::TTiffBuilder;

namespace {

using Bytes = std::vector<uint8_t>;

struct TRead {
    TBitmap Bitmap;
    TIOParamsVals Params{nullptr};
    bool Aborting = false;
};

void Read(const Bytes& File, TRead& Out, bool ParamsOnly = false)
{
    TReadOnlyMemoryStream s(File.data(), int64_t(File.size()));
    TProgressRec progress;
    progress.Aborting = &Out.Aborting;
    ReadTiff(s, Out.Bitmap, Out.Params, ParamsOnly, progress, TTiffReadOptions{});
}

Bytes FileBytes(const std::string& Name)
{
    TMemoryStream m;
    m.LoadFromFile(std::string(KV_TEST_DATA) + "/tifffiles/" + Name);
    return m.Bytes();
}

Bytes Write(TBitmap& B, TIOParamsVals& P, bool* Aborted = nullptr)
{
    TMemoryStream s;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    WriteTiff(s, B, P, progress, tobFileStart);
    if (Aborted)
        *Aborted = aborting;
    return s.Bytes();
}

TRGB Pixel(const TBitmap& B, int32_t X, int32_t Y)
{
    const uint8_t* p = B.ScanLine(Y) + X * 3;
    return CreateRGB(p[2], p[1], p[0]);
}

bool Bit(const TBitmap& B, int32_t X, int32_t Y) { return GetBit(B.ScanLine(Y), X); }

void Random1Bit(TBitmap& B, int32_t W, int32_t H, uint32_t Seed)
{
    B.SetPixelFormat(pf1bit);
    B.SetSize(W, H);
    std::mt19937 rng(Seed);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            SetBit(B.ScanLine(y), x, rng() % 3 == 0);
}

void Gradient24(TBitmap& B, int32_t W, int32_t H)
{
    B.SetPixelFormat(pf24bit);
    B.SetSize(W, H);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            uint8_t* p = B.ScanLine(y) + x * 3;
            p[0] = uint8_t(x * 7 + y);
            p[1] = uint8_t(y * 11);
            p[2] = uint8_t(x * 3 + 100);
        }
}

void ExpectSame1Bit(const TBitmap& A, const TBitmap& B, const std::string& What)
{
    ASSERT_EQ(A.PixelFormat(), pf1bit) << What;
    ASSERT_EQ(B.PixelFormat(), pf1bit) << What;
    ASSERT_EQ(A.Width(), B.Width()) << What;
    ASSERT_EQ(A.Height(), B.Height()) << What;
    for (int32_t y = 0; y < A.Height(); ++y)
        for (int32_t x = 0; x < A.Width(); ++x)
            ASSERT_EQ(Bit(A, x, y), Bit(B, x, y)) << What << " at " << x << "," << y;
}

void ExpectSame24(const TBitmap& A, const TBitmap& B, const std::string& What)
{
    ASSERT_EQ(B.PixelFormat(), pf24bit) << What;
    ASSERT_EQ(A.Width(), B.Width()) << What;
    ASSERT_EQ(A.Height(), B.Height()) << What;
    for (int32_t y = 0; y < A.Height(); ++y)
        ASSERT_EQ(0, std::memcmp(A.ScanLine(y), B.ScanLine(y), size_t(A.Width() * 3))) << What << " row " << y;
}

} // namespace

// ---- Files written by libtiff's tools (see tests/data/tifffiles/README.md) -----------

TEST(TiffFiles, RgbFilesReadTheGeneratedPixels)
{
    for (const char* name : {"rgb_none.tif", "rgb_lzw.tif", "rgb_lzw_pred.tif", "rgb_packbits.tif",
                             "rgb_lzw_pred_be.tif", "rgb_none_be.tif", "rgb_tiled.tif", "rgb_planar.tif"}) {
        TRead r;
        Read(FileBytes(name), r);
        ASSERT_FALSE(r.Aborting) << name;
        ASSERT_EQ(r.Bitmap.Width(), 24) << name;
        ASSERT_EQ(r.Bitmap.Height(), 16) << name;
        EXPECT_EQ(r.Params.TiffImageCount, 1) << name;
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 24; ++x) {
                const TRGB c = Pixel(r.Bitmap, x, y);
                ASSERT_EQ(c.r, uint8_t(x * 10)) << name << " " << x << "," << y;
                ASSERT_EQ(c.g, uint8_t(y * 15)) << name << " " << x << "," << y;
                ASSERT_EQ(c.b, uint8_t((x + y) * 5)) << name << " " << x << "," << y;
            }
    }
}

namespace {
// The directory entry of Tag in a little-endian file (whose directory libtiff's tools
// put at the offset in the header); nullptr when absent.
uint8_t* EntryOf(Bytes& File, uint16_t Tag)
{
    const uint32_t ifd = GetU32LE(&File[4]);
    for (uint32_t i = 0; i < GetU16LE(&File[ifd]); ++i) {
        uint8_t* e = &File[ifd + 2 + 12 * i];
        if (GetU16LE(e) == Tag)
            return e;
    }
    return nullptr;
}
} // namespace

TEST(TiffFiles, UnlocatedStripsAndTilesFailKeepingWhatWasRead)
{
    struct {
        const char* Name;
        uint16_t Tag;
        int Field; // 0: the tag number, 2: the type, 4: the count
        uint32_t Value;
        int32_t RowsKept, ColumnsKept;
    } cases[] = {
        {"rgb_strips4.tif", 273, 4, 2, 8, 24},  // two of the four strip offsets
        {"rgb_strips4.tif", 273, 0, 999, 0, 0}, // no StripOffsets
        {"rgb_strips4.tif", 279, 2, 16, 0, 0},  // byte counts of type LONG8
        {"rgb_strips4.tif", 279, 4, 3, 12, 24}, // three of the four byte counts
        {"rgb_tiled.tif", 325, 4, 1, 16, 16},   // one of the two tile byte counts
        {"rgb_tiled.tif", 325, 2, 13, 0, 0},    // tile byte counts of type IFD
    };
    for (const auto& c : cases) {
        Bytes f = FileBytes(c.Name);
        uint8_t* e = EntryOf(f, c.Tag);
        ASSERT_NE(e, nullptr);
        if (c.Field == 4)
            PutU32LE(e + 4, c.Value);
        else
            PutU16LE(e + c.Field, uint16_t(c.Value));
        TRead r;
        Read(f, r);
        EXPECT_TRUE(r.Aborting) << c.Name << " " << c.Tag;
        for (int32_t y = 0; y < c.RowsKept; ++y)
            for (int32_t x = 0; x < c.ColumnsKept; ++x)
                ASSERT_EQ(Pixel(r.Bitmap, x, y).r, uint8_t(x * 10)) << c.Name << " " << x << "," << y;
    }
}

// ImageMagick's CIELab file of src.ppm (tests/data/tifffiles/README.md): it reads as
// ImageMagick reads it back to sRGB, and our Lab file of the same picture holds the
// same samples. ImageMagick's 8-bit a* and b* lean about 2 below the exact values (its
// white is a* = b* = -2) and it truncates L*, hence the margins.
TEST(TiffFiles, CieLabIsSrgbThroughD65BothWays)
{
    // `convert lab_im.tif -colorspace sRGB txt:-`, rounded.
    const TRGB imRead[3][4] = {
        {CreateRGB(253, 8, 3), CreateRGB(0, 254, 12), CreateRGB(0, 9, 255), CreateRGB(252, 255, 255)},
        {CreateRGB(0, 1, 2), CreateRGB(251, 255, 16), CreateRGB(0, 255, 255), CreateRGB(251, 13, 255)},
        {CreateRGB(5, 21, 31), CreateRGB(37, 50, 61), CreateRGB(68, 80, 91), CreateRGB(125, 128, 129)},
    };
    const TRGB source[3][4] = {
        {CreateRGB(255, 0, 0), CreateRGB(0, 255, 0), CreateRGB(0, 0, 255), CreateRGB(255, 255, 255)},
        {CreateRGB(0, 0, 0), CreateRGB(255, 255, 0), CreateRGB(0, 255, 255), CreateRGB(255, 0, 255)},
        {CreateRGB(10, 20, 30), CreateRGB(40, 50, 60), CreateRGB(70, 80, 90), CreateRGB(128, 128, 128)},
    };
    Bytes im = FileBytes("lab_im.tif");
    TRead r;
    Read(im, r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.TiffPhotometInterpret, 7);
    TBitmap src;
    src.SetPixelFormat(pf24bit);
    src.SetSize(4, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            const TRGB got = Pixel(r.Bitmap, x, y), want = imRead[y][x];
            EXPECT_NEAR(got.r, want.r, 4) << x << "," << y;
            EXPECT_NEAR(got.g, want.g, 4) << x << "," << y;
            EXPECT_NEAR(got.b, want.b, 4) << x << "," << y;
            std::memcpy(src.ScanLine(y) + 3 * x, &source[y][x], 3);
        }
    TIOParamsVals p(nullptr);
    p.TiffPhotometInterpret = 7;
    Bytes ours = Write(src, p);
    const uint8_t* imStrip = &im[GetU32LE(EntryOf(im, 273) + 8)];
    const uint8_t* ourStrip = &ours[GetU32LE(EntryOf(ours, 273) + 8)];
    for (int32_t i = 0; i < 36; ++i)
        EXPECT_NEAR(int(int8_t(ourStrip[i] - imStrip[i])), 0, 2) << "sample " << i;
}

// The checks of the first 12 rows are known; every coding gives the same picture as
// the uncompressed file. The files are min-is-white: a black (set PBM) pixel is 0.
TEST(TiffFiles, BilevelFilesReadTheSameUnderEveryCoding)
{
    TRead plain;
    Read(FileBytes("bw_none.tif"), plain);
    ASSERT_FALSE(plain.Aborting);
    ASSERT_EQ(plain.Bitmap.Width(), 37);
    for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 37; ++x)
            ASSERT_EQ(Bit(plain.Bitmap, x, y), ((x / 5 + y / 3) % 2) == 0) << x << "," << y;
    for (const char* name : {"bw_g3.tif", "bw_g3_2d.tif", "bw_g4.tif", "bw_g4_lsb.tif", "bw_lzw.tif", "bw_tiled.tif"}) {
        TRead r;
        Read(FileBytes(name), r);
        ASSERT_FALSE(r.Aborting) << name;
        ExpectSame1Bit(plain.Bitmap, r.Bitmap, name);
    }
    // A page whose second row has a pass and then a vertical code putting a1 on a0
    // reads as libtiff decodes it (the _none file, made by tiffcp).
    TRead g4, libtiff;
    Read(FileBytes("bw_g4_pass_then_vertical.tif"), g4);
    Read(FileBytes("bw_g4_pass_then_vertical_none.tif"), libtiff);
    ASSERT_FALSE(g4.Aborting);
    ASSERT_FALSE(libtiff.Aborting);
    ExpectSame1Bit(libtiff.Bitmap, g4.Bitmap, "pass then vertical");
    EXPECT_TRUE(Bit(g4.Bitmap, 7, 1));
    EXPECT_FALSE(Bit(g4.Bitmap, 8, 1));
}

TEST(TiffFiles, SixteenBitGreyKeepsTheHighByteInEitherByteOrder)
{
    for (const char* name : {"grey16.tif", "grey16_be.tif"}) {
        TRead r;
        Read(FileBytes(name), r);
        ASSERT_FALSE(r.Aborting) << name;
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 9; ++x)
                ASSERT_EQ(Pixel(r.Bitmap, x, y).g, uint8_t(((x * 0x1234 + y * 0x0F0F) & 0xFFFF) >> 8)) << name;
    }
}

TEST(TiffFiles, PaletteFileReadsThroughItsColourMap)
{
    TRead r;
    Read(FileBytes("palette_lzw.tif"), r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.TiffPhotometInterpret, 3);
    EXPECT_EQ(r.Params.TiffCompression, 5);
    ASSERT_GE(r.Params.ColorMapCount, 16);
    // Every pixel is one of the map's colours.
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 24; ++x) {
            const TRGB c = Pixel(r.Bitmap, x, y);
            bool inMap = false;
            for (int32_t i = 0; i < r.Params.ColorMapCount; ++i)
                inMap |= r.Params.ColorMap[size_t(i)].r == c.r && r.Params.ColorMap[size_t(i)].g == c.g &&
                         r.Params.ColorMap[size_t(i)].b == c.b;
            ASSERT_TRUE(inMap) << x << "," << y;
        }
}

// ---- Writer layout ------------------------------------------------------------------

TEST(TiffWriter, TwoByTwoRgbLayout)
{
    TBitmap b;
    Gradient24(b, 2, 2);
    TIOParamsVals p(nullptr);
    const Bytes f = Write(b, p);
    ASSERT_EQ(f.size(), 232u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), (Bytes{0x49, 0x49, 0x2A, 0x00}));
    EXPECT_EQ(GetU32LE(&f[4]), 58u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(GetU16LE(&f[size_t(8 + 2 * i)]), 8);
    // Pixels at 14 in R, G, B order, rows from the top.
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x) {
            const TRGB c = Pixel(b, x, y);
            const size_t at = size_t(14 + y * 6 + x * 3);
            EXPECT_EQ(f[at], c.r);
            EXPECT_EQ(f[at + 1], c.g);
            EXPECT_EQ(f[at + 2], c.b);
        }
    EXPECT_EQ(GetU32LE(&f[26]), 0u); // XResolution DpiX / 1
    EXPECT_EQ(GetU32LE(&f[30]), 1u);
    EXPECT_EQ(GetU32LE(&f[46]), 10000u); // XPosition 0 * 10000 / 10000
    ASSERT_EQ(GetU16LE(&f[58]), 14);
    const uint16_t tags[] = {256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 286, 287, 296};
    auto value = [&](int i) { return GetU32LE(&f[size_t(58 + 2 + 12 * i + 8)]); };
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(GetU16LE(&f[size_t(58 + 2 + 12 * i)]), tags[i]);
    EXPECT_EQ(value(2), 8u);
    EXPECT_EQ(value(5), 14u);
    EXPECT_EQ(value(8), 12u);
    EXPECT_EQ(value(9), 26u);
    EXPECT_EQ(value(10), 34u);
    EXPECT_EQ(value(11), 42u);
    EXPECT_EQ(value(12), 50u);
    EXPECT_EQ(GetU32LE(&f[228]), 0u);

    TRead r;
    Read(f, r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.TiffImageCount, 1);
    ExpectSame24(b, r.Bitmap, "2x2");
}

// A 32-bit bitmap is written as uncompressed RGB in one strip.
TEST(TiffWriter, ThirtyTwoBitBitmapWritesUncompressedRgb)
{
    TBitmap b;
    b.SetPixelFormat(pf32bit);
    b.SetSize(3, 2);
    TIOParamsVals p(nullptr);
    TRead r;
    Read(Write(b, p), r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.TiffCompression, 0);
    EXPECT_EQ(r.Params.TiffPhotometInterpret, 2);
    EXPECT_EQ(r.Params.SamplesPerPixel, 3);
    EXPECT_EQ(r.Bitmap.Width(), 3);
}

// The four fax codings of an 8 x 1 row, as the strip of a written file.
TEST(TiffWriter, FaxStripsOfAnEightPixelRow)
{
    struct TCase {
        int32_t Compression;
        Bytes White, Black;
    } cases[] = {
        {1, {0x98}, {0x35, 0x14}},
        {4, {0x80, 0x08, 0x00, 0x80}, {0x26, 0xA2, 0x80, 0x08, 0x00, 0x80}},
        {3, {0x00, 0x1C, 0xC0, 0x04}, {0x00, 0x19, 0xA8, 0xA0, 0x02}},
        {2, {0x00, 0x19, 0x80, 0x08}, {0x00, 0x13, 0x51, 0x40, 0x04}},
    };
    for (const TCase& c : cases)
        for (int black = 0; black < 2; ++black) {
            TBitmap b;
            b.SetPixelFormat(pf1bit);
            b.SetSize(8, 1);
            b.ScanLine(0)[0] = black ? 0xFF : 0x00;
            TIOParamsVals p(nullptr);
            p.BitsPerSample = p.SamplesPerPixel = 1;
            p.TiffPhotometInterpret = 0;
            p.TiffCompression = c.Compression;
            const Bytes f = Write(b, p);
            const Bytes& want = black ? c.Black : c.White;
            ASSERT_GE(f.size(), 8 + want.size());
            EXPECT_EQ(Bytes(f.begin() + 8, f.begin() + 8 + int64_t(want.size())), want) << c.Compression;
            // The strip and the four resolution and position rationals, then a zero byte
            // when needed so that the directory starts on a word boundary.
            const size_t end = 8 + want.size() + 32;
            EXPECT_EQ(GetU32LE(&f[4]), (end + 1) & ~size_t(1)) << c.Compression << black;
            if (end & 1) {
                EXPECT_EQ(f[end], 0) << c.Compression << black;
            }
            TRead r;
            Read(f, r);
            ASSERT_FALSE(r.Aborting);
            EXPECT_EQ(r.Params.TiffPhotometInterpret, 1);
            ExpectSame1Bit(b, r.Bitmap, "fax 8x1");
        }
}

TEST(TiffWriter, RandomBilevelPicturesComeBackBitExact)
{
    TBitmap b;
    Random1Bit(b, 37, 23, 5);
    for (int32_t compression : {0, 1, 2, 3, 4, 5, 8}) {
        TIOParamsVals p(nullptr);
        p.BitsPerSample = p.SamplesPerPixel = 1;
        p.TiffCompression = compression;
        TRead r;
        Read(Write(b, p), r);
        ASSERT_FALSE(r.Aborting) << compression;
        ExpectSame1Bit(b, r.Bitmap, "compression " + std::to_string(compression));
    }
}

// A picture of two dark colours written at 1 bit keeps them apart: the darker is black
// (0 under BlackIsZero), the other white, under every compression; a threshold would
// have made both black. libtiff reads the same when it is there.
TEST(TiffWriter, TwoDarkColoursAtOneBitStayApart)
{
    const TRGB darkRed = CreateRGB(40, 0, 0);  // luma 8
    const TRGB darkBlue = CreateRGB(0, 0, 90); // luma 6: the darker
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(11, 3);
    auto isRed = [](int32_t x, int32_t y) { return (x * 3 + y) % 4 == 0; };
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 11; ++x) {
            const TRGB c = isRed(x, y) ? darkRed : darkBlue;
            uint8_t* px = b.ScanLine(y) + 3 * x;
            px[0] = c.b;
            px[1] = c.g;
            px[2] = c.r;
        }
#ifdef KV_HAVE_LIBTIFF
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/twodark.tif";
#endif
    for (int32_t compression : {0, 1, 2, 3, 4, 5, 8}) {
        SCOPED_TRACE("compression " + std::to_string(compression));
        TIOParamsVals p(nullptr);
        p.BitsPerSample = p.SamplesPerPixel = 1;
        p.TiffCompression = compression;
        const Bytes f = Write(b, p);
        TRead r;
        Read(f, r);
        ASSERT_FALSE(r.Aborting);
        ASSERT_EQ(r.Bitmap.PixelFormat(), pf1bit);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 11; ++x)
                ASSERT_EQ(Bit(r.Bitmap, x, y), isRed(x, y)) << x << "," << y;
#ifdef KV_HAVE_LIBTIFF
        TMemoryStream m;
        m.WriteBuffer(f.data(), int64_t(f.size()));
        m.SaveToFile(path);
        TIFF* t = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(t, nullptr);
        std::vector<uint32_t> rgba(11 * 3);
        ASSERT_EQ(TIFFReadRGBAImageOriented(t, 11, 3, rgba.data(), ORIENTATION_TOPLEFT, 0), 1);
        TIFFClose(t);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 11; ++x)
                ASSERT_EQ(TIFFGetR(rgba[size_t(y * 11 + x)]), isRed(x, y) ? 255u : 0u) << x << "," << y;
#endif
    }
}

TEST(TiffWriter, RgbRoundTripsUnderLzwAndPackBits)
{
    TBitmap b;
    Gradient24(b, 61, 17);
    for (int32_t compression : {0, 5, 8}) {
        TIOParamsVals p(nullptr);
        p.TiffCompression = compression;
        const Bytes f = Write(b, p);
        TRead r;
        Read(f, r);
        ASSERT_FALSE(r.Aborting) << compression;
        EXPECT_EQ(r.Params.TiffCompression, compression);
        ExpectSame24(b, r.Bitmap, "compression " + std::to_string(compression));
    }
}

// With no LZW coder the writer falls back to uncompressed with predictor 1, and the
// reader fails the strip.
TEST(TiffWriter, EmptyLzwSlotsWriteUncompressedAndFailTheStrip)
{
    TBitmap b;
    Gradient24(b, 5, 4);
    TIOParamsVals p(nullptr);
    p.TiffCompression = 5;
    p.TiffLzwCompress = nullptr;
    const TIETiffLzwCompressProc global = IEGlobalTiffLzwCompress;
    IEGlobalTiffLzwCompress = nullptr;
    const Bytes f = Write(b, p);
    IEGlobalTiffLzwCompress = global;
    TRead r;
    Read(f, r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.TiffCompression, 0);
    ExpectSame24(b, r.Bitmap, "no coder");

    p.TiffLzwCompress = TiffLzwEncode;
    const Bytes lzw = Write(b, p);
    TRead failed;
    failed.Params.TiffLzwDecompress = nullptr;
    Read(lzw, failed);
    EXPECT_TRUE(failed.Aborting);
}

TEST(TiffWriter, PaletteAndSeparatedPictures)
{
    // One sample of 2..8 bits: a palette image, ColorMap the last entry.
    TBitmap b;
    Gradient24(b, 5, 3);
    for (int32_t bits : {2, 4, 8}) {
        TIOParamsVals p(nullptr);
        p.SamplesPerPixel = 1;
        p.BitsPerSample = bits;
        p.TiffCompression = 1;
        const Bytes f = Write(b, p);
        EXPECT_EQ(p.TiffPhotometInterpret, 3);
        EXPECT_EQ(p.TiffCompression, 0);
        const uint32_t ifd = GetU32LE(&f[4]);
        const uint16_t n = GetU16LE(&f[ifd]);
        EXPECT_EQ(GetU16LE(&f[ifd + 2 + 12 * (n - 1)]), 320);
        for (uint16_t i = 1; i < n; ++i)
            EXPECT_LT(GetU16LE(&f[ifd + 2 + 12 * (i - 1)]), GetU16LE(&f[ifd + 2 + 12 * i]));
        TRead r;
        Read(f, r);
        ASSERT_FALSE(r.Aborting) << bits;
        EXPECT_EQ(r.Params.BitsPerSample, bits);
    }
    // CMYK: (255,0,0) -> 0,255,255,0; (0,0,0) -> 255 each; (128,128,128) -> 0,0,0,127.
    uint8_t cmyk[4];
    RgbToPlainCmyk(255, 0, 0, cmyk);
    EXPECT_EQ(Bytes(cmyk, cmyk + 4), (Bytes{0, 255, 255, 0}));
    RgbToPlainCmyk(0, 0, 0, cmyk);
    EXPECT_EQ(Bytes(cmyk, cmyk + 4), (Bytes{255, 255, 255, 255}));
    RgbToPlainCmyk(128, 128, 128, cmyk);
    EXPECT_EQ(Bytes(cmyk, cmyk + 4), (Bytes{0, 0, 0, 127}));
    EXPECT_EQ(PlainCmykToRgb(cmyk).r, 128);
    TBitmap grey;
    grey.SetPixelFormat(pf24bit);
    grey.SetSize(1, 1);
    std::memset(grey.ScanLine(0), 128, 3);
    TIOParamsVals p(nullptr);
    p.TiffPhotometInterpret = 5;
    TRead r;
    Read(Write(grey, p), r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.SamplesPerPixel, 4);
    EXPECT_EQ(Pixel(r.Bitmap, 0, 0).r, 128);
}

TEST(TiffWriter, PackBitsRows)
{
    Bytes out;
    const Bytes white(6, 0xFF);
    PackBitsEncodeRow(white.data(), 6, out);
    EXPECT_EQ(out, (Bytes{0xFB, 0xFF}));
    out.clear();
    const Bytes literal{10, 20, 30, 40, 50, 60};
    PackBitsEncodeRow(literal.data(), 6, out);
    EXPECT_EQ(out, (Bytes{5, 10, 20, 30, 40, 50, 60}));
    out.clear();
    const Bytes three{0xAA, 0xAA, 0xAA, 0x01};
    PackBitsEncodeRow(three.data(), 4, out);
    EXPECT_EQ(out, (Bytes{3, 0xAA, 0xAA, 0xAA, 0x01}));
    // Decoding skips 128 and stops at the end of either buffer.
    const Bytes coded{0x80, 0x01, 7, 8, 0xFD, 9, 0x05, 1};
    uint8_t dec[6] = {};
    EXPECT_EQ(PackBitsDecode(coded.data(), int64_t(coded.size()), dec, 6), 6);
    EXPECT_EQ(Bytes(dec, dec + 6), (Bytes{7, 8, 9, 9, 9, 9}));
    EXPECT_EQ(PackBitsDecode(coded.data(), int64_t(coded.size()), dec, 3), 3);

    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(2, 1);
    std::memset(b.ScanLine(0), 255, 6);
    TIOParamsVals p(nullptr);
    p.TiffCompression = 8;
    const Bytes f = Write(b, p);
    EXPECT_EQ(f[14], 0xFB);
    EXPECT_EQ(f[15], 0xFF);
}

// Without stream headers the offsets count from where the writer began, so a file
// written into the middle of a stream reads back from there.
TEST(TiffWriter, OffsetsCountFromTheWritersStart)
{
    TBitmap b;
    Gradient24(b, 3, 3);
    TImagingIO io;
    io.SetBitmap(&b);
    TMemoryStream s;
    s.WriteBuffer("junk!", 5);
    io.SaveToStreamTiff(s);
    ASSERT_FALSE(io.Aborting());
    TBitmap c;
    TImagingIO in;
    in.SetBitmap(&c);
    s.SetPosition(5);
    in.LoadFromStreamTiff(s);
    ASSERT_FALSE(in.Aborting());
    ExpectSame24(b, c, "mid-stream");

    io.SetStreamHeaders(true);
    in.SetStreamHeaders(true);
    TMemoryStream h;
    h.WriteBuffer("junk!", 5);
    io.SaveToStreamTiff(h);
    h.SetPosition(5);
    TBitmap d;
    in.SetBitmap(&d);
    in.LoadFromStreamTiff(h);
    ASSERT_FALSE(in.Aborting());
    ExpectSame24(b, d, "with headers");
}

// An abort from the progress event leaves the place-holder and no directory.
TEST(TiffWriter, AbortLeavesThePlaceHolder)
{
    TBitmap b;
    Gradient24(b, 4, 4);
    TIOParamsVals p(nullptr);
    TMemoryStream s;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    progress.OnProgress = [&](TObject*, int32_t per) {
        if (per >= 50)
            aborting = true;
    };
    WriteTiff(s, b, p, progress, tobFileStart);
    EXPECT_TRUE(aborting);
    ASSERT_GE(s.Size(), 8);
    EXPECT_EQ(Bytes(s.Memory(), s.Memory() + 8), Bytes(8, 0));
    EXPECT_EQ(s.Size(), 8 + 6 + 3 * 12);
}

// ---- Reading tiny files ---------------------------------------------------------------

namespace {

TTiffBuilder Basic(uint32_t W, uint32_t H, uint16_t Bits, uint16_t Spp, uint16_t Photometric)
{
    TTiffBuilder t;
    t.Long(256, W);
    t.Long(257, H);
    t.Short(258, Bits);
    t.Short(262, Photometric);
    t.Short(277, Spp);
    return t;
}

} // namespace

TEST(TiffReader, WorkedValues)
{
    { // 5-5-5 RGB: 0x7FFF -> (248, 248, 248)
        TTiffBuilder t = Basic(1, 1, 16, 1, 2);
        t.Strip({0xFF, 0x7F});
        TRead r;
        Read(t.Build(), r);
        ASSERT_FALSE(r.Aborting);
        EXPECT_EQ(Pixel(r.Bitmap, 0, 0).r, 248);
        EXPECT_EQ(Pixel(r.Bitmap, 0, 0).b, 248);
    }
    { // 16-bit grey 0x1234: 0x12; Look@Molli: 0x23; photometric 0 first takes 65535 - v
        for (int molli = 0; molli < 2; ++molli)
            for (uint16_t ph = 0; ph < 2; ++ph) {
                TTiffBuilder t = Basic(1, 1, 16, 1, ph);
                if (molli) {
                    const std::string sw = "Look@Molli v1.1 x";
                    t.Add(305, 2, uint32_t(sw.size() + 1), Bytes(sw.c_str(), sw.c_str() + sw.size() + 1));
                }
                t.Strip({0x34, 0x12});
                TRead r;
                Read(t.Build(), r);
                const uint32_t v = ph == 0 ? 65535 - 0x1234 : 0x1234;
                EXPECT_EQ(Pixel(r.Bitmap, 0, 0).g, uint8_t(v >> (molli ? 4 : 8)));
            }
    }
    { // XResolution 300/0 -> 300 dpi
        TTiffBuilder t = Basic(1, 1, 8, 1, 1);
        t.Rational(282, 300, 0);
        t.Rational(283, 0xFFFFFFFF, 1);
        t.Strip({0});
        TRead r;
        Read(t.Build(), r);
        EXPECT_EQ(r.Params.DpiX, 300);
        EXPECT_EQ(r.Params.DpiY, 0); // out of range: absent
    }
    { // 2-bit palette of width 5: each row starts on a byte boundary
        TTiffBuilder t = Basic(5, 2, 2, 1, 3);
        std::vector<uint16_t> map(12, 0);
        for (int i = 0; i < 4; ++i)
            map[size_t(i)] = uint16_t(i * 80 << 8); // red
        t.Shorts(320, map);
        t.Strip({0x1B, 0x00, 0xE4, 0xC0}); // 0 1 2 3 0 | 3 2 1 0 3
        TRead r;
        Read(t.Build(), r);
        ASSERT_FALSE(r.Aborting);
        const int want[2][5] = {{0, 1, 2, 3, 0}, {3, 2, 1, 0, 3}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(Pixel(r.Bitmap, x, y).r, want[y][x] * 80) << x << "," << y;
    }
    { // A palette image with no map reads as a grey ramp.
        TTiffBuilder t = Basic(2, 1, 8, 1, 3);
        t.Strip({0, 200});
        TRead r;
        Read(t.Build(), r);
        EXPECT_EQ(Pixel(r.Bitmap, 1, 0).g, 200);
    }
    { // The orientations that transpose, on stored rows 1 2 3 / 4 5 6 (times 10): 5 transposes,
      // 6 turns clockwise, 7 is the other diagonal, 8 turns anticlockwise.
        const std::pair<uint16_t, std::array<uint8_t, 6>> cases[] = {
            {5, {1, 4, 2, 5, 3, 6}}, {6, {4, 1, 5, 2, 6, 3}}, {7, {6, 3, 5, 2, 4, 1}}, {8, {3, 6, 2, 5, 1, 4}}};
        for (const auto& [orientation, want] : cases) {
            TTiffBuilder t = Basic(3, 2, 8, 1, 1);
            t.Short(274, orientation);
            t.Strip({10, 20, 30, 40, 50, 60});
            TRead r;
            Read(t.Build(), r);
            ASSERT_EQ(r.Bitmap.Width(), 2) << orientation;
            ASSERT_EQ(r.Bitmap.Height(), 3) << orientation;
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ(Pixel(r.Bitmap, i % 2, i / 2).g, want[size_t(i)] * 10) << orientation << " at " << i;
        }
    }
    { // 4-bit grey: level v reads as 17 v (0..15 onto 0..255), inverted for photometric 0.
        for (uint16_t ph = 0; ph < 2; ++ph) {
            TTiffBuilder t = Basic(3, 1, 4, 1, ph);
            t.Strip({0x0F, 0x80});
            TRead r;
            Read(t.Build(), r);
            ASSERT_FALSE(r.Aborting);
            const int want[3] = {0, 255, 136};
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(Pixel(r.Bitmap, x, 0).g, ph ? want[x] : 255 - want[x]) << ph << "," << x;
        }
    }
    { // A bilevel picture that claims photometric 2 reads as white-is-zero: its bits are
      // inverted, so a set bit (white in the bitmap) is a clear one in the file.
        TTiffBuilder t = Basic(8, 1, 1, 1, 2);
        t.Strip({0xF0});
        TRead r;
        Read(t.Build(), r);
        ASSERT_FALSE(r.Aborting);
        ASSERT_EQ(r.Bitmap.PixelFormat(), pf1bit);
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(Bit(r.Bitmap, x, 0), x >= 4) << x;
    }
    { // Predictor 2 on big-endian 16-bit RGB adds in the file's byte order.
        TTiffBuilder t;
        Bytes row{0x01, 0xFF, 0x02, 0x00, 0x03, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01};
        std::vector<uint8_t> lzw;
        TMemoryStream m;
        intptr_t state = 0;
        TiffLzwEncode(row.data(), int64_t(row.size()), m, state);
        TiffLzwEncode(nullptr, 0, m, state);
        Bytes file{'M', 'M', 0, 42, 0, 0, 0, 8};
        // Seven entries, big-endian; BitsPerSample's three SHORTs and the strip follow.
        const uint32_t dataAt = 8 + 2 + 8 * 12 + 4;
        auto put16 = [&](uint16_t v) {
            file.push_back(uint8_t(v >> 8));
            file.push_back(uint8_t(v));
        };
        auto put32 = [&](uint32_t v) {
            put16(uint16_t(v >> 16));
            put16(uint16_t(v));
        };
        auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t v) {
            put16(tag);
            put16(type);
            put32(count);
            if (type == 3 && count == 1) {
                put16(uint16_t(v));
                put16(0);
            } else {
                put32(v);
            }
        };
        put16(8);
        entry(256, 4, 1, 2);
        entry(257, 4, 1, 1);
        entry(258, 3, 3, dataAt);
        entry(259, 3, 1, 5);
        entry(262, 3, 1, 2);
        entry(273, 4, 1, dataAt + 6);
        entry(277, 3, 1, 3);
        entry(317, 3, 1, 2);
        put32(0);
        put16(16);
        put16(16);
        put16(16);
        file.insert(file.end(), m.Memory(), m.Memory() + m.Size());
        TRead r;
        r.Params.TiffLzwDecompress = TiffLzwDecode;
        Read(file, r);
        ASSERT_FALSE(r.Aborting);
        // Second pixel red: 0x01FF + 0x0001 = 0x0200, high byte 2 (not 1).
        EXPECT_EQ(Pixel(r.Bitmap, 0, 0).r, 0x01);
        EXPECT_EQ(Pixel(r.Bitmap, 1, 0).r, 0x02);
        EXPECT_EQ(Pixel(r.Bitmap, 1, 0).g, 0x02);
        EXPECT_EQ(Pixel(r.Bitmap, 1, 0).b, 0x03);
    }
}

// A chain of three directories counts 3; a next offset back to the first ends the walk.
TEST(TiffReader, DirectoryChainsAndCycles)
{
    for (int cycle = 0; cycle < 2; ++cycle) {
        TTiffBuilder t = Basic(1, 1, 8, 1, 1);
        t.Strip({7});
        Bytes f = t.Build();
        const uint32_t first = 8;
        const uint16_t n = GetU16LE(&f[first]);
        Bytes ifd(f.begin() + first, f.begin() + first + 2 + n * 12 + 4);
        const uint32_t second = uint32_t(f.size()), third = second + uint32_t(ifd.size());
        PutU32LE(&f[first + 2 + n * 12], second);
        f.insert(f.end(), ifd.begin(), ifd.end());
        PutU32LE(&f[second + 2 + n * 12], third);
        f.insert(f.end(), ifd.begin(), ifd.end());
        PutU32LE(&f[third + 2 + n * 12], cycle ? first : 0);
        TRead r;
        r.Params.TiffImageIndex = 2;
        Read(f, r);
        EXPECT_FALSE(r.Aborting);
        EXPECT_EQ(r.Params.TiffImageCount, 3);
        EXPECT_EQ(Pixel(r.Bitmap, 0, 0).g, 7);
    }
}

// Layouts the table has no rule for, forged sizes and counts, and every truncation
// of a real file end with Aborting or a partial picture, never a crash.
TEST(TiffReader, BadInputAborts)
{
    auto aborts = [](const Bytes& f) {
        TRead r;
        Read(f, r);
        return r.Aborting;
    };
    EXPECT_TRUE(aborts({'X', 'X', 42, 0, 8, 0, 0, 0}));
    EXPECT_TRUE(aborts(Basic(4, 1, 2, 1, 1).Build()));         // 2-bit grey
    EXPECT_TRUE(aborts(Basic(4, 1, 32, 3, 2).Build()));        // 32-bit samples
    EXPECT_TRUE(aborts(Basic(70000, 70000, 8, 1, 1).Build())); // past the pixel cap
    for (bool withMap : {false, true}) {
        // A palette picture of 0 bits a sample stores no index (tiff2rgba refuses it too),
        // with its colour map of 2^0 entries or without any.
        TTiffBuilder t = Basic(4, 1, 0, 1, 3);
        if (withMap)
            t.Shorts(320, {0xFFFF, 0xFFFF, 0xFFFF});
        t.Strip({1, 2, 3, 4});
        EXPECT_TRUE(aborts(t.Build())) << withMap;
    }
    {
        TTiffBuilder t = Basic(4, 1, 8, 1, 1);
        t.Short(259, 8); // Deflate
        t.Strip({1, 2, 3, 4});
        EXPECT_TRUE(aborts(t.Build()));
    }
    {
        TTiffBuilder t = Basic(4, 1, 8, 1, 1);
        t.Long(322, 0);
        t.Long(323, 16);
        EXPECT_TRUE(aborts(t.Build()));
    }
    {
        // Tiles of 2^28 pixels of 8 bytes in a tiny file: nothing near that is allocated.
        TTiffBuilder t = Basic(1, 16384, 16, 4, 2);
        t.Long(322, 16384);
        t.Long(323, 16384);
        t.Long(324, 8);
        t.Long(325, 64);
        EXPECT_TRUE(aborts(t.Build()));
    }
    {
        TTiffBuilder t = Basic(4, 1, 8, 3, 2);
        t.Short(284, 2);
        t.Strip({1, 2, 3, 4}); // one strip, not three planes
        EXPECT_TRUE(aborts(t.Build()));
    }
    {
        TTiffBuilder t = Basic(4, 2, 8, 1, 1);
        t.Long(278, 0); // RowsPerStrip 0 means the height
        t.Short(259, 32773);
        t.Strip({0x02, 5, 6}); // a short strip fails its row
        EXPECT_TRUE(aborts(t.Build()));
    }
    {
        TTiffBuilder t = Basic(4, 1, 8, 1, 1);
        t.Add(273, 4, 0x40000000, {0, 0, 0, 0}); // a count far past the stream
        EXPECT_TRUE(aborts(t.Build()));
    }
    {
        TTiffBuilder t = Basic(4, 1, 8, 1, 3);
        t.Shorts(320, {1, 2, 3}); // a short colour map is not used
        t.Strip({0, 1, 2, 3});
        TRead r;
        Read(t.Build(), r);
        EXPECT_FALSE(r.Aborting);
        EXPECT_EQ(Pixel(r.Bitmap, 3, 0).r, 3); // the grey ramp, i x 255 / 255
    }
    for (const char* name : {"rgb_lzw.tif", "bw_g4.tif", "rgb_tiled.tif", "bw_g3_2d.tif", "palette_lzw.tif"}) {
        const Bytes f = FileBytes(name);
        for (size_t n = 0; n < f.size(); n += 7) {
            TRead r;
            Read(Bytes(f.begin(), f.begin() + int64_t(n)), r);
            EXPECT_TRUE(r.Aborting) << name << " cut at " << n;
        }
    }
}

TEST(TiffLzw, CoderRoundTripsAcrossCodeWidthsAndClears)
{
    std::mt19937 rng(3);
    for (int64_t size : {1, 2, 300, 5000, 70000, 300000}) {
        Bytes data(static_cast<size_t>(size));
        for (int64_t i = 0; i < size; ++i)
            data[size_t(i)] = uint8_t(i % 3 == 0 ? rng() % 4 : rng());
        TMemoryStream m;
        intptr_t state = 0;
        for (int64_t at = 0; at < size; at += 999)
            ASSERT_TRUE(TiffLzwEncode(data.data() + at, std::min<int64_t>(999, size - at), m, state));
        ASSERT_TRUE(TiffLzwEncode(nullptr, 0, m, state));
        EXPECT_EQ(state, 0);
        Bytes back(static_cast<size_t>(size));
        intptr_t dstate = 0;
        EXPECT_EQ(TiffLzwDecode(m.Bytes().data(), m.Size(), back.data(), size, dstate), size);
        TiffLzwDecode(nullptr, 0, nullptr, 0, dstate);
        EXPECT_EQ(back, data) << size;
    }
    // A code past the table fails the strip.
    const Bytes bad{0x80, 0x7F, 0xFF};
    uint8_t out[8];
    intptr_t s = 0;
    EXPECT_EQ(TiffLzwDecode(bad.data(), 3, out, 8, s), -1);
    TiffLzwDecode(nullptr, 0, nullptr, 0, s);
}

// ---- EXIF through the TIFF reader -------------------------------------------------------

namespace {

// "Exif\0\0", IFD0 with 72/1 resolution per inch, IFD1 a 4 x 3 uncompressed RGB picture.
Bytes ExifBlock(bool DamagedThumbnail)
{
    TTiffBuilder ifd0;
    ifd0.Rational(282, 72, 1);
    ifd0.Rational(283, 72, 1);
    ifd0.Short(296, 2);
    Bytes tiff = ifd0.Build();
    const uint16_t n = GetU16LE(&tiff[8]);
    const uint32_t next = uint32_t(tiff.size());
    PutU32LE(&tiff[8 + 2 + n * 12], next);
    // IFD1 built as its own file, then moved to offset `next`.
    TTiffBuilder ifd1 = Basic(4, 3, 8, 3, 2);
    ifd1.Shorts(258, {8, 8, 8});
    Bytes pixels(36);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 7);
    ifd1.Strip(pixels);
    Bytes second = ifd1.Build();
    // Shift every offset of the second file by next - 8 and drop its header.
    const uint16_t n1 = GetU16LE(&second[8]);
    for (uint16_t i = 0; i < n1; ++i) {
        uint8_t* e = &second[size_t(8 + 2 + 12 * i)];
        const uint16_t type = GetU16LE(e + 2);
        const uint32_t count = GetU32LE(e + 4);
        const uint16_t tag = GetU16LE(e);
        const bool pointer = tag == 273 || (type == 3 && count > 2) || type == 5;
        if (pointer)
            PutU32LE(e + 8, GetU32LE(e + 8) + next - 8);
        if (DamagedThumbnail && tag == 273)
            PutU32LE(e + 8, 0x7FFFFFF0);
    }
    tiff.insert(tiff.end(), second.begin() + 8, second.end());
    Bytes block{'E', 'x', 'i', 'f', 0, 0};
    block.insert(block.end(), tiff.begin(), tiff.end());
    return block;
}

} // namespace

TEST(TiffFiles, FurtherTiffAndExifTagsReachTheParameters)
{
    TRead r;
    Read(FileBytes("rgb_inks_exif.tif"), r);
    ASSERT_FALSE(r.Aborting);
    const TIETiffMoreTags& t = r.Params.TiffMore;
    EXPECT_EQ(t.InkSet, 2);
    EXPECT_EQ(t.NumberOfInks, 3);
    EXPECT_EQ(t.YCbCrPositioning, 2);
    EXPECT_EQ(t.T6Options, 0);
    EXPECT_TRUE(t.TransferFunction.empty());
    const TIEExifMoreTags& e = r.Params.EXIF_More;
    EXPECT_EQ(e.ExifVersion, "0230");
    EXPECT_EQ(e.FlashpixVersion, "0100");
    EXPECT_EQ(e.DateTimeDigitized, "2024:05:06 07:08:09");
    EXPECT_EQ(e.SubsecTime, "12");
    EXPECT_EQ(e.SubsecTimeOriginal, "34");
    EXPECT_EQ(e.SubsecTimeDigitized, "56");
    EXPECT_EQ(e.RelatedSoundFile, "SND00001.WAV");
    const double doubles[] = {e.CompressedBitsPerPixel, e.ShutterSpeedValue, e.ApertureValue,   e.BrightnessValue,
                              e.ExposureBiasValue,      e.MaxApertureValue,  e.SubjectDistance, e.FocalPlaneXResolution,
                              e.FocalPlaneYResolution,  e.ExposureIndex};
    const double wantDoubles[] = {4, 7, 3, -0.5, -2.0 / 3, 2.5, 1.5, 3000, 2000, 100};
    for (size_t i = 0; i < std::size(doubles); ++i)
        EXPECT_DOUBLE_EQ(doubles[i], wantDoubles[i]) << i;
    const int32_t ints[] = {e.MeteringMode,  e.LightSource, e.ColorSpace, e.FocalPlaneResolutionUnit,
                            e.SensingMethod, e.FileSource,  e.SceneType};
    const int32_t wantInts[] = {5, 4, 1, 2, 2, 3, 1};
    for (size_t i = 0; i < std::size(ints); ++i)
        EXPECT_EQ(ints[i], wantInts[i]) << i;
    TRead g4;
    Read(FileBytes("bw_g4_t6.tif"), g4);
    EXPECT_EQ(g4.Params.TiffMore.T6Options, 2);
    // TransferFunction (one curve of 2^1 values given to all three, or three curves as they
    // stand) and the old-style JPEG tags, spelled out; a curve of the wrong length is not kept.
    const std::vector<uint16_t> curves[] = {{100, 60000}, {1, 2, 3}, {1, 2, 3, 4, 5, 6}};
    for (uint32_t curve : {2u, 3u, 6u}) {
        TTiffBuilder b = Basic(8, 1, 1, 1, 1);
        b.Shorts(301, curves[curve == 2 ? 0 : curve == 3 ? 1 : 2]);
        b.Short(512, 14);
        b.Short(515, 9);
        b.Shorts(517, {1, 2, 3});
        b.Shorts(518, {0, 1, 0});
        b.Long(519, 4000);
        b.Long(520, 5000);
        b.Long(521, 6000);
        b.Strip({0x0F});
        TRead o;
        Read(b.Build(), o);
        ASSERT_FALSE(o.Aborting);
        const TIETiffMoreTags& m = o.Params.TiffMore;
        const std::vector<uint16_t> want = curve == 2   ? std::vector<uint16_t>{100, 60000, 100, 60000, 100, 60000}
                                           : curve == 6 ? curves[2]
                                                        : std::vector<uint16_t>{};
        EXPECT_EQ(m.TransferFunction, want);
        EXPECT_EQ(m.JpegProc, 14);
        EXPECT_EQ(m.JpegRestartInterval, 9);
        EXPECT_EQ(m.JpegLosslessPredictors, (std::vector<uint32_t>{1, 2, 3}));
        EXPECT_EQ(m.JpegPointTransforms, (std::vector<uint32_t>{0, 1, 0}));
        EXPECT_EQ(m.JpegQTables, std::vector<uint32_t>{4000});
        EXPECT_EQ(m.JpegDCTables, std::vector<uint32_t>{5000});
        EXPECT_EQ(m.JpegACTables, std::vector<uint32_t>{6000});
        EXPECT_EQ(m.InkSet, 1); // the defaults of absent tags
        EXPECT_EQ(m.NumberOfInks, 4);
    }
}

TEST(TiffExif, PointerOfTypeIfdIsFollowedAndAnUnreadableOneSkipped)
{
    TRead r;
    Read(FileBytes("rgb_exif_ifd13.tif"), r);
    EXPECT_FALSE(r.Aborting);
    EXPECT_DOUBLE_EQ(r.Params.EXIF_ExposureTime, 1.0 / 125);
    EXPECT_DOUBLE_EQ(r.Params.EXIF_FNumber, 2.8);
    EXPECT_EQ(r.Params.EXIF_ISOSpeedRatings[0], 200);
    EXPECT_EQ(Pixel(r.Bitmap, 23, 15).r, uint8_t(230));
    TRead past;
    Read(FileBytes("rgb_exif_past_end.tif"), past);
    EXPECT_FALSE(past.Aborting);
    EXPECT_EQ(past.Bitmap.Width(), 24);
    EXPECT_EQ(Pixel(past.Bitmap, 23, 15).r, uint8_t(230));
}

TEST(TiffExif, JpegLoadReadsResolutionAndThumbnail)
{
    for (int damaged = 0; damaged < 2; ++damaged) {
        const Bytes exif = ExifBlock(damaged != 0);
        TIOParamsVals p(nullptr);
        p.DpiX = p.DpiY = 1;
        p.JpegMarkers->AddMarker(0xE1, exif.data(), exif.size());
        TBitmap b;
        Gradient24(b, 8, 8);
        TMemoryStream s;
        bool aborting = false;
        TProgressRec progress;
        progress.Aborting = &aborting;
        SaveJpegToStream(s, b, p, progress);
        TImagingIO io;
        TBitmap c;
        io.SetBitmap(&c);
        s.SetPosition(0);
        io.LoadFromStreamJpeg(s);
        ASSERT_FALSE(io.Aborting());
        EXPECT_EQ(c.Width(), 8);
        EXPECT_EQ(io.Params().DpiX, 72);
        EXPECT_EQ(io.Params().DpiY, 72);
        EXPECT_EQ(io.Params().ExifThumbnail->Width(), damaged ? 1 : 4);
        EXPECT_EQ(io.Params().ExifThumbnail->Height(), damaged ? 1 : 3);
        if (!damaged) {
            EXPECT_EQ(Pixel(*io.Params().ExifThumbnail, 1, 0).r, uint8_t(3 * 7));
        }
    }
}

#ifdef KV_HAVE_LIBTIFF
// ---- libtiff reads what we write -------------------------------------------------------

namespace {

void QuietLibtiff()
{
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
}

} // namespace

TEST(TiffOracle, LibtiffReadsOurFilesIdentically)
{
    QuietLibtiff();
    const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/oracle.tif";
    TBitmap rgb;
    Gradient24(rgb, 45, 13);
    for (int32_t compression : {0, 5, 8}) {
        TIOParamsVals p(nullptr);
        p.TiffCompression = compression;
        const Bytes f = Write(rgb, p);
        TMemoryStream m;
        m.WriteBuffer(f.data(), int64_t(f.size()));
        m.SaveToFile(path);
        TIFF* t = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(t, nullptr);
        std::vector<uint8_t> line(size_t(TIFFScanlineSize(t)));
        for (int32_t y = 0; y < 13; ++y) {
            ASSERT_EQ(TIFFReadScanline(t, line.data(), uint32_t(y), 0), 1) << compression;
            for (int32_t x = 0; x < 45; ++x) {
                const TRGB c = Pixel(rgb, x, y);
                ASSERT_EQ(line[size_t(x * 3)], c.r) << compression;
                ASSERT_EQ(line[size_t(x * 3 + 1)], c.g);
                ASSERT_EQ(line[size_t(x * 3 + 2)], c.b);
            }
        }
        TIFFClose(t);
    }
    TBitmap bw;
    Random1Bit(bw, 37, 23, 11);
    for (int32_t compression : {0, 1, 2, 3, 4, 5, 8}) {
        TIOParamsVals p(nullptr);
        p.BitsPerSample = p.SamplesPerPixel = 1;
        p.TiffCompression = compression;
        const Bytes f = Write(bw, p);
        TMemoryStream m;
        m.WriteBuffer(f.data(), int64_t(f.size()));
        m.SaveToFile(path);
        TIFF* t = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(t, nullptr);
        uint16_t photometric = 0;
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
        EXPECT_EQ(photometric, PHOTOMETRIC_MINISBLACK);
        std::vector<uint8_t> line(size_t(TIFFScanlineSize(t)));
        for (int32_t y = 0; y < 23; ++y) {
            ASSERT_EQ(TIFFReadScanline(t, line.data(), uint32_t(y), 0), 1) << compression << " row " << y;
            for (int32_t x = 0; x < 37; ++x)
                ASSERT_EQ(GetBit(line.data(), x), Bit(bw, x, y)) << compression << " " << x << "," << y;
        }
        TIFFClose(t);
    }
}
#endif

// JPEG strips and tiles (YCbCr, subsampled by libtiff) come through the JPEG reader
// near the generated pixels.
TEST(TiffFiles, JpegStripsAndTilesReadNearTheGeneratedPixels)
{
    for (const char* name : {"rgb_jpeg.tif", "rgb_jpeg_tiled.tif"}) {
        TRead r;
        Read(FileBytes(name), r);
        ASSERT_FALSE(r.Aborting) << name;
        EXPECT_EQ(r.Params.TiffCompression, 7);
        ASSERT_EQ(r.Bitmap.Width(), 24);
        ASSERT_EQ(r.Bitmap.Height(), 16);
        int64_t error = 0;
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 24; ++x) {
                const TRGB c = Pixel(r.Bitmap, x, y);
                error += std::abs(c.g - int(uint8_t(y * 15)));
            }
        EXPECT_LT(error / (24 * 16), 12) << name;
    }
}

// A fourth sample of unassociated alpha goes to the mask the reader is given.
TEST(TiffReader, UnassociatedAlphaFillsTheMask)
{
    TTiffBuilder t = Basic(2, 1, 8, 4, 2);
    t.Shorts(258, {8, 8, 8, 8});
    t.Short(338, 2);
    t.Strip({10, 20, 30, 40, 50, 60, 70, 80});
    const Bytes f = t.Build();
    TIEMask mask;
    TBitmap b;
    TIOParamsVals p(nullptr);
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    TReadOnlyMemoryStream s(f.data(), int64_t(f.size()));
    TTiffReadOptions options;
    options.Mask = &mask;
    ReadTiff(s, b, p, false, progress, options);
    ASSERT_FALSE(aborting);
    EXPECT_EQ(Pixel(b, 1, 0).r, 50);
    ASSERT_EQ(mask.Width(), 2);
    EXPECT_FALSE(mask.Full());
    EXPECT_EQ(mask.GetPixel(0, 0), 40);
    EXPECT_EQ(mask.GetPixel(1, 0), 80);
}

// A bitmap of the same size is decoded into again; a failed read clears the rows that
// the new file did not reach.
TEST(TiffReader, ReusedBitmapKeepsNoStaleRows)
{
    TTiffBuilder full = Basic(2, 2, 8, 1, 1);
    full.Strip({1, 2, 3, 4});
    TTiffBuilder shortStrip = Basic(2, 2, 8, 1, 1);
    shortStrip.Short(259, 32773);
    shortStrip.Strip({0x01, 9, 9});
    TRead r;
    Read(full.Build(), r);
    ASSERT_EQ(Pixel(r.Bitmap, 0, 1).g, 3);
    Read(shortStrip.Build(), r);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(Pixel(r.Bitmap, 1, 0).g, 9);
    EXPECT_EQ(Pixel(r.Bitmap, 0, 1).g, 0);
    EXPECT_EQ(Pixel(r.Bitmap, 1, 1).g, 0);
}
