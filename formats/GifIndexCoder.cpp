#include "formats/GifIndexCoder.h"

#include "formats/KvGIF.h"

#include <cstring>
#include <vector>

namespace kv {

namespace {

// The code size byte and every sub-block with its size byte, as the coder reads them;
// Whole is false when the stream ends before the zero-sized terminator.
std::vector<uint8_t> CollectImageData(TStream& Stream, bool& Whole)
{
    std::vector<uint8_t> data;
    Whole = false;
    uint8_t b = 0;
    if (Stream.Read(&b, 1) != 1)
        return data;
    data.push_back(b);
    while (Stream.Read(&b, 1) == 1) {
        data.push_back(b);
        if (b == 0) {
            Whole = true;
            break;
        }
        const size_t at = data.size();
        data.resize(at + b);
        const int64_t got = Stream.Read(data.data() + at, b);
        data.resize(at + size_t(got > 0 ? got : 0));
        if (got != b)
            break;
    }
    return data;
}

} // namespace

bool DecodeGifIndexes(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced, uint8_t* Buffer)
{
    bool whole = false;
    const std::vector<uint8_t> data = CollectImageData(Stream, whole);
    if (data.empty() || Width < 1 || Height < 1)
        return false;
    // Pixel codes are bytes here, and the file's codes never pass 12 bits.
    if (data[0] < 1 || data[0] > 8)
        whole = false;
    // The coder fills bottom-up rows padded to 4 bytes.
    const int64_t rowSize = GIFRowSize(8, Width);
    std::vector<uint8_t> rows(size_t(rowSize * Height), 0);
    bool truncated = false;
    // Codes below the clear code are pixels: the coder's pixel range is the code size.
    const int32_t pixelBits = data[0] < 1 ? 1 : data[0] > 8 ? 8 : data[0];
    try {
        DecodeLZW(data.data(), int64_t(data.size()), TGIFBitmapInfo{Width, Height, 8}, Interlaced, nullptr, nullptr,
                  truncated, rows.data(), pixelBits, true);
    } catch (const Exception&) {
        // Damaged data keeps whatever was decoded.
        truncated = true;
    }
    for (int32_t y = 0; y < Height; ++y)
        std::memcpy(Buffer + int64_t(y) * Width, rows.data() + (Height - 1 - y) * rowSize, size_t(Width));
    return whole && !truncated;
}

void EncodeGifIndexes(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced, const uint8_t* Buffer,
                      int32_t BitsPerPixel)
{
    const int32_t bitCount = BitsPerPixel <= 1 ? 1 : BitsPerPixel <= 4 ? 4 : 8;
    const int64_t rowSize = GIFRowSize(bitCount, Width);
    std::vector<uint8_t> rows(size_t(rowSize * Height), 0);
    for (int32_t y = 0; y < Height; ++y) {
        uint8_t* dst = rows.data() + (Height - 1 - y) * rowSize;
        const uint8_t* src = Buffer + int64_t(y) * Width;
        for (int32_t x = 0; x < Width; ++x) {
            if (bitCount == 8)
                dst[x] = src[x];
            else if (bitCount == 4)
                dst[x / 2] |= uint8_t((src[x] & 15) << ((x & 1) ? 0 : 4));
            else if (src[x] & 1)
                dst[x / 8] |= uint8_t(0x80 >> (x & 7));
        }
    }
    EncodeLZW(Stream, TGIFBitmapInfo{Width, Height, bitCount}, Interlaced, nullptr, nullptr, rows.data());
}

} // namespace kv
