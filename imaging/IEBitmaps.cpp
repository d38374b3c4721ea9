#include "imaging/IEBitmaps.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

int32_t IEPixelFormatBits(TPixelFormat Format)
{
    switch (Format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit: return 15;
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    default: return 0;
    }
}

int64_t IEBitmapRowLen(const TBitmap& Bitmap) { return IERowLen(Bitmap.Width(), Bitmap.BitsPerPixel()); }

namespace {

int32_t BitCountOf(uint8_t PixelFormat)
{
    static const int32_t bits[6] = {0, 1, 8, 8, 16, 24};
    return PixelFormat < 6 ? bits[PixelFormat] : 0;
}

std::string TempFolder()
{
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t && *t) ? t : "/tmp";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::vector<TPaletteEntry> GreyRamp()
{
    std::vector<TPaletteEntry> e(256);
    for (int i = 0; i < 256; ++i)
        e[size_t(i)] = TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return e;
}

} // namespace

// ---- TIEBitmap --------------------------------------------------------------------

TIEBitmap::TIEBitmap() = default;

TIEBitmap::~TIEBitmap() { FreeStorage(); }

std::unique_ptr<TIEBitmap> TIEBitmap::CreateAlpha(int32_t Width, int32_t Height, uint8_t Location)
{
    auto b = std::make_unique<TIEBitmap>();
    b->FIsAlpha = true;
    b->FLocation = Location;
    b->Allocate(Width, Height, ie8g);
    return b;
}

void TIEBitmap::Allocate(int32_t Width, int32_t Height, uint8_t PixelFormat)
{
    FreeStorage();
    FWidth = Width;
    FHeight = Height;
    FPixelFormat = PixelFormat;
    AllocateStorage();
}

