// The Filters menu's effects beside ImageMagick's nearest operation on the same pixels
// (and Emboss, Invert and Posterize beside OpenCV), printing theirs / ours from the
// medians (above 1: we are faster) with the threads of each side: one each, ImageMagick's
// thread resource and OpenCV's thread count set to 1, as our effects run on one thread.
//
// Nearest equivalents: Spray / -spread 10, Posterize level 51 (6 levels) / -posterize 6
// (no dither) and cv::LUT with our table, Wave / -wave 10x40, Ripple Tooth / -wave too
// (a column-wise shift), Mosaic / a -sample down and up (pixelate), Emboss / -emboss and
// cv::filter2D with a 3 x 3 emboss kernel, Invert / -negate and cv::bitwise_not, the
// noises / +noise Uniform, Colorize / -colorize, Sepia / -sepia-tone 80%, Brightness
// (on the 32-bit picture) / -brightness-contrast. Ours time the routine on the working
// copy; ImageMagick the operation on a wand holding the picture; OpenCV the operation
// into a destination of the picture's size. Every line runs on a 12-megapixel grain
// picture and on a 1920 x 1080 plasma ImageMagick drew, in the "first" and "repeated"
// memory states; bench/BenchEffects.h says what each side's state is. The adjustments'
// comparisons (bench/AdjustmentsBench.h) are lines of the same kind; the commands as the
// menu runs them (bench/EffectCommandBench.h) are timed alone.
#include "bench/AdjustmentsBench.h"
#include "bench/BenchEffects.h"
#include "bench/EffectCommandBench.h"
#include "fx/Adjustments.h"
#include "fx/EffectRandom.h"
#include "fx/qelFX.h"

#include <array>
#include <memory>

using namespace kv;
using namespace kvbench;

