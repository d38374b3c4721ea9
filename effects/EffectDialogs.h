// The parameter dialogs of the Effects menu (Spray, Posterize, Wave), which preview
// their effect on the document itself, and the rain-drops window that is made at
// start-up and opened by nothing.
#pragma once

#include "effects/ApplyEffects.h"
#include "effects/PreviewDialog.h"

class QComboBox;
class QVBoxLayout;

namespace kv {

class IMainForm;
class TGaugeBar;

// "Preview" restores the target from PreviewBackup and applies the effect to the
// document, so repeated previews never stack; "Cancel" restores before closing.
class TEffectDialog : public TPreviewDialog {
public:
    TEffectDialog(const std::string& Name, const std::string& Caption, QWidget* Owner, IMainForm& MainWindow);
    ~TEffectDialog() override;
    TGaugeBar* Value = nullptr; // 1..100, 1
    // The ApplyEffect name of this dialog's effect.
    virtual std::string EffectName() const = 0;
    // The settings this dialog holds, for ApplyEffect.
    virtual TEffectSettings Settings() const = 0;
    void ApplyPreview(IMainForm& Main) override;

protected:
    // The gauges and boxes above the buttons; the buttons are added last.
    QVBoxLayout* Body = nullptr;
    TGaugeBar* AddGauge(const std::string& Label, int32_t Max);
    void AddButtons();
};

class TSprayWin : public TEffectDialog {
public:
    TSprayWin(QWidget* Owner, IMainForm& MainWindow);
    std::string EffectName() const override { return "spray"; }
    TEffectSettings Settings() const override;
};

class TPosta : public TEffectDialog {
public:
    TPosta(QWidget* Owner, IMainForm& MainWindow);
    std::string EffectName() const override { return "post"; }
    TEffectSettings Settings() const override;
};

class TWaves : public TEffectDialog {
public:
    TWaves(QWidget* Owner, IMainForm& MainWindow);
    TGaugeBar* Interf = nullptr; // "Interference", 1..15, 1
    QComboBox* Nu = nullptr;     // "Frequency": "Low", "Medium", "High"
    std::string EffectName() const override { return "wave"; }
    TEffectSettings Settings() const override;

protected:
    void FormActivate() override; // the mode goes back to "Low"
};

// The rain-drops window: made with the others, never shown by any command.
class TMarb : public TDialogForm {
public:
    explicit TMarb(QWidget* Owner = nullptr);
};

} // namespace kv
