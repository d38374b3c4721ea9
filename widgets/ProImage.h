// A picture control like the platform's image control that can also repeat its picture
// over its whole area (Tiled).
#pragma once

#include "platform/Controls.h"
#include "platform/Graphics.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kv {

class TProImage : public TCustomControl {
public:
    explicit TProImage(QWidget* AOwner = nullptr);
    ~TProImage() override;
    std::string ClassName() const override { return "TProImage"; }

    TPicture* Picture() const { return FPicture.get(); }
    void SetPicture(TPicture* Value); // copies
    bool Center() const { return FCenter; }
    void SetCenter(bool Value);
    bool Stretch() const { return FStretch; }
    void SetStretch(bool Value);
    bool Tiled() const { return FTiled; }
    void SetTiled(bool Value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);
    bool IncrementalDisplay() const { return FIncrementalDisplay; }
    void SetIncrementalDisplay(bool Value) { FIncrementalDisplay = Value; }
    // AutoSize of the control base: stores and runs PictureChanged.
    void SetAutoSize(bool Value);

    TProgressEvent OnProgress;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    // The graphic's palette, or none.
    HPALETTE GetPalette() const;
    // Whether the control covers everything behind it (an opaque picture filling it).
    bool Opaque() const { return FOpaque; }
    // Where the picture goes when it is not tiled.
    TRect DestRect() const;
    // Draws the control's contents onto Canvas, as Paint does onto the window.
    void PaintOn(TCanvas& Canvas);
    // What the picture's change notification runs.
    void PictureChanged(TObject* Sender);
    // How many palette changes were seen (realising a palette is a no-op on Qt).
    int32_t PaletteChanges() const { return FPaletteChanges; }

protected:
    void paintEvent(QPaintEvent* Event) override;
    void MouseEnter() override;
    void MouseLeave() override;

private:
    bool DidPaletteChange();
    void Progress(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const TRect& R,
                  const std::string& Msg);

    std::unique_ptr<TPicture> FPicture;
    bool FCenter = false;
    bool FStretch = false;
    bool FTiled = false;
    bool FTransparent = false;
    bool FIncrementalDisplay = false;
    bool FDrawing = false;
    bool FOpaque = false;
    HPALETTE FLastPalette = nullptr;
    [[maybe_unused]] TGraphic* FHookedGraphic = nullptr;
    int32_t FPaletteChanges = 0;
};

} // namespace kv
