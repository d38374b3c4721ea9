// The RTF reader and writer and the plain-text encoding, on spelled-out bytes.
#include "platform/RichText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

using namespace kv;

namespace {

TRtfRun MakeRun(const std::string& Text, int Style = 0, std::optional<TColor> Color = std::nullopt,
                const std::string& Font = "", int32_t HalfPoints = 24)
{
    TRtfRun r;
    r.Text = Text;
    r.Format.Style = TFontStyles(Style);
    r.Format.Color = Color;
    r.Format.FontName = Font;
    r.Format.HalfPoints = HalfPoints;
    return r;
}

TRtfParagraph Para(TRtfAlign Align, std::vector<TRtfRun> Runs) { return TRtfParagraph{Align, std::move(Runs)}; }

std::string TextOf(const TRtfDocument& D)
{
    std::string out;
    for (size_t i = 0; i < D.Paragraphs.size(); ++i) {
        if (i)
            out += '|';
        out += D.Paragraphs[i].PlainText();
    }
    return out;
}

} // namespace

TEST(RichText, WrittenDocumentsReadBackTheSame)
{
    const std::vector<TRtfDocument> docs = {
        {{Para(raLeft, {MakeRun("Text")})}},
        {{Para(raCenter,
               {MakeRun("bold", fsBold), MakeRun(" plain "), MakeRun("all", fsBold | fsItalic | fsUnderline)}),
          Para(raRight, {MakeRun("red", 0, RGB(255, 0, 0), "Arial", 40),
                         MakeRun("blue", fsItalic, RGB(0, 0, 255), "Courier New")}),
          Para(raLeft, {})}},
        {{Para(raRight, {MakeRun("Привет, мир — ёж № 5")}),
          Para(raCenter, {MakeRun("\ttab\tinside\xE2\x80\xA8next line")})}},
        {{Para(raLeft, {MakeRun("braces {} and \\ back\\slash")}),
          Para(raLeft, {MakeRun("emoji \xF0\x9F\x98\x80 end")})}},
        {{Para(raLeft, {}), Para(raLeft, {})}},
    };
    for (const TRtfDocument& doc : docs) {
        const std::string rtf = WriteRtf(doc);
        ASSERT_TRUE(LooksLikeRtf(rtf));
        EXPECT_EQ(rtf.find_first_of(std::string("\x80\xFF", 2)), std::string::npos) << "7-bit output";
        EXPECT_EQ(ReadRtf(rtf), doc) << rtf;
    }
}

TEST(RichText, RussianCodePageAndUnicodeEscapes)
{
    struct TCase {
        const char* Rtf;
        const char* Text;
    } cases[] = {
        // The document's code page.
        {R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8\'e2\'e5\'f2\par})", "Привет"},
        // The font's character set 204 wins over the document's page.
        {R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0\fnil\fcharset204 Arial;}{\f1\fnil\fcharset0 Arial;}})"
         R"(\f0\'e0\'b8\f1\'e0\par})",
         "аёà"},
        // \ucN fallbacks are skipped, whatever form they take.
        {R"({\rtf1\uc2\u1055\'3f\'3fx\uc1\u1080?y\u1081\'e9z})", "Пxиyйz"},
        // Negative parameters and surrogate pairs.
        {R"({\rtf1\u-3913?\u-10179?\u-8704?})", "\xEF\x82\xB7\xF0\x9F\x98\x80"},
        // Control symbols and character words.
        {R"({\rtf1 a\~b\_c\{\}\\\emdash\ldblquote q\rdblquote})", "a\xC2\xA0"
                                                                  "b\xE2\x80\x91"
                                                                  "c{}\\—“q”"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(TextOf(ReadRtf(c.Rtf)), c.Text) << c.Rtf;
}

