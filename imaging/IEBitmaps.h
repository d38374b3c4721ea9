// The imaging library's own bitmap with its storage kinds, the selection mask, a plain
// working bitmap, typed growable lists, an integer hash set and scroll-bar settings.
#pragma once

#include "imaging/imgdefs.h"
#include "platform/Graphics.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

class QObject;
class QWidget;

namespace kv {

// Bits of a platform pixel format: pf1bit 1 ... pf32bit 32, others 0.
int32_t IEPixelFormatBits(TPixelFormat Format);
// Bytes per row of a platform bitmap (64-bit arithmetic).
int64_t IEBitmapRowLen(const TBitmap& Bitmap);

constexpr uint8_t ieLocationMemory = 0, ieLocationFile = 1, ieLocationTBitmap = 2;
// TIEBitmap pixel formats.
constexpr uint8_t ie0None = 0, ie1g = 1, ie8p = 2, ie8g = 3, ie16g = 4, ie24RGB = 5;

class TIEBitmap : public TObject {
public:
    TIEBitmap();
    ~TIEBitmap() override;
    static std::unique_ptr<TIEBitmap> CreateAlpha(int32_t Width, int32_t Height, uint8_t Location);

    void Allocate(int32_t Width, int32_t Height, uint8_t PixelFormat);
    // Row 0 is the top. Memory storage keeps rows bottom-up, a file keeps them
    // top-down; the whole file stays mapped, so any number of rows may be held at once.
    uint8_t* ScanLine(int32_t Row);
    void MoveStorageTo(TIEBitmap* Dest);
    void CopyToTBitmap(TBitmap* Bitmap);
    void CopyFromTBitmap(TBitmap* Bitmap);
    void SetLocation(uint8_t Location);
    void FreeStorage();
    void AllocateStorage();

    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    int32_t BitCount() const { return FBitCount; }
    int64_t RowLen() const { return FRowLen; }
    uint8_t PixelFormat() const { return FPixelFormat; }
    uint8_t Location() const { return FLocation; }
    TRGB* Palette() { return FPalette.empty() ? nullptr : FPalette.data(); }
    int32_t PaletteCount() const { return FPaletteCount; }
    TIEBitmap* AlphaChannel() { return FAlphaChannel.get(); }
    bool IsAlpha() const { return FIsAlpha; }
    TBitmap* VclBitmap() { return FBitmap.get(); }
    const std::string& TempFileName() const { return FTempFileName; }

private:
    bool AllocateFile(int64_t Size);
    void ReleaseFile();

    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FBitCount = 0;
    int FFileHandle = -1;
    uint8_t* FMapping = nullptr; // the whole file, mapped for the bitmap's life
    int64_t FMappingSize = 0;
    std::string FTempFileName;
    int64_t FRowLen = 0;
    uint8_t FPixelFormat = ie0None;
    std::vector<TRGB> FPalette;
    int32_t FPaletteCount = 0;
    std::unique_ptr<TIEBitmap> FAlphaChannel;
    bool FIsAlpha = false;
    uint8_t* FMemory = nullptr;
    std::unique_ptr<TBitmap> FBitmap;
    uint8_t FLocation = ieLocationFile;
    bool FFlag = false;
};

// Selection mask, 1 or 8 bits a pixel, rows bottom-up.
class TIEMask : public TObject {
public:
    TIEMask();
    void AllocateBits(int32_t Width, int32_t Height, int32_t BitsPerPixel);
    void FreeBits();
    void Fill(uint8_t Value);
    void SetPixel(int32_t X, int32_t Y, uint8_t Value);
    uint8_t GetPixel(int32_t X, int32_t Y) const;
    uint8_t* ScanLine(int32_t Row) { return FBits.data() + int64_t(FHeight - Row - 1) * FRowLen; }
    const uint8_t* ScanLine(int32_t Row) const { return FBits.data() + int64_t(FHeight - Row - 1) * FRowLen; }
    void Assign(const TIEMask* Source);

    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    int32_t BitsPerPixel() const { return FBitsPerPixel; }
    int32_t RowLen() const { return FRowLen; }
    bool Full() const { return FFull; }
    // Readers that write rows straight through ScanLine say so before they start.
    void ClearFull() { FFull = false; }
    bool IsEmpty() const { return FBits.empty(); }

    int32_t X1 = INT32_MAX, Y1 = INT32_MAX, X2 = 0, Y2 = 0;

