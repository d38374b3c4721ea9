#include "imaging/PngBands.h"

#include "imaging/IEFilterIO.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>

#include <zlib.h>

namespace kv {

// ---- Ordered workers ------------------------------------------------------------------

TOrderedWorkers::TOrderedWorkers(int32_t Count, std::function<void(int32_t)> Run)
    : FRun(std::move(Run)), FCount(std::max(Count, 0)), FDone(size_t(FCount), 0)
{
    const int32_t workers = std::min(BandWorkerThreads(), FCount - 1);
    FAhead = 2 * (std::max(workers, 0) + 1);
    for (int32_t i = 0; i < workers; ++i)
        try {
            FThreads.emplace_back([this] { Work(); });
        } catch (...) {
            break; // the caller runs what no worker takes
        }
}

TOrderedWorkers::~TOrderedWorkers()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStop = true;
    }
    FChanged.notify_all();
    for (std::thread& t : FThreads)
        t.join();
}

void TOrderedWorkers::Wait(int32_t Job)
{
    std::unique_lock<std::mutex> lock(FLock);
    while (!FDone[size_t(Job)])
        if (CanClaim())
            RunNext(lock);
        else
            FChanged.wait(lock);
}

void TOrderedWorkers::Release(int32_t Job)
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FReleased = std::max(FReleased, Job + 1);
    }
    FChanged.notify_all();
}

void TOrderedWorkers::Work()
{
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FChanged.wait(lock, [this] { return FStop || FNext >= FCount || CanClaim(); });
        if (FStop || FNext >= FCount)
            return;
        RunNext(lock);
    }
}

void TOrderedWorkers::RunNext(std::unique_lock<std::mutex>& Lock)
{
    const int32_t k = FNext++;
    Lock.unlock();
    FRun(k);
    Lock.lock();
    FDone[size_t(k)] = 1;
    FChanged.notify_all();
}

int32_t BandWorkerThreads()
{
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    return int32_t(cores) - 1;
}

// ---- IDAT reader ----------------------------------------------------------------------
// libpng's outcome for a file comes from how it reads: it takes an IDAT in pieces of
// 8 KiB, checks a chunk's CRC only when it needs data past it, and fails a row only when
// that row needs data it cannot have. The IDATs are read in pieces as the rows need them,
// stopping at the first chunk libpng would fail on, which leaves exactly the data its
// rows could come from. Bands after a byte-aligned flush (00 00 FF FF ending a chunk) are
// inflated side by side without their history, a little ahead of the rows: a band that
// refers back before its start fails and is inflated again in order with the 32 KiB
// before it, so the result never depends on the guess. A guess inflates no more than a
// MiB and no more than its share of what the rows still need; the rest of its band is
// inflated in order. What the bitmap does not hold is thus bounded whatever the file claims: the
// compressed data read ahead, and a few pieces of inflated data per guess.

