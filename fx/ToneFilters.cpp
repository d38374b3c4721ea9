#include "fx/ToneFilters.h"

#include "fx/BackFill.h"
#include "platform/SysUtils.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kv {

namespace {

constexpr int32_t Bpp = 3; // bytes per pixel of a 24-bit row

// (V * K + 32767) shr 16 for V < 65536, with K split into 16-bit halves: V * KHigh,
// plus the high half of V * KLow, plus one when the low half and the 32767 carry over.
// Everything fits 16-bit lanes, so the compiler runs eight channels at once.
struct TSplitFactor {
    uint16_t High, Low;
};

inline TSplitFactor Split(int32_t K) { return {uint16_t(K >> 16), uint16_t(K & 0xFFFF)}; }

inline int16_t ScaledRound(uint16_t V, TSplitFactor K)
{
    const uint32_t Product = uint32_t(V) * K.Low;
    const uint16_t High = uint16_t(Product >> 16), Low = uint16_t(Product);
    return int16_t(V * K.High + High + (Low > 32768 ? 1 : 0));
}

// One inner row of the sharpen: centre * A16 and the five-pixel sum * F16, each rounded
// to whole units before the difference is clamped.
void SharpenRow(const uint8_t* __restrict Up, const uint8_t* __restrict Mid, const uint8_t* __restrict Down,
                uint8_t* __restrict Out, int32_t Bytes, TSplitFactor A16, TSplitFactor F16)
{
    std::memcpy(Out, Mid, Bpp);
    std::memcpy(Out + Bytes - Bpp, Mid + Bytes - Bpp, Bpp);
    for (int32_t I = Bpp; I < Bytes - Bpp; ++I) {
        const uint16_t C = Mid[I];
        const uint16_t S = uint16_t(C + Mid[I - Bpp] + Mid[I + Bpp] + Up[I] + Down[I]);
        const int16_t V = int16_t(ScaledRound(C, A16) - ScaledRound(S, F16));
        Out[I] = uint8_t(V < 0 ? 0 : V > 255 ? 255 : V);
    }
}

// The near index steps back by D unless that leaves the bitmap; the far one steps on by
// D, else folds back to N - I, which for I = 0 would be N itself.
inline int32_t NearIndex(int32_t I, int32_t D) { return I - D >= 0 ? I - D : I; }
inline int32_t FarIndex(int32_t I, int32_t D, int32_t N) { return std::min(I + D < N ? I + D : N - I, N - 1); }

inline void BlurPixel(uint8_t* Row, const uint8_t* Up, const uint8_t* Down, int32_t X, int32_t Left, int32_t Right)
{
    for (int32_t Ch = 0; Ch < Bpp; ++Ch) {
        const int32_t L = Left * Bpp + Ch, R = Right * Bpp + Ch;
        Row[X * Bpp + Ch] = uint8_t((Up[L] + Down[L] + Up[R] + Down[R] + 2) >> 2);
    }
}

// A row that reads itself (its up or down index is its own): strictly left to right,
// so each pixel sees its left neighbours already rewritten.
void BlurRowInOrder(uint8_t* Row, const uint8_t* Up, const uint8_t* Down, int32_t W, int32_t D)
{
    for (int32_t X = 0; X < W; ++X)
        BlurPixel(Row, Up, Down, X, NearIndex(X, D), FarIndex(X, D, W));
}

// A row that reads only other rows: its pixels do not depend on one another, so the
// middle, where no index folds, runs as one flat loop over the bytes.
void BlurRowApart(uint8_t* __restrict Row, const uint8_t* __restrict Up, const uint8_t* __restrict Down, int32_t W,
                  int32_t D)
{
    const int32_t InnerFrom = std::min(D, W), InnerTo = std::max(W - D, InnerFrom);
    for (int32_t X = 0; X < InnerFrom; ++X)
        BlurPixel(Row, Up, Down, X, NearIndex(X, D), FarIndex(X, D, W));
    const int32_t Shift = D * Bpp;
    for (int32_t I = InnerFrom * Bpp; I < InnerTo * Bpp; ++I)
        Row[I] = uint8_t((Up[I - Shift] + Down[I - Shift] + Up[I + Shift] + Down[I + Shift] + 2) >> 2);
    for (int32_t X = InnerTo; X < W; ++X)
        BlurPixel(Row, Up, Down, X, NearIndex(X, D), FarIndex(X, D, W));
}

// Row Y of one blur pass, its lower partner given: the row itself, another row, or a
// kept copy of one.
void BlurRowAt(TBitmap& Bitmap, int32_t Y, const uint8_t* DownRow, int32_t D)
{
    const int32_t W = Bitmap.Width(), H = Bitmap.Height();
    const int32_t Up = NearIndex(Y, D);
    uint8_t* Row = Bitmap.ScanLine(Y);
    const uint8_t* UpRow = Bitmap.ScanLine(Up);
    if (Up == Y || FarIndex(Y, D, H) == Y)
        BlurRowInOrder(Row, UpRow, DownRow, W, D);
    else
        BlurRowApart(Row, UpRow, DownRow, W, D);
}

} // namespace

