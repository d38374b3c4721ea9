#include "platform/Icon.h"

#include "platform/CanvasSurface.h"
#include "platform/QtBridge.h"

#include <algorithm>

namespace kv {

namespace {

#pragma pack(push, 1)
struct IconDir {
    uint16_t Reserved; // 0
    uint16_t Type;     // 1 icon, 2 cursor
    uint16_t Count;
};
struct IconDirEntry {
    uint8_t Width;  // 0 means 256
    uint8_t Height; // 0 means 256
    uint8_t ColorCount;
    uint8_t Reserved;
    uint16_t Planes;   // hot spot x for cursors
    uint16_t BitCount; // hot spot y for cursors
    uint32_t BytesInRes;
    uint32_t ImageOffset;
};
#pragma pack(pop)
static_assert(sizeof(IconDir) == 6);
static_assert(sizeof(IconDirEntry) == 16);

[[noreturn]] void Fail(const std::string& What) { throw EInvalidGraphic("Icon image is not valid: " + What); }

// A BMP entry: an info header whose height counts both the colour rows and the AND
// mask rows, the colour table, the colour rows, then a 1-bit mask (1 = transparent).
void DecodeDibEntry(const uint8_t* Data, size_t Size, TBitmap& Out)
{
    if (Size < 40)
        Fail("entry header cut short");
    uint32_t headerSize = GetU32LE(Data);
    int32_t width = int32_t(GetU32LE(Data + 4));
    int32_t height2 = int32_t(GetU32LE(Data + 8));
    uint16_t bits = GetU16LE(Data + 14);
    uint32_t clrUsed = GetU32LE(Data + 32);
    if (headerSize < 40 || headerSize > Size || width <= 0 || height2 <= 0 || height2 % 2 != 0)
        Fail("bad entry header");
    int32_t height = height2 / 2;
    CheckPixelBufferSize(width, height, "Icon");
    // Hand the colour part to the BMP reader under a file header, with the true height.
    TMemoryStream bmp;
    bmp.WriteU16LE(0x4D42);
    bmp.WriteU32LE(uint32_t(14 + Size));
    bmp.WriteU32LE(0);
    bmp.WriteU32LE(0);
    bmp.WriteBuffer(Data, int64_t(Size));
    PutU32LE(bmp.Memory() + 14 + 8, uint32_t(height));
    bmp.SetPosition(0);
    TBitmap colour;
    colour.LoadFromStream(bmp);
    colour.SetPixelFormat(pf32bit);

    int64_t paletteBytes = bits <= 8 ? int64_t(clrUsed ? clrUsed : (1u << bits)) * 4 : 0;
    int64_t colourBytes = int64_t(TBitmap::BytesPerScanLine(width, bits)) * height;
    int64_t maskStart = int64_t(headerSize) + paletteBytes + colourBytes;
    int64_t maskStride = TBitmap::BytesPerScanLine(width, 1);
    bool haveMask = maskStart + maskStride * height <= int64_t(Size);
    bool anyAlpha = false;
    if (bits == 32)
        for (int32_t y = 0; y < height && !anyAlpha; ++y)
            for (int32_t x = 0; x < width; ++x)
                if (colour.ScanLine(y)[4 * x + 3]) {
                    anyAlpha = true;
                    break;
                }
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = colour.ScanLine(y);
        const uint8_t* mask = haveMask ? Data + maskStart + maskStride * (height - 1 - y) : nullptr;
        for (int32_t x = 0; x < width; ++x) {
            if (anyAlpha)
                continue; // 32-bit entries with alpha carry their own transparency
            bool clear = mask && (mask[x >> 3] >> (7 - (x & 7)) & 1);
            row[4 * x + 3] = clear ? 0 : 0xFF;
        }
    }
    Out.Assign(&colour);
}

} // namespace

TIcon::TIcon() = default;
TIcon::~TIcon() = default;

void TIcon::LoadFromStream(TStream& Stream)
{
    int64_t n = Stream.Size() - Stream.Position();
    if (n < 6 + 16)
        Fail("file too short");
    std::vector<uint8_t> data(static_cast<size_t>(n));
    Stream.ReadBuffer(data.data(), n);
    IconDir dir{GetU16LE(&data[0]), GetU16LE(&data[2]), GetU16LE(&data[4])};
    if (dir.Reserved != 0 || (dir.Type != 1 && dir.Type != 2) || dir.Count == 0)
        Fail("no icon directory");
    if (6 + int64_t(dir.Count) * 16 > n)
        Fail("directory cut short");
    // The largest image, then the deepest.
    int best = -1;
    int64_t bestScore = -1;
    for (int i = 0; i < dir.Count; ++i) {
        const uint8_t* e = &data[6 + size_t(i) * 16];
        IconDirEntry entry{e[0], e[1], e[2], e[3], GetU16LE(e + 4), GetU16LE(e + 6), GetU32LE(e + 8), GetU32LE(e + 12)};
        if (int64_t(entry.ImageOffset) + entry.BytesInRes > n || entry.BytesInRes == 0)
            continue;
        int64_t w = entry.Width ? entry.Width : 256, h = entry.Height ? entry.Height : 256;
        int64_t score = (w * h) * 64 + (dir.Type == 1 ? entry.BitCount : 0);
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    if (best < 0)
        Fail("no image inside the file");
    const uint8_t* e = &data[6 + size_t(best) * 16];
    const uint8_t* img = &data[GetU32LE(e + 12)];
    size_t size = GetU32LE(e + 8);
    TBitmap image;
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && std::equal(png, png + 8, img)) {
        QImage q = QImage::fromData(img, int(size), "PNG");
        if (q.isNull())
            Fail("bad PNG entry");
        CheckPixelBufferSize(q.width(), q.height(), "Icon");
        QImageToBitmap(q, image);
    } else {
        try {
            DecodeDibEntry(img, size, image);
        } catch (const EInvalidGraphic& ex) {
            Fail(ex.Message());
        }
    }
    FImage.Assign(&image);
    FData = std::move(data);
    Changed(this);
}

