// The random numbers of the noise and spray effects: one seedable generator, so tests
// and benchmarks replay a picture exactly. Random(N) is 0..N-1, and 0 for N <= 0.
#pragma once

#include <cstdint>

namespace kv {

// The generator's state; the same seed gives the same sequence.
void RandSeed(uint32_t Seed);
uint32_t CurrentRandSeed();
// 0..N-1; 0 when N <= 0, without taking a step of the sequence.
int32_t Random(int32_t N);

} // namespace kv
