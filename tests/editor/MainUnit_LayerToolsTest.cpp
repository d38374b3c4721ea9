// Layer commands through their handlers: placements and pixels after each, undo after
// each, and every command with no or the wrong selection doing nothing.
#include "EditorFixture.h"

#include "editor/ApplicationForms.h"
#include "effects/SmallWindows.h"
#include "platform/Classes.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QPushButton>

#include <cmath>
#include <filesystem>

using namespace kv;
using namespace kv::test;

namespace {

using LayerToolsTest = EditorTest;

// Pixel (x, y) of a W x H bitmap: distinct colour and alpha everywhere.
TColor32 Code(int32_t X, int32_t Y) { return uint32_t(0x10 + X * 7 + Y * 13) << 24 | uint32_t(X) << 8 | uint32_t(Y); }

void Fill(TBitmap32* B)
{
    for (int32_t Y = 0; Y < B->Height(); ++Y)
        for (int32_t X = 0; X < B->Width(); ++X)
            B->SetPixelFast(X, Y, Code(X, Y));
}

bool Near(const TSingleRect& A, const TSingleRect& B, float Eps = 1e-4f)
{
    return std::fabs(A.Left - B.Left) < Eps && std::fabs(A.Top - B.Top) < Eps && std::fabs(A.Right - B.Right) < Eps &&
           std::fabs(A.Bottom - B.Bottom) < Eps;
}

TEST_F(LayerToolsTest, RotateClockwiseAndBackByUndo)
{
    TBitmapLayer* L = AddPicture(100, 50, 0, {10, 10, 110, 60});
    Fill(L->Bitmap());
    Form->SetSelection(L);
    Form->N901Click();
    EXPECT_TRUE(SameRect(L->Placement(), TSingleRect{10, 10, 60, 110}));
    ASSERT_EQ(L->Bitmap()->Width(), 50);
    ASSERT_EQ(L->Bitmap()->Height(), 100);
    for (int32_t Y = 0; Y < 50; ++Y)
        for (int32_t X = 0; X < 100; ++X)
            ASSERT_EQ(L->Bitmap()->GetPixelFast(49 - Y, X), Code(X, Y));
    EXPECT_EQ(L->Bitmap()->GetPixelFast(49, 0), Code(0, 0)); // top-right is the old top-left
    EXPECT_EQ(Form->Selection(), L);
    EXPECT_TRUE(SameRect(Form->RBLayer()->Placement(), L->Placement()));

    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Geometry);
    Form->N17Click();
    EXPECT_TRUE(SameRect(L->Placement(), TSingleRect{10, 10, 110, 60}));
    ASSERT_EQ(L->Bitmap()->Width(), 100);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(99, 49), Code(99, 49));
}

TEST_F(LayerToolsTest, RotateCounterClockwise)
{
    TBitmapLayer* L = AddPicture(100, 50, 0, {10, 10, 110, 60});
    Fill(L->Bitmap());
    Form->SetSelection(L);
    Form->N902Click();
    EXPECT_TRUE(SameRect(L->Placement(), TSingleRect{10, 10, 60, 110}));
    for (int32_t Y = 0; Y < 50; ++Y)
        for (int32_t X = 0; X < 100; ++X)
            ASSERT_EQ(L->Bitmap()->GetPixelFast(Y, 99 - X), Code(X, Y));
}

TEST_F(LayerToolsTest, FlipsAreExactAndTwiceIsIdentity)
{
    TBitmapLayer* L = AddPicture(5, 4, 0, {0, 0, 5, 4});
    Fill(L->Bitmap());
    L->Bitmap()->SetMasterAlpha(100); // must not take part in the move
    Form->SetSelection(L);
    Form->N24Click(); // vertical
    for (int32_t Y = 0; Y < 4; ++Y)
        for (int32_t X = 0; X < 5; ++X)
            EXPECT_EQ(L->Bitmap()->GetPixelFast(X, Y), Code(X, 3 - Y));
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Effect);
    Form->N24Click();
    for (int32_t Y = 0; Y < 4; ++Y)
        for (int32_t X = 0; X < 5; ++X)
            EXPECT_EQ(L->Bitmap()->GetPixelFast(X, Y), Code(X, Y));

    Form->N53Click(); // horizontal
    for (int32_t Y = 0; Y < 4; ++Y)
        for (int32_t X = 0; X < 5; ++X)
            EXPECT_EQ(L->Bitmap()->GetPixelFast(X, Y), Code(4 - X, Y));
    Form->N17Click();
    EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0), Code(0, 0));
    EXPECT_EQ(L->Bitmap()->MasterAlpha(), 100u);
}

