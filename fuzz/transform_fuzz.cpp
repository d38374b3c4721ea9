// DrawTransformed with random affine parameters and projective corners, including NaN,
// infinities and degenerate quads.
#include "fuzz/FuzzCommon.h"
#include "raster/Raster32_Transforms.h"

#include <cstddef>
#include <cstdint>

namespace {

struct TReader : kv::fuzz::TInputReader {
    using TInputReader::TInputReader;
    float Float()
    {
        const uint8_t kind = Next8();
        if (kind < 160)
            return float(int16_t(Next32())) / 64.0f; // ordinary values
        return NextRawFloat();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TReader r(data, size);
    kv::TBitmap32 src, dst;
    src.SetSize(r.Next8() % 48, r.Next8() % 48);
    dst.SetSize(r.Next8() % 64, r.Next8() % 64);
    if (!src.IsEmpty())
        for (int64_t i = 0, n = int64_t(src.Width()) * src.Height(); i < n; ++i)
            src.Bits()[i] = uint32_t(i * 2654435761u);
    uint8_t modes = r.Next8();
    src.SetDrawMode(kv::TDrawMode(modes % 3));
    src.SetStretchFilter(kv::TStretchFilter((modes >> 2) % 4));
    src.SetMasterAlpha(r.Next8());
    src.SetOuterColor(0x7FFFFFFF);
    kv::TSingleRect srcRect = kv::MakeSingleRect(r.Float(), r.Float(), r.Float(), r.Float());
    if (modes & 0x80) {
        kv::TProjectiveTransformation t;
        t.SetSourceRect(srcRect);
        t.SetQuadX0(r.Float());
        t.SetQuadY0(r.Float());
        t.SetQuadX1(r.Float());
        t.SetQuadY1(r.Float());
        t.SetQuadX2(r.Float());
        t.SetQuadY2(r.Float());
        t.SetQuadX3(r.Float());
        t.SetQuadY3(r.Float());
        kv::DrawTransformed(&dst, &src, &t);
    } else {
        kv::TAffineTransformation t;
        t.SetSourceRect(srcRect);
        t.Rotate(r.Float(), r.Float(), r.Float());
        t.Scale(r.Float(), r.Float());
        t.Skew(r.Float() / 16, r.Float() / 16);
        t.Translate(r.Float(), r.Float());
        kv::DrawTransformed(&dst, &src, &t);
    }
    return 0;
}
