// The bodies of the Background menu's Fill With Color, Load From File and Load form
// Texture, and of Image > Count Image Colors. The main window's handlers call these
// with its dialogs; each takes the undo copy only once the change is certain.
#pragma once

#include "platform/Dialogs.h"

#include <string>

namespace kv {

class IMainForm;

// Fill With Color: the colour dialog, then the whole background opaque in that colour.
bool FillBackgroundWithColor(IMainForm& Main, TColorDialog& AllColor);
// Load From File: the picture dialog, then the background takes the file and its size.
// StatusText gets "<width>x<height>" for the status bar's panel 1.
bool LoadBackgroundFromFile(IMainForm& Main, TOpenDialog& OpenLayer, std::string& StatusText);
// Load form Texture: the picture dialog, then the file tiled over the background,
// which keeps its size. Nothing changes when the file is missing or empty.
bool LoadBackgroundTexture(IMainForm& Main, TOpenDialog& OpenLayer);
// Count Image Colors: the flattened render's distinct colours, shown in a message box.
int32_t CountImageColors(IMainForm& Main);

} // namespace kv
