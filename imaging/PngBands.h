// Large PNG pictures on several threads. The writer cuts the rows into bands that
// deflate independently, each ended on a byte boundary, and the reader inflates such
// bands side by side, with libpng's results for any other file, cut or damaged ones
// included. Plain C++ over zlib: libpng still reads and writes the other chunks.
#pragma once

#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kv {

// Runs jobs 0..Count-1 on worker threads, claimed in order and at most a few past the
// last one released, which bounds the memory their results hold. The caller waits for
// each in turn and runs jobs itself while it waits, so no thread at all still works.
class TOrderedWorkers {
public:
    // Run(k) fills the caller's own result k; it must not throw.
    TOrderedWorkers(int32_t Count, std::function<void(int32_t)> Run);
    ~TOrderedWorkers();
    TOrderedWorkers(const TOrderedWorkers&) = delete;
    TOrderedWorkers& operator=(const TOrderedWorkers&) = delete;

    void Wait(int32_t Job);
    // The caller is done with the result of Job and every job before it.
    void Release(int32_t Job);

private:
    bool CanClaim() const { return FNext < FCount && FNext < FReleased + FAhead; }
    void Work();
    void RunNext(std::unique_lock<std::mutex>& Lock);

    std::function<void(int32_t)> FRun;
    int32_t FCount = 0;
    int32_t FNext = 0;
    int32_t FReleased = 0;
    int32_t FAhead = 2;
    std::vector<uint8_t> FDone;
    bool FStop = false;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::thread> FThreads;
};

// The Paeth filter's predictor of a sample from its left (A), upper (B) and upper-left (C)
// neighbours, for the band writer and the band reader alike. The distances from the
// estimate A + B - C, each written without it.
inline uint8_t PaethPredictor(int A, int B, int C)
{
    const int pa = std::abs(B - C), pb = std::abs(A - C), pc = std::abs(A + B - 2 * C);
    return uint8_t(pa <= pb && pa <= pc ? A : pb <= pc ? B : C);
}

// Threads a band job may use besides the caller's.
int32_t BandWorkerThreads();

struct TPngIdatResult {
    bool RowsOk = false; // every row read (the rows read before a failure are in the bitmap)
    bool EndOk = false;  // and the rest of the file up to IEND as libpng accepts it
};

struct TPngIdatJob {
    int32_t Width = 0, Height = 0;
    uint32_t FirstLength = 0; // of the first IDAT, whose chunk header is already read
    int64_t ChunkLimit = 0;   // the largest chunk libpng was allowed to allocate
};

// The image data of a non-interlaced 8-bit RGB PNG into the 24-bit Bitmap of its size,
// the stream just past the first IDAT's chunk header; reads on to the end of IEND.
// Rows come as libpng would give them: Progress counts and reports each and may abort.
TPngIdatResult ReadRgbIdat(TStream& Stream, const TPngIdatJob& Job, TBitmap& Bitmap, TProgressRec& Progress);

// What the band reader and writer did since the last reset, for tests that bound their
// work: the bytes inflated, the most bytes the reader's buffers held at once beside the
// bitmap (compressed data read ahead, inflated data not yet in rows), and the bytes
// that bands already written still held.
struct TPngBandCounters {
    uint64_t InflatedBytes = 0;
    int64_t PeakBufferBytes = 0;
    uint64_t WrittenBandBytes = 0;
};
TPngBandCounters PngBandCounters();
void ResetPngBandCounters();
// The band writer's part: what a band holds once it is written.
void NoteWrittenBandBytes(uint64_t Bytes);

} // namespace kv
