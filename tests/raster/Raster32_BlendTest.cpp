#include "raster/Raster32_Blend.h"
#include "platform/CpuFeatures.h"

#include "raster/Raster32_CPUid.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace kv;

namespace {

struct TNamedSet {
    std::string Name;
    const TBlendRoutines* Set;
};

std::vector<TNamedSet> AllSets()
{
    std::vector<TNamedSet> Sets{{"scalar", &ScalarBlendRoutines()}};
    if (Sse2BlendRoutines())
        Sets.push_back({"sse2", Sse2BlendRoutines()});
    if (Avx2BlendRoutines())
        Sets.push_back({"avx2", Avx2BlendRoutines()});
    if (Avx512BlendRoutines())
        Sets.push_back({"avx512", Avx512BlendRoutines()});
    return Sets;
}

// One channel of every routine's mix.
uint32_t MixChannel(uint32_t F, uint32_t B, uint32_t W) { return (F * W + B * (256 - W) + 128) >> 8; }

} // namespace

TEST(Raster32Blend, WorkedValuesOnEverySet)
{
    for (const auto& [Name, R] : AllSets()) {
        SCOPED_TRACE(Name);
        EXPECT_EQ(R->BlendPixel(0x80FF0000, 0xFF0000FF), 0xC0800080u);
        EXPECT_EQ(R->BlendPixel(0xFFFF0000, 0xFF0000FF), 0xFFFE0001u);
        TColor32 B = 0xFF0000FF;
        R->BlendPixelInPlace(0xFFFF0000, B);
        EXPECT_EQ(B, 0xFFFF0000u);
        EXPECT_EQ(R->BlendPixelMaster(0xFFFF0000, 0xFF0000FF, 128), 0xFF7F0080u);
        TColor32 Run[3] = {0xFF0000FF, 0xFF0000FF, 0xFF0000FF};
        const TColor32 Src[3] = {0xFFFF0000, 0xFFFF0000, 0xFFFF0000};
        R->BlendRunMaster(Src, Run, 3, 128);
        for (TColor32 P : Run)
            EXPECT_EQ(P, 0xFF7F0080u);

        EXPECT_EQ(R->MixPixel(0xFF000000, 0xFFFFFFFF, 255), 0xFF010101u);
        EXPECT_EQ(R->MixPixel(0xFF000000, 0xFFFFFFFF, 128), 0xFF808080u);
        EXPECT_EQ(R->MixPixel(0xFF000000, 0xFFFFFFFF, 0), 0xFFFFFFFFu);
        EXPECT_EQ(R->MixPixel(0, 0xFFFFFFFF, 255), 0x01010101u);
        B = 0xFFFFFFFF;
        R->MixPixelInPlace(0xFF000000, B, 255);
        EXPECT_EQ(B, 0xFF000000u);
        B = 0xFFFFFFFF;
        R->MixPixelInPlace(0xFF000000, B, 0);
        EXPECT_EQ(B, 0xFFFFFFFFu);
    }
}

TEST(Raster32Blend, MasterFormsKeepBackgroundForTinyWeights)
{
    for (const auto& [Name, R] : AllSets()) {
        SCOPED_TRACE(Name);
        EXPECT_EQ(R->BlendPixelMaster(0xFFFF0000, 0x1234ABCD, 0), 0x1234ABCDu);
        EXPECT_EQ(R->BlendPixelMaster(0x01FF0000, 0x1234ABCD, 255), 0x1234ABCDu); // 1 * 255 < 256
        EXPECT_EQ(R->BlendPixelMaster(0x00FF0000, 0x1234ABCD, 255), 0x1234ABCDu);
        TColor32 B = 0x1234ABCD;
        R->BlendPixelMasterInPlace(0x01FFFFFF, B, 255);
        EXPECT_EQ(B, 0x1234ABCDu);
        // Opaque F at full master is still the weight-254 mix, never F itself:
        // (255 * 254 + 0 * 2 + 128) shr 8 = 253.
        EXPECT_EQ(R->BlendPixelMaster(0xFFFFFFFF, 0xFF000000, 255), 0xFFFDFDFDu);
        R->BlendPixelMasterInPlace(0xFFFFFFFF, B = 0xFF000000, 255);
        EXPECT_EQ(B, 0xFFFDFDFDu);
    }
}

