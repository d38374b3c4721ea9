// The platform's image list: images of one size, each with a mask that says which of
// its pixels are see-through.
#pragma once

#include "platform/Graphics.h"

#include <memory>
#include <vector>

namespace kv {

class TCustomImageList : public TObject {
public:
    explicit TCustomImageList(int32_t AWidth = 16, int32_t AHeight = 16);
    ~TCustomImageList() override;

    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    int32_t Count() const { return int32_t(FImages.size()); }
    // Appends the top-left Width x Height of Image; pixels of MaskColor become
    // see-through. Returns the new index.
    int32_t AddMasked(const TBitmap& Image, TColor MaskColor);
    void Delete(int32_t Index);
    void Clear() { FImages.clear(); }
    // The image (24 bits) and its mask (1 bit: white where see-through), as copies.
    void GetBitmap(int32_t Index, TBitmap& Image) const;
    void GetMask(int32_t Index, TBitmap& Mask) const;
    // Draws the image's opaque pixels at (X, Y).
    void Draw(TCanvas& Canvas, int32_t X, int32_t Y, int32_t Index) const;
    std::string ClassName() const override { return "TCustomImageList"; }

private:
    struct TEntry {
        TBitmap Image;
        std::vector<uint8_t> Clear; // 1 where see-through, row by row
    };
    const TEntry& Entry(int32_t Index) const;
    int32_t FWidth;
    int32_t FHeight;
    std::vector<std::unique_ptr<TEntry>> FImages;
};

} // namespace kv
