#include "imaging/IOParams.h"

#include "imaging/ImagingIO.h"
#include "platform/Graphics.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace kv {

TIETiffLzwDecompressProc IEGlobalTiffLzwDecompress = nullptr;
TIETiffLzwCompressProc IEGlobalTiffLzwCompress = nullptr;
TIEGifLzwDecompressProc DefGifLzwDecompress = nullptr;
TIEGifLzwCompressProc DefGifLzwCompress = nullptr;

// ---- TIEMarkerList ---------------------------------------------------------------

int32_t TIEMarkerList::IndexOf(uint8_t Type) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Type == Type)
            return int32_t(i);
    return -1;
}

void TIEMarkerList::AddMarker(uint8_t Type, const void* Data, size_t Length)
{
    TMarker m;
    m.Type = Type;
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    if (p && Length)
        m.Data.assign(p, p + Length);
    FItems.push_back(std::move(m));
}

void TIEMarkerList::SetMarker(int32_t I, uint8_t Type, const void* Data, size_t Length)
{
    TMarker& m = FItems.at(size_t(I));
    m.Type = Type;
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    m.Data.assign(p, p + (p ? Length : 0));
}

void TIEMarkerList::Assign(const TIEMarkerList* Source)
{
    if (!Source || Source == this)
        return;
    FItems = Source->FItems;
}

// ---- TIEIPTCInfoList -------------------------------------------------------------

std::string TIEIPTCInfoList::StringItem(int32_t I) const
{
    const TItem& item = FItems.at(size_t(I));
    return std::string(item.Data.begin(), item.Data.end());
}

int32_t TIEIPTCInfoList::AddItem(int32_t Record, int32_t DataSet, int32_t Length, const void* Data)
{
    TItem item;
    item.Record = Record;
    item.DataSet = DataSet;
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    if (p && Length > 0)
        item.Data.assign(p, p + Length);
    FItems.push_back(std::move(item));
    Modified = true;
    return int32_t(FItems.size()) - 1;
}

void TIEIPTCInfoList::Clear()
{
    FItems.clear();
    Modified = true;
}

void TIEIPTCInfoList::Assign(const TIEIPTCInfoList* Source)
{
    if (!Source)
        return;
    if (Source != this)
        FItems = Source->FItems;
    Modified = true;
}

namespace {

const uint8_t PhotoshopSignature[14] = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};
constexpr size_t IPTCHeaderSize = 26;
constexpr uint16_t IPTCResourceId = 0x0404;

bool HasPhotoshopSignature(const uint8_t* p, int64_t len)
{
    return len >= 14 && std::memcmp(p, PhotoshopSignature, 14) == 0;
}

// One "8BIM" resource of a Photoshop block: signature, id (BE), Pascal name padded to
// an even length, data size (BE), data padded to an even length.
struct TResource {
    uint16_t Id = 0;
    int64_t Start = 0; // of the "8BIM" signature
    int64_t DataStart = 0;
    int64_t DataSize = 0;
    int64_t End = 0; // past the padding
};

// Walks the resource at Pos; false when it does not fit in Len.
bool ReadResource(const uint8_t* p, int64_t len, int64_t pos, TResource& r)
{
    if (pos + 7 > len || std::memcmp(p + pos, "8BIM", 4) != 0)
        return false;
    r.Start = pos;
    r.Id = GetU16BE(p + pos + 4);
    int64_t nameLen = p[pos + 6];
    int64_t q = pos + 6 + ((1 + nameLen + 1) & ~int64_t(1));
    if (q + 4 > len)
        return false;
    r.DataSize = GetU32BE(p + q);
    r.DataStart = q + 4;
    if (r.DataStart + r.DataSize > len)
        return false;
    r.End = std::min(len, r.DataStart + ((r.DataSize + 1) & ~int64_t(1)));
    return true;
}

} // namespace

