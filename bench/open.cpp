// File > Open of a 12-megapixel (4000 x 3000) JPEG, PNG, BMP and GIF through the
// editor's own handler on a window that is never shown, against the reference decoder
// alone into a buffer (libjpeg-turbo, libpng, giflib; for BMP a copy of the file's pixel
// bytes). Prints per format the ratio reference / ours from the medians, both times,
// and the peak memory the open takes above the idle program (ru_maxrss, each format
// measured once in a fresh child process) against the size of the final 32-bit bitmap.
#include "editor/ApplicationForms.h"
#include "editor/MainUnit.h"
#include "platform/Dialogs.h"
#include "platform/KvShell.h"
#include "startup/UnitsStartup.h"

#include "bench/BenchJpeg.h"
#include "bench/BenchReporter.h"
#include "bench/OpenInputs.h"

#include <benchmark/benchmark.h>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kv;

namespace {

constexpr int W = 4000, H = 3000;
const char* const Formats[] = {"JPEG", "PNG", "BMP", "GIF"};

std::filesystem::path Folder()
{
    static const std::filesystem::path P =
        std::filesystem::temp_directory_path() / ("kv_open_bench_" + std::to_string(::getpid()));
    return P;
}

std::map<std::string, std::string> Files; // format -> path

std::vector<uint8_t> RgbRow(int Y, std::mt19937& Rng)
{
    std::vector<uint8_t> Row(size_t(W) * 3);
    kvbench::PhotoRow(W, H, Y, Rng, Row.data());
    return Row;
}

void WriteJpeg(const std::string& Name)
{
    std::mt19937 Rng(1);
    kvbench::WriteLibjpegFile(Name, W, H, [&Rng](int Y, uint8_t* Rgb) {
        const std::vector<uint8_t> Row = RgbRow(Y, Rng);
        std::copy(Row.begin(), Row.end(), Rgb);
    });
}

void WritePng(const std::string& Name)
{
    FILE* F = std::fopen(Name.c_str(), "wb");
    png_structp P = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop I = png_create_info_struct(P);
    png_init_io(P, F);
    png_set_IHDR(P, I, W, H, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(P, I);
    std::mt19937 Rng(2);
    for (int Y = 0; Y < H; ++Y) {
        std::vector<uint8_t> Row = RgbRow(Y, Rng);
        png_write_row(P, Row.data());
    }
    png_write_end(P, nullptr);
    png_destroy_write_struct(&P, &I);
    std::fclose(F);
}

void MakeFiles()
{
    std::filesystem::create_directories(Folder());
    Files["JPEG"] = (Folder() / "open.jpg").string();
    Files["PNG"] = (Folder() / "open.png").string();
    Files["BMP"] = (Folder() / "open.bmp").string();
    Files["GIF"] = (Folder() / "open.gif").string();
    WriteJpeg(Files["JPEG"]);
    WritePng(Files["PNG"]);
    kvbench::WriteBmpFile(Files["BMP"], W, H);
    kvbench::WriteGifFile(Files["GIF"], W, H);
}

// ---- The editor's road ---------------------------------------------------------------

// The window as the entry point builds it, its settings and association kept in the
// benchmark's own folder.
std::unique_ptr<TMainForm> MakeForm()
{
    std::filesystem::create_directories(Folder() / "config");
    SetConfigDir((Folder() / "config").string());
    SetDataHomeDir((Folder() / "share").string());
    SetDataDir((Folder() / "data").string());
    SetShellOpenHook([](const std::string&) { return true; });
    auto Form = std::make_unique<TMainForm>();
    Form->RefreshDesktopOnAssociation = false;
    Form->FormCreate();
    Form->ImgView->resize(800, 600);
    CreateApplicationForms(*Form);
    return Form;
}

// File > Open with the dialog answered: the handler and everything it ends in.
bool OpenThroughHandler(TMainForm& Form, const std::string& Name)
{
    TDialogAnswer Answer;
    Answer.Result = mrOk;
    Answer.FileName = Name;
    TScriptedAnswers Answers;
    Answers.Then(Answer);
    Form.mnFileOpenClick();
    const TBitmap32* Bg = Form.ImgView->Bitmap();
    return Bg->Width() == W && Bg->Height() == H;
}

TMainForm* SharedForm = nullptr;

void BM_Open(benchmark::State& State, const std::string& Format)
{
    for (auto _ : State)
        if (!OpenThroughHandler(*SharedForm, Files[Format]))
            State.SkipWithError("the picture did not open");
}

// ---- The references --------------------------------------------------------------------

// The references' buffers come from the editor's own allocator: on a machine where
// every fresh 4 KiB page costs a fault, the comparison is then of decoding, not of how
// memory is taken.
struct TFreeBlock {
    void operator()(uint8_t* P) const { FreePixelBuffer(P); }
};
std::unique_ptr<uint8_t, TFreeBlock> Buffer(size_t Bytes)
{
    return std::unique_ptr<uint8_t, TFreeBlock>(AllocPixelBuffer(1, 1, int64_t(Bytes), "reference"));
}

void BM_RefJpeg(benchmark::State& State)
{
    for (auto _ : State) {
        FILE* F = std::fopen(Files["JPEG"].c_str(), "rb");
        jpeg_decompress_struct D{};
        jpeg_error_mgr Err{};
        D.err = jpeg_std_error(&Err);
        jpeg_create_decompress(&D);
        jpeg_stdio_src(&D, F);
        jpeg_read_header(&D, TRUE);
        jpeg_start_decompress(&D);
        const size_t Stride = size_t(D.output_width) * D.output_components;
        auto Pixels = Buffer(Stride * D.output_height);
        while (D.output_scanline < D.output_height) {
            JSAMPROW R = Pixels.get() + D.output_scanline * Stride;
            jpeg_read_scanlines(&D, &R, 1);
        }
        jpeg_finish_decompress(&D);
        jpeg_destroy_decompress(&D);
        std::fclose(F);
        benchmark::DoNotOptimize(Pixels.get());
    }
}

void BM_RefPng(benchmark::State& State)
{
    for (auto _ : State) {
        FILE* F = std::fopen(Files["PNG"].c_str(), "rb");
        png_structp P = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop I = png_create_info_struct(P);
        png_init_io(P, F);
        png_read_info(P, I);
        const size_t Stride = png_get_rowbytes(P, I), Rows = png_get_image_height(P, I);
        auto Pixels = Buffer(Stride * Rows);
        std::vector<png_bytep> RowPointers(Rows);
        for (size_t Y = 0; Y < Rows; ++Y)
            RowPointers[Y] = Pixels.get() + Y * Stride;
        png_read_image(P, RowPointers.data());
        png_read_end(P, nullptr);
        png_destroy_read_struct(&P, &I, nullptr);
        std::fclose(F);
        benchmark::DoNotOptimize(Pixels.get());
    }
}

void BM_RefGif(benchmark::State& State)
{
    for (auto _ : State) {
        int Error = 0;
        GifFileType* G = DGifOpenFileName(Files["GIF"].c_str(), &Error);
        if (!G || DGifSlurp(G) != GIF_OK)
            State.SkipWithError("giflib could not read the file");
        if (G) {
            benchmark::DoNotOptimize(G->SavedImages);
            DGifCloseFile(G, &Error);
        }
    }
}

void BM_RefBmp(benchmark::State& State)
{
    for (auto _ : State) {
        FILE* F = std::fopen(Files["BMP"].c_str(), "rb");
        std::fseek(F, 0, SEEK_END);
        const size_t Size = size_t(std::ftell(F));
        std::fseek(F, 0, SEEK_SET);
        auto File = Buffer(Size);
        const size_t Read = std::fread(File.get(), 1, Size, F);
        std::fclose(F);
        auto Pixels = Buffer(Read - 54);
        std::memcpy(Pixels.get(), File.get() + 54, Read - 54);
        benchmark::DoNotOptimize(Pixels.get());
    }
}

// ---- Peak memory, one fresh process per format ----------------------------------------

long MaxRssKiB()
{
    rusage U{};
    getrusage(RUSAGE_SELF, &U);
    return U.ru_maxrss;
}

// The child builds the idle editor, opens the picture once and reports the rise of its
// peak resident size in KiB; -1 when the open failed.
long PeakAboveIdleKiB(const std::string& Format, char* Argv0)
{
    int Pipe[2];
    if (pipe(Pipe) != 0)
        return -1;
    const pid_t Child = fork();
    if (Child == 0) {
        close(Pipe[0]);
        long Rise = -1;
        {
            kvbench::TOffscreenApplication App(Argv0);
            StartUnits();
            auto Form = MakeForm();
            const long Idle = MaxRssKiB();
            if (OpenThroughHandler(*Form, Files[Format]))
                Rise = MaxRssKiB() - Idle;
        }
        const ssize_t Written = write(Pipe[1], &Rise, sizeof Rise);
        _exit(Written == sizeof Rise ? 0 : 1);
    }
    close(Pipe[1]);
    long Rise = -1;
    if (Child < 0 || read(Pipe[0], &Rise, sizeof Rise) != sizeof Rise)
        Rise = -1;
    close(Pipe[0]);
    if (Child > 0)
        waitpid(Child, nullptr, 0);
    return Rise;
}

} // namespace

int main(int argc, char** argv)
{
    MakeFiles();
    // Before any Qt object exists in this process, so each child starts clean.
    std::map<std::string, long> Peaks;
    for (const char* Format : Formats)
        Peaks[Format] = PeakAboveIdleKiB(Format, argv[0]);

    kvbench::TOffscreenApplication App(argv[0]);
    StartUnits();
    auto Form = MakeForm();
    SharedForm = Form.get();
    for (const char* Format : Formats)
        benchmark::RegisterBenchmark((std::string("Open/") + Format).c_str(), BM_Open, std::string(Format))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    benchmark::RegisterBenchmark("Reference/JPEG", BM_RefJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("Reference/PNG", BM_RefPng)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("Reference/BMP", BM_RefBmp)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("Reference/GIF", BM_RefGif)->Unit(benchmark::kMillisecond)->UseRealTime();

    const auto PrintRatios = [&Peaks](const kvbench::TRatioReporter& R) {
        const double Bitmap32MiB = double(W) * H * 4 / (1024.0 * 1024.0);
        for (const char* Format : Formats) {
            const double Ours = R.MedianOf(std::string("Open/") + Format);
            const double Ref = R.MedianOf(std::string("Reference/") + Format);
            const long Peak = Peaks[Format];
            std::printf(
                "open %-4s %dx%d: ours %.1f ms, reference %.1f ms, ratio = %.3f; peak above idle %.1f MiB "
                "= %.2f x the 32-bit bitmap (%.1f MiB); repeated in one process, one thread each (the first open: "
                "scripts/first-open.py)\n",
                Format, W, H, Ours, Ref, Ours > 0 ? Ref / Ours : 0.0, Peak / 1024.0, Peak / 1024.0 / Bitmap32MiB,
                Bitmap32MiB);
        }
    };
    // Nine repetitions: a BMP open takes a few milliseconds, so one busy spell could take a
    // whole repetition of one side.
    const int Result = kvbench::RunBenchmarks(argc, argv, PrintRatios, 9);
    Form.reset();
    std::error_code E;
    std::filesystem::remove_all(Folder(), E);
    return Result;
}
