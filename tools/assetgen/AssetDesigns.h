// The pictures of the decoration folders, as pixels; AssetGen.cpp writes them.
#pragma once

#include "tools/assetgen/AssetMath.h"

#include <string>
#include <vector>

namespace kv::assetgen {

struct TGifPicture {
    int32_t Width = 0, Height = 0;
    std::vector<uint8_t> Indices;
    TPalette256 Palette{};
};

struct TRgbPicture {
    std::string Name;
    int32_t Width = 0, Height = 0;
    std::vector<uint8_t> Rgb;
};

// Frames/Frame1..8.gif (Index 0..7): 800 x 600, decoration in the outer 96 / 72 pixels.
TGifPicture FramePicture(int32_t Index);
TGifPicture Mask01Picture();
// A 256-grey picture (entry i = (i, i, i)).
TGifPicture GrayPicture(int32_t Width, int32_t Height, std::vector<uint8_t> Gray);
bool InHeart(double X, double Y);

// The hidden shape list of the frame dialog, black inside the shape.
enum TShapeMask : uint8_t { smGrad, smBlur, smSpray, smHeart, smTwoHearts };
std::vector<uint8_t> ShapeMaskGray(TShapeMask Kind);

// Masks/: 400 x 300 greys, white where the layer stays visible.
struct TNamedGray {
    std::string Name;
    std::vector<uint8_t> Gray;
};
constexpr int32_t MaskWidth = 400, MaskHeight = 300;
std::vector<TNamedGray> LayerMasks();

// Textures/: 256 x 256 seamless colour tiles.
constexpr int32_t TextureSize = 256;
std::vector<TRgbPicture> Textures();

// The program icon at Size pixels, B,G,R,A.
std::vector<uint8_t> IconPixels(int32_t Size);

} // namespace kv::assetgen
