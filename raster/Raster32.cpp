// TBitmap32 storage, notifications, conversions to and from the platform's pictures,
// the "Data" property and BMP streams. Drawing lives in Raster32_Draw.cpp.
#include "raster/Raster32.h"

#include <memory>
#include <utility>

#include <algorithm>
#include <cstring>
#include <typeinfo>

namespace kv {

// ---- TThreadPersistent ------------------------------------------------------------

namespace {
// Guards every object's LockCount; exists before any window through the function-local static.
std::mutex& LockCountMutex()
{
    static std::mutex m;
    return m;
}
} // namespace

void TThreadPersistent::EndUpdate()
{
    Assert(FUpdateCount >= 1, "Unpaired TThreadPersistent.EndUpdate");
    --FUpdateCount;
}

void TThreadPersistent::Changed()
{
    if (FUpdateCount == 0 && OnChange)
        OnChange(this);
}

void TThreadPersistent::Lock()
{
    {
        std::lock_guard<std::mutex> g(LockCountMutex());
        ++FLockCount;
    }
    FLock.lock();
}

void TThreadPersistent::Unlock()
{
    FLock.unlock();
    std::lock_guard<std::mutex> g(LockCountMutex());
    --FLockCount;
}

int32_t TThreadPersistent::LockCount() const
{
    std::lock_guard<std::mutex> g(LockCountMutex());
    return FLockCount;
}

// ---- TCustomMap -------------------------------------------------------------------

bool TCustomMap::SetSize(int32_t NewWidth, int32_t NewHeight)
{
    bool changed = NewWidth != FWidth || NewHeight != FHeight;
    FWidth = NewWidth;
    FHeight = NewHeight;
    return changed;
}

void TCustomMap::Resized()
{
    if (OnResize)
        OnResize(this);
}

// ---- TBitmap32: storage -----------------------------------------------------------

TBitmap32::TBitmap32() : FFont(std::make_unique<TFont>())
{
    FFont->OnChange = [this](TObject*) { ReleaseFont(); };
}

TBitmap32::~TBitmap32()
{
    // No notification from here: the owner may be half destroyed already.
    OnChange = nullptr;
    OnResize = nullptr;
    Lock();
    ReleaseFont();
    FFont->OnChange = nullptr;
    FreeBlock();
    Unlock();
}

void TBitmap32::FreeBlock()
{
    ReleaseFont();
    FCanvas.reset();
    FreePixelBuffer(reinterpret_cast<uint8_t*>(FBits));
    FBits = nullptr;
}

bool TBitmap32::SetSize(int32_t NewWidth, int32_t NewHeight)
{
    return Reallocate(NewWidth, NewHeight, TPixelFill::Zeroed);
}

bool TBitmap32::SetSizeForOverwrite(int32_t NewWidth, int32_t NewHeight)
{
    return Reallocate(NewWidth, NewHeight, TPixelFill::Overwritten);
}

bool TBitmap32::Reallocate(int32_t NewWidth, int32_t NewHeight, TPixelFill Fill)
{
    if (NewWidth < 1)
        NewWidth = 0;
    if (NewHeight < 1)
        NewHeight = 0;
    if (NewWidth == FWidth && NewHeight == FHeight)
        return false;

    FreeBlock();
    FWidth = 0;
    FHeight = 0;
    if (NewWidth >= 1 && NewHeight >= 1) {
        CheckPixelBufferSize(NewWidth, NewHeight, "TBitmap32");
        uint8_t* block = nullptr;
        try {
            block = AllocPixelBuffer(NewWidth, NewHeight, int64_t(NewWidth) * 4, "TBitmap32", Fill);
        } catch (const EOutOfResources&) {
            throw EOutOfResources("Can't allocate the DIB handle");
        }
        if (!block)
            throw EOutOfResources("Can't allocate the DIB handle");
        FBits = reinterpret_cast<TColor32*>(block);
        FCanvas = std::make_unique<TCanvas>();
        FCanvas->AttachBuffer(FBits, NewWidth, NewHeight, NewWidth * 4);
    }
    FWidth = NewWidth;
    FHeight = NewHeight;
    Changed();
    Resized();
    return true;
}

void TBitmap32::ClearTo(TColor32 Color)
{
    if (IsEmpty())
        return;
    int64_t count = int64_t(FWidth) * FHeight;
    TColor32* p = FBits;
    for (int64_t i = 0; i < count; ++i)
        p[i] = Color;
    Changed();
}

void TBitmap32::MakeOpaque()
{
    if (!IsEmpty()) {
        int64_t count = int64_t(FWidth) * FHeight;
        for (int64_t i = 0; i < count; ++i)
            FBits[i] |= 0xFF000000u;
    }
    Changed();
}

void TBitmap32::DrawToDC(HDC DC, int32_t X, int32_t Y)
{
    if (IsEmpty() || !DC)
        return;
    BitBlt(DC, X, Y, FWidth, FHeight, Handle(), 0, 0, SRCCOPY);
}

void TBitmap32::SetDrawMode(TDrawMode Value)
{
    if (FDrawMode != Value) {
        FDrawMode = Value;
        Changed();
    }
}

void TBitmap32::SetMasterAlpha(int64_t Value)
{
    uint32_t clamped = Value < 0 ? 0 : Value > 255 ? 255 : uint32_t(Value);
    if (FMasterAlpha != clamped) {
        FMasterAlpha = clamped;
        Changed();
    }
}

void TBitmap32::SetStretchFilter(TStretchFilter Value)
{
    if (FStretchFilter != Value) {
        FStretchFilter = Value;
        Changed();
    }
}

// ---- Font bookkeeping -------------------------------------------------------------

void TBitmap32::SetFont(TFont* Value)
{
    FFont->Assign(Value);
    ReleaseFont();
}

// The canvas over the pixel block plays the memory context: selecting the font copies
// it there with its colour resolved and a transparent text background.
void TBitmap32::SelectFont()
{
    if (FFontSelected || !FCanvas)
        return;
    FCanvas->SetFont(FFont.get());
    FCanvas->Font()->SetColor(ColorToRGB(FFont->Color()));
    FCanvas->SetTransparentText(true);
    FCanvas->Brush()->SetStyle(bsClear);
    FFontSelected = true;
}

void TBitmap32::ReleaseFont() { FFontSelected = false; }

// ---- Assignment -------------------------------------------------------------------

void TBitmap32::Assign(TPersistent* Source)
{
    {
        TUpdateGuard update(*this);
        if (!Source) {
            SetSize(0, 0);
        } else if (auto* src = dynamic_cast<TBitmap32*>(Source)) {
            if (src != this) {
                // The copy below writes every pixel: a reused block need not be zeroed first.
                SetSizeForOverwrite(src->Width(), src->Height());
                if (!IsEmpty()) {
                    std::memcpy(FBits, src->FBits, size_t(FWidth) * size_t(FHeight) * 4);
                    FDrawMode = src->FDrawMode;
                    FMasterAlpha = src->FMasterAlpha;
                    FOuterColor = src->FOuterColor;
                    FStretchFilter = src->FStretchFilter;
                }
            }
        } else if (auto* bmp = dynamic_cast<TBitmap*>(Source)) {
            AssignFromBitmap(*bmp);
        } else if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
            AssignFromGraphic(*graphic, graphic->Width(), graphic->Height());
        } else if (auto* picture = dynamic_cast<TPicture*>(Source)) {
            AssignFromPicture(*picture);
        } else if (Source->ClassName() == "TClipboard") {
            TPicture clipped;
            clipped.Assign(Source);
            AssignFromPicture(clipped);
        } else {
            TCustomMap::Assign(Source); // the conversion error
        }
    }
    Changed();
}

