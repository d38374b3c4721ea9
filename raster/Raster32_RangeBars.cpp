#include "raster/Raster32_RangeBars.h"

#include "raster/Raster32_Types.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// Round to nearest, halves to even; NaN and far-out values held within 32 bits.
int32_t RoundEven(double V)
{
    if (std::isnan(V))
        return 0;
    V = std::clamp(V, -2147483648.0, 2147483647.0);
    return int32_t(std::nearbyint(V));
}

QRect ToQRect(const TRect& R) { return QRect(R.Left, R.Top, R.Right - R.Left, R.Bottom - R.Top); }

TColor ShiftColor(TColor C, int32_t Delta)
{
    const TColor RGBc = ColorToRGB(C);
    auto Ch = [&](uint8_t V) { return uint8_t(std::clamp(int32_t(V) + Delta, 0, 255)); };
    return RGB(Ch(GetRValue(RGBc)), Ch(GetGValue(RGBc)), Ch(GetBValue(RGBc)));
}

void FrameRectQ(QPainter& P, const TRect& R, TColor C)
{
    if (R.Right <= R.Left || R.Bottom <= R.Top)
        return;
    const QColor Q = ToQColor(C);
    P.fillRect(QRect(R.Left, R.Top, R.Right - R.Left, 1), Q);
    P.fillRect(QRect(R.Left, R.Bottom - 1, R.Right - R.Left, 1), Q);
    P.fillRect(QRect(R.Left, R.Top, 1, R.Bottom - R.Top), Q);
    P.fillRect(QRect(R.Right - 1, R.Top, 1, R.Bottom - R.Top), Q);
}

void Shrink(TRect& R, int32_t D)
{
    R.Left += D;
    R.Top += D;
    R.Right -= D;
    R.Bottom -= D;
}

} // namespace

// ---- TArrowBar ------------------------------------------------------------------------

TArrowBar::TArrowBar(QWidget* AOwner)
    : TCustomControl(AOwner), FGlyphMax(std::make_unique<TBitmap>()), FGlyphMin(std::make_unique<TBitmap>()),
      FTimer(std::make_unique<TTimer>())
{
    SetBounds(0, 0, 100, 16);
    SetColor(clBtnShadow);
    FTimer->SetEnabled(false);
    FTimer->OnTimer = [this](TObject* Sender) { TimerHandler(Sender); };
}

TArrowBar::~TArrowBar()
{
    FTimer->SetEnabled(false);
    FTimer->OnTimer = nullptr;
}

void TArrowBar::SetBackgnd(TRBBackgnd Value)
{
    if (Value == FBackgnd)
        return;
    FBackgnd = Value;
    UpdatePattern();
    Invalidate();
}

void TArrowBar::SetBorderStyle(TControlBorderStyle Value)
{
    if (Value == FBorderStyle)
        return;
    FBorderStyle = Value;
    Invalidate();
}

void TArrowBar::SetButtonSize(int32_t Value)
{
    if (Value == FButtonSize)
        return;
    FButtonSize = Value;
    Invalidate();
}

void TArrowBar::SetFramed(bool Value)
{
    if (Value == FFramed)
        return;
    FFramed = Value;
    Invalidate();
}

void TArrowBar::SetGlyphMax(TBitmap* Value)
{
    FGlyphMax->Assign(Value);
    FGlyphMax->SetTransparent(true);
    Invalidate();
}

void TArrowBar::SetGlyphMin(TBitmap* Value)
{
    FGlyphMin->Assign(Value);
    FGlyphMin->SetTransparent(true);
    Invalidate();
}

void TArrowBar::SetHandleColor(TColor Value)
{
    if (Value == FHandleColor)
        return;
    FHandleColor = Value;
    Invalidate();
}

void TArrowBar::SetKind(TScrollBarKind Value)
{
    if (Value == FKind)
        return;
    FKind = Value; // width and height are exchanged only at design time
    Invalidate();
}

void TArrowBar::SetShowArrows(bool Value)
{
    if (Value == FShowArrows)
        return;
    FShowArrows = Value;
    Invalidate();
}

void TArrowBar::SetShowHandleGrip(bool Value)
{
    if (Value == FShowHandleGrip)
        return;
    FShowHandleGrip = Value;
    Invalidate();
}

