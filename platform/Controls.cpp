#include "platform/Controls.h"

#include "platform/KvKeys.h"
#include "platform/ScreenCursors.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QWheelEvent>
#include <QWindow>
#include <qdrawutil.h>

namespace kv {

namespace {

TShiftState ShiftFromQt(Qt::KeyboardModifiers Mods, Qt::MouseButtons Buttons)
{
    TShiftState S = ShiftFromQtModifiers(uint32_t(Mods));
    if (Buttons & Qt::LeftButton)
        S |= ssLeft;
    if (Buttons & Qt::RightButton)
        S |= ssRight;
    if (Buttons & Qt::MiddleButton)
        S |= ssMiddle;
    return S;
}

bool ButtonFromQt(Qt::MouseButton B, TMouseButton& Out)
{
    switch (B) {
    case Qt::LeftButton: Out = mbLeft; return true;
    case Qt::RightButton: Out = mbRight; return true;
    case Qt::MiddleButton: Out = mbMiddle; return true;
    default: return false;
    }
}

} // namespace

// ---- The control ------------------------------------------------------------------

TCustomControl::TCustomControl(QWidget* AOwner) : QWidget(AOwner), FCanvas(std::make_unique<TCanvas>())
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

TCustomControl::~TCustomControl()
{
    if (parentWidget())
        parentWidget()->removeEventFilter(this);
    FCanvas->Detach();
}

void TCustomControl::SetParent(QWidget* Value)
{
    if (parentWidget())
        parentWidget()->removeEventFilter(this);
    setParent(Value);
    if (Value && FAlign != alNone)
        Value->installEventFilter(this);
    AlignToParent();
}

void TCustomControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight)
{
    const QSize Old = size();
    setGeometry(ALeft, ATop, std::max(0, AWidth), std::max(0, AHeight));
    // A hidden widget gets its resize event only when shown; the program's controls
    // lay themselves out at once, as the platform's do.
    if (!isVisible() && size() != Old)
        Resize();
}

void TCustomControl::SetColor(TColor Value)
{
    if (Value == FColor)
        return;
    FColor = Value;
    Invalidate();
}

void TCustomControl::SetCursor(TCursor Value)
{
    FCursor = Value;
    if (Value == crDefault)
        unsetCursor();
    else
        setCursor(ScreenCursorFor(Value));
}

void TCustomControl::SetCtl3D(bool Value)
{
    if (Value == FCtl3D)
        return;
    FCtl3D = Value;
    Invalidate();
}

void TCustomControl::SetAlign(TAlign Value)
{
    if (Value == FAlign)
        return;
    FAlign = Value;
    if (parentWidget()) {
        parentWidget()->removeEventFilter(this);
        if (Value != alNone)
            parentWidget()->installEventFilter(this);
    }
    AlignToParent();
}

void TCustomControl::AlignToParent()
{
    QWidget* P = parentWidget();
    if (!P || FAlign == alNone)
        return;
    const int PW = P->width(), PH = P->height();
    switch (FAlign) {
    case alTop: SetBounds(0, 0, PW, Height()); break;
    case alBottom: SetBounds(0, PH - Height(), PW, Height()); break;
    case alLeft: SetBounds(0, 0, Width(), PH); break;
    case alRight: SetBounds(PW - Width(), 0, Width(), PH); break;
    case alClient: SetBounds(0, 0, PW, PH); break;
    case alNone: break;
    }
}

bool TCustomControl::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == parentWidget() && Event->type() == QEvent::Resize)
        AlignToParent();
    return QWidget::eventFilter(Watched, Event);
}

void TCustomControl::SetAutoSize(bool Value)
{
    if (Value == FAutoSize)
        return;
    FAutoSize = Value;
    if (Value)
        AdjustSize();
}

void TCustomControl::AdjustSize()
{
    int32_t W = Width(), H = Height();
    if (CanAutoSize(W, H) && (W != Width() || H != Height()))
        SetBounds(Left(), Top(), W, H);
}

void TCustomControl::SetTabStop(bool Value)
{
    FTabStop = Value;
    setFocusPolicy(Value ? Qt::StrongFocus : Qt::NoFocus);
}

bool TCustomControl::CanFocus() const { return FTabStop && isEnabled() && focusPolicy() != Qt::NoFocus; }

void TCustomControl::SetFocus() { setFocus(Qt::MouseFocusReason); }

void TCustomControl::Invalidate() { update(); }

