// AVX2 kernels of the linear stretch and the affine bilinear sampler (the MixPixel lane
// formula on sixteen lanes) and of the nearest stretch (pixels picked by permutes, or by
// shuffles at exactly half the width).
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

void Avx2LinearVert(const TColor32* R0, const TColor32* R1, int32_t Count, uint32_t Wy, TColor32* Out)
{
    const __m256i zero = _mm256_setzero_si256(), w = _mm256_set1_epi16(int16_t(Wy << 7));
    int32_t i = 0;
    for (; i + 8 <= Count; i += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(R0 + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(R1 + i));
        // The unpacks and the pack work within each half, so the pixels keep their order.
        const __m256i lo = Mix16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), w);
        const __m256i hi = Mix16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), w);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), _mm256_packus_epi16(lo, hi));
    }
    if (i < Count)
        Sse2ResampleKernels()->LinearVert(R0 + i, R1 + i, Count - i, Wy, Out + i);
}

// The left and right columns of eight pixels whose columns lie within X0[0] .. X0[0] +
// 15 (Spread holds X0[j] - X0[0]); each 8-pixel load is permuted, and for columns past
// the first eight the second load's lanes are taken instead.
inline void ColumnsOf(const TColor32* V, __m256i Spread, bool Wide, __m256i& L, __m256i& R)
{
    L = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(V)), Spread);
    R = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(V + 1)), Spread);
    if (Wide) {
        const __m256i far = _mm256_cmpgt_epi32(Spread, _mm256_set1_epi32(7));
        const __m256i L2 =
            _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(V + 8)), Spread);
        const __m256i R2 =
            _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(V + 9)), Spread);
        L = _mm256_blendv_epi8(L, L2, far);
        R = _mm256_blendv_epi8(R, R2, far);
    }
}

void Avx2LinearHorz(const TColor32* Vert, const int32_t* X0, const uint8_t* Wx, int32_t Count, TColor32* Out)
{
    const __m256i zero = _mm256_setzero_si256();
    // Eight weight bytes (in both halves) to the 16-bit lanes of the pixels that the
    // unpacks widen: [w0 w1 | w4 w5] and [w2 w3 | w6 w7].
    const __m256i spreadLo = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 1, -1, 1, -1, 1, -1, 1, -1, 4, -1, 4, -1, 4,
                                              -1, 4, -1, 5, -1, 5, -1, 5, -1, 5, -1);
    const __m256i spreadHi = _mm256_setr_epi8(2, -1, 2, -1, 2, -1, 2, -1, 3, -1, 3, -1, 3, -1, 3, -1, 6, -1, 6, -1, 6,
                                              -1, 6, -1, 7, -1, 7, -1, 7, -1, 7, -1);
    const __m256i seven = _mm256_set1_epi32(7), fifteen = _mm256_set1_epi32(15);
    int32_t i = 0;
    for (; i + 8 <= Count; i += 8) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(X0 + i));
        const __m256i spread = _mm256_sub_epi32(x, _mm256_set1_epi32(X0[i]));
        // Unsigned maxima: a column before the first is a huge spread.
        __m256i L, R;
        if (_mm256_testc_si256(_mm256_cmpeq_epi32(_mm256_max_epu32(spread, seven), seven), _mm256_set1_epi32(-1))) {
            ColumnsOf(Vert + X0[i], spread, false, L, R);
        } else if (_mm256_testc_si256(_mm256_cmpeq_epi32(_mm256_max_epu32(spread, fifteen), fifteen),
                                      _mm256_set1_epi32(-1))) {
            ColumnsOf(Vert + X0[i], spread, true, L, R);
        } else {
            L = _mm256_i32gather_epi32(reinterpret_cast<const int*>(Vert), x, 4);
            R = _mm256_i32gather_epi32(reinterpret_cast<const int*>(Vert + 1), x, 4);
        }
        const __m256i wb = _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Wx + i)));
        const __m256i wlo = _mm256_slli_epi16(_mm256_shuffle_epi8(wb, spreadLo), 7);
        const __m256i whi = _mm256_slli_epi16(_mm256_shuffle_epi8(wb, spreadHi), 7);
        const __m256i lo = Mix16(_mm256_unpacklo_epi8(L, zero), _mm256_unpacklo_epi8(R, zero), wlo);
        const __m256i hi = Mix16(_mm256_unpackhi_epi8(L, zero), _mm256_unpackhi_epi8(R, zero), whi);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), _mm256_packus_epi16(lo, hi));
    }
    if (i < Count)
        Sse2ResampleKernels()->LinearHorz(Vert, X0 + i, Wx + i, Count - i, Out + i);
}

