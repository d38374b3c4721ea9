#include "imaging/TiffFilter.h"

#include "imaging/Ccitt.h"
#include "imaging/ImagingIO.h"
#include "imaging/ImagingProc.h"
#include "imaging/JpegFilter.h"
#include "imaging/PalettedPrep.h"
#include "imaging/Quantizer.h"
#include "platform/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <span>
#include <string>

namespace kv {

namespace {

// Tags the filter reads or writes.
enum : uint16_t {
    tagImageWidth = 256,
    tagImageLength = 257,
    tagBitsPerSample = 258,
    tagCompression = 259,
    tagPhotometric = 262,
    tagFillOrder = 266,
    tagDocumentName = 269,
    tagImageDescription = 270,
    tagMake = 271,
    tagModel = 272,
    tagStripOffsets = 273,
    tagOrientation = 274,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagXResolution = 282,
    tagYResolution = 283,
    tagPlanarConfig = 284,
    tagPageName = 285,
    tagXPosition = 286,
    tagYPosition = 287,
    tagT4Options = 292,
    tagT6Options = 293,
    tagResolutionUnit = 296,
    tagPageNumber = 297,
    tagSoftware = 305,
    tagDateTime = 306,
    tagTransferFunction = 301,
    tagArtist = 315,
    tagPredictor = 317,
    tagWhitePoint = 318,
    tagPrimaryChromaticities = 319,
    tagColorMap = 320,
    tagTileWidth = 322,
    tagTileLength = 323,
    tagTileOffsets = 324,
    tagTileByteCounts = 325,
    tagInkSet = 332,
    tagNumberOfInks = 334,
    tagExtraSamples = 338,
    tagJpegTables = 347,
    tagJpegProc = 512,
    tagJpegInterchange = 513,
    tagJpegInterchangeLength = 514,
    tagJpegRestartInterval = 515,
    tagJpegLosslessPredictors = 517,
    tagJpegPointTransforms = 518,
    tagJpegQTables = 519,
    tagJpegDCTables = 520,
    tagJpegACTables = 521,
    tagYCbCrCoefficients = 529,
    tagYCbCrPositioning = 531,
    tagReferenceBlackWhite = 532,
    tagCopyright = 33432,
    tagExposureTime = 33434,
    tagFNumber = 33437,
    tagExifIfd = 34665,
    tagExposureProgram = 34850,
    tagIsoSpeedRatings = 34855,
    tagExifVersion = 36864,
    tagDateTimeOriginal = 36867,
    tagDateTimeDigitized = 36868,
    tagCompressedBitsPerPixel = 37122,
    tagShutterSpeedValue = 37377,
    tagApertureValue = 37378,
    tagBrightnessValue = 37379,
    tagExposureBiasValue = 37380,
    tagMaxApertureValue = 37381,
    tagSubjectDistance = 37382,
    tagMeteringMode = 37383,
    tagLightSource = 37384,
    tagFlash = 37385,
    tagFocalLength = 37386,
    tagSubsecTime = 37520,
    tagSubsecTimeOriginal = 37521,
    tagSubsecTimeDigitized = 37522,
    tagFlashpixVersion = 40960,
    tagColorSpace = 40961,
    tagPixelXDimension = 40962,
    tagPixelYDimension = 40963,
    tagRelatedSoundFile = 40964,
    tagFocalPlaneXResolution = 41486,
    tagFocalPlaneYResolution = 41487,
    tagFocalPlaneResolutionUnit = 41488,
    tagExposureIndex = 41493,
    tagSensingMethod = 41495,
    tagFileSource = 41728,
    tagSceneType = 41729,
};

enum TTiffType : uint16_t { ttByte = 1, ttAscii = 2, ttShort = 3, ttLong = 4, ttRational = 5 };

constexpr int32_t MaxDirectories = 65536;
constexpr int64_t StripPadding = 8; // zero bytes after every strip buffer

int64_t TypeSize(uint16_t Type)
{
    switch (Type) {
    case 1:
    case 2:
    case 6:
    case 7: return 1;
    case 3:
    case 8: return 2;
    case 4:
    case 9:
    case 11:
    case 13: return 4; // IFD: an offset held like a LONG
    case 5:
    case 10:
    case 12: return 8;
    default: return 0;
    }
}

struct TEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    uint8_t Field[4] = {};
};

// The loaded directory and the bounded reads of its values.
class TDirectory {
public:
    TDirectory(TStream& S, int64_t Base, bool Big) : FS(S), FBase(Base), FEnd(S.Size()), FBig(Big) {}

    TStream& Stream() const { return FS; }
    bool Big() const { return FBig; }
    bool Bad() const { return FBad; }
    int64_t Base() const { return FBase; }
    int64_t End() const { return FEnd; }
    uint16_t U16(const uint8_t* p) const { return FBig ? GetU16BE(p) : GetU16LE(p); }
    uint32_t U32(const uint8_t* p) const { return FBig ? GetU32BE(p) : GetU32LE(p); }

    bool ReadAt(int64_t Offset, uint8_t* Out, int64_t Count)
    {
        const int64_t at = FBase + Offset;
        if (Offset < 0 || Count < 0 || at + Count > FEnd)
            return false;
        FS.Seek(at, soBeginning);
        return FS.Read(Out, Count) == Count;
    }

    bool Load(int64_t Offset)
    {
        uint8_t head[2];
        if (!ReadAt(Offset, head, 2))
            return false;
        const int64_t n = U16(head);
        std::vector<uint8_t> raw(size_t(n * 12));
        if (!ReadAt(Offset + 2, raw.data(), n * 12))
            return false;
        FEntries.resize(size_t(n));
        for (int64_t i = 0; i < n; ++i) {
            const uint8_t* p = raw.data() + i * 12;
            TEntry& e = FEntries[size_t(i)];
            e.Tag = U16(p);
            e.Type = U16(p + 2);
            e.Count = U32(p + 4);
            std::memcpy(e.Field, p + 8, 4);
        }
        return true;
    }

    const TEntry* Find(uint16_t Tag) const
    {
        for (const TEntry& e : FEntries)
            if (e.Tag == Tag)
                return &e;
        return nullptr;
    }

    // The value bytes of an entry; an unknown type gives none, a value that does not
    // fit in the stream marks the directory bad.
    bool Bytes(const TEntry& e, std::vector<uint8_t>& Out)
    {
        const int64_t size = TypeSize(e.Type) * int64_t(e.Count);
        if (size == 0)
            return false;
        if (size <= 4) {
            Out.assign(e.Field, e.Field + size);
            return true;
        }
        const int64_t offset = U32(e.Field);
        if (FBase + offset + size > FEnd) {
            FBad = true;
            return false;
        }
        Out.resize(size_t(size));
        if (!ReadAt(offset, Out.data(), size)) {
            FBad = true;
            return false;
        }
        return true;
    }

    double Number(const TEntry& e, const std::vector<uint8_t>& b, uint32_t i) const
    {
        const int64_t size = TypeSize(e.Type);
        if (i >= e.Count || int64_t(i + 1) * size > int64_t(b.size()))
            return 0;
        const uint8_t* p = b.data() + int64_t(i) * size;
        switch (e.Type) {
        case 1:
        case 7: return p[0];
        case 6: return int8_t(p[0]);
        case 3: return U16(p);
        case 8: return int16_t(U16(p));
        case 4:
        case 13: return U32(p);
        case 9: return int32_t(U32(p));
        case 5: { // a zero denominator counts as 1
            const uint32_t d = U32(p + 4);
            return double(U32(p)) / (d ? d : 1);
        }
        case 10: {
            const int32_t d = int32_t(U32(p + 4));
            return double(int32_t(U32(p))) / (d ? d : 1);
        }
        case 11: {
            float f;
            uint32_t v = U32(p);
            std::memcpy(&f, &v, 4);
            return f;
        }
        default: return 0;
        }
    }

    double Value(uint16_t Tag, double Default, uint32_t Index = 0)
    {
        const TEntry* e = Find(Tag);
        std::vector<uint8_t> b;
        if (!e || Index >= e->Count || !Bytes(*e, b))
            return Default;
        return Number(*e, b, Index);
    }

    // Integer values are clamped rather than converted out of range.
    int64_t Int(uint16_t Tag, int64_t Default, uint32_t Index = 0)
    {
        const double d = Value(Tag, double(Default), Index);
        if (!std::isfinite(d))
            return Default;
        return int64_t(std::clamp(d, -2147483648.0, 4294967295.0));
    }

    std::string Ascii(uint16_t Tag)
    {
        const TEntry* e = Find(Tag);
        std::vector<uint8_t> b;
        if (!e || e->Type != ttAscii || !Bytes(*e, b))
            return "";
        const char* s = reinterpret_cast<const char*>(b.data());
        return std::string(s, strnlen(s, b.size()));
    }

