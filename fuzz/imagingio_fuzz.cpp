// The image I/O component's stream front end over arbitrary bytes: the twelve-byte
// stream headers, the dispatch by content and the reader it picks, for pictures and for
// parameters only. A bad stream aborts or raises; the stream never ends up past its end.
#include "imaging/ImagingIO.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    // The first byte picks the road and the settings; the rest is the stream.
    const uint8_t mode = data[0];
    TReadOnlyMemoryStream stream(data + 1, int64_t(size - 1));
    TBitmap bitmap;
    TImagingIO io;
    io.SetBitmap(&bitmap);
    io.SetStreamHeaders((mode & 1) != 0);
    io.SetAutoAdjustDPI((mode & 2) != 0);
    const int32_t fileType = 1 + (mode >> 4) % 12; // with the headers of TIFF and PCX
    try {
        switch ((mode >> 2) & 3) {
        case 0: io.LoadFromStream(stream); break;
        case 1: io.ParamsFromStream(stream); break;
        case 2: io.LoadFromStreamFormat(stream, fileType); break;
        default: io.ParamsFromStreamFormat(stream, fileType); break;
        }
    } catch (const Exception&) {
    }
    if (stream.Position() < 0 || stream.Position() > stream.Size())
        std::abort();
    return 0;
}
