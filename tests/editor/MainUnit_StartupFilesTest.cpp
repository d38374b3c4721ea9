// The main window driven through its handlers with scripted dialog answers: start-up
// with missing and bad settings files, shut-down writing them, opening and saving each
// kind of file, the recent list, the save question, failed opens and saves, zoom and
// command enabling.
#include "editor/FileAssociation.h"
#include "editor/MainUnit.h"
#include "effects/CompressUnit.h"
#include "effects/GifTypeUnit.h"
#include "effects/NewImageUnit.h"
#include "platform/Dialogs.h"
#include "platform/KvRegistry.h"
#include "platform/KvShell.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

using namespace kv;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& Name)
{
    std::ifstream in(Name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& Name, const std::string& Bytes) { std::ofstream(Name, std::ios::binary) << Bytes; }

TDialogAnswer FileAnswer(const std::string& Name, int32_t Filter = 0)
{
    TDialogAnswer a;
    a.Result = mrOk;
    a.FileName = Name;
    a.FilterIndex = Filter;
    return a;
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Root = fs::temp_directory_path() /
               ("kv_main_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(Root);
        fs::create_directories(Root / "config");
        fs::create_directories(Root / "files");
        SetConfigDir((Root / "config").string());
        SetDataHomeDir((Root / "share").string());
        ClearRegistry();
        FPrevHook = SetShellOpenHook([this](const std::string& T) {
            Opened.push_back(T);
            return true;
        });
    }
    void TearDown() override
    {
        Form.reset();
        SetShellOpenHook(FPrevHook);
        SetConfigDir("");
        SetDataHomeDir("");
        ClearRegistry();
        fs::remove_all(Root);
    }
    // Makes the window; settings files must be in place before.
    void Create()
    {
        Form = std::make_unique<TMainForm>();
        Form->RefreshDesktopOnAssociation = false;
        Form->FormCreate();
        Form->ImgView->resize(600, 600);
    }
    std::string Config(const char* Name) const { return (Root / "config" / Name).string(); }
    std::string Picture(const std::string& Name, int32_t W, int32_t H, TColor32 Color = 0xFF336699)
    {
        std::string path = (Root / "files" / Name).string();
        TBitmap32 b;
        b.SetSize(W, H);
        b.ClearTo(Color);
        b.SaveToFile(path);
        return path;
    }
    // The GIF and JPEG windows of Save As, as the entry point makes them.
    void MakeSaveWindows()
    {
        Form->GifType = new TGifType(Form.get());
        Form->Compress = new TCompress(Form.get());
        Form->Compress->PARY = Form->PARY.get();
    }
    bool Enabled(const char* Name) const { return Form->Command(Name)->isEnabled(); }
    // Opens through File > Open with the dialog answering Name.
    void Open(const std::string& Name)
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(Name));
        Form->mnFileOpenClick();
    }

    fs::path Root;
    std::unique_ptr<TMainForm> Form;
    std::vector<std::string> Opened;
    TShellOpenHook FPrevHook;
};

} // namespace

// ---- Start-up and shut-down -------------------------------------------------------------

TEST_F(MainFormTest, StartsWithDefaultsWhenSettingsAreMissing)
{
    Create();
    EXPECT_EQ(Application()->Title(), "Kelvane");
    EXPECT_TRUE(Form->Command("N103")->isChecked());
    EXPECT_EQ(Form->BufColor->Color, clGray);
    EXPECT_EQ(Form->Recent.Captions(), (std::vector<std::string>{"Empty"}));
    EXPECT_EQ(Form->Lab[0]->text().toStdString(), "Empty");
    EXPECT_EQ(Form->StatusText(0), "Use mouse wheel in order to zoom image");
    // The design size, centred, as far as the screen allows (offscreen: 800 x 600).
    QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    TWindowRecord expected =
        DefaultWindowRecord(Rect(avail.left(), avail.top(), avail.right() + 1, avail.bottom() + 1));
    EXPECT_EQ(Form->WindowRecord(), expected);
    EXPECT_EQ(expected.Width, std::min(DefaultWindowWidth, avail.width()));
    EXPECT_EQ(Form->ScaleCombo->currentText().toStdString(), "100%");
    EXPECT_EQ(Form->ScaleCombo->count(), 9);
    // Only New, Open, Recent Files, Printer Setup and Exit are usable on an empty document.
    EXPECT_TRUE(Enabled("mnFileOpen"));
    EXPECT_TRUE(Enabled("N62"));
    EXPECT_TRUE(Enabled("N5"));
    for (const char* n : {"Save1", "N3", "N70", "N17", "N18", "N1002", "N35", "N37", "Maskos", "mnFlatten", "mnDelete"})
        EXPECT_FALSE(Enabled(n)) << n;
}

