// The AVX-512 loops of the transitions: the cross-dissolve's byte mix on the AVX2 lanes,
// twice as wide, and the zooms' row gather by byte permutes. Only these functions are
// compiled for AVX-512 (by the target pragma below, after every include), so no inline
// function of a shared header gets a copy that needs it.
#include "imaging/TransitionsMix.h"
#include "imaging/TransitionsStretch.h"

#include "platform/CpuFeatures.h"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace kv {

bool StretchGatherAllowed()
{
    static const bool Allowed = SimdAllowed(TSimdLevel::Avx512) && __builtin_cpu_supports("avx512vbmi");
    return Allowed;
}

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,avx512f,avx512bw,avx512vbmi"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512bw,avx512vbmi")
#endif

size_t MixBytesAvx512(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P)
{
    const __m512i Zero = _mm512_setzero_si512();
    const __m512i Weight = _mm512_set1_epi16(int16_t(P << 5));
    // Plain stores aligned to the cache line, as in the AVX2 loop.
    size_t I = std::min(Count, size_t(-reinterpret_cast<uintptr_t>(Out) & 63));
    MixBytesPlain(A, B, Out, I, P);
    for (; I + 64 <= Count; I += 64) {
        const __m512i VA = _mm512_loadu_si512(A + I);
        const __m512i VB = _mm512_loadu_si512(B + I);
        const __m512i ALo = _mm512_unpacklo_epi8(VA, Zero), AHi = _mm512_unpackhi_epi8(VA, Zero);
        const __m512i DLo = _mm512_slli_epi16(_mm512_sub_epi16(_mm512_unpacklo_epi8(VB, Zero), ALo), 1);
        const __m512i DHi = _mm512_slli_epi16(_mm512_sub_epi16(_mm512_unpackhi_epi8(VB, Zero), AHi), 1);
        const __m512i Lo = _mm512_add_epi16(ALo, _mm512_mulhi_epi16(DLo, Weight));
        const __m512i Hi = _mm512_add_epi16(AHi, _mm512_mulhi_epi16(DHi, Weight));
        _mm512_storeu_si512(Out + I, _mm512_packus_epi16(Lo, Hi));
    }
    return I;
}

void StretchRowGather(const uint8_t* In, uint8_t* Out, const TStretchPlan& Plan)
{
    const TStretchStep* Step = Plan.Steps.data();
    const uint8_t* Index = Plan.Index.data();
    for (size_t S = 0, N = Plan.Steps.size(); S < N; ++S, ++Step, Index += 64) {
        const uint8_t* W = In + Step->From;
        // Masked loads never touch the bytes past the row, even where they would fault.
        const __m512i Low = _mm512_maskz_loadu_epi8(Step->LoadLow, W);
        const __m512i High = _mm512_maskz_loadu_epi8(Step->LoadHigh, W + 64);
        const __m512i Pixels = _mm512_permutex2var_epi8(Low, _mm512_loadu_si512(Index), High);
        if (Step->Store == ~uint64_t(0))
            _mm512_storeu_si512(Out, Pixels);
        else
            _mm512_mask_storeu_epi8(Out, Step->Store, Pixels);
        Out += Step->OutBytes;
    }
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

} // namespace kv

#else

namespace kv {

bool StretchGatherAllowed() { return false; }
size_t MixBytesAvx512(const uint8_t*, const uint8_t*, uint8_t*, size_t, int32_t) { return 0; }
void StretchRowGather(const uint8_t*, uint8_t*, const TStretchPlan&) {}

} // namespace kv

#endif
