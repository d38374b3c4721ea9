// A form for the tool dialogs: caption, ShowModal through the platform's answerer,
// buttons that carry a modal result, OnActivate once per showing and OnClose on every
// way of closing (button, Escape, title bar, Close), and a panel that is a colour swatch.
#pragma once

#include "platform/Dialogs.h"
#include "platform/Forms.h"

#include <QDialog>
#include <QFrame>
#include <QPushButton>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class TDialogForm : public QDialog, public TObject {
public:
    // Name is what a scripted answerer sees (the class name of the dialog).
    explicit TDialogForm(const std::string& Name, QWidget* Owner = nullptr);
    ~TDialogForm() override;

    const std::string& Name() const { return FName; }
    std::string Caption() const;
    void SetCaption(const std::string& Value);

    // Modal showing: OnActivate, then the dialog (or the scripted answer, which presses
    // the button carrying that result), then OnClose. Returns the modal result.
    TModalResult ShowModal();
    TModalResult ModalResult() const { return FModalResult; }
    // A non-zero result ends the modal showing.
    void SetModalResult(TModalResult Value);
    // Modeless showing and closing; Close runs OnClose like the title bar does.
    void Show();
    void Close();
    bool Showing() const { return FShowing; }

    // A push button whose click first sets the modal result (when not mrNone), then runs
    // OnClick. The mrCancel button is also the Escape key.
    QPushButton* AddButton(const std::string& Caption, TModalResult Result, std::function<void()> OnClick = {});
    // Presses the button that carries Result (tests and the scripted answers); without one
    // the form just closes with Result.
    void PressButtonFor(TModalResult Result);

    void SetStayOnTopTool(); // tool-window border, stays on top
    void SetDialogBorder();  // fixed size, no minimise/maximise

    TNotifyEvent OnActivate;
    TNotifyEvent OnClose;
    std::string ClassName() const override { return FName; }

protected:
    virtual void FormActivate() {}
    virtual void FormClose() {}
    void reject() override;
    void closeEvent(QCloseEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

public:
    // A dialog opens again where it was when it closed, unless moved meanwhile.
    void setVisible(bool Visible) override;

private:
    void Activate();
    void Finish();
    struct TButton {
        QPushButton* Button;
        TModalResult Result;
        std::function<void()> OnClick;
    };
    void Press(const TButton& B);
    std::string FName;
    TModalResult FModalResult = mrNone;
    bool FShowing = false;
    bool FModal = false;
    std::vector<TButton> FButtons;
    // Where the window's client area was when it was last hidden (screen pixels), and
    // the position the window reported then.
    std::optional<QRect> FClosedGeometry;
    QPoint FClosedPos;
};

// A panel that shows a colour (the dialogs' colour swatches).
class TColorPanel : public QFrame {
public:
    explicit TColorPanel(QWidget* Owner = nullptr, TColor Value = clWhite);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);

private:
    TColor FColor;
};

} // namespace kv
