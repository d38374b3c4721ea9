// The platform's formatted text call on a canvas: lines, word breaks, tab expansion,
// "&" accelerator underlines, alignment and measuring, as the program's controls ask
// for them.
#pragma once

#include "platform/Graphics.h"
#include "platform/Types.h"

#include <cstdint>
#include <string>

namespace kv {

constexpr uint32_t DT_TOP = 0x0, DT_LEFT = 0x0, DT_CENTER = 0x1, DT_RIGHT = 0x2, DT_VCENTER = 0x4, DT_BOTTOM = 0x8,
                   DT_WORDBREAK = 0x10, DT_SINGLELINE = 0x20, DT_EXPANDTABS = 0x40, DT_NOCLIP = 0x100,
                   DT_CALCRECT = 0x400, DT_NOPREFIX = 0x800, DT_RTLREADING = 0x20000;

// Draws Text in R with the canvas font (its colour, no background) and returns the
// height of the text. With DT_CALCRECT nothing is drawn: R.Right and R.Bottom are set
// to hold the text (word breaks taken at R's width). DT_VCENTER and DT_BOTTOM act on
// single-line text only. Without DT_NOPREFIX "&x" underlines x and "&&" is one "&".
int32_t DrawText(TCanvas& Canvas, const std::string& Text, TRect& R, uint32_t Format);

// The text as it shows: prefixes removed ("&&" kept as one "&"); Underline gets the byte
// offset of the underlined character within the result, or -1.
std::string StripAccelPrefix(const std::string& Text, int32_t* Underline = nullptr);

// The accelerator character of a caption ("&x" -> 'x', lower-cased ASCII), or 0.
char32_t GetAccelChar(const std::string& Caption);
// True when Key (any case) is the caption's accelerator: what IsAccel answers.
bool IsAccel(char32_t Key, const std::string& Caption);

} // namespace kv