TEST_F(MainFormTest, MalformedSettingsGiveDefaultsAndLongListsAreCut)
{
    WriteFile(Config("View.ziv"), "not a colour\r\n");
    WriteFile(Config("CForm.ziv"), std::string("\x02\x00\x00", 3));
    WriteFile(Config("Dirs.lst"), "/p/1.bmp\r\n\r\n/p/2.bmp\r\n/p/3.bmp\r\n/p/4.bmp\r\n/p/5.bmp\r\n/p/6.bmp\r\n");
    Create();
    EXPECT_TRUE(Form->Command("N103")->isChecked());
    EXPECT_FALSE(Form->WindowRecord().State == wsMaximized);
    EXPECT_EQ(Form->Recent.Captions(),
              (std::vector<std::string>{"/p/1.bmp", "/p/2.bmp", "/p/3.bmp", "/p/4.bmp", "/p/5.bmp"}));
    EXPECT_EQ(Form->Lab[3]->text().toStdString(), "4.bmp");
    EXPECT_EQ(Form->Menu("N14")->actions().size(), 5);
}

TEST_F(MainFormTest, ColourSettingAndMaximisedWindowAreRestored)
{
    WriteFile(Config("View.ziv"), "$00030201\r\n");
    WriteFile(Config("CForm.ziv"), std::string("\x02\0\0\0\x64\0\0\0\x32\0\0\0\x20\x03\0\0\x58\x02\0\0", 20));
    Create();
    EXPECT_FALSE(Form->Command("N103")->isChecked());
    EXPECT_EQ(Form->BufColor->Color, RGB(1, 2, 3));
    EXPECT_TRUE(Form->windowState() & Qt::WindowMaximized);
}

TEST_F(MainFormTest, CloseWritesTheThreeFilesByteExact)
{
    WriteFile(Config("Dirs.lst"), "Clear\r\n");
    const std::string record("\0\0\0\0\x64\0\0\0\x32\0\0\0\x90\x01\0\0\x2C\x01\0\0", 20); // (100, 50) 400 x 300
    WriteFile(Config("CForm.ziv"), record);
    Create();
    std::vector<std::string> names;
    for (const char* n : {"a", "b", "c", "d", "e", "f"}) {
        names.push_back(Picture(std::string(n) + ".bmp", 8, 8));
        Open(names.back());
    }
    {
        TScriptedAnswers answers;
        TDialogAnswer colour;
        colour.Result = mrOk;
        colour.Color = RGB(0x12, 0x34, 0x56);
        answers.Then(colour);
        Form->N102Click();
    }
    EXPECT_TRUE(Form->FormCloseQuery()); // opened and unchanged: no question
    Form->FormClose();
    EXPECT_EQ(ReadFile(Config("Dirs.lst")),
              names[5] + "\r\n" + names[4] + "\r\n" + names[3] + "\r\n" + names[2] + "\r\n" + names[1] + "\r\n");
    EXPECT_EQ(ReadFile(Config("View.ziv")), "$00563412\r\n");
    EXPECT_EQ(ReadFile(Config("CForm.ziv")), record);
    EXPECT_TRUE(Form->ImgView->Bitmap()->IsEmpty());
    EXPECT_EQ(Form->ImgView->Layers()->Count(), 0);
}

TEST_F(MainFormTest, ExitFromClearWritesThePlaceholderAndCloseFailuresDoNotBlock)
{
    WriteFile(Config("Dirs.lst"), "Clear\r\n");
    Create();
    Form->Command("N103")->trigger(); // White - Gray off
    Form->FormClose();
    EXPECT_EQ(ReadFile(Config("Dirs.lst")), "Empty\r\n");
    EXPECT_EQ(ReadFile(Config("View.ziv")), "clGray\r\n");
    // An unwritable folder: closing still completes.
    SetConfigDir((Root / "config" / "Dirs.lst").string()); // a file, not a folder
    EXPECT_NO_THROW(Form->FormClose());
}

