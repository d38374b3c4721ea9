// The main window with its tool windows: Save As through the GIF and JPEG windows, Save
// of an opened GIF or JPEG file, the Background commands, Count Image Colors, the
// full-screen preview and the About box, driven through the handlers with scripted
// answers.
#include "editor/ApplicationForms.h"
#include "editor/EditorFixture.h"
#include "editor/MainUnit.h"
#include "effects/BackLaUnit.h"
#include "effects/CompressUnit.h"
#include "effects/GifTypeUnit.h"
#include "effects/NewImageUnit.h"
#include "effects/SmallWindows.h"
#include "effects/TexturUnit.h"
#include "formats/GIFImage.h"
#include "platform/Dialogs.h"
#include "platform/KvRegistry.h"
#include "platform/KvShell.h"
#include "raster/Raster32_Image.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

using namespace kv;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadAll(const fs::path& P)
{
    std::ifstream in(P, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TDialogAnswer FileAnswer(const std::string& Name, int32_t Filter = 0)
{
    TDialogAnswer a;
    a.Result = mrOk;
    a.FileName = Name;
    a.FilterIndex = Filter;
    return a;
}

TDialogAnswer ColorAnswer(TColor C)
{
    TDialogAnswer a;
    a.Result = mrOk;
    a.Color = C;
    return a;
}

// The 64 values of quantisation table 0 in the file's order.
std::vector<int> QuantTable0(const std::vector<uint8_t>& J)
{
    for (size_t i = 2; i + 4 < J.size(); ++i)
        if (J[i] == 0xFF && J[i + 1] == 0xDB && (J[i + 4] & 0x0F) == 0)
            return std::vector<int>(J.begin() + ptrdiff_t(i + 5), J.begin() + ptrdiff_t(i + 5 + 64));
    return {};
}

bool AllEqual(const std::vector<int>& V, int Value)
{
    return V.size() == 64 && std::all_of(V.begin(), V.end(), [Value](int v) { return v == Value; });
}

// Every item of a menu and its sub-menus.
void CollectItems(const QMenu* Menu, std::set<QAction*>& Items)
{
    for (QAction* a : Menu->actions()) {
        Items.insert(a);
        if (a->menu())
            CollectItems(a->menu(), Items);
    }
}

// A menu's shape: item names, "-" for a separator, a sub-menu's title and its shape in
// brackets.
std::string Shape(const QMenu* Menu)
{
    std::string out;
    for (QAction* a : Menu->actions()) {
        out += out.empty() ? "" : " ";
        if (a->isSeparator())
            out += "-";
        else if (a->menu())
            out += a->menu()->title().toStdString() + "[" + Shape(a->menu()) + "]";
        else
            out += a->objectName().toStdString();
    }
    return out;
}

class MainDialogsTest : public test::IsolatedEditorTest {
protected:
    void SetUp() override
    {
        MakeForm("kv_maindlg_", {"files", "data"}, 600, 600); // data empty: no icon, no decorations
        CreateApplicationForms(*Form);                        // the windows as the entry point makes them
    }
    std::string File(const std::string& Name) const { return (Root / "files" / Name).string(); }
    // A 9 x 5 black-and-white picture: every depth holds it exactly.
    std::string BlackAndWhite(const std::string& Name)
    {
        TBitmap32 b;
        b.SetSize(9, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x)
                b.SetPixelFast(x, y, (x + y) % 3 == 0 ? clBlack32 : clWhite32);
        b.SaveToFile(File(Name));
        return File(Name);
    }
    std::string Solid(const std::string& Name, int32_t W, int32_t H, TColor32 C)
    {
        TBitmap32 b;
        b.SetSize(W, H);
        b.ClearTo(C);
        b.SaveToFile(File(Name));
        return File(Name);
    }
    void Open(const std::string& Name)
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(Name));
        Form->mnFileOpenClick();
        ASSERT_EQ(Form->CurrentFileName(), Name);
    }
    bool Enabled(const char* Name) const { return Form->Command(Name)->isEnabled(); }
    TBitmap32* Bg() { return Form->ImgView->Bitmap(); }
};

} // namespace

// ---- Save As through the GIF and JPEG windows -------------------------------------------

