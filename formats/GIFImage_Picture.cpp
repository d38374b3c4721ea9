// GIFImage: the picture class that owns the model and reads and writes whole streams.
#include "formats/GIFImage.h"

#include <algorithm>

namespace kv::GIFImage {

TGIFImage::TGIFImage()
    : FHeader(this), FImages(this), FDrawOptions(GIFSettings().DefaultDrawOptions),
      FReductionMethod(GIFSettings().DefaultReductionMethod), FQuantizeBits(GIFSettings().DefaultQuantizeBits),
      FDitherMethod(GIFSettings().DefaultDitherMethod), FCompression(GIFSettings().DefaultCompression)
{
    Clear();
}

TGIFImage::~TGIFImage() { FImages.Clear(); }

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

void TGIFImage::Progress(TObject* Sender, TProgressStageGIF Stage, int32_t Percent, const std::string& Msg)
{
    if (OnProgress)
        OnProgress(Sender, Stage, Percent, Msg);
}

void TGIFImage::Clear()
{
    FImages.Clear();
    FHeader.Clear();
    FHeader.Prepare();
}

int32_t TGIFImage::Add(std::unique_ptr<TGIFSubImage> SubImage)
{
    // The logical screen grows to hold the new frame; it never shrinks.
    FHeader.SetWidth(uint16_t(std::max<int32_t>(FHeader.Width(), SubImage->Left() + SubImage->Width())));
    FHeader.SetHeight(uint16_t(std::max<int32_t>(FHeader.Height(), SubImage->Top() + SubImage->Height())));
    return FImages.Add(std::move(SubImage));
}

void TGIFImage::LoadFromStream(TStream& Stream)
{
    Progress(this, psStartingGIF, 0, "Loading...");
    int64_t start = 0;
    try {
        Clear();
        start = Stream.Position();
        FHeader.LoadFromStream(Stream);
        FImages.LoadFromStream(Stream, this);
        TGIFTrailer trailer(this);
        trailer.LoadFromStream(Stream);
    } catch (...) {
        Stream.Seek(start, soBeginning);
        Progress(this, psEndingGIF, 0, "Loading...");
        throw;
    }
    Progress(this, psEndingGIF, 100, "Loading...");
}

void TGIFImage::SaveToStream(TStream& Stream)
{
    Progress(this, psStartingGIF, 0, "Saving...");
    try {
        FHeader.SaveToStream(Stream);
        FImages.SaveToStream(Stream);
        TGIFTrailer trailer(this);
        trailer.SaveToStream(Stream);
    } catch (...) {
        Progress(this, psEndingGIF, 0, "Saving...");
        throw;
    }
    Progress(this, psEndingGIF, 100, "Saving...");
}

} // namespace kv::GIFImage

namespace kv::GIFImage {
void TGIFSubImage::AssignGraphic(TPersistent* Source) { TGIFItem::Assign(Source); }
}

namespace kv::GIFImage {
TGIFPalette SystemPalette20()
{
    static const uint8_t rgb[20][3] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                                       {0, 0, 128},     {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                                       {192, 220, 192}, {166, 202, 240}, {255, 251, 240}, {160, 160, 164},
                                       {128, 128, 128}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
                                       {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    TGIFPalette pal;
    for (auto& c : rgb)
        pal.push_back(TGIFPaletteEntry{c[0], c[1], c[2], 0});
    return pal;
}
TGIFPalette HalftonePalette() { return WebPalette(); }
}
