// "New Project": size with proportions, and a solid, gradient or texture background.
// File > New reads it after OK (UpDown1/UpDown2 positions, the checked kind, the three
// swatches, ComboBox2's style and the picture dialog's file name).
#pragma once

#include "platform/DialogForm.h"
#include "widgets/PictureDialogs.h"

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace kv {

class TBitmap32;
struct TBackgroundControls;

class TNewImageForm : public TDialogForm {
public:
    explicit TNewImageForm(QWidget* Owner = nullptr);
    ~TNewImageForm() override;

    // The edits with their up-downs: ImageWidth/UpDown1 and ImageHeight/UpDown2 are one
    // spin box each (1..2000, 640 and 480 at start).
    QSpinBox* UpDown1 = nullptr;
    QSpinBox* UpDown2 = nullptr;
    QComboBox* ComboBox1 = nullptr; // proportion
    QRadioButton* OneTone = nullptr;
    QRadioButton* Grad = nullptr;
    QRadioButton* Tile = nullptr;
    TColorPanel* Panel1 = nullptr; // solid colour
    TColorPanel* Panel2 = nullptr; // gradient start
    TColorPanel* Panel3 = nullptr; // gradient end
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* SpeedButton4 = nullptr;
    QComboBox* ComboBox2 = nullptr; // gradient style
    QLineEdit* Edit1 = nullptr;     // the texture's name part
    TColorDialog ColorDialog1;
    TOpenPictureDialog OpenPictureDialog;

    int32_t ImageWidthValue() const;
    int32_t ImageHeightValue() const;
    void SetImageSize(int32_t Width, int32_t Height); // clamped, followers untouched

    void ImageWidthChange();
    void ImageHeightChange();
    void ComboBox1Change();
    void KindClick();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();

    // What File > New makes of the choices: Background becomes ImageWidth x ImageHeight
    // of the solid colour, then the texture is tiled over it or the gradient replaces it.
    void MakeBackground(TBitmap32& Background) const;

protected:
    void FormActivate() override;

private:
    TBackgroundControls BackgroundControls();
    void UpdateEnabling();
    bool PickColor(TColorPanel* Target);
};

} // namespace kv
