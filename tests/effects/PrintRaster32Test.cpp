// The print layout: the page frame, the presets' placements, sizes in centimetres and
// inches, the zoom box and the rubber band's resize, then the dialog on an A4 page of
// the PDF printer, printing a 1000 x 500 picture and reading the PDF back.
#include "effects/PrintRaster32.h"
#include "FakeMainForm.h"
#include "fx/PrintLayout.h"
#include "platform/Printers.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "widgets/KvSpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

using namespace kv;
namespace fs = std::filesystem;

namespace {

void ExpectRect(const TSingleRect& R, double L, double T, double Rt, double B, double Tol = 0.01)
{
    EXPECT_NEAR(R.Left, L, Tol);
    EXPECT_NEAR(R.Top, T, Tol);
    EXPECT_NEAR(R.Right, Rt, Tol);
    EXPECT_NEAR(R.Bottom, B, Tol);
}

std::string Shown(double Value) { return FloatToStrFixed(Value, 2); }

} // namespace

// ---- Arithmetic ------------------------------------------------------------------------

TEST(PrintLayout, PageFrameSitsInsideTheMargin)
{
    TBitmap32 page;
    const int32_t W = 640, H = 900;
    DrawPageFrame(page, W, H);
    ASSERT_EQ(page.Width(), W);
    ASSERT_EQ(page.Height(), H);
    const struct {
        int32_t X, Y;
        TColor32 C;
    } cases[] = {{99, 99, 0x00FFFFFF},           {100, 100, 0xFF000000},         {119, 119, 0xFF000000},
                 {120, 120, 0xFFFFFFFF},         {W - 101, H - 101, 0xFF000000}, {W - 100, H - 100, 0x00FFFFFF},
                 {W - 120, H - 120, 0xFF000000}, {W - 121, H - 121, 0xFFFFFFFF}, {0, 0, 0x00FFFFFF}};
    for (const auto& c : cases)
        EXPECT_EQ(page.GetPixelClipped(c.X, c.Y), c.C) << c.X << "," << c.Y;
    // A page smaller than its margins is only blank, never an error.
    DrawPageFrame(page, 150, 90);
    EXPECT_EQ(page.GetPixelClipped(120, 60), 0x00FFFFFFu);
}

TEST(PrintLayout, PresetsPlaceThePictureInTheMarginFrame)
{
    // A4 at 575.74 pixels an inch is 4760 x 6732.
    ExpectRect(FitPlacement(4760, 6732, 1000, 500), 100, 100, 4660, 2380); // wide: full width
    ExpectRect(FitPlacement(4760, 6732, 500, 1000), 100, 100, 3366, 6632); // tall: full height
    ExpectRect(FillPlacement(4760, 6732), 100, 100, 4660, 6632);
    ExpectRect(ActualSizePlacement(2380, 3366, 1000, 500), 1880, 3116, 2880, 3616);
    ExpectRect(ActualSizePlacement(10, 10, 3, 5), 8.5, 7.5, 11.5, 12.5);
    // Pages no larger than the margins and empty pictures give finite placements.
    for (const TSingleRect& r : {FitPlacement(200, 200, 1000, 500), FitPlacement(1, 1, 0, 0), FillPlacement(0, 0)})
        for (float v : {r.Left, r.Top, r.Right, r.Bottom})
            EXPECT_TRUE(std::isfinite(v));
    // The view shows the whole page with a fifth to spare.
    EXPECT_NEAR(PageViewScale(4760, 6732, 400, 600), 400.0 / 4760 / 1.2, 1e-12);
    EXPECT_NEAR(PageViewScale(4760, 6732, 800, 600), 600.0 / 6732 / 1.2, 1e-12);
    EXPECT_GT(PageViewScale(4760, 6732, 0, 0), 0);
}

