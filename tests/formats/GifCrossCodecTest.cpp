// The editor's GIF codec and the GIF model must read each other's image data: pictures
// saved by one are opened by the other (thumbnails, layers, the document road).
#include "formats/GIFImage.h"
#include "formats/KvGIF.h"

#include <gtest/gtest.h>
#include <random>

using namespace kv;

namespace {

struct Picture {
    int32_t Width, Height;
    std::vector<uint8_t> Indices; // top-down, Width x Height
};

Picture RandomPicture(int32_t w, int32_t h, uint32_t seed)
{
    std::mt19937 rng(seed);
    Picture p{w, h, std::vector<uint8_t>(size_t(w) * size_t(h))};
    // Runs of repeated indices mixed with noise exercise long and short LZW strings.
    uint8_t last = 0;
    for (auto& v : p.Indices) {
        if (rng() % 4 == 0)
            last = uint8_t(rng());
        v = last;
    }
    return p;
}

// The editor's codec works on bottom-up DIB rows padded to 4 bytes.
std::vector<uint8_t> ToDib(const Picture& p)
{
    int64_t stride = GIFRowSize(8, p.Width);
    std::vector<uint8_t> dib(size_t(stride * p.Height), 0);
    for (int32_t y = 0; y < p.Height; ++y)
        std::copy_n(&p.Indices[size_t(y) * p.Width], p.Width, &dib[size_t((p.Height - 1 - y) * stride)]);
    return dib;
}

std::vector<uint8_t> FromDib(const std::vector<uint8_t>& dib, int32_t w, int32_t h)
{
    int64_t stride = GIFRowSize(8, w);
    std::vector<uint8_t> out(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y)
        std::copy_n(&dib[size_t((h - 1 - y) * stride)], w, &out[size_t(y) * w]);
    return out;
}

std::vector<uint8_t> EncodeWithKvGIF(const Picture& p, bool interlaced)
{
    TMemoryStream s;
    std::vector<uint8_t> dib = ToDib(p);
    EncodeLZW(s, TGIFBitmapInfo{p.Width, p.Height, 8}, interlaced, nullptr, nullptr, dib.data());
    return s.Bytes();
}

std::vector<uint8_t> DecodeWithKvGIF(const std::vector<uint8_t>& data, int32_t w, int32_t h, bool interlaced)
{
    std::vector<uint8_t> dib(size_t(GIFRowSize(8, w) * h), 0);
    bool truncated = false;
    DecodeLZW(data.data(), int64_t(data.size()), TGIFBitmapInfo{w, h, 8}, interlaced, nullptr, nullptr, truncated,
              dib.data(), 8, false);
    EXPECT_FALSE(truncated);
    return FromDib(dib, w, h);
}

std::vector<uint8_t> EncodeWithModel(const Picture& p, bool interlaced, uint8_t compression)
{
    TMemoryStream s;
    GIFImage::EncodeImageData(s, 8, 256, p.Indices.data(), interlaced, p.Width, p.Height, compression);
    return s.Bytes();
}

std::vector<uint8_t> DecodeWithModel(const std::vector<uint8_t>& data, int32_t w, int32_t h, bool interlaced)
{
    std::vector<uint8_t> out(size_t(w) * size_t(h), 0);
    TReadOnlyMemoryStream s(data.data(), int64_t(data.size()));
    GIFImage::DecodeLZW(s, out.data(), w, h, interlaced, [](const std::string& warning) { ADD_FAILURE() << warning; });
    return out;
}

} // namespace

TEST(GifCrossCodec, EachCodecReadsTheOthersImageData)
{
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {7, 3}, {300, 200}, {13, 37}};
    uint32_t seed = 1;
    for (auto [w, h] : sizes) {
        for (bool interlaced : {false, true}) {
            Picture p = RandomPicture(w, h, seed++);
            SCOPED_TRACE(testing::Message() << w << "x" << h << (interlaced ? " interlaced" : ""));
            EXPECT_EQ(DecodeWithModel(EncodeWithKvGIF(p, interlaced), w, h, interlaced), p.Indices);
            for (uint8_t compression : {uint8_t(0), uint8_t(1)}) // the model's LZW and RLE encoders
                EXPECT_EQ(DecodeWithKvGIF(EncodeWithModel(p, interlaced, compression), w, h, interlaced), p.Indices)
                    << "model compression " << int(compression);
        }
    }
}
