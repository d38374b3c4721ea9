// The commands that create and change layers: new picture, simple, frame and text
// layers, magnifiers, the copy of the background, flatten, reorder, rotate by 90 degrees,
// flip, transparent colour, duplicate, delete, crop canvas, and the side-panel controls
// of the selected picture layer. Every command checks its own precondition: menus may
// have been enabled for a document that has changed since.
#include "editor/MainUnit.h"

#include "editor/CommandTable.h"
#include "editor/PictureFiles.h"
#include "platform/Forms.h"
#include "raster/Raster32_Filters.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLayout>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kv {

namespace {

// The face the dialogs call back on; the window hands it to each dialog that needs it.
class TLayerToolsFace : public ILayerTools {
public:
    explicit TLayerToolsFace(TMainForm& Form) : FForm(Form) {}
    void AddTextLayer(ITextLayerSource& Sender) override { FForm.AddTextLayer(Sender); }
    void mnDeleteClick() override { FForm.mnDeleteClick(); }
    void N23Click() override { FForm.N23Click(); }
    void EndTransparentPick() override { FForm.EndTransparentPick(); }
    bool TransparentPickActive() override { return FForm.TransparentPickActive(); }
    void LayerRescaleClick() override { FForm.LayerRescaleClick(); }
    void LayerResetScaleClick() override { FForm.LayerResetScaleClick(); }

private:
    TMainForm& FForm;
};

TSingleRect Shifted(TSingleRect R, float D)
{
    R.Left += D;
    R.Top += D;
    R.Right += D;
    R.Bottom += D;
    return R;
}

std::string SizeText(const TBitmap32* B) { return std::to_string(B->Width()) + "x" + std::to_string(B->Height()); }

} // namespace

// ---- Wiring ---------------------------------------------------------------------------

void TMainForm::CreateEditAndLayerTools()
{
    FLayerToolsFace = std::make_unique<TLayerToolsFace>(*this);
    OpenLayer = std::make_unique<TOpenDialog>();
    OpenLayer->Filter = "All (*.gif;*.jpg;*.jpeg;*.bmp;*.ico;*.png)|*.gif;*.jpg;*.jpeg;*.bmp;*.ico;*.png"
                        "|GIF Image (*.gif)|*.gif|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg"
                        "|Bitmaps (*.bmp)|*.bmp|Icons (*.ico)|*.ico"
                        "|PNG Image (*.png)|*.png";

    auto wrap = [this](void (TMainForm::*Handler)()) {
        return [this, Handler] { SafeCall([this, Handler] { (this->*Handler)(); }, this); };
    };
    QObject::connect(LayerRescale, &QPushButton::clicked, this, wrap(&TMainForm::LayerRescaleClick));
    QObject::connect(LayerResetScale, &QPushButton::clicked, this, wrap(&TMainForm::LayerResetScaleClick));
    QObject::connect(LayerOpacity, &QSlider::valueChanged, this, wrap(&TMainForm::LayerOpacityChange));
    QObject::connect(LayerInterpolate, &QCheckBox::clicked, this, wrap(&TMainForm::LayerInterpolateClick));
    QObject::connect(Cropped, &QCheckBox::clicked, this, wrap(&TMainForm::CroppedClick));
    QObject::connect(Propos, &QCheckBox::clicked, this, wrap(&TMainForm::CroppedClick));

    CropsButton1 = new QPushButton(QString::fromUtf8("ОК"), Crops);
    CropsButton1->setObjectName("Button1");
    CropsButton2 = new QPushButton("Cancel", Crops);
    CropsButton2->setObjectName("Button2");
    Crops->layout()->addWidget(CropsButton1);
    Crops->layout()->addWidget(CropsButton2);
    QObject::connect(CropsButton1, &QPushButton::clicked, this, wrap(&TMainForm::CropsButton1Click));
    QObject::connect(CropsButton2, &QPushButton::clicked, this, wrap(&TMainForm::CropsButton2Click));
    QObject::connect(CropsP, &QComboBox::activated, this, wrap(&TMainForm::CropsPChange));
    QObject::connect(Obrat, &QCheckBox::clicked, this, wrap(&TMainForm::CropsPChange));

    // The pick ends whichever way it ends (picked, tool closed, target gone).
    OnPickEnded = [this] {
        if (!FTransparentPick)
            return;
        FTransparentPick = false;
        if (TransparentColorTool.Close)
            TransparentColorTool.Close();
    };
    auto previousMove = ImgView->OnMouseMove;
    ImgView->OnMouseMove = [this, previousMove](TObject* Sender, TShiftState Shift, int32_t X, int32_t Y,
                                                TCustomLayer* Layer) {
        if (previousMove)
            previousMove(Sender, Shift, X, Y, Layer);
        if (FTransparentPick)
            SafeCall([&] { ImgViewMouseMovePick(X, Y); }, this);
    };
    auto previousChange = ImgView->OnChange;
    ImgView->OnChange = [this, previousChange](TObject* Sender) {
        if (previousChange)
            previousChange(Sender);
        // The layer being picked from was deleted, replaced or changed its kind.
        if (FTransparentPick && !PickTarget())
            EndTransparentPick();
    };
}

