#include "effects/AdjustDialogs.h"

#include "effects/EffectFrame.h"
#include "effects/MainWindowFace.h"
#include "fx/Adjustments.h"
#include "fx/ToneFilters.h"
#include "platform/Forms.h"
#include "raster/Raster32_RangeBars.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kv {

namespace {

TGaugeBar* MakeGauge(QWidget* Owner, int32_t Min, int32_t Max, int32_t Position)
{
    auto* Bar = new TGaugeBar(Owner);
    Bar->SetMax(Max);
    Bar->SetMin(Min);
    Bar->SetPosition(Position);
    Bar->SetShowHandleGrip(true);
    Bar->setMinimumSize(200, 16);
    return Bar;
}

// A gauge's release runs Handler, inside SafeCall like every handler of the event loop.
void OnRelease(TGaugeBar* Bar, TObject* Sender, std::function<void()> Handler)
{
    Bar->OnMouseUp = [Sender, Handler](TObject*, TMouseButton, TShiftState, int32_t, int32_t) {
        SafeCall(Handler, Sender);
    };
}

QHBoxLayout* LabelledRow(QWidget* Owner, const char* Left, QWidget* Control, const char* Right = nullptr)
{
    auto* Row = new QHBoxLayout;
    Row->addWidget(new QLabel(Left, Owner));
    Row->addWidget(Control, 1);
    if (Right)
        Row->addWidget(new QLabel(Right, Owner));
    return Row;
}

// While a live dialog is open the side panel shows full opacity; it gets its own value
// back however the dialog ends.
class TFullOpacityWhileOpen {
public:
    explicit TFullOpacityWhileOpen(IMainForm& Main) : FMain(Main), FOld(Main.LayerOpacityPosition())
    {
        if (FOld != 255)
            FMain.SetLayerOpacityPosition(255);
    }
    ~TFullOpacityWhileOpen()
    {
        if (FOld != 255)
            FMain.SetLayerOpacityPosition(FOld);
    }
    TFullOpacityWhileOpen(const TFullOpacityWhileOpen&) = delete;
    TFullOpacityWhileOpen& operator=(const TFullOpacityWhileOpen&) = delete;

private:
    IMainForm& FMain;
    int32_t FOld;
};

void RunLiveDialog(IMainForm& Main, TDialogForm& Dialog)
{
    if (!CommandTarget(Main))
        return;
    Main.SaveUndoEffect();
    TFullOpacityWhileOpen Opacity(Main);
    Dialog.ShowModal();
}

} // namespace

// ---- TKeptCopy ----------------------------------------------------------------------

void TKeptCopy::Take(IMainForm& Main)
{
    TBitmap32* Target = EffectTarget(Main);
    FSource = Target;
    if (Target)
        CopyPixelsExactly(*Target, FPixels);
    else
        FPixels.SetSize(0, 0);
}

void TKeptCopy::Restore(IMainForm& Main)
{
    TBitmap32* Target = EffectTarget(Main);
    if (!Target || Target != FSource)
        return;
    CopyPixelsExactly(FPixels, *Target);
    Target->Changed();
}

void TKeptCopy::Release()
{
    FPixels.SetSize(0, 0);
    FSource = nullptr;
}

// ---- TLiveDialog --------------------------------------------------------------------

TLiveDialog::TLiveDialog(const std::string& Name, QWidget* Owner, IMainForm& MainWindow)
    : TDialogForm(Name, Owner), MainForm(MainWindow)
{
}

void TLiveDialog::FormActivate()
{
    for (TGaugeBar* Bar : FGauges)
        Bar->SetPosition(0);
    FKept.Take(MainForm);
}

void TLiveDialog::ChangeFromKept(const std::function<void(TBitmap32&)>& Change)
{
    TBitmap32* Target = EffectTarget(MainForm);
    if (!Target)
        return;
    FKept.Restore(MainForm);
    Change(*Target);
    Target->Changed();
}

void TLiveDialog::Button3Click()
{
    for (TGaugeBar* Bar : FGauges)
        Bar->SetPosition(0);
    FKept.Restore(MainForm);
}

