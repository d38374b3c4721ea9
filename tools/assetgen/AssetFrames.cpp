// Frame pictures, their mask and the shape masks of the frame dialog.
#include "tools/assetgen/AssetDesigns.h"

#include <cmath>

namespace kv::assetgen {

namespace {

constexpr int32_t W = FrameWidth, H = FrameHeight, BX = FrameBandX, BY = FrameBandY;
constexpr int32_t BandSteps = 96; // positions across the band, whatever its width in pixels

enum TFrameKind : uint8_t { fkGilt, fkWood, fkSilver, fkMat, fkLacquer, fkWalnut, fkMarble, fkBaguette };

struct TFrameStyle {
    const char* Name;
    TFrameKind Kind;
    std::initializer_list<uint32_t> Keys;
    // Height of the moulding across the band (outer edge first) as (step, height) points.
    std::initializer_list<std::pair<int32_t, int32_t>> Profile;
};

const TFrameStyle FrameStyles[8] = {
    {"Frame1",
     fkGilt,
     {0x2A1A06, 0x7A5A18, 0xC9A236, 0xF3DA84, 0xFFF6D0},
     {{0, 40}, {8, 200}, {16, 150}, {40, 110}, {62, 180}, {78, 140}, {88, 210}, {95, 90}}},
    {"Frame2",
     fkWood,
     {0x140A04, 0x3B2210, 0x6A4022, 0x94633A},
     {{0, 60}, {10, 150}, {30, 130}, {70, 120}, {86, 160}, {95, 70}}},
    {"Frame3",
     fkSilver,
     {0x22252A, 0x6C727C, 0xB8BEC6, 0xEEF1F4, 0xFFFFFF},
     {{0, 50}, {6, 190}, {24, 160}, {60, 150}, {84, 200}, {95, 80}}},
    {"Frame4",
     fkMat,
     {0x1A1A1A, 0x9C988C, 0xE8E4D8, 0xF8F6F0, 0xFFFFFF},
     {{0, 120}, {6, 200}, {80, 205}, {90, 160}, {95, 120}}},
    {"Frame5",
     fkLacquer,
     {0x040404, 0x262626, 0x5A4A18, 0xC8A040, 0xFFE890},
     {{0, 40}, {6, 70}, {12, 80}, {70, 75}, {80, 70}, {84, 210}, {90, 230}, {95, 150}}},
    {"Frame6",
     fkWalnut,
     {0x1C0F06, 0x4E301A, 0x7E532E, 0xB4824E, 0xE0B888},
     {{0, 50}, {12, 140}, {30, 120}, {66, 110}, {95, 100}}},
    {"Frame7",
     fkMarble,
     {0x3C3C42, 0x8C8C96, 0xCFCFD4, 0xF4F4F6},
     {{0, 80}, {10, 190}, {50, 180}, {84, 200}, {95, 110}}},
    {"Frame8", fkBaguette, {0x24160A, 0x6E4A28, 0xBE9258, 0xEED4A0, 0xFFF4DC}, {}},
};

std::array<int32_t, BandSteps> ProfileTable(const TFrameStyle& S)
{
    std::array<int32_t, BandSteps> t{};
    if (S.Kind == fkBaguette) {
        // A half round: height sqrt(1 - u^2) across the band.
        for (int32_t q = 0; q < BandSteps; ++q) {
            double u = (double(q) + 0.5 - 48.0) / 48.0;
            t[size_t(q)] = 40 + int32_t(std::sqrt(1.0 - u * u) * 180.0);
        }
        return t;
    }
    std::vector<std::pair<int32_t, int32_t>> pts(S.Profile);
    for (int32_t q = 0; q < BandSteps; ++q) {
        size_t k = 0;
        while (k + 2 < pts.size() && pts[k + 1].first <= q)
            ++k;
        auto [q0, h0] = pts[k];
        auto [q1, h1] = pts[k + 1];
        t[size_t(q)] = q1 == q0 ? h1 : h0 + (h1 - h0) * (q - q0) / (q1 - q0);
    }
    return t;
}

// The texture term of each design along a side: Along runs along it, Q across the band.
int32_t Grain(TFrameKind Kind, int32_t Along, int32_t Q, int32_t Sign, uint32_t Seed)
{
    switch (Kind) {
    case fkGilt: return (ValueNoise(Along, Q * 4, 3, 1 << 20, Seed) >> 12) - 8;
    case fkWood:
    case fkWalnut: {
        // Streaks: long along the side, thin across it.
        int32_t n = ValueNoise(Along, Q * 10, 40, 1 << 20, Seed);
        int32_t fine = ValueNoise(Along, Q * 24, 6, 1 << 20, Seed + 7);
        int32_t g = (n >> 10) - 32 + (fine >> 12) - 8;
        if (Kind == fkWalnut && Q >= 68 && Q < 86) {
            // A row of beads, 14 steps apart along the side.
            int32_t a = (Along % 14) - 7, b = Q - 77;
            int32_t d2 = a * a + b * b;
            if (d2 < 49)
                g += (49 - d2) * 2 - (a + b) * 5 * Sign;
            else
                g -= 40;
        }
        return g;
    }
    case fkSilver:
        return int32_t(Lattice(Q, Along / 97, Seed) % 24) - 12 + (ValueNoise(Along, Q * 16, 50, 1 << 20, Seed) >> 12);
    case fkMat: return (ValueNoise(Along, Q * 3, 2, 1 << 20, Seed) >> 13) - 4 + (Q >= 86 && Q < 89 ? -170 : 0);
    case fkLacquer: return (ValueNoise(Along, Q * 6, 60, 1 << 20, Seed) >> 13) - 4;
    case fkMarble: {
        int32_t turb = ValueNoise(Along, Q * 6, 48, 1 << 20, Seed) >> 4; // 0..4095
        int32_t s = SinQ15(Along * 23 + Q * 40 + turb);
        int32_t v = s < 0 ? -s : s; // veins where the wave crosses zero
        return v < 3000 ? -90 + v / 40 : (ValueNoise(Along, Q * 6, 12, 1 << 20, Seed + 3) >> 12) - 8;
    }
    case fkBaguette: return (ValueNoise(Along, Q * 8, 30, 1 << 20, Seed) >> 12) - 8;
    }
    return 0;
}

} // namespace

TGifPicture FramePicture(int32_t Index)
{
    const TFrameStyle& S = FrameStyles[Index];
    const std::array<int32_t, BandSteps> profile = ProfileTable(S);
    const uint32_t seed = uint32_t(Fnv1a64(S.Name));
    TGifPicture p;
    p.Width = W;
    p.Height = H;
    p.Palette = RampPalette(S.Keys);
    p.Palette[0] = {128, 128, 128}; // the interior, hidden by the mask
    p.Indices.assign(size_t(W) * H, 0);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            // Mitred corners: the side whose band is nearest, in band fractions (16.16).
            const int32_t d[4] = {x * 65536 / BX, y * 65536 / BY, (W - 1 - x) * 65536 / BX, (H - 1 - y) * 65536 / BY};
            int32_t side = 0;
            for (int32_t s = 1; s < 4; ++s)
                if (d[s] < d[side])
                    side = s;
            if (d[side] >= 65536)
                continue;
            const int32_t q = d[side] * BandSteps >> 16;
            const int32_t sign = side < 2 ? 1 : -1; // light from the top left
            const int32_t along = (side == 0 || side == 2) ? y : x;
            const int32_t slope = profile[size_t(q < BandSteps - 1 ? q + 1 : q)] - profile[size_t(q > 0 ? q - 1 : q)];
            const int32_t shade =
                profile[size_t(q)] + slope * 3 * sign + Grain(S.Kind, along, q, sign, seed + uint32_t(side));
            p.Indices[size_t(y) * W + x] = uint8_t(shade < 1 ? 1 : shade > 255 ? 255 : shade);
        }
    return p;
}

