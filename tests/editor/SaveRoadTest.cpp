// The editor's writers take the one save road: the project, the settings files, and
// File > Save and Save As, whose failed write shows the system's reason and leaves the
// document modified (tests/common/SaveFailure.h).
#include "common/SaveFailure.h"
#include "editor/ApplicationForms.h"
#include "editor/EditorFixture.h"
#include "editor/FileAssociation.h"
#include "editor/MainUnit.h"
#include "editor/Settings.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "raster/Raster32.h"

#include <gtest/gtest.h>

using namespace kv;
using namespace kvtest;

namespace {

TDialogAnswer FileAnswer(const std::string& Name, int32_t Filter)
{
    TDialogAnswer a;
    a.Result = mrOk;
    a.FileName = Name;
    a.FilterIndex = Filter;
    return a;
}

class EditorSaveRoadTest : public test::IsolatedEditorTest {
protected:
    void SetUp() override
    {
        MakeForm("kv_saveroad_", {"files", "data"}, 600, 600);
        CreateApplicationForms(*Form);
        TBitmap32 b;
        b.SetSize(60, 40);
        for (int32_t i = 0; i < 60 * 40; ++i)
            b.Bits()[i] = TColor32(0xFF000000u | uint32_t(i * 2654435761u >> 8));
        const std::string src = File("src.bmp");
        b.SaveToFile(src);
        TScriptedAnswers answers;
        answers.Then(FileAnswer(src, 0));
        Form->mnFileOpenClick();
    }
    std::string File(const std::string& Name) const { return (Root / "files" / Name).string(); }
};

} // namespace

TEST_F(EditorSaveRoadTest, ProjectAndSettingsKeepTheOldFileAndFollowLinks)
{
    const TSaveRoadCase cases[] = {
        {"project", "p.kvn", [this](const std::string& N) { Form->SaveProject(N); }, 1000},
        {"recent list", "Dirs.lst",
         [](const std::string& N) {
             std::vector<std::string> files;
             for (int i = 0; i < 5; ++i)
                 files.push_back("/some/folder/with/a/long/name/picture-" + std::to_string(i) + ".bmp");
             SaveRecentList(N, files);
         },
         100},
        {"view settings", "View.ziv", [](const std::string& N) { SaveViewSettings(N, TEditorBackground()); }, 2},
        {"settings bytes (associations, window record)", "Assoc.reg",
         [](const std::string& N) { WriteSettingsBytes(N, std::string(500, 'x')); }, 100},
    };
    for (const auto& c : cases)
        CheckSaveRoad(c);
}

// File > Save of an opened picture of each kind the editor writes back, and Save As
// through each filter, under a size limit: the message box shows the system's reason,
// the document is still modified (the close question will ask), the old file stays.
TEST_F(EditorSaveRoadTest, FailedSaveShowsTheReasonAndKeepsTheDocumentModified)
{
    struct {
        const char* Name;
        int32_t SaveAsFilter; // 0: File > Save of the opened name
    } cases[] = {{"open.bmp", 0}, {"open.kvn", 0}, {"open.gif", 0}, {"open.jpg", 0},
                 {"as.kvn", 1},   {"as.bmp", 2},   {"as.jpg", 3},   {"as.gif", 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string name = File(c.Name);
        const std::string old = OldFileBytes();
        PutFileBytes(name, old);
        Form->ModifiedState = msChanged;
        if (c.SaveAsFilter == 0)
            Form->OpenPictureDialog1->FileName = name;
        const TChildOutcome r = RunUnderFileSizeLimit(200, [&] {
            TScriptedAnswers answers;
            if (c.SaveAsFilter != 0) {
                answers.Then(FileAnswer(name, c.SaveAsFilter));
                if (c.SaveAsFilter >= 3)
                    answers.Then(mrOk); // the options window's Save
                answers.Then(mrYes);    // replace the file that is there
            }
            answers.Then(mrOk); // the error box
            SafeCall([&] { c.SaveAsFilter == 0 ? Form->Save1Click() : Form->N3Click(); });
            std::string shown;
            for (const TDialogRequest& q : answers.Requests)
                if (q.Kind == dkMessage && q.Text.rfind("Cannot", 0) == 0)
                    shown += q.Text;
            return shown + "|" + std::to_string(Form->ModifiedState);
        });
        EXPECT_TRUE(r.Finished);
        EXPECT_FALSE(r.Raised) << r.Text;
        // The error box ends the message with a full stop, as it does every message.
        EXPECT_EQ(r.Text, TooLargeMessage(name) + ".|" + std::to_string(msChanged));
        EXPECT_TRUE(FileBytes(name) == old) << "the old file was changed";
        for (const std::string& left : FolderNames((Root / "files").string()))
            EXPECT_EQ(left.rfind(".", 0), std::string::npos) << "left behind: " << left;
    }
}

// The association files go the same road: under a limit nothing is half written.
TEST_F(EditorSaveRoadTest, AssociationFilesAreWholeOrNotThere)
{
    const TChildOutcome r = RunUnderFileSizeLimit(50, [&] {
        RegisterFileType("/usr/bin/kelvane", "/usr/share/kelvane/Icon.ico", false);
        return std::string();
    });
    EXPECT_TRUE(r.Raised);
    EXPECT_EQ(r.Text.rfind("Cannot write file \"", 0), 0u) << r.Text;
    EXPECT_NE(r.Text.find("\": File too large"), std::string::npos) << r.Text;
    EXPECT_FALSE(AssociationRegistered());
    RegisterFileType("/usr/bin/kelvane", "/usr/share/kelvane/Icon.ico", false);
    EXPECT_TRUE(AssociationRegistered());
}
