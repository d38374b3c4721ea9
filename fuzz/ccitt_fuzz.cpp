// The fax decoders over arbitrary bytes: the first byte picks the coding and the row
// width, the rest is one strip decoded row by row until a row fails.
#include "imaging/Ccitt.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    if (size < 1)
        return 0;
    const auto coding = TCcittCoding(data[0] & 3);
    const int32_t width = 1 + (data[0] >> 2) * 37;
    TCcittDecoder decoder(coding, width);
    decoder.StartStrip(data + 1, int64_t(size - 1));
    std::vector<uint8_t> row(size_t((width + 7) / 8));
    for (int32_t r = 0; r < 4096 && decoder.DecodeRow(row.data()); ++r) {
    }
    return 0;
}
