#include "imaging/TgaFilter.h"

#include "imaging/IEFilterIO.h"
#include "imaging/ImagingProc.h"
#include "imaging/PalettedPrep.h"
#include "imaging/Quantizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

namespace kv {

namespace {

constexpr int64_t HeaderSize = 18;
constexpr int64_t FooterSize = 26;
constexpr int64_t ExtensionSize = 495;
constexpr int64_t ReadBufferSize = 8192;
constexpr char FooterSignature[18] = "TRUEVISION-XFILE."; // with its NUL: bytes 8..25 of the footer
// Days from 30 December 1899 to 1 January 1970.
constexpr int64_t UnixEpochDays = 25569;

// ---- Dates ----------------------------------------------------------------------------

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2);
}

bool EncodeTgaDate(const uint16_t* f, double& Date)
{
    const int64_t month = f[0], day = f[1], year = f[2], hour = f[3], minute = f[4], second = f[5];
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return false;
    int64_t y2, m2, d2;
    const int64_t days = DaysFromCivil(year, month, day);
    CivilFromDays(days, y2, m2, d2);
    if (m2 != month || d2 != day) // the 31st of a short month and the like
        return false;
    Date = double(days + UnixEpochDays) + double(hour * 3600 + minute * 60 + second) / 86400.0;
    return true;
}

void DecodeTgaDate(double Date, uint16_t* f)
{
    if (!std::isfinite(Date) || Date < -693593 || Date > 2958465) // 1 January 1 .. 31 December 9999
        Date = 0;
    int64_t days = int64_t(std::floor(Date));
    int64_t secs = std::llround((Date - double(days)) * 86400.0);
    if (secs >= 86400)
        ++days, secs -= 86400;
    int64_t y, m, d;
    CivilFromDays(days - UnixEpochDays, y, m, d);
    const int64_t v[6] = {m, d, y, secs / 3600, secs / 60 % 60, secs % 60};
    for (int i = 0; i < 6; ++i)
        f[i] = uint16_t(v[i]);
}

std::string FixedString(const uint8_t* p, size_t n)
{
    const size_t len = size_t(std::find(p, p + n, 0) - p);
    return std::string(reinterpret_cast<const char*>(p), len);
}

// ---- Reader -----------------------------------------------------------------------------

// The stream through an 8 KiB buffer; bytes past the end read as 0 and set the abort
// flag. Large reads of raw rows go straight from the stream to their row.
class TTgaSource {
public:
    TTgaSource(TStream& Stream, TProgressRec& Progress) : FStream(Stream), FProgress(Progress) {}

    void Read(uint8_t* Dst, int64_t Count)
    {
        while (Count > 0) {
            if (FPos == FLen && Count >= ReadBufferSize) {
                const int64_t got = std::max<int64_t>(0, FStream.Read(Dst, Count));
                if (got < Count)
                    Missing(Dst + got, Count - got);
                return;
            }
            if (FPos == FLen && !Refill()) {
                Missing(Dst, Count);
                return;
            }
            const int64_t n = std::min(Count, FLen - FPos);
            std::memcpy(Dst, FBuffer.data() + FPos, size_t(n));
            FPos += n, Dst += n, Count -= n;
        }
    }
    // Bytes read from the stream and not yet handed out.
    int64_t Buffered() const { return FLen - FPos; }
    uint8_t Byte()
    {
        uint8_t b;
        Read(&b, 1);
        return b;
    }

private:
    bool Refill()
    {
        FPos = 0;
        FLen = std::max<int64_t>(0, FStream.Read(FBuffer.data(), ReadBufferSize));
        return FLen > 0;
    }
    void Missing(uint8_t* Dst, int64_t Count)
    {
        std::memset(Dst, 0, size_t(Count));
        FProgress.SetAborting();
    }

    TStream& FStream;
    TProgressRec& FProgress;
    std::array<uint8_t, ReadBufferSize> FBuffer{};
    int64_t FPos = 0, FLen = 0;
};

