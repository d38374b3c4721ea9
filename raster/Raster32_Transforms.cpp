#include "raster/Raster32_Transforms.h"
#include "raster/Raster32_MixLanes.h"

#include "raster/Raster32_Resample.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace kv {

namespace {

constexpr int64_t Int32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t Int32Max = std::numeric_limits<int32_t>::max();

// Round halves to even, saturating to the 32-bit range; NaN gives 0.
int32_t RoundSat(double V)
{
    if (std::isnan(V))
        return 0;
    if (V <= double(Int32Min))
        return int32_t(Int32Min);
    if (V >= double(Int32Max))
        return int32_t(Int32Max);
    return int32_t(std::nearbyint(V));
}

// A * B / C rounded half away from zero in 128 bits (C != 0).
int64_t MulDivRound128(int64_t A, int64_t B, int64_t C)
{
    __int128 p = __int128(A) * B;
    bool negative = (p < 0) != (C < 0);
    unsigned __int128 mp = p < 0 ? (unsigned __int128)(-p) : (unsigned __int128)p;
    unsigned __int128 mc = C < 0 ? (unsigned __int128)(-(__int128)C) : (unsigned __int128)C;
    unsigned __int128 q = mp / mc, r = mp % mc;
    if (mc - r <= r)
        ++q;
    int64_t result = int64_t(q);
    return negative ? -result : result;
}

using namespace lanes;

// Asks for the cache lines of Count pixels from P ahead of their use.
inline void Prefetch(const TColor32* P, int32_t Count)
{
    for (int32_t i = 0; i < Count; i += 16)
        __builtin_prefetch(P + i, 0, 2);
}

// ---- Landing a row of computed pixels ---------------------------------------------

TDrawMode EffectiveMode(TBitmap32* Src)
{
    TDrawMode mode = Src->DrawMode();
    if (mode == dmCustom && !Src->OnPixelCombine)
        return dmOpaque;
    return mode;
}

// Puts Count computed pixels onto Dst by the mode: stored, blended through one run
// call (BlendRunMaster when Master is set), or handed to the handler.
void LandRow(const TColor32* Row, TColor32* Dst, int32_t Count, TDrawMode Mode, uint32_t M, bool Master,
             const TPixelCombineEvent& Handler)
{
    if (Count <= 0)
        return;
    switch (Mode) {
    case dmOpaque: std::memcpy(Dst, Row, size_t(Count) * 4); break;
    case dmBlend:
        if (Master)
            BlendRoutines().BlendRunMaster(Row, Dst, Count, M);
        else
            BlendRoutines().BlendRun(Row, Dst, Count);
        break;
    case dmCustom:
        for (int32_t i = 0; i < Count; ++i)
            Handler(Row[i], Dst[i], M);
        break;
    }
}

// The part of a transfer that lies in both bitmaps: destination rectangle and the
// shift from destination to source coordinates, all in 64 bits.
struct TClippedTransfer {
    TRect Dst;
    int64_t ShiftX = 0, ShiftY = 0; // source = destination + shift
};

bool ClipTransfer(TBitmap32* Dst, int64_t DstX, int64_t DstY, TBitmap32* Src, const TRect& SrcRect,
                  TClippedTransfer& Out)
{
    int64_t sl = std::max<int64_t>(SrcRect.Left, 0), st = std::max<int64_t>(SrcRect.Top, 0);
    int64_t sr = std::min<int64_t>(SrcRect.Right, Src->Width()), sb = std::min<int64_t>(SrcRect.Bottom, Src->Height());
    if (sr <= sl || sb <= st)
        return false;
    Out.ShiftX = int64_t(SrcRect.Left) - DstX;
    Out.ShiftY = int64_t(SrcRect.Top) - DstY;
    int64_t dl = std::max<int64_t>(sl - Out.ShiftX, 0), dt = std::max<int64_t>(st - Out.ShiftY, 0);
    int64_t dr = std::min<int64_t>(sr - Out.ShiftX, Dst->Width()),
            db = std::min<int64_t>(sb - Out.ShiftY, Dst->Height());
    if (dr <= dl || db <= dt)
        return false;
    Out.Dst = Rect(int32_t(dl), int32_t(dt), int32_t(dr), int32_t(db));
    return true;
}

// The bit-block copy: all 32 bits, clipped to both bitmaps, safe when they are one.
void BlitRect(TBitmap32* Dst, int32_t DstX, int32_t DstY, TBitmap32* Src, const TRect& SrcRect)
{
    TClippedTransfer t;
    if (!ClipTransfer(Dst, DstX, DstY, Src, SrcRect, t))
        return;
    const int32_t w = t.Dst.Width(), h = t.Dst.Height();
    const bool upward = Src == Dst && t.ShiftY < 0; // destination below source: copy from the bottom
    for (int32_t k = 0; k < h; ++k) {
        int32_t y = upward ? t.Dst.Bottom - 1 - k : t.Dst.Top + k;
        std::memmove(Dst->PixelAddress(t.Dst.Left, y),
                     Src->PixelAddress(int32_t(t.Dst.Left + t.ShiftX), int32_t(y + t.ShiftY)), size_t(w) * 4);
    }
}

// Common start of the stretches: checks and the clipped destination.
bool StretchStart(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect, TRect& C)
{
    CheckTransferBitmaps(Dst, Src);
    if (!CheckTransferSrcRect(Src, SrcRect))
        return false;
    if (RectIsEmpty(DstRect))
        return false;
    if (!IntersectRects(C, DstRect, Rect(0, 0, Dst->Width(), Dst->Height())) || RectIsEmpty(C))
        return false;
    return true;
}

// Source offsets (into SrcRect) for Count destination pixels: 16.16 from Start by Step.
std::vector<int32_t> NearestIndices(int64_t Start, int64_t Step, int32_t Count, int64_t SrcSize)
{
    std::vector<int32_t> idx(static_cast<size_t>(std::max(Count, 0)));
    int64_t pos = Start;
    for (int32_t i = 0; i < Count; ++i, pos += Step)
        idx[size_t(i)] = int32_t(std::clamp<int64_t>(pos >> 16, 0, SrcSize - 1));
    return idx;
}

// Whether the columns are every other one from the first: a shrink to exactly half.
bool EveryOtherColumn(const std::vector<int32_t>& Xs)
{
    for (size_t i = 1; i < Xs.size(); ++i)
        if (Xs[i] != Xs[0] + 2 * int32_t(i))
            return false;
    return true;
}

void StretchNearestMode(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect, bool Opaque)
{
    TRect C;
    if (!StretchStart(Dst, DstRect, Src, SrcRect, C))
        return;
    const int64_t srcW = int64_t(SrcRect.Right) - SrcRect.Left, srcH = int64_t(SrcRect.Bottom) - SrcRect.Top;
    const int64_t dstW = int64_t(DstRect.Right) - DstRect.Left, dstH = int64_t(DstRect.Bottom) - DstRect.Top;
    const TDrawMode mode = Opaque ? dmOpaque : EffectiveMode(Src);
    const uint32_t M = Src->MasterAlpha();
    if (Opaque && dstW == srcW && dstH == srcH) {
        CopyRectBlend(Dst, DstRect.Left, DstRect.Top, Src, SrcRect);
        return;
    }
    if (!Opaque && M == 0)
        return;
    const int64_t offX = int64_t(C.Left) - DstRect.Left, offY = int64_t(C.Top) - DstRect.Top;
    int64_t startX, startY;
    if (Opaque) {
        // A destination one pixel wide starts at the first source pixel.
        startX = dstW == 1 ? 0 : MulDivRound128(offX * (srcW - 1), 65535, dstW - 1);
        startY = dstH == 1 ? 0 : MulDivRound128(offY * (srcH - 1), 65535, dstH - 1);
    } else {
        startX = MulDivRound128(offX * srcW, 65535, dstW);
        startY = MulDivRound128(offY * srcH, 65535, dstH);
    }
    const std::vector<int32_t> xs = NearestIndices(startX, (srcW << 16) / dstW, C.Width(), srcW);
    const std::vector<int32_t> ys = NearestIndices(startY, (srcH << 16) / dstH, C.Height(), srcH);
    const int32_t w = C.Width(), rowWidth = Src->Width() - SrcRect.Left;
    // A vector kernel reads a group of pixels before it stores them; a bitmap stretched
    // onto itself must see each pixel stored before the next one is read.
    const TResampleKernels& kernels = Src == Dst ? ScalarResampleKernels() : ResampleKernels();
    const bool half = EveryOtherColumn(xs);
    auto pickRow = [&](int32_t Sy, TColor32* Out, TRowStore Store) {
        const TColor32* r = Src->RowAddress(Sy) + SrcRect.Left;
        if (half)
            kernels.NearestHalfRow(r + xs[0], w, Out, Store);
        else
            kernels.NearestRow(r, rowWidth, xs.data(), w, Out, Store);
    };
    const TRowStore store = RowStoreFor(int64_t(w) * C.Height() * 4);
    const bool repick = store == rsStreamed && Src != Dst;
    std::vector<TColor32> row(static_cast<size_t>(w));
    int32_t lastSrcY = -1;
    TColor32* lastDst = nullptr;
    for (int32_t k = 0; k < C.Height(); ++k) {
        TColor32* d = Dst->PixelAddress(C.Left, C.Top + k);
        int32_t sy = ys[size_t(k)] + SrcRect.Top;
        if (mode == dmOpaque) {
            // Stored straight into the destination; a repeated source row is a row copy
            // when the rows stay in the cache. Streamed, the last row is in memory but its
            // source row is still in the cache: picking it again is cheaper than reading it
            // (unless the source is the destination, whose stores may have reached it).
            if (sy == lastSrcY && !repick)
                std::memcpy(d, lastDst, size_t(w) * 4);
            else
                pickRow(sy, d, store);
            lastSrcY = sy;
            lastDst = d;
            continue;
        }
        if (sy != lastSrcY) {
            // The row buffer is read again at once: it stays in the cache.
            pickRow(sy, row.data(), rsCached);
            lastSrcY = sy;
        }
        LandRow(row.data(), d, w, mode, M, M < 255, Src->OnPixelCombine);
    }
    LeaveMmxState();
}

// Stretches close to 1:1 step to the next source column at nearly every destination
// column: such a row is a few runs of consecutive columns.
struct TColumnRun {
    int32_t First, Count;
};

// The runs of X0 (a column table) when they are long enough to pay, else none.
std::vector<TColumnRun> ColumnRuns(const int32_t* X0, int32_t Count)
{
    constexpr int32_t MinAverage = 32;
    std::vector<TColumnRun> runs;
    for (int32_t i = 0; i < Count;) {
        int32_t n = 1;
        while (i + n < Count && X0[i + n] == X0[i] + n)
            ++n;
        runs.push_back({i, n});
        if (int64_t(runs.size()) * MinAverage > Count)
            return {};
        i += n;
    }
    return runs;
}

// The linear stretch, by destination rows. A row mixes two source rows vertically, then
// each destination pixel mixes its column x0 with x0 + 1 (the last column with itself).
// Shrinking to half or less, where most columns of the span are never used, a set with
// wide vectors mixes only the column pairs the row needs, straight from the two source
// rows (LinearRow); otherwise each source column of the span is mixed vertically once into
// a buffer (LinearVert) that the horizontal mixes read (LinearHorz). Both give the same
// pixels.
void StretchLinearMode(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect, TDrawMode Mode)
{
    TRect C;
    if (!StretchStart(Dst, DstRect, Src, SrcRect, C))
        return;
    const uint32_t M = Src->MasterAlpha();
    if (M == 0)
        return;
    const int64_t srcW = int64_t(SrcRect.Right) - SrcRect.Left, srcH = int64_t(SrcRect.Bottom) - SrcRect.Top;
    const int64_t dstW = int64_t(DstRect.Right) - DstRect.Left, dstH = int64_t(DstRect.Bottom) - DstRect.Top;
    const int64_t offX = int64_t(C.Left) - DstRect.Left, offY = int64_t(C.Top) - DstRect.Top;
    const int64_t startX = MulDivRound128(offX * (srcW - 1), 65535, dstW);
    const int64_t startY = MulDivRound128(offY * (srcH - 1), 65535, dstH);
    const int64_t stepX = ((srcW - 1) << 16) / dstW, stepY = ((srcH - 1) << 16) / dstH;
    const int32_t w = C.Width();

    // Per destination column: the left source offset and the horizontal weight.
    std::vector<int32_t> x0(static_cast<size_t>(w));
    std::vector<uint8_t> wx(static_cast<size_t>(w));
    int64_t pos = startX;
    for (int32_t i = 0; i < w; ++i, pos += stepX) {
        x0[size_t(i)] = int32_t(std::clamp<int64_t>(pos >> 16, 0, srcW - 1));
        wx[size_t(i)] = uint8_t(255 - ((pos >> 8) & 255));
    }
    const int32_t lo = *std::min_element(x0.begin(), x0.end());
    const int32_t hi = int32_t(std::min<int64_t>(*std::max_element(x0.begin(), x0.end()) + 1, srcW - 1));
    const int32_t span = hi - lo + 1;
    const TResampleKernels& kernels = ResampleKernels();
    const bool byPairs = kernels.LinearRowShrinks && srcW >= 2 && 2 * int64_t(w) <= int64_t(span);
    std::vector<TColor32> vert;
    std::vector<uint8_t> near;
    std::vector<TColumnRun> runs;
    if (byPairs) {
        // A column on the last source column is that column itself: the same pixel as
        // mixing the column before it with weight 0, which keeps x0 + 1 inside the rows.
        for (int32_t i = 0; i < w; ++i)
            if (x0[size_t(i)] == srcW - 1) {
                x0[size_t(i)] = int32_t(srcW - 2);
                wx[size_t(i)] = 0;
            }
        near = LinearNear(x0.data(), w, int32_t(srcW));
    } else {
        for (int32_t i = 0; i < w; ++i)
            x0[size_t(i)] -= lo;
        vert.resize(static_cast<size_t>(span) + 1 + HorzReach);
        runs = ColumnRuns(x0.data(), w);
    }
    // A row is computed whole before it is stored: the source may be the destination.
    const bool direct = Mode == dmOpaque && Src != Dst;
    std::vector<TColor32> row(direct ? 0 : static_cast<size_t>(w));
    // The rows come from memory much faster when the next row's pixels are asked for
    // while this row is worked on: each piece of this row goes with a prefetch of the same
    // piece of the next one (source rows and destination), spread out so that the requests
    // never queue up all at once.
    constexpr int32_t Piece = 128;
    int64_t posY = startY;
    for (int32_t k = 0; k < C.Height(); ++k, posY += stepY) {
        int64_t oy = std::clamp<int64_t>(posY >> 16, 0, srcH - 1);
        int32_t row0 = int32_t(oy) + SrcRect.Top;
        int32_t row1 = row0 == SrcRect.Bottom - 1 ? row0 : row0 + 1;
        uint32_t wy = 255 - uint32_t((posY >> 8) & 255);
        const TColor32* r0 = Src->RowAddress(row0) + SrcRect.Left;
        const TColor32* r1 = Src->RowAddress(row1) + SrcRect.Left;
        TColor32* d = Dst->PixelAddress(C.Left, C.Top + k);
        TColor32* out = direct ? d : row.data();
        const bool ahead = k + 1 < C.Height();
        const TColor32 *next0 = r0, *next1 = r1, *nextD = d;
        if (ahead) {
            const int32_t ny = int32_t(std::clamp<int64_t>((posY + stepY) >> 16, 0, srcH - 1)) + SrcRect.Top;
            next0 = Src->RowAddress(ny) + SrcRect.Left;
            next1 = Src->RowAddress(ny == SrcRect.Bottom - 1 ? ny : ny + 1) + SrcRect.Left;
            nextD = Dst->PixelAddress(C.Left, C.Top + k + 1);
        }
        if (byPairs) {
            for (int32_t i = 0; i < w; i += Piece) {
                const int32_t n = std::min(Piece, w - i);
                if (ahead) {
                    const int32_t first = x0[size_t(i)], count = x0[size_t(i + n - 1)] + 2 - first;
                    Prefetch(next0 + first, count);
                    Prefetch(next1 + first, count);
                    if (direct)
                        Prefetch(nextD + i, n);
                }
                // Pieces start at multiples of four, as the Near table's groups do.
                kernels.LinearRow(r0, r1, wy, x0.data() + i, wx.data() + i, near.data() + 2 * i, n, out + i);
            }
        } else {
            for (int32_t i = 0; i < span; i += Piece) {
                const int32_t n = std::min(Piece, span - i);
                if (ahead) {
                    Prefetch(next0 + lo + i, n);
                    Prefetch(next1 + lo + i, n);
                }
                kernels.LinearVert(r0 + lo + i, r1 + lo + i, n, wy, vert.data() + i);
            }
            vert[size_t(span)] = vert[size_t(span) - 1]; // the last column's right neighbour is itself
            for (int32_t i = 0; i < w; i += Piece) {
                const int32_t n = std::min(Piece, w - i);
                if (ahead && direct)
                    Prefetch(nextD + i, n);
                if (runs.empty())
                    kernels.LinearHorz(vert.data(), x0.data() + i, wx.data() + i, n, out + i);
            }
            for (const TColumnRun& r : runs)
                kernels.LinearHorzRun(vert.data() + x0[size_t(r.First)], wx.data() + r.First, r.Count, out + r.First);
        }
        if (!direct)
            for (int32_t i = 0; i < w; i += Piece) {
                const int32_t n = std::min(Piece, w - i);
                if (ahead)
                    Prefetch(nextD + i, n);
                LandRow(row.data() + i, d + i, n, Mode, M, M < 255, Src->OnPixelCombine);
            }
    }
    LeaveMmxState();
}

// ---- Mapping tables ---------------------------------------------------------------

double FilterValue(TStretchFilter Filter, double X)
{
    double a = std::fabs(X);
    switch (Filter) {
    case sfNearest: return (X >= -0.5 && X <= 0.5) ? 1.0 : 0.0;
    case sfLinear:
    case sfLinear2: return a < 1 ? 1 - a : 0;
    case sfSpline:
        if (a < 1)
            return 0.5 * a * a * a - a * a + 2.0 / 3.0;
        if (a < 2)
            return (2 - a) * (2 - a) * (2 - a) / 6.0;
        return 0;
    }
    return 0;
}

int64_t FloorSat(double V) { return V < -1e15 ? int64_t(-1e15) : V > 1e15 ? int64_t(1e15) : int64_t(std::floor(V)); }
int64_t CeilSat(double V) { return V < -1e15 ? int64_t(-1e15) : V > 1e15 ? int64_t(1e15) : int64_t(std::ceil(V)); }

// Lists From..To-1 of the table; see BuildMappingTable.
TMappingTable BuildMappingLists(int64_t DstSize, int32_t SrcSize, int32_t SrcLo, int32_t SrcHi, TStretchFilter Filter,
                                int64_t From, int64_t To)
{
    TMappingTable table;
    if (SrcSize <= 0 || To <= From)
        return table;
    table.resize(size_t(To - From));
    auto clampIndex = [&](int64_t J) { return int32_t(std::clamp<int64_t>(J, 0, SrcSize - 1)); };
    if (SrcSize == 1) {
        for (auto& list : table)
            list.push_back({0, 255});
        return table;
    }
    const int64_t srcW = int64_t(SrcHi) - SrcLo;
    if (srcW <= 0) {
        for (auto& list : table)
            list.push_back({clampIndex(SrcLo), 255});
        return table;
    }
    if (DstSize <= 1) {
        // One destination pixel: the average of the source span, weights summing to 255.
        TMappingList list;
        for (int64_t k = 0; k < srcW; ++k) {
            int32_t w = int32_t(255 * (k + 1) / srcW - 255 * k / srcW);
            if (w != 0)
                list.push_back({clampIndex(SrcLo + k), w});
        }
        for (auto& l : table)
            l = list;
        return table;
    }
    const double fullWidth = Filter == sfSpline ? 1.5 : 1.001;
    const double scale = srcW == 1 ? 1.0 : double(DstSize - 1) / double(srcW - 1);
    if (scale < 1) {
        const double S = 1 / scale, fw = fullWidth * S;
        for (int64_t I = From; I < To; ++I) {
            TMappingList& list = table[size_t(I - From)];
            const double center = double(I) * S + SrcLo;
            int64_t sum = 0;
            for (int64_t J = FloorSat(center - fw), last = CeilSat(center + fw); J <= last; ++J) {
                int32_t w = RoundSat(FilterValue(Filter, (center - double(J)) * scale) * 255 * scale);
                if (w != 0) {
                    list.push_back({clampIndex(J), w});
                    sum += w;
                }
            }
            if (sum != 255 && sum != 0) {
                TMappingList normalised;
                for (const auto& e : list) {
                    int32_t w = RoundSat(double(e.Weight) * 255.0 / double(sum));
                    if (w != 0)
                        normalised.push_back({e.Index, w});
                }
                list.swap(normalised);
            }
            if (list.empty()) // every quantised weight vanished: the nearest pixel alone
                list.push_back({clampIndex(int64_t(std::nearbyint(center))), 255});
        }
    } else {
        const double fw = 1 / fullWidth;
        // A one-pixel source span stays on that pixel rather than walking past it.
        const double S = srcW == 1 ? 0.0 : 1 / scale;
        for (int64_t I = From; I < To; ++I) {
            TMappingList& list = table[size_t(I - From)];
            const double center = double(I) * S + SrcLo;
            for (int64_t J = FloorSat(center - fw), last = CeilSat(center + fw); J <= last; ++J) {
                int32_t w = RoundSat(FilterValue(Filter, center - double(J)) * 256);
                if (w != 0)
                    list.push_back({clampIndex(J), w});
            }
            if (list.empty())
                list.push_back({clampIndex(int64_t(std::nearbyint(center))), 255});
        }
    }
    return table;
}

// A mapping list as column First with weight W0 and First + 1 with W1, W0 + W1 <= 256:
// one entry, two on neighbours, or two on one column (clamped at an edge, their weights
// then added), as enlarging with the tent makes them.
struct TPair {
    int32_t First = 0;
    uint32_t W0 = 0, W1 = 0;
};

bool AsPair(const TMappingList& List, TPair& P)
{
    if (List.empty() || List.size() > 2 || List[0].Weight < 0)
        return false;
    P.First = List[0].Index;
    P.W0 = uint32_t(List[0].Weight);
    P.W1 = 0;
    if (List.size() == 2) {
        if (List[1].Weight < 0)
            return false;
        if (List[1].Index == List[0].Index)
            P.W0 += uint32_t(List[1].Weight);
        else if (List[1].Index == List[0].Index + 1)
            P.W1 = uint32_t(List[1].Weight);
        else
            return false;
    }
    return P.W0 + P.W1 <= 256;
}

void StretchFilteredMode(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect, TDrawMode Mode,
                         TStretchFilter Filter)
{
    TRect C;
    if (!StretchStart(Dst, DstRect, Src, SrcRect, C))
        return;
    const uint32_t M = Src->MasterAlpha();
    if (Mode == dmBlend && M == 0)
        return;
    const int64_t srcW = int64_t(SrcRect.Right) - SrcRect.Left, srcH = int64_t(SrcRect.Bottom) - SrcRect.Top;
    const int64_t dstW = int64_t(DstRect.Right) - DstRect.Left, dstH = int64_t(DstRect.Bottom) - DstRect.Top;
    if (dstW == srcW && dstH == srcH) {
        CopyRectBlend(Dst, DstRect.Left, DstRect.Top, Src, SrcRect);
        return;
    }
    const int64_t offX = int64_t(C.Left) - DstRect.Left, offY = int64_t(C.Top) - DstRect.Top;
    const TMappingTable hTable =
        BuildMappingLists(dstW, Src->Width(), SrcRect.Left, SrcRect.Right, Filter, offX, offX + C.Width());
    const TMappingTable vTable =
        BuildMappingLists(dstH, Src->Height(), SrcRect.Top, SrcRect.Bottom, Filter, offY, offY + C.Height());
    int32_t lo = Src->Width(), hi = -1;
    for (const auto& list : hTable)
        for (const auto& e : list) {
            lo = std::min(lo, e.Index);
            hi = std::max(hi, e.Index);
        }
    if (hi < lo)
        return;

    // Separable sums: the 2-D sum of wx * wy * channel equals the horizontal sum of the
    // vertical sums exactly (integers, non-negative weights, no sum past 2^25). Each
    // channel has its own 32-bit lane, blue to alpha, four lanes a source column, so the
    // vertical pass is one multiply-add over plain arrays the compiler widens into vectors.
    const int32_t w = C.Width(), span = hi - lo + 1;
    std::vector<uint32_t> vert(size_t(span) * 4);
    std::vector<TColor32> row(static_cast<size_t>(w));
    // The horizontal lists as a table of Taps entries a pixel, each the lane offset of its
    // column in vert and its weight; a shorter list is padded with weight 0 on its first
    // column.
    size_t taps = 1;
    for (const auto& list : hTable)
        taps = std::max(taps, list.size());
    std::vector<int32_t> hAt(size_t(w) * taps, 0);
    std::vector<uint32_t> hWeight(size_t(w) * taps, 0);
    for (size_t i = 0; i < size_t(w); ++i) {
        const TMappingList& list = hTable[i];
        for (size_t t = 0; t < taps; ++t) {
            hAt[i * taps + t] = list.empty() ? 0 : (list[t < list.size() ? t : 0].Index - lo) * 4;
            hWeight[i * taps + t] = t < list.size() ? uint32_t(list[t].Weight) : 0;
        }
    }
    const TResampleKernels& kernels = ResampleKernels();
    // Enlarging with the tent, every list is a pixel or a pair of neighbours with weights
    // summing to at most 256: a set with the tent's kernels then makes both passes in
    // 16-bit lanes, the horizontal one first. Each destination row mixes two source rows'
    // horizontal results, and consecutive destination rows share their source rows, so
    // the last two results are kept and each source row is worked on once.
    std::vector<int32_t> pairX0;
    std::vector<uint16_t> pairW0, pairW1;
    if (kernels.TentHorz && kernels.TentVert) {
        pairX0.resize(size_t(w));
        pairW0.resize(size_t(w));
        pairW1.resize(size_t(w));
        for (size_t i = 0; i < size_t(w) && !pairX0.empty(); ++i) {
            TPair p;
            if (!AsPair(hTable[i], p) || p.First - lo + 1 > span) {
                pairX0.clear();
                break;
            }
            pairX0[i] = p.First - lo;
            pairW0[i] = uint16_t(p.W0);
            pairW1[i] = uint16_t(p.W1);
        }
    }
    std::vector<uint16_t> held[2];
    int32_t heldRow[2] = {-1, -1};
    // The horizontal result of source row Y, made in the slot that does not hold Keep.
    auto horzOf = [&](int32_t Y, int32_t Keep) -> const uint16_t* {
        for (int s = 0; s < 2; ++s)
            if (heldRow[s] == Y)
                return held[s].data();
        const int s = heldRow[0] == Keep ? 1 : 0;
        held[s].resize(size_t(w) * 4);
        kernels.TentHorz(Src->RowAddress(Y) + lo, Src->Width() - lo, pairX0.data(), pairW0.data(), pairW1.data(), w,
                         held[s].data());
        heldRow[s] = Y;
        return held[s].data();
    };
    const TRowStore tentStore = RowStoreFor(int64_t(w) * C.Height() * 4);
    static_assert(std::endian::native == std::endian::little);
    for (int32_t k = 0; k < C.Height(); ++k) {
        uint32_t* v = vert.data();
        const TMappingList& vList = vTable[size_t(k)];
        TPair vp;
        if (!pairX0.empty() && AsPair(vList, vp) && vp.First + 1 <= Src->Height()) {
            const uint16_t* h0 = horzOf(vp.First, vp.W1 ? vp.First + 1 : -1);
            const uint16_t* h1 = vp.W1 ? horzOf(vp.First + 1, vp.First) : h0;
            TColor32* d = Dst->PixelAddress(C.Left, C.Top + k);
            TColor32* out = Mode == dmOpaque ? d : row.data();
            kernels.TentVert(h0, h1, vp.W0, vp.W1, w, out, Mode == dmOpaque ? tentStore : rsCached);
            if (Mode != dmOpaque)
                LandRow(row.data(), d, w, Mode, M, true, Src->OnPixelCombine);
            continue;
        }
        if (vList.empty())
            std::fill(vert.begin(), vert.end(), 0);
        for (size_t t = 0; t < vList.size(); ++t) {
            // In memory a pixel's bytes run blue, green, red, alpha: the lanes' order.
            const auto* s = reinterpret_cast<const uint8_t*>(Src->RowAddress(vList[t].Index) + lo);
            kernels.FilteredVert(s, uint32_t(vList[t].Weight), span * 4, t == 0, v);
        }
        // The horizontal pass reads only the sums, so an opaque row goes straight to its
        // place, even on a bitmap stretched onto itself.
        TColor32* d = Dst->PixelAddress(C.Left, C.Top + k);
        if (Mode == dmOpaque) {
            kernels.FilteredHorz(v, hAt.data(), hWeight.data(), int32_t(taps), w, d);
            continue;
        }
        kernels.FilteredHorz(v, hAt.data(), hWeight.data(), int32_t(taps), w, row.data());
        // dmBlend goes through the master blend even at 255.
        LandRow(row.data(), d, w, Mode, M, true, Src->OnPixelCombine);
    }
    LeaveMmxState();
}

} // namespace

