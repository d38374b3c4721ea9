#include "effects/BackLaUnit.h"

#include "effects/BackgroundGroup.h"
#include "effects/MainWindowFace.h"
#include "fx/BackFill.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace kv {

TBackLa::TBackLa(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("TBackLa", Owner), MainForm(MainWindow)
{
    SetCaption("Simple Layer");
    SetDialogBorder();
    ColorDialog1.Color = clWhite;

    auto* size = new QGroupBox("Layer Size", this);
    AddSizeRows(size, 10000, 300, 200, UpDown1, UpDown2);
    QGroupBox* back = BuildBackgroundGroup(this, "Left-Rigth Style", BackgroundControls());

    Panel4 = new QFrame(this);
    Panel4->setFrameShape(QFrame::Panel);
    Panel4->setFrameShadow(QFrame::Sunken);
    Panel4->setMinimumSize(160, 120);
    ProImage1 = new TProImage(Panel4);
    auto* pl = new QVBoxLayout(Panel4);
    pl->setContentsMargins(2, 2, 2, 2);
    pl->addWidget(ProImage1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(AddButton("Preview", mrNone, [this] { Button3Click(); }));
    buttons->addStretch();
    buttons->addWidget(AddButton("OK", mrOk, [this] { Button1Click(); }));
    buttons->addWidget(AddButton("Cancel", mrCancel));
    auto* left = new QVBoxLayout;
    left->addWidget(size);
    left->addWidget(back);
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(Panel4, 1);
    auto* main = new QVBoxLayout(this);
    main->addLayout(top);
    main->addLayout(buttons);

    OpenPictureDialog1.Filter = "Graphic files|*.gif;*.jpg;*.jpeg;*.bmp;*.ico;|GIF Image (*.gif)|*.gif|"
                                "JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|"
                                "Icons (*.ico)|*.ico";

    auto safe = [this](void (TBackLa::*Handler)()) {
        return [this, Handler] { SafeCall([&] { (this->*Handler)(); }, this); };
    };
    for (QRadioButton* r : {RadioButton1, RadioButton2, RadioButton3})
        connect(r, &QRadioButton::clicked, this, safe(&TBackLa::KindClick));
    connect(SpeedButton1, &QToolButton::clicked, this, safe(&TBackLa::SpeedButton1Click));
    connect(SpeedButton2, &QToolButton::clicked, this, safe(&TBackLa::SpeedButton2Click));
    connect(SpeedButton3, &QToolButton::clicked, this, safe(&TBackLa::SpeedButton3Click));
    connect(SpeedButton4, &QToolButton::clicked, this, safe(&TBackLa::SpeedButton4Click));
    UpdateEnabling();
}

TBackLa::~TBackLa() = default;

void TBackLa::Gradient(TColor Color1, TColor Color2, TBitmap& Bitmap) { kv::Gradient(Color1, Color2, Bitmap); }

void TBackLa::TilePic(const std::string& FileName, TBitmap32& Dest) { TilePattern(FileName, Dest); }

TBackgroundControls TBackLa::BackgroundControls()
{
    return {RadioButton3, RadioButton1, RadioButton2, Panel5,       Panel6,    Panel7,
            SpeedButton1, SpeedButton2, SpeedButton4, SpeedButton3, ComboBox2, Edit3};
}

void TBackLa::UpdateEnabling() { UpdateBackgroundEnabling(BackgroundControls()); }

void TBackLa::KindClick() { UpdateEnabling(); }

void TBackLa::FormActivate()
{
    {
        QSignalBlocker block(ComboBox2);
        ComboBox2->setCurrentIndex(0);
    }
    OpenPictureDialog1.InitialDir = DataDir();
    UpdateEnabling();
}

void TBackLa::PickColor(TColorPanel* Target)
{
    // The dialog starts from whatever colour it gave last.
    if (ColorDialog1.Execute())
        Target->SetColor(ColorDialog1.Color);
}

void TBackLa::SpeedButton1Click() { PickColor(Panel5); }
void TBackLa::SpeedButton2Click() { PickColor(Panel6); }
void TBackLa::SpeedButton4Click() { PickColor(Panel7); }

void TBackLa::SpeedButton3Click()
{
    if (OpenPictureDialog1.Execute())
        Edit3->setText(QString::fromStdString(OpenPictureDialog1.FileName));
}

void TBackLa::MakePicture(int32_t Width, int32_t Height, TBitmap32& Picture) const
{
    if (RadioButton2->isChecked()) {
        Picture.SetSize(Width, Height);
        Picture.ClearTo(clTransparent32);
        TilePic(Edit3->text().toStdString(), Picture);
        return;
    }
    if (RadioButton1->isChecked())
        GradientPicture(Panel6->Color(), Panel7->Color(), ComboBox2->currentIndex() == 1 ? gsTopBottom : gsLeftRight,
                        Width, Height, Picture);
    else
        GradientPicture(Panel5->Color(), Panel5->Color(), gsLeftRight, Width, Height, Picture);
}

TSingleRect TBackLa::CenteredPlacement(int32_t Cx, int32_t Cy, int32_t W, int32_t H)
{
    const float hw = float(W) / 2, hh = float(H) / 2;
    return TSingleRect{float(Cx) - hw, float(Cy) - hh, float(Cx) + hw, float(Cy) + hh};
}

TBitmapLayer* TBackLa::Button1Click()
{
    if (!MainForm.View())
        return nullptr;
    TImgView32* view = MainForm.View();
    TBitmap32 picture;
    MakePicture(UpDown1->value(), UpDown2->value(), picture);
    auto* layer = view->Layers()->Add<TBitmapLayer>();
    layer->Bitmap()->Assign(&picture);
    layer->Bitmap()->SetDrawMode(dmBlend);
    const TRect r = view->GetViewportRect();
    const TPoint centre = view->ViewToBitmap(TPoint{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2});
    layer->SetPlacement(CenteredPlacement(centre.X, centre.Y, picture.Width(), picture.Height()));
    layer->SetScaleWithView(true);
    IMainForm* main = &MainForm;
    layer->OnMouseDown = [main](TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
        main->LayerMouseDown(Sender, Button, Shift, X, Y);
    };
    MainForm.SetSelection(layer);
    return layer;
}

void TBackLa::Button3Click()
{
    if (RadioButton2->isChecked()) {
        // Nothing to show until a texture file is chosen.
        const std::string file = Edit3->text().toStdString();
        if (file.empty() || !FileExists(file))
            return;
        ProImage1->Picture()->LoadFromFile(file);
        ProImage1->SetTiled(true);
        return;
    }
    TBitmap32 picture;
    MakePicture(std::max(1, ProImage1->Width()), std::max(1, ProImage1->Height()), picture);
    TBitmap shown;
    shown.Assign(&picture);
    ProImage1->SetTiled(false);
    ProImage1->Picture()->Assign(&shown);
}

} // namespace kv
