#include "formats/PNGZLIB.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace kv {

struct TCustomZStream::ZState {
    z_stream Z{};
};

namespace {

// zlib's own texts for its codes, indexed by 2 - code.
const char* ZErrorText(int code)
{
    static const char* const texts[] = {"need dictionary",     "stream end",   "",
                                        "file error",          "stream error", "data error",
                                        "insufficient memory", "buffer error", "incompatible version"};
    int index = 2 - code;
    if (index < 0 || index >= int(std::size(texts)))
        return "";
    return texts[index];
}

int CCheck(int code)
{
    if (code < 0)
        throw EZCompressionError(ZErrorText(code));
    return code;
}

int DCheck(int code)
{
    if (code < 0)
        throw EZDecompressionError(ZErrorText(code));
    return code;
}

// One inflate call; true at the end of the compressed data. Running out of input or room
// is no error here: the caller decides.
bool InflateStep(z_stream& z)
{
    int code = inflate(&z, Z_NO_FLUSH);
    if (code == Z_STREAM_END)
        return true;
    if (code == Z_NEED_DICT)
        throw EZDecompressionError(ZErrorText(Z_NEED_DICT));
    if (code != Z_BUF_ERROR)
        DCheck(code);
    return false;
}

const int ZLevels[] = {Z_NO_COMPRESSION, Z_BEST_SPEED, Z_DEFAULT_COMPRESSION, Z_BEST_COMPRESSION};

} // namespace

// ---------------------------------------------------------------------------------------------

TCustomZStream::TCustomZStream(TStream& Strm)
    : FStrm(Strm), FStrmPos(Strm.Position()), FZRec(std::make_unique<ZState>()), FBuffer(ZBufferSize)
{
}

TCustomZStream::~TCustomZStream() = default;

void TCustomZStream::Progress(TObject* Sender)
{
    if (OnProgress)
        OnProgress(Sender);
}

void TCustomZStream::InvalidOperation() { throw EZLibError("Invalid ZStream operation!"); }

// ---------------------------------------------------------------------------------------------

TZCompressionStream::TZCompressionStream(TCompressionLevel CompressionLevel, TStream& Dest) : TCustomZStream(Dest)
{
    z_stream& z = FZRec->Z;
    z.next_out = FBuffer.data();
    z.avail_out = ZBufferSize;
    int level = ZLevels[std::min<int>(int(CompressionLevel), 3)];
    CCheck(deflateInit(&z, level));
}

TZCompressionStream::~TZCompressionStream()
{
    try {
        Finish();
    } catch (...) {
        // A destructor may not throw; Finish called by the writer reports the error.
    }
    deflateEnd(&FZRec->Z);
}

void TZCompressionStream::FlushBuffer(int64_t Count)
{
    if (FStrm.Position() != FStrmPos)
        FStrm.SetPosition(FStrmPos);
    FStrm.WriteBuffer(FBuffer.data(), Count);
    FStrmPos = FStrm.Position();
    z_stream& z = FZRec->Z;
    z.next_out = FBuffer.data();
    z.avail_out = ZBufferSize;
    Progress(this);
}

int64_t TZCompressionStream::Write(const void* Buffer, int64_t Count)
{
    if (FFinished)
        InvalidOperation();
    z_stream& z = FZRec->Z;
    const uint8_t* p = static_cast<const uint8_t*>(Buffer);
    int64_t left = Count;
    // zlib counts in 32 bits: feed very large writes in slices.
    while (left > 0) {
        uInt slice = uInt(std::min<int64_t>(left, 1 << 30));
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = slice;
        while (z.avail_in > 0) {
            CCheck(deflate(&z, Z_NO_FLUSH));
            if (z.avail_out == 0)
                FlushBuffer(ZBufferSize);
        }
        p += slice;
        left -= slice;
    }
    return Count;
}

void TZCompressionStream::Finish()
{
    if (FFinished)
        return;
    FFinished = true;
    z_stream& z = FZRec->Z;
    z.next_in = nullptr;
    z.avail_in = 0;
    while (CCheck(deflate(&z, Z_FINISH)) != Z_STREAM_END)
        if (z.avail_out == 0)
            FlushBuffer(ZBufferSize);
    if (z.avail_out < uInt(ZBufferSize))
        FlushBuffer(ZBufferSize - z.avail_out);
}

int64_t TZCompressionStream::Read(void*, int64_t) { InvalidOperation(); }

