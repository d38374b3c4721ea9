// The pixel type and the small records every raster unit shares: points, rectangles,
// fixed point and conversion to and from the platform's colour.
#pragma once

#include "platform/Graphics.h"
#include "platform/Types.h"

#include <cstdint>

namespace kv {

// 0xAARRGGBB; in memory B, G, R, A. Alpha 255 is opaque. Not premultiplied.
using TColor32 = uint32_t;
using PColor32 = TColor32*;

// 16.16 fixed point.
using TFixed = int32_t;
constexpr TFixed FixedOne = 0x10000;

struct TSinglePoint {
    float X = 0;
    float Y = 0;
    friend bool operator==(const TSinglePoint&, const TSinglePoint&) = default;
};

struct TSingleRect {
    float Left = 0;
    float Top = 0;
    float Right = 0;
    float Bottom = 0;
    friend bool operator==(const TSingleRect&, const TSingleRect&) = default;
};

// Rounding of SingleRectToRect: to nearest (ties to even), outer (floor/ceil), inner (ceil/floor).
enum TRectRounding : uint8_t { rrClosest = 0, rrOutside = 1, rrInside = 2 };

constexpr TColor32 clBlack32 = 0xFF000000, clWhite32 = 0xFFFFFFFF, clTransparent32 = 0x00000000, clRed32 = 0xFFFF0000,
                   clGreen32 = 0xFF00FF00, clBlue32 = 0xFF0000FF, clGray32 = 0xFF7F7F7F, clYellow32 = 0xFFFFFF00;

TColor32 WinColorToColor32(TColor WinColor);
TColor Color32ToWinColor(TColor32 Color32);
TColor32 MakeColor32(int32_t R, int32_t G, int32_t B, int32_t A = 255);
TColor32 MakeGray32(int32_t Intensity, int32_t Alpha = 255);
inline int32_t Color32Red(TColor32 C) { return int32_t((C >> 16) & 0xFF); }
inline int32_t Color32Green(TColor32 C) { return int32_t((C >> 8) & 0xFF); }
inline int32_t Color32Blue(TColor32 C) { return int32_t(C & 0xFF); }
inline int32_t Color32Alpha(TColor32 C) { return int32_t(C >> 24); }
int32_t Color32Intensity(TColor32 C);
TColor32 Color32WithAlpha(TColor32 Color, int32_t Alpha);

// X * 65536 rounded to nearest (ties to even); saturates to the 32-bit range, NaN gives 0.
TFixed ToFixed(float X);

inline TPoint MakePoint(int32_t X, int32_t Y) { return TPoint{X, Y}; }
inline TSinglePoint PointToSinglePoint(const TPoint& P) { return TSinglePoint{float(P.X), float(P.Y)}; }
inline TRect MakeIntRect(int32_t L, int32_t T, int32_t R, int32_t B) { return TRect{L, T, R, B}; }
inline TSingleRect MakeSingleRect(float L, float T, float R, float B) { return TSingleRect{L, T, R, B}; }
TRect SingleRectToRect(const TSingleRect& R, int Mode = rrClosest);
bool IntersectRects(TRect& Dst, const TRect& R1, const TRect& R2);
void GrowRect(TRect& R, int32_t Dx, int32_t Dy);
void OffsetIntRect(TRect& R, int32_t Dx, int32_t Dy);
inline bool RectIsEmpty(const TRect& R) { return R.Right <= R.Left || R.Bottom <= R.Top; }
inline bool SingleRectIsEmpty(const TSingleRect& R) { return R.Right <= R.Left || R.Bottom <= R.Top; }
inline bool PointInIntRect(const TRect& R, const TPoint& P)
{
    return R.Left <= P.X && P.X < R.Right && R.Top <= P.Y && P.Y < R.Bottom;
}

} // namespace kv
