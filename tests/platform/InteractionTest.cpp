#include "platform/Clipbrd.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/Threads.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <thread>

using namespace kv;

TEST(ClipboardTest, BitmapAndNamedFormatsRoundTripOffscreen)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 2);
    bmp.SetPixelColor(2, 1, clRed);
    Clipboard()->Assign(&bmp);
    EXPECT_TRUE(Clipboard()->HasFormat(CF_BITMAP));
    TBitmap back;
    back.Assign(Clipboard());
    EXPECT_EQ(back.Width(), 3);
    EXPECT_EQ(back.PixelColor(2, 1), clRed);
    TPicture pic;
    pic.Assign(Clipboard());
    EXPECT_EQ(pic.Bitmap()->PixelColor(2, 1), clRed);

    TClipboardFormat gif = RegisterClipboardFormat("GIF Image");
    EXPECT_GE(gif, 0xC000);
    EXPECT_EQ(RegisterClipboardFormat("GIF Image"), gif);
    EXPECT_FALSE(Clipboard()->HasFormat(gif));
    std::vector<uint8_t> bytes{'G', 'I', 'F', 0, 0xFF};
    Clipboard()->Open();
    Clipboard()->SetAsHandle(gif, bytes);
    Clipboard()->Assign(&bmp);
    Clipboard()->Close();
    EXPECT_TRUE(Clipboard()->HasFormat(gif));
    EXPECT_TRUE(Clipboard()->HasFormat(CF_BITMAP));
    EXPECT_EQ(Clipboard()->GetAsHandle(gif), bytes);
    // Outside Open/Close a set replaces the content.
    Clipboard()->SetAsText("x");
    EXPECT_FALSE(Clipboard()->HasFormat(gif));
    TBitmap none;
    EXPECT_THROW(none.Assign(Clipboard()), EConvertError);
}

TEST(DialogsTest, ScriptedMessageBoxesAndFileDialogs)
{
    TScriptedAnswers answers;
    answers.Then(mrNo).Then(mrYes);
    EXPECT_EQ(MessageDlg("Save changes?", mtConfirmation, mbYesNoCancel), mrNo);
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].Text, "Save changes?");
    EXPECT_EQ(answers.Requests[0].Caption, "Confirm");
    EXPECT_EQ(answers.Requests[0].Buttons, mbYesNoCancel);
    EXPECT_EQ(answers.Requests[0].DefaultResult, mrYes);
    EXPECT_EQ(MessageBox("Retry?", "Kelvane", MB_RETRYCANCEL | MB_ICONWARNING), IDYES);
    EXPECT_EQ(answers.Requests[1].DefaultResult, mrRetry);
    EXPECT_EQ(answers.Requests[1].DlgType, mtWarning);

    TDialogAnswer file;
    file.Result = mrOk;
    file.FileName = "/tmp/picture";
    file.FilterIndex = 2;
    answers.Then(file).Then(mrCancel);
    TSaveDialog save;
    save.Filter = "Bitmaps (*.bmp)|*.bmp|JPEG (*.jpg)|*.jpg";
    save.DefaultExt = "bmp";
    EXPECT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName, "/tmp/picture.bmp");
    EXPECT_EQ(save.FilterIndex, 2);
    EXPECT_EQ(answers.Requests[2].Kind, dkSaveFile);
    TColorDialog colour;
    colour.Color = clRed;
    EXPECT_FALSE(colour.Execute());
    EXPECT_EQ(colour.Color, clRed);
    EXPECT_EQ(answers.Pending(), 0u);

    int fields = 0;
    SetDialogAnswerer([&](const TDialogRequest& r) {
        TDialogAnswer a;
        if (r.Kind == dkModalForm && r.FormName == "TPosta") {
            ++fields; // a real test would fill the form's controls here
            a.Result = mrOk;
        }
        return a;
    });
    EXPECT_EQ(ShowModalForm(nullptr, "TPosta", [] { return mrAbort; }), mrOk);
    EXPECT_EQ(fields, 1);
}

TEST(DialogsTest, OffscreenWithoutAnswererTakesTheDefault)
{
    TDialogAnswerer old = SetDialogAnswerer(nullptr);
    EXPECT_EQ(MessageDlg("Overwrite?", mtConfirmation, mbYesNo), mrYes);
    EXPECT_EQ(MessageBox("x", "y", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    TOpenDialog open;
    EXPECT_FALSE(open.Execute());
    SetDialogAnswerer(old);
}

namespace {
// Shows the real message box for Buttons and lets Act answer it once it is up.
TModalResult AnswerRealBox(TMsgDlgButtons Buttons, const std::function<void(QWidget*)>& Act)
{
    TDialogRequest r;
    r.Kind = dkMessage;
    r.Text = "The image has been changed. Do you want to save it?";
    r.DlgType = mtConfirmation;
    r.Buttons = Buttons;
    QTimer::singleShot(0, [Act] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box)
            return;
        Act(box);
        // A box that ignored the key is ended with its first button, so a fault fails
        // the test instead of hanging it.
        QPointer<QWidget> still(box);
        QTimer::singleShot(200, [still] {
            if (auto* b = qobject_cast<QMessageBox*>(still.data()); b && b->isVisible())
                b->buttons().first()->click();
        });
    });
    return ShowRealDialog(r).Result;
}
void PressEscape(QWidget* Box)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(Box, &press);
}
} // namespace

