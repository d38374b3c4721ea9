#include "fx/Adjustments.h"

#include "platform/SysUtils.h"
#include "raster/Raster32.h"

#include <algorithm>
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

// Beyond +-65536 every channel but the fixed one (0, or 127 for contrast) is already
// clamped, so larger amounts are cut to that and the arithmetic stays within 32 bits.
int32_t Limit(int64_t Amount, int32_t Bound) { return int32_t(std::clamp<int64_t>(Amount, -Bound, Bound)); }

// c + (c * Amount) div 255: brightness, and the quality colour balance with twice its
// amount.
TChannelMap ScaleMap(int64_t Amount)
{
    const int32_t A = Limit(Amount, 65536);
    TChannelMap Map;
    for (int32_t C = 0; C < 256; ++C)
        Map[C] = uint8_t(ClampByte(C + (C * A) / 255));
    return Map;
}

TChannelMap ShiftMap(int64_t Amount)
{
    const int32_t A = Limit(Amount, 512);
    TChannelMap Map;
    for (int32_t C = 0; C < 256; ++C)
        Map[C] = uint8_t(ClampByte(C + A));
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
    const int32_t A = Limit(Amount, 65536);
    TChannelMap Map;
    for (int32_t C = 0; C < 256; ++C) {
        const int32_t D = (std::abs(C - 127) * A) / 255;
        Map[C] = uint8_t(ClampByte(C < 128 ? C - D : C + D));
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
