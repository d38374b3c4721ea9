#include "effects/ApplyEffects.h"

#include "effects/EffectFrame.h"
#include "fx/qelFX.h"

#include <span>

namespace kv {

namespace {

using TSettings = const TEffectSettings&;

// An effect by its name: what it runs on the working copies and which copy holds the result.
struct TNamedEffect {
    const char* Name;
    TEffectResult Result;
    void (*Run)(TSettings S, TBitmap& W, TBitmap& W2);
};

// Round(Width / Divisor), halves to even, as the block and tooth sizes are taken.
int32_t WidthPart(const TBitmap& Bitmap, int32_t Divisor) { return RoundDiv(Bitmap.Width(), Divisor); }

constexpr TEffectResult First = TEffectResult::First;

const TNamedEffect Effects[] = {
    {"spray", First, [](TSettings S, TBitmap& W, TBitmap&) { Spray(W, S.SprayAmount); }},
    {"invert", First, [](TSettings, TBitmap& W, TBitmap&) { InvertBitmap(W); }},
    {"mosa", First, [](TSettings, TBitmap& W, TBitmap&) { Mosaic(W, WidthPart(W, 100)); }},
    {"emboss", First, [](TSettings, TBitmap& W, TBitmap&) { Emboss(W); }},
    {"ripple_7", First, [](TSettings, TBitmap& W, TBitmap&) { RippleTooth(W, WidthPart(W, 7)); }},
    {"ripple_12", First, [](TSettings, TBitmap& W, TBitmap&) { RippleTooth(W, WidthPart(W, 12)); }},
    {"ripple_24", First, [](TSettings, TBitmap& W, TBitmap&) { RippleTooth(W, WidthPart(W, 24)); }},
    {"wave", First,
     [](TSettings S, TBitmap& W, TBitmap&) { Wave(W, S.WaveAmplitude, S.WaveInterference, S.WaveMode); }},
    {"post", TEffectResult::Second, [](TSettings S, TBitmap& W, TBitmap& W2) { Posterize(W, W2, S.PosterizeLevel); }},
};

const TNamedEffect Noises[] = {
    {"color", First, [](TSettings, TBitmap& W, TBitmap&) { AddColorNoise(W, 50); }},
    {"mona", First, [](TSettings, TBitmap& W, TBitmap&) { AddMonoNoise(W, 60); }},
    {"mod", First, [](TSettings S, TBitmap& W, TBitmap&) { ColorizeBitmap(W, S.Colorize); }},
};

// Names compare case-sensitively and whole; an unknown one runs nothing.
void RunNamed(IMainForm& Main, std::span<const TNamedEffect> Table, const std::string& Name, TSettings Settings)
{
    for (const TNamedEffect& E : Table)
        if (Name == E.Name) {
            // Only an effect whose result is the second copy writes it.
            RunEffectFrame(
                Main,
                [&](TBitmap& W, TBitmap& W2) {
                    E.Run(Settings, W, W2);
                    return E.Result;
                },
                E.Result == TEffectResult::Second ? TSecondCopy::Used : TSecondCopy::Unused);
            return;
        }
    RunEffectFrame(
        Main, [](TBitmap&, TBitmap&) { return TEffectResult::None; }, TSecondCopy::Unused);
}

} // namespace

void ApplyEffect(IMainForm& Main, const std::string& Name, const TEffectSettings& Settings)
{
    RunNamed(Main, Effects, Name, Settings);
}

void ApplyNoise(IMainForm& Main, const std::string& Name, const TEffectSettings& Settings)
{
    RunNamed(Main, Noises, Name, Settings);
}

} // namespace kv
