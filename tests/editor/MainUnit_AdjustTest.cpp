// The tone commands driven through their handlers: the live Brightness / Contrast and
// Color Balance dialogs, the Sharpness and Softness previews, Sharpen, Soften and
// Grayscale, each on a layer with transparent and half-transparent pixels, and undo.
#include "editor/ApplicationForms.h"
#include "editor/EditorFixture.h"
#include "editor/MainUnit.h"
#include "effects/AdjustDialogs.h"
#include "fx/ToneFilters.h"
#include "platform/Dialogs.h"
#include "platform/SysUtils.h"
#include "raster/Raster32_RangeBars.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QRadioButton>
#include <QSlider>

#include <vector>

using namespace kv;

namespace {

std::vector<TColor32> Pixels(const TBitmap32& B) { return {B.Bits(), B.Bits() + B.Width() * B.Height()}; }

// Answers every modal dialog by running Script on it and closing with Result.
class TDialogScript {
public:
    TDialogScript(TModalResult Result, std::function<void(TObject*)> Script)
    {
        FPrevious = SetDialogAnswerer([this, Result, Script](const TDialogRequest& R) {
            Names.push_back(R.FormName);
            Script(R.Form);
            TDialogAnswer A;
            A.Result = Result;
            return A;
        });
    }
    ~TDialogScript() { SetDialogAnswerer(FPrevious); }
    std::vector<std::string> Names;

private:
    TDialogAnswerer FPrevious;
};

class AdjustTest : public test::EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        CreateApplicationForms(*Form);
    }
    // A 6 x 5 layer, selected: grey 100 everywhere but a brighter centre, with alpha 0
    // in its first row, 128 in its second and 255 below; master alpha 200.
    TBitmapLayer* Layer()
    {
        TBitmapLayer* L = AddPicture(6, 5, 0xFF646464u, {0, 0, 6, 5});
        for (int32_t X = 0; X < 6; ++X) {
            L->Bitmap()->SetPixelFast(X, 0, 0x00646464u);
            L->Bitmap()->SetPixelFast(X, 1, 0x80646464u);
        }
        L->Bitmap()->SetPixelFast(2, 2, 0xFF787878u);
        L->Bitmap()->SetMasterAlpha(200);
        Form->SetSelection(L);
        return L;
    }
};

} // namespace

TEST_F(AdjustTest, SharpenKeepsTransparencyAndUndoes)
{
    TBitmapLayer* L = Layer();
    const auto Before = Pixels(*L->Bitmap());
    Form->N74Click();
    EXPECT_EQ(Form->Effect->Value->Position(), 5);
    EXPECT_TRUE(Form->PreviewBackup()->IsEmpty());
    // Centre 120 among 100s at Alpha 5: 5 * 120 - 0.8 * 520 = 184; a neighbour of it
    // 5 * 100 - 416 = 84.
    EXPECT_EQ(L->Bitmap()->GetPixelFast(2, 2), 0xFFB8B8B8u);
    EXPECT_EQ(L->Bitmap()->GetPixelFast(2, 3), 0xFF545454u);
    for (int32_t X = 0; X < 6; ++X) {
        EXPECT_EQ(L->Bitmap()->GetPixelFast(X, 0) >> 24, 0u);
        EXPECT_EQ(L->Bitmap()->GetPixelFast(X, 1) >> 24, 0x80u);
    }
    EXPECT_EQ(L->Bitmap()->MasterAlpha(), 200u);
    Form->N17Click();
    EXPECT_EQ(Pixels(*L->Bitmap()), Before);
}

TEST_F(AdjustTest, SharpenOnATinyPictureRaisesAndChangesNothing)
{
    TBitmapLayer* L = AddPicture(2, 2, 0x80102030u, {0, 0, 2, 2});
    Form->SetSelection(L);
    try {
        Form->N74Click();
        ADD_FAILURE() << "no error";
    } catch (const EAssertionFailed& E) {
        EXPECT_EQ(std::string(E.what()), "Bitmap must be at least 3x3");
    }
    EXPECT_EQ(Pixels(*L->Bitmap()), std::vector<TColor32>(4, 0x80102030u));
    EXPECT_TRUE(Form->PreviewBackup()->IsEmpty());
    // A later dialog's restore finds no stale backup to paste over the background.
    const auto Background = Pixels(*Bg());
    Form->SetSelection(nullptr);
    Form->Effect->Button2Click();
    EXPECT_EQ(Pixels(*Bg()), Background);
}

