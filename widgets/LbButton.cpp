#include "widgets/LbButton.h"

#include "platform/QtBridge.h"
#include "widgets/KvResources.h"

#include <QDialog>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QShortcutEvent>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace kv {

// ---- Colours -------------------------------------------------------------------------

TColor LbMixColors(TColor A, TColor B, int32_t Counter)
{
    // System colours are resolved first: clBtnFace mixed raw would read as red 15.
    const TColor CA = ColorToRGB(A), CB = ColorToRGB(B);
    const double T = Counter / double(LbFadeSteps);
    auto Mix = [T](uint8_t a, uint8_t b) { return uint8_t(std::trunc(a * (1 - T) + b * T)); };
    return RGB(Mix(GetRValue(CA), GetRValue(CB)), Mix(GetGValue(CA), GetGValue(CB)), Mix(GetBValue(CA), GetBValue(CB)));
}

TColor LbGradientBand(TColor Start, TColor Stop, int32_t Index)
{
    const TColor S = ColorToRGB(Start), E = ColorToRGB(Stop);
    auto Band = [Index](uint8_t s, uint8_t e) {
        return uint8_t(s + std::trunc(Index * (int32_t(e) - int32_t(s)) / 31.0));
    };
    return RGB(Band(GetRValue(S), GetRValue(E)), Band(GetGValue(S), GetGValue(E)), Band(GetBValue(S), GetBValue(E)));
}

std::string LbFitCaption(std::string Caption, const std::function<bool(const std::string&)>& Fits)
{
    // With no room at all even "" does not fit; the empty caption ends the search.
    while (!Caption.empty() && !Fits(Caption)) {
        // Drop a whole UTF-8 character.
        size_t Cut = Caption.size() - 1;
        while (Cut > 0 && (uint8_t(Caption[Cut]) & 0xC0) == 0x80)
            --Cut;
        Caption.erase(Cut);
    }
    return Caption;
}

namespace {

struct TScheme {
    TColor Color, Light, Shadow, WhenDown, HotTrack;
    TLbButtonStyle Style;
    bool Flat;
    TColor FontColor;
};

// Indexed by TLbColorStyle; lcsCustom has no scheme.
const TScheme Schemes[] = {
    {},
    {0x00C0C0, 0x00FFFF, 0x008080, clNone, 0x00DFDF, bsModern, false, clBlack},    // lcsGold
    {0xC0C0C0, 0xFFFFFF, 0x808080, clNone, clNone, bsModern, false, clBlack},      // lcsChrome
    {0xFF8000, 0xFFFF00, 0xFF0000, clNone, clNone, bsModern, false, clBlack},      // lcsBlue
    {0x0000FF, 0xC0C0FF, 0x0000C0, clNone, clNone, bsModern, false, clBlack},      // lcsRed
    {clBtnFace, 0xB59284, 0xB59284, 0xB59284, 0xDED3D6, bsNormal, true, clBlack},  // lcsUltraFlat1
    {clBtnFace, 0x000000, 0x000000, 0x24DABC, 0x8CF6E4, bsNormal, true, clBlack},  // lcsUltraFlat2
    {0xD1D8DB, 0xB59284, 0xB59285, 0xB59285, 0xD2BDB6, bsNormal, true, clBlack},   // lcsUltraFlatXP
    {0xECCE94, 0xFCE6D4, 0x000000, clNone, clNone, bsModern, false, clBlack},      // lcsAqua
    {clBtnFace, 0xFFFFFF, 0x808080, clNone, clNone, bsNormal, false, clBlack},     // lcsDefault
    {0x603000, 0xC0C0C0, 0xC0C0C0, 0xAD6529, 0xCEAE9C, bsQuicken, false, clWhite}, // lcsQuicken
};

struct TKindInfo {
    TModalResult Result;
    const char* Resource;
    const char* Caption;
};

// Indexed by TLbButtonKind; bkCustom has none.
const TKindInfo Kinds[] = {
    {mrNone, "", ""},
    {mrOk, "LBOK", "OK"},
    {mrCancel, "LBCANCEL", "Abbrechen"},
    {mrNone, "LBHELP", "Hilfe"},
    {mrYes, "LBYES", "Ja"},
    {mrNo, "LBNO", "Nein"},
    {mrNone, "LBCLOSE", "Schließen"},
    {mrAbort, "LBABORT", "Abbrechen"},
    {mrRetry, "LBRETRY", "Wiederholen"},
    {mrIgnore, "LBIGNORE", "Ignorieren"},
    {mrAll, "LBALL", "Alle"},
};

QColor Q(TColor C) { return ToQColor(C); }

// A 1-pixel polyline through the points, the last point excluded as the platform's
// LineTo leaves it.
void Polyline(QPainter& P, TColor Colour, std::initializer_list<QPoint> Points)
{
    P.setPen(QPen(Q(Colour), 1));
    P.setBrush(Qt::NoBrush);
    const QPoint* Prev = nullptr;
    for (const QPoint& Pt : Points) {
        if (Prev) {
            // Draw from Prev up to, not including, Pt.
            const int DX = (Pt.x() > Prev->x()) - (Pt.x() < Prev->x());
            const int DY = (Pt.y() > Prev->y()) - (Pt.y() < Prev->y());
            if (Prev->x() == Pt.x() || Prev->y() == Pt.y()) {
                const QPoint End(Pt.x() - DX, Pt.y() - DY);
                if (*Prev == Pt)
                    continue;
                P.drawLine(*Prev, End);
            } else {
                P.drawLine(*Prev, Pt);
            }
        }
        Prev = &Pt;
    }
}

// Strips the accelerator marks as DrawText shows them: "&x" underlines x, "&&" is "&".
QString Displayed(const QString& S)
{
    QString R;
    for (qsizetype i = 0; i < S.size(); ++i) {
        if (S[i] == '&' && i + 1 < S.size())
            ++i;
        R += S[i];
    }
    return R;
}

} // namespace

