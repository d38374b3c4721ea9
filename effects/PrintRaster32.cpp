#include "effects/PrintRaster32.h"

#include "effects/MainWindowFace.h"
#include "platform/Printers.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "widgets/KvSpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kv {

namespace {

constexpr double MaxViewScale = 20.0;
constexpr double WheelStep = 1.1;
constexpr int32_t ProgressSteps = 5;

QRadioButton* AddRadio(QGroupBox* Box, QVBoxLayout* Layout, const char* Caption)
{
    auto* r = new QRadioButton(Caption, Box);
    Layout->addWidget(r);
    return r;
}

TKvSpinEdit* NewSizeEdit(QWidget* Owner)
{
    auto* e = new TKvSpinEdit(Owner);
    e->SetValueType(vtFloat);
    e->SetDecimal(2);
    e->SetMaxValue(30000);
    e->SetIncrement(0.1L);
    return e;
}

// While alive, the edit's change handler is detached, so that code writing the other
// field or both fields does not run the handlers that follow the user's typing.
class TDetachedChange {
public:
    explicit TDetachedChange(TKvSpinEdit* Edit) : FEdit(Edit), FSaved(std::move(Edit->OnChange)) {}
    ~TDetachedChange() { FEdit->OnChange = std::move(FSaved); }
    TDetachedChange(const TDetachedChange&) = delete;
    TDetachedChange& operator=(const TDetachedChange&) = delete;

private:
    TKvSpinEdit* FEdit;
    TNotifyEvent FSaved;
};

// The field's number held within its range: typed text is only checked when the edit
// loses the focus, and the layer must never take a size past the maximum.
Extended FieldValue(TKvSpinEdit* Edit) { return Edit->CheckValue(Edit->Value()); }

int32_t ClampToInt32(int64_t Value)
{
    return int32_t(
        std::clamp<int64_t>(Value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

} // namespace

TKVNPrint::TKVNPrint(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("TKVNPrint", Owner), MainForm(MainWindow)
{
    SetCaption("Print");
    SetDialogBorder();

    MyPrinters = new QComboBox(this);
    auto* orientation = new QGroupBox("Page Orientation", this);
    auto* ol = new QVBoxLayout(orientation);
    Book = AddRadio(orientation, ol, "Portrait");
    Album = AddRadio(orientation, ol, "Landscape");
    Book->setChecked(true);

    auto* presets = new QGroupBox("Presets", this);
    auto* pl = new QVBoxLayout(presets);
    Orig = AddRadio(presets, pl, "Actual Size");
    Fill = AddRadio(presets, pl, "Fill th Page");
    Fit = AddRadio(presets, pl, "Fit to Page");
    Custom = AddRadio(presets, pl, "Custom");
    Orig->setChecked(true);

    auto* size = new QGroupBox("Image Size", this);
    auto* sl = new QGridLayout(size);
    Mera = new QComboBox(size);
    Mera->addItems({"Cm", "Inches"});
    propos = new QCheckBox("Keep Proportion", size);
    propos->setChecked(true);
    ImageWidth = NewSizeEdit(size);
    ImageHeight = NewSizeEdit(size);
    sl->addWidget(Mera, 0, 0, 1, 2);
    sl->addWidget(new QLabel("Width", size), 1, 0);
    sl->addWidget(ImageWidth, 1, 1);
    sl->addWidget(new QLabel("Height", size), 2, 0);
    sl->addWidget(ImageHeight, 2, 1);
    sl->addWidget(propos, 3, 0, 1, 2);

    UpDown3 = new QSpinBox(this);
    UpDown3->setRange(1, 2000);
    UpDown3->setValue(1);

    PrintView = new TImgView32(this);
    PrintView->setMinimumSize(360, 420);
    PrintView->SetCentered(true);
    ScaleCombo = new QComboBox(this);
    ScaleCombo->setEditable(true);
    ScaleCombo->addItems({"1%", "2%", "3%", "5%", "7%", "10%", "15%", "25%", "50%", "75%", "100%"});
    ScaleCombo->setEditText("100%");
    Prog = new QProgressBar(this);
    Prog->setRange(0, ProgressSteps);
    Prog->setValue(0);

    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("Printer", this));
    left->addWidget(MyPrinters);
    left->addWidget(orientation);
    left->addWidget(presets);
    left->addWidget(size);
    auto* copies = new QHBoxLayout;
    copies->addWidget(new QLabel("Copies", this));
    copies->addWidget(UpDown3);
    left->addLayout(copies);
    auto* zoom = new QHBoxLayout;
    zoom->addWidget(new QLabel("Zoom", this));
    zoom->addWidget(ScaleCombo);
    left->addLayout(zoom);
    left->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(PrintView, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(AddButton("Options", mrNone, [this] { Button3Click(); }));
    buttons->addWidget(Prog, 1);
    buttons->addWidget(AddButton("Print", mrOk, [this] { Button1Click(); }));
    buttons->addWidget(AddButton("Cancel", mrCancel));
    auto* main = new QVBoxLayout(this);
    main->addLayout(top);
    main->addLayout(buttons);

    ConnectHandlers();
}

void TKVNPrint::ConnectHandlers()
{
    auto safe = [this](void (TKVNPrint::*Handler)()) {
        return [this, Handler] { SafeCall([&] { (this->*Handler)(); }, this); };
    };
    connect(MyPrinters, &QComboBox::activated, this, safe(&TKVNPrint::MyPrintersChange));
    for (QRadioButton* r : {Book, Album})
        connect(r, &QRadioButton::clicked, this, safe(&TKVNPrint::OrientationClick));
    for (QRadioButton* r : {Orig, Fit, Custom})
        connect(r, &QRadioButton::clicked, this, safe(&TKVNPrint::PresetClick));
    connect(Fill, &QRadioButton::clicked, this, safe(&TKVNPrint::FillClick));
    connect(Mera, &QComboBox::activated, this, safe(&TKVNPrint::MeraChange));
    ImageWidth->OnChange = [this](TObject*) { SafeCall([this] { ImageWidthChange(); }, this); };
    ImageHeight->OnChange = [this](TObject*) { SafeCall([this] { ImageHeightChange(); }, this); };
    // Only the user's edits zoom; the code writes the text under a signal blocker.
    connect(ScaleCombo->lineEdit(), &QLineEdit::textEdited, this, safe(&TKVNPrint::ScaleComboChange));
    connect(ScaleCombo, &QComboBox::activated, this, safe(&TKVNPrint::ScaleComboChange));
    PrintView->OnMouseWheel = [this](TObject*, TShiftState, int32_t WheelDelta, TPoint, bool& Handled) {
        Handled = true;
        SafeCall([this, WheelDelta] { PrintViewMouseWheel(WheelDelta); }, this);
    };
}

TKVNPrint::~TKVNPrint()
{
    // The layers go with the view; nothing may point at them afterwards.
    FLayer = nullptr;
    FRubberBand = nullptr;
}

TSizeUnit TKVNPrint::Unit() const { return Mera->currentIndex() == 1 ? suInches : suCm; }

double TKVNPrint::PictureAspect() const
{
    if (!FLayer || FLayer->Bitmap()->IsEmpty())
        return 1.0;
    return double(FLayer->Bitmap()->Width()) / double(FLayer->Bitmap()->Height());
}

void TKVNPrint::SetProgress(int32_t Value)
{
    Prog->setValue(Value);
    Prog->repaint();
}

// ---- Activation and closing -----------------------------------------------------------

void TKVNPrint::FormActivate()
{
    // Activation comes before the showing; on the first one the dialog was never laid
    // out, and the page would be fitted to the view's unlaid size. Size and lay it out as
    // the showing will.
    if (!isVisible()) {
        ensurePolished();
        if (!testAttribute(Qt::WA_Resized)) {
            adjustSize();
            setAttribute(Qt::WA_Resized, false);
        }
        if (layout())
            layout()->activate();
    }
    SetProgress(0);
    TPrinter* printer = Printer();
    {
        QSignalBlocker block(MyPrinters);
        MyPrinters->clear();
        for (const std::string& name : printer->Printers())
            MyPrinters->addItem(QString::fromStdString(name));
        MyPrinters->setCurrentIndex(0);
    }
    // The page shown is the page of the printer shown; what Printer Setup chose for the
    // orientation and copies is kept.
    printer->SetPrinterIndex(0);
    (printer->Orientation() == poLandscape ? Album : Book)->setChecked(true);
    UpDown3->setValue(std::clamp(printer->Copies(), 1, 2000));
    {
        QSignalBlocker block(Mera);
        Mera->setCurrentIndex(0);
    }
    SetPage32();
    SetLayer();
    ShowZoom();
}

void TKVNPrint::FormClose()
{
    ClearLayers();
    // An A4 page is some 130 MB; each activation draws it again anyway.
    PrintView->Bitmap()->SetSize(0, 0);
}

void TKVNPrint::ClearLayers()
{
    if (FLayer) {
        FKeptLocation = FLayer->Placement();
        FHasKeptLocation = true;
    }
    FLayer = nullptr;
    FRubberBand = nullptr;
    PrintView->Layers()->Clear();
}

// ---- Page and layer -------------------------------------------------------------------

void TKVNPrint::SetPage32()
{
    TPrinter* printer = Printer();
    printer->SetOrientation(Book->isChecked() ? poPortrait : poLandscape);
    const int32_t W = printer->PageWidth(), H = printer->PageHeight();
    ClearLayers();
    DrawPageFrame(*PrintView->Bitmap(), W, H);
    const TRect client = PrintView->GetViewportRect();
    PrintView->SetScale(float(PageViewScale(W, H, client.Right - client.Left, client.Bottom - client.Top)));
}

void TKVNPrint::MakePictureLayer(const TSingleRect& Location)
{
    TBitmap32* picture = MainForm.FlatImage();
    if (!picture || picture->IsEmpty())
        return;
    auto* layer = PrintView->Layers()->Add<TBitmapLayer>();
    layer->Bitmap()->Assign(picture);
    layer->Bitmap()->SetDrawMode(dmBlend);
    layer->SetPlacement(Location);
    layer->SetScaleWithView(true);
    layer->OnMouseDown = [this](TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
        LayerMouseDown(Sender, Button, Shift, X, Y);
    };
    FLayer = layer;
    SetSelection(layer);
}

void TKVNPrint::SetLayer()
{
    if (Custom->isChecked()) {
        // The picture stays where the user put it, on the new page too.
        if (!FLayer && FHasKeptLocation)
            MakePictureLayer(FKeptLocation);
        TransMera();
        return;
    }
    TBitmap32* picture = MainForm.FlatImage();
    ClearLayers();
    if (!picture || picture->IsEmpty())
        return;
    const int32_t W = PrintView->Bitmap()->Width(), H = PrintView->Bitmap()->Height();
    const int32_t w = picture->Width(), h = picture->Height();
    TSingleRect location;
    if (Fit->isChecked())
        location = FitPlacement(W, H, w, h);
    else if (Fill->isChecked())
        location = FillPlacement(W, H);
    else {
        const TRect r = PrintView->GetViewportRect();
        const TPoint c = PrintView->ViewToBitmap(TPoint{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2});
        location = ActualSizePlacement(c.X, c.Y, w, h);
    }
    MakePictureLayer(location);
    TransMera();
}

void TKVNPrint::SetSelection(TPositionedLayer* Value)
{
    if (!Value)
        return;
    if (!FRubberBand) {
        FRubberBand = PrintView->Layers()->Add<TRubberbandLayer>();
        FRubberBand->SetHandleSize(1);
        FRubberBand->OnResizing = [this](TObject* Sender, const TSingleRect& Old, TSingleRect& New, TRBDragState State,
                                         TShiftState Shift) { RBResizing(Sender, Old, New, State, Shift); };
    }
    FRubberBand->SetTarget(nullptr);
    FRubberBand->SetTarget(Value);
    FRubberBand->BringToFront();
}

void TKVNPrint::LayerMouseDown(TObject* Sender, TMouseButton, TShiftState, int32_t, int32_t)
{
    if (Sender == FLayer)
        SetSelection(FLayer);
}

void TKVNPrint::RBResizing(TObject*, const TSingleRect& OldLocation, TSingleRect& NewLocation, TRBDragState DragState,
                           TShiftState Shift)
{
    if (DragState == dsMove || DragState == dsNone)
        return;
    NewLocation = ResizedPlacement(OldLocation, NewLocation, DragState, (Shift & ssCtrl) ? rcKeepCentre : rcKeepEdge,
                                   propos->isChecked() ? PictureAspect() : 0.0);
    // The layer takes the new location only after this returns: show that one.
    ShowSize(NewLocation);
    Custom->setChecked(true);
}

// ---- Sizes ----------------------------------------------------------------------------

void TKVNPrint::ShowSize(const TSingleRect& Location)
{
    TDetachedChange keepWidth(ImageWidth), keepHeight(ImageHeight);
    ImageWidth->SetValue(PixelsToUnits(PrintedWidth(Location), Unit()));
    ImageHeight->SetValue(PixelsToUnits(PrintedHeight(Location), Unit()));
}

void TKVNPrint::TransMera()
{
    if (FLayer)
        ShowSize(FLayer->Placement());
}

void TKVNPrint::CorrectSize()
{
    if (!FLayer)
        return;
    TSingleRect r = FLayer->Placement();
    r.Right = float(double(r.Left) + UnitsToPixels(double(FieldValue(ImageWidth)), Unit()));
    r.Bottom = float(double(r.Top) + UnitsToPixels(double(FieldValue(ImageHeight)), Unit()));
    FLayer->SetPlacement(r);
    SetSelection(FLayer);
}

void TKVNPrint::ImageWidthChange()
{
    {
        TDetachedChange keep(ImageHeight);
        if (propos->isChecked())
            ImageHeight->SetValue(FieldValue(ImageWidth) / Extended(PictureAspect()));
    }
    CorrectSize();
}

void TKVNPrint::ImageHeightChange()
{
    {
        TDetachedChange keep(ImageWidth);
        if (propos->isChecked())
            ImageWidth->SetValue(FieldValue(ImageHeight) * Extended(PictureAspect()));
    }
    CorrectSize();
}

void TKVNPrint::MeraChange() { TransMera(); }

// ---- Controls -------------------------------------------------------------------------

void TKVNPrint::MyPrintersChange()
{
    Printer()->SetPrinterIndex(MyPrinters->currentIndex());
    // Another printer may have another page.
    SetPage32();
    SetLayer();
}

void TKVNPrint::OrientationClick()
{
    SetPage32();
    SetLayer();
}

void TKVNPrint::PresetClick() { SetLayer(); }

void TKVNPrint::FillClick()
{
    propos->setChecked(false);
    SetLayer();
}

void TKVNPrint::Button3Click()
{
    if (!PrinterSetupDialog1.Execute())
        return;
    TPrinter* printer = Printer();
    (printer->Orientation() == poLandscape ? Album : Book)->setChecked(true);
    {
        QSignalBlocker block(MyPrinters);
        if (printer->PrinterIndex() < MyPrinters->count())
            MyPrinters->setCurrentIndex(printer->PrinterIndex());
    }
    SetPage32();
    SetLayer();
}

// ---- Zoom -----------------------------------------------------------------------------

void TKVNPrint::ShowZoom()
{
    QSignalBlocker block(ScaleCombo);
    const QString shown = QString::number(SafeRound(double(PrintView->Scale()) * 100)) + "%";
    ScaleCombo->setEditText(shown);
    ScaleCombo->lineEdit()->setCursorPosition(int(shown.size()) - 1);
}

void TKVNPrint::ScaleComboChange()
{
    const int32_t percent = ParseZoomPercent(ScaleCombo->currentText().toStdString());
    if (percent > 0)
        PrintView->SetScale(float(percent) / 100.0f);
    ShowZoom();
}

void TKVNPrint::PrintViewMouseWheel(int32_t WheelDelta)
{
    if (WheelDelta == 0)
        return;
    double s = PrintView->Scale();
    s = WheelDelta > 0 ? std::min(s * WheelStep, MaxViewScale) : s / WheelStep;
    PrintView->SetScale(float(s));
    ShowZoom();
}

// ---- Printing -------------------------------------------------------------------------

void TKVNPrint::PrintPicture(const TSingleRect& Location)
{
    TPrinter* printer = Printer();
    const int64_t w = PrintedWidth(Location), h = PrintedHeight(Location);
    const int64_t x = SafeRound(Location.Left), y = SafeRound(Location.Top);
    const TRect dest{ClampToInt32(x), ClampToInt32(y), ClampToInt32(x + w), ClampToInt32(y + h)};
    const TBitmap32& picture = *FLayer->Bitmap();
    const TPixels32View pixels{picture.Bits(), picture.Width(), picture.Height()};
    // A device that cannot make copies itself gets each copy as a page of its own.
    const int32_t pages = printer->DeviceMakesCopies() ? 1 : printer->Copies();
    printer->BeginDoc();
    try {
        for (int32_t page = 0; page < pages; ++page) {
            if (page > 0)
                printer->NewPage();
            printer->Canvas()->StretchDraw(dest, pixels);
        }
        printer->EndDoc();
    } catch (...) {
        printer->Abort();
        throw;
    }
}

void TKVNPrint::Button1Click()
{
    try {
        if (!FLayer)
            return;
        TPrinter* printer = Printer();
        printer->SetCopies(UpDown3->value());
        printer->SetPrinterIndex(std::max(0, MyPrinters->currentIndex()));
        SetProgress(1);
        SetProgress(2);
        SetProgress(3);
        SetProgress(4);
        PrintPicture(FLayer->Placement());
        // The preview goes only once the page is out, so a failed job can be sent again.
        PrintView->Bitmap()->Clear();
        SetProgress(ProgressSteps);
    } catch (...) {
        // The dialog stays open after a printer error, which the caller reports.
        SetModalResult(mrNone);
        throw;
    }
}

} // namespace kv
