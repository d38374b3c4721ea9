// TBitmap32::LoadFromStream over arbitrary bytes: a clean error or a bitmap, never a crash.
#include "raster/Raster32.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kv::TBitmap32 bitmap;
    kv::TReadOnlyMemoryStream stream(data, int64_t(size));
    try {
        bitmap.LoadFromStream(stream);
    } catch (const kv::Exception&) {
        return 0;
    }
    // A loaded bitmap must be whole: touch every pixel.
    uint32_t sum = 0;
    if (!bitmap.IsEmpty())
        for (int64_t i = 0, n = int64_t(bitmap.Width()) * bitmap.Height(); i < n; ++i)
            sum += bitmap.Bits()[i];
    (void)sum;
    return 0;
}
