#include "imaging/IEBitmaps.h"
#include "imaging/IEView.h"
#include "imaging/ImagingIO.h"
#include "imaging/PngBands.h"
#include "imaging/PngFilter.h"
#include "imaging/TgaFilter.h"
#include "imaging/imgdefs.h"

#include "imaging/FilterTestUtil.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <png.h>
#include <zlib.h>

using namespace kv;
using namespace kv::test;

namespace {

const TRGB Red = CreateRGB(255, 0, 0), Green = CreateRGB(0, 255, 0), Blue = CreateRGB(0, 0, 255),
           White = CreateRGB(255, 255, 255), Black = CreateRGB(0, 0, 0);

struct TRead {
    TBitmap Bitmap;
    TIOParamsVals Params{nullptr};
    TIEMask Mask;
    TProgressFixture P;
    bool Filled = false;
};

void ReadPng(TRead& R, const std::vector<uint8_t>& File, bool WithMask)
{
    TReadOnlyMemoryStream s(File.data(), int64_t(File.size()));
    R.Filled = ReadPngStream(s, R.Bitmap, R.Params, R.P.Progress, false, WithMask ? &R.Mask : nullptr);
}

std::vector<uint8_t> WritePng(TBitmap& B, TIOParamsVals& P, TIEMask* Mask)
{
    TMemoryStream s;
    TProgressFixture p;
    WritePngStream(s, B, P, p.Progress, Mask);
    EXPECT_FALSE(p.Aborting);
    return s.Bytes();
}

// Visit(type, data) for each whole chunk after the signature, in file order; returns
// where the walk stopped (the file's size when it ends with a whole chunk).
template <typename TVisit> size_t EachChunk(const std::vector<uint8_t>& f, TVisit Visit)
{
    size_t p = 8;
    for (; p + 12 <= f.size();) {
        const size_t n = GetU32BE(&f[p]);
        if (p + 12 + n > f.size())
            break;
        Visit(std::string(f.begin() + long(p) + 4, f.begin() + long(p) + 8),
              std::vector<uint8_t>(f.begin() + long(p) + 8, f.begin() + long(p + 8 + n)));
        p += 12 + n;
    }
    return p;
}

// Chunk type -> data of the first chunk of that type.
std::map<std::string, std::vector<uint8_t>> Chunks(const std::vector<uint8_t>& f)
{
    std::map<std::string, std::vector<uint8_t>> out;
    EachChunk(f, [&out](const std::string& Type, std::vector<uint8_t> Data) { out.emplace(Type, std::move(Data)); });
    return out;
}

void HalfTransparent(TIEMask& m, int32_t w, int32_t h)
{
    m.AllocateBits(w, h, 8);
    m.Fill(255);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; x += 2)
            m.SetPixel(x, y, uint8_t(x * 10));
}

// A PNG written straight through libpng: 1-bit palette of the two colours given.
std::vector<uint8_t> OneBitPalettePng(TRGB c0, TRGB c1, const std::vector<uint8_t>& Rows, int W, int H)
{
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, size_t n) {
            auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            v->insert(v->end(), d, d + n);
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(W), png_uint_32(H), 1, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color pal[2] = {{c0.r, c0.g, c0.b}, {c1.r, c1.g, c1.b}};
    png_set_PLTE(png, info, pal, 2);
    png_write_info(png, info);
    for (int y = 0; y < H; ++y)
        png_write_row(png, Rows.data() + y * ((W + 7) / 8));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A chunk with its length and its CRC computed over whatever Data holds.
void AppendChunk(std::vector<uint8_t>& f, const char* Type, const uint8_t* Data, size_t n)
{
    uint8_t head[8];
    PutU32BE(head, uint32_t(n));
    std::memcpy(head + 4, Type, 4);
    f.insert(f.end(), head, head + 8);
    f.insert(f.end(), Data, Data + n);
    uint8_t crc[4];
    const uLong sum = crc32(0, head + 4, 4);
    PutU32BE(crc, uint32_t(n > 0 ? crc32(sum, Data, uInt(n)) : sum));
    f.insert(f.end(), crc, crc + 4);
}

// The file again with every IDAT's data joined, Change applied to that zlib stream, and
// the stream cut back into IDATs of the same lengths, each CRC computed over the change.
template <typename TChange> std::vector<uint8_t> WithIdatStream(const std::vector<uint8_t>& f, TChange Change)
{
    std::vector<uint8_t> stream;
    std::vector<size_t> lengths;
    std::vector<uint8_t> out(f.begin(), f.begin() + 8);
    bool idatDone = false;
    EachChunk(f, [&](const std::string& Type, const std::vector<uint8_t>& Data) {
        if (Type == "IDAT") {
            stream.insert(stream.end(), Data.begin(), Data.end());
            lengths.push_back(Data.size());
            return;
        }
        if (!lengths.empty() && !idatDone) {
            Change(stream);
            size_t at = 0;
            for (size_t n : lengths) {
                AppendChunk(out, "IDAT", stream.data() + at, n);
                at += n;
            }
            idatDone = true;
        }
        AppendChunk(out, Type.c_str(), Data.data(), Data.size());
    });
    return out;
}

} // namespace

