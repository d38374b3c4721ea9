// Deterministic building blocks of the asset generator: our own random numbers, lattice
// hashes, periodic value noise, a sine table made by a fixed polynomial, colour ramps
// and supersampled coverage. Integers or fixed point wherever the result is stored.
#pragma once

#include "tools/assetgen/AssetWriters.h"

#include <cstdint>
#include <functional>
#include <initializer_list>

namespace kv::assetgen {

// xorshift64*: the same numbers everywhere, unlike the standard distributions.
class TRng {
public:
    explicit TRng(uint64_t Seed) : FState(Seed ? Seed : 0x9E3779B97F4A7C15ull) {}
    explicit TRng(const std::string& Name) : TRng(Fnv1a64(Name)) {}
    uint64_t Next()
    {
        FState ^= FState >> 12;
        FState ^= FState << 25;
        FState ^= FState >> 27;
        return FState * 0x2545F4914F6CDD1Dull;
    }
    // 0 .. N-1 by the high 32 bits times N (no modulo bias worth speaking of, and no
    // library distribution).
    uint32_t Below(uint32_t N) { return uint32_t(((Next() >> 32) * uint64_t(N)) >> 32); }
    // [0, 1) with 53 bits.
    double Unit() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    uint64_t FState;
};

uint32_t Mix32(uint32_t X);
// A hash of a lattice point; indices are taken modulo Period (>= 1) so the noise wraps.
uint32_t Lattice(int32_t I, int32_t J, uint32_t Seed, int32_t Period = 1 << 20);

// Value noise at pixel (X, Y) with lattice cells of Cell pixels repeating every Period
// cells: 0..65535, smoothstep between lattice values in 16.16 fixed point.
int32_t ValueNoise(int32_t X, int32_t Y, int32_t Cell, int32_t Period, uint32_t Seed);
// Octaves from Cell down to 2 pixels, each half as strong, on a Tile-pixel period
// (Tile a multiple of every cell): 0..65535.
int32_t PeriodicFbm(int32_t X, int32_t Y, int32_t Tile, int32_t Cell, uint32_t Seed);

// sin(2 pi A / 4096) in Q15 (-32767..32767), A taken modulo 4096.
int32_t SinQ15(int32_t A);

// 256 colours from the key colours (0xRRGGBB) spread evenly from entry 0 to entry 255.
TPalette256 RampPalette(std::initializer_list<uint32_t> Keys);

// Coverage of a pixel by an implicit shape, sampled 4 x 4: 0..255.
uint8_t Coverage(int32_t X, int32_t Y, const std::function<bool(double, double)>& Inside);

// Three passes of an integer box blur of the given radius, rows then columns, edges
// clamped.
void BoxBlur3(std::vector<uint8_t>& Gray, int32_t Width, int32_t Height, int32_t Radius);

inline int32_t Clamp255(int64_t V) { return V < 0 ? 0 : V > 255 ? 255 : int32_t(V); }

} // namespace kv::assetgen
