// Seamless texture tiles for Textures/: every term repeats on the 256-pixel tile
// (lattices taken modulo their period, waves with whole cycles, cells wrapped).
#include "tools/assetgen/AssetDesigns.h"

#include <algorithm>

namespace kv::assetgen {

namespace {

constexpr int32_t T = TextureSize;

using TValueFn = std::function<int32_t(int32_t, int32_t)>; // 0..255 at (x, y)

TRgbPicture Mapped(const std::string& Name, const TPalette256& Ramp, const TValueFn& Value)
{
    TRgbPicture p{Name, T, T, {}};
    p.Rgb.reserve(size_t(T) * T * 3);
    for (int32_t y = 0; y < T; ++y)
        for (int32_t x = 0; x < T; ++x) {
            const TRgb c = Ramp[size_t(Clamp255(Value(x, y)))];
            p.Rgb.push_back(c.R);
            p.Rgb.push_back(c.G);
            p.Rgb.push_back(c.B);
        }
    return p;
}

int32_t Fbm8(int32_t X, int32_t Y, int32_t Cell, uint32_t Seed) { return PeriodicFbm(X, Y, T, Cell, Seed) >> 8; }

// Squared distances to the nearest and second nearest feature point of a Cell-pixel grid
// that wraps on the tile; one point per cell.
struct TCells {
    int32_t F1, F2;
    uint32_t Id;
};

TCells Voronoi(int32_t X, int32_t Y, int32_t Cell, uint32_t Seed)
{
    const int32_t n = T / Cell, cx = X / Cell, cy = Y / Cell;
    TCells r{1 << 30, 1 << 30, 0};
    for (int32_t j = -1; j <= 1; ++j)
        for (int32_t i = -1; i <= 1; ++i) {
            const int32_t gx = cx + i, gy = cy + j;
            const uint32_t h = Lattice(gx, gy, Seed, n);
            const int32_t px = gx * Cell + int32_t(h % uint32_t(Cell)),
                          py = gy * Cell + int32_t((h >> 12) % uint32_t(Cell));
            const int32_t dx = X - px, dy = Y - py, d = dx * dx + dy * dy;
            if (d < r.F1) {
                r.F2 = r.F1;
                r.F1 = d;
                r.Id = h;
            } else if (d < r.F2)
                r.F2 = d;
        }
    return r;
}

int32_t Isqrt(int32_t V)
{
    int32_t r = 0;
    while ((r + 1) * (r + 1) <= V)
        ++r;
    return r;
}

} // namespace

std::vector<TRgbPicture> Textures()
{
    std::vector<TRgbPicture> t;
    auto seed = [](const char* Name) { return uint32_t(Fnv1a64(Name)); };

    t.push_back(
        Mapped("paper.jpg", RampPalette({0xDCD6C8, 0xEFEBE2, 0xFBF9F4}), [s = seed("paper")](int32_t x, int32_t y) {
            return 100 + (Fbm8(x, y, 16, s) - 128) / 2 + (int32_t(Lattice(x, y, s, T) & 31) - 16);
        }));
    t.push_back(Mapped("parchment.jpg", RampPalette({0xA8844C, 0xD8BC84, 0xEEDCB0, 0xF8EED4}),
                       [s = seed("parchment")](int32_t x, int32_t y) {
                           return 60 + Fbm8(x, y, 64, s) * 3 / 4 + (Fbm8(x, y, 8, s + 1) - 128) / 4;
                       }));
    t.push_back(
        Mapped("canvas.jpg", RampPalette({0x8C7E62, 0xC8BA9A, 0xE8DEC6}), [s = seed("canvas")](int32_t x, int32_t y) {
            // Over-under threads, 4 pixels each way.
            const bool warp = ((x / 4) + (y / 4)) % 2 == 0;
            const int32_t across = warp ? x % 4 : y % 4;
            const int32_t thread = across == 0 || across == 3 ? 110 : 170;
            return thread + (Fbm8(x, y, 32, s) - 128) / 3 + int32_t(Lattice(x, y, s, T) % 20) - 10;
        }));
    t.push_back(
        Mapped("linen.jpg", RampPalette({0x9A9080, 0xD4CCBC, 0xF0EBE0}), [s = seed("linen")](int32_t x, int32_t y) {
            // Fine plain weave with slubs: each thread's thickness varies along the tile.
            const int32_t col = int32_t(Lattice(x / 2, 0, s, T / 2) % 50),
                          row = int32_t(Lattice(0, y / 2, s + 1, T / 2) % 50);
            return (((x / 2) + (y / 2)) % 2 ? 120 + col : 120 + row) + (Fbm8(x, y, 64, s) - 128) / 4;
        }));
    t.push_back(Mapped("wood.jpg", RampPalette({0x4A2812, 0x7A4A24, 0xA8743E, 0xC89A60}),
                       [s = seed("wood")](int32_t x, int32_t y) {
                           // Rings: sine(k y + noise), 6 whole cycles down the tile.
                           const int32_t phase = y * 4096 * 6 / T + (PeriodicFbm(x, y, T, 64, s) >> 5);
                           const int32_t ring = SinQ15(phase);
                           return 128 + ring / 300 + (ValueNoise(x, y * 8, 32, T / 32, s + 2) >> 11) - 16;
                       }));
    t.push_back(Mapped("marble.jpg", RampPalette({0x505058, 0xA8A8B0, 0xE4E4E8, 0xFAFAFA}),
                       [s = seed("marble")](int32_t x, int32_t y) {
                           // sine(k x + turbulence), 3 whole cycles across.
                           const int32_t phase = x * 4096 * 3 / T + y * 4096 / T + (PeriodicFbm(x, y, T, 64, s) >> 3);
                           int32_t v = SinQ15(phase);
                           v = v < 0 ? -v : v;
                           return 255 - (32767 - v) / 200 + (Fbm8(x, y, 8, s + 1) - 128) / 8;
                       }));
    t.push_back(Mapped("granite.jpg", RampPalette({0x2A2426, 0x6E6266, 0xA8969A, 0xD8CACC}),
                       [s = seed("granite")](int32_t x, int32_t y) {
                           const TCells c = Voronoi(x, y, 8, s);
                           return int32_t(c.Id % 200) + 20 + int32_t(Lattice(x, y, s + 3, T) % 40) - 20 -
                                  Isqrt(c.F1) * 2;
                       }));
    t.push_back(Mapped("sand.jpg", RampPalette({0xA88E5C, 0xCFB880, 0xE8D6A4, 0xF6EACA}),
                       [s = seed("sand")](int32_t x, int32_t y) {
                           return Fbm8(x, y, 32, s) / 2 + int32_t(Lattice(x, y, s + 1, T) % 128);
                       }));
    t.push_back(Mapped(
        "clouds.jpg", RampPalette({0x3C78C8, 0x78A8E0, 0xC8DCF4, 0xFFFFFF}),
        [s = seed("clouds")](int32_t x, int32_t y) { return (PeriodicFbm(x, y, T, 128, s) >> 8) * 3 / 2 - 60; }));
    t.push_back(Mapped("water.jpg", RampPalette({0x08285A, 0x1E5A96, 0x3C8CC4, 0x9CD4F0}),
                       [s = seed("water")](int32_t x, int32_t y) {
                           const int32_t warp = PeriodicFbm(x, y, T, 64, s) >> 4;
                           const int32_t w1 = SinQ15(x * 4096 * 4 / T + y * 4096 * 2 / T + warp);
                           const int32_t w2 = SinQ15(y * 4096 * 5 / T - x * 4096 / T + warp / 2);
                           return 128 + w1 / 400 + w2 / 500;
                       }));
    t.push_back(Mapped("brushed_metal.jpg", RampPalette({0x5A5E64, 0x9AA0A8, 0xD0D4DA, 0xF2F4F6}),
                       [s = seed("brushed_metal")](int32_t x, int32_t y) {
                           return 120 + int32_t(Lattice(0, y, s, T) % 60) - 30 +
                                  (ValueNoise(x, y * 32, 64, T / 64, s + 1) >> 10) - 32 +
                                  int32_t(Lattice(x / 16, y, s + 2, T / 16) % 16);
                       }));
    t.push_back(Mapped("bricks.jpg", RampPalette({0xB4B0A8, 0x5A2414, 0x8A3A22, 0xB0583A}),
                       [s = seed("bricks")](int32_t x, int32_t y) {
                           // 8 courses of 32 pixels, bricks 64 wide, every other course shifted by half.
                           const int32_t course = y / 32, shifted = (x + (course % 2) * 32) % T, brick = shifted / 64;
                           if (y % 32 < 4 || shifted % 64 < 4)
                               return 8 + int32_t(Lattice(x, y, s, T) % 20); // mortar
                           return 90 + int32_t(Lattice(brick, course, s + 1, T) % 100) +
                                  (Fbm8(x, y, 16, s + 2) - 128) / 3;
                       }));
    t.push_back(Mapped("cork.jpg", RampPalette({0x5A3A1C, 0x9A6A3C, 0xC89C64, 0xE6C490}),
                       [s = seed("cork")](int32_t x, int32_t y) {
                           const TCells c = Voronoi(x, y, 8, s);
                           return int32_t(c.Id % 150) + 60 - Isqrt(c.F1) * 6 + int32_t(Lattice(x, y, s + 1, T) % 30);
                       }));
    t.push_back(Mapped("leather.jpg", RampPalette({0x2A1408, 0x5A3018, 0x84502C, 0xA86E44}),
                       [s = seed("leather")](int32_t x, int32_t y) {
                           // Creases where two cells meet.
                           const TCells c = Voronoi(x, y, 16, s);
                           const int32_t edge = Isqrt(c.F2) - Isqrt(c.F1);
                           return (edge < 2 ? 60 : 150) + (Fbm8(x, y, 32, s + 1) - 128) / 3;
                       }));
    t.push_back(Mapped(
        "denim.jpg", RampPalette({0x0E1A3A, 0x22386A, 0x3C5A96, 0x8CA4CC}), [s = seed("denim")](int32_t x, int32_t y) {
            // Twill: the weft rises one step per row.
            const bool warp = ((x + y) % 4) < 3;
            return (warp ? 110 : 190) + int32_t(Lattice(x, y / 4, s, T) % 40) - 20 + (Fbm8(x, y, 64, s + 1) - 128) / 4;
        }));
    // Stars: a faint nebula and points dropped with wrap-around.
    {
        const uint32_t s = seed("starfield");
        TRgbPicture p = Mapped("starfield.jpg", RampPalette({0x000004, 0x060A1E, 0x18204A}),
                               [s](int32_t x, int32_t y) { return Fbm8(x, y, 128, s) - 60; });
        TRng rng("starfield.jpg");
        for (int32_t k = 0; k < 260; ++k) {
            const int32_t x = int32_t(rng.Below(T)), y = int32_t(rng.Below(T)), v = 120 + int32_t(rng.Below(136));
            const bool big = rng.Below(10) == 0;
            auto put = [&](int32_t px, int32_t py, int32_t level) {
                uint8_t* c = p.Rgb.data() + (size_t((py + T) % T) * T + size_t((px + T) % T)) * 3;
                for (int32_t ch = 0; ch < 3; ++ch)
                    c[ch] = uint8_t(std::max<int32_t>(c[ch], level - (ch == 0 ? 10 : 0)));
            };
            put(x, y, v);
            if (big)
                for (int32_t d = -1; d <= 1; d += 2) {
                    put(x + d, y, v / 2);
                    put(x, y + d, v / 2);
                }
        }
        t.push_back(std::move(p));
    }
    return t;
}

} // namespace kv::assetgen
