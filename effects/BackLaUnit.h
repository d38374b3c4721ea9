// "Simple Layer": a new layer of a solid colour, a gradient or a tiled texture, placed
// in the middle of what the view shows. It builds the layer itself on OK.
#pragma once

#include "platform/DialogForm.h"
#include "raster/Raster32_Types.h"
#include "widgets/PictureDialogs.h"
#include "widgets/ProImage.h"

class QComboBox;
class QFrame;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace kv {

class IMainForm;
struct TBackgroundControls;
class TBitmap32;
class TBitmapLayer;

class TBackLa : public TDialogForm {
public:
    TBackLa(QWidget* Owner, IMainForm& MainWindow);
    ~TBackLa() override;

    // The main window the layer goes into (set once by whoever creates the dialog).
    IMainForm& MainForm;

    QSpinBox* UpDown1 = nullptr;          // width 1..10000 (Edit1)
    QSpinBox* UpDown2 = nullptr;          // height 1..10000 (Edit2)
    QRadioButton* RadioButton3 = nullptr; // solid colour
    QRadioButton* RadioButton1 = nullptr; // gradient
    QRadioButton* RadioButton2 = nullptr; // texture
    TColorPanel* Panel5 = nullptr;
    TColorPanel* Panel6 = nullptr;
    TColorPanel* Panel7 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* SpeedButton4 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QLineEdit* Edit3 = nullptr; // the texture's full path
    QFrame* Panel4 = nullptr;
    TProImage* ProImage1 = nullptr;
    TColorDialog ColorDialog1;
    TOpenPictureDialog OpenPictureDialog1;

    // Left to right from Color1 to Color2 over the bitmap's size, 24 bits per pixel.
    static void Gradient(TColor Color1, TColor Color2, TBitmap& Bitmap);
    static void TilePic(const std::string& FileName, TBitmap32& Dest);

    // The picture of the current choices at Width x Height. A texture starts fully
    // transparent, so a file that is missing leaves it so.
    void MakePicture(int32_t Width, int32_t Height, TBitmap32& Picture) const;
    // OK: the new layer, centred on the middle of the visible part of the view and
    // selected. Returns it (null when the main window has no view).
    TBitmapLayer* Button1Click();
    // Preview: the picture at the preview area's size, or the texture file tiled.
    void Button3Click();
    void KindClick();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();

    // The centred placement of a W x H layer around bitmap point (Cx, Cy).
    static TSingleRect CenteredPlacement(int32_t Cx, int32_t Cy, int32_t W, int32_t H);

protected:
    void FormActivate() override;

private:
    TBackgroundControls BackgroundControls();
    void UpdateEnabling();
    void PickColor(TColorPanel* Target);
};

} // namespace kv