TEST_F(MainFormTest, AssociationIsWrittenAgainAtActivationWhenItsFlagIsMissing)
{
    Create();
    Form->FormActivate();
    EXPECT_EQ(RegistryValue(HKEY_CLASSES_ROOT, ".KVN"), "KVNFile");
    EXPECT_EQ(RegistryValue(HKEY_CLASSES_ROOT, "KVNFile\\shell\\open\\command"), Application()->ExeName() + " \"%1\"");
    EXPECT_EQ(RegistryValue(HKEY_CLASSES_ROOT, "KVNFile\\DefaultIcon"), DataDir() + "Icon.ico");
    EXPECT_TRUE(fs::exists(Root / "config" / "Assoc.reg"));
    // With the flag in place an activation writes nothing.
    ClearRegistry();
    Form->FormActivate();
    EXPECT_EQ(RegistryKeyCount(HKEY_CLASSES_ROOT), 0);
    // The flag deleted while the program runs: the next activation writes it again.
    fs::remove(Root / "config" / "Assoc.reg");
    Form->FormActivate();
    EXPECT_TRUE(fs::exists(Root / "config" / "Assoc.reg"));
    EXPECT_EQ(RegistryValue(HKEY_CLASSES_ROOT, ".KVN"), "KVNFile");
    // A failing try (the desktop folder cannot be made) is ignored, and tried again at
    // every later activation until it succeeds.
    fs::remove(Root / "config" / "Assoc.reg");
    fs::remove_all(Root / "share");
    WriteFile(Root / "share", "a file where the folder should be");
    for (int activation = 0; activation < 2; ++activation) {
        ClearRegistry();
        EXPECT_NO_THROW(Form->FormActivate());
        EXPECT_FALSE(fs::exists(Root / "config" / "Assoc.reg"));
        EXPECT_EQ(RegistryValue(HKEY_CLASSES_ROOT, ".KVN"), "KVNFile") << "tried at activation " << activation;
    }
    fs::remove(Root / "share");
    Form->FormActivate();
    EXPECT_TRUE(fs::exists(Root / "config" / "Assoc.reg"));
}

TEST_F(MainFormTest, CommandLineArgumentsJoinWithABlank)
{
    std::string full = Picture("my picture.bmp", 640, 480);
    Create();
    Form->CommandLine = {(Root / "files" / "my").string(), "picture.bmp"};
    Form->FormShow();
    EXPECT_EQ(Form->CurrentFileName(), full);
    EXPECT_EQ(Form->StatusText(1), "640x480");
    EXPECT_EQ(Form->ModifiedState, msSaved);
    EXPECT_DOUBLE_EQ(Form->ImgView->Scale(), 1.0); // no fit from the command line
    EXPECT_TRUE(Form->Start->isHidden());
}

TEST_F(MainFormTest, HelpAndLinksGoToTheShell)
{
    Create();
    Form->N26Click();
    Form->N97Click();
    ASSERT_EQ(Opened.size(), 2u);
    EXPECT_EQ(Opened[0], DataDir() + "Help.html");
    EXPECT_EQ(Opened[1].rfind("mailto:", 0), 0u);
}

// ---- Opening -------------------------------------------------------------------------------

TEST_F(MainFormTest, OpenSetsStatusSaveAndState)
{
    std::string bmp = Picture("p.bmp", 64, 48);
    Create();
    Open(bmp);
    EXPECT_EQ(Form->StatusText(0), bmp);
    EXPECT_EQ(Form->StatusText(1), "64x48");
    EXPECT_EQ(Form->ModifiedState, msSaved);
    EXPECT_TRUE(Enabled("Save1"));
    EXPECT_TRUE(Enabled("N3"));
    EXPECT_TRUE(Enabled("N35"));
    EXPECT_TRUE(Form->Start->isHidden());
    EXPECT_FALSE(Form->pnlImage->isHidden());
    EXPECT_EQ(Form->Recent.Captions(), (std::vector<std::string>{bmp}));
}

