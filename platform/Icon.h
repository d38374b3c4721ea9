// The platform's icon picture class: reads .ico files (BMP entries with their AND
// masks, PNG entries through Qt), keeps the largest, deepest image. Registered for "ico".
#pragma once

#include "platform/Graphics.h"

namespace kv {

class TIcon : public TGraphic {
public:
    TIcon();
    ~TIcon() override;

    int32_t Width() const override { return FImage.Width(); }
    int32_t Height() const override { return FImage.Height(); }
    bool Empty() const override { return FImage.Empty(); }
    bool Transparent() const override { return true; }
    // Blends the icon's alpha over the canvas (stretched to Rect).
    void Draw(TCanvas& ACanvas, const TRect& Rect) override;
    // Raises EInvalidGraphic "Icon image is not valid: ..." on malformed data.
    void LoadFromStream(TStream& Stream) override;
    // Writes the bytes it was loaded from, or a one-image 32-bit icon of the picture.
    void SaveToStream(TStream& Stream) override;
    // A block of an icon clipboard format holds an icon file image; read like a file.
    void LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE APalette) override;
    void Assign(TPersistent* Source) override;

    // The chosen image as pf32bit with straight alpha.
    const TBitmap& Image() const { return FImage; }
    // The icon file's bytes as loaded (empty for an icon made from a picture).
    const std::vector<uint8_t>& Data() const { return FData; }
    std::string ClassName() const override { return "TIcon"; }

protected:
    void AssignTo(TPersistent* Dest) override;

private:
    TBitmap FImage;
    std::vector<uint8_t> FData;
};

} // namespace kv