// ---- Checks and transfers ---------------------------------------------------------

void CheckTransferBitmaps(TBitmap32* Dst, TBitmap32* Src)
{
    if (!Dst || Dst->IsEmpty())
        throw ETransformError("Destination bitmap is nil or empty");
    if (!Src || Src->IsEmpty())
        throw ETransformError("Source bitmap is nil or empty");
}

bool CheckTransferSrcRect(TBitmap32* Src, const TRect& SrcRect)
{
    if (RectIsEmpty(SrcRect))
        return false;
    if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() || SrcRect.Bottom > Src->Height())
        throw ETransformError("Source rectangle is invalid");
    return true;
}

void CopyRectBlend(TBitmap32* Dst, int32_t DstX, int32_t DstY, TBitmap32* Src, TRect SrcRect)
{
    CheckTransferBitmaps(Dst, Src);
    const TDrawMode mode = EffectiveMode(Src);
    if (mode == dmOpaque) {
        BlitRect(Dst, DstX, DstY, Src, SrcRect);
        return;
    }
    const uint32_t M = Src->MasterAlpha();
    if (mode == dmBlend && M == 0)
        return;
    TClippedTransfer t;
    if (!ClipTransfer(Dst, DstX, DstY, Src, SrcRect, t))
        return;
    for (int32_t y = t.Dst.Top; y < t.Dst.Bottom; ++y) {
        const TColor32* s = Src->PixelAddress(int32_t(t.Dst.Left + t.ShiftX), int32_t(y + t.ShiftY));
        LandRow(s, Dst->PixelAddress(t.Dst.Left, y), t.Dst.Width(), mode, M, M < 255, Src->OnPixelCombine);
    }
    LeaveMmxState();
}

