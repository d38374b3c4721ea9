#include "widgets/ThumbNail.h"

#include "ThumbTestUtil.h"
#include "formats/GIFImage.h"
#include "platform/Icon.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

using namespace kv;
using namespace kvtest;

namespace {

std::unique_ptr<TBitmap> Gradient(int W, int H)
{
    auto B = std::make_unique<TBitmap>();
    FillGradient(*B, W, H);
    return B;
}

TRect ImageBounds(const Tthumbnail& T)
{
    const tThumbimage* I = T.Image();
    return Bounds(I->Left(), I->Top(), I->Width(), I->Height());
}

} // namespace

TEST(ThumbMisc, RoundAwayFromZeroAndFitSize)
{
    EXPECT_EQ(RoundAwayFromZero(2.0), 2);
    EXPECT_EQ(RoundAwayFromZero(1.25), 2);
    EXPECT_EQ(RoundAwayFromZero(-1.25), -2);
    EXPECT_EQ(RoundAwayFromZero(3.1622), 4); // Sqrt(10)
    EXPECT_EQ(FitSize({1000, 500}, {200, 200}), (TSize{200, 100}));
    EXPECT_EQ(FitSize({150, 100}, {200, 200}), (TSize{199, 133})); // p held as a single
    EXPECT_EQ(FitSize({0, 100}, {200, 200}), (TSize{0, 0}));
}

TEST(Thumbnail, FitImageCentresAndScales)
{
    Tthumbnail T;
    T.SetMinimizeMemory(false);
    T.SetBounds(0, 0, 108, 103);
    T.Image()->Picture()->TakeGraphic(Gradient(400, 100));
    T.FitImage();
    EXPECT_EQ(T.ClientWidth(), 100);
    EXPECT_EQ(T.ClientHeight(), 80);
    EXPECT_EQ(ImageBounds(T), Bounds(4, 46, 100, 25));
    T.SetTitlePlacement(T_Down);
    EXPECT_EQ(ImageBounds(T), Bounds(4, 32, 100, 25));

    T.SetTitlePlacement(T_Up);
    T.Image()->Picture()->TakeGraphic(Gradient(50, 40));
    T.FitImage();
    EXPECT_EQ(ImageBounds(T), Bounds(29, 38, 50, 40));

    T.SetBounds(0, 0, 100, 100);
    T.Image()->Picture()->TakeGraphic(Gradient(200, 100));
    T.FitImage();
    EXPECT_EQ(T.Image()->Width(), 92);
    EXPECT_EQ(T.Image()->Height(), 46);

    // Smaller than the strip: no wrapped box, nothing divides by zero.
    T.SetBounds(0, 0, 5, 10);
    T.FitImage();
    EXPECT_EQ(T.ClientWidth(), 0);
    EXPECT_EQ(T.ClientHeight(), 0);
    EXPECT_EQ(T.Image()->Width(), 0);
    T.Image()->Picture()->TakeGraphic(Gradient(0, 0));
    T.FitImage();
    EXPECT_EQ(T.Image()->Width(), 0);
}

TEST(Thumbnail, ShrinkKeepsSmallPicturesAndMarksModified)
{
    tThumbimage I;
    I.Picture()->TakeGraphic(Gradient(1000, 500));
    I.Shrink(200, 200);
    auto* B = dynamic_cast<TBitmap*>(I.Picture()->Graphic());
    ASSERT_NE(B, nullptr);
    EXPECT_EQ(B->Width(), 200);
    EXPECT_EQ(B->Height(), 100);
    EXPECT_EQ(B->PixelFormat(), pf24bit);
    EXPECT_TRUE(I.Modified());

    tThumbimage Small;
    Small.Picture()->TakeGraphic(Gradient(150, 100));
    TGraphic* Before = Small.Picture()->Graphic();
    Small.Shrink(200, 200);
    EXPECT_EQ(Small.Picture()->Graphic(), Before);
    EXPECT_FALSE(Small.Modified());
}

