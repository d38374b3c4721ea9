// Format detection of the image I/O component over arbitrary bytes: it answers an id
// and leaves the stream where it was.
#include "imaging/ImagingIO.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    TReadOnlyMemoryStream stream(data, int64_t(size));
    TImagingIO io;
    int32_t id = io.FindStreamFormat(stream);
    if (id < 0 || id > 12 || stream.Position() != 0)
        std::abort();
    return 0;
}
