// A main window that is never shown, with a small document, for driving the editor
// through its handlers.
#pragma once

#include "editor/MainUnit.h"
#include "platform/KvRegistry.h"
#include "platform/KvShell.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QSlider>

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

namespace kv::test {

// A main window made as the program makes it (FormCreate), with its settings, data
// folders, registry and shell opener kept in a temporary folder of the test's own, all
// put back when the test ends.
class IsolatedEditorTest : public ::testing::Test {
protected:
    void MakeForm(const std::string& Prefix, std::initializer_list<const char*> Folders, int32_t ViewWidth,
                  int32_t ViewHeight)
    {
        namespace fs = std::filesystem;
        Root = fs::temp_directory_path() / (Prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Root);
        fs::create_directories(Root / "config");
        for (const char* Folder : Folders)
            fs::create_directories(Root / Folder);
        SetConfigDir((Root / "config").string());
        SetDataHomeDir((Root / "share").string());
        SetDataDir((Root / "data").string());
        ClearRegistry();
        FPrevHook = SetShellOpenHook([](const std::string&) { return true; });
        Form = std::make_unique<TMainForm>();
        Form->RefreshDesktopOnAssociation = false;
        Form->FormCreate();
        Form->ImgView->resize(ViewWidth, ViewHeight);
    }
    void TearDown() override
    {
        Form.reset();
        SetShellOpenHook(FPrevHook);
        SetConfigDir("");
        SetDataHomeDir("");
        SetDataDir("");
        ClearRegistry();
        std::filesystem::remove_all(Root);
    }

    std::filesystem::path Root;
    std::unique_ptr<TMainForm> Form;

private:
    TShellOpenHook FPrevHook;
};

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
