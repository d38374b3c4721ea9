#include "imaging/JpegFilter.h"

#include "imaging/ImagingProc.h"
#include "platform/Jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace kv {

namespace {

constexpr size_t JpegBufferSize = 65536;

// ---- Error manager -------------------------------------------------------------------
// error_exit jumps back to the setjmp of the routine that drives libjpeg; nothing
// between that routine and the jump holds an object with a destructor.

struct TJpegErrorMgr {
    jpeg_error_mgr Pub;
    std::jmp_buf JumpBuffer;
    bool* Aborting = nullptr;
    int LastWarningCode = 0;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<TJpegErrorMgr*>(cinfo->err);
    if (err->Aborting)
        *err->Aborting = true;
    std::longjmp(err->JumpBuffer, 1);
}

void JpegEmitMessage(j_common_ptr cinfo, int msgLevel)
{
    auto* err = reinterpret_cast<TJpegErrorMgr*>(cinfo->err);
    if (msgLevel == -1) {
        ++err->Pub.num_warnings;
        err->LastWarningCode = err->Pub.msg_code;
    }
}

void JpegOutputMessage(j_common_ptr) {}
void JpegFormatMessage(j_common_ptr, char* buffer) { buffer[0] = 0; }

void JpegResetErrorMgr(j_common_ptr cinfo)
{
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

void InitErrorMgr(TJpegErrorMgr& err, bool* aborting)
{
    jpeg_std_error(&err.Pub);
    err.Pub.error_exit = JpegErrorExit;
    err.Pub.emit_message = JpegEmitMessage;
    err.Pub.output_message = JpegOutputMessage;
    err.Pub.format_message = JpegFormatMessage;
    err.Pub.reset_error_mgr = JpegResetErrorMgr;
    err.Aborting = aborting;
}

// ---- Destination manager ------------------------------------------------------------

struct TJpegStreamDest {
    jpeg_destination_mgr Pub;
    TStream* Stream = nullptr;
    bool* Aborting = nullptr;
    std::exception_ptr Failure; // a stream exception, raised again once libjpeg is gone
    JOCTET Buffer[JpegBufferSize];
};

// Writes through the stream without letting an exception into libjpeg.
bool DestWrite(TJpegStreamDest* dest, const void* data, size_t count)
{
    int64_t written = 0;
    try {
        written = dest->Stream->Write(data, int64_t(count));
    } catch (...) {
        dest->Failure = std::current_exception();
    }
    if (written != int64_t(count)) {
        if (dest->Aborting)
            *dest->Aborting = true;
        return false;
    }
    return true;
}

void DestInit(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<TJpegStreamDest*>(cinfo->dest);
    dest->Pub.next_output_byte = dest->Buffer;
    dest->Pub.free_in_buffer = JpegBufferSize;
}

boolean DestEmpty(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<TJpegStreamDest*>(cinfo->dest);
    DestWrite(dest, dest->Buffer, JpegBufferSize);
    dest->Pub.next_output_byte = dest->Buffer;
    dest->Pub.free_in_buffer = JpegBufferSize;
    return TRUE;
}

void DestTerm(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<TJpegStreamDest*>(cinfo->dest);
    size_t used = JpegBufferSize - dest->Pub.free_in_buffer;
    if (used > 0)
        DestWrite(dest, dest->Buffer, used);
}

// ---- Source manager ---------------------------------------------------------------

struct TJpegStreamSrc {
    jpeg_source_mgr Pub;
    TStream* Stream = nullptr;
    int64_t Start = 0; // where the picture's bytes begin
    bool StartOfFile = false;
    bool* Aborting = nullptr;
    std::exception_ptr Failure;
    JOCTET Buffer[JpegBufferSize];
};

void SrcInit(j_decompress_ptr cinfo) { reinterpret_cast<TJpegStreamSrc*>(cinfo->src)->StartOfFile = true; }

boolean SrcFill(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<TJpegStreamSrc*>(cinfo->src);
    int64_t got = 0;
    try {
        got = src->Stream->Read(src->Buffer, int64_t(JpegBufferSize));
    } catch (...) {
        src->Failure = std::current_exception();
        got = 0;
    }
    if (got <= 0) {
        if (src->StartOfFile && src->Aborting)
            *src->Aborting = true;
        // A truncated file ends as if its end-of-image marker were there: libjpeg warns
        // and fills the missing rows.
        src->Buffer[0] = 0xFF;
        src->Buffer[1] = JPEG_EOI;
        got = 2;
        WARNMS(cinfo, JWRN_JPEG_EOF);
    }
    src->Pub.next_input_byte = src->Buffer;
    src->Pub.bytes_in_buffer = size_t(got);
    src->StartOfFile = false;
    return TRUE;
}

void SrcSkip(j_decompress_ptr cinfo, long count)
{
    auto* src = reinterpret_cast<TJpegStreamSrc*>(cinfo->src);
    if (count <= 0)
        return;
    while (count > long(src->Pub.bytes_in_buffer)) {
        count -= long(src->Pub.bytes_in_buffer);
        SrcFill(cinfo);
    }
    src->Pub.next_input_byte += count;
    src->Pub.bytes_in_buffer -= size_t(count);
}

void SrcTerm(j_decompress_ptr) {}

// ---- Saving -----------------------------------------------------------------------

struct TCompressJob {
    jpeg_compress_struct Cinfo;
    TJpegErrorMgr Err;
    TJpegStreamDest* Dest = nullptr;
    TBitmap* Source = nullptr;
    TIOParamsVals* Params = nullptr;
    TProgressRec* Progress = nullptr;
    uint8_t* RowBuffer = nullptr; // CMYK rows
    bool Created = false;
};

bool Aborting(const TProgressRec& p) { return p.Aborting && *p.Aborting; }

// Everything that calls into libjpeg. Returns false after a fatal libjpeg error. Keeps
// no local with a destructor: error_exit longjmps back here.
bool RunCompress(TCompressJob& job)
{
    if (setjmp(job.Err.JumpBuffer))
        return false;
    jpeg_compress_struct& c = job.Cinfo;
    jpeg_create_compress(&c);
    job.Created = true;
    c.dest = &job.Dest->Pub;
    TProgressRec& progress = *job.Progress;
    TIOParamsVals& params = *job.Params;
    if (Aborting(progress))
        return true;

    c.image_width = JDIMENSION(job.Source->Width());
    c.image_height = JDIMENSION(job.Source->Height());
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    J_COLOR_SPACE space = JCS_YCbCr;
    switch (params.JpegColorSpace) {
    case 0: space = JCS_RGB; break;
    case 1: space = JCS_GRAYSCALE; break;
    case 2: space = JCS_YCbCr; break;
    case 3: space = JCS_CMYK; break;
    case 4: space = JCS_YCCK; break;
    default: break;
    }
    const bool cmykInput = space == JCS_CMYK || space == JCS_YCCK;
    jpeg_set_defaults(&c);
    if (cmykInput) {
        c.input_components = 4;
        c.in_color_space = JCS_CMYK;
    }
    jpeg_set_colorspace(&c, space);
    c.density_unit = 1;
    c.X_density = UINT16(params.DpiX != 0 ? params.DpiX : IEScreenDpiX());
    c.Y_density = UINT16(params.DpiY != 0 ? params.DpiY : IEScreenDpiY());
    switch (params.JpegDctMethod) {
    case 0: c.dct_method = JDCT_ISLOW; break;
    case 1: c.dct_method = JDCT_IFAST; break;
    case 2: c.dct_method = JDCT_FLOAT; break;
    default: break;
    }
    c.optimize_coding = params.JpegOptimalHuffman ? TRUE : FALSE;
    c.smoothing_factor = IEClamp(params.JpegSmoothing, 0, 100);
    jpeg_set_quality(&c, IEClamp(params.JpegQuality, 1, 100), TRUE);
    if (params.JpegProgressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);

    const TIEMarkerList& markers = *params.JpegMarkers;
    for (int32_t i = 0; i < markers.Count(); ++i)
        jpeg_write_marker(&c, markers.MarkerType(i), markers.MarkerData(i), unsigned(markers.MarkerLength(i)));

    const int32_t width = job.Source->Width();
    progress.Counter = 0;
    progress.Factor = 100.0 / double(c.image_height);
    while (c.next_scanline < c.image_height && !Aborting(progress)) {
        uint8_t* row = job.Source->ScanLine(int32_t(c.next_scanline));
        if (cmykInput) {
            for (int32_t x = 0; x < width; ++x)
                BgrToCmyk(row + 3 * x, job.RowBuffer + 4 * x);
            row = job.RowBuffer;
        }
        JSAMPROW rows[1] = {row};
        progress.Counter += int32_t(jpeg_write_scanlines(&c, rows, 1));
        progress.Report();
    }
    if (!Aborting(progress))
        jpeg_finish_compress(&c);
    return true;
}

bool MarkersFit(const TIEMarkerList& markers)
{
    for (int32_t i = 0; i < markers.Count(); ++i)
        if (size_t(markers.MarkerLength(i)) > IEMaxMarkerLength)
            return false;
    return true;
}

// ---- Loading ----------------------------------------------------------------------

struct TDecompressJob {
    jpeg_decompress_struct Cinfo;
    TJpegErrorMgr Err;
    TJpegStreamSrc* Src = nullptr;
    TBitmap* Bitmap = nullptr;
    TIOParamsVals* Params = nullptr;
    TProgressRec* Progress = nullptr;
    bool ParamsOnly = false;
    bool Created = false;
    bool OverCap = false;
    uint8_t* RowBuffer = nullptr;
    std::vector<uint8_t>* RowStore = nullptr; // allocated by the caller's frame
};

void CollectMarkers(jpeg_decompress_struct& d, TIEMarkerList& list)
{
    list.Clear();
    bool first = true;
    for (jpeg_saved_marker_ptr m = d.marker_list; m; m = m->next) {
        if (!(first && m->marker == JPEG_APP0))
            list.AddMarker(uint8_t(m->marker), m->data, m->data_length);
        first = false;
    }
}

int ScaleDenominator(const TIOParamsVals& params, JDIMENSION w, JDIMENSION h)
{
    switch (params.JpegScale) {
    case 1: return 1;
    case 2: return 2;
    case 3: return 4;
    case 4: return 8;
    case 0:
        if (params.Width < 1 || params.Height < 1)
            return 1;
        for (int d : {8, 4, 2, 1})
            if (int64_t(w / JDIMENSION(d)) >= params.Width && int64_t(h / JDIMENSION(d)) >= params.Height)
                return d;
        return 1;
    default: return 1;
    }
}

// Steps up to jpeg_start_decompress; false after a fatal libjpeg error.
bool RunDecompressHeader(TDecompressJob& job)
{
    if (setjmp(job.Err.JumpBuffer))
        return false;
    jpeg_decompress_struct& d = job.Cinfo;
    TProgressRec& progress = *job.Progress;
    TIOParamsVals& params = *job.Params;
    jpeg_create_decompress(&d);
    job.Created = true;
    if (Aborting(progress))
        return true;
    d.src = &job.Src->Pub;
    jpeg_save_markers(&d, JPEG_COM, 0xFFFF);
    for (int m = 0; m < 16; ++m)
        jpeg_save_markers(&d, JPEG_APP0 + m, 0xFFFF);
    jpeg_read_header(&d, TRUE);
    if (Aborting(progress))
        return true;
    // Refused before jpeg_start_decompress, as is a picture its bytes cannot hold: for a
    // progressive file that call already allocates coefficient buffers for the whole picture.
    if (int64_t(d.image_width) > MaxPixelSide || int64_t(d.image_height) > MaxPixelSide ||
        int64_t(d.image_width) * int64_t(d.image_height) > MaxPixelCount ||
        !JpegDataCanHold(d.image_width, d.image_height, d.max_h_samp_factor, d.max_v_samp_factor,
                         job.Src->Stream->Size() - job.Src->Start)) {
        job.OverCap = true;
        progress.SetAborting();
        return true;
    }
    params.BitsPerSample = 8;
    switch (d.jpeg_color_space) {
    case JCS_GRAYSCALE:
        params.JpegColorSpace = 1;
        d.out_color_space = JCS_EXT_BGR;
        params.SamplesPerPixel = 1;
        break;
    case JCS_RGB:
        params.JpegColorSpace = 0;
        d.out_color_space = JCS_EXT_BGR;
        params.SamplesPerPixel = 3;
        break;
    case JCS_CMYK:
        params.JpegColorSpace = 3;
        d.out_color_space = JCS_CMYK;
        params.SamplesPerPixel = 4;
        break;
    case JCS_YCCK:
        params.JpegColorSpace = 4;
        d.out_color_space = JCS_CMYK;
        params.SamplesPerPixel = 4;
        break;
    default:
        params.JpegColorSpace = 2;
        d.out_color_space = JCS_EXT_BGR;
        params.SamplesPerPixel = 3;
        break;
    }
    switch (params.JpegDctMethod) {
    case 0: d.dct_method = JDCT_ISLOW; break;
    case 1: d.dct_method = JDCT_IFAST; break;
    case 2: d.dct_method = JDCT_FLOAT; break;
    default: break;
    }
    if (d.density_unit == 2) {
        params.DpiX = int32_t(d.X_density * 2.54);
        params.DpiY = int32_t(d.Y_density * 2.54);
    } else if (d.density_unit <= 1) {
        params.DpiX = d.X_density;
        params.DpiY = d.Y_density;
    }
    params.FreeColorMap();
    params.JpegProgressive = d.progressive_mode != 0;
    const int denom = ScaleDenominator(params, d.image_width, d.image_height);
    params.JpegScaleUsed = denom;
    d.scale_num = 1;
    d.scale_denom = unsigned(denom);
    CollectMarkers(d, *params.JpegMarkers);
    jpeg_start_decompress(&d);
    if (!Aborting(progress)) {
        params.Width = int32_t(d.output_width);
        params.Height = int32_t(d.output_height);
    }
    return true;
}

bool RunDecompressRows(TDecompressJob& job)
{
    if (setjmp(job.Err.JumpBuffer))
        return false;
    jpeg_decompress_struct& d = job.Cinfo;
    TProgressRec& progress = *job.Progress;
    const bool cmyk = d.out_color_space == JCS_CMYK;
    const int32_t width = int32_t(d.output_width);
    progress.Counter = 0;
    progress.Factor = 100.0 / double(d.output_height);
    while (d.output_scanline < d.output_height && !Aborting(progress)) {
        const int32_t y = int32_t(d.output_scanline);
        uint8_t* row = job.Bitmap->ScanLine(y);
        JSAMPROW rows[1] = {cmyk ? job.RowBuffer : row};
        JDIMENSION got = jpeg_read_scanlines(&d, rows, 1);
        if (cmyk)
            for (int32_t x = 0; x < width; ++x)
                CmykToBgr(job.RowBuffer + 4 * x, row + 3 * x);
        progress.Counter += int32_t(got);
        progress.Report();
        if (got == 0)
            break;
    }
    if (d.output_scanline < d.output_height)
        progress.SetAborting();
    return true;
}

bool RunDecompressFinish(TDecompressJob& job)
{
    if (setjmp(job.Err.JumpBuffer))
        return false;
    jpeg_finish_decompress(&job.Cinfo);
    return true;
}

} // namespace

void BgrToCmyk(const uint8_t* Bgr, uint8_t* Cmyk)
{
    int32_t b = Bgr[0], g = Bgr[1], r = Bgr[2];
    int32_t k = std::max(r, std::max(g, b));
    if (k == 0)
        k = 1;
    Cmyk[0] = uint8_t(r * 255 / k);
    Cmyk[1] = uint8_t(g * 255 / k);
    Cmyk[2] = uint8_t(b * 255 / k);
    Cmyk[3] = uint8_t(k);
}

void CmykToBgr(const uint8_t* Cmyk, uint8_t* Bgr)
{
    int32_t c = Cmyk[0], m = Cmyk[1], y = Cmyk[2], k = Cmyk[3];
    Bgr[2] = uint8_t(k * c / 255);
    Bgr[1] = uint8_t(k * m / 255);
    Bgr[0] = uint8_t(k * y / 255);
}

void SaveJpegToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    // Refused before a byte is written: a segment's length field cannot hold more.
    if (!MarkersFit(*Params.JpegMarkers)) {
        Progress.SetAborting();
        return;
    }
    std::unique_ptr<TBitmap> copy;
    TBitmap* source = &Bitmap;
    if (Bitmap.PixelFormat() == pf1bit) {
        copy = std::make_unique<TBitmap>();
        CopyBitmapTo24Bit(Bitmap, *copy, nullptr);
        source = copy.get();
    } else if (Bitmap.PixelFormat() != pf24bit) {
        copy = CloneBitmap(Bitmap);
        copy->SetPixelFormat(pf24bit);
        source = copy.get();
    }
    auto dest = std::make_unique<TJpegStreamDest>();
    dest->Pub.init_destination = DestInit;
    dest->Pub.empty_output_buffer = DestEmpty;
    dest->Pub.term_destination = DestTerm;
    dest->Stream = &Stream;
    dest->Aborting = Progress.Aborting;
    std::vector<uint8_t> rowBuffer(size_t(std::max(source->Width(), 0)) * 4 + 4);