void TArrowBar::DoChange()
{
    if (OnChange)
        OnChange(this);
    if (FGenChange && OnUserChange)
        OnUserChange(this);
}

int32_t TArrowBar::GetButtonSize() const
{
    if (!FShowArrows)
        return 0;
    int32_t W = Width(), H = Height();
    if (FBorderStyle == bsSingleBorder) {
        W -= 2;
        H -= 2;
    }
    if (FKind == sbVertical)
        std::swap(W, H);
    const int32_t S = FButtonSize != 0 ? FButtonSize : std::min(H, 32);
    return W >= 2 * S ? S : W / 2;
}

TRect TArrowBar::GetTrackBoundary() const
{
    TRect R = ClientRect();
    if (FBorderStyle == bsSingleBorder)
        Shrink(R, 1);
    const int32_t BS = GetButtonSize();
    if (FKind == sbHorizontal) {
        R.Left += BS;
        R.Right -= BS;
    } else {
        R.Top += BS;
        R.Bottom -= BS;
    }
    return R;
}

uint8_t TArrowBar::GetZone(int32_t X, int32_t Y) const
{
    TRect R = ClientRect();
    if (FBorderStyle == bsSingleBorder)
        Shrink(R, 1);
    if (!PtInRect(R, TPoint{X, Y}))
        return zNone;
    const int32_t BS = GetButtonSize();
    const int32_t Along = FKind == sbHorizontal ? X : Y;
    const int32_t Start = FKind == sbHorizontal ? R.Left : R.Top;
    const int32_t End = FKind == sbHorizontal ? R.Right : R.Bottom;
    if (BS > 0 && Along < Start + BS)
        return zBtnPrev;
    if (BS > 0 && Along >= End - BS)
        return zBtnNext;
    const TRect H = GetHandleRect();
    if (RectIsEmpty(H))
        return zNone;
    const int32_t HStart = FKind == sbHorizontal ? H.Left : H.Top;
    const int32_t HEnd = FKind == sbHorizontal ? H.Right : H.Bottom;
    if (Along >= HStart && Along < HEnd)
        return zHandle;
    if (Along >= 1 && Along < HStart)
        return zTrackPrev;
    if (Along >= HEnd && Along < Length() - 1)
        return zTrackNext;
    return zNone;
}

void TArrowBar::TimerHandler(TObject*)
{
    if (FTimerFirst) {
        FTimer->SetInterval(100);
        FTimerFirst = false;
    }
    FGenChange = true;
    Step();
    FGenChange = false;
}

void TArrowBar::StopRepeat()
{
    FTimer->SetEnabled(false);
    FDragZone = zNone;
    Invalidate();
}

bool TArrowBar::StillInHeldZone()
{
    if (GetZone(FHoldPos.X, FHoldPos.Y) == FDragZone)
        return true;
    StopRepeat();
    return false;
}

void TArrowBar::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (Button == mbLeft) {
        FDragZone = GetZone(X, Y);
        Invalidate();
        FHoldPos = TPoint{X, Y};
        if (FDragZone == zHandle) {
            FTimer->SetEnabled(false);
            StartHandleDrag();
        } else if (FDragZone != zNone) {
            FTimer->SetEnabled(false);
            FTimer->SetInterval(600);
            FTimerFirst = false;
            TimerHandler(FTimer.get());
            FTimerFirst = true;
            if (FDragZone != zNone)
                FTimer->SetEnabled(true);
        }
    }
    TCustomControl::MouseDown(Button, Shift, X, Y);
}

void TArrowBar::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    if (FDragZone == zHandle) {
        const int32_t Delta = FKind == sbHorizontal ? X - FHoldPos.X : Y - FHoldPos.Y;
        FGenChange = true;
        DragHandle(Delta);
        FGenChange = false;
    }
    TCustomControl::MouseMove(Shift, X, Y);
}

void TArrowBar::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (Button == mbLeft) {
        FDragZone = zNone;
        Invalidate();
        FTimer->SetEnabled(false);
    }
    TCustomControl::MouseUp(Button, Shift, X, Y);
}

