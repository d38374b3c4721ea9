// The imaging library's JPEG load and save (TImagingIO::LoadFromFileJpeg and
// SaveToFileJpeg, as the editor calls them) against libjpeg called directly. Prints
// theirs / ours from the medians (above 1: we are faster).
//
// Loads: files that cjpeg would write with no option (libjpeg's compressor through its
// API with its defaults: quality 75, 2 x 2 chroma) of 1920 x 1080, 4000 x 3000 and
// 6000 x 4000, and a 4000 x 3000 one written by ImageMagick's MagickWand with its
// defaults (when linked); never our own writer's. Both sides read the same file through
// the C library's streams, keep the same markers (COM and every APPn), decode with the
// slow integer DCT and libjpeg's smooth upsampling into B, G, R rows. Each file has a
// "first" line, ours into a new bitmap with every held block given back and libjpeg into
// a block mapped for that iteration, and a "repeated" line, ours into the bitmap of the
// previous load and libjpeg into the block it keeps.
//
// Saves: the pictures decoded from the cjpeg files of 1920 x 1080 and 4000 x 3000 at
// quality 100 and 75, both sides with the same settings (YCbCr, 2 x 2 chroma, the slow
// integer DCT, standard Huffman tables, 96 dpi), saved as durably: written beside the
// target, synced, renamed over it and the folder synced (ours through its safe stream,
// libjpeg's side by hand). The source pixels are held on both sides and the output is a
// file alike, so one state is measured.
//
// Both sides run on one thread (the codec starts none), so no one-core line is needed.
#include "bench/BenchReporter.h"
#include "bench/JpegInputs.h"
#include "imaging/ImagingIO.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <jpeglib.h>
#include <unistd.h>

using namespace kv;

using kvbench::TMemoryState;

namespace {

using TInput = kvbench::TJpegInput;
const auto& Inputs = kvbench::JpegInputs;
const int Qualities[] = {100, 75};

// In memory where the system offers a memory file system, so that the saves' syncs time
// no disk, which other programs share and make noisy.
std::filesystem::path Folder()
{
    static const std::filesystem::path P =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        ("kv_jpeg_bench_" + std::to_string(::getpid()));
    return P;
}

std::string PathOf(const std::string& Name) { return (Folder() / (Name + ".jpg")).string(); }

std::vector<const TInput*> Written;

// ---- Loads ------------------------------------------------------------------------------

bool OurLoad(TImagingIO& Io, TBitmap& Bitmap, const std::string& Path)
{
    Io.SetBitmap(&Bitmap);
    Io.LoadFromFileJpeg(Path);
    return !Io.Aborting();
}

bool LibjpegLoad(const std::string& Path, uint8_t* Out)
{
    FILE* f = std::fopen(Path.c_str(), "rb");
    if (!f)
        return false;
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_save_markers(&d, JPEG_COM, 0xFFFF);
    for (int m = 0; m < 16; ++m)
        jpeg_save_markers(&d, JPEG_APP0 + m, 0xFFFF);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR;
    d.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&d);
    const size_t stride = size_t(d.output_width) * 3;
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = Out + size_t(d.output_scanline) * stride;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return true;
}

void BM_LoadOurs(benchmark::State& State, const TInput& In, TMemoryState Mem)
{
    const std::string path = PathOf(In.Name);
    TImagingIO io;
    std::unique_ptr<TBitmap> bitmap;
    if (Mem == TMemoryState::Repeated)
        OurLoad(io, kvbench::NextOurs(bitmap, Mem), path); // untimed: the first timed load finds its pixels held
    for (auto _ : State) {
        State.PauseTiming();
        TBitmap& b = kvbench::NextOurs(bitmap, Mem);
        State.ResumeTiming();
        if (!OurLoad(io, b, path) || b.Width() != In.W || b.Height() != In.H)
            State.SkipWithError("the file did not load");
        benchmark::DoNotOptimize(b.ScanLine(0));
    }
    io.SetBitmap(nullptr);
}

void BM_LoadLibjpeg(benchmark::State& State, const TInput& In, TMemoryState Mem)
{
    const std::string path = PathOf(In.Name);
    kvbench::TReferenceTarget target(size_t(In.W) * size_t(In.H) * 3, Mem);
    for (auto _ : State) {
        State.PauseTiming();
        uint8_t* out = target.Next();
        State.ResumeTiming();
        if (!LibjpegLoad(path, out))
            State.SkipWithError("libjpeg could not open the file");
        benchmark::DoNotOptimize(out);
    }
}

// ---- Saves ------------------------------------------------------------------------------