struct TTgaHeader {
    uint8_t IdLength = 0, MapType = 0, ImageType = 0;
    uint16_t MapFirst = 0, MapLength = 0;
    uint8_t MapEntrySize = 0;
    uint16_t XOrigin = 0, YOrigin = 0, Width = 0, Height = 0;
    uint8_t Depth = 0, Descriptor = 0;
};

TTgaHeader ParseHeader(const uint8_t* b)
{
    TTgaHeader h;
    h.IdLength = b[0];
    h.MapType = b[1];
    h.ImageType = b[2];
    h.MapFirst = GetU16LE(b + 3);
    h.MapLength = GetU16LE(b + 5);
    h.MapEntrySize = b[7];
    h.XOrigin = GetU16LE(b + 8);
    h.YOrigin = GetU16LE(b + 10);
    h.Width = GetU16LE(b + 12);
    h.Height = GetU16LE(b + 14);
    h.Depth = b[16];
    h.Descriptor = b[17];
    return h;
}

TRGB From555(uint16_t v)
{
    return CreateRGB(uint8_t(((v >> 10) & 31) << 3), uint8_t(((v >> 5) & 31) << 3), uint8_t((v & 31) << 3));
}

void ReadExtension(TStream& Stream, int64_t Start, TIOParamsVals& Params)
{
    const int64_t size = Stream.Size();
    if (size - Start < HeaderSize + FooterSize)
        return;
    uint8_t footer[FooterSize];
    Stream.Seek(size - FooterSize, soBeginning);
    Stream.ReadBuffer(footer, FooterSize);
    if (std::memcmp(footer + 8, FooterSignature, sizeof FooterSignature) != 0)
        return;
    const int64_t offset = GetU32LE(footer);
    // An offset whose area is not wholly inside the stream (before the footer) is ignored.
    if (offset < HeaderSize || Start + offset + ExtensionSize > size - FooterSize)
        return;
    uint8_t ext[ExtensionSize];
    Stream.Seek(Start + offset, soBeginning);
    Stream.ReadBuffer(ext, ExtensionSize);
    Params.TgaAuthor = FixedString(ext + 2, 41);
    uint16_t date[6];
    for (int i = 0; i < 6; ++i)
        date[i] = GetU16LE(ext + 367 + 2 * i);
    double d = 0;
    if (date[0] && date[1] && date[2] && EncodeTgaDate(date, d))
        Params.TgaDate = d;
    Params.TgaJobName = FixedString(ext + 379, 41);
    Params.TgaKeyColor = CreateRGB(ext[471], ext[472], ext[473]);
    const uint16_t an = GetU16LE(ext + 474), ad = GetU16LE(ext + 476);
    if (an && ad)
        Params.TgaAspectRatio = double(an) / ad;
    const uint16_t gn = GetU16LE(ext + 478), gd = GetU16LE(ext + 480);
    if (gn && gd)
        Params.TgaGamma = double(gn) / gd;
}

void Fill332(std::array<TRGB, 256>& Pal)
{
    for (int r = 0; r < 8; ++r)
        for (int g = 0; g < 8; ++g)
            for (int b = 0; b < 4; ++b)
                Pal[size_t((r << 5) | (g << 2) | b)] = CreateRGB(
                    uint8_t(((r + 1) * 8 - 1) * 4), uint8_t(((g + 1) * 8 - 1) * 4), uint8_t(((b + 1) * 16 - 1) * 4));
}

