// The BMP reader's widening of 24-bit rows (blue, green, red) into opaque 32-bit words,
// the hottest loop of opening a large BMP.
#pragma once

#include <cstdint>

namespace kv {

// Widens Count pixels of Src into Out, each word 0xFF rr gg bb. Streamed asks for stores
// that bypass the cache, for a picture too large to stay in it (a row at a time, so a
// reader that writes a whole picture does not push out its own buffers).
using TWidenBgrRow = void (*)(const uint8_t* Src, int32_t Count, uint32_t* Out, bool Streamed);

// The plain loop (Streamed ignored), and the byte-shuffle form (null where it is not built).
void WidenBgrRowPlain(const uint8_t* Src, int32_t Count, uint32_t* Out, bool Streamed = false);
TWidenBgrRow Ssse3WidenBgrRow();

// The fastest form this processor and KELVANE_NO_SIMD allow, chosen once.
TWidenBgrRow WidenBgrRow();

} // namespace kv
