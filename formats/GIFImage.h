// GIFImage: the GIF object model reached through the graphic-class registry. A GIF
// stream is held as a tree of items (header with its global colour table, sub-images
// with their extensions and local tables); each item reads and writes its own block.
// Everything lives in kv::GIFImage because unit KvGIF has a TGIFImage of its own.
#pragma once

#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "platform/SysUtils.h"
#include "platform/Types.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv {
class TIcon;
}

namespace kv::GIFImage {

class TGIFImage;
class TGIFSubImage;
class TGIFHeader;
class TGIFGraphicControlExtension;

KV_DECLARE_EXCEPTION(GIFException, EInvalidGraphic)

enum TGIFVersion : uint8_t { gvUnknown, gv87a, gv89a };
extern const char* const GIFVersions[3]; // "", "87a", "89a"

using TGIFSeverity = int32_t;
using TGIFWarning = std::function<void(TObject* Sender, TGIFSeverity Severity, const std::string& Message)>;

struct TGIFColor {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    friend bool operator==(const TGIFColor&, const TGIFColor&) = default;
};

// A logical palette entry as the reduction routines and palette handles carry it.
struct TGIFPaletteEntry {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    uint8_t Flags = 0;
    friend bool operator==(const TGIFPaletteEntry&, const TGIFPaletteEntry&) = default;
};
using TGIFPalette = std::vector<TGIFPaletteEntry>;

// ---------------------------------------------------------------------------------------
// Items and lists

class TGIFItem : public TPersistent {
public:
    explicit TGIFItem(TGIFImage* AImage) : FImage(AImage) {}
    TGIFImage* Image() const { return FImage; }
    virtual TGIFVersion Version() const { return gv87a; }
    virtual void Warning(TGIFSeverity Severity, const std::string& Message);
    virtual void SaveToStream(TStream& Stream) = 0;
    virtual void LoadFromStream(TStream& Stream) = 0;
    void SaveToFile(const std::string& FileName);
    void LoadFromFile(const std::string& FileName);
    std::string ClassName() const override { return "TGIFItem"; }

protected:
    TGIFImage* FImage;
};

class TGIFColorMap : public TPersistent {
public:
    static constexpr int32_t MaxColors = 256;

    int32_t Count() const { return FCount; }
    int32_t Capacity() const { return FCapacity; }
    bool Optimized() const { return FOptimized; }
    void SetOptimized(bool Value) { FOptimized = Value; }
    const uint8_t* Data() const { return FData.data(); }

    int32_t Add(TGIFColor Color); // "Color table overflow" on a full table
    int32_t AddUnique(TGIFColor Color);
    int32_t IndexOf(TGIFColor Color) const;
    void Delete(int32_t Index); // "Invalid color index"
    void Clear();
    TGIFColor Colors(int32_t Index); // warns and uses 0 out of range; "Color table is empty"
    void SetColors(int32_t Index, TGIFColor Color);
    void ImportRGB(const uint32_t* RGBQuads, int32_t Count); // 0x00RRGGBB quads (B,G,R,0 in memory)
    void ImportPalette(const TGIFPalette& Palette);
    TGIFPalette ExportPalette() const; // entries with flag 4
    int32_t BitsPerPixel() const;      // smallest n with 2^n >= Count, 1 at least; 0 when empty
    void Optimize();
    void Changed() {}
    void Assign(TPersistent* Source) override;
    void LoadFromStream(TStream& Stream, int32_t Count);
    void SaveToStream(TStream& Stream) const; // padded to 2^BitsPerPixel entries
    virtual void Warning(TGIFSeverity Severity, const std::string& Message) = 0;
    std::string ClassName() const override { return "TGIFColorMap"; }

protected:
    // (use count, old index) over every pixel that uses this table.
    virtual void BuildHistogram(std::vector<std::pair<uint32_t, int32_t>>& Histogram) = 0;
    virtual void MapImages(const std::array<uint8_t, 256>& Map) = 0;

private:
    void SetCount(int32_t Value);
    std::array<uint8_t, 256 * 3> FData{};
    int32_t FCount = 0;
    int32_t FCapacity = 0;
    bool FOptimized = false;
};

class TGIFGlobalColorMap : public TGIFColorMap {
public:
    explicit TGIFGlobalColorMap(TGIFHeader* AHeader) : FHeaderItem(AHeader) {}
    void Warning(TGIFSeverity Severity, const std::string& Message) override;

protected:
    void BuildHistogram(std::vector<std::pair<uint32_t, int32_t>>& Histogram) override;
    void MapImages(const std::array<uint8_t, 256>& Map) override;

private:
    TGIFHeader* FHeaderItem;
};

class TGIFLocalColorMap : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFSubImage* ASubImage) : FSubImage(ASubImage) {}
    void Warning(TGIFSeverity Severity, const std::string& Message) override;

protected:
    void BuildHistogram(std::vector<std::pair<uint32_t, int32_t>>& Histogram) override;
    void MapImages(const std::array<uint8_t, 256>& Map) override;

