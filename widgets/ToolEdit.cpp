#include "widgets/ToolEdit.h"

#include "formats/CtrlUtils.h"
#include "formats/MaxMin.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/QtBridge.h"
#include "platform/SysUtils.h"
#include "widgets/FileUtil.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMimeData>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <filesystem>
#include <system_error>

namespace kv {

// The edit's caret: as high as the font, 1 pixel wide, 2 for a bold font.
class TCaretStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric Metric, const QStyleOption* Option, const QWidget* Widget) const override
    {
        if (Metric == PM_TextCursorWidth)
            return Bold ? 2 : 1;
        return QProxyStyle::pixelMetric(Metric, Option, Widget);
    }
    bool Bold = false;
};

namespace {

constexpr bool NewStyleControls = true;
constexpr int32_t SM_CYBORDER = 1;

// The platform's combo-box arrow (OBM_COMBO): a small black arrow on white, white being
// the key of a bitmap whose bottom-left pixel is white.
TBitmap* ComboArrowBitmap()
{
    // Made once; owned by this function for the program's life.
    static std::unique_ptr<TBitmap> arrow = [] {
        auto b = std::make_unique<TBitmap>();
        b->SetPixelFormat(pf24bit);
        b->SetSize(7, 4);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 7; ++x)
                b->SetPixelColor(x, y, x >= y && x < 7 - y ? clBlack : clWhite);
        return b;
    }();
    return arrow.get();
}

// Three 2 x 2 black dots centred on a monochrome bitmap of width max(1, ButtonWidth - 6).
std::unique_ptr<TBitmap> EllipsisBitmap(int32_t ButtonWidth)
{
    auto b = std::make_unique<TBitmap>();
    b->SetMonochrome(true);
    const int32_t w = Max(1, ButtonWidth - 6);
    b->SetSize(w, 4);
    b->Canvas()->Brush()->SetColor(clWhite);
    b->Canvas()->FillRect(Rect(0, 0, w, 4));
    const int32_t spacing = Min(Max((w - 6) / 2, 1), 3);
    const int32_t total = 3 * 2 + 2 * spacing;
    const int32_t x0 = (w - total) / 2;
    for (int32_t i = 0; i < 3; ++i) {
        const int32_t x = x0 + i * (2 + spacing);
        // PatBlt BLACKNESS over each dot.
        PatBlt(b->Canvas()->Handle(), x, 1, 2, 2, BLACKNESS);
    }
    return b;
}

std::string LastPathElement(const std::string& Path)
{
    if (Path == "/")
        return Path;
    const size_t slash = Path.find_last_of('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

} // namespace

// ---- Edit button ------------------------------------------------------------------------

TEditButton::TEditButton(QWidget* AOwner, TCustomComboEdit* AEdit) : TKvSpeedButton(AOwner), FEdit(AEdit) {}

void TEditButton::Paint()
{
    TKvSpeedButton::Paint();
    if (FState == bsDown)
        return;
    TCanvas& C = *Canvas();
    C.Brush()->SetStyle(bsSolid);
    C.Brush()->SetColor(NewStyleControls ? clBtnFace : clBtnShadow);
    C.FillRect(Rect(0, 0, 1, Height()));
    C.Brush()->SetColor(clBtnHighlight);
    C.FillRect(Rect(1, 0, 2, Height()));
}

void TEditButton::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    // No drop-down popup belongs to any edit here, so a press only focuses the edit.
    if (Button == mbLeft && FEdit && FEdit->isEnabled() && FEdit->focusPolicy() != Qt::NoFocus)
        FEdit->setFocus(Qt::MouseFocusReason);
    TKvSpeedButton::MouseDown(Button, Shift, X, Y);
}

// ---- Combo edit ---------------------------------------------------------------------------

TCustomComboEdit::TCustomComboEdit(QWidget* AOwner) : QLineEdit(AOwner)
{
    FBtnControl = new QWidget(this);
    FBtnControl->resize(21, 17);
    FButton = new TEditButton(FBtnControl, this);
    FButton->SetBounds(0, 0, 21, 17);
    FButton->OnClick = [this](TObject*) { EditButtonClick(); };
    FCaretStyle = new TCaretStyle;
    FCaretStyle->setParent(this);
    setStyle(FCaretStyle);
    QPalette pal = palette();
    pal.setColor(QPalette::Disabled, QPalette::Text, ToQColor(clGrayText));
    setPalette(pal);
    SetBounds(0, 0, 121, 21);
    UpdateControls();
}

