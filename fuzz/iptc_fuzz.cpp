// The APP13 (IPTC / Photoshop resources) and APP1 (EXIF) marker readers over arbitrary
// bytes, and the merge of a new IPTC block into an old marker.
#include "imaging/ExifReader.h"
#include "imaging/IOParams.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    TIEIPTCInfoList list;
    list.LoadFromBuffer(data, int64_t(size));
    std::vector<uint8_t> block;
    list.SaveToBuffer(block);
    std::vector<uint8_t> merged = IEMergeIPTCResource(data, size, block);
    TIEIPTCInfoList back;
    back.LoadFromBuffer(merged.data(), int64_t(merged.size()));
    TIOParamsVals params(nullptr);
    IEReadExifMarker(data, size, params);
    return 0;
}
