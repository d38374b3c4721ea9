// The BMP reader's widening of 24-bit rows (blue, green, red) into opaque 32-bit words,
// the hottest loop of opening a large BMP.
#pragma once

#include "platform/CpuFeatures.h"

#include <cstdint>

namespace kv {

// Widens Count pixels of Src into Out, each word 0xFF rr gg bb, storing as Store says
// (streamed stores are fenced before it returns).
using TWidenBgrRow = void (*)(const uint8_t* Src, int32_t Count, uint32_t* Out, TRowStore Store);

// The plain loop (Store ignored), and the byte-shuffle form (null where it is not built).
void WidenBgrRowPlain(const uint8_t* Src, int32_t Count, uint32_t* Out, TRowStore Store = rsCached);
TWidenBgrRow Ssse3WidenBgrRow();

// The fastest form this processor and KELVANE_NO_SIMD allow, chosen once.
TWidenBgrRow WidenBgrRow();

} // namespace kv
