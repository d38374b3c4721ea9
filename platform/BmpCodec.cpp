// Our own BMP reader and writer for the platform bitmap (Qt's would drop the alpha
// byte of 32-bit files, which project files depend on).
#include "platform/BmpRules.h"
#include "platform/BmpWiden.h"
#include "platform/CpuFeatures.h"
#include "platform/Graphics.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kv {

namespace {

// On-disk records, little-endian, read and written field by field.
#pragma pack(push, 1)
struct BmpFileHeader {
    uint16_t bfType; // "BM"
    uint32_t bfSize; // whole file
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    uint32_t bfOffBits; // pixels, from the start of the file header
};
struct BmpCoreHeader { // OS/2 1.x
    uint32_t bcSize;   // 12
    uint16_t bcWidth;
    uint16_t bcHeight;
    uint16_t bcPlanes;
    uint16_t bcBitCount;
};
struct BmpInfoHeader {
    uint32_t biSize; // 40, or 52/56/64/108/124 for the longer variants
    int32_t biWidth;
    int32_t biHeight; // negative: rows top-down
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
struct BmpV4Tail { // follows the 40-byte part in a V4 header (108 bytes)
    uint32_t RedMask;
    uint32_t GreenMask;
    uint32_t BlueMask;
    uint32_t AlphaMask;
    uint32_t CSType;
    uint8_t Endpoints[36];
    uint32_t GammaRed;
    uint32_t GammaGreen;
    uint32_t GammaBlue;
};
struct BmpV5Tail { // follows the V4 part in a V5 header (124 bytes)
    uint32_t Intent;
    uint32_t ProfileData;
    uint32_t ProfileSize;
    uint32_t Reserved;
};
#pragma pack(pop)
static_assert(sizeof(BmpFileHeader) == 14);
static_assert(sizeof(BmpCoreHeader) == 12);
static_assert(sizeof(BmpInfoHeader) == 40);
static_assert(sizeof(BmpInfoHeader) + sizeof(BmpV4Tail) == 108);
static_assert(sizeof(BmpInfoHeader) + sizeof(BmpV4Tail) + sizeof(BmpV5Tail) == 124);

constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6;
constexpr uint32_t MaxHeaderSize = 4096; // larger "headers" are not bitmaps

[[noreturn]] void Fail(const std::string& What) { throw EInvalidGraphic("Bitmap image is not valid: " + What); }

struct Masks {
    uint32_t R = 0, G = 0, B = 0, A = 0;
};

// One channel of a bit-field pixel scaled to 0..255.
struct Channel {
    uint32_t Mask = 0;
    int Shift = 0;
    uint64_t Max = 0;
    explicit Channel(uint32_t M) : Mask(M)
    {
        if (M) {
            Shift = std::countr_zero(M);
            Max = (uint64_t(1) << std::bit_width(M >> Shift)) - 1;
        }
    }
    uint8_t Get(uint32_t P) const
    {
        if (!Mask)
            return 0;
        uint64_t v = (P & Mask) >> Shift;
        return uint8_t((v * 255 + Max / 2) / Max);
    }
};

struct Header {
    int32_t Width = 0;
    int32_t Height = 0; // absolute
    bool TopDown = false;
    int Bits = 0;
    uint32_t Compression = BI_RGB;
    uint32_t SizeImage = 0;
    uint32_t ClrUsed = 0;
    uint32_t HeaderSize = 0;
    bool Core = false;
    Masks M;
    int64_t TableStart = 0; // relative to the file header
};

// RLE8 / RLE4 into the bitmap's rows (file row 0 = bottom row). Runs and absolute
// blocks are clamped to the row, deltas and ends of line to the picture.
int64_t DecodeRle(TBitmap& Bmp, const uint8_t* Data, int64_t Size, int Bits)
{
    const int32_t w = Bmp.Width(), h = Bmp.Height();
    int32_t x = 0, y = 0;
    int64_t i = 0;
    auto put = [&](uint32_t index) {
        if (x < w && y < h) {
            uint8_t* row = Bmp.ScanLine(h - 1 - y);
            if (Bits == 8)
                row[x] = uint8_t(index);
            else if (x & 1)
                row[x >> 1] = uint8_t((row[x >> 1] & 0xF0) | (index & 15));
            else
                row[x >> 1] = uint8_t((row[x >> 1] & 0x0F) | ((index & 15) << 4));
        }
        ++x;
    };
    while (y < h) {
        if (Size - i < 2)
            Fail("compressed data ends early");
        uint8_t count = Data[i], value = Data[i + 1];
        i += 2;
        if (count > 0) {
            int32_t n = std::min<int32_t>(count, std::max(0, w - x));
            for (int32_t k = 0; k < n; ++k)
                put(Bits == 8 ? value : (k & 1 ? value & 15 : value >> 4));
            x += count - n;
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return i;
        case 2: // delta
            if (Size - i < 2)
                Fail("compressed data ends early");
            x += Data[i];
            y += Data[i + 1];
            i += 2;
            break;
        default: { // absolute block, padded to a 16-bit boundary
            int64_t bytes = Bits == 8 ? value : (value + 1) / 2;
            int64_t padded = (bytes + 1) & ~int64_t(1);
            if (Size - i < bytes)
                Fail("compressed data ends early");
            for (int k = 0; k < value; ++k) {
                if (x >= w) {
                    x += value - k;
                    break;
                }
                put(Bits == 8 ? Data[i + k] : (k & 1 ? Data[i + k / 2] & 15 : Data[i + k / 2] >> 4));
            }
            i += std::min(padded, Size - i);
            break;
        }
        }
    }
    return i;
}

Header ReadHeaders(TStream& S, int64_t Start, int64_t Avail, BmpFileHeader& FH)
{
    if (Avail < 14 + 12)
        Fail("the file is too short");
    uint8_t fh[14];
    S.ReadBuffer(fh, 14);
    FH.bfType = GetU16LE(fh);
    FH.bfSize = GetU32LE(fh + 2);
    FH.bfReserved1 = GetU16LE(fh + 6);
    FH.bfReserved2 = GetU16LE(fh + 8);
    FH.bfOffBits = GetU32LE(fh + 10);
    if (FH.bfType != 0x4D42)
        Fail("no \"BM\" signature");

    Header h;
    uint8_t hb[124] = {};
    S.ReadBuffer(hb, 4);
    h.HeaderSize = GetU32LE(hb);
    if (h.HeaderSize != 12 && (h.HeaderSize < 16 || h.HeaderSize > MaxHeaderSize))
        Fail("unknown header size " + std::to_string(h.HeaderSize));
    if (Avail < 14 + int64_t(h.HeaderSize))
        Fail("the header is cut short");
    uint32_t keep = std::min<uint32_t>(h.HeaderSize, 124);
    S.ReadBuffer(hb + 4, keep - 4);
    S.Seek(int64_t(h.HeaderSize - keep), soCurrent);

    if (h.HeaderSize == 12) {
        h.Core = true;
        h.Width = GetU16LE(hb + 4);
        h.Height = GetU16LE(hb + 6);
        h.Bits = GetU16LE(hb + 10);
    } else {
        // OS/2 2.x headers shorter than 40 bytes leave the missing fields zero.
        h.Width = int32_t(GetU32LE(hb + 4));
        int32_t height = int32_t(GetU32LE(hb + 8));
        if (height == INT32_MIN)
            Fail("impossible height");
        h.TopDown = height < 0;
        h.Height = height < 0 ? -height : height;
        h.Bits = GetU16LE(hb + 14);
        h.Compression = GetU32LE(hb + 16);
        h.SizeImage = GetU32LE(hb + 20);
        h.ClrUsed = GetU32LE(hb + 32);
    }
    if (h.Width < 0)
        Fail("negative width");
    int64_t pos = 14 + int64_t(h.HeaderSize);
    switch (h.Bits) {
    case 1:
    case 4:
    case 8:
    case 24: break;
    case 16: h.M = {0x7C00, 0x03E0, 0x001F, 0}; break;
    case 32: h.M = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}; break;
    default: Fail("unsupported bit count " + std::to_string(h.Bits));
    }
    switch (h.Compression) {
    case BI_RGB: break;
    case BI_RLE8:
        if (h.Bits != 8)
            Fail("RLE8 needs 8 bits per pixel");
        break;
    case BI_RLE4:
        if (h.Bits != 4)
            Fail("RLE4 needs 4 bits per pixel");
        break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS: {
        if (h.Bits != 16 && h.Bits != 32)
            Fail("bit fields need 16 or 32 bits per pixel");
        bool alpha = h.Compression == BI_ALPHABITFIELDS;
        if (h.HeaderSize >= 52) {
            h.M = {GetU32LE(hb + 40), GetU32LE(hb + 44), GetU32LE(hb + 48), h.HeaderSize >= 56 ? GetU32LE(hb + 52) : 0};
        } else {
            // A 40-byte header is followed by the masks.
            int64_t n = alpha ? 16 : 12;
            if (Avail < pos + n)
                Fail("the bit-field masks are cut short");
            uint8_t mb[16] = {};
            S.ReadBuffer(mb, n);
            h.M = {GetU32LE(mb), GetU32LE(mb + 4), GetU32LE(mb + 8), alpha ? GetU32LE(mb + 12) : 0};
            pos += n;
        }
        if (!h.M.R && !h.M.G && !h.M.B)
            Fail("empty bit-field masks");
        break;
    }
    default: Fail("unsupported compression " + std::to_string(h.Compression));
    }
    if (h.TopDown && (h.Compression == BI_RLE8 || h.Compression == BI_RLE4))
        Fail("compressed rows cannot run top-down");
    if (!h.Core && !BmpColorsUsedFit(h.Bits, h.ClrUsed))
        Fail("more colours used than " + std::to_string(h.Bits) + " bits can index");
    h.TableStart = pos;
    return h;
}

TPixelFormat ChooseFormat(const Header& H)
{
    switch (H.Bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 24: return pf24bit;
    case 16:
        if (H.M.R == 0x7C00 && H.M.G == 0x03E0 && H.M.B == 0x001F && !H.M.A)
            return pf15bit;
        if (H.M.R == 0xF800 && H.M.G == 0x07E0 && H.M.B == 0x001F && !H.M.A)
            return pf16bit;
        return pf32bit; // other masks are unpacked
    default: return pf32bit;
    }
}

bool RawCopy(const Header& H, TPixelFormat Format)
{
    if (H.Bits != 32)
        return Format != pf32bit;
    return H.M.R == 0x00FF0000 && H.M.G == 0x0000FF00 && H.M.B == 0x000000FF && (H.M.A == 0xFF000000 || H.M.A == 0);
}

void UnpackRow(const Header& H, const uint8_t* In, uint8_t* Out, int32_t Width)
{
    Channel r(H.M.R), g(H.M.G), b(H.M.B), a(H.M.A);
    for (int32_t x = 0; x < Width; ++x) {
        uint32_t p = H.Bits == 16 ? GetU16LE(In + 2 * x) : GetU32LE(In + 4 * x);
        Out[4 * x] = b.Get(p);
        Out[4 * x + 1] = g.Get(p);
        Out[4 * x + 2] = r.Get(p);
        Out[4 * x + 3] = H.M.A ? a.Get(p) : 0xFF;
    }
}

} // namespace

