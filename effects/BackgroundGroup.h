// The parts New Project and Simple Layer share: the width and height rows of the size
// box, and the "Background" group (a solid colour, a two-colour gradient with its
// direction, or a texture file, each with the buttons that pick it).
#pragma once

#include <cstdint>

class QComboBox;
class QGridLayout;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QToolButton;
class QWidget;

namespace kv {

class TColorPanel;

// Rows 0 and 1 of Box's grid: "Width" and "Height" spin boxes of 1..Max in pixels,
// starting at Width x Height. Returns the grid for rows of the dialog's own.
QGridLayout* AddSizeRows(QGroupBox* Box, int32_t Max, int32_t Width, int32_t Height, QSpinBox*& WidthBox,
                         QSpinBox*& HeightBox);

// The dialog's own fields behind the background group.
struct TBackgroundControls {
    QRadioButton*& Solid;
    QRadioButton*& Gradient;
    QRadioButton*& Texture;
    TColorPanel*& SolidColor;
    TColorPanel*& GradientFrom;
    TColorPanel*& GradientTo;
    QToolButton*& SolidButton;
    QToolButton*& FromButton;
    QToolButton*& ToButton;
    QToolButton*& TextureButton;
    QComboBox*& Style;       // the gradient's direction, in TGradientStyle order
    QLineEdit*& TextureName; // read only: the dialog writes the chosen file
};

// Makes the controls (Solid checked) and lays them out in a group owned by Owner.
// LeftRightStyle is the caption of the first gradient direction.
QGroupBox* BuildBackgroundGroup(QWidget* Owner, const char* LeftRightStyle, const TBackgroundControls& C);
// Each kind's buttons and boxes enabled only while that kind is checked.
void UpdateBackgroundEnabling(const TBackgroundControls& C);

} // namespace kv
