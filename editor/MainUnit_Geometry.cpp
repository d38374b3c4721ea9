// The commands that change the size, extent or orientation of the background or the
// selected layer, and those that add borders and masks: the background's quarter turns
// and flips done here, the rest through their dialogs. Each handler checks its own
// precondition, whatever the menu's enabling last said.
#include "editor/MainUnit.h"

#include "effects/BorderDialogs.h"
#include "effects/GeometryDialogs.h"
#include "effects/ProGeomoUnit.h"
#include "fx/GeometryRoutines.h"

namespace kv {

namespace {

std::string BackgroundSizeText(TImgView32* View)
{
    return std::to_string(View->Bitmap()->Width()) + "x" + std::to_string(View->Bitmap()->Height());
}

enum class TBackgroundMove : uint8_t { Clockwise, CounterClockwise, Half, Mirror, Vertical };

// The pixels move exactly, alpha included; one canvas undo copy first.
void MoveBackground(TMainForm& Main, TBackgroundMove Move)
{
    TBitmap32* Bg = Main.ImgView->Bitmap();
    if (Bg->IsEmpty())
        return;
    Main.SaveUndoCanvas();
    TBitmap32 N;
    switch (Move) {
    case TBackgroundMove::Clockwise: TurnBitmap(*Bg, N, TQuarterTurn::Clockwise); break;
    case TBackgroundMove::CounterClockwise: TurnBitmap(*Bg, N, TQuarterTurn::CounterClockwise); break;
    case TBackgroundMove::Half: TurnBitmap(*Bg, N, TQuarterTurn::Half); break;
    case TBackgroundMove::Mirror: FlipBitmap(*Bg, N, TFlipAxis::Horizontal); break;
    case TBackgroundMove::Vertical: FlipBitmap(*Bg, N, TFlipAxis::Vertical); break;
    }
    ReplacePixels(*Bg, N);
    Bg->Changed();
    if (Move == TBackgroundMove::Clockwise || Move == TBackgroundMove::CounterClockwise ||
        Move == TBackgroundMove::Half)
        Main.ModifiedState = msChanged;
    Main.ImgView->Invalidate();
}

} // namespace

void TMainForm::MaskosClick() { MoveBackground(*this, TBackgroundMove::Clockwise); }
void TMainForm::N903Click() { MoveBackground(*this, TBackgroundMove::CounterClockwise); }
void TMainForm::N1801Click() { MoveBackground(*this, TBackgroundMove::Half); }
void TMainForm::N106Click() { MoveBackground(*this, TBackgroundMove::Mirror); }
void TMainForm::N105Click() { MoveBackground(*this, TBackgroundMove::Vertical); }

void TMainForm::N122Click()
{
    if (!Sbor || ImgView->Bitmap()->IsEmpty())
        return;
    SetSelection(nullptr);
    Sbor->ShowModal();
    SetStatusText(1, BackgroundSizeText(ImgView));
}

void TMainForm::N123Click()
{
    if (!Raiser || ImgView->Bitmap()->IsEmpty())
        return;
    SetSelection(nullptr);
    Raiser->ShowModal();
}

void TMainForm::N37Click()
{
    if (!Rasm || ImgView->Bitmap()->IsEmpty())
        return;
    if (Rasm->ShowModal() != mrOk)
        return;
    SetStatusText(1, BackgroundSizeText(ImgView));
    ImgView->Invalidate();
}

void TMainForm::N11Click()
{
    if (!Holst || ImgView->Bitmap()->IsEmpty())
        return;
    Holst->ShowModal();
    SetStatusText(1, BackgroundSizeText(ImgView));
    ImgView->Invalidate();
}

void TMainForm::N124Click()
{
    // A magnifier or frame is no picture to distort.
    if (!ProGeomo || ImgView->Bitmap()->IsEmpty() || (Selection() && !SelectedPicture()))
        return;
    ProGeomo->ShowModal();
}

void TMainForm::N13Click()
{
    if (Povor && SelectedPicture())
        Povor->ShowModal();
}

void TMainForm::N107Click()
{
    if (Sbor && SelectedPicture())
        Sbor->ShowModal();
}

void TMainForm::N7Click()
{
    if (Raiser && SelectedPicture())
        Raiser->ShowModal();
}

void TMainForm::N69Click()
{
    if (!Maski || !SelectedPicture())
        return;
    // Cancel puts back the pixels from before the dialog, which the view reports as a
    // change; the document is as it was, and so is its change state.
    const int32_t State = ModifiedState;
    if (Maski->ShowModal() != mrOk)
        ModifiedState = State;
}

void TMainForm::N54Click()
{
    if (CropLa && SelectedPicture() && !SelectedPicture()->Bitmap()->IsEmpty())
        CropLa->ShowModal();
}

} // namespace kv
