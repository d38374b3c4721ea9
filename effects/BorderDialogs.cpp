#include "effects/BorderDialogs.h"

#include "effects/DialogParts.h"
#include "effects/EffectFrame.h"
#include "effects/GeometryDialogs.h"
#include "effects/MainWindowFace.h"
#include "fx/GeometryRoutines.h"
#include "platform/Classes.h"
#include "platform/Forms.h"
#include "raster/Raster32_Filters.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"
#include "widgets/ThumbNail.h"
#include "widgets/Thumbview.h"
#include "widgets/ToolEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>

namespace kv {

namespace {

QSpinBox* SpinRow(QGridLayout* Grid, int32_t Row, const char* Caption, int32_t Min, int32_t Max, int32_t Value)
{
    auto* spin = new QSpinBox;
    spin->setRange(Min, Max);
    spin->setValue(Value);
    Grid->addWidget(new QLabel(Caption), Row, 0);
    Grid->addWidget(spin, Row, 1);
    return spin;
}

// Target's pixels := Source's, exactly; Target keeps its own settings.
void CopyPixels(const TBitmap32& Source, TBitmap32& Target)
{
    TBitmap32 copy;
    CopyPixelsExactly(Source, copy);
    ReplacePixels(Target, copy);
    Target.Changed();
}

QIcon IconOf(const TBitmap32& Tile)
{
    // The tile drawn at double size into a 16 x 16 icon, as the list shows patterns.
    TBitmap32 icon;
    icon.SetSize(16, 16);
    if (!Tile.IsEmpty()) {
        TBitmap32 t;
        t.Assign(const_cast<TBitmap32*>(&Tile));
        t.SetDrawMode(dmOpaque);
        t.DrawOntoRect(&icon, TRect{0, 0, 2 * Tile.Width() - 1, 2 * Tile.Height() - 1});
    }
    QImage image(reinterpret_cast<const uchar*>(icon.Bits()), 16, 16, QImage::Format_ARGB32);
    return QIcon(QPixmap::fromImage(image.copy()));
}

} // namespace

bool LoadDecoration(const std::string& FileName, TBitmap32& Dest)
{
    try {
        if (std::filesystem::is_regular_file(FileName)) {
            Dest.LoadFromFile(FileName);
            return !Dest.IsEmpty();
        }
    } catch (const std::exception&) {
    }
    Dest.SetSize(0, 0);
    Dest.Changed();
    return false;
}

std::string DecorationFile(const std::string& Name) { return (std::filesystem::path(DataDir()) / Name).string(); }

// ---- TBorder --------------------------------------------------------------------------------

namespace {

const char* const ShapeMasks[] = {"Frames/mask_grad.jpg", "Frames/mask_blur.gif", "Frames/mask_spray.gif",
                                  "Frames/mask_heart2.gif", "Frames/mask_heart.gif"};

} // namespace

TBorder::TBorder(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("TBorder", Owner), MainForm(MainWindow)
{
    SetCaption("Add Frame");
    SetDialogBorder();
    auto* box = new QGroupBox("Settings", this);
    Image1 = new TImage32(box);
    Image1->setFixedSize(160, 120);
    Image1->SetScaleMode(smStretch);
    Image1->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer*) {
        Image1Click();
    };
    Up = new QToolButton(box);
    Up->setArrowType(Qt::UpArrow);
    Down = new QToolButton(box);
    Down->setArrowType(Qt::DownArrow);
    Mask = new TImgView32(box);
    Mask->setFixedSize(120, 120);
    Mask->SetScaleMode(smStretch);
    ForLay = new QCheckBox("Frame Current Layer", box);
    ForLay->setChecked(true);
    CheckBox2 = new QCheckBox("Use Interpolation", box);
    CheckBox2->setChecked(true);
    SpeedButton1 = new QToolButton(box);
    SpeedButton1->setText("Fit");
    SpeedButton1->setToolTip("Resize the frame picture to the picture it will frame");
    ComboBox1 = new QComboBox(box);
    ComboBox1->addItems({"Прямоугольная", "Овальная с мягким переходом", "Овальная с размытием",
                         "Овальная с напылением", "В форме сердца", "В форме двух сердец"});
    ComboBox1->hide();
    auto* g = new QGridLayout(box);
    g->addWidget(Image1, 0, 0, 3, 1);
    g->addWidget(Up, 0, 1);
    g->addWidget(Down, 1, 1);
    g->addWidget(SpeedButton1, 2, 1);
    g->addWidget(Mask, 0, 2, 3, 1);
    g->addWidget(ForLay, 3, 0, 1, 3);
    g->addWidget(CheckBox2, 4, 0, 1, 3);
    g->addWidget(ComboBox1, 5, 0, 1, 3);
    auto* main = new QVBoxLayout(this);
    main->addWidget(box);
    main->addLayout(ButtonRow({AddButton("OK", mrOk), AddButton("Cancel", mrCancel)}));
    connect(Up, &QToolButton::clicked, this, Safe(this, &TBorder::UpClick));
    connect(Down, &QToolButton::clicked, this, Safe(this, &TBorder::DownClick));
    connect(SpeedButton1, &QToolButton::clicked, this, Safe(this, &TBorder::SpeedButton1Click));
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, Safe(this, &TBorder::ComboBox1Change));
}

