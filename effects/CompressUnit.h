// "JPEG Options": the quality (1..100) of the JPEG that Save As writes through the main
// window's imaging component. It writes the file itself and says whether it did.
#pragma once

#include "platform/DialogForm.h"

#include <memory>

class QSpinBox;

namespace kv {

class TBitmap;
class TBitmap32;
class TGaugeBar;
class TImagingIO;

// The program's one JPEG writer: the main window's imaging component (PARY) and the
// dialog's own when none is given.
std::shared_ptr<TImagingIO> CreateImagingIO();
// Attaches Bitmap (made 24 bits per pixel), sets the quality, writes Name through a
// temporary file renamed over it, and detaches again. Raises EWriteError when the
// component gave up (its abort flag), or the component's own error; the old file then
// stays as it was.
void SaveJpegFile(TImagingIO& IO, TBitmap& Bitmap, int32_t Quality, const std::string& Name);
// Name as the JPEG dialog writes it: ".jpg" appended unless it already ends in ".jpg" or
// ".jpeg" (letter case ignored).
std::string JpegFileName(const std::string& Name);

class TCompress : public TDialogForm {
public:
    explicit TCompress(QWidget* Owner = nullptr);
    ~TCompress() override;

    // The main window's JPEG writer; the dialog keeps its own when none is given.
    TImagingIO* PARY = nullptr;

    TGaugeBar* TrackBar1 = nullptr; // "Image Quality (%)", 1..100, 70
    QSpinBox* UpDown1 = nullptr;    // the edit ImageWidth with its up-down, 1..100, 70

    bool Execute(const TBitmap32& FlatImage, const std::string& FileName);
    bool Written() const { return FWritten; }
    const std::string& WrittenName() const { return FWrittenName; }
    int32_t Quality() const;
    void SetQuality(int32_t Value); // both controls

    void TrackBar1Change();
    void ImageWidthChange();
    void Button1Click();

protected:
    void FormActivate() override;

private:
    TImagingIO& Writer();
    const TBitmap32* FSource = nullptr;
    std::string FFileName;
    std::string FWrittenName;
    std::shared_ptr<TImagingIO> FOwnWriter;
    bool FWritten = false;
};

} // namespace kv
