// The Filters menu's effect commands driven through their handlers: the preview, cancel
// and OK patterns of the dialog effects, alpha kept on layers, undo after each, and the
// preview backup that never outlives its command.
#include "EditorFixture.h"

#include "editor/ApplicationForms.h"
#include "effects/ApplyEffects.h"
#include "effects/EffectDialogs.h"
#include "fx/EffectRandom.h"
#include "platform/Dialogs.h"
#include "raster/Raster32_RangeBars.h"

#include <QComboBox>

#include <functional>
#include <vector>

namespace kv::test {
namespace {

// Installs an answerer that hands each modal form to Script, and answers a colour dialog
// with Color (clNone: cancelled).
class TFormScript {
public:
    explicit TFormScript(std::function<TModalResult(TEffectDialog&)> Script, TColor Color = clNone)
    {
        FPrevious = SetDialogAnswerer([Script, Color](const TDialogRequest& R) {
            TDialogAnswer A;
            if (R.Kind == dkColor) {
                A.Result = Color == clNone ? mrCancel : mrOk;
                A.Color = Color;
            } else if (auto* D = dynamic_cast<TEffectDialog*>(R.Form)) {
                A.Result = Script(*D);
            }
            return A;
        });
    }
    ~TFormScript() { SetDialogAnswerer(FPrevious); }

private:
    TDialogAnswerer FPrevious;
};

// Everything a cancelled dialog must leave as it was: all four bytes, draw mode, master alpha.
struct TSnapshot {
    std::vector<TColor32> Pixels;
    TDrawMode DrawMode;
    uint32_t MasterAlpha;
    explicit TSnapshot(const TBitmap32& B)
        : Pixels(B.Bits(), B.Bits() + int64_t(B.Width()) * B.Height()), DrawMode(B.DrawMode()),
          MasterAlpha(B.MasterAlpha())
    {
    }
    bool operator==(const TSnapshot&) const = default;
};

struct TDialogCase {
    const char* Name;
    void (TMainForm::*Command)();
    std::function<TEffectDialog*(TMainForm&)> Dialog;
};

// A main window made as the program makes it, menus and windows, with a background.
class EffectsCommandTest : public IsolatedEditorTest {
protected:
    void SetUp() override
    {
        MakeForm("kv_effects_", {}, 400, 300);
        CreateApplicationForms(*Form);
        Form->NewBackground(100, 80, 0xFF204060);
        Form->UpdateCommandEnabling();
    }
    TBitmap32* Bg() { return Form->ImgView->Bitmap(); }
    bool Enabled(const char* Name) const { return Form->Command(Name)->isEnabled(); }
    // A 40 x 40 picture layer, selected, with a ramp of colours and, in its first rows,
    // fully transparent and half-transparent pixels.
    TBitmapLayer* TransparentLayer()
    {
        auto* L = Form->ImgView->Layers()->Add<TBitmapLayer>();
        L->SetPlacement({10, 10, 50, 50});
        TBitmap32* B = L->Bitmap();
        B->SetSize(40, 40);
        B->SetDrawMode(dmBlend);
        for (int32_t Y = 0; Y < 40; ++Y)
            for (int32_t X = 0; X < 40; ++X) {
                const TColor32 Alpha = Y < 4 ? 0u : (Y < 8 ? 128u : 255u);
                B->SetPixelFast(X, Y, (Alpha << 24) | (TColor32(6 * X) << 16) | (TColor32(5 * Y) << 8) | 77u);
            }
        Form->SetSelection(L);
        return L;
    }
    std::vector<TDialogCase> DialogCases()
    {
        return {{"Spray", &TMainForm::N50Click, [](TMainForm& F) -> TEffectDialog* { return F.SprayWin; }},
                {"Posterize", &TMainForm::N51Click, [](TMainForm& F) -> TEffectDialog* { return F.Posta; }},
                {"Wave", &TMainForm::N86Click, [](TMainForm& F) -> TEffectDialog* { return F.Waves; }}};
    }
};

TEST_F(EffectsCommandTest, CommandsFollowThePictureRule)
{
    const char* const Commands[] = {"N50", "N51", "N86", "N85", "N87", "N91", "N92",
                                    "N93", "N84", "N81", "N82", "N49", "N111"};
    for (const char* N : Commands)
        EXPECT_TRUE(Enabled(N)) << N;
    TPositionedLayer* Magnifier = Form->CreatePositionedLayer();
    Magnifier->SetTag(TagMagnifier);
    Form->SetSelection(Magnifier);
    Form->UpdateCommandEnabling();
    for (const char* N : Commands)
        EXPECT_FALSE(Enabled(N)) << N;
    // A stale menu still runs nothing on a magnifier.
    const TSnapshot Before(*Bg());
    Form->N84Click();
    Form->N50Click();
    EXPECT_TRUE(TSnapshot(*Bg()) == Before);
    EXPECT_FALSE(Form->N17->isEnabled());
}

TEST_F(EffectsCommandTest, PreviewThenCancelLeavesTheLayerExactlyAsItWas)
{
    TBitmapLayer* L = TransparentLayer();
    const TSnapshot Before(*L->Bitmap());
    for (const TDialogCase& C : DialogCases()) {
        bool Previewed = false;
        TFormScript Script([&](TEffectDialog& D) {
            for (int32_t V : {3, 9}) {
                D.Value->SetPosition(V);
                D.Button3Click();
            }
            Previewed = !(TSnapshot(*L->Bitmap()) == Before);
            return mrCancel;
        });
        (Form.get()->*C.Command)();
        EXPECT_TRUE(Previewed) << C.Name;
        EXPECT_TRUE(TSnapshot(*L->Bitmap()) == Before) << C.Name;
        EXPECT_TRUE(Form->PreviewBackup()->IsEmpty()) << C.Name;
        EXPECT_FALSE(Form->N17->isEnabled()) << C.Name; // no undo record
    }
}

TEST_F(EffectsCommandTest, SeveralPreviewsThenOkApplyTheFinalValueOnceAndUndo)
{
    TBitmapLayer* L = TransparentLayer();
    const TSnapshot Before(*L->Bitmap());
    for (const TDialogCase& C : DialogCases()) {
        auto Run = [&](std::initializer_list<int32_t> Previews) {
            TFormScript Script([&](TEffectDialog& D) {
                for (int32_t V : Previews) {
                    D.Value->SetPosition(V);
                    D.Button3Click();
                }
                D.Value->SetPosition(4);
                RandSeed(99); // the application itself draws the same numbers
                return mrOk;
            });
            (Form.get()->*C.Command)();
            EXPECT_TRUE(Form->PreviewBackup()->IsEmpty()) << C.Name;
            return TSnapshot(*L->Bitmap());
        };
        const TSnapshot Previewed = Run({2, 7, 5});
        EXPECT_FALSE(Previewed == Before) << C.Name;
        for (size_t I = 0; I < Before.Pixels.size(); ++I) // colour moves, transparency stays
            ASSERT_EQ(Previewed.Pixels[I] >> 24, Before.Pixels[I] >> 24) << C.Name;
        Form->N17Click();
        EXPECT_TRUE(TSnapshot(*L->Bitmap()) == Before) << C.Name;
        EXPECT_TRUE(Run({}) == Previewed) << C.Name;
        Form->N17Click();
    }
}

TEST_F(EffectsCommandTest, EveryDirectCommandUndoesAndRedoesExactlyOnLayerAndBackground)
{
    void (TMainForm::*const Commands[])() = {&TMainForm::N85Click, &TMainForm::N87Click, &TMainForm::N91Click,
                                             &TMainForm::N92Click, &TMainForm::N93Click, &TMainForm::N84Click,
                                             &TMainForm::N81Click, &TMainForm::N82Click, &TMainForm::N111Click};
    TBitmapLayer* L = TransparentLayer();
    for (TBitmap32* Target : {L->Bitmap(), Bg()}) {
        if (Target == Bg())
            Form->SetSelection(nullptr);
        const TSnapshot Before(*Target);
        for (auto Command : Commands) {
            (Form.get()->*Command)();
            EXPECT_TRUE(Form->PreviewBackup()->IsEmpty());
            const TSnapshot After(*Target);
            Form->N17Click();
            ASSERT_TRUE(TSnapshot(*Target) == Before);
            Form->N18Click(); // Redo gives the command's result back exactly
            ASSERT_TRUE(TSnapshot(*Target) == After);
            Form->N17Click();
            ASSERT_TRUE(TSnapshot(*Target) == Before);
        }
    }
}

TEST_F(EffectsCommandTest, InvertKeepsHalfTransparencyAndSepiaAndColorizeWorkedValues)
{
    TBitmapLayer* L = TransparentLayer();
    Form->N84Click();
    const TColor32 Half = L->Bitmap()->GetPixelFast(2, 5);
    EXPECT_EQ(Half, (128u << 24) | TColor32(255 - 12) << 16 | TColor32(255 - 25) << 8 | (255u - 77));
    EXPECT_EQ(L->Bitmap()->GetPixelFast(2, 1) >> 24, 0u);

    Form->SetSelection(nullptr);
    Bg()->SetSize(2, 1);
    Bg()->SetPixelFast(0, 0, 0xFFFFFFFF);
    Bg()->SetPixelFast(1, 0, 0x80808080); // the background comes back opaque
    Form->N111Click();
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), 0xFFFFFFBDu);
    EXPECT_EQ(Bg()->GetPixelFast(1, 0), 0xFF9E985Fu);
    EXPECT_EQ(Form->AllColor->Color, TColor(0x77BFC8));

