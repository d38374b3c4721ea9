#include "imaging/NeurQuant.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace kv {

namespace {

constexpr int32_t NetBiasShift = 4;      // colours learn scaled by 16
constexpr int32_t InitAlpha = 1024;      // learning rate of the winner, out of 1024
constexpr int32_t AlphaRadBias = 262144; // the neighbours' rate divisor (1024 x 256)
constexpr int32_t RadiusDec = 30;
constexpr int32_t SearchLimit = 1000; // above any sum of three channel distances

// Sampling steps that are prime, so that walking the picture by one of them visits
// pixels spread over the whole of it.
int32_t LearningStep(int32_t LengthCount)
{
    if (LengthCount % 499 != 0)
        return 499;
    if (LengthCount % 491 != 0)
        return 491;
    if (LengthCount % 487 != 0)
        return 487;
    return 503;
}

int32_t RadOf(int32_t Radius)
{
    const int32_t rad = Radius >> 6;
    return rad < 2 ? 0 : rad;
}

} // namespace

TNeuQuant::TNeuQuant(const TQuantSource& Source, std::span<TRGB> ColorMap, int32_t NetSize, int32_t Quality)
    : FNetSize(std::clamp(NetSize, 1, int32_t(std::clamp<size_t>(ColorMap.size(), 1, 256)))), FMaxNetPos(FNetSize - 1),
      FInitRad(FNetSize >> 3), FInitRadius(FInitRad << 6), FLengthCount(Source.PixelCount() * 3),
      FSampleFac(SampleFactor(Source.PixelCount(), Quality)), FNetwork(size_t(FNetSize)), FBias(size_t(FNetSize), 0),
      FFreq(size_t(FNetSize), 0), FRadPower(size_t(FInitRad), 0), FWidth(Source.Width), FHeight(Source.Height)
{
    if (ColorMap.empty())
        return;
    Initialise();
    Learn(Source);
    Unbias();
    WritePalette(ColorMap);
    BuildIndex();
}

int32_t TNeuQuant::SampleFactor(int64_t Pixels, int32_t Quality)
{
    if (Quality == -1) {
        if (Pixels < 2000)
            return 1;
        const double f = std::nearbyint(double(Pixels - 2000) * 13 / 148000 + 2);
        return int32_t(std::clamp(f, 1.0, 30.0));
    }
    Quality = std::clamp(Quality, 0, 100); // beyond 100 the factor would be 0
    return int32_t((100 - Quality) / 100.0 * 29) + 1;
}

void TNeuQuant::Initialise()
{
    for (int32_t i = 0; i < FNetSize; ++i) {
        const int32_t v = (i << 12) / FNetSize;
        FNetwork[size_t(i)] = TNeuron{v, v, v, 0};
        FFreq[size_t(i)] = 65536 / FNetSize;
        FBias[size_t(i)] = 0;
    }
}

void TNeuQuant::SetRadPower(int32_t Rad, int32_t Alpha)
{
    for (int32_t k = 0; k < Rad; ++k)
        FRadPower[size_t(k)] = ((Rad * Rad - k * k) << 8) / (Rad * Rad) * Alpha;
}

void TNeuQuant::Learn(const TQuantSource& Source)
{
    FAlphaDec = 30 + (FSampleFac - 1) / 3;
    const int32_t samplePixels = FLengthCount / (3 * FSampleFac);
    const int32_t delta = std::max(samplePixels / 100, 1);
    const int32_t pixels = Source.PixelCount();
    const int32_t step = LearningStep(FLengthCount);
    int32_t alpha = InitAlpha;
    int32_t radius = FInitRadius;
    int32_t rad = RadOf(radius);
    SetRadPower(rad, alpha);
    int32_t pos = 0;
    for (int32_t i = 0; i < samplePixels; ++i) {
        const uint8_t* p = Source.Pixel(pos % FWidth, pos / FWidth);
        const int32_t b = p[0] << NetBiasShift, g = p[1] << NetBiasShift, r = p[2] << NetBiasShift;
        const int32_t j = Contest(b, g, r);
        AlterSingle(alpha, j, b, g, r);
        if (rad > 0)
            AlterNeigh(rad, j, b, g, r);
        // Wrapped by modulo: a picture smaller than the step would otherwise be read
        // past its last row.
        pos = int32_t((int64_t(pos) + step) % pixels);
        if ((i + 1) % delta == 0) {
            alpha -= alpha / FAlphaDec;
            radius -= radius / RadiusDec;
            rad = RadOf(radius);
            SetRadPower(rad, alpha);
        }
    }
    FSamplesLearnt = samplePixels;
}

// Finds the nearest neuron and, biased by how often each has won, the neuron that
// learns; frequent winners are handicapped so that every neuron gets used.
int32_t TNeuQuant::Contest(int32_t B, int32_t G, int32_t R)
{
    int32_t bestD = INT32_MAX, bestBiasD = INT32_MAX, bestPos = 0, bestBiasPos = 0;
    for (int32_t i = 0; i < FNetSize; ++i) {
        const TNeuron& n = FNetwork[size_t(i)];
        const int32_t dist = std::abs(n.B - B) + std::abs(n.G - G) + std::abs(n.R - R);
        if (dist < bestD) {
            bestD = dist;
            bestPos = i;
        }
        const int32_t biasDist = dist - (FBias[size_t(i)] >> 12);
        if (biasDist < bestBiasD) {
            bestBiasD = biasDist;
            bestBiasPos = i;
        }
        const int32_t betaFreq = FFreq[size_t(i)] >> 10;
        FFreq[size_t(i)] -= betaFreq;
        FBias[size_t(i)] += betaFreq << 10;
    }
    FFreq[size_t(bestPos)] += 64;
    FBias[size_t(bestPos)] -= 65536;
    return bestBiasPos;
}

