// The AVX2 loop of the cross-dissolve's byte mix: the SSE2 lanes, twice as wide.
#include "imaging/TransitionsMix.h"

#include <algorithm>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace kv {

#if defined(__AVX2__)

size_t MixBytesAvx2(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P)
{
    const __m256i Zero = _mm256_setzero_si256();
    const __m256i Weight = _mm256_set1_epi16(int16_t(P << 5));
    // Plain stores, aligned so that none splits a cache line: a frame stays in the cache
    // for the screen copy that follows, where streaming stores sent every line to memory
    // and made the mix wait on it whenever other programs kept memory busy.
    size_t I = std::min(Count, size_t(-reinterpret_cast<uintptr_t>(Out) & 31));
    MixBytesPlain(A, B, Out, I, P);
    for (; I + 32 <= Count; I += 32) {
        const __m256i VA = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(A + I));
        const __m256i VB = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(B + I));
        const __m256i ALo = _mm256_unpacklo_epi8(VA, Zero), AHi = _mm256_unpackhi_epi8(VA, Zero);
        const __m256i DLo = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_unpacklo_epi8(VB, Zero), ALo), 1);
        const __m256i DHi = _mm256_slli_epi16(_mm256_sub_epi16(_mm256_unpackhi_epi8(VB, Zero), AHi), 1);
        const __m256i Lo = _mm256_add_epi16(ALo, _mm256_mulhi_epi16(DLo, Weight));
        const __m256i Hi = _mm256_add_epi16(AHi, _mm256_mulhi_epi16(DHi, Weight));
        // Unpacking and packing both work within 128-bit halves, so the order comes back.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + I), _mm256_packus_epi16(Lo, Hi));
    }
    return I;
}

#else

size_t MixBytesAvx2(const uint8_t*, const uint8_t*, uint8_t*, size_t, int32_t) { return 0; }

#endif

} // namespace kv
