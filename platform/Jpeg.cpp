#include "platform/Jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

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

// Everything the decode needs is created before setjmp, so a jump skips no destructor.
struct DecodeState {
    jpeg_decompress_struct Info;
    ErrorManager Err;
    std::vector<uint8_t> Row;
    std::vector<uint8_t> Pixels; // top-down RGB
    int32_t Width = 0;
    int32_t Height = 0;
    std::string SizeError;
};

bool DecodeCore(DecodeState& S, const uint8_t* Data, size_t Size, bool Grayscale, bool Fast)
{
    if (setjmp(S.Err.Jump)) {
        jpeg_destroy_decompress(&S.Info);
        return false;
    }
    jpeg_create_decompress(&S.Info);
    jpeg_mem_src(&S.Info, Data, static_cast<unsigned long>(Size));
    jpeg_read_header(&S.Info, TRUE);
    if (S.Info.image_width > MaxPixelSide || S.Info.image_height > MaxPixelSide ||
        int64_t(S.Info.image_width) * S.Info.image_height > MaxPixelCount) {
        S.SizeError = "JPEG picture too large";
        jpeg_destroy_decompress(&S.Info);
        return false;
    }
    if (!JpegDataCanHold(S.Info.image_width, S.Info.image_height, S.Info.max_h_samp_factor,
                         S.Info.max_v_samp_factor, int64_t(Size))) {
        S.SizeError = "JPEG data too short for its picture size";
        jpeg_destroy_decompress(&S.Info);
        return false;
    }
    bool cmyk = S.Info.jpeg_color_space == JCS_CMYK || S.Info.jpeg_color_space == JCS_YCCK;
    S.Info.out_color_space = cmyk ? JCS_CMYK : (Grayscale ? JCS_GRAYSCALE : JCS_RGB);
    if (Fast) {
        S.Info.dct_method = JDCT_IFAST;
        S.Info.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&S.Info);
    S.Width = int32_t(S.Info.output_width);
    S.Height = int32_t(S.Info.output_height);
    int comps = S.Info.output_components;
    S.Row.resize(size_t(S.Width) * size_t(comps));
    S.Pixels.resize(size_t(S.Width) * size_t(S.Height) * 3);
    while (S.Info.output_scanline < S.Info.output_height) {
        size_t y = S.Info.output_scanline;
        JSAMPROW row = S.Row.data();
        if (jpeg_read_scanlines(&S.Info, &row, 1) != 1)
            break;
        uint8_t* out = &S.Pixels[y * size_t(S.Width) * 3];
        for (int32_t x = 0; x < S.Width; ++x) {
            const uint8_t* p = &S.Row[size_t(x) * size_t(comps)];
            if (comps == 1) {
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = p[0];
            } else if (comps == 4) {
                // Adobe writes CMYK inverted: each byte already is 255 - ink.
                out[3 * x] = uint8_t(p[0] * p[3] / 255);
                out[3 * x + 1] = uint8_t(p[1] * p[3] / 255);
                out[3 * x + 2] = uint8_t(p[2] * p[3] / 255);
            } else {
                out[3 * x] = p[0];
                out[3 * x + 1] = p[1];
                out[3 * x + 2] = p[2];
            }
        }
    }
    jpeg_finish_decompress(&S.Info);
    jpeg_destroy_decompress(&S.Info);
    return true;
}

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
    if (Size < 4 || Data[0] != 0xFF || Data[1] != 0xD8)
        throw EJPEG("JPEG error #53: Not a JPEG file");
    DecodeState s;
    InitErrors(s.Err);
    s.Info.err = &s.Err.Base;
    if (!DecodeCore(s, Data, Size, Grayscale, Fast))
        throw EJPEG(s.SizeError.empty() ? std::string("JPEG error: ") + s.Err.Message : s.SizeError);
    TBitmap out;
    out.SetPixelFormat(pf24bit);
    out.SetSize(s.Width, s.Height);
    for (int32_t y = 0; y < s.Height; ++y) {
        uint8_t* row = out.ScanLine(y);
        const uint8_t* in = &s.Pixels[size_t(y) * size_t(s.Width) * 3];
        for (int32_t x = 0; x < s.Width; ++x) {
            row[3 * x] = in[3 * x + 2];
            row[3 * x + 1] = in[3 * x + 1];
            row[3 * x + 2] = in[3 * x];
        }
    }
    Bitmap.Assign(&out);
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
    int64_t n = Stream.Size() - Stream.Position();
    if (n <= 0)
        throw EJPEG("JPEG error #53: Not a JPEG file");
    std::vector<uint8_t> data(static_cast<size_t>(n));
    Stream.ReadBuffer(data.data(), n);
    TBitmap decoded;
    DecodeJpeg(data.data(), data.size(), decoded, FGrayscale, FPerformance == jpBestSpeed);
    FBitmap.Assign(&decoded);
    FData = std::move(data);
    Changed(this);
}

void TJPEGImage::Compress()
{
    FData = EncodeJpeg(FBitmap, FQuality, FGrayscale, FProgressive);
}

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
