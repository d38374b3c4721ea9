// SSE2 row kernels of the resamplers: the MixPixel lane formula on eight 16-bit lanes,
// ((F - B) * W + (B shl 8) + 128) shr 8, which wraps exactly as the plain arithmetic.
#include "raster/Raster32_Resample.h"

#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace kv {

#ifdef __SSE2__

namespace {

inline __m128i Mix16(__m128i F, __m128i B, __m128i W)
{
    const __m128i bias = _mm_set1_epi16(128);
    __m128i d = _mm_mullo_epi16(_mm_sub_epi16(F, B), W);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(d, _mm_slli_epi16(B, 8)), bias), 8);
}

void Sse2LinearVert(const TColor32* R0, const TColor32* R1, int32_t Count, uint32_t Wy, TColor32* Out)
{
    const __m128i zero = _mm_setzero_si128(), w = _mm_set1_epi16(int16_t(Wy));
    int32_t i = 0;
    for (; i + 4 <= Count; i += 4) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(R0 + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(R1 + i));
        __m128i lo = Mix16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), w);
        __m128i hi = Mix16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), w);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + i), _mm_packus_epi16(lo, hi));
    }
    for (; i < Count; ++i) {
        __m128i a = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(R0[i])), zero);
        __m128i b = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(R1[i])), zero);
        __m128i r = Mix16(a, b, w);
        Out[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
    }
}

void Sse2LinearHorz(const TColor32* Vert, const int32_t* X0, const uint8_t* Wx, int32_t Count, TColor32* Out)
{
    const __m128i zero = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 2 <= Count; i += 2) {
        // [left right] of each of the two pixels, regrouped as F = lefts, B = rights.
        __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Vert + X0[i])), zero);
        __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Vert + X0[i + 1])), zero);
        __m128i w = _mm_unpacklo_epi64(_mm_set1_epi16(int16_t(Wx[i])), _mm_set1_epi16(int16_t(Wx[i + 1])));
        __m128i r = Mix16(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b), w);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(Out + i), _mm_packus_epi16(r, r));
    }
    for (; i < Count; ++i) {
        __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Vert + X0[i])), zero);
        __m128i r = Mix16(a, _mm_unpackhi_epi64(a, a), _mm_set1_epi16(int16_t(Wx[i])));
        Out[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
    }
}

void Sse2LinearHorzRun(const TColor32* Vert, const uint8_t* Wx, int32_t Count, TColor32* Out)
{
    const __m128i zero = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 2 <= Count; i += 2) {
        // Columns i, i + 1 against i + 1, i + 2.
        __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Vert + i)), zero);
        __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Vert + i + 1)), zero);
        __m128i w = _mm_unpacklo_epi64(_mm_set1_epi16(int16_t(Wx[i])), _mm_set1_epi16(int16_t(Wx[i + 1])));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(Out + i), _mm_packus_epi16(Mix16(a, b, w), zero));
    }
    for (; i < Count; ++i) {
        __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Vert + i)), zero);
        __m128i r = Mix16(a, _mm_unpackhi_epi64(a, a), _mm_set1_epi16(int16_t(Wx[i])));
        Out[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
    }
}

// The two neighbours x and x + 1 of a row as one 64-bit load.
inline __m128i Pair(const TColor32* Row, int32_t X)
{
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(Row + X));
}

inline __m128i Weight(uint8_t W) { return _mm_set1_epi16(int16_t(W)); }

void Sse2LinearRow(const TColor32* R0, const TColor32* R1, uint32_t Wy, const int32_t* X0, const uint8_t* Wx,
                   const uint8_t* /*Near*/, int32_t Count, TColor32* Out)
{
    const __m128i zero = _mm_setzero_si128(), wy = _mm_set1_epi16(int16_t(Wy));
    int32_t i = 0;
    for (; i + 2 <= Count; i += 2) {
        // Vertical mixes give [left | right] of each pixel; regrouped as F = lefts, B = rights.
        __m128i a = _mm_unpacklo_epi64(Pair(R0, X0[i]), Pair(R0, X0[i + 1]));
        __m128i b = _mm_unpacklo_epi64(Pair(R1, X0[i]), Pair(R1, X0[i + 1]));
        __m128i v0 = Mix16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), wy);
        __m128i v1 = Mix16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), wy);
        __m128i w = _mm_unpacklo_epi64(Weight(Wx[i]), Weight(Wx[i + 1]));
        __m128i r = Mix16(_mm_unpacklo_epi64(v0, v1), _mm_unpackhi_epi64(v0, v1), w);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(Out + i), _mm_packus_epi16(r, r));
    }
    for (; i < Count; ++i) {
        __m128i v = Mix16(_mm_unpacklo_epi8(Pair(R0, X0[i]), zero), _mm_unpacklo_epi8(Pair(R1, X0[i]), zero), wy);
        __m128i r = Mix16(v, _mm_unpackhi_epi64(v, v), Weight(Wx[i]));
        Out[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
    }
}

