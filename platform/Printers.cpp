#include "platform/Printers.h"

#include "platform/Classes.h"
#include "platform/Dialogs.h"

#include <QCoreApplication>
#include <QImage>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

namespace kv {

namespace {

// A PDF file ends with its end-of-file marker: one that stops short of it was cut.
bool PdfComplete(TStream& File)
{
    char tail[32] = {};
    const int64_t size = File.Size();
    const int64_t from = std::max<int64_t>(0, size - int64_t(sizeof tail));
    File.Seek(from, soBeginning);
    const int64_t got = File.Read(tail, size - from);
    return std::string_view(tail, size_t(std::max<int64_t>(got, 0))).find("%%EOF") != std::string_view::npos;
}

constexpr double MmPerInch = 25.4;

// Letter where the locale measures in inches the American way, A4 everywhere else.
QPageSize DefaultPdfPaper()
{
    return QLocale::system().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize(QPageSize::Letter)
                                                                              : QPageSize(QPageSize::A4);
}

int32_t PagePixels(double Inches) { return std::max(1, int32_t(std::lround(Inches * TPrinter::PixelsPerInch))); }

// The paper the program asked for, applied again whenever the printer changes (a new
// printer brings its own default paper).
std::optional<QPageSize>& ChosenPaper()
{
    static std::optional<QPageSize> paper;
    return paper;
}

} // namespace

// ---- Canvas ---------------------------------------------------------------------------

TPrinterCanvas::TPrinterCanvas(QPainter& Painter, int32_t PageWidth, int32_t PageHeight)
    : FPainter(Painter), FPageWidth(PageWidth), FPageHeight(PageHeight)
{
}

void TPrinterCanvas::StretchDraw(const TRect& Dest, const TPixels32View& Picture)
{
    if (!Picture.Bits || Picture.Width <= 0 || Picture.Height <= 0)
        return;
    const double dw = double(Dest.Right) - Dest.Left, dh = double(Dest.Bottom) - Dest.Top;
    if (dw <= 0 || dh <= 0)
        return;
    // The visible part of Dest, and the part of the picture that lands there.
    const double x0 = std::max<double>(Dest.Left, 0), y0 = std::max<double>(Dest.Top, 0);
    const double x1 = std::min<double>(Dest.Right, FPageWidth), y1 = std::min<double>(Dest.Bottom, FPageHeight);
    if (x1 <= x0 || y1 <= y0)
        return;
    // Whole picture pixels that cover the visible part, and where they land; the clip cuts
    // what reaches past the page. The device is handed at most the pixels that show.
    const double sx = Picture.Width / dw, sy = Picture.Height / dh;
    const int32_t px0 = std::clamp(int32_t(std::floor((x0 - Dest.Left) * sx)), 0, Picture.Width - 1);
    const int32_t py0 = std::clamp(int32_t(std::floor((y0 - Dest.Top) * sy)), 0, Picture.Height - 1);
    const int32_t px1 = std::clamp(int32_t(std::ceil((x1 - Dest.Left) * sx)), px0 + 1, Picture.Width);
    const int32_t py1 = std::clamp(int32_t(std::ceil((y1 - Dest.Top) * sy)), py0 + 1, Picture.Height);
    const QRectF target(Dest.Left + px0 / sx, Dest.Top + py0 / sy, (px1 - px0) / sx, (py1 - py0) / sy);
    // The picture is read in place; only a part that shows is copied out of it.
    const QImage whole(reinterpret_cast<const uchar*>(Picture.Bits), Picture.Width, Picture.Height,
                       qsizetype(Picture.Width) * 4, QImage::Format_ARGB32);
    const QImage part = px0 == 0 && py0 == 0 && px1 == Picture.Width && py1 == Picture.Height
                            ? whole
                            : whole.copy(px0, py0, px1 - px0, py1 - py0);
    FPainter.save();
    FPainter.setClipRect(QRectF(x0, y0, x1 - x0, y1 - y0));
    FPainter.drawImage(target, part);
    FPainter.restore();
}

// ---- Printer --------------------------------------------------------------------------

TPrinter::TPrinter() : FPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution)) { Printers(); }

TPrinter::~TPrinter()
{
    if (FPainter && FPainter->isActive())
        FPainter->end();
}

