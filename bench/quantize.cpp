// Colour quantizer speed and quality beside libimagequant: a picture reduced to 256
// colours and every pixel mapped to its index, as a paletted writer does it; prints
// libimagequant's median time divided by ours (above 1: we are faster), the threads each
// side used, and the PSNR of each result against the original.
//
// Inputs: a photo-like picture painted here (sky gradient, soft blobs of colour, noise)
// and a plasma fractal ImageMagick draws (bench/MagickInputs.h), each at 1000 x 750 and
// 2000 x 1500 (libimagequant takes seconds beyond that). Ours gets the 24-bit bitmap,
// libimagequant the same pixels as RGBA (its input form, made untimed); libimagequant
// runs without dithering at its default speed and quality, so neither side may refuse
// the picture, and both write one index byte per pixel.
//
// Each job has four lines (see bench/BenchReporter.h):
//   first       both index buffers fresh pages (a block mapped for the iteration, every
//               held freed block and the heap trimmed first), as a first save;
//   repeated    both into an index buffer held and written by the run before;
//   and each of those on one core: ours runs on one thread throughout, libimagequant on
//   its OpenMP threads (every core), so the "_onecore" lines hold both to the same
//   processor and libimagequant to one thread.
#include "bench/BenchReporter.h"
#include "bench/MagickInputs.h"
#include "imaging/Quantizer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <dlfcn.h>

#ifdef KV_HAVE_LIBIMAGEQUANT
#include <libimagequant.h>
#endif

using namespace kv;
using namespace kvbench;

