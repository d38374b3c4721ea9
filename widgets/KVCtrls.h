// Labels with a one-colour text shadow, and speed buttons with up to five glyph images,
// radio-style groups, auto-repeat, a drop-down menu and flat hot tracking. The glyph
// images of all speed buttons live in image lists shared through one cache.
#pragma once

#include "platform/Controls.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/Graphics.h"
#include "platform/KvExtCtrls.h" // TAlignment

#include <QMenu>
#include <QPointer>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QShortcut;

namespace kv {

enum TTextLayout : uint8_t { tlTop, tlCenter, tlBottom };
enum TShadowPosition : uint8_t { spLeftTop, spLeftBottom, spRightBottom, spRightTop };
enum TButtonLayout : uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum TButtonState : uint8_t { bsUp, bsDisabled, bsDown, bsExclusive, bsInactive };
enum TButtonStyle : uint8_t { bsAutoDetect, bsWin31, bsNew };
enum TKvDropDownMenuPos : uint8_t { dmpBottom, dmpRight };
enum TPopupAlignment : uint8_t { paLeft, paRight, paCenter };
using TKvNumGlyphs = int32_t; // 1..5

// Draws Text twice: in ShadowColor into R moved by ShadowSize towards ShadowPos, then in
// the font colour into R. R becomes the union of both rectangles (with DT_CALCRECT: of
// both measured rectangles); returns the text height plus ShadowSize.
int32_t DrawShadowText(TCanvas& Canvas, const std::string& Text, TRect& R, uint32_t Format, uint8_t ShadowSize,
                       TColor ShadowColor, TShadowPosition ShadowPos);

// ---- Hot tracking -----------------------------------------------------------------

// What the label and the speed button share: whether the mouse is over the control,
// with its enter and leave events (checked again on show, enable and when the
// application comes back), and an optional transparent background.
class TKvTrackingControl : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    std::string ClassName() const override { return "TKvTrackingControl"; }

    bool MouseInControl() const { return FMouseInControl; }
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);

    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    // What the event loop delivers, for tests and tooling.
    void SimulateMouseEnter() { MouseEnter(); }
    void SimulateMouseLeave() { MouseLeave(); }
    void PaintNow()
    {
        Canvas();
        Paint();
    }

protected:
    void MouseEnter() override;
    void MouseLeave() override;
    void EnabledChanged() override;
    void paintEvent(QPaintEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    // While the left button is held on the control, leaving it is not a leave yet: the
    // release decides.
    virtual bool MouseHeld() const = 0;
    // Called when MouseInControl has changed, before OnMouseEnter / OnMouseLeave.
    virtual void MouseInControlChanged() {}
    void SetMouseInControl(bool Value);
    void UpdateTracking();

private:
    bool FMouseInControl = false;
    bool FTransparent = false;
};

// ---- Label ------------------------------------------------------------------------

