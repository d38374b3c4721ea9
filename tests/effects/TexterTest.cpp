// "Add Text": the line layout with its worked values, the render in both modes measured
// with the font's own metrics, and saving under the filters' names.
#include "FakeMainForm.h"
#include "effects/TexterUnit.h"
#include "platform/Dialogs.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"

#include <QCheckBox>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace kv;
namespace fs = std::filesystem;

namespace {

// Every character is 10 pixels wide, so widths are easy to work out.
int32_t TenPerChar(const std::string& S) { return int32_t(S.size()) * 10; }

TTextLayout Lay(std::vector<TMeasuredLine> Lines, int32_t H = 20) { return LayOutTextLines(Lines, H, TenPerChar); }

std::string ReadAll(const fs::path& P)
{
    std::ifstream in(P, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The leftmost column with ink in rows [Y0, Y1) of the mask, or -1.
int32_t FirstInkColumn(TBitmap32& B, int32_t Y0, int32_t Y1)
{
    for (int32_t x = 0; x < B.Width(); ++x)
        for (int32_t y = Y0; y < Y1; ++y)
            if (B.GetPixelFast(x, y) >> 24)
                return x;
    return -1;
}

class TexterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        T.Rtf->resize(600, 400);
        T.Rtf->Font()->SetName("Arial");
        T.Rtf->Font()->SetHeight(-20);
        T.Rtf->Font()->SetColor(RGB(200, 10, 20));
    }
    // What the render measures with: the editor's font on a bitmap.
    TBitmap32& Metrics()
    {
        M.SetFont(T.Rtf->Font());
        return M;
    }
    test::TFakeMainForm Main;
    TTexter T{nullptr, Main};
    TBitmap32 M;
};

} // namespace

TEST(TextLayout, WorkedValues)
{
    // One line: (width + 10) x (h + 10), at (1, 5) left-aligned, at 0 otherwise.
    for (auto [align, x] : {std::pair{taLeftJustify, 1}, {taRightJustify, 0}, {taCenter, 0}}) {
        const TTextLayout l = Lay({{"Text", align}});
        EXPECT_EQ(l.Width, 50);
        EXPECT_EQ(l.Height, 30);
        EXPECT_EQ(l.Lines[0].X, x);
        EXPECT_EQ(l.Lines[0].Y, 5);
    }
    const TTextLayout three = Lay({{"a"}, {"b"}, {"c"}}, 20);
    EXPECT_EQ(three.Height, 70);
    EXPECT_EQ(three.Lines[2].Y, 45);
    // Width differences of 5 and 7 with a one-pixel-per-character measure: Round halves
    // to even, so 2.5 gives 2 and 3.5 gives 4.
    auto onePer = [](const std::string& S) { return int32_t(S.size()); };
    for (auto [shortLine, centred] : {std::pair{std::string(5, 'x'), 2}, {std::string(3, 'x'), 4}}) {
        const TTextLayout r = LayOutTextLines({{shortLine, taRightJustify}, {std::string(10, 'x')}}, 20, onePer);
        EXPECT_EQ(r.Lines[0].X, 10 - int32_t(shortLine.size()));
        const TTextLayout c = LayOutTextLines({{shortLine, taCenter}, {std::string(10, 'x')}}, 20, onePer);
        EXPECT_EQ(c.Lines[0].X, centred);
    }
}

TEST(TextLayout, OnlyLeadingTabsIndentAndTheBitmapHoldsTheIndentedLines)
{
    const TTextLayout l = Lay({{"\t\tabc"}, {"a\tb"}});
    EXPECT_EQ(l.Lines[0].Text, "abc");
    EXPECT_EQ(l.Lines[0].X, 21);
    EXPECT_EQ(l.Lines[1].Text, "a\tb");
    EXPECT_EQ(l.Lines[1].X, 1);
    EXPECT_GE(l.Width, 21 + 30);
    // Right-aligned and indented: the line end decides the width, never less than w + 10.
    const TTextLayout r = Lay({{"\t\t\tab", taRightJustify}, {"abcdef"}});
    EXPECT_EQ(r.Lines[0].X, 60 - 20 + 30);
    EXPECT_EQ(r.Width, 90);
    EXPECT_EQ(Lay({{"\tab"}, {"abcdef"}}).Width, 70);
}

TEST(TextLayout, HugeTextsAreSizedIn64Bits)
{
    const TTextLayout l = LayOutTextLines(std::vector<TMeasuredLine>(3, {"x"}), 2000000000, TenPerChar);
    EXPECT_EQ(l.Height, int64_t(3) * 2000000000 + 10);
    EXPECT_FALSE(PixelBufferSizeOk(l.Width, l.Height));
}

