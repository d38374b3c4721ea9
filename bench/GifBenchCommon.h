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

#ifdef KV_HAVE_GIFLIB
// An animation as giflib writes it (GIF89a, one global 256-colour table, a graphic
// control block of 40 ms before each frame): Frames frames of Fw x Fh, soft diagonal
// bands moving one step a frame, with noise, as a short clip reduced to 256 colours is.
inline std::vector<uint8_t> GiflibAnimation(int Fw, int Fh, int Frames)
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToMemory, &error);
    if (!gif)
        return {};
    EGifSetGifVersion(gif, true);
    std::vector<GifColorType> colours(256);
    for (int i = 0; i < 256; ++i)
        colours[size_t(i)] = GifColorType{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)};
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    bool ok = EGifPutScreenDesc(gif, Fw, Fh, 8, 0, map) == GIF_OK;
    std::mt19937 rng(43);
    std::vector<GifPixelType> row(static_cast<size_t>(Fw));
    const GifByteType control[4] = {0x04, 4, 0, 0}; // kept in place, 4 hundredths
    for (int f = 0; ok && f < Frames; ++f) {
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, Fw, Fh, false, nullptr) == GIF_OK;
        for (int y = 0; ok && y < Fh; ++y) {
            for (int x = 0; x < Fw; ++x)
                row[size_t(x)] = GifPixelType((x / 16 + y / 16 + f + ((rng() & 15) == 0)) & 0xFF);
            ok = EGifPutLine(gif, row.data(), Fw) == GIF_OK;
        }
    }
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK || !ok)
        return {};
    return out;
}
#endif

} // namespace kvbench