TEST_F(LayerToolsTest, CommandsWithoutAPictureSelectionDoNothing)
{
    TPositionedLayer* M = AddMagnifier();
    const TSingleRect Where = M->Placement();
    for (int Pass = 0; Pass < 2; ++Pass) {
        Form->SetSelection(Pass == 0 ? nullptr : M);
        Form->ModifiedState = msUntouched;
        Form->N901Click();
        Form->N902Click();
        Form->N24Click();
        Form->N53Click();
        Form->N23Click();
        Form->LayerRescaleClick();
        Form->LayerResetScaleClick();
        EXPECT_TRUE(Form->UndoSlot.Empty());
        EXPECT_EQ(View()->Cursor(), crDefault);
        EXPECT_FALSE(Form->TransparentPickActive());
        EXPECT_TRUE(SameRect(M->Placement(), Where));
    }
    Form->SetSelection(nullptr);
    const int32_t Count = Layers()->Count();
    Form->N88Click();
    Form->mnDeleteClick();
    for (int32_t Tag = 1; Tag <= 4; ++Tag)
        Form->mnReorder(Tag);
    EXPECT_EQ(Layers()->Count(), Count);
    EXPECT_EQ(Layers()->IndexOf(M), 0);
}

TEST_F(LayerToolsTest, ReorderKeepsTheBandOnTop)
{
    TBitmapLayer* A = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    TBitmapLayer* B = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    TBitmapLayer* C = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    Form->SetSelection(A);
    TRubberbandLayer* Band = Form->RBLayer();
    Form->mnReorder(1); // Bring to Front
    EXPECT_EQ(A->Index(), 2);
    EXPECT_EQ(B->Index(), 0);
    EXPECT_EQ(C->Index(), 1);
    EXPECT_EQ(Band->Index(), 3);
    Form->mnReorder(3); // Up One Level on the layer under the band: nothing
    EXPECT_EQ(A->Index(), 2);
    EXPECT_EQ(Band->Index(), 3);

    Form->SetSelection(C);
    Form->mnReorder(2); // Bring to Back: [C, B, A, band]
    EXPECT_EQ(C->Index(), 0);
    Form->mnReorder(4); // Down One Level at 0: nothing
    EXPECT_EQ(C->Index(), 0);
    Form->mnReorder(3);
    EXPECT_EQ(C->Index(), 1);
    EXPECT_EQ(B->Index(), 0);
    EXPECT_EQ(Band->Index(), 3);
}

TEST_F(LayerToolsTest, DuplicateOfAPictureAndOfAFrame)
{
    TBitmapLayer* L = AddPicture(100, 50, 0, {10, 20, 110, 70});
    Fill(L->Bitmap());
    Form->SetSelection(L);
    Form->N88Click();
    auto* Copy = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(Copy, nullptr);
    EXPECT_NE(Copy, L);
    EXPECT_TRUE(SameRect(Copy->Placement(), TSingleRect{40, 50, 140, 100}));
    EXPECT_TRUE(TBitmap32::DataEquals(Copy->Bitmap(), L->Bitmap()));
    EXPECT_EQ(Copy->Bitmap()->DrawMode(), dmBlend);
    EXPECT_TRUE(Copy->ScaleWithView());
    EXPECT_EQ(Layers()->Items(Layers()->Count() - 1), Form->RBLayer());

    TPositionedLayer* F = AddFrame(TagSelectionFrame);
    const TSingleRect R = F->Placement();
    Form->N88Click();
    TPositionedLayer* M = Form->Selection();
    ASSERT_NE(M, F);
    EXPECT_EQ(M->Tag(), TagMagnifier);
    EXPECT_EQ(dynamic_cast<TBitmapLayer*>(M), nullptr);
    EXPECT_TRUE(SameRect(M->Placement(), TSingleRect{R.Left + 30, R.Top + 30, R.Right + 30, R.Bottom + 30}));
}

