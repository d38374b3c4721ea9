// The sharpen, soften and grayscale filters of the Filters menu, on 24-bit platform
// bitmaps (bytes blue, green, red). Rows are always reached through ScanLine, since the
// platform bitmap keeps them bottom-up.
#pragma once

#include "platform/Graphics.h"

#include <cstdint>

namespace kv {

// Sharpens Src into Dst (which takes Src's size) in 16.16 fixed point: every inner
// channel becomes Alpha * c minus (Alpha - 1) / 5 times the sum of c and its four
// neighbours, clamped; the outer ring is copied. Raises EAssertionFailed "Bitmap must
// be at least 3x3" or "Alpha must be >1 and <6" and then leaves Dst alone.
void Convolve3x3(TBitmap& Src, TBitmap& Dst, float Alpha);

// In place, top to bottom and left to right: every channel becomes the mean (shr 2) of
// the four pixels Distance away on the diagonals. Near the bottom and right edges the
// far index folds back to Height - y (Width - x); every index is kept inside the
// bitmap. Later pixels read the ones already rewritten. Distance <= 0 changes nothing.
void DiagonalBlur(TBitmap& Bitmap, int32_t Distance);

// Count + 1 passes of DiagonalBlur at distance 3.
void RepeatBlur(TBitmap& Bitmap, int32_t Count);

// Every pixel becomes grey 0.3 red + 0.59 green + 0.11 blue, rounded half to even.
void GrayScale(TBitmap& Bitmap);

// The grey level of one pixel, worked in extended precision as the formula reads.
uint8_t GrayLevelExact(uint8_t Red, uint8_t Green, uint8_t Blue);
// The same level from integer arithmetic, falling back to the extended formula only for
// exact halves; GrayScale uses this one.
uint8_t GrayLevel(uint8_t Red, uint8_t Green, uint8_t Blue);

} // namespace kv