std::vector<TCommandRow> TMainForm::LayerCommands()
{
    auto bgNotEmpty = [this] { return BackgroundNotEmpty(); };
    auto pictureSelected = [this] { return SelectedPicture() != nullptr; };
    auto contentLayers = [this] {
        int32_t n = 0;
        for (int32_t i = 0; i < ImgView->Layers()->Count(); ++i)
            if (ImgView->Layers()->Items(i) != RBLayer())
                ++n;
        return n;
    };
    return {
        // Image and Background
        {"N33",
         "Add Text",
         "",
         [this] { N33Click(); },
         [this] { return BackgroundNotEmpty() && bool(TextDialog); },
         {"ToolBar1", 0}},
        {"N114", "Crop Canvas", "", [this] { N114Click(); }, bgNotEmpty, {"ToolBar1", 2}},
        {"N63", "Copy to Layer", "", [this] { N63Click(); }, bgNotEmpty},
        // Layers
        {"mnNewBitmapLayer",
         "New Layer From File",
         "Ctrl+L",
         [this] { mnNewBitmapLayerClick(); },
         bgNotEmpty,
         {"ToolBar3", 0, QStyle::SP_FileDialogNewFolder}},
        {"N61", "New Simple Layer", "", [this] { N61Click(); },
         [this] { return BackgroundNotEmpty() && bool(SimpleLayerDialog); }},
        {"N42", "New Frame", "Ctrl+B", [this] { N42Click(); },
         [this] { return BackgroundNotEmpty() && bool(FrameDialog); }},
        {"mnMagnifier", "Add Magnifier", "Ctrl+M", [this] { mnMagnifierClick(); }, bgNotEmpty},
        {"mnFlatten",
         "Flatten Layers",
         "F5",
         [this] { mnFlattenClick(); },
         [this, contentLayers] { return BackgroundNotEmpty() && contentLayers() > 0; },
         {"ToolBar3", 1}},
        // Current Layer; the layer pop-up repeats it with captions of its own.
        {"mnBringFront", "Bring to Front", "", [this] { mnReorder(1); }, pictureSelected, {}, {"Bring to Front"}},
        {"mnSendBack", "Bring to Back", "", [this] { mnReorder(2); }, pictureSelected, {}, {"Send to Back"}},
        {"mnLevelUp", "Up One Level", "", [this] { mnReorder(3); }, pictureSelected, {}, {"Up One Layer"}},
        {"mnLevelDown", "Down One Level", "", [this] { mnReorder(4); }, pictureSelected, {}, {"Down One Layer"}},
        {"N901", "Clockwise 90", "", [this] { N901Click(); }, pictureSelected, {}, {"Clockwise 90"}},
        {"N902", "Counterclockwise 90", "", [this] { N902Click(); }, pictureSelected, {}, {"Counterclockwise 90"}},
        {"N13",
         "Rotate...",
         "",
         [this] { N13Click(); },
         [this, pictureSelected] { return Povor && pictureSelected(); },
         {},
         {"Rotate..."}},
        {"N53", "Horizintal (Mirror)", "", [this] { N53Click(); }, pictureSelected, {}, {"Horizintal (Mirror)"}},
        {"N24", "Vertical", "", [this] { N24Click(); }, pictureSelected, {}, {"Vertical"}},
        {"N107",
         "Add Borders",
         "",
         [this] { N107Click(); },
         [this, pictureSelected] { return Sbor && pictureSelected(); },
         {},
         {"Add Borders"}},
        {"N7",
         "Relief Borders",
         "",
         [this] { N7Click(); },
         [this, pictureSelected] { return Raiser && pictureSelected(); },
         {},
         {"Relief Borders"}},
        {"N23", "Transparent Color", "", [this] { N23Click(); }, pictureSelected, {}, {"Transparent Color"}},
        {"N69",
         "Mask",
         "",
         [this] { N69Click(); },
         [this, pictureSelected] { return Maski && pictureSelected(); },
         {},
         {"Mask"}},
        {"N54",
         "Crop Layer",
         "",
         [this] { N54Click(); },
         [this, pictureSelected] { return CropLa && pictureSelected(); },
         {},
         {"Crop Layer"}},
        {"N88", "Duplicate", "Ctrl+D", [this] { N88Click(); }, pictureSelected, {}, {"Duplicate"}},
        {"mnDelete",
         "Delete",
         "Del",
         [this] { mnDeleteClick(); },
         [this] { return Selection() != nullptr; },
         {},
         {"Delete", "Del"}},
    };
}

