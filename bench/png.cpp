// PNG decode and encode of a 4000 x 3000 24-bit picture (and an interlaced one) through
// TPNGImage against libpng at the same zlib level; prints theirs / ours (libpng's median
// time divided by ours: 1.0 is as fast, above 1 is faster) with both times. Both decoders
// write into pixel memory they already hold: libpng into a buffer allocated before the
// loop, TPNGImage into the bitmap of its previous load of the same picture.
#include "formats/PNGImage.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

using namespace kv;

namespace {

constexpr int W = 4000, H = 3000;

// A photo-like picture: smooth gradients with a little noise.
std::vector<uint8_t> MakeRGB()
{
    std::vector<uint8_t> rgb(size_t(W) * H * 3);
    std::mt19937 rng(1);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint8_t* p = rgb.data() + (size_t(y) * W + x) * 3;
            int n = int(rng() % 5);
            p[0] = uint8_t((x / 16 + y / 24 + n) & 255);
            p[1] = uint8_t(((x + y) / 20 + n) & 255);
            p[2] = uint8_t((128 + (x - y) / 30 + n) & 255);
        }
    return rgb;
}

void WriteFn(png_structp p, png_bytep d, png_size_t n)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
    out->insert(out->end(), d, d + n);
}
void FlushFn(png_structp) {}

