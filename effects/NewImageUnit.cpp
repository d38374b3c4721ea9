#include "effects/NewImageUnit.h"

#include "effects/BackgroundGroup.h"
#include "fx/BackFill.h"
#include "raster/Raster32.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace kv {

TNewImageForm::TNewImageForm(QWidget* Owner) : TDialogForm("TNewImageForm", Owner)
{
    SetCaption("New Project");
    SetDialogBorder();
    ColorDialog1.Color = clWhite;

    auto* size = new QGroupBox("Size and Proportions", this);
    QGridLayout* sg = AddSizeRows(size, 2000, 640, 480, UpDown1, UpDown2);
    ComboBox1 = new QComboBox(size);
    ComboBox1->addItems({"Free", "Square", "Golden Ratio", "9:12", "10:15", "15:21", "16:9"});
    sg->addWidget(new QLabel("Proportion", size), 2, 0);
    sg->addWidget(ComboBox1, 2, 1, 1, 2);
    QGroupBox* back = BuildBackgroundGroup(this, "Left-Right Style", BackgroundControls());

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AddButton("OK", mrOk));
    buttons->addWidget(AddButton("Cancel", mrCancel));
    auto* main = new QVBoxLayout(this);
    main->addWidget(size);
    main->addWidget(back);
    main->addLayout(buttons);

    auto safe = [this](void (TNewImageForm::*Handler)()) {
        return [this, Handler] { SafeCall([&] { (this->*Handler)(); }, this); };
    };
    connect(UpDown1, &QSpinBox::valueChanged, this, safe(&TNewImageForm::ImageWidthChange));
    connect(UpDown2, &QSpinBox::valueChanged, this, safe(&TNewImageForm::ImageHeightChange));
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, safe(&TNewImageForm::ComboBox1Change));
    for (QRadioButton* r : {OneTone, Grad, Tile})
        connect(r, &QRadioButton::clicked, this, safe(&TNewImageForm::KindClick));
    connect(SpeedButton1, &QToolButton::clicked, this, safe(&TNewImageForm::SpeedButton1Click));
    connect(SpeedButton2, &QToolButton::clicked, this, safe(&TNewImageForm::SpeedButton2Click));
    connect(SpeedButton3, &QToolButton::clicked, this, safe(&TNewImageForm::SpeedButton3Click));
    connect(SpeedButton4, &QToolButton::clicked, this, safe(&TNewImageForm::SpeedButton4Click));
    UpdateEnabling();
}

TNewImageForm::~TNewImageForm() = default;

int32_t TNewImageForm::ImageWidthValue() const { return UpDown1->value(); }
int32_t TNewImageForm::ImageHeightValue() const { return UpDown2->value(); }

void TNewImageForm::SetImageSize(int32_t Width, int32_t Height)
{
    QSignalBlocker a(UpDown1), b(UpDown2);
    UpDown1->setValue(Width);
    UpDown2->setValue(Height);
}

// The follower is written with its change handler detached, so the two never chase
// each other; the up-down clamps a value outside 1..2000 to its limit.
void TNewImageForm::ImageWidthChange()
{
    QSignalBlocker block(UpDown2);
    UpDown2->setValue(HeightFromWidth(ComboBox1->currentIndex(), UpDown1->value(), UpDown2->value()));
}

void TNewImageForm::ImageHeightChange()
{
    QSignalBlocker block(UpDown1);
    UpDown1->setValue(WidthFromHeight(ComboBox1->currentIndex(), UpDown2->value(), UpDown1->value()));
}

void TNewImageForm::ComboBox1Change() { ImageWidthChange(); }

void TNewImageForm::KindClick() { UpdateEnabling(); }

TBackgroundControls TNewImageForm::BackgroundControls()
{
    return {OneTone,      Grad,         Tile,         Panel1,       Panel2,    Panel3,
            SpeedButton1, SpeedButton2, SpeedButton4, SpeedButton3, ComboBox2, Edit1};
}

void TNewImageForm::UpdateEnabling() { UpdateBackgroundEnabling(BackgroundControls()); }

bool TNewImageForm::PickColor(TColorPanel* Target)
{
    // Every colour button starts the dialog from the solid colour.
    ColorDialog1.Color = Panel1->Color();
    if (!ColorDialog1.Execute())
        return false;
    Target->SetColor(ColorDialog1.Color);
    return true;
}

void TNewImageForm::SpeedButton1Click() { PickColor(Panel1); }
void TNewImageForm::SpeedButton2Click() { PickColor(Panel2); }
void TNewImageForm::SpeedButton4Click() { PickColor(Panel3); }

void TNewImageForm::SpeedButton3Click()
{
    if (OpenPictureDialog.Execute())
        Edit1->setText(QString::fromStdString(ExtractFileName(OpenPictureDialog.FileName)));
}

void TNewImageForm::FormActivate()
{
    {
        QSignalBlocker a(ComboBox1), b(ComboBox2);
        ComboBox1->setCurrentIndex(0);
        ComboBox2->setCurrentIndex(0);
    }
    OpenPictureDialog.InitialDir = DataDir();
    UpdateEnabling();
}

void TNewImageForm::MakeBackground(TBitmap32& Background) const
{
    Background.SetSize(ImageWidthValue(), ImageHeightValue());
    Background.ClearTo(WinColorToColor32(Panel1->Color()));
    if (Tile->isChecked())
        TilePattern(OpenPictureDialog.FileName, Background);
    else if (Grad->isChecked())
        GradientPicture(Panel2->Color(), Panel3->Color(), ComboBox2->currentIndex() == 1 ? gsTopBottom : gsLeftRight,
                        Background.Width(), Background.Height(), Background);
}

} // namespace kv