class TKvCustomLabel : public TKvTrackingControl {
public:
    explicit TKvCustomLabel(QWidget* AOwner = nullptr);
    ~TKvCustomLabel() override;
    std::string ClassName() const override { return "TKvCustomLabel"; }

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);
    TFont* Font() { return FFont.get(); }

    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    TTextLayout Layout() const { return FLayout; }
    void SetLayout(TTextLayout Value);
    TColor ShadowColor() const { return FShadowColor; }
    void SetShadowColor(TColor Value);
    uint8_t ShadowSize() const { return FShadowSize; }
    void SetShadowSize(uint8_t Value);
    TShadowPosition ShadowPos() const { return FShadowPos; }
    void SetShadowPos(TShadowPosition Value);
    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool Value);
    bool ShowFocus() const { return FShowFocus; }
    void SetShowFocus(bool Value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    // Held without ownership; forgotten when that control goes.
    QWidget* FocusControl() const { return FFocusControl; }
    void SetFocusControl(QWidget* Value);

    // Re-measures and takes the text's size (with AutoSize).
    void AdjustBounds();
    // The accelerator (CM_DIALOGCHAR): focuses FocusControl when the key is the caption's
    // accelerator and everything allows it; returns whether it was taken.
    bool DialogChar(char32_t Key);

protected:
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    bool MouseHeld() const override { return FPressed; }
    // Draws (or with DT_CALCRECT measures) the caption with the label's shadow.
    virtual void DoDrawText(TCanvas& ACanvas, TRect& R, uint32_t Flags);

private:
    void FontChanged();
    void FocusChanged(QWidget* Old, QWidget* Now);
    void UpdateAccelerator();
    uint32_t AlignmentFlags() const;

    std::string FCaption;
    std::unique_ptr<TFont> FFont;
    TAlignment FAlignment = taLeftJustify;
    bool FAutoSize = true;
    TTextLayout FLayout = tlTop;
    TColor FShadowColor = clBtnHighlight;
    uint8_t FShadowSize = 1;
    TShadowPosition FShadowPos = spLeftTop;
    bool FShowAccelChar = true;
    bool FShowFocus = false;
    bool FWordWrap = false;
    QPointer<QWidget> FFocusControl;
    int32_t FLeftMargin = 0;
    int32_t FRightMargin = 0;
    bool FPressed = false;
    bool FFocused = false;
    QShortcut* FAccelerator = nullptr; // owned by this widget as its Qt child
};

class TKvLabel : public TKvCustomLabel {
public:
    using TKvCustomLabel::TKvCustomLabel;
    std::string ClassName() const override { return "TKvLabel"; }
};

// ---- Glyph lists ------------------------------------------------------------------

// An image list of one image size: slots reused after Delete, each image keyed on the
// mask colour it was added with.
class TGlyphList : public TObject {
public:
    TGlyphList(int32_t AWidth, int32_t AHeight);
    ~TGlyphList() override;
    std::string ClassName() const override { return "TGlyphList"; }

    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    // Adds a copy of Image (Width x Height); its pixels of MaskColor stay transparent.
    // Takes the first free slot and returns its index.
    int32_t AddMasked(TBitmap& Image, TColor MaskColor);
    void Delete(int32_t Index);
    // Used slots.
    int32_t Count() const { return FCount; }
    // Draws the image at (X, Y). Enabled false draws its silhouette the disabled way.
    void Draw(TCanvas& Canvas, int32_t X, int32_t Y, int32_t Index, bool Enabled = true);
    TBitmap* Image(int32_t Index) const;
    TColor MaskColor(int32_t Index) const;

private:
    struct TSlot {
        std::unique_ptr<TBitmap> Image;
        TColor MaskColor = clNone;
    };
    int32_t FWidth;
    int32_t FHeight;
    std::vector<TSlot> FSlots; // an empty Image marks a free slot
    int32_t FCount = 0;
};

// The lists of all glyphs by image size. Owned by the unit while any TKvButtonGlyph lives.
class TGlyphCache : public TObject {
public:
    ~TGlyphCache() override;
    std::string ClassName() const override { return "TGlyphCache"; }
    TGlyphList* GetList(int32_t AWidth, int32_t AHeight);
    // Frees List when it holds no image any more.
    void ReturnList(TGlyphList* List);
    bool Empty() const { return FLists.empty(); }
    int32_t ListCount() const { return int32_t(FLists.size()); }

private:
    std::vector<std::unique_ptr<TGlyphList>> FLists;
};

// The cache while it exists (tests look at it); null when no glyph lives.
TGlyphCache* GlyphCache();

// The images of one speed button: the assigned glyph split into up to five images (up,
// disabled, down, exclusive, inactive), made per state on demand into the shared lists.
class TKvButtonGlyph : public TObject {
public:
    TKvButtonGlyph();
    ~TKvButtonGlyph() override;
    std::string ClassName() const override { return "TKvButtonGlyph"; }