// ---- TLbButton -----------------------------------------------------------------------

TLbButton::TLbButton(QWidget* AOwner)
    : TCustomControl(AOwner), FGlyph(std::make_unique<TBitmap>()), FFont(std::make_unique<TFont>()),
      FHotTrackFont(std::make_unique<TFont>()), FFadeTimer(std::make_unique<TTimer>())
{
    FFadeTimer->SetEnabled(false);
    FFadeTimer->SetInterval(LbFadeInterval);
    FFadeTimer->OnTimer = [this](TObject*) { FadeTick(); };
    FFont->SetColor(clBtnText);
    FFont->OnChange = [this](TObject*) { Invalidate(); };
    FHotTrackFont->OnChange = [this](TObject*) { Invalidate(); };
    SetBounds(Left(), Top(), 100, 23);
    SetTabStop(true);
    setAttribute(Qt::WA_Hover);
}

TLbButton::~TLbButton()
{
    FDestroying = true;
    FFadeTimer.reset();
}

void TLbButton::Changed() { Invalidate(); }

void TLbButton::SetAlignment(TAlignment Value)
{
    FAlignment = Value;
    Changed();
}

void TLbButton::SetCaption(const std::string& Value)
{
    FCaption = Value;
    UpdateMnemonic();
    updateGeometry();
    Changed();
}

void TLbButton::UpdateMnemonic()
{
    if (FMnemonicId)
        releaseShortcut(FMnemonicId);
    FMnemonicId = 0;
    const QKeySequence Key = QKeySequence::mnemonic(QString::fromStdString(FCaption));
    if (!Key.isEmpty())
        FMnemonicId = grabShortcut(Key);
}

void TLbButton::SetColor(TColor Value)
{
    TCustomControl::SetColor(Value);
    Changed();
}

void TLbButton::SetColorWhenDown(TColor Value)
{
    FColorWhenDown = Value;
    Changed();
}

void TLbButton::SetHotTrackColor(TColor Value)
{
    FHotTrackColor = Value;
    Changed();
}

void TLbButton::SetLightColor(TColor Value)
{
    FLightColor = Value;
    Changed();
}

void TLbButton::SetShadowColor(TColor Value)
{
    FShadowColor = Value;
    Changed();
}

void TLbButton::SetFlat(bool Value)
{
    FFlat = Value;
    Changed();
}

void TLbButton::SetColorStyle(TLbColorStyle Value)
{
    FColorStyle = Value;
    if (Value == lcsCustom)
        return;
    const TScheme& S = Schemes[Value];
    TCustomControl::SetColor(S.Color);
    FLightColor = S.Light;
    FShadowColor = S.Shadow;
    FColorWhenDown = S.WhenDown;
    FHotTrackColor = S.HotTrack;
    FFlat = S.Flat;
    FFont->SetColor(S.FontColor);
    SetStyle(S.Style);
    Changed();
}

