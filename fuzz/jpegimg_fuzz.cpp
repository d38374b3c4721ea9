// The platform JPEG picture class and its decoder over arbitrary bytes, then the imaging
// reader's parameters-only pass: each either reads or raises its unit's error, never
// crashes, hangs or allocates far beyond what the bytes can describe.
#include "imaging/JpegFilter.h"
#include "platform/Jpeg.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    // The last byte picks the decoder's settings, so the grey and fast paths run too.
    const uint8_t mode = size ? data[size - 1] : 0;
    try {
        TReadOnlyMemoryStream stream(data, int64_t(size));
        TJPEGImage jpeg;
        jpeg.SetGrayscale((mode & 1) != 0);
        jpeg.SetPerformance((mode & 2) ? jpBestSpeed : jpBestQuality);
        jpeg.LoadFromStream(stream);
        jpeg.SetGrayscale((mode & 1) == 0); // decodes the kept bytes again
        TMemoryStream out;                  // saved back unchanged
        jpeg.SaveToStream(out);
    } catch (const Exception&) {
    }
    try {
        TBitmap bitmap;
        DecodeJpeg(data, size, bitmap, (mode & 4) != 0, (mode & 8) != 0);
    } catch (const Exception&) {
    }
    try {
        TReadOnlyMemoryStream stream(data, int64_t(size));
        TBitmap untouched;
        TIOParamsVals params(nullptr);
        bool aborting = false;
        TProgressRec progress;
        progress.Aborting = &aborting;
        LoadJpegFromStream(stream, untouched, params, true, progress);
        if (!untouched.Empty())
            std::abort(); // parameters only must leave the bitmap alone
    } catch (const Exception&) {
    }
    return 0;
}
