// "Save as GIF...": the colour depth of the GIF that Save As writes (2, 16, 256 colours
// through the platform's conversion, or "Auto", left to the GIF writer), with the
// picture's colour count on show. It writes the file itself and says whether it did.
#pragma once

#include "platform/DialogForm.h"

#include <memory>

class QLabel;
class QRadioButton;

namespace kv {

class TBitmap32;

// FileName with Ext appended unless it already ends with it (letter case ignored).
std::string WithExtension(const std::string& FileName, const std::string& Ext);

class TGifType : public TDialogForm {
public:
    explicit TGifType(QWidget* Owner = nullptr);
    ~TGifType() override;

    QRadioButton* RadioButton1 = nullptr; // "2"
    QRadioButton* RadioButton3 = nullptr; // "16"
    QRadioButton* RadioButton2 = nullptr; // "256"
    QRadioButton* RadioButton4 = nullptr; // "Auto"
    QLabel* Panel1 = nullptr;

    // Shows the dialog for the flattened picture and the name Save As settled on.
    // True only when "Save" wrote the file.
    bool Execute(const TBitmap32& FlatImage, const std::string& FileName);
    bool Written() const { return FWritten; }
    const std::string& WrittenName() const { return FWrittenName; }
    // The bitmap being saved while the dialog is open (null otherwise).
    TBitmap* GifBmp() const { return FGifBmp.get(); }

    void Button1Click();

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    const TBitmap32* FSource = nullptr;
    std::string FFileName;
    std::string FWrittenName;
    std::unique_ptr<TBitmap> FGifBmp;
    bool FWritten = false;
};

} // namespace kv
