#include "imaging/ImagingProc.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kv {

// ---- Reduction helpers -------------------------------------------------------------

namespace {

// (red x 21 + green x 71 + blue x 7) / 100 rounded half to even, in integers.
int32_t RoundedLuma(TRGB C)
{
    const int32_t v = C.r * 21 + C.g * 71 + C.b * 7, q = v / 100, rest = v % 100;
    return rest > 50 || (rest == 50 && (q & 1)) ? q + 1 : q;
}

uint32_t ColorKey(TRGB C) { return (uint32_t(C.r) << 16) | (uint32_t(C.g) << 8) | C.b; }

// The standard 8 x 8 ordered-dither matrix, read as [x mod 8][y mod 8].
constexpr uint8_t Bayer8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

std::unique_ptr<TBitmap> NewOneBitBitmap(int32_t Width, int32_t Height)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf1bit);
    b->SetSize(Width, Height);
    return b;
}

} // namespace

std::unique_ptr<TBitmap> TryConvertTwoColorsTo1Bit(const TBitmap& Source, TRGB& Color0, TRGB& Color1)
{
    if (Source.PixelFormat() != pf24bit || Source.Empty())
        return nullptr;
    auto result = NewOneBitBitmap(Source.Width(), Source.Height());
    THash1 colours(12);
    for (int32_t y = 0; y < Source.Height(); ++y) {
        const uint8_t* p = Source.ScanLine(y);
        uint8_t* bits = result->ScanLine(y);
        for (int32_t x = 0; x < Source.Width(); ++x, p += 3) {
            const TRGB c{p[0], p[1], p[2]};
            if (colours.Insert(ColorKey(c))) {
                if (colours.Count() > 2)
                    return nullptr;
                (colours.Count() == 1 ? Color0 : Color1) = c;
            }
            if (!(c == Color0))
                SetBit(bits, x, true);
        }
    }
    if (colours.Count() != 2)
        return nullptr;
    if (RoundedLuma(Color1) < RoundedLuma(Color0)) {
        InvertBitmapBits(*result);
        std::swap(Color0, Color1);
    }
    result->SetPaletteEntries({{Color0.r, Color0.g, Color0.b, 0}, {Color1.r, Color1.g, Color1.b, 0}});
    return result;
}

void DitherTo1Bit(TBitmap& Bitmap, TProgressRec& Progress)
{
    if (Bitmap.PixelFormat() != pf24bit)
        return;
    const int32_t w = Bitmap.Width(), h = Bitmap.Height();
    auto result = NewOneBitBitmap(w, h);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = Bitmap.ScanLine(y);
        uint8_t* bits = result->ScanLine(y);
        for (int32_t x = 0; x < w; ++x, p += 3) {
            const int32_t level = ((p[2] * 21 + p[1] * 71 + p[0] * 7) / 100) >> 2;
            // White reaches only 63, the matrix's largest entry: without the second
            // test every white 8 x 8 block would keep one black dot.
            if (level > Bayer8[x & 7][y & 7] || level >= 63)
                SetBit(bits, x, true);
        }
        if (Progress.OnProgress)
            Progress.OnProgress(Progress.Sender, int32_t((y + 1) * 100 / (h + 0.5)));
    }
    CopyBitmap(*result, Bitmap);
}

