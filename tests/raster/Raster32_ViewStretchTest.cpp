#include "raster/Raster32.h"
#include "raster/Raster32_ViewStretch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace kv;

namespace {

void Randomize(TBitmap32& B, std::mt19937& Rng)
{
    for (int32_t Y = 0; Y < B.Height(); ++Y)
        for (int32_t X = 0; X < B.Width(); ++X)
            B.SetPixelFast(X, Y, Rng());
}

struct SimdGuard {
    bool Old;
    explicit SimdGuard(bool On) : Old(SetViewStretchSimd(On)) {}
    ~SimdGuard() { SetViewStretchSimd(Old); }
};

} // namespace

// The vector path must give the pixels of the plain bilinear stretch, bit for bit, over
// every kind of rectangle: enlarging, shrinking, 1:1, clipped, partial sources.
TEST(ViewStretch, VectorPathMatchesThePlainStretch)
{
    SimdGuard Guard(true);
    if (!ViewStretchSimdActive())
        GTEST_SKIP() << "no AVX2 on this processor";
    std::mt19937 Rng(1234);
    for (int Case = 0; Case < 400; ++Case) {
        TBitmap32 Src;
        Src.SetSize(1 + Rng() % 70, 1 + Rng() % 50);
        Randomize(Src, Rng);
        Src.SetStretchFilter(sfLinear);
        Src.SetDrawMode(Rng() % 2 ? dmBlend : dmOpaque);
        const uint32_t Alphas[] = {0, 1, 127, 200, 254, 255};
        Src.SetMasterAlpha(Alphas[Rng() % 6]);
        TRect SR{int32_t(Rng() % Src.Width()), int32_t(Rng() % Src.Height()), 0, 0};
        SR.Right = SR.Left + 1 + int32_t(Rng() % (Src.Width() - SR.Left));
        SR.Bottom = SR.Top + 1 + int32_t(Rng() % (Src.Height() - SR.Top));
        if (Case % 5 == 0)
            SR = TRect{0, 0, Src.Width(), Src.Height()};
        TBitmap32 A, B;
        A.SetSize(60, 40);
        Randomize(A, Rng);
        B.Assign(&A);
        const int32_t L = int32_t(Rng() % 80) - 20, T = int32_t(Rng() % 60) - 20;
        TRect DR{L, T, L + 1 + int32_t(Rng() % 150), T + 1 + int32_t(Rng() % 100)};
        if (Case % 7 == 0)
            DR = TRect{L, T, L + SR.Width(), T + SR.Height()};
        ViewDrawOntoRect(&Src, &A, DR, SR);
        Src.DrawOntoRectFrom(&B, DR, SR);
        ASSERT_EQ(std::memcmp(A.Bits(), B.Bits(), size_t(60) * 40 * 4), 0)
            << "case " << Case << " src " << Src.Width() << "x" << Src.Height() << " dst " << DR.Left << ","
            << DR.Top << "," << DR.Right << "," << DR.Bottom;
    }
}

TEST(ViewStretch, OtherFiltersAndErrorsAreThePlainOnes)
{
    TBitmap32 Src, Dst;
    Src.SetSize(4, 4);
    Src.ClearTo(0xFF102030);
    Dst.SetSize(8, 8);
    Dst.ClearTo(0);
    Src.SetStretchFilter(sfNearest);
    ViewDrawOntoRect(&Src, &Dst, TRect{0, 0, 8, 8}, TRect{0, 0, 4, 4});
    EXPECT_EQ(Dst.GetPixelFast(7, 7), 0xFF102030u);
    Src.SetStretchFilter(sfLinear);
    EXPECT_ANY_THROW(ViewDrawOntoRect(&Src, &Dst, TRect{0, 0, 8, 8}, TRect{0, 0, 5, 4}));
    ViewDrawOntoRect(&Src, nullptr, TRect{0, 0, 8, 8}, TRect{0, 0, 4, 4});
}