TEST_F(LayerToolsTest, DeleteClearsOnlyTheSlotsOfTheDeletedLayer)
{
    TBitmapLayer* A = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    TBitmapLayer* B = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    TBitmapLayer* C = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    Form->SetSelection(C);
    Form->SaveUndoEffect(); // names C at index 2
    Form->SetSelection(A);
    Form->mnDeleteClick();
    EXPECT_EQ(Layers()->IndexOf(A), -1);
    EXPECT_EQ(Form->Selection(), nullptr);
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Effect);
    EXPECT_EQ(Form->UndoSlot.Index(), 1); // followed C down
    Form->SetSelection(C);
    Form->mnDeleteClick();
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_NE(Layers()->IndexOf(B), -1);
}

class PickTest : public LayerToolsTest {
protected:
    // The view point over bitmap pixel (X, Y) at scale 1.
    TPoint ViewPoint(int32_t X, int32_t Y)
    {
        const TRect R = View()->GetBitmapRect();
        return TPoint{R.Left + X, R.Top + Y};
    }
    TBitmapLayer* TwoColours(TColor32 Second)
    {
        TBitmapLayer* L = AddPicture(4, 2, 0xFF102030, {0, 0, 4, 2});
        for (int32_t X = 2; X < 4; ++X)
            for (int32_t Y = 0; Y < 2; ++Y)
                L->Bitmap()->SetPixelFast(X, Y, Second);
        Form->SetSelection(L);
        return L;
    }
    int Shown = 0, Closed = 0;
    TPoint ShownAt{0, 0};
    TColor LastColor = clNone;
    void InstallTool()
    {
        Form->TransparentColorTool.Show = [this](int32_t Left, int32_t Top) {
            ++Shown;
            ShownAt = TPoint{Left, Top};
        };
        Form->TransparentColorTool.ShowColor = [this](TColor C) { LastColor = C; };
        Form->TransparentColorTool.Close = [this] { ++Closed; };
    }
};

TEST_F(PickTest, PickingAColourMakesOnlyItTransparent)
{
    InstallTool();
    TBitmapLayer* L = TwoColours(0xFF405060);
    Form->N23Click();
    EXPECT_TRUE(Form->TransparentPickActive());
    EXPECT_EQ(View()->Cursor(), crCross);
    EXPECT_EQ(Shown, 1);
    EXPECT_EQ(ShownAt.X, Form->x() + Form->width() - 340);
    EXPECT_EQ(ShownAt.Y, Form->y() + 60);
    const TPoint P = ViewPoint(0, 1);
    View()->OnMouseMove(View(), 0, P.X, P.Y, nullptr);
    EXPECT_EQ(LastColor, Color32ToWinColor(0xFF102030));
    View()->OnMouseDown(View(), mbLeft, 0, P.X, P.Y, nullptr);
    EXPECT_FALSE(Form->TransparentPickActive());
    EXPECT_EQ(View()->Cursor(), crDefault);
    EXPECT_EQ(Closed, 1);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0), 0x00102030u);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(1, 1), 0x00102030u);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(2, 0), 0xFF405060u);
    Form->N17Click();
    EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0), 0xFF102030u);
}

TEST_F(PickTest, ASemiTransparentPickMakesEverythingOpaque)
{
    TBitmapLayer* L = TwoColours(0x80405060);
    Form->N23Click();
    const TPoint P = ViewPoint(3, 0);
    View()->OnMouseDown(View(), mbLeft, 0, P.X, P.Y, nullptr);
    for (int32_t X = 0; X < 4; ++X)
        EXPECT_EQ(L->Bitmap()->GetPixelFast(X, 0) >> 24, 0xFFu);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(3, 1), 0xFF405060u);
}

