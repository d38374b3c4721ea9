#include "effects/GeometryDialogs.h"

#include "effects/BackgroundGroup.h"
#include "effects/DialogParts.h"
#include "effects/MainWindowFace.h"
#include "fx/Adjustments.h"
#include "fx/GeometryRoutines.h"
#include "platform/Forms.h"
#include "platform/SysUtils.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"
#include "widgets/LbButton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace kv {

namespace {

const char* const AngleRangeMessage = "Значения могут лежать в диапазоне от -180 до 180 градусов.";

int32_t ClampSide(double V) { return std::clamp(RoundHalfEven(std::clamp(V, -1e9, 1e9)), 1, MaxDialogSide); }

// The size the fields ask for; fields that no key changed and that are still as
// activation wrote them keep the picture's own size, which may lie beyond their range.
TPoint ChosenSize(const QSpinBox* WidthBox, const QSpinBox* HeightBox, int32_t ShownW, int32_t ShownH, bool Typed,
                  const TBitmap32& Picture)
{
    if (!Typed && WidthBox->value() == ShownW && HeightBox->value() == ShownH)
        return TPoint{Picture.Width(), Picture.Height()};
    return TPoint{WidthBox->value(), HeightBox->value()};
}

// The side linked by the ratio to a side just set. Until a key changed a field, a side
// back at the value activation showed gets the other side activation showed: the pair
// then stands again for the picture's own size, which the ratio alone would not give
// back once a side was clamped.
int32_t LinkedSide(int32_t Value, int32_t Shown, int32_t ShownOther, bool Typed, double ByRatio)
{
    return !Typed && Value == Shown ? ShownOther : ClampSide(ByRatio);
}

// Notes the key down on a size field, so that its change handler can tell a change the
// keyboard made (typing, the arrow keys) from the program's, and from Return, which
// only commits the text.
class TKeyWatch : public QObject {
public:
    TKeyWatch(QSpinBox* Field, TSizeKey& Key) : QObject(Field), FField(Field), FKey(Key)
    {
        Field->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::KeyPress)
            FKey = TSizeKey{FField, FField->text()};
        else if (Event->type() == QEvent::KeyRelease)
            FKey = TSizeKey{};
        return false;
    }

private:
    QSpinBox* FField;
    TSizeKey& FKey;
};

// Refused sizes are answered before anything (an undo copy included) changes.
bool SizeAccepted(int64_t W, int64_t H)
{
    const std::string refused = RefusedSize(W, H);
    if (refused.empty())
        return true;
    ShowMessage(refused);
    return false;
}

} // namespace

bool TSizeKey::Changed(const QSpinBox* Box) const { return Field == Box && Box->text() != Text; }

TBitmapLayer* SelectedPictureLayer(IMainForm& Main) { return dynamic_cast<TBitmapLayer*>(Main.SelectedLayer()); }

void ReselectLayer(IMainForm& Main, TPositionedLayer* Layer)
{
    Main.SetSelection(nullptr);
    Main.View()->SetMouseCapture(false);
    Main.SetSelection(Layer);
}

// ---- TPovor ---------------------------------------------------------------------------------

