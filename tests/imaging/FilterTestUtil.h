// What the format filter tests share: an abort flag wired into a progress record,
// small pictures, pixel access and the files that ImageMagick wrote.
#pragma once

#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace kv::test {

struct TProgressFixture {
    bool Aborting = false;
    TProgressRec Progress;
    TProgressFixture() { Progress.Aborting = &Aborting; }
};

inline TRGB PixelAt(const TBitmap& b, int32_t x, int32_t y)
{
    const uint8_t* row = b.ScanLine(y);
    if (b.PixelFormat() == pf1bit)
        return (row[x >> 3] & (0x80 >> (x & 7))) ? TRGB{255, 255, 255} : TRGB{0, 0, 0};
    return TRGB{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
}

inline void SetPixelAt(TBitmap& b, int32_t x, int32_t y, TRGB c)
{
    uint8_t* row = b.ScanLine(y);
    row[3 * x] = c.b;
    row[3 * x + 1] = c.g;
    row[3 * x + 2] = c.r;
}

// A 24-bit picture whose pixel (x, y) is Colors[(x + y) % Colors.size()], or a
// gradient of many colours when Colors is empty.
inline void FillPicture(TBitmap& b, int32_t w, int32_t h, const std::vector<TRGB>& Colors = {})
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            SetPixelAt(b, x, y,
                       Colors.empty() ? CreateRGB(uint8_t(x * 7 + y), uint8_t(y * 5 + 3), uint8_t(x ^ y))
                                      : Colors[size_t(x + y) % Colors.size()]);
}

inline std::vector<uint8_t> ReadTestFile(const std::string& Name)
{
    std::ifstream in(std::string(KV_TEST_DATA) + "/iefiles/" + Name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The 4 x 3 picture of src.ppm, from which the ImageMagick files were made.
inline TRGB SourcePixel(int32_t x, int32_t y)
{
    static const TRGB rows[3][4] = {
        {CreateRGB(255, 0, 0), CreateRGB(0, 255, 0), CreateRGB(0, 0, 255), CreateRGB(255, 255, 255)},
        {CreateRGB(0, 0, 0), CreateRGB(255, 255, 0), CreateRGB(0, 255, 255), CreateRGB(255, 0, 255)},
        {CreateRGB(10, 20, 30), CreateRGB(40, 50, 60), CreateRGB(70, 80, 90), CreateRGB(128, 128, 128)},
    };
    return rows[y][x];
}

inline std::vector<uint8_t> Bytes(TMemoryStream& s) { return s.Bytes(); }

} // namespace kv::test
