// The commands that hand the document to a tool window or a small routine of the
// effects library: the Background menu's fill and loads, Image > Count Image Colors and
// Full Screen Preview, and Help > About. Each handler checks its own precondition,
// whatever the menu's enabling last said.
#include "editor/MainUnit.h"

#include "editor/CommandTable.h"
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

std::vector<TCommandRow> TMainForm::DialogCommands()
{
    auto bgNotEmpty = [this] { return BackgroundNotEmpty(); };
    // The filters work on the selected picture layer, or on the background when no layer
    // is selected.
    auto pictureOrNone = [this] {
        return BackgroundNotEmpty() && (!Selection() || dynamic_cast<TBitmapLayer*>(Selection()));
    };
    // The same, once the command's window exists (read when the rule runs).
    auto windowAnd = [pictureOrNone](auto*& Window) {
        return [&Window, pictureOrNone] { return Window != nullptr && pictureOrNone(); };
    };
    return {
        // Image
        {"N38", "Brightness / Contrast", "", [this] { N38Click(); }, windowAnd(Brid), {"ToolBar1", 3}},
        {"N39", "Color Balance", "", [this] { N39Click(); }, windowAnd(Gamma), {"ToolBar1", 4}},
        {"N37",
         "Image Size",
         "",
         [this] { N37Click(); },
         [this] { return Rasm && BackgroundNotEmpty(); },
         {"ToolBar1", 1}},
        {"N11", "Canvas Size", "", [this] { N11Click(); }, [this] { return Holst && BackgroundNotEmpty(); }},
        {"N72", "Count Image Colors", "", [this] { N72Click(); }, bgNotEmpty},
        {"N34",
         "Full Screen Preview",
         "",
         [this] { N34Click(); },
         [this] { return Full && BackgroundNotEmpty(); },
         {"ToolBar1", 8}},
        // Background
        {"Maskos", "Rotate Clockwise 90", "", [this] { MaskosClick(); }, bgNotEmpty},
        {"N903", "Rotate Counterclockwise 90", "", [this] { N903Click(); }, bgNotEmpty},
        {"N1801", "Rotate 180", "", [this] { N1801Click(); }, bgNotEmpty},
        {"N106", "Horizontal (Mirror)", "", [this] { N106Click(); }, bgNotEmpty},
        {"N105", "Vertical", "", [this] { N105Click(); }, bgNotEmpty},
        {"N122", "Add Borders", "", [this] { N122Click(); }, [this] { return Sbor && BackgroundNotEmpty(); }},
        {"N123", "Relief Borders", "", [this] { N123Click(); }, [this] { return Raiser && BackgroundNotEmpty(); }},
        {"N120", "Load From File", "", [this] { N120Click(); }},
        {"N115", "Load form Texture", "", [this] { N115Click(); }, bgNotEmpty},
        {"N112", "Fill With Color", "", [this] { N112Click(); }, bgNotEmpty},
        // Help
        {"N30", "About", "", [this] { N30Click(); }, [this] { return AboutKVN != nullptr; }},
        // Filters
        {"N74", "Sharpen", "", [this] { N74Click(); }, windowAnd(Effect)},
        {"N78", "Sharpness...", "", [this] { N78Click(); }, windowAnd(Effect)},
        {"N75", "Soften", "", [this] { N75Click(); }, windowAnd(DeFoc)},
        {"N76", "Softness...", "", [this] { N76Click(); }, windowAnd(DeFoc)},
        {"N77", "Grayscale", "", [this] { N77Click(); }, pictureOrNone},
        {"N124", "Geometry", "", [this] { N124Click(); },
         [this, pictureOrNone] { return ProGeomo && pictureOrNone(); }},
        // The tool buttons Sharpen, Soften and Grayscale run the menu items.
        {"Shar", "Sharpen", "", nullptr, windowAnd(Effect), {"ToolBar1", 5}, {}, TCheckable::No, "N74"},
        {"Soft", "Soften", "", nullptr, windowAnd(DeFoc), {"ToolBar1", 6}, {}, TCheckable::No, "N75"},
        {"Monoh", "Grayscale", "", nullptr, pictureOrNone, {"ToolBar1", 7}, {}, TCheckable::No, "N77"},
    };
}

} // namespace kv
