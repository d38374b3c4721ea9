// Edit menu through its handlers: Select, Select All, Cut, Copy, Paste and Paste As New
// with the process clipboard (offscreen, in-process).
#include "EditorFixture.h"

#include "platform/Clipbrd.h"
#include "platform/Dialogs.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

using namespace kv;
using namespace kv::test;

namespace {

class EditTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        QGuiApplication::clipboard()->clear();
    }

    // Background pixel (x, y) = 0xFF000000 | x << 8 | y, easy to locate.
    void PatternBackground(int32_t W, int32_t H)
    {
        Form->NewBackground(W, H, 0);
        for (int32_t Y = 0; Y < H; ++Y)
            for (int32_t X = 0; X < W; ++X)
                Bg()->SetPixelFast(X, Y, 0xFF000000u | uint32_t(X) << 8 | uint32_t(Y));
    }

    TPositionedLayer* FrameAt(const TSingleRect& R)
    {
        Form->N71Click();
        TPositionedLayer* F = Form->Selection();
        F->SetPlacement(R);
        return F;
    }

    static std::unique_ptr<TBitmap32> ClipboardPicture()
    {
        if (!Clipboard()->HasFormat(CF_BITMAP))
            return nullptr;
        TBitmap B;
        B.Assign(Clipboard());
        auto R = std::make_unique<TBitmap32>();
        R->Assign(&B);
        return R;
    }
};

TEST_F(EditTest, SelectMakesOneSelectionFrameAndSelectAllCoversThePicture)
{
    Form->N71Click();
    TPositionedLayer* F = Form->Selection();
    ASSERT_NE(F, nullptr);
    EXPECT_EQ(F->Tag(), TagSelectionFrame);
    EXPECT_EQ(Form->FrameAlpha, 255);
    Form->N98Click(); // replaces the first frame
    TPositionedLayer* All = Form->Selection();
    EXPECT_EQ(All->Tag(), TagSelectionFrame);
    EXPECT_TRUE(SameRect(All->Placement(), TSingleRect{0, 0, 100, 80}));
    EXPECT_TRUE(SameRect(Form->RBLayer()->Placement(), TSingleRect{0, 0, 100, 80}));
    EXPECT_EQ(Layers()->Count(), 2); // the frame and the band
}

TEST_F(EditTest, SelectAndSelectAllDoNothingOnAnEmptyDocument)
{
    Form->NewBackground(0, 0, 0);
    Form->N71Click();
    Form->N98Click();
    EXPECT_EQ(Form->Selection(), nullptr);
    EXPECT_EQ(Layers()->Count(), 0);
}

TEST_F(EditTest, CutOfAFrameEmptiesTheAreaAndUndoRestoresIt)
{
    PatternBackground(10, 10);
    FrameAt({2, 3, 6, 8});
    Form->N20Click();
    auto Clip = ClipboardPicture();
    ASSERT_TRUE(Clip);
    ASSERT_EQ(Clip->Width(), 4);
    ASSERT_EQ(Clip->Height(), 5);
    for (int32_t Y = 0; Y < 5; ++Y)
        for (int32_t X = 0; X < 4; ++X)
            EXPECT_EQ(Clip->GetPixelFast(X, Y), 0xFF000000u | uint32_t(X + 2) << 8 | uint32_t(Y + 3));
    for (int32_t Y = 0; Y < 10; ++Y)
        for (int32_t X = 0; X < 10; ++X) {
            const bool Inside = X >= 2 && X < 6 && Y >= 3 && Y < 8;
            EXPECT_EQ(Bg()->GetPixelFast(X, Y), Inside ? 0x00FFFFFFu : (0xFF000000u | uint32_t(X) << 8 | uint32_t(Y)));
        }
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Canvas);
    EXPECT_EQ(Form->FrameAlpha, 255);
    EXPECT_EQ(Form->ModifiedState, msChanged);
    Form->N17Click();
    for (int32_t Y = 0; Y < 10; ++Y)
        for (int32_t X = 0; X < 10; ++X)
            EXPECT_EQ(Bg()->GetPixelFast(X, Y), 0xFF000000u | uint32_t(X) << 8 | uint32_t(Y));
}

TEST_F(EditTest, CutAndCopyClipTheFrameToThePicture)
{
    PatternBackground(10, 10);
    // Half-pixel sides: the copy is sized from the rounded source (0.5 -> 0, 3.5 -> 4).
    FrameAt({-5.0f, 0.5f, 3.5f, 2.5f});
    Form->N21Click();
    auto Clip = ClipboardPicture();
    ASSERT_TRUE(Clip);
    EXPECT_EQ(Clip->Width(), 4);
    EXPECT_EQ(Clip->Height(), 2);
    EXPECT_EQ(Clip->GetPixelFast(3, 1), 0xFF000000u | 3u << 8 | 1u);

    // Wholly off the picture: nothing on the clipboard, no snapshot, no change.
    QGuiApplication::clipboard()->clear();
    Form->ModifiedState = msUntouched;
    FrameAt({20, 20, 30, 30});
    Form->N20Click();
    EXPECT_FALSE(Form->ClipboardHasBitmap());
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_EQ(Bg()->GetPixelFast(9, 9), 0xFF000909u);
}