void TCustomControl::PrepareCanvas()
{
    const int W = std::max(1, width()), H = std::max(1, height());
    if (FCanvasImage.width() != W || FCanvasImage.height() != H) {
        QImage Old = FCanvasImage;
        FCanvasImage = QImage(W, H, QImage::Format_ARGB32);
        FCanvasImage.fill(Qt::white);
        if (!Old.isNull()) {
            QPainter P(&FCanvasImage);
            P.drawImage(0, 0, Old);
        }
        FCanvas->Detach();
    }
    if (!FCanvas->Attached())
        FCanvas->AttachBuffer(reinterpret_cast<uint32_t*>(FCanvasImage.bits()), FCanvasImage.width(),
                              FCanvasImage.height(), int32_t(FCanvasImage.bytesPerLine()));
}

TCanvas* TCustomControl::Canvas()
{
    PrepareCanvas();
    return FCanvas.get();
}

void TCustomControl::paintEvent(QPaintEvent*)
{
    PrepareCanvas();
    Paint();
    QPainter P(this);
    P.setCompositionMode(QPainter::CompositionMode_Source);
    // The surface's fourth byte is whatever the drawing left there: show it as opaque,
    // through a view of the same bytes rather than a converted copy.
    const QImage Opaque(FCanvasImage.constBits(), FCanvasImage.width(), FCanvasImage.height(),
                        FCanvasImage.bytesPerLine(), QImage::Format_RGB32);
    P.drawImage(0, 0, Opaque);
}

void TCustomControl::Resize()
{
    if (OnResize)
        OnResize(this);
}

void TCustomControl::resizeEvent(QResizeEvent*) { Resize(); }

void TCustomControl::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (OnMouseDown)
        OnMouseDown(this, Button, Shift, X, Y);
}

void TCustomControl::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    if (OnMouseMove)
        OnMouseMove(this, Shift, X, Y);
}

void TCustomControl::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (OnMouseUp)
        OnMouseUp(this, Button, Shift, X, Y);
}

bool TCustomControl::DoMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos)
{
    bool Handled = false;
    if (OnMouseWheel)
        OnMouseWheel(this, Shift, WheelDelta, MousePos, Handled);
    if (!Handled)
        Handled = DoMouseWheelDefault(Shift, WheelDelta, MousePos);
    return Handled;
}

// Qt grabs the mouse on every press; the platform captures on a left press only (or when
// a control asks). Without capture, moves and releases outside the control are not ours.
void TCustomControl::mousePressEvent(QMouseEvent* Event)
{
    TMouseButton B;
    if (!ButtonFromQt(Event->button(), B))
        return;
    if (B == mbLeft)
        FCaptured = true;
    const QPoint P = Event->position().toPoint();
    MouseDown(B, ShiftFromQt(Event->modifiers(), Event->buttons()), P.x(), P.y());
}

void TCustomControl::mouseDoubleClickEvent(QMouseEvent* Event)
{
    TMouseButton B;
    if (!ButtonFromQt(Event->button(), B))
        return;
    if (B == mbLeft)
        FCaptured = true;
    const QPoint P = Event->position().toPoint();
    MouseDown(B, ShiftFromQt(Event->modifiers(), Event->buttons()) | ssDouble, P.x(), P.y());
    if (OnClick && B == mbLeft)
        OnClick(this);
}

void TCustomControl::mouseMoveEvent(QMouseEvent* Event)
{
    const QPoint P = Event->position().toPoint();
    if (!FCaptured && Event->buttons() != Qt::NoButton && !rect().contains(P))
        return;
    MouseMove(ShiftFromQt(Event->modifiers(), Event->buttons()), P.x(), P.y());
}

void TCustomControl::mouseReleaseEvent(QMouseEvent* Event)
{
    TMouseButton B;
    if (!ButtonFromQt(Event->button(), B))
        return;
    const QPoint P = Event->position().toPoint();
    const bool Ours = FCaptured || rect().contains(P);
    if (B == mbLeft && Event->buttons() == Qt::NoButton)
        FCaptured = false;
    if (!Ours)
        return;
    MouseUp(B, ShiftFromQt(Event->modifiers(), Event->buttons()), P.x(), P.y());
    if (OnClick && B == mbLeft && rect().contains(P))
        OnClick(this);
}

