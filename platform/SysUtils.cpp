#include "platform/SysUtils.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <vector>

#include <sys/mman.h>
#include <time.h>

namespace kv {

void Abort() { throw EAbort("Operation aborted"); }

int32_t MulDiv(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        return -1;
    int64_t product = int64_t(a) * int64_t(b);
    int64_t num = product < 0 ? -product : product;
    int64_t den = c < 0 ? -int64_t(c) : int64_t(c);
    int64_t q = (num + den / 2) / den;
    bool negative = (product < 0) != (c < 0);
    int64_t result = negative ? -q : q;
    if (result > INT32_MAX || result < INT32_MIN)
        return -1;
    return int32_t(result);
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

static bool ParseInt(const std::string& text, int32_t& out)
{
    std::string s = Trim(text);
    if (s.empty())
        return false;
    size_t i = 0;
    bool neg = false;
    if (s[i] == '+' || s[i] == '-') {
        neg = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size())
        return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        int d;
        char ch = s[i];
        if (ch >= '0' && ch <= '9')
            d = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f')
            d = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F')
            d = ch - 'A' + 10;
        else
            return false;
        v = v * base + d;
        if (v >= (int64_t(1) << 32))
            return false;
    }
    if (neg)
        v = -v;
    if (base == 10 && (v > INT32_MAX || v < INT32_MIN))
        return false;
    out = int32_t(uint32_t(v));
    return true;
}

int32_t StrToInt(const std::string& s)
{
    int32_t v;
    if (!ParseInt(s, v))
        throw EConvertError("'" + s + "' is not a valid integer value");
    return v;
}

int32_t StrToIntDef(const std::string& s, int32_t defaultValue)
{
    int32_t v;
    return ParseInt(s, v) ? v : defaultValue;
}

std::string UpperCase(const std::string& s)
{
    std::string r = s;
    for (auto& ch : r)
        if (ch >= 'a' && ch <= 'z')
            ch = char(ch - 'a' + 'A');
    return r;
}

std::string LowerCase(const std::string& s)
{
    std::string r = s;
    for (auto& ch : r)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    return r;
}

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && uint8_t(s[b]) <= ' ')
        ++b;
    while (e > b && uint8_t(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

static size_t LastDelimiter(const std::string& s)
{
    size_t p = s.find_last_of("/\\");
    return p;
}

std::string ExtractFileExt(const std::string& fileName)
{
    size_t slash = LastDelimiter(fileName);
    size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    return fileName.substr(dot);
}

std::string ExtractFileName(const std::string& fileName)
{
    size_t slash = LastDelimiter(fileName);
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

std::string ExtractFilePath(const std::string& fileName)
{
    size_t slash = LastDelimiter(fileName);
    return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& ext)
{
    std::string old = ExtractFileExt(fileName);
    return fileName.substr(0, fileName.size() - old.size()) + ext;
}

bool FileExists(const std::string& fileName)
{
    std::error_code ec;
    return !fileName.empty() && std::filesystem::is_regular_file(fileName, ec);
}

bool DirectoryExists(const std::string& dir)
{
    std::error_code ec;
    return !dir.empty() && std::filesystem::is_directory(dir, ec);
}

bool DeleteFile(const std::string& fileName)
{
    std::error_code ec;
    return std::filesystem::remove(fileName, ec);
}

std::string IncludeTrailingPathDelimiter(const std::string& dir)
{
    if (!dir.empty() && dir.back() == '/')
        return dir;
    return dir + "/";
}

uint32_t GetTickCount()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool PixelBufferSizeOk(int64_t width, int64_t height)
{
    return width >= 0 && height >= 0 && width <= MaxPixelSide && height <= MaxPixelSide &&
           width * height <= MaxPixelCount;
}

std::string PixelBufferSizeMessage(int64_t width, int64_t height, const char* what)
{
    return std::string(what) + ": picture size " + std::to_string(width) + " x " + std::to_string(height) +
           " is too large";
}

void CheckPixelBufferSize(int64_t width, int64_t height, const char* what)
{
    if (!PixelBufferSizeOk(width, height))
        throw EOutOfResources(PixelBufferSizeMessage(width, height, what));
}

namespace {

// Blocks from this size up are mapped straight from the kernel: its pages come zeroed,
// so no second pass touches them, and a picture's block goes back to the system whole
// when it is freed. Smaller blocks come from the heap and are cleared by hand.
constexpr size_t MappedBlockMin = size_t(256) << 10;
// Blocks from this size up may take large pages: below it a block holds few whole.
constexpr size_t LargePageBlockMin = size_t(4) << 20;
constexpr size_t LargePageBytes = size_t(2) << 20;
// The pixels start this far into the block, past the header: 64-byte aligned rows for
// the SIMD paths, whichever road the block came by.
constexpr size_t HeaderBytes = 64;

struct TBlockHeader {
    void* Base;
    size_t MappedBytes; // 0 for a heap block
};
static_assert(sizeof(TBlockHeader) <= HeaderBytes);

TBlockHeader* HeaderOf(uint8_t* Pixels) { return reinterpret_cast<TBlockHeader*>(Pixels - HeaderBytes); }

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Hands out every page of a block its caller overwrites whole in one call rather than one
// fault at a time, in large pages while they come cheap. A 2 MiB page costs an eighth of
// its 512 small ones when its memory was freed lately, but under a virtual machine whose
// host takes back what the guest has left free for a while, a large page comes from just
// that memory and costs the host 3-5 ms to bring back, four times the small pages: small
// free blocks are never given back and cost the same whatever their age. So the block is
// filled a large page at a time while each comes in under the small pages' cost, and the
// rest in small pages from the first one that does not (on the thread's own clock, which
// a busy machine's other work does not run).
//
// Once one has come dear, the blocks that follow for a while skip the trial: the host
// takes memory back in the background, and a command's blocks, taken one after another,
// would each pay for a dear page (5-7 ms) before taking small ones.
std::atomic<int64_t> GLargePagesDearUntilMs{0};

int64_t SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void PopulateBlock(uint8_t* Base, size_t Bytes)
{
    constexpr int64_t DearForMs = 2000; // the host takes back what stays free about a second
    if (Bytes < LargePageBlockMin || SteadyMs() < GLargePagesDearUntilMs.load(std::memory_order_relaxed)) {
        madvise(Base, Bytes, MADV_POPULATE_WRITE);
        return;
    }
    constexpr size_t Page = LargePageBytes;
    constexpr double SlowPageMs = 1.0; // 512 small pages' worth
    madvise(Base, Bytes, MADV_HUGEPAGE);
    uint8_t* const end = Base + Bytes;
    uint8_t* at = Base;
    while (at < end) {
        uint8_t* next = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(at) + Page) & ~(Page - 1));
        next = std::min(next, end);
        const double t0 = ThreadCpuMs();
        madvise(at, size_t(next - at), MADV_POPULATE_WRITE);
        // Only a whole large page says what large pages cost: the block's ragged ends
        // come in small ones.
        const bool slow = size_t(next - at) == Page && ThreadCpuMs() - t0 > SlowPageMs;
        at = next;
        if (!slow)
            continue;
        GLargePagesDearUntilMs.store(SteadyMs() + DearForMs, std::memory_order_relaxed);
        if (at < end) {
            madvise(at, size_t(end - at), MADV_NOHUGEPAGE);
            madvise(at, size_t(end - at), MADV_POPULATE_WRITE);
        }
        break;
    }
}

uint8_t* MapZeroedBlock(size_t Bytes, bool Populate)
{
    void* base = mmap(nullptr, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    // A block written little by little gets small pages: its faults cannot be watched
    // for cost the way a filled block's are, and small pages never meet memory the host
    // has taken back (see PopulateBlock).
    if (Populate)
        PopulateBlock(static_cast<uint8_t*>(base), Bytes);
    auto* header = static_cast<TBlockHeader*>(base);
    *header = TBlockHeader{base, Bytes};
    return static_cast<uint8_t*>(base) + HeaderBytes;
}

uint8_t* HeapZeroedBlock(size_t Bytes)
{
    void* base = std::aligned_alloc(HeaderBytes, Bytes);
    if (!base)
        return nullptr;
    std::memset(base, 0, Bytes);
    auto* header = static_cast<TBlockHeader*>(base);
    *header = TBlockHeader{base, 0};
    return static_cast<uint8_t*>(base) + HeaderBytes;
}

// Recently freed mapped blocks are kept for the next allocation of about the same size:
// replacing a picture by a new one of its size (every resize, every effect that builds a
// fresh result) would otherwise fault in and clear every page twice. A document is
// replaced whole the same way: a project load or a reopen builds the new background and
// every picture layer before the old ones are freed (a bad file must leave the open
// document alone), so the next one can only meet held blocks if the cache keeps a
// document's worth of them, not a handful; with four slots a ten-layer project came back
// into fresh pages for most of its layers and loaded at a quarter of a plain read's speed
// again and again. The slot count is therefore sized for a document's layers; what is held
// stays bounded by the byte cap (a quarter of a gigabyte, a few pictures' worth beside the
// documents the program edits) and by the age limit: a block nobody asked for within a few
// seconds goes back to the system at the next allocation, free or idle pass.
constexpr size_t CachedBlocksMax = 32;
constexpr size_t CachedBytesMax = size_t(256) << 20;
constexpr auto CachedBlockLifetime = std::chrono::seconds(5);

using TCacheClock = std::chrono::steady_clock;

struct TCachedBlock {
    TBlockHeader Block;
    TCacheClock::time_point Freed;
};

struct TBlockCache {
    std::mutex Lock;
    TCachedBlock Blocks[CachedBlocksMax] = {}; // oldest first
    size_t Count = 0;
    size_t Bytes = 0;

    // Moves the oldest kept block to Dropped. Lock held.
    void DropOldest(std::vector<TBlockHeader>& Dropped)
    {
        Dropped.push_back(Blocks[0].Block);
        Bytes -= Blocks[0].Block.MappedBytes;
        std::move(Blocks + 1, Blocks + Count, Blocks);
        --Count;
    }

    // Moves the blocks kept past their lifetime to Dropped. Lock held.
    void DropStale(TCacheClock::time_point Now, std::vector<TBlockHeader>& Dropped)
    {
        while (Count > 0 && Now - Blocks[0].Freed > CachedBlockLifetime)
            DropOldest(Dropped);
    }

    static void Unmap(const std::vector<TBlockHeader>& Dropped)
    {
        for (const TBlockHeader& d : Dropped)
            munmap(d.Base, d.MappedBytes);
    }

    // The smallest kept block at least Bytes long and not much longer, or null. Best fit:
    // a document's layers differ in size by less than the slack, and the first fit would
    // hand a larger layer's block to a smaller one, leaving the larger one none.
    uint8_t* Take(size_t Wanted)
    {
        std::vector<TBlockHeader> dropped;
        TBlockHeader found{};
        {
            std::lock_guard<std::mutex> guard(Lock);
            DropStale(TCacheClock::now(), dropped);
            size_t best = Count;
            for (size_t i = 0; i < Count; ++i) {
                const size_t have = Blocks[i].Block.MappedBytes;
                if (have < Wanted || have - Wanted > Wanted / 4)
                    continue;
                if (best == Count || have < Blocks[best].Block.MappedBytes)
                    best = i;
            }
            if (best < Count) {
                found = Blocks[best].Block;
                std::move(Blocks + best + 1, Blocks + Count, Blocks + best);
                --Count;
                Bytes -= found.MappedBytes;
            }
        }
        Unmap(dropped);
        if (!found.Base)
            return nullptr;
        auto* header = static_cast<TBlockHeader*>(found.Base);
        *header = found;
        return static_cast<uint8_t*>(found.Base) + HeaderBytes;
    }

    // Keeps the block, dropping the stale ones and then the oldest ones while over the
    // caps; false when the block alone is over them.
    bool Keep(const TBlockHeader& Block)
    {
        if (Block.MappedBytes > CachedBytesMax)
            return false;
        std::vector<TBlockHeader> dropped;
        {
            std::lock_guard<std::mutex> guard(Lock);
            const TCacheClock::time_point now = TCacheClock::now();
            DropStale(now, dropped);
            while (Count > 0 && (Count == CachedBlocksMax || Bytes + Block.MappedBytes > CachedBytesMax))
                DropOldest(dropped);
            Blocks[Count++] = TCachedBlock{Block, now};
            Bytes += Block.MappedBytes;
        }
        Unmap(dropped);
        return true;
    }

    // Gives back the stale blocks; true while some are still kept.
    bool ReleaseStale()
    {
        std::vector<TBlockHeader> dropped;
        bool left;
        {
            std::lock_guard<std::mutex> guard(Lock);
            DropStale(TCacheClock::now(), dropped);
            left = Count > 0;
        }
        Unmap(dropped);
        return left;
    }

    void ReleaseAll()
    {
        std::vector<TBlockHeader> dropped;
        {
            std::lock_guard<std::mutex> guard(Lock);
            while (Count > 0)
                DropOldest(dropped);
        }
        Unmap(dropped);
    }
};

TBlockCache& BlockCache()
{
    // Never destroyed: pictures held by other statics may be freed after it would be.
    static TBlockCache* cache = new TBlockCache;
    return *cache;
}

} // namespace

void ReleaseCachedPixelBuffers() { BlockCache().ReleaseAll(); }

bool ReleaseStaleCachedPixelBuffers() { return BlockCache().ReleaseStale(); }

int64_t CachedPixelBufferLifetimeMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(CachedBlockLifetime).count();
}

namespace {

// How a new block starts: cleared, overwritten whole by its caller at once, or written
// little by little from the front (a growing buffer, most of whose pages may never be
// touched: fetching them all at once would cost what it saves).
enum class TBlockStart { Zeroed, Overwritten, Grown };

uint8_t* AllocBlock(size_t bytes, TBlockStart start)
{
    const size_t size = (bytes + HeaderBytes + HeaderBytes - 1) & ~(HeaderBytes - 1);
    if (size < MappedBlockMin)
        return HeapZeroedBlock(size);
    uint8_t* p = BlockCache().Take(size);
    if (p && start == TBlockStart::Zeroed)
        std::memset(p, 0, bytes);
    if (!p)
        p = MapZeroedBlock(size, start == TBlockStart::Overwritten);
    return p;
}

} // namespace

uint8_t* AllocPixelBuffer(int64_t width, int64_t height, int64_t bytesPerRow, const char* what, TPixelFill fill)
{
    CheckPixelBufferSize(width, height, what);
    int64_t bytes = bytesPerRow * height;
    if (bytesPerRow < 0 || bytes < 0 || bytes > MaxPixelCount * 8)
        throw EOutOfResources(std::string(what) + ": buffer too large");
    if (bytes == 0)
        return nullptr;
    uint8_t* p = AllocBlock(size_t(bytes), fill == TPixelFill::Zeroed ? TBlockStart::Zeroed : TBlockStart::Overwritten);
    if (!p)
        throw EOutOfResources(std::string(what));
    return p;
}

uint8_t* AllocGrowingBlock(size_t bytes)
{
    uint8_t* p = bytes > 0 ? AllocBlock(bytes, TBlockStart::Grown) : nullptr;
    if (!p)
        throw std::bad_alloc();
    return p;
}

void FreePixelBuffer(uint8_t* buffer)
{
    if (!buffer)
        return;
    const TBlockHeader header = *HeaderOf(buffer);
    if (header.MappedBytes) {
        if (!BlockCache().Keep(header))
            munmap(header.Base, header.MappedBytes);
    } else
        std::free(header.Base);
}

} // namespace kv