    auto job = std::make_unique<TCompressJob>();
    InitErrorMgr(job->Err, Progress.Aborting);
    job->Cinfo.err = &job->Err.Pub;
    job->Dest = dest.get();
    job->Source = source;
    job->Params = &Params;
    job->Progress = &Progress;
    job->RowBuffer = rowBuffer.data();
    bool ok;
    try {
        ok = RunCompress(*job);
    } catch (...) {
        // Only the caller's progress event can throw here, between libjpeg calls.
        if (job->Created)
            jpeg_destroy_compress(&job->Cinfo);
        throw;
    }
    if (job->Created)
        jpeg_destroy_compress(&job->Cinfo);
    if (dest->Failure)
        std::rethrow_exception(dest->Failure);
    if (!ok)
        throw EIEJpegException(JpegCorruptedMessage);
}

int64_t JpegFindStartOfImage(TStream& Stream)
{
    const int64_t start = Stream.Position();
    uint8_t buf[102];
    int64_t got = Stream.Read(buf, sizeof buf);
    Stream.Seek(start, soBeginning);
    for (int64_t i = 0; i < 100 && i + 2 < got; ++i)
        if (buf[i] == 0xFF && buf[i + 1] == 0xD8 && buf[i + 2] == 0xFF)
            return i;
    return -1;
}

void LoadJpegFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                        TProgressRec& Progress)
{
    Params.JpegWarningTot = 0;
    Params.JpegWarningCode = 0;
    const int64_t soi = JpegFindStartOfImage(Stream);
    if (soi < 0) {
        Progress.SetAborting();
        return;
    }
    Stream.Seek(soi, soCurrent);

    auto src = std::make_unique<TJpegStreamSrc>();
    src->Pub.init_source = SrcInit;
    src->Pub.fill_input_buffer = SrcFill;
    src->Pub.skip_input_data = SrcSkip;
    src->Pub.resync_to_restart = jpeg_resync_to_restart;
    src->Pub.term_source = SrcTerm;
    src->Stream = &Stream;
    src->Start = Stream.Position();
    src->Aborting = Progress.Aborting;
    std::vector<uint8_t> rowBuffer;

    auto job = std::make_unique<TDecompressJob>();
    InitErrorMgr(job->Err, Progress.Aborting);
    job->Cinfo.err = &job->Err.Pub;
    job->Src = src.get();
    job->Bitmap = &Bitmap;
    job->Params = &Params;
    job->Progress = &Progress;
    job->ParamsOnly = ParamsOnly;
    bool ok = true;
    try {
        ok = RunDecompressHeader(*job);
        if (ok && !ParamsOnly && !Aborting(Progress)) {
            jpeg_decompress_struct& d = job->Cinfo;
            Bitmap.SetSize(1, 1);
            Bitmap.SetPixelFormat(pf24bit);
            Bitmap.SetSize(int32_t(d.output_width), int32_t(d.output_height));
            rowBuffer.assign(size_t(d.output_width) * 4 + 4, 0);
            job->RowBuffer = rowBuffer.data();
            ok = RunDecompressRows(*job);
        }
        if (ok && !ParamsOnly && !Aborting(Progress))
            ok = RunDecompressFinish(*job);
    } catch (...) {
        if (job->Created)
            jpeg_destroy_decompress(&job->Cinfo);
        throw;
    }
    if (job->Created) {
        if (job->Err.Pub.num_warnings != 0) {
            Params.JpegWarningTot = int32_t(job->Err.Pub.num_warnings);
            Params.JpegWarningCode = job->Err.LastWarningCode;
        }
        jpeg_destroy_decompress(&job->Cinfo);
    }
    if (src->Failure)
        std::rethrow_exception(src->Failure);
    if (!ok)
        throw EIEJpegException(JpegCorruptedMessage);
}

} // namespace kv