TEST_F(MainDialogsTest, SaveAsGifAtEachDepthReadsBack)
{
    Open(BlackAndWhite("bw.bmp"));
    struct {
        QRadioButton* Button;
        uint8_t ScreenPacked;
    } depths[] = {{Form->GifType->RadioButton1, 0x80},
                  {Form->GifType->RadioButton3, 0xB3},
                  {Form->GifType->RadioButton2, 0xF7},
                  {Form->GifType->RadioButton4, 0xF7}};
    int n = 0;
    for (auto& d : depths) {
        d.Button->setChecked(true); // the window keeps its choice between showings
        const std::string name = File("depth" + std::to_string(n++) + ".gif");
        Form->ModifiedState = msChanged;
        {
            TScriptedAnswers answers;
            answers.Then(FileAnswer(name, 4)).Then(mrOk);
            ASSERT_TRUE(Form->N3Click());
            ASSERT_EQ(answers.Requests.size(), 2u);
            EXPECT_EQ(answers.Requests[1].FormName, "TGifType");
        }
        // The window wrote exactly the name Save As settled on.
        EXPECT_FALSE(fs::exists(name + ".gif"));
        const std::vector<uint8_t> g = ReadAll(name);
        ASSERT_GT(g.size(), 13u);
        EXPECT_EQ(std::string(g.begin(), g.begin() + 6), "GIF87a");
        EXPECT_EQ(g[10], d.ScreenPacked);
        EXPECT_EQ(Form->ModifiedState, msSaved);
        EXPECT_EQ(Form->Recent.Caption(0), name);
        EXPECT_EQ(Form->StatusText(0), name);
        EXPECT_EQ(Form->CurrentFileName(), name);
        // Through the GIF model of the registry...
        TBitmap32 model;
        model.LoadFromFile(name);
        // ...and through the editor's own codec, as the document.
        Open(name);
        ASSERT_EQ(Bg()->Width(), 9);
        ASSERT_EQ(Bg()->Height(), 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x) {
                const uint32_t want = (x + y) % 3 == 0 ? 0u : 0xFFFFFFu;
                ASSERT_EQ(Bg()->GetPixelFast(x, y) & 0xFFFFFF, want) << x << "," << y;
                ASSERT_EQ(model.GetPixelFast(x, y) & 0xFFFFFF, want) << x << "," << y;
            }
    }
}

TEST_F(MainDialogsTest, SaveAsJpegQualityReachesTheFile)
{
    Open(Solid("src.bmp", 16, 16, 0xFF336699));
    Form->Compress->SetQuality(100);
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(File("q"), 3)).Then(mrOk);
        ASSERT_TRUE(Form->N3Click());
        EXPECT_EQ(answers.Requests[1].FormName, "TCompress");
    }
    EXPECT_TRUE(AllEqual(QuantTable0(ReadAll(File("q.jpg"))), 1));
    EXPECT_EQ(Form->CurrentFileName(), File("q.jpg"));
    // Quality 1, and a typed ".jpeg" is kept as it is.
    Form->Compress->SetQuality(1);
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(File("low.JPEG"), 3)).Then(mrOk);
        ASSERT_TRUE(Form->N3Click());
    }
    EXPECT_FALSE(fs::exists(File("low.JPEG.jpg")));
    EXPECT_TRUE(AllEqual(QuantTable0(ReadAll(File("low.JPEG"))), 255));
    EXPECT_EQ(Form->Recent.Caption(0), File("low.JPEG"));
    // The default quality 70 scales the first value of the standard table to 10.
    Form->Compress->SetQuality(70);
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(File("mid"), 3)).Then(mrOk);
        ASSERT_TRUE(Form->N3Click());
    }
    EXPECT_EQ(QuantTable0(ReadAll(File("mid.jpg"))).at(0), 10);
}

