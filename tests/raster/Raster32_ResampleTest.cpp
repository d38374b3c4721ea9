#include "raster/Raster32_Resample.h"
#include "raster/Raster32_Blend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
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
    if (Avx512ResampleKernels())
        sets.push_back(Avx512ResampleKernels());
    return sets;
}

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
    std::vector<TColor32> vert(37 + HorzReach);
    k.LinearVert(r0.data(), r1.data(), 37, 77, vert.data());
    for (int i = 0; i < 37; ++i)
        ASSERT_EQ(vert[size_t(i)], MixPixel(r0[size_t(i)], r1[size_t(i)], 77)) << i;
    std::vector<int32_t> x0(36);
    std::vector<uint8_t> wx(36);
    for (int i = 0; i < 36; ++i) {
        x0[size_t(i)] = int32_t(rng() % 36);
        wx[size_t(i)] = uint8_t(rng());
    }
    k.LinearHorzRun(vert.data(), wx.data(), 36, out.data());
    for (int i = 0; i < 36; ++i)
        ASSERT_EQ(out[size_t(i)], MixPixel(vert[size_t(i)], vert[size_t(i) + 1], wx[size_t(i)])) << i;
    k.LinearHorz(vert.data(), x0.data(), wx.data(), 36, out.data());
    for (int i = 0; i < 36; ++i) {
        TColor32 left = MixPixel(r0[size_t(x0[size_t(i)])], r1[size_t(x0[size_t(i)])], 77);
        TColor32 right = MixPixel(r0[size_t(x0[size_t(i)] + 1)], r1[size_t(x0[size_t(i)] + 1)], 77);
        ASSERT_EQ(out[size_t(i)], MixPixel(left, right, wx[size_t(i)])) << i;
    }
    // Lanes blue to alpha, two columns of two taps: blue 3 * 0x60000 + 2 * 0x80000 =
    // 0x220000, green 0x60002, red 0xE0000000 (past 2^31: capped), alpha 0x23000.
    const std::vector<uint32_t> sums{0x60000, 0x20000, 0x40000000, 0x1000, 0x80000, 0x1, 0x10000000, 0x10000};
    const std::vector<int32_t> at{0, 4};
    const std::vector<uint32_t> weights{3, 2};
    TColor32 filtered = 0;
    k.FilteredHorz(sums.data(), at.data(), weights.data(), 2, 1, &filtered);
    EXPECT_EQ(filtered, 0x02FF0622u);
    const std::vector<uint8_t>& w8 = wx;
    for (TRowStore store : {rsCached, rsStreamed}) {
        k.NearestRow(r0.data(), 37, x0.data(), 36, out.data(), store);
        for (int i = 0; i < 36; ++i)
            ASSERT_EQ(out[size_t(i)], r0[size_t(x0[size_t(i)])]) << i;
    }
    for (TRowStore store : {rsCached, rsStreamed}) {
        k.NearestHalfRow(r0.data(), 18, out.data(), store);
        for (int i = 0; i < 18; ++i)
            ASSERT_EQ(out[size_t(i)], r0[size_t(2 * i)]) << i;
    }
    k.LinearRow(r0.data(), r1.data(), 77, x0.data(), w8.data(), nullptr, 36, out.data());
    for (int i = 0; i < 36; ++i) {
        const size_t x = size_t(x0[size_t(i)]);
        ASSERT_EQ(out[size_t(i)],
                  MixPixel(MixPixel(r0[x], r1[x], 77), MixPixel(r0[x + 1], r1[x + 1], 77), w8[size_t(i)]))
            << i;
    }
}