void TLiveDialog::FormClose()
{
    if (ModalResult() != mrOk)
        FKept.Restore(MainForm);
    FKept.Release();
}

// ---- TBrid --------------------------------------------------------------------------

TBrid::TBrid(QWidget* Owner, IMainForm& MainWindow) : TLiveDialog("TBrid", Owner, MainWindow)
{
    SetCaption("Brightness / Contrast");
    SetDialogBorder();
    GaugeBar1 = MakeGauge(this, -200, 200, 0);
    GaugeBar2 = MakeGauge(this, -200, 200, 0);
    FGauges = {GaugeBar1, GaugeBar2};
    OnRelease(GaugeBar1, this, [this] { GaugeBar1Release(); });
    OnRelease(GaugeBar2, this, [this] { GaugeBar2Release(); });
    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(AddButton("Reset", mrNone, [this] { Button3Click(); }));
    Buttons->addStretch();
    Buttons->addWidget(AddButton("OK", mrOk));
    Buttons->addWidget(AddButton("Cancel", mrCancel));
    auto* Main = new QVBoxLayout(this);
    Main->addLayout(LabelledRow(this, "Brightness", GaugeBar1));
    Main->addLayout(LabelledRow(this, "Contrast", GaugeBar2));
    Main->addLayout(Buttons);
}

void TBrid::GaugeBar1Release()
{
    ChangeFromKept([this](TBitmap32& Target) {
        AdjustBrightness(Target, GaugeBar1->Position());
        AdjustContrast(Target, GaugeBar2->Position());
    });
}

void TBrid::GaugeBar2Release()
{
    ChangeFromKept([this](TBitmap32& Target) {
        AdjustContrast(Target, GaugeBar2->Position());
        AdjustBrightness(Target, GaugeBar1->Position());
    });
}

// ---- TGamma -------------------------------------------------------------------------

TGamma::TGamma(QWidget* Owner, IMainForm& MainWindow) : TLiveDialog("TGamma", Owner, MainWindow)
{
    SetCaption("Color Balance");
    SetDialogBorder();
    GaugeBar1 = MakeGauge(this, -50, 50, 0);
    GaugeBar2 = MakeGauge(this, -50, 50, 0);
    GaugeBar3 = MakeGauge(this, -50, 50, 0);
    FGauges = {GaugeBar1, GaugeBar2, GaugeBar3};
    for (TGaugeBar* Bar : {GaugeBar1, GaugeBar2, GaugeBar3})
        OnRelease(Bar, this, [this] { BalanceChange(); });
    auto* Balance = new QGroupBox("Set Color Balance", this);
    auto* BalanceRows = new QVBoxLayout(Balance);
    BalanceRows->addLayout(LabelledRow(Balance, "Red", GaugeBar1, "Cyan"));
    BalanceRows->addLayout(LabelledRow(Balance, "Green", GaugeBar2, "Magenta"));
    BalanceRows->addLayout(LabelledRow(Balance, "Blue", GaugeBar3, "Yellow"));
    auto* Quality = new QGroupBox("Quality", this);
    Speed = new QRadioButton("Best Speed", Quality);
    Qval = new QRadioButton("Best Quality", Quality);
    Speed->setChecked(true);
    auto* QualityRow = new QHBoxLayout(Quality);
    QualityRow->addWidget(Speed);
    QualityRow->addWidget(Qval);
    for (QRadioButton* Radio : {Speed, Qval})
        connect(Radio, &QRadioButton::clicked, this, [this] { SafeCall([this] { BalanceChange(); }, this); });
    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(AddButton("Reset", mrNone, [this] { Button3Click(); }));
    Buttons->addStretch();
    Buttons->addWidget(AddButton("OK", mrOk));
    Buttons->addWidget(AddButton("Cancel", mrCancel));
    auto* Main = new QVBoxLayout(this);
    Main->addWidget(Balance);
    Main->addWidget(Quality);
    Main->addLayout(Buttons);
}

