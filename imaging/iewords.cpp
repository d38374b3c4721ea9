#include "imaging/iewords.h"

#include <array>
#include <clocale>
#include <cstdlib>
#include <cstring>

namespace kv {

namespace {

const char* const EnglishWords[IEWordCount] = {"Preview",
                                               "Original",
                                               "Result",
                                               "OK",
                                               "Cancel",
                                               "Lock preview",
                                               "Copy Result to Original",
                                               "Contrast",
                                               "Brightness",
                                               "Hue",
                                               "Saturation",
                                               "Value",
                                               "Base color",
                                               "New color",
                                               "Luminosity",
                                               "Red",
                                               "Green",
                                               "Blue",
                                               "Filter values",
                                               "Presets",
                                               "Divisor",
                                               "Load",
                                               "Save",
                                               "Equalization",
                                               "Threshold",
                                               "Equalize",
                                               "Histogram",
                                               "Gray",
                                               "Light",
                                               "Left",
                                               "Top",
                                               "Width",
                                               "Height",
                                               "Color",
                                               "Original image quantity",
                                               "Lens",
                                               "Refraction",
                                               "Parameters Preview",
                                               "Quality",
                                               "DCT method",
                                               "Smoothing factor",
                                               "Gray scale",
                                               "Optimal Huffman",
                                               "Original size",
                                               "Compressed size",
                                               "Advanced",
                                               "Progressive",
                                               "Compression",
                                               "Image index",
                                               "Photometric",
                                               "Scanned document info",
                                               "Name",
                                               "Description",
                                               "Page name",
                                               "Page number",
                                               "of",
                                               "Horiz. Position (inch)",
                                               "Vert. Position (inch)",
                                               "Colors",
                                               "Transparent",
                                               "Transparent color",
                                               "Interlaced",
                                               "Background",
                                               "Horiz. Position",
                                               "Vert. Position",
                                               "Delay time",
                                               "Filter",
                                               "Wave",
                                               "Amplitude",
                                               "Wave length",
                                               "Phase",
                                               "Reflective",
                                               "User filter",
                                               "Morphing filters",
                                               "Window size",
                                               "Maximum",
                                               "Minimum",
                                               "Opening",
                                               "Closing",
                                               "Rotate",
                                               "Flip",
                                               "Horizontal",
                                               "Vertical",
                                               "Frequency domain image",
                                               "Select the region to clean",
                                               "Clear",
                                               "Reset",
                                               "Animate",
                                               "Load filter",
                                               "Save filter",
                                               "Bump map",
                                               "Print",
                                               "Margins",
                                               "inches",
                                               "Right",
                                               "Bottom",
                                               "Position",
                                               "Size",
                                               "Normal",
                                               "Fit to page",
                                               "Stretch to page",
                                               "Specified size",
                                               "Gamma correction",
                                               "Value",
                                               "Print Setup",
                                               "Left Margin",
                                               "Top Margin",
                                               "Right Margin",
                                               "Bottom Margin",
                                               "Location/size",
                                               "Top Left",
                                               "Top Center",
                                               "Top Right",
                                               "Center Left",
                                               "Center",
                                               "Center Right",
                                               "Bottom Left",
                                               "Bottom Center",
                                               "Bottom Right",
                                               "Close",
                                               "Apply"};

// Owned by this unit: one table per language, msEnglish .. msUser; empty entries fall
// back to the English word.
using TWordTable = std::array<std::string, IEWordCount>;
std::array<TWordTable, 12>& Tables()
{
    static std::array<TWordTable, 12> tables = [] {
        std::array<TWordTable, 12> t;
        for (int32_t i = 0; i < IEWordCount; ++i)
            t[msEnglish][size_t(i)] = EnglishWords[i];
        return t;
    }();
    return tables;
}

} // namespace

TMsgLanguage IESystemLanguage()
{
    const char* lang = std::getenv("LC_ALL");
    if (!lang || !*lang)
        lang = std::getenv("LC_MESSAGES");
    if (!lang || !*lang)
        lang = std::getenv("LANG");
    if (!lang)
        return msEnglish;
    struct {
        const char* Prefix;
        TMsgLanguage Language;
    } const map[] = {{"it", msItalian}, {"de", msGerman},  {"es", msSpanish}, {"fr", msFrench}, {"pt", msPortuguese},
                     {"el", msGreek},   {"ru", msRussian}, {"nl", msDutch},   {"sv", msSwedish}};
    for (const auto& m : map)
        if (std::strncmp(lang, m.Prefix, 2) == 0)
            return m.Language;
    return msEnglish;
}

const std::string& IEWord(TMsgLanguage Language, int32_t Index)
{
    static const std::string empty;
    if (Index < 0 || Index >= IEWordCount)
        return empty;
    if (Language == msSystem)
        Language = IESystemLanguage();
    const std::string& w = Tables()[Language][size_t(Index)];
    return w.empty() ? Tables()[msEnglish][size_t(Index)] : w;
}

void IESetWord(TMsgLanguage Language, int32_t Index, const std::string& Word)
{
    if (Index >= 0 && Index < IEWordCount && Language != msSystem)
        Tables()[Language][size_t(Index)] = Word;
}

} // namespace kv