TEST_F(PickTest, ThePickEndsWhenItsLayerGoes)
{
    InstallTool();
    TwoColours(0xFF405060);
    Form->N23Click();
    Form->mnDeleteClick(); // Del while the tool window is open
    EXPECT_FALSE(Form->TransparentPickActive());
    EXPECT_EQ(View()->Cursor(), crDefault);
    EXPECT_EQ(Closed, 1);
    const TPoint P = ViewPoint(0, 0);
    View()->OnMouseMove(View(), 0, P.X, P.Y, nullptr); // no preview, no crash
    EXPECT_EQ(LastColor, clNone);

    // A zero-size placement is no pick target either.
    TBitmapLayer* Z = AddPicture(2, 2, clRed32, {5, 5, 5, 9});
    Form->SetSelection(Z);
    Form->N23Click();
    EXPECT_FALSE(Form->TransparentPickActive());
}

TEST_F(PickTest, TheToolWindowShowsTheColourAndItsCloseEndsThePick)
{
    CreateApplicationForms(*Form); // the tool window as the entry point makes it
    TwoColours(0xFF405060);
    Form->N23Click();
    TSTC* Tool = Form->STC;
    ASSERT_NE(Tool, nullptr);
    EXPECT_TRUE(Tool->Showing());
    const TPoint P = ViewPoint(3, 1);
    View()->OnMouseMove(View(), 0, P.X, P.Y, nullptr);
    EXPECT_EQ(Tool->Panel1->Color(), Color32ToWinColor(0xFF405060));
    Tool->Close();
    EXPECT_FALSE(Form->TransparentPickActive());
    EXPECT_EQ(View()->Cursor(), crDefault);
    View()->OnMouseDown(View(), mbLeft, 0, P.X, P.Y, nullptr); // an ordinary click now
    EXPECT_TRUE(Form->UndoSlot.Empty());
}

TEST_F(LayerToolsTest, SimpleLayerDialogAddsItsLayer)
{
    CreateApplicationForms(*Form); // the dialog as the entry point makes it
    Form->N71Click();              // a selection frame goes afterwards
    const int32_t Before = Layers()->Count();
    TScriptedAnswers Answers;
    Answers.Then(mrOk);
    Form->N61Click();
    EXPECT_EQ(Answers.Requests.size(), 1u);
    EXPECT_EQ(Layers()->Count(), Before); // one layer added, the frame gone
    bool Picture = false;
    for (int32_t I = 0; I < Layers()->Count(); ++I) {
        EXPECT_NE(Layers()->Items(I)->Tag(), TagSelectionFrame);
        Picture |= dynamic_cast<TBitmapLayer*>(Layers()->Items(I)) != nullptr;
    }
    EXPECT_TRUE(Picture);
}

TEST_F(LayerToolsTest, RectangularFrameGrowsTheCanvasAndUndoes)
{
    Form->NewBackground(680, 340, 0xFF336699);
    TBitmapLayer* A = AddPicture(10, 10, clRed32, {5, 6, 15, 16});
    TFrameChoice Choice;
    Choice.Frame.SetSize(20, 10);
    Choice.Frame.ClearTo(0xFFFFFFFF);
    Choice.FrameKind = 0;
    Form->AddFrameLayer(Choice);
    auto* F = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(F, nullptr);
    ASSERT_EQ(Bg()->Width(), 880);
    ASSERT_EQ(Bg()->Height(), 440);
    EXPECT_EQ(Bg()->GetPixelFast(99, 49), 0xFF000000u);
    EXPECT_EQ(Bg()->GetPixelFast(100, 50), 0xFF336699u);
    EXPECT_EQ(Bg()->GetPixelFast(779, 389), 0xFF336699u);
    EXPECT_EQ(Bg()->GetPixelFast(780, 390), 0xFF000000u);
    EXPECT_TRUE(SameRect(A->Placement(), TSingleRect{105, 56, 115, 66}));
    EXPECT_TRUE(SameRect(F->Placement(), TSingleRect{0, 0, 880, 440}));
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Frame);
    EXPECT_EQ(Form->UndoSlot.FrameKind, TFrameKind::Rect);

    Form->N17Click();
    EXPECT_EQ(Bg()->Width(), 680);
    EXPECT_EQ(Layers()->IndexOf(F), -1);
    EXPECT_TRUE(SameRect(A->Placement(), TSingleRect{5, 6, 15, 16}));
    Form->N18Click();
    EXPECT_EQ(Bg()->Width(), 880);
    EXPECT_TRUE(SameRect(A->Placement(), TSingleRect{105, 56, 115, 66}));
}

