#include "fx/BackFill.h"

#include "raster/Raster32.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kv;

namespace {

struct TBgr {
    int B, G, R;
};

TBgr PixelAt(TBitmap& Bmp, int X, int Y)
{
    const uint8_t* p = Bmp.ScanLine(Y) + 3 * X;
    return {p[0], p[1], p[2]};
}

std::string TempPath(const std::string& Name)
{
    auto dir = std::filesystem::temp_directory_path() / "kv_backfill";
    std::filesystem::create_directories(dir);
    return (dir / Name).string();
}

// A 100 x 100 tile whose every pixel tells its own position.
std::string WriteCoordinateTile(int W, int H, const std::string& Name)
{
    TBitmap32 t;
    t.SetSize(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            t.SetPixelFast(x, y, MakeColor32(x, y, 7));
    std::string path = TempPath(Name);
    t.SaveToFile(path);
    return path;
}

} // namespace

TEST(BackFill, RoundingIsHalfToEven)
{
    EXPECT_EQ(RoundHalfEven(4.5L), 4);
    EXPECT_EQ(RoundHalfEven(7.5L), 8);
    EXPECT_EQ(RoundHalfEven(-127.5L), -128);
    EXPECT_EQ(RoundHalfEven(127.5L), 128);
    EXPECT_EQ(RoundHalfEven(395.55L), 396);
}

TEST(BackFill, GradientBlackToWhiteStopsShortOfWhite)
{
    TBitmap b;
    b.SetSize(256, 3);
    Gradient(clBlack, clWhite, b);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_EQ(PixelAt(b, 0, 0).R, 0);
    EXPECT_EQ(PixelAt(b, 1, 0).G, 1);     // Round(255/256) = 1
    EXPECT_EQ(PixelAt(b, 128, 1).B, 128); // 0 - Round(-127.5) = 128
    EXPECT_EQ(PixelAt(b, 255, 2).R, 254);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 256; x += 17) {
            TBgr p = PixelAt(b, x, y);
            EXPECT_EQ(p.B, p.R);
            EXPECT_EQ(p.G, int(RoundHalfEven(255.0L * x / 256)));
        }
    Gradient(clWhite, clBlack, b);
    EXPECT_EQ(PixelAt(b, 128, 0).G, 127);
    EXPECT_EQ(PixelAt(b, 255, 0).G, 1);
}

TEST(BackFill, GradientRedToBlueKeepsChannelOrder)
{
    TBitmap b;
    b.SetSize(2, 1);
    Gradient(TColor(0x0000FF), TColor(0xFF0000), b);
    TBgr c0 = PixelAt(b, 0, 0), c1 = PixelAt(b, 1, 0);
    EXPECT_EQ(c0.R, 255);
    EXPECT_EQ(c0.G, 0);
    EXPECT_EQ(c0.B, 0);
    EXPECT_EQ(c1.R, 127); // 255 - Round(127.5)
    EXPECT_EQ(c1.G, 0);
    EXPECT_EQ(c1.B, 128); // 0 - Round(-127.5)
}

TEST(BackFill, SolidFillAndGradientDown)
{
    TBitmap b;
    b.SetSize(5, 4);
    Gradient(TColor(0x563412), TColor(0x563412), b);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            TBgr p = PixelAt(b, x, y);
            EXPECT_EQ(p.R, 0x12);
            EXPECT_EQ(p.G, 0x34);
            EXPECT_EQ(p.B, 0x56);
        }
    TBitmap d;
    d.SetSize(3, 256);
    GradientDown(clBlack, clWhite, d);
    EXPECT_EQ(PixelAt(d, 2, 0).R, 0);
    EXPECT_EQ(PixelAt(d, 0, 128).R, 128);
    EXPECT_EQ(PixelAt(d, 1, 255).B, 254);
    // 1 x 100, blue 253 to 0: row 50 = 253 - Round(126.5) = 127, row 99 = 3.
    TBitmap e;
    e.SetSize(1, 100);
    GradientDown(TColor(0xFD0000), clBlack, e);
    EXPECT_EQ(PixelAt(e, 0, 0).B, 253);
    EXPECT_EQ(PixelAt(e, 0, 50).B, 127);
    EXPECT_EQ(PixelAt(e, 0, 99).B, 3);
}

TEST(BackFill, TilePatternPlacesAndCutsTiles)
{
    std::string tile = WriteCoordinateTile(100, 100, "coord100.bmp");
    TBitmap32 d;
    d.SetSize(250, 120);
    d.Clear();
    ASSERT_TRUE(TilePattern(tile, d));
    EXPECT_EQ(d.Width(), 250);
    EXPECT_EQ(d.Height(), 120);
    EXPECT_EQ(d.GetPixelFast(249, 119), MakeColor32(49, 19, 7));
    EXPECT_EQ(d.GetPixelFast(200, 100), MakeColor32(0, 0, 7));
    EXPECT_EQ(d.GetPixelFast(100, 0), MakeColor32(0, 0, 7));
    EXPECT_EQ(d.GetPixelFast(99, 99), MakeColor32(99, 99, 7));
    EXPECT_EQ(d.GetPixelFast(150, 110), MakeColor32(50, 10, 7));

    // Exact multiples: the extra tiles lie wholly outside.
    TBitmap32 e;
    e.SetSize(200, 100);
    ASSERT_TRUE(TilePattern(tile, e));
    EXPECT_EQ(e.GetPixelFast(199, 99), MakeColor32(99, 99, 7));
}