TEST_F(MainFormTest, CancelledOpenKeepsTheState)
{
    Create();
    Form->ModifiedState = 5;
    TScriptedAnswers answers; // the dialog answers Cancel
    Form->mnFileOpenClick();
    EXPECT_EQ(Form->ModifiedState, 5);
}

TEST_F(MainFormTest, FailedOpenKeepsDocumentNamesAndRecentList)
{
    std::string good = Picture("good.bmp", 30, 20, 0xFF112233);
    std::string bad = (Root / "files" / "bad.bmp").string();
    WriteFile(bad, "BM this is no bitmap");
    Create();
    Open(good);
    Form->ModifiedState = msChanged;
    {
        TScriptedAnswers answers;
        answers.Then(mrNo).Then(FileAnswer(bad));
        EXPECT_ANY_THROW(Form->mnFileOpenClick());
    }
    EXPECT_EQ(Form->CurrentFileName(), good);
    EXPECT_EQ(Form->ImgView->Bitmap()->Width(), 30);
    EXPECT_EQ(Form->ImgView->Bitmap()->GetPixelFast(0, 0), 0xFF112233u);
    EXPECT_EQ(Form->Recent.Captions(), (std::vector<std::string>{good}));
    EXPECT_EQ(Form->ModifiedState, msChanged);
}

TEST_F(MainFormTest, RecentListOrderMarkAndPlaceholder)
{
    Create();
    Form->OpenRecentItem(0); // "Empty" opens nothing and asks nothing
    EXPECT_TRUE(Form->ImgView->Bitmap()->IsEmpty());
    std::vector<std::string> n;
    for (const char* f : {"a", "b", "c"}) {
        n.push_back(Picture(std::string(f) + ".bmp", 4, 4));
        Open(n.back());
    }
    Form->OpenRecentItem(1); // b, already listed: order kept, b marked
    EXPECT_EQ(Form->Recent.Captions(), (std::vector<std::string>{n[2], n[1], n[0]}));
    EXPECT_EQ(Form->Recent.Marked(), 1);
    QList<QAction*> items = Form->Menu("N14")->actions();
    EXPECT_EQ(items[1]->property("ImageIndex").toInt(), 15);
    EXPECT_EQ(items[0]->property("ImageIndex").toInt(), -1);
    EXPECT_EQ(Form->CurrentFileName(), n[1]);
}

TEST_F(MainFormTest, ExtensionCaseChoosesTheRoadAndSaveEnabling)
{
    std::string bmp = Picture("x.bmp", 5, 5);
    std::string png = (Root / "files" / "x.Bmp").string();
    fs::copy_file(bmp, png);
    Create();
    Open(png); // read through the registry by content; ".Bmp" is not written back
    EXPECT_FALSE(Enabled("Save1"));
    EXPECT_TRUE(Enabled("N3"));

    // A project is told by its extension in any case, on every road that opens a file;
    // Save stays for the all-lower and all-upper names.
    Open(Picture("p.bmp", 7, 3));
    const std::string proj = (Root / "files" / "doc.kvn").string();
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(proj, 1));
        ASSERT_TRUE(Form->N3Click());
    }
    const std::string mixed = (Root / "files" / "doc.Kvn").string();
    const std::string other = (Root / "files" / "doc.kVN").string();
    fs::copy_file(proj, mixed);
    fs::copy_file(proj, other);
    for (const std::string& name : {mixed, other, proj}) {
        SCOPED_TRACE(name);
        Form->NewBackground(1, 1, clBlack32);
        Form->ModifiedState = msSaved;
        Open(name);
        EXPECT_EQ(Form->ImgView->Bitmap()->Width(), 7);
        EXPECT_EQ(Enabled("Save1"), name == proj);
        EXPECT_TRUE(Enabled("N3"));
    }
    Form->NewBackground(1, 1, clBlack32);
    Form->ModifiedState = msSaved;
    const auto& recent = Form->Recent.Captions();
    Form->OpenRecentItem(int32_t(std::find(recent.begin(), recent.end(), mixed) - recent.begin()));
    EXPECT_EQ(Form->CurrentFileName(), mixed);
    EXPECT_EQ(Form->ImgView->Bitmap()->Width(), 7);
    Form->NewBackground(1, 1, clBlack32);
    Form->CommandLine = {other};
    Form->FormShow();
    EXPECT_EQ(Form->ImgView->Bitmap()->Width(), 7);
    EXPECT_FALSE(Enabled("Save1"));
}

