// The first open of a picture in a fresh process, one open per run, for
// scripts/first-open.py, which starts this program once per sample and takes turns
// between ours and the references.
//
//   bench_first_open make DIR    writes DIR/open.jpg (6000 x 4000, libjpeg), open.png
//                                (4000 x 3000, ImageMagick's convert from a PPM, or
//                                libpng with its defaults without convert), open.gif
//                                (4000 x 3000, giflib) and open.bmp (4000 x 3000, 24-bit)
//   bench_first_open ours FILE   builds the editor's window as the program starts, then
//                                times File > Open of FILE alone
//   bench_first_open ref FILE    times the reference decoder alone, into a fresh block of
//                                the final 32-bit bitmap's size: libjpeg-turbo (B, G, R, X
//                                out), libpng (B, G, R and a filler byte), giflib's
//                                DGifSlurp and the palette lookup, a plain read of the
//                                BMP rows with the opaque fourth byte added
//   bench_first_open plain FILE  the plain read of a 24-bit BMP alone (informative)
//
// "ours" and "ref" print one line: milliseconds, the processor milliseconds of every
// thread meanwhile, the peak resident memory the open added above the idle process in
// KiB, and the final 32-bit bitmap's size in KiB.
#include "editor/ApplicationForms.h"
#include "editor/MainUnit.h"
#include "platform/Dialogs.h"
#include "platform/KvShell.h"
#include "startup/UnitsStartup.h"

#include "bench/BenchJpeg.h"
#include "bench/BenchReporter.h"
#include "bench/OpenInputs.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace kv;

