// The JPEG reader of the imaging library over arbitrary bytes: it may abort or raise
// EIEJpegException, never crash, hang or leak the libjpeg object.
#include "imaging/JpegFilter.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    TReadOnlyMemoryStream stream(data, int64_t(size));
    TBitmap bitmap;
    TIOParamsVals params(nullptr);
    // The first byte picks the reader's scale, so the scaled paths are covered too.
    params.JpegScale = size ? uint8_t(data[0] % 5) : 1;
    params.Width = params.Height = 64;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    try {
        LoadJpegFromStream(stream, bitmap, params, false, progress);
    } catch (const Exception&) {
    }
    return 0;
}
