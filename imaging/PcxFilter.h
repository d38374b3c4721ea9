// The PCX filter: PaintBrush files with their run-length coding, read in the five
// layouts (8, 4 and 1 bit on one plane, 8 bits on three planes, 1 bit on four) and
// written at 1, 4, 8 or 24 bits.
#pragma once

#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <string>
#include <vector>

namespace kv {

// Size is the number of bytes of PCX data from the stream's position; it is held to
// the bytes the stream has. Damaged data sets the abort flag, keeping the rows so far.
void LoadPcxFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, int32_t Size, TProgressRec& Progress,
                       bool ParamsOnly);
void SavePcxToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
void LoadPcxFromFile(const std::string& FileName, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);

// One line run-length coded: runs of up to 63 equal bytes, and a single byte of 0xC0 or
// more, as (0xC0 or run, byte); other single bytes as they are; a 0 byte appended
// when Count is odd.
void PcxEncodeLine(const uint8_t* Source, int32_t Count, std::vector<uint8_t>& Out);

} // namespace kv