namespace {

constexpr int32_t PosterizeLevel = 51;

void Ours(const std::string& Key, const std::function<void(TBitmap&)>& Run)
{
    RegisterEffectSide(Key, "Kelvane",
                       [Run](benchmark::State& S, TEffectInput& In, TMemoryState Mem) { TimeOursOn(S, In, Mem, Run); });
}

void RegisterOurs()
{
    Ours("Spray", [](TBitmap& B) {
        RandSeed(1);
        Spray(B, 10);
    });
    RegisterEffectSide("Posterize", "Kelvane", [](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
        auto Dst = std::make_shared<std::unique_ptr<TBitmap>>(std::make_unique<TBitmap>());
        TimeOursOn<TBitmap>(
            S, In, Mem, [Dst](TBitmap& B) { Posterize(B, **Dst, PosterizeLevel); },
            [Dst] { *Dst = std::make_unique<TBitmap>(); });
    });
    Ours("Wave", [](TBitmap& B) { Wave(B, 10, 1, wmLow); });
    Ours("Ripple", [](TBitmap& B) { RippleTooth(B, RoundDiv(B.Width(), 7)); });
    Ours("Mosaic", [](TBitmap& B) { Mosaic(B, RoundDiv(B.Width(), 100)); });
    Ours("Emboss", [](TBitmap& B) { Emboss(B); });
    Ours("Invert", [](TBitmap& B) { InvertBitmap(B); });
    Ours("ColorNoise", [](TBitmap& B) { AddColorNoise(B, 50); });
    Ours("MonoNoise", [](TBitmap& B) { AddMonoNoise(B, 60); });
    Ours("Colorize", [](TBitmap& B) { ColorizeBitmap(B, TColor(0x40A0FF)); });
    Ours("Sepia", [](TBitmap& B) { ColorizeBitmap(B, TColor(0x77BFC8)); });
    RegisterEffectSide("Brightness", "Kelvane", [](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
        TimeOursOn<TBitmap32>(S, In, Mem, [](TBitmap32& B) { AdjustBrightness(B, 60); });
    });
}

#ifdef KV_HAVE_IMAGEMAGICK
bool WithPixel(const char* Colour, const std::function<bool(PixelWand*)>& Use)
{
    PixelWand* P = NewPixelWand();
    PixelSetColor(P, Colour);
    const bool Ok = Use(P);
    DestroyPixelWand(P);
    return Ok;
}

void Magick(const std::string& Key, const std::function<MagickBooleanType(MagickWand*)>& Run)
{
    RegisterEffectSide(Key, "ImageMagick", [Run](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
        TimeMagickOn(S, In, Mem, [&Run](MagickWand* W) { return Run(W) == MagickTrue; });
    });
}

void RegisterMagick()
{
    Magick("Spray", [](MagickWand* W) { return MagickSpreadImage(W, 10); });
    Magick("Posterize", [](MagickWand* W) { return MagickPosterizeImage(W, 6, MagickFalse); });
    Magick("Wave", [](MagickWand* W) { return MagickWaveImage(W, 10, 40); });
    Magick("Mosaic", [](MagickWand* W) {
        const size_t Width = MagickGetImageWidth(W), Height = MagickGetImageHeight(W);
        if (MagickSampleImage(W, Width / 40, Height / 40) != MagickTrue)
            return MagickFalse;
        return MagickSampleImage(W, Width, Height);
    });
    Magick("Emboss", [](MagickWand* W) { return MagickEmbossImage(W, 1, 0.5); });
    Magick("Invert", [](MagickWand* W) { return MagickNegateImage(W, MagickFalse); });
    Magick("Noise", [](MagickWand* W) { return MagickAddNoiseImage(W, UniformNoise); });
    Magick("Colorize", [](MagickWand* W) {
        return WithPixel("#FFA040",
                         [&](PixelWand* Colour) {
                             return WithPixel("rgb(50%,50%,50%)", [&](PixelWand* Opacity) {
                                 return MagickColorizeImage(W, Colour, Opacity) == MagickTrue;
                             });
                         })
                   ? MagickTrue
                   : MagickFalse;
    });
    Magick("Sepia", [](MagickWand* W) { return MagickSepiaToneImage(W, 0.8 * QuantumRange); });
    Magick("Brightness", [](MagickWand* W) { return MagickBrightnessContrastImage(W, 24, 0); });
}
#endif

#ifdef KV_HAVE_OPENCV
void OpenCv(const std::string& Key, const std::function<void(const cv::Mat&, cv::Mat&)>& Run)
{
    RegisterEffectSide(Key, "OpenCV", [Run](benchmark::State& S, TEffectInput& In, TMemoryState Mem) {
        TimeOpenCvOn(S, In, Mem, Run);
    });
}

void RegisterOpenCv()
{
    const cv::Mat Kernel = (cv::Mat_<float>(3, 3) << -1, -1, 0, -1, 0, 1, 0, 1, 1);
    OpenCv("Emboss",
           [Kernel](const cv::Mat& Src, cv::Mat& Dst) { cv::filter2D(Src, Dst, -1, Kernel, cv::Point(-1, -1), 128); });
    OpenCv("Invert", [](const cv::Mat& Src, cv::Mat& Dst) { cv::bitwise_not(Src, Dst); });
    cv::Mat Table(1, 256, CV_8U);
    for (int32_t C = 0; C < 256; ++C)
        Table.at<uint8_t>(C) = IntToByte(RoundDiv(C, PosterizeLevel) * PosterizeLevel);
    OpenCv("Posterize", [Table](const cv::Mat& Src, cv::Mat& Dst) { cv::LUT(Src, Table, Dst); });
}
#endif

void PrintRatios(const TRatioReporter& R)
{
#ifdef KV_HAVE_IMAGEMAGICK
    const std::array<std::array<const char*, 3>, 12> Magick = {{{"Spray", "Spray", "Spray"},
                                                                {"Posterize", "Posterize", "Posterize"},
                                                                {"Wave", "Wave", "Wave"},
                                                                {"RippleTooth", "Ripple", "Wave"},
                                                                {"Mosaic", "Mosaic", "Mosaic"},
                                                                {"Emboss", "Emboss", "Emboss"},
                                                                {"Invert", "Invert", "Invert"},
                                                                {"ColorNoise", "ColorNoise", "Noise"},
                                                                {"MonoNoise", "MonoNoise", "Noise"},
                                                                {"Colorize", "Colorize", "Colorize"},
                                                                {"Sepia", "Sepia", "Sepia"},
                                                                {"Brightness", "Brightness", "Brightness"}}};
    for (const auto& [Job, OursKey, TheirsKey] : Magick)
        PrintEffectComparison(R, Job, "ImageMagick", OursKey, TheirsKey);
#else
    std::printf("ImageMagick not found at configure time: no ratios against it\n");
#endif
#ifdef KV_HAVE_OPENCV
    for (const char* Job : {"Emboss", "Invert", "Posterize"})
        PrintEffectComparison(R, Job, "OpenCV", Job, Job);
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
    kvadjust::RegisterAdjustments();
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