// ---- The save question and saving ---------------------------------------------------------

TEST_F(MainFormTest, SaveQuestionTextAndAnswers)
{
    std::string a = Picture("a.bmp", 10, 10);
    std::string b = Picture("b.bmp", 12, 12);
    Create();
    Open(a);
    Form->ModifiedState = msChanged;
    {
        TScriptedAnswers answers;
        answers.Then(mrCancel);
        Form->mnFileOpenClick();
        ASSERT_EQ(answers.Requests.size(), 1u);
        EXPECT_EQ(answers.Requests[0].Text, "The image has been changed. Do you want to save it?");
        EXPECT_EQ(answers.Requests[0].Buttons, mbYesNoCancel);
    }
    EXPECT_EQ(Form->CurrentFileName(), a);
    // Yes saves the open file, then the open goes on.
    Form->ImgView->Bitmap()->SetPixelFast(0, 0, 0xFFFF0000);
    Form->ModifiedState = msChanged;
    {
        TScriptedAnswers answers;
        answers.Then(mrYes).Then(FileAnswer(b));
        Form->mnFileOpenClick();
    }
    EXPECT_EQ(Form->CurrentFileName(), b);
    TBitmap32 check;
    check.LoadFromFile(a);
    EXPECT_EQ(check.GetPixelFast(0, 0), 0xFFFF0000u);
    // Closing with an empty background never asks.
    Form->ImgView->Bitmap()->SetSize(0, 0);
    Form->ModifiedState = msChanged;
    TScriptedAnswers none;
    EXPECT_TRUE(Form->FormCloseQuery());
    EXPECT_TRUE(none.Requests.empty());
}

TEST_F(MainFormTest, YesThatWritesNothingStopsTheCommand)
{
    std::string png = (Root / "files" / "p.Bmp").string();
    fs::copy_file(Picture("p.bmp", 6, 6), png);
    Create();
    Open(png);
    Form->ModifiedState = msChanged;
    TScriptedAnswers answers;
    answers.Then(mrYes); // Save goes to Save As, whose dialog is cancelled
    EXPECT_FALSE(Form->FormCloseQuery());
    EXPECT_EQ(answers.Requests.size(), 2u);
    EXPECT_EQ(answers.Requests[1].Kind, dkSaveFile);
    EXPECT_EQ(Form->ModifiedState, msChanged);
}

TEST_F(MainFormTest, SaveAsAppendsTheExtensionOnlyWhenMissing)
{
    Create();
    Open(Picture("src.bmp", 16, 8, 0xFF00FF00));
    const std::string base = (Root / "files" / "pic").string();
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(base, 2));
        EXPECT_TRUE(Form->N3Click());
    }
    EXPECT_TRUE(fs::exists(base + ".bmp"));
    EXPECT_EQ(Form->CurrentFileName(), base + ".bmp");
    EXPECT_EQ(Form->StatusText(0), base + ".bmp");
    EXPECT_EQ(Form->Recent.Caption(0), base + ".bmp");
    EXPECT_EQ(Form->ModifiedState, msSaved);
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(base + "2.BMP", 2));
        EXPECT_TRUE(Form->N3Click());
    }
    EXPECT_TRUE(fs::exists(base + "2.BMP"));
    EXPECT_FALSE(fs::exists(base + "2.BMP.bmp"));
    // JPEG and GIF by filter 3 and 4, each through its window's "Save".
    MakeSaveWindows();
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(base, 3)).Then(mrOk).Then(FileAnswer(base, 4)).Then(mrOk);
        EXPECT_TRUE(Form->N3Click());
        EXPECT_TRUE(Form->N3Click());
    }
    EXPECT_EQ(ReadFile(base + ".jpg").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(ReadFile(base + ".gif").substr(0, 4), "GIF8");
}

