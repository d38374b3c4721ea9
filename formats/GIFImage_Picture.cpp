// GIFImage: the picture class. It owns the model, reads and writes whole streams, turns
// other pictures into frames, renders frames into platform bitmaps and meets the
// graphic-class registry and the clipboard.
#include "formats/GIFImage.h"

#include "platform/Clipbrd.h"
#include "platform/Icon.h"
#include "platform/Threads.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace kv::GIFImage {

TGIFRenderCache::~TGIFRenderCache() { DeletePalette(Palette); }

TGIFClock& GIFClock()
{
    static TGIFClock clock{[] { return GetTickCount(); },
                           [](uint32_t ms) {
                               if (ms == 0)
                                   std::this_thread::yield();
                               else
                                   std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                           }};
    return clock;
}

bool& PaletteDevice()
{
    // Every display here has at least 9 bits a pixel: never a palette device.
    static bool paletteDevice = false;
    return paletteDevice;
}

TClipboardFormat CF_GIF()
{
    static const TClipboardFormat format = RegisterClipboardFormat("GIF Image");
    return format;
}

namespace {
TGIFPalette FromPlatform(const std::vector<TPaletteEntry>& entries)
{
    TGIFPalette pal;
    for (const TPaletteEntry& e : entries)
        pal.push_back(TGIFPaletteEntry{e.peRed, e.peGreen, e.peBlue, e.peFlags});
    return pal;
}

std::vector<TPaletteEntry> ToPlatform(const TGIFPalette& pal)
{
    std::vector<TPaletteEntry> out;
    for (const TGIFPaletteEntry& e : pal)
        out.push_back(TPaletteEntry{e.Red, e.Green, e.Blue, e.Flags});
    return out;
}

// Indexed palettes of rendered frames hold 256 entries, so that any index in the data
// (a corrupt one too) has a colour.
std::vector<TPaletteEntry> Padded(std::vector<TPaletteEntry> entries)
{
    entries.resize(256, TPaletteEntry{0, 0, 0, 0});
    return entries;
}
} // namespace

TGIFPalette SystemPalette20() { return FromPlatform(SystemPaletteEntries()); }

TGIFPalette HalftonePalette()
{
    HPALETTE pal = CreateHalftonePalette();
    TGIFPalette out = FromPlatform(PaletteEntries(pal));
    DeletePalette(pal);
    return out;
}

// ---------------------------------------------------------------------------------------
// Construction and the model's operations

TGIFImage::TGIFImage()
    : FHeader(this), FImages(this), FLink(std::make_shared<TGIFImageLink>()),
      FDrawOptions(GIFSettings().DefaultDrawOptions), FReductionMethod(GIFSettings().DefaultReductionMethod),
      FQuantizeBits(GIFSettings().DefaultQuantizeBits), FDitherMethod(GIFSettings().DefaultDitherMethod),
      FCompression(GIFSettings().DefaultCompression), FPainterPriority(GIFSettings().DefaultPainterPriority),
      FPlaySpeed(GIFSettings().DefaultPlaySpeed)
{
    FLink->Image = this;
    Clear();
}

TGIFImage::~TGIFImage()
{
    StopDraw();
    {
        // Painters still listed forget the picture.
        std::lock_guard<std::mutex> guard(FLink->Lock);
        FLink->Image = nullptr;
    }
    {
        std::lock_guard<std::recursive_mutex> guard(FPaintersLock);
        FPainters.clear();
        FPainter = nullptr;
    }
    FImages.Clear();
    DeletePalette(FPalette);
}

TGIFVersion TGIFImage::Version()
{
    if (FImages.Count() == 0)
        return gvUnknown;
    TGIFVersion v = FHeader.Version();
    for (int32_t i = 0; i < FImages.Count() && v < gv89a; ++i)
        v = std::max(v, FImages[i]->Version());
    return v;
}

