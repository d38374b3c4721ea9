#include "formats/Pcx_unit.h"

#include "formats/LoaderFile.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kv {

std::string PCXErrorText;

namespace {

const char* const MsgNotPCX = "Not a PCX file, or header read error.";
const char* const MsgInvalidPCX = "Not a valid PCX file!";
const char* const MsgUnsupportedPCX = "Unsupported PCX pixel format!";

// The 128-byte file header (little-endian fields).
struct TPCXHeader {
    uint8_t Manufacturer;
    uint8_t Version;
    uint8_t Encoding;
    uint8_t BitsPerPixel;
    uint16_t XMin, YMin, XMax, YMax;
    uint16_t HRes, VRes;
    uint8_t Palette[48];
    uint8_t Reserved;
    uint8_t Planes;
    uint16_t BytesPerLine;
    uint16_t PaletteInfo;
    uint8_t Filler[58];
};
static_assert(sizeof(TPCXHeader) == 128, "PCX header is 128 bytes");

constexpr int HeaderSize = 128;
constexpr int PaletteTailSize = 769; // marker byte + 256 x RGB
constexpr int MaxRun = 63;

// Palette in 6-bit units (0..63), red, green, blue.
const uint8_t DefaultPalette16[16][3] = {{0, 0, 0},   {0, 0, 32},   {0, 32, 0},   {0, 32, 32}, {32, 0, 0}, {32, 0, 32},
                                         {32, 32, 0}, {42, 42, 42}, {21, 21, 21}, {0, 0, 63},  {0, 63, 0}, {0, 63, 63},
                                         {63, 0, 0},  {63, 0, 63},  {63, 63, 0},  {63, 63, 63}};

TPCXHeader ReadHeader(TByteReader& F)
{
    TPCXHeader h{};
    h.Manufacturer = F.ReadU8();
    h.Version = F.ReadU8();
    h.Encoding = F.ReadU8();
    h.BitsPerPixel = F.ReadU8();
    h.XMin = F.ReadU16LE();
    h.YMin = F.ReadU16LE();
    h.XMax = F.ReadU16LE();
    h.YMax = F.ReadU16LE();
    h.HRes = F.ReadU16LE();
    h.VRes = F.ReadU16LE();
    F.ReadBytes(h.Palette, 48);
    h.Reserved = F.ReadU8();
    h.Planes = F.ReadU8();
    h.BytesPerLine = F.ReadU16LE();
    h.PaletteInfo = F.ReadU16LE();
    F.ReadBytes(h.Filler, 58);
    return h;
}

bool Fail(const char* Message)
{
    PCXErrorText = Message;
    return false;
}

std::vector<TPaletteEntry> Entries(const TPalette6& P, size_t Count, int Scale, int Add)
{
    std::vector<TPaletteEntry> e(256); // padded with black: stray indices stay defined
    for (size_t i = 0; i < Count && i < 256; ++i)
        e[i] = {uint8_t(std::min(255, (P[i][0] + Add) * Scale - Add)),
                uint8_t(std::min(255, (P[i][1] + Add) * Scale - Add)),
                uint8_t(std::min(255, (P[i][2] + Add) * Scale - Add)), 0};
    e.resize(std::max<size_t>(Count, 2));
    return e;
}

enum TPcxKind : uint8_t { pkMono, pkPlanes, pkIndexed, pkRGB, pkOther };

TPcxKind KindOf(const TPCXHeader& H)
{
    if (H.BitsPerPixel == 1)
        return H.Planes == 1 ? pkMono : pkPlanes;
    if (H.BitsPerPixel == 8 && H.Planes == 1)
        return pkIndexed;
    if (H.BitsPerPixel == 8 && H.Planes == 3)
        return pkRGB;
    return pkOther;
}

// One RLE line of Planes x BytesPerLine decoded bytes into Line (LineSize bytes).
void DecodeLine(TByteReader& F, const TPCXHeader& H, TPcxKind Kind, int32_t Width, uint8_t* Line, size_t LineSize)
{
    const int64_t bpl = H.BytesPerLine;
    const int64_t total = int64_t(H.Planes) * bpl;
    int64_t produced = 0;
    while (produced < total) {
        uint8_t b = F.ReadU8();
        int count = 1;
        if ((b & 0xC0) == 0xC0) {
            count = b & 0x3F;
            b = F.ReadU8();
        }
        // A run that passes the line's end is cut there.
        for (int k = 0; k < count && produced < total; ++k, ++produced) {
            if (Kind == pkPlanes) {
                int64_t plane = produced / bpl;
                if (plane >= 8)
                    continue; // bit shl plane would leave the byte
                int64_t first = (produced % bpl) * 8;
                for (int bit = 0; bit < 8; ++bit) {
                    int64_t px = first + bit;
                    if (px < Width && ((b >> (7 - bit)) & 1))
                        Line[size_t(px)] = uint8_t(Line[size_t(px)] + (1 << plane));
                }
            } else if (size_t(produced) < LineSize) {
                Line[size_t(produced)] = b;
            }
        }
    }
}

// The header's 16 entries in 6-bit units; version 2 files keep some components as 0..3.
TPalette6 HeaderPalette(const TPCXHeader& H)
{
    TPalette6 pal{};
    for (int i = 0; i < 16; ++i)
        for (int c = 0; c < 3; ++c) {
            int v = H.Palette[i * 3 + c];
            if (H.Version == 2 && v < 4)
                v *= 85;
            pal[size_t(i)][size_t(c)] = uint8_t(v >> 2);
        }
    return pal;
}

bool ValidBits(uint8_t Bits)
{
    switch (Bits) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32: return true;
    default: return false;
    }
}