void WidenBgrRowPlain(const uint8_t* Src, int32_t Count, uint32_t* Out, TRowStore)
{
    if (Count <= 0)
        return;
    // Four bytes at a time, the fourth (the next pixel's blue) replaced by the opaque
    // alpha; the last pixel may end the buffer, so it is read byte by byte.
    const int32_t last = Count - 1;
    for (int32_t x = 0; x < last; ++x, Src += 3)
        Out[x] = 0xFF000000u | (GetU32LE(Src) & 0xFFFFFFu);
    Out[last] = 0xFF000000u | (uint32_t(Src[2]) << 16) | (uint32_t(Src[1]) << 8) | Src[0];
}

TWidenBgrRow WidenBgrRow()
{
    static const TWidenBgrRow chosen = [] {
        if (SimdAllowed(TSimdLevel::Ssse3) && Ssse3WidenBgrRow() != nullptr)
            return Ssse3WidenBgrRow();
        return &WidenBgrRowPlain;
    }();
    return chosen;
}

namespace {

// Uncompressed 24/32-bit rows into top-down 32-bit words, as the bitmap's own rows would
// give them to a 32-bit picture: 24-bit pixels opaque, 32-bit pixels with their fourth
// byte. Returns the bytes read.
int64_t ReadRows32(TStream& Stream, const Header& H, TPixelFormat Format, int64_t DataAvail, uint32_t* Dest)
{
    const int64_t fileStride = ((int64_t(H.Width) * H.Bits + 31) / 32) * 4;
    const bool raw = RawCopy(H, Format);
    const TWidenBgrRow widen = WidenBgrRow();
    // A large picture is written past the cache, where the batch of file rows stays.
    const TRowStore store = RowStoreFor(int64_t(H.Width) * H.Height * 4);
    // Rows are read a batch at a time: one read per row would cost a call per row.
    const int32_t batch = int32_t(std::clamp<int64_t>((int64_t(1) << 18) / fileStride, 1, H.Height));
    std::vector<uint8_t> rows(static_cast<size_t>(fileStride * batch));
    int64_t consumed = 0;
    for (int32_t r0 = 0; r0 < H.Height; r0 += batch) {
        const int32_t count = std::min(batch, H.Height - r0);
        const int64_t want = fileStride * count, n = std::min<int64_t>(want, DataAvail - consumed);
        if (n < want)
            std::fill(rows.begin() + n, rows.begin() + want, uint8_t(0));
        Stream.ReadBuffer(rows.data(), n);
        consumed += n;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t r = r0 + i;
            uint32_t* out = Dest + size_t(H.TopDown ? r : H.Height - 1 - r) * size_t(H.Width);
            const uint8_t* s = rows.data() + size_t(i) * size_t(fileStride);
            if (Format == pf24bit) {
                widen(s, H.Width, out, store);
            } else if (raw) {
                std::memcpy(out, s, size_t(H.Width) * 4);
            } else {
                UnpackRow(H, s, reinterpret_cast<uint8_t*>(out), H.Width);
            }
        }
    }
    return consumed;
}

} // namespace

