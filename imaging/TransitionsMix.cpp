#include "imaging/TransitionsMix.h"

#include "imaging/Transitions.h"
#include "platform/CpuFeatures.h"

#include <cstring>

namespace kv {

// Out := (A (1024 - P) + B P) shr 10 per byte, which is A + floor((B - A) P / 1024).
void MixBytesPlain(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P)
{
    for (size_t I = 0; I < Count; ++I)
        Out[I] = uint8_t(A[I] + (((int32_t(B[I]) - int32_t(A[I])) * P) >> 10));
}

void MixBytes(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P)
{
    if (P >= TransitionFullProgress) {
        std::memcpy(Out, B, Count);
        return;
    }
    using TMix = size_t (*)(const uint8_t*, const uint8_t*, uint8_t*, size_t, int32_t);
    static const TMix Vector = SimdAllowed(TSimdLevel::Avx512) ? MixBytesAvx512
                               : SimdAllowed(TSimdLevel::Avx2) ? MixBytesAvx2
                               : SimdAllowed(TSimdLevel::Sse2) ? MixBytesSse2
                                                               : nullptr;
    const size_t I = Vector != nullptr ? Vector(A, B, Out, Count, P) : 0;
    MixBytesPlain(A + I, B + I, Out + I, Count - I, P);
}

} // namespace kv
