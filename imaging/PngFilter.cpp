#include "imaging/PngFilter.h"

#include "imaging/IEFilterIO.h"
#include "imaging/ImagingProc.h"
#include "imaging/PngBands.h"
#include "imaging/Quantizer.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

#include <png.h>
#include <zlib.h>

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
    int64_t ChunkLimit = 0;
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
    j.ChunkLimit = std::max<int64_t>(IEBytesLeft(Stream), 4096);
    png_set_chunk_malloc_max(j.Png, png_alloc_size_t(j.ChunkLimit));
    static const png_byte unused[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0tIME\0hIST\0pCAL\0sCAL";
    png_set_keep_unknown_chunks(j.Png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(j.Png, PNG_HANDLE_CHUNK_NEVER, unused, int(sizeof unused / 5));
    // zlib's Adler-32 stays checked: an IDAT's CRC guards the bytes as they were
    // written, not that the writer deflated the rows right.
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

// 8-bit RGB rows without interlacing, the usual photo, are read by ReadRgbIdat, which
// inflates the bands of a large picture side by side. libpng has just read the first
// IDAT's chunk header: the stream must show it right before its position.
bool ReadsOwnRows(const TPngReadJob& j, TStream& Stream, TPngIdatJob& Job)
{
    if (j.ColorType != PNG_COLOR_TYPE_RGB || j.BitDepth != 8 || j.Passes != 1 || j.Channels != 3 || j.OneBit)
        return false;
    const int64_t at = Stream.Position();
    if (at < 8)
        return false;
    uint8_t header[8];
    Stream.Seek(at - 8, soBeginning);
    const bool read = Stream.Read(header, 8) == 8;
    Stream.Seek(at, soBeginning);
    if (!read || std::memcmp(header + 4, "IDAT", 4) != 0)
        return false;
    Job.Width = int32_t(j.Width);
    Job.Height = int32_t(j.Height);
    Job.FirstLength = GetU32BE(header);
    Job.ChunkLimit = j.ChunkLimit;
    return true;
}

// The part after the header; true when the mask was written.
bool ReadPicture(TPngReadJob& j, TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                 TIEMask* Mask, int64_t BytesLeft)
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
    TPngIdatJob own;
    if (ReadsOwnRows(j, Stream, own)) {
        TPngIdatResult r;
        try {
            r = ReadRgbIdat(Stream, own, Bitmap, Progress);
        } catch (...) {
            r = {}; // out of memory for the data: a failed read, as libpng's would be
        }
        if (!r.RowsOk)
            IEClearRows(Bitmap, Progress.Counter, Bitmap.Height() - 1);
        if (!r.EndOk)
            Progress.SetAborting();
        return Mask != nullptr;
    }
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

// ---- Band writer ------------------------------------------------------------------------
// Deflate is nearly all of a large save, and one zlib stream keeps to one core. A large
// picture is cut into bands of rows deflated on several threads, each on its own and
// ended on a byte boundary (a sync flush), one IDAT a band: they join into one zlib
// stream a little larger than a single one, and the reader can inflate them side by
// side again (PngBands.h). The bands depend on the picture alone, never on the number of
// threads, so a picture always saves to the same bytes. Smaller pictures keep libpng's
// own rows.

constexpr size_t BandInputBytes = size_t(1) << 20;

struct TPngBandPlan {
    int32_t Width = 0, Height = 0;
    int32_t PixelBytes = 3; // R, G, B and for RGBA the alpha
    size_t RowBytes = 0;    // the filter byte and the samples
    int32_t RowsPerBand = 1;
    int32_t Bands = 0;
    int Level = 5;
    int Strategy = Z_DEFAULT_STRATEGY;
    uint8_t Filter = 0; // the PNG filter type of every row: 0 none, 1 sub, 4 Paeth
};

bool PlanBands(const TPngWriteJob& j, const TIOParamsVals& Params, TPngBandPlan& Plan)
{
    // Interlaced passes and libpng's per-row filter choice stay with libpng.
    if ((j.Layout != TPngLayout::Rgb && j.Layout != TPngLayout::Rgba) || Params.PngInterlaced || Params.PngFilter > 2)
        return false;
    Plan.Width = j.Picture->Width();
    Plan.Height = j.Picture->Height();
    Plan.PixelBytes = j.Layout == TPngLayout::Rgba ? 4 : 3;
    Plan.RowBytes = 1 + size_t(std::max(Plan.Width, 0)) * size_t(Plan.PixelBytes);
    if (Plan.Width < 1 || Plan.RowBytes * size_t(std::max(Plan.Height, 0)) < 2 * BandInputBytes)
        return false;
    Plan.RowsPerBand = int32_t(std::max<size_t>(1, BandInputBytes / Plan.RowBytes));
    Plan.Bands = (Plan.Height + Plan.RowsPerBand - 1) / Plan.RowsPerBand;
    static const uint8_t filters[] = {0, 1, 4};
    Plan.Filter = filters[Params.PngFilter];
    Plan.Level = std::clamp(Params.PngCompression, 0, 9);
    // What libpng picks for the same rows: filtered rows deflate better as Z_FILTERED.
    Plan.Strategy = Plan.Filter == 0 ? Z_DEFAULT_STRATEGY : Z_FILTERED;
    return true;
}

// Row Y as the file holds it: R, G, B (and the mask's alpha).
void FileOrderRow(const TPngWriteJob& j, int32_t Y, int32_t PixelBytes, uint8_t* Out)
{
    const uint8_t* src = j.Picture->ScanLine(Y);
    const int32_t w = j.Picture->Width();
    if (PixelBytes == 3) {
        for (int32_t x = 0; x < w; ++x, src += 3, Out += 3) {
            Out[0] = src[2];
            Out[1] = src[1];
            Out[2] = src[0];
        }
        return;
    }
    const uint8_t* m = j.Mask->ScanLine(Y);
    for (int32_t x = 0; x < w; ++x, src += 3, Out += 4) {
        Out[0] = src[2];
        Out[1] = src[1];
        Out[2] = src[0];
        Out[3] = m[x];
    }
}

// Out receives the filter byte and Count filtered bytes; Prev is zeros above the top row.
void FilterRow(uint8_t Filter, const uint8_t* Cur, const uint8_t* Prev, size_t Count, size_t Bpp, uint8_t* Out)
{
    *Out++ = Filter;
    if (Filter == 1) {
        for (size_t i = 0; i < Bpp; ++i)
            Out[i] = Cur[i];
        for (size_t i = Bpp; i < Count; ++i)
            Out[i] = uint8_t(Cur[i] - Cur[i - Bpp]);
        return;
    }
    for (size_t i = 0; i < Bpp; ++i)
        Out[i] = uint8_t(Cur[i] - Prev[i]);
    for (size_t i = Bpp; i < Count; ++i)
        Out[i] = uint8_t(Cur[i] - PaethPredictor(Cur[i - Bpp], Prev[i], Prev[i - Bpp]));
}

// The filtered rows First..Last-1 one after another.
void FilterRows(const TPngWriteJob& j, const TPngBandPlan& Plan, int32_t First, int32_t Last, uint8_t* Out)
{
    const size_t samples = Plan.RowBytes - 1;
    if (Plan.Filter == 0) {
        for (int32_t y = First; y < Last; ++y, Out += Plan.RowBytes) {
            Out[0] = 0;
            FileOrderRow(j, y, Plan.PixelBytes, Out + 1);
        }
        return;
    }
    std::vector<uint8_t> cur(samples), prev(samples, 0);
    if (First > 0)
        FileOrderRow(j, First - 1, Plan.PixelBytes, prev.data());
    for (int32_t y = First; y < Last; ++y, Out += Plan.RowBytes) {
        FileOrderRow(j, y, Plan.PixelBytes, cur.data());
        FilterRow(Plan.Filter, cur.data(), prev.data(), samples, size_t(Plan.PixelBytes), Out);
        std::swap(cur, prev);
    }
}

struct TPngBand {
    // The band's deflate data; the first band starts with the zlib header, the last
    // ends with four bytes left for the stream's Adler-32.
    std::vector<uint8_t> Data;
    uint32_t Adler = 1;
    size_t InputBytes = 0;
    bool Failed = false;
};

struct TDeflateEnd {
    z_stream* Stream;
    ~TDeflateEnd() { deflateEnd(Stream); }
};

uint16_t ZlibHeader(int Level, int Strategy)
{
    // CMF: deflate with a 32 KiB window; FLG: zlib's level class, then the check bits.
    const unsigned levelClass = Strategy >= Z_HUFFMAN_ONLY || Level < 2 ? 0 : Level < 6 ? 1 : Level == 6 ? 2 : 3;
    unsigned header = (0x78u << 8) | (levelClass << 6);
    header += 31 - header % 31;
    return uint16_t(header);
}

bool DeflateBand(const TPngWriteJob& j, const TPngBandPlan& Plan, int32_t K, TPngBand& Band)
{
    const int32_t top = K * Plan.RowsPerBand, bottom = std::min(Plan.Height, top + Plan.RowsPerBand);
    std::vector<uint8_t> rows(size_t(bottom - top) * Plan.RowBytes);
    FilterRows(j, Plan, top, bottom, rows.data());
    Band.InputBytes = rows.size();
    Band.Adler = uint32_t(adler32(1, rows.data(), uInt(rows.size())));

    z_stream z{};
    if (deflateInit2(&z, Plan.Level, Z_DEFLATED, -15, 8, Plan.Strategy) != Z_OK)
        return false;
    TDeflateEnd end{&z};
    const bool last = K == Plan.Bands - 1;
    const size_t head = K == 0 ? 2 : 0, tail = last ? 4 : 0;
    Band.Data.resize(head + deflateBound(&z, uLong(rows.size())) + 64 + tail);
    if (head) {
        const uint16_t h = ZlibHeader(Plan.Level, Plan.Strategy);
        Band.Data[0] = uint8_t(h >> 8);
        Band.Data[1] = uint8_t(h);
    }
    z.next_in = rows.data();
    z.avail_in = uInt(rows.size());
    size_t used = head;
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        z.next_out = Band.Data.data() + used;
        z.avail_out = uInt(Band.Data.size() - used - tail);
        const int rc = deflate(&z, flush);
        used = size_t(z.next_out - Band.Data.data());
        if (rc == Z_STREAM_ERROR)
            return false;
        if (last ? rc == Z_STREAM_END : z.avail_in == 0 && z.avail_out > 0)
            break;
        Band.Data.resize(Band.Data.size() + 65536);
    }
    Band.Data.resize(used + tail);
    return true;
}

void DeflateBandJob(const TPngWriteJob& j, const TPngBandPlan& Plan, int32_t K, TPngBand& Band)
{
    bool ok = false;
    try {
        ok = DeflateBand(j, Plan, K, Band);
    } catch (...) {
        ok = false;
    }
    Band.Failed = !ok;
}

// Called inside WriteAll's setjmp: holds no object with a destructor.
bool WriteBands(TPngWriteJob& j, const TPngBandPlan& Plan, std::vector<TPngBand>& Bands, TOrderedWorkers& Workers,
                TProgressRec& Progress)
{
    static const png_byte idat[] = "IDAT", iend[] = "IEND";
    uint32_t adler = 1;
    for (int32_t k = 0; k < Plan.Bands; ++k) {
        Workers.Wait(k);
        TPngBand* band = &Bands[size_t(k)];
        if (band->Failed)
            return false;
        adler = uint32_t(adler32_combine(adler, band->Adler, z_off_t(band->InputBytes)));
        if (k == Plan.Bands - 1)
            PutU32BE(band->Data.data() + band->Data.size() - 4, adler);
        png_write_chunk(j.Png, idat, band->Data.data(), band->Data.size());
        // Assigning an empty vector would keep the capacity: the bands in flight are
        // bounded only if each written one gives its memory back.
        std::vector<uint8_t>().swap(band->Data);
        NoteWrittenBandBytes(band->Data.capacity());
        Workers.Release(k);
        const int32_t rows = std::min(Plan.RowsPerBand, Plan.Height - k * Plan.RowsPerBand);
        for (int32_t r = 0; r < rows; ++r) {
            ++Progress.Counter;
            Progress.Report();
            if (Progress.IsAborting())
                return false;
        }
    }
    // What png_write_end writes when it is given no info to add.
    png_write_chunk(j.Png, iend, nullptr, 0);
    return true;
}

bool WriteAll(TPngWriteJob& j, TStream& Stream, const TIOParamsVals& Params, TProgressRec& Progress,
              TPngWriteTarget& Target, const TPngBandPlan* Plan, std::vector<TPngBand>* Bands, TOrderedWorkers* Workers)
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
    if (Workers)
        return WriteBands(j, *Plan, *Bands, *Workers, Progress);
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
            maskWritten = ReadPicture(j, Stream, Bitmap, Params, Progress, Mask, IEBytesLeft(Stream));
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
    TPngBandPlan plan;
    std::vector<TPngBand> bands;
    std::unique_ptr<TOrderedWorkers> workers;
    if (PlanBands(j, Params, plan)) {
        bands.resize(size_t(plan.Bands));
        workers = std::make_unique<TOrderedWorkers>(plan.Bands,
                                                    [&](int32_t k) { DeflateBandJob(j, plan, k, bands[size_t(k)]); });
    }
    if (!WriteAll(j, Stream, Params, Progress, target, &plan, &bands, workers.get()))
        Progress.SetAborting();
    png_destroy_write_struct(&j.Png, &j.Info);
}

} // namespace kv
