// The JPEG files the load, save and thumbnail benchmarks read: libjpeg with cjpeg's
// defaults at three sizes, and ImageMagick's writer at one.
#pragma once

#include "bench/BenchJpeg.h"
#include "bench/OpenInputs.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kvbench {

struct TJpegInput {
    std::string Name;
    int W, H;
    bool Magick; // written by ImageMagick, else by libjpeg with cjpeg's defaults
};

inline const TJpegInput JpegInputs[] = {
    {"cjpeg_1920x1080", 1920, 1080, false},
    {"cjpeg_4000x3000", 4000, 3000, false},
    {"cjpeg_6000x4000", 6000, 4000, false},
    {"magick_4000x3000", 4000, 3000, true},
};

// Writes In's photograph stand-in to Path with In's writer; false when that writer is
// missing here.
inline bool WriteJpegInput(const TJpegInput& In, const std::string& Path)
{
    const std::vector<uint8_t> Rgb = PhotoPixels(In.W, In.H);
    if (!In.Magick) {
        WriteCjpegFile(Path, In.W, In.H, Rgb);
        return std::filesystem::exists(Path);
    }
#ifdef KV_HAVE_IMAGEMAGICK
    return WriteMagickFile(Path, In.W, In.H, Rgb, "JPEG");
#else
    return false;
#endif
}

} // namespace kvbench