TEST(PrintLayout, SizesInCentimetresAndInches)
{
    EXPECT_EQ(Shown(PixelsToUnits(1000, suCm)), "4.41"); // 1000 / 22.667 / 10 = 4.4117
    EXPECT_EQ(Shown(PixelsToUnits(500, suCm)), "2.21");
    EXPECT_EQ(Shown(PixelsToUnits(1000, suInches)), "1.74");
    EXPECT_EQ(Shown(PixelsToUnits(500, suInches)), "0.87");
    EXPECT_NEAR(UnitsToPixels(10, suInches), 5757.4, 1e-9);
    EXPECT_NEAR(UnitsToPixels(1, suCm), 226.67, 1e-9);
    // Printed sizes are whole pixels, halves to even, whichever way the rectangle runs.
    EXPECT_EQ(PrintedWidth(TSingleRect{100, 100, 5857.4f, 2978.7f}), 5757);
    EXPECT_EQ(PrintedHeight(TSingleRect{100, 100, 5857.4f, 2978.7f}), 2879);
    EXPECT_EQ(PrintedWidth(TSingleRect{10.5f, 0, 0, 0}), 10);
    EXPECT_EQ(PrintedHeight(TSingleRect{0, 0, 0, std::nanf("")}), 0);
}

TEST(PrintLayout, ZoomBoxTakesWholeNumbersUpTo2000)
{
    const struct {
        const char* Text;
        int32_t Percent;
    } cases[] = {{"250 %", 250}, {"250%", 250}, {" 1 ", 1},  {"2000", 2000}, {"2001", -1}, {"3000", -1},
                 {"0", -1},      {"-5", -1},    {"abc", -1}, {"", -1},       {"12.5", -1}};
    for (const auto& c : cases)
        EXPECT_EQ(ParseZoomPercent(c.Text), c.Percent) << c.Text;
}

TEST(PrintLayout, ResizeKeepsTheProportionOrTheCentre)
{
    const TSingleRect old{100, 100, 300, 200};
    // Keep Proportion on a 2:1 picture: 301 wide gives Round(150.5) = 150 high.
    ExpectRect(ResizedPlacement(old, TSingleRect{100, 100, 401, 180}, dsSizeR, rcKeepEdge, 2.0), 100, 100, 401, 250);
    // Without it the new rectangle is taken as it is.
    ExpectRect(ResizedPlacement(old, TSingleRect{100, 100, 401, 180}, dsSizeR, rcKeepEdge, 0), 100, 100, 401, 180);
    // Ctrl: both sides move about the old centre (200, 150).
    ExpectRect(ResizedPlacement(old, TSingleRect{100, 100, 350, 200}, dsSizeR, rcKeepCentre, 0), 50, 100, 350, 200);
    ExpectRect(ResizedPlacement(old, TSingleRect{100, 140, 300, 200}, dsSizeT, rcKeepCentre, 0), 100, 140, 300, 160);
    // ... each half at least 2.
    ExpectRect(ResizedPlacement(old, TSingleRect{250, 100, 300, 200}, dsSizeBL, rcKeepCentre, 0), 198, 100, 202,
               200 + 50 - 50);
}

// ---- The dialog -------------------------------------------------------------------------

namespace {

std::string RunTool(const std::string& Command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(Command.c_str(), "r"), pclose);
    char buf[256];
    while (pipe && fgets(buf, sizeof buf, pipe.get()))
        out += buf;
    return out;
}

bool HavePoppler() { return std::system("command -v pdfinfo >/dev/null && command -v pdftoppm >/dev/null") == 0; }

double InfoNumber(const std::string& Info, const char* Key)
{
    const size_t at = Info.find(Key);
    return at == std::string::npos ? -1 : std::atof(Info.c_str() + at + std::strlen(Key));
}

// The dialog shown (activated) on the PDF printer's A4 page, printing to its own file.
class PrintDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Pdf = fs::temp_directory_path() /
              (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".pdf");
        fs::remove(Pdf);
        Printer()->SetTestOutput(Pdf.string());
        Printer()->SetPaperSize(210, 297);
        Printer()->SetOrientation(poPortrait);
        Printer()->SetCopies(1);
        // A main window with a 1000 x 500 red render.
        Main.Flat.SetSize(1000, 500);
        Main.Flat.ClearTo(0xFFFF0000);
        Dialog = std::make_unique<TKVNPrint>(nullptr, Main);
        Dialog->PrintView->setGeometry(0, 0, 400, 560);
        Dialog->Show();
    }
    void TearDown() override
    {
        Dialog->Close();
        Dialog.reset();
        Printer()->SetTestOutput("");
    }
    TSingleRect Location() const { return Dialog->PictureLayer()->Placement(); }
    std::string WidthText() const { return Dialog->ImageWidth->Text(); }
    std::string HeightText() const { return Dialog->ImageHeight->Text(); }

    test::TFakeMainForm Main;
    std::unique_ptr<TKVNPrint> Dialog;
    fs::path Pdf;
};

} // namespace

