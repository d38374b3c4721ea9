// The vector blend set on SSE2, the x86-64 baseline. Every routine gives the pixels of
// the scalar reference: per 16-bit lane ((F - B) * w + (B shl 8) + 128) shr 8, which
// equals (F * w + B * (256 - w) + 128) shr 8 and never leaves the lane.
#include "raster/Raster32_Blend.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kv {

#if defined(__SSE2__)

namespace {

inline uint32_t LimitByte(uint32_t X) { return X > 255 ? 255 : X; }

// B shl 8 + 128 in each lane, from one unpack: the bias byte becomes the low half.
inline __m128i BiasedLo(__m128i B) { return _mm_unpacklo_epi8(_mm_set1_epi8(char(0x80)), B); }
inline __m128i BiasedHi(__m128i B) { return _mm_unpackhi_epi8(_mm_set1_epi8(char(0x80)), B); }

inline __m128i MixLanes(__m128i F16, __m128i B16, __m128i B16Biased, __m128i W16)
{
    __m128i Diff = _mm_sub_epi16(F16, B16);
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(Diff, W16), B16Biased), 8);
}

// Four pixels, each with the weight in all four lanes of its own half.
inline __m128i Mix4(__m128i F, __m128i B, __m128i WLo, __m128i WHi)
{
    const __m128i Zero = _mm_setzero_si128();
    __m128i Lo = MixLanes(_mm_unpacklo_epi8(F, Zero), _mm_unpacklo_epi8(B, Zero), BiasedLo(B), WLo);
    __m128i Hi = MixLanes(_mm_unpackhi_epi8(F, Zero), _mm_unpackhi_epi8(B, Zero), BiasedHi(B), WHi);
    return _mm_packus_epi16(Lo, Hi);
}

// Alpha (lane 3 of each pixel) copied to the pixel's four lanes.
inline __m128i BroadcastAlpha(__m128i F16) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(F16, 0xFF), 0xFF); }

inline uint32_t Mix1(uint32_t F, uint32_t B, uint32_t W)
{
    __m128i W16 = _mm_set1_epi16(short(W));
    __m128i P = Mix4(_mm_cvtsi32_si128(int(F)), _mm_cvtsi32_si128(int(B)), W16, W16);
    return uint32_t(_mm_cvtsi128_si32(P));
}

uint32_t Sse2MixPixel(uint32_t F, uint32_t B, uint32_t W) { return Mix1(F, B, LimitByte(W)); }

void Sse2MixPixelInPlace(uint32_t F, uint32_t& B, uint32_t W)
{
    W = LimitByte(W);
    if (W == 0)
        return;
    B = W == 255 ? F : Mix1(F, B, W);
}

uint32_t Sse2BlendPixel(uint32_t F, uint32_t B) { return Mix1(F, B, F >> 24); }

void Sse2BlendPixelInPlace(uint32_t F, uint32_t& B)
{
    uint32_t A = F >> 24;
    if (A == 0)
        return;
    B = A == 255 ? F : Mix1(F, B, A);
}

uint32_t Sse2BlendPixelMaster(uint32_t F, uint32_t B, uint32_t M)
{
    uint32_t W = ((F >> 24) * LimitByte(M)) >> 8;
    return W == 0 ? B : Mix1(F, B, W);
}

void Sse2BlendPixelMasterInPlace(uint32_t F, uint32_t& B, uint32_t M)
{
    uint32_t W = ((F >> 24) * LimitByte(M)) >> 8;
    if (W != 0)
        B = Mix1(F, B, W);
}

void Sse2BlendRun(const uint32_t* Src, uint32_t* Dst, int32_t Count)
{
    const __m128i Zero = _mm_setzero_si128();
    const __m128i AllOnes = _mm_set1_epi32(-1);
    const __m128i AlphaMask = _mm_set1_epi32(int(0xFF000000u));
    int32_t I = 0;
    for (; I + 4 <= Count; I += 4) {
        __m128i F = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + I));
        // Transparent runs leave Dst alone (a mix with weight 0 would give it back anyway).
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(F, AlphaMask), Zero)) == 0xFFFF)
            continue;
        __m128i Opaque = _mm_cmpeq_epi32(_mm_srai_epi32(F, 24), AllOnes);
        __m128i* D = reinterpret_cast<__m128i*>(Dst + I);
        if (_mm_movemask_epi8(Opaque) == 0xFFFF) {
            _mm_storeu_si128(D, F);
            continue;
        }
        __m128i B = _mm_loadu_si128(D);
        __m128i WLo = BroadcastAlpha(_mm_unpacklo_epi8(F, Zero));
        __m128i WHi = BroadcastAlpha(_mm_unpackhi_epi8(F, Zero));
        __m128i R = Mix4(F, B, WLo, WHi);
        // Opaque pixels are stored as they stand, not as the weight-255 mix.
        R = _mm_or_si128(_mm_and_si128(Opaque, F), _mm_andnot_si128(Opaque, R));
        _mm_storeu_si128(D, R);
    }
    for (; I < Count; ++I)
        Sse2BlendPixelInPlace(Src[I], Dst[I]);
}

void Sse2BlendRunMaster(const uint32_t* Src, uint32_t* Dst, int32_t Count, uint32_t M)
{
    const __m128i Zero = _mm_setzero_si128();
    // (alpha * M) shr 8 as the high half of alpha * (M shl 8).
    const __m128i M16 = _mm_set1_epi16(short(LimitByte(M) << 8));
    int32_t I = 0;
    for (; I + 4 <= Count; I += 4) {
        __m128i F = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + I));
        __m128i* D = reinterpret_cast<__m128i*>(Dst + I);
        __m128i B = _mm_loadu_si128(D);
        __m128i WLo = _mm_mulhi_epu16(BroadcastAlpha(_mm_unpacklo_epi8(F, Zero)), M16);
        __m128i WHi = _mm_mulhi_epu16(BroadcastAlpha(_mm_unpackhi_epi8(F, Zero)), M16);
        _mm_storeu_si128(D, Mix4(F, B, WLo, WHi));
    }
    for (; I < Count; ++I)
        Sse2BlendPixelMasterInPlace(Src[I], Dst[I], M);
}

} // namespace

const TBlendRoutines* Sse2BlendRoutines()
{
    static const TBlendRoutines R{Sse2MixPixel,          Sse2MixPixelInPlace,  Sse2BlendPixel,
                                  Sse2BlendPixelInPlace, Sse2BlendPixelMaster, Sse2BlendPixelMasterInPlace,
                                  Sse2BlendRun,          Sse2BlendRunMaster};
    return &R;
}

#else

const TBlendRoutines* Sse2BlendRoutines() { return nullptr; }

#endif

} // namespace kv