TEST(Thumbnail, QuarterTurnsMoveEveryPixelExactly)
{
    tThumbimage I;
    I.Picture()->TakeGraphic(Gradient(3, 2));
    auto Pixel = [&](int X, int Y) { return dynamic_cast<TBitmap*>(I.Picture()->Graphic())->PixelColor(X, Y); };
    const TColor P00 = RGB(1, 2, 7), P21 = RGB(21, 12, 7);

    I.SetAngle(AT90);
    EXPECT_EQ(I.Picture()->Width(), 2);
    EXPECT_EQ(I.Picture()->Height(), 3);
    EXPECT_EQ(Pixel(1, 0), P00);
    EXPECT_EQ(Pixel(0, 2), P21);
    EXPECT_EQ(I.Angle(), AT90);
    EXPECT_TRUE(I.Modified());

    I.SetAngle(AT0); // one counter-clockwise turn, not none
    EXPECT_EQ(I.Picture()->Width(), 3);
    for (int Y = 0; Y < 2; ++Y)
        for (int X = 0; X < 3; ++X)
            EXPECT_EQ(Pixel(X, Y), RGB(uint8_t(X * 10 + 1), uint8_t(Y * 10 + 2), 7));
    EXPECT_FALSE(I.Modified());

    I.SetAngle(AT180);
    for (int Y = 0; Y < 2; ++Y)
        for (int X = 0; X < 3; ++X)
            EXPECT_EQ(Pixel(2 - X, 1 - Y), RGB(uint8_t(X * 10 + 1), uint8_t(Y * 10 + 2), 7));
    I.SetAngle(AT90);
    I.SetAngle(AT0);
    for (int Y = 0; Y < 2; ++Y)
        for (int X = 0; X < 3; ++X)
            EXPECT_EQ(Pixel(X, Y), RGB(uint8_t(X * 10 + 1), uint8_t(Y * 10 + 2), 7));
}

TEST(Thumbnail, TurnKeepsPaletteAndBitsOfPalettePictures)
{
    for (TPixelFormat Format : {pf1bit, pf4bit, pf8bit}) {
        auto B = std::make_unique<TBitmap>();
        B->SetPixelFormat(Format);
        B->SetSize(5, 3);
        std::vector<TPaletteEntry> Pal(Format == pf1bit ? 2 : Format == pf4bit ? 16 : 256);
        for (size_t K = 0; K < Pal.size(); ++K)
            Pal[K] = TPaletteEntry{uint8_t(K * 7), uint8_t(255 - K), uint8_t(K), 0};
        B->SetPaletteEntries(Pal);
        const int Bits = Format == pf1bit ? 1 : Format == pf4bit ? 4 : 8;
        auto Index = [&](int X, int Y) { return uint32_t((X * 3 + Y * 5 + 1) % (1 << Bits)); };
        auto Raw = [&](const TBitmap& Bm, int X, int Y) {
            const uint8_t* Row = Bm.ScanLine(Y);
            if (Bits == 8)
                return uint32_t(Row[X]);
            if (Bits == 4)
                return uint32_t((Row[X / 2] >> (X % 2 ? 0 : 4)) & 15);
            return uint32_t((Row[X / 8] >> (7 - X % 8)) & 1);
        };
        for (int Y = 0; Y < 3; ++Y) {
            uint8_t* Row = B->ScanLine(Y);
            for (int X = 0; X < 5; ++X) {
                const uint32_t V = Index(X, Y);
                if (Bits == 8)
                    Row[X] = uint8_t(V);
                else if (Bits == 4)
                    Row[X / 2] = uint8_t(Row[X / 2] | (V << (X % 2 ? 0 : 4)));
                else
                    Row[X / 8] = uint8_t(Row[X / 8] | (V << (7 - X % 8)));
            }
        }
        tThumbimage I;
        I.Picture()->TakeGraphic(std::move(B));
        I.SetAngle(AT270); // counter-clockwise: (x, y) -> (y, R - x - 1)
        auto* T = dynamic_cast<TBitmap*>(I.Picture()->Graphic());
        ASSERT_NE(T, nullptr);
        EXPECT_EQ(T->PixelFormat(), Format);
        EXPECT_EQ(T->PaletteEntries(), Pal);
        ASSERT_EQ(T->Width(), 3);
        ASSERT_EQ(T->Height(), 5);
        for (int Y = 0; Y < 3; ++Y)
            for (int X = 0; X < 5; ++X)
                EXPECT_EQ(Raw(*T, Y, 5 - X - 1), Index(X, Y)) << int(Format) << " " << X << "," << Y;
    }
}

