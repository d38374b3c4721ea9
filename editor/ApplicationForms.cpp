#include "editor/ApplicationForms.h"

#include "editor/MainUnit.h"
#include "effects/AdjustDialogs.h"
#include "effects/BackLaUnit.h"
#include "effects/BorderDialogs.h"
#include "effects/CompressUnit.h"
#include "effects/EffectDialogs.h"
#include "effects/GeometryDialogs.h"
#include "effects/GifTypeUnit.h"
#include "effects/NewImageUnit.h"
#include "effects/PrintRaster32.h"
#include "effects/ProGeomoUnit.h"
#include "effects/SmallWindows.h"
#include "effects/TexterUnit.h"
#include "effects/TexturUnit.h"

namespace kv {

namespace {

// The pick shows the tool window and, in it, the colour under the mouse; however the
// window closes, the pick ends.
void WireTransparentColorTool(TMainForm& Main, TSTC& Tool)
{
    Tool.View = Main.ImgView;
    Tool.OnClose = [&Main](TObject*) { Main.EndTransparentPick(); };
    Main.TransparentColorTool.Show = [&Tool](int32_t Left, int32_t Top) {
        Tool.move(Left, Top);
        Tool.Show();
    };
    Main.TransparentColorTool.ShowColor = [&Tool](TColor Color) { Tool.Panel1->SetColor(Color); };
    Main.TransparentColorTool.Close = [&Tool] {
        if (Tool.Showing())
            Tool.Close();
    };
}

} // namespace

void CreateApplicationForms(TMainForm& Main)
{
    // The order is the program's: TMainForm, TNewImageForm, TGifType, TCompress, ..., TTexter,
    // TGamma, ..., TBackLa, TBrid, ..., TFull, TEffect, TDeFoc, TSprayWin, TPosta, TWaves,
    // TKVNPrint, TAboutKVN, ..., TMarb, TSTC, ..., TTextur. The windows of the commands
    // still to come take their places in it when they exist.
    Main.NewImageForm = new TNewImageForm(&Main);
    Main.GifType = new TGifType(&Main);
    Main.Compress = new TCompress(&Main);
    Main.Compress->PARY = Main.PARY.get(); // the main window's JPEG writer
    Main.Border = new TBorder(&Main, Main);
    Main.FrameDialog = [&Main](TFrameChoice& Choice) { return Main.Border->Execute(Choice); };
    Main.Raiser = new TRaiser(&Main, Main);
    Main.Texter = new TTexter(&Main, Main);
    Main.Texter->LayerTools = &Main.LayerTools();
    Main.TextDialog = [&Main] { return Main.Texter->ShowModal() == mrOk; };
    Main.Gamma = new TGamma(&Main, Main);
    Main.Povor = new TPovor(&Main, Main);
    Main.Povor->LayerTools = &Main.LayerTools();
    Main.BackLa = new TBackLa(&Main, Main);
    Main.SimpleLayerDialog = [&Main] { Main.BackLa->ShowModal(); };
    Main.Brid = new TBrid(&Main, Main);
    Main.Rasm = new TRasm(&Main, Main);
    Main.Holst = new THolst(&Main, Main);
    Main.Full = new TFull(&Main);
    Main.Effect = new TEffect(&Main, Main);
    Main.DeFoc = new TDeFoc(&Main, Main);
    Main.SprayWin = new TSprayWin(&Main, Main);
    Main.Posta = new TPosta(&Main, Main);
    Main.Waves = new TWaves(&Main, Main);
    Main.KVNPrint = new TKVNPrint(&Main, Main);
    Main.AboutKVN = new TAboutKVN(&Main);
    Main.Sbor = new TSbor(&Main, Main);
    Main.Marb = new TMarb(&Main);
    Main.STC = new TSTC(&Main);
    WireTransparentColorTool(Main, *Main.STC);
    Main.Maski = new TMaski(&Main, Main);
    Main.CropLa = new TCropLa(&Main, Main);
    Main.CropLa->LayerTools = &Main.LayerTools();
    // Modal, like the frame window that opens it: shown modelessly, the frame window's
    // modality blocked it, and its OK and Cancel closed nothing outside a modal run.
    TTextur* Textur = new TTextur(&Main);
    Main.Border->ShowTextures = [Textur] { Textur->ShowModal(); };
    Main.ProGeomo = new TProGeomo(&Main, Main);
    Main.UpdateCommandEnabling();
}

} // namespace kv
