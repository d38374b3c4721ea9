#include "imaging/imgdefs.h"

#include "platform/CpuFeatures.h"
#include "platform/KvScreenMetrics.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace kv {

namespace {

// Owned by this unit for the program's life; filled on first use.
struct TScreenFacts {
    bool Read = false;
    int32_t Bits = 24;
    int32_t DpiX = 96;
    int32_t DpiY = 96;
};

TScreenFacts& ScreenFacts()
{
    static TScreenFacts facts;
    if (!facts.Read) {
        facts.Read = true;
        TScreenMetrics m = ReadScreenMetrics();
        facts.Bits = m.BitsPerPixel;
        facts.DpiX = m.LogicalDpiX;
        facts.DpiY = m.LogicalDpiY;
    }
    return facts;
}

} // namespace

int32_t IEScreenBitsPerPixel() { return ScreenFacts().Bits; }
int32_t IEScreenDpiX() { return ScreenFacts().DpiX; }
int32_t IEScreenDpiY() { return ScreenFacts().DpiY; }

void IESetScreenDpi(int32_t dpiX, int32_t dpiY)
{
    TScreenFacts& f = ScreenFacts();
    f.DpiX = dpiX;
    f.DpiY = dpiY;
}

bool IEHasMMX() { return CpuHas(TSimdLevel::Mmx); }

int32_t IEEdgeX() { return 2; }
int32_t IEEdgeY() { return 2; }

namespace {
struct TBitReverseTable {
    uint8_t T[256];
    TBitReverseTable()
    {
        for (int i = 0; i < 256; ++i) {
            uint8_t r = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1 << b))
                    r |= uint8_t(0x80 >> b);
            T[i] = r;
        }
    }
};
const TBitReverseTable BitReverse;
} // namespace

uint8_t ReverseBits(uint8_t b) { return BitReverse.T[b]; }

uint32_t ReverseBits32(uint32_t v)
{
    return (uint32_t(BitReverse.T[v & 0xFF]) << 24) | (uint32_t(BitReverse.T[(v >> 8) & 0xFF]) << 16) |
           (uint32_t(BitReverse.T[(v >> 16) & 0xFF]) << 8) | uint32_t(BitReverse.T[v >> 24]);
}

int64_t IEIntPower(int64_t base, uint32_t exponent)
{
    int64_t r = 1;
    while (exponent--)
        r *= base;
    return r;
}

double IEPower(double base, double exponent)
{
    if (exponent == 0.0)
        return 1.0;
    if (base == 0.0)
        return 0.0;
    return std::pow(base, exponent);
}

int32_t IEBitRunWidth(uint32_t mask)
{
    if (mask == 0)
        return 0;
    while (!(mask & 1))
        mask >>= 1;
    int32_t n = 0;
    while (mask & 1) {
        ++n;
        mask >>= 1;
    }
    return n;
}

bool IERectOverlap(const TRect& a, const TRect& b)
{
    return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

namespace {

// sRGB's transfer curve: 8-bit values are companded, the CIE formulas need linear light.
double SrgbToLinear(uint8_t v)
{
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

uint8_t LinearToSrgb(double v)
{
    const double c = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(std::max(v, 0.0), 1.0 / 2.4) - 0.055;
    return uint8_t(ClampByte(int32_t(std::lround(c * 255.0))));
}

} // namespace

// CIE L*a*b* of an sRGB colour through XYZ with the D65 white point.
TCIELab IERGB2Lab(TRGB c)
{
    const double r = SrgbToLinear(c.r), g = SrgbToLinear(c.g), b = SrgbToLinear(c.b);
    const double x = (0.412453 * r + 0.357580 * g + 0.180423 * b) / 0.950456;
    const double y = 0.212671 * r + 0.715160 * g + 0.072169 * b;
    const double z = (0.019334 * r + 0.119193 * g + 0.950227 * b) / 1.088754;
    auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
    TCIELab lab;
    lab.L = y > 0.008856 ? 116.0 * std::cbrt(y) - 16.0 : 903.3 * y;
    lab.a = 500.0 * (f(x) - f(y));
    lab.b = 200.0 * (f(y) - f(z));
    return lab;
}

TRGB IELab2RGB(const TCIELab& lab)
{
    const double fy = (lab.L + 16.0) / 116.0;
    const double fx = fy + lab.a / 500.0;
    const double fz = fy - lab.b / 200.0;
    auto inv = [](double t) { return t > 0.206893 ? t * t * t : (t - 16.0 / 116.0) / 7.787; };
    const double x = inv(fx) * 0.950456, y = inv(fy), z = inv(fz) * 1.088754;
    const double r = 3.240479 * x - 1.537150 * y - 0.498535 * z;
    const double g = -0.969256 * x + 1.875992 * y + 0.041556 * z;
    const double b = 0.055648 * x - 0.204043 * y + 1.057311 * z;
    return TRGB{LinearToSrgb(b), LinearToSrgb(g), LinearToSrgb(r)};
}

} // namespace kv
