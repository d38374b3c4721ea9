#include "widgets/KVCtrls.h"

#include "formats/CtrlUtils.h"
#include "formats/MaxMin.h"
#include "platform/KvDrawText.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QShortcut>

#include <algorithm>

namespace kv {

namespace {

// This platform always draws the new-style controls.
constexpr bool NewStyleControls = true;
// Captions longer than this are cut: what the platform's fixed caption buffers held.
constexpr size_t MaxCaption = 255;

TRect OffsetRect(const TRect& R, int32_t DX, int32_t DY)
{
    return Rect(R.Left + DX, R.Top + DY, R.Right + DX, R.Bottom + DY);
}

TRect UnionRect(const TRect& A, const TRect& B)
{
    return Rect(std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
                std::max(A.Bottom, B.Bottom));
}

std::string CutCaption(const std::string& S)
{
    if (S.size() <= MaxCaption)
        return S;
    size_t n = MaxCaption;
    while (n > 0 && (uint8_t(S[n]) & 0xC0) == 0x80)
        --n;
    return S.substr(0, n);
}

uint32_t AlignFlags(TAlignment A)
{
    switch (A) {
    case taRightJustify: return DT_RIGHT;
    case taCenter: return DT_CENTER;
    default: return DT_LEFT;
    }
}

void FillSolid(TCanvas& C, const TRect& R, TColor Color)
{
    C.Brush()->SetStyle(bsSolid);
    C.Brush()->SetColor(Color);
    C.FillRect(R);
}

// The dotted rectangle of DrawFocusRect: every other pixel of the outline inverted.
void DrawFocusRect(TCanvas& C, const TRect& R)
{
    auto invert = [&](int32_t X, int32_t Y) {
        if (((X + Y) & 1) == 0)
            C.SetPixels(X, Y, ColorToRGB(C.Pixels(X, Y)) ^ 0xFFFFFF);
    };
    for (int32_t x = R.Left; x < R.Right; ++x) {
        invert(x, R.Top);
        invert(x, R.Bottom - 1);
    }
    for (int32_t y = R.Top + 1; y < R.Bottom - 1; ++y) {
        invert(R.Left, y);
        invert(R.Right - 1, y);
    }
}

bool ApplicationActive() { return QGuiApplication::applicationState() == Qt::ApplicationActive; }

// Binds Alt+accelerator of Caption to Activate through one shortcut child of Owner.
void BindAccelerator(QWidget* Owner, QShortcut*& Holder, const std::string& Caption,
                     const std::function<void(char32_t)>& Activate)
{
    delete Holder;
    Holder = nullptr;
    char32_t key = GetAccelChar(Caption);
    if (key == 0)
        return;
    QString k = QString::fromUcs4(&key, 1);
    Holder = new QShortcut(QKeySequence(QStringLiteral("Alt+") + k.toUpper()), Owner);
    Holder->setContext(Qt::WindowShortcut);
    QObject::connect(Holder, &QShortcut::activated, Owner, [Activate, key] { SafeCall([&] { Activate(key); }); });
}

// One 1-pixel frame: top and left edges in TopLeft, bottom and right edges in
// BottomRight (which also takes the top-right and bottom-left corners); R shrinks by 1.
void FrameEdges(TCanvas& C, TRect& R, TColor TopLeft, TColor BottomRight)
{
    if (R.Width() <= 0 || R.Height() <= 0)
        return;
    FillSolid(C, Rect(R.Left, R.Top, R.Right - 1, R.Top + 1), TopLeft);
    FillSolid(C, Rect(R.Left, R.Top, R.Left + 1, R.Bottom - 1), TopLeft);
    FillSolid(C, Rect(R.Right - 1, R.Top, R.Right, R.Bottom), BottomRight);
    FillSolid(C, Rect(R.Left, R.Bottom - 1, R.Right, R.Bottom), BottomRight);
    R = Rect(R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1);
}

// The button face frames; returns the glyph area.
TRect DrawButtonFrame(TCanvas& C, const TRect& Client, bool Pressed, bool NewLook, bool Flat)
{
    TRect R = Client;
    if (!Pressed) {
        if (Flat)
            FrameEdges(C, R, clBtnHighlight, NewLook ? clBtnShadow : clWindowFrame);
        else if (NewLook) {
            FrameEdges(C, R, clBtnHighlight, clWindowFrame);
            FrameEdges(C, R, clBtnFace, clBtnShadow);
        } else {
            FrameEdges(C, R, clWindowFrame, clWindowFrame);
            FrameEdges(C, R, clBtnHighlight, clBtnShadow);
        }
    } else if (Flat) {
        FrameEdges(C, R, clWindowFrame, clBtnHighlight);
    } else if (NewLook) {
        FrameEdges(C, R, clWindowFrame, clBtnHighlight);
        FrameEdges(C, R, clBtnShadow, clBtnFace);
    } else {
        FrameEdges(C, R, clWindowFrame, clWindowFrame);
        if (R.Width() > 0 && R.Height() > 0) {
            FillSolid(C, Rect(R.Left, R.Top, R.Left + 1, R.Bottom), clBtnShadow);
            FillSolid(C, Rect(R.Left, R.Top, R.Right, R.Top + 1), clBtnShadow);
        }
    }
    return Rect(R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1);
}

// The platform's 1-pixel checker of clBtnFace and clBtnHighlight, aligned to the
// canvas origin: (x + y) even takes the face colour.
void FillChecker(TCanvas& C, const TRect& R)
{
    if (R.Width() <= 0 || R.Height() <= 0)
        return;
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(R.Width(), R.Height());
    const TColor face = ColorToRGB(clBtnFace), light = ColorToRGB(clBtnHighlight);
    for (int32_t y = 0; y < R.Height(); ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int32_t x = 0; x < R.Width(); ++x) {
            TColor c = ((R.Left + x + R.Top + y) & 1) == 0 ? face : light;
            row[3 * x] = GetBValue(c);
            row[3 * x + 1] = GetGValue(c);
            row[3 * x + 2] = GetRValue(c);
        }
    }
    C.Draw(R.Left, R.Top, &b);
}

// Caption lines shortened to Room each, joined again without trailing blanks or breaks.
std::string ShortenCaption(TCanvas& C, const std::string& Caption, int32_t Room)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < Caption.size(); ++i) {
        char c = Caption[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < Caption.size() && Caption[i + 1] == '\n')
                ++i;
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string cut;
        EllipsizeToWidth(lines[i], C, Room, cut);
        if (i > 0)
            out += "\r\n";
        out += cut;
    }
    while (!out.empty() && uint8_t(out.back()) <= ' ')
        out.pop_back();
    return out;
}

