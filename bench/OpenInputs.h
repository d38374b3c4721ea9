// The pictures the open benchmarks read, written as other programs write them: a
// photograph stand-in row, a 24-bit bottom-up BI_RGB BMP and a giflib GIF. One source, so
// the end-to-end and the fresh-process benchmarks open the same bytes.
#pragma once

#include <gif_lib.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace kvbench {

// Smooth gradients with a little noise, so that every codec has real work and none gets
// a degenerate picture. R, G, B order.
inline void PhotoRow(int Width, int Height, int Y, std::mt19937& Rng, uint8_t* Rgb)
{
    for (int X = 0; X < Width; ++X) {
        const uint32_t N = Rng();
        Rgb[3 * X] = uint8_t(X * 255 / Width + (N & 7));
        Rgb[3 * X + 1] = uint8_t(Y * 255 / Height + ((N >> 3) & 7));
        Rgb[3 * X + 2] = uint8_t(((X + Y) >> 4) + ((N >> 6) & 7));
    }
}

// 24-bit BI_RGB, bottom-up rows, as most programs write it.
inline void WriteBmpFile(const std::string& Name, int W, int H)
{
    const uint32_t Stride = (uint32_t(W) * 3 + 3) & ~3u, Pixels = Stride * uint32_t(H);
    std::vector<uint8_t> B{'B', 'M'};
    auto PutLE = [&B](uint32_t V, int Bytes) {
        for (int I = 0; I < Bytes; ++I)
            B.push_back(uint8_t(V >> (8 * I)));
    };
    for (uint32_t V : {54 + Pixels, 0u, 54u, 40u, uint32_t(W), uint32_t(H)})
        PutLE(V, 4);
    PutLE(1, 2);
    PutLE(24, 2);
    for (uint32_t V : {0u, Pixels, 2835u, 2835u, 0u, 0u})
        PutLE(V, 4);
    B.resize(54 + size_t(Pixels));
    std::mt19937 Rng(3);
    std::vector<uint8_t> Row(size_t(W) * 3);
    for (int Y = 0; Y < H; ++Y) {
        PhotoRow(W, H, Y, Rng, Row.data());
        uint8_t* Out = &B[54 + size_t(H - 1 - Y) * Stride];
        for (int X = 0; X < W; ++X) {
            Out[3 * X] = Row[3 * size_t(X) + 2];
            Out[3 * X + 1] = Row[3 * size_t(X) + 1];
            Out[3 * X + 2] = Row[3 * size_t(X)];
        }
    }
    std::ofstream(Name, std::ios::binary).write(reinterpret_cast<const char*>(B.data()), std::streamsize(B.size()));
}

// One 8-bit frame through giflib, diagonal bands with noise in their steps.
inline void WriteGifFile(const std::string& Name, int W, int H)
{
    int Error = 0;
    GifFileType* G = EGifOpenFileName(Name.c_str(), false, &Error);
    if (!G)
        return;
    std::vector<GifColorType> Colors(256);
    for (int I = 0; I < 256; ++I)
        Colors[size_t(I)] = GifColorType{uint8_t(I), uint8_t(255 - I), uint8_t((I * 7) & 0xFF)};
    ColorMapObject* Map = GifMakeMapObject(256, Colors.data());
    EGifPutScreenDesc(G, W, H, 8, 0, Map);
    EGifPutImageDesc(G, 0, 0, W, H, false, nullptr);
    std::mt19937 Rng(4);
    std::vector<GifPixelType> Row(static_cast<size_t>(W));
    for (int Y = 0; Y < H; ++Y) {
        for (int X = 0; X < W; ++X)
            Row[size_t(X)] = GifPixelType(((X >> 3) + (Y >> 3) + (Rng() % 3 == 0 ? 1 : 0)) & 0xFF);
        EGifPutLine(G, Row.data(), W);
    }
    GifFreeMapObject(Map);
    EGifCloseFile(G, &Error);
}

} // namespace kvbench

namespace kvbench {

// The photograph stand-in of W x H as R, G, B rows, one seed per picture.
inline std::vector<uint8_t> PhotoPixels(int W, int H, unsigned Seed = 1)
{
    std::vector<uint8_t> Rgb(size_t(W) * size_t(H) * 3);
    std::mt19937 Rng(Seed);
    for (int Y = 0; Y < H; ++Y)
        PhotoRow(W, H, Y, Rng, Rgb.data() + size_t(Y) * size_t(W) * 3);
    return Rgb;
}

} // namespace kvbench

#ifdef KV_HAVE_IMAGEMAGICK
#include <wand/MagickWand.h>

namespace kvbench {

// R, G, B pixels written by ImageMagick's MagickWand in Format ("JPEG", "TIFF"), with
// every setting left at ImageMagick's own default, as `convert in.ppm out.jpg` writes;
// false when this ImageMagick has no writer for it.
inline bool WriteMagickFile(const std::string& Name, int W, int H, const std::vector<uint8_t>& Rgb, const char* Format)
{
    static const bool Started = [] {
        MagickWandGenesis();
        return true;
    }();
    (void)Started;
    MagickWand* Wand = NewMagickWand();
    bool Ok = MagickConstituteImage(Wand, size_t(W), size_t(H), "RGB", CharPixel, Rgb.data()) == MagickTrue &&
              MagickSetImageFormat(Wand, Format) == MagickTrue;
    size_t Length = 0;
    unsigned char* Blob = Ok ? MagickGetImageBlob(Wand, &Length) : nullptr;
    Ok = Blob && Length > 0;
    if (Ok)
        std::ofstream(Name, std::ios::binary).write(reinterpret_cast<const char*>(Blob), std::streamsize(Length));
    if (Blob)
        MagickRelinquishMemory(Blob);
    DestroyMagickWand(Wand);
    return Ok;
}

} // namespace kvbench
#endif
