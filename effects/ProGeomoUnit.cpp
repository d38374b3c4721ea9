#include "effects/ProGeomoUnit.h"

#include "effects/GeometryDialogs.h"
#include "effects/MainWindowFace.h"
#include "platform/Forms.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"
#include "raster/Raster32_Transforms.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace kv {

namespace {

constexpr TColor32 CheckerGrey = 0xFF7F7F7Fu;

void FillCheckerboard(TBitmap32& B)
{
    for (int32_t y = 0; y < B.Height(); ++y) {
        TColor32* row = B.RowAddress(y);
        for (int32_t x = 0; x < B.Width(); ++x)
            row[x] = ((x ^ y) & 16) == 0 ? CheckerGrey : clWhite32;
    }
}

// The source for the dialog: the selected picture layer's bitmap, else the background.
TBitmap32* SourceOf(IMainForm& Main, bool& OnLayer)
{
    TBitmapLayer* L = SelectedPictureLayer(Main);
    OnLayer = L != nullptr;
    return L ? L->Bitmap() : Main.View()->Bitmap();
}

} // namespace

TProGeomo::TProGeomo(QWidget* Owner, IMainForm& MainWindow)
    : TDialogForm("TProGeomo", Owner), MainForm(MainWindow), FTimer(std::make_unique<TTimer>())
{
    SetCaption("Geometry");
    SetDialogBorder();
    Src = new TImage32(this);
    Src->hide();
    Src->Bitmap()->SetDrawMode(dmBlend);
    Src->Bitmap()->SetStretchFilter(sfSpline);
    Dst = new TImage32(this);
    Dst->setFixedSize(550, 550);
    Dst->Bitmap()->SetSize(550, 550);
    Dst->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int32_t X, int32_t Y, TCustomLayer*) {
        RubberLayerMouseDown(X, Y);
    };
    Dst->OnMouseMove = [this](TObject*, TShiftState, int32_t X, int32_t Y, TCustomLayer*) {
        RubberLayerMouseMove(X, Y);
    };
    Dst->OnMouseUp = [this](TObject*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer*) {
        RubberLayerMouseUp();
    };
    auto* frame = Dst->Layers()->Add<TCustomLayer>();
    frame->OnPaint = [this](TObject*, TBitmap32* Buffer) { PaintFrame(Buffer); };

    auto* pages = new QTabWidget(this);
    auto* page = new QWidget;
    auto* pg = new QGridLayout(page);
    pg->addWidget(new QLabel("Note:"), 0, 0);
    pg->addWidget(new QLabel("Only convex polygons are transormed normally!"), 1, 0, 1, 3);
    CheckBox1 = new QCheckBox("Bilinear Interpolation", page);
    CheckBox1->setChecked(true);
    pg->addWidget(CheckBox1, 2, 0, 1, 3);
    Panel1 = new TColorPanel(page, clWhite);
    SpeedButton1 = new QToolButton(page);
    SpeedButton1->setText("...");
    pg->addWidget(new QLabel("Background Color"), 3, 0);
    pg->addWidget(Panel1, 3, 1);
    pg->addWidget(SpeedButton1, 3, 2);
    pages->addTab(page, "Projective");

    Button2 = AddButton("OK", mrOk, [this] { SafeCall([this] { Button2Click(); }, this); });
    auto* reset = new QPushButton("Reset", this);
    auto* side = new QVBoxLayout;
    side->addWidget(pages);
    side->addStretch();
    side->addWidget(reset);
    side->addWidget(Button2);
    side->addWidget(AddButton("Cancel", mrCancel));
    auto* main = new QHBoxLayout(this);
    main->addWidget(Dst);
    main->addLayout(side);
    connect(reset, &QPushButton::clicked, this, [this] { SafeCall([this] { Button4Click(); }, this); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SafeCall([this] { SpeedButton1Click(); }, this); });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { SafeCall([this] { Redraw(); }, this); });

    // The dashes march only while the dialog shows.
    FTimer->SetEnabled(false);
    FTimer->SetInterval(40);
    FTimer->OnTimer = [this](TObject*) { DashTick(); };
}

TProGeomo::~TProGeomo() = default;

