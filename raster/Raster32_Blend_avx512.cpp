// The run routines on AVX-512: sixteen pixels per step, the lane arithmetic of the AVX2
// set. Only these functions are compiled for AVX-512 (the target pragma below, after the
// includes), and they are reached only after the processor test finds AVX512F and AVX512BW.
#if defined(__x86_64__) && defined(__GNUC__)

#include <cstdint>
#include <immintrin.h>

namespace kv {

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,avx512f,avx512bw"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512bw")
#endif

namespace {

// Per 16-bit lane ((F - B) * w + (B shl 8) + 128) shr 8 = (F * w + B * (256 - w) + 128) shr 8,
// the even bytes (blue, red) and the odd bytes (green, alpha) each in a lane of their own
// where they stand, so no byte is unpacked or packed: the shuffle port, not the multiplier,
// is what bounded the unpacking form. W holds each pixel's weight in both of its lanes.
//
// Only the odd bytes are shifted down: the even bytes' product is the whole lane's product
// less the odd bytes' share, which modulo 65536 is (odd product) shl 8. At this width only
// two ports take vector work and one of them alone shifts and multiplies, so the form with
// the fewest shifts, masks and bias additions is the fast one.
inline __m512i Mix16x(__m512i F, __m512i B, __m512i W)
{
    const __m512i Low = _mm512_set1_epi16(0x00FF);
    const __m512i Half = _mm512_set1_epi16(0x0080);
    const __m512i OddProduct =
        _mm512_mullo_epi16(_mm512_sub_epi16(_mm512_srli_epi16(F, 8), _mm512_srli_epi16(B, 8)), W);
    // (B and not Low) or 128: the odd background byte shl 8 with the rounding half, in one step.
    const __m512i Odd = _mm512_add_epi16(OddProduct, _mm512_ternarylogic_epi32(B, Low, Half, 0xBA));
    const __m512i Even = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_sub_epi16(F, B), W),
                                          _mm512_slli_epi16(_mm512_sub_epi16(B, OddProduct), 8));
    // (Even + 128) shr 8 by the rounding multiply with 128; read as signed, a lane above
    // 32767 only comes out 256 low, and the high byte that carries that is dropped below.
    const __m512i EvenMixed = _mm512_mulhrs_epi16(Even, Half);
    // (EvenMixed and Low) or (Odd and not Low) in one step.
    return _mm512_ternarylogic_epi32(EvenMixed, Odd, Low, 0xE4);
}

// Each pixel's alpha byte in both of its 16-bit lanes; the same picker in every 128-bit lane.
#define KV_PICK 3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1
const int8_t PickAlpha[64] = {KV_PICK, KV_PICK, KV_PICK, KV_PICK};
#undef KV_PICK

inline uint32_t LimitByte(uint32_t X) { return X > 255 ? 255 : X; }

inline __m512i BlendRun16(__m512i F, __m512i B, __m512i Pick)
{
    __m512i R = Mix16x(F, B, _mm512_shuffle_epi8(F, Pick));
    // Opaque pixels are stored as they stand, not as the weight-255 mix.
    const __m512i AlphaMask = _mm512_set1_epi32(int(0xFF000000u));
    const __mmask16 Opaque = _mm512_cmpeq_epi32_mask(_mm512_and_si512(F, AlphaMask), AlphaMask);
    return _mm512_mask_blend_epi32(Opaque, R, F);
}

// How far ahead of the step the prefetches reach, in pixels. The hardware streams stop
// at every 4 KiB page; a frame's rows span many, and on a busy machine the wait at each
// page start is where most of a memory-bound run's time went.
constexpr int32_t PrefetchAhead = 512;

// Drives Step over Count pixels: a masked first step that brings Dst to a 64-byte
// boundary (so no full step's store splits a cache line), full steps, and a masked last
// step. Masked loads and stores never touch pixels outside the run. Step gets the lanes
// it may write and returns nothing; it stores what it changes itself.
template <typename TStep> inline void Drive(const uint32_t* Src, uint32_t* Dst, int32_t Count, TStep Step)
{
    if (Count <= 0)
        return;
    int32_t I = 0;
    const int32_t Head = int32_t((64 - (reinterpret_cast<uintptr_t>(Dst) & 63)) & 63) / 4;
    if (Head != 0) {
        const int32_t N = Head < Count ? Head : Count;
        Step(Src, Dst, __mmask16((1u << N) - 1));
        I = N;
    }
    for (; I + 16 <= Count; I += 16) {
        _mm_prefetch(reinterpret_cast<const char*>(Src + I + PrefetchAhead), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(Dst + I + PrefetchAhead), _MM_HINT_T0);
        Step(Src + I, Dst + I, __mmask16(0xFFFF));
    }
    if (I < Count)
        Step(Src + I, Dst + I, __mmask16((1u << (Count - I)) - 1));
}

} // namespace

void Avx512BlendRun(const uint32_t* Src, uint32_t* Dst, int32_t Count)
{
    const __m512i AlphaMask = _mm512_set1_epi32(int(0xFF000000u));
    const __m512i Pick = _mm512_loadu_si512(PickAlpha);
    Drive(Src, Dst, Count, [&](const uint32_t* S, uint32_t* D, __mmask16 Lanes) {
        const __m512i F = _mm512_maskz_loadu_epi32(Lanes, S);
        // Whole transparent or whole opaque steps, common in real layers, skip the arithmetic.
        const __mmask16 Visible = _mm512_test_epi32_mask(F, AlphaMask) & Lanes;
        if (Visible == 0)
            return;
        const __mmask16 Opaque = _mm512_cmpeq_epi32_mask(_mm512_and_si512(F, AlphaMask), AlphaMask) & Lanes;
        if (Opaque == Lanes) {
            _mm512_mask_storeu_epi32(D, Lanes, F);
            return;
        }
        const __m512i B = _mm512_maskz_loadu_epi32(Lanes, D);
        _mm512_mask_storeu_epi32(D, Lanes, BlendRun16(F, B, Pick));
    });
}

void Avx512BlendRunMaster(const uint32_t* Src, uint32_t* Dst, int32_t Count, uint32_t M)
{
    const __m512i M16 = _mm512_set1_epi16(short(LimitByte(M) << 8));
    const __m512i Pick = _mm512_loadu_si512(PickAlpha);
    Drive(Src, Dst, Count, [&](const uint32_t* S, uint32_t* D, __mmask16 Lanes) {
        const __m512i F = _mm512_maskz_loadu_epi32(Lanes, S);
        // (alpha * M) shr 8 as the high half of alpha * (M shl 8).
        const __m512i W = _mm512_mulhi_epu16(_mm512_shuffle_epi8(F, Pick), M16);
        // A step whose every weight is 0 (clear pixels, or faint ones under a low master)
        // leaves its pixels as they are: no read of Dst, no store.
        if (_mm512_test_epi16_mask(W, W) == 0)
            return;
        const __m512i B = _mm512_maskz_loadu_epi32(Lanes, D);
        _mm512_mask_storeu_epi32(D, Lanes, Mix16x(F, B, W));
    });
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

} // namespace kv

#endif
