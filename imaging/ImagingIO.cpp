#include "imaging/ImagingIO.h"

#include "imaging/BmpFilter.h"
#include "imaging/ExifReader.h"
#include "imaging/GifFilter.h"
#include "imaging/IETwain.h"
#include "imaging/IcoFilter.h"
#include "imaging/ImagingProc.h"
#include "imaging/JpegFilter.h"
#include "imaging/PcxFilter.h"
#include "imaging/PngFilter.h"
#include "imaging/TgaFilter.h"
#include "imaging/TiffFilter.h"
#include <QObject>

#include <QObject>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace kv {

// ---- Registry ---------------------------------------------------------------------

const std::vector<TFileFormatEntry>& FileFormatRegistry()
{
    static const std::vector<TFileFormatEntry> registry = {
        {ioTIFF, "TIFF Bitmap", "TIF;TIFF;FAX"},
        {ioGIF, "CompuServe Bitmap", "GIF"},
        {ioJPEG, "JPEG Bitmap", "JPG;JPEG;JPE"},
        {ioPCX, "PaintBrush", "PCX"},
        {ioBMP, "Windows Bitmap", "BMP;DIB;RLE"},
        {ioICO, "Windows Icon", "ICO"},
        {ioCUR, "Windows Cursor", "CUR"},
        {ioPNG, "Portable Network Graphics", "PNG"},
        {ioWMF, "Windows Metafile", "WMF"},
        {ioEMF, "Enhanced Windows Metafile", "EMF"},
        {ioTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX"},
        {ioPXM, "Portable Pixmap, GreyMap, BitMap", "PXM;PPM;PGM;PBM"},
    };
    return registry;
}

namespace {

std::vector<std::string> SplitExtensions(const std::string& list)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            out.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string ExtOf(const std::string& FileName) { return LowerCase(ExtractFileExt(FileName)); }

} // namespace

const TFileFormatEntry* FindFileFormatEntry(int32_t FileType)
{
    for (const TFileFormatEntry& e : FileFormatRegistry())
        if (e.FileType == FileType)
            return &e;
    return nullptr;
}

const TFileFormatEntry* FindFileFormatEntryByExt(const std::string& Ext)
{
    std::string ext = LowerCase(Ext);
    if (!ext.empty() && ext[0] == '.')
        ext.erase(0, 1);
    if (ext.empty())
        return nullptr;
    for (const TFileFormatEntry& e : FileFormatRegistry())
        for (const std::string& x : SplitExtensions(e.Extensions))
            if (LowerCase(x) == ext)
                return &e;
    return nullptr;
}

int32_t IEFileFormatExtensionCount(int32_t FileType)
{
    const TFileFormatEntry* e = FindFileFormatEntry(FileType);
    return e ? int32_t(SplitExtensions(e->Extensions).size()) : 0;
}

std::string IEFileFormatExtension(int32_t FileType, int32_t Index)
{
    const TFileFormatEntry* e = FindFileFormatEntry(FileType);
    if (!e)
        return "";
    auto list = SplitExtensions(e->Extensions);
    return Index >= 0 && Index < int32_t(list.size()) ? list[size_t(Index)] : "";
}

// ---- Content tests ------------------------------------------------------------------

namespace {

// Reads up to Count bytes from the current position and puts the position back.
std::vector<uint8_t> Peek(TStream& Stream, int64_t Count)
{
    const int64_t pos = Stream.Position();
    std::vector<uint8_t> buf(size_t(std::max<int64_t>(Count, 0)));
    int64_t got = buf.empty() ? 0 : Stream.Read(buf.data(), int64_t(buf.size()));
    buf.resize(size_t(std::max<int64_t>(got, 0)));
    Stream.Seek(pos, soBeginning);
    return buf;
}

bool IsIconDirectory(TStream& Stream, uint16_t Type)
{
    const int64_t left = Stream.Size() - Stream.Position();
    if (left < 23)
        return false;
    std::vector<uint8_t> head = Peek(Stream, 6);
    if (head.size() < 6 || GetU16LE(head.data()) != 0 || GetU16LE(head.data() + 2) != Type)
        return false;
    const int64_t count = GetU16LE(head.data() + 4);
    if (count == 0 || 6 + 16 * count > left)
        return false;
    std::vector<uint8_t> dir = Peek(Stream, 6 + 16 * count);
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* e = dir.data() + 6 + 16 * i;
        const int64_t endOfEntries = 6 + 16 * (i + 1);
        if (e[3] != 0 || GetU32LE(e + 8) == 0 || int64_t(GetU32LE(e + 12)) < endOfEntries)
            return false;
    }
    return true;
}

} // namespace