int64_t TZCompressionStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    if (Offset == 0 && Origin == soCurrent)
        return int64_t(FZRec->Z.total_in);
    InvalidOperation();
}

double TZCompressionStream::CompressionRate()
{
    const z_stream& z = FZRec->Z;
    if (z.total_in == 0)
        return 0;
    return double(z.total_out) / double(z.total_in);
}

// ---------------------------------------------------------------------------------------------

TZDecompressionStream::TZDecompressionStream(TStream& Source) : TCustomZStream(Source), FStartPos(FStrmPos)
{
    z_stream& z = FZRec->Z;
    z.next_in = FBuffer.data();
    z.avail_in = 0;
    DCheck(inflateInit(&z));
}

TZDecompressionStream::~TZDecompressionStream() { inflateEnd(&FZRec->Z); }

int64_t TZDecompressionStream::Read(void* Buffer, int64_t Count)
{
    z_stream& z = FZRec->Z;
    uint8_t* out = static_cast<uint8_t*>(Buffer);
    int64_t done = 0;
    while (done < Count && !FStreamEnd) {
        if (z.avail_in == 0) {
            if (FStrm.Position() != FStrmPos)
                FStrm.SetPosition(FStrmPos);
            int64_t got = FStrm.Read(FBuffer.data(), ZBufferSize);
            if (got <= 0)
                break;
            FStrmPos = FStrm.Position();
            z.next_in = FBuffer.data();
            z.avail_in = uInt(got);
            Progress(this);
        }
        uInt slice = uInt(std::min<int64_t>(Count - done, 1 << 30));
        z.next_out = out + done;
        z.avail_out = slice;
        bool ended = InflateStep(z);
        done += slice - z.avail_out;
        FStreamEnd = ended;
    }
    return done;
}

int64_t TZDecompressionStream::Write(const void*, int64_t) { InvalidOperation(); }

void TZDecompressionStream::Discard(int64_t Count)
{
    uint8_t scrap[4096];
    while (Count > 0) {
        int64_t got = Read(scrap, std::min<int64_t>(Count, sizeof scrap));
        if (got <= 0)
            break;
        Count -= got;
    }
}

int64_t TZDecompressionStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    z_stream& z = FZRec->Z;
    if (Offset == 0 && Origin == soBeginning) {
        DCheck(inflateReset(&z));
        z.next_in = FBuffer.data();
        z.avail_in = 0;
        FStrmPos = FStartPos;
        FStrm.SetPosition(FStartPos);
        FStreamEnd = false;
    } else if (Origin == soCurrent && Offset >= 0) {
        Discard(Offset);
    } else if (Origin == soBeginning && Offset > int64_t(z.total_out)) {
        Discard(Offset - int64_t(z.total_out));
    } else {
        InvalidOperation();
    }
    return int64_t(z.total_out);
}

// ---------------------------------------------------------------------------------------------

struct TZBlockInflater::ZState {
    z_stream Z{};
};

TZBlockInflater::TZBlockInflater(const uint8_t* Data, int64_t Size)
    : FZRec(std::make_unique<ZState>()), FData(Data), FSize(std::max<int64_t>(Size, 0))
{
    DCheck(inflateInit(&FZRec->Z));
}

TZBlockInflater::~TZBlockInflater() { inflateEnd(&FZRec->Z); }

int64_t TZBlockInflater::Read(void* Buffer, int64_t Count)
{
    z_stream& z = FZRec->Z;
    uint8_t* out = static_cast<uint8_t*>(Buffer);
    const uLong startOut = z.total_out;
    FLastRead = 0;
    while (FLastRead < Count && !FStreamEnd) {
        if (z.avail_in == 0) {
            int64_t got = std::min<int64_t>(FSize - FUsed, ZBufferSize);
            if (got <= 0)
                break;
            z.next_in = const_cast<Bytef*>(FData + FUsed);
            z.avail_in = uInt(got);
            FUsed += got;
            FRefillOut = z.total_out;
        }
        z.next_out = out + FLastRead;
        z.avail_out = uInt(std::min<int64_t>(Count - FLastRead, 1 << 30));
        try {
            FStreamEnd = InflateStep(z);
        } catch (...) {
            FLastRead = int64_t(z.total_out - startOut);
            throw;
        }
        FLastRead = int64_t(z.total_out - startOut);
    }
    return FLastRead;
}

bool TZBlockInflater::RefilledAfterLastByte() const { return FRefillOut == FZRec->Z.total_out; }

} // namespace kv
