// Colours, palettes, pens, brushes, fonts, canvases and the platform's pictures: the
// platform bitmap (Windows DIB layout), the graphic base class, the picture container
// and the graphic-class registry. Drawing happens through Qt inside the sources only.
#pragma once

#include "platform/Classes.h"
#include "platform/Types.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// ---- Colours -----------------------------------------------------------------------

// 0x00BBGGRR for an RGB value; with the top bit set, a system-colour index (low byte).
using TColor = int32_t;

constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) { return TColor(r | (g << 8) | (b << 16)); }
constexpr uint8_t GetRValue(TColor c) { return uint8_t(c); }
constexpr uint8_t GetGValue(TColor c) { return uint8_t(c >> 8); }
constexpr uint8_t GetBValue(TColor c) { return uint8_t(c >> 16); }

constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080, clNavy = 0x800000,
                 clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080, clSilver = 0xC0C0C0, clRed = 0x0000FF,
                 clLime = 0x00FF00, clYellow = 0x00FFFF, clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00,
                 clWhite = 0xFFFFFF, clLtGray = 0xC0C0C0, clDkGray = 0x808080, clMoneyGreen = 0xC0DCC0,
                 clSkyBlue = 0xF0CAA6, clCream = 0xF0FBFF, clMedGray = 0xA4A0A0;
constexpr TColor clNone = 0x1FFFFFFF, clDefault = 0x20000000;
constexpr TColor clSystemColor = TColor(0x80000000u);
constexpr TColor clScrollBar = clSystemColor | 0, clBackground = clSystemColor | 1, clActiveCaption = clSystemColor | 2,
                 clInactiveCaption = clSystemColor | 3, clMenu = clSystemColor | 4, clWindow = clSystemColor | 5,
                 clWindowFrame = clSystemColor | 6, clMenuText = clSystemColor | 7, clWindowText = clSystemColor | 8,
                 clCaptionText = clSystemColor | 9, clActiveBorder = clSystemColor | 10,
                 clInactiveBorder = clSystemColor | 11, clAppWorkSpace = clSystemColor | 12,
                 clHighlight = clSystemColor | 13, clHighlightText = clSystemColor | 14, clBtnFace = clSystemColor | 15,
                 clBtnShadow = clSystemColor | 16, clGrayText = clSystemColor | 17, clBtnText = clSystemColor | 18,
                 clInactiveCaptionText = clSystemColor | 19, clBtnHighlight = clSystemColor | 20,
                 cl3DDkShadow = clSystemColor | 21, cl3DLight = clSystemColor | 22, clInfoText = clSystemColor | 23,
                 clInfoBk = clSystemColor | 24;

// Resolves a system colour to 0x00BBGGRR through the classic fixed table; an RGB value
// comes back unchanged (its top byte cleared).
TColor ColorToRGB(TColor Color);
// "clRed", "clBtnFace"... for the named colours, else "$00BBGGRR"; and back
// (EConvertError on text that is neither).
std::string ColorToString(TColor Color);
TColor StringToColor(const std::string& S);
bool IdentToColor(const std::string& Ident, TColor& Color);

// ---- Palettes ----------------------------------------------------------------------

struct TPaletteEntry {
    uint8_t peRed = 0;
    uint8_t peGreen = 0;
    uint8_t peBlue = 0;
    uint8_t peFlags = 0;
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};
constexpr uint8_t PC_RESERVED = 1, PC_EXPLICIT = 2, PC_NOCOLLAPSE = 4;

// A logical palette object; handles are created and deleted explicitly, like GDI's.
// A handle that was never created or is already deleted is ignored by every call.
struct TPaletteObject;
using HPALETTE = TPaletteObject*;

