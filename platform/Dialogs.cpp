#include "platform/Dialogs.h"

#include "platform/Printers.h"
#include "platform/QtBridge.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStringList>

#include <algorithm>
#include <mutex>

namespace kv {

namespace {

std::mutex AnswererLock;
TDialogAnswerer& CurrentAnswerer()
{
    static TDialogAnswerer answerer;
    return answerer;
}

// Real dialogs need a widget application on a platform somebody can see.
bool CanShowWindows()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    QString p = QGuiApplication::platformName();
    return p != "offscreen" && p != "minimal";
}

constexpr std::pair<TMsgDlgBtn, TModalResult> ButtonResults[] = {
    {mbYes, mrYes},     {mbNo, mrNo},         {mbOK, mrOk},   {mbCancel, mrCancel},   {mbAbort, mrAbort},
    {mbRetry, mrRetry}, {mbIgnore, mrIgnore}, {mbAll, mrAll}, {mbNoToAll, mrNoToAll}, {mbYesToAll, mrYesToAll},
    {mbHelp, mrNone}};

TModalResult DefaultButtonResult(TMsgDlgButtons Set)
{
    if (Set & (1u << mbOK))
        return mrOk;
    if (Set & (1u << mbYes))
        return mrYes;
    for (auto [b, r] : ButtonResults)
        if (Set & (1u << b))
            return r;
    return mrOk;
}

// Windows filters "Text|*.a;*.b|..." become Qt's "Text (*.a *.b);;...".
QString ToQtFilter(const std::string& Filter, int32_t Index, QString* Selected)
{
    QStringList parts = QString::fromStdString(Filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString masks = parts[i + 1];
        masks.replace(';', ' ');
        // "GIF Image (*.gif)" already shows its patterns: Qt reads them from the last
        // parentheses, so those are replaced rather than repeated.
        QString description = parts[i].trimmed();
        if (description.endsWith(')') && description.lastIndexOf('(') > 0)
            description = description.left(description.lastIndexOf('(')).trimmed();
        QString item = description + " (" + masks.simplified() + ")";
        if (i / 2 + 1 == Index && Selected)
            *Selected = item;
        out << item;
    }
    return out.join(";;");
}

TDialogAnswer RealMessage(const TDialogRequest& R)
{
    QMessageBox box;
    box.setWindowTitle(
        QString::fromStdString(R.Caption.empty() ? QCoreApplication::applicationName().toStdString() : R.Caption));
    box.setText(QString::fromStdString(R.Text));
    switch (R.DlgType) {
    case mtWarning: box.setIcon(QMessageBox::Warning); break;
    case mtError: box.setIcon(QMessageBox::Critical); break;
    case mtInformation: box.setIcon(QMessageBox::Information); break;
    case mtConfirmation: box.setIcon(QMessageBox::Question); break;
    default: break;
    }
    static const char* names[] = {"&Yes",    "&No",  "OK",         "Cancel",      "&Abort", "&Retry",
                                  "&Ignore", "&All", "N&o to All", "Yes to &All", "&Help"};
    std::vector<std::pair<QAbstractButton*, TModalResult>> map;
    for (auto [b, r] : ButtonResults)
        if (R.Buttons & (1u << b)) {
            QPushButton* button = box.addButton(names[b], QMessageBox::AcceptRole);
            map.push_back({button, r});
            if (r == R.DefaultResult)
                box.setDefaultButton(button);
        }
    // Without an escape button Qt ignores both Escape and the close button, and the
    // save question could only be answered Yes or No.
    for (TModalResult escape : {mrCancel, mrNo, mrOk}) {
        auto it = std::find_if(map.begin(), map.end(), [escape](const auto& P) { return P.second == escape; });
        if (it != map.end()) {
            box.setEscapeButton(it->first);
            break;
        }
    }
    box.exec();
    TDialogAnswer a;
    a.Result = mrCancel;
    for (auto [button, r] : map)
        if (box.clickedButton() == button)
            a.Result = r;
    return a;
}

TDialogAnswer RealDialog(const TDialogRequest& R)
{
    TDialogAnswer a;
    switch (R.Kind) {
    case dkMessage: return RealMessage(R);
    case dkOpenFile:
    case dkSaveFile: {
        QString selected;
        QString filter = ToQtFilter(R.Filter, R.FilterIndex, &selected);
        QString start = QString::fromStdString(R.FileName.empty() ? R.InitialDir : R.FileName);
        QString caption = QString::fromStdString(R.Caption);
        QStringList files;
        if (R.Kind == dkSaveFile) {
            // The caller asks about replacing once the extension rule has made the final
            // name (ConfirmReplace); Qt's own question would be about the typed name.
            QString f = QFileDialog::getSaveFileName(nullptr, caption, start, filter, &selected,
                                                     QFileDialog::DontConfirmOverwrite);
            if (!f.isEmpty())
                files << f;
        } else if (R.MultiSelect) {
            files = QFileDialog::getOpenFileNames(nullptr, caption, start, filter, &selected);
        } else {
            QString f = QFileDialog::getOpenFileName(nullptr, caption, start, filter, &selected);
            if (!f.isEmpty())
                files << f;
        }
        if (files.isEmpty())
            return a;
        a.Result = mrOk;
        for (const QString& f : files)
            a.Files.push_back(f.toStdString());
        a.FileName = a.Files.front();
        QStringList items = filter.split(";;");
        a.FilterIndex = int32_t(items.indexOf(selected)) + 1;
        return a;
    }
    case dkColor: {
        QColor c = QColorDialog::getColor(ToQColor(R.Color));
        if (c.isValid()) {
            a.Result = mrOk;
            a.Color = FromQColor(c);
        }
        return a;
    }
    case dkFont: {
        bool ok = false;
        QFont f = QFontDialog::getFont(&ok, R.Font ? ToQFont(*R.Font) : QFont());
        if (ok) {
            a.Result = mrOk;
            a.FontName = f.family().toStdString();
            a.FontHeight = f.pixelSize() > 0 ? -f.pixelSize() : -MulDiv(int32_t(f.pointSize()), 96, 72);
            a.FontStyle = TFontStyles((f.bold() ? fsBold : 0) | (f.italic() ? fsItalic : 0) |
                                      (f.underline() ? fsUnderline : 0) | (f.strikeOut() ? fsStrikeOut : 0));
            a.FontColor = R.Font ? R.Font->Color() : clBlack;
        }
        return a;
    }
    case dkPrint:
    case dkPrinterSetup: {
        // Qt's dialog changes the one printer itself; the answer reads its choices back.
        TPrinter* printer = Printer();
        QPrintDialog d(printer->Handle());
        if (R.Kind == dkPrinterSetup)
            d.setOption(QAbstractPrintDialog::PrintPageRange, false);
        if (d.exec() != QDialog::Accepted)
            return a;
        printer->TakeDialogChoices();
        a.Result = mrOk;
        a.PrinterIndex = printer->PrinterIndex();
        a.Orientation = printer->Orientation();
        a.Copies = printer->Copies();
        a.FileName = printer->PdfFileName();
        return a;
    }
    case dkModalForm: return a; // ShowModalForm runs the form itself
    }
    return a;
}

TDialogAnswer DefaultAnswer(const TDialogRequest& R)
{
    TDialogAnswer a;
    a.Result = R.Kind == dkMessage ? R.DefaultResult : mrCancel;
    return a;
}

} // namespace

