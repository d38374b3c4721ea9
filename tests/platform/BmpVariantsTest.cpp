// Windows bitmaps the platform reader meets less often: bit fields other than the usual
// 5-5-5, 5-6-5 and 8-8-8 (files written by ImageMagick) and run-length deltas that move
// unequal distances across and up.
#include "platform/Graphics.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace kv;

namespace {

std::vector<uint8_t> DataFile(const std::string& Name)
{
    std::ifstream in(std::string(KV_TEST_DATA) + "/lesser/" + Name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Load(TBitmap& Bmp, const std::vector<uint8_t>& Bytes)
{
    TReadOnlyMemoryStream S(Bytes.data(), int64_t(Bytes.size()));
    Bmp.LoadFromStream(S);
}

void Put16(std::vector<uint8_t>& B, uint32_t V) { B.insert(B.end(), {uint8_t(V), uint8_t(V >> 8)}); }
void Put32(std::vector<uint8_t>& B, uint32_t V)
{
    Put16(B, V);
    Put16(B, V >> 16);
}

// An 8-bit RLE file of W x H with a palette of Colours (0x00RRGGBB) and the given codes.
std::vector<uint8_t> Rle8(int32_t W, int32_t H, const std::vector<uint32_t>& Colours, const std::vector<uint8_t>& Codes)
{
    std::vector<uint8_t> B{'B', 'M'};
    Put32(B, 0);
    Put32(B, 0);
    Put32(B, uint32_t(14 + 40 + 4 * Colours.size()));
    Put32(B, 40);
    Put32(B, uint32_t(W));
    Put32(B, uint32_t(H));
    Put16(B, 1);
    Put16(B, 8);
    Put32(B, 1); // RLE8
    Put32(B, uint32_t(Codes.size()));
    Put32(B, 0);
    Put32(B, 0);
    Put32(B, uint32_t(Colours.size()));
    Put32(B, 0);
    for (uint32_t C : Colours)
        Put32(B, C);
    B.insert(B.end(), Codes.begin(), Codes.end());
    return B;
}

} // namespace

// The files were made from lesser/src.pam (4 x 2, RGBA: red, green at alpha 136, clear
// blue, (85,170,51) / white, black, (17,34,68) at alpha 204, (238,119,221)) with
//   convert src.pam -define bmp:subtype=ARGB4444 argb4444.bmp
//   convert src.pam -define bmp:subtype=ARGB1555 argb1555.bmp
// (124-byte headers with the masks in them). Each channel v of n bits reads as
// (v * 255 + (2^n - 1) div 2) div (2^n - 1).
TEST(BmpBitFields, ImageMagickArgbFilesUnpackEveryChannel)
{
    struct Case {
        const char* Name;
        uint32_t Top[4], Bottom[4]; // 0xAARRGGBB as the 32-bit rows hold them
    };
    const Case Cases[] = {
        // Stored words ff00 80f0 000f f5a3 / ffff f000 c124 fe7d: 4 bits a channel, x 17.
        {"argb4444.bmp",
         {0xFFFF0000, 0x8800FF00, 0x000000FF, 0xFF55AA33},
         {0xFFFFFFFF, 0xFF000000, 0xCC112244, 0xFFEE77DD}},
        // Stored words fc00 03e0 001f aa86 / ffff 8000 0888 f1da: one alpha bit, 5-bit
        // channels (10 -> 82, 20 -> 165, 6 -> 49, 2 -> 16, 4 -> 33, 8 -> 66, 28 -> 230,
        // 14 -> 115, 26 -> 214).
        {"argb1555.bmp",
         {0xFFFF0000, 0x0000FF00, 0x000000FF, 0xFF52A531},
         {0xFFFFFFFF, 0xFF000000, 0x00102142, 0xFFE673D6}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        TBitmap Bmp;
        Load(Bmp, DataFile(C.Name));
        ASSERT_EQ(Bmp.Width(), 4);
        ASSERT_EQ(Bmp.Height(), 2);
        EXPECT_EQ(Bmp.PixelFormat(), pf32bit);
        for (int X = 0; X < 4; ++X) {
            EXPECT_EQ(GetU32LE(Bmp.ScanLine(0) + 4 * X), C.Top[X]) << X;
            EXPECT_EQ(GetU32LE(Bmp.ScanLine(1) + 4 * X), C.Bottom[X]) << X;
        }
    }
}

TEST(BmpBitFields, TenBitChannelsInThirtyTwoBits)
{
    // 2-10-10-10 with red lowest: masks 0x3FF, 0xFFC00, 0x3FF00000, alpha 0xC0000000,
    // through a 40-byte header with four masks after it (compression 6).
    std::vector<uint8_t> B{'B', 'M'};
    Put32(B, 0);
    Put32(B, 0);
    Put32(B, 14 + 40 + 16);
    Put32(B, 40);
    Put32(B, 2);
    Put32(B, 1);
    Put16(B, 1);
    Put16(B, 32);
    Put32(B, 6);
    for (int I = 0; I < 5; ++I)
        Put32(B, 0);
    for (uint32_t M : {0x3FFu, 0xFFC00u, 0x3FF00000u, 0xC0000000u})
        Put32(B, M);
    // (r 1023, g 0, b 512, a 1) and (r 4, g 1020, b 0, a 3).
    Put32(B, 0x3FFu | 0u << 10 | 512u << 20 | 1u << 30);
    Put32(B, 4u | 1020u << 10 | 0u << 20 | 3u << 30);
    TBitmap Bmp;
    Load(Bmp, B);
    ASSERT_EQ(Bmp.Width(), 2);
    EXPECT_EQ(Bmp.PixelFormat(), pf32bit);
    // 512 -> (512 * 255 + 511) div 1023 = 128; 4 -> 1; 1020 -> 254; alpha 1 -> 85.
    EXPECT_EQ(GetU32LE(Bmp.ScanLine(0)), 0x55FF0080u);
    EXPECT_EQ(GetU32LE(Bmp.ScanLine(0) + 4), 0xFF01FE00u);
}

TEST(BmpRle, DeltaEscapesMoveAcrossAndUpByTheirOwnOffsets)
{
    // 8 x 4, black, red, green, blue. Rows are counted from the bottom.
    const std::vector<uint32_t> Pal = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    struct Case {
        std::vector<uint8_t> Codes;
        std::vector<std::pair<int, int>> Red, Green; // (x, row from the bottom)
    };
    const Case Cases[] = {
        // One red, a delta of 3 across and 1 up, one green: green at (4, 1).
        {{1, 1, 0, 2, 3, 1, 1, 2, 0, 1}, {{0, 0}}, {{4, 1}}},
        // A delta of 1 across and 2 up, then the other way round.
        {{1, 1, 0, 2, 1, 2, 1, 2, 0, 2, 2, 1, 1, 1, 0, 1}, {{0, 0}, {5, 3}}, {{2, 2}}},
        // A delta straight up keeps the column.
        {{2, 1, 0, 2, 0, 3, 1, 2, 0, 1}, {{0, 0}, {1, 0}}, {{2, 3}}},
    };
    for (size_t I = 0; I < std::size(Cases); ++I) {
        SCOPED_TRACE(I);
        TBitmap Bmp;
        Load(Bmp, Rle8(8, 4, Pal, Cases[I].Codes));
        int Coloured = 0;
        for (int Y = 0; Y < 4; ++Y)
            for (int X = 0; X < 8; ++X) {
                const TColor C = Bmp.PixelColor(X, 3 - Y);
                TColor Want = clBlack;
                for (auto [Rx, Ry] : Cases[I].Red)
                    if (Rx == X && Ry == Y)
                        Want = clRed;
                for (auto [Gx, Gy] : Cases[I].Green)
                    if (Gx == X && Gy == Y)
                        Want = clLime;
                Coloured += Want != clBlack;
                EXPECT_EQ(C, Want) << X << "," << Y;
            }
        EXPECT_EQ(size_t(Coloured), Cases[I].Red.size() + Cases[I].Green.size());
    }
}