void StretchNearest(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect)
{
    StretchNearestMode(Dst, DstRect, Src, SrcRect, true);
}

void StretchNearestBlend(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect)
{
    StretchNearestMode(Dst, DstRect, Src, SrcRect, false);
}

void StretchLinear(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect)
{
    CheckTransferBitmaps(Dst, Src);
    TDrawMode mode = Src->DrawMode();
    if (mode == dmCustom && !Src->OnPixelCombine)
        mode = dmBlend;
    StretchLinearMode(Dst, DstRect, Src, SrcRect, mode);
}

void StretchFiltered(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect)
{
    CheckTransferBitmaps(Dst, Src);
    TStretchFilter filter = Src->StretchFilter() == sfSpline ? sfSpline : sfLinear2;
    StretchFilteredMode(Dst, DstRect, Src, SrcRect, EffectiveMode(Src), filter);
}

void StretchRectBlend(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect)
{
    CheckTransferBitmaps(Dst, Src);
    const TDrawMode mode = EffectiveMode(Src);
    switch (Src->StretchFilter()) {
    case sfNearest: StretchNearestMode(Dst, DstRect, Src, SrcRect, mode == dmOpaque); break;
    case sfLinear: StretchLinearMode(Dst, DstRect, Src, SrcRect, mode); break;
    case sfLinear2:
    case sfSpline: StretchFilteredMode(Dst, DstRect, Src, SrcRect, mode, Src->StretchFilter()); break;
    }
}

