// The tone dialogs and commands of the Image and Filters menus: Brightness / Contrast and
// Color Balance change the target live from a kept copy; Sharpness and Softness preview
// through the effect frame. The main window's handlers call the Run... bodies here.
#pragma once

#include "effects/PreviewDialog.h"
#include "platform/DialogForm.h"
#include "raster/Raster32.h"

#include <functional>
#include <vector>

class QCheckBox;
class QRadioButton;

namespace kv {

class IMainForm;
class TGaugeBar;

// The target's pixels as a live dialog found them, kept exactly (all four bytes) and put
// back exactly; the target keeps its own draw mode and master alpha.
class TKeptCopy {
public:
    void Take(IMainForm& Main);
    // Back into the target it was taken from, while that is still the target.
    void Restore(IMainForm& Main);
    void Release();

private:
    TBitmap32 FPixels;
    const TBitmap32* FSource = nullptr; // compared, never dereferenced
};

// The life cycle Brightness / Contrast and Color Balance share: the target's pixels are
// kept when the window opens, every change starts again from them, Reset and Cancel put
// them back, and OK leaves the last change (its command saved the undo step before).
class TLiveDialog : public TDialogForm {
public:
    TLiveDialog(const std::string& Name, QWidget* Owner, IMainForm& MainWindow);
    IMainForm& MainForm;
    void Button3Click(); // Reset

protected:
    // The gauges that stand at 0 whenever the window opens and on Reset.
    std::vector<TGaugeBar*> FGauges;
    // The kept pixels back into the target, then Change on it; nothing without a target.
    void ChangeFromKept(const std::function<void(TBitmap32&)>& Change);
    void FormActivate() override;
    void FormClose() override;

private:
    TKeptCopy FKept;
};

// "Brightness / Contrast": the two steps run in the order of the gauge released last.
class TBrid : public TLiveDialog {
public:
    TBrid(QWidget* Owner, IMainForm& MainWindow);
    TGaugeBar* GaugeBar1 = nullptr; // brightness, -200..200
    TGaugeBar* GaugeBar2 = nullptr; // contrast, -200..200
    void GaugeBar1Release();
    void GaugeBar2Release();
};

// "Color Balance": each change restores the target and applies the three amounts again.
class TGamma : public TLiveDialog {
public:
    TGamma(QWidget* Owner, IMainForm& MainWindow);
    TGaugeBar* GaugeBar1 = nullptr; // red - cyan, -50..50
    TGaugeBar* GaugeBar2 = nullptr; // green - magenta
    TGaugeBar* GaugeBar3 = nullptr; // blue - yellow
    QRadioButton* Speed = nullptr;  // "Best Speed"
    QRadioButton* Qval = nullptr;   // "Best Quality"
    // A gauge released or a radio button clicked.
    void BalanceChange();
};

// "Sharpness": Value 2..5 is the sharpen's Alpha.
class TEffect : public TPreviewDialog {
public:
    TEffect(QWidget* Owner, IMainForm& MainWindow);
    TGaugeBar* Value = nullptr;
    void ApplyPreview(IMainForm& Main) override;
};

// "Softness": Value 1..100; with "Soft Focus" one blur at that distance, else Value + 1
// passes at distance 3.
class TDeFoc : public TPreviewDialog {
public:
    TDeFoc(QWidget* Owner, IMainForm& MainWindow);
    TGaugeBar* Value = nullptr;
    QCheckBox* Ras = nullptr; // "Soft Focus"
    void ApplyPreview(IMainForm& Main) override;
};

// The frame around each filter, on the current target.
void SharpenBitmap(IMainForm& Main, int32_t Alpha);
enum class TSoftFocus : uint8_t { Off, On };
void SoftenBitmap(IMainForm& Main, int32_t Value, TSoftFocus Focus);
void GrayscaleBitmap(IMainForm& Main);

// The commands. Each does nothing when the selection is no picture layer or the
// background is empty, and leaves PreviewBackup empty however it ends.
void RunBrightnessContrast(IMainForm& Main, TBrid& Brid);
void RunColorBalance(IMainForm& Main, TGamma& Gamma);
void RunSharpen(IMainForm& Main, TEffect& Effect);
void RunSharpness(IMainForm& Main, TEffect& Effect);
void RunSoften(IMainForm& Main, TDeFoc& DeFoc);
void RunSoftness(IMainForm& Main, TDeFoc& DeFoc);
void RunGrayscale(IMainForm& Main);

} // namespace kv