// ---- Glyph cache ownership --------------------------------------------------------

// The cache lives while any TKvButtonGlyph does: created with the first, freed with
// the last. Owned here, by this unit.
std::unique_ptr<TGlyphCache> GCache;
int32_t GGlyphCount = 0;

} // namespace

TGlyphCache* GlyphCache() { return GCache.get(); }

// ---- Shadow text ----------------------------------------------------------------------

int32_t DrawShadowText(TCanvas& Canvas, const std::string& Text, TRect& R, uint32_t Format, uint8_t ShadowSize,
                       TColor ShadowColor, TShadowPosition ShadowPos)
{
    const int32_t s = ShadowSize;
    TRect shadow = R;
    switch (ShadowPos) {
    case spLeftTop: shadow = OffsetRect(R, -s, -s); break;
    case spLeftBottom: shadow = OffsetRect(R, -s, s); break;
    case spRightBottom: shadow = OffsetRect(R, s, s); break;
    case spRightTop: shadow = OffsetRect(R, s, -s); break;
    }
    TFont* font = Canvas.Font();
    const TColor color = font->Color();
    font->SetColor(ShadowColor);
    DrawText(Canvas, Text, shadow, Format);
    font->SetColor(color);
    const int32_t height = DrawText(Canvas, Text, R, Format);
    R = UnionRect(R, shadow);
    return height + s;
}

// ---- Hot tracking -----------------------------------------------------------------------

void TKvTrackingControl::SetTransparent(bool Value)
{
    if (Value == FTransparent)
        return;
    FTransparent = Value;
    // Opaque controls cover their whole rectangle; a transparent one lets the parent show.
    setAttribute(Qt::WA_OpaquePaintEvent, !Value);
    setAttribute(Qt::WA_NoSystemBackground, !Value);
    Invalidate();
}

void TKvTrackingControl::paintEvent(QPaintEvent* Event)
{
    if (!FTransparent) {
        TCustomControl::paintEvent(Event);
        return;
    }
    Canvas();
    CanvasImage().fill(Qt::transparent);
    Paint();
    QPainter p(this);
    p.drawImage(0, 0, CanvasImage());
}

void TKvTrackingControl::SetMouseInControl(bool Value)
{
    if (Value == FMouseInControl)
        return;
    FMouseInControl = Value;
    MouseInControlChanged();
    if (Value) {
        if (OnMouseEnter)
            OnMouseEnter(this);
    } else if (OnMouseLeave) {
        OnMouseLeave(this);
    }
}

void TKvTrackingControl::UpdateTracking()
{
    if (MouseHeld() && FMouseInControl)
        return;
    const bool inside =
        Enabled() && isVisible() && ApplicationActive() && QApplication::widgetAt(QCursor::pos()) == this;
    SetMouseInControl(inside);
}

void TKvTrackingControl::MouseEnter()
{
    if (Enabled())
        SetMouseInControl(true);
}

void TKvTrackingControl::MouseLeave()
{
    if (MouseHeld())
        return;
    SetMouseInControl(false);
}

void TKvTrackingControl::EnabledChanged()
{
    UpdateTracking();
    Invalidate();
}

void TKvTrackingControl::showEvent(QShowEvent* Event)
{
    TCustomControl::showEvent(Event);
    UpdateTracking();
}

void TKvTrackingControl::hideEvent(QHideEvent* Event)
{
    TCustomControl::hideEvent(Event);
    SetMouseInControl(false);
}

// ---- Label ----------------------------------------------------------------------------

TKvCustomLabel::TKvCustomLabel(QWidget* AOwner) : TKvTrackingControl(AOwner), FFont(std::make_unique<TFont>())
{
    FFont->OnChange = [this](TObject*) { FontChanged(); };
    SetBounds(0, 0, 65, 17);
    QObject::connect(qApp, &QApplication::focusChanged, this,
                     [this](QWidget* Old, QWidget* Now) { FocusChanged(Old, Now); });
}

TKvCustomLabel::~TKvCustomLabel() = default;

void TKvCustomLabel::SetCaption(const std::string& Value)
{
    if (Value == FCaption)
        return;
    FCaption = Value;
    UpdateAccelerator();
    AdjustBounds();
    Invalidate();
}

void TKvCustomLabel::FontChanged()
{
    AdjustBounds();
    Invalidate();
}

