#include "platform/Jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <type_traits>

#include <jpeglib.h>

#include <jerror.h>

namespace kv {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return. We jump back
// to the caller's setjmp and raise there: no C++ exception crosses libjpeg's frames.
struct ErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr Info)
{
    auto* err = reinterpret_cast<ErrorManager*>(Info->err);
    (*Info->err->format_message)(Info, err->Message);
    std::longjmp(err->Jump, 1);
}

void OutputMessage(j_common_ptr) {} // warnings stay quiet

void InitErrors(ErrorManager& Err)
{
    jpeg_std_error(&Err.Base);
    Err.Base.error_exit = ErrorExit;
    Err.Base.output_message = OutputMessage;
    Err.Message[0] = 0;
}

// Where the decoder writes: the output size is known only after the header, so the
// target is asked for its rows once that size is settled.
struct TDecodeTarget {
    TJpegLayout Layout = jlBGR24;
    // Called once with the output size; returns row 0 (a size the target refuses raises).
    std::function<uint8_t*(int32_t Width, int32_t Height)> Begin;
    // The start of row Y (0 = top) after Begin.
    std::function<uint8_t*(int32_t Y)> RowAt;
};

// Everything the decode needs is created before setjmp, so a jump skips no destructor;
// the destructor frees libjpeg's state on every way out, an exception from the target
// included (the target is only called from our frames, never from libjpeg's).
struct DecodeState {
    jpeg_decompress_struct Info;
    ErrorManager Err;
    bool Created = false;
    std::vector<uint8_t> Row;
    std::string SizeError;
    ~DecodeState()
    {
        if (Created)
            jpeg_destroy_decompress(&Info);
    }
};

bool SizeAllowed(const jpeg_decompress_struct& Info)
{
    return Info.image_width <= MaxPixelSide && Info.image_height <= MaxPixelSide &&
           int64_t(Info.image_width) * Info.image_height <= MaxPixelCount;
}

// Gray (1 component) and Adobe's inverted CMYK (4) come through a row of their own;
// every other picture is converted by libjpeg straight into the target's layout.
void ConvertRow(const uint8_t* In, int Comps, uint8_t* Out, int32_t Width, int OutBytes)
{
    for (int32_t x = 0; x < Width; ++x, In += Comps, Out += OutBytes) {
        uint8_t r, g, b;
        if (Comps == 1) {
            r = g = b = In[0];
        } else {
            // Adobe writes CMYK inverted: each byte already is 255 - ink.
            r = uint8_t(In[0] * In[3] / 255);
            g = uint8_t(In[1] * In[3] / 255);
            b = uint8_t(In[2] * In[3] / 255);
        }
        Out[0] = b;
        Out[1] = g;
        Out[2] = r;
        if (OutBytes == 4)
            Out[3] = 0xFF;
    }
}

// Where the compressed bytes come from: the whole file in memory, or a source that
// reads it a piece at a time. Size is the file's length either way.
struct TJpegInput {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
    jpeg_source_mgr* Source = nullptr;
    // Set by the source when its stream raised; the decode then stops and it is raised again.
    const std::exception_ptr* Failure = nullptr;
};

// Reads the header (a libjpeg error jumps to the caller's setjmp); false, with SizeError
// set, for a picture over the size limits.
bool ReadHeader(DecodeState& S, const TJpegInput& In)
{
    jpeg_create_decompress(&S.Info);
    S.Created = true;
    if (In.Source)
        S.Info.src = In.Source;
    else
        jpeg_mem_src(&S.Info, In.Data, static_cast<unsigned long>(In.Size));
    jpeg_read_header(&S.Info, TRUE);
    if (!SizeAllowed(S.Info)) {
        S.SizeError = "JPEG picture too large";
        return false;
    }
    return true;
}

