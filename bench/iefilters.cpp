// The imaging library's PNG, BMP and TGA filters on a 4000 x 3000 24-bit picture.
// PNG loads and saves run beside libpng called directly with the same settings (B, G,
// R rows, zlib level 5, no row filter), libpng decoding into a buffer it already holds;
// BMP and TGA loads run beside a memcpy of their pixel bytes into memory already held,
// which no load can beat. Prints theirs /
// ours from the medians (1.0 is as fast, above 1 is faster).
#include "imaging/BmpFilter.h"
#include "imaging/PngFilter.h"
#include "imaging/TgaFilter.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

using namespace kv;

namespace {

constexpr int W = 4000, H = 3000;
constexpr int PngLevel = 5;

// A photo-like picture: smooth gradients with a little noise.
void MakePicture(TBitmap& b)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(W, H);
    std::mt19937 rng(1);
    for (int y = 0; y < H; ++y) {
        uint8_t* p = b.ScanLine(y);
        for (int x = 0; x < W; ++x, p += 3) {
            const int n = int(rng() % 5);
            p[0] = uint8_t((x / 16 + y / 24 + n) & 255);
            p[1] = uint8_t(((x + y) / 20 + n) & 255);
            p[2] = uint8_t((128 + (x - y) / 30 + n) & 255);
        }
    }
}

struct TFixture {
    TBitmap Picture;
    std::vector<uint8_t> Png, Bmp, Tga;
    TFixture()
    {
        MakePicture(Picture);
        TIOParamsVals p(nullptr);
        p.PngCompression = PngLevel;
        p.TgaCompressed = 0;
        bool aborting = false;
        TProgressRec progress;
        progress.Aborting = &aborting;
        TMemoryStream png, bmp, tga;
        WritePngStream(png, Picture, p, progress, nullptr);
        SaveBmpToStream(bmp, Picture, p, progress);
        WriteTgaStream(tga, Picture, p, progress);
        Png = png.Bytes();
        Bmp = bmp.Bytes();
        Tga = tga.Bytes();
    }
};

TFixture& F()
{
    static TFixture f;
    return f;
}

struct TPngSource {
    const std::vector<uint8_t>* Data;
    size_t Pos;
};

void LibpngRead(png_structp p, png_bytep d, size_t n)
{
    auto* r = static_cast<TPngSource*>(png_get_io_ptr(p));
    if (r->Pos + n > r->Data->size())
        png_error(p, "short");
    std::memcpy(d, r->Data->data() + r->Pos, n);
    r->Pos += n;
}

void LibpngWrite(png_structp p, png_bytep d, size_t n)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
    out->insert(out->end(), d, d + n);
}

void LibpngFlush(png_structp) {}

void LibpngDecode(const std::vector<uint8_t>& file, uint8_t* pixels)
{
    TPngSource r{&file, 0};
    png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    if (setjmp(png_jmpbuf(p))) {
        png_destroy_read_struct(&p, &info, nullptr);
        return;
    }
    png_set_read_fn(p, &r, LibpngRead);
    png_read_info(p, info);
    png_set_bgr(p);
    png_read_update_info(p, info);
    for (int y = 0; y < H; ++y)
        png_read_row(p, pixels + size_t(y) * W * 3, nullptr);
    png_read_end(p, nullptr);
    png_destroy_read_struct(&p, &info, nullptr);
}

