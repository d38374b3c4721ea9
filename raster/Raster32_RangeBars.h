// Flat scroll-bar-like controls: the common arrow bar (frame, two arrow buttons, track
// background, auto-repeat), the floating-point range bar the image view scrolls with,
// and the integer gauge bar (the editor's opacity, magnifier and rotation sliders).
#pragma once

#include "platform/Controls.h"
#include "platform/Graphics.h"

#include <QImage>

#include <memory>

namespace kv {

enum TRBBackgnd : uint8_t { bgPattern, bgSolid, bgMix };

// Drag zones: where a press landed.
constexpr uint8_t zNone = 0, zBtnPrev = 1, zBtnNext = 2, zHandle = 3, zTrackPrev = 4, zTrackNext = 5;

class TArrowBar : public TCustomControl {
public:
    explicit TArrowBar(QWidget* AOwner = nullptr);
    ~TArrowBar() override;

    TRBBackgnd Backgnd() const { return FBackgnd; }
    void SetBackgnd(TRBBackgnd Value);
    TControlBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TControlBorderStyle Value);
    int32_t ButtonSize() const { return FButtonSize; }
    void SetButtonSize(int32_t Value);
    bool Framed() const { return FFramed; }
    void SetFramed(bool Value);
    TBitmap* GlyphMax() const { return FGlyphMax.get(); }
    void SetGlyphMax(TBitmap* Value);
    TBitmap* GlyphMin() const { return FGlyphMin.get(); }
    void SetGlyphMin(TBitmap* Value);
    TColor HandleColor() const { return FHandleColor; }
    void SetHandleColor(TColor Value);
    TScrollBarKind Kind() const { return FKind; }
    void SetKind(TScrollBarKind Value);
    bool ShowArrows() const { return FShowArrows; }
    void SetShowArrows(bool Value);
    bool ShowHandleGrip() const { return FShowHandleGrip; }
    void SetShowHandleGrip(bool Value);

    uint8_t DragZone() const { return FDragZone; }
    TTimer* Timer() const { return FTimer.get(); }
    int32_t GetButtonSize() const;
    TRect GetTrackBoundary() const;
    // The handle's rectangle in control coordinates; empty when there is none.
    virtual TRect GetHandleRect() const { return TRect{}; }
    virtual uint8_t GetZone(int32_t X, int32_t Y) const;
    virtual bool DrawEnabled() const { return Enabled(); }
    virtual void TimerHandler(TObject* Sender);

    TNotifyEvent OnChange;
    TNotifyEvent OnUserChange;

    std::string ClassName() const override { return "TArrowBar"; }

protected:
    virtual void DoChange();
    virtual void DoDrawButton(QPainter& P, TRect R, bool Pushed, bool AEnabled, TArrowDirection Direction);
    virtual void DoDrawHandle(QPainter& P, TRect R, bool Horizontal, bool Pushed);
    virtual void UpdatePattern();
    // The subclass's part of a press on the handle: remember where the drag starts, or
    // refuse it by clearing the drag zone.
    virtual void StartHandleDrag() {}
    virtual void DragHandle(int32_t Delta) {}
    // One auto-repeat step for the current drag zone.
    virtual void Step() {}
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    // Stops auto-repeat when the held track zone has moved away from the press point.
    bool StillInHeldZone();
    void StopRepeat();
    int32_t Length() const { return FKind == sbHorizontal ? Width() : Height(); }
    int32_t Thickness() const { return FKind == sbHorizontal ? Height() : Width(); }

    bool FGenChange = false;
    uint8_t FDragZone = zNone;
    TPoint FHoldPos;
    float FPosBeforeDrag = 0;

private:
    TRBBackgnd FBackgnd = bgPattern;
    TControlBorderStyle FBorderStyle = bsNoBorder;
    int32_t FButtonSize = 0;
    bool FFramed = true;
    std::unique_ptr<TBitmap> FGlyphMax;
    std::unique_ptr<TBitmap> FGlyphMin;
    TColor FHandleColor = clBtnShadow;
    TScrollBarKind FKind = sbHorizontal;
    bool FShowArrows = true;
    bool FShowHandleGrip = true;
    QImage FPattern;
    TColor FPatternColor = clNone;
    std::unique_ptr<TTimer> FTimer;
    bool FTimerFirst = false;
};

class TCustomRangeBar : public TArrowBar {
public:
    explicit TCustomRangeBar(QWidget* AOwner = nullptr);