TEST(PngFilter, AlphaGoesToTheMaskOrIsCompositedOnTheBackground)
{
    for (uint8_t interlaced : {0, 1}) {
        SCOPED_TRACE(int(interlaced));
        TBitmap b;
        FillPicture(b, 9, 7);
        TIEMask m;
        HalfTransparent(m, 9, 7);
        TIOParamsVals p(nullptr);
        p.PngInterlaced = interlaced;
        p.PngBackground = CreateRGB(10, 200, 30);
        const auto f = WritePng(b, p, &m);
        EXPECT_EQ(f[25], PNG_COLOR_TYPE_RGB_ALPHA);
        TRead withMask;
        ReadPng(withMask, f, true);
        ASSERT_FALSE(withMask.P.Aborting);
        EXPECT_TRUE(withMask.Filled);
        EXPECT_FALSE(withMask.Mask.Full());
        EXPECT_EQ(withMask.Params.PngInterlaced, interlaced);
        TRead plain;
        ReadPng(plain, f, false);
        ASSERT_FALSE(plain.P.Aborting);
        for (int32_t y = 0; y < 7; ++y)
            for (int32_t x = 0; x < 9; ++x) {
                ASSERT_EQ(withMask.Mask.GetPixel(x, y), m.GetPixel(x, y));
                ASSERT_EQ(PixelAt(withMask.Bitmap, x, y), PixelAt(b, x, y));
                const TRGB got = PixelAt(plain.Bitmap, x, y);
                if (m.GetPixel(x, y) == 255) {
                    ASSERT_EQ(got, PixelAt(b, x, y));
                } else if (m.GetPixel(x, y) == 0) {
                    ASSERT_EQ(got, CreateRGB(10, 200, 30)); // the bKGD written from PngBackground
                }
            }
    }
}

TEST(PngFilter, PaletteWithTransparentMaskHasTheWorkedChunks)
{
    TBitmap b;
    FillPicture(b, 6, 4, {Red, Green, Blue});
    TIEMask m;
    m.AllocateBits(6, 4, 8);
    m.Fill(255);
    m.SetPixel(0, 0, 0);
    TIOParamsVals p(nullptr);
    p.BitsPerSample = 4;
    p.SamplesPerPixel = 1;
    p.DpiX = p.DpiY = 96;
    p.PngBackground = CreateRGB(1, 2, 3);
    const auto f = WritePng(b, p, &m);
    auto c = Chunks(f);
    EXPECT_EQ(f[24], 8);
    EXPECT_EQ(f[25], PNG_COLOR_TYPE_PALETTE);
    ASSERT_EQ(c["PLTE"].size(), 17u * 3);
    EXPECT_EQ(c["PLTE"][0], 1);
    EXPECT_EQ(c["PLTE"][2], 3);
    EXPECT_EQ(c["tRNS"], std::vector<uint8_t>{0});
    ASSERT_EQ(c["pHYs"].size(), 9u);
    EXPECT_EQ(GetU32BE(&c["pHYs"][0]), 3780u);
    EXPECT_EQ(GetU32BE(&c["pHYs"][4]), 3780u);
    EXPECT_EQ(c["pHYs"][8], 1);
    TRead r;
    ReadPng(r, f, true);
    ASSERT_FALSE(r.P.Aborting);
    EXPECT_EQ(r.Params.DpiX, 96);
    EXPECT_EQ(r.Params.ColorMapCount, 17);
    EXPECT_EQ(r.Mask.GetPixel(0, 0), 0);
    EXPECT_EQ(r.Mask.GetPixel(1, 0), 255);
    EXPECT_EQ(r.Params.BitsPerSample, 8);
    EXPECT_EQ(r.Params.SamplesPerPixel, 1);

    // BitsPerSample 0 counts as 8: 256 entries. A mask of another size is not used.
    p.BitsPerSample = 0;
    TIEMask stale;
    stale.AllocateBits(3, 3, 8);
    stale.Fill(0);
    auto c8 = Chunks(WritePng(b, p, &stale));
    EXPECT_EQ(c8["PLTE"].size(), 256u * 3);
    EXPECT_EQ(c8.count("tRNS"), 0u);
    p.SamplesPerPixel = 3;
    EXPECT_EQ(WritePng(b, p, &stale)[25], PNG_COLOR_TYPE_RGB);
}

