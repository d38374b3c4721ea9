// Pictures on the clipboard for the editor's Edit menu: a bitmap offered both as the
// system's image and as PNG bytes (so programs that ask for "image/png" paste it too),
// and a bitmap read back with its alpha only when the image on the clipboard has an
// alpha channel.
#pragma once

#include "platform/Graphics.h"

namespace kv {

// Puts Bitmap (pf32bit keeps its fourth byte as alpha) on the clipboard as one content.
void ClipboardSetBitmap(const TBitmap& Bitmap);
// Fills Bitmap (pf32bit) from the clipboard's image; False, and Bitmap untouched, when
// there is none. An image without an alpha channel comes out opaque. The size goes
// through the pixel-buffer check before anything is allocated.
bool ClipboardGetBitmap(TBitmap& Bitmap);

} // namespace kv
