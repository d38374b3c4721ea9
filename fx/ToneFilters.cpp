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

// The near index steps back by D and the far one on by D, each staying on I itself
// where that would leave the bitmap. Every pixel then weighs exactly 1 over all the
// pixels that read it, so a pass keeps the picture's mean.
inline int32_t NearIndex(int32_t I, int32_t D) { return I - D >= 0 ? I - D : I; }
inline int32_t FarIndex(int32_t I, int32_t D, int32_t N) { return I + D < N ? I + D : I; }

// The blur carries each channel with 6 fraction bits between passes: four values below
// 255 * 64 + 1 add up below 65536, so a row runs in 16-bit lanes, and the rounding of
// each pass costs at most 1/128 of a level where whole levels would lose up to half a
// level a pass. A single pass ends equal to (sum + 2) shr 2 of the bytes.
constexpr int32_t FractionBits = 6;
using TLevel = uint16_t;

inline TLevel Mean4(TLevel A, TLevel B, TLevel C, TLevel E) { return TLevel(TLevel(A + B + C + E + 2) >> 2); }

// One row of one pass: Out from the previous pass's rows Up and Down.
void BlurRow(const TLevel* __restrict Up, const TLevel* __restrict Down, TLevel* __restrict Out, int32_t W, int32_t D)
{
    const auto Edge = [&](int32_t X) {
        const int32_t L = NearIndex(X, D) * Bpp, R = FarIndex(X, D, W) * Bpp;
        for (int32_t Ch = 0; Ch < Bpp; ++Ch)
            Out[X * Bpp + Ch] = Mean4(Up[L + Ch], Down[L + Ch], Up[R + Ch], Down[R + Ch]);
    };
    const int32_t InnerFrom = std::min(D, W), InnerTo = std::max(W - D, InnerFrom);
    for (int32_t X = 0; X < InnerFrom; ++X)
        Edge(X);
    const int32_t Shift = D * Bpp;
    for (int32_t I = InnerFrom * Bpp; I < InnerTo * Bpp; ++I)
        Out[I] = Mean4(Up[I - Shift], Down[I - Shift], Up[I + Shift], Down[I + Shift]);
    for (int32_t X = InnerTo; X < W; ++X)
        Edge(X);
}

// Passes of the blur at distance D over Picture (Height rows of RowLen levels), a few
// passes at a time: pass P of a group makes row Step - P * D at each step, when the
// pass before has just made the row D below it and made the row D above it 2 * D steps
// earlier, so each pass keeps only its last 2 * D + 1 rows. The group's last rows go
// back into Picture once the group's first pass no longer reads them.
void BlurPasses(std::vector<TLevel>& Picture, int32_t W, int32_t H, int32_t D, int32_t Passes)
{
    constexpr int32_t Group = 16; // passes that share the cache
    const size_t RowLen = size_t(W) * Bpp;
    const int32_t Ring = 2 * D + 1;
    std::vector<TLevel> Rings(size_t(std::min(Group, Passes)) * size_t(Ring) * RowLen);
    for (int32_t First = 0; First < Passes; First += Group) {
        const int32_t N = std::min(Group, Passes - First);
        const auto Kept = [&](int32_t P, int32_t Y) {
            return Rings.data() + (size_t(P) * size_t(Ring) + size_t(Y % Ring)) * RowLen;
        };
        const auto Input = [&](int32_t P, int32_t Y) -> const TLevel* {
            return P == 0 ? Picture.data() + size_t(Y) * RowLen : Kept(P - 1, Y);
        };
        const int32_t Lag = std::max((N - 1) * D, D + 1);
        for (int32_t Step = 0; Step < H + Lag; ++Step) {
            for (int32_t P = 0; P < N; ++P) {
                const int32_t Y = Step - P * D;
                if (Y >= 0 && Y < H)
                    BlurRow(Input(P, NearIndex(Y, D)), Input(P, FarIndex(Y, D, H)), Kept(P, Y), W, D);
            }
            const int32_t Done = Step - Lag;
            if (Done >= 0 && Done < H)
                std::memcpy(Picture.data() + size_t(Done) * RowLen, Kept(N - 1, Done), RowLen * sizeof(TLevel));
        }
    }
}

// Passes of the blur on a 24-bit bitmap, through the levels with fraction bits.
void BlurBitmap(TBitmap& Bitmap, int32_t D, int32_t Passes)
{
    Bitmap.SetPixelFormat(pf24bit);
    const int32_t W = Bitmap.Width(), H = Bitmap.Height();
    const size_t RowLen = size_t(W) * Bpp;
    std::vector<TLevel> Picture(RowLen * size_t(H));
    for (int32_t Y = 0; Y < H; ++Y) {
        const uint8_t* Row = Bitmap.ScanLine(Y);
        TLevel* To = Picture.data() + size_t(Y) * RowLen;
        for (size_t I = 0; I < RowLen; ++I)
            To[I] = TLevel(Row[I] << FractionBits);
    }
    BlurPasses(Picture, W, H, D, Passes);
    for (int32_t Y = 0; Y < H; ++Y) {
        uint8_t* Row = Bitmap.ScanLine(Y);
        const TLevel* From = Picture.data() + size_t(Y) * RowLen;
        for (size_t I = 0; I < RowLen; ++I)
            Row[I] = uint8_t((From[I] + (1 << (FractionBits - 1))) >> FractionBits);
    }
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
    BlurBitmap(Bitmap, Distance, 1);
}

void RepeatBlur(TBitmap& Bitmap, int32_t Count)
{
    const int32_t Passes = Count + 1;
    if (Passes <= 0 || Bitmap.Empty())
        return;
    BlurBitmap(Bitmap, 3, Passes);
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
