// The number edit with a spin button: a line edit holding an integer, hexadecimal or
// floating-point value as text, clamped to a range and stepped by an increment through
// the arrow keys, a two-part diagonal button or a standard up-down control.
#pragma once

#include "platform/Controls.h"
#include "platform/Graphics.h"
#include "platform/KvExtCtrls.h"
#include "widgets/KvDialogKeys.h"

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QToolButton;

namespace kv {

using Extended = long double;

enum TValueType : uint8_t { vtInteger, vtFloat, vtHex };
enum TSpinButtonKind : uint8_t { bkStandard, bkDiagonal };
enum TSpinButtonState : uint8_t { sbNotDown, sbTopDown, sbBottomDown };
enum TUDBtnType : uint8_t { btNext, btPrev };

// The one decimal separator shared by the float parser, the formatter and the key filter.
char DecimalSeparator();
void SetDecimalSeparator(char Value);
// StrToFloat: optional sign, digits with at most one DecimalSeparator, optional exponent;
// surrounding blanks allowed. Returns false on anything else.
bool TryStrToFloat(const std::string& S, Extended& Value);
// FloatToStrF(Value, ffFixed, 15, Digits): fixed notation with Digits decimals, or
// scientific notation when the integer part has more than 15 digits.
std::string FloatToStrFixed(Extended Value, int32_t Digits);
// IntToHex(Value, Digits) over the 32-bit two's complement: -1 gives "FFFFFFFF".
std::string IntToHex(int32_t Value, int32_t Digits);
// Round half to even, saturated to the 32-bit range (NaN gives 0).
int32_t RoundToInt32(Extended Value);
// The application's beep (MessageBeep); counted so tests can see it sounded.
void MessageBeep(uint32_t Type);
uint32_t MessageBeepCount();

// ---- The diagonal spin button --------------------------------------------------------

// A graphic control split by the diagonal from its bottom-left to its top-right corner:
// the upper-left triangle steps up, the lower-right one steps down.
class TKvSpinButton : public TCustomControl {
public:
    explicit TKvSpinButton(QWidget* AOwner = nullptr);
    ~TKvSpinButton() override;
    std::string ClassName() const override { return "TKvSpinButton"; }

    TBitmap* UpGlyph() const { return FUpBitmap.get(); }
    void SetUpGlyph(TBitmap* Value); // nil reloads "KVSPINUP"
    TBitmap* DownGlyph() const { return FDownBitmap.get(); }
    void SetDownGlyph(TBitmap* Value); // nil reloads "KVSPINDOWN"
    // Focused on a press when it can take the focus; cleared when it is destroyed.
    QWidget* FocusControl() const { return FFocusControl; }
    void SetFocusControl(QWidget* Value) { FFocusControl = Value; }

    TSpinButtonState Down() const { return FDown; }
    void SetDown(TSpinButtonState Value);
    // Whether (X, Y) lies in the upper-left (top) part.
    bool InTopPart(int32_t X, int32_t Y) const;

    TNotifyEvent OnTopClick;
    TNotifyEvent OnBottomClick;

    // What the repeat timer's expiry runs (public for tests that drive the clock).
    void TimerExpired();
    TTimer* RepeatTimer() const { return FRepeatTimer.get(); }
    // Draws the image of the current state onto Canvas (also what Paint does).
    void PaintOn(TCanvas& Canvas);

protected:
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;

private:
    void TopClick();
    void BottomClick();
    void RunPartClick(TSpinButtonState Part);
    void DrawAllBitmaps();
    void DrawBitmap(TBitmap& Bitmap, TSpinButtonState DownState);
    void GlyphChanged();
    bool LeftButtonHeld() const;

    std::unique_ptr<TBitmap> FUpBitmap;
    std::unique_ptr<TBitmap> FDownBitmap;
    QPointer<QWidget> FFocusControl;
    TSpinButtonState FDown = sbNotDown;
    TSpinButtonState FLastDown = sbNotDown; // the part pressed at MouseDown
    bool FDragging = false;
    bool FInvalidate = true;                         // the cached images need redrawing
    std::array<std::unique_ptr<TBitmap>, 3> FImages; // nothing, top, bottom pressed
    std::unique_ptr<TTimer> FRepeatTimer;
};

// ---- The standard up-down ----------------------------------------------------------

// A small vertical two-arrow control. Each arrow press scrolls the position one step and
// reports it as a thumb-position scroll; the spin edit turns that into a click and puts
// the position back to 0.
class TKvUpDown : public QWidget, public TObject {
public:
    explicit TKvUpDown(QWidget* AOwner = nullptr);
    std::string ClassName() const override { return "TKvUpDown"; }

    int32_t Min() const { return FMin; }
    void SetMin(int32_t Value) { FMin = Value; }
    int32_t Max() const { return FMax; }
    void SetMax(int32_t Value) { FMax = Value; }
    int32_t Position() const { return FPosition; }
    void SetPosition(int32_t Value) { FPosition = Value; } // UDM_SETPOS

