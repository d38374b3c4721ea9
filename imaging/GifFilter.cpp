#include "imaging/GifFilter.h"

#include "imaging/ImagingProc.h"
#include "imaging/PalettedPrep.h"
#include "imaging/Quantizer.h"

#include <array>
#include <cstring>
#include <vector>

namespace kv {

namespace {

// Every colour table is held at 256 zeroed entries, so that any index a file names
// (background, transparent or pixel) reads inside it.
using TGifTable = std::array<TRGB, 256>;

constexpr size_t ScreenDescriptorSize = 13, ImageDescriptorSize = 9;

TGifTable GreyRamp()
{
    TGifTable t;
    for (int32_t i = 0; i < 256; ++i)
        t[size_t(i)] = CreateRGB(uint8_t(i), uint8_t(i), uint8_t(i));
    return t;
}

// Reads Count red-green-blue entries into a zeroed table.
bool ReadColorTable(TStream& Stream, int32_t Count, TGifTable& Table)
{
    Table.fill(TRGB{});
    uint8_t raw[256 * 3];
    if (!IEReadAll(Stream, raw, int64_t(Count) * 3))
        return false;
    for (int32_t i = 0; i < Count; ++i)
        Table[size_t(i)] = CreateRGB(raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]);
    return true;
}

void SkipBytes(TStream& Stream, int64_t Count)
{
    const int64_t left = Stream.Size() - Stream.Position();
    Stream.Seek(Count < left ? Count : left, soCurrent);
}

// Size byte, that many bytes, until a size of 0 or the end of the stream.
void SkipSubBlocks(TStream& Stream)
{
    uint8_t n = 0;
    while (Stream.Read(&n, 1) == 1 && n != 0)
        SkipBytes(Stream, n);
}

// Bytes of the image data at the stream's position (code size byte and sub-blocks);
// the position is restored.
int64_t ImageDataLength(TStream& Stream)
{
    const int64_t start = Stream.Position();
    SkipBytes(Stream, 1);
    SkipSubBlocks(Stream);
    const int64_t length = Stream.Position() - start;
    Stream.Seek(start, soBeginning);
    return length;
}

// Each code takes at least 3 bits and stands for at most 4096 indexes: a picture
// larger than its data can give is refused before anything is allocated.
bool DataCanFill(int64_t DataBytes, int32_t Width, int32_t Height)
{
    return int64_t(Width) * Height <= (DataBytes * 8 / 3 + 1) * 4096;
}

bool IsBlackThenWhite(const TGifTable& t) { return t[0] == TRGB{0, 0, 0} && t[1] == TRGB{255, 255, 255}; }

class TGifReader {
public:
    TGifReader(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, bool AParamsOnly,
               TIEMask* AMask)
        : S(Stream), B(Bitmap), P(Params), Prog(Progress), ParamsOnly(AParamsOnly), Mask(AMask)
    {
    }

    // False when the file is not a GIF at all.
    bool ReadScreen();
    void ReadBlocks();
    int32_t Count = 0;

private:
    void ReadControlExtension();
    bool ReadImage(); // false: leave the loop
    // False when nothing could be decoded; Whole is false when the data was damaged or cut.
    bool DecodeChosen(int32_t Width, int32_t Height, bool Interlaced, std::vector<uint8_t>& Indexes, bool& Whole);
    void FillBitmap(const std::vector<uint8_t>& Indexes, const TGifTable& Table, int32_t Width, int32_t Height);

