// What the GIF benchmarks share: the photo-like 4000 x 3000 8-bit test picture and
// giflib's memory reader and writer (the comparison library).
#pragma once

#include "formats/KvGIF.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#ifdef KV_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace kvbench {

constexpr int32_t W = 4000, H = 3000;

// Photo-like 8-bit indices: soft gradients, edges and a little noise.
inline const std::vector<uint8_t>& Pixels8()
{
    static const std::vector<uint8_t> block = [] {
        std::vector<uint8_t> b(size_t(W) * H);
        std::mt19937 rng(5);
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x) {
                int v = (x / 9 + y / 13) % 200 + ((x / 400 + y / 300) % 2) * 40;
                if (rng() % 8 == 0)
                    v += int(rng() % 5);
                b[size_t(y) * W + x] = uint8_t(v);
            }
        return b;
    }();
    return block;
}

inline const std::vector<uint8_t>& KvImageData()
{
    static const std::vector<uint8_t> data = [] {
        kv::TMemoryStream s;
        kv::EncodeLZW(s, kv::TGIFBitmapInfo{W, H, 8}, false, nullptr, nullptr, Pixels8().data());
        return s.Bytes();
    }();
    return data;
}

// The whole GIF file of the picture: header, grey global table, descriptor, data.
inline const std::vector<uint8_t>& GIFFile()
{
    static const std::vector<uint8_t> file = [] {
        std::vector<uint8_t> f{'G',  'I', 'F', '8', '7', 'a', uint8_t(W), uint8_t(W >> 8), uint8_t(H), uint8_t(H >> 8),
                               0xF7, 0,   0};
        for (int i = 0; i < 256; ++i)
            f.insert(f.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
        f.insert(f.end(), {0x2C, 0, 0, 0, 0, uint8_t(W), uint8_t(W >> 8), uint8_t(H), uint8_t(H >> 8), 0});
        f.insert(f.end(), KvImageData().begin(), KvImageData().end());
        f.push_back(0x3B);
        return f;
    }();
    return file;
}

#ifdef KV_HAVE_GIFLIB
struct MemoryReader {
    const uint8_t* Data;
    size_t Size, Pos;
};

inline int ReadFromMemory(GifFileType* gif, GifByteType* buf, int len)
{
    auto* r = static_cast<MemoryReader*>(gif->UserData);
    const size_t n = std::min(size_t(len), r->Size - r->Pos);
    std::memcpy(buf, r->Data + r->Pos, n);
    r->Pos += n;
    return int(n);
}

inline int WriteToMemory(GifFileType* gif, const GifByteType* buf, int len)
{
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), buf, buf + len);
    return len;
}

// Decodes a whole GIF file in memory with giflib; false when giflib refuses it.
inline bool GiflibDecode(const std::vector<uint8_t>& file)
{
    MemoryReader r{file.data(), file.size(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&r, ReadFromMemory, &error);
    if (!gif)
        return false;
    bool ok = DGifSlurp(gif) == GIF_OK;
    if (ok)
        benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
    DGifCloseFile(gif, &error);
    return ok;
}
#endif

} // namespace kvbench
