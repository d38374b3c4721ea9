#include "raster/Raster32_Filters.h"

namespace kv {

namespace {

// Whether the rule reads the destination's old pixel; one that does not is handed 0,
// and a destination sized afresh is then not cleared first (each pixel is written).
enum class TDstPixel { Read, Ignored };

template <TDstPixel Uses, class PixelRule> void ApplyFilter(TBitmap32* Dst, TBitmap32* Src, PixelRule Rule)
{
    if (!Src)
        throw Exception("The source is nil");
    if (!Dst)
        throw Exception("Destination is nil");
    if constexpr (Uses == TDstPixel::Read)
        Dst->SetSize(Src->Width(), Src->Height());
    else
        Dst->SetSizeForOverwrite(Src->Width(), Src->Height());
    if (!Dst->IsEmpty()) {
        const TColor32* s = Src->Bits();
        TColor32* d = Dst->Bits();
        for (int64_t i = 0, n = int64_t(Dst->Width()) * Dst->Height(); i < n; ++i)
            d[i] = Rule(s[i], Uses == TDstPixel::Read ? d[i] : TColor32(0));
    }
    Dst->Changed();
}

} // namespace

void GrayFromAlpha(TBitmap32* Dst, TBitmap32* Src)
{
    ApplyFilter<TDstPixel::Ignored>(Dst, Src, [](TColor32 S, TColor32) { return MakeGray32(Color32Alpha(S), 255); });
}

void AlphaFromIntensity(TBitmap32* Dst, TBitmap32* Src)
{
    ApplyFilter<TDstPixel::Read>(
        Dst, Src, [](TColor32 S, TColor32 D) { return (D & 0x00FFFFFFu) | (uint32_t(Color32Intensity(S)) << 24); });
}

void InvertColors(TBitmap32* Dst, TBitmap32* Src)
{
    ApplyFilter<TDstPixel::Ignored>(Dst, Src, [](TColor32 S, TColor32) { return S ^ 0x00FFFFFFu; });
}

void GrayFromColor(TBitmap32* Dst, TBitmap32* Src)
{
    ApplyFilter<TDstPixel::Ignored>(Dst, Src,
                                    [](TColor32 S, TColor32) { return MakeGray32(Color32Intensity(S), 255); });
}

} // namespace kv
