// Peak memory and time of one PNG save or load, ours or libpng's, in a process of its
// own, so that /usr/bin/time's maximum resident size belongs to that one job:
//   bench_png_memory save N OUT     our writer, an N x N RGB picture at level 5
//   bench_png_memory libsave N OUT  libpng, the same picture, level 5, no row filter
//   bench_png_memory load FILE      our reader into a 24-bit bitmap
//   bench_png_memory libload FILE   libpng into the same kind of bitmap, checks on
// Run each as: /usr/bin/time -f "%e s %M KB" build/bench/bench_png_memory MODE ARGS
#include "imaging/IOParams.h"
#include "imaging/PngFilter.h"

#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace kv;

namespace {

void FillRow(uint8_t* Row, int W, int Y)
{
    for (int X = 0; X < W; ++X) {
        Row[3 * X] = uint8_t(X * 7 + Y);
        Row[3 * X + 1] = uint8_t((X ^ Y) * 3);
        Row[3 * X + 2] = uint8_t(Y * 5 + (X >> 4));
    }
}

int LibSave(int N, const char* Name)
{
    FILE* F = std::fopen(Name, "wb");
    if (!F)
        return 1;
    png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop Info = png_create_info_struct(Png);
    png_init_io(Png, F);
    png_set_IHDR(Png, Info, png_uint_32(N), png_uint_32(N), 8, PNG_COLOR_TYPE_RGB, 0, 0, 0);
    png_set_compression_level(Png, 5);
    png_set_filter(Png, 0, PNG_FILTER_NONE);
    png_write_info(Png, Info);
    std::vector<uint8_t> Row(size_t(N) * 3);
    for (int Y = 0; Y < N; ++Y) {
        FillRow(Row.data(), N, Y);
        png_write_row(Png, Row.data());
    }
    png_write_end(Png, nullptr);
    png_destroy_write_struct(&Png, &Info);
    return std::fclose(F) == 0 ? 0 : 1;
}

int LibLoad(const char* Name)
{
    FILE* F = std::fopen(Name, "rb");
    if (!F)
        return 1;
    png_structp Png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                               [](png_structp, png_const_charp M) { std::fprintf(stderr, "warning: %s\n", M); });
    png_infop Info = png_create_info_struct(Png);
    TBitmap B;
    if (setjmp(png_jmpbuf(Png))) {
        std::printf("libpng error\n");
        return 1;
    }
    png_init_io(Png, F);
    png_read_info(Png, Info);
    png_set_bgr(Png);
    png_read_update_info(Png, Info);
    const png_uint_32 W = png_get_image_width(Png, Info), H = png_get_image_height(Png, Info);
    B.SetPixelFormat(pf24bit);
    B.SetSize(int32_t(W), int32_t(H));
    for (png_uint_32 Y = 0; Y < H; ++Y)
        png_read_row(Png, B.ScanLine(int32_t(Y)), nullptr);
    png_read_end(Png, nullptr);
    png_destroy_read_struct(&Png, &Info, nullptr);
    std::fclose(F);
    std::printf("%ux%u ok\n", W, H);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string Mode = argc > 2 ? argv[1] : "";
    bool Aborting = false;
    TProgressRec Progress;
    Progress.Aborting = &Aborting;
    if (Mode == "save" && argc > 3) {
        const int N = std::stoi(argv[2]);
        TBitmap B;
        B.SetPixelFormat(pf24bit);
        B.SetSize(N, N);
        for (int Y = 0; Y < N; ++Y)
            FillRow(B.ScanLine(Y), N, Y);
        TIOParamsVals Params(nullptr);
        Params.PngCompression = 5;
        TFileStream S(argv[3], fmCreate);
        WritePngStream(S, B, Params, Progress, nullptr);
        return Aborting ? 1 : 0;
    }
    if (Mode == "load") {
        TBitmap B;
        TIOParamsVals Params(nullptr);
        TFileStream S(argv[2], fmOpenRead);
        ReadPngStream(S, B, Params, Progress, false, nullptr);
        std::printf("%dx%d %s\n", B.Width(), B.Height(), Aborting ? "failed" : "ok");
        return Aborting ? 1 : 0;
    }
    if (Mode == "libsave" && argc > 3)
        return LibSave(std::stoi(argv[2]), argv[3]);
    if (Mode == "libload")
        return LibLoad(argv[2]);
    std::fprintf(stderr, "usage: bench_png_memory save|libsave N OUT | load|libload FILE\n");
    return 2;
}