void TLbButton::SetGlyph(TBitmap* Value)
{
    if (Value) {
        FGlyph->Assign(Value);
        FNumGlyphs = FGlyph->Height() > 0 ? FGlyph->Width() / FGlyph->Height() : 0;
    } else {
        FGlyph = std::make_unique<TBitmap>();
        FNumGlyphs = 0;
    }
    FKind = bkCustom;
    Changed();
}

void TLbButton::SetNumGlyphs(int32_t Value)
{
    FNumGlyphs = Value;
    Changed();
}

void TLbButton::SetUseHotTrackFont(bool Value)
{
    FUseHotTrackFont = Value;
    Changed();
}

void TLbButton::SetKind(TLbButtonKind Value)
{
    if (Value != bkCustom) {
        const TKindInfo& K = Kinds[Value];
        FNumGlyphs = 2;
        FModalResult = K.Result;
        FGlyph = LoadBitmapResource(K.Resource);
        FCaption = K.Caption;
        UpdateMnemonic();
    }
    FKind = Value;
    Changed();
}

void TLbButton::SetLayout(TLbButtonLayout Value)
{
    FLayout = Value;
    Changed();
}

void TLbButton::SetModalResult(TModalResult Value)
{
    FModalResult = Value;
    FKind = bkCustom;
    Changed();
}

void TLbButton::SetSlowDecease(bool Value)
{
    if (Value == FSlowDecease)
        return;
    FSlowDecease = Value;
    if (!Value) {
        FFadeCounter = 0;
        StopFade();
        Invalidate();
    }
}

void TLbButton::SetStyle(TLbButtonStyle Value)
{
    FStyle = Value;
    // The transparent styles paint without a background of their own (WS_EX_TRANSPARENT):
    // what lies behind shows through the key colour.
    const bool Transparent = TransparentStyle();
    setAttribute(Qt::WA_OpaquePaintEvent, !Transparent);
    setAttribute(Qt::WA_NoSystemBackground, !Transparent);
    setAttribute(Qt::WA_TranslucentBackground, Transparent);
    Changed();
}

void TLbButton::SetWordWrap(bool Value)
{
    FWordWrap = Value;
    Changed();
}

bool TLbButton::ParentShowing() const { return !parentWidget() || parentWidget()->isVisible(); }

bool TLbButton::HotOrFocused() const { return FHot || hasFocus(); }

bool TLbButton::FadeRunning() const { return FFadeTimer && FFadeTimer->Enabled(); }

void TLbButton::StopFade()
{
    if (FFadeTimer)
        FFadeTimer->SetEnabled(false);
}

TColor TLbButton::BackgroundColor() const
{
    TColor Bg = Color();
    if (Enabled() && FHotTrackColor != clNone)
        Bg = LbMixColors(Color(), FHotTrackColor, FFadeCounter);
    if (FDown && Enabled() && FColorWhenDown != clNone)
        Bg = FColorWhenDown;
    return Bg;
}

// ---- Hot tracking ----------------------------------------------------------------------

void TLbButton::MouseEnter()
{
    if (!Enabled() || !isVisible() || !ParentShowing())
        return;
    FHot = true;
    FFadeCounter = LbFadeSteps;
    // A fade still running from the last leave would count the hot colour away.
    StopFade();
    Repaint();
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TLbButton::MouseLeave()
{
    FHot = false;
    if (FSlowDecease) {
        if (!FadeRunning() && FFadeTimer) {
            FFadeTimer->SetInterval(LbFadeInterval);
            FFadeTimer->SetEnabled(true);
        }
    } else {
        FFadeCounter = 0;
        Repaint();
    }
    if (Enabled() && isVisible() && ParentShowing() && OnMouseExit)
        OnMouseExit(this);
}

void TLbButton::FadeTick()
{
    if (FDestroying)
        return;
    if (FHot) {
        // Back under the mouse: the hot colour stays until it leaves again.
        StopFade();
        return;
    }
    --FFadeCounter;
    if (FFadeCounter < 1) {
        StopFade();
        FFadeCounter = 0;
    }
    Repaint();
}

// ---- Clicks and keys -------------------------------------------------------------------

void TLbButton::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft || !Enabled())
        return;
    FDown = true;
    if (CanFocus())
        SetFocus();
    Repaint();
}

