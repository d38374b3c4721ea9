#include "effects/BackgroundGroup.h"

#include "platform/DialogForm.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>

namespace kv {

QGridLayout* AddSizeRows(QGroupBox* Box, int32_t Max, int32_t Width, int32_t Height, QSpinBox*& WidthBox,
                         QSpinBox*& HeightBox)
{
    auto* grid = new QGridLayout(Box);
    WidthBox = new QSpinBox(Box);
    HeightBox = new QSpinBox(Box);
    for (QSpinBox* s : {WidthBox, HeightBox})
        s->setRange(1, Max);
    WidthBox->setValue(Width);
    HeightBox->setValue(Height);
    grid->addWidget(new QLabel("Width", Box), 0, 0);
    grid->addWidget(WidthBox, 0, 1);
    grid->addWidget(new QLabel("pixels", Box), 0, 2);
    grid->addWidget(new QLabel("Height", Box), 1, 0);
    grid->addWidget(HeightBox, 1, 1);
    grid->addWidget(new QLabel("pixels", Box), 1, 2);
    return grid;
}

QGroupBox* BuildBackgroundGroup(QWidget* Owner, const char* LeftRightStyle, const TBackgroundControls& C)
{
    auto* back = new QGroupBox("Background", Owner);
    auto* grid = new QGridLayout(back);
    C.Solid = new QRadioButton("Solid Color", back);
    C.Gradient = new QRadioButton("Gradient", back);
    C.Texture = new QRadioButton("Texture", back);
    C.Solid->setChecked(true);
    C.SolidColor = new TColorPanel(back);
    C.GradientFrom = new TColorPanel(back);
    C.GradientTo = new TColorPanel(back);
    auto button = [back] {
        auto* b = new QToolButton(back);
        b->setText("...");
        b->setAutoRaise(true);
        return b;
    };
    C.SolidButton = button();
    C.FromButton = button();
    C.ToButton = button();
    C.TextureButton = button();
    C.Style = new QComboBox(back);
    C.Style->addItems({LeftRightStyle, "Top-Bottom Style"});
    C.TextureName = new QLineEdit(back);
    C.TextureName->setReadOnly(true);
    grid->addWidget(C.Solid, 0, 0);
    grid->addWidget(C.SolidColor, 0, 1);
    grid->addWidget(C.SolidButton, 0, 2);
    grid->addWidget(C.Gradient, 1, 0);
    grid->addWidget(C.GradientFrom, 1, 1);
    grid->addWidget(C.FromButton, 1, 2);
    grid->addWidget(C.GradientTo, 1, 3);
    grid->addWidget(C.ToButton, 1, 4);
    grid->addWidget(C.Style, 2, 1, 1, 4);
    grid->addWidget(C.Texture, 3, 0);
    grid->addWidget(C.TextureName, 3, 1, 1, 3);
    grid->addWidget(C.TextureButton, 3, 4);
    return back;
}

void UpdateBackgroundEnabling(const TBackgroundControls& C)
{
    C.SolidButton->setEnabled(C.Solid->isChecked());
    const bool grad = C.Gradient->isChecked(), tile = C.Texture->isChecked();
    C.FromButton->setEnabled(grad);
    C.ToButton->setEnabled(grad);
    C.Style->setEnabled(grad);
    C.TextureButton->setEnabled(tile);
    C.TextureName->setEnabled(tile);
}

} // namespace kv
