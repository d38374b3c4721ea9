// The working raster of the program: TBitmap32 with its two base classes (lock, update
// counter and change event; size and resize event), its storage, streams and drawing.
#pragma once

#include "raster/Raster32_Blend.h"
#include "raster/Raster32_LowLevel.h"
#include "raster/Raster32_Types.h"

#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "platform/SysUtils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kv {

// Lock, update counter and change event. Changed notifies only while no update is open.
class TThreadPersistent : public TPersistent {
public:
    TThreadPersistent() = default;
    ~TThreadPersistent() override = default;

    void BeginUpdate() { ++FUpdateCount; }
    // Fires nothing: callers call Changed after it.
    void EndUpdate();
    virtual void Changed();
    void Lock();
    void Unlock();

    int32_t UpdateCount() const { return FUpdateCount; }
    int32_t LockCount() const;

    TNotifyEvent OnChange;
    std::string ClassName() const override { return "TThreadPersistent"; }

private:
    std::recursive_mutex FLock;
    int32_t FLockCount = 0;
    int32_t FUpdateCount = 0;
};

// Holds an update open for a scope, so that a failure half way never leaves the
// counter raised (which would silence OnChange for good).
class TUpdateGuard {
public:
    explicit TUpdateGuard(TThreadPersistent& Target) : FTarget(Target) { FTarget.BeginUpdate(); }
    ~TUpdateGuard() { FTarget.EndUpdate(); }
    TUpdateGuard(const TUpdateGuard&) = delete;
    TUpdateGuard& operator=(const TUpdateGuard&) = delete;

private:
    TThreadPersistent& FTarget;
};

class TCustomMap : public TThreadPersistent {
public:
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    // Stores both sides; True when either differed.
    virtual bool SetSize(int32_t NewWidth, int32_t NewHeight);
    void SetWidth(int32_t Value) { SetSize(Value, FHeight); }
    void SetHeight(int32_t Value) { SetSize(FWidth, Value); }
    virtual void MakeEmpty() { SetSize(0, 0); }
    virtual bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }
    virtual void Resized();

    TNotifyEvent OnResize;
    std::string ClassName() const override { return "TCustomMap"; }

protected:
    int32_t FWidth = 0;
    int32_t FHeight = 0;
};

enum TDrawMode : uint8_t { dmOpaque, dmBlend, dmCustom };
enum TStretchFilter : uint8_t { sfNearest, sfLinear, sfLinear2, sfSpline };

// dmCustom: combines foreground F into background B with master alpha M.
using TPixelCombineEvent = std::function<void(TColor32 F, TColor32& B, uint32_t M)>;

class TBitmap32 : public TCustomMap {
public:
    TBitmap32();
    ~TBitmap32() override;

    // ---- Storage --------------------------------------------------------------------
    // A side below 1 becomes 0; a zero side leaves the bitmap empty but keeps the other
    // side as given. New pixels are all zero. Raises EOutOfResources "Can't allocate the
    // DIB handle" when the block cannot be had (the bitmap is then 0 x 0).
    bool SetSize(int32_t NewWidth, int32_t NewHeight) override;
    // SetSize for a caller that writes every pixel before any is read: the new pixels
    // are left as the block held them.
    bool SetSizeForOverwrite(int32_t NewWidth, int32_t NewHeight);
    bool IsEmpty() const override { return FBits == nullptr || FWidth == 0 || FHeight == 0; }
    void MakeEmpty() override { SetSize(0, 0); }

    // Row 0 first, Width pixels a row, no padding; null when empty.
    TColor32* Bits() { return FBits; }
    const TColor32* Bits() const { return FBits; }
    // The device context over the pixel block (null when empty): text and blits.
    TCanvas* Canvas() { return FCanvas.get(); }
    HDC Handle() { return FCanvas ? FCanvas->Handle() : nullptr; }

    void Clear() { ClearTo(clBlack32); }
    void ClearTo(TColor32 Color);
    void MakeOpaque();
    // Copies the whole bitmap onto DC at (X, Y) (SRCCOPY).
    void DrawToDC(HDC DC, int32_t X, int32_t Y);

