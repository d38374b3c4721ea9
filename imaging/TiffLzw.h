// The TIFF LZW coder (TIFF 6.0 section 13: codes most significant bit first, 9 to 12
// bits wide, Clear 256, EOI 257, the code width growing one code early) in the shape
// of the LZW routine slots of the I/O parameters.
#pragma once

#include "imaging/IOParams.h"

#include <cstdint>

namespace kv {

// Decodes one strip into Out (OutCount bytes; bytes the data does not reach stay as
// they are). Returns the bytes produced, or -1 for a code that cannot stand where it
// is. A call with no data (nullptr, 0) ends the strip and frees State.
int64_t TiffLzwDecode(const uint8_t* Data, int64_t Count, uint8_t* Out, int64_t OutCount, intptr_t& State);
// Codes Count bytes onto Stream, keeping the coder in State (0 before the first call).
// A call with no data (nullptr, 0) writes the last code and EOI and frees State.
// False when the stream took fewer bytes than it was given.
bool TiffLzwEncode(const uint8_t* Data, int64_t Count, TStream& Stream, intptr_t& State);

// Fills the library-wide TIFF LZW slots with the coder above; the program and the
// tests call it once at start-up.
void InstallTiffLzwCoder();

} // namespace kv
