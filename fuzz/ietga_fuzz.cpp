// The imaging library's TGA reader over arbitrary bytes; a small picture it reads is
// written back at the depth the first byte picks.
#include "fuzz/FilterFuzz.h"
#include "fuzz/FuzzCommon.h"
#include "imaging/TgaFilter.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    TFilterFuzz fuzz(data, size);
    auto& [mode, stream, bitmap, params, aborting, progress] = fuzz;
    ReadTgaStream(stream, bitmap, params, progress, (mode & 1) != 0);
    if (aborting || bitmap.Empty() || int64_t(bitmap.Width()) * bitmap.Height() > 4096)
        return 0;
    static const int depths[4] = {1, 4, 8, 24};
    params.BitsPerSample = depths[(mode >> 2) & 3];
    params.SamplesPerPixel = params.BitsPerSample == 24 ? 3 : 1;
    params.TgaCompressed = (mode >> 4) & 1;
    params.TgaGrayscale = (mode >> 5) & 1;
    TMemoryStream out;
    WriteTgaStream(out, bitmap, params, progress);
    return 0;
}
