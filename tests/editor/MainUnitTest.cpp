// The document model: selection and the rubber band, layer roles, frame removal, the
// flattened render, the view's mouse, the band's resizing rules and the painters.
#include "EditorFixture.h"

#include <QAction>

#include <cmath>

using namespace kv;
using namespace kv::test;

using DocumentTest = EditorTest;

TEST_F(DocumentTest, FirstSelectionCreatesBandOnTopAndLaterSelectionsBringItBack)
{
    TBitmapLayer* A = AddPicture(10, 10, clRed32, {0, 0, 10, 10});
    Form->SetSelection(A);
    ASSERT_NE(Form->RBLayer(), nullptr);
    EXPECT_EQ(Layers()->Count(), 2);
    EXPECT_EQ(Layers()->Items(1), Form->RBLayer());
    EXPECT_EQ(Form->RBLayer()->Target(), A);
    EXPECT_EQ(Form->RBLayer()->LayerOptions(), 0xB0000000u);
    EXPECT_FALSE(Form->pnlBitmapLayer->isHidden());

    TBitmapLayer* B = AddPicture(10, 10, clRed32, {0, 0, 10, 10});
    EXPECT_EQ(Layers()->Items(2), B);
    Form->SetSelection(B);
    EXPECT_EQ(Layers()->Items(2), Form->RBLayer());

    // Selecting the selected layer again changes nothing.
    Form->RBLayer()->SetLayerOptions(0xB0000001u);
    Form->SetSelection(B);
    EXPECT_EQ(Form->RBLayer()->LayerOptions(), 0xB0000001u);

    Form->SetSelection(nullptr);
    EXPECT_EQ(Form->RBLayer()->LayerOptions(), 0x10000000u);
    EXPECT_EQ(Form->RBLayer()->Target(), nullptr);
    EXPECT_TRUE(Form->pnlBitmapLayer->isHidden());
}

TEST_F(DocumentTest, SectionsAndToolsFollowTheRole)
{
    TBitmapLayer* P = AddPicture(10, 10, clRed32, {0, 0, 10, 10});
    P->Bitmap()->SetMasterAlpha(77);
    P->Bitmap()->SetStretchFilter(sfLinear);
    P->SetClipToImage(true);
    Form->SetSelection(P);
    EXPECT_EQ(Form->LayerOpacity->value(), 77);
    EXPECT_TRUE(Form->LayerInterpolate->isChecked());
    EXPECT_TRUE(Form->Cropped->isChecked());
    EXPECT_TRUE(Form->Shar->isEnabled());

    TPositionedLayer* M = AddMagnifier();
    Form->SetSelection(M);
    EXPECT_FALSE(Form->Shar->isEnabled());
    EXPECT_FALSE(Form->Soft->isEnabled());
    EXPECT_FALSE(Form->Monoh->isEnabled());
    EXPECT_FALSE(Form->pnlMagn->isHidden());
    EXPECT_TRUE(Form->pnlBitmapLayer->isHidden());
    EXPECT_TRUE(Form->Crops->isHidden());

    AddFrame(TagSelectionFrame);
    EXPECT_TRUE(Form->pnlMagn->isHidden());
    EXPECT_TRUE(Form->Crops->isHidden());
    EXPECT_TRUE(Form->pnlBitmapLayer->isHidden());

    AddFrame(TagCropFrame);
    EXPECT_FALSE(Form->Crops->isHidden());
}

TEST_F(DocumentTest, CreatePositionedLayerIs64PixelsAboutTheViewportCentre)
{
    TPositionedLayer* L = Form->CreatePositionedLayer();
    const TSingleRect& R = L->Placement();
    EXPECT_EQ(R.Right - R.Left, 64.0f);
    EXPECT_EQ(R.Bottom - R.Top, 64.0f);
    const TSinglePoint C = Form->ViewportCentreInBitmap();
    EXPECT_EQ(R.Left, C.X - 32);
    EXPECT_EQ(R.Top, C.Y - 32);
    EXPECT_TRUE(L->ScaleWithView());
    EXPECT_TRUE(L->ReceivesMouse());
    ASSERT_TRUE(bool(L->OnMouseDown));
    L->OnMouseDown(L, mbLeft, ssLeft, 0, 0);
    EXPECT_EQ(Form->Selection(), L);
}

