// TIFF reading through the imaging library's reader (ReadTiff, from a file stream, the
// LZW decoder it is given in the editor) against libtiff reading the same file's strips
// (TIFFOpen as shipped, then TIFFReadEncodedStrip into one block). Prints theirs / ours
// from the medians (above 1: we are faster).
//
// Files, none written by our own writer: group 4 fax pages (1-bit, min-is-white, one
// strip) of 1728 x 2200 and 2480 x 3508 and RGB photographs coded LZW with the horizontal
// predictor (libtiff's default strip size) of 1920 x 1080 and 4000 x 3000, all written by
// libtiff, the larger one also with a smoother picture (slow ramps, one noise value per
// pixel); and the 4000 x 3000 photograph as ImageMagick's MagickWand writes a TIFF with
// its defaults (when linked). Both sides decode every byte of the same file, with no
// checksum to verify (TIFF has none), and hand on the same rows: fax bits as coded, RGB
// turned into B, G, R (libtiff's side swaps each strip after decoding it).
//
// Like with like (see bench/BenchReporter.h): each file has a "first" line, ours into a
// new bitmap with every held block given back and libtiff into a block mapped for that
// iteration, and a "repeated" line, ours into the bitmap of the previous read and libtiff
// into the block it keeps. Both sides run on one thread (the reader starts none), so no
// one-core line is needed.
#include "imaging/TiffFilter.h"
#include "imaging/TiffLzw.h"

#include "bench/BenchReporter.h"
#include "bench/OpenInputs.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#ifdef KV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace kv;

using kvbench::TMemoryState;

namespace {

struct TInput {
    std::string Name; // also the file's name in the folder
    int W, H;
    bool Fax;
    bool Magick; // written by ImageMagick rather than libtiff
    bool Smooth; // gentler gradients with one noise value for all three samples
};

const TInput Inputs[] = {
    {"fax_g4_1728x2200", 1728, 2200, true, false, false},
    {"fax_g4_2480x3508", 2480, 3508, true, false, false},
    {"rgb_lzw_1920x1080", 1920, 1080, false, false, false},
    {"rgb_lzw_4000x3000", 4000, 3000, false, false, false},
    {"rgb_lzw_smooth_4000x3000", 4000, 3000, false, false, true},
    {"rgb_magick_4000x3000", 4000, 3000, false, true, false},
};

std::filesystem::path Folder()
{
    static const std::filesystem::path P =
        std::filesystem::temp_directory_path() / ("kv_tiff_bench_" + std::to_string(::getpid()));
    return P;
}

std::string PathOf(const TInput& In) { return (Folder() / (In.Name + ".tif")).string(); }

// Lines of "glyphs": small black boxes and strokes on white, like a typed page.
std::vector<uint8_t> FaxRows(int W, int H)
{
    const int stride = (W + 7) / 8;
    std::vector<uint8_t> rows(size_t(stride) * size_t(H), 0);
    std::mt19937 rng(4);
    for (int line = 100; line + 30 < H - 100; line += 40)
        for (int x = 150; x + 20 < W - 150; x += 14 + int(rng() % 6)) {
            if (rng() % 7 == 0) {
                x += 20;
                continue;
            }
            const int h = 12 + int(rng() % 14), w = 3 + int(rng() % 9);
            for (int y = line + 26 - h; y < line + 26; ++y)
                for (int xx = x; xx < x + w; ++xx)
                    if ((xx + y) % 5 != 0 || w < 5)
                        rows[size_t(y) * size_t(stride) + size_t(xx / 8)] |= uint8_t(0x80 >> (xx % 8));
        }
    return rows;
}

// The other photograph: each sample a slow ramp plus one noise value shared by the pixel.
std::vector<uint8_t> SmoothPixels(int W, int H)
{
    std::vector<uint8_t> rgb(size_t(W) * size_t(H) * 3);
    std::mt19937 rng(1);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint8_t* p = rgb.data() + (size_t(y) * size_t(W) + size_t(x)) * 3;
            const int n = int(rng() % 5);
            p[0] = uint8_t((x / 16 + y / 24 + n) & 255);
            p[1] = uint8_t(((x + y) / 20 + n) & 255);
            p[2] = uint8_t((128 + (x - y) / 30 + n) & 255);
        }
    return rgb;
}

#ifdef KV_HAVE_LIBTIFF
bool WriteWithLibtiff(const TInput& In)
{
    TIFF* t = TIFFOpen(PathOf(In).c_str(), "w");
    if (!t)
        return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, In.W);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, In.H);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, In.Fax ? 1 : 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, In.Fax ? 1 : 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, In.Fax ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, In.Fax ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW);
    if (!In.Fax)
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, In.Fax ? uint32_t(In.H) : TIFFDefaultStripSize(t, 0));
    const std::vector<uint8_t> rows = In.Fax      ? FaxRows(In.W, In.H)
                                      : In.Smooth ? SmoothPixels(In.W, In.H)
                                                  : kvbench::PhotoPixels(In.W, In.H);
    const size_t stride = In.Fax ? size_t((In.W + 7) / 8) : size_t(In.W) * 3;
    for (int y = 0; y < In.H; ++y)
        TIFFWriteScanline(t, const_cast<uint8_t*>(rows.data() + stride * size_t(y)), uint32_t(y), 0);
    TIFFClose(t);
    return true;
}

