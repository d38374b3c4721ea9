// Every road that makes one picture of the document (Flatten, Save As BMP, Copy of the
// whole picture, Print) gives an opaque picture where the background is opaque, with
// the blend's colours, and keeps the blend's alpha where the background is not.
#include "EditorFixture.h"

#include "editor/ApplicationForms.h"
#include "platform/Clipbrd.h"
#include "platform/Dialogs.h"
#include "platform/Printers.h"
#include "raster/Raster32_Layers.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

using namespace kv;
using namespace kv::test;
namespace fs = std::filesystem;

namespace {

// A 6 x 4 background of 0xFF204060, but for pixel (0, 0) and (5, 3) of alpha 0x40 and
// (3, 1) opaque black; a picture layer of 0x80C08040 (alpha 128) over columns 2..5.
constexpr TColor32 BgColour = 0xFF204060u, LayerColour = 0x80C08040u;

// The blend at weight 128: c = (F * 128 + B * 128 + 128) shr 8.
//   red   (192 + 32) * 128 + 128 = 28800, shr 8 = 112 (0x70)
//   green (128 + 64) * 128 + 128 = 24704, shr 8 =  96 (0x60)
//   blue  ( 64 + 96) * 128 + 128 = 20608, shr 8 =  80 (0x50)
//   alpha over 255: (128 + 255) * 128 + 128 = 49152, shr 8 = 192; over 0x40:
//         (128 + 64) * 128 + 128 = 24704, shr 8 = 96 (0x60)
// Over the opaque background the result is opaque, so 0xFF706050; over the alpha-0x40
// pixel the blend's 0x60706050 stands. Over black: red (192 * 128 + 128) shr 8 = 96,
// green 64, blue 32, opaque: 0xFF604020. Outside the layer the background is copied.
TColor32 Expected(int32_t X, int32_t Y)
{
    if (X == 3 && Y == 1)
        return 0xFF604020u;
    const bool SeeThrough = (X == 0 && Y == 0) || (X == 5 && Y == 3);
    if (X < 2)
        return SeeThrough ? 0x40204060u : BgColour;
    return SeeThrough ? 0x60706050u : 0xFF706050u;
}

class FlattenedAlphaTest : public IsolatedEditorTest {
protected:
    void SetUp() override
    {
        MakeForm("kv_flatalpha_", {"data"}, 400, 300);
        QGuiApplication::clipboard()->clear();
    }

    void MakeDocument(bool SeeThroughCorners)
    {
        Form->NewBackground(6, 4, BgColour);
        if (SeeThroughCorners) {
            Form->ImgView->Bitmap()->SetPixelFast(0, 0, 0x40204060u);
            Form->ImgView->Bitmap()->SetPixelFast(5, 3, 0x40204060u);
            Form->ImgView->Bitmap()->SetPixelFast(3, 1, 0xFF000000u);
        }
        auto* L = Form->ImgView->Layers()->Add<TBitmapLayer>();
        L->Bitmap()->SetSize(4, 4);
        L->Bitmap()->ClearTo(LayerColour);
        L->Bitmap()->SetDrawMode(dmBlend);
        L->SetPlacement({2, 0, 6, 4});
        L->SetScaleWithView(true);
    }

    static void ExpectEveryPixel(const TBitmap32& B, const char* Road)
    {
        ASSERT_EQ(B.Width(), 6) << Road;
        ASSERT_EQ(B.Height(), 4) << Road;
        for (int32_t Y = 0; Y < 4; ++Y)
            for (int32_t X = 0; X < 6; ++X)
                EXPECT_EQ(B.GetPixelFast(X, Y), Expected(X, Y)) << Road << " at " << X << ", " << Y;
    }
};

TEST_F(FlattenedAlphaTest, FlattenIsOpaqueOverAnOpaqueBackground)
{
    MakeDocument(true);
    Form->mnFlattenClick();
    EXPECT_EQ(Form->ImgView->Layers()->Count(), 0);
    ExpectEveryPixel(*Form->ImgView->Bitmap(), "Flatten");
}

TEST_F(FlattenedAlphaTest, SavedBitmapReadsBackOpaque)
{
    MakeDocument(true);
    const std::string Name = (Root / "flat.bmp").string();
    {
        TScriptedAnswers Answers;
        TDialogAnswer File;
        File.Result = mrOk;
        File.FileName = Name;
        File.FilterIndex = 2; // bitmap
        Answers.Then(File);
        ASSERT_TRUE(Form->N3Click()); // Save As
    }
    EXPECT_EQ(Form->FlatImage(), nullptr);
    TBitmap32 Back;
    Back.LoadFromFile(Name);
    ExpectEveryPixel(Back, "BMP");
    // The layer itself keeps its own alpha.
    auto* L = dynamic_cast<TBitmapLayer*>(Form->ImgView->Layers()->Items(0));
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0), LayerColour);
}

TEST_F(FlattenedAlphaTest, CopyOfTheWholePictureIsOpaque)
{
    MakeDocument(true);
    Form->N98Click(); // Select All
    Form->N21Click(); // Copy
    ASSERT_TRUE(Clipboard()->HasFormat(CF_BITMAP));
    TBitmap Platform;
    Platform.Assign(Clipboard());
    TBitmap32 Clip;
    Clip.Assign(&Platform);
    ExpectEveryPixel(Clip, "Copy");
}

// The page gets a soft mask exactly when the printed picture has a see-through pixel.
TEST_F(FlattenedAlphaTest, PrintedPageHasNoSoftMask)
{
    if (!fs::exists("/usr/bin/pdfimages"))
        GTEST_SKIP() << "pdfimages is not installed";
    const fs::path Pdf = Root / "out.pdf";
    Printer()->SetTestOutput(Pdf.string());
    Printer()->SetPaperSize(210, 297);
    CreateApplicationForms(*Form);
    MakeDocument(false);
    Form->UpdateCommandEnabling();
    TScriptedAnswers Answers;
    Answers.Then(mrOk);
    Form->Command("N70")->trigger();
    Printer()->SetTestOutput("");
    ASSERT_TRUE(fs::exists(Pdf));
    const std::string Command = "pdfimages -list '" + Pdf.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> Out(popen(Command.c_str(), "r"), pclose);
    ASSERT_TRUE(Out);
    std::string Listing;
    char Buf[256];
    while (fgets(Buf, sizeof Buf, Out.get()))
        Listing += Buf;
    EXPECT_NE(Listing.find("image"), std::string::npos) << Listing;
    EXPECT_EQ(Listing.find("smask"), std::string::npos) << Listing;
}

} // namespace
