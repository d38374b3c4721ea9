// The 24-bit effects, pixel by pixel on small pictures, with values worked out by hand
// from their integer arithmetic, and the vector row kernels against the plain ones.
#include "fx/qelFX.h"
#include "fx/EffectRandom.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace kv {
namespace {

using TRgb = std::array<int, 3>; // red, green, blue

// A 24-bit picture whose pixel (x, y) is Fill(x, y).
std::unique_ptr<TBitmap> Picture(int32_t W, int32_t H, const std::function<TRgb(int, int)>& Fill)
{
    auto Made = std::make_unique<TBitmap>();
    TBitmap& B = *Made;
    B.SetPixelFormat(pf24bit);
    B.SetSize(W, H);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X) {
            const TRgb C = Fill(X, Y);
            uint8_t* P = B.ScanLine(Y) + 3 * X;
            P[0] = uint8_t(C[2]);
            P[1] = uint8_t(C[1]);
            P[2] = uint8_t(C[0]);
        }
    return Made;
}

std::unique_ptr<TBitmap> Grey(int32_t W, int32_t H, const std::function<int(int, int)>& Value)
{
    return Picture(W, H, [&](int X, int Y) {
        const int V = Value(X, Y);
        return TRgb{V, V, V};
    });
}

TRgb At(TBitmap& B, int X, int Y)
{
    const uint8_t* P = B.ScanLine(Y) + 3 * X;
    return {P[2], P[1], P[0]};
}

int GreyAt(TBitmap& B, int X, int Y) { return At(B, X, Y)[0]; }

std::vector<uint8_t> Bytes(TBitmap& B)
{
    std::vector<uint8_t> V;
    for (int Y = 0; Y < B.Height(); ++Y)
        V.insert(V.end(), B.ScanLine(Y), B.ScanLine(Y) + 3 * B.Width());
    return V;
}

TEST(Effects, PosterizeRoundsHalvesToEvenAndLimits)
{
    const std::pair<int, int> Level100[] = {{255, 255}, {250, 200}, {150, 200}, {149, 100},
                                            {100, 100}, {75, 100},  {50, 0},    {0, 0}};
    for (auto [In, Out] : Level100) {
        auto SrcMade = Grey(1, 1, [&](int, int) { return In; });
        TBitmap& Src = *SrcMade;
        TBitmap Dst;
        Posterize(Src, Dst, 100);
        ASSERT_EQ(Dst.Width(), 1);
        EXPECT_EQ(GreyAt(Dst, 0, 0), Out) << In;
    }
    auto RampMade = Grey(256, 2, [](int X, int) { return X; });
    TBitmap& Ramp = *RampMade;
    for (int Level : {1, 0, -3}) {
        TBitmap Dst;
        Posterize(Ramp, Dst, Level);
        EXPECT_EQ(Bytes(Dst), Bytes(Ramp)) << Level;
    }
}

TEST(Effects, MosaicBlocksTakeTheTopLeftPixel)
{
    const std::pair<int, int> Widths[] = {{50, 0}, {150, 2}, {250, 2}, {350, 4}};
    for (auto [W, Size] : Widths)
        EXPECT_EQ(RoundDiv(W, 100), Size) << W;
    auto RampMade = Grey(250, 5, [](int X, int Y) { return (X + 7 * Y) % 256; });
    TBitmap& Ramp = *RampMade;
    Mosaic(Ramp, RoundDiv(250, 100));
    for (int Y = 0; Y < 5; ++Y) {
        const int Top = Y - Y % 2;
        EXPECT_EQ(GreyAt(Ramp, 1, Y), 7 * Top);
        EXPECT_EQ(GreyAt(Ramp, 2, Y), 2 + 7 * Top);
        EXPECT_EQ(GreyAt(Ramp, 249, Y), (248 + 7 * Top) % 256);
    }
    auto SmallMade = Grey(3, 3, [](int X, int Y) { return X + 3 * Y; });
    TBitmap& Small = *SmallMade;
    const auto Before = Bytes(Small);
    for (int Size : {0, 1, -5}) {
        Mosaic(Small, Size);
        EXPECT_EQ(Bytes(Small), Before);
    }
    Mosaic(Small, 0x7FFFFFFF); // one block over everything
    EXPECT_EQ(Bytes(Small), std::vector<uint8_t>(27, 0));
    // Taller than wide: blocks of 7 (capped by the height, not the width) tile the columns
    // and the rows alike.
    auto TallMade = Grey(3, 9, [](int X, int Y) { return X + 3 * Y; });
    TBitmap& Tall = *TallMade;
    Mosaic(Tall, 7);
    for (int Y = 0; Y < 9; ++Y)
        for (int X = 0; X < 3; ++X)
            EXPECT_EQ(GreyAt(Tall, X, Y), Y < 7 ? 0 : 21) << X << "," << Y;
}

