// The imaging library's bitmap reader on the rarer variants: 16-bit fields other than
// 5-5-5 and 5-6-5 (files written by ImageMagick) and run-length deltas of unequal
// offsets.
#include "imaging/BmpFilter.h"
#include "imaging/imgdefs.h"

#include "imaging/FilterTestUtil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace kv;
using namespace kv::test;

namespace {

std::vector<uint8_t> DataFile(const std::string& Name)
{
    std::ifstream in(std::string(KV_TEST_DATA) + "/lesser/" + Name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct TLoad {
    TBitmap Bitmap;
    TIOParamsVals Params{nullptr};
    TProgressFixture P;
};

void LoadBmp(TLoad& L, const std::vector<uint8_t>& File)
{
    TReadOnlyMemoryStream s(File.data(), int64_t(File.size()));
    LoadBmpFromStream(s, L.Bitmap, 0, L.Params, L.P.Progress, false);
}

void Put16(std::vector<uint8_t>& B, uint32_t V)
{
    B.push_back(uint8_t(V));
    B.push_back(uint8_t(V >> 8));
}
void Put32(std::vector<uint8_t>& B, uint32_t V)
{
    Put16(B, V);
    Put16(B, V >> 16);
}

// An RLE8 file of W x H with a palette and the codes, the data right after the palette.
std::vector<uint8_t> Rle8(int32_t W, int32_t H, const std::vector<TRGB>& Palette, const std::vector<uint8_t>& Codes)
{
    std::vector<uint8_t> B;
    Put16(B, 0x4D42);
    Put32(B, 0);
    Put32(B, 0);
    Put32(B, 0);
    Put32(B, 40);
    Put32(B, uint32_t(W));
    Put32(B, uint32_t(H));
    Put16(B, 1);
    Put16(B, 8);
    Put32(B, 1);
    Put32(B, 0);
    Put32(B, 3780);
    Put32(B, 3780);
    Put32(B, uint32_t(Palette.size()));
    Put32(B, 0);
    for (TRGB C : Palette)
        Put32(B, uint32_t(C.b) | uint32_t(C.g) << 8 | uint32_t(C.r) << 16);
    B.insert(B.end(), Codes.begin(), Codes.end());
    return B;
}

} // namespace

// lesser/argb4444.bmp and lesser/argb1555.bmp: see tests/platform/BmpVariantsTest.cpp
// for the commands. A field of n bits shifts to the top of the byte (4 bits: v shl 4,
// 5 bits: v shl 3); alpha is dropped.
TEST(BmpFilterFields, ImageMagickSixteenBitFieldsShiftToTheTopOfEachByte)
{
    struct Case {
        const char* Name;
        TRGB Top[4], Bottom[4];
    };
    const Case Cases[] = {
        // Words ff00 80f0 000f f5a3 / ffff f000 c124 fe7d.
        {"argb4444.bmp",
         {CreateRGB(240, 0, 0), CreateRGB(0, 240, 0), CreateRGB(0, 0, 240), CreateRGB(80, 160, 48)},
         {CreateRGB(240, 240, 240), CreateRGB(0, 0, 0), CreateRGB(16, 32, 64), CreateRGB(224, 112, 208)}},
        // Words fc00 03e0 001f aa86 / ffff 8000 0888 f1da.
        {"argb1555.bmp",
         {CreateRGB(248, 0, 0), CreateRGB(0, 248, 0), CreateRGB(0, 0, 248), CreateRGB(80, 160, 48)},
         {CreateRGB(248, 248, 248), CreateRGB(0, 0, 0), CreateRGB(16, 32, 64), CreateRGB(224, 112, 208)}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        TLoad L;
        LoadBmp(L, DataFile(C.Name));
        ASSERT_FALSE(L.P.Aborting);
        ASSERT_EQ(L.Bitmap.Width(), 4);
        ASSERT_EQ(L.Bitmap.Height(), 2);
        EXPECT_EQ(L.Bitmap.PixelFormat(), pf24bit);
        EXPECT_EQ(L.Params.BitsPerSample, 5);
        for (int32_t X = 0; X < 4; ++X) {
            EXPECT_EQ(PixelAt(L.Bitmap, X, 0), C.Top[X]) << X;
            EXPECT_EQ(PixelAt(L.Bitmap, X, 1), C.Bottom[X]) << X;
        }
    }
}

TEST(BmpFilterRle, DeltaEscapesMoveAcrossAndUpByTheirOwnOffsets)
{
    const TRGB Red = CreateRGB(255, 0, 0), Green = CreateRGB(0, 255, 0), Black = CreateRGB(0, 0, 0);
    struct Case {
        std::vector<uint8_t> Codes;
        std::vector<std::pair<int, int>> Red, Green; // (x, row from the bottom)
    };
    const Case Cases[] = {
        {{1, 1, 0, 2, 3, 1, 1, 2, 0, 1}, {{0, 0}}, {{4, 1}}},
        {{1, 1, 0, 2, 1, 2, 1, 2, 0, 2, 2, 1, 1, 1, 0, 1}, {{0, 0}, {5, 3}}, {{2, 2}}},
        {{2, 1, 0, 2, 0, 3, 1, 2, 0, 1}, {{0, 0}, {1, 0}}, {{2, 3}}},
    };
    for (size_t I = 0; I < std::size(Cases); ++I) {
        SCOPED_TRACE(I);
        TLoad L;
        LoadBmp(L, Rle8(8, 4, {Black, Red, Green}, Cases[I].Codes));
        ASSERT_FALSE(L.P.Aborting);
        for (int Y = 0; Y < 4; ++Y)
            for (int X = 0; X < 8; ++X) {
                TRGB Want = Black;
                for (auto [Rx, Ry] : Cases[I].Red)
                    if (Rx == X && Ry == Y)
                        Want = Red;
                for (auto [Gx, Gy] : Cases[I].Green)
                    if (Gx == X && Gy == Y)
                        Want = Green;
                EXPECT_EQ(PixelAt(L.Bitmap, X, 3 - Y), Want) << X << "," << Y;
            }
    }
}
