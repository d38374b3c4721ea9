#include "imaging/BmpFilter.h"

#include "imaging/IEFilterIO.h"
#include "imaging/ImagingProc.h"
#include "imaging/Quantizer.h"
#include "platform/BmpRules.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace kv {

namespace {

constexpr int64_t FileHeaderSize = 14;
constexpr int64_t InfoHeaderSize = 40;
constexpr int64_t ExtendedHeaderSize = 64;
constexpr int64_t CoreHeaderSize = 12;
// Rows are read and converted this many bytes at a time.
constexpr int64_t ChunkBytes = 1 << 20;

enum TBmpCompression : uint32_t { bcNone = 0, bcRle8 = 1, bcRle4 = 2, bcBitFields = 3 };

struct TBmpHeader {
    int64_t Start = 0;
    uint32_t DataOffset = 0;
    int64_t Width = 0;
    int64_t Height = 0;
    bool TopDown = false;
    int32_t Bits = 0;
    uint32_t Compression = bcNone;
    uint32_t Masks[3] = {0x7C00, 0x3E0, 0x1F};
    std::array<TRGB, 256> Palette{};
    int32_t Colors = 0;
};

void ReadPalette(TStream& Stream, TBmpHeader& h, int32_t Count, int32_t EntrySize)
{
    h.Colors = std::min(Count, 256);
    std::vector<uint8_t> raw(size_t(Count) * size_t(EntrySize));
    if (!raw.empty())
        Stream.ReadBuffer(raw.data(), int64_t(raw.size()));
    for (int32_t i = 0; i < h.Colors; ++i)
        h.Palette[size_t(i)] =
            TRGB{raw[size_t(i * EntrySize)], raw[size_t(i * EntrySize + 1)], raw[size_t(i * EntrySize + 2)]};
}

void ReadCoreHeader(TStream& Stream, TBmpHeader& h, TIOParamsVals& Params)
{
    uint8_t b[CoreHeaderSize];
    Stream.ReadBuffer(b, CoreHeaderSize);
    Params.BmpVersion = 2;
    h.Width = GetU16LE(b + 4);
    h.Height = GetU16LE(b + 6);
    h.Bits = GetU16LE(b + 10);
    Params.DpiX = IEScreenDpiX();
    Params.DpiY = IEScreenDpiY();
    if (h.Bits <= 8)
        ReadPalette(Stream, h, 1 << h.Bits, 3);
}

// False for a header too short to hold the fields every info header has, or listing
// more colours than its depth can index.
bool ReadInfoHeader(TStream& Stream, TBmpHeader& h, uint32_t HeaderSize, TIOParamsVals& Params)
{
    if (HeaderSize < 16)
        return false;
    uint8_t b[ExtendedHeaderSize] = {};
    const int64_t take = std::min<int64_t>(HeaderSize, ExtendedHeaderSize);
    Stream.ReadBuffer(b, take);
    if (HeaderSize > ExtendedHeaderSize) {
        // The rest of a longer header is skipped only when the stream holds it.
        if (int64_t(HeaderSize) - ExtendedHeaderSize > IEBytesLeft(Stream))
            return false;
        Stream.Seek(int64_t(HeaderSize) - ExtendedHeaderSize, soCurrent);
    }
    Params.BmpVersion = HeaderSize == 64 ? 3 : HeaderSize == 40 ? 1 : 0;
    h.Width = int32_t(GetU32LE(b + 4));
    const int64_t height = int32_t(GetU32LE(b + 8));
    h.TopDown = height < 0;
    h.Height = height < 0 ? -height : height;
    h.Bits = GetU16LE(b + 14);
    h.Compression = GetU32LE(b + 16);
    Params.DpiX = IEDpiFromPpm(int32_t(GetU32LE(b + 24)), IEScreenDpiX());
    Params.DpiY = IEDpiFromPpm(int32_t(GetU32LE(b + 28)), IEScreenDpiY());
    uint32_t colors = GetU32LE(b + 32);
    if (!BmpColorsUsedFit(h.Bits, colors))
        return false;
    if (colors > 256)
        colors = 0;
    if (colors == 0 && h.Bits <= 8)
        colors = 1u << h.Bits;
    if (h.Compression == bcBitFields) {
        // Headers of 52 bytes or more carry the masks; the 40-byte one is followed by them.
        if (HeaderSize >= 52) {
            for (int i = 0; i < 3; ++i)
                h.Masks[i] = GetU32LE(b + 40 + 4 * i);
        } else {
            for (uint32_t& m : h.Masks)
                m = Stream.ReadU32LE();
        }
    }
    if (colors != 0)
        ReadPalette(Stream, h, int32_t(colors), 4);
    return true;
}

void SetDepthParams(TIOParamsVals& Params, int32_t Bits)
{
    switch (Bits) {
    case 1: Params.BitsPerSample = 1, Params.SamplesPerPixel = 1; break;
    case 4: Params.BitsPerSample = 4, Params.SamplesPerPixel = 1; break;
    case 8: Params.BitsPerSample = 8, Params.SamplesPerPixel = 1; break;
    case 16: Params.BitsPerSample = 5, Params.SamplesPerPixel = 3; break;
    case 24:
    case 32: Params.BitsPerSample = 8, Params.SamplesPerPixel = 3; break;
    default: break;
    }
}

bool SupportedLayout(const TBmpHeader& h)
{
    switch (h.Bits) {
    case 1:
    case 24: return h.Compression == bcNone;
    case 4: return h.Compression == bcNone || (h.Compression == bcRle4 && !h.TopDown);
    case 8: return h.Compression == bcNone || (h.Compression == bcRle8 && !h.TopDown);
    case 16:
    case 32: return h.Compression == bcNone || h.Compression == bcBitFields;
    default: return false;
    }
}

// Step progress and test the abort flag; false when the reader must stop.
bool NextRow(TProgressRec& Progress, int32_t RowsDone)
{
    Progress.Counter = RowsDone;
    Progress.Report();
    return !Progress.IsAborting();
}

class TRowConverter {
public:
    // OneBitColours: 1-bit rows go through the palette to 24 bits instead of as bits.
    TRowConverter(const TBmpHeader& h, bool OneBitColours = false) : FH(h), FOneBitColours(OneBitColours) {}

