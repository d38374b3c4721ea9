// The checks both BMP readers (the platform's and the imaging library's) make before
// they trust a header: how many colours its table may list, and how large a picture
// its run-length data can stand for.
#pragma once

#include <cstdint>

namespace kv {

// False when the header lists more colours than its depth can index (Bits up to 8):
// such a table is not the file's, and the pixel data would be looked for after it.
bool BmpColorsUsedFit(int32_t Bits, uint32_t ColorsUsed);

// Whether Size bytes of RLE8 (Bits 8) or RLE4 (Bits 4) data can stand for a picture of
// Width x Height pixels; a picture far larger than its data is a forged header, and
// refusing it spares the bitmap.
bool BmpRleDataFits(const uint8_t* Data, int64_t Size, int64_t Width, int64_t Height, int32_t Bits);

} // namespace kv
