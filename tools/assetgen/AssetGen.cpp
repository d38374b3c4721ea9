#include "tools/assetgen/AssetGen.h"

#include "tools/assetgen/AssetDesigns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kv::assetgen {

namespace {

// The icon: a gilt picture frame holding a hill and a sun, on a rounded blue tile.
TRgb IconSample(double U, double V, bool& Inside)
{
    const double r = 0.2, lo = 0.03, hi = 0.97;
    double dx = std::max(std::max(lo + r - U, U - (hi - r)), 0.0),
           dy = std::max(std::max(lo + r - V, V - (hi - r)), 0.0);
    Inside = U >= lo && U <= hi && V >= lo && V <= hi && dx * dx + dy * dy <= r * r;
    if (!Inside)
        return {};
    if (U >= 0.22 && U <= 0.78 && V >= 0.24 && V <= 0.76) {
        const double sx = U - 0.64, sy = V - 0.38;
        if (sx * sx + sy * sy <= 0.006)
            return {255, 214, 64};
        const bool hill = V >= 0.50 + (U < 0.45 ? (0.45 - U) : (U - 0.45)) * 0.9;
        if (hill)
            return {52, 150, 60};
        const int32_t t = int32_t((V - 0.24) / 0.52 * 120.0);
        return {uint8_t(120 + t), uint8_t(180 + t / 2), 240};
    }
    if (U >= 0.15 && U <= 0.85 && V >= 0.17 && V <= 0.83) {
        const bool lit = (U - 0.15) + (V - 0.17) < 0.70;
        return lit ? TRgb{236, 196, 80} : TRgb{170, 124, 36};
    }
    const int32_t t = int32_t(V * 80.0);
    return {uint8_t(40 - t / 4), uint8_t(100 - t / 2), uint8_t(210 - t)};
}

} // namespace

std::vector<uint8_t> IconPixels(int32_t Size)
{
    std::vector<uint8_t> bgra(size_t(Size) * Size * 4);
    for (int32_t y = 0; y < Size; ++y)
        for (int32_t x = 0; x < Size; ++x) {
            int32_t n = 0, r = 0, g = 0, b = 0;
            for (int32_t j = 0; j < 4; ++j)
                for (int32_t i = 0; i < 4; ++i) {
                    bool in = false;
                    TRgb c = IconSample((x + (i + 0.5) / 4.0) / Size, (y + (j + 0.5) / 4.0) / Size, in);
                    if (in) {
                        ++n;
                        r += c.R;
                        g += c.G;
                        b += c.B;
                    }
                }
            uint8_t* p = bgra.data() + (size_t(y) * Size + x) * 4;
            if (n > 0) {
                p[0] = uint8_t((b + n / 2) / n);
                p[1] = uint8_t((g + n / 2) / n);
                p[2] = uint8_t((r + n / 2) / n);
                p[3] = uint8_t((n * 255 + 8) / 16);
            }
        }
    return bgra;
}

std::vector<TAssetEntry> GenerateAssets(const std::string& OutDir)
{
    std::vector<TAssetEntry> out;
    auto gif = [&](const std::string& Path, const TGifPicture& P) {
        out.push_back(WriteGif8(OutDir, Path, P.Width, P.Height, P.Indices, P.Palette));
    };
    for (int32_t i = 0; i < 8; ++i)
        gif("Frames/Frame" + std::to_string(i + 1) + ".gif", FramePicture(i));
    gif("Frames/mask01.gif", Mask01Picture());

    // The shape list: the JPEG is grey in all three components, so its chroma stays 128.
    {
        std::vector<uint8_t> g = ShapeMaskGray(smGrad), rgb;
        rgb.reserve(g.size() * 3);
        for (uint8_t v : g)
            rgb.insert(rgb.end(), {v, v, v});
        out.push_back(WriteJpeg(OutDir, "Frames/mask_grad.jpg", FrameWidth, FrameHeight, rgb, 90));
    }
    gif("Frames/mask_blur.gif", GrayPicture(FrameWidth, FrameHeight, ShapeMaskGray(smBlur)));
    gif("Frames/mask_spray.gif", GrayPicture(FrameWidth, FrameHeight, ShapeMaskGray(smSpray)));
    gif("Frames/mask_heart2.gif", GrayPicture(FrameWidth, FrameHeight, ShapeMaskGray(smHeart)));
    gif("Frames/mask_heart.gif", GrayPicture(FrameWidth, FrameHeight, ShapeMaskGray(smTwoHearts)));

    for (int32_t n = 1; n <= 38; ++n)
        out.push_back(WriteBmp24(OutDir, "Patterns/pat" + std::to_string(n) + ".bmp", 8, 8, PatternPixels(n)));

    for (TNamedGray& m : LayerMasks())
        gif("Masks/" + m.Name, GrayPicture(MaskWidth, MaskHeight, std::move(m.Gray)));

    for (const TRgbPicture& t : Textures())
        out.push_back(WriteJpeg(OutDir, "Textures/" + t.Name, t.Width, t.Height, t.Rgb, 90));

    out.push_back(WriteIco(OutDir, "Icon.ico", {{16, IconPixels(16)}, {32, IconPixels(32)}, {48, IconPixels(48)}}));

    std::sort(out.begin(), out.end(), [](const TAssetEntry& a, const TAssetEntry& b) { return a.Path < b.Path; });
    return out;
}

std::string ManifestText(const std::vector<TAssetEntry>& Entries)
{
    std::string s;
    char line[512];
    for (const TAssetEntry& e : Entries) {
        std::snprintf(line, sizeof line, "%s %llu %016llx %016llx\n", e.Path.c_str(), (unsigned long long)e.Size,
                      (unsigned long long)e.BytesHash, (unsigned long long)e.PixelsHash);
        s += line;
    }
    return s;
}

} // namespace kv::assetgen
