#include "platform/KvIcon.h"

#include <QByteArray>
#include <QImage>

#include <algorithm>

namespace kv {

namespace {
constexpr int IconDirSize = 6, IconEntrySize = 16;
constexpr uint16_t MaxIconImages = 256;
} // namespace

void TIcon::LoadFromStream(TStream& Stream)
{
    int64_t start = Stream.Position();
    int64_t available = Stream.Size() - start;
    if (available < IconDirSize + IconEntrySize)
        throw EInvalidGraphic("Invalid icon");
    uint8_t dir[IconDirSize];
    Stream.ReadBuffer(dir, IconDirSize);
    uint16_t count = GetU16LE(dir + 4);
    if (GetU16LE(dir) != 0 || GetU16LE(dir + 2) != 1 || count == 0 || count > MaxIconImages ||
        IconDirSize + int64_t(count) * IconEntrySize > available)
        throw EInvalidGraphic("Invalid icon");
    std::vector<uint8_t> entries(size_t(count) * IconEntrySize);
    Stream.ReadBuffer(entries.data(), int64_t(entries.size()));
    int64_t end = IconDirSize + int64_t(entries.size());
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* e = entries.data() + i * IconEntrySize;
        int64_t size = GetU32LE(e + 8), offset = GetU32LE(e + 12);
        if (offset < IconDirSize + int64_t(entries.size()) || size == 0 || offset + size > available)
            throw EInvalidGraphic("Invalid icon");
        end = std::max(end, offset + size);
    }
    std::vector<uint8_t> data(static_cast<size_t>(end));
    Stream.SetPosition(start);
    Stream.ReadBuffer(data.data(), end);
    FData = std::move(data);
    FWidth = entries[0] ? entries[0] : 256;
    FHeight = entries[1] ? entries[1] : 256;
    Changed(this);
}

void TIcon::SaveToStream(TStream& Stream)
{
    if (!FData.empty())
        Stream.WriteBuffer(FData.data(), int64_t(FData.size()));
}

void TIcon::Assign(TPersistent* Source)
{
    if (!Source) {
        FData.clear();
        FWidth = FHeight = 0;
        Changed(this);
        return;
    }
    if (auto* icon = dynamic_cast<TIcon*>(Source)) {
        if (icon != this) {
            FData = icon->FData;
            FWidth = icon->FWidth;
            FHeight = icon->FHeight;
            Changed(this);
        }
        return;
    }
    TGraphic::Assign(Source);
}

void TIcon::Draw(TCanvas& ACanvas, const TRect& Rect)
{
    if (FData.empty() || Rect.Width() <= 0 || Rect.Height() <= 0)
        return;
    QImage image;
    if (!image.loadFromData(QByteArray(reinterpret_cast<const char*>(FData.data()), qsizetype(FData.size())), "ICO"))
        return;
    image = image.scaled(Rect.Width(), Rect.Height()).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            int a = qAlpha(row[x]);
            if (a == 0)
                continue;
            int px = Rect.Left + x, py = Rect.Top + y;
            TColor under = a == 255 ? 0 : ColorToRGB(ACanvas.Pixels(px, py));
            auto mix = [a](int over, int back) { return uint8_t((over * a + back * (255 - a) + 127) / 255); };
            ACanvas.SetPixels(px, py,
                              RGB(mix(qRed(row[x]), GetRValue(under)), mix(qGreen(row[x]), GetGValue(under)),
                                  mix(qBlue(row[x]), GetBValue(under))));
        }
    }
}

} // namespace kv