TEST(Raster32Blend, AlphaIsMixedLikeAColour)
{
    for (const auto& [Name, R] : AllSets()) {
        SCOPED_TRACE(Name);
        // Half-transparent F on opaque B: alpha (128 * 128 + 255 * 128 + 128) shr 8 = 192.
        EXPECT_EQ(R->BlendPixel(0x80000000, 0xFF000000) >> 24, 0xC0u);
        // Opaque pixels mixed under a master alpha stay opaque.
        EXPECT_EQ(R->BlendPixelMaster(0xFF102030, 0xFF405060, 200) >> 24, 0xFFu);
        TColor32 B = 0xFF405060;
        R->MixPixelInPlace(0xFF102030, B, 77);
        EXPECT_EQ(B >> 24, 0xFFu);
    }
}

TEST(Raster32Blend, WeightsAbove255CountAs255)
{
    for (const auto& [Name, R] : AllSets()) {
        SCOPED_TRACE(Name);
        EXPECT_EQ(R->MixPixel(0xFF000000, 0xFFFFFFFF, 300), 0xFF010101u);
        EXPECT_EQ(R->MixPixel(0xFF000000, 0xFFFFFFFF, 0x10000), 0xFF010101u);
        EXPECT_EQ(R->BlendPixelMaster(0xFFFF0000, 0xFF0000FF, 1000), R->BlendPixelMaster(0xFFFF0000, 0xFF0000FF, 255));
        TColor32 Src[9], Dst[9], Ref[9];
        for (int I = 0; I < 9; ++I) {
            Src[I] = 0x80FF0000u + I * 0x01000000u;
            Dst[I] = Ref[I] = 0xFF0000FF;
        }
        R->BlendRunMaster(Src, Dst, 9, 0xFFFFFFFF);
        R->BlendRunMaster(Src, Ref, 9, 255);
        for (int I = 0; I < 9; ++I)
            EXPECT_EQ(Dst[I], Ref[I]);
    }
}

TEST(Raster32Blend, RunsWithNoPixelsLeaveDestination)
{
    for (const auto& [Name, R] : AllSets()) {
        SCOPED_TRACE(Name);
        const TColor32 Src[4] = {0x80FFFFFF, 0xFFFFFFFF, 0x80FFFFFF, 0xFFFFFFFF};
        TColor32 Dst[4] = {1, 2, 3, 4};
        for (int32_t Count : {0, -1, -100}) {
            R->BlendRun(Src, Dst, Count);
            R->BlendRunMaster(Src, Dst, Count, 200);
        }
        EXPECT_EQ(Dst[0], 1u);
        EXPECT_EQ(Dst[3], 4u);
    }
}

// Src may be Dst: each pixel is read before it is written (and a mix with itself is itself).
TEST(Raster32Blend, RunOntoItself)
{
    for (const auto& [Name, R] : AllSets()) {
        SCOPED_TRACE(Name);
        TColor32 P[11];
        for (int I = 0; I < 11; ++I)
            P[I] = 0x10203040u * (I + 1) + 0x01000000u * I * 20;
        TColor32 Want[11];
        for (int I = 0; I < 11; ++I)
            Want[I] = ScalarBlendRoutines().BlendPixelMaster(P[I], P[I], 200);
        R->BlendRunMaster(P, P, 11, 200);
        for (int I = 0; I < 11; ++I)
            EXPECT_EQ(P[I], Want[I]) << I;
    }
}

// Every weight and every pair of channel values, in all four channels at once.
TEST(Raster32Blend, ScalarMixMatchesTheLaneFormulaExhaustively)
{
    const TBlendRoutines& R = ScalarBlendRoutines();
    for (uint32_t W = 0; W < 256; ++W)
        for (uint32_t F = 0; F < 256; ++F)
            for (uint32_t B = 0; B < 256; ++B) {
                uint32_t Got = R.MixPixel(F * 0x01010101u, B * 0x01010101u, W);
                uint32_t Want = MixChannel(F, B, W) * 0x01010101u;
                if (Got != Want)
                    FAIL() << "F " << F << " B " << B << " W " << W << ": " << std::hex << Got;
            }
}

