#include "formats/CtrlUtils.h"

#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/KvImageList.h"
#include "platform/QtBridge.h"
#include "platform/SysUtils.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <cstdlib>
#include <cstring>

namespace kv {

void* AllocZeroedBlock(int64_t Size)
{
    if (Size < 1)
        return nullptr;
    void* p = std::calloc(size_t(Size), 1);
    if (!p)
        throw EOutOfMemory("Out of memory");
    return p;
}

void FreeZeroedBlock(void*& P)
{
    if (!P)
        return;
    std::free(P);
    P = nullptr;
}

bool SameBytes(const void* P1, const void* P2, int32_t Count)
{
    if (Count <= 0)
        return true;
    return std::memcmp(P1, P2, size_t(Count)) == 0;
}

void CopyBytes(void* Dst, const void* Src, int64_t Count)
{
    if (Count > 0)
        std::memmove(Dst, Src, size_t(Count));
}

void FitRectToScreen(TRect& R, const TRect& Screen)
{
    const int32_t w = WidthOfRect(R), h = HeightOfRect(R);
    if (R.Right > Screen.Right) {
        R.Left = Screen.Right - w;
        R.Right = Screen.Right;
    }
    if (R.Bottom > Screen.Bottom) {
        R.Top = Screen.Bottom - h;
        R.Bottom = Screen.Bottom;
    }
    if (R.Left < Screen.Left) {
        R.Left = Screen.Left;
        R.Right = Screen.Left + w;
    }
    if (R.Top < Screen.Top) {
        R.Top = Screen.Top;
        R.Bottom = Screen.Top + h;
    }
}

} // namespace kv

namespace kv {

const char* const SNotAvailable = "Функция не реализована";

void ShowNotAvailable()
{
    Screen()->SetCursor(crDefault);
    MessageDlg(SNotAvailable, mtInformation, mbOKOnly, 0);
    Abort();
}

} // namespace kv

// ---- Drawing ---------------------------------------------------------------------------------

