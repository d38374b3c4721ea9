// The border dialogs: "Add Frame" picks a frame picture and mask for Layers > New Frame,
// "Relief Border" draws bevelled rings, "Add Borders" grows the target by a band, and
// "Mask" takes a greyscale picture as the selected layer's alpha. Decoration files come
// from the data folder; a missing one leaves its picture empty.
#pragma once

#include "fx/BorderRoutines.h"
#include "platform/DialogForm.h"
#include "platform/Dialogs.h"
#include "raster/Raster32_Types.h"
#include "widgets/PictureDialogs.h"

#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace kv {

class IMainForm;
class TBitmap32;
class TDirectoryEdit;
class TImage32;
class TImgView32;
class TTHumbview;
struct TFrameChoice;

// Loads a decoration picture; a missing or unreadable file leaves Dest empty.
bool LoadDecoration(const std::string& FileName, TBitmap32& Dest);
// The data folder's file Name ("Frames/Frame1.gif", ...).
std::string DecorationFile(const std::string& Name);

// "Add Frame".
class TBorder : public TDialogForm {
public:
    TBorder(QWidget* Owner, IMainForm& MainWindow);
    ~TBorder() override;
    IMainForm& MainForm;
    // Opens the texture browser (a click on the frame picture).
    std::function<void()> ShowTextures;

    TImage32* Image1 = nullptr; // the frame picture
    QToolButton* Up = nullptr;
    QToolButton* Down = nullptr;
    TImgView32* Mask = nullptr;
    QCheckBox* ForLay = nullptr;    // "Frame Current Layer"
    QCheckBox* CheckBox2 = nullptr; // "Use Interpolation"
    QToolButton* SpeedButton1 = nullptr;
    QComboBox* ComboBox1 = nullptr; // mask shapes, hidden
    TOpenPictureDialog PicOpen;
    int32_t FrameNumber() const { return FNumber; }

    void UpClick();
    void DownClick();
    // The frame picture resampled to the selected layer's size (when framing it) or the
    // background's.
    void SpeedButton1Click();
    void Image1Click();
    void ComboBox1Change();
    // The modal showing; on OK Choice holds what the dialog shows.
    bool Execute(TFrameChoice& Choice);

protected:
    void FormActivate() override;

private:
    void LoadFrame();
    int32_t FNumber = 1;
};

// "Relief Border".
class TRaiser : public TDialogForm {
public:
    TRaiser(QWidget* Owner, IMainForm& MainWindow);
    ~TRaiser() override;
    IMainForm& MainForm;

    QSpinBox* UpDown1 = nullptr;    // "Width" 1..99
    QSpinBox* UpDown2 = nullptr;    // "Depth" 1..7
    QCheckBox* CheckBox1 = nullptr; // "Use as picture frame"

    // Draws the rings on the kept copy (Preview, and OK after the undo copy).
    void Draw();
    void ButtonYESClick();

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    void RestoreKept();
    TBitmap32* FTarget = nullptr;
    std::unique_ptr<TBitmap32> FKept;
};

// "Add Borders".
class TSbor : public TDialogForm {
public:
    TSbor(QWidget* Owner, IMainForm& MainWindow);
    ~TSbor() override;
    IMainForm& MainForm;

    QSpinBox* Wd = nullptr;         // "Width" 1..1000
    TColorPanel* Panel3 = nullptr;  // border colour
    QCheckBox* CheckBox1 = nullptr; // "Use patterns:"
    QListWidget* ListView1 = nullptr;
    QSpinBox* Cont = nullptr;      // inner "Width" 0..Wd - 1
    TColorPanel* Panel1 = nullptr; // contour colour
    TColorDialog ColorDialog1;

    static std::string PatternFile(int32_t N);
    TPatternBorderSettings Settings() const;
    void WdChange();
    void SpeedButton4Click();
    void SpeedButton1Click();
    void Button3Click(); // Preview
    bool Button1Click(); // OK; false when refused

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    void LoadPatternIcons();
    void RestoreKept();
    bool Apply();
    TBitmap32* FTarget = nullptr;
    // The inner width the user chose; a narrower outer width limits it only while it lasts.
    int32_t FInnerWanted = 3;
    bool FOnLayer = false;
    int32_t FLayerIndex = -1;
    std::unique_ptr<TBitmap32> FKept;
    TSingleRect FKeptPlacement;
};

// "Mask".
class TMaski : public TDialogForm {
public:
    TMaski(QWidget* Owner, IMainForm& MainWindow);
    ~TMaski() override;
    IMainForm& MainForm;

    QLineEdit* Edit1 = nullptr; // the folder, read only
    TTHumbview* View = nullptr;
    TDirectoryEdit* DirectoryEdit1 = nullptr;

    static std::string MasksFolder();
    void SetFolder(const std::string& Folder);
    // Applies the selected file's picture as the layer's alpha; nothing without one.
    void ApplyMask();
    void Button1Click(); // "Directory"
    void Button3Click(); // Preview
    void Button2Click(); // OK

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    void HookThumbnails();
};

} // namespace kv