TEST_F(MainFormTest, ProjectGifAndJpegRoundTrips)
{
    Create();
    MakeSaveWindows();
    Open(Picture("src.bmp", 20, 10, 0xFF0000FF));
    const std::string proj = (Root / "files" / "doc.KVN").string();
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(proj, 1));
        EXPECT_TRUE(Form->N3Click());
    }
    EXPECT_TRUE(fs::exists(proj));
    EXPECT_FALSE(fs::exists(proj + ".kvn"));
    // Save of an upper-case project name writes a project again.
    Form->ImgView->Bitmap()->SetPixelFast(1, 1, 0xFFFFFFFF);
    EXPECT_TRUE(Form->Save1Click());
    Form->ImgView->Bitmap()->SetSize(0, 0);
    Open(proj);
    EXPECT_EQ(Form->ImgView->Bitmap()->Width(), 20);
    EXPECT_EQ(Form->ImgView->Bitmap()->GetPixelFast(1, 1), 0xFFFFFFFFu);
    // GIF: written and read back through the editor's own codec (".GIF" upper case).
    const std::string gif = (Root / "files" / "pic.GIF").string();
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(gif, 4)).Then(mrOk);
        EXPECT_TRUE(Form->N3Click());
    }
    Form->ImgView->Bitmap()->SetSize(0, 0);
    Open(gif);
    EXPECT_EQ(Form->ImgView->Bitmap()->Width(), 20);
    EXPECT_EQ(Form->ImgView->Bitmap()->GetPixelFast(0, 0) & 0xFFFFFF, 0x0000FFu);
    EXPECT_TRUE(Enabled("Save1"));
    // JPEG: Save of a .jpg file writes at full quality.
    const std::string jpg = (Root / "files" / "pic.jpg").string();
    {
        TScriptedAnswers answers;
        answers.Then(FileAnswer(jpg, 3)).Then(mrOk);
        EXPECT_TRUE(Form->N3Click());
    }
    Form->ImgView->Bitmap()->SetSize(0, 0);
    Open(jpg);
    EXPECT_EQ(Form->ImgView->Bitmap()->Height(), 10);
}

TEST_F(MainFormTest, FailedSaveKeepsTheOldFileAndTheState)
{
    std::string a = Picture("a.bmp", 10, 10, 0xFF445566);
    Create();
    Open(a);
    std::string before = ReadFile(a);
    fs::permissions(Root / "files", fs::perms::owner_read | fs::perms::owner_exec);
    Form->ModifiedState = msChanged;
    bool raised = false;
    try {
        Form->Save1Click();
    } catch (const std::exception&) {
        raised = true;
    }
    fs::permissions(Root / "files", fs::perms::owner_all);
    if (::geteuid() != 0) { // root writes anyway
        EXPECT_TRUE(raised);
        EXPECT_EQ(Form->ModifiedState, msChanged);
    }
    EXPECT_EQ(ReadFile(a), before);
    // A missing folder fails for everyone.
    TScriptedAnswers answers;
    answers.Then(FileAnswer((Root / "nowhere" / "x").string(), 2));
    EXPECT_ANY_THROW(Form->N3Click());
    EXPECT_EQ(Form->CurrentFileName(), a);
}

// ---- Zoom ------------------------------------------------------------------------------

TEST_F(MainFormTest, ScaleComboParsesAndRestores)
{
    Create();
    Form->ModifiedState = msChanged;
    auto type = [&](const char* Text) {
        Form->ScaleCombo->setEditText(Text);
        Form->ScaleComboChange();
        return Form->ScaleCombo->currentText().toStdString();
    };
    EXPECT_EQ(type("250 %"), "250%");
    EXPECT_FLOAT_EQ(Form->ImgView->Scale(), 2.5f);
    EXPECT_EQ(Form->ScaleCombo->lineEdit()->cursorPosition(), 3);
    EXPECT_EQ(type("5000"), "250%");
    EXPECT_EQ(type("abc"), "250%");
    EXPECT_EQ(type("99999999999"), "250%");
    Form->ScaleCombo->setEditText("");
    Form->ScaleComboChange();
    EXPECT_EQ(Form->ScaleCombo->currentText().toStdString(), "");
    EXPECT_FLOAT_EQ(Form->ImgView->Scale(), 2.5f);
    EXPECT_EQ(Form->ModifiedState, msChanged);
}

