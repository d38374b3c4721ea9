// The imaging library's portable bitmap, greymap and pixmap reader and its content test
// over arbitrary bytes; the first byte picks whether only the parameters are read.
#include "fuzz/FilterFuzz.h"
#include "imaging/PnmFilter.h"

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
    IsPnmStream(stream);
    if (stream.Position() != 0)
        std::abort();
    LoadPnmFromStream(stream, bitmap, params, (data[0] & 1) != 0, progress);
    return 0;
}
