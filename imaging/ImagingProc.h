// Pixel routines of the imaging library shared by its filters, its I/O component and
// its views: bitmap copies, row and bit conversions, and the fast linear resampler.
#pragma once

#include "imaging/IEBitmaps.h"
#include "imaging/imgdefs.h"
#include "platform/Graphics.h"

#include <functional>
#include <memory>

// Reductions to 1 bit and palette helpers that the paletted writers use before, or in
// place of, the quantizers.
namespace kv {

// A 1-bit copy of a 24-bit picture of exactly two colours, Color0 (bit 0) the darker
// by Round((red x 21 + green x 71 + blue x 7) / 100); nullptr for one colour, three or
// more, or a source that is not 24-bit.
std::unique_ptr<TBitmap> TryConvertTwoColorsTo1Bit(const TBitmap& Source, TRGB& Color0, TRGB& Color1);
// Ordered 8 x 8 dither of a 24-bit bitmap to 1 bit in place (1 = white); other
// formats are left alone. Progress gets Trunc((row + 1) * 100 / (height + 0.5)).
void DitherTo1Bit(TBitmap& Bitmap, TProgressRec& Progress);
// The entry nearest Color by |dR| + |dG| + |dB|, the first of equals; 0 when Count is
// 0 or nothing is nearer than 1000.
int32_t NearestPaletteIndex(const TRGB* Palette, int32_t Count, TRGB Color);
// Exchanges the first and third byte of each entry (palette order to file order).
void SwapPaletteRB(TRGB* Palette, int32_t Count);

} // namespace kv

