#include "platform/KvExtCtrls.h"

#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>

namespace kv {

// ---- Click dispatch ------------------------------------------------------------------

TClickControl::TClickControl(QWidget* AOwner) : TCustomControl(AOwner)
{
    TCustomControl::OnClick = [this](TObject*) { Click(); };
}

void TClickControl::Click()
{
    if (OnClick)
        OnClick(this);
}

void TClickControl::DblClick()
{
    if (OnDblClick)
        OnDblClick(this);
}

void TClickControl::mouseDoubleClickEvent(QMouseEvent* Event)
{
    TCustomControl::mouseDoubleClickEvent(Event);
    if (Event->button() == Qt::LeftButton)
        DblClick();
}

// ---- Panel ---------------------------------------------------------------------------

TPanel::TPanel(QWidget* AOwner) : TClickControl(AOwner), FFont(std::make_unique<TFont>())
{
    FFont->OnChange = [this](TObject*) { Invalidate(); };
    SetBounds(0, 0, 185, 41);
}

TPanel::~TPanel() { FFont->OnChange = nullptr; }

void TPanel::SetCaption(const std::string& Value)
{
    if (Value == FCaption)
        return;
    FCaption = Value;
    Invalidate();
}

void TPanel::SetAlignment(TAlignment Value)
{
    if (Value == FAlignment)
        return;
    FAlignment = Value;
    Invalidate();
}

void TPanel::SetBevelOuter(TPanelBevel Value)
{
    if (Value == FBevelOuter)
        return;
    FBevelOuter = Value;
    Invalidate();
}

void TPanel::SetBorderWidth(int32_t Value)
{
    Value = std::max(0, Value);
    if (Value == FBorderWidth)
        return;
    FBorderWidth = Value;
    Invalidate();
}

void TPanel::Paint()
{
    TCanvas* C = Canvas();
    C->Brush()->SetStyle(bsSolid);
    C->Brush()->SetColor(Color());
    C->FillRect(ClientRect());
    if (FBevelOuter != bvNone) {
        const TColor TopLeft = FBevelOuter == bvRaised ? clBtnHighlight : clBtnShadow;
        const TColor BottomRight = FBevelOuter == bvRaised ? clBtnShadow : clBtnHighlight;
        const int32_t R = Width() - 1, B = Height() - 1;
        C->Pen()->SetStyle(psSolid);
        C->Pen()->SetWidth(1);
        C->Pen()->SetColor(TopLeft);
        C->MoveTo(0, B);
        C->LineTo(0, 0);
        C->LineTo(R, 0);
        C->Pen()->SetColor(BottomRight);
        C->MoveTo(R, 0);
        C->LineTo(R, B);
        C->LineTo(0, B);
    }
    if (FCaption.empty())
        return;
    C->SetFont(FFont.get());
    C->Brush()->SetStyle(bsClear);
    const int32_t TW = C->TextWidth(FCaption), TH = C->TextHeight(FCaption);
    const int32_t Inset = FBevelWidth + FBorderWidth;
    int32_t X = Inset + 1;
    if (FAlignment == taCenter)
        X = (Width() - TW) / 2;
    else if (FAlignment == taRightJustify)
        X = Width() - Inset - 1 - TW;
    C->TextOut(X, (Height() - TH) / 2, FCaption);
}

// ---- Image ---------------------------------------------------------------------------

TImage::TImage(QWidget* AOwner) : TClickControl(AOwner), FPicture(std::make_unique<TPicture>())
{
    FPicture->OnChange = [this](TObject*) { Invalidate(); };
    SetBounds(0, 0, 105, 105);
}

TImage::~TImage() { FPicture->OnChange = nullptr; }

void TImage::SetStretch(bool Value)
{
    if (Value == FStretch)
        return;
    FStretch = Value;
    Invalidate();
}

void TImage::LoadPicture(const std::string& FileName)
{
    const std::string Ext = ExtractFileExt(FileName);
    const TGraphicClass* Class = TPicture::FindGraphicClass(Ext);
    if (!Class)
        throw EInvalidGraphic("Unknown picture file extension (" + LowerCase(Ext) + ")");
    std::unique_ptr<TGraphic> Graphic = Class->Create();
    Graphic->OnProgress = [this](TObject* Sender, TProgressStage Stage, uint8_t Percent, bool RedrawNow, const TRect& R,
                                 const std::string& Msg) {
        if (OnProgress)
            OnProgress(Sender, Stage, Percent, RedrawNow, R, Msg);
    };
    Graphic->LoadFromFile(FileName);
    Graphic->OnProgress = nullptr;
    FPicture->TakeGraphic(std::move(Graphic));
}

void TImage::Paint()
{
    TCanvas* C = Canvas();
    TColor Back = clBtnFace;
    if (auto* P = dynamic_cast<TCustomControl*>(parentWidget()))
        Back = P->Color();
    C->Brush()->SetStyle(bsSolid);
    C->Brush()->SetColor(Back);
    C->FillRect(ClientRect());
    TGraphic* G = FPicture->Graphic();
    if (!G || G->Empty())
        return;
    if (FStretch)
        C->StretchDraw(ClientRect(), G);
    else
        C->Draw(0, 0, G);
}

// ---- Scroll box ----------------------------------------------------------------------

TControlScrollBar::TControlScrollBar(TScrollBox* Owner, TScrollBarKind Kind) : FOwner(Owner), FKind(Kind)
{
    FBar = new QScrollBar(Kind == sbHorizontal ? Qt::Horizontal : Qt::Vertical, Owner); // Qt parent owns it
    FBar->hide();
    FBar->setTracking(false);
    QObject::connect(FBar, &QScrollBar::valueChanged, [this](int V) { SetPosition(V); });
}

void TControlScrollBar::SetTracking(bool Value)
{
    FTracking = Value;
    FBar->setTracking(Value);
}

bool TControlScrollBar::IsScrollBarVisible() const { return !FBar->isHidden(); }

void TControlScrollBar::SetPosition(int32_t Value)
{
    const int32_t Client = FKind == sbHorizontal ? FOwner->ClientWidth() : FOwner->ClientHeight();
    Value = std::clamp(Value, 0, std::max(0, FRange - Client));
    if (Value == FPosition)
        return;
    const int32_t Delta = FPosition - Value;
    FPosition = Value;
    if (FKind == sbHorizontal)
        FOwner->ScrollChildren(Delta, 0);
    else
        FOwner->ScrollChildren(0, Delta);
    const QSignalBlocker Block(FBar);
    FBar->setValue(Value);
}

TScrollBox::TScrollBox(QWidget* AOwner)
    : TClickControl(AOwner), FHorz(std::make_unique<TControlScrollBar>(this, sbHorizontal)),
      FVert(std::make_unique<TControlScrollBar>(this, sbVertical))
{
    SetColor(clBtnFace);
    SetBounds(0, 0, 185, 41);
}

TScrollBox::~TScrollBox() = default;

int32_t TScrollBox::ClientWidth() const
{
    return std::max(0, Width() - (FVert->IsScrollBarVisible() ? ScrollBarExtent() : 0));
}

int32_t TScrollBox::ClientHeight() const
{
    return std::max(0, Height() - (FHorz->IsScrollBarVisible() ? ScrollBarExtent() : 0));
}

void TScrollBox::ScrollChildren(int32_t DX, int32_t DY)
{
    for (QObject* O : children()) {
        auto* W = qobject_cast<QWidget*>(O);
        if (!W || W == FHorz->FBar || W == FVert->FBar)
            continue;
        W->move(W->x() + DX, W->y() + DY);
    }
}

void TScrollBox::Realign()
{
    if (FInRealign)
        return;
    FInRealign = true;
    int32_t Right = 0, Bottom = 0;
    for (QObject* O : children()) {
        auto* W = qobject_cast<QWidget*>(O);
        if (!W || W == FHorz->FBar || W == FVert->FBar || W->isHidden())
            continue;
        Right = std::max(Right, W->x() + W->width() + FHorz->FPosition);
        Bottom = std::max(Bottom, W->y() + W->height() + FVert->FPosition);
    }
    FHorz->FRange = Right;
    FVert->FRange = Bottom;
    // Showing one bar takes room from the other direction: settle in two rounds.
    for (int Round = 0; Round < 2; ++Round) {
        FHorz->FBar->setVisible(Right > ClientWidth());
        FVert->FBar->setVisible(Bottom > ClientHeight());
    }
    LayoutBars();
    // Keep the positions inside the new ranges.
    FHorz->SetPosition(FHorz->FPosition);
    FVert->SetPosition(FVert->FPosition);
    FInRealign = false;
}

void TScrollBox::LayoutBars()
{
    const int32_t E = ScrollBarExtent();
    const int32_t CW = ClientWidth(), CH = ClientHeight();
    const QSignalBlocker BlockH(FHorz->FBar), BlockV(FVert->FBar);
    FHorz->FBar->setGeometry(0, CH, CW, E);
    FHorz->FBar->setRange(0, std::max(0, FHorz->FRange - CW));
    FHorz->FBar->setPageStep(std::max(1, CW));
    FHorz->FBar->setValue(FHorz->FPosition);
    FVert->FBar->setGeometry(CW, 0, E, CH);
    FVert->FBar->setRange(0, std::max(0, FVert->FRange - CH));
    FVert->FBar->setPageStep(std::max(1, CH));
    FVert->FBar->setValue(FVert->FPosition);
    FHorz->FBar->raise();
    FVert->FBar->raise();
}

void TScrollBox::Resize()
{
    Realign();
    TClickControl::Resize();
}

void TScrollBox::Paint()
{
    TCanvas* C = Canvas();
    C->Brush()->SetStyle(bsSolid);
    C->Brush()->SetColor(Color());
    C->FillRect(ClientRect());
}

bool TScrollBox::DoMouseWheelDefault(TShiftState Shift, int32_t WheelDelta, TPoint MousePos)
{
    TControlScrollBar* Bar = FVert->IsScrollBarVisible() || !FHorz->IsScrollBarVisible() ? FVert.get() : FHorz.get();
    Bar->SetPosition(Bar->Position() - WheelDelta / 120 * Bar->Increment() * 3);
    return true;
}

} // namespace kv
