// The main window's commands: one action per command, shared by the menu bar, the tool
// bars and the layer pop-up; the enabling rule of each, recomputed on every change of
// the document or the selection; the zoom (combo box, wheel, Actual Size, Fit to
// Screen); the start panel and the Image section of the side panel.
#include "editor/MainUnit.h"

#include "platform/Forms.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>

namespace kv {

struct TMainForm::TCommand {
    QAction* Action = nullptr;
    // Null while the command's window or routine is not part of the program yet: the
    // command is shown and stays disabled, so nothing pretends to work.
    std::function<void()> Handler;
    std::function<bool()> Rule; // null: always enabled
};

namespace {

// Catches a press on the tool-bar strip itself (not on its buttons).
class TClickFilter : public QObject {
public:
    TClickFilter(QObject* Parent, std::function<void()> OnClick) : QObject(Parent), FOnClick(std::move(OnClick)) {}

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() == QEvent::MouseButtonPress)
            FOnClick();
        return QObject::eventFilter(Watched, Event);
    }

private:
    std::function<void()> FOnClick;
};

// The main window's shortcuts win over a text field of the window, as menu shortcuts do
// on the desktop this editor comes from: Ctrl+Z in the zoom field undoes the last change
// of the picture, not the last edit of the field. Keys without Ctrl or Alt (Del,
// Backspace, letters) stay with the field.
class TMenuKeysFirst : public QObject {
public:
    explicit TMenuKeysFirst(QWidget* Window) : QObject(Window), FWindow(Window) {}

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() != QEvent::ShortcutOverride)
            return QObject::eventFilter(Watched, Event);
        auto* key = static_cast<QKeyEvent*>(Event);
        if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        const QKeySequence pressed(key->keyCombination());
        for (QAction* a : FWindow->actions())
            if (a->isEnabled() && a->shortcut() == pressed)
                return true; // left unaccepted: the shortcut runs
        return false;
    }

private:
    QWidget* FWindow;
};

// Rounds halves to the even neighbour (the default rounding mode).
int32_t RoundEven(double Value) { return int32_t(std::nearbyint(Value)); }

} // namespace

QAction* TMainForm::Command(const std::string& Name) const
{
    auto it = FCommands.find(Name);
    return it == FCommands.end() ? nullptr : it->second->Action;
}

QMenu* TMainForm::Menu(const std::string& Name) const
{
    auto it = FMenus.find(Name);
    return it == FMenus.end() ? nullptr : it->second;
}