TEST_F(DocumentTest, RemoveFrameLayersDeselectsAndFreesOnlyTheFrame)
{
    TBitmapLayer* P = AddPicture(10, 10, clRed32, {0, 0, 10, 10});
    TPositionedLayer* F = AddFrame(TagSelectionFrame);
    EXPECT_EQ(Form->Selection(), F);
    const int32_t Before = Layers()->Count();
    Form->RemoveFrameLayers();
    EXPECT_EQ(Form->Selection(), nullptr);
    EXPECT_EQ(Layers()->Count(), Before - 1);
    EXPECT_EQ(Layers()->IndexOf(P), 0);
    EXPECT_EQ(Form->RBLayer()->Target(), nullptr);
    // Nothing to remove: nothing happens, the selection stays.
    Form->SetSelection(P);
    Form->RemoveFrameLayers();
    EXPECT_EQ(Form->Selection(), P);
    // With a frame to remove, a picture selection goes too (a click keeps it: below).
    AddFrame(TagCropFrame);
    Form->SetSelection(P);
    Form->RemoveFrameLayers();
    EXPECT_EQ(Form->Selection(), nullptr);
    EXPECT_EQ(Layers()->Count(), Before - 1);
}

TEST_F(DocumentTest, FreeingTheSelectedLayerElsewhereLeavesNoDanglingSelection)
{
    TBitmapLayer* P = AddPicture(10, 10, clRed32, {0, 0, 10, 10});
    Form->SetSelection(P);
    delete P;
    EXPECT_EQ(Form->Selection(), nullptr);
    EXPECT_EQ(Form->RBLayer()->Target(), nullptr);
    Layers()->Clear();
    EXPECT_EQ(Form->RBLayer(), nullptr);
    Form->SetSelection(AddPicture(4, 4, clRed32, {0, 0, 4, 4}));
    ASSERT_NE(Form->RBLayer(), nullptr);
}

TEST_F(DocumentTest, ClickOnEmptyBackgroundRemovesFrameAndSelection)
{
    AddPicture(10, 10, clRed32, {0, 0, 10, 10});
    AddFrame(TagSelectionFrame);
    Form->ImgViewMouseDown(View(), mbLeft, ssLeft, 1, 1, nullptr);
    EXPECT_EQ(Form->Selection(), nullptr);
    for (int32_t I = 0; I < Layers()->Count(); ++I)
        EXPECT_NE(Layers()->Items(I)->Tag(), TagSelectionFrame);
    EXPECT_TRUE(Form->Shar->isEnabled());
}

TEST_F(DocumentTest, ClickOnPictureWithFrameRemovesTheFrame)
{
    TBitmapLayer* P = AddPicture(10, 10, clRed32, {0, 0, 10, 10});
    TPositionedLayer* F = AddFrame(TagCropFrame);
    // Clicking the frame itself keeps it.
    Form->ImgViewMouseDown(View(), mbLeft, ssLeft, 1, 1, F);
    EXPECT_EQ(Layers()->IndexOf(F), 1);
    // The picture's own mouse-down selected it first.
    Form->SetSelection(P);
    Form->ImgViewMouseDown(View(), mbLeft, ssLeft, 1, 1, P);
    EXPECT_EQ(Form->Selection(), P);
    for (int32_t I = 0; I < Layers()->Count(); ++I)
        EXPECT_NE(Layers()->Items(I)->Tag(), TagCropFrame);
}

