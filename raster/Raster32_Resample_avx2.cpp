// AVX2 kernels of the linear stretch: the MixPixel lane formula on sixteen lanes. The
// affine bilinear kernel stays SSE2.
#include "raster/Raster32_Resample.h"

#include "raster/Raster32_CPUid.h"

#include <cstring>

#ifdef __AVX2__
#include <immintrin.h>
#endif

namespace kv {

#ifdef __AVX2__

namespace {

// B + ((F - B) * W + 128) shr 8 (arithmetic) is the lane formula exactly, and with W7 =
// W shl 7 the rounded high product of pmulhrsw is that shifted term: (F - B) * W7 + 2^14
// shr 15. Every intermediate stays in a signed 16-bit lane.
inline __m256i Mix16(__m256i F, __m256i B, __m256i W7)
{
    return _mm256_add_epi16(B, _mm256_mulhrs_epi16(_mm256_sub_epi16(F, B), W7));
}

void Avx2LinearVert(const TColor32* R0, const TColor32* R1, int32_t Count, uint32_t Wy, uint64_t* Out)
{
    const __m256i w = _mm256_set1_epi16(int16_t(Wy << 7));
    int32_t i = 0;
    for (; i + 4 <= Count; i += 4) {
        __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(R0 + i)));
        __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(R1 + i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), Mix16(a, b, w));
    }
    if (i < Count)
        Sse2ResampleKernels()->LinearVert(R0 + i, R1 + i, Count - i, Wy, Out + i);
}

void Avx2LinearHorz(const uint64_t* Vert, const int32_t* X0, const uint64_t* WxLanes, int32_t Count, TColor32* Out)
{
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int32_t i = 0;
    for (; i + 4 <= Count; i += 4) {
        // [left right] pairs of four pixels, regrouped lane-wise as F = lefts, B = rights:
        // pixels 0 and 2 in the low half, 1 and 3 in the high half.
        __m256i ab = _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Vert + X0[i + 1])),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(Vert + X0[i])));
        __m256i cd = _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Vert + X0[i + 3])),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(Vert + X0[i + 2])));
        __m256i w = _mm256_slli_epi16(
            _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(WxLanes + i)), 0xD8), 7);
        __m256i r = Mix16(_mm256_unpacklo_epi64(ab, cd), _mm256_unpackhi_epi64(ab, cd), w);
        __m256i packed = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(r, r), order);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + i), _mm256_castsi256_si128(packed));
    }
    if (i < Count)
        Sse2ResampleKernels()->LinearHorz(Vert, X0 + i, WxLanes + i, Count - i, Out + i);
}

// Pixels x and x + 1 of a row for two destination pixels: [L0 R0 L1 R1], 8-bit.
inline __m128i PairsOf(const TColor32* Row, int32_t X0, int32_t X1)
{
    __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(Row + X0));
    return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(p), reinterpret_cast<const double*>(Row + X1)));
}

void Avx2LinearRow(const TColor32* R0, const TColor32* R1, uint32_t Wy, const int32_t* X0, const uint8_t* Wx,
                   const uint8_t* Near, int32_t Count, TColor32* Out)
{
    const __m256i zero = _mm256_setzero_si256(), wy = _mm256_set1_epi16(int16_t(Wy << 7));
    // Four weight bytes to [w0 w1 | w2 w3], each in the four 16-bit lanes of a pixel.
    const __m256i spread = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 1, -1, 1, -1, 1, -1, 1, -1,
                                            2, -1, 2, -1, 2, -1, 2, -1, 3, -1, 3, -1, 3, -1, 3, -1);
    int32_t i = 0;
    for (; i + 4 <= Count; i += 4) {
        int32_t wbytes;
        std::memcpy(&wbytes, Wx + i, 4);
        const __m256i w = _mm256_slli_epi16(_mm256_shuffle_epi8(_mm256_set1_epi32(wbytes), spread), 7);
        const uint8_t* near = Near + 2 * i;
        __m256i a, b;
        if (near[0] != NoNear) {
            // The eight pixels from the group's first column, the pairs picked out of them:
            // [L0 R0 L1 R1 | L2 R2 L3 R3].
            const __m256i pick = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(near)));
            a = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(R0 + X0[i])), pick);
            b = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(R1 + X0[i])), pick);
        } else {
            a = _mm256_set_m128i(PairsOf(R0, X0[i + 2], X0[i + 3]), PairsOf(R0, X0[i], X0[i + 1]));
            b = _mm256_set_m128i(PairsOf(R1, X0[i + 2], X0[i + 3]), PairsOf(R1, X0[i], X0[i + 1]));
        }
        // Vertical mixes of [L0 R0 | L2 R2] and [L1 R1 | L3 R3], then the lefts against the
        // rights: [P0 P1 | P2 P3].
        const __m256i v02 = Mix16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), wy);
        const __m256i v13 = Mix16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), wy);
        const __m256i r = Mix16(_mm256_unpacklo_epi64(v02, v13), _mm256_unpackhi_epi64(v02, v13), w);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(r, r), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + i), _mm256_castsi256_si128(packed));
    }
    if (i < Count)
        Sse2ResampleKernels()->LinearRow(R0, R1, Wy, X0 + i, Wx + i, nullptr, Count - i, Out + i);
}

} // namespace

const TResampleKernels* Avx2ResampleKernels()
{
    static const TResampleKernels* kernels = [] () -> const TResampleKernels* {
        static TResampleKernels k;
        const TResampleKernels* base = Sse2ResampleKernels();
        if (!base || !CpuHasAvx2())
            return nullptr;
        k = *base;
        k.LinearVert = Avx2LinearVert;
        k.LinearHorz = Avx2LinearHorz;
        k.LinearRow = Avx2LinearRow;
        k.LinearRowShrinks = true;
        return &k;
    }();
    return kernels;
}

#else

const TResampleKernels* Avx2ResampleKernels() { return nullptr; }

#endif

} // namespace kv
