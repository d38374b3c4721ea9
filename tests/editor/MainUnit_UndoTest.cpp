// Undo and redo of every kind, with the slots following their layer by identity
// through reorders, deletions and frame removal.
#include "EditorFixture.h"

#include <QAction>

using namespace kv;
using namespace kv::test;

using UndoTest = EditorTest;

namespace {

bool SamePixels(TBitmap32* A, TBitmap32* B)
{
    if (A->Width() != B->Width() || A->Height() != B->Height())
        return false;
    for (int32_t Y = 0; Y < A->Height(); ++Y)
        for (int32_t X = 0; X < A->Width(); ++X)
            if (A->GetPixelFast(X, Y) != B->GetPixelFast(X, Y))
                return false;
    return true;
}

} // namespace

TEST_F(UndoTest, EffectOnBackgroundUndoRedoRoundTrip)
{
    TBitmap32 Before;
    Before.Assign(Bg());
    EXPECT_FALSE(Form->N17->isEnabled());
    Form->SaveUndoEffect();
    EXPECT_EQ(Form->UndoSlot.Index(), BackgroundIndex);
    EXPECT_TRUE(Form->N17->isEnabled());
    Bg()->ClearTo(clRed32);
    TBitmap32 After;
    After.Assign(Bg());

    Form->N17Click();
    EXPECT_TRUE(SamePixels(Bg(), &Before));
    EXPECT_FALSE(Form->N17->isEnabled());
    EXPECT_TRUE(Form->N18->isEnabled());
    Form->N18Click();
    EXPECT_TRUE(SamePixels(Bg(), &After));
    EXPECT_TRUE(Form->N17->isEnabled());
    EXPECT_FALSE(Form->N18->isEnabled());
    Form->N18Click(); // an empty slot does nothing
    EXPECT_TRUE(SamePixels(Bg(), &After));
}

TEST_F(UndoTest, EffectFollowsItsLayerThroughAReorder)
{
    TBitmapLayer* A = AddPicture(4, 4, clRed32, {0, 0, 4, 4});
    TBitmapLayer* B = AddPicture(4, 4, clGreen32, {0, 0, 4, 4});
    Form->SetSelection(A);
    Form->SaveUndoEffect();
    A->Bitmap()->ClearTo(clBlue32);
    A->SetIndex(1); // A above B now
    EXPECT_EQ(Form->UndoSlot.Index(), 1);
    Form->N17Click();
    EXPECT_EQ(A->Bitmap()->GetPixelFast(0, 0), clRed32);
    EXPECT_EQ(B->Bitmap()->GetPixelFast(0, 0), clGreen32);
    Form->N18Click();
    EXPECT_EQ(A->Bitmap()->GetPixelFast(0, 0), clBlue32);
}

TEST_F(UndoTest, EffectUndoAndRedoShowTheOpacityTheLayerGetsBack)
{
    // The snapshot holds the layer's master alpha with its pixels: the side panel
    // follows what the layer has after each step.
    TBitmapLayer* A = AddPicture(4, 4, clRed32, {0, 0, 4, 4});
    Form->SetSelection(A);
    ASSERT_EQ(Form->LayerOpacity->value(), 255);
    Form->SaveUndoEffect();
    A->Bitmap()->ClearTo(clBlue32);
    Form->LayerOpacity->setValue(100);
    Form->LayerInterpolate->click();
    ASSERT_EQ(A->Bitmap()->MasterAlpha(), 100u);
    ASSERT_EQ(A->Bitmap()->StretchFilter(), sfLinear);
    Form->N17Click();
    EXPECT_EQ(A->Bitmap()->MasterAlpha(), 255u);
    EXPECT_EQ(Form->LayerOpacity->value(), 255);
    EXPECT_EQ(A->Bitmap()->StretchFilter(), sfNearest);
    EXPECT_FALSE(Form->LayerInterpolate->isChecked());
    Form->N18Click();
    EXPECT_EQ(A->Bitmap()->MasterAlpha(), 100u);
    EXPECT_EQ(Form->LayerOpacity->value(), 100);
    EXPECT_TRUE(Form->LayerInterpolate->isChecked());
    EXPECT_EQ(A->Bitmap()->GetPixelFast(0, 0), clBlue32);
}