void ReadColorMap(TTgaSource& Src, const TTgaHeader& h, std::array<TRGB, 256>& Pal, TIOParamsVals& Params)
{
    const int32_t entryBytes = (h.MapEntrySize + 7) / 8;
    const bool known = h.MapEntrySize == 15 || h.MapEntrySize == 16 || h.MapEntrySize == 24 || h.MapEntrySize == 32;
    uint8_t e[4];
    for (int32_t i = 0; i < h.MapLength; ++i) {
        const int32_t index = h.MapFirst + i;
        if (!known) {
            for (int32_t k = 0; k < entryBytes; ++k)
                Src.Byte();
            continue;
        }
        Src.Read(e, entryBytes);
        if (index >= 256)
            continue;
        Pal[size_t(index)] = entryBytes == 2 ? From555(GetU16LE(e)) : TRGB{e[0], e[1], e[2]};
    }
    const int32_t kept = std::min<int32_t>(h.MapLength, 256);
    Params.SetColorMap(Pal.data(), kept);
    Params.TgaGrayscale = 0;
}

void SetDepthParams(TIOParamsVals& Params, int32_t Depth)
{
    switch (Depth) {
    case 16: Params.BitsPerSample = 5, Params.SamplesPerPixel = 3; break;
    case 1: Params.BitsPerSample = 1, Params.SamplesPerPixel = 1; break;
    case 4: Params.BitsPerSample = 4, Params.SamplesPerPixel = 1; break;
    case 8: Params.BitsPerSample = 8, Params.SamplesPerPixel = 1; break;
    case 24: Params.BitsPerSample = 8, Params.SamplesPerPixel = 3; break;
    default: Params.BitsPerSample = 8, Params.SamplesPerPixel = 4; break;
    }
}

// Rows of packed file units: whole pixels at 8 bits and more, bytes at 1 and 4 bits.
// Run-length packets may run on into the next row.
class TTgaRowDecoder {
public:
    TTgaRowDecoder(TTgaSource& Src, int32_t UnitBytes, int32_t Units, bool Rle)
        : FSrc(Src), FUnit(UnitBytes), FUnits(Units), FRle(Rle)
    {
    }

    void Next(uint8_t* Row)
    {
        if (!FRle) {
            FSrc.Read(Row, int64_t(FUnits) * FUnit);
            return;
        }
        for (int32_t i = 0; i < FUnits;) {
            if (FLeft == 0) {
                const uint8_t head = FSrc.Byte();
                FLeft = (head & 127) + 1;
                FRun = (head & 128) != 0;
                if (FRun)
                    FSrc.Read(FValue, FUnit);
            }
            const int32_t n = std::min(FLeft, FUnits - i);
            uint8_t* dst = Row + int64_t(i) * FUnit;
            if (FRun)
                for (int32_t k = 0; k < n; ++k)
                    std::memcpy(dst + k * FUnit, FValue, size_t(FUnit));
            else
                FSrc.Read(dst, int64_t(n) * FUnit);
            i += n;
            FLeft -= n;
        }
    }

private:
    TTgaSource& FSrc;
    int32_t FUnit, FUnits;
    bool FRle;
    int32_t FLeft = 0;
    bool FRun = false;
    uint8_t FValue[4] = {};
};

void MirrorBits(uint8_t* Row, int32_t Width)
{
    for (int32_t a = 0, b = Width - 1; a < b; ++a, --b) {
        const bool va = GetBit(Row, a), vb = GetBit(Row, b);
        SetBit(Row, a, vb);
        SetBit(Row, b, va);
    }
}

void MirrorPixels(uint8_t* Row, int32_t Width)
{
    for (int32_t a = 0, b = Width - 1; a < b; ++a, --b)
        for (int k = 0; k < 3; ++k)
            std::swap(Row[3 * a + k], Row[3 * b + k]);
}