TEST_F(PrintDialogTest, ActualSizeIsCentredAndShownInCentimetresAndInches)
{
    EXPECT_EQ(Dialog->MyPrinters->count(), 1);
    EXPECT_EQ(Dialog->PrintView->Bitmap()->Width(), 4760);
    EXPECT_EQ(Dialog->PrintView->Bitmap()->Height(), 6732);
    EXPECT_EQ(Dialog->Prog->value(), 0);
    EXPECT_EQ(Dialog->ScaleCombo->currentText().toStdString(),
              std::to_string(SafeRound(Dialog->PrintView->Scale() * 100.0)) + "%");
    ASSERT_NE(Dialog->PictureLayer(), nullptr);
    ASSERT_NE(Dialog->RubberBand(), nullptr);
    EXPECT_EQ(Dialog->RubberBand()->Target(), Dialog->PictureLayer());
    EXPECT_EQ(Dialog->RubberBand()->HandleSize(), 1);
    const TSingleRect r = Location();
    EXPECT_FLOAT_EQ(r.Right - r.Left, 1000);
    EXPECT_FLOAT_EQ(r.Bottom - r.Top, 500);
    // The middle of what the view shows is the page's middle, to a screen pixel.
    const double tol = 2 / Dialog->PrintView->Scale();
    EXPECT_NEAR((r.Left + r.Right) / 2, 2380, tol);
    EXPECT_NEAR((r.Top + r.Bottom) / 2, 3366, tol);
    EXPECT_EQ(WidthText(), "4.41");
    EXPECT_EQ(HeightText(), "2.21");
    Dialog->Mera->setCurrentIndex(1);
    Dialog->MeraChange();
    EXPECT_EQ(WidthText(), "1.74");
    EXPECT_EQ(HeightText(), "0.87");
    // Each activation starts again in centimetres.
    Dialog->Close();
    Dialog->Show();
    EXPECT_EQ(Dialog->Mera->currentIndex(), 0);
    EXPECT_EQ(WidthText(), "4.41");
}

TEST_F(PrintDialogTest, PresetsOrientationAndCustomPlacement)
{
    Dialog->Fit->setChecked(true);
    Dialog->PresetClick();
    ExpectRect(Location(), 100, 100, 4660, 2380);
    Dialog->Fill->setChecked(true);
    Dialog->FillClick();
    ExpectRect(Location(), 100, 100, 4660, 6632);
    EXPECT_FALSE(Dialog->propos->isChecked());
    Dialog->propos->setChecked(true);

    Dialog->Album->setChecked(true);
    Dialog->OrientationClick();
    EXPECT_EQ(Printer()->Orientation(), poLandscape);
    EXPECT_EQ(Dialog->PrintView->Bitmap()->Width(), 6732);
    ExpectRect(Location(), 100, 100, 6632, 4660); // Fill again, on the landscape page

    // A resize of the rubber band keeps the proportion and makes the placement Custom,
    // which survives a new page.
    TSingleRect next{100, 100, 401, 180};
    Dialog->RBResizing(Dialog->RubberBand(), Location(), next, dsSizeR, 0);
    ExpectRect(next, 100, 100, 401, 250);
    EXPECT_TRUE(Dialog->Custom->isChecked());
    EXPECT_EQ(WidthText(), Shown(301 / 22.667 / 10));
    Dialog->PictureLayer()->SetPlacement(next);
    TSingleRect moved{50, 60, 351, 210};
    Dialog->RBResizing(Dialog->RubberBand(), next, moved, dsMove, 0);
    ExpectRect(moved, 50, 60, 351, 210); // a move is left alone
    Dialog->Book->setChecked(true);
    Dialog->OrientationClick();
    ASSERT_NE(Dialog->PictureLayer(), nullptr);
    ExpectRect(Location(), 100, 100, 401, 250);
}

