// The editor's JPEG save (TImagingIO::SaveToFileJpeg) and a JPEG load through the
// component, against libjpeg called directly with the same settings on the same
// 4000 x 3000 picture. Prints ratio = libjpeg time / our time for each (>= 0.9 wanted).
#include "bench/BenchReporter.h"
#include "imaging/ImagingIO.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

using namespace kv;

namespace {

constexpr int32_t W = 4000, H = 3000;

TBitmap& Picture()
{
    static TBitmap b;
    if (b.Width() == 0) {
        b.SetPixelFormat(pf24bit);
        b.SetSize(W, H);
        uint32_t seed = 12345;
        for (int32_t y = 0; y < H; ++y) {
            uint8_t* r = b.ScanLine(y);
            for (int32_t x = 0; x < W; ++x) {
                seed = seed * 1664525u + 1013904223u;
                int n = int(seed >> 28) - 8; // a little noise over smooth gradients
                r[3 * x] = uint8_t(std::clamp(x * 255 / W + n, 0, 255));
                r[3 * x + 1] = uint8_t(std::clamp(y * 255 / H + n, 0, 255));
                r[3 * x + 2] = uint8_t(std::clamp(((x + y) / 7) % 256 + n, 0, 255));
            }
        }
    }
    return b;
}

std::string TempName(const char* name)
{
    return (std::filesystem::temp_directory_path() / (std::string("kv-bench-") + name)).string();
}

void DirectSave(const std::string& fileName, int quality)
{
    TBitmap& b = Picture();
    FILE* f = std::fopen(fileName.c_str(), "wb");
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = W;
    c.image_height = H;
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, JCS_YCbCr);
    c.density_unit = 1;
    c.X_density = c.Y_density = 96;
    c.dct_method = JDCT_ISLOW;
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = b.ScanLine(int32_t(c.next_scanline));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

void OurSave(const std::string& fileName, int quality)
{
    static TImagingIO io;
    io.SetBitmap(&Picture());
    io.Params().JpegQuality = quality;
    io.Params().DpiX = io.Params().DpiY = 96;
    io.SaveToFileJpeg(fileName);
    if (io.Aborting())
        std::fprintf(stderr, "save aborted\n");
}

void BM_SaveToFileJpeg(benchmark::State& state)
{
    const std::string name = TempName("ours.jpg");
    for (auto _ : state)
        OurSave(name, int(state.range(0)));
}

void BM_LibjpegSave(benchmark::State& state)
{
    const std::string name = TempName("direct.jpg");
    for (auto _ : state)
        DirectSave(name, int(state.range(0)));
}

const std::string& LoadSample()
{
    static std::string name;
    if (name.empty()) {
        name = TempName("sample.jpg");
        DirectSave(name, 90);
    }
    return name;
}

void BM_LoadFromFileJpeg(benchmark::State& state)
{
    TImagingIO io;
    TBitmap b;
    io.SetBitmap(&b);
    for (auto _ : state) {
        io.LoadFromFileJpeg(LoadSample());
        benchmark::DoNotOptimize(b.ScanLine(0));
    }
}

void BM_LibjpegLoad(benchmark::State& state)
{
    for (auto _ : state) {
        FILE* f = std::fopen(LoadSample().c_str(), "rb");
        jpeg_decompress_struct d;
        jpeg_error_mgr err;
        d.err = jpeg_std_error(&err);
        jpeg_create_decompress(&d);
        jpeg_stdio_src(&d, f);
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&d);
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(int32_t(d.output_width), int32_t(d.output_height));
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = b.ScanLine(int32_t(d.output_scanline));
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        std::fclose(f);
        benchmark::DoNotOptimize(b.ScanLine(0));
    }
}

BENCHMARK(BM_SaveToFileJpeg)->Arg(100)->Arg(75)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibjpegSave)->Arg(100)->Arg(75)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadFromFileJpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibjpegLoad)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    Picture();
    const int Result = kvbench::RunBenchmarks(argc, argv, [](const kvbench::TRatioReporter& reporter) {
        auto ratio = [&](const char* ours, const char* direct, const char* what) {
            const double a = reporter.Median(ours), b = reporter.Median(direct);
            if (a > 0 && b > 0)
                std::printf("ratio %-28s libjpeg/ours = %.3f\n", what, b / a);
        };
        ratio("BM_SaveToFileJpeg/100/min_time:2.000", "BM_LibjpegSave/100/min_time:2.000", "save q100");
        ratio("BM_SaveToFileJpeg/75/min_time:2.000", "BM_LibjpegSave/75/min_time:2.000", "save q75");
        ratio("BM_LoadFromFileJpeg/min_time:2.000", "BM_LibjpegLoad/min_time:2.000", "load");
    });
    for (const char* n : {"ours.jpg", "direct.jpg", "sample.jpg"})
        std::filesystem::remove(TempName(n));
    return Result;
}
