// The TIFF reader over arbitrary bytes, for parameters only and for the picture; the
// first byte picks the image index, the LZW slot and where offsets count from.
#include "fuzz/FilterFuzz.h"
#include "imaging/TiffFilter.h"
#include "imaging/TiffLzw.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    TFilterFuzz fuzz(data, size);
    auto& [mode, stream, bitmap, params, aborting, progress] = fuzz;
    params.TiffImageIndex = (mode >> 2) & 3;
    params.TiffLzwDecompress = (mode & 2) ? TiffLzwDecode : nullptr;
    TTiffReadOptions options;
    options.Offsets = (mode & 16) ? tobStreamStart : tobFileStart;
    ReadTiff(stream, bitmap, params, (mode & 1) != 0, progress, options);
    return 0;
}