TBorder::~TBorder() = default;

void TBorder::LoadFrame()
{
    LoadDecoration(DecorationFile("Frames/Frame" + std::to_string(FNumber) + ".gif"), *Image1->Bitmap());
    Image1->Invalidate();
}

void TBorder::FormActivate()
{
    Up->setEnabled(true);
    Down->setEnabled(true);
    FNumber = 1;
    {
        QSignalBlocker block(ComboBox1);
        ComboBox1->setCurrentIndex(0);
    }
    LoadFrame();
    LoadDecoration(DecorationFile("Frames/mask01.gif"), *Mask->Bitmap());
    Mask->Invalidate();
    ForLay->setEnabled(MainForm.SelectedLayer() != nullptr);
    PicOpen.InitialDir = DataDir();
}

void TBorder::UpClick()
{
    Down->setEnabled(true);
    if (FNumber < 8) {
        ++FNumber;
        Image1->Bitmap()->SetSize(0, 0);
        LoadFrame();
    }
    if (FNumber >= 8)
        Up->setEnabled(false);
}

void TBorder::DownClick()
{
    Up->setEnabled(true);
    if (FNumber > 1) {
        --FNumber;
        Image1->Bitmap()->SetSize(0, 0);
        LoadFrame();
    }
    if (FNumber <= 1)
        Down->setEnabled(false);
}

void TBorder::SpeedButton1Click()
{
    TBitmap32* size = MainForm.View()->Bitmap();
    if (ForLay->isEnabled() && ForLay->isChecked())
        if (auto* L = SelectedPictureLayer(MainForm))
            size = L->Bitmap();
    TBitmap32* frame = Image1->Bitmap();
    if (size->IsEmpty() || frame->IsEmpty())
        return;
    ResizeBitmap(*frame, size->Width(), size->Height(), sfLinear);
    frame->Changed();
}

void TBorder::Image1Click()
{
    if (ShowTextures)
        ShowTextures();
}

void TBorder::ComboBox1Change()
{
    const int32_t index = ComboBox1->currentIndex();
    if (index <= 0) {
        Up->setEnabled(true);
        Down->setEnabled(true);
        FNumber = 1;
        LoadFrame();
        return;
    }
    Up->setEnabled(false);
    Down->setEnabled(false);
    Image1->Bitmap()->ClearTo(clBlack32);
    LoadDecoration(DecorationFile(ShapeMasks[std::min(index, 5) - 1]), *Mask->Bitmap());
    Mask->Invalidate();
}

bool TBorder::Execute(TFrameChoice& Choice)
{
    if (ShowModal() != mrOk)
        return false;
    Choice.Frame.Assign(Image1->Bitmap());
    Choice.Mask.Assign(Mask->Bitmap());
    Choice.ForLayer = ForLay->isEnabled() && ForLay->isChecked();
    Choice.FrameKind = ComboBox1->currentIndex();
    Choice.Interpolate = CheckBox2->isChecked();
    return true;
}

// ---- TRaiser --------------------------------------------------------------------------------