HPALETTE CreatePalette(const std::vector<TPaletteEntry>& Entries, uint16_t Version = 0x300);
bool DeletePalette(HPALETTE Palette);
// Copies up to Count entries starting at Start; returns how many were copied. With a
// null Entries pointer, returns the palette's entry count.
uint32_t GetPaletteEntries(HPALETTE Palette, uint32_t Start, uint32_t Count, TPaletteEntry* Entries);
uint32_t SetPaletteEntries(HPALETTE Palette, uint32_t Start, uint32_t Count, const TPaletteEntry* Entries);
std::vector<TPaletteEntry> PaletteEntries(HPALETTE Palette);
// The 20 static system colours (first 10 and last 10 of the classic 256-entry system palette).
std::vector<TPaletteEntry> SystemPaletteEntries();
// The 256-entry halftone palette: the 20 static colours around a 6x6x6 cube and 20 greys.
HPALETTE CreateHalftonePalette();
// Nearest entry by squared RGB distance (lower index wins ties).
uint32_t GetNearestPaletteIndex(HPALETTE Palette, TColor Color);

// ---- Pens, brushes, fonts ----------------------------------------------------------

class TGraphicsObject : public TPersistent {
public:
    TNotifyEvent OnChange;
    std::string ClassName() const override { return "TGraphicsObject"; }

protected:
    void Changed();
};

enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode : uint8_t {
    pmBlack,
    pmWhite,
    pmNop,
    pmNot,
    pmCopy,
    pmNotCopy,
    pmMergePenNot,
    pmMaskPenNot,
    pmMergeNotPen,
    pmMaskNotPen,
    pmMerge,
    pmNotMerge,
    pmMask,
    pmNotMask,
    pmXor,
    pmNotXor
};

class TPen : public TGraphicsObject {
public:
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    int32_t Width() const { return FWidth; }
    void SetWidth(int32_t Value);
    TPenStyle Style() const { return FStyle; }
    void SetStyle(TPenStyle Value);
    TPenMode Mode() const { return FMode; }
    void SetMode(TPenMode Value);
    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TPen"; }

private:
    TColor FColor = clBlack;
    int32_t FWidth = 1;
    TPenStyle FStyle = psSolid;
    TPenMode FMode = pmCopy;
};

enum TBrushStyle : uint8_t {
    bsSolid,
    bsClear,
    bsHorizontal,
    bsVertical,
    bsFDiagonal,
    bsBDiagonal,
    bsCross,
    bsDiagCross
};

class TBitmap;

class TBrush : public TGraphicsObject {
public:
    TBrush();
    ~TBrush() override;
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    TBrushStyle Style() const { return FStyle; }
    void SetStyle(TBrushStyle Value);
    // A pattern bitmap (not owned) tiled in place of the colour, as GDI pattern brushes do.
    TBitmap* Bitmap() const { return FBitmap; }
    void SetBitmap(TBitmap* Value);
    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TBrush"; }

private:
    TColor FColor = clWhite;
    TBrushStyle FStyle = bsSolid;
    TBitmap* FBitmap = nullptr;
};

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t; // set of TFontStyle
enum TFontPitch : uint8_t { fpDefault, fpVariable, fpFixed };
using TFontCharset = uint8_t;
constexpr TFontCharset DEFAULT_CHARSET = 1, ANSI_CHARSET = 0, RUSSIAN_CHARSET = 204;

class TFont : public TGraphicsObject {
public:
    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value);
    // Size in points; Height in pixels (negative: character height, as the platform keeps it).
    // The screen is taken to have 96 pixels per inch: Height = -MulDiv(Size, 96, 72).
    int32_t Size() const;
    void SetSize(int32_t Value);
    int32_t Height() const { return FHeight; }
    void SetHeight(int32_t Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles Value);
    TFontPitch Pitch() const { return FPitch; }
    void SetPitch(TFontPitch Value);
    TFontCharset Charset() const { return FCharset; }
    void SetCharset(TFontCharset Value);
    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TFont"; }

private:
    std::string FName = "MS Sans Serif";
    int32_t FHeight = -11; // 8 points
    TColor FColor = clWindowText;
    TFontStyles FStyle = 0;
    TFontPitch FPitch = fpDefault;
    TFontCharset FCharset = DEFAULT_CHARSET;
};

// ---- Canvas -----------------------------------------------------------------------

class TGraphic;
class TCanvas;
using HDC = TCanvas*; // a device context is the canvas that draws on it

