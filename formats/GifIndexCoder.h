// The editor's GIF LZW coder in the shape the imaging library's GIF slots take: one
// byte an index, top row first, no row padding. The program's main installs these.
#pragma once

#include "platform/Classes.h"

#include <cstdint>

namespace kv {

// Reads the code size byte and the sub-blocks up to the terminator (or the stream's
// end) and leaves Width x Height indexes in Buffer; damaged data leaves zeros past what
// was decoded. False when the data ended early, lacks its terminator, or is damaged.
bool DecodeGifIndexes(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced, uint8_t* Buffer);
// Writes the code size byte, the sub-blocks and the terminator; indexes must fit in
// BitsPerPixel bits (1..8).
void EncodeGifIndexes(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced, const uint8_t* Buffer,
                      int32_t BitsPerPixel);

} // namespace kv
