#include "widgets/KvSpinEdit.h"

#include "platform/Dialogs.h"
#include "platform/KvKeys.h"
#include "platform/SysUtils.h"
#include "widgets/KvDialogKeys.h"
#include "widgets/KvResources.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace kv {

// ---- Numbers and text --------------------------------------------------------------

namespace {

// Owned by the application; '.' until the program sets another.
char GDecimalSeparator = '.';
uint32_t GBeepCount = 0;

Extended Int32Clamp(Extended V)
{
    return std::clamp<Extended>(V, Extended(std::numeric_limits<int32_t>::min()),
                                Extended(std::numeric_limits<int32_t>::max()));
}

int32_t TruncToInt32(Extended V)
{
    if (std::isnan(V))
        return 0;
    return int32_t(std::trunc(Int32Clamp(V)));
}

bool SameText(const std::string& A, const std::string& B) { return UpperCase(A) == UpperCase(B); }

// Rounds the decimal digit string D (the value is 0.D x 10^Point) half up at Keep
// digits after the point; returns the new Point (one more when the carry ran out).
int32_t RoundDigits(std::string& D, int32_t Point, int32_t Keep)
{
    const int64_t Cut = int64_t(Point) + Keep;
    if (Cut < 0) {
        D.clear();
        return Point;
    }
    if (Cut >= int64_t(D.size()))
        return Point;
    const bool Up = D[size_t(Cut)] >= '5';
    D.resize(size_t(Cut));
    if (!Up)
        return Point;
    int64_t i = int64_t(D.size()) - 1;
    for (; i >= 0; --i) {
        if (D[size_t(i)] == '9') {
            D[size_t(i)] = '0';
            continue;
        }
        ++D[size_t(i)];
        break;
    }
    if (i < 0) {
        D.insert(D.begin(), '1');
        return Point + 1;
    }
    return Point;
}

} // namespace

char DecimalSeparator() { return GDecimalSeparator; }
void SetDecimalSeparator(char Value) { GDecimalSeparator = Value; }

bool TryStrToFloat(const std::string& S, Extended& Value)
{
    const std::string T = Trim(S);
    std::string Plain; // the text with '.' as its separator, for from_chars
    size_t i = 0;
    bool Negative = false;
    if (i < T.size() && (T[i] == '+' || T[i] == '-')) {
        Negative = T[i] == '-';
        ++i;
    }
    bool Digits = false, Point = false;
    for (; i < T.size(); ++i) {
        const char C = T[i];
        if (C >= '0' && C <= '9') {
            Digits = true;
            Plain += C;
        } else if (C == GDecimalSeparator && !Point) {
            Point = true;
            Plain += '.';
        } else {
            break;
        }
    }
    if (!Digits)
        return false;
    if (i < T.size() && (T[i] == 'e' || T[i] == 'E')) {
        Plain += 'e';
        ++i;
        if (i < T.size() && (T[i] == '+' || T[i] == '-'))
            Plain += T[i++];
        bool ExpDigits = false;
        for (; i < T.size() && T[i] >= '0' && T[i] <= '9'; ++i) {
            ExpDigits = true;
            Plain += T[i];
        }
        if (!ExpDigits)
            return false;
    }
    if (i != T.size())
        return false;
    long double V = 0;
    const auto Res = std::from_chars(Plain.data(), Plain.data() + Plain.size(), V);
    if (Res.ec != std::errc() || Res.ptr != Plain.data() + Plain.size() || !std::isfinite(V))
        return false;
    Value = Negative ? -V : V;
    return true;
}