TEST_F(DocumentTest, PickEndsSafelyWithoutAPictureSelection)
{
    int Ended = 0;
    Form->OnPickEnded = [&] { ++Ended; };
    View()->SetCursor(crCross);
    Form->ImgViewMouseDown(View(), mbLeft, ssLeft, 5, 5, nullptr); // nothing selected
    EXPECT_EQ(Ended, 1);
    EXPECT_EQ(View()->Cursor(), crDefault);

    TBitmapLayer* P = AddPicture(4, 4, clRed32, {10, 10, 10, 20}); // zero width
    Form->SetSelection(P);
    View()->SetCursor(crCross);
    Form->ImgViewMouseDown(View(), mbLeft, ssLeft, 5, 5, nullptr);
    EXPECT_EQ(Ended, 2);
    EXPECT_EQ(P->Bitmap()->GetPixelFast(0, 0), clRed32);
    EXPECT_TRUE(Form->UndoSlot.Empty());
}

TEST_F(DocumentTest, PickTransparentColorClearsOnlyOpaqueMatches)
{
    TBitmapLayer* P = AddPicture(2, 1, clRed32, {0, 0, 2, 1});
    P->Bitmap()->SetPixelFast(1, 0, 0x80FF0000); // the same colour, half transparent
    Form->SetSelection(P);
    Form->PickTransparentColor(clRed32);
    EXPECT_EQ(Color32Alpha(P->Bitmap()->GetPixelFast(0, 0)), 0);
    EXPECT_EQ(Color32Alpha(P->Bitmap()->GetPixelFast(1, 0)), 255);
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Effect);
}

// ---- RBResizing -----------------------------------------------------------------------

TEST_F(DocumentTest, CtrlResizeIsSymmetricAndStopsAtFourPixels)
{
    TSingleRect New{119, 100, 120, 120};
    Form->RBResizing(nullptr, {100, 100, 120, 120}, New, dsSizeL, ssLeft | ssCtrl);
    EXPECT_TRUE(SameRect(New, {108, 100, 112, 120}));

    TSingleRect Corner{119, 119, 120, 120};
    Form->RBResizing(nullptr, {100, 100, 120, 120}, Corner, dsSizeTL, ssLeft | ssCtrl);
    EXPECT_TRUE(SameRect(Corner, {108, 108, 112, 112}));

    TSingleRect Grow{90, 100, 120, 120};
    Form->RBResizing(nullptr, {100, 100, 120, 120}, Grow, dsSizeL, ssLeft | ssCtrl);
    EXPECT_TRUE(SameRect(Grow, {90, 100, 130, 120}));
    EXPECT_EQ(Form->ModifiedState, msChanged);
}

TEST_F(DocumentTest, MoveOrNoShiftChangesNothing)
{
    Form->ModifiedState = msSaved;
    TSingleRect New{1, 2, 3, 4};
    Form->RBResizing(nullptr, {0, 0, 10, 10}, New, dsMove, ssLeft | ssCtrl);
    Form->RBResizing(nullptr, {0, 0, 10, 10}, New, dsSizeL, 0);
    EXPECT_TRUE(SameRect(New, {1, 2, 3, 4}));
    EXPECT_EQ(Form->ModifiedState, msSaved);
}

TEST_F(DocumentTest, KeepProportionsTakesHeightFromWidth)
{
    TBitmapLayer* P = AddPicture(200, 100, clRed32, {0, 0, 200, 100});
    Form->SetSelection(P);
    Form->Propos->setChecked(true);
    TSingleRect New{0, 10, 300, 100};
    Form->RBResizing(nullptr, {0, 10, 200, 110}, New, dsSizeB, ssLeft);
    EXPECT_EQ(New.Bottom, 160.0f);

    // An empty bitmap has no ratio: the drag goes through unchanged.
    P->Bitmap()->SetSize(0, 0);
    TSingleRect Free{0, 10, 300, 100};
    Form->RBResizing(nullptr, {0, 10, 200, 110}, Free, dsSizeB, ssLeft);
    EXPECT_EQ(Free.Bottom, 100.0f);
}

