#include "formats/Targa.h"

#include "formats/LoaderFile.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kv {

std::string TGAErrorText;

namespace {

const char* const MsgInvalidTGA = "Invalid TGA file!";

// The 18-byte file header (little-endian fields, read one by one).
#pragma pack(push, 1)
struct TTGAHeader {
    uint8_t IDLength;
    uint8_t ColorMapType;
    uint8_t ImageType;
    uint16_t FirstEntry;
    uint16_t MapLength;
    uint8_t EntrySize;
    uint16_t XOrigin, YOrigin;
    uint16_t Width, Height;
    uint8_t PixelDepth;
    uint8_t Descriptor;
};
#pragma pack(pop)
static_assert(sizeof(TTGAHeader) == 18, "TGA header is 18 bytes");

constexpr uint8_t DescTopDown = 0x20, DescRightToLeft = 0x10;

TTGAHeader ReadHeader(TByteReader& F)
{
    TTGAHeader h{};
    h.IDLength = F.ReadU8();
    h.ColorMapType = F.ReadU8();
    h.ImageType = F.ReadU8();
    h.FirstEntry = F.ReadU16LE();
    h.MapLength = F.ReadU16LE();
    h.EntrySize = F.ReadU8();
    h.XOrigin = F.ReadU16LE();
    h.YOrigin = F.ReadU16LE();
    h.Width = F.ReadU16LE();
    h.Height = F.ReadU16LE();
    h.PixelDepth = F.ReadU8();
    h.Descriptor = F.ReadU8();
    return h;
}

bool ValidType(uint8_t T) { return T == 1 || T == 2 || T == 3 || T == 9 || T == 10 || T == 11; }
bool ValidDepth(uint8_t D) { return D == 1 || D == 4 || D == 8 || D == 16 || D == 24 || D == 32; }

std::vector<TPaletteEntry> Scaled(const TPalette6& P)
{
    std::vector<TPaletteEntry> e(256);
    for (size_t i = 0; i < 256; ++i)
        e[i] = {uint8_t(P[i][0] * 4), uint8_t(P[i][1] * 4), uint8_t(P[i][2] * 4), 0};
    return e;
}

// Reads pixels of the file's depth and writes them as the line wants them: one byte
// (depths 1 and 8: a byte of 8 packed pixels for depth 1) or B, G, R.
struct TPixelReader {
    uint8_t Depth;
    int OutBytes() const { return Depth <= 8 ? 1 : 3; }