const std::vector<std::string>& TPrinter::Printers()
{
    const std::string chosen = FIndex < int32_t(FNames.size()) ? FNames[size_t(FIndex)] : std::string();
    FNames.clear();
    if (FTestOutput.empty())
        for (const QString& name : QPrinterInfo::availablePrinterNames())
            FNames.push_back(name.toStdString());
    if (FNames.empty())
        FNames.push_back(PdfPrinterName);
    auto it = std::find(FNames.begin(), FNames.end(), chosen);
    FIndex = it == FNames.end() ? 0 : int32_t(it - FNames.begin());
    // Qt's printer still points at the chosen one while it is listed.
    if (it == FNames.end() && !Printing())
        Select();
    return FNames;
}

bool TPrinter::IsPdfPrinter() const
{
    return FIndex < int32_t(FNames.size()) && FNames[size_t(FIndex)] == PdfPrinterName;
}

void TPrinter::SetPrinterIndex(int32_t Value)
{
    if (Printing())
        throw EPrinter("Printing in progress");
    if (Value < 0 || Value >= int32_t(FNames.size()))
        throw EPrinter("Printer index out of range");
    if (Value == FIndex)
        return;
    FIndex = Value;
    Select();
}

// Points Qt's printer at the chosen one and gives it the program's settings back.
void TPrinter::Select()
{
    if (IsPdfPrinter()) {
        FPrinter->setOutputFormat(QPrinter::PdfFormat);
        // The file is the page: no margins, and drawing starts at the paper's corner.
        FPrinter->setFullPage(true);
        FPrinter->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        if (!ChosenPaper())
            FPrinter->setPageSize(DefaultPdfPaper());
    } else {
        FPrinter->setOutputFormat(QPrinter::NativeFormat);
        FPrinter->setOutputFileName(QString());
        FPrinter->setPrinterName(QString::fromStdString(FNames[size_t(FIndex)]));
        FPrinter->setFullPage(false);
    }
    ApplyPaper();
    FPrinter->setPageOrientation(FOrientation == poPortrait ? QPageLayout::Portrait : QPageLayout::Landscape);
    FPrinter->setCopyCount(FCopies);
}

void TPrinter::ApplyPaper()
{
    if (ChosenPaper())
        FPrinter->setPageSize(*ChosenPaper());
}

void TPrinter::SetOrientation(TPrinterOrientation Value)
{
    FOrientation = Value;
    FPrinter->setPageOrientation(Value == poPortrait ? QPageLayout::Portrait : QPageLayout::Landscape);
}

void TPrinter::SetCopies(int32_t Value)
{
    FCopies = std::clamp(Value, 1, 9999);
    FPrinter->setCopyCount(FCopies);
}

void TPrinter::SetPaperSize(double WidthMm, double HeightMm)
{
    if (!(WidthMm > 0 && HeightMm > 0 && WidthMm < 1e5 && HeightMm < 1e5))
        throw EPrinter("Invalid paper size");
    ChosenPaper() = QPageSize(QSizeF(WidthMm, HeightMm), QPageSize::Millimeter);
    ApplyPaper();
}

double TPrinter::PageWidthInches() const
{
    const QPageLayout layout = FPrinter->pageLayout();
    const QRectF r =
        FPrinter->fullPage() ? layout.fullRect(QPageLayout::Millimeter) : layout.paintRect(QPageLayout::Millimeter);
    return r.width() / MmPerInch;
}

double TPrinter::PageHeightInches() const
{
    const QPageLayout layout = FPrinter->pageLayout();
    const QRectF r =
        FPrinter->fullPage() ? layout.fullRect(QPageLayout::Millimeter) : layout.paintRect(QPageLayout::Millimeter);
    return r.height() / MmPerInch;
}

int32_t TPrinter::PageWidth() const { return PagePixels(PageWidthInches()); }
int32_t TPrinter::PageHeight() const { return PagePixels(PageHeightInches()); }

bool TPrinter::DeviceMakesCopies() const { return FPrinter->supportsMultipleCopies(); }

