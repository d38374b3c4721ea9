// The Edit menu's clipboard and selection commands: Select, Select All, Cut, Copy, Paste
// and Paste As New. A picture layer goes to the clipboard whole; an area of the
// flattened picture goes through a selection frame (Tag 3).
#include "editor/MainUnit.h"

#include "editor/CommandTable.h"
#include "platform/Clipbrd.h"
#include "platform/Forms.h"

#include <QAction>
#include <QGroupBox>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kv {

namespace {

const char* const CutOnlyLayerMessage =
    "Вы можете вырезать фрагмент только после того, как все слои будут склеены. Сейчас Вы можете лишь "
    "вырезать слой, предварительно выделив его.";

void PutOnClipboard(TBitmap32& Bitmap)
{
    TBitmap Platform;
    Platform.Assign(&Bitmap);
    Clipboard()->Assign(&Platform);
}

// The clipboard's bitmap as a TBitmap32, or null when there is none.
std::unique_ptr<TBitmap32> TakeFromClipboard()
{
    if (!Clipboard()->HasFormat(CF_BITMAP))
        return nullptr;
    TBitmap Platform;
    Platform.Assign(Clipboard());
    auto Result = std::make_unique<TBitmap32>();
    Result->Assign(&Platform);
    if (Result->IsEmpty())
        return nullptr;
    return Result;
}

} // namespace

std::vector<TCommandRow> TMainForm::EditCommands()
{
    return {
        {"N20", "Cut", "Ctrl+X", [this] { N20Click(); }, nullptr, {"ToolBar2", 3, QStyle::SP_DialogDiscardButton}},
        {"N21", "Copy", "Ctrl+C", [this] { N21Click(); }, nullptr, {"ToolBar2", 4}},
        {"N22",
         "Paste",
         "Ctrl+V",
         [this] { N22Click(); },
         [this] { return BackgroundNotEmpty() && ClipboardHasBitmap(); },
         {"ToolBar2", 5}},
        {"N71", "Select", "", [this] { N71Click(); }, [this] { return BackgroundNotEmpty(); }, {"ToolBar2", 2}},
        {"N98", "Select All", "", [this] { N98Click(); }, [this] { return BackgroundNotEmpty(); }},
        {"N47", "Paste As New", "", [this] { N47Click(); }, [] { return ClipboardHasBitmap(); }},
    };
}

bool TMainForm::ClipboardHasBitmap()
{
    try {
        return Clipboard()->HasFormat(CF_BITMAP);
    } catch (const std::exception&) {
        return false;
    }
}

void TMainForm::N16Click()
{
    UpdateUndoRedoEnabling();
    const bool HasBitmap = ClipboardHasBitmap();
    N22->setEnabled(HasBitmap && !ImgView->Bitmap()->IsEmpty());
    N47->setEnabled(HasBitmap);
}

// ---- Select -------------------------------------------------------------------------

void TMainForm::SelectionFrameLayer(int32_t Tag)
{
    FrameAlpha = 255;
    RemoveFrameLayers();
    TPositionedLayer* L = CreatePositionedLayer();
    L->SetTag(Tag);
    L->OnPaint = [this](TObject* Sender, TBitmap32* Buffer) { PaintFrameHandler(Sender, Buffer); };
    SetSelection(L);
}

// With no picture there is nothing to frame: a frame would be an orphan that enables
// Delete and paints a grey box on the empty canvas.
void TMainForm::N71Click()
{
    if (ImgView->Bitmap()->IsEmpty())
        return;
    SelectionFrameLayer(TagSelectionFrame);
}

void TMainForm::N98Click()
{
    if (ImgView->Bitmap()->IsEmpty())
        return;
    N71Click();
    TPositionedLayer* L = Selection();
    TBitmap32* Bg = ImgView->Bitmap();
    L->SetPlacement(TSingleRect{0, 0, float(Bg->Width()), float(Bg->Height())});
    // Deselect and select again: the band takes the new placement.
    SetSelection(nullptr);
    SetSelection(L);
}

// ---- Cut and Copy -------------------------------------------------------------------

// The selection frame's area on the picture: the placement rounded side by side, then
// clipped to the background. False when nothing of it lies on the picture.
bool TMainForm::FramedArea(TRect& Area)
{
    TPositionedLayer* S = Selection();
    TBitmap32* Bg = ImgView->Bitmap();
    if (!S || S->Tag() != TagSelectionFrame || Bg->IsEmpty())
        return false;
    const TRect R = SafeRoundRect(S->Placement());
    Area = TRect{std::max(std::min(R.Left, R.Right), 0), std::max(std::min(R.Top, R.Bottom), 0),
                 std::min(std::max(R.Left, R.Right), Bg->Width()), std::min(std::max(R.Top, R.Bottom), Bg->Height())};
    return Area.Right > Area.Left && Area.Bottom > Area.Top;
}

