// "Print": a page preview in which the flattened picture is a layer the user places and
// sizes, with presets, sizes in centimetres or inches, printer, copies, orientation and
// zoom; "Print" sends the picture to the printer object at that place and size.
#pragma once

#include "fx/PrintLayout.h"
#include "platform/DialogForm.h"
#include "raster/Raster32_Layers.h"

class QCheckBox;
class QComboBox;
class QProgressBar;
class QRadioButton;
class QSpinBox;

namespace kv {

class IMainForm;
class TImgView32;
class TKvSpinEdit;

class TKVNPrint : public TDialogForm {
public:
    TKVNPrint(QWidget* Owner, IMainForm& MainWindow);
    ~TKVNPrint() override;

    // The main window whose flattened render is printed (set by whoever creates the dialog).
    IMainForm& MainForm;

    QComboBox* MyPrinters = nullptr;
    QRadioButton* Book = nullptr;  // "Portrait"
    QRadioButton* Album = nullptr; // "Landscape"
    QRadioButton* Orig = nullptr;  // "Actual Size"
    QRadioButton* Fill = nullptr;  // "Fill th Page"
    QRadioButton* Fit = nullptr;   // "Fit to Page"
    QRadioButton* Custom = nullptr;
    QComboBox* Mera = nullptr; // "Cm", "Inches"
    QCheckBox* propos = nullptr;
    TKvSpinEdit* ImageWidth = nullptr;
    TKvSpinEdit* ImageHeight = nullptr;
    QSpinBox* UpDown3 = nullptr; // copies 1..2000 (Edit1)
    TImgView32* PrintView = nullptr;
    QComboBox* ScaleCombo = nullptr;
    QProgressBar* Prog = nullptr;
    TPrinterSetupDialog PrinterSetupDialog1;

    // The page bitmap at the printer's page size, with its margin frame; forgets the layers.
    void SetPage32();
    // The picture layer where the checked preset puts it.
    void SetLayer();
    // Selects Value with the dialog's own rubber band (made on first use).
    void SetSelection(TPositionedLayer* Value);
    void RBResizing(TObject* Sender, const TSingleRect& OldLocation, TSingleRect& NewLocation, TRBDragState DragState,
                    TShiftState Shift);
    void LayerMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    // The layer's size into the size fields, in the chosen unit.
    void TransMera();
    // The size fields into the layer's size, from its top-left corner.
    void CorrectSize();

    void MyPrintersChange();
    void OrientationClick();
    void PresetClick();
    void FillClick();
    void MeraChange();
    void ImageWidthChange();
    void ImageHeightChange();
    void ScaleComboChange();
    void PrintViewMouseWheel(int32_t WheelDelta);
    void Button1Click(); // Print
    void Button3Click(); // Options

    TBitmapLayer* PictureLayer() const { return FLayer; }
    TRubberbandLayer* RubberBand() const { return FRubberBand; }
    TSizeUnit Unit() const;

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    void ConnectHandlers();
    void ClearLayers();
    void MakePictureLayer(const TSingleRect& Location);
    void ShowSize(const TSingleRect& Location);
    void ShowZoom();
    void SetProgress(int32_t Value);
    void PrintPicture(const TSingleRect& Location);
    double PictureAspect() const;
    TBitmapLayer* FLayer = nullptr;          // owned by PrintView's layers
    TRubberbandLayer* FRubberBand = nullptr; // owned by PrintView's layers
    TSingleRect FKeptLocation{0, 0, 0, 0};   // "Custom" survives a new page
    bool FHasKeptLocation = false;
};

} // namespace kv
