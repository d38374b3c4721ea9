// The printer object printing to its PDF printer: page sizes at 575.74 pixels an inch,
// pictures placed, scaled and clipped where the page pixels say (read back from the PDF
// with poppler's tools when they are installed), errors as exceptions, and the set-up
// dialogs keeping what was chosen.
#include "platform/Printers.h"
#include "common/SaveFailure.h"
#include "platform/Dialogs.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

using namespace kv;
namespace fs = std::filesystem;

namespace {

fs::path Scratch(const std::string& Name) { return fs::temp_directory_path() / Name; }

bool HaveTool(const char* Name)
{
    return std::system((std::string("command -v ") + Name + " >/dev/null").c_str()) == 0;
}

std::string RunTool(const std::string& Command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(Command.c_str(), "r"), pclose);
    char buf[256];
    while (pipe && fgets(buf, sizeof buf, pipe.get()))
        out += buf;
    return out;
}

// The "Page size:" line of pdfinfo: width and height in points.
std::pair<double, double> PdfPageSize(const fs::path& Pdf)
{
    const std::string info = RunTool("pdfinfo '" + Pdf.string() + "'");
    double w = 0, h = 0;
    const size_t at = info.find("Page size:");
    if (at != std::string::npos)
        std::sscanf(info.c_str() + at, "Page size: %lf x %lf", &w, &h);
    return {w, h};
}

// The first page rendered at Dpi, through pdftoppm.
QImage RenderPage(const fs::path& Pdf, int Dpi)
{
    const fs::path prefix = Pdf.parent_path() / (Pdf.stem().string() + "_page");
    RunTool("pdftoppm -r " + std::to_string(Dpi) + " -png -singlefile '" + Pdf.string() + "' '" + prefix.string() +
            "'");
    return QImage(QString::fromStdString(prefix.string() + ".png"));
}

// The bounding box of the pure-red pixels, in pixels of the rendering (exclusive ends).
QRect RedBox(const QImage& Page)
{
    QRect box;
    for (int y = 0; y < Page.height(); ++y)
        for (int x = 0; x < Page.width(); ++x) {
            const QColor c = Page.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                box = box.united(QRect(x, y, 1, 1));
        }
    return box;
}

// Every test prints to its own file, A4 portrait, one copy.
class PrinterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Pdf = Scratch(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".pdf");
        fs::remove(Pdf);
        Printer()->SetTestOutput(Pdf.string());
        Printer()->SetPaperSize(210, 297);
        Printer()->SetOrientation(poPortrait);
        Printer()->SetCopies(1);
    }
    void TearDown() override
    {
        Printer()->Abort();
        Printer()->SetTestOutput("");
    }
    fs::path Pdf;
};

std::vector<uint32_t> Solid(int W, int H, uint32_t C) { return std::vector<uint32_t>(size_t(W) * H, C); }

} // namespace

TEST_F(PrinterTest, PdfPrinterPagesAreTheirPaperAt575PixelsAnInch)
{
    ASSERT_EQ(Printer()->Printers(), std::vector<std::string>{TPrinter::PdfPrinterName});
    EXPECT_TRUE(Printer()->IsPdfPrinter());
    // 210 mm gives 4760.06, 297 mm 6732.08.
    EXPECT_EQ(Printer()->PageWidth(), 4760);
    EXPECT_EQ(Printer()->PageHeight(), 6732);
    Printer()->SetOrientation(poLandscape);
    EXPECT_EQ(Printer()->PageWidth(), 6732);
    EXPECT_EQ(Printer()->PageHeight(), 4760);
    // Letter: 8.5 in gives 4893.79, 11 in 6333.14.
    Printer()->SetPaperSize(215.9, 279.4);
    Printer()->SetOrientation(poPortrait);
    EXPECT_EQ(Printer()->PageWidth(), 4894);
    EXPECT_EQ(Printer()->PageHeight(), 6333);
    EXPECT_THROW(Printer()->SetPaperSize(0, 297), EPrinter);
    EXPECT_THROW(Printer()->SetPaperSize(std::nan(""), 297), EPrinter);
}

