// The 24-bit widening with byte shuffles: each 16-byte load gives four pixels.
#include "platform/BmpWiden.h"

#include <cstddef>

#ifdef __SSSE3__
#include <tmmintrin.h>
#endif

namespace kv {

#ifdef __SSSE3__

namespace {

template <TRowStore Store> void Ssse3Widen(const uint8_t* Src, int32_t Count, uint32_t* Out)
{
    const __m128i pick = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
    const auto four = [&](const uint8_t* S, uint32_t* O) {
        const __m128i v =
            _mm_or_si128(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(S)), pick), alpha);
        if constexpr (Store == rsStreamed)
            _mm_stream_si128(reinterpret_cast<__m128i*>(O), v);
        else
            _mm_storeu_si128(reinterpret_cast<__m128i*>(O), v);
    };
    int32_t x = 0;
    if constexpr (Store == rsStreamed) {
        // Streamed stores start at a 64-byte line, as the resampler's do: a line only
        // partly streamed, the rest stored through the cache, goes to memory in pieces.
        const int32_t head = int32_t((64 - (reinterpret_cast<uintptr_t>(Out) & 63)) & 63) / 4;
        x = head < Count ? head : Count;
        WidenBgrRowPlain(Src, x, Out);
    }
    // A load reads four bytes past the twelve it uses, so the loops stop while those
    // bytes still lie inside the row; the plain loop does the last pixels.
    for (; x + 18 <= Count; x += 16) {
        const uint8_t* s = Src + ptrdiff_t(3) * x;
        four(s, Out + x);
        four(s + 12, Out + x + 4);
        four(s + 24, Out + x + 8);
        four(s + 36, Out + x + 12);
    }
    for (; x + 6 <= Count; x += 4)
        four(Src + ptrdiff_t(3) * x, Out + x);
    WidenBgrRowPlain(Src + ptrdiff_t(3) * x, Count - x, Out + x);
    if constexpr (Store == rsStreamed)
        _mm_sfence();
}

void Ssse3WidenAny(const uint8_t* Src, int32_t Count, uint32_t* Out, TRowStore Store)
{
    if (Store == rsStreamed)
        Ssse3Widen<rsStreamed>(Src, Count, Out);
    else
        Ssse3Widen<rsCached>(Src, Count, Out);
}

} // namespace

TWidenBgrRow Ssse3WidenBgrRow() { return &Ssse3WidenAny; }

#else

TWidenBgrRow Ssse3WidenBgrRow() { return nullptr; }

#endif

} // namespace kv