bool DecodeCore(DecodeState& S, const TJpegInput& In, const TJpegDecodeOptions& O, const TDecodeTarget& T)
{
    if (setjmp(S.Err.Jump))
        return false;
    if (!ReadHeader(S, In))
        return false;
    if (!JpegDataCanHold(S.Info.image_width, S.Info.image_height, S.Info.max_h_samp_factor, S.Info.max_v_samp_factor,
                         int64_t(In.Size))) {
        S.SizeError = "JPEG data too short for its picture size";
        return false;
    }
    const int outBytes = T.Layout == jlBGRA32 ? 4 : 3;
    const bool cmyk = S.Info.jpeg_color_space == JCS_CMYK || S.Info.jpeg_color_space == JCS_YCCK;
    S.Info.out_color_space = cmyk ? JCS_CMYK : O.Grayscale ? JCS_GRAYSCALE : outBytes == 4 ? JCS_EXT_BGRA : JCS_EXT_BGR;
    if (O.Fast) {
        S.Info.dct_method = JDCT_IFAST;
        S.Info.do_fancy_upsampling = FALSE;
    }
    S.Info.scale_num = 1;
    S.Info.scale_denom = unsigned(O.ScaleDenom);
    jpeg_start_decompress(&S.Info);
    const int32_t width = int32_t(S.Info.output_width);
    const int32_t height = int32_t(S.Info.output_height);
    const int comps = S.Info.output_components;
    // CMYK comes out as four bytes too, but they are inks: it always takes the converting row.
    const bool direct = comps == outBytes && !cmyk;
    T.Begin(width, height);
    if (!direct)
        S.Row.resize(size_t(width) * size_t(comps));
    while (S.Info.output_scanline < S.Info.output_height) {
        uint8_t* out = T.RowAt(int32_t(S.Info.output_scanline));
        JSAMPROW row = direct ? out : S.Row.data();
        if (jpeg_read_scanlines(&S.Info, &row, 1) != 1)
            break;
        if (!direct)
            ConvertRow(S.Row.data(), comps, out, width, outBytes);
    }
    // The target's block may hold old bytes: rows the decoder never gave are zeroed, as
    // a fresh block would have them.
    for (uint32_t y = S.Info.output_scanline; y < S.Info.output_height; ++y)
        std::memset(T.RowAt(int32_t(y)), 0, size_t(width) * size_t(outBytes));
    jpeg_finish_decompress(&S.Info);
    return true;
}

// The header only: the picture's full size.
bool ReadSizeCore(DecodeState& S, const uint8_t* Data, size_t Size, int32_t& Width, int32_t& Height)
{
    if (setjmp(S.Err.Jump))
        return false;
    if (!ReadHeader(S, TJpegInput{Data, Size}))
        return false;
    Width = int32_t(S.Info.image_width);
    Height = int32_t(S.Info.image_height);
    return true;
}

void CheckSignature(const uint8_t* Data, size_t Size)
{
    if (Size < 4 || Data[0] != 0xFF || Data[1] != 0xD8)
        throw EJPEG("JPEG error #53: Not a JPEG file");
}

// True when the picture decoded without a warning: libjpeg warns, and fills in, when the
// data ends early or is corrupt.
bool RunDecode(const TJpegInput& In, const TJpegDecodeOptions& Options, const TDecodeTarget& Target)
{
    if (Options.ScaleDenom != 1 && Options.ScaleDenom != 2 && Options.ScaleDenom != 4 && Options.ScaleDenom != 8)
        throw EJPEG("JPEG error: unsupported scale 1/" + std::to_string(Options.ScaleDenom));
    DecodeState s;
    InitErrors(s.Err);
    s.Info.err = &s.Err.Base;
    if (!DecodeCore(s, In, Options, Target)) {
        if (In.Failure && *In.Failure)
            std::rethrow_exception(*In.Failure);
        throw EJPEG(s.SizeError.empty() ? std::string("JPEG error: ") + s.Err.Message : s.SizeError);
    }
    return s.Err.Base.num_warnings == 0;
}

// Feeds libjpeg from a stream a piece at a time, as its own file source does: the
// compressed picture never sits whole in memory, and the pieces' buffer stays in the
// cache. At the stream's end it warns and ends the picture, as the memory source does,
// so a cut-short file decodes (and is flagged) the same either way.
struct TStreamSource {
    jpeg_source_mgr Pub{};
    TStream* Stream = nullptr;
    std::vector<uint8_t> Buffer;
    std::exception_ptr Failure;
    bool AtEnd = false;