int32_t TGIFImage::BitsPerPixel()
{
    int32_t bpp = FHeader.ColorMap().BitsPerPixel();
    for (int32_t i = 0; i < FImages.Count(); ++i)
        bpp = std::max(bpp, FImages[i]->BitsPerPixel());
    return std::max(1, bpp);
}

int32_t TGIFImage::ColorResolution() { return BitsPerPixel() - 1; }

void TGIFImage::Warning(TObject* Sender, TGIFSeverity Severity, const std::string& Message)
{
    if (OnWarning)
        OnWarning(Sender, Severity, Message);
}

void TGIFImage::Progress(TObject* Sender, TProgressStage Stage, int32_t Percent, const std::string& Msg)
{
    TGraphic::Progress(Sender, Stage, uint8_t(std::clamp(Percent, 0, 100)), false, TRect{}, Msg);
}

void TGIFImage::DropBitmap() { FBitmap.reset(); }

void TGIFImage::Clear()
{
    StopDraw();
    DropBitmap();
    FImages.Clear();
    FHeader.Clear();
    FHeader.Prepare();
    SetPalette(nullptr);
}

int32_t TGIFImage::Add(std::unique_ptr<TGIFSubImage> SubImage)
{
    StopPainter();
    DropBitmap();
    // The logical screen grows to hold the new frame; it never shrinks.
    FHeader.SetWidth(uint16_t(std::max<int32_t>(FHeader.Width(), SubImage->Left() + SubImage->Width())));
    FHeader.SetHeight(uint16_t(std::max<int32_t>(FHeader.Height(), SubImage->Top() + SubImage->Height())));
    int32_t index = FImages.Add(std::move(SubImage));
    Changed(this);
    return index;
}

int32_t TGIFImage::Add(TPersistent* Source)
{
    if (!dynamic_cast<TGraphic*>(Source) && !dynamic_cast<TGIFSubImage*>(Source) && !dynamic_cast<TPicture*>(Source))
        throw GIFException("Object type not supported for operation");
    auto sub = std::make_unique<TGIFSubImage>(this);
    sub->Assign(Source);
    return Add(std::move(sub));
}

void TGIFImage::SetWidth(int32_t Value)
{
    for (int32_t i = 0; i < FImages.Count(); ++i)
        if (FImages[i]->Left() + FImages[i]->Width() > Value)
            throw GIFException("Image width too small for contained frames");
    if (Value == FHeader.Width())
        return;
    StopPainter();
    DropBitmap();
    FHeader.SetWidth(uint16_t(Value));
    Changed(this);
}

void TGIFImage::SetHeight(int32_t Value)
{
    for (int32_t i = 0; i < FImages.Count(); ++i)
        if (FImages[i]->Top() + FImages[i]->Height() > Value)
            throw GIFException("Image height too small for contained frames");
    if (Value == FHeader.Height())
        return;
    StopPainter();
    DropBitmap();
    FHeader.SetHeight(uint16_t(Value));
    Changed(this);
}

void TGIFImage::LoadFromStream(TStream& Stream)
{
    Progress(this, psStarting, 0, "Loading...");
    int64_t start = 0;
    FPartlyRead = false;
    try {
        Clear();
        start = Stream.Position();
        FHeader.LoadFromStream(Stream);
        FImages.LoadFromStream(Stream, this);
        TGIFTrailer trailer(this);
        trailer.LoadFromStream(Stream);
        // A frame whose data ends early keeps its fill colour below the last pixel read.
        for (int32_t i = 0; i < FImages.Count(); ++i)
            FPartlyRead = FPartlyRead || FImages[i]->DataTruncated();
    } catch (...) {
        Stream.Seek(start, soBeginning);
        Progress(this, psEnding, 0, "Loading...");
        throw;
    }
    Progress(this, psEnding, 100, "Loading...");
    Changed(this);
}

