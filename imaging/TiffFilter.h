// The TIFF filter: reads one image of a TIFF file (chosen by TiffImageIndex) into a
// platform TBitmap and writes a bitmap as a one-image TIFF file; the same reader parses
// the little TIFF file of a JPEG's EXIF block.
#pragma once

#include "imaging/IEBitmaps.h"
#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <cstdint>
#include <vector>

namespace kv {

// Where the file's offsets count from: the position the reader or writer was handed
// (a bare file in any stream), or the stream's own start (the stream routines with
// stream headers on).
enum TTiffOffsetBase : uint8_t { tobFileStart, tobStreamStart };

struct TTiffReadOptions {
    TTiffOffsetBase Offsets = tobFileStart;
    TIEMask* Mask = nullptr; // receives unassociated alpha when given
};

// A bad header, a bad tag, an unsupported sample layout or a row that fails to decode
// sets *Progress.Aborting; the bitmap keeps what was read.
void ReadTiff(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress,
              const TTiffReadOptions& Options);
void WriteTiff(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
               TTiffOffsetBase Offsets);

// The I/O component's reader and writer: offsets from the stream's start when the
// parameters' owner has stream headers on, the owner's mask for alpha.
void LoadTiffFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                        TProgressRec& Progress);
void SaveTiffToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);

// PackBits (TIFF compression 32773). The decoder stops at the end of either buffer and
// returns the bytes produced; a count byte of 128 is skipped.
void PackBitsEncodeRow(const uint8_t* Row, int64_t Count, std::vector<uint8_t>& Out);
int64_t PackBitsDecode(const uint8_t* Data, int64_t Count, uint8_t* Out, int64_t OutCount);

// Plain CMYK of a separated file: K = 255 - max(R, G, B), the ink of each channel
// against that maximum (taken as 1 when 0); and back, R = (255 - K)(255 - C) div 255.
void RgbToPlainCmyk(uint8_t R, uint8_t G, uint8_t B, uint8_t* Cmyk);
TRGB PlainCmykToRgb(const uint8_t* Cmyk);

} // namespace kv
