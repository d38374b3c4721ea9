#include "imaging/Transitions.h"
#include "imaging/TransitionsMix.h"

#include "imaging/IEBitmaps.h"
#include "imaging/IEView.h"
#include "platform/CpuFeatures.h"
#include "platform/Forms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

using namespace kv;

namespace {

using TBgr = std::array<uint8_t, 3>;

// Every pixel tells its picture (Tag) and its place, so a pixel copied from the wrong
// place or picture shows.
void Paint(TBitmap& B, int32_t W, int32_t H, uint8_t Tag)
{
    B.SetPixelFormat(pf24bit);
    B.SetSize(W, H);
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X) {
            uint8_t* P = B.ScanLine(Y) + 3 * X;
            P[0] = uint8_t(X);
            P[1] = uint8_t(Y);
            P[2] = Tag;
        }
}

TBgr At(TBitmap& B, int32_t X, int32_t Y)
{
    const uint8_t* P = B.ScanLine(Y) + 3 * X;
    return {P[0], P[1], P[2]};
}

constexpr uint8_t SourceTag = 1, TargetTag = 2;

struct TScene {
    TBitmap Source, Target, Frame;
    TTransitionState State;
    TScene(int32_t W, int32_t H)
    {
        Paint(Source, W, H, SourceTag);
        Paint(Target, W, H, TargetTag);
        Paint(Frame, W, H, 0);
        State.Source = &Source;
        State.Target = &Target;
        State.Frame = &Frame;
        State.Random.seed(5);
    }
    // The frame's row Y as the tag of each pixel, after checking that every pixel sits
    // where it came from.
    std::string Tags(int32_t Y)
    {
        std::string S;
        for (int32_t X = 0; X < Frame.Width(); ++X) {
            const TBgr P = At(Frame, X, Y);
            S += char('0' + P[2]);
        }
        return S;
    }
    bool FrameIs(TBitmap& B)
    {
        for (int32_t Y = 0; Y < B.Height(); ++Y)
            for (int32_t X = 0; X < B.Width(); ++X)
                if (At(Frame, X, Y) != At(B, X, Y))
                    return false;
        return true;
    }
};

void Uniform(TBitmap& B, int32_t W, int32_t H, uint8_t V)
{
    B.SetPixelFormat(pf24bit);
    B.SetSize(W, H);
    for (int32_t Y = 0; Y < H; ++Y)
        std::fill_n(B.ScanLine(Y), 3 * W, V);
}

} // namespace

// Every effect at every progress on odd sizes stays inside the frame (the sanitizer run
// checks the memory), and those that end on the target reach it exactly at 1024.
TEST(Transitions, EveryEffectStaysInsideAndEndsOnTheTarget)
{
    const std::array<std::pair<int32_t, int32_t>, 4> Sizes{{{1, 1}, {3, 2}, {13, 7}, {17, 9}}};
    for (const auto& [W, H] : Sizes) {
        for (int32_t T = iettCrossDissolve; T < TransitionTypeCount; ++T) {
            TScene S(W, H);
            for (int32_t P : {0, 1, 100, 511, 512, 513, 1000, 1023, 1024})
                ComposeTransitionFrame(TIETransitionType(T), P, S.State);
            const bool EndsOnTarget = T != iettFadeOut && T != iettRightLeft2 && T != iettDownUp2 &&
                                      T != iettRandomPoints && T != iettRandomBoxes;
            if (EndsOnTarget) {
                EXPECT_TRUE(S.FrameIs(S.Target)) << "type " << T << " at " << W << " x " << H;
            }
        }
    }
}

