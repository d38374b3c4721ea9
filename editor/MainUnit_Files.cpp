// The document-level file commands: New, Open (and the start panel's links), the recent
// list, the command-line open, Save and Save As, and the save question that guards
// unsaved changes. Every open reads into a fresh bitmap or document and swaps it in
// only on success; every save writes beside the target and renames over it; the
// change state becomes "saved" only after a file was written.
#include "editor/MainUnit.h"

#include "editor/CommandTable.h"
#include "editor/PictureFiles.h"
#include "effects/CompressUnit.h"
#include "effects/GifTypeUnit.h"
#include "effects/NewImageUnit.h"
#include "effects/PrintRaster32.h"
#include "formats/KvGIF.h"
#include "platform/Forms.h"

#include <QAction>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>

#include <algorithm>

namespace kv {

constexpr const char* SaveQuestion = "The image has been changed. Do you want to save it?";
constexpr int32_t RecentMarkImageIndex = 15;

// The text from the last dot of the name, dot included; empty when no dot follows the
// last path separator.
static std::string ExtOf(const std::string& FileName)
{
    size_t slash = FileName.find_last_of('/');
    size_t dot = FileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return FileName.substr(dot);
}

// The extensions Save writes back, compared exactly: all lower or all upper case.
static bool IsWritableExt(const std::string& Ext)
{
    for (const char* e : {".gif", ".GIF", ".JPG", ".jpg", ".JPEG", ".jpeg", ".BMP", ".bmp", ".kvn", ".KVN"})
        if (Ext == e)
            return true;
    return false;
}

static bool IsOneOf(const std::string& Ext, std::initializer_list<const char*> List)
{
    return std::any_of(List.begin(), List.end(), [&](const char* e) { return Ext == e; });
}

std::vector<TCommandRow> TMainForm::FileCommands()
{
    return {
        {"mnFileNew",
         "New",
         "Ctrl+N",
         [this] { mnFileNewClick(); },
         [this] { return NewImageForm != nullptr; },
         {"ToolBar5", 0, QStyle::SP_FileIcon}},
        {"mnFileOpen",
         "Open",
         "Ctrl+O",
         [this] { mnFileOpenClick(); },
         nullptr,
         {"ToolBar5", 1, QStyle::SP_DialogOpenButton}},
        {"Save1",
         "Save",
         "Ctrl+S",
         [this] { Save1Click(); },
         [this] { return FSaveAllowed && BackgroundNotEmpty(); },
         {"ToolBar5", 2, QStyle::SP_DialogSaveButton}},
        {"N3", "Save As...", "", [this] { N3Click(); }, [this] { return FSaveAsAllowed && BackgroundNotEmpty(); }},
        {"N62", "Printer Setup", "", [this] { N62Click(); }},
        {"N70",
         "Print",
         "Ctrl+P",
         [this] { N70Click(); },
         [this] { return KVNPrint != nullptr && BackgroundNotEmpty(); },
         {"ToolBar5", 3}},
    };
}

// ---- The save question ---------------------------------------------------------------

bool TMainForm::AskSaveChanges()
{
    if (ModifiedState != msChanged)
        return true;
    switch (MessageDlg(SaveQuestion, mtConfirmation, mbYesNoCancel)) {
    case mrYes:
        // Go on only when the picture was really written.
        try {
            return Save1Click();
        } catch (const std::exception& E) {
            Application()->ShowException(E);
            return false;
        }
    case mrNo: return true;
    default: return false; // Cancel, or the box closed
    }
}

// ---- Opening -----------------------------------------------------------------------------

bool TMainForm::OpenFileSteps(const std::string& FileName)
{
    const std::string ext = ExtOf(FileName);
    // Each road reads the whole file before the document changes: a failure raises with
    // the document, the file names and the recent list as they were.
    // The picture's reader is chosen where the file is read; only a project differs here.
    bool Whole = true;
    // A project is known by its extension in any case, as the picture classes are.
    if (LowerCase(ext) == ".kvn")
        LoadProject(FileName);
    else
        Whole = LoadBackground(FileName, false);
    pnlImage->setVisible(!ImgView->Bitmap()->IsEmpty());

    SavePictureDialog1->FileName.clear();
    OpenPictureDialog1->FileName = FileName;
    FSaveAllowed = IsWritableExt(ext);
    FSaveAsAllowed = true;
    if (IsNewRecent(FileName))
        AddRecentFile(FileName);
    else
        Recent.SetMarked(int32_t(std::find(Recent.Captions().begin(), Recent.Captions().end(), FileName) -
                                 Recent.Captions().begin()));
    UpdateRecentMenu();
    SetFileStatus(FileName, true);
    if (!Whole)
        ShowDamagedFileNote();
    Start->hide();
    ResetUndo(); // the slots belong to the document that is gone
    UpdateCommandEnabling();
    return true;
}

bool TMainForm::OpenPicture()
{
    const std::string previous = OpenPictureDialog1->FileName;
    if (!OpenPictureDialog1->Execute() || OpenPictureDialog1->FileName.empty()) {
        OpenPictureDialog1->FileName = previous;
        return false;
    }
    const std::string chosen = OpenPictureDialog1->FileName;
    OpenPictureDialog1->FileName = previous; // the current file changes only on success
    return OpenFileSteps(chosen);
}

bool TMainForm::OpenPictureByName()
{
    const std::string name = OpenPictureDialog1->FileName;
    return !name.empty() && OpenFileSteps(name);
}

void TMainForm::FitAfterOpen()
{
    const TBitmap32* bg = ImgView->Bitmap();
    if (ImgView->Width() - 20 < bg->Width() || ImgView->Height() - 20 < bg->Height())
        N35Click();
}

void TMainForm::mnFileOpenClick()
{
    PreviewBackup()->SetSize(0, 0);
    if (!ImgView->Bitmap()->IsEmpty() && !AskSaveChanges())
        return;
    const bool opened = OpenPicture();
    if (opened)
        FitAfterOpen();
    ImgView->Invalidate();
    if (opened)
        ModifiedState = msSaved;
}

// ---- The recent list -------------------------------------------------------------------

void TMainForm::AddRecentFile(const std::string& FileName)
{
    Recent.AddRecentFile(FileName);
    UpdateRecentMenu();
}

void TMainForm::UpdateRecentMenu()
{
    if (!N14)
        return;
    // N15 and the four spare items, made once and owned by the window.
    while (FRecentItems.size() < size_t(MaxRecentFiles)) {
        auto* item = new QAction(this);
        item->setObjectName(FRecentItems.empty() ? "N15" : QString("RecentItem%1").arg(FRecentItems.size()));
        FRecentItems.push_back(item);
    }
    N14->clear();
    for (int32_t i = 0; i < Recent.Count(); ++i) {
        QAction* item = FRecentItems[size_t(i)];
        const QString path = QString::fromStdString(Recent.Caption(i));
        item->setData(path);                             // the path itself
        item->setText(QString(path).replace("&", "&&")); // shown without accelerators
        const bool marked = i == Recent.Marked();
        item->setProperty("ImageIndex", marked ? RecentMarkImageIndex : -1);
        item->setIcon(marked ? style()->standardIcon(QStyle::SP_DialogApplyButton) : QIcon());
        N14->addAction(item);
    }
    HookRecentItems();
    for (int32_t i = 0; i < 4; ++i) {
        const bool has = i < Recent.Count() && !Recent.IsPlaceholder(i);
        Lab[i]->setText(has ? QString::fromStdString(ExtractFileName(Recent.Caption(i))) : RecentEmptyCaption);
        Lab[i]->setToolTip(has ? QString::fromStdString(Recent.Caption(i)) : QString());
    }
}

void TMainForm::HookRecentItems()
{
    for (size_t i = 0; i < FRecentItems.size(); ++i) {
        QAction* item = FRecentItems[i];
        QObject::disconnect(item, &QAction::triggered, nullptr, nullptr);
        QObject::connect(item, &QAction::triggered, this,
                         [this, i] { SafeCall([this, i] { OpenRecentItem(int32_t(i)); }, this); });
    }
}

void TMainForm::N14Click() { HookRecentItems(); }

void TMainForm::OpenRecentItem(int32_t Index)
{
    PreviewBackup()->SetSize(0, 0);
    // The placeholder names no file: it opens nothing.
    if (Index < 0 || Index >= Recent.Count() || Recent.IsPlaceholder(Index))
        return;
    if (!ImgView->Bitmap()->IsEmpty() && !AskSaveChanges())
        return;
    const std::string name = Recent.Caption(Index);
    OpenFileSteps(name);
    ModifiedState = msSaved;
    ResetUndo();
    FitAfterOpen();
}

// ---- New -------------------------------------------------------------------------------

void TMainForm::mnFileNewClick()
{
    PreviewBackup()->SetSize(0, 0);
    if (!ImgView->Bitmap()->IsEmpty() && !AskSaveChanges())
        return;
    if (!NewImageForm)
        return;
    const TModalResult result = NewImageForm->ShowModal();
    OpenPictureDialog1->FileName.clear();
    SavePictureDialog1->FileName.clear();
    if (result != mrOk)
        return;
    // The whole new background is made first; the old document goes only then.
    TBitmap32 made;
    NewImageForm->MakeBackground(made);
    NewBackground(made.Width(), made.Height(), 0xFFFFFFFF);
    ImgView->Bitmap()->Assign(&made);
    pnlImage->setVisible(!ImgView->Bitmap()->IsEmpty());
    Start->hide();
    SetFileStatus("", true); // no file yet: the last file's name and size would mislead
    FSaveAllowed = true;
    FSaveAsAllowed = true;
    ModifiedState = msChanged; // a new picture is unsaved
    UpdateCommandEnabling();
}

// ---- Saving ------------------------------------------------------------------------------

std::string TMainForm::CurrentFileName() const
{
    if (!OpenPictureDialog1->FileName.empty())
        return OpenPictureDialog1->FileName;
    return SavePictureDialog1->FileName;
}

enum TSaveKind : uint8_t { skNone, skProject, skBitmap, skJpeg, skGif };

static TSaveKind SaveKindOfExt(const std::string& Ext)
{
    if (IsOneOf(Ext, {".kvn", ".KVN"}))
        return skProject;
    if (IsOneOf(Ext, {".bmp", ".BMP"}))
        return skBitmap;
    if (IsOneOf(Ext, {".gif", ".GIF"}))
        return skGif;
    if (IsOneOf(Ext, {".jpg", ".JPG", ".jpeg", ".JPEG"}))
        return skJpeg;
    return skNone;
}

// Writes the document to Name as the given kind: the project, or the flattened picture.
// Raises when the writer fails; the old file stays as it was.
static void WriteDocument(TMainForm& Form, const std::string& Name, TSaveKind Kind)
{
    if (Kind == skProject) {
        Form.SaveProject(Name);
        return;
    }
    TBitmap32* flat = Form.RenderFlattened();
    struct TRelease {
        TMainForm& Form;
        ~TRelease() { Form.ReleaseFlatImage(); }
    } release{Form};
    if (Kind == skBitmap) {
        flat->SaveToFile(Name);
        return;
    }
    TBitmap picture;
    picture.Assign(flat);
    if (Kind == skGif) {
        TGIFImage gif;
        gif.Assign(&picture);
        gif.SaveToFile(Name);
        return;
    }
    // JPEG through the imaging component, at full quality.
    SaveJpegFile(*Form.PARY, picture, 100, Name);
}

bool TMainForm::SaveFlattenedAs(const std::string& Name)
{
    const TSaveKind kind = SaveKindOfExt(ExtOf(Name));
    if (kind == skNone)
        return false;
    WriteDocument(*this, Name, kind);
    return true;
}

bool TMainForm::SaveThroughOptionsDialog(const std::string& Name, uint8_t Kind, std::string& Written)
{
    TBitmap32* flat = RenderFlattened();
    struct TRelease {
        TMainForm& Form;
        ~TRelease() { Form.ReleaseFlatImage(); }
    } release{*this};
    if (Kind == skJpeg) {
        ImgView->Invalidate();
        if (!Compress || !Compress->Execute(*flat, Name))
            return false;
        Written = Compress->WrittenName();
    } else {
        if (!GifType || !GifType->Execute(*flat, Name))
            return false;
        Written = GifType->WrittenName();
    }
    return true;
}

bool TMainForm::Save1Click()
{
    if (ImgView->Bitmap()->IsEmpty())
        return false;
    const std::string name = CurrentFileName();
    // No name yet, or one the editor cannot write back: ask for one, and Save ends
    // with what Save As did (it must not write the file a second time).
    if (name.empty() || !IsWritableExt(ExtOf(name)))
        return N3Click();
    if (!SaveFlattenedAs(name))
        return false;
    ModifiedState = msSaved;
    return true;
}

// Runs the save dialog until it gives a name that may be written: the filter's extension
// is added only when the name does not already carry it, and a bitmap or project name
// that exists is replaced only when the user agrees (the GIF and JPEG windows ask the
// same question themselves, just before they write). False: the dialog was cancelled.
bool TMainForm::AskSaveAsName(std::string& Name, int32_t& Filter)
{
    static const char* const extensions[] = {".kvn", ".bmp", ".jpg", ".gif"};
    const std::string previous = SavePictureDialog1->FileName;
    for (;;) {
        if (!SavePictureDialog1->Execute() || SavePictureDialog1->FileName.empty()) {
            SavePictureDialog1->FileName = previous;
            return false;
        }
        Filter = std::clamp(SavePictureDialog1->FilterIndex, 1, 4);
        Name = SavePictureDialog1->FileName;
        const std::string typed = LowerCase(ExtOf(Name));
        if (typed != extensions[Filter - 1] && !(Filter == 3 && typed == ".jpeg"))
            Name += extensions[Filter - 1];
        const bool optionsWindowWrites = Filter == 3 || Filter == 4; // JPEG, GIF: they ask
        if (optionsWindowWrites || ConfirmReplace(Name))
            break;
    }
    SavePictureDialog1->FileName = previous;
    return true;
}

bool TMainForm::N3Click()
{
    if (ImgView->Bitmap()->IsEmpty())
        return false;
    std::string name;
    int32_t filter = 1;
    if (!AskSaveAsName(name, filter))
        return false;

    static const TSaveKind kinds[] = {skProject, skBitmap, skJpeg, skGif};
    const TSaveKind kind = kinds[filter - 1];
    if (kind == skJpeg || kind == skGif) {
        // The GIF and JPEG windows ask for their options and write the file themselves;
        // closed without "Save", or with a writer error, nothing was written and the
        // document stays unsaved.
        std::string written;
        if (!SaveThroughOptionsDialog(name, kind, written))
            return false;
        name = written;
    } else {
        WriteDocument(*this, name, kind);
    }

    SavePictureDialog1->FileName = name;
    OpenPictureDialog1->FileName.clear();
    if (IsNewRecent(name))
        AddRecentFile(name);
    FSaveAllowed = true;
    FSaveAsAllowed = true;
    SetFileStatus(name, false);
    ModifiedState = msSaved;
    ImgView->Invalidate();
    UpdateCommandEnabling();
    return true;
}

void TMainForm::N62Click() { PrinterSetupDialog1->Execute(); }

void TMainForm::N70Click()
{
    if (!KVNPrint)
        return;
    // The dialog prints the flattened render; it goes however the dialog ends.
    struct TFlatRelease {
        TMainForm& Main;
        ~TFlatRelease()
        {
            Main.ReleaseFlatImage();
            Main.ImgView->Invalidate();
        }
    } release{*this};
    RenderFlattened();
    KVNPrint->ShowModal();
}

void TMainForm::SetFileStatus(const std::string& FileName, bool WithSize)
{
    // Panel 0 keeps its width on every screen, so the size always stands at one place.
    SetStatusText(0, FileName);
    if (WithSize)
        SetStatusText(1, IntToStr(ImgView->Bitmap()->Width()) + "x" + IntToStr(ImgView->Bitmap()->Height()));
}

void TMainForm::ShowDamagedFileNote()
{
    SetStatusText(1, IntToStr(ImgView->Bitmap()->Width()) + "x" + IntToStr(ImgView->Bitmap()->Height()) + "  " +
                         DamagedFileMessage);
}

} // namespace kv