void TGamma::BalanceChange()
{
    ChangeFromKept([this](TBitmap32& Target) {
        // Each gauge runs from its colour on the left to the opposite colour on the right,
        // so moving it right takes that much of its own colour away.
        const int32_t R = -GaugeBar1->Position(), G = -GaugeBar2->Position(), B = -GaugeBar3->Position();
        if (Speed->isChecked())
            ColorBalanceSpeed(Target, R, G, B);
        else
            ColorBalanceQuality(Target, R, G, B);
    });
}

// ---- TEffect and TDeFoc -------------------------------------------------------------

TEffect::TEffect(QWidget* Owner, IMainForm& MainWindow) : TPreviewDialog("TEffect", Owner, MainWindow)
{
    SetCaption("Sharpness");
    SetDialogBorder();
    Value = MakeGauge(this, 2, 5, 2);
    auto* Main = new QVBoxLayout(this);
    Main->addWidget(Value);
    Main->addLayout(MakePreviewButtons());
}

void TEffect::ApplyPreview(IMainForm& Main) { SharpenBitmap(Main, Value->Position()); }

TDeFoc::TDeFoc(QWidget* Owner, IMainForm& MainWindow) : TPreviewDialog("TDeFoc", Owner, MainWindow)
{
    SetCaption("Softness");
    SetDialogBorder();
    Value = MakeGauge(this, 1, 100, 1);
    Ras = new QCheckBox("Soft Focus", this);
    auto* Main = new QVBoxLayout(this);
    Main->addWidget(Value);
    Main->addWidget(Ras);
    Main->addLayout(MakePreviewButtons());
}

void TDeFoc::ApplyPreview(IMainForm& Main)
{
    SoftenBitmap(Main, Value->Position(), Ras->isChecked() ? TSoftFocus::On : TSoftFocus::Off);
}

// ---- The filters in the frame -------------------------------------------------------

void SharpenBitmap(IMainForm& Main, int32_t Alpha)
{
    RunEffectFrame(Main, [Alpha](TBitmap& First, TBitmap& Second) {
        Convolve3x3(First, Second, float(Alpha));
        return TEffectResult::Second;
    });
}

void SoftenBitmap(IMainForm& Main, int32_t Value, TSoftFocus Focus)
{
    RunEffectFrame(
        Main,
        [Value, Focus](TBitmap& First, TBitmap&) {
            if (Focus == TSoftFocus::On)
                DiagonalBlur(First, Value);
            else
                RepeatBlur(First, Value);
            return TEffectResult::First;
        },
        TSecondCopy::Unused);
}

void GrayscaleBitmap(IMainForm& Main)
{
    RunEffectFrame(
        Main,
        [](TBitmap& First, TBitmap&) {
            GrayScale(First);
            return TEffectResult::First;
        },
        TSecondCopy::Unused);
}

// ---- The commands -------------------------------------------------------------------

void RunBrightnessContrast(IMainForm& Main, TBrid& Brid) { RunLiveDialog(Main, Brid); }

void RunColorBalance(IMainForm& Main, TGamma& Gamma) { RunLiveDialog(Main, Gamma); }

void RunSharpen(IMainForm& Main, TEffect& Effect)
{
    RunFilterCommand(Main, [&] {
        Effect.Value->SetPosition(5);
        SharpenBitmap(Main, 5);
    });
}

void RunSharpness(IMainForm& Main, TEffect& Effect) { RunPreviewDialog(Main, Effect); }

void RunSoften(IMainForm& Main, TDeFoc& DeFoc)
{
    RunFilterCommand(Main, [&] {
        DeFoc.Value->SetPosition(1);
        DeFoc.Ras->setChecked(true);
        SoftenBitmap(Main, 1, TSoftFocus::On);
    });
}

void RunSoftness(IMainForm& Main, TDeFoc& DeFoc) { RunPreviewDialog(Main, DeFoc); }

void RunGrayscale(IMainForm& Main)
{
    RunFilterCommand(Main, [&] { GrayscaleBitmap(Main); });
}

} // namespace kv