void TBitmap::LoadFromStream(TStream& Stream)
{
    const int64_t start = Stream.Position();
    const int64_t avail = Stream.Size() - start;
    BmpFileHeader fh{};
    Header h = ReadHeaders(Stream, start, avail, fh);
    if (!PixelBufferSizeOk(h.Width, h.Height))
        Fail(PixelBufferSizeMessage(h.Width, h.Height, "Bitmap"));

    // The colour table.
    std::vector<TPaletteEntry> palette;
    int64_t tableEnd = h.TableStart;
    if (h.Bits <= 8) {
        int64_t entrySize = h.Core ? 3 : 4;
        int64_t count = int64_t(1) << h.Bits;
        if (!h.Core && h.ClrUsed != 0 && h.ClrUsed < count)
            count = h.ClrUsed;
        if (fh.bfOffBits >= h.TableStart && fh.bfOffBits < h.TableStart + count * entrySize)
            count = (fh.bfOffBits - h.TableStart) / entrySize; // some writers cut the table short
        if (avail < h.TableStart + count * entrySize)
            Fail("the colour table is cut short");
        std::vector<uint8_t> table(static_cast<size_t>(count * entrySize));
        Stream.ReadBuffer(table.data(), int64_t(table.size()));
        palette.resize(size_t(count));
        for (int64_t i = 0; i < count; ++i) {
            const uint8_t* e = &table[size_t(i * entrySize)];
            palette[size_t(i)] = {e[2], e[1], e[0], 0};
        }
        tableEnd = h.TableStart + count * entrySize;
    }

    // Where the pixels start: bfOffBits, or right after the table when it is 0 (a
    // packed DIB given a file header).
    int64_t offset = fh.bfOffBits == 0 ? tableEnd : int64_t(fh.bfOffBits);
    if (offset < 14 + int64_t(h.HeaderSize) || offset > avail)
        Fail("bad pixel offset " + std::to_string(fh.bfOffBits));

    TPixelFormat format = ChooseFormat(h);
    const int64_t fileStride = ((int64_t(h.Width) * h.Bits + 31) / 32) * 4;
    const int64_t dataAvail = avail - offset;
    bool rle = h.Compression == BI_RLE8 || h.Compression == BI_RLE4;
    if (!rle && h.Height > 0) {
        int64_t need = fileStride * (h.Height - 1) + (int64_t(h.Width) * h.Bits + 7) / 8;
        if (dataAvail < need)
            Fail("the pixel data is cut short");
    }
    // Run-length data is read before the bitmap is made, so that a picture far larger
    // than the data can stand for is refused without it.
    std::vector<uint8_t> rleData;
    if (rle) {
        int64_t size = dataAvail;
        if (h.SizeImage != 0 && h.SizeImage < size)
            size = h.SizeImage;
        Stream.SetPosition(start + offset);
        rleData.resize(static_cast<size_t>(size));
        Stream.ReadBuffer(rleData.data(), size);
        if (!BmpRleDataFits(rleData.data(), size, h.Width, h.Height, h.Bits))
            Fail("picture size exceeds its compressed data");
    }

    const bool direct =
        FPixels32Target && !rle && (format == pf24bit || format == pf32bit) && h.Width > 0 && h.Height > 0;
    if (direct) {
        Stream.SetPosition(start + offset);
        const int64_t consumed = ReadRows32(Stream, h, format, dataAvail, FPixels32Target(h.Width, h.Height));
        Stream.SetPosition(start + offset + consumed);
        return;
    }

    TBitmap bmp;
    bmp.FPixelFormat = format;
    bmp.Reallocate(h.Width, h.Height, format, false);
    bmp.SetPaletteEntries(palette);

    Stream.SetPosition(start + offset);
    int64_t consumed = 0;
    if (rle) {
        const int64_t size = int64_t(rleData.size());
        if (!bmp.Empty())
            consumed = DecodeRle(bmp, rleData.data(), size, h.Bits);
        else
            consumed = size;
    } else if (!bmp.Empty()) {
        bool raw = RawCopy(h, format);
        std::vector<uint8_t> row(static_cast<size_t>(fileStride));
        for (int32_t r = 0; r < h.Height; ++r) {
            int64_t n = std::min<int64_t>(fileStride, dataAvail - consumed);
            std::fill(row.begin(), row.end(), 0);
            Stream.ReadBuffer(row.data(), n);
            consumed += n;
            uint8_t* out = bmp.ScanLine(h.TopDown ? r : h.Height - 1 - r);
            if (raw)
                std::memcpy(out, row.data(), size_t(bmp.FStride));
            else
                UnpackRow(h, row.data(), out, h.Width);
        }
    }
    Stream.SetPosition(start + offset + consumed);

    // Success: take the pixels over; the bitmap was untouched until here.
    std::swap(FBits, bmp.FBits);
    FWidth = bmp.FWidth;
    FHeight = bmp.FHeight;
    FStride = bmp.FStride;
    FPixelFormat = bmp.FPixelFormat;
    SetPaletteEntries(bmp.FPaletteEntries);
    Changed(this);
}