void TGIFImage::SaveToStream(TStream& Stream)
{
    Progress(this, psStarting, 0, "Saving...");
    try {
        FHeader.SaveToStream(Stream);
        FImages.SaveToStream(Stream);
        TGIFTrailer trailer(this);
        trailer.SaveToStream(Stream);
    } catch (...) {
        Progress(this, psEnding, 0, "Saving...");
        throw;
    }
    Progress(this, psEnding, 100, "Saving...");
}

bool TGIFImage::Dithering() const
{
    return (FDrawOptions & doDither) && (!(FDrawOptions & doAutoDither) || PaletteDevice());
}

void TGIFImage::SetDrawOptions(uint16_t Value)
{
    if (Value == FDrawOptions)
        return;
    StopPainter();
    FDrawOptions = Value;
    DropBitmap();
    DeletePalette(FPalette);
    FPalette = nullptr;
    for (int32_t i = 0; i < FImages.Count(); ++i)
        FImages[i]->FreeRender();
    // A single frame's own table serves as the picture's.
    if (GlobalColorMap().Count() == 0 && FImages.Count() == 1) {
        GlobalColorMap().Assign(&FImages[0]->ColorMap());
        FImages[0]->ColorMap().Clear();
    }
    Changed(this);
}

// ---------------------------------------------------------------------------------------
// Palettes

HPALETTE TGIFImage::Palette() const
{
    auto* self = const_cast<TGIFImage*>(this);
    if (FInGetPalette)
        throw GIFException("No global or local color table defined");
    if (FBitmap && !FBitmap->PaletteEntries().empty())
        return FBitmap->Palette();
    if (FPalette)
        return FPalette;
    self->FInGetPalette = true;
    try {
        if (Dithering())
            FPalette = CreatePalette(ToPlatform(WebPalette()));
        else if (self->GlobalColorMap().Count() > 0)
            FPalette = CreatePalette(ToPlatform(self->GlobalColorMap().ExportPalette()));
        else if (FImages.Count() > 0) {
            // The first frame's palette; it asks back here when it has no table of its own.
            HPALETTE framePalette = self->FramePalette(*FImages[0]);
            self->FInGetPalette = false;
            return framePalette;
        }
    } catch (...) {
        self->FInGetPalette = false;
        throw;
    }
    self->FInGetPalette = false;
    return FPalette;
}

void TGIFImage::SetPalette(HPALETTE Value)
{
    if (Value == FPalette)
        return;
    DeletePalette(FPalette);
    FPalette = Value;
    if (FBitmap && FBitmap->Palette() != Value) {
        DropBitmap();
        Changed(this);
    }
}

HPALETTE TGIFImage::FramePalette(TGIFSubImage& Sub)
{
    TGIFRenderCache& cache = Sub.EnsureRenderCache();
    if (cache.Bitmap && !cache.Bitmap->PaletteEntries().empty())
        return cache.Bitmap->Palette();
    if (cache.Palette)
        return cache.Palette;
    if (Dithering())
        cache.Palette = CreatePalette(ToPlatform(WebPalette()));
    else if (Sub.ColorMap().Count() == 0)
        return Palette();
    else
        cache.Palette = CreatePalette(ToPlatform(Sub.ColorMap().ExportPalette()));
    return cache.Palette;
}

// ---------------------------------------------------------------------------------------
// Rendering frames

TGIFRenderCache& TGIFSubImage::EnsureRenderCache()
{
    if (!FRender)
        FRender = std::make_unique<TGIFRenderCache>();
    return *FRender;
}

