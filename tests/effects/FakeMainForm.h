// A main window for the dialogs' tests: a view whose picture is W x H of one colour, a flat
// render that copies that picture (a test may also set Flat itself), and counts of what the
// dialogs asked of it. The dialogs cannot exist without a main window; this one is enough.
#pragma once

#include "effects/MainWindowFace.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"

namespace kv::test {

class TFakeMainForm : public IMainForm {
public:
    explicit TFakeMainForm(int32_t W = 800, int32_t H = 600, TColor32 Fill = clWhite32)
    {
        FView.setGeometry(0, 0, 800, 600);
        FView.Bitmap()->SetSize(W, H);
        FView.Bitmap()->ClearTo(Fill);
    }
    TImgView32* View() override { return &FView; }
    TPositionedLayer* SelectedLayer() override { return Selected; }
    void SetSelection(TPositionedLayer* Value) override { Selected = Value; }
    void LayerMouseDown(TObject*, TMouseButton, TShiftState, int32_t, int32_t) override { ++LayerClicks; }
    void RemoveFrameLayers() override {}
    TBitmap32* RenderFlattened() override
    {
        Flat.Assign(FView.Bitmap());
        return &Flat;
    }
    TBitmap32* FlatImage() override { return &Flat; }
    void ReleaseFlatImage() override { Flat.SetSize(0, 0); }
    int32_t LayerOpacityPosition() override { return 255; }
    int32_t LayerCountBeforeText() override { return 0; }
    TBitmap32* AlphaScratch() override { return &FScratch; }
    TBitmap32* PreviewBackup() override { return &FBackup; }
    void SaveUndoEffect() override {}
    void SaveUndoSize() override {}
    void SaveUndoCanvas() override { ++UndoCanvas; }
    void SaveUndoCrop() override {}
    void SetUndoCropOffset(int32_t, int32_t) override {}
    void SaveUndoGeometry() override { ++UndoGeometry; }
    void RestoreLayerBitmap(TBitmap32*, int32_t, const TSingleRect&) override {}

    TPositionedLayer* Selected = nullptr;
    TBitmap32 Flat;
    int UndoCanvas = 0;
    int UndoGeometry = 0;
    int LayerClicks = 0;

private:
    TImgView32 FView;
    TBitmap32 FScratch, FBackup;
};

} // namespace kv::test
