// The geometry dialogs: "Rotate" turns the selected layer by any angle, "Image Size"
// resamples the background, "Canvas Size" crops or extends it, "Crop Layer" cuts the
// selected layer to a rectangle. Each reaches the document through IMainForm.
#pragma once

#include "platform/DialogForm.h"
#include "platform/Dialogs.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Types.h"

#include <QString>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

namespace kv {

class IMainForm;
class ILayerTools;
class TBitmapLayer;
class TImage32;
class TImgView32;
class TLbButton;
class TPositionedLayer;
class TRubberbandLayer;

// The selected picture layer, or null (the dialogs then leave the document alone).
TBitmapLayer* SelectedPictureLayer(IMainForm& Main);
// Deselect, release the mouse, select Layer again: how a changed layer is shown.
void ReselectLayer(IMainForm& Main, TPositionedLayer* Layer);

// "Rotate": the selected layer turned by Angle degrees (positive clockwise).
class TPovor : public TDialogForm {
public:
    TPovor(QWidget* Owner, IMainForm& MainWindow);
    ~TPovor() override;
    IMainForm& MainForm;
    ILayerTools* LayerTools = nullptr;

    QSlider* Angle = nullptr; // -180..180
    QLineEdit* Edit1 = nullptr;
    QCheckBox* Inter = nullptr; // "Bilinear interpolation"

    void AngleChange();
    // A non-number raises the conversion error; a number outside -180..180 is refused
    // with a message and the gauge stays.
    void Edit1Change();
    void Button1Click(); // the rotation from the kept copy, by the edit's angle
    void Button3Click(); // Preview
    void Button4Click(); // OK

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    void RestoreKept();
    // The edit's angle, or empty after saying why it is none.
    std::optional<int32_t> EditAngle();
    void Rotate(int32_t AngleDegrees);
    TBitmapLayer* FLayer = nullptr;
    std::unique_ptr<TBitmap32> FKept;
    TSingleRect FKeptPlacement;
};

// A key down on a size field: the field and its text before the key.
struct TSizeKey {
    const QObject* Field = nullptr;
    QString Text;
    bool Changed(const QSpinBox* Box) const;
};

// "Image Size".
class TRasm : public TDialogForm {
public:
    TRasm(QWidget* Owner, IMainForm& MainWindow);
    ~TRasm() override;
    IMainForm& MainForm;

    QSpinBox* UpDown1 = nullptr; // width 1..10000
    QSpinBox* UpDown2 = nullptr; // height 1..10000
    QSpinBox* UpDown3 = nullptr; // "Size" in kilobytes of 32-bit pixels
    QCheckBox* Prop = nullptr;   // "Keep proportion"
    QComboBox* Resample = nullptr;

    void Edit1Change();
    void Edit2Change();
    void Edit3Change();
    // OK: false when the size was refused (with a message) and nothing changed.
    bool Button1Click();

protected:
    void FormActivate() override;

private:
    void WriteSize(int32_t W, int32_t H);
    double FRatio = 0;
    // The fields as activation wrote them: a picture beyond their range shows clamped,
    // and fields left so mean the picture's own size.
    int32_t FShownW = 0, FShownH = 0;
    // The size field a key is down on, with its text before the key; whether a key
    // changed a field's text since activation, which makes the fields the user's choice
    // whatever values they end at.
    TSizeKey FKey;
    bool FTyped = false;
};

// "Canvas Size".
class THolst : public TDialogForm {
public:
    THolst(QWidget* Owner, IMainForm& MainWindow);
    ~THolst() override;
    IMainForm& MainForm;

    QSpinBox* UpDown1 = nullptr;
    QSpinBox* UpDown2 = nullptr;
    TLbButton* LbButton1 = nullptr; // "Crop Visual"
    QCheckBox* CheckBox1 = nullptr; // "Place to Center"
    TColorPanel* Panel2 = nullptr;  // "Canvas Extension Color"
    TImage32* Image321 = nullptr;
    QPushButton* Button3 = nullptr; // "Apply Selection"
    TColorDialog ColorDialog1;

    void Edit1Change();
    void Edit2Change();
    void LbButton1Click();
    void Panel2Click();
    // The drawn rectangle in view pixels of Image321.
    void Image321MouseDown(int32_t X, int32_t Y);
    void Image321MouseMove(int32_t X, int32_t Y);
    void Image321MouseUp();
    void Button3Click();
    bool Button1Click(); // OK; false when refused
    // The rectangle "Apply Selection" took, in bitmap pixels (empty before one).
    const TRect& CropRect() const { return FCrop; }

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    void WriteSize(int32_t W, int32_t H);
    void PaintRect(TBitmap32* Buffer);
    double FRatio = 0;
    TPoint FP1, FP2;
    bool FShown = false, FDragging = false, FCropVisual = false;
    double FScaleS = 1;
    int32_t FX0 = 0, FY0 = 0;
    TRect FCrop;
    int32_t FShownW = 0, FShownH = 0; // the fields as activation wrote them
    TSizeKey FKey;                    // as in TRasm
    bool FTyped = false;
};

// "Crop Layer".
class TCropLa : public TDialogForm {
public:
    TCropLa(QWidget* Owner, IMainForm& MainWindow);
    ~TCropLa() override;
    IMainForm& MainForm;
    ILayerTools* LayerTools = nullptr;

    TImgView32* Cropos = nullptr;
    // The crop rectangle, in the layer bitmap's pixels (null while closed).
    TPositionedLayer* CropLayer() const { return FCropLayer; }
    bool Button2Click(); // OK; false when refused

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    void PaintCrop(TBitmap32* Buffer);
    TPositionedLayer* FCropLayer = nullptr;
    TRubberbandLayer* FBand = nullptr;
};

} // namespace kv
