// pixman's side of the scaling and rotating benchmarks: the scale set-ups matching our
// stretch filters, and one OP_SRC job timed into a destination in a given memory state
// (bench/BenchReporter.h).
#pragma once

#include "bench/BenchReporter.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

#ifdef KV_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace kvbench {

// pixman's nearest job for a filter of ours: NEAREST, BILINEAR, or a separable
// convolution with linear or cubic reconstruction (box sampling when shrinking, which
// averages every source pixel under the tent as our filtered shrinks do).
enum TPixmanJob { pjNearest, pjBilinear, pjLinearConv, pjCubicConv };

#ifdef KV_HAVE_PIXMAN
// Gives Src a scale by Factor (edges padded) through the filter of Kind; returns the
// convolution's parameters, which the caller frees after the last composite.
inline pixman_fixed_t* SetPixmanScale(pixman_image_t* Src, double Factor, TPixmanJob Kind)
{
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(1 / Factor), pixman_double_to_fixed(1 / Factor));
    pixman_image_set_transform(Src, &t);
    pixman_image_set_repeat(Src, PIXMAN_REPEAT_PAD);
    if (Kind == pjNearest) {
        pixman_image_set_filter(Src, PIXMAN_FILTER_NEAREST, nullptr, 0);
        return nullptr;
    }
    if (Kind == pjBilinear) {
        pixman_image_set_filter(Src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        return nullptr;
    }
    int n = 0;
    const pixman_kernel_t reconstruct = Kind == pjCubicConv ? PIXMAN_KERNEL_CUBIC : PIXMAN_KERNEL_LINEAR;
    const pixman_kernel_t sample = Factor < 1 ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_IMPULSE;
    const pixman_fixed_t scale = pixman_double_to_fixed(1 / Factor);
    pixman_fixed_t* params =
        pixman_filter_create_separable_convolution(&n, scale, scale, reconstruct, reconstruct, sample, sample, 4, 4);
    pixman_image_set_filter(Src, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
    return params;
}

// OP_SRC from Src into a dw x dh destination in the given state: fresh pages mapped in
// the timed part (after every held block is given back), or one block kept and written
// by an untimed run first. Refresh, when given, runs untimed before every composite: it
// rewrites the source as our side's untimed working copy is rewritten, so that neither
// side starts with source rows its previous run left in the cache.
inline void RunPixmanJob(benchmark::State& State, pixman_image_t* Src, int dw, int dh, TMemoryState Mem,
                         const std::function<void()>& Refresh = {})
{
    const size_t bytes = size_t(dw) * dh * 4;
    std::unique_ptr<TReferenceBlock> held;
    pixman_image_t* heldImage = nullptr;
    if (Mem == TMemoryState::Repeated) {
        held = std::make_unique<TReferenceBlock>(bytes);
        held->Warm();
        heldImage =
            pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, reinterpret_cast<uint32_t*>(held->Data()), dw * 4);
    }
    for (auto _ : State) {
        if (Refresh) {
            State.PauseTiming();
            Refresh();
            State.ResumeTiming();
        }
        if (heldImage) {
            pixman_image_composite32(PIXMAN_OP_SRC, Src, nullptr, heldImage, 0, 0, 0, 0, 0, 0, dw, dh);
            benchmark::DoNotOptimize(held->Data());
            benchmark::ClobberMemory();
            continue;
        }
        State.PauseTiming();
        DropHeldMemory();
        State.ResumeTiming();
        auto fresh = std::make_unique<TReferenceBlock>(bytes);
        pixman_image_t* dst =
            pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, reinterpret_cast<uint32_t*>(fresh->Data()), dw * 4);
        pixman_image_composite32(PIXMAN_OP_SRC, Src, nullptr, dst, 0, 0, 0, 0, 0, 0, dw, dh);
        benchmark::DoNotOptimize(fresh->Data());
        benchmark::ClobberMemory();
        State.PauseTiming(); // giving the pages back is not part of the job, as ours keeps its result
        pixman_image_unref(dst);
        fresh.reset();
        State.ResumeTiming();
    }
    if (heldImage)
        pixman_image_unref(heldImage);
}
#endif

} // namespace kvbench