// Raster operations of the bit-block copies.
constexpr uint32_t SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086, SRCAND = 0x008800C6, SRCINVERT = 0x00660046,
                   SRCERASE = 0x00440328, NOTSRCCOPY = 0x00330008, NOTSRCERASE = 0x001100A6, MERGEPAINT = 0x00BB0226,
                   DSTINVERT = 0x00550009, BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062, PATCOPY = 0x00F00021,
                   PATINVERT = 0x005A0049, MERGECOPY = 0x00C000CA;
using TCopyMode = uint32_t;

enum TFillStyle : uint8_t { fsSurface, fsBorder };
enum TStretchBltMode : uint8_t { BLACKONWHITE = 1, WHITEONBLACK = 2, COLORONCOLOR = 3, HALFTONE = 4 };

struct TCanvasSurface; // the pixels a canvas draws on (defined in the sources)

// Draws on a 32-bit pixel surface through QPainter. A canvas is attached to one of:
// a top-down 32-bit block owned by someone else (B, G, R, A bytes; the working bitmap
// of the raster core), a platform TBitmap (its own canvas), or a painter of a window
// (see platform/QtBridge.h). Unattached, drawing does nothing and Pixels reads clBlack.
class TCanvas : public TPersistent {
public:
    TCanvas();
    ~TCanvas() override;

    // Attaches to Width x Height 32-bit pixels, Stride bytes apart, rows top-down.
    void AttachBuffer(uint32_t* Bits, int32_t Width, int32_t Height, int32_t Stride);
    void Detach();
    bool Attached() const;
    int32_t SurfaceWidth() const;
    int32_t SurfaceHeight() const;

    HDC Handle() { return this; }
    TPen* Pen() { return FPen.get(); }
    TBrush* Brush() { return FBrush.get(); }
    TFont* Font() { return FFont.get(); }
    void SetPen(TPen* Value) { FPen->Assign(Value); }
    void SetBrush(TBrush* Value) { FBrush->Assign(Value); }
    void SetFont(TFont* Value) { FFont->Assign(Value); }
    TPoint PenPos() const { return FPenPos; }
    void SetPenPos(TPoint Value) { FPenPos = Value; }
    TCopyMode CopyMode() const { return FCopyMode; }
    void SetCopyMode(TCopyMode Value) { FCopyMode = Value; }
    TRect ClipRect() const;
    // Text drawn with a transparent background (no brush behind the glyphs) when set;
    // otherwise the brush fills the text cell unless the brush style is bsClear.
    bool TransparentText() const { return FTransparentText; }
    void SetTransparentText(bool Value) { FTransparentText = Value; }

    void MoveTo(int32_t X, int32_t Y);
    void LineTo(int32_t X, int32_t Y);
    void Rectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
    void Rectangle(const TRect& R) { Rectangle(R.Left, R.Top, R.Right, R.Bottom); }
    void RoundRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3);
    void Ellipse(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
    void Ellipse(const TRect& R) { Ellipse(R.Left, R.Top, R.Right, R.Bottom); }
    void Polygon(const std::vector<TPoint>& Points);
    void Polyline(const std::vector<TPoint>& Points);
    void FillRect(const TRect& R);
    void FrameRect(const TRect& R);
    void FloodFill(int32_t X, int32_t Y, TColor Color, TFillStyle FillStyle);
    void TextOut(int32_t X, int32_t Y, const std::string& Text);
    void TextRect(const TRect& R, int32_t X, int32_t Y, const std::string& Text);
    int32_t TextWidth(const std::string& Text);
    int32_t TextHeight(const std::string& Text);
    TSize TextExtent(const std::string& Text);
    void Draw(int32_t X, int32_t Y, TGraphic* Graphic);
    void StretchDraw(const TRect& R, TGraphic* Graphic);
    // Copies Source's rectangle into Dest with CopyMode, stretching when the sizes differ.
    void CopyRect(const TRect& Dest, TCanvas* Canvas, const TRect& Source);
    TColor Pixels(int32_t X, int32_t Y);
    void SetPixels(int32_t X, int32_t Y, TColor Color);
    void Lock() {}
    void Unlock() {}
    void Refresh() {}

    std::string ClassName() const override { return "TCanvas"; }

    // For the platform's own drawing code: the attached surface (null when unattached).
    TCanvasSurface* Surface() const { return FSurface.get(); }

protected:
    // A canvas that draws over pixels kept in another layout (a platform TBitmap of
    // another depth) brings them in before drawing and takes them back after it.
    virtual void BeginDrawing() {}
    virtual void EndDrawing(bool Changed) {}
    void SetSurface(std::unique_ptr<TCanvasSurface> Surface);
    friend struct TCanvasDrawing;

private:
    std::unique_ptr<TCanvasSurface> FSurface;
    std::unique_ptr<TPen> FPen;
    std::unique_ptr<TBrush> FBrush;
    std::unique_ptr<TFont> FFont;
    TPoint FPenPos;
    TCopyMode FCopyMode = SRCCOPY;
    bool FTransparentText = false;
};