TCustomComboEdit::~TCustomComboEdit()
{
    // The button may outlive this part of the object while Qt tears children down.
    FButton->OnClick = nullptr;
}

std::string TCustomComboEdit::Text() const { return text().toStdString(); }

void TCustomComboEdit::SetText(const std::string& Value) { setText(QString::fromStdString(Value)); }

void TCustomComboEdit::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight)
{
    setGeometry(ALeft, ATop, Max(0, AWidth), Max(MinHeight(), AHeight));
    if (!isVisible())
        UpdateControls();
}

int32_t TCustomComboEdit::SelStart() const { return hasSelectedText() ? selectionStart() : cursorPosition(); }

int32_t TCustomComboEdit::SelLength() const { return hasSelectedText() ? int32_t(selectionLength()) : 0; }

void TCustomComboEdit::SetSelStart(int32_t Value) { setCursorPosition(Value); }

void TCustomComboEdit::SetSelLength(int32_t Value) { setSelection(SelStart(), Value); }

int32_t TCustomComboEdit::MinHeight() const
{
    const int32_t systemHeight = QFontMetrics(QApplication::font()).height();
    const int32_t own = QFontMetrics(font()).height();
    return 4 * SM_CYBORDER + Min(systemHeight, own) + 1;
}

int32_t TCustomComboEdit::CaretWidth() const
{
    return FCaretStyle->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this);
}

void TCustomComboEdit::SetDirectInput(bool Value)
{
    FDirectInput = Value;
    UpdateReadOnly();
}

void TCustomComboEdit::SetReadOnly(bool Value)
{
    FReadOnly = Value;
    UpdateReadOnly();
}

void TCustomComboEdit::UpdateReadOnly()
{
    // Cut, paste and typing only with direct input on an editable edit.
    setReadOnly(FReadOnly || !FDirectInput);
}

void TCustomComboEdit::SetButtonWidth(int32_t Value)
{
    if (Value == FButtonWidth)
        return;
    FButtonWidth = Value;
    if (FGlyphKind == gkEllipsis && !FInGlyphChange)
        RecreateGlyph();
    UpdateControls();
}

void TCustomComboEdit::SetButtonHint(const std::string& Value)
{
    FButtonHint = Value;
    FButton->SetHint(Value);
}

void TCustomComboEdit::SetGlyph(TBitmap* Value)
{
    FButton->SetGlyph(Value);
    FGlyphKind = gkCustom;
}

void TCustomComboEdit::SetNumGlyphs(TKvNumGlyphs Value)
{
    if (FGlyphKind == gkDropDown || FGlyphKind == gkEllipsis)
        Value = 1;
    FButton->SetNumGlyphs(Value);
}

void TCustomComboEdit::SetGlyphKind(TGlyphKind Value)
{
    if (Value == FGlyphKind)
        return;
    FGlyphKind = Value;
    RecreateGlyph();
}

void TCustomComboEdit::RecreateGlyph()
{
    FInGlyphChange = true;
    struct TDone {
        bool& Flag;
        ~TDone() { Flag = false; }
    } done{FInGlyphChange};
    switch (FGlyphKind) {
    case gkDefault:
        if (TBitmap* b = DefaultBitmap()) {
            FButton->SetGlyph(b);
            SetButtonWidth(Max(b->Width() / FButton->NumGlyphs() + 6, FButtonWidth));
        }
        break;
    case gkDropDown:
        FButton->SetGlyph(ComboArrowBitmap());
        FButton->SetNumGlyphs(1);
        SetButtonWidth(ScrollBarExtent());
        break;
    case gkEllipsis: {
        std::unique_ptr<TBitmap> dots = EllipsisBitmap(FButtonWidth);
        FButton->SetGlyph(dots.get());
        FButton->SetNumGlyphs(1);
        break;
    }
    case gkCustom: break;
    }
}

void TCustomComboEdit::SetAlignment(TAlignment Value)
{
    if (Value == FAlignment)
        return;
    FAlignment = Value;
    switch (Value) {
    case taLeftJustify: setAlignment(Qt::AlignLeft | Qt::AlignVCenter); break;
    case taRightJustify: setAlignment(Qt::AlignRight | Qt::AlignVCenter); break;
    case taCenter: setAlignment(Qt::AlignHCenter | Qt::AlignVCenter); break;
    }
}

