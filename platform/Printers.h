// The program's one printer object on Qt's print support: the installed printers (a PDF
// printer writing to a file when none is installed), the chosen printer, orientation and
// copies, and one document at a time whose page is presented at 575.74 device pixels per
// inch whatever the device's own resolution, so that sizes worked out in those pixels
// come out true on paper.
#pragma once

#include "platform/SysUtils.h"
#include "platform/Types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QPainter;
class QPrinter;

namespace kv {

class TSafeFileStream;

KV_DECLARE_EXCEPTION(EPrinter, Exception)

enum TPrinterOrientation : uint8_t { poPortrait, poLandscape };

// 32-bit pixels 0xAARRGGBB read in place: rows top-down, Width pixels each, no padding.
struct TPixels32View {
    const uint32_t* Bits = nullptr;
    int32_t Width = 0;
    int32_t Height = 0;
};

// What a document draws on: page pixels at TPrinter::PixelsPerInch, origin at the top-left
// of the page the printer reports.
class TPrinterCanvas {
public:
    TPrinterCanvas(QPainter& Painter, int32_t PageWidth, int32_t PageHeight);
    // Draws Picture stretched over Dest (exclusive right and bottom). Only the part that
    // falls on the page is sent, scaled by the device itself, so a picture sized far past
    // the page costs no more than the part that shows.
    void StretchDraw(const TRect& Dest, const TPixels32View& Picture);

private:
    QPainter& FPainter;
    int32_t FPageWidth;
    int32_t FPageHeight;
};

class TPrinter : public TObject {
public:
    static constexpr double PixelsPerInch = 575.74;
    static constexpr const char* PdfPrinterName = "Print to File (PDF)";

    TPrinter();
    ~TPrinter() override;

    // The printers as installed now (rescanned on each call); the PDF printer when there
    // is none. The chosen printer stays chosen while it is still listed, else index 0.
    const std::vector<std::string>& Printers();
    int32_t PrinterIndex() const { return FIndex; }
    // EPrinter "Printer index out of range" outside the list; refused while printing.
    void SetPrinterIndex(int32_t Value);
    bool IsPdfPrinter() const;

    TPrinterOrientation Orientation() const { return FOrientation; }
    void SetOrientation(TPrinterOrientation Value);
    int32_t Copies() const { return FCopies; }
    void SetCopies(int32_t Value); // held within 1..9999
    // The paper, portrait, in millimetres (A4 is 210 x 297).
    void SetPaperSize(double WidthMm, double HeightMm);

    // The printable page in page pixels (the whole paper for the PDF printer). Never
    // below 1 x 1.
    int32_t PageWidth() const;
    int32_t PageHeight() const;

    // The file the PDF printer writes. Empty: BeginDoc asks for one with a save dialog.
    std::string PdfFileName() const { return FPdfFileName; }
    void SetPdfFileName(const std::string& Value) { FPdfFileName = Value; }

    void BeginDoc();
    void NewPage();
    void EndDoc();
    // Drops the document unfinished.
    void Abort();
    bool Printing() const { return FCanvas != nullptr; }
    // EPrinter "Printer is not currently printing" outside BeginDoc..EndDoc.
    TPrinterCanvas* Canvas();
    // False when the device prints one copy whatever Copies says: the caller then prints
    // each copy as a page of its own.
    bool DeviceMakesCopies() const;

    // For the set-up and print dialogs: Qt's printer itself, and the choices read back
    // after Qt's dialog changed it.
    QPrinter* Handle() { return FPrinter.get(); }
    void TakeDialogChoices();

    // For tests: while set, only the PDF printer is listed and it writes to FileName;
    // empty goes back to the installed printers.
    void SetTestOutput(const std::string& FileName);

    std::string ClassName() const override { return "TPrinter"; }

private:
    void Select();
    void ApplyPaper();
    double PageWidthInches() const;
    double PageHeightInches() const;
    std::unique_ptr<QPrinter> FPrinter;
    std::unique_ptr<QPainter> FPainter;
    std::unique_ptr<TPrinterCanvas> FCanvas;
    std::unique_ptr<TSafeFileStream> FPdfFile; // the file a PDF print replaces, while printing
    std::vector<std::string> FNames;
    std::string FPdfFileName;
    std::string FTestOutput;
    int32_t FIndex = 0;
    int32_t FCopies = 1;
    TPrinterOrientation FOrientation = poPortrait;
};

// The program's printer, made on first use and living until the program ends.
TPrinter* Printer();

} // namespace kv
