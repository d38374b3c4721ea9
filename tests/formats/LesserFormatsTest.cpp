// The lesser readers on the cases their commonest files never show: a version-2 PCX
// palette, a TGA colour map that starts past entry 0, an animated cursor whose chunks
// have odd sizes, and a GIF whose loop block has the other spelling.
#include "formats/AniFile.h"
#include "formats/KvGIF.h"
#include "formats/Pcx_unit.h"
#include "formats/Targa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace kv;

namespace {

using Bytes = std::vector<uint8_t>;

std::string WriteTemp(const Bytes& Data, const char* Name)
{
    auto Path = std::filesystem::temp_directory_path() / (std::string("kv_lesser_") + Name);
    std::ofstream(Path, std::ios::binary)
        .write(reinterpret_cast<const char*>(Data.data()), std::streamsize(Data.size()));
    return Path.string();
}

Bytes DataFile(const std::string& Name)
{
    std::ifstream in(std::string(KV_TEST_DATA) + "/lesser/" + Name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Put16(Bytes& B, uint32_t V)
{
    B.push_back(uint8_t(V));
    B.push_back(uint8_t(V >> 8));
}
void Put32(Bytes& B, uint32_t V)
{
    Put16(B, V);
    Put16(B, V >> 16);
}

} // namespace

TEST(PcxPalette, VersionTwoWidensComponentsBelowFour)
{
    // 16 colours as four planes of one bit, 8 x 1; header entry 0 = (1, 2, 3), entry 1 =
    // (4, 200, 0). Version 2 multiplies components below 4 by 85 before keeping 6 bits;
    // version 3 takes the default table; a planar picture's palette is (c + 1) x 4 - 1.
    struct Case {
        uint8_t Version;
        TPaletteEntry E0, E1;
    };
    const Case Cases[] = {
        {2, {87, 171, 255, 0}, {7, 203, 3, 0}}, // 85, 170, 255 -> 21, 42, 63; 0 -> 0
        {5, {3, 3, 3, 0}, {7, 203, 3, 0}},      // 1, 2, 3 -> 0 in 6 bits
        {3, {3, 3, 3, 0}, {3, 3, 131, 0}},      // the default table's (0, 0, 32)
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(int(C.Version));
        Bytes F(128, 0);
        F[0] = 10;
        F[1] = C.Version;
        F[2] = 1;
        F[3] = 1; // bits per pixel per plane
        F[8] = 7; // xmax
        F[16] = 1, F[17] = 2, F[18] = 3;
        F[19] = 4, F[20] = 200, F[21] = 0;
        F[65] = 4;                                   // planes
        F[66] = 1;                                   // bytes per line
        F.insert(F.end(), {0x40, 0x00, 0x00, 0x00}); // pixel 1 has index 1
        TBitmap Bmp;
        ASSERT_TRUE(LoadPCXFile(WriteTemp(F, "v2.pcx"), &Bmp));
        ASSERT_GE(Bmp.PaletteEntries().size(), 2u);
        EXPECT_EQ(Bmp.PaletteEntries()[0], C.E0);
        EXPECT_EQ(Bmp.PaletteEntries()[1], C.E1);
        EXPECT_EQ(Bmp.ScanLine(0)[0], 0);
        EXPECT_EQ(Bmp.ScanLine(0)[1], 1);
    }
}

TEST(TgaColourMap, AMapStartingPastEntryZeroFillsFromItsFirstEntry)
{
    struct Case {
        uint8_t EntryBits;
        Bytes Map;
    };
    // Three entries red, green, blue at 5, 6 and 7, as 16-bit (x 2 of 5 bits) and as
    // 24-bit entries (blue, green, red; 6 bits kept).
    const Case Cases[] = {
        {16, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00}},
        {24, {0, 0, 255, 0, 255, 0, 255, 0, 0}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(int(C.EntryBits));
        Bytes F = {0, 1, 1, 5, 0, 3, 0, C.EntryBits, 0, 0, 0, 0, 2, 0, 2, 0, 8, 0x20};
        F.insert(F.end(), C.Map.begin(), C.Map.end());
        F.insert(F.end(), {5, 6, 7, 4}); // top row first
        TBitmap Bmp;
        ASSERT_TRUE(LoadTGAFile(WriteTemp(F, "map5.tga"), &Bmp));
        EXPECT_EQ(Bmp.PixelFormat(), pf8bit);
        const std::vector<TPaletteEntry>& P = Bmp.PaletteEntries();
        ASSERT_EQ(P.size(), 256u);
        const uint8_t Full = C.EntryBits == 16 ? 248 : 252;
        EXPECT_EQ(P[5], (TPaletteEntry{Full, 0, 0, 0}));
        EXPECT_EQ(P[6], (TPaletteEntry{0, Full, 0, 0}));
        EXPECT_EQ(P[7], (TPaletteEntry{0, 0, Full, 0}));
        EXPECT_EQ(P[4], (TPaletteEntry{0, 0, 0, 0})); // before the map: black
        EXPECT_EQ(P[0], (TPaletteEntry{0, 0, 0, 0}));
        EXPECT_EQ(Bmp.ScanLine(0)[0], 5);
        EXPECT_EQ(Bmp.ScanLine(0)[1], 6);
        EXPECT_EQ(Bmp.ScanLine(1)[0], 7);
        EXPECT_EQ(Bmp.ScanLine(1)[1], 4);
    }
}

namespace {

Bytes Chunk(const char* Id, const Bytes& D)
{
    Bytes C(Id, Id + 4);
    Put32(C, uint32_t(D.size()));
    C.insert(C.end(), D.begin(), D.end());
    if (D.size() & 1)
        C.push_back(0); // the pad byte after an odd-sized chunk
    return C;
}

// A 16 x 16 cursor file of one 4-bit image, hot spot (HotX, 7).
Bytes CursorFile(uint16_t HotX)
{
    Bytes Img;
    Put32(Img, 40);
    Put32(Img, 16);
    Put32(Img, 32);
    Put16(Img, 1);
    Put16(Img, 4);
    for (int I = 0; I < 6; ++I)
        Put32(Img, 0);
    for (int I = 0; I < 16; ++I)
        Put32(Img, uint32_t(I * 0x111111));
    Img.resize(Img.size() + 16 * 8 + 16 * 4, 0x11);
    Bytes F;
    Put16(F, 0);
    Put16(F, 2);
    Put16(F, 1);
    F.insert(F.end(), {16, 16, 16, 0});
    Put16(F, HotX);
    Put16(F, 7);
    Put32(F, uint32_t(Img.size()));
    Put32(F, 22);
    F.insert(F.end(), Img.begin(), Img.end());
    return F;
}

Bytes U32(uint32_t V)
{
    Bytes B;
    Put32(B, V);
    return B;
}

} // namespace

TEST(AniChunks, OddSizedChunksArePaddedAtBothLevels)
{
    Bytes Anih;
    for (uint32_t V : {36u, 2u, 2u, 0u, 0u, 0u, 0u, 9u, 1u})
        Put32(Anih, V);
    Bytes Info = {'I', 'N', 'F', 'O'};
    for (const Bytes& C : {Chunk("INAM", {'a', 'b', 'c'}), Chunk("IART", {'x', 'y', 'z', 'w', 'v'})})
        Info.insert(Info.end(), C.begin(), C.end());
    Bytes Fram = {'f', 'r', 'a', 'm'};
    for (uint16_t Hot : {3, 5}) {
        const Bytes C = Chunk("icon", CursorFile(Hot));
        Fram.insert(Fram.end(), C.begin(), C.end());
    }
    Bytes Body = {'A', 'C', 'O', 'N'};
    // An odd-sized chunk nobody knows, between the header and the rates.
    for (const Bytes& C : {Chunk("anih", Anih), Chunk("LIST", Info), Chunk("junk", {1, 2, 3}), Chunk("rate", U32(6)),
                           Chunk("rate", U32(12)), Chunk("LIST", Fram)})
        Body.insert(Body.end(), C.begin(), C.end());
    const Bytes File = Chunk("RIFF", Body);
    TAnimatedCursorImage A;
    TReadOnlyMemoryStream S(File.data(), int64_t(File.size()));
    A.LoadFromStream(S);
    EXPECT_EQ(A.Title(), "abc");
    EXPECT_EQ(A.Creator(), "xyzwv");
    ASSERT_EQ(A.FrameCount(), 2);
    EXPECT_EQ(A.Frames(0)->JiffRate(), 6u);
    EXPECT_EQ(A.Frames(1)->JiffRate(), 12u);
    EXPECT_EQ(A.Frames(0)->Icon()->Width(), 16);
    EXPECT_EQ(A.Frames(1)->Icon()->Width(), 16);
}

// lesser/loop_netscape.gif: `convert -size 2x2 xc:red -size 2x2 xc:blue -delay 10
// -loop 3 loop_netscape.gif`, which stores the count 2; lesser/loop_animexts.gif is the
// same file with its application identifier NETSCAPE2.0 replaced by ANIMEXTS1.0.
TEST(GifLoopBlock, BothSpellingsGiveTheLoopCount)
{
    for (const char* Name : {"loop_netscape.gif", "loop_animexts.gif"}) {
        SCOPED_TRACE(Name);
        const Bytes F = DataFile(Name);
        ASSERT_EQ(F.size(), 91u);
        TGIFImage Gif;
        TReadOnlyMemoryStream S(F.data(), int64_t(F.size()));
        Gif.LoadFromStream(S);
        EXPECT_EQ(Gif.Count(), 2);
        EXPECT_TRUE(Gif.LoopEnabled());
        EXPECT_EQ(Gif.LoopCount(), 2);
    }
    // Anything else is no loop block.
    Bytes Other = DataFile("loop_netscape.gif");
    const std::string Id = "NETSCAPE2.0";
    auto At = std::search(Other.begin(), Other.end(), Id.begin(), Id.end());
    ASSERT_NE(At, Other.end());
    At[0] = 'M';
    TGIFImage Gif;
    TReadOnlyMemoryStream S(Other.data(), int64_t(Other.size()));
    Gif.LoadFromStream(S);
    EXPECT_EQ(Gif.Count(), 2);
    EXPECT_FALSE(Gif.LoopEnabled());
}