TEST(PngFilter, OneBitPicturesAndPalettes)
{
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetSize(10, 2);
    b.ScanLine(0)[0] = 0xA5;
    b.ScanLine(1)[1] = 0xC0;
    TIOParamsVals p(nullptr);
    p.BitsPerSample = 1;
    p.SamplesPerPixel = 1;
    const auto f = WritePng(b, p, nullptr);
    EXPECT_EQ(f[24], 1);
    EXPECT_EQ(f[25], PNG_COLOR_TYPE_GRAY);
    TRead r;
    ReadPng(r, f, false);
    ASSERT_EQ(r.Bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(r.Bitmap.ScanLine(0)[0], 0xA5);
    EXPECT_EQ(r.Bitmap.ScanLine(1)[1] & 0xC0, 0xC0);

    // A red/blue 1-bit palette keeps its colours; only black-then-white stays 1-bit.
    const std::vector<uint8_t> rows = {0x40, 0x80};
    TRead colours;
    ReadPng(colours, OneBitPalettePng(Red, Blue, rows, 2, 2), false);
    ASSERT_FALSE(colours.P.Aborting);
    EXPECT_EQ(colours.Bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(PixelAt(colours.Bitmap, 0, 0), Red);
    EXPECT_EQ(PixelAt(colours.Bitmap, 1, 0), Blue);
    EXPECT_EQ(PixelAt(colours.Bitmap, 0, 1), Blue);
    TRead bw;
    ReadPng(bw, OneBitPalettePng(Black, White, rows, 2, 2), false);
    EXPECT_EQ(bw.Bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(PixelAt(bw.Bitmap, 1, 0), White);

    // A 24-bit picture of two colours saved at one bit keeps them in a two-entry palette
    // (the darker as entry 0) instead of turning into black and white.
    TBitmap two;
    two.SetPixelFormat(pf24bit);
    two.SetSize(3, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            std::memcpy(two.ScanLine(y) + 3 * x, (x + y) % 2 ? &Red : &Blue, 3);
    const auto twoFile = WritePng(two, p, nullptr);
    EXPECT_EQ(twoFile[24], 1);
    EXPECT_EQ(twoFile[25], PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(Chunks(twoFile)["PLTE"].size(), 6u);
    TRead back;
    ReadPng(back, twoFile, false);
    ASSERT_FALSE(back.P.Aborting);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(PixelAt(back.Bitmap, x, y), (x + y) % 2 ? Red : Blue) << x << "," << y;
}

// Above two MiB of rows a picture deflates in bands on several threads: the bands must
// join into one zlib stream whose checksum zlib accepts, every row with the filter asked.
TEST(PngFilter, LargePicturesJoinTheirBandsIntoOneStream)
{
    const int32_t w = 1024, h = 700;
    TBitmap b;
    FillPicture(b, w, h);
    TIEMask m;
    HalfTransparent(m, w, h);
    const struct {
        uint8_t Filter;
        bool Alpha;
        uint8_t FilterByte;
    } cases[] = {{0, false, 0}, {1, false, 1}, {2, false, 4}, {2, true, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.Filter) + (c.Alpha ? 10 : 0));
        TIOParamsVals p(nullptr);
        p.PngFilter = c.Filter;
        ResetPngBandCounters();
        const auto f = WritePng(b, p, c.Alpha ? &m : nullptr);
        // Each band gives its memory back once written, so only those in flight hold any.
        EXPECT_EQ(PngBandCounters().WrittenBandBytes, 0u);
        std::vector<uint8_t> stream;
        const size_t walked = EachChunk(f, [&stream](const std::string& Type, const std::vector<uint8_t>& Data) {
            if (Type == "IDAT")
                stream.insert(stream.end(), Data.begin(), Data.end());
        });
        ASSERT_EQ(walked, f.size());
        const size_t rowBytes = 1 + size_t(w) * (c.Alpha ? 4 : 3);
        std::vector<uint8_t> rows(rowBytes * h + 1);
        uLongf got = uLongf(rows.size());
        ASSERT_EQ(uncompress(rows.data(), &got, stream.data(), uLong(stream.size())), Z_OK);
        ASSERT_EQ(got, rowBytes * h);
        for (int32_t y = 0; y < h; ++y)
            ASSERT_EQ(rows[size_t(y) * rowBytes], c.FilterByte) << y;
        TRead r;
        ReadPng(r, f, true);
        ASSERT_FALSE(r.P.Aborting);
        for (int32_t y = 0; y < h; ++y) {
            ASSERT_EQ(std::memcmp(r.Bitmap.ScanLine(y), b.ScanLine(y), size_t(w) * 3), 0) << y;
            if (c.Alpha) {
                ASSERT_EQ(std::memcmp(r.Mask.ScanLine(y), m.ScanLine(y), size_t(w)), 0) << y;
            }
        }
    }
}

// A stream flushed between IDATs whose second half refers back across the flush: the
// band read on its own fails and is read again after the first, giving the same rows.
TEST(PngFilter, FlushedStreamReferringBackReadsRight)
{
    const int32_t w = 64, h = 40;
    TBitmap b;
    FillPicture(b, w, h, {Red, Green, Blue, White, Black});
    TIOParamsVals p(nullptr);
    const auto plain = WritePng(b, p, nullptr);
    const size_t rowBytes = 1 + size_t(w) * 3;
    std::vector<uint8_t> rows(rowBytes * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const TRGB c = PixelAt(b, x, y);
            uint8_t* q = &rows[size_t(y) * rowBytes + 1 + 3 * size_t(x)];
            q[0] = c.r, q[1] = c.g, q[2] = c.b;
        }
    std::vector<uint8_t> z(compressBound(uLong(rows.size())) + 64);
    z_stream d{};
    ASSERT_EQ(deflateInit(&d, 6), Z_OK);
    d.next_in = rows.data();
    d.avail_in = uInt(rows.size() / 2);
    d.next_out = z.data();
    d.avail_out = uInt(z.size());
    ASSERT_EQ(deflate(&d, Z_SYNC_FLUSH), Z_OK);
    const size_t half = d.total_out;
    d.avail_in = uInt(rows.size() - rows.size() / 2);
    ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
    z.resize(d.total_out);
    deflateEnd(&d);
    const auto chunk = AppendChunk;
    std::vector<uint8_t> f(plain.begin(), plain.begin() + 33); // signature and IHDR
    chunk(f, "IDAT", z.data(), half);
    chunk(f, "IDAT", z.data() + half, z.size() - half);
    chunk(f, "IEND", nullptr, 0);
    TRead r;
    ReadPng(r, f, false);
    ASSERT_FALSE(r.P.Aborting);
    for (int32_t y = 0; y < h; ++y)
        ASSERT_EQ(std::memcmp(r.Bitmap.ScanLine(y), b.ScanLine(y), size_t(w) * 3), 0) << y;
}

// Compressed data damaged after it was deflated, with every chunk CRC computed over the
// damage (as a careless copy would leave it): only zlib's Adler-32 over the rows can tell,
// and libpng refuses such a file. Stored (level 0) blocks keep the damage in one pixel,
// so every row before it decodes right and is kept.
TEST(PngFilter, DamagedDeflateDataWithRightChunkCrcsIsRefused)
{
    const struct {
        int32_t W, H;
        bool Alpha;   // the rows go through libpng
        bool Banded;  // written in bands, which the reader inflates side by side
        bool Trailer; // the Adler-32 itself is changed, not the data
    } cases[] = {
        {40, 30, false, false, false},  {40, 30, true, false, false}, {1024, 700, false, true, false},
        {1024, 700, false, true, true}, {40, 30, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.W << "x" << c.H << (c.Alpha ? " alpha" : "")
                                        << (c.Trailer ? " trailer" : ""));
        TBitmap b;
        FillPicture(b, c.W, c.H);
        TIEMask m;
        if (c.Alpha)
            HalfTransparent(m, c.W, c.H);
        TIOParamsVals p(nullptr);
        p.PngCompression = 0;
        const auto good = WritePng(b, p, c.Alpha ? &m : nullptr);
        ASSERT_EQ(std::count_if(good.begin(), good.end() - 4,
                                [&](const uint8_t& x) { return std::memcmp(&x, "IDAT", 4) == 0; }) > 1,
                  c.Banded);
        const size_t rowBytes = 1 + size_t(c.W) * (c.Alpha ? 4 : 3);
        const int32_t damagedRow = c.H * 3 / 4;
        const auto bad = WithIdatStream(good, [&](std::vector<uint8_t>& s) {
            if (c.Trailer) {
                s.back() ^= 0x01;
                return;
            }
            // Stored blocks hold the rows as they are, after a header of 5 bytes per block:
            // the row is found by its bytes (the last match: the gradient repeats every 256 rows).
            std::vector<uint8_t> rows(rowBytes * size_t(c.H));
            uLongf got = uLongf(rows.size());
            ASSERT_EQ(uncompress(rows.data(), &got, s.data(), uLong(s.size())), Z_OK);
            const uint8_t* want = &rows[size_t(damagedRow) * rowBytes];
            const auto at = std::find_end(s.begin(), s.end(), want, want + 64);
            ASSERT_NE(at, s.end());
            at[1] ^= 0x40; // the red sample of the row's first pixel
        });
        ASSERT_EQ(bad.size(), good.size());
        TRead r;
        ReadPng(r, bad, c.Alpha);
        EXPECT_TRUE(r.P.Aborting);
        for (int32_t y = 0; y < std::min(damagedRow, c.H - 1); ++y)
            ASSERT_EQ(std::memcmp(r.Bitmap.ScanLine(y), b.ScanLine(y), size_t(c.W) * 3), 0) << y;
    }
}

// A 50 KB file that claims a picture of 3 MiB and holds several IDATs each of which is
// the whole picture's worth of deflated zeros ended by a sync flush (what Python's
// zlib.compressobj gives with compress(zeros) + flush(Z_SYNC_FLUSH) per chunk): a valid
// stream, as pngcheck has it, of which libpng reads the rows and warns of the rest. The
// rows are read, the rest is not inflated, and no band is inflated whole ahead.
TEST(PngFilter, FlushedBandsOfWholePicturesInflateNoMoreThanTheRowsNeed)
{
    const int32_t w = 1024, h = 1024, idats = 6;
    const size_t imageBytes = (1 + size_t(w) * 3) * h;
    const std::vector<uint8_t> zeros(imageBytes, 0);
    const struct {
        bool OwnStreams;   // each band after the first a raw deflate stream of its own
        size_t FirstBytes; // of zeros in the first band
    } cases[] = {{false, imageBytes}, {true, imageBytes}, {true, 1 + size_t(w) * 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.OwnStreams ? "own streams, " : "one stream, ") << c.FirstBytes);
        const bool ownStreams = c.OwnStreams;
        std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        uint8_t ihdr[13] = {};
        PutU32BE(ihdr, w);
        PutU32BE(ihdr + 4, h);
        ihdr[8] = 8; // depth
        ihdr[9] = 2; // RGB
        AppendChunk(f, "IHDR", ihdr, 13);
        z_stream z{};
        ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        uLong adler = 1;
        for (int k = 0; k < idats; ++k) {
            if (ownStreams && k > 0) {
                deflateEnd(&z);
                ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
            }
            const size_t bytes = k == 0 ? c.FirstBytes : imageBytes;
            std::vector<uint8_t> band(deflateBound(&z, uLong(bytes)) + 64);
            z.next_in = const_cast<Bytef*>(zeros.data());
            z.avail_in = uInt(bytes);
            z.next_out = band.data();
            z.avail_out = uInt(band.size());
            ASSERT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
            ASSERT_EQ(z.avail_in, 0u);
            band.resize(band.size() - z.avail_out);
            adler = adler32_combine(adler, adler32(1, zeros.data(), uInt(bytes)), z_off_t(bytes));
            if (k == idats - 1) { // the last block, empty, and the Adler-32 of everything
                band.push_back(0x03);
                band.push_back(0x00);
                for (int i = 3; i >= 0; --i)
                    band.push_back(uint8_t(adler >> (8 * i)));
            }
            AppendChunk(f, "IDAT", band.data(), band.size());
        }
        deflateEnd(&z);
        AppendChunk(f, "IEND", nullptr, 0);
        ASSERT_LT(f.size(), size_t(100000));
        ResetPngBandCounters();
        TRead r;
        ReadPng(r, f, false);
        const TPngBandCounters counters = PngBandCounters();
        EXPECT_FALSE(r.P.Aborting);
        ASSERT_EQ(r.Bitmap.Height(), h);
        for (int32_t y = 0; y < h; y += 97)
            ASSERT_EQ(PixelAt(r.Bitmap, (y * 31) % w, y), Black) << y;
        // The rows, and the guesses of the bands after them sharing no more than as much.
        EXPECT_LE(counters.InflatedBytes, 2 * imageBytes);
        EXPECT_LE(counters.PeakBufferBytes, int64_t(imageBytes));
    }
}

TEST(PngFilter, FilesWrittenByImageMagickReadRight)
{
    for (const char* name : {"rgb.png", "pal.png", "rgb16.png", "rgba.png", "rgba_interlaced.png"}) {
        SCOPED_TRACE(name);
        TRead r;
        ReadPng(r, ReadTestFile(name), true);
        ASSERT_FALSE(r.P.Aborting);
        ASSERT_EQ(r.Bitmap.Width(), 4);
        ASSERT_EQ(r.Bitmap.Height(), 3);
        const bool alpha = std::string(name).find("rgba") == 0;
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 4; ++x) {
                EXPECT_EQ(PixelAt(r.Bitmap, x, y), SourcePixel(x, y)) << x << "," << y;
                const uint8_t want[4] = {0, 64, 127, 191};
                EXPECT_EQ(r.Mask.GetPixel(x, y), alpha ? want[x] : 255);
            }
    }
    TRead grey;
    ReadPng(grey, ReadTestFile("grey.png"), false);
    ASSERT_FALSE(grey.P.Aborting);
    EXPECT_EQ(PixelAt(grey.Bitmap, 3, 0), White);
    EXPECT_EQ(PixelAt(grey.Bitmap, 0, 1), Black);
    TRead mono;
    ReadPng(mono, ReadTestFile("mono.png"), false);
    EXPECT_EQ(mono.Bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(PixelAt(mono.Bitmap, 3, 0), White);
}

TEST(PngFilter, TruncatedAndForgedFilesEndWithAnError)
{
    TBitmap b;
    FillPicture(b, 40, 30);
    TIOParamsVals p(nullptr);
    p.PngCompression = 0;
    const auto good = WritePng(b, p, nullptr);
    for (size_t n : {size_t(0), size_t(8), size_t(20), size_t(40), good.size() / 2, good.size() - 13}) {
        TRead r;
        ReadPng(r, std::vector<uint8_t>(good.begin(), good.begin() + long(n)), true);
        EXPECT_TRUE(r.P.Aborting) << n;
    }
    // A changed byte of compressed data is caught by the chunk's CRC.
    auto flipped = good;
    const auto idat = std::search(flipped.begin(), flipped.end(), std::begin("IDAT"), std::end("IDAT") - 1);
    ASSERT_NE(idat, flipped.end());
    idat[4 + 100] ^= 0x10;
    TRead corrupt;
    ReadPng(corrupt, flipped, false);
    EXPECT_TRUE(corrupt.P.Aborting);
    // The IDAT the stream ends in has a wrong CRC: every row but the last is read, and the
    // last, which libpng gives only once that chunk checks, is not.
    auto badCrc = good;
    const auto iend = std::search(badCrc.begin(), badCrc.end(), std::begin("IEND"), std::end("IEND") - 1);
    ASSERT_NE(iend, badCrc.end());
    iend[-5] ^= 0x01; // the last byte of the IDAT's CRC, before IEND's length
    TRead crcRead;
    ReadPng(crcRead, badCrc, false);
    EXPECT_TRUE(crcRead.P.Aborting);
    EXPECT_EQ(std::memcmp(crcRead.Bitmap.ScanLine(28), b.ScanLine(28), 40 * 3), 0);
    EXPECT_EQ(PixelAt(crcRead.Bitmap, 0, 29), Black);
    EXPECT_NE(PixelAt(b, 0, 29), Black);
    // Rows whose stream never ends (flushed, with no last block or Adler-32) are not a
    // whole file: libpng finds "Not enough image data".
    std::vector<uint8_t> rows;
    for (int32_t y = 0; y < 30; ++y) {
        rows.push_back(0);
        for (int32_t x = 0; x < 40; ++x) {
            const TRGB c = PixelAt(b, x, y);
            rows.insert(rows.end(), {c.r, c.g, c.b});
        }
    }
    std::vector<uint8_t> open(compressBound(uLong(rows.size())) + 64);
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 6), Z_OK);
    z.next_in = rows.data();
    z.avail_in = uInt(rows.size());
    z.next_out = open.data();
    z.avail_out = uInt(open.size());
    ASSERT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
    open.resize(z.total_out);
    deflateEnd(&z);
    std::vector<uint8_t> unended(good.begin(), good.begin() + 33); // signature and IHDR
    AppendChunk(unended, "IDAT", open.data(), open.size());
    AppendChunk(unended, "IEND", nullptr, 0);
    TRead unendedRead;
    ReadPng(unendedRead, unended, false);
    EXPECT_TRUE(unendedRead.P.Aborting);
    EXPECT_EQ(std::memcmp(unendedRead.Bitmap.ScanLine(28), b.ScanLine(28), 40 * 3), 0);
    // A header of 60000 x 60000 (with its checksum right) is refused before allocating.
    auto huge = good;
    PutU32BE(&huge[16], 60000);
    PutU32BE(&huge[20], 60000);
    PutU32BE(&huge[29], uint32_t(crc32(0, &huge[12], 17)));
    TRead r;
    ReadPng(r, huge, false);
    EXPECT_TRUE(r.P.Aborting);
    EXPECT_EQ(r.Params.Width, 60000);
    EXPECT_LE(r.Bitmap.Width(), 1);
}

namespace {
class TMaskView : public TIEView {
public:
    TBitmap Bmp;
    TIEMask Msk;
    TBitmap* IEBitmap() override { return &Bmp; }
    TIEMask* SelectionMask() override { return &Msk; }
    TColor Background() const override { return clWhite; }
    void SetBackground(TColor) override {}
    int32_t XDpi() const override { return 0; }
    int32_t YDpi() const override { return 0; }
    void SetDPI(int32_t, int32_t) override {}
    void ImageChange() override {}
    void Update() override {}
    int32_t RegisterChangeCallback(TIEViewCallback) override { return 1; }
    void UnregisterChangeCallback(int32_t) override {}
};
} // namespace

TEST(ImagingIOFilters, PngLoadKeepsItsAlphaAndSaveWritesIt)
{
    TMaskView view;
    TImagingIO io;
    io.SetAttachedImaging(&view);
    // A stale mask of the same width must not survive a PNG without alpha either.
    view.Msk.AllocateBits(4, 3, 8);
    view.Msk.Fill(7);
    auto rgb = ReadTestFile("rgb.png");
    TReadOnlyMemoryStream s1(rgb.data(), int64_t(rgb.size()));
    io.LoadFromStreamPng(s1);
    EXPECT_EQ(view.Msk.GetPixel(0, 0), 255);
    auto rgba = ReadTestFile("rgba.png");
    TReadOnlyMemoryStream s2(rgba.data(), int64_t(rgba.size()));
    io.LoadFromStreamPng(s2);
    ASSERT_FALSE(io.Aborting());
    EXPECT_EQ(view.Msk.GetPixel(1, 2), 64);
    TMemoryStream out;
    io.SaveToStreamPng(out);
    ASSERT_FALSE(io.Aborting());
    EXPECT_EQ(out.Bytes()[25], PNG_COLOR_TYPE_RGB_ALPHA);
    // Through the component BMP and TGA round-trip too.
    for (int32_t type : {ioBMP, ioTGA}) {
        TMemoryStream st;
        io.SaveToStream(st, type);
        st.SetPosition(0);
        TImagingIO back;
        TBitmap bb;
        back.SetBitmap(&bb);
        back.LoadFromStreamFormat(st, type);
        EXPECT_FALSE(back.Aborting()) << type;
        EXPECT_EQ(PixelAt(bb, 2, 1), SourcePixel(2, 1)) << type;
    }
}

// ---- TGA ----------------------------------------------------------------------------------

namespace {

void ReadTga(TRead& R, const std::vector<uint8_t>& File)
{
    TReadOnlyMemoryStream s(File.data(), int64_t(File.size()));
    ReadTgaStream(s, R.Bitmap, R.Params, R.P.Progress, false);
}

std::vector<uint8_t> WriteTga(TBitmap& B, TIOParamsVals& P)
{
    TMemoryStream s;
    TProgressFixture p;
    WriteTgaStream(s, B, P, p.Progress);
    EXPECT_FALSE(p.Aborting);
    return s.Bytes();
}

// An 18-byte header, no id; the caller appends map and pixels.
std::vector<uint8_t> TgaHeader(uint8_t MapType, uint8_t Type, uint16_t First, uint16_t Length, uint8_t EntrySize,
                               uint16_t W, uint16_t H, uint8_t Depth, uint8_t Descriptor)
{
    std::vector<uint8_t> h(18, 0);
    h[1] = MapType;
    h[2] = Type;
    PutU16LE(&h[3], First);
    PutU16LE(&h[5], Length);
    h[7] = EntrySize;
    PutU16LE(&h[12], W);
    PutU16LE(&h[14], H);
    h[16] = Depth;
    h[17] = Descriptor;
    return h;
}

} // namespace

TEST(TgaFilter, OneColourPictureHasTheWorkedLayout)
{
    TBitmap b;
    const TRGB c = CreateRGB(0x30, 0x20, 0x10);
    FillPicture(b, 3, 2, {c});
    TIOParamsVals p(nullptr);
    const auto f = WriteTga(b, p);
    ASSERT_EQ(f.size(), 548u);
    EXPECT_EQ(f[0], 1);
    EXPECT_EQ(f[1], 0);
    EXPECT_EQ(f[2], 10);
    EXPECT_EQ(f[16], 24);
    EXPECT_EQ(f[17], 0x20);
    EXPECT_EQ(f[18], 0);
    const std::vector<uint8_t> rows = {0x82, 0x10, 0x20, 0x30, 0x82, 0x10, 0x20, 0x30};
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), f.begin() + 19));
    EXPECT_EQ(f[27], 0xEF);
    EXPECT_EQ(f[28], 0x01);
    const std::vector<uint8_t> ratios = {0x10, 0x27, 0x10, 0x27, 0xF0, 0x55, 0x10, 0x27};
    EXPECT_TRUE(std::equal(ratios.begin(), ratios.end(), f.begin() + 27 + 474));
    EXPECT_EQ(GetU32LE(&f[522]), 27u);
    EXPECT_EQ(GetU32LE(&f[526]), 0u);
    EXPECT_EQ(std::string(f.begin() + 530, f.end()), std::string("TRUEVISION-XFILE.\0", 18));
}

