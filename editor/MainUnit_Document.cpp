// The document: selection and rubber band, layer roles, frame removal, the flattened
// render, background replacement, the view's mouse, the band's resizing rules and the
// magnifier and frame painters.
#include "editor/MainUnit.h"

#include "editor/PictureFiles.h"
#include "platform/Forms.h"
#include "raster/Raster32_Filters.h"
#include "raster/Raster32_Transforms.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QSlider>

#include <cmath>

namespace kv {

namespace {

bool IsFrameTag(int32_t Tag) { return Tag == TagSelectionFrame || Tag == TagCropFrame; }

// Copies the drawing settings a load must not change (the side panel set them).
void KeepDrawingSettings(TBitmap32& Dst, const TBitmap32& Settings)
{
    Dst.SetDrawMode(Settings.DrawMode());
    Dst.SetMasterAlpha(Settings.MasterAlpha());
    Dst.SetOuterColor(Settings.OuterColor());
    Dst.SetStretchFilter(Settings.StretchFilter());
}

} // namespace

// ---- Selection ----------------------------------------------------------------------

void TMainForm::DetachRubberband()
{
    TRubberbandLayer* RB = RBLayer();
    if (!RB)
        return;
    RB->SetTarget(nullptr);
    RB->SetLayerOptions(LOB_NO_UPDATE);
    HideLayerSections();
    ImgView->Invalidate();
}

void TMainForm::SetSelection(TPositionedLayer* Value)
{
    if (Value == Selection())
        return;
    DetachRubberband();
    FSelectionRef.Set(Value);
    if (!Value)
        return;

    TRubberbandLayer* RB = RBLayer();
    if (!RB) {
        RB = ImgView->Layers()->Add<TRubberbandLayer>();
        RB->SetMinWidth(1.0f);
        RB->SetMinHeight(1.0f);
        FRBLayerRef.Set(RB);
    } else {
        RB->BringToFront();
    }
    RB->SetTarget(Value);
    RB->SetLayerOptions(LOB_VISIBLE | LOB_MOUSE_EVENTS | LOB_NO_UPDATE);
    RB->OnResizing = [this](TObject* Sender, const TSingleRect& OldLocation, TSingleRect& NewLocation,
                            TRBDragState DragState,
                            TShiftState Shift) { RBResizing(Sender, OldLocation, NewLocation, DragState, Shift); };

    if (auto* BL = dynamic_cast<TBitmapLayer*>(Value)) {
        pnlBitmapLayer->show();
        LayerOpacity->setValue(int(BL->Bitmap()->MasterAlpha()));
        LayerInterpolate->setChecked(BL->Bitmap()->StretchFilter() == sfLinear);
        Cropped->setChecked(BL->ClipToImage());
        Shar->setEnabled(true);
        Soft->setEnabled(true);
        Monoh->setEnabled(true);
    } else {
        Shar->setEnabled(false);
        Soft->setEnabled(false);
        Monoh->setEnabled(false);
        if (Value->Tag() == TagMagnifier)
            pnlMagn->show();
        else if (Value->Tag() == TagCropFrame)
            Crops->show();
    }
}

// The selected layer was freed by a road that did not deselect it first.
void TMainForm::SelectionLost() { DetachRubberband(); }

void TMainForm::LayerMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (auto* L = dynamic_cast<TPositionedLayer*>(Sender))
        SetSelection(L);
}

TSinglePoint TMainForm::ViewportCentreInBitmap()
{
    const TRect VR = ImgView->GetViewportRect();
    const TPoint P = ImgView->ViewToBitmap(TPoint{(VR.Left + VR.Right) / 2, (VR.Top + VR.Bottom) / 2});
    return TSinglePoint{float(P.X), float(P.Y)};
}

TSingleRect TMainForm::CentredPlacement(int32_t W, int32_t H)
{
    const TSinglePoint P = ViewportCentreInBitmap();
    return TSingleRect{P.X - W / 2.0f, P.Y - H / 2.0f, P.X + W / 2.0f, P.Y + H / 2.0f};
}

void TMainForm::SetUpContentLayer(TPositionedLayer* L)
{
    L->SetScaleWithView(true);
    L->SetReceivesMouse(true);
    L->OnMouseDown = [this](TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
        LayerMouseDown(Sender, Button, Shift, X, Y);
    };
}

TPositionedLayer* TMainForm::CreatePositionedLayer()
{
    const TSinglePoint P = ViewportCentreInBitmap();
    auto* L = ImgView->Layers()->Add<TPositionedLayer>();
    L->SetPlacement(TSingleRect{P.X - 32, P.Y - 32, P.X + 32, P.Y + 32});
    SetUpContentLayer(L);
    return L;
}