namespace kv {

// Dest := Source's pixel format, palette and size, then every row.
void CopyBitmap(const TBitmap& Source, TBitmap& Dest);
std::unique_ptr<TBitmap> CloneBitmap(const TBitmap& Source);
// Dest becomes 24-bit of Source's size. A 1-bit Source is expanded through a table
// (a set bit gives white whatever the palette); other formats convert through the
// platform. Progress (may be null) gets Trunc((row + 1) * 100 / (height + 0.5)).
void CopyBitmapTo24Bit(const TBitmap& Source, TBitmap& Dest, TProgressRec* Progress);

// Maps a 24-bit colour to an index of a 4- or 8-bit palette (the quantizers).
using TIEColorIndexFunc = std::function<int32_t(TRGB)>;
// Converts one row between 1, 4, 8, 24 bits (and 32 to 24); returns the output length.
int32_t ConvertRowBits(const uint8_t* Src, uint8_t* Dst, int32_t SrcBits, int32_t Width, int32_t PaletteHigh,
                       const TRGB* Palette, int32_t DstBits, const TIEColorIndexFunc& ColorIndex);
// Copies Count bits from bit SrcBit of Src to bit DestBit of Dest (MSB first), keeping
// the destination's other bits.
void CopyBitRun(uint8_t* Dest, const uint8_t* Src, int64_t DestBit, int64_t Count, int64_t SrcBit);
void InvertBitmapBits(TBitmap& Bitmap);
inline bool GetBit(const uint8_t* Row, int32_t X) { return (Row[X >> 3] & (0x80 >> (X & 7))) != 0; }
inline void SetBit(uint8_t* Row, int32_t X, bool Value)
{
    if (Value)
        Row[X >> 3] |= uint8_t(0x80 >> (X & 7));
    else
        Row[X >> 3] &= uint8_t(~(0x80 >> (X & 7)));
}

// The fixed-point linear resampler of 24-bit bitmaps (17-bit fractions when
// enlarging, window means when reducing, an axis of scale 1 copied). Dest becomes
// 24-bit NewWidth x NewHeight.
void IEFastLinearResample(const TBitmap& Source, TBitmap& Dest, int32_t NewWidth, int32_t NewHeight,
                          TProgressRec* Progress);
// The same on one byte a pixel, for selection masks (equal sizes: an exact copy).
void IEFastMaskResample(const TIEMask& Source, TIEMask& Dest, int32_t NewWidth, int32_t NewHeight);

// ---- Small helpers ----------------------------------------------------------------

// Whole-number ceiling and floor: Trunc, then one step by the sign of the fraction.
int32_t IECeil(double X);
int32_t IEFloor(double X);
// Exchanges the first and third byte of a 32-bit value (B, G, R <-> R, G, B order).
inline uint32_t IESwapRB(uint32_t V) { return (V & 0xFF00FF00u) | ((V >> 16) & 0xFFu) | ((V & 0xFFu) << 16); }
// A colour (system colours resolved) as a palette entry.
TRGB ColorToTRGB(TColor Color);
inline double IEDMax(double A, double B) { return A > B ? A : B; }
inline void IESwap(int32_t& A, int32_t& B)
{
    const int32_t t = A;
    A = B;
    B = t;
}
inline void IESwap(uint8_t& A, uint8_t& B)
{
    const uint8_t t = A;
    A = B;
    B = t;
}

// ---- Filtered resampling ----------------------------------------------------------

// The kernels of filters 1..8 (1 triangle, 2 Hermite, 3 bell, 4 B-spline, 5 Lanczos3,
// 6 Mitchell, 7 box, 8 linear) and their radii; other filters give 0.
double IEFilterKernel(uint8_t Filter, double X);
double IEFilterRadius(uint8_t Filter);

// Two-pass resampling into a 24-bit Dest of NewWidth x NewHeight with filter 1..8
// (sums truncated), or the fast path for filter 9. A source that is not 24-bit is
// converted first. A 1 x 1 source fills Dest with its pixel.
void IEResampleFiltered(const TBitmap& Source, TBitmap& Dest, int32_t NewWidth, int32_t NewHeight, uint8_t Filter,
                        TProgressRec* Progress);
// A 1-bit source (set bits 255) into a 24-bit grey Dest; sums rounded half to even.
// Filter 9: copy, the 1-bit shrink when no axis grows, else 17-bit interpolation.
void IEResample1Bit(const TBitmap& Source, TBitmap& Dest, int32_t NewWidth, int32_t NewHeight, uint8_t Filter);
// An 8-bit (or 1-bit, taken as 0/255) mask into an 8-bit Dest; filters 0 and 9 take
// the mask fast path. An empty source leaves Dest as it is.
void IEResampleMask(const TIEMask& Source, TIEMask& Dest, int32_t NewWidth, int32_t NewHeight, uint8_t Filter);
// Nearest-pixel stretch of a 1-bit (black, white) or 24-bit picture; other formats
// are converted to 24 bits first. Dest keeps the source's depth.
void IEStretchPlain(const TBitmap& Source, TBitmap& Dest, int32_t NewWidth, int32_t NewHeight);

// The 1-bit shrink: each Dest pixel (24-bit grey) is the share of set bits of its
// block of the inclusive source rectangle, which is first clipped to the source.
// Nothing happens when either bitmap is empty or nothing of the rectangle is left.
void IEShrink1Bit(const TBitmap& Source, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TBitmap& Dest);
struct TIEPixelBlockFree {
    void operator()(uint8_t* P) const { FreePixelBuffer(P); }
};
using TIEPixelBlock = std::unique_ptr<uint8_t, TIEPixelBlockFree>;
// The same over raw bottom-up 1-bit rows (each padded to 4 bytes), giving bottom-up
// 24-bit rows padded to 4 bytes; null for a target side below 1 or nothing to read.
TIEPixelBlock IEShrink1Bit(const uint8_t* Rows, int32_t Width, int32_t Height, int32_t X1, int32_t Y1, int32_t X2,
                           int32_t Y2, int32_t DestWidth, int32_t DestHeight);

// ---- Rotation and flips -----------------------------------------------------------

// Quarter turns: clockwise Dest(H - 1 - y, x) := Source(x, y), counter-clockwise
// Dest(y, W - 1 - x) := Source(x, y). Dest takes Source's format, palette and the
// swapped size (any depth; the pictures are 24-bit in practice).
void Rotate90Right(const TBitmap& Source, TBitmap& Dest);
void Rotate90Left(const TBitmap& Source, TBitmap& Dest);

enum TIERotateQuality : uint8_t { rqPlain, rqAntialias };
// Rotates a 24-bit picture by Angle degrees counter-clockwise: quarter turns first,
// then three shears with Background in the new areas. A non-finite angle does nothing.
void IERotate24(TBitmap& Bitmap, double Angle, TIERotateQuality Quality, TRGB Background, TProgressRec* Progress);
// Rotates a 1-bit picture by carrying each target pixel back to the source (sines cut
// to four decimals); pixels from outside take BackgroundBit.
void IERotate1Bit(TBitmap& Bitmap, double Angle, bool BackgroundBit);

enum TFlipDirection : uint8_t { fdHorizontal = 0, fdVertical = 1 };
// Mirrors a 1- or 24-bit picture in place (other depths become 24-bit first).
void IEFlip(TBitmap& Bitmap, TFlipDirection Direction);
// Brings a picture of any depth other than 1 and 24 bits to 24 bits.
void IEEnsure1Or24Bit(TBitmap& Bitmap);

} // namespace kv
