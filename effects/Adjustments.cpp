#include "effects/Adjustments.h"

#include "platform/SysUtils.h"
#include "raster/Raster32.h"

#include <array>
#include <cstdlib>

namespace kv {

namespace {

// One channel's answer depends only on the channel, so a 256-entry table does the work
// of the division for the whole picture.
using TChannelMap = std::array<uint8_t, 256>;

void MapColorChannels(TBitmap32& Target, const TChannelMap& Red, const TChannelMap& Green, const TChannelMap& Blue)
{
    const int64_t Count = int64_t(Target.Width()) * Target.Height();
    TColor32* Pixel = Target.Bits();
    for (int64_t I = 0; I < Count; ++I) {
        const TColor32 C = Pixel[I];
        Pixel[I] = (C & 0xFF000000u) | (TColor32(Red[(C >> 16) & 0xFF]) << 16) |
                   (TColor32(Green[(C >> 8) & 0xFF]) << 8) | Blue[C & 0xFF];
    }
}

void MapColorChannels(TBitmap32& Target, const TChannelMap& Map) { MapColorChannels(Target, Map, Map, Map); }

// c + (c * Amount) div 255: brightness, and the quality colour balance with twice its
// amount.
// Amounts far outside the dialogs' ranges still clamp instead of overflowing.
uint8_t ClampWide(int64_t Value) { return uint8_t(Value < 0 ? 0 : Value > 255 ? 255 : Value); }

TChannelMap ScaleMap(int64_t Amount)
{
    TChannelMap Map;
    for (int64_t C = 0; C < 256; ++C)
        Map[C] = ClampWide(C + (C * Amount) / 255);
    return Map;
}

TChannelMap ShiftMap(int64_t Amount)
{
    TChannelMap Map;
    for (int64_t C = 0; C < 256; ++C)
        Map[C] = ClampWide(C + Amount);
    return Map;
}

} // namespace

void AdjustBrightness(TBitmap32& Target, int32_t Amount)
{
    if (Amount == 0 || Target.Bits() == nullptr) {
        return;
    }
    MapColorChannels(Target, ScaleMap(Amount));
}

void AdjustContrast(TBitmap32& Target, int32_t Amount)
{
    if (Amount == 0 || Target.Bits() == nullptr)
        return;
    TChannelMap Map;
    for (int64_t C = 0; C < 256; ++C) {
        const int64_t D = (std::abs(C - 127) * Amount) / 255;
        Map[C] = ClampWide(C < 128 ? C - D : C + D);
    }
    MapColorChannels(Target, Map);
}

void ColorBalanceQuality(TBitmap32& Target, int32_t Red, int32_t Green, int32_t Blue)
{
    if ((Red == 0 && Green == 0 && Blue == 0) || Target.Bits() == nullptr)
        return;
    MapColorChannels(Target, ScaleMap(2 * int64_t(Red)), ScaleMap(2 * int64_t(Green)), ScaleMap(2 * int64_t(Blue)));
}

void ColorBalanceSpeed(TBitmap32& Target, int32_t Red, int32_t Green, int32_t Blue)
{
    if ((Red == 0 && Green == 0 && Blue == 0) || Target.Bits() == nullptr)
        return;
    MapColorChannels(Target, ShiftMap(Red), ShiftMap(Green), ShiftMap(Blue));
}

} // namespace kv
