// The imaging library's Windows bitmap filter: core, info and extended headers at 1,
// 4, 8, 16, 24 and 32 bits, RLE4 and RLE8 in both directions, and 16-bit channel masks.
#pragma once

#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <cstdint>
#include <vector>

namespace kv {

// Reads a bitmap from the stream's position. Size is the length of the image in the
// stream (0 or less: the file header's). Bad or truncated data sets the abort flag
// and leaves the bitmap as far as it was filled.
void LoadBmpFromStream(TStream& Stream, TBitmap& Bitmap, int32_t Size, TIOParamsVals& Params, TProgressRec& Progress,
                       bool ParamsOnly);
// Writes Bitmap at the depth the parameters ask for; a short write sets the abort flag.
void SaveBmpToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);

// One row of palette indexes run-length coded, ending with the end-of-line escape.
void BmpEncodeRle8Row(const uint8_t* Indexes, int32_t Count, std::vector<uint8_t>& Out);
void BmpEncodeRle4Row(const uint8_t* Indexes, int32_t Count, std::vector<uint8_t>& Out);

// A 16- or 32-bit pixel's channel through its mask: shifted down to the mask's lowest
// set bit, then so that the field's top bit lands on bit 7 (an empty mask gives 0).
uint8_t BmpMaskedChannel(uint32_t Pixel, uint32_t Mask);

} // namespace kv