void TArrowBar::UpdatePattern()
{
    const QColor Face = ToQColor(clBtnFace);
    const QColor Own = ToQColor(Color());
    FPattern = QImage(8, 8, QImage::Format_RGB32);
    switch (FBackgnd) {
    case bgPattern:
        for (int Y = 0; Y < 8; ++Y)
            for (int X = 0; X < 8; ++X)
                FPattern.setPixelColor(X, Y, ((X + Y) & 1) ? Face : Own);
        break;
    case bgSolid: FPattern.fill(Own); break;
    case bgMix: {
        auto Mix = [](int C1, int C2) { return (C1 * 127 + C2 * 128) / 255; };
        FPattern.fill(QColor(Mix(Face.red(), Own.red()), Mix(Face.green(), Own.green()), Mix(Face.blue(), Own.blue())));
        break;
    }
    }
    FPatternColor = Color();
}

void TArrowBar::DoDrawButton(QPainter& P, TRect R, bool Pushed, bool AEnabled, TArrowDirection Direction)
{
    TBitmap* Glyph = (Direction == adLeft || Direction == adDown) ? FGlyphMin.get() : FGlyphMax.get();
    if (Glyph->Empty()) {
        DrawScrollArrow(P, this, R, Direction, Pushed, !AEnabled, Pushed);
        return;
    }
    P.fillRect(ToQRect(R), ToQColor(clBtnFace));
    TRect Inner = R;
    if (Pushed)
        Frame3D(P, Inner, clBtnShadow, clBtnHighlight);
    else
        Frame3D(P, Inner, clBtnHighlight, clBtnShadow);
    if (!AEnabled)
        return;
    int32_t X = (R.Left + R.Right - Glyph->Width()) / 2;
    int32_t Y = (R.Top + R.Bottom - Glyph->Height()) / 2;
    if (Pushed) {
        ++X;
        ++Y;
    }
    QImage G(Glyph->Width(), Glyph->Height(), QImage::Format_ARGB32);
    const TColor Key = Glyph->TransparentColor();
    for (int32_t GY = 0; GY < Glyph->Height(); ++GY)
        for (int32_t GX = 0; GX < Glyph->Width(); ++GX) {
            const TColor C = Glyph->PixelColor(GX, GY);
            G.setPixel(GX, GY,
                       C == (Key & 0xFFFFFF) ? 0u
                                             : (0xFF000000u | (uint32_t(GetRValue(C)) << 16) |
                                                (uint32_t(GetGValue(C)) << 8) | GetBValue(C)));
        }
    P.drawImage(X, Y, G);
}

void TArrowBar::DoDrawHandle(QPainter& P, TRect R, bool Horizontal, bool Pushed)
{
    if (RectIsEmpty(R))
        return;
    P.fillRect(ToQRect(R), ToQColor(FHandleColor));
    const TColor Hi = ShiftColor(FHandleColor, 48), Lo = ShiftColor(FHandleColor, -32);
    TRect E = R;
    if (Pushed)
        Frame3D(P, E, Lo, Hi);
    else
        Frame3D(P, E, Hi, Lo);
    if (!FShowHandleGrip)
        return;
    const int32_t Len = Horizontal ? R.Right - R.Left : R.Bottom - R.Top;
    const int32_t Count = Len > 10 ? 4 : 3;
    const int32_t Cx = (R.Left + R.Right) / 2, Cy = (R.Top + R.Bottom) / 2;
    for (int32_t I = 0; I < Count; ++I) {
        const int32_t Off = I * 2 - Count + 1;
        TRect G = Horizontal ? TRect{Cx + Off - 1, R.Top + 3, Cx + Off + 1, R.Bottom - 3}
                             : TRect{R.Left + 3, Cy + Off - 1, R.Right - 3, Cy + Off + 1};
        if (!RectIsEmpty(G))
            Frame3D(P, G, Hi, Lo);
    }
}