std::vector<uint8_t> LibpngEncode(const std::vector<uint8_t>& rgb, bool interlace)
{
    std::vector<uint8_t> out;
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    if (setjmp(png_jmpbuf(p))) {
        png_destroy_write_struct(&p, &info);
        return {};
    }
    png_set_write_fn(p, &out, WriteFn, FlushFn);
    png_set_compression_level(p, 6); // zlib's default, as TZCompressionStream uses
    png_set_IHDR(p, info, W, H, 8, PNG_COLOR_TYPE_RGB, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(p, info);
    std::vector<png_bytep> rows(H);
    for (int y = 0; y < H; ++y)
        rows[size_t(y)] = const_cast<png_bytep>(rgb.data() + size_t(y) * W * 3);
    png_write_image(p, rows.data());
    png_write_end(p, info);
    png_destroy_write_struct(&p, &info);
    return out;
}

struct Reader {
    const std::vector<uint8_t>* Data;
    size_t Pos;
};
void ReadFn(png_structp p, png_bytep d, png_size_t n)
{
    auto* r = static_cast<Reader*>(png_get_io_ptr(p));
    if (r->Pos + n > r->Data->size())
        png_error(p, "short");
    std::memcpy(d, r->Data->data() + r->Pos, n);
    r->Pos += n;
}

// libpng decodes into B, G, R rows, as our bitmap holds them.
void LibpngDecode(const std::vector<uint8_t>& file, uint8_t* pixels)
{
    Reader r{&file, 0};
    png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    if (setjmp(png_jmpbuf(p))) {
        png_destroy_read_struct(&p, &info, nullptr);
        return;
    }
    png_set_read_fn(p, &r, ReadFn);
    png_read_info(p, info);
    png_set_bgr(p);
    png_set_interlace_handling(p);
    png_read_update_info(p, info);
    std::vector<png_bytep> rows(H);
    for (int y = 0; y < H; ++y)
        rows[size_t(y)] = pixels + size_t(y) * W * 3;
    png_read_image(p, rows.data());
    png_read_end(p, nullptr);
    png_destroy_read_struct(&p, &info, nullptr);
}

void OurDecode(const std::vector<uint8_t>& file, TPNGImage& png)
{
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    png.LoadFromStream(s);
}

std::vector<uint8_t> OurEncode(TPNGImage& png)
{
    TMemoryStream s;
    png.SaveToStream(s);
    return s.Bytes();
}

struct Fixture {
    std::vector<uint8_t> Rgb = MakeRGB();
    std::vector<uint8_t> Plain = LibpngEncode(Rgb, false);
    std::vector<uint8_t> Interlaced = LibpngEncode(Rgb, true);
    TPNGImage Source;
    Fixture()
    {
        TReadOnlyMemoryStream s(Plain.data(), int64_t(Plain.size()));
        Source.LoadFromStream(s);
    }
};

Fixture& F()
{
    static Fixture f;
    return f;
}

// The median of Runs timed calls, in milliseconds.
template <class Fn> double MedianMs(Fn fn, int runs = 5)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        fn();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void BM_DecodeOurs(benchmark::State& st)
{
    const auto& file = st.range(0) ? F().Interlaced : F().Plain;
    TPNGImage png;
    OurDecode(file, png); // the pixel memory, as libpng's buffer is made before its loop
    for (auto _ : st)
        OurDecode(file, png);
}
void BM_DecodeLibpng(benchmark::State& st)
{
    std::vector<uint8_t> px(size_t(W) * H * 3);
    for (auto _ : st)
        LibpngDecode(st.range(0) ? F().Interlaced : F().Plain, px.data());
}
// Into fresh pixel memory each time, as a first open is: a new TPNGImage, a new buffer.
void BM_DecodeOursFresh(benchmark::State& st)
{
    for (auto _ : st) {
        TPNGImage png;
        OurDecode(F().Plain, png);
    }
}
void BM_DecodeLibpngFresh(benchmark::State& st)
{
    for (auto _ : st) {
        std::unique_ptr<uint8_t[]> px(new uint8_t[size_t(W) * H * 3]);
        LibpngDecode(F().Plain, px.get());
    }
}

void BM_EncodeOurs(benchmark::State& st)
{
    for (auto _ : st)
        benchmark::DoNotOptimize(OurEncode(F().Source));
}
void BM_EncodeLibpng(benchmark::State& st)
{
    for (auto _ : st)
        benchmark::DoNotOptimize(LibpngEncode(F().Rgb, false));
}
BENCHMARK(BM_DecodeOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLibpng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOursFresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLibpngFresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLibpng)->Unit(benchmark::kMillisecond);

void PrintLine(const char* What, double Ours, double Lib, const char* Extra = "")
{
    if (Ours > 0 && Lib > 0)
        std::printf("%s: ours %.1f ms%s, libpng %.1f ms, ratio (libpng/ours) %.2f, one thread each\n", What, Ours,
                    Extra, Lib, Lib / Ours);
}

// From the benchmarks' medians; what did not run is timed here (median of five).
void PrintRatios(const kvbench::TRatioReporter* Reporter)
{
    Fixture& f = F();
    auto median = [&](const char* Name, auto Fn) {
        double ms = Reporter ? Reporter->MedianOf(Name) : 0;
        return ms > 0 ? ms : MedianMs(Fn);
    };
    TPNGImage png;
    std::vector<uint8_t> px(size_t(W) * H * 3);
    for (bool interlaced : {false, true}) {
        const auto& file = interlaced ? f.Interlaced : f.Plain;
        OurDecode(file, png);
        double ours = median(interlaced ? "BM_DecodeOurs/1" : "BM_DecodeOurs/0", [&] { OurDecode(file, png); });
        double lib =
            median(interlaced ? "BM_DecodeLibpng/1" : "BM_DecodeLibpng/0", [&] { LibpngDecode(file, px.data()); });
        PrintLine(interlaced ? "decode interlaced 4000x3000 24-bit" : "decode plain 4000x3000 24-bit", ours, lib);
    }
    if (Reporter)
        PrintLine("decode plain into fresh memory (informative)", Reporter->MedianOf("BM_DecodeOursFresh"),
                  Reporter->MedianOf("BM_DecodeLibpngFresh"));
    std::vector<uint8_t> ourFile = OurEncode(f.Source), libFile = LibpngEncode(f.Rgb, false);
    double ours = Reporter ? Reporter->MedianOf("BM_EncodeOurs") : 0;
    double lib = Reporter ? Reporter->MedianOf("BM_EncodeLibpng") : 0;
    char sizes[64];
    std::snprintf(sizes, sizeof sizes, " (%zu bytes; libpng's %zu)", ourFile.size(), libFile.size());
    PrintLine("encode 4000x3000 24-bit", ours, lib, sizes);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--ratios-only") == 0) {
        PrintRatios(nullptr);
        return 0;
    }
    F(); // the pictures are made before any timing
    return kvbench::RunBenchmarks(argc, argv, [](const kvbench::TRatioReporter& R) { PrintRatios(&R); });
}
