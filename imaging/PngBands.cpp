#include "imaging/PngBands.h"

#include "imaging/IEFilterIO.h"

#include <algorithm>
#include <cstring>
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
// that row needs data it cannot have. Reading every IDAT up front and stopping at the
// first that libpng would fail on leaves exactly the data its rows could come from.
// Bands after a byte-aligned flush (00 00 FF FF ending a chunk) are then inflated side by
// side without their history: a band that refers back before its start fails and is
// inflated again in order with the 32 KiB before it, so the result never depends on the
// guess.

namespace {

constexpr size_t IdatPieceBytes = 8192;
constexpr size_t WindowBytes = 32768;
constexpr size_t StreamingBytes = size_t(1) << 18;

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

struct TIdatChunk {
    size_t Offset = 0, Size = 0;
};

struct TIdatInput {
    std::vector<uint8_t> Bytes;
    std::vector<TIdatChunk> Chunks;
    // More data than Chunks hold cannot be had: a cut or damaged chunk, or a bad header.
    bool FailsAfter = false;
    // The last of Chunks is itself cut or damaged, which libpng finds when it leaves it.
    bool LastChunkBad = false;
    bool HasTail = false;
    uint8_t TailHeader[8] = {};
};

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

void ReadIdatChunks(TStream& Stream, const TPngIdatJob& Job, TIdatInput& In)
{
    // Room for the data a picture of this size usually has, never more than the stream holds.
    const int64_t usual = (1 + int64_t(Job.Width) * 3) * Job.Height + (int64_t(1) << 20);
    In.Bytes.reserve(size_t(std::clamp<int64_t>(IEBytesLeft(Stream), 0, usual)));
    uint32_t length = Job.FirstLength;
    for (;;) {
        const int64_t left = IEBytesLeft(Stream);
        const bool cut = int64_t(length) > left;
        const size_t usable = cut ? size_t(left) / IdatPieceBytes * IdatPieceBytes : length;
        TIdatChunk c{In.Bytes.size(), usable};
        In.Bytes.resize(c.Offset + usable);
        if (usable > 0 && !ReadExactly(Stream, In.Bytes.data() + c.Offset, int64_t(usable))) {
            In.Bytes.resize(c.Offset);
            In.FailsAfter = true;
            return;
        }
        In.Chunks.push_back(c);
        uint8_t crc[4];
        if (cut || !ReadExactly(Stream, crc, 4)) {
            In.FailsAfter = In.LastChunkBad = true;
            return;
        }
        if (uint32_t(ChunkCrc(reinterpret_cast<const uint8_t*>("IDAT"), In.Bytes.data() + c.Offset, usable)) !=
            GetU32BE(crc)) {
            In.FailsAfter = In.LastChunkBad = true;
            return;
        }
        uint8_t header[8];
        if (!ReadExactly(Stream, header, 8) || !CheckHeader(header, Job)) {
            In.FailsAfter = true;
            return;
        }
        if (std::memcmp(header + 4, "IDAT", 4) != 0) {
            std::memcpy(In.TailHeader, header, 8);
            In.HasTail = true;
            return;
        }
        length = GetU32BE(header);
    }
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

// One run of chunks inflated by one z_stream, resumable: Out takes what it gives.
struct TInflater {
    std::unique_ptr<z_stream> Z;
    const TIdatInput* In = nullptr;
    size_t Chunk = 0;    // the next chunk not yet handed to Z
    size_t EndChunk = 0; // one past the last chunk of the run
    bool Raw = false;
    int Status = Z_OK; // Z_OK while it has input left or used it all; Z_STREAM_END; an error
    std::vector<uint8_t> Out;
    size_t Used = 0;

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
        if (!Raw)
            inflateValidate(Z.get(), 0); // the chunk CRCs guard the data, as in the libpng reader
        if (DictionaryBytes > 0 && inflateSetDictionary(Z.get(), Dictionary, uInt(DictionaryBytes)) != Z_OK) {
            Status = Z_DATA_ERROR;
            return false;
        }
        return true;
    }
    bool Finished() const { return Status != Z_OK || (Chunk == EndChunk && (!Z || Z->avail_in == 0)); }
    // Whether the run used its input up between two blocks, on a byte boundary, before
    // the last block: the next chunk can then start a stream of its own.
    bool AtBoundary() const
    {
        return Z && Status == Z_OK && Chunk == EndChunk && Z->avail_in == 0 && (Z->data_type & 128) &&
               (Z->data_type & 64) == 0 && (Z->data_type & 63) == 0;
    }
    // The chunk holding the last byte the stream needs: for a raw band the zlib trailer's
    // four bytes come after its deflate data. -1 when the data runs out first.
    int64_t EndChunkIndex() const
    {
        if (!Z || Chunk == 0)
            return -1;
        size_t need = Raw && Status == Z_STREAM_END ? 4 : 0;
        if (Z->avail_in >= need)
            return int64_t(Chunk) - 1;
        need -= Z->avail_in;
        for (size_t c = Chunk; c < In->Chunks.size(); ++c) {
            if (In->Chunks[c].Size >= need)
                return int64_t(c);
            need -= In->Chunks[c].Size;
        }
        return -1;
    }
    // Inflates until the run is finished or Out holds Cap bytes.
    void Run(size_t Cap)
    {
        if (!Z)
            return;
        while (!Finished() && Used < Cap) {
            if (Z->avail_in == 0) {
                const TIdatChunk& c = In->Chunks[Chunk++];
                Z->next_in = const_cast<Bytef*>(In->Bytes.data() + c.Offset);
                Z->avail_in = uInt(c.Size);
                continue;
            }
            if (Out.size() - Used < 4096)
                Out.resize(std::min(Cap, std::max(Out.size() * 2, Used + 65536)));
            Z->next_out = Out.data() + Used;
            Z->avail_out = uInt(std::min(Out.size(), Cap) - Used);
            // Z_BLOCK on the run's last data stops right after a block, where AtBoundary looks.
            const int rc = inflate(Z.get(), Chunk == EndChunk ? Z_BLOCK : Z_NO_FLUSH);
            Used = size_t(Z->next_out - Out.data());
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

// The runs of chunks that may start a stream of their own: after a chunk that ends in
// the empty stored block of a flush.
std::vector<size_t> BandStarts(const TIdatInput& In)
{
    std::vector<size_t> starts{0};
    static const uint8_t flush[4] = {0, 0, 0xFF, 0xFF};
    for (size_t c = 1; c < In.Chunks.size(); ++c) {
        const size_t end = In.Chunks[c].Offset;
        if (end >= 6 && In.Chunks[c].Size > 0 && std::memcmp(In.Bytes.data() + end - 4, flush, 4) == 0)
            starts.push_back(c);
    }
    return starts;
}

// The inflated data in order, fed to the rows and kept as the window a band after it
// may need; tells how the deflate data ended.
class TIdatDecoder {
public:
    TIdatDecoder(const TIdatInput& In, TRowMaker& Rows, size_t ImageBytes)
        : FIn(In), FRows(Rows), FImageBytes(ImageBytes)
    {
        // The window size of the zlib header; a bad header fails the first band anyway.
        if (In.Bytes.size() >= 2 && (In.Bytes[0] & 0x0F) == 8 && (In.Bytes[0] >> 4) <= 7)
            FRawBits = -(8 + (In.Bytes[0] >> 4));
    }

    void Decode()
    {
        const std::vector<size_t> starts = BandStarts(FIn);
        const size_t bands = starts.size();
        auto endOf = [&](size_t b) { return b + 1 < bands ? starts[b + 1] : FIn.Chunks.size(); };
        std::vector<std::unique_ptr<TInflater>> guesses(bands);
        // Each band beyond the first is a guess: inflated on its own, as if a stream began.
        // Nothing may escape a worker: a guess that cannot even start is left empty.
        auto guess = [&](int32_t b) {
            try {
                auto t = std::make_unique<TInflater>();
                t->In = &FIn;
                t->Chunk = starts[size_t(b)];
                t->EndChunk = endOf(size_t(b));
                if (t->Start(b == 0 ? 0 : FRawBits, nullptr, 0))
                    t->Run(FImageBytes + 1);
                guesses[size_t(b)] = std::move(t);
            } catch (...) {
            }
        };
        std::unique_ptr<TOrderedWorkers> workers;
        if (bands > 1)
            workers = std::make_unique<TOrderedWorkers>(int32_t(bands), guess);
        std::unique_ptr<TInflater> live;
        for (size_t b = 0; b < bands && !FStopped; ++b) {
            if (live) {
                live->EndChunk = endOf(b); // the stream goes on through this band
            } else if (workers) {
                workers->Wait(int32_t(b));
                live = std::move(guesses[b]);
                const bool failed = !live || (live->Status != Z_OK && live->Status != Z_STREAM_END);
                if (failed && b > 0)
                    live = Redo(starts[b], endOf(b));
                else if (!live)
                    live = Redo(starts[b], endOf(b), 0);
            } else {
                live = Redo(0, endOf(b), 0);
            }
            Drain(*live);
            if (workers)
                workers->Release(int32_t(b));
            if (live->Status != Z_OK) {
                FStatus = live->Status;
                FEndChunk = live->EndChunkIndex();
                break;
            }
            if (live->AtBoundary())
                live.reset();
        }
    }
    // What libpng checks as it reads the last row: the deflate data ends (bad data past
    // the rows is only warned of) within the IDATs, and the chunk it ends in is sound.
    bool EndsWell() const
    {
        if (FStatus == Z_OK || FEndChunk < 0)
            return false;
        return !(FIn.LastChunkBad && size_t(FEndChunk) + 1 == FIn.Chunks.size());
    }

private:
    // A band whose guess failed, inflated again after the data before it.
    // The first band, whose guess could not start, inflates as a zlib stream again.
    std::unique_ptr<TInflater> Redo(size_t First, size_t End, int WindowBits)
    {
        auto t = std::make_unique<TInflater>();
        t->In = &FIn;
        t->Chunk = First;
        t->EndChunk = End;
        t->Start(WindowBits, FWindow.data(), WindowBits < 0 ? FWindow.size() : 0);
        return t;
    }
    std::unique_ptr<TInflater> Redo(size_t First, size_t End) { return Redo(First, End, FRawBits); }
    void Drain(TInflater& t)
    {
        for (;;) {
            Take(t.Out.data(), t.Used);
            t.Used = 0;
            if (FStopped || t.Finished() || !t.Z)
                return;
            if (t.Out.size() > StreamingBytes)
                t.Out = std::vector<uint8_t>(StreamingBytes);
            t.Run(StreamingBytes);
        }
    }
    void Take(const uint8_t* Data, size_t Count)
    {
        if (Count == 0)
            return;
        if (!FRows.Complete() && !FRows.Feed(Data, Count))
            FStopped = true;
        if (Count >= WindowBytes) {
            FWindow.assign(Data + Count - WindowBytes, Data + Count);
        } else {
            FWindow.insert(FWindow.end(), Data, Data + Count);
            if (FWindow.size() > WindowBytes)
                FWindow.erase(FWindow.begin(), FWindow.end() - long(WindowBytes));
        }
    }

    const TIdatInput& FIn;
    TRowMaker& FRows;
    size_t FImageBytes;
    int FRawBits = -15;
    std::vector<uint8_t> FWindow;
    bool FStopped = false;
    int FStatus = Z_OK;
    int64_t FEndChunk = -1;
};

} // namespace

TPngIdatResult ReadRgbIdat(TStream& Stream, const TPngIdatJob& Job, TBitmap& Bitmap, TProgressRec& Progress)
{
    TIdatInput in;
    ReadIdatChunks(Stream, Job, in);
    TRowMaker rows(Bitmap, Progress, Job.Width, Job.Height);
    TIdatDecoder decoder(in, rows, (1 + size_t(Job.Width) * 3) * size_t(Job.Height));
    decoder.Decode();
    TPngIdatResult r;
    r.RowsOk = rows.Complete() && !rows.Failed() && decoder.EndsWell() && rows.CountLastRow();
    r.EndOk = r.RowsOk && !in.FailsAfter && in.HasTail && ReadTail(Stream, Job, in.TailHeader);
    return r;
}

} // namespace kv