void TBitmap32::TakeBlock(TBitmap32& Source)
{
    const bool resized = Source.FWidth != FWidth || Source.FHeight != FHeight;
    FreeBlock();
    Source.ReleaseFont();
    FBits = std::exchange(Source.FBits, nullptr);
    FCanvas = std::move(Source.FCanvas);
    FWidth = std::exchange(Source.FWidth, 0);
    FHeight = std::exchange(Source.FHeight, 0);
    Changed();
    if (resized)
        Resized();
}

void TBitmap32::TakeOver(TBitmap32& Source)
{
    if (&Source == this)
        return;
    {
        TUpdateGuard update(*this);
        const bool empty = Source.IsEmpty();
        if (empty) {
            SetSize(0, 0);
        } else {
            FDrawMode = Source.FDrawMode;
            FMasterAlpha = Source.FMasterAlpha;
            FOuterColor = Source.FOuterColor;
            FStretchFilter = Source.FStretchFilter;
            TakeBlock(Source);
        }
    }
    Changed();
}

void TBitmap32::AssignFromPicture(TPicture& Picture)
{
    TGraphic* graphic = Picture.Graphic();
    if (auto* bmp = dynamic_cast<TBitmap*>(graphic)) {
        AssignFromBitmap(*bmp);
    } else if (graphic) {
        AssignFromGraphic(*graphic, Picture.Width(), Picture.Height());
    } else {
        SetSize(0, 0);
    }
}

