// Colour reduction: palettes and indices worked out from each method's formulas.
#include "formats/KvGraph.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kv;

namespace {

struct Reduced {
    std::vector<uint8_t> Indices;
    TRGBQuadTable Table{};
    int32_t Used = 0;
};

// One row of width pixels given as (r, g, b) triples; a second row when asked.
Reduced Reduce(const std::vector<std::array<uint8_t, 3>>& rgb, TReductionMethod method, int32_t wanted = 256,
               int32_t height = 1)
{
    const int32_t width = int32_t(rgb.size()) / height;
    const int64_t stride24 = ((width * 24 + 31) / 32) * 4, stride8 = ((width * 8 + 31) / 32) * 4;
    std::vector<uint8_t> src(size_t(stride24 * height)), dst(size_t(stride8 * height));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const auto& c = rgb[size_t(y * width + x)];
            uint8_t* p = src.data() + y * stride24 + 3 * x;
            p[0] = c[2];
            p[1] = c[1];
            p[2] = c[0];
        }
    Reduced r;
    r.Used = ReduceColors(src.data(), stride24, dst.data(), stride8, width, height, method, wanted, r.Table);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            r.Indices.push_back(dst[size_t(y * stride8 + x)]);
    return r;
}

TRGBQuad Q(uint8_t r, uint8_t g, uint8_t b) { return TRGBQuad{b, g, r, 0}; }

} // namespace

TEST(KvGraph, NearestLevelTablesPreferTheLowerIndexOnTies)
{
    EXPECT_EQ(NearestLevel7()[64], 1); // 43 and 85 are both 21 away
    EXPECT_EQ(NearestLevel7()[65], 2);
    EXPECT_EQ(NearestLevel4()[42], 0);
    EXPECT_EQ(NearestLevel4()[43], 1);
    EXPECT_EQ(NearestLevel8()[200], 5); // 182 is 18 away, 219 is 19
    EXPECT_EQ(NearestLevel6()[255], 5);
}

TEST(KvGraph, HistogramKeepsFewColoursMostFrequentFirst)
{
    std::vector<std::array<uint8_t, 3>> px{{10, 20, 30}, {1, 2, 3}, {1, 2, 3}, {200, 0, 0}, {1, 2, 3}, {200, 0, 0}};
    const Reduced r = Reduce(px, rmHistogram);
    EXPECT_EQ(r.Table[0], Q(1, 2, 3));
    EXPECT_EQ(r.Table[1], Q(200, 0, 0));
    EXPECT_EQ(r.Table[2], Q(10, 20, 30));
    EXPECT_EQ(r.Table[3], Q(128, 128, 128));
    EXPECT_EQ(r.Table[255], Q(128, 128, 128));
    EXPECT_EQ(r.Indices, (std::vector<uint8_t>{2, 0, 0, 1, 0, 1}));
}

TEST(KvGraph, HistogramWithTwoWantedColoursMapsTheRestToTheNearest)
{
    std::vector<std::array<uint8_t, 3>> px;
    px.insert(px.end(), 5, {250, 250, 250});
    px.insert(px.end(), 3, {0, 0, 10});
    px.push_back({40, 40, 40});
    px.push_back({200, 190, 180});
    const Reduced r = Reduce(px, rmHistogram, 2);
    EXPECT_EQ(r.Table[0], Q(250, 250, 250));
    EXPECT_EQ(r.Table[1], Q(0, 0, 10));
    for (int i = 2; i < 256; ++i)
        EXPECT_EQ(r.Table[size_t(i)], Q(128, 128, 128));
    EXPECT_EQ(r.Indices[8], 1);
    EXPECT_EQ(r.Indices[9], 0);
}

TEST(KvGraph, HistogramCoarsensBlueThenRedUntilTheColoursFit)
{
    // 3000 colours r = i mod 256, g = i div 256: masks (255,255,255) and (255,255,254)
    // fail, (254,255,254) gives 1500 cells of two pixels each.
    std::vector<std::array<uint8_t, 3>> px;
    for (int i = 0; i < 3000; ++i)
        px.push_back({uint8_t(i % 256), uint8_t(i / 256), 0});
    const Reduced r = Reduce(px, rmHistogram);
    for (int k = 0; k < 256; ++k)
        ASSERT_EQ(r.Table[size_t(k)], Q(uint8_t(2 * k % 256), uint8_t(k / 128), 0)) << k;
    EXPECT_EQ(r.Indices[0], 0);
    EXPECT_EQ(r.Indices[1], 0);
    EXPECT_EQ(r.Indices[3], 1);
    EXPECT_EQ(r.Indices[511], 255);
    // Pixel 600 (r = 88, g = 2) was not taken: the nearest entry is (88, 1, 0), index 172.
    EXPECT_EQ(r.Indices[600], 172);
}

