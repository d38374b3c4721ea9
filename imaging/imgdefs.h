// Library-wide types, screen and processor globals and small numeric helpers of the
// imaging library.
#pragma once

#include "platform/SysUtils.h"
#include "platform/Types.h"

#include <cstdint>
#include <functional>

namespace kv {

// One palette entry or key colour: blue, green, red in memory.
struct TRGB {
    uint8_t b = 0;
    uint8_t g = 0;
    uint8_t r = 0;
    friend bool operator==(const TRGB&, const TRGB&) = default;
};
static_assert(sizeof(TRGB) == 3, "TRGB is three bytes on disk and in palettes");

inline TRGB CreateRGB(uint8_t r, uint8_t g, uint8_t b) { return TRGB{b, g, r}; }

using TIEProgressEvent = std::function<void(TObject* Sender, int32_t per)>;

// Built by the caller of a reader or writer; the filter sets Counter and Factor and
// reports Trunc(Counter * Factor) after each row, stopping when *Aborting is set.
struct TProgressRec {
    TIEProgressEvent OnProgress;
    TObject* Sender = nullptr;
    int32_t Counter = 0;
    double Factor = 0.0;
    bool* Aborting = nullptr;

    bool IsAborting() const { return Aborting && *Aborting; }
    void SetAborting()
    {
        if (Aborting)
            *Aborting = true;
    }
    void Report()
    {
        if (OnProgress)
            OnProgress(Sender, int32_t(Counter * Factor));
    }
};

enum TMsgLanguage : uint8_t {
    msSystem,
    msEnglish,
    msItalian,
    msGerman,
    msSpanish,
    msFrench,
    msPortuguese,
    msGreek,
    msRussian,
    msDutch,
    msSwedish,
    msUser
};

// Screen and processor facts, read once on first use (the screen needs the
// application object, which does not exist yet while statics are initialised).
int32_t IEScreenBitsPerPixel();
int32_t IEScreenDpiX();
int32_t IEScreenDpiY();
bool IEHasMMX();
int32_t IEEdgeX(); // width of a window's 3-D edge, horizontally
int32_t IEEdgeY();
// Headless runs have no meaningful screen: tests pin the resolution here.
void IESetScreenDpi(int32_t dpiX, int32_t dpiY);

// Bytes per row of a DIB-style bitmap: ((Width * BitsPerPixel + 31) shr 5) shl 2, in 64 bits.
inline int64_t IERowLen(int64_t width, int64_t bitsPerPixel) { return ((width * bitsPerPixel + 31) >> 5) << 2; }

uint8_t ReverseBits(uint8_t b);
uint32_t ReverseBits32(uint32_t v);
inline uint16_t IESwapWord(uint16_t v) { return uint16_t((v >> 8) | (v << 8)); }
inline uint32_t IESwapDWord(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
int64_t IEIntPower(int64_t base, uint32_t exponent);
double IEPower(double base, double exponent);
// Width of the lowest run of set bits of a channel mask (5 for 0x7C00, 0 for 0).
int32_t IEBitRunWidth(uint32_t mask);
bool IERectOverlap(const TRect& a, const TRect& b);
inline bool IEPointInRect(int32_t x, int32_t y, const TRect& r) { return PtInRect(r, Point(x, y)); }

struct TCIELab {
    double L = 0, a = 0, b = 0;
};
TCIELab IERGB2Lab(TRGB rgb);
TRGB IELab2RGB(const TCIELab& lab);

// Small helpers shared by the filters.
inline int32_t IEMin(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t IEMax(int32_t a, int32_t b) { return a > b ? a : b; }
inline int32_t IEClamp(int32_t v, int32_t lo, int32_t hi) { return IEMin(IEMax(v, lo), hi); }
inline int32_t Luma(TRGB c) { return (c.r * 21 + c.g * 71 + c.b * 7) / 100; }

} // namespace kv
