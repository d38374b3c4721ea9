// The platform bitmap: storage in the Windows DIB layout, pixel-format conversion, its
// canvas, drawing itself, and the conversions to and from Qt images. The BMP codec is
// in BmpCodec.cpp.
#include "platform/CanvasSurface.h"
#include "platform/QtBridge.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace kv {

std::vector<TPaletteEntry> HalftonePaletteEntries(); // Graphics.cpp
uint32_t NearestPaletteIndex(const std::vector<TPaletteEntry>& Entries, TColor Color);

int32_t PixelFormatBits(TPixelFormat Format)
{
    switch (Format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    default: return 32;
    }
}

namespace {

bool IsPaletted(TPixelFormat Format) { return Format == pf1bit || Format == pf4bit || Format == pf8bit; }
bool Is32(TPixelFormat Format) { return PixelFormatBits(Format) == 32; }

std::vector<TPaletteEntry> DefaultPalette(TPixelFormat Format)
{
    switch (Format) {
    case pf1bit: return {{0, 0, 0, 0}, {255, 255, 255, 0}};
    case pf4bit: {
        // The sixteen VGA colours in their classic order.
        static const uint8_t vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                           {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                           {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                           {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        std::vector<TPaletteEntry> e(16);
        for (int i = 0; i < 16; ++i)
            e[i] = {vga[i][0], vga[i][1], vga[i][2], 0};
        return e;
    }
    case pf8bit: return HalftonePaletteEntries();
    default: return {};
    }
}

inline uint8_t Expand5(uint32_t v) { return uint8_t((v << 3) | (v >> 2)); }
inline uint8_t Expand6(uint32_t v) { return uint8_t((v << 2) | (v >> 4)); }

// Index of pixel X in a paletted row.
inline uint32_t RowIndex(const uint8_t* Row, int Bits, int32_t X)
{
    switch (Bits) {
    case 1: return (Row[X >> 3] >> (7 - (X & 7))) & 1;
    case 4: return (Row[X >> 1] >> ((X & 1) ? 0 : 4)) & 15;
    default: return Row[X];
    }
}

inline void SetRowIndex(uint8_t* Row, int Bits, int32_t X, uint32_t Index)
{
    switch (Bits) {
    case 1: {
        uint8_t m = uint8_t(0x80 >> (X & 7));
        Row[X >> 3] = uint8_t(Index & 1 ? Row[X >> 3] | m : Row[X >> 3] & ~m);
        break;
    }
    case 4:
        if (X & 1)
            Row[X >> 1] = uint8_t((Row[X >> 1] & 0xF0) | (Index & 15));
        else
            Row[X >> 1] = uint8_t((Row[X >> 1] & 0x0F) | ((Index & 15) << 4));
        break;
    default: Row[X] = uint8_t(Index);
    }
}

// Pixel X of a row as 0xAARRGGBB (opaque unless the format has a fourth byte).
inline uint32_t ReadPixel(const TBitmap& B, const uint8_t* Row, int32_t X)
{
    switch (B.PixelFormat()) {
    case pf1bit:
    case pf4bit:
    case pf8bit: {
        uint32_t i = RowIndex(Row, B.BitsPerPixel(), X);
        const auto& pal = B.PaletteEntries();
        if (i >= pal.size())
            return 0xFF000000u;
        return 0xFF000000u | (uint32_t(pal[i].peRed) << 16) | (uint32_t(pal[i].peGreen) << 8) | pal[i].peBlue;
    }
    case pf15bit: {
        uint32_t v = GetU16LE(Row + 2 * X);
        return 0xFF000000u | (uint32_t(Expand5((v >> 10) & 31)) << 16) | (uint32_t(Expand5((v >> 5) & 31)) << 8) |
               Expand5(v & 31);
    }
    case pf16bit: {
        uint32_t v = GetU16LE(Row + 2 * X);
        return 0xFF000000u | (uint32_t(Expand5((v >> 11) & 31)) << 16) | (uint32_t(Expand6((v >> 5) & 63)) << 8) |
               Expand5(v & 31);
    }
    case pf24bit: {
        const uint8_t* p = Row + 3 * X;
        return 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
    default: return GetU32LE(Row + 4 * X);
    }
}

// Writes 0xAARRGGBB into pixel X of a row; paletted formats take the nearest entry
// (Cache remembers the answers of one conversion).
inline void WritePixel(TBitmap& B, uint8_t* Row, int32_t X, uint32_t Pixel,
                       std::unordered_map<uint32_t, uint8_t>* Cache)
{
    uint32_t r = (Pixel >> 16) & 0xFF, g = (Pixel >> 8) & 0xFF, b = Pixel & 0xFF;
    switch (B.PixelFormat()) {
    case pf1bit:
    case pf4bit:
    case pf8bit: {
        uint32_t rgb = Pixel & 0xFFFFFF;
        uint32_t index;
        auto it = Cache ? Cache->find(rgb) : decltype(Cache->end()){};
        if (Cache && it != Cache->end()) {
            index = it->second;
        } else {
            index = NearestPaletteIndex(B.PaletteEntries(), RGB(uint8_t(r), uint8_t(g), uint8_t(b)));
            if (Cache)
                (*Cache)[rgb] = uint8_t(index);
        }
        SetRowIndex(Row, B.BitsPerPixel(), X, index);
        break;
    }
    case pf15bit: PutU16LE(Row + 2 * X, uint16_t(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))); break;
    case pf16bit: PutU16LE(Row + 2 * X, uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3))); break;
    case pf24bit:
        Row[3 * X] = uint8_t(b);
        Row[3 * X + 1] = uint8_t(g);
        Row[3 * X + 2] = uint8_t(r);
        break;
    default: PutU32LE(Row + 4 * X, Pixel);
    }
}

} // namespace

namespace {

// Paletted rows through a table of the words ReadPixel gives for each index.
void PalettedToPixels32(const TBitmap& Bitmap, uint32_t* Dest)
{
    const int32_t w = Bitmap.Width(), h = Bitmap.Height();
    const int bits = Bitmap.BitsPerPixel();
    const auto& pal = Bitmap.PaletteEntries();
    uint32_t table[256];
    for (size_t i = 0; i < 256; ++i)
        table[i] = i < pal.size()
                       ? 0xFF000000u | (uint32_t(pal[i].peRed) << 16) | (uint32_t(pal[i].peGreen) << 8) | pal[i].peBlue
                       : 0xFF000000u;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = Bitmap.ScanLine(y);
        uint32_t* out = Dest + size_t(y) * size_t(w);
        if (bits == 8)
            for (int32_t x = 0; x < w; ++x)
                out[x] = table[row[x]];
        else
            for (int32_t x = 0; x < w; ++x)
                out[x] = table[RowIndex(row, bits, x)];
    }
}

} // namespace