TEST(Thumbnail, CancelledTurnKeepsPictureAndAngle)
{
    tThumbimage I;
    I.Picture()->TakeGraphic(Gradient(4, 3));
    TGraphic* Before = I.Picture()->Graphic();
    int Calls = 0;
    std::vector<int> Percents;
    I.OnRotate = [&](TObject*, uint8_t Percent, bool& Break) {
        Percents.push_back(Percent);
        Break = ++Calls == 6;
    };
    I.SetAngle(AT90);
    EXPECT_EQ(Calls, 6);
    EXPECT_EQ(I.Picture()->Graphic(), Before);
    EXPECT_EQ(I.Angle(), AT0);
    EXPECT_FALSE(I.Modified());
    // Trunc(x * y / (R * B) * 100) for x = 0, then x = 1 (y = 0, 1, 2).
    EXPECT_EQ(Percents, (std::vector<int>{0, 0, 0, 0, 8, 16}));

    I.OnRotate = nullptr;
    I.SetAngle(AT90);
    EXPECT_EQ(I.Angle(), AT90);
    EXPECT_EQ(I.Picture()->Width(), 3);

    // Icons cannot be turned.
    tThumbimage Icon;
    auto Ico = std::make_unique<TIcon>();
    TBitmap Face;
    FillGradient(Face, 4, 4);
    Ico->Assign(&Face);
    Icon.Picture()->TakeGraphic(std::move(Ico));
    EXPECT_FALSE(Icon.CanModify());
    Icon.SetAngle(AT180);
    EXPECT_EQ(Icon.Angle(), AT0);
}

TEST(Thumbnail, LoadsEachKindByExtensionInAnyCase)
{
    TTempFolder F;
    WriteBytes(F.File("one.Pcx"), PcxBytes());
    WriteBytes(F.File("two.tga"), TgaBytes());
    WritePng(F.File("three.PnG"), 6, 5);
    WriteGif(F.File("four.gif"), 7, 3);

    Tthumbnail T;
    T.SetMinimizeMemory(false);
    T.SetFilename(F.File("one.Pcx"));
    EXPECT_EQ(T.Filename(), F.File("one.Pcx"));
    EXPECT_EQ(T.ImageWidth(), 4);
    EXPECT_EQ(T.ImageHeight(), 2);
    auto* Pcx = dynamic_cast<TBitmap*>(T.Image()->Picture()->Graphic());
    ASSERT_NE(Pcx, nullptr);
    EXPECT_EQ(Pcx->PixelFormat(), pf8bit);
    EXPECT_EQ(Pcx->ScanLine(1)[2], 4);
    EXPECT_EQ(T.Title(), "one.Pcx");

    T.SetFilename(F.File("two.tga"));
    EXPECT_EQ(T.ImageWidth(), 2);
    auto* Tga = dynamic_cast<TBitmap*>(T.Image()->Picture()->Graphic());
    ASSERT_NE(Tga, nullptr);
    EXPECT_EQ(Tga->PixelColor(0, 0), clRed);
    EXPECT_EQ(Tga->PixelColor(1, 1), clLime);
    EXPECT_EQ(T.Title(), "two.tga"); // the title followed the file

    T.SetFilename(F.File("three.PnG"));
    EXPECT_EQ(T.ImageWidth(), 6);
    EXPECT_EQ(T.ImageHeight(), 5);
    EXPECT_EQ(T.FileSize(), std::filesystem::file_size(F.File("three.PnG")));

    T.SetFilename(F.File("four.gif"));
    auto* Gif = dynamic_cast<GIFImage::TGIFImage*>(T.Image()->Picture()->Graphic());
    ASSERT_NE(Gif, nullptr);
    EXPECT_EQ(Gif->DrawOptions() & GIFImage::doAnimate, 0);
    EXPECT_EQ(T.ImageWidth(), 7);
}

