// The tone commands of the Image and Filters menus: Brightness / Contrast, Color Balance,
// Sharpen, Soften and Grayscale. Each hands the document to the effects library's
// command body with its window; the bodies check the target themselves.
#include "editor/MainUnit.h"

#include "effects/AdjustDialogs.h"

#include <QSlider>

namespace kv {

void TMainForm::SetLayerOpacityPosition(int32_t Value) { LayerOpacity->setValue(Value); }

void TMainForm::N38Click()
{
    if (Brid)
        RunBrightnessContrast(*this, *Brid);
}

void TMainForm::N39Click()
{
    if (Gamma)
        RunColorBalance(*this, *Gamma);
}

void TMainForm::N74Click()
{
    if (Effect)
        RunSharpen(*this, *Effect);
}

void TMainForm::N78Click()
{
    if (Effect)
        RunSharpness(*this, *Effect);
}

void TMainForm::N75Click()
{
    if (DeFoc)
        RunSoften(*this, *DeFoc);
}

void TMainForm::N76Click()
{
    if (DeFoc)
        RunSoftness(*this, *DeFoc);
}

void TMainForm::N77Click() { RunGrayscale(*this); }

} // namespace kv