bool TIEBitmap::AllocateFile(int64_t Size)
{
    std::string pattern = TempFolder() + "imagingXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return false;
    // Unlinked at once: the blocks vanish with the descriptor, even after a crash.
    unlink(name.data());
    struct stat st{};
    if (ftruncate(fd, off_t(Size)) != 0 || fstat(fd, &st) != 0 || int64_t(st.st_size) != Size) {
        close(fd);
        return false;
    }
    void* map = mmap(nullptr, size_t(Size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        close(fd);
        return false;
    }
    FFileHandle = fd;
    FMapping = static_cast<uint8_t*>(map);
    FMappingSize = Size;
    FTempFileName = name.data();
    return true;
}

void TIEBitmap::ReleaseFile()
{
    if (FMapping)
        munmap(FMapping, size_t(FMappingSize));
    if (FFileHandle >= 0)
        close(FFileHandle);
    FMapping = nullptr;
    FMappingSize = 0;
    FFileHandle = -1;
    FTempFileName.clear();
}

void TIEBitmap::AllocateStorage()
{
    if (FWidth < 1 || FHeight < 1 || FPixelFormat == ie0None)
        return;
    CheckPixelBufferSize(FWidth, FHeight, "TIEBitmap");
    FFlag = false;
    if (!FIsAlpha)
        FAlphaChannel = CreateAlpha(FWidth, FHeight, FLocation);
    if (FPixelFormat == ie8p) {
        FPalette.assign(256, TRGB{});
        FPaletteCount = 256;
    }
    if (FLocation == ieLocationTBitmap && FPixelFormat == ie16g)
        FPixelFormat = ie8g; // the platform bitmap has no 16-bit grey
    FBitCount = BitCountOf(FPixelFormat);
    FRowLen = IERowLen(FWidth, FBitCount);
    const int64_t size = FRowLen * FHeight;
    if (FLocation == ieLocationFile && !AllocateFile(size))
        FLocation = ieLocationMemory;
    if (FLocation == ieLocationMemory) {
        FMemory = AllocPixelBuffer(FWidth, FHeight, FRowLen, "TIEBitmap");
    } else if (FLocation == ieLocationTBitmap) {
        FBitmap = std::make_unique<TBitmap>();
        FBitmap->SetSize(1, 1);
        FBitmap->SetPixelFormat(FPixelFormat == ie1g ? pf1bit : FPixelFormat == ie24RGB ? pf24bit : pf8bit);
        if (FPixelFormat == ie8g)
            FBitmap->SetPaletteEntries(GreyRamp());
        FBitmap->SetSize(FWidth, FHeight);
    }
}

void TIEBitmap::FreeStorage()
{
    FAlphaChannel.reset();
    FPalette.clear();
    ReleaseFile();
    if (FMemory)
        FreePixelBuffer(FMemory);
    FMemory = nullptr;
    FBitmap.reset();
    FWidth = FHeight = FBitCount = 0;
    FRowLen = 0;
    FPaletteCount = 0;
    FFlag = false;
}

uint8_t* TIEBitmap::ScanLine(int32_t Row)
{
    switch (FLocation) {
    case ieLocationMemory:
        return FMemory ? FMemory + int64_t(FHeight - Row - 1) * FRowLen : nullptr;
    case ieLocationFile:
        return FMapping ? FMapping + int64_t(Row) * FRowLen : nullptr;
    default:
        return FBitmap ? FBitmap->ScanLine(Row) : nullptr;
    }
}

void TIEBitmap::MoveStorageTo(TIEBitmap* Dest)
{
    Dest->FreeStorage();
    Dest->FWidth = FWidth;
    Dest->FHeight = FHeight;
    Dest->FBitCount = FBitCount;
    Dest->FFileHandle = FFileHandle;
    Dest->FMapping = FMapping;
    Dest->FMappingSize = FMappingSize;
    Dest->FTempFileName = std::move(FTempFileName);
    Dest->FRowLen = FRowLen;
    Dest->FPixelFormat = FPixelFormat;
    Dest->FPalette = std::move(FPalette);
    Dest->FPaletteCount = FPaletteCount;
    Dest->FAlphaChannel = std::move(FAlphaChannel);
    Dest->FMemory = FMemory;
    Dest->FBitmap = std::move(FBitmap);
    Dest->FLocation = FLocation;
    FFileHandle = -1;
    FMapping = nullptr;
    FMappingSize = 0;
    FMemory = nullptr;
    FTempFileName.clear();
    FPalette.clear();
    FWidth = FHeight = FBitCount = FPaletteCount = 0;
    FRowLen = 0;
}

void TIEBitmap::CopyToTBitmap(TBitmap* Bitmap)
{
    Bitmap->SetSize(1, 1);
    switch (FPixelFormat) {
    case ie1g:
        Bitmap->SetPixelFormat(pf1bit);
        Bitmap->SetPaletteEntries({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}});
        break;
    case ie8p: {
        Bitmap->SetPixelFormat(pf8bit);
        std::vector<TPaletteEntry> e(256);
        for (size_t i = 0; i < 256 && i < FPalette.size(); ++i)
            e[i] = TPaletteEntry{FPalette[i].r, FPalette[i].g, FPalette[i].b, 0};
        Bitmap->SetPaletteEntries(e);
        break;
    }
    case ie8g:
    case ie16g:
        Bitmap->SetPixelFormat(pf8bit);
        Bitmap->SetPaletteEntries(GreyRamp());
        break;
    case ie24RGB:
        Bitmap->SetPixelFormat(pf24bit);
        break;
    default:
        return;
    }
    Bitmap->SetSize(FWidth, FHeight);
    for (int32_t y = 0; y < FHeight; ++y) {
        const uint8_t* src = ScanLine(y);
        uint8_t* dst = Bitmap->ScanLine(y);
        if (FPixelFormat == ie16g) {
            for (int32_t x = 0; x < FWidth; ++x)
                dst[x] = src[2 * x + 1]; // high byte of a little-endian sample
        } else {
            std::memcpy(dst, src, size_t(std::min<int64_t>(FRowLen, Bitmap->BytesPerScanLine())));
        }
    }
}

void TIEBitmap::CopyFromTBitmap(TBitmap* Bitmap)
{
    const TPixelFormat pf = Bitmap->PixelFormat();
    const int32_t w = Bitmap->Width(), h = Bitmap->Height();
    uint8_t format = pf == pf1bit ? ie1g : (pf == pf4bit || pf == pf8bit) ? ie8p : ie24RGB;
    Allocate(w, h, format);
    if (format == ie8p) {
        const auto& entries = Bitmap->PaletteEntries();
        for (size_t i = 0; i < entries.size() && i < FPalette.size(); ++i)
            FPalette[i] = TRGB{entries[i].peBlue, entries[i].peGreen, entries[i].peRed};
        if (FLocation == ieLocationTBitmap && FBitmap)
            FBitmap->SetPaletteEntries(entries);
    }
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = Bitmap->ScanLine(y);
        uint8_t* dst = ScanLine(y);
        switch (pf) {
        case pf1bit:
        case pf8bit:
        case pf24bit:
            std::memcpy(dst, src, size_t(FRowLen));
            break;
        case pf4bit:
            for (int32_t x = 0; x < w; ++x)
                dst[x] = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
            break;
        case pf15bit:
        case pf16bit:
            for (int32_t x = 0; x < w; ++x) {
                uint16_t v = GetU16LE(src + 2 * x);
                if (pf == pf15bit) {
                    dst[3 * x] = uint8_t((v & 0x1F) << 3);
                    dst[3 * x + 1] = uint8_t(((v >> 5) & 0x1F) << 3);
                    dst[3 * x + 2] = uint8_t(((v >> 10) & 0x1F) << 3);
                } else {
                    dst[3 * x] = uint8_t((v & 0x1F) << 3);
                    dst[3 * x + 1] = uint8_t(((v >> 5) & 0x3F) << 2);
                    dst[3 * x + 2] = uint8_t(((v >> 11) & 0x1F) << 3);
                }
            }
            break;
        default: // 32 bits (and the device format, stored as 32)
            for (int32_t x = 0; x < w; ++x) {
                dst[3 * x] = src[4 * x];
                dst[3 * x + 1] = src[4 * x + 1];
                dst[3 * x + 2] = src[4 * x + 2];
            }
            break;
        }
    }
}

