// The processing component over small random pictures of depths 1, 4, 8, 24 and 32:
// resampling with filters 0..9 (negative and zero sizes too), rotation by ordinary,
// NaN, infinite and huge angles, flips, undo, the mask resampler and the 1-bit shrink.
#include "fuzz/FuzzCommon.h"
#include "imaging/ImagingProcComponent.h"

#include <cmath>
#include <exception>

using namespace kv;

namespace {

double Angle(fuzz::TInputReader& r)
{
    const uint8_t kind = r.Next8();
    if (kind < 128)
        return int8_t(r.Next8()) * 3.75;
    return kind < 192 ? std::ldexp(double(int8_t(r.Next8())), r.Next8() * 4) : r.NextRawFloat();
}

void Shrink(fuzz::TInputReader& r, const TBitmap& b)
{
    const int32_t x1 = int8_t(r.Next8()), y1 = int8_t(r.Next8()), x2 = int8_t(r.Next8()), y2 = int8_t(r.Next8());
    TBitmap dest;
    dest.SetSize(r.Next8() % 40, r.Next8() % 40);
    if (b.PixelFormat() == pf1bit && !b.Empty()) { // both forms; the raw one on the bottom-up rows
        IEShrink1Bit(b, x1, y1, x2, y2, dest);
        IEShrink1Bit(b.Bits(), b.Width(), b.Height(), x1, y1, x2, y2, dest.Width(), dest.Height());
    }
}

void MaskResample(fuzz::TInputReader& r)
{
    TIEMask mask, out;
    mask.AllocateBits(r.Next8() % 24, r.Next8() % 24, (r.Next8() & 1) ? 8 : 1);
    for (int32_t y = 0; y < mask.Height(); ++y)
        for (int32_t x = 0; x < mask.Width(); ++x)
            mask.SetPixel(x, y, uint8_t(x * 37 + y * 91));
    IEResampleMask(mask, out, r.Next8() % 40, r.Next8() % 40, r.Next8() % 10);
}

void Run(fuzz::TInputReader& r)
{
    static const TPixelFormat formats[] = {pf1bit, pf4bit, pf8bit, pf24bit, pf32bit};
    TBitmap b;
    b.SetPixelFormat(formats[r.Next8() % 5]);
    b.SetSize(r.Next8() % 65, r.Next8() % 65);
    const uint8_t seed = r.Next8();
    for (int64_t i = 0; i < int64_t(b.BytesPerScanLine()) * b.Height(); ++i)
        b.Bits()[i] = uint8_t(i * seed + (i >> 3));
    TImagingProc proc;
    proc.SetUndoLocation(ieLocationMemory);
    proc.SetUndoLimit(int8_t(r.Next8()) % 4);
    proc.SetBackground(TColor(r.Next32() & 0xFFFFFF));
    proc.SetBitmap(&b);
    for (int op = 0; op < 8 && r.Left(1); ++op) {
        switch (r.Next8() % 7) {
        case 0: proc.Resample(int8_t(r.Next8()) % 72, int8_t(r.Next8()) % 72, r.Next8() % 10); break;
        case 1: proc.Rotate(Angle(r), r.Next8() & 1); break;
        case 2: proc.Flip(TFlipDirection(r.Next8() % 3)); break;
        case 3: proc.UndoAt(int8_t(r.Next8()) % 4); break;
        case 4: Shrink(r, b); break;
        case 5: MaskResample(r); break;
        default: proc.Undo();
        }
        if (b.Width() > 256 || b.Height() > 256) // repeated rotations grow the picture
            proc.Resample(32, 32, 9);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication("improc_fuzz"); // filter 0 stretches through a canvas
    fuzz::TInputReader r(data, size);
    try {
        Run(r);
    } catch (const std::exception&) { // a refused allocation is a clean failure
    }
    return 0;
}
