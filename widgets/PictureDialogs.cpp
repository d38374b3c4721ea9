#include "widgets/PictureDialogs.h"

#include "platform/QtBridge.h"
#include "platform/SysUtils.h"
#include "widgets/KvResources.h"

#include <QApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace kv {

namespace {

const char* const SPictureLabel = "Picture:";
const char* const SPictureDesc = " (%dx%d)";
const char* const SNone = "(None)";
const char* const SPreview = "Preview";

// The picture panel lays its children out itself, so their sizes are right before the
// panel is ever shown: label on top, the bevelled paint panel below, the paint box
// inside its bevel, the preview button at the label's right end.
class TPicturePanel : public QWidget {
public:
    using QWidget::QWidget;
    QLabel* Label = nullptr;
    QToolButton* Button = nullptr;
    QFrame* PaintPanel = nullptr;
    TPreviewPaintBox* PaintBox = nullptr;

    void Arrange()
    {
        constexpr int Border = 6, LabelHeight = 23, Below = 20;
        const int W = width(), H = height();
        Label->setGeometry(Border, Border, std::max(0, W - 2 * Border), LabelHeight);
        const int Top = Border + LabelHeight;
        PaintPanel->setGeometry(Border, Top, std::max(0, W - 2 * Border), std::max(0, H - Top - Border - Below));
        const int Bevel = PaintPanel->frameWidth();
        PaintBox->SetBounds(Bevel, Bevel, std::max(0, PaintPanel->width() - 2 * Bevel),
                            std::max(0, PaintPanel->height() - 2 * Bevel));
        Button->move(W - Button->width() - 2, 1);
    }

protected:
    void resizeEvent(QResizeEvent*) override { Arrange(); }
};

bool CanShowWindows()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    const QString P = QGuiApplication::platformName();
    return P != "offscreen" && P != "minimal";
}

bool AnswererInstalled()
{
    TDialogAnswerer Current = SetDialogAnswerer(nullptr);
    const bool Installed = bool(Current);
    SetDialogAnswerer(std::move(Current));
    return Installed;
}

std::string FormatSize(int32_t W, int32_t H)
{
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, SPictureDesc, int(W), int(H));
    return Buf;
}

QImage GraphicImage(TGraphic* G)
{
    if (!G || G->Empty())
        return QImage();
    if (auto* B = dynamic_cast<TBitmap*>(G))
        return BitmapToQImage(*B);
    TBitmap B;
    B.Assign(G);
    return BitmapToQImage(B);
}

} // namespace

// ---- TPreviewPaintBox -----------------------------------------------------------------

TPreviewPaintBox::TPreviewPaintBox(QWidget* AOwner) : TCustomControl(AOwner) {}

void TPreviewPaintBox::Paint()
{
    if (OnPaint)
        OnPaint(this);
}

void TPreviewPaintBox::mouseDoubleClickEvent(QMouseEvent* Event)
{
    TCustomControl::mouseDoubleClickEvent(Event);
    if (OnDblClick)
        OnDblClick(this);
}

// ---- TPreviewForm ---------------------------------------------------------------------

TPreviewForm::TPreviewForm(QWidget* Parent) : QDialog(Parent, Qt::Tool)
{
    setObjectName("PreviewForm");
    setWindowTitle(SPreview);
    setSizeGripEnabled(true);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    FPanel = new QFrame(this);
    FPanel->setObjectName("Panel");
    FPanel->setFrameStyle(QFrame::Box | QFrame::Plain);
    FPanel->setLineWidth(1);
    FPanel->setAutoFillBackground(true);
    QPalette Pal = FPanel->palette();
    Pal.setColor(QPalette::Window, ToQColor(clWindow));
    FPanel->setPalette(Pal);
    auto* Inner = new QVBoxLayout(FPanel);
    Inner->setContentsMargins(5, 5, 5, 5);
    FImage = new QLabel(FPanel);
    FImage->setObjectName("Image");
    FImage->setScaledContents(true);
    FImage->setMinimumSize(1, 1);
    FImage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    Inner->addWidget(FImage);
    Layout->addWidget(FPanel);
}