void TMainForm::CreateCommands()
{
    auto bgNotEmpty = [this] { return !ImgView->Bitmap()->IsEmpty(); };
    auto pictureSelected = [this] { return dynamic_cast<TBitmapLayer*>(Selection()) != nullptr; };
    auto pictureOrNone = [this, bgNotEmpty] {
        return bgNotEmpty() && (!Selection() || dynamic_cast<TBitmapLayer*>(Selection()));
    };
    auto contentLayers = [this] {
        int32_t n = 0;
        for (int32_t i = 0; i < ImgView->Layers()->Count(); ++i)
            if (ImgView->Layers()->Items(i) != RBLayer())
                ++n;
        return n;
    };

    auto add = [this](const std::string& Name, const char* Caption, const char* Keys, std::function<void()> Handler,
                      std::function<bool()> Rule, QAction* Existing = nullptr) {
        auto cmd = std::make_shared<TCommand>();
        QAction* a = Existing ? Existing : new QAction(QString::fromUtf8(Caption), this);
        if (Existing)
            a->setText(QString::fromUtf8(Caption));
        if (Keys && *Keys)
            a->setShortcut(QKeySequence(QString::fromUtf8(Keys)));
        a->setObjectName(QString::fromStdString(Name));
        addAction(a); // shortcuts work with the menus closed
        cmd->Action = a;
        cmd->Handler = std::move(Handler);
        cmd->Rule = std::move(Rule);
        if (cmd->Handler && !Existing) {
            TCommand* raw = cmd.get();
            QObject::connect(a, &QAction::triggered, this, [this, raw] {
                // The enabling may be stale (a shortcut after a change): handlers check
                // their own preconditions, and a disabled command never runs.
                if (raw->Action->isEnabled())
                    SafeCall(raw->Handler, this);
            });
        }
        FCommands[Name] = std::move(cmd);
    };
    auto pending = std::function<void()>();

    // File
    add("mnFileNew", "New", "Ctrl+N", [this] { mnFileNewClick(); }, [this] { return NewImageForm != nullptr; });
    add("mnFileOpen", "Open", "Ctrl+O", [this] { mnFileOpenClick(); }, nullptr);
    add("Save1", "Save", "Ctrl+S", [this] { Save1Click(); }, [this, bgNotEmpty] { return FSaveAllowed && bgNotEmpty(); });
    add("N3", "Save As...", "", [this] { N3Click(); }, [this, bgNotEmpty] { return FSaveAsAllowed && bgNotEmpty(); });
    add("N62", "Printer Setup", "", [this] { N62Click(); }, nullptr);
    add("N70", "Print", "Ctrl+P", pending, bgNotEmpty);
    add("N5", "Exit", "F10", [this] { N5Click(); }, nullptr);
    // Edit
    add("N17", "Undo", "Ctrl+Z", [this] { N17Click(); }, [this] { return !UndoSlot.Empty(); }, N17);
    add("N18", "Redo", "Ctrl+Y", [this] { N18Click(); }, [this] { return !RedoSlot.Empty(); }, N18);
    add("N20", "Cut", "Ctrl+X", pending, nullptr);
    add("N21", "Copy", "Ctrl+C", pending, nullptr);
    add("N22", "Paste", "Ctrl+V", pending, bgNotEmpty, N22);
    add("N71", "Select", "", pending, nullptr);
    add("N98", "Select All", "", pending, nullptr);
    add("N47", "Paste As New", "", pending, nullptr, N47);
    // Image
    add("N33", "Add Text", "", pending, bgNotEmpty);
    add("N38", "Brightness / Contrast", "", pending, pictureOrNone);
    add("N39", "Color Balance", "", pending, pictureOrNone);
    add("N37", "Image Size", "", pending, bgNotEmpty);
    add("N11", "Canvas Size", "", pending, bgNotEmpty);
    add("N114", "Crop Canvas", "", pending, bgNotEmpty);
    add("N72", "Count Image Colors", "", [this] { N72Click(); }, bgNotEmpty);
    add("N34", "Full Screen Preview", "", [this] { N34Click(); }, [this, bgNotEmpty] { return Full && bgNotEmpty(); });
    // Background
    for (auto [name, caption] : {std::pair{"Maskos", "Rotate Clockwise 90"}, {"N903", "Rotate Counterclockwise 90"},
                                 {"N1801", "Rotate 180"}, {"N106", "Horizontal (Mirror)"}, {"N105", "Vertical"},
                                 {"N63", "Copy to Layer"}, {"N122", "Add Borders"}, {"N123", "Relief Borders"}})
        add(name, caption, "", pending, bgNotEmpty);
    add("N120", "Load From File", "", [this] { N120Click(); }, nullptr);
    add("N115", "Load form Texture", "", [this] { N115Click(); }, bgNotEmpty);
    add("N112", "Fill With Color", "", [this] { N112Click(); }, bgNotEmpty);
    // Filters
    for (auto [name, caption] :
         {std::pair{"N74", "Sharpen"}, {"N78", "Sharpness..."}, {"N75", "Soften"}, {"N76", "Softness..."},
          {"N81", "Color Noise"}, {"N82", "Mono Noise"}, {"N77", "Grayscale"}, {"N49", "Colorize"}, {"N111", "Sepia"},
          {"N50", "Spray"}, {"N51", "Posterize"}, {"N86", "Wave"}, {"N85", "Mosaic"}, {"N87", "Emboss"},
          {"N91", "Wide"}, {"N92", "Medium"}, {"N93", "Narrow"}, {"N84", "Invert Colors"}, {"N124", "Geometry"}})
        add(name, caption, "", pending, pictureOrNone);
    // The tool buttons Sharpen, Soften and Grayscale run the menu items.
    add("Shar", "Sharpen", "", FCommands["N74"]->Handler, pictureOrNone, Shar);
    add("Soft", "Soften", "", FCommands["N75"]->Handler, pictureOrNone, Soft);
    add("Monoh", "Grayscale", "", FCommands["N77"]->Handler, pictureOrNone, Monoh);
    // Layers
    add("mnNewBitmapLayer", "New Layer From File", "Ctrl+L", pending, bgNotEmpty);
    add("N61", "New Simple Layer", "", pending, bgNotEmpty);
    add("N42", "New Frame", "Ctrl+B", pending, bgNotEmpty);
    add("mnMagnifier", "Add Magnifier", "Ctrl+M", pending, bgNotEmpty);
    add("mnFlatten", "Flatten Layers", "F5", pending, [bgNotEmpty, contentLayers] { return bgNotEmpty() && contentLayers() > 0; });
    // Current Layer
    for (auto [name, caption] :
         {std::pair{"mnBringFront", "Bring to Front"}, {"mnSendBack", "Bring to Back"}, {"mnLevelUp", "Up One Level"},
          {"mnLevelDown", "Down One Level"}, {"N901", "Clockwise 90"}, {"N902", "Counterclockwise 90"},
          {"N13", "Rotate..."}, {"N53", "Horizintal (Mirror)"}, {"N24", "Vertical"}, {"N107", "Add Borders"},
          {"N7", "Relief Borders"}, {"N23", "Transparent Color"}, {"N69", "Mask"}, {"N54", "Crop Layer"}})
        add(name, caption, "", pending, pictureSelected);
    add("N88", "Duplicate", "Ctrl+D", pending, pictureSelected);
    add("mnDelete", "Delete", "Del", pending, [this] { return Selection() != nullptr; });
    int32_t tag = 1;
    for (const char* name : {"mnBringFront", "mnSendBack", "mnLevelUp", "mnLevelDown"})
        Command(name)->setData(tag++); // mnReorder reads the item's Tag
    // View
    add("N1002", "Actual Size", "Ctrl+A", [this] { N1002Click(); }, bgNotEmpty);
    add("N35", "Fit to Screen", "Ctrl+F", [this] { N35Click(); }, bgNotEmpty);
    add("N102", "Select Color", "", [this] { N102Click(); }, nullptr);
    add("N103", "White - Gray", "", [this] { N103Click(); }, nullptr);
    Command("N103")->setCheckable(true);
    // Help
    add("N26", "Help", "F1", [this] { N26Click(); }, nullptr);
    add("N96", "Download Textures", "", [this] { N96Click(); }, nullptr);
    add("N97", "Technical Support", "", [this] { N97Click(); }, nullptr);
    add("N28", "On the Web", "", [this] { N28Click(); }, nullptr);
    add("N30", "About", "", [this] { N30Click(); }, [this] { return AboutKVN != nullptr; });

    // K11's actions carry no handler connection of their own for these; run them here.
    for (const char* name : {"N17", "N18"}) {
        TCommand* raw = FCommands[name].get();
        QObject::disconnect(raw->Action, &QAction::triggered, nullptr, nullptr);
        QObject::connect(raw->Action, &QAction::triggered, this, [this, raw] {
            if (raw->Action->isEnabled())
                SafeCall(raw->Handler, this);
        });
    }
    // Edit, clipboard and layer tools (MainUnit_Edit.cpp, MainUnit_LayerTools.cpp).
    for (TEditCommand& edit : EditAndLayerCommands()) {
        auto it = FCommands.find(edit.Name);
        if (it == FCommands.end())
            continue;
        TCommand* raw = it->second.get();
        raw->Handler = std::move(edit.Handler);
        if (edit.Rule)
            raw->Rule = std::move(edit.Rule);
        QObject::disconnect(raw->Action, &QAction::triggered, nullptr, nullptr);
        QObject::connect(raw->Action, &QAction::triggered, this, [this, raw] {
            if (raw->Action->isEnabled())
                SafeCall(raw->Handler, this);
        });
    }
    // A pending command stays disabled whoever enables it.
    for (auto& [name, cmd] : FCommands)
        if (!cmd->Handler) {
            QAction* a = cmd->Action;
            a->setEnabled(false);
            QObject::connect(a, &QAction::changed, this, [a] {
                if (a->isEnabled())
                    a->setEnabled(false);
            });
        }
}

