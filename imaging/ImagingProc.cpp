#include "imaging/ImagingProc.h"

#include <algorithm>
#include <cmath>
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
constexpr uint8_t Bayer8[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                                  {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                                  {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                                  {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

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
    default: return 0;
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
    if (Source.PixelFormat() != pf24bit) { // the passes read three bytes a pixel
        TBitmap rgb;
        CopyBitmapTo24Bit(Source, rgb, nullptr);
        IEFastLinearResample(rgb, Dest, NewWidth, NewHeight, Progress);
        return;
    }
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
    if (w < 1 || h < 1 || NewWidth < 1 || NewHeight < 1 || Source.BitsPerPixel() != 8)
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

// ---- Small helpers ----------------------------------------------------------------

int32_t IECeil(double X)
{
    const int32_t t = int32_t(X);
    return X - t > 0 ? t + 1 : t;
}

int32_t IEFloor(double X)
{
    const int32_t t = int32_t(X);
    return X - t < 0 ? t - 1 : t;
}

TRGB ColorToTRGB(TColor Color)
{
    const TColor c = ColorToRGB(Color);
    return TRGB{GetBValue(c), GetGValue(c), GetRValue(c)};
}

// ---- Filtered resampling ----------------------------------------------------------

namespace {

constexpr double Pi = 3.14159265358979323846;

double Sinc(double X)
{
    if (X == 0)
        return 1;
    return std::sin(Pi * X) / (Pi * X);
}

} // namespace

double IEFilterKernel(uint8_t Filter, double X)
{
    const double t = std::fabs(X);
    switch (Filter) {
    case 1: return t < 1 ? 1 - t : 0;
    case 2: return t < 1 ? (2 * t - 3) * t * t + 1 : 0;
    case 3:
        if (t < 0.5)
            return 0.75 - t * t;
        return t < 1.5 ? 0.5 * (t - 1.5) * (t - 1.5) : 0;
    case 4:
        if (t < 1)
            return 0.5 * t * t * t - t * t + 2.0 / 3.0;
        return t < 2 ? (2 - t) * (2 - t) * (2 - t) / 6 : 0;
    case 5: return t < 3 ? Sinc(X) * Sinc(X / 3) : 0;
    case 6:
        if (t < 1)
            return (7 * t * t * t - 12 * t * t + 16.0 / 3.0) / 6;
        return t < 2 ? (-7.0 / 3.0 * t * t * t + 12 * t * t - 20 * t + 32.0 / 3.0) / 6 : 0;
    case 7: return X > -0.5 && X <= 0.5 ? 1 : 0;
    case 8:
        if (X >= -1 && X < 0)
            return 1 + X;
        return X >= 0 && X < 1 ? 1 - X : 0;
    default: return 0;
    }
}

double IEFilterRadius(uint8_t Filter)
{
    static const double radius[9] = {0, 1.0, 1.0, 1.5, 2.0, 3.0, 2.0, 1.0, 1.0};
    return Filter < 9 ? radius[Filter] : 0;
}

namespace {

// The weighted source pixels of every target index along one axis, computed once
// and reused for every row or column. Sources are already mirrored and clamped.
struct TContributors {
    struct TItem {
        int32_t Pixel;
        double Weight;
    };
    std::vector<int32_t> Start; // items of target i: Start[i] .. Start[i + 1] - 1
    std::vector<TItem> Items;
};

int32_t MirrorIndex(int32_t J, int32_t Size)
{
    if (J < 0)
        J = -J;
    else if (J >= Size)
        J = 2 * Size - J - 1;
    return std::clamp(J, 0, Size - 1);
}

TContributors BuildContributors(int32_t OldSize, int32_t NewSize, uint8_t Filter)
{
    TContributors c;
    c.Start.reserve(size_t(NewSize) + 1);
    const double scale = double(NewSize) / OldSize;
    const double radius = IEFilterRadius(Filter);
    // Reducing widens the kernel by 1 / scale and lowers it by scale.
    const double reach = scale >= 1 ? radius : radius / scale;
    const double stretch = scale >= 1 ? 1 : scale;
    for (int32_t i = 0; i < NewSize; ++i) {
        c.Start.push_back(int32_t(c.Items.size()));
        const double centre = i / scale;
        const int32_t right = IECeil(centre + reach);
        for (int32_t j = IEFloor(centre - reach); j <= right; ++j) {
            const double w = IEFilterKernel(Filter, (centre - j) * stretch) * stretch;
            if (w != 0)
                c.Items.push_back({MirrorIndex(j, OldSize), w});
        }
    }
    c.Start.push_back(int32_t(c.Items.size()));
    return c;
}

// The 24-bit passes truncate their sums; the 1-bit and mask passes round half to even.
enum TSumRounding : uint8_t { srTrunc, srHalfEven };

inline uint8_t SumToByte(double Sum, TSumRounding Rounding)
{
    if (Sum > 255)
        return 255;
    if (Sum < 0)
        return 0;
    return uint8_t(Rounding == srTrunc ? int32_t(Sum) : int32_t(std::nearbyint(Sum)));
}

// One row of Channels-byte pixels through the column contributors.
void FilterRow(const uint8_t* Src, uint8_t* Dst, int32_t Channels, const TContributors& C, TSumRounding Rounding)
{
    const int32_t count = int32_t(C.Start.size()) - 1;
    for (int32_t i = 0; i < count; ++i) {
        double sum[4] = {0, 0, 0, 0};
        for (int32_t k = C.Start[size_t(i)]; k < C.Start[size_t(i) + 1]; ++k) {
            const auto& item = C.Items[size_t(k)];
            const uint8_t* p = Src + int64_t(item.Pixel) * Channels;
            for (int32_t ch = 0; ch < Channels; ++ch)
                sum[ch] += item.Weight * p[ch];
        }
        for (int32_t ch = 0; ch < Channels; ++ch)
            Dst[int64_t(i) * Channels + ch] = SumToByte(sum[ch], Rounding);
    }
}

// The vertical pass: each target row from the weighted intermediate rows, Bytes
// samples a row, handed to Emit(row, samples).
template <typename RowIn, typename Emit>
void FilterColumns(RowIn rowIn, Emit emit, int32_t Bytes, const TContributors& C, TSumRounding Rounding)
{
    std::vector<double> sums(static_cast<size_t>(Bytes));
    std::vector<uint8_t> out(static_cast<size_t>(Bytes));
    const int32_t count = int32_t(C.Start.size()) - 1;
    for (int32_t j = 0; j < count; ++j) {
        std::fill(sums.begin(), sums.end(), 0.0);
        for (int32_t k = C.Start[size_t(j)]; k < C.Start[size_t(j) + 1]; ++k) {
            const auto& item = C.Items[size_t(k)];
            const uint8_t* in = rowIn(item.Pixel);
            for (int32_t b = 0; b < Bytes; ++b)
                sums[size_t(b)] += item.Weight * in[b];
        }
        for (int32_t b = 0; b < Bytes; ++b)
            out[size_t(b)] = SumToByte(sums[size_t(b)], Rounding);
        emit(j, out.data());
    }
}

// Dest := 1 x 1, then Format, then the size (a paletted format gets Palette).
void PrepareBitmap(TBitmap& Dest, TPixelFormat Format, int32_t Width, int32_t Height,
                   const std::vector<TPaletteEntry>* Palette = nullptr)
{
    CheckPixelBufferSize(Width, Height, "Bitmap");
    Dest.SetSize(1, 1);
    Dest.SetPixelFormat(Format);
    if (Palette && !Palette->empty())
        Dest.SetPaletteEntries(*Palette);
    Dest.SetSize(Width, Height);
}

void FillGrey(TBitmap& Dest, uint8_t B, uint8_t G, uint8_t R)
{
    for (int32_t y = 0; y < Dest.Height(); ++y) {
        uint8_t* row = Dest.ScanLine(y);
        for (int32_t x = 0; x < Dest.Width(); ++x) {
            row[3 * x] = B;
            row[3 * x + 1] = G;
            row[3 * x + 2] = R;
        }
    }
}

void WriteGreyRow(uint8_t* Dst, const uint8_t* Grey, int32_t Width)
{
    for (int32_t x = 0; x < Width; ++x)
        std::memset(Dst + 3 * x, Grey[x], 3);
}

void ExpandBits(const uint8_t* Row, int32_t Width, uint8_t* Bytes)
{
    for (int32_t x = 0; x < Width; ++x)
        Bytes[x] = GetBit(Row, x) ? 255 : 0;
}

// The 17-bit interpolation steps of one axis whatever its scale (an axis of scale 1
// is copied).
std::vector<TAxisStep> LerpSteps(int32_t OldSize, int32_t NewSize)
{
    std::vector<TAxisStep> steps(static_cast<size_t>(NewSize));
    const double scale = double(NewSize) / OldSize;
    for (int32_t i = 0; i < NewSize; ++i) {
        if (OldSize == NewSize) {
            steps[size_t(i)] = TAxisStep{i, i, 0};
            continue;
        }
        const double pos = i / scale;
        const int32_t a = std::min(int32_t(pos), OldSize - 1);
        steps[size_t(i)] = TAxisStep{a, std::min(a + 1, OldSize - 1), int32_t((pos - int32_t(pos)) * 131072.0)};
    }
    return steps;
}

void FastResample1Bit(const TBitmap& Source, TBitmap& Dest, int32_t NewWidth, int32_t NewHeight)
{
    const int32_t w = Source.Width(), h = Source.Height();
    if (w == NewWidth && h == NewHeight) {
        CopyBitmapTo24Bit(Source, Dest, nullptr);
        return;
    }
    if (NewWidth <= w && NewHeight <= h) {
        IEShrink1Bit(Source, 0, 0, w - 1, h - 1, Dest);
        return;
    }
    const std::vector<TAxisStep> xs = LerpSteps(w, NewWidth), ys = LerpSteps(h, NewHeight);
    TIEWorkBitmap work(NewWidth, h, 8);
    std::vector<uint8_t> bytes(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
        ExpandBits(Source.ScanLine(y), w, bytes.data());
        HorizontalRow(bytes.data(), work.ScanLine(y), NewWidth, 1, akEnlarge, xs);
    }
    TIEWorkBitmap grey(NewWidth, NewHeight, 8);
    std::vector<int32_t> sums;
    VerticalPass([&](int32_t r) -> const uint8_t* { return work.ScanLine(r); },
                 [&](int32_t r) { return grey.ScanLine(r); }, NewWidth, NewHeight, akEnlarge, ys, sums, [] {});
    for (int32_t y = 0; y < NewHeight; ++y)
        WriteGreyRow(Dest.ScanLine(y), grey.ScanLine(y), NewWidth);
}

} // namespace

void IEResampleFiltered(const TBitmap& Source, TBitmap& Dest, int32_t NewWidth, int32_t NewHeight, uint8_t Filter,
                        TProgressRec* Progress)
{
    if (Filter == 9) {
        IEFastLinearResample(Source, Dest, NewWidth, NewHeight, Progress);
        return;
    }
    if (Source.PixelFormat() != pf24bit) {
        TBitmap rgb;
        CopyBitmapTo24Bit(Source, rgb, nullptr);
        IEResampleFiltered(rgb, Dest, NewWidth, NewHeight, Filter, Progress);
        return;
    }
    const int32_t w = Source.Width(), h = Source.Height();
    PrepareBitmap(Dest, pf24bit, NewWidth, NewHeight);
    if (w < 1 || h < 1 || NewWidth < 1 || NewHeight < 1 || IEFilterRadius(Filter) == 0)
        return;
    if (w == 1 && h == 1) { // what any normalised kernel gives
        const uint8_t* p = Source.ScanLine(0);
        FillGrey(Dest, p[0], p[1], p[2]);
        return;
    }
    TIEWorkBitmap work(NewWidth, h, 24);
    const TContributors cx = BuildContributors(w, NewWidth, Filter);
    const TContributors cy = BuildContributors(h, NewHeight, Filter);
    int32_t done = 0;
    const double total = h + NewHeight + 0.5;
    auto tick = [&] {
        ++done;
        if (Progress && Progress->OnProgress)
            Progress->OnProgress(Progress->Sender, int32_t(done * 100 / total));
    };
    for (int32_t y = 0; y < h; ++y) {
        FilterRow(Source.ScanLine(y), work.ScanLine(y), 3, cx, srTrunc);
        tick();
    }
    FilterColumns([&](int32_t r) -> const uint8_t* { return work.ScanLine(r); },
                  [&](int32_t r, const uint8_t* row) {
                      std::memcpy(Dest.ScanLine(r), row, size_t(NewWidth) * 3);
                      tick();
                  },
                  NewWidth * 3, cy, srTrunc);
}

void IEResample1Bit(const TBitmap& Source, TBitmap& Dest, int32_t NewWidth, int32_t NewHeight, uint8_t Filter)
{
    if (Source.PixelFormat() != pf1bit) {
        IEResampleFiltered(Source, Dest, NewWidth, NewHeight, Filter, nullptr);
        return;
    }
    const int32_t w = Source.Width(), h = Source.Height();
    PrepareBitmap(Dest, pf24bit, NewWidth, NewHeight);
    if (w < 1 || h < 1 || NewWidth < 1 || NewHeight < 1)
        return;
    if (Filter == 9) {
        FastResample1Bit(Source, Dest, NewWidth, NewHeight);
        return;
    }
    if (IEFilterRadius(Filter) == 0)
        return;
    if (w == 1 && h == 1) {
        const uint8_t v = GetBit(Source.ScanLine(0), 0) ? 255 : 0;
        FillGrey(Dest, v, v, v);
        return;
    }
    TIEMask mid;
    mid.AllocateBits(NewWidth, h, 8);
    const TContributors cx = BuildContributors(w, NewWidth, Filter);
    const TContributors cy = BuildContributors(h, NewHeight, Filter);
    std::vector<uint8_t> bytes(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
        ExpandBits(Source.ScanLine(y), w, bytes.data());
        FilterRow(bytes.data(), mid.ScanLine(y), 1, cx, srHalfEven);
    }
    FilterColumns([&](int32_t r) -> const uint8_t* { return mid.ScanLine(r); },
                  [&](int32_t r, const uint8_t* row) { WriteGreyRow(Dest.ScanLine(r), row, NewWidth); }, NewWidth, cy,
                  srHalfEven);
}

void IEResampleMask(const TIEMask& Source, TIEMask& Dest, int32_t NewWidth, int32_t NewHeight, uint8_t Filter)
{
    const int32_t w = Source.Width(), h = Source.Height();
    if (w < 1 || h < 1 || Source.IsEmpty())
        return;
    if (Source.BitsPerPixel() != 8) { // a 1-bit mask read as bytes would run past its rows
        TIEMask bytes;
        bytes.AllocateBits(w, h, 8);
        for (int32_t y = 0; y < h; ++y)
            ExpandBits(Source.ScanLine(y), w, bytes.ScanLine(y));
        IEResampleMask(bytes, Dest, NewWidth, NewHeight, Filter);
        return;
    }
    if (Filter == 0 || Filter == 9) {
        IEFastMaskResample(Source, Dest, NewWidth, NewHeight);
        return;
    }
    CheckPixelBufferSize(NewWidth, NewHeight, "TIEMask");
    if (NewWidth < 1 || NewHeight < 1 || IEFilterRadius(Filter) == 0)
        return;
    if (w == 1 && h == 1) {
        const uint8_t v = Source.ScanLine(0)[0];
        Dest.AllocateBits(NewWidth, NewHeight, 8);
        Dest.Fill(v);
        return;
    }
    TIEMask mid;
    mid.AllocateBits(NewWidth, h, 8);
    const TContributors cx = BuildContributors(w, NewWidth, Filter);
    const TContributors cy = BuildContributors(h, NewHeight, Filter);
    for (int32_t y = 0; y < h; ++y)
        FilterRow(Source.ScanLine(y), mid.ScanLine(y), 1, cx, srHalfEven);
    Dest.AllocateBits(NewWidth, NewHeight, 8);
    FilterColumns([&](int32_t r) -> const uint8_t* { return mid.ScanLine(r); },
                  [&](int32_t r, const uint8_t* row) { std::memcpy(Dest.ScanLine(r), row, size_t(NewWidth)); },
                  NewWidth, cy, srHalfEven);
}

void IEStretchPlain(const TBitmap& Source, TBitmap& Dest, int32_t NewWidth, int32_t NewHeight)
{
    // The stretch reads 1-bit pixels as black and white whatever the palette says,
    // and writes a 1-bit target through a black-and-white table too.
    static const std::vector<TPaletteEntry> mono = {TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}};
    const bool oneBit = Source.PixelFormat() == pf1bit;
    TBitmap src;
    if (oneBit) {
        CopyBitmap(Source, src);
        src.SetPaletteEntries(mono);
    } else {
        CopyBitmapTo24Bit(Source, src, nullptr);
    }
    PrepareBitmap(Dest, oneBit ? pf1bit : pf24bit, NewWidth, NewHeight, oneBit ? &mono : nullptr);
    if (src.Empty() || Dest.Empty())
        return;
    SetStretchBltMode(Dest.Canvas(), COLORONCOLOR);
    StretchBlt(Dest.Canvas(), 0, 0, NewWidth, NewHeight, src.Canvas(), 0, 0, src.Width(), src.Height(), SRCCOPY);
    if (oneBit && !Source.PaletteEntries().empty())
        Dest.SetPaletteEntries(Source.PaletteEntries());
}

// ---- 1-bit shrink -----------------------------------------------------------------

namespace {

// The clipped rectangle and the block of each target column or row along one axis.
struct TShrinkAxis {
    std::vector<int32_t> First, Last;
};

bool ClipSpan(int32_t& A, int32_t& B, int32_t Size)
{
    A = std::max(A, 0);
    B = std::min(B, Size - 1);
    return A <= B;
}

TShrinkAxis ShrinkAxis(int32_t A, int32_t B, int32_t DestSize)
{
    TShrinkAxis axis;
    const double scale = double(int64_t(B) - A + 1) / DestSize;
    for (int32_t c = 0; c < DestSize; ++c) {
        const int32_t lo = int32_t(c * scale);
        const int32_t hi = std::max(int32_t(int32_t(scale) + c * scale - 1), lo);
        axis.First.push_back(A + lo);
        axis.Last.push_back(std::min(A + hi, B));
    }
    return axis;
}

// Rows(y) gives the top-down 1-bit row y; Out(y) the 24-bit target row y.
template <typename RowsFn, typename OutFn>
void Shrink(RowsFn Rows, OutFn Out, const TShrinkAxis& Xs, const TShrinkAxis& Ys)
{
    const size_t dw = Xs.First.size();
    std::vector<int32_t> counts(dw);
    for (size_t r = 0; r < Ys.First.size(); ++r) {
        std::fill(counts.begin(), counts.end(), 0);
        for (int32_t y = Ys.First[r]; y <= Ys.Last[r]; ++y) {
            const uint8_t* row = Rows(y);
            for (size_t c = 0; c < dw; ++c)
                for (int32_t x = Xs.First[c]; x <= Xs.Last[c]; ++x)
                    counts[c] += GetBit(row, x);
        }
        const int32_t rows = Ys.Last[r] - Ys.First[r] + 1;
        uint8_t* out = Out(int32_t(r));
        for (size_t c = 0; c < dw; ++c) {
            const int32_t pixels = rows * (Xs.Last[c] - Xs.First[c] + 1);
            std::memset(out + 3 * c, 255 * counts[c] / pixels, 3);
        }
    }
}

} // namespace

void IEShrink1Bit(const TBitmap& Source, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TBitmap& Dest)
{
    if (Source.Empty() || Dest.Empty() || Source.PixelFormat() != pf1bit)
        return;
    if (!ClipSpan(X1, X2, Source.Width()) || !ClipSpan(Y1, Y2, Source.Height()))
        return;
    Dest.SetPixelFormat(pf24bit);
    Shrink([&](int32_t y) { return Source.ScanLine(y); }, [&](int32_t y) { return Dest.ScanLine(y); },
           ShrinkAxis(X1, X2, Dest.Width()), ShrinkAxis(Y1, Y2, Dest.Height()));
}

TIEPixelBlock IEShrink1Bit(const uint8_t* Rows, int32_t Width, int32_t Height, int32_t X1, int32_t Y1, int32_t X2,
                           int32_t Y2, int32_t DestWidth, int32_t DestHeight)
{
    if (!Rows || DestWidth < 1 || DestHeight < 1 || Width < 1 || Height < 1)
        return nullptr;
    if (!ClipSpan(X1, X2, Width) || !ClipSpan(Y1, Y2, Height))
        return nullptr;
    const int64_t srcLen = IERowLen(Width, 1), dstLen = IERowLen(DestWidth, 24);
    TIEPixelBlock block(AllocPixelBuffer(DestWidth, DestHeight, dstLen, "Shrink"));
    uint8_t* bits = block.get();
    Shrink([&](int32_t y) { return Rows + (Height - 1 - y) * srcLen; },
           [&](int32_t y) { return bits + (DestHeight - 1 - y) * dstLen; }, ShrinkAxis(X1, X2, DestWidth),
           ShrinkAxis(Y1, Y2, DestHeight));
    return block;
}

// ---- Quarter turns ----------------------------------------------------------------

namespace {

// Copies pixel Sx of Src to pixel Dx of Dst, Bits bits a pixel.
inline void CopyPixel(const uint8_t* Src, int32_t Sx, uint8_t* Dst, int32_t Dx, int32_t Bits)
{
    switch (Bits) {
    case 1: SetBit(Dst, Dx, GetBit(Src, Sx)); break;
    case 4: {
        const uint8_t v = (Sx & 1) ? (Src[Sx >> 1] & 0x0F) : (Src[Sx >> 1] >> 4);
        uint8_t& d = Dst[Dx >> 1];
        d = (Dx & 1) ? uint8_t((d & 0xF0) | v) : uint8_t((d & 0x0F) | (v << 4));
        break;
    }
    default: {
        const int32_t n = Bits / 8;
        std::memcpy(Dst + int64_t(Dx) * n, Src + int64_t(Sx) * n, size_t(n));
    }
    }
}

enum TTurn : uint8_t { tuClockwise, tuCounterClockwise };

void QuarterTurn(const TBitmap& Source, TBitmap& Dest, TTurn Turn)
{
    if (&Source == &Dest) {
        TBitmap copy;
        CopyBitmap(Source, copy);
        QuarterTurn(copy, Dest, Turn);
        return;
    }
    const int32_t w = Source.Width(), h = Source.Height(), bits = Source.BitsPerPixel();
    PrepareBitmap(Dest, Source.PixelFormat(), h, w, &Source.PaletteEntries());
    std::vector<const uint8_t*> rows(static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y)
        rows[size_t(y)] = Source.ScanLine(y);
    // Target row dy is a source column read downwards (clockwise: x = dy, y = H - 1 - dx)
    // or upwards (counter-clockwise: x = W - 1 - dy, y = dx).
    for (int32_t dy = 0; dy < w; ++dy) {
        uint8_t* out = Dest.ScanLine(dy);
        const int32_t sx = Turn == tuClockwise ? dy : w - 1 - dy;
        for (int32_t dx = 0; dx < h; ++dx)
            CopyPixel(rows[size_t(Turn == tuClockwise ? h - 1 - dx : dx)], sx, out, dx, bits);
    }
}

} // namespace

void Rotate90Right(const TBitmap& Source, TBitmap& Dest) { QuarterTurn(Source, Dest, tuClockwise); }
void Rotate90Left(const TBitmap& Source, TBitmap& Dest) { QuarterTurn(Source, Dest, tuCounterClockwise); }

// ---- Rotation by shears -----------------------------------------------------------

namespace {

// A line of 24-bit pixels, Step bytes from one pixel to the next (rows or columns).
struct TPixelLine {
    uint8_t* First;
    ptrdiff_t Step;
    int32_t Count;
    uint8_t* At(int32_t I) const { return First + I * Step; }
};

// Moves Src by Shift pixels into Dst, which is background wherever nothing lands.
// With antialiasing the fraction f (12 bits, negative when the shift was rounded up)
// blends each pixel with the one before it.
void ShearLine(const TPixelLine& Src, const TPixelLine& Dst, double Shift, TIERotateQuality Quality, TRGB Bg)
{
    const double whole = std::nearbyint(Shift);
    const int32_t s = int32_t(whole);
    const uint8_t bg[3] = {Bg.b, Bg.g, Bg.r};
    for (int32_t i = 0; i < Dst.Count; ++i)
        std::memcpy(Dst.At(i), bg, 3);
    const int32_t from = std::max(0, -s), to = std::min(Src.Count, Dst.Count - s);
    if (Quality == rqPlain) {
        for (int32_t i = from; i < to; ++i)
            std::memcpy(Dst.At(i + s), Src.At(i), 3);
        return;
    }
    const int32_t f = int32_t((Shift - whole) * 4096);
    auto blend = [f](const uint8_t* prev, const uint8_t* cur, uint8_t* out) {
        for (int c = 0; c < 3; ++c) // half to even on top of the + 2048, kept as it always was
            out[c] = uint8_t(ClampByte(int32_t(std::nearbyint((prev[c] * f + cur[c] * (4096 - f) + 2048) / 4096.0))));
    };
    for (int32_t i = from; i < to; ++i)
        blend(i == 0 ? bg : Src.At(i - 1), Src.At(i), Dst.At(i + s));
    const int32_t end = Src.Count + s;
    if (f > 0 && end >= 0 && end < Dst.Count)
        blend(Src.At(Src.Count - 1), bg, Dst.At(end));
}

TPixelLine RowLine(TIEWorkBitmap& B, int32_t Y) { return TPixelLine{B.ScanLine(Y), 3, B.Width()}; }
TPixelLine ColumnLine(TIEWorkBitmap& B, int32_t X)
{
    // Work rows are stored bottom-up: the next row down is one row length lower.
    return TPixelLine{B.ScanLine(0) + 3 * X, -ptrdiff_t(B.RowLen()), B.Height()};
}

struct TShearPlan {
    double XShear, YShear;
    int32_t W1, YJunk, H2, X2Junk, W3;
};

TShearPlan PlanShears(int32_t W, int32_t H, double A)
{
    TShearPlan p{};
    const double r = Pi * A / 180;
    p.XShear = std::fabs(std::tan(r / 2));
    p.YShear = std::fabs(std::sin(r));
    p.W1 = int32_t(std::nearbyint(H * p.XShear + W + 1));
    p.YJunk = int32_t(std::nearbyint((p.W1 - W) * p.YShear));
    p.H2 = int32_t(std::nearbyint(p.W1 * p.YShear + H + 1));
    p.X2Junk = int32_t(std::nearbyint((p.H2 - H - p.YJunk) * p.XShear));
    p.H2 -= 2 * p.YJunk;
    p.W3 = int32_t(std::nearbyint(p.H2 * p.XShear + p.W1 + 1 - 2 * p.X2Junk));
    p.H2 = std::max(p.H2, 1);
    p.W3 = std::max(p.W3, 1);
    return p;
}

void ShearRotate(TBitmap& Bitmap, double A, TIERotateQuality Quality, TRGB Bg, TProgressRec* Progress)
{
    const int32_t w = Bitmap.Width(), h = Bitmap.Height();
    const TShearPlan p = PlanShears(w, h, A);
    const bool positive = A > 0;
    int32_t done = 0;
    const double total = h + p.W1 + p.H2 + 0.5;
    auto tick = [&] {
        ++done;
        if (Progress && Progress->OnProgress)
            Progress->OnProgress(Progress->Sender, int32_t(done * 100 / total));
    };
    TIEWorkBitmap pass1(p.W1, h, 24);
    for (int32_t y = 0; y < h; ++y) {
        const TPixelLine src{Bitmap.ScanLine(y), 3, w};
        ShearLine(src, RowLine(pass1, y), (positive ? y : h - y) * p.XShear, Quality, Bg);
        tick();
    }
    TIEWorkBitmap pass2(p.W1, p.H2, 24);
    for (int32_t x = 0; x < p.W1; ++x) {
        const double shift = (positive ? p.W1 - x : x) * p.YShear - p.YJunk;
        ShearLine(ColumnLine(pass1, x), ColumnLine(pass2, x), shift, Quality, Bg);
        tick();
    }
    PrepareBitmap(Bitmap, pf24bit, p.W3, p.H2);
    for (int32_t y = 0; y < p.H2; ++y) {
        const TPixelLine dst{Bitmap.ScanLine(y), 3, p.W3};
        ShearLine(RowLine(pass2, y), dst, (positive ? y : p.H2 - y) * p.XShear - p.X2Junk, Quality, Bg);
        tick();
    }
}

// Angles beyond 1e12 degrees are brought into range first, so that Trunc(Angle x 1000)
// fits 64 bits; ordinary angles are untouched.
double ReduceHugeAngle(double Angle) { return std::fabs(Angle) > 1e12 ? std::fmod(Angle, 360.0) : Angle; }

} // namespace

void IERotate24(TBitmap& Bitmap, double Angle, TIERotateQuality Quality, TRGB Background, TProgressRec* Progress)
{
    if (!std::isfinite(Angle) || Bitmap.Empty())
        return;
    if (Bitmap.PixelFormat() != pf24bit) {
        TBitmap rgb;
        CopyBitmapTo24Bit(Bitmap, rgb, nullptr);
        CopyBitmap(rgb, Bitmap);
    }
    double a = double(int64_t(ReduceHugeAngle(Angle) * 1000) % 360000) / 1000;
    while (a > 45) {
        a -= 90;
        TBitmap turned;
        Rotate90Left(Bitmap, turned);
        CopyBitmap(turned, Bitmap);
    }
    while (a < -45) {
        a += 90;
        TBitmap turned;
        Rotate90Right(Bitmap, turned);
        CopyBitmap(turned, Bitmap);
    }
    if (a != 0)
        ShearRotate(Bitmap, a, Quality, Background, Progress);
}

void IERotate1Bit(TBitmap& Bitmap, double Angle, bool BackgroundBit)
{
    if (!std::isfinite(Angle) || Bitmap.Empty() || Bitmap.PixelFormat() != pf1bit)
        return;
    const double r = -ReduceHugeAngle(Angle) * Pi / 180;
    const double c = std::trunc(std::cos(r) * 10000) / 10000, s = std::trunc(std::sin(r) * 10000) / 10000;
    const int32_t w = Bitmap.Width(), h = Bitmap.Height();
    const int32_t nw = int32_t(std::fabs(h * s) + std::fabs(w * c));
    const int32_t nh = int32_t(std::fabs(h * c) + std::fabs(w * s));
    TBitmap out;
    PrepareBitmap(out, pf1bit, nw, nh, &Bitmap.PaletteEntries());
    const double tcx = nw / 2.0 - 0.5, tcy = nh / 2.0 - 0.5, scx = w / 2.0 - 0.5, scy = h / 2.0 - 0.5;
    for (int32_t y = 0; y < nh; ++y) {
        uint8_t* row = out.ScanLine(y);
        const double dy = y - tcy;
        for (int32_t x = 0; x < nw; ++x) {
            const double dx = x - tcx;
            const int32_t sx = int32_t(dx * c + dy * s + scx), sy = int32_t(-dx * s + dy * c + scy);
            const bool inside = sx >= 0 && sy >= 0 && sx < w && sy < h;
            SetBit(row, x, inside ? GetBit(Bitmap.ScanLine(sy), sx) : BackgroundBit);
        }
    }
    CopyBitmap(out, Bitmap);
}

// ---- Flips ------------------------------------------------------------------------

void IEEnsure1Or24Bit(TBitmap& Bitmap)
{
    if (Bitmap.PixelFormat() == pf1bit || Bitmap.PixelFormat() == pf24bit)
        return;
    TBitmap rgb;
    CopyBitmapTo24Bit(Bitmap, rgb, nullptr);
    CopyBitmap(rgb, Bitmap);
}

void IEFlip(TBitmap& Bitmap, TFlipDirection Direction)
{
    if (Bitmap.Empty())
        return;
    IEEnsure1Or24Bit(Bitmap);
    const int32_t w = Bitmap.Width(), h = Bitmap.Height();
    if (Direction == fdVertical) {
        const size_t len = size_t(Bitmap.BytesPerScanLine());
        std::vector<uint8_t> tmp(len);
        for (int32_t y = 0; y < h / 2; ++y) {
            uint8_t* a = Bitmap.ScanLine(y);
            uint8_t* b = Bitmap.ScanLine(h - 1 - y);
            std::memcpy(tmp.data(), a, len);
            std::memcpy(a, b, len);
            std::memcpy(b, tmp.data(), len);
        }
        return;
    }
    const bool oneBit = Bitmap.PixelFormat() == pf1bit;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = Bitmap.ScanLine(y);
        for (int32_t x = 0; x < w / 2; ++x) {
            const int32_t m = w - 1 - x; // mirrored within the width, not the padded row
            if (oneBit) {
                const bool v = GetBit(row, x);
                SetBit(row, x, GetBit(row, m));
                SetBit(row, m, v);
            } else {
                for (int c = 0; c < 3; ++c)
                    IESwap(row[3 * x + c], row[3 * m + c]);
            }
        }
    }
}

} // namespace kv
