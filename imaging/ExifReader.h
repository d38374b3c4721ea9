// The EXIF block of a JPEG APP1 marker: a little TIFF file after "Exif\0\0", read by
// the TIFF reader for the EXIF fields of the parameters and the thumbnail.
#pragma once

#include "imaging/IOParams.h"

#include <cstddef>
#include <cstdint>

namespace kv {

// True when Data is an "Exif" marker whose TIFF header and first directory could be
// read by the TIFF reader; the EXIF fields of Params are then replaced and the second
// directory is read into ExifThumbnail (1 x 1 when it cannot be). Never reads outside
// the block.
bool IEReadExifMarker(const uint8_t* Data, size_t Length, TIOParamsVals& Params);

} // namespace kv