void TArrowBar::Paint()
{
    if (FPattern.isNull() || FPatternColor != Color())
        UpdatePattern();
    QPainter P(&CanvasImage());
    TRect R = ClientRect();
    if (FBorderStyle == bsSingleBorder) {
        if (Ctl3D())
            Frame3D(P, R, clBtnShadow, clBtnHighlight);
        else {
            FrameRectQ(P, R, clBlack);
            Shrink(R, 1);
        }
    }
    const bool Horz = Kind() == sbHorizontal;
    const bool DE = DrawEnabled();
    const TColor FrameColor = DE ? clWindowFrame : clBtnShadow;
    const int32_t BS = GetButtonSize();
    if (BS > 0) {
        TRect B1 = Horz ? TRect{R.Left, R.Top, R.Left + BS, R.Bottom} : TRect{R.Left, R.Top, R.Right, R.Top + BS};
        TRect B2 =
            Horz ? TRect{R.Right - BS, R.Top, R.Right, R.Bottom} : TRect{R.Left, R.Bottom - BS, R.Right, R.Bottom};
        if (FFramed) {
            FrameRectQ(P, B1, FrameColor);
            FrameRectQ(P, B2, FrameColor);
            Shrink(B1, 1);
            Shrink(B2, 1);
        }
        DoDrawButton(P, B1, FDragZone == zBtnPrev, Enabled(), Horz ? adLeft : adUp);
        DoDrawButton(P, B2, FDragZone == zBtnNext, Enabled(), Horz ? adRight : adDown);
    }
    TRect T = GetTrackBoundary();
    if (FFramed && !RectIsEmpty(T)) {
        FrameRectQ(P, T, FrameColor);
        Shrink(T, 1);
    }
    if (!RectIsEmpty(T)) {
        if (DE)
            P.fillRect(ToQRect(T), QBrush(FPattern));
        else
            P.fillRect(ToQRect(T), ToQColor(clBtnFace));
    }
    if (DE)
        DoDrawHandle(P, GetHandleRect(), Horz, FDragZone == zHandle);
}

// ---- TCustomRangeBar -------------------------------------------------------------------

TCustomRangeBar::TCustomRangeBar(QWidget* AOwner) : TArrowBar(AOwner) {}

void TCustomRangeBar::SetIncrement(float Value) { FIncrement = Value <= 0.001f ? 0.001f : Value; }

void TCustomRangeBar::SetPosition(float Value)
{
    if (Value == FPosition)
        return;
    FPosition = Value;
    AdjustPosition();
    Invalidate();
    DoChange();
}

void TCustomRangeBar::AdjustPosition()
{
    const float W = EffectiveWindow();
    if (FPosition + W > FRange)
        FPosition = FRange - W;
    if (FPosition < 0 || std::isnan(FPosition))
        FPosition = 0;
}

void TCustomRangeBar::SetParams(float NewRange, float NewWindow)
{
    if (!(NewRange >= 0))
        NewRange = 0;
    if (!(NewWindow >= 0))
        NewWindow = 0;
    if (NewRange == FRange && NewWindow == EffectiveWindow())
        return;
    const float OldRange = FRange;
    FRange = NewRange;
    FWindow = NewWindow;
    const float W = EffectiveWindow();
    if (FCentered && W < FRange) {
        const float C = OldRange <= W ? 0.5f : (W / 2 + FPosition) / OldRange;
        FPosition = C * FRange - W / 2;
    }
    AdjustPosition();
    Invalidate();
}

float TCustomRangeBar::EffectiveWindow() const
{
    if (FWindow > 0)
        return FWindow;
    FLastWindow = float(Length());
    return FLastWindow;
}

bool TCustomRangeBar::DrawEnabled() const { return Enabled() && EffectiveWindow() < FRange; }

TRect TCustomRangeBar::GetHandleRect() const
{
    const TRect T = GetTrackBoundary();
    const bool Horz = Kind() == sbHorizontal;
    const int32_t L = Horz ? T.Right - T.Left : T.Bottom - T.Top;
    if (L < 18)
        return TRect{};
    const float W = EffectiveWindow();
    int32_t HS, P;
    if (FRange <= W) {
        HS = L;
        P = 0;
    } else {
        HS = RoundEven(double(L) * W / FRange);
        if (HS < 17) {
            HS = 17;
            P = RoundEven(double(L - 17) * FPosition / FRange);
        } else {
            P = RoundEven(double(L) * FPosition / FRange);
        }
    }
    return Horz ? TRect{T.Left + P, T.Top, T.Left + P + HS, T.Bottom}
                : TRect{T.Left, T.Top + P, T.Right, T.Top + P + HS};
}

