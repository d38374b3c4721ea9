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

// Every channel becomes the mean ((sum + 2) shr 2) of the four pixels Distance away on
// the diagonals, all read from the picture as it was: where a side would leave the
// bitmap, the pixel's own row or column stands for it, so each pixel weighs exactly 1
// in the result and the picture keeps its mean. Distance <= 0 changes nothing.
void DiagonalBlur(TBitmap& Bitmap, int32_t Distance);

// Count + 1 passes of DiagonalBlur at distance 3, each from the one before, carried
// between passes with 6 fraction bits (rounded to whole levels once at the end), so the
// mean stays within a level however many passes run.
void RepeatBlur(TBitmap& Bitmap, int32_t Count);

// Every pixel becomes grey 0.3 red + 0.59 green + 0.11 blue, rounded half to even.
void GrayScale(TBitmap& Bitmap);

// The grey level of one pixel, worked in extended precision as the formula reads.
uint8_t GrayLevelExact(uint8_t Red, uint8_t Green, uint8_t Blue);
// The same level from integer arithmetic, falling back to the extended formula only for
// exact halves; GrayScale uses this one.
uint8_t GrayLevel(uint8_t Red, uint8_t Green, uint8_t Blue);

} // namespace kv
