// Decoding through the GIF model against giflib: the same 4000 x 3000 GIF as the editor
// codec's benchmark, and a 100-frame animation written by the model's own encoder.
// Prints giflib time / model time for each (above 1.0: the model is faster).
#include "bench/BenchReporter.h"
#include "bench/GifBenchCommon.h"
#include "formats/GIFImage.h"

#include <cstdio>

using kv::TMemoryStream;
using kv::TReadOnlyMemoryStream;
using namespace kv::GIFImage;
using namespace kvbench;

namespace {

std::vector<uint8_t> MakeAnimation(int w, int h, int frames)
{
    TGIFImage img;
    for (int i = 0; i < 256; ++i)
        img.GlobalColorMap().Add(TGIFColor{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
    std::mt19937 rng(42);
    for (int f = 0; f < frames; ++f) {
        auto sub = std::make_unique<TGIFSubImage>(&img);
        sub->SetSize(uint16_t(w), uint16_t(h));
        auto& d = sub->Data();
        // Smooth gradients with some noise: photographs reduced to 256 colours look like this.
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                d[size_t(y) * size_t(w) + size_t(x)] = uint8_t((x / 16 + y / 16 + f + ((rng() & 15) == 0)) & 0xFF);
        img.Add(std::move(sub));
    }
    TMemoryStream s;
    img.SaveToStream(s);
    return s.Bytes();
}

const std::vector<uint8_t>& Animation()
{
    static const std::vector<uint8_t> file = MakeAnimation(200, 150, 100);
    return file;
}

void ModelDecode(benchmark::State& state, const std::vector<uint8_t>& file)
{
    for (auto _ : state) {
        TGIFImage img;
        TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
        img.LoadFromStream(s);
        benchmark::DoNotOptimize(img.Images()[0]->Data().data());
    }
}

void BM_ModelDecodeStill(benchmark::State& state) { ModelDecode(state, GIFFile()); }
void BM_ModelDecodeAnimation(benchmark::State& state) { ModelDecode(state, Animation()); }

#ifdef KV_HAVE_GIFLIB
void GiflibRun(benchmark::State& state, const std::vector<uint8_t>& file)
{
    for (auto _ : state)
        if (!GiflibDecode(file)) {
            state.SkipWithError("giflib could not read the file");
            break;
        }
}
void BM_GiflibDecodeStill(benchmark::State& state) { GiflibRun(state, GIFFile()); }
void BM_GiflibDecodeAnimation(benchmark::State& state) { GiflibRun(state, Animation()); }
#endif

} // namespace

BENCHMARK(BM_ModelDecodeStill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModelDecodeAnimation)->Unit(benchmark::kMillisecond);
#ifdef KV_HAVE_GIFLIB
BENCHMARK(BM_GiflibDecodeStill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GiflibDecodeAnimation)->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char** argv)
{
    return RunBenchmarks(argc, argv, [](const TRatioReporter& reporter) {
#ifdef KV_HAVE_GIFLIB
        const double ms = reporter.MedianOf("BM_ModelDecodeStill"), ma = reporter.MedianOf("BM_ModelDecodeAnimation");
        const double gs = reporter.MedianOf("BM_GiflibDecodeStill"), ga = reporter.MedianOf("BM_GiflibDecodeAnimation");
        if (ms > 0 && gs > 0)
            std::printf("decode ratio 4000x3000 still (giflib / model): %.2f\n", gs / ms);
        if (ma > 0 && ga > 0)
            std::printf("decode ratio 100-frame animation (giflib / model): %.2f\n", ga / ma);
#else
        std::printf("giflib not found: no ratios\n");
#endif
    });
}
