#include "platform/CpuFeatures.h"

#include <gtest/gtest.h>

using namespace kv;

TEST(CpuFeatures, NoSimdNamesTheLevelsItTurnsOff)
{
    constexpr uint32_t Mmx = 1, Sse2 = 2, Ssse3 = 4, Avx2 = 8, Avx512 = 16;
    const struct {
        const char* Value;
        uint32_t Off;
    } Cases[] = {
        {"", 0},
        {"0", 0},
        {"1", ~0u},
        {"yes", ~0u},
        {"avx512", Avx512},
        {"avx2,avx512", Avx2 | Avx512},
        {"sse2 ssse3", Sse2 | Ssse3},
        {"mmx,", Mmx},
        {"avx2,nonsense", ~0u}, // not a list of levels: everything off
    };
    for (const auto& C : Cases)
        EXPECT_EQ(NoSimdMask(C.Value), C.Off) << C.Value;
}

TEST(CpuFeatures, LevelsAreConsistentAndAllowedOnlyWherePresent)
{
    // A processor with AVX-512 has AVX2, and one with AVX2 has SSE2.
    EXPECT_TRUE(!CpuHas(TSimdLevel::Avx512) || CpuHas(TSimdLevel::Avx2));
    EXPECT_TRUE(!CpuHas(TSimdLevel::Avx2) || CpuHas(TSimdLevel::Sse2));
#if defined(__x86_64__)
    EXPECT_TRUE(CpuHas(TSimdLevel::Sse2)); // part of the 64-bit instruction set
#endif
    for (TSimdLevel L : {TSimdLevel::Mmx, TSimdLevel::Sse2, TSimdLevel::Ssse3, TSimdLevel::Avx2, TSimdLevel::Avx512})
        EXPECT_TRUE(!SimdAllowed(L) || CpuHas(L));
}
