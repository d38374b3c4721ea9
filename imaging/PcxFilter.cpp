#include "imaging/PcxFilter.h"

#include "imaging/ImagingProc.h"
#include "imaging/PalettedPrep.h"
#include "imaging/Quantizer.h"

#include <array>
#include <cstring>
#include <vector>

namespace kv {

namespace {

// Header offsets (128 bytes, little-endian words).
constexpr int64_t HeaderSize = 128, PaletteTail = 768;
constexpr size_t HManufacturer = 0, HVersion = 1, HEncoding = 2, HBits = 3, HXMin = 4, HYMin = 6, HXMax = 8, HYMax = 10,
                 HDpiX = 12, HDpiY = 14, HPalette = 16, HPlanes = 65, HBytesPerLine = 66, HPaletteInfo = 68;
using TPcxHeader = std::array<uint8_t, HeaderSize>;
static_assert(sizeof(TPcxHeader) == 128, "the PCX header is 128 bytes on disk");

enum TPcxLayout : uint8_t { plNone, plIndex8, plIndex4, plMono, plRgb, plPlanes4 };

TPcxLayout LayoutOf(int32_t Planes, int32_t Bits)
{
    if (Planes == 1)
        return Bits == 8 ? plIndex8 : Bits == 4 ? plIndex4 : Bits == 1 ? plMono : plNone;
    if (Planes == 3 && Bits == 8)
        return plRgb;
    if (Planes == 4 && Bits == 1)
        return plPlanes4;
    return plNone;
}

// Bytes of one line (one plane) that hold the row's own pixels.
int64_t NeededBytes(TPcxLayout Layout, int64_t Width)
{
    switch (Layout) {
    case plIndex8:
    case plRgb: return Width;
    case plIndex4: return (Width + 1) / 2;
    default: return (Width + 7) / 8;
    }
}

// Lines of the picture data in memory. A run that passes the end of a line goes on at
// the start of the next; data that runs out gives 0 bytes and sets RanOut.
class TPcxLineDecoder {
public:
    TPcxLineDecoder(const std::vector<uint8_t>& Data, bool Encoded) : FData(Data), FEncoded(Encoded) {}
    void Line(uint8_t* Dst, int64_t Count);
    bool RanOut = false;

private:
    bool Next(uint8_t& b)
    {
        if (FPos >= FData.size()) {
            RanOut = true;
            return false;
        }
        b = FData[FPos++];
        return true;
    }
    const std::vector<uint8_t>& FData;
    bool FEncoded;
    size_t FPos = 0;
    uint8_t FRunValue = 0;
    int32_t FRunLeft = 0;
};

void TPcxLineDecoder::Line(uint8_t* Dst, int64_t Count)
{
    std::memset(Dst, 0, size_t(Count));
    for (int64_t i = 0; i < Count;) {
        if (FRunLeft > 0) {
            Dst[i++] = FRunValue;
            --FRunLeft;
            continue;
        }
        uint8_t b = 0;
        if (!Next(b))
            return;
        if (FEncoded && b >= 0xC0) {
            if (!Next(FRunValue))
                return;
            FRunLeft = b & 63;
        } else {
            Dst[i++] = b;
        }
    }
}

struct TPcxPalettes {
    std::array<TRGB, 16> Header{};
    std::array<TRGB, 256> Full{};
};

void ReadPalettes(TStream& Stream, const TPcxHeader& h, int64_t Start, int64_t Size, TPcxPalettes& Pal)
{
    for (size_t i = 0; i < 16; ++i)
        Pal.Header[i] = CreateRGB(h[HPalette + 3 * i], h[HPalette + 3 * i + 1], h[HPalette + 3 * i + 2]);
    if (h[HPlanes] != 1 || h[HBits] <= 4)
        return;
    // The tail palette needs the 0x0C byte and 768 bytes after the header; a shorter
    // file gets a grey ramp instead of a palette read out of its own header.
    uint8_t raw[PaletteTail];
    bool ok = Size >= HeaderSize + 1 + PaletteTail;
    if (ok) {
        Stream.Seek(Start + Size - PaletteTail, soBeginning);
        ok = IEReadAll(Stream, raw, PaletteTail);
    }
    for (int32_t i = 0; i < 256; ++i)
        Pal.Full[size_t(i)] =
            ok ? CreateRGB(raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]) : CreateRGB(uint8_t(i), uint8_t(i), uint8_t(i));
    Stream.Seek(Start + HeaderSize, soBeginning);
}

// Some writers (netpbm's ppmtopcx) put the picture's or the screen's size in the
// resolution fields; taken as dots per inch, those would make the DPI adjustment
// resample the picture.
bool PlausibleDpi(const TPcxHeader& h, int32_t DpiX, int32_t DpiY)
{
    constexpr size_t HScreenX = 70, HScreenY = 72;
    const int32_t w = GetU16LE(h.data() + HXMax) - GetU16LE(h.data() + HXMin) + 1;
    const int32_t ht = GetU16LE(h.data() + HYMax) - GetU16LE(h.data() + HYMin) + 1;
    const bool inRange = DpiX >= 1 && DpiX <= 9600 && DpiY >= 1 && DpiY <= 9600;
    const bool pictureSize = DpiX == w && DpiY == ht;
    const bool screenSize = DpiX == GetU16LE(h.data() + HScreenX) && DpiY == GetU16LE(h.data() + HScreenY);
    return inRange && !pictureSize && !screenSize;
}

void SetPcxParams(TIOParamsVals& P, const TPcxHeader& h, TPcxLayout Layout, const TPcxPalettes& Pal)
{
    P.BitsPerSample = h[HBits];
    P.SamplesPerPixel = h[HPlanes];
    P.PcxVersion = h[HVersion];
    P.FreeColorMap();
    if (Layout == plIndex8) {
        P.SetColorMap(Pal.Full.data(), 256);
    } else if (Layout == plPlanes4) {
        P.SetColorMap(Pal.Header.data(), 16);
        P.BitsPerSample = 4;
        P.SamplesPerPixel = 1;
    } else if (Layout != plRgb) {
        P.SetColorMap(Pal.Header.data(), 1 << h[HBits]);
    }
    const int32_t dx = GetU16LE(h.data() + HDpiX), dy = GetU16LE(h.data() + HDpiY);
    const bool plausible = PlausibleDpi(h, dx, dy);
    P.DpiX = plausible ? dx : IEScreenDpiX();
    P.DpiY = plausible ? dy : IEScreenDpiY();
}

void PutBgr(uint8_t* p, TRGB c)
{
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
}

void DecodeRow(TPcxLineDecoder& Dec, TPcxLayout Layout, const TPcxPalettes& Pal, int32_t Width, int64_t Bpl,
               std::vector<uint8_t>& Line, uint8_t* Row)
{
    uint8_t* l = Line.data();
    switch (Layout) {
    case plIndex8:
        Dec.Line(l, Bpl);
        for (int32_t x = 0; x < Width; ++x)
            PutBgr(Row + 3 * x, Pal.Full[l[x]]);
        break;
    case plIndex4:
        Dec.Line(l, Bpl);
        for (int32_t x = 0; x < Width; ++x)
            PutBgr(Row + 3 * x, Pal.Header[(x & 1) ? l[x / 2] & 15 : l[x / 2] >> 4]);
        break;
    case plMono:
        Dec.Line(l, Bpl);
        for (int32_t x = 0; x < Width; ++x)
            SetBit(Row, x, GetBit(l, x));
        break;
    case plRgb:
        for (int32_t plane = 0; plane < 3; ++plane) {
            Dec.Line(l, Bpl);
            for (int32_t x = 0; x < Width; ++x)
                Row[3 * x + 2 - plane] = l[x];
        }
        break;
    case plPlanes4: {
        std::vector<uint8_t> index(size_t(Width), 0);
        for (int32_t plane = 0; plane < 4; ++plane) {
            Dec.Line(l, Bpl);
            for (int32_t x = 0; x < Width; ++x)
                index[size_t(x)] |= uint8_t(GetBit(l, x) << plane);
        }
        for (int32_t x = 0; x < Width; ++x)
            PutBgr(Row + 3 * x, Pal.Header[index[size_t(x)]]);
        break;
    }
    case plNone: break;
    }
}

void ReadPixels(TStream& Stream, TBitmap& Bitmap, const TPcxHeader& h, TPcxLayout Layout, const TPcxPalettes& Pal,
                int64_t DataSize, TProgressRec& Progress)
{
    const int32_t w = GetU16LE(h.data() + HXMax) - GetU16LE(h.data() + HXMin) + 1;
    const int32_t ht = GetU16LE(h.data() + HYMax) - GetU16LE(h.data() + HYMin) + 1;
    // A line of at least w / 8 bytes codes into no fewer than 2 bytes per 63: a picture
    // its data cannot fill is refused before the bitmap is allocated.
    if (!PixelBufferSizeOk(w, ht) || int64_t(w) * ht > DataSize * 252) {
        Progress.SetAborting();
        return;
    }
    std::vector<uint8_t> data(size_t(DataSize > 0 ? DataSize : 0));
    const int64_t got = data.empty() ? 0 : Stream.Read(data.data(), int64_t(data.size()));
    data.resize(size_t(got > 0 ? got : 0));
    Bitmap.SetSize(1, 1);
    Bitmap.SetPixelFormat(Layout == plMono ? pf1bit : pf24bit);
    Bitmap.SetSize(w, ht);
    const int64_t bpl = GetU16LE(h.data() + HBytesPerLine);
    std::vector<uint8_t> line(static_cast<size_t>(bpl));
    TPcxLineDecoder dec(data, h[HEncoding] == 1);
    Progress.Factor = 100.0 / ht;
    for (int32_t y = 0; y < ht; ++y) {
        Progress.Counter = y;
        Progress.Report();
        if (Progress.IsAborting())
            return;
        DecodeRow(dec, Layout, Pal, w, bpl, line, Bitmap.ScanLine(y));
        if (dec.RanOut) {
            Progress.SetAborting();
            return;
        }
    }
}

} // namespace

void LoadPcxFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, int32_t Size, TProgressRec& Progress,
                       bool ParamsOnly)
{
    const int64_t start = Stream.Position();
    const int64_t left = Stream.Size() - start;
    const int64_t size = Size < 0 ? 0 : Size < left ? Size : left;
    TPcxHeader h{};
    const bool read = size >= HeaderSize && IEReadAll(Stream, h.data(), HeaderSize);
    const int32_t xMin = GetU16LE(h.data() + HXMin), xMax = GetU16LE(h.data() + HXMax);
    const int32_t yMin = GetU16LE(h.data() + HYMin), yMax = GetU16LE(h.data() + HYMax);
    const TPcxLayout layout = LayoutOf(h[HPlanes], h[HBits]);
    const int32_t width = xMax - xMin + 1, height = yMax - yMin + 1;
    if (!read || h[HManufacturer] != 10 || h[HEncoding] > 1 || layout == plNone || width < 1 || height < 1 ||
        GetU16LE(h.data() + HBytesPerLine) < NeededBytes(layout, width)) {
        Progress.SetAborting();
        return;
    }
    TPcxPalettes pal;
    ReadPalettes(Stream, h, start, size, pal);
    SetPcxParams(Params, h, layout, pal);
    Params.Width = width;
    Params.Height = height;
    if (!ParamsOnly)
        ReadPixels(Stream, Bitmap, h, layout, pal, size - HeaderSize, Progress);
}