bool IsPngStream(TStream& Stream)
{
    static const uint8_t sig[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> b = Peek(Stream, 8);
    return b.size() == 8 && std::memcmp(b.data(), sig, 8) == 0;
}

bool IsIcoStream(TStream& Stream) { return IsIconDirectory(Stream, 1); }
bool IsCurStream(TStream& Stream) { return IsIconDirectory(Stream, 2); }

bool IsTgaStream(TStream& Stream)
{
    std::vector<uint8_t> h = Peek(Stream, 18);
    if (h.size() < 18)
        return false;
    const uint8_t type = h[2], depth = h[16];
    const bool typeOk = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
    const bool depthOk = depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
    const bool looksPnm = h[0] == 'P' && h[1] >= '2' && h[1] <= '6' && (h[2] == ' ' || h[2] == '#' || h[2] == '\n');
    return typeOk && depthOk && !looksPnm;
}

// ---- TIETWainParams -------------------------------------------------------------------

TIETWainParams::TIETWainParams(TObject* AOwner, bool OwnerIsMultiImage)
    : Owner(AOwner), FOwnerIsMultiImage(OwnerIsMultiImage)
{
    Reset();
}

TIETWainParams::~TIETWainParams()
{
    IETWainClose(dynamic_cast<const QObject*>(Owner));
    Reset();
}

void TIETWainParams::Reset()
{
    Capabilities.clear();
    for (TIEDoubleList* l : {&XResolution, &YResolution, &XScaling, &YScaling, &Contrast, &Brightness})
        l->Clear();
    for (TIEIntegerList* l : {&PixelType, &BitDepth, &Orientation})
        l->Clear();
    Gamma = 2.2;
    PhysicalWidth = PhysicalHeight = 0;
    Threshold = 128;
    AcquireFrameEnabled = MultiImage = FOwnerIsMultiImage;
    VisibleDialog = true;
    ShowSettingsOnly = false;
    std::memset(Reserved, 0, sizeof Reserved);
    SelectedSource.clear();
    ProductName.clear();
    Manufacturer.clear();
    Version.clear();
}

// ---- TImagingIO -------------------------------------------------------------------

TImagingIO::TImagingIO(TObject* AOwner) : FOwner(AOwner)
{
    FTWainParams = std::make_unique<TIETWainParams>(this);
    FPreviewFont = std::make_unique<TFont>();
    FParams = std::make_unique<TIOParamsVals>(this);
}

TImagingIO::~TImagingIO()
{
    // Video for Windows handles are never opened on this platform: nothing to release.
    FAviFile = FAviStream = FAviFrames = nullptr;
}

TProgressRec TImagingIO::MakeProgress()
{
    TProgressRec p;
    p.OnProgress = OnProgress;
    p.Sender = this;
    p.Aborting = &FAborting;
    return p;
}

void TImagingIO::Abort(const std::string& Reason)
{
    FAborting = true;
    FAbortReason = Reason;
}

namespace {

const char* FormatName(int32_t FileType)
{
    const TFileFormatEntry* e = FindFileFormatEntry(FileType);
    return e ? e->FullName.c_str() : "unknown";
}

// GIF and PCX take more than the table's arguments: RunReader calls them itself, and
// these plain forms answer for them in the table.
void ReadGifPlain(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress)
{
    int32_t imageCount = 0;
    LoadGifFromStream(Stream, Bitmap, imageCount, Params, Progress, ParamsOnly, nullptr);
}

int32_t BytesLeft(TStream& Stream, int64_t End)
{
    const int64_t left = (End >= 0 ? End : Stream.Size()) - Stream.Position();
    return int32_t(std::clamp<int64_t>(left, 0, INT32_MAX));
}

void ReadPcxPlain(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress)
{
    LoadPcxFromStream(Stream, Bitmap, Params, BytesLeft(Stream, -1), Progress, ParamsOnly);
}

// The filters this build has. The other formats' filters come with their own units;
// until then their routines end with Aborting set and a reason.
// The readers that also take a mask (or a size) are called by RunReader/RunWriter
// with the component's mask; these table forms serve everyone else.
TIEReadProc BuiltInReader(int32_t FileType)
{
    switch (FileType) {
    case ioJPEG: return LoadJpegFromStream;
    case ioGIF: return ReadGifPlain;
    case ioPCX: return ReadPcxPlain;
    case ioPXM: return LoadPnmFromStream;
    case ioTIFF: return LoadTiffFromStream;
    case ioBMP:
        return [](TStream& s, TBitmap& b, TIOParamsVals& p, bool po, TProgressRec& pr) {
            LoadBmpFromStream(s, b, 0, p, pr, po);
        };
    case ioICO:
        return [](TStream& s, TBitmap& b, TIOParamsVals& p, bool po, TProgressRec& pr) {
            LoadIcoFromStream(s, b, p, po, pr, nullptr);
        };
    case ioCUR:
        return [](TStream& s, TBitmap& b, TIOParamsVals& p, bool po, TProgressRec& pr) {
            LoadCurFromStream(s, b, p, po, pr, nullptr);
        };
    case ioPNG:
        return [](TStream& s, TBitmap& b, TIOParamsVals& p, bool po, TProgressRec& pr) {
            ReadPngStream(s, b, p, pr, po, nullptr);
        };
    case ioTGA:
        return
            [](TStream& s, TBitmap& b, TIOParamsVals& p, bool po, TProgressRec& pr) { ReadTgaStream(s, b, p, pr, po); };
    default: return nullptr;
    }
}

TIEWriteProc BuiltInWriter(int32_t FileType)
{
    switch (FileType) {
    case ioJPEG: return SaveJpegToStream;
    case ioGIF: return SaveGifToStream;
    case ioPCX: return SavePcxToStream;
    case ioPXM: return SavePnmToStream;
    case ioTIFF: return SaveTiffToStream;
    case ioBMP: return SaveBmpToStream;
    case ioTGA: return WriteTgaStream;
    case ioPNG:
        return [](TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) { WritePngStream(s, b, p, pr, nullptr); };
    default: return nullptr;
    }
}

TColor TRGBToColor(TRGB c) { return RGB(c.r, c.g, c.b); }

} // namespace

void TImagingIO::BeforeLoad()
{
    FParams->IPTCInfo->Clear();
    FParams->JpegMarkers->Clear();
    FParams->ResetInfo();
}

bool TImagingIO::RunReader(TStream& Stream, int32_t FileType, bool ParamsOnly, int64_t PayloadEnd)
{
    TIEReadProc reader = BuiltInReader(FileType);
    if (!reader) {
        const TFileFormatEntry* e = FindFileFormatEntry(FileType);
        reader = e ? e->ReadProc : nullptr;
    }
    if (!reader) {
        Abort(std::string("No reader for ") + FormatName(FileType) + " files in this build");
        return false;
    }
    TProgressRec progress = MakeProgress();
    if (FileType == ioPNG)
        FParams->PngBackground = ColorToTRGB(Background());
    bool filledMask = false;
    if (FileType == ioPNG) {
        filledMask = ReadPngStream(Stream, *Bitmap(), *FParams, progress, ParamsOnly, Mask());
    } else if (FileType == ioICO) {
        filledMask = LoadIcoFromStream(Stream, *Bitmap(), *FParams, ParamsOnly, progress, Mask());
    } else if (FileType == ioCUR) {
        filledMask = LoadCurFromStream(Stream, *Bitmap(), *FParams, ParamsOnly, progress, Mask());
    } else if (FileType == ioGIF) {
        int32_t imageCount = 0;
        LoadGifFromStream(Stream, *Bitmap(), imageCount, *FParams, progress, ParamsOnly, Mask());
        filledMask = MaskFilledByReader(FileType);
    } else if (FileType == ioPCX) {
        LoadPcxFromStream(Stream, *Bitmap(), *FParams, BytesLeft(Stream, PayloadEnd), progress, ParamsOnly);
    } else {
        reader(Stream, *Bitmap(), *FParams, ParamsOnly, progress);
        filledMask = MaskFilledByReader(FileType);
    }
    if (FileType == ioJPEG)
        JpegAfterRead();
    else if (FileType == ioPNG)
        SetBackground(TRGBToColor(FParams->PngBackground));
    else if (FileType == ioGIF)
        SetBackground(TRGBToColor(FParams->GifFlagTranspColor ? FParams->GifTranspColor : FParams->GifBackground));
    return filledMask;
}

void TImagingIO::AfterLoad(int32_t FileType, const std::string& FileName, bool ReaderFilledMask)
{
    if (FAutoAdjustDPI && !FAborting)
        AdjustDPI();
    if (Mask() && !ReaderFilledMask && Bitmap()->Width() > 0 && Bitmap()->Height() > 0) {
        Mask()->AllocateBits(Bitmap()->Width(), Bitmap()->Height(), 8);
        Mask()->Fill(255);
    }
    FParams->FileName = FileName;
    FParams->FileType = FileType;
    if (AttachedImaging()) {
        AttachedImaging()->SetDPI(FParams->DpiX, FParams->DpiY);
        AttachedImaging()->ImageChange();
        AttachedImaging()->Update();
    } else {
        Bitmap()->SetModified(true);
    }
}

// A PNG or TIFF reader hands its alpha to the mask itself: refilling would wipe it.
bool TImagingIO::MaskFilledByReader(int32_t FileType) const
{
    if (FileType == ioTIFF)
        return Mask() && !Mask()->IsEmpty();
    // The GIF reader hands its transparency to the mask without saying so.
    return FileType == ioGIF && Mask() && Mask()->Width() == Bitmap()->Width();
}

void TImagingIO::LoadFile(const std::string& FileName, int32_t FileType)
{
    FAborting = false;
    FAbortReason.clear();
    if (!Bitmap())
        return;
    BeforeLoad();
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    // The PNG, GIF, TIFF, icon and cursor readers hand their alpha to the mask:
    // refilling would wipe it.
    const bool filledMask = RunReader(stream, FileType, false);
    AfterLoad(FileType, FileName, filledMask);
}

void TImagingIO::LoadStream(TStream& Stream, int32_t FileType)
{
    FAborting = false;
    FAbortReason.clear();
    if (!Bitmap())
        return;
    BeforeLoad();
    int64_t payloadEnd = -1;
    if (FileType == ioJPEG) {
        // A leading "JFIF" header is taken whatever StreamHeaders says.
        const int64_t start = Stream.Position();
        std::vector<uint8_t> head = Peek(Stream, StreamHeaderSize);
        if (head.size() == StreamHeaderSize && std::memcmp(head.data(), "JFIF", 4) == 0) {
            if (!ReadStreamHeader(Stream, "JFIF", 4, payloadEnd))
                return;
        } else {
            Stream.Seek(start, soBeginning);
        }
    } else if (FileType == ioTIFF && FStreamHeaders) {
        if (!ReadStreamHeader(Stream, "TIFF", 4, payloadEnd))
            return;
    } else if (FileType == ioPCX && FStreamHeaders) {
        std::vector<uint8_t> head = Peek(Stream, 4);
        if (head.size() < 4 || std::memcmp(head.data(), "PCX", 3) != 0) {
            Abort("Missing PCX stream header");
            return;
        }
        if (head[3] == '2') {
            if (!ReadStreamHeader(Stream, "PCX2", 4, payloadEnd))
                return;
        } else {
            Stream.Seek(4, soCurrent); // the older 4-byte header; the rest is the payload
        }
    }
    const bool filledMask = RunReader(Stream, FileType, false, payloadEnd);
    if (payloadEnd >= 0)
        Stream.Seek(payloadEnd, soBeginning);
    AfterLoad(FileType, "", filledMask);
}

// Reads the 12-byte header; a payload size that is negative or runs past the stream
// aborts before anything is read or allocated.
bool TImagingIO::ReadStreamHeader(TStream& Stream, const char* Magic, size_t MagicLen, int64_t& PayloadEnd)
{
    uint8_t head[StreamHeaderSize];
    const int64_t start = Stream.Position();
    if (Stream.Read(head, int64_t(StreamHeaderSize)) != int64_t(StreamHeaderSize) ||
        std::memcmp(head, Magic, MagicLen) != 0) {
        Abort("Missing stream header");
        return false;
    }
    const int64_t size = int32_t(GetU32LE(head + 8));
    if (size < 0 || size > Stream.Size() - (start + int64_t(StreamHeaderSize))) {
        Abort("Bad stream header size");
        return false;
    }
    PayloadEnd = start + int64_t(StreamHeaderSize) + size;
    return true;
}

bool TImagingIO::PrepareSave()
{
    FAborting = false;
    FAbortReason.clear();
    if (!Bitmap())
        return false;
    if (Bitmap()->PixelFormat() != pf24bit && Bitmap()->PixelFormat() != pf1bit)
        Bitmap()->SetPixelFormat(pf24bit);
    return true;
}

// The APP13 step of a JPEG save; false when the IPTC block cannot be written.
bool TImagingIO::PrepareJpegMarkers()
{
    TIOParamsVals& p = *FParams;
    if (!p.IPTCInfo->Modified)
        return true;
    std::vector<uint8_t> block;
    p.IPTCInfo->SaveToBuffer(block);
    const int32_t i = p.JpegMarkers->IndexOf(0xED);
    if (i >= 0)
        block = IEMergeIPTCResource(p.JpegMarkers->MarkerData(i), size_t(p.JpegMarkers->MarkerLength(i)), block);
    if (block.size() > IEMaxMarkerLength) {
        Abort("The IPTC block is too large for a JPEG marker");
        return false;
    }
    if (i >= 0)
        p.JpegMarkers->SetMarker(i, 0xED, block.data(), block.size());
    else
        p.JpegMarkers->AddMarker(0xED, block.data(), block.size());
    return true;
}

void TImagingIO::RunWriter(TStream& Stream, int32_t FileType)
{
    TIEWriteProc writer = BuiltInWriter(FileType);
    if (!writer) {
        const TFileFormatEntry* e = FindFileFormatEntry(FileType);
        writer = e ? e->WriteProc : nullptr;
    }
    if (!writer) {
        Abort(std::string("No writer for ") + FormatName(FileType) + " files in this build");
        return;
    }
    TProgressRec progress = MakeProgress();
    if (FileType == ioPNG)
        WritePngStream(Stream, *Bitmap(), *FParams, progress, Mask());
    else
        writer(Stream, *Bitmap(), *FParams, progress);
}

// The filters report a failed write through the abort flag (or their own error); the
// stream knows the system's reason, and that is what the save raises. An abort for
// any other reason leaves the old file as it was, without raising.
void TImagingIO::CommitUnlessAborted(TSafeFileStream& Stream, const std::function<void()>& Writer)
{
    try {
        Writer();
        Stream.RaiseIfFailed();
        if (!FAborting)
            Stream.Commit();
    } catch (...) {
        FAborting = true;
        if (Stream.Failed()) {
            FAbortReason = Stream.FailureMessage();
            Stream.RaiseIfFailed();
        }
        throw;
    }
}

void TImagingIO::SaveFile(const std::string& FileName, int32_t FileType)
{
    if (!PrepareSave())
        return;
    if (FileType == ioJPEG && !PrepareJpegMarkers())
        return;
    if (!BuiltInWriter(FileType) && !(FindFileFormatEntry(FileType) && FindFileFormatEntry(FileType)->WriteProc)) {
        Abort(std::string("No writer for ") + FormatName(FileType) + " files in this build");
        return;
    }
    // Written beside the target and renamed over it only when the whole write
    // succeeded: an abort or an exception leaves the old file as it was.
    TSafeFileStream stream(FileName);
    CommitUnlessAborted(stream, [&] { RunWriter(stream, FileType); });
}

void TImagingIO::SaveStream(TStream& Stream, int32_t FileType)
{
    if (!PrepareSave())
        return;
    if (FileType == ioJPEG && !PrepareJpegMarkers())
        return;
    const bool header = FStreamHeaders && (FileType == ioJPEG || FileType == ioTIFF || FileType == ioPCX);
    int64_t headerPos = Stream.Position();
    if (header && FileType != ioPCX) {
        uint8_t head[StreamHeaderSize] = {};
        std::memcpy(head, FileType == ioJPEG ? "JFIF" : "TIFF", 4);
        Stream.WriteBuffer(head, FileType == ioJPEG ? int64_t(StreamHeaderSize) : 5);
        if (FileType != ioJPEG)
            Stream.Seek(headerPos + int64_t(StreamHeaderSize), soBeginning);
    } else if (header) {
        Stream.Seek(headerPos + int64_t(StreamHeaderSize), soBeginning); // PCX: written after success
    }
    RunWriter(Stream, FileType);
    if (header && (FileType != ioPCX || !FAborting)) {
        const int64_t end = Stream.Position();
        Stream.Seek(headerPos, soBeginning);
        uint8_t head[StreamHeaderSize] = {};
        std::memcpy(head, FileType == ioJPEG ? "JFIF" : FileType == ioTIFF ? "TIFF" : "PCX2", 4);
        const size_t magic = FileType == ioJPEG ? 8 : 5;
        Stream.WriteBuffer(head, int64_t(magic));
        Stream.Seek(headerPos + 8, soBeginning);
        Stream.WriteU32LE(uint32_t(end - headerPos - int64_t(StreamHeaderSize)));
        Stream.Seek(end, soBeginning);
    }
}

void TImagingIO::JpegAfterRead()
{
    TIOParamsVals& p = *FParams;
    int32_t i = p.JpegMarkers->IndexOf(0xED);
    if (i >= 0)
        p.IPTCInfo->LoadFromBuffer(p.JpegMarkers->MarkerData(i), p.JpegMarkers->MarkerLength(i));
    i = p.JpegMarkers->IndexOf(0xE1);
    if (i >= 0 && IEReadExifMarker(p.JpegMarkers->MarkerData(i), size_t(p.JpegMarkers->MarkerLength(i)), p) &&
        p.DpiX == 1 && p.DpiY == 1) {
        const double f = p.EXIF_ResolutionUnit == 3 ? 2.54 : 1.0;
        const double x = p.EXIF_XResolution * f, y = p.EXIF_YResolution * f;
        // An untrusted double is used only when it converts to a sane resolution.
        if (std::isfinite(x) && std::isfinite(y) && x >= 1.0 && x < 65536.0 && y >= 1.0 && y < 65536.0) {
            p.DpiX = int32_t(x);
            p.DpiY = int32_t(y);
        }
    }
}

void TImagingIO::AdjustDPI()
{
    TIOParamsVals& p = *FParams;
    if (!Bitmap() || p.DpiX == p.DpiY || p.DpiX < 1 || p.DpiY < 1)
        return;
    // 24-bit rows and 1-bit rows (a fax's 204 x 98 dpi is the common case) are
    // resampled; other depths are left alone.
    const bool oneBit = Bitmap()->PixelFormat() == pf1bit;
    if ((!oneBit && Bitmap()->PixelFormat() != pf24bit) || Bitmap()->Width() < 1 || Bitmap()->Height() < 1)
        return;
    const double factor = double(p.DpiY) / double(p.DpiX);
    if (factor > 16.0 || factor < 1.0 / 16.0)
        return; // not a real resolution pair
    const int32_t w = Bitmap()->Width(), h = Bitmap()->Height();
    int64_t newW = w, newH = h;
    if (h >= w)
        newW = int64_t(double(w) / p.DpiX * p.DpiY);
    else
        newH = int64_t(double(h) / p.DpiY * p.DpiX);
    if (newW < 1 || newH < 1 || newW > MaxPixelSide || newH > MaxPixelSide || newW * newH > MaxPixelCount)
        return;
    TBitmap result;
    TProgressRec progress = MakeProgress();
    if (oneBit)
        IEResample1Bit(*Bitmap(), result, int32_t(newW), int32_t(newH), 9);
    else
        IEFastLinearResample(*Bitmap(), result, int32_t(newW), int32_t(newH), &progress);
    CopyBitmap(result, *Bitmap());
    if (Mask() && !Mask()->IsEmpty()) {
        if (Mask()->Full()) {
            Mask()->AllocateBits(int32_t(newW), int32_t(newH), 8);
            Mask()->Fill(255);
        } else if (Mask()->BitsPerPixel() == 8) {
            TIEMask resized;
            IEFastMaskResample(*Mask(), resized, int32_t(newW), int32_t(newH));
            Mask()->Assign(&resized);
        }
    }
    if (h >= w) {
        p.DpiX = p.DpiY;
        p.Width = int32_t(newW);
    } else {
        p.DpiY = p.DpiX;
        p.Height = int32_t(newH);
    }
}

// ---- Dispatch -----------------------------------------------------------------------

namespace {

struct TExtRoute {
    const char* Exts;
    int32_t Load; // 0: registry
    int32_t Save;
};

// Compared exactly with the lower-cased extension; the first match wins.
const TExtRoute ExtRoutes[] = {
    {".jpg .jpeg .jpe", ioJPEG, ioJPEG},
    {".png", ioPNG, ioPNG},
    {".tif .tiff .fax", ioTIFF, ioTIFF},
    {".pcx", ioPCX, ioPCX},
    {".gif", ioGIF, ioGIF},
    {".wmf .emf", ioWMF, 0},
    {".bmp .dib .rle", ioBMP, ioBMP},
    {".cur", ioCUR, 0},
    {".ico", ioICO, 0},
    {".tga .targa .vda .icb .vst .win", ioTGA, ioTGA},
    {".pxm .ppm .pgm .pbm", ioPXM, ioPXM},
};

const TExtRoute* RouteFor(const std::string& ext)
{
    if (ext.empty())
        return nullptr;
    for (const TExtRoute& r : ExtRoutes) {
        std::string list = std::string(" ") + r.Exts + " ";
        if (list.find(" " + ext + " ") != std::string::npos)
            return &r;
    }
    return nullptr;
}

} // namespace

void TImagingIO::RegistryLoad(const std::string& FileName, const std::string& Ext)
{
    FAborting = false;
    FAbortReason.clear();
    const TFileFormatEntry* e = FindFileFormatEntryByExt(Ext);
    if (!e || !e->ReadProc) {
        Abort("No reader for the extension \"" + Ext + "\"");
        return;
    }
    if (!Bitmap())
        return;
    FParams->FileType = 0;
    BeforeLoad();
    FParams->FileName = FileName;
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    TProgressRec progress = MakeProgress();
    e->ReadProc(stream, *Bitmap(), *FParams, false, progress);
    AfterLoad(e->FileType, FileName, false);
}

void TImagingIO::RegistrySave(const std::string& FileName, const std::string& Ext)
{
    FAborting = false;
    FAbortReason.clear();
    const TFileFormatEntry* e = FindFileFormatEntryByExt(Ext);
    if (!e || !e->WriteProc) {
        Abort("No writer for the extension \"" + Ext + "\"");
        return;
    }
    if (!PrepareSave())
        return;
    FParams->FileType = e->FileType;
    FParams->FileName = FileName;
    TSafeFileStream stream(FileName);
    TProgressRec progress = MakeProgress();
    CommitUnlessAborted(stream, [&] { e->WriteProc(stream, *Bitmap(), *FParams, progress); });
}

void TImagingIO::LoadFromFile(const std::string& FileName)
{
    const std::string ext = ExtOf(FileName);
    const TExtRoute* r = RouteFor(ext);
    if (!r)
        return RegistryLoad(FileName, ext);
    if (r->Load == ioWMF)
        return ImportMetafile(FileName, -1, -1);
    LoadFile(FileName, r->Load);
}

void TImagingIO::SaveToFile(const std::string& FileName)
{
    const std::string ext = ExtOf(FileName);
    const TExtRoute* r = RouteFor(ext);
    if (!r || r->Save == 0)
        return RegistrySave(FileName, ext);
    SaveFile(FileName, r->Save);
}

void TImagingIO::LoadFromFileFormat(const std::string& FileName, int32_t FileType)
{
    if (FileType == ioWMF || FileType == ioEMF)
        return ImportMetafile(FileName, -1, -1);
    if (FileType >= 1 && FileType <= 12)
        return LoadFile(FileName, FileType);
    const TFileFormatEntry* e = FindFileFormatEntry(FileType);
    FAborting = false;
    if (!e || !e->ReadProc)
        return Abort("No reader for format " + IntToStr(FileType));
    LoadFile(FileName, FileType);
}

void TImagingIO::LoadFromStreamFormat(TStream& Stream, int32_t FileType)
{
    if ((FileType >= 1 && FileType <= 8) || FileType == ioTGA || FileType == ioPXM)
        return LoadStream(Stream, FileType);
    FAborting = false;
    const TFileFormatEntry* e = FindFileFormatEntry(FileType);
    if (!e || !e->ReadProc)
        return Abort("No stream reader for format " + IntToStr(FileType));
    LoadStream(Stream, FileType);
}

void TImagingIO::LoadFromStream(TStream& Stream)
{
    const int64_t pos = Stream.Position();
    const int32_t id = FindStreamFormat(Stream);
    Stream.Seek(pos, soBeginning);
    LoadFromStreamFormat(Stream, id);
}

void TImagingIO::SaveToStream(TStream& Stream, int32_t FileType)
{
    if ((FileType >= 1 && FileType <= 5) || FileType == ioPNG || FileType == ioTGA || FileType == ioPXM)
        return SaveStream(Stream, FileType);
    FAborting = false;
    const TFileFormatEntry* e = FindFileFormatEntry(FileType);
    if (!e || !e->WriteProc)
        return Abort("No stream writer for format " + IntToStr(FileType));
    SaveStream(Stream, FileType);
}

void TImagingIO::ParamsFromFile(const std::string& FileName)
{
    ParamsFromFileFormat(FileName, FindFileFormat(FileName, false));
}

void TImagingIO::ParamsFromStream(TStream& Stream)
{
    const int64_t pos = Stream.Position();
    const int32_t id = FindStreamFormat(Stream);
    Stream.Seek(pos, soBeginning);
    ParamsFromStreamFormat(Stream, id);
}

void TImagingIO::ParamsFromFileFormat(const std::string& FileName, int32_t FileType)
{
    FAborting = false;
    FAbortReason.clear();
    FParams->FileType = FileType;
    BeforeLoad();
    try {
        TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
        TBitmap scratch;
        TBitmap* saved = Bitmap();
        FAttachment.ExchangeBitmap(saved ? saved : &scratch);
        try {
            RunReader(stream, FileType, true);
        } catch (...) {
            FAttachment.ExchangeBitmap(saved);
            throw;
        }
        FAttachment.ExchangeBitmap(saved);
    } catch (...) {
        FParams->FileType = 0;
    }
    if (FAborting)
        FParams->FileType = 0;
    FParams->FileName = FileName;
}

void TImagingIO::ParamsFromStreamFormat(TStream& Stream, int32_t FileType)
{
    FAborting = false;
    FAbortReason.clear();
    FParams->FileType = FileType;
    BeforeLoad();
    TBitmap scratch;
    TBitmap* saved = Bitmap();
    FAttachment.ExchangeBitmap(saved ? saved : &scratch);
    try {
        RunReader(Stream, FileType, true);
    } catch (...) {
        FParams->FileType = 0;
    }
    FAttachment.ExchangeBitmap(saved);
    if (FAborting)
        FParams->FileType = 0;
}

int32_t TImagingIO::FindFileFormat(const std::string& FileName, bool VerifyExtension)
{
    int32_t id;
    {
        TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
        id = FindStreamFormat(stream);
    }
    if (!VerifyExtension)
        return id;
    const TFileFormatEntry* e = FindFileFormatEntryByExt(ExtOf(FileName));
    if (!e)
        return 0;
    if (id == ioICO || id == ioCUR)
        return e->FileType == ioICO || e->FileType == ioCUR ? e->FileType : 0;
    return id == e->FileType ? id : 0;
}

int32_t TImagingIO::FindStreamFormat(TStream& Stream)
{
    const int64_t pos = Stream.Position();
    const int64_t size = Stream.Size();
    auto restore = [&] { Stream.Seek(pos, soBeginning); };
    for (const TFileFormatEntry& e : FileFormatRegistry()) {
        if (e.DetectProc) {
            bool hit = e.DetectProc(Stream);
            restore();
            if (hit)
                return e.FileType;
        }
    }
    std::vector<uint8_t> b = Peek(Stream, 4);
    b.resize(4, 0);
    auto starts = [&](const char* s, size_t n) { return std::memcmp(b.data(), s, n) == 0; };
    if (size > 12 && starts("JFIF", 4))
        return ioJPEG;
    if (size > 13 && starts("GIF", 3))
        return ioGIF;
    if (size > 12 && starts("PCX2", 4))
        return ioPCX;
    if (size > 4 && starts("PCX\0", 4))
        return ioPCX;
    if (size > 14 && starts("BM", 2))
        return ioBMP;
    if (size > 128 && b[0] == 10 && b[1] <= 5)
        return ioPCX;
    if (size > 12 && starts("TIFF", 4))
        return ioTIFF;
    if (size > 8 && (starts("II", 2) || starts("MM", 2)))
        return ioTIFF;
    if (size > 8 && IsPngStream(Stream))
        return ioPNG;
    if (IsIcoStream(Stream))
        return ioICO;
    if (IsCurStream(Stream))
        return ioCUR;
    if (IsTgaStream(Stream))
        return ioTGA;
    if (IsPnmStream(Stream))
        return ioPXM;
    const bool jpeg = JpegFindStartOfImage(Stream) >= 0;
    restore();
    return jpeg ? ioJPEG : 0;
}

void TImagingIO::ImportMetafile(const std::string& FileName, int32_t Width, int32_t Height)
{
    FAborting = false;
    FAbortReason.clear();
    if (Width == 0 || Height == 0)
        return;
    BeforeLoad();
    // No metafile renderer exists on this platform: the import fails cleanly.
    Abort("Metafile import is not available on this platform");
}

// ---- Per-format entry points -------------------------------------------------------

void TImagingIO::LoadFromFileTiff(const std::string& F) { LoadFile(F, ioTIFF); }
void TImagingIO::LoadFromStreamTiff(TStream& S) { LoadStream(S, ioTIFF); }
void TImagingIO::SaveToFileTiff(const std::string& F) { SaveFile(F, ioTIFF); }
void TImagingIO::SaveToStreamTiff(TStream& S) { SaveStream(S, ioTIFF); }
void TImagingIO::LoadFromFileGif(const std::string& F) { LoadFile(F, ioGIF); }
void TImagingIO::LoadFromStreamGif(TStream& S) { LoadStream(S, ioGIF); }
void TImagingIO::SaveToFileGif(const std::string& F) { SaveFile(F, ioGIF); }
void TImagingIO::SaveToStreamGif(TStream& S) { SaveStream(S, ioGIF); }
void TImagingIO::LoadFromFileJpeg(const std::string& F) { LoadFile(F, ioJPEG); }
void TImagingIO::LoadFromStreamJpeg(TStream& S) { LoadStream(S, ioJPEG); }
void TImagingIO::SaveToFileJpeg(const std::string& F) { SaveFile(F, ioJPEG); }
void TImagingIO::SaveToStreamJpeg(TStream& S) { SaveStream(S, ioJPEG); }
void TImagingIO::LoadFromFilePcx(const std::string& F) { LoadFile(F, ioPCX); }
void TImagingIO::LoadFromStreamPcx(TStream& S) { LoadStream(S, ioPCX); }
void TImagingIO::SaveToFilePcx(const std::string& F) { SaveFile(F, ioPCX); }
void TImagingIO::SaveToStreamPcx(TStream& S) { SaveStream(S, ioPCX); }
void TImagingIO::LoadFromFileBmp(const std::string& F) { LoadFile(F, ioBMP); }
void TImagingIO::LoadFromStreamBmp(TStream& S) { LoadStream(S, ioBMP); }
void TImagingIO::SaveToFileBmp(const std::string& F) { SaveFile(F, ioBMP); }
void TImagingIO::SaveToStreamBmp(TStream& S) { SaveStream(S, ioBMP); }
void TImagingIO::LoadFromFileIco(const std::string& F) { LoadFile(F, ioICO); }
void TImagingIO::LoadFromStreamIco(TStream& S) { LoadStream(S, ioICO); }
void TImagingIO::LoadFromFileCur(const std::string& F) { LoadFile(F, ioCUR); }
void TImagingIO::LoadFromStreamCur(TStream& S) { LoadStream(S, ioCUR); }
void TImagingIO::LoadFromFilePng(const std::string& F) { LoadFile(F, ioPNG); }
void TImagingIO::LoadFromStreamPng(TStream& S) { LoadStream(S, ioPNG); }
void TImagingIO::SaveToFilePng(const std::string& F) { SaveFile(F, ioPNG); }
void TImagingIO::SaveToStreamPng(TStream& S) { SaveStream(S, ioPNG); }
void TImagingIO::LoadFromFileTga(const std::string& F) { LoadFile(F, ioTGA); }
void TImagingIO::LoadFromStreamTga(TStream& S) { LoadStream(S, ioTGA); }
void TImagingIO::SaveToFileTga(const std::string& F) { SaveFile(F, ioTGA); }
void TImagingIO::SaveToStreamTga(TStream& S) { SaveStream(S, ioTGA); }
void TImagingIO::LoadFromFilePxm(const std::string& F) { LoadFile(F, ioPXM); }
void TImagingIO::LoadFromStreamPxm(TStream& S) { LoadStream(S, ioPXM); }
void TImagingIO::SaveToFilePxm(const std::string& F) { SaveFile(F, ioPXM); }
void TImagingIO::SaveToStreamPxm(TStream& S) { SaveStream(S, ioPXM); }

} // namespace kv