TEST_F(MainDialogsTest, ClosedOptionWindowsLeaveTheDocumentUnsaved)
{
    const std::string src = Solid("src.bmp", 8, 8, 0xFF112233);
    Open(src);
    Form->ModifiedState = msChanged;
    const std::vector<std::string> recent = Form->Recent.Captions();
    const std::string status = Form->StatusText(0);
    for (int32_t filter : {3, 4}) {
        const std::string name = File(filter == 3 ? "never.jpg" : "never.gif");
        TScriptedAnswers answers;
        answers.Then(FileAnswer(name, filter)).Then(mrCancel); // the window closed without "Save"
        EXPECT_FALSE(Form->N3Click());
        EXPECT_EQ(answers.Requests.size(), 2u);
        EXPECT_FALSE(fs::exists(name));
    }
    // A writer error: the message is shown, and nothing counts as saved.
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(File("no_dir/x.gif"), 4)).Then(mrOk).Then(mrOk);
        EXPECT_FALSE(Form->N3Click());
        ASSERT_EQ(answers.Requests.size(), 3u);
        EXPECT_EQ(answers.Requests[2].Kind, dkMessage);
    }
    EXPECT_EQ(Form->ModifiedState, msChanged);
    EXPECT_EQ(Form->Recent.Captions(), recent);
    EXPECT_EQ(Form->StatusText(0), status);
    EXPECT_EQ(Form->CurrentFileName(), src);
    // The save question's Yes then stops the command that asked.
    TScriptedAnswers answers;
    answers.Then(mrYes);
    Form->OpenPictureDialog1->FileName.clear(); // as after New: Save must ask for a name
    answers.Then(FileAnswer(File("again.gif"), 4)).Then(mrCancel);
    EXPECT_FALSE(Form->AskSaveChanges());
    EXPECT_EQ(Form->ModifiedState, msChanged);
}

// ---- Replacing an existing file ------------------------------------------------------------

TEST_F(MainDialogsTest, SaveAsAsksBeforeReplacingAnExistingFile)
{
    Open(Solid("src.bmp", 6, 4, 0xFF336699));
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    struct {
        int32_t Filter;
        const char* Typed; // with and without the extension the filter adds
        const char* Final;
        bool OptionsWindow;
    } cases[] = {{1, "p1", "p1.kvn", false}, {2, "p2.bmp", "p2.bmp", false},  {2, "p3", "p3.bmp", false},
                 {3, "p4", "p4.jpg", true},  {3, "p5.jpeg", "p5.jpeg", true}, {4, "p6", "p6.gif", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Final);
        const std::string final = File(c.Final);
        std::ofstream(final, std::ios::binary).write("old", 3);
        const std::string question = std::string(c.Final) + " already exists. Do you want to replace it?";
        // No: nothing is written; Save As goes back to its dialog (cancelled here), or the
        // options window stays open (and is closed).
        {
            TScriptedAnswers answers;
            answers.Then(FileAnswer(File(c.Typed), c.Filter));
            if (c.OptionsWindow)
                answers.Then(mrOk);
            answers.Then(mrNo).Then(mrCancel);
            EXPECT_FALSE(Form->N3Click());
            ASSERT_EQ(answers.Requests.size(), 3u); // scripted, a window ends after its button
            const TDialogRequest& asked = answers.Requests[1u + c.OptionsWindow];
            EXPECT_EQ(asked.Kind, dkMessage);
            EXPECT_EQ(asked.Text, question);
            EXPECT_EQ(asked.Buttons, mbYesNo);
            EXPECT_EQ(asked.DefaultResult, mrNo);
            if (!c.OptionsWindow) {
                EXPECT_EQ(answers.Requests[2].Kind, dkSaveFile);
            }
        }
        EXPECT_EQ(ReadAll(final), old);
        EXPECT_FALSE(fs::exists(final + fs::path(c.Final).extension().string()));
        // Yes: the file is replaced.
        {
            TScriptedAnswers answers;
            answers.Then(FileAnswer(File(c.Typed), c.Filter));
            if (c.OptionsWindow)
                answers.Then(mrOk);
            answers.Then(mrYes);
            EXPECT_TRUE(Form->N3Click());
            EXPECT_EQ(answers.Pending(), 0u);
        }
        EXPECT_GT(ReadAll(final).size(), 3u);
        EXPECT_EQ(Form->CurrentFileName(), final);
    }
    // A name that does not exist yet is written without a question.
    TScriptedAnswers answers;
    answers.Then(FileAnswer(File("fresh"), 2));
    EXPECT_TRUE(Form->N3Click());
    EXPECT_EQ(answers.Requests.size(), 1u);
    EXPECT_TRUE(fs::exists(File("fresh.bmp")));
}

