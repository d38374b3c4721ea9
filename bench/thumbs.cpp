// The thumbnail browser's scan of a folder of JPEGs into 100-pixel thumbnails, against
// libjpeg doing the same decoding by itself. Prints theirs / ours from the medians
// (above 1: we are faster) and the time per file of each.
//
// Folders, one per line, each of KV_THUMBS_FILES copies (default 20) of one file, none
// written by our own writer: cjpeg's defaults (libjpeg's compressor through its API,
// quality 75, 2 x 2 chroma) at 1920 x 1080, 4000 x 3000 and 6000 x 4000, and ImageMagick's
// MagickWand with its defaults at 4000 x 3000 (when linked).
//
// Both sides list the folder, read each whole file into memory, decode it at the DCT
// scale the browser picks for its box (JpegScaleFor: the largest reduction that still
// covers the thumbnail) with the slow integer DCT and libjpeg's smooth upsampling into
// B, G, R rows, and shrink that to the thumbnail; ours also makes its thumbnail widgets
// and reads each file's information, which libjpeg's side skips.
//
// Like with like (see bench/BenchReporter.h): a "first" line, ours with every held
// block given back before the scan and libjpeg's decoded rows in a block mapped for that
// scan, and a "repeated" line, both into memory held from the previous scan. Both sides
// run on one thread (the scan starts none), so no one-core line is needed.
#include "platform/Jpeg.h"
#include "widgets/Thumbview.h"

#include "bench/BenchReporter.h"
#include "bench/JpegInputs.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace kv;

using kvbench::TMemoryState;

namespace {

constexpr int Box = 100;

using TInput = kvbench::TJpegInput;
const auto& Inputs = kvbench::JpegInputs;

int FileCount()
{
    const char* E = std::getenv("KV_THUMBS_FILES");
    return E ? std::max(1, std::atoi(E)) : 20;
}

std::filesystem::path Root()
{
    static const std::filesystem::path P =
        std::filesystem::temp_directory_path() / ("kv_thumbs_bench_" + std::to_string(::getpid()));
    return P;
}

std::string FolderOf(const TInput& In) { return (Root() / In.Name).string(); }

std::vector<const TInput*> Written;

bool MakeFolder(const TInput& In)
{
    std::filesystem::create_directories(FolderOf(In));
    const std::string first = FolderOf(In) + "/p000.jpg";
    if (!kvbench::WriteJpegInput(In, first))
        return false;
    for (int i = 1; i < FileCount(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/p%03d.jpg", i);
        std::filesystem::copy_file(first, FolderOf(In) + name, std::filesystem::copy_options::overwrite_existing);
    }
    return true;
}

double Since(std::chrono::steady_clock::time_point T0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count();
}

void BM_Scan(benchmark::State& State, const TInput& In, TMemoryState Mem)
{
    auto scan = [&In]() {
        TTHumbview view;
        view.SetMaxWidth(Box);
        view.SetMaxHeight(Box);
        view.SetDirectory(FolderOf(In));
        const auto t0 = std::chrono::steady_clock::now();
        (void)view.grab(); // the first paint starts the scan
        QCoreApplication::processEvents();
        while (view.Scanning())
            QCoreApplication::processEvents();
        const double seconds = Since(t0);
        const bool ok = view.Count() == FileCount() && !view.Thumb(0)->Filename().empty();
        return ok ? seconds : -1.0;
    };
    if (Mem == TMemoryState::Repeated)
        scan(); // untimed: the first timed scan finds its blocks held
    for (auto _ : State) {
        if (Mem == TMemoryState::First)
            kvbench::DropHeldMemory();
        const double seconds = scan();
        if (seconds < 0)
            State.SkipWithError("the scan did not load the folder");
        State.SetIterationTime(std::max(seconds, 1e-9));
    }
}

// A nearest-pixel shrink of B, G, R rows into Out, the thumbnail fitted into the box.
void Shrink(const uint8_t* Rows, int W, int H, std::vector<uint8_t>& Out)
{
    const int tw = W >= H ? Box : std::max(1, W * Box / H), th = W >= H ? std::max(1, H * Box / W) : Box;
    Out.resize(size_t(tw) * size_t(th) * 3);
    for (int y = 0; y < th; ++y) {
        const uint8_t* src = Rows + size_t(y * H / th) * size_t(W) * 3;
        for (int x = 0; x < tw; ++x)
            std::copy_n(src + size_t(x * W / tw) * 3, 3, Out.data() + (size_t(y) * size_t(tw) + size_t(x)) * 3);
    }
}

bool LibjpegThumb(const std::string& Path, uint8_t* Rows, std::vector<uint8_t>& Thumb)
{
    std::ifstream in(Path, std::ios::binary);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty())
        return false;
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d, TRUE);
    const int w = int(d.image_width), h = int(d.image_height);
    const int fitW = w >= h ? Box : std::max(1, w * Box / h), fitH = w >= h ? std::max(1, h * Box / w) : Box;
    d.scale_num = 1;
    d.scale_denom = unsigned(JpegScaleFor(w, h, fitW, fitH));
    d.out_color_space = JCS_EXT_BGR;
    d.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&d);
    const size_t stride = size_t(d.output_width) * 3;
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = Rows + size_t(d.output_scanline) * stride;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    Shrink(Rows, int(d.output_width), int(d.output_height), Thumb);
    jpeg_destroy_decompress(&d);
    return true;
}