std::vector<uint8_t> LibpngEncode(const TBitmap& b)
{
    std::vector<uint8_t> out;
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    if (setjmp(png_jmpbuf(p))) {
        png_destroy_write_struct(&p, &info);
        return {};
    }
    png_set_write_fn(p, &out, LibpngWrite, LibpngFlush);
    png_set_IHDR(p, info, W, H, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(p, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(p, PngLevel);
    png_set_bgr(p);
    png_write_info(p, info);
    for (int y = 0; y < H; ++y)
        png_write_row(p, b.ScanLine(y));
    png_write_end(p, nullptr);
    png_destroy_write_struct(&p, &info);
    return out;
}

using TLoader = void (*)(TStream&, TBitmap&, TIOParamsVals&, TProgressRec&);

// Into the bitmap of the previous load of the same picture, as the references write
// into memory they already hold.
void Load(const std::vector<uint8_t>& file, TLoader loader, TBitmap& b)
{
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    TIOParamsVals p(nullptr);
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    loader(s, b, p, progress);
    benchmark::DoNotOptimize(b.Bits());
}

void PngLoad(TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) { ReadPngStream(s, b, p, pr, false, nullptr); }
void BmpLoad(TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) { LoadBmpFromStream(s, b, 0, p, pr, false); }
void TgaLoad(TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) { ReadTgaStream(s, b, p, pr, false); }

// The pixel bytes copied into memory already held, which a load cannot beat.
void CopyPixels(const std::vector<uint8_t>& file, size_t offset, uint8_t* px)
{
    std::memcpy(px, file.data() + offset, size_t(W) * H * 3);
    benchmark::DoNotOptimize(px);
}

void BM_PngLoadOurs(benchmark::State& st)
{
    TBitmap b;
    for (auto _ : st)
        Load(F().Png, PngLoad, b);
}
void BM_PngLoadLibpng(benchmark::State& st)
{
    std::vector<uint8_t> px(size_t(W) * H * 3);
    for (auto _ : st)
        LibpngDecode(F().Png, px.data());
}
void BM_PngSaveOurs(benchmark::State& st)
{
    TIOParamsVals p(nullptr);
    p.PngCompression = PngLevel;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    for (auto _ : st) {
        TMemoryStream s;
        WritePngStream(s, F().Picture, p, progress, nullptr);
        benchmark::DoNotOptimize(s.Memory());
    }
}
void BM_PngSaveLibpng(benchmark::State& st)
{
    for (auto _ : st)
        benchmark::DoNotOptimize(LibpngEncode(F().Picture));
}
void BM_BmpLoadOurs(benchmark::State& st)
{
    TBitmap b;
    for (auto _ : st)
        Load(F().Bmp, BmpLoad, b);
}
void BM_BmpMemcpy(benchmark::State& st)
{
    std::vector<uint8_t> px(size_t(W) * H * 3);
    for (auto _ : st)
        CopyPixels(F().Bmp, 54, px.data());
}
void BM_TgaLoadOurs(benchmark::State& st)
{
    TBitmap b;
    for (auto _ : st)
        Load(F().Tga, TgaLoad, b);
}
void BM_TgaMemcpy(benchmark::State& st)
{
    std::vector<uint8_t> px(size_t(W) * H * 3);
    for (auto _ : st)
        CopyPixels(F().Tga, 19, px.data());
}

BENCHMARK(BM_PngLoadOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLoadLibpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngSaveOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngSaveLibpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpLoadOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpMemcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TgaLoadOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TgaMemcpy)->Unit(benchmark::kMillisecond);

void PrintRatios(const kvbench::TRatioReporter& r)
{
    const struct {
        const char* What;
        const char* Ours;
        const char* Theirs;
        double Required;
    } rows[] = {
        {"PNG load vs libpng", "BM_PngLoadOurs", "BM_PngLoadLibpng", 0.9},
        {"PNG save vs libpng", "BM_PngSaveOurs", "BM_PngSaveLibpng", 0.9},
        {"BMP 24-bit load vs memcpy", "BM_BmpLoadOurs", "BM_BmpMemcpy", 0.5},
        {"TGA 24-bit load vs memcpy", "BM_TgaLoadOurs", "BM_TgaMemcpy", 0.5},
    };
    for (const auto& row : rows) {
        const double ours = r.MedianOf(row.Ours), theirs = r.MedianOf(row.Theirs);
        if (ours > 0 && theirs > 0)
            std::printf("%s: ours %.2f ms, theirs %.2f ms, ratio (theirs/ours) %.2f (required >= %.1f)\n", row.What,
                        ours, theirs, theirs / ours, row.Required);
    }
}

} // namespace

int main(int argc, char** argv)
{
    F(); // the pictures are made before any timing
    return kvbench::RunBenchmarks(argc, argv, PrintRatios);
}