void TIEIPTCInfoList::SaveToBuffer(std::vector<uint8_t>& Buffer) const
{
    Buffer.assign(PhotoshopSignature, PhotoshopSignature + 14);
    const uint8_t head[12] = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0, 0, 0, 0};
    Buffer.insert(Buffer.end(), head, head + 12);
    for (const TItem& item : FItems) {
        if (item.Record == 2 && item.DataSet == 0)
            continue;
        uint32_t len = uint32_t(item.Data.size());
        Buffer.push_back(0x1C);
        Buffer.push_back(uint8_t(item.Record));
        Buffer.push_back(uint8_t(item.DataSet));
        if (len < 32768) {
            Buffer.push_back(uint8_t(len >> 8));
            Buffer.push_back(uint8_t(len));
        } else {
            const uint8_t ext[6] = {0x80,        0x04, uint8_t(len >> 24), uint8_t(len >> 16), uint8_t(len >> 8),
                                    uint8_t(len)};
            Buffer.insert(Buffer.end(), ext, ext + 6);
        }
        Buffer.insert(Buffer.end(), item.Data.begin(), item.Data.end());
    }
    uint32_t dataSize = uint32_t(Buffer.size() - IPTCHeaderSize);
    if (Buffer.size() & 1)
        Buffer.push_back(0);
    PutU32BE(Buffer.data() + 22, dataSize);
}

void TIEIPTCInfoList::ParseDatasets(const uint8_t* p, int64_t pos, int64_t end)
{
    while (pos + 5 <= end && p[pos] == 0x1C) {
        int32_t record = p[pos + 1];
        int32_t dataSet = p[pos + 2];
        int64_t length;
        int64_t dataStart;
        if (p[pos + 3] < 128) {
            length = GetU16BE(p + pos + 3);
            dataStart = pos + 5;
        } else {
            if (pos + 9 > end)
                return;
            length = GetU32BE(p + pos + 5);
            dataStart = pos + 9;
        }
        if (dataStart + length > end || length > INT32_MAX)
            return;
        AddItem(record, dataSet, int32_t(length), p + dataStart);
        pos = dataStart + length;
    }
}

void TIEIPTCInfoList::LoadFromBuffer(const void* Buffer, int64_t BufferLength)
{
    Clear();
    const uint8_t* p = static_cast<const uint8_t*>(Buffer);
    if (p && BufferLength > 0) {
        if (HasPhotoshopSignature(p, BufferLength)) {
            // A Photoshop block: the size field of the resource header may itself hold
            // a 0x1C, so walk the resources instead of scanning for the first one.
            TResource r;
            for (int64_t pos = 14; ReadResource(p, BufferLength, pos, r); pos = r.End)
                if (r.Id == IPTCResourceId)
                    ParseDatasets(p, r.DataStart, r.DataStart + r.DataSize);
        } else {
            int64_t pos = 0;
            while (pos < BufferLength && p[pos] != 0x1C)
                ++pos;
            if (pos == BufferLength)
                pos = 0;
            ParseDatasets(p, pos, BufferLength);
        }
    }
    Modified = false;
}

std::vector<uint8_t> IEMergeIPTCResource(const uint8_t* OldMarker, size_t OldLength,
                                         const std::vector<uint8_t>& NewBlock)
{
    const int64_t oldLen = int64_t(OldLength);
    if (!OldMarker || !HasPhotoshopSignature(OldMarker, oldLen) || NewBlock.size() < IPTCHeaderSize)
        return NewBlock;
    std::vector<TResource> resources;
    TResource r;
    int64_t pos = 14;
    while (pos < oldLen && ReadResource(OldMarker, oldLen, pos, r)) {
        resources.push_back(r);
        pos = r.End;
    }
    if (pos != oldLen)
        return NewBlock; // not a block we understand to the end: replace it whole
    std::vector<uint8_t> out(OldMarker, OldMarker + 14);
    bool placed = false;
    for (const TResource& res : resources) {
        if (res.Id == IPTCResourceId) {
            if (!placed)
                out.insert(out.end(), NewBlock.begin() + 14, NewBlock.end());
            placed = true;
            continue;
        }
        out.insert(out.end(), OldMarker + res.Start, OldMarker + res.End);
        if ((res.End - res.Start) & 1)
            out.push_back(0);
    }
    if (!placed)
        out.insert(out.end(), NewBlock.begin() + 14, NewBlock.end());
    return out;
}