    void Read(TByteReader& F, uint8_t* Out) const
    {
        switch (Depth) {
        case 16: {
            uint16_t v = F.ReadU16LE();
            Out[0] = uint8_t((v & 31) * 8);
            Out[1] = uint8_t(((v >> 5) & 31) * 8);
            Out[2] = uint8_t(((v >> 10) & 31) * 8);
            break;
        }
        case 24: F.ReadBytes(Out, 3); break;
        case 32:
            F.ReadBytes(Out, 3);
            F.ReadU8(); // alpha is dropped
            break;
        default: Out[0] = F.ReadU8(); break;
        }
    }
};

// Run-length packets may run on into the next line; what is left of one is kept here.
struct TPacketState {
    int Left = 0;
    bool Repeat = false;
    uint8_t Pixel[3] = {0, 0, 0};
};

void DecodeLine(TByteReader& F, const TPixelReader& R, bool Packed, int64_t Count, uint8_t* Line, TPacketState& S)
{
    const int n = R.OutBytes();
    if (!Packed) {
        for (int64_t i = 0; i < Count; ++i)
            R.Read(F, Line + i * n);
        return;
    }
    for (int64_t i = 0; i < Count; ++i) {
        if (S.Left == 0) {
            uint8_t h = F.ReadU8();
            S.Left = (h & 0x7F) + 1;
            S.Repeat = (h & 0x80) != 0;
            if (S.Repeat)
                R.Read(F, S.Pixel);
        }
        if (S.Repeat)
            std::memcpy(Line + i * n, S.Pixel, size_t(n));
        else
            R.Read(F, Line + i * n);
        --S.Left;
    }
}

void ReverseLine(uint8_t* Line, int32_t Width, uint8_t Depth)
{
    if (Depth == 1) {
        std::vector<uint8_t> copy(Line, Line + (Width + 7) / 8);
        std::memset(Line, 0, copy.size());
        for (int32_t x = 0; x < Width; ++x) {
            int32_t from = Width - 1 - x;
            if (copy[size_t(from >> 3)] & (0x80 >> (from & 7)))
                Line[x >> 3] = uint8_t(Line[x >> 3] | (0x80 >> (x & 7)));
        }
    } else if (Depth == 8) {
        std::reverse(Line, Line + Width);
    } else {
        for (int32_t a = 0, b = Width - 1; a < b; ++a, --b)
            std::swap_ranges(Line + 3 * a, Line + 3 * a + 3, Line + 3 * b);
    }
}

bool Fail(TBitmap* Bitmap)
{
    TGAErrorText = MsgInvalidTGA;
    if (Bitmap)
        Bitmap->SetSize(1, 1);
    return false;
}

// The colour map's 16- and 24-bit entries in 6-bit units (others are passed over, not
// read), or the grey ramp of an 8-bit picture without one; 1-bit pictures are black and
// white.
TPalette6 ReadPalette(TByteReader& F, const TTGAHeader& H)
{
    TPalette6 pal{};
    if (H.ColorMapType != 0) {
        int entryBytes = (H.EntrySize + 7) / 8;
        for (int i = 0; i < H.MapLength; ++i) {
            int index = H.FirstEntry + i;
            std::array<uint8_t, 3> rgb{};
            if (H.EntrySize == 16) {
                uint16_t v = F.ReadU16LE();
                rgb = {uint8_t(((v >> 10) & 31) * 2), uint8_t(((v >> 5) & 31) * 2), uint8_t((v & 31) * 2)};
            } else if (H.EntrySize == 24) {
                uint8_t b = F.ReadU8(), g = F.ReadU8(), r = F.ReadU8();
                rgb = {uint8_t(r >> 2), uint8_t(g >> 2), uint8_t(b >> 2)};
            } else {
                F.Skip(entryBytes);
                continue;
            }
            if (index < 256)
                pal[size_t(index)] = rgb;
        }
    } else if (H.PixelDepth == 8) {
        for (int i = 0; i < 256; ++i) {
            uint8_t v = uint8_t(i * 63 / 255);
            pal[size_t(i)] = {v, v, v};
        }
    }
    if (H.PixelDepth == 1) {
        pal[0] = {0, 0, 0};
        pal[1] = {63, 63, 63};
    }
    return pal;
}

// Pixels per line in the units the reader takes: bytes of 8 pixels for depth 1, bytes of
// 2 pixels for depth 4 (which is sized from the header but never decoded).
int64_t UnitsPerLine(const TTGAHeader& H)
{
    switch (H.PixelDepth) {
    case 1: return (int64_t(H.Width) + 7) / 8;
    case 4: return (int64_t(H.Width) + 1) / 2;
    default: return H.Width;
    }
}

// Refuse sizes the file cannot hold before allocating, whatever the depth: a raw line
// needs its bytes, a run-length packet of two bytes or more gives at most 128 pixels.
bool SizesFit(const TTGAHeader& H, int64_t Remaining)
{
    if (!PixelBufferSizeOk(H.Width, H.Height))
        return false;
    return UnitsPerLine(H) * H.Height <= (Remaining + 1) * 128;
}

// Size, pixel format and platform palette. The format is set while the bitmap is small,
// so no old pixels are converted; depth 4 gets a size and nothing else.
void ShapeBitmap(TBitmap& Bitmap, const TTGAHeader& H, const TPalette6& Pal)
{
    Bitmap.SetSize(1, 1);
    TPixelFormat format = H.PixelDepth == 1 ? pf1bit : H.PixelDepth == 8 ? pf8bit : pf24bit;
    if (H.PixelDepth != 4)
        Bitmap.SetPixelFormat(format);
    Bitmap.SetSize(H.Width, H.Height);
    switch (H.PixelDepth) {
    case 1: Bitmap.SetPaletteEntries({{0, 0, 0, 0}, {255, 255, 255, 0}}); break;
    case 8: Bitmap.SetPaletteEntries(Scaled(Pal)); break;
    case 4: break;
    default: {
        TPalette6 cube{};
        CubePalette(cube);
        Bitmap.SetPaletteEntries(Scaled(cube));
        break;
    }
    }
}

// Every stored line, mirrored when stored right to left, into its row: from the bottom
// up unless the rows are stored top down.
void DecodeRows(TByteReader& F, const TTGAHeader& H, TBitmap& Bitmap)
{
    const int32_t width = H.Width, height = H.Height;
    const TPixelReader reader{H.PixelDepth};
    const bool packed = H.ImageType >= 9;
    const int64_t units = UnitsPerLine(H);
    const int64_t lineBytes = units * reader.OutBytes();
    std::vector<uint8_t> line(size_t(lineBytes) + 4);
    const int64_t stride = Bitmap.BytesPerScanLine();
    TPacketState state;
    const bool topDown = (H.Descriptor & DescTopDown) != 0;
    for (int32_t i = 0; i < height; ++i) {
        DecodeLine(F, reader, packed, units, line.data(), state);
        if (H.Descriptor & DescRightToLeft)
            ReverseLine(line.data(), width, H.PixelDepth);
        int32_t y = topDown ? i : height - 1 - i;
        std::memcpy(Bitmap.ScanLine(y), line.data(), size_t(std::min(lineBytes, stride)));
    }
}

} // namespace

bool LoadTGAFile(const std::string& FileName, TBitmap* Bitmap)
{
    TGAErrorText.clear();
    std::vector<uint8_t> bytes;
    ReadWholeFile(FileName, bytes); // an unreadable file reads as zeros: image type 0 fails below
    // A file cut short reads on as zeros, so a truncated picture ends in black; the work
    // is bounded by the header's sizes, checked against what is left of the file below.
    TByteReader f(bytes, TPastEnd::ZeroFill);
    TTGAHeader h = ReadHeader(f);
    if (!ValidType(h.ImageType) || !ValidDepth(h.PixelDepth) || !Bitmap || h.Width == 0 || h.Height == 0)
        return Fail(Bitmap);
    f.Skip(h.IDLength);
    TPalette6 pal = ReadPalette(f, h);
    if (!SizesFit(h, f.Remaining()))
        return Fail(Bitmap);
    ShapeBitmap(*Bitmap, h, pal);
    if (h.PixelDepth != 4) // sized; nothing is decoded for this depth
        DecodeRows(f, h, *Bitmap);
    return true;
}

} // namespace kv