void TLbButton::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomControl::MouseUp(Button, Shift, X, Y);
    if (Button != mbLeft)
        return;
    if (FDown)
        Click();
    FDown = false;
    Repaint();
}

void TLbButton::Click()
{
    if (!isVisible() || !Enabled() || !FDown)
        return;
    FDown = false;
    if (OnClick)
        OnClick(this);
    if (FModalResult != mrNone) {
        QWidget* Form = window();
        Form->setProperty("ModalResult", FModalResult);
        if (auto* Dialog = qobject_cast<QDialog*>(Form); Dialog && Form != this)
            Dialog->done(FModalResult);
    }
    if (FPopupMenu)
        FPopupMenu->popup(mapToGlobal(QPoint(0, Height())));
}

void TLbButton::KeyDown(uint16_t Key)
{
    if ((Key == VK_RETURN || Key == VK_SPACE) && Enabled()) {
        FDown = true;
        Repaint();
    }
}

void TLbButton::KeyUp(uint16_t Key)
{
    if (Key == VK_RETURN || Key == VK_SPACE)
        Click();
}

namespace {

uint16_t ButtonKey(int QtKey)
{
    switch (QtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Space: return VK_SPACE;
    default: return 0;
    }
}

// A push button of any kind: it takes Enter itself when it has the focus.
bool IsButton(QWidget* W)
{
    return dynamic_cast<TLbButton*>(W) || qobject_cast<QPushButton*>(W) || qobject_cast<QToolButton*>(W);
}

} // namespace

void TLbButton::keyPressEvent(QKeyEvent* Event)
{
    if (uint16_t Key = ButtonKey(Event->key())) {
        if (!Event->isAutoRepeat())
            KeyDown(Key);
        Event->accept();
        return;
    }
    TCustomControl::keyPressEvent(Event);
}

void TLbButton::keyReleaseEvent(QKeyEvent* Event)
{
    if (uint16_t Key = ButtonKey(Event->key())) {
        if (!Event->isAutoRepeat())
            KeyUp(Key);
        Event->accept();
        return;
    }
    TCustomControl::keyReleaseEvent(Event);
}

bool TLbButton::DialogKey(uint16_t Key, TShiftState Shift)
{
    const bool Wanted = (Key == VK_RETURN && FDefault) || (Key == VK_ESCAPE && FCancel && Shift == 0);
    if (!Wanted || !isVisible() || !Enabled())
        return false;
    QWidget* Active = window()->focusWidget();
    if (Active && Active != this && IsButton(Active))
        return false;
    FDown = true;
    Click();
    return true;
}

bool TLbButton::event(QEvent* Event)
{
    if (Event->type() == QEvent::Shortcut && static_cast<QShortcutEvent*>(Event)->shortcutId() == FMnemonicId) {
        // The caption's accelerator.
        if (Enabled()) {
            FDown = true;
            Click();
        }
        return true;
    }
    return TCustomControl::event(Event);
}

void TLbButton::focusInEvent(QFocusEvent* Event)
{
    TCustomControl::focusInEvent(Event);
    Invalidate();
}

void TLbButton::focusOutEvent(QFocusEvent* Event)
{
    TCustomControl::focusOutEvent(Event);
    Invalidate();
}

void TLbButton::EnabledChanged()
{
    if (!Enabled())
        FDown = false;
    Invalidate();
}

// ---- Painting ---------------------------------------------------------------------------

void TLbButton::DrawFace(QPainter& P, int32_t W, int32_t H, TColor Bg)
{
    switch (FStyle) {
    case bsShape: break; // the key colour everywhere
    case bsNormal:
    case bsEncarta:
    case bsOld: P.fillRect(0, 0, W, H, Q(Bg)); break;
    case bsModern: {
        // LightColor to bg over the upper quarter, then bg back to LightColor.
        auto Gradient = [&](int32_t Top, int32_t Height, TColor From, TColor To) {
            for (int32_t i = 0; i < 32; ++i) {
                const int32_t Y0 = Top + i * Height / 32, Y1 = Top + (i + 1) * Height / 32;
                if (Y1 > Y0)
                    P.fillRect(0, Y0, W, Y1 - Y0, Q(LbGradientBand(From, To, i)));
            }
        };
        const int32_t Quarter = H / 4;
        Gradient(0, Quarter, FLightColor, Bg);
        Gradient(Quarter, H - Quarter, Bg, FLightColor);
        break;
    }
    case bsQuicken: {
        P.setPen(Qt::NoPen);
        P.setBrush(Q(Bg));
        P.setRenderHint(QPainter::Antialiasing, false);
        P.drawRoundedRect(QRect(0, 1, std::max(0, W), std::max(0, H - 1)), 2, 2);
        P.setBrush(Qt::NoBrush);
        break;
    }
    }
}

