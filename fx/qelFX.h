// The picture effects of the Filters menu on 24-bit platform bitmaps (rows B, G, R,
// reached through ScanLine): spray, posterize, wave, mosaic, emboss, ripple tooth,
// invert, the two noises and colorize, each exact to its integer arithmetic.
#pragma once

#include "platform/Graphics.h"

#include <cstdint>

namespace kv {

// Wave's curve across the columns.
enum TWaveMode : int32_t { wmLow = 0, wmMedium = 1, wmHigh = 2 };

// Round(Value / Divisor) with halves to the even neighbour; Value >= 0, Divisor > 0.
int32_t RoundDiv(int32_t Value, int32_t Divisor);
// 0 below 0, 255 above 255.
inline uint8_t IntToByte(int32_t Value) { return uint8_t(Value < 0 ? 0 : (Value > 255 ? 255 : Value)); }

// Each pixel, columns outside and rows inside, takes a random neighbour within Amount
// (drawn from the shared seedable Random); pixels already rewritten may be picked again.
void Spray(TBitmap& Bitmap, int32_t Amount);
// Dst (made Src's size, 24-bit) := every channel Round(c / Level) * Level, at most 255.
// A level below 1 copies Src unchanged.
void Posterize(TBitmap& Src, TBitmap& Dst, int32_t Level);
// Moves columns down by Round(Amplitude * f((x - 1) * k)); nothing when the picture is
// lower than 3 * Amplitude + 1 rows or Amplitude < 1.
void Wave(TBitmap& Bitmap, int32_t Amplitude, int32_t Interference, int32_t Mode);
// Every Size x Size block takes its top-left pixel; Size below 2 changes nothing.
void Mosaic(TBitmap& Bitmap, int32_t Size);
// c(x, y) := (255 - c(x + 3, y + 1) + c(x, y)) shr 1; the last three columns and the
// last row keep their values.
void Emboss(TBitmap& Bitmap);
// Row y of column x moves down by x mod (m + 1), m = Min(H div 2, Size, 255).
void RippleTooth(TBitmap& Bitmap, int32_t Size);
// c := 255 - c.
void InvertBitmap(TBitmap& Bitmap);
// Each channel (B, G, R order) gets its own Random(Amount) - Amount div 2.
void AddColorNoise(TBitmap& Bitmap, int32_t Amount);
// One Random(Amount) - Amount div 2 per pixel, added to all three channels.
void AddMonoNoise(TBitmap& Bitmap, int32_t Amount);
// Each channel := Round(C * L) of Color's channel C, L = (B + G + R) / 765.
void ColorizeBitmap(TBitmap& Bitmap, TColor Color);

// A posterize level with what the row kernels need of it: the table for the plain path,
// and for the vector paths the 16-bit reciprocal ceil(65536 / Level). For 2 <= Level <= 255
// and c <= 255, (c * Reciprocal) shr 16 is exactly c div Level, since the reciprocal's
// excess, times c, stays below 1 / Level.
struct TPosterizeLevel {
    explicit TPosterizeLevel(int32_t ALevel);
    int32_t Level;
    uint16_t Reciprocal; // 0 when the vector paths do not apply (Level < 2 or > 255)
    uint8_t Table[256];
};

// The row kernels the effects above run, chosen once: the widest vector set the processor
// has unless KELVANE_NO_SIMD is set, the plain set otherwise. All give the same bytes.
struct TFxRowRoutines {
    // Count bytes c := 255 - c.
    void (*InvertRow)(uint8_t* Row, int32_t Count);
    // Count bytes Row[i] := (255 - Below[i] + Row[i]) shr 1.
    void (*EmbossRow)(uint8_t* Row, const uint8_t* Below, int32_t Count);
    // Count bytes Out[i] := Min(Round(In[i] / Level) * Level, 255), halves to even.
    void (*PosterizeRow)(const uint8_t* In, uint8_t* Out, int32_t Count, const TPosterizeLevel& Level);
};
const TFxRowRoutines& FxRowRoutines();
const TFxRowRoutines& PlainFxRowRoutines();
// Null where the processor lacks them.
const TFxRowRoutines* Sse2FxRowRoutines();
const TFxRowRoutines* Avx2FxRowRoutines();

} // namespace kv
