// How the image view's paint stages and bitmap layers put a bitmap onto the back buffer:
// exactly DrawOntoRectFrom (Part of TBitmap32), with the bilinear stretch (sfLinear) run
// through a vector path on processors with AVX2. The view repaints a full viewport per
// scroll step, so this is its hottest loop; the pixels are those of the plain stretch.
#pragma once

#include "platform/Types.h"

namespace kv {

class TBitmap32;

// Src drawn onto Dst's DstRect from SrcRect, by Src's filter, mode and master alpha,
// then Dst->Changed(). The same pixels and errors as Src->DrawOntoRectFrom.
void ViewDrawOntoRect(TBitmap32* Src, TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect);

// True when the vector path is in use (AVX2 present, KELVANE_NO_SIMD not set).
bool ViewStretchSimdActive();
// Forces the choice for tests and benchmarks; returns the previous one.
bool SetViewStretchSimd(bool Enabled);

} // namespace kv