// ---- Helpers --------------------------------------------------------------------------

TBitmapLayer* TMainForm::SelectedPicture() const { return dynamic_cast<TBitmapLayer*>(Selection()); }

// A picture layer on top, as every command makes one: blended, scaled with the view,
// selectable with the mouse.
TBitmapLayer* TMainForm::NewPictureLayer()
{
    auto* L = ImgView->Layers()->Add<TBitmapLayer>();
    L->Bitmap()->SetDrawMode(dmBlend);
    SetUpContentLayer(L);
    return L;
}

// ---- Layers menu ----------------------------------------------------------------------

void TMainForm::mnNewBitmapLayerClick()
{
    if (ImgView->Bitmap()->IsEmpty() || !OpenLayer->Execute())
        return;
    RemoveFrameLayers();
    // Loaded before the layer exists: a file that fails to load leaves no layer behind.
    TBitmap32 Picture;
    bool Damaged = false;
    const TFileAlpha alpha = LoadPictureFile(OpenLayer->FileName, Picture, &Damaged);
    if (Picture.IsEmpty())
        return;
    // A file read in part gives a layer, and the same word as File > Open.
    if (Damaged)
        ShowDamagedFileNote();
    if (alpha == faNone) // a 32-bit bitmap's fourth byte is no transparency
        Picture.MakeOpaque();
    TBitmapLayer* L = NewPictureLayer();
    L->Bitmap()->Assign(&Picture);
    L->Bitmap()->SetDrawMode(dmBlend);
    L->SetPlacement(CentredPlacement(Picture.Width(), Picture.Height()));
    SetSelection(L);
}

void TMainForm::N61Click()
{
    if (ImgView->Bitmap()->IsEmpty() || !SimpleLayerDialog)
        return;
    SimpleLayerDialog();
    RemoveFrameLayers();
}

void TMainForm::N42Click()
{
    if (ImgView->Bitmap()->IsEmpty() || !FrameDialog)
        return;
    RemoveFrameLayers();
    TFrameChoice Choice;
    if (!FrameDialog(Choice) || Choice.Frame.IsEmpty())
        return;
    AddFrameLayer(Choice);
}

