// The box quantizer: a variance-driven median cut over a 32 x 32 x 32 histogram of
// the picture's colours, answering lookups from a table of every 5-bit colour cell.
#pragma once

#include "imaging/Quantizer.h"
#include "imaging/imgdefs.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kv {

class TStdQuant {
public:
    static constexpr int32_t MaxBoxes = 256;
    static constexpr int32_t CellCount = 32768;

    struct TBox {
        double Error = 0;
        double Mean[3] = {0, 0, 0}; // 5-bit units; axis 0 red, 1 green, 2 blue
        uint32_t Count = 0;
        uint32_t Marginal[3][32] = {};
        uint32_t Lo[3] = {0, 0, 0}; // the box covers levels Lo..Hi-1 on each axis
        uint32_t Hi[3] = {0, 0, 0};
    };

    // Reads the picture once and writes BoxCount() entries of ColorMap (MaxColors of
    // them at most; MaxColors is held to 1..min(256, ColorMap's length)).
    TStdQuant(const TQuantSource& Source, std::span<TRGB> ColorMap, int32_t MaxColors);

    static int32_t CellOf(TRGB C) { return ((C.r >> 3) << 10) | ((C.g >> 3) << 5) | (C.b >> 3); }
    int32_t ColorIndex(TRGB C) const { return FIndexMap[size_t(CellOf(C))]; }
    int32_t BoxCount() const { return FBoxCount; }
    const TBox& Box(int32_t I) const { return FBoxes[size_t(I)]; }

private:
    void BuildHistogram(const TQuantSource& Source);
    void BoxStats(TBox& B) const;
    void SplitLoop();
    bool SplitBox(TBox& B, TBox& NewBox);
    bool SplitAxis(const TBox& B, int32_t Axis, TBox& Lower, TBox& Upper) const;
    void WritePalette(std::span<TRGB> ColorMap) const;
    void BuildIndexMap();

    std::vector<uint32_t> FHistogram;
    std::vector<TBox> FBoxes;
    std::vector<uint8_t> FIndexMap;
    int32_t FPixelCount = 0;
    int32_t FMaxColors = 0;
    int32_t FBoxCount = 0;
    int32_t FWidth = 0; // Int32 rather than 16 bits: the side cap is 65535 anyway
    int32_t FHeight = 0;
};

} // namespace kv