    void Convert(const uint8_t* Src, uint8_t* Dst, int32_t Width) const
    {
        switch (FH.Bits) {
        case 1:
            if (!FOneBitColours) {
                std::memcpy(Dst, Src, size_t((Width + 7) / 8));
                break;
            }
            for (int32_t x = 0; x < Width; ++x)
                Put(Dst, x, FH.Palette[(Src[x >> 3] >> (7 - (x & 7))) & 1]);
            break;
        case 4:
            for (int32_t x = 0; x < Width; ++x)
                Put(Dst, x, FH.Palette[(x & 1) ? Src[x >> 1] & 15 : Src[x >> 1] >> 4]);
            break;
        case 8:
            for (int32_t x = 0; x < Width; ++x)
                Put(Dst, x, FH.Palette[Src[x]]);
            break;
        case 16:
            for (int32_t x = 0; x < Width; ++x) {
                const uint32_t px = GetU16LE(Src + 2 * x);
                Dst[3 * x] = BmpMaskedChannel(px, FH.Masks[2]);
                Dst[3 * x + 1] = BmpMaskedChannel(px, FH.Masks[1]);
                Dst[3 * x + 2] = BmpMaskedChannel(px, FH.Masks[0]);
            }
            break;
        case 24: std::memcpy(Dst, Src, size_t(Width) * 3); break;
        case 32:
            for (int32_t x = 0; x < Width; ++x)
                std::memcpy(Dst + 3 * x, Src + 4 * x, 3);
            break;
        default: break;
        }
    }

private:
    static void Put(uint8_t* Dst, int32_t X, TRGB c) { std::memcpy(Dst + 3 * X, &c, 3); }
    const TBmpHeader& FH;
    bool FOneBitColours;
};

// Uncompressed rows, read a chunk at a time. A bottom-up 1- or 24-bit picture is read
// straight into the bitmap, whose rows have the file's layout. Returns the rows done.
int32_t ReadPlainRows(TStream& Stream, TBitmap& Bitmap, const TBmpHeader& h, TProgressRec& Progress)
{
    const int32_t w = int32_t(h.Width), ht = int32_t(h.Height);
    const int64_t rowLen = IERowLen(w, h.Bits);
    // A 1-bit file with a coloured palette is read into a 24-bit picture.
    const bool oneBitColours = h.Bits == 1 && Bitmap.PixelFormat() != pf1bit;
    const bool direct =
        !h.TopDown && ((h.Bits == 1 && !oneBitColours) || h.Bits == 24) && rowLen == Bitmap.BytesPerScanLine();
    const int64_t chunkRows = std::max<int64_t>(1, ChunkBytes / std::max<int64_t>(rowLen, 1));
    std::vector<uint8_t> buffer(direct ? 0 : size_t(std::min<int64_t>(chunkRows, ht) * rowLen));
    const TRowConverter convert(h, oneBitColours);
    for (int32_t done = 0; done < ht;) {
        const int32_t rows = int32_t(std::min<int64_t>(chunkRows, ht - done));
        uint8_t* dst = direct ? Bitmap.Bits() + int64_t(done) * rowLen : buffer.data();
        const int64_t got = std::max<int64_t>(0, Stream.Read(dst, rows * rowLen));
        const int32_t whole = int32_t(got / rowLen);
        for (int32_t r = 0; r < whole; ++r, ++done) {
            if (!NextRow(Progress, done))
                return done;
            if (!direct) {
                const int32_t y = h.TopDown ? done : ht - 1 - done;
                convert.Convert(dst + r * rowLen, Bitmap.ScanLine(y), w);
            }
        }
        if (whole < rows) {
            Progress.SetAborting();
            return done;
        }
    }
    return ht;
}

// Run-length data into 24-bit rows through the palette; every write is clipped to the
// picture and every read bounded by the data.
class TRleDecoder {
public:
    TRleDecoder(TBitmap& Bitmap, const TBmpHeader& h, TProgressRec& Progress)
        : FBitmap(Bitmap), FH(h), FProgress(Progress), FWidth(int32_t(h.Width)), FHeight(int32_t(h.Height))
    {
    }