TMappingTable BuildMappingTable(int32_t DstSize, int32_t SrcSize, int32_t SrcLo, int32_t SrcHi, TStretchFilter Filter)
{
    return BuildMappingLists(DstSize, SrcSize, SrcLo, SrcHi, Filter, 0, std::max(DstSize, 0));
}

void ClearBorderAlpha(TBitmap32* Bitmap, TRect Rect)
{
    if (!Bitmap || Bitmap->IsEmpty())
        return;
    OrderPair(Rect.Left, Rect.Right);
    OrderPair(Rect.Top, Rect.Bottom);
    const int32_t l = ClampInt(Rect.Left, 0, Bitmap->Width() - 1), r = ClampInt(Rect.Right, 0, Bitmap->Width() - 1);
    const int32_t t = ClampInt(Rect.Top, 0, Bitmap->Height() - 1), b = ClampInt(Rect.Bottom, 0, Bitmap->Height() - 1);
    auto clear = [&](int32_t x, int32_t y) { *Bitmap->PixelAddress(x, y) &= 0x00FFFFFFu; };
    for (int32_t x = l; x <= r; ++x) {
        clear(x, t);
        clear(x, b);
    }
    for (int32_t y = t + 1; y < b; ++y) {
        clear(l, y);
        clear(r, y);
    }
    Bitmap->Changed();
}

