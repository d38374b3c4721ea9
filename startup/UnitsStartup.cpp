#include "startup/UnitsStartup.h"

#include "formats/GifIndexCoder.h"
#include "formats/KVConst.h"
#include "formats/PictureFormats.h"
#include "imaging/IOParams.h"
#include "imaging/TiffLzw.h"

namespace kv {

void StartUnits()
{
    RegisterPictureFormats();
    InitializeKVConst();
    // The imaging library's GIF filter codes its image data through the editor's coder.
    DefGifLzwDecompress = DecodeGifIndexes;
    DefGifLzwCompress = EncodeGifIndexes;
    InstallTiffLzwCoder();
}

} // namespace kv
