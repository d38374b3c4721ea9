// File > Print: on once its window exists and the background holds a picture; it shows
// the print layout over the flattened render and lets the render go however it closes.
#include "editor/ApplicationForms.h"
#include "editor/EditorFixture.h"
#include "effects/PrintRaster32.h"
#include "platform/Dialogs.h"
#include "platform/Printers.h"

#include <QAction>
#include <QCoreApplication>

#include <filesystem>

using namespace kv;
namespace fs = std::filesystem;

namespace {

class PrintCommandTest : public test::IsolatedEditorTest {
protected:
    void SetUp() override
    {
        MakeForm("kv_print_", {"data"}, 600, 600);
        Pdf = Root / "out.pdf";
        Printer()->SetTestOutput(Pdf.string());
        Printer()->SetPaperSize(210, 297);
    }
    void TearDown() override
    {
        Printer()->SetTestOutput("");
        test::IsolatedEditorTest::TearDown();
    }
    bool Enabled() const { return Form->Command("N70")->isEnabled(); }
    fs::path Pdf;
};

} // namespace

TEST_F(PrintCommandTest, EnabledWithItsWindowAndAPicture)
{
    Form->NewBackground(40, 20, 0xFF0000FF);
    Form->UpdateCommandEnabling();
    EXPECT_FALSE(Enabled()); // no window yet
    CreateApplicationForms(*Form);
    ASSERT_NE(Form->KVNPrint, nullptr);
    EXPECT_TRUE(Enabled());
    // An empty render would print nothing: an empty background keeps it off.
    Form->ImgView->Bitmap()->SetSize(0, 0);
    Form->UpdateCommandEnabling();
    EXPECT_FALSE(Enabled());
}

TEST_F(PrintCommandTest, PrintsTheFlattenedRenderAndReleasesIt)
{
    CreateApplicationForms(*Form);
    Form->NewBackground(40, 20, 0xFF0000FF);
    Form->UpdateCommandEnabling();
    TScriptedAnswers answers;
    answers.Then(mrCancel).Then(mrOk);
    Form->Command("N70")->trigger();
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].FormName, "TKVNPrint");
    EXPECT_EQ(Form->FlatImage(), nullptr);
    EXPECT_FALSE(fs::exists(Pdf)); // cancelled

    Form->Command("N70")->trigger();
    EXPECT_EQ(Form->KVNPrint->ModalResult(), mrOk);
    EXPECT_TRUE(fs::exists(Pdf));
    EXPECT_EQ(Form->FlatImage(), nullptr);
    EXPECT_EQ(Form->KVNPrint->PrintView->Layers()->Count(), 0); // closing forgets them
}

TEST_F(PrintCommandTest, PrinterSetupKeepsTheChoice)
{
    TScriptedAnswers answers;
    TDialogAnswer a;
    a.Result = mrOk;
    a.Orientation = poLandscape;
    a.Copies = 4;
    answers.Then(a);
    Form->N62Click();
    EXPECT_EQ(Printer()->Orientation(), poLandscape);
    EXPECT_EQ(Printer()->Copies(), 4);
    EXPECT_GT(Printer()->PageWidth(), Printer()->PageHeight()); // the page the print dialog lays out
    // A setup closed with Cancel leaves the choice as it was, whatever it showed.
    a.Result = mrCancel;
    a.Orientation = poPortrait;
    a.Copies = 2;
    answers.Then(a);
    Form->N62Click();
    EXPECT_EQ(Printer()->Orientation(), poLandscape);
    EXPECT_EQ(Printer()->Copies(), 4);
    Printer()->SetOrientation(poPortrait);
    Printer()->SetCopies(1);
}

// The page is fitted to the view as the user sees it from the first opening on: the
// first activation comes before the dialog was ever laid out.
TEST_F(PrintCommandTest, ThePageIsFittedAlikeAtEveryOpening)
{
    CreateApplicationForms(*Form);
    Form->NewBackground(40, 20, 0xFF0000FF);
    Form->UpdateCommandEnabling();
    TKVNPrint* print = Form->KVNPrint;
    float scales[2] = {0, 0};
    for (float& scale : scales) {
        TScriptedAnswers answers;
        answers.Then(mrCancel);
        Form->Command("N70")->trigger();
        scale = print->PrintView->Scale();
        // What a real showing does between two openings.
        print->show();
        QCoreApplication::processEvents();
        print->hide();
    }
    EXPECT_GT(scales[0], 0.0f);
    EXPECT_EQ(scales[0], scales[1]);
}