// ---- TIOParamsVals ---------------------------------------------------------------

double IEDateToday()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    local.tm_hour = 12; // away from DST edges; only the day counts
    local.tm_min = local.tm_sec = 0;
    std::tm base{};
    base.tm_year = -1; // 1899
    base.tm_mon = 11;
    base.tm_mday = 30;
    base.tm_hour = 12;
    base.tm_isdst = local.tm_isdst;
    std::time_t a = timegm(&local);
    std::time_t b = timegm(&base);
    return double((a - b) / 86400);
}

TIOParamsVals::TIOParamsVals(TImagingIO* AOwner) : Owner(AOwner)
{
    ExifThumbnail = std::make_unique<TBitmap>();
    JpegMarkers = std::make_unique<TIEMarkerList>();
    IPTCInfo = std::make_unique<TIEIPTCInfoList>();
    ImageInfo = std::make_unique<TStringList>();
    SetDefaultParams();
}

TIOParamsVals::~TIOParamsVals() = default;

void TIOParamsVals::SetDefaultParams()
{
    BitsPerSample = 8;
    SamplesPerPixel = 3;
    if (Owner && Owner->Bitmap()) {
        Width = Owner->Bitmap()->Width();
        Height = Owner->Bitmap()->Height();
    }
    if (Owner && Owner->AttachedImaging()) {
        DpiX = Owner->AttachedImaging()->XDpi();
        DpiY = Owner->AttachedImaging()->YDpi();
    }
    FileType = 0;
    TiffCompression = 0;
    TiffImageIndex = 0;
    TiffPhotometInterpret = 2;
    TiffPlanarConf = 1;
    TiffXPos = TiffYPos = 0;
    TiffDocumentName.clear();
    TiffImageDescription.clear();
    TiffPageName.clear();
    TiffPageNumber = TiffPageCount = 0;
    TiffFillOrder = 1;
    TiffLzwDecompress = IEGlobalTiffLzwDecompress;
    TiffLzwCompress = IEGlobalTiffLzwCompress;
    TiffByteOrder = 1;
    TiffMore = {};
    GifVersion = "GIF89a";
    GifImageIndex = GifXPos = GifYPos = GifDelayTime = 0;
    GifFlagTranspColor = 0;
    GifTranspColor = TRGB{};
    GifInterlaced = GifWinWidth = GifWinHeight = 0;
    GifBackground = TRGB{};
    GifRatio = 0;
    GifLzwDecompress = DefGifLzwDecompress;
    GifLzwCompress = DefGifLzwCompress;
    JpegColorSpace = 2;
    JpegQuality = 50;
    JpegDctMethod = 0;
    JpegOptimalHuffman = false;
    JpegSmoothing = 0;
    JpegProgressive = false;
    JpegScale = 1;
    JpegMarkers->Clear();
    JpegScaleUsed = 1;
    PcxVersion = 5;
    PcxCompressed = 1;
    BmpVersion = 1;
    BmpCompression = 0;
    IcoIndex = 0;
    IcoBackground = TRGB{255, 255, 255};
    CurIndex = CurHotX = CurHotY = 0;
    CurBackground = TRGB{255, 255, 255};
    PngInterlaced = 0;
    PngBackground = TRGB{};
    PngFilter = 0;
    PngCompression = 5;
    TgaXPos = TgaYPos = 0;
    TgaCompressed = 1;
    TgaImageId.clear();
    TgaAuthor.clear();
    TgaDate = IEDateToday();
    TgaJobName.clear();
    TgaKeyColor = TRGB{};
    TgaAspectRatio = 1.0;
    TgaGamma = 2.2;
    TgaGrayscale = 0;
    Reserved1 = Reserved2 = 0;
    FileName.clear();
    FreeColorMap();
    GifImageCount = 0;
    TiffImageCount = 0;
    IPTCInfo->Clear();
    ImageInfo->Clear();
    ResetInfo();
}

