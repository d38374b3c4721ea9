// Image > Add Text with the window the entry point makes: the command waits for it, OK
// adds the text layer, and every other way of closing takes the preview away.
#include "editor/ApplicationForms.h"
#include "editor/EditorFixture.h"
#include "effects/TexterUnit.h"
#include "platform/Dialogs.h"

#include <QAction>
#include <QCheckBox>

#include <gtest/gtest.h>

using namespace kv;

namespace {

class TexterEditorTest : public test::IsolatedEditorTest {
protected:
    void SetUp() override
    {
        MakeForm("kv_texter_", {"data"}, 400, 300);
        Form->NewBackground(100, 80, 0xFF204060);
    }
    // Picture layers only: the selection's rubber band stays once made.
    int32_t LayerCount()
    {
        int32_t n = 0;
        for (int32_t i = 0; i < Form->ImgView->Layers()->Count(); ++i)
            n += dynamic_cast<TBitmapLayer*>(Form->ImgView->Layers()->Items(i)) != nullptr;
        return n;
    }
    // Shows Add Text; the answerer presses Preview Previews times, then closes with Result.
    void AddText(int32_t Previews, TModalResult Result)
    {
        TDialogAnswerer previous = SetDialogAnswerer([&](const TDialogRequest& R) {
            TDialogAnswer a;
            if (R.Kind == dkModalForm && R.FormName == "TTexter")
                for (int32_t i = 0; i < Previews; ++i)
                    Form->Texter->Button3Click();
            a.Result = Result;
            return a;
        });
        Form->Command("N33")->trigger();
        SetDialogAnswerer(previous);
    }
};

} // namespace

TEST_F(TexterEditorTest, AddTextIsEnabledOnceItsWindowExists)
{
    Form->UpdateCommandEnabling();
    EXPECT_FALSE(Form->Command("N33")->isEnabled());
    CreateApplicationForms(*Form);
    ASSERT_NE(Form->Texter, nullptr);
    EXPECT_TRUE(Form->Command("N33")->isEnabled());
}

TEST_F(TexterEditorTest, OkKeepsOneTextLayerAndAnyOtherCloseRemovesThePreview)
{
    CreateApplicationForms(*Form);
    const int32_t before = LayerCount();
    // A saved document stays saved: the next Open or New asks nothing.
    Form->ModifiedState = msSaved;
    AddText(2, mrCancel); // two previews leave one layer, and Cancel takes it
    EXPECT_EQ(LayerCount(), before);
    EXPECT_EQ(Form->ModifiedState, msSaved);
    AddText(1, mrAbort); // a close with no button (the title bar)
    EXPECT_EQ(LayerCount(), before);
    EXPECT_EQ(Form->ModifiedState, msSaved);
    {
        TScriptedAnswers none;
        EXPECT_TRUE(Form->AskSaveChanges());
        EXPECT_TRUE(none.Requests.empty());
    }
    AddText(2, mrOk);
    ASSERT_EQ(LayerCount(), before + 1);
    EXPECT_EQ(Form->ModifiedState, msChanged);
    // The layer is the rendered text: with a transparent background its alpha is the mask.
    auto* layer = dynamic_cast<TBitmapLayer*>(Form->Selection());
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->Bitmap()->Width(), Form->Texter->Image()->Width());
    EXPECT_EQ(layer->Bitmap()->GetPixelFast(0, 0) >> 24, 0u);
}

// Preview and OK each draw the text's letters once, whichever the background: the layer's
// own render draws them, and the check before it only fills or measures. The layer is
// the render all the same.
TEST_F(TexterEditorTest, PreviewAndOkDrawTheLettersOnce)
{
    CreateApplicationForms(*Form);
    for (bool Transparent : {true, false}) {
        SCOPED_TRACE(Transparent ? "transparent background" : "opaque background");
        Form->Texter->Alpha->setChecked(Transparent);
        int32_t PreviewDraws = -1, OkDraws = -1;
        TDialogAnswerer previous = SetDialogAnswerer([&](const TDialogRequest& R) {
            TDialogAnswer a;
            a.Result = mrOk;
            if (R.Kind == dkModalForm && R.FormName == "TTexter") {
                const int32_t Start = Form->Texter->LetterRenders();
                Form->Texter->Button3Click();
                PreviewDraws = Form->Texter->LetterRenders() - Start;
                Form->Texter->Button1Click();
                OkDraws = Form->Texter->LetterRenders() - Start - PreviewDraws;
            }
            return a;
        });
        Form->Command("N33")->trigger();
        SetDialogAnswerer(previous);
        EXPECT_EQ(PreviewDraws, 1);
        EXPECT_EQ(OkDraws, 1);
        auto* layer = dynamic_cast<TBitmapLayer*>(Form->Selection());
        ASSERT_NE(layer, nullptr);
        Form->Texter->RenderIt(TextRenderNormal);
        TBitmap32* Render = Form->Texter->Image();
        ASSERT_EQ(layer->Bitmap()->Width(), Render->Width());
        ASSERT_EQ(layer->Bitmap()->Height(), Render->Height());
        if (Transparent) {
            EXPECT_EQ(layer->Bitmap()->GetPixelFast(0, 0) >> 24, 0u);
        } else {
            for (int32_t Y = 0; Y < Render->Height(); ++Y)
                for (int32_t X = 0; X < Render->Width(); ++X)
                    ASSERT_EQ(layer->Bitmap()->GetPixelFast(X, Y), Render->GetPixelFast(X, Y)) << X << "," << Y;
        }
    }
}