std::string FloatToStrFixed(Extended Value, int32_t Digits)
{
    if (std::isnan(Value))
        return "NAN";
    if (std::isinf(Value))
        return Value < 0 ? "-INF" : "INF";
    Digits = std::clamp(Digits, 0, 18);
    // The value to 15 significant digits first, as the platform's formatter does.
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%.14Le", std::fabs(Value));
    std::string D;
    for (const char* p = Buf; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            D += *p;
    const int32_t Exp = std::atoi(std::strchr(Buf, 'e') + 1);
    const bool Negative = Value < 0 && std::stoull(D) != 0;
    int32_t Point = Exp + 1;
    if (D.find_first_not_of('0') == std::string::npos)
        Point = 1;
    if (Point > 15) {
        // Too wide for fixed notation: the general scientific form ("1.5E20").
        while (D.size() > 1 && D.back() == '0')
            D.pop_back();
        std::string R = Negative ? "-" : "";
        R += D[0];
        if (D.size() > 1)
            R += std::string(1, GDecimalSeparator) + D.substr(1);
        return R + "E" + std::to_string(Point - 1);
    }
    Point = RoundDigits(D, Point, Digits);
    std::string IntPart, Frac;
    for (int32_t k = 0; k < Point; ++k)
        IntPart += k < int32_t(D.size()) ? D[size_t(k)] : '0';
    if (IntPart.empty())
        IntPart.push_back('0');
    for (int32_t k = 0; k < Digits; ++k) {
        const int32_t Index = Point + k;
        Frac += Index >= 0 && Index < int32_t(D.size()) ? D[size_t(Index)] : '0';
    }
    const bool AllZero =
        IntPart.find_first_not_of('0') == std::string::npos && Frac.find_first_not_of('0') == std::string::npos;
    std::string R = Negative && !AllZero ? "-" : "";
    R += IntPart;
    if (Digits > 0)
        R += std::string(1, GDecimalSeparator) + Frac;
    return R;
}

std::string IntToHex(int32_t Value, int32_t Digits)
{
    char Buf[16];
    std::snprintf(Buf, sizeof Buf, "%0*X", std::clamp(Digits, 1, 8), uint32_t(Value));
    return Buf;
}

int32_t RoundToInt32(Extended Value)
{
    if (std::isnan(Value))
        return 0;
    // nearbyint rounds half to even in the default rounding mode.
    return int32_t(std::nearbyint(Int32Clamp(Value)));
}

void MessageBeep(uint32_t)
{
    ++GBeepCount;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::beep();
}

uint32_t MessageBeepCount() { return GBeepCount; }

// ---- TKvSpinButton -------------------------------------------------------------------

TKvSpinButton::TKvSpinButton(QWidget* AOwner)
    : TCustomControl(AOwner), FUpBitmap(LoadBitmapResource("KVSPINUP")), FDownBitmap(LoadBitmapResource("KVSPINDOWN"))
{
    for (auto& Image : FImages) {
        Image = std::make_unique<TBitmap>();
        Image->SetPixelFormat(pf24bit);
    }
    SetBounds(0, 0, 20, 20);
}

// The repeat timer dies with its button (a unique_ptr member), so no tick can reach a
// destroyed control.
TKvSpinButton::~TKvSpinButton() = default;

void TKvSpinButton::GlyphChanged()
{
    FInvalidate = true;
    Invalidate();
}

void TKvSpinButton::SetUpGlyph(TBitmap* Value)
{
    if (Value)
        FUpBitmap->Assign(Value);
    else
        FUpBitmap = LoadBitmapResource("KVSPINUP");
    GlyphChanged();
}

void TKvSpinButton::SetDownGlyph(TBitmap* Value)
{
    if (Value)
        FDownBitmap->Assign(Value);
    else
        FDownBitmap = LoadBitmapResource("KVSPINDOWN");
    GlyphChanged();
}

void TKvSpinButton::SetDown(TSpinButtonState Value)
{
    const TSpinButtonState Old = FDown;
    FDown = Value;
    if (Old != FDown)
        Repaint();
}

bool TKvSpinButton::InTopPart(int32_t X, int32_t Y) const
{
    const double W = Width(), H = Height();
    return Y <= H - (H / W) * X;
}

bool TKvSpinButton::LeftButtonHeld() const { return FDragging; }

void TKvSpinButton::TopClick()
{
    if (OnTopClick) {
        OnTopClick(this);
        if (!LeftButtonHeld())
            FDown = sbNotDown;
    }
}

void TKvSpinButton::BottomClick()
{
    if (OnBottomClick) {
        OnBottomClick(this);
        if (!LeftButtonHeld())
            FDown = sbNotDown;
    }
}

void TKvSpinButton::RunPartClick(TSpinButtonState Part)
{
    if (Part == sbTopDown)
        TopClick();
    else if (Part == sbBottomDown)
        BottomClick();
}

void TKvSpinButton::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft || !Enabled())
        return;
    if (FFocusControl && FFocusControl->isEnabled() && FFocusControl->focusPolicy() != Qt::NoFocus &&
        !FFocusControl->hasFocus())
        FFocusControl->setFocus(Qt::MouseFocusReason);
    // The left button is held from here until MouseUp; the click handlers look at it.
    FDragging = true;
    if (FDown == sbNotDown) {
        FLastDown = FDown;
        const TSpinButtonState Part = InTopPart(X, Y) ? sbTopDown : sbBottomDown;
        FDown = Part;
        FLastDown = Part;
        RunPartClick(Part);
        Repaint();
        if (!FRepeatTimer) {
            FRepeatTimer = std::make_unique<TTimer>();
            FRepeatTimer->SetEnabled(false);
            // The platform timer runs its handler inside SafeCall: an error in a
            // repeated click stops the repeat and reaches the error box.
            FRepeatTimer->OnTimer = [this](TObject*) { TimerExpired(); };
        }
        FRepeatTimer->SetInterval(400);
        FRepeatTimer->SetEnabled(false);
        FRepeatTimer->SetEnabled(true);
    }
}