void TGIFImage::RenderFrame(TGIFSubImage& Sub)
{
    TGIFRenderCache& cache = Sub.EnsureRenderCache();
    auto bmp = std::make_unique<TBitmap>();
    if (Sub.Empty()) {
        bmp->SetPixelFormat(pf8bit);
        bmp->SetSize(Sub.Width(), Sub.Height());
        cache.Bitmap = std::move(bmp);
        return;
    }
    Progress(this, psStarting, 0, "Rendering...");
    const int32_t w = Sub.Width(), h = Sub.Height();
    bmp->SetPixelFormat(pf8bit);
    bmp->SetSize(w, h);
    const bool dither = Dithering();
    TGIFColorMap& map = Sub.ActiveColorMap();
    std::vector<TPaletteEntry> colours = Padded(ToPlatform(map.ExportPalette()));
    bmp->SetPaletteEntries(dither ? Padded(ToPlatform(WebPalette())) : colours);

    const bool wantMask = Sub.NeedMask() && Sub.Transparent() && Sub.GraphicControlExtension();
    const uint8_t transparentIndex = wantMask ? Sub.GraphicControlExtension()->TransparentColorIndex() : 0;
    cache.MaskStride = ((w + 15) / 16) * 2;
    cache.Mask.assign(wantMask ? size_t(cache.MaskStride) * size_t(h) : 0, 0);
    bool anyMasked = false;

    TNetscapeColorLookup web;
    std::unique_ptr<TDitherEngine> ditherer;
    if (dither)
        ditherer = std::make_unique<TFloydSteinbergDitherer>(w, web);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = Sub.Data().data() + size_t(y) * size_t(w);
        uint8_t* dst = bmp->ScanLine(y);
        if (dither) {
            uint8_t r, g, b;
            for (int32_t x = ditherer->Column(); x >= 0 && x < w; x = ditherer->Column()) {
                const TPaletteEntry& c = colours[src[x]];
                dst[x] = uint8_t(ditherer->Dither(c.peRed, c.peGreen, c.peBlue, r, g, b));
            }
            ditherer->NextLine();
        } else
            std::memcpy(dst, src, size_t(w));
        if (wantMask)
            for (int32_t x = 0; x < w; ++x)
                if (src[x] == transparentIndex) {
                    cache.Mask[size_t(y) * size_t(cache.MaskStride) + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
                    anyMasked = true;
                }
        if (y % 32 == 31)
            Progress(this, psRunning, y * 100 / h, "Rendering...");
    }
    cache.HasMask = anyMasked;
    if (!anyMasked)
        cache.Mask.clear();
    cache.Bitmap = std::move(bmp);
    Progress(this, psEnding, 100, "Rendering...");
}

TBitmap* TGIFImage::FrameBitmap(TGIFSubImage& Sub)
{
    TGIFRenderCache& cache = Sub.EnsureRenderCache();
    if (!cache.Bitmap)
        RenderFrame(Sub);
    return cache.Bitmap.get();
}

namespace {
// Two bitmaps for a masked draw through raster operations: the mask (white where the
// frame is transparent) and the picture with its transparent pixels black.
void MakeMaskPair(TBitmap& frame, const TGIFRenderCache& cache, TBitmap& mask, TBitmap& image)
{
    const int32_t w = frame.Width(), h = frame.Height();
    mask.SetPixelFormat(pf24bit);
    mask.SetSize(w, h);
    image.Assign(&frame);
    image.SetPixelFormat(pf24bit);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* m = mask.ScanLine(y);
        uint8_t* p = image.ScanLine(y);
        const uint8_t* bits = cache.Mask.data() + size_t(y) * size_t(cache.MaskStride);
        for (int32_t x = 0; x < w; ++x) {
            bool transparent = (bits[x / 8] & (0x80 >> (x % 8))) != 0;
            uint8_t v = transparent ? 255 : 0;
            m[3 * x] = m[3 * x + 1] = m[3 * x + 2] = v;
            if (transparent)
                p[3 * x] = p[3 * x + 1] = p[3 * x + 2] = 0;
        }
    }
}