TEST_F(MainFormTest, WheelStepsAndTheirLimits)
{
    Create();
    Form->ModifiedState = msSaved;
    for (int i = 0; i < 16; ++i)
        Form->ImgViewMouseWheel(120);
    EXPECT_NEAR(Form->ImgView->Scale(), 0.2176, 0.0001);
    EXPECT_EQ(Form->ScaleCombo->currentText().toStdString(), "22%");
    Form->ImgViewMouseWheel(120);
    EXPECT_FLOAT_EQ(Form->ImgView->Scale(), 0.2f);
    EXPECT_EQ(Form->ScaleCombo->currentText().toStdString(), "20%");
    for (int i = 0; i < 60; ++i)
        Form->ImgViewMouseWheel(-120);
    EXPECT_FLOAT_EQ(Form->ImgView->Scale(), 20.0f);
    EXPECT_EQ(Form->ModifiedState, msSaved);
}

TEST_F(MainFormTest, FitAndActualSize)
{
    Create();
    Form->N35Click(); // empty background: nothing
    EXPECT_FLOAT_EQ(Form->ImgView->Scale(), 1.0f);
    Form->ImgView->Bitmap()->SetSize(1000, 500);
    Form->ModifiedState = msUntouched;
    Form->N35Click();
    EXPECT_NEAR(Form->ImgView->Scale(), 0.6 / 1.1, 1e-6);
    EXPECT_EQ(Form->ScaleCombo->currentText().toStdString(), "55%");
    EXPECT_EQ(Form->ModifiedState, msUntouched);
    Form->N1002Click();
    EXPECT_FLOAT_EQ(Form->ImgView->Scale(), 1.0f);
    EXPECT_EQ(Form->ScaleCombo->currentText().toStdString(), "100%");
    Form->ImgView->resize(0, 0);
    Form->N35Click(); // no client area: nothing
    EXPECT_FLOAT_EQ(Form->ImgView->Scale(), 1.0f);
}

TEST_F(MainFormTest, ZoomFieldFollowsANewDocument)
{
    std::string small = Picture("small.bmp", 40, 30);
    Create();
    Form->ImgView->Bitmap()->SetSize(100, 100);
    Form->ScaleCombo->setEditText("250%");
    Form->ScaleComboChange();
    Form->ModifiedState = msSaved;
    Open(small); // the open puts the scale back to 1.0: so must the field
    EXPECT_FLOAT_EQ(Form->ImgView->Scale(), 1.0f);
    EXPECT_EQ(Form->ScaleCombo->currentText().toStdString(), "100%");
    Form->ImgViewMouseWheel(-120);
    EXPECT_EQ(Form->ScaleCombo->currentText().toStdString(), "110%");
    Form->NewBackground(10, 10, 0xFFFFFFFF);
    EXPECT_EQ(Form->ScaleCombo->currentText().toStdString(), "100%");
}

TEST_F(MainFormTest, WindowShortcutsWinOverTheZoomField)
{
    Create();
    QLineEdit* field = Form->ScaleCombo->lineEdit();
    auto claimed = [&](int Key, Qt::KeyboardModifiers Mods) {
        QKeyEvent e(QEvent::ShortcutOverride, Key, Mods);
        e.setAccepted(false);
        QCoreApplication::sendEvent(field, &e);
        return e.isAccepted();
    };
    Form->N1002Click();
    Form->ImgView->Bitmap()->SetSize(10, 10);
    Form->UpdateCommandEnabling();
    ASSERT_TRUE(Enabled("N1002"));
    EXPECT_FALSE(claimed(Qt::Key_A, Qt::ControlModifier)); // Actual Size, not select-all
    EXPECT_FALSE(claimed(Qt::Key_C, Qt::ControlModifier)); // Copy
    ASSERT_FALSE(Enabled("N17"));
    EXPECT_TRUE(claimed(Qt::Key_Z, Qt::ControlModifier)); // Undo has nothing: the field's own
    EXPECT_TRUE(claimed(Qt::Key_Delete, Qt::NoModifier)); // plain keys edit the field
}

