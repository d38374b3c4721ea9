// TIFF reading against libtiff: a 1728 x 2200 group 4 fax page and a 4000 x 3000 RGB
// picture coded LZW with the horizontal predictor, both written by libtiff and read from
// the same file by both. Prints theirs / ours from the medians (above 1: we are faster).
#include "imaging/TiffFilter.h"
#include "imaging/TiffLzw.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#ifdef KV_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace kv;

namespace {

constexpr int FaxW = 1728, FaxH = 2200, PhotoW = 4000, PhotoH = 3000;

std::string TempPath(const char* Name)
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/kv_bench_" + Name;
}

// Lines of "glyphs": small black boxes and strokes on white, like a typed page.
std::vector<uint8_t> FaxRows()
{
    const int stride = FaxW / 8;
    std::vector<uint8_t> rows(size_t(stride) * FaxH, 0);
    std::mt19937 rng(4);
    for (int line = 100; line + 30 < FaxH - 100; line += 40)
        for (int x = 150; x + 20 < FaxW - 150; x += 14 + int(rng() % 6)) {
            if (rng() % 7 == 0) {
                x += 20;
                continue;
            }
            const int h = 12 + int(rng() % 14), w = 3 + int(rng() % 9);
            for (int y = line + 26 - h; y < line + 26; ++y)
                for (int xx = x; xx < x + w; ++xx)
                    if ((xx + y) % 5 != 0 || w < 5)
                        rows[size_t(y) * stride + size_t(xx / 8)] |= uint8_t(0x80 >> (xx % 8));
        }
    return rows;
}

std::vector<uint8_t> PhotoRows()
{
    std::vector<uint8_t> rgb(size_t(PhotoW) * PhotoH * 3);
    std::mt19937 rng(1);
    for (int y = 0; y < PhotoH; ++y)
        for (int x = 0; x < PhotoW; ++x) {
            uint8_t* p = rgb.data() + (size_t(y) * PhotoW + x) * 3;
            const int n = int(rng() % 5);
            p[0] = uint8_t((x / 16 + y / 24 + n) & 255);
            p[1] = uint8_t(((x + y) / 20 + n) & 255);
            p[2] = uint8_t((128 + (x - y) / 30 + n) & 255);
        }
    return rgb;
}

#ifdef KV_HAVE_LIBTIFF
void WriteWithLibtiff(const std::string& Path, bool Fax)
{
    TIFF* t = TIFFOpen(Path.c_str(), "w");
    const int w = Fax ? FaxW : PhotoW, h = Fax ? FaxH : PhotoH;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, Fax ? 1 : 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, Fax ? 1 : 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, Fax ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, Fax ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW);
    if (!Fax)
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, Fax ? uint32_t(h) : TIFFDefaultStripSize(t, 0));
    const std::vector<uint8_t> rows = Fax ? FaxRows() : PhotoRows();
    const size_t stride = Fax ? size_t(w / 8) : size_t(w) * 3;
    for (int y = 0; y < h; ++y)
        TIFFWriteScanline(t, const_cast<uint8_t*>(rows.data() + stride * size_t(y)), uint32_t(y), 0);
    TIFFClose(t);
}

void ReadWithLibtiff(const std::string& Path, std::vector<uint8_t>& Out)
{
    TIFF* t = TIFFOpen(Path.c_str(), "r");
    const tmsize_t strip = TIFFStripSize(t);
    const uint32_t strips = TIFFNumberOfStrips(t);
    Out.resize(size_t(strip) * strips);
    for (uint32_t s = 0; s < strips; ++s)
        TIFFReadEncodedStrip(t, s, Out.data() + size_t(strip) * s, strip);
    TIFFClose(t);
}
#endif

void ReadOurs(const std::string& Path, TBitmap& Bitmap)
{
    TFileStream f(Path, fmOpenRead);
    TIOParamsVals params(nullptr);
    params.TiffLzwDecompress = TiffLzwDecode;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    ReadTiff(f, Bitmap, params, false, progress, TTiffReadOptions{});
    if (aborting)
        std::fprintf(stderr, "read of %s failed\n", Path.c_str());
}

void BM_Ours(benchmark::State& State, const char* Name)
{
    const std::string path = TempPath(Name);
    TBitmap bitmap;
    for (auto _ : State) {
        ReadOurs(path, bitmap);
        benchmark::DoNotOptimize(bitmap.ScanLine(0));
    }
}

#ifdef KV_HAVE_LIBTIFF
void BM_Libtiff(benchmark::State& State, const char* Name)
{
    const std::string path = TempPath(Name);
    std::vector<uint8_t> out;
    for (auto _ : State) {
        ReadWithLibtiff(path, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK_CAPTURE(BM_Libtiff, fax_g4, "fax_g4.tif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Libtiff, photo_lzw, "photo_lzw.tif")->Unit(benchmark::kMillisecond);
#endif
BENCHMARK_CAPTURE(BM_Ours, fax_g4, "fax_g4.tif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ours, photo_lzw, "photo_lzw.tif")->Unit(benchmark::kMillisecond);

void PrintRatios(const kvbench::TRatioReporter& R)
{
    for (const char* what : {"fax_g4", "photo_lzw"}) {
        const double ours = R.MedianOf(std::string("BM_Ours/") + what);
        const double theirs = R.MedianOf(std::string("BM_Libtiff/") + what);
        if (ours > 0 && theirs > 0)
            std::printf("%s: ours %.2f ms, libtiff %.2f ms, ratio (libtiff/ours) %.2f\n", what, ours, theirs,
                        theirs / ours);
    }
}

} // namespace

int main(int argc, char** argv)
{
    kvbench::TOffscreenApplication app(argv[0]);
#ifdef KV_HAVE_LIBTIFF
    TIFFSetWarningHandler(nullptr);
    WriteWithLibtiff(TempPath("fax_g4.tif"), true);
    WriteWithLibtiff(TempPath("photo_lzw.tif"), false);
#else
    std::printf("libtiff not found: nothing to compare with\n");
#endif
    return kvbench::RunBenchmarks(argc, argv, PrintRatios);
}