// GDI's block transfers between canvases. Both clip to source and destination and are
// safe when source and destination overlap on the same surface.
bool BitBlt(HDC Dest, int32_t X, int32_t Y, int32_t Width, int32_t Height, HDC Src, int32_t XSrc, int32_t YSrc,
            uint32_t Rop);
bool StretchBlt(HDC Dest, int32_t X, int32_t Y, int32_t Width, int32_t Height, HDC Src, int32_t XSrc, int32_t YSrc,
                int32_t WidthSrc, int32_t HeightSrc, uint32_t Rop);
bool PatBlt(HDC Dest, int32_t X, int32_t Y, int32_t Width, int32_t Height, uint32_t Rop); // with Dest's brush
int SetStretchBltMode(HDC Dest, int Mode);

// ---- Graphics ----------------------------------------------------------------------

using TClipboardFormat = uint16_t;
constexpr TClipboardFormat CF_BITMAP = 2, CF_DIB = 8, CF_PALETTE = 9;

enum TProgressStage : uint8_t { psStarting, psRunning, psEnding };
using TProgressEvent = std::function<void(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow,
                                          const TRect& R, const std::string& Msg)>;

// The base of every picture class. Subclasses override the virtuals they support; the
// clipboard forms move raw bytes (a "global block") under a registered format.
class TGraphic : public TPersistent {
public:
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual void SetWidth(int32_t Value);
    virtual void SetHeight(int32_t Value);
    virtual bool Empty() const = 0;
    virtual void Draw(TCanvas& ACanvas, const TRect& Rect) = 0;
    virtual void LoadFromStream(TStream& Stream) = 0;
    virtual void SaveToStream(TStream& Stream) = 0;
    virtual void LoadFromFile(const std::string& FileName);
    virtual void SaveToFile(const std::string& FileName); // through TSafeFileStream
    virtual void LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE Palette);
    virtual void SaveToClipboardFormat(TClipboardFormat& Format, std::vector<uint8_t>& Data, HPALETTE& Palette);
    virtual HPALETTE Palette() const { return nullptr; }
    virtual void SetPalette(HPALETTE Value) {}
    virtual bool Transparent() const { return FTransparent; }
    virtual void SetTransparent(bool Value);
    bool Modified() const { return FModified; }
    void SetModified(bool Value);

    // A class whose loads can write a colour picture straight into a caller's block of
    // top-down words 0xAARRGGBB takes the target here and answers true; the target gets
    // the picture's size once, after the checks, and returns the block. Pictures the class
    // cannot write so still load into the graphic. Others answer false and keep nothing.
    using TPixels32Target = std::function<uint32_t*(int32_t Width, int32_t Height)>;
    virtual bool AcceptPixels32Target(TPixels32Target Target) { return false; }
    // True after a load that opened the file but had to make up part of its picture.
    bool PartlyRead() const { return FPartlyRead; }

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;
    std::string ClassName() const override { return "TGraphic"; }

protected:
    virtual void Changed(TObject* Sender);
    // A graphic assigned to a TBitmap draws itself on a white pf24bit bitmap of its size.
    void AssignTo(TPersistent* Dest) override;
    void Progress(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const TRect& R,
                  const std::string& Msg);
    bool FPartlyRead = false;

private:
    bool FTransparent = false;
    bool FModified = false;
};

// ---- Platform bitmap --------------------------------------------------------------

enum TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
// Bits a pixel takes in a row: 15-bit pixels take 16, pfDevice and pfCustom 32.
int32_t PixelFormatBits(TPixelFormat Format);
enum TBitmapHandleType : uint8_t { bmDIB, bmDDB };
enum TTransparentMode : uint8_t { tmAuto, tmFixed };