void TKvCustomLabel::SetAlignment(TAlignment Value)
{
    if (Value == FAlignment)
        return;
    FAlignment = Value;
    Invalidate();
}

void TKvCustomLabel::SetAutoSize(bool Value)
{
    if (Value == FAutoSize)
        return;
    FAutoSize = Value;
    AdjustBounds();
}

void TKvCustomLabel::SetLayout(TTextLayout Value)
{
    if (Value == FLayout)
        return;
    FLayout = Value;
    Invalidate();
}

void TKvCustomLabel::SetShadowColor(TColor Value)
{
    if (Value == FShadowColor)
        return;
    FShadowColor = Value;
    Invalidate();
}

void TKvCustomLabel::SetShadowSize(uint8_t Value)
{
    if (Value == FShadowSize)
        return;
    FShadowSize = Value;
    AdjustBounds();
    Invalidate();
}

void TKvCustomLabel::SetShadowPos(TShadowPosition Value)
{
    if (Value == FShadowPos)
        return;
    FShadowPos = Value;
    Invalidate();
}

void TKvCustomLabel::SetShowAccelChar(bool Value)
{
    if (Value == FShowAccelChar)
        return;
    FShowAccelChar = Value;
    UpdateAccelerator();
    Invalidate();
}

void TKvCustomLabel::SetShowFocus(bool Value)
{
    if (Value == FShowFocus)
        return;
    FShowFocus = Value;
    Invalidate();
}

void TKvCustomLabel::SetWordWrap(bool Value)
{
    if (Value == FWordWrap)
        return;
    FWordWrap = Value;
    AdjustBounds();
    Invalidate();
}

void TKvCustomLabel::SetFocusControl(QWidget* Value)
{
    FFocusControl = Value;
    FFocused = Value && Value->hasFocus();
    if (FShowFocus)
        Invalidate();
}

void TKvCustomLabel::FocusChanged(QWidget* Old, QWidget* Now)
{
    if (!FFocusControl)
        return;
    const bool focused = Now == FFocusControl.data();
    if (focused == FFocused && Old != FFocusControl.data())
        return;
    FFocused = focused;
    if (FShowFocus)
        Invalidate();
}

uint32_t TKvCustomLabel::AlignmentFlags() const
{
    TAlignment a = FAlignment;
    if (layoutDirection() == Qt::RightToLeft && a != taCenter)
        a = a == taLeftJustify ? taRightJustify : taLeftJustify;
    return AlignFlags(a) | (layoutDirection() == Qt::RightToLeft ? DT_RTLREADING : 0);
}

void TKvCustomLabel::DoDrawText(TCanvas& ACanvas, TRect& R, uint32_t Flags)
{
    std::string text = FCaption;
    // An empty caption still has the height of a line.
    if ((Flags & DT_CALCRECT) && (text.empty() || (FShowAccelChar && text == "&")))
        text += " ";
    if (!FShowAccelChar)
        Flags |= DT_NOPREFIX;
    ACanvas.SetFont(FFont.get());
    if (!Enabled()) {
        // The engraved look: grey text over a highlight, at least one pixel of it.
        ACanvas.Font()->SetColor(clGrayText);
        uint8_t size = FShadowSize;
        TShadowPosition pos = FShadowPos;
        if (size == 0 && NewStyleControls) {
            size = 1;
            pos = spRightBottom;
        }
        DrawShadowText(ACanvas, text, R, Flags, size, clBtnHighlight, pos);
    } else {
        DrawShadowText(ACanvas, text, R, Flags, FShadowSize, FShadowColor, FShadowPos);
    }
}

void TKvCustomLabel::Paint()
{
    TCanvas& C = *Canvas();
    if (!Transparent())
        FillSolid(C, ClientRect(), Color());
    C.Brush()->SetStyle(bsClear);
    TRect R = ClientRect();
    R.Left += FLeftMargin + 1;
    R.Right -= FRightMargin + 1;
    const uint32_t flags = DT_EXPANDTABS | (FWordWrap ? DT_WORDBREAK : 0) | AlignmentFlags();
    if (FLayout != tlTop) {
        TRect calc = R;
        DoDrawText(C, calc, flags | DT_CALCRECT);
        const int32_t dy = FLayout == tlBottom ? Height() - calc.Bottom : (Height() - calc.Bottom) / 2;
        R = OffsetRect(R, 0, dy);
    }
    TRect text = R;
    DoDrawText(C, text, flags);
    if (FShowFocus && FFocusControl && FFocused && !Designing()) {
        TRect calc = R;
        DoDrawText(C, calc, flags | DT_CALCRECT);
        // The measured rectangle starts at the left; move it to where alignment put it.
        int32_t w = calc.Width();
        if (flags & DT_CENTER)
            calc.Left = (R.Left + R.Right - w) / 2;
        else if (flags & DT_RIGHT)
            calc.Left = R.Right - w;
        calc.Right = calc.Left + w;
        DrawFocusRect(C, Rect(calc.Left - 1, calc.Top, calc.Right + 1, calc.Bottom));
    }
}

void TKvCustomLabel::AdjustBounds()
{
    if (!FAutoSize || Loading())
        return;
    TCanvas screen; // measuring only: an unattached canvas measures like a screen DC
    TRect R = ClientRect();
    DoDrawText(screen, R, DT_EXPANDTABS | DT_CALCRECT | (FWordWrap ? DT_WORDBREAK : 0));
    int32_t x = Left();
    TAlignment a = FAlignment;
    if (layoutDirection() == Qt::RightToLeft && a != taCenter)
        a = a == taLeftJustify ? taRightJustify : taLeftJustify;
    if (a == taRightJustify)
        x += Width() - R.Right;
    SetBounds(x, Top(), R.Right, R.Bottom);
}