TEST_F(LayerToolsTest, FrameRoundALayerAndMaskedFrame)
{
    TBitmapLayer* A = AddPicture(67, 134, clRed32, {0, 0, 67, 134});
    Form->SetSelection(A);
    TFrameChoice Choice;
    Choice.Frame.SetSize(4, 2);
    Choice.Frame.ClearTo(0xFF808080);
    Choice.Mask.SetSize(2, 1);
    Choice.Mask.SetPixelFast(0, 0, 0xFFFFFFFF);
    Choice.Mask.SetPixelFast(1, 0, 0xFF000000);
    Choice.ForLayer = true;
    Choice.FrameKind = 0;
    Form->AddFrameLayer(Choice);
    auto* F = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(F, nullptr);
    EXPECT_TRUE(Near(F->Placement(), TSingleRect{-10, -20, 77, 154}));
    EXPECT_TRUE(Form->UndoSlot.Empty()); // no undo copy round a layer
    EXPECT_EQ(Bg()->Width(), 100);
    EXPECT_EQ(F->Bitmap()->GetPixelFast(0, 0) >> 24, 0xFFu); // white mask: opaque
    EXPECT_EQ(F->Bitmap()->GetPixelFast(3, 1) >> 24, 0x00u); // black mask: clear

    Form->SetSelection(A);
    Choice.FrameKind = 2;
    Choice.Interpolate = true;
    Form->AddFrameLayer(Choice);
    auto* G = dynamic_cast<TBitmapLayer*>(Form->Selection());
    EXPECT_TRUE(SameRect(G->Placement(), A->Placement()));
    EXPECT_EQ(G->Bitmap()->StretchFilter(), sfLinear);
}

TEST_F(LayerToolsTest, CropToAFrameReachingBeyondThePicture)
{
    Form->NewBackground(640, 480, 0);
    Fill(Bg());
    TBitmapLayer* A = AddPicture(10, 10, clRed32, {100, 100, 110, 110});
    Form->N114Click();
    TPositionedLayer* F = Form->Selection();
    ASSERT_EQ(F->Tag(), TagCropFrame);
    EXPECT_TRUE(Form->Crops->isVisibleTo(Form.get()));
    F->SetPlacement({-10.4f, 20.6f, 300.2f, 500});
    Form->CropsButton1Click();
    ASSERT_EQ(Bg()->Width(), 300);
    ASSERT_EQ(Bg()->Height(), 459);
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), Code(0, 21));
    EXPECT_EQ(Bg()->GetPixelFast(299, 458), Code(299, 479));
    EXPECT_TRUE(SameRect(A->Placement(), TSingleRect{100, 79, 110, 89}));
    EXPECT_TRUE(A->ClipToImage());
    EXPECT_EQ(Form->StatusText(1), "300x459");
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Crop);
    EXPECT_EQ(Form->UndoSlot.CropX, 0);
    EXPECT_EQ(Form->UndoSlot.CropY, 21);
    for (int32_t I = 0; I < Layers()->Count(); ++I)
        EXPECT_NE(Layers()->Items(I)->Tag(), TagCropFrame);

    Form->N17Click();
    EXPECT_EQ(Bg()->Width(), 640);
    EXPECT_EQ(Bg()->Height(), 480);
    EXPECT_TRUE(SameRect(A->Placement(), TSingleRect{100, 100, 110, 110}));
    EXPECT_EQ(Form->StatusText(1), "640x480"); // not the cropped size any more
    Form->N18Click();
    EXPECT_EQ(Form->StatusText(1), "300x459");
}

