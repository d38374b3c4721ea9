// The cross-dissolve's byte mix, Out := A + floor((B - A) P / 1024) for P in 0..1024: the
// plain loop that defines it, the vector loops, and the choice made once among them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

void MixBytesPlain(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P);

// Each vector loop mixes a prefix of the bytes and returns its length (0 where the set is
// not built); the caller mixes the rest with the plain loop. P is below 1024.
size_t MixBytesSse2(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P);
size_t MixBytesAvx2(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P);
size_t MixBytesAvx512(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P);

// The mix through the fastest set the processor has and KELVANE_NO_SIMD allows.
void MixBytes(const uint8_t* A, const uint8_t* B, uint8_t* Out, size_t Count, int32_t P);

} // namespace kv
