#include "widgets/ToolEdit.h"

#include "platform/Dialogs.h"
#include "widgets/FileUtil.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace kv;
namespace fs = std::filesystem;

namespace {

// A fresh folder with two sub-folders "x" and "y" and a file "f.txt" in "x".
struct TTempTree {
    TTempTree()
    {
        std::string tmpl = (fs::temp_directory_path() / "kvtooledit_XXXXXX").string();
        Root = mkdtemp(tmpl.data());
        fs::create_directory(Root + "/x");
        fs::create_directory(Root + "/y");
        std::ofstream(Root + "/x/f.txt") << "f";
    }
    ~TTempTree() { fs::remove_all(Root); }
    std::string Root;
};

// The folder chooser as a test answers it: remembers where it started, then moves the
// selection to Choice and presses OK (or Cancel when Choice is empty).
struct TChooser {
    TChooser()
    {
        Previous = SetDialogAnswerer([this](const TDialogRequest& R) {
            TDialogAnswer a;
            ++Calls;
            FormName = R.FormName;
            auto* dlg = dynamic_cast<TBrowseFolderDlg*>(R.Form);
            if (!dlg)
                return a;
            StartedAt = dlg->Folder;
            if (Choice.empty())
                return a;
            dlg->SelectFolder(Choice);
            a.Result = mrOk;
            return a;
        });
    }
    ~TChooser() { SetDialogAnswerer(Previous); }
    std::string Choice, StartedAt, FormName;
    int Calls = 0;
    TDialogAnswerer Previous;
};

void SendKey(QWidget* W, int Key, Qt::KeyboardModifiers Mods = Qt::NoModifier)
{
    QKeyEvent e(QEvent::KeyPress, Key, Mods);
    QCoreApplication::sendEvent(W, &e);
}

} // namespace

TEST(FileUtil, PathsAndLists)
{
    EXPECT_EQ(StripTrailingBackslash("/a/b/"), "/a/b");
    EXPECT_EQ(StripTrailingBackslash("/"), "/");
    EXPECT_EQ(StripTrailingBackslash("a"), "a");
    EXPECT_EQ(ShortToLongPath("/a/b"), "/a/b");
    EXPECT_EQ(LongToShortPath("/a/b"), "/a/b");
    int32_t pos = 1;
    EXPECT_EQ(ExtractUntilDelimiter("/x;/yy;", pos, ";"), "/x");
    EXPECT_EQ(pos, 4);
    EXPECT_EQ(ExtractUntilDelimiter("/x;/yy;", pos, ";"), "/yy");
    EXPECT_EQ(pos, 8);
    EXPECT_EQ(ExtractUntilDelimiter("/x;/yy;", pos, ";"), "");
    TTempTree t;
    EXPECT_TRUE(DirExists(t.Root + "/x"));
    EXPECT_FALSE(DirExists(t.Root + "/x/f.txt"));
    EXPECT_FALSE(DirExists(t.Root + "/missing"));
    EXPECT_FALSE(DirExists(""));
}

TEST(ComboEdit, DefaultsLayoutAndGlyphKinds)
{
    TCustomComboEdit e;
    EXPECT_EQ(e.ClickKey(), 32808);
    EXPECT_EQ(e.ButtonWidth(), 21);
    EXPECT_EQ(e.Height(), std::max(21, e.MinHeight()));
    EXPECT_TRUE(e.DirectInput());
    // Inside a 2-pixel 3D border: (Width - 21 - 4, 0, 21, Height - 4) of the client area.
    e.SetBounds(0, 0, 121, 25);
    EXPECT_EQ(e.ButtonHolder()->geometry(), QRect(121 - 21 - 2, 2, 21, 25 - 4));
    EXPECT_EQ(e.Button()->Width(), 21);
    EXPECT_EQ(e.textMargins().right(), 23);
    e.SetButtonWidth(1);
    EXPECT_TRUE(e.ButtonHolder()->isHidden());
    EXPECT_EQ(e.textMargins().right(), 2);
    e.SetButtonWidth(21);
    EXPECT_FALSE(e.ButtonHolder()->isHidden());
    // Ellipsis: three 2 x 2 dots on a 15 x 4 bitmap, 3 pixels apart, centred.
    e.SetGlyphKind(gkEllipsis);
    TBitmap* dots = e.Glyph();
    ASSERT_EQ(dots->Width(), 15);
    ASSERT_EQ(dots->Height(), 4);
    std::string row;
    for (int32_t x = 0; x < 15; ++x)
        row += dots->PixelColor(x, 1) == clBlack ? '#' : '.';
    EXPECT_EQ(row, ".##...##...##..");
    EXPECT_EQ(e.NumGlyphs(), 1);
    // Assigning a glyph makes it custom.
    TBitmap g;
    g.SetPixelFormat(pf24bit);
    g.SetSize(10, 10);
    e.SetGlyph(&g);
    EXPECT_EQ(e.GlyphKind(), gkCustom);
    // The caret: 1 pixel, 2 for bold fonts.
    EXPECT_EQ(e.CaretWidth(), 1);
    QFont f = e.font();
    f.setBold(true);
    e.setFont(f);
    EXPECT_EQ(e.CaretWidth(), 2);
    // A resize below the minimum height is raised.
    e.SetBounds(0, 0, 121, 3);
    EXPECT_EQ(e.Height(), e.MinHeight());
}

