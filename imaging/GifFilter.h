// The GIF filter: reads one chosen image of a GIF file into a platform TBitmap and writes
// a single-image GIF. The LZW coding of the image data goes through the parameter
// object's routine slots; with no routine both directions stop after the headers.
#pragma once

#include "imaging/IEBitmaps.h"
#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <string>

namespace kv {

// Reads image Params.GifImageIndex. Every image up to the trailer is counted into
// ImageCount and Params.GifImageCount. With ParamsOnly only Params is filled. Mask
// (may be null) receives the transparency: 255 opaque, 0 for the transparent index.
void LoadGifFromStream(TStream& Stream, TBitmap& Bitmap, int32_t& ImageCount, TIOParamsVals& Params,
                       TProgressRec& Progress, bool ParamsOnly, TIEMask* Mask);
void SaveGifToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);

void LoadGifFromFile(const std::string& FileName, TBitmap& Bitmap, int32_t& ImageCount, TIOParamsVals& Params,
                     TProgressRec& Progress, TIEMask* Mask);
void SaveGifToFile(const std::string& FileName, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);

} // namespace kv