private:
    [[maybe_unused]] TGIFSubImage* FSubImage; // the sub-image that owns this list
};

class TGIFHeader : public TGIFItem {
public:
    explicit TGIFHeader(TGIFImage* AImage);
    TGIFVersion Version() const override;
    void SaveToStream(TStream& Stream) override;
    void LoadFromStream(TStream& Stream) override;
    void Assign(TPersistent* Source) override;
    void Clear();
    void Prepare(); // recompute Packed before writing

    uint16_t Width() const { return FWidth; }
    uint16_t Height() const { return FHeight; }
    void SetWidth(uint16_t V) { FWidth = V; }
    void SetHeight(uint16_t V) { FHeight = V; }
    uint8_t Packed() const { return FPacked; }
    uint8_t BackgroundColorIndex() const { return FBackgroundColorIndex; }
    void SetBackgroundColorIndex(uint8_t V) { FBackgroundColorIndex = V; }
    uint8_t AspectRatio() const { return FAspectRatio; }
    void SetAspectRatio(uint8_t V) { FAspectRatio = V; }
    TGIFGlobalColorMap& ColorMap() { return FColorMap; }
    std::string ClassName() const override { return "TGIFHeader"; }

private:
    uint16_t FWidth = 0;
    uint16_t FHeight = 0;
    uint8_t FPacked = 0;
    uint8_t FBackgroundColorIndex = 0;
    uint8_t FAspectRatio = 0;
    TGIFGlobalColorMap FColorMap;
};

class TGIFExtension;

// A class reference for extensions: the label, a factory and the lookup operation
// that descends to a more specific class by looking at the bytes after the label.
struct TGIFExtensionClass {
    const char* Name;
    uint8_t Label;
    std::unique_ptr<TGIFExtension> (*Create)(TGIFSubImage* SubImage);
    const TGIFExtensionClass* (*FindSubExtension)(const TGIFExtensionClass* Self, TStream& Stream);
};

class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage* ASubImage);
    TGIFVersion Version() const override { return gv89a; }
    TGIFSubImage* SubImage() const { return FSubImage; }
    virtual const TGIFExtensionClass* ExtensionClass() const = 0;
    uint8_t ExtensionType() const { return ExtensionClass()->Label; }
    void SaveToStream(TStream& Stream) override; // "!" and the label
    void LoadFromStream(TStream& Stream) override;
    // A copy for another sub-image.
    virtual std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* ASubImage) const = 0;

protected:
    [[maybe_unused]] TGIFSubImage* FSubImage; // the sub-image that owns this list
};

class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    explicit TGIFGraphicControlExtension(TGIFSubImage* ASubImage);
    ~TGIFGraphicControlExtension() override;
    const TGIFExtensionClass* ExtensionClass() const override { return &Class; }
    void SaveToStream(TStream& Stream) override;
    void LoadFromStream(TStream& Stream) override;
    std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* ASubImage) const override;

    bool Transparent() const { return (FPacked & 0x01) != 0; }
    void SetTransparent(bool Value);
    uint8_t TransparentColorIndex() const { return FTransparentColorIndex; }
    void SetTransparentColorIndex(uint8_t Value);
    uint16_t Delay() const { return FDelay; }
    void SetDelay(uint16_t Value) { FDelay = Value; }
    bool UserInput() const { return (FPacked & 0x02) != 0; }
    void SetUserInput(bool Value) { FPacked = uint8_t(Value ? (FPacked | 0x02) : (FPacked & ~0x02)); }
    uint8_t Disposal() const { return uint8_t((FPacked >> 2) & 7); }
    void SetDisposal(uint8_t Value) { FPacked = uint8_t((FPacked & ~0x1C) | ((Value & 7) << 2)); }
    uint8_t Packed() const { return FPacked; }
    std::string ClassName() const override { return "TGIFGraphicControlExtension"; }

private:
    uint8_t FBlockSize = 4;
    uint8_t FPacked = 0;
    uint16_t FDelay = 0;
    uint8_t FTransparentColorIndex = 0;
    uint8_t FTerminator = 0;
};

// Disposal methods of the graphic control extension.
constexpr uint8_t dmNone = 0;
constexpr uint8_t dmNoDisposal = 1;
constexpr uint8_t dmBackground = 2;
constexpr uint8_t dmPrevious = 3;

class TGIFTextExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    explicit TGIFTextExtension(TGIFSubImage* ASubImage) : TGIFExtension(ASubImage) {}
    const TGIFExtensionClass* ExtensionClass() const override { return &Class; }
    void SaveToStream(TStream& Stream) override;
    void LoadFromStream(TStream& Stream) override;
    std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* ASubImage) const override;
    TStringList& Text() { return FText; }
    std::string ClassName() const override { return "TGIFTextExtension"; }

    uint8_t BlockSize = 12;
    uint16_t Left = 0, Top = 0, GridWidth = 0, GridHeight = 0;
    uint8_t CharWidth = 0, CharHeight = 0, ForegroundColorIndex = 0, BackgroundColorIndex = 0;

