#include "imaging/PngFilter.h"

#include "imaging/IEFilterIO.h"
#include "imaging/ImagingProc.h"
#include "imaging/Quantizer.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

#include <png.h>

namespace kv {

namespace {

// ---- libpng glue ----------------------------------------------------------------------
// libpng's errors jump back to the setjmp of the routine that called into it. Those
// routines, and the callbacks libpng calls, hold only plain data: every buffer and
// object with a destructor lives in the caller, so the jump skips no destructor.

[[noreturn]] void PngError(png_structp Png, png_const_charp)
{
    if (auto* failed = static_cast<bool*>(png_get_error_ptr(Png)))
        *failed = true;
    std::longjmp(png_jmpbuf(Png), 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp Png, png_bytep Data, size_t Length)
{
    auto* stream = static_cast<TStream*>(png_get_io_ptr(Png));
    int64_t got = -1;
    try {
        got = stream->Read(Data, int64_t(Length));
    } catch (...) {
        got = -1;
    }
    if (got != int64_t(Length))
        png_error(Png, "read past the end of the data");
}

struct TPngWriteTarget {
    TStream* Stream = nullptr;
    TProgressRec* Progress = nullptr;
};

void PngWrite(png_structp Png, png_bytep Data, size_t Length)
{
    auto* target = static_cast<TPngWriteTarget*>(png_get_io_ptr(Png));
    if (!target->Progress->IsAborting())
        IEWriteChecked(*target->Stream, Data, int64_t(Length), *target->Progress);
}

void PngFlush(png_structp) {}

// ---- Reader -----------------------------------------------------------------------------

struct TPngReadJob {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    bool Failed = false;
    png_uint_32 Width = 0, Height = 0;
    int BitDepth = 0, ColorType = 0, Interlace = 0;
    int Passes = 1;
    int Channels = 3;
    bool OneBit = false;
    bool HasBackground = false;
    TRGB Background;
};

bool IsBlackThenWhite(png_structp Png, png_infop Info)
{
    png_colorp pal = nullptr;
    int count = 0;
    if (!png_get_PLTE(Png, Info, &pal, &count) || count != 2)
        return false;
    return pal[0].red == 0 && pal[0].green == 0 && pal[0].blue == 0 && pal[1].red == 255 && pal[1].green == 255 &&
           pal[1].blue == 255;
}

// The bKGD colour in 8-bit components, whatever the file's depth and colour type.
void ReadBackground(TPngReadJob& j)
{
    png_color_16p bg = nullptr;
    if (!png_get_bKGD(j.Png, j.Info, &bg) || !bg)
        return;
    if (j.ColorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp pal = nullptr;
        int count = 0;
        if (!png_get_PLTE(j.Png, j.Info, &pal, &count) || bg->index >= count)
            return;
        j.Background = CreateRGB(pal[bg->index].red, pal[bg->index].green, pal[bg->index].blue);
    } else {
        const uint32_t top = (1u << std::min(j.BitDepth, 16)) - 1;
        auto scale = [&](uint32_t v) { return uint8_t(std::min<uint32_t>(v, top) * 255u / top); };
        if (j.ColorType & PNG_COLOR_MASK_COLOR)
            j.Background = CreateRGB(scale(bg->red), scale(bg->green), scale(bg->blue));
        else
            j.Background = CreateRGB(scale(bg->gray), scale(bg->gray), scale(bg->gray));
    }
    j.HasBackground = true;
}

void ChooseTransforms(TPngReadJob& j)
{
    const bool grey = !(j.ColorType & PNG_COLOR_MASK_COLOR);
    const bool trns = png_get_valid(j.Png, j.Info, PNG_INFO_tRNS) != 0;
    // A 1-bit picture stays 1-bit only when its bits already mean black and white.
    j.OneBit = j.BitDepth == 1 && !trns &&
               (j.ColorType == PNG_COLOR_TYPE_GRAY ||
                (j.ColorType == PNG_COLOR_TYPE_PALETTE && IsBlackThenWhite(j.Png, j.Info)));
    if (!j.OneBit) {
        // Only the transformations a picture needs: each set one costs every row a pass.
        if (j.ColorType == PNG_COLOR_TYPE_PALETTE || (grey && j.BitDepth < 8) || trns)
            png_set_expand(j.Png);
        if (j.BitDepth == 16)
            png_set_strip_16(j.Png);
        if (grey)
            png_set_gray_to_rgb(j.Png);
        png_set_bgr(j.Png);
    }
    j.Passes = png_set_interlace_handling(j.Png);
    png_read_update_info(j.Png, j.Info);
    j.Channels = png_get_channels(j.Png, j.Info);
}

bool ReadHeader(TPngReadJob& j, TStream& Stream)
{
    if (setjmp(png_jmpbuf(j.Png)))
        return false;
    png_set_read_fn(j.Png, &Stream, PngRead);
    // No chunk can be longer than the rest of the stream: a forged length is refused
    // before libpng allocates it, and chunks nobody reads (text, profiles and the
    // like) are skipped unstored rather than read whole into memory.
    png_set_chunk_malloc_max(j.Png, png_alloc_size_t(std::max<int64_t>(IEBytesLeft(Stream), 4096)));
    static const png_byte unused[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0tIME\0hIST\0pCAL\0sCAL";
    png_set_keep_unknown_chunks(j.Png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(j.Png, PNG_HANDLE_CHUNK_NEVER, unused, int(sizeof unused / 5));
#ifdef PNG_IGNORE_ADLER32
    // Every IDAT's CRC already guards the compressed bytes; zlib's Adler-32 over the
    // inflated rows would check them a second time at an eighth of the load's time.
    png_set_option(j.Png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
    png_read_info(j.Png, j.Info);
    png_get_IHDR(j.Png, j.Info, &j.Width, &j.Height, &j.BitDepth, &j.ColorType, &j.Interlace, nullptr, nullptr);
    ReadBackground(j);
    ChooseTransforms(j);
    return j.Channels == 3 || j.Channels == 4 || j.OneBit;
}

void SetReadParams(const TPngReadJob& j, TIOParamsVals& Params)
{
    Params.Width = int32_t(std::min<png_uint_32>(j.Width, INT32_MAX));
    Params.Height = int32_t(std::min<png_uint_32>(j.Height, INT32_MAX));
    Params.BitsPerSample = j.BitDepth;
    switch (j.ColorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: Params.SamplesPerPixel = 1; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: Params.SamplesPerPixel = 2; break;
    case PNG_COLOR_TYPE_RGB: Params.SamplesPerPixel = 3; break;
    default: Params.SamplesPerPixel = 4; break;
    }
    png_uint_32 rx = 0, ry = 0;
    int unit = 0;
    if (!png_get_pHYs(j.Png, j.Info, &rx, &ry, &unit) || unit != PNG_RESOLUTION_METER)
        rx = ry = 0;
    Params.DpiX = IEDpiFromPpm(rx, IEScreenDpiX());
    Params.DpiY = IEDpiFromPpm(ry, IEScreenDpiY());
    Params.FreeColorMap();
    png_colorp pal = nullptr;
    int count = 0;
    if (j.ColorType == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(j.Png, j.Info, &pal, &count) && count > 0) {
        std::vector<TRGB> map(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            map[size_t(i)] = CreateRGB(pal[i].red, pal[i].green, pal[i].blue);
        Params.SetColorMap(map.data(), count);
    }
    Params.PngInterlaced = j.Interlace != PNG_INTERLACE_NONE;
}

// Where the rows go: the bitmap, and for four channels the alpha plane (the mask's
// bytes, or a plane of the reader's own when the picture is composited at the end).
struct TPngRowTarget {
    TBitmap* Bitmap = nullptr;
    TIEMask* Mask = nullptr;
    uint8_t* Buffer = nullptr; // four bytes a pixel
    uint8_t* AlphaPlane = nullptr;
    TRGB Background;
    TProgressRec* Progress = nullptr;
};

inline uint8_t Composite(uint8_t c, uint8_t bg, uint8_t a) { return uint8_t((c * a + bg * (255 - a) + 127) / 255); }

uint8_t* AlphaRow(const TPngRowTarget& t, int32_t Y, int32_t Width)
{
    if (t.Mask)
        return t.Mask->ScanLine(Y);
    return t.AlphaPlane ? t.AlphaPlane + int64_t(Y) * Width : nullptr;
}

// One row of four channels: interlaced passes merge into what the row already holds,
// so the buffer is rebuilt from the bitmap and alpha rows before every read.
void ReadFourChannelRow(const TPngReadJob& j, const TPngRowTarget& t, int32_t Y)
{
    const int32_t w = int32_t(j.Width);
    uint8_t* row = t.Bitmap->ScanLine(Y);
    uint8_t* alpha = AlphaRow(t, Y, w);
    if (j.Passes > 1)
        for (int32_t x = 0; x < w; ++x) {
            std::memcpy(t.Buffer + 4 * x, row + 3 * x, 3);
            t.Buffer[4 * x + 3] = alpha[x];
        }
    png_read_row(j.Png, t.Buffer, nullptr);
    if (alpha) {
        for (int32_t x = 0; x < w; ++x) {
            std::memcpy(row + 3 * x, t.Buffer + 4 * x, 3);
            alpha[x] = t.Buffer[4 * x + 3];
        }
        return;
    }
    const TRGB bg = t.Background;
    for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = t.Buffer + 4 * x;
        row[3 * x] = Composite(p[0], bg.b, p[3]);
        row[3 * x + 1] = Composite(p[1], bg.g, p[3]);
        row[3 * x + 2] = Composite(p[2], bg.r, p[3]);
    }
}

bool ReadRows(TPngReadJob& j, const TPngRowTarget& t)
{
    if (setjmp(png_jmpbuf(j.Png)))
        return false;
    const int32_t h = int32_t(j.Height);
    for (int pass = 0; pass < j.Passes; ++pass)
        for (int32_t y = 0; y < h; ++y) {
            if (j.Channels == 4)
                ReadFourChannelRow(j, t, y);
            else
                png_read_row(j.Png, t.Bitmap->ScanLine(y), nullptr);
            ++t.Progress->Counter;
            t.Progress->Report();
            if (t.Progress->IsAborting())
                return false;
        }
    return true;
}

bool ReadEnd(TPngReadJob& j)
{
    if (setjmp(png_jmpbuf(j.Png)))
        return false;
    png_read_end(j.Png, nullptr);
    return true;
}

void CompositePlane(TBitmap& Bitmap, const uint8_t* Alpha, TRGB Bg)
{
    const int32_t w = Bitmap.Width();
    for (int32_t y = 0; y < Bitmap.Height(); ++y) {
        uint8_t* row = Bitmap.ScanLine(y);
        const uint8_t* a = Alpha + int64_t(y) * w;
        for (int32_t x = 0; x < w; ++x) {
            row[3 * x] = Composite(row[3 * x], Bg.b, a[x]);
            row[3 * x + 1] = Composite(row[3 * x + 1], Bg.g, a[x]);
            row[3 * x + 2] = Composite(row[3 * x + 2], Bg.r, a[x]);
        }
    }
}

// The filtered rows of the file's samples, each with its filter byte.
int64_t FilteredBytes(const TPngReadJob& j)
{
    const int64_t samples = j.ColorType == PNG_COLOR_TYPE_GRAY_ALPHA  ? 2
                            : j.ColorType == PNG_COLOR_TYPE_RGB       ? 3
                            : j.ColorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                                                                      : 1;
    return int64_t(j.Height) * (1 + (int64_t(j.Width) * samples * j.BitDepth + 7) / 8);
}

// The part after the header; true when the mask was written.
bool ReadPicture(TPngReadJob& j, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, TIEMask* Mask,
                 int64_t BytesLeft)
{
    // Deflate codes at most 258 bytes in a symbol of a bit or more: 1032 to 1 at best.
    if (!IEDataCanFill(FilteredBytes(j), BytesLeft, 1032)) {
        Progress.SetAborting();
        return false;
    }
    // Interlaced passes merge into what the rows hold: those start from zeroed pixels.
    const TIEBitmapFill fill = j.Passes > 1 ? TIEBitmapFill::Zeroed : TIEBitmapFill::Overwritten;
    if (!IEStartBitmap(Bitmap, j.Width, j.Height, j.OneBit ? pf1bit : pf24bit, Progress, fill))
        return false;
    TPngRowTarget t;
    t.Bitmap = &Bitmap;
    t.Background = Params.PngBackground;
    t.Progress = &Progress;
    if (Mask) {
        Mask->AllocateBits(int32_t(j.Width), int32_t(j.Height), 8);
        Mask->Fill(255);
        if (j.Channels == 4)
            Mask->ClearFull();
        t.Mask = Mask;
    }
    std::vector<uint8_t> buffer, plane;
    if (j.Channels == 4) {
        buffer.assign(size_t(j.Width) * 4, 0);
        t.Buffer = buffer.data();
        if (!Mask && j.Passes > 1) {
            plane.assign(size_t(j.Width) * j.Height, 255);
            t.AlphaPlane = plane.data();
        }
    }
    Progress.Factor = 100.0 / (double(j.Passes) * double(j.Height));
    Progress.Counter = 0;
    const bool rowsOk = ReadRows(j, t);
    if (t.AlphaPlane)
        CompositePlane(Bitmap, t.AlphaPlane, t.Background);
    if (!rowsOk && j.Passes == 1)
        IEClearRows(Bitmap, Progress.Counter, Bitmap.Height() - 1);
    if (!rowsOk || !ReadEnd(j))
        Progress.SetAborting();
    return Mask != nullptr;
}

// ---- Writer -----------------------------------------------------------------------------

// Palette1: a 1-bit picture of two colours other than black and white, kept as a
// two-entry palette rather than turned into grey.
enum class TPngLayout { Grey1, Palette, Rgb, Rgba, Palette1 };

struct TPngWriteJob {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    bool Failed = false;
    TPngLayout Layout = TPngLayout::Rgb;
    int Passes = 1;
    const TBitmap* Picture = nullptr;
    const TIEMask* Mask = nullptr; // set only when it has partial opacity
    const TIEQuantizer* Quantizer = nullptr;
    std::vector<png_color> Palette;
    uint8_t* Row = nullptr;
};

bool MaskIsPartial(const TIEMask* Mask, const TBitmap& Bitmap)
{
    // A mask left from another picture size (a rotation or flip keeps it) is not used.
    return Mask && !Mask->IsEmpty() && Mask->BitsPerPixel() == 8 && Mask->Width() == Bitmap.Width() &&
           Mask->Height() == Bitmap.Height() && !Mask->Full();
}

void SetWriteInfo(TPngWriteJob& j, const TIOParamsVals& Params)
{
    const png_uint_32 w = png_uint_32(j.Picture->Width()), h = png_uint_32(j.Picture->Height());
    const int interlace = Params.PngInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
    static const int types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_PALETTE, PNG_COLOR_TYPE_RGB,
                                PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_PALETTE};
    const bool oneBit = j.Layout == TPngLayout::Grey1 || j.Layout == TPngLayout::Palette1;
    png_set_IHDR(j.Png, j.Info, w, h, oneBit ? 1 : 8, types[int(j.Layout)], interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color_16 bg{};
    if (j.Layout == TPngLayout::Palette1) {
        png_set_PLTE(j.Png, j.Info, j.Palette.data(), int(j.Palette.size()));
        bg.index = 0;
    } else if (j.Layout == TPngLayout::Palette) {
        png_set_PLTE(j.Png, j.Info, j.Palette.data(), int(j.Palette.size()));
        if (j.Mask) {
            png_byte alpha = 0;
            png_set_tRNS(j.Png, j.Info, &alpha, 1, nullptr);
        }
        bg.index = 0; // entry 0 is the background
    } else if (!oneBit) {
        bg.red = Params.PngBackground.r;
        bg.green = Params.PngBackground.g;
        bg.blue = Params.PngBackground.b;
    }
    png_set_bKGD(j.Png, j.Info, &bg);
    if (Params.DpiX > 0 && Params.DpiY > 0)
        png_set_pHYs(j.Png, j.Info, png_uint_32(IEPpmFromDpi(Params.DpiX)), png_uint_32(IEPpmFromDpi(Params.DpiY)),
                     PNG_RESOLUTION_METER);
    static const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_PAETH};
    if (Params.PngFilter <= 2)
        png_set_filter(j.Png, PNG_FILTER_TYPE_BASE, filters[Params.PngFilter]);
    png_set_compression_level(j.Png, std::clamp(Params.PngCompression, 0, 9));
    if (j.Layout == TPngLayout::Rgb || j.Layout == TPngLayout::Rgba)
        png_set_bgr(j.Png);
}

const uint8_t* BuildRow(const TPngWriteJob& j, int32_t Y)
{
    const uint8_t* src = j.Picture->ScanLine(Y);
    const int32_t w = j.Picture->Width();
    if (j.Layout == TPngLayout::Palette) {
        const uint8_t* m = j.Mask ? j.Mask->ScanLine(Y) : nullptr;
        for (int32_t x = 0; x < w; ++x)
            j.Row[x] =
                m && m[x] < 255
                    ? 0
                    : uint8_t(j.Quantizer->QuantizerColorIndex(TRGB{src[3 * x], src[3 * x + 1], src[3 * x + 2]}) + 1);
        return j.Row;
    }
    if (j.Layout == TPngLayout::Rgba) {
        const uint8_t* m = j.Mask->ScanLine(Y);
        for (int32_t x = 0; x < w; ++x) {
            std::memcpy(j.Row + 4 * x, src + 3 * x, 3);
            j.Row[4 * x + 3] = m[x];
        }
        return j.Row;
    }
    return src;
}

bool WriteAll(TPngWriteJob& j, TStream& Stream, const TIOParamsVals& Params, TProgressRec& Progress,
              TPngWriteTarget& Target)
{
    if (setjmp(png_jmpbuf(j.Png)))
        return false;
    Target.Stream = &Stream;
    Target.Progress = &Progress;
    png_set_write_fn(j.Png, &Target, PngWrite, PngFlush);
    SetWriteInfo(j, Params);
    png_write_info(j.Png, j.Info);
    j.Passes = png_set_interlace_handling(j.Png);
    const int32_t h = j.Picture->Height();
    Progress.Factor = h > 0 ? 100.0 / (double(h) * j.Passes) : 0.0;
    Progress.Counter = 0;
    for (int pass = 0; pass < j.Passes; ++pass)
        for (int32_t y = 0; y < h; ++y) {
            png_write_row(j.Png, BuildRow(j, y));
            ++Progress.Counter;
            Progress.Report();
            if (Progress.IsAborting())
                return false;
        }
    png_write_end(j.Png, nullptr);
    return true;
}

// The picture the writer codes: 1-bit when one bit a sample is asked for, else 24-bit.
// TwoColors receives the picture's own two colours (bit 0, bit 1) when it had exactly two.
const TBitmap* PreparePicture(TBitmap& Bitmap, const TIOParamsVals& Params, TProgressRec& Progress,
                              std::unique_ptr<TBitmap>& Copy, std::vector<TRGB>& TwoColors)
{
    if (Params.BitsPerSample == 1 && Bitmap.PixelFormat() == pf1bit)
        return &Bitmap;
    const TBitmap* picture = &Bitmap;
    if (Bitmap.PixelFormat() != pf24bit) {
        Copy = std::make_unique<TBitmap>();
        CopyBitmapTo24Bit(Bitmap, *Copy, nullptr);
        picture = Copy.get();
    }
    if (Params.BitsPerSample != 1)
        return picture;
    TRGB c0, c1;
    if (auto two = TryConvertTwoColorsTo1Bit(*picture, c0, c1)) {
        Copy = std::move(two);
        TwoColors = {c0, c1};
        return Copy.get();
    }
    auto dithered = CloneBitmap(*picture);
    DitherTo1Bit(*dithered, Progress);
    Copy = std::move(dithered);
    return Copy.get();
}

} // namespace

bool ReadPngStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, bool ParamsOnly,
                   TIEMask* Mask)
{
    TPngReadJob j;
    j.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &j.Failed, PngError, PngWarning);
    if (!j.Png) {
        Progress.SetAborting();
        return false;
    }
    j.Info = png_create_info_struct(j.Png);
    bool maskWritten = false;
    if (!j.Info || !ReadHeader(j, Stream)) {
        Progress.SetAborting();
    } else {
        SetReadParams(j, Params);
        // Without a mask alpha is composited on the file's bKGD colour, which is kept.
        if (!Mask && j.HasBackground)
            Params.PngBackground = j.Background;
        if (!ParamsOnly)
            maskWritten = ReadPicture(j, Bitmap, Params, Progress, Mask, IEBytesLeft(Stream));
    }
    png_destroy_read_struct(&j.Png, j.Info ? &j.Info : nullptr, nullptr);
    return maskWritten;
}

void WritePngStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress, TIEMask* Mask)
{
    TPngWriteJob j;
    j.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &j.Failed, PngError, PngWarning);
    j.Info = j.Png ? png_create_info_struct(j.Png) : nullptr;
    if (!j.Info) {
        png_destroy_write_struct(j.Png ? &j.Png : nullptr, nullptr);
        throw EIEPngException(PngCreateErrorMessage);
    }
    std::unique_ptr<TBitmap> copy;
    std::vector<TRGB> twoColors;
    j.Picture = PreparePicture(Bitmap, Params, Progress, copy, twoColors);
    const bool partial = MaskIsPartial(Mask, *j.Picture);
    std::unique_ptr<TIEQuantizer> quant;
    std::vector<TRGB> map;
    const auto isBlackWhite = [](const std::vector<TRGB>& c) {
        return c[0].r == 0 && c[0].g == 0 && c[0].b == 0 && c[1].r == 255 && c[1].g == 255 && c[1].b == 255;
    };
    if (j.Picture->PixelFormat() == pf1bit && twoColors.size() == 2 && !isBlackWhite(twoColors)) {
        j.Layout = TPngLayout::Palette1;
        for (const TRGB& c : twoColors)
            j.Palette.push_back(png_color{c.r, c.g, c.b});
    } else if (j.Picture->PixelFormat() == pf1bit) {
        j.Layout = TPngLayout::Grey1;
    } else if (Params.SamplesPerPixel == 1) {
        j.Layout = TPngLayout::Palette;
        const int32_t bits = Params.BitsPerSample < 2 ? 8 : std::min(Params.BitsPerSample, 8);
        map.assign(size_t(std::min(1 << bits, 255)), TRGB{});
        quant = TIEQuantizer::CreateQuantizer(*j.Picture, map, int32_t(map.size()), -1);
        j.Quantizer = quant.get();
        const size_t entries = size_t(std::min((1 << bits) + 1, 256));
        j.Palette.assign(entries, png_color{});
        j.Palette[0] = png_color{Params.PngBackground.r, Params.PngBackground.g, Params.PngBackground.b};
        for (size_t i = 1; i < entries && i - 1 < map.size(); ++i)
            j.Palette[i] = png_color{map[i - 1].r, map[i - 1].g, map[i - 1].b};
    } else {
        j.Layout = partial ? TPngLayout::Rgba : TPngLayout::Rgb;
    }
    if (partial)
        j.Mask = Mask;
    std::vector<uint8_t> row(size_t(std::max(j.Picture->Width(), 1)) * 4);
    j.Row = row.data();
    TPngWriteTarget target;
    if (!WriteAll(j, Stream, Params, Progress, target))
        Progress.SetAborting();
    png_destroy_write_struct(&j.Png, &j.Info);
}

} // namespace kv