void TCustomComboEdit::UpdateBtnBounds()
{
    const int32_t w = FButtonWidth;
    const bool border = hasFrame(), ctl3D = true;
    // Where the button sits in the edit's client area, whose origin lies inside the border.
    TRect r;
    int32_t origin = 0;
    if (NewStyleControls && ctl3D && border) {
        r = Bounds(Width() - w - 4, 0, w, Height() - 4);
        origin = 2;
    } else if (NewStyleControls && !border) {
        r = Bounds(Width() - w, 0, w, Height());
    } else if (border) {
        r = Bounds(Width() - w - 2, 2, w, Height() - 4);
        origin = 1;
    } else {
        r = Bounds(Width() - w, 0, w, Height());
    }
    FBtnControl->setGeometry(r.Left + origin, r.Top + origin, Max(0, r.Width()), Max(0, r.Height()));
    FButton->SetBounds(0, 0, Max(0, r.Width()), Max(0, r.Height()));
}

void TCustomComboEdit::UpdateControls()
{
    // A button narrower than 2 pixels is no button.
    FBtnControl->setVisible(FButtonWidth >= 2);
    UpdateBtnBounds();
    // The text keeps clear of the button (the edit rectangle ends 2 pixels before it).
    const int32_t buttonRoom = FButtonWidth >= 2 ? FButtonWidth : 0;
    setTextMargins(0, 0, buttonRoom + 2, 0);
}

void TCustomComboEdit::resizeEvent(QResizeEvent* Event)
{
    QLineEdit::resizeEvent(Event);
    if (height() < MinHeight()) {
        resize(width(), MinHeight());
        return;
    }
    UpdateControls();
}

void TCustomComboEdit::changeEvent(QEvent* Event)
{
    QLineEdit::changeEvent(Event);
    if (Event->type() == QEvent::FontChange) {
        FCaretStyle->Bold = font().bold();
        if (height() < MinHeight())
            resize(width(), MinHeight());
    } else if (Event->type() == QEvent::EnabledChange) {
        FButton->SetEnabled(isEnabled());
    }
}

void TCustomComboEdit::focusInEvent(QFocusEvent* Event)
{
    QLineEdit::focusInEvent(Event);
    if (FAutoSelect && FDirectInput && Event->reason() != Qt::MouseFocusReason)
        selectAll();
}

void TCustomComboEdit::keyPressEvent(QKeyEvent* Event)
{
    const TShortCut key = ShortCutFromQtKey(Event->key(), uint32_t(Event->modifiers()));
    if (key != 0 && key == FClickKey && FButtonWidth > 0) {
        EditButtonClick();
        Event->accept();
        return;
    }
    const int k = Event->key();
    if (k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape) {
        // CM_DIALOGKEY: the form decides (default or cancel button); Enter stops here.
        QWidget* form = window();
        if (form && form != this) {
            QKeyEvent copy(Event->type(), k, Event->modifiers(), Event->text());
            QCoreApplication::sendEvent(form, &copy);
        }
        Event->accept();
        return;
    }
    QLineEdit::keyPressEvent(Event);
}

void TCustomComboEdit::DoClick() { EditButtonClick(); }

void TCustomComboEdit::EditButtonClick()
{
    // A read-only edit leaves its button idle.
    if (FReadOnly)
        return;
    ButtonClick();
}

void TCustomComboEdit::ButtonClick()
{
    if (OnButtonClick)
        OnButtonClick(this);
}

// ---- File and folder edit -------------------------------------------------------------------

TBitmap* FileEditBitmap()
{
    // "FEDITBMP": a small yellow folder on the magenta key; made once and shared by every
    // edit for the program's life.
    static std::unique_ptr<TBitmap> folder = [] {
        auto b = std::make_unique<TBitmap>();
        b->SetPixelFormat(pf24bit);
        b->SetSize(15, 12);
        const TColor key = clFuchsia, edge = RGB(128, 96, 0), face = RGB(255, 216, 64);
        for (int32_t y = 0; y < 12; ++y)
            for (int32_t x = 0; x < 15; ++x) {
                TColor c = key;
                const bool tab = y >= 1 && y <= 2 && x >= 1 && x <= 6;
                const bool body = y >= 2 && y <= 10 && x >= 1 && x <= 13;
                if (tab || body)
                    c = (y == 1 || y == 10 || x == 1 || x == 13 || (y == 2 && x >= 7)) ? edge : face;
                b->SetPixelColor(x, y, c);
            }
        return b;
    }();
    return folder.get();
}