int32_t TPreviewForm::ChromeWidth() const { return 2 * FPanel->frameWidth() + 10; }
int32_t TPreviewForm::ChromeHeight() const { return 2 * FPanel->frameWidth() + 10; }

void TPreviewForm::SetClientSize(int32_t Width, int32_t Height) { resize(Width, Height); }

void TPreviewForm::keyPressEvent(QKeyEvent* Event)
{
    if (Event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(Event);
}

// ---- TOpenPictureDialog -----------------------------------------------------------------

TOpenPictureDialog::TOpenPictureDialog() : FPicture(std::make_unique<TPicture>())
{
    Filter = TPicture::GraphicFilter();

    auto Panel = std::make_unique<TPicturePanel>();
    Panel->setObjectName("PicturePanel");
    Panel->setGeometry(204, 5, 169, 200);

    FPictureLabel = new QLabel(Panel.get());
    FPictureLabel->setObjectName("PictureLabel");

    FPaintPanel = new QFrame(Panel.get());
    FPaintPanel->setObjectName("PaintPanel");
    FPaintPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FPaintPanel->setLineWidth(2);

    FPaintBox = new TPreviewPaintBox(FPaintPanel);
    FPaintBox->setObjectName("PaintBox");
    FPaintBox->OnPaint = [this](TObject* Sender) { PaintBoxPaint(Sender); };
    FPaintBox->OnDblClick = [this](TObject* Sender) { PreviewClick(Sender); };

    FPreviewButton = new QToolButton(Panel.get());
    FPreviewButton->setObjectName("PreviewButton");
    FPreviewButton->setGeometry(77, 1, 23, 22);
    FPreviewButton->setEnabled(false);
    FPreviewButton->setToolTip(SPreview);
    FPreviewButton->setAutoRaise(true);
    FPreviewButton->setIcon(QPixmap::fromImage([] {
        QImage Glyph = BitmapToQImage(*LoadBitmapResource("PREVIEWGLYPH"));
        Glyph = Glyph.convertToFormat(QImage::Format_ARGB32);
        const QRgb Key = Glyph.pixel(0, Glyph.height() - 1) & 0xFFFFFF;
        for (int y = 0; y < Glyph.height(); ++y)
            for (int x = 0; x < Glyph.width(); ++x)
                if ((Glyph.pixel(x, y) & 0xFFFFFF) == Key)
                    Glyph.setPixel(x, y, 0);
        return Glyph;
    }()));
    QObject::connect(FPreviewButton, &QToolButton::clicked, [this] { PreviewClick(nullptr); });

    Panel->Label = FPictureLabel;
    Panel->Button = FPreviewButton;
    Panel->PaintPanel = FPaintPanel;
    Panel->PaintBox = FPaintBox;
    Panel->Arrange();
    FPicturePanel = std::move(Panel);
}

TOpenPictureDialog::~TOpenPictureDialog()
{
    FPaintBox->OnPaint = nullptr;
    FPaintBox->OnDblClick = nullptr;
}

bool TOpenPictureDialog::IsPreviewableFile(const std::string& FileName)
{
    // Only regular files: a FIFO or device named "x.bmp" would block the reader.
    std::error_code Error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(FileName), Error))
        return false;
    const std::string Ext = ExtractFileExt(FileName);
    return Ext != ".kvn" && Ext != ".lnk";
}

void TOpenPictureDialog::UpdatePicturePreview()
{
    const std::string FullName = FileName;
    bool Valid = false;
    if (FileExists(FullName) && IsPreviewableFile(FullName)) {
        try {
            FPicture->LoadFromFile(FullName);
            FPictureLabel->setText(QString::fromStdString(FormatSize(FPicture->Width(), FPicture->Height())));
            FPreviewButton->setEnabled(true);
            Valid = true;
        } catch (...) {
            // Whatever cannot be read simply has no preview.
        }
    }
    if (!Valid) {
        FPictureLabel->setText(SPictureLabel);
        FPreviewButton->setEnabled(false);
        FPicture->Assign(nullptr);
    }
    FPaintBox->Invalidate();
    if (OnSelectionChange)
        OnSelectionChange(this);
}

