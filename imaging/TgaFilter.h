// The imaging library's Truevision TGA filter: raw and run-length coded,
// colour-mapped, grey and true colour, with the version 2 footer and extension area.
#pragma once

#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <cstdint>
#include <vector>

namespace kv {

// Reads a TGA from the stream's position to its end. A bad header or data that runs
// out set the abort flag; the rows read so far are kept.
void ReadTgaStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, bool ParamsOnly);
// Writes a TGA at the depth the parameters ask for, with extension area and footer.
void WriteTgaStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);

// One row of Count pixels of BytesPerPixel bytes run-length coded.
void TgaEncodeRleRow(const uint8_t* Pixels, int32_t Count, int32_t BytesPerPixel, std::vector<uint8_t>& Out);

// A ratio as the extension area keeps it: Trunc(Value x 10000) over 10000, both
// divided by 10 until the numerator fits 16 bits.
void TgaRatio(double Value, uint16_t& Numerator, uint16_t& Denominator);

} // namespace kv
