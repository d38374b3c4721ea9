// Every modal interaction of the program: message boxes, file, colour, font and printer
// dialogs, and modal forms. Each goes through the installed answerer first, so tests
// script the answers and no window ever blocks; without one, Qt's dialogs answer (and
// under the offscreen platform, where nobody could answer, the default answer is taken).
#pragma once

#include "platform/Graphics.h"

#include <functional>
#include <string>
#include <vector>

namespace kv {

enum TMsgDlgType : uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : uint8_t {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};
using TMsgDlgButtons = uint32_t; // set of TMsgDlgBtn
constexpr TMsgDlgButtons Buttons(std::initializer_list<TMsgDlgBtn> List)
{
    TMsgDlgButtons s = 0;
    for (TMsgDlgBtn b : List)
        s |= 1u << b;
    return s;
}
constexpr TMsgDlgButtons mbYesNoCancel = (1u << mbYes) | (1u << mbNo) | (1u << mbCancel);
constexpr TMsgDlgButtons mbYesNo = (1u << mbYes) | (1u << mbNo);
constexpr TMsgDlgButtons mbOKCancel = (1u << mbOK) | (1u << mbCancel);
constexpr TMsgDlgButtons mbAbortRetryIgnore = (1u << mbAbort) | (1u << mbRetry) | (1u << mbIgnore);
constexpr TMsgDlgButtons mbOKOnly = 1u << mbOK;

using TModalResult = int32_t;
constexpr TModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
                       mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;

// Application.MessageBox flags and answers (the answers equal the modal results).
constexpr uint32_t MB_OK = 0, MB_OKCANCEL = 1, MB_ABORTRETRYIGNORE = 2, MB_YESNOCANCEL = 3, MB_YESNO = 4,
                   MB_RETRYCANCEL = 5, MB_ICONERROR = 0x10, MB_ICONQUESTION = 0x20, MB_ICONWARNING = 0x30,
                   MB_ICONINFORMATION = 0x40, MB_DEFBUTTON2 = 0x100, MB_DEFBUTTON3 = 0x200;
constexpr int32_t IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7;

enum TDialogKind : uint8_t { dkMessage, dkOpenFile, dkSaveFile, dkColor, dkFont, dkPrint, dkPrinterSetup, dkModalForm };

// What is being asked. Only the fields of the kind are filled.
struct TDialogRequest {
    TDialogKind Kind = dkMessage;
    std::string Caption;
    std::string Text; // message text
    TMsgDlgType DlgType = mtCustom;
    TMsgDlgButtons Buttons = 0;          // message: the buttons shown
    TModalResult DefaultResult = mrNone; // what Enter would answer
    std::string FileName, Filter, InitialDir, DefaultExt;
    int32_t FilterIndex = 1;
    bool MultiSelect = false;
    TColor Color = clBlack;
    TFont* Font = nullptr;   // font dialog: the font being edited
    TObject* Form = nullptr; // modal form: the form (an answerer may set its fields)
    std::string FormName;
};

struct TDialogAnswer {
    TModalResult Result = mrCancel; // mrOk for an accepted file/colour/font/printer dialog
    std::string FileName;
    std::vector<std::string> Files;
    int32_t FilterIndex = 0; // 0: unchanged
    TColor Color = clBlack;
    // Font dialog: the chosen font (applied to the request's font when Result is mrOk).
    std::string FontName;
    int32_t FontHeight = 0;
    TFontStyles FontStyle = 0;
    TColor FontColor = clBlack;
    // Printer set-up and print dialogs: what the printer object takes on OK (-1 and 0:
    // unchanged). The PDF printer's file comes in FileName.
    int32_t PrinterIndex = -1;
    int32_t Orientation = -1; // TPrinterOrientation
    int32_t Copies = 0;
};

using TDialogAnswerer = std::function<TDialogAnswer(const TDialogRequest&)>;

// Installs the answerer (nullptr: the real dialogs). Returns the previous one.
TDialogAnswerer SetDialogAnswerer(TDialogAnswerer Answerer);
// Routes one request: the answerer, else a Qt dialog, else (offscreen) the default.
TDialogAnswer AskDialog(const TDialogRequest& Request);
// The Qt dialog of a request, shown whatever answerer is installed. In a message box,
// Escape and the window's close button press Cancel, else No, else OK, as on the desktop.
TDialogAnswer ShowRealDialog(const TDialogRequest& Request);

// For tests: answers requests from a queue in order and keeps every request seen.
// Installed for its lifetime; an unexpected request (empty queue) answers mrCancel.
class TScriptedAnswers {
public:
    TScriptedAnswers();
    ~TScriptedAnswers();
    TScriptedAnswers& Then(TDialogAnswer Answer);
    TScriptedAnswers& Then(TModalResult Result);
    std::vector<TDialogRequest> Requests;
    size_t Pending() const { return FQueue.size(); }

private:
    std::vector<TDialogAnswer> FQueue;
    TDialogAnswerer FPrevious;
};

TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int32_t HelpCtx = 0);
void ShowMessage(const std::string& Msg);
// Asked by every dialog that writes a file, once the name is final: True when FileName
// does not exist or the answer to "<name> already exists. Do you want to replace it?"
// is Yes. No is the default answer, so nobody loses a file by pressing Enter.
bool ConfirmReplace(const std::string& FileName);
int32_t MessageBox(const std::string& Text, const std::string& Caption, uint32_t Flags);

// A modal form's ShowModal goes through here: the answerer sees the form (and may fill
// its fields); without one, Show runs the real modal loop.
TModalResult ShowModalForm(TObject* Form, const std::string& FormName, const std::function<TModalResult()>& Show);

class TOpenDialog : public TPersistent {
public:
    std::string FileName, Filter, InitialDir, DefaultExt, Title;
    int32_t FilterIndex = 1;
    bool MultiSelect = false; // ofAllowMultiSelect
    std::vector<std::string> Files;
    virtual bool Execute();
    std::string ClassName() const override { return "TOpenDialog"; }

protected:
    virtual TDialogKind Kind() const { return dkOpenFile; }
};

class TSaveDialog : public TOpenDialog {
public:
    std::string ClassName() const override { return "TSaveDialog"; }

protected:
    TDialogKind Kind() const override { return dkSaveFile; }
};

class TColorDialog : public TPersistent {
public:
    TColor Color = clBlack;
    bool Execute();
    std::string ClassName() const override { return "TColorDialog"; }
};

class TFontDialog : public TPersistent {
public:
    TFontDialog();
    TFont* Font() { return FFont.get(); }
    bool Execute();
    std::string ClassName() const override { return "TFontDialog"; }

private:
    std::unique_ptr<TFont> FFont;
};

// Both act on the program's printer object (Printer()): what the user chose stays chosen.
class TPrintDialog : public TPersistent {
public:
    int32_t Copies = 1; // the printer's copies after OK
    bool Execute();
    std::string ClassName() const override { return "TPrintDialog"; }
};

class TPrinterSetupDialog : public TPersistent {
public:
    bool Execute();
    std::string ClassName() const override { return "TPrinterSetupDialog"; }
};

} // namespace kv
