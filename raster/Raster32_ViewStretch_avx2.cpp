// The two passes of the bilinear stretch on AVX2: eight pixels per step, each channel
// (F * w + B * (256 - w) + 128) shr 8 exactly as the plain formula.
//
// This file includes nothing but the intrinsics and fixed-width integers, so that no
// inline function of a shared header is compiled here with AVX2 instructions.
#if defined(__x86_64__) || defined(__i386__)

#include <cstdint>
#include <immintrin.h>

namespace kv {

namespace {

inline uint32_t MixScalar(uint32_t F, uint32_t B, uint32_t W)
{
    uint32_t R = 0;
    for (int S = 0; S < 32; S += 8) {
        const uint32_t Fc = (F >> S) & 255, Bc = (B >> S) & 255;
        R |= (((Fc * W + Bc * (256 - W) + 128) >> 8) & 255) << S;
    }
    return R;
}

// (F - B) * w + (B shl 8) + 128 taken modulo 2^16 is the exact non-negative sum.
inline __m256i Mix8(__m256i F, __m256i B, __m256i WLo, __m256i WHi)
{
    const __m256i Zero = _mm256_setzero_si256();
    const __m256i Bias = _mm256_set1_epi8(char(0x80));
    __m256i Lo = _mm256_sub_epi16(_mm256_unpacklo_epi8(F, Zero), _mm256_unpacklo_epi8(B, Zero));
    __m256i Hi = _mm256_sub_epi16(_mm256_unpackhi_epi8(F, Zero), _mm256_unpackhi_epi8(B, Zero));
    Lo = _mm256_add_epi16(_mm256_mullo_epi16(Lo, WLo), _mm256_unpacklo_epi8(Bias, B));
    Hi = _mm256_add_epi16(_mm256_mullo_epi16(Hi, WHi), _mm256_unpackhi_epi8(Bias, B));
    return _mm256_packus_epi16(_mm256_srli_epi16(Lo, 8), _mm256_srli_epi16(Hi, 8));
}

// Picks 32-bit element Idx (0..15) of the 16 held in A (0..7) and B (8..15).
inline __m256i Select16(__m256i A, __m256i B, __m256i Idx)
{
    const __m256i FromA = _mm256_permutevar8x32_epi32(A, Idx);
    const __m256i FromB = _mm256_permutevar8x32_epi32(B, Idx);
    return _mm256_blendv_epi8(FromA, FromB, _mm256_cmpgt_epi32(Idx, _mm256_set1_epi32(7)));
}

} // namespace

void Avx2MixRows(const uint32_t* R0, const uint32_t* R1, uint32_t* Out, int32_t Count, uint32_t W)
{
    const __m256i Wv = _mm256_set1_epi16(short(W));
    int32_t I = 0;
    for (; I + 8 <= Count; I += 8) {
        const __m256i F = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(R0 + I));
        const __m256i B = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(R1 + I));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + I), Mix8(F, B, Wv, Wv));
    }
    for (; I < Count; ++I)
        Out[I] = MixScalar(R0[I], R1[I], W);
}

// V must be readable 16 entries past the last index used.
void Avx2MixColumns(const uint32_t* V, const int32_t* X0, const int32_t* X1, const uint32_t* WX, uint32_t* Out,
                    int32_t Count)
{
    const int* Base = reinterpret_cast<const int*>(V);
    int32_t I = 0;
    for (; I + 8 <= Count; I += 8) {
        __m256i I0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(X0 + I));
        __m256i I1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(X1 + I));
        __m256i F, B;
        // The indices only grow: when eight pixels draw on a window of 16 source columns
        // (any scale down to 1/2), two loads and permutes replace the slow gathers.
        const int32_t First = X0[I];
        if (X0[I + 7] - First == 7 && X1[I + 7] - X1[I] == 7) {
            // Near 1:1 the eight pixels read consecutive columns.
            F = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(V + First));
            B = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(V + X1[I]));
        } else if (X1[I + 7] - First < 16) {
            const __m256i Lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(V + First));
            const __m256i Hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(V + First + 8));
            const __m256i Shift = _mm256_set1_epi32(First);
            F = Select16(Lo, Hi, _mm256_sub_epi32(I0, Shift));
            B = Select16(Lo, Hi, _mm256_sub_epi32(I1, Shift));
        } else {
            F = _mm256_i32gather_epi32(Base, I0, 4);
            B = _mm256_i32gather_epi32(Base, I1, 4);
        }
        __m256i W = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(WX + I));
        W = _mm256_or_si256(W, _mm256_slli_epi32(W, 16)); // the weight in both 16-bit halves
        // Pixels 0, 1 (4, 5) unpack to the low halves of the lanes, 2, 3 (6, 7) to the high.
        const __m256i WLo = _mm256_unpacklo_epi32(W, W), WHi = _mm256_unpackhi_epi32(W, W);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + I), Mix8(F, B, WLo, WHi));
    }
    for (; I < Count; ++I)
        Out[I] = MixScalar(V[X0[I]], V[X1[I]], WX[I]);
}

} // namespace kv

#endif