void TBitmap32::AssignFromGraphic(TGraphic& Graphic, int32_t GraphicWidth, int32_t GraphicHeight)
{
    SetSizeForOverwrite(GraphicWidth, GraphicHeight);
    if (IsEmpty())
        return;
    // The platform's canvas has no alpha of its own: a graphic with alpha blends over the
    // fresh bitmap's black, where a transparent destination would keep its colours at
    // full strength.
    std::fill_n(FBits, size_t(FWidth) * size_t(FHeight), TColor32(0xFF000000u));
    FCanvas->StretchDraw(Rect(0, 0, FWidth, FHeight), &Graphic);
    MakeOpaque();
}

// 32-bit sources keep their fourth byte as alpha; every other depth comes out opaque.
void TBitmap32::AssignFromBitmap(TBitmap& Bmp)
{
    SetSizeForOverwrite(Bmp.Width(), Bmp.Height()); // every branch below writes every pixel
    if (IsEmpty())
        return;
    TPixelFormat format = Bmp.PixelFormat();
    if (format == pf32bit || format == pfDevice) {
        for (int32_t y = 0; y < FHeight; ++y)
            std::memcpy(RowAddress(y), Bmp.ScanLine(y), size_t(FWidth) * 4);
    } else if (format == pf24bit) {
        for (int32_t y = 0; y < FHeight; ++y) {
            const uint8_t* s = Bmp.ScanLine(y);
            TColor32* d = RowAddress(y);
            for (int32_t x = 0; x < FWidth; ++x, s += 3)
                d[x] = 0xFF000000u | (uint32_t(s[2]) << 16) | (uint32_t(s[1]) << 8) | s[0];
        }
    } else {
        // Straight into the block: the words the blit of the bitmap's canvas would copy.
        BitmapToPixels32(Bmp, reinterpret_cast<uint32_t*>(FBits));
    }
    // Every conversion above already gave opaque pixels; pfDevice rows were copied.
    if (format == pfDevice)
        MakeOpaque();
}

void TBitmap32::CopyToBitmap(TBitmap& Bmp)
{
    Bmp.SetHandleType(bmDIB);
    Bmp.SetPixelFormat(pf32bit);
    Bmp.SetSize(FWidth, FHeight);
    if (IsEmpty())
        return;
    // The same bytes a SRCCOPY blit moves, alpha included.
    for (int32_t y = 0; y < FHeight; ++y)
        std::memcpy(Bmp.ScanLine(y), RowAddress(y), size_t(FWidth) * 4);
}

void TBitmap32::AssignTo(TPersistent* Dest)
{
    if (auto* picture = dynamic_cast<TPicture*>(Dest)) {
        CopyToBitmap(*picture->Bitmap());
    } else if (auto* bmp = dynamic_cast<TBitmap*>(Dest)) {
        CopyToBitmap(*bmp);
    } else if (Dest && Dest->ClassName() == "TClipboard") {
        TBitmap temp;
        CopyToBitmap(temp);
        Dest->Assign(&temp);
    } else {
        TCustomMap::AssignTo(Dest);
    }
}

// ---- Streams and files ------------------------------------------------------------

void TBitmap32::SaveToStream(TStream& Stream)
{
    TBitmap temp;
    CopyToBitmap(temp);
    temp.SaveToStream(Stream);
}

void TBitmap32::LoadFromStream(TStream& Stream)
{
    TBitmap temp;
    temp.LoadFromStream(Stream);
    {
        TUpdateGuard update(*this);
        AssignFromBitmap(temp);
    }
    Changed();
}

void TBitmap32::SaveToFile(const std::string& FileName)
{
    SaveFileSafely(FileName, [this](TStream& Stream) { SaveToStream(Stream); });
}