void TIEBitmap::SetLocation(uint8_t Location)
{
    if (FLocation == Location)
        return;
    TIEBitmap old;
    MoveStorageTo(&old);
    FLocation = Location;
    Allocate(old.FWidth, old.FHeight, old.FPixelFormat);
    if (FWidth < 1 || FHeight < 1)
        return;
    if (old.FPixelFormat == ie16g && FPixelFormat == ie8g) {
        for (int32_t y = 0; y < FHeight; ++y) {
            const uint8_t* src = old.ScanLine(y);
            uint8_t* dst = ScanLine(y);
            for (int32_t x = 0; x < FWidth; ++x)
                dst[x] = src[2 * x + 1];
        }
    } else {
        for (int32_t y = 0; y < FHeight; ++y)
            std::memcpy(ScanLine(y), old.ScanLine(y), size_t(FRowLen));
    }
    for (size_t i = 0; i < FPalette.size() && i < old.FPalette.size(); ++i)
        FPalette[i] = old.FPalette[i];
    if (FBitmap && FPixelFormat == ie8p) {
        std::vector<TPaletteEntry> e(256);
        for (size_t i = 0; i < 256; ++i)
            e[i] = TPaletteEntry{FPalette[i].r, FPalette[i].g, FPalette[i].b, 0};
        FBitmap->SetPaletteEntries(e);
    }
}

// ---- TIEMask ----------------------------------------------------------------------

TIEMask::TIEMask() = default;

void TIEMask::AllocateBits(int32_t Width, int32_t Height, int32_t BitsPerPixel)
{
    FreeBits();
    CheckPixelBufferSize(Width, Height, "TIEMask");
    FWidth = Width;
    FHeight = Height;
    FBitsPerPixel = BitsPerPixel;
    FRowLen = BitsPerPixel == 1 ? ((Width + 31) / 32) * 4 : Width;
    FBits.assign(size_t(int64_t(FRowLen) * Height), 0);
    X1 = Y1 = INT32_MAX;
    X2 = Y2 = 0;
    FFull = false;
}

void TIEMask::FreeBits()
{
    FBits.clear();
    FBits.shrink_to_fit();
    FWidth = FHeight = FRowLen = 0;
}

void TIEMask::Fill(uint8_t Value)
{
    std::fill(FBits.begin(), FBits.end(), Value);
    // Only an all-255 fill is fully opaque, for 1-bit masks as for 8-bit ones.
    FFull = Value == 255;
}

void TIEMask::SetPixel(int32_t X, int32_t Y, uint8_t Value)
{
    if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight)
        return;
    if (Value != 0) {
        X1 = std::max(0, std::min(X1, X));
        Y1 = std::max(0, std::min(Y1, Y));
        X2 = std::min(FWidth - 1, std::max(X2, X));
        Y2 = std::min(FHeight - 1, std::max(Y2, Y));
    }
    if (FFull)
        FFull = FBitsPerPixel == 1 ? Value != 0 : Value == 255;
    uint8_t* row = ScanLine(Y);
    if (FBitsPerPixel == 1) {
        if (Value)
            row[X >> 3] |= uint8_t(0x80 >> (X & 7));
        else
            row[X >> 3] &= uint8_t(~(0x80 >> (X & 7)));
    } else {
        row[X] = Value;
    }
}

uint8_t TIEMask::GetPixel(int32_t X, int32_t Y) const
{
    if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight)
        return 0;
    const uint8_t* row = ScanLine(Y);
    if (FBitsPerPixel == 1)
        return (row[X >> 3] & (0x80 >> (X & 7))) ? 255 : 0;
    return row[X];
}

void TIEMask::Assign(const TIEMask* Source)
{
    if (!Source || Source == this)
        return;
    FWidth = Source->FWidth;
    FHeight = Source->FHeight;
    FBitsPerPixel = Source->FBitsPerPixel;
    FRowLen = Source->FRowLen;
    FBits = Source->FBits;
    X1 = Source->X1;
    Y1 = Source->Y1;
    X2 = Source->X2;
    Y2 = Source->Y2;
    FFull = Source->FFull;
}

