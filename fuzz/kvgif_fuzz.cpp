// Feeds one input to every reader of the GIF codec: the picture reader (and a re-save of
// whatever it kept), the property-stream and clipboard block readers, and the LZW
// decoder alone.
#include "formats/KvGIF.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void ReadPicture(const uint8_t* data, size_t size)
{
    kv::TGIFImage gif;
    try {
        kv::TReadOnlyMemoryStream s(data, int64_t(size));
        gif.LoadFromStream(s);
    } catch (const kv::Exception&) {
    }
    try {
        for (int32_t i = 0; i < gif.Count(); ++i)
            gif.Frames(i)->Bitmap();
        kv::TMemoryStream out;
        gif.SaveToStream(out);
    } catch (const kv::Exception&) {
    }
}

void ReadBlocks(const uint8_t* data, size_t size)
{
    try {
        kv::TReadOnlyMemoryStream s(data, int64_t(size));
        kv::TGIFImage gif;
        gif.ReadData(s);
    } catch (const kv::Exception&) {
    }
    try {
        kv::TGIFImage gif;
        gif.LoadFromClipboardFormat(kv::CF_GIFIMAGE(), std::vector<uint8_t>(data, data + size), nullptr);
    } catch (const kv::Exception&) {
    }
}

// The first two bytes choose the picture size, the third the depth and interlacing.
void DecodeAlone(const uint8_t* data, size_t size)
{
    if (size < 4)
        return;
    const int32_t width = 1 + data[0] % 64, height = 1 + data[1] % 64;
    const int32_t bits = data[2] % 3 == 0 ? 1 : data[2] % 3 == 1 ? 4 : 8;
    const bool interlaced = (data[2] & 0x80) != 0;
    std::vector<uint8_t> block(size_t(kv::GIFRowSize(bits, width) * height));
    bool truncated = false;
    try {
        kv::DecodeLZW(data + 3, int64_t(size - 3), kv::TGIFBitmapInfo{width, height, bits}, interlaced, nullptr,
                      nullptr, truncated, block.data(), bits, (data[2] & 0x40) == 0);
    } catch (const kv::Exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ReadPicture(data, size);
    ReadBlocks(data, size);
    DecodeAlone(data, size);
    return 0;
}
