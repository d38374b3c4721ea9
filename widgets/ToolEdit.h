// An edit with a button at its right edge, its file-and-folder branch, the directory
// edit whose button opens a folder chooser, and that chooser itself.
#pragma once

#include "platform/Graphics.h"
#include "platform/KvKeys.h"
#include "widgets/KVCtrls.h"

#include <QLineEdit>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

enum TGlyphKind : uint8_t { gkCustom, gkDefault, gkDropDown, gkEllipsis };
enum TDirDialogKind : uint8_t { dkVCL, dkWin32 };
enum TBrowseKind : uint8_t { bfFolders, bfComputers };

// SelectDirectory's options.
using TSelectDirOpts = uint8_t;
constexpr TSelectDirOpts sdAllowCreate = 1, sdPerformCreate = 2, sdPrompt = 4;

using TExecOpenDialogEvent = std::function<void(TObject* Sender, std::string& Name, bool& Action)>;

class TCustomComboEdit;

// The button of a combo edit: a speed button that draws a separator on its left edge
// and gives the focus to its edit on a press.
class TEditButton : public TKvSpeedButton {
public:
    TEditButton(QWidget* AOwner, TCustomComboEdit* AEdit);
    std::string ClassName() const override { return "TEditButton"; }

protected:
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;

private:
    TCustomComboEdit* FEdit;
};

class TCustomComboEdit : public QLineEdit, public TObject {
public:
    explicit TCustomComboEdit(QWidget* AOwner = nullptr);
    ~TCustomComboEdit() override;
    std::string ClassName() const override { return "TCustomComboEdit"; }