    std::vector<uint32_t> Array(uint16_t Tag)
    {
        std::vector<uint32_t> out;
        const TEntry* e = Find(Tag);
        std::vector<uint8_t> b;
        if (!e || (e->Type != ttShort && e->Type != ttLong && e->Type != ttByte) || !Bytes(*e, b))
            return out;
        out.resize(e->Count);
        for (uint32_t i = 0; i < e->Count; ++i)
            out[i] = uint32_t(Number(*e, b, i));
        return out;
    }

    bool Has(uint16_t Tag) const { return Find(Tag) != nullptr; }

private:
    TStream& FS;
    int64_t FBase;
    int64_t FEnd;
    bool FBig;
    bool FBad = false;
    std::vector<TEntry> FEntries;
};

int32_t ClampInt(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The EXIF fields of the parameters, from a directory's tags.
void ReadExifTags(TDirectory& d, TIOParamsVals& p)
{
    auto str = [&](uint16_t tag, std::string& field) {
        if (d.Has(tag))
            field = d.Ascii(tag);
    };
    auto num = [&](uint16_t tag, double& field) {
        if (d.Has(tag))
            field = d.Value(tag, 0);
    };
    auto integer = [&](uint16_t tag, int32_t& field) {
        if (d.Has(tag))
            field = ClampInt(d.Int(tag, 0));
    };
    auto array = [&](uint16_t tag, double* field, uint32_t n) {
        if (d.Has(tag))
            for (uint32_t i = 0; i < n; ++i)
                field[i] = d.Value(tag, 0, i);
    };
    str(tagImageDescription, p.EXIF_ImageDescription);
    str(tagMake, p.EXIF_Make);
    str(tagModel, p.EXIF_Model);
    integer(tagOrientation, p.EXIF_Orientation);
    num(tagXResolution, p.EXIF_XResolution);
    num(tagYResolution, p.EXIF_YResolution);
    integer(tagResolutionUnit, p.EXIF_ResolutionUnit);
    str(tagSoftware, p.EXIF_Software);
    str(tagDateTime, p.EXIF_DateTime);
    str(tagArtist, p.EXIF_Artist);
    array(tagWhitePoint, p.EXIF_WhitePoint, 2);
    array(tagPrimaryChromaticities, p.EXIF_PrimaryChromaticities, 6);
    array(tagYCbCrCoefficients, p.EXIF_YCbCrCoefficients, 3);
    array(tagReferenceBlackWhite, p.EXIF_ReferenceBlackWhite, 6);
    str(tagCopyright, p.EXIF_Copyright);
    num(tagExposureTime, p.EXIF_ExposureTime);
    num(tagFNumber, p.EXIF_FNumber);
    integer(tagExposureProgram, p.EXIF_ExposureProgram);
    if (d.Has(tagIsoSpeedRatings))
        for (uint32_t i = 0; i < 2; ++i)
            p.EXIF_ISOSpeedRatings[i] = ClampInt(d.Int(tagIsoSpeedRatings, 0, i));
    str(tagDateTimeOriginal, p.EXIF_DateTimeOriginal);
    integer(tagFlash, p.EXIF_Flash);
    num(tagFocalLength, p.EXIF_FocalLength);
    integer(tagPixelXDimension, p.EXIF_ExifImageWidth);
    integer(tagPixelYDimension, p.EXIF_ExifImageHeight);
    // The version tags are four bytes held in the entry itself.
    auto version = [&](uint16_t tag, std::string& field) {
        const TEntry* e = d.Find(tag);
        if (e && e->Count == 4 && TypeSize(e->Type) == 1)
            field.assign(reinterpret_cast<const char*>(e->Field), 4);
    };
    TIEExifMoreTags& m = p.EXIF_More;
    version(tagExifVersion, m.ExifVersion);
    str(tagDateTimeDigitized, m.DateTimeDigitized);
    num(tagCompressedBitsPerPixel, m.CompressedBitsPerPixel);
    num(tagShutterSpeedValue, m.ShutterSpeedValue);
    num(tagApertureValue, m.ApertureValue);
    num(tagBrightnessValue, m.BrightnessValue);
    num(tagExposureBiasValue, m.ExposureBiasValue);
    num(tagMaxApertureValue, m.MaxApertureValue);
    num(tagSubjectDistance, m.SubjectDistance);
    integer(tagMeteringMode, m.MeteringMode);
    integer(tagLightSource, m.LightSource);
    str(tagSubsecTime, m.SubsecTime);
    str(tagSubsecTimeOriginal, m.SubsecTimeOriginal);
    str(tagSubsecTimeDigitized, m.SubsecTimeDigitized);
    version(tagFlashpixVersion, m.FlashpixVersion);
    integer(tagColorSpace, m.ColorSpace);
    str(tagRelatedSoundFile, m.RelatedSoundFile);
    num(tagFocalPlaneXResolution, m.FocalPlaneXResolution);
    num(tagFocalPlaneYResolution, m.FocalPlaneYResolution);
    integer(tagFocalPlaneResolutionUnit, m.FocalPlaneResolutionUnit);
    num(tagExposureIndex, m.ExposureIndex);
    integer(tagSensingMethod, m.SensingMethod);
    integer(tagFileSource, m.FileSource);
    integer(tagSceneType, m.SceneType);
}

// The directory's tags that only go to the parameters; absent ones take their defaults.
void ReadMoreTiffTags(TDirectory& d, int32_t Bps, TIETiffMoreTags& m)
{
    m = {};
    m.T6Options = ClampInt(d.Int(tagT6Options, 0));
    m.InkSet = ClampInt(d.Int(tagInkSet, 1));
    m.NumberOfInks = ClampInt(d.Int(tagNumberOfInks, 4));
    m.YCbCrPositioning = ClampInt(d.Int(tagYCbCrPositioning, 1));
    m.JpegProc = ClampInt(d.Int(tagJpegProc, 0));
    m.JpegRestartInterval = ClampInt(d.Int(tagJpegRestartInterval, 0));
    m.JpegLosslessPredictors = d.Array(tagJpegLosslessPredictors);
    m.JpegPointTransforms = d.Array(tagJpegPointTransforms);
    m.JpegQTables = d.Array(tagJpegQTables);
    m.JpegDCTables = d.Array(tagJpegDCTables);
    m.JpegACTables = d.Array(tagJpegACTables);
    // 2^BitsPerSample values per curve; a single curve stands for all three.
    if (Bps < 1 || Bps > 16 || !d.Has(tagTransferFunction))
        return;
    const size_t n = size_t(1) << Bps;
    const std::vector<uint32_t> v = d.Array(tagTransferFunction);
    if (v.size() != n && v.size() != 3 * n)
        return;
    m.TransferFunction.resize(3 * n);
    for (size_t i = 0; i < 3 * n; ++i)
        m.TransferFunction[i] = uint16_t(v[v.size() == n ? i % n : i]);
}

// A resolution is used only when it is a sane whole number of dots.
int32_t SaneDpi(double v) { return std::isfinite(v) && v >= 1.0 && v < 65536.0 ? int32_t(v) : 0; }

// How a row of samples becomes a bitmap row: the first matching rule of the filter's
// conversion table.
enum TConversion : uint8_t {
    cvNone,
    cvRgb8,
    cvRgb16,
    cvRgb555,
    cvPaletteAlpha,
    cvPalette,
    cvGrey8,
    cvGrey4,
    cvGrey16,
    cvBilevel,
    cvCmyk,
    cvLab,
};

struct TLayout {
    int32_t Width = 0, Height = 0;
    int32_t Spp = 1, Bps = 1;
    int32_t Compression = 1;
    int32_t Photometric = 2;
    int32_t Planar = 1;
    int32_t Predictor = 1;
    int32_t FillOrder = 1;
    int32_t T4Options = 0;
    int32_t ExtraSamples = 0;
    bool Big = false;
    bool Molli = false;
    TConversion Conversion = cvNone;
    int64_t RowBytes = 0; // one decoded row of the strip or tile
    TRGB Map[256];
};

bool IsCcitt(int32_t Compression) { return Compression >= 2 && Compression <= 4; }

TConversion ChooseConversion(const TLayout& l)
{
    const int32_t ph = l.Photometric, spp = l.Spp, bps = l.Bps;
    if (ph == 2 && (spp == 3 || spp == 4) && bps == 8)
        return cvRgb8;
    if (ph == 2 && (spp == 3 || spp == 4) && bps == 16)
        return cvRgb16;
    if (ph == 2 && spp == 1 && bps == 16)
        return cvRgb555;
    if (ph == 3 && spp == 2 && bps == 8)
        return cvPaletteAlpha;
    // A palette of 0 bits has no index to hold: nothing of the picture is stored.
    if (ph == 3 && (spp == 1 ? bps >= 1 && bps <= 8 : bps == 8))
        return cvPalette;
    if (ph <= 1 && spp == 1) {
        switch (bps) {
        case 8: return cvGrey8;
        case 4: return cvGrey4;
        case 16: return l.Compression == 1 ? cvGrey16 : cvNone;
        case 1: return cvBilevel;
        default: return cvNone;
        }
    }
    if (ph == 5 && spp == 4 && bps == 8)
        return cvCmyk;
    if (ph == 8 && spp == 3 && bps == 8)
        return cvLab;
    return cvNone;
}

// Samples narrower than a byte (other than bilevel rows) are handed over one byte each.
bool NeedsUnpack(const TLayout& l) { return l.Bps < 8 && l.Conversion != cvBilevel; }

void UnpackRow(const uint8_t* Src, uint8_t* Dst, int32_t Width, int32_t Bps)
{
    const uint32_t mask = (1u << Bps) - 1;
    int64_t bit = 0;
    for (int32_t x = 0; x < Width; ++x, bit += Bps) {
        const uint32_t word = (uint32_t(Src[bit >> 3]) << 8) | Src[(bit >> 3) + 1];
        Dst[x] = uint8_t((word >> (16 - (bit & 7) - Bps)) & mask);
    }
}

// Predictor 2: each sample from the second pixel on adds the same sample of the pixel
// before; 16-bit samples add in the file's byte order.
void UndoPredictor(uint8_t* Row, int32_t Width, int32_t Spp, int32_t Bps, bool Big)
{
    if (Bps == 8) {
        for (int64_t i = Spp; i < int64_t(Width) * Spp; ++i)
            Row[i] = uint8_t(Row[i] + Row[i - Spp]);
        return;
    }
    for (int64_t i = Spp; i < int64_t(Width) * Spp; ++i) {
        uint8_t* p = Row + 2 * i;
        const uint8_t* q = p - 2 * Spp;
        if (Big)
            PutU16BE(p, uint16_t(GetU16BE(p) + GetU16BE(q)));
        else
            PutU16LE(p, uint16_t(GetU16LE(p) + GetU16LE(q)));
    }
}

bool PredictorApplies(const TLayout& l)
{
    return l.Predictor == 2 && l.Compression == 5 &&
           ((l.Bps == 8 && (l.Spp == 1 || l.Spp == 3 || l.Spp == 4)) || (l.Bps == 16 && l.Spp == 3));
}

void PutBgr(uint8_t* d, uint8_t r, uint8_t g, uint8_t b)
{
    d[0] = b;
    d[1] = g;
    d[2] = r;
}

// Converts Width pixels of a decoded row to the bitmap row Dst (B, G, R or packed bits).
void ConvertRow(const TLayout& l, const uint8_t* s, uint8_t* d, int32_t Width)
{
    const int32_t spp = l.Spp;
    switch (l.Conversion) {
    case cvRgb8:
        for (int32_t x = 0; x < Width; ++x, s += spp, d += 3)
            PutBgr(d, s[0], s[1], s[2]);
        break;
    case cvRgb16: {
        const int32_t hi = l.Big ? 0 : 1;
        for (int32_t x = 0; x < Width; ++x, s += 2 * spp, d += 3)
            PutBgr(d, s[hi], s[2 + hi], s[4 + hi]);
        break;
    }
    case cvRgb555:
        for (int32_t x = 0; x < Width; ++x, s += 2, d += 3) {
            const uint16_t v = GetU16LE(s);
            PutBgr(d, uint8_t(((v >> 10) & 31) << 3), uint8_t(((v >> 5) & 31) << 3), uint8_t((v & 31) << 3));
        }
        break;
    case cvPaletteAlpha:
    case cvPalette: {
        const int32_t step = l.Conversion == cvPaletteAlpha ? 2 : spp;
        for (int32_t x = 0; x < Width; ++x, s += step, d += 3) {
            const TRGB c = l.Map[s[0]];
            PutBgr(d, c.r, c.g, c.b);
        }
        break;
    }
    case cvGrey8:
    case cvGrey4:
        for (int32_t x = 0; x < Width; ++x, d += 3) {
            uint8_t v = l.Conversion == cvGrey4 ? uint8_t((s[x] & 15) * 17) : s[x];
            if (l.Photometric == 0)
                v = uint8_t(255 - v);
            d[0] = d[1] = d[2] = v;
        }
        break;
    case cvGrey16:
        for (int32_t x = 0; x < Width; ++x, s += 2, d += 3) {
            uint32_t v = l.Big ? GetU16BE(s) : GetU16LE(s);
            if (l.Photometric == 0)
                v = 65535 - v;
            d[0] = d[1] = d[2] = uint8_t(v >> (l.Molli ? 4 : 8));
        }
        break;
    case cvBilevel: {
        const int64_t bytes = (int64_t(Width) + 7) / 8;
        const bool ccitt = IsCcitt(l.Compression);
        const bool invert = (l.Photometric == 0 && !ccitt) || (l.Photometric == 1 && ccitt);
        if (invert)
            for (int64_t i = 0; i < bytes; ++i)
                d[i] = uint8_t(~s[i]);
        else
            std::memcpy(d, s, size_t(bytes));
        break;
    }
    case cvCmyk:
        for (int32_t x = 0; x < Width; ++x, s += 4, d += 3) {
            const TRGB c = PlainCmykToRgb(s);
            PutBgr(d, c.r, c.g, c.b);
        }
        break;
    case cvLab:
        for (int32_t x = 0; x < Width; ++x, s += 3, d += 3) {
            TCIELab lab;
            lab.L = s[0] * 100.0 / 255.0;
            lab.a = int8_t(s[1]);
            lab.b = int8_t(s[2]);
            const TRGB c = IELab2RGB(lab);
            PutBgr(d, c.r, c.g, c.b);
        }
        break;
    case cvNone: break;
    }
}

// The JPEG reader raises on a damaged stream; inside a TIFF that fails the strip.
bool ReadEmbeddedJpeg(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    try {
        LoadJpegFromStream(Stream, Bitmap, Params, false, Progress);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

class TTiffReader {
public:
    TTiffReader(TStream& S, TBitmap& B, TIOParamsVals& P, TProgressRec& Pr, TDirectory& D, TLayout& L, TIEMask* Mask)
        : FS(S), FB(B), FP(P), FProgress(Pr), FD(D), FL(L),
          FMask(L.Conversion == cvRgb8 && L.Spp == 4 && L.ExtraSamples == 2 ? Mask : nullptr)
    {
    }

    void ReadPixels();

private:
    bool Fail()
    {
        FProgress.SetAborting();
        return false;
    }
    bool ReadBlock(int64_t Offset, int64_t Count, std::vector<uint8_t>& Out);
    bool Decompress(const std::vector<uint8_t>& In, int64_t InCount, std::vector<uint8_t>& Out, int64_t OutCount,
                    int64_t& Produced);
    bool RowDone();
    int64_t BlocksListed(const std::vector<uint32_t>& Offsets, const std::vector<uint32_t>& Counts,
                         uint16_t CountsTag) const;
    bool ReadStrips();
    bool ReadPlanarStrips();
    bool ReadTiles();
    bool ReadBlockRows(int64_t Offset, int64_t Count, int32_t Rows, int32_t DecodeWidth, int32_t Width, TPoint Origin,
                       const std::function<uint8_t*(int32_t)>& Target);
    void StoreAlpha(const uint8_t* Row, int32_t Width, TPoint Origin);
    bool ReadOldJpeg();
    void PrepareBitmap(TPixelFormat Format);
    void ClearRowsFrom(int32_t Row);
    bool ReadJpegBlocks();
    bool ReadJpegBlock(int64_t Offset, int64_t Count, TPoint Origin);

    TStream& FS;
    TBitmap& FB;
    TIOParamsVals& FP;
    TProgressRec& FProgress;
    TDirectory& FD;
    TLayout& FL;
    TIEMask* FMask; // given and the file has unassociated alpha
    std::vector<uint8_t> FJpegTables;
    bool FReused = false;
    intptr_t FLzwState = 0;
};

// The fourth sample of unassociated alpha goes to the mask, which is allocated (and so
// no longer full) on the first row.
void TTiffReader::StoreAlpha(const uint8_t* Row, int32_t Width, TPoint Origin)
{
    if (FMask->Width() != FL.Width || FMask->Height() != FL.Height)
        FMask->AllocateBits(FL.Width, FL.Height, 8);
    if (Origin.Y >= FL.Height)
        return;
    for (int32_t x = 0; x < Width && Origin.X + x < FL.Width; ++x)
        FMask->SetPixel(Origin.X + x, Origin.Y, Row[x * 4 + 3]);
}

// The strips or tiles that both lists locate; a byte-count tag present but unreadable
// (a type other than BYTE, SHORT or LONG) locates none.
int64_t TTiffReader::BlocksListed(const std::vector<uint32_t>& Offsets, const std::vector<uint32_t>& Counts,
                                  uint16_t CountsTag) const
{
    const int64_t n = int64_t(Offsets.size());
    return FD.Has(CountsTag) ? std::min(n, int64_t(Counts.size())) : n;
}

bool TTiffReader::RowDone()
{
    ++FProgress.Counter;
    FProgress.Report();
    return !FProgress.IsAborting();
}

// Count bytes at Offset (0: the rest of the stream), clamped to what the stream holds,
// followed by zero padding. An offset past the end fails.
bool TTiffReader::ReadBlock(int64_t Offset, int64_t Count, std::vector<uint8_t>& Out)
{
    const int64_t left = FD.End() - (FD.Base() + Offset);
    if (Offset < 0 || left < 0)
        return false;
    if (Count <= 0 || Count > left)
        Count = left;
    Out.assign(size_t(Count + StripPadding), 0);
    FS.Seek(FD.Base() + Offset, soBeginning);
    return FS.Read(Out.data(), Count) == Count;
}

bool TTiffReader::Decompress(const std::vector<uint8_t>& In, int64_t InCount, std::vector<uint8_t>& Out,
                             int64_t OutCount, int64_t& Produced)
{
    // No more than the input can expand to is allocated: a forged size in a tiny file
    // stays tiny. (An LZW code of 9 bits or more stands for at most 4094 bytes.)
    const int64_t expansion = FL.Compression == 1 ? 1 : FL.Compression == 32773 ? 128 : 4096;
    OutCount = std::min(OutCount, InCount * expansion);
    Out.assign(size_t(OutCount + StripPadding), 0);
    switch (FL.Compression) {
    case 1:
        Produced = std::min(InCount, OutCount);
        std::memcpy(Out.data(), In.data(), size_t(Produced));
        return true;
    case 32773: Produced = PackBitsDecode(In.data(), InCount, Out.data(), OutCount); return true;
    case 5: {
        if (!FP.TiffLzwDecompress)
            return false;
        Produced = FP.TiffLzwDecompress(In.data(), InCount, Out.data(), OutCount, FLzwState);
        FP.TiffLzwDecompress(nullptr, 0, nullptr, 0, FLzwState);
        return Produced >= 0;
    }
    default: return false;
    }
}

// Decodes the first Rows rows of a strip or tile whose rows hold DecodeWidth pixels and
// hands the first Width pixels of each, converted, to Target (the bitmap row, or a tile
// row buffer).
bool TTiffReader::ReadBlockRows(int64_t Offset, int64_t Count, int32_t Rows, int32_t DecodeWidth, int32_t Width,
                                TPoint Origin, const std::function<uint8_t*(int32_t)>& Target)
{
    std::vector<uint8_t> in;
    if (!ReadBlock(Offset, Count, in))
        return Fail();
    const int64_t inCount = int64_t(in.size()) - StripPadding;
    std::vector<uint8_t> unpacked(NeedsUnpack(FL) ? size_t(Width) + 8 : 0);
    auto convert = [&](const uint8_t* row, int32_t r) {
        const uint8_t* src = row;
        if (NeedsUnpack(FL)) {
            UnpackRow(row, unpacked.data(), Width, FL.Bps);
            src = unpacked.data();
        }
        ConvertRow(FL, src, Target(r), Width);
        if (FMask)
            StoreAlpha(src, Width, TPoint{Origin.X, Origin.Y + r});
    };
    // Fill order 2 stores each byte's bits backwards, whatever the compression.
    if (FL.FillOrder == 2)
        ReverseBitsInPlace(in.data(), inCount);
    if (IsCcitt(FL.Compression)) {
        const TCcittCoding coding = FL.Compression == 2   ? ccModifiedHuffman
                                    : FL.Compression == 4 ? ccGroup4
                                    : (FL.T4Options & 1)  ? ccGroup3TwoD
                                                          : ccGroup3OneD;
        TCcittDecoder decoder(coding, DecodeWidth);
        decoder.StartStrip(in.data(), inCount);
        std::vector<uint8_t> row(size_t(FL.RowBytes) + 8);
        for (int32_t r = 0; r < Rows; ++r) {
            if (!decoder.DecodeRow(row.data()))
                return Fail();
            convert(row.data(), r);
            if (!RowDone())
                return false;
        }
        return true;
    }
    std::vector<uint8_t> out;
    int64_t produced = 0;
    if (!Decompress(in, inCount, out, int64_t(Rows) * FL.RowBytes, produced))
        return Fail();
    for (int32_t r = 0; r < Rows; ++r) {
        if (int64_t(r + 1) * FL.RowBytes > produced)
            return Fail(); // a short strip fails its row
        uint8_t* row = out.data() + int64_t(r) * FL.RowBytes;
        if (PredictorApplies(FL))
            UndoPredictor(row, Width, FL.Spp, FL.Bps, FL.Big);
        convert(row, r);
        if (!RowDone())
            return false;
    }
    return true;
}

bool TTiffReader::ReadStrips()
{
    const std::vector<uint32_t> offsets = FD.Array(tagStripOffsets);
    const std::vector<uint32_t> counts = FD.Array(tagStripByteCounts);
    int64_t rps = FD.Int(tagRowsPerStrip, FL.Height);
    if (rps <= 0 || rps > FL.Height)
        rps = FL.Height;
    const int64_t needed = (FL.Height + rps - 1) / rps;
    const int64_t strips = std::min(needed, BlocksListed(offsets, counts, tagStripByteCounts));
    if (FD.Bad())
        return Fail();
    for (int64_t s = 0; s < strips; ++s) {
        const int32_t top = int32_t(s * rps);
        const int32_t rows = int32_t(std::min<int64_t>(rps, FL.Height - top));
        const int64_t count = s < int64_t(counts.size()) ? counts[size_t(s)] : 0;
        if (!ReadBlockRows(offsets[size_t(s)], count, rows, FL.Width, FL.Width, TPoint{0, top},
                           [&](int32_t r) { return FB.ScanLine(top + r); }))
            return false;
    }
    // Strips the directory does not locate leave their rows unread.
    return strips == needed || Fail();
}

// Three groups of strips, the red, green and blue planes, merged row by row.
bool TTiffReader::ReadPlanarStrips()
{
    const std::vector<uint32_t> offsets = FD.Array(tagStripOffsets);
    const std::vector<uint32_t> counts = FD.Array(tagStripByteCounts);
    int64_t rps = FD.Int(tagRowsPerStrip, FL.Height);
    if (rps <= 0 || rps > FL.Height)
        rps = FL.Height;
    const int64_t perPlane = (FL.Height + rps - 1) / rps;
    if (FD.Bad() || FL.Conversion != cvRgb8 || FL.Spp != 3 || int64_t(offsets.size()) != 3 * perPlane ||
        (FD.Has(tagStripByteCounts) && counts.size() != offsets.size()))
        return Fail();
    for (int64_t s = 0; s < perPlane; ++s) {
        const int32_t top = int32_t(s * rps);
        const int32_t rows = int32_t(std::min<int64_t>(rps, FL.Height - top));
        std::vector<uint8_t> planes[3];
        for (int32_t c = 0; c < 3; ++c) {
            const size_t i = size_t(s + c * perPlane);
            std::vector<uint8_t> in;
            int64_t produced = 0;
            if (!ReadBlock(offsets[i], i < counts.size() ? counts[i] : 0, in))
                return Fail();
            const int64_t inCount = int64_t(in.size()) - StripPadding;
            if (FL.FillOrder == 2)
                ReverseBitsInPlace(in.data(), inCount);
            if (!Decompress(in, inCount, planes[c], int64_t(rows) * FL.Width, produced) ||
                produced < int64_t(rows) * FL.Width)
                return Fail();
            if (PredictorApplies(FL))
                for (int32_t r = 0; r < rows; ++r)
                    UndoPredictor(planes[c].data() + int64_t(r) * FL.Width, FL.Width, 1, 8, FL.Big);
        }
        for (int32_t r = 0; r < rows; ++r) {
            uint8_t* d = FB.ScanLine(top + r);
            const int64_t at = int64_t(r) * FL.Width;
            for (int32_t x = 0; x < FL.Width; ++x, d += 3)
                PutBgr(d, planes[0][size_t(at + x)], planes[1][size_t(at + x)], planes[2][size_t(at + x)]);
            if (!RowDone())
                return false;
        }
    }
    return true;
}

// Tiles are decoded into their own rows and copied clipped into the bitmap.
bool TTiffReader::ReadTiles()
{
    const int64_t tw = FD.Int(tagTileWidth, -1), th = FD.Int(tagTileLength, -1);
    if (tw <= 0 || th <= 0 || tw > MaxPixelSide || th > MaxPixelSide || FL.Planar != 1 || !PixelBufferSizeOk(tw, th))
        return Fail();
    const std::vector<uint32_t> offsets = FD.Array(tagTileOffsets);
    const std::vector<uint32_t> counts = FD.Array(tagTileByteCounts);
    const int64_t across = (FL.Width + tw - 1) / tw, down = (FL.Height + th - 1) / th;
    const int64_t tiles = std::min(across * down, BlocksListed(offsets, counts, tagTileByteCounts));
    if (FD.Bad())
        return Fail();
    const bool bilevel = FL.Conversion == cvBilevel;
    FL.RowBytes = (int64_t(FL.Spp) * tw * FL.Bps + 7) / 8;
    // Only the part of a tile inside the picture is decoded and kept: tiles far larger
    // than a small picture cost no more than the picture.
    const int64_t keptW = std::min<int64_t>(tw, FL.Width), keptH = std::min<int64_t>(th, FL.Height);
    const int64_t outRow = bilevel ? (keptW + 7) / 8 : keptW * 3;
    std::vector<uint8_t> rows(size_t(outRow * keptH + 8));
    const double factor = FProgress.Factor;
    FProgress.Factor = factor / double(across); // every tile row advances the counter
    for (int64_t t = 0; t < tiles; ++t) {
        const int64_t x0 = (t % across) * tw, y0 = (t / across) * th;
        const int64_t w = std::min<int64_t>(tw, FL.Width - x0), h = std::min<int64_t>(th, FL.Height - y0);
        if (!ReadBlockRows(offsets[size_t(t)], t < int64_t(counts.size()) ? counts[size_t(t)] : 0, int32_t(h),
                           int32_t(tw), int32_t(w), TPoint{int32_t(x0), int32_t(y0)},
                           [&](int32_t r) { return rows.data() + r * outRow; }))
            return false;
        for (int64_t r = 0; r < h; ++r) {
            uint8_t* d = FB.ScanLine(int32_t(y0 + r));
            if (bilevel)
                CopyBitRun(d, rows.data() + r * outRow, x0, w, 0);
            else
                std::memcpy(d + x0 * 3, rows.data() + r * outRow, size_t(w * 3));
        }
    }
    FProgress.Factor = factor;
    return tiles == across * down || Fail();
}

// Old-style JPEG: the interchange stream is read whole by the JPEG reader.
bool TTiffReader::ReadOldJpeg()
{
    const int64_t offset = FD.Int(tagJpegInterchange, -1);
    const int64_t left = FD.End() - (FD.Base() + offset);
    if (offset < 0 || left <= 0)
        return Fail();
    const int64_t length = std::min<int64_t>(FD.Int(tagJpegInterchangeLength, left), left);
    std::vector<uint8_t> data;
    if (length <= 0 || !ReadBlock(offset, length, data))
        return Fail();
    TReadOnlyMemoryStream mem(data.data(), length);
    TIOParamsVals temp(nullptr);
    if (!ReadEmbeddedJpeg(mem, FB, temp, FProgress))
        return Fail();
    return !FProgress.IsAborting();
}

// New-style JPEG: each strip or tile is a JPEG stream that may leave its tables to the
// JPEGTables tag; the two are joined (the tables' EOI and the strip's SOI dropped) and
// read by the JPEG reader, and its rows are copied clipped into the bitmap.
bool TTiffReader::ReadJpegBlock(int64_t Offset, int64_t Count, TPoint Origin)
{
    std::vector<uint8_t> strip;
    if (!ReadBlock(Offset, Count, strip))
        return Fail();
    strip.resize(strip.size() - size_t(StripPadding));
    std::vector<uint8_t> stream = FJpegTables;
    if (stream.size() >= 4 && stream[stream.size() - 2] == 0xFF && stream[stream.size() - 1] == 0xD9 &&
        strip.size() >= 2 && strip[0] == 0xFF && strip[1] == 0xD8) {
        stream.resize(stream.size() - 2);
        stream.insert(stream.end(), strip.begin() + 2, strip.end());
    } else {
        stream = std::move(strip);
    }
    TReadOnlyMemoryStream mem(stream.data(), int64_t(stream.size()));
    TIOParamsVals temp(nullptr);
    TBitmap block;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    if (!ReadEmbeddedJpeg(mem, block, temp, progress) || aborting || block.Width() < 1)
        return Fail();
    if (block.PixelFormat() != pf24bit)
        block.SetPixelFormat(pf24bit);
    const int32_t w = std::min(block.Width(), FL.Width - Origin.X);
    for (int32_t r = 0; r < block.Height() && Origin.Y + r < FL.Height; ++r) {
        std::memcpy(FB.ScanLine(Origin.Y + r) + int64_t(Origin.X) * 3, block.ScanLine(r), size_t(std::max(w, 0)) * 3);
        if (!RowDone())
            return false;
    }
    return true;
}

bool TTiffReader::ReadJpegBlocks()
{
    if (FL.Bps != 8 || (FL.Spp != 1 && FL.Spp != 3) || FL.Planar != 1)
        return Fail();
    if (const TEntry* e = FD.Find(tagJpegTables))
        FD.Bytes(*e, FJpegTables);
    PrepareBitmap(pf24bit);
    const bool tiled = FD.Has(tagTileWidth);
    const int64_t tw = tiled ? FD.Int(tagTileWidth, 0) : FL.Width;
    int64_t th = tiled ? FD.Int(tagTileLength, 0) : FD.Int(tagRowsPerStrip, FL.Height);
    if (!tiled && (th <= 0 || th > FL.Height))
        th = FL.Height;
    if (tw <= 0 || th <= 0 || tw > MaxPixelSide || th > MaxPixelSide)
        return Fail();
    const std::vector<uint32_t> offsets = FD.Array(tiled ? tagTileOffsets : tagStripOffsets);
    const std::vector<uint32_t> counts = FD.Array(tiled ? tagTileByteCounts : tagStripByteCounts);
    const int64_t across = (FL.Width + tw - 1) / tw, down = (FL.Height + th - 1) / th;
    const int64_t blocks =
        std::min(across * down, BlocksListed(offsets, counts, tiled ? tagTileByteCounts : tagStripByteCounts));
    if (FD.Bad())
        return Fail();
    for (int64_t b = 0; b < blocks; ++b)
        if (!ReadJpegBlock(offsets[size_t(b)], b < int64_t(counts.size()) ? counts[size_t(b)] : 0,
                           TPoint{int32_t((b % across) * tw), int32_t((b / across) * th)}))
            return false;
    return blocks == across * down || Fail();
}

void TTiffReader::ReadPixels()
{
    if (FL.Compression == 6 && FD.Has(tagJpegInterchange)) {
        ReadOldJpeg();
        return;
    }
    if (FL.Width < 1 || FL.Height < 1 || !PixelBufferSizeOk(FL.Width, FL.Height)) {
        Fail();
        return;
    }
    FProgress.Factor = 100.0 / FL.Height;
    FProgress.Counter = 0;
    if (FL.Compression == 7) {
        if (!ReadJpegBlocks() && FReused)
            ClearRowsFrom(0);
        return;
    }
    const bool known = FL.Compression == 1 || IsCcitt(FL.Compression) || FL.Compression == 5 || FL.Compression == 32773;
    if (!known || FL.Conversion == cvNone || (IsCcitt(FL.Compression) && FL.Conversion != cvBilevel)) {
        Fail();
        return;
    }
    PrepareBitmap(FL.Conversion == cvBilevel ? pf1bit : pf24bit);
    const bool tiled = FD.Has(tagTileWidth) || FD.Has(tagTileLength);
    const bool ok = tiled ? ReadTiles() : FL.Planar == 2 ? ReadPlanarStrips() : ReadStrips();
    // Strips fill rows from the top; a reused bitmap loses its old rows below them.
    if (!ok && FReused)
        ClearRowsFrom(tiled ? 0 : FProgress.Counter);
}

// A bitmap of the same format and size from an earlier read is decoded into as it is:
// fresh pages cost as much as the fax decoder itself.
void TTiffReader::PrepareBitmap(TPixelFormat Format)
{
    FReused = FB.PixelFormat() == Format && FB.Width() == FL.Width && FB.Height() == FL.Height;
    if (FReused)
        return;
    FB.SetSize(1, 1);
    FB.SetPixelFormat(Format);
    FB.SetSize(FL.Width, FL.Height);
}

void TTiffReader::ClearRowsFrom(int32_t Row)
{
    for (int32_t y = std::max(Row, 0); y < FB.Height(); ++y)
        std::memset(FB.ScanLine(y), 0, size_t(FB.BytesPerScanLine()));
}

// Orientation 2..8, applied after reading.
void ApplyOrientation(TBitmap& B, int32_t Orientation)
{
    auto turn = [&](bool clockwise) {
        TBitmap turned;
        if (clockwise)
            Rotate90Right(B, turned);
        else
            Rotate90Left(B, turned);
        CopyBitmap(turned, B);
    };
    switch (Orientation) {
    case 2: IEFlip(B, fdHorizontal); break;
    case 3:
        IEFlip(B, fdHorizontal);
        IEFlip(B, fdVertical);
        break;
    case 4: IEFlip(B, fdVertical); break;
    case 5:
        turn(true);
        IEFlip(B, fdHorizontal);
        break;
    case 6: turn(true); break;
    case 7:
        turn(true);
        IEFlip(B, fdVertical);
        break;
    case 8: turn(false); break;
    default: break;
    }
}

int32_t CompressionToParams(int32_t Compression, int32_t T4Options)
{
    switch (Compression) {
    case 1: return 0;
    case 2: return 1;
    case 3: return (T4Options & 1) ? 3 : 2;
    case 4: return 4;
    case 5: return 5;
    case 6: return 6;
    case 7: return 7;
    case 32773: return 8;
    default: return 9;
    }
}

// Walks the directory chain (ending at 0, a repeat, an offset past the end, or 65536
// directories), loading the directory Index. Returns false when it was not found.
bool WalkDirectories(TDirectory& d, int64_t First, int32_t Index, int32_t& Count)
{
    std::set<int64_t> visited;
    bool loaded = false;
    int64_t offset = First;
    Count = 0;
    while (offset != 0 && Count < MaxDirectories && visited.insert(offset).second) {
        uint8_t head[2];
        if (!d.ReadAt(offset, head, 2))
            break;
        const int64_t n = d.U16(head);
        if (Count == Index)
            loaded = d.Load(offset);
        ++Count;
        uint8_t next[4];
        if (!d.ReadAt(offset + 2 + n * 12, next, 4))
            break;
        offset = d.U32(next);
    }
    return loaded;
}

void ReadColorMap(TDirectory& d, TLayout& l, TIOParamsVals& p)
{
    for (int32_t i = 0; i < 256; ++i)
        l.Map[i] = TRGB{};
    const int32_t entries = l.Bps <= 8 ? 1 << l.Bps : 0;
    const std::vector<uint32_t> map = d.Array(tagColorMap);
    if (entries && int64_t(map.size()) >= 3 * int64_t(entries)) {
        for (int32_t i = 0; i < entries; ++i)
            l.Map[i] = CreateRGB(uint8_t(map[size_t(i)] >> 8), uint8_t(map[size_t(entries + i)] >> 8),
                                 uint8_t(map[size_t(2 * entries + i)] >> 8));
        p.SetColorMap(l.Map, entries);
    } else if (entries > 1) {
        for (int32_t i = 0; i < entries; ++i) {
            const uint8_t v = uint8_t(i * 255 / (entries - 1));
            l.Map[i] = CreateRGB(v, v, v);
        }
    }
}

// The tags into Params and the layout; false when the file cannot be read further.
bool ReadTags(TDirectory& d, TIOParamsVals& p, TLayout& l)
{
    l.Width = int32_t(std::clamp<int64_t>(d.Int(tagImageWidth, 0), 0, INT32_MAX));
    l.Height = int32_t(std::clamp<int64_t>(d.Int(tagImageLength, 0), 0, INT32_MAX));
    l.Spp = int32_t(std::clamp<int64_t>(d.Int(tagSamplesPerPixel, 1), 0, 65535));
    l.Bps = 1;
    if (d.Has(tagBitsPerSample)) {
        std::vector<uint32_t> bits = d.Array(tagBitsPerSample);
        if (!bits.empty())
            l.Bps = int32_t(std::min<uint32_t>(bits[0], 65535));
        for (uint32_t v : bits)
            if (int32_t(v) != l.Bps)
                return false;
    }
    l.Compression = int32_t(d.Int(tagCompression, 1));
    l.Photometric = int32_t(d.Int(tagPhotometric, 2));
    l.FillOrder = int32_t(d.Int(tagFillOrder, 1));
    l.Planar = int32_t(d.Int(tagPlanarConfig, 1));
    l.Predictor = int32_t(d.Int(tagPredictor, 1));
    l.T4Options = int32_t(d.Int(tagT4Options, 0));
    l.ExtraSamples = int32_t(d.Int(tagExtraSamples, 0));
    l.Big = d.Big();
    l.Molli = d.Ascii(tagSoftware).compare(0, 15, "Look@Molli v1.1") == 0;
    if (l.Spp == 1 && l.Bps == 1 && l.Photometric == 2 && l.Compression >= 1 && l.Compression <= 4)
        l.Photometric = 0;

    p.Width = l.Width;
    p.Height = l.Height;
    p.BitsPerSample = l.Bps;
    p.SamplesPerPixel = l.Spp;
    p.DpiX = SaneDpi(d.Value(tagXResolution, 0));
    p.DpiY = SaneDpi(d.Value(tagYResolution, 0));
    p.TiffCompression = CompressionToParams(l.Compression, l.T4Options);
    p.TiffPhotometInterpret = l.Photometric == 8 ? 7 : std::clamp(l.Photometric, 0, 6);
    p.TiffPlanarConf = l.Planar;
    p.TiffFillOrder = l.FillOrder;
    p.TiffXPos = ClampInt(int64_t(std::clamp(d.Value(tagXPosition, 0), -2147483648.0, 2147483647.0)));
    p.TiffYPos = ClampInt(int64_t(std::clamp(d.Value(tagYPosition, 0), -2147483648.0, 2147483647.0)));
    p.TiffDocumentName = d.Ascii(tagDocumentName);
    p.TiffImageDescription = d.Ascii(tagImageDescription);
    p.TiffPageName = d.Ascii(tagPageName);
    p.TiffPageNumber = ClampInt(d.Int(tagPageNumber, 0, 0));
    p.TiffPageCount = ClampInt(d.Int(tagPageNumber, 0, 1));
    p.TiffByteOrder = d.Big() ? 2 : 1;
    ReadColorMap(d, l, p);
    ReadMoreTiffTags(d, l.Bps, p.TiffMore);
    ReadExifTags(d, p);
    // EXIF is metadata: a sub-directory that cannot be read is skipped, never a reason
    // to refuse the picture.
    if (d.Has(tagExifIfd)) {
        TDirectory exif(d.Stream(), d.Base(), d.Big());
        if (exif.Load(d.Int(tagExifIfd, -1)))
            ReadExifTags(exif, p);
    }
    l.Conversion = ChooseConversion(l);
    if (l.Conversion != cvNone)
        l.RowBytes = l.Planar == 2 ? int64_t(l.Width) * l.Bps / 8 : (int64_t(l.Spp) * l.Width * l.Bps + 7) / 8;
    return !d.Bad();
}

} // namespace

void ReadTiff(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress,
              const TTiffReadOptions& Options)
{
    const int64_t start = Stream.Position();
    uint8_t head[8];
    if (Stream.Read(head, 8) != 8 || !((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'))) {
        Progress.SetAborting();
        return;
    }
    TDirectory dir(Stream, Options.Offsets == tobStreamStart ? 0 : start, head[0] == 'M');
    int32_t count = 0;
    const bool found = WalkDirectories(dir, dir.U32(head + 4), Params.TiffImageIndex, count);
    Params.TiffImageCount = count;
    TLayout layout;
    if (!found || !ReadTags(dir, Params, layout)) {
        Progress.SetAborting();
        return;
    }
    if (ParamsOnly)
        return;
    TTiffReader reader(Stream, Bitmap, Params, Progress, dir, layout, Options.Mask);
    reader.ReadPixels();
    if (!Progress.IsAborting())
        ApplyOrientation(Bitmap, int32_t(dir.Int(tagOrientation, 1)));
}

// ---- PackBits and plain CMYK --------------------------------------------------------

void PackBitsEncodeRow(const uint8_t* Row, int64_t Count, std::vector<uint8_t>& Out)
{
    std::vector<uint8_t> literal;
    auto flush = [&] {
        if (literal.empty())
            return;
        Out.push_back(uint8_t(literal.size() - 1));
        Out.insert(Out.end(), literal.begin(), literal.end());
        literal.clear();
    };
    int64_t i = 0;
    while (i < Count) {
        int64_t run = 1;
        while (i + run < Count && run < 128 && Row[i + run] == Row[i])
            ++run;
        if (run >= 4) {
            flush();
            Out.push_back(uint8_t(1 - run));
            Out.push_back(Row[i]);
            i += run;
            continue;
        }
        for (int64_t k = 0; k < run; ++k) {
            literal.push_back(Row[i + k]);
            if (literal.size() == 128)
                flush();
        }
        i += run;
    }
    flush();
}

int64_t PackBitsDecode(const uint8_t* Data, int64_t Count, uint8_t* Out, int64_t OutCount)
{
    int64_t in = 0, out = 0;
    while (in < Count && out < OutCount) {
        const int32_t n = int8_t(Data[in++]);
        if (n >= 0) {
            const int64_t len = std::min<int64_t>({n + 1, Count - in, OutCount - out});
            std::memcpy(Out + out, Data + in, size_t(len));
            in += n + 1;
            out += len;
        } else if (n != -128) {
            if (in >= Count)
                break;
            const int64_t len = std::min<int64_t>(1 - n, OutCount - out);
            std::memset(Out + out, Data[in++], size_t(len));
            out += len;
        }
    }
    return out;
}

void RgbToPlainCmyk(uint8_t R, uint8_t G, uint8_t B, uint8_t* Cmyk)
{
    const int32_t m = std::max({R, G, B});
    const int32_t div = m ? m : 1;
    Cmyk[0] = uint8_t(255 - R * 255 / div);
    Cmyk[1] = uint8_t(255 - G * 255 / div);
    Cmyk[2] = uint8_t(255 - B * 255 / div);
    Cmyk[3] = uint8_t(255 - m);
}

TRGB PlainCmykToRgb(const uint8_t* Cmyk)
{
    const int32_t k = 255 - Cmyk[3];
    return CreateRGB(uint8_t(k * (255 - Cmyk[0]) / 255), uint8_t(k * (255 - Cmyk[1]) / 255),
                     uint8_t(k * (255 - Cmyk[2]) / 255));
}

// ---- Writer -----------------------------------------------------------------------

namespace {

struct TOutEntry {
    uint16_t Tag, Type;
    uint32_t Count;
    uint32_t Value; // the value itself (SHORTs left-justified) or its offset
};

class TTiffWriter {
public:
    TTiffWriter(TStream& S, TIOParamsVals& P, TProgressRec& Pr, int64_t Base)
        : FS(S), FP(P), FProgress(Pr), FStart(S.Position()), FBase(Base)
    {
    }
    void Write(TBitmap& Bitmap);

private:
    bool Put(const void* Data, int64_t Count)
    {
        if (Count > 0 && FS.Write(Data, Count) != Count) {
            FProgress.SetAborting();
            return false;
        }
        return true;
    }
    uint32_t Here() { return uint32_t(FS.Position() - FBase); }
    void Add(uint16_t Tag, uint16_t Type, uint32_t Count, uint32_t Value)
    {
        FEntries.push_back({Tag, Type, Count, Value});
    }
    void AddShort(uint16_t Tag, uint16_t V) { Add(Tag, ttShort, 1, V); }
    void AddLong(uint16_t Tag, uint32_t V) { Add(Tag, ttLong, 1, V); }
    void AddString(uint16_t Tag, const std::string& S)
    {
        if (S.empty())
            return;
        const uint32_t at = Here();
        Put(S.c_str(), int64_t(S.size()) + 1);
        Add(Tag, ttAscii, uint32_t(S.size() + 1), S.size() + 1 <= 4 ? Inline(S) : at);
    }
    static uint32_t Inline(const std::string& S)
    {
        uint8_t b[4] = {};
        std::memcpy(b, S.c_str(), S.size() + 1);
        return GetU32LE(b);
    }
    void AddRational(uint16_t Tag, uint32_t Num, uint32_t Den)
    {
        const uint32_t at = Here();
        uint8_t b[8];
        PutU32LE(b, Num);
        PutU32LE(b + 4, Den);
        Put(b, 8);
        Add(Tag, ttRational, 1, at);
    }
    void WriteRows(TBitmap& Source, bool OneBit);
    void WriteDirectory();

    TStream& FS;
    TIOParamsVals& FP;
    TProgressRec& FProgress;
    int64_t FStart; // where the header goes
    int64_t FBase;  // what offsets count from
    std::vector<TOutEntry> FEntries;
    int32_t FCompression = 1, FPhotometric = 2, FSpp = 3, FBps = 8, FPredictor = 1, FT4 = -1;
    TRGB FPalette[256];
    std::unique_ptr<TIEQuantizer> FQuantizer;
    TIETiffLzwCompressProc FLzw = nullptr;
};

void TTiffWriter::WriteRows(TBitmap& Source, bool OneBit)
{
    const int32_t w = Source.Width(), h = Source.Height();
    FProgress.Factor = 100.0 / h;
    std::vector<uint8_t> out;
    intptr_t lzw = 0;
    std::unique_ptr<TCcittEncoder> fax;
    if (OneBit && IsCcitt(FCompression))
        fax = std::make_unique<TCcittEncoder>(FCompression == 2   ? ccModifiedHuffman
                                              : FCompression == 4 ? ccGroup4
                                              : FT4 == 1          ? ccGroup3TwoD
                                                                  : ccGroup3OneD,
                                              w);
    const int32_t samples = FPhotometric == 3 ? 1 : FPhotometric == 5 ? 4 : 3;
    const int64_t rowBytes = OneBit ? (int64_t(w) + 7) / 8 : (int64_t(w) * FBps * samples + 7) / 8;
    std::vector<uint8_t> row(size_t(OneBit ? rowBytes + 4 : int64_t(w) * samples + 4));
    for (int32_t y = 0; y < h; ++y) {
        if (FProgress.OnProgress)
            FProgress.OnProgress(FProgress.Sender, int32_t(y * FProgress.Factor));
        const uint8_t* s = Source.ScanLine(y);
        if (OneBit) {
            std::memcpy(row.data(), s, size_t(rowBytes));
        } else if (FPhotometric == 3) {
            std::fill(row.begin(), row.end(), 0);
            for (int32_t x = 0; x < w; ++x, s += 3) {
                const uint8_t index = uint8_t(FQuantizer->QuantizerColorIndex(CreateRGB(s[2], s[1], s[0])));
                if (FBps == 8)
                    row[size_t(x)] = index;
                else {
                    const int64_t bit = int64_t(x) * FBps;
                    row[size_t(bit >> 3)] |= uint8_t(index << (8 - FBps - (bit & 7)));
                }
            }
        } else {
            uint8_t* d = row.data();
            for (int32_t x = 0; x < w; ++x, s += 3) {
                if (FPhotometric == 5) {
                    RgbToPlainCmyk(s[2], s[1], s[0], d);
                    d += 4;
                } else if (FPhotometric == 8) {
                    const TCIELab lab = IERGB2Lab(CreateRGB(s[2], s[1], s[0]));
                    *d++ = uint8_t(std::clamp(lab.L * 255.0 / 100.0 + 0.5, 0.0, 255.0));
                    *d++ = uint8_t(int8_t(std::lround(std::clamp(lab.a, -128.0, 127.0))));
                    *d++ = uint8_t(int8_t(std::lround(std::clamp(lab.b, -128.0, 127.0))));
                } else {
                    *d++ = s[2];
                    *d++ = s[1];
                    *d++ = s[0];
                }
            }
            if (FPredictor == 2)
                for (int64_t i = int64_t(w) * 3 - 1; i >= 3; --i)
                    row[size_t(i)] = uint8_t(row[size_t(i)] - row[size_t(i - 3)]);
        }
        out.clear();
        bool ok = true;
        if (fax) {
            fax->EncodeRow(row.data());
            fax->TakeBytes(out);
        } else if (FCompression == 5) {
            ok = FLzw(row.data(), rowBytes, FS, lzw);
        } else if (FCompression == 32773) {
            PackBitsEncodeRow(row.data(), rowBytes, out);
        } else {
            out.assign(row.begin(), row.begin() + rowBytes);
        }
        if (!ok)
            FProgress.SetAborting();
        else
            Put(out.data(), int64_t(out.size()));
        if (FProgress.IsAborting())
            break;
    }
    // The end-of-image calls run after an abort too.
    out.clear();
    if (fax) {
        fax->Finish();
        fax->TakeBytes(out);
        Put(out.data(), int64_t(out.size()));
    }
    if (FCompression == 5 && !FLzw(nullptr, 0, FS, lzw))
        FProgress.SetAborting();
}

void TTiffWriter::WriteDirectory()
{
    std::stable_sort(FEntries.begin(), FEntries.end(),
                     [](const TOutEntry& a, const TOutEntry& b) { return a.Tag < b.Tag; });
    if (Here() & 1) {
        const uint8_t zero = 0;
        if (!Put(&zero, 1))
            return;
    }
    const uint32_t ifd = Here();
    const int64_t end = FS.Position();
    uint8_t head[8] = {'I', 'I', 42, 0};
    PutU32LE(head + 4, ifd);
    FS.Seek(FStart, soBeginning);
    if (!Put(head, 8))
        return;
    FS.Seek(end, soBeginning);
    std::vector<uint8_t> d(2 + FEntries.size() * 12 + 4, 0);
    PutU16LE(d.data(), uint16_t(FEntries.size()));
    for (size_t i = 0; i < FEntries.size(); ++i) {
        uint8_t* e = d.data() + 2 + i * 12;
        const TOutEntry& o = FEntries[i];
        PutU16LE(e, o.Tag);
        PutU16LE(e + 2, o.Type);
        PutU32LE(e + 4, o.Count);
        if (o.Type == ttShort && o.Count == 1)
            PutU16LE(e + 8, uint16_t(o.Value));
        else
            PutU32LE(e + 8, o.Value);
    }
    Put(d.data(), int64_t(d.size()));
}

void TTiffWriter::Write(TBitmap& Bitmap)
{
    TIOParamsVals& p = FP;
    const bool oneBit = p.SamplesPerPixel == 1 && p.BitsPerSample == 1;
    TBitmap converted;
    TBitmap* source = &Bitmap;
    // At 1 bit a picture of two colours keeps them apart, the darker as 0 (black), as
    // the other writers' two-colour conversion gives them; any other is dithered.
    TIEPreparedPicture bilevel;
    if (oneBit && Bitmap.PixelFormat() != pf1bit) {
        bilevel = IEPrepare1Bit(Bitmap, FProgress);
        source = bilevel.Owned.get();
    } else if (!oneBit && Bitmap.PixelFormat() != pf24bit) {
        CopyBitmapTo24Bit(Bitmap, converted, nullptr);
        source = &converted;
    }
    const int32_t w = source->Width(), h = source->Height();
    if (w < 1 || h < 1) {
        FProgress.SetAborting();
        return;
    }
    // Choices from the parameters.
    if (oneBit) {
        FSpp = 1;
        FBps = 1;
        FPhotometric = 1; // rows as they stand: a set bit is white
    } else if (p.SamplesPerPixel == 1 && p.BitsPerSample >= 2 && p.BitsPerSample <= 8) {
        FSpp = 1;
        FBps = p.BitsPerSample;
        FPhotometric = 3;
        p.TiffPhotometInterpret = 3;
        if (p.TiffCompression != 5 && p.TiffCompression != 8)
            p.TiffCompression = 0;
        for (TRGB& c : FPalette)
            c = TRGB{};
        FQuantizer =
            TIEQuantizer::CreateQuantizer(*source, std::span<TRGB>(FPalette, size_t(1) << FBps), 1 << FBps, -1);
    } else {
        if (p.BitsPerSample != 8) {
            p.BitsPerSample = 8;
            p.SamplesPerPixel = 3;
            p.TiffPhotometInterpret = 2;
        }
        const int32_t ph = p.TiffPhotometInterpret;
        FPhotometric = ph == 5 ? 5 : ph == 7 ? 8 : 2;
        FSpp = FPhotometric == 5 ? 4 : 3;
    }
    switch (p.TiffCompression) {
    case 1: FCompression = oneBit ? 2 : 1; break;
    case 2:
    case 3:
        FCompression = oneBit ? 3 : 1;
        FT4 = oneBit ? (p.TiffCompression == 3 ? 1 : 0) : -1;
        break;
    case 4: FCompression = oneBit ? 4 : 1; break;
    case 5: FCompression = 5; break;
    case 8: FCompression = 32773; break;
    default: FCompression = 1; break;
    }
    if (FCompression == 5) {
        FLzw = p.TiffLzwCompress ? p.TiffLzwCompress : IEGlobalTiffLzwCompress;
        if (!FLzw)
            FCompression = 1; // no coder: written uncompressed, predictor 1
        else if (!oneBit && FPhotometric == 2)
            FPredictor = 2;
    }

    // Header place-holder, then the values that do not fit in an entry.
    const uint8_t placeHolder[8] = {};
    if (!Put(placeHolder, 8))
        return;
    AddLong(tagImageWidth, uint32_t(w));
    AddLong(tagImageLength, uint32_t(h));
    if (FSpp > 2) {
        const uint32_t at = Here();
        uint8_t bits[8];
        for (int32_t i = 0; i < FSpp; ++i)
            PutU16LE(bits + 2 * i, uint16_t(FBps));
        Put(bits, 2 * FSpp);
        Add(tagBitsPerSample, ttShort, uint32_t(FSpp), at);
    } else {
        AddShort(tagBitsPerSample, uint16_t(FBps));
    }
    AddShort(tagCompression, uint16_t(FCompression));
    AddShort(tagPhotometric, uint16_t(FPhotometric));
    AddString(tagDocumentName, p.TiffDocumentName);
    AddString(tagImageDescription, p.TiffImageDescription);
    const uint32_t strip = Here();
    const int64_t stripStart = FS.Position();
    WriteRows(*source, oneBit);
    if (FProgress.IsAborting())
        return; // the place-holder stays and no directory is written
    AddLong(tagStripOffsets, strip);
    AddShort(tagSamplesPerPixel, uint16_t(FSpp));
    AddLong(tagRowsPerStrip, uint32_t(h));
    AddLong(tagStripByteCounts, uint32_t(FS.Position() - stripStart));
    AddRational(tagXResolution, uint32_t(std::max(p.DpiX, 0)), 1);
    AddRational(tagYResolution, uint32_t(std::max(p.DpiY, 0)), 1);
    AddString(tagPageName, p.TiffPageName);
    AddRational(tagXPosition, uint32_t(std::max(p.TiffXPos, 0)) * 10000u, 10000);
    AddRational(tagYPosition, uint32_t(std::max(p.TiffYPos, 0)) * 10000u, 10000);
    AddShort(tagResolutionUnit, 2);
    if (p.TiffPageNumber != 0 || p.TiffPageCount != 0)
        Add(tagPageNumber, ttShort, 2,
            uint32_t(uint16_t(p.TiffPageNumber)) | (uint32_t(uint16_t(p.TiffPageCount)) << 16));
    if (FT4 >= 0)
        AddLong(tagT4Options, uint32_t(FT4));
    if (FPredictor == 2)
        AddShort(tagPredictor, 2);
    if (FPhotometric == 3) {
        const int32_t n = 1 << FBps;
        std::vector<uint8_t> map(size_t(6 * n));
        for (int32_t i = 0; i < n; ++i) {
            PutU16LE(map.data() + 2 * i, uint16_t(FPalette[i].r * 256));
            PutU16LE(map.data() + 2 * (n + i), uint16_t(FPalette[i].g * 256));
            PutU16LE(map.data() + 2 * (2 * n + i), uint16_t(FPalette[i].b * 256));
        }
        const uint32_t at = Here();
        Put(map.data(), int64_t(map.size()));
        Add(tagColorMap, ttShort, uint32_t(3 * n), at);
    }
    if (!FProgress.IsAborting())
        WriteDirectory();
}

} // namespace

void WriteTiff(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, TTiffOffsetBase Offsets)
{
    TTiffWriter writer(Stream, Params, Progress, Offsets == tobStreamStart ? 0 : Stream.Position());
    writer.Write(Bitmap);
}

void LoadTiffFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                        TProgressRec& Progress)
{
    TTiffReadOptions options;
    if (Params.Owner) {
        options.Offsets = Params.Owner->StreamHeaders() ? tobStreamStart : tobFileStart;
        options.Mask = Params.Owner->Mask();
        // Emptied so that the component can tell a mask this file filled from an old one.
        if (options.Mask && !ParamsOnly)
            options.Mask->FreeBits();
    }
    ReadTiff(Stream, Bitmap, Params, ParamsOnly, Progress, options);
}

void SaveTiffToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    WriteTiff(Stream, Bitmap, Params, Progress,
              Params.Owner && Params.Owner->StreamHeaders() ? tobStreamStart : tobFileStart);
}

} // namespace kv