void DrawBitmapInRect(TBitmap& frame, const TGIFRenderCache* cache, TCanvas& canvas, const TRect& r, bool masked)
{
    if (r.Width() <= 0 || r.Height() <= 0)
        return;
    if (!masked || !cache || !cache->HasMask) {
        canvas.StretchDraw(r, &frame);
        return;
    }
    TBitmap mask, image;
    MakeMaskPair(frame, *cache, mask, image);
    // Where the mask is white the target stays; elsewhere the picture replaces it.
    StretchBlt(canvas.Handle(), r.Left, r.Top, r.Width(), r.Height(), mask.Canvas()->Handle(), 0, 0, mask.Width(),
               mask.Height(), SRCAND);
    StretchBlt(canvas.Handle(), r.Left, r.Top, r.Width(), r.Height(), image.Canvas()->Handle(), 0, 0, image.Width(),
               image.Height(), SRCPAINT);
}
} // namespace

void TGIFImage::DrawFrame(TGIFSubImage& Sub, TCanvas& ACanvas, const TRect& Rect, bool ATransparent, bool ATile)
{
    const int32_t w = Width(), h = Height();
    // A picture without a size has nothing to scale from and nothing to tile.
    if (w <= 0 || h <= 0 || Sub.Empty())
        return;
    TBitmap* frame = FrameBitmap(Sub);
    const TGIFRenderCache* cache = Sub.RenderCache();
    const bool masked = ATransparent && Sub.Transparent();
    if (!ATile) {
        TRect r{Rect.Left + MulDiv(Sub.Left(), Rect.Width(), w), Rect.Top + MulDiv(Sub.Top(), Rect.Height(), h),
                Rect.Left + MulDiv(Sub.Left() + Sub.Width(), Rect.Width(), w),
                Rect.Top + MulDiv(Sub.Top() + Sub.Height(), Rect.Height(), h)};
        DrawBitmapInRect(*frame, cache, ACanvas, r, masked);
        return;
    }
    for (int32_t y = Rect.Top; y < Rect.Bottom; y += h)
        for (int32_t x = Rect.Left; x < Rect.Right; x += w)
            DrawBitmapInRect(*frame, cache, ACanvas, Bounds(x + Sub.Left(), y + Sub.Top(), Sub.Width(), Sub.Height()),
                             masked);
}

TBitmap* TGIFImage::Bitmap()
{
    if (Empty())
        return nullptr;
    if (FBitmap)
        return FBitmap.get();
    auto bmp = std::make_unique<TBitmap>();
    TGIFSubImage& first = *FImages[0];
    if (first.Left() == 0 && first.Top() == 0 && first.Width() == Width() && first.Height() == Height()) {
        bmp->Assign(FrameBitmap(first));
    } else {
        bmp->SetPixelFormat(pf24bit);
        bmp->SetSize(Width(), Height());
        DrawFrame(first, *bmp->Canvas(), Rect(0, 0, Width(), Height()), false, false);
    }
    bmp->OnChange = [this](TObject*) { Changed(this); };
    FBitmap = std::move(bmp);
    return FBitmap.get();
}

void TGIFImage::ShowBitmap(TCanvas& ACanvas, const TRect& Rect)
{
    if (!FBitmap)
        return;
    if (!(FDrawOptions & doTile)) {
        ACanvas.StretchDraw(Rect, FBitmap.get());
        return;
    }
    const int32_t w = Width(), h = Height();
    if (w <= 0 || h <= 0)
        return;
    for (int32_t y = Rect.Top; y < Rect.Bottom; y += h)
        for (int32_t x = Rect.Left; x < Rect.Right; x += w)
            ACanvas.Draw(x, y, FBitmap.get());
}

// ---------------------------------------------------------------------------------------
// Assigning

void TGIFImage::AssignTo(TPersistent* Dest)
{
    if (auto* bmp = dynamic_cast<TBitmap*>(Dest)) {
        if (TBitmap* composed = Bitmap())
            bmp->Assign(composed);
        else
            bmp->SetSize(0, 0);
        return;
    }
    TGraphic::AssignTo(Dest);
}