void Avx2LinearHorzRun(const TColor32* Vert, const uint8_t* Wx, int32_t Count, TColor32* Out)
{
    const __m256i zero = _mm256_setzero_si256();
    // As in Avx2LinearHorz: the weights of pixels [0 1 | 4 5] and [2 3 | 6 7].
    const __m256i spreadLo = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 1, -1, 1, -1, 1, -1, 1, -1, 4, -1, 4, -1, 4,
                                              -1, 4, -1, 5, -1, 5, -1, 5, -1, 5, -1);
    const __m256i spreadHi = _mm256_setr_epi8(2, -1, 2, -1, 2, -1, 2, -1, 3, -1, 3, -1, 3, -1, 3, -1, 6, -1, 6, -1, 6,
                                              -1, 6, -1, 7, -1, 7, -1, 7, -1, 7, -1);
    int32_t i = 0;
    for (; i + 8 <= Count; i += 8) {
        const __m256i L = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Vert + i));
        const __m256i R = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Vert + i + 1));
        const __m256i wb = _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Wx + i)));
        const __m256i wlo = _mm256_slli_epi16(_mm256_shuffle_epi8(wb, spreadLo), 7);
        const __m256i whi = _mm256_slli_epi16(_mm256_shuffle_epi8(wb, spreadHi), 7);
        const __m256i lo = Mix16(_mm256_unpacklo_epi8(L, zero), _mm256_unpacklo_epi8(R, zero), wlo);
        const __m256i hi = Mix16(_mm256_unpackhi_epi8(L, zero), _mm256_unpackhi_epi8(R, zero), whi);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), _mm256_packus_epi16(lo, hi));
    }
    if (i < Count)
        Sse2ResampleKernels()->LinearHorzRun(Vert + i, Wx + i, Count - i, Out + i);
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
    const __m256i spread = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 1, -1, 1, -1, 1, -1, 1, -1, 2, -1, 2, -1, 2, -1,
                                            2, -1, 3, -1, 3, -1, 3, -1, 3, -1);
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

// Each 32-bit lane's value in both 16-bit halves of the lanes of two pixels: Pick chooses
// the pixels' lanes, [a a b b | c c d d] for pixels a, b | c, d.
inline __m256i WeightsOf(__m256i W7, __m256i Pick)
{
    const __m256i w = _mm256_permutevar8x32_epi32(W7, Pick);
    return _mm256_or_si256(w, _mm256_slli_epi32(w, 16));
}

// Four bilinear points from their [left right] pairs of the upper and lower row, 8-bit
// pairs of pixels a, b | c, d, to 16-bit results [a b | c d]: the upper pair mixed by Wx,
// the lower pair by Wx, then the two by Wy.
inline __m256i Bilinear4(__m256i Upper, __m256i Lower, __m256i Wx, __m256i Wy)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ua = _mm256_unpacklo_epi8(Upper, zero), ub = _mm256_unpackhi_epi8(Upper, zero);
    const __m256i la = _mm256_unpacklo_epi8(Lower, zero), lb = _mm256_unpackhi_epi8(Lower, zero);
    const __m256i top = Mix16(_mm256_unpacklo_epi64(ua, ub), _mm256_unpackhi_epi64(ua, ub), Wx);
    const __m256i bottom = Mix16(_mm256_unpacklo_epi64(la, lb), _mm256_unpackhi_epi64(la, lb), Wx);
    return Mix16(top, bottom, Wy);
}

