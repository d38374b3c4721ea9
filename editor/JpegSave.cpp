#include "editor/JpegSave.h"

#include "imaging/ImagingIO.h"
#include "platform/Graphics.h"

namespace kv {

std::shared_ptr<TImagingIO> CreateImagingIO() { return std::make_shared<TImagingIO>(); }

void SaveJpegFile(TImagingIO& IO, TBitmap& Bitmap, int32_t Quality, const std::string& Name)
{
    Bitmap.SetPixelFormat(pf24bit);
    IO.SetBitmap(&Bitmap);
    struct TDetach {
        TImagingIO& IO;
        ~TDetach() { IO.SetBitmap(nullptr); }
    } detach{IO};
    IO.Params().JpegQuality = Quality;
    IO.SetAborting(false);
    IO.SaveToFileJpeg(Name);
    if (IO.Aborting())
        throw EWriteError("Cannot write " + Name);
}

} // namespace kv