// ---- TIEWorkBitmap ------------------------------------------------------------------

TIEWorkBitmap::TIEWorkBitmap(int32_t Width, int32_t Height, int32_t BitCount)
{
    if (Width >= 1 && Height >= 1)
        Allocate(Width, Height, BitCount);
}

void TIEWorkBitmap::Allocate(int32_t Width, int32_t Height, int32_t BitCount)
{
    if (Width == FWidth && Height == FHeight && BitCount == FBitCount && !FBits.empty())
        return;
    CheckPixelBufferSize(Width, Height, "TIEWorkBitmap");
    FWidth = Width;
    FHeight = Height;
    FBitCount = BitCount;
    FRowLen = IERowLen(Width, BitCount);
    FBits.assign(size_t(FRowLen * Height), 0);
}

void TIEWorkBitmap::FreeBits()
{
    FBits.clear();
    FBits.shrink_to_fit();
    FWidth = FHeight = 0;
    FRowLen = 0;
}

// ---- TIEList ------------------------------------------------------------------------

void TIEList::SetCount(int32_t N)
{
    if (N < 0)
        N = 0;
    std::vector<uint8_t> block(size_t(N) * size_t(FItemSize), 0);
    std::memcpy(block.data(), FItems.data(), size_t(std::min(FCount, N)) * size_t(FItemSize));
    FItems.swap(block);
    FCount = N;
    Flags |= 1;
}

void TIEList::Delete(int32_t Index)
{
    if (Index < 0 || Index >= FCount)
        return;
    FItems.erase(FItems.begin() + ptrdiff_t(Index) * FItemSize, FItems.begin() + ptrdiff_t(Index + 1) * FItemSize);
    --FCount;
    Flags |= 1;
}

void TIEList::Clear()
{
    FItems.clear();
    FCount = 0;
    Flags = 0;
}

void TIEList::Assign(const TIEList* Source)
{
    if (!Source || Source == this)
        return;
    FCount = Source->FCount;
    FItemSize = Source->FItemSize;
    Flags = Source->Flags;
    FItems = Source->FItems;
}

// ---- THash1 -------------------------------------------------------------------------

THash1::THash1(int32_t HashBits)
    : FHashBits(std::clamp(HashBits, 0, 24)), FSlotCount(1u << FHashBits), FSlots(FSlotCount, 0),
      FState(FSlotCount, 0)
{
}

THash1::~THash1()
{
    for (uint32_t i = 0; i < FSlotCount; ++i) {
        if (FState[i] != 2)
            continue;
        for (TNode* n = reinterpret_cast<TNode*>(FSlots[i]); n;) {
            TNode* next = n->Next;
            delete n;
            n = next;
        }
    }
}

bool THash1::Insert(uint32_t Value)
{
    const uint32_t slot = Value & (FSlotCount - 1);
    switch (FState[slot]) {
    case 0:
        FSlots[slot] = Value;
        FState[slot] = 1;
        break;
    case 1: {
        if (uint32_t(FSlots[slot]) == Value)
            return false;
        TNode* second = new TNode{Value, nullptr};
        TNode* first = new TNode{uint32_t(FSlots[slot]), second};
        FSlots[slot] = reinterpret_cast<uintptr_t>(first);
        FState[slot] = 2;
        break;
    }
    default: {
        TNode* n = reinterpret_cast<TNode*>(FSlots[slot]);
        while (true) {
            if (n->Value == Value)
                return false;
            if (!n->Next)
                break;
            n = n->Next;
        }
        n->Next = new TNode{Value, nullptr};
        break;
    }
    }
    ++FCount;
    return true;
}

int32_t THash1::ChainLength(uint32_t Slot) const
{
    if (FState.at(Slot) != 2)
        return FState[Slot];
    int32_t n = 0;
    for (const TNode* p = reinterpret_cast<const TNode*>(FSlots[Slot]); p; p = p->Next)
        ++n;
    return n;
}

void IEDrawOutline(TCanvas& Canvas, const TRect& R, TColor TopLeft, TColor BottomRight)
{
    Canvas.Pen()->SetColor(TopLeft);
    Canvas.MoveTo(R.Left, R.Bottom - 1);
    Canvas.LineTo(R.Left, R.Top);
    Canvas.LineTo(R.Right - 1, R.Top);
    Canvas.Pen()->SetColor(BottomRight);
    Canvas.LineTo(R.Right - 1, R.Bottom - 1);
    Canvas.LineTo(R.Left, R.Bottom - 1);
}

} // namespace kv
