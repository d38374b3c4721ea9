// Small pictures written into temporary folders for the thumbnail tests.
#pragma once

#include "formats/GIFImage.h"
#include "formats/PNGImage.h"
#include "platform/Graphics.h"
#include "platform/Jpeg.h"

#include <QCoreApplication>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace kvtest {

// A fresh folder removed with the object.
class TTempFolder {
public:
    TTempFolder()
    {
        static std::atomic<int> Counter{0};
        FPath = std::filesystem::temp_directory_path() /
                ("kv_thumbs_" + std::to_string(::getpid()) + "_" + std::to_string(Counter++));
        std::filesystem::remove_all(FPath);
        std::filesystem::create_directories(FPath);
    }
    ~TTempFolder() { std::filesystem::remove_all(FPath); }
    std::string Path() const { return FPath.string(); }
    std::string File(const std::string& Name) const { return (FPath / Name).string(); }

private:
    std::filesystem::path FPath;
};

inline void WriteBytes(const std::string& FileName, const std::vector<uint8_t>& Bytes)
{
    std::ofstream Out(FileName, std::ios::binary);
    Out.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
}

// A pf24bit bitmap whose pixel (x, y) is RGB(x * 10 + 1, y * 10 + 2, 7).
inline void FillGradient(kv::TBitmap& B, int W, int H)
{
    B.SetPixelFormat(kv::pf24bit);
    B.SetSize(W, H);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X)
            B.SetPixelColor(X, Y, kv::RGB(uint8_t(X * 10 + 1), uint8_t(Y * 10 + 2), 7));
}

inline void WriteBmp(const std::string& FileName, int W, int H)
{
    kv::TBitmap B;
    FillGradient(B, W, H);
    B.SaveToFile(FileName);
}

inline void WriteJpeg(const std::string& FileName, int W, int H)
{
    kv::TBitmap B;
    FillGradient(B, W, H);
    kv::TJPEGImage J;
    J.Assign(&B);
    J.SaveToFile(FileName);
}

inline void WritePng(const std::string& FileName, int W, int H)
{
    kv::TBitmap B;
    FillGradient(B, W, H);
    kv::TPNGImage P;
    P.Assign(&B);
    P.SaveToFile(FileName);
}

inline void WriteGif(const std::string& FileName, int W, int H)
{
    kv::TBitmap B;
    FillGradient(B, W, H);
    kv::GIFImage::TGIFImage G;
    G.Assign(&B);
    G.SaveToFile(FileName);
}

// A 4 x 2 PCX of 8 bits in one plane, version 5, RLE, with the 256-colour palette at
// the end: entry i = (i, 255 - i, 0). Rows: 0 1 2 3 / 4 4 4 4 (a run).
inline std::vector<uint8_t> PcxBytes()
{
    std::vector<uint8_t> B(128, 0);
    B[0] = 10; // manufacturer
    B[1] = 5;  // version
    B[2] = 1;  // RLE
    B[3] = 8;  // bits per pixel per plane
    B[8] = 3;  // xmax = 3 (xmin, ymin 0)
    B[10] = 1; // ymax = 1
    B[65] = 1; // planes
    B[66] = 4; // bytes per line
    B[68] = 1; // palette information
    const uint8_t Data[] = {0, 1, 2, 3, 0xC4, 4};
    for (uint8_t V : Data)
        B.push_back(V);
    B.push_back(12); // palette marker
    for (int I = 0; I < 256; ++I) {
        B.push_back(uint8_t(I));
        B.push_back(uint8_t(255 - I));
        B.push_back(0);
    }
    return B;
}

// A 2 x 2 uncompressed true-colour TGA (type 2, 24 bits), rows stored bottom first:
// bottom row blue, green; top row red, white.
inline std::vector<uint8_t> TgaBytes()
{
    return {0,   0, 2,   0,   0,   0,  0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0, /* header */
            255, 0, 0,   0,   255, 0,                                       /* bottom: blue, green (B, G, R) */
            0,   0, 255, 255, 255, 255 /* top: red, white */};
}

inline void Pump()
{
    for (int I = 0; I < 5; ++I)
        QCoreApplication::processEvents();
}

} // namespace kvtest
