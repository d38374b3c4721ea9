// The Filters menu's effects on a 12-megapixel 24-bit picture beside ImageMagick's nearest
// operation on the same pixels (and Emboss, Invert and Posterize beside OpenCV), printing
// theirs / ours from the medians: above 1, we are faster.
//
// Nearest equivalents: Spray / -spread 10, Posterize level 51 (6 levels) / -posterize 6
// (no dither) and cv::LUT with our table, Wave / -wave 10x40, Ripple Tooth / -wave too
// (a column-wise shift), Mosaic / a -sample down and up (pixelate), Emboss / -emboss and
// cv::filter2D with a 3 x 3 emboss kernel, Invert / -negate and cv::bitwise_not, the
// noises / +noise Uniform, Colorize / -colorize, Sepia / -sepia-tone 80%, Brightness
// (on the 32-bit picture) / -brightness-contrast. Ours time the routine on the working
// copy; theirs the operation on a clone of their image. Copies are made outside the clock.
#include "bench/AdjustmentsBench.h"
#include "bench/BenchEffects.h"
#include "bench/EffectCommandBench.h"
#include "fx/Adjustments.h"
#include "fx/EffectRandom.h"
#include "fx/qelFX.h"

#include <array>

using namespace kv;
using namespace kvbench;

namespace {

constexpr int32_t PosterizeLevel = 51;

void Register(const std::string& Name, const std::function<void(benchmark::State&)>& Run)
{
    benchmark::RegisterBenchmark(Name.c_str(), Run)->Iterations(2)->UseRealTime();
}

void RegisterOurs()
{
    Register("Ours_Spray", [](auto& S) {
        TimeOurs(S, [](TBitmap& B) {
            RandSeed(1);
            Spray(B, 10);
        });
    });
    Register("Ours_Posterize", [](auto& S) {
        TBitmap Dst, Warm; // the destination's pages are touched before timing, as OpenCV's are
        LoadEffectPicture(Warm);
        Posterize(Warm, Dst, PosterizeLevel);
        TimeOurs(S, [&](TBitmap& B) { Posterize(B, Dst, PosterizeLevel); });
    });
    Register("Ours_Wave", [](auto& S) { TimeOurs(S, [](TBitmap& B) { Wave(B, 10, 1, wmLow); }); });
    Register("Ours_Ripple", [](auto& S) { TimeOurs(S, [](TBitmap& B) { RippleTooth(B, RoundDiv(B.Width(), 7)); }); });
    Register("Ours_Mosaic", [](auto& S) { TimeOurs(S, [](TBitmap& B) { Mosaic(B, RoundDiv(B.Width(), 100)); }); });
    Register("Ours_Emboss", [](auto& S) { TimeOurs(S, [](TBitmap& B) { Emboss(B); }); });
    Register("Ours_Invert", [](auto& S) { TimeOurs(S, [](TBitmap& B) { InvertBitmap(B); }); });
    Register("Ours_ColorNoise", [](auto& S) { TimeOurs(S, [](TBitmap& B) { AddColorNoise(B, 50); }); });
    Register("Ours_MonoNoise", [](auto& S) { TimeOurs(S, [](TBitmap& B) { AddMonoNoise(B, 60); }); });
    Register("Ours_Colorize", [](auto& S) { TimeOurs(S, [](TBitmap& B) { ColorizeBitmap(B, TColor(0x40A0FF)); }); });
    Register("Ours_Sepia", [](auto& S) { TimeOurs(S, [](TBitmap& B) { ColorizeBitmap(B, TColor(0x77BFC8)); }); });
    Register("Ours_Brightness", [](auto& S) { TimeOurs32(S, [](TBitmap32& B) { AdjustBrightness(B, 60); }); });
}

#ifdef KV_HAVE_IMAGEMAGICK
void WithPixel(const char* Colour, const std::function<void(PixelWand*)>& Use)
{
    PixelWand* P = NewPixelWand();
    PixelSetColor(P, Colour);
    Use(P);
    DestroyPixelWand(P);
}

void RegisterMagick()
{
    Register("Magick_Spray", [](auto& S) { TimeMagick(S, [](MagickWand* W) { MagickSpreadImage(W, 10); }); });
    Register("Magick_Posterize",
             [](auto& S) { TimeMagick(S, [](MagickWand* W) { MagickPosterizeImage(W, 6, MagickFalse); }); });
    Register("Magick_Wave", [](auto& S) { TimeMagick(S, [](MagickWand* W) { MagickWaveImage(W, 10, 40); }); });
    Register("Magick_Mosaic", [](auto& S) {
        TimeMagick(S, [](MagickWand* W) {
            MagickSampleImage(W, EffectWidth / 40, EffectHeight / 40);
            MagickSampleImage(W, EffectWidth, EffectHeight);
        });
    });
    Register("Magick_Emboss", [](auto& S) { TimeMagick(S, [](MagickWand* W) { MagickEmbossImage(W, 1, 0.5); }); });
    Register("Magick_Invert", [](auto& S) { TimeMagick(S, [](MagickWand* W) { MagickNegateImage(W, MagickFalse); }); });
    Register("Magick_Noise",
             [](auto& S) { TimeMagick(S, [](MagickWand* W) { MagickAddNoiseImage(W, UniformNoise); }); });
    Register("Magick_Colorize", [](auto& S) {
        TimeMagick(S, [](MagickWand* W) {
            WithPixel("#FFA040", [&](PixelWand* Colour) {
                WithPixel("rgb(50%,50%,50%)", [&](PixelWand* Opacity) { MagickColorizeImage(W, Colour, Opacity); });
            });
        });
    });
    Register("Magick_Sepia",
             [](auto& S) { TimeMagick(S, [](MagickWand* W) { MagickSepiaToneImage(W, 0.8 * QuantumRange); }); });
    Register("Magick_Brightness",
             [](auto& S) { TimeMagick(S, [](MagickWand* W) { MagickBrightnessContrastImage(W, 24, 0); }); });
}
#endif

#ifdef KV_HAVE_OPENCV
void RegisterOpenCv()
{
    Register("OpenCV_Emboss", [](auto& S) {
        const cv::Mat Kernel = (cv::Mat_<float>(3, 3) << -1, -1, 0, -1, 0, 1, 0, 1, 1);
        TimeOpenCv(
            S, [&](const cv::Mat& Src, cv::Mat& Dst) { cv::filter2D(Src, Dst, -1, Kernel, cv::Point(-1, -1), 128); });
    });
    Register("OpenCV_Invert",
             [](auto& S) { TimeOpenCv(S, [](const cv::Mat& Src, cv::Mat& Dst) { cv::bitwise_not(Src, Dst); }); });
    Register("OpenCV_Posterize", [](auto& S) {
        cv::Mat Table(1, 256, CV_8U);
        for (int32_t C = 0; C < 256; ++C)
            Table.at<uint8_t>(C) = IntToByte(RoundDiv(C, PosterizeLevel) * PosterizeLevel);
        TimeOpenCv(S, [&](const cv::Mat& Src, cv::Mat& Dst) { cv::LUT(Src, Table, Dst); });
    });
}
#endif

void PrintRatios(const TRatioReporter& R)
{
#ifdef KV_HAVE_IMAGEMAGICK
    const std::array<std::array<const char*, 3>, 12> Magick = {
        {{"Spray", "Ours_Spray", "Magick_Spray"},
         {"Posterize", "Ours_Posterize", "Magick_Posterize"},
         {"Wave", "Ours_Wave", "Magick_Wave"},
         {"RippleTooth", "Ours_Ripple", "Magick_Wave"},
         {"Mosaic", "Ours_Mosaic", "Magick_Mosaic"},
         {"Emboss", "Ours_Emboss", "Magick_Emboss"},
         {"Invert", "Ours_Invert", "Magick_Invert"},
         {"ColorNoise", "Ours_ColorNoise", "Magick_Noise"},
         {"MonoNoise", "Ours_MonoNoise", "Magick_Noise"},
         {"Colorize", "Ours_Colorize", "Magick_Colorize"},
         {"Sepia", "Ours_Sepia", "Magick_Sepia"},
         {"Brightness", "Ours_Brightness", "Magick_Brightness"}}};
    for (const auto& [Job, Ours, Theirs] : Magick)
        PrintRatio(R, Job, "ImageMagick", Ours, Theirs);
#else
    std::printf("ImageMagick not found at configure time: no ratios against it\n");
#endif
#ifdef KV_HAVE_OPENCV
    for (const char* Job : {"Emboss", "Invert", "Posterize"})
        PrintRatio(R, Job, "OpenCV", std::string("Ours_") + Job, std::string("OpenCV_") + Job);
#else
    std::printf("OpenCV not found at configure time: no ratios against it\n");
#endif
    kvadjust::PrintAdjustmentRatios(R);
    kvcommand::PrintFirstCommandRatios(R);
}

} // namespace

int main(int argc, char** argv)
{
    TOffscreenApplication App(argv[0]);
    RegisterOurs();
    kvcommand::RegisterCommands();
#ifdef KV_HAVE_IMAGEMAGICK
    RegisterMagick();
#endif
#ifdef KV_HAVE_OPENCV
    RegisterOpenCv();
#endif
    const int Result = RunBenchmarks(argc, argv, PrintRatios);
#ifdef KV_HAVE_IMAGEMAGICK
    MagickWandTerminus();
#endif
    return Result;
}
