// The JPEG filter: a platform TBitmap to a JPEG byte stream and back, through libjpeg.
// libjpeg's fatal errors come back through setjmp/longjmp into this unit, which destroys
// the library object on every path before raising EIEJpegException, so no exception
// ever unwinds through libjpeg's frames.
#pragma once

#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

namespace kv {

class EIEJpegException : public Exception {
public:
    using Exception::Exception;
};

inline constexpr const char* JpegCorruptedMessage = "JPeg corrupted file";

// Writes Bitmap as JPEG at the stream's position. A short write or a marker too long
// for a segment sets *Progress.Aborting and returns; a libjpeg error raises
// EIEJpegException after setting it. The caller's bitmap is never changed: any format
// other than 24-bit is written through a temporary 24-bit copy.
void SaveJpegToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);

// Reads a JPEG that starts within the first 100 bytes from the stream's position.
// With ParamsOnly only Params is filled. A picture above the pixel cap is refused
// before anything is allocated (*Progress.Aborting set).
void LoadJpegFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                        TProgressRec& Progress);

// Offset of the first FF D8 FF within 100 bytes of the stream's position, or -1; the
// stream position is left unchanged.
int64_t JpegFindStartOfImage(TStream& Stream);

// One pixel between B,G,R and inverted C,M,Y,K (255 = no ink).
void BgrToCmyk(const uint8_t* Bgr, uint8_t* Cmyk);
void CmykToBgr(const uint8_t* Cmyk, uint8_t* Bgr);

} // namespace kv
