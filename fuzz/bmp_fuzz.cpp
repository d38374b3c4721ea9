// The platform bitmap's BMP reader over arbitrary bytes: it must either load or raise
// the unit's error, never crash, hang or allocate beyond the size cap.
#include "platform/Graphics.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kv::TReadOnlyMemoryStream stream(data, int64_t(size));
    kv::TBitmap bitmap;
    try {
        bitmap.LoadFromStream(stream);
        // A loaded bitmap must be consistent enough to write and read back.
        kv::TMemoryStream out;
        bitmap.SaveToStream(out);
        out.SetPosition(0);
        kv::TBitmap again;
        again.LoadFromStream(out);
    } catch (const kv::Exception&) {
    }
    return 0;
}
