// The document as a user handles it on pictures that are not square: a project with
// several magnifiers, frames and their undo, what Undo may bring back after the document
// changed, and where Copy, Cut and Paste take and put pixels.
#include "EditorFixture.h"

#include "effects/NewImageUnit.h"
#include "platform/Clipbrd.h"
#include "platform/Dialogs.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace kv;
using namespace kv::test;

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& B, uint32_t V)
{
    for (int I = 0; I < 4; ++I)
        B.push_back(uint8_t(V >> (8 * I)));
}

void PutF(Bytes& B, float F)
{
    uint32_t Bits;
    std::memcpy(&Bits, &F, 4);
    Put32(B, Bits);
}

// A 32-bit BMP of one colour, written field by field.
Bytes SolidBmp(int32_t W, int32_t H, uint32_t Pixel)
{
    Bytes B{'B', 'M'};
    Put32(B, uint32_t(54 + 4 * W * H));
    Put32(B, 0);
    Put32(B, 54);
    Put32(B, 40);
    Put32(B, uint32_t(W));
    Put32(B, uint32_t(H));
    B.insert(B.end(), {1, 0, 32, 0});
    Put32(B, 0);
    Put32(B, uint32_t(4 * W * H));
    for (int I = 0; I < 4; ++I)
        Put32(B, 0);
    for (int32_t I = 0; I < W * H; ++I)
        Put32(B, Pixel);
    return B;
}

// One 108-byte layer record of kind "magn".
Bytes MagnRecord(int32_t Opacity, TSingleRect R, int32_t Magn, int32_t Rot, uint8_t Interp)
{
    Bytes B(108, 0);
    B[0] = 4;
    std::memcpy(&B[1], "magn", 4);
    Bytes T;
    Put32(T, uint32_t(Opacity));
    PutF(T, R.Left), PutF(T, R.Top), PutF(T, R.Right), PutF(T, R.Bottom);
    std::memcpy(&B[72], T.data(), T.size());
    Bytes M;
    Put32(M, uint32_t(Magn));
    Put32(M, uint32_t(Rot));
    std::memcpy(&B[96], M.data(), 8);
    B[104] = Interp;
    return B;
}

Bytes Assemble(const std::vector<Bytes>& Blocks)
{
    Bytes Out;
    std::string List;
    for (const Bytes& Block : Blocks) {
        Out.insert(Out.end(), Block.begin(), Block.end());
        List += std::to_string(Block.size()) + "\r\n";
    }
    Out.insert(Out.end(), List.begin(), List.end());
    Put32(Out, uint32_t(List.size() + 4));
    return Out;
}

void WriteFile(const std::string& Name, const Bytes& B)
{
    std::FILE* F = std::fopen(Name.c_str(), "wb");
    ASSERT_NE(F, nullptr);
    std::fwrite(B.data(), 1, B.size(), F);
    std::fclose(F);
}

class DocumentPlacementTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        QGuiApplication::clipboard()->clear();
    }
    // What a test put on the clipboard must not enable Paste in the next one.
    void TearDown() override { QGuiApplication::clipboard()->clear(); }

    // Background pixel (x, y) = 0xFF000000 | x << 8 | y.
    void PatternBackground(int32_t W, int32_t H)
    {
        Form->NewBackground(W, H, 0);
        for (int32_t Y = 0; Y < H; ++Y)
            for (int32_t X = 0; X < W; ++X)
                Bg()->SetPixelFast(X, Y, 0xFF000000u | uint32_t(X) << 8 | uint32_t(Y));
    }
    static TColor32 Pattern(int32_t X, int32_t Y) { return 0xFF000000u | uint32_t(X) << 8 | uint32_t(Y); }

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

    void Load(const Bytes& B)
    {
        TReadOnlyMemoryStream S(B.data(), int64_t(B.size()));
        Form->LoadProjectFromStream(S, "test.kvn");
    }

    // Layers > New Frame answered by a frame dialog that chose Kind.
    void NewFrame(int32_t Kind, bool ForLayer = false)
    {
        Form->FrameDialog = [Kind, ForLayer](TFrameChoice& C) {
            C.Frame.SetSize(20, 10);
            C.Frame.ClearTo(0xFF0000FF);
            C.FrameKind = Kind;
            C.ForLayer = ForLayer;
            return true;
        };
        Form->N42Click();
    }
};

} // namespace