namespace {

// Pixels whose alpha is often 0 or 255 (the shortcuts), otherwise random.
TColor32 RandomPixel(std::mt19937& Rng)
{
    TColor32 P = Rng();
    switch (Rng() % 4) {
    case 0: return P & 0x00FFFFFF;
    case 1: return P | 0xFF000000;
    default: return P;
    }
}

uint32_t RandomWeight(std::mt19937& Rng)
{
    uint32_t R = Rng();
    switch (R % 8) {
    case 0: return 0;
    case 1: return 255;
    case 2: return 256 + (R >> 16); // out of range, counts as 255
    default: return (R >> 8) & 255;
    }
}

void ExpectSameSinglePixels(const TBlendRoutines& Ref, const TBlendRoutines& Simd, uint32_t Seed)
{
    std::mt19937 Rng(Seed);
    for (int I = 0; I < 200000; ++I) {
        TColor32 F = RandomPixel(Rng), B = Rng();
        uint32_t W = RandomWeight(Rng);
        ASSERT_EQ(Simd.MixPixel(F, B, W), Ref.MixPixel(F, B, W)) << std::hex << F << ' ' << B << ' ' << W;
        ASSERT_EQ(Simd.BlendPixel(F, B), Ref.BlendPixel(F, B)) << std::hex << F << ' ' << B;
        ASSERT_EQ(Simd.BlendPixelMaster(F, B, W), Ref.BlendPixelMaster(F, B, W)) << std::hex << F << ' ' << B;
        TColor32 B1 = B, B2 = B;
        Simd.MixPixelInPlace(F, B1, W);
        Ref.MixPixelInPlace(F, B2, W);
        ASSERT_EQ(B1, B2);
        Simd.BlendPixelInPlace(F, B1 = B);
        Ref.BlendPixelInPlace(F, B2 = B);
        ASSERT_EQ(B1, B2);
        Simd.BlendPixelMasterInPlace(F, B1 = B, W);
        Ref.BlendPixelMasterInPlace(F, B2 = B, W);
        ASSERT_EQ(B1, B2);
    }
}

// Runs of every small length at every pixel offset from a 64-byte boundary, plus long
// runs with blocks of all-transparent and all-opaque source pixels; pixels just outside
// the run must not change.
void ExpectSameRuns(const TBlendRoutines& Ref, const TBlendRoutines& Simd, uint32_t Seed)
{
    std::mt19937 Rng(Seed);
    alignas(64) TColor32 Src[1100], Dst1[1100], Dst2[1100];
    for (int Trial = 0; Trial < 3000; ++Trial) {
        int32_t Count = Trial < 2000 ? Trial % 41 : int32_t(Rng() % 1000);
        int32_t SrcOff = Rng() % 16, DstOff = Rng() % 16;
        int Flavour = Rng() % 4;
        for (auto& P : Src)
            P = Flavour == 0 ? Rng() & 0x00FFFFFF : Flavour == 1 ? Rng() | 0xFF000000 : RandomPixel(Rng);
        for (int I = 0; I < 1100; ++I)
            Dst1[I] = Dst2[I] = Rng();
        uint32_t M = RandomWeight(Rng);
        if (Trial % 2 == 0) {
            Simd.BlendRun(Src + SrcOff, Dst1 + DstOff, Count);
            Ref.BlendRun(Src + SrcOff, Dst2 + DstOff, Count);
        } else {
            Simd.BlendRunMaster(Src + SrcOff, Dst1 + DstOff, Count, M);
            Ref.BlendRunMaster(Src + SrcOff, Dst2 + DstOff, Count, M);
        }
        for (int I = 0; I < 1100; ++I)
            ASSERT_EQ(Dst1[I], Dst2[I]) << "trial " << Trial << " count " << Count << " pixel " << I;
    }
}

} // namespace

TEST(Raster32Blend, VectorSetsMatchScalarReference)
{
    const TBlendRoutines& Ref = ScalarBlendRoutines();
    auto Sets = AllSets();
    if (Sets.size() == 1) {
        GTEST_SKIP() << "no vector set on this processor";
    }
    for (size_t I = 1; I < Sets.size(); ++I) {
        SCOPED_TRACE(Sets[I].Name);
        ExpectSameSinglePixels(Ref, *Sets[I].Set, 12345 + I);
        ExpectSameRuns(Ref, *Sets[I].Set, 777 + I);
    }
}