TEST_F(MainFormTest, AClickOnTheViewTakesTheKeyboardFocus)
{
    Create();
    Form->ScaleCombo->lineEdit()->setFocus();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(Form->ImgView, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(Form->ImgView, &release);
    EXPECT_EQ(Form->focusWidget(), Form->ImgView); // Del then deletes the layer, not text
    for (QPushButton* link : {Form->Label11, Form->Lab[0], Form->Label9})
        EXPECT_EQ(link->focusPolicy(), Qt::NoFocus); // the start panel's links keep it there
}

TEST_F(MainFormTest, SidePanelSectionsNeverGrowTheWindow)
{
    Create();
    // While a project loads from the start panel, the start panel, the Image section and
    // each layer's section are shown together for a moment.
    for (QWidget* section : {static_cast<QWidget*>(Form->Start), static_cast<QWidget*>(Form->pnlImage),
                             static_cast<QWidget*>(Form->pnlBitmapLayer), static_cast<QWidget*>(Form->pnlMagn),
                             static_cast<QWidget*>(Form->Crops)})
        section->show();
    EXPECT_LE(Form->minimumSizeHint().height(), 606);
}

TEST_F(MainFormTest, OpenFitsOnlyPicturesLargerThanTheViewLess20)
{
    std::string narrow = Picture("580.bmp", 580, 100);
    std::string wide = Picture("581.bmp", 581, 100);
    Create();
    Open(narrow);
    EXPECT_FLOAT_EQ(Form->ImgView->Scale(), 1.0f);
    Open(wide);
    EXPECT_LT(Form->ImgView->Scale(), 1.0f);
}

// ---- Enabling --------------------------------------------------------------------------

TEST_F(MainFormTest, EnablingFollowsTheDocumentAndTheSelection)
{
    Create();
    Open(Picture("a.bmp", 50, 50));
    Form->UpdateCommandEnabling();
    EXPECT_TRUE(Enabled("N1002"));
    EXPECT_TRUE(Enabled("N35"));
    // Commands whose windows come later stay disabled: none of them pretends to work.
    for (const char* n : {"mnFileNew", "N70", "N37", "N74", "Shar", "mnFlatten", "N30"})
        EXPECT_FALSE(Enabled(n)) << n;
    auto* layer = new TBitmapLayer(Form->ImgView->Layers());
    layer->Bitmap()->SetSize(4, 4);
    Form->SetSelection(layer);
    Form->UpdateCommandEnabling();
    EXPECT_TRUE(Enabled("mnDelete"));
    EXPECT_TRUE(Form->ImgViewContextPopup());
    Form->SetSelection(nullptr);
    EXPECT_FALSE(Form->ImgViewContextPopup());
    // Closing the document disables the view commands again.
    Form->FormClose();
    Form->UpdateCommandEnabling();
    EXPECT_FALSE(Enabled("N35"));
    EXPECT_FALSE(Enabled("Save1"));
}

TEST_F(MainFormTest, NewProjectMakesTheDialogsCanvas)
{
    Create();
    Form->NewImageForm = new TNewImageForm(Form.get());
    Form->UpdateCommandEnabling();
    EXPECT_TRUE(Enabled("mnFileNew"));
    Open(Picture("old.bmp", 8, 8));
    {
        TScriptedAnswers answers;
        answers.Then(mrOk);
        Form->mnFileNewClick();
        ASSERT_EQ(answers.Requests.size(), 1u);
        EXPECT_EQ(answers.Requests[0].Kind, dkModalForm);
    }
    EXPECT_EQ(Form->ImgView->Bitmap()->Width(), 640);
    EXPECT_EQ(Form->ImgView->Bitmap()->Height(), 480);
    EXPECT_EQ(Form->CurrentFileName(), "");
    EXPECT_EQ(Form->StatusText(0), ""); // not old.bmp any more
    EXPECT_EQ(Form->StatusText(1), "640x480");
    EXPECT_TRUE(Enabled("N3"));
    EXPECT_EQ(Form->ModifiedState, msChanged);
    // Save now has no name: it asks, as Save As.
    TScriptedAnswers answers;
    EXPECT_FALSE(Form->Save1Click());
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].Kind, dkSaveFile);
}