TRect TOpenPictureDialog::PreviewRect(int32_t PW, int32_t PH, int32_t BW, int32_t BH)
{
    if (PW <= BW && PH <= BH)
        return Bounds((BW - PW) / 2, (BH - PH) / 2, PW, PH);
    // The ratio that binds is the smaller one, so the picture always fits the box.
    if (int64_t(PW) * BH >= int64_t(PH) * BW)
        return Rect(0, 0, BW, MulDiv(PH, BW, PW));
    return Rect(0, 0, MulDiv(PW, BH, PH), BH);
}

void TOpenPictureDialog::PaintBoxPaint(TObject*)
{
    TCanvas& C = *FPaintBox->Canvas();
    const TRect Box = FPaintBox->ClientRect();
    C.Brush()->SetStyle(bsSolid);
    C.Brush()->SetColor(FPaintBox->Color());
    C.FillRect(Box);
    const int32_t PW = FPicture->Width(), PH = FPicture->Height();
    if (PW < 1 || PH < 1 || !FPicture->Graphic()) {
        C.Brush()->SetStyle(bsClear);
        const int32_t TW = C.TextWidth(SNone), TH = C.TextHeight(SNone);
        C.TextOut((Box.Width() - TW) / 2, (Box.Height() - TH) / 2, SNone);
        return;
    }
    C.StretchDraw(PreviewRect(PW, PH, Box.Width(), Box.Height()), FPicture->Graphic());
}

TSize TOpenPictureDialog::PreviewClientSize(int32_t PW, int32_t PH, int32_t ChromeW, int32_t ChromeH, int32_t MaxW,
                                            int32_t MaxH)
{
    // The picture is stretched to the window anyway; a window larger than the screen
    // would only push its title bar out of reach.
    TSize S;
    S.cx = int32_t(std::min<int64_t>(int64_t(ChromeW) + PW, std::max(1, MaxW)));
    S.cy = int32_t(std::min<int64_t>(int64_t(ChromeH) + PH, std::max(1, MaxH)));
    return S;
}

void TOpenPictureDialog::PreviewClick(TObject*)
{
    TPreviewForm Form(QApplication::activeWindow());
    Form.Image()->setPixmap(QPixmap::fromImage(GraphicImage(FPicture->Graphic())));
    const int32_t PW = FPicture->Width(), PH = FPicture->Height();
    if (PW > 0) {
        int32_t MaxW = 0x7FFF, MaxH = 0x7FFF;
        if (QScreen* Screen = QGuiApplication::primaryScreen()) {
            const QRect Available = Screen->availableGeometry();
            MaxW = Available.width();
            MaxH = Available.height();
        }
        const TSize S = PreviewClientSize(PW, PH, Form.ChromeWidth(), Form.ChromeHeight(), MaxW, MaxH);
        Form.SetClientSize(S.cx, S.cy);
    }
    ShowModalForm(&Form, "PreviewForm", [&Form] { return TModalResult(Form.exec()); });
}

void TOpenPictureDialog::DoShow(QWidget* Dialog)
{
    if (auto* Panel = dynamic_cast<TPicturePanel*>(FPicturePanel.get()))
        Panel->Arrange();
    (void)Dialog;
    if (OnShow)
        OnShow(this);
}

void TOpenPictureDialog::DoClose()
{
    if (OnClose)
        OnClose(this);
    QToolTip::hideText();
}