void LoadPcxFromFile(const std::string& FileName, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    const int64_t size = stream.Size();
    LoadPcxFromStream(stream, Bitmap, Params, int32_t(size < INT32_MAX ? size : INT32_MAX), Progress, false);
}

// ---- Writer ---------------------------------------------------------------------------

void PcxEncodeLine(const uint8_t* Source, int32_t Count, std::vector<uint8_t>& Out)
{
    for (int32_t i = 0; i < Count;) {
        const uint8_t b = Source[i];
        int32_t run = 1;
        while (i + run < Count && Source[i + run] == b && run < 63)
            ++run;
        if (run > 1 || b >= 0xC0)
            Out.push_back(uint8_t(0xC0 | run));
        Out.push_back(b);
        i += run;
    }
    if (Count & 1)
        Out.push_back(0);
}

namespace {

// One sample: 1 bit as it is, 2..4 -> 4, above 4 -> 8; several samples -> 24. Values
// left behind by other formats (16, 48, 0) fall into one of these.
int32_t PcxWriteBits(const TIOParamsVals& P)
{
    if (P.BitsPerSample == 1)
        return 1;
    if (P.SamplesPerPixel > 1 || P.BitsPerSample < 1)
        return 24;
    return P.BitsPerSample <= 4 ? 4 : 8;
}

class TPcxWriter {
public:
    TPcxWriter(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress) : S(Stream), P(Params), Prog(Progress) {}
    void Write(const TBitmap& Bitmap);

private:
    void BuildHeader(const TIEPreparedPicture& Pic);
    void RowLines(const uint8_t* Row);
    bool PutLine(const uint8_t* Line);