// Sizes the file cannot hold are refused before anything is allocated: each side in
// 1..65535, a line long enough for its pixels, and no more lines than the data can
// expand to (a run byte pair gives at most 63 bytes).
bool SizesFit(const TPCXHeader& H, int64_t FileSize, int32_t& Width, int32_t& Height)
{
    Width = int32_t(H.XMax) - int32_t(H.XMin) + 1;
    Height = int32_t(H.YMax) - int32_t(H.YMin) + 1;
    if (Width < 1 || Height < 1 || H.Planes == 0 || !PixelBufferSizeOk(Width, Height))
        return false;
    int64_t bpl = H.BytesPerLine;
    int64_t encoded = int64_t(H.Planes) * bpl * Height;
    int64_t data = std::max<int64_t>(FileSize - HeaderSize, 0);
    return bpl * 8 >= int64_t(Width) * H.BitsPerPixel && encoded <= data * MaxRun;
}

// The palette sources in 6-bit units, over the header's: the default table for version
// 3, then what the picture's kind asks for.
TPalette6 SourcePalette(const TPCXHeader& H, TPcxKind Kind, TByteReader& F)
{
    TPalette6 pal = HeaderPalette(H);
    if (H.Version == 3)
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 3; ++c)
                pal[size_t(i)][size_t(c)] = DefaultPalette16[i][c];
    if (Kind == pkMono) {
        pal[0] = {0, 0, 0};
        pal[1] = {63, 63, 63};
    } else if (Kind == pkIndexed) {
        // The palette is taken from the last 769 bytes whatever the marker byte holds; a
        // file too short to have one after its header keeps a black palette.
        pal = {};
        if (F.Size() >= HeaderSize + PaletteTailSize) {
            F.Seek(F.Size() - PaletteTailSize);
            F.ReadU8(); // 12 in a well-formed file
            for (auto& e : pal)
                for (auto& c : e)
                    c = uint8_t(F.ReadU8() >> 2);
            F.Seek(HeaderSize);
        }
    } else if (Kind == pkRGB) {
        CubePalette(pal);
    }
    return pal;
}