void TKvCustomLabel::UpdateAccelerator()
{
    BindAccelerator(this, FAccelerator, FShowAccelChar ? FCaption : std::string(),
                    [this](char32_t Key) { DialogChar(Key); });
}

bool TKvCustomLabel::DialogChar(char32_t Key)
{
    if (!FFocusControl || !Enabled() || !FShowAccelChar || !IsAccel(Key, FCaption))
        return false;
    QWidget* target = FFocusControl;
    if (!target->isEnabled() || target->focusPolicy() == Qt::NoFocus)
        return false;
    target->setFocus(Qt::ShortcutFocusReason);
    return true;
}

void TKvCustomLabel::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (Button == mbLeft)
        FPressed = true;
    TCustomControl::MouseDown(Button, Shift, X, Y);
}

void TKvCustomLabel::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (Button == mbLeft)
        FPressed = false;
    TCustomControl::MouseUp(Button, Shift, X, Y);
    if (MouseInControl() && !PtInRect(ClientRect(), Point(X, Y)))
        SetMouseInControl(false);
}

// ---- Glyph list -----------------------------------------------------------------------

TGlyphList::TGlyphList(int32_t AWidth, int32_t AHeight) : FWidth(AWidth), FHeight(AHeight) {}
TGlyphList::~TGlyphList() = default;

int32_t TGlyphList::AddMasked(TBitmap& Image, TColor MaskColor)
{
    auto copy = std::make_unique<TBitmap>();
    copy->SetPixelFormat(pf24bit);
    copy->SetSize(FWidth, FHeight);
    for (int32_t y = 0; y < FHeight; ++y)
        for (int32_t x = 0; x < FWidth; ++x)
            copy->SetPixelColor(x, y, Image.PixelColor(x, y) < 0 ? ColorToRGB(MaskColor) : Image.PixelColor(x, y));
    size_t slot = 0;
    while (slot < FSlots.size() && FSlots[slot].Image)
        ++slot;
    if (slot == FSlots.size())
        FSlots.emplace_back();
    FSlots[slot].Image = std::move(copy);
    FSlots[slot].MaskColor = ColorToRGB(MaskColor);
    ++FCount;
    return int32_t(slot);
}

void TGlyphList::Delete(int32_t Index)
{
    if (Index < 0 || size_t(Index) >= FSlots.size() || !FSlots[size_t(Index)].Image)
        return;
    FSlots[size_t(Index)].Image.reset();
    --FCount;
}

TBitmap* TGlyphList::Image(int32_t Index) const
{
    if (Index < 0 || size_t(Index) >= FSlots.size())
        return nullptr;
    return FSlots[size_t(Index)].Image.get();
}

TColor TGlyphList::MaskColor(int32_t Index) const
{
    if (!Image(Index))
        return clNone;
    return FSlots[size_t(Index)].MaskColor;
}

void TGlyphList::Draw(TCanvas& Canvas, int32_t X, int32_t Y, int32_t Index, bool Enabled)
{
    TBitmap* image = Image(Index);
    if (!image)
        return;
    const TColor mask = FSlots[size_t(Index)].MaskColor;
    if (Enabled) {
        DrawBitmapKeyed(Canvas, *image, mask, X, Y, FWidth, FHeight, 0, 0, FWidth, FHeight);
        return;
    }
    // The silhouette of the image's opaque pixels: highlight one pixel right and down,
    // shadow over it, the masked pixels left alone.
    std::unique_ptr<TBitmap> dis = MakeDisabledGlyphEx(*image, mask, mask, clBtnHighlight, clBtnShadow, true);
    DrawBitmapKeyed(Canvas, *dis, mask, X, Y, FWidth, FHeight, 0, 0, FWidth, FHeight);
}

// ---- Glyph cache ----------------------------------------------------------------------

TGlyphCache::~TGlyphCache() = default;

TGlyphList* TGlyphCache::GetList(int32_t AWidth, int32_t AHeight)
{
    for (auto& l : FLists)
        if (l->Width() == AWidth && l->Height() == AHeight)
            return l.get();
    FLists.push_back(std::make_unique<TGlyphList>(AWidth, AHeight));
    return FLists.back().get();
}

void TGlyphCache::ReturnList(TGlyphList* List)
{
    if (!List || List->Count() != 0)
        return;
    FLists.erase(std::remove_if(FLists.begin(), FLists.end(), [&](const auto& l) { return l.get() == List; }),
                 FLists.end());
}

// ---- Button glyph ---------------------------------------------------------------------

TKvButtonGlyph::TKvButtonGlyph() : FOriginal(std::make_unique<TBitmap>())
{
    if (GGlyphCount++ == 0)
        GCache = std::make_unique<TGlyphCache>();
}

TKvButtonGlyph::~TKvButtonGlyph()
{
    Invalidate();
    if (--GGlyphCount == 0)
        GCache.reset();
}

void TKvButtonGlyph::Invalidate()
{
    if (FGlyphList) {
        for (int32_t& i : FIndexs)
            if (i != -1)
                FGlyphList->Delete(i);
        if (GCache)
            GCache->ReturnList(FGlyphList);
        FGlyphList = nullptr;
    }
    FIndexs.fill(-1);
}

void TKvButtonGlyph::GlyphChanged()
{
    Invalidate();
    if (OnChange)
        OnChange(this);
}

