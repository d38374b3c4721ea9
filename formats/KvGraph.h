// Converts a platform bitmap into a device-independent bitmap file image at 1, 4, 8 or
// 24 bits per pixel, reducing the colours by one of six methods.
#pragma once

#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace kv {

// One colour-table entry of a device-independent bitmap.
struct TRGBQuad {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
    friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};
static_assert(sizeof(TRGBQuad) == 4, "a DIB colour-table entry is 4 bytes");
using TRGBQuadTable = std::array<TRGBQuad, 256>;

// The 40-byte info header of a device-independent bitmap, kept as fields; written and
// read through the little-endian helpers.
struct TBitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
constexpr int32_t BitmapFileHeaderSize = 14;
constexpr int32_t BitmapInfoHeaderSize = 40;
constexpr uint32_t BI_RGB = 0, BI_BITFIELDS = 3;

void WriteBitmapInfoHeader(uint8_t* P, const TBitmapInfoHeader& H);
TBitmapInfoHeader ReadBitmapInfoHeader(const uint8_t* P);
// "BM", file size, 0, 0, pixel offset.
void WriteBitmapFileHeader(uint8_t* P, uint32_t FileSize, uint32_t PixelOffset);

// Reduction methods: 0 histogram with coarsening, 1 median cut, 2 fixed 7x8x4, 3 fixed
// 6x6x6, 4 red/green/blue ramps by column, 5 grey.
using TReductionMethod = uint8_t;
constexpr TReductionMethod rmHistogram = 0, rmMedianCut = 1, rmFixed784 = 2, rmFixed666 = 3, rmRamps = 4, rmGray = 5;
// The unit's default method (a setting that nothing in the program changes).
constexpr TReductionMethod DefaultReductionMethod = rmHistogram;

// The level tables and, per table, the index of the nearest level of every byte value
// (the lower index on a tie).
extern const std::array<uint8_t, 4> Levels4;
extern const std::array<uint8_t, 6> Levels6;
extern const std::array<uint8_t, 7> Levels7;
extern const std::array<uint8_t, 8> Levels8;
const std::array<uint8_t, 256>& NearestLevel4();
const std::array<uint8_t, 256>& NearestLevel6();
const std::array<uint8_t, 256>& NearestLevel7();
const std::array<uint8_t, 256>& NearestLevel8();

// Runs one method over bottom-up 24-bit rows (B, G, R), writing 8-bit indices into Dst
// rows and the palette into ColorTable. WantedColors is used by method 0 only. Returns
// the colours-used figure for the header (0 when the method leaves it unset).
int32_t ReduceColors(const uint8_t* Src24, int64_t SrcStride, uint8_t* Dst8, int64_t DstStride, int32_t Width,
                     int32_t Height, TReductionMethod Method, int32_t WantedColors, TRGBQuadTable& ColorTable);

// A whole bitmap file image ("BM" ... rows) for Bitmap at PixelFormat, reduced by Method
// when the target has 8 bits per pixel. Raises EInvalidGraphic "Bitmap image is not
// valid" for an empty bitmap; other targets than 1, 4, 8, 24 bits end in ShowNotAvailable.
std::unique_ptr<TMemoryStream> PixelFormatConvert(TBitmap& Bitmap, TPixelFormat PixelFormat, TReductionMethod Method);
std::unique_ptr<TMemoryStream> ReduceToColorCount(TBitmap& Bitmap, int32_t Colors);

// The bitmap's pixels at PixelFormat (1, 4, 8 or 24 bits; converted by nearest palette
// colour, with Palette when given), framed as a bitmap file image.
std::vector<uint8_t> FetchDIBFileImage(const TBitmap& Bitmap, HPALETTE Palette, TPixelFormat PixelFormat);
TBitmapInfoHeader MakeDIBHeader(const TBitmap& Bitmap, TPixelFormat PixelFormat);
// Header-plus-colour-table size and image size.
void DIBHeaderSizes(const TBitmap& Bitmap, TPixelFormat PixelFormat, int32_t& InfoHeaderSize, int64_t& ImageSize);

} // namespace kv
