// Reads a picture file into the document's 32-bit bitmap for File > Open and Layers >
// New Layer From File: the one place that chooses the reader of a picture file. A PNG
// that carries transparency keeps its alpha (straight, not premultiplied); a GIF goes
// through the editor's own GIF codec when the caller asks for it; every other file goes
// through the graphic-class registry.
#pragma once

#include "raster/Raster32.h"

#include <string>

namespace kv {

// True when the file is a PNG whose pixels carry alpha: colour type 4 or 6, or a tRNS
// chunk before the first IDAT. Anything that is not a readable PNG header answers false.
bool PngFileHasAlpha(const std::string& FileName);

enum TFileAlpha : uint8_t { faNone, faFromFile };

// Who reads a file named ".gif" or ".GIF": the registry's GIF class, or the editor's own
// GIF codec, whose current frame File > Open shows (and whose palette Save writes back).
enum TGifReader : uint8_t { grRegistry, grEditorCodec };

// Loads FileName into Into, which is changed only once the whole file was read. Answers
// faFromFile when the picture's alpha came from the file. Damaged, when given, is set
// when the file opened but part of its picture could not be read.
TFileAlpha LoadPictureFile(const std::string& FileName, TBitmap32& Into, bool* Damaged = nullptr,
                           TGifReader Gif = grRegistry);

// The status bar's word for such a file.
constexpr const char* DamagedFileMessage = "The file is damaged; part of the picture could not be read";

// The background is drawn and saved opaque: a picture's transparent areas become the
// blank canvas's white, so the colour hidden under alpha 0 never shows.
void PutOnBlankCanvas(TBitmap32& Picture);

} // namespace kv
