// What the imaging filters read and write beside the pixels, on the cases where the two
// axes or the several fields differ: the DPI adjustment of a square picture, a JPEG
// density in dots per centimetre, the grey weights of a PGM, the TGA extension area, the
// TIFF horizontal predictor on RGB and the PCX resolution rule.
#include "imaging/ImagingIO.h"
#include "imaging/JpegFilter.h"
#include "imaging/PcxFilter.h"
#include "imaging/PnmFilter.h"
#include "imaging/TgaFilter.h"
#include "imaging/TiffFilter.h"
#include "imaging/imgdefs.h"

#include "imaging/FilterTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
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

void Put16(std::vector<uint8_t>& B, uint32_t V)
{
    B.push_back(uint8_t(V));
    B.push_back(uint8_t(V >> 8));
}

void Square(TBitmap& B, int32_t Side, TPixelFormat Format)
{
    B.SetPixelFormat(Format);
    B.SetSize(Side, Side);
    for (int32_t Y = 0; Y < Side; ++Y)
        for (int32_t I = 0; I < B.BytesPerScanLine(); ++I)
            B.ScanLine(Y)[I] = uint8_t(Format == pf1bit ? (Y % 2 ? 0xFF : 0x00) : I * 5 + Y);
}

} // namespace

TEST(DpiAdjustment, SquarePictureWithUnequalDpiChangesItsWidth)
{
    // Height >= width holds for a square: the width is Trunc(W / DpiX * DpiY) and DpiX
    // takes DpiY; the height stays.
    struct Case {
        TPixelFormat Format;
        int32_t DpiX, DpiY, NewWidth;
    };
    const Case Cases[] = {
        {pf24bit, 100, 50, 20}, {pf24bit, 50, 100, 80}, {pf24bit, 300, 200, 26}, {pf1bit, 200, 100, 20}};
    for (const Case& C : Cases) {
        SCOPED_TRACE(std::to_string(C.DpiX) + "x" + std::to_string(C.DpiY));
        TImagingIO io;
        TBitmap B;
        Square(B, 40, C.Format);
        io.SetBitmap(&B);
        io.Params().Width = 40;
        io.Params().Height = 40;
        io.Params().DpiX = C.DpiX;
        io.Params().DpiY = C.DpiY;
        io.AdjustDPI();
        EXPECT_EQ(B.Width(), C.NewWidth);
        EXPECT_EQ(B.Height(), 40);
        EXPECT_EQ(io.Params().DpiX, C.DpiY);
        EXPECT_EQ(io.Params().DpiY, C.DpiY);
        EXPECT_EQ(io.Params().Width, C.NewWidth);
        EXPECT_EQ(io.Params().Height, 40);
    }
}

// lesser/density_28x40_cm.jpg: `convert -size 8x8 xc:gray50 -units PixelsPerCentimeter
// -density 28x40 density_28x40_cm.jpg` (JFIF unit 2, X 28, Y 40).
TEST(JpegDensity, DotsPerCentimetreConvertEachAxis)
{
    const std::vector<uint8_t> F = DataFile("density_28x40_cm.jpg");
    ASSERT_GT(F.size(), 20u);
    ASSERT_EQ(F[13], 2);
    TReadOnlyMemoryStream S(F.data(), int64_t(F.size()));
    TBitmap B;
    TIOParamsVals P(nullptr);
    TProgressFixture Pr;
    LoadJpegFromStream(S, B, P, false, Pr.Progress);
    ASSERT_FALSE(Pr.Aborting);
    EXPECT_EQ(B.Width(), 8);
    EXPECT_EQ(P.DpiX, 71);  // Trunc(28 x 2.54)
    EXPECT_EQ(P.DpiY, 101); // Trunc(40 x 2.54)
}

