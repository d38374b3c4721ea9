// Writing a platform bitmap as a JPEG file through the imaging component. Kept apart
// because the imaging library's headers and the raster core's cannot share a unit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kv {

class TBitmap;
class TImagingIO;

std::shared_ptr<TImagingIO> CreateImagingIO();
// Attaches Bitmap (24 bits per pixel), sets the quality, writes Name through a temporary
// file and detaches again. Raises EWriteError when the component gave up.
void SaveJpegFile(TImagingIO& IO, TBitmap& Bitmap, int32_t Quality, const std::string& Name);

} // namespace kv