// ---- Matrices ---------------------------------------------------------------------

const TFloatMatrix IdentityMatrix{};

TFloatMatrix Mult(const TFloatMatrix& A, const TFloatMatrix& B)
{
    TFloatMatrix r;
    for (int i = 0; i < 3; ++i)
        for (int row = 0; row < 3; ++row)
            r[i][row] = A[0][row] * B[i][0] + A[1][row] * B[i][1] + A[2][row] * B[i][2];
    return r;
}

float Determinant(const TFloatMatrix& M)
{
    return M[0][0] * (M[1][1] * M[2][2] - M[2][1] * M[1][2]) - M[0][1] * (M[1][0] * M[2][2] - M[2][0] * M[1][2]) +
           M[0][2] * (M[1][0] * M[2][1] - M[2][0] * M[1][1]);
}

TFloatMatrix Adjoint(const TFloatMatrix& M)
{
    TFloatMatrix r;
    r[0][0] = M[1][1] * M[2][2] - M[2][1] * M[1][2];
    r[0][1] = -(M[0][1] * M[2][2] - M[2][1] * M[0][2]);
    r[0][2] = M[0][1] * M[1][2] - M[1][1] * M[0][2];
    r[1][0] = -(M[1][0] * M[2][2] - M[2][0] * M[1][2]);
    r[1][1] = M[0][0] * M[2][2] - M[2][0] * M[0][2];
    r[1][2] = -(M[0][0] * M[1][2] - M[1][0] * M[0][2]);
    r[2][0] = M[1][0] * M[2][1] - M[2][0] * M[1][1];
    r[2][1] = -(M[0][0] * M[2][1] - M[2][0] * M[0][1]);
    r[2][2] = M[0][0] * M[1][1] - M[1][0] * M[0][1];
    return r;
}