void TMainForm::AddFrameLayer(TFrameChoice& Choice)
{
    TBitmap32* Bg = ImgView->Bitmap();
    TPositionedLayer* Around = Choice.ForLayer ? Selection() : nullptr;
    if (Choice.Frame.IsEmpty() || (!Around && Bg->IsEmpty()))
        return;
    TBitmap32 Frame;
    Frame.Assign(&Choice.Frame);
    Frame.SetDrawMode(dmBlend);
    if (!Choice.Mask.IsEmpty()) {
        TBitmap32 Alpha;
        Alpha.SetSize(Frame.Width(), Frame.Height());
        Choice.Mask.SetDrawMode(dmOpaque);
        Choice.Mask.DrawOntoRect(&Alpha, TRect{0, 0, Frame.Width(), Frame.Height()});
        AlphaFromIntensity(&Frame, &Alpha);
    }

    TBitmapLayer* L = NewPictureLayer();
    L->Bitmap()->Assign(&Frame);
    L->SetPlacement(CentredPlacement(Frame.Width(), Frame.Height()));
    if (Around) {
        // Round the selected layer, without an undo copy.
        TSingleRect R = Around->Placement();
        if (Choice.FrameKind == 0) {
            const float Gx = std::fabs(R.Right - R.Left) / 6.7f, Gy = std::fabs(R.Bottom - R.Top) / 6.7f;
            R = TSingleRect{R.Left - Gx, R.Top - Gy, R.Right + Gx, R.Bottom + Gy};
        }
        L->SetPlacement(R);
    } else {
        SaveUndoFrame(Choice.FrameKind == 0 ? TFrameKind::Rect : TFrameKind::Mask);
        SetUndoFrameLayer(L);
        if (Choice.FrameKind == 0)
            ApplyRectFrame();
        L->SetPlacement(TSingleRect{0, 0, float(Bg->Width()), float(Bg->Height())});
    }
    SetSelection(L);
    if (Choice.Interpolate) {
        LayerInterpolate->setChecked(true);
        LayerInterpolateClick();
    }
}

void TMainForm::mnMagnifierClick()
{
    if (ImgView->Bitmap()->IsEmpty())
        return;
    RemoveFrameLayers();
    TPositionedLayer* L = CreatePositionedLayer();
    L->OnPaint = [this](TObject* Sender, TBitmap32* Buffer) { PaintMagnifierHandler(Sender, Buffer); };
    L->SetTag(TagMagnifier);
    SetSelection(L);
}

void TMainForm::mnFlattenClick()
{
    TBitmap32* Bg = ImgView->Bitmap();
    // An empty background would flatten to nothing and drop every layer.
    if (Bg->IsEmpty() || ImgView->Layers()->Count() == 0)
        return;
    RemoveFrameLayers();
    SetSelection(nullptr);
    TBitmap32* Flat = RenderFlattened();
    Flat->SetDrawMode(Bg->DrawMode());
    Flat->SetMasterAlpha(Bg->MasterAlpha());
    Flat->SetOuterColor(Bg->OuterColor());
    Flat->SetStretchFilter(Bg->StretchFilter());
    ResetUndo();
    ImgView->Layers()->Clear(); // the rubber band with them
    FRBLayerRef.Reset();
    Bg->Assign(Flat);
    ReleaseFlatImage();
}

// ---- Current Layer menu ----------------------------------------------------------------

void TMainForm::mnReorder(int32_t Tag)
{
    TPositionedLayer* S = Selection();
    if (!S)
        return;
    TLayerCollection* Layers = ImgView->Layers();
    // The rubber band stays on top of everything.
    int32_t Top = Layers->Count() - 1;
    if (RBLayer() && RBLayer()->Index() == Top)
        --Top;
    const int32_t Index = S->Index();
    int32_t NewIndex = Index;
    switch (Tag) {
    case 1: NewIndex = Top; break;
    case 2: NewIndex = 0; break;
    case 3: NewIndex = std::min(Index + 1, Top); break;
    case 4: NewIndex = std::max(Index - 1, 0); break;
    default: return;
    }
    if (NewIndex != Index && NewIndex >= 0)
        S->SetIndex(NewIndex);
}

void TMainForm::RotateSelected(bool Clockwise)
{
    TBitmapLayer* L = SelectedPicture();
    if (!L || L->Bitmap()->IsEmpty())
        return;
    TBitmap32* B = L->Bitmap();
    TBitmap32 C;
    C.Assign(B);
    SaveUndoGeometry();
    const TSingleRect Old = L->Placement();
    // Both new sides from the old values: width and height exchanged about the top-left.
    const TSingleRect New{Old.Left, Old.Top, Old.Left + (Old.Bottom - Old.Top), Old.Top + (Old.Right - Old.Left)};
    const int32_t W = C.Width(), H = C.Height();
    {
        TUpdateGuard Update(*B);
        B->SetSize(H, W);
        for (int32_t Y = 0; Y < H; ++Y) {
            const TColor32* Src = C.RowAddress(Y);
            for (int32_t X = 0; X < W; ++X) {
                if (Clockwise)
                    B->SetPixelFast(H - 1 - Y, X, Src[X]);
                else
                    B->SetPixelFast(Y, W - 1 - X, Src[X]);
            }
        }
    }
    B->Changed();
    L->SetPlacement(New);
    SetSelection(nullptr);
    ImgView->SetMouseCapture(false);
    SetSelection(L);
}