void TCustomControl::wheelEvent(QWheelEvent* Event)
{
    // Fine-grained wheels send parts of a notch; hand on whole notches only so that
    // steps computed with div 120 still move.
    FWheelAccumulator += Event->angleDelta().y();
    const int32_t Delta = FWheelAccumulator / 120 * 120;
    if (Delta == 0) {
        Event->accept();
        return;
    }
    FWheelAccumulator -= Delta;
    const QPoint P = Event->position().toPoint();
    if (DoMouseWheel(ShiftFromQt(Event->modifiers(), Event->buttons()), Delta, TPoint{P.x(), P.y()}))
        Event->accept();
    else
        Event->ignore();
}

void TCustomControl::enterEvent(QEnterEvent*) { MouseEnter(); }
void TCustomControl::leaveEvent(QEvent*) { MouseLeave(); }

void TCustomControl::changeEvent(QEvent* Event)
{
    if (Event->type() == QEvent::EnabledChange)
        EnabledChanged();
    QWidget::changeEvent(Event);
}

// ---- Drawing primitives ------------------------------------------------------------

uint32_t ColorToArgb(TColor Color)
{
    const TColor C = ColorToRGB(Color);
    return 0xFF000000u | (uint32_t(GetRValue(C)) << 16) | (uint32_t(GetGValue(C)) << 8) | GetBValue(C);
}

void Frame3D(QPainter& Painter, TRect& R, TColor TopLeft, TColor BottomRight)
{
    if (R.Right <= R.Left || R.Bottom <= R.Top)
        return;
    const int L = R.Left, T = R.Top, Rr = R.Right - 1, B = R.Bottom - 1;
    Painter.setPen(ToQColor(TopLeft));
    Painter.drawLine(L, B, L, T);
    Painter.drawLine(L, T, Rr, T);
    Painter.setPen(ToQColor(BottomRight));
    Painter.drawLine(Rr, T, Rr, B);
    Painter.drawLine(Rr, B, L, B);
    R.Left += 1;
    R.Top += 1;
    R.Right -= 1;
    R.Bottom -= 1;
}

void DrawScrollArrow(QPainter& Painter, QWidget* Widget, const TRect& R, TArrowDirection Direction, bool Pushed,
                     bool Inactive, bool Flat)
{
    const QRect QR(R.Left, R.Top, R.Right - R.Left, R.Bottom - R.Top);
    if (QR.isEmpty())
        return;
    const QPalette Pal = Widget ? Widget->palette() : QApplication::palette();
    Painter.fillRect(QR, Pal.color(QPalette::Button));
    if (Pushed || Flat)
        qDrawShadePanel(&Painter, QR, Pal, true, 1);
    else
        qDrawShadePanel(&Painter, QR, Pal, false, 1);
    QStyleOption Opt;
    Opt.initFrom(Widget);
    Opt.rect = QR.adjusted(2, 2, -2, -2);
    if (Pushed)
        Opt.rect.translate(1, 1);
    Opt.state = Inactive ? QStyle::State_None : QStyle::State_Enabled;
    if (Inactive)
        Opt.palette.setCurrentColorGroup(QPalette::Disabled);
    QStyle::PrimitiveElement E = QStyle::PE_IndicatorArrowLeft;
    switch (Direction) {
    case adLeft: E = QStyle::PE_IndicatorArrowLeft; break;
    case adRight: E = QStyle::PE_IndicatorArrowRight; break;
    case adUp: E = QStyle::PE_IndicatorArrowUp; break;
    case adDown: E = QStyle::PE_IndicatorArrowDown; break;
    }
    QApplication::style()->drawPrimitive(E, &Opt, &Painter, Widget);
}

void DrawSizeGripFrame(QPainter& Painter, QWidget* Widget, const TRect& R)
{
    const QRect QR(R.Left, R.Top, R.Right - R.Left, R.Bottom - R.Top);
    if (QR.isEmpty())
        return;
    const QPalette Pal = Widget ? Widget->palette() : QApplication::palette();
    Painter.fillRect(QR, Pal.color(QPalette::Button));
    QStyleOptionSizeGrip Opt;
    Opt.initFrom(Widget);
    Opt.rect = QR;
    Opt.corner = Qt::BottomRightCorner;
    QApplication::style()->drawControl(QStyle::CE_SizeGrip, &Opt, &Painter, Widget);
}

int32_t ScrollBarExtent() { return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent); }

void StartWindowSizing(QWidget* Widget)
{
    if (!Widget)
        return;
    QWidget* Top = Widget->window();
    if (Top && Top->windowHandle())
        Top->windowHandle()->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
}

} // namespace kv
