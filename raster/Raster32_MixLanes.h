// The mix of the blend table, inline for the resamplers' scalar paths: per channel
// (F * W + B * (256 - W) + 128) shr 8, the same result as the table's MixPixel,
// computed on four 16-bit lanes of one 64-bit word. Never leaves a lane.
#pragma once

#include <cstdint>

namespace kv::lanes {

constexpr uint64_t LaneMask = 0x00FF00FF00FF00FFull;
constexpr uint64_t LaneBias = 0x0080008000800080ull;

// One pixel spread over four lanes.
inline uint64_t Expand(uint32_t C)
{
    uint64_t x = C;
    x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
    return (x | (x << 8)) & LaneMask;
}

inline uint32_t Pack(uint64_t X)
{
    X = (X | (X >> 8)) & 0x0000FFFF0000FFFFull;
    return uint32_t(X | (X >> 16));
}

// Both arguments expanded; the result expanded.
inline uint64_t MixLanes(uint64_t F, uint64_t B, uint32_t W)
{
    return ((F * W + B * (256 - W) + LaneBias) >> 8) & LaneMask;
}

} // namespace kv::lanes