TEST(KvGraph, MedianCutSplitsByPixelsAndAveragesCells)
{
    std::vector<std::array<uint8_t, 3>> px;
    px.insert(px.end(), 10, {0, 0, 0});
    px.push_back({128, 128, 128});
    px.push_back({255, 255, 255});
    const Reduced r = Reduce(px, rmMedianCut);
    // The black cell holds more than half the pixels: it stays alone in the first box.
    EXPECT_EQ(r.Used, 3);
    EXPECT_EQ(r.Table[0], Q(0, 0, 0)); // (0 + 15) div 1 = 15 in each channel: black
    EXPECT_EQ(r.Table[1], Q(143, 143, 143));
    EXPECT_EQ(r.Table[2], Q(255, 255, 255));
    EXPECT_EQ(r.Table[3], Q(0, 0, 0));
    EXPECT_EQ(r.Indices[0], 0);
    EXPECT_EQ(r.Indices[10], 1);
    EXPECT_EQ(r.Indices[11], 2);

    const Reduced two = Reduce({{255, 0, 0}, {255, 0, 0}, {255, 0, 0}, {0, 0, 255}}, rmMedianCut);
    EXPECT_EQ(two.Used, 2);
    EXPECT_EQ(two.Table[0], Q(15, 15, 255));
    EXPECT_EQ(two.Table[1], Q(255, 15, 15));
    EXPECT_EQ(two.Indices, (std::vector<uint8_t>{1, 1, 1, 0}));
}

TEST(KvGraph, FixedPalettes)
{
    const Reduced m2 = Reduce({{200, 200, 200}, {0, 0, 0}, {255, 255, 255}}, rmFixed784);
    EXPECT_EQ(m2.Used, 224);
    EXPECT_EQ(m2.Indices, (std::vector<uint8_t>{182, 0, 223}));
    EXPECT_EQ(m2.Table[182], Q(213, 182, 170));
    EXPECT_EQ(m2.Table[224], Q(128, 128, 128));

    const Reduced m3 = Reduce({{255, 255, 255}, {0, 0, 0}, {100, 160, 30}}, rmFixed666);
    EXPECT_EQ(m3.Used, 216);
    EXPECT_EQ(m3.Indices, (std::vector<uint8_t>{215, 0, 2 * 36 + 3 * 6 + 1}));
    EXPECT_EQ(m3.Table[2 * 36 + 3 * 6 + 1], Q(102, 153, 51));

    const Reduced m4 = Reduce({{255, 128, 64}, {255, 128, 64}, {255, 128, 64}}, rmRamps);
    EXPECT_EQ(m4.Indices, (std::vector<uint8_t>{63, 96, 144}));
    EXPECT_EQ(m4.Table[63], Q(252, 0, 0));
    EXPECT_EQ(m4.Table[96], Q(0, 128, 0));
    EXPECT_EQ(m4.Table[192], Q(128, 128, 128));
    // The second row in memory starts one step further along the cycle.
    const Reduced m4b = Reduce({{255, 128, 64}, {255, 128, 64}, {255, 128, 64}, {255, 128, 64}}, rmRamps, 256, 2);
    EXPECT_EQ(m4b.Indices, (std::vector<uint8_t>{63, 96, 96, 144}));

    const Reduced m5 = Reduce({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}, rmGray);
    EXPECT_EQ(m5.Indices, (std::vector<uint8_t>{76, 149, 28, 255}));
    EXPECT_EQ(m5.Table[76], Q(76, 76, 76));
}

TEST(KvGraph, PixelFormatConvertWritesAWholeBitmapFile)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            bmp.SetPixelColor(x, y, x == 2 ? RGB(0, 0, 255) : RGB(255, 0, 0));
    bmp.SetPixelColor(0, 1, RGB(0, 255, 0));
    auto s = PixelFormatConvert(bmp, pf8bit, rmHistogram);
    const auto& b = s->Bytes();
    ASSERT_EQ(b.size(), 14u + 40 + 1024 + 2 * 4);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(GetU32LE(&b[2]), b.size());
    EXPECT_EQ(GetU32LE(&b[10]), 14u + 40 + 1024);
    const TBitmapInfoHeader h = ReadBitmapInfoHeader(&b[14]);
    EXPECT_EQ(h.biWidth, 3);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biBitCount, 8);
    // Red (3 pixels) first, blue (2), green (1); rows bottom-up.
    EXPECT_EQ(b[54 + 2], 255);
    EXPECT_EQ(b[58 + 0], 255);
    EXPECT_EQ(b[62 + 1], 255);
    const uint8_t* rows = &b[14 + 40 + 1024];
    EXPECT_EQ((std::vector<uint8_t>(rows, rows + 3)), (std::vector<uint8_t>{2, 0, 1})); // bottom row
    EXPECT_EQ((std::vector<uint8_t>(rows + 4, rows + 7)), (std::vector<uint8_t>{0, 0, 1}));

    // Grey still converts when the bitmap already has the asked format.
    TBitmap eight;
    eight.SetPixelFormat(pf8bit);
    eight.SetPaletteEntries(std::vector<TPaletteEntry>(256, TPaletteEntry{255, 0, 0, 0}));
    eight.SetSize(1, 1);
    auto g = PixelFormatConvert(eight, pf8bit, rmGray);
    EXPECT_EQ(g->Bytes()[14 + 40 + 1024], 76);

    TBitmap empty;
    try {
        PixelFormatConvert(empty, pf8bit, rmHistogram);
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "Bitmap image is not valid");
    }
    EXPECT_THROW(PixelFormatConvert(bmp, pf16bit, rmHistogram), EAbort);
}
