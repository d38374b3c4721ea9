// The imaging library's icon and cursor readers: one image picked out of the
// directory, its AND mask turned into transparency (and into the mask when given);
// a PNG image inside goes through the PNG filter.
#pragma once

#include "imaging/IEBitmaps.h"
#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

namespace kv {

// Each reads the image IcoIndex (CurIndex) of the file; an index outside the directory
// reads nothing. True when the mask was written (a Mask was given and pixels read).
bool LoadIcoFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress,
                       TIEMask* Mask);
bool LoadCurFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress,
                       TIEMask* Mask);

} // namespace kv