namespace {

// Sky-like vertical gradient, a few soft blobs of colour, shading across, and noise.
std::vector<uint8_t> PaintPhotoBgr(int W, int H)
{
    std::vector<uint8_t> Bgr(size_t(W) * H * 3);
    std::mt19937 rng(12);
    std::normal_distribution<double> noise(0.0, 4.0);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    struct TBlob {
        double X, Y, R, Cr, Cg, Cb;
    } blobs[6];
    const double scale = W / 4000.0;
    for (TBlob& o : blobs)
        o = {u(rng) * W, u(rng) * H, (300 + u(rng) * 900) * scale, u(rng) * 255, u(rng) * 255, u(rng) * 255};
    for (int y = 0; y < H; ++y) {
        uint8_t* row = Bgr.data() + size_t(y) * W * 3;
        const double fy = double(y) / H;
        for (int x = 0; x < W; ++x) {
            const double fx = double(x) / W;
            double r = 70 + 120 * fy + 30 * std::sin(fx * 5), g = 110 + 80 * fy + 20 * fx, b = 200 - 90 * fy;
            for (const TBlob& o : blobs) {
                const double dx = x - o.X, dy = y - o.Y, w = std::exp(-(dx * dx + dy * dy) / (o.R * o.R));
                r += (o.Cr - r) * w;
                g += (o.Cg - g) * w;
                b += (o.Cb - b) * w;
            }
            row[3 * x] = uint8_t(std::clamp(b + noise(rng), 0.0, 255.0));
            row[3 * x + 1] = uint8_t(std::clamp(g + noise(rng), 0.0, 255.0));
            row[3 * x + 2] = uint8_t(std::clamp(r + noise(rng), 0.0, 255.0));
        }
    }
    return Bgr;
}

struct TInput {
    std::string Name;
    int W, H;
    bool Magick; // drawn by ImageMagick
    TBitmap Bitmap;
    std::vector<uint8_t> Rgba;
    bool Ready = false;
};

std::vector<std::unique_ptr<TInput>>& Inputs()
{
    static std::vector<std::unique_ptr<TInput>> inputs = [] {
        std::vector<std::unique_ptr<TInput>> v;
        auto add = [&v](const char* Kind, int W, int H, bool Magick) {
            auto in = std::make_unique<TInput>();
            in->Name = std::string(Kind) + "_" + std::to_string(W) + "x" + std::to_string(H);
            in->W = W;
            in->H = H;
            in->Magick = Magick;
            v.push_back(std::move(in));
        };
        add("photo", 1000, 750, false);
        add("photo", 2000, 1500, false);
#ifdef KV_HAVE_IMAGEMAGICK
        add("magick_plasma", 1000, 750, true);
        add("magick_plasma", 2000, 1500, true);
#endif
        return v;
    }();
    return inputs;
}

// Paints (or asks ImageMagick for) the picture the first time it is wanted.
TInput& Prepare(TInput& In)
{
    if (In.Ready)
        return In;
    std::vector<uint8_t> bgr;
#ifdef KV_HAVE_IMAGEMAGICK
    if (In.Magick)
        bgr = MagickPlasmaBgr(In.W, In.H);
#endif
    if (!In.Magick)
        bgr = PaintPhotoBgr(In.W, In.H);
    if (bgr.empty()) {
        std::fprintf(stderr, "%s: no picture\n", In.Name.c_str());
        std::exit(1);
    }
    In.Bitmap.SetPixelFormat(pf24bit);
    In.Bitmap.SetSize(In.W, In.H);
    In.Rgba.resize(size_t(In.W) * In.H * 4);
    for (int y = 0; y < In.H; ++y) {
        const uint8_t* p = bgr.data() + size_t(y) * In.W * 3;
        std::memcpy(In.Bitmap.ScanLine(y), p, size_t(In.W) * 3);
        uint8_t* d = In.Rgba.data() + size_t(y) * In.W * 4;
        for (int x = 0; x < In.W; ++x, p += 3, d += 4) {
            d[0] = p[2];
            d[1] = p[1];
            d[2] = p[0];
            d[3] = 255;
        }
    }
    In.Ready = true;
    return In;
}

// Peak signal-to-noise ratio of a result (one palette index per pixel) against the input.
double Psnr(const TInput& In, const uint8_t* Indexes, const TRGB* Palette)
{
    double sum = 0;
    for (int y = 0; y < In.H; ++y) {
        const uint8_t* p = In.Bitmap.ScanLine(y);
        const uint8_t* idx = Indexes + size_t(y) * In.W;
        for (int x = 0; x < In.W; ++x, p += 3) {
            const TRGB& c = Palette[idx[x]];
            const double db = p[0] - c.b, dg = p[1] - c.g, dr = p[2] - c.r;
            sum += db * db + dg * dg + dr * dr;
        }
    }
    const double mse = sum / (3.0 * In.W * In.H);
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

// What a paletted writer does: build the palette, then one lookup per pixel.
bool KvQuantize(const TInput& In, uint8_t* Indexes, TRGB* Palette)
{
    TIEQuantizer q(In.Bitmap, std::span<TRGB>(Palette, 256), 256, -1);
    for (int y = 0; y < In.H; ++y) {
        const uint8_t* p = In.Bitmap.ScanLine(y);
        uint8_t* idx = Indexes + size_t(y) * In.W;
        for (int x = 0; x < In.W; ++x, p += 3)
            idx[x] = uint8_t(q.QuantizerColorIndex(TRGB{p[0], p[1], p[2]}));
    }
    return true;
}

// libimagequant's OpenMP thread count, through the OpenMP runtime it brought into the
// process (found at run time: this program does not link it itself).
int OmpThreads()
{
    using TGet = int (*)();
    static const auto get = reinterpret_cast<TGet>(dlsym(RTLD_DEFAULT, "omp_get_max_threads"));
    return get ? get() : 1;
}

void SetOmpThreads(int N)
{
    using TSet = void (*)(int);
    static const auto set = reinterpret_cast<TSet>(dlsym(RTLD_DEFAULT, "omp_set_num_threads"));
    if (set)
        set(N);
}

// The OpenMP runtime's own count, read before any line changes it.
int AllOmpThreads()
{
    static const int n = OmpThreads();
    return n;
}

#ifdef KV_HAVE_LIBIMAGEQUANT
bool LiqQuantize(const TInput& In, uint8_t* Indexes, TRGB* Palette)
{
    liq_attr* attr = liq_attr_create();
    liq_image* image = liq_image_create_rgba(attr, In.Rgba.data(), In.W, In.H, 0);
    liq_result* result = nullptr;
    bool ok = image && liq_image_quantize(image, attr, &result) == LIQ_OK;
    if (ok) {
        liq_set_dithering_level(result, 0);
        ok = liq_write_remapped_image(result, image, Indexes, size_t(In.W) * In.H) == LIQ_OK;
        const liq_palette* pal = liq_get_palette(result);
        for (unsigned i = 0; ok && i < pal->count && i < 256; ++i)
            Palette[i] = CreateRGB(pal->entries[i].r, pal->entries[i].g, pal->entries[i].b);
        liq_result_destroy(result);
    }
    if (image)
        liq_image_destroy(image);
    liq_attr_destroy(attr);
    return ok;
}
#endif

using TQuantize = bool (*)(const TInput&, uint8_t*, TRGB*);

// One side of a line: the quantizer into an index buffer in the line's memory state.
void RunSide(benchmark::State& State, TInput& Input, TQuantize Quantize, TMemoryState Mem, bool OneCore)
{
    TInput& in = Prepare(Input);
    const size_t bytes = size_t(in.W) * in.H;
    std::unique_ptr<TOneCore> pin(OneCore ? new TOneCore : nullptr);
    SetOmpThreads(OneCore ? 1 : AllOmpThreads());
    TRGB palette[256] = {};
    std::unique_ptr<TReferenceBlock> held;
    if (Mem == TMemoryState::Repeated) {
        held = std::make_unique<TReferenceBlock>(bytes);
        held->Warm();
        Quantize(in, held->Data(), palette); // untimed, so that its freed blocks are held too
    }
    for (auto _ : State) {
        std::unique_ptr<TReferenceBlock> fresh;
        if (!held) {
            State.PauseTiming();
            DropHeldMemory();
            State.ResumeTiming();
            fresh = std::make_unique<TReferenceBlock>(bytes);
        }
        uint8_t* out = held ? held->Data() : fresh->Data();
        if (!out || !Quantize(in, out, palette)) {
            State.SkipWithError("quantizing failed");
            break;
        }
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        if (fresh) {
            State.PauseTiming(); // giving the pages back is not part of the job
            fresh.reset();
            State.ResumeTiming();
        }
    }
    SetOmpThreads(AllOmpThreads());
    State.SetItemsProcessed(State.iterations() * int64_t(bytes));
}

std::string LineName(const TInput& In, TMemoryState Mem, bool OneCore)
{
    return "Quantize256_" + In.Name + "_" + StateName(Mem) + (OneCore ? "_onecore" : "");
}

void RegisterJobs()
{
    for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated})
        for (bool oneCore : {false, true})
            for (auto& in : Inputs()) {
                TInput* input = in.get();
                const std::string name = LineName(*input, mem, oneCore);
                benchmark::RegisterBenchmark((name + "/Kelvane").c_str(),
                                             [=](benchmark::State& s) { RunSide(s, *input, KvQuantize, mem, oneCore); })
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime()
                    ->MinTime(0.3);
#ifdef KV_HAVE_LIBIMAGEQUANT
                benchmark::RegisterBenchmark(
                    (name + "/LibImageQuant").c_str(),
                    [=](benchmark::State& s) { RunSide(s, *input, LiqQuantize, mem, oneCore); })
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime()
                    ->MinTime(0.3);
#endif
            }
}

