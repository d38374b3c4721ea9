// The small windows: the full-screen preview TFull, the transparent-colour tool window
// TSTC and the About box TAboutKVN.
#pragma once

#include "platform/DialogForm.h"

class QLabel;

namespace kv {

class TBitmap32;
class TCustomControl;
class TImage32;

// "Full": borderless, black, maximised; the picture fitted and centred. Escape or a
// click on the picture closes it.
class TFull : public TDialogForm {
public:
    explicit TFull(QWidget* Owner = nullptr);
    ~TFull() override;
    TImage32* Image321 = nullptr;
    // Copies the picture into Image321 and shows the window modally.
    TModalResult ShowPicture(const TBitmap32& Picture);
    void Image321Click();

protected:
    void keyPressEvent(QKeyEvent* Event) override;
};

// "Transparent Color": the stay-on-top tool window shown while a colour is being picked.
// However it closes, the pick ends: the view's cursor goes back to the default and
// OnClose tells the main window.
class TSTC : public TDialogForm {
public:
    explicit TSTC(QWidget* Owner = nullptr);
    ~TSTC() override;
    // The control whose cursor shows the pick (the main window's view).
    TCustomControl* View = nullptr;
    TColorPanel* Panel1 = nullptr; // the colour under the mouse
    void Button2Click();

protected:
    void FormClose() override;
};

// "About": the program icon, the product name with its version and a description.
class TAboutKVN : public TDialogForm {
public:
    explicit TAboutKVN(QWidget* Owner = nullptr);
    ~TAboutKVN() override;
    QLabel* Image1 = nullptr;
    // Whether "Icon.ico" was found and read.
    bool HasIcon() const { return FHasIcon; }
    // Reads the icon again from the data folder; a missing or bad file leaves it empty.
    void LoadIcon();

private:
    bool FHasIcon = false;
};

} // namespace kv
