#include "platform/DialogForm.h"

#include "platform/QtBridge.h"

#include <QCloseEvent>
#include <QHideEvent>
#include <QPushButton>

namespace kv {

TDialogForm::TDialogForm(const std::string& Name, QWidget* Owner) : QDialog(Owner), FName(Name)
{
    setObjectName(QString::fromStdString(Name));
}

TDialogForm::~TDialogForm() = default;

std::string TDialogForm::Caption() const { return windowTitle().toStdString(); }
void TDialogForm::SetCaption(const std::string& Value) { setWindowTitle(QString::fromStdString(Value)); }

void TDialogForm::Activate()
{
    FModalResult = mrNone;
    FShowing = true;
    FormActivate();
    if (OnActivate)
        OnActivate(this);
}

void TDialogForm::Finish()
{
    if (!FShowing)
        return;
    FShowing = false;
    FormClose();
    if (OnClose)
        OnClose(this);
}

TModalResult TDialogForm::ShowModal()
{
    Activate();
    FModal = true;
    bool shown = false;
    TModalResult r = ShowModalForm(this, FName, [this, &shown] {
        shown = true;
        exec();
        return FModalResult == mrNone ? mrCancel : FModalResult;
    });
    if (!shown)
        PressButtonFor(r);
    FModal = false;
    if (FModalResult == mrNone)
        FModalResult = r;
    Finish();
    return FModalResult;
}

void TDialogForm::SetModalResult(TModalResult Value)
{
    FModalResult = Value;
    if (Value != mrNone && FModal && isVisible())
        done(int(Value));
}

void TDialogForm::Show()
{
    if (!FShowing)
        Activate();
    show();
}

void TDialogForm::Close()
{
    hide();
    Finish();
}

QPushButton* TDialogForm::AddButton(const std::string& Caption, TModalResult Result, std::function<void()> OnClick)
{
    auto* b = new QPushButton(QString::fromStdString(Caption), this);
    FButtons.push_back({b, Result, std::move(OnClick)});
    const size_t index = FButtons.size() - 1;
    connect(b, &QPushButton::clicked, this, [this, index] { SafeCall([&] { Press(FButtons[index]); }, this); });
    if (Result == mrOk)
        b->setDefault(true);
    return b;
}

void TDialogForm::Press(const TButton& B)
{
    // The result is set before the handler runs, so the handler may take it back.
    if (B.Result != mrNone)
        FModalResult = B.Result;
    if (B.OnClick)
        B.OnClick();
    if (FModalResult != mrNone)
        SetModalResult(FModalResult);
}

void TDialogForm::PressButtonFor(TModalResult Result)
{
    for (const TButton& b : FButtons)
        if (b.Result == Result) {
            Press(b);
            return;
        }
    SetModalResult(Result);
}

void TDialogForm::reject()
{
    // Escape presses the Cancel button; without one it closes with mrCancel.
    for (const TButton& b : FButtons)
        if (b.Result == mrCancel) {
            SafeCall([&] { Press(b); }, this);
            return;
        }
    if (FModal) {
        FModalResult = mrCancel;
        QDialog::reject();
    } else
        Close();
}

void TDialogForm::closeEvent(QCloseEvent* Event)
{
    if (FModal) {
        FModalResult = mrCancel;
        QDialog::closeEvent(Event);
        return;
    }
    QDialog::closeEvent(Event);
    Finish();
}

void TDialogForm::hideEvent(QHideEvent* Event)
{
    if (!Event->spontaneous()) {
        FClosedGeometry = geometry();
        FClosedPos = pos();
    }
    QDialog::hideEvent(Event);
}

void TDialogForm::setVisible(bool Visible)
{
    // Placing the window by its position would count the window manager's frame once
    // more at each opening (the position is the frame's, the placement the client's):
    // the client area goes back exactly where it was.
    if (Visible && !isVisible() && FClosedGeometry && pos() == FClosedPos)
        setGeometry(QRect(FClosedGeometry->topLeft(), size()));
    QDialog::setVisible(Visible);
}

void TDialogForm::SetStayOnTopTool()
{
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
}

void TDialogForm::SetDialogBorder()
{
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
}

TColorPanel::TColorPanel(QWidget* Owner, TColor Value) : QFrame(Owner), FColor(Value)
{
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setMinimumSize(24, 20);
    SetColor(Value);
}

void TColorPanel::SetColor(TColor Value)
{
    FColor = Value;
    QPalette p = palette();
    p.setColor(QPalette::Window, ToQColor(Value));
    setPalette(p);
}

} // namespace kv