TEST_F(UndoTest, DeleteUpkeepFollowsOrClearsTheSlot)
{
    TBitmapLayer* L[4];
    for (auto& P : L)
        P = AddPicture(2, 2, clRed32, {0, 0, 2, 2});
    Form->SetSelection(L[3]);
    Form->SaveUndoEffect();
    EXPECT_EQ(Form->UndoSlot.Index(), 3);
    delete L[1];
    EXPECT_EQ(Form->UndoSlot.Index(), 2);
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Effect);
    delete L[3];
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_FALSE(Form->N17->isEnabled());

    Form->SetSelection(nullptr);
    Form->SaveUndoEffect();
    delete L[0];
    EXPECT_EQ(Form->UndoSlot.Index(), BackgroundIndex);
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Effect);
}

TEST_F(UndoTest, FrameRemovalDoesNotRedirectTheSlot)
{
    // Select; Paste lands above the frame; an effect on it; a click on the empty
    // background frees the frame: Undo must still restore the pasted layer.
    AddFrame(TagSelectionFrame);
    TBitmapLayer* P = AddPicture(3, 3, clRed32, {0, 0, 3, 3});
    Form->SetSelection(P);
    Form->SaveUndoEffect();
    P->Bitmap()->ClearTo(clBlue32);
    Form->ImgViewMouseDown(View(), mbLeft, ssLeft, 1, 1, nullptr);
    Form->N17Click();
    EXPECT_EQ(P->Bitmap()->GetPixelFast(0, 0), clRed32);
    EXPECT_EQ(Form->RBLayer()->ClassName(), "TRubberbandLayer");
}

TEST_F(UndoTest, SaversWithoutAPictureSelectionKeepTheSlot)
{
    Form->SaveUndoGeometry(); // nothing selected
    EXPECT_TRUE(Form->UndoSlot.Empty());
    Form->SetSelection(AddMagnifier());
    Form->SaveUndoEffect();
    Form->SaveUndoGeometry();
    EXPECT_TRUE(Form->UndoSlot.Empty());
    Form->SetSelection(nullptr);
    Form->SaveUndoCanvas();
    Form->SetSelection(AddFrame(TagSelectionFrame));
    Form->SaveUndoEffect();
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Canvas);
}

TEST_F(UndoTest, SizeRescalesEveryLayerRoundingHalvesToEven)
{
    Form->NewBackground(200, 100, clWhite32);
    Form->SaveUndoSize();
    Bg()->SetSize(400, 200);
    TBitmapLayer* P = AddPicture(2, 2, clRed32, {100, 50, 301, 151});
    Form->N17Click();
    EXPECT_EQ(Bg()->Width(), 200);
    EXPECT_TRUE(SameRect(P->Placement(), {50, 25, 150, 76}));
    Form->N18Click();
    EXPECT_EQ(Bg()->Width(), 400);
    EXPECT_TRUE(SameRect(P->Placement(), {100, 50, 300, 152}));
}

TEST_F(UndoTest, CropMovesLayersBackAndForth)
{
    TBitmapLayer* P = AddPicture(2, 2, clRed32, {10, 10, 12, 12});
    Form->SetSelection(P);
    Form->SaveUndoCrop();
    Form->SetUndoCropOffset(0, 21);
    Bg()->SetSize(100, 59);
    Form->N17Click();
    EXPECT_EQ(Bg()->Height(), 80);
    EXPECT_TRUE(SameRect(P->Placement(), {10, 31, 12, 33}));
    Form->N18Click();
    EXPECT_EQ(Bg()->Height(), 59);
    EXPECT_TRUE(SameRect(P->Placement(), {10, 10, 12, 12}));
    // The cycle repeats with the same offsets.
    Form->N17Click();
    EXPECT_TRUE(SameRect(P->Placement(), {10, 31, 12, 33}));
    // The rubber band follows its target, not the crop offset.
    EXPECT_TRUE(SameRect(Form->RBLayer()->Placement(), P->Placement()));
}

TEST_F(UndoTest, CanvasRestoresTheBackground)
{
    TBitmap32 Before;
    Before.Assign(Bg());
    Form->SaveUndoCanvas();
    Bg()->SetSize(10, 10);
    Bg()->ClearTo(clRed32);
    Form->N17Click();
    EXPECT_TRUE(SamePixels(Bg(), &Before));
    Form->N18Click();
    EXPECT_EQ(Bg()->Width(), 10);
}