void TMainForm::FreeFirstFrameLayer(TDeselect Deselect)
{
    TLayerCollection* Layers = ImgView->Layers();
    for (int32_t I = 0; I < Layers->Count(); ++I) {
        TCustomLayer* L = Layers->Items(I);
        if (IsFrameTag(L->Tag())) {
            // Deselect before freeing: the collection's change event looks at the
            // selection, which must never be the layer being freed.
            if (Deselect == TDeselect::Always || L == Selection())
                SetSelection(nullptr);
            delete L;
            return;
        }
    }
}

namespace {

// The blend mixes alpha like a colour (a layer of alpha 128 over an opaque pixel gives
// 192), but anything laid over an opaque pixel is opaque: where the background is
// opaque the picture is too, so saved, printed and copied pictures show no see-through
// patches. Elsewhere the render's alpha stands; the colours are never touched.
void OpaqueWhereBackgroundIs(const TBitmap32& Bg, TBitmap32& Flat)
{
    const size_t Count = size_t(Bg.Width()) * size_t(Bg.Height());
    const TColor32* B = Bg.Bits();
    TColor32* F = Flat.Bits();
    for (size_t I = 0; I < Count; ++I)
        F[I] |= B[I] >= 0xFF000000u ? 0xFF000000u : 0u;
}

} // namespace

TBitmap32* TMainForm::RenderFlattened()
{
    SetSelection(nullptr);
    TBitmap32* Bg = ImgView->Bitmap();
    auto Flat = std::make_unique<TBitmap32>();
    Flat->SetSize(Bg->Width(), Bg->Height());
    if (!Flat->IsEmpty()) {
        ImgView->RenderTo(Flat.get(), TRect{0, 0, Bg->Width(), Bg->Height()});
        OpaqueWhereBackgroundIs(*Bg, *Flat);
    }
    FFlatImage = std::move(Flat);
    return FFlatImage.get();
}

void TMainForm::ClearDocument()
{
    SetSelection(nullptr);
    ResetUndo();
    ImgView->Layers()->Clear(); // the rubber band with them
    FRBLayerRef.Reset();
    ImgView->SetScale(1.0f);
    if (ScaleCombo)
        SetScaleText(1.0f); // the zoom field must not go on showing the old document's zoom
}

void TMainForm::NewBackground(int32_t Width, int32_t Height, TColor32 Color)
{
    // Allocate first: a refused size leaves the open document as it was.
    TBitmap32 Fresh;
    Fresh.SetSize(Width, Height);
    ClearDocument();
    TBitmap32* Bg = ImgView->Bitmap();
    Bg->SetSize(Width, Height);
    Bg->ClearTo(Color);
    pnlImage->setVisible(!Bg->IsEmpty());
}

bool TMainForm::LoadBackground(const std::string& FileName, bool KeepLayers)
{
    if (KeepLayers)
        return true;
    TBitmap32 Loaded;
    bool Damaged = false;
    if (LoadPictureFile(FileName, Loaded, &Damaged, grOwnCodec) == faFromFile)
        PutOnBlankCanvas(Loaded);
    TBitmap32* Bg = ImgView->Bitmap();
    KeepDrawingSettings(Loaded, *Bg);
    ClearDocument();
    Bg->TakeOver(Loaded);
    pnlImage->setVisible(!Bg->IsEmpty());
    return !Damaged;
}

// ---- The view's mouse -----------------------------------------------------------------

TBitmapLayer* TMainForm::PickTarget()
{
    auto* BL = dynamic_cast<TBitmapLayer*>(Selection());
    if (!BL || BL->Bitmap()->IsEmpty())
        return nullptr;
    const TSingleRect& R = BL->Placement();
    const double W = std::fabs(double(R.Right) - R.Left), H = std::fabs(double(R.Top) - R.Bottom);
    if (!std::isfinite(R.Left) || !std::isfinite(R.Top) || !std::isfinite(W) || !std::isfinite(H) || W == 0 || H == 0)
        return nullptr;
    return BL;
}

void TMainForm::EndPick()
{
    ImgView->SetCursor(crDefault);
    if (OnPickEnded)
        OnPickEnded();
}