    TBitmap* Glyph() { return FOriginal.get(); }
    // Copies Value (null or empty clears); a bitmap whose width is a whole multiple of its
    // height gives that many images, above 5 counting as 1.
    void SetGlyph(TBitmap* Value);
    TKvNumGlyphs NumGlyphs() const { return FNumGlyphs; }
    void SetNumGlyphs(TKvNumGlyphs Value);
    TColor TransparentColor() const { return FTransparentColor; }
    // Drops every made image (the system colours changed, or the glyph did).
    void Invalidate();
    // The list index of the image of State, made when missing; -1 without a glyph.
    int32_t CreateButtonGlyph(TButtonState State);
    TGlyphList* GlyphList() const { return FGlyphList; }
    TSize ImageSize() const;

    // Lays out and draws glyph, caption and drop-down arrow in Client; returns the
    // caption rectangle.
    TRect Draw(TCanvas& Canvas, const TRect& Client, const TPoint& Offset, const std::string& Caption,
               TButtonLayout Layout, int32_t Margin, int32_t Spacing, bool PopupMark, TButtonState State,
               TAlignment Alignment, bool WordWrap);

    // The layout alone: where the glyph goes and the caption rectangle (both including
    // Client's origin and Offset), and the caption as shortened to its room.
    struct TLayout {
        TPoint GlyphPos;
        TRect TextBounds;
        std::string Caption;
        TPoint ArrowPos;
    };
    TLayout CalcButtonLayout(TCanvas& Canvas, const TRect& Client, const TPoint& Offset, const std::string& Caption,
                             TButtonLayout Layout, int32_t Margin, int32_t Spacing, bool PopupMark,
                             TAlignment Alignment, bool WordWrap);

    TNotifyEvent OnChange;

private:
    void GlyphChanged();
    std::unique_ptr<TBitmap> FOriginal;
    TKvNumGlyphs FNumGlyphs = 1;
    TColor FTransparentColor = clFuchsia;
    std::array<int32_t, 5> FIndexs{-1, -1, -1, -1, -1};
    TGlyphList* FGlyphList = nullptr; // owned by the glyph cache
};

// The drop-down arrow: rows of 7, 5, 3 and 1 pixels, the top one at Y - 1 from X to X + 6.
void DrawDropDownArrow(TCanvas& Canvas, int32_t X, int32_t Y, TColor Color);

// ---- Speed button -------------------------------------------------------------------

