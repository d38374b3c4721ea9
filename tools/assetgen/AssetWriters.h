// The file writers of the asset generator: GIF through the program's own GIF encoder,
// BMP through the platform bitmap, JPEG through the platform JPEG class, ICO by hand.
#pragma once

#include "tools/assetgen/AssetGen.h"

#include <array>

namespace kv::assetgen {

struct TRgb {
    uint8_t R = 0, G = 0, B = 0;
};
using TPalette256 = std::array<TRgb, 256>;

// Width x Height palette indices, top row first.
TAssetEntry WriteGif8(const std::string& Root, const std::string& Path, int Width, int Height,
                      const std::vector<uint8_t>& Indices, const TPalette256& Palette);
// Width x Height R,G,B triples, top row first.
TAssetEntry WriteBmp24(const std::string& Root, const std::string& Path, int Width, int Height,
                       const std::vector<uint8_t>& Rgb);
TAssetEntry WriteJpeg(const std::string& Root, const std::string& Path, int Width, int Height,
                      const std::vector<uint8_t>& Rgb, int Quality);
// One image per entry: Size x Size B,G,R,A (straight alpha), top row first.
struct TIconImage {
    int Size = 0;
    std::vector<uint8_t> Bgra;
};
TAssetEntry WriteIco(const std::string& Root, const std::string& Path, const std::vector<TIconImage>& Images);

} // namespace kv::assetgen