void BitmapToPixels32(const TBitmap& Bitmap, uint32_t* Dest)
{
    const int32_t w = Bitmap.Width(), h = Bitmap.Height();
    const TPixelFormat format = Bitmap.PixelFormat();
    if (format == pf1bit || format == pf4bit || format == pf8bit) {
        PalettedToPixels32(Bitmap, Dest);
        return;
    }
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = Bitmap.ScanLine(y);
        uint32_t* out = Dest + size_t(y) * size_t(w);
        if (Is32(Bitmap.PixelFormat()))
            std::memcpy(out, row, size_t(w) * 4);
        else
            for (int32_t x = 0; x < w; ++x)
                out[x] = ReadPixel(Bitmap, row, x);
    }
}

void PixelsToBitmap32(TBitmap& Bitmap, const uint32_t* Source, const uint32_t* Snapshot)
{
    const int32_t w = Bitmap.Width(), h = Bitmap.Height();
    std::unordered_map<uint32_t, uint8_t> cache;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = Bitmap.ScanLine(y);
        const uint32_t* in = Source + size_t(y) * size_t(w);
        const uint32_t* old = Snapshot ? Snapshot + size_t(y) * size_t(w) : nullptr;
        if (Is32(Bitmap.PixelFormat()) && !old) {
            std::memcpy(row, in, size_t(w) * 4);
            continue;
        }
        for (int32_t x = 0; x < w; ++x)
            if (!old || old[x] != in[x])
                WritePixel(Bitmap, row, x, in[x], &cache);
    }
}

// ---- TBitmap ----------------------------------------------------------------------------

TBitmap::TBitmap() = default;

TBitmap::~TBitmap()
{
    FCanvas.reset();
    DeletePalette(FPaletteHandle);
    FreePixelBuffer(FBits);
}

int32_t TBitmap::BytesPerScanLine(int32_t Width, int32_t BitsPerPixel)
{
    return int32_t(((int64_t(Width) * BitsPerPixel + 31) / 32) * 4);
}

int TBitmap::BitsPerPixel() const { return PixelFormatBits(FPixelFormat); }