void TBitmap::SaveToStream(TStream& Stream)
{
    const int bits = BitsPerPixel();
    const bool paletted = bits <= 8;
    std::vector<TPaletteEntry> palette = paletted ? FPaletteEntries : std::vector<TPaletteEntry>{};
    if (paletted && palette.size() > (size_t(1) << bits))
        palette.resize(size_t(1) << bits);
    const uint32_t compression = FPixelFormat == pf16bit ? BI_BITFIELDS : BI_RGB;
    const uint32_t maskBytes = compression == BI_BITFIELDS ? 12 : 0;
    const uint32_t imageSize = uint32_t(FStride) * uint32_t(FHeight);
    const uint32_t offBits = 14 + 40 + maskBytes + uint32_t(palette.size()) * 4;

    uint8_t fh[14];
    PutU16LE(fh, 0x4D42);
    PutU32LE(fh + 2, offBits + imageSize);
    PutU16LE(fh + 6, 0);
    PutU16LE(fh + 8, 0);
    PutU32LE(fh + 10, offBits);
    uint8_t ih[40];
    PutU32LE(ih, 40);
    PutU32LE(ih + 4, uint32_t(FWidth));
    PutU32LE(ih + 8, uint32_t(FHeight)); // bottom-up, as stored
    PutU16LE(ih + 12, 1);
    PutU16LE(ih + 14, uint16_t(bits));
    PutU32LE(ih + 16, compression);
    PutU32LE(ih + 20, imageSize);
    PutU32LE(ih + 24, 0);
    PutU32LE(ih + 28, 0);
    PutU32LE(ih + 32, paletted && palette.size() < (size_t(1) << bits) ? uint32_t(palette.size()) : 0);
    PutU32LE(ih + 36, 0);
    Stream.WriteBuffer(fh, 14);
    Stream.WriteBuffer(ih, 40);
    if (maskBytes) {
        Stream.WriteU32LE(0xF800);
        Stream.WriteU32LE(0x07E0);
        Stream.WriteU32LE(0x001F);
    }
    for (const auto& e : palette) {
        uint8_t q[4] = {e.peBlue, e.peGreen, e.peRed, 0};
        Stream.WriteBuffer(q, 4);
    }
    if (imageSize)
        Stream.WriteBuffer(FBits, imageSize);
}

} // namespace kv