    explicit TStreamSource(TStream& S) : Stream(&S), Buffer(size_t(64) << 10)
    {
        Pub.init_source = [](j_decompress_ptr) {};
        Pub.fill_input_buffer = &Fill;
        Pub.skip_input_data = &Skip;
        Pub.resync_to_restart = jpeg_resync_to_restart;
        Pub.term_source = [](j_decompress_ptr) {};
    }

    // Fills the buffer as far as the stream goes; the byte count. May raise.
    size_t Refill()
    {
        size_t n = 0;
        while (n < Buffer.size()) {
            const int64_t got = Stream->Read(Buffer.data() + n, int64_t(Buffer.size() - n));
            if (got <= 0)
                break;
            n += size_t(got);
        }
        Pub.next_input_byte = Buffer.data();
        Pub.bytes_in_buffer = n;
        return n;
    }

    static boolean Fill(j_decompress_ptr Info)
    {
        auto* self = reinterpret_cast<TStreamSource*>(Info->src);
        size_t n = 0;
        bool failed = false;
        // Nothing may unwind through libjpeg's frames: the error is kept and libjpeg is
        // left by its own error exit, outside the handler.
        try {
            n = self->AtEnd ? 0 : self->Refill();
        } catch (...) {
            self->Failure = std::current_exception();
            failed = true;
        }
        if (failed)
            ERREXIT(Info, JERR_FILE_READ);
        if (n == 0) {
            WARNMS(Info, JWRN_JPEG_EOF);
            static const JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};
            self->AtEnd = true;
            self->Pub.next_input_byte = EndOfImage;
            self->Pub.bytes_in_buffer = 2;
        }
        return TRUE;
    }

    static void Skip(j_decompress_ptr Info, long Count)
    {
        auto* self = reinterpret_cast<TStreamSource*>(Info->src);
        if (Count <= 0)
            return;
        while (size_t(Count) > self->Pub.bytes_in_buffer) {
            Count -= long(self->Pub.bytes_in_buffer);
            Fill(Info);
            if (self->AtEnd)
                return; // the made-up end stays to be read
        }
        self->Pub.next_input_byte += Count;
        self->Pub.bytes_in_buffer -= size_t(Count);
    }
};
// libjpeg hands the source back as its public part, the first member.
static_assert(std::is_standard_layout_v<TStreamSource>);

struct EncodeState {
    jpeg_compress_struct Info;
    ErrorManager Err;
    unsigned char* Buffer = nullptr;
    unsigned long Size = 0;
    std::vector<uint8_t> Row;
};

bool EncodeCore(EncodeState& S, const TBitmap& B, int32_t Quality, bool Grayscale, bool Progressive)
{
    if (setjmp(S.Err.Jump)) {
        jpeg_destroy_compress(&S.Info);
        return false;
    }
    jpeg_create_compress(&S.Info);
    jpeg_mem_dest(&S.Info, &S.Buffer, &S.Size);
    S.Info.image_width = JDIMENSION(B.Width());
    S.Info.image_height = JDIMENSION(B.Height());
    S.Info.input_components = 3;
    S.Info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&S.Info);
    if (Grayscale)
        jpeg_set_colorspace(&S.Info, JCS_GRAYSCALE);
    jpeg_set_quality(&S.Info, std::clamp(Quality, 1, 100), TRUE);
    if (Progressive)
        jpeg_simple_progression(&S.Info);
    jpeg_start_compress(&S.Info, TRUE);
    S.Row.resize(size_t(B.Width()) * 3);
    while (S.Info.next_scanline < S.Info.image_height) {
        int32_t y = int32_t(S.Info.next_scanline);
        for (int32_t x = 0; x < B.Width(); ++x) {
            TColor c = B.PixelColor(x, y);
            S.Row[3 * size_t(x)] = GetRValue(c);
            S.Row[3 * size_t(x) + 1] = GetGValue(c);
            S.Row[3 * size_t(x) + 2] = GetBValue(c);
        }
        JSAMPROW row = S.Row.data();
        jpeg_write_scanlines(&S.Info, &row, 1);
    }
    jpeg_finish_compress(&S.Info);
    jpeg_destroy_compress(&S.Info);
    return true;
}

} // namespace