TEST_F(EditTest, SelectAllCopyIsTheFlattenedPictureWithoutTheFramesGrey)
{
    AddPicture(10, 10, 0xFFFF0000, {5, 5, 15, 15});
    TBitmap32 Expected;
    Expected.Assign(Form->RenderFlattened());
    Form->ReleaseFlatImage();
    Form->N98Click();
    Form->N21Click();
    EXPECT_EQ(Form->Selection(), nullptr); // the render deselects
    auto Clip = ClipboardPicture();
    ASSERT_TRUE(Clip);
    ASSERT_EQ(Clip->Width(), 100);
    ASSERT_EQ(Clip->Height(), 80);
    EXPECT_TRUE(TBitmap32::DataEquals(Clip.get(), &Expected));
    EXPECT_EQ(Clip->GetPixelFast(0, 0), 0xFF204060u);
    EXPECT_EQ(Clip->GetPixelFast(6, 6), 0xFFFF0000u);
    EXPECT_EQ(Form->FrameAlpha, 255);
}

TEST_F(EditTest, CopyAndPasteOfALayerKeepAlphaExactly)
{
    const TColor32 Px[4] = {0x80112233, 0x00FFFFFF, 0x01020304, 0xFFABCDEF};
    TBitmapLayer* A = AddPicture(2, 2, 0, {0, 0, 2, 2});
    for (int32_t I = 0; I < 4; ++I)
        A->Bitmap()->SetPixelFast(I % 2, I / 2, Px[I]);
    Form->SetSelection(A);
    Form->N21Click();
    EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->hasFormat("image/png"));
    const int32_t Before = Layers()->Count();
    Form->N22Click();
    auto* P = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(P, nullptr);
    EXPECT_NE(P, A);
    EXPECT_EQ(Layers()->Count(), Before + 1);
    EXPECT_EQ(P->Bitmap()->DrawMode(), dmBlend);
    for (int32_t I = 0; I < 4; ++I)
        EXPECT_EQ(P->Bitmap()->GetPixelFast(I % 2, I / 2), Px[I]);
}

TEST_F(EditTest, PasteIsCentredOnTheViewportCentre)
{
    Form->NewBackground(100, 50, 0xFF000000);
    const TSinglePoint C = Form->ViewportCentreInBitmap();
    EXPECT_EQ(C.X, 50.0f);
    EXPECT_EQ(C.Y, 25.0f);
    TBitmap32 Three;
    Three.SetSize(3, 3);
    Three.ClearTo(0xFF00FF00);
    TBitmap Platform;
    Platform.Assign(&Three);
    Clipboard()->Assign(&Platform);
    Form->N22Click();
    ASSERT_NE(Form->Selection(), nullptr);
    EXPECT_TRUE(SameRect(Form->Selection()->Placement(), TSingleRect{48.5f, 23.5f, 51.5f, 26.5f}));
}

TEST_F(EditTest, PasteNeedsABitmapAndAPicture)
{
    const int32_t Before = Layers()->Count();
    Form->N22Click(); // empty clipboard
    EXPECT_EQ(Layers()->Count(), Before);

    QImage Image(2, 2, QImage::Format_RGB32);
    Image.fill(0x00123456); // an image with no alpha channel: the fourth byte means nothing
    QGuiApplication::clipboard()->setImage(Image);
    Form->N16Click();
    EXPECT_TRUE(Form->N22->isEnabled());
    EXPECT_TRUE(Form->N47->isEnabled());
    Form->N22Click();
    auto* P = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(P, nullptr);
    EXPECT_EQ(P->Bitmap()->GetPixelFast(1, 1), 0xFF123456u); // opaque

    Form->NewBackground(0, 0, 0);
    Form->N16Click();
    EXPECT_FALSE(Form->N22->isEnabled()); // Paste on an empty background is disabled...
    EXPECT_TRUE(Form->N47->isEnabled());  // ...Paste As New is not
    Form->N22Click();
    EXPECT_EQ(Layers()->Count(), 0);
}

TEST_F(EditTest, PasteAsNewWithoutABitmapKeepsTheDocument)
{
    Form->OpenPictureDialog1 = std::make_unique<TOpenDialog>();
    Form->SavePictureDialog1 = std::make_unique<TSaveDialog>();
    Form->OpenPictureDialog1->FileName = "/tmp/a.bmp";
    TScriptedAnswers Answers;
    Form->N47Click();
    EXPECT_EQ(Form->OpenPictureDialog1->FileName, "/tmp/a.bmp");
    EXPECT_FALSE(Form->SaveAllowed());
    EXPECT_EQ(Answers.Requests.size(), 0u); // not even the save question
    EXPECT_EQ(Bg()->Width(), 100);
}