TEST_F(DocumentPlacementTest, ProjectWithSeveralMagnifiersWhoseRecordsDiffer)
{
    // Two magnifiers, bottom first, each record with settings of its own.
    Load(Assemble({SolidBmp(6, 4, 0xFF00FF00), [] {
                       Bytes R = MagnRecord(40, {0, 0, 2, 1}, 5, 30, 1);
                       Bytes M = MagnRecord(200, {1, 1, 6, 4}, 9, -45, 0);
                       R.insert(R.end(), M.begin(), M.end());
                       return R;
                   }()}));
    ASSERT_EQ(Layers()->Count(), 3);
    auto* Low = dynamic_cast<TPositionedLayer*>(Layers()->Items(0));
    auto* High = dynamic_cast<TPositionedLayer*>(Layers()->Items(1));
    ASSERT_NE(Low, nullptr);
    ASSERT_NE(High, nullptr);
    EXPECT_EQ(Low->Tag(), TagMagnifier);
    EXPECT_EQ(High->Tag(), TagMagnifier);
    // Each keeps the placement of its own record.
    EXPECT_TRUE(SameRect(Low->Placement(), {0, 0, 2, 1}));
    EXPECT_TRUE(SameRect(High->Placement(), {1, 1, 6, 4}));
    EXPECT_TRUE(Low->ScaleWithView());
    EXPECT_TRUE(High->ScaleWithView());
    // The controls are shared: the records are read top first, so the lowest sets them.
    EXPECT_EQ(Form->MagnOpacity->value(), 40);
    EXPECT_EQ(Form->MagnMagnification->value(), 5);
    EXPECT_EQ(Form->MagnRotation->value(), 30);
    EXPECT_TRUE(Form->MagnInterpolate->isChecked());
    EXPECT_EQ(Layers()->Items(2), Form->RBLayer());

    // Saved again, both records carry the shared settings and their own placements.
    TMemoryStream S;
    Form->SaveProjectToStream(S);
    const Bytes F = S.Bytes();
    const size_t Rec = 54 + 4 * 6 * 4;
    ASSERT_GE(F.size(), Rec + 216);
    for (size_t I = 0; I < 2; ++I) {
        const uint8_t* P = F.data() + Rec + 108 * I;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(P + 1), 4), "magn");
        EXPECT_EQ(GetU32LE(P + 72), 40u);
        EXPECT_EQ(GetU32LE(P + 96), 5u);
        EXPECT_EQ(GetU32LE(P + 100), 30u);
        EXPECT_EQ(P[104], 1);
        float Right;
        std::memcpy(&Right, P + 84, 4);
        EXPECT_EQ(Right, I == 0 ? 2.0f : 6.0f);
    }
}

TEST_F(DocumentPlacementTest, RectangularFrameAndItsUndoOnANonSquarePicture)
{
    PatternBackground(68, 34); // margins Round(68 / 6.8) = 10 and Round(34 / 6.8) = 5
    TBitmapLayer* A = AddPicture(2, 2, clRed32, {1, 2, 3, 4});
    TBitmapLayer* B = AddPicture(2, 2, clBlue32, {30, 20, 40, 25});
    Form->SetSelection(nullptr);
    NewFrame(0);
    EXPECT_EQ(Bg()->Width(), 68 + 20);  // + Round(68 / 3.4)
    EXPECT_EQ(Bg()->Height(), 34 + 10); // + Round(34 / 3.4)
    EXPECT_EQ(Bg()->GetPixelFast(9, 4), 0xFF000000u);
    EXPECT_EQ(Bg()->GetPixelFast(10, 5), Pattern(0, 0));
    EXPECT_EQ(Bg()->GetPixelFast(77, 38), Pattern(67, 33));
    EXPECT_EQ(Bg()->GetPixelFast(78, 39), 0xFF000000u);
    EXPECT_TRUE(SameRect(A->Placement(), {11, 7, 13, 9}));
    EXPECT_TRUE(SameRect(B->Placement(), {40, 25, 50, 30}));
    auto* Frame = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(Frame, nullptr);
    EXPECT_TRUE(SameRect(Frame->Placement(), {0, 0, 88, 44}));

    Form->N17Click();
    EXPECT_EQ(Bg()->Width(), 68);
    EXPECT_EQ(Bg()->Height(), 34);
    EXPECT_EQ(Bg()->GetPixelFast(67, 33), Pattern(67, 33));
    EXPECT_EQ(Layers()->IndexOf(Frame), -1);
    EXPECT_TRUE(SameRect(A->Placement(), {1, 2, 3, 4}));
    EXPECT_TRUE(SameRect(B->Placement(), {30, 20, 40, 25}));

    Form->N18Click();
    EXPECT_EQ(Bg()->Width(), 88);
    EXPECT_TRUE(SameRect(B->Placement(), {40, 25, 50, 30}));
    ASSERT_NE(Form->Selection(), nullptr);
    EXPECT_TRUE(SameRect(Form->Selection()->Placement(), {0, 0, 88, 44}));
}

