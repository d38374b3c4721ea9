// Persistent objects, streams, string lists and the little/big-endian helpers that the
// file formats read and write through.
#pragma once

#include "platform/SysUtils.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// Assign copies from another object; a class that cannot take the source asks the
// source's AssignTo, and the root raises "Cannot assign a <src> to a <dst>".
class TPersistent : public TObject {
public:
    virtual void Assign(TPersistent* Source);
    std::string ClassName() const override { return "TPersistent"; }

protected:
    virtual void AssignTo(TPersistent* Dest);
    [[noreturn]] void AssignError(TPersistent* Source);
};

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

// One piece of a gathered write: Count bytes at Data.
struct TWritePiece {
    const void* Data;
    int64_t Count;
};

// One piece of a scattered read: Count bytes into Data.
struct TReadPiece {
    void* Data;
    int64_t Count;
};

class TStream : public TObject {
public:
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

    // Raise EReadError "Stream read error" / EWriteError "Stream write error" on a short transfer.
    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);
    int64_t CopyFrom(TStream& Source, int64_t Count); // Count 0: from position 0 to the end
    // The pieces one after the other, as WriteBuffer would write them (raising the same
    // error). A file hands them to the system together, so rows stored in another order
    // than they are kept reach the disk without a staging copy.
    virtual void WritePieces(const TWritePiece* Pieces, int64_t Count);
    // The next bytes into the pieces one after the other, as ReadBuffer would read them
    // (raising the same error on a short read). A file fills them from the system
    // together, so rows kept in another order than they are stored need no staging copy.
    virtual void ReadPieces(const TReadPiece* Pieces, int64_t Count);

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t NewSize);
    int64_t Remaining() { return Size() - Position(); }

    // Little-endian and big-endian fields, raising on a short read.
    uint8_t ReadU8();
    uint16_t ReadU16LE();
    uint32_t ReadU32LE();
    int32_t ReadI32LE() { return int32_t(ReadU32LE()); }
    uint16_t ReadU16BE();
    uint32_t ReadU32BE();
    void WriteU8(uint8_t v);
    void WriteU16LE(uint16_t v);
    void WriteU32LE(uint32_t v);
    void WriteI32LE(int32_t v) { WriteU32LE(uint32_t(v)); }
    void WriteU16BE(uint16_t v);
    void WriteU32BE(uint32_t v);
};

// A memory stream's storage. Large buffers (a file read whole, an encoded picture) take
// the picture blocks' road: in large pages, and kept for a while when freed, so the next
// save or load of the same size writes into pages it already holds instead of faulting
// in every 4 KiB of a fresh block; the heap's own choice between its arena and a fresh
// mapping depends on what was freed before, which made one save twice as slow as the next.
template <typename T> class TStreamAllocator {
public:
    using value_type = T;
    // From this size up a buffer is a block of its own: the size from which blocks get
    // large pages. Smaller ones stay on the heap, so that a stream growing step by step
    // does not fill the cache's slots, which are sized for a document's pictures.
    static constexpr size_t BlockMin = size_t(4) << 20;
    TStreamAllocator() = default;
    template <typename U> TStreamAllocator(const TStreamAllocator<U>&) {}
    T* allocate(size_t n)
    {
        const size_t bytes = n * sizeof(T);
        if (bytes >= BlockMin)
            return reinterpret_cast<T*>(AllocGrowingBlock(bytes));
        return static_cast<T*>(::operator new(bytes));
    }
    void deallocate(T* p, size_t n)
    {
        if (n * sizeof(T) >= BlockMin)
            FreePixelBuffer(reinterpret_cast<uint8_t*>(p));
        else
            ::operator delete(p);
    }
    template <typename U> bool operator==(const TStreamAllocator<U>&) const { return true; }
};

class TMemoryStream : public TStream {
public:
    using TStorage = std::vector<uint8_t, TStreamAllocator<uint8_t>>;
    TMemoryStream() = default;
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return int64_t(FData.size()); }
    void SetSize(int64_t NewSize) override;
    void Clear();
    // Takes Data as the whole contents without copying it; the position goes to the end.
    void Adopt(TStorage&& Data)
    {
        FData = std::move(Data);
        FPosition = int64_t(FData.size());
    }
    uint8_t* Memory() { return FData.data(); }
    // A copy of the contents.
    std::vector<uint8_t> Bytes() const { return std::vector<uint8_t>(FData.begin(), FData.end()); }
    void LoadFromStream(TStream& Stream);
    void SaveToStream(TStream& Stream);
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName);
    std::string ClassName() const override { return "TMemoryStream"; }

private:
    TStorage FData;
    int64_t FPosition = 0;
};

// Reads a caller's block without copying it (fuzz inputs, clipboard data).
class TReadOnlyMemoryStream : public TStream {
public:
    TReadOnlyMemoryStream(const void* Data, int64_t Size) : FData(static_cast<const uint8_t*>(Data)), FSize(Size) {}
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void*, int64_t) override { throw EWriteError("Stream write error"); }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return FSize; }

private:
    const uint8_t* FData;
    int64_t FSize;
    int64_t FPosition = 0;
};

constexpr uint16_t fmCreate = 0xFFFF;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyNone = 0x0040;

