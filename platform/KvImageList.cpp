#include "platform/KvImageList.h"

#include "platform/SysUtils.h"

namespace kv {

TCustomImageList::TCustomImageList(int32_t AWidth, int32_t AHeight) : FWidth(AWidth), FHeight(AHeight)
{
    CheckPixelBufferSize(AWidth, AHeight, "Image list");
}

TCustomImageList::~TCustomImageList() = default;

const TCustomImageList::TEntry& TCustomImageList::Entry(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    return *FImages[size_t(Index)];
}

int32_t TCustomImageList::AddMasked(const TBitmap& Image, TColor MaskColor)
{
    auto e = std::make_unique<TEntry>();
    e->Image.SetPixelFormat(pf24bit);
    e->Image.SetSize(FWidth, FHeight);
    e->Clear.assign(size_t(FWidth) * size_t(FHeight), 1);
    const TColor mask = ColorToRGB(MaskColor) & 0xFFFFFF;
    for (int32_t y = 0; y < FHeight && y < Image.Height(); ++y)
        for (int32_t x = 0; x < FWidth && x < Image.Width(); ++x) {
            const TColor c = Image.PixelColor(x, y);
            e->Image.SetPixelColor(x, y, c);
            e->Clear[size_t(y) * FWidth + x] = c == mask;
        }
    FImages.push_back(std::move(e));
    return Count() - 1;
}

void TCustomImageList::Delete(int32_t Index)
{
    Entry(Index);
    FImages.erase(FImages.begin() + Index);
}

void TCustomImageList::GetBitmap(int32_t Index, TBitmap& Image) const
{
    Image.Assign(const_cast<TBitmap*>(&Entry(Index).Image));
}

void TCustomImageList::GetMask(int32_t Index, TBitmap& Mask) const
{
    const TEntry& e = Entry(Index);
    Mask.SetPixelFormat(pf1bit);
    Mask.SetSize(FWidth, FHeight);
    for (int32_t y = 0; y < FHeight; ++y)
        for (int32_t x = 0; x < FWidth; ++x)
            Mask.SetPixelColor(x, y, e.Clear[size_t(y) * FWidth + x] ? clWhite : clBlack);
}

void TCustomImageList::Draw(TCanvas& Canvas, int32_t X, int32_t Y, int32_t Index) const
{
    const TEntry& e = Entry(Index);
    // The see-through pixels are blackened in a copy and ANDed away from the target
    // first, so that ORing the copy in leaves them untouched.
    TBitmap andMask, colour;
    andMask.SetPixelFormat(pf24bit);
    colour.SetPixelFormat(pf24bit);
    andMask.SetSize(FWidth, FHeight);
    colour.SetSize(FWidth, FHeight);
    for (int32_t y = 0; y < FHeight; ++y)
        for (int32_t x = 0; x < FWidth; ++x) {
            const bool clear = e.Clear[size_t(y) * FWidth + x];
            andMask.SetPixelColor(x, y, clear ? clWhite : clBlack);
            colour.SetPixelColor(x, y, clear ? clBlack : e.Image.PixelColor(x, y));
        }
    BitBlt(Canvas.Handle(), X, Y, FWidth, FHeight, andMask.Canvas()->Handle(), 0, 0, SRCAND);
    BitBlt(Canvas.Handle(), X, Y, FWidth, FHeight, colour.Canvas()->Handle(), 0, 0, SRCPAINT);
}

} // namespace kv