void TProGeomo::FormActivate()
{
    FDragged = -1;
    FSource = std::make_unique<TBitmap32>();
    TBitmap32* reduced = Src->Bitmap();
    reduced->SetSize(0, 0);
    bool onLayer = false;
    TBitmap32* source = SourceOf(MainForm, onLayer);
    SpeedButton1->setEnabled(!onLayer);
    if (source && !source->IsEmpty()) {
        FSource->Assign(source);
        const double a = double(source->Width()) / source->Height();
        const double cw = Dst->width(), ch = Dst->height();
        int32_t W, H;
        if (a < cw / ch) {
            H = std::max(int32_t(ch) - 50, 1);
            W = std::max(RoundHalfEven(H * a), 1);
        } else {
            W = std::max(int32_t(cw) - 50, 1);
            H = std::max(RoundHalfEven(W / a), 1);
        }
        reduced->SetSize(W, H);
        TBitmap32 s;
        s.Assign(source);
        s.SetDrawMode(dmOpaque);
        s.SetMasterAlpha(255);
        s.SetStretchFilter(sfLinear);
        s.DrawOntoRect(reduced, TRect{0, 0, W, H});
    }
    // An empty source leaves nothing to map: the checkerboard only, and no OK.
    Button2->setEnabled(!reduced->IsEmpty());
    Dst->Bitmap()->SetSize(Dst->width(), Dst->height());
    Button4Click();
    FTimer->SetEnabled(true);
}

void TProGeomo::FormClose()
{
    FTimer->SetEnabled(false);
    FDragged = -1;
    FSource.reset();
    Src->Bitmap()->SetSize(0, 0);
}

void TProGeomo::Button4Click()
{
    const int32_t W = std::max(Src->Bitmap()->Width(), 1), H = std::max(Src->Bitmap()->Height(), 1);
    FCorners = TQuad{{{0, 0}, {W - 1, 0}, {W - 1, H - 1}, {0, H - 1}}};
    Redraw();
}

void TProGeomo::Redraw()
{
    TBitmap32* out = Dst->Bitmap();
    FillCheckerboard(*out);
    TBitmap32* reduced = Src->Bitmap();
    if (!reduced->IsEmpty()) {
        TProjectiveTransformation T;
        T.SetSourceRect(TSingleRect{0, 0, float(reduced->Width() - 1), float(reduced->Height() - 1)});
        T.SetQuadX0(float(FCorners.P[0].X));
        T.SetQuadY0(float(FCorners.P[0].Y));
        T.SetQuadX1(float(FCorners.P[1].X));
        T.SetQuadY1(float(FCorners.P[1].Y));
        T.SetQuadX2(float(FCorners.P[2].X));
        T.SetQuadY2(float(FCorners.P[2].Y));
        T.SetQuadX3(float(FCorners.P[3].X));
        T.SetQuadY3(float(FCorners.P[3].Y));
        reduced->SetStretchFilter(CheckBox1->isChecked() ? sfLinear : sfNearest);
        // A collapsed quad has no map: the checkerboard and the frame only.
        DrawTransformed(out, reduced, &T);
    }
    out->Changed();
    Dst->Invalidate();
}

void TProGeomo::PaintFrame(TBitmap32* Buffer)
{
    Buffer->SetLinePattern({clBlack32, clBlack32, clWhite32, clWhite32});
    Buffer->SetLinePatternStep(0.5f);
    Buffer->SetLinePatternCounter(FPhase);
    const TRect R = Dst->GetBitmapRect();
    auto at = [&](int32_t I) { return TPoint{FCorners.P[I].X + R.Left, FCorners.P[I].Y + R.Top}; };
    for (int32_t i = 0; i < 4; ++i) {
        const TPoint a = at(i), b = at((i + 1) % 4);
        Buffer->DrawPatternLineF(float(a.X), float(a.Y), float(b.X), float(b.Y), false);
    }
    for (int32_t i = 0; i < 4; ++i) {
        const TPoint c = at(i);
        Buffer->FrameRectClipped(c.X - 2, c.Y - 2, c.X + 3, c.Y + 3, clWhite32);
        Buffer->FrameRectClipped(c.X - 3, c.Y - 3, c.X + 4, c.Y + 4, clBlack32);
    }
}