void TBitmap::Reallocate(int32_t Width, int32_t Height, TPixelFormat Format, bool KeepPixels, TPixelFill Fill)
{
    CheckPixelBufferSize(Width, Height, "Bitmap");
    int32_t stride = BytesPerScanLine(Width, PixelFormatBits(Format));
    uint8_t* bits = (Width > 0 && Height > 0) ? AllocPixelBuffer(Width, Height, stride, "Bitmap", Fill) : nullptr;
    if (KeepPixels && FBits && bits && Format == FPixelFormat) {
        // The top-left corner stays where it was; rows are stored bottom-up.
        int32_t rows = std::min(Height, FHeight);
        size_t bytes = size_t(std::min(stride, FStride));
        for (int32_t y = 0; y < rows; ++y)
            std::memcpy(bits + size_t(Height - 1 - y) * stride, FBits + size_t(FHeight - 1 - y) * FStride, bytes);
    }
    FreePixelBuffer(FBits);
    FBits = bits;
    FWidth = Width;
    FHeight = Height;
    FStride = stride;
    FPixelFormat = Format;
}

void TBitmap::SetSize(int32_t Width, int32_t Height)
{
    if (Width < 0 || Height < 0)
        throw EInvalidGraphic("Invalid bitmap size " + std::to_string(Width) + " x " + std::to_string(Height));
    if (Width == FWidth && Height == FHeight)
        return;
    Reallocate(Width, Height, FPixelFormat, true);
    if (IsPaletted(FPixelFormat) && FPaletteEntries.empty())
        SetPaletteEntries(DefaultPalette(FPixelFormat));
    Changed(this);
}

void TBitmap::SetSizeForOverwrite(int32_t Width, int32_t Height)
{
    if (Width < 0 || Height < 0)
        throw EInvalidGraphic("Invalid bitmap size " + std::to_string(Width) + " x " + std::to_string(Height));
    if (Width == FWidth && Height == FHeight)
        return;
    Reallocate(Width, Height, FPixelFormat, false, TPixelFill::Overwritten);
    if (IsPaletted(FPixelFormat) && FPaletteEntries.empty())
        SetPaletteEntries(DefaultPalette(FPixelFormat));
    Changed(this);
}

void TBitmap::SetWidth(int32_t Value) { SetSize(Value, FHeight); }
void TBitmap::SetHeight(int32_t Value) { SetSize(FWidth, Value); }

void TBitmap::SetPixelFormat(TPixelFormat Value)
{
    if (Value == pfCustom)
        throw EInvalidGraphic("Invalid pixel format");
    if (Value == FPixelFormat)
        return;
    if (Is32(Value) && Is32(FPixelFormat)) {
        FPixelFormat = Value; // pfDevice is kept as 32 bits: nothing to convert
        Changed(this);
        return;
    }
    std::vector<uint32_t> pixels(size_t(FWidth) * size_t(FHeight));
    BitmapToPixels32(*this, pixels.data());
    std::vector<TPaletteEntry> palette;
    if (IsPaletted(Value)) {
        // A palette that fits the new depth stays; otherwise the depth's default one.
        size_t limit = size_t(1) << PixelFormatBits(Value);
        palette = IsPaletted(FPixelFormat) && !FPaletteEntries.empty() && FPaletteEntries.size() <= limit
                      ? FPaletteEntries
                      : DefaultPalette(Value);
    }
    Reallocate(FWidth, FHeight, Value, false);
    SetPaletteEntries(palette);
    PixelsToBitmap32(*this, pixels.data(), nullptr);
    Changed(this);
}

void TBitmap::SetMonochrome(bool Value)
{
    if (Value != Monochrome())
        SetPixelFormat(Value ? pf1bit : pfDevice);
}

uint8_t* TBitmap::ScanLine(int32_t Y)
{
    if (Y < 0 || Y >= FHeight || !FBits)
        throw EInvalidGraphicOperation("Scan line index out of range");
    return FBits + size_t(FHeight - 1 - Y) * size_t(FStride);
}

const uint8_t* TBitmap::ScanLine(int32_t Y) const { return const_cast<TBitmap*>(this)->ScanLine(Y); }

HPALETTE TBitmap::Palette() const
{
    if (!FPaletteHandle && !FPaletteEntries.empty())
        FPaletteHandle = CreatePalette(FPaletteEntries);
    return FPaletteHandle;
}

void TBitmap::SetPalette(HPALETTE Value)
{
    SetPaletteEntries(kv::PaletteEntries(Value));
    Changed(this);
}

