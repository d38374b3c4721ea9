#include "platform/Classes.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kv {

// ---- TPersistent ----------------------------------------------------------------

void TPersistent::Assign(TPersistent* Source)
{
    if (Source) {
        Source->AssignTo(this);
        return;
    }
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) { Dest->AssignError(this); }

void TPersistent::AssignError(TPersistent* Source)
{
    std::string sourceName = Source ? Source->ClassName() : std::string("nil");
    throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

// ---- TStream --------------------------------------------------------------------

void TStream::ReadBuffer(void* Buffer, int64_t Count)
{
    if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count))
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count)
{
    if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count))
        throw EWriteError("Stream write error");
}

void TStream::WritePieces(const TWritePiece* Pieces, int64_t Count)
{
    for (int64_t I = 0; I < Count; ++I)
        WriteBuffer(Pieces[I].Data, Pieces[I].Count);
}

void TStream::ReadPieces(const TReadPiece* Pieces, int64_t Count)
{
    for (int64_t I = 0; I < Count; ++I)
        ReadBuffer(Pieces[I].Data, Pieces[I].Count);
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count)
{
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    int64_t result = Count;
    std::vector<uint8_t> buffer(size_t(std::min<int64_t>(Count, 0xF000)) + 1);
    while (Count > 0) {
        int64_t n = std::min<int64_t>(Count, int64_t(buffer.size()));
        Source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        Count -= n;
    }
    return result;
}