TEST(DialogsTest, EscapeAndCloseOfARealMessageBoxCancel)
{
    EXPECT_EQ(AnswerRealBox(mbYesNoCancel, PressEscape), mrCancel);
    EXPECT_EQ(AnswerRealBox(mbYesNoCancel, [](QWidget* B) { B->close(); }), mrCancel);
    EXPECT_EQ(AnswerRealBox(mbYesNo, PressEscape), mrNo); // no Cancel: No
    EXPECT_EQ(AnswerRealBox(mbOKOnly, PressEscape), mrOk);
}

TEST(DialogsTest, RealFileDialogShowsEachFiltersPatternsOnce)
{
    TDialogRequest r;
    r.Kind = dkOpenFile;
    r.Filter = "All (*.gif;*.png)|*.gif;*.png|GIF Image (*.gif)|*.gif|Any|*.*";
    r.FilterIndex = 2;
    QStringList shown;
    QString selected;
    QTimer::singleShot(0, [&] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            shown = d->nameFilters();
            selected = d->selectedNameFilter();
            d->reject();
        }
    });
    EXPECT_EQ(ShowRealDialog(r).Result, mrCancel);
    EXPECT_EQ(shown, (QStringList{"All (*.gif *.png)", "GIF Image (*.gif)", "Any (*.*)"}));
    EXPECT_EQ(selected, "GIF Image (*.gif)");
}

TEST(FormsTest, SafeCallShowsTheErrorBoxAndCarriesOn)
{
    TScriptedAnswers answers;
    Application()->SetTitle("Kelvane");
    EXPECT_FALSE(SafeCall([] { throw EInvalidGraphic("Bitmap image is not valid"); }));
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].Text, "Bitmap image is not valid.");
    EXPECT_EQ(answers.Requests[0].Caption, "Kelvane");
    EXPECT_EQ(answers.Requests[0].DlgType, mtError);
    EXPECT_FALSE(SafeCall([] { throw EAbort("silent"); }));
    EXPECT_EQ(answers.Requests.size(), 1u);
    EXPECT_TRUE(SafeCall([] {}));
    EXPECT_FALSE(Application()->ExeName().empty());
}

TEST(FormsTest, TimerFiresThroughTheWrapper)
{
    TScriptedAnswers answers;
    TTimer timer;
    timer.SetInterval(5);
    int ticks = 0;
    timer.OnTimer = [&](TObject* s) {
        EXPECT_EQ(s, &timer);
        if (++ticks == 2)
            throw Exception("tick failed");
    };
    QElapsedTimer clock;
    clock.start();
    while (ticks < 3 && clock.elapsed() < 2000)
        Application()->ProcessMessages();
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(answers.Requests.size(), 1u);
    timer.SetEnabled(false);
    int seen = ticks;
    clock.restart();
    while (clock.elapsed() < 30)
        Application()->ProcessMessages();
    EXPECT_EQ(ticks, seen);
}

TEST(ThreadsTest, SynchronizeQueueAndEvents)
{
    TCriticalSection cs;
    cs.Enter();
    EXPECT_TRUE(cs.TryEnter()); // recursive
    cs.Leave();
    cs.Leave();

    TEvent done(true, false);
    EXPECT_EQ(done.WaitFor(1), wrTimeout);
    bool ranOnMain = false, queued = false, rethrown = false;
    std::thread worker([&] {
        Synchronize([&] { ranOnMain = IsMainThread(); });
        try {
            Synchronize([] { throw EAbort("x"); });
        } catch (const EAbort&) {
            rethrown = true;
        }
        QueueToMainThread([&] { queued = true; });
        done.SetEvent();
    });
    QElapsedTimer clock;
    clock.start();
    while ((done.WaitFor(0) != wrSignaled || !queued) && clock.elapsed() < 2000)
        QCoreApplication::processEvents();
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(rethrown);
    EXPECT_TRUE(queued);
    TEvent autoReset(false, true);
    EXPECT_EQ(autoReset.WaitFor(0), wrSignaled);
    EXPECT_EQ(autoReset.WaitFor(0), wrTimeout);
}

TEST(ScreenTest, FontsListedAndCursorOverride)
{
    const TStringList& fonts = Screen()->Fonts();
    EXPECT_GT(fonts.Count(), 0);
    Screen()->SetCursor(crHourGlass);
    EXPECT_EQ(Screen()->Cursor(), crHourGlass);
    Screen()->SetCursor(crDefault);
    EXPECT_EQ(Screen()->Cursor(), crDefault);
}
