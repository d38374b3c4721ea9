// A main window that is never shown, with a small document, for driving the editor
// through its handlers.
#pragma once

#include "editor/MainUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QSlider>

#include <gtest/gtest.h>

#include <memory>

namespace kv::test {

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Form = std::make_unique<TMainForm>();
        Form->ImgView->SetBounds(0, 0, 400, 300);
        Form->NewBackground(100, 80, 0xFF204060);
    }

    TImgView32* View() { return Form->ImgView; }
    TLayerCollection* Layers() { return Form->ImgView->Layers(); }
    TBitmap32* Bg() { return Form->ImgView->Bitmap(); }

    TBitmapLayer* AddPicture(int32_t W, int32_t H, TColor32 Color, const TSingleRect& Placement)
    {
        auto* L = Layers()->Add<TBitmapLayer>();
        L->Bitmap()->SetSize(W, H);
        L->Bitmap()->ClearTo(Color);
        L->Bitmap()->SetDrawMode(dmBlend);
        L->SetPlacement(Placement);
        L->SetScaleWithView(true);
        L->OnMouseDown = [this](TObject* S, TMouseButton B, TShiftState Sh, int32_t X, int32_t Y) {
            Form->LayerMouseDown(S, B, Sh, X, Y);
        };
        return L;
    }

    TPositionedLayer* AddMagnifier()
    {
        TPositionedLayer* L = Form->CreatePositionedLayer();
        L->SetTag(TagMagnifier);
        L->OnPaint = [this](TObject* S, TBitmap32* B) { Form->PaintMagnifierHandler(S, B); };
        return L;
    }

    TPositionedLayer* AddFrame(int32_t Tag)
    {
        Form->FrameAlpha = 255;
        Form->RemoveFrameLayers();
        TPositionedLayer* L = Form->CreatePositionedLayer();
        L->SetTag(Tag);
        L->OnPaint = [this](TObject* S, TBitmap32* B) { Form->PaintFrameHandler(S, B); };
        Form->SetSelection(L);
        return L;
    }

    std::unique_ptr<TMainForm> Form;
};

inline bool SameRect(const TSingleRect& A, const TSingleRect& B)
{
    return A.Left == B.Left && A.Top == B.Top && A.Right == B.Right && A.Bottom == B.Bottom;
}

} // namespace kv::test
