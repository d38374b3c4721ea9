// The AVX2 row kernels of the effects: the SSE2 arithmetic on 32 channel bytes a step.
// The unpacks and the pack both work within 128-bit halves, so bytes keep their order.
#include "fx/qelFX.h"

#include "raster/Raster32_CPUid.h"

#ifdef __AVX2__
#include <immintrin.h>
#endif

namespace kv {

#ifdef __AVX2__

namespace {

void Avx2InvertRow(uint8_t* Row, int32_t Count)
{
    const __m256i Ones = _mm256_set1_epi8(char(0xFF));
    int32_t I = 0;
    for (; I + 32 <= Count; I += 32) {
        __m256i* P = reinterpret_cast<__m256i*>(Row + I);
        _mm256_storeu_si256(P, _mm256_xor_si256(_mm256_loadu_si256(P), Ones));
    }
    PlainFxRowRoutines().InvertRow(Row + I, Count - I);
}

// The floor average of a and ~b: pavgb's round-up bit taken back.
void Avx2EmbossRow(uint8_t* Row, const uint8_t* Below, int32_t Count)
{
    const __m256i Ones = _mm256_set1_epi8(char(0xFF));
    const __m256i Low = _mm256_set1_epi8(1);
    int32_t I = 0;
    for (; I + 32 <= Count; I += 32) {
        __m256i* P = reinterpret_cast<__m256i*>(Row + I);
        const __m256i A = _mm256_loadu_si256(P);
        const __m256i B = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(Below + I)), Ones);
        const __m256i Carry = _mm256_and_si256(_mm256_xor_si256(A, B), Low);
        _mm256_storeu_si256(P, _mm256_sub_epi8(_mm256_avg_epu8(A, B), Carry));
    }
    PlainFxRowRoutines().EmbossRow(Row + I, Below + I, Count - I);
}

__m256i PosterizeLanes(__m256i C, __m256i Reciprocal, __m256i L)
{
    const __m256i Q = _mm256_mulhi_epu16(C, Reciprocal);
    const __m256i Twice = _mm256_slli_epi16(_mm256_sub_epi16(C, _mm256_mullo_epi16(Q, L)), 1);
    const __m256i One = _mm256_set1_epi16(1);
    const __m256i Odd = _mm256_cmpeq_epi16(_mm256_and_si256(Q, One), One);
    const __m256i Up =
        _mm256_or_si256(_mm256_cmpgt_epi16(Twice, L), _mm256_and_si256(_mm256_cmpeq_epi16(Twice, L), Odd));
    return _mm256_min_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(Q, Up), L), _mm256_set1_epi16(255));
}

void Avx2PosterizeRow(const uint8_t* In, uint8_t* Out, int32_t Count, const TPosterizeLevel& Level)
{
    int32_t I = 0;
    if (Level.Reciprocal != 0) {
        const __m256i Zero = _mm256_setzero_si256();
        const __m256i R = _mm256_set1_epi16(int16_t(Level.Reciprocal));
        const __m256i L = _mm256_set1_epi16(int16_t(Level.Level));
        for (; I + 32 <= Count; I += 32) {
            const __m256i C = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(In + I));
            const __m256i Low = PosterizeLanes(_mm256_unpacklo_epi8(C, Zero), R, L);
            const __m256i High = PosterizeLanes(_mm256_unpackhi_epi8(C, Zero), R, L);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + I), _mm256_packus_epi16(Low, High));
        }
    }
    // The rest through the SSE2 set, then the plain one.
    Sse2FxRowRoutines()->PosterizeRow(In + I, Out + I, Count - I, Level);
}

const TFxRowRoutines Avx2 = {Avx2InvertRow, Avx2EmbossRow, Avx2PosterizeRow};

} // namespace

const TFxRowRoutines* Avx2FxRowRoutines() { return CpuHasAvx2() ? &Avx2 : nullptr; }

#else

const TFxRowRoutines* Avx2FxRowRoutines() { return nullptr; }

#endif

} // namespace kv