private:
    TStringList FText;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    explicit TGIFCommentExtension(TGIFSubImage* ASubImage) : TGIFExtension(ASubImage) {}
    const TGIFExtensionClass* ExtensionClass() const override { return &Class; }
    void SaveToStream(TStream& Stream) override;
    void LoadFromStream(TStream& Stream) override;
    std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* ASubImage) const override;
    TStringList& Text() { return FText; }
    std::string ClassName() const override { return "TGIFCommentExtension"; }

private:
    TStringList FText;
};

using TGIFApplicationRec = std::array<uint8_t, 11>; // 8-byte identifier, 3-byte code

class TGIFApplicationExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    explicit TGIFApplicationExtension(TGIFSubImage* ASubImage) : TGIFExtension(ASubImage) {}
    const TGIFExtensionClass* ExtensionClass() const override { return &Class; }
    void SaveToStream(TStream& Stream) override;
    void LoadFromStream(TStream& Stream) override;
    std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* ASubImage) const override;
    const TGIFApplicationRec& Ident() const { return FIdent; }
    void SetIdent(const TGIFApplicationRec& V) { FIdent = V; }
    std::string ClassName() const override { return "TGIFApplicationExtension"; }

protected:
    virtual void SaveData(TStream& Stream);
    virtual void LoadData(TStream& Stream);
    TGIFApplicationRec FIdent{};
};

struct TGIFBlock {
    uint8_t Size = 0;
    std::vector<uint8_t> Data;
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    static const TGIFExtensionClass Class;
    explicit TGIFUnknownAppExtension(TGIFSubImage* ASubImage) : TGIFApplicationExtension(ASubImage) {}
    const TGIFExtensionClass* ExtensionClass() const override { return &Class; }
    std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* ASubImage) const override;
    std::vector<TGIFBlock>& Blocks() { return FBlocks; }
    std::string ClassName() const override { return "TGIFUnknownAppExtension"; }

protected:
    void SaveData(TStream& Stream) override;
    void LoadData(TStream& Stream) override;

private:
    std::vector<TGIFBlock> FBlocks;
};

class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    static const TGIFExtensionClass Class;
    explicit TGIFAppExtNSLoop(TGIFSubImage* ASubImage);
    const TGIFExtensionClass* ExtensionClass() const override { return &Class; }
    std::unique_ptr<TGIFExtension> Clone(TGIFSubImage* ASubImage) const override;
    uint16_t Loops() const { return FLoops; }
    void SetLoops(uint16_t V) { FLoops = V; }
    uint32_t BufferSize() const { return FBufferSize; }
    void SetBufferSize(uint32_t V) { FBufferSize = V; }
    std::string ClassName() const override { return "TGIFAppExtNSLoop"; }

protected:
    void SaveData(TStream& Stream) override;
    void LoadData(TStream& Stream) override;

private:
    uint16_t FLoops = 0;
    uint32_t FBufferSize = 0;
};

// The two process-wide registries: label to class, application identifier to class.
// Lookups search from the last entry down.
const TGIFExtensionClass* FindExtensionClass(uint8_t Label);
const TGIFExtensionClass* FindAppExtensionClass(const TGIFApplicationRec& Ident);
void RegisterExtensionClass(const TGIFExtensionClass* Class);
void RegisterAppExtensionClass(const TGIFApplicationRec& Ident, const TGIFExtensionClass* Class);
// Positions the stream after "!" and answers the most specific class for the block
// that follows (nullptr: none); the stream position is restored.
const TGIFExtensionClass* FindExtension(TStream& Stream);

class TGIFExtensionList {
public:
    explicit TGIFExtensionList(TGIFSubImage* ASubImage) : FSubImage(ASubImage) {}
    int32_t Count() const { return int32_t(FItems.size()); }
    TGIFExtension* Extensions(int32_t Index) const { return FItems.at(size_t(Index)).get(); }
    TGIFExtension* Add(std::unique_ptr<TGIFExtension> Item);
    void Delete(int32_t Index);
    void Remove(TGIFExtension* Item);
    void Clear();
    void LoadFromStream(TStream& Stream, TGIFSubImage* Parent);
    void SaveToStream(TStream& Stream);

private:
    [[maybe_unused]] TGIFSubImage* FSubImage; // the sub-image that owns this list
    std::vector<std::unique_ptr<TGIFExtension>> FItems;
};

// The rendered forms of a sub-image (bitmap, mask, palette), made on demand and
// dropped whenever the pixels or the drawing options change.
struct TGIFRenderCache {
    ~TGIFRenderCache();
    std::unique_ptr<TBitmap> Bitmap;
    std::vector<uint8_t> Mask; // 1 bit a pixel, rows padded to 16 bits, set = transparent
    int32_t MaskStride = 0;
    bool HasMask = false;
    HPALETTE Palette = nullptr; // owned
};

