// Scaled copies and a rotation, drawn as the view and the layers draw them, against
// pixman on the same pixels, printing pixman's time divided by ours (above 1: we are
// faster). Both sides run on one thread.
//
// Jobs: StretchRectBlend (dmOpaque, so every destination pixel is stored) scaling up 2x
// and down 0.5x with each stretch filter (Nearest, Linear, Linear2, Spline), and
// DrawTransformed rotating a square picture 30 degrees about its centre with bilinear
// sampling into a destination of the same size. Inputs: opaque noise at 800 x 600 and
// 1920 x 1080 and ImageMagick's plasma fractal (bench/MagickInputs.h) at 1920 x 1080 for
// the scales; noise at 2000 x 2000 and the plasma at 1000 x 1000 for the rotation.
// pixman gets the same opaque pixels (its premultiplied form equals ours) and the
// matching job (bench/PixmanBench.h): OP_SRC through a scale transform with the NEAREST
// or BILINEAR filter or a separable convolution, and an affine rotation with BILINEAR.
// pixman's OP_SRC writes every destination pixel, the corners the rotation leaves
// transparent too; ours draws onto a destination cleared to transparent, as a new layer
// is, so both results hold the same pixels.
//
// Every job has two lines (see bench/BenchReporter.h): "first", both destinations fresh
// pages (ours sized after the freed-block cache is emptied and the heap trimmed, sized
// for overwrite when the scale stores every pixel, cleared for the rotation; pixman into
// a block mapped for that iteration), as the first draw at a new size; "repeated", both
// into a destination held and written by the run before (ours cleared again before each
// rotation).
#include "raster/Raster32_Transforms.h"

#include "bench/BenchReporter.h"
#include "bench/MagickInputs.h"
#include "bench/PixmanBench.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace kv;
using namespace kvbench;

