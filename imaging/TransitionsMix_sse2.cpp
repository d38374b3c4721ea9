// The SSE2 loop of the cross-dissolve's byte mix.
#include "imaging/TransitionsMix.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kv {

#if defined(__SSE2__)

size_t MixBytesSse2(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P)
{
    // The high half of (2 (B - A)) x (P shl 5) is floor((B - A) P / 1024) exactly, and
    // both factors fit in 16 bits for P below 1024.
    const __m128i Zero = _mm_setzero_si128();
    const __m128i Weight = _mm_set1_epi16(int16_t(P << 5));
    size_t I = 0;
    for (; I + 16 <= Count; I += 16) {
        const __m128i VA = _mm_loadu_si128(reinterpret_cast<const __m128i*>(A + I));
        const __m128i VB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(B + I));
        const __m128i ALo = _mm_unpacklo_epi8(VA, Zero), AHi = _mm_unpackhi_epi8(VA, Zero);
        const __m128i DLo = _mm_slli_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(VB, Zero), ALo), 1);
        const __m128i DHi = _mm_slli_epi16(_mm_sub_epi16(_mm_unpackhi_epi8(VB, Zero), AHi), 1);
        const __m128i Lo = _mm_add_epi16(ALo, _mm_mulhi_epi16(DLo, Weight));
        const __m128i Hi = _mm_add_epi16(AHi, _mm_mulhi_epi16(DHi, Weight));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + I), _mm_packus_epi16(Lo, Hi));
    }
    return I;
}

#else

size_t MixBytesSse2(const uint8_t*, const uint8_t*, uint8_t*, size_t, int32_t) { return 0; }

#endif

} // namespace kv
