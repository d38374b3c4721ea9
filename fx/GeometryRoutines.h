// The pixel work behind the geometry commands: quarter turns and flips, rotation by any
// angle, image and canvas size, layer crop and the four-corner projective redraw. No
// windows here: the dialogs and the main window call these.
#pragma once

#include "platform/Types.h"
#include "raster/Raster32.h"

#include <cstdint>
#include <string>

namespace kv {

class TBitmap32;

// The largest side the size dialogs offer.
constexpr int32_t MaxDialogSide = 10000;

// Nearest with halves to even, as the program's Round does.
int32_t RoundHalfEven(double Value);

// Empty when W x H may be allocated, else the message the size check would raise.
std::string RefusedSize(int64_t W, int64_t H);

// Target takes New's pixels and size, keeping its own draw mode, master alpha, outer
// colour and stretch filter; New is left empty.
void ReplacePixels(TBitmap32& Target, TBitmap32& New);

enum class TQuarterTurn : uint8_t { Clockwise, CounterClockwise, Half };
enum class TFlipAxis : uint8_t { Horizontal, Vertical };
// The pixels move exactly, alpha included.
void TurnBitmap(const TBitmap32& Src, TBitmap32& Dst, TQuarterTurn Turn);
void FlipBitmap(const TBitmap32& Src, TBitmap32& Dst, TFlipAxis Axis);

enum class TResampling : uint8_t { Nearest, Bilinear };

// The rotated extent (unrounded): |cos r| W + |sin r| H by |sin r| W + |cos r| H.
struct TRotatedSize {
    double NW = 0, NH = 0;
};
TRotatedSize RotatedSize(int32_t W, int32_t H, double AngleDegrees);
// Turns Bitmap by AngleDegrees (positive clockwise) about its centre into a bitmap of
// Round(NW) x Round(NH). The colours are stored as sampled; alpha comes from a second
// pass in which the two outermost rows and columns count as transparent, so the
// corners outside the turned picture end transparent. Raises on a refused size.
TRotatedSize RotateBitmap(TBitmap32& Bitmap, double AngleDegrees, TResampling Resampling);

// The whole bitmap stretched to NewW x NewH with Filter; colours and alpha as sampled.
void ResizeBitmap(TBitmap32& Bitmap, int32_t NewW, int32_t NewH, TStretchFilter Filter);

enum class TCanvasPlace : uint8_t { TopLeft, Centre };
// Where the old picture's (0, 0) lands on a NewW x NewH canvas, each axis on its own.
TPoint CanvasOffset(int32_t W, int32_t H, int32_t NewW, int32_t NewH, TCanvasPlace Place);
// A NewW x NewH canvas of Extension (made opaque) with the picture copied exactly at
// CanvasOffset; negative offsets crop.
void ResizeCanvas(TBitmap32& Bitmap, int32_t NewW, int32_t NewH, TCanvasPlace Place, TColor32 Extension);
// R limited to the bitmap; an empty rectangle when nothing of it lies on the bitmap.
TRect ClampToBitmap(const TBitmap32& Bitmap, TRect R);
// Bitmap := its pixels under Area (already within the bitmap) copied exactly.
void CropBitmap(TBitmap32& Bitmap, const TRect& Area);

// The four corners of the four-corner tool in view pixels: top-left, top-right,
// bottom-right, bottom-left.
struct TQuad {
    TPoint P[4];
};
// The result's size for a quad on the reduced copy with scale S (full / reduced).
TPoint FourCornerSize(const TQuad& Q, double S);
// The source drawn through the projective map of the scaled quad onto Result, whose
// size and fill the caller chose. Sampled pixels are stored as they are, alpha
// included; pixels outside the quad keep the fill. False for a degenerate quad.
bool DrawFourCorner(TBitmap32& Source, const TQuad& Q, double S, TResampling Resampling, TBitmap32& Result);
// Whether the quad gives a usable projective map of a W x H source.
bool QuadUsable(const TQuad& Q, int32_t W, int32_t H);

} // namespace kv