TEST(TextLayout, TextPicturesAreRefusedInWordsForTheUser)
{
    // Sides up to 65535, and 2^25 = 33554432 pixels: 65535 x 512 = 33553920 and
    // 5792 x 5792 = 33547264 are made, 65535 x 513 and 5793 x 5793 = 33558849 are not.
    struct TCase {
        int64_t Width, Height;
        const char* Refusal; // null: made
    } const Cases[] = {{65535, 512, nullptr},
                       {5792, 5792, nullptr},
                       {1, 65535, nullptr},
                       {65535, 513, TextTooLongMessage},
                       {5793, 5793, TextTooLongMessage},
                       {65536, 1, TextTooLongMessage},
                       {1, 65536, TextTooManyLinesMessage},
                       {70000, 70000, TextTooManyLinesMessage}};
    for (const TCase& C : Cases) {
        SCOPED_TRACE(std::to_string(C.Width) + " x " + std::to_string(C.Height));
        if (!C.Refusal) {
            EXPECT_NO_THROW(CheckTextPictureSize(C.Width, C.Height));
            continue;
        }
        try {
            CheckTextPictureSize(C.Width, C.Height);
            ADD_FAILURE() << "made";
        } catch (const EOutOfResources& e) {
            EXPECT_EQ(e.Message(), C.Refusal);
        }
    }
}

TEST(TextLayout, LoadIsBoundedByWhatThePictureHoldsAtAnyWidth)
{
    // Line height 20: 3276 lines make 65530 rows, one more is past the 65535 side; a text
    // picture's 2^25 pixels hold 1677721 pixels of line width at that height, 1398101 at
    // height 24 and 671088 at height 50, less the 10-pixel margin of each paragraph's
    // line. A word is never broken by word wrap: one wider than 65535 - 10 pixels can
    // never be drawn.
    auto paragraphs = [](int64_t Count, std::vector<std::string> Kept) {
        TTextParagraphs t;
        t.Count = Count;
        for (std::string& text : Kept)
            t.Document.Paragraphs.push_back({raLeft, {{std::move(text), {}}}});
        return t;
    };
    // N characters of nine-letter words, each followed by a blank.
    auto words = [](size_t N) {
        std::string S;
        while (S.size() < N)
            S += "xxxxxxxxx ";
        S.resize(N);
        return S;
    };
    const std::string tooLong = TextTooLongMessage, tooHigh = TextTooManyLinesMessage;
    struct TCase {
        const char* Name;
        TTextParagraphs Text;
        std::string Refusal; // empty: loads
        int32_t LineHeight = 20;
    } cases[] = {
        {"as many lines as fit", paragraphs(3276, std::vector<std::string>(3276, "ab")), ""},
        {"one line more", paragraphs(3277, std::vector<std::string>(3276, "ab")), tooHigh},
        {"a word as wide as a picture holds", paragraphs(1, {"ab " + std::string(6552, 'x') + " cd"}), ""},
        {"a word one letter wider", paragraphs(1, {"ab " + std::string(6553, 'x') + " cd"}), tooLong},
        {"the wide word in the second piece", paragraphs(1, {words(5000) + " " + std::string(6553, 'x')}), tooLong},
        {"one line as wide as fits", paragraphs(1, {words(167771)}), ""},
        {"one character more", paragraphs(1, {words(167772)}), tooLong},
        {"the width summed over lines", paragraphs(2, {words(83887), words(83887)}), tooLong},
        {"tabs indent but hold no ink", paragraphs(1, {std::string(20, '\t') + words(167771)}), ""},
        {"as many pixels as there are", paragraphs(1, {words(139809)}), "", 24},
        {"just past them", paragraphs(1, {words(67108)}), tooLong, 50},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Refusal.empty()) {
            EXPECT_NO_THROW(CheckTextFitsPicture(c.Text, c.LineHeight, TenPerChar));
            continue;
        }
        try {
            CheckTextFitsPicture(c.Text, c.LineHeight, TenPerChar);
            ADD_FAILURE() << "loaded";
        } catch (const EOutOfResources& e) {
            EXPECT_EQ(e.Message(), c.Refusal);
        }
    }
    // A word exactly as wide as a picture holds (65525 pixels at 25 a letter) among
    // others, in one piece wider than that: it loads, a letter more does not.
    auto quarterHundred = [](const std::string& S) { return int32_t(S.size()) * 25; };
    EXPECT_NO_THROW(CheckTextFitsPicture(paragraphs(1, {"ab " + std::string(2621, 'x') + " cd"}), 20, quarterHundred));
    EXPECT_THROW(CheckTextFitsPicture(paragraphs(1, {"ab " + std::string(2622, 'x') + " cd"}), 20, quarterHundred),
                 EOutOfResources);
    // Measured a piece at a time, whole characters only, and no further than the picture
    // holds: 20 million letters without a blank cost no more than the line width the
    // picture holds and one picture's width more.
    int64_t measured = 0;
    size_t longest = 0;
    int32_t split = 0;
    auto perCodePoint = [&](const std::string& S) {
        measured += int64_t(S.size());
        longest = std::max(longest, S.size());
        const std::u32string code = Utf8ToCodePoints(S);
        split += code.find(U'\uFFFD') != std::u32string::npos;
        return int32_t(code.size()) * 10;
    };
    std::string cyrillic = "a";
    for (int32_t i = 0; i < 6000; ++i)
        cyrillic += i % 10 == 9 ? " " : "ж";
    EXPECT_NO_THROW(CheckTextFitsPicture(paragraphs(1, {cyrillic}), 20, perCodePoint));
    EXPECT_LE(longest, 4096u);
    EXPECT_EQ(split, 0);
    measured = 0;
    EXPECT_THROW(CheckTextFitsPicture(paragraphs(1, {std::string(20000000, 'x')}), 20, perCodePoint), EOutOfResources);
    EXPECT_LT(measured, 167773 + 6553 + 2 * 4096);
}

