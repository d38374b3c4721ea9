#include "platform/RichText.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kv {

// ---- Code pages -------------------------------------------------------------------

namespace {

// 0x80..0xBF of Windows-1251; 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char16_t, 64> Cp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

// 0x80..0x9F of Windows-1252; the rest is Latin-1. Unassigned bytes keep their value.
constexpr std::array<char16_t, 32> Cp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

char32_t Cp1251ToUnicode(uint8_t Byte)
{
    if (Byte < 0x80)
        return Byte;
    if (Byte >= 0xC0)
        return 0x0410 + (Byte - 0xC0);
    return Cp1251High[Byte - 0x80];
}

char32_t Cp1252ToUnicode(uint8_t Byte)
{
    if (Byte >= 0x80 && Byte < 0xA0)
        return Cp1252High[Byte - 0x80];
    return Byte;
}

void AppendUtf8(std::string& Out, char32_t Code)
{
    if (Code > 0x10FFFF || (Code >= 0xD800 && Code < 0xE000))
        Code = 0xFFFD;
    if (Code < 0x80) {
        Out += char(Code);
    } else if (Code < 0x800) {
        Out += char(0xC0 | (Code >> 6));
        Out += char(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
        Out += char(0xE0 | (Code >> 12));
        Out += char(0x80 | ((Code >> 6) & 0x3F));
        Out += char(0x80 | (Code & 0x3F));
    } else {
        Out += char(0xF0 | (Code >> 18));
        Out += char(0x80 | ((Code >> 12) & 0x3F));
        Out += char(0x80 | ((Code >> 6) & 0x3F));
        Out += char(0x80 | (Code & 0x3F));
    }
}

namespace {

// One code point at Pos, or nullopt when the sequence is malformed (overlong forms,
// surrogates and values past U+10FFFF included).
std::optional<char32_t> NextUtf8(std::string_view Text, size_t& Pos)
{
    const uint8_t b0 = uint8_t(Text[Pos]);
    int32_t extra = b0 < 0x80 ? 0 : (b0 >> 5) == 6 ? 1 : (b0 >> 4) == 14 ? 2 : (b0 >> 3) == 30 ? 3 : -1;
    if (extra < 0 || Pos + size_t(extra) >= Text.size())
        return std::nullopt;
    char32_t code = extra == 0 ? b0 : b0 & (0x3F >> extra);
    for (int32_t i = 1; i <= extra; ++i) {
        const uint8_t b = uint8_t(Text[Pos + i]);
        if ((b & 0xC0) != 0x80)
            return std::nullopt;
        code = (code << 6) | (b & 0x3F);
    }
    static constexpr char32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return std::nullopt;
    Pos += size_t(extra) + 1;
    return code;
}

bool ValidUtf8(std::string_view Text)
{
    for (size_t pos = 0; pos < Text.size();)
        if (!NextUtf8(Text, pos))
            return false;
    return true;
}

} // namespace

std::u32string Utf8ToCodePoints(std::string_view Text)
{
    std::u32string out;
    for (size_t pos = 0; pos < Text.size();) {
        if (auto code = NextUtf8(Text, pos)) {
            out += *code;
        } else {
            out += char32_t(0xFFFD);
            ++pos;
        }
    }
    return out;
}

// ---- Plain text ---------------------------------------------------------------------

std::string EncodePlainText(const std::vector<std::string>& Lines)
{
    std::string out;
    for (const std::string& line : Lines)
        out += line + "\r\n";
    return out;
}

std::vector<std::string> DecodePlainText(std::string_view Bytes, size_t MaxLines)
{
    if (Bytes.substr(0, 3) == "\xEF\xBB\xBF")
        Bytes.remove_prefix(3);
    std::string text;
    if (ValidUtf8(Bytes)) {
        text = Bytes;
    } else {
        text.reserve(Bytes.size() * 2);
        for (char c : Bytes)
            AppendUtf8(text, Cp1251ToUnicode(uint8_t(c)));
    }
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size() && lines.size() < MaxLines; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        lines.push_back(std::move(line));
        line.clear();
    }
    if (!line.empty()) // only when the bound did not end the loop, which leaves it empty
        lines.push_back(std::move(line));
    return lines;
}

int64_t CountPlainTextLines(std::string_view Bytes)
{
    // CR and LF are single bytes in both encodings and never part of a longer sequence.
    if (Bytes.substr(0, 3) == "\xEF\xBB\xBF")
        Bytes.remove_prefix(3);
    int64_t lines = 0;
    bool open = false; // a line has begun since the last line end
    for (size_t i = 0; i < Bytes.size(); ++i) {
        const char c = Bytes[i];
        if (c != '\r' && c != '\n') {
            open = true;
            continue;
        }
        if (c == '\r' && i + 1 < Bytes.size() && Bytes[i + 1] == '\n')
            ++i;
        ++lines;
        open = false;
    }
    return lines + (open ? 1 : 0);
}

std::string TRtfParagraph::PlainText() const
{
    std::string out;
    for (const TRtfRun& run : Runs)
        out += run.Text;
    return out;
}

bool LooksLikeRtf(std::string_view Bytes) { return Bytes.substr(0, 5) == "{\\rtf"; }

} // namespace kv