TEST_F(DocumentPlacementTest, MaskFrameAndAFrameRoundANonSquareLayer)
{
    PatternBackground(68, 34);
    TBitmapLayer* A = AddPicture(2, 2, clRed32, {1, 2, 3, 4});
    Form->SetSelection(nullptr);
    // Any other kind covers the picture as it is: no margin, nothing moves.
    NewFrame(1);
    EXPECT_EQ(Bg()->Width(), 68);
    EXPECT_EQ(Bg()->Height(), 34);
    ASSERT_NE(Form->Selection(), nullptr);
    TPositionedLayer* Frame = Form->Selection();
    EXPECT_TRUE(SameRect(Frame->Placement(), {0, 0, 68, 34}));
    Form->N17Click();
    EXPECT_EQ(Layers()->IndexOf(Frame), -1);
    EXPECT_TRUE(SameRect(A->Placement(), {1, 2, 3, 4}));

    // Round the selected layer: grown by a 6.7th of its width and of its height.
    TBitmapLayer* Wide = AddPicture(2, 2, clGreen32, {10, 20, 77, 40});
    Form->SetSelection(Wide);
    NewFrame(0, true);
    EXPECT_EQ(Bg()->Width(), 68); // no canvas change, no undo copy
    ASSERT_NE(Form->Selection(), nullptr);
    ASSERT_NE(Form->Selection(), Wide);
    const TSingleRect R = Form->Selection()->Placement();
    EXPECT_FLOAT_EQ(R.Left, 10 - 67 / 6.7f);
    EXPECT_FLOAT_EQ(R.Right, 77 + 67 / 6.7f);
    EXPECT_FLOAT_EQ(R.Top, 20 - 20 / 6.7f);
    EXPECT_FLOAT_EQ(R.Bottom, 40 + 20 / 6.7f);
}

TEST_F(DocumentPlacementTest, CopyAndCutOfAFramePastTheBottomOfATallPicture)
{
    PatternBackground(20, 60);
    Form->N71Click();
    TPositionedLayer* F = Form->Selection();
    ASSERT_NE(F, nullptr);
    F->SetPlacement({5, 50, 15, 75}); // its lower 15 rows hang below the picture
    Form->N21Click();
    auto Clip = ClipboardPicture();
    ASSERT_TRUE(Clip);
    ASSERT_EQ(Clip->Width(), 10);
    ASSERT_EQ(Clip->Height(), 10);
    for (int32_t Y = 0; Y < 10; ++Y)
        for (int32_t X = 0; X < 10; ++X)
            EXPECT_EQ(Clip->GetPixelFast(X, Y), Pattern(X + 5, Y + 50)) << X << "," << Y;

    // Cut takes the same area and empties just that part of the picture.
    QGuiApplication::clipboard()->clear();
    Form->N71Click();
    Form->Selection()->SetPlacement({15, 75, 5, 50}); // drawn from the other corner
    Form->N20Click();
    Clip = ClipboardPicture();
    ASSERT_TRUE(Clip);
    EXPECT_EQ(Clip->Width(), 10);
    EXPECT_EQ(Clip->Height(), 10);
    EXPECT_EQ(Clip->GetPixelFast(9, 9), Pattern(14, 59));
    for (int32_t Y = 0; Y < 60; ++Y)
        for (int32_t X = 0; X < 20; ++X) {
            const bool Inside = X >= 5 && X < 15 && Y >= 50;
            ASSERT_EQ(Bg()->GetPixelFast(X, Y), Inside ? 0x00FFFFFFu : Pattern(X, Y)) << X << "," << Y;
        }
    Form->N17Click();
    EXPECT_EQ(Bg()->GetPixelFast(14, 59), Pattern(14, 59));
    EXPECT_EQ(Bg()->Height(), 60);
}