void TPrinter::BeginDoc()
{
    if (Printing())
        throw EPrinter("Printing in progress");
    if (IsPdfPrinter()) {
        std::string file = FTestOutput.empty() ? FPdfFileName : FTestOutput;
        if (file.empty()) {
            TSaveDialog d;
            d.Title = "Print to File";
            d.Filter = "PDF files|*.pdf";
            d.DefaultExt = "pdf";
            if (!d.Execute() || !ConfirmReplace(d.FileName))
                kv::Abort();
            file = d.FileName;
        }
        // Qt writes the temporary of the save road by name; EndDoc checks it and puts
        // it in the file's place.
        try {
            FPdfFile = std::make_unique<TSafeFileStream>(file);
        } catch (const Exception& E) {
            throw EPrinter(E.Message());
        }
        FPrinter->setOutputFileName(QString::fromStdString(FPdfFile->TempName()));
    }
    auto painter = std::make_unique<QPainter>();
    if (!painter->begin(FPrinter.get())) {
        if (FPdfFile) {
            const std::string name = FPdfFile->FileName();
            FPdfFile.reset();
            throw EPrinter("Cannot create file \"" + name + "\"");
        }
        throw EPrinter("Cannot start printing on " + FNames[size_t(FIndex)]);
    }
    FPainter = std::move(painter);
    FPainter->setRenderHint(QPainter::SmoothPixmapTransform);
    const double scale = FPrinter->resolution() / PixelsPerInch;
    FPainter->scale(scale, scale);
    FCanvas = std::make_unique<TPrinterCanvas>(*FPainter, PageWidth(), PageHeight());
}

void TPrinter::NewPage()
{
    if (!Printing())
        throw EPrinter("Printer is not currently printing");
    if (!FPrinter->newPage())
        throw EPrinter("Printing failed");
    FPainter->resetTransform();
    const double scale = FPrinter->resolution() / PixelsPerInch;
    FPainter->scale(scale, scale);
}

void TPrinter::EndDoc()
{
    if (!Printing())
        throw EPrinter("Printer is not currently printing");
    FCanvas.reset();
    const bool ok = FPainter->end();
    FPainter.reset();
    std::unique_ptr<TSafeFileStream> pdf = std::move(FPdfFile);
    if (pdf && !PdfComplete(*pdf)) {
        // Qt does not say why its file stopped short; one byte written where it stopped
        // asks the system, and raises its reason (a full disk, a size limit).
        const uint8_t probe = 0;
        const TWritePiece piece{&probe, 1};
        pdf->Seek(0, soEnd);
        pdf->WritePieces(&piece, 1);
        throw EWriteError("Cannot write file \"" + pdf->FileName() + "\": Printing failed");
    }
    if (!ok)
        throw EPrinter("Printing failed");
    if (pdf)
        pdf->Commit();
}

void TPrinter::Abort()
{
    if (!Printing())
        return;
    FCanvas.reset();
    FPrinter->abort();
    FPainter->end();
    FPainter.reset();
    FPdfFile.reset(); // the file being replaced stays as it was
}

TPrinterCanvas* TPrinter::Canvas()
{
    if (!Printing())
        throw EPrinter("Printer is not currently printing");
    return FCanvas.get();
}

void TPrinter::TakeDialogChoices()
{
    FOrientation = FPrinter->pageLayout().orientation() == QPageLayout::Landscape ? poLandscape : poPortrait;
    FCopies = std::clamp(FPrinter->copyCount(), 1, 9999);
    if (FPrinter->outputFormat() == QPrinter::PdfFormat) {
        // Qt's dialog offers printing to a file beside the installed printers.
        if (std::find(FNames.begin(), FNames.end(), PdfPrinterName) == FNames.end())
            FNames.push_back(PdfPrinterName);
        FIndex = int32_t(std::find(FNames.begin(), FNames.end(), PdfPrinterName) - FNames.begin());
        if (!FPrinter->outputFileName().isEmpty())
            FPdfFileName = FPrinter->outputFileName().toStdString();
        return;
    }
    auto it = std::find(FNames.begin(), FNames.end(), FPrinter->printerName().toStdString());
    if (it != FNames.end())
        FIndex = int32_t(it - FNames.begin());
}

void TPrinter::SetTestOutput(const std::string& FileName)
{
    FTestOutput = FileName;
    Printers();
    Select();
}

namespace {

std::unique_ptr<TPrinter>& ThePrinter()
{
    static std::unique_ptr<TPrinter> printer;
    return printer;
}

void FreePrinter() { ThePrinter().reset(); }

} // namespace

TPrinter* Printer()
{
    // Qt's printer lives inside the application object's lifetime: made on first use,
    // freed when the application goes.
    if (!ThePrinter()) {
        ThePrinter() = std::make_unique<TPrinter>();
        qAddPostRoutine(FreePrinter);
    }
    return ThePrinter().get();
}

} // namespace kv