TEST(TgaFilter, RunLengthCodesAndRatios)
{
    const uint8_t A = 1, B = 2, C = 3;
    std::vector<uint8_t> out;
    const uint8_t row[] = {A, A, B, C, C, C};
    TgaEncodeRleRow(row, 6, 1, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x81, A, 0x00, B, 0x82, C}));
    out.clear();
    TgaEncodeRleRow(row + 1, 2, 1, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x01, A, B}));
    uint16_t n, d;
    TgaRatio(7.0, n, d);
    EXPECT_EQ(n, 7000);
    EXPECT_EQ(d, 1000);
    TgaRatio(6.5535, n, d);
    EXPECT_EQ(n, 65535);
    EXPECT_EQ(d, 10000);
    TgaRatio(1.5, n, d);
    EXPECT_EQ(n, 15000);
    TgaRatio(std::nan(""), n, d);
    EXPECT_EQ(n, 0);
}

TEST(TgaFilter, WorkedPixelValuesAndDefaults)
{
    // 16-bit 0x7FFF, bottom-up, no footer.
    auto f16 = TgaHeader(0, 2, 0, 0, 0, 1, 1, 16, 0);
    f16.insert(f16.end(), {0xFF, 0x7F});
    TRead a;
    a.Params.TgaAspectRatio = 3;
    ReadTga(a, f16);
    ASSERT_FALSE(a.P.Aborting);
    EXPECT_EQ(PixelAt(a.Bitmap, 0, 0), CreateRGB(248, 248, 248));
    EXPECT_EQ(a.Params.TgaDate, IEDateToday());
    EXPECT_EQ(a.Params.TgaAspectRatio, 1.0);
    EXPECT_EQ(a.Params.TgaGamma, 2.2);
    // A short colour map (first 0, length 2): other indexes read the 3-3-2 palette.
    auto fm = TgaHeader(1, 1, 0, 2, 24, 3, 1, 8, 0x20);
    fm.insert(fm.end(), {0, 0, 255, 0, 255, 0, 1, 0xE0, 0xFF});
    TRead m;
    ReadTga(m, fm);
    ASSERT_FALSE(m.P.Aborting);
    EXPECT_EQ(PixelAt(m.Bitmap, 0, 0), Green);
    EXPECT_EQ(PixelAt(m.Bitmap, 1, 0), CreateRGB(252, 28, 60));
    EXPECT_EQ(PixelAt(m.Bitmap, 2, 0), CreateRGB(252, 252, 252));
    EXPECT_EQ(m.Params.ColorMapCount, 2);
    // A map starting past the table keeps only indexes below 256.
    auto far = TgaHeader(1, 1, 300, 2, 24, 1, 1, 8, 0);
    far.insert(far.end(), {1, 2, 3, 4, 5, 6, 0});
    TRead fr;
    ReadTga(fr, far);
    EXPECT_FALSE(fr.P.Aborting);
    // An empty id is written as one NUL.
    TBitmap b;
    FillPicture(b, 1, 1, {Red});
    TIOParamsVals p(nullptr);
    const auto f = WriteTga(b, p);
    EXPECT_EQ(f[0], 1);
    EXPECT_EQ(f[18], 0);
}