    TDrawMode DrawMode() const { return FDrawMode; }
    void SetDrawMode(TDrawMode Value);
    uint32_t MasterAlpha() const { return FMasterAlpha; }
    // Clamped to 0..255: a larger weight would carry into the neighbouring channel.
    void SetMasterAlpha(int64_t Value);
    TColor32 OuterColor() const { return FOuterColor; }
    void SetOuterColor(TColor32 Value) { FOuterColor = Value; }
    TStretchFilter StretchFilter() const { return FStretchFilter; }
    void SetStretchFilter(TStretchFilter Value);
    TColor32 PenColor() const { return FPenColor; }
    void SetPenColor(TColor32 Value) { FPenColor = Value; }

    TFont* Font() { return FFont.get(); }
    void SetFont(TFont* Value);
    void SelectFont();
    void ReleaseFont();
    bool FontSelected() const { return FFontSelected; }

    void Assign(TPersistent* Source) override;
    // Assign(&Source) without the copy: the same pixels, settings and notifications
    // here, and Source is left empty (its pixel block moves over).
    void TakeOver(TBitmap32& Source);
    void SaveToStream(TStream& Stream);
    void LoadFromStream(TStream& Stream);
    void SaveToFile(const std::string& FileName);
    // Damaged, when given, is set when part of the picture could not be read (a JPEG cut
    // short or corrupt: the decoder filled in what was missing).
    void LoadFromFile(const std::string& FileName, bool* Damaged = nullptr);
    // The same read from a stream already open, through a fresh graphic of Class: a class
    // that writes 32-bit pixels fills the block directly, any other is drawn in.
    void LoadFromGraphicStream(const TGraphicClass& Class, TStream& Stream, bool* Damaged = nullptr);

    // The binary property "Data": Width, Height (Int32 LE), then the pixels row 0 first,
    // each B, G, R, A. ReadData checks the header against the stream and raises EReadError
    // (leaving the bitmap empty) on negative, oversized or truncated data.
    void WriteData(TStream& Stream);
    void ReadData(TStream& Stream);
    // Whether "Data" is stored against an ancestor (null: no ancestor).
    bool ShouldWriteData(TPersistent* Ancestor);
    // Both empty, or of one class with equal size and pixels.
    static bool DataEquals(TBitmap32* A, TBitmap32* B);

    TPixelCombineEvent OnPixelCombine;
    std::string ClassName() const override { return "TBitmap32"; }

    // ---- Pixels (none of these fires Changed) ----------------------------------------
    TColor32* PixelAddress(int32_t X, int32_t Y) { return FBits + int64_t(Y) * FWidth + X; }
    TColor32* RowAddress(int32_t Y) { return FBits + int64_t(Y) * FWidth; }
    const TColor32* RowAddress(int32_t Y) const { return FBits + int64_t(Y) * FWidth; }
    TColor32 GetPixelFast(int32_t X, int32_t Y) const { return FBits[int64_t(Y) * FWidth + X]; }
    void SetPixelFast(int32_t X, int32_t Y, TColor32 Color) { FBits[int64_t(Y) * FWidth + X] = Color; }
    bool InBitmap(int32_t X, int32_t Y) const
    {
        return FBits && uint32_t(X) < uint32_t(FWidth) && uint32_t(Y) < uint32_t(FHeight);
    }
    TColor32 GetPixelClipped(int32_t X, int32_t Y) const { return InBitmap(X, Y) ? GetPixelFast(X, Y) : FOuterColor; }
    void SetPixelClipped(int32_t X, int32_t Y, TColor32 Color)
    {
        if (InBitmap(X, Y))
            SetPixelFast(X, Y, Color);
    }
    void SetPixelBlend(int32_t X, int32_t Y, TColor32 Color);
    // X, Y in 24.8 fixed point: a 2 x 2 splat weighted by gamma-corrected coverage.
    void SetPixelSubFast(int32_t X, int32_t Y, TColor32 Color);
    void SetPixelSubClipped(int32_t X, int32_t Y, TColor32 Color);