void TMainForm::CreateMenus()
{
    QMenuBar* bar = menuBar();
    auto menu = [this](QMenu* Parent, QMenuBar* Bar, const std::string& Name, const char* Caption) {
        QMenu* m = Parent ? Parent->addMenu(QString::fromUtf8(Caption)) : Bar->addMenu(QString::fromUtf8(Caption));
        m->setObjectName(QString::fromStdString(Name));
        FMenus[Name] = m;
        QObject::connect(m, &QMenu::aboutToShow, this, [this] { SafeCall([this] { UpdateCommandEnabling(); }, this); });
        return m;
    };
    auto items = [this](QMenu* M, std::initializer_list<const char*> Names) {
        for (const char* n : Names) {
            if (std::string(n) == "-")
                M->addSeparator();
            else
                M->addAction(Command(n));
        }
    };

    QMenu* file = menu(nullptr, bar, "File", "File");
    items(file, {"mnFileNew", "mnFileOpen", "Save1", "N3", "-"});
    N14 = menu(file, nullptr, "N14", "Recent Files");
    QObject::connect(N14, &QMenu::aboutToShow, this, [this] { N14Click(); });
    items(file, {"-", "N62", "N70", "-", "N5"});

    QMenu* edit = menu(nullptr, bar, "N16", "Edit");
    items(edit, {"N17", "N18", "-", "N20", "N21", "N22", "-", "N71", "N98", "-", "N47"});

    QMenu* image = menu(nullptr, bar, "N8", "Image");
    items(image, {"N33", "-", "N38", "N39", "-", "N37", "N11", "N114", "-", "N72", "N34"});

    QMenu* background = menu(nullptr, bar, "Background", "Background");
    items(background, {"Maskos", "N903", "N1801"});
    items(menu(background, nullptr, "BackgroundFlip", "Flip"), {"N106", "N105"});
    items(background, {"-", "N120", "N115", "N112", "-", "N63", "-", "N122", "N123"});

    QMenu* filters = menu(nullptr, bar, "N40", "Filters");
    items(menu(filters, nullptr, "Sharpness", "Sharpness"), {"N74", "N78"});
    items(menu(filters, nullptr, "Softness", "Softness"), {"N75", "N76"});
    items(menu(filters, nullptr, "AddNoise", "Add Noise"), {"N81", "N82"});
    items(filters, {"N77", "N49", "N111", "-"});
    QMenu* effects = menu(filters, nullptr, "Effects", "Effects");
    items(effects, {"N50", "N51", "N86", "N85", "N87"});
    items(menu(effects, nullptr, "RippleTooth", "Ripple Tooth"), {"N91", "N92", "N93"});
    items(filters, {"N84", "-", "N124"});

    QMenu* layers = menu(nullptr, bar, "mnLayers", "Layers");
    items(layers, {"mnNewBitmapLayer", "N61", "N42", "mnMagnifier", "-", "mnFlatten"});

    QMenu* arrange = menu(nullptr, bar, "mnArrange", "Current Layer");
    items(arrange, {"mnBringFront", "mnSendBack", "mnLevelUp", "mnLevelDown", "-"});
    items(menu(arrange, nullptr, "LayerRotate", "Rotate"), {"N901", "N902", "N13"});
    items(menu(arrange, nullptr, "LayerFlip", "Flip"), {"N53", "N24"});
    items(menu(arrange, nullptr, "LayerBorders", "Borders"), {"N107", "N7"});
    items(arrange, {"N23", "N69", "N54", "-", "N88", "mnDelete"});

    QMenu* view = menu(nullptr, bar, "View", "View");
    items(view, {"N1002", "N35", "-"});
    items(menu(view, nullptr, "EditorBackground", "Editor Background"), {"N102", "N103"});

    QMenu* help = menu(nullptr, bar, "Help", "Help");
    items(help, {"N26", "-", "N96", "N97", "N28", "-", "N30"});

    // The layer pop-up repeats Current Layer with captions of its own.
    LayerPopup = new QMenu(this);
    LayerPopup->setObjectName("LayerPopup");
    auto popupItem = [this](QMenu* M, const char* Name, const char* Caption) {
        QAction* source = Command(Name);
        QAction* a = M->addAction(QString::fromUtf8(Caption));
        a->setObjectName(QString("Popup_") + Name);
        if (std::string(Name) == "mnDelete")
            a->setShortcut(QKeySequence(Qt::Key_Delete));
        QObject::connect(a, &QAction::triggered, source, [source] { source->trigger(); });
        QObject::connect(M, &QMenu::aboutToShow, a, [source, a] { a->setEnabled(source->isEnabled()); });
    };
    QObject::connect(LayerPopup, &QMenu::aboutToShow, this, [this] { SafeCall([this] { UpdateCommandEnabling(); }, this); });
    popupItem(LayerPopup, "mnBringFront", "Bring to Front");
    popupItem(LayerPopup, "mnSendBack", "Send to Back");
    popupItem(LayerPopup, "mnLevelUp", "Up One Layer");
    popupItem(LayerPopup, "mnLevelDown", "Down One Layer");
    LayerPopup->addSeparator();
    QMenu* pr = LayerPopup->addMenu("Rotate");
    popupItem(pr, "N901", "Clockwise 90");
    popupItem(pr, "N902", "Counterclockwise 90");
    popupItem(pr, "N13", "Rotate...");
    QMenu* pf = LayerPopup->addMenu("Flip");
    popupItem(pf, "N53", "Horizintal (Mirror)");
    popupItem(pf, "N24", "Vertical");
    QMenu* pb = LayerPopup->addMenu("Borders");
    popupItem(pb, "N107", "Add Borders");
    popupItem(pb, "N7", "Relief Borders");
    for (QMenu* sub : {pr, pf, pb})
        QObject::connect(LayerPopup, &QMenu::aboutToShow, sub, [sub] { emit sub->aboutToShow(); });
    popupItem(LayerPopup, "N23", "Transparent Color");
    popupItem(LayerPopup, "N69", "Mask");
    popupItem(LayerPopup, "N54", "Crop Layer");
    LayerPopup->addSeparator();
    popupItem(LayerPopup, "N88", "Duplicate");
    popupItem(LayerPopup, "mnDelete", "Delete");

    ImgView->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(ImgView, &QWidget::customContextMenuRequested, this, [this](const QPoint& P) {
        if (ImgViewContextPopup())
            LayerPopup->popup(ImgView->mapToGlobal(P));
    });
}