void TProGeomo::DashTick()
{
    FPhase -= 0.05f;
    Dst->Invalidate();
}

void TProGeomo::SpeedButton1Click()
{
    ColorDialog1.Color = Panel1->Color();
    if (ColorDialog1.Execute())
        Panel1->SetColor(ColorDialog1.Color);
}

// Corners stay within the control and one control size around it, so the result's size
// stays bounded.
TPoint TProGeomo::ClampCorner(TPoint P) const
{
    const int32_t cw = Dst->width(), ch = Dst->height();
    return {std::clamp(P.X, -cw, 2 * cw), std::clamp(P.Y, -ch, 2 * ch)};
}

void TProGeomo::RubberLayerMouseDown(int32_t X, int32_t Y)
{
    FDragged = 4;
    for (int32_t i = 0; i < 4; ++i)
        if (std::abs(FCorners.P[i].X - X) < 3 && std::abs(FCorners.P[i].Y - Y) < 3) {
            FDragged = i;
            break;
        }
    FLast = TPoint{X, Y};
}

void TProGeomo::RubberLayerMouseMove(int32_t X, int32_t Y)
{
    if (FDragged < 0)
        return;
    const int32_t dx = X - FLast.X, dy = Y - FLast.Y;
    for (int32_t i = 0; i < 4; ++i)
        if (FDragged == 4 || FDragged == i)
            FCorners.P[i] = ClampCorner(TPoint{FCorners.P[i].X + dx, FCorners.P[i].Y + dy});
    FLast = TPoint{X, Y};
    Redraw();
}

void TProGeomo::RubberLayerMouseUp() { FDragged = -1; }

bool TProGeomo::Button2Click()
{
    if (!FSource || FSource->IsEmpty() || Src->Bitmap()->IsEmpty())
        return false;
    // Corners where activation put them map the picture onto itself: nothing to do, and
    // a picture larger than the result bound keeps its size.
    const int32_t RW = Src->Bitmap()->Width(), RH = Src->Bitmap()->Height();
    const TQuad untouched{{{0, 0}, {RW - 1, 0}, {RW - 1, RH - 1}, {0, RH - 1}}};
    if (std::equal(std::begin(FCorners.P), std::end(FCorners.P), std::begin(untouched.P)))
        return true;
    const double s = double(FSource->Width()) / RW;
    const TPoint size = FourCornerSize(FCorners, s);
    if (size.X > MaxDialogSide || size.Y > MaxDialogSide) {
        ShowMessage("The result would be larger than 10000 pixels a side.");
        return false;
    }
    if (size.X < 1 || size.Y < 1 || !QuadUsable(FCorners, FSource->Width(), FSource->Height())) {
        ShowMessage("The corners do not make a quadrilateral.");
        return false;
    }
    bool onLayer = false;
    TBitmap32* target = SourceOf(MainForm, onLayer);
    TBitmap32 R;
    R.SetSize(size.X, size.Y);
    double fx = 1, fy = 1;
    if (onLayer) {
        MainForm.SaveUndoGeometry();
        Panel1->SetColor(clWhite);
        R.ClearTo(0x00FFFFFFu);
        const TSingleRect P = MainForm.SelectedLayer()->Placement();
        fx = (double(P.Right) - P.Left) / target->Width();
        fy = (double(P.Bottom) - P.Top) / target->Height();
    } else {
        MainForm.SaveUndoCanvas();
        R.ClearTo(WinColorToColor32(Panel1->Color()) | 0xFF000000u);
    }
    DrawFourCorner(*FSource, FCorners, s, CheckBox1->isChecked() ? TResampling::Bilinear : TResampling::Nearest, R);
    ReplacePixels(*target, R);
    target->Changed();
    if (onLayer) {
        TPositionedLayer* L = MainForm.SelectedLayer();
        target->SetDrawMode(dmBlend);
        const TSingleRect P = L->Placement();
        L->SetPlacement(TSingleRect{P.Left, P.Top, float(P.Left + size.X * fx), float(P.Top + size.Y * fy)});
        ReselectLayer(MainForm, L);
    }
    return true;
}

} // namespace kv