    void Decode(const uint8_t* Data, int64_t Size)
    {
        const bool rle8 = FH.Compression == bcRle8;
        SelectRow();
        int64_t pos = 0;
        while (pos + 2 <= Size) {
            const uint8_t n = Data[pos], v = Data[pos + 1];
            pos += 2;
            if (n > 0) {
                for (int32_t k = 0; k < n; ++k)
                    Put(rle8 ? v : (k & 1) ? v & 15 : v >> 4);
                continue;
            }
            if (v == 0) {
                if (!NextLine())
                    return;
            } else if (v == 1) {
                return;
            } else if (v == 2) {
                if (pos + 2 > Size)
                    break;
                FX = std::min(FX + Data[pos], FWidth); // past the row everything is clipped
                const int32_t dy = Data[pos + 1];
                pos += 2;
                for (int32_t i = 0; i < dy; ++i)
                    if (!NextLine(false))
                        return;
            } else {
                const int64_t bytes = rle8 ? v : (v + 1) / 2;
                if (pos + bytes > Size)
                    break;
                for (int32_t k = 0; k < v; ++k)
                    Put(rle8 ? Data[pos + k] : (k & 1) ? Data[pos + k / 2] & 15 : Data[pos + k / 2] >> 4);
                pos += bytes + (bytes & 1);
            }
        }
        // The data ran out before the end-of-picture escape.
        FProgress.SetAborting();
    }

private:
    void SelectRow() { FRow = FY < FHeight ? FBitmap.ScanLine(FHeight - 1 - FY) : nullptr; }
    void Put(uint8_t Index)
    {
        if (FX >= FWidth)
            return;
        if (FRow)
            std::memcpy(FRow + 3 * FX, &FH.Palette[Index], 3);
        ++FX;
    }
    // False when the picture is complete or the reader must stop.
    bool NextLine(bool NewLine = true)
    {
        ++FY;
        if (NewLine)
            FX = 0;
        if (FY >= FHeight)
            return false;
        SelectRow();
        return NextRow(FProgress, FY);
    }