TEST(Transitions, WorkedFrames)
{
    {
        TScene S(2, 1);
        Uniform(S.Source, 2, 1, 0);
        Uniform(S.Target, 2, 1, 255);
        ComposeTransitionFrame(iettCrossDissolve, 512, S.State);
        EXPECT_EQ(At(S.Frame, 1, 0), (TBgr{127, 127, 127}));
    }
    {
        TScene S(2, 1);
        Uniform(S.Source, 2, 1, 200);
        S.State.Background = clBlack;
        ComposeTransitionFrame(iettFadeOut, 256, S.State);
        EXPECT_EQ(At(S.Frame, 0, 0), (TBgr{150, 150, 150}));
        // At half way the fade out and in shows the background alone: blue here, B first.
        S.State.Background = TColor(0xFF0000);
        ComposeTransitionFrame(iettFadeOutIn, 512, S.State);
        EXPECT_EQ(At(S.Frame, 1, 0), (TBgr{255, 0, 0}));
    }
    {
        TScene S(10, 2);
        ComposeTransitionFrame(iettLeftRight1, 0, S.State);
        ComposeTransitionFrame(iettLeftRight1, 512, S.State);
        EXPECT_EQ(S.Tags(1), "2222211111");
        ComposeTransitionFrame(iettLeftRight2, 512, S.State);
        EXPECT_EQ(At(S.Frame, 5, 0), (TBgr{0, 0, 255})); // the red line
    }
    {
        // x0 = 2 and w = 2 would reach column 3 of a 3-wide frame: clipped to column 2.
        TScene S(3, 1);
        ComposeTransitionFrame(iettRightLeft1, 0, S.State);
        ComposeTransitionFrame(iettRightLeft1, 512, S.State);
        EXPECT_EQ(S.Tags(0), "112");
        EXPECT_EQ(At(S.Frame, 2, 0), At(S.Target, 2, 0));
    }
    {
        TScene S(100, 50);
        ComposeTransitionFrame(iettCenter1, 0, S.State);
        ComposeTransitionFrame(iettCenter1, 512, S.State);
        // A 50 x 25 rectangle at (25, 13).
        EXPECT_EQ(S.Tags(13), std::string(25, '1') + std::string(50, '2') + std::string(25, '1'));
        EXPECT_EQ(S.Tags(12), std::string(100, '1'));
        EXPECT_EQ(S.Tags(37), std::string(25, '1') + std::string(50, '2') + std::string(25, '1'));
        EXPECT_EQ(S.Tags(38), std::string(100, '1'));
    }
    {
        // The reverse: the target around a 50 x 25 rectangle of the source, every pixel
        // of a fresh frame written.
        TScene S(100, 50);
        ComposeTransitionFrame(iettCenter2, 512, S.State);
        const std::string Middle = std::string(25, '2') + std::string(50, '1') + std::string(25, '2');
        EXPECT_EQ(S.Tags(0), std::string(100, '2'));
        EXPECT_EQ(S.Tags(13), Middle);
        EXPECT_EQ(S.Tags(37), Middle);
        EXPECT_EQ(S.Tags(38), std::string(100, '2'));
        EXPECT_EQ(S.Tags(49), std::string(100, '2'));
    }
    {
        TScene S(4, 1);
        ComposeTransitionFrame(iettMoveLeftRight1, 256, S.State);
        EXPECT_EQ(At(S.Frame, 0, 0), At(S.Target, 3, 0));
        for (int32_t X = 1; X < 4; ++X)
            EXPECT_EQ(At(S.Frame, X, 0), At(S.Source, X - 1, 0));
    }
    {
        // The zoom at a whole-number ratio: the target halved into the centre.
        TScene S(8, 4);
        ComposeTransitionFrame(iettCenterZoom1, 0, S.State);
        ComposeTransitionFrame(iettCenterZoom1, 512, S.State);
        EXPECT_EQ(S.Tags(1), "11222211");
        EXPECT_EQ(At(S.Frame, 3, 2), At(S.Target, 2, 2));
        EXPECT_EQ(At(S.Frame, 2, 1), At(S.Target, 0, 0));
        EXPECT_EQ(At(S.Frame, 5, 2), At(S.Target, 6, 2)); // the rectangle's last column
        EXPECT_EQ(At(S.Frame, 6, 2), At(S.Source, 6, 2));
    }
    // Wide rows, where the stretch moves pixels eight at a time, then one at a time.
    for (const auto& [W, P] : {std::pair{61, 1000}, std::pair{200, 512}, std::pair{203, 777}}) {
        constexpr int32_t H = 5;
        TScene S(W, H);
        ComposeTransitionFrame(iettCenterZoom2, P, S.State);
        const int32_t Q = 1024 - P, RW = Q * W >> 10, RH = Q * H >> 10;
        const int32_t L = W / 2 - (Q * (W / 2) >> 10), Top = H / 2 - (Q * (H / 2) >> 10);
        for (int32_t Y = 0; Y < H; ++Y)
            for (int32_t X = 0; X < W; ++X) {
                const bool Inside = X >= L && X < L + RW && Y >= Top && Y < Top + RH;
                ASSERT_EQ(At(S.Frame, X, Y),
                          Inside ? At(S.Source, (X - L) * W / RW, (Y - Top) * H / RH) : At(S.Target, X, Y))
                    << W << " wide at " << P << ", pixel " << X << "," << Y;
            }
    }
}