class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFImage* AImage);
    ~TGIFSubImage() override;
    TGIFVersion Version() const override;
    void SaveToStream(TStream& Stream) override;
    void LoadFromStream(TStream& Stream) override;
    void Assign(TPersistent* Source) override;
    void Clear();
    bool Empty() const { return FData.empty(); }

    uint16_t Left() const { return FLeft; }
    uint16_t Top() const { return FTop; }
    uint16_t Width() const { return FWidth; }
    uint16_t Height() const { return FHeight; }
    void SetLeft(uint16_t V) { FLeft = V; }
    void SetTop(uint16_t V) { FTop = V; }
    void SetSize(uint16_t AWidth, uint16_t AHeight); // reallocates Data, zero-filled
    bool Interlaced() const { return (FPacked & 0x40) != 0; }
    void SetInterlaced(bool V) { FPacked = uint8_t(V ? (FPacked | 0x40) : (FPacked & ~0x40)); }
    uint8_t Packed() const { return FPacked; }
    void SetPacked(uint8_t V) { FPacked = V; }
    TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
    int32_t BitsPerPixel();
    int32_t ColorResolution();
    TGIFColorMap& ActiveColorMap();
    TGIFLocalColorMap& ColorMap() { return FColorMap; }
    TGIFExtensionList& Extensions() { return FExtensions; }
    std::vector<uint8_t>& Data() { return FData; }
    uint32_t DataSize() const { return uint32_t(FData.size()); }
    uint8_t Pixels(int32_t X, int32_t Y) const { return FData[size_t(Y) * FWidth + size_t(X)]; }
    bool Transparent() const { return FTransparent; }
    void SetTransparentFlag(bool V) { FTransparent = V; }
    TGIFGraphicControlExtension* GraphicControlExtension() const { return FGCE; }
    void SetGraphicControlExtension(TGIFGraphicControlExtension* V) { FGCE = V; }
    bool NeedMask() const { return FNeedMask; }
    void SetNeedMask(bool V) { FNeedMask = V; }
    // True after a load whose picture data ended before its last pixel.
    bool DataTruncated() const { return FDataTruncated; }
    // Drops the rendered bitmap, mask and palette.
    void FreeRender() { FRender.reset(); }
    TGIFRenderCache* RenderCache() { return FRender.get(); }
    TGIFRenderCache& EnsureRenderCache();
    std::string ClassName() const override { return "TGIFSubImage"; }

private:
    void AssignGraphic(TPersistent* Source); // bitmaps and other pictures, reduced to indices
    void ApplyIconMask(const TIcon& Icon);
    void Decode(TStream& Stream);
    void Encode(TStream& Stream);
    friend void DecodeSubImage(TGIFSubImage& SubImage, TStream& Stream);

    std::unique_ptr<TGIFRenderCache> FRender;
    bool FNeedMask = true;
    std::vector<uint8_t> FData;
    TGIFLocalColorMap FColorMap;
    uint8_t FSeparator = ',';
    uint16_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    uint8_t FPacked = 0;
    TGIFExtensionList FExtensions;
    bool FTransparent = false;
    bool FDataTruncated = false;
    TGIFGraphicControlExtension* FGCE = nullptr;
};

class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    void SaveToStream(TStream& Stream) override;
    void LoadFromStream(TStream& Stream) override;
};

class TGIFImageList {
public:
    explicit TGIFImageList(TGIFImage* AImage) : FImage(AImage) {}
    int32_t Count() const { return int32_t(FItems.size()); }
    TGIFSubImage* SubImages(int32_t Index) const { return FItems.at(size_t(Index)).get(); }
    TGIFSubImage* operator[](int32_t Index) const { return SubImages(Index); }
    int32_t Add(std::unique_ptr<TGIFSubImage> Item);
    void Delete(int32_t Index);
    void Clear();
    void LoadFromStream(TStream& Stream, TGIFImage* Parent);
    void SaveToStream(TStream& Stream);

private:
    TGIFImage* FImage;
    std::vector<std::unique_ptr<TGIFSubImage>> FItems;
};

// ---------------------------------------------------------------------------------------
// Codecs (GIFImage_Codec.cpp)

// Fills SubImage.Data() from an image-data block: code-size byte, sub-blocks, terminator.
void DecodeSubImage(TGIFSubImage& SubImage, TStream& Stream);
// Decodes into a caller's buffer of Width x Height bytes that already holds the fill
// value; warnings go to Warn. Raises GIFException on corrupt data. False when the data
// ended before every pixel was decoded (the rest keeps the fill value).
bool DecodeLZW(TStream& Stream, uint8_t* Data, int32_t Width, int32_t Height, bool Interlaced,
               const std::function<void(const std::string&)>& Warn);
// Writes one image-data block. Compression: 0 LZW, 1 RLE.
void EncodeImageData(TStream& Stream, int32_t BitsPerPixel, int32_t ColorCount, const uint8_t* Data, bool Interlaced,
                     int32_t Width, int32_t Height, uint8_t Compression);

