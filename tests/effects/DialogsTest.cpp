// The new-picture and save dialogs and the small windows, driven through their handlers
// with scripted answers.
#include "FakeMainForm.h"
#include "effects/BackLaUnit.h"
#include "effects/BackgroundCommands.h"
#include "effects/CompressUnit.h"
#include "effects/EffectFrame.h"
#include "effects/GifTypeUnit.h"
#include "effects/NewImageUnit.h"
#include "effects/SmallWindows.h"
#include "effects/TexturUnit.h"
#include "formats/GIFImage.h"
#include "formats/KvGIF.h"
#include "fx/BackFill.h"
#include "platform/Controls.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"
#include "raster/Raster32_RangeBars.h"
#include "tools/assetgen/AssetGen.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

using namespace kv;
namespace fs = std::filesystem;

namespace {

fs::path Scratch()
{
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("kv_dialogs" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

std::vector<uint8_t> ReadAll(const fs::path& P)
{
    std::ifstream in(P, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TDialogAnswer ColorAnswer(TColor C)
{
    TDialogAnswer a;
    a.Result = mrOk;
    a.Color = C;
    return a;
}

TDialogAnswer FileAnswer(const std::string& Name)
{
    TDialogAnswer a;
    a.Result = mrOk;
    a.FileName = Name;
    return a;
}

std::string WriteTile(const std::string& Name, int W, int H, TColor32 C)
{
    TBitmap32 t;
    t.SetSize(W, H);
    t.ClearTo(C);
    std::string p = (Scratch() / Name).string();
    t.SaveToFile(p);
    return p;
}

} // namespace

// ---- New Project -------------------------------------------------------------------------

TEST(NewImageForm, SizesFollowTheProportionAndStopAtTheLimits)
{
    TNewImageForm f;
    EXPECT_EQ(f.ImageWidthValue(), 640);
    EXPECT_EQ(f.ImageHeightValue(), 480);
    f.ComboBox1->setCurrentIndex(6); // 16:9: the height follows the width at once
    EXPECT_EQ(f.ImageHeightValue(), 358);
    f.UpDown1->setValue(2000);
    EXPECT_EQ(f.ImageHeightValue(), 1120);
    f.UpDown2->setValue(1200); // width 2143 stops at 2000
    EXPECT_EQ(f.ImageWidthValue(), 2000);
    f.ComboBox1->setCurrentIndex(2); // golden ratio
    f.UpDown1->setValue(640);
    EXPECT_EQ(f.ImageHeightValue(), 396);
    f.UpDown2->setValue(480);
    EXPECT_EQ(f.ImageWidthValue(), 777);
    f.ComboBox1->setCurrentIndex(3);
    f.UpDown1->setValue(6);
    EXPECT_EQ(f.ImageHeightValue(), 4);
    f.UpDown1->setValue(5000);
    EXPECT_EQ(f.ImageWidthValue(), 2000);
    f.UpDown1->setValue(0);
    EXPECT_EQ(f.ImageWidthValue(), 1);
    // Free: the other side stays.
    f.ComboBox1->setCurrentIndex(0);
    f.UpDown1->setValue(100);
    EXPECT_EQ(f.ImageHeightValue(), 1);
}

TEST(NewImageForm, ActivationResetsTheListsAndColourButtonsStartFromTheSolidColour)
{
    TNewImageForm f;
    f.ComboBox1->setCurrentIndex(4);
    f.ComboBox2->setCurrentIndex(1);
    f.Panel1->SetColor(TColor(0x123456));
    TScriptedAnswers script;
    script.Then(mrOk);
    EXPECT_EQ(f.ShowModal(), mrOk);
    EXPECT_EQ(f.ComboBox1->currentIndex(), 0);
    EXPECT_EQ(f.ComboBox2->currentIndex(), 0);
    EXPECT_EQ(f.OpenPictureDialog.InitialDir, DataDir());
    EXPECT_EQ(script.Requests[0].Kind, dkModalForm);
    EXPECT_EQ(script.Requests[0].FormName, "TNewImageForm");

    script.Then(ColorAnswer(TColor(0x00FF00)));
    f.SpeedButton4Click();
    EXPECT_EQ(script.Requests[1].Color, TColor(0x123456));
    EXPECT_EQ(f.Panel3->Color(), TColor(0x00FF00));
    script.Then(mrCancel);
    f.SpeedButton2Click();
    EXPECT_EQ(script.Requests[2].Color, TColor(0x123456));
    EXPECT_EQ(f.Panel2->Color(), clWhite);

    script.Then(FileAnswer("/some/where/tile.bmp"));
    f.SpeedButton3Click();
    EXPECT_EQ(f.Edit1->text().toStdString(), "tile.bmp");
    EXPECT_EQ(f.OpenPictureDialog.FileName, "/some/where/tile.bmp");
}

TEST(NewImageForm, EnablingFollowsTheKind)
{
    TNewImageForm f;
    f.Grad->setChecked(true);
    f.KindClick();
    EXPECT_FALSE(f.SpeedButton1->isEnabled());
    EXPECT_TRUE(f.SpeedButton2->isEnabled());
    EXPECT_TRUE(f.ComboBox2->isEnabled());
    EXPECT_FALSE(f.SpeedButton3->isEnabled());
    f.Tile->setChecked(true);
    f.KindClick();
    EXPECT_TRUE(f.SpeedButton3->isEnabled());
    EXPECT_TRUE(f.Edit1->isEnabled());
    EXPECT_FALSE(f.SpeedButton4->isEnabled());
}

TEST(NewImageForm, MakeBackgroundFromEachKind)
{
    TNewImageForm f;
    f.SetImageSize(256, 4);
    f.Panel1->SetColor(TColor(0x0000FF));
    TBitmap32 bg;
    f.MakeBackground(bg);
    EXPECT_EQ(bg.Width(), 256);
    EXPECT_EQ(bg.GetPixelFast(255, 3), 0xFFFF0000u);

    f.Grad->setChecked(true);
    f.Panel2->SetColor(clBlack);
    f.Panel3->SetColor(clWhite);
    f.MakeBackground(bg);
    EXPECT_EQ(bg.GetPixelFast(128, 0), 0xFF808080u);
    EXPECT_EQ(bg.GetPixelFast(255, 2), 0xFFFEFEFEu);

    f.Tile->setChecked(true);
    f.OpenPictureDialog.FileName = WriteTile("green.bmp", 100, 100, 0xFF00FF00);
    f.SetImageSize(250, 120);
    f.MakeBackground(bg);
    EXPECT_EQ(bg.Width(), 250);
    EXPECT_EQ(bg.GetPixelFast(249, 119), 0xFF00FF00u);
    // A missing texture leaves the solid colour.
    f.OpenPictureDialog.FileName = (Scratch() / "missing.bmp").string();
    f.MakeBackground(bg);
    EXPECT_EQ(bg.GetPixelFast(10, 10), 0xFFFF0000u);
}

// ---- Simple Layer ------------------------------------------------------------------------

TEST(BackLa, PlacementAndLayerBuiltOnOk)
{
    TSingleRect r = TBackLa::CenteredPlacement(400, 300, 300, 200);
    EXPECT_EQ(r, (TSingleRect{250, 200, 550, 400}));
    r = TBackLa::CenteredPlacement(400, 300, 301, 201);
    EXPECT_EQ(r, (TSingleRect{249.5f, 199.5f, 550.5f, 400.5f}));

    test::TFakeMainForm main;
    TBackLa d(nullptr, main);
    d.Panel5->SetColor(TColor(0x00FF00));
    TScriptedAnswers script;
    script.Then(mrOk);
    EXPECT_EQ(d.ShowModal(), mrOk);
    ASSERT_EQ(main.View()->Layers()->Count(), 1);
    auto* layer = dynamic_cast<TBitmapLayer*>(main.View()->Layers()->Items(0));
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(main.Selected, layer);
    EXPECT_EQ(layer->Bitmap()->Width(), 300);
    EXPECT_EQ(layer->Bitmap()->Height(), 200);
    EXPECT_EQ(layer->Bitmap()->DrawMode(), dmBlend);
    EXPECT_EQ(layer->Bitmap()->GetPixelFast(5, 5), 0xFF00FF00u);
    EXPECT_TRUE(layer->ScaleWithView());
    EXPECT_FLOAT_EQ(layer->Placement().Right - layer->Placement().Left, 300.0f);
    layer->OnMouseDown(layer, mbLeft, 0, 1, 1);
    EXPECT_EQ(main.LayerClicks, 1);

    script.Then(mrCancel);
    EXPECT_EQ(d.ShowModal(), mrCancel);
    EXPECT_EQ(main.View()->Layers()->Count(), 1);
}

TEST(BackLa, MissingTextureGivesATransparentPictureAndPreviewWaitsForAFile)
{
    test::TFakeMainForm main;
    TBackLa d(nullptr, main);
    d.RadioButton2->setChecked(true);
    d.Edit3->setText(QString::fromStdString((Scratch() / "none.bmp").string()));
    TBitmap32 p;
    p.SetSize(3, 3);
    p.ClearTo(clWhite32);
    d.MakePicture(30, 20, p);
    EXPECT_EQ(p.Width(), 30);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            ASSERT_EQ(p.GetPixelFast(x, y), 0u);
    d.Edit3->clear();
    d.Button3Click();
    EXPECT_TRUE(d.ProImage1->Picture()->Graphic() == nullptr || d.ProImage1->Picture()->Graphic()->Empty());
    d.Edit3->setText(QString::fromStdString(WriteTile("red.bmp", 4, 4, 0xFFFF0000)));
    d.Button3Click();
    EXPECT_TRUE(d.ProImage1->Tiled());
    EXPECT_EQ(d.ProImage1->Picture()->Width(), 4);
}

TEST(BackLa, GradientDownStyleAndColourDialogKeepsItsColour)
{
    test::TFakeMainForm main;
    TBackLa d(nullptr, main);
    d.RadioButton1->setChecked(true);
    d.ComboBox2->setCurrentIndex(1);
    d.Panel6->SetColor(clBlack);
    d.Panel7->SetColor(clWhite);
    TBitmap32 p;
    d.MakePicture(2, 256, p);
    EXPECT_EQ(p.GetPixelFast(1, 128), 0xFF808080u);
    EXPECT_EQ(p.GetPixelFast(0, 255), 0xFFFEFEFEu);
    TScriptedAnswers script;
    script.Then(ColorAnswer(TColor(0x010203))).Then(mrCancel);
    d.SpeedButton1Click();
    d.SpeedButton2Click();
    EXPECT_EQ(script.Requests[1].Color, TColor(0x010203));
    EXPECT_EQ(d.Panel5->Color(), TColor(0x010203));
}

// ---- Background commands -----------------------------------------------------------------

TEST(BackgroundCommands, UndoIsTakenOnlyWhenTheBackgroundChanges)
{
    test::TFakeMainForm main;
    TColorDialog colours;
    TOpenDialog files;
    TScriptedAnswers script;
    script.Then(mrCancel);
    EXPECT_FALSE(FillBackgroundWithColor(main, colours));
    EXPECT_EQ(main.UndoCanvas, 0);
    script.Then(ColorAnswer(TColor(0x563412)));
    EXPECT_TRUE(FillBackgroundWithColor(main, colours));
    EXPECT_EQ(main.UndoCanvas, 1);
    EXPECT_EQ(main.View()->Bitmap()->GetPixelFast(799, 599), 0xFF123456u);

    script.Then(FileAnswer((Scratch() / "nothing_here.bmp").string()));
    EXPECT_FALSE(LoadBackgroundTexture(main, files));
    EXPECT_EQ(main.UndoCanvas, 1);
    script.Then(FileAnswer(WriteTile("blue.bmp", 16, 16, 0xFF0000FF)));
    EXPECT_TRUE(LoadBackgroundTexture(main, files));
    EXPECT_EQ(main.UndoCanvas, 2);
    EXPECT_EQ(main.View()->Bitmap()->Width(), 800);
    EXPECT_EQ(main.View()->Bitmap()->GetPixelFast(799, 599), 0xFF0000FFu);

    std::string status;
    script.Then(FileAnswer(WriteTile("big.bmp", 640, 480, 0xFF00FF00)));
    EXPECT_TRUE(LoadBackgroundFromFile(main, files, status));
    EXPECT_EQ(status, "640x480");
    EXPECT_EQ(main.View()->Bitmap()->Width(), 640);
    EXPECT_EQ(main.UndoCanvas, 3);
}

TEST(BackgroundCommands, CountImageColorsShowsTheCount)
{
    test::TFakeMainForm main;
    main.View()->Bitmap()->SetSize(256, 1);
    for (int x = 0; x < 256; ++x)
        main.View()->Bitmap()->SetPixelFast(x, 0, MakeColor32(10, 20, x));
    TScriptedAnswers script;
    script.Then(mrOk);
    EXPECT_EQ(CountImageColors(main), 256);
    ASSERT_EQ(script.Requests.size(), 1u);
    EXPECT_EQ(script.Requests[0].Text, "The number of unique colors used in this image is 256.");
    EXPECT_EQ(script.Requests[0].DlgType, mtInformation);
}

// ---- Save as GIF -------------------------------------------------------------------------

namespace {

void BlackAndWhite(TBitmap32& b)
{
    b.SetSize(9, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
            b.SetPixelFast(x, y, (x + y) % 3 == 0 ? clBlack32 : clWhite32);
}

struct TGifLayout {
    uint8_t ScreenPacked, ImagePacked, CodeSize;
    size_t TableEntries;
};

TGifLayout Layout(const std::vector<uint8_t>& G)
{
    TGifLayout l{};
    l.ScreenPacked = G.at(10);
    l.TableEntries = (G[10] & 0x80) ? size_t(2) << (G[10] & 7) : 0;
    const size_t desc = 13 + 3 * l.TableEntries;
    EXPECT_EQ(G.at(desc), 0x2C);
    l.ImagePacked = G.at(desc + 9);
    l.CodeSize = G.at(desc + 10);
    return l;
}

} // namespace

TEST(GifType, EachDepthWritesItsTable)
{
    TBitmap32 flat;
    BlackAndWhite(flat);
    TGifType d;
    struct {
        QRadioButton* Button;
        uint8_t Packed;
        size_t Entries;
        uint8_t CodeSize;
    } cases[] = {{d.RadioButton1, 0x80, 2, 2},
                 {d.RadioButton3, 0xB3, 16, 4},
                 {d.RadioButton2, 0xF7, 256, 8},
                 {d.RadioButton4, 0xF7, 256, 8}};
    int n = 0;
    for (auto& c : cases) {
        c.Button->setChecked(true);
        const fs::path file = Scratch() / ("depth" + std::to_string(n++) + ".gif");
        TScriptedAnswers script;
        script.Then(mrOk);
        ASSERT_TRUE(d.Execute(flat, file.string()));
        EXPECT_EQ(d.WrittenName(), file.string());
        EXPECT_EQ(d.GifBmp(), nullptr);
        auto g = ReadAll(file);
        ASSERT_GT(g.size(), 20u);
        EXPECT_EQ(std::string(g.begin(), g.begin() + 6), "GIF87a");
        EXPECT_EQ(g.back(), 0x3B);
        TGifLayout l = Layout(g);
        EXPECT_EQ(l.ScreenPacked, c.Packed);
        EXPECT_EQ(l.TableEntries, c.Entries);
        EXPECT_EQ(l.ImagePacked, 0x00);
        EXPECT_EQ(l.CodeSize, c.CodeSize);
        // Black and white survive every depth, through both GIF readers.
        kv::TGIFImage doc;
        doc.LoadFromFile(file.string());
        TBitmap back;
        back.Assign(&doc);
        back.SetPixelFormat(pf24bit);
        TBitmap32 model;
        model.LoadFromFile(file.string());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x) {
                const uint8_t want = (x + y) % 3 == 0 ? 0 : 255;
                ASSERT_EQ(back.ScanLine(y)[3 * x], want);
                ASSERT_EQ(model.GetPixelFast(x, y) & 0xFFFFFF, want ? 0xFFFFFFu : 0u);
            }
    }
}

TEST(GifType, NotWrittenUnlessSavedAndNamesAreNotDoubled)
{
    TBitmap32 flat;
    BlackAndWhite(flat);
    TGifType d;
    TScriptedAnswers script;
    script.Then(mrCancel);
    const fs::path never = Scratch() / "never.gif";
    EXPECT_FALSE(d.Execute(flat, never.string()));
    EXPECT_FALSE(fs::exists(never));
    EXPECT_EQ(d.GifBmp(), nullptr);

    script.Then(mrOk);
    const fs::path bare = Scratch() / "bare";
    EXPECT_TRUE(d.Execute(flat, bare.string()));
    EXPECT_TRUE(fs::exists(bare.string() + ".gif"));
    script.Then(mrOk);
    const fs::path upper = Scratch() / "UPPER.GIF";
    EXPECT_TRUE(d.Execute(flat, upper.string()));
    EXPECT_EQ(d.WrittenName(), upper.string());
    EXPECT_FALSE(fs::exists(upper.string() + ".gif"));

    // A writer error is shown and reported as not written.
    script.Then(mrOk).Then(mrOk);
    EXPECT_FALSE(d.Execute(flat, (Scratch() / "no_dir" / "x.gif").string()));
    ASSERT_EQ(script.Requests.size(), 5u);
    EXPECT_EQ(script.Requests[4].Kind, dkMessage);
    // The information line counts the picture's colours.
    EXPECT_EQ(d.Panel1->text().toStdString(), "The number of unique colors used in this image is 2.");
}

TEST(GifType, ExtensionRule)
{
    EXPECT_EQ(WithExtension("x", ".gif"), "x.gif");
    EXPECT_EQ(WithExtension("x.gif", ".gif"), "x.gif");
    EXPECT_EQ(WithExtension("x.Gif", ".gif"), "x.Gif");
    EXPECT_EQ(WithExtension("x.jpg", ".gif"), "x.jpg.gif");
    EXPECT_EQ(WithExtension("x.jpg", ".jpg"), "x.jpg");
}

// ---- JPEG Options ------------------------------------------------------------------------

namespace {

// The 64 values of quantisation table 0 in the file's (zigzag) order.
std::vector<int> QuantTable0(const std::vector<uint8_t>& J)
{
    for (size_t i = 2; i + 4 < J.size(); ++i)
        if (J[i] == 0xFF && J[i + 1] == 0xDB && (J[i + 4] & 0x0F) == 0)
            return std::vector<int>(J.begin() + ptrdiff_t(i + 5), J.begin() + ptrdiff_t(i + 5 + 64));
    return {};
}

} // namespace

TEST(Compress, QualityReachesTheFile)
{
    TBitmap32 flat;
    flat.SetSize(16, 16);
    flat.ClearTo(0xFF336699);
    TCompress d;
    EXPECT_EQ(d.Quality(), 70);
    d.TrackBar1->SetPosition(33);
    EXPECT_EQ(d.UpDown1->value(), 33);
    d.UpDown1->setValue(70);
    EXPECT_EQ(d.TrackBar1->Position(), 70);

    TScriptedAnswers script;
    script.Then(mrOk);
    const fs::path x = Scratch() / "x";
    ASSERT_TRUE(d.Execute(flat, x.string()));
    EXPECT_EQ(d.WrittenName(), x.string() + ".jpg");
    auto q = QuantTable0(ReadAll(x.string() + ".jpg"));
    ASSERT_EQ(q.size(), 64u);
    EXPECT_EQ(q[0], 10); // (16 * 60 + 50) / 100

    d.SetQuality(100);
    script.Then(mrOk);
    const fs::path y = Scratch() / "y.jpg";
    ASSERT_TRUE(d.Execute(flat, y.string()));
    EXPECT_EQ(d.WrittenName(), y.string());
    q = QuantTable0(ReadAll(y));
    EXPECT_TRUE(std::all_of(q.begin(), q.end(), [](int v) { return v == 1; }));

    // Writing over y asks first: No writes nothing, Yes replaces the file.
    d.SetQuality(1);
    script.Then(mrOk).Then(mrNo);
    EXPECT_FALSE(d.Execute(flat, y.string()));
    q = QuantTable0(ReadAll(y));
    EXPECT_TRUE(std::all_of(q.begin(), q.end(), [](int v) { return v == 1; }));
    script.Then(mrOk).Then(mrYes);
    ASSERT_TRUE(d.Execute(flat, y.string()));
    EXPECT_EQ(script.Requests.back().Text, "y.jpg already exists. Do you want to replace it?");
    q = QuantTable0(ReadAll(y));
    EXPECT_TRUE(std::all_of(q.begin(), q.end(), [](int v) { return v == 255; }));

    script.Then(mrCancel);
    const fs::path z = Scratch() / "z.jpg";
    EXPECT_FALSE(d.Execute(flat, z.string()));
    EXPECT_FALSE(fs::exists(z));
}

// ---- Small windows -----------------------------------------------------------------------

TEST(SmallWindows, TransparentColourWindowEndsThePickHoweverItCloses)
{
    TCustomControl view;
    TSTC stc;
    stc.View = &view;
    int closes = 0;
    stc.OnClose = [&](TObject*) { ++closes; };
    view.SetCursor(crCross);
    stc.Show();
    stc.close(); // the title bar's button
    EXPECT_EQ(view.Cursor(), crDefault);
    EXPECT_EQ(closes, 1);
    view.SetCursor(crCross);
    stc.Show();
    stc.Button2Click();
    EXPECT_EQ(view.Cursor(), crDefault);
    EXPECT_EQ(closes, 2);
}

TEST(SmallWindows, AboutBoxWithAndWithoutTheIcon)
{
    const fs::path empty = Scratch() / "empty_data";
    fs::create_directories(empty);
    SetDataDir(empty.string());
    {
        TAboutKVN about;
        EXPECT_FALSE(about.HasIcon());
        TScriptedAnswers script;
        script.Then(mrOk);
        EXPECT_EQ(about.ShowModal(), mrOk);
    }
    const fs::path data = Scratch() / "data";
    assetgen::GenerateAssets(data.string());
    SetDataDir(data.string());
    TAboutKVN about;
    EXPECT_TRUE(about.HasIcon());
    EXPECT_EQ(TTextur::TexturesFolder(), data.string() + "/Textures");
    SetDataDir("");
}

TEST(SmallWindows, FullScreenPreviewTakesACopy)
{
    TBitmap32 pic;
    pic.SetSize(20, 10);
    pic.ClearTo(0xFF102030);
    TFull full;
    TScriptedAnswers script;
    script.Then(mrCancel);
    full.ShowPicture(pic);
    EXPECT_EQ(full.Image321->Bitmap()->Width(), 20);
    EXPECT_EQ(full.Image321->Bitmap()->GetPixelFast(19, 9), 0xFF102030u);
    EXPECT_EQ(full.Image321->Bitmap()->StretchFilter(), sfLinear);
    EXPECT_EQ(script.Requests[0].FormName, "TFull");
}

// A frameless window made maximised while hidden kept its first tiny size and was never
// mapped on X11: the preview's modal loop then waited on an invisible window.
TEST(SmallWindows, FullScreenPreviewCoversTheScreenBeforeItShows)
{
    TBitmap32 pic;
    pic.SetSize(20, 10);
    TFull full;
    TScriptedAnswers script;
    script.Then(mrCancel);
    full.ShowPicture(pic);
    ASSERT_NE(full.screen(), nullptr);
    EXPECT_EQ(full.geometry(), full.screen()->availableGeometry());
    EXPECT_TRUE(full.windowState() & Qt::WindowMaximized);
}

// A routine that works in the first copy alone gets no second one sized for it (on a
// large picture's first command that is tens of megabytes of fresh pages); one that
// writes the second gets it at the target's size. Both get the first filled.
TEST(EffectFrame, SecondCopySizedOnlyForRoutinesThatWriteIt)
{
    kv::test::TFakeMainForm Main(5, 3, TColor32(0xFF102030));
    for (const TSecondCopy Uses : {TSecondCopy::Unused, TSecondCopy::Used}) {
        TPreviewBackupGuard Command(Main); // as a command runs it: the copies made fresh
        int32_t FirstW = -1, SecondW = -1, SecondH = -1;
        RunEffectFrame(
            Main,
            [&](TBitmap& First, TBitmap& Second) {
                FirstW = First.Width();
                SecondW = Second.Width();
                SecondH = Second.Height();
                return TEffectResult::None;
            },
            Uses);
        EXPECT_EQ(FirstW, 5);
        EXPECT_EQ(SecondW == 5 && SecondH == 3, Uses == TSecondCopy::Used) << SecondW << " x " << SecondH;
    }
}
