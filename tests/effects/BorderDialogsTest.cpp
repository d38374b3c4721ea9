// The frame, border and four-corner dialogs on their own: the decoration folders the
// build draws, missing files, and the four-corner view's picking and refusals.
#include "effects/BorderDialogs.h"
#include "FakeMainForm.h"
#include "effects/ProGeomoUnit.h"
#include "platform/Classes.h"
#include "platform/Dialogs.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"
#include "tools/assetgen/AssetGen.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

using namespace kv;
namespace fs = std::filesystem;

namespace {

// The decoration folders, drawn once per process and removed at its end.
class TDataFolder {
public:
    TDataFolder()
    {
        FDir = fs::temp_directory_path() / ("kv_border_data" + std::to_string(getpid()));
        fs::remove_all(FDir);
        assetgen::GenerateAssets(FDir.string());
    }
    ~TDataFolder() { fs::remove_all(FDir); }
    std::string Dir() const { return FDir.string(); }

private:
    fs::path FDir;
};

const TDataFolder& Data()
{
    static TDataFolder data;
    return data;
}

struct TDataDirScope {
    explicit TDataDirScope(const std::string& Dir) { SetDataDir(Dir); }
    ~TDataDirScope() { SetDataDir(""); }
};

} // namespace

TEST(BorderDialogs, AddFrameStepsThroughTheEightFrames)
{
    TDataDirScope scope(Data().Dir());
    test::TFakeMainForm main(680, 340, 0xFF204060u);
    TBorder b(nullptr, main);
    TScriptedAnswers script;
    script.Then(mrOk);
    TFrameChoice choice;
    ASSERT_TRUE(b.Execute(choice));
    EXPECT_FALSE(choice.Frame.IsEmpty());
    EXPECT_FALSE(choice.Mask.IsEmpty());
    EXPECT_FALSE(choice.ForLayer); // no layer selected: the box is disabled
    for (int i = 0; i < 7; ++i)
        b.UpClick();
    EXPECT_EQ(b.FrameNumber(), 8);
    EXPECT_FALSE(b.Up->isEnabled());
    EXPECT_TRUE(b.Down->isEnabled());
    EXPECT_FALSE(b.Image1->Bitmap()->IsEmpty());

    // The fit button resamples the frame to the picture's size, not to a blank one.
    b.SpeedButton1Click();
    ASSERT_EQ(b.Image1->Bitmap()->Width(), 680);
    ASSERT_EQ(b.Image1->Bitmap()->Height(), 340);
    int opaque = 0;
    for (int32_t x = 0; x < 680; ++x)
        opaque += (b.Image1->Bitmap()->GetPixelFast(x, 0) >> 24) != 0;
    EXPECT_GT(opaque, 0);
}

TEST(BorderDialogs, MissingDecorationFilesLeaveEmptyPictures)
{
    const fs::path empty = fs::temp_directory_path() / ("kv_border_empty" + std::to_string(getpid()));
    fs::create_directories(empty);
    TDataDirScope scope(empty.string());
    test::TFakeMainForm main(100, 50, 0xFF204060u);
    TSbor sbor(nullptr, main); // 38 icons from a folder without them: start-up goes on
    EXPECT_EQ(sbor.ListView1->count(), 38);
    TBorder b(nullptr, main);
    TScriptedAnswers script;
    script.Then(mrOk);
    TFrameChoice choice;
    ASSERT_TRUE(b.Execute(choice));
    EXPECT_TRUE(choice.Frame.IsEmpty());
    EXPECT_TRUE(choice.Mask.IsEmpty());

    // "Use patterns" with the pattern missing: the border stays transparent black.
    sbor.CheckBox1->setChecked(true);
    script.Then(mrOk);
    EXPECT_EQ(sbor.ShowModal(), mrOk);
    EXPECT_EQ(main.View()->Bitmap()->Width(), 140);
    EXPECT_EQ(main.View()->Bitmap()->GetPixelFast(0, 0), 0u);
    EXPECT_EQ(main.View()->Bitmap()->GetPixelFast(20, 20), 0xFF204060u);
    fs::remove_all(empty);
}

TEST(FourCornerView, CheckerboardPickingAndRefusals)
{
    test::TFakeMainForm main(1000, 1000, 0xFF204060u);
    TProGeomo g(nullptr, main);
    TScriptedAnswers script;
    script.Then(mrCancel);
    g.ShowModal();
    EXPECT_FALSE(g.DashTimer().Enabled()); // the dashes stop once closed
    // The redraw without the reduced copy's picture: the checkerboard alone.
    g.Src->Bitmap()->SetSize(0, 0);
    g.Redraw();
    TBitmap32* d = g.Dst->Bitmap();
    EXPECT_EQ(d->GetPixelFast(0, 0), 0xFF7F7F7Fu);
    EXPECT_EQ(d->GetPixelFast(16, 16), 0xFF7F7F7Fu);
    EXPECT_EQ(d->GetPixelFast(16, 0), 0xFFFFFFFFu);
    EXPECT_EQ(d->GetPixelFast(15, 16), 0xFFFFFFFFu);

    // Two corners within reach: the lower index wins; a press 3 pixels off drags all.
    g.Src->Bitmap()->SetSize(4, 4);
    g.Button4Click(); // corners (0, 0), (3, 0), (3, 3), (0, 3)
    g.RubberLayerMouseDown(1, 1);
    EXPECT_EQ(g.Dragged(), 0);
    g.RubberLayerMouseUp();
    g.RubberLayerMouseDown(4, 1);
    EXPECT_EQ(g.Dragged(), 1);
    g.RubberLayerMouseUp();
    g.Button4Click();
    g.Src->Bitmap()->SetSize(100, 100);
    g.Button4Click();
    g.RubberLayerMouseDown(0, 3);
    EXPECT_EQ(g.Dragged(), 4);
    // Corners stay within the control and one control size around it.
    g.RubberLayerMouseMove(100000, 100000);
    EXPECT_EQ(g.Corners().P[2].X, 2 * g.Dst->width());
    g.RubberLayerMouseUp();
    const float phase = g.Phase();
    g.DashTick();
    EXPECT_FLOAT_EQ(g.Phase(), phase - 0.05f);

    // An empty source: OK is off and does nothing.
    test::TFakeMainForm none(0, 0);
    TProGeomo empty(nullptr, none);
    script.Then(mrCancel);
    empty.ShowModal();
    EXPECT_FALSE(empty.Button2->isEnabled());
    EXPECT_FALSE(empty.Button2Click());
    EXPECT_EQ(none.UndoCanvas + none.UndoGeometry, 0);
}