void TIOParamsVals::ResetInfo()
{
    ExifThumbnail->SetWidth(1);
    ExifThumbnail->SetHeight(1);
    EXIF_HasEXIFData = false;
    EXIF_ImageDescription.clear();
    EXIF_Make.clear();
    EXIF_Model.clear();
    EXIF_Orientation = 0;
    EXIF_XResolution = EXIF_YResolution = 0;
    EXIF_ResolutionUnit = 0;
    EXIF_Software.clear();
    EXIF_DateTime.clear();
    EXIF_Artist.clear();
    EXIF_Copyright.clear();
    EXIF_DateTimeOriginal.clear();
    EXIF_ExposureTime = EXIF_FNumber = EXIF_FocalLength = 0;
    EXIF_ExposureProgram = EXIF_Flash = 0;
    EXIF_ExifImageWidth = EXIF_ExifImageHeight = 0;
    std::fill(std::begin(EXIF_WhitePoint), std::end(EXIF_WhitePoint), 0.0);
    std::fill(std::begin(EXIF_PrimaryChromaticities), std::end(EXIF_PrimaryChromaticities), 0.0);
    std::fill(std::begin(EXIF_YCbCrCoefficients), std::end(EXIF_YCbCrCoefficients), 0.0);
    std::fill(std::begin(EXIF_ReferenceBlackWhite), std::end(EXIF_ReferenceBlackWhite), 0.0);
    EXIF_ISOSpeedRatings[0] = EXIF_ISOSpeedRatings[1] = 0;
    EXIF_More = {};
}

void TIOParamsVals::CopyExif(const TIOParamsVals& s)
{
    EXIF_HasEXIFData = s.EXIF_HasEXIFData;
    EXIF_ImageDescription = s.EXIF_ImageDescription;
    EXIF_Make = s.EXIF_Make;
    EXIF_Model = s.EXIF_Model;
    EXIF_Orientation = s.EXIF_Orientation;
    EXIF_XResolution = s.EXIF_XResolution;
    EXIF_YResolution = s.EXIF_YResolution;
    EXIF_ResolutionUnit = s.EXIF_ResolutionUnit;
    EXIF_Software = s.EXIF_Software;
    EXIF_DateTime = s.EXIF_DateTime;
    EXIF_Artist = s.EXIF_Artist;
    EXIF_Copyright = s.EXIF_Copyright;
    EXIF_DateTimeOriginal = s.EXIF_DateTimeOriginal;
    EXIF_ExposureTime = s.EXIF_ExposureTime;
    EXIF_FNumber = s.EXIF_FNumber;
    EXIF_FocalLength = s.EXIF_FocalLength;
    EXIF_ExposureProgram = s.EXIF_ExposureProgram;
    EXIF_Flash = s.EXIF_Flash;
    EXIF_ExifImageWidth = s.EXIF_ExifImageWidth;
    EXIF_ExifImageHeight = s.EXIF_ExifImageHeight;
    std::copy(std::begin(s.EXIF_WhitePoint), std::end(s.EXIF_WhitePoint), EXIF_WhitePoint);
    std::copy(std::begin(s.EXIF_PrimaryChromaticities), std::end(s.EXIF_PrimaryChromaticities),
              EXIF_PrimaryChromaticities);
    std::copy(std::begin(s.EXIF_YCbCrCoefficients), std::end(s.EXIF_YCbCrCoefficients), EXIF_YCbCrCoefficients);
    std::copy(std::begin(s.EXIF_ReferenceBlackWhite), std::end(s.EXIF_ReferenceBlackWhite), EXIF_ReferenceBlackWhite);
    EXIF_ISOSpeedRatings[0] = s.EXIF_ISOSpeedRatings[0];
    EXIF_ISOSpeedRatings[1] = s.EXIF_ISOSpeedRatings[1];
    EXIF_More = s.EXIF_More;
}