// The area of the flattened picture without the frame's grey.
std::unique_ptr<TBitmap32> TMainForm::CopyFramedArea(const TRect& Area)
{
    FrameAlpha = 0;
    try {
        RenderFlattened();
    } catch (...) {
        FrameAlpha = 255;
        throw;
    }
    FrameAlpha = 255;
    TBitmap32* Flat = FlatImage();
    auto Part = std::make_unique<TBitmap32>();
    Part->SetSize(Area.Right - Area.Left, Area.Bottom - Area.Top);
    for (int32_t Y = Area.Top; Y < Area.Bottom; ++Y)
        std::memcpy(Part->RowAddress(Y - Area.Top), Flat->PixelAddress(Area.Left, Y),
                    size_t(Area.Right - Area.Left) * sizeof(TColor32));
    ReleaseFlatImage();
    return Part;
}

void TMainForm::N20Click()
{
    TPositionedLayer* S = Selection();
    if (!S)
        return;
    TLayerCollection* Layers = ImgView->Layers();
    if (Layers->Count() >= 2) {
        if (auto* BL = dynamic_cast<TBitmapLayer*>(S)) {
            PutOnClipboard(*BL->Bitmap());
            mnDeleteClick();
        } else if (Layers->Count() > 2) {
            ShowMessage(CutOnlyLayerMessage);
        }
    }
    S = Selection();
    TRect Area;
    if (S && Layers->Count() < 3 && S->Tag() == TagSelectionFrame && FramedArea(Area)) {
        SaveUndoCanvas();
        std::unique_ptr<TBitmap32> Part = CopyFramedArea(Area);
        PutOnClipboard(*Part);
        ImgView->Bitmap()->FillRectFast(Area.Left, Area.Top, Area.Right, Area.Bottom, 0x00FFFFFF);
        ImgView->Bitmap()->Changed();
    }
    ImgView->Changed();
}

void TMainForm::N21Click()
{
    TPositionedLayer* S = Selection();
    if (!S)
        return;
    if (S->Tag() == TagSelectionFrame) {
        TRect Area;
        if (FramedArea(Area)) {
            std::unique_ptr<TBitmap32> Part = CopyFramedArea(Area);
            PutOnClipboard(*Part);
        }
    } else if (auto* BL = dynamic_cast<TBitmapLayer*>(S)) {
        PutOnClipboard(*BL->Bitmap());
    }
    ImgView->Changed();
}

// ---- Paste --------------------------------------------------------------------------

void TMainForm::N22Click()
{
    if (ImgView->Bitmap()->IsEmpty())
        return;
    // Converted before the layer exists: a refused picture leaves no empty layer behind.
    std::unique_ptr<TBitmap32> Picture = TakeFromClipboard();
    if (!Picture)
        return;
    TBitmapLayer* L = NewPictureLayer();
    L->Bitmap()->Assign(Picture.get());
    L->Bitmap()->SetDrawMode(dmBlend);
    L->SetPlacement(CentredPlacement(Picture->Width(), Picture->Height()));
    SetSelection(L);
}

void TMainForm::N47Click()
{
    PreviewBackup()->SetSize(0, 0);
    if (!ClipboardHasBitmap())
        return;
    if (!ImgView->Bitmap()->IsEmpty() && !AskSaveChanges())
        return;
    // The new background exists before the old document goes.
    std::unique_ptr<TBitmap32> Picture = TakeFromClipboard();
    if (!Picture)
        return;
    TBitmap32* Bg = ImgView->Bitmap();
    Picture->SetDrawMode(Bg->DrawMode());
    Picture->SetMasterAlpha(Bg->MasterAlpha());
    Picture->SetOuterColor(Bg->OuterColor());
    Picture->SetStretchFilter(Bg->StretchFilter());
    ClearDocument();
    Bg->Assign(Picture.get());

    if (OpenPictureDialog1)
        OpenPictureDialog1->FileName.clear();
    if (SavePictureDialog1)
        SavePictureDialog1->FileName.clear();
    SetFileStatus("", true); // no file yet: the last file's name and size would mislead
    FSaveAllowed = true;
    FSaveAsAllowed = true;
    pnlImage->setVisible(!Bg->IsEmpty());
    if (Start)
        Start->setVisible(Bg->IsEmpty());
    if (!FCommands.empty())
        UpdateCommandEnabling();
    ImgView->Invalidate();
}

} // namespace kv
