#include "imaging/Quantizer.h"

#include "imaging/NeurQuant.h"
#include "imaging/stdquant.h"

#include <algorithm>

namespace kv {

TQuantSource::TQuantSource(const TBitmap& Bitmap)
{
    if (Bitmap.PixelFormat() != pf24bit || Bitmap.Empty())
        return;
    Width = Bitmap.Width();
    Height = Bitmap.Height();
    Rows.reserve(size_t(Height));
    for (int32_t y = 0; y < Height; ++y)
        Rows.push_back(Bitmap.ScanLine(y));
}

TQuantSource::TQuantSource(TIEBitmap& Bitmap)
{
    if (Bitmap.PixelFormat() != ie24RGB || Bitmap.Width() <= 0 || Bitmap.Height() <= 0)
        return;
    Width = Bitmap.Width();
    Height = Bitmap.Height();
    Rows.reserve(size_t(Height));
    // Every storage keeps all rows addressable at once, so the pointers stay valid.
    for (int32_t y = 0; y < Height; ++y)
        Rows.push_back(Bitmap.ScanLine(y));
}

TIEQuantizer::TIEQuantizer(const TBitmap& Source, std::span<TRGB> ColorMap, int32_t NCol, int32_t Quality)
{
    Build(TQuantSource(Source), ColorMap, NCol, Quality);
}

TIEQuantizer::TIEQuantizer(TIEBitmap& Source, std::span<TRGB> ColorMap, int32_t NCol, int32_t Quality)
{
    Build(TQuantSource(Source), ColorMap, NCol, Quality);
}

TIEQuantizer::~TIEQuantizer() = default;

// NCol is held to the table the caller gave: the net writes NCol entries, and a GIF
// of 16 bits a sample would ask for 65536.
void TIEQuantizer::Build(const TQuantSource& Source, std::span<TRGB> ColorMap, int32_t NCol, int32_t Quality)
{
    if (ColorMap.empty())
        return;
    NCol = std::clamp(NCol, 1, int32_t(std::min<size_t>(ColorMap.size(), 256)));
    Quality = std::clamp(Quality, -1, 100);
    if (NCol >= 128) {
        FMethod = qmNeuralNet;
        FNet = std::make_unique<TNeuQuant>(Source, ColorMap, NCol, Quality);
    } else {
        FMethod = qmBox;
        FBox = std::make_unique<TStdQuant>(Source, ColorMap, NCol);
    }
}

int32_t TIEQuantizer::QuantizerColorIndex(TRGB Color) const
{
    switch (FMethod) {
    case qmNeuralNet: return FNet->ColorIndex(Color);
    case qmBox: return FBox->ColorIndex(Color);
    default: return 0;
    }
}

TIEColorIndexFunc TIEQuantizer::ColorIndexFunc() const
{
    return [this](TRGB Color) { return QuantizerColorIndex(Color); };
}

} // namespace kv