void TKvSpinButton::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomControl::MouseMove(Shift, X, Y);
    if (!FDragging)
        return;
    TSpinButtonState NewState = sbNotDown;
    if (X >= 0 && X <= Width() && Y >= 0 && Y <= Height()) {
        const TSpinButtonState Part = InTopPart(X, Y) ? sbTopDown : sbBottomDown;
        if (Part == FLastDown)
            NewState = Part;
    }
    if (NewState != FDown) {
        FDown = NewState;
        Repaint();
    }
}

void TKvSpinButton::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomControl::MouseUp(Button, Shift, X, Y);
    // The repeat ends with the press (it used to tick on, idle, for the control's life).
    if (FRepeatTimer)
        FRepeatTimer->SetEnabled(false);
    if (!FDragging)
        return;
    FDragging = false;
    if (X >= 0 && X <= Width() && Y >= 0 && Y <= Height()) {
        FDown = sbNotDown;
        FLastDown = sbNotDown;
        Repaint();
    }
}

void TKvSpinButton::TimerExpired()
{
    if (FRepeatTimer)
        FRepeatTimer->SetInterval(100);
    if (FDown == sbNotDown || !MouseCapture())
        return;
    try {
        RunPartClick(FDown);
    } catch (...) {
        if (FRepeatTimer)
            FRepeatTimer->SetEnabled(false);
        throw;
    }
}

