#include "raster/Raster32_Blend.h"

#include "platform/CpuFeatures.h"
#include "raster/Raster32_CPUid.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kv {

// The run routines of the AVX2 source (compiled with -mavx2, reached only after the
// processor test).
#if defined(__x86_64__) || defined(__i386__)
void Avx2BlendRun(const uint32_t* Src, uint32_t* Dst, int32_t Count);
void Avx2BlendRunMaster(const uint32_t* Src, uint32_t* Dst, int32_t Count, uint32_t M);
#endif
// And those of the AVX-512 source (compiled for it by a pragma of its own).
#if defined(__x86_64__) && defined(__GNUC__)
void Avx512BlendRun(const uint32_t* Src, uint32_t* Dst, int32_t Count);
void Avx512BlendRunMaster(const uint32_t* Src, uint32_t* Dst, int32_t Count, uint32_t M);
#endif

namespace {

// Every routine mixes all four channels with the arithmetic of the 16-bit-lane vector
// code that pictures were always made with: c = (F * w + B * (256 - w) + 128) shr 8.
// Each channel stays below 65536 (at most 255 * 256 + 128), so two channels share a
// 32-bit word without carrying into each other.
inline TColor32 Mix(TColor32 F, TColor32 B, uint32_t W)
{
    uint32_t V = 256 - W;
    uint32_t RB = (((F & 0x00FF00FF) * W + (B & 0x00FF00FF) * V + 0x00800080) >> 8) & 0x00FF00FF;
    uint32_t AG = (((F >> 8) & 0x00FF00FF) * W + ((B >> 8) & 0x00FF00FF) * V + 0x00800080) & 0xFF00FF00;
    return AG | RB;
}

inline uint32_t LimitByte(uint32_t X) { return X > 255 ? 255 : X; }
inline uint32_t MasterWeight(TColor32 F, uint32_t M) { return ((F >> 24) * LimitByte(M)) >> 8; }

TColor32 ScalarMixPixel(TColor32 F, TColor32 B, uint32_t W) { return Mix(F, B, LimitByte(W)); }

void ScalarMixPixelInPlace(TColor32 F, TColor32& B, uint32_t W)
{
    W = LimitByte(W);
    if (W == 0)
        return;
    B = W == 255 ? F : Mix(F, B, W);
}

TColor32 ScalarBlendPixel(TColor32 F, TColor32 B) { return Mix(F, B, F >> 24); }

void ScalarBlendPixelInPlace(TColor32 F, TColor32& B)
{
    uint32_t A = F >> 24;
    if (A == 0)
        return;
    B = A == 255 ? F : Mix(F, B, A);
}

// The master forms never store F as it stands: their weight is at most 254.
TColor32 ScalarBlendPixelMaster(TColor32 F, TColor32 B, uint32_t M)
{
    uint32_t W = MasterWeight(F, M);
    return W == 0 ? B : Mix(F, B, W);
}

void ScalarBlendPixelMasterInPlace(TColor32 F, TColor32& B, uint32_t M)
{
    uint32_t W = MasterWeight(F, M);
    if (W != 0)
        B = Mix(F, B, W);
}

void ScalarBlendRun(const TColor32* Src, TColor32* Dst, int32_t Count)
{
    for (int32_t I = 0; I < Count; ++I)
        ScalarBlendPixelInPlace(Src[I], Dst[I]);
}

void ScalarBlendRunMaster(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t M)
{
    for (int32_t I = 0; I < Count; ++I)
        ScalarBlendPixelMasterInPlace(Src[I], Dst[I], M);
}

struct TBlendSelection {
    const TBlendRoutines* Routines;
    bool Mmx;
};

TBlendSelection SelectBlendRoutines()
{
    const TBlendRoutines* Simd = SimdBlendRoutines();
    if (Simd != nullptr && SimdAllowed(TSimdLevel::Mmx))
        return {Simd, true};
    return {&ScalarBlendRoutines(), false};
}

const TBlendSelection& Selection()
{
    static const TBlendSelection S = SelectBlendRoutines();
    return S;
}

} // namespace

const TBlendRoutines& ScalarBlendRoutines()
{
    static const TBlendRoutines R{ScalarMixPixel,          ScalarMixPixelInPlace,  ScalarBlendPixel,
                                  ScalarBlendPixelInPlace, ScalarBlendPixelMaster, ScalarBlendPixelMasterInPlace,
                                  ScalarBlendRun,          ScalarBlendRunMaster};
    return R;
}

const TBlendRoutines* Avx2BlendRoutines()
{
#if defined(__x86_64__) || defined(__i386__)
    static const TBlendRoutines* R = []() -> const TBlendRoutines* {
        const TBlendRoutines* Base = Sse2BlendRoutines();
        if (Base == nullptr || !CpuHasAvx2())
            return nullptr;
        static TBlendRoutines T = *Base;
        T.BlendRun = Avx2BlendRun;
        T.BlendRunMaster = Avx2BlendRunMaster;
        return &T;
    }();
    return R;
#else
    return nullptr;
#endif
}

const TBlendRoutines* Avx512BlendRoutines()
{
#if defined(__x86_64__) && defined(__GNUC__)
    static const TBlendRoutines* R = []() -> const TBlendRoutines* {
        const TBlendRoutines* Base = Avx2BlendRoutines();
        if (Base == nullptr || !CpuHasAvx512Bw())
            return nullptr;
        static TBlendRoutines T = *Base;
        T.BlendRun = Avx512BlendRun;
        T.BlendRunMaster = Avx512BlendRunMaster;
        return &T;
    }();
    return R;
#else
    return nullptr;
#endif
}

// The widest level present and allowed, in a fixed order rather than a timing at start-up:
// timed one by one, each wider level ran both run routines at least as fast as the
// narrower ones, on a quiet machine and on a loaded one, and on whole frames the wide
// levels are bound by memory, not arithmetic. A start-up timing fits only a small block
// in cache, so it would weigh the arithmetic the frames do not wait on, and on a loaded
// machine it would pick by the scheduler's noise, a different set from run to run.
const TBlendRoutines* SimdBlendRoutines()
{
    if (SimdAllowed(TSimdLevel::Avx512) && Avx512BlendRoutines() != nullptr)
        return Avx512BlendRoutines();
    if (SimdAllowed(TSimdLevel::Avx2) && Avx2BlendRoutines() != nullptr)
        return Avx2BlendRoutines();
    return SimdAllowed(TSimdLevel::Sse2) ? Sse2BlendRoutines() : nullptr;
}

const TBlendRoutines& BlendRoutines() { return *Selection().Routines; }

bool MmxActive() { return Selection().Mmx; }

const uint8_t* GammaTable()
{
    struct TGamma {
        uint8_t Entry[256];
        TGamma()
        {
            const double Gamma = 0.7;
            for (int I = 0; I < 256; ++I)
                Entry[I] = uint8_t(std::nearbyint(std::pow(I / 255.0, Gamma) * 255.0));
        }
    };
    static const TGamma Table;
    return Table.Entry;
}

} // namespace kv