void TKvButtonGlyph::SetGlyph(TBitmap* Value)
{
    Invalidate();
    if (Value && !Value->Empty()) {
        FOriginal->Assign(Value);
        FTransparentColor = ColorToRGB(Value->TransparentColor()) & 0xFFFFFF;
        const int32_t w = Value->Width(), h = Value->Height();
        if (w % h == 0) {
            int32_t n = w / h;
            if (n > 5)
                n = 1;
            FNumGlyphs = n;
        }
    } else {
        // An empty glyph clears the images; nothing is drawn for it.
        FOriginal = std::make_unique<TBitmap>();
        FTransparentColor = clFuchsia;
    }
    GlyphChanged();
}

void TKvButtonGlyph::SetNumGlyphs(TKvNumGlyphs Value)
{
    if (Value <= 0)
        return;
    if (Value > 5)
        Value = 5;
    if (Value == FNumGlyphs)
        return;
    FNumGlyphs = Value;
    GlyphChanged();
}

TSize TKvButtonGlyph::ImageSize() const
{
    if (FOriginal->Empty())
        return {};
    return TSize{FOriginal->Width() / FNumGlyphs, FOriginal->Height()};
}

int32_t TKvButtonGlyph::CreateButtonGlyph(TButtonState State)
{
    // Images the glyph does not carry fall back: down and exclusive to up; disabled and
    // inactive are made from up.
    if ((State == bsDown && FNumGlyphs < 3) || (State == bsExclusive && FNumGlyphs < 4))
        State = bsUp;
    int32_t& index = FIndexs[State];
    if (index != -1)
        return index;
    const TSize size = ImageSize();
    if (size.cx <= 0 || size.cy <= 0)
        return -1;
    if (!FGlyphList)
        FGlyphList = GCache->GetList(size.cx, size.cy);
    // The state's own image, or the up image to derive one from.
    const int32_t source =
        (State == bsDisabled && FNumGlyphs < 2) || (State == bsInactive && FNumGlyphs < 5) ? 0 : int32_t(State);
    TBitmap image;
    image.SetPixelFormat(pf24bit);
    image.SetSize(size.cx, size.cy);
    for (int32_t y = 0; y < size.cy; ++y)
        for (int32_t x = 0; x < size.cx; ++x)
            image.SetPixelColor(x, y, FOriginal->PixelColor(source * size.cx + x, y));
    if (State == bsDisabled && FNumGlyphs < 2) {
        std::unique_ptr<TBitmap> dis = MakeDisabledGlyph(image, FTransparentColor);
        index = FGlyphList->AddMasked(*dis, clBtnFace);
    } else if (State == bsInactive && FNumGlyphs < 5) {
        // Grey by intensity, (R*61 + G*174 + B*21) shr 8, sparing the key and the face.
        const TColor face = ColorToRGB(clBtnFace);
        for (int32_t y = 0; y < size.cy; ++y)
            for (int32_t x = 0; x < size.cx; ++x) {
                const TColor c = image.PixelColor(x, y);
                if (c == FTransparentColor || c == face)
                    continue;
                const uint8_t i = uint8_t((GetRValue(c) * 61 + GetGValue(c) * 174 + GetBValue(c) * 21) >> 8);
                image.SetPixelColor(x, y, RGB(i, i, i));
            }
        index = FGlyphList->AddMasked(image, FTransparentColor);
    } else {
        index = FGlyphList->AddMasked(image, FTransparentColor);
    }
    return index;
}