    TStream& S;
    TBitmap& B;
    TIOParamsVals& P;
    TProgressRec& Prog;
    bool ParamsOnly;
    TIEMask* Mask;
    TGifTable Global{};
    int32_t GlobalBits = 0; // 0: no global table
    uint8_t CtlFlags = 0, CtlTransparent = 0;
    uint16_t CtlDelay = 0;
};

bool TGifReader::ReadScreen()
{
    uint8_t h[ScreenDescriptorSize];
    if (!IEReadAll(S, h, int64_t(sizeof h)) || std::memcmp(h, "GIF", 3) != 0) {
        Prog.SetAborting();
        return false;
    }
    P.GifVersion.assign(reinterpret_cast<const char*>(h), 6);
    P.GifWinWidth = GetU16LE(h + 6);
    P.GifWinHeight = GetU16LE(h + 8);
    P.GifRatio = h[12];
    P.DpiX = IEScreenDpiX();
    P.DpiY = IEScreenDpiY();
    P.SamplesPerPixel = 1;
    if (h[10] & 0x80) {
        GlobalBits = (h[10] & 7) + 1;
        if (!ReadColorTable(S, 1 << GlobalBits, Global))
            Prog.SetAborting();
        P.GifBackground = Global[h[11]];
    }
    if (S.Position() >= S.Size())
        Prog.SetAborting();
    return true;
}

void TGifReader::ReadBlocks()
{
    while (!Prog.IsAborting()) {
        uint8_t b = 0;
        // A file that ends without its trailer was cut short.
        if (S.Read(&b, 1) != 1) {
            Prog.SetAborting();
            break;
        }
        if (b == ';')
            break;
        if (b == '!') {
            uint8_t label = 0;
            if (S.Read(&label, 1) == 1 && label == 0xF9 && Count == P.GifImageIndex)
                ReadControlExtension();
            else
                SkipSubBlocks(S);
        } else if (b == ',') {
            if (!ReadImage())
                break;
        }
    }
}

// A control block of another size than 4 is read as far as it goes; whatever follows
// is skipped up to the terminator, so the parse stays in step.
void TGifReader::ReadControlExtension()
{
    uint8_t size = 0, data[4] = {};
    if (S.Read(&size, 1) != 1)
        return;
    const int64_t take = size < 4 ? size : 4;
    if (!IEReadAll(S, data, take))
        return;
    SkipBytes(S, size - take);
    CtlFlags = data[0];
    CtlDelay = GetU16LE(data + 1);
    CtlTransparent = data[3];
    SkipSubBlocks(S);
}

bool TGifReader::ReadImage()
{
    uint8_t d[ImageDescriptorSize];
    if (!IEReadAll(S, d, int64_t(sizeof d))) {
        Prog.SetAborting();
        return false;
    }
    const bool interlaced = (d[8] & 0x40) != 0, hasLocal = (d[8] & 0x80) != 0;
    const int32_t localBits = (d[8] & 7) + 1;
    TGifTable local{};
    if (hasLocal && !ReadColorTable(S, 1 << localBits, local)) {
        Prog.SetAborting();
        return false;
    }
    if (Count != P.GifImageIndex) {
        SkipBytes(S, 1);
        SkipSubBlocks(S);
        ++Count;
        return true;
    }
    IEReportPercent(Prog, 30);
    if (Prog.IsAborting())
        return false;
    // Without any table the indexes read as a grey ramp of 8 bits.
    const TGifTable& table = hasLocal ? local : GlobalBits ? Global : GreyRamp();
    const int32_t bits = hasLocal ? localBits : GlobalBits ? GlobalBits : 8;
    const int32_t width = GetU16LE(d + 4), height = GetU16LE(d + 6);
    P.GifTranspColor = table[CtlTransparent];
    P.GifXPos = GetU16LE(d);
    P.GifYPos = GetU16LE(d + 2);
    P.Width = width;
    P.Height = height;
    P.GifDelayTime = CtlDelay;
    P.GifFlagTranspColor = CtlFlags & 1;
    P.GifInterlaced = interlaced;
    std::vector<uint8_t> indexes;
    bool whole = true;
    if (ParamsOnly) {
        SkipBytes(S, 1);
        SkipSubBlocks(S);
    } else if (!DecodeChosen(width, height, interlaced, indexes, whole)) {
        return false;
    }
    P.BitsPerSample = bits;
    P.SetColorMap(table.data(), 1 << bits);
    if (!ParamsOnly)
        FillBitmap(indexes, table, width, height);
    ++Count;
    // Damaged data keeps the rows it gave, as the other readers do, but is a failure.
    if (!whole) {
        Prog.SetAborting();
        return false;
    }
    return true;
}

bool TGifReader::DecodeChosen(int32_t Width, int32_t Height, bool Interlaced, std::vector<uint8_t>& Indexes,
                              bool& Whole)
{
    if (Width < 1 || Height < 1 || !PixelBufferSizeOk(Width, Height) ||
        !DataCanFill(ImageDataLength(S), Width, Height)) {
        Prog.SetAborting();
        return false;
    }
    Indexes.assign(size_t(Width) * size_t(Height), 0);
    TIEGifLzwDecompressProc decode = P.GifLzwDecompress ? P.GifLzwDecompress : DefGifLzwDecompress;
    const int64_t before = S.Position();
    Whole = decode && decode(S, Height, Width, Interlaced, Indexes.data());
    if (S.Position() == before) {
        Prog.SetAborting();
        return false;
    }
    IEReportPercent(Prog, 70);
    return !Prog.IsAborting();
}

void TGifReader::FillBitmap(const std::vector<uint8_t>& Indexes, const TGifTable& Table, int32_t Width, int32_t Height)
{
    const bool oneBit = P.BitsPerSample == 1 && IsBlackThenWhite(Table);
    B.SetSize(1, 1);
    B.SetPixelFormat(oneBit ? pf1bit : pf24bit);
    B.SetSize(Width, Height);
    if (Mask) {
        Mask->AllocateBits(Width, Height, 8);
        Mask->Fill(255);
    }
    const bool transparent = (CtlFlags & 1) != 0;
    for (int32_t y = 0; y < Height; ++y) {
        const uint8_t* src = Indexes.data() + size_t(y) * size_t(Width);
        uint8_t* row = B.ScanLine(y);
        if (oneBit) {
            std::memset(row, 0, size_t((Width + 7) / 8));
            for (int32_t x = 0; x < Width; ++x)
                if (src[x] == 1)
                    SetBit(row, x, true);
        } else {
            for (int32_t x = 0; x < Width; ++x, row += 3) {
                const TRGB c = Table[src[x]];
                row[0] = c.b;
                row[1] = c.g;
                row[2] = c.r;
            }
        }
        if (Mask && transparent) {
            uint8_t* m = Mask->ScanLine(y);
            for (int32_t x = 0; x < Width; ++x)
                if (src[x] == CtlTransparent)
                    m[x] = 0;
        }
    }
    // Zeros written through ScanLine leave the full flag set: without clearing it the
    // writers and the DPI adjustment take the mask as wholly opaque.
    if (Mask && transparent)
        Mask->ClearFull();
}

// ---- Writer ---------------------------------------------------------------------------

struct TGifIndexes {
    std::vector<uint8_t> Pixels;
    TGifTable Palette{};
    int32_t Background = 0;
    int32_t Transparent = 0;
};

// The palette holds the two colours the preparation found, so a two-colour picture
// keeps its colours.
void IndexOneBit(const TIEPreparedPicture& Pic, const TIOParamsVals& Params, TGifIndexes& Out)
{
    Out.Palette[0] = Pic.Color0;
    Out.Palette[1] = Pic.Color1;
    const int32_t w = Pic.Bitmap->Width();
    for (int32_t y = 0; y < Pic.Bitmap->Height(); ++y) {
        const uint8_t* row = Pic.Bitmap->ScanLine(y);
        uint8_t* dst = Out.Pixels.data() + size_t(y) * size_t(w);
        for (int32_t x = 0; x < w; ++x)
            dst[x] = GetBit(row, x) ? 1 : 0;
    }
    Out.Background = NearestPaletteIndex(Out.Palette.data(), 2, Params.GifBackground);
    Out.Transparent = NearestPaletteIndex(Out.Palette.data(), 2, Params.GifTranspColor);
}

void IndexQuantized(const TBitmap& Pic, const TIOParamsVals& Params, int32_t Colours, TGifIndexes& Out)
{
    auto q = TIEQuantizer::CreateQuantizer(Pic, std::span<TRGB>(Out.Palette.data(), size_t(Colours)), Colours, -1);
    const int32_t w = Pic.Width();
    for (int32_t y = 0; y < Pic.Height(); ++y) {
        const uint8_t* p = Pic.ScanLine(y);
        uint8_t* dst = Out.Pixels.data() + size_t(y) * size_t(w);
        for (int32_t x = 0; x < w; ++x, p += 3)
            dst[x] = uint8_t(q->QuantizerColorIndex(TRGB{p[0], p[1], p[2]}));
    }
    Out.Background = q->QuantizerColorIndex(Params.GifBackground);
    Out.Transparent = q->QuantizerColorIndex(Params.GifTranspColor);
}

void PutU16(std::vector<uint8_t>& b, int32_t v)
{
    b.push_back(uint8_t(v & 0xFF));
    b.push_back(uint8_t((v >> 8) & 0xFF));
}

// Screen descriptor, global table, graphic control extension and image descriptor.
std::vector<uint8_t> GifHeaders(const TIOParamsVals& Params, const TGifIndexes& Ix, int32_t Bits, int32_t Width,
                                int32_t Height)
{
    std::vector<uint8_t> b;
    std::string version = Params.GifVersion;
    version.resize(6, '\0');
    b.insert(b.end(), version.begin(), version.end());
    PutU16(b, Width);
    PutU16(b, Height);
    b.push_back(uint8_t(0x80 | (Bits - 1) | ((Bits - 1) << 4)));
    b.push_back(uint8_t(Ix.Background));
    b.push_back(0);
    for (int32_t i = 0; i < (1 << Bits); ++i) {
        const TRGB c = Ix.Palette[size_t(i)];
        b.insert(b.end(), {c.r, c.g, c.b});
    }
    // Disposal 2 (restore to background) in bits 2..4 of the flags.
    b.insert(b.end(), {0x21, 0xF9, 4, uint8_t(Params.GifFlagTranspColor | 8)});
    PutU16(b, Params.GifDelayTime);
    b.insert(b.end(), {uint8_t(Ix.Transparent), 0, 0x2C});
    PutU16(b, Params.GifXPos);
    PutU16(b, Params.GifYPos);
    PutU16(b, Width);
    PutU16(b, Height);
    b.push_back(uint8_t(Params.GifInterlaced ? 0x40 : 0));
    return b;
}

} // namespace