namespace kv {

int32_t PaletteRelativeColor(TColor Color) { return int32_t((ColorToRGB(Color) & 0xFFFFFF) | 0x02000000); }

namespace {

// Mask (white where the key is, black elsewhere) and the source with its key pixels
// blackened, both at the source rectangle's size; then the two raster operations.
void KeyedStretch(TCanvas& Dest, int32_t DstX, int32_t DstY, int32_t DstW, int32_t DstH, const TBitmap& Source,
                  int32_t SrcX, int32_t SrcY, int32_t SrcW, int32_t SrcH, TColor Key)
{
    const TColor key = ColorToRGB(Key) & 0xFFFFFF;
    TBitmap mask, masked;
    mask.SetPixelFormat(pf24bit);
    masked.SetPixelFormat(pf24bit);
    mask.SetSize(SrcW, SrcH);
    masked.SetSize(SrcW, SrcH);
    for (int32_t y = 0; y < SrcH; ++y) {
        uint8_t* m = mask.ScanLine(y);
        uint8_t* s = masked.ScanLine(y);
        for (int32_t x = 0; x < SrcW; ++x) {
            const TColor c = Source.PixelColor(SrcX + x, SrcY + y);
            const bool transparent = c == key || c < 0;
            const uint8_t maskByte = transparent ? 255 : 0;
            m[3 * x] = m[3 * x + 1] = m[3 * x + 2] = maskByte;
            s[3 * x] = transparent ? 0 : GetBValue(c);
            s[3 * x + 1] = transparent ? 0 : GetGValue(c);
            s[3 * x + 2] = transparent ? 0 : GetRValue(c);
        }
    }
    SetStretchBltMode(Dest.Handle(), COLORONCOLOR);
    StretchBlt(Dest.Handle(), DstX, DstY, DstW, DstH, mask.Canvas()->Handle(), 0, 0, SrcW, SrcH, SRCAND);
    StretchBlt(Dest.Handle(), DstX, DstY, DstW, DstH, masked.Canvas()->Handle(), 0, 0, SrcW, SrcH, SRCPAINT);
}

} // namespace

void MaskedStretchBlt(HDC DstDC, int32_t DstX, int32_t DstY, int32_t DstW, int32_t DstH, HDC SrcDC, int32_t SrcX,
                      int32_t SrcY, int32_t SrcW, int32_t SrcH, HPALETTE Palette, TColor TransparentColor)
{
    if (!DstDC || !SrcDC || SrcW <= 0 || SrcH <= 0)
        return;
    // The source is copied out of its device first; palettes need no realising here.
    TBitmap source;
    source.SetPixelFormat(pf24bit);
    source.SetSize(SrcW, SrcH);
    BitBlt(source.Canvas()->Handle(), 0, 0, SrcW, SrcH, SrcDC, SrcX, SrcY, SRCCOPY);
    KeyedStretch(*DstDC, DstX, DstY, DstW, DstH, source, 0, 0, SrcW, SrcH,
                 TColor(PaletteRelativeColor(TransparentColor) & 0xFFFFFF));
}

void DrawBitmapKeyed(TCanvas& Dest, TBitmap& Bitmap, TColor TransparentColor, int32_t DstX, int32_t DstY, int32_t DstW,
                     int32_t DstH, int32_t SrcX, int32_t SrcY, int32_t SrcW, int32_t SrcH)
{
    if (Bitmap.Empty())
        return;
    if (DstW <= 0 || DstH <= 0) {
        DstW = Bitmap.Width();
        DstH = Bitmap.Height();
    }
    if (SrcW <= 0 || SrcH <= 0) {
        SrcX = 0;
        SrcY = 0;
        SrcW = Bitmap.Width();
        SrcH = Bitmap.Height();
    }
    if (!Bitmap.Monochrome())
        SetStretchBltMode(Dest.Handle(), COLORONCOLOR);
    Bitmap.Canvas()->Lock();
    struct TUnlock {
        TBitmap& B;
        ~TUnlock() { B.Canvas()->Unlock(); }
    } unlock{Bitmap};
    if (TransparentColor == clNone) {
        StretchBlt(Dest.Handle(), DstX, DstY, DstW, DstH, Bitmap.Canvas()->Handle(), SrcX, SrcY, SrcW, SrcH,
                   Dest.CopyMode());
        return;
    }
    TColor key;
    if (Bitmap.Monochrome())
        key = clWhite;
    else if (TransparentColor == clDefault)
        key = Bitmap.PixelColor(0, Bitmap.Height() - 1);
    else
        key = ColorToRGB(TransparentColor);
    KeyedStretch(Dest, DstX, DstY, DstW, DstH, Bitmap, SrcX, SrcY, SrcW, SrcH, key);
}

void DrawBitmapRectKeyed(TCanvas& Dest, int32_t DstX, int32_t DstY, int32_t DstW, int32_t DstH, const TRect& SrcRect,
                         TBitmap& Bitmap, TColor TransparentColor)
{
    DrawBitmapKeyed(Dest, Bitmap, TransparentColor, DstX, DstY, DstW, DstH, SrcRect.Left, SrcRect.Top,
                    WidthOfRect(SrcRect), HeightOfRect(SrcRect));
}

std::unique_ptr<TBitmap> MakeDisabledGlyphEx(TBitmap& Source, TColor OutlineColor, TColor BackColor,
                                             TColor HighlightColor, TColor ShadowColor, bool DrawHighlight)
{
    auto result = std::make_unique<TBitmap>();
    result->SetPixelFormat(pf24bit);
    const int32_t w = Source.Width(), h = Source.Height();
    result->SetSize(w, h);
    const TColor outline = ColorToRGB(OutlineColor) & 0xFFFFFF;
    std::vector<uint8_t> ink(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            ink[size_t(y) * w + x] = Source.PixelColor(x, y) != outline;
    const TColor back = ColorToRGB(BackColor), highlight = ColorToRGB(HighlightColor), shadow = ColorToRGB(ShadowColor);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            result->SetPixelColor(x, y, back);
    if (DrawHighlight)
        for (int32_t y = 0; y + 1 < h; ++y)
            for (int32_t x = 0; x + 1 < w; ++x)
                if (ink[size_t(y) * w + x])
                    result->SetPixelColor(x + 1, y + 1, highlight);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            if (ink[size_t(y) * w + x])
                result->SetPixelColor(x, y, shadow);
    return result;
}

// Where the (monochrome) source is white the brush is painted, where it is black the
// destination stays.
constexpr uint32_t ROP_DSPDxax = 0x00E20746;

void DrawImageListDisabled(const TCustomImageList& Images, TCanvas& Canvas, int32_t X, int32_t Y, int32_t Index,
                           TColor HighlightColor, TColor GrayColor, bool DrawHighlight)
{
    const int32_t w = Images.Width(), h = Images.Height();
    TBitmap mask;
    Images.GetMask(Index, mask);
    // The monochrome source: white on the image's opaque pixels.
    TBitmap mono;
    mono.SetPixelFormat(pf24bit);
    mono.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            mono.SetPixelColor(x, y, mask.PixelColor(x, y) == clWhite ? clBlack : clWhite);
    struct TBrushKeeper {
        TCanvas& C;
        TColor Saved;
        ~TBrushKeeper() { C.Brush()->SetColor(Saved); }
    } keep{Canvas, Canvas.Brush()->Color()};
    if (DrawHighlight) {
        Canvas.Brush()->SetColor(HighlightColor);
        BitBlt(Canvas.Handle(), X + 1, Y + 1, w, h, mono.Canvas()->Handle(), 0, 0, ROP_DSPDxax);
    }
    Canvas.Brush()->SetColor(GrayColor);
    BitBlt(Canvas.Handle(), X, Y, w, h, mono.Canvas()->Handle(), 0, 0, ROP_DSPDxax);
}

std::unique_ptr<TBitmap> MakeDisabledGlyph(TBitmap& Source, TColor OutlineColor)
{
    return MakeDisabledGlyphEx(Source, OutlineColor, clBtnFace, clBtnHighlight, clBtnShadow, true);
}

void EllipsizeToWidth(const std::string& S, TCanvas& Canvas, int32_t MaxWidth, std::string& Result)
{
    if (Canvas.TextWidth(S) <= MaxWidth) {
        Result = S;
        return;
    }
    std::string t = S;
    for (;;) {
        // Drop one whole UTF-8 character.
        while (!t.empty() && (uint8_t(t.back()) & 0xC0) == 0x80)
            t.pop_back();
        if (!t.empty())
            t.pop_back();
        Result = t + "...";
        if (t.empty() || Canvas.TextWidth(Result) <= MaxWidth)
            return;
    }
}

} // namespace kv

// ---- Windows ---------------------------------------------------------------------------------

namespace kv {

void FitRectToScreen(TRect& R) { FitRectToScreen(R, TRect{0, 0, Screen()->Width(), Screen()->Height()}); }

void CenterOnScreen(QWidget* Wnd)
{
    if (!Wnd)
        return;
    const QRect frame = Wnd->frameGeometry();
    TRect r = Bounds((Screen()->Width() - frame.width()) / 2, (Screen()->Height() - frame.height()) / 2, frame.width(),
                     frame.height());
    FitRectToScreen(r);
    Wnd->move(r.Left, r.Top);
}

bool OwnsActiveWindow()
{
    QWidget* active = QApplication::activeWindow();
    return active && active->thread() == QThread::currentThread();
}

} // namespace kv

// ---- Painting behind a control and dropping pending events ----------------------------------

namespace kv {

namespace {

const char* const PaintCopyProperty = "kvPaintingCopy";

// Marks a widget as being painted as a copy for as long as it lives.
class TPaintCopyFlag {
public:
    explicit TPaintCopyFlag(QWidget* W) : FWidget(W) { FWidget->setProperty(PaintCopyProperty, true); }
    ~TPaintCopyFlag() { FWidget->setProperty(PaintCopyProperty, QVariant()); }
    TPaintCopyFlag(const TPaintCopyFlag&) = delete;
    TPaintCopyFlag& operator=(const TPaintCopyFlag&) = delete;

private:
    QWidget* FWidget;
};

// Swallows the first event of one kind that reaches its window, until the event loop
// next waits: whatever arrives before then was already pending when it was made.
class TDropOneEvent : public QObject {
public:
    TDropOneEvent(QWidget* Wnd, QEvent::Type Type) : QObject(Wnd), FType(Type)
    {
        Wnd->installEventFilter(this);
        if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance(Wnd->thread()))
            connect(d, &QAbstractEventDispatcher::aboutToBlock, this, [this] { Finish(); });
        else
            Finish();
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (FDone || Event->type() != FType)
            return false;
        Finish();
        return true;
    }

private:
    void Finish()
    {
        if (FDone)
            return;
        FDone = true;
        if (parent())
            parent()->removeEventFilter(this);
        deleteLater();
    }
    QEvent::Type FType;
    bool FDone = false;
};

} // namespace

bool PaintingCopy(const QWidget* Wnd) { return Wnd && Wnd->property(PaintCopyProperty).toBool(); }

void PaintParentBackground(QWidget* Control, TCanvas& Dest)
{
    if (!Control || !Control->parentWidget())
        return;
    QWidget* parent = Control->parentWidget();
    const QRect area = Control->geometry(); // in the parent's coordinates
    if (area.isEmpty())
        return;
    // Everything is clipped to the parent's client area; the rest of Dest stays.
    const QRect visible = area.intersected(parent->rect());
    if (visible.isEmpty())
        return;
    QImage image(visible.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        {
            TPaintCopyFlag flag(parent); // the parent's background and its own drawing
            parent->render(&painter, QPoint(0, 0), QRegion(visible), QWidget::DrawWindowBackground);
        }
        // Siblings below the control (Qt keeps children in stacking order, bottom first).
        for (QObject* child : parent->children()) {
            if (child == Control)
                break;
            auto* sibling = qobject_cast<QWidget*>(child);
            if (!sibling || sibling->isWindow() || !sibling->isVisibleTo(parent))
                continue;
            const QRect overlap = sibling->geometry().intersected(visible);
            if (overlap.isEmpty())
                continue;
            TPaintCopyFlag flag(sibling);
            sibling->render(&painter, overlap.topLeft() - visible.topLeft(),
                            QRegion(overlap.translated(-sibling->pos())),
                            QWidget::DrawWindowBackground | QWidget::DrawChildren);
        }
    }
    TBitmap copy;
    QImageToBitmap(image.convertToFormat(QImage::Format_ARGB32), copy);
    const QPoint at = visible.topLeft() - area.topLeft();
    BitBlt(Dest.Handle(), at.x(), at.y(), copy.Width(), copy.Height(), copy.Canvas()->Handle(), 0, 0, SRCCOPY);
}

void DropPendingMessage(QWidget* Wnd, int32_t Msg)
{
    if (!Wnd)
        return;
    new TDropOneEvent(Wnd, static_cast<QEvent::Type>(Msg)); // owned by Wnd; deletes itself when done
}

} // namespace kv