TKvButtonGlyph::TLayout TKvButtonGlyph::CalcButtonLayout(TCanvas& Canvas, const TRect& Client, const TPoint& Offset,
                                                         const std::string& Caption, TButtonLayout Layout,
                                                         int32_t Margin, int32_t Spacing, bool PopupMark,
                                                         TAlignment Alignment, bool WordWrap)
{
    TLayout L;
    const int32_t w = Client.Width(), h = Client.Height();
    const TSize image = ImageSize();
    int32_t gw = image.cx, gh = image.cy;
    const bool horizontal = Layout == blGlyphLeft || Layout == blGlyphRight;
    const int32_t givenMargin = Margin >= 0 ? Margin : 0, givenSpacing = Spacing >= 0 ? Spacing : 0;

    // 1. The caption's room, the caption cut to it, and its size.
    int32_t roomW = horizontal ? w - gw - givenMargin - givenSpacing - (PopupMark ? 9 : 0) : w;
    int32_t roomH = horizontal ? h : h - gh - givenMargin - givenSpacing;
    roomW = Max(roomW, 0);
    roomH = Max(roomH, 0);
    std::string caption = CutCaption(Caption);
    if (!WordWrap)
        caption = ShortenCaption(Canvas, caption, roomW);
    int32_t tw = 0, th = 0;
    if (!caption.empty()) {
        TRect tb = Rect(0, 0, roomW, 0);
        DrawText(Canvas, caption, tb,
                 DT_CALCRECT | DT_CENTER | DT_VCENTER | (WordWrap ? DT_WORDBREAK : 0) | AlignFlags(Alignment));
        tw = Min(tb.Width(), roomW);
        th = Min(tb.Height(), roomH);
    }
    const int32_t textW = tw, textH = th; // the caption rectangle's own size
    L.Caption = caption;

    // 2. Room for the drop-down arrow.
    if (PopupMark) {
        if (gw == 0 || Layout == blGlyphLeft)
            tw += 9;
        else
            gw += 6;
    }

    // 3. Centred across the layout axis.
    TPoint glyph, text;
    if (horizontal) {
        glyph.Y = h / 2 - gh / 2;
        text.Y = h / 2 - textH / 2;
    } else {
        glyph.X = w / 2 - gw / 2;
        text.X = w / 2 - tw / 2;
    }

    // 4. Margin and spacing along it.
    int32_t spacing = (gw != 0 && tw != 0) ? Spacing : 0;
    int32_t margin = Margin;
    const int32_t axis = horizontal ? w : h;
    const int32_t gs = horizontal ? gw : gh, ts = horizontal ? tw : th;
    if (margin == -1) {
        if (spacing == -1) {
            margin = (axis - gs - ts) / 3;
            spacing = margin;
        } else {
            margin = axis / 2 - (gs + spacing + ts) / 2;
        }
    } else if (spacing == -1) {
        spacing = (axis - margin - gs) / 2 - ts / 2;
    }

    // 5. Along the axis.
    switch (Layout) {
    case blGlyphLeft:
        glyph.X = margin;
        text.X = glyph.X + gw + spacing;
        break;
    case blGlyphRight:
        glyph.X = w - margin - gw;
        text.X = glyph.X - spacing - tw;
        break;
    case blGlyphTop:
        glyph.Y = margin;
        text.Y = glyph.Y + gh + spacing;
        break;
    case blGlyphBottom:
        glyph.Y = h - margin - gh;
        text.Y = glyph.Y - spacing - th;
        break;
    }
    L.GlyphPos = Point(glyph.X + Client.Left + Offset.X, glyph.Y + Client.Top + Offset.Y);
    L.TextBounds = Bounds(text.X + Client.Left + Offset.X, text.Y + Client.Top + Offset.Y, textW, textH);

    if (PopupMark) {
        if (Layout != blGlyphLeft && image.cx > 0)
            L.ArrowPos = Point(L.GlyphPos.X + image.cx + 1, L.GlyphPos.Y + image.cy / 2);
        else if (caption.empty())
            L.ArrowPos = Point((Client.Left + Client.Right - 7) / 2, L.TextBounds.Top + L.TextBounds.Height() / 2);
        else
            L.ArrowPos = Point(L.TextBounds.Right + 3, L.TextBounds.Top + L.TextBounds.Height() / 2);
    }
    return L;
}

void DrawDropDownArrow(TCanvas& Canvas, int32_t X, int32_t Y, TColor Color)
{
    for (int32_t row = 0; row < 4; ++row)
        FillSolid(Canvas, Rect(X + row, Y - 1 + row, X + 7 - row, Y + row), Color);
}

TRect TKvButtonGlyph::Draw(TCanvas& Canvas, const TRect& Client, const TPoint& Offset, const std::string& Caption,
                           TButtonLayout Layout, int32_t Margin, int32_t Spacing, bool PopupMark, TButtonState State,
                           TAlignment Alignment, bool WordWrap)
{
    TLayout L =
        CalcButtonLayout(Canvas, Client, Offset, Caption, Layout, Margin, Spacing, PopupMark, Alignment, WordWrap);
    const int32_t index = CreateButtonGlyph(State);
    if (index >= 0)
        FGlyphList->Draw(Canvas, L.GlyphPos.X, L.GlyphPos.Y, index);
    if (!L.Caption.empty()) {
        const uint32_t flags = DT_VCENTER | (WordWrap ? DT_WORDBREAK : 0) | AlignFlags(Alignment);
        Canvas.Brush()->SetStyle(bsClear);
        TFont* font = Canvas.Font();
        const TColor color = font->Color();
        TRect R = L.TextBounds;
        if (State == bsDisabled) {
            TRect light = OffsetRect(R, 1, 1);
            font->SetColor(clBtnHighlight);
            DrawText(Canvas, L.Caption, light, flags);
            font->SetColor(clBtnShadow);
            DrawText(Canvas, L.Caption, R, flags);
            font->SetColor(color);
        } else {
            DrawText(Canvas, L.Caption, R, flags);
        }
    }
    if (PopupMark) {
        if (State == bsDisabled) {
            DrawDropDownArrow(Canvas, L.ArrowPos.X + 1, L.ArrowPos.Y + 1, clBtnHighlight);
            DrawDropDownArrow(Canvas, L.ArrowPos.X, L.ArrowPos.Y, clBtnShadow);
        } else {
            DrawDropDownArrow(Canvas, L.ArrowPos.X, L.ArrowPos.Y, clBtnText);
        }
    }
    return L.TextBounds;
}

// ---- Speed button -----------------------------------------------------------------------

TKvSpeedButton::TKvSpeedButton(QWidget* AOwner)
    : TKvTrackingControl(AOwner), FGlyph(std::make_unique<TKvButtonGlyph>()), FFont(std::make_unique<TFont>())
{
    FGlyph->OnChange = [this](TObject*) { Invalidate(); };
    FFont->SetColor(clBtnText);
    FFont->OnChange = [this](TObject*) { Invalidate(); };
    SetBounds(0, 0, 25, 25);
}

TKvSpeedButton::~TKvSpeedButton() { StopTimer(); }

void TKvSpeedButton::SetCaption(const std::string& Value)
{
    if (Value == FCaption)
        return;
    FCaption = Value;
    UpdateAccelerator();
    Invalidate();
}

void TKvSpeedButton::SetHint(const std::string& Value) { setToolTip(QString::fromStdString(Value)); }

bool TKvSpeedButton::NewLook() const { return FStyle == bsNew || (FStyle == bsAutoDetect && NewStyleControls); }

