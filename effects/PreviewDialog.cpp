#include "effects/PreviewDialog.h"

#include "effects/EffectFrame.h"
#include "effects/MainWindowFace.h"

#include <QHBoxLayout>

namespace kv {

TPreviewDialog::TPreviewDialog(const std::string& Name, QWidget* Owner, IMainForm& MainWindow)
    : TDialogForm(Name, Owner), MainForm(MainWindow)
{
}

void TPreviewDialog::Button2Click() { RestorePreviewBackup(MainForm); }

void TPreviewDialog::Button3Click()
{
    Button2Click();
    ApplyPreview(MainForm);
}

QHBoxLayout* TPreviewDialog::MakePreviewButtons()
{
    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(AddButton("Preview", mrNone, [this] { Button3Click(); }));
    Buttons->addStretch();
    Buttons->addWidget(AddButton("OK", mrOk));
    Buttons->addWidget(AddButton("Cancel", mrCancel, [this] { Button2Click(); }));
    return Buttons;
}

void RunPreviewDialog(IMainForm& Main, TPreviewDialog& Dialog)
{
    if (!CommandTarget(Main))
        return;
    TPreviewBackupGuard Guard(Main);
    TModalResult Result = mrNone;
    try {
        Result = Dialog.ShowModal();
    } catch (...) {
        Dialog.Button2Click();
        throw;
    }
    // Whatever the dialog previewed goes, so OK applies once to the pixels from before.
    Dialog.Button2Click();
    if (Result != mrOk)
        return;
    Main.SaveUndoEffect();
    Dialog.ApplyPreview(Main);
}

} // namespace kv