TEST_F(AdjustTest, PreviewThenCancelLeavesTheLayerAndTakesNoUndo)
{
    TBitmapLayer* L = Layer();
    const auto Before = Pixels(*L->Bitmap());
    {
        TDialogScript Script(mrCancel, [this, L](TObject*) {
            Form->Effect->Value->SetPosition(4);
            Form->Effect->Button3Click();
            Form->Effect->Button3Click();
            EXPECT_NE(Pixels(*L->Bitmap()), Pixels(*Form->PreviewBackup())); // the preview shows
        });
        Form->N78Click();
        TDialogScript Soft(mrCancel, [this](TObject*) {
            Form->DeFoc->Value->SetPosition(3);
            Form->DeFoc->Button3Click();
        });
        Form->N76Click();
        EXPECT_EQ((Soft.Names), std::vector<std::string>{"TDeFoc"});
    }
    EXPECT_EQ(Pixels(*L->Bitmap()), Before);
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_TRUE(Form->PreviewBackup()->IsEmpty());
}

TEST_F(AdjustTest, SeveralPreviewsThenOkApplyTheFinalValueOnce)
{
    struct TCase {
        std::function<void()> Run;         // the command with its previews
        std::function<void()> ApplyDirect; // one application of the final value
        TColor32 Centre, Below;            // (2, 2) and (2, 3) worked out for that value, or 0
    } const Cases[] = {
        {[this] {
             TDialogScript Script(mrOk, [this](TObject*) {
                 for (int32_t V : {5, 2, 3}) {
                     Form->Effect->Value->SetPosition(V);
                     Form->Effect->Button3Click();
                 }
             });
             Form->N78Click();
         },
         [this] { SharpenBitmap(*Form, 3); },
         // At Alpha 3: 3 * 120 - 0.4 * 520 = 152 and 3 * 100 - 0.4 * 520 = 92.
         0xFF989898u, 0xFF5C5C5Cu},
        {[this] {
             TDialogScript Script(mrOk, [this](TObject*) {
                 Form->DeFoc->Ras->setChecked(true);
                 for (int32_t V : {4, 1, 2}) {
                     Form->DeFoc->Value->SetPosition(V);
                     Form->DeFoc->Button3Click();
                 }
             });
             Form->N76Click();
         },
         [this] { SoftenBitmap(*Form, 2, TSoftFocus::On); }, 0, 0},
    };
    for (const TCase& Case : Cases) {
        TBitmapLayer* L = Layer();
        const auto Before = Pixels(*L->Bitmap());
        Case.Run();
        const auto After = Pixels(*L->Bitmap());
        if (Case.Centre) {
            EXPECT_EQ(L->Bitmap()->GetPixelFast(2, 2), Case.Centre);
            EXPECT_EQ(L->Bitmap()->GetPixelFast(2, 3), Case.Below);
        }
        EXPECT_TRUE(Form->PreviewBackup()->IsEmpty());
        Form->N17Click();
        EXPECT_EQ(Pixels(*L->Bitmap()), Before);
        Case.ApplyDirect();
        EXPECT_EQ(Pixels(*L->Bitmap()), After);
        Form->PreviewBackup()->SetSize(0, 0);
    }
}

