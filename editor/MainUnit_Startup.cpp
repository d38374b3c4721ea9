// How the main window comes up and goes down: its creation (controls first, then the
// three settings files), the first show (the command-line file), every activation (the
// project-file association, tried once a run), the close query and the close (settings
// written best-effort, document emptied), the editor background and the Help menu.
#include "editor/MainUnit.h"

#include "editor/CommandTable.h"
#include "editor/FileAssociation.h"
#include "effects/CompressUnit.h"
#include "platform/Forms.h"
#include "platform/KvShell.h"
#include "widgets/PictureDialogs.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalBlocker>

namespace kv {

// The maker's own addresses behind the Help menu's links.
constexpr const char* WebAddress = "https://kelvane.org/";
constexpr const char* TexturesAddress = "https://kelvane.org/textures/";
constexpr const char* SupportAddress = "mailto:support@kelvane.org?subject=Kelvane";
constexpr const char* HelpFile = "Help.html";

static TRect AvailableScreen(const QWidget* Window)
{
    const QScreen* screen = Window->screen() ? Window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return Rect(0, 0, 1024, 768);
    QRect r = screen->availableGeometry();
    return Rect(r.left(), r.top(), r.left() + r.width(), r.top() + r.height());
}

void TMainForm::FormCreate()
{
    Application()->SetTitle("Kelvane");
    // Everything the window needs exists before any settings file is read, so a bad
    // file can never leave the window half made.
    CreateDialogs();
    CreateCommands();
    CreateMenus();
    CreateToolBars();
    CreateStartPanel();
    CreateImageSection();
    // Every change of the document or the selection refreshes the enabling.
    auto documentChange = ImgView->OnChange;
    ImgView->OnChange = [this, documentChange](TObject* Sender) {
        if (documentChange)
            documentChange(Sender);
        if (!FClosing)
            UpdateCommandEnabling();
    };
    ReadSettings();
    UpdateCommandEnabling();
}

void TMainForm::CreateDialogs()
{
    BufColor = std::make_unique<TColorDialog>();
    BufColor->Color = clGray;
    OpenPictureDialog1 = std::make_unique<TOpenPictureDialog>();
    OpenPictureDialog1->Filter =
        "All (*.kvn;*.gif;*.jpg;*.jpeg;*.bmp;*.ico;*.png)|*.kvn;*.gif;*.jpg;*.jpeg;*.bmp;*.ico;*.png"
        "|GIF Image (*.gif)|*.gif|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg"
        "|Bitmaps (*.bmp)|*.bmp|Icons (*.ico)|*.ico"
        "|Kelvane Project (*.kvn)|*.kvn|PNG Image (*.png)|*.png";
    SavePictureDialog1 = std::make_unique<TSavePictureDialog>();
    SavePictureDialog1->Filter =
        "Kelvane Project (*.kvn)|*.kvn|Bitmaps (*.bmp)|*.bmp|JPEG Image File (*.jpg)|*.jpg|GIF Image (*.gif)|*.gif";
    PARY = CreateImagingIO();
    AllColor = std::make_unique<TColorDialog>();
    PrinterSetupDialog1 = std::make_unique<TPrinterSetupDialog>();
}

void TMainForm::ReadSettings()
{
    const std::string dir = ConfigDir();
    TEditorBackground bg = LoadViewSettings(dir + ViewSettingsFile);
    Command("N103")->setChecked(bg.Chess);
    BufColor->Color = bg.Color;
    ChessBackground = bg.Chess;
    EditorBackgroundColor = bg.Color;

    TWindowRecord record = DefaultWindowRecord(AvailableScreen(this));
    LoadWindowRecord(dir + WindowSettingsFile, record);
    ApplyWindowRecord(record);

    Recent = TRecentList(LoadRecentList(dir + RecentListFile));
    UpdateRecentMenu();
}

TEditorBackground TMainForm::EditorBackground() const
{
    return TEditorBackground{ChessBackground, BufColor ? BufColor->Color : EditorBackgroundColor};
}

void TMainForm::ApplyWindowRecord(const TWindowRecord& Record)
{
    if (Record.State == wsMaximized) {
        setWindowState(Qt::WindowMaximized); // the stored bounds are not used
        return;
    }
    TWindowRecord r = ClampWindowRecord(Record, AvailableScreen(this));
    move(r.Left, r.Top);
    resize(r.Width, r.Height);
    setWindowState(Record.State == wsMinimized ? Qt::WindowMinimized : Qt::WindowNoState);
}

TWindowRecord TMainForm::WindowRecord() const
{
    TWindowRecord r;
    Qt::WindowStates s = windowState();
    r.State = (s & Qt::WindowMaximized) ? wsMaximized : (s & Qt::WindowMinimized) ? wsMinimized : wsNormal;
    QRect g = r.State == wsNormal ? QRect(pos(), size()) : normalGeometry();
    r.Left = g.x();
    r.Top = g.y();
    r.Width = g.width();
    r.Height = g.height();
    return r;
}

void TMainForm::FormShow()
{
    if (FShown)
        return;
    FShown = true;
    if (CommandLine.empty())
        return;
    std::string name;
    for (const std::string& part : CommandLine)
        name += (name.empty() ? "" : " ") + part;
    const std::string previous = OpenPictureDialog1->FileName;
    OpenPictureDialog1->FileName = name;
    bool opened = false;
    try {
        opened = OpenPictureByName();
    } catch (...) {
        OpenPictureDialog1->FileName = previous; // a failed open names no current file
        throw;
    }
    if (opened)
        ModifiedState = msSaved; // the file is as it lies on disk
}

void TMainForm::FormActivate()
{
    {
        QSignalBlocker block(CropsP);
        CropsP->setCurrentIndex(0);
    }
    // Whenever the flag is missing (deleted while the program runs, or an earlier try
    // failed): one try per activation, its failure ignored.
    if (!AssociationRegistered())
        RegisterFileType();
}

void TMainForm::RegisterFileType()
{
    try {
        kv::RegisterFileType(Application()->ExeName(), DataDir() + "Icon.ico", RefreshDesktopOnAssociation);
    } catch (const std::exception&) {
        // The association is a convenience; the editor works without it.
    }
}

bool TMainForm::FormCloseQuery()
{
    if (ImgView->Bitmap()->IsEmpty())
        return true;
    return AskSaveChanges();
}

void TMainForm::FormClose()
{
    const std::string dir = ConfigDir();
    // Each file on its own: a failed write never keeps the window open.
    try {
        SaveRecentList(dir + RecentListFile, Recent.Files());
    } catch (const std::exception&) {
    }
    try {
        SaveViewSettings(dir + ViewSettingsFile, EditorBackground());
    } catch (const std::exception&) {
    }
    try {
        SaveWindowRecord(dir + WindowSettingsFile, WindowRecord());
    } catch (const std::exception&) {
    }
    FClosing = true;
    ClearDocument(); // no selection, no band, no layers
    ImgView->Bitmap()->SetSize(0, 0);
}

void TMainForm::FormDestroy()
{
    FSelectionRef.OnLost = nullptr;
    FSelectionRef.Reset();
    FRBLayerRef.Reset();
}

void TMainForm::N5Click()
{
    try {
        SaveRecentList(ConfigDir() + RecentListFile, Recent.Files());
    } catch (const std::exception&) {
    }
    close();
}

// ---- Qt's events -------------------------------------------------------------------

void TMainForm::showEvent(QShowEvent* Event)
{
    QMainWindow::showEvent(Event);
    if (FShown)
        return;
    SafeCall([this] { FormShow(); }, this);
    // A desktop without a window manager never activates the window: the first show
    // counts as the first activation.
    SafeCall([this] { FormActivate(); }, this);
}

void TMainForm::changeEvent(QEvent* Event)
{
    QMainWindow::changeEvent(Event);
    if (Event->type() == QEvent::ActivationChange && isActiveWindow())
        SafeCall([this] { FormActivate(); }, this);
}

void TMainForm::closeEvent(QCloseEvent* Event)
{
    bool canClose = true;
    if (!SafeCall([&] { canClose = FormCloseQuery(); }, this))
        canClose = true; // a failing question must not trap the user in the program
    if (!canClose) {
        Event->ignore();
        return;
    }
    SafeCall([this] { FormClose(); }, this);
    Event->accept();
}

// ---- Editor background and Help ------------------------------------------------------

void TMainForm::N102Click()
{
    if (!BufColor->Execute())
        return;
    Command("N103")->setChecked(false);
    ChessBackground = false;
    EditorBackgroundColor = BufColor->Color;
    ImgView->Invalidate();
}

void TMainForm::N103Click()
{
    // A checkable action has already toggled itself when triggered.
    ChessBackground = Command("N103")->isChecked();
    EditorBackgroundColor = BufColor->Color;
    ImgView->Invalidate();
}

static void OpenOrTell(const std::string& Target)
{
    if (!ShellOpen(Target))
        MessageDlg("Cannot open " + Target, mtError, mbOKOnly);
}

void TMainForm::N26Click() { OpenOrTell(DataDir() + HelpFile); }
void TMainForm::N28Click() { OpenOrTell(WebAddress); }
void TMainForm::N96Click() { OpenOrTell(TexturesAddress); }
void TMainForm::N97Click() { OpenOrTell(SupportAddress); }

std::vector<TCommandRow> TMainForm::StartupCommands()
{
    return {
        {"N5", "Exit", "F10", [this] { N5Click(); }},
        {"N102", "Select Color", "", [this] { N102Click(); }},
        {"N103", "White - Gray", "", [this] { N103Click(); }, nullptr, {}, {}, TCheckable::Yes},
        {"N26", "Help", "F1", [this] { N26Click(); }, nullptr, {"ToolBar3", 4, QStyle::SP_DialogHelpButton}},
        {"N96", "Download Textures", "", [this] { N96Click(); }},
        {"N97", "Technical Support", "", [this] { N97Click(); }},
        {"N28", "On the Web", "", [this] { N28Click(); }},
    };
}

} // namespace kv
