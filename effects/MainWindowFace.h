// The main window as the tool dialogs see it: its document (view, selected layer, shared
// bitmaps), the calls that keep that document consistent (select a layer, take an undo
// snapshot, render flattened) and its layer tools (frame, text and layer commands). The
// editor implements these; the dialogs hold them and never the window class itself.
#pragma once

#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"

#include <cstdint>

namespace kv {

class IMainForm {
public:
    virtual ~IMainForm() = default;

    // ---- The document ---------------------------------------------------------------
    // The view: its Bitmap is the background, its Layers every layer (index 0 bottom).
    virtual TImgView32* View() = 0;
    // The selected layer, or null: dialogs then act on the background.
    virtual TPositionedLayer* SelectedLayer() = 0;
    // The only way to change the selection.
    virtual void SetSelection(TPositionedLayer* Value) = 0;
    // Installed as OnMouseDown of every picture, magnifier and frame layer.
    virtual void LayerMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) = 0;
    // Frees the selection or crop frame (Tag 3 or 4), if there is one.
    virtual void RemoveFrameLayers() = 0;
    // Deselects, then renders background and layers (frames paint nothing into it) at
    // the background's size. The render stays owned by the window (FlatImage) until the
    // next render or ReleaseFlatImage.
    virtual TBitmap32* RenderFlattened() = 0;
    virtual TBitmap32* FlatImage() = 0;
    virtual void ReleaseFlatImage() = 0;
    // The side panel's "Opacity:" of the selected picture layer (0..255).
    virtual int32_t LayerOpacityPosition() = 0;
    // Moves that gauge; the selected picture layer's master alpha follows it. A window
    // without the side panel ignores it.
    virtual void SetLayerOpacityPosition(int32_t /*Value*/) {}
    // Layer count before the text tool opened.
    virtual int32_t LayerCountBeforeText() = 0;

    // ---- Shared bitmaps -------------------------------------------------------------
    // A layer's alpha kept as grey while an effect runs on 24-bit copies.
    virtual TBitmap32* AlphaScratch() = 0;
    // The target's pixels before a preview; restored on Cancel when not empty.
    virtual TBitmap32* PreviewBackup() = 0;

    // ---- Undo snapshots -------------------------------------------------------------
    // The selected picture layer's bitmap, or the background when nothing is selected.
    virtual void SaveUndoEffect() = 0;
    virtual void SaveUndoSize() = 0;
    virtual void SaveUndoCanvas() = 0;
    // The background, with the crop offset the command is about to apply.
    virtual void SaveUndoCrop() = 0;
    virtual void SetUndoCropOffset(int32_t CropX, int32_t CropY) = 0;
    // The selected picture layer's bitmap and placement; nothing without one.
    virtual void SaveUndoGeometry() = 0;
    // Index 999: the background := a copy of Bitmap; otherwise layer Index's bitmap :=
    // a copy and its placement := R (nothing when that layer is no picture layer).
    virtual void RestoreLayerBitmap(TBitmap32* Bitmap, int32_t Index, const TSingleRect& R) = 0;
};

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

} // namespace kv
