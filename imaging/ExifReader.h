// The EXIF block of a JPEG APP1 marker: a little TIFF file after "Exif\0\0", of which
// the first image directory is read for the EXIF fields of the parameters.
#pragma once

#include "imaging/IOParams.h"

#include <cstddef>
#include <cstdint>

namespace kv {

// True when Data is an "Exif" marker whose TIFF header and first directory could be
// read; the EXIF fields of Params are then replaced. Never reads outside the block.
bool IEReadExifMarker(const uint8_t* Data, size_t Length, TIOParamsVals& Params);

} // namespace kv