    TBitmap& FBitmap;
    const TBmpHeader& FH;
    TProgressRec& FProgress;
    int32_t FWidth, FHeight;
    int32_t FX = 0, FY = 0;
    uint8_t* FRow = nullptr;
};

// The run-length data, read before the bitmap is made.
std::vector<uint8_t> ReadRleData(TStream& Stream, const TBmpHeader& h)
{
    // Two bytes a pixel and an escape a row is the most honest coding can take.
    const int64_t most = 2 * (h.Width + 2) * h.Height + 64;
    std::vector<uint8_t> data(size_t(std::min(IEBytesLeft(Stream), most)));
    const int64_t got = data.empty() ? 0 : std::max<int64_t>(0, Stream.Read(data.data(), int64_t(data.size())));
    data.resize(size_t(got));
    return data;
}

bool IsBlackThenWhite(const TBmpHeader& h)
{
    return h.Colors == 2 && h.Palette[0] == TRGB{0, 0, 0} && h.Palette[1] == TRGB{255, 255, 255};
}

bool IsWhiteThenBlack(const TBmpHeader& h)
{
    return h.Colors == 2 && h.Palette[0] == TRGB{255, 255, 255} && h.Palette[1] == TRGB{0, 0, 0};
}

void LoadBmp(TStream& Stream, TBitmap& Bitmap, int32_t Size, TIOParamsVals& Params, TProgressRec& Progress,
             bool ParamsOnly)
{
    TBmpHeader h;
    h.Start = Stream.Position();
    uint8_t fh[FileHeaderSize];
    Stream.ReadBuffer(fh, FileHeaderSize);
    if (fh[0] != 'B' || fh[1] != 'M') {
        Progress.SetAborting();
        return;
    }
    (void)Size; // the data is bounded by the stream, which a forged size cannot widen
    h.DataOffset = GetU32LE(fh + 10);
    const uint32_t headerSize = Stream.ReadU32LE();
    Stream.Seek(-4, soCurrent);
    Params.FreeColorMap();
    if (headerSize == CoreHeaderSize)
        ReadCoreHeader(Stream, h, Params);
    else if (!ReadInfoHeader(Stream, h, headerSize, Params)) {
        Progress.SetAborting();
        return;
    }
    Params.BmpCompression = h.Compression == bcRle8 || h.Compression == bcRle4 ? 1 : 0;
    // Pixel data that would begin at or past the stream's end is a failure in both modes.
    if (h.DataOffset != 0 && h.Start + int64_t(h.DataOffset) >= Stream.Size()) {
        Progress.SetAborting();
        return;
    }
    if (h.DataOffset != 0)
        Stream.Seek(h.Start + int64_t(h.DataOffset), soBeginning);
    Params.Width = int32_t(std::min<int64_t>(h.Width, INT32_MAX));
    Params.Height = int32_t(std::min<int64_t>(h.Height, INT32_MAX));
    Params.SetColorMap(h.Colors ? h.Palette.data() : nullptr, h.Colors);
    SetDepthParams(Params, h.Bits);
    if (ParamsOnly)
        return;
    const bool plain = h.Compression != bcRle4 && h.Compression != bcRle8;
    // An unsupported layout has no rows to read at all, and a size no bitmap can take is
    // refused before anything is computed from it. Raw rows must all be there.
    if (!SupportedLayout(h) || h.Width < 1 || h.Height < 1 || !PixelBufferSizeOk(h.Width, h.Height) ||
        (plain && !IEDataCanFill(IERowLen(h.Width, h.Bits) * h.Height, IEBytesLeft(Stream), 1))) {
        Progress.SetAborting();
        return;
    }
    // Run-length data may end the picture early with an escape; a picture far larger
    // than it can stand for is refused before the bitmap is made, by the rule the
    // platform's reader applies.
    std::vector<uint8_t> rle;
    if (!plain) {
        rle = ReadRleData(Stream, h);
        if (!BmpRleDataFits(rle.data(), int64_t(rle.size()), h.Width, h.Height, h.Bits)) {
            Progress.SetAborting();
            return;
        }
    }
    // Only black and white stay 1-bit; other two-colour palettes keep their colours.
    const bool mono = h.Bits == 1 && (h.Colors < 2 || IsBlackThenWhite(h) || IsWhiteThenBlack(h));
    if (!IEStartBitmap(Bitmap, h.Width, h.Height, mono ? pf1bit : pf24bit, Progress,
                       plain ? TIEBitmapFill::Overwritten : TIEBitmapFill::Zeroed))
        return;
    Progress.Factor = 100.0 / double(h.Height);
    Progress.Counter = 0;
    if (!plain) {
        TRleDecoder(Bitmap, h, Progress).Decode(rle.data(), int64_t(rle.size()));
    } else if (const int32_t done = ReadPlainRows(Stream, Bitmap, h, Progress); done < h.Height) {
        const int32_t ht = int32_t(h.Height);
        h.TopDown ? IEClearRows(Bitmap, done, ht - 1) : IEClearRows(Bitmap, 0, ht - 1 - done);
    }
    if (mono && IsWhiteThenBlack(h))
        InvertBitmapBits(Bitmap);
}

// ---- Writer -------------------------------------------------------------------------

struct TBmpWriteState {
    int64_t Start = 0;
    int64_t DataStart = 0;
    int32_t Bits = 24;
    bool Core = false;
    bool Rle = false;
    std::vector<uint8_t> Header; // file header and bitmap header, rewritten at the end
};

void BuildHeaders(TBmpWriteState& s, const TBitmap& Bitmap, const TIOParamsVals& Params)
{
    const int64_t headerLen = s.Core ? CoreHeaderSize : Params.BmpVersion == 3 ? ExtendedHeaderSize : InfoHeaderSize;
    s.Header.assign(size_t(FileHeaderSize + headerLen), 0);
    uint8_t* b = s.Header.data() + FileHeaderSize;
    s.Header[0] = 'B';
    s.Header[1] = 'M';
    PutU32LE(b, uint32_t(headerLen));
    if (s.Core) {
        PutU16LE(b + 4, uint16_t(Bitmap.Width()));
        PutU16LE(b + 6, uint16_t(Bitmap.Height()));
        PutU16LE(b + 8, 1);
        PutU16LE(b + 10, uint16_t(s.Bits));
        return;
    }
    PutU32LE(b + 4, uint32_t(Bitmap.Width()));
    PutU32LE(b + 8, uint32_t(Bitmap.Height()));
    PutU16LE(b + 12, 1);
    PutU16LE(b + 14, uint16_t(s.Bits));
    PutU32LE(b + 16, !s.Rle ? bcNone : s.Bits == 4 ? bcRle4 : bcRle8);
    PutU32LE(b + 24, uint32_t(IEPpmFromDpi(Params.DpiX)));
    PutU32LE(b + 28, uint32_t(IEPpmFromDpi(Params.DpiY)));
    PutU32LE(b + 32, s.Bits <= 8 ? 1u << s.Bits : 0);
    PutU32LE(b + 36, 1u << s.Bits);
}

bool WritePalette(TStream& Stream, const TBmpWriteState& s, const TRGB* Palette, int32_t Count, TProgressRec& Progress)
{
    const int32_t entry = s.Core ? 3 : 4;
    std::vector<uint8_t> raw(size_t(Count * entry), 0);
    for (int32_t i = 0; i < Count; ++i)
        std::memcpy(raw.data() + i * entry, &Palette[i], 3);
    return IEWriteChecked(Stream, raw.data(), int64_t(raw.size()), Progress);
}

bool WriteRow(TStream& Stream, const std::vector<uint8_t>& Row, int32_t RowIndex, TProgressRec& Progress)
{
    if (!IEWriteChecked(Stream, Row.data(), int64_t(Row.size()), Progress))
        return false;
    return NextRow(Progress, RowIndex + 1);
}

void WriteIndexedRows(TStream& Stream, TBmpWriteState& s, const TBitmap& Picture, TIOParamsVals& Params,
                      TProgressRec& Progress)
{
    const int32_t count = 1 << s.Bits;
    std::vector<TRGB> map(static_cast<size_t>(count));
    auto quant = TIEQuantizer::CreateQuantizer(Picture, map, count, -1);
    Params.SetColorMap(map.data(), count);
    if (!WritePalette(Stream, s, map.data(), count, Progress))
        return;
    s.DataStart = Stream.Position();
    const int32_t w = Picture.Width(), h = Picture.Height();
    std::vector<uint8_t> indexes(static_cast<size_t>(w)), row;
    for (int32_t y = h - 1; y >= 0; --y) {
        const uint8_t* src = Picture.ScanLine(y);
        for (int32_t x = 0; x < w; ++x)
            indexes[size_t(x)] = uint8_t(quant->QuantizerColorIndex(TRGB{src[3 * x], src[3 * x + 1], src[3 * x + 2]}));
        row.clear();
        if (s.Rle && s.Bits == 8) {
            BmpEncodeRle8Row(indexes.data(), w, row);
        } else if (s.Rle) {
            BmpEncodeRle4Row(indexes.data(), w, row);
        } else {
            row.assign(size_t(IERowLen(w, s.Bits)), 0);
            for (int32_t x = 0; x < w; ++x)
                row[size_t(s.Bits == 8 ? x : x / 2)] |=
                    s.Bits == 8 ? indexes[size_t(x)] : uint8_t(indexes[size_t(x)] << ((x & 1) ? 0 : 4));
        }
        if (!WriteRow(Stream, row, h - 1 - y, Progress))
            return;
    }
    if (s.Rle) {
        const uint8_t end[2] = {0, 1};
        IEWriteChecked(Stream, end, 2, Progress);
    }
}

// Rows bottom up as they stand in a 1- or 24-bit bitmap (the platform keeps them in
// the file's order and padding).
void WriteStoredRows(TStream& Stream, const TBitmap& Picture, int32_t Bits, TProgressRec& Progress)
{
    const int32_t h = Picture.Height();
    const int64_t rowLen = IERowLen(Picture.Width(), Bits);
    std::vector<uint8_t> row(static_cast<size_t>(rowLen));
    for (int32_t r = 0; r < h; ++r) {
        std::memcpy(row.data(), Picture.ScanLine(h - 1 - r), size_t(rowLen));
        if (!WriteRow(Stream, row, r, Progress))
            return;
    }
}

void WriteOneBit(TStream& Stream, TBmpWriteState& s, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    TRGB pal[2] = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
    std::unique_ptr<TBitmap> copy;
    const TBitmap* picture = &Bitmap;
    if (Bitmap.PixelFormat() != pf1bit) {
        copy = TryConvertTwoColorsTo1Bit(Bitmap, pal[0], pal[1]);
        if (!copy) {
            pal[0] = TRGB{0, 0, 0};
            pal[1] = TRGB{255, 255, 255};
            copy = CloneBitmap(Bitmap);
            DitherTo1Bit(*copy, Progress);
        }
        picture = copy.get();
    }
    Params.SetColorMap(pal, 2);
    if (!WritePalette(Stream, s, pal, 2, Progress))
        return;
    s.DataStart = Stream.Position();
    WriteStoredRows(Stream, *picture, 1, Progress);
}

void SaveBmp(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    TBmpWriteState s;
    s.Bits = Params.BitsPerSample == 1 || Params.BitsPerSample == 4 ? Params.BitsPerSample
             : Params.SamplesPerPixel == 1                          ? 8
                                                                    : 24;
    s.Core = Params.BmpVersion == 2;
    s.Rle = Params.BmpCompression == 1 && !s.Core && (s.Bits == 4 || s.Bits == 8);
    s.Start = Stream.Position();
    if (s.Core && (Bitmap.Width() > 0xFFFF || Bitmap.Height() > 0xFFFF)) {
        Progress.SetAborting();
        return;
    }
    BuildHeaders(s, Bitmap, Params);
    if (!IEWriteChecked(Stream, s.Header.data(), int64_t(s.Header.size()), Progress))
        return;
    Progress.Factor = Bitmap.Height() > 0 ? 100.0 / Bitmap.Height() : 0.0;
    Progress.Counter = 0;
    if (s.Bits == 1) {
        WriteOneBit(Stream, s, Bitmap, Params, Progress);
    } else {
        std::unique_ptr<TBitmap> copy;
        if (Bitmap.PixelFormat() != pf24bit) {
            copy = std::make_unique<TBitmap>();
            CopyBitmapTo24Bit(Bitmap, *copy, nullptr);
        }
        const TBitmap& picture = copy ? *copy : Bitmap;
        if (s.Bits == 24) {
            s.DataStart = Stream.Position();
            WriteStoredRows(Stream, picture, 24, Progress);
        } else {
            WriteIndexedRows(Stream, s, picture, Params, Progress);
        }
    }
    if (Progress.IsAborting())
        return;
    const int64_t end = Stream.Position();
    PutU32LE(s.Header.data() + 2, uint32_t(end - s.Start));
    PutU32LE(s.Header.data() + 10, uint32_t(s.DataStart - s.Start));
    if (!s.Core)
        PutU32LE(s.Header.data() + FileHeaderSize + 20, uint32_t(end - s.DataStart));
    Stream.Seek(s.Start, soBeginning);
    IEWriteChecked(Stream, s.Header.data(), int64_t(s.Header.size()), Progress);
    Stream.Seek(end, soBeginning);
}

// Literal pieces of a row, each of up to 255 indexes.
template <typename TPieceWriter>
void FlushLiterals(const uint8_t* Indexes, int32_t From, int32_t To, TPieceWriter Write)
{
    while (From < To) {
        const int32_t n = std::min(To - From, 255);
        Write(Indexes + From, n);
        From += n;
    }
}

template <typename TRunWriter, typename TPieceWriter>
void EncodeRleRow(const uint8_t* Indexes, int32_t Count, TRunWriter WriteRun, TPieceWriter WritePiece)
{
    int32_t i = 0, anchor = 0;
    while (i < Count) {
        if (i + 1 < Count && Indexes[i] == Indexes[i + 1]) {
            FlushLiterals(Indexes, anchor, i, WritePiece);
            int32_t j = i;
            while (j < Count && Indexes[j] == Indexes[i] && j - i < 255)
                ++j;
            WriteRun(j - i, Indexes[i]);
            i = anchor = j;
        } else {
            ++i;
            if (i - anchor == 256) {
                FlushLiterals(Indexes, anchor, i, WritePiece);
                anchor = i;
            }
        }
    }
    FlushLiterals(Indexes, anchor, Count, WritePiece);
}

} // namespace