// The picture of a cjpeg file as our loader gives it, B, G, R rows.
TBitmap& SaveSource(const TInput& In)
{
    static std::vector<std::unique_ptr<TBitmap>> pictures(std::size(Inputs));
    auto& p = pictures[size_t(&In - Inputs)];
    if (!p) {
        p = std::make_unique<TBitmap>();
        TImagingIO io;
        OurLoad(io, *p, PathOf(In.Name));
        io.SetBitmap(nullptr);
    }
    return *p;
}

bool OurSave(TBitmap& Source, const std::string& Path, int Quality)
{
    TImagingIO io;
    io.SetBitmap(&Source);
    io.Params().JpegQuality = Quality;
    io.Params().JpegDctMethod = 0;
    io.Params().DpiX = io.Params().DpiY = 96;
    io.SaveToFileJpeg(Path);
    const bool ok = !io.Aborting();
    io.SetBitmap(nullptr);
    return ok;
}

// Writes beside the target, syncs, renames over it and syncs the folder: the same
// durable save as our safe stream's.
bool LibjpegSave(const TBitmap& Source, const std::string& Path, int Quality)
{
    const std::string temp = Path + ".part";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(Source.Width());
    c.image_height = JDIMENSION(Source.Height());
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, JCS_YCbCr);
    c.density_unit = 1;
    c.X_density = c.Y_density = 96;
    c.dct_method = JDCT_ISLOW;
    jpeg_set_quality(&c, Quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<TBitmap&>(Source).ScanLine(int32_t(c.next_scanline));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    bool ok = std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
    ok = std::fclose(f) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), Path.c_str()) == 0;
    const int folder = ::open(Folder().c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return ok;
}

void BM_SaveOurs(benchmark::State& State, const TInput& In, int Quality)
{
    TBitmap& source = SaveSource(In);
    const std::string path = PathOf("ours_" + In.Name);
    for (auto _ : State)
        if (!OurSave(source, path, Quality))
            State.SkipWithError("the save failed");
}

void BM_SaveLibjpeg(benchmark::State& State, const TInput& In, int Quality)
{
    const TBitmap& source = SaveSource(In);
    const std::string path = PathOf("libjpeg_" + In.Name);
    for (auto _ : State)
        if (!LibjpegSave(source, path, Quality))
            State.SkipWithError("the save failed");
}

// ---- Lines ------------------------------------------------------------------------------

std::string LoadName(const TInput& In, TMemoryState Mem) { return "Load_" + In.Name + "_" + kvbench::StateName(Mem); }
std::string SaveName(const TInput& In, int Quality) { return "Save_" + In.Name + "_q" + std::to_string(Quality); }

// The save sources: the cjpeg files of the two smaller sizes.
bool SavesFrom(const TInput& In) { return !In.Magick && In.W <= 4000; }

void Register()
{
    for (const TInput* In : Written)
        for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
            const std::string name = LoadName(*In, mem);
            benchmark::RegisterBenchmark((name + "/Ours").c_str(),
                                         [In, mem](benchmark::State& S) { BM_LoadOurs(S, *In, mem); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark((name + "/Libjpeg").c_str(),
                                         [In, mem](benchmark::State& S) { BM_LoadLibjpeg(S, *In, mem); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    for (const TInput* In : Written)
        if (SavesFrom(*In))
            for (int q : Qualities) {
                const std::string name = SaveName(*In, q);
                benchmark::RegisterBenchmark((name + "/Ours").c_str(),
                                             [In, q](benchmark::State& S) { BM_SaveOurs(S, *In, q); })
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
                benchmark::RegisterBenchmark((name + "/Libjpeg").c_str(),
                                             [In, q](benchmark::State& S) { BM_SaveLibjpeg(S, *In, q); })
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
}

void PrintRatios(const kvbench::TRatioReporter& R)
{
    for (const TInput* In : Written)
        for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
            const std::string name = LoadName(*In, mem);
            kvbench::PrintComparison(name, R.MedianOf(name + "/Ours"), R.MedianOf(name + "/Libjpeg"), 1, 1);
        }
    for (const TInput* In : Written)
        if (SavesFrom(*In))
            for (int q : Qualities) {
                const std::string name = SaveName(*In, q);
                kvbench::PrintComparison(name, R.MedianOf(name + "/Ours"), R.MedianOf(name + "/Libjpeg"), 1, 1);
            }
}

} // namespace

int main(int argc, char** argv)
{
    std::filesystem::create_directories(Folder());
    for (const TInput& In : Inputs) {
        if (kvbench::WriteJpegInput(In, PathOf(In.Name)))
            Written.push_back(&In);
        else
            std::printf("%s: not written (its writer is missing)\n", In.Name.c_str());
    }
    for (const TInput* In : Written)
        if (SavesFrom(*In))
            SaveSource(*In); // decoded before any timing
    Register();
    const int result = kvbench::RunBenchmarks(argc, argv, PrintRatios);
    std::error_code e;
    std::filesystem::remove_all(Folder(), e);
    return result;
}
