// Streams around zlib: a write-only deflate stream and a read-only inflate stream, each
// over a caller's stream (not owned) with a 65536-byte buffer, and an inflater that reads a
// caller's block in place.
#pragma once

#include "platform/Classes.h"

#include <memory>
#include <vector>

namespace kv {

KV_DECLARE_EXCEPTION(EZLibError, Exception)
KV_DECLARE_EXCEPTION(EZCompressionError, EZLibError)
KV_DECLARE_EXCEPTION(EZDecompressionError, EZLibError)

// Scoped: the level names would otherwise clash with the colour constants clNone/clDefault.
// g++ 12 still reports a scoped enumerator as shadowing the global of the same name, though it
// can only ever be named qualified and so hides nothing.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
enum class TCompressionLevel : uint8_t { clNone, clFastest, clDefault, clMax };
#pragma GCC diagnostic pop

constexpr int32_t ZBufferSize = 65536;

class TCustomZStream : public TStream {
public:
    ~TCustomZStream() override;
    // Fired whenever the buffer is refilled from, or flushed to, the wrapped stream.
    TNotifyEvent OnProgress;

protected:
    explicit TCustomZStream(TStream& Strm);
    virtual void Progress(TObject* Sender);
    [[noreturn]] static void InvalidOperation();

    struct ZState;
    TStream& FStrm;
    int64_t FStrmPos; // where this wrapper left the wrapped stream
    std::unique_ptr<ZState> FZRec;
    std::vector<uint8_t> FBuffer;
};

class TZCompressionStream : public TCustomZStream {
public:
    TZCompressionStream(TCompressionLevel CompressionLevel, TStream& Dest);
    // Finishes the deflate stream when Finish was not called; errors are swallowed
    // there, so writers that care call Finish themselves.
    ~TZCompressionStream() override;

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    // Writes every pending byte and the end of the deflate stream to the destination.
    void Finish();
    // Compressed bytes handed to the destination divided by bytes taken in (0 when none).
    double CompressionRate();

private:
    void FlushBuffer(int64_t Count);
    bool FFinished = false;
};

class TZDecompressionStream : public TCustomZStream {
public:
    explicit TZDecompressionStream(TStream& Source);
    ~TZDecompressionStream() override;

    // Inflates up to Count bytes; fewer when the compressed data or the source ends.
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    // (0, soBeginning) starts over from where the source stood at creation; forward
    // seeks read and discard; the result is the count of bytes produced so far.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

private:
    void Discard(int64_t Count);
    int64_t FStartPos; // the source position where the compressed data begins
    bool FStreamEnd = false;
};

// Inflates a caller's block of zlib data in place (the block must outlive it and stay
// unchanged). zlib sees the input in the same ZBufferSize slices TZDecompressionStream
// reads, so the two end and fail at the same points, with the same errors.
class TZBlockInflater {
public:
    TZBlockInflater(const uint8_t* Data, int64_t Size);
    ~TZBlockInflater();
    TZBlockInflater(const TZBlockInflater&) = delete;
    TZBlockInflater& operator=(const TZBlockInflater&) = delete;

    // Inflates up to Count bytes into Buffer; fewer when the compressed data or the block
    // ends. Raises EZDecompressionError on bad data.
    int64_t Read(void* Buffer, int64_t Count);
    // The bytes the last Read produced, also when it raised.
    int64_t LastReadCount() const { return FLastRead; }
    // True when zlib last took new input after its last output byte: whatever it found
    // then, it found past that byte.
    bool RefilledAfterLastByte() const;

private:
    struct ZState;
    std::unique_ptr<ZState> FZRec;
    const uint8_t* FData;
    int64_t FSize;
    int64_t FUsed = 0; // bytes of the block handed to zlib so far
    int64_t FLastRead = 0;
    uint64_t FRefillOut = ~uint64_t(0); // zlib's output count at the last refill
    bool FStreamEnd = false;
};

} // namespace kv
