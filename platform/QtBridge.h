// Conversions between the platform's graphics types and Qt's, for window and control
// code (this header includes Qt; pixel and codec code never includes it).
#pragma once

#include "platform/Graphics.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>

namespace kv {

QColor ToQColor(TColor Color); // system colours resolved
TColor FromQColor(const QColor& Color);
// Windows face names are substituted by the installed metric-compatible faces; a
// negative Height is the character height in pixels (96 dpi).
QFont ToQFont(const TFont& Font);

// A copy of the bitmap as Format_ARGB32 (32-bit bitmaps keep their fourth byte as
// alpha, other formats come out opaque).
QImage BitmapToQImage(const TBitmap& Bitmap);
// Replaces the bitmap by the image as pf32bit: alpha kept when the image has an alpha
// channel, opaque otherwise. The size goes through the pixel-buffer check (What names
// the picture in the error) before anything is converted; the bitmap is untouched on error.
void QImageToBitmap(const QImage& Image, TBitmap& Bitmap, const char* What = "image");

// A canvas drawing through a window's painter during its paint event. Pixels cannot
// be read back from it; block transfers into it go through the painter.
class TPainterCanvas : public TCanvas {
public:
    TPainterCanvas(QPainter& Painter, int32_t Width, int32_t Height);
    std::string ClassName() const override { return "TPainterCanvas"; }
};

} // namespace kv