TEST_F(TexterTest, RenderMeasuresWithTheFontAndFillsEachMode)
{
    T.Rtf->SetParagraphs({"Text"});
    T.Alpha->setChecked(false);
    T.RenderIt(TextRenderMask);
    TBitmap32* B = T.Image();
    const int32_t w = Metrics().TextWidth("Text"), h = Metrics().TextHeight("Text");
    ASSERT_EQ(B->Width(), w + 10);
    ASSERT_EQ(B->Height(), h + 10);
    // The mask: transparent black, the letters white; nothing left of x = 1 or above y = 5.
    int32_t inked = 0;
    for (int32_t y = 0; y < B->Height(); ++y)
        for (int32_t x = 0; x < B->Width(); ++x) {
            const TColor32 c = B->GetPixelFast(x, y);
            EXPECT_TRUE(((c >> 16) & 0xFF) == (c & 0xFF) && ((c >> 8) & 0xFF) == (c & 0xFF)) << x << "," << y;
            inked += c == 0xFFFFFFFFu;
            if (x < 1 || y < 5) {
                EXPECT_EQ(c, 0u);
            }
        }
    EXPECT_GT(inked, 20);

    // Colour pass on the background colour: its corners are the background.
    T.Rtf->SetColor(RGB(0, 0, 255));
    T.RenderIt(TextRenderNormal);
    EXPECT_EQ(B->GetPixelFast(0, 0), 0xFF0000FFu);
    // With a transparent background: one flat colour, the font's.
    T.Alpha->setChecked(true);
    T.RenderIt(TextRenderNormal);
    for (int32_t y = 0; y < B->Height(); ++y)
        for (int32_t x = 0; x < B->Width(); ++x)
            ASSERT_EQ(B->GetPixelFast(x, y), 0xFFC80A14u);
}

TEST_F(TexterTest, EachDisplayedLineTakesItsParagraphsAlignmentAndTheSelectionStays)
{
    T.Rtf->SetWordWrap(false);
    T.Rtf->SetParagraphs({"ab", "abcdefgh"});
    const int32_t w1 = Metrics().TextWidth("ab"), w2 = Metrics().TextWidth("abcdefgh");
    const int32_t h = Metrics().TextHeight("ab");
    T.RenderIt(TextRenderMask);
    const int32_t leftInk = FirstInkColumn(*T.Image(), 5, 5 + h);
    T.Rtf->SetSelStart(1);
    T.Rtf->SetAlignment(taRightJustify); // the first paragraph only
    T.Rtf->SetSelStart(5);
    T.RenderIt(TextRenderMask);
    EXPECT_EQ(T.Rtf->SelStart(), 5);
    EXPECT_EQ(FirstInkColumn(*T.Image(), 5, 5 + h), leftInk - 1 + (w2 - w1));
    EXPECT_EQ(FirstInkColumn(*T.Image(), 5 + h, 5 + 2 * h), leftInk);
    T.Rtf->SetSelStart(1);
    T.AlignClick(taCenter);
    EXPECT_TRUE(T.ToolButton13->isChecked());
    EXPECT_FALSE(T.ToolButton14->isChecked());
    T.RenderIt(TextRenderMask);
    EXPECT_EQ(FirstInkColumn(*T.Image(), 5, 5 + h), leftInk - 1 + SafeRound((w2 - w1) / 2.0));
}