    // Drawing state of the views: outline pen flags, colour, point lists.
    struct TDrawState {
        int32_t HeaderSize = 40;
        uint8_t Flags[4] = {1, 0, 1, 0};
        TRGB Color{255, 255, 255};
        std::vector<TPoint> Points1, Points2;
    } DrawState;

private:
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FBitsPerPixel = 0;
    int32_t FRowLen = 0;
    std::vector<uint8_t> FBits;
    bool FFull = false;
};

class TIEWorkBitmap : public TObject {
public:
    TIEWorkBitmap() = default;
    TIEWorkBitmap(int32_t Width, int32_t Height, int32_t BitCount);
    void Allocate(int32_t Width, int32_t Height, int32_t BitCount);
    uint8_t* ScanLine(int32_t Row) { return FBits.data() + int64_t(FHeight - Row - 1) * FRowLen; }
    void FreeBits();
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    int32_t BitCount() const { return FBitCount; }
    int64_t RowLen() const { return FRowLen; }

private:
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FBitCount = 0;
    int64_t FRowLen = 0;
    std::vector<uint8_t> FBits;
};

// A growable array of fixed-size items; bit 0 of Flags marks it changed.
class TIEList : public TObject {
public:
    explicit TIEList(int32_t ItemSize = 4) : FItemSize(ItemSize) {}
    virtual void SetCount(int32_t N);
    virtual void Delete(int32_t Index);
    virtual void Clear();
    virtual void Assign(const TIEList* Source);
    int32_t Count() const { return FCount; }
    int32_t ItemSize() const { return FItemSize; }
    uint32_t Flags = 0;
    bool Changed() const { return Flags & 1; }

protected:
    uint8_t* Item(int32_t I) { return FItems.data() + size_t(I) * size_t(FItemSize); }
    const uint8_t* Item(int32_t I) const { return FItems.data() + size_t(I) * size_t(FItemSize); }
    int32_t FCount = 0;
    int32_t FItemSize;
    std::vector<uint8_t> FItems;
};

// Values of one plain type with the current, default and range values that go with them.
// Items out of range read 0 and are not written.
template <class T> class TIEValueList : public TIEList {
public:
    TIEValueList() : TIEList(int32_t(sizeof(T))) {}
    T Items(int32_t I) const
    {
        T v = 0;
        if (I >= 0 && I < FCount)
            std::memcpy(&v, Item(I), sizeof(T));
        return v;
    }
    void SetItems(int32_t I, T V)
    {
        if (I >= 0 && I < FCount) {
            std::memcpy(Item(I), &V, sizeof(T));
            Flags |= 1;
        }
    }
    int32_t Add(T V)
    {
        SetCount(FCount + 1);
        SetItems(FCount - 1, V);
        return FCount - 1;
    }
    void Clear() override
    {
        TIEList::Clear();
        CurrentValue = DefaultValue = RangeMin = RangeMax = 0;
    }
    void Assign(const TIEList* Source) override
    {
        TIEList::Assign(Source);
        if (auto* s = dynamic_cast<const TIEValueList*>(Source)) {
            CurrentValue = s->CurrentValue;
            DefaultValue = s->DefaultValue;
            RangeMin = s->RangeMin;
            RangeMax = s->RangeMax;
        }
    }
    T CurrentValue = 0, DefaultValue = 0, RangeMin = 0, RangeMax = 0;
};

class TIEDoubleList : public TIEValueList<double> {};
class TIEIntegerList : public TIEValueList<int32_t> {};

// A set of 32-bit values hashed on their low HashBits bits; collisions chain.
class THash1 : public TObject {
public:
    explicit THash1(int32_t HashBits);
    ~THash1() override;
    bool Insert(uint32_t Value);
    int32_t Count() const { return FCount; }
    int32_t HashBits() const { return FHashBits; }
    // 0 empty, 1 one value, 2 a chain; and the chain's length (tests, statistics).
    uint8_t SlotState(uint32_t Slot) const { return FState.at(Slot); }
    int32_t ChainLength(uint32_t Slot) const;

private:
    struct TNode {
        uint32_t Value;
        TNode* Next;
    };
    int32_t FHashBits;
    uint32_t FSlotCount;
    std::vector<uintptr_t> FSlots; // the value (state 1) or the chain's first node (state 2)
    std::vector<uint8_t> FState;
    int32_t FCount = 0;
};

class TIEScrollBarParams : public TObject {
public:
    int32_t LineStep = -1;
    int32_t PageStep = -1;
    bool Tracking = true;
};

// Left and top edges in TopLeft, right and bottom in BottomRight.
void IEDrawOutline(TCanvas& Canvas, const TRect& R, TColor TopLeft, TColor BottomRight);

// The window that stands for a component on screen: the nearest widget among its
// parents, or null when there is none or its window is not created yet.
QWidget* IEFindHandle(const QObject* Component);

enum TIEScrollBarKind : uint8_t { iesbkHorizontal, iesbkVertical };
enum TIEScrollRedraw : uint8_t { iesrKeep, iesrRedraw };
// Sets only the page step of Window's own scroll bar of that kind (a scroll area's, or
// a direct child bar); range and position stay. Nothing without a window or such a bar.
void IESetScrollBar(QWidget* Window, TIEScrollBarKind Bar, int32_t Page, TIEScrollRedraw Redraw);

// The 48-byte header that begins every block of a TIEVirtualDIBList file: a
// BITMAPINFOHEADER (little-endian) and three 255 bytes, padded.
struct TIEVirtualDIBHeader {
    uint8_t Bytes[48];
};
static_assert(sizeof(TIEVirtualDIBHeader) == 48, "block header is 48 bytes");

// Many device-independent bitmaps kept in one temporary file, one block an image.
// The file is unlinked as soon as it is made, so nothing is left behind whatever
// happens to the process. Each image is reached through its own mapped view; at most
// ViewLimit views stay mapped, the least recently used unmapped first.
//
// A pointer from PixelBits or ScanLine stays valid until that image's view is
// unmapped: when ViewLimit other images have been used since, or the image is
// deleted, re-allocated or the list cleared. A TBitmap from GetBitmap lives until
// ReleaseBitmap, Delete of its image or Clear.
class TIEVirtualDIBList : public TObject {
public:
    explicit TIEVirtualDIBList(const std::string& Folder = std::string());
    ~TIEVirtualDIBList() override;
    TIEVirtualDIBList(const TIEVirtualDIBList&) = delete;
    TIEVirtualDIBList& operator=(const TIEVirtualDIBList&) = delete;