TEST(Effects, WaveShiftsColumnsByTheCurveOfThePreviousColumn)
{
    auto BMade = Grey(20, 40, [](int, int Y) { return 5 * Y; });
    TBitmap& B = *BMade;
    Wave(B, 10, 1, wmLow);
    const int Shift[] = {0, 0, 2, 3, 5, 6, 7, 8, 9, 10, 10, 10};
    for (int X = 0; X < 20; ++X)
        for (int Y = 0; Y < 20; ++Y)
            ASSERT_EQ(GreyAt(B, X, Y), 5 * Y) << X << "," << Y;
    for (int X = 0; X < 12; ++X)
        EXPECT_EQ(GreyAt(B, X, 19 + 10 + Shift[X]), 5 * 19) << X;
    for (int Y = 20; Y < 30; ++Y) {
        EXPECT_EQ(GreyAt(B, 0, Y), 5 * (Y - 10));
        EXPECT_EQ(GreyAt(B, 0, Y + 10), 5 * (Y + 10)); // column 0's lowest rows are not written
        EXPECT_EQ(GreyAt(B, 11, Y + 10), 5 * (Y - 10));
    }
    for (int Mode : {int(wmLow), int(wmMedium), int(wmHigh), 7}) {
        auto ShortMade = Grey(20, 30, [](int X, int Y) { return X + 5 * Y; });
        TBitmap& Short = *ShortMade;
        const auto Before = Bytes(Short);
        Wave(Short, 10, 3, Mode);
        EXPECT_EQ(Bytes(Short), Before) << Mode;
    }
    // An unknown mode keeps every shift 0: each column just moves down by A.
    auto FlatMade = Grey(5, 40, [](int, int Y) { return Y; });
    TBitmap& Flat = *FlatMade;
    Wave(Flat, 10, 1, 7);
    for (int X = 0; X < 5; ++X) {
        EXPECT_EQ(GreyAt(Flat, X, 29), 19);
        EXPECT_EQ(GreyAt(Flat, X, 39), 39);
    }
    for (int A : {0, -4}) {
        auto AnyMade = Grey(5, 40, [](int, int Y) { return Y; });
        TBitmap& Any = *AnyMade;
        Wave(Any, A, 1, wmLow);
        EXPECT_EQ(GreyAt(Any, 0, 39), 39);
    }
}

TEST(Effects, RippleToothMovesColumnsDownByTheirTooth)
{
    auto Source = [](int X, int Y) { return TRgb{7, X, Y}; };
    auto BMade = Picture(70, 40, Source);
    TBitmap& B = *BMade;
    RippleTooth(B, RoundDiv(70, 7));
    for (int Y = 0; Y < 40; ++Y) {
        const int Expected = Y >= 5 && Y < 35 ? Y - 5 : Y;
        EXPECT_EQ(At(B, 5, Y), (TRgb{7, 5, Expected})) << Y;
        EXPECT_EQ(At(B, 0, Y), Source(0, Y));
        EXPECT_EQ(At(B, 11, Y), Source(11, Y));
    }
    // Narrow and tall: the tooth is capped by half the height (20), not half the width.
    auto NarrowMade = Picture(10, 40, Source);
    TBitmap& Narrow = *NarrowMade;
    RippleTooth(Narrow, 30);
    for (int Y = 0; Y < 40; ++Y)
        for (int X : {5, 9})
            EXPECT_EQ(At(Narrow, X, Y)[2], Y >= X && Y < X + 20 ? Y - X : Y) << X << "," << Y;
    auto TwoMade = Picture(9, 2, Source);
    TBitmap& Two = *TwoMade;
    RippleTooth(Two, 5);
    for (int X = 0; X < 9; ++X)
        EXPECT_EQ(At(Two, X, 1)[2], X % 2 ? 0 : 1) << X;
    TBitmap None;
    RippleTooth(None, 10); // no rows: nothing to do
    EXPECT_EQ(None.Height(), 0);
}