namespace {

constexpr size_t IdatPieceBytes = 8192;
constexpr size_t WindowBytes = 32768;
constexpr size_t StreamingBytes = size_t(1) << 17;
// No IDAT is held whole, however long it is.
constexpr size_t PieceBytes = size_t(1) << 16;
// The compressed data read ahead of the rows for the guesses.
constexpr size_t ReadAheadBytes = size_t(16) << 20;
// What a guess inflates at most: a band of the writer's (1 MiB of rows).
constexpr size_t GuessOutBytes = size_t(1) << 20;

struct TCounters {
    std::atomic<uint64_t> Inflated{0};
    std::atomic<int64_t> Held{0};
    std::atomic<int64_t> PeakHeld{0};
    std::atomic<uint64_t> WrittenBandBytes{0};
};

TCounters& Counters()
{
    static TCounters c;
    return c;
}

void AddHeld(int64_t Bytes)
{
    TCounters& c = Counters();
    const int64_t now = c.Held.fetch_add(Bytes, std::memory_order_relaxed) + Bytes;
    int64_t peak = c.PeakHeld.load(std::memory_order_relaxed);
    while (now > peak && !c.PeakHeld.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

// A byte buffer whose memory the counters follow.
class THeldBytes {
public:
    THeldBytes() = default;
    THeldBytes(const THeldBytes&) = delete;
    THeldBytes& operator=(const THeldBytes&) = delete;
    ~THeldBytes() { AddHeld(-int64_t(FHeld)); }
    void Resize(size_t Count)
    {
        FBytes.resize(Count);
        Track();
    }
    void Release()
    {
        std::vector<uint8_t>().swap(FBytes);
        Track();
    }
    uint8_t* data() { return FBytes.data(); }
    const uint8_t* data() const { return FBytes.data(); }
    size_t size() const { return FBytes.size(); }

private:
    void Track()
    {
        const size_t now = FBytes.capacity();
        AddHeld(int64_t(now) - int64_t(FHeld));
        FHeld = now;
    }
    std::vector<uint8_t> FBytes;
    size_t FHeld = 0;
};

bool IsChunkName(const uint8_t* p)
{
    for (int i = 0; i < 4; ++i)
        if (!((p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= 'a' && p[i] <= 'z')))
            return false;
    return true;
}

bool IsCritical(const uint8_t* Name) { return (Name[0] & 0x20) == 0; }

uint32_t ChunkCrc(const uint8_t* Name, const uint8_t* Data, size_t Count)
{
    const uLong sum = crc32(0, Name, 4);
    // zlib takes a null buffer as a request for the initial value.
    return uint32_t(Count > 0 ? crc32_z(sum, Data, Count) : sum);
}

bool ReadExactly(TStream& Stream, void* Data, int64_t Count)
{
    try {
        return Stream.Read(Data, Count) == Count;
    } catch (...) {
        return false;
    }
}

// libpng's bound on an IDAT's length: what the rows can deflate to at worst.
int64_t IdatLimit(const TPngIdatJob& Job)
{
    const int64_t rowFactor = int64_t(Job.Width) * 3 + 1;
    int64_t limit = int64_t(Job.Height) * rowFactor;
    limit += 6 + 5 * (limit / std::min<int64_t>(rowFactor, 32566) + 1);
    return std::min<int64_t>(limit, 0x7FFFFFFF);
}

// Header of the chunk after an IDAT: false when libpng refuses it.
bool CheckHeader(const uint8_t* Header, const TPngIdatJob& Job)
{
    const uint32_t length = GetU32BE(Header);
    if (length > 0x7FFFFFFFu || !IsChunkName(Header + 4))
        return false;
    int64_t limit = Job.ChunkLimit > 0 ? std::min<int64_t>(Job.ChunkLimit, 0x7FFFFFFF) : 0x7FFFFFFF;
    if (std::memcmp(Header + 4, "IDAT", 4) == 0)
        limit = std::max(limit, IdatLimit(Job));
    return int64_t(length) <= limit;
}

// The chunks after the image data up to IEND, as png_read_end takes them: a critical
// chunk must have its CRC right and be one libpng knows in that place; an ancillary one
// is only skipped.
bool ReadTail(TStream& Stream, const TPngIdatJob& Job, const uint8_t* FirstHeader)
{
    uint8_t header[8];
    std::memcpy(header, FirstHeader, 8);
    std::vector<uint8_t> data;
    for (;;) {
        const uint32_t length = GetU32BE(header);
        const uint8_t* name = header + 4;
        if (IEBytesLeft(Stream) < int64_t(length) + 4)
            return false;
        if (IsCritical(name)) {
            const bool known = std::memcmp(name, "IEND", 4) == 0 || std::memcmp(name, "IDAT", 4) == 0 ||
                               std::memcmp(name, "PLTE", 4) == 0;
            if (!known)
                return false;
            data.resize(length);
            uint8_t crc[4];
            if ((length > 0 && !ReadExactly(Stream, data.data(), length)) || !ReadExactly(Stream, crc, 4))
                return false;
            if (ChunkCrc(name, data.data(), length) != GetU32BE(crc))
                return false;
            if (std::memcmp(name, "IEND", 4) == 0)
                return true;
        } else {
            Stream.Seek(int64_t(length) + 4, soCurrent);
        }
        if (!ReadExactly(Stream, header, 8) || !CheckHeader(header, Job))
            return false;
    }
}

// A run of an IDAT's data as read: a chunk comes in pieces of PieceBytes at most.
struct TPiece {
    THeldBytes Bytes;
    size_t Chunk = 0;        // the IDAT it belongs to, counted from the first
    bool StartsBand = false; // the first piece of an IDAT after data ending in a flush
};
using TPieceRef = std::shared_ptr<const TPiece>;

// The IDATs' data piece by piece, read from the stream as it is asked for. The source
// keeps the pieces from the one the rows need next on; an inflater holds its own.
class TIdatSource {
public:
    TIdatSource(TStream& Stream, const TPngIdatJob& Job) : FStream(Stream), FJob(Job) { BeginChunk(Job.FirstLength); }

    // Piece I (counted from the first), reading on to it; null when the data ends first.
    TPieceRef Piece(size_t I)
    {
        while (I >= Read() && ReadPiece(true)) {
        }
        return I >= FBase && I < Read() ? FPieces[I - FBase] : nullptr;
    }
    size_t Read() const { return FBase + FPieces.size(); }
    bool Ended() const { return FDone; }
    size_t HeldBytes() const { return FHeldBytes; }
    // The pieces before I are no longer needed in order.
    void Drop(size_t I)
    {
        while (FBase < I && !FPieces.empty()) {
            FHeldBytes -= FPieces.front()->Bytes.size();
            FPieces.pop_front();
            ++FBase;
        }
    }
    // The rest of the image data, read for its chunk checks and not kept.
    void SkipRest()
    {
        Drop(Read());
        while (ReadPiece(false)) {
        }
    }
    bool ChunkBad(size_t Chunk) const { return LastChunkBad && Chunk + 1 == FChunks; }

    // More data than the pieces read hold cannot be had: a cut or damaged chunk, or a bad header.
    bool FailsAfter = false;
    // The last chunk begun is itself cut or damaged, which libpng finds when it leaves it.
    bool LastChunkBad = false;
    bool HasTail = false;
    uint8_t TailHeader[8] = {};

private:
    void BeginChunk(uint32_t Length)
    {
        const int64_t left = IEBytesLeft(FStream);
        FCut = int64_t(Length) > left;
        FLeft = FCut ? size_t(left) / IdatPieceBytes * IdatPieceBytes : Length;
        FCrc = crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4);
        FFirstPiece = true;
        ++FChunks;
    }
    void FinishChunk()
    {
        FDone = true;
        uint8_t crc[4];
        if (FCut || !ReadExactly(FStream, crc, 4) || uint32_t(FCrc) != GetU32BE(crc)) {
            FailsAfter = LastChunkBad = true;
            return;
        }
        uint8_t header[8];
        if (!ReadExactly(FStream, header, 8) || !CheckHeader(header, FJob)) {
            FailsAfter = true;
            return;
        }
        if (std::memcmp(header + 4, "IDAT", 4) != 0) {
            std::memcpy(TailHeader, header, 8);
            HasTail = true;
            return;
        }
        FDone = false;
        BeginChunk(GetU32BE(header));
    }
    bool ReadPiece(bool Keep)
    {
        while (!FDone && FLeft == 0)
            FinishChunk(); // an empty chunk
        if (FDone)
            return false;
        auto p = std::make_shared<TPiece>();
        const size_t n = std::min(FLeft, PieceBytes);
        p->Bytes.Resize(n);
        if (!ReadExactly(FStream, p->Bytes.data(), int64_t(n))) {
            FailsAfter = FDone = true;
            return false;
        }
        static const uint8_t flush[4] = {0, 0, 0xFF, 0xFF};
        p->Chunk = FChunks - 1;
        p->StartsBand = FFirstPiece && FChunks > 1 && FOffset >= 6 && std::memcmp(FLast4, flush, 4) == 0;
        FFirstPiece = false;
        FCrc = crc32_z(FCrc, p->Bytes.data(), n);
        for (size_t i = n > 4 ? n - 4 : 0; i < n; ++i) {
            std::memmove(FLast4, FLast4 + 1, 3);
            FLast4[3] = p->Bytes.data()[i];
        }
        FOffset += n;
        FLeft -= n;
        if (FLeft == 0)
            FinishChunk();
        if (Keep) {
            FHeldBytes += n;
            FPieces.push_back(std::move(p));
        }
        return true;
    }

    TStream& FStream;
    const TPngIdatJob& FJob;
    std::deque<TPieceRef> FPieces;
    size_t FBase = 0;
    size_t FHeldBytes = 0;
    size_t FChunks = 0; // begun
    size_t FLeft = 0;   // of the chunk being read, that can be read
    bool FCut = false;
    bool FFirstPiece = false;
    bool FDone = false;
    uLong FCrc = 0;
    uint64_t FOffset = 0;
    uint8_t FLast4[4] = {};
};

// One run of pieces inflated by one z_stream, resumable: Out takes what it gives.
struct TInflater {
    std::unique_ptr<z_stream> Z;
    std::vector<TPieceRef> Pieces; // its input; each is let go once used
    size_t Taken = 0;              // of Pieces handed to Z
    size_t Next = 0;               // the source's index of the piece after Pieces
    bool Raw = false;
    int Status = Z_OK; // Z_OK while it has input left or used it all; Z_STREAM_END; an error
    THeldBytes Out;
    size_t Used = 0;
    uLong Adler = 1; // of what a raw stream gave; zlib keeps a zlib stream's own in Z->adler

    TInflater() = default;
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;
    ~TInflater()
    {
        if (Z)
            inflateEnd(Z.get());
    }
    bool Start(int WindowBits, const uint8_t* Dictionary, size_t DictionaryBytes)
    {
        Z = std::make_unique<z_stream>();
        std::memset(Z.get(), 0, sizeof(z_stream));
        Raw = WindowBits < 0;
        if (inflateInit2(Z.get(), WindowBits) != Z_OK) {
            Z.reset();
            Status = Z_MEM_ERROR;
            return false;
        }
        if (DictionaryBytes > 0 && inflateSetDictionary(Z.get(), Dictionary, uInt(DictionaryBytes)) != Z_OK) {
            Status = Z_DATA_ERROR;
            return false;
        }
        return true;
    }
    void Append(TPieceRef Piece)
    {
        Pieces.push_back(std::move(Piece));
        ++Next;
    }
    bool HasInput() const { return Taken < Pieces.size() || (Z && Z->avail_in > 0); }
    bool Finished() const { return Status != Z_OK || !HasInput(); }
    // Whether the run used its input up between two blocks, on a byte boundary, before
    // the last block: the next piece can then start a stream of its own.
    bool AtBoundary() const
    {
        return Z && Status == Z_OK && !HasInput() && (Z->data_type & 128) && (Z->data_type & 64) == 0 &&
               (Z->data_type & 63) == 0;
    }
    // The Adler-32 and the length of all it gave.
    uLong Check() const { return Raw ? Adler : Z->adler; }
    uint64_t Length() const { return Z ? uint64_t(Z->total_out) : 0; }
    // The chunk of the piece being inflated.
    int64_t CurrentChunk() const { return Taken > 0 ? int64_t(Pieces[Taken - 1]->Chunk) : -1; }
    // Inflates until the run is finished or Out holds Cap bytes.
    void Run(size_t Cap)
    {
        if (!Z)
            return;
        while (!Finished() && Used < Cap) {
            if (Z->avail_in == 0) {
                if (Taken > 0)
                    Pieces[Taken - 1].reset();
                const TPiece& p = *Pieces[Taken++];
                Z->next_in = const_cast<Bytef*>(p.Bytes.data());
                Z->avail_in = uInt(p.Bytes.size());
                continue;
            }
            if (Out.size() - Used < 4096)
                Out.Resize(std::min(Cap, std::max(Out.size() * 2, Used + 65536)));
            Z->next_out = Out.data() + Used;
            Z->avail_out = uInt(std::min(Out.size(), Cap) - Used);
            // Z_BLOCK on the run's last data stops right after a block, where AtBoundary looks.
            const int rc = inflate(Z.get(), Taken == Pieces.size() ? Z_BLOCK : Z_NO_FLUSH);
            const size_t before = Used;
            Used = size_t(Z->next_out - Out.data());
            if (Raw && Used > before)
                Adler = adler32_z(Adler, Out.data() + before, Used - before);
            Counters().Inflated.fetch_add(Used - before, std::memory_order_relaxed);
            if (rc == Z_STREAM_END)
                Status = Z_STREAM_END;
            else if (rc != Z_OK && rc != Z_BUF_ERROR)
                Status = rc;
        }
    }
};

// The rows being rebuilt: filtered R, G, B samples in, unfiltered B, G, R rows out,
// computed in the bitmap's own order (a filter works on each channel alike).
class TRowMaker {
public:
    TRowMaker(TBitmap& Bitmap, TProgressRec& Progress, int32_t Width, int32_t Height)
        : FBitmap(Bitmap), FProgress(Progress), FWidth(Width), FHeight(Height), FRowBytes(1 + size_t(Width) * 3),
          FPending(FRowBytes), FZeros(FRowBytes)
    {
    }
    bool Complete() const { return FY >= FHeight; }
    bool Failed() const { return FFailed; }
    // libpng counts the last row only once the data after it is checked.
    bool CountLastRow()
    {
        if (!Complete() || FFailed)
            return false;
        Count();
        return !FFailed;
    }
    // False once rows can no longer be made (a bad filter type or an abort).
    bool Feed(const uint8_t* Data, size_t Count)
    {
        while (Count > 0 && !Complete() && !FFailed) {
            if (FFill == 0 && Count >= FRowBytes) {
                MakeRow(Data);
                Data += FRowBytes;
                Count -= FRowBytes;
                continue;
            }
            const size_t n = std::min(Count, FRowBytes - FFill);
            std::memcpy(FPending.data() + FFill, Data, n);
            FFill += n;
            Data += n;
            Count -= n;
            if (FFill == FRowBytes) {
                FFill = 0;
                MakeRow(FPending.data());
            }
        }
        return !FFailed;
    }

private:
    void MakeRow(const uint8_t* Filtered)
    {
        const uint8_t filter = Filtered[0];
        if (filter > 4) { // libpng: "bad adaptive filter value"
            FFailed = true;
            return;
        }
        uint8_t* row = FBitmap.ScanLine(FY);
        const uint8_t* up = FY > 0 ? FBitmap.ScanLine(FY - 1) : FZeros.data();
        Unfilter(filter, Filtered + 1, row, up);
        if (++FY < FHeight)
            Count();
    }
    void Count()
    {
        ++FProgress.Counter;
        FProgress.Report();
        if (FProgress.IsAborting())
            FFailed = true;
    }
    // Sample c of a pixel (R, G, B) lands at 2 - c of the bitmap's B, G, R; Up is the row
    // above, zeros above the top one. Each filter has a loop of its own, the three
    // channels side by side, since the left neighbour makes every step wait on the last.
    void Unfilter(uint8_t Filter, const uint8_t* Src, uint8_t* Row, const uint8_t* Up) const
    {
        const int32_t w = FWidth;
        switch (Filter) {
        case 0:
            for (int32_t x = 0; x < w; ++x, Src += 3, Row += 3) {
                Row[0] = Src[2];
                Row[1] = Src[1];
                Row[2] = Src[0];
            }
            return;
        case 1:
            Row[0] = Src[2], Row[1] = Src[1], Row[2] = Src[0];
            for (int32_t x = 1; x < w; ++x) {
                Src += 3, Row += 3;
                Row[0] = uint8_t(Src[2] + Row[-3]);
                Row[1] = uint8_t(Src[1] + Row[-2]);
                Row[2] = uint8_t(Src[0] + Row[-1]);
            }
            return;
        case 2:
            for (int32_t x = 0; x < w; ++x, Src += 3, Row += 3, Up += 3) {
                Row[0] = uint8_t(Src[2] + Up[0]);
                Row[1] = uint8_t(Src[1] + Up[1]);
                Row[2] = uint8_t(Src[0] + Up[2]);
            }
            return;
        case 3:
            for (int o = 0; o < 3; ++o)
                Row[o] = uint8_t(Src[2 - o] + (Up[o] >> 1));
            for (int32_t x = 1; x < w; ++x) {
                Src += 3, Row += 3, Up += 3;
                for (int o = 0; o < 3; ++o)
                    Row[o] = uint8_t(Src[2 - o] + ((Row[o - 3] + Up[o]) >> 1));
            }
            return;
        default:
            for (int o = 0; o < 3; ++o)
                Row[o] = uint8_t(Src[2 - o] + Up[o]); // Paeth of (0, b, 0) is b
            for (int32_t x = 1; x < w; ++x) {
                Src += 3, Row += 3, Up += 3;
                for (int o = 0; o < 3; ++o)
                    Row[o] = uint8_t(Src[2 - o] + PaethPredictor(Row[o - 3], Up[o], Up[o - 3]));
            }
            return;
        }
    }

    TBitmap& FBitmap;
    TProgressRec& FProgress;
    int32_t FWidth, FHeight;
    size_t FRowBytes;
    std::vector<uint8_t> FPending;
    std::vector<uint8_t> FZeros;
    size_t FFill = 0;
    int32_t FY = 0;
    bool FFailed = false;
};

// A band inflated ahead on its own, on a worker or by the caller while it waits.
struct TGuess {
    size_t Start = 0; // the source's index of its first piece
    std::unique_ptr<TInflater> T;
    bool Failed = false; // it could not even start
    bool Done = false;   // under the pool's lock
};

// Workers for the guesses, started with the first; the caller runs queued guesses
// itself while it waits for one.
class TGuessPool {
public:
    explicit TGuessPool(std::function<void(TGuess&)> Run) : FRun(std::move(Run)) {}
    ~TGuessPool()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FStop = true;
            FQueue.clear();
        }
        FChanged.notify_all();
        for (std::thread& t : FThreads)
            t.join();
    }
    TGuessPool(const TGuessPool&) = delete;
    TGuessPool& operator=(const TGuessPool&) = delete;