namespace {

constexpr float RotAngle = 30;

struct TInput {
    std::string Name;
    int W, H;
    bool Magick;
    TBitmap32 Picture;
};

void MakePicture(TInput& In)
{
    if (!In.Picture.IsEmpty())
        return;
    In.Picture.SetSize(In.W, In.H);
    TColor32* bits = In.Picture.Bits();
#ifdef KV_HAVE_IMAGEMAGICK
    if (In.Magick) {
        const std::vector<uint8_t> bgr = MagickPlasmaBgr(In.W, In.H);
        if (bgr.empty()) {
            std::fprintf(stderr, "%s: no picture\n", In.Name.c_str());
            std::exit(1);
        }
        for (size_t i = 0; i < size_t(In.W) * In.H; ++i)
            bits[i] = 0xFF000000u | (uint32_t(bgr[3 * i + 2]) << 16) | (uint32_t(bgr[3 * i + 1]) << 8) | bgr[3 * i];
        return;
    }
#endif
    std::mt19937 rng(uint32_t(In.W));
    for (int64_t i = 0; i < int64_t(In.W) * In.H; ++i)
        bits[i] = rng() | 0xFF000000u;
}

TInput* NewInput(const char* Kind, int W, int H, bool Magick)
{
    return new TInput{std::string(Kind) + "_" + std::to_string(W) + "x" + std::to_string(H), W, H, Magick, {}};
}

// The scale inputs, then the rotation's square ones.
const std::vector<TInput*>& ScaleInputs()
{
    static const std::vector<TInput*> v = {
        NewInput("noise", 800, 600, false),
        NewInput("noise", 1920, 1080, false),
#ifdef KV_HAVE_IMAGEMAGICK
        NewInput("magick_plasma", 1920, 1080, true),
#endif
    };
    return v;
}

const std::vector<TInput*>& RotateInputs()
{
    static const std::vector<TInput*> v = {
        NewInput("noise", 2000, 2000, false),
#ifdef KV_HAVE_IMAGEMAGICK
        NewInput("magick_plasma", 1000, 1000, true),
#endif
    };
    return v;
}

// Ours: Draw into a dw x dh destination in the given state. Overwrite: Draw stores every
// pixel, so a fresh destination needs no clearing; otherwise it starts transparent.
void RunOurs(benchmark::State& State, int dw, int dh, TMemoryState Mem, bool Overwrite,
             const std::function<void(TBitmap32&)>& Draw)
{
    TBitmap32 held;
    if (Mem == TMemoryState::Repeated) {
        held.SetSize(dw, dh);
        Draw(held); // untimed, so that the first timed run finds its blocks held
    }
    for (auto _ : State) {
        if (Mem == TMemoryState::Repeated) {
            if (!Overwrite)
                held.ClearTo(0);
            Draw(held);
            benchmark::DoNotOptimize(held.Bits());
            benchmark::ClobberMemory();
            continue;
        }
        State.PauseTiming();
        DropHeldMemory();
        State.ResumeTiming();
        TBitmap32 dst;
        if (Overwrite)
            dst.SetSizeForOverwrite(dw, dh);
        else
            dst.SetSize(dw, dh);
        Draw(dst);
        benchmark::DoNotOptimize(dst.Bits());
        benchmark::ClobberMemory();
        State.PauseTiming(); // giving the block back is not part of the job
        dst.SetSize(0, 0);
        State.ResumeTiming();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(dw) * dh);
}

struct TJob {
    std::string Name;
    TInput* Input;
    TStretchFilter Filter;
    double Factor;
    TPixmanJob Pixman;
    TMemoryState State;
    bool Rotate;
};

std::vector<TJob> Jobs()
{
    std::vector<TJob> jobs;
    const TPixmanJob pixman[4] = {pjNearest, pjBilinear, pjLinearConv, pjCubicConv};
    const char* names[4] = {"Nearest", "Linear", "Linear2", "Spline"};
    for (TMemoryState state : {TMemoryState::First, TMemoryState::Repeated}) {
        for (TInput* in : ScaleInputs())
            for (double factor : {2.0, 0.5})
                for (int f = 0; f < 4; ++f)
                    jobs.push_back({std::string(names[f]) + (factor > 1 ? "_Up2x_" : "_Down0.5x_") + in->Name + "_" +
                                        StateName(state),
                                    in, TStretchFilter(f), factor, pixman[f], state, false});
        for (TInput* in : RotateInputs())
            jobs.push_back(
                {"Rotate30_Bilinear_" + in->Name + "_" + StateName(state), in, sfLinear, 1, pjBilinear, state, true});
    }
    return jobs;
}

void RunKelvane(benchmark::State& State, const TJob& Job)
{
    TInput& in = *Job.Input;
    MakePicture(in);
    TBitmap32& src = in.Picture;
    src.SetStretchFilter(Job.Filter);
    src.SetDrawMode(dmOpaque);
    if (Job.Rotate) {
        TAffineTransformation t;
        t.SetSourceRect(MakeSingleRect(0, 0, float(in.W), float(in.H)));
        t.Rotate(in.W / 2.0f, in.H / 2.0f, RotAngle);
        RunOurs(State, in.W, in.H, Job.State, false, [&](TBitmap32& dst) { DrawTransformed(&dst, &src, &t); });
        return;
    }
    const int dw = int(in.W * Job.Factor), dh = int(in.H * Job.Factor);
    RunOurs(State, dw, dh, Job.State, true,
            [&](TBitmap32& dst) { StretchRectBlend(&dst, Rect(0, 0, dw, dh), &src, Rect(0, 0, in.W, in.H)); });
}

#ifdef KV_HAVE_PIXMAN
void RunPixman(benchmark::State& State, const TJob& Job)
{
    TInput& in = *Job.Input;
    MakePicture(in);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, in.W, in.H, in.Picture.Bits(), in.W * 4);
    if (Job.Rotate) {
        // Destination to source: about the centre by the same angle.
        pixman_f_transform_t f;
        pixman_f_transform_init_translate(&f, -in.W / 2.0, -in.H / 2.0);
        const double a = RotAngle * M_PI / 180;
        pixman_f_transform_rotate(&f, nullptr, std::cos(a), -std::sin(a));
        pixman_f_transform_translate(&f, nullptr, in.W / 2.0, in.H / 2.0);
        pixman_transform_t t;
        pixman_transform_from_pixman_f_transform(&t, &f);
        pixman_image_set_transform(src, &t);
        pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        RunPixmanJob(State, src, in.W, in.H, Job.State);
        State.SetItemsProcessed(State.iterations() * int64_t(in.W) * in.H);
    } else {
        const int dw = int(in.W * Job.Factor), dh = int(in.H * Job.Factor);
        pixman_fixed_t* params = SetPixmanScale(src, Job.Factor, Job.Pixman);
        RunPixmanJob(State, src, dw, dh, Job.State);
        free(params);
        State.SetItemsProcessed(State.iterations() * int64_t(dw) * dh);
    }
    pixman_image_unref(src);
}
#endif

void RegisterJobs()
{
    for (const TJob& j : Jobs()) {
        benchmark::RegisterBenchmark((j.Name + "/Kelvane").c_str(), [j](benchmark::State& s) { RunKelvane(s, j); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(0.2);
#ifdef KV_HAVE_PIXMAN
        benchmark::RegisterBenchmark((j.Name + "/Pixman").c_str(), [j](benchmark::State& s) { RunPixman(s, j); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(0.2);
#endif
    }
}

} // namespace

int main(int argc, char** argv)
{
    RegisterJobs();
    const int result = RunBenchmarks(argc, argv, [](const TRatioReporter& reporter) {
        for (const TJob& j : Jobs())
            PrintComparison(j.Name + " pixman/ours", reporter.MedianOf(j.Name + "/Kelvane"),
                            reporter.MedianOf(j.Name + "/Pixman"), 1, 1);
#ifndef KV_HAVE_PIXMAN
        std::printf("pixman not found at configure time: no ratio\n");
#endif
    });
#ifdef KV_HAVE_IMAGEMAGICK
    MagickWandTerminus();
#endif
    return result;
}
