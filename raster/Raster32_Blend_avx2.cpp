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

// Per 16-bit lane ((F - B) * w + (B shl 8) + 128) shr 8 = (F * w + B * (256 - w) + 128) shr 8,
// the even bytes (blue, red) and the odd bytes (green, alpha) each in a lane of their own
// where they stand, so no byte is unpacked or packed: the shuffle port, not the multiplier,
// is what bounded the unpacking form. W holds each pixel's weight in both of its lanes;
// the sum stays below 65536 at every weight up to 256.
//
// Only the odd bytes are moved down: the even bytes' product is the whole lane's product
// less the odd bytes' share, which is (odd product) shl 8 modulo 65536, so the even bytes
// need no mask of their own.
inline __m256i Mix8(__m256i F, __m256i B, __m256i W)
{
    const __m256i Low = _mm256_set1_epi16(0x00FF);
    const __m256i Half = _mm256_set1_epi16(0x0080);
    const __m256i OddProduct =
        _mm256_mullo_epi16(_mm256_sub_epi16(_mm256_srli_epi16(F, 8), _mm256_srli_epi16(B, 8)), W);
    const __m256i Odd = _mm256_add_epi16(_mm256_add_epi16(OddProduct, _mm256_andnot_si256(Low, B)), Half);
    __m256i Even = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(F, B), W),
                                    _mm256_slli_epi16(_mm256_sub_epi16(B, OddProduct), 8));
    Even = _mm256_add_epi16(Even, Half);
    return _mm256_or_si256(_mm256_srli_epi16(Even, 8), _mm256_andnot_si256(Low, Odd));
}

// Each pixel's alpha byte in both of its 16-bit lanes.
inline __m256i Alpha(__m256i F)
{
    const __m256i Pick = _mm256_setr_epi8(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1, //
                                          3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1);
    return _mm256_shuffle_epi8(F, Pick);
}

inline __m256i BlendRun8(__m256i F, __m256i B)
{
    // Opaque pixels are stored as they stand, not as the weight-255 mix: weight 256 gives
    // F exactly.
    __m256i W = Alpha(F);
    W = _mm256_sub_epi16(W, _mm256_cmpeq_epi16(W, _mm256_set1_epi16(255)));
    return Mix8(F, B, W);
}

// (alpha * M) shr 8 as the high half of alpha * (M shl 8).
inline __m256i MasterWeight(__m256i F, __m256i M16) { return _mm256_mulhi_epu16(Alpha(F), M16); }

// Lanes 0..Count-1 on, for a partial step (masked loads never touch the rest).
inline __m256i LaneMask(int32_t Count)
{
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(Count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// How far ahead of the step the prefetches reach, in pixels. The hardware streams stop
// at every 4 KiB page; a frame's rows span many, and on a busy machine the wait at each
// page start is where most of a memory-bound run's time went.
constexpr int32_t PrefetchAhead = 512;

// Drives the run: a partial first step through masks that brings Dst to a 32-byte
// boundary (so no full step's store splits a cache line), full steps through Full, and a
// partial last step. Partial(S, D, Mask) loads and stores only the lanes of Mask.
template <typename TFull, typename TPartial>
inline void Drive(const uint32_t* Src, uint32_t* Dst, int32_t Count, TFull Full, TPartial Partial)
{
    if (Count <= 0)
        return;
    int32_t I = 0;
    const int32_t Head = int32_t((32 - (reinterpret_cast<uintptr_t>(Dst) & 31)) & 31) / 4;
    if (Head != 0) {
        I = Head < Count ? Head : Count;
        Partial(Src, Dst, LaneMask(I));
    }
    for (; I + 8 <= Count; I += 8) {
        // One prefetch per 64-byte line of each stream (every other step).
        if ((I & 15) == (Head & 15)) {
            _mm_prefetch(reinterpret_cast<const char*>(Src + I + PrefetchAhead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(Dst + I + PrefetchAhead), _MM_HINT_T0);
        }
        Full(Src + I, Dst + I);
    }
    if (I < Count)
        Partial(Src + I, Dst + I, LaneMask(Count - I));
}

} // namespace

void Avx2BlendRun(const uint32_t* Src, uint32_t* Dst, int32_t Count)
{
    const __m256i AlphaMask = _mm256_set1_epi32(int(0xFF000000u));
    auto Full = [&](const uint32_t* S, uint32_t* D) {
        __m256i F = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(S));
        __m256i* V = reinterpret_cast<__m256i*>(D);
        // Whole transparent or whole opaque steps, common in real layers, skip the arithmetic.
        __m256i Alpha = _mm256_and_si256(F, AlphaMask);
        if (_mm256_testz_si256(Alpha, Alpha))
            return;
        if (_mm256_testc_si256(Alpha, AlphaMask)) {
            _mm256_storeu_si256(V, F);
            return;
        }
        _mm256_storeu_si256(V, BlendRun8(F, _mm256_loadu_si256(V)));
    };
    auto Partial = [](const uint32_t* S, uint32_t* D, __m256i Mask) {
        auto* P = reinterpret_cast<int*>(D);
        __m256i F = _mm256_maskload_epi32(reinterpret_cast<const int*>(S), Mask);
        _mm256_maskstore_epi32(P, Mask, BlendRun8(F, _mm256_maskload_epi32(P, Mask)));
    };
    Drive(Src, Dst, Count, Full, Partial);
}

void Avx2BlendRunMaster(const uint32_t* Src, uint32_t* Dst, int32_t Count, uint32_t M)
{
    const __m256i M16 = _mm256_set1_epi16(short(LimitByte(M) << 8));
    auto Full = [&](const uint32_t* S, uint32_t* D) {
        __m256i F = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(S));
        __m256i* V = reinterpret_cast<__m256i*>(D);
        const __m256i W = MasterWeight(F, M16);
        // A step whose every weight is 0 (clear pixels, or faint ones under a low master)
        // leaves its pixels as they are: no read of Dst, no store.
        if (_mm256_testz_si256(W, W))
            return;
        _mm256_storeu_si256(V, Mix8(F, _mm256_loadu_si256(V), W));
    };
    auto Partial = [&](const uint32_t* S, uint32_t* D, __m256i Mask) {
        auto* P = reinterpret_cast<int*>(D);
        __m256i F = _mm256_maskload_epi32(reinterpret_cast<const int*>(S), Mask);
        _mm256_maskstore_epi32(P, Mask, Mix8(F, _mm256_maskload_epi32(P, Mask), MasterWeight(F, M16)));
    };
    Drive(Src, Dst, Count, Full, Partial);
}

} // namespace kv

#endif
