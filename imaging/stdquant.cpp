#include "imaging/stdquant.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// The score of an axis that cannot be split; any real split scores below it.
constexpr double NoSplitScore = 17523.6;

// Round to nearest, ties to even (the default rounding mode).
int32_t RoundEven(double V) { return int32_t(std::nearbyint(V)); }

// Lo := the lowest occupied level, Hi := the highest + 1; an axis with no pixels
// gets the empty range 32..0.
void ShrinkToOccupied(TStdQuant::TBox& B)
{
    for (int a = 0; a < 3; ++a) {
        B.Lo[a] = 32;
        B.Hi[a] = 1;
        for (uint32_t i = 0; i < 32; ++i)
            if (B.Marginal[a][i]) {
                B.Lo[a] = std::min(B.Lo[a], i);
                B.Hi[a] = i + 1;
            }
    }
}

} // namespace

TStdQuant::TStdQuant(const TQuantSource& Source, std::span<TRGB> ColorMap, int32_t MaxColors)
    : FHistogram(CellCount, 0), FBoxes(MaxBoxes), FIndexMap(CellCount, 0), FPixelCount(Source.PixelCount()),
      FMaxColors(std::clamp(MaxColors, 1, int32_t(std::clamp<size_t>(ColorMap.size(), 1, MaxBoxes)))),
      FWidth(Source.Width), FHeight(Source.Height)
{
    if (ColorMap.empty())
        return;
    BuildHistogram(Source);
    SplitLoop();
    WritePalette(ColorMap);
    BuildIndexMap();
}

void TStdQuant::BuildHistogram(const TQuantSource& Source)
{
    TBox& b0 = FBoxes[0];
    for (int32_t y = 0; y < FHeight; ++y) {
        const uint8_t* p = Source.Rows[size_t(y)];
        for (int32_t x = 0; x < FWidth; ++x, p += 3) {
            const uint32_t b5 = p[0] >> 3, g5 = p[1] >> 3, r5 = p[2] >> 3;
            ++FHistogram[(r5 << 10) | (g5 << 5) | b5];
            ++b0.Marginal[0][r5];
            ++b0.Marginal[1][g5];
            ++b0.Marginal[2][b5];
        }
    }
}

// Error is the box's summed squared deviation from its mean, over the picture's
// pixel count (not the box's), so large boxes of spread colours are cut first.
void TStdQuant::BoxStats(TBox& B) const
{
    B.Error = 0;
    if (B.Count == 0)
        return;
    for (int a = 0; a < 3; ++a) {
        double s1 = 0, s2 = 0;
        for (uint32_t i = B.Lo[a]; i < B.Hi[a]; ++i) {
            s1 += double(i) * B.Marginal[a][i];
            s2 += double(i) * i * B.Marginal[a][i];
        }
        B.Mean[a] = s1 / B.Count;
        B.Error += s2 - B.Mean[a] * B.Mean[a] * B.Count;
    }
    B.Error = B.Error / FPixelCount;
}

void TStdQuant::SplitLoop()
{
    TBox& b0 = FBoxes[0];
    for (int a = 0; a < 3; ++a) {
        b0.Lo[a] = 0;
        b0.Hi[a] = 32;
    }
    b0.Count = uint32_t(FPixelCount);
    BoxStats(b0);
    FBoxCount = 1;
    while (FBoxCount < FMaxColors) {
        int32_t worst = -1;
        double worstError = 0.0;
        for (int32_t i = 0; i < FBoxCount; ++i)
            if (FBoxes[size_t(i)].Error > worstError) {
                worstError = FBoxes[size_t(i)].Error;
                worst = i;
            }
        if (worst < 0)
            break;
        // A failed split zeroes the box's Error, so the loop always moves on.
        if (SplitBox(FBoxes[size_t(worst)], FBoxes[size_t(FBoxCount)]))
            ++FBoxCount;
    }
}

