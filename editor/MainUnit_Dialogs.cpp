// The commands that hand the document to a tool window or a small routine of the
// effects library: the Background menu's fill and loads, Image > Count Image Colors and
// Full Screen Preview, and Help > About. Each handler checks its own precondition,
// whatever the menu's enabling last said.
#include "editor/MainUnit.h"

#include "effects/BackgroundCommands.h"
#include "effects/SmallWindows.h"
#include "platform/Forms.h"

#include <QGroupBox>

namespace kv {

void TMainForm::N112Click()
{
    if (ImgView->Bitmap()->IsEmpty())
        return;
    // The fill reaches the view as a change: the state becomes 777 there.
    FillBackgroundWithColor(*this, *AllColor);
}

void TMainForm::N120Click()
{
    std::string size;
    if (!LoadBackgroundFromFile(*this, *OpenLayer, size))
        return;
    SetStatusText(1, size);
    // Loading works on an empty background too, and then makes the document: it can be
    // saved under a name of the user's choice, like any opened picture.
    pnlImage->setVisible(!ImgView->Bitmap()->IsEmpty());
    Start->hide();
    FSaveAsAllowed = true;
    UpdateCommandEnabling();
}

void TMainForm::N115Click()
{
    if (ImgView->Bitmap()->IsEmpty())
        return;
    LoadBackgroundTexture(*this, *OpenLayer);
}

void TMainForm::N72Click()
{
    if (ImgView->Bitmap()->IsEmpty())
        return;
    CountImageColors(*this);
}

void TMainForm::N34Click()
{
    if (!Full || ImgView->Bitmap()->IsEmpty())
        return;
    TBitmap32* flat = RenderFlattened();
    struct TRelease {
        TMainForm& Form;
        ~TRelease() { Form.ReleaseFlatImage(); }
    } release{*this};
    Full->ShowPicture(*flat);
    ImgView->Invalidate();
}

void TMainForm::N30Click()
{
    if (AboutKVN)
        AboutKVN->ShowModal();
}

} // namespace kv
