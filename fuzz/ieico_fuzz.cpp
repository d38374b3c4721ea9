// The imaging library's icon and cursor readers over arbitrary bytes, with and without
// a mask, for any image index the first byte picks.
#include "fuzz/FilterFuzz.h"
#include "fuzz/FuzzCommon.h"
#include "imaging/IcoFilter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    TFilterFuzz fuzz(data, size);
    auto& [mode, stream, bitmap, params, aborting, progress] = fuzz;
    TIEMask mask;
    params.IcoIndex = params.CurIndex = (mode >> 3) & 7;
    TIEMask* m = (mode & 2) ? &mask : nullptr;
    const bool paramsOnly = (mode & 4) != 0;
    const bool filled = (mode & 1) ? LoadCurFromStream(stream, bitmap, params, paramsOnly, progress, m)
                                   : LoadIcoFromStream(stream, bitmap, params, paramsOnly, progress, m);
    if (filled && !m)
        std::abort();
    return 0;
}
