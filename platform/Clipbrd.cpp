#include "platform/Clipbrd.h"

#include "platform/QtBridge.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <map>
#include <mutex>

namespace kv {

namespace {

std::mutex FormatLock;
std::map<std::string, TClipboardFormat>& FormatIds()
{
    static std::map<std::string, TClipboardFormat> ids;
    return ids;
}

QString MimeFor(const std::string& Name) { return QString::fromStdString("application/x-kelvane-" + Name); }

QClipboard* System()
{
    if (!QGuiApplication::instance())
        throw EInvalidOperation("Clipboard is not available");
    return QGuiApplication::clipboard();
}

} // namespace

TClipboardFormat RegisterClipboardFormat(const std::string& Name)
{
    std::lock_guard<std::mutex> lock(FormatLock);
    auto& ids = FormatIds();
    auto it = ids.find(Name);
    if (it != ids.end())
        return it->second;
    TClipboardFormat id = TClipboardFormat(0xC000 + ids.size());
    ids[Name] = id;
    return id;
}

std::string ClipboardFormatName(TClipboardFormat Format)
{
    std::lock_guard<std::mutex> lock(FormatLock);
    for (const auto& [name, id] : FormatIds())
        if (id == Format)
            return name;
    return "";
}

struct TClipboard::Pending {
    std::unique_ptr<QMimeData> Data = std::make_unique<QMimeData>();
};

void TClipboard::Open()
{
    if (FOpenCount++ == 0)
        FPending = std::make_shared<Pending>();
}

void TClipboard::Close()
{
    if (FOpenCount == 0)
        return;
    if (--FOpenCount == 0 && FPending) {
        if (!FPending->Data->formats().isEmpty())
            System()->setMimeData(FPending->Data.release());
        FPending.reset();
    }
}

void TClipboard::Clear()
{
    if (FPending)
        FPending->Data = std::make_unique<QMimeData>();
    else
        System()->clear();
}

bool TClipboard::HasFormat(TClipboardFormat Format) const
{
    const QMimeData* m = System()->mimeData();
    if (!m)
        return false;
    if (Format == CF_BITMAP || Format == CF_DIB)
        return m->hasImage();
    std::string name = ClipboardFormatName(Format);
    return !name.empty() && m->hasFormat(MimeFor(name));
}

std::vector<TClipboardFormat> TClipboard::Formats() const
{
    std::vector<TClipboardFormat> out;
    const QMimeData* m = System()->mimeData();
    if (!m)
        return out;
    if (m->hasImage())
        out.push_back(CF_BITMAP);
    std::lock_guard<std::mutex> lock(FormatLock);
    for (const auto& [name, id] : FormatIds())
        if (m->hasFormat(MimeFor(name)))
            out.push_back(id);
    return out;
}

void TClipboard::SetAsHandle(TClipboardFormat Format, const std::vector<uint8_t>& Data)
{
    if (Format == CF_BITMAP || Format == CF_DIB) {
        TBitmap bmp;
        bmp.LoadFromClipboardFormat(CF_DIB, Data, nullptr);
        SetImage(bmp);
        return;
    }
    std::string name = ClipboardFormatName(Format);
    if (name.empty())
        throw EInvalidOperation("Unknown clipboard format " + std::to_string(Format));
    QByteArray bytes(reinterpret_cast<const char*>(Data.data()), qsizetype(Data.size()));
    if (FPending) {
        FPending->Data->setData(MimeFor(name), bytes);
        return;
    }
    auto* m = new QMimeData; // the clipboard takes ownership
    m->setData(MimeFor(name), bytes);
    System()->setMimeData(m);
}

std::vector<uint8_t> TClipboard::GetAsHandle(TClipboardFormat Format) const
{
    const QMimeData* m = System()->mimeData();
    if (!m)
        return {};
    if (Format == CF_BITMAP || Format == CF_DIB) {
        if (!m->hasImage())
            return {};
        TBitmap bmp;
        QImageToBitmap(qvariant_cast<QImage>(m->imageData()), bmp, "clipboard image");
        TClipboardFormat f;
        std::vector<uint8_t> data;
        HPALETTE pal;
        bmp.SaveToClipboardFormat(f, data, pal);
        return data;
    }
    std::string name = ClipboardFormatName(Format);
    if (name.empty())
        return {};
    QByteArray bytes = m->data(MimeFor(name));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::string TClipboard::AsText() const { return System()->text().toStdString(); }

void TClipboard::SetAsText(const std::string& Text)
{
    if (FPending) {
        FPending->Data->setText(QString::fromStdString(Text));
        return;
    }
    System()->setText(QString::fromStdString(Text));
}

void TClipboard::SetImage(const TBitmap& Bitmap)
{
    const QImage image = BitmapToQImage(Bitmap);
    // PNG bytes beside the system image, so programs that ask for "image/png" paste it
    // too, with its alpha.
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    }
    QMimeData* data = FPending ? FPending->Data.get() : new QMimeData; // the clipboard owns a new one
    data->setImageData(image);
    if (!png.isEmpty())
        data->setData("image/png", png);
    if (!FPending)
        System()->setMimeData(data);
}

void TClipboard::Assign(TPersistent* Source)
{
    if (auto* b = dynamic_cast<TBitmap*>(Source)) {
        SetImage(*b);
        return;
    }
    if (auto* p = dynamic_cast<TPicture*>(Source)) {
        if (!p->Graphic())
            throw EConvertError("Cannot assign a TPicture to a TClipboard");
        return Assign(p->Graphic());
    }
    if (auto* g = dynamic_cast<TGraphic*>(Source)) {
        // A picture class may add formats of its own beside its bitmap ("GIF Image"):
        // everything it sets goes onto one clipboard content.
        Open();
        try {
            TClipboardFormat format = 0;
            std::vector<uint8_t> data;
            HPALETTE palette = nullptr;
            g->SaveToClipboardFormat(format, data, palette);
            if (!data.empty())
                SetAsHandle(format, data);
            else {
                TBitmap bmp;
                bmp.Assign(g);
                SetImage(bmp);
            }
        } catch (...) {
            FPending.reset();
            FOpenCount = 0;
            throw;
        }
        Close();
        return;
    }
    TPersistent::Assign(Source);
}

void TClipboard::AssignTo(TPersistent* Dest)
{
    const QMimeData* m = System()->mimeData();
    bool image = m && m->hasImage();
    if (auto* b = dynamic_cast<TBitmap*>(Dest); b && image) {
        QImageToBitmap(qvariant_cast<QImage>(m->imageData()), *b, "clipboard image");
        return;
    }
    if (auto* p = dynamic_cast<TPicture*>(Dest); p && image) {
        QImageToBitmap(qvariant_cast<QImage>(m->imageData()), *p->Bitmap(), "clipboard image");
        return;
    }
    TPersistent::AssignTo(Dest);
}

TClipboard* Clipboard()
{
    static TClipboard* clipboard = new TClipboard; // process-wide, never freed
    return clipboard;
}

} // namespace kv
