// Colour quantizer speed and quality: a 12-megapixel photo-like picture (smooth
// gradients and noise, seeded) reduced to 256 colours and every pixel mapped, by our
// quantizer and by libimagequant (no dithering, its default speed) on the same pixels.
// Prints libimagequant time / our time (above 1.0: we are faster) and the PSNR of each
// result against the original. libimagequant works on OpenMP threads, which a busy
// machine slows badly; OMP_NUM_THREADS=1 gives the steadier one-core comparison.
#include "bench/BenchReporter.h"
#include "imaging/Quantizer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#ifdef KV_HAVE_LIBIMAGEQUANT
#include <libimagequant.h>
#endif

using namespace kv;
using namespace kvbench;

namespace {

constexpr int32_t W = 4000, H = 3000;

// Sky-like vertical gradient, a few soft blobs of colour, shading across, and noise.
void PaintPhoto(TBitmap& Photo)
{
    Photo.SetPixelFormat(pf24bit);
    Photo.SetSize(W, H);
    std::mt19937 rng(12);
    std::normal_distribution<double> noise(0.0, 4.0);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    struct TBlob {
        double X, Y, R, Cr, Cg, Cb;
    } blobs[6];
    for (TBlob& o : blobs)
        o = {u(rng) * W, u(rng) * H, 300 + u(rng) * 900, u(rng) * 255, u(rng) * 255, u(rng) * 255};
    for (int32_t y = 0; y < H; ++y) {
        uint8_t* row = Photo.ScanLine(y);
        const double fy = double(y) / H;
        for (int32_t x = 0; x < W; ++x) {
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
}

const TBitmap& Photo()
{
    static TBitmap photo;
    static const bool painted = (PaintPhoto(photo), true);
    (void)painted;
    return photo;
}

// Peak signal-to-noise ratio of a result (one palette index per pixel) against the photo.
double Psnr(const std::vector<uint8_t>& Indexes, const TRGB* Palette)
{
    double sum = 0;
    for (int32_t y = 0; y < H; ++y) {
        const uint8_t* p = Photo().ScanLine(y);
        const uint8_t* idx = Indexes.data() + size_t(y) * W;
        for (int32_t x = 0; x < W; ++x, p += 3) {
            const TRGB& c = Palette[idx[x]];
            const double db = p[0] - c.b, dg = p[1] - c.g, dr = p[2] - c.r;
            sum += db * db + dg * dg + dr * dr;
        }
    }
    const double mse = sum / (3.0 * W * H);
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

struct TResult {
    std::vector<uint8_t> Indexes = std::vector<uint8_t>(size_t(W) * H);
    TRGB Palette[256] = {};
};

// What a paletted writer does: build the palette, then one lookup per pixel.
void KvQuantize(TResult& R)
{
    TIEQuantizer q(Photo(), std::span<TRGB>(R.Palette, 256), 256, -1);
    for (int32_t y = 0; y < H; ++y) {
        const uint8_t* p = Photo().ScanLine(y);
        uint8_t* idx = R.Indexes.data() + size_t(y) * W;
        for (int32_t x = 0; x < W; ++x, p += 3)
            idx[x] = uint8_t(q.QuantizerColorIndex(TRGB{p[0], p[1], p[2]}));
    }
}

void BM_KvQuantize(benchmark::State& state)
{
    Photo();
    TResult r;
    for (auto _ : state) {
        KvQuantize(r);
        benchmark::DoNotOptimize(r.Indexes.data());
    }
}

#ifdef KV_HAVE_LIBIMAGEQUANT
// The library's input: RGBA, top row first; made once, outside the timing.
const std::vector<uint8_t>& PhotoRGBA()
{
    static const std::vector<uint8_t> rgba = [] {
        std::vector<uint8_t> v(size_t(W) * H * 4);
        for (int32_t y = 0; y < H; ++y) {
            const uint8_t* p = Photo().ScanLine(y);
            uint8_t* d = v.data() + size_t(y) * W * 4;
            for (int32_t x = 0; x < W; ++x, p += 3, d += 4) {
                d[0] = p[2];
                d[1] = p[1];
                d[2] = p[0];
                d[3] = 255;
            }
        }
        return v;
    }();
    return rgba;
}

bool LiqQuantize(TResult& R)
{
    liq_attr* attr = liq_attr_create();
    liq_image* image = liq_image_create_rgba(attr, PhotoRGBA().data(), W, H, 0);
    liq_result* result = nullptr;
    bool ok = image && liq_image_quantize(image, attr, &result) == LIQ_OK;
    if (ok) {
        liq_set_dithering_level(result, 0);
        ok = liq_write_remapped_image(result, image, R.Indexes.data(), R.Indexes.size()) == LIQ_OK;
        const liq_palette* pal = liq_get_palette(result);
        for (unsigned i = 0; ok && i < pal->count && i < 256; ++i)
            R.Palette[i] = CreateRGB(pal->entries[i].r, pal->entries[i].g, pal->entries[i].b);
        liq_result_destroy(result);
    }
    if (image)
        liq_image_destroy(image);
    liq_attr_destroy(attr);
    return ok;
}

void BM_LibImageQuant(benchmark::State& state)
{
    PhotoRGBA();
    TResult r;
    for (auto _ : state)
        if (!LiqQuantize(r)) {
            state.SkipWithError("libimagequant failed");
            break;
        }
}
#endif

} // namespace

BENCHMARK(BM_KvQuantize)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
#ifdef KV_HAVE_LIBIMAGEQUANT
BENCHMARK(BM_LibImageQuant)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
#endif

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    TResult ours;
    KvQuantize(ours);
    std::printf("12-megapixel photo to 256 colours: ours %.0f ms, PSNR %.2f dB\n", reporter.MedianOf("BM_KvQuantize"),
                Psnr(ours.Indexes, ours.Palette));
#ifdef KV_HAVE_LIBIMAGEQUANT
    TResult theirs;
    if (LiqQuantize(theirs))
        std::printf("libimagequant %.0f ms, PSNR %.2f dB\n", reporter.MedianOf("BM_LibImageQuant"),
                    Psnr(theirs.Indexes, theirs.Palette));
    const double k = reporter.MedianOf("BM_KvQuantize"), l = reporter.MedianOf("BM_LibImageQuant");
    if (k > 0 && l > 0)
        std::printf("time ratio (libimagequant / ours): %.2f\n", l / k);
#else
    std::printf("libimagequant not found: no ratio\n");
#endif
    benchmark::Shutdown();
    return 0;
}