// Packed file units to the bitmap's row (24-bit, or 1-bit as it stands).
void ConvertRow(const uint8_t* Src, uint8_t* Dst, int32_t Depth, int32_t Width, const std::array<TRGB, 256>& Pal)
{
    auto put = [&](int32_t x, TRGB c) { std::memcpy(Dst + 3 * x, &c, 3); };
    switch (Depth) {
    case 1: std::memcpy(Dst, Src, size_t((Width + 7) / 8)); break;
    case 4:
        for (int32_t x = 0; x < Width; ++x)
            put(x, Pal[(x & 1) ? Src[x >> 1] & 15 : Src[x >> 1] >> 4]);
        break;
    case 8:
        for (int32_t x = 0; x < Width; ++x)
            put(x, Pal[Src[x]]);
        break;
    case 16:
        for (int32_t x = 0; x < Width; ++x)
            put(x, From555(GetU16LE(Src + 2 * x)));
        break;
    case 24:
        if (Src != Dst)
            std::memcpy(Dst, Src, size_t(Width) * 3);
        break;
    default:
        for (int32_t x = 0; x < Width; ++x)
            std::memcpy(Dst + 3 * x, Src + 4 * x, 3);
        break;
    }
}

// Returns the rows done.
int32_t ReadRows(TTgaSource& Src, TBitmap& Bitmap, const TTgaHeader& h, const std::array<TRGB, 256>& Pal,
                 TProgressRec& Progress)
{
    const int32_t w = h.Width, ht = h.Height;
    const bool byteUnits = h.Depth < 8;
    const int32_t unit = byteUnits ? 1 : h.Depth / 8;
    const int32_t units = byteUnits ? (w * h.Depth + 7) / 8 : w;
    const bool rle = h.ImageType >= 9;
    const bool topDown = (h.Descriptor & 0x20) != 0, mirror = (h.Descriptor & 0x10) != 0;
    // Raw 24-bit rows land in place; everything else goes through a row of file units.
    const bool inPlace = h.Depth == 24 && !rle;
    std::vector<uint8_t> units_(inPlace ? 0 : size_t(units) * size_t(unit));
    TTgaRowDecoder decoder(Src, unit, units, rle);
    Progress.Factor = 100.0 / ht;
    Progress.Counter = 0;
    for (int32_t r = 0; r < ht; ++r) {
        uint8_t* dst = Bitmap.ScanLine(topDown ? r : ht - 1 - r);
        uint8_t* raw = inPlace ? dst : units_.data();
        decoder.Next(raw);
        ConvertRow(raw, dst, h.Depth, w, Pal);
        if (mirror)
            h.Depth == 1 ? MirrorBits(dst, w) : MirrorPixels(dst, w);
        ++Progress.Counter;
        Progress.Report();
        if (Progress.IsAborting())
            return r + 1;
    }
    return ht;
}

bool ValidHeader(const TTgaHeader& h)
{
    const uint8_t t = h.ImageType, d = h.Depth;
    return (t == 1 || t == 2 || t == 3 || t == 9 || t == 10 || t == 11) &&
           (d == 1 || d == 4 || d == 8 || d == 16 || d == 24 || d == 32);
}