TEST(Effects, EmbossInvertSprayAndColorizeWorkedValues)
{
    auto FlatMade = Grey(8, 5, [](int, int) { return 90; });
    TBitmap& Flat = *FlatMade;
    Emboss(Flat);
    for (int Y = 0; Y < 5; ++Y)
        for (int X = 0; X < 8; ++X)
            EXPECT_EQ(GreyAt(Flat, X, Y), X < 5 && Y < 4 ? 127 : 90) << X << "," << Y;
    // c(x, y) reads the pixel three columns right and one row down.
    auto StepMade = Grey(4, 2, [](int X, int Y) { return Y == 1 && X == 3 ? 200 : 100; });
    TBitmap& Step = *StepMade;
    Emboss(Step);
    EXPECT_EQ(GreyAt(Step, 0, 0), (255 - 200 + 100) >> 1);

    auto ColoursMade = Picture(3, 2, [](int X, int Y) { return TRgb{10 * X, 100 + Y, 255}; });
    TBitmap& Colours = *ColoursMade;
    InvertBitmap(Colours);
    EXPECT_EQ(At(Colours, 2, 1), (TRgb{235, 154, 0}));

    auto SpreadMade = Grey(6, 6, [](int X, int Y) { return X * 6 + Y; });
    TBitmap& Spread = *SpreadMade;
    const auto Before = Bytes(Spread);
    RandSeed(11);
    Spray(Spread, 1);
    EXPECT_EQ(Bytes(Spread), Before);

    auto MidMade = Grey(2, 1, [](int X, int) { return X ? 255 : 128; });
    TBitmap& Mid = *MidMade;
    ColorizeBitmap(Mid, TColor(0x77BFC8));
    EXPECT_EQ(At(Mid, 0, 0), (TRgb{100, 96, 60}));
    EXPECT_EQ(At(Mid, 1, 0), (TRgb{200, 191, 119}));
}

TEST(Effects, SprayReplaysFromTheSeed)
{
    auto Run = [](uint32_t Seed) {
        auto BMade = Grey(30, 20, [](int X, int Y) { return X + 30 * Y < 256 ? X + 30 * Y : 0; });
        TBitmap& B = *BMade;
        RandSeed(Seed);
        Spray(B, 4);
        return Bytes(B);
    };
    EXPECT_EQ(Run(5), Run(5));
    EXPECT_NE(Run(5), Run(6));
    // The pixel (x, y) takes, in place, the one at (x + r - Random(2r), y + r - Random(2r)),
    // r = Random(amount), columns outermost; replayed here from the same generator.
    constexpr int W = 7, H = 5;
    auto Value = [](int X, int Y) { return 10 + X + W * Y; };
    auto SprayedMade = Grey(W, H, Value);
    TBitmap& Sprayed = *SprayedMade;
    RandSeed(9);
    Spray(Sprayed, 3);
    std::vector<int> Want(W * H);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X)
            Want[size_t(X + W * Y)] = Value(X, Y);
    RandSeed(9);
    for (int X = 0; X < W; ++X)
        for (int Y = 0; Y < H; ++Y) {
            const int R = Random(3);
            const int SX = X + R - Random(2 * R), SY = Y + R - Random(2 * R);
            if (SX >= 0 && SX < W && SY >= 0 && SY < H)
                Want[size_t(X + W * Y)] = Want[size_t(SX + W * SY)];
        }
    int Moved = 0;
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X) {
            EXPECT_EQ(GreyAt(Sprayed, X, Y), Want[size_t(X + W * Y)]) << X << "," << Y;
            Moved += Want[size_t(X + W * Y)] != Value(X, Y);
        }
    EXPECT_GT(Moved, 10);
    auto HugeMade = Grey(4, 4, [](int X, int) { return X; });
    TBitmap& Huge = *HugeMade;
    Spray(Huge, 0x7FFFFFFF); // offsets far outside: nothing taken, nothing overflows
    EXPECT_EQ(GreyAt(Huge, 3, 3), 3);
}

