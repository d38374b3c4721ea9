#include "formats/PictureFormats.h"

#include "formats/ClipIcon.h"
#include "formats/GIFImage.h"
#include "formats/KvGIF.h"
#include "formats/PNGImage.h"

namespace kv {

void RegisterPictureFormats()
{
    // The registry gives an extension (and a clipboard format) to the class registered
    // last, and the open dialogs list extensions newest first. So PNG goes first, to be
    // listed after GIF; then the editor's own GIF codec; then the GIF model, which must
    // win "gif" files and the "GIF Image" clipboard format, since it keeps every block
    // and plays animations; last the icon's clipboard format, which nothing else claims.
    static const bool Registered = [] {
        RegisterPNGImage();
        InitializeKvGIF();
        GIFImage::RegisterGIFImageClass();
        InitializeClipIcon();
        return true;
    }();
    (void)Registered;
}

} // namespace kv