void TMainForm::N901Click() { RotateSelected(true); }
void TMainForm::N902Click() { RotateSelected(false); }

void TMainForm::FlipSelected(bool Vertical)
{
    TBitmapLayer* L = SelectedPicture();
    if (!L || L->Bitmap()->IsEmpty())
        return;
    SaveUndoEffect();
    TBitmap32* B = L->Bitmap();
    const int32_t W = B->Width(), H = B->Height();
    // The pixels move exactly, alpha included; nothing is blended.
    if (Vertical) {
        for (int32_t Y = 0; Y < H / 2; ++Y)
            std::swap_ranges(B->RowAddress(Y), B->RowAddress(Y) + W, B->RowAddress(H - 1 - Y));
    } else {
        for (int32_t Y = 0; Y < H; ++Y)
            std::reverse(B->RowAddress(Y), B->RowAddress(Y) + W);
    }
    B->Changed();
}

void TMainForm::N53Click() { FlipSelected(false); }
void TMainForm::N24Click() { FlipSelected(true); }

// ---- Transparent colour ------------------------------------------------------------------

void TMainForm::N23Click()
{
    if (!PickTarget())
        return;
    FTransparentPick = true;
    ImgView->SetCursor(crCross);
    if (TransparentColorTool.Show)
        TransparentColorTool.Show(x() + width() - 340, y() + 60);
}

void TMainForm::EndTransparentPick()
{
    if (!FTransparentPick)
        return;
    ImgView->SetCursor(crDefault);
    if (OnPickEnded)
        OnPickEnded();
}

void TMainForm::ImgViewMouseMovePick(int32_t X, int32_t Y)
{
    TBitmapLayer* BL = PickTarget();
    if (!BL) {
        EndTransparentPick();
        return;
    }
    const TPoint P = ImgView->ViewToBitmap(TPoint{X, Y});
    const TSingleRect& R = BL->Placement();
    TBitmap32* B = BL->Bitmap();
    const double Sx = B->Width() / std::fabs(double(R.Right) - R.Left);
    const double Sy = B->Height() / std::fabs(double(R.Top) - R.Bottom);
    const TColor32 C =
        B->GetPixelClipped(SafeRound((P.X - double(R.Left)) * Sx), SafeRound((P.Y - double(R.Top)) * Sy));
    if (TransparentColorTool.ShowColor)
        TransparentColorTool.ShowColor(Color32ToWinColor(C));
}

// ---- Duplicate and delete ------------------------------------------------------------------

void TMainForm::N88Click()
{
    TPositionedLayer* S = Selection();
    if (!S)
        return;
    TPositionedLayer* Copy = nullptr;
    if (auto* BL = dynamic_cast<TBitmapLayer*>(S)) {
        TBitmap32 Pixels;
        Pixels.Assign(BL->Bitmap());
        TBitmapLayer* L = NewPictureLayer();
        L->Bitmap()->Assign(&Pixels);
        L->Bitmap()->SetDrawMode(dmBlend);
        Copy = L;
    } else {
        // A magnifier, selection or crop frame duplicates as a magnifier.
        Copy = CreatePositionedLayer();
        Copy->OnPaint = [this](TObject* Sender, TBitmap32* Buffer) { PaintMagnifierHandler(Sender, Buffer); };
        Copy->SetTag(TagMagnifier);
    }
    Copy->SetPlacement(Shifted(S->Placement(), 30));
    SetSelection(Copy);
}

void TMainForm::mnDeleteClick()
{
    TPositionedLayer* S = Selection();
    if (!S)
        return;
    // The undo and redo slots name their layer by identity: the deleted layer's slots
    // empty themselves, the others follow their layer.
    SetSelection(nullptr);
    delete S;
}

// ---- Background and image ------------------------------------------------------------------

