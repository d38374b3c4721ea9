#include "platform/BmpRules.h"

namespace kv {

namespace {

// Two bytes of codes reach at most one row of up to 65535 pixels: a run gives 255, an
// end of line skips the rest of its row.
constexpr int64_t PixelsPerCodeByte = 32768;

// How many rows the codes move down before the end-of-bitmap escape or the end of the
// data: an end of line moves one, a delta up to 255; runs and literal blocks stay in
// their row.
int64_t RowsWalked(const uint8_t* Data, int64_t Size, int64_t Height, int32_t Bits)
{
    int64_t y = 0;
    for (int64_t i = 0; i + 2 <= Size && y < Height;) {
        const uint8_t count = Data[i], code = Data[i + 1];
        i += 2;
        if (count > 0)
            continue;
        if (code == 0) {
            ++y;
        } else if (code == 1) {
            break;
        } else if (code == 2) {
            if (i + 2 > Size)
                break;
            y += Data[i + 1];
            i += 2;
        } else {
            const int64_t bytes = Bits == 8 ? code : (code + 1) / 2;
            i += (bytes + 1) & ~int64_t(1);
        }
    }
    return y;
}

} // namespace

bool BmpColorsUsedFit(int32_t Bits, uint32_t ColorsUsed)
{
    return Bits > 8 || Bits < 0 || int64_t(ColorsUsed) <= (int64_t(1) << Bits);
}

bool BmpRleDataFits(const uint8_t* Data, int64_t Size, int64_t Width, int64_t Height, int32_t Bits)
{
    if (Width <= 0 || Height <= 0)
        return true;
    // Up to this many pixels the picture may stop early at the end-of-bitmap escape, as
    // writers do for a blank remainder.
    if (Width * Height <= (Size + 2) * PixelsPerCodeByte)
        return true;
    // A larger one must be walked down to its last row. A delta moves 255 rows for four
    // bytes, more than the count above allows on a wide picture, so the codes are
    // followed rather than counted.
    return RowsWalked(Data, Size, Height, Bits) >= Height - 1;
}

} // namespace kv