TEST_F(DocumentTest, CropRatiosAndStatusText)
{
    TPositionedLayer* F = AddFrame(TagCropFrame);
    F->SetPlacement({10, 20, 50.4f, 45.6f});
    const int Expect[4][2] = {{0, 0}, {200, 200}, {124, 324}, {112, 356}};
    for (int Item = 1; Item <= 3; ++Item)
        for (int Portrait = 0; Portrait <= 1; ++Portrait) {
            Form->CropsP->setCurrentIndex(Item);
            Form->Obrat->setChecked(Portrait != 0);
            TSingleRect New{0, 0, 200, 5};
            Form->RBResizing(nullptr, {0, 0, 10, 10}, New, dsSizeR, ssLeft);
            EXPECT_EQ(New.Bottom, float(Expect[Item][Portrait])) << Item << " " << Portrait;
        }
    // The size the last move left, after the ratio (not the frame's size before it).
    EXPECT_EQ(Form->StatusText(1), "200x356");
}

// ---- Render and painters ------------------------------------------------------------

TEST_F(DocumentTest, RenderFlattenedLeavesFramesOutAndKeepsMagnifiers)
{
    Bg()->ClearTo(clWhite32);
    TPositionedLayer* F = AddFrame(TagSelectionFrame);
    F->SetPlacement({10, 10, 50, 50});
    TBitmap32* Flat = Form->RenderFlattened();
    EXPECT_EQ(Form->Selection(), nullptr);
    ASSERT_EQ(Flat->Width(), 100);
    ASSERT_EQ(Flat->Height(), 80);
    for (int32_t Y = 0; Y < 80; ++Y)
        for (int32_t X = 0; X < 100; ++X)
            ASSERT_EQ(Flat->GetPixelFast(X, Y), clWhite32) << X << "," << Y;

    Form->RemoveFrameLayers();
    TPositionedLayer* M = AddMagnifier();
    M->SetPlacement({10, 10, 50, 50});
    Flat = Form->RenderFlattened();
    // The outer bevel darkens the bottom-right edge of the magnifier.
    EXPECT_NE(Flat->GetPixelFast(49, 30), clWhite32);
    EXPECT_EQ(Flat->GetPixelFast(70, 30), clWhite32);
    Form->ReleaseFlatImage();
    EXPECT_EQ(Form->FlatImage(), nullptr);
}

TEST_F(DocumentTest, FrameShowsGreyOnScreenOnlyWithFrameAlpha)
{
    Bg()->ClearTo(0xFFFF0000);
    TPositionedLayer* F = AddFrame(TagSelectionFrame);
    F->SetPlacement({0, 0, 20, 20});
    TBitmap32 Buffer;
    Buffer.SetSize(400, 300); // the view's size
    Buffer.ClearTo(0xFFFF0000);
    View()->UpdateViewMapping();
    Form->FrameAlpha = 0;
    const TRect IR = SafeRoundRect(F->GetViewPlacement());
    const int32_t Cx = (IR.Left + IR.Right) / 2, Cy = (IR.Top + IR.Bottom) / 2;
    Form->PaintFrameHandler(F, &Buffer);
    EXPECT_EQ(Buffer.GetPixelClipped(Cx, Cy), 0xFFFF0000u);
    Form->FrameAlpha = 255;
    Buffer.ClearTo(0xFFFF0000);
    Form->PaintFrameHandler(F, &Buffer);
    const TColor32 Grey = Buffer.GetPixelClipped(Cx, Cy);
    EXPECT_EQ(Color32Red(Grey), Color32Green(Grey));
    EXPECT_EQ(Color32Red(Grey), Color32Intensity(0xFFFF0000));
}

