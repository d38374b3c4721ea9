// Random geometry for CopyRectBlend and StretchRectBlend: sizes 0, 1 and large,
// rectangles anywhere, every filter and draw mode. Errors are fine; memory faults are not.
#include "fuzz/FuzzCommon.h"
#include "raster/Raster32_Transforms.h"

#include <cstddef>
#include <cstdint>

namespace {

struct TReader : kv::fuzz::TInputReader {
    using TInputReader::TInputReader;
    // Mostly small coordinates, sometimes extreme ones.
    int32_t Coord()
    {
        uint8_t kind = Next8();
        int32_t v = int32_t(Next32());
        if (kind < 200)
            return int32_t(int8_t(v));
        if (kind < 240)
            return v % 5000;
        return v;
    }
    int32_t Side()
    {
        uint8_t kind = Next8();
        uint8_t v = Next8();
        if (kind < 230)
            return v % 40;
        return 1 + (int32_t(v) << 4); // up to 4081
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TReader r(data, size);
    kv::TBitmap32 src, dst;
    try {
        src.SetSize(r.Side(), r.Side());
        dst.SetSize(r.Side(), r.Side());
    } catch (const kv::Exception&) {
        return 0;
    }
    if (!src.IsEmpty())
        for (int64_t i = 0, n = int64_t(src.Width()) * src.Height(); i < n; ++i)
            src.Bits()[i] = uint32_t(i * 2654435761u) ^ r.Next8();
    uint8_t modes = r.Next8();
    src.SetDrawMode(kv::TDrawMode(modes % 3));
    src.SetStretchFilter(kv::TStretchFilter((modes >> 2) % 4));
    src.SetMasterAlpha(r.Next8() % 2 ? 255 : r.Next8());
    if (modes & 0x40)
        src.OnPixelCombine = [](kv::TColor32 F, kv::TColor32& B, uint32_t M) { B ^= F + M; };
    kv::TRect srcRect = kv::Rect(r.Coord(), r.Coord(), r.Coord(), r.Coord());
    kv::TRect dstRect = kv::Rect(r.Coord(), r.Coord(), r.Coord(), r.Coord());
    // Keep the destination area the stretch visits modest so each input runs quickly.
    int64_t area = (int64_t(dstRect.Right) - dstRect.Left) * (int64_t(dstRect.Bottom) - dstRect.Top);
    try {
        kv::CopyRectBlend(&dst, dstRect.Left, dstRect.Top, &src, srcRect);
        if (area < (int64_t(1) << 24) || modes & 0x80)
            kv::StretchRectBlend(&dst, dstRect, &src, srcRect);
        if (modes & 0x20)
            kv::StretchLinear(&dst, dstRect, &src, srcRect);
    } catch (const kv::ETransformError&) {
    }
    return 0;
}