TEST(Effects, NoisesStayInTheirRangesAndClamp)
{
    RandSeed(3);
    auto MonoMade = Grey(40, 40, [](int, int) { return 128; });
    TBitmap& Mono = *MonoMade;
    AddMonoNoise(Mono, 60);
    int Lowest = 255, Highest = 0;
    for (int Y = 0; Y < 40; ++Y)
        for (int X = 0; X < 40; ++X) {
            const TRgb C = At(Mono, X, Y);
            ASSERT_TRUE(C[0] == C[1] && C[1] == C[2]);
            Lowest = std::min(Lowest, C[0]);
            Highest = std::max(Highest, C[0]);
        }
    EXPECT_EQ(Lowest, 98);
    EXPECT_EQ(Highest, 157);

    auto ColourMade = Picture(40, 40, [](int X, int) { return X < 20 ? TRgb{128, 128, 128} : TRgb{0, 128, 255}; });
    TBitmap& Colour = *ColourMade;
    AddColorNoise(Colour, 50);
    int Independent = 0;
    for (int Y = 0; Y < 40; ++Y)
        for (int X = 0; X < 40; ++X) {
            const TRgb C = At(Colour, X, Y);
            ASSERT_TRUE(C[1] >= 103 && C[1] <= 152);
            if (X < 20) {
                ASSERT_TRUE(C[0] >= 103 && C[0] <= 152 && C[2] >= 103 && C[2] <= 152);
                Independent += C[0] != C[1];
            } else {
                ASSERT_LE(C[0], 24);  // clamped at 0
                ASSERT_GE(C[2], 230); // and at 255
            }
        }
    EXPECT_GT(Independent, 0);
}

TEST(Effects, EmptyAndTinyPicturesAreLeftAlone)
{
    for (auto [W, H] : {std::pair{0, 0}, {1, 1}, {3, 1}, {1, 3}}) {
        auto BMade = Grey(W, H, [](int X, int Y) { return 40 + X + Y; });
        TBitmap& B = *BMade;
        const auto Before = Bytes(B);
        Emboss(B);
        Wave(B, 1, 1, wmHigh);
        RippleTooth(B, RoundDiv(W, 7));
        Mosaic(B, 0);
        EXPECT_EQ(Bytes(B), Before) << W << "x" << H;
        Spray(B, 3);
        InvertBitmap(B);
        AddColorNoise(B, 50);
        AddMonoNoise(B, 60);
        ColorizeBitmap(B, clWhite);
        TBitmap Out;
        Posterize(B, Out, 7);
        EXPECT_EQ(Out.Width(), W);
    }
}

TEST(Effects, VectorRowKernelsMatchThePlainOnes)
{
    const TFxRowRoutines& Plain = PlainFxRowRoutines();
    std::mt19937 Gen(2024);
    for (const TFxRowRoutines* Set : {Sse2FxRowRoutines(), Avx2FxRowRoutines()}) {
        if (!Set)
            continue; // not on this processor
        for (int Count : {0, 1, 15, 16, 17, 33, 63, 300, 1021}) {
            std::vector<uint8_t> Row(size_t(Count) + 1), Below(size_t(Count) + 1);
            for (int Round = 0; Round < 20; ++Round) {
                for (size_t I = 0; I < Row.size(); ++I) {
                    Row[I] = uint8_t(Gen());
                    Below[I] = uint8_t(Gen());
                }
                std::vector<uint8_t> A = Row, B = Row;
                Plain.EmbossRow(A.data(), Below.data(), Count);
                Set->EmbossRow(B.data(), Below.data(), Count);
                ASSERT_EQ(A, B) << Count;
                for (int I = 0; I < Count; ++I)
                    ASSERT_EQ(A[size_t(I)], (255 - Below[size_t(I)] + Row[size_t(I)]) / 2);
                Plain.InvertRow(A.data(), Count);
                Set->InvertRow(B.data(), Count);
                ASSERT_EQ(A, B) << Count;
                ASSERT_EQ(A.back(), Row.back()); // nothing past Count
            }
        }
        // Every byte value at every level the gauge offers and beyond, against the formula.
        std::vector<uint8_t> Ramp(256 + 37);
        for (size_t I = 0; I < Ramp.size(); ++I)
            Ramp[I] = uint8_t(I * 7);
        for (int32_t Level = -1; Level <= 300; ++Level) {
            const TPosterizeLevel L(Level);
            std::vector<uint8_t> A(Ramp.size(), 1), B(Ramp.size(), 1);
            Plain.PosterizeRow(Ramp.data(), A.data(), int32_t(Ramp.size()) - 1, L);
            Set->PosterizeRow(Ramp.data(), B.data(), int32_t(Ramp.size()) - 1, L);
            ASSERT_EQ(A, B) << Level;
            ASSERT_EQ(A.back(), 1);
            for (int32_t C = 0; C < 256 && Level >= 1; ++C)
                ASSERT_EQ(L.Table[C], std::min(255, RoundDiv(C, Level) * Level)) << C << "/" << Level;
        }
    }
}

} // namespace
} // namespace kv