bool JpegDataCanHold(int64_t Width, int64_t Height, int32_t MaxHSamp, int32_t MaxVSamp, int64_t DataBytes)
{
    const int64_t mcuWidth = 8 * std::max(MaxHSamp, 1), mcuHeight = 8 * std::max(MaxVSamp, 1);
    const int64_t mcus = ((Width + mcuWidth - 1) / mcuWidth) * ((Height + mcuHeight - 1) / mcuHeight);
    return mcus <= DataBytes * 8;
}

void DecodeJpeg(const uint8_t* Data, size_t Size, TBitmap& Bitmap, bool Grayscale, bool Fast)
{
    DecodeJpegScaled(Data, Size, Bitmap, TJpegDecodeOptions{Grayscale, Fast, 1});
}

void DecodeJpegScaled(const uint8_t* Data, size_t Size, TBitmap& Bitmap, const TJpegDecodeOptions& Options)
{
    // The rows land in a fresh bitmap, which replaces the caller's only when the whole
    // picture decoded: a failure leaves Bitmap as it was.
    TBitmap out;
    TDecodeTarget target;
    target.Layout = jlBGR24;
    target.Begin = [&out](int32_t W, int32_t H) {
        out.SetPixelFormat(pf24bit);
        out.SetSize(W, H);
        return H > 0 ? out.ScanLine(0) : nullptr;
    };
    target.RowAt = [&out](int32_t Y) { return out.ScanLine(Y); };
    CheckSignature(Data, Size);
    RunDecode(TJpegInput{Data, Size}, Options, target);
    Bitmap.Assign(&out);
}

namespace {

TDecodeTarget Target32(const std::function<uint32_t*(int32_t Width, int32_t Height)>& Allocate, uint8_t*& First,
                       size_t& Stride)
{
    TDecodeTarget target;
    target.Layout = jlBGRA32;
    target.Begin = [&Allocate, &First, &Stride](int32_t W, int32_t H) {
        First = reinterpret_cast<uint8_t*>(Allocate(W, H));
        Stride = size_t(W) * 4;
        return First;
    };
    target.RowAt = [&First, &Stride](int32_t Y) { return First + size_t(Y) * Stride; };
    return target;
}

} // namespace

bool DecodeJpeg32(const uint8_t* Data, size_t Size, const TJpegDecodeOptions& Options,
                  const std::function<uint32_t*(int32_t Width, int32_t Height)>& Allocate)
{
    uint8_t* first = nullptr;
    size_t stride = 0;
    CheckSignature(Data, Size);
    return RunDecode(TJpegInput{Data, Size}, Options, Target32(Allocate, first, stride));
}

bool DecodeJpeg32(TStream& Stream, const TJpegDecodeOptions& Options,
                  const std::function<uint32_t*(int32_t Width, int32_t Height)>& Allocate)
{
    const int64_t start = Stream.Position(), size = Stream.Size() - start;
    TStreamSource source(Stream);
    const size_t head = source.Refill();
    CheckSignature(source.Buffer.data(), size < 4 ? size_t(std::max<int64_t>(size, 0)) : head);
    uint8_t* first = nullptr;
    size_t stride = 0;
    TJpegInput in;
    in.Size = size_t(size);
    in.Source = &source.Pub;
    in.Failure = &source.Failure;
    const bool whole = RunDecode(in, Options, Target32(Allocate, first, stride));
    // As the whole-file road leaves it: past the picture's bytes.
    Stream.SetPosition(start + size);
    return whole;
}

void ReadJpegSize(const uint8_t* Data, size_t Size, int32_t& Width, int32_t& Height)
{
    CheckSignature(Data, Size);
    DecodeState s;
    InitErrors(s.Err);
    s.Info.err = &s.Err.Base;
    if (!ReadSizeCore(s, Data, Size, Width, Height))
        throw EJPEG(s.SizeError.empty() ? std::string("JPEG error: ") + s.Err.Message : s.SizeError);
}

int32_t JpegScaleFor(int32_t Width, int32_t Height, int32_t BoxWidth, int32_t BoxHeight)
{
    // libjpeg's scaled size is the full size divided and rounded up.
    int32_t best = 1;
    for (int32_t denom : {2, 4, 8}) {
        const int32_t w = (Width + denom - 1) / denom, h = (Height + denom - 1) / denom;
        if (w >= BoxWidth && h >= BoxHeight)
            best = denom;
    }
    return best;
}