TEST_F(PrinterTest, MisuseRaisesThePrinterMessages)
{
    auto message = [](auto&& Fn) {
        try {
            Fn();
        } catch (const EPrinter& E) {
            return E.Message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([] { Printer()->Canvas(); }), "Printer is not currently printing");
    EXPECT_EQ(message([] { Printer()->EndDoc(); }), "Printer is not currently printing");
    EXPECT_EQ(message([] { Printer()->SetPrinterIndex(1); }), "Printer index out of range");
    EXPECT_EQ(message([] { Printer()->SetPrinterIndex(-1); }), "Printer index out of range");
    Printer()->BeginDoc();
    EXPECT_EQ(message([] { Printer()->BeginDoc(); }), "Printing in progress");
    Printer()->Abort();
    EXPECT_FALSE(Printer()->Printing());

    Printer()->SetTestOutput((Scratch("no such folder") / "x.pdf").string());
    const std::string m = message([] { Printer()->BeginDoc(); });
    EXPECT_EQ(m.rfind("Cannot create file", 0), 0u) << m;
    EXPECT_FALSE(Printer()->Printing());
}

TEST_F(PrinterTest, PicturesLandWhereThePagePixelsSayScaledAndClipped)
{
    // A 100 x 50 red picture stretched over 1 x 0.5 inch at (1, 2) inches, and one of
    // 40 x 40 stretched over 20000 page pixels at (4, 9) inches, running off the page.
    const std::vector<uint32_t> red = Solid(100, 50, 0xFFFF0000);
    const std::vector<uint32_t> big = Solid(40, 40, 0xFFFF0000);
    const int32_t in = 576; // one inch, near enough for the box check
    Printer()->BeginDoc();
    Printer()->Canvas()->StretchDraw(TRect{in, 2 * in, 2 * in, 2 * in + in / 2}, {red.data(), 100, 50});
    Printer()->Canvas()->StretchDraw(TRect{4 * in, 9 * in, 4 * in + 20000, 9 * in + 20000}, {big.data(), 40, 40});
    Printer()->Canvas()->StretchDraw(TRect{-5000, -5000, -10, -10}, {red.data(), 100, 50}); // off the page
    Printer()->EndDoc();
    ASSERT_TRUE(fs::exists(Pdf));
    std::ifstream in_(Pdf, std::ios::binary);
    char head[5] = {};
    in_.read(head, 4);
    EXPECT_STREQ(head, "%PDF");

    if (!HaveTool("pdfinfo") || !HaveTool("pdftoppm"))
        GTEST_SKIP() << "poppler-utils not installed: the page is not read back";
    const auto [pw, ph] = PdfPageSize(Pdf);
    EXPECT_NEAR(pw, 595.28, 0.5);
    EXPECT_NEAR(ph, 841.89, 0.5);
    // At 50 dpi the first picture covers x 50..100, y 100..125; the second starts at
    // (200, 450) and runs off the page's corner (413 x 585 at 50 dpi).
    const QImage page = RenderPage(Pdf, 50);
    ASSERT_FALSE(page.isNull());
    EXPECT_NEAR(page.width(), 413, 1);
    const QRect first = RedBox(page.copy(0, 0, page.width(), 300));
    EXPECT_NEAR(first.left(), 50, 1);
    EXPECT_NEAR(first.right() + 1, 100, 1);
    EXPECT_NEAR(first.top(), 100, 1);
    EXPECT_NEAR(first.bottom() + 1, 125, 1);
    const QRect second = RedBox(page.copy(0, 300, page.width(), page.height() - 300)).translated(0, 300);
    EXPECT_NEAR(second.left(), 200, 1);
    EXPECT_NEAR(second.top(), 450, 1);
    EXPECT_GE(second.right() + 1, page.width() - 1);
    EXPECT_GE(second.bottom() + 1, page.height() - 1);
}

TEST_F(PrinterTest, APictureFarLargerThanThePageCostsOnlyWhatShows)
{
    // A million page pixels a side is 1700 inches: only the picture's corner pixel shows,
    // and the file holds that pixel, not a page-sized copy.
    const std::vector<uint32_t> pixels = Solid(400, 400, 0xFF00FF00);
    Printer()->BeginDoc();
    Printer()->Canvas()->StretchDraw(TRect{100, 100, 1000100, 1000100}, {pixels.data(), 400, 400});
    Printer()->Canvas()->StretchDraw(TRect{-2000000000, -2000000000, 2000000000, 2000000000},
                                     {pixels.data(), 400, 400});
    Printer()->EndDoc();
    ASSERT_TRUE(fs::exists(Pdf));
    EXPECT_LT(fs::file_size(Pdf), 16u * 1024);
}

TEST_F(PrinterTest, SetupDialogsActOnTheOnePrinterAndKeepTheChoice)
{
    TScriptedAnswers answers;
    TDialogAnswer landscape;
    landscape.Result = mrOk;
    landscape.Orientation = poLandscape;
    landscape.Copies = 3;
    answers.Then(landscape).Then(mrCancel);
    TPrinterSetupDialog setup;
    EXPECT_TRUE(setup.Execute());
    TPrintDialog print;
    EXPECT_FALSE(print.Execute()); // cancelled: nothing changes
    ASSERT_EQ(answers.Requests.size(), 2u);
    EXPECT_EQ(answers.Requests[0].Kind, dkPrinterSetup);
    EXPECT_EQ(answers.Requests[1].Kind, dkPrint);
    EXPECT_EQ(Printer()->Orientation(), poLandscape);
    EXPECT_EQ(Printer()->Copies(), 3);
    EXPECT_EQ(Printer()->PageWidth(), 6732);

    TDialogAnswer bad;
    bad.Result = mrOk;
    bad.PrinterIndex = 5;
    answers.Then(bad);
    EXPECT_THROW(setup.Execute(), EPrinter);
    EXPECT_EQ(Printer()->PrinterIndex(), 0);
}

TEST_F(PrinterTest, PdfPrinterWithoutAFileAsksForOne)
{
    Printer()->SetTestOutput("");
    if (Printer()->Printers().front() != TPrinter::PdfPrinterName)
        GTEST_SKIP() << "printers are installed here";
    Printer()->SetPdfFileName("");
    const fs::path chosen = Scratch("chosen.pdf");
    fs::remove(chosen);
    TScriptedAnswers answers;
    TDialogAnswer file;
    file.Result = mrOk;
    file.FileName = chosen.string();
    answers.Then(mrCancel).Then(file);
    EXPECT_THROW(Printer()->BeginDoc(), EAbort); // the save dialog was cancelled
    EXPECT_FALSE(Printer()->Printing());
    Printer()->BeginDoc();
    Printer()->EndDoc();
    EXPECT_TRUE(fs::exists(chosen));
    ASSERT_EQ(answers.Requests.size(), 2u);
    EXPECT_EQ(answers.Requests[0].Kind, dkSaveFile);
}

// Printing to a file takes the save road: a file cut short by the system is reported
// with its reason and never replaces the old one; a read-only file is refused before
// printing starts; through a link the file it points to is replaced.
TEST_F(PrinterTest, PrintToFileKeepsTheOldFileWhenTheWriteFails)
{
    const std::string name = Pdf.string();
    const std::string old = kvtest::OldFileBytes();
    kvtest::PutFileBytes(name, old);
    const kvtest::TChildOutcome r = kvtest::RunUnderFileSizeLimit(300, [] {
        Printer()->BeginDoc();
        const std::vector<uint32_t> pixels = Solid(64, 64, 0xFF8040C0);
        Printer()->Canvas()->StretchDraw(TRect{0, 0, 2000, 2000}, TPixels32View{pixels.data(), 64, 64});
        Printer()->EndDoc();
        return std::string("printed");
    });
    EXPECT_TRUE(r.Finished);
    EXPECT_TRUE(r.Raised);
    EXPECT_EQ(r.Text, kvtest::TooLargeMessage(name));
    EXPECT_EQ(kvtest::FileBytes(name), old);
    for (const auto& e : fs::directory_iterator(Pdf.parent_path()))
        EXPECT_NE(e.path().filename().string().rfind("." + Pdf.filename().string(), 0), 0u) << e.path();

    chmod(name.c_str(), 0444);
    std::string refused;
    try {
        Printer()->BeginDoc();
    } catch (const EPrinter& e) {
        refused = e.Message();
    }
    EXPECT_EQ(refused, "Cannot write file \"" + name + "\": The file is read-only");
    EXPECT_FALSE(Printer()->Printing());
    EXPECT_EQ(kvtest::FileBytes(name), old);

    chmod(name.c_str(), 0644);
    const fs::path link = Scratch("print-link.pdf");
    fs::remove(link);
    fs::create_symlink(Pdf, link);
    Printer()->SetTestOutput(link.string());
    Printer()->BeginDoc();
    Printer()->EndDoc();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(kvtest::FileBytes(name).substr(0, 5), "%PDF-");
    fs::remove(link);
}