void TKvSpeedButton::SetGlyph(TBitmap* Value)
{
    FGlyph->SetGlyph(Value);
    Invalidate();
}

void TKvSpeedButton::SetNumGlyphs(TKvNumGlyphs Value)
{
    FGlyph->SetNumGlyphs(Value);
    Invalidate();
}

void TKvSpeedButton::SetAllowAllUp(bool Value)
{
    if (Value == FAllowAllUp)
        return;
    FAllowAllUp = Value;
    UpdateExclusive();
}

void TKvSpeedButton::SetGroupIndex(int32_t Value)
{
    if (Value == FGroupIndex)
        return;
    FGroupIndex = Value;
    UpdateExclusive();
}

void TKvSpeedButton::SetDown(bool Value)
{
    if (FGroupIndex == 0)
        Value = false;
    if (Value == FDown)
        return;
    if (FDown && !FAllowAllUp)
        return;
    FDown = Value;
    if (Value) {
        FState = bsExclusive;
        Invalidate();
        UpdateExclusive();
    } else {
        FState = bsUp;
        Invalidate();
    }
}

void TKvSpeedButton::UpdateExclusive()
{
    if (FGroupIndex == 0 || !parentWidget())
        return;
    for (QObject* child : parentWidget()->children())
        if (auto* b = dynamic_cast<TKvSpeedButton*>(child); b && b != this)
            b->ButtonPressed(FGroupIndex, this);
}

void TKvSpeedButton::ButtonPressed(int32_t Group, TKvSpeedButton* Sender)
{
    if (Group != FGroupIndex || Sender == this || !Sender)
        return;
    if (Sender->FDown && FDown) {
        FDown = false;
        FState = bsUp;
        Invalidate();
    }
    FAllowAllUp = Sender->FAllowAllUp;
}

void TKvSpeedButton::SetDropDownMenu(QMenu* Value)
{
    if (Value == FDropDownMenu.data())
        return;
    FDropDownMenu = Value;
    if (FMarkDropDown)
        Invalidate();
}

void TKvSpeedButton::SetMarkDropDown(bool Value)
{
    if (Value == FMarkDropDown)
        return;
    FMarkDropDown = Value;
    Invalidate();
}

void TKvSpeedButton::SetFlat(bool Value)
{
    if (Value == FFlat)
        return;
    FFlat = Value;
    Invalidate();
}

void TKvSpeedButton::SetGrayedInactive(bool Value)
{
    if (Value == FGrayedInactive)
        return;
    FGrayedInactive = Value;
    Invalidate();
}

void TKvSpeedButton::SetLayout(TButtonLayout Value)
{
    if (Value == FLayout)
        return;
    FLayout = Value;
    Invalidate();
}

void TKvSpeedButton::SetMargin(int32_t Value)
{
    if (Value == FMargin || Value < -1)
        return;
    FMargin = Value;
    Invalidate();
}

void TKvSpeedButton::SetSpacing(int32_t Value)
{
    if (Value == FSpacing)
        return;
    FSpacing = Value;
    Invalidate();
}

void TKvSpeedButton::SetStyle(TButtonStyle Value)
{
    if (Value == FStyle)
        return;
    FStyle = Value;
    Invalidate();
}

void TKvSpeedButton::SetWordWrap(bool Value)
{
    if (Value == FWordWrap)
        return;
    FWordWrap = Value;
    Invalidate();
}

void TKvSpeedButton::SetAlignment(TAlignment Value)
{
    if (Value == FAlignment)
        return;
    FAlignment = Value;
    Invalidate();
}

void TKvSpeedButton::SetAllowTimer(bool Value)
{
    FAllowTimer = Value;
    if (!Value)
        FRepeatTimer.reset();
}

void TKvSpeedButton::StopTimer()
{
    if (FRepeatTimer)
        FRepeatTimer->SetEnabled(false);
}

void TKvSpeedButton::TimerExpired()
{
    if (!FRepeatTimer)
        return;
    // A repeat interval of 0 would fire on every pass of the event loop: no repeats then.
    if (FRepeatInterval == 0) {
        StopTimer();
        return;
    }
    FRepeatTimer->SetInterval(FRepeatInterval);
    if (FState == bsDown && MouseCapture()) {
        try {
            Click();
        } catch (...) {
            StopTimer();
            throw;
        }
    }
}

void TKvSpeedButton::SysColorChange()
{
    FGlyph->Invalidate();
    Invalidate();
}

void TKvSpeedButton::Click()
{
    if (FModalResult != mrNone)
        if (auto* dialog = qobject_cast<QDialog*>(window()); dialog && dialog != static_cast<QWidget*>(this))
            dialog->done(FModalResult);
    if (OnClick)
        OnClick(this);
}

bool TKvSpeedButton::DialogChar(char32_t Key)
{
    if (!IsAccel(Key, FCaption) || !Enabled() || !isVisibleTo(window()))
        return false;
    Click();
    return true;
}

void TKvSpeedButton::UpdateAccelerator()
{
    BindAccelerator(this, FAccelerator, FCaption, [this](char32_t Key) { DialogChar(Key); });
}

void TKvSpeedButton::MouseInControlChanged()
{
    if (FFlat)
        Invalidate();
}

void TKvSpeedButton::EnabledChanged()
{
    if (!Enabled())
        StopTimer();
    TKvTrackingControl::EnabledChanged();
}

void TKvSpeedButton::changeEvent(QEvent* Event)
{
    if (Event->type() == QEvent::PaletteChange)
        SysColorChange();
    TCustomControl::changeEvent(Event);
}