void TMainForm::N63Click()
{
    TBitmap32* Bg = ImgView->Bitmap();
    if (Bg->IsEmpty())
        return;
    RemoveFrameLayers();
    TBitmap32 Copy;
    Copy.Assign(Bg);
    Copy.MakeOpaque();
    TBitmapLayer* L = NewPictureLayer();
    L->Bitmap()->Assign(&Copy);
    L->Bitmap()->SetDrawMode(dmBlend);
    Bg->SetDrawMode(dmOpaque);
    Bg->ClearTo(0x00FFFFFF);
    L->SetPlacement(CentredPlacement(Copy.Width(), Copy.Height()));
    SetSelection(L);
}

void TMainForm::N33Click()
{
    if (ImgView->Bitmap()->IsEmpty() || !TextDialog)
        return;
    LayerCountBeforeTextValue = ImgView->Layers()->Count();
    // A preview layer comes and goes as a change; closed without OK the document is as
    // it was, and so is its change state.
    const int32_t State = ModifiedState;
    if (!TextDialog())
        ModifiedState = State;
    ImgView->Invalidate();
}

void TMainForm::AddTextLayer(ITextLayerSource& Sender)
{
    TBitmap32* Image = Sender.Image();
    if (!Image || Image->IsEmpty())
        return;
    // The previous preview goes first.
    if (ImgView->Layers()->Count() > LayerCountBeforeTextValue && Selection())
        mnDeleteClick();
    TBitmap32 Text;
    if (!Sender.TransparentBackground()) {
        Image->ClearTo(WinColorToColor32(Sender.BackgroundColor()) | 0xFF000000u);
        Sender.RenderText(TextRenderNormal);
        Text.Assign(Image);
    } else {
        Text.Assign(Image);
        Sender.RenderText(TextRenderMask);
        if (Image->Width() == Text.Width() && Image->Height() == Text.Height())
            AlphaFromIntensity(&Text, Image);
    }
    Text.SetDrawMode(dmBlend);
    TBitmapLayer* L = NewPictureLayer();
    L->Bitmap()->Assign(&Text);
    L->SetPlacement(CentredPlacement(Text.Width(), Text.Height()));
    SetSelection(L);
    if (Sender.Interpolation()) {
        LayerInterpolate->setChecked(true);
        LayerInterpolateClick();
    }
}

// ---- Crop canvas -------------------------------------------------------------------------

TPositionedLayer* TMainForm::CropFrame() const
{
    if (Selection() && Selection()->Tag() == TagCropFrame)
        return Selection();
    TLayerCollection* Layers = ImgView->Layers();
    for (int32_t I = 0; I < Layers->Count(); ++I)
        if (Layers->Items(I)->Tag() == TagCropFrame)
            return dynamic_cast<TPositionedLayer*>(Layers->Items(I));
    return nullptr;
}

void TMainForm::N114Click()
{
    if (SectionShown(Crops) || ImgView->Bitmap()->IsEmpty())
        return;
    SelectionFrameLayer(TagCropFrame);
}

void TMainForm::CropsPChange()
{
    TPositionedLayer* F = CropFrame();
    const double Ratio = CropRatio();
    if (!F || Ratio <= 0)
        return;
    TSingleRect R = F->Placement();
    R.Bottom = R.Top + float(SafeRound(std::fabs(double(R.Right) - R.Left) / Ratio));
    F->SetPlacement(R);
    // The band is attached again so that it takes the frame's new place.
    SetSelection(nullptr);
    SetSelection(F);
}

void TMainForm::CropsButton2Click()
{
    RemoveFrameLayers();
    SetStatusText(1, SizeText(ImgView->Bitmap()));
}

