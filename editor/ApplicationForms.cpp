#include "editor/ApplicationForms.h"

#include "editor/MainUnit.h"
#include "effects/BackLaUnit.h"
#include "effects/CompressUnit.h"
#include "effects/GifTypeUnit.h"
#include "effects/NewImageUnit.h"
#include "effects/SmallWindows.h"
#include "effects/TexturUnit.h"

namespace kv {

void CreateApplicationForms(TMainForm& Main)
{
    // The order is the program's: TMainForm, TNewImageForm, TGifType, TCompress, ...,
    // TBackLa, ..., TFull, ..., TAboutKVN, ..., TSTC, ..., TTextur. The windows of the
    // commands still to come take their places in it when they exist.
    Main.NewImageForm = new TNewImageForm(&Main);
    Main.GifType = new TGifType(&Main);
    Main.Compress = new TCompress(&Main);
    Main.Compress->PARY = Main.PARY.get(); // the main window's JPEG writer
    // New Simple Layer and the transparent-colour pick find these two among the main
    // window's children.
    auto* backLa = new TBackLa(&Main);
    backLa->MainForm = &Main;
    Main.Full = new TFull(&Main);
    Main.AboutKVN = new TAboutKVN(&Main);
    auto* stc = new TSTC(&Main);
    stc->View = Main.ImgView;
    // However the tool window closes, the pick ends.
    stc->OnClose = [&Main](TObject*) { Main.EndTransparentPick(); };
    new TTextur(&Main);
    Main.UpdateCommandEnabling();
}

} // namespace kv