void Convolve3x3(TBitmap& Src, TBitmap& Dst, float Alpha)
{
    Assert(Src.Width() >= 3 && Src.Height() >= 3, "Bitmap must be at least 3x3");
    Assert(Alpha > 1 && Alpha < 6, "Alpha must be >1 and <6");
    // The factor is kept in single precision before it is scaled, as the rounding of
    // F16 depends on it (0.2 as a float gives 13107, not 13108).
    const float F = float((static_cast<long double>(Alpha) - 1) / 5);
    const int32_t F16 = int32_t(RoundHalfEven(static_cast<long double>(F) * 65536));
    const int32_t A16 = int32_t(RoundHalfEven(static_cast<long double>(Alpha) * 65536));
    Src.SetPixelFormat(pf24bit);
    Dst.SetPixelFormat(pf24bit);
    Dst.SetSize(Src.Width(), Src.Height());
    const int32_t W = Src.Width(), H = Src.Height(), Bytes = W * Bpp;
    std::memcpy(Dst.ScanLine(0), Src.ScanLine(0), size_t(Bytes));
    std::memcpy(Dst.ScanLine(H - 1), Src.ScanLine(H - 1), size_t(Bytes));
    for (int32_t Y = 1; Y < H - 1; ++Y)
        SharpenRow(Src.ScanLine(Y - 1), Src.ScanLine(Y), Src.ScanLine(Y + 1), Dst.ScanLine(Y), Bytes, Split(A16),
                   Split(F16));
}

void DiagonalBlur(TBitmap& Bitmap, int32_t Distance)
{
    if (Distance <= 0 || Bitmap.Empty())
        return;
    Bitmap.SetPixelFormat(pf24bit);
    const int32_t H = Bitmap.Height();
    for (int32_t Y = 0; Y < H; ++Y)
        BlurRowAt(Bitmap, Y, Bitmap.ScanLine(FarIndex(Y, Distance, H)), Distance);
}

void RepeatBlur(TBitmap& Bitmap, int32_t Count)
{
    constexpr int32_t D = 3;
    const int32_t Passes = Count + 1;
    if (Passes <= 0 || Bitmap.Empty())
        return;
    Bitmap.SetPixelFormat(pf24bit);
    const int32_t W = Bitmap.Width(), H = Bitmap.Height();
    if (Passes == 1 || H <= 2 * D + 1) {
        for (int32_t I = 0; I < Passes; ++I)
            DiagonalBlur(Bitmap, D);
        return;
    }
    // Each pass sweeps a many-megabyte picture, so the passes run together, a few at a
    // time, each D rows behind the one before: within a step the earlier pass goes
    // first, so a row reads the row D above already blurred by its own pass and the row
    // D below as the pass before left it, exactly as in one pass after another. Only
    // the bottom rows, whose lower partner folds back to rows 1..D, need those rows as
    // their own pass left them, long since overwritten by the passes behind: each pass
    // keeps a copy of them.
    constexpr int32_t Group = 8; // passes that share the cache: 8 * D rows of it
    const size_t RowBytes = size_t(W) * Bpp;
    std::vector<uint8_t> Folded(size_t(Group) * D * RowBytes);
    for (int32_t First = 0; First < Passes; First += Group) {
        const int32_t N = std::min(Group, Passes - First);
        for (int32_t Step = 0; Step < H + (N - 1) * D; ++Step)
            for (int32_t P = 0; P < N; ++P) {
                const int32_t Y = Step - P * D;
                if (Y < 0 || Y >= H)
                    continue;
                uint8_t* Kept = Folded.data() + size_t(P) * D * RowBytes;
                const int32_t Down = FarIndex(Y, D, H);
                const uint8_t* DownRow = Y + D < H ? Bitmap.ScanLine(Down) : Kept + size_t(Down - 1) * RowBytes;
                BlurRowAt(Bitmap, Y, DownRow, D);
                if (Y == D)
                    for (int32_t R = 1; R <= D; ++R)
                        std::memcpy(Kept + size_t(R - 1) * RowBytes, Bitmap.ScanLine(R), RowBytes);
            }
    }
}

uint8_t GrayLevelExact(uint8_t Red, uint8_t Green, uint8_t Blue)
{
    const long double V = 0.3L * Red + 0.59L * Green + 0.11L * Blue;
    return uint8_t(RoundHalfEven(V));
}

uint8_t GrayLevel(uint8_t Red, uint8_t Green, uint8_t Blue)
{
    // 1000 v + 500, exactly. Away from a half, v lies at least 0.001 from the rounding
    // edge, far beyond the extended formula's error, so both round alike; at an exact
    // half the extended result may land either side and only the formula decides.
    const int32_t Scaled = 300 * Red + 590 * Green + 110 * Blue + 500;
    const int32_t Level = Scaled / 1000;
    if (Scaled - Level * 1000 == 0)
        return GrayLevelExact(Red, Green, Blue);
    return uint8_t(Level);
}

void GrayScale(TBitmap& Bitmap)
{
    Bitmap.SetPixelFormat(pf24bit);
    for (int32_t Y = 0; Y < Bitmap.Height(); ++Y) {
        uint8_t* P = Bitmap.ScanLine(Y);
        for (int32_t X = 0; X < Bitmap.Width(); ++X, P += Bpp)
            P[0] = P[1] = P[2] = GrayLevel(P[2], P[1], P[0]);
    }
}

} // namespace kv
