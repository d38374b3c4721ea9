// The imaging library's PCX reader over arbitrary bytes. The first byte picks whether
// only the parameters are read and whether the data size claims more than the stream.
#include "fuzz/FilterFuzz.h"
#include "imaging/PcxFilter.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    TFilterFuzz fuzz(data, size);
    auto& [mode, stream, bitmap, params, aborting, progress] = fuzz;
    const int32_t claimed = (mode & 2) ? 0x7FFFFFFF : int32_t(size - 1);
    LoadPcxFromStream(stream, bitmap, params, claimed, progress, (mode & 1) != 0);
    return 0;
}
