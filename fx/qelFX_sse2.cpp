// The SSE2 row kernels of the effects: sixteen channel bytes a step, the rest plain.
#include "fx/qelFX.h"

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

// Eight channels in 16-bit lanes: q := c div L through the reciprocal, the remainder
// decides the rounding (up above half, to the even neighbour at half), then q * L capped.
__m128i PosterizeLanes(__m128i C, __m128i Reciprocal, __m128i L)
{
    const __m128i Q = _mm_mulhi_epu16(C, Reciprocal);
    const __m128i Twice = _mm_slli_epi16(_mm_sub_epi16(C, _mm_mullo_epi16(Q, L)), 1);
    const __m128i One = _mm_set1_epi16(1);
    const __m128i Odd = _mm_cmpeq_epi16(_mm_and_si128(Q, One), One);
    const __m128i Up = _mm_or_si128(_mm_cmpgt_epi16(Twice, L), _mm_and_si128(_mm_cmpeq_epi16(Twice, L), Odd));
    // Up is -1 where the quotient rounds up.
    return _mm_min_epi16(_mm_mullo_epi16(_mm_sub_epi16(Q, Up), L), _mm_set1_epi16(255));
}

void Sse2PosterizeRow(const uint8_t* In, uint8_t* Out, int32_t Count, const TPosterizeLevel& Level)
{
    int32_t I = 0;
    if (Level.Reciprocal != 0) {
        const __m128i Zero = _mm_setzero_si128();
        const __m128i R = _mm_set1_epi16(int16_t(Level.Reciprocal));
        const __m128i L = _mm_set1_epi16(int16_t(Level.Level));
        for (; I + 16 <= Count; I += 16) {
            const __m128i C = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In + I));
            const __m128i Low = PosterizeLanes(_mm_unpacklo_epi8(C, Zero), R, L);
            const __m128i High = PosterizeLanes(_mm_unpackhi_epi8(C, Zero), R, L);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + I), _mm_packus_epi16(Low, High));
        }
    }
    PlainFxRowRoutines().PosterizeRow(In + I, Out + I, Count - I, Level);
}

const TFxRowRoutines Sse2 = {Sse2InvertRow, Sse2EmbossRow, Sse2PosterizeRow};

} // namespace

const TFxRowRoutines* Sse2FxRowRoutines() { return &Sse2; }

#else

const TFxRowRoutines* Sse2FxRowRoutines() { return nullptr; }

#endif

} // namespace kv