void TMainForm::CropsButton1Click()
{
    TPositionedLayer* F = CropFrame();
    TBitmap32* Bg = ImgView->Bitmap();
    if (!F || Bg->IsEmpty())
        return;
    const TRect P = FramePixels(F->Placement());
    const TRect Area{std::max(P.Left, 0), std::max(P.Top, 0), std::min(P.Right, Bg->Width()),
                     std::min(P.Bottom, Bg->Height())};
    // A frame that leaves nothing of the picture changes nothing.
    if (Area.Right <= Area.Left || Area.Bottom <= Area.Top)
        return;
    TBitmap32 Kept;
    Kept.SetSize(Area.Right - Area.Left, Area.Bottom - Area.Top);
    for (int32_t Y = Area.Top; Y < Area.Bottom; ++Y)
        std::memcpy(Kept.RowAddress(Y - Area.Top), Bg->PixelAddress(Area.Left, Y),
                    size_t(Area.Right - Area.Left) * sizeof(TColor32));
    Kept.SetDrawMode(Bg->DrawMode());
    Kept.SetMasterAlpha(Bg->MasterAlpha());
    Kept.SetOuterColor(Bg->OuterColor());
    Kept.SetStretchFilter(Bg->StretchFilter());

    SaveUndoCrop();
    SetUndoCropOffset(Area.Left, Area.Top);
    Bg->Assign(&Kept);
    RemoveFrameLayers();
    SetStatusText(1, SizeText(Bg));
    MoveContentLayers(-float(Area.Left), -float(Area.Top));
    ForEachContentLayer([](TPositionedLayer* Layer) {
        if (auto* BL = dynamic_cast<TBitmapLayer*>(Layer))
            BL->SetClipToImage(true);
    });
    PreviewBackup()->SetSize(0, 0);
}

// ---- Side panel of the selected picture layer ------------------------------------------------

void TMainForm::LayerRescaleClick()
{
    TBitmapLayer* L = SelectedPicture();
    if (!L)
        return;
    const TRect R = SafeRoundRect(L->Placement());
    // At least one pixel a side: an empty bitmap could never be seen or selected again.
    const int64_t W = std::max<int64_t>(std::llabs(int64_t(R.Right) - R.Left), 1);
    const int64_t H = std::max<int64_t>(std::llabs(int64_t(R.Bottom) - R.Top), 1);
    if (!PixelBufferSizeOk(W, H)) {
        ShowMessage(PixelBufferSizeMessage(W, H, "layer"));
        return;
    }
    // At its own size the stretch would be a copy, but the linear filter's rounding
    // would still move levels: the pixels stay as they are.
    if (W == L->Bitmap()->Width() && H == L->Bitmap()->Height()) {
        LayerResetScaleClick();
        ModifiedState = msChanged;
        return;
    }
    TBitmap32 Copy;
    Copy.Assign(L->Bitmap());
    Copy.SetStretchFilter(sfLinear);
    Copy.SetDrawMode(dmOpaque);
    TBitmap32* B = L->Bitmap();
    B->SetSize(int32_t(W), int32_t(H));
    if (!Copy.IsEmpty())
        Copy.DrawOntoRect(B, TRect{0, 0, int32_t(W), int32_t(H)});
    B->Changed();
    LayerResetScaleClick();
    ModifiedState = msChanged;
}

void TMainForm::LayerResetScaleClick()
{
    TBitmapLayer* L = SelectedPicture();
    if (!L)
        return;
    TSingleRect R = L->Placement();
    R.Right = R.Left + float(L->Bitmap()->Width());
    R.Bottom = R.Top + float(L->Bitmap()->Height());
    L->SetPlacement(R);
    if (TRubberbandLayer* RB = RBLayer(); RB && RB->Target() == L)
        RB->SetPlacement(R);
    L->Bitmap()->Changed();
    ModifiedState = msChanged;
}

void TMainForm::LayerOpacityChange()
{
    TBitmapLayer* L = SelectedPicture();
    if (!L || int64_t(L->Bitmap()->MasterAlpha()) == LayerOpacity->value())
        return; // the panel showing a newly selected layer changes nothing
    L->Bitmap()->SetMasterAlpha(LayerOpacity->value());
    ModifiedState = msChanged;
}

void TMainForm::LayerInterpolateClick()
{
    if (TBitmapLayer* L = SelectedPicture()) {
        L->Bitmap()->SetStretchFilter(LayerInterpolate->isChecked() ? sfLinear : sfNearest);
        ModifiedState = msChanged;
    }
}

void TMainForm::CroppedClick()
{
    if (TBitmapLayer* L = SelectedPicture()) {
        L->SetClipToImage(Cropped->isChecked());
        ModifiedState = msChanged;
    }
}

} // namespace kv
