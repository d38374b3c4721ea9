// Writes the JPEG files the benchmarks read, through libjpeg itself, so that the files do
// not depend on the encoder being measured.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

// After <cstdio>: jpeglib.h needs FILE and size_t declared.
#include <jpeglib.h>

namespace kvbench {

// FillRow writes row Y as R, G, B bytes; quality 90 unless given, libjpeg's default subsampling.
inline void WriteLibjpegFile(const std::string& Name, int W, int H,
                             const std::function<void(int Y, uint8_t* Rgb)>& FillRow, int Quality = 90)
{
    FILE* F = std::fopen(Name.c_str(), "wb");
    if (!F)
        return;
    jpeg_compress_struct C{};
    jpeg_error_mgr Err{};
    C.err = jpeg_std_error(&Err);
    jpeg_create_compress(&C);
    jpeg_stdio_dest(&C, F);
    C.image_width = JDIMENSION(W);
    C.image_height = JDIMENSION(H);
    C.input_components = 3;
    C.in_color_space = JCS_RGB;
    jpeg_set_defaults(&C);
    if (Quality > 0) // 0: libjpeg's own defaults, as cjpeg with no option
        jpeg_set_quality(&C, Quality, TRUE);
    jpeg_start_compress(&C, TRUE);
    std::vector<uint8_t> Row(size_t(W) * 3);
    for (int Y = 0; Y < H; ++Y) {
        FillRow(Y, Row.data());
        JSAMPROW R = Row.data();
        jpeg_write_scanlines(&C, &R, 1);
    }
    jpeg_finish_compress(&C);
    jpeg_destroy_compress(&C);
    std::fclose(F);
}

} // namespace kvbench

namespace kvbench {

// R, G, B pixels as cjpeg writes them with no option given: libjpeg's defaults alone
// (quality 75, 2 x 2 chroma subsampling, the slow integer DCT, standard Huffman tables).
inline void WriteCjpegFile(const std::string& Name, int W, int H, const std::vector<uint8_t>& Rgb)
{
    WriteLibjpegFile(
        Name, W, H,
        [&](int Y, uint8_t* Row) { std::memcpy(Row, Rgb.data() + size_t(Y) * size_t(W) * 3, size_t(W) * 3); }, 0);
}

} // namespace kvbench
