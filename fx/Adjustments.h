// Colour adjustments that work on a 32-bit bitmap in place: brightness, contrast and
// colour balance. Alpha is never touched, so they serve layers as well as the
// background, and the geometry dialogs use the brightness step for their previews.
#pragma once

#include <cstdint>

namespace kv {

class TBitmap32;

// Every colour channel c becomes c + (c * Amount) div 255, clamped to 0..255; Amount 0
// changes nothing.
void AdjustBrightness(TBitmap32& Target, int32_t Amount);

// Every colour channel moves away from the middle grey by (|c - 127| * Amount) div 255:
// down below 128, up from 128, clamped to 0..255. Amount 0 changes nothing.
void AdjustContrast(TBitmap32& Target, int32_t Amount);

// Each channel scaled by its own amount: c + (c * 2 * Amount) div 255, clamped. All three
// amounts 0 change nothing.
void ColorBalanceQuality(TBitmap32& Target, int32_t Red, int32_t Green, int32_t Blue);

// Each channel shifted by its own amount, clamped. All three amounts 0 change nothing.
void ColorBalanceSpeed(TBitmap32& Target, int32_t Red, int32_t Green, int32_t Blue);

} // namespace kv
