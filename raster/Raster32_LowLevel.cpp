#include "raster/Raster32_LowLevel.h"

#include <algorithm>

namespace kv {

void FillDwords(void* Dest, int32_t Count, uint32_t Value)
{
    if (Count < 1)
        return;
    std::fill_n(static_cast<uint32_t*>(Dest), Count, Value);
}

bool OrderAndClipSpan(int32_t& A, int32_t& B, int32_t Size)
{
    OrderPair(A, B);
    if (A < 0)
        A = 0;
    if (B >= Size)
        B = Size - 1;
    return B >= A;
}

TColor32 SwapRedBlueOpaque(uint32_t Value)
{
    return 0xFF000000u | ((Value & 0xFF) << 16) | (Value & 0xFF00) | ((Value >> 16) & 0xFF);
}

int32_t MulDivRound(int32_t A, int32_t B, int32_t C)
{
    if (C == 0)
        return -1;
    // Magnitudes in 64 bits: |INT32_MIN| has no 32-bit form, and |A| * |B| < 2^62.
    uint64_t MagA = A < 0 ? uint64_t(-int64_t(A)) : uint64_t(A);
    uint64_t MagB = B < 0 ? uint64_t(-int64_t(B)) : uint64_t(B);
    uint64_t MagC = C < 0 ? uint64_t(-int64_t(C)) : uint64_t(C);
    uint64_t Product = MagA * MagB;
    uint64_t Quotient = Product / MagC;
    uint64_t Remainder = Product % MagC;
    if (MagC - Remainder <= Remainder)
        ++Quotient; // halves away from zero
    bool Negative = ((A < 0) != (B < 0)) != (C < 0);
    // Anything the signed 32-bit result cannot hold is an overflow.
    if (Negative)
        return Quotient > 0x80000000ull ? -1 : int32_t(-int64_t(Quotient));
    return Quotient > 0x7FFFFFFFull ? -1 : int32_t(Quotient);
}

} // namespace kv