TEST_F(LayerToolsTest, CropSizeInTheStatusBarFollowsEveryMouseMove)
{
    View()->SetScale(0.48f); // moves of whole screen pixels land between picture pixels
    Form->N114Click();
    TPositionedLayer* F = Form->Selection();
    F->SetPlacement({10, 10, 50, 40});
    Form->SetSelection(nullptr);
    Form->SetSelection(F); // the band takes the placement
    const TSingleRect V = Form->RBLayer()->GetViewPlacement();
    const int32_t X = SafeRound(V.Right), Y = SafeRound(V.Bottom);
    View()->SimulateMouseDown(mbLeft, ssLeft, X, Y); // the bottom-right handle
    std::string status;
    for (int32_t step : {3, 7, 12, 20}) {
        View()->SimulateMouseMove(ssLeft, X + step, Y + step / 2);
        const TRect R = FramePixels(F->Placement());
        status = std::to_string(R.Right - R.Left) + "x" + std::to_string(R.Bottom - R.Top);
        EXPECT_EQ(Form->StatusText(1), status) << "step " << step;
    }
    View()->SimulateMouseUp(mbLeft, 0, X + 20, Y + 10);
    Form->CropsButton1Click();
    EXPECT_EQ(Form->StatusText(1), status);
    EXPECT_EQ(std::to_string(Bg()->Width()) + "x" + std::to_string(Bg()->Height()), status);
}

TEST_F(LayerToolsTest, CropWithAFrameWhollyOutsideChangesNothing)
{
    Form->N114Click();
    TPositionedLayer* F = Form->Selection();
    F->SetPlacement({200, 200, 300, 300});
    Form->CropsButton1Click();
    EXPECT_EQ(Bg()->Width(), 100);
    EXPECT_EQ(Bg()->Height(), 80);
    EXPECT_TRUE(Form->UndoSlot.Empty());
    Form->CropsButton2Click(); // Cancel removes the frame
    for (int32_t I = 0; I < Layers()->Count(); ++I)
        EXPECT_NE(Layers()->Items(I)->Tag(), TagCropFrame);
    EXPECT_EQ(Form->StatusText(1), "100x80");
}

TEST_F(LayerToolsTest, CropProportions)
{
    Form->N114Click();
    TPositionedLayer* F = Form->Selection();
    const struct {
        int Item;
        bool Portrait;
        float Height;
    } Cases[] = {{1, false, 200}, {2, false, 124}, {2, true, 324}, {3, false, 112}, {3, true, 356}};
    for (const auto& C : Cases) {
        F->SetPlacement({10, 10, 210, 50});
        Form->CropsP->setCurrentIndex(C.Item);
        Form->Obrat->setChecked(C.Portrait);
        Form->CropsPChange();
        EXPECT_EQ(F->Placement().Bottom, 10 + C.Height) << C.Item << " " << C.Portrait;
        EXPECT_EQ(Form->Selection(), F);
        EXPECT_TRUE(SameRect(Form->RBLayer()->Placement(), F->Placement()));
    }
}

TEST_F(LayerToolsTest, CopyToLayerEmptiesTheBackground)
{
    Bg()->SetPixelFast(3, 3, 0x40ABCDEF);
    Form->N63Click();
    auto* L = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0), 0xFF204060u);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(3, 3), 0xFFABCDEFu);
    EXPECT_EQ(L->Bitmap()->DrawMode(), dmBlend);
    for (int32_t Y = 0; Y < Bg()->Height(); ++Y)
        for (int32_t X = 0; X < Bg()->Width(); ++X)
            ASSERT_EQ(Bg()->GetPixelFast(X, Y), 0x00FFFFFFu);
    EXPECT_EQ(Bg()->DrawMode(), dmOpaque);
    const TSinglePoint C = Form->ViewportCentreInBitmap();
    EXPECT_TRUE(SameRect(L->Placement(), TSingleRect{C.X - 50, C.Y - 40, C.X + 50, C.Y + 40}));
}

TEST_F(LayerToolsTest, FlattenRendersAndClearsEverything)
{
    TBitmapLayer* A = AddPicture(10, 10, 0xFFFF0000, {0, 0, 10, 10});
    Form->SetSelection(A);
    Form->SaveUndoEffect();
    Form->mnFlattenClick();
    EXPECT_EQ(Layers()->Count(), 0);
    EXPECT_EQ(Form->RBLayer(), nullptr);
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_EQ(Bg()->GetPixelFast(5, 5), 0xFFFF0000u);
    EXPECT_EQ(Bg()->GetPixelFast(50, 50), 0xFF204060u);

    // An empty background keeps its layers.
    Form->NewBackground(0, 0, 0);
    AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    Form->mnFlattenClick();
    EXPECT_EQ(Layers()->Count(), 1);
}