void TKvSpinButton::DrawBitmap(TBitmap& Bitmap, TSpinButtonState DownState)
{
    const int32_t W = Width(), H = Height();
    Bitmap.SetSize(W, H);
    if (W < 1 || H < 1)
        return;
    TCanvas& C = *Bitmap.Canvas();
    C.Brush()->SetStyle(bsSolid);
    C.Brush()->SetColor(clBtnFace);
    C.Pen()->SetStyle(psSolid);
    C.Pen()->SetWidth(1);
    C.Pen()->SetColor(clWindowFrame);
    C.Rectangle(0, 0, W, H);
    C.MoveTo(-1, H);
    C.LineTo(W, -1);

    // Top part: light along its top and left edges, dark along the diagonal.
    const bool TopDown = DownState == sbTopDown, BottomDown = DownState == sbBottomDown;
    C.Pen()->SetColor(TopDown ? clBtnShadow : clBtnHighlight);
    C.MoveTo(1, H - 3);
    C.LineTo(1, 1);
    C.LineTo(W - 2, 1);
    C.Pen()->SetColor(TopDown ? clBtnHighlight : clBtnShadow);
    C.MoveTo(2, H - 3);
    C.LineTo(W - 2, 1);
    // Bottom part: light along the diagonal, dark along its bottom and right edges.
    C.Pen()->SetColor(BottomDown ? clBtnShadow : clBtnHighlight);
    C.MoveTo(2, H - 1);
    C.LineTo(W - 1, 2);
    C.Pen()->SetColor(BottomDown ? clBtnHighlight : clBtnShadow);
    C.MoveTo(W - 2, 2);
    C.LineTo(W - 2, H - 2);
    C.LineTo(1, H - 2);

    auto DrawGlyph = [&C](TBitmap* Glyph, int32_t X, int32_t Y) {
        if (!Glyph || Glyph->Empty())
            return;
        TBitmap Copy; // BrushCopy: the glyph without its transparent colour
        Copy.Assign(Glyph);
        Copy.SetTransparent(true);
        C.Draw(X, Y, &Copy);
    };
    const int32_t d = TopDown ? 2 : 1;
    DrawGlyph(FUpBitmap.get(), RoundToInt32(W / 4.0L - FUpBitmap->Width() / 2.0L) + d,
              RoundToInt32(H / 4.0L - FUpBitmap->Height() / 2.0L) + d);
    DrawGlyph(FDownBitmap.get(), RoundToInt32(3 * W / 4.0L - FDownBitmap->Width() / 2.0L) - 1,
              RoundToInt32(3 * H / 4.0L - FDownBitmap->Height() / 2.0L) - 1);
}

void TKvSpinButton::DrawAllBitmaps()
{
    DrawBitmap(*FImages[sbNotDown], sbNotDown);
    DrawBitmap(*FImages[sbTopDown], sbTopDown);
    DrawBitmap(*FImages[sbBottomDown], sbBottomDown);
    FInvalidate = false;
}

void TKvSpinButton::PaintOn(TCanvas& Canvas)
{
    if (!Enabled())
        FDown = sbNotDown;
    if (FInvalidate || FImages[0]->Width() != Width() || FImages[0]->Height() != Height())
        DrawAllBitmaps();
    Canvas.Draw(0, 0, FImages[FDown].get());
}

void TKvSpinButton::Paint() { PaintOn(*Canvas()); }

// ---- TKvUpDown -----------------------------------------------------------------------

TKvUpDown::TKvUpDown(QWidget* AOwner) : QWidget(AOwner)
{
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    FUp = new QToolButton(this);
    FDown = new QToolButton(this);
    for (QToolButton* B : {FUp, FDown}) {
        B->setAutoRepeat(true);
        B->setFocusPolicy(Qt::NoFocus);
        B->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        Layout->addWidget(B);
    }
    FUp->setArrowType(Qt::UpArrow);
    FDown->setArrowType(Qt::DownArrow);
    QObject::connect(FUp, &QToolButton::clicked, [this] { ArrowPressed(btNext); });
    QObject::connect(FDown, &QToolButton::clicked, [this] { ArrowPressed(btPrev); });
}

void TKvUpDown::ArrowPressed(TUDBtnType Button)
{
    const int32_t Pos = std::clamp(FPosition + (Button == btNext ? 1 : -1), FMin, FMax);
    FPosition = Pos;
    ThumbPosition(Pos);
}

void TKvUpDown::ThumbPosition(int32_t Pos)
{
    if (FChanging)
        return;
    FChanging = true;
    struct TReset {
        bool& Flag;
        ~TReset() { Flag = false; }
    } Reset{FChanging};
    if (Pos > 0 && OnClick)
        OnClick(this, btNext);
    else if (Pos < 0 && OnClick)
        OnClick(this, btPrev);
    SetPosition(0);
}

// ---- TKvSpinEdit ---------------------------------------------------------------------

TKvSpinEdit::TKvSpinEdit(QWidget* AOwner) : QLineEdit(AOwner)
{
    setText("0");
    QObject::connect(this, &QLineEdit::textChanged, [this] { Change(); });
    RecreateButton();
    ApplyAlignment();
}

TKvSpinEdit::~TKvSpinEdit()
{
    FChanging = true;
    // Qt would free the children after this class is gone; free them while it stands,
    // so nothing they do on the way out reaches a half-destroyed edit.
    delete FButton;
    delete FUpDown;
}

