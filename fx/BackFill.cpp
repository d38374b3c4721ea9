#include "fx/BackFill.h"

#include "raster/Raster32.h"

#include <cmath>
#include <vector>

namespace kv {

int64_t RoundHalfEven(long double Value)
{
    // nearbyint follows the default rounding mode, which is to nearest, ties to even.
    return int64_t(std::nearbyintl(Value));
}

namespace {

struct TChannels {
    int32_t R, G, B;
};

TChannels Split(TColor C)
{
    uint32_t v = uint32_t(ColorToRGB(C));
    return {int32_t(v & 0xFF), int32_t((v >> 8) & 0xFF), int32_t((v >> 16) & 0xFF)};
}

// One step of the ramp at fraction Num / Den: c1 - Round(t * (c1 - c2)), low 8 bits.
inline uint8_t Ramp(int32_t C1, int32_t C2, long double T) { return uint8_t(C1 - RoundHalfEven(T * (C1 - C2))); }

void FillRow(uint8_t* Row, int32_t Width, uint8_t B, uint8_t G, uint8_t R)
{
    for (int32_t x = 0; x < Width; ++x) {
        Row[3 * x] = B;
        Row[3 * x + 1] = G;
        Row[3 * x + 2] = R;
    }
}

} // namespace

void Gradient(TColor Color1, TColor Color2, TBitmap& Bitmap)
{
    Bitmap.SetPixelFormat(pf24bit);
    const int32_t w = Bitmap.Width(), h = Bitmap.Height();
    if (w <= 0 || h <= 0)
        return;
    const TChannels a = Split(Color1), b = Split(Color2);
    // Every row is the same: work it out once and copy it.
    std::vector<uint8_t> row(size_t(w) * 3);
    for (int32_t x = 0; x < w; ++x) {
        long double t = (long double)x / w;
        row[3 * x] = Ramp(a.B, b.B, t);
        row[3 * x + 1] = Ramp(a.G, b.G, t);
        row[3 * x + 2] = Ramp(a.R, b.R, t);
    }
    for (int32_t y = 0; y < h; ++y)
        std::copy(row.begin(), row.end(), Bitmap.ScanLine(y));
}

void GradientDown(TColor Color1, TColor Color2, TBitmap& Bitmap)
{
    Bitmap.SetPixelFormat(pf24bit);
    const int32_t w = Bitmap.Width(), h = Bitmap.Height();
    if (w <= 0 || h <= 0)
        return;
    const TChannels a = Split(Color1), b = Split(Color2);
    for (int32_t y = 0; y < h; ++y) {
        long double t = (long double)y / h;
        FillRow(Bitmap.ScanLine(y), w, Ramp(a.B, b.B, t), Ramp(a.G, b.G, t), Ramp(a.R, b.R, t));
    }
}

void GradientPicture(TColor Color1, TColor Color2, TGradientStyle Style, int32_t Width, int32_t Height, TBitmap32& Dest)
{
    TBitmap g;
    g.SetPixelFormat(pf24bit);
    g.SetSize(Width, Height);
    if (Style == gsTopBottom)
        GradientDown(Color1, Color2, g);
    else
        Gradient(Color1, Color2, g);
    Dest.Assign(&g);
}

bool TilePattern(const std::string& FileName, TBitmap32& Dest)
{
    if (FileName.empty() || !FileExists(FileName))
        return false;
    TBitmap32 tile;
    tile.LoadFromFile(FileName);
    // A picture that loads with no pixels would make the tile count divide by zero.
    if (tile.IsEmpty())
        return false;
    TilePicture(tile, Dest);
    return true;
}

void TilePicture(TBitmap32& Tile, TBitmap32& Dest)
{
    if (Tile.IsEmpty() || Dest.IsEmpty())
        return;
    const int32_t tw = Tile.Width(), th = Tile.Height();
    {
        TUpdateGuard guard(Dest);
        for (int32_t j = 0; j <= Dest.Height() / th; ++j)
            for (int32_t i = 0; i <= Dest.Width() / tw; ++i)
                Tile.DrawOntoAt(&Dest, i * tw, j * th);
    }
    Dest.Changed();
}

int32_t CountColors(const TBitmap& Bitmap)
{
    const TBitmap* src = &Bitmap;
    TBitmap copy;
    if (Bitmap.PixelFormat() != pf24bit) {
        copy.Assign(const_cast<TBitmap*>(&Bitmap));
        copy.SetPixelFormat(pf24bit);
        src = &copy;
    }
    const int32_t w = src->Width(), h = src->Height();
    if (w <= 0 || h <= 0)
        return 0;
    // One bit per 24-bit colour: 2 MiB on the heap, where the table of lists stood.
    std::vector<uint64_t> seen(size_t(1) << 18, 0);
    int32_t n = 0;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = src->ScanLine(y);
        for (int32_t x = 0; x < w; ++x, p += 3) {
            uint32_t c = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
            uint64_t bit = uint64_t(1) << (c & 63);
            uint64_t& word = seen[c >> 6];
            if (!(word & bit)) {
                word |= bit;
                ++n;
            }
        }
    }
    return n;
}

std::string ColorCountMessage(int32_t Count)
{
    return "The number of unique colors used in this image is " + IntToStr(Count) + ".";
}

int32_t HeightFromWidth(int32_t Index, int32_t Width, int32_t Current)
{
    const long double w = Width;
    switch (Index) {
    case prSquare: return Width;
    case prGolden: return int32_t(RoundHalfEven(w / 1.618L));
    case pr9x12: return int32_t(RoundHalfEven(w * 0.75L));
    case pr10x15: return int32_t(RoundHalfEven(w * 0.67L));
    case pr15x21: return int32_t(RoundHalfEven(w * 0.71L));
    case pr16x9: return int32_t(RoundHalfEven(w * 0.56L));
    default: return Current;
    }
}

int32_t WidthFromHeight(int32_t Index, int32_t Height, int32_t Current)
{
    const long double h = Height;
    switch (Index) {
    case prSquare: return Height;
    case prGolden: return int32_t(RoundHalfEven(h * 1.618L));
    case pr9x12: return int32_t(RoundHalfEven(h / 0.75L));
    case pr10x15: return int32_t(RoundHalfEven(h / 0.67L));
    case pr15x21: return int32_t(RoundHalfEven(h / 0.71L));
    case pr16x9: return int32_t(RoundHalfEven(h / 0.56L));
    default: return Current;
    }
}

} // namespace kv