// Eight points per step. Every point of the row lies inside the picture, so each lane's
// 20.12 position and pixel index fit in 32 bits: wrapping 32-bit sums give them exactly,
// however large the steps.
void Avx2BilinearAffine(const TColor32* Bits, int32_t Stride, int64_t Ax, int64_t Ay, int64_t StepX, int64_t StepY,
                        int32_t Count, TColor32* Out)
{
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i sx = _mm256_set1_epi32(int32_t(uint32_t(StepX))), sy = _mm256_set1_epi32(int32_t(uint32_t(StepY)));
    const __m256i offX = _mm256_mullo_epi32(lanes, sx), offY = _mm256_mullo_epi32(lanes, sy);
    const __m256i stride = _mm256_set1_epi32(Stride), byte = _mm256_set1_epi32(255);
    const __m256i pickA = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3), pickB = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
    const auto* upper = reinterpret_cast<const long long*>(Bits);
    const auto* lower = reinterpret_cast<const long long*>(Bits + Stride);
    int32_t i = 0;
    for (; i + 8 <= Count; i += 8, Ax += 8 * StepX, Ay += 8 * StepY) {
        const __m256i vx = _mm256_add_epi32(_mm256_set1_epi32(int32_t(uint32_t(Ax))), offX);
        const __m256i vy = _mm256_add_epi32(_mm256_set1_epi32(int32_t(uint32_t(Ay))), offY);
        const __m256i index =
            _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(vy, 12), stride), _mm256_srai_epi32(vx, 12));
        // 255 - (24.8 fraction), shifted for Mix16.
        const __m256i wx = _mm256_slli_epi32(_mm256_andnot_si256(_mm256_srli_epi32(vx, 4), byte), 7);
        const __m256i wy = _mm256_slli_epi32(_mm256_andnot_si256(_mm256_srli_epi32(vy, 4), byte), 7);
        const __m128i indexA = _mm256_castsi256_si128(index), indexB = _mm256_extracti128_si256(index, 1);
        const __m256i a = Bilinear4(_mm256_i32gather_epi64(upper, indexA, 4), _mm256_i32gather_epi64(lower, indexA, 4),
                                    WeightsOf(wx, pickA), WeightsOf(wy, pickA));
        const __m256i b = Bilinear4(_mm256_i32gather_epi64(upper, indexB, 4), _mm256_i32gather_epi64(lower, indexB, 4),
                                    WeightsOf(wx, pickB), WeightsOf(wy, pickB));
        // The pack interleaves the halves: [0 1 4 5 | 2 3 6 7] back to 0..7.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), packed);
    }
    if (i < Count)
        Sse2ResampleKernels()->BilinearAffine(Bits, Stride, Ax, Ay, StepX, StepY, Count - i, Out + i);
}

// Eight pixels per step. When the step's columns lie within the sixteen pixels from its
// first column (any shrink to a half or more, every enlargement), two loads and a permute
// of each pick them; wider steps load them one by one. Streamed stores start at a 64-byte
// line, as in the half row.
inline __m256i Avx2Pick8(const TColor32* Row, int32_t RowWidth, const int32_t* X)
{
    const __m256i fifteen = _mm256_set1_epi32(15), seven = _mm256_set1_epi32(7);
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(X));
    const int32_t first = X[0];
    // Unsigned maxima: a column before the first is a huge spread.
    const __m256i spread = _mm256_sub_epi32(x, _mm256_set1_epi32(first));
    if (first <= RowWidth - 16 &&
        _mm256_testc_si256(_mm256_cmpeq_epi32(_mm256_max_epu32(spread, fifteen), fifteen), _mm256_set1_epi32(-1))) {
        const __m256i* at = reinterpret_cast<const __m256i*>(Row + first);
        const __m256i near = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(at), spread);
        const __m256i far = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(at + 1), spread);
        return _mm256_blendv_epi8(near, far, _mm256_cmpgt_epi32(spread, seven));
    }
    // Eight loads rather than a gather: where the processor guards its gathers against
    // leaking data, a gather costs several times as much.
    return _mm256_setr_epi32(int(Row[X[0]]), int(Row[X[1]]), int(Row[X[2]]), int(Row[X[3]]), int(Row[X[4]]),
                             int(Row[X[5]]), int(Row[X[6]]), int(Row[X[7]]));
}

template <TRowStore Store>
void Avx2Nearest(const TColor32* Row, int32_t RowWidth, const int32_t* X, int32_t Count, TColor32* Out)
{
    int32_t i = 0;
    if (Store == rsStreamed)
        for (; i < Count && (reinterpret_cast<uintptr_t>(Out + i) & 63) != 0; ++i)
            Out[i] = Row[X[i]];
    for (; i + 8 <= Count; i += 8) {
        auto* to = reinterpret_cast<__m256i*>(Out + i);
        if (Store == rsStreamed)
            _mm256_stream_si256(to, Avx2Pick8(Row, RowWidth, X + i));
        else
            _mm256_storeu_si256(to, Avx2Pick8(Row, RowWidth, X + i));
    }
    for (; i < Count; ++i)
        Out[i] = Row[X[i]];
    if (Store == rsStreamed)
        _mm_sfence();
}