TEST(TgaFilter, WriterToReaderAtEveryDepth)
{
    const std::vector<TRGB> four = {Red, Green, Blue, White};
    // At 1 bit a picture's own two colours are its palette, however dark both are.
    const std::vector<TRGB> twoDark = {CreateRGB(40, 0, 0), CreateRGB(0, 0, 90)};
    struct {
        int Bps, Spp, Compressed, Grey;
        std::vector<TRGB> Colors;
    } cases[] = {{8, 3, 1, 0, {}},   {8, 3, 0, 0, {}},   {8, 1, 1, 0, four},           {8, 1, 0, 0, four},
                 {8, 1, 1, 1, four}, {4, 1, 1, 0, four}, {1, 1, 1, 0, {Black, White}}, {1, 1, 0, 0, twoDark}};
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.Bps << "/" << t.Spp << " c" << t.Compressed << " g" << t.Grey);
        TBitmap b;
        FillPicture(b, 11, 4, t.Colors);
        TIOParamsVals p(nullptr);
        p.BitsPerSample = t.Bps;
        p.SamplesPerPixel = t.Spp;
        p.TgaCompressed = uint8_t(t.Compressed);
        p.TgaGrayscale = uint8_t(t.Grey);
        p.TgaImageId = "kv";
        p.TgaAuthor = "Ann";
        p.TgaAspectRatio = 1.5;
        p.TgaDate = 45000.5;
        const auto f = WriteTga(b, p);
        if (t.Bps < 8) {
            // 1 and 4 bits go out as 8-bit colour-mapped files of 2 or 16 entries, which
            // ImageMagick, netpbm and PIL read (depths 1 and 4 they refuse).
            EXPECT_EQ(f[1], 1);
            EXPECT_EQ(f[2] & 7, 1);
            EXPECT_EQ(f[5] | (f[6] << 8), 1 << t.Bps);
            EXPECT_EQ(f[7], 24);
            EXPECT_EQ(f[16], 8);
        }
        if (t.Colors == twoDark) {
            // The map after the 18-byte header and the 3-byte id: the darker first, as
            // blue, green, red.
            EXPECT_EQ(std::vector<uint8_t>(f.begin() + 21, f.begin() + 27), (std::vector<uint8_t>{90, 0, 0, 0, 0, 40}));
        }
        TRead r;
        ReadTga(r, f);
        ASSERT_FALSE(r.P.Aborting);
        EXPECT_EQ(r.Params.TgaImageId, "kv");
        EXPECT_EQ(r.Params.TgaAuthor, "Ann");
        EXPECT_EQ(r.Params.TgaAspectRatio, 1.5);
        EXPECT_EQ(r.Params.TgaGamma, 2.2);
        EXPECT_EQ(r.Params.TgaDate, 45000.5);
        EXPECT_EQ(r.Params.TgaGrayscale, t.Grey);
        ASSERT_EQ(r.Bitmap.Width(), 11);
        const int tolerance = t.Spp == 1 && t.Bps > 1 ? 24 : 0;
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 11; ++x) {
                TRGB want = PixelAt(b, x, y);
                const TRGB got = PixelAt(r.Bitmap, x, y);
                if (t.Grey) {
                    const uint8_t l = uint8_t(Luma(want));
                    want = TRGB{l, l, l};
                }
                ASSERT_LE(std::abs(got.r - want.r) + std::abs(got.g - want.g) + std::abs(got.b - want.b), tolerance)
                    << x << "," << y;
            }
    }
}