TEST_F(DocumentPlacementTest, PasteOfANonSquarePictureIsCentred)
{
    Form->NewBackground(100, 50, 0xFF000000);
    ASSERT_EQ(Form->ViewportCentreInBitmap().X, 50.0f);
    ASSERT_EQ(Form->ViewportCentreInBitmap().Y, 25.0f);
    TBitmap32 Wide;
    Wide.SetSize(30, 10);
    Wide.ClearTo(0xFF00FF00);
    Wide.SetPixelFast(29, 0, 0xFFFF0000);
    TBitmap Platform;
    Platform.Assign(&Wide);
    Clipboard()->Assign(&Platform);
    Form->N22Click();
    auto* P = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(P, nullptr);
    EXPECT_TRUE(SameRect(P->Placement(), {35, 20, 65, 30}));
    EXPECT_EQ(P->Bitmap()->Width(), 30);
    EXPECT_EQ(P->Bitmap()->Height(), 10);
    EXPECT_EQ(P->Bitmap()->GetPixelFast(29, 0), 0xFFFF0000u);

    // A tall one, on a zoomed view: still centred on what the viewport's centre shows.
    View()->SetScale(2);
    TBitmap32 Tall;
    Tall.SetSize(4, 12);
    Tall.ClearTo(0xFF0000FF);
    Platform.Assign(&Tall);
    Clipboard()->Assign(&Platform);
    Form->N22Click();
    ASSERT_NE(Form->Selection(), nullptr);
    EXPECT_TRUE(SameRect(Form->Selection()->Placement(), {48, 19, 52, 31}));
}

// The whole window, as the program makes it: File > New and Open touch all of it.
class DocumentOpenTest : public IsolatedEditorTest {
protected:
    void SetUp() override
    {
        MakeForm("kv_docopen_", {"data"}, 400, 300);
        Form->NewImageForm = new TNewImageForm(Form.get());
        Form->NewBackground(100, 80, 0xFF204060);
    }
    TBitmap32* Bg() { return Form->ImgView->Bitmap(); }
    TLayerCollection* Layers() { return Form->ImgView->Layers(); }
    TBitmapLayer* AddPicture(int32_t W, int32_t H, TColor32 Color, const TSingleRect& Placement)
    {
        auto* L = Layers()->Add<TBitmapLayer>();
        L->Bitmap()->SetDrawMode(dmBlend);
        L->SetScaleWithView(true);
        L->Bitmap()->SetSize(W, H);
        L->Bitmap()->ClearTo(Color);
        L->SetPlacement(Placement);
        return L;
    }
};

TEST_F(DocumentOpenTest, UndoAfterFileNewOrAnOpenBringsNothingBack)
{
    // File > New.
    Form->SaveUndoEffect();
    Bg()->ClearTo(clRed32);
    Form->SaveUndoEffect();
    Bg()->ClearTo(clBlue32);
    Form->N17Click(); // red again; blue waits in the redo slot
    ASSERT_TRUE(Form->N18->isEnabled());
    Form->ModifiedState = msSaved;
    {
        TScriptedAnswers Answers;
        Answers.Then(mrOk);
        Form->mnFileNewClick();
    }
    ASSERT_EQ(Bg()->Width(), 640);
    const TColor32 Fresh = Bg()->GetPixelFast(5, 5);
    EXPECT_FALSE(Form->N17->isEnabled());
    EXPECT_FALSE(Form->N18->isEnabled());
    Form->N17Click();
    Form->N18Click();
    EXPECT_EQ(Bg()->Width(), 640);
    EXPECT_EQ(Bg()->GetPixelFast(5, 5), Fresh);

    // A project opened over a document with an undo copy of a layer and of the background.
    const std::string Name = testing::TempDir() + "kv_document_placement.kvn";
    WriteFile(Name, Assemble({SolidBmp(3, 2, 0xFF00FF00)}));
    TBitmapLayer* L = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    Form->SetSelection(L);
    Form->SaveUndoEffect();
    L->Bitmap()->ClearTo(clBlue32);
    Form->SetSelection(nullptr);
    Form->SaveUndoCanvas();
    Bg()->ClearTo(clBlack32);
    Form->ModifiedState = msSaved;
    ASSERT_TRUE(Form->OpenFileSteps(Name));
    std::remove(Name.c_str());
    ASSERT_EQ(Bg()->Width(), 3);
    EXPECT_FALSE(Form->N17->isEnabled());
    Form->N17Click();
    EXPECT_EQ(Bg()->Width(), 3);
    EXPECT_EQ(Bg()->GetPixelFast(2, 1), 0xFF00FF00u);
    EXPECT_EQ(Layers()->Count(), 0);
}