uint8_t BmpMaskedChannel(uint32_t Pixel, uint32_t Mask)
{
    if (Mask == 0)
        return 0;
    uint32_t v = (Pixel & Mask) >> std::countr_zero(Mask);
    const int32_t width = IEBitRunWidth(Mask);
    v = width > 8 ? v >> (width - 8) : v << (8 - width);
    return uint8_t(v);
}

void BmpEncodeRle8Row(const uint8_t* Indexes, int32_t Count, std::vector<uint8_t>& Out)
{
    auto run = [&](int32_t n, uint8_t v) { Out.insert(Out.end(), {uint8_t(n), v}); };
    auto piece = [&](const uint8_t* p, int32_t n) {
        if (n <= 2) {
            for (int32_t k = 0; k < n; ++k)
                run(1, p[k]);
            return;
        }
        Out.insert(Out.end(), {0, uint8_t(n)});
        Out.insert(Out.end(), p, p + n);
        if (n & 1)
            Out.push_back(0);
    };
    EncodeRleRow(Indexes, Count, run, piece);
    Out.insert(Out.end(), {0, 0});
}

void BmpEncodeRle4Row(const uint8_t* Indexes, int32_t Count, std::vector<uint8_t>& Out)
{
    auto run = [&](int32_t n, uint8_t v) { Out.insert(Out.end(), {uint8_t(n), uint8_t((v << 4) | (v & 15))}); };
    auto piece = [&](const uint8_t* p, int32_t n) {
        if (n == 1) {
            Out.insert(Out.end(), {1, uint8_t(p[0] << 4)});
            return;
        }
        if (n == 2) {
            Out.insert(Out.end(), {2, uint8_t((p[0] << 4) | (p[1] & 15))});
            return;
        }
        Out.insert(Out.end(), {0, uint8_t(n)});
        const int32_t bytes = (n + 1) / 2;
        for (int32_t k = 0; k < bytes; ++k)
            Out.push_back(uint8_t((p[2 * k] << 4) | (2 * k + 1 < n ? p[2 * k + 1] & 15 : 0)));
        if (bytes & 1)
            Out.push_back(0);
    };
    EncodeRleRow(Indexes, Count, run, piece);
    Out.insert(Out.end(), {0, 0});
}

void LoadBmpFromStream(TStream& Stream, TBitmap& Bitmap, int32_t Size, TIOParamsVals& Params, TProgressRec& Progress,
                       bool ParamsOnly)
{
    try {
        LoadBmp(Stream, Bitmap, Size, Params, Progress, ParamsOnly);
    } catch (const EStreamError&) {
        Progress.SetAborting();
    }
}

void SaveBmpToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    SaveBmp(Stream, Bitmap, Params, Progress);
}

} // namespace kv
