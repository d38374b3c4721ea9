// The imaging library's GIF reader over arbitrary bytes, with the editor's LZW coder in
// its slots as the program installs it. The first byte picks the image, whether only
// the parameters are read and whether a mask takes the transparency.
#include "fuzz/FilterFuzz.h"
#include "imaging/GifFilter.h"
#include "startup/UnitsStartup.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    static const bool Started = (StartUnits(), true);
    (void)Started;
    TFilterFuzz fuzz(data, size);
    auto& [mode, stream, bitmap, params, aborting, progress] = fuzz;
    params.GifImageIndex = mode & 3;
    TIEMask mask;
    int32_t count = 0;
    LoadGifFromStream(stream, bitmap, count, params, progress, (mode & 4) != 0, (mode & 8) ? &mask : nullptr);
    return 0;
}