bool TryInvert(const TFloatMatrix& M, TFloatMatrix& Result)
{
    float det = Determinant(M);
    if (!(std::fabs(det) > 1e-5f)) {
        Result = IdentityMatrix;
        return false;
    }
    Result = Adjoint(M);
    for (auto& column : Result.M)
        for (float& v : column)
            v /= det;
    return true;
}

TFloatMatrix Invert(const TFloatMatrix& M)
{
    TFloatMatrix r;
    TryInvert(M, r);
    return r;
}

// ---- Transformations --------------------------------------------------------------

void TTransformation::SetSourceRect(const TSingleRect& Value)
{
    FSrcRect = Value;
    FPrepared = false;
}

void TAffineTransformation::Reset()
{
    FMatrix = IdentityMatrix;
    FPrepared = false;
}

void TAffineTransformation::Translate(float Dx, float Dy)
{
    TFloatMatrix t;
    t[2][0] = Dx;
    t[2][1] = Dy;
    FMatrix = Mult(t, FMatrix);
    FPrepared = false;
}

void TAffineTransformation::Scale(float Sx, float Sy)
{
    TFloatMatrix t;
    t[0][0] = Sx;
    t[1][1] = Sy;
    FMatrix = Mult(t, FMatrix);
    FPrepared = false;
}

void TAffineTransformation::Skew(float Fx, float Fy)
{
    TFloatMatrix t;
    t[1][0] = Fx;
    t[0][1] = Fy;
    FMatrix = Mult(t, FMatrix);
    FPrepared = false;
}

void TAffineTransformation::Rotate(float Cx, float Cy, float Alpha)
{
    // About the centre whenever it is not the origin (either coordinate non-zero).
    const bool centred = Cx != 0 || Cy != 0;
    if (centred)
        Translate(-Cx, -Cy);
    const double a = double(Alpha) * M_PI / 180.0;
    TFloatMatrix t;
    t[0][0] = float(std::cos(a));
    t[0][1] = float(-std::sin(a));
    t[1][0] = float(std::sin(a));
    t[1][1] = float(std::cos(a));
    FMatrix = Mult(t, FMatrix);
    if (centred)
        Translate(Cx, Cy);
    FPrepared = false;
}

void TAffineTransformation::Prepare()
{
    TFloatMatrix inv = Invert(FMatrix);
    A = RoundSat(double(inv[0][0]) * 4096);
    B = RoundSat(double(inv[1][0]) * 4096);
    C = RoundSat(double(inv[2][0]) * 4096);
    D = RoundSat(double(inv[0][1]) * 4096);
    E = RoundSat(double(inv[1][1]) * 4096);
    F = RoundSat(double(inv[2][1]) * 4096);
    FPrepared = true;
}

// 64-bit sums: a result outside the 32-bit range has no source point.
bool TAffineTransformation::ReverseMapInt(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY)
{
    if (!FPrepared)
        Prepare();
    int64_t sx = (int64_t(DstX) * A + int64_t(DstY) * B + C + 2047) >> 12;
    int64_t sy = (int64_t(DstX) * D + int64_t(DstY) * E + F + 2047) >> 12;
    if (sx < Int32Min || sx > Int32Max || sy < Int32Min || sy > Int32Max)
        return false;
    SrcX = int32_t(sx);
    SrcY = int32_t(sy);
    return true;
}

bool TAffineTransformation::ReverseMapFixed(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY)
{
    if (!FPrepared)
        Prepare();
    int64_t sx = (int64_t(DstX) * A + int64_t(DstY) * B + C + 7) >> 4;
    int64_t sy = (int64_t(DstX) * D + int64_t(DstY) * E + F + 7) >> 4;
    if (sx < Int32Min || sx > Int32Max || sy < Int32Min || sy > Int32Max)
        return false;
    SrcX = int32_t(sx);
    SrcY = int32_t(sy);
    return true;
}

namespace {

TRect BoundsOf(const double* Xs, const double* Ys)
{
    double minX = *std::min_element(Xs, Xs + 4), maxX = *std::max_element(Xs, Xs + 4);
    double minY = *std::min_element(Ys, Ys + 4), maxY = *std::max_element(Ys, Ys + 4);
    return Rect(RoundSat(minX - 0.5), RoundSat(minY - 0.5), RoundSat(maxX + 0.5), RoundSat(maxY + 0.5));
}

} // namespace

TRect TAffineTransformation::GetDestBounds()
{
    const float xs[4] = {FSrcRect.Left, FSrcRect.Right, FSrcRect.Left, FSrcRect.Right};
    const float ys[4] = {FSrcRect.Top, FSrcRect.Top, FSrcRect.Bottom, FSrcRect.Bottom};
    double mx[4], my[4];
    for (int i = 0; i < 4; ++i) {
        mx[i] = double(FMatrix[0][0] * xs[i] + FMatrix[1][0] * ys[i] + FMatrix[2][0]);
        my[i] = double(FMatrix[0][1] * xs[i] + FMatrix[1][1] * ys[i] + FMatrix[2][1]);
    }
    return BoundsOf(mx, my);
}