// ---- Save of an opened GIF or JPEG file --------------------------------------------------

TEST_F(MainDialogsTest, SaveOfGifAndJpegFilesAsksNoOptions)
{
    // GIF: written through the editor's codec, no window.
    const std::string gif = File("doc.gif");
    Open(BlackAndWhite("bw.bmp"));
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(gif, 4)).Then(mrOk);
        ASSERT_TRUE(Form->N3Click());
    }
    Open(gif);
    Bg()->SetPixelFast(1, 0, clBlack32); // (1, 0) was white
    {
        TScriptedAnswers answers;
        EXPECT_TRUE(Form->Save1Click());
        EXPECT_TRUE(answers.Requests.empty());
    }
    EXPECT_EQ(Form->ModifiedState, msSaved);
    Bg()->SetSize(0, 0);
    Open(gif);
    EXPECT_EQ(Bg()->GetPixelFast(1, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(Bg()->GetPixelFast(2, 0) & 0xFFFFFF, 0xFFFFFFu);

    // JPEG: written at full quality whatever the window holds, no window.
    const std::string jpg = File("doc.jpg");
    Form->Compress->SetQuality(1);
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(jpg, 3)).Then(mrOk);
        ASSERT_TRUE(Form->N3Click());
    }
    EXPECT_TRUE(AllEqual(QuantTable0(ReadAll(jpg)), 255));
    Open(jpg);
    {
        TScriptedAnswers answers;
        EXPECT_TRUE(Form->Save1Click());
        EXPECT_TRUE(answers.Requests.empty());
    }
    EXPECT_TRUE(AllEqual(QuantTable0(ReadAll(jpg)), 1));
    EXPECT_EQ(Form->ModifiedState, msSaved);
}

// ---- Background commands ------------------------------------------------------------------

TEST_F(MainDialogsTest, FillWithColorTakesUndoOnlyOnOk)
{
    Open(Solid("src.bmp", 30, 20, 0xFF102030));
    Form->ModifiedState = msSaved;
    ASSERT_TRUE(Enabled("N112"));
    {
        TScriptedAnswers answers;
        answers.Then(mrCancel);
        Form->Command("N112")->trigger();
        EXPECT_EQ(answers.Requests.at(0).Kind, dkColor);
    }
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_EQ(Form->ModifiedState, msSaved);
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), 0xFF102030u);
    {
        TScriptedAnswers answers;
        answers.Then(ColorAnswer(TColor(0x563412))); // red 0x12, green 0x34, blue 0x56
        Form->Command("N112")->trigger();
    }
    EXPECT_EQ(Bg()->GetPixelFast(29, 19), 0xFF123456u);
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Canvas);
    EXPECT_EQ(Form->ModifiedState, msChanged);
    EXPECT_TRUE(Enabled("N17"));
    Form->N17Click();
    EXPECT_EQ(Bg()->GetPixelFast(29, 19), 0xFF102030u);
}

TEST_F(MainDialogsTest, LoadFromFileAndTexture)
{
    // Load From File works on an empty background and makes a document of the file's size.
    EXPECT_TRUE(Bg()->IsEmpty());
    EXPECT_TRUE(Enabled("N120"));
    EXPECT_FALSE(Enabled("N115"));
    EXPECT_FALSE(Enabled("N3"));
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(Solid("big.bmp", 640, 480, 0xFF00FF00)));
        Form->Command("N120")->trigger();
    }
    EXPECT_EQ(Bg()->Width(), 640);
    EXPECT_EQ(Form->StatusText(1), "640x480");
    EXPECT_TRUE(Form->pnlImage->isVisibleTo(Form.get()));
    EXPECT_TRUE(Enabled("N3"));
    EXPECT_TRUE(Enabled("N115"));
    EXPECT_EQ(Form->ModifiedState, msChanged);
    // A file that does not load leaves the background and the undo slot alone.
    Form->ResetUndo();
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(File("missing.bmp"))).Then(mrOk);
        Form->Command("N120")->trigger(); // the loader's error becomes a message box
        EXPECT_EQ(answers.Requests.size(), 2u);
    }
    EXPECT_EQ(Bg()->Width(), 640);
    EXPECT_TRUE(Form->UndoSlot.Empty());

    // Load form Texture tiles from (0, 0) and keeps the background's size.
    TBitmap32 tile;
    tile.SetSize(100, 100);
    tile.ClearTo(0xFF0000FF);
    tile.SetPixelFast(0, 0, 0xFFFF0000);
    tile.SaveToFile(File("tile.bmp"));
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(File("tile.bmp")));
        Form->Command("N115")->trigger();
    }
    EXPECT_EQ(Bg()->Width(), 640);
    EXPECT_EQ(Bg()->Height(), 480);
    EXPECT_EQ(Bg()->GetPixelFast(600, 400), 0xFFFF0000u);
    EXPECT_EQ(Bg()->GetPixelFast(601, 400), 0xFF0000FFu);
    EXPECT_EQ(Bg()->GetPixelFast(639, 479), 0xFF0000FFu);
    EXPECT_EQ(Form->UndoSlot.Kind, TUndoKind::Canvas);
    // A missing texture changes nothing and takes no undo copy.
    Form->ResetUndo();
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(File("gone.bmp")));
        Form->Command("N115")->trigger();
    }
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_EQ(Bg()->GetPixelFast(600, 400), 0xFFFF0000u);
}

