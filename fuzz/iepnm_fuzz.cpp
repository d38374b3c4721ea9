// The imaging library's portable bitmap, greymap and pixmap reader and its content test
// over arbitrary bytes; the first byte picks whether only the parameters are read.
#include "imaging/PnmFilter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    TReadOnlyMemoryStream stream(data + 1, int64_t(size - 1));
    IsPnmStream(stream);
    if (stream.Position() != 0)
        std::abort();
    TBitmap bitmap;
    TIOParamsVals params(nullptr);
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    LoadPnmFromStream(stream, bitmap, params, (data[0] & 1) != 0, progress);
    return 0;
}
