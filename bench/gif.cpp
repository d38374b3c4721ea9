// GIF codec speed: LZW decode and encode of a 4000 x 3000 8-bit picture against giflib
// on the same file and pixels, the whole picture load/save through TGIFImage, and the
// "Auto" save of a 12-megapixel 24-bit photo (histogram reduction, then LZW). The save and
// giflib's encode run into fresh memory ("first") and into memory held from the run before
// ("repeated"), each side alike. Prints
// giflib time / our time for decode and encode (above 1.0: we are faster).
#include "bench/BenchReporter.h"
#include "bench/GifBenchCommon.h"
#include "formats/KvGIF.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#ifdef KV_HAVE_GIFLIB
#include <gif_lib.h>
#endif

using namespace kv;
using namespace kvbench;

namespace {

void BM_KvDecodeLZW(benchmark::State& state)
{
    const auto& data = KvImageData();
    std::vector<uint8_t> block(size_t(W) * H);
    for (auto _ : state) {
        bool truncated = false;
        DecodeLZW(data.data(), int64_t(data.size()), TGIFBitmapInfo{W, H, 8}, false, nullptr, nullptr, truncated,
                  block.data(), 8, true);
        benchmark::DoNotOptimize(block.data());
    }
}

void BM_KvEncodeLZW(benchmark::State& state)
{
    for (auto _ : state) {
        TMemoryStream s;
        EncodeLZW(s, TGIFBitmapInfo{W, H, 8}, false, nullptr, nullptr, Pixels8().data());
        benchmark::DoNotOptimize(s.Memory());
    }
}

void BM_KvLoadPicture(benchmark::State& state)
{
    for (auto _ : state) {
        TGIFImage gif;
        TReadOnlyMemoryStream s(GIFFile().data(), int64_t(GIFFile().size()));
        gif.LoadFromStream(s);
        benchmark::DoNotOptimize(gif.Width());
    }
}

// What a picture save costs: the bitmap into a GIF picture, then the stream written.
// Argument 0: into fresh memory (every held block given back first, as a first save of
// a new size); 1: into the blocks the previous save gave back.
void TimeSavePicture(benchmark::State& state, TBitmap& bmp)
{
    const TMemoryState mem = state.range(0) == 0 ? TMemoryState::First : TMemoryState::Repeated;
    for (auto _ : state) {
        if (mem == TMemoryState::First) {
            state.PauseTiming();
            DropHeldMemory();
            state.ResumeTiming();
        }
        TGIFImage gif;
        gif.Assign(&bmp);
        TMemoryStream s;
        gif.SaveToStream(s);
        benchmark::DoNotOptimize(s.Memory());
    }
}

void BM_KvSavePicture8(benchmark::State& state)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf8bit);
    std::vector<TPaletteEntry> pal(256);
    for (int i = 0; i < 256; ++i)
        pal[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    bmp.SetPaletteEntries(pal);
    bmp.SetSize(W, H);
    for (int32_t y = 0; y < H; ++y)
        std::memcpy(bmp.ScanLine(y), Pixels8().data() + size_t(y) * W, size_t(W));
    TimeSavePicture(state, bmp);
}

// The editor's GIF "Auto" save of a 24-bit photo: reduction method 0, then LZW.
void BM_KvAutoSave24(benchmark::State& state)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(W, H);
    std::mt19937 rng(9);
    for (int32_t y = 0; y < H; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int32_t x = 0; x < W; ++x) {
            const int n = int(rng() % 7) - 3;
            row[3 * x] = uint8_t(std::clamp(x * 255 / W + n, 0, 255));
            row[3 * x + 1] = uint8_t(std::clamp(y * 255 / H + n, 0, 255));
            row[3 * x + 2] = uint8_t(std::clamp((x + y) * 255 / (W + H) + ((x / 500) % 2) * 60 + n, 0, 255));
        }
    }
    TimeSavePicture(state, bmp);
}

#ifdef KV_HAVE_GIFLIB
void BM_GiflibDecode(benchmark::State& state)
{
    for (auto _ : state)
        if (!GiflibDecode(GIFFile())) {
            state.SkipWithError("giflib could not read the file");
            break;
        }
}

