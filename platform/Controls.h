// The control base that the program's own windowed controls stand on: a QWidget that
// paints through a TCanvas, routes the mouse with the platform's capture rules and
// offers the frame, arrow and size-grip primitives the scroll bars draw. The cursor
// slot (Screen()->SetCursor) and the timer are those of platform/Forms.h.
#pragma once

#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/QtBridge.h"
#include "platform/SysUtils.h"
#include "platform/Types.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QPainter;

namespace kv {

// ---- Mouse -----------------------------------------------------------------------

enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
using TShiftState = uint32_t;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64;

using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int32_t X, int32_t Y)>;
// WheelDelta in 120 units a notch; setting Handled keeps the control's own wheel step off.
using TMouseWheelEvent =
    std::function<void(TObject* Sender, TShiftState Shift, int32_t WheelDelta, TPoint MousePos, bool& Handled)>;

// ---- Control types ---------------------------------------------------------------

enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TControlBorderStyle : uint8_t { bsNoBorder, bsSingleBorder }; // TBorderStyle (none, single)
enum TScrollBarKind : uint8_t { sbHorizontal, sbVertical };
enum TScrollCode : uint8_t { scLineUp, scLineDown, scPageUp, scPageDown };
enum TArrowDirection : uint8_t { adLeft, adRight, adUp, adDown };

// ---- The control ------------------------------------------------------------------

// A windowed control with its own canvas. Paint() draws on Canvas() (a 32-bit surface
// the size of the control, kept between paints: nothing is erased), which is then shown.
class TCustomControl : public QWidget, public TObject {
public:
    explicit TCustomControl(QWidget* AOwner = nullptr);
    ~TCustomControl() override;

    std::string ClassName() const override { return "TCustomControl"; }

    QWidget* Owner() const { return parentWidget(); }
    QWidget* Parent() const { return parentWidget(); }
    void SetParent(QWidget* Value);

    int32_t Left() const { return x(); }
    int32_t Top() const { return y(); }
    int32_t Width() const { return width(); }
    int32_t Height() const { return height(); }
    void SetWidth(int32_t Value) { SetBounds(Left(), Top(), Value, Height()); }
    void SetHeight(int32_t Value) { SetBounds(Left(), Top(), Width(), Value); }
    virtual void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
    TRect BoundsRect() const { return Bounds(Left(), Top(), Width(), Height()); }
    TRect ClientRect() const { return Rect(0, 0, Width(), Height()); }

    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor Value);
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool Value) { setEnabled(Value); }
    bool Visible() const { return isVisible(); }
    void SetVisible(bool Value) { setVisible(Value); }
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool Value);

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign Value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    // Asks CanAutoSize for the size the contents want and takes it.
    void AdjustSize();

    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool Value);
    bool CanFocus() const;
    void SetFocus();

    // Component state: this platform never designs and builds forms in code, so both
    // answer False; Loaded is called by the code that builds the form.
    bool Designing() const { return false; }
    bool Loading() const { return false; }
    virtual void Loaded() {}

    virtual void Invalidate();
    void Repaint() { repaint(); }
    // The canvas; drawing on it outside Paint reaches the screen at the next paint.
    TCanvas* Canvas();
    // The surface behind Canvas(), for drawing through Qt's own primitives.
    QImage& CanvasImage() { return FCanvasImage; }

    bool MouseCapture() const { return FCaptured; }
    void SetMouseCapture(bool Value) { FCaptured = Value; }

    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TMouseWheelEvent OnMouseWheel;
    TNotifyEvent OnResize;
    TNotifyEvent OnClick;

    // Test and tooling entry points that mirror what the event loop delivers.
    void SimulateMouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
    {
        MouseDown(Button, Shift, X, Y);
    }
    void SimulateMouseMove(TShiftState Shift, int32_t X, int32_t Y) { MouseMove(Shift, X, Y); }
    void SimulateMouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) { MouseUp(Button, Shift, X, Y); }
    bool SimulateMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos)
    {
        return DoMouseWheel(Shift, WheelDelta, MousePos);
    }

protected:
    virtual void Paint() {}
    virtual void Resize();
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    virtual void MouseMove(TShiftState Shift, int32_t X, int32_t Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    virtual void MouseEnter() {}
    virtual void MouseLeave() {}
    // OnMouseWheel first; when it leaves the event unhandled, DoMouseWheelDefault.
    // Returns whether anything handled it.
    virtual bool DoMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos);
    virtual bool DoMouseWheelDefault(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) { return false; }
    virtual void EnabledChanged() { Invalidate(); }
    virtual bool CanAutoSize(int32_t& NewWidth, int32_t& NewHeight) { return false; }

    // Qt's side.
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    void enterEvent(QEnterEvent* Event) override;
    void leaveEvent(QEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void PrepareCanvas();
    void AlignToParent();
    TColor FColor = clBtnFace;
    TCursor FCursor = crDefault;
    bool FCtl3D = true;
    TAlign FAlign = alNone;
    bool FAutoSize = false;
    bool FTabStop = false;
    bool FCaptured = false;
    int32_t FWheelAccumulator = 0;
    QImage FCanvasImage;
    std::unique_ptr<TCanvas> FCanvas;
};

// ---- Drawing primitives of the scroll-bar family -----------------------------------

// Frame3D: a 1-pixel edge, TopLeft on the top and left sides, BottomRight on the others;
// the rectangle shrinks by one pixel all round.
void Frame3D(QPainter& Painter, TRect& R, TColor TopLeft, TColor BottomRight);
// The platform's scroll arrow button (DFCS_SCROLL...): inactive, pushed, flat.
void DrawScrollArrow(QPainter& Painter, QWidget* Widget, const TRect& R, TArrowDirection Direction, bool Pushed,
                     bool Inactive, bool Flat);
void DrawSizeGripFrame(QPainter& Painter, QWidget* Widget, const TRect& R);
// The system's vertical scroll bar width.
int32_t ScrollBarExtent();
// Starts the window's own bottom-right sizing, as the size grip of a form does.
void StartWindowSizing(QWidget* Widget);
// Resolves a colour to a TColor32-style 0xFFRRGGBB value for pattern bitmaps.
uint32_t ColorToArgb(TColor Color);

} // namespace kv
