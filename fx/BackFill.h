// Pixel routines behind New Project, the simple layer and the Background menu: the
// two-colour gradients, tiling a picture file over a bitmap, the proportion rules of
// the size boxes and the colour count. No window code: tested and timed on their own.
#pragma once

#include "platform/Graphics.h"

#include <cstdint>
#include <string>

namespace kv {

class TBitmap32;

// Rounds to the nearest integer, halves to the even neighbour, in the extended
// precision the size and gradient formulas were written for.
int64_t RoundHalfEven(long double Value);

// Left to right: column x gets C1 - Round(x / W * (C1 - C2)) per channel, so column 0
// is C1 and the last column stops one step short of C2. The bitmap keeps its size and
// becomes 24 bits per pixel. C1 = C2 gives a solid fill.
void Gradient(TColor Color1, TColor Color2, TBitmap& Bitmap);
// The same down the rows (row y against the height).
void GradientDown(TColor Color1, TColor Color2, TBitmap& Bitmap);
// The directions of the dialogs' style boxes, in their order.
enum TGradientStyle : uint8_t { gsLeftRight, gsTopBottom };
// Dest becomes Width x Height of the gradient in Style, made through a 24-bit bitmap
// (so it comes out opaque).
void GradientPicture(TColor Color1, TColor Color2, TGradientStyle Style, int32_t Width, int32_t Height,
                     TBitmap32& Dest);

// Tiles the picture file over Dest from (0, 0), opaque, cutting tiles at the right and
// bottom edges; Dest keeps its size. Returns false and leaves Dest alone when the file
// does not exist or holds an empty picture. A file that does not load raises the
// loader's error (Dest is still untouched).
bool TilePattern(const std::string& FileName, TBitmap32& Dest);
// The drawing half of TilePattern, for callers that load the tile themselves. An empty
// tile changes nothing.
void TilePicture(TBitmap32& Tile, TBitmap32& Dest);

// The number of distinct 24-bit colours (alpha ignored). Any pixel format is read
// through a 24-bit copy.
int32_t CountColors(const TBitmap& Bitmap);
// The text the colour count is shown with.
std::string ColorCountMessage(int32_t Count);

// The proportion lists of New Project ("Free", "Square", "Golden Ratio", "9:12",
// "10:15", "15:21", "16:9"): the follower's value for the other side. Index 0 and
// indexes outside the list leave the follower as it was (Current).
enum TProportionIndex : uint8_t { prFree, prSquare, prGolden, pr9x12, pr10x15, pr15x21, pr16x9 };
int32_t HeightFromWidth(int32_t Index, int32_t Width, int32_t Current);
int32_t WidthFromHeight(int32_t Index, int32_t Height, int32_t Current);

} // namespace kv