int64_t TStream::Size()
{
    int64_t pos = Seek(0, soCurrent);
    int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream does not support SetSize"); }

uint8_t TStream::ReadU8()
{
    uint8_t b;
    ReadBuffer(&b, 1);
    return b;
}
uint16_t TStream::ReadU16LE()
{
    uint8_t b[2];
    ReadBuffer(b, 2);
    return GetU16LE(b);
}
uint32_t TStream::ReadU32LE()
{
    uint8_t b[4];
    ReadBuffer(b, 4);
    return GetU32LE(b);
}
uint16_t TStream::ReadU16BE()
{
    uint8_t b[2];
    ReadBuffer(b, 2);
    return GetU16BE(b);
}
uint32_t TStream::ReadU32BE()
{
    uint8_t b[4];
    ReadBuffer(b, 4);
    return GetU32BE(b);
}
void TStream::WriteU8(uint8_t v) { WriteBuffer(&v, 1); }
void TStream::WriteU16LE(uint16_t v)
{
    uint8_t b[2];
    PutU16LE(b, v);
    WriteBuffer(b, 2);
}
void TStream::WriteU32LE(uint32_t v)
{
    uint8_t b[4];
    PutU32LE(b, v);
    WriteBuffer(b, 4);
}
void TStream::WriteU16BE(uint16_t v)
{
    uint8_t b[2];
    PutU16BE(b, v);
    WriteBuffer(b, 2);
}
void TStream::WriteU32BE(uint32_t v)
{
    uint8_t b[4];
    PutU32BE(b, v);
    WriteBuffer(b, 4);
}

// ---- TMemoryStream --------------------------------------------------------------

int64_t TMemoryStream::Read(void* Buffer, int64_t Count)
{
    if (Count <= 0 || FPosition >= int64_t(FData.size()))
        return 0;
    int64_t n = std::min<int64_t>(Count, int64_t(FData.size()) - FPosition);
    std::memcpy(Buffer, FData.data() + FPosition, size_t(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count)
{
    if (Count <= 0)
        return 0;
    // The part past the end is appended rather than zero-filled first and then
    // overwritten: a large write into a growing stream passes over its bytes once.
    const auto* bytes = static_cast<const uint8_t*>(Buffer);
    const size_t pos = size_t(FPosition), size = FData.size();
    if (pos > size)
        FData.resize(pos);
    const size_t inside = pos < size ? std::min(size - pos, size_t(Count)) : 0;
    if (inside > 0)
        std::memcpy(FData.data() + pos, bytes, inside);
    FData.insert(FData.end(), bytes + inside, bytes + Count);
    FPosition += Count;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    switch (Origin) {
    case soBeginning: FPosition = Offset; break;
    case soCurrent: FPosition += Offset; break;
    case soEnd: FPosition = int64_t(FData.size()) + Offset; break;
    }
    if (FPosition < 0)
        FPosition = 0;
    return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize)
{
    if (NewSize < 0)
        NewSize = 0;
    FData.resize(size_t(NewSize));
    if (FPosition > NewSize)
        FPosition = NewSize;
}

void TMemoryStream::Clear()
{
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream)
{
    Stream.SetPosition(0);
    int64_t n = Stream.Size();
    SetSize(n);
    if (n > 0)
        Stream.ReadBuffer(FData.data(), n);
    FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& Stream)
{
    if (!FData.empty())
        Stream.WriteBuffer(FData.data(), int64_t(FData.size()));
}

void TMemoryStream::LoadFromFile(const std::string& FileName)
{
    TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}

void TMemoryStream::SaveToFile(const std::string& FileName)
{
    SaveFileSafely(FileName, [this](TStream& Stream) { SaveToStream(Stream); });
}

// ---- TReadOnlyMemoryStream ------------------------------------------------------

int64_t TReadOnlyMemoryStream::Read(void* Buffer, int64_t Count)
{
    if (Count <= 0 || FPosition >= FSize)
        return 0;
    int64_t n = std::min(Count, FSize - FPosition);
    std::memcpy(Buffer, FData + FPosition, size_t(n));
    FPosition += n;
    return n;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    switch (Origin) {
    case soBeginning: FPosition = Offset; break;
    case soCurrent: FPosition += Offset; break;
    case soEnd: FPosition = FSize + Offset; break;
    }
    if (FPosition < 0)
        FPosition = 0;
    return FPosition;
}

// ---- TFileStream ----------------------------------------------------------------

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName)
{
    if (Mode == fmCreate) {
        FFile = std::fopen(FileName.c_str(), "w+b");
        if (!FFile)
            throw EFCreateError("Cannot create file \"" + FileName + "\"");
        return;
    }
    const char* how = "rb";
    switch (Mode & 3) {
    case fmOpenWrite:
    case fmOpenReadWrite: how = "r+b"; break;
    default: break;
    }
    if (!std::filesystem::is_directory(FileName))
        FFile = std::fopen(FileName.c_str(), how);
    if (!FFile)
        throw EFOpenError("Cannot open file \"" + FileName + "\"");
}

TFileStream::~TFileStream()
{
    if (FFile)
        std::fclose(FFile);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count)
{
    if (Count <= 0)
        return 0;
    return int64_t(std::fread(Buffer, 1, size_t(Count), FFile));
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count)
{
    if (Count <= 0)
        return 0;
    return int64_t(std::fwrite(Buffer, 1, size_t(Count), FFile));
}

namespace {

// Hands the pieces to Write in batches of vectors (well below the system's limit on
// pieces per call), stepping over what a short write sent. Fail(error, bytes written so
// far) must throw. Returns the bytes written.
template <class TWriteFn, class TFailFn>
int64_t WriteAllPieces(const TWritePiece* Pieces, int64_t Count, TWriteFn Write, TFailFn Fail)
{
    constexpr int64_t Batch = 512;
    int64_t Written = 0;
    std::vector<iovec> Vec;
    for (int64_t First = 0; First < Count; First += Batch) {
        Vec.clear();
        for (int64_t I = First; I < std::min(Count, First + Batch); ++I)
            if (Pieces[I].Count > 0)
                Vec.push_back({const_cast<void*>(Pieces[I].Data), size_t(Pieces[I].Count)});
            else if (Pieces[I].Count < 0)
                throw EWriteError("Stream write error");
        size_t Next = 0;
        while (Next < Vec.size()) {
            const ssize_t N = Write(Vec.data() + Next, int(Vec.size() - Next));
            if (N < 0 && errno == EINTR)
                continue;
            if (N <= 0)
                Fail(N < 0 ? errno : EIO, Written);
            Written += N;
            size_t Left = size_t(N);
            while (Next < Vec.size() && Left >= Vec[Next].iov_len)
                Left -= Vec[Next++].iov_len;
            if (Left > 0) {
                Vec[Next].iov_base = static_cast<uint8_t*>(Vec[Next].iov_base) + Left;
                Vec[Next].iov_len -= Left;
            }
        }
    }
    return Written;
}

} // namespace

void TFileStream::WritePieces(const TWritePiece* Pieces, int64_t Count)
{
    // What the stream buffered goes first; then the pieces go straight to the file, and
    // the stream is told the new position (it keeps its own idea of the offset).
    if (std::fflush(FFile) != 0)
        throw EWriteError("Stream write error");
    const off_t Start = ftello(FFile);
    if (Start < 0)
        throw EWriteError("Stream write error");
    const int Fd = fileno(FFile);
    const int64_t Written = WriteAllPieces(
        Pieces, Count, [Fd](const iovec* Vec, int N) { return ::writev(Fd, Vec, N); },
        [this, Start](int, int64_t Done) {
            fseeko(FFile, Start + off_t(Done), SEEK_SET);
            throw EWriteError("Stream write error");
        });
    if (fseeko(FFile, Start + off_t(Written), SEEK_SET) != 0)
        throw EWriteError("Stream write error");
}

void TFileStream::ReadPieces(const TReadPiece* Pieces, int64_t Count)
{
    // Pending writes go first; the pieces are read from the stream's idea of the offset,
    // and the stream is then told the new one.
    if (std::fflush(FFile) != 0)
        throw EReadError("Stream read error");
    const off_t Start = ftello(FFile);
    if (Start < 0)
        throw EReadError("Stream read error");
    const int Fd = fileno(FFile);
    constexpr int64_t Batch = 512;
    int64_t Done = 0;
    std::vector<iovec> Vec;
    for (int64_t First = 0; First < Count; First += Batch) {
        Vec.clear();
        for (int64_t I = First; I < std::min(Count, First + Batch); ++I)
            if (Pieces[I].Count > 0)
                Vec.push_back({Pieces[I].Data, size_t(Pieces[I].Count)});
            else if (Pieces[I].Count < 0)
                throw EReadError("Stream read error");
        size_t Next = 0;
        while (Next < Vec.size()) {
            const ssize_t N = ::preadv(Fd, Vec.data() + Next, int(Vec.size() - Next), Start + off_t(Done));
            if (N < 0 && errno == EINTR)
                continue;
            if (N <= 0) {
                fseeko(FFile, Start + off_t(Done), SEEK_SET);
                throw EReadError("Stream read error");
            }
            Done += N;
            size_t Left = size_t(N);
            while (Next < Vec.size() && Left >= Vec[Next].iov_len)
                Left -= Vec[Next++].iov_len;
            if (Left > 0) {
                Vec[Next].iov_base = static_cast<uint8_t*>(Vec[Next].iov_base) + Left;
                Vec[Next].iov_len -= Left;
            }
        }
    }
    if (fseeko(FFile, Start + off_t(Done), SEEK_SET) != 0)
        throw EReadError("Stream read error");
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    int whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
    if (fseeko(FFile, off_t(Offset), whence) != 0)
        return -1;
    return int64_t(ftello(FFile));
}

void TFileStream::SetSize(int64_t NewSize)
{
    std::fflush(FFile);
    if (ftruncate(fileno(FFile), off_t(NewSize)) != 0)
        throw EWriteError("Stream write error");
    if (Position() > NewSize)
        Seek(NewSize, soBeginning);
}

// ---- TSafeFileStream ------------------------------------------------------------

namespace {

constexpr size_t SafeBufferSize = 64 * 1024;

std::string WriteFailure(const std::string& FileName, const std::string& Reason)
{
    return "Cannot write file \"" + FileName + "\": " + Reason;
}

// The final component followed through every symbolic link: the file that a save
// replaces. Links inside the folder part are the system's to follow.
std::string FollowLinks(const std::string& FileName)
{
    std::string path = FileName;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::vector<char> to(size_t(st.st_size > 0 ? st.st_size : 255) + 2);
        const ssize_t n = readlink(path.c_str(), to.data(), to.size() - 1);
        if (n <= 0)
            return path;
        std::string next(to.data(), size_t(n));
        path = next[0] == '/' ? next : ExtractFilePath(path) + next;
    }
    throw EFCreateError("Cannot create file \"" + FileName + "\": " + std::strerror(ELOOP));
}

// The process's file-creation mask, read without changing it (umask() would, for every
// thread, for a moment).
mode_t CurrentUmask()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    mode_t mask = 022;
    if (!f)
        return mask;
    char line[256];
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "Umask:", 6) == 0) {
            mask = mode_t(std::strtoul(line + 6, nullptr, 8));
            break;
        }
    std::fclose(f);
    return mask;
}

