#include "effects/ApplyEffects.h"

#include "effects/EffectFrame.h"
#include "effects/qelFX.h"

namespace kv {

namespace {

using TResult = TEffectResult;

// Round(Width / Divisor), halves to even, as the block and tooth sizes are taken.
int32_t WidthPart(const TBitmap& Bitmap, int32_t Divisor) { return RoundDiv(Bitmap.Width(), Divisor); }

TResult RunNamedEffect(const std::string& Name, const TEffectSettings& S, TBitmap& W, TBitmap& W2)
{
    if (Name == "spray")
        return Spray(W, S.SprayAmount), TResult::First;
    if (Name == "invert")
        return InvertBitmap(W), TResult::First;
    if (Name == "mosa")
        return Mosaic(W, WidthPart(W, 100)), TResult::First;
    if (Name == "emboss")
        return Emboss(W), TResult::First;
    if (Name == "ripple_7")
        return RippleTooth(W, WidthPart(W, 7)), TResult::First;
    if (Name == "ripple_12")
        return RippleTooth(W, WidthPart(W, 12)), TResult::First;
    if (Name == "ripple_24")
        return RippleTooth(W, WidthPart(W, 24)), TResult::First;
    if (Name == "wave")
        return Wave(W, S.WaveAmplitude, S.WaveInterference, S.WaveMode), TResult::First;
    if (Name == "post")
        return Posterize(W, W2, S.PosterizeLevel), TResult::Second;
    return TResult::None;
}

TResult RunNamedNoise(const std::string& Name, const TEffectSettings& S, TBitmap& W)
{
    if (Name == "color")
        return AddColorNoise(W, 50), TResult::First;
    if (Name == "mona")
        return AddMonoNoise(W, 60), TResult::First;
    if (Name == "mod")
        return ColorizeBitmap(W, S.Colorize), TResult::First;
    return TResult::None;
}

} // namespace

void ApplyEffect(IMainForm& Main, const std::string& Name, const TEffectSettings& Settings)
{
    RunEffectFrame(Main, [&](TBitmap& W, TBitmap& W2) { return RunNamedEffect(Name, Settings, W, W2); });
}

void ApplyNoise(IMainForm& Main, const std::string& Name, const TEffectSettings& Settings)
{
    RunEffectFrame(Main, [&](TBitmap& W, TBitmap&) { return RunNamedNoise(Name, Settings, W); });
}

} // namespace kv