TEST_F(EditTest, PasteAsNewReplacesTheDocumentAfterTheSaveQuestion)
{
    Form->OpenPictureDialog1 = std::make_unique<TOpenDialog>();
    Form->SavePictureDialog1 = std::make_unique<TSaveDialog>();
    Form->OpenPictureDialog1->FileName = "/tmp/a.bmp";
    Form->SavePictureDialog1->FileName = "/tmp/b.kvn";
    TBitmapLayer* A = AddPicture(4, 4, clRed32, {0, 0, 4, 4});
    Form->SetSelection(A);
    Form->SaveUndoEffect();
    QImage Image(3, 2, QImage::Format_ARGB32);
    Image.fill(0x80FF0000);
    QGuiApplication::clipboard()->setImage(Image);
    Form->ModifiedState = msChanged;

    {
        TScriptedAnswers Answers;
        Answers.Then(mrCancel); // the save question stops it
        Form->N47Click();
        EXPECT_EQ(Answers.Requests.size(), 1u);
        EXPECT_EQ(Bg()->Width(), 100);
        EXPECT_EQ(Form->OpenPictureDialog1->FileName, "/tmp/a.bmp");
    }
    TScriptedAnswers Answers;
    Answers.Then(mrNo);
    Form->N47Click();
    EXPECT_EQ(Bg()->Width(), 3);
    EXPECT_EQ(Bg()->Height(), 2);
    EXPECT_EQ(Bg()->GetPixelFast(2, 1), 0x80FF0000u);
    EXPECT_EQ(Layers()->Count(), 0);
    EXPECT_EQ(Form->Selection(), nullptr);
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_TRUE(Form->RedoSlot.Empty());
    EXPECT_EQ(Form->OpenPictureDialog1->FileName, "");
    EXPECT_EQ(Form->SavePictureDialog1->FileName, "");
    EXPECT_TRUE(Form->SaveAllowed());
    EXPECT_TRUE(Form->SaveAsAllowed());
    EXPECT_TRUE(Form->pnlImage->isVisibleTo(Form.get()));
    EXPECT_EQ(Form->StatusText(0), ""); // not a.bmp any more
    EXPECT_EQ(Form->StatusText(1), "3x2");
}

TEST_F(EditTest, CutOfAPictureLayerRemovesItAndItsSlot)
{
    TBitmapLayer* A = AddPicture(4, 4, 0xFF010203, {0, 0, 4, 4});
    TBitmapLayer* B = AddPicture(4, 4, 0xFF040506, {0, 0, 4, 4});
    Form->SetSelection(A);
    Form->SaveUndoEffect();
    Form->N20Click();
    EXPECT_EQ(Layers()->IndexOf(A), -1);
    EXPECT_NE(Layers()->IndexOf(B), -1);
    EXPECT_EQ(Form->Selection(), nullptr);
    EXPECT_TRUE(Form->UndoSlot.Empty());
    auto Clip = ClipboardPicture();
    ASSERT_TRUE(Clip);
    EXPECT_EQ(Clip->GetPixelFast(3, 3), 0xFF010203u);
}

TEST_F(EditTest, CutOfAMagnifierAmongLayersOnlyExplains)
{
    AddPicture(4, 4, clRed32, {0, 0, 4, 4});
    TPositionedLayer* M = AddMagnifier();
    Form->SetSelection(M);
    TScriptedAnswers Answers;
    Form->N20Click();
    ASSERT_EQ(Answers.Requests.size(), 1u);
    EXPECT_EQ(Answers.Requests[0].Text.rfind("Вы можете вырезать фрагмент только после того", 0), 0u);
    EXPECT_NE(Layers()->IndexOf(M), -1);
    EXPECT_FALSE(Form->ClipboardHasBitmap());
}

TEST_F(EditTest, CutAndCopyWithoutASelectionDoNothing)
{
    Form->ModifiedState = msUntouched;
    Form->N20Click();
    Form->N21Click();
    EXPECT_FALSE(Form->ClipboardHasBitmap());
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_EQ(Form->ModifiedState, msUntouched);
}

TEST(ClipboardImage, RefusesAnImpossibleSize)
{
    QImage Wide(70000, 1, QImage::Format_ARGB32);
    if (Wide.isNull())
        GTEST_SKIP() << "no memory for the test image";
    QGuiApplication::clipboard()->setImage(Wide);
    TBitmap B;
    EXPECT_THROW(B.Assign(Clipboard()), Exception);
    EXPECT_EQ(B.Width(), 0);
    QGuiApplication::clipboard()->clear();
}

} // namespace
