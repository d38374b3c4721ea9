// What the tool dialogs hand the main window's layer tools and call back on them: the
// frame a frame dialog chose, the text tool's rendered picture, and the layer commands
// the dialogs reach (delete, transparent colour, rescale, actual size, text layer).
// Header only, like MainFormApi.h: the dialogs live in a library below the editor.
#pragma once

#include "raster/Raster32.h"

#include <cstdint>

namespace kv {

// The choice a frame dialog (Layers > New Frame) closed with.
struct TFrameChoice {
    TBitmap32 Frame; // the frame picture; an empty one adds nothing
    TBitmap32 Mask;  // empty, or stretched over the frame to give its alpha
    // "Frame round the selected layer": enabled and checked (there is a selected layer).
    bool ForLayer = false;
    // The frame's kind; 0 is the rectangular frame, which grows the canvas.
    int32_t FrameKind = 0;
    bool Interpolate = false;
};

// The text tool as the main window sees it when it adds the rendered text as a layer.
class ITextLayerSource {
public:
    virtual ~ITextLayerSource() = default;
    // The dialog's image, into which it renders.
    virtual TBitmap32* Image() = 0;
    // "Transparent background ".
    virtual bool TransparentBackground() = 0;
    virtual TColor BackgroundColor() = 0;
    // Mode 7 renders the text itself; mode 555 the white-on-black mask pass.
    virtual void RenderText(int32_t Mode) = 0;
    // "Interpolation".
    virtual bool Interpolation() = 0;
};

constexpr int32_t TextRenderNormal = 7;
constexpr int32_t TextRenderMask = 555;

class ILayerTools {
public:
    virtual ~ILayerTools() = default;
    // The rendered text as a new selected layer; replaces the previous preview layer.
    virtual void AddTextLayer(ITextLayerSource& Sender) = 0;
    // Current Layer > Delete.
    virtual void mnDeleteClick() = 0;
    // Starts the transparent-colour pick on the selected picture layer.
    virtual void N23Click() = 0;
    // Ends the pick without picking (the tool window closed).
    virtual void EndTransparentPick() = 0;
    virtual bool TransparentPickActive() = 0;
    // The selected picture layer's bitmap resampled to its placement's size.
    virtual void LayerRescaleClick() = 0;
    // The selected picture layer's placement sized to its bitmap.
    virtual void LayerResetScaleClick() = 0;
};

// The one main window's layer tools, set while it exists.
inline ILayerTools* LayerToolsInstance = nullptr;

} // namespace kv