    void Post(TGuess& G)
    {
        if (FThreads.empty())
            for (int32_t i = 0; i < BandWorkerThreads(); ++i)
                try {
                    FThreads.emplace_back([this] { Work(); });
                } catch (...) {
                    break; // the caller runs what no worker takes
                }
        {
            std::lock_guard<std::mutex> lock(FLock);
            FQueue.push_back(&G);
        }
        FChanged.notify_one();
    }
    // Until G is done or taken off the queue unrun (Run false).
    void Wait(TGuess& G, bool Run)
    {
        std::unique_lock<std::mutex> lock(FLock);
        if (!Run) {
            const auto at = std::find(FQueue.begin(), FQueue.end(), &G);
            if (at != FQueue.end()) {
                FQueue.erase(at);
                G.Done = true;
            }
        }
        while (!G.Done)
            if (!FQueue.empty())
                RunFront(lock);
            else
                FChanged.wait(lock);
    }

private:
    void Work()
    {
        std::unique_lock<std::mutex> lock(FLock);
        for (;;) {
            FChanged.wait(lock, [this] { return FStop || !FQueue.empty(); });
            if (FStop)
                return;
            RunFront(lock);
        }
    }
    void RunFront(std::unique_lock<std::mutex>& Lock)
    {
        TGuess* g = FQueue.front();
        FQueue.pop_front();
        Lock.unlock();
        FRun(*g);
        Lock.lock();
        g->Done = true;
        FChanged.notify_all();
    }