void TLbButton::DrawFrame(QPainter& P, int32_t W, int32_t H, TColor Bg)
{
    const bool Down = FDown && Enabled();
    // A pressed old-style button draws both bevel colours in the shadow colour.
    const TColor S = FShadowColor;
    const TColor L = (Down && FStyle == bsOld) ? FShadowColor : FLightColor;
    switch (FStyle) {
    case bsNormal:
    case bsEncarta:
    case bsOld: {
        const bool Show = Enabled() ? (!FFlat || HotOrFocused() || Down) : !FFlat;
        if (!Show)
            break;
        if (FStyle == bsOld) {
            if (Down)
                Polyline(P, S, {{1, H - 3}, {1, 1}, {W - 2, 1}});
            else
                Polyline(P, S, {{W - 2, 0}, {W - 2, H - 2}, {0, H - 2}});
            Polyline(P, Down ? cl3DDkShadow : L, {{0, H - 1}, {0, 0}, {W - 1, 0}});
            Polyline(P, Down ? L : cl3DDkShadow, {{W - 1, 0}, {W - 1, H - 1}, {-1, H - 1}});
        } else {
            Polyline(P, Down ? S : L, {{0, H - 1}, {0, 0}, {W - 1, 0}});
            Polyline(P, Down ? L : S, {{W - 1, 0}, {W - 1, H - 1}, {-1, H - 1}});
        }
        break;
    }
    case bsModern:
        P.setBrush(Qt::NoBrush);
        P.setPen(QPen(Q(Down ? S : Bg), 1));
        if (W > 3 && H > 3)
            P.drawRect(1, 1, W - 3, H - 3);
        P.setPen(QPen(Q(S), 1));
        if (W > 1 && H > 1)
            P.drawRoundedRect(QRect(0, 0, W - 1, H - 1), 3, 3);
        break;
    case bsQuicken:
        Polyline(P, S, {{4, 0}, {W - 4, 0}});
        Polyline(P, S, {{4, H - 1}, {W - 4, H - 1}});
        break;
    case bsShape: break;
    }
}

