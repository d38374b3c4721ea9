// The panel, picture and scroll-box controls of the platform's extended control set,
// built on the control base: TPanel (caption, bevels, border), TImage (a picture drawn
// stretched or at its size) and TScrollBox (children placed in visible-area
// coordinates, moved as a whole when the box scrolls, as the platform's box does).
#pragma once

#include "platform/Controls.h"
#include "platform/Graphics.h"

#include <functional>
#include <memory>
#include <string>

class QScrollBar;

namespace kv {

enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TPanelBevel : uint8_t { bvNone, bvLowered, bvRaised };

using TKeyEvent = std::function<void(TObject* Sender, uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;

// Virtual-key codes of the navigation keys.
constexpr uint16_t VK_RETURN = 0x0D, VK_ESCAPE = 0x1B, VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23, VK_HOME = 0x24,
                   VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28;

// The base of the three: Click and DblClick as overridable steps. The control base
// calls its own OnClick slot on a release inside the control; here that slot runs
// Click(), which calls this class's OnClick (the field hides the base's).
class TClickControl : public TCustomControl {
public:
    explicit TClickControl(QWidget* AOwner = nullptr);
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    virtual void Click();
    virtual void DblClick();
    // Entry points that let a child hand its mouse events to this control.
    void ForwardMouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
    {
        MouseDown(Button, Shift, X, Y);
    }
    void ForwardMouseMove(TShiftState Shift, int32_t X, int32_t Y) { MouseMove(Shift, X, Y); }
    void ForwardMouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) { MouseUp(Button, Shift, X, Y); }

protected:
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
};

class TPanel : public TClickControl {
public:
    explicit TPanel(QWidget* AOwner = nullptr);
    ~TPanel() override;
    std::string ClassName() const override { return "TPanel"; }

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    TPanelBevel BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TPanelBevel Value);
    int32_t BevelWidth() const { return FBevelWidth; }
    int32_t BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int32_t Value);
    TFont* Font() { return FFont.get(); }
    void SetFont(TFont* Value) { FFont->Assign(Value); }

protected:
    void Paint() override;

private:
    std::string FCaption;
    TAlignment FAlignment = taCenter;
    TPanelBevel FBevelOuter = bvRaised;
    int32_t FBevelWidth = 1;
    int32_t FBorderWidth = 0;
    std::unique_ptr<TFont> FFont;
};

class TImage : public TClickControl {
public:
    explicit TImage(QWidget* AOwner = nullptr);
    ~TImage() override;
    std::string ClassName() const override { return "TImage"; }

    TPicture* Picture() { return FPicture.get(); }
    bool Stretch() const { return FStretch; }
    void SetStretch(bool Value);
    // Reported by the graphic while it loads through LoadPicture.
    TProgressEvent OnProgress;
    // The picture's LoadFromFile with the graphic's progress routed to OnProgress, as
    // the platform's picture does while it reads: the class registered for the
    // extension (compared in lower case) reads the file; an unknown extension raises
    // EInvalidGraphic "Unknown picture file extension (.ext)".
    void LoadPicture(const std::string& FileName);

protected:
    void Paint() override;

private:
    std::unique_ptr<TPicture> FPicture;
    bool FStretch = false;
};

class TScrollBox;

// One scroll bar of a scroll box: the range follows the children; Position is clamped
// to 0 .. Range - client size.
class TControlScrollBar {
public:
    TControlScrollBar(TScrollBox* Owner, TScrollBarKind Kind);
    int32_t Position() const { return FPosition; }
    void SetPosition(int32_t Value);
    int32_t Range() const { return FRange; }
    bool Tracking() const { return FTracking; }
    void SetTracking(bool Value);
    bool IsScrollBarVisible() const;
    int32_t Increment() const { return 8; }

private:
    friend class TScrollBox;
    TScrollBox* FOwner;
    TScrollBarKind FKind;
    int32_t FPosition = 0;
    int32_t FRange = 0;
    bool FTracking = false;
    QScrollBar* FBar = nullptr;
};

class TScrollBox : public TClickControl {
public:
    explicit TScrollBox(QWidget* AOwner = nullptr);
    ~TScrollBox() override;
    std::string ClassName() const override { return "TScrollBox"; }

    TControlScrollBar* HorzScrollBar() { return FHorz.get(); }
    TControlScrollBar* VertScrollBar() { return FVert.get(); }
    // The area the children are seen in: the outer size less the shown bars.
    int32_t ClientWidth() const;
    int32_t ClientHeight() const;
    // Recomputes both ranges from the children (call after moving them).
    void Realign();
    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value) { FCaption = Value; }

protected:
    void Paint() override;
    void Resize() override;
    bool DoMouseWheelDefault(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) override;

private:
    friend class TControlScrollBar;
    void ScrollChildren(int32_t DX, int32_t DY);
    void LayoutBars();
    std::unique_ptr<TControlScrollBar> FHorz;
    std::unique_ptr<TControlScrollBar> FVert;
    std::string FCaption;
    bool FInRealign = false;
};

} // namespace kv