void Avx2NearestRow(const TColor32* Row, int32_t RowWidth, const int32_t* X, int32_t Count, TColor32* Out,
                    TRowStore Store)
{
    if (Store == rsStreamed)
        Avx2Nearest<rsStreamed>(Row, RowWidth, X, Count, Out);
    else
        Avx2Nearest<rsCached>(Row, RowWidth, X, Count, Out);
}

// Eight pixels a step: a shuffle keeps the even pixels of two loads, in each half, and a
// permute puts the halves in order. The last step and the streamed stores as in the SSE2
// kernel, which takes the pixels left after the last full step through the cache.
template <TRowStore Store> void Avx2HalfRow(const TColor32* Row, int32_t Count, TColor32* Out)
{
    auto put = [Out](int32_t I, __m256 Even) {
        const __m256i pixels = _mm256_permute4x64_epi64(_mm256_castps_si256(Even), 0xD8);
        auto* to = reinterpret_cast<__m256i*>(Out + I);
        if (Store == rsStreamed)
            _mm256_stream_si256(to, pixels);
        else
            _mm256_storeu_si256(to, pixels);
    };
    int32_t i = 0;
    if (Store == rsStreamed)
        for (; i < Count && (reinterpret_cast<uintptr_t>(Out + i) & 63) != 0; ++i)
            Out[i] = Row[2 * i];
    for (; i + 8 < Count; i += 8) {
        const float* at = reinterpret_cast<const float*>(Row + 2 * i);
        put(i, _mm256_shuffle_ps(_mm256_loadu_ps(at), _mm256_loadu_ps(at + 8), 0x88));
    }
    if (i + 8 == Count) {
        const float* at = reinterpret_cast<const float*>(Row + 2 * i);
        put(i, _mm256_shuffle_ps(_mm256_loadu_ps(at), _mm256_loadu_ps(at + 7), 0xD8));
        i += 8;
    }
    if (i < Count)
        Sse2ResampleKernels()->NearestHalfRow(Row + 2 * i, Count - i, Out + i, rsCached);
    if (Store == rsStreamed)
        _mm_sfence();
}

void Avx2NearestHalfRow(const TColor32* Row, int32_t Count, TColor32* Out, TRowStore Store)
{
    if (Store == rsStreamed)
        Avx2HalfRow<rsStreamed>(Row, Count, Out);
    else
        Avx2HalfRow<rsCached>(Row, Count, Out);
}

// Two pixels a step, one in each half: a tap loads each pixel's four lanes and multiplies
// them by its weight.
void Avx2FilteredHorz(const uint32_t* Vert, const int32_t* At, const uint32_t* Weight, int32_t Taps, int32_t Count,
                      TColor32* Out)
{
    const __m256i cap = _mm256_set1_epi32(0xFF0000);
    int32_t i = 0;
    for (; i + 2 <= Count; i += 2) {
        const int32_t* at0 = At + size_t(i) * Taps;
        const int32_t* at1 = at0 + Taps;
        const uint32_t* w0 = Weight + size_t(i) * Taps;
        const uint32_t* w1 = w0 + Taps;
        __m256i sum = _mm256_setzero_si256();
        for (int32_t t = 0; t < Taps; ++t) {
            const __m256i v = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Vert + at0[t]))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(Vert + at1[t])), 1);
            const __m256i w = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set1_epi32(int(w0[t]))),
                                                      _mm_set1_epi32(int(w1[t])), 1);
            sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(v, w));
        }
        // Unsigned minimum: a sum may pass 2^31.
        const __m256i c = _mm256_srli_epi32(_mm256_min_epu32(sum, cap), 16);
        const __m128i p = _mm_packs_epi32(_mm256_castsi256_si128(c), _mm256_extracti128_si256(c, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(Out + i), _mm_packus_epi16(p, p));
    }
    if (i < Count)
        ScalarFilteredHorz(Vert, At + size_t(i) * Taps, Weight + size_t(i) * Taps, Taps, Count - i, Out + i);
}