TDialogAnswerer SetDialogAnswerer(TDialogAnswerer Answerer)
{
    std::lock_guard<std::mutex> lock(AnswererLock);
    TDialogAnswerer old = std::move(CurrentAnswerer());
    CurrentAnswerer() = std::move(Answerer);
    return old;
}

TDialogAnswer AskDialog(const TDialogRequest& Request)
{
    TDialogAnswerer answerer;
    {
        std::lock_guard<std::mutex> lock(AnswererLock);
        answerer = CurrentAnswerer();
    }
    if (answerer)
        return answerer(Request);
    if (CanShowWindows())
        return RealDialog(Request);
    return DefaultAnswer(Request);
}

TDialogAnswer ShowRealDialog(const TDialogRequest& Request) { return RealDialog(Request); }

TScriptedAnswers::TScriptedAnswers()
{
    FPrevious = SetDialogAnswerer([this](const TDialogRequest& R) {
        Requests.push_back(R);
        if (FQueue.empty())
            return TDialogAnswer{};
        TDialogAnswer a = FQueue.front();
        FQueue.erase(FQueue.begin());
        return a;
    });
}

TScriptedAnswers::~TScriptedAnswers() { SetDialogAnswerer(std::move(FPrevious)); }

TScriptedAnswers& TScriptedAnswers::Then(TDialogAnswer Answer)
{
    FQueue.push_back(std::move(Answer));
    return *this;
}

TScriptedAnswers& TScriptedAnswers::Then(TModalResult Result)
{
    TDialogAnswer a;
    a.Result = Result;
    return Then(a);
}

TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int32_t)
{
    static const char* captions[] = {"Warning", "Error", "Information", "Confirm", ""};
    TDialogRequest r;
    r.Kind = dkMessage;
    r.Caption = captions[DlgType];
    r.Text = Msg;
    r.DlgType = DlgType;
    r.Buttons = Buttons;
    r.DefaultResult = DefaultButtonResult(Buttons);
    return AskDialog(r).Result;
}

void ShowMessage(const std::string& Msg) { MessageDlg(Msg, mtCustom, mbOKOnly); }

bool ConfirmReplace(const std::string& FileName)
{
    if (!FileExists(FileName))
        return true;
    TDialogRequest r;
    r.Kind = dkMessage;
    r.Caption = "Confirm";
    r.Text = ExtractFileName(FileName) + " already exists. Do you want to replace it?";
    r.DlgType = mtWarning;
    r.Buttons = mbYesNo;
    r.DefaultResult = mrNo;
    return AskDialog(r).Result == mrYes;
}