TEST_F(LayerToolsTest, MagnifierIsSelected)
{
    Form->N71Click(); // a frame goes first
    Form->mnMagnifierClick();
    TPositionedLayer* M = Form->Selection();
    ASSERT_NE(M, nullptr);
    EXPECT_EQ(M->Tag(), TagMagnifier);
    EXPECT_TRUE(Form->pnlMagn->isVisibleTo(Form.get()));
    for (int32_t I = 0; I < Layers()->Count(); ++I)
        EXPECT_NE(Layers()->Items(I)->Tag(), TagSelectionFrame);
}

TEST_F(LayerToolsTest, RescaleAndActualSize)
{
    TBitmapLayer* L = AddPicture(4, 2, 0xFF00FF00, {10, 10, 18, 14});
    Form->SetSelection(L);
    Form->ModifiedState = msUntouched;
    Form->LayerRescaleClick();
    EXPECT_EQ(L->Bitmap()->Width(), 8);
    EXPECT_EQ(L->Bitmap()->Height(), 4);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(7, 3), 0xFF00FF00u);
    EXPECT_TRUE(SameRect(L->Placement(), TSingleRect{10, 10, 18, 14}));
    EXPECT_EQ(Form->ModifiedState, msChanged);

    // A placement that rounds to nothing keeps one pixel.
    L->SetPlacement({10, 10, 10.3f, 10.2f});
    Form->LayerRescaleClick();
    EXPECT_EQ(L->Bitmap()->Width(), 1);
    EXPECT_EQ(L->Bitmap()->Height(), 1);
    EXPECT_TRUE(SameRect(L->Placement(), TSingleRect{10, 10, 11, 11}));

    // A huge placement is refused with a message.
    L->SetPlacement({0, 0, 100000, 100000});
    TScriptedAnswers Answers;
    Form->LayerRescaleClick();
    EXPECT_EQ(Answers.Requests.size(), 1u);
    EXPECT_EQ(L->Bitmap()->Width(), 1);

    L->SetPlacement({3, 4, 50, 60});
    Form->LayerResetScaleClick();
    EXPECT_TRUE(SameRect(L->Placement(), TSingleRect{3, 4, 4, 5}));
    EXPECT_TRUE(SameRect(Form->RBLayer()->Placement(), L->Placement()));
}

TEST_F(LayerToolsTest, SidePanelControlsActOnTheSelectedPicture)
{
    TBitmapLayer* L = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    Form->SetSelection(L);
    Form->LayerOpacity->setValue(77);
    EXPECT_EQ(L->Bitmap()->MasterAlpha(), 77u);
    Form->LayerInterpolate->click();
    EXPECT_EQ(L->Bitmap()->StretchFilter(), sfLinear);
    Form->Cropped->click();
    EXPECT_TRUE(L->ClipToImage());
    Form->ModifiedState = msUntouched;
    Form->SetSelection(nullptr);
    Form->SetSelection(L); // showing the layer's values changes nothing
    EXPECT_EQ(L->Bitmap()->MasterAlpha(), 77u);
}

class FakeText : public ITextLayerSource {
public:
    TBitmap32 Picture;
    bool Transparent = false;
    std::vector<int32_t> Modes;
    TBitmap32* Image() override { return &Picture; }
    bool TransparentBackground() override { return Transparent; }
    TColor BackgroundColor() override { return TColor(0x00332211); } // R 0x11, G 0x22, B 0x33
    void RenderText(int32_t Mode) override
    {
        Modes.push_back(Mode);
        // The "text" is the left column: ink in mode 7, white in the mask pass.
        if (Mode == TextRenderMask)
            Picture.ClearTo(0xFF000000);
        for (int32_t Y = 0; Y < Picture.Height(); ++Y)
            Picture.SetPixelFast(0, Y, Mode == TextRenderMask ? 0xFFFFFFFF : 0xFF0000FF);
    }
    bool Interpolation() override { return false; }
};

