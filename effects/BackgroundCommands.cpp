#include "effects/BackgroundCommands.h"

#include "effects/MainWindowFace.h"
#include "fx/BackFill.h"
#include "raster/Raster32.h"

namespace kv {

bool FillBackgroundWithColor(IMainForm& Main, TColorDialog& AllColor)
{
    // Undo has one level: a cancelled dialog must not replace the last undoable step.
    if (!AllColor.Execute())
        return false;
    Main.SaveUndoCanvas();
    Main.View()->Bitmap()->ClearTo(WinColorToColor32(AllColor.Color));
    return true;
}

bool LoadBackgroundFromFile(IMainForm& Main, TOpenDialog& OpenLayer, std::string& StatusText)
{
    if (!OpenLayer.Execute())
        return false;
    // Loaded aside first, so a file that does not load leaves the background as it was.
    TBitmap32 picture;
    picture.LoadFromFile(OpenLayer.FileName);
    Main.SaveUndoCanvas();
    Main.View()->Bitmap()->Assign(&picture);
    StatusText = IntToStr(picture.Width()) + "x" + IntToStr(picture.Height());
    return true;
}

bool LoadBackgroundTexture(IMainForm& Main, TOpenDialog& OpenLayer)
{
    if (!OpenLayer.Execute() || !FileExists(OpenLayer.FileName))
        return false;
    TBitmap32 tile;
    tile.LoadFromFile(OpenLayer.FileName);
    if (tile.IsEmpty())
        return false;
    Main.SaveUndoCanvas();
    TilePicture(tile, *Main.View()->Bitmap());
    return true;
}

int32_t CountImageColors(IMainForm& Main)
{
    TBitmap32* flat = Main.RenderFlattened();
    TBitmap b;
    if (flat)
        b.Assign(flat);
    Main.ReleaseFlatImage();
    b.SetPixelFormat(pf24bit);
    const int32_t n = CountColors(b);
    MessageDlg(ColorCountMessage(n), mtInformation, Buttons({mbOK}));
    return n;
}

} // namespace kv