void TBitmap::SetPaletteEntries(const std::vector<TPaletteEntry>& Entries)
{
    FPaletteEntries = Entries;
    if (FPaletteEntries.size() > 256)
        FPaletteEntries.resize(256);
    DeletePalette(FPaletteHandle);
    FPaletteHandle = nullptr;
}

TColor TBitmap::TransparentColor() const
{
    if (FTransparentMode == tmFixed && FTransparentColor != clDefault)
        return FTransparentColor;
    if (Empty())
        return clDefault;
    return PixelColor(0, FHeight - 1);
}

void TBitmap::SetTransparentColor(TColor Value)
{
    if (Value == FTransparentColor)
        return;
    FTransparentColor = Value;
    FTransparentMode = Value == clDefault ? tmAuto : tmFixed;
    Changed(this);
}

void TBitmap::SetTransparentMode(TTransparentMode Value)
{
    if (Value == FTransparentMode)
        return;
    if (Value == tmAuto)
        SetTransparentColor(clDefault);
    else
        SetTransparentColor(TransparentColor());
}

TCanvas* TBitmap::Canvas()
{
    if (!FCanvas)
        FCanvas = std::make_unique<TBitmapCanvas>(this);
    return FCanvas.get();
}

TColor TBitmap::PixelColor(int32_t X, int32_t Y) const
{
    if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight)
        return -1;
    return PixelToColor(ReadPixel(*this, ScanLine(Y), X));
}

void TBitmap::SetPixelColor(int32_t X, int32_t Y, TColor Color)
{
    if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight)
        return;
    WritePixel(*this, ScanLine(Y), X, ColorToPixel(Color), nullptr);
    Changed(this);
}

void TBitmap::Assign(TPersistent* Source)
{
    if (!Source) {
        Reallocate(0, 0, FPixelFormat, false);
        Changed(this);
        return;
    }
    auto* src = dynamic_cast<TBitmap*>(Source);
    if (!src)
        return TGraphic::Assign(Source); // the source's AssignTo draws it
    if (src == this)
        return;
    // Every byte of the block is copied over next: no need to clear it first.
    Reallocate(src->FWidth, src->FHeight, src->FPixelFormat, false,
               src->FBits ? TPixelFill::Overwritten : TPixelFill::Zeroed);
    if (FBits && src->FBits)
        std::memcpy(FBits, src->FBits, size_t(FStride) * size_t(FHeight));
    SetPaletteEntries(src->FPaletteEntries);
    FTransparentColor = src->FTransparentColor;
    FTransparentMode = src->FTransparentMode;
    FIgnorePalette = src->FIgnorePalette;
    TGraphic::SetTransparent(src->Transparent());
    Changed(this);
}

void TBitmap::Draw(TCanvas& ACanvas, const TRect& Rect)
{
    if (Empty() || Rect.Width() == 0 || Rect.Height() == 0)
        return;
    std::vector<uint32_t> pixels(size_t(FWidth) * size_t(FHeight));
    BitmapToPixels32(*this, pixels.data());
    if (!Transparent()) {
        TCanvas source;
        source.AttachBuffer(pixels.data(), FWidth, FHeight, FWidth * 4);
        StretchBlt(&ACanvas, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), &source, 0, 0, FWidth, FHeight,
                   ACanvas.CopyMode());
        return;
    }
    // Transparent: every pixel of the transparent colour leaves the canvas as it was.
    const uint32_t key = ColorToPixel(TransparentColor()) & 0xFFFFFF;
    TCanvasDrawing guard(ACanvas, true);
    TCanvasSurface* s = ACanvas.Surface();
    if (!s)
        return;
    if (s->Painter) {
        QImage image(FWidth, FHeight, QImage::Format_ARGB32);
        for (int32_t y = 0; y < FHeight; ++y) {
            auto* out = reinterpret_cast<uint32_t*>(image.scanLine(y));
            const uint32_t* in = pixels.data() + size_t(y) * FWidth;
            for (int32_t x = 0; x < FWidth; ++x)
                out[x] = (in[x] & 0xFFFFFF) == key ? 0 : (in[x] | 0xFF000000u);
        }
        s->Painter->drawImage(QRect(Rect.Left, Rect.Top, Rect.Width(), Rect.Height()), image);
        return;
    }
    if (!s->HasBits())
        return;
    int32_t left = std::min(Rect.Left, Rect.Right), top = std::min(Rect.Top, Rect.Bottom);
    int32_t w = std::abs(Rect.Width()), h = std::abs(Rect.Height());
    for (int32_t y = std::max(top, 0); y < std::min(top + h, s->Height); ++y) {
        int32_t sy = int32_t(int64_t(y - top) * FHeight / h);
        if (Rect.Height() < 0)
            sy = FHeight - 1 - sy;
        uint32_t* row = s->Row(y);
        const uint32_t* in = pixels.data() + size_t(sy) * FWidth;
        for (int32_t x = std::max(left, 0); x < std::min(left + w, s->Width); ++x) {
            int32_t sx = int32_t(int64_t(x - left) * FWidth / w);
            if (Rect.Width() < 0)
                sx = FWidth - 1 - sx;
            if ((in[sx] & 0xFFFFFF) != key)
                row[x] = in[sx];
        }
    }
}