TEST(Thumbnail, BadFilesAreFailedLoads)
{
    TTempFolder F;
    std::vector<uint8_t> BadPcx = PcxBytes();
    BadPcx[0] = 9;
    WriteBytes(F.File("bad.pcx"), BadPcx);
    std::vector<uint8_t> BadTga = TgaBytes();
    BadTga[2] = 4; // image type 4
    WriteBytes(F.File("bad.TGA"), BadTga);
    WriteBytes(F.File("bad.png"), {1, 2, 3});
    WriteBytes(F.File("good.pcx"), PcxBytes());
    // 4 bits in one plane, which the PCX loader does not decode (netpbm's, see
    // tests/data/iefiles/README-gif-pcx-pnm.md: ppmtopcx -packed src.ppm).
    std::filesystem::copy_file(std::string(KV_TEST_DATA) + "/iefiles/pcx_netpbm_7x3_packed.pcx", F.File("packed.pcx"));

    Tthumbnail T;
    T.SetFilename(F.File("good.pcx"));
    ASSERT_EQ(T.Title(), "good.pcx");
    for (const char* Name : {"bad.pcx", "packed.pcx", "bad.TGA", "bad.png", "missing.bmp", "note.xyz"}) {
        T.SetFilename(F.File(Name));
        EXPECT_EQ(T.Filename(), "") << Name;
        EXPECT_FALSE(T.Image()->Modified()) << Name; // no shrink after a failed load
    }
    EXPECT_EQ(T.Title(), "good.pcx"); // the title stays as it was
}

TEST(Thumbnail, TitleFollowsFileUnlessCustomAndSettlesOnPaint)
{
    TTempFolder F;
    WriteBmp(F.File("a.bmp"), 4, 4);
    WriteBmp(F.File("b.bmp"), 4, 4);
    Tthumbnail T;
    T.SetFilename(F.File("a.bmp"));
    EXPECT_EQ(T.Title(), "a.bmp");
    T.SetFilename(F.File("b.bmp"));
    EXPECT_EQ(T.Title(), "b.bmp");
    T.SetTitle("Mine");
    T.SetFilename(F.File("a.bmp"));
    EXPECT_EQ(T.Title(), "Mine");
    EXPECT_EQ(T.TitleStrip()->Caption(), "Mine");

    std::string Asked;
    T.OnGetTitle = [&](TObject*, const std::string& FileName, std::string& Title) {
        Asked = FileName;
        Title = "Shown " + ExtractFileName(FileName);
    };
    T.SetFilename(F.File("b.bmp"));
    T.resize(120, 120);
    (void)T.grab(); // the first paint after a load asks for the title
    EXPECT_EQ(Asked, F.File("b.bmp"));
    EXPECT_EQ(T.Title(), "Shown b.bmp");
}

TEST(Thumbnail, FileInformationOfTheLoadedFile)
{
    TTempFolder F;
    WriteBmp(F.File("t.bmp"), 3, 3);
    struct timespec Times[2];
    Times[0].tv_sec = Times[1].tv_sec = 1500000003; // an odd second
    Times[0].tv_nsec = Times[1].tv_nsec = 0;
    ASSERT_EQ(utimensat(AT_FDCWD, F.File("t.bmp").c_str(), Times, 0), 0);
    Tthumbnail T;
    T.SetFilename(F.File("t.bmp"));
    EXPECT_EQ(T.FileSize(), std::filesystem::file_size(F.File("t.bmp")));
    const time_t Stamp = 1500000003;
    struct tm L {};
    localtime_r(&Stamp, &L);
    const std::string Expected =
        DateTimeToStr(L.tm_year + 1900, L.tm_mon + 1, L.tm_mday, L.tm_hour, L.tm_min, L.tm_sec / 2 * 2);
    EXPECT_EQ(T.FileChanged(), Expected);
    EXPECT_FALSE(T.FileAccessed().empty()); // reading the file may have moved it
    EXPECT_FALSE(T.FIleCreated().empty());
}

TEST(Thumbnail, MemoryIsMinimisedAfterEveryLoadAndRestoredWhenSwitchedOff)
{
    TTempFolder F;
    WriteBmp(F.File("big.bmp"), 400, 300);
    WriteBytes(F.File("p.pcx"), PcxBytes());
    Tthumbnail T; // no view: shrinks to its own 120 x 120
    T.SetFilename(F.File("big.bmp"));
    EXPECT_EQ(T.Image()->Picture()->Width(), 120);
    EXPECT_EQ(T.Image()->Picture()->Height(), 90);
    EXPECT_EQ(T.ImageWidth(), 400);
    EXPECT_TRUE(T.Image()->Modified());
    T.SetMinimizeMemory(false);
    EXPECT_EQ(T.Image()->Picture()->Width(), 400);
    EXPECT_FALSE(T.Image()->Modified());

    T.SetFilename(F.File("p.pcx"));
    T.SetMinimizeMemory(true);
    T.SetMinimizeMemory(false); // reloads through the PCX loader, no error
    EXPECT_EQ(T.Image()->Picture()->Width(), 4);
}