// giflib's output into a block of a memory state, as ours goes into a memory stream.
struct TBlockWriter {
    uint8_t* Data;
    size_t Size, Pos;
};

int WriteToBlock(GifFileType* gif, const GifByteType* buf, int len)
{
    auto* w = static_cast<TBlockWriter*>(gif->UserData);
    if (size_t(len) > w->Size - w->Pos)
        return 0;
    std::memcpy(w->Data + w->Pos, buf, size_t(len));
    w->Pos += size_t(len);
    return len;
}

// Argument as for the whole-picture save: 0 into a freshly mapped block, 1 into a held one.
void BM_GiflibEncode(benchmark::State& state)
{
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] = GifColorType{GifByteType(i), GifByteType(i), GifByteType(i)};
    std::vector<GifPixelType> row(static_cast<size_t>(W));
    // Room for the most LZW can write (twelve bits a pixel, a length byte every 255) and
    // the header: giflib's codes need not pack as tightly as ours.
    const size_t bytes = size_t(W) * H * 3 / 2 * 256 / 255 + (64 << 10);
    TReferenceTarget target(bytes, state.range(0) == 0 ? TMemoryState::First : TMemoryState::Repeated);
    for (auto _ : state) {
        state.PauseTiming();
        TBlockWriter out{target.Next(), bytes, 0};
        state.ResumeTiming();
        int error = 0;
        GifFileType* gif = EGifOpen(&out, WriteToBlock, &error);
        ColorMapObject* map = GifMakeMapObject(256, colors);
        EGifPutScreenDesc(gif, W, H, 8, 0, map);
        EGifPutImageDesc(gif, 0, 0, W, H, false, nullptr);
        for (int32_t y = 0; y < H; ++y) {
            std::memcpy(row.data(), Pixels8().data() + size_t(y) * W, size_t(W));
            EGifPutLine(gif, row.data(), W);
        }
        const bool closed = EGifCloseFile(gif, &error) == GIF_OK;
        GifFreeMapObject(map);
        if (!closed) {
            state.SkipWithError("giflib could not write the picture");
            break;
        }
        benchmark::DoNotOptimize(out.Data);
    }
}
#endif

} // namespace

BENCHMARK(BM_KvDecodeLZW)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KvEncodeLZW)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KvLoadPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KvSavePicture8)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KvAutoSave24)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
#ifdef KV_HAVE_GIFLIB
BENCHMARK(BM_GiflibDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GiflibEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char** argv)
{
    return RunBenchmarks(argc, argv, [](const TRatioReporter& reporter) {
        std::printf("GIF data of the 4000 x 3000 picture: %zu bytes\n", KvImageData().size());
#ifdef KV_HAVE_GIFLIB
        const double kd = reporter.MedianOf("BM_KvDecodeLZW"), ke = reporter.MedianOf("BM_KvEncodeLZW");
        const double kl = reporter.MedianOf("BM_KvLoadPicture"), ks = reporter.Median("BM_KvSavePicture8/1");
        const double gd = reporter.MedianOf("BM_GiflibDecode"), ge = reporter.Median("BM_GiflibEncode/1");
        if (kd > 0 && gd > 0)
            std::printf("decode ratio (giflib / ours): LZW %.2f, whole picture %.2f, one thread each\n", gd / kd,
                        kl > 0 ? gd / kl : 0.0);
        if (ke > 0 && ge > 0)
            std::printf("encode ratio (giflib / ours): LZW %.2f, whole picture %.2f, one thread each\n", ge / ke,
                        ks > 0 ? ge / ks : 0.0);
        for (const TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated}) {
            const std::string arg = mem == TMemoryState::First ? "/0" : "/1";
            PrintComparison(std::string("whole-picture encode ") + StateName(mem),
                            reporter.Median("BM_KvSavePicture8" + arg), reporter.Median("BM_GiflibEncode" + arg), 1, 1,
                            1.0);
        }
#else
        std::printf("giflib not found: no ratios\n");
#endif
        const double autoSave = reporter.MedianOf("BM_KvAutoSave24");
        if (autoSave > 0)
            std::printf("Auto save of a 12-megapixel 24-bit photo: %.0f ms\n", autoSave);
    });
}