class TBitmapCanvas;

// The platform's device-independent bitmap. Rows are stored bottom-up as in a Windows
// DIB, each padded to 4 bytes: row y lives at Bits + (Height - 1 - y) * Stride; code
// walks rows through ScanLine(y). 24-bit rows are B, G, R; 32-bit rows B, G, R, A;
// 16-bit rows 5-6-5 and 15-bit rows 5-5-5 (low bits blue). pfDevice is stored as 32 bits.
// 1/4/8-bit bitmaps carry a palette (up to 2^bits entries; a new one gets the default
// black-and-white / 16-colour / 256-colour halftone table).
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;

    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }
    void SetWidth(int32_t Value) override;
    void SetHeight(int32_t Value) override;
    void SetSize(int32_t Width, int32_t Height);
    // An empty bitmap of the new size whose every pixel the caller writes next: a fresh
    // block is neither cleared nor given the old pixels. Nothing happens at the same size.
    void SetSizeForOverwrite(int32_t Width, int32_t Height);
    bool Empty() const override { return FWidth == 0 || FHeight == 0; }

    // Changing the format converts the pixels (down to a palette by nearest colour).
    TPixelFormat PixelFormat() const { return FPixelFormat; }
    void SetPixelFormat(TPixelFormat Value);
    TBitmapHandleType HandleType() const { return bmDIB; }
    void SetHandleType(TBitmapHandleType) {}
    bool Monochrome() const { return FPixelFormat == pf1bit; }
    void SetMonochrome(bool Value);
    bool IgnorePalette() const { return FIgnorePalette; }
    void SetIgnorePalette(bool Value) { FIgnorePalette = Value; }
    void Dormant() {}
    void FreeImage() {}

    // Row y (0 = top); raises EInvalidGraphicOperation "Scan line index out of range".
    uint8_t* ScanLine(int32_t Y);
    const uint8_t* ScanLine(int32_t Y) const;
    int32_t BytesPerScanLine() const { return FStride; }
    static int32_t BytesPerScanLine(int32_t Width, int32_t BitsPerPixel);
    int BitsPerPixel() const;

    // The palette: a handle owned by the bitmap (valid until the palette changes or the
    // bitmap goes); setting copies the entries of the given handle (the caller keeps it).
    HPALETTE Palette() const override;
    void SetPalette(HPALETTE Value) override;
    const std::vector<TPaletteEntry>& PaletteEntries() const { return FPaletteEntries; }
    void SetPaletteEntries(const std::vector<TPaletteEntry>& Entries);

    bool Transparent() const override { return TGraphic::Transparent(); }
    void SetTransparent(bool Value) override { TGraphic::SetTransparent(Value); }
    // tmAuto: the colour of the bottom-left pixel; tmFixed: the stored colour.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor Value);
    TTransparentMode TransparentMode() const { return FTransparentMode; }
    void SetTransparentMode(TTransparentMode Value);

    TCanvas* Canvas();
    // The colour of pixel (X, Y) as 0x00BBGGRR (palette resolved), and setting it
    // (nearest palette entry for paletted formats); outside the bitmap: reads -1, writes nothing.
    TColor PixelColor(int32_t X, int32_t Y) const;
    void SetPixelColor(int32_t X, int32_t Y, TColor Color);

    void Assign(TPersistent* Source) override;
    void Draw(TCanvas& ACanvas, const TRect& Rect) override;
    // BMP: reads 1/4/8 bits with palettes, RLE4/RLE8, 16 bits (5-5-5 or bit fields 5-6-5),
    // 24, 32 (fourth byte kept), OS/2 12-byte headers, V4/V5 headers, top-down heights;
    // raises EInvalidGraphic on anything malformed (the bitmap is left as it was).
    void LoadFromStream(TStream& Stream) override;
    // Writes a BMP in the bitmap's own depth; 32 bits: 14 + 40 header bytes, BI_RGB,
    // no colour table, the fourth byte being alpha.
    void SaveToStream(TStream& Stream) override;
    void LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE Palette) override;
    void SaveToClipboardFormat(TClipboardFormat& Format, std::vector<uint8_t>& Data, HPALETTE& Palette) override;

    // Raw block: Height rows of BytesPerScanLine bytes, bottom row first (DIB order).
    uint8_t* Bits() { return FBits; }
    const uint8_t* Bits() const { return FBits; }

    // A load may put a 24- or 32-bit picture into a caller's block of top-down words
    // 0xAARRGGBB instead (opaque below 32 bits; 32-bit pictures keep their fourth byte):
    // the target gets the picture's size once, after the checks, and returns the block.
    // The bitmap is then left as it was; other pictures load into the bitmap as ever.
    void SetPixels32Target(TPixels32Target Target) { FPixels32Target = std::move(Target); }
    bool AcceptPixels32Target(TPixels32Target Target) override
    {
        SetPixels32Target(std::move(Target));
        return true;
    }
    const TPixels32Target& Pixels32Target() const { return FPixels32Target; }

    std::string ClassName() const override { return "TBitmap"; }