// Sixteen bytes a step. A weight up to 256 keeps every product within 16 bits (at most
// 255 * 256), so the bytes multiply as 16-bit lanes and only the sums widen to 32.
void Avx2FilteredVert(const uint8_t* Row, uint32_t Weight, int32_t Lanes, bool First, uint32_t* Sums)
{
    if (Weight > 256) {
        ScalarFilteredVert(Row, Weight, Lanes, First, Sums);
        return;
    }
    const __m256i w = _mm256_set1_epi16(int16_t(Weight));
    int32_t j = 0;
    for (; j + 16 <= Lanes; j += 16) {
        const __m256i p =
            _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Row + j))), w);
        __m256i lo = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(p));
        __m256i hi = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(p, 1));
        auto* at = reinterpret_cast<__m256i*>(Sums + j);
        if (!First) {
            lo = _mm256_add_epi32(lo, _mm256_loadu_si256(at));
            hi = _mm256_add_epi32(hi, _mm256_loadu_si256(at + 1));
        }
        _mm256_storeu_si256(at, lo);
        _mm256_storeu_si256(at + 1, hi);
    }
    if (j < Lanes)
        ScalarFilteredVert(Row + j, Weight, Lanes - j, First, Sums + j);
}

// The tent's horizontal pass, four pixels a step when their columns and right
// neighbours lie within four source columns of the first (any enlargement by 1.5 or
// more): one load of those columns, widened to 16-bit lanes, and two permutes give the
// left and right pixels. The products and their sum fit 16 bits.
uint32_t TentChannelSum(const uint8_t* L, uint32_t W0, uint32_t W1, int32_t C)
{
    return uint32_t(L[C]) * W0 + (W1 ? uint32_t(L[4 + C]) * W1 : 0);
}

void Avx2TentHorz(const TColor32* Row, int32_t RowWidth, const int32_t* X0, const uint16_t* W0, const uint16_t* W1,
                  int32_t Count, uint16_t* H)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(Row);
    auto plain = [&](int32_t I) {
        for (int32_t c = 0; c < 4; ++c)
            H[4 * I + c] = uint16_t(TentChannelSum(bytes + 4 * X0[I], W0[I], W1[I], c));
    };
    const __m256i one64 = _mm256_set1_epi64x(1), two = _mm256_set1_epi32(2);
    // Each pixel's weight (the low 16 bits of its 64-bit lane) into its four 16-bit lanes.
    const __m256i spread = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 8, 9, 8, 9, 8, 9, 8, 9, 0, 1, 0, 1, 0, 1, 0, 1, 8,
                                            9, 8, 9, 8, 9, 8, 9);
    int32_t i = 0;
    for (; i + 4 <= Count; i += 4) {
        const int32_t first = X0[i];
        const bool near = first <= RowWidth - 4 && X0[i + 1] >= first && X0[i + 2] >= first && X0[i + 3] >= first &&
                          X0[i + 1] - first <= 2 && X0[i + 2] - first <= 2 && X0[i + 3] - first <= 2;
        if (!near) {
            for (int32_t j = i; j < i + 4; ++j)
                plain(j);
            continue;
        }
        const __m256i window = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Row + first)));
        const __m128i d =
            _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(X0 + i)), _mm_set1_epi32(first));
        // Column d of the window is dwords 2d and 2d + 1.
        const __m256i t = _mm256_cvtepu32_epi64(_mm_slli_epi32(d, 1));
        const __m256i left = _mm256_or_si256(t, _mm256_slli_epi64(_mm256_add_epi64(t, one64), 32));
        const __m256i L = _mm256_permutevar8x32_epi32(window, left);
        const __m256i R = _mm256_permutevar8x32_epi32(window, _mm256_add_epi32(left, two));
        const __m256i w0 = _mm256_shuffle_epi8(
            _mm256_cvtepu16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(W0 + i))), spread);
        const __m256i w1 = _mm256_shuffle_epi8(
            _mm256_cvtepu16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(W1 + i))), spread);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(H + 4 * i),
                            _mm256_add_epi16(_mm256_mullo_epi16(L, w0), _mm256_mullo_epi16(R, w1)));
    }
    for (; i < Count; ++i)
        plain(i);
}

