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

} // namespace kv
