#include "platform/ClipbrdImage.h"

#include "platform/QtBridge.h"
#include "platform/SysUtils.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstring>

namespace kv {

namespace {

QClipboard* SystemClipboard()
{
    if (!QGuiApplication::instance())
        throw EInvalidOperation("Clipboard is not available");
    return QGuiApplication::clipboard();
}

} // namespace

void ClipboardSetBitmap(const TBitmap& Bitmap)
{
    const QImage image = BitmapToQImage(Bitmap);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    }
    auto* data = new QMimeData; // the clipboard takes ownership
    data->setImageData(image);
    if (!png.isEmpty())
        data->setData("image/png", png);
    SystemClipboard()->setMimeData(data);
}

bool ClipboardGetBitmap(TBitmap& Bitmap)
{
    const QMimeData* data = SystemClipboard()->mimeData();
    if (!data || !data->hasImage())
        return false;
    QImage image = qvariant_cast<QImage>(data->imageData());
    if (image.isNull())
        return false;
    CheckPixelBufferSize(image.width(), image.height(), "clipboard image");
    const bool hasAlpha = image.hasAlphaChannel();
    image = image.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        throw EOutOfResources("Out of memory while reading the clipboard image");
    TBitmap fresh;
    fresh.SetPixelFormat(pf32bit);
    fresh.SetSize(image.width(), image.height());
    for (int32_t y = 0; y < fresh.Height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(fresh.ScanLine(y));
        std::memcpy(row, image.constScanLine(y), size_t(fresh.Width()) * 4);
        if (!hasAlpha) // whatever the fourth byte held, the picture is opaque
            for (int32_t x = 0; x < fresh.Width(); ++x)
                row[x] |= 0xFF000000u;
    }
    Bitmap.Assign(&fresh);
    return true;
}

} // namespace kv
