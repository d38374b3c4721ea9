// Reduction of a 24-bit picture to a palette of at most 256 colours for the paletted
// writers: a median-cut box quantizer below 128 colours, a self-organising net above.
#pragma once

#include "imaging/IEBitmaps.h"
#include "imaging/ImagingProc.h"
#include "imaging/imgdefs.h"
#include "platform/Graphics.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kv {

// The rows of a 24-bit picture (blue, green, red a pixel), row 0 the top. Any other
// pixel format gives an empty source: the engines then see no pixels at all.
struct TQuantSource {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<const uint8_t*> Rows;

    explicit TQuantSource(const TBitmap& Bitmap);
    explicit TQuantSource(TIEBitmap& Bitmap);
    int32_t PixelCount() const { return Width * Height; }
    const uint8_t* Pixel(int32_t X, int32_t Y) const { return Rows[size_t(Y)] + 3 * X; }
};

class TStdQuant;
class TNeuQuant;

constexpr int32_t qmNeuralNet = 0, qmBox = 1, qmNone = -1;

class TIEQuantizer : public TObject {
public:
    // Builds the palette into ColorMap from the picture. NCol is held to
    // 1..min(256, ColorMap's length) and Quality to -1..100 (-1: sampling chosen from
    // the picture's size). An empty ColorMap builds nothing and every lookup gives 0.
    TIEQuantizer(const TBitmap& Source, std::span<TRGB> ColorMap, int32_t NCol, int32_t Quality);
    TIEQuantizer(TIEBitmap& Source, std::span<TRGB> ColorMap, int32_t NCol, int32_t Quality);
    ~TIEQuantizer() override;
    TIEQuantizer(const TIEQuantizer&) = delete;
    TIEQuantizer& operator=(const TIEQuantizer&) = delete;

    static std::unique_ptr<TIEQuantizer> CreateQuantizer(const TBitmap& Source, std::span<TRGB> ColorMap, int32_t NCol,
                                                         int32_t Quality)
    {
        return std::make_unique<TIEQuantizer>(Source, ColorMap, NCol, Quality);
    }
    static std::unique_ptr<TIEQuantizer> CreateQuantizer(TIEBitmap& Source, std::span<TRGB> ColorMap, int32_t NCol,
                                                         int32_t Quality)
    {
        return std::make_unique<TIEQuantizer>(Source, ColorMap, NCol, Quality);
    }

    // The palette index that stands for Colour; 0 when nothing was built.
    int32_t QuantizerColorIndex(TRGB Color) const;
    // The lookup in the form the row converter takes; valid while this object lives.
    TIEColorIndexFunc ColorIndexFunc() const;
    int32_t Method() const { return FMethod; }

private:
    void Build(const TQuantSource& Source, std::span<TRGB> ColorMap, int32_t NCol, int32_t Quality);

    int32_t FMethod = qmNone;
    std::unique_ptr<TStdQuant> FBox;
    std::unique_ptr<TNeuQuant> FNet;
};

} // namespace kv