void TCustomRangeBar::StartHandleDrag()
{
    if (!DrawEnabled()) {
        FDragZone = zNone;
        return;
    }
    FPosBeforeDrag = FPosition;
}

void TCustomRangeBar::DragHandle(int32_t Delta)
{
    const float W = EffectiveWindow();
    if (!(W < FRange))
        return;
    int32_t S = Length() - 2 * GetButtonSize();
    if (BorderStyle() == bsSingleBorder)
        S -= 2;
    if (S <= 0)
        return;
    const int32_t HS = RoundEven(double(S) * W / FRange);
    double D;
    if (HS < 17) {
        if (S - 17 <= 0)
            return; // no room to drag a minimum-size handle
        D = RoundEven((double(FRange) - W) * Delta / (S - 17));
    } else {
        D = double(Delta) * FRange / S;
    }
    SetPosition(float(FPosBeforeDrag + D));
}

void TCustomRangeBar::TimerHandler(TObject* Sender) { TArrowBar::TimerHandler(Sender); }

void TCustomRangeBar::Step()
{
    switch (FDragZone) {
    case zBtnPrev: SetPosition(FPosition - FIncrement); break;
    case zBtnNext: SetPosition(FPosition + FIncrement); break;
    case zTrackPrev:
        if (StillInHeldZone())
            SetPosition(FPosition - EffectiveWindow());
        break;
    case zTrackNext:
        if (StillInHeldZone())
            SetPosition(FPosition + EffectiveWindow());
        break;
    default: break;
    }
}

void TCustomRangeBar::Resize()
{
    const float OldWindow = FLastWindow;
    const float W = EffectiveWindow();
    if (FCentered && W < FRange) {
        const float C = FRange <= OldWindow ? 0.5f : (OldWindow / 2 + FPosition) / FRange;
        FPosition = C * FRange - W / 2;
        AdjustPosition();
    }
    TArrowBar::Resize();
}

// A wheel turned over the bar is the user's doing: the view follows OnUserChange.
bool TCustomRangeBar::DoMouseWheelDefault(TShiftState, int32_t WheelDelta, TPoint)
{
    FGenChange = true;
    SetPosition(FPosition + WheelDelta * FIncrement / 120);
    FGenChange = false;
    return true;
}

void TCustomRangeBar::Paint()
{
    TArrowBar::Paint();
    if (!DrawEnabled() || (FDragZone != zTrackPrev && FDragZone != zTrackNext))
        return;
    const TRect H = GetHandleRect();
    TRect T = GetTrackBoundary();
    if (Framed())
        Shrink(T, 1);
    const bool Horz = Kind() == sbHorizontal;
    TRect Paged = T;
    if (FDragZone == zTrackPrev) {
        if (Horz)
            Paged.Right = H.Left;
        else
            Paged.Bottom = H.Top;
    } else {
        if (Horz)
            Paged.Left = H.Right;
        else
            Paged.Top = H.Bottom;
    }
    if (!RectIsEmpty(Paged)) {
        QPainter P(&CanvasImage());
        P.fillRect(ToQRect(Paged), ToQColor(clHighlight));
    }
}

// ---- TCustomGaugeBar -------------------------------------------------------------------

TCustomGaugeBar::TCustomGaugeBar(QWidget* AOwner) : TArrowBar(AOwner) {}

void TCustomGaugeBar::SetHandleSize(int32_t Value)
{
    Value = std::max(0, Value);
    if (Value == FHandleSize)
        return;
    FHandleSize = Value;
    Invalidate();
}

void TCustomGaugeBar::SetMax(int32_t Value)
{
    if (Value <= FMin)
        Value = FMin + 1;
    if (Value == FMax)
        return;
    FMax = Value;
    if (FPosition > FMax)
        SetPosition(FMax);
    Invalidate();
}

void TCustomGaugeBar::SetMin(int32_t Value)
{
    if (Value >= FMax)
        Value = FMax - 1;
    if (Value == FMin)
        return;
    FMin = Value;
    if (FPosition < FMin)
        SetPosition(FMin);
    Invalidate();
}

