#include "effects/Adjustments.h"

#include "platform/SysUtils.h"
#include "raster/Raster32.h"

#include <array>

namespace kv {

namespace {

// One channel's answer depends only on the channel, so a 256-entry table does the work
// of the division for the whole picture.
using TChannelMap = std::array<uint8_t, 256>;

void MapColorChannels(TBitmap32& Target, const TChannelMap& Map)
{
    const int64_t Count = int64_t(Target.Width()) * Target.Height();
    TColor32* Pixel = Target.Bits();
    for (int64_t I = 0; I < Count; ++I) {
        const TColor32 C = Pixel[I];
        Pixel[I] = (C & 0xFF000000u) | (TColor32(Map[(C >> 16) & 0xFF]) << 16) | (TColor32(Map[(C >> 8) & 0xFF]) << 8) |
                   Map[C & 0xFF];
    }
}

} // namespace

void AdjustBrightness(TBitmap32& Target, int32_t Amount)
{
    if (Amount == 0 || Target.Bits() == nullptr) {
        return;
    }
    TChannelMap Map;
    for (int32_t C = 0; C < 256; ++C) {
        Map[C] = uint8_t(ClampByte(C + (C * Amount) / 255));
    }
    MapColorChannels(Target, Map);
}

} // namespace kv