// The bytes of every decoded strip, read from the file's header before timing.
size_t LibtiffBytes(const std::string& Path)
{
    TIFF* t = TIFFOpen(Path.c_str(), "r");
    if (!t)
        return 0;
    const size_t bytes = size_t(TIFFStripSize(t)) * TIFFNumberOfStrips(t);
    TIFFClose(t);
    return bytes;
}

bool ReadWithLibtiff(const std::string& Path, uint8_t* Out)
{
    TIFF* t = TIFFOpen(Path.c_str(), "r");
    if (!t)
        return false;
    const tmsize_t strip = TIFFStripSize(t);
    const uint32_t strips = TIFFNumberOfStrips(t);
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    bool ok = true;
    for (uint32_t s = 0; s < strips; ++s) {
        uint8_t* p = Out + size_t(strip) * s;
        const tmsize_t got = TIFFReadEncodedStrip(t, s, p, strip);
        ok = got >= 0 && ok;
        // R, G, B into B, G, R, the rows our reader hands on, while the strip is in cache.
        if (samples == 3)
            for (tmsize_t i = 0; i + 2 < got; i += 3)
                std::swap(p[i], p[i + 2]);
    }
    TIFFClose(t);
    return ok;
}
#endif

bool ReadOurs(const std::string& Path, TBitmap& Bitmap)
{
    TFileStream f(Path, fmOpenRead);
    TIOParamsVals params(nullptr);
    params.TiffLzwDecompress = TiffLzwDecode;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    ReadTiff(f, Bitmap, params, false, progress, TTiffReadOptions{});
    return !aborting;
}

void BM_Ours(benchmark::State& State, const TInput& In, TMemoryState Mem)
{
    const std::string path = PathOf(In);
    std::unique_ptr<TBitmap> bitmap;
    if (Mem == TMemoryState::Repeated)
        ReadOurs(path, kvbench::NextOurs(bitmap, Mem)); // untimed: the first timed read finds its pixels held
    for (auto _ : State) {
        State.PauseTiming();
        TBitmap& b = kvbench::NextOurs(bitmap, Mem);
        State.ResumeTiming();
        if (!ReadOurs(path, b) || b.Width() != In.W || b.Height() != In.H)
            State.SkipWithError("the file did not read");
        benchmark::DoNotOptimize(b.ScanLine(0));
    }
}

#ifdef KV_HAVE_LIBTIFF
void BM_Libtiff(benchmark::State& State, const TInput& In, TMemoryState Mem)
{
    const std::string path = PathOf(In);
    kvbench::TReferenceTarget target(LibtiffBytes(path), Mem);
    for (auto _ : State) {
        State.PauseTiming();
        uint8_t* out = target.Next();
        State.ResumeTiming();
        if (!ReadWithLibtiff(path, out))
            State.SkipWithError("libtiff could not read the file");
        benchmark::DoNotOptimize(out);
    }
}
#endif

std::string LineName(const TInput& In, TMemoryState Mem) { return In.Name + "_" + kvbench::StateName(Mem); }

std::vector<const TInput*> Written;

void Register()
{
    for (const TInput* In : Written)
        for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
            const std::string name = LineName(*In, mem);
            benchmark::RegisterBenchmark((name + "/Ours").c_str(),
                                         [In, mem](benchmark::State& S) { BM_Ours(S, *In, mem); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#ifdef KV_HAVE_LIBTIFF
            benchmark::RegisterBenchmark((name + "/Libtiff").c_str(),
                                         [In, mem](benchmark::State& S) { BM_Libtiff(S, *In, mem); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#endif
        }
}

void PrintRatios(const kvbench::TRatioReporter& R)
{
    for (const TInput* In : Written)
        for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
            const std::string name = LineName(*In, mem);
            kvbench::PrintComparison(name, R.MedianOf(name + "/Ours"), R.MedianOf(name + "/Libtiff"), 1, 1);
        }
}

} // namespace

int main(int argc, char** argv)
{
    kvbench::TOffscreenApplication app(argv[0]);
    std::filesystem::create_directories(Folder());
#ifdef KV_HAVE_LIBTIFF
    TIFFSetWarningHandler(nullptr);
    for (const TInput& In : Inputs) {
        bool ok = false;
        if (!In.Magick)
            ok = WriteWithLibtiff(In);
#ifdef KV_HAVE_IMAGEMAGICK
        else
            ok = kvbench::WriteMagickFile(PathOf(In), In.W, In.H, kvbench::PhotoPixels(In.W, In.H), "TIFF");
#endif
        if (ok)
            Written.push_back(&In);
        else
            std::printf("%s: not written (its writer is missing)\n", In.Name.c_str());
    }
#else
    std::printf("libtiff not found: nothing to compare with\n");
#endif
    Register();
    const int result = kvbench::RunBenchmarks(argc, argv, PrintRatios);
    std::error_code e;
    std::filesystem::remove_all(Folder(), e);
    return result;
}
