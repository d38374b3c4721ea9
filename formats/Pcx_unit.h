// LoadPCXFile: reads a whole PCX file into a platform bitmap in the file's own depth
// (1 bit, 8 bits with a palette, or 24 bits). A bad file raises nothing: its message
// stays in PCXErrorText and the bitmap is left as it was.
#pragma once

#include "platform/Graphics.h"

#include <string>

namespace kv {

// The message of the last failed load (empty after a good one). Owned by this unit;
// only the thread that loads thumbnails reads and writes it.
extern std::string PCXErrorText;

// True when the picture was read; false with PCXErrorText set otherwise.
bool LoadPCXFile(const std::string& FileName, TBitmap* Bitmap);

} // namespace kv