void TNeuQuant::AlterSingle(int32_t Alpha, int32_t I, int32_t B, int32_t G, int32_t R)
{
    TNeuron& n = FNetwork[size_t(I)];
    n.B -= (n.B - B) * Alpha / InitAlpha;
    n.G -= (n.G - G) * Alpha / InitAlpha;
    n.R -= (n.R - R) * Alpha / InitAlpha;
}

void TNeuQuant::AlterNeigh(int32_t Rad, int32_t I, int32_t B, int32_t G, int32_t R)
{
    const int32_t lo = std::max(I - Rad, -1), hi = std::min(I + Rad, FNetSize);
    auto move = [&](TNeuron& n, int32_t a) {
        n.B -= (n.B - B) * a / AlphaRadBias;
        n.G -= (n.G - G) * a / AlphaRadBias;
        n.R -= (n.R - R) * a / AlphaRadBias;
    };
    int32_t j = I + 1, k = I - 1, m = 1;
    while (j < hi || k > lo) {
        const int32_t a = FRadPower[size_t(m++)];
        if (j < hi)
            move(FNetwork[size_t(j++)], a);
        if (k > lo)
            move(FNetwork[size_t(k--)], a);
    }
}

void TNeuQuant::Unbias()
{
    for (int32_t i = 0; i < FNetSize; ++i) {
        TNeuron& n = FNetwork[size_t(i)];
        // Learning keeps every channel between two values of 0..4080: the clamp only
        // guards the green index below.
        n.B = IEClamp(n.B >> NetBiasShift, 0, 255);
        n.G = IEClamp(n.G >> NetBiasShift, 0, 255);
        n.R = IEClamp(n.R >> NetBiasShift, 0, 255);
        n.Index = i;
    }
}

void TNeuQuant::WritePalette(std::span<TRGB> ColorMap) const
{
    for (int32_t i = 0; i < FNetSize; ++i) {
        const TNeuron& n = FNetwork[size_t(i)];
        ColorMap[size_t(i)] = TRGB{uint8_t(n.B), uint8_t(n.G), uint8_t(n.R)};
    }
}

// Selection sort by green; NetIndex[g] then points into the run of neurons whose
// green is g (its middle) or, for a green no neuron has, at the next run up.
void TNeuQuant::BuildIndex()
{
    int32_t previous = 0, start = 0;
    for (int32_t i = 0; i < FNetSize; ++i) {
        int32_t smallPos = i, smallVal = FNetwork[size_t(i)].G;
        for (int32_t j = i + 1; j < FNetSize; ++j)
            if (FNetwork[size_t(j)].G < smallVal) {
                smallPos = j;
                smallVal = FNetwork[size_t(j)].G;
            }
        if (smallPos != i)
            std::swap(FNetwork[size_t(i)], FNetwork[size_t(smallPos)]);
        if (smallVal != previous) {
            FNetIndex[size_t(previous)] = (start + i) / 2;
            for (int32_t g = previous + 1; g < smallVal; ++g)
                FNetIndex[size_t(g)] = i;
            previous = smallVal;
            start = i;
        }
    }
    FNetIndex[size_t(previous)] = (start + FMaxNetPos) / 2;
    for (int32_t g = previous + 1; g < 256; ++g)
        FNetIndex[size_t(g)] = FMaxNetPos;
}

// Walks up and down from the green entry point; a side stops once its green distance
// alone reaches the best total distance found.
int32_t TNeuQuant::Search(int32_t B, int32_t G, int32_t R) const
{
    if (FNetSize == 0 || FNetwork.empty())
        return 0;
    int32_t i = FNetIndex[size_t(IEClamp(G, 0, 255))], j = i - 1;
    int32_t bestD = SearchLimit, best = -1;
    auto consider = [&](const TNeuron& n, int32_t dist) {
        dist += std::abs(n.B - B);
        if (dist < bestD) {
            dist += std::abs(n.R - R);
            if (dist < bestD) {
                bestD = dist;
                best = n.Index;
            }
        }
    };
    while (i < FNetSize || j >= 0) {
        if (i < FNetSize) {
            const TNeuron& n = FNetwork[size_t(i)];
            const int32_t dist = n.G - G;
            if (dist >= bestD)
                i = FNetSize;
            else {
                ++i;
                consider(n, std::abs(dist));
            }
        }
        if (j >= 0) {
            const TNeuron& n = FNetwork[size_t(j)];
            const int32_t dist = G - n.G;
            if (dist >= bestD)
                j = -1;
            else {
                --j;
                consider(n, std::abs(dist));
            }
        }
    }
    return best < 0 ? 0 : best;
}

} // namespace kv
