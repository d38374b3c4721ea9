#include "imaging/IEBitmaps.h"

#include <QAbstractScrollArea>
#include <QScrollBar>
#include <QWidget>

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

// Reserves the bytes on disk as well: a sparse file would turn a full disk into a
// bus error on the first write through the mapping instead of a clear failure.
bool ReserveFileSize(int fd, int64_t OldSize, int64_t NewSize)
{
    if (NewSize <= OldSize)
        return ftruncate(fd, off_t(NewSize)) == 0;
    return posix_fallocate(fd, off_t(OldSize), off_t(NewSize - OldSize)) == 0;
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
    struct stat st {};
    if (!ReserveFileSize(fd, 0, Size) || fstat(fd, &st) != 0 || int64_t(st.st_size) != Size) {
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
    case ieLocationMemory: return FMemory ? FMemory + int64_t(FHeight - Row - 1) * FRowLen : nullptr;
    case ieLocationFile: return FMapping ? FMapping + int64_t(Row) * FRowLen : nullptr;
    default: return FBitmap ? FBitmap->ScanLine(Row) : nullptr;
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
    case ie24RGB: Bitmap->SetPixelFormat(pf24bit); break;
    default: return;
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
        case pf24bit: std::memcpy(dst, src, size_t(FRowLen)); break;
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
    // Kept items stay, new ones start zeroed.
    FItems.resize(size_t(N) * size_t(FItemSize), 0);
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
    : FHashBits(std::clamp(HashBits, 0, 24)), FSlotCount(1u << FHashBits), FSlots(FSlotCount, 0), FState(FSlotCount, 0)
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

QWidget* IEFindHandle(const QObject* Component)
{
    QObject* Owner = Component ? Component->parent() : nullptr;
    while (Owner && !Owner->isWidgetType())
        Owner = Owner->parent();
    auto* Window = static_cast<QWidget*>(Owner);
    return Window && Window->testAttribute(Qt::WA_WState_Created) ? Window : nullptr;
}

namespace {

QScrollBar* BarOf(QWidget* Window, TIEScrollBarKind Bar)
{
    if (auto* Area = qobject_cast<QAbstractScrollArea*>(Window))
        return Bar == iesbkHorizontal ? Area->horizontalScrollBar() : Area->verticalScrollBar();
    const Qt::Orientation Wanted = Bar == iesbkHorizontal ? Qt::Horizontal : Qt::Vertical;
    for (QScrollBar* Child : Window->findChildren<QScrollBar*>(QString(), Qt::FindDirectChildrenOnly))
        if (Child->orientation() == Wanted)
            return Child;
    return nullptr;
}

} // namespace

void IESetScrollBar(QWidget* Window, TIEScrollBarKind Bar, int32_t Page, TIEScrollRedraw Redraw)
{
    QScrollBar* Target = Window ? BarOf(Window, Bar) : nullptr;
    if (!Target)
        return;
    Target->setPageStep(std::max(0, Page));
    if (Redraw == iesrRedraw)
        Target->update();
}

} // namespace kv

// ---- TIEVirtualDIBList ------------------------------------------------------------

namespace kv {

namespace {

constexpr int64_t kVirtualBlockUnit = 65536;
constexpr int64_t kVirtualHeaderSize = int64_t(sizeof(TIEVirtualDIBHeader));

bool ValidVirtualBitCount(int32_t Bits)
{
    return Bits == 1 || Bits == 4 || Bits == 8 || Bits == 15 || Bits == 16 || Bits == 24 || Bits == 32;
}

TPixelFormat PixelFormatOfBits(int32_t Bits)
{
    switch (Bits) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 15: return pf15bit;
    case 16: return pf16bit;
    case 24: return pf24bit;
    default: return pf32bit;
    }
}

// A blank image's palette: black and white for one bit, an even grey ramp otherwise.
std::vector<TPaletteEntry> DefaultVirtualPalette(int32_t Bits)
{
    if (Bits > 8)
        return {};
    const int n = 1 << Bits;
    std::vector<TPaletteEntry> e(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const uint8_t v = uint8_t(i * 255 / (n - 1));
        e[size_t(i)] = TPaletteEntry{v, v, v, 0};
    }
    return e;
}

// BITMAPINFOHEADER: size 40, width, height, planes 1, bit count, the rest 0; then
// three 255 bytes and padding to 48.
void WriteVirtualHeader(uint8_t* h, int32_t Width, int32_t Height, int32_t BitCount)
{
    std::memset(h, 0, sizeof(TIEVirtualDIBHeader));
    PutU32LE(h, 40);
    PutU32LE(h + 4, uint32_t(Width));
    PutU32LE(h + 8, uint32_t(Height));
    PutU16LE(h + 12, 1);
    PutU16LE(h + 14, uint16_t(BitCount));
    h[40] = h[41] = h[42] = 255;
}

} // namespace

TIEVirtualDIBList::TIEVirtualDIBList(const std::string& Folder) : FFolder(Folder) { CreateFile(); }

TIEVirtualDIBList::~TIEVirtualDIBList()
{
    Clear();
    CloseFile();
}

void TIEVirtualDIBList::CreateFile()
{
    std::vector<std::string> folders;
    if (!FFolder.empty())
        folders.push_back(FFolder.back() == '/' ? FFolder : FFolder + '/');
    folders.push_back(TempFolder());
    for (const std::string& dir : folders) {
        std::string pattern = dir + "imagingXXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemp(name.data());
        if (fd < 0)
            continue;
        // Unlinked at once: the blocks vanish with the descriptor, even after a crash.
        unlink(name.data());
        if (!ReserveFileSize(fd, 0, kVirtualBlockUnit)) {
            close(fd);
            continue;
        }
        FFileHandle = fd;
        FFileName = name.data();
        FFolder = dir;
        FFileSize = kVirtualBlockUnit;
        FAllocatedEnd = 0;
        FGrowthStep = kVirtualBlockUnit;
        FLastBlockSize = 0;
        return;
    }
    throw EFCreateError("Cannot create the temporary file of the image list");
}

void TIEVirtualDIBList::CloseFile()
{
    if (FFileHandle >= 0)
        close(FFileHandle);
    FFileHandle = -1;
}

const TIEVirtualDIBList::TImageRec& TIEVirtualDIBList::Rec(int32_t Image) const
{
    if (Image < 0 || Image >= Count())
        throw EListError("List index out of bounds (" + std::to_string(Image) + ")");
    return *FImages[size_t(Image)];
}

TIEVirtualDIBList::TImageRec& TIEVirtualDIBList::Rec(int32_t Image)
{
    return const_cast<TImageRec&>(static_cast<const TIEVirtualDIBList*>(this)->Rec(Image));
}

void TIEVirtualDIBList::AllocateBlock(TImageRec& R, int32_t Width, int32_t Height, int32_t BitCount)
{
    if (!ValidVirtualBitCount(BitCount))
        throw EInvalidGraphic("Unsupported bit count " + std::to_string(BitCount) + " in the image list");
    if (Width < 1 || Height < 1)
        throw EOutOfResources("Image list: empty image " + std::to_string(Width) + " x " + std::to_string(Height));
    CheckPixelBufferSize(Width, Height, "TIEVirtualDIBList");
    const int64_t used = kVirtualHeaderSize + IERowLen(Width, BitCount) * Height;
    const int64_t n = (used + kVirtualBlockUnit - 1) / kVirtualBlockUnit * kVirtualBlockUnit;
    int64_t offset = -1, size = n;
    for (size_t i = 0; i < FFree.size(); ++i)
        if (FFree[i].Size >= n) {
            offset = FFree[i].Offset;
            size = FFree[i].Size;
            FFree.erase(FFree.begin() + std::ptrdiff_t(i));
            break;
        }
    if (offset < 0) {
        if (FGrowthStep < n)
            FGrowthStep = FLastBlockSize + n;
        if (FAllocatedEnd + n > FFileSize) {
            if (!ReserveFileSize(FFileHandle, FFileSize, FFileSize + FGrowthStep))
                throw EOutOfResources("Cannot grow the temporary file of the image list");
            FFileSize += FGrowthStep;
        }
        offset = FAllocatedEnd;
        FAllocatedEnd += n;
        FLastBlockSize = n;
    }
    R.Offset = offset;
    R.BlockSize = size;
    R.UsedSize = used;
    R.Width = Width;
    R.Height = Height;
    R.BitCount = BitCount;
}

// Free blocks stay sorted by offset, neighbours merged, so first fit takes the lowest.
void TIEVirtualDIBList::FreeBlock(TImageRec& R)
{
    UnmapView(R);
    if (R.BlockSize <= 0)
        return;
    TFreeBlock b{R.Offset, R.BlockSize};
    auto it = std::lower_bound(FFree.begin(), FFree.end(), b,
                               [](const TFreeBlock& a, const TFreeBlock& c) { return a.Offset < c.Offset; });
    it = FFree.insert(it, b);
    if (it + 1 != FFree.end() && it->Offset + it->Size == (it + 1)->Offset) {
        it->Size += (it + 1)->Size;
        FFree.erase(it + 1);
    }
    if (it != FFree.begin() && (it - 1)->Offset + (it - 1)->Size == it->Offset) {
        (it - 1)->Size += it->Size;
        FFree.erase(it);
    }
    R.BlockSize = 0;
}

uint8_t* TIEVirtualDIBList::MapView(TImageRec& R)
{
    if (R.View) {
        auto it = std::find(FMapped.begin(), FMapped.end(), &R);
        FMapped.erase(it);
        FMapped.push_back(&R);
        return R.View;
    }
    const size_t limit = size_t(std::max(ViewLimit, 1));
    while (FMapped.size() >= limit)
        UnmapView(*FMapped.front());
    void* v = mmap(nullptr, size_t(R.BlockSize), PROT_READ | PROT_WRITE, MAP_SHARED, FFileHandle, off_t(R.Offset));
    if (v == MAP_FAILED)
        throw EOutOfResources("Cannot map an image of the image list");
    R.View = static_cast<uint8_t*>(v);
    FMapped.push_back(&R);
    return R.View;
}

void TIEVirtualDIBList::UnmapView(TImageRec& R)
{
    if (!R.View)
        return;
    munmap(R.View, size_t(R.BlockSize));
    R.View = nullptr;
    FMapped.erase(std::find(FMapped.begin(), FMapped.end(), &R));
}

uint8_t* TIEVirtualDIBList::RowOf(TImageRec& R, int32_t Row)
{
    return MapView(R) + kVirtualHeaderSize + int64_t(R.Height - 1 - Row) * IERowLen(R.Width, R.BitCount);
}

int32_t TIEVirtualDIBList::AddPrepared(std::unique_ptr<TImageRec> R)
{
    WriteVirtualHeader(MapView(*R), R->Width, R->Height, R->BitCount);
    FImages.push_back(std::move(R));
    return Count() - 1;
}

int32_t TIEVirtualDIBList::AddBlankImage(int32_t Width, int32_t Height, int32_t BitCount)
{
    auto r = std::make_unique<TImageRec>();
    AllocateBlock(*r, Width, Height, BitCount);
    try {
        MapView(*r);
        // A reused block still holds the pixels of the image it was freed from.
        std::memset(r->View + kVirtualHeaderSize, 0, size_t(r->UsedSize - kVirtualHeaderSize));
    } catch (...) {
        FreeBlock(*r);
        throw;
    }
    r->Palette = DefaultVirtualPalette(BitCount);
    return AddPrepared(std::move(r));
}

int32_t TIEVirtualDIBList::AddBitmap(TBitmap* Bitmap)
{
    const int32_t bits = IEPixelFormatBits(Bitmap->PixelFormat());
    auto r = std::make_unique<TImageRec>();
    AllocateBlock(*r, Bitmap->Width(), Bitmap->Height(), bits);
    try {
        const size_t n = size_t(std::min<int64_t>(IERowLen(r->Width, bits), Bitmap->BytesPerScanLine()));
        for (int32_t y = 0; y < r->Height; ++y)
            std::memcpy(RowOf(*r, y), Bitmap->ScanLine(y), n);
    } catch (...) {
        FreeBlock(*r);
        throw;
    }
    r->Palette = bits <= 8 ? Bitmap->PaletteEntries() : std::vector<TPaletteEntry>{};
    return AddPrepared(std::move(r));
}

void TIEVirtualDIBList::Delete(int32_t Image)
{
    TImageRec& r = Rec(Image);
    FreeBlock(r);
    FImages.erase(FImages.begin() + Image);
    if (FImages.empty())
        Clear();
}

void TIEVirtualDIBList::Clear()
{
    while (!FMapped.empty())
        UnmapView(*FMapped.front());
    FImages.clear();
    FFree.clear();
    // Start the file afresh; the descriptor stays, so nothing can fail to reopen.
    if (FFileHandle >= 0 && FFileSize != kVirtualBlockUnit) {
        if (ftruncate(FFileHandle, 0) == 0 && ReserveFileSize(FFileHandle, 0, kVirtualBlockUnit))
            FFileSize = kVirtualBlockUnit;
        else
            FFileSize = 0; // the next block grows the file again
    }
    FAllocatedEnd = 0;
    FGrowthStep = kVirtualBlockUnit;
    FLastBlockSize = 0;
}

uint8_t* TIEVirtualDIBList::PixelBits(int32_t Image) { return MapView(Rec(Image)) + kVirtualHeaderSize; }

uint8_t* TIEVirtualDIBList::ScanLine(int32_t Image, int32_t Row)
{
    TImageRec& r = Rec(Image);
    if (Row < 0 || Row >= r.Height)
        throw ERangeError("Row " + std::to_string(Row) + " outside the image");
    return RowOf(r, Row);
}

const uint8_t* TIEVirtualDIBList::ImageHeader(int32_t Image) { return MapView(Rec(Image)); }

void TIEVirtualDIBList::CopyToTBitmap(int32_t Image, TBitmap* Bitmap)
{
    TImageRec& r = Rec(Image);
    Bitmap->SetSize(1, 1);
    Bitmap->SetPixelFormat(PixelFormatOfBits(r.BitCount));
    if (!r.Palette.empty())
        Bitmap->SetPaletteEntries(r.Palette);
    Bitmap->SetSize(r.Width, r.Height);
    const size_t n = size_t(std::min<int64_t>(IERowLen(r.Width, r.BitCount), Bitmap->BytesPerScanLine()));
    for (int32_t y = 0; y < r.Height; ++y)
        std::memcpy(Bitmap->ScanLine(y), RowOf(r, y), n);
}

void TIEVirtualDIBList::CopyFromTBitmap(int32_t Image, TBitmap* Bitmap)
{
    TImageRec& r = Rec(Image);
    const int32_t bits = IEPixelFormatBits(Bitmap->PixelFormat());
    if (Bitmap->Width() != r.Width || Bitmap->Height() != r.Height || bits != r.BitCount) {
        // The new block is taken before the old one is given up, so a refusal
        // leaves the image as it was.
        TImageRec fresh;
        AllocateBlock(fresh, Bitmap->Width(), Bitmap->Height(), bits);
        FreeBlock(r);
        r.Offset = fresh.Offset;
        r.BlockSize = fresh.BlockSize;
        r.UsedSize = fresh.UsedSize;
        r.Width = fresh.Width;
        r.Height = fresh.Height;
        r.BitCount = fresh.BitCount;
        WriteVirtualHeader(MapView(r), r.Width, r.Height, r.BitCount);
    }
    const size_t n = size_t(std::min<int64_t>(IERowLen(r.Width, bits), Bitmap->BytesPerScanLine()));
    for (int32_t y = 0; y < r.Height; ++y)
        std::memcpy(RowOf(r, y), Bitmap->ScanLine(y), n);
    r.Palette = bits <= 8 ? Bitmap->PaletteEntries() : std::vector<TPaletteEntry>{};
}

TBitmap* TIEVirtualDIBList::GetBitmap(int32_t Image)
{
    TImageRec& r = Rec(Image);
    if (!r.Checked) {
        auto b = std::make_unique<TBitmap>();
        CopyToTBitmap(Image, b.get());
        r.Checked = std::move(b);
    }
    return r.Checked.get();
}

void TIEVirtualDIBList::ReleaseBitmap(int32_t Image)
{
    TImageRec& r = Rec(Image);
    if (!r.Checked)
        return;
    CopyFromTBitmap(Image, r.Checked.get());
    r.Checked.reset();
}

} // namespace kv