TFileDirEdit::TFileDirEdit(QWidget* AOwner) : TCustomComboEdit(AOwner)
{
    // OEMConvert has no meaning here: names are UTF-8 throughout.
    SetGlyphKind(gkDefault);
}

TBitmap* TFileDirEdit::DefaultBitmap() { return FileEditBitmap(); }

void TFileDirEdit::SetAcceptFiles(bool Value)
{
    FAcceptFiles = Value;
    setAcceptDrops(Value);
}

void TFileDirEdit::DoBeforeDialog(std::string& Name, bool& Action)
{
    if (OnBeforeDialog)
        OnBeforeDialog(this, Name, Action);
}

void TFileDirEdit::DoAfterDialog(std::string& Name, bool& Action)
{
    if (OnAfterDialog)
        OnAfterDialog(this, Name, Action);
}

std::string TFileDirEdit::ConvertNames(std::string (*Convert)(const std::string&)) const
{
    const std::string text = Text();
    if (!FMultipleDirs)
        return Convert(text);
    std::string out;
    int32_t pos = 1;
    while (pos <= int32_t(text.size())) {
        std::string part = ExtractUntilDelimiter(text, pos, ";");
        if (!out.empty())
            out += ";";
        out += Convert(part);
    }
    return out;
}

std::string TFileDirEdit::LongName() const { return ConvertNames(ShortToLongPath); }
std::string TFileDirEdit::ShortName() const { return ConvertNames(LongToShortPath); }

void TFileDirEdit::DropFiles(const std::vector<std::string>& Names)
{
    for (const std::string& name : Names) {
        // A dropped file stands for its folder; names are taken at full length.
        std::string folder = FileExists(name) && !DirExists(name) ? ExtractFilePath(name) : name;
        if (FMultipleDirs) {
            std::string text = Text();
            SetText(text.empty() ? folder : text + ";" + folder);
        } else {
            SetText(folder);
            break;
        }
    }
    if (OnDropFiles)
        OnDropFiles(this);
}

namespace {

std::vector<std::string> LocalFiles(const QMimeData* Data)
{
    std::vector<std::string> names;
    if (!Data || !Data->hasUrls())
        return names;
    for (const QUrl& url : Data->urls())
        if (url.isLocalFile())
            names.push_back(url.toLocalFile().toStdString());
    return names;
}

} // namespace

