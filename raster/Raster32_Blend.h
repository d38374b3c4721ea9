// The eight blend routines, reached only through the table filled once at start-up.
#pragma once

#include "raster/Raster32_Types.h"

#include <cstdint>

namespace kv {

using TMixPixel = TColor32 (*)(TColor32 F, TColor32 B, uint32_t W);
using TMixPixelInPlace = void (*)(TColor32 F, TColor32& B, uint32_t W);
using TBlendPixel = TColor32 (*)(TColor32 F, TColor32 B);
using TBlendPixelInPlace = void (*)(TColor32 F, TColor32& B);
using TBlendPixelMaster = TColor32 (*)(TColor32 F, TColor32 B, uint32_t M);
using TBlendPixelMasterInPlace = void (*)(TColor32 F, TColor32& B, uint32_t M);
using TBlendRun = void (*)(const TColor32* Src, TColor32* Dst, int32_t Count);
using TBlendRunMaster = void (*)(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t M);

struct TBlendRoutines {
    TMixPixel MixPixel;
    TMixPixelInPlace MixPixelInPlace;
    TBlendPixel BlendPixel;
    TBlendPixelInPlace BlendPixelInPlace;
    TBlendPixelMaster BlendPixelMaster;
    TBlendPixelMasterInPlace BlendPixelMasterInPlace;
    TBlendRun BlendRun;
    TBlendRunMaster BlendRunMaster;
};

// Filled on first use (before any window exists): the vector set when the processor
// test passes and KELVANE_NO_SIMD is not set, the scalar reference otherwise. Both give
// the same pixels: per channel (F * w + B * (256 - w) + 128) shr 8, alpha included, with
// the weight w as each routine defines it. W and M above 255 count as 255.
const TBlendRoutines& BlendRoutines();
bool MmxActive();

// The scalar reference set and the vector set, for tests and benchmarks.
const TBlendRoutines& ScalarBlendRoutines();
const TBlendRoutines* SimdBlendRoutines(); // null when the processor lacks it
// The vector sets one by one (null when the processor lacks them): AVX2 differs from
// SSE2, and AVX-512 from AVX2, only in the run routines. SimdBlendRoutines is whichever of
// AVX-512 and AVX2 (those the processor has and KELVANE_NO_SIMD leaves on) ran the run
// routines faster when first asked, else SSE2.
const TBlendRoutines* Sse2BlendRoutines();
const TBlendRoutines* Avx2BlendRoutines();
const TBlendRoutines* Avx512BlendRoutines();

// Shorthands through the table.
inline TColor32 MixPixel(TColor32 F, TColor32 B, uint32_t W) { return BlendRoutines().MixPixel(F, B, W); }
inline void MixPixelInPlace(TColor32 F, TColor32& B, uint32_t W) { BlendRoutines().MixPixelInPlace(F, B, W); }
inline TColor32 BlendPixel(TColor32 F, TColor32 B) { return BlendRoutines().BlendPixel(F, B); }
inline void BlendPixelInPlace(TColor32 F, TColor32& B) { BlendRoutines().BlendPixelInPlace(F, B); }
inline TColor32 BlendPixelMaster(TColor32 F, TColor32 B, uint32_t M)
{
    return BlendRoutines().BlendPixelMaster(F, B, M);
}
inline void BlendPixelMasterInPlace(TColor32 F, TColor32& B, uint32_t M)
{
    BlendRoutines().BlendPixelMasterInPlace(F, B, M);
}
inline void BlendRun(const TColor32* Src, TColor32* Dst, int32_t Count) { BlendRoutines().BlendRun(Src, Dst, Count); }
inline void BlendRunMaster(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t M)
{
    BlendRoutines().BlendRunMaster(Src, Dst, Count, M);
}

// Entry i = Round(Power(i / 255, 0.7) * 255), for the sub-pixel coverage of line drawing.
const uint8_t* GammaTable();

} // namespace kv
