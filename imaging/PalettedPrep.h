// What the GIF, PCX and PNM filters share beside IEFilterIO.h: progress in whole percents, and the 1-bit or 24-bit
// picture a writer codes from whatever bitmap it is given.
#pragma once

#include "imaging/IEFilterIO.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <cstdint>
#include <memory>

namespace kv {

// Reports Percent through the progress event when one is assigned.
void IEReportPercent(TProgressRec& Progress, int32_t Percent);
// Reads Count bytes; false on a short read (what was read stays in Buffer).
bool IEReadAll(TStream& Stream, void* Buffer, int64_t Count);

// A picture prepared for a writer: either the caller's bitmap or a copy this owns.
struct TIEPreparedPicture {
    std::unique_ptr<TBitmap> Owned;
    const TBitmap* Bitmap = nullptr;
    // 1 bit: the colours of bit 0 and bit 1 (black and white unless the picture had
    // exactly two colours, which the two-colour conversion keeps, the darker as 0).
    TRGB Color0{0, 0, 0};
    TRGB Color1{255, 255, 255};
};

// A 1-bit bitmap as it is; otherwise the two-colour conversion, or a dithered copy
// when the picture has more or fewer than two colours.
TIEPreparedPicture IEPrepare1Bit(const TBitmap& Source, TProgressRec& Progress);
// A 24-bit bitmap as it is; otherwise a 24-bit copy.
TIEPreparedPicture IEPrepare24Bit(const TBitmap& Source);

} // namespace kv
