// TIcon: the platform's icon picture, kept as the bytes of one icon file (ICONDIR,
// entries, images) and drawn through Qt's icon reader.
#pragma once

#include "platform/Graphics.h"

#include <vector>

namespace kv {

class TIcon : public TGraphic {
public:
    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }
    bool Empty() const override { return FData.empty(); }
    // Draws the first image scaled to Rect, blended over what the canvas holds.
    void Draw(TCanvas& ACanvas, const TRect& Rect) override;
    // Reads one icon file from the stream's position: a 6-byte header (reserved 0,
    // type 1), entries of 16 bytes, images lying within the stream. Raises
    // EInvalidGraphic "Invalid icon" otherwise (the icon is left as it was).
    void LoadFromStream(TStream& Stream) override;
    void SaveToStream(TStream& Stream) override;
    void Assign(TPersistent* Source) override;
    const std::vector<uint8_t>& Data() const { return FData; }
    std::string ClassName() const override { return "TIcon"; }

private:
    std::vector<uint8_t> FData;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
};

} // namespace kv
