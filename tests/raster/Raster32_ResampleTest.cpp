#include "raster/Raster32_Blend.h"
#include "raster/Raster32_Resample.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace kv;

namespace {

std::vector<const TResampleKernels*> VectorSets()
{
    std::vector<const TResampleKernels*> sets;
    if (Sse2ResampleKernels())
        sets.push_back(Sse2ResampleKernels());
    if (Avx2ResampleKernels())
        sets.push_back(Avx2ResampleKernels());
    return sets;
}

uint32_t Low16(uint64_t V) { return uint32_t(V & 0xFFFF); }

} // namespace

// The plain kernels are the table's MixPixel; every vector set gives the same pixels over
// seeded random rows, lengths that exercise the vector bodies and their tails.
TEST(ResampleKernels, PlainKernelsAreMixPixel)
{
    std::mt19937 rng(5);
    const TResampleKernels& k = ScalarResampleKernels();
    std::vector<TColor32> r0(37), r1(37), out(36);
    for (auto& p : r0)
        p = rng();
    for (auto& p : r1)
        p = rng();
    std::vector<uint64_t> vert(38);
    k.LinearVert(r0.data(), r1.data(), 37, 77, vert.data());
    std::vector<int32_t> x0(36);
    std::vector<uint64_t> wx(36);
    for (int i = 0; i < 36; ++i) {
        x0[size_t(i)] = int32_t(rng() % 36);
        wx[size_t(i)] = (rng() % 256) * 0x0001000100010001ull;
    }
    k.LinearHorz(vert.data(), x0.data(), wx.data(), 36, out.data());
    for (int i = 0; i < 36; ++i) {
        TColor32 left = MixPixel(r0[size_t(x0[size_t(i)])], r1[size_t(x0[size_t(i)])], 77);
        TColor32 right = MixPixel(r0[size_t(x0[size_t(i)] + 1)], r1[size_t(x0[size_t(i)] + 1)], 77);
        ASSERT_EQ(out[size_t(i)], MixPixel(left, right, Low16(wx[size_t(i)]))) << i;
    }
}

TEST(ResampleKernels, VectorSetsMatchThePlainSet)
{
    const TResampleKernels& plain = ScalarResampleKernels();
    std::mt19937 rng(99);
    for (const TResampleKernels* k : VectorSets()) {
        for (int round = 0; round < 200; ++round) {
            const int32_t n = 1 + int32_t(rng() % 41);
            std::vector<TColor32> r0(size_t(n) + 1), r1(size_t(n) + 1);
            for (auto& p : r0)
                p = rng();
            for (auto& p : r1)
                p = rng();
            const uint32_t wy = rng() % 256;
            std::vector<uint64_t> a(size_t(n) + 2), b(size_t(n) + 2);
            plain.LinearVert(r0.data(), r1.data(), n, wy, a.data());
            k->LinearVert(r0.data(), r1.data(), n, wy, b.data());
            ASSERT_EQ(std::vector<uint64_t>(a.begin(), a.begin() + n), std::vector<uint64_t>(b.begin(), b.begin() + n));

            a[size_t(n)] = a[size_t(n) - 1];
            std::vector<int32_t> x0(static_cast<size_t>(n));
            std::vector<uint64_t> wx(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                x0[size_t(i)] = int32_t(rng() % uint32_t(n));
                wx[size_t(i)] = (rng() % 256) * 0x0001000100010001ull;
            }
            std::vector<TColor32> outA(static_cast<size_t>(n)), outB(static_cast<size_t>(n));
            plain.LinearHorz(a.data(), x0.data(), wx.data(), n, outA.data());
            k->LinearHorz(a.data(), x0.data(), wx.data(), n, outB.data());
            ASSERT_EQ(outA, outB);
        }
        // Bilinear samples along an affine row inside a random 40 x 40 picture.
        std::vector<TColor32> pic(40 * 40);
        for (auto& p : pic)
            p = rng();
        for (int round = 0; round < 200; ++round) {
            const int32_t n = 1 + int32_t(rng() % 20);
            // 20.12 accumulators (plus the 24.8 rounding bias) that stay inside 1..37.
            int64_t ax = (int64_t(1) << 12) + rng() % (int64_t(18) << 12);
            int64_t ay = (int64_t(1) << 12) + rng() % (int64_t(18) << 12);
            int64_t sx = int64_t(rng() % 1800), sy = int64_t(rng() % 1800);
            std::vector<TColor32> outA(static_cast<size_t>(n)), outB(static_cast<size_t>(n));
            plain.BilinearAffine(pic.data(), 40, ax, ay, sx, sy, n, outA.data());
            k->BilinearAffine(pic.data(), 40, ax, ay, sx, sy, n, outB.data());
            ASSERT_EQ(outA, outB);
        }
    }
}
