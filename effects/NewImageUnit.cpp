#include "effects/NewImageUnit.h"

#include "effects/BackFill.h"
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

namespace {

QToolButton* ColorButton(QWidget* Owner)
{
    auto* b = new QToolButton(Owner);
    b->setText("...");
    b->setAutoRaise(true);
    return b;
}

} // namespace

TNewImageForm::TNewImageForm(QWidget* Owner) : TDialogForm("TNewImageForm", Owner)
{
    SetCaption("New Project");
    SetDialogBorder();
    ColorDialog1.Color = clWhite;

    auto* size = new QGroupBox("Size and Proportions", this);
    auto* sg = new QGridLayout(size);
    UpDown1 = new QSpinBox(size);
    UpDown2 = new QSpinBox(size);
    for (QSpinBox* s : {UpDown1, UpDown2})
        s->setRange(1, 2000);
    UpDown1->setValue(640);
    UpDown2->setValue(480);
    ComboBox1 = new QComboBox(size);
    ComboBox1->addItems({"Free", "Square", "Golden Ratio", "9:12", "10:15", "15:21", "16:9"});
    sg->addWidget(new QLabel("Width", size), 0, 0);
    sg->addWidget(UpDown1, 0, 1);
    sg->addWidget(new QLabel("pixels", size), 0, 2);
    sg->addWidget(new QLabel("Height", size), 1, 0);
    sg->addWidget(UpDown2, 1, 1);
    sg->addWidget(new QLabel("pixels", size), 1, 2);
    sg->addWidget(new QLabel("Proportion", size), 2, 0);
    sg->addWidget(ComboBox1, 2, 1, 1, 2);

    auto* back = new QGroupBox("Background", this);
    auto* bg = new QGridLayout(back);
    OneTone = new QRadioButton("Solid Color", back);
    Grad = new QRadioButton("Gradient", back);
    Tile = new QRadioButton("Texture", back);
    OneTone->setChecked(true);
    Panel1 = new TColorPanel(back);
    Panel2 = new TColorPanel(back);
    Panel3 = new TColorPanel(back);
    SpeedButton1 = ColorButton(back);
    SpeedButton2 = ColorButton(back);
    SpeedButton4 = ColorButton(back);
    SpeedButton3 = ColorButton(back);
    ComboBox2 = new QComboBox(back);
    ComboBox2->addItems({"Left-Right Style", "Top-Bottom Style"});
    Edit1 = new QLineEdit(back);
    Edit1->setReadOnly(true);
    bg->addWidget(OneTone, 0, 0);
    bg->addWidget(Panel1, 0, 1);
    bg->addWidget(SpeedButton1, 0, 2);
    bg->addWidget(Grad, 1, 0);
    bg->addWidget(Panel2, 1, 1);
    bg->addWidget(SpeedButton2, 1, 2);
    bg->addWidget(Panel3, 1, 3);
    bg->addWidget(SpeedButton4, 1, 4);
    bg->addWidget(ComboBox2, 2, 1, 1, 4);
    bg->addWidget(Tile, 3, 0);
    bg->addWidget(Edit1, 3, 1, 1, 3);
    bg->addWidget(SpeedButton3, 3, 4);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AddButton("OK", mrOk));
    buttons->addWidget(AddButton("Cancel", mrCancel));
    auto* main = new QVBoxLayout(this);
    main->addWidget(size);
    main->addWidget(back);
    main->addLayout(buttons);

    auto safe = [this](void (TNewImageForm::*Handler)()) { return [this, Handler] { SafeCall([&] { (this->*Handler)(); }, this); }; };
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

void TNewImageForm::UpdateEnabling()
{
    SpeedButton1->setEnabled(OneTone->isChecked());
    const bool grad = Grad->isChecked(), tile = Tile->isChecked();
    SpeedButton2->setEnabled(grad);
    SpeedButton4->setEnabled(grad);
    ComboBox2->setEnabled(grad);
    SpeedButton3->setEnabled(tile);
    Edit1->setEnabled(tile);
}

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
    else if (Grad->isChecked()) {
        TBitmap g;
        g.SetPixelFormat(pf24bit);
        g.SetSize(Background.Width(), Background.Height());
        if (ComboBox2->currentIndex() == 1)
            GradientDown(Panel2->Color(), Panel3->Color(), g);
        else
            Gradient(Panel2->Color(), Panel3->Color(), g);
        Background.Assign(&g);
    }
}

} // namespace kv