void TMainForm::PickAt(int32_t X, int32_t Y)
{
    if (TBitmapLayer* BL = PickTarget()) {
        const TPoint P = ImgView->ViewToBitmap(TPoint{X, Y});
        const TSingleRect& R = BL->Placement();
        TBitmap32* B = BL->Bitmap();
        const double Sx = B->Width() / std::fabs(double(R.Right) - R.Left);
        const double Sy = B->Height() / std::fabs(double(R.Top) - R.Bottom);
        const int32_t Px = SafeRound((P.X - double(R.Left)) * Sx);
        const int32_t Py = SafeRound((P.Y - double(R.Top)) * Sy);
        // Through the system colour and back: the picked colour is always opaque.
        const TColor32 C = WinColorToColor32(Color32ToWinColor(B->GetPixelClipped(Px, Py)));
        PickTransparentColor(C);
    }
    EndPick();
}

void TMainForm::PickTransparentColor(TColor32 Color)
{
    auto* BL = dynamic_cast<TBitmapLayer*>(Selection());
    if (!BL || BL->Bitmap()->IsEmpty())
        return;
    SaveUndoEffect();
    TBitmap32* B = BL->Bitmap();
    TBitmap32 Mask;
    Mask.SetSize(B->Width(), B->Height());
    const int64_t N = int64_t(B->Width()) * B->Height();
    const TColor32* Src = B->Bits();
    TColor32* M = Mask.Bits();
    for (int64_t I = 0; I < N; ++I)
        M[I] = Src[I] == Color ? 0xFF000000u : 0xFFFFFFFFu;
    AlphaFromIntensity(B, &Mask);
}

void TMainForm::ImgViewMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y,
                                 TCustomLayer* Layer)
{
    if (ImgView->Cursor() != crDefault) {
        PickAt(X, Y);
        return;
    }
    if (Layer) {
        TPositionedLayer* S = Selection();
        if (!S || IsFrameTag(S->Tag()))
            return;
        FreeFirstFrameLayer(TDeselect::IfFrameSelected);
        return;
    }
    SetSelection(nullptr);
    ImgView->SetMouseCapture(false);
    Shar->setEnabled(true);
    Soft->setEnabled(true);
    Monoh->setEnabled(true);
    if (ImgView->Layers()->Count() > 0)
        FreeFirstFrameLayer(TDeselect::IfFrameSelected);
}

// ---- Rubber band resizing -----------------------------------------------------------

double TMainForm::CropRatio() const
{
    const bool Portrait = Obrat->isChecked();
    switch (CropsP->currentIndex()) {
    case 1: return 1.0;
    case 2: return Portrait ? 0.6180469715698393 : 1.618;
    case 3: return Portrait ? 0.562429696287964 : 1.778;
    default: return 0.0;
    }
}

TRect FramePixels(const TSingleRect& Frame)
{
    const TRect R = SafeRoundRect(Frame);
    return TRect{std::min(R.Left, R.Right), std::min(R.Top, R.Bottom), std::max(R.Left, R.Right),
                 std::max(R.Top, R.Bottom)};
}

void TMainForm::RBResizing(TObject* Sender, const TSingleRect& OldLocation, TSingleRect& NewLocation,
                           TRBDragState DragState, TShiftState Shift)
{
    if (DragState == dsMove || Shift == 0)
        return;
    TSingleRect& N = NewLocation;
    if (Shift & ssCtrl) {
        const float Cx = (OldLocation.Left + OldLocation.Right) / 2;
        const float Cy = (OldLocation.Top + OldLocation.Bottom) / 2;
        float Hw = (OldLocation.Right - OldLocation.Left) / 2;
        float Hh = (OldLocation.Bottom - OldLocation.Top) / 2;
        const bool Left = DragState == dsSizeL || DragState == dsSizeTL || DragState == dsSizeBL;
        const bool Right = DragState == dsSizeR || DragState == dsSizeTR || DragState == dsSizeBR;
        const bool Top = DragState == dsSizeT || DragState == dsSizeTL || DragState == dsSizeTR;
        const bool Bottom = DragState == dsSizeB || DragState == dsSizeBL || DragState == dsSizeBR;
        if (Left)
            Hw = Cx - N.Left;
        if (Right)
            Hw = N.Right - Cx;
        if (Top)
            Hh = Cy - N.Top;
        if (Bottom)
            Hh = N.Bottom - Cy;
        if (Hw < 2)
            Hw = 2;
        if (Hh < 2)
            Hh = 2;
        N = TSingleRect{Cx - Hw, Cy - Hh, Cx + Hw, Cy + Hh};
    }
    if (Propos->isChecked() && SectionShown(pnlBitmapLayer)) {
        auto* BL = dynamic_cast<TBitmapLayer*>(Selection());
        // An empty bitmap has no proportions to keep.
        if (BL && !BL->Bitmap()->IsEmpty()) {
            const double Ratio = double(BL->Bitmap()->Width()) / BL->Bitmap()->Height();
            N.Bottom = N.Top + SafeRound(std::fabs(double(N.Right) - N.Left) / Ratio);
        }
    }
    if (SectionShown(Crops)) {
        const double Ratio = CropRatio();
        if (Ratio > 0)
            N.Bottom = N.Top + SafeRound(std::fabs(double(N.Right) - N.Left) / Ratio);
        // The frame this move leaves, measured as the crop will cut it.
        const TRect R = FramePixels(N);
        SetStatusText(1, std::to_string(R.Right - R.Left) + "x" + std::to_string(R.Bottom - R.Top));
    }
    ModifiedState = msChanged;
}