// A write-only stream that packs bytes into data sub-blocks of at most 255 bytes;
// destroying it (or Flush) writes the pending partial block.
class TGIFWriter : public TStream {
public:
    explicit TGIFWriter(TStream& Stream) : FStream(Stream) {}
    ~TGIFWriter() override;
    int64_t Read(void*, int64_t) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    void SetSize(int64_t) override;
    void WriteByte(uint8_t Value);
    void Flush();

private:
    TStream& FStream;
    std::array<uint8_t, 256> FBuffer{};
    int32_t FCount = 1;
    bool FWritten = false;
};

// ---------------------------------------------------------------------------------------
// Colour reduction and dithering (GIFImage_Reduce.cpp)

enum TColorReduction : uint8_t {
    rmNone,
    rmWindows20,
    rmWindowsHalftone,
    rmWindowsGray4,
    rmMonochrome,
    rmGrayScale,
    rmNetscape,
    rmQuantize,
    rmQuantizeWindows,
    rmPalette
};
// The names used in the picture's settings.
constexpr uint8_t crNone = 0, crSystem20 = 1, crHalftone = 2, crGray4 = 3, crMonochrome = 4, crGray256 = 5,
                  crWeb216 = 6, crOctree = 7, crOctreeSystem = 8, crCustom = 9;

enum TDitherMode : uint8_t { dkNearest, dkFloydSteinberg, dkStucki, dkSierra, dkJaJuNi, dkSteveArche, dkBurkes };

TGIFPalette WebPalette();           // 216 entries, flags 0
TGIFPalette GrayPalette(int32_t N); // 256 greys or the 4 greys (0,128,192,255), flags 4
TGIFPalette MonochromePalette();    // black, white, flags 4
TGIFPalette SystemPalette20();      // the default 20 system colours
TGIFPalette HalftonePalette();      // the screen's halftone palette

class TColorLookup {
public:
    virtual ~TColorLookup() = default;
    // The palette index for a colour and the colour that index stands for.
    virtual int32_t Lookup(uint8_t Red, uint8_t Green, uint8_t Blue, TGIFColor& Chosen) = 0;
};

class TFastColorLookup : public TColorLookup {
public:
    explicit TFastColorLookup(const TGIFPalette& Palette);
    int32_t Lookup(uint8_t Red, uint8_t Green, uint8_t Blue, TGIFColor& Chosen) override;
    static uint16_t Key(uint8_t R, uint8_t G, uint8_t B)
    {
        return uint16_t((R >> 3) | ((G & 0xF8) << 2) | ((B & 0xF8) << 7));
    }

private:
    TGIFPalette FPalette;
    std::vector<uint16_t> FCache;
};

class TNetscapeColorLookup : public TColorLookup {
public:
    int32_t Lookup(uint8_t Red, uint8_t Green, uint8_t Blue, TGIFColor& Chosen) override;
};

class TGrayScaleLookup : public TColorLookup {
public:
    int32_t Lookup(uint8_t Red, uint8_t Green, uint8_t Blue, TGIFColor& Chosen) override;
};

class TMonochromeLookup : public TColorLookup {
public:
    int32_t Lookup(uint8_t Red, uint8_t Green, uint8_t Blue, TGIFColor& Chosen) override;
};

class TDitherEngine {
public:
    TDitherEngine(int32_t AWidth, TColorLookup& ALookup) : FWidth(AWidth), FLookup(ALookup) {}
    virtual ~TDitherEngine() = default;
    virtual int32_t Dither(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B);
    virtual void NextLine();
    int32_t Direction() const { return FDirection; }
    int32_t Column() const { return FColumn; }
    int32_t Width() const { return FWidth; }

protected:
    int32_t FDirection = 1;
    int32_t FColumn = 0;
    int32_t FWidth;
    TColorLookup& FLookup;
};

// Error diffusion over up to four error rows (the current one first), each Width + 6
// entries per channel so that offsets of +-3 stay inside.
class TErrorDiffusionDitherer : public TDitherEngine {
public:
    struct TWeight {
        int8_t Row;    // 0 current, 1 next, ...
        int8_t Offset; // relative to the scan direction
        int16_t Weight;
    };
    TErrorDiffusionDitherer(int32_t AWidth, TColorLookup& ALookup, int32_t ADivisor, std::vector<TWeight> AWeights,
                            int32_t ARows);
    int32_t Dither(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B) override;
    void NextLine() override;

protected:
    virtual int32_t Scale(int32_t Error) const { return (Error + FDivisor / 2) / FDivisor; }
    int32_t FDivisor;

private:
    int32_t* ErrorAt(int32_t Row, int32_t Channel, int32_t Column);
    std::vector<TWeight> FWeights;
    int32_t FRows;
    std::vector<std::vector<int32_t>> FErrors; // FRows x 3 channels, rotated by NextLine
};

