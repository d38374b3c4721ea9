// Row kernels of the bilinear and nearest resamplers: a plain set that defines the results
// and an SSE2 set (with AVX2 and AVX-512 kernels where the processor has them) giving the
// same pixels, chosen once like the blend routines (the plain set when KELVANE_NO_SIMD is
// set or the processor test fails). Internal to the raster unit.
#pragma once

#include "platform/CpuFeatures.h"
#include "raster/Raster32_Types.h"

#include <cstdint>
#include <vector>

namespace kv {

struct TResampleKernels {
    // Out[i] = per channel (R0[i] * Wy + R1[i] * (256 - Wy) + 128) shr 8, the table's
    // MixPixel. The result of a channel never passes 255, so the pixels stay packed.
    void (*LinearVert)(const TColor32* R0, const TColor32* R1, int32_t Count, uint32_t Wy, TColor32* Out);
    // Out[i] = MixPixel(Vert[X0[i]], Vert[X0[i] + 1], Wx[i]). A set may read Vert anywhere
    // from X0[i] to X0[i] + HorzReach for every i (it loads the columns of eight pixels at
    // once), so the buffer carries that many readable pixels past the last column used.
    void (*LinearHorz)(const TColor32* Vert, const int32_t* X0, const uint8_t* Wx, int32_t Count, TColor32* Out);
    // The same over consecutive columns, X0[i] = i: Out[i] = MixPixel(Vert[i], Vert[i + 1],
    // Wx[i]), reading Vert only up to Vert[Count]. Near 1:1 a row is one or two such runs.
    void (*LinearHorzRun)(const TColor32* Vert, const uint8_t* Wx, int32_t Count, TColor32* Out);
    // Both passes at once for the columns a destination row needs: Out[i] =
    // MixPixel(MixPixel(R0[x], R1[x], Wy), MixPixel(R0[x + 1], R1[x + 1], Wy), Wx[i]) with
    // x = X0[i]; column x + 1 must lie inside both rows. Near is LinearNear's table for X0
    // (a set may read it to load the columns of four pixels at once).
    void (*LinearRow)(const TColor32* R0, const TColor32* R1, uint32_t Wy, const int32_t* X0, const uint8_t* Wx,
                      const uint8_t* Near, int32_t Count, TColor32* Out);
    // Whether LinearRow outruns the two passes when shrinking (it reloads each column pair
    // instead of mixing every column once, which only pays with wide vectors).
    bool LinearRowShrinks;
    // Bilinear samples along an affine row, every point inside the source with its right
    // and lower neighbours: 24.8 position i is ((Ax + i * StepX) shr 4, (Ay + i * StepY) shr 4).
    void (*BilinearAffine)(const TColor32* Bits, int32_t Stride, int64_t Ax, int64_t Ay, int64_t StepX, int64_t StepY,
                           int32_t Count, TColor32* Out);
    // The nearest stretch's row: Out[i] = Row[X[i]], every X[i] in 0 .. RowWidth - 1. A set
    // may read any pixel of the row's RowWidth, never beyond. A set may store through the
    // cache when asked to stream; streamed stores are fenced before it returns.
    void (*NearestRow)(const TColor32* Row, int32_t RowWidth, const int32_t* X, int32_t Count, TColor32* Out,
                       TRowStore Store);
    // The same at exactly half the width: Out[i] = Row[2 * i], reading no pixel past
    // Row[2 * Count - 2]. Every shrink to half takes this road, so it picks the columns
    // with shuffles of whole loads rather than per-pixel indices. Streamed stores are
    // fenced before it returns.
    void (*NearestHalfRow)(const TColor32* Row, int32_t Count, TColor32* Out, TRowStore Store);
    // The filtered stretch's horizontal pass over its vertical sums (four 32-bit lanes a
    // column, blue to alpha): lane c of Out[i] is min(S, 0xFF0000) shr 16 with S the sum
    // over t < Taps of Vert[At[i * Taps + t] + c] * Weight[i * Taps + t], every product
    // and sum below 2^32.
    void (*FilteredHorz)(const uint32_t* Vert, const int32_t* At, const uint32_t* Weight, int32_t Taps, int32_t Count,
                         TColor32* Out);
    // The filtered stretch's vertical pass, one source row of Lanes bytes at a time:
    // Sums[j] = Row[j] * Weight (First) or Sums[j] += Row[j] * Weight, every sum below 2^32.
    void (*FilteredVert)(const uint8_t* Row, uint32_t Weight, int32_t Lanes, bool First, uint32_t* Sums);
    // The two filtered passes for lists that are pairs of neighbours, as enlarging with
    // the tent gives, horizontal first, so that a source row's horizontal pass serves
    // every destination row that reads it. TentHorz: channel c of pixel i of H is
    // Row[X0[i]] * W0[i] + Row[X0[i] + 1] * W1[i] (W0[i] + W1[i] <= 256, so it fits 16
    // bits), four lanes a pixel; Row has RowWidth readable pixels, and X0[i] + 1 may be
    // RowWidth only where W1[i] is 0 (that column is then not read). TentVert: channel c
    // of Out[i] is (H0[4i + c] * Wy0 + H1[4i + c] * Wy1) shr 16 with Wy0 + Wy1 <= 256:
    // the same sum of products as FilteredVert and FilteredHorz on those lists, whose cap
    // the sums never reach. Streamed stores are fenced before it returns. Null in a set
    // that has none (the two passes then do it).
    void (*TentHorz)(const TColor32* Row, int32_t RowWidth, const int32_t* X0, const uint16_t* W0, const uint16_t* W1,
                     int32_t Count, uint16_t* H);
    void (*TentVert)(const uint16_t* H0, const uint16_t* H1, uint32_t Wy0, uint32_t Wy1, int32_t Count, TColor32* Out,
                     TRowStore Store);
};
// The plain FilteredHorz and FilteredVert, for the sets with no vector one.
void ScalarFilteredHorz(const uint32_t* Vert, const int32_t* At, const uint32_t* Weight, int32_t Taps, int32_t Count,
                        TColor32* Out);
void ScalarFilteredVert(const uint8_t* Row, uint32_t Weight, int32_t Lanes, bool First, uint32_t* Sums);

// For LinearRow: eight bytes per four pixels from index 0 (a last partial group has none).
// When the four pixel pairs lie within the eight pixels from X0 of the group's first pixel
// and those are inside a row RowWidth pixels long, the bytes are the pairs' offsets from it
// (left, right of each pixel in turn); otherwise the first byte is NoNear.
constexpr uint8_t NoNear = 0xFF;

// How far past a column LinearHorz may read its buffer.
constexpr int32_t HorzReach = 16;
std::vector<uint8_t> LinearNear(const int32_t* X0, int32_t Count, int32_t RowWidth);

const TResampleKernels& ResampleKernels();
const TResampleKernels& ScalarResampleKernels();
const TResampleKernels* Sse2ResampleKernels(); // null where SSE2 is not built
const TResampleKernels* Avx2ResampleKernels(); // null without AVX2 (built or present)
// The AVX2 set with the near-1:1 kernels on 512-bit registers; null without AVX-512.
const TResampleKernels* Avx512ResampleKernels();

} // namespace kv
