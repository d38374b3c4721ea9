// Decoding through the GIF model: a 4000 x 3000 still and a 100-frame animation, both
// written by the model's own LZW encoder from synthetic pictures.
#include "formats/GIFImage.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace kv;
using namespace kv::GIFImage;

namespace {

std::vector<uint8_t> MakeGIF(int w, int h, int frames)
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

void Decode(benchmark::State& state, const std::vector<uint8_t>& file, int64_t pixels)
{
    for (auto _ : state) {
        TGIFImage img;
        TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
        img.LoadFromStream(s);
        benchmark::DoNotOptimize(img.Images()[0]->Data().data());
    }
    state.SetItemsProcessed(state.iterations() * pixels);
}

void BM_DecodeStill4000x3000(benchmark::State& state)
{
    static const std::vector<uint8_t> file = MakeGIF(4000, 3000, 1);
    Decode(state, file, 4000LL * 3000);
}
BENCHMARK(BM_DecodeStill4000x3000)->Unit(benchmark::kMillisecond);

void BM_DecodeAnimated100Frames(benchmark::State& state)
{
    static const std::vector<uint8_t> file = MakeGIF(200, 150, 100);
    Decode(state, file, 200LL * 150 * 100);
}
BENCHMARK(BM_DecodeAnimated100Frames)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
