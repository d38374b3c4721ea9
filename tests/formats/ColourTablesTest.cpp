// Colour tables and lookups of the GIF model and the DIB writer on inputs whose
// channels differ, and rows whose length is not a multiple of four.
#include "formats/CtrlUtils.h"
#include "formats/GIFImage.h"
#include "formats/KvGraph.h"

#include <gtest/gtest.h>

using namespace kv;
using namespace kv::GIFImage;

TEST(GifColourTables, PalettesAndLookupsTellTheChannelsApart)
{
    const TGIFPalette Web = WebPalette();
    ASSERT_EQ(Web.size(), 216u);
    // Entry 36 r + 6 g + b holds (51 r, 51 g, 51 b).
    EXPECT_EQ(Web[1].Blue, 51);
    EXPECT_EQ(Web[5].Blue, 255);
    EXPECT_EQ(Web[6].Green, 51);
    EXPECT_EQ(Web[36].Red, 51);
    EXPECT_EQ(Web[36 * 2 + 6 * 3 + 4].Red, 102);
    EXPECT_EQ(Web[36 * 2 + 6 * 3 + 4].Green, 153);
    EXPECT_EQ(Web[36 * 2 + 6 * 3 + 4].Blue, 204);

    const TGIFPalette Four = GrayPalette(4);
    ASSERT_EQ(Four.size(), 4u);
    const uint8_t Levels[4] = {0, 128, 192, 255};
    for (int I = 0; I < 4; ++I) {
        EXPECT_EQ(Four[size_t(I)].Red, Levels[I]);
        EXPECT_EQ(Four[size_t(I)].Blue, Levels[I]);
    }
    EXPECT_EQ(GrayPalette(256).size(), 256u);

    TGIFColor C;
    TNetscapeColorLookup Netscape;
    EXPECT_EQ(Netscape.Lookup(255, 0, 0, C), 180); // 36 x 5
    EXPECT_EQ(C.Red, 255);
    EXPECT_EQ(C.Blue, 0);
    EXPECT_EQ(Netscape.Lookup(0, 0, 255, C), 5);
    EXPECT_EQ(Netscape.Lookup(0, 100, 0, C), 12); // (100 + 3) div 51 = 2
    EXPECT_EQ(C.Green, 102);
    TGrayScaleLookup Grey;
    EXPECT_EQ(Grey.Lookup(0, 0, 255, C), 28); // 29 x 255 shr 8
    EXPECT_EQ(Grey.Lookup(0, 255, 0, C), 149);
    TMonochromeLookup Mono;
    // The weighted sum against 32513: blue alone never reaches it, green alone does.
    EXPECT_EQ(Mono.Lookup(0, 0, 255, C), 0);
    EXPECT_EQ(Mono.Lookup(0, 217, 0, C), 1); // 150 x 217 = 32550
    EXPECT_EQ(Mono.Lookup(0, 216, 0, C), 0); // 32400
}

TEST(DibRows, RowsOfOddWidthsArePaddedToFourBytes)
{
    struct Case {
        int32_t Width;
        TPixelFormat Format;
        int64_t Row;
    };
    for (const Case& C : {Case{5, pf8bit, 8},
                          {3, pf8bit, 4},
                          {9, pf1bit, 4},
                          {33, pf1bit, 8},
                          {3, pf4bit, 4},
                          {9, pf4bit, 8},
                          {5, pf24bit, 16},
                          {1, pf24bit, 4}}) {
        SCOPED_TRACE(C.Width);
        TBitmap B;
        B.SetPixelFormat(C.Format);
        B.SetSize(C.Width, 3);
        int32_t HeaderSize = 0;
        int64_t ImageSize = 0;
        DIBHeaderSizes(B, C.Format, HeaderSize, ImageSize);
        EXPECT_EQ(ImageSize, 3 * C.Row);
        EXPECT_EQ(MakeDIBHeader(B, C.Format).biSizeImage, uint32_t(3 * C.Row));
    }
    // A whole file of a 5 x 2 picture at 8 bits: rows of 8 bytes.
    TBitmap B;
    B.SetPixelFormat(pf24bit);
    B.SetSize(5, 2);
    auto S = PixelFormatConvert(B, pf8bit, rmHistogram);
    EXPECT_EQ(S->Bytes().size(), 14u + 40 + 1024 + 2 * 8);
}

TEST(DibRows, InfoHeaderFieldsKeepTheirOffsets)
{
    TBitmapInfoHeader H;
    H.biSize = 40;
    H.biWidth = -7;
    H.biHeight = 300;
    H.biPlanes = 1;
    H.biBitCount = 24;
    H.biCompression = 3;
    H.biSizeImage = 1234;
    H.biXPelsPerMeter = 3780;
    H.biYPelsPerMeter = 2835;
    H.biClrUsed = 16;
    H.biClrImportant = 9;
    uint8_t B[40] = {};
    WriteBitmapInfoHeader(B, H);
    EXPECT_EQ(GetU32LE(B + 4), uint32_t(-7));
    EXPECT_EQ(GetU32LE(B + 8), 300u);
    EXPECT_EQ(GetU16LE(B + 14), 24);
    EXPECT_EQ(GetU32LE(B + 20), 1234u);
    EXPECT_EQ(GetU32LE(B + 24), 3780u);
    EXPECT_EQ(GetU32LE(B + 28), 2835u);
    EXPECT_EQ(GetU32LE(B + 32), 16u);
    EXPECT_EQ(GetU32LE(B + 36), 9u);
    const TBitmapInfoHeader R = ReadBitmapInfoHeader(B);
    EXPECT_EQ(R.biWidth, -7);
    EXPECT_EQ(R.biXPelsPerMeter, 3780);
    EXPECT_EQ(R.biYPelsPerMeter, 2835);
    EXPECT_EQ(R.biClrImportant, 9u);
}

TEST(ScreenFit, ATallRectangleMovesUpByItsOwnHeight)
{
    const TRect Screen{0, 0, 800, 600};
    TRect R{10, 550, 60, 700}; // 50 wide, 150 tall, below the screen
    FitRectToScreen(R, Screen);
    EXPECT_EQ(R, (TRect{10, 450, 60, 600}));
    R = TRect{780, 10, 900, 40}; // 120 wide, 30 tall, past the right side
    FitRectToScreen(R, Screen);
    EXPECT_EQ(R, (TRect{680, 10, 800, 40}));
}
