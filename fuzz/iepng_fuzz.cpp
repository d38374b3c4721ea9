// The imaging library's PNG reader over arbitrary bytes, with and without a mask; a
// small picture it reads is written back with the mask and settings the first byte picks.
#include "fuzz/FilterFuzz.h"
#include "fuzz/FuzzCommon.h"
#include "imaging/PngFilter.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    TFilterFuzz fuzz(data, size);
    auto& [mode, stream, bitmap, params, aborting, progress] = fuzz;
    TIEMask mask;
    ReadPngStream(stream, bitmap, params, progress, (mode & 1) != 0, (mode & 2) ? &mask : nullptr);
    if (aborting || bitmap.Empty() || int64_t(bitmap.Width()) * bitmap.Height() > 4096)
        return 0;
    params.SamplesPerPixel = (mode & 4) ? 1 : 3;
    params.PngInterlaced = (mode >> 3) & 1;
    params.PngFilter = (mode >> 4) & 3;
    TMemoryStream out;
    WritePngStream(out, bitmap, params, progress, (mode & 2) ? &mask : nullptr);
    return 0;
}
