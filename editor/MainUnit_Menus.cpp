// The main window's commands: the concern files' command tables built into one action
// per command, shared by the menu bar, the tool bars and the layer pop-up, and connected
// to its handler in one place; the enabling rule of each, recomputed on every change of
// the document or the selection; the zoom (combo box, wheel, Actual Size, Fit to
// Screen); the start panel and the Image section of the side panel.
#include "editor/MainUnit.h"

#include "editor/CommandTable.h"
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

#include <algorithm>
#include <cmath>

namespace kv {

struct TMainForm::TCommand {
    QAction* Action = nullptr;
    TCommandRow Row;
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

// Copies a menu's shape (its items, separators and sub-menus, in order) into another
// menu; Item adds the copy of one item. Whenever Root is about to show, so is every
// copied sub-menu, so that its items take their enabling.
void MirrorMenu(const QMenu* From, QMenu* To, QMenu* Root, const std::function<void(QMenu*, QAction*)>& Item)
{
    for (QAction* source : From->actions()) {
        if (source->isSeparator()) {
            To->addSeparator();
        } else if (const QMenu* sub = source->menu()) {
            QMenu* copy = To->addMenu(sub->title());
            MirrorMenu(sub, copy, Root, Item);
            QObject::connect(Root, &QMenu::aboutToShow, copy, [copy] { emit copy->aboutToShow(); });
        } else {
            Item(To, source);
        }
    }
}

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

std::vector<std::string> TMainForm::CommandNames() const
{
    std::vector<std::string> names;
    for (const auto& [name, cmd] : FCommands)
        names.push_back(name);
    return names;
}

bool TMainForm::BackgroundNotEmpty() const { return !ImgView->Bitmap()->IsEmpty(); }

void TMainForm::CreateCommands()
{
    for (auto table :
         {&TMainForm::FileCommands, &TMainForm::UndoCommands, &TMainForm::EditCommands, &TMainForm::DialogCommands,
          &TMainForm::EffectCommands, &TMainForm::LayerCommands, &TMainForm::ViewCommands, &TMainForm::StartupCommands})
        for (TCommandRow& row : (this->*table)())
            AddCommand(std::move(row));
    for (auto& [name, cmd] : FCommands)
        if (cmd->Row.Runs)
            cmd->Row.Handler = FCommands.at(cmd->Row.Runs)->Row.Handler;
    for (auto& [name, cmd] : FCommands)
        ConnectCommand(*cmd);
}

void TMainForm::AddCommand(TCommandRow Row)
{
    const std::string name = Row.Name;
    if (FCommands.count(name))
        throw Exception("The command " + name + " is in two tables");
    // The actions the document enables before the menus exist are made with the
    // controls; their commands take them over.
    const std::map<std::string, QAction*> premade = {{"N17", N17},   {"N18", N18},   {"N22", N22},    {"N47", N47},
                                                     {"Shar", Shar}, {"Soft", Soft}, {"Monoh", Monoh}};
    auto it = premade.find(name);
    QAction* a = it != premade.end() ? it->second : new QAction(this);
    a->setText(QString::fromUtf8(Row.Caption));
    if (*Row.Keys)
        a->setShortcut(QKeySequence(QString::fromUtf8(Row.Keys)));
    a->setObjectName(QString::fromUtf8(Row.Name));
    if (Row.Checkable == TCheckable::Yes)
        a->setCheckable(true);
    addAction(a); // shortcuts work with the menus closed
    auto cmd = std::make_shared<TCommand>();
    cmd->Action = a;
    cmd->Row = std::move(Row);
    FCommands[name] = std::move(cmd);
}

// The one way an action reaches its handler: inside SafeCall, so an escaping exception
// becomes the error box. A command without a handler stays disabled whoever enables it.
void TMainForm::ConnectCommand(TCommand& Cmd)
{
    QAction* a = Cmd.Action;
    if (!Cmd.Row.Handler) {
        a->setEnabled(false);
        QObject::connect(a, &QAction::changed, this, [a] {
            if (a->isEnabled())
                a->setEnabled(false);
        });
        return;
    }
    QObject::connect(a, &QAction::triggered, this, [this, &Cmd] {
        // The enabling may be stale (a shortcut after a change): handlers check their own
        // preconditions, and a disabled command never runs.
        if (Cmd.Action->isEnabled())
            SafeCall(Cmd.Row.Handler, this);
    });
}

std::vector<TCommandRow> TMainForm::ViewCommands()
{
    auto bgNotEmpty = [this] { return BackgroundNotEmpty(); };
    return {
        {"N1002",
         "Actual Size",
         "Ctrl+A",
         [this] { N1002Click(); },
         bgNotEmpty,
         {"ToolBar3", 2, QStyle::SP_TitleBarNormalButton}},
        {"N35",
         "Fit to Screen",
         "Ctrl+F",
         [this] { N35Click(); },
         bgNotEmpty,
         {"ToolBar3", 3, QStyle::SP_TitleBarMaxButton}},
    };
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
    QObject::connect(LayerPopup, &QMenu::aboutToShow, this,
                     [this] { SafeCall([this] { UpdateCommandEnabling(); }, this); });
    MirrorMenu(arrange, LayerPopup, LayerPopup, [this](QMenu* M, QAction* Source) {
        const TPopupPlace& place = FCommands.at(Source->objectName().toStdString())->Row.Popup;
        if (!place.Caption)
            return;
        QAction* a = M->addAction(QString::fromUtf8(place.Caption));
        a->setObjectName("Popup_" + Source->objectName());
        if (*place.Keys)
            a->setShortcut(QKeySequence(QString::fromUtf8(place.Keys)));
        QObject::connect(a, &QAction::triggered, Source, [Source] { Source->trigger(); });
        QObject::connect(M, &QMenu::aboutToShow, a, [Source, a] { a->setEnabled(Source->isEnabled()); });
    });

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

    // Each bar's buttons in the order of their slots; a glyph where the row names one.
    auto bar = [this, strip](const char* Name) {
        std::vector<const TCommand*> buttons;
        for (const auto& [name, cmd] : FCommands)
            if (cmd->Row.ToolButton.Bar && std::string(cmd->Row.ToolButton.Bar) == Name)
                buttons.push_back(cmd.get());
        std::sort(buttons.begin(), buttons.end(),
                  [](const TCommand* A, const TCommand* B) { return A->Row.ToolButton.Slot < B->Row.ToolButton.Slot; });
        auto* tb = new QToolBar(QString::fromUtf8(Name), this);
        tb->setObjectName(Name);
        tb->setMovable(false);
        tb->installEventFilter(strip);
        tb->setToolButtonStyle(Qt::ToolButtonIconOnly); // text where no glyph
        for (const TCommand* button : buttons) {
            if (button->Row.ToolButton.Glyph != QStyle::SP_CustomBase)
                button->Action->setIcon(style()->standardIcon(button->Row.ToolButton.Glyph));
            tb->addAction(button->Action);
        }
        addToolBar(Qt::TopToolBarArea, tb);
    };
    for (const char* name : {"ToolBar5", "ToolBar2", "ToolBar1", "ToolBar3"})
        bar(name);
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
    if (FEnablingHeld > 0) {
        FEnablingDue = true;
        return;
    }
    ++FEnablingRuns;
    for (auto& [name, cmd] : FCommands)
        cmd->Action->setEnabled(cmd->Row.Handler && (!cmd->Row.Rule || cmd->Row.Rule()));
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
