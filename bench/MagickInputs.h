// Pictures ImageMagick makes through MagickWand, so that the pixel benchmarks meet
// content no code of ours drew: a plasma fractal (soft clouds of colour with fine
// detail, as a photograph has), handed over as top-down B, G, R rows.
#pragma once

#include <cstdint>
#include <vector>

#ifdef KV_HAVE_IMAGEMAGICK
#include <wand/MagickWand.h>
#endif

namespace kvbench {

#ifdef KV_HAVE_IMAGEMAGICK
// W x H B, G, R bytes without padding; empty when ImageMagick refuses. The same seed
// each run, so that two runs of a benchmark time the same pixels.
inline std::vector<uint8_t> MagickPlasmaBgr(int W, int H)
{
    MagickWandGenesis();
    SetRandomSecretKey(20261210);
    MagickWand* Wand = NewMagickWand();
    MagickSetSize(Wand, size_t(W), size_t(H));
    std::vector<uint8_t> Bgr;
    if (MagickReadImage(Wand, "plasma:fractal") == MagickTrue) {
        Bgr.resize(size_t(W) * size_t(H) * 3);
        if (MagickExportImagePixels(Wand, 0, 0, size_t(W), size_t(H), "BGR", CharPixel, Bgr.data()) != MagickTrue)
            Bgr.clear();
    }
    DestroyMagickWand(Wand);
    return Bgr;
}
#endif

} // namespace kvbench