TEST_F(LayerToolsTest, TextLayerReplacesItsPreview)
{
    FakeText Text;
    Text.Picture.SetSize(3, 2);
    Form->LayerCountBeforeTextValue = Layers()->Count();
    Form->LayerTools().AddTextLayer(Text);
    auto* First = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(First, nullptr);
    EXPECT_EQ(First->Bitmap()->GetPixelFast(2, 1), 0xFF112233u);
    EXPECT_EQ(First->Bitmap()->GetPixelFast(0, 1), 0xFF0000FFu);

    Text.Transparent = true;
    Text.Picture.ClearTo(0xFF00FF00);
    Form->LayerTools().AddTextLayer(Text); // the preview layer goes
    auto* Second = dynamic_cast<TBitmapLayer*>(Form->Selection());
    EXPECT_EQ(Layers()->Count(), 2); // one text layer and the band
    EXPECT_EQ(Second->Bitmap()->GetPixelFast(0, 0), 0xFF00FF00u);
    EXPECT_EQ(Second->Bitmap()->GetPixelFast(1, 0), 0x0000FF00u);
    EXPECT_EQ(Text.Modes, (std::vector<int32_t>{TextRenderNormal, TextRenderMask}));
}

TEST_F(LayerToolsTest, NewLayerFromFileIsOpaqueAndCentred)
{
    const std::string Name = (std::filesystem::temp_directory_path() / "kv_layer_tools_test.bmp").string();
    TBitmap32 Picture;
    Picture.SetSize(6, 4);
    Picture.ClearTo(0x40102030);
    Picture.SaveToFile(Name);
    TDialogAnswer Open;
    Open.Result = mrOk;
    Open.FileName = Name;
    {
        TScriptedAnswers Answers;
        Answers.Then(Open);
        Form->mnNewBitmapLayerClick();
    }
    auto* L = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(5, 3), 0xFF102030u);
    const TSinglePoint C = Form->ViewportCentreInBitmap();
    EXPECT_TRUE(SameRect(L->Placement(), TSingleRect{C.X - 3, C.Y - 2, C.X + 3, C.Y + 2}));

    // A file that does not load leaves no layer behind.
    std::filesystem::remove(Name);
    const int32_t Count = Layers()->Count();
    TScriptedAnswers Answers;
    Answers.Then(Open);
    EXPECT_ANY_THROW(Form->mnNewBitmapLayerClick());
    EXPECT_EQ(Layers()->Count(), Count);
}

TEST(LayerToolsCommands, MenuCommandsRunTheHandlers)
{
    const std::string Dir = (std::filesystem::temp_directory_path() / "kv_layer_tools_config").string();
    std::filesystem::create_directories(Dir);
    SetConfigDir(Dir);
    {
        TMainForm Form;
        Form.FormCreate();
        Form.ImgView->SetBounds(0, 0, 400, 300);
        Form.NewBackground(50, 40, 0xFF000000);
        Form.UpdateCommandEnabling();
        ASSERT_NE(Form.Command("mnMagnifier"), nullptr);
        EXPECT_TRUE(Form.Command("mnMagnifier")->isEnabled());
        EXPECT_FALSE(Form.Command("N42")->isEnabled()); // no frame dialog yet
        Form.Command("mnMagnifier")->trigger();
        ASSERT_NE(Form.Selection(), nullptr);
        EXPECT_EQ(Form.Selection()->Tag(), TagMagnifier);
        Form.UpdateCommandEnabling();
        EXPECT_TRUE(Form.Command("mnDelete")->isEnabled());
        Form.Command("mnDelete")->trigger();
        EXPECT_EQ(Form.Selection(), nullptr);
        Form.Command("N71")->trigger();
        EXPECT_EQ(Form.Selection()->Tag(), TagSelectionFrame);
        QGuiApplication::clipboard()->clear();
        Form.UpdateCommandEnabling();
        EXPECT_FALSE(Form.Command("N22")->isEnabled());
        EXPECT_FALSE(Form.Command("N47")->isEnabled());
        Form.Command("N21")->trigger(); // copy the frame's area
        Form.UpdateCommandEnabling();
        EXPECT_TRUE(Form.Command("N22")->isEnabled());
        EXPECT_TRUE(Form.Command("N47")->isEnabled());
        Form.FormClose();
    }
    SetConfigDir("");
    std::filesystem::remove_all(Dir);
}

} // namespace
