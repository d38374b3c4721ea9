#include "fx/qelFX.h"

#include "fx/EffectRandom.h"
#include "platform/CpuFeatures.h"
#include "raster/Raster32_Blend.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

namespace kv {

namespace {

constexpr int32_t BytesPerPixel = 3;

// Every row's pointer, fetched once: the effects below jump between rows.
std::vector<uint8_t*> RowPointers(TBitmap& Bitmap)
{
    std::vector<uint8_t*> Rows(size_t(std::max(Bitmap.Height(), 0)));
    for (int32_t Y = 0; Y < Bitmap.Height(); ++Y)
        Rows[size_t(Y)] = Bitmap.ScanLine(Y);
    return Rows;
}

int32_t RowBytes(const TBitmap& Bitmap) { return Bitmap.Width() * BytesPerPixel; }

bool HasPixels(const TBitmap& Bitmap) { return Bitmap.Width() > 0 && Bitmap.Height() > 0; }

void CopyPixel(uint8_t* Dst, const uint8_t* Src)
{
    Dst[0] = Src[0];
    Dst[1] = Src[1];
    Dst[2] = Src[2];
}

// The row shift of every column: column 0 stays, column x takes the curve at x - 1.
std::vector<int32_t> WaveShifts(int32_t Width, int32_t Amplitude, int32_t Interference, int32_t Mode)
{
    std::vector<int32_t> Shift(size_t(Width), 0);
    const double K = (std::numbers::pi / 2) / Amplitude;
    for (int32_t X = 0; X + 1 < Width; ++X) {
        const double T = X * K;
        double F = 0;
        if (Mode == wmLow)
            F = std::sin(T);
        else if (Mode == wmMedium)
            F = std::sin(T) * std::cos(T);
        else if (Mode == wmHigh)
            F = std::sin(T) * std::sin(Interference * K * X);
        else
            continue;
        // nearbyint rounds halves to even in the default rounding mode.
        Shift[size_t(X) + 1] = int32_t(std::nearbyint(Amplitude * F));
    }
    return Shift;
}

void PlainInvertRow(uint8_t* Row, int32_t Count)
{
    for (int32_t I = 0; I < Count; ++I)
        Row[I] = uint8_t(255 - Row[I]);
}

void PlainEmbossRow(uint8_t* Row, const uint8_t* Below, int32_t Count)
{
    for (int32_t I = 0; I < Count; ++I)
        Row[I] = uint8_t((255 - Below[I] + Row[I]) >> 1);
}

void PlainPosterizeRow(const uint8_t* In, uint8_t* Out, int32_t Count, const TPosterizeLevel& Level)
{
    for (int32_t I = 0; I < Count; ++I)
        Out[I] = Level.Table[In[I]];
}

const TFxRowRoutines Plain = {PlainInvertRow, PlainEmbossRow, PlainPosterizeRow};

} // namespace

int32_t RoundDiv(int32_t Value, int32_t Divisor)
{
    int32_t Q = Value / Divisor;
    const int32_t Twice = 2 * (Value % Divisor);
    if (Twice > Divisor || (Twice == Divisor && (Q & 1)))
        ++Q;
    return Q;
}

TPosterizeLevel::TPosterizeLevel(int32_t ALevel)
    : Level(ALevel), Reciprocal(ALevel >= 2 && ALevel <= 255 ? uint16_t((65536 + ALevel - 1) / ALevel) : 0)
{
    for (int32_t C = 0; C < 256; ++C)
        Table[C] = Level < 1 ? uint8_t(C) : uint8_t(std::min<int64_t>(int64_t(RoundDiv(C, Level)) * Level, 255));
}

const TFxRowRoutines& PlainFxRowRoutines() { return Plain; }

const TFxRowRoutines& FxRowRoutines()
{
    static const TFxRowRoutines* Chosen = [] {
        if (!MmxActive()) // the blend's choice: effects and blends go plain together
            return &Plain;
        if (SimdAllowed(TSimdLevel::Avx2) && Avx2FxRowRoutines() != nullptr)
            return Avx2FxRowRoutines();
        if (SimdAllowed(TSimdLevel::Sse2) && Sse2FxRowRoutines() != nullptr)
            return Sse2FxRowRoutines();
        return &Plain;
    }();
    return *Chosen;
}

void Spray(TBitmap& Bitmap, int32_t Amount)
{
    const int32_t W = Bitmap.Width();
    const int32_t H = Bitmap.Height();
    if (!HasPixels(Bitmap))
        return;
    const std::vector<uint8_t*> Rows = RowPointers(Bitmap);
    auto Spread = [](int32_t R) {
        return int32_t(std::min<int64_t>(2 * int64_t(R), std::numeric_limits<int32_t>::max()));
    };
    for (int32_t X = 0; X < W; ++X)
        for (int32_t Y = 0; Y < H; ++Y) {
            const int32_t R = Random(Amount);
            const int64_t SX = int64_t(X) + R - Random(Spread(R));
            const int64_t SY = int64_t(Y) + R - Random(Spread(R));
            if (SX >= 0 && SX < W && SY >= 0 && SY < H)
                CopyPixel(Rows[size_t(Y)] + X * BytesPerPixel, Rows[size_t(SY)] + SX * BytesPerPixel);
        }
}

void Posterize(TBitmap& Src, TBitmap& Dst, int32_t Level)
{
    Src.SetPixelFormat(pf24bit);
    Dst.SetPixelFormat(pf24bit);
    if (Dst.Width() != Src.Width() || Dst.Height() != Src.Height())
        Dst.SetSize(Src.Width(), Src.Height());
    const TPosterizeLevel Table(Level);
    const TFxRowRoutines& Routines = FxRowRoutines();
    for (int32_t Y = Src.Height() - 1; Y >= 0; --Y) // any order; see InvertBitmap
        Routines.PosterizeRow(Src.ScanLine(Y), Dst.ScanLine(Y), RowBytes(Src), Table);
}

void Wave(TBitmap& Bitmap, int32_t Amplitude, int32_t Interference, int32_t Mode)
{
    const int64_t A = Amplitude;
    const int32_t H = Bitmap.Height();
    if (A < 1 || A > (H - 1) - 2 * A || Bitmap.Width() <= 0)
        return;
    const std::vector<int32_t> Shift = WaveShifts(Bitmap.Width(), Amplitude, Interference, Mode);
    const std::vector<uint8_t*> Rows = RowPointers(Bitmap);
    // Every pixel moves down by A + shift >= 0 rows, so from the bottom source row upwards
    // each source row is still as it was when it is read: no copy of the picture needed.
    for (int64_t Y = (H - 1) - 2 * A; Y >= A; --Y) {
        const uint8_t* Source = Rows[size_t(Y)];
        for (int32_t X = 0; X < Bitmap.Width(); ++X)
            CopyPixel(Rows[size_t(Y + A + Shift[size_t(X)])] + X * BytesPerPixel, Source + X * BytesPerPixel);
    }
}

void Mosaic(TBitmap& Bitmap, int32_t Size)
{
    if (Size < 2 || !HasPixels(Bitmap))
        return;
    const int32_t W = Bitmap.Width();
    // A block past the picture's sides covers it all; capping keeps the steps in range.
    Size = std::min(Size, std::max(W, Bitmap.Height()));
    for (int32_t Top = 0; Top < Bitmap.Height(); Top += Size) {
        uint8_t* First = Bitmap.ScanLine(Top);
        for (int32_t Left = 0; Left < W; Left += Size)
            for (int32_t X = Left + 1; X < std::min(W, Left + Size); ++X)
                CopyPixel(First + X * BytesPerPixel, First + Left * BytesPerPixel);
        for (int32_t Y = Top + 1; Y < std::min(Bitmap.Height(), Top + Size); ++Y)
            std::memcpy(Bitmap.ScanLine(Y), First, size_t(RowBytes(Bitmap)));
    }
}

void Emboss(TBitmap& Bitmap)
{
    if (Bitmap.Width() < 4 || Bitmap.Height() < 2)
        return;
    const TFxRowRoutines& Routines = FxRowRoutines();
    const int32_t Count = (Bitmap.Width() - 3) * BytesPerPixel;
    // Top to bottom: the row below is still unchanged when a row reads it.
    for (int32_t Y = 0; Y + 1 < Bitmap.Height(); ++Y)
        Routines.EmbossRow(Bitmap.ScanLine(Y), Bitmap.ScanLine(Y + 1) + 3 * BytesPerPixel, Count);
}

void RippleTooth(TBitmap& Bitmap, int32_t Size)
{
    Bitmap.SetPixelFormat(pf24bit);
    const int32_t H = Bitmap.Height();
    const int32_t N = std::min(H / 2, Size);
    // The tooth's offset is an 8-bit counter.
    const int32_t M = std::min(N, 255);
    if (M < 1 || Bitmap.Width() <= 0)
        return;
    const std::vector<uint8_t*> Rows = RowPointers(Bitmap);
    for (int32_t Y = (H - 1) - N; Y >= 0; --Y) {
        const uint8_t* Source = Rows[size_t(Y)];
        for (int32_t X = 0; X < Bitmap.Width(); ++X)
            CopyPixel(Rows[size_t(Y + X % (M + 1))] + X * BytesPerPixel, Source + X * BytesPerPixel);
    }
}

void InvertBitmap(TBitmap& Bitmap)
{
    Bitmap.SetPixelFormat(pf24bit);
    const TFxRowRoutines& Routines = FxRowRoutines();
    // Any row order gives the same bytes; from the last row up walks the platform's
    // bottom-up block forwards, which the memory system streams fastest.
    for (int32_t Y = Bitmap.Height() - 1; Y >= 0; --Y)
        Routines.InvertRow(Bitmap.ScanLine(Y), RowBytes(Bitmap));
}

void AddColorNoise(TBitmap& Bitmap, int32_t Amount)
{
    const int32_t Half = Amount / 2;
    for (int32_t Y = 0; Y < Bitmap.Height(); ++Y) {
        uint8_t* Row = Bitmap.ScanLine(Y);
        for (int32_t I = 0; I < RowBytes(Bitmap); ++I)
            Row[I] = IntToByte(int32_t(std::clamp<int64_t>(int64_t(Row[I]) + Random(Amount) - Half, -1, 256)));
    }
}

void AddMonoNoise(TBitmap& Bitmap, int32_t Amount)
{
    const int32_t Half = Amount / 2;
    for (int32_t Y = 0; Y < Bitmap.Height(); ++Y) {
        uint8_t* Row = Bitmap.ScanLine(Y);
        for (int32_t X = 0; X < Bitmap.Width(); ++X) {
            const int64_t N = int64_t(Random(Amount)) - Half;
            uint8_t* P = Row + X * BytesPerPixel;
            for (int32_t C = 0; C < BytesPerPixel; ++C)
                P[C] = IntToByte(int32_t(std::clamp<int64_t>(P[C] + N, -1, 256)));
        }
    }
}

void ColorizeBitmap(TBitmap& Bitmap, TColor Color)
{
    Bitmap.SetPixelFormat(pf24bit);
    const uint32_t C = uint32_t(Color);
    const double Red = C & 0xFF, Green = (C >> 8) & 0xFF, Blue = (C >> 16) & 0xFF;
    // The answer depends only on the channel sum 0..765: one table per channel.
    constexpr int32_t Sums = 3 * 255 + 1;
    std::vector<uint8_t> R(Sums), G(Sums), B(Sums);
    for (int32_t S = 0; S < Sums; ++S) {
        const double L = S / 765.0;
        R[size_t(S)] = IntToByte(int32_t(std::nearbyint(Red * L)));
        G[size_t(S)] = IntToByte(int32_t(std::nearbyint(Green * L)));
        B[size_t(S)] = IntToByte(int32_t(std::nearbyint(Blue * L)));
    }
    for (int32_t Y = Bitmap.Height() - 1; Y >= 0; --Y) { // any order; see InvertBitmap
        uint8_t* P = Bitmap.ScanLine(Y);
        for (int32_t X = 0; X < Bitmap.Width(); ++X, P += BytesPerPixel) {
            const size_t S = size_t(P[0]) + P[1] + P[2];
            P[0] = B[S];
            P[1] = G[S];
            P[2] = R[S];
        }
    }
}

} // namespace kv