    Bg()->SetPixelFast(0, 0, 0xFF808080);
    {
        TFormScript Cancelled([](TEffectDialog&) { return mrCancel; });
        Form->N17Click();
        const TSnapshot Before(*Bg());
        Form->N49Click();
        EXPECT_TRUE(TSnapshot(*Bg()) == Before);
        EXPECT_TRUE(Form->N17->isEnabled()); // the record is taken all the same
    }
    TFormScript Chosen([](TEffectDialog&) { return mrCancel; }, TColor(0x77BFC8));
    Bg()->SetPixelFast(0, 0, 0xFF808080);
    Form->N49Click();
    // Colorize gives (100, 96, 60), then brightness +70.
    EXPECT_EQ(Bg()->GetPixelFast(0, 0), 0xFF7F7A4Cu);
}

TEST_F(EffectsCommandTest, StaleOrFailedPreviewsNeverReachTheDocument)
{
    // A backup that no dialog of this command took is not pasted over the background.
    Form->PreviewBackup()->SetSize(2, 2);
    Form->PreviewBackup()->ClearTo(0xFFFF0000);
    const TSnapshot Before(*Bg());
    {
        TFormScript Cancel([](TEffectDialog&) { return mrCancel; });
        Form->N50Click();
    }
    EXPECT_EQ(Bg()->Width(), 100);
    EXPECT_TRUE(TSnapshot(*Bg()) == Before);
    EXPECT_TRUE(Form->PreviewBackup()->IsEmpty());

    // A showing that fails after a preview takes the preview back and empties the backup.
    TFormScript Fails([](TEffectDialog& D) -> TModalResult {
        D.Value->SetPosition(40);
        D.Button3Click();
        throw Exception("no answer");
    });
    EXPECT_THROW(Form->N51Click(), Exception);
    EXPECT_TRUE(TSnapshot(*Bg()) == Before);
    EXPECT_TRUE(Form->PreviewBackup()->IsEmpty());
}

TEST_F(EffectsCommandTest, UnknownNameRefreshesTheBackupOnlyAndWaveStartsLow)
{
    Bg()->SetPixelFast(3, 3, 0xFF112233);
    const TSnapshot Before(*Bg());
    ApplyEffect(*Form, "Invert", TEffectSettings{});
    ApplyNoise(*Form, "sepia", TEffectSettings{});
    EXPECT_TRUE(TSnapshot(*Bg()) == Before);
    EXPECT_TRUE(TSnapshot(*Form->PreviewBackup()) == Before);

    Form->Waves->Nu->setCurrentIndex(2);
    int32_t ModeShown = -1;
    TFormScript Script([&](TEffectDialog&) {
        ModeShown = Form->Waves->Nu->currentIndex();
        return mrCancel;
    });
    Form->N86Click();
    EXPECT_EQ(ModeShown, 0);
}

} // namespace
} // namespace kv::test
