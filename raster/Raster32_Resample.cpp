#include "raster/Raster32_Resample.h"

#include "platform/CpuFeatures.h"
#include "raster/Raster32_Blend.h"
#include "raster/Raster32_MixLanes.h"

#include <algorithm>

namespace kv {

namespace {

using namespace lanes;

void ScalarLinearVert(const TColor32* R0, const TColor32* R1, int32_t Count, uint32_t Wy, TColor32* Out)
{
    for (int32_t i = 0; i < Count; ++i)
        Out[i] = Pack(MixLanes(Expand(R0[i]), Expand(R1[i]), Wy));
}

void ScalarLinearHorz(const TColor32* Vert, const int32_t* X0, const uint8_t* Wx, int32_t Count, TColor32* Out)
{
    for (int32_t i = 0; i < Count; ++i)
        Out[i] = Pack(MixLanes(Expand(Vert[X0[i]]), Expand(Vert[X0[i] + 1]), Wx[i]));
}

void ScalarLinearHorzRun(const TColor32* Vert, const uint8_t* Wx, int32_t Count, TColor32* Out)
{
    for (int32_t i = 0; i < Count; ++i)
        Out[i] = Pack(MixLanes(Expand(Vert[i]), Expand(Vert[i + 1]), Wx[i]));
}

void ScalarLinearRow(const TColor32* R0, const TColor32* R1, uint32_t Wy, const int32_t* X0, const uint8_t* Wx,
                     const uint8_t* /*Near*/, int32_t Count, TColor32* Out)
{
    for (int32_t i = 0; i < Count; ++i) {
        const int32_t x = X0[i];
        const uint64_t left = MixLanes(Expand(R0[x]), Expand(R1[x]), Wy);
        const uint64_t right = MixLanes(Expand(R0[x + 1]), Expand(R1[x + 1]), Wy);
        Out[i] = Pack(MixLanes(left, right, Wx[i]));
    }
}

void ScalarBilinearAffine(const TColor32* Bits, int32_t Stride, int64_t Ax, int64_t Ay, int64_t StepX, int64_t StepY,
                          int32_t Count, TColor32* Out)
{
    for (int32_t i = 0; i < Count; ++i, Ax += StepX, Ay += StepY) {
        const int64_t fx = Ax >> 4, fy = Ay >> 4;
        const TColor32* r = Bits + (fy >> 8) * Stride + (fx >> 8);
        const uint32_t wx = 255 - uint32_t(fx & 255), wy = 255 - uint32_t(fy & 255);
        const uint64_t top = MixLanes(Expand(r[0]), Expand(r[1]), wx);
        const uint64_t bottom = MixLanes(Expand(r[Stride]), Expand(r[Stride + 1]), wx);
        Out[i] = Pack(MixLanes(top, bottom, wy));
    }
}

void ScalarNearestRow(const TColor32* Row, int32_t /*RowWidth*/, const int32_t* X, int32_t Count, TColor32* Out,
                      TRowStore /*Store*/)
{
    for (int32_t i = 0; i < Count; ++i)
        Out[i] = Row[X[i]];
}

void ScalarNearestHalfRow(const TColor32* Row, int32_t Count, TColor32* Out, TRowStore /*Store*/)
{
    for (int32_t i = 0; i < Count; ++i)
        Out[i] = Row[2 * i];
}

const TResampleKernels Scalar{
    ScalarLinearVert, ScalarLinearHorz,     ScalarLinearHorzRun, ScalarLinearRow,    false,   ScalarBilinearAffine,
    ScalarNearestRow, ScalarNearestHalfRow, ScalarFilteredHorz,  ScalarFilteredVert, nullptr, nullptr};

} // namespace

void ScalarFilteredVert(const uint8_t* Row, uint32_t Weight, int32_t Lanes, bool First, uint32_t* Sums)
{
    if (First)
        for (int32_t j = 0; j < Lanes; ++j)
            Sums[j] = uint32_t(Row[j]) * Weight;
    else
        for (int32_t j = 0; j < Lanes; ++j)
            Sums[j] += uint32_t(Row[j]) * Weight;
}

void ScalarFilteredHorz(const uint32_t* Vert, const int32_t* At, const uint32_t* Weight, int32_t Taps, int32_t Count,
                        TColor32* Out)
{
    auto channel = [](uint32_t Sum) { return std::min<uint32_t>(Sum, 0xFF0000u) >> 16; };
    for (int32_t i = 0; i < Count; ++i, At += Taps, Weight += Taps) {
        uint32_t b = 0, g = 0, r = 0, a = 0;
        for (int32_t t = 0; t < Taps; ++t) {
            const uint32_t* c = Vert + At[t];
            b += c[0] * Weight[t];
            g += c[1] * Weight[t];
            r += c[2] * Weight[t];
            a += c[3] * Weight[t];
        }
        Out[i] = (channel(a) << 24) | (channel(r) << 16) | (channel(g) << 8) | channel(b);
    }
}

const TResampleKernels& ScalarResampleKernels() { return Scalar; }

std::vector<uint8_t> LinearNear(const int32_t* X0, int32_t Count, int32_t RowWidth)
{
    std::vector<uint8_t> near(size_t(std::max(Count, 0) / 4) * 8, NoNear);
    for (int32_t g = 0; g + 4 <= Count; g += 4) {
        const int64_t base = X0[g];
        bool fits = base >= 0 && base + 8 <= RowWidth;
        for (int32_t j = 0; j < 4 && fits; ++j)
            fits = X0[g + j] >= base && int64_t(X0[g + j]) + 1 - base < 8;
        if (!fits)
            continue;
        for (int32_t j = 0; j < 4; ++j) {
            near[size_t(g) * 2 + size_t(j) * 2] = uint8_t(X0[g + j] - base);
            near[size_t(g) * 2 + size_t(j) * 2 + 1] = uint8_t(X0[g + j] + 1 - base);
        }
    }
    return near;
}

const TResampleKernels& ResampleKernels()
{
    static const TResampleKernels* chosen = [] {
        if (!MmxActive()) // the blend's choice: kernels and blends go plain together
            return &Scalar;
        if (SimdAllowed(TSimdLevel::Avx512) && Avx512ResampleKernels() != nullptr)
            return Avx512ResampleKernels();
        if (SimdAllowed(TSimdLevel::Avx2) && Avx2ResampleKernels() != nullptr)
            return Avx2ResampleKernels();
        if (SimdAllowed(TSimdLevel::Sse2) && Sse2ResampleKernels() != nullptr)
            return Sse2ResampleKernels();
        return &Scalar;
    }();
    return *chosen;
}

} // namespace kv
