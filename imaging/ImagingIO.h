// The image I/O component: loads pictures into and saves them from a platform TBitmap
// in the library's twelve formats, from files or streams; keeps the format registry
// and detects a stream's format from its first bytes.
#pragma once

#include "imaging/IEBitmaps.h"
#include "imaging/IEView.h"
#include "imaging/IOParams.h"
#include "imaging/PnmFilter.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// Format ids of the registry.
constexpr int32_t ioTIFF = 1, ioGIF = 2, ioJPEG = 3, ioPCX = 4, ioBMP = 5, ioICO = 6, ioCUR = 7, ioPNG = 8, ioWMF = 9,
                  ioEMF = 10, ioTGA = 11, ioPXM = 12;

using TIEReadProc = void (*)(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                             TProgressRec& Progress);
using TIEWriteProc = void (*)(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
using TIEDetectProc = bool (*)(TStream& Stream);

struct TFileFormatEntry {
    int32_t FileType = 0;
    std::string FullName;   // up to 80 characters
    std::string Extensions; // upper case, no dots, ";"-separated
    TIEReadProc ReadProc = nullptr;
    TIEWriteProc WriteProc = nullptr;
    TIEDetectProc DetectProc = nullptr;
};

// The registry, built with the twelve built-in rows on first use and kept for the
// program's life (this unit owns it).
const std::vector<TFileFormatEntry>& FileFormatRegistry();
const TFileFormatEntry* FindFileFormatEntry(int32_t FileType);
const TFileFormatEntry* FindFileFormatEntryByExt(const std::string& Ext); // with or without the dot, any case
int32_t IEFileFormatExtensionCount(int32_t FileType);
std::string IEFileFormatExtension(int32_t FileType, int32_t Index);

// Content tests; each restores the stream position.
bool IsPngStream(TStream& Stream);
bool IsIcoStream(TStream& Stream);
bool IsCurStream(TStream& Stream);
bool IsTgaStream(TStream& Stream);

// The twelve-byte stream header some stream routines write before the picture.
struct TStreamHeader {
    char Magic[8] = {};
    int32_t Size = 0; // little-endian on disk
};
constexpr size_t StreamHeaderSize = 12;
static_assert(sizeof(TStreamHeader) == StreamHeaderSize, "stream header is 12 bytes on disk");

enum TIOPreviewsParamsItem : uint8_t { ioppDefaultLockPreview = 1, ioppApplyButton = 2 };
using TIOPreviewsParams = uint8_t;
enum TIEDialogsMeasureUnit : uint8_t { ieduInches, ieduCm };
using TIEIOPreviewEvent = std::function<void(TObject* Sender, TObject* PreviewForm)>;

// Scanner acquisition settings (data only: no acquisition is reachable).
class TIETWainParams : public TObject {
public:
    explicit TIETWainParams(TObject* Owner, bool OwnerIsMultiImage = false);
    ~TIETWainParams() override;
    void Reset();

    TObject* Owner;
    std::vector<std::vector<uint8_t>> Capabilities;
    TIEDoubleList XResolution, YResolution, XScaling, YScaling;
    TIEIntegerList PixelType, BitDepth;
    TIEDoubleList Contrast, Brightness;
    TIEIntegerList Orientation;
    double Gamma = 2.2;
    double PhysicalWidth = 0, PhysicalHeight = 0;
    int32_t Threshold = 128;
    bool AcquireFrameEnabled = false, MultiImage = false, VisibleDialog = true, ShowSettingsOnly = false;
    uint8_t Reserved[16] = {};
    std::string SelectedSource, ProductName, Manufacturer, Version;

private:
    bool FOwnerIsMultiImage;
};

class TImagingIO : public TObject {
public:
    explicit TImagingIO(TObject* AOwner = nullptr);
    ~TImagingIO() override;

    // ---- Properties
    TObject* Owner() const { return FOwner; }
    TBitmap* Bitmap() const { return FAttachment.Bitmap(); }
    void SetBitmap(TBitmap* Value) { FAttachment.SetBitmap(Value); }
    TIEView* AttachedImaging() const { return FAttachment.View(); }
    void SetAttachedImaging(TIEView* Value) { FAttachment.SetView(Value); }
    TImage* AttachedTImage() const { return FAttachment.Image(); }
    void SetAttachedTImage(TImage* Value) { FAttachment.SetImage(Value); }
    TColor Background() const { return FAttachment.Background(); }
    void SetBackground(TColor Value) { FAttachment.SetBackground(Value); }
    TMsgLanguage MsgLanguage() const { return FMsgLanguage; }
    void SetMsgLanguage(TMsgLanguage Value) { FMsgLanguage = Value; }
    TIOPreviewsParams PreviewsParams() const { return FPreviewsParams; }
    void SetPreviewsParams(TIOPreviewsParams Value) { FPreviewsParams = Value; }
    TIETWainParams* TWainParams() { return FTWainParams.get(); }
    bool StreamHeaders() const { return FStreamHeaders; }
    void SetStreamHeaders(bool Value) { FStreamHeaders = Value; }
    TFont* PreviewFont() { return FPreviewFont.get(); }
    void SetPreviewFont(TFont* Value) { FPreviewFont->Assign(Value); }
    TIEDialogsMeasureUnit DialogsMeasureUnit() const { return FDialogsMeasureUnit; }
    void SetDialogsMeasureUnit(TIEDialogsMeasureUnit Value) { FDialogsMeasureUnit = Value; }
    bool AutoAdjustDPI() const { return FAutoAdjustDPI; }
    void SetAutoAdjustDPI(bool Value) { FAutoAdjustDPI = Value; }
    TIOParamsVals& Params() { return *FParams; }
    bool Aborting() const { return FAborting; }
    void SetAborting(bool Value) { FAborting = Value; }
    // Why the last operation aborted, when it was not the file's fault (a format with
    // no filter in this build, a save the format cannot do); empty otherwise.
    const std::string& AbortReason() const { return FAbortReason; }
    TIEMask* Mask() const { return FAttachment.Mask(); }

    TIEProgressEvent OnProgress;
    TIEIOPreviewEvent OnIOPreview;

    // ---- Dispatchers
    virtual void LoadFromFile(const std::string& FileName);
    virtual void SaveToFile(const std::string& FileName);
    virtual void LoadFromFileFormat(const std::string& FileName, int32_t FileType);
    virtual void ParamsFromFile(const std::string& FileName);
    virtual void ParamsFromFileFormat(const std::string& FileName, int32_t FileType);
    virtual void ParamsFromStream(TStream& Stream);
    virtual void ParamsFromStreamFormat(TStream& Stream, int32_t FileType);
    virtual void LoadFromStream(TStream& Stream);
    virtual void LoadFromStreamFormat(TStream& Stream, int32_t FileType);
    virtual void SaveToStream(TStream& Stream, int32_t FileType);

    int32_t FindFileFormat(const std::string& FileName, bool VerifyExtension);
    int32_t FindStreamFormat(TStream& Stream);

    // ---- Per format
    void LoadFromFileTiff(const std::string& FileName);
    void LoadFromStreamTiff(TStream& Stream);
    void SaveToFileTiff(const std::string& FileName);
    void SaveToStreamTiff(TStream& Stream);
    void LoadFromFileGif(const std::string& FileName);
    void LoadFromStreamGif(TStream& Stream);
    void SaveToFileGif(const std::string& FileName);
    void SaveToStreamGif(TStream& Stream);
    void LoadFromFileJpeg(const std::string& FileName);
    void LoadFromStreamJpeg(TStream& Stream);
    void SaveToFileJpeg(const std::string& FileName);
    void SaveToStreamJpeg(TStream& Stream);
    void LoadFromFilePcx(const std::string& FileName);
    void LoadFromStreamPcx(TStream& Stream);
    void SaveToFilePcx(const std::string& FileName);
    void SaveToStreamPcx(TStream& Stream);
    void LoadFromFileBmp(const std::string& FileName);
    void LoadFromStreamBmp(TStream& Stream);
    void SaveToFileBmp(const std::string& FileName);
    void SaveToStreamBmp(TStream& Stream);
    void LoadFromFileIco(const std::string& FileName);
    void LoadFromStreamIco(TStream& Stream);
    void LoadFromFileCur(const std::string& FileName);
    void LoadFromStreamCur(TStream& Stream);
    void LoadFromFilePng(const std::string& FileName);
    void LoadFromStreamPng(TStream& Stream);
    void SaveToFilePng(const std::string& FileName);
    void SaveToStreamPng(TStream& Stream);
    void LoadFromFileTga(const std::string& FileName);
    void LoadFromStreamTga(TStream& Stream);
    void SaveToFileTga(const std::string& FileName);
    void SaveToStreamTga(TStream& Stream);
    void LoadFromFilePxm(const std::string& FileName);
    void LoadFromStreamPxm(TStream& Stream);
    void SaveToFilePxm(const std::string& FileName);
    void SaveToStreamPxm(TStream& Stream);
    void ImportMetafile(const std::string& FileName, int32_t Width, int32_t Height);

    // The DPI adjustment run after a load when AutoAdjustDPI is set.
    void AdjustDPI();

private:
    enum TSource : uint8_t { srcFile, srcStream };
    TProgressRec MakeProgress();
    void Abort(const std::string& Reason);
    bool PrepareSave();
    void BeforeLoad();
    void AfterLoad(int32_t FileType, const std::string& FileName, bool ReaderFilledMask);
    bool MaskFilledByReader(int32_t FileType) const;
    void LoadFile(const std::string& FileName, int32_t FileType);
    void LoadStream(TStream& Stream, int32_t FileType);
    // PayloadEnd: where a stream header says the picture ends (-1: the stream's end).
    // True when the reader wrote the mask itself (AfterLoad must then keep it).
    bool RunReader(TStream& Stream, int32_t FileType, bool ParamsOnly, int64_t PayloadEnd = -1);
    void SaveFile(const std::string& FileName, int32_t FileType);
    void CommitUnlessAborted(TSafeFileStream& Stream, const std::function<void()>& Writer);
    void SaveStream(TStream& Stream, int32_t FileType);
    void RunWriter(TStream& Stream, int32_t FileType);
    bool PrepareJpegMarkers();
    void JpegAfterRead();
    bool ReadStreamHeader(TStream& Stream, const char* Magic, size_t MagicLen, int64_t& PayloadEnd);
    void RegistryLoad(const std::string& FileName, const std::string& Ext);
    void RegistrySave(const std::string& FileName, const std::string& Ext);

    TObject* FOwner;
    TIEAttachment FAttachment;
    TMsgLanguage FMsgLanguage = msSystem;
    TIOPreviewsParams FPreviewsParams = 0;
    std::unique_ptr<TIETWainParams> FTWainParams;
    bool FStreamHeaders = false;
    std::unique_ptr<TFont> FPreviewFont;
    TIEDialogsMeasureUnit FDialogsMeasureUnit = ieduInches;
    bool FAutoAdjustDPI = true;
    void* FAviFile = nullptr;
    void* FAviStream = nullptr;
    void* FAviFrames = nullptr;
    std::unique_ptr<TIOParamsVals> FParams;
    bool FAborting = false;
    std::string FAbortReason;
};

} // namespace kv