void TBitmap::LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE)
{
    if (Format != CF_DIB && Format != CF_BITMAP)
        throw EInvalidGraphic("Unsupported clipboard format");
    // A packed DIB: the file header is missing; the reader finds the pixels after the
    // colour table when the offset is 0.
    TMemoryStream s;
    s.WriteU16LE(0x4D42);
    s.WriteU32LE(uint32_t(14 + Data.size()));
    s.WriteU32LE(0);
    s.WriteU32LE(0);
    s.WriteBuffer(Data.data(), int64_t(Data.size()));
    s.SetPosition(0);
    LoadFromStream(s);
}

void TBitmap::SaveToClipboardFormat(TClipboardFormat& Format, std::vector<uint8_t>& Data, HPALETTE& Palette)
{
    TMemoryStream s;
    SaveToStream(s);
    Format = CF_DIB;
    Data.assign(s.Memory() + 14, s.Memory() + s.Size());
    Palette = nullptr;
}

// ---- TBitmapCanvas ------------------------------------------------------------------

void TBitmapCanvas::BeginDrawing()
{
    if (FDepth++ > 0)
        return;
    FChanged = false;
    const int32_t w = FBitmap->Width(), h = FBitmap->Height();
    if (FBitmap->Empty()) {
        FPixels.clear();
        SetSurface(nullptr);
        return;
    }
    FPixels.resize(size_t(w) * size_t(h));
    BitmapToPixels32(*FBitmap, FPixels.data());
    if (IsPaletted(FBitmap->PixelFormat()))
        FSnapshot = FPixels;
    else
        FSnapshot.clear();
    TCanvasSurface* s = Surface();
    if (!s || s->Bits != FPixels.data() || s->Width != w || s->Height != h)
        SetSurface(TCanvasSurface::OverBits(FPixels.data(), w, h, w * 4));
}

void TBitmapCanvas::EndDrawing(bool Changed)
{
    FChanged = FChanged || Changed;
    if (--FDepth > 0)
        return;
    if (!FChanged || FBitmap->Empty() || FPixels.size() != size_t(FBitmap->Width()) * size_t(FBitmap->Height()))
        return;
    PixelsToBitmap32(*FBitmap, FPixels.data(), FSnapshot.empty() ? nullptr : FSnapshot.data());
    FBitmap->Changed(FBitmap);
}

// ---- Qt bridge -------------------------------------------------------------------------

QImage BitmapToQImage(const TBitmap& Bitmap)
{
    if (Bitmap.Empty())
        return QImage();
    QImage image(Bitmap.Width(), Bitmap.Height(), QImage::Format_ARGB32);
    std::vector<uint32_t> pixels(size_t(Bitmap.Width()) * size_t(Bitmap.Height()));
    BitmapToPixels32(Bitmap, pixels.data());
    for (int32_t y = 0; y < Bitmap.Height(); ++y)
        std::memcpy(image.scanLine(y), pixels.data() + size_t(y) * Bitmap.Width(), size_t(Bitmap.Width()) * 4);
    return image;
}

void QImageToBitmap(const QImage& Image, TBitmap& Bitmap, const char* What)
{
    CheckPixelBufferSize(Image.width(), Image.height(), What);
    const bool hasAlpha = Image.hasAlphaChannel();
    const QImage image = Image.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull() && !Image.isNull())
        throw EOutOfResources(std::string("Out of memory while converting the ") + What);
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
}

TPainterCanvas::TPainterCanvas(QPainter& Painter, int32_t Width, int32_t Height)
{
    SetSurface(TCanvasSurface::OverPainter(&Painter, Width, Height));
}

} // namespace kv
