// What Paste turns a clipboard picture into, over arbitrary bytes: a system image of any
// pixel layout, a "image/png" block as the window system decodes it, and the icon, GIF and
// DIB clipboard formats through the picture registry; each ends as the 32-bit bitmap the
// new layer gets, or as the unit's error.
#include "formats/ClipIcon.h"
#include "formats/GIFImage.h"
#include "fuzz/FuzzCommon.h"
#include "platform/Clipbrd.h"
#include "raster/Raster32.h"
#include "startup/UnitsStartup.h"

#include <QClipboard>
#include <QMimeData>

namespace {

// The first three bytes give the size and pixel layout; the rest fills the colour table
// (indexed layouts) and the pixels.
QImage RawImage(kv::fuzz::TInputReader& In, const uint8_t* Data, size_t Size)
{
    const int W = 1 + In.Next8() % 64, H = 1 + In.Next8() % 64;
    const auto Format = QImage::Format(1 + In.Next8() % (QImage::NImageFormats - 1));
    QImage Image(W, H, Format);
    if (Image.isNull())
        return Image;
    if (Image.colorCount() > 0 || Format == QImage::Format_Indexed8) {
        QList<QRgb> Table(1 + In.Next8());
        for (QRgb& C : Table)
            C = In.Next32();
        Image.setColorTable(Table);
    }
    std::memcpy(Image.bits(), Data, std::min(Size, size_t(Image.sizeInBytes())));
    return Image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    using namespace kv;
    fuzz::EnsureApplication("clippaste_fuzz");
    static const bool Started = (StartUnits(), true);
    (void)Started;
    if (Size < 1)
        return 0;
    fuzz::TInputReader In(Data + 1, Size - 1);
    const uint8_t Road = Data[0] % 5;
    try {
        if (Road < 2) {
            const QImage Image =
                Road == 0 ? RawImage(In, Data + 1, Size - 1) : QImage::fromData(Data + 1, int(Size - 1), "PNG");
            auto* Mime = new QMimeData; // the clipboard takes it
            Mime->setImageData(Image);
            QGuiApplication::clipboard()->setMimeData(Mime);
            if (!Clipboard()->HasFormat(CF_BITMAP))
                return 0;
            TBitmap Platform; // as Paste takes it
            Platform.Assign(Clipboard());
            TBitmap32 Layer;
            Layer.Assign(&Platform);
        } else {
            const TClipboardFormat Formats[] = {CF_ICON(), GIFImage::CF_GIF(), CF_DIB};
            TPicture Picture;
            Picture.LoadFromClipboardFormat(Formats[Road - 2], std::vector<uint8_t>(Data + 1, Data + Size), nullptr);
            TBitmap32 Layer;
            Layer.Assign(&Picture);
        }
    } catch (const Exception&) {
    }
    return 0;
}