TPoint TKvSpeedButton::MenuPoint() const
{
    TPoint p;
    if (FMenuPosition == dmpBottom) {
        switch (FMenuAlignment) {
        case paLeft: p = Point(0, Height()); break;
        case paRight: p = Point(Width() + 1, Height()); break;
        case paCenter: p = Point(Width() / 2, Height()); break;
        }
    } else {
        p = FMenuAlignment == paCenter ? Point(Width(), Height() / 2) : Point(Width(), 0);
    }
    const QPoint g = mapToGlobal(QPoint(p.X, p.Y));
    return Point(g.x(), g.y());
}

void TKvSpeedButton::PopupDropDownMenu(const TPoint& ScreenPos)
{
    QMenu* menu = FDropDownMenu;
    if (!menu)
        return;
    // The click that closes the menu over the button is not played back to it: the
    // platform drops that pending click after the menu returns.
    menu->setAttribute(Qt::WA_NoMouseReplay);
    QPoint at(ScreenPos.X, ScreenPos.Y);
    const int width = menu->sizeHint().width();
    if (FMenuAlignment == paRight)
        at.rx() -= width;
    else if (FMenuAlignment == paCenter)
        at.rx() -= width / 2;
    menu->exec(at);
}

void TKvSpeedButton::DoDropDownMenu()
{
    // The form's cancel mode: whoever holds the mouse lets it go first.
    if (QWidget* grabber = QWidget::mouseGrabber(); grabber && grabber != this)
        grabber->releaseMouse();
    FMenuDropping = true;
    struct TDropping {
        TKvSpeedButton* B;
        ~TDropping() { B->FMenuDropping = false; }
    } dropping{this};
    PopupDropDownMenu(MenuPoint());
    // Released as by the mouse, where it is now; a release from the menu never clicks.
    const QPoint p = mapFromGlobal(QCursor::pos());
    MouseUp(mbLeft, 0, p.x(), p.y());
}

void TKvSpeedButton::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft || !Enabled() || FMenuDropping)
        return;
    SetMouseCapture(true);
    if (!FDown) {
        FState = bsDown;
        Invalidate();
    }
    FDragging = true;
    if ((Shift & ssDouble) && FDown && OnDblClick)
        OnDblClick(this);
    if (FDropDownMenu) {
        DoDropDownMenu();
        return;
    }
    if (FAllowTimer) {
        if (!FRepeatTimer) {
            FRepeatTimer = std::make_unique<TTimer>();
            FRepeatTimer->SetEnabled(false);
            FRepeatTimer->OnTimer = [this](TObject*) { TimerExpired(); };
        }
        FRepeatTimer->SetInterval(FInitPause);
        // An initial pause of 0 would fire on every pass of the event loop: no repeats.
        FRepeatTimer->SetEnabled(FInitPause != 0);
    }
}

void TKvSpeedButton::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomControl::MouseMove(Shift, X, Y);
    if (!FDragging) {
        if (!MouseInControl())
            UpdateTracking();
        return;
    }
    TButtonState state = FDown ? bsExclusive : bsUp;
    if (PtInRect(ClientRect(), Point(X, Y)))
        state = FDown ? bsExclusive : bsDown;
    if (state != FState) {
        FState = state;
        Invalidate();
    }
}

void TKvSpeedButton::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomControl::MouseUp(Button, Shift, X, Y);
    StopTimer();
    if (Button == mbLeft)
        SetMouseCapture(false);
    if (!FDragging || Button != mbLeft)
        return;
    FDragging = false;
    const bool inside = PtInRect(ClientRect(), Point(X, Y));
    if (FGroupIndex == 0) {
        FState = bsUp;
        Invalidate();
    } else if (inside) {
        SetDown(!FDown);
        Invalidate();
    } else {
        FState = FDown ? bsExclusive : bsUp;
        Invalidate();
    }
    if (inside && !FMenuDropping)
        Click();
    if (!inside && MouseInControl())
        SetMouseInControl(false);
}

void TKvSpeedButton::Paint()
{
    if (!Enabled()) {
        FState = bsDisabled;
        FDragging = false;
    } else if (FState == bsDisabled) {
        FState = FDown && FGroupIndex != 0 ? bsExclusive : bsUp;
    }
    TButtonState paintState = FState;
    if (FFlat && !MouseInControl() && !Designing())
        paintState = bsInactive;

    TCanvas& C = *Canvas();
    if (!Transparent())
        FillSolid(C, ClientRect(), clBtnFace);

    TRect area;
    if (paintState != bsInactive || FState == bsExclusive) {
        area = DrawButtonFrame(C, ClientRect(), FState == bsDown || FState == bsExclusive, NewLook(), FFlat);
    } else {
        const TRect R = ClientRect();
        area = Rect(R.Left + 2, R.Top + 2, R.Right - 2, R.Bottom - 2);
    }
    if (FState == bsExclusive && !Transparent() && (!FFlat || paintState == bsInactive))
        FillChecker(C, area);

    const TPoint offset = FState == bsDown || FState == bsExclusive ? Point(1, 1) : Point(0, 0);
    const TButtonState glyphState = FState == bsDisabled || !FGrayedInactive ? FState : paintState;
    C.SetFont(FFont.get());
    FTextBounds = FGlyph->Draw(C, area, offset, FCaption, FLayout, FMargin, FSpacing, FMarkDropDown && FDropDownMenu,
                               glyphState, FAlignment, FWordWrap);
}

} // namespace kv