void TFileDirEdit::dragEnterEvent(QDragEnterEvent* Event)
{
    if (FAcceptFiles && !LocalFiles(Event->mimeData()).empty())
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TFileDirEdit::dragMoveEvent(QDragMoveEvent* Event)
{
    if (FAcceptFiles && !LocalFiles(Event->mimeData()).empty())
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TFileDirEdit::dropEvent(QDropEvent* Event)
{
    std::vector<std::string> names = LocalFiles(Event->mimeData());
    if (!FAcceptFiles || names.empty()) {
        Event->ignore();
        return;
    }
    Event->acceptProposedAction();
    SafeCall([&] { DropFiles(names); }, this);
}

// ---- Directory edit ----------------------------------------------------------------------------

TDirectoryEdit::TDirectoryEdit(QWidget* AOwner) : TFileDirEdit(AOwner) {}

void TDirectoryEdit::ButtonClick()
{
    TCustomComboEdit::ButtonClick();
    std::string temp = Text();
    bool action = true;
    DoBeforeDialog(temp, action);
    // OnBeforeDialog may refuse the chooser: then nothing opens and the text stays.
    if (action) {
        // (assign(1, '/') rather than = "/": g++ 12 warns falsely on the latter here)
        if (temp.empty() && !FInitialDir.empty())
            temp = FInitialDir;
        if (temp.empty() || !DirExists(temp))
            temp.assign(1, '/');
        if (NewStyleControls && FDialogKind == dkWin32)
            action = BrowseDirectory(temp, FDialogText, HelpContext());
        else
            action = SelectDirectory(temp, FDialogOptions, HelpContext());
        if (isEnabled() && isVisible())
            setFocus(Qt::OtherFocusReason);
    }
    DoAfterDialog(temp, action);
    if (!action)
        return;
    // Several folders: the choice is added to the whole list, whatever was selected.
    std::string text = Text();
    if (MultipleDirs() && !text.empty())
        SetText(text.append(";").append(temp));
    else
        SetText(temp);
    if (DirExists(temp))
        SetInitialDir(temp);
}

// ---- Folder chooser ------------------------------------------------------------------------------

void TBrowseFolderDlg::SelectFolder(const std::string& Path)
{
    Folder = Path;
    FOkEnabled = !Path.empty() && (FAllowMissing || DirExists(Path));
    if (OnSelChanged)
        OnSelChanged(this);
}

TModalResult TBrowseFolderDlg::RunChooser()
{
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(FAllowMissing ? QFileDialog::AnyFile : QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setWindowTitle(QString::fromStdString(DialogText));
    dialog.setDirectory(QString::fromStdString(DirExists(Folder) ? Folder : std::string("/")));
    QObject::connect(&dialog, &QFileDialog::currentChanged, [this, &dialog](const QString& Path) {
        SafeCall([&] { SelectFolder(Path.toStdString()); });
        if (auto* box = dialog.findChild<QDialogButtonBox*>())
            if (QPushButton* ok = box->button(QDialogButtonBox::Open))
                ok->setEnabled(FOkEnabled);
    });
    if (HelpContext != 0)
        if (auto* box = dialog.findChild<QDialogButtonBox*>())
            box->addButton(QStringLiteral("&Help"), QDialogButtonBox::HelpRole);
    if (CenterOnScreen) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect area = screen->availableGeometry();
            QRect frame(QPoint(0, 0), dialog.sizeHint());
            frame.moveCenter(area.center());
            TRect r = Rect(frame.left(), frame.top(), frame.right() + 1, frame.bottom() + 1);
            FitRectToScreen(r, Rect(area.left(), area.top(), area.right() + 1, area.bottom() + 1));
            dialog.move(r.Left, r.Top);
        }
    }
    if (dialog.exec() != QDialog::Accepted)
        return mrCancel;
    const QStringList chosen = dialog.selectedFiles();
    SelectFolder(chosen.isEmpty() ? std::string() : chosen.front().toStdString());
    return mrOk;
}

bool TBrowseFolderDlg::Execute()
{
    // Browsing the network's computers has no counterpart here.
    if (BrowseKind == bfComputers)
        return false;
    SelectFolder(Folder);
    if (OnInitialized)
        OnInitialized(this);
    const TModalResult result = ShowModalForm(this, FormName, [this] { return RunChooser(); });
    if (result != mrOk || !FOkEnabled)
        return false;
    Folder = StripTrailingBackslash(Folder);
    DisplayName = LastPathElement(Folder);
    ImageIndex = -1;
    return true;
}

bool BrowseDirectory(std::string& Folder, const std::string& DialogText, int32_t HelpContext)
{
    TBrowseFolderDlg dialog;
    dialog.DialogText = DialogText;
    dialog.Folder = Folder;
    dialog.HelpContext = HelpContext;
    if (!dialog.Execute())
        return false;
    Folder = dialog.Folder;
    return true;
}

namespace {
const char* const SConfirmCreateDir = "The specified directory does not exist. Create it?";
const char* const SCannotCreateDir = "Unable to create directory";
} // namespace

bool SelectDirectory(std::string& Directory, TSelectDirOpts Options, int32_t HelpContext)
{
    TBrowseFolderDlg dialog;
    dialog.FormName = "SelectDirectory";
    dialog.Folder = Directory;
    dialog.HelpContext = HelpContext;
    dialog.SetAllowMissing(Options & sdAllowCreate);
    if (!dialog.Execute())
        return false;
    std::string chosen = dialog.Folder;
    if (!DirExists(chosen)) {
        if ((Options & sdPrompt) && MessageDlg(SConfirmCreateDir, mtConfirmation, mbYesNo, HelpContext) != mrYes)
            return false;
        if (Options & sdPerformCreate) {
            std::error_code ec;
            std::filesystem::create_directories(chosen, ec);
            if (ec || !DirExists(chosen))
                throw Exception(SCannotCreateDir);
        }
    }
    Directory = chosen;
    return true;
}

} // namespace kv
