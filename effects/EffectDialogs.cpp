#include "effects/EffectDialogs.h"

#include "effects/MainWindowFace.h"
#include "raster/Raster32_RangeBars.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace kv {

TEffectDialog::TEffectDialog(const std::string& Name, const std::string& Caption, QWidget* Owner, IMainForm& MainWindow)
    : TPreviewDialog(Name, Owner, MainWindow)
{
    SetCaption(Caption);
    SetDialogBorder();
    Body = new QVBoxLayout(this);
}

TEffectDialog::~TEffectDialog() = default;

TGaugeBar* TEffectDialog::AddGauge(const std::string& Label, int32_t Max)
{
    auto* Gauge = new TGaugeBar(this);
    Gauge->SetShowHandleGrip(true);
    Gauge->SetMin(1);
    Gauge->SetMax(Max);
    Gauge->SetPosition(1);
    Gauge->setMinimumSize(200, 16);
    if (!Label.empty())
        Body->addWidget(new QLabel(QString::fromStdString(Label), this));
    Body->addWidget(Gauge);
    return Gauge;
}

void TEffectDialog::AddButtons() { Body->addLayout(MakePreviewButtons()); }

void TEffectDialog::ApplyPreview(IMainForm& Main) { ApplyEffect(Main, EffectName(), Settings()); }

TSprayWin::TSprayWin(QWidget* Owner, IMainForm& MainWindow) : TEffectDialog("TSprayWin", "Spray", Owner, MainWindow)
{
    Value = AddGauge("", 100);
    AddButtons();
}

TEffectSettings TSprayWin::Settings() const
{
    TEffectSettings S;
    S.SprayAmount = Value->Position();
    return S;
}

TPosta::TPosta(QWidget* Owner, IMainForm& MainWindow) : TEffectDialog("TPosta", "Posterize", Owner, MainWindow)
{
    Value = AddGauge("", 100);
    AddButtons();
}

TEffectSettings TPosta::Settings() const
{
    TEffectSettings S;
    S.PosterizeLevel = Value->Position();
    return S;
}

TWaves::TWaves(QWidget* Owner, IMainForm& MainWindow) : TEffectDialog("TWaves", "Wave", Owner, MainWindow)
{
    auto* Box = new QGroupBox("Settings", this);
    QVBoxLayout* Outer = Body;
    Body = new QVBoxLayout(Box);
    Value = AddGauge("Amplitude", 100);
    Interf = AddGauge("Interference", 15);
    Body->addWidget(new QLabel("Frequency", Box));
    Nu = new QComboBox(Box);
    Nu->addItems({"Low", "Medium", "High"});
    Nu->setCurrentIndex(0);
    Body->addWidget(Nu);
    Outer->addWidget(Box);
    Body = Outer;
    AddButtons();
}

TEffectSettings TWaves::Settings() const
{
    TEffectSettings S;
    S.WaveAmplitude = Value->Position();
    S.WaveInterference = Interf->Position();
    S.WaveMode = Nu->currentIndex();
    return S;
}

void TWaves::FormActivate() { Nu->setCurrentIndex(0); }

TMarb::TMarb(QWidget* Owner) : TDialogForm("TMarb", Owner) { SetDialogBorder(); }

} // namespace kv