// Every source alpha against every pair of channel values, under masters that reach every
// weight from 0 to 254 (255 gives alpha - 1), with Dst off the vector boundary so that the
// masked first and last steps carry some of them.
TEST(Raster32Blend, VectorRunsMatchScalarAtEveryWeightAndChannelPair)
{
    const TBlendRoutines& Ref = ScalarBlendRoutines();
    constexpr int32_t Count = 65536, Offset = 3;
    static TColor32 Src[Count], Want[Count + Offset], Got[Count + Offset];
    const auto Sets = AllSets();
    for (size_t I = 1; I < Sets.size(); ++I) {
        const TBlendRoutines& R = *Sets[I].Set;
        SCOPED_TRACE(Sets[I].Name);
        // Blue, green and red of the source run through every value along the row, the
        // background's four channels through every value down the 256 rows.
        auto Fill = [](uint32_t A) {
            for (int32_t P = 0; P < Count; ++P) {
                Src[P] = (A << 24) | (uint32_t(P & 255) * 0x010101u);
                Want[P + Offset] = Got[P + Offset] = uint32_t(P >> 8) * 0x01010101u;
            }
        };
        for (uint32_t A = 0; A < 256; ++A) {
            Fill(A);
            Ref.BlendRun(Src, Want + Offset, Count);
            R.BlendRun(Src, Got + Offset, Count);
            ASSERT_EQ(0, std::memcmp(Want, Got, sizeof(Want))) << "alpha " << A;
            for (uint32_t M : {255u, 200u, 128u, 1u}) {
                Fill(A);
                Ref.BlendRunMaster(Src, Want + Offset, Count, M);
                R.BlendRunMaster(Src, Got + Offset, Count, M);
                ASSERT_EQ(0, std::memcmp(Want, Got, sizeof(Want))) << "alpha " << A << " master " << M;
            }
        }
    }
}

TEST(Raster32Blend, RunsAgreeWithSinglePixelForms)
{
    const TBlendRoutines& R = ScalarBlendRoutines();
    std::mt19937 Rng(99);
    for (int I = 0; I < 1000; ++I) {
        TColor32 S = RandomPixel(Rng), D = Rng(), D1 = D, D2 = D;
        uint32_t M = RandomWeight(Rng);
        R.BlendRun(&S, &D1, 1);
        R.BlendPixelInPlace(S, D2);
        ASSERT_EQ(D1, D2);
        R.BlendRunMaster(&S, &D1, 1, M);
        R.BlendPixelMasterInPlace(S, D2, M);
        ASSERT_EQ(D1, D2);
        TColor32 D3 = D;
        R.BlendPixelMasterInPlace(S, D3, M);
        ASSERT_EQ(D3, R.BlendPixelMaster(S, D, M));
        TColor32 D4 = D;
        R.BlendPixelInPlace(S, D4);
        if ((S >> 24) != 255) {
            ASSERT_EQ(D4, R.BlendPixel(S, D));
        }
    }
}

TEST(Raster32Blend, SelectionFollowsProcessorAndEnvironment)
{
    const bool Expect = SimdAllowed(TSimdLevel::Mmx) && SimdBlendRoutines() != nullptr;
    EXPECT_EQ(MmxActive(), Expect);
    EXPECT_EQ(&BlendRoutines(), Expect ? SimdBlendRoutines() : &ScalarBlendRoutines());
    // Of the wide sets the processor has and KELVANE_NO_SIMD leaves on, the one timed
    // faster wins; SSE2 only when neither is there.
    const bool Wide = SimdAllowed(TSimdLevel::Avx512) && CpuHasAvx512Bw();
    if (Wide && SimdAllowed(TSimdLevel::Avx2) && Avx2BlendRoutines()) {
        EXPECT_TRUE(SimdBlendRoutines() == Avx512BlendRoutines() || SimdBlendRoutines() == Avx2BlendRoutines());
    } else if (Wide) {
        EXPECT_EQ(SimdBlendRoutines(), Avx512BlendRoutines());
    } else if (SimdAllowed(TSimdLevel::Avx2)) {
        EXPECT_EQ(SimdBlendRoutines(), Avx2BlendRoutines());
    } else if (SimdAllowed(TSimdLevel::Sse2)) {
        EXPECT_EQ(SimdBlendRoutines(), Sse2BlendRoutines());
    } else {
        EXPECT_EQ(SimdBlendRoutines(), nullptr);
    }
    // The shorthands reach the chosen set.
    EXPECT_EQ(BlendPixel(0x80FF0000, 0xFF0000FF), 0xC0800080u);
}

TEST(Raster32Blend, GammaTable)
{
    const uint8_t* G = GammaTable();
    EXPECT_EQ(G[0], 0);
    EXPECT_EQ(G[1], 5);
    EXPECT_EQ(G[2], 9);
    EXPECT_EQ(G[64], 97);
    EXPECT_EQ(G[127], 157);
    EXPECT_EQ(G[128], 157);
    EXPECT_EQ(G[192], 209);
    EXPECT_EQ(G[254], 254);
    EXPECT_EQ(G[255], 255);
    for (int I = 1; I < 256; ++I)
        EXPECT_GE(G[I], G[I - 1]);
}