void TProjectiveTransformation::Prepare()
{
    FPrepared = true;
    FUsable = false;
    FMatrix = IdentityMatrix;
    const double X0 = FX[0], X1 = FX[1], X2 = FX[2], X3 = FX[3];
    const double Y0 = FY[0], Y1 = FY[1], Y2 = FY[2], Y3 = FY[3];
    const double dx3 = X0 - X1 + X2 - X3, dy3 = Y0 - Y1 + Y2 - Y3;
    TFloatMatrix m;
    if (dx3 == 0 && dy3 == 0) {
        m[0][0] = float(X1 - X0);
        m[1][0] = float(X2 - X1);
        m[2][0] = float(X0);
        m[0][1] = float(Y1 - Y0);
        m[1][1] = float(Y2 - Y1);
        m[2][1] = float(Y0);
        m[0][2] = m[1][2] = 0;
        m[2][2] = 1;
    } else {
        const double dx1 = X1 - X2, dx2 = X3 - X2, dy1 = Y1 - Y2, dy2 = Y3 - Y2;
        const double det = dx1 * dy2 - dx2 * dy1;
        if (det == 0 || !std::isfinite(det))
            return; // corners collinear: no mapping
        const double g = (dx3 * dy2 - dy3 * dx2) / det, h = (dx1 * dy3 - dy1 * dx3) / det;
        m[0][0] = float(X1 - X0 + g * X1);
        m[1][0] = float(X3 - X0 + h * X3);
        m[2][0] = float(X0);
        m[0][1] = float(Y1 - Y0 + g * Y1);
        m[1][1] = float(Y3 - Y0 + h * Y3);
        m[2][1] = float(Y0);
        m[0][2] = float(g);
        m[1][2] = float(h);
        m[2][2] = 1;
    }
    const double srcW = double(FSrcRect.Right) - FSrcRect.Left, srcH = double(FSrcRect.Bottom) - FSrcRect.Top;
    if (srcW == 0 || srcH == 0 || !std::isfinite(srcW) || !std::isfinite(srcH))
        return;
    TFloatMatrix s;
    s[0][0] = float(1 / srcW);
    s[1][1] = float(1 / srcH);
    m = Mult(m, s);
    TFloatMatrix t;
    t[2][0] = -FSrcRect.Left;
    t[2][1] = -FSrcRect.Top;
    m = Mult(m, t);
    TFloatMatrix inv;
    if (!TryInvert(m, inv))
        return; // collapsed quad: no mapping rather than the identity
    for (const auto& column : inv.M)
        for (float v : column)
            if (!std::isfinite(v))
                return;
    FMatrix = inv;
    FUsable = true;
}

bool TProjectiveTransformation::Map(int32_t DstX, int32_t DstY, double Factor, int32_t& SrcX, int32_t& SrcY)
{
    if (!FPrepared)
        Prepare();
    if (!FUsable)
        return false;
    LeaveMmxState();
    const double x = DstX, y = DstY;
    const double z = double(FMatrix[0][2]) * x + double(FMatrix[1][2]) * y + double(FMatrix[2][2]);
    if (z == 0)
        return false;
    double sx = double(FMatrix[0][0]) * x + double(FMatrix[1][0]) * y + double(FMatrix[2][0]);
    double sy = double(FMatrix[0][1]) * x + double(FMatrix[1][1]) * y + double(FMatrix[2][1]);
    sx *= Factor;
    sy *= Factor;
    if (z != 1) {
        const double iz = 1 / z;
        sx *= iz;
        sy *= iz;
    }
    // Near the horizon the point runs off to infinity: no source point.
    constexpr double limit = double(1 << 30);
    if (!(std::fabs(sx) < limit) || !(std::fabs(sy) < limit))
        return false;
    SrcX = int32_t(std::nearbyint(sx));
    SrcY = int32_t(std::nearbyint(sy));
    return true;
}

bool TProjectiveTransformation::ReverseMapInt(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY)
{
    return Map(DstX, DstY, 1.0, SrcX, SrcY);
}

bool TProjectiveTransformation::ReverseMapFixed(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY)
{
    return Map(DstX, DstY, 256.0, SrcX, SrcY);
}

TRect TProjectiveTransformation::GetDestBounds()
{
    double xs[4], ys[4];
    for (int i = 0; i < 4; ++i) {
        xs[i] = FX[i];
        ys[i] = FY[i];
    }
    return BoundsOf(xs, ys);
}

// ---- DrawTransformed --------------------------------------------------------------

namespace {

// Bilinear sample at 24.8 (FX, FY); False when the point is too far outside SrcArea.
inline bool SampleLinearFixed(TBitmap32* Src, int64_t FX, int64_t FY, const TRect& SrcArea, TColor32& Out)
{
    const int64_t X = FX >> 8, Y = FY >> 8;
    const uint32_t wx = 255 - uint32_t(FX & 255), wy = 255 - uint32_t(FY & 255);
    TColor32 p00, p10, p01, p11;
    if (SrcArea.Left < X && X < int64_t(SrcArea.Right) - 1 && SrcArea.Top < Y && Y < int64_t(SrcArea.Bottom) - 1) {
        const TColor32* r = Src->PixelAddress(int32_t(X), int32_t(Y));
        const TColor32* r1 = r + Src->Width();
        p00 = r[0];
        p10 = r[1];
        p01 = r1[0];
        p11 = r1[1];
    } else if (X < -1 || Y < -1 || X >= SrcArea.Right || Y >= SrcArea.Bottom) {
        return false;
    } else {
        const int32_t x = int32_t(X), y = int32_t(Y);
        p00 = Src->GetPixelClipped(x, y);
        p10 = Src->GetPixelClipped(x + 1, y);
        p01 = Src->GetPixelClipped(x, y + 1);
        p11 = Src->GetPixelClipped(x + 1, y + 1);
    }
    const uint64_t bottom = MixLanes(Expand(p01), Expand(p11), wx);
    const uint64_t top = MixLanes(Expand(p00), Expand(p10), wx);
    Out = Pack(MixLanes(top, bottom, wy));
    return true;
}

// Floor and ceiling of N / D for D > 0.
int64_t FloorDiv(int64_t N, int64_t D) { return N / D - (N % D != 0 && N < 0 ? 1 : 0); }
int64_t CeilDiv(int64_t N, int64_t D) { return N / D + (N % D != 0 && N > 0 ? 1 : 0); }

// Narrows [First, Last) to the i with Lo <= (A + i * S) shr 12 <= Hi. An affine map moves
// linearly along a row, so the columns that pass such a test form one interval.
void NarrowToRange(int64_t A, int64_t S, int64_t Lo, int64_t Hi, int64_t& First, int64_t& Last)
{
    // Lo <= v shr 12 <= Hi is Lo shl 12 <= v <= (Hi + 1) shl 12 - 1, here p <= i * S <= q.
    const int64_t p = Lo * 4096 - A, q = (Hi + 1) * 4096 - 1 - A;
    int64_t lo = First, hi = Last - 1;
    if (S > 0) {
        lo = CeilDiv(p, S);
        hi = FloorDiv(q, S);
    } else if (S < 0) {
        lo = CeilDiv(-q, -S);
        hi = FloorDiv(-p, -S);
    } else if (p > 0 || q < 0) {
        lo = hi + 1;
    }
    First = std::max(First, lo);
    Last = std::max(First, std::min(Last, hi + 1));
}

// One DrawTransformed call: what every row segment needs.
struct TTransformRows {
    TBitmap32* Dst;
    TBitmap32* Src;
    TTransformation* T;
    TAffineTransformation* Affine; // null for other maps
    TDrawMode Mode;
    uint32_t M;
    bool Nearest;
    TRect SrcArea, DstArea; // both with inclusive bounds
    const TResampleKernels* Kernels;
    std::vector<TColor32> Row; // computed pixels waiting to land (not for dmOpaque)