TEST(BackFill, TilePatternCopiesTileAlphaOpaquely)
{
    TBitmap32 t;
    t.SetSize(2, 2);
    t.ClearTo(0x40102030);
    std::string path = TempPath("alpha.bmp");
    t.SaveToFile(path);
    TBitmap32 d;
    d.SetSize(3, 3);
    d.ClearTo(clWhite32);
    ASSERT_TRUE(TilePattern(path, d));
    EXPECT_EQ(d.GetPixelFast(2, 2), TColor32(0x40102030));
}

TEST(BackFill, TilePatternMissingOrEmptyLeavesDest)
{
    TBitmap32 d;
    d.SetSize(4, 4);
    d.ClearTo(0xFF123456);
    EXPECT_FALSE(TilePattern(TempPath("no_such_tile.bmp"), d));
    EXPECT_FALSE(TilePattern("", d));
    EXPECT_EQ(d.GetPixelFast(3, 3), TColor32(0xFF123456));
    // A file that is not a picture raises and the target stays as it was.
    std::string junk = TempPath("junk.bmp");
    {
        TFileStream f(junk, fmCreate);
        f.WriteBuffer("BMxx", 4);
    }
    EXPECT_THROW(TilePattern(junk, d), Exception);
    EXPECT_EQ(d.GetPixelFast(0, 0), TColor32(0xFF123456));
}

TEST(BackFill, CountColors)
{
    TBitmap one;
    one.SetPixelFormat(pf24bit);
    one.SetSize(7, 5);
    Gradient(TColor(0x010203), TColor(0x010203), one);
    EXPECT_EQ(CountColors(one), 1);

    TBitmap ramp;
    ramp.SetPixelFormat(pf24bit);
    ramp.SetSize(256, 1);
    for (int x = 0; x < 256; ++x) {
        uint8_t* p = ramp.ScanLine(0) + 3 * x;
        p[0] = uint8_t(x);
        p[1] = 20;
        p[2] = 10;
    }
    EXPECT_EQ(CountColors(ramp), 256);
    EXPECT_EQ(ColorCountMessage(256), "The number of unique colors used in this image is 256.");

    TBitmap three;
    three.SetPixelFormat(pf24bit);
    three.SetSize(3, 1);
    const uint8_t px[3][3] = {{30, 20, 10}, {31, 20, 10}, {30, 20, 10}};
    for (int x = 0; x < 3; ++x)
        std::copy(px[x], px[x] + 3, three.ScanLine(0) + 3 * x);
    EXPECT_EQ(CountColors(three), 2);

    // A 32-bit bitmap counts its colours without alpha.
    TBitmap rgba;
    rgba.SetPixelFormat(pf32bit);
    rgba.SetSize(2, 1);
    uint8_t* r = rgba.ScanLine(0);
    const uint8_t q[8] = {1, 2, 3, 0, 1, 2, 3, 255};
    std::copy(q, q + 8, r);
    EXPECT_EQ(CountColors(rgba), 1);
    TBitmap empty;
    EXPECT_EQ(CountColors(empty), 0);
}

TEST(BackFill, CountColorsEveryColourOnce)
{
    TBitmap all;
    all.SetPixelFormat(pf24bit);
    all.SetSize(4096, 4096);
    for (int y = 0; y < 4096; ++y) {
        uint8_t* p = all.ScanLine(y);
        for (int x = 0; x < 4096; ++x) {
            uint32_t c = uint32_t(y) * 4096 + uint32_t(x);
            p[3 * x] = uint8_t(c);
            p[3 * x + 1] = uint8_t(c >> 8);
            p[3 * x + 2] = uint8_t(c >> 16);
        }
    }
    EXPECT_EQ(CountColors(all), 16777216);
}

TEST(BackFill, Proportions)
{
    EXPECT_EQ(HeightFromWidth(pr16x9, 2000, 0), 1120);
    EXPECT_EQ(WidthFromHeight(pr16x9, 1200, 0), 2143);
    EXPECT_EQ(HeightFromWidth(prGolden, 640, 0), 396);
    EXPECT_EQ(WidthFromHeight(prGolden, 480, 0), 777);
    EXPECT_EQ(HeightFromWidth(pr9x12, 640, 0), 480);
    EXPECT_EQ(HeightFromWidth(pr9x12, 6, 0), 4);
    EXPECT_EQ(HeightFromWidth(pr9x12, 10, 0), 8);
    EXPECT_EQ(WidthFromHeight(pr9x12, 480, 0), 640);
    EXPECT_EQ(HeightFromWidth(prSquare, 123, 0), 123);
    EXPECT_EQ(HeightFromWidth(prFree, 123, 77), 77);
    EXPECT_EQ(HeightFromWidth(pr10x15, 100, 0), 67);
    EXPECT_EQ(HeightFromWidth(pr15x21, 100, 0), 71);
    EXPECT_EQ(WidthFromHeight(pr15x21, 71, 0), 100);
}
