// What the BMP, icon, PNG and TGA filters share: a write that turns a failed or short
// transfer into the abort flag, resolution conversions and the checked bitmap set-up.
#pragma once

#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "platform/SysUtils.h"

#include <cstdint>

namespace kv {

// False (and the abort flag set) when the stream took fewer bytes or raised.
bool IEWriteChecked(TStream& Stream, const void* Data, int64_t Count, TProgressRec& Progress);

// Dots per inch from pixels per metre; 0 or less gives the screen's value.
int32_t IEDpiFromPpm(int64_t PixelsPerMetre, int32_t ScreenDpi);
int32_t IEPpmFromDpi(int32_t Dpi);

// How a reader fills the bitmap it starts: Zeroed pixels, or every row Overwritten
// (a reader that then stops early clears the rows it did not reach, IEClearRows). The
// same choice the pixel allocator offers, so one type names it.
using TIEBitmapFill = TPixelFill;

// The bitmap becomes 1 x 1, then Format, then Width x Height, all pixels 0. A bitmap
// already 24-bit at that size is kept as it is for an Overwritten fill:
// reading into memory already held saves the page faults of a fresh block. A size
// outside the pixel cap (or below 1) sets the abort flag and leaves the bitmap alone.
bool IEStartBitmap(TBitmap& Bitmap, int64_t Width, int64_t Height, TPixelFormat Format, TProgressRec& Progress,
                   TIEBitmapFill Fill = TIEBitmapFill::Zeroed);
// Whether BytesLeft bytes of data, each standing for at most BestRatio bytes of pixel
// data (1 for raw rows, the coding's best ratio for compressed ones), can fill at least
// half of the NeededBytes a header claims; 64 KiB are granted to small pictures. A cut
// file still loads the rows it holds, while a size forged in a tiny file is refused
// before its bitmap is allocated and the caller's bitmap stays as it was.
bool IEDataCanFill(int64_t NeededBytes, int64_t BytesLeft, int64_t BestRatio);
// Zeroes rows First..Last (0 = top) of the bitmap.
void IEClearRows(TBitmap& Bitmap, int32_t First, int32_t Last);

// Bytes from the position to the end of the stream (0 when past it).
int64_t IEBytesLeft(TStream& Stream);

} // namespace kv
