// LoadTGAFile: reads a whole TGA file into a platform bitmap in the file's own depth
// (1 bit, 8 bits with a palette, or 24 bits). A bad file raises nothing: its message
// stays in TGAErrorText and the bitmap is left 1 x 1.
#pragma once

#include "platform/Graphics.h"

#include <string>

namespace kv {

// The message of the last failed load (empty after a good one). Owned by this unit.
extern std::string TGAErrorText;

// True when the picture was read; false with TGAErrorText set otherwise.
bool LoadTGAFile(const std::string& FileName, TBitmap* Bitmap);

} // namespace kv