namespace {

constexpr int W = 4000, H = 3000;         // PNG, GIF, BMP
constexpr int JpegW = 6000, JpegH = 4000; // the 24-megapixel JPEG

long MaxRssKiB()
{
    rusage U{};
    getrusage(RUSAGE_SELF, &U);
    return U.ru_maxrss;
}

// Processor time of the whole process (every thread) so far.
double CpuMs()
{
    rusage U{};
    getrusage(RUSAGE_SELF, &U);
    return (U.ru_utime.tv_sec + U.ru_stime.tv_sec) * 1e3 + (U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e3;
}

double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void WritePngWithLibpng(const std::string& Name)
{
    FILE* F = std::fopen(Name.c_str(), "wb");
    if (!F)
        return;
    png_structp P = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop I = png_create_info_struct(P);
    png_init_io(P, F);
    png_set_IHDR(P, I, W, H, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(P, I);
    std::mt19937 Rng(2);
    std::vector<uint8_t> Row(size_t(W) * 3);
    for (int Y = 0; Y < H; ++Y) {
        kvbench::PhotoRow(W, H, Y, Rng, Row.data());
        png_write_row(P, Row.data());
    }
    png_write_end(P, nullptr);
    png_destroy_write_struct(&P, &I);
    std::fclose(F);
}

// ImageMagick's file when convert is there: a PNG no writer of ours had a hand in.
void WritePng(const std::filesystem::path& Dir)
{
    const std::string Png = (Dir / "open.png").string();
    if (access("/usr/bin/convert", X_OK) == 0) {
        const std::string Ppm = (Dir / "open.ppm").string();
        {
            std::ofstream Out(Ppm, std::ios::binary);
            Out << "P6\n" << W << " " << H << "\n255\n";
            std::mt19937 Rng(2);
            std::vector<uint8_t> Row(size_t(W) * 3);
            for (int Y = 0; Y < H; ++Y) {
                kvbench::PhotoRow(W, H, Y, Rng, Row.data());
                Out.write(reinterpret_cast<const char*>(Row.data()), std::streamsize(Row.size()));
            }
        }
        const std::string Command = "/usr/bin/convert '" + Ppm + "' 'PNG24:" + Png + "' 2>/dev/null";
        const bool Ok = std::system(Command.c_str()) == 0;
        std::filesystem::remove(Ppm);
        if (Ok) {
            std::printf("open.png: ImageMagick\n");
            return;
        }
    }
    WritePngWithLibpng(Png);
    std::printf("open.png: libpng (no ImageMagick convert)\n");
}

int Make(const std::filesystem::path& Dir)
{
    std::filesystem::create_directories(Dir);
    std::mt19937 Rng(1);
    kvbench::WriteLibjpegFile((Dir / "open.jpg").string(), JpegW, JpegH,
                              [&Rng](int Y, uint8_t* Rgb) { kvbench::PhotoRow(JpegW, JpegH, Y, Rng, Rgb); });
    WritePng(Dir);
    kvbench::WriteGifFile((Dir / "open.gif").string(), W, H);
    kvbench::WriteBmpFile((Dir / "open.bmp").string(), W, H);
    return 0;
}

// ---- Ours ------------------------------------------------------------------------------

int Ours(const std::string& Name, char* Argv0)
{
    const std::filesystem::path Dir =
        std::filesystem::temp_directory_path() / ("kv_first_open_" + std::to_string(getpid()));
    int Result = 1;
    {
        kvbench::TOffscreenApplication App(Argv0);
        StartUnits();
        std::filesystem::create_directories(Dir / "config");
        SetConfigDir((Dir / "config").string());
        SetDataHomeDir((Dir / "share").string());
        SetDataDir((Dir / "data").string());
        SetShellOpenHook([](const std::string&) { return true; });
        auto Form = std::make_unique<TMainForm>();
        Form->RefreshDesktopOnAssociation = false;
        Form->FormCreate();
        Form->ImgView->resize(800, 600);
        CreateApplicationForms(*Form);

        TDialogAnswer Answer;
        Answer.Result = mrOk;
        Answer.FileName = Name;
        TScriptedAnswers Answers;
        Answers.Then(Answer);
        const long Idle = MaxRssKiB();
        const double Cpu = CpuMs(), Start = NowMs();
        Form->mnFileOpenClick();
        const double Ms = NowMs() - Start, Busy = CpuMs() - Cpu;
        const long Peak = MaxRssKiB() - Idle;
        const TBitmap32* Bg = Form->ImgView->Bitmap();
        if (!Bg->IsEmpty()) {
            std::printf("%.3f %.3f %ld %lld\n", Ms, Busy, Peak, (long long)Bg->Width() * Bg->Height() * 4 / 1024);
            Result = 0;
        }
    }
    std::error_code E;
    std::filesystem::remove_all(Dir, E);
    return Result;
}

// ---- The references --------------------------------------------------------------------

bool EndsWith(const std::string& S, const char* Tail)
{
    const size_t N = std::strlen(Tail);
    return S.size() >= N && S.compare(S.size() - N, N, Tail) == 0;
}

// Decodes Name into a fresh block of the final 32-bit bitmap's size; the pixel count.
int64_t Reference(const std::string& Name, std::unique_ptr<kvbench::TReferenceBlock>& Out, bool Plain)
{
    if (EndsWith(Name, ".jpg")) {
        FILE* F = std::fopen(Name.c_str(), "rb");
        if (!F)
            return 0;
        jpeg_decompress_struct D{};
        jpeg_error_mgr Err{};
        D.err = jpeg_std_error(&Err);
        jpeg_create_decompress(&D);
        jpeg_stdio_src(&D, F);
        jpeg_read_header(&D, TRUE);
        D.out_color_space = JCS_EXT_BGRX;
        jpeg_start_decompress(&D);
        const size_t Stride = size_t(D.output_width) * 4;
        Out = std::make_unique<kvbench::TReferenceBlock>(Stride * D.output_height);
        while (D.output_scanline < D.output_height) {
            JSAMPROW R = Out->Data() + D.output_scanline * Stride;
            jpeg_read_scanlines(&D, &R, 1);
        }
        const int64_t Count = int64_t(D.output_width) * D.output_height;
        jpeg_finish_decompress(&D);
        jpeg_destroy_decompress(&D);
        std::fclose(F);
        return Count;
    }
    if (EndsWith(Name, ".png")) {
        FILE* F = std::fopen(Name.c_str(), "rb");
        if (!F)
            return 0;
        png_structp P = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop I = png_create_info_struct(P);
        if (setjmp(png_jmpbuf(P))) {
            png_destroy_read_struct(&P, &I, nullptr);
            std::fclose(F);
            return 0;
        }
        png_init_io(P, F);
        png_read_info(P, I);
        png_set_bgr(P);
        png_set_filler(P, 0xFF, PNG_FILLER_AFTER);
        png_read_update_info(P, I);
        const size_t Width = png_get_image_width(P, I), Rows = png_get_image_height(P, I);
        Out = std::make_unique<kvbench::TReferenceBlock>(Width * 4 * Rows);
        for (size_t Y = 0; Y < Rows; ++Y)
            png_read_row(P, Out->Data() + Y * Width * 4, nullptr);
        png_read_end(P, nullptr);
        png_destroy_read_struct(&P, &I, nullptr);
        std::fclose(F);
        return int64_t(Width * Rows);
    }
    if (EndsWith(Name, ".gif")) {
        int Error = 0;
        GifFileType* G = DGifOpenFileName(Name.c_str(), &Error);
        if (!G)
            return 0;
        int64_t Count = 0;
        if (DGifSlurp(G) == GIF_OK && G->ImageCount > 0) {
            const SavedImage& Image = G->SavedImages[0];
            const ColorMapObject* Map = Image.ImageDesc.ColorMap ? Image.ImageDesc.ColorMap : G->SColorMap;
            uint32_t Lookup[256] = {};
            for (int I = 0; Map && I < Map->ColorCount && I < 256; ++I) {
                const GifColorType C = Map->Colors[I];
                Lookup[I] = 0xFF000000u | uint32_t(C.Red) << 16 | uint32_t(C.Green) << 8 | C.Blue;
            }
            Count = int64_t(G->SWidth) * G->SHeight;
            Out = std::make_unique<kvbench::TReferenceBlock>(size_t(Count) * 4);
            auto* Px = reinterpret_cast<uint32_t*>(Out->Data());
            const int Iw = Image.ImageDesc.Width, Ih = Image.ImageDesc.Height;
            for (int Y = 0; Y < Ih; ++Y) {
                const GifByteType* Src = Image.RasterBits + size_t(Y) * Iw;
                uint32_t* Dst = Px + size_t(Y + Image.ImageDesc.Top) * G->SWidth + Image.ImageDesc.Left;
                for (int X = 0; X < Iw; ++X)
                    Dst[X] = Lookup[Src[X]];
            }
        }
        DGifCloseFile(G, &Error);
        return Count;
    }
    if (EndsWith(Name, ".bmp")) {
        // A plain decoder: the file's rows read a batch at a time and each pixel given
        // its opaque fourth byte on the way into the final bitmap, as every other
        // reference here hands over 32-bit pixels. (The plain read alone, which leaves a
        // quarter of the final block untouched, is the informative "plain" mode.)
        FILE* F = std::fopen(Name.c_str(), "rb");
        if (!F)
            return 0;
        uint8_t Header[54];
        if (std::fread(Header, 1, 54, F) != 54) {
            std::fclose(F);
            return 0;
        }
        int32_t Width, Height;
        uint32_t Offset;
        uint16_t Bits;
        std::memcpy(&Offset, Header + 10, 4);
        std::memcpy(&Width, Header + 18, 4);
        std::memcpy(&Height, Header + 22, 4);
        std::memcpy(&Bits, Header + 28, 2);
        const int64_t Rows = std::abs(int64_t(Height)), Count = int64_t(Width) * Rows;
        if (Bits != 24 || Width <= 0 || Rows == 0 || std::fseek(F, long(Offset), SEEK_SET) != 0) {
            std::fclose(F);
            return 0;
        }
        Out = std::make_unique<kvbench::TReferenceBlock>(size_t(Count) * 4);
        if (Plain) {
            const size_t Read = std::fread(Out->Data(), 1, size_t(Count) * 4, F);
            std::fclose(F);
            return Read > 0 ? Count : 0;
        }
        const size_t Stride = (size_t(Width) * 3 + 3) & ~size_t(3);
        const size_t Batch = std::max<size_t>(1, (size_t(1) << 18) / Stride);
        std::vector<uint8_t> Buffer(Stride * Batch);
        auto* Px = reinterpret_cast<uint32_t*>(Out->Data());
        for (int64_t R0 = 0; R0 < Rows; R0 += int64_t(Batch)) {
            const size_t N = size_t(std::min<int64_t>(int64_t(Batch), Rows - R0));
            if (std::fread(Buffer.data(), Stride, N, F) != N) {
                std::fclose(F);
                return 0;
            }
            for (size_t I = 0; I < N; ++I) {
                const int64_t R = R0 + int64_t(I);
                const uint8_t* S = Buffer.data() + I * Stride;
                uint32_t* D = Px + size_t(Height < 0 ? R : Rows - 1 - R) * size_t(Width);
                for (int32_t X = 0; X < Width; ++X, S += 3)
                    D[X] = 0xFF000000u | uint32_t(S[2]) << 16 | uint32_t(S[1]) << 8 | S[0];
            }
        }
        std::fclose(F);
        return Count;
    }
    return 0;
}

int Ref(const std::string& Name, bool Plain)
{
    const long Idle = MaxRssKiB();
    std::unique_ptr<kvbench::TReferenceBlock> Out;
    const double Cpu = CpuMs(), Start = NowMs();
    const int64_t Count = Reference(Name, Out, Plain);
    const double Ms = NowMs() - Start, Busy = CpuMs() - Cpu;
    const long Peak = MaxRssKiB() - Idle;
    if (Count <= 0)
        return 1;
    std::printf("%.3f %.3f %ld %lld\n", Ms, Busy, Peak, (long long)(Count * 4 / 1024));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "make") == 0)
        return Make(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "ours") == 0)
        return Ours(argv[2], argv[0]);
    if (argc == 3 && std::strcmp(argv[1], "ref") == 0)
        return Ref(argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "plain") == 0)
        return Ref(argv[2], true);
    std::fprintf(stderr, "usage: %s make DIR | ours FILE | ref FILE | plain FILE.bmp\n", argv[0]);
    return 2;
}