void TLbButton::DrawContents(QPainter& P, int32_t W, int32_t H)
{
    const bool Down = FDown && Enabled();
    // The glyph image for the state: 1 normal, 2 disabled, 3 down, 4 hot or focused.
    QImage Cell;
    if (!FGlyph->Empty()) {
        const int32_t N = std::max(FNumGlyphs, 1);
        const int32_t CellWidth = FGlyph->Width() / N;
        int32_t Index = 0;
        if (!Enabled())
            Index = N >= 2 ? 1 : 0;
        else if (Down && N > 2)
            Index = 2;
        else if (HotOrFocused() && N > 3)
            Index = 3;
        if (CellWidth > 0) {
            Cell = BitmapToQImage(*FGlyph).copy(Index * CellWidth, 0, CellWidth, FGlyph->Height());
            const QRgb Key = ToQColor(FGlyph->TransparentColor()).rgb() & 0xFFFFFF;
            Cell = Cell.convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < Cell.height(); ++y) {
                auto* Row = reinterpret_cast<QRgb*>(Cell.scanLine(y));
                for (int x = 0; x < Cell.width(); ++x)
                    if ((Row[x] & 0xFFFFFF) == Key)
                        Row[x] = 0;
            }
        }
    }
    const int32_t GW = Cell.isNull() ? 0 : Cell.width(), GH = Cell.isNull() ? 0 : Cell.height();

    const TFont& F = (FUseHotTrackFont && HotOrFocused()) ? *FHotTrackFont : *FFont;
    QFont Font = ToQFont(F);
    if (FStyle == bsEncarta && Down)
        Font.setBold(true);
    P.setFont(Font);
    const QFontMetrics M(Font);

    const bool Beside = FStyle != bsShape && (FLayout == blGlyphLeft || FLayout == blGlyphRight) && GW > 0;
    const int32_t Room = W - 8 - (Beside ? GW + 4 : 0);
    QString Text = QString::fromStdString(FCaption);
    if (!FWordWrap)
        Text = QString::fromStdString(LbFitCaption(FCaption, [&](const std::string& S) {
            return M.horizontalAdvance(Displayed(QString::fromStdString(S))) <= Room;
        }));
    int AlignFlag = Qt::AlignHCenter;
    if (FAlignment == taLeftJustify)
        AlignFlag = Qt::AlignLeft;
    else if (FAlignment == taRightJustify)
        AlignFlag = Qt::AlignRight;
    const int TextFlags = Qt::TextWordWrap | Qt::TextShowMnemonic | AlignFlag | Qt::AlignVCenter;
    const QRect Measured =
        Text.isEmpty() ? QRect() : M.boundingRect(QRect(0, 0, std::max(1, Room), std::max(1, H)), TextFlags, Text);
    const int32_t TW = Measured.width(), TH = Measured.height();

    QRect GlyphAt, TextAt(4, 0, std::max(0, W - 8), H);
    if (FStyle == bsShape) {
        GlyphAt = QRect((W - GW) / 2, (H - GH) / 2, GW, GH);
    } else if (Beside) {
        const int32_t Content = GW + (TW > 0 ? 4 + TW : 0);
        int32_t X = (W - Content) / 2;
        if (FAlignment == taLeftJustify)
            X = 4;
        else if (FAlignment == taRightJustify)
            X = W - 4 - Content;
        if (FLayout == blGlyphLeft) {
            GlyphAt = QRect(X, (H - GH) / 2, GW, GH);
            TextAt = QRect(X + GW + 4, 0, std::max(0, TW), H);
        } else {
            GlyphAt = QRect(X + Content - GW, (H - GH) / 2, GW, GH);
            TextAt = QRect(X, 0, std::max(0, TW), H);
        }
    } else if (GW > 0) {
        const int32_t Content = GH + (TH > 0 ? 2 + TH : 0);
        const int32_t Y = (H - Content) / 2;
        if (FLayout == blGlyphBottom) {
            TextAt = QRect(4, Y, std::max(0, W - 8), TH);
            GlyphAt = QRect((W - GW) / 2, Y + Content - GH, GW, GH);
        } else {
            GlyphAt = QRect((W - GW) / 2, Y, GW, GH);
            TextAt = QRect(4, Y + GH + 2, std::max(0, W - 8), TH);
        }
    }
    if (GW > 0)
        P.drawImage(GlyphAt.topLeft(), Cell);
    if (!Text.isEmpty()) {
        P.setPen(Q(Enabled() ? F.Color() : clGrayText));
        P.drawText(TextAt, TextFlags, Text);
    }
}

QSize TLbButton::sizeHint() const
{
    const int32_t text = QFontMetrics(font()).horizontalAdvance(QString::fromStdString(FCaption).remove('&'));
    return QSize(std::max(100, text + 16), 23);
}

QImage TLbButton::Render()
{
    const int32_t Width = std::max(1, this->Width()), Height = std::max(1, this->Height());
    QImage Image(Width, Height, QImage::Format_ARGB32);
    Image.fill(TransparentStyle() ? Q(LbKeyColor) : Q(clBtnFace));
    QPainter P(&Image);
    P.setRenderHint(QPainter::Antialiasing, false);
    const int32_t W = this->Width() - 2, H = this->Height() - 2;
    const bool Down = FDown && Enabled();
    if (Down && FStyle != bsEncarta)
        P.translate(1, 1);
    const TColor Bg = BackgroundColor();
    DrawFace(P, W, H, Bg);
    DrawFrame(P, W, H, Bg);
    DrawContents(P, W, H);
    return Image;
}

void TLbButton::paintEvent(QPaintEvent*)
{
    QImage Image = Render();
    QPainter P(this);
    if (TransparentStyle()) {
        const QRgb Key = Q(LbKeyColor).rgb() & 0xFFFFFF;
        for (int y = 0; y < Image.height(); ++y) {
            auto* Row = reinterpret_cast<QRgb*>(Image.scanLine(y));
            for (int x = 0; x < Image.width(); ++x)
                if ((Row[x] & 0xFFFFFF) == Key)
                    Row[x] = 0;
        }
        P.drawImage(0, 0, Image);
    } else {
        P.setCompositionMode(QPainter::CompositionMode_Source);
        P.drawImage(0, 0, Image);
    }
}

} // namespace kv
