// The JPEG write of TCompress, kept apart because the imaging headers and the raster
// headers each declare their own ClampByte and cannot share a source file.
#include "imaging/ImagingIO.h"

#include <memory>

namespace kv {

std::shared_ptr<TImagingIO> MakeJpegWriter() { return std::make_shared<TImagingIO>(); }

// Attaches the picture, sets the quality, writes, detaches. True when the file was
// written (the component neither raised nor set its abort flag).
bool SaveJpegThrough(TImagingIO& Io, TBitmap& Picture, int32_t Quality, const std::string& FileName)
{
    Io.SetBitmap(&Picture);
    Io.Params().JpegQuality = Quality;
    Io.SetAborting(false);
    struct TDetach {
        TImagingIO& Io;
        ~TDetach() { Io.SetBitmap(nullptr); }
    } detach{Io};
    Io.SaveToFileJpeg(FileName);
    return !Io.Aborting();
}

} // namespace kv
