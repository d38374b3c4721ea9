// Per-file parameters of the image I/O component: what a reader learnt about the file
// and what a writer is asked to produce, with the JPEG marker list and IPTC records.
#pragma once

#include "imaging/imgdefs.h"
#include "platform/Classes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class TBitmap;
class TImagingIO;

// The markers kept from the last JPEG read and written back on save: 0xE0..0xEF APPn,
// 0xFE COM, 0xED the IPTC block.
class TIEMarkerList : public TObject {
public:
    int32_t Count() const { return int32_t(FItems.size()); }
    const uint8_t* MarkerData(int32_t I) const { return FItems.at(size_t(I)).Data.data(); }
    uint8_t MarkerType(int32_t I) const { return FItems.at(size_t(I)).Type; }
    int32_t MarkerLength(int32_t I) const { return int32_t(FItems.at(size_t(I)).Data.size()); }
    int32_t IndexOf(uint8_t Type) const;
    // Lengths are kept whole: the JPEG writer refuses a marker that does not fit in a
    // segment instead of cutting it to 16 bits.
    void AddMarker(uint8_t Type, const void* Data, size_t Length);
    void SetMarker(int32_t I, uint8_t Type, const void* Data, size_t Length);
    void Clear() { FItems.clear(); }
    void Assign(const TIEMarkerList* Source);

private:
    struct TMarker {
        uint8_t Type = 0;
        std::vector<uint8_t> Data;
    };
    std::vector<TMarker> FItems;
};

// IPTC records, read from and written to the Photoshop "8BIM" resource 0x0404 of APP13.
class TIEIPTCInfoList : public TObject {
public:
    int32_t Count() const { return int32_t(FItems.size()); }
    int32_t RecordNumber(int32_t I) const { return FItems.at(size_t(I)).Record; }
    int32_t DataSetNumber(int32_t I) const { return FItems.at(size_t(I)).DataSet; }
    int32_t DataLength(int32_t I) const { return int32_t(FItems.at(size_t(I)).Data.size()); }
    const uint8_t* Data(int32_t I) const { return FItems.at(size_t(I)).Data.data(); }
    std::string StringItem(int32_t I) const;

    int32_t AddItem(int32_t Record, int32_t DataSet, int32_t Length, const void* Data);
    int32_t AddStringItem(int32_t Record, int32_t DataSet, const std::string& S)
    {
        return AddItem(Record, DataSet, int32_t(S.size()), S.data());
    }
    void Clear();
    void Assign(const TIEIPTCInfoList* Source);

    // The whole APP13 block: "Photoshop 3.0" NUL, one 8BIM 0x0404 resource, datasets.
    void SaveToBuffer(std::vector<uint8_t>& Buffer) const;
    // Never reads outside [Buffer, Buffer + BufferLength); stops quietly at the first
    // malformed dataset keeping what came before.
    void LoadFromBuffer(const void* Buffer, int64_t BufferLength);

    bool Modified = true;

private:
    struct TItem {
        int32_t Record = 0;
        int32_t DataSet = 0;
        std::vector<uint8_t> Data;
    };
    void ParseDatasets(const uint8_t* p, int64_t begin, int64_t end);
    std::vector<TItem> FItems;
};

// Puts the 0x0404 resource of NewBlock (a block made by SaveToBuffer) into an existing
// APP13 marker, keeping its other Photoshop resources in place. An old marker that is
// not a well-formed Photoshop block is replaced whole.
std::vector<uint8_t> IEMergeIPTCResource(const uint8_t* OldMarker, size_t OldLength,
                                         const std::vector<uint8_t>& NewBlock);

constexpr size_t IEMaxMarkerLength = 65533; // a JPEG segment's length field counts itself

// The TIFF LZW slots: a strip decoder returning the bytes it produced (-1: the strip
// fails) and a row encoder writing onto the stream (false: a short write). Both keep
// their coder in State and end it on a call with no data (nullptr, 0).
using TIETiffLzwDecompressProc = int64_t (*)(const uint8_t* Data, int64_t Count, uint8_t* Out, int64_t OutCount,
                                             intptr_t& State);
using TIETiffLzwCompressProc = bool (*)(const uint8_t* Data, int64_t Count, TStream& Stream, intptr_t& State);

// The GIF image-data coders. Decompress reads the minimum code size and the data
// sub-blocks at the stream's position and leaves Width x Height indexes, one byte each,
// top row first, in Buffer. Compress writes the code size, the sub-blocks and the
// terminator for the Width x Height indexes in Buffer.
// Decompress answers false when the data ended early or could not be decoded; the
// indexes read so far stay in Buffer.
using TIEGifLzwDecompressProc = bool (*)(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced,
                                         uint8_t* Buffer);
using TIEGifLzwCompressProc = void (*)(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced,
                                       const uint8_t* Buffer, int32_t BitsPerPixel);