TEST_F(PrintDialogTest, TypedSizesFollowTheProportion)
{
    Dialog->Mera->setCurrentIndex(1);
    Dialog->MeraChange();
    const TSingleRect before = Location();
    Dialog->ImageWidth->SetText("10");
    EXPECT_EQ(HeightText(), "5.00");
    const TSingleRect r = Location();
    EXPECT_FLOAT_EQ(r.Left, before.Left);
    EXPECT_FLOAT_EQ(r.Top, before.Top);
    EXPECT_NEAR(r.Right - r.Left, 5757.4, 0.01);
    EXPECT_NEAR(r.Bottom - r.Top, 2878.7, 0.01);
    EXPECT_EQ(Dialog->RubberBand()->Target(), Dialog->PictureLayer());
    ExpectRect(Dialog->RubberBand()->Placement(), r.Left, r.Top, r.Right, r.Bottom); // the band follows
    // Without Keep Proportion the other field stays.
    Dialog->propos->setChecked(false);
    Dialog->ImageHeight->SetText("1");
    EXPECT_EQ(WidthText(), "10");
    EXPECT_NEAR(Location().Bottom - Location().Top, 575.74, 0.01);
}

TEST_F(PrintDialogTest, ZoomBoxAndWheel)
{
    Dialog->ScaleCombo->setEditText("250 %");
    Dialog->ScaleComboChange();
    EXPECT_FLOAT_EQ(Dialog->PrintView->Scale(), 2.5f);
    EXPECT_EQ(Dialog->ScaleCombo->currentText().toStdString(), "250%");
    EXPECT_EQ(Dialog->ScaleCombo->lineEdit()->cursorPosition(), 3);
    for (const char* bad : {"3000", "0", "abc"}) {
        Dialog->ScaleCombo->setEditText(bad);
        Dialog->ScaleComboChange();
        EXPECT_EQ(Dialog->ScaleCombo->currentText().toStdString(), "250%") << bad;
        EXPECT_FLOAT_EQ(Dialog->PrintView->Scale(), 2.5f);
    }
    Dialog->PrintView->SetScale(19.0f);
    Dialog->PrintViewMouseWheel(120);
    EXPECT_FLOAT_EQ(Dialog->PrintView->Scale(), 20.0f);
    Dialog->PrintViewMouseWheel(120);
    EXPECT_FLOAT_EQ(Dialog->PrintView->Scale(), 20.0f);
    Dialog->PrintViewMouseWheel(-120);
    EXPECT_NEAR(Dialog->PrintView->Scale(), 20.0 / 1.1, 1e-4);
    EXPECT_EQ(Dialog->ScaleCombo->currentText().toStdString(), "1818%");
}

TEST_F(PrintDialogTest, PrintPutsThePictureWhereTheFieldsSay)
{
    // 10 x 5 inches on the landscape page, moved to the margin: the page gets
    // w x h = 5757 x 2879, 9.9993 x 5.0005 inches; x and y far apart, so a swap shows.
    Dialog->Album->setChecked(true);
    Dialog->OrientationClick();
    Dialog->Mera->setCurrentIndex(1);
    Dialog->MeraChange();
    Dialog->ImageWidth->SetText("10");
    TSingleRect r = Location();
    const float dx = 100.25f - r.Left, dy = 400.75f - r.Top;
    r = TSingleRect{r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
    Dialog->PictureLayer()->SetPlacement(r);
    const int32_t x = SafeRound(r.Left), y = SafeRound(r.Top);
    const int32_t w = PrintedWidth(r), h = PrintedHeight(r);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 401);
    EXPECT_EQ(w, 5757);
    EXPECT_EQ(h, 2879);
    Dialog->PressButtonFor(mrOk);
    EXPECT_EQ(Dialog->ModalResult(), mrOk);
    EXPECT_EQ(Dialog->Prog->value(), 5);
    EXPECT_EQ(Dialog->PrintView->Bitmap()->GetPixelClipped(0, 0), 0xFF000000u); // the preview is cleared
    ASSERT_TRUE(fs::exists(Pdf));
    if (!HavePoppler())
        GTEST_SKIP() << "poppler-utils not installed: the page is not read back";
    const std::string info = RunTool("pdfinfo '" + Pdf.string() + "'");
    EXPECT_EQ(InfoNumber(info, "Pages:"), 1);
    RunTool("pdftoppm -r 40 -png -singlefile '" + Pdf.string() + "' '" + (Pdf.string() + "_page") + "'");
    const QImage page(QString::fromStdString(Pdf.string() + "_page.png"));
    ASSERT_FALSE(page.isNull());
    QRect red;
    for (int py = 0; py < page.height(); ++py)
        for (int px = 0; px < page.width(); ++px) {
            const QColor c = page.pixelColor(px, py);
            if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                red = red.united(QRect(px, py, 1, 1));
        }
    const double k = 40 / PagePixelsPerInch; // page pixels to rendered pixels
    // Edges fall on the rendering's pixel grid: a pixel either way.
    EXPECT_NEAR(red.left(), x * k, 1.5);
    EXPECT_NEAR(red.top(), y * k, 1.5);
    EXPECT_NEAR(red.width(), w * k, 1.5);                             // 399.97
    EXPECT_NEAR(red.height(), h * k, 1.5);                            // 200.02
    EXPECT_NEAR(InfoNumber(info, "Page size:"), 841.89, 0.5) << info; // landscape A4
}

