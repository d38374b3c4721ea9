#include "imaging/IcoFilter.h"

#include "imaging/BmpFilter.h"
#include "imaging/IEFilterIO.h"
#include "imaging/ImagingIO.h"
#include "imaging/ImagingProc.h"
#include "imaging/PngFilter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kv {

namespace {

enum class TIconKind { Icon = 1, Cursor = 2 };

constexpr int64_t DirectoryHeaderSize = 6;
constexpr int64_t DirectoryEntrySize = 16;
constexpr int64_t IconHeaderSize = 40;

struct TIconImage {
    int64_t Width = 0;
    int64_t Height = 0;
    int32_t Bits = 0;
    std::array<TRGB, 256> Palette{};
    TRGB Background;
};

// The bits a palette of Count colours needs.
int32_t BitsForColors(int32_t Count)
{
    int32_t bits = 1;
    while ((1 << bits) < Count)
        ++bits;
    return bits;
}

struct TEntry {
    uint8_t Width = 0, Height = 0, ColorCount = 0;
    uint16_t Planes = 0, BitCount = 0;
    uint32_t Offset = 0;
};

// False when the header is unusable (the abort flag is then set by the caller).
bool ReadImageHeader(TStream& Stream, const TEntry& e, TIconKind Kind, TIconImage& img, TIOParamsVals& Params)
{
    uint8_t b[IconHeaderSize];
    Stream.ReadBuffer(b, IconHeaderSize);
    const uint32_t headerSize = GetU32LE(b);
    if (headerSize < IconHeaderSize || int64_t(headerSize) - IconHeaderSize > IEBytesLeft(Stream))
        return false;
    Stream.Seek(int64_t(headerSize) - IconHeaderSize, soCurrent);
    const int64_t hdrW = int32_t(GetU32LE(b + 4)), hdrH = int32_t(GetU32LE(b + 8));
    Params.DpiX = IEDpiFromPpm(int32_t(GetU32LE(b + 24)), IEScreenDpiX());
    Params.DpiY = IEDpiFromPpm(int32_t(GetU32LE(b + 28)), IEScreenDpiY());
    img.Bits = GetU16LE(b + 14);
    if (img.Bits == 0 && Kind == TIconKind::Icon)
        img.Bits = e.BitCount;
    if (img.Bits == 0) {
        if (e.ColorCount == 0)
            return false;
        img.Bits = BitsForColors(e.ColorCount);
    }
    if (Kind == TIconKind::Icon) {
        Params.BitsPerSample = img.Bits <= 8 ? img.Bits : 8;
        Params.SamplesPerPixel = img.Bits <= 8 ? 1 : 3;
    } else {
        Params.BitsPerSample = img.Bits;
        Params.SamplesPerPixel = 1;
        Params.CurHotX = e.Planes;
        Params.CurHotY = e.BitCount;
    }
    img.Width = e.Width ? e.Width : hdrW;
    img.Height = e.Height ? e.Height : hdrH / 2;
    if (Kind == TIconKind::Icon && e.Width != hdrW && e.Width && hdrW && hdrW < 2048 && hdrH < 2048) {
        img.Width = hdrW;
        img.Height = hdrH / 2;
    }
    Params.FreeColorMap();
    if (img.Bits <= 8) {
        const int32_t colors = e.ColorCount == 0 ? 1 << img.Bits : e.ColorCount == 255 ? 256 : e.ColorCount;
        std::vector<uint8_t> raw(size_t(colors) * 4);
        Stream.ReadBuffer(raw.data(), int64_t(raw.size()));
        for (int32_t i = 0; i < colors; ++i)
            img.Palette[size_t(i)] = TRGB{raw[size_t(4 * i)], raw[size_t(4 * i + 1)], raw[size_t(4 * i + 2)]};
        Params.SetColorMap(img.Palette.data(), colors);
    }
    Params.Width = int32_t(std::clamp<int64_t>(img.Width, INT32_MIN, INT32_MAX));
    Params.Height = int32_t(std::clamp<int64_t>(img.Height, INT32_MIN, INT32_MAX));
    return true;
}

inline bool AndBit(const uint8_t* Row, int32_t X) { return GetBit(Row, X); }
inline uint8_t Blend(uint8_t c, uint8_t bg, uint8_t a) { return uint8_t((c * a + bg * (255 - a) + 127) / 255); }

bool AllAlphaZero(const uint8_t* Xor, int64_t Bytes)
{
    for (int64_t i = 3; i < Bytes; i += 4)
        if (Xor[i] != 0)
            return false;
    return true;
}

// One XOR row (and its AND row) into bitmap row Y.
void DecodeRow(const TIconImage& img, const uint8_t* Xor, const uint8_t* And, bool UseAlpha, uint8_t* Dst,
               uint8_t* MaskRow)
{
    const int32_t w = int32_t(img.Width);
    const TRGB bg = img.Background;
    const bool white = bg == TRGB{255, 255, 255};
    for (int32_t x = 0; x < w; ++x) {
        const bool transparent = !UseAlpha && AndBit(And, x);
        if (transparent && MaskRow)
            MaskRow[x] = 0;
        switch (img.Bits) {
        case 1: SetBit(Dst, x, transparent ? GetBit(Xor, x) != white : GetBit(Xor, x)); break;
        case 4:
        case 8: {
            const uint8_t idx = img.Bits == 8 ? Xor[x] : (x & 1) ? Xor[x >> 1] & 15 : Xor[x >> 1] >> 4;
            const TRGB c = transparent ? bg : img.Palette[idx];
            std::memcpy(Dst + 3 * x, &c, 3);
            break;
        }
        case 24: std::memcpy(Dst + 3 * x, Xor + 3 * x, 3); break;
        default: { // 32
            const uint8_t* p = Xor + 4 * x;
            const uint8_t a = UseAlpha ? p[3] : transparent ? 0 : 255;
            if (MaskRow) {
                std::memcpy(Dst + 3 * x, p, 3);
                MaskRow[x] = a;
            } else {
                Dst[3 * x] = Blend(p[0], bg.b, a);
                Dst[3 * x + 1] = Blend(p[1], bg.g, a);
                Dst[3 * x + 2] = Blend(p[2], bg.r, a);
            }
        }
        }
    }
}

bool ReadPixels(TStream& Stream, TBitmap& Bitmap, TIconImage& img, TProgressRec& Progress, TIEMask* Mask)
{
    const bool supported = img.Bits == 1 || img.Bits == 4 || img.Bits == 8 || img.Bits == 24 || img.Bits == 32;
    if (!supported) {
        Progress.SetAborting();
        return false;
    }
    // The XOR rows must all be there: a forged size is refused before allocating.
    const int64_t xorRow = IERowLen(img.Width, img.Bits), andRow = IERowLen(img.Width, 1);
    const int64_t left = IEBytesLeft(Stream);
    if (img.Height < 1 || left < xorRow * img.Height) {
        Progress.SetAborting();
        return false;
    }
    if (!IEStartBitmap(Bitmap, img.Width, img.Height, img.Bits == 1 ? pf1bit : pf24bit, Progress))
        return false;
    const int32_t w = int32_t(img.Width), h = int32_t(img.Height);
    if (Mask) {
        Mask->AllocateBits(w, h, 8);
        Mask->Fill(255);
        Mask->ClearFull();
    }
    // Some writers leave out the AND mask of pictures with alpha: missing bits are 0.
    std::vector<uint8_t> data(size_t(xorRow * h + std::min(andRow * h, left - xorRow * h)));
    Stream.ReadBuffer(data.data(), int64_t(data.size()));
    data.resize(size_t((xorRow + andRow) * h), 0);
    const bool useAlpha = img.Bits == 32 && !AllAlphaZero(data.data(), xorRow * h);
    Progress.Factor = 100.0 / h;
    for (int32_t r = 0; r < h; ++r) {
        Progress.Counter = r;
        Progress.Report();
        if (Progress.IsAborting())
            break;
        const int32_t y = h - 1 - r;
        DecodeRow(img, data.data() + r * xorRow, data.data() + xorRow * h + r * andRow, useAlpha, Bitmap.ScanLine(y),
                  Mask ? Mask->ScanLine(y) : nullptr);
    }
    return Mask != nullptr;
}

bool LoadIconImage(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress,
                   TIEMask* Mask, TIconKind Kind)
{
    const int64_t start = Stream.Position();
    uint8_t head[DirectoryHeaderSize];
    Stream.ReadBuffer(head, DirectoryHeaderSize);
    if (Kind == TIconKind::Icon && head[0] == 'B' && head[1] == 'M') {
        Stream.Seek(start, soBeginning);
        LoadBmpFromStream(Stream, Bitmap, int32_t(std::min<int64_t>(Stream.Size(), INT32_MAX)), Params, Progress,
                          ParamsOnly);
        return false;
    }
    const int32_t count = GetU16LE(head + 4);
    const int32_t index = Kind == TIconKind::Icon ? Params.IcoIndex : Params.CurIndex;
    // No image at the asked index (or none at all) leaves no picture: the caller's
    // placeholder is not one.
    if (index < 0 || index >= count) {
        Progress.SetAborting();
        return false;
    }
    // The entry, and later the image it points to, must lie inside the stream.
    if (DirectoryEntrySize * (index + 1) > IEBytesLeft(Stream)) {
        Progress.SetAborting();
        return false;
    }
    Stream.Seek(DirectoryEntrySize * index, soCurrent);
    uint8_t raw[DirectoryEntrySize];
    Stream.ReadBuffer(raw, DirectoryEntrySize);
    const TEntry e{raw[0], raw[1], raw[2], GetU16LE(raw + 4), GetU16LE(raw + 6), GetU32LE(raw + 12)};
    if (start + int64_t(e.Offset) >= Stream.Size()) {
        Progress.SetAborting();
        return false;
    }
    Stream.Seek(start + int64_t(e.Offset), soBeginning);
    if (IsPngStream(Stream)) {
        if (Kind == TIconKind::Cursor) {
            Params.CurHotX = e.Planes;
            Params.CurHotY = e.BitCount;
        }
        return ReadPngStream(Stream, Bitmap, Params, Progress, ParamsOnly, Mask);
    }
    TIconImage img;
    img.Background = Kind == TIconKind::Icon ? Params.IcoBackground : Params.CurBackground;
    if (!ReadImageHeader(Stream, e, Kind, img, Params)) {
        Progress.SetAborting();
        return false;
    }
    if (ParamsOnly)
        return false;
    return ReadPixels(Stream, Bitmap, img, Progress, Mask);
}

bool GuardedLoad(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress,
                 TIEMask* Mask, TIconKind Kind)
{
    try {
        return LoadIconImage(Stream, Bitmap, Params, ParamsOnly, Progress, Mask, Kind);
    } catch (const EStreamError&) {
        Progress.SetAborting();
        return Mask != nullptr && !Mask->IsEmpty() && Mask->Width() == Bitmap.Width();
    }
}

} // namespace

bool LoadIcoFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress,
                       TIEMask* Mask)
{
    return GuardedLoad(Stream, Bitmap, Params, ParamsOnly, Progress, Mask, TIconKind::Icon);
}

bool LoadCurFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress,
                       TIEMask* Mask)
{
    return GuardedLoad(Stream, Bitmap, Params, ParamsOnly, Progress, Mask, TIconKind::Cursor);
}

} // namespace kv