QStringList TOpenPictureDialog::ToNameFilters(const std::string& Filter)
{
    const QStringList Parts = QString::fromStdString(Filter).split('|');
    QStringList Out;
    for (qsizetype i = 0; i + 1 < Parts.size(); i += 2) {
        QStringList Patterns;
        for (const QString& P : Parts[i + 1].split(';'))
            if (!P.trimmed().isEmpty())
                Patterns << P.trimmed();
        // "JPEG Image File (*.jpg)" already shows its patterns: Qt reads the patterns
        // from the last parentheses, so those are replaced rather than repeated.
        QString Description = Parts[i].trimmed();
        if (Description.endsWith(')') && Description.lastIndexOf('(') > 0)
            Description = Description.left(Description.lastIndexOf('(')).trimmed();
        Out << Description + " (" + Patterns.join(' ') + ")";
    }
    return Out;
}

bool TOpenPictureDialog::Execute()
{
    if (AnswererInstalled() || !CanShowWindows())
        return TOpenDialog::Execute();
    return RunFileDialog();
}

bool TOpenPictureDialog::RunFileDialog()
{
    const bool Save = Kind() == dkSaveFile;
    QFileDialog Dialog(QApplication::activeWindow(), QString::fromStdString(Title));
    // Qt's own dialog, so the preview panel can sit inside it.
    Dialog.setOption(QFileDialog::DontUseNativeDialog);
    Dialog.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    Dialog.setFileMode(Save          ? QFileDialog::AnyFile
                       : MultiSelect ? QFileDialog::ExistingFiles
                                     : QFileDialog::ExistingFile);
    if (Save && !(Options & ofOverwritePrompt))
        Dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList Filters = ToNameFilters(Filter);
    Dialog.setNameFilters(Filters);
    if (FilterIndex >= 1 && FilterIndex <= Filters.size())
        Dialog.selectNameFilter(Filters[FilterIndex - 1]);
    if (!InitialDir.empty())
        Dialog.setDirectory(QString::fromStdString(InitialDir));
    if (!FileName.empty())
        Dialog.selectFile(QString::fromStdString(FileName));
    if (!DefaultExt.empty())
        Dialog.setDefaultSuffix(QString::fromStdString(DefaultExt));

    if (auto* Grid = qobject_cast<QGridLayout*>(Dialog.layout())) {
        FPicturePanel->setParent(&Dialog);
        FPicturePanel->setMinimumSize(169, 200);
        Grid->addWidget(FPicturePanel.get(), 0, Grid->columnCount(), Grid->rowCount(), 1);
        // Hidden when the last run ended: a widget hidden on purpose stays hidden when
        // its new parent shows, so the panel would be missing from every later run.
        FPicturePanel->show();
    }
    QObject::connect(&Dialog, &QFileDialog::currentChanged, [this](const QString& Path) {
        FileName = Path.toStdString();
        UpdatePicturePreview();
    });
    // Qt selects the preset file without announcing it as a change, so the preview is
    // brought up to date here; otherwise it would show "(None)" (or the last run's
    // picture) until something is clicked. A bare name is taken in the dialog's folder.
    const std::string StartName = FileName;
    if (!FileName.empty()) {
        const QStringList Selected = Dialog.selectedFiles();
        if (!Selected.isEmpty())
            FileName = Selected.front().toStdString();
    }
    UpdatePicturePreview();
    DoShow(&Dialog);
    const bool Accepted = Dialog.exec() == QDialog::Accepted;
    DoClose();
    // The panel outlives the Qt dialog: take it back before the dialog goes.
    FPicturePanel->hide();
    FPicturePanel->setParent(nullptr);
    // Browsing moved FileName along with the selection; a cancelled dialog changes nothing.
    if (!Accepted) {
        FileName = StartName;
        return false;
    }
    Files.clear();
    for (const QString& F : Dialog.selectedFiles())
        Files.push_back(F.toStdString());
    if (Files.empty()) {
        FileName = StartName;
        return false;
    }
    FileName = Files.front();
    FilterIndex = int32_t(Filters.indexOf(Dialog.selectedNameFilter())) + 1;
    if (FilterIndex < 1)
        FilterIndex = 1;
    return true;
}

} // namespace kv