// Makes the rename itself durable. Some file systems cannot sync a folder; the new file
// is in place and complete by now, so that is not reported as a failed save.
void SyncFolder(const std::string& FileName)
{
    const std::string dir = ExtractFilePath(FileName);
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

TSafeFileStream::TSafeFileStream(const std::string& FileName) : FFileName(FileName), FTarget(FollowLinks(FileName))
{
    struct stat st {};
    if (::stat(FTarget.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw EFCreateError("Cannot create file \"" + FileName + "\": " + std::strerror(EISDIR));
        if (!S_ISREG(st.st_mode))
            throw EWriteError(WriteFailure(FileName, "Not a regular file"));
        // The mode bits, not access(): root may write anything, but the user said no.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            throw EWriteError(WriteFailure(FileName, "The file is read-only"));
        FReplaces = true;
        FMode = uint32_t(st.st_mode & 07777);
        FOwner = uint32_t(st.st_uid);
        FGroup = uint32_t(st.st_gid);
    }
    const std::string dir = ExtractFilePath(FTarget);
    std::string pattern = (dir.empty() ? std::string("./") : dir) + "." + ExtractFileName(FTarget) + ".XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    FFd = mkostemp(buf.data(), O_CLOEXEC);
    if (FFd < 0)
        throw EFCreateError("Cannot create file \"" + FileName + "\": " + std::strerror(errno));
    FTempName = buf.data();
    FBuffer.reserve(SafeBufferSize);
}

TSafeFileStream::~TSafeFileStream()
{
    if (!FCommitted)
        Discard();
}

void TSafeFileStream::Discard()
{
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
    if (!FTempName.empty()) {
        ::unlink(FTempName.c_str());
        FTempName.clear();
    }
    FBuffer.clear();
}

void TSafeFileStream::Fail(int Error)
{
    if (FError.empty())
        FError = WriteFailure(FFileName, std::strerror(Error));
    Discard();
    throw EWriteError(FError);
}

void TSafeFileStream::RaiseIfFailed() const
{
    if (!FError.empty())
        throw EWriteError(FError);
}

void TSafeFileStream::WriteAt(int64_t Offset, const uint8_t* Data, int64_t Count)
{
    while (Count > 0) {
        const ssize_t n = ::pwrite(FFd, Data, size_t(Count), off_t(Offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail(n < 0 ? errno : EIO);
        Data += n;
        Offset += n;
        Count -= n;
    }
}

void TSafeFileStream::Flush()
{
    RaiseIfFailed();
    if (FBuffer.empty())
        return;
    WriteAt(FBufferStart, FBuffer.data(), int64_t(FBuffer.size()));
    FBuffer.clear();
}

int64_t TSafeFileStream::Write(const void* Buffer, int64_t Count)
{
    RaiseIfFailed();
    if (Count <= 0)
        return 0;
    if (!FBuffer.empty() && FBufferStart + int64_t(FBuffer.size()) != FPosition)
        Flush();
    const auto* data = static_cast<const uint8_t*>(Buffer);
    if (size_t(Count) >= SafeBufferSize) {
        Flush();
        WriteAt(FPosition, data, Count);
        FPosition += Count;
        return Count;
    }
    if (FBuffer.empty())
        FBufferStart = FPosition;
    if (FBuffer.size() + size_t(Count) > SafeBufferSize) {
        Flush();
        FBufferStart = FPosition;
    }
    FBuffer.insert(FBuffer.end(), data, data + Count);
    FPosition += Count;
    return Count;
}

void TSafeFileStream::WritePieces(const TWritePiece* Pieces, int64_t Count)
{
    Flush();
    WriteAllPieces(
        Pieces, Count,
        [this](const iovec* Vec, int N) {
            const ssize_t Sent = ::pwritev(FFd, Vec, N, off_t(FPosition));
            if (Sent > 0)
                FPosition += Sent;
            return Sent;
        },
        [this](int Error, int64_t) { Fail(Error); });
}

int64_t TSafeFileStream::Read(void* Buffer, int64_t Count)
{
    if (Count <= 0 || Failed())
        return 0;
    Flush();
    int64_t got = 0;
    auto* data = static_cast<uint8_t*>(Buffer);
    while (got < Count) {
        const ssize_t n = ::pread(FFd, data + got, size_t(Count - got), off_t(FPosition + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    FPosition += got;
    return got;
}

int64_t TSafeFileStream::Size()
{
    struct stat st {};
    int64_t size = FFd >= 0 && ::fstat(FFd, &st) == 0 ? int64_t(st.st_size) : 0;
    if (!FBuffer.empty())
        size = std::max(size, FBufferStart + int64_t(FBuffer.size()));
    return size;
}

int64_t TSafeFileStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    const int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : Size();
    if (base + Offset < 0)
        return -1;
    FPosition = base + Offset;
    return FPosition;
}

void TSafeFileStream::SetSize(int64_t NewSize)
{
    Flush();
    if (::ftruncate(FFd, off_t(NewSize)) != 0)
        Fail(errno);
    if (FPosition > NewSize)
        FPosition = NewSize;
}

void TSafeFileStream::Commit()
{
    Flush();
    if (FReplaces) {
        // As root the old owner comes back; as anyone else this fails and the file is
        // the saver's, as any new file of theirs would be. The mode goes after it:
        // a change of owner clears the set-id bits.
        if (::fchown(FFd, uid_t(FOwner), gid_t(FGroup)) != 0)
            errno = 0;
        if (::fchmod(FFd, mode_t(FMode)) != 0)
            Fail(errno);
    } else if (::fchmod(FFd, 0666 & ~CurrentUmask()) != 0) {
        Fail(errno);
    }
    if (::fsync(FFd) != 0)
        Fail(errno);
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0)
        Fail(errno);
    if (::rename(FTempName.c_str(), FTarget.c_str()) != 0)
        Fail(errno);
    FTempName.clear();
    FCommitted = true;
    SyncFolder(FTarget);
}

void SaveFileSafely(const std::string& FileName, const std::function<void(TStream&)>& Writer)
{
    TSafeFileStream stream(FileName);
    try {
        Writer(stream);
    } catch (...) {
        stream.RaiseIfFailed();
        throw;
    }
    stream.Commit();
}

// ---- TStringList ----------------------------------------------------------------

void TStringList::CheckIndex(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        throw EStringListError("List index out of bounds (" + std::to_string(Index) + ")");
}

const std::string& TStringList::Strings(int32_t Index) const
{
    CheckIndex(Index);
    return FItems[size_t(Index)].S;
}

void TStringList::SetStrings(int32_t Index, const std::string& S)
{
    if (FSorted)
        throw EStringListError("Operation not allowed on sorted list");
    CheckIndex(Index);
    FItems[size_t(Index)].S = S;
    Changed();
}

TObject* TStringList::Objects(int32_t Index) const
{
    CheckIndex(Index);
    return FItems[size_t(Index)].Obj;
}

void TStringList::SetObjects(int32_t Index, TObject* Obj)
{
    CheckIndex(Index);
    FItems[size_t(Index)].Obj = Obj;
    Changed();
}

int TStringList::Compare(const std::string& A, const std::string& B) const
{
    if (FCaseSensitive)
        return A.compare(B);
    return UpperCase(A).compare(UpperCase(B));
}

bool TStringList::Find(const std::string& S, int32_t& Index) const
{
    int32_t lo = 0, hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        int32_t mid = (lo + hi) / 2;
        int c = Compare(FItems[size_t(mid)].S, S);
        if (c < 0)
            lo = mid + 1;
        else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                if (FDuplicates != dupAccept)
                    lo = mid;
            }
        }
    }
    Index = lo;
    return found;
}

int32_t TStringList::Add(const std::string& S) { return AddObject(S, nullptr); }

int32_t TStringList::AddObject(const std::string& S, TObject* Obj)
{
    int32_t index = Count();
    if (FSorted) {
        if (Find(S, index)) {
            if (FDuplicates == dupIgnore)
                return index;
            if (FDuplicates == dupError)
                throw EStringListError("String list does not allow duplicates");
        }
    }
    FItems.insert(FItems.begin() + index, Item{S, Obj});
    Changed();
    return index;
}

void TStringList::Insert(int32_t Index, const std::string& S)
{
    if (FSorted)
        throw EStringListError("Operation not allowed on sorted list");
    if (Index < 0 || Index > Count())
        throw EStringListError("List index out of bounds (" + std::to_string(Index) + ")");
    FItems.insert(FItems.begin() + Index, Item{S, nullptr});
    Changed();
}

void TStringList::Delete(int32_t Index)
{
    CheckIndex(Index);
    FItems.erase(FItems.begin() + Index);
    Changed();
}

void TStringList::Exchange(int32_t A, int32_t B)
{
    CheckIndex(A);
    CheckIndex(B);
    std::swap(FItems[size_t(A)], FItems[size_t(B)]);
    Changed();
}

void TStringList::Clear()
{
    if (FItems.empty())
        return;
    FItems.clear();
    Changed();
}

int32_t TStringList::IndexOf(const std::string& S) const
{
    if (FSorted) {
        int32_t index;
        return Find(S, index) ? index : -1;
    }
    for (int32_t i = 0; i < Count(); ++i)
        if (Compare(FItems[size_t(i)].S, S) == 0)
            return i;
    return -1;
}

void TStringList::Sort()
{
    std::stable_sort(FItems.begin(), FItems.end(),
                     [this](const Item& a, const Item& b) { return Compare(a.S, b.S) < 0; });
    Changed();
}

void TStringList::SetSorted(bool Value)
{
    if (FSorted == Value)
        return;
    if (Value)
        Sort();
    FSorted = Value;
}

std::string TStringList::Text() const
{
    std::string r;
    for (const auto& it : FItems) {
        r += it.S;
        r += "\r\n";
    }
    return r;
}

void TStringList::SetText(const std::string& Text)
{
    FItems.clear();
    size_t i = 0, n = Text.size();
    while (i < n) {
        size_t start = i;
        while (i < n && Text[i] != '\r' && Text[i] != '\n')
            ++i;
        std::string line = Text.substr(start, i - start);
        if (FSorted)
            AddObject(line, nullptr);
        else
            FItems.push_back(Item{line, nullptr});
        if (i < n && Text[i] == '\r')
            ++i;
        if (i < n && Text[i] == '\n')
            ++i;
    }
    Changed();
}

void TStringList::LoadFromStream(TStream& Stream)
{
    int64_t n = Stream.Size() - Stream.Position();
    std::string text(size_t(std::max<int64_t>(n, 0)), '\0');
    if (n > 0)
        Stream.ReadBuffer(text.data(), n);
    SetText(text);
}

void TStringList::SaveToStream(TStream& Stream) const
{
    std::string text = Text();
    Stream.WriteBuffer(text.data(), int64_t(text.size()));
}

void TStringList::LoadFromFile(const std::string& FileName)
{
    TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}

void TStringList::SaveToFile(const std::string& FileName) const
{
    SaveFileSafely(FileName, [this](TStream& Stream) { SaveToStream(Stream); });
}

void TStringList::Assign(TPersistent* Source)
{
    if (auto* list = dynamic_cast<TStringList*>(Source)) {
        FItems = list->FItems;
        Changed();
        return;
    }
    TPersistent::Assign(Source);
}

void TStringList::Changed()
{
    if (OnChange)
        OnChange(this);
}

// ---- Folders --------------------------------------------------------------------

static std::string& ConfigDirOverride()
{
    static std::string dir;
    return dir;
}
static std::string& DataDirOverride()
{
    static std::string dir;
    return dir;
}

void SetConfigDir(const std::string& Dir)
{
    ConfigDirOverride() = Dir.empty() ? Dir : IncludeTrailingPathDelimiter(Dir);
}
void SetDataDir(const std::string& Dir) { DataDirOverride() = Dir.empty() ? Dir : IncludeTrailingPathDelimiter(Dir); }

std::string ConfigDir()
{
    std::string dir = ConfigDirOverride();
    if (dir.empty()) {
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        const char* home = std::getenv("HOME");
        if (xdg && *xdg)
            dir = IncludeTrailingPathDelimiter(xdg) + "kelvane/";
        else
            dir = IncludeTrailingPathDelimiter(home && *home ? home : "/tmp") + ".config/kelvane/";
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

std::string DataDir()
{
    if (!DataDirOverride().empty())
        return DataDirOverride();
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        auto beside = exe.parent_path();
        auto installed = beside.parent_path() / "share" / "kelvane";
        if (std::filesystem::is_directory(installed, ec))
            return IncludeTrailingPathDelimiter(installed.string());
        // The build tree keeps the program beside a copy of data/, or the sources' data/.
        if (std::filesystem::is_directory(beside / "data", ec))
            return IncludeTrailingPathDelimiter((beside / "data").string());
        return IncludeTrailingPathDelimiter(beside.string());
    }
    return "./";
}

} // namespace kv