TEST(ComboEdit, KeysButtonAndReadOnly)
{
    struct TForm : QWidget {
        std::vector<int> Keys;
        void keyPressEvent(QKeyEvent* E) override { Keys.push_back(E->key()); }
    } form;
    auto* e = new TCustomComboEdit(&form);
    int clicks = 0;
    e->OnButtonClick = [&](TObject*) { ++clicks; };
    SendKey(e, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(clicks, 1);
    SendKey(e, Qt::Key_Down);
    EXPECT_EQ(clicks, 1);
    form.Keys.clear();
    // Enter and Escape reach the form.
    SendKey(e, Qt::Key_Return);
    SendKey(e, Qt::Key_Escape);
    EXPECT_EQ(form.Keys, (std::vector<int>{Qt::Key_Return, Qt::Key_Escape}));
    // The button's click goes the same way; a read-only edit ignores both.
    e->Button()->Click();
    EXPECT_EQ(clicks, 2);
    e->SetReadOnly(true);
    EXPECT_TRUE(e->isReadOnly());
    e->DoClick();
    e->Button()->Click();
    EXPECT_EQ(clicks, 2);
    e->SetReadOnly(false);
    e->SetDirectInput(false);
    EXPECT_TRUE(e->isReadOnly()); // no typing, cut or paste
    e->DoClick();
    EXPECT_EQ(clicks, 3);
    // No button, no click key.
    e->SetButtonWidth(0);
    SendKey(e, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(clicks, 3);
}

TEST(DirectoryEdit, StartFolderAndChoice)
{
    TTempTree t;
    TDirectoryEdit e;
    EXPECT_EQ(e.GlyphKind(), gkDefault);
    EXPECT_EQ(e.ButtonWidth(), 21); // the 15-pixel folder + 6
    {
        TChooser c;
        c.Choice = t.Root + "/y/";
        e.DoClick();
        EXPECT_EQ(c.StartedAt, "/"); // empty text, empty InitialDir
        EXPECT_EQ(c.FormName, "SelectDirectory");
        EXPECT_EQ(e.Text(), t.Root + "/y"); // no trailing "/"
        EXPECT_EQ(e.InitialDir(), t.Root + "/y");
    }
    {
        TChooser c;
        c.Choice = t.Root + "/x";
        e.SetText(t.Root + "/missing");
        e.DoClick();
        EXPECT_EQ(c.StartedAt, "/");
        e.SetText("");
        e.SetInitialDir(t.Root + "/y");
        e.DoClick();
        EXPECT_EQ(c.StartedAt, t.Root + "/y");
        e.SetText(t.Root + "/x");
        e.DoClick();
        EXPECT_EQ(c.StartedAt, t.Root + "/x");
        EXPECT_EQ(e.InitialDir(), t.Root + "/x");
    }
    {
        // Cancel, or a choice of a missing folder (OK stays disabled): the text stays.
        TChooser c;
        e.SetText("keep");
        e.DoClick();
        EXPECT_EQ(e.Text(), "keep");
        c.Choice = t.Root + "/nothing";
        e.DoClick();
        EXPECT_EQ(e.Text(), "keep");
        EXPECT_EQ(c.Calls, 2);
    }
    {
        // The Win32 road goes through the browse dialog.
        TChooser c;
        c.Choice = t.Root + "/x";
        e.SetDialogKind(dkWin32);
        e.SetText("");
        e.DoClick();
        EXPECT_EQ(c.FormName, "TBrowseFolderDlg");
        EXPECT_EQ(e.Text(), t.Root + "/x");
    }
}

TEST(DirectoryEdit, MultipleDirsAndDialogEvents)
{
    TTempTree t;
    TDirectoryEdit e;
    e.SetMultipleDirs(true);
    TChooser c;
    c.Choice = t.Root + "/y";
    e.SetText(t.Root + "/x");
    e.DoClick();
    EXPECT_EQ(e.Text(), t.Root + "/x;" + t.Root + "/y");
    // With the whole text selected the choice is still added, not swapped in.
    e.SetText(t.Root + "/x");
    e.SelectAll();
    e.DoClick();
    EXPECT_EQ(e.Text(), t.Root + "/x;" + t.Root + "/y");
    // A list is no folder: the chooser starts at the root.
    e.DoClick();
    EXPECT_EQ(c.StartedAt, "/");
    EXPECT_EQ(e.LongName(), e.Text());

    // OnBeforeDialog can stop the chooser; OnAfterDialog sees the outcome and may change it.
    e.SetMultipleDirs(false);
    e.SetText("before");
    bool afterAction = true;
    e.OnBeforeDialog = [](TObject*, std::string&, bool& Action) { Action = false; };
    e.OnAfterDialog = [&](TObject*, std::string&, bool& Action) { afterAction = Action; };
    const int calls = c.Calls;
    e.DoClick();
    EXPECT_EQ(c.Calls, calls);
    EXPECT_FALSE(afterAction);
    EXPECT_EQ(e.Text(), "before");
    e.OnBeforeDialog = nullptr;
    e.OnAfterDialog = [&](TObject*, std::string& Name, bool& Action) { Name = t.Root + "/x"; };
    e.DoClick();
    EXPECT_EQ(e.Text(), t.Root + "/x");
    // Read-only: neither OnButtonClick nor the chooser.
    int buttonClicks = 0;
    e.OnButtonClick = [&](TObject*) { ++buttonClicks; };
    e.SetReadOnly(true);
    e.DoClick();
    EXPECT_EQ(buttonClicks, 0);
    EXPECT_EQ(c.Calls, calls + 1);
}

TEST(DirectoryEdit, DroppedFilesAndBrowseDialog)
{
    TTempTree t;
    TDirectoryEdit e;
    e.SetAcceptFiles(true);
    int drops = 0;
    e.OnDropFiles = [&](TObject*) { ++drops; };
    e.DropFiles({t.Root + "/x/f.txt", t.Root + "/y"});
    EXPECT_EQ(e.Text(), t.Root + "/x/"); // a file stands for its folder; only the first name
    e.SetMultipleDirs(true);
    e.DropFiles({t.Root + "/y", t.Root + "/x/f.txt"});
    EXPECT_EQ(e.Text(), t.Root + "/x/;" + t.Root + "/y;" + t.Root + "/x/");
    EXPECT_EQ(drops, 2);

    TBrowseFolderDlg d;
    int inits = 0, changes = 0;
    d.OnInitialized = [&](TObject*) { ++inits; };
    d.OnSelChanged = [&](TObject*) { ++changes; };
    d.SelectFolder(t.Root + "/nothing");
    EXPECT_FALSE(d.OkEnabled());
    {
        TChooser c;
        c.Choice = t.Root + "/y/";
        d.Folder = t.Root;
        ASSERT_TRUE(d.Execute());
        EXPECT_EQ(c.StartedAt, t.Root);
        EXPECT_EQ(d.Folder, t.Root + "/y");
        EXPECT_EQ(d.DisplayName, "y");
        EXPECT_EQ(d.ImageIndex, -1);
        EXPECT_EQ(inits, 1);
        EXPECT_GE(changes, 2);
        d.BrowseKind = bfComputers;
        EXPECT_FALSE(d.Execute());
        EXPECT_EQ(c.Calls, 1);
    }
}

TEST(DirectoryEdit, SelectDirectoryCreatesWhenAllowed)
{
    TTempTree t;
    const std::string fresh = t.Root + "/new/deeper";
    TChooser c;
    c.Choice = fresh;
    std::string dir = t.Root;
    EXPECT_FALSE(SelectDirectory(dir, 0, 0)); // a missing folder cannot be chosen
    EXPECT_EQ(dir, t.Root);
    // Allowed, then refused at the prompt: the chooser's answer, then No.
    {
        TScriptedAnswers answers; // the prompt's answer: the queue is empty, so Cancel
        SetDialogAnswerer([&](const TDialogRequest& R) {
            TDialogAnswer a;
            if (auto* dlg = dynamic_cast<TBrowseFolderDlg*>(R.Form)) {
                dlg->SelectFolder(fresh);
                a.Result = mrOk;
            } else {
                a.Result = mrNo;
            }
            return a;
        });
        EXPECT_FALSE(SelectDirectory(dir, sdAllowCreate | sdPerformCreate | sdPrompt, 0));
        EXPECT_FALSE(DirExists(fresh));
    }
    EXPECT_TRUE(SelectDirectory(dir, sdAllowCreate | sdPerformCreate, 0));
    EXPECT_EQ(dir, fresh);
    EXPECT_TRUE(DirExists(fresh));
}
