// AVX-512 kernels of the linear stretch near 1:1 (the vertical mix and the runs of
// consecutive columns): the AVX2 lane arithmetic on sixteen pixels per step; and the
// nearest row's picks from a window of 32 pixels. Only these
// functions are compiled for AVX-512 (by the target pragma below, after every include),
// so no inline function of a shared header gets a copy that needs it.
#include "raster/Raster32_Resample.h"

#include "raster/Raster32_CPUid.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace kv {

namespace {

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,avx512f,avx512bw"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512bw")
#endif

// B + ((F - B) * W + 128) shr 8 with W7 = W shl 7, as in the AVX2 set.
inline __m512i Mix32(__m512i F, __m512i B, __m512i W7)
{
    return _mm512_add_epi16(B, _mm512_mulhrs_epi16(_mm512_sub_epi16(F, B), W7));
}

void Avx512LinearVert(const TColor32* R0, const TColor32* R1, int32_t Count, uint32_t Wy, TColor32* Out)
{
    const __m512i zero = _mm512_setzero_si512(), w = _mm512_set1_epi16(int16_t(Wy << 7));
    int32_t i = 0;
    for (; i + 16 <= Count; i += 16) {
        const __m512i a = _mm512_loadu_si512(R0 + i), b = _mm512_loadu_si512(R1 + i);
        // The unpacks and the pack work within each 128-bit lane: the pixels keep their order.
        const __m512i lo = Mix32(_mm512_unpacklo_epi8(a, zero), _mm512_unpacklo_epi8(b, zero), w);
        const __m512i hi = Mix32(_mm512_unpackhi_epi8(a, zero), _mm512_unpackhi_epi8(b, zero), w);
        _mm512_storeu_si512(Out + i, _mm512_packus_epi16(lo, hi));
    }
    if (i < Count)
        Avx2ResampleKernels()->LinearVert(R0 + i, R1 + i, Count - i, Wy, Out + i);
}

// Byte pickers of the weights: for lane k, (4k, -1) four times then (4k + 1, -1) four
// times (SpreadLo), and the same from 4k + 2 (SpreadHi).
#define KV_SPREAD(A, B) A, -1, A, -1, A, -1, A, -1, B, -1, B, -1, B, -1, B, -1
const int8_t SpreadLo[64] = {KV_SPREAD(0, 1), KV_SPREAD(4, 5), KV_SPREAD(8, 9), KV_SPREAD(12, 13)};
const int8_t SpreadHi[64] = {KV_SPREAD(2, 3), KV_SPREAD(6, 7), KV_SPREAD(10, 11), KV_SPREAD(14, 15)};
#undef KV_SPREAD

void Avx512LinearHorzRun(const TColor32* Vert, const uint8_t* Wx, int32_t Count, TColor32* Out)
{
    const __m512i zero = _mm512_setzero_si512();
    // Sixteen weight bytes in every lane; lane k widens pixels 4k, 4k + 1 (unpacklo) and
    // 4k + 2, 4k + 3 (unpackhi), each weight over its pixel's four 16-bit lanes.
    const __m512i spreadLo = _mm512_loadu_si512(SpreadLo), spreadHi = _mm512_loadu_si512(SpreadHi);
    auto step = [&](int32_t i, __m512i L, __m512i R) {
        const __m512i wb =
            _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Wx + i)));
        const __m512i wlo = _mm512_slli_epi16(_mm512_shuffle_epi8(wb, spreadLo), 7);
        const __m512i whi = _mm512_slli_epi16(_mm512_shuffle_epi8(wb, spreadHi), 7);
        const __m512i lo = Mix32(_mm512_unpacklo_epi8(L, zero), _mm512_unpacklo_epi8(R, zero), wlo);
        const __m512i hi = Mix32(_mm512_unpackhi_epi8(L, zero), _mm512_unpackhi_epi8(R, zero), whi);
        _mm512_storeu_si512(Out + i, _mm512_packus_epi16(lo, hi));
    };
    int32_t i = 0;
    if (Count >= 31) {
        // Columns i + 1 .. i + 16 from this load and the next one, which the next step
        // keeps: one load per step (unaligned 64-byte loads mostly span two cache lines).
        __m512i L = _mm512_loadu_si512(Vert);
        for (; i + 32 <= Count + 1; i += 16) {
            const __m512i N = _mm512_loadu_si512(Vert + i + 16);
            step(i, L, _mm512_maskz_alignr_epi32(0xFFFF, N, L, 1));
            L = N;
        }
    }
    for (; i + 16 <= Count; i += 16)
        step(i, _mm512_loadu_si512(Vert + i), _mm512_loadu_si512(Vert + i + 1));
    if (i < Count)
        Avx2ResampleKernels()->LinearHorzRun(Vert + i, Wx + i, Count - i, Out + i);
}

