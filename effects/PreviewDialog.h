// The dialogs that preview a filter on the document itself (Spray, Posterize, Wave,
// Sharpness, Softness): "Preview" restores the target from PreviewBackup and applies the
// filter again, so previews never stack; "Cancel" restores before the dialog closes.
#pragma once

#include "platform/DialogForm.h"

class QHBoxLayout;

namespace kv {

class IMainForm;

class TPreviewDialog : public TDialogForm {
public:
    TPreviewDialog(const std::string& Name, QWidget* Owner, IMainForm& MainWindow);
    // The document the previews work on.
    IMainForm& MainForm;
    void Button2Click(); // restore from PreviewBackup
    void Button3Click(); // preview
    // The filter with the dialog's current settings, on Main's current target.
    virtual void ApplyPreview(IMainForm& Main) = 0;

protected:
    // "Preview", then "OK" and "Cancel" on the right.
    QHBoxLayout* MakePreviewButtons();
};

// The command of a preview dialog: nothing without a command target; else the dialog,
// whose preview is undone however it ends (a showing that fails included), and on OK
// the undo record and one application on the pixels from before the dialog.
// PreviewBackup is empty afterwards.
void RunPreviewDialog(IMainForm& Main, TPreviewDialog& Dialog);

} // namespace kv