TEST_F(AdjustTest, SoftenSetsSoftFocusAndGrayscaleWorksOnTheBackground)
{
    // A 1 x 1 layer: every index of the blur stays on its one pixel.
    TBitmapLayer* Dot = AddPicture(1, 1, 0x80A0B0C0u, {0, 0, 1, 1});
    Form->SetSelection(Dot);
    Form->N75Click();
    EXPECT_EQ(Dot->Bitmap()->GetPixelFast(0, 0), 0x80A0B0C0u);
    EXPECT_EQ(Form->DeFoc->Value->Position(), 1);
    EXPECT_TRUE(Form->DeFoc->Ras->isChecked());
    // On a 3 x 1 picture the blur averages the two outer pixels into the middle one,
    // rounded: (0 + 0 + 255 + 255 + 2) shr 2.
    TBitmapLayer* Row = AddPicture(3, 1, 0xFF000000u, {0, 0, 3, 1});
    Row->Bitmap()->SetPixelFast(2, 0, 0xFF0000FFu);
    Form->SetSelection(Row);
    Form->N75Click();
    EXPECT_EQ(Row->Bitmap()->GetPixelFast(1, 0), 0xFF000080u);
    Form->N17Click();
    EXPECT_EQ(Row->Bitmap()->GetPixelFast(1, 0), 0xFF000000u);
    // A flat picture stays flat at every setting, however many passes run.
    for (const bool Focus : {false, true})
        for (const int32_t Value : {1, 50, 100}) {
            TBitmapLayer* Flat = AddPicture(40, 30, 0xFF9D9D9Du, {0, 0, 40, 30});
            const auto Before = Pixels(*Flat->Bitmap());
            Form->SetSelection(Flat);
            TDialogScript Script(mrOk, [&](TObject*) {
                Form->DeFoc->Ras->setChecked(Focus);
                Form->DeFoc->Value->SetPosition(Value);
            });
            Form->N76Click();
            EXPECT_EQ(Pixels(*Flat->Bitmap()), Before) << Value << (Focus ? " soft focus" : "");
        }
    Form->SetSelection(nullptr);
    Bg()->SetSize(3, 1);
    Bg()->SetPixelFast(0, 0, 0x80FF0000u);
    Bg()->SetPixelFast(1, 0, 0xFF00FF00u);
    Bg()->SetPixelFast(2, 0, 0x000000FFu);
    const auto Before = Pixels(*Bg());
    Form->N77Click();
    EXPECT_EQ(Pixels(*Bg()), (std::vector<TColor32>{0xFF4C4C4Cu, 0xFF969696u, 0xFF1C1C1Cu}));
    EXPECT_TRUE(Form->PreviewBackup()->IsEmpty());
    Form->N17Click();
    EXPECT_EQ(Pixels(*Bg()), Before);
}

TEST_F(AdjustTest, BrightnessContrastFollowsTheGaugeReleasedLast)
{
    struct TCase {
        bool ContrastLast;
        TColor32 Result;
    } const Cases[] = {{true, 0xFF6B6B6Bu}, {false, 0xFF747474u}}; // 107 and 116
    for (const TCase& Case : Cases) {
        TBitmapLayer* L = Layer();
        const auto Before = Pixels(*L->Bitmap());
        TDialogScript Script(mrOk, [&](TObject* Sender) {
            auto* Brid = dynamic_cast<TBrid*>(Sender);
            ASSERT_NE(Brid, nullptr);
            Brid->GaugeBar1->SetPosition(50);
            Brid->GaugeBar2->SetPosition(100);
            if (Case.ContrastLast) {
                Brid->GaugeBar1Release();
                Brid->GaugeBar2Release();
            } else {
                Brid->GaugeBar2Release();
                Brid->GaugeBar1Release();
            }
        });
        Form->N38Click();
        EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 4), Case.Result);
        EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 1) >> 24, 0x80u);
        Form->N17Click();
        EXPECT_EQ(Pixels(*L->Bitmap()), Before);
    }
}

TEST_F(AdjustTest, LiveDialogsCancelledLeaveTheLayerExactly)
{
    TBitmapLayer* L = Layer();
    const auto Before = Pixels(*L->Bitmap());
    Form->LayerOpacity->setValue(200);
    int32_t OpacityWhileOpen = 0;
    uint32_t MasterWhileOpen = 0;
    {
        TDialogScript Script(mrCancel, [&](TObject* Sender) {
            OpacityWhileOpen = Form->LayerOpacityPosition();
            MasterWhileOpen = L->Bitmap()->MasterAlpha();
            if (auto* Brid = dynamic_cast<TBrid*>(Sender)) {
                Brid->GaugeBar1->SetPosition(-120);
                Brid->GaugeBar1Release();
                Brid->GaugeBar2->SetPosition(170);
                Brid->GaugeBar2Release();
            } else if (auto* Gamma = dynamic_cast<TGamma*>(Sender)) {
                Gamma->GaugeBar1->SetPosition(50);
                Gamma->GaugeBar3->SetPosition(-30);
                Gamma->BalanceChange();
                Gamma->Qval->setChecked(true);
                Gamma->BalanceChange();
            }
            EXPECT_NE(Pixels(*L->Bitmap()), Before);
        });
        Form->N38Click();
        Form->N39Click();
        EXPECT_EQ(Script.Names, (std::vector<std::string>{"TBrid", "TGamma"}));
    }
    EXPECT_EQ(Pixels(*L->Bitmap()), Before);
    EXPECT_EQ(OpacityWhileOpen, 255);
    EXPECT_EQ(MasterWhileOpen, 255u);
    EXPECT_EQ(Form->LayerOpacityPosition(), 200);
    EXPECT_EQ(L->Bitmap()->MasterAlpha(), 200u);
    EXPECT_EQ(L->Bitmap()->DrawMode(), dmBlend);
    EXPECT_FALSE(Form->UndoSlot.Empty()); // taken before the dialog, as the menu does
}