void TIOParamsVals::Assign(const TIOParamsVals* Source)
{
    if (!Source || Source == this)
        return;
    const TIOParamsVals& s = *Source;
    BitsPerSample = s.BitsPerSample;
    SamplesPerPixel = s.SamplesPerPixel;
    Width = s.Width;
    Height = s.Height;
    DpiX = s.DpiX;
    DpiY = s.DpiY;
    FileType = s.FileType;
    TiffCompression = s.TiffCompression;
    TiffImageIndex = s.TiffImageIndex;
    TiffPhotometInterpret = s.TiffPhotometInterpret;
    TiffPlanarConf = s.TiffPlanarConf;
    TiffXPos = s.TiffXPos;
    TiffYPos = s.TiffYPos;
    TiffDocumentName = s.TiffDocumentName;
    TiffImageDescription = s.TiffImageDescription;
    TiffPageName = s.TiffPageName;
    TiffPageNumber = s.TiffPageNumber;
    TiffPageCount = s.TiffPageCount;
    TiffFillOrder = s.TiffFillOrder;
    TiffLzwDecompress = s.TiffLzwDecompress;
    TiffLzwCompress = s.TiffLzwCompress;
    TiffByteOrder = s.TiffByteOrder;
    TiffMore = s.TiffMore;
    GifVersion = s.GifVersion;
    GifImageIndex = s.GifImageIndex;
    GifXPos = s.GifXPos;
    GifYPos = s.GifYPos;
    GifDelayTime = s.GifDelayTime;
    GifFlagTranspColor = s.GifFlagTranspColor;
    GifTranspColor = s.GifTranspColor;
    GifInterlaced = s.GifInterlaced;
    GifWinWidth = s.GifWinWidth;
    GifWinHeight = s.GifWinHeight;
    GifBackground = s.GifBackground;
    GifRatio = s.GifRatio;
    GifLzwDecompress = s.GifLzwDecompress;
    GifLzwCompress = s.GifLzwCompress;
    JpegColorSpace = s.JpegColorSpace;
    JpegQuality = s.JpegQuality;
    JpegDctMethod = s.JpegDctMethod;
    JpegOptimalHuffman = s.JpegOptimalHuffman;
    JpegSmoothing = s.JpegSmoothing;
    JpegProgressive = s.JpegProgressive;
    JpegScale = s.JpegScale;
    JpegMarkers->Assign(s.JpegMarkers.get());
    JpegScaleUsed = s.JpegScaleUsed;
    JpegWarningTot = s.JpegWarningTot;
    JpegWarningCode = s.JpegWarningCode;
    PcxVersion = s.PcxVersion;
    PcxCompressed = s.PcxCompressed;
    BmpVersion = s.BmpVersion;
    BmpCompression = s.BmpCompression;
    IcoIndex = s.IcoIndex;
    IcoBackground = s.IcoBackground;
    CurIndex = s.CurIndex;
    CurHotX = s.CurHotX;
    CurHotY = s.CurHotY;
    CurBackground = s.CurBackground;
    PngInterlaced = s.PngInterlaced;
    PngBackground = s.PngBackground;
    PngFilter = s.PngFilter;
    PngCompression = s.PngCompression;
    TgaXPos = s.TgaXPos;
    TgaYPos = s.TgaYPos;
    TgaCompressed = s.TgaCompressed;
    TgaImageId = s.TgaImageId;
    TgaAuthor = s.TgaAuthor;
    TgaDate = s.TgaDate;
    TgaJobName = s.TgaJobName;
    TgaKeyColor = s.TgaKeyColor;
    TgaAspectRatio = s.TgaAspectRatio;
    TgaGamma = s.TgaGamma;
    TgaGrayscale = s.TgaGrayscale;
    IPTCInfo->Assign(s.IPTCInfo.get());
    ImageInfo->Assign(s.ImageInfo.get());
    ExifThumbnail->Assign(s.ExifThumbnail.get());
    CopyExif(s);
    Reserved1 = s.Reserved1;
    Reserved2 = s.Reserved2;
    FileName = s.FileName;
    ColorMap = s.ColorMap;
    ColorMapCount = s.ColorMapCount;
    GifImageCount = s.GifImageCount;
    TiffImageCount = s.TiffImageCount;
}

void TIOParamsVals::SetColorMap(const TRGB* Map, int32_t Count)
{
    FreeColorMap();
    if (Map && Count > 0) {
        ColorMap.assign(Map, Map + Count);
        ColorMapCount = Count;
    }
}

void TIOParamsVals::FreeColorMap()
{
    ColorMap.clear();
    ColorMapCount = 0;
}

} // namespace kv
