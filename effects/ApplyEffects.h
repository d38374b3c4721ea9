// The main window's two effect frames by name: ApplyEffect for the Effects menu and
// Invert Colors, ApplyNoise for the noises and colorize. Each runs its routine on the
// current target through the 24-bit frame with the settings the dialogs hold.
#pragma once

#include "platform/Graphics.h"

#include <cstdint>
#include <string>

namespace kv {

class IMainForm;

// What the effect dialogs and the colour dialog hold; each effect reads its own part.
struct TEffectSettings {
    int32_t SprayAmount = 1;      // TSprayWin's Value
    int32_t PosterizeLevel = 1;   // TPosta's Value
    int32_t WaveAmplitude = 1;    // TWaves' Value
    int32_t WaveInterference = 1; // TWaves' Interf
    int32_t WaveMode = 0;         // TWaves' Nu
    TColor Colorize = clBlack;    // the colour dialog's colour ("mod")
};

// "spray", "post", "wave", "mosa", "emboss", "ripple_7", "ripple_12", "ripple_24",
// "invert". Another name leaves the target as it is but still refreshes PreviewBackup.
void ApplyEffect(IMainForm& Main, const std::string& Name, const TEffectSettings& Settings);
// "color" (colour noise 50), "mona" (mono noise 60), "mod" (colorize); the same frame.
void ApplyNoise(IMainForm& Main, const std::string& Name, const TEffectSettings& Settings);

} // namespace kv