TEST_F(PrintDialogTest, CopiesAndAPrinterErrorThatKeepsTheDialogOpen)
{
    Dialog->UpDown3->setValue(2);
    Dialog->PressButtonFor(mrOk);
    EXPECT_EQ(Printer()->Copies(), 2);
    if (HavePoppler()) {
        const double pages = InfoNumber(RunTool("pdfinfo '" + Pdf.string() + "'"), "Pages:");
        EXPECT_EQ(pages, Printer()->DeviceMakesCopies() ? 1 : 2);
    }
    Dialog->Close();
    Dialog->Show();
    EXPECT_EQ(Dialog->UpDown3->value(), 2); // the printer's copies are kept

    Printer()->SetTestOutput((fs::temp_directory_path() / "missing folder" / "x.pdf").string());
    Dialog->Close();
    Dialog->Show();
    EXPECT_THROW(Dialog->Button1Click(), EPrinter);
    EXPECT_EQ(Dialog->ModalResult(), mrNone);
    EXPECT_EQ(Dialog->PrintView->Bitmap()->GetPixelClipped(0, 0), 0x00FFFFFFu); // the preview stays
    EXPECT_FALSE(Printer()->Printing());
}

TEST_F(PrintDialogTest, OptionsFollowThePrinterSetup)
{
    TScriptedAnswers answers;
    TDialogAnswer landscape;
    landscape.Result = mrOk;
    landscape.Orientation = poLandscape;
    answers.Then(landscape).Then(mrCancel);
    Dialog->Button3Click();
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].Kind, dkPrinterSetup);
    EXPECT_TRUE(Dialog->Album->isChecked());
    EXPECT_EQ(Dialog->PrintView->Bitmap()->Width(), 6732);
    Dialog->Button3Click(); // cancelled: the page stays
    EXPECT_EQ(Dialog->PrintView->Bitmap()->Width(), 6732);
    // Closing forgets the layers.
    Dialog->Close();
    EXPECT_EQ(Dialog->PrintView->Layers()->Count(), 0);
    EXPECT_EQ(Dialog->PictureLayer(), nullptr);
}

TEST_F(PrintDialogTest, TheLargestSizePrintsOnlyWhatShows)
{
    // 30000 inches is 17 million page pixels a side: no page-sized copy is ever made.
    Dialog->Mera->setCurrentIndex(1);
    Dialog->MeraChange();
    Dialog->ImageWidth->SetText("99999"); // held at the maximum
    EXPECT_NEAR(Location().Right - Location().Left, 30000 * PagePixelsPerInch, 2);
    Dialog->PressButtonFor(mrOk);
    EXPECT_EQ(Dialog->Prog->value(), 5);
    ASSERT_TRUE(fs::exists(Pdf));
    EXPECT_LT(fs::file_size(Pdf), 64u * 1024);
}
