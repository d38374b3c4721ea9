// The rich-text edit: displayed lines under word wrap, alignment of the selection,
// the whole-control font, and loading and saving through its files.
#include "platform/RichEdit.h"
#include "platform/Classes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace kv;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& P)
{
    std::ifstream in(P, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& P, const std::string& Bytes) { std::ofstream(P, std::ios::binary) << Bytes; }

fs::path Scratch(const std::string& Name) { return fs::temp_directory_path() / Name; }

} // namespace

TEST(RichEdit, DisplayedLinesFollowWordWrapAndKnowTheirParagraph)
{
    TRichEdit edit;
    edit.resize(200, 300);
    const std::string longText = "one two three four five six seven eight nine ten eleven twelve thirteen";
    edit.SetParagraphs({longText, "short", ""});
    std::vector<TDisplayLine> lines = edit.DisplayLines();
    ASSERT_GT(lines.size(), 3u);
    std::string joined;
    for (const TDisplayLine& l : lines)
        if (l.Paragraph == 0)
            joined += l.Text;
    EXPECT_EQ(joined, longText);
    EXPECT_EQ(lines[lines.size() - 2].Text, "short");
    EXPECT_EQ(lines[lines.size() - 2].Paragraph, 1);
    EXPECT_EQ(lines.back().Paragraph, 2);

    // A word longer than the line is never cut: it runs on past the edge on a line of its
    // own, as the edit shows it.
    const std::string word(300, 'w');
    edit.SetParagraphs({"ab " + word + " cd"});
    lines = edit.DisplayLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Text, "ab ");
    EXPECT_EQ(lines[1].Text, word + " ");
    EXPECT_EQ(lines[2].Text, "cd");

    edit.SetParagraphs({longText, "short", ""});
    edit.SetWordWrap(false);
    lines = edit.DisplayLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Text, longText);
    EXPECT_EQ(edit.Paragraphs(), (std::vector<std::string>{longText, "short", ""}));
}

TEST(RichEdit, AlignmentActsOnTheSelectionAndIsReadWithoutMovingIt)
{
    TRichEdit edit;
    edit.SetParagraphs({"first", "second", "third"});
    edit.SetSelStart(8); // inside "second"
    edit.SetAlignment(taCenter);
    EXPECT_EQ(edit.Alignment(), taCenter);
    edit.SetSelStart(14);
    edit.SetAlignment(taRightJustify);
    edit.SetSelStart(3);
    const TAlignment expected[] = {taLeftJustify, taCenter, taRightJustify};
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(edit.ParagraphAlignment(i), expected[i]);
    EXPECT_EQ(edit.SelStart(), 3);
    EXPECT_EQ(edit.Alignment(), taLeftJustify);
}

TEST(RichEdit, FilesRoundTripAndBadFilesKeepTheText)
{
    TRichEdit edit;
    TFont font;
    font.SetName("Arial");
    font.SetSize(14);
    font.SetColor(RGB(0, 0, 160));
    edit.SetFont(&font);
    TRtfDocument doc;
    doc.Paragraphs.push_back({raCenter, {{"Жирный ", {"Arial", 28, RGB(200, 0, 0), fsBold}}, {"\ttab", {}}}});
    doc.Paragraphs.push_back({raRight, {{"курсив", {"Courier New", 20, std::nullopt, fsItalic | fsUnderline}}}});
    edit.SetDocument(doc);
    const TRtfDocument shown = edit.Document();
    ASSERT_EQ(shown.Paragraphs.size(), 2u);
    EXPECT_EQ(shown.Paragraphs[0].Runs[0].Format.Style, fsBold);
    EXPECT_EQ(shown.Paragraphs[1].Runs[0].Format.HalfPoints, 20);

    const fs::path rtf = Scratch("richedit.rtf"), txt = Scratch("richedit.txt");
    edit.SaveToFile(rtf.string(), tfRichText);
    edit.SaveToFile(txt.string(), tfPlainText);
    EXPECT_EQ(ReadAll(rtf).substr(0, 5), "{\\rtf");
    EXPECT_EQ(ReadAll(txt), "Жирный \ttab\r\nкурсив\r\n");

    TRichEdit back;
    back.LoadFromFile(rtf.string());
    EXPECT_EQ(back.Document(), shown);
    back.LoadFromFile(txt.string());
    EXPECT_EQ(back.Paragraphs(), (std::vector<std::string>{"Жирный \ttab", "курсив"}));

    // A Windows-1251 text file with mixed line ends.
    WriteAll(txt, "\xCF\xF0\xE8\xE2\xE5\xF2\rline\n");
    back.LoadFromFile(txt.string());
    EXPECT_EQ(back.Paragraphs(), (std::vector<std::string>{"Привет", "line"}));

    WriteAll(rtf, "{\\rtf1" + std::string(1000, '{'));
    EXPECT_THROW(back.LoadFromFile(rtf.string()), ERtfError);
    EXPECT_THROW(back.LoadFromFile(Scratch("missing.rtf").string()), EFOpenError);
    EXPECT_EQ(back.Paragraphs(), (std::vector<std::string>{"Привет", "line"}));
}

TEST(RichEdit, WholeControlFontReachesEveryCharacter)
{
    TRichEdit edit;
    edit.SetParagraphs({"a", "b"});
    edit.Font()->SetName("Arial");
    edit.Font()->SetStyle(fsBold | fsItalic);
    edit.Font()->SetColor(RGB(0, 128, 0));
    for (const TRtfParagraph& p : edit.Document().Paragraphs) {
        ASSERT_EQ(p.Runs.size(), 1u);
        EXPECT_EQ(p.Runs[0].Format.Style, fsBold | fsItalic);
        EXPECT_EQ(p.Runs[0].Format.Color, RGB(0, 128, 0));
    }
    EXPECT_EQ(edit.Color(), clWhite);
    edit.Clear();
    EXPECT_EQ(edit.Paragraphs(), (std::vector<std::string>{""}));
}