void TCustomGaugeBar::SetPosition(int32_t Value)
{
    Value = std::clamp(Value, std::min(FMin, FMax), FMax);
    if (Value == FPosition)
        return;
    FPosition = Value;
    Invalidate();
    DoChange();
}

bool TCustomGaugeBar::HandleMetrics(int32_t& HS, int32_t& L) const
{
    const TRect T = GetTrackBoundary();
    L = Kind() == sbHorizontal ? T.Right - T.Left : T.Bottom - T.Top;
    HS = FHandleSize;
    if (HS == 0) {
        HS = Thickness();
        if (BorderStyle() == bsSingleBorder)
            HS -= 2;
    }
    if (L - HS < 1)
        HS = L - 1;
    if (HS < 0)
        HS = 0;
    // With no range or no track there is nothing to slide.
    return FMax > FMin && L > 0 && HS > 0;
}

TRect TCustomGaugeBar::GetHandleRect() const
{
    int32_t HS, L;
    if (!HandleMetrics(HS, L))
        return TRect{};
    const TRect T = GetTrackBoundary();
    const int32_t P = RoundEven(double(L - HS) * (int64_t(FPosition) - FMin) / (int64_t(FMax) - FMin));
    return Kind() == sbHorizontal ? TRect{T.Left + P, T.Top, T.Left + P + HS, T.Bottom}
                                  : TRect{T.Left, T.Top + P, T.Right, T.Top + P + HS};
}

void TCustomGaugeBar::StartHandleDrag() { FPosBeforeDrag = float(FPosition); }

void TCustomGaugeBar::DragHandle(int32_t Delta)
{
    int32_t HS, L;
    if (!HandleMetrics(HS, L) || L - HS <= 0)
        return;
    SetPosition(RoundEven(FPosBeforeDrag + (double(FMax) - FMin) * Delta / (L - HS)));
}

void TCustomGaugeBar::Step()
{
    switch (FDragZone) {
    case zBtnPrev: SetPosition(FPosition - FSmallChange); break;
    case zBtnNext: SetPosition(FPosition + FSmallChange); break;
    case zTrackPrev:
        if (StillInHeldZone())
            SetPosition(FPosition - FLargeChange);
        break;
    case zTrackNext:
        if (StillInHeldZone())
            SetPosition(FPosition + FLargeChange);
        break;
    default: break;
    }
}

bool TCustomGaugeBar::DoMouseWheelDefault(TShiftState, int32_t WheelDelta, TPoint)
{
    SetPosition(int32_t(int64_t(WheelDelta) * FSmallChange / 120 + FPosition));
    return true;
}

// ---- TArrowBarAccess -------------------------------------------------------------------

#define KV_FORWARD(Setter, Type)                                                                                       \
    void TArrowBarAccess::Setter(Type Value)                                                                           \
    {                                                                                                                  \
        FMaster->Setter(Value);                                                                                        \
        if (FSlave)                                                                                                    \
            FSlave->Setter(Value);                                                                                     \
    }
KV_FORWARD(SetBackgnd, TRBBackgnd)
KV_FORWARD(SetBorderStyle, TControlBorderStyle)
KV_FORWARD(SetButtonSize, int32_t)
KV_FORWARD(SetColor, TColor)
KV_FORWARD(SetFramed, bool)
KV_FORWARD(SetHandleColor, TColor)
KV_FORWARD(SetShowArrows, bool)
KV_FORWARD(SetShowHandleGrip, bool)
#undef KV_FORWARD

void TArrowBarAccess::Assign(TPersistent* Source)
{
    auto* Src = dynamic_cast<TArrowBarAccess*>(Source);
    if (!Src) {
        TPersistent::Assign(Source);
        return;
    }
    SetBackgnd(Src->Backgnd());
    SetBorderStyle(Src->BorderStyle());
    SetButtonSize(Src->ButtonSize());
    SetColor(Src->Color());
    SetFramed(Src->Framed());
    SetHandleColor(Src->HandleColor());
    SetShowArrows(Src->ShowArrows());
    SetShowHandleGrip(Src->ShowHandleGrip());
}

} // namespace kv