// The fades, sweeps, slides, moves, centred rectangles and zooms at inner progress values
// on a frame wider than tall, against each pixel worked out from the table of effects
// (Round has no ties at these sizes; at 716 a rectangle's width is 6.99 columns and at 769
// the rise from the bottom 1.494 rows, each just short of a step).
TEST(Transitions, EveryOrderedEffectAtInnerProgress)
{
    constexpr int32_t W = 10, H = 6;
    const TBgr Red{0, 0, 255};
    const TColor Background = TColor(0x604020);
    const TBgr Back{0x60, 0x40, 0x20};
    auto Src = [](int32_t X, int32_t Y) { return TBgr{uint8_t(X), uint8_t(Y), SourceTag}; };
    auto Tgt = [](int32_t X, int32_t Y) { return TBgr{uint8_t(X), uint8_t(Y), TargetTag}; };
    // From A towards B by P / 1024, each byte truncated.
    auto MixOf = [](const TBgr& A, const TBgr& B, int32_t P) {
        TBgr M;
        for (size_t C = 0; C < 3; ++C)
            M[C] = uint8_t((B[C] * P + A[C] * (1024 - P)) >> 10);
        return M;
    };
    auto Expected = [&](int32_t T, int32_t P, int32_t X, int32_t Y) -> TBgr {
        const int32_t Q = 1024 - P;
        switch (T) {
        case iettFadeOut: return MixOf(Src(X, Y), Back, P);
        case iettFadeIn: return MixOf(Back, Tgt(X, Y), P);
        case iettFadeOutIn: return P < 512 ? MixOf(Src(X, Y), Back, 2 * P) : MixOf(Back, Tgt(X, Y), 2 * (P - 512));
        case iettCenterZoom1:
        case iettCenterZoom2: {
            // The growing picture stretched into the centred rectangle of its share.
            const int32_t R = T == iettCenterZoom1 ? P : Q;
            const int32_t RW = R * W >> 10, RH = R * H >> 10;
            const int32_t L = W / 2 - (R * (W / 2) >> 10), Top = H / 2 - (R * (H / 2) >> 10);
            const bool Inside = X >= L && X < L + RW && Y >= Top && Y < Top + RH;
            if (!Inside)
                return T == iettCenterZoom1 ? Src(X, Y) : Tgt(X, Y);
            const int32_t SX = (X - L) * W / RW, SY = (Y - Top) * H / RH;
            return T == iettCenterZoom1 ? Tgt(SX, SY) : Src(SX, SY);
        }
        case iettLeftRight1:
        case iettLeftRight2: {
            const int32_t X1 = P * W >> 10;
            return T == iettLeftRight2 && X == X1 ? Red : X < X1 ? Tgt(X, Y) : Src(X, Y);
        }
        case iettRightLeft1:
        case iettRightLeft2: {
            const int32_t X0 = int32_t(std::lround(Q * W / 1024.0)), N = int32_t(std::lround(P * W / 1024.0));
            return T == iettRightLeft2 && X == X0 ? Red : X >= X0 && X < X0 + N ? Tgt(X, Y) : Src(X, Y);
        }
        case iettUpDown1:
        case iettUpDown2: {
            const int32_t Y1 = int32_t(std::lround(H * P / 1024.0));
            return T == iettUpDown2 && Y == Y1 ? Red : Y < Y1 ? Tgt(X, Y) : Src(X, Y);
        }
        case iettDownUp1:
        case iettDownUp2: {
            const int32_t Y0 = int32_t(std::lround(Q * H / 1024.0)), N = int32_t(std::lround(P * H / 1024.0));
            return T == iettDownUp2 && Y == Y0 ? Red : Y >= Y0 && Y < Y0 + N ? Tgt(X, Y) : Src(X, Y);
        }
        case iettFromUpLeft:
        case iettFromUpRight:
        case iettFromBottomLeft:
        case iettFromBottomRight: {
            const int32_t DX = Q * W >> 10, DY = Q * H >> 10;
            const int32_t OX = T == iettFromUpRight || T == iettFromBottomRight ? DX : -DX;
            const int32_t OY = T == iettFromBottomLeft || T == iettFromBottomRight ? DY : -DY;
            const int32_t SX = X - OX, SY = Y - OY;
            return SX >= 0 && SX < W && SY >= 0 && SY < H ? Tgt(SX, SY) : Src(X, Y);
        }
        case iettMoveLeftRight1: {
            const int32_t D = P * W >> 10;
            return X < D ? Tgt(W - D + X, Y) : Src(X - D, Y);
        }
        case iettMoveLeftRight2: {
            const int32_t D = P * W >> 10;
            return X < D ? Tgt(X, Y) : Src(X - D, Y);
        }
        case iettMoveRightLeft1: {
            const int32_t D = Q * W >> 10;
            return X < D ? Src(W - D + X, Y) : Tgt(X - D, Y);
        }
        case iettMoveRightLeft2: {
            const int32_t D = Q * W >> 10;
            return X < D ? Src(X, Y) : Tgt(X - D, Y);
        }
        case iettMoveUpDown1: {
            const int32_t D = P * H >> 10;
            return Y < D ? Tgt(X, H - D + Y) : Src(X, Y - D);
        }
        case iettMoveUpDown2: {
            const int32_t D = P * H >> 10;
            return Y < D ? Tgt(X, Y) : Src(X, Y - D);
        }
        case iettMoveDownUp1: {
            const int32_t D = Q * H >> 10;
            return Y < D ? Src(X, H - D + Y) : Tgt(X, Y - D);
        }
        case iettMoveDownUp2: {
            const int32_t D = Q * H >> 10;
            return Y < D ? Src(X, H - D + Y) : Tgt(X, Y);
        }
        default: { // iettCenter1 and iettCenter2
            const int32_t R = T == iettCenter1 ? P : Q;
            const int32_t L = W / 2 - (R * (W / 2) >> 10), Top = H / 2 - (R * (H / 2) >> 10);
            const bool Inside = X >= L && X < L + (R * W >> 10) && Y >= Top && Y < Top + (R * H >> 10);
            return (T == iettCenter1) == Inside ? Tgt(X, Y) : Src(X, Y);
        }
        }
    };
    for (int32_t T = iettFadeOut; T <= iettCenterZoom2; ++T) {
        if (T == iettRandomPoints || T == iettRandomBoxes)
            continue;
        for (int32_t P : {300, 700, 716, 769}) {
            TScene S(W, H);
            S.State.Background = Background;
            ComposeTransitionFrame(TIETransitionType(T), 0, S.State);
            ComposeTransitionFrame(TIETransitionType(T), P, S.State);
            for (int32_t Y = 0; Y < H; ++Y)
                for (int32_t X = 0; X < W; ++X)
                    ASSERT_EQ(At(S.Frame, X, Y), Expected(T, P, X, Y))
                        << "type " << T << " at " << P << ", pixel " << X << "," << Y;
        }
    }
}

