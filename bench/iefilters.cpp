// The imaging library's PNG, BMP and TGA filters on a 4000 x 3000 24-bit picture.
//
// PNG, like with like (see bench/BenchReporter.h): loads of three files of the same
// picture, written by libpng with its defaults (adaptive row filters, zlib's default
// level), by ImageMagick's convert (when /usr/bin/convert exists; made at start-up from
// a PPM) and by our own writer, each beside libpng called directly (B, G, R rows, its
// CRC and Adler-32 checks on as it ships). Each load has a "first" line (both sides into
// fresh pages) and a "repeated" line (both into the pixels of the previous load), and
// ours runs twice: held to one processor (every thread it starts shares that one) beside
// libpng held to one processor too, and free to use every core beside libpng unheld.
// Saves run beside libpng with the same settings (zlib level 5, no row filter), both
// into an empty memory stream, again on one processor each and unheld.
//
// BMP and TGA loads run beside a memcpy of their pixel bytes into memory already held,
// which no load can beat. Prints theirs / ours from the medians (1.0 is as fast, above 1
// is faster).
#include "imaging/BmpFilter.h"
#include "imaging/PngFilter.h"
#include "imaging/TgaFilter.h"

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

using namespace kv;

using kvbench::DropHeldMemory;
using kvbench::TMemoryState;
using kvbench::TOneCore;
using kvbench::TReferenceBlock;

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

std::vector<uint8_t> LibpngEncode(const TBitmap& b, bool Defaults);
std::vector<uint8_t> MagickPng(const TBitmap& b);

