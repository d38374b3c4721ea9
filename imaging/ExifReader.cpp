#include "imaging/ExifReader.h"

#include "imaging/TiffFilter.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <cstring>

namespace kv {

namespace {

constexpr size_t ExifPrefix = 6; // "Exif" and two zero bytes

// The second directory of the block is the thumbnail; a damaged one leaves the 1 x 1
// place-holder and never fails the load that asked for it.
void ReadThumbnail(TStream& Block, TIOParamsVals& Params)
{
    TIOParamsVals temp(nullptr);
    temp.TiffImageIndex = 1;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    TBitmap& thumbnail = *Params.ExifThumbnail;
    try {
        Block.Seek(0, soBeginning);
        ReadTiff(Block, thumbnail, temp, false, progress, TTiffReadOptions{});
    } catch (const std::exception&) {
        aborting = true;
    }
    if (aborting || thumbnail.Width() < 1 || thumbnail.Height() < 1)
        thumbnail.SetSize(1, 1);
}

} // namespace

bool IEReadExifMarker(const uint8_t* Data, size_t Length, TIOParamsVals& Params)
{
    if (!Data || Length < ExifPrefix + 8 || std::memcmp(Data, "Exif", 4) != 0)
        return false;
    const uint8_t* tiff = Data + ExifPrefix;
    if (!((tiff[0] == 'I' && tiff[1] == 'I') || (tiff[0] == 'M' && tiff[1] == 'M')))
        return false;
    TReadOnlyMemoryStream block(tiff, int64_t(Length - ExifPrefix));
    TIOParamsVals temp(nullptr);
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    TBitmap unused;
    ReadTiff(block, unused, temp, true, progress, TTiffReadOptions{});
    if (temp.TiffImageCount < 1)
        return false;
    Params.CopyExif(temp);
    Params.EXIF_HasEXIFData = true;
    ReadThumbnail(block, Params);
    return true;
}

} // namespace kv