    std::function<void(TGuess&)> FRun;
    std::deque<TGuess*> FQueue;
    bool FStop = false;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::thread> FThreads;
};

// The inflated data in order, fed to the rows and kept as the window a band after it
// may need; tells how the deflate data ended.
class TIdatDecoder {
public:
    TIdatDecoder(TIdatSource& Source, TRowMaker& Rows, size_t ImageBytes)
        : FSource(Source), FRows(Rows), FImageBytes(ImageBytes)
    {
    }

    void Decode()
    {
        const TPieceRef first = FSource.Piece(0);
        if (!first)
            return;
        // The window size of the zlib header; a bad header fails the first band anyway.
        const uint8_t cmf = first->Bytes.data()[0];
        if ((cmf & 0x0F) == 8 && (cmf >> 4) <= 7)
            FRawBits = -(8 + (cmf >> 4));
        FPool = std::make_unique<TGuessPool>([this](TGuess& g) { RunGuess(g); });
        std::unique_ptr<TInflater> live = Begin(0, 0);
        while (live) {
            Drain(*live);
            if (FStopped || live->Status != Z_OK)
                break;
            live = Continue(std::move(live));
        }
        Finish(live ? *live : *FUnfinished);
        FPool.reset(); // no guess runs any more
        FGuesses.clear();
    }
    // What libpng checks as it reads the last row: the deflate data ends (bad data past
    // the rows is only warned of, and so is more data than the rows take) within the
    // IDATs, its Adler-32 is right, and the chunk it ends in is sound.
    bool EndsWell() const
    {
        if (FAdlerBad || FEndChunk < 0 || (FStatus == Z_OK && !FTooMuch))
            return false;
        return !FSource.ChunkBad(size_t(FEndChunk));
    }

private:
    // A stream beginning at piece Start: a zlib one at the first piece (WindowBits 0),
    // else raw after the window.
    std::unique_ptr<TInflater> Begin(size_t Start, int WindowBits)
    {
        auto t = std::make_unique<TInflater>();
        t->Next = Start;
        t->Start(WindowBits, FWindow.data(), WindowBits < 0 ? FWindow.size() : 0);
        return t;
    }
    // The live stream has used its input: on into the next band's guess when it stopped
    // at that band's start, else on through the next piece. Null when the data ends.
    std::unique_ptr<TInflater> Continue(std::unique_ptr<TInflater> Live)
    {
        const size_t next = Live->Next;
        FSource.Drop(next);
        while (!FGuesses.empty() && FGuesses.front()->Start < next)
            Discard();
        if (!FGuesses.empty() && FGuesses.front()->Start == next) {
            if (Live->AtBoundary()) {
                FCheck = adler32_combine(FCheck, Live->Check(), z_off_t(Live->Length()));
                return TakeGuess();
            }
            Discard();
        }
        TPieceRef p = FSource.Piece(next);
        if (!p) {
            FUnfinished = std::move(Live);
            return nullptr;
        }
        // Bands are guessed ahead once the stream has shown one: a stream whose first
        // band holds the picture gains nothing from reading on.
        FBanded = FBanded || (p->StartsBand && Live->AtBoundary());
        Live->Append(std::move(p));
        Schedule();
        return Live;
    }
    std::unique_ptr<TInflater> TakeGuess()
    {
        std::unique_ptr<TGuess> g = std::move(FGuesses.front());
        FGuesses.pop_front();
        FPool->Wait(*g, true);
        std::unique_ptr<TInflater> t = std::move(g->T);
        const bool failed = g->Failed || !t || (t->Status != Z_OK && t->Status != Z_STREAM_END);
        if (failed)
            t = Begin(g->Start, FRawBits); // with the window, on through the pieces as needed
        Schedule();
        return t;
    }
    void Discard()
    {
        FPool->Wait(*FGuesses.front(), false);
        FGuesses.pop_front();
    }
    // Reads ahead within the bounds, and queues a guess for each band start it meets.
    void Schedule()
    {
        if (!FBanded || FRows.Complete())
            return;
        while (FGuesses.size() + (FPending ? 1 : 0) < FMostGuesses && FSource.HeldBytes() < ReadAheadBytes &&
               !FSource.Ended()) {
            const size_t i = FSource.Read();
            TPieceRef p = FSource.Piece(i);
            if (!p)
                break;
            if (p->StartsBand) {
                Post();
                FPending = std::make_unique<TGuess>();
                FPending->Start = i;
                FPending->T = std::make_unique<TInflater>();
                FPending->T->Next = i;
            }
            if (!FPending)
                break; // the live band's own: read ahead only for the guesses
            FPending->T->Append(std::move(p));
        }
        Post();
    }
    void Post()
    {
        if (!FPending)
            return;
        FGuesses.push_back(std::move(FPending));
        FPool->Post(*FGuesses.back());
    }
    // On a worker: nothing may escape it, and it takes no more than the rows still need.
    void RunGuess(TGuess& G)
    {
        try {
            if (!G.T->Start(FRawBits, nullptr, 0)) {
                G.Failed = true;
                return;
            }
            // The guesses in flight together inflate no more than the rows still need.
            const size_t fed = FFed.load(std::memory_order_relaxed);
            const size_t need = FImageBytes - std::min(fed, FImageBytes);
            G.T->Run(std::min(GuessOutBytes, need / FMostGuesses));
        } catch (...) {
            G.Failed = true;
        }
    }
    void Drain(TInflater& t)
    {
        for (;;) {
            Take(t.Out.data(), t.Used);
            t.Used = 0;
            if (FStopped || t.Finished() || !t.Z)
                return;
            if (t.Out.size() > StreamingBytes) {
                t.Out.Release();
                t.Out.Resize(StreamingBytes);
            }
            // Once the rows are complete a single byte more tells the data goes on.
            t.Run(FRows.Complete() ? 1 : StreamingBytes);
        }
    }
    void Take(const uint8_t* Data, size_t Count)
    {
        if (Count == 0)
            return;
        const size_t fed = FFed.load(std::memory_order_relaxed);
        const size_t n = std::min(Count, FImageBytes - fed);
        if (n < Count) {
            // More data than the rows take: libpng warns and reads no further.
            FTooMuch = FStopped = true;
        }
        if (n > 0 && !FRows.Feed(Data, n))
            FStopped = true;
        FFed.store(fed + n, std::memory_order_relaxed);
        if (FStopped)
            return;
        if (Count >= WindowBytes) {
            FWindow.assign(Data + Count - WindowBytes, Data + Count);
        } else {
            FWindow.insert(FWindow.end(), Data, Data + Count);
            if (FWindow.size() > WindowBytes)
                FWindow.erase(FWindow.begin(), FWindow.end() - long(WindowBytes));
        }
    }
    // How the live stream ended.
    void Finish(TInflater& t)
    {
        FStatus = t.Status;
        FEndChunk = t.CurrentChunk();
        if (FTooMuch || FStatus == Z_OK)
            return;
        if (FStatus != Z_STREAM_END) {
            FAdlerBad = !t.Raw && t.Z && t.Z->msg && std::strcmp(t.Z->msg, "incorrect data check") == 0;
            return;
        }
        if (!t.Raw)
            return; // zlib checked its own
        // A raw band's stream ends in the zlib trailer: the Adler-32 of all the data.
        uint8_t trailer[4];
        size_t got = std::min<size_t>(t.Z->avail_in, 4);
        std::memcpy(trailer, t.Z->next_in, got);
        for (size_t i = t.Taken; got < 4; ++i) {
            TPieceRef p = i < t.Pieces.size() ? t.Pieces[i] : FSource.Piece(t.Next + (i - t.Pieces.size()));
            if (!p) {
                FEndChunk = -1;
                return;
            }
            const size_t n = std::min(p->Bytes.size(), 4 - got);
            std::memcpy(trailer + got, p->Bytes.data(), n);
            got += n;
            if (n > 0)
                FEndChunk = int64_t(p->Chunk);
        }
        FAdlerBad = uint32_t(adler32_combine(FCheck, t.Adler, z_off_t(t.Length()))) != GetU32BE(trailer);
    }