// The tent's vertical pass, eight pixels a step. Each product's high and low halves come
// from two multiplies, and the sum's top half is the high halves plus the carry out of
// the low ones.
inline __m256i TentTop(const uint16_t* H0, const uint16_t* H1, __m256i Wy0, __m256i Wy1)
{
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(H0));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(H1));
    const __m256i lo0 = _mm256_mullo_epi16(a, Wy0), lo = _mm256_add_epi16(lo0, _mm256_mullo_epi16(b, Wy1));
    const __m256i hi = _mm256_add_epi16(_mm256_mulhi_epu16(a, Wy0), _mm256_mulhi_epu16(b, Wy1));
    // All ones where the low halves did not carry (their sum is not below either).
    const __m256i noCarry = _mm256_cmpeq_epi16(_mm256_max_epu16(lo, lo0), lo);
    return _mm256_add_epi16(_mm256_add_epi16(hi, _mm256_set1_epi16(1)), noCarry);
}

uint32_t TentVertPixel(const uint16_t* H0, const uint16_t* H1, uint32_t Wy0, uint32_t Wy1)
{
    uint32_t p = 0;
    for (int32_t c = 0; c < 4; ++c)
        p |= ((uint32_t(H0[c]) * Wy0 + uint32_t(H1[c]) * Wy1) >> 16) << (8 * c);
    return p;
}

template <TRowStore Store>
void Avx2TentVertTo(const uint16_t* H0, const uint16_t* H1, uint32_t Wy0, uint32_t Wy1, int32_t Count, TColor32* Out)
{
    const __m256i wy0 = _mm256_set1_epi16(int16_t(Wy0)), wy1 = _mm256_set1_epi16(int16_t(Wy1));
    int32_t i = 0;
    if (Store == rsStreamed)
        for (; i < Count && (reinterpret_cast<uintptr_t>(Out + i) & 63) != 0; ++i)
            Out[i] = TentVertPixel(H0 + 4 * i, H1 + 4 * i, Wy0, Wy1);
    for (; i + 8 <= Count; i += 8) {
        const __m256i a = TentTop(H0 + 4 * i, H1 + 4 * i, wy0, wy1);
        const __m256i b = TentTop(H0 + 4 * i + 16, H1 + 4 * i + 16, wy0, wy1);
        // The pack interleaves the halves: pixels [0 1 4 5 | 2 3 6 7] back to 0..7.
        const __m256i pixels = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        if (Store == rsStreamed)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(Out + i), pixels);
        else
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), pixels);
    }
    for (; i < Count; ++i)
        Out[i] = TentVertPixel(H0 + 4 * i, H1 + 4 * i, Wy0, Wy1);
    if (Store == rsStreamed)
        _mm_sfence();
}

void Avx2TentVert(const uint16_t* H0, const uint16_t* H1, uint32_t Wy0, uint32_t Wy1, int32_t Count, TColor32* Out,
                  TRowStore Store)
{
    if (Store == rsStreamed)
        Avx2TentVertTo<rsStreamed>(H0, H1, Wy0, Wy1, Count, Out);
    else
        Avx2TentVertTo<rsCached>(H0, H1, Wy0, Wy1, Count, Out);
}

} // namespace

const TResampleKernels* Avx2ResampleKernels()
{
    static const TResampleKernels* kernels = []() -> const TResampleKernels* {
        static TResampleKernels k;
        const TResampleKernels* base = Sse2ResampleKernels();
        if (!base || !CpuHasAvx2())
            return nullptr;
        k = *base;
        k.LinearVert = Avx2LinearVert;
        k.LinearHorz = Avx2LinearHorz;
        k.LinearHorzRun = Avx2LinearHorzRun;
        k.LinearRow = Avx2LinearRow;
        k.LinearRowShrinks = true;
        k.BilinearAffine = Avx2BilinearAffine;
        k.NearestRow = Avx2NearestRow;
        k.NearestHalfRow = Avx2NearestHalfRow;
        k.FilteredHorz = Avx2FilteredHorz;
        k.FilteredVert = Avx2FilteredVert;
        k.TentHorz = Avx2TentHorz;
        k.TentVert = Avx2TentVert;
        return &k;
    }();
    return kernels;
}

#else

const TResampleKernels* Avx2ResampleKernels() { return nullptr; }

#endif

} // namespace kv