TEST(Thumbnail, ButtonModeBevelsAndForwarding)
{
    Tthumbnail T;
    T.SetAsbutton(true);
    T.SetBounds(0, 0, 100, 100);
    T.SimulateMouseDown(mbLeft, ssLeft, 10, 10);
    EXPECT_EQ(T.BevelOuter(), bvLowered);
    EXPECT_EQ(T.TitleStrip()->BevelOuter(), bvRaised);
    T.SimulateMouseMove(ssLeft, 150, 10);
    EXPECT_EQ(T.BevelOuter(), bvRaised);
    EXPECT_EQ(T.TitleStrip()->BevelOuter(), bvLowered);
    T.SimulateMouseUp(mbLeft, 0, 10, 10);
    EXPECT_EQ(T.BevelOuter(), bvRaised);

    int Downs = 0;
    TPoint At;
    T.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int32_t X, int32_t Y) {
        ++Downs;
        At = TPoint{X, Y};
    };
    T.Image()->SetBounds(20, 30, 10, 10);
    T.Image()->SimulateMouseDown(mbRight, 0, 1, 2); // the picture hands it on, translated
    EXPECT_EQ(Downs, 1);
    EXPECT_EQ(At, (TPoint{21, 32}));
    int Clicks = 0;
    T.OnClick = [&](TObject* S) { Clicks += S == &T; };
    T.Image()->Click();
    T.TitleStrip()->Click();
    EXPECT_EQ(Clicks, 2);
}

TEST(Thumbnail, JpegShrinksFromTheDctScaleThatCoversTheFit)
{
    // 2000 x 1000 into 120 x 120: the fit is 120 x 60, covered by the 1/8 scale (250 x
    // 125); a 600 x 100 picture fits as 120 x 20 and 1/4 (150 x 25) is the last to cover.
    const struct {
        int W, H, FitW, FitH;
    } Cases[] = {{2000, 1000, 120, 60}, {600, 100, 120, 20}, {90, 60, 90, 60}};
    for (const auto& C : Cases) {
        TTempFolder F;
        TBitmap Src;
        Src.SetPixelFormat(pf24bit);
        Src.SetSize(C.W, C.H);
        for (int Y = 0; Y < C.H; ++Y)
            for (int X = 0; X < C.W; ++X)
                Src.SetPixelColor(X, Y, RGB(200, 40, 90));
        const std::vector<uint8_t> Bytes = EncodeJpeg(Src, 95, false, false);
        WriteBytes(F.File("p.jpg"), Bytes);
        Tthumbnail T; // no view: shrinks to its own 120 x 120
        T.SetFilename(F.File("p.jpg"));
        ASSERT_EQ(T.Filename(), F.File("p.jpg"));
        EXPECT_EQ(T.Image()->Picture()->Width(), C.FitW) << C.W;
        EXPECT_EQ(T.Image()->Picture()->Height(), C.FitH) << C.W;
        EXPECT_EQ(T.ImageWidth(), C.W); // the title's size stays the file's own
        EXPECT_EQ(T.ImageHeight(), C.H);
        EXPECT_EQ(T.Title(), "p.jpg");
        auto* Small = dynamic_cast<TBitmap*>(T.Image()->Picture()->Graphic());
        if (!Small)
            continue; // not shrunk: the picture class as loaded
        EXPECT_EQ(Small->PixelFormat(), pf24bit);
        const TColor Mid = Small->PixelColor(C.FitW / 2, C.FitH / 2);
        EXPECT_NEAR(GetRValue(Mid), 200, 4);
        EXPECT_NEAR(GetGValue(Mid), 40, 4);
        EXPECT_NEAR(GetBValue(Mid), 90, 4);
    }
    TTempFolder F;
    WriteBytes(F.File("bad.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0, 0});
    Tthumbnail T;
    T.SetFilename(F.File("bad.jpg"));
    EXPECT_EQ(T.Filename(), ""); // a failed load, as before
}