TEST_F(DocumentTest, MagnifierAtHighZoomPaintsOnlyTheVisiblePart)
{
    Form->NewBackground(2000, 2000, clWhite32);
    TPositionedLayer* M = AddMagnifier();
    M->SetPlacement({0, 0, 2000, 2000});
    View()->SetScale(20.0f);
    View()->UpdateViewMapping();
    TBitmap32 Buffer;
    Buffer.SetSize(400, 300);
    Buffer.ClearTo(clWhite32);
    // 40000 x 40000 view pixels would be refused by the size check: nothing may throw.
    Form->PaintMagnifierHandler(M, &Buffer);
    Form->PaintFrameHandler(M, &Buffer);
    SUCCEED();
}

TEST_F(DocumentTest, MagnifierConstants)
{
    Form->MagnMagnification->setValue(50);
    EXPECT_DOUBLE_EQ(std::pow(10.0, Form->MagnMagnification->value() / 50.0), 10.0);
    EXPECT_NEAR(std::pow(10.0, 10 / 50.0), 1.5848932, 1e-7);
    EXPECT_NEAR(std::pow(10.0, 0.0001), 1.0002303, 1e-7);
}

TEST_F(DocumentTest, EditorBackgroundCheckerboardAndColour)
{
    TBitmap32 Buffer;
    Buffer.SetSize(17, 17);
    Form->ChessBackground = true;
    Form->ImgViewPaintStage(View(), &Buffer, 0);
    EXPECT_EQ(Buffer.GetPixelFast(0, 0), 0x1FB0B0B0u);
    EXPECT_EQ(Buffer.GetPixelFast(7, 7), 0x1FB0B0B0u);
    EXPECT_EQ(Buffer.GetPixelFast(8, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Buffer.GetPixelFast(0, 8), 0xFFFFFFFFu);
    EXPECT_EQ(Buffer.GetPixelFast(8, 8), 0x1FB0B0B0u);
    EXPECT_EQ(Buffer.GetPixelFast(16, 0), 0x1FB0B0B0u);
    Form->ChessBackground = false;
    Form->EditorBackgroundColor = clGray;
    Form->ImgViewPaintStage(View(), &Buffer, 0);
    EXPECT_EQ(Buffer.GetPixelFast(3, 3), 0xFF808080u);
    EXPECT_EQ(View()->PaintStages()->Items(0)->Stage, PST_CUSTOM);
}

// ---- State ------------------------------------------------------------------------------

TEST_F(DocumentTest, ChangesSetModifiedStateZoomDoesNot)
{
    Form->ModifiedState = msSaved;
    Bg()->SetPixelFast(0, 0, 0);
    Bg()->Changed();
    EXPECT_EQ(Form->ModifiedState, msChanged);
    Form->ModifiedState = msSaved;
    Form->MagnOpacity->setValue(100);
    EXPECT_EQ(Form->ModifiedState, msChanged);
}

TEST_F(DocumentTest, NewBackgroundReplacesTheDocument)
{
    TBitmapLayer* P = AddPicture(4, 4, clRed32, {0, 0, 4, 4});
    Form->SetSelection(P);
    Form->SaveUndoEffect();
    Form->SaveUndoCanvas();
    Form->N17Click();
    EXPECT_FALSE(Form->RedoSlot.Empty());
    Form->NewBackground(30, 20, clBlue32);
    EXPECT_EQ(Layers()->Count(), 0);
    EXPECT_EQ(Form->Selection(), nullptr);
    EXPECT_EQ(Form->RBLayer(), nullptr);
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_TRUE(Form->RedoSlot.Empty());
    EXPECT_EQ(Bg()->Width(), 30);
    EXPECT_EQ(Bg()->GetPixelFast(29, 19), clBlue32);
    EXPECT_FALSE(Form->pnlImage->isHidden());
}

TEST_F(DocumentTest, FailedLoadBackgroundKeepsTheDocument)
{
    TBitmapLayer* P = AddPicture(4, 4, clRed32, {0, 0, 4, 4});
    EXPECT_ANY_THROW(Form->LoadBackground("/nonexistent/picture.bmp", false));
    EXPECT_EQ(Layers()->IndexOf(P), 0);
    EXPECT_EQ(Bg()->Width(), 100);
}