// Library-wide codec slots copied into every parameter object at default time. The
// program's start-up fills the TIFF pair with the library's own coder (TiffLzw.h) and
// the GIF pair with the editor's GIF coder.
extern TIETiffLzwDecompressProc IEGlobalTiffLzwDecompress;
extern TIETiffLzwCompressProc IEGlobalTiffLzwCompress;
extern TIEGifLzwDecompressProc DefGifLzwDecompress;
extern TIEGifLzwCompressProc DefGifLzwCompress;

// TIFF tags that no filter acts on, kept as the last TIFF directory read gave them
// (TIFF standard names; absent tags give the standard's defaults).
struct TIETiffMoreTags {
    int32_t T6Options = 0;
    int32_t InkSet = 1;
    int32_t NumberOfInks = 4;
    int32_t YCbCrPositioning = 1;
    // 2^BitsPerSample 16-bit values for red, then as many for green and for blue (a
    // file's single curve is given to all three); empty when absent or malformed.
    std::vector<uint16_t> TransferFunction;
    // Old-style JPEG: the process, the restart interval and the per-component values
    // (predictors, point transforms and the offsets of the Q, DC and AC tables).
    int32_t JpegProc = 0;
    int32_t JpegRestartInterval = 0;
    std::vector<uint32_t> JpegLosslessPredictors;
    std::vector<uint32_t> JpegPointTransforms;
    std::vector<uint32_t> JpegQTables;
    std::vector<uint32_t> JpegDCTables;
    std::vector<uint32_t> JpegACTables;
};

// The EXIF sub-directory's tags beyond those with their own EXIF_ field: rationals as
// Doubles, SHORT, LONG and one-byte UNDEFINED tags as Int32, ASCII as strings, and the
// two version tags as the four bytes held in the entry (for example "0230").
struct TIEExifMoreTags {
    std::string ExifVersion;
    std::string DateTimeDigitized;
    double CompressedBitsPerPixel = 0;
    double ShutterSpeedValue = 0;
    double ApertureValue = 0;
    double BrightnessValue = 0;
    double ExposureBiasValue = 0;
    double MaxApertureValue = 0;
    double SubjectDistance = 0;
    int32_t MeteringMode = 0;
    int32_t LightSource = 0;
    std::string SubsecTime;
    std::string SubsecTimeOriginal;
    std::string SubsecTimeDigitized;
    std::string FlashpixVersion;
    int32_t ColorSpace = 0;
    std::string RelatedSoundFile;
    double FocalPlaneXResolution = 0;
    double FocalPlaneYResolution = 0;
    int32_t FocalPlaneResolutionUnit = 0;
    double ExposureIndex = 0;
    int32_t SensingMethod = 0;
    int32_t FileSource = 0;
    int32_t SceneType = 0;
};

class TIOParamsVals : public TObject {
public:
    explicit TIOParamsVals(TImagingIO* Owner);
    ~TIOParamsVals() override;

    void SetDefaultParams();
    void ResetInfo();
    void Assign(const TIOParamsVals* Source);
    void SetColorMap(const TRGB* Map, int32_t Count);
    void FreeColorMap();
    // Replaces the EXIF block with Source's.
    void CopyExif(const TIOParamsVals& s);

    TImagingIO* Owner = nullptr;
    int32_t BitsPerSample = 8;
    int32_t SamplesPerPixel = 3;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t DpiX = 0;
    int32_t DpiY = 0;
    int32_t FileType = 0;

    // TIFF
    int32_t TiffCompression = 0;
    int32_t TiffImageIndex = 0;
    int32_t TiffPhotometInterpret = 2;
    int32_t TiffPlanarConf = 1;
    int32_t TiffXPos = 0;
    int32_t TiffYPos = 0;
    std::string TiffDocumentName;
    std::string TiffImageDescription;
    std::string TiffPageName;
    int32_t TiffPageNumber = 0;
    int32_t TiffPageCount = 0;
    int32_t TiffFillOrder = 1;
    TIETiffLzwDecompressProc TiffLzwDecompress = nullptr;
    TIETiffLzwCompressProc TiffLzwCompress = nullptr;
    uint8_t TiffByteOrder = 1;
    TIETiffMoreTags TiffMore;

    // GIF
    std::string GifVersion = "GIF89a";
    int32_t GifImageIndex = 0;
    int32_t GifXPos = 0;
    int32_t GifYPos = 0;
    int32_t GifDelayTime = 0;
    uint8_t GifFlagTranspColor = 0;
    TRGB GifTranspColor;
    int32_t GifInterlaced = 0;
    int32_t GifWinWidth = 0;
    int32_t GifWinHeight = 0;
    TRGB GifBackground;
    int32_t GifRatio = 0;
    TIEGifLzwDecompressProc GifLzwDecompress = nullptr;
    TIEGifLzwCompressProc GifLzwCompress = nullptr;

    // JPEG
    uint8_t JpegColorSpace = 2; // 0 RGB, 1 grey, 2 YCbCr, 3 CMYK, 4 YCCK
    int32_t JpegQuality = 50;
    uint8_t JpegDctMethod = 0; // 0 integer slow, 1 integer fast, 2 float
    bool JpegOptimalHuffman = false;
    int32_t JpegSmoothing = 0;
    bool JpegProgressive = false;
    uint8_t JpegScale = 1; // 0 automatic, 1 full, 2 half, 3 quarter, 4 eighth
    std::unique_ptr<TIEMarkerList> JpegMarkers;
    int32_t JpegScaleUsed = 1;
    int32_t JpegWarningTot = 0;
    int32_t JpegWarningCode = 0;

