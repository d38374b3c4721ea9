// Decoding whole GIF files through the GIF model (TGIFImage::LoadFromStream) against
// giflib's DGifSlurp on the same bytes in memory, printing giflib's median time divided
// by the model's (above 1: the model is faster) and the threads each side used (one).
//
// Inputs: single-frame 8-bit pictures written by giflib (bench/OpenInputs.h, diagonal
// bands with noise) at 640 x 480, 1920 x 1080 and 4000 x 3000, and the photo-like
// 4000 x 3000 picture our LZW encoder writes (bench/GifBenchCommon.h); animations written
// by giflib (GIF89a, a graphic control block per frame) of 100 frames of 200 x 150 and 30
// of 480 x 270, and 100 frames of 200 x 150 written by the model's own encoder. Both
// sides decode every frame to its palette indices and keep them until the iteration
// ends; neither composes frames; each fails the line when it refuses the file.
//
// Both sides take their frames from the C library's heap, so each file has two lines
// (see bench/BenchReporter.h): "first", every held freed block and the heap given back
// before each decode, so both write into fresh pages, as the first open of a session;
// "repeated", both into the heap as the previous decode of the same file left it.
#include "bench/OpenInputs.h"

#include "bench/BenchReporter.h"
#include "bench/GifBenchCommon.h"
#include "formats/GIFImage.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

using kv::TMemoryStream;
using kv::TReadOnlyMemoryStream;
using namespace kv::GIFImage;
using namespace kvbench;

namespace {

std::vector<uint8_t> ModelAnimation(int Fw, int Fh, int Frames)
{
    TGIFImage img;
    for (int i = 0; i < 256; ++i)
        img.GlobalColorMap().Add(TGIFColor{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
    std::mt19937 rng(42);
    for (int f = 0; f < Frames; ++f) {
        auto sub = std::make_unique<TGIFSubImage>(&img);
        sub->SetSize(uint16_t(Fw), uint16_t(Fh));
        auto& d = sub->Data();
        // Smooth gradients with some noise: photographs reduced to 256 colours look like this.
        for (int y = 0; y < Fh; ++y)
            for (int x = 0; x < Fw; ++x)
                d[size_t(y) * size_t(Fw) + size_t(x)] = uint8_t((x / 16 + y / 16 + f + ((rng() & 15) == 0)) & 0xFF);
        img.Add(std::move(sub));
    }
    TMemoryStream s;
    img.SaveToStream(s);
    return s.Bytes();
}

#ifdef KV_HAVE_GIFLIB
// giflib's still, through a file as the open benchmarks have it.
std::vector<uint8_t> GiflibStill(int Sw, int Sh)
{
    const std::filesystem::path name = std::filesystem::temp_directory_path() /
                                       ("kv_gifmodel_" + std::to_string(getpid()) + "_" + std::to_string(Sw) + ".gif");
    WriteGifFile(name.string(), Sw, Sh);
    std::ifstream in(name, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(name);
    return bytes;
}
#endif

struct TFile {
    std::string Name;
    std::vector<uint8_t> Bytes;
};

const std::vector<TFile>& Files()
{
    static const std::vector<TFile> files = [] {
        std::vector<TFile> v;
#ifdef KV_HAVE_GIFLIB
        for (auto [sw, sh] : {std::pair{640, 480}, {1920, 1080}, {4000, 3000}})
            v.push_back({"Still_giflib_" + std::to_string(sw) + "x" + std::to_string(sh), GiflibStill(sw, sh)});
#endif
        v.push_back({"Still_ours_4000x3000", GIFFile()});
#ifdef KV_HAVE_GIFLIB
        v.push_back({"Anim_giflib_200x150x100", GiflibAnimation(200, 150, 100)});
        v.push_back({"Anim_giflib_480x270x30", GiflibAnimation(480, 270, 30)});
#endif
        v.push_back({"Anim_model_200x150x100", ModelAnimation(200, 150, 100)});
        for (const TFile& f : v)
            if (f.Bytes.empty()) {
                std::fprintf(stderr, "%s: not written\n", f.Name.c_str());
                std::exit(1);
            }
        return v;
    }();
    return files;
}

bool ModelDecode(const std::vector<uint8_t>& File)
{
    TGIFImage img;
    TReadOnlyMemoryStream s(File.data(), int64_t(File.size()));
    img.LoadFromStream(s);
    if (img.Images().Count() == 0)
        return false;
    benchmark::DoNotOptimize(img.Images()[0]->Data().data());
    return true;
}

using TDecode = bool (*)(const std::vector<uint8_t>&);

void RunSide(benchmark::State& State, const std::vector<uint8_t>& File, TDecode Decode, TMemoryState Mem)
{
    if (Mem == TMemoryState::Repeated)
        Decode(File); // untimed, so that the first timed decode finds the heap as a repeat does
    for (auto _ : State) {
        if (Mem == TMemoryState::First) {
            State.PauseTiming();
            DropHeldMemory();
            State.ResumeTiming();
        }
        if (!Decode(File)) {
            State.SkipWithError("the file was refused");
            break;
        }
        benchmark::ClobberMemory();
    }
    State.SetBytesProcessed(State.iterations() * int64_t(File.size()));
}

std::string LineName(const TFile& F, TMemoryState Mem) { return F.Name + "_" + StateName(Mem); }

} // namespace

int main(int argc, char** argv)
{
    for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated})
        for (const TFile& f : Files()) {
            const std::string name = LineName(f, mem);
            benchmark::RegisterBenchmark((name + "/Model").c_str(),
                                         [&f, mem](benchmark::State& s) { RunSide(s, f.Bytes, ModelDecode, mem); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MinTime(0.2);
#ifdef KV_HAVE_GIFLIB
            benchmark::RegisterBenchmark((name + "/Giflib").c_str(),
                                         [&f, mem](benchmark::State& s) { RunSide(s, f.Bytes, GiflibDecode, mem); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MinTime(0.2);
#endif
        }
    return RunBenchmarks(argc, argv, [](const TRatioReporter& reporter) {
#ifdef KV_HAVE_GIFLIB
        for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated})
            for (const TFile& f : Files()) {
                const std::string name = LineName(f, mem);
                PrintComparison(name + " giflib/model", reporter.MedianOf(name + "/Model"),
                                reporter.MedianOf(name + "/Giflib"), 1, 1);
            }
#else
        std::printf("giflib not found: no ratios\n");
#endif
    });
}
