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

} // namespace kv