uint8_t Mask01Value(int X, int Y)
{
    int32_t d = std::min(std::min(X - (BX - 1), (W - BX) - X), std::min(Y - (BY - 1), (H - BY) - Y));
    return d <= 0 ? 255 : d == 1 ? 170 : d == 2 ? 85 : 0;
}

TGifPicture GrayPicture(int32_t Width, int32_t Height, std::vector<uint8_t> Gray)
{
    TGifPicture p;
    p.Width = Width;
    p.Height = Height;
    for (int32_t i = 0; i < 256; ++i)
        p.Palette[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i)};
    p.Indices = std::move(Gray);
    return p;
}

TGifPicture Mask01Picture()
{
    std::vector<uint8_t> g(size_t(W) * H);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            g[size_t(y) * W + x] = Mask01Value(x, y);
    return GrayPicture(W, H, std::move(g));
}

bool InHeart(double X, double Y)
{
    // (x^2 + y^2 - 1)^3 - x^2 y^3 <= 0, y pointing up.
    double a = X * X + Y * Y - 1.0;
    return a * a * a - X * X * Y * Y * Y <= 0.0;
}

std::vector<uint8_t> ShapeMaskGray(TShapeMask Kind)
{
    // Black inside the shape (the picture shows), white outside (the cover shows).
    std::vector<uint8_t> g(size_t(W) * H, 255);
    const double cx = W / 2.0, cy = H / 2.0, a = 330.0, b = 240.0;
    auto radius = [&](double x, double y) {
        double u = (x - cx) / a, v = (y - cy) / b;
        return std::sqrt(u * u + v * v);
    };
    TRng rng("mask_spray.gif");
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            uint8_t& out = g[size_t(y) * W + x];
            switch (Kind) {
            case smGrad: {
                double r = radius(x + 0.5, y + 0.5);
                out = uint8_t(r <= 0.55 ? 0 : r >= 1.0 ? 255 : int32_t((r - 0.55) / 0.45 * 255.0 + 0.5));
                break;
            }
            case smBlur: out = radius(x + 0.5, y + 0.5) <= 0.92 ? 0 : 255; break;
            case smSpray: out = radius(x + 0.5, y + 0.5) + 0.22 * (rng.Unit() - 0.5) <= 0.9 ? 0 : 255; break;
            case smHeart:
                out = uint8_t(255 - Coverage(x, y, [&](double px, double py) {
                                  return InHeart((px - cx) / 200.0, (cy - py) / 200.0 + 0.15);
                              }));
                break;
            case smTwoHearts:
                out = uint8_t(255 - Coverage(x, y, [&](double px, double py) {
                                  double v = (cy - py) / 150.0 + 0.1;
                                  return InHeart((px - (cx - 175.0)) / 150.0, v) ||
                                         InHeart((px - (cx + 175.0)) / 150.0, v);
                              }));
                break;
            }
        }
    if (Kind == smBlur)
        BoxBlur3(g, W, H, 12);
    return g;
}

} // namespace kv::assetgen
