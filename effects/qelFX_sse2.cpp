// The SSE2 row kernels of the effects: sixteen channel bytes a step, the rest plain.
#include "effects/qelFX.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kv {

#if defined(__SSE2__)

namespace {

void Sse2InvertRow(uint8_t* Row, int32_t Count)
{
    const __m128i Ones = _mm_set1_epi8(char(0xFF));
    int32_t I = 0;
    for (; I + 16 <= Count; I += 16) {
        __m128i* P = reinterpret_cast<__m128i*>(Row + I);
        _mm_storeu_si128(P, _mm_xor_si128(_mm_loadu_si128(P), Ones));
    }
    PlainFxRowRoutines().InvertRow(Row + I, Count - I);
}

// (255 - b + a) shr 1 is the floor average of a and ~b. pavgb rounds up, so take back
// the carry bit it added: avg(a, ~b) - ((a xor ~b) and 1).
void Sse2EmbossRow(uint8_t* Row, const uint8_t* Below, int32_t Count)
{
    const __m128i Ones = _mm_set1_epi8(char(0xFF));
    const __m128i Low = _mm_set1_epi8(1);
    int32_t I = 0;
    for (; I + 16 <= Count; I += 16) {
        __m128i* P = reinterpret_cast<__m128i*>(Row + I);
        const __m128i A = _mm_loadu_si128(P);
        const __m128i B = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Below + I)), Ones);
        const __m128i Carry = _mm_and_si128(_mm_xor_si128(A, B), Low);
        _mm_storeu_si128(P, _mm_sub_epi8(_mm_avg_epu8(A, B), Carry));
    }
    PlainFxRowRoutines().EmbossRow(Row + I, Below + I, Count - I);
}

const TFxRowRoutines Sse2 = {Sse2InvertRow, Sse2EmbossRow};

} // namespace

const TFxRowRoutines* Sse2FxRowRoutines() { return &Sse2; }

#else

const TFxRowRoutines* Sse2FxRowRoutines() { return nullptr; }

#endif

} // namespace kv