void TIcon::SaveToStream(TStream& Stream)
{
    if (!FData.empty()) {
        Stream.WriteBuffer(FData.data(), int64_t(FData.size()));
        return;
    }
    if (FImage.Empty() || FImage.Width() > 256 || FImage.Height() > 256)
        throw EInvalidGraphic("Icon image is not valid: an icon holds 1 to 256 pixels a side");
    const int32_t w = FImage.Width(), h = FImage.Height();
    const uint32_t maskStride = uint32_t(TBitmap::BytesPerScanLine(w, 1));
    const uint32_t bytes = 40 + uint32_t(w * 4 * h) + maskStride * uint32_t(h);
    Stream.WriteU16LE(0);
    Stream.WriteU16LE(1);
    Stream.WriteU16LE(1);
    Stream.WriteU8(uint8_t(w & 0xFF));
    Stream.WriteU8(uint8_t(h & 0xFF));
    Stream.WriteU8(0);
    Stream.WriteU8(0);
    Stream.WriteU16LE(1);
    Stream.WriteU16LE(32);
    Stream.WriteU32LE(bytes);
    Stream.WriteU32LE(6 + 16);
    uint8_t ih[40] = {};
    PutU32LE(ih, 40);
    PutU32LE(ih + 4, uint32_t(w));
    PutU32LE(ih + 8, uint32_t(h * 2));
    PutU16LE(ih + 12, 1);
    PutU16LE(ih + 14, 32);
    Stream.WriteBuffer(ih, 40);
    for (int32_t y = h - 1; y >= 0; --y)
        Stream.WriteBuffer(FImage.ScanLine(y), int64_t(w) * 4);
    std::vector<uint8_t> mask(maskStride);
    for (int32_t y = h - 1; y >= 0; --y) {
        std::fill(mask.begin(), mask.end(), 0);
        for (int32_t x = 0; x < w; ++x)
            if (FImage.ScanLine(y)[4 * x + 3] == 0)
                mask[size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
        Stream.WriteBuffer(mask.data(), maskStride);
    }
}

void TIcon::Draw(TCanvas& ACanvas, const TRect& Rect)
{
    if (Empty())
        return;
    QImage image = BitmapToQImage(FImage);
    TCanvasDrawing guard(ACanvas, true);
    TCanvasSurface* s = ACanvas.Surface();
    if (!s)
        return;
    QRect target(Rect.Left, Rect.Top, Rect.Width(), Rect.Height());
    if (s->Painter) {
        s->Painter->drawImage(target, image);
    } else if (s->HasBits()) {
        QPainter p(&s->Image);
        p.drawImage(target, image);
    }
}

void TIcon::LoadFromClipboardFormat(TClipboardFormat, const std::vector<uint8_t>& Data, HPALETTE)
{
    TReadOnlyMemoryStream block(Data.data(), int64_t(Data.size()));
    LoadFromStream(block);
}

void TIcon::Assign(TPersistent* Source)
{
    if (!Source) { // nil empties the icon, as list slots without an icon rely on
        FImage.SetSize(0, 0);
        FData.clear();
        Changed(this);
        return;
    }
    if (auto* i = dynamic_cast<TIcon*>(Source)) {
        if (i == this)
            return;
        FImage.Assign(&i->FImage);
        FData = i->FData;
        Changed(this);
        return;
    }
    if (auto* b = dynamic_cast<TBitmap*>(Source)) {
        TBitmap copy;
        copy.Assign(b);
        bool opaque = copy.PixelFormat() != pf32bit && copy.PixelFormat() != pfDevice;
        copy.SetPixelFormat(pf32bit);
        for (int32_t y = 0; opaque && y < copy.Height(); ++y)
            for (int32_t x = 0; x < copy.Width(); ++x)
                copy.ScanLine(y)[4 * x + 3] = 0xFF;
        FImage.Assign(&copy);
        FData.clear();
        Changed(this);
        return;
    }
    TGraphic::Assign(Source);
}

void TIcon::AssignTo(TPersistent* Dest)
{
    if (auto* b = dynamic_cast<TBitmap*>(Dest)) {
        b->Assign(&FImage);
        return;
    }
    TGraphic::AssignTo(Dest);
}

} // namespace kv