struct TFixture {
    TBitmap Picture;
    std::vector<uint8_t> Png, Bmp, Tga;
    std::vector<uint8_t> LibpngPng, MagickPng;
    TFixture()
    {
        MakePicture(Picture);
        LibpngPng = LibpngEncode(Picture, true);
        MagickPng = ::MagickPng(Picture);
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
    static_cast<TStream*>(png_get_io_ptr(p))->Write(d, int64_t(n));
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

// Into Out, as our writer writes into its stream: zlib level 5 and no row filter, or
// (Defaults) libpng's own choices, as a program that sets nothing writes a file.
void LibpngEncodeTo(TStream& Out, const TBitmap& b, bool Defaults)
{
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    if (setjmp(png_jmpbuf(p))) {
        png_destroy_write_struct(&p, &info);
        return;
    }
    png_set_write_fn(p, &Out, LibpngWrite, LibpngFlush);
    png_set_IHDR(p, info, W, H, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!Defaults) {
        png_set_filter(p, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        png_set_compression_level(p, PngLevel);
    }
    png_set_bgr(p);
    png_write_info(p, info);
    for (int y = 0; y < H; ++y)
        png_write_row(p, b.ScanLine(y));
    png_write_end(p, nullptr);
    png_destroy_write_struct(&p, &info);
}

std::vector<uint8_t> LibpngEncode(const TBitmap& b, bool Defaults)
{
    TMemoryStream s;
    LibpngEncodeTo(s, b, Defaults);
    return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// The picture as ImageMagick's convert writes it from a PPM, empty without convert.
std::vector<uint8_t> MagickPng(const TBitmap& b)
{
    if (access("/usr/bin/convert", X_OK) != 0)
        return {};
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kv_iefilters_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string ppm = (dir / "in.ppm").string(), png = (dir / "out.png").string();
    {
        std::ofstream out(ppm, std::ios::binary);
        out << "P6\n" << W << " " << H << "\n255\n";
        std::vector<char> row(size_t(W) * 3);
        for (int y = 0; y < H; ++y) {
            const uint8_t* p = b.ScanLine(y);
            for (int x = 0; x < W; ++x) {
                row[size_t(x) * 3] = char(p[x * 3 + 2]);
                row[size_t(x) * 3 + 1] = char(p[x * 3 + 1]);
                row[size_t(x) * 3 + 2] = char(p[x * 3]);
            }
            out.write(row.data(), std::streamsize(row.size()));
        }
    }
    std::vector<uint8_t> bytes;
    const std::string command = "/usr/bin/convert '" + ppm + "' 'PNG24:" + png + "' 2>/dev/null";
    if (std::system(command.c_str()) == 0) {
        std::ifstream in(png, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::error_code e;
    std::filesystem::remove_all(dir, e);
    return bytes;
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

// ---- PNG, like with like --------------------------------------------------------------

const std::vector<uint8_t>& PngFile(int Which)
{
    return Which == 0 ? F().LibpngPng : Which == 1 ? F().MagickPng : F().Png;
}
const char* const PngFileNames[] = {"libpng", "magick", "ours"};

// Ours, loading into a fresh bitmap with no held block left (first) or into the bitmap
// of the previous load (repeated); OneCore holds every thread of the load to one
// processor.
void PngLoadOurs(benchmark::State& st, int Which, TMemoryState Mem, bool OneCore)
{
    const std::vector<uint8_t>& file = PngFile(Which);
    if (file.empty()) {
        st.SkipWithError("no such file (ImageMagick's convert missing)");
        return;
    }
    std::unique_ptr<TOneCore> pin(OneCore ? new TOneCore : nullptr);
    auto b = std::make_unique<TBitmap>();
    if (Mem == TMemoryState::Repeated)
        Load(file, PngLoad, *b); // untimed: the first timed load too goes into held pixels
    for (auto _ : st) {
        if (Mem == TMemoryState::First) {
            st.PauseTiming();
            b = std::make_unique<TBitmap>();
            DropHeldMemory();
            st.ResumeTiming();
        }
        Load(file, PngLoad, *b);
        if (b->Width() != W || b->Height() != H)
            st.SkipWithError("the picture did not load");
    }
}

void PngLoadLibpng(benchmark::State& st, int Which, TMemoryState Mem, bool OneCore)
{
    std::unique_ptr<TOneCore> pin(OneCore ? new TOneCore : nullptr);
    const std::vector<uint8_t>& file = PngFile(Which);
    if (file.empty()) {
        st.SkipWithError("no such file (ImageMagick's convert missing)");
        return;
    }
    const size_t bytes = size_t(W) * H * 3;
    auto px = std::make_unique<TReferenceBlock>(bytes);
    px->Warm();
    for (auto _ : st) {
        if (Mem == TMemoryState::First) {
            st.PauseTiming();
            px.reset();
            DropHeldMemory();
            px = std::make_unique<TReferenceBlock>(bytes);
            st.ResumeTiming();
        }
        LibpngDecode(file, px->Data());
        benchmark::DoNotOptimize(px->Data());
    }
}

void PngSaveOurs(benchmark::State& st, bool OneCore)
{
    std::unique_ptr<TOneCore> pin(OneCore ? new TOneCore : nullptr);
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
void PngSaveLibpng(benchmark::State& st, bool OneCore)
{
    std::unique_ptr<TOneCore> pin(OneCore ? new TOneCore : nullptr);
    for (auto _ : st) {
        TMemoryStream s;
        LibpngEncodeTo(s, F().Picture, false);
        benchmark::DoNotOptimize(s.Memory());
    }
}

void RegisterPng()
{
    for (int which = 0; which < 3; ++which)
        for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
            const std::string name = std::string("PngLoad_") + PngFileNames[which] + "_" + kvbench::StateName(mem);
            benchmark::RegisterBenchmark((name + "/OursOneCore").c_str(),
                                         [=](benchmark::State& st) { PngLoadOurs(st, which, mem, true); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark((name + "/OursAllCores").c_str(),
                                         [=](benchmark::State& st) { PngLoadOurs(st, which, mem, false); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark((name + "/Libpng").c_str(),
                                         [=](benchmark::State& st) { PngLoadLibpng(st, which, mem, false); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark((name + "/LibpngOneCore").c_str(),
                                         [=](benchmark::State& st) { PngLoadLibpng(st, which, mem, true); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    benchmark::RegisterBenchmark("PngSave/OursOneCore", [](benchmark::State& st) { PngSaveOurs(st, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("PngSave/OursAllCores", [](benchmark::State& st) { PngSaveOurs(st, false); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("PngSave/Libpng", [](benchmark::State& st) { PngSaveLibpng(st, false); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("PngSave/LibpngOneCore", [](benchmark::State& st) { PngSaveLibpng(st, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
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

BENCHMARK(BM_BmpLoadOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpMemcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TgaLoadOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TgaMemcpy)->Unit(benchmark::kMillisecond);

void PrintRatios(const kvbench::TRatioReporter& r)
{
    const int cores = kvbench::UsableCores();
    for (int which = 0; which < 3; ++which)
        for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
            const std::string name = std::string("PngLoad_") + PngFileNames[which] + "_" + kvbench::StateName(mem);
            kvbench::PrintComparison(name + " one core", r.MedianOf(name + "/OursOneCore"),
                                     r.MedianOf(name + "/LibpngOneCore"), 1, 1, 1.0);
            kvbench::PrintComparison(name + " all cores", r.MedianOf(name + "/OursAllCores"),
                                     r.MedianOf(name + "/Libpng"), cores, 1);
        }
    if (F().MagickPng.empty())
        std::printf("ImageMagick's convert not found: no ImageMagick-written file\n");
    kvbench::PrintComparison("PngSave one core", r.MedianOf("PngSave/OursOneCore"), r.MedianOf("PngSave/LibpngOneCore"),
                             1, 1, 0.9);
    kvbench::PrintComparison("PngSave all cores", r.MedianOf("PngSave/OursAllCores"), r.MedianOf("PngSave/Libpng"),
                             cores, 1);
    const struct {
        const char* What;
        const char* Ours;
        const char* Theirs;
        double Required;
    } rows[] = {
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
    RegisterPng();
    return kvbench::RunBenchmarks(argc, argv, PrintRatios);
}
