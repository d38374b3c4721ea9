// Private to platform/: the pixels a TCanvas draws on, and the canvas of the platform
// bitmap. This header may include Qt; code outside platform/ never includes it.
#pragma once

#include "platform/Graphics.h"

#include <QImage>
#include <QPainter>

namespace kv {

// A canvas draws either on 32-bit pixels (B, G, R, A in memory, rows top-down) through
// a QImage view that never owns, detaches or copies them, or through a window's painter.
struct TCanvasSurface {
    uint32_t* Bits = nullptr;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Stride = 0;          // bytes between rows
    QImage Image;                // view over Bits (Format_ARGB32), null for a painter surface
    QPainter* Painter = nullptr; // a window's painter, not owned

    static std::unique_ptr<TCanvasSurface> OverBits(uint32_t* Bits, int32_t Width, int32_t Height, int32_t Stride);
    static std::unique_ptr<TCanvasSurface> OverPainter(QPainter* Painter, int32_t Width, int32_t Height);

    bool HasBits() const { return Bits != nullptr && Width > 0 && Height > 0; }
    uint32_t* Row(int32_t Y)
    {
        return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(Bits) + ptrdiff_t(Y) * Stride);
    }
    const uint32_t* Row(int32_t Y) const
    {
        return reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(Bits) + ptrdiff_t(Y) * Stride);
    }
};

// Brackets one drawing operation: a canvas keeping its pixels in another layout brings
// them in first and takes them back afterwards (only when the operation may change them).
struct TCanvasDrawing {
    TCanvasDrawing(TCanvas& Canvas, bool Changes) : FCanvas(Canvas), FChanges(Changes) { FCanvas.BeginDrawing(); }
    ~TCanvasDrawing() { FCanvas.EndDrawing(FChanges); }
    TCanvasDrawing(const TCanvasDrawing&) = delete;
    TCanvasDrawing& operator=(const TCanvasDrawing&) = delete;

private:
    TCanvas& FCanvas;
    bool FChanges;
};

// The canvas of a platform TBitmap. It paints through a top-down 32-bit copy of the
// bitmap that is refreshed at the start of each outermost drawing operation and, when
// the operation changed it, written back (paletted formats by nearest palette colour,
// touching only the pixels that changed).
class TBitmapCanvas : public TCanvas {
public:
    explicit TBitmapCanvas(TBitmap* Bitmap) : FBitmap(Bitmap) {}
    TBitmap* Bitmap() const { return FBitmap; }
    std::string ClassName() const override { return "TBitmapCanvas"; }

protected:
    void BeginDrawing() override;
    void EndDrawing(bool Changed) override;

private:
    TBitmap* FBitmap;
    int FDepth = 0;
    bool FChanged = false;
    std::vector<uint32_t> FPixels;   // the top-down 32-bit working copy
    std::vector<uint32_t> FSnapshot; // what FPixels held when brought in (paletted formats)
};

// Conversions used by the canvas and the bitmap: a whole bitmap to top-down 0xAARRGGBB
// words (BitmapToPixels32, declared with TBitmap), and back.
void PixelsToBitmap32(TBitmap& Bitmap, const uint32_t* Source, const uint32_t* Snapshot);

// TColor (0x00BBGGRR, system colours resolved) <-> memory word 0xAARRGGBB.
inline uint32_t ColorToPixel(TColor Color, uint8_t Alpha = 0xFF)
{
    TColor c = ColorToRGB(Color);
    return (uint32_t(Alpha) << 24) | (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
}
inline TColor PixelToColor(uint32_t Pixel) { return RGB(uint8_t(Pixel >> 16), uint8_t(Pixel >> 8), uint8_t(Pixel)); }

} // namespace kv