TEST_F(TexterTest, TooLargeATextIsRefusedWithAMessage)
{
    T.Rtf->Font()->SetHeight(-400);
    T.Rtf->SetParagraphs(std::vector<std::string>(200, "x"));
    EXPECT_THROW(T.RenderIt(TextRenderNormal), EOutOfResources);
    TScriptedAnswers answers;
    answers.Then(mrOk);
    T.Button3Click(); // Preview: the message, no layer
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].Kind, dkMessage);
    EXPECT_EQ(answers.Requests[0].Text, TextTooManyLinesMessage);
    // A line wider than a picture can be, in words for the user too.
    T.Rtf->Font()->SetHeight(-20);
    T.Rtf->SetWordWrap(false);
    T.Rtf->SetParagraphs({std::string(70000, 'x')});
    try {
        T.RenderIt(TextRenderNormal);
        ADD_FAILURE() << "rendered";
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message(), TextTooLongMessage);
    }
}

TEST_F(TexterTest, LoadRefusesWhatThePictureCannotHoldAndShowsTheRestInTheEditorsFont)
{
    const fs::path dir = fs::temp_directory_path() / "texter_load";
    fs::create_directories(dir);
    // One line more than the picture has rows for.
    const int32_t h = Metrics().TextHeight("line");
    const int64_t lines = (MaxPixelSide - 10) / h + 1;
    std::string many;
    for (int64_t i = 0; i < lines; ++i)
        many += "line\r\n";
    std::ofstream(dir / "many.txt", std::ios::binary) << many;
    // Sizes, a colour, bold and a font of its own, centred and right-aligned paragraphs.
    std::ofstream(dir / "coloured.rtf", std::ios::binary)
        << R"({\rtf1{\fonttbl{\f0 Courier New;}}{\colortbl;\red0\green0\blue255;})"
        << R"(\qc\f0\fs60\cf1\b Big\b0  blue\par\qr\fs16 small\par})";

    // A million letters without a blank: no word wrap can ever draw the line.
    std::ofstream(dir / "long.txt", std::ios::binary) << std::string(1000000, 'x');

    T.Rtf->SetParagraphs({"kept"});
    {
        TScriptedAnswers refused;
        TDialogAnswer open;
        open.Result = mrOk;
        open.FileName = (dir / "long.txt").string();
        refused.Then(open).Then(mrOk);
        T.ToolButton6Click();
        ASSERT_EQ(refused.Requests.size(), 2u);
        EXPECT_EQ(refused.Requests[1].Kind, dkMessage);
        EXPECT_EQ(refused.Requests[1].Text, TextTooLongMessage);
        EXPECT_EQ(T.Rtf->Paragraphs(), (std::vector<std::string>{"kept"}));
    }
    TScriptedAnswers answers;
    for (const char* name : {"many.txt", "coloured.rtf"}) {
        TDialogAnswer open;
        open.Result = mrOk;
        open.FileName = (dir / name).string();
        answers.Then(open).Then(mrOk);
    }
    T.ToolButton6Click();
    ASSERT_EQ(answers.Requests.size(), 2u);
    EXPECT_EQ(answers.Requests[1].Kind, dkMessage);
    EXPECT_EQ(answers.Requests[1].Text, TextTooManyLinesMessage);
    EXPECT_EQ(T.Rtf->Paragraphs(), (std::vector<std::string>{"kept"}));

    // The file's text and alignment, in the one font and colour the layer is drawn with.
    T.ToolButton6Click();
    EXPECT_EQ(answers.Requests.size(), 3u);
    EXPECT_EQ(T.Rtf->Paragraphs(), (std::vector<std::string>{"Big blue", "small"}));
    EXPECT_EQ(T.Rtf->ParagraphAlignment(0), taCenter);
    EXPECT_EQ(T.Rtf->ParagraphAlignment(1), taRightJustify);
    TRichEdit typed;
    typed.SetFont(T.Rtf->Font());
    typed.SetParagraphs({"x"});
    const TRtfCharFormat plain = typed.Document().Paragraphs[0].Runs[0].Format;
    EXPECT_EQ(plain.Color, RGB(200, 10, 20));
    for (const TRtfParagraph& p : T.Rtf->Document().Paragraphs) {
        ASSERT_EQ(p.Runs.size(), 1u);
        EXPECT_EQ(p.Runs[0].Format, plain);
    }
    fs::remove_all(dir);
}