TEST(PgmWriter, GreyIsTheWeightedSumOfTheChannels)
{
    // (red x 21 + green x 71 + blue x 7) div 100 for each pixel.
    const TRGB In[5] = {CreateRGB(255, 0, 0), CreateRGB(0, 255, 0), CreateRGB(0, 0, 255), CreateRGB(10, 20, 30),
                        CreateRGB(200, 100, 50)};
    const uint8_t Want[5] = {53, 181, 17, 18, 116};
    TBitmap B;
    B.SetPixelFormat(pf24bit);
    B.SetSize(5, 1);
    for (int32_t X = 0; X < 5; ++X)
        SetPixelAt(B, X, 0, In[X]);
    TIOParamsVals P(nullptr);
    P.BitsPerSample = 8;
    P.SamplesPerPixel = 1;
    TMemoryStream S;
    TProgressFixture Pr;
    SavePnmToStream(S, B, P, Pr.Progress);
    ASSERT_FALSE(Pr.Aborting);
    const std::vector<uint8_t>& Out = S.Bytes();
    const std::string Head = "P5 5 1 255\n";
    ASSERT_EQ(Out.size(), Head.size() + 5);
    EXPECT_EQ(std::string(Out.begin(), Out.begin() + long(Head.size())), Head);
    for (int32_t X = 0; X < 5; ++X)
        EXPECT_EQ(Out[Head.size() + size_t(X)], Want[X]) << X;
}

TEST(TgaExtensionArea, EveryFieldIsReadFromItsOffset)
{
    // A 1 x 1 true-colour TGA, then a 495-byte extension area and the version 2 footer.
    std::vector<uint8_t> F = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 9, 8, 7};
    const size_t ExtAt = F.size();
    std::vector<uint8_t> E(495, 0);
    E[0] = 0xEF, E[1] = 0x01;
    std::memcpy(&E[2], "Ann Author", 10);
    std::memcpy(&E[43], "not the author", 14); // comments: not the name
    const uint16_t Date[6] = {12, 25, 2020, 13, 45, 30};
    for (int I = 0; I < 6; ++I)
        E[size_t(367 + 2 * I)] = uint8_t(Date[I]), E[size_t(368 + 2 * I)] = uint8_t(Date[I] >> 8);
    std::memcpy(&E[379], "Job seven", 9);
    E[470] = 99; // not a colour byte
    E[471] = 10, E[472] = 20, E[473] = 30;
    E[474] = 4, E[476] = 3;   // aspect 4 / 3
    E[478] = 18, E[480] = 10; // gamma 18 / 10
    F.insert(F.end(), E.begin(), E.end());
    std::vector<uint8_t> Footer;
    Put16(Footer, uint32_t(ExtAt));
    Put16(Footer, 0);
    Put16(Footer, 0);
    Put16(Footer, 0);
    const char Sig[] = "TRUEVISION-XFILE.";
    Footer.insert(Footer.end(), Sig, Sig + sizeof Sig);
    F.insert(F.end(), Footer.begin(), Footer.end());
    ASSERT_EQ(Footer.size(), 26u);

    TReadOnlyMemoryStream S(F.data(), int64_t(F.size()));
    TBitmap B;
    TIOParamsVals P(nullptr);
    TProgressFixture Pr;
    ReadTgaStream(S, B, P, Pr.Progress, false);
    ASSERT_FALSE(Pr.Aborting);
    EXPECT_EQ(PixelAt(B, 0, 0), CreateRGB(7, 8, 9));
    EXPECT_EQ(P.TgaAuthor, "Ann Author");
    EXPECT_EQ(P.TgaJobName, "Job seven");
    EXPECT_EQ(P.TgaKeyColor, CreateRGB(10, 20, 30));
    EXPECT_DOUBLE_EQ(P.TgaAspectRatio, 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(P.TgaGamma, 1.8);
    // 25 December 2020 is day 44190 after 30 December 1899; 13:45:30 is 49530 seconds.
    EXPECT_NEAR(P.TgaDate, 44190 + 49530.0 / 86400, 1e-6);

    // Written back, every field lands at its offset: key colour 0, red, green, blue.
    TMemoryStream W;
    TProgressFixture Pw;
    WriteTgaStream(W, B, P, Pw.Progress);
    ASSERT_FALSE(Pw.Aborting);
    const std::vector<uint8_t>& O = W.Bytes();
    ASSERT_GT(O.size(), 495u + 26u);
    const uint8_t* X = O.data() + GetU32LE(O.data() + O.size() - 26);
    EXPECT_EQ(GetU16LE(X), 495);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(X + 2)), "Ann Author");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(X + 379)), "Job seven");
    for (int I = 0; I < 6; ++I)
        EXPECT_EQ(GetU16LE(X + 367 + 2 * I), Date[I]) << I;
    EXPECT_EQ(X[470], 0);
    EXPECT_EQ(X[471], 10);
    EXPECT_EQ(X[472], 20);
    EXPECT_EQ(X[473], 30);
    // Trunc(value x 10000) / 10000.
    EXPECT_EQ(GetU16LE(X + 474), 13333);
    EXPECT_EQ(GetU16LE(X + 476), 10000);
    EXPECT_EQ(GetU16LE(X + 478), 18000);
    EXPECT_EQ(GetU16LE(X + 480), 10000);
}