// The registry's JPEG, BMP and PNG classes would load a colour picture into a platform
// bitmap whose rows assigning then copies; they can write those words into the block
// themselves, so the full-size copy never exists. Other pictures, and the pictures such a
// class cannot write so, still arrive in the graphic and are assigned as before.
void TBitmap32::LoadFromFile(const std::string& FileName, bool* Damaged)
{
    if (Damaged)
        *Damaged = false;
    // The class is chosen before the file is opened, so a missing file whose extension
    // no class reads reports the extension.
    const TGraphicClass& cls = TPicture::GraphicClassForFile(FileName);
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromGraphicStream(cls, stream, Damaged);
}

void TBitmap32::LoadFromGraphicStream(const TGraphicClass& Class, TStream& Stream, bool* Damaged)
{
    if (Damaged)
        *Damaged = false;
    std::unique_ptr<TGraphic> graphic = Class.Create();
    TBitmap32 fresh;
    // A class that takes the block writes every pixel of it, the rows a damaged file
    // lacks included, so the block is not zeroed first: on a reused block that would be
    // a whole extra pass over the picture.
    graphic->AcceptPixels32Target([&fresh](int32_t W, int32_t H) {
        fresh.SetSizeForOverwrite(W, H);
        return reinterpret_cast<uint32_t*>(fresh.FBits);
    });
    graphic->LoadFromStream(Stream);
    if (Damaged)
        *Damaged = graphic->PartlyRead();
    if (fresh.IsEmpty()) {
        Assign(graphic.get());
        return;
    }
    {
        TUpdateGuard update(*this);
        TakeBlock(fresh);
    }
    Changed();
}

void TBitmap32::WriteData(TStream& Stream)
{
    Stream.WriteI32LE(FWidth);
    Stream.WriteI32LE(FHeight);
    if (!IsEmpty()) {
        // Pixels are B, G, R, A in memory on every platform we build for; write them
        // through the helper anyway so the layout never depends on it.
        std::vector<uint8_t> row(size_t(FWidth) * 4);
        for (int32_t y = 0; y < FHeight; ++y) {
            const TColor32* p = RowAddress(y);
            for (int32_t x = 0; x < FWidth; ++x)
                PutU32LE(&row[size_t(x) * 4], p[x]);
            Stream.WriteBuffer(row.data(), int64_t(row.size()));
        }
    }
}

void TBitmap32::ReadData(TStream& Stream)
{
    // Anything refused or cut short leaves the bitmap empty, never half read.
    try {
        int32_t w = Stream.ReadI32LE();
        int32_t h = Stream.ReadI32LE();
        // The byte count is only formed once both sides are known to be in range: two
        // large negative sides would overflow it.
        bool sane = w >= 0 && h >= 0 && w <= MaxPixelSide && h <= MaxPixelSide && int64_t(w) * h <= MaxPixelCount &&
                    int64_t(w) * h * 4 <= Stream.Remaining();
        if (!sane)
            throw EReadError("Invalid bitmap data: " + std::to_string(w) + " x " + std::to_string(h));
        SetSize(w, h);
        if (!IsEmpty()) {
            std::vector<uint8_t> row(size_t(w) * 4);
            for (int32_t y = 0; y < h; ++y) {
                Stream.ReadBuffer(row.data(), int64_t(row.size()));
                TColor32* p = RowAddress(y);
                for (int32_t x = 0; x < w; ++x)
                    p[x] = GetU32LE(&row[size_t(x) * 4]);
            }
        }
    } catch (const EReadError&) {
        SetSize(0, 0);
        throw;
    } catch (const Exception& e) {
        SetSize(0, 0);
        throw EReadError(e.Message());
    }
    Changed();
}

bool TBitmap32::DataEquals(TBitmap32* A, TBitmap32* B)
{
    bool emptyA = !A || A->IsEmpty();
    bool emptyB = !B || B->IsEmpty();
    if (emptyA || emptyB)
        return emptyA && emptyB;
    // Equal SaveToStream outputs mean equal size and equal pixel bytes.
    return typeid(*A) == typeid(*B) && A->FWidth == B->FWidth && A->FHeight == B->FHeight &&
           std::memcmp(A->FBits, B->FBits, size_t(A->FWidth) * size_t(A->FHeight) * 4) == 0;
}

bool TBitmap32::ShouldWriteData(TPersistent* Ancestor)
{
    if (!Ancestor)
        return !IsEmpty();
    auto* ancestor = dynamic_cast<TBitmap32*>(Ancestor);
    return !ancestor || !DataEquals(this, ancestor);
}

} // namespace kv
