#include "fx/BorderRoutines.h"

#include "fx/BackFill.h"
#include "fx/GeometryRoutines.h"

#include <algorithm>
#include <cmath>

namespace kv {

int32_t ReliefRingCount(int32_t Width, int32_t Depth)
{
    const int32_t step = 8 - std::clamp(Depth, 1, 7);
    return RoundHalfEven(double(Width) / step);
}

int32_t ReliefRingContrast(int32_t Width, int32_t Depth, TReliefUse Use, int32_t Ring)
{
    const int32_t k = Use == TReliefUse::PictureFrame ? 2 : 1;
    return Width - Ring * (8 - std::clamp(Depth, 1, 7)) * k;
}

int32_t DrawReliefRings(TBitmap32& Target, int32_t Width, int32_t Depth, TReliefUse Use)
{
    const int32_t n = ReliefRingCount(Width, Depth);
    const int32_t W = Target.Width(), H = Target.Height();
    int32_t drawn = 0;
    for (int32_t i = 0; i < n; ++i) {
        // Rings beyond the middle would turn inside out and draw outside the bitmap.
        if (W - i <= i || H - i <= i)
            break;
        Target.DrawBevel(i, i, W - i, H - i, ReliefRingContrast(Width, Depth, Use, i));
        ++drawn;
    }
    return drawn;
}

namespace {

// A pattern that is missing or cannot be read leaves the border as it is.
void TileBorder(const std::string& FileName, TBitmap32& S)
{
    try {
        TilePattern(FileName, S);
    } catch (const std::exception&) {
    }
}

} // namespace

void PatternBorderPixels(TBitmap32& Target, const TPatternBorderSettings& Settings, TBorderTarget Kind)
{
    const int32_t Wd = std::max(Settings.Width, 0), Cont = std::clamp(Settings.Contour, 0, std::max(Wd - 1, 0));
    const int32_t W0 = Target.Width(), H0 = Target.Height();
    const std::string refused = RefusedSize(int64_t(W0) + 2 * int64_t(Wd), int64_t(H0) + 2 * int64_t(Wd));
    if (!refused.empty())
        throw Exception(refused);
    TBitmap32 S;
    S.SetSize(W0 + 2 * Wd, H0 + 2 * Wd);
    if (!Settings.PatternFile.empty())
        TileBorder(Settings.PatternFile, S);
    else
        S.ClearTo(Settings.Color | 0xFF000000u);
    S.FillRectClipped(Wd - Cont, Wd - Cont, W0 + Wd + Cont, H0 + Wd + Cont, Settings.ContourColor);
    if (!Target.IsEmpty()) {
        TBitmap32 C;
        C.Assign(&Target);
        C.SetDrawMode(Kind == TBorderTarget::Layer ? dmBlend : dmOpaque);
        C.SetMasterAlpha(255);
        C.DrawOntoAt(&S, Wd, Wd);
    }
    ReplacePixels(Target, S);
}

} // namespace kv
