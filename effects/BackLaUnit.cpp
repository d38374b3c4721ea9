#include "effects/BackLaUnit.h"

#include "editor/MainFormApi.h"
#include "effects/BackFill.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"

#include <QComboBox>
#include <QFrame>
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

TBackLa::TBackLa(QWidget* Owner) : TDialogForm("TBackLa", Owner)
{
    SetCaption("Simple Layer");
    SetDialogBorder();
    ColorDialog1.Color = clWhite;

    auto* size = new QGroupBox("Layer Size", this);
    auto* sg = new QGridLayout(size);
    UpDown1 = new QSpinBox(size);
    UpDown2 = new QSpinBox(size);
    for (QSpinBox* s : {UpDown1, UpDown2})
        s->setRange(1, 10000);
    UpDown1->setValue(300);
    UpDown2->setValue(200);
    sg->addWidget(new QLabel("Width", size), 0, 0);
    sg->addWidget(UpDown1, 0, 1);
    sg->addWidget(new QLabel("pixels", size), 0, 2);
    sg->addWidget(new QLabel("Height", size), 1, 0);
    sg->addWidget(UpDown2, 1, 1);
    sg->addWidget(new QLabel("pixels", size), 1, 2);

    auto* back = new QGroupBox("Background", this);
    auto* bg = new QGridLayout(back);
    RadioButton3 = new QRadioButton("Solid Color", back);
    RadioButton1 = new QRadioButton("Gradient", back);
    RadioButton2 = new QRadioButton("Texture", back);
    RadioButton3->setChecked(true);
    Panel5 = new TColorPanel(back);
    Panel6 = new TColorPanel(back);
    Panel7 = new TColorPanel(back);
    auto button = [back] {
        auto* b = new QToolButton(back);
        b->setText("...");
        b->setAutoRaise(true);
        return b;
    };
    SpeedButton1 = button();
    SpeedButton2 = button();
    SpeedButton4 = button();
    SpeedButton3 = button();
    ComboBox2 = new QComboBox(back);
    ComboBox2->addItems({"Left-Rigth Style", "Top-Bottom Style"});
    Edit3 = new QLineEdit(back);
    Edit3->setReadOnly(true);
    bg->addWidget(RadioButton3, 0, 0);
    bg->addWidget(Panel5, 0, 1);
    bg->addWidget(SpeedButton1, 0, 2);
    bg->addWidget(RadioButton1, 1, 0);
    bg->addWidget(Panel6, 1, 1);
    bg->addWidget(SpeedButton2, 1, 2);
    bg->addWidget(Panel7, 1, 3);
    bg->addWidget(SpeedButton4, 1, 4);
    bg->addWidget(ComboBox2, 2, 1, 1, 4);
    bg->addWidget(RadioButton2, 3, 0);
    bg->addWidget(Edit3, 3, 1, 1, 3);
    bg->addWidget(SpeedButton3, 3, 4);

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

    auto safe = [this](void (TBackLa::*Handler)()) { return [this, Handler] { SafeCall([&] { (this->*Handler)(); }, this); }; };
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

void TBackLa::UpdateEnabling()
{
    SpeedButton1->setEnabled(RadioButton3->isChecked());
    const bool grad = RadioButton1->isChecked(), tile = RadioButton2->isChecked();
    SpeedButton2->setEnabled(grad);
    SpeedButton4->setEnabled(grad);
    ComboBox2->setEnabled(grad);
    SpeedButton3->setEnabled(tile);
    Edit3->setEnabled(tile);
}

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
    TBitmap g;
    g.SetPixelFormat(pf24bit);
    g.SetSize(Width, Height);
    if (RadioButton1->isChecked()) {
        if (ComboBox2->currentIndex() == 1)
            GradientDown(Panel6->Color(), Panel7->Color(), g);
        else
            Gradient(Panel6->Color(), Panel7->Color(), g);
    } else
        Gradient(Panel5->Color(), Panel5->Color(), g);
    Picture.Assign(&g);
}

TSingleRect TBackLa::CenteredPlacement(int32_t Cx, int32_t Cy, int32_t W, int32_t H)
{
    const float hw = float(W) / 2, hh = float(H) / 2;
    return TSingleRect{float(Cx) - hw, float(Cy) - hh, float(Cx) + hw, float(Cy) + hh};
}

TBitmapLayer* TBackLa::Button1Click()
{
    if (!MainForm || !MainForm->View())
        return nullptr;
    TImgView32* view = MainForm->View();
    TBitmap32 picture;
    MakePicture(UpDown1->value(), UpDown2->value(), picture);
    auto* layer = view->Layers()->Add<TBitmapLayer>();
    layer->Bitmap()->Assign(&picture);
    layer->Bitmap()->SetDrawMode(dmBlend);
    const TRect r = view->GetViewportRect();
    const TPoint centre = view->ViewToBitmap(TPoint{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2});
    layer->SetPlacement(CenteredPlacement(centre.X, centre.Y, picture.Width(), picture.Height()));
    layer->SetScaleWithView(true);
    IMainForm* main = MainForm;
    layer->OnMouseDown = [main](TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
        main->LayerMouseDown(Sender, Button, Shift, X, Y);
    };
    MainForm->SetSelection(layer);
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
