#include "imaging/Quantizer.h"
#include "imaging/ImagingProc.h"
#include "imaging/NeurQuant.h"
#include "imaging/stdquant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace kv;

namespace {

const TRGB Red = CreateRGB(255, 0, 0), Green = CreateRGB(0, 255, 0), Blue = CreateRGB(0, 0, 255),
           White = CreateRGB(255, 255, 255), Black = CreateRGB(0, 0, 0), Yellow = CreateRGB(255, 255, 0);

// A 24-bit bitmap Width wide whose pixels, row by row from the top, are Pixels.
class TColourBitmap : public TBitmap {
public:
    TColourBitmap(int32_t Width, const std::vector<TRGB>& Pixels)
    {
        SetPixelFormat(pf24bit);
        SetSize(Width, int32_t(Pixels.size()) / Width);
        for (size_t i = 0; i < Pixels.size(); ++i) {
            uint8_t* p = ScanLine(int32_t(i) / Width) + 3 * (int32_t(i) % Width);
            p[0] = Pixels[i].b;
            p[1] = Pixels[i].g;
            p[2] = Pixels[i].r;
        }
    }
    TColourBitmap(int32_t Width, int32_t Height, TRGB C)
        : TColourBitmap(Width, std::vector<TRGB>(size_t(Width) * size_t(Height), C))
    {
    }
};

// Red, green, blue and white, four pixels each.
const std::vector<TRGB> FourColours = {Red, Green, Blue, White, Red, Green, Blue, White,
                                       Red, Green, Blue, White, Red, Green, Blue, White};

const TRGB Sentinel{7, 7, 7};

} // namespace

TEST(Quantizer, OneColourMakesOneBoxRoundedDownAndLeavesTheRestOfTheTable)
{
    TColourBitmap pic(4, 4, CreateRGB(100, 150, 200));
    std::array<TRGB, 16> map;
    map.fill(Sentinel);
    TIEQuantizer q(pic, map, 16, -1);
    EXPECT_EQ(q.Method(), qmBox);
    EXPECT_EQ(map[0], (TRGB{200, 144, 96}));
    for (size_t i = 1; i < map.size(); ++i)
        EXPECT_EQ(map[i], Sentinel) << i;
    // Box 0 never shrank: every cell is its own.
    for (TRGB c : {CreateRGB(100, 150, 200), Black, White, Red, CreateRGB(1, 2, 3)})
        EXPECT_EQ(q.QuantizerColorIndex(c), 0);
}

