// The Filters menu's effects: Spray, Posterize and Wave through their dialogs, the
// effects without one, the noises, Colorize and Sepia. Each works on the selected picture
// layer or, with nothing selected, on the background, takes its undo record first, and
// leaves PreviewBackup empty however it ends.
#include "editor/MainUnit.h"

#include "editor/CommandTable.h"
#include "effects/ApplyEffects.h"
#include "effects/EffectDialogs.h"
#include "effects/EffectFrame.h"
#include "fx/Adjustments.h"

namespace kv {

namespace {

// Sepia's colour: red 200, green 191, blue 119.
constexpr TColor SepiaColor = TColor(0x77BFC8);
constexpr int32_t ColorizeBrightness = 70;
constexpr int32_t SepiaBrightness = 150;

} // namespace

void TMainForm::RunEffectDialog(TEffectDialog* Dialog)
{
    if (Dialog)
        RunPreviewDialog(*this, *Dialog);
}

void TMainForm::RunPlainEffect(const std::string& Name)
{
    RunFilterCommand(*this, [&] { ApplyEffect(*this, Name, TEffectSettings{}); });
}

void TMainForm::RunNoise(const std::string& Name)
{
    RunFilterCommand(*this, [&] { ApplyNoise(*this, Name, TEffectSettings{}); });
}

void TMainForm::ColorizeAndBrighten(TColor Color, int32_t Brightness)
{
    TEffectSettings Settings;
    Settings.Colorize = Color;
    ApplyNoise(*this, "mod", Settings);
    TBitmap32* Target = EffectTarget(*this);
    AdjustBrightness(*Target, Brightness);
    Target->Changed();
}

void TMainForm::N50Click() { RunEffectDialog(SprayWin); }
void TMainForm::N51Click() { RunEffectDialog(Posta); }
void TMainForm::N86Click() { RunEffectDialog(Waves); }
void TMainForm::N85Click() { RunPlainEffect("mosa"); }
void TMainForm::N87Click() { RunPlainEffect("emboss"); }
void TMainForm::N91Click() { RunPlainEffect("ripple_7"); }
void TMainForm::N92Click() { RunPlainEffect("ripple_12"); }
void TMainForm::N93Click() { RunPlainEffect("ripple_24"); }
void TMainForm::N84Click() { RunPlainEffect("invert"); }
void TMainForm::N81Click() { RunNoise("color"); }
void TMainForm::N82Click() { RunNoise("mona"); }

void TMainForm::N49Click()
{
    if (!AllColor)
        return;
    // The record is taken even when the colour dialog is cancelled.
    RunFilterCommand(*this, [this] {
        if (AllColor->Execute())
            ColorizeAndBrighten(AllColor->Color, ColorizeBrightness);
    });
}

void TMainForm::N111Click()
{
    if (!AllColor)
        return;
    RunFilterCommand(*this, [this] {
        // The colour dialog keeps Sepia's colour for the next Colorize.
        AllColor->Color = SepiaColor;
        ColorizeAndBrighten(AllColor->Color, SepiaBrightness);
    });
}

std::vector<TCommandRow> TMainForm::EffectCommands()
{
    // The filters work on the selected picture layer, or on the background when no layer
    // is selected; the dialog effects also need their window.
    auto pictureOrNone = [this] {
        return BackgroundNotEmpty() && (!Selection() || dynamic_cast<TBitmapLayer*>(Selection()));
    };
    return {
        {"N81", "Color Noise", "", [this] { N81Click(); }, pictureOrNone},
        {"N82", "Mono Noise", "", [this] { N82Click(); }, pictureOrNone},
        {"N49", "Colorize", "", [this] { N49Click(); }, [this, pictureOrNone] { return AllColor && pictureOrNone(); }},
        {"N111", "Sepia", "", [this] { N111Click(); }, [this, pictureOrNone] { return AllColor && pictureOrNone(); }},
        {"N50", "Spray", "", [this] { N50Click(); }, [this, pictureOrNone] { return SprayWin && pictureOrNone(); }},
        {"N51", "Posterize", "", [this] { N51Click(); }, [this, pictureOrNone] { return Posta && pictureOrNone(); }},
        {"N86", "Wave", "", [this] { N86Click(); }, [this, pictureOrNone] { return Waves && pictureOrNone(); }},
        {"N85", "Mosaic", "", [this] { N85Click(); }, pictureOrNone},
        {"N87", "Emboss", "", [this] { N87Click(); }, pictureOrNone},
        {"N91", "Wide", "", [this] { N91Click(); }, pictureOrNone},
        {"N92", "Medium", "", [this] { N92Click(); }, pictureOrNone},
        {"N93", "Narrow", "", [this] { N93Click(); }, pictureOrNone},
        {"N84", "Invert Colors", "", [this] { N84Click(); }, pictureOrNone},
    };
}

} // namespace kv