// The zooms on frames wide enough for the permute gather (many steps a row, windows cut
// by the row's end, steps of one pixel when the picture is small) place every pixel as
// the nearest-column formula says.
TEST(Transitions, ZoomsOnWideFramesTakeTheNearestPixels)
{
    for (int32_t W : {32, 97, 300, 1283})
        for (int32_t P : {1, 40, 200, 512, 700, 1000, 1023, 1024})
            for (TIETransitionType T : {iettCenterZoom1, iettCenterZoom2}) {
                constexpr int32_t H = 5;
                TScene S(W, H);
                ComposeTransitionFrame(T, 0, S.State);
                ComposeTransitionFrame(T, P, S.State);
                const int32_t R = T == iettCenterZoom1 ? P : 1024 - P;
                const int32_t RW = int32_t(int64_t(R) * W >> 10), RH = R * H >> 10;
                const int32_t L = W / 2 - (R * (W / 2) >> 10), Top = H / 2 - (R * (H / 2) >> 10);
                TBitmap& Inner = T == iettCenterZoom1 ? S.Target : S.Source;
                TBitmap& Outer = T == iettCenterZoom1 ? S.Source : S.Target;
                for (int32_t Y = 0; Y < H; ++Y)
                    for (int32_t X = 0; X < W; ++X) {
                        const bool Inside = X >= L && X < L + RW && Y >= Top && Y < Top + RH;
                        const TBgr Want =
                            Inside ? At(Inner, int32_t(int64_t(X - L) * W / RW), (Y - Top) * H / RH) : At(Outer, X, Y);
                        ASSERT_EQ(At(S.Frame, X, Y), Want)
                            << "type " << int(T) << " width " << W << " at " << P << ", pixel " << X << "," << Y;
                    }
            }
}