    void DrawRow(int32_t Y);

private:
    int32_t Width() const { return DstArea.Right - DstArea.Left + 1; }
    void AffineRow(int32_t Y, TColor32* Out, TColor32* D);
    void MappedRow(int32_t Y, TColor32* Out, TColor32* D);
    void Land(TColor32* D, int32_t I, int32_t N)
    {
        if (Mode != dmOpaque)
            LandRow(Row.data() + I, D + I, N, Mode, M, true, Src->OnPixelCombine);
    }
};

void TTransformRows::DrawRow(int32_t Y)
{
    TColor32* d = Dst->PixelAddress(DstArea.Left, Y);
    TColor32* out = Mode == dmOpaque ? d : Row.data();
    if (Affine)
        AffineRow(Y, out, d);
    else
        MappedRow(Y, out, d);
}

// The prepared coefficients step the position along the row. The columns that get a
// colour form one interval, and inside it the bilinear points whose 2 x 2 block lies
// inside SrcArea form another: those go to the row kernel, the few between the two
// borders are sampled one by one.
void TTransformRows::AffineRow(int32_t Y, TColor32* Out, TColor32* D)
{
    const TAffineTransformation& a = *Affine;
    const int64_t bias = Nearest ? 2047 : 7;
    const int64_t ax = int64_t(DstArea.Left) * a.A + int64_t(Y) * a.B + a.C + bias;
    const int64_t ay = int64_t(DstArea.Left) * a.D + int64_t(Y) * a.E + a.F + bias;
    int64_t first = 0, last = Width();
    if (Nearest) {
        NarrowToRange(ax, a.A, SrcArea.Left, SrcArea.Right, first, last);
        NarrowToRange(ay, a.D, SrcArea.Top, SrcArea.Bottom, first, last);
        for (int64_t i = first; i < last; ++i)
            Out[i] = Src->GetPixelFast(int32_t((ax + i * a.A) >> 12), int32_t((ay + i * a.D) >> 12));
    } else {
        NarrowToRange(ax, a.A, -1, int64_t(SrcArea.Right) - 1, first, last);
        NarrowToRange(ay, a.D, -1, int64_t(SrcArea.Bottom) - 1, first, last);
        int64_t inFirst = first, inLast = last;
        NarrowToRange(ax, a.A, int64_t(SrcArea.Left) + 1, int64_t(SrcArea.Right) - 2, inFirst, inLast);
        NarrowToRange(ay, a.D, int64_t(SrcArea.Top) + 1, int64_t(SrcArea.Bottom) - 2, inFirst, inLast);
        if (inFirst == inLast)
            inFirst = inLast = last;
        auto sampleEach = [&](int64_t From, int64_t To) {
            for (int64_t i = From; i < To; ++i)
                SampleLinearFixed(Src, (ax + i * a.A) >> 4, (ay + i * a.D) >> 4, SrcArea, Out[i]);
        };
        sampleEach(first, inFirst);
        if (inFirst < inLast)
            Kernels->BilinearAffine(Src->Bits(), Src->Width(), ax + inFirst * a.A, ay + inFirst * a.D, a.A, a.D,
                                    int32_t(inLast - inFirst), Out + inFirst);
        sampleEach(inLast, last);
    }
    if (first < last)
        Land(D, int32_t(first), int32_t(last - first));
}

// Other maps give each pixel's source point through the transformation.
void TTransformRows::MappedRow(int32_t Y, TColor32* Out, TColor32* D)
{
    int32_t runStart = 0, runLength = 0;
    for (int32_t i = 0; i < Width(); ++i) {
        const int32_t x = DstArea.Left + i;
        int32_t sx, sy;
        bool have;
        if (Nearest) {
            have = T->ReverseMapInt(x, Y, sx, sy) && SrcArea.Left <= sx && sx <= SrcArea.Right && SrcArea.Top <= sy &&
                   sy <= SrcArea.Bottom;
            if (have)
                Out[i] = Src->GetPixelFast(sx, sy);
        } else {
            have = T->ReverseMapFixed(x, Y, sx, sy) && SampleLinearFixed(Src, sx, sy, SrcArea, Out[i]);
        }
        if (have) {
            if (runLength++ == 0)
                runStart = i;
        } else if (runLength > 0) {
            Land(D, runStart, runLength);
            runLength = 0;
        }
    }
    if (runLength > 0)
        Land(D, runStart, runLength);
}

} // namespace

void DrawTransformed(TBitmap32* Dst, TBitmap32* Src, TTransformation* T)
{
    if (!Dst || !Src || !T || Dst->IsEmpty() || Src->IsEmpty())
        return;
    if (!T->Prepared())
        T->Prepare();
    const TDrawMode mode = EffectiveMode(Src);
    const uint32_t M = Src->MasterAlpha();
    if (mode == dmBlend && M == 0)
        return; // the master blend at weight 0 changes nothing
    TRect srcArea, dstArea;
    // Inclusive bounds on both sides: a one-pixel area is a real area.
    if (!IntersectRects(srcArea, SingleRectToRect(T->SrcRect(), rrClosest),
                        Rect(0, 0, Src->Width() - 1, Src->Height() - 1)))
        return;
    if (!IntersectRects(dstArea, T->GetDestBounds(), Rect(0, 0, Dst->Width() - 1, Dst->Height() - 1)))
        return;
    auto* projective = dynamic_cast<TProjectiveTransformation*>(T);
    if (projective && !projective->Usable())
        return;
    auto* affine = dynamic_cast<TAffineTransformation*>(T);
    // A vector kernel reads a group of points before it stores them; a bitmap drawn onto
    // itself must see each pixel stored before the next one is read.
    const TResampleKernels* kernels = Src == Dst ? &ScalarResampleKernels() : &ResampleKernels();
    TTransformRows rows{Dst, Src, T, affine, mode, M, Src->StretchFilter() == sfNearest, srcArea, dstArea, kernels, {}};
    if (mode != dmOpaque)
        rows.Row.resize(static_cast<size_t>(dstArea.Right - dstArea.Left + 1));
    for (int32_t y = dstArea.Top; y <= dstArea.Bottom; ++y)
        rows.DrawRow(y);
    LeaveMmxState();
}

} // namespace kv
