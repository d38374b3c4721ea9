// One level of undo and one of redo. A slot names its layer by identity; every restore
// copies what it will need before it touches the document, and puts the old pixels back
// when the final copy fails, so a failed restore leaves the document as it was.
#include "editor/MainUnit.h"

#include "editor/CommandTable.h"

#include <QAction>
#include <QCheckBox>
#include <QSlider>

#include <cmath>

namespace kv {

namespace {

// A copy made before anything changes; the slot takes it only once it exists.
std::unique_ptr<TBitmap32> CopyOf(TBitmap32* Source)
{
    auto Copy = std::make_unique<TBitmap32>();
    Copy->Assign(Source);
    return Copy;
}

// Target := a copy of Source; on failure Target gets Previous back and the error passes.
void AssignOrRollBack(TBitmap32* Target, TBitmap32* Source, TBitmap32* Previous)
{
    try {
        Target->Assign(Source);
    } catch (...) {
        try {
            Target->Assign(Previous);
        } catch (...) {
        }
        throw;
    }
}

} // namespace

void TMainForm::SlotLost(Glop& Slot)
{
    // The layer the slot held is gone: the slot has nothing left to restore.
    Slot.Kind = TUndoKind::None;
    UpdateUndoRedoEnabling();
}

void TMainForm::ResetUndo()
{
    UndoSlot.Clear();
    RedoSlot.Clear();
    UndoSlot.CropX = UndoSlot.CropY = RedoSlot.CropX = RedoSlot.CropY = 0;
    UpdateUndoRedoEnabling();
}

TBitmapLayer* TMainForm::SlotPicture(const Glop& Slot) const
{
    auto* BL = dynamic_cast<TBitmapLayer*>(Slot.Layer.Get());
    return BL && BL->LayerCollection() == ImgView->Layers() ? BL : nullptr;
}

void TMainForm::ForEachContentLayer(const std::function<void(TPositionedLayer*)>& Fn)
{
    TLayerCollection* Layers = ImgView->Layers();
    for (int32_t I = 0; I < Layers->Count(); ++I) {
        TCustomLayer* L = Layers->Items(I);
        if (L == RBLayer())
            continue;
        if (auto* P = dynamic_cast<TPositionedLayer*>(L))
            Fn(P);
    }
}

void TMainForm::MoveContentLayers(float Dx, float Dy)
{
    ForEachContentLayer([&](TPositionedLayer* L) {
        TSingleRect R = L->Placement();
        R.Left += Dx;
        R.Right += Dx;
        R.Top += Dy;
        R.Bottom += Dy;
        L->SetPlacement(R);
    });
    // The band is not moved with the layers: it takes its target's new place.
    if (TRubberbandLayer* RB = RBLayer())
        if (TPositionedLayer* T = RB->Target())
            RB->SetPlacement(T->Placement());
}

// Every positioned layer, the rubber band included, scaled by the ratio of the
// background to the slot's bitmap; computed before the background is replaced.
void TMainForm::RescaleLayersToImage(const Glop& Slot)
{
    TBitmap32* Bg = ImgView->Bitmap();
    if (Slot.Bitmap->IsEmpty() || Bg->IsEmpty())
        return;
    const float Fx = float(Bg->Width()) / float(Slot.Bitmap->Width());
    const float Fy = float(Bg->Height()) / float(Slot.Bitmap->Height());
    TLayerCollection* Layers = ImgView->Layers();
    for (int32_t I = 0; I < Layers->Count(); ++I)
        if (auto* P = dynamic_cast<TPositionedLayer*>(Layers->Items(I))) {
            const TSingleRect R = P->Placement();
            P->SetPlacement(TSingleRect{float(SafeRound(R.Left / Fx)), float(SafeRound(R.Top / Fy)),
                                        float(SafeRound(R.Right / Fx)), float(SafeRound(R.Bottom / Fy))});
        }
}

void TMainForm::ReselectIfSelected(TCustomLayer* Layer)
{
    if (Layer != Selection())
        return;
    SetSelection(nullptr);
    ImgView->SetMouseCapture(false);
    SetSelection(static_cast<TPositionedLayer*>(Layer));
}

// ---- Savers -------------------------------------------------------------------------

bool TMainForm::SnapshotSelectionInto(Glop& Slot, TUndoKind Kind, bool RequirePicture)
{
    TPositionedLayer* S = Selection();
    auto* BL = dynamic_cast<TBitmapLayer*>(S);
    if (!BL) {
        // A magnifier or a frame has no pixels to keep; the slot stays as it was.
        if (S || RequirePicture)
            return false;
        SnapshotBackgroundInto(Slot, Kind);
        return true;
    }
    auto Copy = CopyOf(BL->Bitmap());
    Slot.Bitmap = std::move(Copy);
    Slot.Kind = Kind;
    Slot.OnBackground = false;
    Slot.Layer.Set(BL);
    Slot.Placement = BL->Placement();
    UpdateUndoRedoEnabling();
    return true;
}

void TMainForm::SnapshotBackgroundInto(Glop& Slot, TUndoKind Kind)
{
    auto Copy = CopyOf(ImgView->Bitmap());
    Slot.Bitmap = std::move(Copy);
    Slot.Kind = Kind;
    Slot.Layer.Reset();
    Slot.OnBackground = true;
    UpdateUndoRedoEnabling();
}

void TMainForm::SaveUndoEffect() { SnapshotSelectionInto(UndoSlot, TUndoKind::Effect, false); }
void TMainForm::SaveUndoSize() { SnapshotBackgroundInto(UndoSlot, TUndoKind::Size); }
void TMainForm::SaveUndoCanvas() { SnapshotBackgroundInto(UndoSlot, TUndoKind::Canvas); }
void TMainForm::SaveUndoGeometry() { SnapshotSelectionInto(UndoSlot, TUndoKind::Geometry, true); }

void TMainForm::SaveUndoCrop()
{
    SnapshotBackgroundInto(UndoSlot, TUndoKind::Crop);
    UndoSlot.CropX = UndoSlot.CropY = 0;
}

void TMainForm::SetUndoCropOffset(int32_t CropX, int32_t CropY)
{
    UndoSlot.CropX = CropX;
    UndoSlot.CropY = CropY;
}

void TMainForm::SaveUndoFrame(TFrameKind FrameKind)
{
    SnapshotBackgroundInto(UndoSlot, TUndoKind::Frame);
    UndoSlot.OnBackground = false;
    UndoSlot.FrameKind = FrameKind;
}

void TMainForm::SetUndoFrameLayer(TBitmapLayer* Frame)
{
    if (UndoSlot.Kind == TUndoKind::Frame)
        UndoSlot.Layer.Set(Frame);
}

namespace {

// Target's pixels and alpha := Source's; Target keeps how it is drawn (a kept copy is
// made opaque by default, and a transparent layer must not turn opaque from it).
void RestorePixelsOnly(TBitmap32& Target, TBitmap32* Source)
{
    const TDrawMode Mode = Target.DrawMode();
    const uint32_t Master = Target.MasterAlpha();
    const TColor32 Outer = Target.OuterColor();
    const auto Filter = Target.StretchFilter();
    Target.Assign(Source);
    Target.SetDrawMode(Mode);
    Target.SetMasterAlpha(Master);
    Target.SetOuterColor(Outer);
    Target.SetStretchFilter(Filter);
}

} // namespace

void TMainForm::RestoreLayerBitmap(TBitmap32* Bitmap, int32_t Index, const TSingleRect& R)
{
    if (Index == RestoreBackgroundIndex) {
        RestorePixelsOnly(*ImgView->Bitmap(), Bitmap);
        return;
    }
    TLayerCollection* Layers = ImgView->Layers();
    if (Index < 0 || Index >= Layers->Count())
        return;
    auto* BL = dynamic_cast<TBitmapLayer*>(Layers->Items(Index));
    if (!BL)
        return;
    RestorePixelsOnly(*BL->Bitmap(), Bitmap);
    BL->SetPlacement(R);
}

// ---- Frames -------------------------------------------------------------------------

void TMainForm::ApplyRectFrame()
{
    TBitmap32* Bg = ImgView->Bitmap();
    const int32_t W = Bg->Width(), H = Bg->Height();
    const int32_t Dx = SafeRound(W / 6.8), Dy = SafeRound(H / 6.8);
    TBitmap32 Grown;
    Grown.SetSize(W + SafeRound(W / 3.4), H + SafeRound(H / 3.4));
    Grown.ClearTo(0xFF000000);
    if (!Bg->IsEmpty())
        Bg->DrawOntoAt(&Grown, Dx, Dy);
    Grown.SetDrawMode(Bg->DrawMode());
    Grown.SetMasterAlpha(Bg->MasterAlpha());
    Grown.SetOuterColor(Bg->OuterColor());
    Grown.SetStretchFilter(Bg->StretchFilter());
    Bg->Assign(&Grown);
    MoveContentLayers(float(Dx), float(Dy));
}

// ---- Undo and redo ------------------------------------------------------------------

// The layer's pixels (the background's, with no layer) := the slot's; To keeps the
// present pixels.
void TMainForm::RestorePixels(Glop& From, Glop& To, TBitmapLayer* BL)
{
    TBitmap32* Target = BL ? BL->Bitmap() : ImgView->Bitmap();
    auto Present = CopyOf(Target);
    AssignOrRollBack(Target, From.Bitmap.get(), Present.get());
    To.Bitmap = std::move(Present);
    To.Kind = From.Kind;
    To.OnBackground = From.OnBackground;
    To.Layer.Set(BL);
}

// The background := the slot's bitmap; To keeps Present, the background as it was.
void TMainForm::RestoreBackground(Glop& From, Glop& To, std::unique_ptr<TBitmap32> Present)
{
    AssignOrRollBack(ImgView->Bitmap(), From.Bitmap.get(), Present.get());
    To.Bitmap = std::move(Present);
    To.Kind = From.Kind;
    To.OnBackground = true;
    To.Layer.Reset();
}

bool TMainForm::RestoreEffect(Glop& From, Glop& To)
{
    TBitmapLayer* BL = From.OnBackground ? nullptr : SlotPicture(From);
    if (!From.OnBackground && !BL)
        return false; // the layer is gone: nothing to restore into
    RestorePixels(From, To, BL);
    return true;
}

bool TMainForm::RestoreGeometry(Glop& From, Glop& To)
{
    TBitmapLayer* BL = From.OnBackground ? nullptr : SlotPicture(From);
    if (!BL)
        return false;
    const TSingleRect PresentPlacement = BL->Placement();
    RestorePixels(From, To, BL);
    To.Placement = PresentPlacement;
    BL->SetPlacement(From.Placement);
    ReselectIfSelected(BL);
    return true;
}

bool TMainForm::RestoreSize(Glop& From, Glop& To)
{
    auto Present = CopyOf(ImgView->Bitmap());
    RescaleLayersToImage(From);
    RestoreBackground(From, To, std::move(Present));
    return true;
}

bool TMainForm::RestoreCanvas(Glop& From, Glop& To)
{
    RestoreBackground(From, To, CopyOf(ImgView->Bitmap()));
    return true;
}

// Undo moves the layers by the crop offset, back to where they were; Redo moves them
// the other way again.
bool TMainForm::RestoreCrop(Glop& From, Glop& To, TUndoDirection Direction)
{
    RestoreBackground(From, To, CopyOf(ImgView->Bitmap()));
    To.CropX = From.CropX;
    To.CropY = From.CropY;
    const float Sign = Direction == TUndoDirection::Undo ? 1.0f : -1.0f;
    MoveContentLayers(Sign * float(From.CropX), Sign * float(From.CropY));
    return true;
}

// The background as it was before the frame, and the frame layer freed; To keeps the
// frame's pixels so that Redo can make the layer again.
bool TMainForm::UndoFrame(Glop& From, Glop& To)
{
    TBitmapLayer* Frame = SlotPicture(From);
    if (!Frame)
        return false;
    TBitmap32* Bg = ImgView->Bitmap();
    auto Present = CopyOf(Bg);
    auto FramePixels = CopyOf(Frame->Bitmap());
    AssignOrRollBack(Bg, From.Bitmap.get(), Present.get());
    To.Bitmap = std::move(Present);
    To.FrameBitmap = std::move(FramePixels);
    To.Kind = From.Kind;
    To.FrameKind = From.FrameKind;
    To.OnBackground = false;
    To.Layer.Reset();
    SetSelection(nullptr);
    From.Layer.Reset(); // the slot lets go before the frame is freed
    delete Frame;
    // The rectangular frame moved every layer by its margin: move them back
    // whenever any layer is left below the band.
    if (From.FrameKind == TFrameKind::Rect) {
        const int32_t Dx = SafeRound(From.Bitmap->Width() / 6.8);
        const int32_t Dy = SafeRound(From.Bitmap->Height() / 6.8);
        MoveContentLayers(-float(Dx), -float(Dy));
    }
    return true;
}

// The canvas grown again for a rectangular frame, and the frame layer made again from
// the slot's frame pixels, covering the background and selected.
bool TMainForm::RedoFrame(Glop& From, Glop& To)
{
    TBitmap32* Bg = ImgView->Bitmap();
    auto Present = CopyOf(Bg);
    auto Layer = std::make_unique<TBitmapLayer>(nullptr);
    Layer->Bitmap()->Assign(From.FrameBitmap.get());
    Layer->Bitmap()->SetDrawMode(dmBlend);
    if (From.FrameKind == TFrameKind::Rect)
        ApplyRectFrame();
    TBitmapLayer* L = Layer.release();
    L->SetLayerCollection(ImgView->Layers());
    SetUpContentLayer(L);
    L->SetPlacement(TSingleRect{0, 0, float(Bg->Width()), float(Bg->Height())});
    To.Bitmap = std::move(Present);
    To.Kind = From.Kind;
    To.FrameKind = From.FrameKind;
    To.OnBackground = false;
    To.Layer.Set(L);
    SetSelection(L);
    return true;
}

bool TMainForm::RestoreSlot(Glop& From, Glop& To, TUndoDirection Direction)
{
    switch (From.Kind) {
    case TUndoKind::Effect: return RestoreEffect(From, To);
    case TUndoKind::Geometry: return RestoreGeometry(From, To);
    case TUndoKind::Size: return RestoreSize(From, To);
    case TUndoKind::Canvas: return RestoreCanvas(From, To);
    case TUndoKind::Crop: return RestoreCrop(From, To, Direction);
    case TUndoKind::Frame: return Direction == TUndoDirection::Undo ? UndoFrame(From, To) : RedoFrame(From, To);
    case TUndoKind::None: break;
    }
    return false;
}

// One step from the slot From into the document, keeping the present state in To.
void TMainForm::UndoRedoStep(Glop& From, Glop& To, TUndoDirection Direction)
{
    const TUndoKind Kind = From.Kind;
    if (!RestoreSlot(From, To, Direction))
        return;
    // These kinds can give the background another size; the status bar shows it.
    if (Kind != TUndoKind::Effect && Kind != TUndoKind::Geometry) {
        const TBitmap32* Bg = ImgView->Bitmap();
        SetStatusText(1, IntToStr(Bg->Width()) + "x" + IntToStr(Bg->Height()));
    }
    From.Kind = TUndoKind::None;
    From.Layer.Reset();
    // A snapshot brings a layer's master alpha and stretch filter back with its pixels:
    // the side panel shows what the selected layer has now.
    if (TBitmapLayer* L = SelectedPicture()) {
        LayerOpacity->setValue(int(L->Bitmap()->MasterAlpha()));
        LayerInterpolate->setChecked(L->Bitmap()->StretchFilter() == sfLinear);
    }
    UpdateUndoRedoEnabling();
}

void TMainForm::N17Click() { UndoRedoStep(UndoSlot, RedoSlot, TUndoDirection::Undo); }
void TMainForm::N18Click() { UndoRedoStep(RedoSlot, UndoSlot, TUndoDirection::Redo); }

std::vector<TCommandRow> TMainForm::UndoCommands()
{
    return {
        {"N17",
         "Undo",
         "Ctrl+Z",
         [this] { N17Click(); },
         [this] { return !UndoSlot.Empty(); },
         {"ToolBar2", 0, QStyle::SP_ArrowBack}},
        {"N18",
         "Redo",
         "Ctrl+Y",
         [this] { N18Click(); },
         [this] { return !RedoSlot.Empty(); },
         {"ToolBar2", 1, QStyle::SP_ArrowForward}},
    };
}

} // namespace kv
