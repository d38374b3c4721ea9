#include "fx/EffectRandom.h"

namespace kv {

namespace {

uint32_t GSeed = 0;

} // namespace

void RandSeed(uint32_t Seed) { GSeed = Seed; }

uint32_t CurrentRandSeed() { return GSeed; }

int32_t Random(int32_t N)
{
    if (N <= 0)
        return 0;
    // A linear congruential step; the high bits scaled by N pick the result.
    GSeed = GSeed * 134775813u + 1u;
    return int32_t((uint64_t(GSeed) * uint32_t(N)) >> 32);
}

} // namespace kv