Extended TKvSpinEdit::CheckValue(Extended NewValue) const
{
    if (FMinValue == FMaxValue)
        return NewValue;
    if (NewValue < FMinValue)
        return FMinValue;
    if (NewValue > FMaxValue)
        return FMaxValue;
    return NewValue;
}

Extended TKvSpinEdit::Value()
{
    const std::string T = Text();
    if (FValueType == vtFloat) {
        Extended V;
        return TryStrToFloat(T, V) ? V : FMinValue;
    }
    int32_t I;
    const std::string S = FValueType == vtHex ? "$" + T : T;
    try {
        I = StrToInt(S);
    } catch (const EConvertError&) {
        return TruncToInt32(FMinValue);
    }
    return I;
}

void TKvSpinEdit::SetValue(Extended NewValue)
{
    const Extended V = CheckValue(NewValue);
    switch (FValueType) {
    case vtFloat: SetText(FloatToStrFixed(V, FDecimal)); break;
    // Integer and hex text holds what the 32-bit reader takes back: the value is
    // saturated to that range and hex is the two's complement ("FFFFFFFF" is -1).
    case vtHex: SetText(IntToHex(RoundToInt32(V), 1)); break;
    case vtInteger: SetText(IntToStr(RoundToInt32(V))); break;
    }
}

void TKvSpinEdit::SetDecimal(uint8_t Value)
{
    if (Value == FDecimal)
        return;
    const Extended V = this->Value();
    FDecimal = Value;
    SetValue(V);
}

void TKvSpinEdit::SetValueType(TValueType Value)
{
    if (Value == FValueType)
        return;
    // The text is read under the type it was written in, then written in the new one.
    const Extended V = this->Value();
    FValueType = Value;
    SetValue(V);
    if (FValueType != vtFloat) {
        FIncrement = std::nearbyint(FIncrement);
        if (FIncrement == 0)
            FIncrement = 1;
    }
}

void TKvSpinEdit::SetButtonKind(TSpinButtonKind Value)
{
    // Qt always offers the up-down control, so the kind asked for is the kind used.
    if (Value == FButtonKind)
        return;
    FButtonKind = Value;
    RecreateButton();
}

void TKvSpinEdit::SetArrowKeys(bool Value)
{
    FArrowKeys = Value;
    ResizeButton();
}

void TKvSpinEdit::SetAlignment(TAlignment Value)
{
    if (Value == FAlignment)
        return;
    FAlignment = Value;
    ApplyAlignment();
}

void TKvSpinEdit::SetCtl3D(bool Value)
{
    if (Value == FCtl3D)
        return;
    FCtl3D = Value;
    ResizeButton();
    SetEditRect();
}

void TKvSpinEdit::SetRightToLeft(bool Value)
{
    setLayoutDirection(Value ? Qt::RightToLeft : Qt::LeftToRight);
    ResizeButton();
    SetEditRect();
}

void TKvSpinEdit::ApplyAlignment()
{
    // Qt mirrors left and right for right-to-left reading, as ES_LEFT/ES_RIGHT swap.
    switch (FAlignment) {
    case taLeftJustify: setAlignment(Qt::AlignLeft | Qt::AlignVCenter); break;
    case taRightJustify: setAlignment(Qt::AlignRight | Qt::AlignVCenter); break;
    case taCenter: setAlignment(Qt::AlignHCenter | Qt::AlignVCenter); break;
    }
}

void TKvSpinEdit::RecreateButton()
{
    delete FButton;
    FButton = nullptr;
    delete FUpDown;
    FUpDown = nullptr;
    if (FButtonKind == bkDiagonal) {
        FButton = new TKvSpinButton(this);
        FButton->SetFocusControl(this);
        FButton->OnTopClick = [this](TObject* Sender) { UpClick(Sender); };
        FButton->OnBottomClick = [this](TObject* Sender) { DownClick(Sender); };
        FButton->setEnabled(isEnabled());
        FButton->show();
    } else {
        FUpDown = new TKvUpDown(this);
        FUpDown->OnClick = [this](TObject* Sender, TUDBtnType B) { UpDownClick(Sender, B); };
        FUpDown->setEnabled(isEnabled());
        FUpDown->show();
    }
    ResizeButton();
    SetEditRect();
}