// Size, pixel format and platform palette. The format is set while the bitmap is 1 x 1,
// so no old pixels are converted.
void ShapeBitmap(TBitmap& Bitmap, TPcxKind Kind, const TPalette6& Pal, int32_t Width, int32_t Height)
{
    Bitmap.SetSize(1, 1);
    Bitmap.SetPixelFormat(Kind == pkMono ? pf1bit : Kind == pkRGB ? pf24bit : pf8bit);
    Bitmap.SetSize(Width, Height);
    switch (Kind) {
    case pkMono: Bitmap.SetPaletteEntries({{0, 0, 0, 0}, {255, 255, 255, 0}}); break;
    case pkPlanes: {
        Bitmap.SetIgnorePalette(false);
        Bitmap.SetPaletteEntries(Entries(Pal, 17, 4, 1)); // (c + 1) x 4 - 1
        std::vector<TPaletteEntry> e = Bitmap.PaletteEntries();
        e.resize(256); // more than four planes give values past the 17 entries
        Bitmap.SetPaletteEntries(e);
        break;
    }
    case pkIndexed:
    case pkRGB: Bitmap.SetPaletteEntries(Entries(Pal, 256, 4, 0)); break;
    case pkOther: break;
    }
}

// Every line from the top down, decoded and copied into the bitmap's row in its layout.
void DecodeRows(TByteReader& F, const TPCXHeader& H, TPcxKind Kind, TBitmap& Bitmap)
{
    const int32_t width = Bitmap.Width(), height = Bitmap.Height();
    const int64_t bpl = H.BytesPerLine;
    size_t lineSize =
        size_t(std::max({int64_t(H.Planes) * bpl, int64_t(H.Planes) * width, int64_t(width) * 4}) + MaxRun);
    std::vector<uint8_t> line(lineSize), rgb(size_t(width) * 3 + 20);
    F.Seek(HeaderSize);
    int64_t stride = Bitmap.BytesPerScanLine();
    for (int32_t y = 0; y < height; ++y) {
        if (H.BitsPerPixel != 8)
            std::fill(line.begin(), line.end(), 0);
        DecodeLine(F, H, Kind, width, line.data(), lineSize);
        uint8_t* row = Bitmap.ScanLine(y);
        switch (Kind) {
        case pkMono:
        case pkIndexed: std::memcpy(row, line.data(), size_t(std::min(bpl, stride))); break;
        case pkPlanes: std::memcpy(row, line.data(), size_t(width)); break;
        case pkRGB:
            for (int32_t x = 0; x < width; ++x) {
                rgb[size_t(3 * x)] = line[size_t(2 * bpl + x)];
                rgb[size_t(3 * x + 1)] = line[size_t(bpl + x)];
                rgb[size_t(3 * x + 2)] = line[size_t(x)];
            }
            std::memcpy(row, rgb.data(), size_t(width) * 3);
            break;
        case pkOther: break;
        }
    }
}

} // namespace

bool LoadPCXFile(const std::string& FileName, TBitmap* Bitmap)
{
    PCXErrorText.clear();
    std::vector<uint8_t> bytes;
    ReadWholeFile(FileName, bytes); // an unreadable file reads as zeros and fails the first check
    // A file cut short reads on as zeros, so a truncated picture ends in black; the work
    // is bounded by the header's sizes, checked against the file's length below.
    TByteReader f(bytes, TPastEnd::ZeroFill);
    TPCXHeader h = ReadHeader(f);
    if (h.Manufacturer != 10)
        return Fail(MsgNotPCX);
    int32_t width = 0, height = 0;
    if (!ValidBits(h.BitsPerPixel) || !Bitmap || !SizesFit(h, f.Size(), width, height))
        return Fail(MsgInvalidPCX);

    // Depths and plane counts this loader has no decoding for (4 bits a pixel, 8 bits in
    // 2 or 4 planes, 16 bits and more in one plane) would give a picture of nothing:
    // a failed load, the bitmap left as it was.
    TPcxKind kind = KindOf(h);
    if (kind == pkOther)
        return Fail(MsgUnsupportedPCX);
    ShapeBitmap(*Bitmap, kind, SourcePalette(h, kind, f), width, height);
    DecodeRows(f, h, kind, *Bitmap);
    return true;
}

} // namespace kv