void TGIFImage::Assign(TPersistent* Source)
{
    if (Source == this)
        return;
    if (!Source) {
        Clear();
        return;
    }
    if (auto* src = dynamic_cast<TGIFImage*>(Source)) {
        Clear();
        // For the time of the copy, progress and warnings go to the source's handlers.
        OnProgress = src->OnProgress;
        OnWarning = src->OnWarning;
        try {
            Progress(this, psStarting, 0, "Copying...");
            FHeader.Assign(&src->FHeader);
            FPainterPriority = src->FPainterPriority;
            FBackgroundColor = src->FBackgroundColor;
            FDrawOptions = src->FDrawOptions;
            FReductionMethod = src->FReductionMethod;
            FDitherMethod = src->FDitherMethod;
            for (int32_t i = 0; i < src->FImages.Count(); ++i) {
                auto sub = std::make_unique<TGIFSubImage>(this);
                sub->Assign(src->FImages[i]);
                FImages.Add(std::move(sub));
                Progress(this, psRunning, (i + 1) * 100 / src->FImages.Count(), "Copying...");
            }
            Progress(this, psEnding, 100, "Copying...");
        } catch (...) {
            OnProgress = nullptr;
            OnWarning = nullptr;
            throw;
        }
        OnProgress = nullptr;
        OnWarning = nullptr;
        Changed(this);
        return;
    }
    if (dynamic_cast<TGraphic*>(Source) || dynamic_cast<TPicture*>(Source)) {
        Clear();
        Add(Source);
        return;
    }
    TGraphic::Assign(Source);
}

namespace {
// Indices of a 1, 4 or 8-bit row; bits and nibbles most significant first.
void UnpackRow(const uint8_t* row, int32_t bits, int32_t width, uint8_t* out)
{
    for (int32_t x = 0; x < width; ++x) {
        if (bits == 8)
            out[x] = row[x];
        else if (bits == 4)
            out[x] = uint8_t((x & 1) ? (row[x / 2] & 0x0F) : (row[x / 2] >> 4));
        else
            out[x] = uint8_t((row[x / 8] >> (7 - (x % 8))) & 1);
    }
}
} // namespace

void TGIFSubImage::AssignGraphic(TPersistent* Source)
{
    if (auto* picture = dynamic_cast<TPicture*>(Source)) {
        if (picture->Graphic())
            AssignGraphic(picture->Graphic());
        else
            Clear();
        return;
    }
    if (auto* bmp = dynamic_cast<TBitmap*>(Source)) {
        Clear();
        if (bmp->Width() > 65535 || bmp->Height() > 65535)
            throw GIFException("Invalid image dimensions");
        const int32_t w = bmp->Width(), h = bmp->Height();
        CheckPixelBufferSize(w, h, "GIF frame");
        TPixelFormat pf = bmp->PixelFormat();
        if (pf == pf1bit || pf == pf4bit || pf == pf8bit) {
            const int32_t bits = pf == pf1bit ? 1 : pf == pf4bit ? 4 : 8;
            TGIFPalette pal = FromPlatform(bmp->PaletteEntries());
            pal.resize(std::min<size_t>(pal.size(), size_t(1) << bits));
            FColorMap.ImportPalette(pal);
            SetSize(uint16_t(w), uint16_t(h));
            for (int32_t y = 0; y < h; ++y) {
                UnpackRow(bmp->ScanLine(y), bits, w, FData.data() + size_t(y) * size_t(w));
                if (FImage && h > 0)
                    FImage->Progress(FImage, psRunning, (y + 1) * 100 / h, "Converting...");
            }
            // Indices past the table's end would not survive writing.
            if (FColorMap.Count() > 0)
                for (uint8_t& index : FData)
                    if (index >= FColorMap.Count())
                        index = 0;
            return;
        }
        TBitmap rgb;
        rgb.Assign(bmp);
        rgb.SetPixelFormat(pf24bit);
        TRGBSource src{w, h, [&rgb](int32_t y) { return static_cast<const uint8_t*>(rgb.ScanLine(y)); }};
        uint8_t method = FImage ? FImage->ReductionMethod() : crWeb216;
        uint8_t dither = FImage ? FImage->DitherMethod() : uint8_t(dkNearest);
        int32_t bits = FImage ? FImage->QuantizeBits() : 8;
        if (FImage)
            FImage->Progress(FImage, psStarting, 0, "Converting...");
        TReducedImage reduced = ReduceColorsToIndices(src, method, dither, bits, nullptr);
        FColorMap.ImportPalette(reduced.Palette);
        SetSize(uint16_t(w), uint16_t(h));
        FData = std::move(reduced.Indices);
        if (FImage)
            FImage->Progress(FImage, psEnding, 100, "Converting...");
        return;
    }
    if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
        TBitmap bmp;
        bmp.SetPixelFormat(pf24bit);
        bmp.SetSize(graphic->Width(), graphic->Height());
        bmp.Canvas()->Draw(0, 0, graphic);
        AssignGraphic(&bmp);
        if (auto* icon = dynamic_cast<TIcon*>(graphic))
            ApplyIconMask(*icon);
        return;
    }
    TGIFItem::Assign(Source);
}

