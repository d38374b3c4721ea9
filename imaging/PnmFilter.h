// The portable bitmap, greymap and pixmap filter: P1 to P6 read (samples of one or two
// bytes), P4, P5 and P6 written, comment lines kept in ImageInfo.
#pragma once

#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

namespace kv {

// Content test: "P1".."P6" then a width and a height of at least 1 (comments skipped);
// the stream position is restored.
bool IsPnmStream(TStream& Stream);
// A maximum outside 1..65535, sides below 1, an unknown magic and data that ends early
// set the abort flag; the bitmap keeps the rows read so far.
void LoadPnmFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                       TProgressRec& Progress);
// P4 for 1 bit (a picture of other depth prepared as the GIF writer does), P5 for one
// sample of 8 bits, P6 otherwise.
void SavePnmToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);

} // namespace kv