// The vector lanes give the formula's value for every pair of bytes and every progress
// (rows of 257 pixels leave a tail for the plain loop).
TEST(Transitions, CrossDissolveIsTheFormulaForEveryPair)
{
    TScene S(257, 256);
    for (int32_t Y = 0; Y < 256; ++Y)
        for (int32_t X = 0; X < 257; ++X) {
            std::fill_n(S.Source.ScanLine(Y) + 3 * X, 3, uint8_t(Y));
            std::fill_n(S.Target.ScanLine(Y) + 3 * X, 3, uint8_t(X));
        }
    for (int32_t P : {1, 3, 255, 511, 512, 700, 1023}) {
        ComposeTransitionFrame(iettCrossDissolve, P, S.State);
        int32_t Wrong = 0;
        for (int32_t Y = 0; Y < 256; ++Y)
            for (int32_t X = 0; X < 257; ++X)
                for (int32_t C = 0; C < 3; ++C)
                    Wrong += S.Frame.ScanLine(Y)[3 * X + C] != ((uint8_t(X) * P + Y * (1024 - P)) >> 10);
        EXPECT_EQ(Wrong, 0) << "at progress " << P;
    }
}

TEST(Transitions, RandomEffectsCountWhatIsDue)
{
    TScene S(100, 3);
    ComposeTransitionFrame(iettRandomPoints, 0, S.State);
    ComposeTransitionFrame(iettRandomPoints, 512, S.State);
    EXPECT_EQ(S.State.RandomCount, 142);
    ComposeTransitionFrame(iettRandomPoints, 1024, S.State);
    EXPECT_EQ(S.State.RandomCount, 569);
    // Every pixel is the source's or the target's own, in its place; the columns are drawn
    // from the whole width, so after 569 draws a row every column (the last too) was hit.
    std::vector<bool> Reached(100, false);
    for (int32_t Y = 0; Y < 3; ++Y)
        for (int32_t X = 0; X < 100; ++X) {
            const TBgr P = At(S.Frame, X, Y);
            EXPECT_TRUE(P == At(S.Source, X, Y) || P == At(S.Target, X, Y));
            Reached[size_t(X)] = Reached[size_t(X)] || P == At(S.Target, X, Y);
        }
    EXPECT_EQ(std::count(Reached.begin(), Reached.end(), true), 100);
    // Boxes start on multiples of 8, so a box never splits a cell of the 8 x 8 grid. On a
    // tall picture (16 x 64 div 64 = 16 units, 91 boxes) the rows are drawn from the
    // height: every one of the 16 cells is reached.
    for (const auto& [W, H, Due] : {std::tuple{64, 64, 364}, std::tuple{16, 64, 91}}) {
        TScene B(W, H);
        ComposeTransitionFrame(iettRandomBoxes, 1024, B.State);
        EXPECT_EQ(B.State.RandomCount, Due);
        int32_t Cells = 0;
        for (int32_t Y = 0; Y < H; ++Y)
            for (int32_t X = 0; X < W; ++X) {
                EXPECT_EQ(At(B.Frame, X, Y)[2], At(B.Frame, X / 8 * 8, Y / 8 * 8)[2]);
                Cells += X % 8 == 0 && Y % 8 == 0 && At(B.Frame, X, Y)[2] == TargetTag;
            }
        if (W < H) {
            EXPECT_EQ(Cells, W * H / 64);
        }
    }
}

namespace {
class TTransitionView : public TIEView {
public:
    TBitmap Bmp;
    TIEMask Msk;
    int32_t Frames = 0, Changes = 0, Updates = 0;
    TBitmap* IEBitmap() override { return &Bmp; }
    TIEMask* SelectionMask() override { return &Msk; }
    TColor Background() const override { return clBlack; }
    void SetBackground(TColor) override {}
    int32_t XDpi() const override { return 0; }
    int32_t YDpi() const override { return 0; }
    void SetDPI(int32_t, int32_t) override {}
    void ImageChange() override { ++Changes; }
    void Update() override { ++Updates; }
    int32_t RegisterChangeCallback(TIEViewCallback) override { return 0; }
    void UnregisterChangeCallback(int32_t) override {}
    void ShowTransitionFrame(TBitmap&) override { ++Frames; }
};
} // namespace