    TStream& S;
    TIOParamsVals& P;
    TProgressRec& Prog;
    TPcxHeader H{};
    int32_t Bits = 24, Width = 0, Height = 0;
    int64_t Own = 0, Bpl = 0;
    std::array<TRGB, 256> Palette{};
    std::unique_ptr<TIEQuantizer> Quant;
    std::vector<uint8_t> Line, Coded;
};

void TPcxWriter::BuildHeader(const TIEPreparedPicture& Pic)
{
    H[HManufacturer] = 10;
    H[HVersion] = uint8_t(P.PcxVersion);
    H[HEncoding] = P.PcxCompressed ? 1 : 0;
    PutU16LE(H.data() + HXMax, uint16_t(Width - 1));
    PutU16LE(H.data() + HYMax, uint16_t(Height - 1));
    PutU16LE(H.data() + HDpiX, uint16_t(P.DpiX));
    PutU16LE(H.data() + HDpiY, uint16_t(P.DpiY));
    PutU16LE(H.data() + HPaletteInfo, 1);
    H[HBits] = Bits == 24 ? 8 : uint8_t(Bits);
    H[HPlanes] = Bits == 24 ? 3 : 1;
    Own = Bits == 1 ? (Width + 7) / 8 : Bits == 4 ? (Width + 1) / 2 : Width;
    Bpl = (Own + 1) & ~int64_t(1);
    PutU16LE(H.data() + HBytesPerLine, uint16_t(Bpl));
    if (Bits == 1) {
        Palette[0] = Pic.Color0;
        Palette[1] = Pic.Color1;
    } else if (Bits == 4 || Bits == 8) {
        Quant = TIEQuantizer::CreateQuantizer(*Pic.Bitmap, std::span<TRGB>(Palette.data(), size_t(1) << Bits),
                                              1 << Bits, -1);
    } else {
        PutU16LE(H.data() + HPaletteInfo, 0);
    }
    if (Bits <= 4)
        for (size_t i = 0; i < 16; ++i) {
            H[HPalette + 3 * i] = Palette[i].r;
            H[HPalette + 3 * i + 1] = Palette[i].g;
            H[HPalette + 3 * i + 2] = Palette[i].b;
        }
}

bool TPcxWriter::PutLine(const uint8_t* LineData)
{
    if (H[HEncoding] == 0)
        return IEWriteChecked(S, LineData, Bpl, Prog);
    Coded.clear();
    PcxEncodeLine(LineData, int32_t(Own), Coded);
    return IEWriteChecked(S, Coded.data(), int64_t(Coded.size()), Prog);
}

void TPcxWriter::RowLines(const uint8_t* Row)
{
    uint8_t* l = Line.data();
    std::memset(l, 0, size_t(Bpl));
    if (Bits == 1) {
        for (int32_t x = 0; x < Width; ++x)
            SetBit(l, x, GetBit(Row, x));
    } else if (Bits == 4) {
        for (int32_t x = 0; x < Width; ++x) {
            const uint8_t* p = Row + 3 * x;
            const int32_t i = Quant->QuantizerColorIndex(TRGB{p[0], p[1], p[2]}) & 15;
            l[x / 2] |= uint8_t((x & 1) ? i : i << 4);
        }
    } else if (Bits == 8) {
        for (int32_t x = 0; x < Width; ++x) {
            const uint8_t* p = Row + 3 * x;
            l[x] = uint8_t(Quant->QuantizerColorIndex(TRGB{p[0], p[1], p[2]}));
        }
    } else {
        for (int32_t plane = 0; plane < 3 && !Prog.IsAborting(); ++plane) {
            for (int32_t x = 0; x < Width; ++x)
                l[x] = Row[3 * x + 2 - plane];
            PutLine(l);
        }
        return;
    }
    PutLine(l);
}

void TPcxWriter::Write(const TBitmap& Bitmap)
{
    Bits = PcxWriteBits(P);
    TIEPreparedPicture pic = Bits == 1 ? IEPrepare1Bit(Bitmap, Prog) : IEPrepare24Bit(Bitmap);
    Width = pic.Bitmap->Width();
    Height = pic.Bitmap->Height();
    // XMax and YMax are words.
    if (Width < 1 || Height < 1 || Width > 65536 || Height > 65536) {
        Prog.SetAborting();
        return;
    }
    BuildHeader(pic);
    if (!IEWriteChecked(S, H.data(), HeaderSize, Prog))
        return;
    Line.assign(size_t(Bpl), 0);
    for (int32_t y = 0; y < Height; ++y) {
        IEReportPercent(Prog, int32_t(int64_t(y) * 100 / Height));
        if (Prog.IsAborting())
            return;
        RowLines(pic.Bitmap->ScanLine(y));
    }
    if (Bits == 8 && !Prog.IsAborting()) {
        uint8_t tail[1 + PaletteTail];
        tail[0] = 12;
        for (size_t i = 0; i < 256; ++i) {
            tail[1 + 3 * i] = Palette[i].r;
            tail[2 + 3 * i] = Palette[i].g;
            tail[3 + 3 * i] = Palette[i].b;
        }
        IEWriteChecked(S, tail, int64_t(sizeof tail), Prog);
    }
}

} // namespace

void SavePcxToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    TPcxWriter writer(Stream, Params, Progress);
    writer.Write(Bitmap);
}

} // namespace kv
