#include "platform/KvDrawText.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <vector>

namespace kv {

namespace {

struct TTextLine {
    std::string Text;
    int32_t Underline = -1; // byte offset of the underlined character in Text
};

bool IsContinuation(char C) { return (uint8_t(C) & 0xC0) == 0x80; }

// Byte length of the UTF-8 character starting at S[I].
size_t CharLength(const std::string& S, size_t I)
{
    size_t n = 1;
    while (I + n < S.size() && IsContinuation(S[I + n]))
        ++n;
    return n;
}

// Tab stops every 8 characters, as the platform's DT_EXPANDTABS does with its default stop.
std::string ExpandTabs(const std::string& S)
{
    std::string out;
    int32_t column = 0;
    for (char c : S) {
        if (c == '\t') {
            do {
                out += ' ';
                ++column;
            } while (column % 8 != 0);
            continue;
        }
        out += c;
        if (!IsContinuation(c))
            ++column;
    }
    return out;
}

std::vector<std::string> SplitHardLines(const std::string& S)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < S.size(); ++i) {
        char c = S[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < S.size() && S[i + 1] == '\n')
                ++i;
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

// Breaks one line at blanks so that each piece fits Width; a word wider than Width
// keeps a line of its own (it is clipped, never split).
void WrapLine(TCanvas& Canvas, const TTextLine& Line, int32_t Width, std::vector<TTextLine>& Out)
{
    const std::string& s = Line.Text;
    size_t start = 0;
    while (true) {
        size_t end = start; // end of the text taken so far
        size_t pos = start;
        while (pos < s.size()) {
            size_t wordStart = pos;
            while (wordStart < s.size() && s[wordStart] == ' ')
                ++wordStart;
            size_t wordEnd = wordStart;
            while (wordEnd < s.size() && s[wordEnd] != ' ')
                ++wordEnd;
            if (wordEnd == wordStart) { // only blanks remain
                end = s.size();
                pos = s.size();
                break;
            }
            if (end > start && Canvas.TextWidth(s.substr(start, wordEnd - start)) > Width)
                break;
            end = wordEnd;
            pos = wordEnd;
        }
        TTextLine piece;
        piece.Text = s.substr(start, end - start);
        if (Line.Underline >= int32_t(start) && Line.Underline < int32_t(end))
            piece.Underline = Line.Underline - int32_t(start);
        Out.push_back(std::move(piece));
        start = end;
        while (start < s.size() && s[start] == ' ')
            ++start;
        if (start >= s.size())
            return;
    }
}

std::vector<TTextLine> LayoutLines(TCanvas& Canvas, const std::string& Text, int32_t Width, uint32_t Format)
{
    std::vector<TTextLine> lines;
    if (Text.empty())
        return lines;
    std::vector<std::string> hard;
    if (Format & DT_SINGLELINE) {
        std::string one = Text;
        std::replace(one.begin(), one.end(), '\r', ' ');
        std::replace(one.begin(), one.end(), '\n', ' ');
        hard.push_back(one);
    } else {
        hard = SplitHardLines(Text);
    }
    for (std::string& h : hard) {
        TTextLine line;
        line.Text = (Format & DT_EXPANDTABS) ? ExpandTabs(h) : h;
        if (!(Format & DT_NOPREFIX))
            line.Text = StripAccelPrefix(line.Text, &line.Underline);
        if ((Format & DT_WORDBREAK) && !(Format & DT_SINGLELINE))
            WrapLine(Canvas, line, Width, lines);
        else
            lines.push_back(std::move(line));
    }
    return lines;
}

void DrawLine(TCanvas& Canvas, const TTextLine& Line, int32_t X, int32_t Y, const TRect& Clip, bool Clipped)
{
    auto out = [&](int32_t At, const std::string& S) {
        if (S.empty())
            return;
        if (Clipped)
            Canvas.TextRect(Clip, At, Y, S);
        else
            Canvas.TextOut(At, Y, S);
    };
    if (Line.Underline < 0) {
        out(X, Line.Text);
        return;
    }
    size_t u = size_t(Line.Underline);
    size_t n = CharLength(Line.Text, u);
    std::string head = Line.Text.substr(0, u), ch = Line.Text.substr(u, n), tail = Line.Text.substr(u + n);
    out(X, head);
    int32_t x = X + Canvas.TextWidth(head);
    TFont* font = Canvas.Font();
    TFontStyles style = font->Style();
    font->SetStyle(TFontStyles(style | fsUnderline));
    out(x, ch);
    font->SetStyle(style);
    out(X + Canvas.TextWidth(head + ch), tail);
}

} // namespace

std::string StripAccelPrefix(const std::string& Text, int32_t* Underline)
{
    std::string out;
    int32_t underline = -1;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '&' && i + 1 < Text.size()) {
            ++i;
            if (Text[i] != '&')
                underline = int32_t(out.size());
        } else if (Text[i] == '&') {
            continue; // a trailing lone "&" shows nothing
        }
        out += Text[i];
    }
    if (Underline)
        *Underline = underline;
    return out;
}

char32_t GetAccelChar(const std::string& Caption)
{
    int32_t u = -1;
    std::string shown = StripAccelPrefix(Caption, &u);
    if (u < 0)
        return 0;
    QString ch = QString::fromUtf8(shown.substr(size_t(u), CharLength(shown, size_t(u))).c_str()).toLower();
    if (ch.isEmpty())
        return 0;
    return ch.toUcs4().value(0);
}

bool IsAccel(char32_t Key, const std::string& Caption)
{
    char32_t a = GetAccelChar(Caption);
    if (a == 0)
        return false;
    QString k = QString::fromUcs4(&Key, 1).toLower();
    return k.toUcs4().value(0) == a;
}

int32_t DrawText(TCanvas& Canvas, const std::string& Text, TRect& R, uint32_t Format)
{
    std::vector<TTextLine> lines = LayoutLines(Canvas, Text, R.Width(), Format);
    const int32_t lineHeight = Canvas.TextHeight("Wg");
    const int32_t height = int32_t(lines.size()) * lineHeight;
    if (Format & DT_CALCRECT) {
        int32_t width = 0;
        for (const TTextLine& l : lines)
            width = std::max(width, Canvas.TextWidth(l.Text));
        R.Right = R.Left + width;
        R.Bottom = R.Top + height;
        return height;
    }
    int32_t y = R.Top;
    if ((Format & DT_SINGLELINE) && (Format & DT_VCENTER))
        y = R.Top + (R.Height() - lineHeight) / 2;
    else if ((Format & DT_SINGLELINE) && (Format & DT_BOTTOM))
        y = R.Bottom - lineHeight;
    const bool transparent = Canvas.TransparentText();
    Canvas.SetTransparentText(true);
    for (const TTextLine& l : lines) {
        int32_t w = Canvas.TextWidth(l.Text);
        int32_t x = R.Left;
        if (Format & DT_CENTER)
            x = (R.Left + R.Right - w) / 2;
        else if (Format & DT_RIGHT)
            x = R.Right - w;
        DrawLine(Canvas, l, x, y, R, !(Format & DT_NOCLIP));
        y += lineHeight;
    }
    Canvas.SetTransparentText(transparent);
    return height;
}

} // namespace kv
