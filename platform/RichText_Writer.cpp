// The RTF writer: a header with the font and colour tables, then one \pard per paragraph
// and one group per run, so that a run's formatting never leaks into the next.
#include "platform/RichText.h"

#include <algorithm>

namespace kv {

namespace {

template <typename T> size_t IndexOf(std::vector<T>& List, const T& Value)
{
    auto it = std::find(List.begin(), List.end(), Value);
    if (it != List.end())
        return size_t(it - List.begin());
    List.push_back(Value);
    return List.size() - 1;
}

// Text in RTF's 7-bit form: the three escapes, tab and line as words, everything
// outside ASCII as \uN with "?" for readers that cannot show it.
std::string Escaped(std::string_view Text)
{
    std::string out;
    for (char32_t c : Utf8ToCodePoints(Text)) {
        if (c == U'\\' || c == U'{' || c == U'}') {
            out += '\\';
            out += char(c);
        } else if (c == U'\t') {
            out += "\\tab ";
        } else if (c == 0x2028) {
            out += "\\line ";
        } else if (c >= 0x20 && c < 0x80) {
            out += char(c);
        } else if (c >= 0x80) {
            auto unit = [&out](uint32_t U) { out += "\\u" + std::to_string(int16_t(uint16_t(U))) + "?"; };
            if (c > 0xFFFF) {
                unit(0xD800 + ((c - 0x10000) >> 10));
                unit(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                unit(c);
            }
        }
    }
    return out;
}

std::string AlignWord(TRtfAlign Align)
{
    switch (Align) {
    case raCenter: return "\\qc";
    case raRight: return "\\qr";
    default: return "\\ql";
    }
}

std::string StyleWords(TFontStyles Style)
{
    std::string out;
    out += Style & fsBold ? "\\b" : "\\b0";
    out += Style & fsItalic ? "\\i" : "\\i0";
    out += Style & fsUnderline ? "\\ul" : "\\ul0";
    return out;
}

} // namespace

std::string WriteRtf(const TRtfDocument& Document)
{
    std::vector<std::string> fonts;
    std::vector<TColor> colors;
    std::string body;
    for (const TRtfParagraph& para : Document.Paragraphs) {
        body += "\\pard" + AlignWord(para.Align) + " ";
        for (const TRtfRun& run : para.Runs) {
            const TRtfCharFormat& f = run.Format;
            body += "{";
            if (!f.FontName.empty())
                body += "\\f" + std::to_string(IndexOf(fonts, f.FontName));
            body += "\\fs" + std::to_string(f.HalfPoints);
            if (f.Color)
                body += "\\cf" + std::to_string(IndexOf(colors, *f.Color) + 1);
            body += StyleWords(f.Style) + " " + Escaped(run.Text) + "}";
        }
        body += "\\par\r\n";
    }
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\uc1\r\n{\\fonttbl";
    for (size_t i = 0; i < fonts.size(); ++i) {
        // ';' ends a name in the table, and a name is one line of visible text.
        std::string name;
        for (char32_t c : Utf8ToCodePoints(fonts[i]))
            if (c != U';' && c >= 0x20 && c != 0x2028)
                AppendUtf8(name, c);
        out += "{\\f" + std::to_string(i) + "\\fnil\\fcharset0 " + Escaped(name) + ";}";
    }
    out += "}\r\n{\\colortbl;";
    for (TColor c : colors) // plain RGB values: the edit resolves system colours
        out += "\\red" + std::to_string(GetRValue(c)) + "\\green" + std::to_string(GetGValue(c)) + "\\blue" +
               std::to_string(GetBValue(c)) + ";";
    out += "}\r\n" + body + "}\r\n";
    return out;
}

} // namespace kv
