// Reads a picture file into the document's 32-bit bitmap for File > Open and Layers >
// New Layer From File. A PNG that carries transparency and an icon keep their alpha
// (straight, not premultiplied); every other file goes through the graphic-class registry.
#pragma once

#include "raster/Raster32.h"

#include <string>

namespace kv {

// True when the file is a PNG whose pixels carry alpha: colour type 4 or 6, or a tRNS
// chunk before the first IDAT. Anything that is not a readable PNG header answers false.
bool PngFileHasAlpha(const std::string& FileName);

enum TFileAlpha : uint8_t { faNone, faFromFile };

// Which reader a GIF file goes through. The document shows a GIF as the editor's own codec
// decodes its current frame and tells a damaged frame apart; a layer takes the picture as
// the registry's GIF model draws it on its logical screen.
enum TGifReader : uint8_t { grRegistry, grOwnCodec };

// Loads FileName into Into, which is changed only once the whole file was read. Answers
// faFromFile when the picture's alpha came from the file. Damaged, when given, is set
// when the file opened but part of its picture could not be read. This is the one place
// that chooses a reader: the file is opened once and the registry asked once.
TFileAlpha LoadPictureFile(const std::string& FileName, TBitmap32& Into, bool* Damaged = nullptr,
                           TGifReader Gif = grRegistry);

// The status bar's word for such a file.
constexpr const char* DamagedFileMessage = "The file is damaged; part of the picture could not be read";

// The background is drawn and saved opaque: a picture's transparent areas become the
// blank canvas's white, so the colour hidden under alpha 0 never shows.
void PutOnBlankCanvas(TBitmap32& Picture);

} // namespace kv
