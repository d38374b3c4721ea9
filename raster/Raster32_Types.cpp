#include "raster/Raster32_Types.h"

#include "raster/Raster32_LowLevel.h"

#include <cmath>
#include <limits>

namespace kv {

namespace {

// Float-to-int conversion of a value outside the 32-bit range is undefined in C++;
// placements from project files and projective mappings can produce such values.
int32_t SaturateToInt32(double V)
{
    if (std::isnan(V))
        return 0;
    if (V >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (V <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return int32_t(V);
}

// The default floating-point environment rounds to nearest with ties to even.
int32_t RoundToInt32(double V) { return SaturateToInt32(std::nearbyint(V)); }
int32_t FloorToInt32(double V) { return SaturateToInt32(std::floor(V)); }
int32_t CeilToInt32(double V) { return SaturateToInt32(std::ceil(V)); }

} // namespace

TColor32 WinColorToColor32(TColor WinColor) { return SwapRedBlueOpaque(uint32_t(ColorToRGB(WinColor))); }

TColor Color32ToWinColor(TColor32 Color32)
{
    return TColor(((Color32 & 0xFF) << 16) | (Color32 & 0xFF00) | ((Color32 >> 16) & 0xFF));
}

TColor32 MakeColor32(int32_t R, int32_t G, int32_t B, int32_t A)
{
    return (uint32_t(A & 255) << 24) | (uint32_t(R & 255) << 16) | (uint32_t(G & 255) << 8) | uint32_t(B & 255);
}

TColor32 MakeGray32(int32_t Intensity, int32_t Alpha)
{
    uint32_t I = uint32_t(Intensity & 255);
    return (uint32_t(Alpha & 255) << 24) | (I << 16) | (I << 8) | I;
}

int32_t Color32Intensity(TColor32 C) { return (Color32Red(C) * 61 + Color32Green(C) * 174 + Color32Blue(C) * 21) >> 8; }

TColor32 Color32WithAlpha(TColor32 Color, int32_t Alpha)
{
    return (Color & 0x00FFFFFF) | (uint32_t(ClampByte(Alpha)) << 24);
}

TFixed ToFixed(float X) { return RoundToInt32(double(X) * 65536.0); }

TRect SingleRectToRect(const TSingleRect& R, int Mode)
{
    TRect Result;
    switch (Mode) {
    case rrOutside:
        Result = TRect{FloorToInt32(R.Left), FloorToInt32(R.Top), CeilToInt32(R.Right), CeilToInt32(R.Bottom)};
        break;
    case rrInside:
        Result = TRect{CeilToInt32(R.Left), CeilToInt32(R.Top), FloorToInt32(R.Right), FloorToInt32(R.Bottom)};
        if (Result.Right < Result.Left)
            Result.Right = Result.Left;
        if (Result.Bottom < Result.Top)
            Result.Bottom = Result.Top;
        break;
    default:
        Result = TRect{RoundToInt32(R.Left), RoundToInt32(R.Top), RoundToInt32(R.Right), RoundToInt32(R.Bottom)};
        break;
    }
    return Result;
}

bool IntersectRects(TRect& Dst, const TRect& R1, const TRect& R2)
{
    // Computed aside first: Dst may be R1 or R2.
    TRect R{R1.Left > R2.Left ? R1.Left : R2.Left, R1.Top > R2.Top ? R1.Top : R2.Top,
            R1.Right < R2.Right ? R1.Right : R2.Right, R1.Bottom < R2.Bottom ? R1.Bottom : R2.Bottom};
    bool Result = R.Right >= R.Left && R.Bottom >= R.Top;
    Dst = Result ? R : TRect{};
    return Result;
}

void GrowRect(TRect& R, int32_t Dx, int32_t Dy)
{
    R.Left -= Dx;
    R.Top -= Dy;
    R.Right += Dx;
    R.Bottom += Dy;
}

void OffsetIntRect(TRect& R, int32_t Dx, int32_t Dy)
{
    R.Left += Dx;
    R.Right += Dx;
    R.Top += Dy;
    R.Bottom += Dy;
}

} // namespace kv
