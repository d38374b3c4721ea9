#include "effects/TexturUnit.h"

#include "widgets/Thumbview.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace kv {

TTextur::TTextur(QWidget* Owner) : TDialogForm("TTextur", Owner)
{
    SetCaption("Textur");
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    View = new TTHumbview(this);
    View->SetSize(50);
    View->SetThumbGap(4);
    View->SetMaxWidth(200);
    View->SetMaxHeight(200);
    View->SetScrollMode(SMHorizontal);
    View->SetSorted(true);
    View->SetAsButtons(true);
    View->SetTitlePlacement(T_Down);
    View->setMinimumSize(420, 110);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AddButton("OK", mrOk));
    buttons->addWidget(AddButton("Cancel", mrCancel));
    auto* main = new QVBoxLayout(this);
    main->addWidget(View, 1);
    main->addLayout(buttons);
}

TTextur::~TTextur() = default;

std::string TTextur::TexturesFolder() { return IncludeTrailingPathDelimiter(DataDir()) + "Textures"; }

void TTextur::FormActivate() { View->SetDirectory(TexturesFolder()); }

} // namespace kv
