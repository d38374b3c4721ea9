// Rich text as the text tool keeps it in files: an RTF reader and writer of our own for
// the subset a user meets (fonts, sizes, bold/italic/underline, colours, alignment, tabs,
// Unicode and Russian code-page escapes), and the plain-text encoding of the same lines.
#pragma once

#include "platform/Graphics.h"
#include "platform/SysUtils.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Raised for input the reader refuses: not RTF, or past one of its bounds.
KV_DECLARE_EXCEPTION(ERtfError, EReadError)

enum TRtfAlign : uint8_t { raLeft, raCenter, raRight };

struct TRtfCharFormat {
    std::string FontName;        // empty: the editor's own font
    int32_t HalfPoints = 24;     // \fs
    std::optional<TColor> Color; // an RGB value; empty: automatic colour
    TFontStyles Style = 0;       // fsBold, fsItalic, fsUnderline
    bool operator==(const TRtfCharFormat&) const = default;
};

struct TRtfRun {
    std::string Text; // UTF-8; '\t' is a tab, U+2028 a line break inside the paragraph
    TRtfCharFormat Format;
    bool operator==(const TRtfRun&) const = default;
};

struct TRtfParagraph {
    TRtfAlign Align = raLeft;
    std::vector<TRtfRun> Runs;
    std::string PlainText() const;
    bool operator==(const TRtfParagraph&) const = default;
};

struct TRtfDocument {
    std::vector<TRtfParagraph> Paragraphs;
    bool operator==(const TRtfDocument&) const = default;
};

// The reader's bounds: deeper nesting, longer control words or longer numbers end the
// read with ERtfError instead of growing without limit.
constexpr int32_t RtfMaxGroupDepth = 256;
constexpr int32_t RtfMaxWordLength = 32;
constexpr int32_t RtfMaxNumberDigits = 10;

// A text read with a bound on what is kept: Document holds at most the first paragraphs
// asked for, Count says how many the text has in all.
struct TTextParagraphs {
    TRtfDocument Document;
    int64_t Count = 0;
};

// True when Bytes start with "{\rtf".
bool LooksLikeRtf(std::string_view Bytes);
TRtfDocument ReadRtf(std::string_view Bytes);
// Keeps the text of the first MaxParagraphs paragraphs and only counts the rest, so that a
// text too long to use is refused without being held whole.
TTextParagraphs ReadRtfParagraphs(std::string_view Bytes, size_t MaxParagraphs);
std::string WriteRtf(const TRtfDocument& Document);

// Plain text: lines joined by CR LF, each line ended (as a string list saves them).
std::string EncodePlainText(const std::vector<std::string>& Lines);
// UTF-8 when the bytes are valid UTF-8 (a leading byte-order mark dropped), otherwise
// Windows-1251; CR, LF and CR LF all end a line. Lines past MaxLines are dropped.
std::vector<std::string> DecodePlainText(std::string_view Bytes, size_t MaxLines = SIZE_MAX);
// The number of lines DecodePlainText gives, counted without decoding.
int64_t CountPlainTextLines(std::string_view Bytes);

// One byte of Windows-1251 or Windows-1252 as a Unicode code point.
char32_t Cp1251ToUnicode(uint8_t Byte);
char32_t Cp1252ToUnicode(uint8_t Byte);
void AppendUtf8(std::string& Out, char32_t Code);
// Code points of UTF-8 text; malformed bytes become U+FFFD.
std::u32string Utf8ToCodePoints(std::string_view Text);

} // namespace kv