TEST_F(MainDialogsTest, CountImageColorsMessage)
{
    Open(Solid("src.bmp", 4, 2, 0xFF0A141E));
    Bg()->SetPixelFast(3, 1, 0xFF0A141F); // (10, 20, 31) beside (10, 20, 30)
    Bg()->SetPixelFast(2, 1, 0x800A141E); // alpha is ignored
    TScriptedAnswers answers;
    answers.Then(mrOk);
    Form->Command("N72")->trigger();
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].Text, "The number of unique colors used in this image is 2.");
    EXPECT_EQ(answers.Requests[0].DlgType, mtInformation);
    // The background is untouched and counting is no change.
    EXPECT_EQ(Bg()->GetPixelFast(2, 1), 0x800A141Eu);
    EXPECT_EQ(Form->ModifiedState, msSaved);
}

// ---- Full-screen preview and About ---------------------------------------------------------

TEST_F(MainDialogsTest, FullScreenPreviewShowsTheRender)
{
    Open(Solid("src.bmp", 20, 10, 0xFF102030));
    auto* layer = new TBitmapLayer(Form->ImgView->Layers());
    layer->Bitmap()->SetSize(5, 5);
    layer->Bitmap()->ClearTo(0xFFFFFFFF);
    layer->SetPlacement({0, 0, 5, 5});
    TScriptedAnswers answers;
    answers.Then(mrCancel);
    Form->Command("N34")->trigger();
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].FormName, "TFull");
    TBitmap32* shown = Form->Full->Image321->Bitmap();
    ASSERT_EQ(shown->Width(), 20);
    EXPECT_EQ(shown->GetPixelFast(1, 1), 0xFFFFFFFFu); // the layer is in the render
    EXPECT_EQ(shown->GetPixelFast(19, 9), 0xFF102030u);
    EXPECT_EQ(Form->FlatImage(), nullptr); // the render is released
}

TEST_F(MainDialogsTest, AboutWithAMissingIcon)
{
    EXPECT_FALSE(Form->AboutKVN->HasIcon()); // the data folder is empty
    EXPECT_TRUE(Enabled("N30"));
    TScriptedAnswers answers;
    answers.Then(mrOk);
    Form->Command("N30")->trigger();
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].FormName, "TAboutKVN");
}

// ---- Enabling ------------------------------------------------------------------------------

TEST_F(MainDialogsTest, CommandsWithTheirWindowsAreEnabledAndLaterOnesStayOff)
{
    Open(Solid("src.bmp", 10, 10, 0xFF000000));
    Form->UpdateCommandEnabling();
    for (const char* n : {"N3", "Save1", "N72", "N34", "N112", "N115", "N120", "N30", "N38", "N74", "Shar", "N70",
                          "N37", "N11", "N122", "N124"})
        EXPECT_TRUE(Enabled(n)) << n;
    for (const char* n : {"N13"})
        EXPECT_FALSE(Enabled(n)) << n;
    // Without their windows the window commands stay off.
    Form->Full = nullptr;
    Form->AboutKVN = nullptr;
    Form->KVNPrint = nullptr;
    Form->UpdateCommandEnabling();
    EXPECT_FALSE(Enabled("N34"));
    EXPECT_FALSE(Enabled("N30"));
    EXPECT_FALSE(Enabled("N70"));
    // An empty background turns off all but Load From File.
    Bg()->SetSize(0, 0);
    Form->UpdateCommandEnabling();
    for (const char* n : {"N72", "N112", "N115"})
        EXPECT_FALSE(Enabled(n)) << n;
    EXPECT_TRUE(Enabled("N120"));
}