TEST(Quantizer, FourColoursSplitOnRedThenGreen)
{
    TColourBitmap pic(4, FourColours);
    TQuantSource src(pic);
    std::array<TRGB, 4> map{};
    TStdQuant box(src, map, 4);
    ASSERT_EQ(box.BoxCount(), 4);
    // Box 0 after all splits: blue alone, shrunk to its cell.
    EXPECT_EQ(box.Box(0).Lo[0], 0u);
    EXPECT_EQ(box.Box(0).Hi[0], 1u);
    EXPECT_EQ(box.Box(0).Lo[2], 31u);
    EXPECT_EQ(map[0], CreateRGB(0, 0, 248));
    EXPECT_EQ(map[1], CreateRGB(248, 0, 0));
    EXPECT_EQ(map[2], CreateRGB(0, 248, 0));
    EXPECT_EQ(map[3], CreateRGB(248, 248, 248));

    std::array<TRGB, 4> viaObject{};
    TIEQuantizer q(pic, viaObject, 4, -1);
    EXPECT_EQ(viaObject, map);
    const std::pair<TRGB, int32_t> lookups[] = {{Blue, 0},
                                                {Red, 1},
                                                {Green, 2},
                                                {White, 3},
                                                {CreateRGB(250, 3, 1), 1},      // same cell as red
                                                {CreateRGB(128, 128, 128), 0}}; // in no box
    for (const auto& [c, index] : lookups)
        EXPECT_EQ(q.QuantizerColorIndex(c), index) << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

TEST(Quantizer, FirstSplitAndHalfLevelMeansRoundToEven)
{
    // After one split on red at level 8: {green, blue} and {red, white}, each with a
    // mean of 15.5 on green and blue, which rounds to 16.
    TColourBitmap pic(4, FourColours);
    std::array<TRGB, 2> map{};
    TIEQuantizer q(pic, map, 2, -1);
    EXPECT_EQ(map[0], CreateRGB(0, 128, 128));
    EXPECT_EQ(map[1], CreateRGB(248, 128, 128));

    // Red levels 2, 10, 20, 31 (mean 15.75): the cut is tried from level 8 to 24 and
    // the between-halves measure peaks at level 20 (3 x 8.25^2 against 13.25^2 at 10).
    std::vector<TRGB> reds;
    for (uint8_t r : {16, 80, 160, 248})
        reds.insert(reds.end(), 4, CreateRGB(r, 0, 0));
    TColourBitmap ramp(4, reds);
    std::array<TRGB, 2> cut{};
    TIEQuantizer qr(ramp, cut, 2, -1);
    EXPECT_EQ(cut[0], CreateRGB(88, 0, 0)); // mean of 2, 10, 20 is 10.67
    EXPECT_EQ(cut[1], CreateRGB(248, 0, 0));

    // Levels 0 and 29 of grey: the one-box mean 14.5 rounds down to 14.
    TColourBitmap grey(2, {Black, CreateRGB(232, 232, 232)});
    std::array<TRGB, 1> one{};
    TIEQuantizer q1(grey, one, 1, -1);
    EXPECT_EQ(one[0], CreateRGB(112, 112, 112));

    // Black and white in two colours: white comes out 248.
    TColourBitmap bw(2, {Black, White});
    std::array<TRGB, 2> two{};
    TIEQuantizer q2(bw, two, 2, -1);
    EXPECT_EQ(two[0], Black);
    EXPECT_EQ(two[1], CreateRGB(248, 248, 248));
}

TEST(Quantizer, ColourCountAndQualityAreHeldToTheTable)
{
    TColourBitmap pic(4, FourColours);
    struct Case {
        int32_t NCol;
        size_t Table;
        int32_t Method;
    } cases[] = {
        {127, 256, qmBox},         {128, 256, qmNeuralNet}, {0, 256, qmBox},  {-5, 256, qmBox},
        {65536, 256, qmNeuralNet}, {200, 100, qmBox},       {200, 0, qmNone},
    };
    for (const Case& c : cases) {
        std::vector<TRGB> guard(300, Sentinel); // a table that is a prefix of a larger block
        std::span<TRGB> table(guard.data(), c.Table);
        TIEQuantizer q(pic, table, c.NCol, -1);
        EXPECT_EQ(q.Method(), c.Method) << c.NCol;
        for (size_t i = c.Table; i < guard.size(); ++i)
            ASSERT_EQ(guard[i], Sentinel) << "wrote past the table at " << i << " for NCol " << c.NCol;
        if (c.Method == qmNone) {
            EXPECT_EQ(q.QuantizerColorIndex(Red), 0);
        }
    }
    // Quality past 100 would make a sampling factor of 0; it is held to 100.
    std::array<TRGB, 256> map{};
    for (int32_t quality : {105, 1000, -7})
        EXPECT_NO_THROW(TIEQuantizer q(pic, map, 256, quality));
}

TEST(Quantizer, SampleFactorFromSizeOrQuality)
{
    struct Case {
        int64_t Pixels;
        int32_t Quality;
        int32_t Expected;
    } cases[] = {
        {1600, -1, 1},      {1999, -1, 1},  {2000, -1, 2},  {150000, -1, 15}, {76000, -1, 8}, // 8.5 rounds to even
        {12000000, -1, 30}, {0, -1, 1},     {5000, 100, 1}, {5000, 0, 30},    {5000, 50, 15},
        {5000, 90, 3},      {5000, 104, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TNeuQuant::SampleFactor(c.Pixels, c.Quality), c.Expected) << c.Pixels << " q" << c.Quality;
}

TEST(Quantizer, SmallPicturesLearnFromEveryPixelWithoutReadingPastThem)
{
    // 20 x 20 is smaller than the sampling step: positions wrap within the picture.
    for (int32_t side : {1, 20, 40}) {
        TColourBitmap pic(side, side, CreateRGB(10, 200, 90));
        std::array<TRGB, 128> map{};
        TNeuQuant net(TQuantSource(pic), map, 128, -1);
        EXPECT_EQ(net.SampleFac(), 1);
        EXPECT_EQ(net.SamplesLearnt(), side * side);
        // The winner of the first sample jumps onto the colour and stays there.
        const TRGB found = map[size_t(net.ColorIndex(CreateRGB(10, 200, 90)))];
        EXPECT_EQ(found, CreateRGB(10, 200, 90)) << side;
    }
}

TEST(Quantizer, UntrainedNetIsAGreyRampAndSearchKeepsTheFirstMet)
{
    // No 24-bit pixels: the net keeps its initial ramp, neuron i = (2i, 2i, 2i) of 128.
    TBitmap empty;
    empty.SetPixelFormat(pf8bit);
    empty.SetSize(4, 4);
    std::array<TRGB, 128> map{};
    TNeuQuant net(TQuantSource(empty), map, 128, -1);
    EXPECT_EQ(net.SamplesLearnt(), 0);
    for (int32_t i = 0; i < 128; ++i)
        ASSERT_EQ(map[size_t(i)], CreateRGB(uint8_t(2 * i), uint8_t(2 * i), uint8_t(2 * i)));
    EXPECT_EQ(net.Search(100, 100, 100), 50);
    // (1,1,1) is 3 from neurons 0 and 1: the upward walk meets neuron 1 first.
    EXPECT_EQ(net.Search(1, 1, 1), 1);
    EXPECT_EQ(net.Search(255, 255, 255), 127);

    TIEQuantizer q(empty, map, 128, -1);
    EXPECT_EQ(q.QuantizerColorIndex(CreateRGB(1, 1, 1)), 1);
}

TEST(Quantizer, ContestFavoursTheLowerIndexThenHandicapsTheWinner)
{
    TBitmap empty;
    std::array<TRGB, 128> map{};
    TNeuQuant net(TQuantSource(empty), map, 128, -1);
    EXPECT_EQ(net.Freq(0), 512);
    // Neurons 0 (0,0,0) and 1 (2,2,2) are both 3 from (1,1,1).
    EXPECT_EQ(net.Contest(1, 1, 1), 0);
    EXPECT_EQ(net.Freq(0), 576);
    EXPECT_EQ(net.Bias(0), -65536);
    // Neuron 0 still wins on distance, but its bias (-65536 shr 12 = -16) hands the
    // learning to neuron 1.
    EXPECT_EQ(net.Contest(1, 1, 1), 1);
    EXPECT_EQ(net.Freq(0), 640);
    EXPECT_EQ(net.Bias(0), -131072);
    EXPECT_EQ(net.Bias(1), 0);
}

TEST(Quantizer, NeighboursMoveByTruncatedFractions)
{
    TBitmap empty;
    std::array<TRGB, 128> map{};
    TNeuQuant net(TQuantSource(empty), map, 128, -1);
    // RadPower[1] = (256 - 1) x 1024 = 261120; neurons 9 and 11 hold 18 and 22.
    net.AlterNeigh(2, 10, 255, 255, 255);
    EXPECT_EQ(net.Neuron(9).G, 254);  // 18 + 236 (236.07 truncated)
    EXPECT_EQ(net.Neuron(11).G, 254); // 22 + 232
    EXPECT_EQ(net.Neuron(10).G, 20);
    EXPECT_EQ(net.Neuron(8).G, 16);
    EXPECT_EQ(net.Neuron(12).G, 24);
    net.AlterNeigh(2, 10, 0, 0, 0);
    EXPECT_EQ(net.Neuron(9).R, 1);
    net.AlterSingle(1000, 20, 255, 255, 255);
    EXPECT_EQ(net.Neuron(20).B, 249); // 40 + 209.96 truncated to 209
}

TEST(Quantizer, NetPaletteStandsForEachColourOfThePicture)
{
    std::vector<TRGB> px;
    const TRGB colours[] = {Red, Green, Blue, White, Black, CreateRGB(120, 60, 30)};
    for (int i = 0; i < 60 * 60; ++i)
        px.push_back(colours[(i / 7) % 6]);
    TColourBitmap pic(60, px);
    std::array<TRGB, 256> map{};
    TIEQuantizer q(pic, map, 256, -1);
    ASSERT_EQ(q.Method(), qmNeuralNet);
    for (TRGB c : colours) {
        const int32_t i = q.QuantizerColorIndex(c);
        ASSERT_GE(i, 0);
        ASSERT_LT(i, 256);
        const TRGB m = map[size_t(i)];
        EXPECT_LE(std::abs(m.r - c.r) + std::abs(m.g - c.g) + std::abs(m.b - c.b), 6)
            << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
}

TEST(Quantizer, BitmapKindsGiveTheSamePalette)
{
    TColourBitmap pic(4, FourColours);
    TIEBitmap ie;
    ie.SetLocation(ieLocationMemory);
    ie.CopyFromTBitmap(&pic);
    ASSERT_EQ(ie.PixelFormat(), ie24RGB);
    std::array<TRGB, 4> a{}, b{};
    TIEQuantizer qa(pic, a, 4, -1);
    TIEQuantizer qb(ie, b, 4, -1);
    EXPECT_EQ(a, b);
    EXPECT_EQ(qb.QuantizerColorIndex(Green), 2);
}

TEST(Quantizer, RandomPicturesGiveIndexesWithinTheBuiltPalette)
{
    std::mt19937 rng(5);
    for (int32_t ncol : {2, 16, 127, 128, 256}) {
        std::vector<TRGB> px(size_t(37 * 23));
        for (TRGB& c : px)
            c = TRGB{uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
        TColourBitmap pic(37, px);
        TQuantSource src(pic);
        std::vector<TRGB> map(static_cast<size_t>(ncol));
        if (ncol < 128) {
            TStdQuant box(src, map, ncol);
            EXPECT_EQ(box.BoxCount(), ncol);
            for (TRGB c : px)
                ASSERT_LT(box.ColorIndex(c), box.BoxCount());
        } else {
            TNeuQuant net(src, map, ncol, -1);
            for (TRGB c : px)
                ASSERT_LT(net.ColorIndex(c), ncol);
        }
    }
}

TEST(Quantizer, RowConverterTakesTheLookup)
{
    TColourBitmap pic(4, FourColours);
    std::array<TRGB, 4> map{};
    TIEQuantizer q(pic, map, 4, -1);
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_EQ(ConvertRowBits(pic.ScanLine(0), out, 24, 4, 0, nullptr, 8, q.ColorIndexFunc()), 4);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{1, 2, 0, 3}));
}

// ---- Reduction helpers --------------------------------------------------------------

TEST(ReduceTo1Bit, TwoColoursPutTheDarkerAtBitZero)
{
    // Luma 54 for red against 235 for yellow, whichever comes first.
    for (bool yellowFirst : {false, true}) {
        const TRGB a = yellowFirst ? Yellow : Red, b = yellowFirst ? Red : Yellow;
        TColourBitmap pic(10, {a, b, b, a, a, a, a, a, a, b, b, b, b, b, b, b, b, b, b, a});
        TRGB c0, c1;
        auto bits = TryConvertTwoColorsTo1Bit(pic, c0, c1);
        ASSERT_TRUE(bits);
        EXPECT_EQ(bits->PixelFormat(), pf1bit);
        EXPECT_EQ(c0, Red);
        EXPECT_EQ(c1, Yellow);
        // Row 0: bits set where yellow stands.
        const uint8_t* r0 = bits->ScanLine(0);
        const uint8_t* r1 = bits->ScanLine(1);
        for (int32_t x = 0; x < 10; ++x) {
            EXPECT_EQ(GetBit(r0, x), pic.ScanLine(0)[3 * x + 1] == 255) << x;
            EXPECT_EQ(GetBit(r1, x), pic.ScanLine(1)[3 * x + 1] == 255) << x;
        }
        EXPECT_EQ(bits->PaletteEntries()[0].peRed, 255);
        EXPECT_EQ(bits->PaletteEntries()[1].peGreen, 255);
    }
}

TEST(ReduceTo1Bit, OtherPicturesGiveNothing)
{
    TRGB c0, c1;
    EXPECT_FALSE(TryConvertTwoColorsTo1Bit(TColourBitmap(3, 3, Red), c0, c1));
    EXPECT_FALSE(TryConvertTwoColorsTo1Bit(TColourBitmap(3, {Red, Green, Red, Blue, Red, Red}), c0, c1));
    TColourBitmap eight(2, {Red, Green});
    eight.SetPixelFormat(pf8bit);
    EXPECT_FALSE(TryConvertTwoColorsTo1Bit(eight, c0, c1));
    EXPECT_FALSE(TryConvertTwoColorsTo1Bit(TBitmap(), c0, c1));
}

TEST(ReduceTo1Bit, DitherCountsAndOrientation)
{
    struct Case {
        TRGB Colour;
        int32_t WhitePerBlock;
    } cases[] = {
        {CreateRGB(128, 128, 128), 31}, // (12672 div 100) shr 2 = 31
        {White, 64},                    // 63 gives white: no stray dot
        {Black, 0},
        {CreateRGB(5, 5, 5), 1}, // level 1: only the matrix's 0
    };
    for (const Case& c : cases) {
        TColourBitmap pic(16, 16, c.Colour);
        TProgressRec progress;
        DitherTo1Bit(pic, progress);
        ASSERT_EQ(pic.PixelFormat(), pf1bit);
        ASSERT_EQ(pic.Width(), 16);
        for (int32_t by = 0; by < 2; ++by)
            for (int32_t bx = 0; bx < 2; ++bx) {
                int32_t white = 0;
                for (int32_t y = 0; y < 8; ++y)
                    for (int32_t x = 0; x < 8; ++x)
                        white += GetBit(pic.ScanLine(8 * by + y), 8 * bx + x);
                EXPECT_EQ(white, c.WhitePerBlock) << int(c.Colour.r);
            }
    }
    // Level 33 against the matrix read as [x mod 8][y mod 8]: (0,1) meets 32 and is
    // white, (1,0) meets 48 and is black.
    TColourBitmap pic(8, 8, CreateRGB(134, 134, 134));
    std::vector<int32_t> seen;
    TProgressRec progress;
    progress.OnProgress = [&](TObject*, int32_t per) { seen.push_back(per); };
    DitherTo1Bit(pic, progress);
    EXPECT_TRUE(GetBit(pic.ScanLine(1), 0));
    EXPECT_FALSE(GetBit(pic.ScanLine(0), 1));
    EXPECT_EQ(seen, (std::vector<int32_t>{11, 23, 35, 47, 58, 70, 82, 94}));
}

TEST(ReduceTo1Bit, DitherLeavesOtherFormatsAlone)
{
    TColourBitmap pic(4, 4, White);
    pic.SetPixelFormat(pf8bit);
    TProgressRec progress;
    DitherTo1Bit(pic, progress);
    EXPECT_EQ(pic.PixelFormat(), pf8bit);
}

TEST(PaletteHelpers, NearestIndexAndSwap)
{
    const TRGB pal[] = {CreateRGB(10, 10, 10), CreateRGB(30, 10, 10), CreateRGB(10, 30, 10), CreateRGB(20, 10, 10)};
    struct Case {
        int32_t Count;
        TRGB Colour;
        int32_t Expected;
    } cases[] = {
        {4, CreateRGB(20, 10, 10), 3}, {3, CreateRGB(20, 20, 10), 0}, // 20 from each of the three: the first wins
        {4, CreateRGB(10, 20, 10), 0}, {0, CreateRGB(30, 10, 10), 0}, {2, CreateRGB(30, 10, 10), 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NearestPaletteIndex(pal, c.Count, c.Colour), c.Expected) << int(c.Colour.r) << "," << int(c.Colour.g);
    EXPECT_EQ(NearestPaletteIndex(nullptr, 4, Red), 0);

    TRGB swapped[] = {CreateRGB(1, 2, 3), CreateRGB(4, 5, 6)};
    SwapPaletteRB(swapped, 2);
    EXPECT_EQ(swapped[0], CreateRGB(3, 2, 1));
    EXPECT_EQ(swapped[1], CreateRGB(6, 5, 4));
}

// Seeded gradient-plus-noise pictures of a few hundred thousand pixels, large enough for the
// net's learning schedule and the box error term to matter. Their palettes in
// tests/data/quantize/palettes.txt were worked out independently by
// `python3 palettes.py > palettes.txt` in that folder, which builds the same pictures.
TEST(Quantizer, WholePicturePalettesMatchTheIndependentReckoning)
{
    std::ifstream in(std::string(KV_TEST_DATA) + "/quantize/palettes.txt");
    ASSERT_TRUE(in);
    std::string word;
    int32_t w = 0, h = 0, n = 0;
    uint32_t seed = 0;
    std::string kind;
    int32_t cases = 0;
    while (in >> word >> w >> h >> seed >> kind >> n >> n) {
        ASSERT_EQ(word, "picture");
        std::vector<TRGB> px;
        uint32_t s = seed;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                s = s * 1103515245u + 12345u;
                const int32_t r = int32_t(s >> 16);
                px.push_back(
                    CreateRGB(uint8_t(std::clamp(x * 255 / (w - 1) + (r & 31) - 16, 0, 255)),
                              uint8_t(std::clamp(y * 255 / (h - 1) + ((r >> 5) & 31) - 16, 0, 255)),
                              uint8_t(std::clamp((x + y) * 255 / (w + h - 2) + ((r >> 10) & 31) - 16, 0, 255))));
            }
        const TColourBitmap pic(w, px);
        std::vector<TRGB> map(size_t(n), Sentinel);
        const TIEQuantizer q(pic, map, n, -1);
        EXPECT_EQ(q.Method(), kind == "net" ? qmNeuralNet : qmBox);
        for (int32_t i = 0; i < n; ++i) {
            int b = 0, g = 0, r = 0;
            in >> b >> g >> r;
            EXPECT_EQ(map[size_t(i)], (TRGB{uint8_t(b), uint8_t(g), uint8_t(r)})) << kind << ' ' << w << ' ' << i;
        }
        ++cases;
    }
    EXPECT_EQ(cases, 4);
}
