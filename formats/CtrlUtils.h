// Plain drawing, window and memory routines shared by the GIF codec, the colour
// reduction, the animated-cursor reader and the custom controls.
#pragma once

#include "platform/Graphics.h"
#include "platform/Types.h"

#include <memory>

#include <cstdint>
#include <string>

class QWidget;

namespace kv {

class TCustomImageList;

// ---- Memory -----------------------------------------------------------------------

// A zero-filled block of Size bytes; nil for a size below 1. Stand-in for a locked,
// movable global block: callers only ever hold the pointer.
void* AllocZeroedBlock(int64_t Size);
// Frees a block of AllocZeroedBlock and sets P to nil; nothing when P is nil.
void FreeZeroedBlock(void*& P);
template <typename T> void FreeZeroedBlock(T*& P)
{
    void* v = P;
    FreeZeroedBlock(v);
    P = nullptr;
}
bool SameBytes(const void* P1, const void* P2, int32_t Count);
inline void* OffsetPointer(void* P, int64_t Offset) { return static_cast<uint8_t*>(P) + Offset; }
inline const void* OffsetPointer(const void* P, int64_t Offset) { return static_cast<const uint8_t*>(P) + Offset; }
void CopyBytes(void* Dst, const void* Src, int64_t Count);
// Resource-string texts pass through here; the texts are already UTF-8.
inline std::string PassResourceText(const std::string& S) { return S; }

// ---- Rectangles ---------------------------------------------------------------------

inline int32_t WidthOfRect(const TRect& R) { return R.Right - R.Left; }
inline int32_t HeightOfRect(const TRect& R) { return R.Bottom - R.Top; }
// Moves R onto Screen keeping its size: past the right or bottom edge it is shifted
// left or up, then a negative left or top is shifted right or down.
void FitRectToScreen(TRect& R, const TRect& Screen);
// The same on the primary screen.
void FitRectToScreen(TRect& R);

// ---- Windows ------------------------------------------------------------------------

// Places the window in the middle of the screen, brought onto it, keeping its size,
// z-order and activation.
void CenterOnScreen(QWidget* Wnd);
// True when the active window belongs to this thread (the user-interface thread).
bool OwnsActiveWindow();
// Paints into Dest (in the control's coordinates) what lies behind Control: the
// parent's own background and drawing (not its children), then each visible sibling
// below Control in z-order that overlaps it. The parent and those siblings answer
// PaintingCopy meanwhile. Nothing without a control or a parent.
void PaintParentBackground(QWidget* Control, TCanvas& Dest);
// True while PaintParentBackground paints Wnd as a copy behind another control.
bool PaintingCopy(const QWidget* Wnd);
// Drops one pending event of kind Msg (a QEvent::Type) for Wnd: the first such event
// that reaches Wnd before the event loop next waits for input is discarded. Events of
// other kinds, other windows' events and the application's quit are never touched, so
// nothing needs re-posting.
void DropPendingMessage(QWidget* Wnd, int32_t Msg);

// ---- Drawing ------------------------------------------------------------------------

// The colour as RGB with 0x02000000 added (palette-relative).
int32_t PaletteRelativeColor(TColor Color);
// Stretched copy of the source rectangle in which pixels of TransparentColor leave the
// destination unchanged (mask with SRCAND, then the masked source with SRCPAINT).
void MaskedStretchBlt(HDC DstDC, int32_t DstX, int32_t DstY, int32_t DstW, int32_t DstH, HDC SrcDC, int32_t SrcX,
                      int32_t SrcY, int32_t SrcW, int32_t SrcH, HPALETTE Palette, TColor TransparentColor);
// Draws Bitmap stretched, keyed on TransparentColor: clNone draws plainly in the canvas's
// copy mode; 0x20000000 keys on the bottom-left pixel; a monochrome bitmap keys on
// white. A zero or negative destination size takes the bitmap's size; a zero or
// negative source size takes the whole bitmap.
void DrawBitmapKeyed(TCanvas& Dest, TBitmap& Bitmap, TColor TransparentColor, int32_t DstX, int32_t DstY, int32_t DstW,
                     int32_t DstH, int32_t SrcX, int32_t SrcY, int32_t SrcW, int32_t SrcH);
void DrawBitmapRectKeyed(TCanvas& Dest, int32_t DstX, int32_t DstY, int32_t DstW, int32_t DstH, const TRect& SrcRect,
                         TBitmap& Bitmap, TColor TransparentColor);
// The "disabled" look of a glyph on a BackColor ground: pixels of OutlineColor are the
// set bits of the monochrome copy and keep the ground; every other pixel takes the
// highlight colour one pixel right and down (when DrawHighlight), then the shadow colour.
std::unique_ptr<TBitmap> MakeDisabledGlyphEx(TBitmap& Source, TColor OutlineColor, TColor BackColor,
                                             TColor HighlightColor, TColor ShadowColor, bool DrawHighlight);
std::unique_ptr<TBitmap> MakeDisabledGlyph(TBitmap& Source, TColor OutlineColor);
// Image Index of Images drawn disabled: its opaque pixels (by its mask) in
// HighlightColor at (X + 1, Y + 1) when DrawHighlight, then in GrayColor at (X, Y), with
// the raster operation of the disabled glyphs; see-through pixels leave the canvas
// alone. The canvas's brush colour is kept.
void DrawImageListDisabled(const TCustomImageList& Images, TCanvas& Canvas, int32_t X, int32_t Y, int32_t Index,
                           TColor HighlightColor, TColor GrayColor, bool DrawHighlight);
// S cut at its end, "..." appended, until it fits MaxWidth on the canvas; unchanged when it fits.
void EllipsizeToWidth(const std::string& S, TCanvas& Canvas, int32_t MaxWidth, std::string& Result);

// ---- Messages ----------------------------------------------------------------------

// Sets the default cursor, shows "Функция не реализована" as information with OK, then
// ends the operation silently (EAbort).
[[noreturn]] void ShowNotAvailable();
extern const char* const SNotAvailable;

} // namespace kv