TEST_F(MainDialogsTest, EveryCommandIsNamedShownAndEitherConnectedOrDisabled)
{
    Open(Solid("src.bmp", 10, 10, 0xFF000000));
    std::set<QAction*> shown;
    for (QAction* m : Form->menuBar()->actions())
        CollectItems(m->menu(), shown);
    for (const QToolBar* bar : Form->findChildren<QToolBar*>())
        for (QAction* a : bar->actions())
            shown.insert(a);

    const std::vector<std::string> names = Form->CommandNames();
    ASSERT_GE(names.size(), 86u);
    for (const std::string& name : names) {
        QAction* a = Form->Command(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->objectName().toStdString(), name);
        EXPECT_FALSE(a->text().isEmpty()) << name;
        EXPECT_TRUE(shown.count(a)) << name << " is in no menu and on no tool bar";
        // A command without a handler stays disabled whoever enables it; one with a
        // handler is connected to it.
        a->setEnabled(true);
        const bool pending = !a->isEnabled();
        const bool connected = QObject::disconnect(a, &QAction::triggered, Form.get(), nullptr);
        EXPECT_NE(pending, connected) << name;
    }
}

TEST_F(MainDialogsTest, SelectCommandsWaitForAPicture)
{
    // At start the background is empty: Select and Select All (menu and tool button)
    // are off, and triggered anyway they leave no frame that Delete could act on.
    Form->UpdateCommandEnabling();
    for (const char* name : {"N71", "N98"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Form->Command(name)->isEnabled());
        Form->Command(name)->setEnabled(true);
        Form->Command(name)->trigger();
        EXPECT_EQ(Form->Selection(), nullptr);
    }
    Form->UpdateCommandEnabling();
    EXPECT_FALSE(Form->Command("mnDelete")->isEnabled());
    // Cut and Copy stay on, as the Edit menu's rule has them, and with nothing that
    // could be selected they change nothing.
    Form->N16Click();
    for (const char* name : {"N20", "N21"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(Form->Command(name)->isEnabled());
        Form->ModifiedState = msUntouched;
        Form->Command(name)->trigger();
        EXPECT_FALSE(Form->ClipboardHasBitmap());
        EXPECT_TRUE(Form->UndoSlot.Empty());
        EXPECT_EQ(Form->ModifiedState, msUntouched);
        EXPECT_TRUE(Form->ImgView->Bitmap()->IsEmpty());
    }
    Open(Solid("src.bmp", 4, 4, 0xFF000000));
    Form->UpdateCommandEnabling();
    EXPECT_TRUE(Form->Command("N71")->isEnabled());
    EXPECT_TRUE(Form->Command("N98")->isEnabled());
}

TEST_F(MainDialogsTest, StatusBarPanelsStayWholeAndInPlace)
{
    Form->resize(805, 606);
    Form->show();
    QCoreApplication::processEvents();
    const QList<QLabel*> panels = Form->StatusBar1->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(panels.size(), 2);
    const int sizeAt = panels[1]->geometry().left();
    const std::string longName = File(std::string(120, 'n') + ".bmp");
    for (int width : {805, 1280, 640}) {
        SCOPED_TRACE(width);
        Form->resize(width, 606);
        Form->ModifiedState = msSaved;
        Open(Solid(std::to_string(width) + "wide.bmp", 7, 5, 0xFF000000));
        QCoreApplication::processEvents();
        EXPECT_EQ(panels[1]->geometry().left(), sizeAt); // the size text does not move
        EXPECT_EQ(Form->StatusText(1), "7x5");
        // Each panel draws its border inside itself, and the bar holds the panels whole.
        for (QLabel* panel : panels) {
            EXPECT_GT(panel->frameWidth(), 0);
            EXPECT_TRUE(Form->StatusBar1->rect().contains(panel->geometry())) << panel->geometry().bottom();
            EXPECT_GE(panel->height(), panel->sizeHint().height());
        }
        EXPECT_LE(Form->StatusBar1->geometry().bottom(), Form->rect().bottom());
    }
    // A path longer than its panel is kept whole in the text and the tool tip.
    Form->ModifiedState = msSaved;
    Open(Solid(ExtractFileName(longName), 3, 3, 0xFF000000));
    EXPECT_EQ(Form->StatusText(0), longName);
    EXPECT_EQ(panels[0]->toolTip().toStdString(), longName);
    EXPECT_EQ(panels[1]->geometry().left(), sizeAt);
}

TEST_F(MainDialogsTest, PictureFiltersOfferOnlyWhatOpens)
{
    Open(Solid("src.bmp", 4, 4, 0xFF000000));
    Form->ModifiedState = msSaved;
    const std::vector<std::string> known = TPicture::GraphicExtensions();
    const std::pair<const char*, std::function<void()>> commands[] = {
        {"Open", [this] { Form->mnFileOpenClick(); }},
        {"New Layer From File", [this] { Form->mnNewBitmapLayerClick(); }},
        {"Load From File", [this] { Form->N120Click(); }},
        {"Load form Texture", [this] { Form->N115Click(); }},
    };
    for (const auto& [name, run] : commands) {
        SCOPED_TRACE(name);
        TScriptedAnswers answers; // every dialog cancelled
        run();
        ASSERT_FALSE(answers.Requests.empty());
        const std::string filter = answers.Requests[0].Filter;
        EXPECT_EQ(answers.Requests[0].Kind, dkOpenFile);
        for (const char* gone : {"emf", "wmf", "etafile"})
            EXPECT_EQ(filter.find(gone), std::string::npos) << gone;
        // Every mask of "All" names a picture class the registry has, or the project.
        const size_t bar = filter.find('|');
        std::string masks = filter.substr(bar + 1, filter.find('|', bar + 1) - bar - 1);
        for (size_t at = 0; at < masks.size();) {
            size_t end = masks.find(';', at);
            if (end == std::string::npos)
                end = masks.size();
            const std::string ext = LowerCase(masks.substr(at + 2, end - at - 2)); // past "*."
            EXPECT_TRUE(ext == "kvn" || std::find(known.begin(), known.end(), ext) != known.end()) << ext;
            at = end + 1;
        }
    }
}

TEST_F(MainDialogsTest, ToolBarsAndLayerPopupKeepTheirOrder)
{
    std::map<std::string, std::string> bars;
    for (const QToolBar* bar : Form->findChildren<QToolBar*>()) {
        std::string names;
        for (QAction* a : bar->actions()) {
            names += names.empty() ? "" : " ";
            names += a->objectName().toStdString();
        }
        bars[bar->objectName().toStdString()] = names;
    }
    EXPECT_EQ(bars, (std::map<std::string, std::string>{
                        {"ToolBar5", "mnFileNew mnFileOpen Save1 N70"},
                        {"ToolBar2", "N17 N18 N71 N20 N21 N22"},
                        {"ToolBar1", "N33 N37 N114 N38 N39 Shar Soft Monoh N34"},
                        {"ToolBar3", "mnNewBitmapLayer mnFlatten N1002 N35 N26"},
                    }));
    EXPECT_EQ(Shape(Form->LayerPopup),
              "Popup_mnBringFront Popup_mnSendBack Popup_mnLevelUp Popup_mnLevelDown - "
              "Rotate[Popup_N901 Popup_N902 Popup_N13] Flip[Popup_N53 Popup_N24] Borders[Popup_N107 Popup_N7] "
              "Popup_N23 Popup_N69 Popup_N54 - Popup_N88 Popup_mnDelete");
    std::set<QAction*> items;
    CollectItems(Form->LayerPopup, items);
    std::map<std::string, std::string> popup;
    for (QAction* a : items)
        if (!a->isSeparator() && !a->menu())
            popup[a->objectName().toStdString()] =
                a->text().toStdString() + "|" + a->shortcut().toString().toStdString();
    EXPECT_EQ(popup["Popup_mnSendBack"], "Send to Back|");
    EXPECT_EQ(popup["Popup_mnLevelDown"], "Down One Layer|");
    EXPECT_EQ(popup["Popup_N88"], "Duplicate|");
    EXPECT_EQ(popup["Popup_mnDelete"], "Delete|Del");
    // A pop-up item runs its command.
    Open(Solid("src.bmp", 10, 10, 0xFF000000));
    Form->Command("mnMagnifier")->trigger();
    ASSERT_NE(Form->Selection(), nullptr);
    emit Form->LayerPopup->aboutToShow();
    for (QAction* a : items)
        if (a->objectName() == "Popup_mnDelete")
            a->trigger();
    EXPECT_EQ(Form->Selection(), nullptr);
}

// ---- The windows as the entry point makes them ----------------------------------------

// A dialog opens again where it was, its client area placed rather than its frame's
// position replayed (a window manager's frame would count once more each time); a move
// made while it is hidden is kept.
TEST_F(MainDialogsTest, DialogsOpenAgainWhereTheyWere)
{
    for (QObject* child : Form->children()) {
        auto* form = dynamic_cast<TDialogForm*>(child);
        if (!form)
            continue;
        SCOPED_TRACE(form->Name());
        form->show();
        form->move(120, 90);
        QCoreApplication::processEvents();
        const QRect first = form->geometry();
        form->hide();
        form->show();
        QCoreApplication::processEvents();
        EXPECT_EQ(form->geometry().topLeft(), first.topLeft());
        form->hide();
        form->move(200, 150);
        form->show();
        QCoreApplication::processEvents();
        EXPECT_EQ(form->pos(), QPoint(200, 150));
        form->hide();
    }
}

TEST_F(MainDialogsTest, WindowsComeInTheirFixedOrderAndAreTheOnesTheCommandsUse)
{
    std::vector<std::string> order;
    for (QObject* child : Form->children())
        if (auto* form = dynamic_cast<TDialogForm*>(child))
            order.push_back(form->Name());
    EXPECT_EQ(order, (std::vector<std::string>{
                         "TNewImageForm", "TGifType",  "TCompress", "TBorder", "TRaiser",   "TTexter",   "TGamma",
                         "TPovor",        "TBackLa",   "TBrid",     "TRasm",   "THolst",    "TFull",     "TEffect",
                         "TDeFoc",        "TSprayWin", "TPosta",    "TWaves",  "TKVNPrint", "TAboutKVN", "TSbor",
                         "TMarb",         "TSTC",      "TMaski",    "TCropLa", "TTextur",   "TProGeomo"}));
    EXPECT_EQ(Form->Compress->PARY, Form->PARY.get());
    auto count = [this](auto* Probe) {
        using T = std::remove_pointer_t<decltype(Probe)>;
        int n = 0;
        for (QObject* child : Form->children())
            n += dynamic_cast<T*>(child) != nullptr;
        return n;
    };

    // New Simple Layer shows the window made at start-up, which adds its layer.
    Open(Solid("src.bmp", 200, 100, 0xFF000000));
    {
        TScriptedAnswers answers;
        answers.Then(mrOk);
        Form->Command("N61")->trigger();
        ASSERT_EQ(answers.Requests.size(), 1u);
        EXPECT_EQ(answers.Requests[0].FormName, "TBackLa");
    }
    EXPECT_EQ(count(static_cast<TBackLa*>(nullptr)), 1);
    auto* layer = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->Bitmap()->Width(), 300);

    // The transparent-colour pick shows the tool window made at start-up; closing it by
    // its title bar ends the pick.
    Form->N23Click();
    ASSERT_TRUE(Form->TransparentPickActive());
    EXPECT_EQ(count(static_cast<TSTC*>(nullptr)), 1);
    TSTC* tool = nullptr;
    for (QObject* child : Form->children())
        if (auto* t = dynamic_cast<TSTC*>(child))
            tool = t;
    ASSERT_EQ(tool, Form->STC);
    ASSERT_TRUE(tool->Showing());
    tool->close();
    EXPECT_FALSE(Form->TransparentPickActive());
    EXPECT_EQ(Form->ImgView->Cursor(), crDefault);
}