void TMainForm::CreateToolBars()
{
    // The strip of the four tool bars (the window's tool-bar area); a click on a bar
    // itself, not on a button, counts as a change.
    auto* strip = new TClickFilter(this, [this] { SafeCall([this] { ControlBar1Click(); }, this); });
    strip->setObjectName("ControlBar1");

    QStyle* st = style();
    auto glyph = [st](const char* Name, QStyle::StandardPixmap P) { return std::pair{Name, st->standardIcon(P)}; };
    const std::map<std::string, QIcon> icons = {
        glyph("mnFileNew", QStyle::SP_FileIcon),        glyph("mnFileOpen", QStyle::SP_DialogOpenButton),
        glyph("Save1", QStyle::SP_DialogSaveButton),    glyph("N17", QStyle::SP_ArrowBack),
        glyph("N18", QStyle::SP_ArrowForward),          glyph("N26", QStyle::SP_DialogHelpButton),
        glyph("mnNewBitmapLayer", QStyle::SP_FileDialogNewFolder), glyph("N1002", QStyle::SP_TitleBarNormalButton),
        glyph("N35", QStyle::SP_TitleBarMaxButton),     glyph("N20", QStyle::SP_DialogDiscardButton),
    };
    auto bar = [&](const char* Name, std::initializer_list<const char*> Names) {
        auto* tb = new QToolBar(QString::fromUtf8(Name), this);
        tb->setObjectName(Name);
        tb->setMovable(false);
        tb->installEventFilter(strip);
        tb->setToolButtonStyle(Qt::ToolButtonIconOnly); // text where no glyph
        for (const char* n : Names) {
            QAction* a = Command(n);
            auto it = icons.find(n);
            if (it != icons.end())
                a->setIcon(it->second);
            tb->addAction(a);
        }
        addToolBar(Qt::TopToolBarArea, tb);
        return tb;
    };
    bar("ToolBar5", {"mnFileNew", "mnFileOpen", "Save1", "N70"});
    bar("ToolBar2", {"N17", "N18", "N71", "N20", "N21", "N22"});
    bar("ToolBar1", {"N33", "N37", "N114", "N38", "N39", "Shar", "Soft", "Monoh", "N34"});
    bar("ToolBar3", {"mnNewBitmapLayer", "mnFlatten", "N1002", "N35", "N26"});
}