class TFloydSteinbergDitherer : public TErrorDiffusionDitherer {
public:
    TFloydSteinbergDitherer(int32_t AWidth, TColorLookup& ALookup);

protected:
    int32_t Scale(int32_t Error) const override { return (Error + 8) / 16; }
};
class T5by3Ditherer : public TErrorDiffusionDitherer {
public:
    using TErrorDiffusionDitherer::TErrorDiffusionDitherer;
};
class TStuckiDitherer : public T5by3Ditherer {
public:
    TStuckiDitherer(int32_t AWidth, TColorLookup& ALookup);
};
class TSierraDitherer : public T5by3Ditherer {
public:
    TSierraDitherer(int32_t AWidth, TColorLookup& ALookup);
};
class TJaJuNiDitherer : public T5by3Ditherer {
public:
    TJaJuNiDitherer(int32_t AWidth, TColorLookup& ALookup);
};
class TSteveArcheDitherer : public TErrorDiffusionDitherer {
public:
    TSteveArcheDitherer(int32_t AWidth, TColorLookup& ALookup);
};
class TBurkesDitherer : public TErrorDiffusionDitherer {
public:
    TBurkesDitherer(int32_t AWidth, TColorLookup& ALookup);

protected:
    int32_t Scale(int32_t Error) const override { return (Error + 16) >> 5; }
};

std::unique_ptr<TDitherEngine> CreateDitherer(uint8_t DitherMethod, int32_t Width, TColorLookup& Lookup);

class TColorQuantizer {
public:
    TColorQuantizer(int32_t AMaxColors, int32_t AColorBits);
    ~TColorQuantizer();
    void AddColor(uint8_t Red, uint8_t Green, uint8_t Blue);
    int32_t LeafCount() const { return FLeafCount; }
    // Leaf colours, children 0 to 7 in order.
    TGIFPalette GetColorTable() const;

private:
    struct TOctreeNode;
    void Reduce();
    void Free(TOctreeNode* Node);
    void Walk(const TOctreeNode* Node, TGIFPalette& Out) const;
    TOctreeNode* FTree = nullptr;
    int32_t FLeafCount = 0;
    std::array<TOctreeNode*, 9> FReducibleNodes{};
    int32_t FMaxColors;
    int32_t FColorBits;
};

// Pixel source rows for the reduction: 24 bits per pixel, B, G, R.
struct TRGBSource {
    int32_t Width = 0;
    int32_t Height = 0;
    std::function<const uint8_t*(int32_t Row)> ScanLine;
};

// The octree palette; with Windows, 256 entries: the first and last 10 system colours
// round 236 quantized ones.
TGIFPalette CreateOptimizedPalette(const TRGBSource& Source, int32_t Colors, int32_t ColorBits, bool Windows);

// The colour-reduction core: one index per pixel (Width x Height, top row first) and
// the palette. Raises GIFException "Invalid reduction method" where no indexed result
// exists (crNone is the caller's business, methods of 10 or more, dither of 7 or more).
struct TReducedImage {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Indices;
    TGIFPalette Palette;
};
TReducedImage ReduceColorsToIndices(const TRGBSource& Source, uint8_t ReductionMethod, uint8_t DitherMethod,
                                    int32_t QuantizeBits, const TGIFPalette* CustomPalette);

// ---------------------------------------------------------------------------------------
// Unit-wide settings

struct TGIFSettings {
    int32_t DefaultFrameDelay = 10;
    int32_t MinimumFrameDelay = 3;
    int32_t MaximumFrameDelay = 1000;
    int32_t DelayUnitMs = 12;
    uint16_t DefaultDrawOptions = 0x060F;
    uint8_t DefaultReductionMethod = 6;
    int32_t DefaultQuantizeBits = 8;
    uint8_t DefaultDitherMethod = 0;
    uint8_t DefaultCompression = 0;
    uint8_t DefaultPainterPriority = 3;
    int32_t DefaultPlaySpeed = 100;
    bool RenderOnLoad = false;
    bool OptimizeOnStream = false;
};
TGIFSettings& GIFSettings(); // owned by the unit, lives for the program

// ---------------------------------------------------------------------------------------
// The picture class

// DrawOptions bits.
constexpr uint16_t doAsync = 0x0001;
constexpr uint16_t doTransparent = 0x0002;
constexpr uint16_t doAnimate = 0x0004;
constexpr uint16_t doLoop = 0x0008;
constexpr uint16_t doLoopEndless = 0x0010;
constexpr uint16_t doCheckCanvas = 0x0020;
constexpr uint16_t doDrawDirect = 0x0040;
constexpr uint16_t doRestoreOnPass = 0x0080;
constexpr uint16_t doTile = 0x0100;
constexpr uint16_t doDither = 0x0200;
constexpr uint16_t doAutoDither = 0x0400;

class TGIFPainter;

// What the optimising pass of the picture does (any combination).
using TGIFOptimizeOptions = uint8_t;
constexpr TGIFOptimizeOptions ooCrop = 0x01;         // cut transparent edges, drop invisible frames
constexpr TGIFOptimizeOptions ooMerge = 0x02;        // pixels that repeat the frame below become transparent
constexpr TGIFOptimizeOptions ooCleanup = 0x04;      // drop extensions and settings that change nothing
constexpr TGIFOptimizeOptions ooColorMap = 0x08;     // sort colour tables by use
constexpr TGIFOptimizeOptions ooReduceColors = 0x10; // asks for a reduction method check only
constexpr TGIFOptimizeOptions ooAll = 0x1F;