// Sixteen pixels a step: one two-source permute picks the even pixels of two loads. The
// last step and the streamed stores as in the SSE2 kernel.
template <TRowStore Store> void Avx512HalfRow(const TColor32* Row, int32_t Count, TColor32* Out)
{
    const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i evenLast = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 17, 19, 21, 23, 25, 27, 29, 31);
    auto put = [Out](int32_t I, __m512i Pixels) {
        if (Store == rsStreamed)
            _mm512_stream_si512(reinterpret_cast<__m512i*>(Out + I), Pixels);
        else
            _mm512_storeu_si512(Out + I, Pixels);
    };
    int32_t i = 0;
    if (Store == rsStreamed)
        for (; i < Count && (reinterpret_cast<uintptr_t>(Out + i) & 63) != 0; ++i)
            Out[i] = Row[2 * i];
    for (; i + 16 < Count; i += 16)
        put(i, _mm512_permutex2var_epi32(_mm512_loadu_si512(Row + 2 * i), even, _mm512_loadu_si512(Row + 2 * i + 16)));
    if (i + 16 == Count) {
        put(i,
            _mm512_permutex2var_epi32(_mm512_loadu_si512(Row + 2 * i), evenLast, _mm512_loadu_si512(Row + 2 * i + 15)));
        i += 16;
    }
    if (i < Count)
        Avx2ResampleKernels()->NearestHalfRow(Row + 2 * i, Count - i, Out + i, rsCached);
    if (Store == rsStreamed)
        _mm_sfence();
}

void Avx512NearestHalfRow(const TColor32* Row, int32_t Count, TColor32* Out, TRowStore Store)
{
    if (Store == rsStreamed)
        Avx512HalfRow<rsStreamed>(Row, Count, Out);
    else
        Avx512HalfRow<rsCached>(Row, Count, Out);
}

// Eight pixels from a window of 32 (two loads and one two-source permute), so that
// shrinks down to about a quarter pick their pixels without loads one by one; wider
// steps, and windows that would pass the row's end, take the AVX2 kernel's road.
// (The pixels in the low half of the result.)
inline __m512i Avx512Pick8(const TColor32* Row, int32_t RowWidth, const int32_t* X)
{
    const int32_t first = X[0];
    const __m512i spread = _mm512_sub_epi32(_mm512_maskz_loadu_epi32(0xFF, X), _mm512_set1_epi32(first));
    // Unsigned: a column before the first is a huge spread.
    if (first > RowWidth - 32 || _mm512_mask_cmpgt_epu32_mask(0xFF, spread, _mm512_set1_epi32(31)) != 0) {
        TColor32 p[8];
        Avx2ResampleKernels()->NearestRow(Row, RowWidth, X, 8, p, rsCached);
        return _mm512_maskz_loadu_epi32(0xFF, p);
    }
    return _mm512_permutex2var_epi32(_mm512_loadu_si512(Row + first), spread, _mm512_loadu_si512(Row + first + 16));
}

// Sixteen pixels a step: when they lie within the 32 pixels from the first (shrinks to
// about two thirds, every enlargement), one permute of two loads picks them all, else two
// steps of eight. Whole 64-byte stores; streamed ones start at a line, as in the half row.
template <TRowStore Store>
void Avx512Nearest(const TColor32* Row, int32_t RowWidth, const int32_t* X, int32_t Count, TColor32* Out)
{
    const __m512i limit = _mm512_set1_epi32(31);
    int32_t i = 0;
    if (Store == rsStreamed)
        for (; i < Count && (reinterpret_cast<uintptr_t>(Out + i) & 63) != 0; ++i)
            Out[i] = Row[X[i]];
    for (; i + 16 <= Count; i += 16) {
        const int32_t first = X[i];
        const __m512i at = _mm512_sub_epi32(_mm512_loadu_si512(X + i), _mm512_set1_epi32(first));
        __m512i p;
        if (first <= RowWidth - 32 && _mm512_cmpgt_epu32_mask(at, limit) == 0)
            p = _mm512_permutex2var_epi32(_mm512_loadu_si512(Row + first), at, _mm512_loadu_si512(Row + first + 16));
        else
            p = _mm512_maskz_shuffle_i64x2(0xFF, Avx512Pick8(Row, RowWidth, X + i),
                                           Avx512Pick8(Row, RowWidth, X + i + 8), 0x44);
        if (Store == rsStreamed)
            _mm512_stream_si512(reinterpret_cast<__m512i*>(Out + i), p);
        else
            _mm512_storeu_si512(Out + i, p);
    }
    if (i + 8 <= Count) {
        _mm512_mask_storeu_epi32(Out + i, 0xFF, Avx512Pick8(Row, RowWidth, X + i));
        i += 8;
    }
    for (; i < Count; ++i)
        Out[i] = Row[X[i]];
    if (Store == rsStreamed)
        _mm_sfence();
}

void Avx512NearestRow(const TColor32* Row, int32_t RowWidth, const int32_t* X, int32_t Count, TColor32* Out,
                      TRowStore Store)
{
    if (Store == rsStreamed)
        Avx512Nearest<rsStreamed>(Row, RowWidth, X, Count, Out);
    else
        Avx512Nearest<rsCached>(Row, RowWidth, X, Count, Out);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

} // namespace

const TResampleKernels* Avx512ResampleKernels()
{
    static const TResampleKernels* kernels = []() -> const TResampleKernels* {
        static TResampleKernels k;
        const TResampleKernels* base = Avx2ResampleKernels();
        if (!base || !CpuHasAvx512Bw())
            return nullptr;
        k = *base;
        k.LinearVert = Avx512LinearVert;
        k.LinearHorzRun = Avx512LinearHorzRun;
        k.NearestHalfRow = Avx512NearestHalfRow;
        k.NearestRow = Avx512NearestRow;
        return &k;
    }();
    return kernels;
}

} // namespace kv

#else

namespace kv {
const TResampleKernels* Avx512ResampleKernels() { return nullptr; }
} // namespace kv

#endif
