// "Geometry": the four corners of a reduced copy of the picture dragged to any
// quadrilateral, the projective distortion shown live over a checkerboard, and on OK
// the full-size picture redrawn through the same map.
#pragma once

#include "fx/GeometryRoutines.h"
#include "platform/DialogForm.h"
#include "platform/Dialogs.h"

#include <memory>

class QCheckBox;
class QPushButton;
class QToolButton;

namespace kv {

class IMainForm;
class ILayerTools;
class TBitmap32;
class TImage32;
class TTimer;

class TProGeomo : public TDialogForm {
public:
    TProGeomo(QWidget* Owner, IMainForm& MainWindow);
    ~TProGeomo() override;
    IMainForm& MainForm;

    TImage32* Src = nullptr;        // hidden: the reduced copy
    TImage32* Dst = nullptr;        // the preview and the corner frame
    QCheckBox* CheckBox1 = nullptr; // "Bilinear Interpolation"
    TColorPanel* Panel1 = nullptr;  // "Background Color"
    QToolButton* SpeedButton1 = nullptr;
    QPushButton* Button2 = nullptr; // OK
    TColorDialog ColorDialog1;

    const TQuad& Corners() const { return FCorners; }
    int32_t Dragged() const { return FDragged; }
    float Phase() const { return FPhase; }
    const TTimer& DashTimer() const { return *FTimer; }

    void Button4Click(); // Reset
    void Redraw();
    void SpeedButton1Click();
    // Dst pixels.
    void RubberLayerMouseDown(int32_t X, int32_t Y);
    void RubberLayerMouseMove(int32_t X, int32_t Y);
    void RubberLayerMouseUp();
    // The dashes' step: phase - 0.05 and a repaint.
    void DashTick();
    // OK: false when refused (with a message) and nothing changed.
    bool Button2Click();

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    void PaintFrame(TBitmap32* Buffer);
    TPoint ClampCorner(TPoint P) const;
    TQuad FCorners;
    int32_t FDragged = -1;
    TPoint FLast;
    float FPhase = 0;
    std::unique_ptr<TTimer> FTimer;
    std::unique_ptr<TBitmap32> FSource;
};

} // namespace kv
