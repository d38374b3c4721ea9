// AVX2 passes of the linear stretch: the MixPixel lane formula on sixteen lanes. The
// affine bilinear kernel stays SSE2.
#include "raster/Raster32_Resample.h"

#include "raster/Raster32_CPUid.h"

#ifdef __AVX2__
#include <immintrin.h>
#endif

namespace kv {

#ifdef __AVX2__

namespace {

inline __m256i Mix16(__m256i F, __m256i B, __m256i W)
{
    const __m256i bias = _mm256_set1_epi16(128);
    __m256i d = _mm256_mullo_epi16(_mm256_sub_epi16(F, B), W);
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(d, _mm256_slli_epi16(B, 8)), bias), 8);
}

void Avx2LinearVert(const TColor32* R0, const TColor32* R1, int32_t Count, uint32_t Wy, uint64_t* Out)
{
    const __m256i w = _mm256_set1_epi16(int16_t(Wy));
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
        __m256i w = _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(WxLanes + i)), 0xD8);
        __m256i r = Mix16(_mm256_unpacklo_epi64(ab, cd), _mm256_unpackhi_epi64(ab, cd), w);
        __m256i packed = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(r, r), order);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + i), _mm256_castsi256_si128(packed));
    }
    if (i < Count)
        Sse2ResampleKernels()->LinearHorz(Vert, X0 + i, WxLanes + i, Count - i, Out + i);
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
        return &k;
    }();
    return kernels;
}

#else

const TResampleKernels* Avx2ResampleKernels() { return nullptr; }

#endif

} // namespace kv
