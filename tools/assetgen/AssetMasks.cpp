// The layer masks of Masks/ and the pattern tiles of Patterns/.
#include "tools/assetgen/AssetDesigns.h"

#include <cmath>

namespace kv::assetgen {

namespace {

constexpr int32_t W = MaskWidth, H = MaskHeight;

std::vector<uint8_t> Fill(const std::function<uint8_t(int32_t, int32_t)>& Value)
{
    std::vector<uint8_t> g(size_t(W) * H);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            g[size_t(y) * W + x] = Value(x, y);
    return g;
}

std::vector<uint8_t> Shape(const std::function<bool(double, double)>& Inside)
{
    return Fill([&](int32_t x, int32_t y) { return Coverage(x, y, Inside); });
}

// Distance in pixels from the nearest edge of the picture.
int32_t EdgeDistance(int32_t X, int32_t Y) { return std::min(std::min(X, W - 1 - X), std::min(Y, H - 1 - Y)); }

bool InPolygon(const std::vector<std::pair<double, double>>& P, double X, double Y)
{
    bool in = false;
    for (size_t i = 0, j = P.size() - 1; i < P.size(); j = i++) {
        auto [xi, yi] = P[i];
        auto [xj, yj] = P[j];
        if ((yi > Y) != (yj > Y) && X < (xj - xi) * (Y - yi) / (yj - yi) + xi)
            in = !in;
    }
    return in;
}

std::vector<std::pair<double, double>> StarPolygon(double Cx, double Cy, double Outer, double Inner)
{
    std::vector<std::pair<double, double>> p;
    for (int32_t k = 0; k < 10; ++k) {
        // Points every 36 degrees (409.6 table steps), the first straight up.
        int32_t a = 1024 - (k * 4096) / 10;
        double r = (k % 2) ? Inner : Outer;
        p.push_back({Cx + r * SinQ15(a + 1024) / 32767.0, Cy - r * SinQ15(a) / 32767.0});
    }
    return p;
}

} // namespace

std::vector<TNamedGray> LayerMasks()
{
    const double cx = W / 2.0, cy = H / 2.0;
    std::vector<TNamedGray> m;
    m.push_back({"oval.gif", Shape([&](double x, double y) {
                     double u = (x - cx) / 180.0, v = (y - cy) / 130.0;
                     return u * u + v * v <= 1.0;
                 })});
    m.push_back({"soft_oval.gif", Fill([&](int32_t x, int32_t y) {
                     double u = (x + 0.5 - cx) / 195.0, v = (y + 0.5 - cy) / 145.0;
                     double r = std::sqrt(u * u + v * v);
                     return uint8_t(r <= 0.65 ? 255 : r >= 1.0 ? 0 : int32_t((1.0 - r) / 0.35 * 255.0 + 0.5));
                 })});
    m.push_back({"circle.gif", Shape([&](double x, double y) {
                     return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= 135.0 * 135.0;
                 })});
    m.push_back({"rounded_rect.gif", Shape([&](double x, double y) {
                     double dx = std::abs(x - cx) - (cx - 20.0 - 40.0), dy = std::abs(y - cy) - (cy - 20.0 - 40.0);
                     if (dx <= 0 || dy <= 0)
                         return dx <= 40.0 && dy <= 40.0;
                     return dx * dx + dy * dy <= 1600.0;
                 })});
    m.push_back({"soft_rect.gif", Fill([&](int32_t x, int32_t y) {
                     return uint8_t(Clamp255(int64_t(EdgeDistance(x, y)) * 255 / 50));
                 })});
    m.push_back(
        {"heart.gif", Shape([&](double x, double y) { return InHeart((x - cx) / 115.0, (cy - y) / 115.0 + 0.12); })});
    const auto star = StarPolygon(cx, cy + 10.0, 145.0, 60.0);
    m.push_back({"star.gif", Shape([&](double x, double y) { return InPolygon(star, x, y); })});
    m.push_back({"diamond.gif", Shape([&](double x, double y) {
                     return std::abs(x - cx) / 190.0 + std::abs(y - cy) / 140.0 <= 1.0;
                 })});
    m.push_back({"fade_left_right.gif", Fill([&](int32_t x, int32_t) { return uint8_t(x * 255 / (W - 1)); })});
    m.push_back({"fade_top_bottom.gif", Fill([&](int32_t, int32_t y) { return uint8_t(255 - y * 255 / (H - 1)); })});
    m.push_back({"fade_radial.gif", Fill([&](int32_t x, int32_t y) {
                     double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                     double r = std::sqrt(dx * dx + dy * dy) / std::sqrt(cx * cx + cy * cy);
                     return uint8_t(Clamp255(int64_t(255.0 - r * 255.0 + 0.5)));
                 })});
    const uint32_t torn = uint32_t(Fnv1a64("torn_edge.gif"));
    m.push_back({"torn_edge.gif", Fill([&](int32_t x, int32_t y) {
                     int32_t jag =
                         (ValueNoise(x, y, 6, 1 << 20, torn) >> 11) + (ValueNoise(x, y, 23, 1 << 20, torn + 1) >> 11);
                     return uint8_t(EdgeDistance(x, y) * 2 > 30 + jag ? 255 : 0);
                 })});
    TRng spray("spray_edge.gif");
    m.push_back({"spray_edge.gif", Fill([&](int32_t x, int32_t y) {
                     double u = (x + 0.5 - cx) / 190.0, v = (y + 0.5 - cy) / 140.0;
                     return uint8_t(std::sqrt(u * u + v * v) + 0.3 * (spray.Unit() - 0.5) <= 0.85 ? 255 : 0);
                 })});
    const uint32_t clouds = uint32_t(Fnv1a64("clouds.gif"));
    m.push_back({"clouds.gif", Fill([&](int32_t x, int32_t y) {
                     int32_t v = PeriodicFbm(x, y, 1 << 20, 64, clouds) >> 8;
                     return uint8_t(Clamp255((v - 128) * 2 + 128));
                 })});
    m.push_back({"film_strip.gif", Fill([&](int32_t x, int32_t y) {
                     const int32_t strip = 40;
                     if (y >= strip && y < H - strip)
                         return uint8_t(x % 130 < 4 ? 0 : 255); // frame gaps
                     int32_t hy = y < strip ? y : y - (H - strip);
                     bool hole = hy >= 12 && hy < 28 && (x % 32) >= 10 && (x % 32) < 22;
                     return uint8_t(hole ? 255 : 0);
                 })});
    return m;
}

namespace {

// Pattern designs on the 8 x 8 tile, one character per pixel: a colour of the set.
const char* const PatternDesigns[20][8] = {
    {"00000000", "00010000", "00000000", "00000001", "00000000", "01000000", "00000000", "00000100"}, // quiet
    {"01010101", "10101010", "01010101", "10101010", "01010101", "10101010", "01010101", "10101010"}, // checks 1
    {"00110011", "00110011", "11001100", "11001100", "00110011", "00110011", "11001100", "11001100"}, // checks 2
    {"00001111", "00001111", "00001111", "00001111", "11110000", "11110000", "11110000", "11110000"}, // checks 4
    {"10001000", "00000000", "00100010", "00000000", "10001000", "00000000", "00100010", "00000000"}, // 25 %
    {"11111111", "00000000", "22222222", "00000000", "11111111", "00000000", "22222222", "00000000"}, // lines
    {"10201020", "10201020", "10201020", "10201020", "10201020", "10201020", "10201020", "10201020"}, // columns
    {"10000000", "01000000", "00100000", "00010000", "00001000", "00000100", "00000010", "00000001"}, // diagonal
    {"00000001", "00000010", "00000100", "00001000", "00010000", "00100000", "01000000", "10000000"}, // diagonal
    {"10000001", "01000010", "00100100", "00011000", "00011000", "00100100", "01000010", "10000001"}, // hatch
    {"00000000", "01100000", "02100000", "00000000", "00000000", "00000110", "00000210", "00000000"}, // dots
    {"11111111", "10000000", "10000000", "10000000", "10000000", "10000000", "10000000", "10000000"}, // grid
    {"22222222", "00010000", "00010000", "00010000", "22222222", "10000000", "10000000", "10000000"}, // bricks
    {"10000000", "01000001", "00100010", "00010100", "00001000", "00000000", "00000000", "00000000"}, // zigzag
    {"00000000", "01100000", "10010000", "00001001", "00000110", "00000000", "22222222", "00000000"}, // waves
    {"11110222", "11110222", "11110222", "22201111", "22201111", "22201111", "02221110", "02221110"}, // weave
    {"21121121", "10010010", "10010010", "21121121", "10010010", "10010010", "21121121", "10010010"}, // plaid
    {"00011000", "00122100", "01222210", "12222221", "12222221", "01222210", "00122100", "00011000"}, // diamonds
    {"11100111", "00011000", "00000000", "00000000", "01111110", "10000001", "00000000", "00000000"}, // scales
    {"00000000", "00010000", "00111000", "01121100", "00111000", "00010000", "00000000", "00000000"}, // stars
};

const uint32_t PatternColours[19][3] = {
    {0xECECEC, 0xE2E2E2, 0xD8D8D8}, {0x202020, 0xF0F0F0, 0x808080}, {0x8B0000, 0xF5DEB3, 0xCD853F},
    {0x003366, 0xDDEEFF, 0x6699CC}, {0x2F4F2F, 0xC8E6C8, 0x7FA07F}, {0xFFD700, 0x4B0082, 0xB8860B},
    {0xFFFFFF, 0x1E90FF, 0x000080}, {0x800000, 0xFFE4C4, 0xD2691E}, {0x404040, 0xC0C0C0, 0xFFFFFF},
    {0x006400, 0xFFFFE0, 0x9ACD32}, {0x4682B4, 0xF0F8FF, 0x191970}, {0xA0522D, 0xFAEBD7, 0x8B4513},
    {0x000000, 0xFFD700, 0xFF8C00}, {0x708090, 0xF5F5F5, 0x2F4F4F}, {0xDC143C, 0xFFF0F5, 0x800000},
    {0x556B2F, 0xF5F5DC, 0xBDB76B}, {0x483D8B, 0xE6E6FA, 0x9370DB}, {0x008080, 0xE0FFFF, 0x20B2AA},
    {0xB22222, 0xFFFAF0, 0xDAA520},
};

} // namespace

std::vector<uint8_t> PatternPixels(int N)
{
    const char* const* design = PatternDesigns[(N - 1) % 20];
    const uint32_t* colours = PatternColours[(N - 1) % 19];
    std::vector<uint8_t> rgb;
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            uint32_t c = colours[design[y][x] - '0'];
            rgb.push_back(uint8_t(c >> 16));
            rgb.push_back(uint8_t(c >> 8));
            rgb.push_back(uint8_t(c));
        }
    return rgb;
}

} // namespace kv::assetgen
