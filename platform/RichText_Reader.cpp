// The RTF reader: one pass over the bytes with a stack of group states. Only the text
// destination yields runs; the font and colour tables fill their lists; every other
// destination is stepped over, with \binN data skipped by count.
#include "platform/RichText.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace kv {

namespace {

enum TDestination : uint8_t { dText, dSkip, dFontTable, dColorTable };

struct TGroupState {
    TDestination Dest = dText;
    TRtfCharFormat Format;
    int32_t FontNumber = -1; // \f in effect, for its code page
    TRtfAlign Align = raLeft;
    int32_t FallbackCount = 1; // \uc
};

struct TFontEntry {
    int32_t Number = 0;
    std::string Name;
    int32_t CodePage = 0; // 0: the document's
};
// Every byte above 0x7F and every \f word looks its font up: a table of thousands of
// fonts must not make that a search.
using TFontTable = std::unordered_map<int32_t, TFontEntry>;

// Destinations whose contents are not text of the document.
bool SkippedDestination(std::string_view Word)
{
    static constexpr std::string_view names[] = {"stylesheet", "info",         "pict",
                                                 "header",     "headerl",      "headerr",
                                                 "headerf",    "footer",       "footerl",
                                                 "footerr",    "footerf",      "footnote",
                                                 "object",     "listtable",    "listoverridetable",
                                                 "revtbl",     "rsidtbl",      "generator",
                                                 "xmlnstbl",   "themedata",    "colorschememapping",
                                                 "datastore",  "latentstyles", "fldinst",
                                                 "filetbl",    "private",      "pgdsctbl",
                                                 "annotation", "atnid",        "atnauthor",
                                                 "bkmkstart",  "bkmkend",      "nonshppict",
                                                 "shp",        "shpinst",      "field_inst",
                                                 "txe",        "xe",           "tc",
                                                 "template",   "userprops",    "docvar"};
    return std::find(std::begin(names), std::end(names), Word) != std::end(names);
}

// Windows character sets that name a code page we can decode.
int32_t CodePageOfCharset(int32_t Charset)
{
    switch (Charset) {
    case 204: return 1251;
    case 0: return 1252;
    default: return 0;
    }
}

// Characters that RTF spells as control words.
char32_t CharacterWord(std::string_view Word)
{
    struct TEntry {
        std::string_view Word;
        char32_t Code;
    };
    static constexpr TEntry table[] = {
        {"tab", U'\t'},      {"cell", U'\t'},     {"line", 0x2028},   {"emdash", 0x2014},    {"endash", 0x2013},
        {"bullet", 0x2022},  {"lquote", 0x2018},  {"rquote", 0x2019}, {"ldblquote", 0x201C}, {"rdblquote", 0x201D},
        {"emspace", 0x2003}, {"enspace", 0x2002}, {"qmspace", 0x2005}};
    for (const TEntry& e : table)
        if (e.Word == Word)
            return e.Code;
    return 0;
}

int32_t HexValue(char C)
{
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

bool IsLetter(char C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'); }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }

class TRtfReader {
public:
    TRtfReader(std::string_view Bytes, size_t MaxParagraphs) : FIn(Bytes), FMaxParagraphs(MaxParagraphs) {}
    TTextParagraphs Run();

private:
    struct TWord {
        std::string_view Name;
        bool HasParam = false;
        int32_t Param = 0;
    };
    void OpenGroup();
    bool CloseGroup(); // false when the outermost group closed
    void ReadControl();
    TWord ReadWord();
    void ControlSymbol(char C);
    void ControlWord(const TWord& W);
    void FormatWord(const TWord& W);
    void TableWord(const TWord& W);
    void SkipBinary(int32_t Count);
    void ByteChar(uint8_t Byte);
    void Emit(char32_t Code);
    void EmitUnicode(int32_t Param);
    void EmitText(char32_t Code);
    void EndParagraph();
    void ResetFormat();
    int32_t CodePage() const;
    const TFontEntry* Font(int32_t Number) const;

    bool Full() const { return FDoc.Paragraphs.size() >= FMaxParagraphs; }

    std::string_view FIn;
    size_t FMaxParagraphs;
    int64_t FParagraphCount = 0;
    size_t FPos = 0;
    std::vector<TGroupState> FStack;
    TGroupState FState;
    int32_t FDocCodePage = 1252;
    int32_t FDefaultFont = -1;
    TFontTable FFonts;
    TFontEntry FFontEntry;
    std::vector<std::optional<TColor>> FColors;
    uint8_t FRgb[3] = {0, 0, 0};
    bool FRgbSet = false;
    int32_t FPendingSkip = 0;
    char32_t FHighSurrogate = 0;
    TRtfDocument FDoc;
    TRtfParagraph FPara;
    bool FParaHasText = false; // FPara.Runs stay empty once the document is full
};

TTextParagraphs TRtfReader::Run()
{
    if (!LooksLikeRtf(FIn))
        throw ERtfError("Not an RTF file");
    ++FPos;
    FStack.push_back(FState);
    while (FPos < FIn.size()) {
        const char c = FIn[FPos++];
        if (c == '{') {
            OpenGroup();
        } else if (c == '}') {
            if (!CloseGroup())
                break;
        } else if (c == '\\') {
            ReadControl();
        } else if (c != '\r' && c != '\n') {
            ByteChar(uint8_t(c));
        }
    }
    // A truncated file keeps what was read.
    if (FParaHasText)
        EndParagraph();
    return {std::move(FDoc), FParagraphCount};
}

void TRtfReader::OpenGroup()
{
    if (int32_t(FStack.size()) >= RtfMaxGroupDepth)
        throw ERtfError("RTF groups nested deeper than " + std::to_string(RtfMaxGroupDepth));
    FStack.push_back(FState);
    FPendingSkip = 0;
}

bool TRtfReader::CloseGroup()
{
    FPendingSkip = 0;
    if (FState.Dest == dFontTable && !FFontEntry.Name.empty())
        Emit(U';'); // an entry whose group closed without its ';'
    FState = FStack.back();
    FStack.pop_back();
    return !FStack.empty();
}

TRtfReader::TWord TRtfReader::ReadWord()
{
    TWord w;
    const size_t start = FPos;
    while (FPos < FIn.size() && IsLetter(FIn[FPos]))
        if (int32_t(++FPos - start) > RtfMaxWordLength)
            throw ERtfError("RTF control word longer than " + std::to_string(RtfMaxWordLength) + " letters");
    w.Name = FIn.substr(start, FPos - start);
    const bool negative = FPos < FIn.size() && FIn[FPos] == '-';
    if (negative)
        ++FPos;
    int64_t value = 0;
    int32_t digits = 0;
    while (FPos < FIn.size() && IsDigit(FIn[FPos])) {
        if (++digits > RtfMaxNumberDigits)
            throw ERtfError("RTF number longer than " + std::to_string(RtfMaxNumberDigits) + " digits");
        value = value * 10 + (FIn[FPos++] - '0');
    }
    w.HasParam = digits > 0;
    value = std::clamp<int64_t>(negative ? -value : value, INT32_MIN, INT32_MAX);
    w.Param = int32_t(value);
    if (FPos < FIn.size() && FIn[FPos] == ' ')
        ++FPos; // the delimiting space belongs to the word
    return w;
}

void TRtfReader::ReadControl()
{
    if (FPos >= FIn.size())
        return;
    if (IsLetter(FIn[FPos])) {
        ControlWord(ReadWord());
    } else {
        ControlSymbol(FIn[FPos++]);
    }
}

void TRtfReader::ControlSymbol(char C)
{
    switch (C) {
    case '\'': {
        const int32_t hi = FPos < FIn.size() ? HexValue(FIn[FPos]) : -1;
        const int32_t lo = FPos + 1 < FIn.size() ? HexValue(FIn[FPos + 1]) : -1;
        if (hi < 0 || lo < 0) {
            FPos += hi < 0 ? 0 : 1; // a broken escape shows nothing
            return;
        }
        FPos += 2;
        ByteChar(uint8_t(hi * 16 + lo));
        return;
    }
    case '*': FState.Dest = dSkip; return;
    case '\\':
    case '{':
    case '}': Emit(char32_t(C)); return;
    case '~': Emit(0x00A0); return;
    case '_': Emit(0x2011); return;
    case '\r':
    case '\n':
        if (FState.Dest == dText && FPendingSkip == 0)
            EndParagraph();
        return;
    default: return; // \- optional hyphen, \: index entry, \| formula: nothing to show
    }
}

void TRtfReader::ControlWord(const TWord& W)
{
    if (W.Name == "bin") {
        SkipBinary(W.Param);
        return;
    }
    if (FState.Dest == dSkip)
        return;
    if (FPendingSkip > 0) {
        --FPendingSkip; // a control word stands for one fallback character
        return;
    }
    if (W.Name == "fonttbl") {
        FState.Dest = dFontTable;
    } else if (W.Name == "colortbl") {
        FState.Dest = dColorTable;
        FRgbSet = false;
    } else if (SkippedDestination(W.Name)) {
        FState.Dest = dSkip;
    } else if (FState.Dest == dFontTable || FState.Dest == dColorTable) {
        TableWord(W);
    } else if (W.Name == "u") {
        EmitUnicode(W.Param);
        FPendingSkip = FState.FallbackCount;
    } else if (W.Name == "par" || W.Name == "sect" || W.Name == "row") {
        EndParagraph();
    } else if (char32_t code = CharacterWord(W.Name)) {
        Emit(code);
    } else {
        FormatWord(W);
    }
}

void TRtfReader::FormatWord(const TWord& W)
{
    const bool on = !W.HasParam || W.Param != 0;
    auto setStyle = [&](TFontStyle S, bool On) {
        FState.Format.Style = On ? TFontStyles(FState.Format.Style | S) : TFontStyles(FState.Format.Style & ~S);
    };
    const std::string_view n = W.Name;
    if (n == "b") {
        setStyle(fsBold, on);
    } else if (n == "i") {
        setStyle(fsItalic, on);
    } else if (n == "ul" || n == "ulw" || n == "uld" || n == "uldb" || n == "ulth" || n == "uldash") {
        setStyle(fsUnderline, on);
    } else if (n == "ulnone") {
        setStyle(fsUnderline, false);
    } else if (n == "plain") {
        ResetFormat();
    } else if (n == "fs") {
        FState.Format.HalfPoints = W.HasParam ? std::clamp(W.Param, 2, 3276) : 24;
    } else if (n == "cf") {
        const bool known = W.Param >= 0 && size_t(W.Param) < FColors.size();
        FState.Format.Color = known ? FColors[size_t(W.Param)] : std::nullopt;
    } else if (n == "f") {
        const TFontEntry* font = Font(W.Param);
        FState.FontNumber = W.Param;
        FState.Format.FontName = font ? font->Name : std::string();
    } else if (n == "pard") {
        FState.Align = raLeft;
    } else if (n == "ql" || n == "qj" || n == "qd") {
        FState.Align = raLeft;
    } else if (n == "qc") {
        FState.Align = raCenter;
    } else if (n == "qr") {
        FState.Align = raRight;
    } else if (n == "ansicpg") {
        FDocCodePage = W.Param;
    } else if (n == "deff") {
        FDefaultFont = W.Param;
    } else if (n == "uc") {
        FState.FallbackCount = std::clamp(W.Param, 0, 16);
    }
}

void TRtfReader::TableWord(const TWord& W)
{
    if (FState.Dest == dColorTable) {
        const int32_t component = W.Name == "red" ? 0 : W.Name == "green" ? 1 : W.Name == "blue" ? 2 : -1;
        if (component >= 0) {
            FRgb[component] = uint8_t(std::clamp(W.Param, 0, 255));
            FRgbSet = true;
        }
        return;
    }
    if (W.Name == "f") {
        FFontEntry = TFontEntry();
        FFontEntry.Number = W.Param;
    } else if (W.Name == "fcharset") {
        FFontEntry.CodePage = CodePageOfCharset(W.Param);
    } else if (W.Name == "cpg") {
        FFontEntry.CodePage = W.Param;
    } else if (W.Name == "u") {
        EmitUnicode(W.Param);
        FPendingSkip = FState.FallbackCount;
    }
}

void TRtfReader::SkipBinary(int32_t Count)
{
    const size_t n = std::min<size_t>(size_t(std::max(Count, 0)), FIn.size() - FPos);
    FPos += n;
}

void TRtfReader::ByteChar(uint8_t Byte)
{
    if (Byte < 0x80) {
        Emit(Byte);
        return;
    }
    Emit(CodePage() == 1251 ? Cp1251ToUnicode(Byte) : Cp1252ToUnicode(Byte));
}

int32_t TRtfReader::CodePage() const
{
    const TFontEntry* font = Font(FState.FontNumber);
    return font && font->CodePage ? font->CodePage : FDocCodePage;
}

const TFontEntry* TRtfReader::Font(int32_t Number) const
{
    const auto it = FFonts.find(Number);
    return it == FFonts.end() ? nullptr : &it->second;
}

void TRtfReader::ResetFormat()
{
    FState.Format = TRtfCharFormat();
    FState.FontNumber = FDefaultFont;
    if (const TFontEntry* font = Font(FDefaultFont))
        FState.Format.FontName = font->Name;
}

void TRtfReader::EmitUnicode(int32_t Param)
{
    // The parameter is a signed 16-bit value; characters past U+FFFF come as surrogates.
    const char32_t unit = char32_t(Param < 0 ? Param + 65536 : Param) & 0xFFFF;
    if (unit >= 0xD800 && unit < 0xDC00) {
        if (FHighSurrogate)
            EmitText(0xFFFD);
        FHighSurrogate = unit;
        return;
    }
    if (unit >= 0xDC00 && unit < 0xE000) {
        const char32_t high = FHighSurrogate;
        FHighSurrogate = 0;
        EmitText(high ? 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00) : 0xFFFD);
        return;
    }
    EmitText(unit);
}

void TRtfReader::Emit(char32_t Code)
{
    if (FPendingSkip > 0) {
        --FPendingSkip;
        return;
    }
    EmitText(Code);
}

void TRtfReader::EmitText(char32_t Code)
{
    if (FHighSurrogate && !(Code >= 0xDC00 && Code < 0xE000)) {
        FHighSurrogate = 0;
        EmitText(0xFFFD);
    }
    if (FState.Dest == dFontTable) {
        if (Code != U';') {
            if (Code >= 0x20 && Code != 0x2028) // a face name is one line of visible text
                AppendUtf8(FFontEntry.Name, Code);
            return;
        }
        if (FFontEntry.Name.size() > 0)
            FFonts.try_emplace(FFontEntry.Number, FFontEntry); // the first definition of a number holds
        FFontEntry = TFontEntry();
        return;
    }
    if (FState.Dest == dColorTable) {
        if (Code != U';')
            return;
        FColors.push_back(FRgbSet ? std::optional<TColor>(RGB(FRgb[0], FRgb[1], FRgb[2])) : std::nullopt);
        FRgbSet = false;
        FRgb[0] = FRgb[1] = FRgb[2] = 0;
        return;
    }
    if (FState.Dest != dText || (Code < 0x20 && Code != U'\t'))
        return;
    FParaHasText = true;
    if (Full())
        return; // counted, not kept
    if (FPara.Runs.empty() || !(FPara.Runs.back().Format == FState.Format))
        FPara.Runs.push_back(TRtfRun{{}, FState.Format});
    AppendUtf8(FPara.Runs.back().Text, Code);
}

void TRtfReader::EndParagraph()
{
    ++FParagraphCount;
    FParaHasText = false;
    FPara.Align = FState.Align;
    if (!Full())
        FDoc.Paragraphs.push_back(std::move(FPara));
    FPara = TRtfParagraph();
}

} // namespace

TRtfDocument ReadRtf(std::string_view Bytes) { return TRtfReader(Bytes, SIZE_MAX).Run().Document; }

TTextParagraphs ReadRtfParagraphs(std::string_view Bytes, size_t MaxParagraphs)
{
    return TRtfReader(Bytes, MaxParagraphs).Run();
}

} // namespace kv
