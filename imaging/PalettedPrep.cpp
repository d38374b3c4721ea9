#include "imaging/PalettedPrep.h"

#include "imaging/ImagingProc.h"

namespace kv {

void IEReportPercent(TProgressRec& Progress, int32_t Percent)
{
    if (Progress.OnProgress)
        Progress.OnProgress(Progress.Sender, Percent);
}

bool IEReadAll(TStream& Stream, void* Buffer, int64_t Count)
{
    return Count <= 0 || Stream.Read(Buffer, Count) == Count;
}

TIEPreparedPicture IEPrepare1Bit(const TBitmap& Source, TProgressRec& Progress)
{
    TIEPreparedPicture out;
    if (Source.PixelFormat() == pf1bit) {
        out.Bitmap = &Source;
        return out;
    }
    TIEPreparedPicture full = IEPrepare24Bit(Source);
    TRGB c0, c1;
    out.Owned = TryConvertTwoColorsTo1Bit(*full.Bitmap, c0, c1);
    if (out.Owned) {
        out.Color0 = c0;
        out.Color1 = c1;
    } else {
        // The dither works in place: it needs a copy of its own.
        out.Owned = full.Owned ? std::move(full.Owned) : CloneBitmap(Source);
        DitherTo1Bit(*out.Owned, Progress);
    }
    out.Bitmap = out.Owned.get();
    return out;
}

TIEPreparedPicture IEPrepare24Bit(const TBitmap& Source)
{
    TIEPreparedPicture out;
    if (Source.PixelFormat() == pf24bit) {
        out.Bitmap = &Source;
        return out;
    }
    out.Owned = std::make_unique<TBitmap>();
    CopyBitmapTo24Bit(Source, *out.Owned, nullptr);
    out.Bitmap = out.Owned.get();
    return out;
}

} // namespace kv