    // ---- Lines (X2, Y2 inclusive) -----------------------------------------------------
    void HorzLineFast(int32_t X1, int32_t Y, int32_t X2, TColor32 Color);
    void HorzLineClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Color);
    void HorzLineBlend(int32_t X1, int32_t Y, int32_t X2, TColor32 Color);
    void HorzLineBlendClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Color);
    void HorzLinePattern(int32_t X1, int32_t Y, int32_t X2);
    void VertLineFast(int32_t X, int32_t Y1, int32_t Y2, TColor32 Color);
    void VertLineClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Color);
    void VertLineBlend(int32_t X, int32_t Y1, int32_t Y2, TColor32 Color);
    void VertLineBlendClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Color);
    void VertLinePattern(int32_t X, int32_t Y1, int32_t Y2);

    // ---- Line pattern and pen ---------------------------------------------------------
    void SetLinePattern(const std::vector<TColor32>& Colors);
    const std::vector<TColor32>& LinePattern() const { return FLinePattern; }
    float LinePatternCounter() const { return FLinePatternCounter; }
    void SetLinePatternCounter(float Value) { FLinePatternCounter = Value; }
    float LinePatternStep() const { return FLinePatternStep; }
    // A NaN or infinite step is refused (the old step stays).
    void SetLinePatternStep(float Value);
    TColor32 NextPatternColor();

    TFixed PenPosX() const { return FPenPosX; }
    TFixed PenPosY() const { return FPenPosY; }
    void MovePenF(float X, float Y);
    void LinePenToFixed(TFixed X, TFixed Y);
    void LinePenToF(float X, float Y);

    // ---- Antialiased lines (16.16 end points, clipped to the bitmap) ------------------
    void DrawLineAAFixed(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Color, bool LastPoint);
    void DrawPatternLineFixed(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool LastPoint);
    void DrawLineAAF(float X1, float Y1, float X2, float Y2, TColor32 Color, bool LastPoint);
    void DrawPatternLineF(float X1, float Y1, float X2, float Y2, bool LastPoint);

    // ---- Rectangles (X2, Y2 exclusive) ------------------------------------------------
    void FillRectFast(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Color);
    void FillRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Color);
    void FrameRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Color);
    void FrameRectPatterned(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
    // Contrast in percent: positive lightens top and left, darkens bottom and right.
    void DrawBevel(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t Contrast);

    // ---- Text -------------------------------------------------------------------------
    // The top-left of the text cell at (X, Y), transparent background, the font's colour.
    // Pixels the glyphs touch get alpha 255.
    void TextOut(int32_t X, int32_t Y, const std::string& Text);
    TSize MeasureText(const std::string& Text);
    int32_t TextWidth(const std::string& Text) { return MeasureText(Text).cx; }
    int32_t TextHeight(const std::string& Text) { return MeasureText(Text).cy; }
    // Text whose coverage becomes alpha, supersampled 2^Level times (Level 0..4), blended
    // with Color's alpha as master alpha.
    void DrawTextAA(int32_t X, int32_t Y, const std::string& Text, int32_t Level, TColor32 Color);

    // ---- Transfers (wrappers over Raster32_Transforms) --------------------------------
    void DrawOnto(TBitmap32* Dst);
    void DrawOntoAt(TBitmap32* Dst, int32_t X, int32_t Y);
    void DrawFrom(int32_t X, int32_t Y, TBitmap32* Src);
    void DrawOntoRect(TBitmap32* Dst, const TRect& DstRect);
    void DrawOntoRectFrom(TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect);

protected:
    void AssignTo(TPersistent* Dest) override;

private:
    void FreeBlock();
    bool Reallocate(int32_t NewWidth, int32_t NewHeight, TPixelFill Fill);
    // Frees this block and takes Source's (Source ends empty, without notifying);
    // Changed and, when the size differs, Resized follow here.
    void TakeBlock(TBitmap32& Source);
    void AssignFromBitmap(TBitmap& Bmp);
    void AssignFromGraphic(TGraphic& Graphic, int32_t GraphicWidth, int32_t GraphicHeight);
    void AssignFromPicture(TPicture& Picture);
    void CopyToBitmap(TBitmap& Bmp);
    void SplatClipped(int32_t X, int32_t Y, TColor32 Color);
    template <class ColorSource>
    void DrawLineAA(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool LastPoint, ColorSource NextColor);

    TColor32* FBits = nullptr;
    std::unique_ptr<TCanvas> FCanvas;
    std::unique_ptr<TFont> FFont;
    bool FFontSelected = false;
    TDrawMode FDrawMode = dmOpaque;
    uint32_t FMasterAlpha = 255;
    TColor32 FOuterColor = 0;
    TColor32 FPenColor = clWhite32;
    float FLinePatternCounter = 0;
    std::vector<TColor32> FLinePattern;
    float FLinePatternStep = 1.0f;
    TStretchFilter FStretchFilter = sfNearest;
    TFixed FPenPosX = 0;
    TFixed FPenPosY = 0;
};

} // namespace kv