    // Each returns the new image's index. Sizes below 1, above the pixel cap, or a
    // depth other than 1, 4, 8, 15, 16, 24, 32 raise EOutOfResources / EInvalidGraphic
    // and leave the list unchanged.
    int32_t AddBlankImage(int32_t Width, int32_t Height, int32_t BitCount);
    int32_t AddBitmap(TBitmap* Bitmap);
    void Delete(int32_t Image);
    void CopyToTBitmap(int32_t Image, TBitmap* Bitmap);
    void CopyFromTBitmap(int32_t Image, TBitmap* Bitmap);
    TBitmap* GetBitmap(int32_t Image);
    void ReleaseBitmap(int32_t Image);
    void Clear();

    int32_t Count() const { return int32_t(FImages.size()); }
    int32_t ImageWidth(int32_t Image) const { return Rec(Image).Width; }
    int32_t ImageHeight(int32_t Image) const { return Rec(Image).Height; }
    int32_t ImageBitCount(int32_t Image) const { return Rec(Image).BitCount; }
    int64_t ImageRowLen(int32_t Image) const { return IERowLen(Rec(Image).Width, Rec(Image).BitCount); }
    // Rows bottom-up, just past the block header.
    uint8_t* PixelBits(int32_t Image);
    // Row 0 is the top.
    uint8_t* ScanLine(int32_t Image, int32_t Row);
    // The block header as it stands in the file.
    const uint8_t* ImageHeader(int32_t Image);

    // Bookkeeping, for statistics and tests.
    int64_t FileSize() const { return FFileSize; }
    int64_t AllocatedEnd() const { return FAllocatedEnd; }
    int64_t GrowthStep() const { return FGrowthStep; }
    int64_t BlockOffset(int32_t Image) const { return Rec(Image).Offset; }
    int64_t BlockSize(int32_t Image) const { return Rec(Image).BlockSize; }
    int64_t UsedSize(int32_t Image) const { return Rec(Image).UsedSize; }
    bool IsMapped(int32_t Image) const { return Rec(Image).View != nullptr; }
    int32_t MappedCount() const { return int32_t(FMapped.size()); }
    int32_t FreeBlockCount() const { return int32_t(FFree.size()); }
    bool IsCheckedOut(int32_t Image) const { return Rec(Image).Checked != nullptr; }
    const std::string& FileName() const { return FFileName; }
    const std::string& Folder() const { return FFolder; }
    int32_t ViewLimit = 10;

private:
    struct TImageRec {
        int64_t Offset = 0;
        int64_t UsedSize = 0;
        int64_t BlockSize = 0;
        uint8_t* View = nullptr;
        int32_t Width = 0, Height = 0, BitCount = 0;
        std::vector<TPaletteEntry> Palette; // the header has no room for one
        std::unique_ptr<TBitmap> Checked;
    };
    struct TFreeBlock {
        int64_t Offset, Size;
    };

    const TImageRec& Rec(int32_t Image) const;
    TImageRec& Rec(int32_t Image);
    void CreateFile();
    void CloseFile();
    void AllocateBlock(TImageRec& R, int32_t Width, int32_t Height, int32_t BitCount);
    void FreeBlock(TImageRec& R);
    uint8_t* MapView(TImageRec& R);
    void UnmapView(TImageRec& R);
    uint8_t* RowOf(TImageRec& R, int32_t Row);
    int32_t AddPrepared(std::unique_ptr<TImageRec> R);

    int FFileHandle = -1;
    std::string FFileName;
    std::string FFolder;
    int64_t FFileSize = 0;
    int64_t FAllocatedEnd = 0;
    int64_t FGrowthStep = 65536;
    int64_t FLastBlockSize = 0;
    std::vector<std::unique_ptr<TImageRec>> FImages;
    std::vector<TImageRec*> FMapped; // most recently used last
    std::vector<TFreeBlock> FFree;
};

} // namespace kv