TEST(RichText, ReaderFollowsFormattingTablesAndDestinations)
{
    const TRtfDocument d = ReadRtf(R"({\rtf1\ansi\deff0{\fonttbl{\f0\froman Times New Roman;}{\f1\fswiss)"
                                   R"({\*\panose 020b0604020202020204}Arial;}})"
                                   R"({\colortbl;\red255\green0\blue0;\red0\green128\blue0;})"
                                   R"({\stylesheet{\s0 Normal;}}{\info{\title Secret}}{\*\generator Writer;})"
                                   R"(\pard\qc\f1\fs40\cf2\b bold{\i\ul both}\b0 plain\par)"
                                   R"(\pard\qr\plain{\pict\bin5 }}}}}}x\cf9 y\par)"
                                   R"(\pard last})");
    ASSERT_EQ(d.Paragraphs.size(), 3u);
    EXPECT_EQ(TextOf(d), "boldbothplain|xy|last");
    const TRtfParagraph& p = d.Paragraphs[0];
    EXPECT_EQ(p.Align, raCenter);
    ASSERT_EQ(p.Runs.size(), 3u);
    EXPECT_EQ(p.Runs[0].Format, (TRtfCharFormat{"Arial", 40, RGB(0, 128, 0), fsBold}));
    EXPECT_EQ(p.Runs[1].Format.Style, fsBold | fsItalic | fsUnderline);
    EXPECT_EQ(p.Runs[2].Format.Style, 0);
    EXPECT_EQ(d.Paragraphs[1].Align, raRight);
    // \plain returns to the default font; an unknown colour index is the automatic colour.
    EXPECT_EQ(d.Paragraphs[1].Runs[0].Format, (TRtfCharFormat{"Times New Roman", 24, std::nullopt, 0}));
    EXPECT_EQ(d.Paragraphs[2].Align, raLeft);
}

TEST(RichText, HostileInputEndsWithAnErrorOrWhatWasRead)
{
    EXPECT_THROW(ReadRtf("plain words"), ERtfError);
    EXPECT_THROW(ReadRtf("{\\rtf1" + std::string(300, '{')), ERtfError);
    EXPECT_THROW(ReadRtf("{\\rtf1\\" + std::string(40, 'a') + " x}"), ERtfError);
    EXPECT_THROW(ReadRtf("{\\rtf1\\fs12345678901 x}"), ERtfError);
    EXPECT_NO_THROW(ReadRtf("{\\rtf1" + std::string(RtfMaxGroupDepth - 2, '{')));
    // Truncated or odd endings keep the text before them.
    EXPECT_EQ(TextOf(ReadRtf("{\\rtf1 abc")), "abc");
    EXPECT_EQ(TextOf(ReadRtf("{\\rtf1 abc\\'4")), "abc");
    EXPECT_EQ(TextOf(ReadRtf("{\\rtf1 abc\\bin99999999 def}")), "abc");
    EXPECT_EQ(TextOf(ReadRtf("{\\rtf1 abc\\bin-5 def}")), "abcdef");
    EXPECT_EQ(TextOf(ReadRtf("{\\rtf1 a}}}} b")), "a");
    EXPECT_EQ(TextOf(ReadRtf("{\\rtf1\\u-99999999?\\fs-2147483647 x\\")).back(), 'x');
}

