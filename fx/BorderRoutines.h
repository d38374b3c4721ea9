// The pixel work of the border dialogs: bevelled relief rings inside a bitmap's edge and
// the pattern border that grows a bitmap by a band of colour or a tiled pattern.
#pragma once

#include "raster/Raster32.h"

#include <cstdint>
#include <string>

namespace kv {

enum class TReliefUse : uint8_t { Plain, PictureFrame };

// Ring count for "Width" W and "Depth" D: Round(W / (8 - D)), halves to even.
int32_t ReliefRingCount(int32_t Width, int32_t Depth);
// Contrast of ring I: W - I * (8 - D) * k, k = 2 for a picture frame, else 1.
int32_t ReliefRingContrast(int32_t Width, int32_t Depth, TReliefUse Use, int32_t Ring);
// Draws the rings on (i, i, Width - i, Height - i), stopping at the first empty
// rectangle. Returns the number of rings drawn.
int32_t DrawReliefRings(TBitmap32& Target, int32_t Width, int32_t Depth, TReliefUse Use);

struct TPatternBorderSettings {
    int32_t Width = 20;  // "Width" of the border
    int32_t Contour = 3; // "Width" of the inner border, below Width
    TColor32 Color = 0;  // the border's colour (opaque)
    TColor32 ContourColor = 0;
    std::string PatternFile; // empty: the solid colour
};

// Target grows by 2 * Width each way: the border (colour, or the pattern tiled from
// (0, 0); a pattern that cannot be read leaves it transparent black), the contour band
// from (Wd - Cont, Wd - Cont) to (W0 + Wd + Cont, H0 + Wd + Cont) exclusive, and the old
// pixels at (Wd, Wd). A layer's pixels are drawn by their own alpha over the contour
// colour, the background's are copied. Raises on a refused size.
enum class TBorderTarget : uint8_t { Background, Layer };
void PatternBorderPixels(TBitmap32& Target, const TPatternBorderSettings& Settings, TBorderTarget Kind);

} // namespace kv
