// TPNGImage.LoadFromStream and the decompression stream over arbitrary bytes: either a
// picture or the unit's error, never a crash, hang or oversized allocation.
#include "formats/PNGImage.h"
#include "formats/PNGZLIB.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    try {
        TReadOnlyMemoryStream s(data, int64_t(size));
        TPNGImage png;
        png.LoadFromStream(s);
        if (png.Width() <= 64 && png.Height() <= 64) {
            TMemoryStream out; // what was read can be written again
            png.SaveToStream(out);
        }
    } catch (const Exception&) {
    }
    try {
        TReadOnlyMemoryStream s(data, int64_t(size));
        TZDecompressionStream z(s);
        uint8_t buffer[4096];
        int64_t total = 0;
        while (total < (int64_t(1) << 24)) {
            int64_t got = z.Read(buffer, sizeof buffer);
            if (got <= 0)
                break;
            total += got;
        }
    } catch (const Exception&) {
    }
    return 0;
}
