// The main window's frame: its controls, the view's wiring, the status bar, the editor
// background, the change event, and the layer reference the document keeps.
#include "editor/MainUnit.h"

#include "platform/Clipbrd.h"
#include "platform/Forms.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStatusBar>
#include <QVBoxLayout>

namespace kv {

namespace {

// A status-bar panel that draws its own sunken border inside its own rectangle, so the
// border is never cut by the window's edge whatever the style does with item frames; a
// text wider than the panel is shortened in the middle (the whole text is the tool tip).
class TStatusPanel : public QLabel {
public:
    TStatusPanel(const QString& Text, QWidget* Parent) : QLabel(Text, Parent)
    {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(1);
        setMargin(2);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        drawFrame(&painter);
        const QRect area = contentsRect().adjusted(margin(), 0, -margin(), 0);
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
    }
};

} // namespace

// ---- TLayerRef ----------------------------------------------------------------------

// A layer in no collection that only listens for its target's free notification.
class TLayerRef::TWatcher : public TCustomLayer {
public:
    explicit TWatcher(TLayerRef& Owner) : TCustomLayer(nullptr), FOwner(Owner) {}
    void Notification(TCustomLayer* ALayer) override { FOwner.Lost(ALayer); }
    std::string ClassName() const override { return "TLayerWatcher"; }

private:
    TLayerRef& FOwner;
};

TLayerRef::TLayerRef() : FWatcher(std::make_unique<TWatcher>(*this)) {}

TLayerRef::~TLayerRef()
{
    OnLost = nullptr;
    Set(nullptr);
}

void TLayerRef::Set(TCustomLayer* Value)
{
    if (Value == FTarget)
        return;
    if (FTarget)
        FTarget->RemoveNotification(FWatcher.get());
    FTarget = Value;
    if (FTarget)
        FTarget->AddNotification(FWatcher.get());
}

void TLayerRef::Lost(TCustomLayer* Layer)
{
    if (Layer != FTarget)
        return;
    FTarget = nullptr;
    if (OnLost)
        OnLost();
}

// ---- Glop ---------------------------------------------------------------------------

Glop::Glop() : Bitmap(std::make_unique<TBitmap32>()), FrameBitmap(std::make_unique<TBitmap32>()) {}

int32_t Glop::Index() const
{
    if (OnBackground)
        return BackgroundIndex;
    TCustomLayer* L = Layer.Get();
    return L && L->LayerCollection() ? L->Index() : -1;
}

void Glop::Clear()
{
    Kind = TUndoKind::None;
    Layer.Reset();
    OnBackground = false;
    Bitmap->SetSize(0, 0);
    FrameBitmap->SetSize(0, 0);
}

// ---- TMainForm ----------------------------------------------------------------------

TMainForm::TMainForm(QWidget* Parent)
    : QMainWindow(Parent), FAlphaScratch(std::make_unique<TBitmap32>()), FPreviewBackup(std::make_unique<TBitmap32>()),
      FScratch(std::make_unique<TBitmap32>())
{
    setWindowTitle("Kelvane");
    resize(805, 606);
    CreateControls();
    UndoSlot.Layer.OnLost = [this] { SlotLost(UndoSlot); };
    RedoSlot.Layer.OnLost = [this] { SlotLost(RedoSlot); };
    FSelectionRef.OnLost = [this] { SelectionLost(); };
    FRBLayerRef.OnLost = [] {};
    UpdateUndoRedoEnabling();
    CreateEditAndLayerTools();
}

TMainForm::~TMainForm()
{
    // The layers go with the view; forget them first so no handler runs on a
    // half-destroyed window.
    UndoSlot.Layer.OnLost = nullptr;
    RedoSlot.Layer.OnLost = nullptr;
    FSelectionRef.OnLost = nullptr;
    UndoSlot.Layer.Reset();
    RedoSlot.Layer.Reset();
    FSelectionRef.Reset();
    FRBLayerRef.Reset();
    if (ImgView) {
        ImgView->OnChange = nullptr;
        ImgView->OnMouseDown = nullptr;
        ImgView->OnPaintStage = nullptr;
        for (int32_t I = 0; I < ImgView->Layers()->Count(); ++I) {
            TCustomLayer* L = ImgView->Layers()->Items(I);
            L->OnPaint = nullptr;
            L->OnMouseDown = nullptr;
            if (auto* RB = dynamic_cast<TRubberbandLayer*>(L))
                RB->OnResizing = nullptr;
        }
    }
}

void TMainForm::CreateControls()
{
    auto* Central = new QWidget(this);
    auto* Layout = new QHBoxLayout(Central);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    setCentralWidget(Central);
    CreateView();
    Layout->addWidget(ImgView, 1);
    CreateSidePanel();
    // Several sections can show at once (the start panel and a layer's section while a
    // project loads): taller than the window, they scroll rather than grow the window.
    auto* SideScroll = new QScrollArea(Central);
    SideScroll->setObjectName("SideScroll");
    SideScroll->setFrameShape(QFrame::NoFrame);
    SideScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SideScroll->setWidgetResizable(true);
    SideScroll->setFixedWidth(171);
    SideScroll->setWidget(SidePanel);
    Layout->addWidget(SideScroll);
    CreateActions();

    StatusBar1 = new QStatusBar(this);
    setStatusBar(StatusBar1);
    // The panels carry their borders; the bar's own item frames would sit outside them.
    StatusBar1->setStyleSheet("QStatusBar::item { border: none; }");
    FStatusPanels[0] = new TStatusPanel("Use mouse wheel in order to zoom image", StatusBar1);
    FStatusPanels[0]->setFixedWidth(StatusPanel0Width);
    FStatusPanels[1] = new TStatusPanel(QString(), StatusBar1);
    StatusBar1->addWidget(FStatusPanels[0]);
    StatusBar1->addWidget(FStatusPanels[1], 1);
}

void TMainForm::CreateView()
{
    ImgView = new TImgView32(centralWidget());
    // A click on the view takes the keyboard focus (the view's mouse-down rule), so keys
    // such as Del reach the document rather than the zoom field.
    ImgView->SetTabStop(true);
    ImgView->OnChange = [this](TObject* Sender) { ImgViewChange(Sender); };
    ImgView->OnMouseDown = [this](TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y,
                                  TCustomLayer* Layer) {
        SafeCall([&] { ImgViewMouseDown(Sender, Button, Shift, X, Y, Layer); }, this);
    };
    ImgView->OnPaintStage = [this](TObject* Sender, TBitmap32* Buffer, uint32_t StageNum) {
        ImgViewPaintStage(Sender, Buffer, StageNum);
    };
    // The first stage (clear background) becomes a custom stage: the editor background.
    TPaintStages* Stages = ImgView->PaintStages();
    if (Stages->Count() > 0 && Stages->Items(0)->Stage == PST_CLEAR_BACKGND)
        Stages->Items(0)->Stage = PST_CUSTOM;
}

namespace {

QSlider* MakeSlider(QWidget* Parent, int Min, int Max, int Value)
{
    auto* S = new QSlider(Qt::Horizontal, Parent);
    S->setRange(Min, Max);
    S->setValue(Value);
    return S;
}

QGroupBox* MakeSection(QWidget* Parent, const char* Title)
{
    auto* G = new QGroupBox(QString::fromUtf8(Title), Parent);
    new QVBoxLayout(G);
    return G;
}

void AddRow(QGroupBox* Section, const char* Caption, QWidget* Control)
{
    auto* L = static_cast<QVBoxLayout*>(Section->layout());
    if (Caption)
        L->addWidget(new QLabel(QString::fromUtf8(Caption), Section));
    L->addWidget(Control);
}

} // namespace

void TMainForm::CreateSidePanel()
{
    SidePanel = new QWidget(centralWidget());
    auto* Column = new QVBoxLayout(SidePanel);

    pnlImage = MakeSection(SidePanel, "Image");
    pnlImage->hide();

    pnlBitmapLayer = MakeSection(SidePanel, "Current Layer");
    LayerOpacity = MakeSlider(pnlBitmapLayer, 0, 255, 255);
    AddRow(pnlBitmapLayer, "Opacity:", LayerOpacity);
    LayerInterpolate = new QCheckBox("Interpolation", pnlBitmapLayer);
    AddRow(pnlBitmapLayer, nullptr, LayerInterpolate);
    Cropped = new QCheckBox("Cropped", pnlBitmapLayer);
    AddRow(pnlBitmapLayer, nullptr, Cropped);
    Propos = new QCheckBox("Keep Proportions", pnlBitmapLayer);
    AddRow(pnlBitmapLayer, nullptr, Propos);
    LayerRescale = new QPushButton("Rescale", pnlBitmapLayer);
    AddRow(pnlBitmapLayer, nullptr, LayerRescale);
    LayerResetScale = new QPushButton("Actual Size", pnlBitmapLayer);
    AddRow(pnlBitmapLayer, nullptr, LayerResetScale);
    pnlBitmapLayer->hide();

    pnlMagn = MakeSection(SidePanel, "Magnifier (All) ");
    MagnOpacity = MakeSlider(pnlMagn, 0, 255, 255);
    AddRow(pnlMagn, "Opacity:", MagnOpacity);
    MagnMagnification = MakeSlider(pnlMagn, 0, 50, 10);
    AddRow(pnlMagn, "Zoom:", MagnMagnification);
    MagnRotation = MakeSlider(pnlMagn, -180, 180, 0);
    AddRow(pnlMagn, "Rotation:", MagnRotation);
    MagnInterpolate = new QCheckBox("Interpolation", pnlMagn);
    AddRow(pnlMagn, nullptr, MagnInterpolate);
    pnlMagn->hide();
    for (QSlider* S : {MagnOpacity, MagnMagnification, MagnRotation})
        QObject::connect(S, &QSlider::valueChanged, [this](int) { SafeCall([this] { MagnChange(); }, this); });
    QObject::connect(MagnInterpolate, &QCheckBox::toggled, [this](bool) { SafeCall([this] { MagnChange(); }, this); });

    Crops = MakeSection(SidePanel, "Crop Canvas");
    CropsP = new QComboBox(Crops);
    CropsP->addItems({"Free Crop", "Squar", "Golden Ratio", "Cinema 16:9"});
    CropsP->setCurrentIndex(0);
    AddRow(Crops, "Proportions:", CropsP);
    Obrat = new QCheckBox("Portrait", Crops);
    Obrat->setToolTip(QString::fromUtf8("Портретное соотношение"));
    AddRow(Crops, nullptr, Obrat);
    Crops->hide();

    for (QWidget* W : {static_cast<QWidget*>(pnlImage), static_cast<QWidget*>(pnlBitmapLayer),
                       static_cast<QWidget*>(pnlMagn), static_cast<QWidget*>(Crops)})
        Column->addWidget(W);
    Column->addStretch(1);
}

void TMainForm::CreateActions()
{
    auto Make = [this](const char* Caption) {
        auto* A = new QAction(QString::fromUtf8(Caption), this);
        addAction(A);
        return A;
    };
    N17 = Make("Undo");
    N17->setShortcut(QKeySequence("Ctrl+Z"));
    N18 = Make("Redo");
    N18->setShortcut(QKeySequence("Ctrl+Y"));
    N22 = Make("Paste");
    N47 = Make("Paste As New");
    Shar = Make("Sharpen");
    Soft = Make("Soften");
    Monoh = Make("Grayscale");
}

bool TMainForm::SectionShown(const QWidget* Section) const { return !Section->isHidden(); }

void TMainForm::HideLayerSections()
{
    pnlBitmapLayer->hide();
    pnlMagn->hide();
    Crops->hide();
}

std::string TMainForm::StatusText(int32_t Panel) const
{
    if (Panel < 0 || Panel > 1)
        return {};
    return FStatusPanels[Panel]->text().toStdString();
}

void TMainForm::SetStatusText(int32_t Panel, const std::string& Text)
{
    if (Panel < 0 || Panel > 1)
        return;
    FStatusPanels[Panel]->setText(QString::fromStdString(Text));
    FStatusPanels[Panel]->setToolTip(QString::fromStdString(Text));
}

int32_t TMainForm::LayerOpacityPosition() { return LayerOpacity->value(); }

// ---- Change event and editor background ---------------------------------------------

void TMainForm::ImgViewChange(TObject* Sender)
{
    ModifiedState = msChanged;
    UpdateUndoRedoEnabling();
    const bool HasBitmap = Clipboard()->HasFormat(CF_BITMAP);
    N22->setEnabled(HasBitmap && !ImgView->Bitmap()->IsEmpty());
    N47->setEnabled(HasBitmap);
    if (!Selection()) {
        Shar->setEnabled(true);
        Soft->setEnabled(true);
        Monoh->setEnabled(true);
    }
}

void TMainForm::ImgViewPaintStage(TObject* Sender, TBitmap32* Buffer, uint32_t StageNum)
{
    if (!Buffer || Buffer->IsEmpty())
        return;
    if (!ChessBackground) {
        Buffer->ClearTo(WinColorToColor32(EditorBackgroundColor));
        return;
    }
    // 8 x 8 squares, grey where bit 3 of x equals bit 3 of y (the top-left square).
    const TColor32 Grey = 0x1FB0B0B0, White = 0xFFFFFFFF;
    for (int32_t Y = 0; Y < Buffer->Height(); ++Y) {
        TColor32* Row = Buffer->RowAddress(Y);
        const int32_t YBit = Y & 8;
        for (int32_t X = 0; X < Buffer->Width(); ++X)
            Row[X] = ((X & 8) != YBit) ? White : Grey;
    }
}

void TMainForm::MagnChange()
{
    ImgView->Invalidate();
    ModifiedState = msChanged;
}

void TMainForm::UpdateUndoRedoEnabling()
{
    N17->setEnabled(!UndoSlot.Empty());
    N18->setEnabled(!RedoSlot.Empty());
}

} // namespace kv