// The icon's mask is where its image is fully transparent (the AND mask of an icon file
// reads as alpha 0). Those pixels take a new black entry that becomes the frame's
// transparent colour; a full table, or no pixel under the mask, leaves the frame opaque.
void TGIFSubImage::ApplyIconMask(const TIcon& Icon)
{
    const TBitmap& image = Icon.Image();
    if (FColorMap.Count() >= TGIFColorMap::MaxColors || image.Width() != FWidth || image.Height() != FHeight)
        return;
    const int32_t index = FColorMap.Add(TGIFColor{0, 0, 0});
    bool any = false;
    for (int32_t y = 0; y < FHeight; ++y) {
        const uint8_t* row = image.ScanLine(y);
        for (int32_t x = 0; x < FWidth; ++x)
            if (row[4 * x + 3] == 0) {
                FData[size_t(y) * FWidth + size_t(x)] = uint8_t(index);
                any = true;
            }
    }
    if (!any) {
        FColorMap.Delete(index);
        return;
    }
    auto gce = std::make_unique<TGIFGraphicControlExtension>(this);
    gce->SetTransparentColorIndex(uint8_t(index));
    gce->SetTransparent(true);
    FExtensions.Add(std::move(gce));
    FreeRender();
}

// ---------------------------------------------------------------------------------------
// Clipboard

void TGIFImage::LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE APalette)
{
    std::vector<uint8_t> block = Data;
    if (block.empty() && Format == CF_GIF())
        block = Clipboard()->GetAsHandle(CF_GIF());
    if (!block.empty() && Format == CF_GIF()) {
        TReadOnlyMemoryStream stream(block.data(), int64_t(block.size()));
        LoadFromStream(stream);
        return;
    }
    if (Format != CF_BITMAP || block.empty())
        throw GIFException("Unsupported clipboard format");
    TBitmap bmp;
    bmp.LoadFromClipboardFormat(Format, block, APalette);
    Assign(&bmp);
}

void TGIFImage::SaveToClipboardFormat(TClipboardFormat& Format, std::vector<uint8_t>& Data, HPALETTE& APalette)
{
    if (Empty())
        return;
    Bitmap()->SaveToClipboardFormat(Format, Data, APalette);
    TMemoryStream stream;
    SaveToStream(stream);
    Clipboard()->SetAsHandle(CF_GIF(), stream.Bytes());
}

// ---------------------------------------------------------------------------------------
// Registration: RegisterPictureFormats (formats/PictureFormats.h) makes it after the
// editor's own GIF codec, so this class wins "gif" lookups.

void RegisterGIFImageClass()
{
    TGraphicClass cls{"TGIFImage", [] { return std::unique_ptr<TGraphic>(new TGIFImage); }};
    TPicture::RegisterFileFormat("GIF", "GIF Image", cls);
    TPicture::RegisterClipboardFormat(CF_GIF(), cls);
}

} // namespace kv::GIFImage