void PrintRatios(const TRatioReporter& Reporter)
{
#ifdef KV_HAVE_LIBIMAGEQUANT
    for (TMemoryState mem : {TMemoryState::First, TMemoryState::Repeated})
        for (bool oneCore : {false, true})
            for (auto& in : Inputs()) {
                const std::string name = LineName(*in, mem, oneCore);
                PrintComparison(name + " libimagequant/ours", Reporter.MedianOf(name + "/Kelvane"),
                                Reporter.MedianOf(name + "/LibImageQuant"), 1, oneCore ? 1 : AllOmpThreads());
            }
#else
    (void)Reporter;
    std::printf("libimagequant not found: no ratio\n");
#endif
    // The quality of each side's result, from one more untimed run.
    for (auto& in : Inputs()) {
        if (!in->Ready)
            continue;
        std::vector<uint8_t> indexes(size_t(in->W) * in->H);
        TRGB palette[256] = {};
        KvQuantize(*in, indexes.data(), palette);
        std::printf("%-28s PSNR ours %6.2f dB", in->Name.c_str(), Psnr(*in, indexes.data(), palette));
#ifdef KV_HAVE_LIBIMAGEQUANT
        if (LiqQuantize(*in, indexes.data(), palette))
            std::printf(", libimagequant %6.2f dB", Psnr(*in, indexes.data(), palette));
#endif
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    AllOmpThreads(); // before any line sets the count
    RegisterJobs();
    const int result = RunBenchmarks(argc, argv, PrintRatios);
#ifdef KV_HAVE_IMAGEMAGICK
    MagickWandTerminus();
#endif
    return result;
}
