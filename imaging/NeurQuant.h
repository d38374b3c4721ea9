// The neural-net quantizer: a one-dimensional Kohonen map of NetSize colours trained
// on a sample of the picture's pixels, searched through an index sorted by green.
#pragma once

#include "imaging/Quantizer.h"
#include "imaging/imgdefs.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kv {

class TNeuQuant {
public:
    // Learns from the picture and writes NetSize entries of ColorMap (NetSize is held
    // to 1..min(256, ColorMap's length)). Quality -1 picks the sampling from the size.
    TNeuQuant(const TQuantSource& Source, std::span<TRGB> ColorMap, int32_t NetSize, int32_t Quality);

    // One pixel in SampleFac is learnt from: 1 (every pixel) to 30.
    static int32_t SampleFactor(int64_t Pixels, int32_t Quality);
    // The palette index of the nearest neuron (sum of channel distances).
    int32_t Search(int32_t B, int32_t G, int32_t R) const;
    int32_t ColorIndex(TRGB C) const { return Search(C.b, C.g, C.r); }

    struct TNeuron {
        int32_t B, G, R, Index;
    };
    int32_t NetSize() const { return FNetSize; }
    int32_t SampleFac() const { return FSampleFac; }
    int32_t SamplesLearnt() const { return FSamplesLearnt; }
    const TNeuron& Neuron(int32_t I) const { return FNetwork[size_t(I)]; }

    // The learning steps, public so that tests can drive them on a bare net.
    int32_t Contest(int32_t B, int32_t G, int32_t R);
    void AlterSingle(int32_t Alpha, int32_t I, int32_t B, int32_t G, int32_t R);
    void AlterNeigh(int32_t Rad, int32_t I, int32_t B, int32_t G, int32_t R);
    int32_t Bias(int32_t I) const { return FBias[size_t(I)]; }
    int32_t Freq(int32_t I) const { return FFreq[size_t(I)]; }

private:
    void Initialise();
    void Learn(const TQuantSource& Source);
    void SetRadPower(int32_t Rad, int32_t Alpha);
    void Unbias();
    void WritePalette(std::span<TRGB> ColorMap) const;
    void BuildIndex();

    int32_t FNetSize = 0;
    int32_t FMaxNetPos = 0;
    int32_t FInitRad = 0;
    int32_t FInitRadius = 0;
    int32_t FAlphaDec = 0;
    int32_t FLengthCount = 0;
    int32_t FSampleFac = 1;
    int32_t FSamplesLearnt = 0;
    std::vector<TNeuron> FNetwork;
    std::array<int32_t, 256> FNetIndex{};
    std::vector<int32_t> FBias;
    std::vector<int32_t> FFreq;
    std::vector<int32_t> FRadPower;
    int32_t FWidth = 0;
    [[maybe_unused]] int32_t FHeight = 0; // kept with the width, though only the width is read
};

} // namespace kv
