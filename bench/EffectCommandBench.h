// Every filter and adjustment on a 24-megapixel (6000 x 4000) layer, run as
// its command runs it: through the frame's 24-bit working copies and back, the layer's
// alpha kept aside and given back, the preview backup refreshed; the live adjustments
// restore their kept copy before each application, as a gauge release does. One thread,
// wall-clock time of one command per iteration; the picture is reloaded untimed.
// Sharpen, Soften and Invert also run as the first command after a picture is opened
// ("Command24MP_first_..."): no working copy, backup or flattened picture yet and no
// freed block held, so every block the command takes is fresh pages. The ratio of the
// first run to the repeated one is printed by PrintFirstCommandRatios.
#pragma once

#include "bench/BenchEffects.h"
#include "bench/BenchReporter.h"
#include "effects/AdjustDialogs.h"
#include "effects/ApplyEffects.h"
#include "effects/EffectFrame.h"
#include "effects/MainWindowFace.h"
#include "fx/Adjustments.h"
#include "fx/EffectRandom.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <string>

namespace kvcommand {

using namespace kv;

constexpr int32_t CommandWidth = 6000, CommandHeight = 4000; // 24 megapixels

// A main window with one selected picture layer and nothing else.
class TBenchMain : public IMainForm {
public:
    TBenchMain()
    {
        FView.Bitmap()->SetSize(CommandWidth, CommandHeight);
        FLayer = new TBitmapLayer(FView.Layers());
        Reload();
    }
    // A photo-like gradient with grain, and an alpha that runs from clear to opaque.
    void Reload()
    {
        TBitmap32* B = FLayer->Bitmap();
        B->SetSize(CommandWidth, CommandHeight);
        uint32_t Grain = 20261209u;
        for (int32_t Y = 0; Y < CommandHeight; ++Y) {
            TColor32* Row = B->Bits() + int64_t(Y) * CommandWidth;
            for (int32_t X = 0; X < CommandWidth; ++X) {
                Grain = Grain * 1664525u + 1013904223u;
                const uint32_t Blue = (X * 255 / CommandWidth + (Grain >> 28)) & 0xFF;
                const uint32_t Green = (Y * 255 / CommandHeight + ((Grain >> 24) & 15)) & 0xFF;
                const uint32_t Red = ((X + Y) * 255 / (CommandWidth + CommandHeight) + ((Grain >> 20) & 15)) & 0xFF;
                const uint32_t Alpha = X * 255 / (CommandWidth - 1);
                Row[X] = (Alpha << 24) | (Red << 16) | (Green << 8) | Blue;
            }
        }
    }
    // As just after an open: the command's own copies not made yet.
    void ForgetWorkingCopies()
    {
        FFlat.SetSize(0, 0);
        FScratch.SetSize(0, 0);
        FBackup.SetSize(0, 0);
    }
    TImgView32* View() override { return &FView; }
    TPositionedLayer* SelectedLayer() override { return FLayer; }
    void SetSelection(TPositionedLayer*) override {}
    void LayerMouseDown(TObject*, TMouseButton, TShiftState, int32_t, int32_t) override {}
    void RemoveFrameLayers() override {}
    TBitmap32* RenderFlattened() override { return &FFlat; }
    TBitmap32* FlatImage() override { return &FFlat; }
    void ReleaseFlatImage() override {}
    int32_t LayerOpacityPosition() override { return 255; }
    int32_t LayerCountBeforeText() override { return 1; }
    TBitmap32* AlphaScratch() override { return &FScratch; }
    TBitmap32* PreviewBackup() override { return &FBackup; }
    void SaveUndoEffect() override {}
    void SaveUndoSize() override {}
    void SaveUndoCanvas() override {}
    void SaveUndoCrop() override {}
    void SetUndoCropOffset(int32_t, int32_t) override {}
    void SaveUndoGeometry() override {}
    void RestoreLayerBitmap(TBitmap32*, int32_t, const TSingleRect&) override {}

private:
    TImgView32 FView;
    TBitmapLayer* FLayer = nullptr; // owned by the view's layer collection
    TBitmap32 FFlat, FScratch, FBackup;
};

inline TBenchMain& Main()
{
    static TBenchMain M;
    return M;
}

inline void TimeCommand(benchmark::State& State, const std::function<void(IMainForm&)>& Run, bool First = false)
{
    if (!First) {
        // Untimed, so that even the first timed run finds the command's blocks held.
        Main().Reload();
        TPreviewBackupGuard Command(Main());
        Run(Main());
    }
    for (auto _ : State) {
        State.PauseTiming();
        Main().Reload();
        if (First) {
            Main().ForgetWorkingCopies();
            kvbench::DropHeldMemory();
        }
        State.ResumeTiming();
        TPreviewBackupGuard Command(Main()); // the working copies are released as the command ends
        Run(Main());
        benchmark::ClobberMemory();
    }
}

// The live dialogs' gauge release: the target takes the kept copy back, then the change.
inline void TimeLive(benchmark::State& State, const std::function<void(TBitmap32&)>& Apply)
{
    TKeptCopy Kept;
    Kept.Take(Main());
    TimeCommand(State, [&](IMainForm& M) {
        Kept.Restore(M);
        Apply(*EffectTarget(M));
    });
}

inline void RegisterCommands()
{
    auto Register = [](const std::string& Name, const std::function<void(benchmark::State&)>& Run) {
        benchmark::RegisterBenchmark(("Command24MP_" + Name).c_str(), Run)
            ->Iterations(3)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    };
    TEffectSettings Settings;
    Settings.SprayAmount = 10;
    Settings.PosterizeLevel = 51;
    Settings.WaveAmplitude = 10;
    Settings.WaveInterference = 5;
    Settings.WaveMode = 2;
    Settings.Colorize = TColor(0x77BFC8);
    for (const char* Name : {"spray", "post", "wave", "mosa", "emboss", "ripple_7", "ripple_12", "ripple_24", "invert"})
        Register(Name, [=](auto& S) {
            TimeCommand(S, [&](IMainForm& M) {
                RandSeed(1);
                ApplyEffect(M, Name, Settings);
            });
        });
    for (const char* Name : {"color", "mona"})
        Register(Name, [=](auto& S) { TimeCommand(S, [&](IMainForm& M) { ApplyNoise(M, Name, Settings); }); });
    Register("sepia", [=](auto& S) {
        TimeCommand(S, [&](IMainForm& M) {
            ApplyNoise(M, "mod", Settings);
            AdjustBrightness(*EffectTarget(M), 150);
        });
    });
    Register("sharpen", [](auto& S) { TimeCommand(S, [](IMainForm& M) { SharpenBitmap(M, 5); }); });
    Register("soften", [](auto& S) { TimeCommand(S, [](IMainForm& M) { SoftenBitmap(M, 1, TSoftFocus::On); }); });
    Register("first_sharpen", [](auto& S) {
        TimeCommand(
            S, [](IMainForm& M) { SharpenBitmap(M, 5); }, true);
    });
    Register("first_soften", [](auto& S) {
        TimeCommand(
            S, [](IMainForm& M) { SoftenBitmap(M, 1, TSoftFocus::On); }, true);
    });
    Register("first_invert", [](auto& S) {
        TimeCommand(
            S,
            [](IMainForm& M) {
                RandSeed(1);
                ApplyEffect(M, "invert", TEffectSettings());
            },
            true);
    });
    Register("softness_focus_100",
             [](auto& S) { TimeCommand(S, [](IMainForm& M) { SoftenBitmap(M, 100, TSoftFocus::On); }); });
    Register("softness_100",
             [](auto& S) { TimeCommand(S, [](IMainForm& M) { SoftenBitmap(M, 100, TSoftFocus::Off); }); });
    Register("grayscale", [](auto& S) { TimeCommand(S, [](IMainForm& M) { GrayscaleBitmap(M); }); });
    Register("brightness_contrast", [](auto& S) {
        TimeLive(S, [](TBitmap32& B) {
            AdjustBrightness(B, 60);
            AdjustContrast(B, 40);
        });
    });
    Register("balance_speed", [](auto& S) { TimeLive(S, [](TBitmap32& B) { ColorBalanceSpeed(B, -20, 10, 30); }); });
    Register("balance_quality",
             [](auto& S) { TimeLive(S, [](TBitmap32& B) { ColorBalanceQuality(B, -20, 10, 30); }); });
}

// The first command after an open against the same command run again: at most 2 x.
inline void PrintFirstCommandRatios(const kvbench::TRatioReporter& R)
{
    for (const char* Name : {"sharpen", "soften", "invert"}) {
        const double First = R.MedianOf(std::string("Command24MP_first_") + Name);
        const double Again = R.MedianOf(std::string("Command24MP_") + Name);
        if (First > 0 && Again > 0)
            std::printf("first %-8s after an open / again %5.2f (first %8.1f ms, again %8.1f ms, one thread)%s\n", Name,
                        First / Again, First, Again, First / Again > 2 ? "  ABOVE 2" : "");
    }
}

} // namespace kvcommand