TEST_F(UndoTest, GeometryRestoresBitmapAndPlacementAndReselects)
{
    TBitmapLayer* P = AddPicture(4, 2, clRed32, {10, 10, 14, 12});
    Form->SetSelection(P);
    Form->SaveUndoGeometry();
    P->Bitmap()->SetSize(2, 4);
    P->SetPlacement({10, 10, 12, 14});
    Form->N17Click();
    EXPECT_EQ(P->Bitmap()->Width(), 4);
    EXPECT_TRUE(SameRect(P->Placement(), {10, 10, 14, 12}));
    EXPECT_EQ(Form->Selection(), P);
    EXPECT_TRUE(SameRect(Form->RBLayer()->Placement(), {10, 10, 14, 12}));
    Form->N18Click();
    EXPECT_EQ(P->Bitmap()->Width(), 2);
    EXPECT_TRUE(SameRect(P->Placement(), {10, 10, 12, 14}));
}

TEST_F(UndoTest, RectFrameUndoRedoWithOnePictureLayer)
{
    Form->NewBackground(680, 340, clWhite32);
    TBitmapLayer* P = AddPicture(2, 2, clRed32, {10, 10, 12, 12});
    Form->SetSelection(P);
    // What Layers > New Frame does for a whole-picture rectangular frame.
    Form->SaveUndoFrame(TFrameKind::Rect);
    auto* Frame = Layers()->Add<TBitmapLayer>();
    Frame->Bitmap()->SetSize(8, 8);
    Frame->Bitmap()->ClearTo(clBlue32);
    Form->SetUndoFrameLayer(Frame);
    Form->ApplyRectFrame();
    EXPECT_EQ(Bg()->Width(), 880);
    EXPECT_EQ(Bg()->Height(), 440);
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), 0xFF000000u);
    EXPECT_EQ(Bg()->GetPixelFast(100, 50), clWhite32);
    EXPECT_TRUE(SameRect(P->Placement(), {110, 60, 112, 62}));
    Frame->SetPlacement({0, 0, 880, 440});
    Form->SetSelection(Frame);

    Form->N17Click();
    EXPECT_EQ(Bg()->Width(), 680);
    EXPECT_EQ(Bg()->Height(), 340);
    EXPECT_EQ(Layers()->IndexOf(Frame), -1);
    EXPECT_TRUE(SameRect(P->Placement(), {10, 10, 12, 12}));
    EXPECT_EQ(Form->RedoSlot.Kind, TUndoKind::Frame);

    Form->N18Click();
    EXPECT_EQ(Bg()->Width(), 880);
    EXPECT_TRUE(SameRect(P->Placement(), {110, 60, 112, 62}));
    auto* Again = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(Again, nullptr);
    EXPECT_EQ(Again->Bitmap()->GetPixelFast(0, 0), clBlue32);
    EXPECT_TRUE(SameRect(Again->Placement(), {0, 0, 880, 440}));
    // And back again: no drift.
    Form->N17Click();
    EXPECT_TRUE(SameRect(P->Placement(), {10, 10, 12, 12}));
    EXPECT_EQ(Bg()->Width(), 680);
}

TEST_F(UndoTest, DeletingTheFrameLayerClearsTheFrameSlot)
{
    Form->SaveUndoFrame(TFrameKind::Mask);
    TBitmapLayer* Frame = AddPicture(4, 4, clBlue32, {0, 0, 100, 80});
    TBitmapLayer* Other = AddPicture(4, 4, clRed32, {0, 0, 4, 4});
    Form->SetUndoFrameLayer(Frame);
    delete Other; // an unrelated layer: the slot stays
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Frame);
    delete Frame;
    EXPECT_TRUE(Form->UndoSlot.Empty());
}

TEST_F(UndoTest, RestoreLayerBitmapByIndexOrBackground)
{
    TBitmap32 Src;
    Src.SetSize(3, 3);
    Src.ClearTo(clGreen32);
    Form->RestoreLayerBitmap(&Src, RestoreBackgroundIndex, {});
    EXPECT_EQ(Bg()->Width(), 3);
    TBitmapLayer* P = AddPicture(1, 1, clRed32, {0, 0, 1, 1});
    Form->RestoreLayerBitmap(&Src, 0, {1, 2, 4, 5});
    EXPECT_EQ(P->Bitmap()->GetPixelFast(2, 2), clGreen32);
    EXPECT_TRUE(SameRect(P->Placement(), {1, 2, 4, 5}));
    Form->RestoreLayerBitmap(&Src, 7, {}); // no such layer: nothing
}
