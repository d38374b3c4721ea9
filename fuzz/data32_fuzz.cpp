// The "Data" property reader over arbitrary bytes.
#include "raster/Raster32.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kv::TBitmap32 bitmap;
    kv::TReadOnlyMemoryStream stream(data, int64_t(size));
    try {
        bitmap.ReadData(stream);
    } catch (const kv::Exception&) {
        if (!bitmap.IsEmpty())
            __builtin_trap(); // a refused input must leave the bitmap empty
        return 0;
    }
    kv::TMemoryStream out;
    bitmap.WriteData(out);
    if (out.Size() > int64_t(size))
        __builtin_trap(); // never more pixels than the input held
    return 0;
}
