// An owner-drawn push button with six drawing styles, ten colour schemes, stock kinds, a
// glyph strip, and a hot-track colour that shows while the mouse is over it and can fade
// back to the normal colour in eight 30 ms steps after the mouse leaves.
#pragma once

#include "platform/Controls.h"
#include "platform/Dialogs.h"
#include "platform/Graphics.h"
#include "platform/KvExtCtrls.h"
#include "widgets/KvDialogKeys.h"

#include <QImage>
#include <QMenu>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <string>

namespace kv {

enum TLbColorStyle : uint8_t {
    lcsCustom,
    lcsGold,
    lcsChrome,
    lcsBlue,
    lcsRed,
    lcsUltraFlat1,
    lcsUltraFlat2,
    lcsUltraFlatXP,
    lcsAqua,
    lcsDefault,
    lcsQuicken
};
enum TLbButtonStyle : uint8_t { bsNormal, bsEncarta, bsModern, bsOld, bsShape, bsQuicken };
enum TLbButtonKind : uint8_t {
    bkCustom,
    bkOK,
    bkCancel,
    bkHelp,
    bkYes,
    bkNo,
    bkClose,
    bkAbort,
    bkRetry,
    bkIgnore,
    bkAll
};
enum TLbButtonLayout : uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// The key colour of the transparent styles: pixels left in it show what lies behind.
constexpr TColor LbKeyColor = 0xFF00FF;
constexpr int32_t LbFadeSteps = 8;
constexpr uint32_t LbFadeInterval = 30; // milliseconds between fade steps

// Per channel Trunc(A x (1 - T) + B x T) with T = Counter / 8, on resolved colours.
TColor LbMixColors(TColor A, TColor B, int32_t Counter);
// The colour of band Index (0..31) of a 32-band gradient from Start to Stop: each channel
// is Start + Trunc(Index x (Stop - Start) / 31), a real step, so band 31 is Stop exactly.
TColor LbGradientBand(TColor Start, TColor Stop, int32_t Index);
// Drops characters from the end of Caption until Fits accepts it or nothing is left.
std::string LbFitCaption(std::string Caption, const std::function<bool(const std::string&)>& Fits);

class TLbButton : public TCustomControl, public TDialogKeyTarget {
public:
    explicit TLbButton(QWidget* AOwner = nullptr);
    ~TLbButton() override;
    std::string ClassName() const override { return "TLbButton"; }

    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);
    TColor Color() const { return TCustomControl::Color(); }
    void SetColor(TColor Value);
    TLbColorStyle ColorStyle() const { return FColorStyle; }
    void SetColorStyle(TLbColorStyle Value);
    TColor ColorWhenDown() const { return FColorWhenDown; }
    void SetColorWhenDown(TColor Value);
    TColor HotTrackColor() const { return FHotTrackColor; }
    void SetHotTrackColor(TColor Value);
    TColor LightColor() const { return FLightColor; }
    void SetLightColor(TColor Value);
    TColor ShadowColor() const { return FShadowColor; }
    void SetShadowColor(TColor Value);
    bool Default() const { return FDefault; }
    void SetDefault(bool Value) { FDefault = Value; }
    bool Cancel() const { return FCancel; }
    void SetCancel(bool Value) { FCancel = Value; }
    bool Flat() const { return FFlat; }
    void SetFlat(bool Value);
    TBitmap* Glyph() const { return FGlyph.get(); }
    void SetGlyph(TBitmap* Value); // copies; nil empties
    int32_t NumGlyphs() const { return FNumGlyphs; }
    void SetNumGlyphs(int32_t Value);
    TFont* Font() const { return FFont.get(); }
    TFont* HotTrackFont() const { return FHotTrackFont.get(); }
    bool UseHotTrackFont() const { return FUseHotTrackFont; }
    void SetUseHotTrackFont(bool Value);
    TLbButtonKind Kind() const { return FKind; }
    void SetKind(TLbButtonKind Value);
    TLbButtonLayout Layout() const { return FLayout; }
    void SetLayout(TLbButtonLayout Value);
    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult Value);
    bool SlowDecease() const { return FSlowDecease; }
    void SetSlowDecease(bool Value);
    TLbButtonStyle Style() const { return FStyle; }
    void SetStyle(TLbButtonStyle Value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    // Popped up at the button's bottom-left corner on a click (not owned).
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* Value) { FPopupMenu = Value; }

    // The button's own click (the control base's OnClick stays unused: Click decides).
    TNotifyEvent OnClick;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseExit;

    bool IsDown() const { return FDown; }
    bool Hot() const { return FHot; }
    int32_t FadeCounter() const { return FFadeCounter; }
    bool FadeRunning() const;
    // The face colour for the current state (see LbMixColors).
    TColor BackgroundColor() const;

    virtual void Click();
    // What the event loop calls (public so tests can drive them without a pointer).
    void MouseEnter() override;
    void MouseLeave() override;
    void FadeTick();
    void KeyDown(uint16_t Key);
    void KeyUp(uint16_t Key);
    bool DialogKey(uint16_t Key, TShiftState Shift) override;
    // The whole button as it is painted, including the key colour of transparent styles.
    QImage Render();
    // Its designed size (100 x 23), wide enough for the caption: a layout never squeezes
    // it out of sight.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void EnabledChanged() override;
    void paintEvent(QPaintEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void keyReleaseEvent(QKeyEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    bool event(QEvent* Event) override;

private:
    bool ParentShowing() const;
    bool HotOrFocused() const;
    bool TransparentStyle() const { return FStyle == bsModern || FStyle == bsShape || FStyle == bsQuicken; }
    void StopFade();
    void Changed();
    void UpdateMnemonic();
    void DrawFace(QPainter& Painter, int32_t W, int32_t H, TColor Bg);
    void DrawFrame(QPainter& Painter, int32_t W, int32_t H, TColor Bg);
    void DrawContents(QPainter& Painter, int32_t W, int32_t H);

    TAlignment FAlignment = taCenter;
    std::string FCaption;
    TLbColorStyle FColorStyle = lcsCustom;
    TColor FColorWhenDown = clNone;
    TColor FHotTrackColor = clNone;
    TColor FLightColor = 0xFFFFFF;
    TColor FShadowColor = 0x808080;
    bool FDefault = false;
    bool FCancel = false;
    bool FFlat = false;
    std::unique_ptr<TBitmap> FGlyph;
    int32_t FNumGlyphs = 0;
    std::unique_ptr<TFont> FFont;
    std::unique_ptr<TFont> FHotTrackFont;
    bool FUseHotTrackFont = false;
    TLbButtonKind FKind = bkCustom;
    TLbButtonLayout FLayout = blGlyphLeft;
    TModalResult FModalResult = mrNone;
    bool FSlowDecease = false;
    TLbButtonStyle FStyle = bsNormal;
    bool FWordWrap = false;
    QPointer<QMenu> FPopupMenu;

    bool FDown = false;
    bool FHot = false;
    int32_t FFadeCounter = 0;
    bool FDestroying = false;
    int FMnemonicId = 0;
    // The fade's ticks: a timer on the user-interface thread, running only while a fade
    // is under way; it is a member, so it cannot outlive the button.
    std::unique_ptr<TTimer> FFadeTimer;
};

} // namespace kv