int32_t MessageBox(const std::string& Text, const std::string& Caption, uint32_t Flags)
{
    TDialogRequest r;
    r.Kind = dkMessage;
    r.Caption = Caption;
    r.Text = Text;
    switch (Flags & 0xF) {
    case MB_OKCANCEL: r.Buttons = mbOKCancel; break;
    case MB_ABORTRETRYIGNORE: r.Buttons = mbAbortRetryIgnore; break;
    case MB_YESNOCANCEL: r.Buttons = mbYesNoCancel; break;
    case MB_YESNO: r.Buttons = mbYesNo; break;
    case MB_RETRYCANCEL: r.Buttons = (1u << mbRetry) | (1u << mbCancel); break;
    default: r.Buttons = mbOKOnly;
    }
    switch (Flags & 0xF0) {
    case MB_ICONERROR: r.DlgType = mtError; break;
    case MB_ICONQUESTION: r.DlgType = mtConfirmation; break;
    case MB_ICONWARNING: r.DlgType = mtWarning; break;
    case MB_ICONINFORMATION: r.DlgType = mtInformation; break;
    default: r.DlgType = mtCustom;
    }
    // The default button is the first, or the second/third one asked for.
    std::vector<TModalResult> shown;
    for (auto [b, res] : ButtonResults)
        if (r.Buttons & (1u << b))
            shown.push_back(res);
    if ((Flags & 0xF) == MB_OKCANCEL || (Flags & 0xF) == MB_RETRYCANCEL)
        std::sort(shown.begin(), shown.end(),
                  [](TModalResult a, TModalResult b) { return a == mrCancel ? false : b == mrCancel; });
    size_t def = (Flags & MB_DEFBUTTON3) ? 2 : (Flags & MB_DEFBUTTON2) ? 1 : 0;
    r.DefaultResult = def < shown.size() ? shown[def] : shown.front();
    return AskDialog(r).Result;
}

TModalResult ShowModalForm(TObject* Form, const std::string& FormName, const std::function<TModalResult()>& Show)
{
    bool answered;
    {
        std::lock_guard<std::mutex> lock(AnswererLock);
        answered = bool(CurrentAnswerer());
    }
    if (!answered && CanShowWindows())
        return Show ? Show() : mrCancel;
    TDialogRequest r;
    r.Kind = dkModalForm;
    r.Form = Form;
    r.FormName = FormName;
    return AskDialog(r).Result;
}

bool TOpenDialog::Execute()
{
    TDialogRequest r;
    r.Kind = Kind();
    r.Caption = Title;
    r.FileName = FileName;
    r.Filter = Filter;
    r.FilterIndex = FilterIndex;
    r.InitialDir = InitialDir;
    r.DefaultExt = DefaultExt;
    r.MultiSelect = MultiSelect;
    TDialogAnswer a = AskDialog(r);
    if (a.Result != mrOk)
        return false;
    FileName = a.FileName;
    Files = a.Files.empty() ? std::vector<std::string>{a.FileName} : a.Files;
    if (Kind() == dkSaveFile && !DefaultExt.empty() && ExtractFileExt(FileName).empty())
        FileName += "." + DefaultExt;
    if (a.FilterIndex > 0)
        FilterIndex = a.FilterIndex;
    return true;
}

bool TColorDialog::Execute()
{
    TDialogRequest r;
    r.Kind = dkColor;
    r.Color = Color;
    TDialogAnswer a = AskDialog(r);
    if (a.Result != mrOk)
        return false;
    Color = a.Color;
    return true;
}

TFontDialog::TFontDialog() : FFont(std::make_unique<TFont>()) {}

bool TFontDialog::Execute()
{
    TDialogRequest r;
    r.Kind = dkFont;
    r.Font = FFont.get();
    TDialogAnswer a = AskDialog(r);
    if (a.Result != mrOk)
        return false;
    if (!a.FontName.empty())
        FFont->SetName(a.FontName);
    if (a.FontHeight != 0)
        FFont->SetHeight(a.FontHeight);
    FFont->SetStyle(a.FontStyle);
    FFont->SetColor(a.FontColor);
    return true;
}

// The printer takes the answer's choices; a choice outside the printer list is refused
// by the printer with its message.
static bool AskPrinterDialog(TDialogKind Kind)
{
    TPrinter* printer = Printer();
    printer->Printers();
    TDialogRequest r;
    r.Kind = Kind;
    TDialogAnswer a = AskDialog(r);
    if (a.Result != mrOk)
        return false;
    if (a.PrinterIndex >= 0)
        printer->SetPrinterIndex(a.PrinterIndex);
    if (a.Orientation == poPortrait || a.Orientation == poLandscape)
        printer->SetOrientation(TPrinterOrientation(a.Orientation));
    if (a.Copies > 0)
        printer->SetCopies(a.Copies);
    if (printer->IsPdfPrinter() && !a.FileName.empty())
        printer->SetPdfFileName(a.FileName);
    return true;
}

bool TPrintDialog::Execute()
{
    if (!AskPrinterDialog(dkPrint))
        return false;
    Copies = Printer()->Copies();
    return true;
}

bool TPrinterSetupDialog::Execute() { return AskPrinterDialog(dkPrinterSetup); }

} // namespace kv
