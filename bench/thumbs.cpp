// The thumbnail browser's scan of a folder of 100 JPEGs of 12 megapixels (4000 x 3000)
// into 100-pixel thumbnails, against decoding the same files with libjpeg alone at its
// 1/8 DCT scaling. Prints the time per file of each and the ratio libjpeg / scan.
// KV_THUMBS_FILES sets the file count (default 100).
#include "widgets/Thumbview.h"

#include "bench/BenchJpeg.h"
#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

using namespace kv;

namespace {

constexpr int W = 4000, H = 3000;

int FileCount()
{
    const char* E = std::getenv("KV_THUMBS_FILES");
    return E ? std::max(1, std::atoi(E)) : 100;
}

std::filesystem::path Folder()
{
    static const std::filesystem::path P =
        std::filesystem::temp_directory_path() / ("kv_thumbs_bench_" + std::to_string(::getpid()));
    return P;
}

void WriteJpeg(const std::string& Name)
{
    kvbench::WriteLibjpegFile(Name, W, H, [](int Y, uint8_t* Rgb) {
        for (int X = 0; X < W; ++X) {
            Rgb[size_t(X) * 3] = uint8_t(X * 255 / W);
            Rgb[size_t(X) * 3 + 1] = uint8_t(Y * 255 / H);
            Rgb[size_t(X) * 3 + 2] = uint8_t((X ^ Y) & 0xFF);
        }
    });
}

std::vector<std::string> Files;

void MakeFolder()
{
    std::filesystem::create_directories(Folder());
    const std::string First = (Folder() / "p000.jpg").string();
    WriteJpeg(First);
    Files.push_back(First);
    for (int I = 1; I < FileCount(); ++I) {
        char Name[32];
        std::snprintf(Name, sizeof Name, "p%03d.jpg", I);
        const std::string Path = (Folder() / Name).string();
        std::filesystem::copy_file(First, Path, std::filesystem::copy_options::overwrite_existing);
        Files.push_back(Path);
    }
}

// Seconds of each repetition; the ratio comes from the medians.
std::vector<double> ScanSeconds, LibjpegSeconds;

void BM_ThumbviewScan(benchmark::State& State)
{
    for (auto _ : State) {
        TTHumbview View;
        View.SetMaxWidth(100);
        View.SetMaxHeight(100);
        View.SetDirectory(Folder().string());
        const auto T0 = std::chrono::steady_clock::now();
        (void)View.grab();
        QCoreApplication::processEvents();
        while (View.Scanning())
            QCoreApplication::processEvents();
        ScanSeconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count());
        if (View.Count() != int(Files.size()) || View.Thumb(0)->Filename().empty())
            State.SkipWithError("scan did not load the folder");
    }
}

void BM_LibjpegEighth(benchmark::State& State)
{
    for (auto _ : State) {
        const auto T0 = std::chrono::steady_clock::now();
        for (const std::string& Name : Files) {
            FILE* F = std::fopen(Name.c_str(), "rb");
            jpeg_decompress_struct D{};
            jpeg_error_mgr Err{};
            D.err = jpeg_std_error(&Err);
            jpeg_create_decompress(&D);
            jpeg_stdio_src(&D, F);
            jpeg_read_header(&D, TRUE);
            D.scale_num = 1;
            D.scale_denom = 8;
            jpeg_start_decompress(&D);
            std::vector<uint8_t> Row(size_t(D.output_width) * D.output_components);
            while (D.output_scanline < D.output_height) {
                JSAMPROW R = Row.data();
                jpeg_read_scanlines(&D, &R, 1);
            }
            jpeg_finish_decompress(&D);
            jpeg_destroy_decompress(&D);
            std::fclose(F);
        }
        LibjpegSeconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count());
    }
}

BENCHMARK(BM_ThumbviewScan)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibjpegEighth)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    kvbench::TOffscreenApplication App(argv[0]);
    MakeFolder();
    const int Result = kvbench::RunBenchmarks(argc, argv, [](const kvbench::TRatioReporter&) {
        const double N = double(Files.size()), Scan = kvbench::Median(ScanSeconds),
                     Libjpeg = kvbench::Median(LibjpegSeconds);
        if (Scan > 0 && Libjpeg > 0)
            std::printf("thumbs: %d files of %dx%d: scan %.1f ms/file, libjpeg 1/8 %.1f ms/file, ratio = %.3f\n",
                        int(N), W, H, Scan * 1000 / N, Libjpeg * 1000 / N, Libjpeg / Scan);
    });
    std::error_code E;
    std::filesystem::remove_all(Folder(), E);
    return Result;
}
