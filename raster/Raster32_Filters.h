// Whole-bitmap pixel filters between alpha, grey and colour.
#pragma once

#include "raster/Raster32.h"

namespace kv {

// Each sizes Dst to Src, computes every pixel, then calls Dst->Changed. A null Src
// raises Exception "The source is nil", a null Dst "Destination is nil".
void GrayFromAlpha(TBitmap32* Dst, TBitmap32* Src);      // opaque grey of Src's alpha
void AlphaFromIntensity(TBitmap32* Dst, TBitmap32* Src); // Dst's colour, alpha := intensity of Src
void InvertColors(TBitmap32* Dst, TBitmap32* Src);       // colour bits inverted, alpha kept
void GrayFromColor(TBitmap32* Dst, TBitmap32* Src);      // opaque grey of Src's intensity

} // namespace kv