TPovor::TPovor(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("TPovor", Owner), MainForm(MainWindow)
{
    SetCaption("Rotate");
    SetDialogBorder();
    auto* box = new QGroupBox("Angle", this);
    Angle = new QSlider(Qt::Horizontal, box);
    Angle->setRange(-180, 180);
    Edit1 = new QLineEdit("0", box);
    auto* bl = new QHBoxLayout(box);
    bl->addWidget(Angle, 1);
    bl->addWidget(Edit1);
    Inter = new QCheckBox("Bilinear interpolation", this);
    Inter->setChecked(true);
    auto* main = new QVBoxLayout(this);
    main->addWidget(box);
    main->addWidget(Inter);
    main->addLayout(
        ButtonRow({AddButton("Preview", mrNone, Safe(this, &TPovor::Button3Click)),
                   AddButton("OK", mrOk, Safe(this, &TPovor::Button4Click)), AddButton("Cancel", mrCancel)}));
    connect(Angle, &QSlider::valueChanged, this, Safe(this, &TPovor::AngleChange));
    connect(Edit1, &QLineEdit::textEdited, this, Safe(this, &TPovor::Edit1Change));
}

TPovor::~TPovor() = default;

void TPovor::AngleChange()
{
    QSignalBlocker block(Edit1);
    Edit1->setText(QString::number(Angle->value()));
}

void TPovor::Edit1Change()
{
    const std::string text = Edit1->text().toStdString();
    // A sign alone is a negative angle still being typed.
    if (text.empty() || text == "-")
        return;
    const int32_t v = StrToInt(text);
    if (v < -180 || v > 180) {
        ShowMessage(AngleRangeMessage);
        return;
    }
    QSignalBlocker block(Angle);
    Angle->setValue(v);
}

std::optional<int32_t> TPovor::EditAngle()
{
    try {
        const int32_t v = StrToInt(Edit1->text().toStdString());
        if (v >= -180 && v <= 180)
            return v;
        ShowMessage(AngleRangeMessage);
    } catch (const EConvertError& E) {
        ShowMessage(E.Message());
    }
    return std::nullopt;
}

void TPovor::FormActivate()
{
    FKept.reset();
    FLayer = SelectedPictureLayer(MainForm);
    if (!FLayer)
        return;
    FKept = std::make_unique<TBitmap32>();
    FKept->Assign(FLayer->Bitmap());
    FKeptPlacement = FLayer->Placement();
}

// The layer as it was at activation, pixels exactly, and its placement.
void TPovor::RestoreKept()
{
    if (!FLayer || !FKept || SelectedPictureLayer(MainForm) != FLayer)
        return;
    TBitmap32 copy;
    copy.Assign(FKept.get());
    ReplacePixels(*FLayer->Bitmap(), copy);
    FLayer->SetPlacement(FKeptPlacement);
}

void TPovor::Button1Click()
{
    if (!FLayer || !FKept || SelectedPictureLayer(MainForm) != FLayer)
        return;
    if (const auto angle = EditAngle())
        Rotate(*angle);
}

void TPovor::Rotate(int32_t AngleDegrees)
{
    RestoreKept();
    if (LayerTools)
        LayerTools->LayerRescaleClick();
    const TSingleRect P = FLayer->Placement();
    const TRotatedSize size = RotateBitmap(*FLayer->Bitmap(), AngleDegrees,
                                           Inter->isChecked() ? TResampling::Bilinear : TResampling::Nearest);
    FLayer->Bitmap()->Changed();
    FLayer->SetPlacement(TSingleRect{P.Left, P.Top, float(P.Left + size.NW), float(P.Top + size.NH)});
    ReselectLayer(MainForm, FLayer);
}

void TPovor::Button3Click() { Button1Click(); }

void TPovor::Button4Click()
{
    if (!FLayer || !FKept || SelectedPictureLayer(MainForm) != FLayer)
        return;
    // The angle is what the edit shows; one it cannot be keeps the dialog open.
    const auto angle = EditAngle();
    if (!angle) {
        SetModalResult(mrNone);
        return;
    }
    RestoreKept();
    // The size the rotation will make, from the size the rescale gives the bitmap.
    const TSingleRect P = FLayer->Placement();
    const int32_t W = std::max(std::abs(RoundHalfEven(P.Right) - RoundHalfEven(P.Left)), 1);
    const int32_t H = std::max(std::abs(RoundHalfEven(P.Bottom) - RoundHalfEven(P.Top)), 1);
    const TRotatedSize size = RotatedSize(W, H, *angle);
    if (!SizeAccepted(RoundHalfEven(size.NW), RoundHalfEven(size.NH)))
        return;
    MainForm.SaveUndoGeometry();
    Rotate(*angle);
    FKept.reset(); // the rotation stays
}

void TPovor::FormClose()
{
    // The copy is gone only when OK's rotation stayed; any other way out gives the layer back.
    if (FKept) {
        RestoreKept();
        if (FLayer && SelectedPictureLayer(MainForm) == FLayer)
            ReselectLayer(MainForm, FLayer);
    }
    FKept.reset();
    FLayer = nullptr;
}

// ---- TRasm ----------------------------------------------------------------------------------

TRasm::TRasm(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("TRasm", Owner), MainForm(MainWindow)
{
    SetCaption("Image Size");
    SetDialogBorder();
    auto* box = new QGroupBox("Size", this);
    QGridLayout* g = AddSizeRows(box, MaxDialogSide, 640, 480, UpDown1, UpDown2);
    UpDown3 = new QSpinBox(box);
    // The largest picture the fields allow, 10000 x 10000, is 390,625 kilobytes: the
    // field shows the true size rather than a clamped one it would feed back.
    UpDown3->setRange(1, 390625);
    g->addWidget(new QLabel("Size", box), 2, 0);
    g->addWidget(UpDown3, 2, 1);
    g->addWidget(new QLabel("KByte", box), 2, 2);
    Prop = new QCheckBox("Keep proportion", box);
    Prop->setChecked(true);
    g->addWidget(Prop, 3, 0, 1, 3);
    Resample = new QComboBox(this);
    Resample->addItems({"Nearest", "Bilinear", "Spline"});
    auto* main = new QVBoxLayout(this);
    main->addWidget(box);
    main->addWidget(new QLabel("Resampling method:", this));
    main->addWidget(Resample);
    main->addLayout(ButtonRow({AddButton("OK", mrOk, [this] { SafeCall([this] { Button1Click(); }, this); }),
                               AddButton("Cancel", mrCancel)}));
    connect(UpDown1, &QSpinBox::valueChanged, this, Safe(this, &TRasm::Edit1Change));
    connect(UpDown2, &QSpinBox::valueChanged, this, Safe(this, &TRasm::Edit2Change));
    connect(UpDown3, &QSpinBox::valueChanged, this, Safe(this, &TRasm::Edit3Change));
    for (QSpinBox* field : {UpDown1, UpDown2, UpDown3})
        new TKeyWatch(field, FKey);
}

TRasm::~TRasm() = default;

void TRasm::WriteSize(int32_t W, int32_t H)
{
    QSignalBlocker a(UpDown1), b(UpDown2), c(UpDown3);
    UpDown1->setValue(W);
    UpDown2->setValue(H);
    UpDown3->setValue(RoundHalfEven(double(UpDown1->value()) * UpDown2->value() * 4 / 1024));
}

void TRasm::FormActivate()
{
    TBitmap32* bg = MainForm.View()->Bitmap();
    const int32_t W = bg ? bg->Width() : 0, H = bg ? bg->Height() : 0;
    FRatio = W > 0 && H > 0 ? double(W) / H : 0;
    {
        QSignalBlocker block(Resample);
        Resample->setCurrentIndex(0);
    }
    WriteSize(W, H);
    FShownW = UpDown1->value();
    FShownH = UpDown2->value();
    FKey = TSizeKey{};
    FTyped = false;
}

void TRasm::Edit1Change()
{
    FTyped = FTyped || FKey.Changed(UpDown1);
    int32_t H = UpDown2->value();
    if (FRatio != 0 && Prop->isChecked())
        H = LinkedSide(UpDown1->value(), FShownW, FShownH, FTyped, UpDown1->value() / FRatio);
    WriteSize(UpDown1->value(), H);
}

void TRasm::Edit2Change()
{
    FTyped = FTyped || FKey.Changed(UpDown2);
    int32_t W = UpDown1->value();
    if (FRatio != 0 && Prop->isChecked())
        W = LinkedSide(UpDown2->value(), FShownH, FShownW, FTyped, UpDown2->value() * FRatio);
    WriteSize(W, UpDown2->value());
}

void TRasm::Edit3Change()
{
    FTyped = FTyped || FKey.Changed(UpDown3);
    TBitmap32* bg = MainForm.View()->Bitmap();
    if (!bg || bg->IsEmpty() || UpDown3->value() < 1)
        return;
    const double W0 = bg->Width(), H0 = bg->Height();
    const double k = std::sqrt((W0 * H0 * 4 / 1024) / UpDown3->value());
    QSignalBlocker a(UpDown1), b(UpDown2);
    UpDown1->setValue(ClampSide(W0 / k));
    UpDown2->setValue(ClampSide(H0 / k));
}

bool TRasm::Button1Click()
{
    TBitmap32* bg = MainForm.View()->Bitmap();
    const TPoint chosen = ChosenSize(UpDown1, UpDown2, FShownW, FShownH, FTyped, *bg);
    const int32_t NW = chosen.X, NH = chosen.Y;
    if (!SizeAccepted(NW, NH))
        return false;
    MainForm.SaveUndoSize();
    const int32_t W = bg->Width(), H = bg->Height();
    if (bg->IsEmpty() || (NW == W && NH == H))
        return true;
    static constexpr TStretchFilter filters[] = {sfNearest, sfLinear2, sfSpline};
    ResizeBitmap(*bg, NW, NH, filters[std::clamp(Resample->currentIndex(), 0, 2)]);
    const double fx = double(W) / NW, fy = double(H) / NH;
    // Every placement is computed from the old ones first: a rubber band moves its target
    // when it moves, so scaling in list order could divide the target twice. The bands
    // go last and so agree with the targets they frame.
    TLayerCollection* layers = MainForm.View()->Layers();
    std::vector<std::pair<TPositionedLayer*, TSingleRect>> moves, bandMoves;
    for (int32_t i = 0; i < layers->Count(); ++i) {
        auto* L = dynamic_cast<TPositionedLayer*>(layers->Items(i));
        if (!L)
            continue;
        const TSingleRect P = L->Placement();
        const TSingleRect N{float(RoundHalfEven(P.Left / fx)), float(RoundHalfEven(P.Top / fy)),
                            float(RoundHalfEven(P.Right / fx)), float(RoundHalfEven(P.Bottom / fy))};
        (dynamic_cast<TRubberbandLayer*>(L) ? bandMoves : moves).emplace_back(L, N);
    }
    for (const auto& [L, N] : moves)
        L->SetPlacement(N);
    for (const auto& [L, N] : bandMoves)
        L->SetPlacement(N);
    bg->Changed();
    return true;
}

// ---- THolst ---------------------------------------------------------------------------------

THolst::THolst(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("THolst", Owner), MainForm(MainWindow)
{
    SetCaption("Canvas Size");
    SetDialogBorder();
    auto* box = new QGroupBox("Size", this);
    QGridLayout* g = AddSizeRows(box, MaxDialogSide, 640, 480, UpDown1, UpDown2);
    LbButton1 = new TLbButton(box);
    LbButton1->SetCaption("Crop Visual");
    LbButton1->OnClick = [this](TObject*) { LbButton1Click(); };
    g->addWidget(LbButton1, 2, 0, 1, 3);
    CheckBox1 = new QCheckBox("Place to Center", this);
    CheckBox1->setChecked(true);
    Panel2 = new TColorPanel(this, clWhite);
    auto* swatch = new QPushButton("Canvas Extension Color", this);
    connect(swatch, &QPushButton::clicked, this, Safe(this, &THolst::Panel2Click));
    Image321 = new TImage32(this);
    Image321->setFixedSize(290, 260);
    Image321->SetBitmapAlign(baCenter);
    Image321->SetScaleMode(smScale);
    Image321->SetCursor(crCross);
    Image321->hide();
    Image321->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int32_t X, int32_t Y, TCustomLayer*) {
        Image321MouseDown(X, Y);
    };
    Image321->OnMouseMove = [this](TObject*, TShiftState, int32_t X, int32_t Y, TCustomLayer*) {
        Image321MouseMove(X, Y);
    };
    Image321->OnMouseUp = [this](TObject*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer*) {
        Image321MouseUp();
    };
    auto* painter = Image321->Layers()->Add<TCustomLayer>();
    painter->OnPaint = [this](TObject*, TBitmap32* Buffer) { PaintRect(Buffer); };
    Button3 = new QPushButton("Apply Selection", this);
    Button3->hide();
    connect(Button3, &QPushButton::clicked, this, Safe(this, &THolst::Button3Click));
    auto* left = new QVBoxLayout;
    left->addWidget(box);
    left->addWidget(CheckBox1);
    left->addWidget(Panel2);
    left->addWidget(swatch);
    left->addLayout(ButtonRow({AddButton("OK", mrOk, [this] { SafeCall([this] { Button1Click(); }, this); }),
                               AddButton("Cancel", mrCancel)}));
    auto* right = new QVBoxLayout;
    right->addWidget(Image321);
    right->addWidget(Button3);
    auto* main = new QHBoxLayout(this);
    main->addLayout(left);
    main->addLayout(right);
    connect(UpDown1, &QSpinBox::valueChanged, this, Safe(this, &THolst::Edit1Change));
    connect(UpDown2, &QSpinBox::valueChanged, this, Safe(this, &THolst::Edit2Change));
    for (QSpinBox* field : {UpDown1, UpDown2})
        new TKeyWatch(field, FKey);
}

THolst::~THolst() = default;

void THolst::WriteSize(int32_t W, int32_t H)
{
    QSignalBlocker a(UpDown1), b(UpDown2);
    UpDown1->setValue(W);
    UpDown2->setValue(H);
}

void THolst::FormActivate()
{
    Image321->Bitmap()->SetSize(0, 0);
    FCropVisual = false;
    FShown = FDragging = false;
    FCrop = TRect{};
    Image321->hide();
    Button3->hide();
    LbButton1->setEnabled(true);
    CheckBox1->setEnabled(true);
    // A window keeps its size when a child hides: without the preview the dialog is
    // laid out again at its own narrow size, or the left column stretches over the
    // width the preview had.
    layout()->activate();
    adjustSize();
    MainForm.RenderFlattened();
    TBitmap32* bg = MainForm.View()->Bitmap();
    FRatio = bg->IsEmpty() ? 0 : double(bg->Width()) / bg->Height();
    WriteSize(std::max(bg->Width(), 1), std::max(bg->Height(), 1));
    FShownW = UpDown1->value();
    FShownH = UpDown2->value();
    FKey = TSizeKey{};
    FTyped = false;
}

void THolst::Edit1Change()
{
    FTyped = FTyped || FKey.Changed(UpDown1);
    if (FRatio != 0)
        WriteSize(UpDown1->value(), LinkedSide(UpDown1->value(), FShownW, FShownH, FTyped, UpDown1->value() / FRatio));
}

void THolst::Edit2Change()
{
    FTyped = FTyped || FKey.Changed(UpDown2);
    if (FRatio != 0)
        WriteSize(LinkedSide(UpDown2->value(), FShownH, FShownW, FTyped, UpDown2->value() * FRatio), UpDown2->value());
}

void THolst::Panel2Click()
{
    ColorDialog1.Color = Panel2->Color();
    if (ColorDialog1.Execute())
        Panel2->SetColor(ColorDialog1.Color);
}

void THolst::LbButton1Click()
{
    TBitmap32* flat = MainForm.FlatImage();
    if (!flat || flat->IsEmpty())
        return;
    FCropVisual = true;
    LbButton1->setEnabled(false);
    CheckBox1->setEnabled(false);
    Image321->show();
    Button3->show();
    Image321->Bitmap()->Assign(flat);
    const double W = flat->Width(), H = flat->Height();
    const double cw = Image321->width(), ch = Image321->height();
    FScaleS = W / H >= cw / ch ? W / cw : H / ch;
    Image321->SetScale(float(1 / FScaleS));
    FX0 = RoundHalfEven((cw - W / FScaleS) / 2);
    FY0 = RoundHalfEven((ch - H / FScaleS) / 2);
}

void THolst::Image321MouseDown(int32_t X, int32_t Y)
{
    FP1 = FP2 = TPoint{X, Y};
    FShown = FDragging = true;
    Image321->Invalidate();
}

void THolst::Image321MouseMove(int32_t X, int32_t Y)
{
    if (!FDragging)
        return;
    FP2 = TPoint{X, Y};
    Image321->Invalidate();
}

void THolst::Image321MouseUp() { FDragging = false; }

void THolst::PaintRect(TBitmap32* Buffer)
{
    if (FShown)
        Buffer->FrameRectClipped(std::min(FP1.X, FP2.X), std::min(FP1.Y, FP2.Y), std::max(FP1.X, FP2.X) + 1,
                                 std::max(FP1.Y, FP2.Y) + 1, clBlack32);
}

void THolst::Button3Click()
{
    if (!FShown)
        return;
    const double mx = std::min(FP1.X, FP2.X), my = std::min(FP1.Y, FP2.Y);
    const double dx = std::abs(FP2.X - FP1.X), dy = std::abs(FP2.Y - FP1.Y);
    const double s = FScaleS;
    FCrop = TRect{RoundHalfEven((mx - FX0) * s), RoundHalfEven((my - FY0) * s), RoundHalfEven((mx - FX0 + dx) * s),
                  RoundHalfEven((my - FY0 + dy) * s)};
    WriteSize(ClampSide(dx * s), ClampSide(dy * s));
}

bool THolst::Button1Click()
{
    TBitmap32* bg = MainForm.View()->Bitmap();
    const bool cropping = FCropVisual && FCrop.Width() != 0 && FCrop.Height() != 0;
    // The drawn rectangle's size is the user's own choice, whatever the activation showed.
    const TPoint chosen = cropping ? TPoint{UpDown1->value(), UpDown2->value()}
                                   : ChosenSize(UpDown1, UpDown2, FShownW, FShownH, FTyped, *bg);
    const int32_t NW = chosen.X, NH = chosen.Y;
    const bool unchanged = NW == bg->Width() && NH == bg->Height();
    const TRect area = cropping && !unchanged ? ClampToBitmap(*bg, FCrop) : TRect{};
    if (cropping && !unchanged && area.Width() <= 0) {
        ShowMessage("The rectangle lies outside the picture.");
        return false;
    }
    if (!SizeAccepted(NW, NH))
        return false;
    MainForm.SaveUndoCanvas();
    if (unchanged)
        return true;
    if (cropping) {
        // The rectangle's pixels in a canvas of the chosen size.
        TBitmap32 part;
        part.Assign(bg);
        CropBitmap(part, area);
        ResizeCanvas(part, NW, NH, TCanvasPlace::TopLeft, WinColorToColor32(Panel2->Color()));
        ReplacePixels(*bg, part);
    } else {
        ResizeCanvas(*bg, NW, NH, CheckBox1->isChecked() ? TCanvasPlace::Centre : TCanvasPlace::TopLeft,
                     WinColorToColor32(Panel2->Color()));
    }
    bg->Changed();
    return true;
}

void THolst::FormClose()
{
    FShown = FDragging = false;
    FP1 = FP2 = TPoint{};
    FCrop = TRect{};
    Image321->Bitmap()->SetSize(0, 0);
    MainForm.ReleaseFlatImage();
}

// ---- TCropLa --------------------------------------------------------------------------------

TCropLa::TCropLa(QWidget* Owner, IMainForm& MainWindow) : TDialogForm("TCropLa", Owner), MainForm(MainWindow)
{
    SetCaption("Crop Layer");
    SetDialogBorder();
    Cropos = new TImgView32(this);
    Cropos->setFixedSize(480, 360);
    Cropos->SetBitmapAlign(baCenter);
    Cropos->SetScaleMode(smScale);
    auto* main = new QVBoxLayout(this);
    main->addWidget(Cropos);
    main->addLayout(ButtonRow({AddButton("OK", mrOk, [this] { SafeCall([this] { Button2Click(); }, this); }),
                               AddButton("Cancel", mrCancel)}));
}

TCropLa::~TCropLa() = default;

void TCropLa::FormActivate()
{
    TBitmapLayer* L = SelectedPictureLayer(MainForm);
    TBitmap32* shown = Cropos->Bitmap();
    shown->SetSize(0, 0);
    if (!L || L->Bitmap()->IsEmpty())
        return;
    shown->Assign(L->Bitmap());
    shown->SetDrawMode(dmOpaque);
    AdjustBrightness(*shown, -130);
    const double W = shown->Width(), H = shown->Height();
    const double cw = Cropos->width(), ch = Cropos->height();
    const double scale = W / H >= cw / ch ? cw / W : ch / H;
    Cropos->SetScale(float(scale / 1.1));
    FCropLayer = Cropos->Layers()->Add<TPositionedLayer>();
    FCropLayer->SetScaleWithView(true);
    FCropLayer->SetLayerOptions(FCropLayer->LayerOptions() | LOB_MOUSE_EVENTS);
    FCropLayer->SetPlacement(TSingleRect{float(W / 2 - 32), float(H / 2 - 32), float(W / 2 + 32), float(H / 2 + 32)});
    FCropLayer->OnPaint = [this](TObject*, TBitmap32* Buffer) { PaintCrop(Buffer); };
    FBand = Cropos->Layers()->Add<TRubberbandLayer>();
    FBand->SetTarget(FCropLayer);
}

// The chosen region bright against the darkened rest: the view's pixels under the
// rectangle, scaled a hair about their centre and brightened.
void TCropLa::PaintCrop(TBitmap32* Buffer)
{
    const TSingleRect V = FCropLayer->GetViewPlacement();
    const TRect dst = ClampToBitmap(
        *Buffer, TRect{RoundHalfEven(V.Left), RoundHalfEven(V.Top), RoundHalfEven(V.Right), RoundHalfEven(V.Bottom)});
    if (dst.Width() <= 0)
        return;
    const double k = std::pow(10.0, 0.0001);
    const double cx = (dst.Left + dst.Right) / 2.0, cy = (dst.Top + dst.Bottom) / 2.0;
    const TRect src = ClampToBitmap(
        *Buffer, TRect{RoundHalfEven(cx - dst.Width() / (2 * k)), RoundHalfEven(cy - dst.Height() / (2 * k)),
                       RoundHalfEven(cx + dst.Width() / (2 * k)), RoundHalfEven(cy + dst.Height() / (2 * k))});
    if (src.Width() <= 0)
        return;
    TBitmap32 part;
    part.Assign(Buffer);
    CropBitmap(part, src);
    AdjustBrightness(part, 190);
    part.MakeOpaque();
    part.SetDrawMode(dmBlend);
    part.DrawOntoRect(Buffer, dst);
}

bool TCropLa::Button2Click()
{
    TBitmapLayer* L = SelectedPictureLayer(MainForm);
    if (!L || !FCropLayer || L->Bitmap()->IsEmpty())
        return false;
    TBitmap32* B = L->Bitmap();
    const TSingleRect C = FCropLayer->Placement();
    const TRect area = ClampToBitmap(
        *B, TRect{RoundHalfEven(C.Left), RoundHalfEven(C.Top), RoundHalfEven(C.Right), RoundHalfEven(C.Bottom)});
    if (area.Width() <= 0) {
        ShowMessage("The crop rectangle lies outside the layer.");
        return false;
    }
    MainForm.SaveUndoGeometry();
    const TSingleRect P = L->Placement();
    const double fx = std::fabs(double(P.Right) - P.Left) / B->Width();
    const double fy = std::fabs(double(P.Bottom) - P.Top) / B->Height();
    MainForm.SetUndoCropOffset(area.Left, area.Top);
    CropBitmap(*B, area);
    B->SetDrawMode(dmBlend);
    B->Changed();
    if (LayerTools)
        LayerTools->LayerResetScaleClick();
    L->SetPlacement(TSingleRect{P.Left, P.Top, float(P.Left + area.Width() * fx), float(P.Top + area.Height() * fy)});
    ReselectLayer(MainForm, L);
    return true;
}

void TCropLa::FormClose()
{
    Cropos->Bitmap()->SetSize(0, 0);
    delete FBand;
    delete FCropLayer;
    FBand = nullptr;
    FCropLayer = nullptr;
}

} // namespace kv