void ReadTga(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, bool ParamsOnly)
{
    const int64_t start = Stream.Position();
    Params.TgaAuthor.clear();
    Params.TgaJobName.clear();
    Params.TgaDate = IEDateToday();
    Params.TgaKeyColor = TRGB{};
    Params.TgaAspectRatio = 1.0;
    Params.TgaGamma = 2.2;
    ReadExtension(Stream, start, Params);
    Stream.Seek(start, soBeginning);
    uint8_t hb[HeaderSize];
    Stream.ReadBuffer(hb, HeaderSize);
    const TTgaHeader h = ParseHeader(hb);
    Params.TgaXPos = h.XOrigin;
    Params.TgaYPos = h.YOrigin;
    if (!ValidHeader(h)) {
        Progress.SetAborting();
        return;
    }
    TTgaSource src(Stream, Progress);
    std::string id(h.IdLength, '\0');
    src.Read(reinterpret_cast<uint8_t*>(id.data()), h.IdLength);
    Params.TgaImageId = FixedString(reinterpret_cast<const uint8_t*>(id.data()), id.size());
    std::array<TRGB, 256> pal{};
    Fill332(pal);
    Params.FreeColorMap();
    Params.TgaGrayscale = 0;
    if (h.MapType == 1) {
        ReadColorMap(src, h, pal, Params);
    } else if (h.Depth == 8) {
        for (int i = 0; i < 256; ++i)
            pal[size_t(i)] = TRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
        Params.TgaGrayscale = 1;
    }
    Params.TgaCompressed = h.ImageType >= 9;
    Params.Width = h.Width;
    Params.Height = h.Height;
    Params.DpiX = IEScreenDpiX();
    Params.DpiY = IEScreenDpiY();
    SetDepthParams(Params, h.Depth);
    if (ParamsOnly || Progress.IsAborting())
        return;
    // A run packet of 1 + unit bytes stands for up to 128 units.
    const int64_t unit = h.Depth < 8 ? 1 : h.Depth / 8;
    const int64_t rowBytes = h.Depth < 8 ? (int64_t(h.Width) * h.Depth + 7) / 8 : int64_t(h.Width) * unit;
    if (!IEDataCanFill(rowBytes * h.Height, IEBytesLeft(Stream) + src.Buffered(), h.ImageType >= 9 ? 128 : 1)) {
        Progress.SetAborting();
        return;
    }
    if (!IEStartBitmap(Bitmap, h.Width, h.Height, h.Depth == 1 ? pf1bit : pf24bit, Progress,
                       TIEBitmapFill::Overwritten))
        return;
    const int32_t done = ReadRows(src, Bitmap, h, pal, Progress);
    if (done < h.Height)
        (h.Descriptor & 0x20) ? IEClearRows(Bitmap, done, h.Height - 1) : IEClearRows(Bitmap, 0, h.Height - 1 - done);
}

// ---- Writer -----------------------------------------------------------------------------

struct TTgaOutput {
    int32_t Depth = 24;
    bool Grey = false;
    bool Compressed = false;
    std::unique_ptr<TBitmap> Copy;
    const TBitmap* Picture = nullptr;
    std::vector<TRGB> Palette;
    std::unique_ptr<TIEQuantizer> Quantizer;
};

const TBitmap& As24Bit(TBitmap& Bitmap, std::unique_ptr<TBitmap>& Copy)
{
    if (Bitmap.PixelFormat() == pf24bit)
        return Bitmap;
    Copy = std::make_unique<TBitmap>();
    CopyBitmapTo24Bit(Bitmap, *Copy, nullptr);
    return *Copy;
}

// The two-colour conversion keeps a picture's own two colours, the darker as index 0;
// a 1-bit or dithered picture is black and white.
void PrepareOneBit(TBitmap& Bitmap, TTgaOutput& o, TProgressRec& Progress)
{
    TIEPreparedPicture prepared = IEPrepare1Bit(Bitmap, Progress);
    o.Palette = {prepared.Color0, prepared.Color1};
    o.Copy = std::move(prepared.Owned);
    o.Picture = prepared.Bitmap;
}

void PrepareOutput(TBitmap& Bitmap, TIOParamsVals& Params, TTgaOutput& o, TProgressRec& Progress)
{
    if (Params.SamplesPerPixel != 1) {
        o.Depth = 24;
        o.Picture = &As24Bit(Bitmap, o.Copy);
    } else if (Params.BitsPerSample == 1) {
        o.Depth = 1;
        Params.TgaCompressed = 0;
        PrepareOneBit(Bitmap, o, Progress);
    } else {
        o.Depth = Params.BitsPerSample == 4 ? 4 : 8;
        if (o.Depth == 4)
            Params.TgaCompressed = 0;
        o.Picture = &As24Bit(Bitmap, o.Copy);
        o.Palette.assign(size_t(1) << o.Depth, TRGB{});
        o.Quantizer = TIEQuantizer::CreateQuantizer(*o.Picture, o.Palette, int32_t(o.Palette.size()), -1);
        Params.SetColorMap(o.Palette.data(), int32_t(o.Palette.size()));
        o.Grey = o.Depth == 8 && Params.TgaGrayscale;
    }
    o.Compressed = Params.TgaCompressed != 0;
}

