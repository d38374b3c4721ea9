// The imaging library's BMP reader over arbitrary bytes; a small picture it reads is
// written back at a depth and coding the first byte picks, so the writer meets odd
// pictures too.
#include "fuzz/FilterFuzz.h"
#include "fuzz/FuzzCommon.h"
#include "imaging/BmpFilter.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    TFilterFuzz fuzz(data, size);
    auto& [mode, stream, bitmap, params, aborting, progress] = fuzz;
    LoadBmpFromStream(stream, bitmap, (mode & 1) ? int32_t(size) : 0, params, progress, (mode & 2) != 0);
    if (aborting || bitmap.Empty() || int64_t(bitmap.Width()) * bitmap.Height() > 4096)
        return 0;
    static const int depths[4] = {1, 4, 8, 24};
    params.BitsPerSample = depths[(mode >> 2) & 3];
    params.SamplesPerPixel = params.BitsPerSample == 24 ? 3 : 1;
    params.BmpCompression = (mode >> 4) & 1;
    params.BmpVersion = uint8_t((mode >> 5) & 3);
    TMemoryStream out;
    SaveBmpToStream(out, bitmap, params, progress);
    return 0;
}