void TMainForm::CreateStartPanel()
{
    Start = new QGroupBox("Start Panel", SidePanel);
    Start->setObjectName("Start");
    auto* column = new QVBoxLayout(Start);
    auto link = [this](const QString& Caption, const char* Name) {
        auto* b = new QPushButton(Caption, Start);
        b->setObjectName(Name);
        b->setFlat(true);
        b->setStyleSheet("text-align: left; color: palette(link);");
        b->setCursor(Qt::PointingHandCursor);
        // Links, not buttons: they never hold the keyboard focus, which would otherwise
        // pass to the zoom field when the start panel hides after an open.
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    column->addWidget(new QLabel("Create", Start));
    Label11 = link("New Project", "Label11");
    column->addWidget(Label11);
    column->addWidget(new QLabel("Open File", Start));
    for (int32_t i = 0; i < 4; ++i) {
        Lab[i] = link(RecentEmptyCaption, ("Lab" + std::to_string(i + 1)).c_str());
        column->addWidget(Lab[i]);
        QObject::connect(Lab[i], &QPushButton::clicked, this, [this, i] {
            if (i < Recent.Count() && !Recent.IsPlaceholder(i))
                SafeCall([this, i] { OpenRecentItem(i); }, this);
        });
    }
    Label9 = link("Another File ....", "Label9");
    column->addWidget(Label9);
    QObject::connect(Label11, &QPushButton::clicked, this, [this] { Command("mnFileNew")->trigger(); });
    QObject::connect(Label9, &QPushButton::clicked, this, [this] { Command("mnFileOpen")->trigger(); });
    static_cast<QVBoxLayout*>(SidePanel->layout())->insertWidget(0, Start);
}

void TMainForm::CreateImageSection()
{
    auto* column = static_cast<QVBoxLayout*>(pnlImage->layout());
    column->addWidget(new QLabel("Zoom:", pnlImage));
    ScaleCombo = new QComboBox(pnlImage);
    ScaleCombo->setObjectName("ScaleCombo");
    ScaleCombo->setEditable(true);
    ScaleCombo->setInsertPolicy(QComboBox::NoInsert);
    ScaleCombo->addItems({"25%", "50%", "75%", "100%", "200%", "300%", "400%", "800%", "1600%"});
    ScaleCombo->setEditText("100%");
    // The combo box hands the key to its field again, so both are watched.
    auto* menuKeysFirst = new TMenuKeysFirst(this);
    ScaleCombo->installEventFilter(menuKeysFirst);
    ScaleCombo->lineEdit()->installEventFilter(menuKeysFirst);
    column->addWidget(ScaleCombo);
    // Only the user's edits zoom; the code writes the text under a signal blocker.
    QObject::connect(ScaleCombo->lineEdit(), &QLineEdit::textEdited, this,
                     [this](const QString&) { SafeCall([this] { ScaleComboChange(); }, this); });
    QObject::connect(ScaleCombo, &QComboBox::activated, this,
                     [this](int) { SafeCall([this] { ScaleComboChange(); }, this); });
    ImageInterpolate = new QCheckBox("Interpolation", pnlImage);
    ImageInterpolate->setObjectName("ImageInterpolate");
    column->addWidget(ImageInterpolate);
    QObject::connect(ImageInterpolate, &QCheckBox::clicked, this,
                     [this] { SafeCall([this] { ImageInterpolateClick(); }, this); });

    ImgView->OnMouseWheel = [this](TObject*, TShiftState, int32_t WheelDelta, TPoint, bool& Handled) {
        Handled = true;
        SafeCall([this, WheelDelta] { ImgViewMouseWheel(WheelDelta); }, this);
    };
}

// ---- Enabling ----------------------------------------------------------------------

void TMainForm::UpdateCommandEnabling()
{
    for (auto& [name, cmd] : FCommands)
        cmd->Action->setEnabled(cmd->Handler && (!cmd->Rule || cmd->Rule()));
}

// ---- Zoom --------------------------------------------------------------------------

void TMainForm::SetScaleText(float Scale)
{
    QSignalBlocker block(ScaleCombo);
    QString text = QString::number(RoundEven(double(Scale) * 100)) + "%";
    ScaleCombo->setEditText(text);
    ScaleCombo->lineEdit()->setCursorPosition(int(text.size()) - 1);
}

void TMainForm::ScaleComboChange()
{
    QString text = ScaleCombo->currentText();
    if (text.isEmpty())
        return;
    const int32_t saved = ModifiedState;
    std::string digits;
    for (QChar c : text)
        if (c != '%' && c != ' ')
            digits += char(c.unicode() < 128 ? c.toLatin1() : '?');
    int32_t value = StrToIntDef(digits, -1);
    if (value >= 1 && value <= 2000)
        ImgView->SetScale(float(value) / 100.0f);
    else
        value = RoundEven(double(ImgView->Scale()) * 100);
    QSignalBlocker block(ScaleCombo);
    QString shown = QString::number(value) + "%";
    ScaleCombo->setEditText(shown);
    ScaleCombo->lineEdit()->setCursorPosition(int(shown.size()) - 1);
    ModifiedState = saved;
}

void TMainForm::ImgViewMouseWheel(int32_t WheelDelta)
{
    if (WheelDelta == 0)
        return;
    const int32_t saved = ModifiedState;
    double s = ImgView->Scale();
    if (WheelDelta > 0)
        s = std::max(s / 1.1, 0.2);
    else
        s = std::min(s * 1.1, 20.0);
    ImgView->SetScale(float(s));
    SetScaleText(ImgView->Scale());
    ModifiedState = saved;
}

void TMainForm::N1002Click()
{
    const int32_t saved = ModifiedState;
    ImgView->SetScale(1.0f);
    SetScaleText(1.0f);
    ModifiedState = saved;
}

void TMainForm::N35Click()
{
    const TBitmap32* bg = ImgView->Bitmap();
    const double w = bg->Width(), h = bg->Height();
    const double cw = ImgView->Width(), ch = ImgView->Height();
    // Nothing to fit, or nowhere to fit it: a scale of infinity or NaN helps nobody.
    if (w <= 0 || h <= 0 || cw <= 0 || ch <= 0)
        return;
    const int32_t saved = ModifiedState;
    double s = (w / h >= cw / ch) ? cw / w : ch / h;
    s = s / 1.1;
    ImgView->SetScale(float(s));
    SetScaleText(ImgView->Scale());
    ModifiedState = saved;
}

void TMainForm::ImageInterpolateClick()
{
    ImgView->Bitmap()->SetStretchFilter(ImageInterpolate->isChecked() ? sfLinear : sfNearest);
}

// ---- View events -------------------------------------------------------------------

bool TMainForm::ImgViewContextPopup() { return Selection() != nullptr; }

void TMainForm::ImgViewKeyDown(int32_t Key)
{
    if (Key == 46 && Selection())
        if (QAction* del = Command("mnDelete"); del && del->isEnabled())
            del->trigger();
}

void TMainForm::ControlBar1Click() { ModifiedState = msChanged; }

} // namespace kv