TEST_F(TexterTest, SaveAppendsTheFiltersExtensionOnlyWhenMissing)
{
    const fs::path dir = fs::temp_directory_path() / "texter_save";
    fs::create_directories(dir);
    T.Rtf->SetParagraphs({"Текст", "second"});
    struct TCase {
        const char* Typed;
        int32_t Filter;
        const char* Written;
    } cases[] = {{"a", 1, "a.rtf"}, {"b", 2, "b.txt"}, {"b.txt", 2, "b.txt"}, {"c.RTF", 1, "c.RTF"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Typed);
        TScriptedAnswers answers;
        TDialogAnswer file;
        file.Result = mrOk;
        file.FileName = (dir / c.Typed).string();
        file.FilterIndex = c.Filter;
        answers.Then(file).Then(mrYes); // and yes, replace b.txt the second time
        T.ToolButton3Click();
        const std::string bytes = ReadAll(dir / c.Written);
        EXPECT_EQ(bytes.substr(0, 5) == "{\\rtf", c.Filter == 1);
        if (c.Filter == 2) {
            EXPECT_EQ(bytes, "Текст\r\nsecond\r\n");
        }
    }
    EXPECT_FALSE(fs::exists(dir / "b.txt.txt"));
    EXPECT_EQ(TextFileName("x.Txt", ".txt"), "x.Txt");

    // What was saved loads back: text, style and alignment.
    T.Rtf->SetSelStart(0);
    T.Rtf->SetAlignment(taCenter);
    T.BoldButtonClick();
    EXPECT_TRUE(T.BoldButton->isChecked());
    EXPECT_TRUE(T.FontDialog1->Font()->Style() & fsBold);
    T.Rtf->SaveToFile((dir / "d.rtf").string(), tfRichText);
    TScriptedAnswers answers;
    TDialogAnswer open;
    open.Result = mrOk;
    open.FileName = (dir / "d.rtf").string();
    answers.Then(open);
    T.ToolButton7Click();
    EXPECT_EQ(T.Rtf->Paragraphs(), (std::vector<std::string>{""}));
    T.ToolButton6Click();
    EXPECT_EQ(T.Rtf->Paragraphs(), (std::vector<std::string>{"Текст", "second"}));
    EXPECT_EQ(T.Rtf->ParagraphAlignment(0), taCenter);
    EXPECT_EQ(T.Rtf->Document().Paragraphs[1].Runs[0].Format.Style, fsBold);
    fs::remove_all(dir);
}

TEST_F(TexterTest, ToolBarDialogsChangeTheEditorsFontAndColours)
{
    T.Rtf->SetParagraphs({"x"});
    TScriptedAnswers answers;
    TDialogAnswer font;
    font.Result = mrOk;
    font.FontName = "Courier New";
    font.FontHeight = -30;
    font.FontStyle = fsBold | fsItalic;
    font.FontColor = RGB(1, 2, 3);
    TDialogAnswer colour;
    colour.Result = mrOk;
    colour.Color = RGB(10, 20, 30);
    TDialogAnswer background = colour;
    background.Color = RGB(250, 240, 230);
    answers.Then(font).Then(colour).Then(background).Then(mrCancel);
    T.ToolButton4Click();
    EXPECT_EQ(T.Rtf->Font()->Name(), "Courier New");
    EXPECT_TRUE(T.BoldButton->isChecked());
    EXPECT_TRUE(T.ItBut->isChecked());
    EXPECT_FALSE(T.Under->isChecked());
    T.ToolButton11Click();
    EXPECT_EQ(T.Rtf->Font()->Color(), RGB(10, 20, 30));
    EXPECT_EQ(T.FontDialog1->Font()->Color(), RGB(10, 20, 30));
    T.ToolButton5Click();
    EXPECT_EQ(T.BackgroundColor(), RGB(250, 240, 230));
    T.ToolButton5Click(); // cancelled: unchanged
    EXPECT_EQ(T.BackgroundColor(), RGB(250, 240, 230));
    // Italic and underline change the editor's font only.
    T.ItButClick();
    T.UnderClick();
    EXPECT_EQ(T.Rtf->Font()->Style(), fsBold | fsUnderline);
    EXPECT_EQ(T.FontDialog1->Font()->Style(), fsBold | fsItalic);
    EXPECT_EQ(T.Rtf->Document().Paragraphs[0].Runs[0].Format.Style, fsBold | fsUnderline);
    EXPECT_EQ(answers.Requests[0].Kind, dkFont);
    EXPECT_EQ(answers.Requests[1].Kind, dkColor);
}