private:
    friend class TBitmapCanvas;
    void Reallocate(int32_t Width, int32_t Height, TPixelFormat Format, bool KeepPixels,
                    TPixelFill Fill = TPixelFill::Zeroed);
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FStride = 0;
    TPixelFormat FPixelFormat = pfDevice;
    uint8_t* FBits = nullptr;
    std::vector<TPaletteEntry> FPaletteEntries;
    mutable HPALETTE FPaletteHandle = nullptr;
    TColor FTransparentColor = clDefault;
    TTransparentMode FTransparentMode = tmAuto;
    bool FIgnorePalette = false;
    std::unique_ptr<TBitmapCanvas> FCanvas;
    TPixels32Target FPixels32Target;
};

// A whole bitmap as top-down 32-bit words 0xAARRGGBB, Width * Height of them: the words
// a same-size SRCCOPY blit of its canvas gives (formats below 32 bits come out opaque).
void BitmapToPixels32(const TBitmap& Bitmap, uint32_t* Dest);

// ---- Pictures and the graphic-class registry ---------------------------------------

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

struct TGraphicClass {
    std::string Name; // the class name, as ClassName() gives it
    TGraphicFactory Create;
};

class TClipboard;

// Holds one graphic. LoadFromFile picks the class registered for the file's extension
// (compared in lower case; the class registered last wins); an unknown extension raises
// EInvalidGraphic "Unknown picture file extension (.ext)".
class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;

    TGraphic* Graphic() const { return FGraphic.get(); }
    void SetGraphic(TGraphic* Value); // copies Value (Assign into a new graphic of its class)
    void TakeGraphic(std::unique_ptr<TGraphic> Value);
    // The graphic as a bitmap; a graphic of another class is replaced by an empty TBitmap.
    TBitmap* Bitmap();
    int32_t Width() const;
    int32_t Height() const;

    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName);
    void LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE Palette);
    static bool SupportsClipboardFormat(TClipboardFormat Format);

    void Assign(TPersistent* Source) override; // TPicture, TGraphic, TClipboard, nil
    std::string ClassName() const override { return "TPicture"; }

    // The registry. Extensions are given without the dot and kept in lower case.
    static void RegisterFileFormat(const std::string& Extension, const std::string& Description,
                                   const TGraphicClass& GraphicClass);
    static void RegisterClipboardFormat(TClipboardFormat Format, const TGraphicClass& GraphicClass);
    static void UnregisterGraphicClass(const std::string& ClassName);
    // The class for an extension (with or without the dot), or null.
    static const TGraphicClass* FindGraphicClass(const std::string& Extension);
    // The class for a file name's extension; an extension no class reads raises the same
    // error LoadFromFile gives, before the file is touched.
    static const TGraphicClass& GraphicClassForFile(const std::string& FileName);
    // "All (*.gif;*.bmp...)|...|Bitmaps (*.bmp)|*.bmp|..." as the open dialogs use it.
    static std::string GraphicFilter();
    static std::vector<std::string> GraphicExtensions();

    TNotifyEvent OnChange;

protected:
    void AssignTo(TPersistent* Dest) override;

private:
    void Changed(TObject* Sender);
    std::unique_ptr<TGraphic> FGraphic;
};

} // namespace kv
