#include "widgets/ProImage.h"

#include "platform/QtBridge.h"

#include <QPainter>

namespace kv {

TProImage::TProImage(QWidget* AOwner) : TCustomControl(AOwner), FPicture(std::make_unique<TPicture>())
{
    FPicture->OnChange = [this](TObject* Sender) { PictureChanged(Sender); };
    SetBounds(Left(), Top(), 105, 105);
    // Until a picture covers it, what lies behind the control shows through.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAttribute(Qt::WA_NoSystemBackground, false);
}

TProImage::~TProImage()
{
    if (TGraphic* G = FPicture->Graphic())
        G->OnProgress = nullptr;
    FPicture->OnChange = nullptr;
}

void TProImage::SetPicture(TPicture* Value) { FPicture->Assign(Value); }

void TProImage::SetCenter(bool Value)
{
    if (Value == FCenter)
        return;
    FCenter = Value;
    PictureChanged(this);
}

void TProImage::SetStretch(bool Value)
{
    if (Value == FStretch)
        return;
    FStretch = Value;
    PictureChanged(this);
}

void TProImage::SetTiled(bool Value)
{
    if (Value == FTiled)
        return;
    FTiled = Value;
    PictureChanged(this);
}

void TProImage::SetTransparent(bool Value)
{
    if (Value == FTransparent)
        return;
    FTransparent = Value;
    PictureChanged(this);
}

void TProImage::SetAutoSize(bool Value)
{
    TCustomControl::SetAutoSize(Value);
    PictureChanged(this);
}

HPALETTE TProImage::GetPalette() const
{
    TGraphic* G = FPicture->Graphic();
    return G ? G->Palette() : nullptr;
}

TRect TProImage::DestRect() const
{
    const int32_t PW = FPicture->Width(), PH = FPicture->Height();
    if (FStretch)
        return ClientRect();
    if (FCenter)
        return Bounds((Width() - PW) / 2, (Height() - PH) / 2, PW, PH);
    return Bounds(0, 0, PW, PH);
}

bool TProImage::DidPaletteChange()
{
    // The platform has no palette-modified flag: a palette handle other than the last
    // one seen is the modification. Realising it is a no-op on Qt; the bookkeeping
    // (seen only while visible) is kept.
    if (!isVisible())
        return false;
    const HPALETTE Palette = GetPalette();
    if (Palette == FLastPalette)
        return false;
    FLastPalette = Palette;
    if (!Palette)
        return false;
    ++FPaletteChanges;
    return true;
}

void TProImage::PictureChanged(TObject*)
{
    TGraphic* G = FPicture->Graphic();
    const int32_t PW = FPicture->Width(), PH = FPicture->Height();
    if (AutoSize() && PW > 0 && PH > 0)
        SetBounds(Left(), Top(), PW, PH);
    if (G) {
        G->OnProgress = [this](TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow,
                               const TRect& R,
                               const std::string& Msg) { Progress(Sender, Stage, PercentDone, RedrawNow, R, Msg); };
        if (G->Transparent() != FTransparent)
            G->SetTransparent(FTransparent); // comes back here through OnChange once
        FOpaque = !G->Transparent() && (FStretch || (PW >= Width() && PH >= Height()));
    } else {
        FOpaque = false;
    }
    setAttribute(Qt::WA_OpaquePaintEvent, FOpaque);
    setAttribute(Qt::WA_NoSystemBackground, FOpaque);
    DidPaletteChange();
    if (!FDrawing)
        Invalidate();
}

void TProImage::Progress(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const TRect& R,
                         const std::string& Msg)
{
    if (FIncrementalDisplay && RedrawNow) {
        DidPaletteChange();
        Repaint();
    }
    if (OnProgress)
        OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

void TProImage::PaintOn(TCanvas& Canvas)
{
    struct TDrawingGuard {
        bool& Flag;
        bool Old;
        ~TDrawingGuard() { Flag = Old; }
    } Guard{FDrawing, FDrawing};
    FDrawing = true;
    TGraphic* G = FPicture->Graphic();
    if (!G)
        return;
    if (!FTiled) {
        if (!G->Empty())
            Canvas.StretchDraw(DestRect(), G);
        return;
    }
    // Tiles go straight onto the control: transparent pixels show what lies behind, and a
    // picture without width or height (which would never advance) draws nothing.
    const int32_t PW = G->Width(), PH = G->Height();
    if (PW < 1 || PH < 1)
        return;
    for (int32_t X = 0; X < Width(); X += PW)
        for (int32_t Y = 0; Y < Height(); Y += PH)
            G->Draw(Canvas, Bounds(X, Y, PW, PH));
}

void TProImage::paintEvent(QPaintEvent*)
{
    QPainter P(this);
    TPainterCanvas Canvas(P, Width(), Height());
    PaintOn(Canvas);
}

void TProImage::MouseEnter()
{
    TCustomControl::MouseEnter();
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TProImage::MouseLeave()
{
    TCustomControl::MouseLeave();
    if (OnMouseLeave)
        OnMouseLeave(this);
}

} // namespace kv