void BM_Libjpeg(benchmark::State& State, const TInput& In, TMemoryState Mem)
{
    // Room for the decoded rows of the folder's pictures at the least reduction the box
    // can ask for, so that no file outgrows it.
    kvbench::TReferenceTarget target(size_t(In.W) * size_t(In.H) * 3, Mem);
    std::vector<std::vector<uint8_t>> thumbs;
    for (auto _ : State) {
        State.PauseTiming();
        uint8_t* rows = target.Next();
        if (Mem == TMemoryState::First)
            thumbs.clear();
        State.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(FolderOf(In)))
            if (entry.is_regular_file())
                names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        thumbs.resize(names.size());
        bool ok = int(names.size()) == FileCount();
        for (size_t i = 0; i < names.size(); ++i)
            ok = LibjpegThumb(names[i], rows, thumbs[i]) && ok;
        State.SetIterationTime(std::max(Since(t0), 1e-9));
        if (!ok)
            State.SkipWithError("libjpeg could not read the folder");
    }
}

std::string LineName(const TInput& In, TMemoryState Mem) { return "Thumbs_" + In.Name + "_" + kvbench::StateName(Mem); }

void Register()
{
    for (const TInput* In : Written)
        for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
            const std::string name = LineName(*In, mem);
            benchmark::RegisterBenchmark((name + "/Scan").c_str(),
                                         [In, mem](benchmark::State& S) { BM_Scan(S, *In, mem); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
            benchmark::RegisterBenchmark((name + "/Libjpeg").c_str(),
                                         [In, mem](benchmark::State& S) { BM_Libjpeg(S, *In, mem); })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
        }
}

void PrintRatios(const kvbench::TRatioReporter& R)
{
    const double n = FileCount();
    for (const TInput* In : Written)
        for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
            const std::string name = LineName(*In, mem);
            const double ours = R.MedianOf(name + "/Scan"), theirs = R.MedianOf(name + "/Libjpeg");
            kvbench::PrintComparison(name, ours, theirs, 1, 1);
            if (ours > 0 && theirs > 0)
                std::printf("%-40s per file: scan %.2f ms, libjpeg %.2f ms (%d files)\n", "", ours / n, theirs / n,
                            FileCount());
        }
}

} // namespace

int main(int argc, char** argv)
{
    kvbench::TOffscreenApplication app(argv[0]);
    for (const TInput& In : Inputs)
        if (MakeFolder(In))
            Written.push_back(&In);
        else
            std::printf("%s: not written (its writer is missing)\n", In.Name.c_str());
    Register();
    const int result = kvbench::RunBenchmarks(argc, argv, PrintRatios);
    std::error_code e;
    std::filesystem::remove_all(Root(), e);
    return result;
}