std::vector<uint8_t> BuildHeader(const TTgaOutput& o, const TBitmap& Bitmap, const TIOParamsVals& Params,
                                 const std::string& Id)
{
    std::vector<uint8_t> b(HeaderSize, 0);
    b[0] = uint8_t(Id.size() + 1);
    // Depths 1 and 4 are no ordinary TGA depths, which other readers refuse: they are
    // written as 8-bit colour-mapped pictures of 2 or 16 entries.
    const bool mapped = o.Depth != 24 && !o.Grey;
    b[1] = mapped ? 1 : 0;
    const uint8_t baseType = o.Depth == 24 ? 2 : mapped ? 1 : 3;
    b[2] = uint8_t(baseType + (o.Compressed ? 8 : 0));
    if (mapped) {
        PutU16LE(b.data() + 5, uint16_t(o.Palette.size()));
        b[7] = 24;
    }
    PutU16LE(b.data() + 8, uint16_t(Params.TgaXPos));
    PutU16LE(b.data() + 10, uint16_t(Params.TgaYPos));
    PutU16LE(b.data() + 12, uint16_t(Bitmap.Width()));
    PutU16LE(b.data() + 14, uint16_t(Bitmap.Height()));
    b[16] = uint8_t(o.Depth == 24 ? 24 : 8);
    b[17] = 0x20;
    b.insert(b.end(), Id.begin(), Id.end());
    b.push_back(0);
    if (mapped)
        for (const TRGB& c : o.Palette)
            b.insert(b.end(), {c.b, c.g, c.r});
    return b;
}

// One picture row at the output depth, in file units.
void BuildRow(const TTgaOutput& o, int32_t Y, std::vector<uint8_t>& Row)
{
    const int32_t w = o.Picture->Width();
    const uint8_t* src = o.Picture->ScanLine(Y);
    switch (o.Depth) {
    case 1:
        Row.assign(size_t(w), 0);
        for (int32_t x = 0; x < w; ++x)
            Row[size_t(x)] = GetBit(src, x) ? 1 : 0;
        break;
    case 24: Row.assign(src, src + int64_t(w) * 3); break;
    default: {
        Row.assign(size_t(w), 0);
        for (int32_t x = 0; x < w; ++x) {
            int32_t idx = o.Quantizer->QuantizerColorIndex(TRGB{src[3 * x], src[3 * x + 1], src[3 * x + 2]});
            if (o.Grey)
                idx = Luma(o.Palette[size_t(idx)]);
            Row[size_t(x)] = uint8_t(idx);
        }
    }
    }
}

std::vector<uint8_t> BuildExtension(const TIOParamsVals& Params)
{
    std::vector<uint8_t> e(ExtensionSize, 0);
    PutU16LE(e.data(), uint16_t(ExtensionSize));
    std::memcpy(e.data() + 2, Params.TgaAuthor.data(), std::min<size_t>(Params.TgaAuthor.size(), 40));
    uint16_t date[6];
    DecodeTgaDate(Params.TgaDate, date);
    for (int i = 0; i < 6; ++i)
        PutU16LE(e.data() + 367 + 2 * i, date[i]);
    std::memcpy(e.data() + 379, Params.TgaJobName.data(), std::min<size_t>(Params.TgaJobName.size(), 40));
    e[471] = Params.TgaKeyColor.r;
    e[472] = Params.TgaKeyColor.g;
    e[473] = Params.TgaKeyColor.b;
    uint16_t n, d;
    TgaRatio(Params.TgaAspectRatio, n, d);
    PutU16LE(e.data() + 474, n);
    PutU16LE(e.data() + 476, d);
    TgaRatio(Params.TgaGamma, n, d);
    PutU16LE(e.data() + 478, n);
    PutU16LE(e.data() + 480, d);
    return e;
}