    // A scroll to Pos with SB_THUMBPOSITION: a positive position clicks up, a negative
    // one down; then the position goes back to 0. Re-entry is ignored.
    void ThumbPosition(int32_t Pos);
    // What pressing an arrow does (the upper arrow is btNext).
    void ArrowPressed(TUDBtnType Button);

    std::function<void(TObject* Sender, TUDBtnType Button)> OnClick;

private:
    int32_t FMin = -1;
    int32_t FMax = 1;
    int32_t FPosition = 0;
    bool FChanging = false;
    QToolButton* FUp = nullptr;
    QToolButton* FDown = nullptr;
};

// ---- The spin edit -----------------------------------------------------------------

class TKvSpinEdit : public QLineEdit, public TObject {
public:
    explicit TKvSpinEdit(QWidget* AOwner = nullptr);
    ~TKvSpinEdit() override;
    std::string ClassName() const override { return "TKvSpinEdit"; }

    std::string Text() const { return text().toStdString(); }
    void SetText(const std::string& Value) { setText(QString::fromStdString(Value)); }

    // Moves and sizes the edit and lays it out at once (shown or not); never lower than
    // GetMinHeight.
    void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);

    Extended Value();
    void SetValue(Extended NewValue);
    Extended MinValue() const { return FMinValue; }
    void SetMinValue(Extended Value) { FMinValue = Value; }
    Extended MaxValue() const { return FMaxValue; }
    void SetMaxValue(Extended Value) { FMaxValue = Value; }
    Extended Increment() const { return FIncrement; }
    void SetIncrement(Extended Value) { FIncrement = Value; }
    uint8_t Decimal() const { return FDecimal; }
    void SetDecimal(uint8_t Value);
    TValueType ValueType() const { return FValueType; }
    void SetValueType(TValueType Value);
    TSpinButtonKind ButtonKind() const { return FButtonKind; }
    void SetButtonKind(TSpinButtonKind Value);
    bool EditorEnabled() const { return FEditorEnabled; }
    void SetEditorEnabled(bool Value) { FEditorEnabled = Value; }
    bool ArrowKeys() const { return FArrowKeys; }
    void SetArrowKeys(bool Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool Value);
    bool AutoSelect() const { return FAutoSelect; }
    void SetAutoSelect(bool Value) { FAutoSelect = Value; }
    bool ReadOnly() const { return isReadOnly(); }
    void SetReadOnly(bool Value) { setReadOnly(Value); }
    int32_t MaxLength() const { return maxLength(); }
    void SetMaxLength(int32_t Value) { setMaxLength(Value > 0 ? Value : 32767); }
    bool Modified() const { return isModified(); }
    void SetModified(bool Value) { setModified(Value); }
    bool RightToLeft() const { return layoutDirection() == Qt::RightToLeft; }
    void SetRightToLeft(bool Value);

    Extended CheckValue(Extended NewValue) const;
    virtual bool IsValidChar(char Key);
    virtual void UpClick(TObject* Sender);
    virtual void DownClick(TObject* Sender);

    TNotifyEvent OnChange;
    TNotifyEvent OnTopClick;
    TNotifyEvent OnBottomClick;

    // The keyboard handlers as the event loop calls them (public for tests): KeyDown may
    // consume the key by setting it to 0, KeyPress by setting the character to #0.
    virtual void KeyDown(uint16_t& Key, TShiftState Shift);
    virtual void KeyPress(char& Key);
    // WM_CUT / WM_PASTE: refused without EditorEnabled or with ReadOnly.
    void CutToClipboard();
    void PasteFromClipboard();

    TKvSpinButton* Button() const { return FButton; }
    TKvUpDown* UpDown() const { return FUpDown; }
    // The button's width as the text rectangle counts it.
    int32_t GetButtonWidth() const;
    // The margins that keep the text clear of the button: (left, right).
    std::pair<int32_t, int32_t> TextMargins() const;
    int32_t GetMinHeight() const;

protected:
    virtual void Change();
    void keyPressEvent(QKeyEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;

private:
    void Step(Extended Delta, const TNotifyEvent& Event);
    void RecreateButton();
    void ResizeButton();
    void SetEditRect();
    void ApplyAlignment();
    void UpDownClick(TObject* Sender, TUDBtnType Button);
    int32_t FrameWidth() const;
    bool EditAllowed() const { return FEditorEnabled && !isReadOnly(); }

    Extended FMinValue = 0;
    Extended FMaxValue = 0;
    Extended FIncrement = 1.0;
    uint8_t FDecimal = 2;
    TValueType FValueType = vtInteger;
    TSpinButtonKind FButtonKind = bkDiagonal;
    bool FEditorEnabled = true;
    bool FArrowKeys = true;
    TAlignment FAlignment = taLeftJustify;
    bool FCtl3D = true;
    bool FAutoSelect = true;
    bool FChanging = false;           // a step or the destructor is changing the text
    TKvSpinButton* FButton = nullptr; // owned through Qt's parent; never both
    TKvUpDown* FUpDown = nullptr;
};

} // namespace kv