int32_t TKvSpinEdit::FrameWidth() const
{
    if (!hasFrame())
        return 0;
    return FCtl3D ? 2 : 1;
}

int32_t TKvSpinEdit::GetButtonWidth() const
{
    if (FUpDown)
        return FUpDown->width();
    if (FButton)
        return FButton->Width();
    return std::min(ScrollBarExtent(), 15);
}

void TKvSpinEdit::ResizeButton()
{
    const int32_t W = width(), H = height(), F = FrameWidth();
    if (FUpDown) {
        const int32_t UW = std::min(ScrollBarExtent(), 15);
        const int32_t X = RightToLeft() ? F : W - F - UW;
        FUpDown->setGeometry(X, F, UW, std::max(0, H - 2 * F));
    } else if (FButton) {
        // The button's holder, in the edit's client coordinates (the frame's inside).
        TRect R;
        if (FCtl3D && hasFrame())
            R = RightToLeft() ? Bounds(-1, -1, H - 3, H - 3) : Bounds(W - H - 1, -1, H - 3, H - 3);
        else
            R = RightToLeft() ? Bounds(0, 0, H, H) : Bounds(W - H, 0, H, H);
        FButton->SetBounds(R.Left + F, R.Top + F, std::max(0, R.Width()), std::max(0, R.Height()));
    }
}

std::pair<int32_t, int32_t> TKvSpinEdit::TextMargins() const
{
    const int32_t BW = GetButtonWidth();
    return RightToLeft() ? std::pair<int32_t, int32_t>{BW + 1, 1} : std::pair<int32_t, int32_t>{0, BW + 2};
}

void TKvSpinEdit::SetEditRect()
{
    const auto [L, R] = TextMargins();
    setTextMargins(L, 0, R, 0);
}

int32_t TKvSpinEdit::GetMinHeight() const
{
    // The font's text height, four single borders (SM_CYBORDER = 1) and one more.
    return QFontMetrics(font()).height() + 4 * 1 + 1;
}

void TKvSpinEdit::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight)
{
    setGeometry(ALeft, ATop, std::max(0, AWidth), std::max(AHeight, GetMinHeight()));
    ResizeButton();
    SetEditRect();
}

void TKvSpinEdit::resizeEvent(QResizeEvent* Event)
{
    QLineEdit::resizeEvent(Event);
    const int32_t MinHeight = GetMinHeight();
    if (height() < MinHeight) {
        resize(width(), MinHeight);
        return;
    }
    ResizeButton();
    SetEditRect();
}

void TKvSpinEdit::changeEvent(QEvent* Event)
{
    QLineEdit::changeEvent(Event);
    switch (Event->type()) {
    case QEvent::FontChange:
    case QEvent::LayoutDirectionChange:
        ResizeButton();
        SetEditRect();
        break;
    case QEvent::EnabledChange:
        if (FButton)
            FButton->setEnabled(isEnabled());
        if (FUpDown)
            FUpDown->setEnabled(isEnabled());
        break;
    default: break;
    }
}

void TKvSpinEdit::Change()
{
    if (!FChanging && OnChange)
        OnChange(this);
}

void TKvSpinEdit::Step(Extended Delta, const TNotifyEvent& Event)
{
    if (isReadOnly()) {
        MessageBeep(0);
        return;
    }
    FChanging = true;
    const std::string Old = Text();
    try {
        SetValue(Value() + Delta);
    } catch (...) {
        FChanging = false;
        throw;
    }
    FChanging = false;
    if (!SameText(Old, Text())) {
        setModified(true);
        Change();
    }
    if (Event)
        Event(this);
}

void TKvSpinEdit::UpClick(TObject*) { Step(FIncrement, OnTopClick); }
void TKvSpinEdit::DownClick(TObject*) { Step(-FIncrement, OnBottomClick); }