TRaiser::TRaiser(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("TRaiser", Owner), MainForm(MainWindow)
{
    SetCaption("Relief Border");
    SetDialogBorder();
    auto* box = new QGroupBox("Properties", this);
    auto* g = new QGridLayout(box);
    UpDown1 = SpinRow(g, 0, "Width", 1, 99, 35);
    UpDown2 = SpinRow(g, 1, "Depth", 1, 7, 1);
    CheckBox1 = new QCheckBox("Use as picture frame", box);
    CheckBox1->setChecked(true);
    g->addWidget(CheckBox1, 2, 0, 1, 2);
    auto* main = new QVBoxLayout(this);
    main->addWidget(box);
    main->addLayout(
        ButtonRow({AddButton("Preview", mrNone, Safe(this, &TRaiser::Draw)),
                   AddButton("OK", mrOk, Safe(this, &TRaiser::ButtonYESClick)), AddButton("Cancel", mrCancel)}));
}

TRaiser::~TRaiser() = default;

void TRaiser::FormActivate()
{
    FKept.reset();
    FTarget = EffectTarget(MainForm);
    if (!FTarget)
        return;
    FKept = std::make_unique<TBitmap32>();
    CopyPixels(*FTarget, *FKept);
}

// The kept copy put back exactly, only onto the target it was taken from.
void TRaiser::RestoreKept()
{
    if (FKept && FTarget && EffectTarget(MainForm) == FTarget)
        CopyPixels(*FKept, *FTarget);
}

void TRaiser::Draw()
{
    if (!FKept || !FTarget || EffectTarget(MainForm) != FTarget)
        return;
    RestoreKept();
    const bool onLayer = MainForm.SelectedLayer() != nullptr;
    TBitmap32 alpha;
    if (onLayer) {
        alpha.SetSize(FTarget->Width(), FTarget->Height());
        GrayFromAlpha(&alpha, FTarget);
    }
    if (ModalResult() == mrOk)
        MainForm.SaveUndoEffect();
    DrawReliefRings(*FTarget, UpDown1->value(), UpDown2->value(),
                    CheckBox1->isChecked() ? TReliefUse::PictureFrame : TReliefUse::Plain);
    if (onLayer) {
        AlphaFromIntensity(FTarget, &alpha);
        FTarget->SetMasterAlpha(MainForm.LayerOpacityPosition());
    }
    FTarget->Changed();
}

void TRaiser::ButtonYESClick()
{
    Draw();
    FKept.reset(); // the drawing stays
}

void TRaiser::FormClose()
{
    if (ModalResult() != mrOk)
        RestoreKept();
    FKept.reset();
    FTarget = nullptr;
}

// ---- TSbor ----------------------------------------------------------------------------------

TSbor::TSbor(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("TSbor", Owner), MainForm(MainWindow)
{
    SetCaption("Add Borders");
    SetDialogBorder();
    ColorDialog1.Color = clWhite;
    auto* box = new QGroupBox("Borders Properties", this);
    auto* g = new QGridLayout(box);
    Wd = SpinRow(g, 0, "Width", 1, 1000, 20);
    Panel3 = new TColorPanel(box, TColor(0xE35400));
    auto* pick3 = new QToolButton(box);
    pick3->setText("...");
    g->addWidget(new QLabel("Color"), 1, 0);
    g->addWidget(Panel3, 1, 1);
    g->addWidget(pick3, 1, 2);
    CheckBox1 = new QCheckBox("Use patterns:", box);
    g->addWidget(CheckBox1, 2, 0, 1, 3);
    ListView1 = new QListWidget(box);
    ListView1->setViewMode(QListView::IconMode);
    ListView1->setIconSize(QSize(16, 16));
    g->addWidget(ListView1, 3, 0, 1, 3);
    auto* inner = new QGroupBox("Inner Border", this);
    auto* ig = new QGridLayout(inner);
    Cont = SpinRow(ig, 0, "Width", 0, 1000, 3);
    Panel1 = new TColorPanel(inner, clWhite);
    auto* pick1 = new QToolButton(inner);
    pick1->setText("...");
    ig->addWidget(new QLabel("Color"), 1, 0);
    ig->addWidget(Panel1, 1, 1);
    ig->addWidget(pick1, 1, 2);
    auto* main = new QVBoxLayout(this);
    main->addWidget(box);
    main->addWidget(inner);
    main->addLayout(ButtonRow({AddButton("Preview", mrNone, Safe(this, &TSbor::Button3Click)),
                               AddButton("OK", mrOk, [this] { SafeCall([this] { Button1Click(); }, this); }),
                               AddButton("Cancel", mrCancel)}));
    connect(Wd, &QSpinBox::valueChanged, this, Safe(this, &TSbor::WdChange));
    connect(Cont, &QSpinBox::valueChanged, this, [this](int Value) { FInnerWanted = Value; });
    connect(pick3, &QToolButton::clicked, this, Safe(this, &TSbor::SpeedButton4Click));
    connect(pick1, &QToolButton::clicked, this, Safe(this, &TSbor::SpeedButton1Click));
    LoadPatternIcons();
    WdChange();
}

TSbor::~TSbor() = default;

std::string TSbor::PatternFile(int32_t N) { return DecorationFile("Patterns/pat" + std::to_string(N) + ".bmp"); }

// A missing pattern file gives an empty icon; start-up goes on.
void TSbor::LoadPatternIcons()
{
    ListView1->clear();
    for (int32_t i = 1; i <= 38; ++i) {
        TBitmap32 tile;
        LoadDecoration(PatternFile(i), tile);
        ListView1->addItem(new QListWidgetItem(IconOf(tile), QString::number(i)));
    }
}

void TSbor::WdChange()
{
    // Typing "20" passes through "2": the limit follows the outer width, but the chosen
    // inner width comes back when the limit rises again.
    QSignalBlocker block(Cont);
    Cont->setMaximum(Wd->value() - 1);
    Cont->setValue(std::min(FInnerWanted, Cont->maximum()));
}

void TSbor::SpeedButton4Click()
{
    ColorDialog1.Color = Panel3->Color();
    if (ColorDialog1.Execute())
        Panel3->SetColor(ColorDialog1.Color);
}

void TSbor::SpeedButton1Click()
{
    ColorDialog1.Color = Panel1->Color();
    if (ColorDialog1.Execute())
        Panel1->SetColor(ColorDialog1.Color);
}

TPatternBorderSettings TSbor::Settings() const
{
    TPatternBorderSettings s;
    s.Width = Wd->value();
    s.Contour = Cont->value();
    s.Color = WinColorToColor32(Panel3->Color());
    s.ContourColor = WinColorToColor32(Panel1->Color());
    if (CheckBox1->isChecked())
        s.PatternFile = PatternFile(std::max(ListView1->currentRow(), 0) + 1);
    return s;
}

void TSbor::FormActivate()
{
    WdChange();
    ListView1->setCurrentRow(0);
    ListView1->setFocus();
    FKept.reset();
    FTarget = EffectTarget(MainForm);
    if (!FTarget)
        return;
    FOnLayer = MainForm.SelectedLayer() != nullptr;
    FKept = std::make_unique<TBitmap32>();
    CopyPixels(*FTarget, *FKept);
    if (FOnLayer) {
        FKeptPlacement = MainForm.SelectedLayer()->Placement();
        FLayerIndex = MainForm.SelectedLayer()->Index();
    }
}

void TSbor::RestoreKept()
{
    if (!FKept || !FTarget || EffectTarget(MainForm) != FTarget)
        return;
    if (!FOnLayer) {
        CopyPixels(*FKept, *FTarget);
        return;
    }
    TPositionedLayer* L = MainForm.SelectedLayer();
    MainForm.RestoreLayerBitmap(FKept.get(), FLayerIndex, FKeptPlacement);
    ReselectLayer(MainForm, L);
}

// PatternBorder: the target grows by the border; a layer's placement grows with it.
bool TSbor::Apply()
{
    const TPatternBorderSettings s = Settings();
    PatternBorderPixels(*FTarget, s, FOnLayer ? TBorderTarget::Layer : TBorderTarget::Background);
    FTarget->Changed();
    if (FOnLayer) {
        TPositionedLayer* L = MainForm.SelectedLayer();
        const TSingleRect P = L->Placement();
        L->SetPlacement(TSingleRect{P.Left, P.Top, P.Right + 2.0f * s.Width, P.Bottom + 2.0f * s.Width});
        ReselectLayer(MainForm, L);
    }
    return true;
}

void TSbor::Button3Click()
{
    if (!FKept || EffectTarget(MainForm) != FTarget)
        return;
    RestoreKept();
    Apply();
}

bool TSbor::Button1Click()
{
    if (!FKept || EffectTarget(MainForm) != FTarget)
        return false;
    RestoreKept();
    const int64_t grow = 2 * int64_t(Wd->value());
    const std::string refused = RefusedSize(FTarget->Width() + grow, FTarget->Height() + grow);
    if (!refused.empty()) {
        ShowMessage(refused);
        return false;
    }
    if (FOnLayer)
        MainForm.SaveUndoGeometry();
    else
        MainForm.SaveUndoEffect();
    Apply();
    FKept.reset(); // the border stays
    return true;
}

void TSbor::FormClose()
{
    if (ModalResult() != mrOk)
        RestoreKept();
    FKept.reset();
    FTarget = nullptr;
}

// ---- TMaski ---------------------------------------------------------------------------------

TMaski::TMaski(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("TMaski", Owner), MainForm(MainWindow)
{
    SetCaption("Mask");
    SetDialogBorder();
    auto* box = new QGroupBox("Mask Settings", this);
    Edit1 = new QLineEdit(box);
    Edit1->setReadOnly(true);
    View = new TTHumbview(box);
    View->setMinimumSize(420, 110);
    View->SetSize(65);
    View->SetThumbGap(4);
    View->SetMaxWidth(200);
    View->SetMaxHeight(200);
    View->SetSorted(true);
    View->SetScrollMode(SMHorizontal);
    View->SetTitlePlacement(T_Down);
    // A double-click on a thumbnail applies its mask, as Preview does.
    View->OnStopScanning = [this](TObject*) { HookThumbnails(); };
    DirectoryEdit1 = new TDirectoryEdit(box);
    DirectoryEdit1->hide();
    auto* dir = new QPushButton("Directory", box);
    auto* g = new QGridLayout(box);
    g->addWidget(Edit1, 0, 0);
    g->addWidget(dir, 0, 1);
    g->addWidget(View, 1, 0, 1, 2);
    auto* main = new QVBoxLayout(this);
    main->addWidget(box);
    main->addLayout(
        ButtonRow({AddButton("Preview", mrNone, Safe(this, &TMaski::Button3Click)),
                   AddButton("OK", mrOk, Safe(this, &TMaski::Button2Click)), AddButton("Cancel", mrCancel)}));
    connect(dir, &QPushButton::clicked, this, Safe(this, &TMaski::Button1Click));
}

TMaski::~TMaski() = default;

std::string TMaski::MasksFolder() { return DecorationFile("Masks"); }

void TMaski::HookThumbnails()
{
    for (int32_t i = 0; i < View->Count(); ++i)
        if (Tthumbnail* t = View->Thumb(i))
            t->OnDblClick = [this](TObject*) { SafeCall([this] { Button3Click(); }, this); };
}

void TMaski::SetFolder(const std::string& Folder)
{
    Edit1->setText(QString::fromStdString(Folder));
    View->SetDirectory(Folder);
    HookThumbnails();
}

void TMaski::FormActivate()
{
    SetFolder(MasksFolder());
    TakePreviewBackup(MainForm);
}

void TMaski::ApplyMask()
{
    TBitmapLayer* L = SelectedPictureLayer(MainForm);
    const std::string file = View->SelectedFile();
    if (!L || file.empty() || L->Bitmap()->IsEmpty())
        return;
    TBitmap32 M;
    if (!LoadDecoration(file, M))
        return;
    M.MakeOpaque();
    M.SetDrawMode(dmOpaque);
    TBitmap32 stretched;
    stretched.SetSize(L->Bitmap()->Width(), L->Bitmap()->Height());
    M.DrawOntoRect(&stretched, TRect{0, 0, stretched.Width(), stretched.Height()});
    // A mask only hides: the alpha is scaled by the mask's intensity (rounded to
    // nearest), so nothing the layer hid becomes visible.
    TBitmap32* B = L->Bitmap();
    const int64_t n = int64_t(B->Width()) * B->Height();
    TColor32* px = B->Bits();
    const TColor32* m = stretched.Bits();
    for (int64_t i = 0; i < n; ++i) {
        const uint32_t a = ((px[i] >> 24) * uint32_t(Color32Intensity(m[i])) + 127) / 255;
        px[i] = (px[i] & 0x00FFFFFFu) | (a << 24);
    }
    B->Changed();
}

// A preview starts again from the pixels from before the dialog: masks scale the alpha,
// so two previews must not multiply.
void TMaski::Button3Click()
{
    RestorePreviewBackup(MainForm);
    ApplyMask();
}

void TMaski::Button2Click()
{
    RestorePreviewBackup(MainForm);
    {
        TPreviewBackupGuard empty(MainForm);
    }
    if (View->SelectedFile().empty() || !SelectedPictureLayer(MainForm))
        return;
    MainForm.SaveUndoEffect();
    ApplyMask();
}

void TMaski::Button1Click()
{
    DirectoryEdit1->SetInitialDir(Edit1->text().toStdString());
    DirectoryEdit1->SetText(Edit1->text().toStdString());
    DirectoryEdit1->DoClick();
    const std::string chosen = DirectoryEdit1->Text();
    if (!chosen.empty() && chosen != Edit1->text().toStdString())
        SetFolder(chosen);
}

void TMaski::FormClose()
{
    TPreviewBackupGuard empty(MainForm);
    if (ModalResult() != mrOk)
        RestorePreviewBackup(MainForm);
}

} // namespace kv