// lesser/rgb_pred2.tif: `convert rgb5x3.ppm -compress lzw -define tiff:predictor=2
// rgb_pred2.tif` (8-bit RGB, LZW, horizontal differencing); rgb5x3.ppm holds pixel
// (x, y) = ((37x + 11y) mod 256, (200 - 29x + 5y) mod 256, (13xy + 90) mod 256).
TEST(TiffPredictor, HorizontalDifferencingOnRgbAddsEachChannelToItsOwn)
{
    const std::vector<uint8_t> F = DataFile("rgb_pred2.tif");
    ASSERT_FALSE(F.empty());
    TReadOnlyMemoryStream S(F.data(), int64_t(F.size()));
    TBitmap B;
    TIOParamsVals P(nullptr);
    TProgressFixture Pr;
    ReadTiff(S, B, P, false, Pr.Progress, TTiffReadOptions{});
    ASSERT_FALSE(Pr.Aborting);
    ASSERT_EQ(B.Width(), 5);
    ASSERT_EQ(B.Height(), 3);
    for (int32_t Y = 0; Y < 3; ++Y)
        for (int32_t X = 0; X < 5; ++X)
            EXPECT_EQ(PixelAt(B, X, Y),
                      CreateRGB(uint8_t((37 * X + 11 * Y) % 256), uint8_t((200 - 29 * X + 5 * Y + 256) % 256),
                                uint8_t((13 * X * Y + 90) % 256)))
                << X << "," << Y;
}

TEST(PcxResolution, ResolutionsThatAreSizesAreNotTakenAsDpi)
{
    const int32_t ScreenX = IEScreenDpiX(), ScreenY = IEScreenDpiY();
    IESetScreenDpi(97, 98);
    // 6 x 4 pictures, 8 bits, one plane; the screen-size fields at 70 and 72.
    struct Case {
        uint16_t DpiX, DpiY, ScreenX, ScreenY;
        int32_t WantX, WantY;
    };
    const Case Cases[] = {
        {300, 200, 0, 0, 300, 200},                             // plausible
        {6, 4, 0, 0, 97, 98},                                   // the picture's size
        {6, 200, 0, 0, 6, 200},                                 // only one side matches: kept
        {640, 480, 640, 480, 97, 98},                           // the screen's size
        {640, 480, 640, 400, 640, 480}, {0, 300, 0, 0, 97, 98}, // below 1
        {9601, 300, 0, 0, 97, 98},                              // past 9600
        {9600, 1, 0, 0, 9600, 1},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(std::to_string(C.DpiX) + "x" + std::to_string(C.DpiY));
        std::vector<uint8_t> F(128, 0);
        F[0] = 10, F[1] = 5, F[2] = 1, F[3] = 8;
        F[8] = 5, F[10] = 3; // XMax, YMax
        F[12] = uint8_t(C.DpiX), F[13] = uint8_t(C.DpiX >> 8);
        F[14] = uint8_t(C.DpiY), F[15] = uint8_t(C.DpiY >> 8);
        F[65] = 1, F[66] = 6;
        F[70] = uint8_t(C.ScreenX), F[71] = uint8_t(C.ScreenX >> 8);
        F[72] = uint8_t(C.ScreenY), F[73] = uint8_t(C.ScreenY >> 8);
        for (int I = 0; I < 4; ++I)
            F.insert(F.end(), {0xC6, 1});
        F.push_back(12);
        F.resize(F.size() + 768, 0);
        TReadOnlyMemoryStream S(F.data(), int64_t(F.size()));
        TBitmap B;
        TIOParamsVals P(nullptr);
        TProgressFixture Pr;
        LoadPcxFromStream(S, B, P, int32_t(F.size()), Pr.Progress, true);
        EXPECT_EQ(P.DpiX, C.WantX);
        EXPECT_EQ(P.DpiY, C.WantY);
    }
    IESetScreenDpi(ScreenX, ScreenY);
}