int32_t NearestPaletteIndex(const TRGB* Palette, int32_t Count, TRGB Color)
{
    int32_t best = 0, bestDist = 1000;
    for (int32_t i = 0; Palette && i < Count; ++i) {
        const TRGB& e = Palette[i];
        const int32_t d = std::abs(e.r - Color.r) + std::abs(e.g - Color.g) + std::abs(e.b - Color.b);
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

void SwapPaletteRB(TRGB* Palette, int32_t Count)
{
    for (int32_t i = 0; Palette && i < Count; ++i)
        std::swap(Palette[i].b, Palette[i].r);
}

namespace {

// 256 x 8 pixels of 3 bytes: the expansion of every 1-bit byte, a set bit white.
struct TOneBitExpansion {
    uint8_t T[256][24];
    TOneBitExpansion()
    {
        for (int v = 0; v < 256; ++v)
            for (int b = 0; b < 8; ++b)
                std::memset(&T[v][3 * b], (v & (0x80 >> b)) ? 255 : 0, 3);
    }
};
const TOneBitExpansion OneBitExpansion;

} // namespace

void CopyBitmap(const TBitmap& Source, TBitmap& Dest)
{
    if (&Source == &Dest)
        return;
    Dest.SetSize(1, 1);
    Dest.SetPixelFormat(Source.PixelFormat());
    if (Source.PixelFormat() == pf1bit || Source.PixelFormat() == pf4bit || Source.PixelFormat() == pf8bit)
        Dest.SetPaletteEntries(Source.PaletteEntries());
    Dest.SetSize(Source.Width(), Source.Height());
    const size_t block = size_t(int64_t(Source.BytesPerScanLine()) * Source.Height());
    if (block && Dest.Bits() && Source.Bits())
        std::memcpy(Dest.Bits(), Source.Bits(), block);
}

std::unique_ptr<TBitmap> CloneBitmap(const TBitmap& Source)
{
    auto b = std::make_unique<TBitmap>();
    CopyBitmap(Source, *b);
    return b;
}

void CopyBitmapTo24Bit(const TBitmap& Source, TBitmap& Dest, TProgressRec* Progress)
{
    if (Source.PixelFormat() != pf1bit) {
        CopyBitmap(Source, Dest);
        Dest.SetPixelFormat(pf24bit);
        return;
    }
    const int32_t w = Source.Width(), h = Source.Height();
    Dest.SetSize(1, 1);
    Dest.SetPixelFormat(pf24bit);
    Dest.SetSize(w, h);
    const int32_t whole = w / 8, rest = w % 8;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = Source.ScanLine(y);
        uint8_t* dst = Dest.ScanLine(y);
        for (int32_t i = 0; i < whole; ++i)
            std::memcpy(dst + 24 * i, OneBitExpansion.T[src[i]], 24);
        if (rest) // only the pixels that are there: a whole table entry would run past the row
            std::memcpy(dst + 24 * whole, OneBitExpansion.T[src[whole]], size_t(3 * rest));
        if (Progress && Progress->OnProgress)
            Progress->OnProgress(Progress->Sender, int32_t((y + 1) * 100 / (h + 0.5)));
    }
}

int32_t ConvertRowBits(const uint8_t* Src, uint8_t* Dst, int32_t SrcBits, int32_t Width, int32_t PaletteHigh,
                       const TRGB* Palette, int32_t DstBits, const TIEColorIndexFunc& ColorIndex)
{
    auto readIndex = [&](int32_t x) -> int32_t {
        switch (SrcBits) {
        case 1: return GetBit(Src, x) ? 1 : 0;
        case 4: return (x & 1) ? (Src[x >> 1] & 0x0F) : (Src[x >> 1] >> 4);
        default: return Src[x];
        }
    };
    auto readColor = [&](int32_t x) -> TRGB {
        if (SrcBits == 24 || SrcBits == 32) {
            const uint8_t* p = Src + x * (SrcBits / 8);
            return TRGB{p[0], p[1], p[2]};
        }
        int32_t i = std::min(readIndex(x), std::max(PaletteHigh, 0));
        if (Palette)
            return Palette[i];
        uint8_t v = SrcBits == 1 ? uint8_t(i ? 255 : 0) : uint8_t(i);
        return TRGB{v, v, v};
    };
    const bool srcIndexed = SrcBits <= 8;
    switch (DstBits) {
    case 24:
        for (int32_t x = 0; x < Width; ++x) {
            TRGB c = readColor(x);
            Dst[3 * x] = c.b;
            Dst[3 * x + 1] = c.g;
            Dst[3 * x + 2] = c.r;
        }
        return 3 * Width;
    case 8:
        for (int32_t x = 0; x < Width; ++x)
            Dst[x] = uint8_t(srcIndexed ? readIndex(x) : ColorIndex ? ColorIndex(readColor(x)) : 0);
        return Width;
    case 4:
        std::memset(Dst, 0, size_t((Width + 1) / 2));
        for (int32_t x = 0; x < Width; ++x) {
            int32_t v = (srcIndexed ? readIndex(x) : ColorIndex ? ColorIndex(readColor(x)) : 0) & 0x0F;
            Dst[x >> 1] |= uint8_t((x & 1) ? v : v << 4);
        }
        return (Width + 1) / 2;
    case 1:
        std::memset(Dst, 0, size_t((Width + 7) / 8));
        for (int32_t x = 0; x < Width; ++x) {
            int32_t v = srcIndexed ? readIndex(x) : ColorIndex ? ColorIndex(readColor(x)) : 0;
            if (v)
                SetBit(Dst, x, true);
        }
        return (Width + 7) / 8;
    default:
        return 0;
    }
}

void CopyBitRun(uint8_t* Dest, const uint8_t* Src, int64_t DestBit, int64_t Count, int64_t SrcBit)
{
    for (int64_t i = 0; i < Count; ++i) {
        int64_t s = SrcBit + i, d = DestBit + i;
        bool v = (Src[s >> 3] & (0x80 >> (s & 7))) != 0;
        if (v)
            Dest[d >> 3] |= uint8_t(0x80 >> (d & 7));
        else
            Dest[d >> 3] &= uint8_t(~(0x80 >> (d & 7)));
    }
}

void InvertBitmapBits(TBitmap& Bitmap)
{
    const int32_t len = Bitmap.BytesPerScanLine();
    for (int32_t y = 0; y < Bitmap.Height(); ++y) {
        uint8_t* row = Bitmap.ScanLine(y);
        for (int32_t i = 0; i < len; ++i)
            row[i] = uint8_t(~row[i]);
    }
}

// ---- Fast linear resampling -----------------------------------------------------------

namespace {

// Per target index along one axis: the source window or the pair and fraction.
struct TAxisStep {
    int32_t First = 0; // a, or the window's first
    int32_t Last = 0;  // the next pixel (clamped), or the window's last
    int32_t Frac = 0;  // 17-bit fraction when enlarging
};

enum TAxisKind : uint8_t { akCopy, akEnlarge, akReduce };

TAxisKind AxisSteps(int32_t oldSize, int32_t newSize, bool reduceTolerance, std::vector<TAxisStep>& steps)
{
    steps.assign(size_t(newSize), TAxisStep{});
    if (oldSize == newSize) {
        for (int32_t i = 0; i < newSize; ++i)
            steps[size_t(i)] = TAxisStep{i, i, 0};
        return akCopy;
    }
    const double scale = double(newSize) / double(oldSize);
    if (scale > 1.0) {
        for (int32_t i = 0; i < newSize; ++i) {
            double pos = i / scale;
            int32_t a = std::min(int32_t(pos), oldSize - 1);
            steps[size_t(i)] = TAxisStep{a, std::min(a + 1, oldSize - 1), int32_t((pos - int32_t(pos)) * 131072.0)};
        }
        return akEnlarge;
    }
    for (int32_t i = 0; i < newSize; ++i) {
        int32_t a = std::min(int32_t(i / scale), oldSize - 1);
        int32_t e = int32_t(std::min(i + 1, newSize - 1) / scale + (reduceTolerance ? 1e-10 : 0.0));
        e = std::clamp(e, a, oldSize - 1);
        steps[size_t(i)] = TAxisStep{a, e, 0};
    }
    return akReduce;
}

inline int32_t Lerp17(int32_t a, int32_t b, int32_t f) { return a + (((b - a) * f) >> 17); }

// One output row from up to a window of input rows, Channels bytes a pixel, through the
// horizontal steps.
void HorizontalRow(const uint8_t* src, uint8_t* dst, int32_t newWidth, int32_t channels, TAxisKind kind,
                   const std::vector<TAxisStep>& steps)
{
    for (int32_t i = 0; i < newWidth; ++i) {
        const TAxisStep& s = steps[size_t(i)];
        for (int32_t c = 0; c < channels; ++c) {
            int32_t v;
            if (kind == akEnlarge) {
                v = Lerp17(src[s.First * channels + c], src[s.Last * channels + c], s.Frac);
            } else if (kind == akReduce) {
                int32_t sum = 0;
                for (int32_t j = s.First; j <= s.Last; ++j)
                    sum += src[j * channels + c];
                v = sum / (s.Last - s.First + 1);
            } else {
                v = src[s.First * channels + c];
            }
            dst[i * channels + c] = uint8_t(v);
        }
    }
}

template <typename RowIn, typename RowOut>
void VerticalPass(RowIn rowIn, RowOut rowOut, int32_t bytes, int32_t newHeight, TAxisKind kind,
                  const std::vector<TAxisStep>& steps, std::vector<int32_t>& sums, const std::function<void()>& tick)
{
    sums.assign(size_t(bytes), 0);
    for (int32_t j = 0; j < newHeight; ++j) {
        const TAxisStep& s = steps[size_t(j)];
        uint8_t* out = rowOut(j);
        if (kind == akEnlarge) {
            const uint8_t* a = rowIn(s.First);
            const uint8_t* b = rowIn(s.Last);
            for (int32_t k = 0; k < bytes; ++k)
                out[k] = uint8_t(Lerp17(a[k], b[k], s.Frac));
        } else if (kind == akReduce) {
            std::fill(sums.begin(), sums.end(), 0);
            for (int32_t r = s.First; r <= s.Last; ++r) {
                const uint8_t* in = rowIn(r);
                for (int32_t k = 0; k < bytes; ++k)
                    sums[size_t(k)] += in[k];
            }
            const int32_t n = s.Last - s.First + 1;
            for (int32_t k = 0; k < bytes; ++k)
                out[k] = uint8_t(sums[size_t(k)] / n);
        } else {
            std::memcpy(out, rowIn(s.First), size_t(bytes));
        }
        tick();
    }
}

} // namespace

void IEFastLinearResample(const TBitmap& Source, TBitmap& Dest, int32_t NewWidth, int32_t NewHeight,
                          TProgressRec* Progress)
{
    const int32_t w = Source.Width(), h = Source.Height();
    CheckPixelBufferSize(NewWidth, NewHeight, "Resample");
    Dest.SetSize(1, 1);
    Dest.SetPixelFormat(pf24bit);
    Dest.SetSize(NewWidth, NewHeight);
    if (w < 1 || h < 1 || NewWidth < 1 || NewHeight < 1)
        return;
    std::vector<TAxisStep> xs, ys;
    const TAxisKind xk = AxisSteps(w, NewWidth, true, xs);
    const TAxisKind yk = AxisSteps(h, NewHeight, true, ys);
    int32_t done = 0;
    const double total = h + NewHeight + 0.5;
    auto tick = [&] {
        ++done;
        if (Progress && Progress->OnProgress)
            Progress->OnProgress(Progress->Sender, int32_t(done * 100 / total));
    };
    TIEWorkBitmap work(NewWidth, h, 24);
    for (int32_t y = 0; y < h; ++y) {
        HorizontalRow(Source.ScanLine(y), work.ScanLine(y), NewWidth, 3, xk, xs);
        tick();
    }
    std::vector<int32_t> sums;
    VerticalPass([&](int32_t r) -> const uint8_t* { return work.ScanLine(r); },
                 [&](int32_t r) { return Dest.ScanLine(r); }, NewWidth * 3, NewHeight, yk, ys, sums, tick);
}

void IEFastMaskResample(const TIEMask& Source, TIEMask& Dest, int32_t NewWidth, int32_t NewHeight)
{
    const int32_t w = Source.Width(), h = Source.Height();
    if (w < 1 || h < 1 || Source.BitsPerPixel() != 8)
        return;
    if (w == NewWidth && h == NewHeight) {
        Dest.Assign(&Source);
        return;
    }
    std::vector<TAxisStep> xs, ys;
    const TAxisKind xk = AxisSteps(w, NewWidth, true, xs);
    const TAxisKind yk = AxisSteps(h, NewHeight, false, ys);
    TIEWorkBitmap work(NewWidth, h, 8);
    for (int32_t y = 0; y < h; ++y)
        HorizontalRow(Source.ScanLine(y), work.ScanLine(y), NewWidth, 1, xk, xs);
    Dest.AllocateBits(NewWidth, NewHeight, 8);
    std::vector<int32_t> sums;
    VerticalPass([&](int32_t r) -> const uint8_t* { return work.ScanLine(r); },
                 [&](int32_t r) { return Dest.ScanLine(r); }, NewWidth, NewHeight, yk, ys, sums, [] {});
}

} // namespace kv
