// The run routines on AVX2: eight pixels per step, the same lane arithmetic as the SSE2
// set. Chosen only after the processor test finds AVX2.
//
// This file includes nothing but the intrinsics and fixed-width integers: an inline
// function from a shared header compiled here would carry AVX2 instructions, and the
// linker could keep that copy for callers on processors without AVX2.
#if defined(__x86_64__) || defined(__i386__)

#include <cstdint>
#include <immintrin.h>

namespace kv {

namespace {

inline uint32_t LimitByte(uint32_t X) { return X > 255 ? 255 : X; }

// Per 16-bit lane ((F - B) * w + (B shl 8) + 128) shr 8 = (F * w + B * (256 - w) + 128) shr 8.
inline __m256i Mix8(__m256i F, __m256i B, __m256i WLo, __m256i WHi)
{
    const __m256i Zero = _mm256_setzero_si256();
    const __m256i Bias = _mm256_set1_epi8(char(0x80));
    __m256i Lo = _mm256_sub_epi16(_mm256_unpacklo_epi8(F, Zero), _mm256_unpacklo_epi8(B, Zero));
    __m256i Hi = _mm256_sub_epi16(_mm256_unpackhi_epi8(F, Zero), _mm256_unpackhi_epi8(B, Zero));
    // B shl 8 + 128 straight from an unpack with the bias byte below it.
    Lo = _mm256_add_epi16(_mm256_mullo_epi16(Lo, WLo), _mm256_unpacklo_epi8(Bias, B));
    Hi = _mm256_add_epi16(_mm256_mullo_epi16(Hi, WHi), _mm256_unpackhi_epi8(Bias, B));
    return _mm256_packus_epi16(_mm256_srli_epi16(Lo, 8), _mm256_srli_epi16(Hi, 8));
}

// Alpha bytes of the pixels that unpacklo/unpackhi widen, spread over the pixel's four lanes.
inline __m256i AlphaLo(__m256i F)
{
    const __m256i Pick = _mm256_setr_epi8(3, -1, 3, -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1, //
                                          3, -1, 3, -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1);
    return _mm256_shuffle_epi8(F, Pick);
}

inline __m256i AlphaHi(__m256i F)
{
    const __m256i Pick = _mm256_setr_epi8(11, -1, 11, -1, 11, -1, 11, -1, 15, -1, 15, -1, 15, -1, 15, -1, //
                                          11, -1, 11, -1, 11, -1, 11, -1, 15, -1, 15, -1, 15, -1, 15, -1);
    return _mm256_shuffle_epi8(F, Pick);
}

inline __m256i BlendRun8(__m256i F, __m256i B)
{
    __m256i R = Mix8(F, B, AlphaLo(F), AlphaHi(F));
    // Opaque pixels are stored as they stand, not as the weight-255 mix.
    __m256i Opaque = _mm256_cmpeq_epi32(_mm256_srai_epi32(F, 24), _mm256_set1_epi32(-1));
    return _mm256_blendv_epi8(R, F, Opaque);
}

inline __m256i BlendRunMaster8(__m256i F, __m256i B, __m256i M16)
{
    // (alpha * M) shr 8 as the high half of alpha * (M shl 8).
    return Mix8(F, B, _mm256_mulhi_epu16(AlphaLo(F), M16), _mm256_mulhi_epu16(AlphaHi(F), M16));
}

// Lanes 0..Count-1 on, for the last partial step (masked loads never touch the rest).
inline __m256i TailMask(int32_t Count)
{
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(Count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

} // namespace

void Avx2BlendRun(const uint32_t* Src, uint32_t* Dst, int32_t Count)
{
    const __m256i AlphaMask = _mm256_set1_epi32(int(0xFF000000u));
    int32_t I = 0;
    for (; I + 8 <= Count; I += 8) {
        __m256i F = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Src + I));
        __m256i* D = reinterpret_cast<__m256i*>(Dst + I);
        // Whole transparent or whole opaque steps, common in real layers, skip the arithmetic.
        __m256i Alpha = _mm256_and_si256(F, AlphaMask);
        if (_mm256_testz_si256(Alpha, Alpha))
            continue;
        if (_mm256_testc_si256(Alpha, AlphaMask)) {
            _mm256_storeu_si256(D, F);
            continue;
        }
        _mm256_storeu_si256(D, BlendRun8(F, _mm256_loadu_si256(D)));
    }
    if (I < Count) {
        __m256i Mask = TailMask(Count - I);
        auto* S = reinterpret_cast<const int*>(Src + I);
        auto* D = reinterpret_cast<int*>(Dst + I);
        __m256i F = _mm256_maskload_epi32(S, Mask);
        _mm256_maskstore_epi32(D, Mask, BlendRun8(F, _mm256_maskload_epi32(D, Mask)));
    }
}

void Avx2BlendRunMaster(const uint32_t* Src, uint32_t* Dst, int32_t Count, uint32_t M)
{
    const __m256i M16 = _mm256_set1_epi16(short(LimitByte(M) << 8));
    int32_t I = 0;
    for (; I + 8 <= Count; I += 8) {
        __m256i F = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Src + I));
        __m256i* D = reinterpret_cast<__m256i*>(Dst + I);
        _mm256_storeu_si256(D, BlendRunMaster8(F, _mm256_loadu_si256(D), M16));
    }
    if (I < Count) {
        __m256i Mask = TailMask(Count - I);
        auto* S = reinterpret_cast<const int*>(Src + I);
        auto* D = reinterpret_cast<int*>(Dst + I);
        __m256i F = _mm256_maskload_epi32(S, Mask);
        _mm256_maskstore_epi32(D, Mask, BlendRunMaster8(F, _mm256_maskload_epi32(D, Mask), M16));
    }
}

} // namespace kv

#endif