class TKvSpeedButton : public TKvTrackingControl {
public:
    explicit TKvSpeedButton(QWidget* AOwner = nullptr);
    ~TKvSpeedButton() override;
    std::string ClassName() const override { return "TKvSpeedButton"; }

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);
    TFont* Font() { return FFont.get(); }
    void SetHint(const std::string& Value);

    bool AllowAllUp() const { return FAllowAllUp; }
    void SetAllowAllUp(bool Value);
    bool AllowTimer() const { return FAllowTimer; }
    void SetAllowTimer(bool Value);
    uint16_t InitPause() const { return FInitPause; }
    void SetInitPause(uint16_t Value) { FInitPause = Value; }
    uint16_t RepeatInterval() const { return FRepeatInterval; }
    void SetRepeatInterval(uint16_t Value) { FRepeatInterval = Value; }
    int32_t GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int32_t Value);
    bool Down() const { return FDown; }
    void SetDown(bool Value);
    QMenu* DropDownMenu() const { return FDropDownMenu; }
    void SetDropDownMenu(QMenu* Value);
    // The TPopupMenu's own alignment, kept with the button since Qt's menu has none.
    TPopupAlignment MenuAlignment() const { return FMenuAlignment; }
    void SetMenuAlignment(TPopupAlignment Value) { FMenuAlignment = Value; }
    TKvDropDownMenuPos MenuPosition() const { return FMenuPosition; }
    void SetMenuPosition(TKvDropDownMenuPos Value) { FMenuPosition = Value; }
    bool MarkDropDown() const { return FMarkDropDown; }
    void SetMarkDropDown(bool Value);
    bool Flat() const { return FFlat; }
    void SetFlat(bool Value);
    bool GrayedInactive() const { return FGrayedInactive; }
    void SetGrayedInactive(bool Value);
    TBitmap* Glyph() { return FGlyph->Glyph(); }
    void SetGlyph(TBitmap* Value);
    TKvNumGlyphs NumGlyphs() const { return FGlyph->NumGlyphs(); }
    void SetNumGlyphs(TKvNumGlyphs Value);
    TButtonLayout Layout() const { return FLayout; }
    void SetLayout(TButtonLayout Value);
    int32_t Margin() const { return FMargin; }
    void SetMargin(int32_t Value);
    int32_t Spacing() const { return FSpacing; }
    void SetSpacing(int32_t Value);
    TButtonStyle Style() const { return FStyle; }
    void SetStyle(TButtonStyle Value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult Value) { FModalResult = Value; }

    TButtonState State() const { return FState; }
    bool Dragging() const { return FDragging; }
    TKvButtonGlyph* ButtonGlyph() const { return FGlyph.get(); }
    // The repeat timer (null until first used or after AllowTimer went off).
    TTimer* RepeatTimer() const { return FRepeatTimer.get(); }
    // The caption rectangle of the last paint.
    TRect TextBounds() const { return FTextBounds; }

    // The parent form's ModalResult, then OnClick.
    virtual void Click();
    // CM_DIALOGCHAR: clicks an enabled button whose caption has Key as accelerator.
    bool DialogChar(char32_t Key);
    // CM_BUTTONPRESSED from a sibling.
    void ButtonPressed(int32_t Group, TKvSpeedButton* Sender);
    // CM_SYSCOLORCHANGE: the images are made again with the new colours.
    void SysColorChange();
    // What a repeat-timer expiry does.
    void TimerExpired();

    // Hides TCustomControl's click event: the button decides itself when a click happens.
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;

protected:
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void EnabledChanged() override;
    void changeEvent(QEvent* Event) override;
    bool MouseHeld() const override { return FDragging; }
    void MouseInControlChanged() override;
    // Shows the drop-down menu at the screen point (blocks until it closes).
    virtual void PopupDropDownMenu(const TPoint& ScreenPos);
    TButtonState FState = bsUp;

private:
    void UpdateExclusive();
    void DoDropDownMenu();
    TPoint MenuPoint() const;
    void StopTimer();
    void UpdateAccelerator();
    bool NewLook() const;

    std::unique_ptr<TKvButtonGlyph> FGlyph;
    std::string FCaption;
    std::unique_ptr<TFont> FFont;
    int32_t FGroupIndex = 0;
    bool FDown = false;
    bool FDragging = false;
    bool FAllowAllUp = false;
    bool FAllowTimer = false;
    uint16_t FInitPause = 500;
    uint16_t FRepeatInterval = 100;
    QPointer<QMenu> FDropDownMenu;
    TPopupAlignment FMenuAlignment = paLeft;
    TKvDropDownMenuPos FMenuPosition = dmpBottom;
    bool FMarkDropDown = true;
    bool FMenuDropping = false;
    bool FFlat = false;
    bool FGrayedInactive = true;
    TButtonLayout FLayout = blGlyphTop;
    int32_t FMargin = -1;
    int32_t FSpacing = 1;
    TButtonStyle FStyle = bsAutoDetect;
    bool FWordWrap = false;
    TAlignment FAlignment = taCenter;
    TModalResult FModalResult = mrNone;
    std::unique_ptr<TTimer> FRepeatTimer;
    TRect FTextBounds;
    QShortcut* FAccelerator = nullptr; // Qt child of this widget
};

} // namespace kv