// The progress of a tick is the one computed at the end of the tick before; a tick at or
// past the duration stops, and a duration below 1 stops at the first tick.
TEST(Transitions, StepsFollowTheClockAndStop)
{
    TTransitionView View;
    TIETransitionEffects Player(&View);
    uint32_t Now = 0xFFFFFF00u; // the tick count wraps during the run
    Player.TickCount = [&] { return Now; };
    Player.Prepare(16, 8);
    Player.SetTransition(iettLeftRight1);
    Player.SetRepaintAtEnd(true);
    Player.Start();
    EXPECT_TRUE(Player.Timer()->Enabled());
    Now += 500;
    Player.Step();
    EXPECT_EQ(Player.Progress(), 512);
    EXPECT_EQ(View.Frames, 1);
    Now += 499;
    Player.Step();
    EXPECT_TRUE(Player.Running());
    Now += 1;
    Player.Step();
    EXPECT_FALSE(Player.Running());
    EXPECT_FALSE(Player.Timer()->Enabled());
    EXPECT_EQ(Player.Frame()->Width(), 1);
    EXPECT_EQ(View.Updates, 1);
    EXPECT_EQ(View.Changes, 1);
    EXPECT_EQ(View.Frames, 3);

    Player.Prepare(16, 8);
    Player.SetDuration(0);
    Player.Start();
    Player.Step();
    EXPECT_FALSE(Player.Running());
    EXPECT_EQ(View.Updates, 2);

    // No effect: a tick shows nothing and nothing stops it.
    Player.SetTransition(iettNone);
    Player.SetDuration(1000);
    Player.Start();
    Now += 2000;
    Player.Step();
    Player.Stop();
    EXPECT_TRUE(Player.Running());
    EXPECT_EQ(View.Frames, 4);
    EXPECT_EQ(View.Updates, 2);
}

TEST(Transitions, EveryVectorMixGivesThePlainBytes)
{
    // Odd lengths and offsets reach every loop's head and tail; the weights cover both ends.
    std::mt19937 Rng(1234);
    std::vector<uint8_t> A(4099), B(4099), Want(4099), Got(4099);
    for (size_t I = 0; I < A.size(); ++I)
        A[I] = uint8_t(Rng()), B[I] = uint8_t(Rng());
    struct TSet {
        const char* Name;
        TSimdLevel Level;
        size_t (*Mix)(const uint8_t*, const uint8_t*, uint8_t*, size_t, int32_t);
    };
    for (const TSet& Set : {TSet{"sse2", TSimdLevel::Sse2, MixBytesSse2}, TSet{"avx2", TSimdLevel::Avx2, MixBytesAvx2},
                            TSet{"avx512", TSimdLevel::Avx512, MixBytesAvx512}}) {
        if (!CpuHas(Set.Level))
            continue;
        for (int32_t P : {0, 1, 31, 255, 512, 777, 1023})
            for (size_t Offset : {size_t(0), size_t(1), size_t(7)}) {
                const size_t Count = A.size() - Offset;
                MixBytesPlain(A.data() + Offset, B.data(), Want.data() + Offset, Count, P);
                const size_t Done = Set.Mix(A.data() + Offset, B.data(), Got.data() + Offset, Count, P);
                ASSERT_LE(Done, Count);
                EXPECT_GT(Done, Count - 64) << Set.Name; // the vector loop did the bulk
                MixBytesPlain(A.data() + Offset + Done, B.data() + Done, Got.data() + Offset + Done, Count - Done, P);
                ASSERT_EQ(0, std::memcmp(Want.data() + Offset, Got.data() + Offset, Count)) << Set.Name << " P=" << P;
            }
    }
    // The chosen road gives the same bytes, and the full weight copies the target.
    MixBytes(A.data(), B.data(), Got.data(), A.size(), 333);
    MixBytesPlain(A.data(), B.data(), Want.data(), A.size(), 333);
    EXPECT_EQ(Got, Want);
    MixBytes(A.data(), B.data(), Got.data(), A.size(), TransitionFullProgress);
    EXPECT_EQ(Got, B);
}