// Share modes are accepted and ignored: Linux has no mandatory file locks.
class TFileStream : public TStream {
public:
    // Raises EFCreateError "Cannot create file <name>" / EFOpenError "Cannot open file <name>".
    TFileStream(const std::string& FileName, uint16_t Mode);
    ~TFileStream() override;
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    void SetSize(int64_t NewSize) override;
    void WritePieces(const TWritePiece* Pieces, int64_t Count) override;
    void ReadPieces(const TReadPiece* Pieces, int64_t Count) override;
    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    std::FILE* FFile = nullptr;
};

// The one road every save takes. The bytes go to a temporary file beside the file they
// replace (beside the file a symbolic link points to, so the link stays a link); every
// write, the last flush, the sync and the close are checked, and only then is the
// temporary renamed over the target and the folder synced, so a power cut leaves the old
// file or the new one. Any failure removes the temporary, leaves the target as it was
// and raises EWriteError "Cannot write file "NAME": <the system's reason>". A target whose
// mode lets no one write it is refused before anything is written (for root too: the
// rename would throw the protection away); the new file takes the old one's mode, and
// its owner and group where the process may set them. Destroyed without Commit, the
// stream removes the temporary and leaves the target alone.
class TSafeFileStream : public TStream {
public:
    // Raises EWriteError for a read-only target, EFCreateError when no temporary can be made.
    explicit TSafeFileStream(const std::string& FileName);
    ~TSafeFileStream() override;
    TSafeFileStream(const TSafeFileStream&) = delete;
    TSafeFileStream& operator=(const TSafeFileStream&) = delete;
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override; // raises on any failure
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override;
    void SetSize(int64_t NewSize) override;
    void WritePieces(const TWritePiece* Pieces, int64_t Count) override;
    void Commit();
    // A writer that turns a stream error into its own (or into an abort flag) still
    // reports the system's reason through this: it raises the first write failure.
    void RaiseIfFailed() const;
    bool Failed() const { return !FError.empty(); }
    const std::string& FailureMessage() const { return FError; }
    // The file a writer that opens files by name (the PDF printer) writes; Commit then
    // checks it like the stream's own bytes.
    const std::string& TempName() const { return FTempName; }
    const std::string& FileName() const { return FFileName; }

private:
    [[noreturn]] void Fail(int Error);
    void Flush();
    void WriteAt(int64_t Offset, const uint8_t* Data, int64_t Count);
    void Discard();

    std::string FFileName; // as the caller named it: the messages show this
    std::string FTarget;   // the file that is replaced, links followed
    std::string FTempName;
    int FFd = -1;
    std::vector<uint8_t> FBuffer;
    int64_t FBufferStart = 0; // file offset of FBuffer's first byte
    int64_t FPosition = 0;
    bool FReplaces = false; // the target exists: its mode and owner carry over
    uint32_t FMode = 0, FOwner = 0, FGroup = 0;
    std::string FError;
    bool FCommitted = false;
};

// Runs Writer on a TSafeFileStream for FileName and commits it; a write failure is
// reported as such even when the writer raised its own error after it.
void SaveFileSafely(const std::string& FileName, const std::function<void(TStream&)>& Writer);

class TStringList : public TPersistent {
public:
    enum TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };

    int32_t Count() const { return int32_t(FItems.size()); }
    const std::string& Strings(int32_t Index) const;
    void SetStrings(int32_t Index, const std::string& S);
    const std::string& operator[](int32_t Index) const { return Strings(Index); }
    TObject* Objects(int32_t Index) const;
    void SetObjects(int32_t Index, TObject* Obj);

    int32_t Add(const std::string& S);
    int32_t AddObject(const std::string& S, TObject* Obj);
    void Insert(int32_t Index, const std::string& S);
    void Delete(int32_t Index);
    void Exchange(int32_t A, int32_t B);
    void Clear();
    int32_t IndexOf(const std::string& S) const; // case-insensitive, as the platform compares
    bool Find(const std::string& S, int32_t& Index) const;
    void Sort();

    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool Value) { FCaseSensitive = Value; }

    // Lines joined with CR LF (each line ends with one); reading accepts CR LF, LF or CR.
    std::string Text() const;
    void SetText(const std::string& Text);
    void LoadFromStream(TStream& Stream);
    void SaveToStream(TStream& Stream) const;
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName) const;

    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TStringList"; }

    TNotifyEvent OnChange;

private:
    struct Item {
        std::string S;
        TObject* Obj = nullptr;
    };
    int Compare(const std::string& A, const std::string& B) const;
    void CheckIndex(int32_t Index) const;
    void Changed();
    std::vector<Item> FItems;
    bool FSorted = false;
    bool FCaseSensitive = false;
    TDuplicates FDuplicates = dupIgnore;
};

// Little/big-endian fields in byte buffers (for records built in memory).
inline uint16_t GetU16LE(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetU32LE(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t GetU16BE(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t GetU32BE(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void PutU16LE(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutU32LE(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void PutU16BE(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void PutU32BE(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (24 - 8 * i));
}

// Where the program keeps what it writes (settings, recent list, scratch files):
// $XDG_CONFIG_HOME/kelvane/ (default ~/.config/kelvane/), created on demand.
// Where it finds what it only reads (Frames, Textures, Masks, Patterns, the icon):
// beside the executable, or share/kelvane/ when installed. Both end with '/'.
// Tests point them elsewhere with the setters.
std::string ConfigDir();
std::string DataDir();
void SetConfigDir(const std::string& Dir);
void SetDataDir(const std::string& Dir);

} // namespace kv
