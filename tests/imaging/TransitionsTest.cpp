#include "imaging/Transitions.h"
#include "imaging/TransitionsMix.h"

#include "imaging/IEBitmaps.h"
#include "imaging/IEView.h"
#include "platform/CpuFeatures.h"
#include "platform/Forms.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
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
    // Every pixel is the source's or the target's own, in its place.
    for (int32_t Y = 0; Y < 3; ++Y)
        for (int32_t X = 0; X < 100; ++X) {
            const TBgr P = At(S.Frame, X, Y);
            EXPECT_TRUE(P == At(S.Source, X, Y) || P == At(S.Target, X, Y));
        }
    TScene B(64, 64);
    ComposeTransitionFrame(iettRandomBoxes, 1024, B.State);
    EXPECT_EQ(B.State.RandomCount, 364);
    // Boxes start on multiples of 8, so a box never splits a cell of the 8 x 8 grid.
    for (int32_t Y = 0; Y < 64; ++Y)
        for (int32_t X = 0; X < 64; ++X)
            EXPECT_EQ(At(B.Frame, X, Y)[2], At(B.Frame, X / 8 * 8, Y / 8 * 8)[2]);
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
    for (const TSet& Set :
         {TSet{"sse2", TSimdLevel::Sse2, MixBytesSse2}, TSet{"avx2", TSimdLevel::Avx2, MixBytesAvx2}}) {
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