void Sse2BilinearAffine(const TColor32* Bits, int32_t Stride, int64_t Ax, int64_t Ay, int64_t StepX, int64_t StepY,
                        int32_t Count, TColor32* Out)
{
    const __m128i zero = _mm_setzero_si128();
    for (int32_t i = 0; i < Count; ++i, Ax += StepX, Ay += StepY) {
        const int64_t fx = Ax >> 4, fy = Ay >> 4;
        const TColor32* r = Bits + (fy >> 8) * Stride + (fx >> 8);
        // [p00 p10] and [p01 p11], then F = [p00 | p01], B = [p10 | p11]: one mix gives
        // [top | bottom] with the horizontal weight, a second the vertical result.
        __m128i upper = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r)), zero);
        __m128i lower = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r + Stride)), zero);
        __m128i wx = _mm_set1_epi16(int16_t(255 - (fx & 255)));
        __m128i wy = _mm_set1_epi16(int16_t(255 - (fy & 255)));
        __m128i tb = Mix16(_mm_unpacklo_epi64(upper, lower), _mm_unpackhi_epi64(upper, lower), wx);
        __m128i v = Mix16(tb, _mm_unpackhi_epi64(tb, tb), wy);
        Out[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    }
}

// SSE2 has no permute by lane: the nearest row is picked pixel by pixel, four to a
// streamed store when asked (from a 64-byte line, as in the half row).
void Sse2NearestRow(const TColor32* Row, int32_t /*RowWidth*/, const int32_t* X, int32_t Count, TColor32* Out,
                    TRowStore Store)
{
    int32_t i = 0;
    if (Store == rsStreamed) {
        for (; i < Count && (reinterpret_cast<uintptr_t>(Out + i) & 63) != 0; ++i)
            Out[i] = Row[X[i]];
        for (; i + 4 <= Count; i += 4)
            _mm_stream_si128(
                reinterpret_cast<__m128i*>(Out + i),
                _mm_setr_epi32(int(Row[X[i]]), int(Row[X[i + 1]]), int(Row[X[i + 2]]), int(Row[X[i + 3]])));
    }
    for (; i < Count; ++i)
        Out[i] = Row[X[i]];
    if (Store == rsStreamed)
        _mm_sfence();
}

// Four pixels a step: a shuffle keeps the even pixels of two loads. The last step loads
// its second half a pixel early, so as not to read past the last pixel wanted, and keeps
// that load's odd pixels. Streamed stores start at a 64-byte line: a line only partly
// streamed, with the rest stored through the cache, is written to memory in pieces.
template <TRowStore Store> void Sse2HalfRow(const TColor32* Row, int32_t Count, TColor32* Out)
{
    auto put = [Out](int32_t I, __m128 Pixels) {
        auto* to = reinterpret_cast<__m128i*>(Out + I);
        if (Store == rsStreamed)
            _mm_stream_si128(to, _mm_castps_si128(Pixels));
        else
            _mm_storeu_si128(to, _mm_castps_si128(Pixels));
    };
    int32_t i = 0;
    if (Store == rsStreamed)
        for (; i < Count && (reinterpret_cast<uintptr_t>(Out + i) & 63) != 0; ++i)
            Out[i] = Row[2 * i];
    for (; i + 4 < Count; i += 4) {
        const float* at = reinterpret_cast<const float*>(Row + 2 * i);
        put(i, _mm_shuffle_ps(_mm_loadu_ps(at), _mm_loadu_ps(at + 4), 0x88));
    }
    if (i + 4 == Count) {
        const float* at = reinterpret_cast<const float*>(Row + 2 * i);
        put(i, _mm_shuffle_ps(_mm_loadu_ps(at), _mm_loadu_ps(at + 3), 0xD8));
        i += 4;
    }
    for (; i < Count; ++i)
        Out[i] = Row[2 * i];
    if (Store == rsStreamed)
        _mm_sfence();
}

void Sse2NearestHalfRow(const TColor32* Row, int32_t Count, TColor32* Out, TRowStore Store)
{
    if (Store == rsStreamed)
        Sse2HalfRow<rsStreamed>(Row, Count, Out);
    else
        Sse2HalfRow<rsCached>(Row, Count, Out);
}

const TResampleKernels Sse2{
    Sse2LinearVert, Sse2LinearHorz,     Sse2LinearHorzRun,  Sse2LinearRow,      false,   Sse2BilinearAffine,
    Sse2NearestRow, Sse2NearestHalfRow, ScalarFilteredHorz, ScalarFilteredVert, nullptr, nullptr};

} // namespace

const TResampleKernels* Sse2ResampleKernels() { return &Sse2; }

#else

const TResampleKernels* Sse2ResampleKernels() { return nullptr; }

#endif

} // namespace kv
