// The file dialogs for pictures: the platform's open and save dialogs with a preview
// panel on their right. The preview never opens project files (".kvn") or links (".lnk").
#pragma once

#include "platform/Controls.h"
#include "platform/Dialogs.h"
#include "platform/Graphics.h"

#include <QDialog>
#include <QStringList>

#include <memory>
#include <string>

class QFrame;
class QLabel;
class QToolButton;
class QWidget;

namespace kv {

// Options of the file dialogs (only those the program sets).
using TOpenOptions = uint32_t;
constexpr TOpenOptions ofOverwritePrompt = 1u << 1, ofHideReadOnly = 1u << 2, ofAllowMultiSelect = 1u << 9,
                       ofPathMustExist = 1u << 11, ofFileMustExist = 1u << 12, ofOldStyleDialog = 1u << 19;

// The paint box of the preview: paints through OnPaint on its canvas.
class TPreviewPaintBox : public TCustomControl {
public:
    explicit TPreviewPaintBox(QWidget* AOwner = nullptr);
    std::string ClassName() const override { return "TPaintBox"; }
    TNotifyEvent OnPaint;
    TNotifyEvent OnDblClick;

protected:
    void Paint() override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
};

// The window that shows the previewed picture at full size ("PreviewForm").
class TPreviewForm : public QDialog, public TObject {
public:
    explicit TPreviewForm(QWidget* Parent = nullptr);
    std::string ClassName() const override { return "TPreviewForm"; }
    int32_t ClientWidth() const { return width(); }
    int32_t ClientHeight() const { return height(); }
    void SetClientSize(int32_t Width, int32_t Height);
    QFrame* Panel() const { return FPanel; }
    QLabel* Image() const { return FImage; }
    // The panel's frame and border: what the window adds around the picture.
    int32_t ChromeWidth() const;
    int32_t ChromeHeight() const;

protected:
    void keyPressEvent(QKeyEvent* Event) override;

private:
    QFrame* FPanel = nullptr;
    QLabel* FImage = nullptr;
};

class TOpenPictureDialog : public TOpenDialog {
public:
    TOpenPictureDialog();
    ~TOpenPictureDialog() override;
    std::string ClassName() const override { return "TOpenPictureDialog"; }

    // Through the platform's answerer when one is installed (tests) or no window can be
    // shown; otherwise Qt's own (non-native) file dialog with the preview panel beside it.
    bool Execute() override;

    TOpenOptions Options = ofHideReadOnly;
    TNotifyEvent OnSelectionChange;
    TNotifyEvent OnShow;
    TNotifyEvent OnClose;

    TPicture* PreviewPicture() const { return FPicture.get(); }
    QWidget* PicturePanel() const { return FPicturePanel.get(); }
    QLabel* PictureLabel() const { return FPictureLabel; }
    QToolButton* PreviewButton() const { return FPreviewButton; }
    QFrame* PaintPanel() const { return FPaintPanel; }
    TPreviewPaintBox* PaintBox() const { return FPaintBox; }

    // Loads FileName into the preview when it is a previewable picture; otherwise shows
    // "Picture:", disables the preview button and empties the picture. Never raises.
    void UpdatePicturePreview();
    void PaintBoxPaint(TObject* Sender);
    void PreviewClick(TObject* Sender);
    // Places the panel beside the dialog's own controls (Dialog: the dialog window).
    void DoShow(QWidget* Dialog);
    void DoClose();

    // A regular file whose extension is neither ".kvn" nor ".lnk" (compared as written).
    static bool IsPreviewableFile(const std::string& FileName);
    // Where a PW x PH picture is drawn in a BW x BH box: centred when it fits, else scaled
    // down by the smaller of the two ratios and kept at the top-left corner.
    static TRect PreviewRect(int32_t PW, int32_t PH, int32_t BW, int32_t BH);
    // The client size of the preview window for a PW x PH picture, Chrome pixels of frame
    // and border around it, kept within the MaxW x MaxH the screen has room for.
    static TSize PreviewClientSize(int32_t PW, int32_t PH, int32_t ChromeW, int32_t ChromeH, int32_t MaxW,
                                   int32_t MaxH);
    // "Desc|*.a;*.b|..." as Qt's name filters "Desc (*.a *.b)"; empty patterns dropped;
    // a description that already ends in "(...)" shows its patterns once.
    static QStringList ToNameFilters(const std::string& Filter);

protected:
    bool RunFileDialog();

private:
    std::unique_ptr<TPicture> FPicture;
    std::unique_ptr<QWidget> FPicturePanel;
    QLabel* FPictureLabel = nullptr;
    QToolButton* FPreviewButton = nullptr;
    QFrame* FPaintPanel = nullptr;
    TPreviewPaintBox* FPaintBox = nullptr;
};

class TSavePictureDialog : public TOpenPictureDialog {
public:
    std::string ClassName() const override { return "TSavePictureDialog"; }

protected:
    TDialogKind Kind() const override { return dkSaveFile; }
};

} // namespace kv
