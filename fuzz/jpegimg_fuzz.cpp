// The platform JPEG picture class and its decoders (24- and 32-bit) over arbitrary bytes,
// then the imaging reader's parameters-only pass: each either reads or raises its unit's error, never
// crashes, hangs or allocates far beyond what the bytes can describe.
#include "imaging/JpegFilter.h"
#include "platform/Jpeg.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

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
        // The 32-bit road the editor's loads take; the block is sized by the decoder's
        // request, so a write past it shows up under the address sanitizer.
        std::vector<uint32_t> block;
        DecodeJpeg32(data, size, TJpegDecodeOptions{false, (mode & 8) != 0, 1 << ((mode >> 4) & 3)},
                     [&block](int32_t W, int32_t H) {
                         block.assign(size_t(W) * size_t(H), 0);
                         return block.data();
                     });
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