TEST(RichText, PlainTextIsUtf8WithCrLfAndReadsEitherEncoding)
{
    EXPECT_EQ(EncodePlainText({"a", "", "Яб"}), "a\r\n\r\n\xD0\xAF\xD0\xB1\r\n");
    using L = std::vector<std::string>;
    EXPECT_EQ(DecodePlainText("a\r\nb\nc\rd"), (L{"a", "b", "c", "d"}));
    EXPECT_EQ(DecodePlainText("a\r\n\r\n"), (L{"a", ""}));
    EXPECT_EQ(DecodePlainText("\xEF\xBB\xBFЯ\r\n"), (L{"Я"}));
    // Not UTF-8: Windows-1251.
    EXPECT_EQ(DecodePlainText("\xCF\xF0\xE8\xE2\xE5\xF2\r\n\xB8\xB9"), (L{"Привет", "ё№"}));
    // Overlong forms are not UTF-8 either.
    EXPECT_EQ(DecodePlainText("\xC0\xAF"), (L{"АЇ"}));

    // The count of lines, taken without decoding, agrees with the decode, and a bound on
    // the lines kept drops the rest.
    for (const char* bytes : {"", "a", "a\r\nb\nc\rd", "a\r\n\r\n", "\n\n\r", "\r\r\n", "x\n\xEF\xBB\xBF",
                              "\xEF\xBB\xBF", "\xEF\xBB\xBF\n", "\xCF\xF0\r\n\xB8\xB9"}) {
        SCOPED_TRACE(bytes);
        const L all = DecodePlainText(bytes);
        EXPECT_EQ(CountPlainTextLines(bytes), int64_t(all.size()));
        for (size_t keep = 0; keep <= all.size(); ++keep)
            EXPECT_EQ(DecodePlainText(bytes, keep), L(all.begin(), all.begin() + keep));
    }
}

TEST(RichText, BoundedReadKeepsTheFirstParagraphsAndCountsAll)
{
    const std::string rtf = R"({\rtf1{\fonttbl{\f3\fcharset204 A;}{\f3\fcharset0 B;}})"
                            R"(\f3 one\'e0\par two\par\qc three\par four})";
    for (size_t keep : {0u, 1u, 2u, 4u, 9u}) {
        const TTextParagraphs read = ReadRtfParagraphs(rtf, keep);
        EXPECT_EQ(read.Count, 4);
        TRtfDocument all = ReadRtf(rtf);
        all.Paragraphs.resize(std::min<size_t>(keep, 4));
        EXPECT_EQ(read.Document, all);
    }
    // A font number defined twice keeps its first definition (code page 1251 here).
    EXPECT_EQ(TextOf(ReadRtf(rtf)), "oneа|two|three|four");
}

TEST(RichText, LibreOfficeFilesRead)
{
    auto read = [](const char* Name) {
        std::ifstream in(std::string(KV_TEST_DATA) + "/rtffiles/" + Name, std::ios::binary);
        return ReadRtf(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    };
    const TRtfDocument styles = read("styles.rtf");
    EXPECT_EQ(TextOf(styles), "Plain bold and italic and underlined.|Centred large|Red on the right");
    ASSERT_EQ(styles.Paragraphs.size(), 3u);
    const std::vector<TRtfRun>& first = styles.Paragraphs[0].Runs;
    ASSERT_EQ(first.size(), 7u);
    EXPECT_EQ(first[1].Text, "bold");
    EXPECT_EQ(first[1].Format.Style, fsBold);
    EXPECT_EQ(first[3].Format.Style, fsItalic);
    EXPECT_EQ(first[5].Format.Style, fsUnderline);
    EXPECT_EQ(first[0].Format.FontName, "Liberation Serif");
    EXPECT_EQ(styles.Paragraphs[1].Align, raCenter);
    EXPECT_EQ(styles.Paragraphs[1].Runs[0].Format.HalfPoints, 40);
    EXPECT_EQ(styles.Paragraphs[1].Runs[0].Format.FontName, "Liberation Sans");
    EXPECT_EQ(styles.Paragraphs[2].Align, raRight);
    EXPECT_EQ(styles.Paragraphs[2].Runs[0].Format.Color, RGB(255, 0, 0));

    const TRtfDocument russian = read("russian.rtf");
    EXPECT_EQ(TextOf(russian), "Привет, мир!|Съешь же ещё этих мягких французских булок, да выпей чаю.|Ёжик № 5");
    const TRtfAlign aligns[] = {raCenter, raLeft, raRight};
    const TFontStyles styleOf[] = {fsBold, 0, fsItalic};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(russian.Paragraphs[i].Align, aligns[i]);
        EXPECT_EQ(russian.Paragraphs[i].Runs[0].Format.Style, styleOf[i]);
    }

    EXPECT_EQ(TextOf(read("plain.rtf")), "Line one|\tTabbed line|Вторая строка");
}
