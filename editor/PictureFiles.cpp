#include "editor/PictureFiles.h"

#include "formats/GIFImage.h"
#include "formats/KvGIF.h"
#include "formats/PNGImage.h"
#include "platform/Classes.h"
#include "platform/Icon.h"
#include "platform/SysUtils.h"

#include <cstring>
#include <memory>

namespace kv {

namespace {

constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Walks the chunk headers up to the first IDAT; every step moves forward by at least a
// chunk's 12 bytes of framing, so a hostile length ends the walk at the end of the file.
bool ChunksCarryAlpha(TStream& Stream)
{
    uint8_t head[8];
    if (Stream.Read(head, 8) != 8 || std::memcmp(head, PngSignature, 8) != 0)
        return false;
    const int64_t size = Stream.Size();
    while (Stream.Read(head, 8) == 8) {
        const int64_t length = GetU32BE(head);
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (type == "IDAT")
            return false;
        if (type == "tRNS")
            return true;
        if (type == "IHDR") {
            uint8_t ihdr[13];
            if (length != 13 || Stream.Read(ihdr, 13) != 13)
                return false;
            const uint8_t colorType = ihdr[9];
            if (colorType == 4 || colorType == 6)
                return true;
            Stream.Seek(4, soCurrent); // the CRC
            continue;
        }
        const int64_t next = Stream.Position() + length + 4;
        if (next > size)
            return false;
        Stream.Seek(next, soBeginning);
    }
    return false;
}

// The program's own PNG decoder writes the picture with its alpha straight into a fresh
// block: the same samples, gamma and 16-bit handling as the opaque road, plus the alpha.
void LoadPngWithAlpha(TStream& Stream, const std::string& FileName, TBitmap32& Into)
{
    TBitmap32 fresh;
    TPNGImage png;
    png.SetKeepAlpha(true);
    png.SetPixels32Target([&fresh](int32_t W, int32_t H) {
        fresh.SetSizeForOverwrite(W, H); // the decoder writes every pixel, missing rows too
        return reinterpret_cast<uint32_t*>(fresh.Bits());
    });
    png.LoadFromStream(Stream);
    if (fresh.IsEmpty())
        throw EInvalidGraphic("Cannot read the PNG picture " + FileName);
    Into.TakeOver(fresh);
}

// The registry's class for "gif" files is the GIF model; asking an instance keeps the
// choice on the class itself rather than on its registered name.
bool IsGifModel(const TGraphicClass& Class)
{
    const std::unique_ptr<TGraphic> probe = Class.Create();
    return dynamic_cast<GIFImage::TGIFImage*>(probe.get()) != nullptr;
}

// The platform's icon class keeps its chosen image as 32 bits with straight alpha (a
// mask's clear pixels at alpha 0), so an icon carries alpha as a PNG does and takes the
// same road; drawn through a canvas and made opaque it would show its half-transparent
// pixels at full strength and its clear ones black.
bool IsIconClass(const TGraphicClass& Class)
{
    const std::unique_ptr<TGraphic> probe = Class.Create();
    return dynamic_cast<TIcon*>(probe.get()) != nullptr;
}

void LoadIconWithAlpha(TStream& Stream, const std::string& FileName, TBitmap32& Into)
{
    TIcon icon;
    icon.LoadFromStream(Stream);
    const TBitmap& image = icon.Image();
    if (image.Empty() || image.PixelFormat() != pf32bit)
        throw EInvalidGraphic("Cannot read the icon " + FileName);
    TBitmap32 fresh;
    fresh.SetSizeForOverwrite(image.Width(), image.Height()); // every row is copied below
    for (int32_t y = 0; y < fresh.Height(); ++y)
        std::memcpy(fresh.RowAddress(y), image.ScanLine(y), size_t(fresh.Width()) * 4);
    Into.TakeOver(fresh);
}

// The editor's codec keeps a frame whose data ends early or decodes badly, and flags it.
// Its current frame's own bitmap converts to the same 32-bit pixels as a copy would. A
// file with no frame, or whose frame has no pixels, holds no picture at all: it cannot
// be read, and Into stays as it was.
void LoadGifCurrentFrame(TStream& Stream, const std::string& FileName, TBitmap32& Into, bool* Damaged)
{
    TGIFImage gif;
    gif.LoadFromStream(Stream);
    bool damaged = false;
    for (int32_t i = 0; i < gif.Count(); ++i)
        damaged = damaged || gif.Frames(i)->DataTruncated;
    TBitmap32 loaded;
    if (!gif.Empty())
        loaded.Assign(gif.CurrentBitmap());
    if (loaded.IsEmpty())
        throw EInvalidGraphic("Cannot read the GIF picture " + FileName);
    Into.TakeOver(loaded);
    if (Damaged)
        *Damaged = damaged;
}

} // namespace

bool PngFileHasAlpha(const std::string& FileName)
{
    try {
        TFileStream stream(FileName, fmOpenRead | fmShareDenyNone);
        return ChunksCarryAlpha(stream);
    } catch (const std::exception&) {
        return false; // the registry's loader reports the file's fault
    }
}

TFileAlpha LoadPictureFile(const std::string& FileName, TBitmap32& Into, bool* Damaged, TGifReader Gif)
{
    if (Damaged)
        *Damaged = false;
    // A PNG with alpha is known by its content whatever its name, so the file is opened
    // before the extension is looked up; a file that will not open still reports an
    // extension no class reads first, as the registry's loader does.
    std::unique_ptr<TFileStream> stream;
    try {
        stream = std::make_unique<TFileStream>(FileName, fmOpenRead | fmShareDenyWrite);
    } catch (const std::exception&) {
        TPicture::GraphicClassForFile(FileName);
        throw;
    }
    const bool alpha = ChunksCarryAlpha(*stream);
    stream->Seek(0, soBeginning);
    if (alpha) {
        LoadPngWithAlpha(*stream, FileName, Into);
        return faFromFile;
    }
    const TGraphicClass& cls = TPicture::GraphicClassForFile(FileName);
    if (IsIconClass(cls)) {
        LoadIconWithAlpha(*stream, FileName, Into);
        return faFromFile;
    }
    if (Gif == grOwnCodec && IsGifModel(cls))
        LoadGifCurrentFrame(*stream, FileName, Into, Damaged);
    else
        Into.LoadFromGraphicStream(cls, *stream, Damaged);
    return faNone;
}

void PutOnBlankCanvas(TBitmap32& Picture)
{
    TColor32* p = Picture.Bits();
    if (!p)
        return;
    const size_t n = size_t(Picture.Width()) * size_t(Picture.Height());
    for (size_t i = 0; i < n; ++i) {
        const uint32_t a = p[i] >> 24;
        if (a == 0xFF)
            continue;
        // Each channel over white, rounded: c * a / 255 + (255 - a).
        auto over = [a](uint32_t c) { return (c * a + 255 * (255 - a) + 127) / 255; };
        p[i] = 0xFF000000u | over((p[i] >> 16) & 0xFF) << 16 | over((p[i] >> 8) & 0xFF) << 8 | over(p[i] & 0xFF);
    }
}

} // namespace kv