void LoadGifFromStream(TStream& Stream, TBitmap& Bitmap, int32_t& ImageCount, TIOParamsVals& Params,
                       TProgressRec& Progress, bool ParamsOnly, TIEMask* Mask)
{
    IEReportPercent(Progress, 0);
    if (Progress.IsAborting())
        return;
    TGifReader reader(Stream, Bitmap, Params, Progress, ParamsOnly, Mask);
    if (!reader.ReadScreen())
        return;
    reader.ReadBlocks();
    ImageCount = reader.Count;
    Params.GifImageCount = reader.Count;
    // No image at the asked index leaves no picture: the caller's placeholder is not one.
    if (reader.Count <= Params.GifImageIndex)
        Progress.SetAborting();
    if (!Progress.IsAborting())
        IEReportPercent(Progress, 100);
}

void SaveGifToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    IEReportPercent(Progress, 0);
    if (Progress.IsAborting())
        return;
    const bool oneBit = Params.BitsPerSample == 1;
    TIEPreparedPicture pic = oneBit ? IEPrepare1Bit(Bitmap, Progress) : IEPrepare24Bit(Bitmap);
    const int32_t w = pic.Bitmap->Width(), h = pic.Bitmap->Height();
    // The file holds sides in 16 bits.
    if (w < 1 || h < 1 || w > 65535 || h > 65535) {
        Progress.SetAborting();
        return;
    }
    // A depth left behind by another format (16, or 0) still gives a table of 2..256.
    const int32_t bits = IEClamp(Params.BitsPerSample, 1, 8);
    TGifIndexes ix;
    ix.Pixels.assign(size_t(w) * size_t(h), 0);
    if (oneBit)
        IndexOneBit(pic, Params, ix);
    else
        IndexQuantized(*pic.Bitmap, Params, 1 << bits, ix);
    IEReportPercent(Progress, 30);
    if (Progress.IsAborting())
        return;
    const std::vector<uint8_t> head = GifHeaders(Params, ix, bits, w, h);
    if (!IEWriteChecked(Stream, head.data(), int64_t(head.size()), Progress))
        return;
    IEReportPercent(Progress, 70);
    if (Progress.IsAborting())
        return;
    TIEGifLzwCompressProc encode = Params.GifLzwCompress ? Params.GifLzwCompress : DefGifLzwCompress;
    if (!encode) {
        Progress.SetAborting();
        return;
    }
    encode(Stream, h, w, Params.GifInterlaced != 0, ix.Pixels.data(), bits);
    const uint8_t trailer = ';';
    if (IEWriteChecked(Stream, &trailer, 1, Progress))
        IEReportPercent(Progress, 100);
}

void LoadGifFromFile(const std::string& FileName, TBitmap& Bitmap, int32_t& ImageCount, TIOParamsVals& Params,
                     TProgressRec& Progress, TIEMask* Mask)
{
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    LoadGifFromStream(stream, Bitmap, ImageCount, Params, Progress, false, Mask);
}

void SaveGifToFile(const std::string& FileName, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    SaveFileSafely(FileName, [&](TStream& Stream) { SaveGifToStream(Stream, Bitmap, Params, Progress); });
}

} // namespace kv