// The weak link between painters and their picture: cleared when the picture goes.
struct TGIFImageLink {
    std::mutex Lock;
    TGIFImage* Image = nullptr;
};

// The clock and sleep of the painter; tests put in a clock that only Sleep advances.
struct TGIFClock {
    std::function<uint32_t()> Now;          // milliseconds
    std::function<void(uint32_t Ms)> Sleep; // Sleep(0) yields
};
TGIFClock& GIFClock();

// The display needs dithering when it has a palette: never on the platforms we run on,
// but kept settable so that the dithered render path can be driven.
bool& PaletteDevice();

// The registered "GIF Image" clipboard format.
TClipboardFormat CF_GIF();
// Registers TGIFImage for "GIF" and the "GIF Image" clipboard format. Called only by
// RegisterPictureFormats (formats/PictureFormats.h), after the editor's own GIF codec,
// so that the last registration, which wins lookups, is this one.
void RegisterGIFImageClass();

class TGIFImage : public TGraphic {
public:
    TGIFImage();
    ~TGIFImage() override;

    TGIFImageList& Images() { return FImages; }
    TGIFHeader& Header() { return FHeader; }
    TGIFGlobalColorMap& GlobalColorMap() { return FHeader.ColorMap(); }
    int32_t Width() const override { return FHeader.Width(); }
    int32_t Height() const override { return FHeader.Height(); }
    void SetWidth(int32_t Value) override;
    void SetHeight(int32_t Value) override;
    bool Empty() const override { return FImages.Count() == 0; }
    bool Equals(const TGraphic* Graphic) const { return Graphic == this; }
    TGIFVersion Version();
    int32_t BitsPerPixel(); // the largest over the global table and every sub-image
    int32_t ColorResolution();

    void Draw(TCanvas& ACanvas, const TRect& Rect) override;
    void LoadFromStream(TStream& Stream) override;
    void SaveToStream(TStream& Stream) override;
    void LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE APalette) override;
    void SaveToClipboardFormat(TClipboardFormat& Format, std::vector<uint8_t>& Data, HPALETTE& APalette) override;
    HPALETTE Palette() const override;
    void SetPalette(HPALETTE Value) override;
    void Assign(TPersistent* Source) override;

    void Clear();
    // A graphic becomes a new frame; a TGIFSubImage is taken as it is. Returns the index.
    int32_t Add(TPersistent* Source);
    int32_t Add(std::unique_ptr<TGIFSubImage> SubImage);
    void StopDraw();
    // The optimising pass: the phases chosen by Options, in a fixed order, with
    // progress "Optimizing...". Reduces no colours; ooReduceColors without ooCleanup
    // refuses the custom-palette method ("Invalid reduction method") before any change.
    void Optimize(TGIFOptimizeOptions Options, uint8_t AReductionMethod, uint8_t ADitherMethod, int32_t AColorBits);
    // The picture as stored into form data: optimised first (every phase, no colour
    // reduction, 8 bits) when the unit-wide OptimizeOnStream is on; then the GIF stream.
    void WriteData(TStream& Stream);
    // Makes the painter; a synchronous one has played and ended when this returns.
    std::shared_ptr<TGIFPainter> PaintStart(TCanvas* ACanvas, const TRect& Rect, uint16_t Options);

    // The composed picture (first frame on the logical screen), made on demand.
    TBitmap* Bitmap();
    // A frame's rendered bitmap (made on demand) and its palette.
    TBitmap* FrameBitmap(TGIFSubImage& SubImage);
    HPALETTE FramePalette(TGIFSubImage& SubImage);
    // Draws one frame in Rect: narrowed to the frame's place, or tiled at the picture's size.
    void DrawFrame(TGIFSubImage& SubImage, TCanvas& ACanvas, const TRect& Rect, bool ATransparent, bool ATile);
    bool Dithering() const;

    uint16_t DrawOptions() const { return FDrawOptions; }
    void SetDrawOptions(uint16_t Value);
    uint8_t ReductionMethod() const { return FReductionMethod; }
    void SetReductionMethod(uint8_t V) { FReductionMethod = V; }
    int32_t QuantizeBits() const { return FQuantizeBits; }
    void SetQuantizeBits(int32_t V) { FQuantizeBits = V; }
    uint8_t DitherMethod() const { return FDitherMethod; }
    void SetDitherMethod(uint8_t V) { FDitherMethod = V; }
    uint8_t Compression() const { return FCompression; }
    void SetCompression(uint8_t V) { FCompression = V; }
    uint8_t PainterPriority() const { return FPainterPriority; }
    void SetPainterPriority(uint8_t V) { FPainterPriority = V; }
    int32_t PlaySpeed() const { return FPlaySpeed; }
    void SetPlaySpeed(int32_t V) { FPlaySpeed = V; }
    TColor BackgroundColor() const { return FBackgroundColor; }
    void SetBackgroundColor(TColor V) { FBackgroundColor = V; }
    TGIFPainter* Painter() const { return FPainter; }
    int32_t PainterCount();

    virtual void Warning(TObject* Sender, TGIFSeverity Severity, const std::string& Message);
    void Progress(TObject* Sender, TProgressStage Stage, int32_t Percent, const std::string& Msg);

    TGIFWarning OnWarning;
    TNotifyEvent OnPlayStart, OnFrameStart, OnFrameDone, OnPassStart, OnPlayEnd;
    std::string ClassName() const override { return "TGIFImage"; }