// ---- Magnifier and frame painters -----------------------------------------------------

bool TMainForm::TransformUnderLayer(TPositionedLayer* Layer, TBitmap32* Buffer, double M, double A, TBitmap32& Dest,
                                    TRect& Target)
{
    const TSingleRect R = Layer->GetViewPlacement();
    const TRect IR = SafeRoundRect(R);
    const int64_t W = int64_t(IR.Right) - IR.Left, H = int64_t(IR.Bottom) - IR.Top;
    if (W <= 0 || H <= 0 || !std::isfinite(R.Left) || !std::isfinite(R.Top) || !std::isfinite(R.Right) ||
        !std::isfinite(R.Bottom))
        return false;
    // Only the part of the layer that lies on the buffer is computed, so the work and
    // the memory never grow with the zoom; the pixels that show are the same.
    TRect Clip;
    if (!IntersectRects(Clip, IR, TRect{0, 0, Buffer->Width(), Buffer->Height()}))
        return false;
    const float Hw = float(W) / 2, Hh = float(H) / 2;
    TAffineTransformation T;
    T.SetSourceRect(TSingleRect{R.Left - Hh, R.Top - Hw, R.Right + Hh, R.Bottom + Hw});
    T.Translate(-float(IR.Left), -float(IR.Top));
    T.Translate(-Hw, -Hh);
    T.Scale(float(M), float(M));
    T.Rotate(0, 0, float(A));
    T.Translate(Hw, Hh);
    T.Translate(-float(Clip.Left - IR.Left), -float(Clip.Top - IR.Top));

    Dest.SetSize(Clip.Right - Clip.Left, Clip.Bottom - Clip.Top);
    Dest.Clear();
    const bool Interpolate = MagnInterpolate->isChecked();
    {
        TUpdateGuard Update(*Buffer);
        if (Interpolate)
            Buffer->SetStretchFilter(sfLinear);
        DrawTransformed(&Dest, Buffer, &T);
        Buffer->SetStretchFilter(sfNearest);
    }
    Target = Clip;
    return true;
}

void TMainForm::PaintMagnifierHandler(TObject* Sender, TBitmap32* Buffer)
{
    auto* L = dynamic_cast<TPositionedLayer*>(Sender);
    if (!L || !Buffer || Buffer->IsEmpty())
        return;
    try {
        const double M = std::pow(10.0, MagnMagnification->value() / 50.0);
        const double A = -double(MagnRotation->value());
        TRect Target;
        TBitmap32& B = *FScratch;
        if (!TransformUnderLayer(L, Buffer, M, A, B, Target))
            return;
        B.MakeOpaque();
        B.SetDrawMode(dmBlend);
        B.SetMasterAlpha(MagnOpacity->value());
        B.DrawOntoAt(Buffer, Target.Left, Target.Top);
        TRect IR = SafeRoundRect(L->GetViewPlacement());
        for (int32_t I = 0; I <= 4; ++I) {
            Buffer->DrawBevel(IR.Left, IR.Top, IR.Right, IR.Bottom, 35 - 8 * I);
            GrowRect(IR, -1, -1);
        }
    } catch (const std::exception&) {
        // A paint never throws into the view; the layer simply does not show.
    }
}

void TMainForm::PaintFrameHandler(TObject* Sender, TBitmap32* Buffer)
{
    auto* L = dynamic_cast<TPositionedLayer*>(Sender);
    // Frames are a tool on screen only: they never paint into a render of the document.
    if (!L || !Buffer || Buffer->IsEmpty() || ImgView->RenderingTo())
        return;
    try {
        TRect Target;
        TBitmap32& B = *FScratch;
        if (!TransformUnderLayer(L, Buffer, std::pow(10.0, 0.0001), 0.0, B, Target))
            return;
        GrayFromColor(&B, &B);
        B.MakeOpaque();
        B.SetMasterAlpha(FrameAlpha);
        B.SetDrawMode(dmBlend);
        B.DrawOntoAt(Buffer, Target.Left, Target.Top);
    } catch (const std::exception&) {
    }
}

} // namespace kv