bool TStdQuant::SplitBox(TBox& B, TBox& NewBox)
{
    if (B.Error == 0 || B.Count == 0) {
        B.Error = 0;
        return false;
    }
    TBox lower[3], upper[3];
    int32_t bestAxis = -1;
    double bestScore = NoSplitScore;
    for (int a = 0; a < 3; ++a) {
        const double score = SplitAxis(B, a, lower[a], upper[a]) ? lower[a].Error + upper[a].Error : NoSplitScore;
        if (score < bestScore) {
            bestScore = score;
            bestAxis = a;
        }
    }
    if (bestAxis < 0) {
        B.Error = 0;
        return false;
    }
    B = lower[bestAxis];
    NewBox = upper[bestAxis];
    return true;
}

// The cut between the box's low end and its mean that maximises the between-halves
// variance, measured from the running sums of the levels met so far.
bool TStdQuant::SplitAxis(const TBox& B, int32_t Axis, TBox& Lower, TBox& Upper) const
{
    const uint32_t* marginal = B.Marginal[Axis];
    if (B.Lo[Axis] + 1 >= B.Hi[Axis])
        return false;
    const double mean = B.Mean[Axis];
    const int32_t start = RoundEven((B.Lo[Axis] + mean) * 0.5);
    const int32_t end = RoundEven((B.Hi[Axis] + mean) * 0.5);
    uint32_t cum = 0;
    for (int32_t i = int32_t(B.Lo[Axis]); i < start && i < 32; ++i)
        cum += marginal[i];
    double acc = 0, best = -1.0;
    int32_t splitAt = start;
    uint32_t splitCount = B.Count;
    for (int32_t i = start; i <= end; ++i) {
        const uint32_t m = i < 32 ? marginal[i] : 0; // levels past 31 hold nothing
        cum += m;
        if (cum == B.Count)
            break;
        acc += double(i) * m / B.Count;
        const double d = mean - acc;
        const double v = double(cum) / double(B.Count - cum) * (d * d);
        if (v > best) {
            best = v;
            splitAt = i;
            splitCount = cum;
        }
    }
    Lower = B;
    Upper = B;
    Lower.Count = splitCount;
    Lower.Hi[Axis] = uint32_t(splitAt + 1);
    Upper.Count = B.Count - splitCount;
    Upper.Lo[Axis] = uint32_t(splitAt + 1);
    if (Lower.Count == 0 || Upper.Count == 0)
        return false;
    for (auto& m : Lower.Marginal)
        std::fill(std::begin(m), std::end(m), 0u);
    for (uint32_t r = Lower.Lo[0]; r < Lower.Hi[0]; ++r)
        for (uint32_t g = Lower.Lo[1]; g < Lower.Hi[1]; ++g)
            for (uint32_t b = Lower.Lo[2]; b < Lower.Hi[2]; ++b) {
                const uint32_t c = FHistogram[(r << 10) | (g << 5) | b];
                if (!c)
                    continue;
                Lower.Marginal[0][r] += c;
                Lower.Marginal[1][g] += c;
                Lower.Marginal[2][b] += c;
                Upper.Marginal[0][r] -= c;
                Upper.Marginal[1][g] -= c;
                Upper.Marginal[2][b] -= c;
            }
    ShrinkToOccupied(Lower);
    ShrinkToOccupied(Upper);
    BoxStats(Lower);
    BoxStats(Upper);
    return true;
}

void TStdQuant::WritePalette(std::span<TRGB> ColorMap) const
{
    for (int32_t i = 0; i < FBoxCount; ++i) {
        const TBox& b = FBoxes[size_t(i)];
        ColorMap[size_t(i)] = TRGB{uint8_t(RoundEven(b.Mean[2]) << 3), uint8_t(RoundEven(b.Mean[1]) << 3),
                                   uint8_t(RoundEven(b.Mean[0]) << 3)};
    }
}

// Later boxes overwrite earlier ones; cells in no box stay 0.
void TStdQuant::BuildIndexMap()
{
    for (int32_t i = 0; i < FBoxCount; ++i) {
        const TBox& bx = FBoxes[size_t(i)];
        for (uint32_t r = bx.Lo[0]; r < bx.Hi[0]; ++r)
            for (uint32_t g = bx.Lo[1]; g < bx.Hi[1]; ++g)
                for (uint32_t b = bx.Lo[2]; b < bx.Hi[2]; ++b)
                    FIndexMap[(r << 10) | (g << 5) | b] = uint8_t(i);
    }
}

} // namespace kv
