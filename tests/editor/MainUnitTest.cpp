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

namespace {

// A 400 x 300 view buffer whose every pixel names its own place: x in bits 9..17, y in
// bits 0..8, opaque.
TColor32 Place(int32_t X, int32_t Y) { return 0xFF000000u | uint32_t(X) << 9 | uint32_t(Y); }

void FillWithPlaces(TBitmap32& Buffer)
{
    Buffer.SetSize(400, 300);
    for (int32_t Y = 0; Y < 300; ++Y)
        for (int32_t X = 0; X < 400; ++X)
            Buffer.SetPixelFast(X, Y, Place(X, Y));
}

// Where the magnifier took the pixel at (X, Y) from, as an offset from its centre (Cx, Cy);
// false when the pixel is no copy of the buffer.
bool SourceOffset(TBitmap32& Buffer, int32_t X, int32_t Y, double Cx, double Cy, double& Dx, double& Dy)
{
    const TColor32 C = Buffer.GetPixelFast(X, Y);
    if ((C >> 24) != 0xFF || ((C >> 9) & 0x1FF) >= 400 || (C & 0x1FF) >= 300)
        return false;
    Dx = double((C >> 9) & 0x1FF) - Cx;
    Dy = double(C & 0x1FF) - Cy;
    return true;
}

// Places the magnifier so that it covers Size x Size view pixels centred on (200, 150).
TRect CentreInView(TPositionedLayer* M, float Scale, float Size)
{
    M->SetPlacement({0, 0, 1, 1});
    const TSingleRect Origin = M->GetViewPlacement();
    const float Side = Size / Scale, Left = (200 - Size / 2 - Origin.Left) / Scale;
    const float Top = (150 - Size / 2 - Origin.Top) / Scale;
    M->SetPlacement({Left, Top, Left + Side, Top + Side});
    return SafeRoundRect(M->GetViewPlacement());
}

} // namespace

// The magnifier scales by 10 ^ (magnification / 50) and turns by minus the rotation in
// degrees about its centre: a view pixel at offset (dx, dy) from the centre shows the
// buffer pixel at the offset turned back and divided by the scale.
TEST_F(DocumentTest, MagnifierMagnifiesAndTurnsAboutItsCentre)
{
    TPositionedLayer* M = AddMagnifier();
    View()->UpdateViewMapping();
    const TRect IR = CentreInView(M, View()->Scale(), 200);
    ASSERT_EQ(IR.Right - IR.Left, 200);
    const double Cx = IR.Left + 100, Cy = IR.Top + 100;
    Form->MagnOpacity->setValue(255);
    Form->MagnInterpolate->setChecked(false);
    struct Case {
        int Magnification, Rotation;
        int32_t ViewDx, ViewDy; // the view pixel, from the centre
        double Dx, Dy;          // the buffer pixel it shows, from the centre
    };
    const Case Cases[] = {
        {0, 0, 60, -40, 60, -40},   // 10 ^ 0 = 1
        {10, 0, 90, 0, 56.79, 0},   // 10 ^ 0.2 = 1.5849, the default
        {10, 0, 0, -80, 0, -50.48}, //
        {25, 0, -90, 0, -28.46, 0}, // 10 ^ 0.5 = 3.1623
        {50, 0, 90, 60, 9, 6},      // 10 ^ 1
        {50, 90, 90, 0, 0, -9},     // turned by -90 degrees
        {50, 90, 0, 60, 6, 0},      //
        {0, -90, 50, 20, -20, 50},  // turned by 90 degrees
    };
    for (const Case& C : Cases) {
        TBitmap32 Buffer;
        FillWithPlaces(Buffer);
        Form->MagnMagnification->setValue(C.Magnification);
        Form->MagnRotation->setValue(C.Rotation);
        Form->PaintMagnifierHandler(M, &Buffer);
        double Dx = 0, Dy = 0;
        ASSERT_TRUE(SourceOffset(Buffer, int32_t(Cx) + C.ViewDx, int32_t(Cy) + C.ViewDy, Cx, Cy, Dx, Dy))
            << C.Magnification << "," << C.Rotation;
        EXPECT_NEAR(Dx, C.Dx, 1.0) << C.Magnification << "," << C.Rotation;
        EXPECT_NEAR(Dy, C.Dy, 1.0) << C.Magnification << "," << C.Rotation;
    }
}

TEST_F(DocumentTest, MagnifierAtHighZoomPaintsOnlyTheVisiblePart)
{
    Form->NewBackground(2000, 2000, clWhite32);
    TPositionedLayer* M = AddMagnifier();
    View()->SetScale(20.0f);
    View()->UpdateViewMapping();
    // 40000 x 40000 view pixels, which the size check would refuse as one bitmap, with the
    // centre in the middle of the buffer and the edges (and bevels) far outside it.
    const TRect IR = CentreInView(M, 20.0f, 40000);
    ASSERT_EQ(IR.Right - IR.Left, 40000);
    const double Cx = IR.Left + 20000, Cy = IR.Top + 20000;
    ASSERT_NEAR(Cx, 200, 1);
    ASSERT_NEAR(Cy, 150, 1);
    Form->MagnMagnification->setValue(50); // 10 times
    Form->MagnRotation->setValue(0);
    Form->MagnInterpolate->setChecked(false);
    TBitmap32 Buffer;
    FillWithPlaces(Buffer);
    Form->PaintMagnifierHandler(M, &Buffer);
    int Wrong = 0;
    for (int32_t Y = 0; Y < 300; ++Y)
        for (int32_t X = 0; X < 400; ++X) {
            double Dx = 0, Dy = 0;
            const bool Copy = SourceOffset(Buffer, X, Y, Cx, Cy, Dx, Dy);
            if (!Copy || std::fabs(Dx - (X - Cx) / 10) > 1 || std::fabs(Dy - (Y - Cy) / 10) > 1) {
                if (Wrong++ == 0)
                    ADD_FAILURE() << "view pixel " << X << "," << Y << " shows " << std::hex
                                  << Buffer.GetPixelFast(X, Y);
            }
        }
    EXPECT_EQ(Wrong, 0);

    // The frame painter on the same layer: the grey of each pixel in place (a scale of
    // 10 ^ 0.0001 moves nothing by half a pixel within 2000 of the centre).
    FillWithPlaces(Buffer);
    Form->FrameAlpha = 255;
    Form->PaintFrameHandler(M, &Buffer);
    Wrong = 0;
    for (int32_t Y = 0; Y < 300; ++Y)
        for (int32_t X = 0; X < 400; ++X) {
            const uint32_t I = uint32_t(Color32Intensity(Place(X, Y)));
            if (Buffer.GetPixelFast(X, Y) != (0xFF000000u | I << 16 | I << 8 | I) && Wrong++ == 0)
                ADD_FAILURE() << "view pixel " << X << "," << Y << " is " << std::hex << Buffer.GetPixelFast(X, Y);
        }
    EXPECT_EQ(Wrong, 0);
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