    TIdatSource& FSource;
    TRowMaker& FRows;
    size_t FImageBytes;
    std::atomic<size_t> FFed{0};
    int FRawBits = -15;
    std::vector<uint8_t> FWindow;
    uLong FCheck = 1; // the Adler-32 of the bands before the live one
    std::deque<std::unique_ptr<TGuess>> FGuesses;
    std::unique_ptr<TGuess> FPending; // being gathered by Schedule
    size_t FMostGuesses = size_t(2 * (BandWorkerThreads() + 1));
    std::unique_ptr<TGuessPool> FPool;
    std::unique_ptr<TInflater> FUnfinished;
    bool FBanded = false;
    bool FStopped = false;
    bool FTooMuch = false;
    bool FAdlerBad = false;
    int FStatus = Z_OK;
    int64_t FEndChunk = -1;
};

} // namespace

TPngBandCounters PngBandCounters()
{
    const TCounters& c = Counters();
    TPngBandCounters r;
    r.InflatedBytes = c.Inflated.load();
    r.PeakBufferBytes = c.PeakHeld.load();
    r.WrittenBandBytes = c.WrittenBandBytes.load();
    return r;
}

void ResetPngBandCounters()
{
    TCounters& c = Counters();
    c.Inflated = 0;
    c.PeakHeld = c.Held.load();
    c.WrittenBandBytes = 0;
}

void NoteWrittenBandBytes(uint64_t Bytes) { Counters().WrittenBandBytes.fetch_add(Bytes, std::memory_order_relaxed); }

TPngIdatResult ReadRgbIdat(TStream& Stream, const TPngIdatJob& Job, TBitmap& Bitmap, TProgressRec& Progress)
{
    TIdatSource source(Stream, Job);
    TRowMaker rows(Bitmap, Progress, Job.Width, Job.Height);
    TIdatDecoder decoder(source, rows, (1 + size_t(Job.Width) * 3) * size_t(Job.Height));
    decoder.Decode();
    TPngIdatResult r;
    r.RowsOk = rows.Complete() && !rows.Failed() && decoder.EndsWell() && rows.CountLastRow();
    if (r.RowsOk)
        source.SkipRest();
    r.EndOk = r.RowsOk && !source.FailsAfter && source.HasTail && ReadTail(Stream, Job, source.TailHeader);
    return r;
}

} // namespace kv