std::vector<uint8_t> EncodeJpeg(const TBitmap& Bitmap, int32_t Quality, bool Grayscale, bool Progressive)
{
    if (Bitmap.Empty())
        throw EJPEG("JPEG error: cannot compress an empty picture");
    EncodeState s;
    InitErrors(s.Err);
    s.Info.err = &s.Err.Base;
    bool ok = EncodeCore(s, Bitmap, Quality, Grayscale, Progressive);
    std::vector<uint8_t> out;
    if (ok && s.Buffer)
        out.assign(s.Buffer, s.Buffer + s.Size);
    std::free(s.Buffer);
    if (!ok)
        throw EJPEG(std::string("JPEG error: ") + s.Err.Message);
    return out;
}

// ---- TJPEGImage ------------------------------------------------------------------------

TJPEGImage::TJPEGImage() = default;
TJPEGImage::~TJPEGImage() = default;

int32_t TJPEGImage::Width() const { return FBitmap.Width(); }
int32_t TJPEGImage::Height() const { return FBitmap.Height(); }
bool TJPEGImage::Empty() const { return FBitmap.Empty(); }

void TJPEGImage::Draw(TCanvas& ACanvas, const TRect& Rect) { FBitmap.Draw(ACanvas, Rect); }

void TJPEGImage::SetCompressionQuality(int32_t Value)
{
    Value = std::clamp(Value, 1, 100);
    if (Value == FQuality)
        return;
    FQuality = Value;
}

void TJPEGImage::SetGrayscale(bool Value)
{
    if (Value == FGrayscale)
        return;
    FGrayscale = Value;
    if (!FData.empty())
        Decode();
    Changed(this);
}

void TJPEGImage::Decode() { DecodeJpeg(FData.data(), FData.size(), FBitmap, FGrayscale, FPerformance == jpBestSpeed); }

void TJPEGImage::LoadFromStream(TStream& Stream)
{
    FPartlyRead = false;
    int64_t n = Stream.Size() - Stream.Position();
    if (n <= 0)
        throw EJPEG("JPEG error #53: Not a JPEG file");
    if (FPixels32Target) {
        // The pixels go straight to their block and the compressed bytes are not kept:
        // the file is read through a small buffer, never held whole beside the picture.
        FPartlyRead =
            !DecodeJpeg32(Stream, TJpegDecodeOptions{FGrayscale, FPerformance == jpBestSpeed, 1}, FPixels32Target);
        FBitmap.Assign(nullptr);
        FData.clear();
        Changed(this);
        return;
    }
    std::vector<uint8_t> data(static_cast<size_t>(n));
    Stream.ReadBuffer(data.data(), n);
    TBitmap decoded;
    DecodeJpeg(data.data(), data.size(), decoded, FGrayscale, FPerformance == jpBestSpeed);
    FBitmap.Assign(&decoded);
    FData = std::move(data);
    Changed(this);
}

void TJPEGImage::Compress() { FData = EncodeJpeg(FBitmap, FQuality, FGrayscale, FProgressive); }

void TJPEGImage::SaveToStream(TStream& Stream)
{
    if (FData.empty())
        Compress();
    Stream.WriteBuffer(FData.data(), int64_t(FData.size()));
}

void TJPEGImage::Assign(TPersistent* Source)
{
    if (auto* j = dynamic_cast<TJPEGImage*>(Source)) {
        if (j == this)
            return;
        FBitmap.Assign(&j->FBitmap);
        FData = j->FData;
        FQuality = j->FQuality;
        FGrayscale = j->FGrayscale;
        FPerformance = j->FPerformance;
        FProgressive = j->FProgressive;
        Changed(this);
        return;
    }
    if (auto* g = dynamic_cast<TGraphic*>(Source)) {
        TBitmap b;
        b.Assign(g);
        b.SetPixelFormat(pf24bit);
        FBitmap.Assign(&b);
        FData.clear();
        Changed(this);
        return;
    }
    TGraphic::Assign(Source);
}

void TJPEGImage::AssignTo(TPersistent* Dest)
{
    if (auto* b = dynamic_cast<TBitmap*>(Dest)) {
        b->Assign(&FBitmap);
        return;
    }
    TGraphic::AssignTo(Dest);
}

} // namespace kv