TEST(TgaFilter, OrientationBitsAndPacketsAcrossRows)
{
    // 2 x 2, bottom-up, mirrored (bit 4): one run packet of 3 then a raw one.
    auto f = TgaHeader(0, 10, 0, 0, 0, 2, 2, 24, 0x10);
    f.insert(f.end(), {0x82, 0, 0, 255, 0x00, 0, 255, 0});
    TRead r;
    ReadTga(r, f);
    ASSERT_FALSE(r.P.Aborting);
    EXPECT_EQ(PixelAt(r.Bitmap, 0, 1), Red);
    EXPECT_EQ(PixelAt(r.Bitmap, 1, 1), Red);
    EXPECT_EQ(PixelAt(r.Bitmap, 0, 0), Green); // mirrored: the raw pixel was the row's second
    EXPECT_EQ(PixelAt(r.Bitmap, 1, 0), Red);
    // 1- and 4-bit raw rows, top-down.
    auto one = TgaHeader(0, 3, 0, 0, 0, 10, 1, 1, 0x20);
    one.insert(one.end(), {0xA0, 0x40});
    TRead o;
    ReadTga(o, one);
    ASSERT_FALSE(o.P.Aborting);
    EXPECT_EQ(o.Bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(o.Bitmap.ScanLine(0)[0], 0xA0);
    auto four = TgaHeader(1, 1, 0, 2, 24, 3, 1, 4, 0x20);
    four.insert(four.end(), {0, 0, 255, 255, 0, 0, 0x10, 0x00});
    TRead q;
    ReadTga(q, four);
    ASSERT_FALSE(q.P.Aborting);
    EXPECT_EQ(PixelAt(q.Bitmap, 0, 0), Blue);
    EXPECT_EQ(PixelAt(q.Bitmap, 1, 0), Red);
    EXPECT_EQ(PixelAt(q.Bitmap, 2, 0), Red);
}

TEST(TgaFilter, TruncatedForgedAndUnknownFilesEndWithAnError)
{
    TBitmap b;
    FillPicture(b, 7, 5);
    TIOParamsVals p(nullptr);
    p.TgaCompressed = 0;
    auto good = WriteTga(b, p);
    good.resize(good.size() - 26 - 495); // no footer
    for (size_t n : {size_t(0), size_t(10), size_t(19), size_t(40), good.size() - 1}) {
        TRead r;
        ReadTga(r, std::vector<uint8_t>(good.begin(), good.begin() + long(n)));
        EXPECT_TRUE(r.P.Aborting) << n;
    }
    TRead half;
    ReadTga(half, std::vector<uint8_t>(good.begin(), good.begin() + 19 + 3 * 21));
    EXPECT_TRUE(half.P.Aborting);
    EXPECT_EQ(PixelAt(half.Bitmap, 6, 2), PixelAt(b, 6, 2)); // the rows read are kept
    // A footer whose extension offset points outside the stream is ignored.
    auto forged = TgaHeader(0, 2, 0, 0, 0, 1, 1, 24, 0);
    forged.insert(forged.end(), {1, 2, 3});
    std::vector<uint8_t> footer(26, 0);
    PutU32LE(&footer[0], 0x7FFFFFF0);
    std::memcpy(&footer[8], "TRUEVISION-XFILE.", 18);
    forged.insert(forged.end(), footer.begin(), footer.end());
    TRead fr;
    ReadTga(fr, forged);
    EXPECT_FALSE(fr.P.Aborting);
    EXPECT_EQ(fr.Params.TgaGamma, 2.2);
    // Depth 15 is neither detected nor read.
    auto d15 = TgaHeader(0, 2, 0, 0, 0, 1, 1, 15, 0);
    d15.insert(d15.end(), {0, 0});
    TReadOnlyMemoryStream s(d15.data(), int64_t(d15.size()));
    EXPECT_FALSE(IsTgaStream(s));
    TRead r15;
    ReadTga(r15, d15);
    EXPECT_TRUE(r15.P.Aborting);
}

TEST(TgaFilter, FilesWrittenByImageMagickReadRight)
{
    for (const char* name : {"tga24.tga", "tga24rle.tga", "tgapal.tga"}) {
        SCOPED_TRACE(name);
        TRead r;
        ReadTga(r, ReadTestFile(name));
        ASSERT_FALSE(r.P.Aborting);
        ASSERT_EQ(r.Bitmap.Width(), 4);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 4; ++x)
                EXPECT_EQ(PixelAt(r.Bitmap, x, y), SourcePixel(x, y)) << x << "," << y;
    }
}
