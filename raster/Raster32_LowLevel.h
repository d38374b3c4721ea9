// Small integer helpers of the pixel loops.
#pragma once

#include "raster/Raster32_Types.h"

#include <cstdint>

namespace kv {

void FillDwords(void* Dest, int32_t Count, uint32_t Value);
inline void OrderPair(int32_t& A, int32_t& B)
{
    if (A > B) {
        int32_t t = A;
        A = B;
        B = t;
    }
}
bool OrderAndClipSpan(int32_t& A, int32_t& B, int32_t Size);
inline int32_t ClampInt(int32_t Value, int32_t Min, int32_t Max)
{
    return Min > Value ? Min : (Max < Value ? Max : Value);
}
inline int32_t Sar4(int32_t Value) { return Value >> 4; }
inline int32_t Sar8(int32_t Value) { return Value >> 8; }
inline int32_t Sar9(int32_t Value) { return Value >> 9; }
inline int32_t Sar12(int32_t Value) { return Value >> 12; }
TColor32 SwapRedBlueOpaque(uint32_t Value);
// A * B / C, halves away from zero; -1 for a zero divisor or a result outside 32 bits.
int32_t MulDivRound(int32_t A, int32_t B, int32_t C);
// No MMX registers are used on this platform: nothing to leave.
inline void LeaveMmxState() {}

} // namespace kv
