#include "tools/assetgen/AssetMath.h"

#include <array>
#include <cmath>

namespace kv::assetgen {

uint64_t Fnv1a64(const void* Data, size_t Size, uint64_t Hash)
{
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    for (size_t i = 0; i < Size; ++i) {
        Hash ^= p[i];
        Hash *= 0x100000001B3ull;
    }
    return Hash;
}

uint32_t Mix32(uint32_t X)
{
    X ^= X >> 16;
    X *= 0x7FEB352Du;
    X ^= X >> 15;
    X *= 0x846CA68Bu;
    X ^= X >> 16;
    return X;
}

uint32_t Lattice(int32_t I, int32_t J, uint32_t Seed, int32_t Period)
{
    uint32_t i = uint32_t(((I % Period) + Period) % Period);
    uint32_t j = uint32_t(((J % Period) + Period) % Period);
    return Mix32(i * 0x9E3779B1u ^ Mix32(j + Seed * 0x85EBCA77u));
}

namespace {

// 3t^2 - 2t^3 with t in 16.16.
inline int64_t Smooth(int64_t T) { return (T * T * (3 * 65536 - 2 * T)) >> 32; }

} // namespace

int32_t ValueNoise(int32_t X, int32_t Y, int32_t Cell, int32_t Period, uint32_t Seed)
{
    const int32_t ix = X / Cell, iy = Y / Cell;
    const int64_t sx = Smooth((int64_t(X % Cell) << 16) / Cell);
    const int64_t sy = Smooth((int64_t(Y % Cell) << 16) / Cell);
    auto v = [&](int32_t i, int32_t j) { return int64_t(Lattice(i, j, Seed, Period) & 0xFFFF); };
    const int64_t a = v(ix, iy), b = v(ix + 1, iy), c = v(ix, iy + 1), d = v(ix + 1, iy + 1);
    const int64_t top = a + (((b - a) * sx) >> 16);
    const int64_t bottom = c + (((d - c) * sx) >> 16);
    return int32_t(top + (((bottom - top) * sy) >> 16));
}

int32_t PeriodicFbm(int32_t X, int32_t Y, int32_t Tile, int32_t Cell, uint32_t Seed)
{
    int64_t sum = 0, weight = 0;
    int32_t amplitude = 256;
    for (int32_t cell = Cell; cell >= 2 && amplitude > 0; cell /= 2, amplitude /= 2) {
        sum += int64_t(ValueNoise(X, Y, cell, Tile / cell, Seed + uint32_t(cell))) * amplitude;
        weight += amplitude;
    }
    return int32_t(sum / weight);
}

namespace {

// The quarter wave by its Taylor polynomial to x^13 (only + - * /), then folded.
std::array<int32_t, 4096> MakeSineTable()
{
    std::array<int32_t, 4096> t{};
    const double pi = 3.14159265358979323846;
    for (int32_t a = 0; a <= 1024; ++a) {
        double x = pi * double(a) / 2048.0;
        double x2 = x * x, term = x, sum = x;
        for (int32_t k = 1; k <= 6; ++k) {
            term = -term * x2 / double((2 * k) * (2 * k + 1));
            sum = sum + term;
        }
        int32_t q = int32_t(sum * 32767.0 + 0.5);
        if (q > 32767)
            q = 32767;
        t[size_t(a)] = q;
        t[size_t(2048 - a) % 4096] = q;
        t[size_t(2048 + a) % 4096] = -q;
        t[size_t(4096 - a) % 4096] = -q;
    }
    t[0] = 0;
    t[2048] = 0;
    return t;
}

} // namespace

int32_t SinQ15(int32_t A)
{
    static const std::array<int32_t, 4096> table = MakeSineTable();
    return table[size_t(A & 4095)];
}

TPalette256 RampPalette(std::initializer_list<uint32_t> Keys)
{
    std::vector<uint32_t> k(Keys);
    TPalette256 p{};
    const int32_t spans = int32_t(k.size()) - 1;
    for (int32_t i = 0; i < 256; ++i) {
        if (spans <= 0) {
            p[size_t(i)] = {uint8_t(k[0] >> 16), uint8_t(k[0] >> 8), uint8_t(k[0])};
            continue;
        }
        // Position in key steps, in 1/255 units: i * spans / 255.
        const int32_t pos = i * spans;
        const int32_t s = pos / 255 < spans ? pos / 255 : spans - 1;
        const int32_t f = pos - s * 255; // 0..255 within the span
        auto mix = [&](int shift) {
            int32_t a = int32_t((k[size_t(s)] >> shift) & 0xFF), b = int32_t((k[size_t(s + 1)] >> shift) & 0xFF);
            return uint8_t(a + ((b - a) * f + (b >= a ? 127 : -127)) / 255);
        };
        p[size_t(i)] = {mix(16), mix(8), mix(0)};
    }
    return p;
}

uint8_t Coverage(int32_t X, int32_t Y, const std::function<bool(double, double)>& Inside)
{
    int32_t n = 0;
    for (int32_t j = 0; j < 4; ++j)
        for (int32_t i = 0; i < 4; ++i)
            if (Inside(double(X) + (double(i) + 0.5) / 4.0, double(Y) + (double(j) + 0.5) / 4.0))
                ++n;
    return uint8_t((n * 255 + 8) / 16);
}

void BoxBlur3(std::vector<uint8_t>& Gray, int32_t Width, int32_t Height, int32_t Radius)
{
    const int32_t span = 2 * Radius + 1;
    std::vector<uint8_t> tmp(Gray.size());
    auto pass = [&](bool Rows) {
        const int32_t lines = Rows ? Height : Width, len = Rows ? Width : Height;
        for (int32_t l = 0; l < lines; ++l) {
            auto at = [&](int32_t i) -> uint8_t& {
                i = i < 0 ? 0 : i >= len ? len - 1 : i;
                return Rows ? Gray[size_t(l) * Width + i] : Gray[size_t(i) * Width + l];
            };
            int32_t sum = 0;
            for (int32_t i = -Radius; i <= Radius; ++i)
                sum += at(i);
            for (int32_t i = 0; i < len; ++i) {
                (Rows ? tmp[size_t(l) * Width + i] : tmp[size_t(i) * Width + l]) = uint8_t((sum + span / 2) / span);
                sum += at(i + Radius + 1) - at(i - Radius);
            }
        }
        Gray.swap(tmp);
    };
    for (int32_t k = 0; k < 3; ++k) {
        pass(true);
        pass(false);
    }
}

} // namespace kv::assetgen