TEST_F(AdjustTest, ColourBalanceMovesTowardsTheCaptionsAndResetClears)
{
    // Right is Cyan, Magenta and Yellow: red 100 towards Cyan by 50 loses 50 in speed
    // mode, 100 * 100 div 255 = 39 in quality mode; blue towards Yellow by 30 loses 30,
    // or 100 * 60 div 255 = 23; green towards Green by 20 gains 20, or 4000 div 255 = 15.
    struct TCase {
        bool Quality;
        int32_t Red, Green, Blue;
        TColor32 Result;
    } const Cases[] = {{false, 50, 0, 0, 0x326464u},  {true, 50, 0, 0, 0x3D6464u},   {false, 0, 0, 30, 0x646446u},
                       {true, 0, 0, 30, 0x64644Du},   {false, 0, -20, 0, 0x647864u}, {true, 0, -20, 0, 0x647364u},
                       {false, -50, 0, 0, 0x966464u}, {true, 0, 0, -50, 0x64648Bu}};
    for (const TCase& Case : Cases) {
        TBitmapLayer* L = Layer();
        TDialogScript Script(mrOk, [&](TObject* Sender) {
            auto* Gamma = dynamic_cast<TGamma*>(Sender);
            ASSERT_NE(Gamma, nullptr);
            EXPECT_TRUE(Gamma->Speed->isChecked());
            Gamma->GaugeBar2->SetPosition(40);
            Gamma->BalanceChange();
            Gamma->Button3Click();
            (Case.Quality ? Gamma->Qval : Gamma->Speed)->setChecked(true);
            Gamma->GaugeBar1->SetPosition(Case.Red);
            Gamma->GaugeBar2->SetPosition(Case.Green);
            Gamma->GaugeBar3->SetPosition(Case.Blue);
            Gamma->BalanceChange();
            Gamma->Speed->setChecked(true);
        });
        Form->N39Click();
        EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 4), 0xFF000000u | Case.Result) << Case.Red << Case.Green << Case.Blue;
        EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0), Case.Result);
        Form->N17Click();
        EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 4), 0xFF646464u);
        EXPECT_EQ(L->Bitmap()->GetPixelFast(0, 0), 0x00646464u);
    }
}

TEST_F(AdjustTest, NothingHappensWithAMagnifierSelected)
{
    Form->SetSelection(AddMagnifier());
    ASSERT_NE(Form->Selection(), nullptr);
    const auto Background = Pixels(*Bg());
    TDialogScript Script(mrOk, [](TObject*) {});
    for (auto Handler : {&TMainForm::N38Click, &TMainForm::N39Click, &TMainForm::N74Click, &TMainForm::N78Click,
                         &TMainForm::N75Click, &TMainForm::N76Click, &TMainForm::N77Click})
        (Form.get()->*Handler)();
    EXPECT_TRUE(Script.Names.empty());
    EXPECT_TRUE(Form->UndoSlot.Empty());
    EXPECT_EQ(Pixels(*Bg()), Background);
}

class AdjustEnablingTest : public test::IsolatedEditorTest {};

TEST_F(AdjustEnablingTest, CommandsFollowThePictureRuleAndTheirWindows)
{
    MakeForm("kv_adjust_", {"data"}, 300, 300);
    const char* const Names[] = {"N38", "N39", "N74", "N78", "N75", "N76", "N77", "Shar", "Soft", "Monoh"};
    auto Enabled = [this](const char* Name) {
        Form->UpdateCommandEnabling();
        return Form->Command(Name)->isEnabled();
    };
    Form->NewBackground(20, 20, 0xFF000000u);
    EXPECT_FALSE(Enabled("N38")); // no window yet
    EXPECT_TRUE(Enabled("N77"));  // Grayscale needs none
    CreateApplicationForms(*Form);
    for (const char* Name : Names)
        EXPECT_TRUE(Enabled(Name)) << Name;
    Form->mnMagnifierClick();
    ASSERT_NE(Form->Selection(), nullptr);
    for (const char* Name : Names)
        EXPECT_FALSE(Enabled(Name)) << Name;
}