void TKvSpinEdit::UpDownClick(TObject* Sender, TUDBtnType Button)
{
    if (isEnabled() && focusPolicy() != Qt::NoFocus && !hasFocus())
        setFocus(Qt::OtherFocusReason);
    if (Button == btNext)
        UpClick(Sender);
    else
        DownClick(Sender);
}

bool TKvSpinEdit::IsValidChar(char Key)
{
    const bool Control = uint8_t(Key) < 32;
    if (!FEditorEnabled)
        return Control && Key != char(VK_BACK);
    bool Valid = Key == '+' || Key == '-' || (Key >= '0' && Key <= '9');
    const std::string T = Text();
    if (FValueType == vtFloat) {
        if (T.find(GDecimalSeparator) == std::string::npos && Key == GDecimalSeparator)
            Valid = true;
        if (UpperCase(T).find('E') == std::string::npos && (Key == 'E' || Key == 'e'))
            Valid = true;
    } else if (FValueType == vtHex) {
        if ((Key >= 'A' && Key <= 'F') || (Key >= 'a' && Key <= 'f'))
            Valid = true;
    }
    return Valid || Control;
}

void TKvSpinEdit::KeyDown(uint16_t& Key, TShiftState)
{
    if (!FArrowKeys)
        return;
    if (Key == VK_UP) {
        UpClick(this);
        Key = 0;
    } else if (Key == VK_DOWN) {
        DownClick(this);
        Key = 0;
    }
}

void TKvSpinEdit::KeyPress(char& Key)
{
    if (!IsValidChar(Key)) {
        Key = 0;
        MessageBeep(0);
    }
    if (Key == char(VK_RETURN) || Key == char(VK_ESCAPE)) {
        const uint16_t VK = Key == char(VK_RETURN) ? VK_RETURN : VK_ESCAPE;
        const bool Taken = SendDialogKey(this, VK, 0);
        if (Key == char(VK_RETURN) || Taken)
            Key = 0;
    }
}

void TKvSpinEdit::CutToClipboard()
{
    if (EditAllowed())
        cut();
}

void TKvSpinEdit::PasteFromClipboard()
{
    if (EditAllowed())
        paste();
}

namespace {

uint16_t VirtualKey(int QtKey)
{
    switch (QtKey) {
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Down: return VK_DOWN;
    default: return 0;
    }
}

} // namespace

void TKvSpinEdit::keyPressEvent(QKeyEvent* Event)
{
    if (uint16_t VK = VirtualKey(Event->key())) {
        KeyDown(VK, ShiftFromQtModifiers(Event->modifiers()));
        if (VK == 0) {
            Event->accept();
            return;
        }
    }
    if (Event->matches(QKeySequence::Cut)) {
        CutToClipboard();
        Event->accept();
        return;
    }
    if (Event->matches(QKeySequence::Paste)) {
        PasteFromClipboard();
        Event->accept();
        return;
    }
    const QString T = Event->text();
    if (T.size() == 1 && !(Event->modifiers() & Qt::ControlModifier)) {
        const char16_t U = T[0].unicode();
        char Key = U < 128 ? char(U) : char(0x7F); // nothing beyond ASCII is a digit
        KeyPress(Key);
        if (Key == 0) {
            Event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(Event);
}

void TKvSpinEdit::focusInEvent(QFocusEvent* Event)
{
    QLineEdit::focusInEvent(Event);
    if (FAutoSelect && !(QGuiApplication::mouseButtons() & Qt::LeftButton))
        selectAll();
}

void TKvSpinEdit::focusOutEvent(QFocusEvent* Event)
{
    QLineEdit::focusOutEvent(Event);
    const Extended V = Value();
    if (CheckValue(V) != V)
        SetValue(V);
}

void TKvSpinEdit::contextMenuEvent(QContextMenuEvent* Event)
{
    std::unique_ptr<QMenu> Menu(createStandardContextMenu());
    for (QAction* A : Menu->actions())
        if (A->objectName() == "edit-cut" || A->objectName() == "edit-paste")
            A->setEnabled(A->isEnabled() && EditAllowed());
    Menu->exec(Event->globalPos());
}

} // namespace kv