    bool Centered() const { return FCentered; }
    void SetCentered(bool Value) { FCentered = Value; }
    float Increment() const { return FIncrement; }
    void SetIncrement(float Value);
    float Position() const { return FPosition; }
    void SetPosition(float Value);
    float Range() const { return FRange; }
    void SetRange(float Value) { SetParams(Value, FWindow); }
    float Window() const { return FWindow; }
    void SetWindow(float Value) { SetParams(FRange, Value); }
    void SetParams(float NewRange, float NewWindow);
    virtual float EffectiveWindow() const;
    bool DrawEnabled() const override;
    TRect GetHandleRect() const override;
    void TimerHandler(TObject* Sender) override;

    std::string ClassName() const override { return "TCustomRangeBar"; }

protected:
    void AdjustPosition();
    void StartHandleDrag() override;
    void DragHandle(int32_t Delta) override;
    void Step() override;
    void Resize() override;
    bool DoMouseWheelDefault(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) override;
    void Paint() override;

private:
    bool FCentered = false;
    float FIncrement = 8.0f;
    float FPosition = 0;
    float FRange = 0;
    float FWindow = 0;
    mutable float FLastWindow = 0;
};

class TRangeBar : public TCustomRangeBar {
public:
    using TCustomRangeBar::TCustomRangeBar;
    std::string ClassName() const override { return "TRangeBar"; }
};

class TCustomGaugeBar : public TArrowBar {
public:
    explicit TCustomGaugeBar(QWidget* AOwner = nullptr);

    int32_t HandleSize() const { return FHandleSize; }
    void SetHandleSize(int32_t Value);
    int32_t LargeChange() const { return FLargeChange; }
    void SetLargeChange(int32_t Value) { FLargeChange = std::max(1, Value); }
    int32_t Max() const { return FMax; }
    void SetMax(int32_t Value);
    int32_t Min() const { return FMin; }
    void SetMin(int32_t Value);
    int32_t Position() const { return FPosition; }
    void SetPosition(int32_t Value);
    int32_t SmallChange() const { return FSmallChange; }
    void SetSmallChange(int32_t Value) { FSmallChange = std::max(1, Value); }
    TRect GetHandleRect() const override;

    std::string ClassName() const override { return "TCustomGaugeBar"; }

protected:
    // Handle size and track length along the bar; false when there is no handle.
    bool HandleMetrics(int32_t& HS, int32_t& L) const;
    void StartHandleDrag() override;
    void DragHandle(int32_t Delta) override;
    void Step() override;
    bool DoMouseWheelDefault(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) override;

private:
    int32_t FHandleSize = 0;
    int32_t FLargeChange = 1;
    int32_t FMax = 100;
    int32_t FMin = 0;
    int32_t FPosition = 0;
    int32_t FSmallChange = 1;
};

class TGaugeBar : public TCustomGaugeBar {
public:
    using TCustomGaugeBar::TCustomGaugeBar;
    std::string ClassName() const override { return "TGaugeBar"; }
};

// The look of a pair of bars, forwarded to both (the image view's ScrollBars).
class TArrowBarAccess : public TPersistent {
public:
    TArrowBarAccess(TArrowBar* Master, TArrowBar* Slave) : FMaster(Master), FSlave(Slave) {}

    TRBBackgnd Backgnd() const { return FMaster->Backgnd(); }
    void SetBackgnd(TRBBackgnd Value);
    TControlBorderStyle BorderStyle() const { return FMaster->BorderStyle(); }
    void SetBorderStyle(TControlBorderStyle Value);
    int32_t ButtonSize() const { return FMaster->ButtonSize(); }
    void SetButtonSize(int32_t Value);
    TColor Color() const { return FMaster->Color(); }
    void SetColor(TColor Value);
    bool Framed() const { return FMaster->Framed(); }
    void SetFramed(bool Value);
    TColor HandleColor() const { return FMaster->HandleColor(); }
    void SetHandleColor(TColor Value);
    bool ShowArrows() const { return FMaster->ShowArrows(); }
    void SetShowArrows(bool Value);
    bool ShowHandleGrip() const { return FMaster->ShowHandleGrip(); }
    void SetShowHandleGrip(bool Value);

    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TArrowBarAccess"; }

protected:
    TArrowBar* FMaster;
    TArrowBar* FSlave;
};

} // namespace kv