// Offsets of the four pairs from the group's first column when they lie within eight
// pixels the row holds; NoNear otherwise (too spread, too near the row's end, a partial
// last group has no entry).
TEST(ResampleKernels, LinearNearTable)
{
    const std::vector<int32_t> x0{3, 4, 6, 9, 0, 2, 5, 8, 12, 12, 12, 13, 1};
    const std::vector<uint8_t> near = LinearNear(x0.data(), 13, 20);
    ASSERT_EQ(near.size(), 24u);
    EXPECT_EQ(std::vector<uint8_t>(near.begin(), near.begin() + 8), (std::vector<uint8_t>{0, 1, 1, 2, 3, 4, 6, 7}));
    EXPECT_EQ(near[8], NoNear) << "column 9 lies 9 pixels after column 0";
    EXPECT_EQ(std::vector<uint8_t>(near.begin() + 16, near.end()), (std::vector<uint8_t>{0, 1, 0, 1, 0, 1, 1, 2}));
    EXPECT_EQ(LinearNear(x0.data() + 8, 4, 19)[0], NoNear) << "eight pixels from column 12 pass the row's end";
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
            std::vector<TColor32> a(size_t(n) + 1 + HorzReach), b(size_t(n) + 1 + HorzReach);
            plain.LinearVert(r0.data(), r1.data(), n, wy, a.data());
            k->LinearVert(r0.data(), r1.data(), n, wy, b.data());
            ASSERT_EQ(std::vector<TColor32>(a.begin(), a.begin() + n), std::vector<TColor32>(b.begin(), b.begin() + n));
        }
        // The horizontal mixes over column tables of every shape the vector sets tell
        // apart: groups of eight within 8 or 16 columns, wider, repeated, going back.
        for (int round = 0; round < 400; ++round) {
            const int32_t width = 2 + int32_t(rng() % 70), n = 1 + int32_t(rng() % 50);
            std::vector<TColor32> vert(size_t(width) + HorzReach);
            for (auto& p : vert)
                p = rng();
            std::vector<int32_t> x0(static_cast<size_t>(n));
            std::vector<uint8_t> wx(static_cast<size_t>(n));
            const uint32_t spread = 1 + rng() % 5;
            int32_t x = int32_t(rng() % uint32_t(width - 1));
            for (int i = 0; i < n; ++i) {
                x0[size_t(i)] = x;
                wx[size_t(i)] = uint8_t(rng());
                x = rng() % 10 == 0 ? int32_t(rng() % uint32_t(width - 1))
                                    : std::min(x + int32_t(rng() % spread), width - 2);
            }
            std::vector<TColor32> outA(static_cast<size_t>(n)), outB(static_cast<size_t>(n));
            plain.LinearHorz(vert.data(), x0.data(), wx.data(), n, outA.data());
            k->LinearHorz(vert.data(), x0.data(), wx.data(), n, outB.data());
            ASSERT_EQ(outA, outB) << round;
            // Consecutive columns, reading no further than column n of an exact buffer.
            const int32_t runLength = std::min(n, width - 1);
            const std::vector<TColor32> exact(vert.begin(), vert.begin() + runLength + 1);
            plain.LinearHorzRun(exact.data(), wx.data(), runLength, outA.data());
            k->LinearHorzRun(exact.data(), wx.data(), runLength, outB.data());
            ASSERT_EQ(outA, outB) << round;
        }
        // Both passes at once, over column tables whose groups sometimes fit in eight
        // pixels (steps up to 3 apart, repeats) and sometimes not.
        for (int round = 0; round < 300; ++round) {
            const int32_t width = 2 + int32_t(rng() % 60), n = 1 + int32_t(rng() % 45);
            std::vector<TColor32> r0(static_cast<size_t>(width)), r1(static_cast<size_t>(width));
            for (auto& p : r0)
                p = rng();
            for (auto& p : r1)
                p = rng();
            std::vector<int32_t> x0(static_cast<size_t>(n));
            std::vector<uint8_t> wx(static_cast<size_t>(n));
            const uint32_t spread = 1 + rng() % 4;
            int32_t x = int32_t(rng() % uint32_t(width - 1));
            for (int i = 0; i < n; ++i) {
                x0[size_t(i)] = x;
                wx[size_t(i)] = uint8_t(rng());
                x = rng() % 8 == 0 ? int32_t(rng() % uint32_t(width - 1))
                                   : std::min(x + int32_t(rng() % spread), width - 2);
            }
            const std::vector<uint8_t> near = LinearNear(x0.data(), n, width);
            const uint32_t wy = rng() % 256;
            std::vector<TColor32> outA(static_cast<size_t>(n)), outB(static_cast<size_t>(n));
            plain.LinearRow(r0.data(), r1.data(), wy, x0.data(), wx.data(), near.data(), n, outA.data());
            k->LinearRow(r0.data(), r1.data(), wy, x0.data(), wx.data(), near.data(), n, outB.data());
            ASSERT_EQ(outA, outB) << round;
        }
        // Nearest rows: columns packed or spread out, repeated, going back, near the row's
        // end; the row is exactly RowWidth pixels long, so a read past it is caught. Stored
        // and streamed from any pixel of a 64-byte line, leaving the pixels around alone.
        for (int round = 0; round < 800; ++round) {
            const int32_t width = 1 + int32_t(rng() % 120), n = 1 + int32_t(rng() % 90);
            std::vector<TColor32> row(static_cast<size_t>(width));
            for (auto& p : row)
                p = rng();
            // Up to six columns a step: eight pixels then span past a 32-pixel window.
            const uint32_t spread = 1 + rng() % 6;
            std::vector<int32_t> x(static_cast<size_t>(n));
            int32_t at = int32_t(rng() % uint32_t(width));
            for (auto& c : x) {
                c = at;
                at = rng() % 12 == 0 ? int32_t(rng() % uint32_t(width))
                                     : std::min(at + int32_t(rng() % spread), width - 1);
            }
            const TRowStore store = round % 2 == 0 ? rsCached : rsStreamed;
            constexpr TColor32 untouched = 0x5A5A5A5Au;
            std::vector<TColor32> outA(static_cast<size_t>(n)), outB(size_t(n) + 48, untouched);
            const size_t lineStart = (64 - reinterpret_cast<uintptr_t>(outB.data()) % 64) % 64 / 4;
            const size_t to = lineStart + 1 + size_t(round / 2) % 16;
            plain.NearestRow(row.data(), width, x.data(), n, outA.data(), rsCached);
            k->NearestRow(row.data(), width, x.data(), n, outB.data() + to, store);
            ASSERT_EQ(outA, std::vector<TColor32>(outB.begin() + ptrdiff_t(to), outB.begin() + ptrdiff_t(to) + n))
                << round;
            ASSERT_EQ(outB[to - 1], untouched) << round;
            ASSERT_EQ(outB[to + size_t(n)], untouched) << round;
        }
        // Half rows of every length around the vector steps, the row ending at the last
        // pixel read, stored and streamed from every pixel of a 64-byte line: the pixels
        // around the row stay as they were.
        for (int32_t n = 1; n <= 70; ++n)
            for (TRowStore store : {rsCached, rsStreamed}) {
                std::vector<TColor32> row(size_t(2 * n - 1));
                for (auto& p : row)
                    p = rng();
                constexpr TColor32 untouched = 0x5A5A5A5Au;
                std::vector<TColor32> outA(static_cast<size_t>(n)), outB(size_t(n) + 48, untouched);
                const size_t lineStart = (64 - reinterpret_cast<uintptr_t>(outB.data()) % 64) % 64 / 4;
                const size_t at = lineStart + 1 + size_t(n) % 16;
                plain.NearestHalfRow(row.data(), n, outA.data(), rsCached);
                k->NearestHalfRow(row.data(), n, outB.data() + at, store);
                ASSERT_EQ(outA, std::vector<TColor32>(outB.begin() + ptrdiff_t(at), outB.begin() + ptrdiff_t(at) + n))
                    << n << " " << int(store);
                ASSERT_EQ(outB[at - 1], untouched) << n;
                ASSERT_EQ(outB[at + size_t(n)], untouched) << n;
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
        // The filtered stretch's horizontal sums: 1 to 9 taps, odd and even pixel counts,
        // sums under the cap, past it and (lanes and weights near their tops) past 2^31.
        for (int round = 0; round < 300; ++round) {
            const int32_t columns = 1 + int32_t(rng() % 30), n = 1 + int32_t(rng() % 21), taps = 1 + int32_t(rng() % 9);
            const bool high = round % 3 == 2;
            const uint32_t laneMax = high ? 1u << 23 : round % 3 == 0 ? 65280 : 1u << 20;
            const uint32_t weightMax = high ? 511u / uint32_t(taps) : 256u;
            std::vector<uint32_t> vert(size_t(columns) * 4);
            for (auto& v : vert)
                v = high ? laneMax - rng() % (laneMax / 8) : rng() % (laneMax + 1);
            std::vector<int32_t> at(size_t(n) * size_t(taps));
            std::vector<uint32_t> weight(at.size());
            for (size_t t = 0; t < at.size(); ++t) {
                at[t] = int32_t(rng() % uint32_t(columns)) * 4;
                weight[t] = high ? weightMax - rng() % (weightMax / 8 + 1) : rng() % (weightMax + 1);
            }
            std::vector<TColor32> outA(static_cast<size_t>(n)), outB(static_cast<size_t>(n));
            plain.FilteredHorz(vert.data(), at.data(), weight.data(), taps, n, outA.data());
            k->FilteredHorz(vert.data(), at.data(), weight.data(), taps, n, outB.data());
            ASSERT_EQ(outA, outB) << round;
        }
        // The filtered stretch's vertical sums: a first row, then rows added on, for any
        // length (whole vector steps and the bytes after them), every weight up to the
        // filters' 256 and some past it; bytes at 255 give the largest products.
        for (int round = 0; round < 300; ++round) {
            const int32_t lanes = 1 + int32_t(rng() % 80), rows = 1 + int32_t(rng() % 4);
            std::vector<uint32_t> sumsA(static_cast<size_t>(lanes), 0xDEADBEEFu), sumsB = sumsA;
            for (int32_t r = 0; r < rows; ++r) {
                std::vector<uint8_t> bytes(static_cast<size_t>(lanes));
                for (auto& b : bytes)
                    b = round % 4 == 0 ? 255 : uint8_t(rng());
                const uint32_t weight = round % 5 == 0 ? 257 + rng() % 1000 : rng() % 257;
                plain.FilteredVert(bytes.data(), weight, lanes, r == 0, sumsA.data());
                k->FilteredVert(bytes.data(), weight, lanes, r == 0, sumsB.data());
            }
            ASSERT_EQ(sumsA, sumsB) << round;
        }
        // The tent's two passes (horizontal on each row, then vertical) against the two
        // plain passes on the same pair lists: columns that step by under one
        // (enlarging), that jump (the groups the kernel leaves to its plain pixel), a last
        // column with weight 0 on its right neighbour, which is past the row's end;
        // weights summing to 256, to less, and bytes at 255 where the products are
        // largest.
        if (k->TentHorz && k->TentVert)
            for (int round = 0; round < 300; ++round) {
                const int32_t span = 2 + int32_t(rng() % 40), n = 1 + int32_t(rng() % 45);
                std::vector<TColor32> r0(static_cast<size_t>(span)), r1(static_cast<size_t>(span));
                for (size_t x = 0; x < r0.size(); ++x) {
                    r0[x] = round % 4 == 0 ? 0xFFFFFFFFu : rng();
                    r1[x] = round % 4 == 0 ? 0xFFFFFFFFu : rng();
                }
                const uint32_t wy0 = rng() % 257, wy1 = round % 3 == 0 ? 256 - wy0 : rng() % (257 - wy0);
                std::vector<int32_t> x0(static_cast<size_t>(n));
                std::vector<uint16_t> w0(x0.size()), w1(x0.size());
                int32_t at = int32_t(rng() % uint32_t(span));
                for (size_t i = 0; i < x0.size(); ++i) {
                    if (round % 5 == 0)
                        at = int32_t(rng() % uint32_t(span));
                    else if (rng() % 3 == 0)
                        at = std::min(at + 1, span - 1);
                    x0[i] = at;
                    w0[i] = uint16_t(rng() % 257);
                    w1[i] = at == span - 1 ? 0 : uint16_t(round % 3 == 1 ? 256 - w0[i] : rng() % (257 - w0[i]));
                }
                std::vector<uint32_t> sums(static_cast<size_t>(span) * 4);
                plain.FilteredVert(reinterpret_cast<const uint8_t*>(r0.data()), wy0, span * 4, true, sums.data());
                plain.FilteredVert(reinterpret_cast<const uint8_t*>(r1.data()), wy1, span * 4, false, sums.data());
                std::vector<int32_t> hAt(x0.size() * 2);
                std::vector<uint32_t> hWeight(hAt.size());
                for (size_t i = 0; i < x0.size(); ++i) {
                    hAt[2 * i] = x0[i] * 4;
                    hAt[2 * i + 1] = std::min(x0[i] + 1, span - 1) * 4;
                    hWeight[2 * i] = w0[i];
                    hWeight[2 * i + 1] = w1[i];
                }
                std::vector<TColor32> outA(x0.size()), outB(x0.size());
                plain.FilteredHorz(sums.data(), hAt.data(), hWeight.data(), 2, n, outA.data());
                std::vector<uint16_t> h0(x0.size() * 4), h1(h0.size());
                k->TentHorz(r0.data(), span, x0.data(), w0.data(), w1.data(), n, h0.data());
                k->TentHorz(r1.data(), span, x0.data(), w0.data(), w1.data(), n, h1.data());
                k->TentVert(h0.data(), h1.data(), wy0, wy1, n, outB.data(), round % 2 ? rsStreamed : rsCached);
                ASSERT_EQ(outA, outB) << round;
            }
    }
}

