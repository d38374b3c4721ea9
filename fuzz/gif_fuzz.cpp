// The GIF model's readers on arbitrary bytes: the whole stream, the image-data decoder
// alone, and the clipboard block reader. Any GIFException is a fine answer; crashes,
// hangs and other exceptions are not.
#include "formats/GIFImage.h"

#include <cstddef>
#include <cstdint>

using namespace kv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        GIFImage::TGIFImage image;
        TReadOnlyMemoryStream stream(data, int64_t(size));
        try {
            image.LoadFromStream(stream);
            // What was read must write back and read again.
            TMemoryStream out;
            if (!image.Empty())
                image.SaveToStream(out);
        } catch (const Exception&) {
        }
    }
    {
        // The clipboard reader takes the block as a "GIF Image" format.
        GIFImage::TGIFImage image;
        try {
            image.LoadFromClipboardFormat(GIFImage::CF_GIF(), std::vector<uint8_t>(data, data + size), nullptr);
        } catch (const Exception&) {
        }
    }
    if (size >= 2) {
        // The decoder alone: the first two bytes give the size, the rest is image data.
        int32_t width = 1 + data[0] % 64, height = 1 + data[1] % 64;
        std::vector<uint8_t> pixels(size_t(width) * size_t(height));
        TReadOnlyMemoryStream stream(data + 2, int64_t(size - 2));
        try {
            GIFImage::DecodeLZW(stream, pixels.data(), width, height, (data[0] & 0x80) != 0, [](const std::string&) {});
        } catch (const Exception&) {
        }
    }
    return 0;
}