    // PCX, BMP
    int32_t PcxVersion = 5;
    uint8_t PcxCompressed = 1;
    uint8_t BmpVersion = 1;
    uint8_t BmpCompression = 0;

    // ICO, CUR
    int32_t IcoIndex = 0;
    TRGB IcoBackground{255, 255, 255};
    int32_t CurIndex = 0;
    int32_t CurHotX = 0;
    int32_t CurHotY = 0;
    TRGB CurBackground{255, 255, 255};

    // PNG
    uint8_t PngInterlaced = 0;
    TRGB PngBackground;
    uint8_t PngFilter = 0;
    int32_t PngCompression = 5;

    // TGA
    int32_t TgaXPos = 0;
    int32_t TgaYPos = 0;
    uint8_t TgaCompressed = 1;
    std::string TgaImageId;
    std::string TgaAuthor;
    double TgaDate = 0.0; // days since 30 Dec 1899
    std::string TgaJobName;
    TRGB TgaKeyColor;
    double TgaAspectRatio = 1.0;
    double TgaGamma = 2.2;
    uint8_t TgaGrayscale = 0;

    std::unique_ptr<TIEIPTCInfoList> IPTCInfo;
    std::unique_ptr<TStringList> ImageInfo;
    std::unique_ptr<TBitmap> ExifThumbnail;

    // EXIF block (filled by the EXIF reader of the JPEG file loader).
    bool EXIF_HasEXIFData = false;
    std::string EXIF_ImageDescription;
    std::string EXIF_Make;
    std::string EXIF_Model;
    int32_t EXIF_Orientation = 0;
    double EXIF_XResolution = 0;
    double EXIF_YResolution = 0;
    int32_t EXIF_ResolutionUnit = 0;
    std::string EXIF_Software;
    std::string EXIF_DateTime;
    std::string EXIF_Artist;
    std::string EXIF_Copyright;
    std::string EXIF_DateTimeOriginal;
    double EXIF_ExposureTime = 0;
    double EXIF_FNumber = 0;
    double EXIF_FocalLength = 0;
    int32_t EXIF_ExposureProgram = 0;
    int32_t EXIF_Flash = 0;
    int32_t EXIF_ExifImageWidth = 0;
    int32_t EXIF_ExifImageHeight = 0;
    double EXIF_WhitePoint[2] = {};
    double EXIF_PrimaryChromaticities[6] = {};
    double EXIF_YCbCrCoefficients[3] = {};
    double EXIF_ReferenceBlackWhite[6] = {};
    int32_t EXIF_ISOSpeedRatings[2] = {};
    TIEExifMoreTags EXIF_More;

    int32_t EXIF_ISOSpeedRatingsAt(int32_t I) const { return EXIF_ISOSpeedRatings[I & 1]; }
    void SetEXIF_ISOSpeedRatingsAt(int32_t I, int32_t V) { EXIF_ISOSpeedRatings[I & 1] = V; }
    double EXIF_WhitePointAt(int32_t I) const { return At(EXIF_WhitePoint, 2, I); }
    void SetEXIF_WhitePointAt(int32_t I, double V) { SetAt(EXIF_WhitePoint, 2, I, V); }
    double EXIF_PrimaryChromaticitiesAt(int32_t I) const { return At(EXIF_PrimaryChromaticities, 6, I); }
    void SetEXIF_PrimaryChromaticitiesAt(int32_t I, double V) { SetAt(EXIF_PrimaryChromaticities, 6, I, V); }
    double EXIF_YCbCrCoefficientsAt(int32_t I) const { return At(EXIF_YCbCrCoefficients, 3, I); }
    void SetEXIF_YCbCrCoefficientsAt(int32_t I, double V) { SetAt(EXIF_YCbCrCoefficients, 3, I, V); }
    double EXIF_ReferenceBlackWhiteAt(int32_t I) const { return At(EXIF_ReferenceBlackWhite, 6, I); }
    void SetEXIF_ReferenceBlackWhiteAt(int32_t I, double V) { SetAt(EXIF_ReferenceBlackWhite, 6, I, V); }

    int32_t Reserved1 = 0;
    int32_t Reserved2 = 0;
    std::string FileName;
    std::vector<TRGB> ColorMap;
    int32_t ColorMapCount = 0;
    int32_t GifImageCount = 0;
    int32_t TiffImageCount = 0;

private:
    static double At(const double* a, int32_t n, int32_t i) { return i >= 0 && i < n ? a[i] : 0.0; }
    static void SetAt(double* a, int32_t n, int32_t i, double v)
    {
        if (i >= 0 && i < n)
            a[i] = v;
    }
};

// Today's date at 0:00 as days since 30 Dec 1899.
double IEDateToday();

} // namespace kv
