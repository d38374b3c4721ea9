// The imaging library's PNG filter over libpng: the stream callbacks, the error
// handler that jumps back out of libpng, the chosen transformations and the mapping
// of chunks to the I/O parameters; an optional mask receives or gives the alpha.
#pragma once

#include "imaging/IEBitmaps.h"
#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

namespace kv {

class EIEPngException : public Exception {
public:
    using Exception::Exception;
};

inline constexpr const char* PngCreateErrorMessage = "Error on creating PNG";

// Reads a PNG from the stream's position. With a Mask the alpha lands in it (and the
// result is true: the mask was written); without one alpha is composited on the
// file's bKGD colour, or on PngBackground when it has none. Bad data sets the abort
// flag and leaves the bitmap as far as it was filled.
bool ReadPngStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, bool ParamsOnly,
                   TIEMask* Mask);
// Writes a PNG; a Mask of the bitmap's size that is not fully opaque gives the alpha.
// Raises EIEPngException when libpng cannot create its structures.
void WritePngStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, TIEMask* Mask);

} // namespace kv