    std::string Text() const;
    void SetText(const std::string& Value);
    int32_t Left() const { return x(); }
    int32_t Top() const { return y(); }
    int32_t Width() const { return width(); }
    int32_t Height() const { return height(); }
    void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool Value) { setEnabled(Value); }
    bool Modified() const { return isModified(); }
    void SetModified(bool Value) { setModified(Value); }
    int32_t SelStart() const;
    int32_t SelLength() const;
    void SetSelStart(int32_t Value);
    void SetSelLength(int32_t Value);
    void SelectAll() { selectAll(); }

    TShortCut ClickKey() const { return FClickKey; }
    void SetClickKey(TShortCut Value) { FClickKey = Value; }
    bool DirectInput() const { return FDirectInput; }
    void SetDirectInput(bool Value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value);
    bool AutoSelect() const { return FAutoSelect; }
    void SetAutoSelect(bool Value) { FAutoSelect = Value; }
    int32_t ButtonWidth() const { return FButtonWidth; }
    void SetButtonWidth(int32_t Value);
    std::string ButtonHint() const { return FButtonHint; }
    void SetButtonHint(const std::string& Value);
    TBitmap* Glyph() { return FButton->Glyph(); }
    // Assigning a glyph makes the kind gkCustom.
    void SetGlyph(TBitmap* Value);
    TKvNumGlyphs NumGlyphs() const { return FButton->NumGlyphs(); }
    void SetNumGlyphs(TKvNumGlyphs Value);
    TGlyphKind GlyphKind() const { return FGlyphKind; }
    void SetGlyphKind(TGlyphKind Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    int32_t HelpContext() const { return FHelpContext; }
    void SetHelpContext(int32_t Value) { FHelpContext = Value; }

    TEditButton* Button() const { return FButton; }
    QWidget* ButtonHolder() const { return FBtnControl; }
    // The smallest height the edit takes: 4 borders, the smaller of the system and own
    // font heights, and one pixel.
    int32_t MinHeight() const;
    // The caret width the edit asks of its style: 1, or 2 for a bold font.
    int32_t CaretWidth() const;

    // Acts as a click on the button (nothing for a read-only edit).
    void DoClick();

    TNotifyEvent OnButtonClick;

protected:
    virtual void ButtonClick();
    void EditButtonClick();
    // The bitmap of gkDefault (none for the plain combo edit).
    virtual TBitmap* DefaultBitmap() { return nullptr; }
    void RecreateGlyph();
    void keyPressEvent(QKeyEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    void UpdateControls();
    void UpdateBtnBounds();
    void UpdateReadOnly();

    QWidget* FBtnControl;           // Qt child of the edit
    TEditButton* FButton;           // Qt child of the holder
    class TCaretStyle* FCaretStyle; // Qt child of the edit
    TShortCut FClickKey = ShortCut(VK_DOWN, scAlt);
    bool FDirectInput = true;
    bool FReadOnly = false;
    bool FAutoSelect = true;
    int32_t FButtonWidth = 21;
    std::string FButtonHint;
    TGlyphKind FGlyphKind = gkCustom;
    TAlignment FAlignment = taLeftJustify;
    int32_t FHelpContext = 0;
    bool FInGlyphChange = false;
};

class TFileDirEdit : public TCustomComboEdit {
public:
    explicit TFileDirEdit(QWidget* AOwner = nullptr);
    std::string ClassName() const override { return "TFileDirEdit"; }

    bool AcceptFiles() const { return FAcceptFiles; }
    void SetAcceptFiles(bool Value);
    bool MultipleDirs() const { return FMultipleDirs; }
    void SetMultipleDirs(bool Value) { FMultipleDirs = Value; }
    // The text with every folder in its long (or short) form; the same here.
    std::string LongName() const;
    std::string ShortName() const;
    // What a drop of these files does (the event handler calls it).
    void DropFiles(const std::vector<std::string>& Names);

    TExecOpenDialogEvent OnBeforeDialog;
    TExecOpenDialogEvent OnAfterDialog;
    TNotifyEvent OnDropFiles;

protected:
    TBitmap* DefaultBitmap() override;
    void DoBeforeDialog(std::string& Name, bool& Action);
    void DoAfterDialog(std::string& Name, bool& Action);
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    std::string ConvertNames(std::string (*Convert)(const std::string&)) const;
    bool FAcceptFiles = false;
    bool FMultipleDirs = false;
};

// The shared folder image of file-and-folder edits, made once.
TBitmap* FileEditBitmap();

class TDirectoryEdit : public TFileDirEdit {
public:
    explicit TDirectoryEdit(QWidget* AOwner = nullptr);
    std::string ClassName() const override { return "TDirectoryEdit"; }

    const std::string& InitialDir() const { return FInitialDir; }
    void SetInitialDir(const std::string& Value) { FInitialDir = Value; }
    const std::string& DialogText() const { return FDialogText; }
    void SetDialogText(const std::string& Value) { FDialogText = Value; }
    TSelectDirOpts DialogOptions() const { return FDialogOptions; }
    void SetDialogOptions(TSelectDirOpts Value) { FDialogOptions = Value; }
    TDirDialogKind DialogKind() const { return FDialogKind; }
    void SetDialogKind(TDirDialogKind Value) { FDialogKind = Value; }

protected:
    void ButtonClick() override;

private:
    std::string FInitialDir;
    std::string FDialogText;
    TSelectDirOpts FDialogOptions = 0;
    TDirDialogKind FDialogKind = dkVCL;
};

// The folder chooser. Execute goes through the platform's modal-form answerer with
// this object as the form (named "TBrowseFolderDlg"): a scripted answer calls
// SelectFolder and answers mrOk, or answers mrCancel; without an answerer Qt's folder
// chooser runs.
class TBrowseFolderDlg : public TObject {
public:
    std::string ClassName() const override { return "TBrowseFolderDlg"; }

    bool DesktopRoot = true;
    TBrowseKind BrowseKind = bfFolders;
    bool CenterOnScreen = true;
    std::string DialogText;
    int32_t HelpContext = 0;
    std::string Folder;      // the start folder, then the chosen one
    std::string DisplayName; // the last element of the chosen folder
    int32_t ImageIndex = -1;
    TNotifyEvent OnInitialized;
    TNotifyEvent OnSelChanged;

    // Runs the chooser. Browsing for computers has nothing to browse here: False.
    bool Execute();
    // The chooser's selection moved to Path: Folder follows and OK is enabled only for
    // an existing folder; then OnSelChanged.
    void SelectFolder(const std::string& Path);
    bool OkEnabled() const { return FOkEnabled; }
    // SelectDirectory's chooser also accepts a folder that does not exist yet.
    void SetAllowMissing(bool Value) { FAllowMissing = Value; }
    // The chooser's form name as the answerer sees it.
    std::string FormName = "TBrowseFolderDlg";

private:
    TModalResult RunChooser();
    bool FOkEnabled = false;
    bool FAllowMissing = false;
};

// The folder chooser of new-style controls: Folder in, the chosen folder out.
bool BrowseDirectory(std::string& Folder, const std::string& DialogText, int32_t HelpContext);
// The class library's folder dialog (form name "SelectDirectory"): with sdAllowCreate
// a missing folder may be chosen; sdPrompt asks before creating it, sdPerformCreate
// creates it.
bool SelectDirectory(std::string& Directory, TSelectDirOpts Options, int32_t HelpContext);

} // namespace kv