protected:
    void AssignTo(TPersistent* Dest) override;

private:
    friend class TGIFPainter;
    void DropBitmap();
    void ShowBitmap(TCanvas& ACanvas, const TRect& Rect);
    void RenderFrame(TGIFSubImage& SubImage);
    void StopPainter();

    bool FIsDrawing = false;
    bool FInGetPalette = false;
    TGIFHeader FHeader;
    TGIFImageList FImages;
    mutable HPALETTE FPalette = nullptr;
    std::recursive_mutex FPaintersLock;
    std::vector<std::shared_ptr<TGIFPainter>> FPainters;
    std::shared_ptr<TGIFImageLink> FLink;
    uint16_t FDrawOptions;
    uint8_t FReductionMethod;
    int32_t FQuantizeBits;
    uint8_t FDitherMethod;
    uint8_t FCompression;
    std::unique_ptr<TBitmap> FBitmap;
    TGIFPainter* FPainter = nullptr;
    uint8_t FPainterPriority;
    int32_t FPlaySpeed;
    TColor FBackgroundColor = clNone;
};

// Plays an animated picture: in its own thread (doAsync) or inside the Draw call.
class TGIFPainter : public TObject, public std::enable_shared_from_this<TGIFPainter> {
public:
    TGIFPainter(TGIFImage* AImage, TCanvas* ACanvas, const TRect& ARect, uint16_t AOptions);
    ~TGIFPainter() override;
    void Execute();
    void Start();
    void Stop();
    bool Terminated() const { return FTerminated; }
    int32_t FrameIndex() const { return FFrameIndex; }
    void SetFrameIndex(int32_t V) { FFrameIndex = V; }
    uint16_t DrawOptions() const { return FDrawOptions; }
    TCanvas* Canvas() const { return FCanvas; }
    const TRect& Rect() const { return FRect; }
    bool Started() const { return FStarted; }
    bool Async() const { return (FDrawOptions & doAsync) != 0; }
    // The picture's PainterPriority as given at the start (tp* levels, 3 normal).
    uint8_t Priority() const { return FPriority; }
    void SetPriority(uint8_t V) { FPriority = V; }
    // The kernel's id of the painter's own thread while it runs (0 before and for a
    // synchronous painter).
    int32_t NativeThreadId() const { return FNativeThreadId; }
    // The exception that ended the run, kept for the caller (std::exception_ptr()).
    std::exception_ptr Error() const { return FError; }
    std::string ClassName() const override { return "TGIFPainter"; }

    TNotifyEvent OnPlayStart, OnFrameStart, OnFrameDone, OnPassStart, OnPlayEnd;

private:
    friend class TGIFImage;
    bool Sync(const std::function<void()>& Call);
    void Fire(const TNotifyEvent& Event);
    void WaitDelay(int32_t& Delay, int32_t& Overhead, uint32_t& Last);
    void PaintFrame();
    void BufferedPaint(TGIFImage& Image, TGIFSubImage& Sub);
    void RestoreBackground(TGIFImage& Image, TGIFSubImage& Sub, TBitmap& Target);
    void PrepareBuffers(TGIFImage& Image);
    void Terminating();
    TGIFImage* LinkedImage();

    std::shared_ptr<TGIFImageLink> FLink;
    TCanvas* FCanvas;
    TRect FRect;
    uint16_t FDrawOptions;
    int32_t FPlaySpeed;
    std::atomic<int32_t> FFrameIndex{-1};
    uint8_t FDisposal = dmNoDisposal;
    uint8_t FPreviousDisposal = dmNoDisposal;
    std::unique_ptr<TBitmap> FPreviousBuffer, FWorkBuffer, FBackgroundBuffer;
    TColor FBackground = clWindow;
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FTerminated{false};
    std::exception_ptr FError;
    // The wake-up event: set by Stop so that a wait between frames ends at once.
    std::mutex FEventLock;
    std::condition_variable FEvent;
    bool FEventSet = false;
    bool FHasEvent = false;
    std::thread FThread;
    int32_t FLoopCount = 1;
    uint8_t FPriority = 3;
    std::atomic<int32_t> FNativeThreadId{0};
    // Set while one of this painter's calls runs on the main thread: a StopDraw made from
    // inside it cannot wait for the painter to end.
    std::atomic<bool> FInSyncCall{false};
};

} // namespace kv::GIFImage