void WriteTga(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    if (Bitmap.Width() > 0xFFFF || Bitmap.Height() > 0xFFFF) {
        Progress.SetAborting();
        return;
    }
    const int64_t start = Stream.Position();
    TTgaOutput o;
    PrepareOutput(Bitmap, Params, o, Progress);
    const std::string id = Params.TgaImageId.substr(0, 254);
    const std::vector<uint8_t> header = BuildHeader(o, Bitmap, Params, id);
    if (!IEWriteChecked(Stream, header.data(), int64_t(header.size()), Progress))
        return;
    const int32_t h = o.Picture->Height();
    Progress.Factor = h > 0 ? 100.0 / h : 0.0;
    Progress.Counter = 0;
    std::vector<uint8_t> row, coded;
    const int32_t unit = o.Depth == 24 ? 3 : 1;
    for (int32_t y = 0; y < h; ++y) {
        BuildRow(o, y, row);
        const std::vector<uint8_t>* out = &row;
        if (o.Compressed) {
            coded.clear();
            TgaEncodeRleRow(row.data(), int32_t(row.size()) / unit, unit, coded);
            out = &coded;
        }
        if (!IEWriteChecked(Stream, out->data(), int64_t(out->size()), Progress))
            return;
        ++Progress.Counter;
        Progress.Report();
        if (Progress.IsAborting())
            return;
    }
    const uint32_t extOffset = uint32_t(Stream.Position() - start);
    const std::vector<uint8_t> ext = BuildExtension(Params);
    uint8_t footer[FooterSize] = {};
    PutU32LE(footer, extOffset);
    std::memcpy(footer + 8, FooterSignature, sizeof FooterSignature);
    if (IEWriteChecked(Stream, ext.data(), int64_t(ext.size()), Progress))
        IEWriteChecked(Stream, footer, FooterSize, Progress);
}

} // namespace

void TgaEncodeRleRow(const uint8_t* Pixels, int32_t Count, int32_t BytesPerPixel, std::vector<uint8_t>& Out)
{
    const size_t bpp = size_t(BytesPerPixel);
    auto same = [&](int32_t a, int32_t b) { return std::memcmp(Pixels + a * bpp, Pixels + b * bpp, bpp) == 0; };
    for (int32_t i = 0; i < Count;) {
        int32_t run = 1;
        while (i + run < Count && run < 128 && same(i, i + run))
            ++run;
        if (run >= 2) {
            Out.push_back(uint8_t(0x80 | (run - 1)));
            Out.insert(Out.end(), Pixels + i * bpp, Pixels + (i + 1) * bpp);
            i += run;
            continue;
        }
        int32_t n = 0;
        while (i + n < Count && n < 128 && (i + n == Count - 1 || !same(i + n, i + n + 1)))
            ++n;
        Out.push_back(uint8_t(n - 1));
        Out.insert(Out.end(), Pixels + i * bpp, Pixels + (i + n) * bpp);
        i += n;
    }
}

void TgaRatio(double Value, uint16_t& Numerator, uint16_t& Denominator)
{
    const double v = std::isfinite(Value) ? std::clamp(Value, 0.0, 65535.0) : 0.0;
    int64_t n = int64_t(v * 10000.0), d = 10000;
    while (n > 0xFFFF) {
        n /= 10;
        d /= 10;
    }
    Numerator = uint16_t(n);
    Denominator = uint16_t(d);
}

void ReadTgaStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, bool ParamsOnly)
{
    try {
        ReadTga(Stream, Bitmap, Params, Progress, ParamsOnly);
    } catch (const EStreamError&) {
        Progress.SetAborting();
    }
}

void WriteTgaStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    WriteTga(Stream, Bitmap, Params, Progress);
}

} // namespace kv