// Every pair of channel values under every weight: channel c of pixel p in the first row
// is (4p + c) and 255, in the second row (4p + c) shr 8. The vertical mix of the vector
// sets (a rounded high product in place of the plain sum) must agree everywhere.
TEST(ResampleKernels, EveryChannelPairAndWeight)
{
    constexpr int32_t n = 65536 / 4;
    std::vector<TColor32> r0(static_cast<size_t>(n)), r1(static_cast<size_t>(n));
    for (int32_t p = 0; p < n; ++p)
        for (int32_t c = 0; c < 4; ++c) {
            const uint32_t v = uint32_t(4 * p + c);
            r0[size_t(p)] |= (v & 255) << (8 * c);
            r1[size_t(p)] |= (v >> 8) << (8 * c);
        }
    std::vector<int32_t> x0(static_cast<size_t>(n) - 1);
    std::vector<uint8_t> wx(static_cast<size_t>(n) - 1);
    for (int32_t i = 0; i < n - 1; ++i) {
        x0[size_t(i)] = i;
        wx[size_t(i)] = uint8_t(i * 7);
    }
    const std::vector<uint8_t> near = LinearNear(x0.data(), n - 1, n);
    const TResampleKernels& plain = ScalarResampleKernels();
    std::vector<TColor32> vertA(static_cast<size_t>(n) + HorzReach), vertB(static_cast<size_t>(n) + HorzReach);
    std::vector<TColor32> rowA(static_cast<size_t>(n) - 1), rowB(static_cast<size_t>(n) - 1);
    for (const TResampleKernels* k : VectorSets())
        for (uint32_t w = 0; w < 256; ++w) {
            plain.LinearVert(r0.data(), r1.data(), n, w, vertA.data());
            k->LinearVert(r0.data(), r1.data(), n, w, vertB.data());
            ASSERT_EQ(vertA, vertB) << w;
            plain.LinearHorz(vertA.data(), x0.data(), wx.data(), n - 1, rowA.data());
            k->LinearHorz(vertA.data(), x0.data(), wx.data(), n - 1, rowB.data());
            ASSERT_EQ(rowA, rowB) << w;
            k->LinearHorzRun(vertA.data(), wx.data(), n - 1, rowB.data());
            ASSERT_EQ(rowA, rowB) << w;
            plain.LinearRow(r0.data(), r1.data(), w, x0.data(), wx.data(), near.data(), n - 1, rowA.data());
            k->LinearRow(r0.data(), r1.data(), w, x0.data(), wx.data(), near.data(), n - 1, rowB.data());
            ASSERT_EQ(rowA, rowB) << w;
        }
}
